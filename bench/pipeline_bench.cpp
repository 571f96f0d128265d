// Figures of the speech pipeline against the local speech service (started here on loopback):
//   - StartJob of a 1 MiB and a 10 MiB text (copy, read, cut, queue), median of 5;
//   - end-to-end pieces per second for several ticks, against the limit the tick allows;
//   - memory of whole jobs: resident-set growth against the audio bytes they produced.
// Run: build/bench/pipeline_bench

#include "app/data.h"
#include "core/logger.h"
#include "core/paths.h"
#include "platform/error.h"
#include "speech/audio_convert.h"
#include "speech/speech_client.h"
#include "support/speech_server.h"
#include "support/test_env.h"

#include <curl/curl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

long ResidentKiB() {
    std::ifstream statm("/proc/self/statm");
    long size = 0, resident = 0;
    statm >> size >> resident;
    return resident * (::sysconf(_SC_PAGESIZE) / 1024);
}

// Pieces of about 1000 bytes; `words` is what each of them says.
std::string Text(std::size_t bytes, const std::string& words) {
    const std::string piece = words.size() > 900 ? words.substr(0, 998) + "\n"
                                                 : std::string(1000 - words.size() - 1, ' ') + words + "\n";
    std::string text;
    text.reserve(bytes + piece.size());
    while (text.size() + piece.size() <= bytes)
        text += piece;
    return text;
}

std::string Sentences() {
    std::string words;
    while (words.size() < 990)
        words += "The quick brown fox jumps over the lazy dog and runs away. ";
    return words;
}

struct Run {
    double seconds = 0;
    int pieces = 0;
    long peakGrowthKiB = 0;
    long baseKiB = 0;
    std::size_t audioBytes = 0;
};

// Converts one text to the end with a steady tick, as the window does.
Run Convert(const std::string& path, std::chrono::milliseconds tick, platform::MessageQueue& window) {
    Run run;
    const long before = ResidentKiB();
    run.baseKiB = before;
    const auto start = Clock::now();
    CAudioConvert convert;
    if (!convert.StartJob(path))
        return run;
    const int count = convert.PieceCount(path);
    auto next = Clock::now() + tick;
    int finished = 0;
    while (finished < count) {
        if (Clock::now() >= next) {
            convert.StartNextTask();
            next += tick;
        }
        if (auto message = window.Wait(std::chrono::milliseconds(1));
            message && message->id == WM_CONVERT_STATUS)
            finished = static_cast<int>(convert.GetFinishedPieces(path).size());
        run.peakGrowthKiB = std::max(run.peakGrowthKiB, ResidentKiB() - before);
    }
    run.seconds = Ms(Clock::now() - start) / 1000;
    run.pieces = count;
    for (const auto& piece : convert.GetFinishedPieces(path))
        run.audioBytes += piece->audioBytes;
    return run;
}

}  // namespace

int main() {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    testenv::ScopedEnvironment env;
    platform::SetDebugOutputEnabled(false);
    curl_global_init(CURL_GLOBAL_DEFAULT);
    testenv::SpeechServer server;
    PubUtils::GetDataDir();
    testenv::WriteFile(env.DataDir() + "/config.ini", "[Parlatto]\nTokenUrl=" + server.TokenUrl() +
                                                          "\nSynthesisUrl=" + server.SynthesisUrl() + "\n");
    Logger::OpenGlobal();
    platform::MessageQueue window;
    CData::Instance().SetMainWindow(window.Handle());

    std::printf("Memory of whole jobs (resident-set growth during the job against the audio produced):\n");
    const struct {
        const char* name;
        std::size_t bytes;
        std::string words;
    } jobs[] = {
        {"10 MiB text, short audio ", 10u << 20, "A."},
        {"128 KiB text, long audio", 128u << 10, Sentences()},
    };
    for (const auto& job : jobs) {
        const std::string path = env.Root() + "/memory.txt";
        testenv::WriteFile(path, Text(job.bytes, job.words));
        const Run run = Convert(path, std::chrono::milliseconds(1), window);
        std::printf(
            "  %s: %5d pieces, %6.1f MiB of audio, resident set grew by %5.1f MiB (peak %.1f MiB), %.1f s\n",
            job.name, run.pieces, run.audioBytes / 1048576.0, run.peakGrowthKiB / 1024.0,
            (run.peakGrowthKiB + run.baseKiB) / 1024.0, run.seconds);
    }
    std::printf("StartJob (copy, read, cut, queue), median of 5:\n");
    server.Hold();
    double medians[2] = {};
    const std::size_t sizes[2] = {1u << 20, 10u << 20};
    for (int s = 0; s < 2; ++s) {
        const std::string path = env.Root() + "/start" + std::to_string(s) + ".txt";
        testenv::WriteFile(path, Text(sizes[s], "Short words."));
        std::vector<double> times;
        for (int rep = 0; rep < 5; ++rep) {
            CAudioConvert convert;
            const auto t0 = Clock::now();
            convert.StartJob(path);
            times.push_back(Ms(Clock::now() - t0));
            convert.RemoveJob(path);
        }
        std::sort(times.begin(), times.end());
        medians[s] = times[2];
        std::printf("  %2zu MiB: %8.2f ms\n", sizes[s] >> 20, medians[s]);
    }
    std::printf("  ratio 10 MiB / 1 MiB: %.1f\n", medians[1] / medians[0]);
    server.Release();

    std::printf("End-to-end pieces per second (tiny pieces, 10 at most at once):\n");
    for (int tickMs : {1, 10, 100}) {
        const int pieces = tickMs == 100 ? 40 : 300;
        const std::string path = env.Root() + "/tick" + std::to_string(tickMs) + ".txt";
        testenv::WriteFile(path, Text(static_cast<std::size_t>(pieces) * 1000, "A."));
        const Run run = Convert(path, std::chrono::milliseconds(tickMs), window);
        std::printf("  tick %3d ms: %4d pieces in %6.2f s = %7.1f pieces/s (the tick allows %.0f starts/s)\n",
                    tickMs, run.pieces, run.seconds, run.pieces / run.seconds, 1000.0 / tickMs);
    }

    CData::Instance().SetMainWindow(platform::WindowHandle::Null);
    return 0;
}
