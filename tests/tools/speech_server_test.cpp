// The speech server's protocol as a client meets it: command line and signals, token grants,
// the error answers of synthesis, and the deterministic fault controls.

#include "support/speech_server.h"
#include "support/test_env.h"
#include "tools/speech_test_helpers.h"

#include <gtest/gtest.h>

#include <curl/curl.h>
#include <signal.h>

#include <optional>
#include <ostream>
#include <set>
#include <string>
#include <vector>

namespace {

using speechtest::Fields;
using testenv::HttpReply;
using testenv::SpeechServer;

class SpeechServerOptions : public testenv::TempEnvTest {};

TEST_F(SpeechServerOptions, RefusesBadCommandLinesWithUsage) {
    const std::vector<std::vector<std::string>> cases = {
        {"--port"},
        {"--port", "abc"},
        {"--port", "70000"},
        {"--fail-rate", "1.5"},
        {"--drop-rate=-0.1"},
        {"--delay-ms", "soon"},
        {"--seed", "-1"},
        {"--fail-text", "no-count"},
        {"--drop-text=x:-1"},
        {"--fail-text", "x:2y"},
        {"--help=yes"},
        {"--frobnicate"},
        {"stray"},
    };
    for (const auto& args : cases) {
        std::vector<std::string> command = {PARLATTO_SPEECH_SERVER};
        command.insert(command.end(), args.begin(), args.end());
        const speechtest::ProgramRun run = speechtest::RunProgram(command, env.TempBase());
        SCOPED_TRACE(args.front() + (args.size() > 1 ? " " + args[1] : ""));
        EXPECT_EQ(run.exitCode, 2);
        EXPECT_NE(run.err.find("Usage:"), std::string::npos);
        EXPECT_EQ(run.out, "");
    }
}

TEST_F(SpeechServerOptions, HelpPrintsUsageAndExits) {
    const speechtest::ProgramRun run =
        speechtest::RunProgram({PARLATTO_SPEECH_SERVER, "--help"}, env.TempBase());
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_NE(run.out.find("--drop-text"), std::string::npos);
}

TEST_F(SpeechServerOptions, ListensOnTheGivenPort) {
    int port = 0;
    {
        SpeechServer probe;
        port = probe.Port();
    }
    SpeechServer server({"--port", std::to_string(port)});
    EXPECT_EQ(server.Port(), port);
    EXPECT_FALSE(server.IssueToken().empty());
}

class SpeechServerSignals : public testenv::TempEnvTest, public ::testing::WithParamInterface<int> {};

TEST_P(SpeechServerSignals, StopCleanly) {
    SpeechServer server;
    ASSERT_FALSE(server.IssueToken().empty());
    EXPECT_EQ(server.Stop(GetParam()), 0);
}

INSTANTIATE_TEST_SUITE_P(Stop, SpeechServerSignals, ::testing::Values(SIGTERM, SIGINT),
                         [](const auto& info) { return info.param == SIGTERM ? "Term" : "Interrupt"; });

class SpeechServerToken : public testenv::TempEnvTest {
protected:
    SpeechServer server;
};

TEST_F(SpeechServerToken, GrantsNewTokensThatSynthesisAccepts) {
    const HttpReply reply =
        testenv::HttpGet(server.TokenUrl() + "?client_id=a&client_secret=b&grant_type=client_credentials&");
    ASSERT_EQ(reply.curlCode, 0);
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(reply.contentType, "application/json");
    EXPECT_EQ(testenv::JsonNumber(reply.body, "expires_in"), 2592000);
    EXPECT_NE(testenv::JsonString(reply.body, "scope").find("audio_tts_post"), std::string::npos);
    const std::string first = testenv::JsonString(reply.body, "access_token");
    const std::string second = server.IssueToken();
    ASSERT_FALSE(first.empty());
    EXPECT_NE(first, second);
    for (const std::string& token : {first, second})
        EXPECT_TRUE(speechtest::IsAudio(speechtest::Synthesize(server, token, "token")));
    EXPECT_EQ(server.Stats().tokenRequests, 2);
}

TEST_F(SpeechServerToken, RefusesBadGrants) {
    struct Case {
        const char* query;
        long status;
        const char* error;
        const char* description;  // nullptr: not checked
    };
    const Case cases[] = {
        {"client_id=a&client_secret=b&grant_type=password&", 400, "unsupported_grant_type", nullptr},
        {"client_id=a&client_secret=b&", 400, "unsupported_grant_type", nullptr},
        {"client_secret=b&grant_type=client_credentials&", 401, "invalid_client", "unknown client id"},
        {"client_id=&client_secret=b&grant_type=client_credentials&", 401, "invalid_client",
         "unknown client id"},
        {"client_id=a&grant_type=client_credentials&", 401, "invalid_client", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.query);
        const HttpReply reply = testenv::HttpGet(server.TokenUrl() + "?" + c.query);
        ASSERT_EQ(reply.curlCode, 0);
        EXPECT_EQ(reply.status, c.status);
        EXPECT_EQ(testenv::JsonString(reply.body, "error"), c.error);
        EXPECT_FALSE(testenv::JsonString(reply.body, "error_description").empty());
        if (c.description) {
            EXPECT_EQ(testenv::JsonString(reply.body, "error_description"), c.description);
        }
        EXPECT_EQ(testenv::JsonString(reply.body, "access_token"), "");
    }
}

// One change to a valid synthesis form and the err_no it must bring (0: audio).
struct FormCase {
    const char* name;
    const char* key;
    std::optional<std::string> value;  // nullopt: the field is left out
    long errNo;
};

void PrintTo(const FormCase& c, std::ostream* out) {
    *out << c.name;
}

std::string Chinese(int characters) {
    // Two GBK bytes and three UTF-8 bytes per character.
    return speechtest::Repeat("语", characters);
}

class SpeechServerErrors : public testenv::TempEnvTest, public ::testing::WithParamInterface<FormCase> {
protected:
    SpeechServer server;
};

TEST_P(SpeechServerErrors, AnswersAsTheCloudService) {
    const FormCase& c = GetParam();
    Fields fields = speechtest::SynthesisFields(server.IssueToken(), "Hello there.");
    if (c.value)
        fields[c.key] = *c.value;
    else
        fields.erase(c.key);
    const HttpReply reply = testenv::HttpPost(server.SynthesisUrl(), speechtest::Form(fields));
    ASSERT_EQ(reply.curlCode, 0);
    EXPECT_EQ(reply.status, 200);
    if (c.errNo == 0) {
        EXPECT_TRUE(speechtest::IsAudio(reply)) << reply.contentType << " " << reply.body.substr(0, 200);
        return;
    }
    EXPECT_EQ(reply.contentType, "application/json");
    EXPECT_EQ(testenv::JsonNumber(reply.body, "err_no"), c.errNo) << reply.body;
    EXPECT_FALSE(testenv::JsonString(reply.body, "err_msg").empty());
    EXPECT_FALSE(testenv::JsonString(reply.body, "sn").empty());
    const testenv::SpeechServerStats stats = server.Stats();
    EXPECT_EQ(stats.errorReplies, 1);
    EXPECT_EQ(stats.audioReplies, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Synthesis, SpeechServerErrors,
    ::testing::Values(FormCase{"TokenNotIssuedHere", "tok", "24.0123abcd.2592000.1.282335-1", 502},
                      FormCase{"NoToken", "tok", std::nullopt, 502},
                      FormCase{"NoText", "tex", std::nullopt, 501}, FormCase{"EmptyText", "tex", "", 501},
                      FormCase{"ChineseOf1200GbkBytes", "tex", Chinese(600), 501},
                      FormCase{"ChineseOf1024GbkBytes", "tex", Chinese(512), 501},
                      FormCase{"ChineseOf1023GbkBytes", "tex", Chinese(511) + ".", 0},
                      // More UTF-8 than GBK bytes allow, yet within the limit once in GBK.
                      FormCase{"ChineseOf1035Utf8Bytes", "tex", Chinese(345), 0},
                      // A form larger than httplib's own limit for form bodies.
                      FormCase{"ChineseOfNineKilobytesEscaped", "tex", Chinese(1000), 501},
                      FormCase{"AsciiOf500Bytes", "tex", speechtest::Repeat("word ", 100), 0},
                      FormCase{"AsciiOf1024Bytes", "tex", speechtest::Repeat("a", 1024), 501},
                      FormCase{"Person2", "per", "2", 501}, FormCase{"Person5", "per", "5", 501},
                      FormCase{"PersonNotANumber", "per", "male", 501},
                      FormCase{"NoLanguage", "lan", std::nullopt, 501},
                      FormCase{"NoClientType", "ctp", std::nullopt, 501},
                      FormCase{"NoDeviceId", "cuid", std::nullopt, 501}),
    [](const auto& info) { return std::string(info.param.name); });

// How a fault shows to the client; Drop: the connection ends without an answer.
enum class Fault { Fail, Drop };
enum class Source { CommandLine, Control };

void PrintTo(Fault fault, std::ostream* out) {
    *out << (fault == Fault::Fail ? "fail" : "drop");
}

void PrintTo(Source source, std::ostream* out) {
    *out << (source == Source::Control ? "control" : "option");
}

bool ShowsFault(const HttpReply& reply, Fault fault) {
    if (fault == Fault::Drop)
        return reply.curlCode != CURLE_OK;
    return reply.curlCode == CURLE_OK && reply.contentType == "application/json" &&
           testenv::JsonNumber(reply.body, "err_no") == 503;
}

std::vector<std::string> FaultArgs(Fault fault, Source source, const std::string& rule) {
    if (source == Source::Control)
        return {};
    return {fault == Fault::Fail ? "--fail-text" : "--drop-text", rule};
}

class SpeechServerFaults : public testenv::TempEnvTest,
                           public ::testing::WithParamInterface<std::tuple<Fault, Source>> {};

TEST_P(SpeechServerFaults, TextRuleTakesOnlyTheFirstMatchingRequests) {
    const auto [fault, source] = GetParam();
    SpeechServer server(FaultArgs(fault, source, "alpha:2"));
    if (source == Source::Control)
        fault == Fault::Fail ? server.Fail("alpha", 2) : server.Drop("alpha", 2);
    const std::string token = server.IssueToken();

    EXPECT_TRUE(speechtest::IsAudio(speechtest::Synthesize(server, token, "beta")));
    EXPECT_TRUE(ShowsFault(speechtest::Synthesize(server, token, "first alpha"), fault));
    EXPECT_TRUE(speechtest::IsAudio(speechtest::Synthesize(server, token, "gamma")));
    EXPECT_TRUE(ShowsFault(speechtest::Synthesize(server, token, "alphabet"), fault));
    EXPECT_TRUE(speechtest::IsAudio(speechtest::Synthesize(server, token, "third alpha")));

    const testenv::SpeechServerStats stats = server.Stats();
    EXPECT_EQ(stats.synthesisRequests, 5);
    EXPECT_EQ(stats.audioReplies, 3);
    EXPECT_EQ(stats.dropped, fault == Fault::Drop ? 2 : 0);
    EXPECT_EQ(stats.errorReplies, fault == Fault::Fail ? 2 : 0);
}

INSTANTIATE_TEST_SUITE_P(Rules, SpeechServerFaults,
                         ::testing::Combine(::testing::Values(Fault::Fail, Fault::Drop),
                                            ::testing::Values(Source::CommandLine, Source::Control)),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param) == Fault::Fail ? "Fail" : "Drop") +
                                    (std::get<1>(info.param) == Source::Control ? "ByControl" : "ByOption");
                         });

