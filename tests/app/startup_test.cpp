#include "app/startup.h"

#include "platform/file_ops.h"
#include "support/test_env.h"
#include "support/zip_reader.h"

#include <dirent.h>
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

extern char** environ;

namespace {

using testenv::ReadFile;
using ::testing::HasSubstr;

// One run of the start-up probe, its stdout in a file.
struct Probe {
    pid_t pid = -1;
    std::string output;

    Probe(const std::string& mode, const std::string& outputPath) : output(outputPath) {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, output.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0600);
        std::string program = INSTANCE_PROBE;
        std::vector<char*> argv{program.data(), const_cast<char*>(mode.c_str()), nullptr};
        EXPECT_EQ(posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ), 0);
        posix_spawn_file_actions_destroy(&actions);
    }
    std::string Output() const { return ReadFile(output); }
    int Wait() {
        int status = 0;
        ::waitpid(pid, &status, 0);
        pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    ~Probe() {
        if (pid > 0) {
            ::kill(pid, SIGKILL);
            Wait();
        }
    }
};

class SingleInstanceTest : public testenv::TempEnvTest {
protected:
    std::string Out(const char* name) const { return env.Root() + "/" + name + ".out"; }
};

TEST_F(SingleInstanceTest, OfTwoStartsAtOnceExactlyOneRunsAndTheOtherActivatesIt) {
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        Probe one("activate", Out("one")), two("activate", Out("two"));
        EXPECT_EQ(one.Wait(), 0);
        EXPECT_EQ(two.Wait(), 0);
        const std::string outputs = one.Output() + "|" + two.Output();
        EXPECT_TRUE(outputs == "first\nactivated\n|second\n" || outputs == "second\n|first\nactivated\n")
            << outputs;
    }
}

TEST_F(SingleInstanceTest, RefusedStartWritesOnlyItsBannersToTheSharedLog) {
    Probe first("hold", Out("first"));
    ASSERT_TRUE(testenv::WaitUntil([&] { return first.Output() == "first\n"; }));
    Probe second("hold", Out("second"));
    EXPECT_EQ(second.Wait(), 0);
    EXPECT_EQ(second.Output(), "second\n");
    const std::string log = ReadFile(env.DataDir() + "/Parlatto.log");
    size_t starts = 0, ends = 0;
    for (size_t p = 0; (p = log.find("日志开始", p)) != std::string::npos; ++p)
        ++starts;
    for (size_t p = 0; (p = log.find("日志结束", p)) != std::string::npos; ++p)
        ++ends;
    EXPECT_EQ(starts, 2u);
    EXPECT_EQ(ends, 1u) << "the first instance still runs";
}

TEST_F(SingleInstanceTest, InstanceKilledWithSigkillDoesNotBlockTheNextStart) {
    {
        Probe killed("hold", Out("killed"));
        ASSERT_TRUE(testenv::WaitUntil([&] { return killed.Output() == "first\n"; }));
        ::kill(killed.pid, SIGKILL);
        EXPECT_EQ(killed.Wait(), 128 + SIGKILL);
    }
    Probe next("hold", Out("next"));
    EXPECT_TRUE(testenv::WaitUntil([&] { return next.Output() == "first\n"; }));
}

TEST_F(SingleInstanceTest, KeyFileTemplateIsCreatedPrivate) {
    Probe first("hold", Out("first"));
    ASSERT_TRUE(testenv::WaitUntil([&] { return first.Output() == "first\n"; }));
    struct stat st {};
    ASSERT_EQ(::stat((env.DataDir() + "/keys").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_THAT(ReadFile(env.DataDir() + "/keys"), HasSubstr("API_KEY SECRET_KEY"));
}

TEST_F(SingleInstanceTest, StartSendsTheCrashDumpsThatWait) {
    ASSERT_TRUE(platform::MakeDirs(env.DataDir() + "/crashDumps"));
    testenv::WriteFile(env.DataDir() + "/crashDumps/20261211101500.dmp", "MDMP");
    testenv::WriteFile(env.DataDir() + "/Parlatto.log", "an earlier run\r\n");
    Probe first("hold", Out("first"));
    ASSERT_TRUE(testenv::WaitUntil([&] { return first.Output() == "first\n"; }));
    EXPECT_FALSE(testenv::Exists(env.DataDir() + "/crashDumps/20261211101500.dmp"))
        << "sent dumps are deleted";
    EXPECT_THAT(ReadFile(env.DataDir() + "/config.ini"), HasSubstr("UploadLogTime="));
    std::string archive;
    if (DIR* dir = ::opendir((env.DataDir() + "/Temp").c_str())) {
        while (dirent* entry = ::readdir(dir))
            if (std::string(entry->d_name).rfind("Parlatto", 0) == 0)
                archive = env.DataDir() + "/Temp/" + entry->d_name;
        ::closedir(dir);
    }
    ASSERT_FALSE(archive.empty()) << "the archive waits in the work folder";
    const std::vector<testenv::ZipEntry> entries = testenv::ReadZip(archive);
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0], (testenv::ZipEntry{"20261211101500.dmp", "MDMP"}));
    EXPECT_EQ(entries[1], (testenv::ZipEntry{"Parlatto.log", "an earlier run\r\n"}))
        << "the log is archived as the last run left it, before this run's banner";
    EXPECT_EQ(entries[2].name, "config.ini");
    EXPECT_THAT(entries[2].content, HasSubstr("UploadLogTime="));
    EXPECT_EQ(ReadFile(env.DataDir() + "/Parlatto.log").rfind("an earlier run\r\n", 0), 0u)
        << "the log was archived before it opened";
}

}  // namespace
