#include "core/paths.h"

#include "core/text_convert.h"
#include "platform/file_ops.h"
#include "support/test_env.h"

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <linux/stat.h>
#include <thread>

namespace {

using testenv::Exists;
using testenv::ReadFile;
using testenv::WriteFile;

class PathsTest : public testenv::TempEnvTest {};

TEST_F(PathsTest, DataFolderIsCreatedWithItsParentsAndCached) {
    ::rmdir(env.DataHome().c_str());  // a fresh account has no data home yet
    EXPECT_EQ(PubUtils::GetDataDir(), env.DataDir());
    EXPECT_TRUE(platform::IsDirectory(env.DataDir()));

    ::setenv("XDG_DATA_HOME", (env.Root() + "/elsewhere").c_str(), 1);
    EXPECT_EQ(PubUtils::GetDataDir(), env.DataDir()) << "resolved once per process";
    EXPECT_EQ(PubUtils::GetConfigPath(false), AnsiToWide(env.DataDir()) + L"/config.ini");
    EXPECT_EQ(PubUtils::GetConfigPath(true), AnsiToWide(env.ExeDir()) + L"/Parlatto/config.ini");
}

TEST_F(PathsTest, WithoutXdgDataHomeTheHomeFolderIsUsed) {
    ::unsetenv("XDG_DATA_HOME");
    EXPECT_EQ(PubUtils::GetDataDir(), env.Root() + "/home/.local/share/Parlatto");
}

TEST_F(PathsTest, AFileInThePlaceOfTheDataFolderIsLeftAlone) {
    WriteFile(env.DataDir(), "not a folder");
    EXPECT_EQ(PubUtils::GetDataDir(), env.DataDir());
    EXPECT_EQ(ReadFile(env.DataDir()), "not a folder");
}

TEST_F(PathsTest, ResolvedHookRunsOnceAndMayResolveFoldersItself) {
    int calls = 0;
    std::string seen;
    PubUtils::SetDataDirResolvedHook([&](const std::string& dir) {
        ++calls;
        seen = dir;
        PubUtils::GetTempDir();  // the log-upload check writes into the work folder
    });
    PubUtils::GetDataDir();
    PubUtils::GetDataDir();
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(seen, env.DataDir());
    EXPECT_TRUE(platform::IsDirectory(env.DataDir() + "/Temp"));
}

TEST_F(PathsTest, ExecutableFolderIsTheTestProgramsFolder) {
    PubUtils::SetExeDirForTesting({});
    char exe[4096] = {};
    ASSERT_GT(::readlink("/proc/self/exe", exe, sizeof exe - 1), 0);
    const std::string path = exe;
    EXPECT_EQ(PubUtils::GetExeDir(), path.substr(0, path.rfind('/')));
}

TEST_F(PathsTest, WorkFolderComesBackAfterItWasMovedAway) {
    const std::string work = PubUtils::GetTempDir();
    EXPECT_EQ(work, env.DataDir() + "/Temp");
    WriteFile(work + "/文本1.txt", "hello");
    ASSERT_EQ(::mkdir((work + "/job").c_str(), 0700), 0);
    WriteFile(work + "/job/1.mp3", "mp3");

    EXPECT_TRUE(PubUtils::ClearTempDir());
    EXPECT_FALSE(Exists(work));
    const std::string moved = env.TempBase() + "/Parlatto-" + std::to_string(::getuid()) + "/Temp";
    EXPECT_EQ(ReadFile(moved + "/文本1.txt"), "hello");
    EXPECT_EQ(ReadFile(moved + "/job/1.mp3"), "mp3");

    EXPECT_EQ(PubUtils::GetTempDir(), work);
    EXPECT_TRUE(platform::IsDirectory(work));
}

TEST_F(PathsTest, MovedWorkFolderMergesWithAnEarlierOne) {
    const std::string moved = env.TempBase() + "/Parlatto-" + std::to_string(::getuid()) + "/Temp";
    WriteFile(PubUtils::GetTempDir() + "/文本1.txt", "first run");
    WriteFile(PubUtils::GetTempDir() + "/old.txt", "only in the first run");
    ASSERT_TRUE(PubUtils::ClearTempDir());
    WriteFile(PubUtils::GetTempDir() + "/文本1.txt", "second run");
    ASSERT_TRUE(PubUtils::ClearTempDir());
    EXPECT_EQ(ReadFile(moved + "/文本1.txt"), "second run");
    EXPECT_EQ(ReadFile(moved + "/old.txt"), "only in the first run");
}

TEST_F(PathsTest, PlantedLinkInTheTemporaryFolderIsRefused) {
    const std::string outside = env.Root() + "/outside";
    ASSERT_EQ(::mkdir(outside.c_str(), 0700), 0);
    const std::string privateDir = env.TempBase() + "/Parlatto-" + std::to_string(::getuid());
    ASSERT_EQ(::symlink(outside.c_str(), privateDir.c_str()), 0);
    WriteFile(PubUtils::GetTempDir() + "/secret.txt", "x");

    EXPECT_FALSE(PubUtils::ClearTempDir());
    EXPECT_FALSE(Exists(outside + "/Temp"));
    EXPECT_EQ(ReadFile(env.DataDir() + "/Temp/secret.txt"), "x") << "nothing is lost";
}

TEST_F(PathsTest, ListNewestFilesOrdersByCreationAndSkipsFolders) {
    const std::string dumps = env.Root() + "/dumps";
    ASSERT_EQ(::mkdir(dumps.c_str(), 0700), 0);
    long long last = 0;
    for (const char* name : {"a.dmp", "b.dmp", ".hidden", "c.dmp", "d.dmp", "e.dmp"})
        testenv::CreateAfterTheLast(dumps + "/" + name, dumps + "/" + name, last);
    ASSERT_EQ(::mkdir((dumps + "/newest-folder").c_str(), 0700), 0);

    EXPECT_EQ(
        PubUtils::ListNewestFiles(dumps, 4),
        (std::vector<std::string>{dumps + "/e.dmp", dumps + "/d.dmp", dumps + "/c.dmp", dumps + "/.hidden"}));
    EXPECT_EQ(PubUtils::ListNewestFiles(dumps, 10).size(), 6u);
    EXPECT_TRUE(PubUtils::ListNewestFiles(dumps, 0).empty());
}

TEST_F(PathsTest, ListNewestFilesOfEmptyOrMissingFolders) {
    const std::string onlyFolders = env.Root() + "/folders";
    ASSERT_EQ(::mkdir(onlyFolders.c_str(), 0700), 0);
    ASSERT_EQ(::mkdir((onlyFolders + "/sub").c_str(), 0700), 0);
    EXPECT_TRUE(PubUtils::ListNewestFiles(onlyFolders, 4).empty());
    EXPECT_TRUE(PubUtils::ListNewestFiles(env.Root() + "/missing", 4).empty());
}

}  // namespace
