#include "convert/converter.h"

#include "app/data.h"
#include "core/helpers.h"
#include "core/logger.h"
#include "platform/file_ops.h"
#include "platform/message.h"
#include "speech/audio_convert.h"

#include <climits>
#include <cstdlib>
#include <map>
#include <ostream>
#include <set>

namespace {

struct TextJob {
    std::string path;  // the job key: the absolute path
    std::string name;  // as the user gave it
    int count = 0;
    int done = 0;
    int shownPercent = -1;
    std::chrono::steady_clock::time_point started;
    bool complete = false;
};

std::string Absolute(const std::string& path) {
    if (!path.empty() && path[0] == '/')
        return path;
    char buffer[PATH_MAX];
    if (!::getcwd(buffer, sizeof buffer))
        return path;
    if (path.empty() || path == ".")
        return buffer;
    return std::string(buffer) + "/" + (path.rfind("./", 0) == 0 ? path.substr(2) : path);
}

std::string Elapsed(const TextJob& job) {
    const auto seconds =
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - job.started)
            .count();
    return PubUtils::FormatDuration(static_cast<int>(seconds));
}

void ShowProgress(TextJob& job, std::ostream& out, bool tty) {
    const int percent = job.count ? job.done * 100 / job.count : 100;
    if (tty) {
        constexpr int kWidth = 30;
        const int filled = percent * kWidth / 100;
        out << "\r\033[K[" << std::string(static_cast<size_t>(filled), '#')
            << std::string(static_cast<size_t>(kWidth - filled), '.') << "] " << job.name << " " << job.done
            << "/" << job.count << " (" << percent << "%) " << Elapsed(job);
        if (job.complete)
            out << "\n";
        out.flush();
    } else if (percent != job.shownPercent || job.complete) {
        out << job.name << ": " << job.done << "/" << job.count << " pieces (" << percent << "%) "
            << Elapsed(job) << "\n";
    }
    job.shownPercent = percent;
}

}  // namespace

const char* ConvertUsage() {
    return "usage: parlatto-convert [--voice N] [--out DIR] [--keep-work] FILE...\n"
           "  --voice N     1 female, 2 male, 3 child, 4 expressive male (default: the stored choice)\n"
           "  --out DIR     where the MP3 files go (default: the current folder)\n"
           "  --keep-work   keep the work folder with the pieces and print where it is\n"
           "  --tick-ms N   how often a waiting piece may start (default: 1000)\n";
}

std::optional<ConvertOptions> ParseConvertArgs(const std::vector<std::string>& args, std::string& message) {
    ConvertOptions options;
    auto number = [&](size_t& i, const std::string& flag, int low, int high, int& value) {
        if (i + 1 >= args.size()) {
            message = flag + " needs a value";
            return false;
        }
        char* end = nullptr;
        const long parsed = std::strtol(args[++i].c_str(), &end, 10);
        if (args[i].empty() || *end != '\0' || parsed < low || parsed > high) {
            message = flag + " must be a number from " + std::to_string(low) + " to " + std::to_string(high);
            return false;
        }
        value = static_cast<int>(parsed);
        return true;
    };
    bool onlyFiles = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (onlyFiles || arg.empty() || arg[0] != '-' || arg == "-") {
            options.files.push_back(arg);
        } else if (arg == "--") {
            onlyFiles = true;
        } else if (arg == "--help" || arg == "-h") {
            message.clear();
            return std::nullopt;
        } else if (arg == "--voice") {
            if (!number(i, arg, 1, 4, options.voice))
                return std::nullopt;
        } else if (arg == "--tick-ms") {
            int ms = 0;
            if (!number(i, arg, 1, 60000, ms))
                return std::nullopt;
            options.tick = std::chrono::milliseconds(ms);
        } else if (arg == "--out") {
            if (i + 1 >= args.size()) {
                message = "--out needs a folder";
                return std::nullopt;
            }
            options.outDir = args[++i];
        } else if (arg == "--keep-work") {
            options.keepWork = true;
        } else {
            message = "unknown option " + arg;
            return std::nullopt;
        }
    }
    if (options.files.empty()) {
        message = "no text file given";
        return std::nullopt;
    }
    return options;
}

