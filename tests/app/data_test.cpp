#include "app/data.h"

#include "core/logger.h"
#include "core/paths.h"
#include "support/test_env.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <map>
#include <thread>
#include <vector>

namespace {

using testenv::ReadFile;
using testenv::WriteFile;
using ::testing::HasSubstr;

const KeyPair A{"a-api", "a-secret"}, B{"b-api", "b-secret"}, C{"c-api", "c-secret"};
const KeyPair D{"d-api", "d-secret"}, E{"e-api", "e-secret"};

std::vector<KeyPair> Take(CData& data, int n) {
    std::vector<KeyPair> got;
    for (int i = 0; i < n; ++i)
        got.push_back(data.GetKey());
    return got;
}

TEST(CDataKeys, RotationStartsAtTheSecondPairAndWraps) {
    const struct {
        const char* name;
        std::vector<KeyPair> pool;
        std::vector<KeyPair> handedOut;
    } cases[] = {
        {"empty pool", {}, {CData::kBuiltInKey, CData::kBuiltInKey, CData::kBuiltInKey}},
        {"one pair", {A}, {A, A, A}},
        {"three pairs", {A, B, C}, {B, C, A, B, C, A, B}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CData data;
        if (!c.pool.empty())
            data.AddKey(c.pool);
        EXPECT_EQ(Take(data, static_cast<int>(c.handedOut.size())), c.handedOut);
    }
}

TEST(CDataKeys, IndexCarriesOverWhenThePoolIsReplaced) {
    CData data;
    data.AddKey({A, B, C});
    EXPECT_EQ(Take(data, 2), (std::vector<KeyPair>{B, C}));  // index now 2
    data.AddKey({D, E});
    EXPECT_EQ(Take(data, 3), (std::vector<KeyPair>{D, E, D}));
}

TEST(CDataKeys, EmptyPoolKeepsTheIndexAndFallsBackToTheBuiltInPair) {
    CData data;
    data.AddKey({A, B, C});
    data.GetKey();  // index 1
    data.AddKey({});
    EXPECT_EQ(data.GetKey(), CData::kBuiltInKey);
    data.AddKey({A, B, C});
    EXPECT_EQ(data.GetKey(), C) << "index 1 was kept while the pool was empty";
}

TEST(CDataKeys, BuiltInPairHasTheDocumentedShape) {
    EXPECT_EQ(CData::kBuiltInKey.apiKey.size(), 24u);
    EXPECT_EQ(CData::kBuiltInKey.secretKey.size(), 32u);
}

TEST(CDataConcurrency, TenThreadsShareTheRotationEvenly) {
    CData data;
    data.AddKey({A, B, C, D, E});
    constexpr int kThreads = 10;
    constexpr int kCalls = 500;
    std::vector<std::map<std::string, int>> counts(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kCalls; ++i)
                ++counts[t][data.GetKey().apiKey];
            if (t == 0)
                data.AddKey({A, B, C, D, E});  // replacing the pool under load
        });
    }
    for (auto& thread : threads)
        thread.join();
    std::map<std::string, int> total;
    for (const auto& perThread : counts)
        for (const auto& [key, n] : perThread)
            total[key] += n;
    ASSERT_EQ(total.size(), 5u) << "only pool pairs, never the built-in one";
    for (const auto& [key, n] : total)
        EXPECT_EQ(n, kThreads * kCalls / 5) << key;
}

class CDataTest : public testenv::TempEnvTest {
protected:
    CDataTest() { PubUtils::GetDataDir(); }
    std::string Config() const { return env.DataDir() + "/config.ini"; }
};

TEST_F(CDataTest, VoiceIsReadOnceAndWrittenOnChange) {
    CData data;
    EXPECT_EQ(data.GetAudioType(), 1);
    data.SetAudioType(3);
    WriteFile(Config(), "[Parlatto]\nAudioType=2\n");
    EXPECT_EQ(data.GetAudioType(), 3) << "cached after the change";

    CData fresh;
    EXPECT_EQ(fresh.GetAudioType(), 2);
    fresh.SetAudioType(4);
    EXPECT_THAT(ReadFile(Config()), HasSubstr("AudioType=4"));
}

TEST_F(CDataTest, StoredZeroVoiceIsReadAtEveryCall) {
    WriteFile(Config(), "[Parlatto]\nAudioType=0\n");
    CData data;
    EXPECT_EQ(data.GetAudioType(), 0);
    WriteFile(Config(), "[Parlatto]\nAudioType=2\n");
    EXPECT_EQ(data.GetAudioType(), 2);
}

TEST_F(CDataTest, EmptyPoolIsLoggedAsAWarning) {
    Logger::ReopenGlobalForTesting();
    CData data;
    data.AddKey({});
    EXPECT_THAT(ReadFile(env.DataDir() + "/Parlatto.log"),
                HasSubstr(" warning>>> [" + std::to_string(::gettid()) +
                          "]CData::AddKey:\t\tget ServerKey size is null\r\n"));
}

TEST_F(CDataTest, PostAppExitLogsMovesTheWorkFolderAndClosesTheMainWindow) {
    Logger::ReopenGlobalForTesting();
    platform::MessageQueue window("Parlatto");
    CData data;
    data.SetMainWindow(window.Handle());
    WriteFile(PubUtils::GetTempDir() + "/文本1.txt", "converting");

    data.PostAppExit();

    EXPECT_THAT(ReadFile(env.DataDir() + "/Parlatto.log"), HasSubstr("]CData::PostAppExit:\t\tapp exit\r\n"));
    EXPECT_FALSE(testenv::Exists(env.DataDir() + "/Temp"));
    EXPECT_EQ(ReadFile(env.TempBase() + "/Parlatto-" + std::to_string(::getuid()) + "/Temp/文本1.txt"),
              "converting");
    auto message = window.TryTake();
    ASSERT_TRUE(message.has_value());
    EXPECT_EQ(message->id, platform::WM_SYSCOMMAND);
    EXPECT_EQ(message->wParam, platform::SC_CLOSE);
    EXPECT_FALSE(window.TryTake().has_value());
}

TEST_F(CDataTest, PostAppExitWithoutAWindowStillClearsTheWorkFolder) {
    CData data;
    PubUtils::GetTempDir();
    data.PostAppExit();
    EXPECT_FALSE(testenv::Exists(env.DataDir() + "/Temp"));
}

}  // namespace
