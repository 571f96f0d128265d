#include "platform/message.h"

#include <map>

namespace platform {
namespace {

struct Entry {
    MessageReceiver* receiver;
    std::string className;
};

struct Registry {
    std::mutex mutex;
    std::uint64_t next = 1;
    std::map<std::uint64_t, Entry> live;
};

// Never destroyed: worker threads may still post while the process exits.
Registry& TheRegistry() {
    static Registry* registry = new Registry;
    return *registry;
}

}  // namespace

WindowHandle RegisterReceiver(MessageReceiver& receiver, std::string className) {
    Registry& r = TheRegistry();
    std::lock_guard lock(r.mutex);
    const std::uint64_t id = r.next++;
    r.live.emplace(id, Entry{&receiver, std::move(className)});
    return static_cast<WindowHandle>(id);
}

void UnregisterReceiver(WindowHandle handle) {
    Registry& r = TheRegistry();
    std::lock_guard lock(r.mutex);
    r.live.erase(static_cast<std::uint64_t>(handle));
}

bool IsLiveWindow(WindowHandle handle) {
    Registry& r = TheRegistry();
    std::lock_guard lock(r.mutex);
    return r.live.count(static_cast<std::uint64_t>(handle)) != 0;
}

WindowHandle FindWindowByClass(std::string_view className) {
    // Receivers registered without a class must not be found by an empty name.
    if (className.empty())
        return WindowHandle::Null;
    Registry& r = TheRegistry();
    std::lock_guard lock(r.mutex);
    for (auto it = r.live.rbegin(); it != r.live.rend(); ++it) {
        if (it->second.className == className)
            return static_cast<WindowHandle>(it->first);
    }
    return WindowHandle::Null;
}

bool PostMessage(WindowHandle handle, std::uint32_t id, std::uintptr_t wParam,
                 std::unique_ptr<MessagePayload> payload) {
    Message message{id, wParam, std::move(payload)};
    Registry& r = TheRegistry();
    {
        std::lock_guard lock(r.mutex);
        auto it = r.live.find(static_cast<std::uint64_t>(handle));
        if (it != r.live.end()) {
            it->second.receiver->Enqueue(std::move(message));
            return true;
        }
    }
    return false;  // the payload is freed here, outside the lock
}

MessageQueue::MessageQueue(std::string className) : handle_(RegisterReceiver(*this, std::move(className))) {}

MessageQueue::~MessageQueue() {
    UnregisterReceiver(handle_);
}

void MessageQueue::Enqueue(Message message) {
    {
        std::lock_guard lock(mutex_);
        messages_.push_back(std::move(message));
    }
    arrived_.notify_one();
}

std::optional<Message> MessageQueue::Wait(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    if (!arrived_.wait_for(lock, timeout, [this] { return !messages_.empty(); }))
        return std::nullopt;
    Message message = std::move(messages_.front());
    messages_.pop_front();
    return message;
}

std::optional<Message> MessageQueue::TryTake() {
    return Wait(std::chrono::milliseconds(0));
}

}  // namespace platform
