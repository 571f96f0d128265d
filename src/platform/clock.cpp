#include "platform/clock.h"

#include <atomic>

namespace platform {
namespace {

std::atomic<Clock*> g_clock{nullptr};

SystemClock& DefaultClock() {
    static SystemClock clock;
    return clock;
}

}  // namespace

std::chrono::system_clock::time_point SystemClock::Now() const {
    return std::chrono::system_clock::now();
}

std::uint32_t SystemClock::Ticks() const {
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now().time_since_epoch());
    return static_cast<std::uint32_t>(ms.count());
}

Clock& CurrentClock() {
    Clock* clock = g_clock.load(std::memory_order_acquire);
    return clock ? *clock : DefaultClock();
}

void SetCurrentClock(Clock* clock) {
    g_clock.store(clock, std::memory_order_release);
}

std::string FormatLocalTime(std::time_t when, const char* format) {
    std::tm local{};
    if (!localtime_r(&when, &local))
        return {};
    // strftime returns 0 both for an empty result and for a buffer too small, so grow and retry.
    if (!format || !*format)
        return {};
    std::string buffer(128, '\0');
    for (; buffer.size() <= 65536; buffer.resize(buffer.size() * 2)) {
        const size_t n = std::strftime(buffer.data(), buffer.size(), format, &local);
        if (n > 0) {
            buffer.resize(n);
            return buffer;
        }
    }
    return {};
}

std::string FormatLocalTime(const char* format) {
    return FormatLocalTime(std::chrono::system_clock::to_time_t(CurrentClock().Now()), format);
}

}  // namespace platform
