#include "core/paths.h"

#include "core/text_convert.h"
#include "platform/file_ops.h"
#include "platform/process_info.h"

#include <sys/stat.h>

#include <fcntl.h>
#include <linux/stat.h>
#include <map>
#include <mutex>

#include <dirent.h>

namespace PubUtils {
namespace {

struct DataDirCache {
    std::mutex mutex;
    std::string path;
    std::string exeDirOverride;
    std::string workDirOverride;
    std::function<void(const std::string&)> hook;
};

DataDirCache& Cache() {
    static DataDirCache* cache = new DataDirCache;
    return *cache;
}

// Creation time in nanoseconds; the modification time where the file system keeps no birth time.
long long CreationTime(const std::string& path) {
    struct statx stx {};
    if (::statx(AT_FDCWD, path.c_str(), AT_SYMLINK_NOFOLLOW, STATX_BTIME | STATX_MTIME, &stx) != 0)
        return 0;
    const statx_timestamp& t = (stx.stx_mask & STATX_BTIME) ? stx.stx_btime : stx.stx_mtime;
    return static_cast<long long>(t.tv_sec) * 1000000000LL + t.tv_nsec;
}

}  // namespace

std::string GetExeDir() {
    {
        std::lock_guard lock(Cache().mutex);
        if (!Cache().exeDirOverride.empty())
            return Cache().exeDirOverride;
    }
    const std::string exe = platform::ExecutablePath();
    const size_t slash = exe.find_last_of('/');
    return slash == std::string::npos ? std::string() : exe.substr(0, slash);
}

std::string GetDataDir() {
    DataDirCache& cache = Cache();
    std::function<void(const std::string&)> hook;
    std::string path;
    {
        std::lock_guard lock(cache.mutex);
        if (!cache.path.empty())
            return cache.path;
        cache.path = platform::UserDataHome() + "/" + kAppName;
        if (!platform::PathExists(cache.path))
            platform::MakeDirs(cache.path, 0700);
        path = cache.path;
        hook = std::move(cache.hook);
        cache.hook = nullptr;
    }
    // Outside the lock: the hook itself resolves folders below the data folder.
    if (hook)
        hook(path);
    return path;
}

std::string GetTempDir() {
    std::string path;
    {
        std::lock_guard lock(Cache().mutex);
        path = Cache().workDirOverride;
    }
    if (path.empty())
        path = GetDataDir() + "/Temp";
    if (!platform::PathExists(path))
        ::mkdir(path.c_str(), 0700);
    return path;
}

bool ClearTempDir() {
    const std::string work = GetTempDir();
    const std::string base = platform::PrivateTempDir(kAppName);
    if (base.empty())
        return false;
    return platform::MoveTree(work, base + "/Temp");
}

std::wstring GetConfigPath(bool mirror) {
    if (mirror)
        return AnsiToWide(GetExeDir()) + L"/" + AnsiToWide(kAppName) + L"/config.ini";
    return AnsiToWide(GetDataDir()) + L"/config.ini";
}

std::vector<std::string> ListNewestFiles(const std::string& folder, int maxCount) {
    std::map<long long, std::string, std::greater<>> byTime;
    if (DIR* dir = ::opendir(folder.c_str())) {
        while (dirent* entry = ::readdir(dir)) {
            const std::string path = folder + "/" + entry->d_name;
            if (platform::IsDirectory(path) || std::string_view(entry->d_name) == "." ||
                std::string_view(entry->d_name) == "..")
                continue;
            byTime[CreationTime(path)] = path;
        }
        ::closedir(dir);
    }
    std::vector<std::string> newest;
    for (const auto& [time, path] : byTime) {
        if (static_cast<int>(newest.size()) >= maxCount)
            break;
        newest.push_back(path);
    }
    return newest;
}

void SetDataDirResolvedHook(std::function<void(const std::string&)> hook) {
    std::lock_guard lock(Cache().mutex);
    Cache().hook = std::move(hook);
}

void ResetDataDirForTesting() {
    std::lock_guard lock(Cache().mutex);
    Cache().path.clear();
    Cache().hook = nullptr;
    Cache().workDirOverride.clear();
}

void SetWorkDirOverride(const std::string& dir) {
    std::lock_guard lock(Cache().mutex);
    Cache().workDirOverride = dir;
}

void SetExeDirForTesting(const std::string& dir) {
    std::lock_guard lock(Cache().mutex);
    Cache().exeDirOverride = dir;
}

}  // namespace PubUtils
