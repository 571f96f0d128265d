// Crash dumps, each case in a child process (the probe) that installs the handler and fails; the
// dumps are read back with the format's reference tools (minidump_stackwalk, lldb).

#include "platform/clock.h"
#include "platform/process.h"
#include "support/test_env.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::Not;

const std::string kTools = PARLATTO_MINIDUMP_TOOLS;

// A zone half an hour off any whole-hour zone, so that a wrong conversion shows in the name.
constexpr char kZone[] = "<+0530>-5:30";

std::string Quote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

std::string Capture(const std::string& command) {
    std::string output;
    if (FILE* pipe = ::popen((command + " 2>/dev/null").c_str(), "r")) {
        char buffer[4096];
        size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
            output.append(buffer, n);
        ::pclose(pipe);
    }
    return output;
}

std::string LocalStamp(time_t when) {
    return platform::FormatLocalTime(when, "%Y%m%d%H%M%S");
}

std::vector<std::string> Names(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(folder, error))
        names.push_back(entry.path().filename().string());
    return names;
}

// The part of minidump_stackwalk's report that belongs to one thread.
std::string ThreadSection(const std::string& report, const std::string& heading) {
    const size_t start = report.find(heading);
    if (start == std::string::npos)
        return {};
    size_t end = report.find("\nThread ", start + 1);
    const size_t modules = report.find("\nLoaded modules:", start + 1);
    if (end == std::string::npos || (modules != std::string::npos && modules < end))
        end = modules;
    return report.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

class CrashDumpTest : public testenv::TempEnvTest {
protected:
    CrashDumpTest() {
        fs::create_directories(env.DataDir());  // the program's data folder is there before the handler
    }

    std::string Folder() const { return env.DataDir() + "/crashDumps"; }

    int RunProbe(const std::string& mode, const std::string& program = CRASH_PROBE) {
        platform::SpawnRequest request;
        request.program = program;
        request.args = {mode, Folder()};
        request.output = platform::OutputRouting::ToNull;
        before_ = ::time(nullptr);
        const platform::SpawnResult result = platform::DefaultProcessStarter().RunAndWait(request);
        after_ = ::time(nullptr);
        EXPECT_TRUE(result.started);
        return result.exitCode;
    }

    // The one dump of the folder; its name must be the local time of the crash.
    std::string OnlyDump(const std::string& folder, const std::string& prefix = "") {
        const std::vector<std::string> names = Names(folder);
        std::string escaped;
        for (char c : prefix)
            escaped += c == '.' ? std::string("\\.") : std::string(1, c);
        const std::regex pattern(escaped + "[0-9]{14}\\.dmp");
        std::vector<std::string> dumps;
        for (const std::string& name : names)
            if (std::regex_match(name, pattern))
                dumps.push_back(name);
        EXPECT_EQ(dumps.size(), 1u) << ::testing::PrintToString(names);
        if (dumps.size() != 1)
            return {};
        const std::string stamp = dumps[0].substr(prefix.size(), 14);
        EXPECT_GE(stamp, LocalStamp(before_));
        EXPECT_LE(stamp, LocalStamp(after_));
        return folder + "/" + dumps[0];
    }

    // Symbol files for the probe and the system libraries it runs on, laid out as the tools expect.
    std::string Symbols() {
        const std::string root = env.Root() + "/symbols";
        for (const std::string& binary :
             {std::string(CRASH_PROBE), std::string("/lib/x86_64-linux-gnu/libc.so.6"),
              std::string("/lib/x86_64-linux-gnu/libstdc++.so.6"),
              std::string("/lib/x86_64-linux-gnu/libgcc_s.so.1")}) {
            const std::string text = Capture(Quote(kTools + "/dump_syms") + " " + Quote(binary));
            char id[128] = {}, name[256] = {};
            if (std::sscanf(text.c_str(), "MODULE Linux x86_64 %127s %255s", id, name) != 2) {
                ADD_FAILURE() << "dump_syms gave no symbols for " << binary << " (run scripts/setup)";
                continue;
            }
            const std::string folder = root + "/" + name + "/" + id;
            fs::create_directories(folder);
            testenv::WriteFile(folder + "/" + name + ".sym", text);
        }
        return root;
    }

    std::string StackWalk(const std::string& dump) {
        return Capture(Quote(kTools + "/minidump_stackwalk") + " " + Quote(dump) + " " + Quote(Symbols()));
    }

    time_t before_ = 0;
    time_t after_ = 0;

private:
    testenv::ScopedTimeZone zone_{kZone};
};

struct CrashCase {
    const char* mode;
    const char* reason;
    const char* function;
    bool onWorker;
};

void PrintTo(const CrashCase& c, std::ostream* out) {
    *out << c.mode;
}

class CrashCaseTest : public CrashDumpTest, public ::testing::WithParamInterface<CrashCase> {};

TEST_P(CrashCaseTest, OneDumpNamesTheCrashingFunctionAndTheProcessEndsWithZero) {
    const CrashCase& c = GetParam();
    ASSERT_EQ(RunProbe(c.mode), 0);

    const std::string dump = OnlyDump(Folder());
    ASSERT_FALSE(dump.empty());
    const std::string report = StackWalk(dump);
    EXPECT_THAT(report, HasSubstr(std::string("Crash reason:  ") + c.reason));
    const std::string crashed =
        ThreadSection(report, c.onWorker ? "Thread 1 (crashed)" : "Thread 0 (crashed)");
    EXPECT_THAT(crashed, HasSubstr(std::string("crash_probe!") + c.function)) << report;
}

INSTANTIATE_TEST_SUITE_P(Faults, CrashCaseTest,
                         ::testing::Values(CrashCase{"null-main", "SIGSEGV", "CrashProbeWriteNull", false},
                                           CrashCase{"null-worker", "SIGSEGV", "CrashProbeWriteNull", true},
                                           CrashCase{"abort", "SIGABRT", "CrashProbeAbort", false},
                                           CrashCase{"overflow-worker", "SIGSEGV", "CrashProbeRecurse", true},
                                           CrashCase{"throw", "SIGABRT", "CrashProbeThrow", false}),
                         [](const auto& info) {
                             std::string name = info.param.mode;
                             std::erase(name, '-');
                             return name;
                         });

TEST_F(CrashDumpTest, EveryThreadIsInTheDumpWithItsStack) {
    // Three threads wait on a condition, one waits in read() with every signal blocked.
    ASSERT_EQ(RunProbe("bystanders"), 0);
    const std::string dump = OnlyDump(Folder());
    ASSERT_FALSE(dump.empty());
    const std::string report = StackWalk(dump);

    EXPECT_THAT(ThreadSection(report, "Thread 0 (crashed)"), HasSubstr("CrashProbeWriteNull"));
    for (const char* heading : {"Thread 1\n", "Thread 2\n", "Thread 3\n"})
        EXPECT_THAT(ThreadSection(report, heading), HasSubstr("pthread_cond_wait")) << heading << report;
    EXPECT_THAT(ThreadSection(report, "Thread 4\n"), HasSubstr("libc.so.6!read")) << report;
    EXPECT_THAT(report, Not(HasSubstr("Thread 5")));

    const std::string modules = report.substr(report.find("Loaded modules:"));
    EXPECT_THAT(modules, HasSubstr("crash_probe"));
    EXPECT_THAT(modules, HasSubstr("(main)"));
    EXPECT_THAT(modules, HasSubstr("libc.so.6"));

    // The other reference reader opens it too, with the signal and the function.
    const std::string lldb = Capture("lldb --no-lldbinit -b -c " + Quote(dump) + " -o 'thread list' -o bt");
    EXPECT_THAT(lldb, HasSubstr("stop reason = signal SIGSEGV"));
    EXPECT_THAT(lldb, HasSubstr("CrashProbeWriteNull"));
}

TEST_F(CrashDumpTest, ConcurrentFaultsWriteOneDump) {
    ASSERT_EQ(RunProbe("concurrent"), 0);
    const std::string dump = OnlyDump(Folder());
    ASSERT_FALSE(dump.empty());
    EXPECT_THAT(StackWalk(dump), HasSubstr("(crashed)\n 0  crash_probe!CrashProbeWriteNull"));
}

TEST_F(CrashDumpTest, AfterDetachTheSystemHandlesTheFault) {
    EXPECT_EQ(RunProbe("detached"), 128 + SIGSEGV);
    EXPECT_TRUE(Names(Folder()).empty()) << "the folder is made at installation, but stays empty";
}

TEST_F(CrashDumpTest, TheShutdownSwitchesDumpsOff) {
    EXPECT_EQ(RunProbe("after-app-exit"), 128 + SIGSEGV);
    EXPECT_TRUE(Names(Folder()).empty());
    EXPECT_THAT(testenv::ReadFile(env.DataDir() + "/Parlatto.log"), HasSubstr("app exit"));
}

TEST_F(CrashDumpTest, WithoutItsFolderTheDumpGoesBesideTheExecutable) {
    const std::string install = env.ExeDir();
    fs::create_directories(install);
    const std::string program = install + "/crash_probe";
    fs::copy_file(CRASH_PROBE, program);

    ASSERT_EQ(RunProbe("folder-removed", program), 0);

    EXPECT_FALSE(testenv::Exists(Folder()));
    const std::string dump = OnlyDump(install, "crash_probe.");
    ASSERT_FALSE(dump.empty());
    EXPECT_THAT(StackWalk(dump), HasSubstr("crash_probe!CrashProbeWriteNull"));
}

TEST_F(CrashDumpTest, AFileThatCannotBeMadeIsReportedWhenAskedAndStillEndsWithZero) {
    // Folders in the way of every name the next seconds can give.
    fs::create_directories(Folder());
    const time_t now = ::time(nullptr);
    for (int i = 0; i < 30; ++i)
        fs::create_directory(Folder() + "/" + LocalStamp(now + i) + ".dmp");

    platform::SpawnRequest request;
    request.program = "/bin/sh";
    const std::string output = env.Root() + "/stderr";
    request.args = {"-c", Quote(CRASH_PROBE) + " report-failure " + Quote(Folder()) + " 2>" + Quote(output)};
    ASSERT_EQ(platform::DefaultProcessStarter().RunAndWait(request).exitCode, 0);

    EXPECT_THAT(testenv::ReadFile(output),
                ::testing::MatchesRegex("Failed to create the mini-dump file '" + Folder() +
                                        "/[0-9]{14}\\.dmp' \\(error 21\\)\n"));
}

}  // namespace
