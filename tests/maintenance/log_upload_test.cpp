#include "maintenance/log_upload_check.h"

#include "core/logger.h"
#include "core/paths.h"
#include "core/settings.h"
#include "core/text_convert.h"
#include "maintenance/up_load_log.h"
#include "support/loopback_server.h"
#include "support/test_env.h"
#include "support/zip_reader.h"

#include <curl/curl.h>
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <linux/stat.h>
#include <string>
#include <thread>
#include <vector>

namespace {

using testenv::Exists;
using testenv::ReadFile;
using testenv::WriteFile;
using ::testing::HasSubstr;

using Entry = testenv::ZipEntry;

class LogUploadTest : public testenv::TempEnvTest {
protected:
    LogUploadTest() {
        clock.SetLocal(2019, 3, 8, 10, 15, 42);
        dataDir = PubUtils::GetDataDir();
        dumpDir = dataDir + "/crashDumps";
        ::mkdir(dumpDir.c_str(), 0700);
        WriteFile(LogFile(), "earlier run\r\n");
        WriteFile(dataDir + "/keys", "API SECRET\n");
        PubUtils::SetLogUploadUrlForTesting(server.Url("/upload"));
    }
    ~LogUploadTest() override {
        EXPECT_TRUE(CUpLoadLog::WaitForUploadsForTesting(std::chrono::seconds(30)));
        PubUtils::SetLogUploadUrlForTesting({});
    }

    std::string LogFile() const { return dataDir + "/Parlatto.log"; }
    std::string Archive() const { return dataDir + "/Temp/Parlatto20190308_101542Log.zip"; }

    // Oldest first.
    std::vector<std::string> MakeDumps(int count) {
        std::vector<std::string> dumps;
        long long last = 0;
        for (int i = 0; i < count; ++i) {
            dumps.push_back(dumpDir + "/dump" + std::to_string(i) + ".dmp");
            testenv::CreateAfterTheLast(dumps.back(), "dump " + dumps.back(), last);
        }
        return dumps;
    }

    void CheckAndWait(bool force = false) {
        PubUtils::CheckLogUpload(dataDir, force);
        ASSERT_TRUE(CUpLoadLog::WaitForUploadsForTesting(std::chrono::seconds(30)));
    }

    static std::string Stamp() { return WideToAnsi(ReadConfigString(L"UploadLogTime", L"0", 50)); }

