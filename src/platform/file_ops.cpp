#include "platform/file_ops.h"

#include "platform/process_info.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace platform {
namespace {

// Owns one file descriptor.
class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    int get() const { return fd_; }
    int release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }

private:
    int fd_;
};

std::string ParentOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "/";
    return path.substr(0, slash);
}

std::string NameOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

int OpenDirNoFollow(int parent, const char* name) {
    return ::openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

// Names in a folder, without "." and "..". The folder descriptor stays open.
std::vector<std::string> ListNames(int dirFd) {
    std::vector<std::string> names;
    const int dup = ::fcntl(dirFd, F_DUPFD_CLOEXEC, 0);
    if (dup < 0)
        return names;
    DIR* dir = ::fdopendir(dup);
    if (!dir) {
        ::close(dup);
        return names;
    }
    ::rewinddir(dir);
    while (dirent* entry = ::readdir(dir)) {
        if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0)
            continue;
        names.emplace_back(entry->d_name);
    }
    ::closedir(dir);
    return names;
}

bool RemoveAt(int parent, const char* name) {
    struct stat st {};
    if (::fstatat(parent, name, &st, AT_SYMLINK_NOFOLLOW) != 0)
        return errno == ENOENT;
    if (!S_ISDIR(st.st_mode))
        return ::unlinkat(parent, name, 0) == 0 || errno == ENOENT;
    Fd dir(OpenDirNoFollow(parent, name));
    if (dir.get() < 0)
        return false;
    bool ok = true;
    for (const std::string& child : ListNames(dir.get()))
        ok = RemoveAt(dir.get(), child.c_str()) && ok;
    return ::unlinkat(parent, name, AT_REMOVEDIR) == 0 && ok;
}

// A name for a temporary entry beside dstName that no file of the user's will have.
std::string TemporaryName(const char* dstName) {
    static std::atomic<unsigned> counter{0};
    return ".parlatto-" + std::to_string(::getpid()) + "-" + std::to_string(counter++) + "-" + dstName;
}

// Copies a regular file or a link from one folder to another, replacing the target atomically.
bool CopyEntryAt(int srcParent, const char* name, const struct stat& st, int dstParent, const char* dstName) {
    const std::string temp = TemporaryName(dstName);
    if (S_ISLNK(st.st_mode)) {
        std::vector<char> target(static_cast<size_t>(st.st_size) + 2);
        const ssize_t n = ::readlinkat(srcParent, name, target.data(), target.size() - 1);
        if (n < 0)
            return false;
        target[static_cast<size_t>(n)] = '\0';
        if (::symlinkat(target.data(), dstParent, temp.c_str()) != 0)
            return false;
    } else if (S_ISREG(st.st_mode)) {
        Fd in(::openat(srcParent, name, O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
        if (in.get() < 0)
            return false;
        Fd out(::openat(dstParent, temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (out.get() < 0)
            return false;
        // The umask applies to a created file; a move keeps the mode, as a rename does.
        if (::fchmod(out.get(), st.st_mode & 07777) != 0) {
            ::unlinkat(dstParent, temp.c_str(), 0);
            return false;
        }
        char buffer[65536];
        for (;;) {
            const ssize_t n = ::read(in.get(), buffer, sizeof buffer);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 || (n > 0 && !WriteAll(out.get(), buffer, static_cast<size_t>(n)))) {
                ::unlinkat(dstParent, temp.c_str(), 0);
                return false;
            }
            if (n == 0)
                break;
        }
    } else {
        return true;  // fifos, sockets and devices are not worth moving
    }
    if (::renameat(dstParent, temp.c_str(), dstParent, dstName) != 0) {
        const int error = errno;
        ::unlinkat(dstParent, temp.c_str(), 0);
        errno = error;
        return false;
    }
    return true;
}

bool MergeDirs(int srcDir, int dstDir);

bool MoveEntryAt(int srcParent, const char* name, int dstParent, const char* dstName) {
    struct stat st {};
    if (::fstatat(srcParent, name, &st, AT_SYMLINK_NOFOLLOW) != 0)
        return false;
    struct stat dst {};
    const bool dstExists = ::fstatat(dstParent, dstName, &dst, AT_SYMLINK_NOFOLLOW) == 0;
    const bool dstIsDir = dstExists && S_ISDIR(dst.st_mode);

    if (S_ISDIR(st.st_mode)) {
        if (dstExists && !dstIsDir && !RemoveAt(dstParent, dstName))
            return false;
        bool created = false;
        if (!dstIsDir) {
            if (::renameat(srcParent, name, dstParent, dstName) == 0)
                return true;
            if (errno != EXDEV)
                return false;
            // Writable while it fills up, whatever the source's mode; the umask must not apply.
            if (::mkdirat(dstParent, dstName, 0700) != 0)
                return false;
            created = true;
        }
        Fd src(OpenDirNoFollow(srcParent, name));
        Fd target(OpenDirNoFollow(dstParent, dstName));
        if (src.get() < 0 || target.get() < 0)
            return false;
        bool ok = MergeDirs(src.get(), target.get());
        if (created && ::fchmod(target.get(), st.st_mode & 07777) != 0)
            ok = false;
        return ::unlinkat(srcParent, name, AT_REMOVEDIR) == 0 && ok;
    }

    if (dstIsDir && !RemoveAt(dstParent, dstName))
        return false;
    if (::renameat(srcParent, name, dstParent, dstName) == 0)
        return true;  // replaces a file or link
    if (errno != EXDEV)
        return false;
    if (!CopyEntryAt(srcParent, name, st, dstParent, dstName))
        return false;
    return ::unlinkat(srcParent, name, 0) == 0;
}

bool MergeDirs(int srcDir, int dstDir) {
    bool ok = true;
    for (const std::string& child : ListNames(srcDir))
        ok = MoveEntryAt(srcDir, child.c_str(), dstDir, child.c_str()) && ok;
    return ok;
}

}  // namespace

bool WriteAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

bool PathExists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

bool IsDirectory(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool MakeDirs(const std::string& path, mode_t mode) {
    if (path.empty())
        return false;
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode))
            return true;
        errno = ENOTDIR;
        return false;
    }
    const std::string parent = ParentOf(path);
    if (parent != path && parent != "." && parent != "/" && !MakeDirs(parent, mode))
        return false;
    if (::mkdir(path.c_str(), mode) == 0)
        return true;
    return errno == EEXIST && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::optional<std::string> ReadWholeFile(const std::string& path, std::size_t maxBytes) {
    Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0)
        return std::nullopt;
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0 || S_ISDIR(st.st_mode))
        return std::nullopt;
    if (static_cast<std::uintmax_t>(st.st_size) > maxBytes) {
        errno = EFBIG;
        return std::nullopt;
    }
    std::string data;
    data.reserve(static_cast<size_t>(st.st_size));
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return std::nullopt;
        if (n == 0)
            break;
        data.append(buffer, static_cast<size_t>(n));
        if (data.size() > maxBytes) {
            errno = EFBIG;
            return std::nullopt;
        }
    }
    return data;
}

