#include "speech/audio_convert.h"

#include "app/data.h"
#include "core/helpers.h"
#include "core/logger.h"
#include "core/paths.h"
#include "speech/speech_client.h"
#include "support/loopback_server.h"
#include "support/media_info.h"
#include "support/speech_server.h"
#include "support/test_env.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <functional>
#include <thread>

namespace {

using testenv::ReadFile;
using testenv::WriteFile;
using ::testing::HasSubstr;

// A piece of about 1000 bytes that speaks only a few words: the spaces are no break marks.
std::string Piece(const std::string& words) {
    return std::string(1000 - words.size() - 1, ' ') + words + "\n";
}

std::string Text(int pieces, const std::string& marker = "Piece") {
    std::string text;
    for (int i = 1; i <= pieces; ++i)
        text += Piece(marker + " " + std::to_string(i) + ".");
    return text;
}

size_t CountOf(const std::string& haystack, const std::string& needle) {
    size_t n = 0;
    for (size_t p = haystack.find(needle); p != std::string::npos; p = haystack.find(needle, p + 1))
        ++n;
    return n;
}

class ConvertTest : public testenv::TempEnvTest {
protected:
    ConvertTest() {
        PubUtils::GetDataDir();
        Logger::ReopenGlobalForTesting();
        SpeechClient::ClearTokenCacheForTesting();
        CData::Instance().SetMainWindow(window.Handle());
    }
    ~ConvertTest() override {
        CData::Instance().SetMainWindow(platform::WindowHandle::Null);
        SpeechClient::ClearTokenCacheForTesting();
    }

    void UseService(const std::string& tokenUrl, const std::string& synthesisUrl) {
        WriteFile(env.DataDir() + "/config.ini",
                  "[Parlatto]\nTokenUrl=" + tokenUrl + "\nSynthesisUrl=" + synthesisUrl + "\n");
    }
    void UseServer(const testenv::SpeechServer& server) {
        UseService(server.TokenUrl(), server.SynthesisUrl());
    }

    std::string WriteText(const std::string& name, const std::string& content) {
        const std::string path = env.Root() + "/" + name;
        WriteFile(path, content);
        return path;
    }

    // Ticks as the window's timer does (fast) until `done` holds; collects the posts per job.
    bool Pump(CAudioConvert& convert, const std::function<bool()>& done,
              std::chrono::seconds timeout = std::chrono::seconds(90)) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (!done()) {
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            convert.StartNextTask();
            while (auto message = window.Wait(std::chrono::milliseconds(20))) {
                EXPECT_EQ(message->id, WM_CONVERT_STATUS);
                if (const std::string* job = message->PayloadAs<std::string>())
                    ++posts[*job];
            }
        }
        return true;
    }
    bool JobDone(CAudioConvert& convert, const std::string& job) {
        const int count = convert.PieceCount(job);
        return count > 0 && static_cast<int>(convert.GetFinishedPieces(job).size()) == count &&
               posts[job] == count;
    }
    std::string JobFolder(const std::string& job) {
        return PubUtils::GetTempDir() + "/" + PubUtils::Md5Hex(job);
    }
    std::string LogText() { return ReadFile(env.DataDir() + "/Parlatto.log"); }

    platform::MessageQueue window;
    std::map<std::string, int> posts;
};

TEST_F(ConvertTest, ThreePieceTextIsSynthesisedJoinedAndReportedOncePerPiece) {
    testenv::SpeechServer server;
    UseServer(server);
    CAudioConvert convert;
    const std::string job = WriteText("story.txt", Text(3));
    ASSERT_TRUE(convert.StartJob(job));
    EXPECT_EQ(convert.PieceCount(job), 3);
    ASSERT_TRUE(Pump(convert, [&] { return JobDone(convert, job); }));

    const PieceList pieces = convert.GetFinishedPieces(job);
    ASSERT_EQ(pieces.size(), 3u);
    long long sum = 0;
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(pieces[static_cast<size_t>(i)]->index, i);
        EXPECT_EQ(pieces[static_cast<size_t>(i)]->attempts, 2) << "one start and the final record";
        EXPECT_EQ(pieces[static_cast<size_t>(i)]->file,
                  JobFolder(job) + "/" + std::to_string(i + 1) + ".mp3");
        const long long ms = testenv::MediaDurationMs(pieces[static_cast<size_t>(i)]->file);
        EXPECT_GT(ms, 300);
        sum += ms;
    }
    const long long joined = testenv::MediaDurationMs(JobFolder(job) + "/audio.mp3");
    EXPECT_NEAR(joined, sum, 150 + sum / 10);
    EXPECT_EQ(posts[job], 3);
    const auto stats = server.Stats();
    EXPECT_EQ(stats.synthesisRequests, 3);
    EXPECT_EQ(stats.tokenRequests, 1) << "one token for the credential pair";
    EXPECT_EQ(ReadFile(JobFolder(job) + "/input.txt"), Text(3));
}

