#include "core/settings.h"

#include "core/ini_file.h"
#include "core/paths.h"
#include "support/test_env.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <random>
#include <thread>
#include <vector>

namespace {

using testenv::ReadFile;
using testenv::WriteFile;
using ::testing::HasSubstr;

TEST(IniFile, FindsKeysAsTheProfileFunctionsDo) {
    const std::string file =
        "; comment\r\n"
        "[Other]\r\n"
        "AudioType=9\r\n"
        " [ parlatto ] \r\n"
        "  audiotype =  3  \r\n"
        "Quoted=\"  spaced value \"\r\n"
        "Single='x'\r\n"
        "Empty=\r\n"
        "NoEquals\r\n"
        "Url=http://h:1/a=b\r\n";
    const struct {
        const char* section;
        const char* key;
        std::optional<std::string> value;
    } cases[] = {
        {"Parlatto", "AudioType", "3"},
        {"PARLATTO", "AUDIOTYPE", "3"},
        {"Other", "audiotype", "9"},
        {"Parlatto", "Quoted", "  spaced value "},
        {"Parlatto", "Single", "x"},
        {"Parlatto", "Empty", ""},
        {"Parlatto", "NoEquals", std::nullopt},
        {"Parlatto", "Url", "http://h:1/a=b"},
        {"Parlatto", "Missing", std::nullopt},
        {"Nowhere", "AudioType", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.section) + "/" + c.key);
        EXPECT_EQ(IniFile::Find(file, c.section, c.key), c.value);
    }
}

TEST(IniFile, SetChangesOneLineAndKeepsEveryOtherByte) {
    const struct {
        std::string before;
        std::string after;
    } cases[] = {
        // replaced in place, the stored spelling of the key kept
        {"#c\r\n[Parlatto]\r\naudiotype = 1\r\nDebug=0\r\n",
         "#c\r\n[Parlatto]\r\naudiotype=3\r\nDebug=0\r\n"},
        // added after the section's last line, before the next section
        {"[Parlatto]\nDebug=0\n\n[Next]\nx=1\n", "[Parlatto]\nDebug=0\nAudioType=3\n\n[Next]\nx=1\n"},
        // a section header without a line end at the end of the file
        {"[Parlatto]", "[Parlatto]\r\nAudioType=3\r\n"},
        // a new section appended; the last line gets its line end
        {"[Other]\nx=1", "[Other]\nx=1\n[Parlatto]\nAudioType=3\n"},
        {"", "[Parlatto]\r\nAudioType=3\r\n"},
        // the byte-order mark stays in front
        {"\xEF\xBB\xBF[Parlatto]\r\nAudioType=1\r\n", "\xEF\xBB\xBF[Parlatto]\r\nAudioType=3\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.before);
        EXPECT_EQ(IniFile::Set(c.before, "Parlatto", "AudioType", "3"), c.after);
    }
}

TEST(IniFile, ValueWithLineBreaksCannotAddLines) {
    const std::string out =
        IniFile::Set("", "Parlatto", "DownloadURL", "http://x\r\n[Parlatto]\r\nAudioType=4");
    EXPECT_EQ(IniFile::Find(out, "Parlatto", "AudioType"), std::nullopt);
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 2);
}

class SettingsTest : public testenv::TempEnvTest {
protected:
    SettingsTest() { PubUtils::GetDataDir(); }
    std::string UserFile() const { return env.DataDir() + "/config.ini"; }
    std::string MirrorFile() const { return env.ExeDir() + "/Parlatto/config.ini"; }
};

TEST_F(SettingsTest, MissingFileReadsDefaults) {
    EXPECT_EQ(ReadConfigInt(L"AudioType", 1), 1);
    EXPECT_EQ(ReadConfigInt(L"Debug", 0), 0);
    EXPECT_EQ(ReadConfigString(L"UploadLogTime", L"0", 50), L"0");
    EXPECT_EQ(ReadUpdateConfigString(L"AppName", L"Parlatto", 50), L"Parlatto");
    EXPECT_FALSE(testenv::Exists(UserFile())) << "reading never creates the file";
}

TEST_F(SettingsTest, IntegerValuesParse) {
    const struct {
        const char* stored;
        int value;
    } cases[] = {{"3", 3},
                 {" -7", -7},
                 {"+12", 12},
                 {"12abc", 12},
                 {"abc", 0},
                 {"", 5},
                 {"99999999999", 2147483647},
                 {"-99999999999", -2147483647 - 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stored);
        WriteFile(UserFile(), std::string("[Parlatto]\nAudioType=") + c.stored + "\n");
        EXPECT_EQ(ReadConfigInt(L"AudioType", 5), c.value);
    }
}

