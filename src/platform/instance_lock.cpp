#include "platform/instance_lock.h"

#include "platform/signal_stack.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

namespace platform {
namespace {

constexpr char kRequest[] = "activate\n";

bool FillAddress(const std::string& path, sockaddr_un& address) {
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path)
        return false;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return true;
}

int BindListener(const std::string& path) {
    sockaddr_un address{};
    if (!FillAddress(path, address))
        return -1;
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return -1;
    // Only the lock holder binds, so a socket file left here belongs to a dead instance.
    ::unlink(path.c_str());
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(fd, 8) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool SamePeerUser(int fd) {
    ucred cred{};
    socklen_t length = sizeof cred;
    return ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &length) == 0 && cred.uid == ::getuid();
}

}  // namespace

std::unique_ptr<InstanceLock> InstanceLock::TryAcquire(const std::string& dir, const std::string& name,
                                                       std::function<void()> onActivate) {
    const std::string lockPath = dir + "/" + name + ".lock";
    const int lockFd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (lockFd < 0)
        return nullptr;
    if (::flock(lockFd, LOCK_EX | LOCK_NB) != 0) {
        ::close(lockFd);
        return nullptr;
    }
    const std::string socketPath = dir + "/" + name + ".sock";
    const int listenFd = BindListener(socketPath);
    return std::unique_ptr<InstanceLock>(
        new InstanceLock(lockFd, listenFd, socketPath, std::move(onActivate)));
}

bool InstanceLock::RequestActivation(const std::string& dir, const std::string& name) {
    sockaddr_un address{};
    if (!FillAddress(dir + "/" + name + ".sock", address))
        return false;
    // The holder binds its socket right after taking the lock; give a racing start a moment.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    for (;;) {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0)
            return false;
        if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
            const bool sent = ::send(fd, kRequest, sizeof kRequest - 1, MSG_NOSIGNAL) ==
                              static_cast<ssize_t>(sizeof kRequest - 1);
            ::close(fd);
            return sent;
        }
        const int error = errno;
        ::close(fd);
        if ((error != ENOENT && error != ECONNREFUSED) || std::chrono::steady_clock::now() >= deadline)
            return false;
        ::poll(nullptr, 0, 20);
    }
}

InstanceLock::InstanceLock(int lockFd, int listenFd, std::string socketPath, std::function<void()> onActivate)
    : lockFd_(lockFd),
      listenFd_(listenFd),
      socketPath_(std::move(socketPath)),
      onActivate_(std::move(onActivate)) {
    if (listenFd_ >= 0 && ::pipe2(wakeFds_, O_CLOEXEC) == 0)
        listener_ = std::thread([this] {
            EnsureSignalStack();
            Listen();
        });
}

InstanceLock::~InstanceLock() {
    if (listener_.joinable()) {
        const char stop = 1;
        (void)!::write(wakeFds_[1], &stop, 1);
        listener_.join();
    }
    for (int fd : wakeFds_)
        if (fd >= 0)
            ::close(fd);
    if (listenFd_ >= 0) {
        ::close(listenFd_);
        ::unlink(socketPath_.c_str());
    }
    ::close(lockFd_);  // drops the flock
}

void InstanceLock::Listen() {
    for (;;) {
        pollfd fds[2] = {{listenFd_, POLLIN, 0}, {wakeFds_[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (fds[1].revents)
            return;
        const int client = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) {
            // Out of descriptors or memory: the socket stays readable, so back off instead of spinning.
            if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM)
                ::poll(nullptr, 0, 100);
            continue;
        }
        char buffer[sizeof kRequest] = {};
        size_t got = 0;
        // One slow client must not hold the listener: the whole request gets half a second.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(500);
        while (got < sizeof kRequest - 1) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            pollfd in{client, POLLIN, 0};
            if (left.count() <= 0 || ::poll(&in, 1, static_cast<int>(left.count())) <= 0)
                break;
            const ssize_t n = ::recv(client, buffer + got, sizeof kRequest - 1 - got, 0);
            if (n <= 0)
                break;
            got += static_cast<size_t>(n);
        }
        const bool valid = got == sizeof kRequest - 1 && std::memcmp(buffer, kRequest, got) == 0;
        const bool trusted = SamePeerUser(client);
        ::close(client);
        if (valid && trusted && onActivate_)
            onActivate_();
    }
}

}  // namespace platform
