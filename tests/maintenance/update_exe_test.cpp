#include "maintenance/update_exe.h"

#include "core/logger.h"
#include "core/paths.h"
#include "platform/process.h"
#include "support/test_env.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

namespace {

using testenv::Exists;
using testenv::ReadFile;
using testenv::WriteFile;
using ::testing::HasSubstr;

class UpdateHandOffTest : public testenv::TempEnvTest {
protected:
    UpdateHandOffTest() {
        PubUtils::GetDataDir();
        Logger::ReopenGlobalForTesting();
    }

    std::string Source() const { return env.ExeDir() + "/AutoUpdate"; }
    std::string Copy() const { return env.ExeDir() + "/AutoUpdateTmp"; }
    std::string Marker() const { return env.Root() + "/started"; }

    // An updater that tells which file was started; the rename makes the marker appear whole.
    void InstallUpdater() {
        WriteFile(Source(), "#!/bin/sh\nprintf '%s\\n' \"$0\" > '" + Marker() + ".tmp' && mv '" + Marker() +
                                ".tmp' '" + Marker() + "'\n");
        ::chmod(Source().c_str(), 0755);
    }
    std::string StartedProgram() {
        EXPECT_TRUE(testenv::WaitUntil([&] { return Exists(Marker()); }));
        return Exists(Marker()) ? ReadFile(Marker()) : std::string();
    }
};

TEST_F(UpdateHandOffTest, StartsAFreshExecutableCopy) {
    InstallUpdater();
    WriteFile(Copy(), "left by an earlier hand-off");

    PubUtils::StartUpdateExe();

    EXPECT_EQ(StartedProgram(), Copy() + "\n");
    EXPECT_EQ(ReadFile(Copy()), ReadFile(Source()));
    struct stat st {};
    ASSERT_EQ(::stat(Copy().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0755u);
    const std::string log = ReadFile(env.DataDir() + "/Parlatto.log");
    EXPECT_THAT(log, HasSubstr("PubUtils::StartUpdateExe"));
    EXPECT_THAT(log, HasSubstr("start update app"));
}

TEST_F(UpdateHandOffTest, StartsTheOriginalWhenNoCopyCanBeMade) {
    InstallUpdater();
    // A folder in the copy's place cannot be replaced by a file.
    ::mkdir(Copy().c_str(), 0700);
    WriteFile(Copy() + "/busy", "");

    PubUtils::StartUpdateExe();

    EXPECT_EQ(StartedProgram(), Source() + "\n");
}

class RecordingStarter final : public platform::ProcessStarter {
public:
    platform::SpawnResult RunAndWait(const platform::SpawnRequest& request) override {
        waited.push_back(request);
        return {};
    }
    platform::SpawnResult StartDetached(const platform::SpawnRequest& request) override {
        detached.push_back(request);
        return {};
    }
    std::vector<platform::SpawnRequest> waited, detached;
};

TEST_F(UpdateHandOffTest, MissingUpdaterIsStillTriedOnceDetachedWithoutArguments) {
    RecordingStarter starter;

    PubUtils::StartUpdateExe(starter);

    EXPECT_TRUE(starter.waited.empty());
    ASSERT_EQ(starter.detached.size(), 1u);
    EXPECT_EQ(starter.detached[0].program, Source());
    EXPECT_TRUE(starter.detached[0].args.empty());
    EXPECT_FALSE(Exists(Copy()));
}

}  // namespace
