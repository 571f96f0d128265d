// Costs of the calls every subsystem makes often: one log entry (with its flush), one settings
// read and write, one credential hand-out under contention.
// Run: build/bench/bench_foundation (it works in a temporary data folder).

#include "app/data.h"
#include "core/logger.h"
#include "core/paths.h"
#include "core/settings.h"
#include "platform/file_ops.h"

#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <string>

namespace {

void BM_LogEntry(benchmark::State& state) {
    for (auto _ : state)
        Log(Info, "CAudioTask::Run", "text2audio text: %d to audio: %d", 120, 3);
}
BENCHMARK(BM_LogEntry);

void BM_ReadConfigInt(benchmark::State& state) {
    WriteConfigInt(L"AudioType", 3);
    for (auto _ : state)
        benchmark::DoNotOptimize(ReadConfigInt(L"AudioType", 1));
}
BENCHMARK(BM_ReadConfigInt);

void BM_WriteConfigInt(benchmark::State& state) {
    int i = 0;
    for (auto _ : state)
        WriteConfigInt(L"AudioType", ++i % 4 + 1);
}
BENCHMARK(BM_WriteConfigInt);

CData g_data;

void BM_GetKey(benchmark::State& state) {
    if (state.thread_index() == 0)
        g_data.AddKey({{"a", "1"}, {"b", "2"}, {"c", "3"}});
    for (auto _ : state)
        benchmark::DoNotOptimize(g_data.GetKey());
}
BENCHMARK(BM_GetKey)->Threads(1)->Threads(10);

}  // namespace

int main(int argc, char** argv) {
    char root[] = "/tmp/parlatto-bench-XXXXXX";
    if (!::mkdtemp(root))
        return 1;
    ::setenv("XDG_DATA_HOME", root, 1);
    ::setenv("TMPDIR", root, 1);
    // Stderr echo of every entry would dominate the log figure; measure the file path only.
    if (!freopen("/dev/null", "w", stderr))
        return 1;
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    platform::RemoveTree(root);
    return 0;
}
