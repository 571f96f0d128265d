#include "maintenance/update_checker.h"

#include "core/paths.h"
#include "platform/message.h"
#include "support/loopback_server.h"
#include "support/test_env.h"

#include <curl/curl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace {

using testenv::WriteFile;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

// Known SHA-1 values, so that the checker's digests are not compared with themselves.
constexpr char kSha1Abc[] = "a9993e364706816aba3e25717850c26c9cd0d89d";
constexpr char kSha1Empty[] = "da39a3ee5e6b4b0d3255bfef95601890afd80709";
constexpr char kSha1Fox[] = "2fd4e1c67a2d28fced849ee1bb76e7391b93eb12";
constexpr char kSha1MillionA[] = "34aa973cd4c4daa4f61eeb2bdbad27316534016f";
constexpr char kFox[] = "The quick brown fox jumps over the lazy dog";

struct Status {
    std::uintptr_t code;
    std::optional<std::string> notice;  // nullopt: the message carried no payload
    bool operator==(const Status&) const = default;
};

void PrintTo(const Status& s, std::ostream* os) {
    *os << "{" << s.code << ", " << (s.notice ? "\"" + *s.notice + "\"" : std::string("none")) << "}";
}

Status Notice(std::uintptr_t code, std::string text) {
    return {code, std::move(text)};
}
Status Bare(std::uintptr_t code) {
    return {code, std::nullopt};
}

std::string VersionDocument(const std::string& latest, const std::string& minimum) {
    return R"({"latest-version":")" + latest + R"(","minimum-required":")" + minimum + R"("})";
}

std::string FileObject(const std::string& path, const std::string& digest, int size = 3) {
    return R"({"path":")" + path + R"(","size":)" + std::to_string(size) + R"(,"digest":")" + digest +
           R"("})";
}

class UpdateCheckerTest : public testenv::TempEnvTest {
protected:
    static void SetUpTestSuite() {
        static std::once_flag once;
        std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    }

    UpdateCheckerTest() {
        PubUtils::GetDataDir();
        SetSettings("UpdateUrl=" + server.Url(""));
        server.SetReply("/version/Parlatto", {200, "application/json", VersionDocument("1.0.7", "1.0.5")});
        server.SetReply("/latest/Parlatto", {200, "application/json", R"({"files":[]})"});
    }

    void SetSettings(const std::string& lines) {
        WriteFile(env.DataDir() + "/config.ini", "[Parlatto]\n" + lines + "\n");
    }
    void WriteVersionFile(const std::string& content) { WriteFile(env.DataDir() + "/ver", content); }
    void ServeLatest(const std::string& files) {
        server.SetReply("/latest/Parlatto", {200, "application/json", R"({"files":[)" + files + "]}"});
    }
    void Install(const std::string& path, const std::string& content) {
        const std::string full = env.ExeDir() + "/" + path;
        for (size_t slash = full.find('/', env.ExeDir().size() + 1); slash != std::string::npos;
             slash = full.find('/', slash + 1))
            ::mkdir(full.substr(0, slash).c_str(), 0700);
        WriteFile(full, content);
    }

    // Starts a check and takes `count` messages.
    std::vector<Status> Check(size_t count) {
        checker = std::make_unique<UpdateChecker>();
        checker->SetNotifyWindow(queue.Handle());
        EXPECT_TRUE(checker->StartCheck());
        return Take(count);
    }
    std::vector<Status> Take(size_t count) {
        std::vector<Status> taken;
        while (taken.size() < count) {
            std::optional<platform::Message> m = queue.Wait(std::chrono::seconds(10));
            if (!m)
                break;
            EXPECT_EQ(m->id, WM_UPDATE_STATUS);
            const UpdateNotice* notice = m->PayloadAs<UpdateNotice>();
            EXPECT_TRUE(notice || !m->payload) << "a payload of another type";
            taken.push_back({m->wParam, notice ? std::optional(notice->text) : std::nullopt});
        }
        return taken;
    }
    std::vector<std::string> Targets() {
        std::vector<std::string> targets;
        for (const auto& r : server.Requests())
            targets.push_back(r.target);
        return targets;
    }

