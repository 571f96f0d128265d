#pragma once
// The process's view of time: wall-clock "now" for timestamps and a millisecond tick count for
// durations. Production code reads CurrentClock(); tests install their own clock to fix the time.

#include <chrono>
#include <cstdint>
#include <ctime>
#include <string>

namespace platform {

class Clock {
public:
    virtual ~Clock() = default;
    virtual std::chrono::system_clock::time_point Now() const = 0;
    // Milliseconds since an arbitrary start, wrapping at 2^32 like a system tick counter.
    virtual std::uint32_t Ticks() const = 0;
};

class SystemClock final : public Clock {
public:
    std::chrono::system_clock::time_point Now() const override;
    std::uint32_t Ticks() const override;
};

Clock& CurrentClock();
// Installs a clock for the whole process (nullptr restores the system clock). The clock must
// outlive every reader; tests swap it only while no other thread runs.
void SetCurrentClock(Clock* clock);

inline std::uint32_t TickCount() {
    return CurrentClock().Ticks();
}

// Local time of CurrentClock().Now() in the strftime format (thread-safe).
std::string FormatLocalTime(const char* format);
std::string FormatLocalTime(std::time_t when, const char* format);

}  // namespace platform
