#pragma once
// Window messages without a window system: a receiver registers and gets an opaque handle; any
// thread may post to a handle. A posted payload belongs to the receiver; a post to a handle that
// is gone returns false and frees the payload. Handles are never reused.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

enum class WindowHandle : std::uint64_t { Null = 0 };

// Message ids shared with the windows of the system.
inline constexpr std::uint32_t WM_SYSCOMMAND = 0x0112;
inline constexpr std::uintptr_t SC_CLOSE = 0xF060;
inline constexpr std::uintptr_t SC_RESTORE = 0xF120;
// Sent to the first instance's main window when a second start asks it to come to the front.
inline constexpr std::uint32_t WM_ACTIVATE_REQUEST = 0x8001;

// Base of every owned message payload.
class MessagePayload {
public:
    virtual ~MessagePayload() = default;
};

// A payload that carries one value.
template <class T>
class ValuePayload final : public MessagePayload {
public:
    explicit ValuePayload(T v) : value(std::move(v)) {}
    T value;
};

struct Message {
    std::uint32_t id = 0;
    std::uintptr_t wParam = 0;
    std::unique_ptr<MessagePayload> payload;

    // The payload as T, or nullptr when there is none or it is of another type.
    template <class T>
    const T* PayloadAs() const {
        auto* p = dynamic_cast<const ValuePayload<T>*>(payload.get());
        return p ? &p->value : nullptr;
    }
};

// Something that takes posted messages. Enqueue runs on the posting thread while the registry is
// locked: it must only store the message (no waiting, no posting, no registry calls).
class MessageReceiver {
public:
    virtual ~MessageReceiver() = default;
    virtual void Enqueue(Message message) = 0;
};

// Registers a receiver under an optional class name (for FindWindowByClass).
WindowHandle RegisterReceiver(MessageReceiver& receiver, std::string className = {});
// After this returns, the receiver gets no further Enqueue call.
void UnregisterReceiver(WindowHandle handle);
bool IsLiveWindow(WindowHandle handle);
// The most recently registered live receiver of that class, or Null.
WindowHandle FindWindowByClass(std::string_view className);

bool PostMessage(WindowHandle handle, std::uint32_t id, std::uintptr_t wParam = 0,
                 std::unique_ptr<MessagePayload> payload = nullptr);

// A plain receiver: a thread-safe queue that registers itself for its lifetime. Used by tests and
// by programs without windows, which take the messages on a thread of their choice.
class MessageQueue final : public MessageReceiver {
public:
    explicit MessageQueue(std::string className = {});
    ~MessageQueue() override;
    MessageQueue(const MessageQueue&) = delete;
    MessageQueue& operator=(const MessageQueue&) = delete;

    WindowHandle Handle() const { return handle_; }
    void Enqueue(Message message) override;
    // The oldest message, waiting up to `timeout` for one to arrive.
    std::optional<Message> Wait(std::chrono::milliseconds timeout);
    std::optional<Message> TryTake();

private:
    std::mutex mutex_;
    std::condition_variable arrived_;
    std::deque<Message> messages_;
    WindowHandle handle_ = WindowHandle::Null;
};

}  // namespace platform
