#include "speech/audio_task.h"

#include "app/data.h"
#include "core/logger.h"
#include "core/paths.h"
#include "speech/speech_client.h"
#include "support/loopback_server.h"
#include "support/test_env.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>

namespace {

using testenv::LoopbackServer;
using ::testing::HasSubstr;

const std::string kTokenReply = R"({"access_token":"tok","expires_in":2592000})";

// Collects the outcome that a task hands to its owner, on the task's thread.
struct Owner {
    std::mutex mutex;
    std::condition_variable done;
    int calls = 0;
    int code = 1;
    std::string error, audio;
    std::uint64_t pieceId = 0;

    static int Callback(CAudioTask* task, void* self) {
        auto* owner = static_cast<Owner*>(self);
        {
            std::lock_guard lock(owner->mutex);
            ++owner->calls;
            owner->code = task->code;
            owner->error = task->error;
            owner->audio = task->audio;
            owner->pieceId = task->PieceId();
        }
        delete task;  // as the conversion manager does
        owner->done.notify_all();
        return 0;
    }
    bool WaitFor(int n) {
        std::unique_lock lock(mutex);
        return done.wait_for(lock, std::chrono::seconds(20), [&] { return calls >= n; });
    }
};

class AudioTaskTest : public testenv::TempEnvTest {
protected:
    AudioTaskTest() {
        SpeechClient::ClearTokenCacheForTesting();
        Logger::ReopenGlobalForTesting();
        server.SetReply("/oauth/2.0/token", {200, "application/json", kTokenReply, {}});
        server.SetReply("/text2audio", {200, "audio/mp3", std::string(20000, '\xff'), {}});
        testenv::WriteFile(PubUtils::GetDataDir() + "/config.ini",
                           "[Parlatto]\nTokenUrl=" + server.Url("/oauth/2.0/token") +
                               "\nSynthesisUrl=" + server.Url("/text2audio") + "\n");
    }
    ~AudioTaskTest() override {
        CData::Instance().AddKey({});
        SpeechClient::ClearTokenCacheForTesting();
    }

    void Run(const std::wstring& text, int voice, std::uint64_t id = 7) {
        auto* task = new CAudioTask;
        task->SetCallback(&Owner::Callback, &owner, id);
        ASSERT_TRUE(task->StartTask({text, voice}));
        ASSERT_TRUE(owner.WaitFor(++started));
    }
    std::vector<std::string> Bodies() {
        std::vector<std::string> bodies;
        for (const auto& request : server.Requests())
            if (request.target == "/text2audio")
                bodies.push_back(request.body);
        return bodies;
    }
    std::string LogText() { return testenv::ReadFile(env.DataDir() + "/Parlatto.log"); }

    LoopbackServer server;
    Owner owner;
    int started = 0;
};

TEST_F(AudioTaskTest, VoiceIsMappedToTheServicesNumber) {
    const struct {
        int voice;
        const char* per;
    } cases[] = {{1, "per=0&"}, {2, "per=1&"}, {3, "per=4&"}, {4, "per=3&"}, {0, "per=0&"}, {7, "per=0&"}};
    for (const auto& c : cases) {
        Run(L"voice", c.voice);
        EXPECT_THAT(Bodies().back(), HasSubstr(c.per)) << "AudioType " << c.voice;
    }
}

TEST_F(AudioTaskTest, SuccessKeepsTheAudioAndLogsBothSizes) {
    const std::wstring text(100, L'文');  // 300 bytes of UTF-8
    Run(text, 1, 42);
    EXPECT_EQ(owner.code, 0);
    EXPECT_TRUE(owner.error.empty());
    EXPECT_EQ(owner.audio.size(), 20000u);
    EXPECT_EQ(owner.pieceId, 42u);
    EXPECT_THAT(LogText(), HasSubstr("]CAudioTask::Run:\t\ttext2audio text: 300 to audio: 20000\r\n"));
}

TEST_F(AudioTaskTest, ServiceErrorGivesStyledJsonAndAWarning) {
    server.SetReply("/text2audio", {200, "application/json", R"({"err_no":501,"err_msg":"%s%s%n"})", {}});
    Run(L"text", 1);
    EXPECT_EQ(owner.code, -1);
    EXPECT_TRUE(owner.audio.empty());
    EXPECT_EQ(owner.error.rfind("{\n", 0), 0u) << owner.error;
    EXPECT_THAT(owner.error, HasSubstr("\"curl_error_code\" : 0"));
    EXPECT_THAT(LogText(), HasSubstr(" warning>>> "));
    EXPECT_THAT(LogText(), HasSubstr("CAudioTask::Run:\t\ttext2audio error: {"));
    EXPECT_THAT(LogText(), HasSubstr("%s%s%n")) << "the error text is never used as a format";
}

TEST_F(AudioTaskTest, EmptyTextStartsNothing) {
    auto* task = new CAudioTask;
    task->SetCallback(&Owner::Callback, &owner, 1);
    EXPECT_FALSE(task->StartTask({L"", 1}));
    delete task;
    EXPECT_EQ(owner.calls, 0);
    EXPECT_TRUE(server.Requests().empty());
}

TEST_F(AudioTaskTest, TasksTakeConsecutiveCredentialPairs) {
    CData::Instance().AddKey({{"keyA", "sA"}, {"keyB", "sB"}, {"keyC", "sC"}});
    Run(L"one", 1);
    Run(L"two", 1);
    const auto bodies = Bodies();
    ASSERT_EQ(bodies.size(), 2u);
    auto keyOf = [](const std::string& body) {
        for (int k = 0; k < 3; ++k)
            if (body.find(std::string("cuid=key") + static_cast<char>('A' + k) + "&") != std::string::npos)
                return k;
        return -1;
    };
    const int first = keyOf(bodies[0]);
    ASSERT_GE(first, 0) << bodies[0];
    EXPECT_EQ(keyOf(bodies[1]), (first + 1) % 3) << bodies[1];
}

TEST_F(AudioTaskTest, JoinWaitsForTheThreadAndLogsItsType) {
    struct Quick : SimpleThread {
        void Run() override {}
    } quick;
    ASSERT_TRUE(quick.Start());
    quick.Join(5000);
    EXPECT_THAT(LogText(), HasSubstr("PrintTime::PrintTime:\t\t<< "));
    EXPECT_THAT(LogText(), HasSubstr("Quick >> "));
    EXPECT_THAT(LogText(), ::testing::Not(HasSubstr("wait thread exit time out")));
}

}  // namespace
