#include "core/helpers.h"

#include "core/text_convert.h"

#include <gtest/gtest.h>

namespace {

TEST(FormatDuration, ClockText) {
    const struct {
        int seconds;
        const char* text;
    } cases[] = {{0, "00:00"},          {59, "00:59"},
                 {60, "01:00"},         {75, "01:15"},
                 {3599, "59:59"},       {3600, "01:00:00"},
                 {3725, "01:02:05"},    {86399, "23:59:59"},
                 {360000, "100:00:00"}, {2147483647, "596523:14:07"}};
    for (const auto& c : cases)
        EXPECT_EQ(PubUtils::FormatDuration(c.seconds), c.text) << c.seconds;
}

TEST(Md5Hex, PublishedDigests) {
    const struct {
        std::string text;
        const char* hex;
    } cases[] = {
        {"", ""},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {std::string("a\0b", 3), "70350f6027bce3713f6b76473084309b"},  // every byte counts, zeros too
    };
    for (const auto& c : cases)
        EXPECT_EQ(PubUtils::Md5Hex(c.text), c.hex) << c.text;
}

TEST(CutString, FileNameAndTypeOfAPath) {
    const struct {
        const wchar_t* text;
        const wchar_t* delimiter;
        bool fromEnd, keepFront, keepDelimiter;
        const wchar_t* result;
    } cases[] = {
        {L"/home/u/b.txt", L"/", true, false, false, L"b.txt"},
        {L"/home/u/b.txt", L".", true, false, true, L".txt"},
        {L"/home/u/archive.tar.gz", L".", true, false, true, L".gz"},
        {L"/home/u/README", L".", true, false, true, L"/home/u/README"},
        {L"/home/u/b.txt", L"/", false, false, false, L"home/u/b.txt"},
        {L"/home/u/b.txt", L"/", true, true, false, L"/home/u"},
        {L"key=value=x", L"=", false, true, false, L"key"},
        {L"", L"/", true, false, false, L""},
        {L"ends/", L"/", true, false, false, L""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(PubUtils::CutString(c.text, c.delimiter, c.fromEnd, c.keepFront, c.keepDelimiter), c.result)
            << WideToUtf8(c.text);
    }
}

TEST(ResultFileName, DropsTheLastFourCharactersOfTheName) {
    const struct {
        const char* text;
        const char* result;
    } cases[] = {{"/home/u/docs/story.txt", "story.mp3"},
                 {"/tmp/Temp/文本3.txt", "文本3.mp3"},
                 {"/x/.txt", ".mp3"},
                 {"/x/abc", "abc.mp3"},
                 {"story.md", "stor.mp3"},
                 {"/x/y/", ".mp3"},
                 {"/x/故事", "故事.mp3"},
                 {"/x/长篇故事", ".mp3"},
                 {"/x/故事集.文本", "故事.mp3"}};
    for (const auto& c : cases)
        EXPECT_EQ(PubUtils::ResultFileName(c.text), c.result) << c.text;
}

TEST(TextConvert, StopsAtAnEmbeddedZeroAndReplacesInvalidBytes) {
    EXPECT_EQ(AnsiToWide(std::string("ab\0cd", 5)), L"ab");
    EXPECT_EQ(WideToAnsi(std::wstring(L"ab\0cd", 5)), "ab");
    EXPECT_EQ(AnsiToWide("\xFF"
                         "a"),
              L"\xFFFD"
              L"a");
    EXPECT_EQ(AnsiToWide(""), L"");
    EXPECT_EQ(WideToUtf8(L"文本1.txt"), "文本1.txt");
    EXPECT_EQ(AnsiToWide("文本1.txt"), L"文本1.txt");
}

}  // namespace