    testenv::LoopbackServer server;
    platform::MessageQueue queue;
    std::unique_ptr<UpdateChecker> checker;
};

TEST_F(UpdateCheckerTest, SendsTwoPlainGetsWithCurlsOwnAgent) {
    WriteVersionFile(R"({"version":"1.0.6","files":[]})");

    EXPECT_THAT(Check(2), ElementsAre(Notice(UPDATE_VERSION, "1.0.7"), Bare(UPDATE_NONE)));

    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].target, "/version/Parlatto");
    EXPECT_EQ(requests[1].target, "/latest/Parlatto");
    for (const auto& r : requests) {
        EXPECT_EQ(r.method, "GET");
        EXPECT_EQ(r.Header("User-Agent"), curl_version());
        EXPECT_EQ(r.Header("Accept-Encoding"), "deflate");
    }
}

TEST_F(UpdateCheckerTest, ComparesVersionsAsTexts) {
    const struct {
        std::optional<std::string> local;  // nullopt: the version file has no "version"
        std::string latest, minimum;
        bool newer, must;
    } cases[] = {
        {"1.0.6", "1.0.7", "1.0.5", true, false},    {"1.0.4", "1.0.7", "1.0.5", true, true},
        {"1.0.6", "1.0.6", "1.0.5", false, false},  // 1.0.6.json is not below 1.0.6
        {"1.0", "1.0.1", "1.0.1", false, false},    // j sorts after 1
        {"1.0.9", "1.0.10", "1.0.10", false, false}, {std::nullopt, "1.0.7", "1.0.5", true, true},
        {"1.0.6", "1.0.7", "", true, false},  // nothing is below an empty text
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.local.value_or("(none)") + " against " + c.latest + " / " + c.minimum);
        server.SetReply("/version/Parlatto", {200, "application/json", VersionDocument(c.latest, c.minimum)});
        WriteVersionFile(c.local ? R"({"version":")" + *c.local + R"(","files":[]})" : R"({"files":[]})");
        const size_t before = server.Requests().size();

        EXPECT_THAT(Check(2), ElementsAre(Notice(UPDATE_VERSION, c.latest), Bare(UPDATE_NONE)));

        EXPECT_TRUE(checker->HasRemoteVersion());
        EXPECT_EQ(checker->HasNewerVersion(), c.newer);
        EXPECT_EQ(checker->MustUpdate(), c.must);
        // Only a newer version is worth the file list.
        EXPECT_EQ(server.Requests().size() - before, c.newer ? 2u : 1u);
    }
}

TEST_F(UpdateCheckerTest, ScansTheInstallationWhenNoVersionFileExists) {
    Install("a.txt", "abc");
    Install("empty", "");
    Install("sub/fox", kFox);
    Install("sub/deeper/big", std::string(1000000, 'a'));  // many 4096-byte blocks
    Install("Logs/kept", "abc");                           // the skip is case-sensitive
    Install("logfile", "abc");                             // a file, not a folder
    Install("logs/skipped", "abc");
    Install("log/skipped", "abc");
    ServeLatest(FileObject("a.txt", kSha1Abc) + "," + FileObject("empty", kSha1Empty) + "," +
                FileObject("sub/fox", kSha1Fox) + "," + FileObject("sub/deeper/big", kSha1MillionA) + "," +
                FileObject("Logs/kept", kSha1Abc) + "," + FileObject("logfile", kSha1Abc));

    const std::vector<Status> got = Check(6);

    ASSERT_EQ(got.size(), 6u);
    EXPECT_EQ(got[0], Notice(UPDATE_VERSION, "1.0.7"));
    EXPECT_EQ(got[1], Notice(UPDATE_SCANNING, env.ExeDir()));
    std::set<std::string> scanned;
    for (size_t i = 2; i < 5; ++i) {
        EXPECT_EQ(got[i].code, UPDATE_SCANNING);
        scanned.insert(got[i].notice.value_or(""));
    }
    EXPECT_EQ(scanned, (std::set<std::string>{env.ExeDir() + "/sub", env.ExeDir() + "/sub/deeper",
                                              env.ExeDir() + "/Logs"}));
    // Any file of the skipped folders, or any wrong digest, would leave something to update.
    EXPECT_EQ(got[5], Bare(UPDATE_NONE));
    EXPECT_TRUE(checker->HasNewerVersion());
    EXPECT_TRUE(checker->MustUpdate());
}

