#pragma once
// One running instance per user and name: an exclusive flock on "<dir>/<name>.lock", held while
// the object lives and dropped by the kernel when the process dies, however it dies. The holder
// listens on the local socket "<dir>/<name>.sock", where a later start asks it to come forward.

#include <functional>
#include <memory>
#include <string>
#include <thread>

namespace platform {

class InstanceLock {
public:
    // Becomes the instance, or returns nullptr when another process holds the lock. onActivate
    // runs on the lock's listener thread for every activation request of the same user.
    static std::unique_ptr<InstanceLock> TryAcquire(const std::string& dir, const std::string& name,
                                                    std::function<void()> onActivate);
    // Asks the instance holding the lock to come forward; false when none could be reached.
    static bool RequestActivation(const std::string& dir, const std::string& name);

    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

private:
    InstanceLock(int lockFd, int listenFd, std::string socketPath, std::function<void()> onActivate);
    void Listen();

    int lockFd_;
    int listenFd_;
    int wakeFds_[2] = {-1, -1};
    std::string socketPath_;
    std::function<void()> onActivate_;
    std::thread listener_;
};

}  // namespace platform
