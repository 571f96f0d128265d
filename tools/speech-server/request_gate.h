#pragma once
// Where synthesis requests wait: while holding is on they block on a condition variable until
// Release (which lets every waiter through and ends holding) or Shutdown (which also ends every
// delay early and makes later holds pass). Thread-safe.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

class RequestGate {
public:
    void Hold();
    void Release();
    void Shutdown();

    // Returns at once unless holding is on.
    void PassThrough();
    // Waits the time, or less when shutting down.
    void Delay(std::chrono::milliseconds delay);
    int Held() const;

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    bool holding_ = false;
    bool stopping_ = false;
    // Counts releases, so that a waiter gets out even when holding is switched on again at once.
    std::uint64_t releases_ = 0;
    int held_ = 0;
};