TEST_F(ConvertTest, PieceFailingNineTimesSucceedsAtTheTenthAttempt) {
    testenv::SpeechServer server({"--fail-text", "Stubborn:9"});
    UseServer(server);
    CAudioConvert convert;
    const std::string job = WriteText("stubborn.txt", Piece("Stubborn piece."));
    ASSERT_TRUE(convert.StartJob(job));
    ASSERT_TRUE(Pump(convert, [&] { return JobDone(convert, job); }));
    const PieceList pieces = convert.GetFinishedPieces(job);
    ASSERT_EQ(pieces.size(), 1u);
    EXPECT_TRUE(pieces[0]->HasAudio());
    EXPECT_EQ(pieces[0]->attempts, 11);
    const std::string log = LogText();
    EXPECT_EQ(CountOf(log, "speech task failed. "), 9u);
    for (int retry = 1; retry <= 9; ++retry)
        EXPECT_THAT(log, HasSubstr(", retry:" + std::to_string(retry) + "\r\n"));
    EXPECT_GT(testenv::MediaDurationMs(JobFolder(job) + "/audio.mp3"), 300);
}

TEST_F(ConvertTest, PieceFailingTenTimesIsLeftOutOfTheJoin) {
    testenv::SpeechServer server({"--fail-text", "Hopeless:10"});
    UseServer(server);
    CAudioConvert convert;
    const std::string job = WriteText("gap.txt", Piece("First.") + Piece("Hopeless.") + Piece("Third."));
    ASSERT_TRUE(convert.StartJob(job));
    ASSERT_TRUE(Pump(convert, [&] { return JobDone(convert, job); }));

    const PieceList pieces = convert.GetFinishedPieces(job);
    ASSERT_EQ(pieces.size(), 3u);
    EXPECT_FALSE(pieces[1]->HasAudio());
    EXPECT_EQ(pieces[1]->attempts, 11);
    EXPECT_EQ(pieces[1]->code, -1);
    EXPECT_THAT(pieces[1]->error, HasSubstr("\"err_no\" : 503"));
    EXPECT_FALSE(testenv::Exists(pieces[1]->file));
    EXPECT_EQ(PubUtils::JoinArguments(pieces)[2], "concat:1.mp3|3.mp3");
    EXPECT_EQ(CountOf(LogText(), "speech task failed. "), 9u) << "no line for the final failure";
    const long long joined = testenv::MediaDurationMs(JobFolder(job) + "/audio.mp3");
    EXPECT_NEAR(joined, testenv::MediaDurationMs(pieces[0]->file) + testenv::MediaDurationMs(pieces[2]->file),
                300);
    EXPECT_EQ(posts[job], 3);
}

TEST_F(ConvertTest, DroppedConnectionsAreRetried) {
    testenv::SpeechServer server({"--drop-text", "Fragile:3"});
    UseServer(server);
    CAudioConvert convert;
    const std::string job = WriteText("fragile.txt", Piece("Fragile piece."));
    ASSERT_TRUE(convert.StartJob(job));
    ASSERT_TRUE(Pump(convert, [&] { return JobDone(convert, job); }));
    const PieceList pieces = convert.GetFinishedPieces(job);
    ASSERT_EQ(pieces.size(), 1u);
    EXPECT_TRUE(pieces[0]->HasAudio());
    EXPECT_EQ(pieces[0]->attempts, 5);
    EXPECT_EQ(server.Stats().dropped, 3);
    EXPECT_THAT(LogText(), HasSubstr("err:{\n\t\"curl_error_code\" : "));
}

TEST_F(ConvertTest, EmptySuccessfulReplyIsAFailedAttempt) {
    testenv::LoopbackServer service;
    service.SetReply("/oauth/2.0/token",
                     {200, "application/json", R"({"access_token":"t","expires_in":9999999})", {}});
    service.SetReply("/text2audio", {200, "audio/mp3", "", {}});
    UseService(service.Url("/oauth/2.0/token"), service.Url("/text2audio"));
    CAudioConvert convert;
    const std::string job = WriteText("silent.txt", "Nothing comes back.");
    ASSERT_TRUE(convert.StartJob(job));
    ASSERT_TRUE(Pump(convert, [&] { return JobDone(convert, job); }));
    const PieceList pieces = convert.GetFinishedPieces(job);
    ASSERT_EQ(pieces.size(), 1u);
    EXPECT_FALSE(pieces[0]->HasAudio());
    EXPECT_EQ(pieces[0]->attempts, 11);
}