TEST_F(UpdateCheckerTest, ScanFollowsLinksOnceAndPassesOverPipes) {
    Install("real/fox", kFox);
    Install("a.txt", "abc");
    ASSERT_EQ(::symlink("real", (env.ExeDir() + "/linked").c_str()), 0);
    ASSERT_EQ(::symlink("..", (env.ExeDir() + "/real/up").c_str()), 0);  // a loop back to the top
    ASSERT_EQ(::symlink("a.txt", (env.ExeDir() + "/same.txt").c_str()), 0);
    ASSERT_EQ(::mkfifo((env.ExeDir() + "/pipe").c_str(), 0600), 0);  // opening it would wait forever
    ServeLatest(FileObject("a.txt", kSha1Abc) + "," + FileObject("same.txt", kSha1Abc) + "," +
                FileObject("real/fox", kSha1Fox) + "," + FileObject("linked/fox", kSha1Fox));

    const std::vector<Status> got = Check(5);

    ASSERT_EQ(got.size(), 5u);
    std::multiset<std::string> scanned;
    for (size_t i = 1; i < 4; ++i)
        scanned.insert(got[i].notice.value_or(""));
    EXPECT_EQ(scanned,
              (std::multiset<std::string>{env.ExeDir(), env.ExeDir() + "/linked", env.ExeDir() + "/real"}));
    EXPECT_EQ(got[4], Bare(UPDATE_NONE));
}

TEST_F(UpdateCheckerTest, ScanFindsAnInstalledFileTheListDoesNotName) {
    Install("a.txt", "abc");
    Install("extra", "abc");
    ServeLatest(FileObject("a.txt", kSha1Abc));

    EXPECT_THAT(Check(3), ElementsAre(Notice(UPDATE_VERSION, "1.0.7"), Notice(UPDATE_SCANNING, env.ExeDir()),
                                      Bare(UPDATE_AVAILABLE)));
}

TEST_F(UpdateCheckerTest, ComparesTheListWithTheTrustedVersionFile) {
    const std::string same = FileObject("a.txt", kSha1Abc) + "," + FileObject("sub/b", kSha1Fox);
    const struct {
        const char* name;
        std::string localFiles;
        std::string latestFiles;
        std::uintptr_t result;
        std::string notes;
    } cases[] = {
        {"same files", same, same, UPDATE_NONE, ""},
        {"extra installed file", same + "," + FileObject("old", kSha1Abc), same, UPDATE_AVAILABLE, ""},
        {"new file", same, same + "," + FileObject("new", kSha1Abc), UPDATE_AVAILABLE,
         "file new is a new file\n"},
        {"changed digest", same, FileObject("a.txt", kSha1Fox) + "," + FileObject("sub/b", kSha1Fox),
         UPDATE_AVAILABLE, "file a.txt need to be updated\n"},
        {"upper-case digest", same,
         FileObject("a.txt", "A9993E364706816ABA3E25717850C26C9CD0D89D") + "," +
             FileObject("sub/b", kSha1Fox),
         UPDATE_NONE, ""},
        {"size alone differs", same,
         FileObject("a.txt", kSha1Abc, 99) + "," + FileObject("sub/b", kSha1Fox, 1), UPDATE_NONE, ""},
        {"path case differs", same, FileObject("A.txt", kSha1Abc) + "," + FileObject("sub/b", kSha1Fox),
         UPDATE_AVAILABLE, "file A.txt is a new file\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        WriteVersionFile(R"({"version":"1.0.6","files":[)" + c.localFiles + "]}");
        ServeLatest(c.latestFiles);
        ::testing::internal::CaptureStdout();

        const std::vector<Status> got = Check(2);

        EXPECT_EQ(::testing::internal::GetCapturedStdout(), c.notes);
        EXPECT_THAT(got, ElementsAre(Notice(UPDATE_VERSION, "1.0.7"), Bare(c.result)));
    }
}

TEST_F(UpdateCheckerTest, BrokenVersionFileMakesEveryFileNewWithoutAScan) {
    Install("a.txt", "abc");
    WriteVersionFile("{not json");
    ServeLatest(FileObject("a.txt", kSha1Abc));
    ::testing::internal::CaptureStdout();

    const std::vector<Status> got = Check(2);

    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "file a.txt is a new file\n");
    EXPECT_THAT(got, ElementsAre(Notice(UPDATE_VERSION, "1.0.7"), Bare(UPDATE_AVAILABLE)));
    EXPECT_TRUE(checker->MustUpdate());
}

