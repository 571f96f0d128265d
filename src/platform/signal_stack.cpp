#include "platform/signal_stack.h"

#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>

namespace platform {
namespace {

// Enough for the crash handler with sanitizer-sized frames; a guard page below catches overruns.
constexpr std::size_t kMinStack = 64 * 1024;

class ThreadSignalStack {
public:
    ThreadSignalStack() {
        stack_t current{};
        if (::sigaltstack(nullptr, &current) == 0 && !(current.ss_flags & SS_DISABLE)) {
            ready_ = true;  // someone else's stack (a sanitizer's, say): leave it alone
            return;
        }
        const long page = ::sysconf(_SC_PAGESIZE);
        const long minimum = ::sysconf(_SC_MINSIGSTKSZ);
        std::size_t size = std::max<std::size_t>(kMinStack, minimum > 0 ? 4 * minimum : 0);
        size = (size + page - 1) / page * page;
        void* memory = ::mmap(nullptr, size + page, PROT_READ | PROT_WRITE,
                              MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0);
        if (memory == MAP_FAILED)
            return;
        ::mprotect(memory, page, PROT_NONE);
        stack_t stack{};
        stack.ss_sp = static_cast<char*>(memory) + page;
        stack.ss_size = size;
        if (::sigaltstack(&stack, nullptr) != 0) {
            ::munmap(memory, size + page);
            return;
        }
        memory_ = memory;
        length_ = size + page;
        ready_ = true;
    }

    ~ThreadSignalStack() {
        if (!memory_)
            return;
        stack_t off{};
        off.ss_flags = SS_DISABLE;
        ::sigaltstack(&off, nullptr);
        ::munmap(memory_, length_);
    }

    ThreadSignalStack(const ThreadSignalStack&) = delete;
    ThreadSignalStack& operator=(const ThreadSignalStack&) = delete;

    bool Ready() const { return ready_; }

private:
    void* memory_ = nullptr;
    std::size_t length_ = 0;
    bool ready_ = false;
};

}  // namespace

bool EnsureSignalStack() {
    thread_local ThreadSignalStack stack;
    return stack.Ready();
}

}  // namespace platform
