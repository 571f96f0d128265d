#include "platform/message.h"

#include "support/test_env.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

using platform::FindWindowByClass;
using platform::IsLiveWindow;
using platform::MessageQueue;
using platform::PostMessage;
using platform::ValuePayload;
using platform::WindowHandle;

// Counts its own destruction, so a test sees whether a payload was freed, and how often.
class CountedPayload final : public platform::MessagePayload {
public:
    explicit CountedPayload(std::atomic<int>& destroyed) : destroyed_(destroyed) {}
    ~CountedPayload() override { destroyed_.fetch_add(1); }

private:
    std::atomic<int>& destroyed_;
};

TEST(MessageTest, DeliversIdWParamAndPayloadInOrder) {
    MessageQueue queue;
    ASSERT_TRUE(IsLiveWindow(queue.Handle()));
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(PostMessage(queue.Handle(), 100 + i, 10 + i,
                                std::make_unique<ValuePayload<std::string>>("text " + std::to_string(i))));
    }
    ASSERT_TRUE(PostMessage(queue.Handle(), platform::WM_SYSCOMMAND, platform::SC_CLOSE));

    for (int i = 0; i < 3; ++i) {
        std::optional<platform::Message> message = queue.TryTake();
        ASSERT_TRUE(message);
        EXPECT_EQ(message->id, 100u + i);
        EXPECT_EQ(message->wParam, 10u + i);
        const std::string* text = message->PayloadAs<std::string>();
        ASSERT_NE(text, nullptr);
        EXPECT_EQ(*text, "text " + std::to_string(i));
        EXPECT_EQ(message->PayloadAs<int>(), nullptr);
    }
    std::optional<platform::Message> last = queue.TryTake();
    ASSERT_TRUE(last);
    EXPECT_EQ(last->id, platform::WM_SYSCOMMAND);
    EXPECT_EQ(last->wParam, platform::SC_CLOSE);
    EXPECT_EQ(last->PayloadAs<std::string>(), nullptr);
    EXPECT_FALSE(queue.TryTake());
}

TEST(MessageTest, PayloadAsRejectsOtherTypes) {
    std::atomic<int> destroyed{0};
    platform::Message custom{1, 0, std::make_unique<CountedPayload>(destroyed)};
    EXPECT_EQ(custom.PayloadAs<int>(), nullptr);

    platform::Message number{1, 0, std::make_unique<ValuePayload<long>>(7)};
    EXPECT_EQ(number.PayloadAs<int>(), nullptr);
    ASSERT_NE(number.PayloadAs<long>(), nullptr);
    EXPECT_EQ(*number.PayloadAs<long>(), 7);
}

TEST(MessageTest, WaitReturnsMessagePostedByAnotherThread) {
    MessageQueue queue;
    std::thread poster([handle = queue.Handle()] { PostMessage(handle, 42, 1); });
    std::optional<platform::Message> message = queue.Wait(std::chrono::seconds(10));
    poster.join();
    ASSERT_TRUE(message);
    EXPECT_EQ(message->id, 42u);
}

