#include "speech/http_client.h"

#include "support/loopback_server.h"
#include "support/test_certs.h"
#include "support/test_env.h"

#include <gtest/gtest.h>

namespace {

using testenv::LoopbackServer;

TEST(HttpClientForm, EscapesEveryByteButUnreservedAndOrdersByKey) {
    const struct {
        ParamMap map;
        const char* form;
    } cases[] = {
        {{}, ""},
        {{{"a", "1"}, {"B", "2"}}, "B=2&a=1&"},
        {{{"tex", "ab c"}, {"lan", "zh"}}, "lan=zh&tex=ab%20c&"},
        {{{"v", "&=%+/?#"}}, "v=%26%3D%25%2B%2F%3F%23&"},
        {{{"v", "a-b.c_d~e"}}, "v=a-b.c_d~e&"},
        {{{"v", "文"}}, "v=%E6%96%87&"},
        {{{"k y", ""}}, "k%20y=&"},
        {{{"z", std::string("\0\xff", 2)}}, "z=%00%FF&"},
    };
    for (const auto& c : cases) {
        std::string out = "stale";
        HttpClient::BuildForm(c.map, out);
        EXPECT_EQ(out, c.form);
    }
}

TEST(HttpClientForm, QueryIsAppendedWithTheRightSeparator) {
    const struct {
        std::string url;
        ParamMap params;
        const char* result;
    } cases[] = {
        {"http://h/p", {{"x", "1"}}, "http://h/p?x=1&"},
        {"http://h/p?y=2", {{"x", "1"}}, "http://h/p?y=2&x=1&"},
        {"http://h/p", {}, "http://h/p"},
        {"http://h/p?", {{"x", "1"}}, "http://h/p?&x=1&"},
    };
    for (const auto& c : cases) {
        std::string url = c.url;
        HttpClient::AppendQuery(c.params, url);
        EXPECT_EQ(url, c.result);
    }
}

TEST(HttpClientRequest, GetSendsTheOrderedQueryAndHeadersWithoutSpaces) {
    LoopbackServer server;
    server.SetReply("/oauth/2.0/token", {200, "application/json", "{\"access_token\":\"t\"}", {}});
    HttpClient client;
    const ParamMap params{
        {"grant_type", "client_credentials"}, {"client_id", "id 1"}, {"client_secret", "s&t"}};
    const ParamMap headers{{"X-B", "2"}, {"X-A", "b"}};
    std::string response = "kept:";
    EXPECT_EQ(client.Get(server.Url("/oauth/2.0/token"), &params, &headers, &response), 0);
    EXPECT_EQ(response, "kept:{\"access_token\":\"t\"}");
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method, "GET");
    EXPECT_EQ(requests[0].target,
              "/oauth/2.0/token?client_id=id%201&client_secret=s%26t&grant_type=client_credentials&");
    EXPECT_EQ(requests[0].Header("X-A"), "b");
    EXPECT_EQ(requests[0].Header("X-B"), "2");
}

TEST(HttpClientRequest, PostSendsTheFormBodyAsUrlEncoded) {
    LoopbackServer server;
    HttpClient client;
    const ParamMap form{{"tex", "你好 world"}, {"per", "4"}, {"ctp", "1"}};
    std::string response;
    EXPECT_EQ(client.Post(server.Url("/text2audio"), nullptr, form, nullptr, &response), 0);
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method, "POST");
    EXPECT_EQ(requests[0].target, "/text2audio");
    EXPECT_EQ(requests[0].body, "ctp=1&per=4&tex=%E4%BD%A0%E5%A5%BD%20world&");
    EXPECT_EQ(requests[0].Header("Content-Type"), "application/x-www-form-urlencoded");
}

TEST(HttpClientRequest, StatusCodesAreNotExamined) {
    LoopbackServer server;
    server.SetReply("", {500, "text/plain", "internal trouble", {}});
    HttpClient client;
    std::string response;
    EXPECT_EQ(client.Get(server.Url("/x"), nullptr, nullptr, &response), 0);
    EXPECT_EQ(response, "internal trouble");
}

TEST(HttpClientRequest, TransportFailuresReturnLibcurlsCode) {
    HttpClient client;
    std::string response;
    EXPECT_EQ(client.Get("http://127.0.0.1:" + std::to_string(testenv::UnusedLoopbackPort()) + "/", nullptr,
                         nullptr, &response),
              CURLE_COULDNT_CONNECT);

    LoopbackServer slow;
    slow.SetReply("", {200, "text/plain", "late", std::chrono::milliseconds(500)});
    client.SetTimeout(100);
    EXPECT_EQ(client.Get(slow.Url("/"), nullptr, nullptr, &response), CURLE_OPERATION_TIMEDOUT);

    EXPECT_EQ(client.Get("file:///etc/hostname", nullptr, nullptr, &response), CURLE_UNSUPPORTED_PROTOCOL)
        << "only HTTP(S) endpoints";
}

class HttpClientTls : public testenv::TempEnvTest {
protected:
    testenv::TestCertificates certs = testenv::MakeTestCertificates(env.Root());
};

TEST_F(HttpClientTls, AcceptsAServerSignedByTheTrustedCa) {
    LoopbackServer server(certs.serverCert, certs.serverKey);
    server.SetReply("", {200, "text/plain", "secret ok", {}});
    HttpClient client;
    client.SetCaFile(certs.caFile);
    std::string response;
    EXPECT_EQ(client.Get(server.Url("/oauth/2.0/token"), nullptr, nullptr, &response), 0);
    EXPECT_EQ(response, "secret ok");
}

TEST_F(HttpClientTls, RefusesASelfSignedServer) {
    LoopbackServer server(certs.selfSignedCert, certs.selfSignedKey);
    server.SetReply("", {200, "text/plain", "must not arrive", {}});
    HttpClient client;
    client.SetCaFile(certs.caFile);
    std::string response;
    EXPECT_EQ(client.Get(server.Url("/oauth/2.0/token"), nullptr, nullptr, &response),
              CURLE_PEER_FAILED_VERIFICATION);
    EXPECT_TRUE(response.empty());
    EXPECT_TRUE(server.Requests().empty()) << "no request may reach an unverified peer";
}

TEST_F(HttpClientTls, RefusesAServerWhoseNameDoesNotMatch) {
    LoopbackServer server(certs.serverCert, certs.serverKey);
    HttpClient client;
    client.SetCaFile(certs.caFile);
    std::string response;
    // The certificate names 127.0.0.1 and localhost, not 127.0.0.2.
    EXPECT_NE(
        client.Get("https://127.0.0.2:" + std::to_string(server.Port()) + "/", nullptr, nullptr, &response),
        0);
}

}  // namespace
