#include "platform/process.h"

#include "support/test_env.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>

namespace {

using platform::OutputRouting;
using platform::SpawnRequest;
using platform::SpawnResult;
using testenv::Exists;
using testenv::ReadFile;
using testenv::WriteFile;

platform::ProcessStarter& Starter() {
    return platform::DefaultProcessStarter();
}

SpawnRequest Shell(const std::string& script, const std::string& workingDir = {},
                   OutputRouting output = OutputRouting::Inherit) {
    return SpawnRequest{"/bin/sh", {"-c", script}, workingDir, output};
}

std::string RealPath(const std::string& path) {
    char buffer[PATH_MAX];
    return ::realpath(path.c_str(), buffer) ? std::string(buffer) : std::string();
}

// Points one of this process's descriptors at a file until destroyed, so that a test reads what
// a child wrote there.
class RedirectedFd {
public:
    RedirectedFd(int fd, const std::string& path, int flags = O_WRONLY | O_CREAT | O_TRUNC)
        : fd_(fd), saved_(::dup(fd)) {
        std::fflush(nullptr);
        const int file = ::open(path.c_str(), flags | O_CLOEXEC, 0600);
        if (file >= 0) {
            ::dup2(file, fd);
            ::close(file);
        }
    }
    ~RedirectedFd() {
        ::dup2(saved_, fd_);
        ::close(saved_);
    }
    RedirectedFd(const RedirectedFd&) = delete;
    RedirectedFd& operator=(const RedirectedFd&) = delete;

private:
    int fd_;
    int saved_;
};

class ProcessTest : public testenv::TempEnvTest {
protected:
    std::string P(const std::string& relative) const { return env.Root() + "/" + relative; }
};

struct ExitCase {
    const char* name;
    const char* script;
    int exitCode;
};

class ProcessExitTest : public ProcessTest, public ::testing::WithParamInterface<ExitCase> {};

TEST_P(ProcessExitTest, ReportsExitCodeOr128PlusSignal) {
    // A bare name, so the program is also searched on PATH.
    const SpawnResult result =
        Starter().RunAndWait(SpawnRequest{"sh", {"-c", GetParam().script}, {}, OutputRouting::Inherit});
    EXPECT_TRUE(result.started);
    EXPECT_EQ(result.error, 0);
    EXPECT_EQ(result.exitCode, GetParam().exitCode);
}

const ExitCase kExitCases[] = {
    {"Success", "exit 0", 0},
    {"Failure", "exit 3", 3},
    {"Highest", "exit 255", 255},
    {"Terminated", "kill -TERM $$", 128 + SIGTERM},
    {"Killed", "kill -KILL $$", 128 + SIGKILL},
};

INSTANTIATE_TEST_SUITE_P(Process, ProcessExitTest, ::testing::ValuesIn(kExitCases),
                         [](const auto& info) { return std::string(info.param.name); });

struct NotStartedCase {
    const char* name;
    const char* program;  // "@" stands for the test's root folder
    const char* workingDir;
    int error;
};

class ProcessNotStartedTest : public ProcessTest, public ::testing::WithParamInterface<NotStartedCase> {
protected:
    std::string Resolve(const char* text) const {
        std::string value = text;
        if (!value.empty() && value[0] == '@')
            value = env.Root() + value.substr(1);
        return value;
    }
};

TEST_P(ProcessNotStartedTest, ReportsErrorOfFailedStart) {
    WriteFile(P("not-executable"), "#!/bin/sh\n");
    ASSERT_EQ(::chmod(P("not-executable").c_str(), 0644), 0);
    const SpawnRequest request{Resolve(GetParam().program),
                               {"-c", "exit 0"},
                               Resolve(GetParam().workingDir),
                               OutputRouting::Inherit};

    const SpawnResult waited = Starter().RunAndWait(request);
    EXPECT_FALSE(waited.started);
    EXPECT_EQ(waited.error, GetParam().error);
    EXPECT_EQ(waited.exitCode, -1);

    const SpawnResult detached = Starter().StartDetached(request);
    EXPECT_FALSE(detached.started);
    EXPECT_EQ(detached.error, GetParam().error);
}

const NotStartedCase kNotStartedCases[] = {
    {"BareNameNotOnPath", "parlatto-no-such-program", "", ENOENT},
    {"AbsolutePathMissing", "/nonexistent/parlatto/program", "", ENOENT},
    {"NotExecutable", "@/not-executable", "", EACCES},
    {"WorkingDirMissing", "/bin/sh", "@/missing", ENOENT},
};

INSTANTIATE_TEST_SUITE_P(Process, ProcessNotStartedTest, ::testing::ValuesIn(kNotStartedCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ProcessTest, ChildRunsInWorkingDir) {
    ASSERT_EQ(::mkdir(P("work").c_str(), 0700), 0);
    const SpawnResult result = Starter().RunAndWait(Shell("pwd -P > here.txt", P("work")));
    ASSERT_TRUE(result.started);
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(ReadFile(P("work/here.txt")), RealPath(P("work")) + "\n");
}

struct RoutingCase {
    const char* name;
    OutputRouting output;
    const char* seenOnStdout;
    const char* seenOnStderr;
};

class ProcessRoutingTest : public ProcessTest, public ::testing::WithParamInterface<RoutingCase> {};

TEST_P(ProcessRoutingTest, SendsChildOutputWhereAsked) {
    SpawnResult result;
    {
        RedirectedFd out(STDOUT_FILENO, P("stdout.txt"));
        RedirectedFd err(STDERR_FILENO, P("stderr.txt"));
        result = Starter().RunAndWait(Shell("echo out; echo err >&2", {}, GetParam().output));
    }
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(ReadFile(P("stdout.txt")), GetParam().seenOnStdout);
    EXPECT_EQ(ReadFile(P("stderr.txt")), GetParam().seenOnStderr);
}

const RoutingCase kRoutingCases[] = {
    {"Inherit", OutputRouting::Inherit, "out\n", "err\n"},
    {"ToStderr", OutputRouting::ToStderr, "", "out\nerr\n"},
    {"ToNull", OutputRouting::ToNull, "", ""},
};

INSTANTIATE_TEST_SUITE_P(Process, ProcessRoutingTest, ::testing::ValuesIn(kRoutingCases),
                         [](const auto& info) { return std::string(info.param.name); });

unsigned long long StatusMask(const std::string& status, const std::string& field) {
    const size_t at = status.find(field + ":");
    if (at == std::string::npos)
        return ~0ull;
    return std::strtoull(status.c_str() + at + field.size() + 1, nullptr, 16);
}

TEST_F(ProcessTest, ChildGetsDefaultSignalsAndEmptyMask) {
    struct sigaction ignore {
    }, oldPipe{};
    ignore.sa_handler = SIG_IGN;
    ASSERT_EQ(::sigaction(SIGPIPE, &ignore, &oldPipe), 0);
    sigset_t block, oldMask;
    sigemptyset(&block);
    sigaddset(&block, SIGUSR2);
    ASSERT_EQ(::pthread_sigmask(SIG_BLOCK, &block, &oldMask), 0);

    const SpawnResult result =
        Starter().RunAndWait(Shell("grep -E '^Sig(Ign|Blk)' /proc/self/status > signals.txt", env.Root()));

    ::pthread_sigmask(SIG_SETMASK, &oldMask, nullptr);
    ::sigaction(SIGPIPE, &oldPipe, nullptr);
    ASSERT_EQ(result.exitCode, 0);
    const std::string status = ReadFile(P("signals.txt"));
    EXPECT_EQ(StatusMask(status, "SigIgn") & (1ull << (SIGPIPE - 1)), 0u) << status;
    EXPECT_EQ(StatusMask(status, "SigBlk") & (1ull << (SIGUSR2 - 1)), 0u) << status;
}

TEST_F(ProcessTest, ChildStdinIsDevNull) {
    int fds[2];
    ASSERT_EQ(::pipe2(fds, O_CLOEXEC), 0);
    SpawnResult result;
    {
        // This process reads a pipe, which the child must not inherit.
        const int saved = ::dup(STDIN_FILENO);
        ::dup2(fds[0], STDIN_FILENO);
        result = Starter().RunAndWait(Shell("readlink /proc/self/fd/0 > stdin.txt", env.Root()));
        ::dup2(saved, STDIN_FILENO);
        ::close(saved);
    }
    ::close(fds[0]);
    ::close(fds[1]);
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(ReadFile(P("stdin.txt")), "/dev/null\n");
}

TEST_F(ProcessTest, DetachedChildRunsInOwnSessionAndIsReaped) {
    ASSERT_EQ(::mkdir(P("d").c_str(), 0700), 0);
    // The child waits for "go", so the start must return while it still runs.
    const char* script =
        "i=0; while [ ! -e go ] && [ $i -lt 600 ]; do sleep 0.05; i=$((i+1)); done; "
        "read -r stat < /proc/$$/stat; echo \"$$ $stat\" > stat.tmp && mv stat.tmp stat.txt";
    const SpawnResult result = Starter().StartDetached(Shell(script, P("d")));
    ASSERT_TRUE(result.started);
    EXPECT_EQ(result.exitCode, -1);
    EXPECT_FALSE(Exists(P("d/stat.txt")));

    WriteFile(P("d/go"), "");
    ASSERT_TRUE(testenv::WaitUntil([&] { return Exists(P("d/stat.txt")); }));

    // "<pid> <pid> (comm) state ppid pgrp session ..."; comm may hold spaces, so skip past ')'.
    const std::string line = ReadFile(P("d/stat.txt"));
    std::istringstream head(line);
    long pid = 0;
    head >> pid;
    std::istringstream fields(line.substr(line.rfind(')') + 1));
    std::string state;
    long ppid = 0, pgrp = 0, session = 0;
    fields >> state >> ppid >> pgrp >> session;
    ASSERT_GT(pid, 0) << line;
    EXPECT_EQ(session, pid) << line;
    EXPECT_EQ(pgrp, pid) << line;
    EXPECT_NE(session, static_cast<long>(::getsid(0)));

    // Once it ends, nothing of it lingers, not even a zombie.
    EXPECT_TRUE(testenv::WaitUntil([&] { return !Exists("/proc/" + std::to_string(pid)); }));
}

}  // namespace