TEST_F(ConvertTest, RemovedJobsRunningPiecesAreIgnoredWhenTheyComplete) {
    testenv::SpeechServer server;
    UseServer(server);
    server.Hold();
    CAudioConvert convert;
    const std::string job = WriteText("removed.txt", Text(3));
    ASSERT_TRUE(convert.StartJob(job));
    convert.StartNextTask();
    convert.StartNextTask();
    ASSERT_TRUE(server.WaitForHeld(3));
    EXPECT_EQ(convert.RunningCount(), 3);
    convert.RemoveJob(job);
    EXPECT_TRUE(convert.GetFinishedPieces(job).empty());
    server.Release();
    ASSERT_TRUE(testenv::WaitUntil([&] { return convert.RunningCount() == 0; }, std::chrono::seconds(60)));
    EXPECT_EQ(CountOf(LogText(),
                      "]CAudioConvert::OnAudioCallBack:\t\tapp exit. OnAudioCallBack no  PostMessage\r\n"),
              3u);
    EXPECT_FALSE(window.TryTake().has_value()) << "nothing is posted for a removed job";
}

TEST_F(ConvertTest, WaitingPiecesOfTwoJobsAreOrderedByIndex) {
    testenv::SpeechServer server;
    UseServer(server);
    server.Hold();
    CAudioConvert convert;
    const std::string a = WriteText("a.txt", Text(3, "Alpha"));
    const std::string b = WriteText("b.txt", Text(3, "Bravo"));
    ASSERT_TRUE(convert.StartJob(a));
    ASSERT_TRUE(convert.StartJob(b));
    EXPECT_EQ(convert.RunningCount(), 2) << "each start runs its first piece";
    const auto waiting = convert.WaitingPieces();
    ASSERT_EQ(waiting.size(), 4u);
    EXPECT_EQ(waiting[0].second, 1);
    EXPECT_EQ(waiting[1].second, 1);
    EXPECT_NE(waiting[0].first, waiting[1].first);
    EXPECT_EQ(waiting[2].second, 2);
    EXPECT_EQ(waiting[3].second, 2);
    convert.RemoveJob(a);
    convert.RemoveJob(b);
    server.Release();
    ASSERT_TRUE(testenv::WaitUntil([&] { return convert.RunningCount() == 0; }, std::chrono::seconds(60)));
}

TEST_F(ConvertTest, OneStartPerTickUpToTenRunning) {
    testenv::SpeechServer server;
    UseServer(server);
    server.Hold();
    CAudioConvert convert;
    const std::string job = WriteText("long.txt", Text(25));
    ASSERT_TRUE(convert.StartJob(job));
    EXPECT_EQ(convert.RunningCount(), 1);
    for (int tick = 1; tick <= 9; ++tick) {
        convert.StartNextTask();
        EXPECT_EQ(convert.RunningCount(), 1 + tick);
    }
    for (int tick = 0; tick < 5; ++tick)
        convert.StartNextTask();
    EXPECT_EQ(convert.RunningCount(), 10);
    EXPECT_EQ(convert.WaitingPieces().size(), 15u);
    ASSERT_TRUE(server.WaitForHeld(10));
    convert.RemoveJob(job);
    server.Release();
    ASSERT_TRUE(testenv::WaitUntil([&] { return convert.RunningCount() == 0; }, std::chrono::seconds(60)));
}

TEST_F(ConvertTest, MissingJoinerStillReportsTheLastPiece) {
    testenv::SpeechServer server;
    UseServer(server);
    const char* path = std::getenv("PATH");
    const std::string saved = path ? path : "";
    ::setenv("PATH", env.Root().c_str(), 1);  // no ffmpeg there, nor beside the executable
    CAudioConvert convert;
    const std::string job = WriteText("nojoin.txt", Piece("Alone."));
    ASSERT_TRUE(convert.StartJob(job));
    const bool done = Pump(convert, [&] { return JobDone(convert, job); });
    ::setenv("PATH", saved.c_str(), 1);
    ASSERT_TRUE(done);
    EXPECT_FALSE(testenv::Exists(JobFolder(job) + "/audio.mp3"));
    EXPECT_TRUE(testenv::Exists(JobFolder(job) + "/1.mp3"));
    EXPECT_THAT(LogText(), HasSubstr("PubUtils::JoinPieces:\t\tthe joiner ffmpeg could not be started"));
}

TEST_F(ConvertTest, PieceFilesOfAnEarlierConversionAreNotJoinedAgain) {
    testenv::SpeechServer server;
    UseServer(server);
    const std::string job = WriteText("again.txt", Text(3));
    {
        CAudioConvert convert;
        ASSERT_TRUE(convert.StartJob(job));
        ASSERT_TRUE(Pump(convert, [&] { return JobDone(convert, job); }));
    }
    const long long three = testenv::MediaDurationMs(JobFolder(job) + "/audio.mp3");
    WriteFile(job, Piece("Now only one piece."));
    posts.clear();
    CAudioConvert convert;
    ASSERT_TRUE(convert.StartJob(job));
    ASSERT_TRUE(Pump(convert, [&] { return JobDone(convert, job); }));
    EXPECT_FALSE(testenv::Exists(JobFolder(job) + "/3.mp3"));
    const long long one = testenv::MediaDurationMs(JobFolder(job) + "/audio.mp3");
    EXPECT_NEAR(one, testenv::MediaDurationMs(JobFolder(job) + "/1.mp3"), 150);
    EXPECT_LT(one, three);
}