class SpeechServerFaultControls : public testenv::TempEnvTest {};

TEST_F(SpeechServerFaultControls, RulesMatchTheDecodedTextAndStack) {
    SpeechServer server({"--drop-text", "a&b=c+d 语:1", "--fail-text", "a&b=c+d 语:1"});
    const std::string token = server.IssueToken();
    EXPECT_TRUE(ShowsFault(speechtest::Synthesize(server, token, "x a&b=c+d 语 y"), Fault::Drop));
    EXPECT_TRUE(ShowsFault(speechtest::Synthesize(server, token, "x a&b=c+d 语 y"), Fault::Fail));
    EXPECT_TRUE(speechtest::IsAudio(speechtest::Synthesize(server, token, "x a&b=c+d 语 y")));
}

TEST_F(SpeechServerFaultControls, InvalidRequestsDoNotUseUpARule) {
    SpeechServer server({"--fail-text", "alpha:1"});
    const std::string token = server.IssueToken();
    Fields fields = speechtest::SynthesisFields(token, "alpha");
    fields.erase("lan");
    EXPECT_EQ(testenv::JsonNumber(testenv::HttpPost(server.SynthesisUrl(), speechtest::Form(fields)).body,
                                  "err_no"),
              501);
    EXPECT_TRUE(ShowsFault(speechtest::Synthesize(server, token, "alpha"), Fault::Fail));
}

