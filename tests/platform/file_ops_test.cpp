#include "platform/file_ops.h"

#include "support/test_env.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

namespace {

using testenv::Exists;
using testenv::ReadFile;
using testenv::WriteFile;

class ScopedUmask {
public:
    explicit ScopedUmask(mode_t mask) : old_(::umask(mask)) {}
    ~ScopedUmask() { ::umask(old_); }

private:
    mode_t old_;
};

mode_t ModeOf(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

bool IsLink(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

std::string LinkText(const std::string& path) {
    char buffer[PATH_MAX];
    const ssize_t n = ::readlink(path.c_str(), buffer, sizeof buffer);
    return n < 0 ? std::string() : std::string(buffer, static_cast<size_t>(n));
}

std::vector<std::string> ListFolder(const std::string& path) {
    std::vector<std::string> names;
    if (DIR* dir = ::opendir(path.c_str())) {
        while (dirent* entry = ::readdir(dir)) {
            const std::string name = entry->d_name;
            if (name != "." && name != "..")
                names.push_back(name);
        }
        ::closedir(dir);
    }
    std::sort(names.begin(), names.end());
    return names;
}

void Dir(const std::string& path, mode_t mode = 0700) {
    ASSERT_EQ(::mkdir(path.c_str(), mode), 0) << path;
}

void Link(const std::string& target, const std::string& path) {
    ASSERT_EQ(::symlink(target.c_str(), path.c_str()), 0) << path;
}

// Runs fn with the file permission checks in force even for root, which skips them otherwise.
// Capabilities belong to a thread, so a fresh thread drops them without touching the others.
bool RunWithPermissionChecks(const std::function<void()>& fn) {
    bool ran = false;
    std::thread([&] {
        if (::geteuid() == 0) {
            __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
            __user_cap_data_struct data[2] = {};
            if (::syscall(SYS_capget, &header, data) != 0)
                return;
            for (int cap : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH, CAP_FOWNER})
                data[cap / 32].effective &= ~(1u << (cap % 32));
            if (::syscall(SYS_capset, &header, data) != 0)
                return;
        }
        fn();
        ran = true;
    }).join();
    return ran;
}

class FileOpsTest : public testenv::TempEnvTest {
protected:
    std::string P(const std::string& relative) const { return env.Root() + "/" + relative; }
};

using MakeDirsTest = FileOpsTest;

TEST_F(MakeDirsTest, CreatesMissingParentsWithMode) {
    ScopedUmask umask(022);
    ASSERT_TRUE(platform::MakeDirs(P("a/b/c"), 0750));
    for (const char* dir : {"a", "a/b", "a/b/c"}) {
        SCOPED_TRACE(dir);
        EXPECT_TRUE(platform::IsDirectory(P(dir)));
        EXPECT_EQ(ModeOf(P(dir)), 0750u);
    }
    EXPECT_EQ(ModeOf(env.Root()), 0700u);  // an existing parent keeps its mode
    EXPECT_TRUE(platform::MakeDirs(P("a/b/c"), 0750));
    EXPECT_TRUE(platform::MakeDirs(P("a/b/d/"), 0750));
    EXPECT_TRUE(platform::IsDirectory(P("a/b/d")));
}

TEST_F(MakeDirsTest, FailsWhenAFileIsInTheWay) {
    WriteFile(P("file"), "x");
    for (const char* path : {"file", "file/sub", "file/sub/deeper"}) {
        SCOPED_TRACE(path);
        errno = 0;
        EXPECT_FALSE(platform::MakeDirs(P(path)));
        EXPECT_EQ(errno, ENOTDIR);
    }
    EXPECT_EQ(ReadFile(P("file")), "x");
}

using WriteFileAtomicTest = FileOpsTest;

TEST_F(WriteFileAtomicTest, NewFileGetsGivenMode) {
    ASSERT_TRUE(platform::WriteFileAtomic(P("new.txt"), "content", 0640));
    EXPECT_EQ(ReadFile(P("new.txt")), "content");
    EXPECT_EQ(ModeOf(P("new.txt")), 0640u);
}

TEST_F(WriteFileAtomicTest, ReplacesContentKeepingModeWithoutLeftovers) {
    Dir(P("w"));
    WriteFile(P("w/file.txt"), "old content");
    ASSERT_EQ(::chmod(P("w/file.txt").c_str(), 0604), 0);
    const int reader = ::open(P("w/file.txt").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(reader, 0);

    const std::string data("new\0binary\xFF", 11);
    ASSERT_TRUE(platform::WriteFileAtomic(P("w/file.txt"), data, 0600));

    EXPECT_EQ(ReadFile(P("w/file.txt")), data);
    EXPECT_EQ(ModeOf(P("w/file.txt")), 0604u);
    EXPECT_EQ(ListFolder(P("w")), std::vector<std::string>{"file.txt"});
    // A reader that opened the file before still sees the old content, never a mix.
    char buffer[32] = {};
    EXPECT_EQ(::read(reader, buffer, sizeof buffer), 11);
    EXPECT_EQ(std::string(buffer, 11), "old content");
    ::close(reader);
}

TEST_F(WriteFileAtomicTest, FailsInFolderThatIsNotWritable) {
    Dir(P("locked"));
    WriteFile(P("locked/file.txt"), "old");
    ASSERT_EQ(::chmod(P("locked").c_str(), 0500), 0);
    bool written = true;
    int error = 0;
    if (!RunWithPermissionChecks([&] {
            written = platform::WriteFileAtomic(P("locked/file.txt"), "new");
            error = errno;
        }))
        GTEST_SKIP() << "cannot drop the file capabilities of root";
    ::chmod(P("locked").c_str(), 0700);

    EXPECT_FALSE(written);
    EXPECT_EQ(error, EACCES);
    EXPECT_EQ(ReadFile(P("locked/file.txt")), "old");
    EXPECT_EQ(ListFolder(P("locked")), std::vector<std::string>{"file.txt"});
}

TEST_F(WriteFileAtomicTest, FailsInMissingFolder) {
    EXPECT_FALSE(platform::WriteFileAtomic(P("missing/file.txt"), "new"));
    EXPECT_FALSE(Exists(P("missing")));
}

using ReadWholeFileTest = FileOpsTest;

class CopyFileReplacingTest : public testenv::TempEnvTest {
protected:
    std::vector<std::string> Names() const {
        std::vector<std::string> names;
        if (DIR* dir = ::opendir(env.Root().c_str())) {
            while (dirent* entry = ::readdir(dir))
                if (entry->d_name[0] != '.' || entry->d_name[1] == 'p')
                    names.push_back(entry->d_name);
            ::closedir(dir);
        }
        std::sort(names.begin(), names.end());
        return names;
    }
};

TEST_F(CopyFileReplacingTest, ReplacesOnlyWhatMayBeReplacedAndLeavesNoTemporaryFile) {
    const std::string source = env.Root() + "/source.mp3";
    const std::string target = env.Root() + "/target.mp3";
    WriteFile(source, "new");
    const std::vector<std::string> before = Names();

    EXPECT_TRUE(platform::CopyFileReplacing(source, target));
    EXPECT_EQ(ReadFile(target), "new");

    WriteFile(target, "old");
    ::chmod(target.c_str(), 0444);
    EXPECT_FALSE(platform::CopyFileReplacing(source, target)) << "a write-protected file stays";
    EXPECT_EQ(ReadFile(target), "old");
    ::chmod(target.c_str(), 0644);
    ::unlink(target.c_str());

    ASSERT_EQ(::mkdir(target.c_str(), 0700), 0);
    EXPECT_FALSE(platform::CopyFileReplacing(source, target)) << "a folder in the way";
    ::rmdir(target.c_str());

    EXPECT_EQ(Names(), before) << "no temporary copy is left behind";
}

TEST_F(ReadWholeFileTest, HonoursMaxBytes) {
    WriteFile(P("ten"), "0123456789");
    WriteFile(P("empty"), "");
    const struct {
        const char* file;
        std::size_t maxBytes;
        std::optional<std::string> expected;
    } cases[] = {
        {"ten", SIZE_MAX, "0123456789"}, {"ten", 10, "0123456789"}, {"ten", 9, std::nullopt},
        {"ten", 0, std::nullopt},        {"empty", 0, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.file) + " max " + std::to_string(c.maxBytes));
        errno = 0;
        EXPECT_EQ(platform::ReadWholeFile(P(c.file), c.maxBytes), c.expected);
        if (!c.expected) {
            EXPECT_EQ(errno, EFBIG);
        }
    }
}

TEST_F(ReadWholeFileTest, LimitHoldsForFilesWithoutSize) {
    // Files of /proc report size 0, so only the bytes read can enforce the limit.
    EXPECT_EQ(platform::ReadWholeFile("/proc/self/status", 16), std::nullopt);
    const std::optional<std::string> status = platform::ReadWholeFile("/proc/self/status", 1 << 20);
    ASSERT_TRUE(status);
    EXPECT_NE(status->find("Name:"), std::string::npos);
}

TEST_F(ReadWholeFileTest, MissingFileOrFolderGivesNothing) {
    EXPECT_EQ(platform::ReadWholeFile(P("missing")), std::nullopt);
    EXPECT_EQ(platform::ReadWholeFile(env.Root()), std::nullopt);
}

enum class Device { Same, Cross };

void PrintTo(Device device, std::ostream* os) {
    *os << (device == Device::Same ? "same device" : "cross device");
}

// Every move runs twice: within one file system (renames) and onto another one (copy, delete).
class MoveTreeTest : public testenv::TempEnvTest, public ::testing::WithParamInterface<Device> {
protected:
    void SetUp() override {
        Dir(Src(""));
        Dir(Outside(""));
        WriteFile(Outside("keep.txt"), "outside");
        if (GetParam() == Device::Same) {
            targetBase_ = env.Root() + "/dst";
            Dir(targetBase_);
            return;
        }
        struct stat shm {
        }, root{};
        if (::stat("/dev/shm", &shm) != 0 || ::stat(env.Root().c_str(), &root) != 0 ||
            shm.st_dev == root.st_dev)
            GTEST_SKIP() << "/dev/shm is not a separate file system";
        char pattern[] = "/dev/shm/parlatto-move-XXXXXX";
        if (!::mkdtemp(pattern))
            GTEST_SKIP() << "/dev/shm is not writable";
        targetBase_ = pattern;
    }

    void TearDown() override {
        if (GetParam() == Device::Cross && !targetBase_.empty())
            platform::RemoveTree(targetBase_);
    }

    std::string Src(const std::string& relative) const { return env.Root() + "/src/" + relative; }
    std::string Dst(const std::string& relative) const { return targetBase_ + "/target/" + relative; }
    std::string Outside(const std::string& relative) const { return env.Root() + "/outside/" + relative; }
    bool Move() { return platform::MoveTree(env.Root() + "/src", targetBase_ + "/target"); }

    std::string targetBase_;
};

ino_t InodeOf(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

TEST_P(MoveTreeTest, MovesToMissingTargetKeepingModes) {
    ScopedUmask umask(022);
    WriteFile(Src("a.txt"), "a");
    ASSERT_EQ(::chmod(Src("a.txt").c_str(), 0664), 0);
    Dir(Src("shared"), 0775);
    ASSERT_EQ(::chmod(Src("shared").c_str(), 0775), 0);
    WriteFile(Src("shared/b.txt"), "b");
    Dir(Src("empty"));
    const ino_t inode = InodeOf(Src("a.txt"));

    ASSERT_TRUE(Move());

    EXPECT_FALSE(Exists(env.Root() + "/src"));
    EXPECT_EQ(ReadFile(Dst("a.txt")), "a");
    EXPECT_EQ(ReadFile(Dst("shared/b.txt")), "b");
    EXPECT_TRUE(platform::IsDirectory(Dst("empty")));
    EXPECT_EQ(ModeOf(Dst("a.txt")), 0664u);
    EXPECT_EQ(ModeOf(Dst("shared")), 0775u);
    if (GetParam() == Device::Same) {
        EXPECT_EQ(InodeOf(Dst("a.txt")), inode);  // a plain rename, no copy
    }
}

TEST_P(MoveTreeTest, MergesIntoExistingTarget) {
    WriteFile(Src("same.txt"), "from source");
    WriteFile(Src("source-only.txt"), "source only");
    Dir(Src("nested"));
    WriteFile(Src("nested/inner.txt"), "inner from source");
    Dir(Src("nested/deeper"));
    WriteFile(Src("nested/deeper/x.txt"), "x");

    Dir(Dst(""));
    WriteFile(Dst("same.txt"), "from target");
    WriteFile(Dst("target-only.txt"), "target only");
    Dir(Dst("nested"));
    WriteFile(Dst("nested/inner.txt"), "inner from target");
    WriteFile(Dst("nested/target-nested.txt"), "target nested");

    ASSERT_TRUE(Move());

    EXPECT_FALSE(Exists(env.Root() + "/src"));
    EXPECT_EQ(ReadFile(Dst("same.txt")), "from source");
    EXPECT_EQ(ReadFile(Dst("source-only.txt")), "source only");
    EXPECT_EQ(ReadFile(Dst("target-only.txt")), "target only");
    EXPECT_EQ(ReadFile(Dst("nested/inner.txt")), "inner from source");
    EXPECT_EQ(ReadFile(Dst("nested/target-nested.txt")), "target nested");
    EXPECT_EQ(ReadFile(Dst("nested/deeper/x.txt")), "x");
    EXPECT_EQ(ListFolder(Dst("")),
              (std::vector<std::string>{"nested", "same.txt", "source-only.txt", "target-only.txt"}));
}

TEST_P(MoveTreeTest, NeverFollowsLinksPlantedInTarget) {
    WriteFile(Outside("victim.txt"), "victim");
    Dir(Src("sub"));
    WriteFile(Src("sub/file.txt"), "moved");
    WriteFile(Src("file.txt"), "from source");
    Dir(Dst(""));
    Link(Outside(""), Dst("sub"));
    Link(Outside("victim.txt"), Dst("file.txt"));

    ASSERT_TRUE(Move());

    EXPECT_EQ(ListFolder(Outside("")), (std::vector<std::string>{"keep.txt", "victim.txt"}));
    EXPECT_EQ(ReadFile(Outside("victim.txt")), "victim");
    EXPECT_TRUE(platform::IsDirectory(Dst("sub")));
    EXPECT_EQ(ReadFile(Dst("sub/file.txt")), "moved");
    EXPECT_FALSE(IsLink(Dst("file.txt")));
    EXPECT_EQ(ReadFile(Dst("file.txt")), "from source");
}

TEST_P(MoveTreeTest, MovesLinksOfSourceAsLinks) {
    Dir(Src("sub"));
    WriteFile(Src("sub/b.txt"), "b");
    Link("sub/b.txt", Src("relative"));
    Link("/nonexistent/parlatto/x", Src("dangling"));
    Link(Outside(""), Src("folder-link"));
    Dir(Dst(""));

    ASSERT_TRUE(Move());

    EXPECT_FALSE(Exists(env.Root() + "/src"));
    EXPECT_EQ(LinkText(Dst("relative")), "sub/b.txt");
    EXPECT_EQ(ReadFile(Dst("relative")), "b");
    EXPECT_EQ(LinkText(Dst("dangling")), "/nonexistent/parlatto/x");
    EXPECT_TRUE(IsLink(Dst("folder-link")));
    EXPECT_EQ(LinkText(Dst("folder-link")), Outside(""));
    EXPECT_EQ(ReadFile(Outside("keep.txt")), "outside");
}

TEST_P(MoveTreeTest, MissingSourceFails) {
    EXPECT_FALSE(platform::MoveTree(env.Root() + "/missing", targetBase_ + "/target"));
    EXPECT_FALSE(Exists(Dst("")));
}

INSTANTIATE_TEST_SUITE_P(Move, MoveTreeTest, ::testing::Values(Device::Same, Device::Cross),
                         [](const auto& info) {
                             return std::string(info.param == Device::Same ? "SameDevice" : "CrossDevice");
                         });

using RemoveTreeTest = FileOpsTest;

TEST_F(RemoveTreeTest, RemovesTreeButNotWhatLinksPointTo) {
    Dir(P("outside"));
    WriteFile(P("outside/keep.txt"), "keep");
    Dir(P("tree"));
    Dir(P("tree/a"));
    Dir(P("tree/a/b"));
    WriteFile(P("tree/a/b/file.txt"), "x");
    WriteFile(P("tree/read-only.txt"), "x");
    ASSERT_EQ(::chmod(P("tree/read-only.txt").c_str(), 0400), 0);
    Link(P("outside"), P("tree/a/folder-link"));
    Link(P("outside/keep.txt"), P("tree/file-link"));

    EXPECT_TRUE(platform::RemoveTree(P("tree")));

    EXPECT_FALSE(Exists(P("tree")));
    EXPECT_EQ(ListFolder(P("outside")), std::vector<std::string>{"keep.txt"});
    EXPECT_EQ(ReadFile(P("outside/keep.txt")), "keep");
}

TEST_F(RemoveTreeTest, RemovesOnlyTheLinkWhenNamed) {
    Dir(P("outside"));
    WriteFile(P("outside/keep.txt"), "keep");
    Link(P("outside"), P("link"));

    EXPECT_TRUE(platform::RemoveTree(P("link")));

    EXPECT_FALSE(Exists(P("link")));
    EXPECT_EQ(ReadFile(P("outside/keep.txt")), "keep");
}

using PrivateTempDirTest = FileOpsTest;

TEST_F(PrivateTempDirTest, CreatesPrivateFolderUnderTmpdir) {
    const std::string expected = env.TempBase() + "/parlatto-" + std::to_string(::getuid());
    EXPECT_EQ(platform::PrivateTempDir("parlatto"), expected);
    EXPECT_TRUE(platform::IsDirectory(expected));
    EXPECT_EQ(ModeOf(expected), 0700u);
    EXPECT_EQ(platform::PrivateTempDir("parlatto"), expected);  // an existing one is reused
}

TEST_F(PrivateTempDirTest, RefusesUnsafeExistingPath) {
    const std::string uid = std::to_string(::getuid());
    const struct {
        const char* name;
        void (*plant)(const std::string& path, const std::string& elsewhere);
    } cases[] = {
        {"link-to-folder",
         [](const std::string& path, const std::string& elsewhere) {
             Dir(elsewhere);
             Link(elsewhere, path);
         }},
        {"regular-file", [](const std::string& path, const std::string&) { WriteFile(path, "x"); }},
        {"folder-0755",
         [](const std::string& path, const std::string&) {
             Dir(path);
             ASSERT_EQ(::chmod(path.c_str(), 0755), 0);
         }},
        {"folder-0710",
         [](const std::string& path, const std::string&) {
             Dir(path);
             ASSERT_EQ(::chmod(path.c_str(), 0710), 0);
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = env.TempBase() + "/" + c.name + "-" + uid;
        c.plant(path, P(std::string("elsewhere-") + c.name));
        EXPECT_EQ(platform::PrivateTempDir(c.name), "");
    }
    EXPECT_TRUE(IsLink(env.TempBase() + "/link-to-folder-" + uid));
    EXPECT_EQ(ModeOf(env.TempBase() + "/folder-0755-" + uid), 0755u);
}

}  // namespace