TEST_F(ConvertTest, TextsThatCannotBeConvertedQueueNothing) {
    const std::string big = WriteText("big.txt", std::string(10485761, 'a'));
    const std::string empty = WriteText("empty.txt", "");
    const std::string unbroken = WriteText("unbroken.txt", std::string(1000, 'x'));
    ::mkdir((env.Root() + "/folder.txt").c_str(), 0700);
    const struct {
        std::string path;
        PubUtils::TextError error;
    } cases[] = {
        {env.Root() + "/missing.txt", PubUtils::TextError::Missing},
        {env.Root() + "/folder.txt", PubUtils::TextError::NotAFile},
        {big, PubUtils::TextError::TooBig},
        {empty, PubUtils::TextError::Empty},
        {unbroken, PubUtils::TextError::NoBreakMark},
    };
    CAudioConvert convert;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        PubUtils::TextError error = PubUtils::TextError::None;
        EXPECT_FALSE(convert.StartJob(c.path, &error));
        EXPECT_EQ(error, c.error);
        EXPECT_EQ(convert.PieceCount(c.path), 0);
    }
    EXPECT_EQ(convert.RunningCount(), 0);
}

TEST_F(ConvertTest, DestroyingTheManagerWhilePiecesRunIsSafe) {
    testenv::SpeechServer server;
    UseServer(server);
    server.Hold();
    {
        CAudioConvert convert;
        ASSERT_TRUE(convert.StartJob(WriteText("bye.txt", Text(4))));
        convert.StartNextTask();
        convert.StartNextTask();
        ASSERT_TRUE(server.WaitForHeld(3));
    }
    server.Release();
    // The late completions find the manager gone; they must end without touching it.
    ASSERT_TRUE(
        testenv::WaitUntil([&] { return server.Stats().audioReplies == 3; }, std::chrono::seconds(60)));
    EXPECT_FALSE(window.Wait(std::chrono::milliseconds(200)).has_value());
}

TEST(ConvertConcurrency, JobsRetriesAndRemovalsUnderLoad) {
    testenv::ScopedEnvironment env;
    PubUtils::GetDataDir();
    Logger::ReopenGlobalForTesting();
    SpeechClient::ClearTokenCacheForTesting();
    testenv::SpeechServer server({"--fail-rate", "0.3", "--seed", "5"});
    WriteFile(env.DataDir() + "/config.ini",
              "[Parlatto]\nTokenUrl=" + server.TokenUrl() + "\nSynthesisUrl=" + server.SynthesisUrl() + "\n");
    platform::MessageQueue window;
    CData::Instance().SetMainWindow(window.Handle());
    CData::Instance().AddKey({{"k1", "s1"}, {"k2", "s2"}, {"k3", "s3"}});
    std::vector<std::string> jobs;
    for (int j = 0; j < 4; ++j) {
        jobs.push_back(env.Root() + "/job" + std::to_string(j) + ".txt");
        WriteFile(jobs.back(), Text(4, "Job" + std::to_string(j)));
    }
    {
        CAudioConvert convert;
        for (const auto& job : jobs)
            ASSERT_TRUE(convert.StartJob(job));
        // A reader on another thread, as the window asks while completions arrive.
        std::atomic<bool> stop{false};
        std::thread reader([&] {
            while (!stop)
                for (const auto& job : jobs)
                    (void)convert.GetFinishedPieces(job).size();
        });
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
        bool removed = false;
        while (std::chrono::steady_clock::now() < deadline) {
            convert.StartNextTask();
            if (!removed && convert.GetFinishedPieces(jobs[0]).size() >= 1) {
                convert.RemoveJob(jobs[0]);
                removed = true;
            }
            window.Wait(std::chrono::milliseconds(10));
            int open = 0;
            for (size_t j = 1; j < jobs.size(); ++j)
                open += static_cast<int>(convert.GetFinishedPieces(jobs[j]).size()) != 4;
            if (open == 0)
                break;
        }
        stop = true;
        reader.join();
        for (size_t j = 1; j < jobs.size(); ++j)
            EXPECT_EQ(convert.GetFinishedPieces(jobs[j]).size(), 4u);
    }
    CData::Instance().SetMainWindow(platform::WindowHandle::Null);
    CData::Instance().AddKey({});
    SpeechClient::ClearTokenCacheForTesting();
}

}  // namespace
