#include "speech/text_loader.h"

#include "core/helpers.h"
#include "core/logger.h"
#include "core/paths.h"
#include "support/test_env.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <random>
#include <string>
#include <vector>

namespace {

using PubUtils::TextError;
using testenv::ReadFile;
using testenv::WriteFile;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

const std::string kFullStop = "\xE3\x80\x82";   // 。
const std::string kSemicolon = "\xEF\xBC\x9B";  // ；
const std::string kComma = "\xEF\xBC\x8C";      // ，

std::string Fill(std::size_t count, char c = 'a') {
    return std::string(count, c);
}

std::string Repeat(const std::string& unit, int times) {
    std::string text;
    for (int i = 0; i < times; ++i)
        text += unit;
    return text;
}

std::string Join(const std::vector<std::string>& pieces) {
    std::string text;
    for (const std::string& piece : pieces)
        text += piece;
    return text;
}

// "CE C4" -> the two bytes.
std::string Hex(const std::string& digits) {
    std::string bytes;
    for (std::size_t i = 0; i + 1 < digits.size(); i += 3)
        bytes.push_back(static_cast<char>(std::stoi(digits.substr(i, 2), nullptr, 16)));
    return bytes;
}

std::vector<std::size_t> Sizes(const std::vector<std::string>& pieces) {
    std::vector<std::size_t> sizes;
    for (const std::string& piece : pieces)
        sizes.push_back(piece.size());
    return sizes;
}

TEST(SplitText, CutsAtTheFirstMarkInPriorityOrderWithinEachWindow) {
    const struct {
        const char* name;
        std::string text;
        std::vector<std::size_t> sizes;  // empty: the text is refused
    } cases[] = {
        {"empty", "", {}},
        {"999 bytes without marks", Fill(999), {999}},
        {"1000 bytes without marks", Fill(1000), {}},
        {"CRLF lines of 100 bytes", Repeat(Fill(98) + "\r\n", 25), {1000, 1000, 500}},
        // "\n" at 10 gives 11; 。 then starts at 990 - 11 = 979 and ends at 979 + 3 = 982; 1500 - 993.
        {"newline before a 3-byte full stop",
         Fill(10) + "\n" + Fill(979) + kFullStop + Fill(507),
         {11, 982, 507}},
        {"CRLF starting at 1000", Fill(1000) + "\r\n" + Fill(10), {1002, 10}},
        {"3-byte mark starting at 1000", Fill(1000) + kComma + Fill(10), {1003, 10}},
        {"mark starting at 1001 is outside", Fill(1001) + "\n" + Fill(10), {}},
        {"mark ending exactly at the end of the rest", Fill(998) + kSemicolon, {1001}},
        {"truncated mark at the end", Fill(1000) + kFullStop.substr(0, 2), {}},
        // The "." of 3.14 is the last one in the window, after an earlier full stop.
        {"decimal point as the cut", Fill(500) + "." + Fill(494) + "3.14" + Fill(600), {997, 602}},
        {"English sentences", Repeat(Fill(99, 'w') + ".", 15), {1000, 500}},
        {"a lone line break is a piece", "\n" + Fill(1000) + "\n" + Fill(5), {1, 1001, 5}},
        {"newline near the start beats full stops near the end",
         Fill(5) + "\n" + Repeat(Fill(9) + ".", 150),
         {6, 1000, 500}},
        // Every window holds all the marks still ahead; the one of highest priority cuts, not the latest.
        {"。 before ； before ， before . before ;",
         Fill(100) + kFullStop + Fill(100) + kSemicolon + Fill(100) + kComma + Fill(100) + "." + Fill(100) +
             ";" + Fill(900),
         {103, 103, 103, 101, 101, 900}},
        {"later window without marks refuses the whole text", Fill(10) + "\n" + Fill(1000), {}},
        {"semicolon is the last resort", Fill(600) + ";" + Fill(600), {601, 600}},
        {"UTF-8 BOM counts as bytes of the first piece",
         "\xEF\xBB\xBF" + Repeat(Fill(99) + "\n", 15),
         {903, 600}},
    };
    for (const auto& c : cases) {
        std::vector<std::string> pieces{"stale"};
        const bool accepted = PubUtils::SplitText(c.text, pieces);
        EXPECT_EQ(accepted, !c.sizes.empty()) << c.name;
        EXPECT_EQ(Sizes(pieces), c.sizes) << c.name;
        if (accepted) {
            EXPECT_EQ(Join(pieces), c.text) << c.name;
        }
    }
}

TEST(SplitText, RandomMixedTextIsCutIntoBoundedPiecesThatRebuildIt) {
    const std::vector<std::string> marks = {"\r\n", "\n", "\r", kFullStop, kSemicolon, kComma, ".", ";"};
    std::vector<std::string> words = {"你好", "世界", "文本", "hello", "world", "3.14", " "};
    words.insert(words.end(), marks.begin(), marks.end());
    std::mt19937 random(20240611);
    std::uniform_int_distribution<std::size_t> pick(0, words.size() - 1);
    std::string text;
    while (text.size() < 300000) {
        const std::string& word = words[pick(random)];
        // Long stretches without marks, so that cuts land far back in their windows too.
        text += word.size() > 3 && random() % 2 ? Repeat(word, 30) : word;
    }

    std::vector<std::string> pieces;
    ASSERT_TRUE(PubUtils::SplitText(text, pieces));
    EXPECT_EQ(Join(pieces), text);
    for (std::size_t i = 0; i + 1 < pieces.size(); ++i) {
        EXPECT_LE(pieces[i].size(), 1003u) << i;
        const auto endsWithMark = [&](const std::string& mark) { return pieces[i].ends_with(mark); };
        EXPECT_TRUE(std::any_of(marks.begin(), marks.end(), endsWithMark)) << i;
    }
    EXPECT_LT(pieces.back().size(), 1000u);
}

TEST(ToUtf8Text, KeepsUtf8AndConvertsUtf16AndGb18030) {
    const struct {
        const char* name;
        std::string in;
        std::string out;
        bool converted;
    } cases[] = {
        {"ASCII", "plain text.\r\n", "plain text.\r\n", false},
        {"UTF-8", "文本。测试", "文本。测试", false},
        {"UTF-8 with BOM", "\xEF\xBB\xBF文本", "\xEF\xBB\xBF文本", false},
        {"GB18030", Hex("CE C4 B1 BE A1 A3 B2 E2 CA D4"), "文本。测试", true},
        {"GB18030 with ASCII and a zero byte", Hex("61 00 CE C4"), std::string("a\0文", 5), true},
        {"invalid GB18030 bytes", Hex("61 62 80 CE C4 FF 63 64"), "ab\uFFFD文\uFFFDcd", true},
        {"lead byte before a space keeps the space", Hex("81 20 78 CE C4"), "\uFFFD x文", true},
        {"truncated GB18030 at the end", Hex("CE C4 B1"), "文\uFFFD", true},
        {"UTF-16LE with surrogate pair", Hex("FF FE 61 00 3D D8 00 DE"), "a\U0001F600", true},
        {"UTF-16BE with surrogate pair", Hex("FE FF 00 61 D8 3D DE 00"), "a\U0001F600", true},
        {"UTF-16LE Chinese", Hex("FF FE 87 65 2C 67"), "文本", true},
        {"UTF-16LE unpaired surrogates", Hex("FF FE 3D D8 3D D8 00 DE 61 00 00 DE"),
         "\uFFFD\U0001F600a\uFFFD", true},
        {"UTF-16LE odd last byte", Hex("FF FE 61 00 62"), "a\uFFFD", true},
    };
    for (const auto& c : cases) {
        std::string text = c.in;
        EXPECT_EQ(PubUtils::ToUtf8Text(text), c.converted) << c.name;
        EXPECT_EQ(text, c.out) << c.name;
    }
}

class TextFileTest : public testenv::TempEnvTest {
protected:
    TextFileTest() {
        PubUtils::GetDataDir();
        Logger::ReopenGlobalForTesting();
    }
    std::string LogText() const { return ReadFile(env.DataDir() + "/Parlatto.log"); }
    std::string Path(const std::string& name) const { return env.Root() + "/" + name; }
};

TEST_F(TextFileTest, ReadsTheWholeFileUpTo10MiB) {
    const std::string limit = Path("limit.txt");
    const std::string over = Path("over.txt");
    WriteFile(limit, Fill(10485760, 'x'));
    WriteFile(over, Fill(10485761, 'x'));
    std::string text;
    EXPECT_TRUE(PubUtils::GetFileContext(limit, text));
    EXPECT_EQ(text.size(), 10485760u);

    TextError error = TextError::None;
    EXPECT_FALSE(PubUtils::GetFileContext(over, text, &error));
    EXPECT_EQ(error, TextError::TooBig);
    EXPECT_TRUE(text.empty());
    EXPECT_THAT(LogText(),
                HasSubstr("]PubUtils::GetFileContext:\t\tfile " + over + " is too big. 10485761\r\n"));
}

TEST_F(TextFileTest, KeepsZeroBytesAndAcceptsAnEmptyFile) {
    const std::string content("a\0b\0\r\n", 6);
    WriteFile(Path("zeros.txt"), content);
    WriteFile(Path("empty.txt"), "");
    std::string text = "stale";
    EXPECT_TRUE(PubUtils::GetFileContext(Path("zeros.txt"), text));
    EXPECT_EQ(text, content);
    EXPECT_TRUE(PubUtils::GetFileContext(Path("empty.txt"), text));
    EXPECT_EQ(text, "");
}

TEST_F(TextFileTest, RefusesWhatIsNotAReadableFile) {
    ASSERT_EQ(::mkdir(Path("folder").c_str(), 0700), 0);
    ASSERT_EQ(::mkfifo(Path("fifo").c_str(), 0600), 0);
    const struct {
        std::string path;
        TextError error;
    } cases[] = {
        {Path("missing.txt"), TextError::Missing},
        {Path("missing/below.txt"), TextError::Missing},
        {Path("folder"), TextError::NotAFile},
        {Path("fifo"), TextError::NotAFile},  // must not wait for a writer
        {"/dev/zero", TextError::NotAFile},
    };
    for (const auto& c : cases) {
        std::string text;
        TextError error = TextError::None;
        EXPECT_FALSE(PubUtils::GetFileContext(c.path, text, &error)) << c.path;
        EXPECT_EQ(error, c.error) << c.path;
        EXPECT_THAT(LogText(), HasSubstr("]PubUtils::GetFileContext:\t\tfopen " + c.path + " failed\r\n"));
    }
}

TEST_F(TextFileTest, UnreadableFileIsReportedAsSuch) {
    if (::geteuid() == 0)
        GTEST_SKIP() << "root reads every file";
    WriteFile(Path("secret.txt"), "text");
    ::chmod(Path("secret.txt").c_str(), 0);
    std::string text;
    TextError error = TextError::None;
    EXPECT_FALSE(PubUtils::GetFileContext(Path("secret.txt"), text, &error));
    EXPECT_EQ(error, TextError::Unreadable);
}

class CopyByFileTest : public TextFileTest {
protected:
    std::string JobFolder(const std::string& source) const {
        return env.DataDir() + "/Temp/" + PubUtils::Md5Hex(source);
    }
    static std::vector<std::string> Entries(const std::string& folder) {
        std::vector<std::string> names;
        if (DIR* dir = ::opendir(folder.c_str())) {
            while (dirent* entry = ::readdir(dir)) {
                const std::string name = entry->d_name;
                if (name != "." && name != "..")
                    names.push_back(name);
            }
            ::closedir(dir);
        }
        return names;
    }
};

TEST_F(CopyByFileTest, CopiesIntoAPrivateJobFolderOfTheSourcePath) {
    const std::string source = Path("book.txt");
    WriteFile(source, "第一章\r\n");
    const std::string copy = PubUtils::GetCopyByFile(source);
    EXPECT_EQ(copy, JobFolder(source) + "/input.txt");
    EXPECT_EQ(ReadFile(copy), "第一章\r\n");
    struct stat st {};
    ASSERT_EQ(::stat(JobFolder(source).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_EQ(PubUtils::GetCopyByFile(source), copy) << "same source, same job folder";
}

TEST_F(CopyByFileTest, SameFileNameInAnotherFolderGetsAnotherJobFolder) {
    ASSERT_EQ(::mkdir(Path("other").c_str(), 0700), 0);
    WriteFile(Path("book.txt"), "one");
    WriteFile(Path("other/book.txt"), "two");
    const std::string first = PubUtils::GetCopyByFile(Path("book.txt"));
    const std::string second = PubUtils::GetCopyByFile(Path("other/book.txt"));
    EXPECT_NE(first, second);
    EXPECT_EQ(ReadFile(first), "one");
    EXPECT_EQ(ReadFile(second), "two");
}

TEST_F(CopyByFileTest, ReplacesAnEarlierCopyAndLeavesNoTemporaryFile) {
    const std::string source = Path("book.txt");
    WriteFile(source, "a longer first version");
    const std::string copy = PubUtils::GetCopyByFile(source);
    WriteFile(source, "second");
    EXPECT_EQ(PubUtils::GetCopyByFile(source), copy);
    EXPECT_EQ(ReadFile(copy), "second");
    EXPECT_THAT(Entries(JobFolder(source)), ElementsAre("input.txt"));
}

TEST_F(CopyByFileTest, SlashAmongTheLastFourBytesStaysInsideTheJobFolder) {
    ASSERT_EQ(::mkdir(Path("notes").c_str(), 0700), 0);
    const std::string source = Path("notes/a.c");
    WriteFile(source, "int");
    const std::string copy = PubUtils::GetCopyByFile(source);
    EXPECT_EQ(copy, JobFolder(source) + "/input_a.c");
    EXPECT_EQ(ReadFile(copy), "int");
}

TEST_F(CopyByFileTest, PathShorterThanFourBytesGivesNothing) {
    for (const char* source : {"", "a", "a.t"})
        EXPECT_EQ(PubUtils::GetCopyByFile(source), "") << source;
}

TEST_F(CopyByFileTest, MissingSourceLogsTheCauseWithThePathsAsText) {
    // A path is an argument of the entry, never its format.
    const std::string source = Path("%s%n%d.txt");
    TextError error = TextError::None;
    EXPECT_EQ(PubUtils::GetCopyByFile(source, &error), "");
    EXPECT_EQ(error, TextError::Missing);
    EXPECT_THAT(LogText(),
                HasSubstr("]PubUtils::GetCopyByFile:\t\tCopyFileA failed. " + source + " to " +
                          JobFolder(source) + "/input.txt LastError info: No such file or directory"));
}

TEST_F(CopyByFileTest, RefusesFoldersAndDevicesWithoutReadingThem) {
    ASSERT_EQ(::mkdir(Path("folder").c_str(), 0700), 0);
    ASSERT_EQ(::mkfifo(Path("fifo").c_str(), 0600), 0);
    const struct {
        std::string source;
        const char* cause;
    } cases[] = {
        {Path("folder"), "Is a directory"},
        {Path("fifo"), "Invalid argument"},
        {"/dev/zero", "Invalid argument"},
    };
    for (const auto& c : cases) {
        TextError error = TextError::None;
        EXPECT_EQ(PubUtils::GetCopyByFile(c.source, &error), "") << c.source;
        EXPECT_EQ(error, TextError::NotAFile) << c.source;
        EXPECT_THAT(LogText(), HasSubstr("CopyFileA failed. " + c.source + " to "));
        EXPECT_THAT(LogText(), HasSubstr(std::string("LastError info: ") + c.cause));
    }
}

}  // namespace
