// What a crash costs: from the fault to the end of the process, with the dump written, for a
// process with a number of waiting threads; against the same child ending without a fault.
//   build/bench/crash_dump_bench

#include "core/text_convert.h"
#include "maintenance/crash_dump_handler.h"
#include "platform/signal_stack.h"

#include <benchmark/benchmark.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

int* volatile g_null = nullptr;

[[noreturn]] void Child(int threads, bool fault, const std::string& folder) {
    CrashDumpHandler handler(false, AnsiToWide(folder));
    std::mutex mutex;
    std::condition_variable never;
    std::vector<std::thread> waiting;
    for (int i = 0; i < threads; ++i)
        waiting.emplace_back([&] {
            platform::EnsureSignalStack();
            std::unique_lock lock(mutex);
            never.wait(lock, [] { return false; });
        });
    if (fault)
        *g_null = 1;
    ::_exit(0);
}

void Run(benchmark::State& state, bool fault) {
    const int threads = static_cast<int>(state.range(0));
    const std::string folder =
        std::filesystem::temp_directory_path() / ("crash_dump_bench." + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    double bytes = 0;
    for (auto _ : state) {
        const pid_t pid = ::fork();
        if (pid == 0)
            Child(threads, fault, folder);
        int status = 0;
        ::waitpid(pid, &status, 0);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
            state.SkipWithError("the child did not end with exit code 0");
        state.PauseTiming();
        for (const auto& entry : std::filesystem::directory_iterator(folder)) {
            bytes = static_cast<double>(entry.file_size());
            std::filesystem::remove(entry.path());
        }
        state.ResumeTiming();
    }
    state.counters["dump_bytes"] = bytes;
    std::filesystem::remove_all(folder);
}

void BM_CrashWithDump(benchmark::State& state) {
    Run(state, true);
}
void BM_ExitWithoutFault(benchmark::State& state) {
    Run(state, false);
}

BENCHMARK(BM_CrashWithDump)->Arg(0)->Arg(8)->Arg(64)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ExitWithoutFault)->Arg(0)->Arg(8)->Arg(64)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
