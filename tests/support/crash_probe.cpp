// Installs the crash-dump handler for the folder named on the command line and then fails the way
// the mode says, so that tests can look at the process's end and at the dump it leaves.
//   crash_probe MODE FOLDER     (FOLDER "" = no folder)

#include "app/data.h"
#include "core/text_convert.h"
#include "maintenance/crash_dump_handler.h"
#include "platform/signal_stack.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

int* volatile g_null = nullptr;
volatile int g_stopDepth = -1;
std::atomic<bool> g_go{false};

__attribute__((noinline, no_sanitize("undefined"))) void CrashProbeWriteNull() {
    *g_null = 42;
}

__attribute__((noinline)) void CrashProbeAbort() {
    std::abort();
}

__attribute__((noinline)) int CrashProbeRecurse(int depth) {
    volatile char frame[512];
    frame[0] = static_cast<char>(depth);
    if (depth == g_stopDepth)
        return 0;
    return CrashProbeRecurse(depth + 1) + frame[0];
}

__attribute__((noinline)) void CrashProbeThrow() {
    throw std::runtime_error("nobody catches this");
}

// Runs body on a thread started the way the program starts its threads.
template <typename Body>
void OnWorker(Body body) {
    std::thread([body] {
        platform::EnsureSignalStack();
        body();
    }).join();
}

// Threads that wait in the kernel while the main thread faults; one of them blocks every signal.
void StartBystanders(std::vector<std::thread>& threads, std::mutex& mutex, std::condition_variable& never) {
    for (int i = 0; i < 3; ++i)
        threads.emplace_back([&] {
            platform::EnsureSignalStack();
            std::unique_lock lock(mutex);
            never.wait(lock, [] { return false; });
        });
    threads.emplace_back([] {
        sigset_t all;
        sigfillset(&all);
        pthread_sigmask(SIG_BLOCK, &all, nullptr);
        int fds[2];
        if (::pipe(fds) == 0) {
            char c;
            (void)!::read(fds[0], &c, 1);
        }
    });
    ::usleep(200 * 1000);  // let them reach their waits
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: crash_probe MODE FOLDER\n");
        return 2;
    }
    const std::string mode = argv[1];
    const std::string folder = argv[2];
    CrashDumpHandler handler(mode == "report-failure", AnsiToWide(folder));

    if (mode == "null-main" || mode == "report-failure") {
        CrashProbeWriteNull();
    } else if (mode == "null-worker") {
        OnWorker(CrashProbeWriteNull);
    } else if (mode == "abort") {
        CrashProbeAbort();
    } else if (mode == "overflow-worker") {
        OnWorker([] { CrashProbeRecurse(0); });
    } else if (mode == "throw") {
        CrashProbeThrow();
    } else if (mode == "detached") {
        CrashDumpHandler::Detach();
        CrashProbeWriteNull();
    } else if (mode == "after-app-exit") {
        CData::Instance().PostAppExit();
        CrashProbeWriteNull();
    } else if (mode == "folder-removed") {
        std::filesystem::remove_all(folder);
        CrashProbeWriteNull();
    } else if (mode == "bystanders") {
        std::vector<std::thread> threads;
        std::mutex mutex;
        std::condition_variable never;
        StartBystanders(threads, mutex, never);
        CrashProbeWriteNull();
    } else if (mode == "concurrent") {
        std::vector<std::thread> threads;
        for (int i = 0; i < 4; ++i)
            threads.emplace_back([] {
                platform::EnsureSignalStack();
                while (!g_go.load()) {
                }
                CrashProbeWriteNull();
            });
        g_go.store(true);
        for (std::thread& t : threads)
            t.join();
    } else {
        std::fprintf(stderr, "crash_probe: unknown mode %s\n", mode.c_str());
        return 2;
    }
    std::fprintf(stderr, "crash_probe: still alive\n");
    return 3;
}
