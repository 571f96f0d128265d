#include "speech/simple_thread.h"

#include "core/logger.h"
#include "platform/signal_stack.h"

#include <cxxabi.h>

#include <chrono>
#include <cstdlib>
#include <system_error>
#include <thread>
#include <typeinfo>

namespace {

std::string TypeName(const std::type_info& type) {
    int status = 0;
    char* demangled = abi::__cxa_demangle(type.name(), nullptr, nullptr, &status);
    std::string name = status == 0 && demangled ? demangled : type.name();
    std::free(demangled);
    return name;
}

}  // namespace

bool SimpleThread::Start() {
    stopped_.store(false);
    auto completion = std::make_shared<Completion>();
    completion_ = completion;
    try {
        // The body must not touch `this` after Run: Run may have destroyed the object.
        std::thread([this, completion] {
            platform::EnsureSignalStack();
            Run();
            {
                std::lock_guard lock(completion->mutex);
                completion->done = true;
            }
            completion->ended.notify_all();
        }).detach();
    } catch (const std::system_error&) {
        completion_.reset();
        return false;
    }
    return true;
}

void SimpleThread::Join(unsigned milliseconds) {
    PrintTime timer(TypeName(typeid(*this)));
    if (std::shared_ptr<Completion> completion = std::move(completion_)) {
        std::unique_lock lock(completion->mutex);
        if (!completion->ended.wait_for(lock, std::chrono::milliseconds(milliseconds),
                                        [&] { return completion->done; }))
            Log(Info, "SimpleThread::Join", "wait thread exit time out: %d, %p",
                static_cast<int>(milliseconds), static_cast<void*>(this));
    }
}
