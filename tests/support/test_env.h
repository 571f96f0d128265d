#pragma once
// Every test runs in folders of its own: a fixture gives it a fresh temporary XDG_DATA_HOME,
// XDG_RUNTIME_DIR, TMPDIR and HOME, forgets cached paths, and removes the folders afterwards.

#include "platform/clock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>

namespace testenv {

// A fresh folder tree with the variables pointing into it; restored when destroyed.
class ScopedEnvironment {
public:
    ScopedEnvironment();
    ~ScopedEnvironment();
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

    const std::string& Root() const { return root_; }
    std::string DataHome() const { return root_ + "/data"; }
    std::string RuntimeDir() const { return root_ + "/runtime"; }
    std::string TempBase() const { return root_ + "/tmp"; }
    std::string ExeDir() const { return root_ + "/install"; }
    // The data folder the program uses, data home + "/Parlatto".
    std::string DataDir() const { return DataHome() + "/Parlatto"; }

private:
    std::string root_;
    std::string saved_[4];
    bool had_[4] = {};
};

// The process's time zone (TZ) for one test; the old one comes back when the object goes.
class ScopedTimeZone {
public:
    ScopedTimeZone();
    explicit ScopedTimeZone(const char* zone) : ScopedTimeZone() { Set(zone); }
    ~ScopedTimeZone();
    ScopedTimeZone(const ScopedTimeZone&) = delete;
    ScopedTimeZone& operator=(const ScopedTimeZone&) = delete;

    void Set(const char* zone);

private:
    std::string saved_;
    bool had_ = false;
};

class TempEnvTest : public ::testing::Test {
protected:
    ScopedEnvironment env;
};

// A clock whose time tests set; Ticks and Now move only when told.
class FakeClock final : public platform::Clock {
public:
    FakeClock();
    ~FakeClock() override;
    std::chrono::system_clock::time_point Now() const override { return now_.load(); }
    std::uint32_t Ticks() const override { return ticks_.load(); }
    void SetNow(std::chrono::system_clock::time_point now) { now_.store(now); }
    // Sets local time (as in the process's time zone).
    void SetLocal(int year, int month, int day, int hour, int minute, int second);
    void SetTicks(std::uint32_t ticks) { ticks_.store(ticks); }

private:
    std::atomic<std::chrono::system_clock::time_point> now_;
    std::atomic<std::uint32_t> ticks_{0};
};

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& content);
bool Exists(const std::string& path);

// Writes the file so that its creation time is later than `last` (file-system clocks move in
// steps, so files made in quick succession can share one), and moves `last` on to it.
void CreateAfterTheLast(const std::string& path, const std::string& content, long long& last);

// A loopback port that was free a moment ago: nothing listens there.
int UnusedLoopbackPort();

// Waits (polling) until the condition holds or the timeout passes; returns the condition.
bool WaitUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds timeout = std::chrono::seconds(10));

}  // namespace testenv