TEST_F(UpdateCheckerTest, VersionRequestFailures) {
    const struct {
        const char* name;
        int status;
        std::string body;
        std::vector<Status> expected;
    } cases[] = {
        {"not found", 404, "", {Notice(UPDATE_FAILED, ""), Notice(UPDATE_FAILED, "")}},
        {"no minimum", 200, R"({"latest-version":"1.0.7"})", {Notice(UPDATE_FAILED, "")}},
        {"number instead of text",
         200,
         R"({"latest-version":107,"minimum-required":"1.0.5"})",
         {Notice(UPDATE_FAILED, "")}},
        {"not an object", 200, R"(["1.0.7","1.0.5"])", {Notice(UPDATE_FAILED, "")}},
        {"bad code, good body",
         500,
         VersionDocument("1.0.6", "1.0.5"),
         {Notice(UPDATE_FAILED, ""), Notice(UPDATE_VERSION, "1.0.6"), Bare(UPDATE_NONE)}},
    };
    WriteVersionFile(R"({"version":"1.0.6","files":[]})");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        server.SetReply("/version/Parlatto", {c.status, "application/json", c.body});

        EXPECT_EQ(Check(c.expected.size()), c.expected);

        EXPECT_EQ(checker->HasRemoteVersion(), c.status == 500);
        EXPECT_FALSE(checker->HasNewerVersion());
        EXPECT_FALSE(checker->MustUpdate());
        EXPECT_FALSE(queue.TryTake().has_value());
    }
}

TEST_F(UpdateCheckerTest, UnreachableServerFailsTwiceAndAnswersNo) {
    SetSettings("UpdateUrl=http://127.0.0.1:" + std::to_string(testenv::UnusedLoopbackPort()));

    EXPECT_THAT(Check(2), ElementsAre(Notice(UPDATE_FAILED, ""), Notice(UPDATE_FAILED, "")));

    EXPECT_FALSE(checker->HasRemoteVersion());
    EXPECT_FALSE(checker->HasNewerVersion());
    EXPECT_FALSE(checker->MustUpdate());
    EXPECT_FALSE(queue.TryTake().has_value());
}

TEST_F(UpdateCheckerTest, LatestListWithABadCodeIsStillCompared) {
    WriteVersionFile(R"({"version":"1.0.6","files":[)" + FileObject("a", kSha1Abc) + "]}");
    server.SetReply("/latest/Parlatto",
                    {503, "application/json", R"({"files":[)" + FileObject("a", kSha1Abc) + "]}"});

    EXPECT_THAT(Check(3),
                ElementsAre(Notice(UPDATE_VERSION, "1.0.7"), Notice(UPDATE_FAILED, ""), Bare(UPDATE_NONE)));
}