TEST(MessageTest, RefusedPostReturnsFalseAndFreesPayload) {
    WindowHandle unregistered;
    {
        MessageQueue gone;
        unregistered = gone.Handle();
    }
    MessageQueue live;  // may be issued the next handle, which must not catch stray posts
    const struct {
        const char* name;
        WindowHandle handle;
    } cases[] = {
        {"unregistered", unregistered},
        {"null", WindowHandle::Null},
        {"never issued", static_cast<WindowHandle>(~std::uint64_t{0})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::atomic<int> destroyed{0};
        EXPECT_FALSE(IsLiveWindow(c.handle));
        EXPECT_FALSE(PostMessage(c.handle, 1, 2, std::make_unique<CountedPayload>(destroyed)));
        EXPECT_EQ(destroyed.load(), 1);
    }
    EXPECT_FALSE(live.TryTake());
}

TEST(MessageTest, DeliveredPayloadLivesUntilMessageOrQueueGoes) {
    std::atomic<int> destroyed{0};
    {
        MessageQueue queue;
        ASSERT_TRUE(PostMessage(queue.Handle(), 1, 0, std::make_unique<CountedPayload>(destroyed)));
        ASSERT_TRUE(PostMessage(queue.Handle(), 2, 0, std::make_unique<CountedPayload>(destroyed)));
        EXPECT_EQ(destroyed.load(), 0);
        std::optional<platform::Message> taken = queue.TryTake();
        ASSERT_TRUE(taken);
        EXPECT_EQ(destroyed.load(), 0);
        taken.reset();
        EXPECT_EQ(destroyed.load(), 1);
    }
    EXPECT_EQ(destroyed.load(), 2);  // the one never taken goes with the queue
}

TEST(MessageTest, HandlesAreNotReused) {
    std::vector<WindowHandle> seen;
    for (int i = 0; i < 50; ++i) {
        MessageQueue queue;
        ASSERT_NE(queue.Handle(), WindowHandle::Null);
        for (WindowHandle old : seen)
            ASSERT_NE(queue.Handle(), old);
        seen.push_back(queue.Handle());
    }
    MessageQueue current;
    for (WindowHandle old : seen)
        EXPECT_FALSE(PostMessage(old, 1));
    EXPECT_FALSE(current.TryTake());
}

TEST(MessageTest, FindWindowByClassReturnsNewestLiveReceiver) {
    auto older = std::make_unique<MessageQueue>("MessageTestMain");
    auto newer = std::make_unique<MessageQueue>("MessageTestMain");
    MessageQueue other("MessageTestOther");
    MessageQueue unnamed;

    EXPECT_EQ(FindWindowByClass("MessageTestMain"), newer->Handle());
    EXPECT_EQ(FindWindowByClass("MessageTestOther"), other.Handle());
    EXPECT_EQ(FindWindowByClass("MessageTestMissing"), WindowHandle::Null);
    // A receiver without a class is nobody's window, whatever asks with an empty name.
    EXPECT_EQ(FindWindowByClass(""), WindowHandle::Null);

    newer.reset();
    EXPECT_EQ(FindWindowByClass("MessageTestMain"), older->Handle());
    older.reset();
    EXPECT_EQ(FindWindowByClass("MessageTestMain"), WindowHandle::Null);
}

// Receivers come and go while other threads post to them: every payload must be freed exactly
// once, whether it was delivered or refused.
class MessageConcurrency : public ::testing::Test {
protected:
    static constexpr int kPosters = 4;

    void StartPosters(const std::function<WindowHandle()>& target) {
        for (int t = 0; t < kPosters; ++t) {
            posters_.emplace_back([this, target] {
                while (!stop_.load()) {
                    posted_.fetch_add(1);
                    if (PostMessage(target(), 7, 0, std::make_unique<CountedPayload>(destroyed_)))
                        delivered_.fetch_add(1);
                    else
                        refused_.fetch_add(1);
                }
            });
        }
    }

    void StopPosters() {
        stop_.store(true);
        for (std::thread& poster : posters_)
            poster.join();
        posters_.clear();
    }

    void TearDown() override {
        if (!posters_.empty())
            StopPosters();
    }

    std::atomic<bool> stop_{false};
    std::atomic<int> posted_{0}, delivered_{0}, refused_{0}, destroyed_{0};
    std::vector<std::thread> posters_;
};

TEST_F(MessageConcurrency, PostsWhileQueueIsDestroyed) {
    auto queue = std::make_unique<MessageQueue>();
    const WindowHandle handle = queue->Handle();
    StartPosters([handle] { return handle; });

    ASSERT_TRUE(testenv::WaitUntil([&] { return delivered_.load() >= 200; }));
    for (int i = 0; i < 50; ++i)
        queue->TryTake();
    queue.reset();
    ASSERT_TRUE(testenv::WaitUntil([&] { return refused_.load() >= 200; }));
    StopPosters();

    EXPECT_EQ(delivered_.load() + refused_.load(), posted_.load());
    EXPECT_EQ(destroyed_.load(), posted_.load());
}

TEST_F(MessageConcurrency, PostsByClassWhileReceiversComeAndGo) {
    StartPosters([] { return FindWindowByClass("MessageConcurrencyClass"); });
    // Each round lets one receiver appear and vanish, until both outcomes happened often.
    ASSERT_TRUE(testenv::WaitUntil([&] {
        MessageQueue queue("MessageConcurrencyClass");
        queue.TryTake();
        return delivered_.load() >= 100 && refused_.load() >= 100;
    }));
    StopPosters();

    EXPECT_EQ(delivered_.load() + refused_.load(), posted_.load());
    EXPECT_EQ(destroyed_.load(), posted_.load());
}

}  // namespace