int RunConversion(const ConvertOptions& options, std::ostream& out, std::ostream& err, bool tty,
                  const volatile bool* stop) {
    if (!platform::IsDirectory(options.outDir) && !platform::MakeDirs(options.outDir, 0755)) {
        err << "parlatto-convert: " << options.outDir << ": the output folder cannot be created\n";
        return kConvertUsage;
    }
    if (options.voice != 0)
        CData::Instance().SetAudioTypeForRun(options.voice);

    platform::MessageQueue window;
    CData::Instance().SetMainWindow(window.Handle());
    int exitCode = kConvertOk;
    std::map<std::string, TextJob> jobs;
    {
        CAudioConvert convert;
        std::set<std::string> seen;
        for (const std::string& file : options.files) {
            const std::string path = Absolute(file);
            if (!seen.insert(path).second)
                continue;  // the same text twice would replace its own job
            PubUtils::TextError error = PubUtils::TextError::None;
            if (!convert.StartJob(path, &error)) {
                err << "parlatto-convert: " << file << ": " << PubUtils::TextErrorText(error) << "\n";
                exitCode = kConvertUsage;
                continue;
            }
            TextJob job{path, file, 0, 0, -1, std::chrono::steady_clock::now(), false};
            job.count = convert.PieceCount(path);
            jobs.emplace(path, job);
        }
        size_t open = jobs.size();
        auto next = std::chrono::steady_clock::now() + options.tick;
        while (open > 0 && !(stop && *stop)) {
            const auto now = std::chrono::steady_clock::now();
            if (now >= next) {
                convert.StartNextTask();
                next = now + options.tick;
                continue;
            }
            auto message = window.Wait(std::chrono::duration_cast<std::chrono::milliseconds>(next - now) +
                                       std::chrono::milliseconds(1));
            if (!message || message->id != WM_CONVERT_STATUS)
                continue;
            const std::string* key = message->PayloadAs<std::string>();
            auto it = key ? jobs.find(*key) : jobs.end();
            if (it == jobs.end() || it->second.complete)
                continue;
            const PieceList finished = convert.GetFinishedPieces(*key);
            TextJob& job = it->second;
            job.done = static_cast<int>(finished.size());
            job.complete = job.done == job.count;
            ShowProgress(job, out, tty);
            if (!job.complete)
                continue;
            --open;
            std::string failedPieces;
            for (const auto& piece : finished)
                if (!piece->HasAudio())
                    failedPieces += (failedPieces.empty() ? "" : ", ") + std::to_string(piece->index + 1);
            const std::string folder =
                finished.back()->file.substr(0, finished.back()->file.find_last_of('/'));
            const std::string result = Absolute(options.outDir) + "/" + PubUtils::ResultFileName(job.path);
            if (!failedPieces.empty()) {
                err << "parlatto-convert: " << job.name << ": pieces " << failedPieces
                    << " failed after 10 attempts; the MP3 lacks them\n";
                exitCode = exitCode == kConvertOk ? kConvertPieceFailed : exitCode;
            }
            if (!platform::PathExists(folder + "/audio.mp3")) {
                err << "parlatto-convert: " << job.name
                    << ": the pieces could not be joined (is ffmpeg installed?)\n";
                exitCode = exitCode == kConvertOk ? kConvertPieceFailed : exitCode;
            } else if (!platform::CopyFileReplacing(folder + "/audio.mp3", result)) {
                err << "parlatto-convert: " << job.name << ": cannot write " << result << "\n";
                exitCode = exitCode == kConvertOk ? kConvertPieceFailed : exitCode;
            } else {
                out << job.name << " -> " << result << "\n";
            }
        }
        if (open > 0) {
            err << "parlatto-convert: interrupted\n";
            exitCode = kConvertInterrupted;
        }
    }
    CData::Instance().SetMainWindow(platform::WindowHandle::Null);
    return exitCode;
}