TEST_F(SpeechServerFaultControls, RefusesIncompleteControls) {
    SpeechServer server;
    for (const char* path :
         {"/control/fail?count=1", "/control/drop?text=x", "/control/fail?text=x&count=-1"}) {
        SCOPED_TRACE(path);
        const HttpReply reply = testenv::HttpPost(server.BaseUrl() + path, "");
        EXPECT_EQ(reply.curlCode, 0);
        EXPECT_EQ(reply.status, 400);
    }
}

TEST_F(SpeechServerFaultControls, RateOfOneHitsEveryRequest) {
    for (const Fault fault : {Fault::Fail, Fault::Drop}) {
        SpeechServer server({fault == Fault::Fail ? "--fail-rate" : "--drop-rate", "1"});
        const std::string token = server.IssueToken();
        for (const char* text : {"one", "two", "three"})
            EXPECT_TRUE(ShowsFault(speechtest::Synthesize(server, token, text), fault)) << text;
    }
}

TEST_F(SpeechServerFaultControls, SeedReplaysTheSameFaults) {
    auto outcomes = [](const std::string& seed) {
        SpeechServer server({"--fail-rate", "0.3", "--drop-rate", "0.3", "--seed", seed});
        const std::string token = server.IssueToken();
        std::string sequence;
        for (int i = 0; i < 16; ++i) {
            const HttpReply reply = speechtest::Synthesize(server, token, "seed");
            sequence += speechtest::IsAudio(reply) ? 'a' : ShowsFault(reply, Fault::Drop) ? 'd' : 'f';
        }
        return sequence;
    };
    const std::string first = outcomes("7");
    EXPECT_EQ(outcomes("7"), first);
    for (const char kind : {'a', 'd', 'f'})
        EXPECT_NE(first.find(kind), std::string::npos) << first;
}

TEST_F(SpeechServerFaultControls, DelaysEveryReply) {
    SpeechServer server({"--delay-ms", "300"});
    const std::string token = server.IssueToken();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(speechtest::IsAudio(speechtest::Synthesize(server, token, "late")));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(300));
}

}  // namespace
