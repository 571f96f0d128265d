#include "platform/process_info.h"

#include "support/test_env.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <thread>

namespace {

// Sets a variable, or unsets it for nullptr; the fixture restores the ones it owns.
void SetVariable(const char* name, const char* value) {
    if (value)
        ::setenv(name, value, 1);
    else
        ::unsetenv(name);
}

using ProcessInfoTest = testenv::TempEnvTest;

TEST_F(ProcessInfoTest, UserDataHomeTakesAbsoluteXdgElseHome) {
    const struct {
        const char* xdg;
        const char* home;
        const char* expected;
    } cases[] = {
        {"/data/x", "/home/u", "/data/x"},
        {"/data/x//", "/home/u", "/data/x"},
        {"relative/x", "/home/u", "/home/u/.local/share"},
        {"", "/home/u", "/home/u/.local/share"},
        {nullptr, "/home/u/", "/home/u/.local/share"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.xdg ? c.xdg : "(unset)") + " / " + c.home);
        SetVariable("XDG_DATA_HOME", c.xdg);
        SetVariable("HOME", c.home);
        EXPECT_EQ(platform::UserDataHome(), c.expected);
    }
}

TEST_F(ProcessInfoTest, RuntimeDirAndTempBaseNeedAbsolutePaths) {
    const struct {
        const char* value;
        const char* runtimeDir;
        const char* tempBase;
    } cases[] = {
        {"/run/user/7/", "/run/user/7", "/run/user/7"},
        {"/", "/", "/"},
        {"relative", "", "/tmp"},
        {"", "", "/tmp"},
        {nullptr, "", "/tmp"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value ? c.value : "(unset)");
        SetVariable("XDG_RUNTIME_DIR", c.value);
        SetVariable("TMPDIR", c.value);
        EXPECT_EQ(platform::UserRuntimeDir(), c.runtimeDir);
        EXPECT_EQ(platform::TempBase(), c.tempBase);
    }
}

TEST_F(ProcessInfoTest, ThreadIdIsPerThread) {
    EXPECT_EQ(platform::ThreadId(), static_cast<int>(::getpid()));
    int other = 0;
    std::thread([&] { other = platform::ThreadId(); }).join();
    EXPECT_GT(other, 0);
    EXPECT_NE(other, platform::ThreadId());
}

TEST_F(ProcessInfoTest, ExecutablePathNamesThisProgram) {
    const std::string path = platform::ExecutablePath();
    ASSERT_FALSE(path.empty());
    EXPECT_EQ(path[0], '/');
    EXPECT_EQ(path.substr(path.rfind('/') + 1), "test_platform");
}

}  // namespace