    testenv::FakeClock clock;
    testenv::LoopbackServer server;
    std::string dataDir;
    std::string dumpDir;
};

TEST_F(LogUploadTest, WithoutDumpsNothingHappens) {
    ::rmdir(dumpDir.c_str());
    CheckAndWait();
    ::mkdir(dumpDir.c_str(), 0700);
    ::mkdir((dumpDir + "/a-folder").c_str(), 0700);
    CheckAndWait();

    EXPECT_TRUE(server.Requests().empty());
    EXPECT_FALSE(Exists(dataDir + "/config.ini"));
    EXPECT_EQ(Stamp(), "0");
    EXPECT_FALSE(Exists(dataDir + "/Temp"));
}

TEST_F(LogUploadTest, UploadsTheFourNewestDumpsAndDeletesThem) {
    const std::vector<std::string> dumps = MakeDumps(6);
    server.SetReply("/upload", {200, "text/plain", "stored"});
    CheckAndWait();

    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(Exists(dumps[i]), i < 2) << dumps[i];
    EXPECT_EQ(Stamp(), "201903081015");

    const std::vector<testenv::RecordedRequest> requests = server.Requests();
    ASSERT_EQ(requests.size(), 1u);
    const testenv::RecordedRequest& post = requests[0];
    EXPECT_EQ(post.method, "POST");
    EXPECT_EQ(post.target, "/upload");
    EXPECT_EQ(post.Header("User-Agent"), curl_version());
    EXPECT_THAT(post.Header("Content-Type"), HasSubstr("multipart/form-data; boundary="));
    ASSERT_EQ(post.parts.size(), 2u);
    EXPECT_EQ(post.parts[0].name, "file");
    EXPECT_EQ(post.parts[0].fileName, "Parlatto20190308_101542Log.zip");
    EXPECT_EQ(post.parts[0].contentType, "application/octet-stream");
    EXPECT_EQ(post.parts[0].content, ReadFile(Archive()));
    EXPECT_EQ(post.parts[1].name, "reqformat");
    EXPECT_EQ(post.parts[1].fileName, "");
    EXPECT_EQ(post.parts[1].content, "plain");
}

TEST_F(LogUploadTest, ArchiveHoldsTheDumpsNewestFirstThenLogAndSettings) {
    const std::vector<std::string> dumps = MakeDumps(5);
    CheckAndWait();

    const std::string settings = ReadFile(dataDir + "/config.ini");
    EXPECT_THAT(settings, HasSubstr("201903081015")) << "stored before the archive is made";
    EXPECT_EQ(testenv::ReadZip(Archive()), (std::vector<Entry>{{"dump4.dmp", "dump " + dumps[4]},
                                                               {"dump3.dmp", "dump " + dumps[3]},
                                                               {"dump2.dmp", "dump " + dumps[2]},
                                                               {"dump1.dmp", "dump " + dumps[1]},
                                                               {"Parlatto.log", "earlier run\r\n"},
                                                               {"config.ini", settings}}));
}

TEST_F(LogUploadTest, MissingLogFileFailsTheArchiveButTheDumpsAreDeleted) {
    const std::vector<std::string> dumps = MakeDumps(2);
    ::unlink(LogFile().c_str());
    // A copy from an earlier run must not stand in for the missing file.
    ::mkdir((dataDir + "/Temp").c_str(), 0700);
    WriteFile(dataDir + "/Temp/Parlatto.log", "stale copy");
    CheckAndWait();

    EXPECT_TRUE(server.Requests().empty());
    EXPECT_FALSE(Exists(dumps[0]));
    EXPECT_FALSE(Exists(dumps[1]));
    EXPECT_EQ(Stamp(), "201903081015");
    // The entries before the failing file stay on disk.
    EXPECT_EQ(testenv::ReadZip(Archive()),
              (std::vector<Entry>{{"dump1.dmp", "dump " + dumps[1]}, {"dump0.dmp", "dump " + dumps[0]}}));
}

struct FailedUpload {
    const char* name;
    bool reachable;
    int status;
    std::string expected;  // the start of the entry's text
};

class LogUploadFailureTest : public LogUploadTest, public ::testing::WithParamInterface<FailedUpload> {};

TEST_P(LogUploadFailureTest, LeavesAWarningInTheLog) {
    const FailedUpload& param = GetParam();
    if (!param.reachable)
        PubUtils::SetLogUploadUrlForTesting(
            "http://127.0.0.1:" + std::to_string(testenv::UnusedLoopbackPort()) + "/upload");
    server.SetReply("/upload", {param.status, "text/plain", "no"});
    MakeDumps(1);
    Logger::ReopenGlobalForTesting();
    CheckAndWait();

    EXPECT_THAT(ReadFile(LogFile()),
                HasSubstr("]CUpLoadLog::DoWork:\t\tupload log error. " + param.expected));
    EXPECT_TRUE(Exists(Archive()));
}

INSTANTIATE_TEST_SUITE_P(
    Failures, LogUploadFailureTest,
    ::testing::Values(FailedUpload{"Unreachable", false, 200, "code=7, response code=0, Failed to connect"},
                      FailedUpload{"NotOk", true, 500, "code=0, response code=500, \r\n"}),
    [](const auto& info) { return std::string(info.param.name); });

struct Spacing {
    const char* name;
    const char* stored;
    int day, hour, minute;  // now, in March 2019
    bool force;
    bool uploads;
};

class LogUploadSpacingTest : public LogUploadTest, public ::testing::WithParamInterface<Spacing> {};

TEST_P(LogUploadSpacingTest, MinuteStampsDifferByAtLeast60) {
    const Spacing& param = GetParam();
    WriteConfigString(L"UploadLogTime", AnsiToWide(param.stored));
    clock.SetLocal(2019, 3, param.day, param.hour, param.minute, 5);
    const std::vector<std::string> dumps = MakeDumps(2);
    CheckAndWait(param.force);

    char now[16];
    std::snprintf(now, sizeof now, "201903%02d%02d%02d", param.day, param.hour, param.minute);
    EXPECT_EQ(server.Requests().size(), param.uploads ? 1u : 0u);
    EXPECT_EQ(Stamp(), param.uploads ? std::string(now) : std::string(param.stored));
    EXPECT_EQ(Exists(dumps[0]), !param.uploads);
    EXPECT_EQ(Exists(dumps[1]), !param.uploads);
}

INSTANTIATE_TEST_SUITE_P(
    Stamps, LogUploadSpacingTest,
    ::testing::Values(Spacing{"SameHour", "201903081000", 8, 10, 59, false, false},
                      Spacing{"NextHour", "201903081000", 8, 11, 0, false, true},
                      Spacing{"TwentyMinutesAcrossTheHour", "201903081055", 8, 11, 15, false, true},
                      Spacing{"OneMinuteAcrossMidnight", "201903082359", 9, 0, 0, false, true},
                      Spacing{"StampInTheFuture", "201903091000", 8, 10, 0, false, false},
                      Spacing{"ForcedDespiteARecentStamp", "201903081000", 8, 10, 1, true, true},
                      Spacing{"TextWithoutDigits", "never", 8, 10, 0, false, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(LogUploadTest, ArchiveTakesTheFirstTwentyFiles) {
    std::vector<std::string> files;
    std::vector<Entry> expected;
    for (int i = 0; i < 25; ++i) {
        const std::string name = "file" + std::to_string(i) + ".txt";
        files.push_back(env.Root() + "/" + name);
        WriteFile(files.back(), name);
        if (i < 20)
            expected.push_back({name, name});
    }
    ::unlink(files[22].c_str());  // beyond the first twenty, so it does not fail the archive

    EXPECT_EQ(CUpLoadLog::CreateArchive(files), Archive());
    EXPECT_EQ(testenv::ReadZip(Archive()), expected);
    EXPECT_EQ(CUpLoadLog::CreateArchive({}), "");
}

}  // namespace
