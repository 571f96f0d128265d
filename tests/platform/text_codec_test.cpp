#include "platform/text_codec.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

namespace {

using platform::IsValidUtf8;
using platform::Utf8ToWide;
using platform::WideToUtf8;

constexpr wchar_t R = 0xFFFD;

struct DecodeCase {
    const char* name;
    std::string_view utf8;
    std::wstring wide;
};

class Utf8DecodeTest : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(Utf8DecodeTest, DecodesWithOneReplacementPerMaximalSubpart) {
    EXPECT_EQ(Utf8ToWide(GetParam().utf8), GetParam().wide);
}

// The sizes of the views are explicit so that embedded NUL bytes count.
const DecodeCase kDecodeCases[] = {
    {"Empty", "", L""},
    {"EmbeddedNul", std::string_view("a\0b", 3), std::wstring(L"a\0b", 3)},
    {"LoneContinuation", "a\x80z", {L'a', R, L'z'}},
    {"TwoContinuations", "\x80\xBF", {R, R}},
    {"TruncatedTwoByteAtEnd", "a\xC3", {L'a', R}},
    {"TruncatedThreeByteAtEnd", "\xE6\x96", {R}},
    {"TruncatedFourByteAtEnd", "\xF0\x9F\x98", {R}},
    {"TruncatedBeforeAscii", "\xE6\x96z", {R, L'z'}},
    {"TruncatedBeforeLead", "\xF0\x9F\xE6\x96\x87", {R, 0x6587}},
    {"OverlongTwoByte", "\xC0\x80", {R, R}},
    {"OverlongC1", "\xC1\xBF", {R, R}},
    {"OverlongThreeByte", "\xE0\x80\x80", {R, R, R}},
    {"OverlongFourByte", "\xF0\x80\x80\x80", {R, R, R, R}},
    {"EncodedHighSurrogate", "\xED\xA0\x80", {R, R, R}},
    {"EncodedLowSurrogate", "\xED\xBF\xBF", {R, R, R}},
    {"AboveMaximum", "\xF4\x90\x80\x80", {R, R, R, R}},
    {"LeadF5", "\xF5\x80", {R, R}},
    {"LeadsF8ToFF", "\xF8\xFC\xFE\xFF", {R, R, R, R}},
    // The example of the Unicode standard for the maximal subpart rule.
    {"UnicodeExample",
     "\x61\xF1\x80\x80\xE1\x80\xC2\x62\x80\x63\x80\xBF\x64",
     {L'a', R, R, R, L'b', R, L'c', R, R, L'd'}},
};

INSTANTIATE_TEST_SUITE_P(Utf8, Utf8DecodeTest, ::testing::ValuesIn(kDecodeCases),
                         [](const auto& info) { return std::string(info.param.name); });

struct RoundTripCase {
    const char* name;
    std::string_view utf8;
    std::wstring wide;
};

class Utf8RoundTripTest : public ::testing::TestWithParam<RoundTripCase> {};

TEST_P(Utf8RoundTripTest, ConvertsBothWays) {
    EXPECT_EQ(Utf8ToWide(GetParam().utf8), GetParam().wide);
    EXPECT_EQ(WideToUtf8(GetParam().wide), GetParam().utf8);
    EXPECT_TRUE(IsValidUtf8(GetParam().utf8));
}

const RoundTripCase kRoundTripCases[] = {
    {"Ascii", "Hello, world!", L"Hello, world!"},
    {"Cjk", "\xE6\x96\x87\xE6\x9C\xAC", {0x6587, 0x672C}},
    {"FourByte", "\xF0\x9F\x98\x80x\xF0\x90\x80\x80", {0x1F600, L'x', 0x10000}},
    {"LengthBoundaries",
     "\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF\xF4\x8F\xBF\xBF",
     {0x7F, 0x80, 0x7FF, 0x800, 0xFFFF, 0x10FFFF}},
    {"AroundSurrogates", "\xED\x9F\xBF\xEE\x80\x80", {0xD7FF, 0xE000}},
    {"LiteralReplacement", "\xEF\xBF\xBD", {R}},
};

INSTANTIATE_TEST_SUITE_P(Utf8, Utf8RoundTripTest, ::testing::ValuesIn(kRoundTripCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(TextCodecTest, WideValuesThatAreNotScalarsBecomeReplacement) {
    const struct {
        const char* name;
        wchar_t value;
    } cases[] = {
        {"high surrogate", static_cast<wchar_t>(0xD800)},
        {"low surrogate", static_cast<wchar_t>(0xDFFF)},
        {"just above maximum", static_cast<wchar_t>(0x110000)},
        {"negative", static_cast<wchar_t>(-1)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const wchar_t text[] = {L'a', c.value, L'b'};
        EXPECT_EQ(WideToUtf8(std::wstring_view(text, 3)),
                  "a\xEF\xBF\xBD"
                  "b");
    }
}

TEST(TextCodecTest, IsValidUtf8Table) {
    const struct {
        const char* name;
        std::string_view text;
        bool valid;
    } cases[] = {
        {"empty", "", true},
        {"ascii", "plain text", true},
        {"cjk", "\xE6\x96\x87\xE6\x9C\xAC", true},
        {"four byte", "\xF0\x9F\x98\x80", true},
        {"literal U+FFFD",
         "a\xEF\xBF\xBD"
         "b",
         true},
        {"lone continuation", "a\x80", false},
        {"truncated at end", "\xE6\x96", false},
        {"truncated U+FFFD", "\xEF\xBF", false},
        {"truncated four byte of three bytes", "\xF0\x9F\x98", false},
        {"overlong C0 80", "\xC0\x80", false},
        {"overlong E0 80 80", "\xE0\x80\x80", false},
        {"surrogate", "\xED\xA0\x80", false},
        {"above maximum", "\xF4\x90\x80\x80", false},
        {"byte F5", "\xF5", false},
        {"byte FF", "ok\xFF", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(IsValidUtf8(c.text), c.valid);
    }
}

}  // namespace
