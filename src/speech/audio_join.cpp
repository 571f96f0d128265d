#include "speech/audio_join.h"

#include "core/logger.h"
#include "core/paths.h"
#include "core/settings.h"
#include "platform/error.h"
#include "platform/file_ops.h"

#include <unistd.h>

namespace PubUtils {
namespace {

std::string FolderOf(const std::string& file) {
    const size_t slash = file.find_last_of('/');
    return slash == std::string::npos ? std::string(".") : file.substr(0, slash);
}

}  // namespace

std::string FfmpegPath() {
    const std::string beside = GetExeDir() + "/ffmpeg";
    return ::access(beside.c_str(), X_OK) == 0 ? beside : std::string("ffmpeg");
}

platform::SpawnResult RunFfmpeg(const std::vector<std::string>& args, const std::string& folder, bool show,
                                platform::ProcessStarter& starter) {
    platform::SpawnRequest request;
    request.program = FfmpegPath();
    request.args = args;
    request.workingDir = folder;
    request.output = show ? platform::OutputRouting::ToStderr : platform::OutputRouting::ToNull;
    return starter.RunAndWait(request);
}

std::vector<std::string> JoinArguments(const PieceList& pieces) {
    std::string inputs;
    for (size_t i = 0; i < pieces.size(); ++i) {
        if (!platform::PathExists(pieces[i]->file))
            continue;
        inputs += inputs.empty() ? "concat:" : "|";
        inputs += std::to_string(pieces[i]->index + 1) + ".mp3";
    }
    return {"-y", "-i", inputs, "-acodec", "mp3", "-b:a", "37k", "audio.mp3"};
}

bool JoinPieces(const PieceList& pieces, const AudioPiece& last, platform::ProcessStarter& starter) {
    const bool show = ReadConfigInt(L"Debug", 0) != 0;
    const std::string folder = FolderOf(last.file);
    const std::string output = folder + "/audio.mp3";
    // A result of an earlier conversion must not pass for this one when the join fails.
    ::unlink(output.c_str());
    const platform::SpawnResult result = RunFfmpeg(JoinArguments(pieces), folder, show, starter);
    if (!result.started) {
        const std::string tool = FfmpegPath();
        platform::SetLastError(result.error);
        Log(Warning, "PubUtils::JoinPieces", "the joiner %s could not be started: %s", tool.c_str(),
            platform::ErrorText(result.error).c_str());
        return false;
    }
    if (result.exitCode != 0)
        Log(Warning, "PubUtils::JoinPieces", "the joiner failed with exit code %d in %s", result.exitCode,
            folder.c_str());
    return platform::PathExists(output);
}

}  // namespace PubUtils