TEST_F(SettingsTest, StringsAreCutToCapacityMinusOne) {
    const std::wstring url(60, L'u');
    WriteConfigString(L"UpdateUrl", url);
    EXPECT_EQ(ReadConfigString(L"UpdateUrl", L"", 50), url.substr(0, 49));
    EXPECT_EQ(ReadUpdateConfigString(L"UpdateUrl", L"", 50), url.substr(0, 49));
    EXPECT_EQ(ReadConfigString(L"UpdateUrl", L"", 61), url);
    EXPECT_EQ(ReadConfigString(L"Missing", std::wstring(80, L'd'), 50), std::wstring(49, L'd'));
    EXPECT_EQ(ReadConfigString(L"UpdateUrl", L"", 0), L"");
}

TEST_F(SettingsTest, WriteGoesToBothFilesOnlyWhenTheMirrorFolderExists) {
    WriteConfigInt(L"AudioType", 3);
    EXPECT_EQ(ReadConfigInt(L"AudioType", 1), 3);
    EXPECT_THAT(ReadFile(UserFile()), HasSubstr("[Parlatto]\r\nAudioType=3\r\n"));
    EXPECT_FALSE(testenv::Exists(env.ExeDir() + "/Parlatto")) << "the mirror folder is never created";

    ASSERT_EQ(::mkdir((env.ExeDir() + "/Parlatto").c_str(), 0755), 0);
    WriteConfigString(L"DownloadURL", L"http://parlatto.example/");
    WriteConfigInt(L"AudioType", 4);
    EXPECT_EQ(IniFile::Read(MirrorFile(), "Parlatto", "AudioType"), "4");
    EXPECT_EQ(IniFile::Read(MirrorFile(), "Parlatto", "DownloadURL"), "http://parlatto.example/");
    EXPECT_EQ(ReadConfigInt(L"AudioType", 1), 4);
}

TEST_F(SettingsTest, WideTextRoundTrips) {
    WriteConfigString(L"AppName", L"文本 Ünïcode");
    EXPECT_EQ(ReadConfigString(L"appname", L"", 50), L"文本 Ünïcode");
}

TEST_F(SettingsTest, HostileFilesReadAsDefaultsAndSurviveAWrite) {
    std::string junk(4096, '\0');
    std::mt19937 random(7);
    for (char& c : junk)
        c = static_cast<char>(random());
    const struct {
        const char* name;
        std::string content;
    } cases[] = {
        {"no section header", "AudioType=3\nDebug=1\n"},
        {"binary junk", junk},
        {"10 MB line", std::string(10u << 20, 'A') + "\n"},
        {"unterminated header", "[Parlatto\nAudioType=3"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        WriteFile(UserFile(), c.content);
        EXPECT_EQ(ReadConfigInt(L"AudioType", 1), c.name == std::string("unterminated header") ? 3 : 1);
        WriteConfigInt(L"Debug", 2);
        const std::string after = ReadFile(UserFile());
        EXPECT_EQ(after.compare(0, c.content.size(), c.content), 0) << "the old bytes are kept";
        EXPECT_EQ(ReadConfigInt(L"Debug", 0), 2);
    }
}

TEST_F(SettingsTest, FileTooLargeToReadIsNeverRewritten) {
    const std::string big(IniFile::kMaxFileSize + 1, 'x');
    WriteFile(UserFile(), big);
    WriteConfigInt(L"AudioType", 2);
    EXPECT_EQ(ReadConfigInt(L"AudioType", 1), 1);
    struct stat st {};
    ASSERT_EQ(::stat(UserFile().c_str(), &st), 0);
    EXPECT_EQ(static_cast<size_t>(st.st_size), big.size());
}

// A process killed in the middle of writes leaves the old or the new file, never a broken one.
TEST_F(SettingsTest, WriteKilledMidwayLeavesAWholeFile) {
    const std::string a(200000, 'a');
    const std::string b(300000, 'b');
    WriteConfigString(L"Payload", std::wstring(a.begin(), a.end()));
    for (int round = 0; round < 5; ++round) {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            for (int i = 0;; ++i) {
                const std::string& value = (i % 2) ? a : b;
                IniFile::Write(UserFile(), "Parlatto", "Payload", value);
            }
        }
        // Let the child get into its writes, then kill it wherever it is.
        const auto before = ReadFile(UserFile()).size();
        testenv::WaitUntil([&] { return ReadFile(UserFile()).size() != before; }, std::chrono::seconds(5));
        std::this_thread::sleep_for(std::chrono::microseconds(700 * round));
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);
        const auto value = IniFile::Read(UserFile(), "Parlatto", "Payload");
        ASSERT_TRUE(value.has_value()) << "round " << round;
        EXPECT_TRUE(*value == a || *value == b) << "round " << round << ": " << value->size() << " bytes";
    }
}

TEST(SettingsConcurrency, WritersOfDifferentKeysLoseNothing) {
    testenv::ScopedEnvironment env;
    constexpr int kThreads = 6;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < 20; ++i)
                WriteConfigInt(L"Key" + std::to_wstring(t), i);
        });
    }
    for (auto& thread : threads)
        thread.join();
    for (int t = 0; t < kThreads; ++t)
        EXPECT_EQ(ReadConfigInt(L"Key" + std::to_wstring(t), -1), 19);
}

}  // namespace
