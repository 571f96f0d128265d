#include "support/test_env.h"

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

extern char** environ;

namespace {

using testenv::ReadFile;

// The real desktop program on the offscreen platform.
class Program {
public:
    explicit Program(const std::string& log) {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, log.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                         0600);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, log.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                         0600);
        std::string program = PARLATTO_PROGRAM;
        char* argv[] = {program.data(), nullptr};
        EXPECT_EQ(posix_spawn(&pid, program.c_str(), &actions, nullptr, argv, environ), 0);
        posix_spawn_file_actions_destroy(&actions);
    }
    ~Program() {
        if (pid > 0) {
            ::kill(pid, SIGKILL);
            Wait();
        }
    }
    int Wait() {
        int status = 0;
        ::waitpid(pid, &status, 0);
        pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    pid_t pid = -1;
};

size_t Count(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t p = text.find(part); p != std::string::npos; p = text.find(part, p + 1))
        ++n;
    return n;
}

TEST(ProgramTest, SecondStartGivesWayAndAKilledRunBlocksNothing) {
    testenv::ScopedEnvironment env;
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    const std::string log = env.DataDir() + "/Parlatto.log";
    const std::string output = env.Root() + "/output";
    {
        Program first(output);
        ASSERT_TRUE(
            testenv::WaitUntil([&] { return Count(ReadFile(log), "]WinMain:\t\tstart app v1.0.6") == 1; },
                               std::chrono::seconds(30)));
        Program second(output);
        EXPECT_EQ(second.Wait(), 0);
        const std::string text = ReadFile(log);
        EXPECT_EQ(Count(text, "start app"), 1u) << "the second start logs nothing of its own";
        EXPECT_EQ(Count(text, "日志开始"), 2u) << "but opens and closes the log";
        EXPECT_EQ(Count(text, "日志结束"), 1u);
        ::kill(first.pid, SIGKILL);
        EXPECT_EQ(first.Wait(), 128 + SIGKILL);
    }
    Program next(output);
    EXPECT_TRUE(
        testenv::WaitUntil([&] { return Count(ReadFile(log), "start app") == 2; }, std::chrono::seconds(30)))
        << ReadFile(output);
}

// One run of the program on the offscreen platform, up and running ("start app" logged).
class RunningProgramTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(testenv::WaitUntil([&] { return Count(ReadFile(log), "start app") == 1; },
                                       std::chrono::seconds(30)));
    }

    const bool offscreen_ = ::setenv("QT_QPA_PLATFORM", "offscreen", 1) == 0;  // before the program starts
    testenv::ScopedEnvironment env;
    const std::string log = env.DataDir() + "/Parlatto.log";
    Program program{env.Root() + "/output"};
};

TEST_F(RunningProgramTest, EndOfSessionClosesLikeTheCloseButtonAndExitsWithZero) {
    ::kill(program.pid, SIGTERM);
    EXPECT_EQ(program.Wait(), 0);
    const std::string text = ReadFile(log);
    const size_t close = text.find("RtmpPlayer::Close:\t\tmain close");
    const size_t exit = text.find("CData::PostAppExit:\t\tapp exit");
    const size_t banner = text.find("日志结束");
    ASSERT_NE(close, std::string::npos) << text;
    ASSERT_NE(exit, std::string::npos);
    ASSERT_NE(banner, std::string::npos);
    EXPECT_LT(close, exit);
    EXPECT_LT(exit, banner);
    EXPECT_FALSE(testenv::Exists(env.DataDir() + "/Temp")) << "the work folder was moved away";
}

TEST_F(RunningProgramTest, AFaultWhileRunningLeavesOneDumpAndExitsWithZero) {
    ::kill(program.pid, SIGSEGV);
    EXPECT_EQ(program.Wait(), 0);

    std::vector<std::string> dumps;
    for (const auto& entry : std::filesystem::directory_iterator(env.DataDir() + "/crashDumps"))
        dumps.push_back(entry.path().filename().string());
    ASSERT_EQ(dumps.size(), 1u);
    EXPECT_TRUE(std::regex_match(dumps[0], std::regex("[0-9]{14}\\.dmp"))) << dumps[0];
    EXPECT_EQ(ReadFile(env.DataDir() + "/crashDumps/" + dumps[0]).substr(0, 4), "MDMP");
    EXPECT_EQ(Count(ReadFile(log), "日志结束"), 0u) << "the process ended at once, without its end banner";
}

}  // namespace
