#pragma once
// One operating-system thread whose body is the virtual Run. The thread is detached from the
// start: the object may be destroyed by its own Run (a finished task deletes itself through its
// owner), and Join waits, with a time limit, on a completion signal that outlives the object.

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>

class SimpleThread {
public:
    virtual ~SimpleThread() = default;
    virtual bool IsStopped() const { return stopped_.load(); }
    // Only raises the flag; a Run that wants to honour it polls IsStopped.
    virtual void Stop() { stopped_.store(true); }
    // Waits at most `milliseconds` for Run to end, logging a time-out, and forgets the thread.
    virtual void Join(unsigned milliseconds);
    // Starts Run on a new thread. False when no thread could be made. The caller must not touch
    // the object afterwards unless it knows Run cannot destroy it.
    virtual bool Start();
    virtual void Run() = 0;

private:
    struct Completion {
        std::mutex mutex;
        std::condition_variable ended;
        bool done = false;
    };

    std::atomic<bool> stopped_{true};
    std::shared_ptr<Completion> completion_;
};
