#include "support/test_env.h"

#include "core/logger.h"
#include "core/paths.h"
#include "platform/file_ops.h"

#include <fcntl.h>
#include <linux/stat.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <fstream>
#include <sstream>
#include <thread>

namespace testenv {
namespace {

constexpr const char* kVariables[] = {"XDG_DATA_HOME", "XDG_RUNTIME_DIR", "TMPDIR", "HOME"};

}  // namespace

ScopedTimeZone::ScopedTimeZone() {
    if (const char* zone = std::getenv("TZ")) {
        saved_ = zone;
        had_ = true;
    }
}

ScopedTimeZone::~ScopedTimeZone() {
    if (had_)
        ::setenv("TZ", saved_.c_str(), 1);
    else
        ::unsetenv("TZ");
    ::tzset();
}

void ScopedTimeZone::Set(const char* zone) {
    ::setenv("TZ", zone, 1);
    ::tzset();
}

ScopedEnvironment::ScopedEnvironment() {
    const char* base = std::getenv("PARLATTO_TEST_TMP");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/parlatto-test-XXXXXX";
    if (!::mkdtemp(pattern.data()))
        std::abort();
    root_ = pattern;
    for (int i = 0; i < 4; ++i) {
        const char* value = std::getenv(kVariables[i]);
        had_[i] = value != nullptr;
        if (value)
            saved_[i] = value;
    }
    for (const std::string& dir : {DataHome(), RuntimeDir(), TempBase(), ExeDir(), root_ + "/home"})
        ::mkdir(dir.c_str(), 0700);
    ::setenv("XDG_DATA_HOME", DataHome().c_str(), 1);
    ::setenv("XDG_RUNTIME_DIR", RuntimeDir().c_str(), 1);
    ::setenv("TMPDIR", TempBase().c_str(), 1);
    ::setenv("HOME", (root_ + "/home").c_str(), 1);
    PubUtils::ResetDataDirForTesting();
    PubUtils::SetExeDirForTesting(ExeDir());
}

ScopedEnvironment::~ScopedEnvironment() {
    PubUtils::ResetDataDirForTesting();
    PubUtils::SetExeDirForTesting({});
    platform::RemoveTree(root_);
    for (int i = 0; i < 4; ++i) {
        if (had_[i])
            ::setenv(kVariables[i], saved_[i].c_str(), 1);
        else
            ::unsetenv(kVariables[i]);
    }
}

FakeClock::FakeClock() : now_(std::chrono::system_clock::now()) {
    platform::SetCurrentClock(this);
}

FakeClock::~FakeClock() {
    platform::SetCurrentClock(nullptr);
}

void FakeClock::SetLocal(int year, int month, int day, int hour, int minute, int second) {
    std::tm local{};
    local.tm_year = year - 1900;
    local.tm_mon = month - 1;
    local.tm_mday = day;
    local.tm_hour = hour;
    local.tm_min = minute;
    local.tm_sec = second;
    local.tm_isdst = -1;
    now_.store(std::chrono::system_clock::from_time_t(std::mktime(&local)));
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void WriteFile(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
}

bool Exists(const std::string& path) {
    return platform::PathExists(path);
}

void CreateAfterTheLast(const std::string& path, const std::string& content, long long& last) {
    for (;;) {
        WriteFile(path, content);
        struct statx stx {};
        ::statx(AT_FDCWD, path.c_str(), 0, STATX_BTIME | STATX_MTIME, &stx);
        const statx_timestamp& t = (stx.stx_mask & STATX_BTIME) ? stx.stx_btime : stx.stx_mtime;
        const long long now = t.tv_sec * 1000000000LL + t.tv_nsec;
        if (now > last) {
            last = now;
            return;
        }
        ::unlink(path.c_str());
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

int UnusedLoopbackPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        std::abort();
    ::close(fd);
    return ntohs(address.sin_port);
}

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return condition();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

}  // namespace testenv