bool WriteFileAtomic(const std::string& path, std::string_view data, mode_t newMode) {
    const std::string folder = ParentOf(path);
    std::string temp = folder + "/." + NameOf(path) + ".XXXXXX";
    Fd fd(::mkostemp(temp.data(), O_CLOEXEC));
    if (fd.get() < 0)
        return false;
    struct stat existing {};
    const mode_t mode = ::stat(path.c_str(), &existing) == 0 ? (existing.st_mode & 07777) : newMode;
    bool ok = ::fchmod(fd.get(), mode) == 0 && WriteAll(fd.get(), data.data(), data.size()) &&
              ::fsync(fd.get()) == 0;
    if (::close(fd.release()) != 0)
        ok = false;
    if (ok)
        ok = ::rename(temp.c_str(), path.c_str()) == 0;
    if (!ok) {
        const int saved = errno;
        ::unlink(temp.c_str());
        errno = saved;
        return false;
    }
    Fd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() >= 0)
        ::fsync(dir.get());
    return true;
}

bool CopyFileReplacing(const std::string& source, const std::string& target) {
    struct stat st {};
    if (::stat(source.c_str(), &st) != 0)
        return false;
    if (!S_ISREG(st.st_mode)) {
        errno = EISDIR;
        return false;
    }
    Fd srcParent(::open(ParentOf(source).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    Fd dstParent(::open(ParentOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (srcParent.get() < 0 || dstParent.get() < 0)
        return false;
    // A write-protected file is not replaced, whatever its folder allows.
    struct stat existing {};
    if (::fstatat(dstParent.get(), NameOf(target).c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0) {
        if (S_ISDIR(existing.st_mode)) {
            errno = EISDIR;
            return false;
        }
        if (S_ISREG(existing.st_mode) && (existing.st_mode & 0222) == 0) {
            errno = EACCES;
            return false;
        }
    }
    return CopyEntryAt(srcParent.get(), NameOf(source).c_str(), st, dstParent.get(), NameOf(target).c_str());
}

bool MoveTree(const std::string& source, const std::string& target) {
    Fd srcParent(::open(ParentOf(source).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    Fd dstParent(::open(ParentOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (srcParent.get() < 0 || dstParent.get() < 0)
        return false;
    return MoveEntryAt(srcParent.get(), NameOf(source).c_str(), dstParent.get(), NameOf(target).c_str());
}

bool RemoveTree(const std::string& path) {
    Fd parent(::open(ParentOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (parent.get() < 0)
        return false;
    return RemoveAt(parent.get(), NameOf(path).c_str());
}

std::string PrivateTempDir(const std::string& name) {
    const std::string path = TempBase() + "/" + name + "-" + std::to_string(::getuid());
    if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST)
        return {};
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0)
        return {};
    if (!S_ISDIR(st.st_mode) || st.st_uid != ::getuid() || (st.st_mode & 077) != 0) {
        errno = EPERM;
        return {};
    }
    return path;
}

}  // namespace platform
