#include "platform/instance_lock.h"

#include "support/test_env.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <string>

namespace {

using platform::InstanceLock;
using testenv::Exists;

class InstanceLockTest : public testenv::TempEnvTest {
protected:
    std::unique_ptr<InstanceLock> Acquire(const std::string& name = "parlatto") {
        return InstanceLock::TryAcquire(env.RuntimeDir(), name, [this] { activations_.fetch_add(1); });
    }
    bool Request(const std::string& name = "parlatto") {
        return InstanceLock::RequestActivation(env.RuntimeDir(), name);
    }
    std::string SocketPath() const { return env.RuntimeDir() + "/parlatto.sock"; }

    // Connects to the holder and sends raw bytes, as a confused or hostile client would.
    bool SendRaw(const std::string& bytes) const {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, SocketPath().c_str(), sizeof address.sun_path - 1);
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0)
            return false;
        bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        if (ok && !bytes.empty())
            ok = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
        ::close(fd);
        return ok;
    }

    std::atomic<int> activations_{0};
};

TEST_F(InstanceLockTest, SecondAcquireFailsWhileFirstLives) {
    std::unique_ptr<InstanceLock> first = Acquire();
    ASSERT_TRUE(first);
    EXPECT_FALSE(Acquire());
    EXPECT_TRUE(Acquire("other-name"));  // other names are independent
    first.reset();
    EXPECT_TRUE(Acquire());
}

TEST_F(InstanceLockTest, ActivationReachesHolder) {
    std::unique_ptr<InstanceLock> lock = Acquire();
    ASSERT_TRUE(lock);
    ASSERT_TRUE(Request());
    ASSERT_TRUE(testenv::WaitUntil([&] { return activations_.load() == 1; }));
    ASSERT_TRUE(Request());
    EXPECT_TRUE(testenv::WaitUntil([&] { return activations_.load() == 2; }));
}

TEST_F(InstanceLockTest, MalformedRequestsDoNotActivate) {
    std::unique_ptr<InstanceLock> lock = Acquire();
    ASSERT_TRUE(lock);
    for (const char* bytes : {"", "activ", "hello wor\n", "ACTIVATE\n"}) {
        SCOPED_TRACE(bytes);
        EXPECT_TRUE(SendRaw(bytes));
    }
    // The listener serves clients in turn, so the valid request is handled after all of them.
    ASSERT_TRUE(Request());
    ASSERT_TRUE(testenv::WaitUntil([&] { return activations_.load() >= 1; }));
    EXPECT_EQ(activations_.load(), 1);
}

void PlantDeadSocket(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ::close(fd);  // the file stays, with nobody listening
}

TEST_F(InstanceLockTest, RequestWithoutHolderFails) {
    Acquire().reset();
    EXPECT_FALSE(Exists(SocketPath()));  // a holder that ends cleans up after itself
    EXPECT_FALSE(Request());

    PlantDeadSocket(SocketPath());
    EXPECT_FALSE(Request());
}

TEST_F(InstanceLockTest, StaleSocketFilesDoNotStopNewHolder) {
    const struct {
        const char* name;
        void (*plant)(const std::string& path);
    } cases[] = {
        {"regular file", [](const std::string& path) { testenv::WriteFile(path, "stale"); }},
        {"socket of a dead instance", PlantDeadSocket},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        c.plant(SocketPath());
        ASSERT_TRUE(Exists(SocketPath()));
        activations_.store(0);
        {
            std::unique_ptr<InstanceLock> lock = Acquire();
            ASSERT_TRUE(lock);
            ASSERT_TRUE(Request());
            EXPECT_TRUE(testenv::WaitUntil([&] { return activations_.load() == 1; }));
        }
        EXPECT_FALSE(Exists(SocketPath()));
    }
}

}  // namespace
