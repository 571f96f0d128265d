#include "platform/error.h"

#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

namespace platform {

int LastError() {
    return errno;
}

void SetLastError(int code) {
    errno = code;
}

std::string ErrorText(int code) {
    char buffer[256];
    // GNU strerror_r may return a static string instead of filling the buffer.
    const char* text = strerror_r(code, buffer, sizeof buffer);
    return text ? std::string(text) : std::string("(null)");
}

namespace {
std::atomic<bool> g_debugOutput{true};
}  // namespace

void SetDebugOutputEnabled(bool enabled) {
    g_debugOutput.store(enabled);
}

void DebugOutput(std::string_view text) {
    if (!g_debugOutput.load(std::memory_order_relaxed))
        return;
    const int saved = errno;
    const char* data = text.data();
    size_t left = text.size();
    while (left > 0) {
        const ssize_t n = ::write(STDERR_FILENO, data, left);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        data += n;
        left -= static_cast<size_t>(n);
    }
    errno = saved;
}

}  // namespace platform
