#include "platform/error.h"

#include "support/test_env.h"

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <string>

namespace {

TEST(ErrorTest, ErrorTextIsSystemMessage) {
    const struct {
        int code;
        const char* text;
    } cases[] = {
        {ENOENT, "No such file or directory"},
        {EACCES, "Permission denied"},
        {0, "Success"},
        {123456, "Unknown error 123456"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.code);
        EXPECT_EQ(platform::ErrorText(c.code), c.text);
    }
}

class ErrorOutputTest : public testenv::TempEnvTest {
protected:
    void SetUp() override {
        std::fflush(stderr);
        savedStderr_ = ::dup(STDERR_FILENO);
        ASSERT_GE(savedStderr_, 0);
    }
    void TearDown() override { RestoreStderr(); }
    void RestoreStderr() {
        if (savedStderr_ < 0)
            return;
        ::dup2(savedStderr_, STDERR_FILENO);
        ::close(savedStderr_);
        savedStderr_ = -1;
    }

    int savedStderr_ = -1;
};

TEST_F(ErrorOutputTest, WritesToStderrAndKeepsErrno) {
    const std::string path = env.Root() + "/stderr.txt";
    const int file = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    ASSERT_GE(file, 0);
    ::dup2(file, STDERR_FILENO);
    ::close(file);

    platform::SetLastError(EILSEQ);
    platform::DebugOutput("first line\n");
    platform::DebugOutput(std::string(100000, 'x'));
    EXPECT_EQ(platform::LastError(), EILSEQ);
    RestoreStderr();
    EXPECT_EQ(testenv::ReadFile(path), "first line\n" + std::string(100000, 'x'));
}

TEST_F(ErrorOutputTest, FailedWriteKeepsErrno) {
    ::close(STDERR_FILENO);
    errno = ENOENT;
    platform::DebugOutput("lost\n");
    const int error = errno;
    RestoreStderr();
    EXPECT_EQ(error, ENOENT);
}

}  // namespace
