#include "speech/speech_client.h"

#include "core/paths.h"
#include "support/loopback_server.h"
#include "support/test_env.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace {

using testenv::CannedReply;
using testenv::LoopbackServer;

const std::string kTokenReply = R"({"access_token":"24.tok","expires_in":2592000,"scope":"audio_tts_post"})";
const std::string kMp3 = std::string("ID3\x04\x00\x00\x00\x00\x00\x00", 10) + "\xff\xfb\x90\x64 frame bytes";

class SpeechClientTest : public testenv::TempEnvTest {
protected:
    SpeechClientTest() {
        SpeechClient::ClearTokenCacheForTesting();
        server.SetReply("/oauth/2.0/token", {200, "application/json", kTokenReply, {}});
        server.SetReply("/text2audio", {200, "audio/mp3", kMp3, {}});
    }
    ~SpeechClientTest() override { SpeechClient::ClearTokenCacheForTesting(); }

    SpeechEndpoints Endpoints() const { return {server.Url("/oauth/2.0/token"), server.Url("/text2audio")}; }
    int Count(const std::string& prefix) {
        int n = 0;
        for (const auto& request : server.Requests())
            n += request.target.rfind(prefix, 0) == 0;
        return n;
    }

    LoopbackServer server;
};

TEST_F(SpeechClientTest, TokenThenSynthesisFormInKeyOrder) {
    SpeechClient client("123", "my key", "my secret", Endpoints());
    std::string audio;
    const Json::Value result =
        client.Text2Audio("你好, world", {{"per", "4"}, {"tex", "x"}, {"tok", "y"}}, audio);
    EXPECT_TRUE(result.isNull());
    EXPECT_EQ(audio, kMp3);
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].target,
              "/oauth/2.0/token?client_id=my%20key&client_secret=my%20secret&grant_type=client_credentials&");
    EXPECT_EQ(requests[1].body,
              "ctp=1&cuid=my%20key&lan=zh&per=4&tex=%E4%BD%A0%E5%A5%BD%2C%20world&tok=24.tok&")
        << "the fixed fields win over options of the same name";
}

TEST_F(SpeechClientTest, TokenIsReusedUntilADayBeforeItExpires) {
    testenv::FakeClock clock;
    const auto start = clock.Now();
    SpeechClient client("1", "k", "s", Endpoints());
    std::string audio;
    client.Text2Audio("a", {}, audio);
    client.Text2Audio("b", {}, audio);
    SpeechClient other("2", "k", "s", Endpoints());
    other.Text2Audio("c", {}, audio);
    EXPECT_EQ(Count("/oauth"), 1) << "shared by the client and by other clients of the same pair";

    SpeechClient otherPair("3", "k2", "s", Endpoints());
    otherPair.Text2Audio("d", {}, audio);
    EXPECT_EQ(Count("/oauth"), 2);

    clock.SetNow(start + std::chrono::seconds(2592000 - 86400 - 1));
    client.Text2Audio("e", {}, audio);
    EXPECT_EQ(Count("/oauth"), 2) << "more than a day left";
    clock.SetNow(start + std::chrono::seconds(2592000 - 86400));
    client.Text2Audio("f", {}, audio);
    EXPECT_EQ(Count("/oauth"), 3) << "renewed a day before expiry";
}