TEST_F(UpdateCheckerTest, LatestListThatIsNoObjectEndsTheCheckSilently) {
    const struct {
        std::string body;
        std::string notes;
    } cases[] = {
        {"{broken", "parse latest version error: "},
        {"[1,2]", ""},
        {"null", ""},
    };
    WriteVersionFile(R"({"version":"1.0.6","files":[]})");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.body);
        server.SetReply("/latest/Parlatto", {200, "application/json", c.body});
        ::testing::internal::CaptureStdout();

        EXPECT_THAT(Check(1), ElementsAre(Notice(UPDATE_VERSION, "1.0.7")));

        // Absence can only be shown by waiting a little; the check has no later message to wait for.
        EXPECT_FALSE(queue.Wait(std::chrono::milliseconds(300)).has_value());
        const std::string out = ::testing::internal::GetCapturedStdout();
        if (c.notes.empty())
            EXPECT_EQ(out, "");
        else
            EXPECT_THAT(out, HasSubstr(c.notes));
        EXPECT_TRUE(checker->HasNewerVersion());
    }
}

TEST_F(UpdateCheckerTest, SettingsAreCutAt49Characters) {
    const std::string base = server.Url("/");
    const std::string pathPart(49 - base.size(), 'p');
    const std::string app(49, 'n');
    SetSettings("UpdateUrl=" + base + pathPart + "CUT\nAppName=" + app + "CUT");
    server.SetReply("", {200, "application/json", VersionDocument("1.0.6", "1.0.5")});
    WriteVersionFile(R"({"version":"1.0.6"})");

    EXPECT_THAT(Check(2), ElementsAre(Notice(UPDATE_VERSION, "1.0.6"), Bare(UPDATE_NONE)));

    EXPECT_THAT(Targets(), ElementsAre("/" + pathPart + "/version/" + app));
}

TEST_F(UpdateCheckerTest, SettingsAreReadOnceAtConstruction) {
    WriteVersionFile(R"({"version":"1.0.6"})");
    checker = std::make_unique<UpdateChecker>();
    SetSettings("UpdateUrl=http://127.0.0.1:" + std::to_string(testenv::UnusedLoopbackPort()));
    checker->SetNotifyWindow(queue.Handle());
    checker->StartCheck();

    EXPECT_THAT(Take(2), ElementsAre(Notice(UPDATE_VERSION, "1.0.7"), Bare(UPDATE_NONE)));
}

class UpdateCheckerConcurrency : public UpdateCheckerTest {};

TEST_F(UpdateCheckerConcurrency, QueriesDuringTheCheckSeeWholeTexts) {
    Install("a", "abc");
    ServeLatest(FileObject("b", kSha1Abc));
    checker = std::make_unique<UpdateChecker>();
    checker->SetNotifyWindow(queue.Handle());
    checker->StartCheck();

    std::vector<std::uintptr_t> codes;
    bool reportedBeforeWritten = false;
    ASSERT_TRUE(testenv::WaitUntil([&] {
        checker->HasRemoteVersion();
        checker->HasNewerVersion();
        checker->MustUpdate();
        while (std::optional<platform::Message> m = queue.TryTake()) {
            codes.push_back(m->wParam);
            if (m->wParam == UPDATE_VERSION && !checker->HasRemoteVersion())
                reportedBeforeWritten = true;
        }
        return !codes.empty() && codes.back() == UPDATE_AVAILABLE;
    }));
    EXPECT_FALSE(reportedBeforeWritten);
    EXPECT_THAT(codes, ElementsAre(UPDATE_VERSION, UPDATE_SCANNING, UPDATE_AVAILABLE));
    EXPECT_TRUE(checker->MustUpdate());
}

TEST_F(UpdateCheckerConcurrency, CheckerMayGoWhileItsThreadRuns) {
    // The slow answer keeps the thread inside the check after the checker is gone.
    server.SetReply("/version/Parlatto", {200, "application/json", VersionDocument("1.0.7", "1.0.5"),
                                          std::chrono::milliseconds(200)});
    Install("a", "abc");
    ServeLatest(FileObject("a", kSha1Abc));
    Check(0);
    checker.reset();

    EXPECT_THAT(Take(3), ElementsAre(Notice(UPDATE_VERSION, "1.0.7"), Notice(UPDATE_SCANNING, env.ExeDir()),
                                     Bare(UPDATE_NONE)));
}

}  // namespace
