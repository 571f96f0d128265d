#pragma once
// The headless converter: turns text files into MP3 files with the real conversion manager, a
// steady tick and the platform message layer, shows progress per text, and delivers each joined
// result as <name without its last four characters>.mp3 into the output folder.

#include <chrono>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

struct ConvertOptions {
    int voice = 0;  // 0: the stored "AudioType"
    std::string outDir = ".";
    bool keepWork = false;
    std::chrono::milliseconds tick{1000};
    std::vector<std::string> files;
};

enum ConvertExit { kConvertOk = 0, kConvertPieceFailed = 1, kConvertUsage = 2, kConvertInterrupted = 130 };

// Parses the command line; nullopt with a message on a usage error (or --help, with an empty one).
std::optional<ConvertOptions> ParseConvertArgs(const std::vector<std::string>& args, std::string& message);
const char* ConvertUsage();

// Runs the conversion of options.files in the current work folder. `stop` is polled once per tick.
int RunConversion(const ConvertOptions& options, std::ostream& out, std::ostream& err, bool tty,
                  const volatile bool* stop = nullptr);