TEST_F(SpeechClientTest, RepliesAreToldApartByWhetherTheyParseAsJson) {
    const struct {
        const char* name;
        std::string body;
        bool error;
        std::string audio;
    } cases[] = {
        {"mp3", kMp3, false, kMp3},
        {"empty body", "", false, ""},
        {"error object", R"({"err_no":502,"err_msg":"token invalid"})", true, ""},
        {"json that is no object", "12345", true, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        server.SetReply("/text2audio", {200, "application/json", c.body, {}});
        SpeechClient client("1", "k", "s", Endpoints());
        std::string audio;
        const Json::Value result = client.Text2Audio("text", {}, audio);
        EXPECT_EQ(!result.isNull(), c.error);
        EXPECT_EQ(audio, c.audio);
        if (c.error) {
            ASSERT_TRUE(result.isObject());
            EXPECT_EQ(result["curl_error_code"].asInt(), 0);
        }
    }
    SpeechClient client("1", "k", "s", Endpoints());
    server.SetReply("/text2audio",
                    {200, "application/json", R"({"err_no":502,"err_msg":"token invalid"})", {}});
    std::string audio;
    const Json::Value error = client.Text2Audio("text", {}, audio);
    EXPECT_EQ(error["err_no"].asInt(), 502);
    EXPECT_EQ(error["err_msg"].asString(), "token invalid");
}

TEST_F(SpeechClientTest, TokenReplyWithoutATokenSendsAnEmptyOne) {
    server.SetReply("/oauth/2.0/token", {401, "application/json", R"({"error":"invalid_client"})", {}});
    SpeechClient client("1", "k", "s", Endpoints());
    std::string audio;
    client.Text2Audio("text", {}, audio);
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_NE(requests[1].body.find("&tok=&"), std::string::npos) << requests[1].body;
}

TEST_F(SpeechClientTest, WithoutNetworkBothRequestsFailWithTheConnectCode) {
    const std::string dead = "http://127.0.0.1:" + std::to_string(testenv::UnusedLoopbackPort());
    SpeechClient client("1", "k", "s", {dead + "/oauth/2.0/token", dead + "/text2audio"});
    EXPECT_EQ(client.GetAccessToken(), "{\n\t\"curl_error_code\" : 7\n}\n");
    std::string audio;
    const Json::Value result = client.Text2Audio("text", {}, audio);
    EXPECT_EQ(result.toStyledString(), "{\n\t\"curl_error_code\" : 7\n}\n");
    EXPECT_TRUE(audio.empty());
}

TEST_F(SpeechClientTest, EndpointsComeFromTheSettings) {
    EXPECT_EQ(SpeechEndpoints::FromSettings().tokenUrl, SpeechClient::kDefaultTokenUrl);
    EXPECT_EQ(SpeechEndpoints::FromSettings().synthesisUrl, SpeechClient::kDefaultSynthesisUrl);
    testenv::WriteFile(PubUtils::GetDataDir() + "/config.ini",
                       "[Parlatto]\nTokenUrl=" + server.Url("/oauth/2.0/token") +
                           "\nSynthesisUrl=" + server.Url("/text2audio") + "\n");
    SpeechClient client("1", "k", "s");
    std::string audio;
    EXPECT_TRUE(client.Text2Audio("text", {}, audio).isNull());
    EXPECT_EQ(audio, kMp3);
}

TEST(SpeechClientConcurrency, ClientsOfOnePairShareOneTokenRequest) {
    testenv::ScopedEnvironment env;
    SpeechClient::ClearTokenCacheForTesting();
    LoopbackServer server;
    server.SetReply("/oauth/2.0/token",
                    {200, "application/json", kTokenReply, std::chrono::milliseconds(100)});
    server.SetReply("/text2audio", {200, "audio/mp3", kMp3, {}});
    std::vector<std::thread> threads;
    std::vector<std::string> tokens(10);
    for (int i = 0; i < 10; ++i) {
        threads.emplace_back([&, i] {
            SpeechClient client(std::to_string(i), "k", "s",
                                {server.Url("/oauth/2.0/token"), server.Url("/text2audio")});
            tokens[static_cast<size_t>(i)] = client.GetAccessToken();
        });
    }
    for (auto& thread : threads)
        thread.join();
    int tokenRequests = 0;
    for (const auto& request : server.Requests())
        tokenRequests += request.target.rfind("/oauth", 0) == 0;
    EXPECT_EQ(tokenRequests, 1);
    for (const auto& token : tokens)
        EXPECT_EQ(token, "24.tok");
    SpeechClient::ClearTokenCacheForTesting();
}

}  // namespace
