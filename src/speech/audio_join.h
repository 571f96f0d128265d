#pragma once
// Joining a finished job's piece files into "audio.mp3" in the job folder with ffmpeg: only the
// pieces whose file exists, in index order, re-encoded as MP3 at 37 kbit/s; the caller waits.

#include "platform/process.h"
#include "speech/audio_piece.h"

#include <memory>
#include <string>
#include <vector>

using PieceList = std::vector<std::shared_ptr<const AudioPiece>>;

namespace PubUtils {

// ffmpeg beside the executable when it is there, else the one on PATH.
std::string FfmpegPath();

// Runs the joiner with the arguments in the folder and waits for it; show routes its output to
// stderr (the "Debug" setting), else it is discarded.
platform::SpawnResult RunFfmpeg(const std::vector<std::string>& args, const std::string& folder, bool show,
                                platform::ProcessStarter& starter = platform::DefaultProcessStarter());

// "-y -i concat:1.mp3|3.mp3 -acodec mp3 -b:a 37k audio.mp3" for the pieces with a file.
std::vector<std::string> JoinArguments(const PieceList& pieces);

// Joins the pieces of a complete job; true when "audio.mp3" was written.
bool JoinPieces(const PieceList& pieces, const AudioPiece& last,
                platform::ProcessStarter& starter = platform::DefaultProcessStarter());

}  // namespace PubUtils
