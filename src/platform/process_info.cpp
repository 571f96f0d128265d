#include "platform/process_info.h"

#include <pwd.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <vector>

namespace platform {
namespace {

std::string AbsoluteEnv(const char* name) {
    const char* value = std::getenv(name);
    if (!value || value[0] != '/')
        return {};
    return value;
}

std::string HomeDir() {
    if (std::string home = AbsoluteEnv("HOME"); !home.empty())
        return home;
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* result = nullptr;
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &result) == 0 && result &&
        result->pw_dir && result->pw_dir[0] == '/')
        return result->pw_dir;
    return {};
}

std::string WithoutTrailingSlash(std::string path) {
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

}  // namespace

int ThreadId() {
    return static_cast<int>(::syscall(SYS_gettid));
}

std::string ExecutablePath() {
    char buffer[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0)
        return {};
    return std::string(buffer, static_cast<size_t>(n));
}

std::string UserDataHome() {
    if (std::string dir = AbsoluteEnv("XDG_DATA_HOME"); !dir.empty())
        return WithoutTrailingSlash(dir);
    std::string home = HomeDir();
    if (home.empty())
        return {};
    return WithoutTrailingSlash(home) + "/.local/share";
}

std::string UserRuntimeDir() {
    return WithoutTrailingSlash(AbsoluteEnv("XDG_RUNTIME_DIR"));
}

std::string TempBase() {
    std::string dir = WithoutTrailingSlash(AbsoluteEnv("TMPDIR"));
    return dir.empty() ? std::string("/tmp") : dir;
}

}  // namespace platform
