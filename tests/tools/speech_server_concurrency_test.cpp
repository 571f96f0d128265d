// The speech server under parallel clients: held requests wait together while other requests
// are served, release lets all of them finish, shutdown frees the held ones, and counts and
// tokens stay right when requests overlap.

#include "support/speech_server.h"
#include "support/test_env.h"
#include "tools/speech_test_helpers.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

using testenv::HttpReply;
using testenv::SpeechServer;

class SpeechServerConcurrency : public testenv::TempEnvTest {
protected:
    SpeechServer server;
};

TEST_F(SpeechServerConcurrency, HeldRequestsAllFinishAfterRelease) {
    constexpr int kRequests = 10;
    const std::string token = server.IssueToken();
    server.Hold();
    std::vector<HttpReply> replies(kRequests);
    std::vector<std::thread> clients;
    for (int i = 0; i < kRequests; ++i) {
        clients.emplace_back([&, i] {
            replies[i] = speechtest::Synthesize(server, token, "request " + std::to_string(i), i % 2);
        });
    }
    ASSERT_TRUE(server.WaitForHeld(kRequests));
    // Holding takes synthesis only: grants and control requests still go through.
    EXPECT_FALSE(server.IssueToken().empty());
    testenv::SpeechServerStats stats = server.Stats();
    EXPECT_EQ(stats.held, kRequests);
    EXPECT_EQ(stats.synthesisRequests, kRequests);
    EXPECT_EQ(stats.audioReplies, 0);

    server.Release();
    for (std::thread& client : clients)
        client.join();
    for (int i = 0; i < kRequests; ++i)
        EXPECT_TRUE(speechtest::IsAudio(replies[i])) << i << ": curl " << replies[i].curlCode;
    stats = server.Stats();
    EXPECT_EQ(stats.held, 0);
    EXPECT_EQ(stats.audioReplies, kRequests);
    // Release ended holding, so a later request passes on its own.
    EXPECT_TRUE(speechtest::IsAudio(speechtest::Synthesize(server, token, "after")));
}

TEST_F(SpeechServerConcurrency, ShutdownLetsHeldRequestsGo) {
    const std::string token = server.IssueToken();
    server.Hold();
    HttpReply reply;
    std::thread client([&] { reply = speechtest::Synthesize(server, token, "held at shutdown"); });
    ASSERT_TRUE(server.WaitForHeld(1));
    EXPECT_EQ(server.Stop(), 0);
    client.join();
    // Answered or cut off by the stop, but not left waiting.
    EXPECT_TRUE(reply.curlCode != 0 || speechtest::IsAudio(reply)) << reply.body.substr(0, 200);
}

TEST_F(SpeechServerConcurrency, ParallelGrantsGiveDistinctWorkingTokens) {
    constexpr int kClients = 8;
    constexpr int kEach = 5;
    std::vector<std::vector<std::string>> tokens(kClients);
    std::vector<std::thread> clients;
    for (int i = 0; i < kClients; ++i) {
        clients.emplace_back([&, i] {
            for (int k = 0; k < kEach; ++k)
                tokens[i].push_back(server.IssueToken());
        });
    }
    for (std::thread& client : clients)
        client.join();
    std::set<std::string> distinct;
    for (const auto& list : tokens)
        distinct.insert(list.begin(), list.end());
    EXPECT_EQ(distinct.size(), static_cast<std::size_t>(kClients * kEach));
    EXPECT_EQ(distinct.count(""), 0u);
    EXPECT_EQ(server.Stats().tokenRequests, kClients * kEach);
    EXPECT_TRUE(speechtest::IsAudio(speechtest::Synthesize(server, tokens[3][4], "last")));
}

}  // namespace
