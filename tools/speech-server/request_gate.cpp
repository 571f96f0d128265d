#include "request_gate.h"

void RequestGate::Hold() {
    std::lock_guard lock(mutex_);
    holding_ = !stopping_;
}

void RequestGate::Release() {
    {
        std::lock_guard lock(mutex_);
        holding_ = false;
        ++releases_;
    }
    changed_.notify_all();
}

void RequestGate::Shutdown() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        holding_ = false;
    }
    changed_.notify_all();
}

void RequestGate::PassThrough() {
    std::unique_lock lock(mutex_);
    if (!holding_)
        return;
    const std::uint64_t release = releases_;
    ++held_;
    changed_.wait(lock, [&] { return releases_ != release || stopping_; });
    --held_;
}

void RequestGate::Delay(std::chrono::milliseconds delay) {
    if (delay.count() <= 0)
        return;
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, delay, [&] { return stopping_; });
}

int RequestGate::Held() const {
    std::lock_guard lock(mutex_);
    return held_;
}
