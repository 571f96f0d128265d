#pragma once
// What the speech server's tests share: synthesis forms written the way Parlatto's client writes
// them (keys in byte order, each pair followed by "&"), running a program to its end with its
// output in files, and decoding MP3 with the real ffmpeg.

#include "support/speech_server.h"
#include "support/test_env.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <vector>

extern char** environ;

namespace speechtest {

using Fields = std::map<std::string, std::string>;

inline std::string Form(const Fields& fields) {
    std::string out;
    for (const auto& [key, value] : fields)
        out += testenv::FormEscape(key) + "=" + testenv::FormEscape(value) + "&";
    return out;
}

inline Fields SynthesisFields(const std::string& token, const std::string& text, int person = 0) {
    return {{"ctp", "1"},  {"cuid", "parlatto-test"},
            {"lan", "zh"}, {"per", std::to_string(person)},
            {"tex", text}, {"tok", token}};
}

inline testenv::HttpReply Synthesize(const testenv::SpeechServer& server, const std::string& token,
                                     const std::string& text, int person = 0) {
    return testenv::HttpPost(server.SynthesisUrl(), Form(SynthesisFields(token, text, person)));
}

inline bool IsAudio(const testenv::HttpReply& reply) {
    return reply.curlCode == 0 && reply.status == 200 && reply.contentType == "audio/mp3" &&
           !reply.body.empty();
}

inline std::string Repeat(const std::string& piece, int times) {
    std::string out;
    for (int i = 0; i < times; ++i)
        out += piece;
    return out;
}

struct ProgramRun {
    int exitCode = -1;  // 128 + signal when killed by one
    std::string out;
    std::string err;
};

// Runs the program with stdout and stderr in files under `folder`; killed when it outlasts the
// timeout (exit code 128 + SIGKILL then).
inline ProgramRun RunProgram(const std::vector<std::string>& command, const std::string& folder,
                             std::chrono::milliseconds timeout = std::chrono::seconds(60)) {
    const std::string outFile = folder + "/run.out";
    const std::string errFile = folder + "/run.err";
    std::vector<std::string> args = command;
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_t pid = -1;
    ProgramRun run;
    const int spawned = ::posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0)
        return run;
    int status = 0;
    if (!testenv::WaitUntil([&] { return ::waitpid(pid, &status, WNOHANG) == pid; }, timeout)) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
    }
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    run.out = testenv::ReadFile(outFile);
    run.err = testenv::ReadFile(errFile);
    return run;
}

struct DecodedAudio {
    bool decoded = false;  // ffmpeg ended well and reported no error
    std::string errors;
    double seconds = 0;
    double rms = 0;      // of the 16-bit samples: near 0 for silence
    double pitchHz = 0;  // median over voiced frames of the autocorrelation peak, 50..500 Hz
};

// Voiced frames are the loud ones; in each the lag of the strongest self-similarity is the pitch
// period. The median is robust against the octave slips of so crude an estimate.
inline double MedianPitch(const std::vector<std::int16_t>& samples, int rate) {
    constexpr std::size_t kFrame = 1024;
    const std::size_t minLag = static_cast<std::size_t>(rate / 500);
    const std::size_t maxLag = static_cast<std::size_t>(rate / 50);
    std::vector<double> pitches;
    for (std::size_t start = 0; start + kFrame <= samples.size(); start += kFrame) {
        const std::int16_t* frame = samples.data() + start;
        double energy = 0;
        for (std::size_t i = 0; i < kFrame; ++i)
            energy += double(frame[i]) * frame[i];
        if (energy / kFrame < 1e6)
            continue;
        double best = 0;
        std::size_t bestLag = 0;
        for (std::size_t lag = minLag; lag <= maxLag; ++lag) {
            double sum = 0;
            for (std::size_t i = 0; i + lag < kFrame; ++i)
                sum += double(frame[i]) * frame[i + lag];
            if (sum > best) {
                best = sum;
                bestLag = lag;
            }
        }
        if (bestLag)
            pitches.push_back(double(rate) / double(bestLag));
    }
    if (pitches.empty())
        return 0;
    std::nth_element(pitches.begin(), pitches.begin() + pitches.size() / 2, pitches.end());
    return pitches[pitches.size() / 2];
}

inline DecodedAudio Decode(const std::string& mp3, const std::string& folder, const std::string& name) {
    constexpr int kRate = 22050;
    const std::string in = folder + "/" + name + ".mp3";
    const std::string raw = folder + "/" + name + ".raw";
    testenv::WriteFile(in, mp3);
    const ProgramRun run = RunProgram({"ffmpeg", "-nostdin", "-v", "error", "-y", "-i", in, "-f", "s16le",
                                       "-ac", "1", "-ar", std::to_string(kRate), raw},
                                      folder);
    DecodedAudio audio;
    audio.errors = run.err;
    audio.decoded = run.exitCode == 0 && run.err.empty();
    const std::string pcm = testenv::ReadFile(raw);
    std::vector<std::int16_t> samples(pcm.size() / 2);
    std::memcpy(samples.data(), pcm.data(), samples.size() * 2);
    double sum = 0;
    for (const std::int16_t sample : samples)
        sum += double(sample) * sample;
    audio.seconds = double(samples.size()) / kRate;
    audio.rms = samples.empty() ? 0 : std::sqrt(sum / double(samples.size()));
    audio.pitchHz = MedianPitch(samples, kRate);
    return audio;
}

}  // namespace speechtest
