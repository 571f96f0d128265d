// The audio the speech server answers with, judged by the real ffmpeg: complete MP3 that decodes
// without complaint, holds sound rather than silence, lasts longer for longer text, and has the
// pitch and pace of each of the four voices.

#include "support/speech_server.h"
#include "support/test_env.h"
#include "tools/speech_test_helpers.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

namespace {

using testenv::HttpReply;
using testenv::SpeechServer;

struct TextPair {
    const char* name;
    const char* shorter;
    const char* longer;
};

class SpeechServerAudio : public testenv::TempEnvTest, public ::testing::WithParamInterface<TextPair> {
protected:
    SpeechServer server;
    std::string token = server.IssueToken();
};

TEST_P(SpeechServerAudio, DecodesAndLastsLongerForLongerText) {
    const HttpReply shorter = speechtest::Synthesize(server, token, GetParam().shorter);
    const HttpReply longer = speechtest::Synthesize(server, token, GetParam().longer);
    ASSERT_TRUE(speechtest::IsAudio(shorter)) << shorter.body.substr(0, 200);
    ASSERT_TRUE(speechtest::IsAudio(longer)) << longer.body.substr(0, 200);

    const speechtest::DecodedAudio a = speechtest::Decode(shorter.body, env.TempBase(), "shorter");
    const speechtest::DecodedAudio b = speechtest::Decode(longer.body, env.TempBase(), "longer");
    EXPECT_TRUE(a.decoded) << a.errors;
    EXPECT_TRUE(b.decoded) << b.errors;
    EXPECT_GT(a.seconds, 0.3);
    EXPECT_GT(b.seconds, 2 * a.seconds);
    // Speech at a normal level is well above this; silence and near-silence are not.
    EXPECT_GT(a.rms, 500);
    EXPECT_GT(b.rms, 500);
}

INSTANTIATE_TEST_SUITE_P(
    Languages, SpeechServerAudio,
    ::testing::Values(TextPair{"English", "Hello.",
                               "Hello. This sentence is a good deal longer than the first one, so it takes "
                               "a good deal longer to say out loud."},
                      TextPair{"Chinese", "你好。",
                               "你好。今天天气很好，我们一起去公园散步，然后回家吃饭吧。"}),
    [](const auto& info) { return std::string(info.param.name); });

class SpeechServerVoices : public testenv::TempEnvTest {
protected:
    SpeechServer server;
};

TEST_F(SpeechServerVoices, FourPersonsSoundDifferent) {
    const std::string token = server.IssueToken();
    std::map<int, speechtest::DecodedAudio> voices;
    for (const int person : {0, 1, 3, 4}) {
        const HttpReply reply = speechtest::Synthesize(server, token, "欢迎使用语音合成。", person);
        ASSERT_TRUE(speechtest::IsAudio(reply)) << person;
        voices[person] = speechtest::Decode(reply.body, env.TempBase(), "voice" + std::to_string(person));
        EXPECT_TRUE(voices[person].decoded) << person << ": " << voices[person].errors;
    }
    const double female = voices[0].pitchHz, male = voices[1].pitchHz, expressive = voices[3].pitchHz,
                 child = voices[4].pitchHz;
    EXPECT_GT(female, 1.5 * male);
    EXPECT_GT(female, 1.5 * expressive);
    EXPECT_GT(child, 1.2 * female);
    // The expressive voice tells itself from the plain male one by its pace.
    EXPECT_LT(voices[3].seconds, 0.9 * voices[1].seconds);
}

}  // namespace
