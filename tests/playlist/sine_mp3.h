#pragma once
// Real MP3 files of a chosen length for the duration tests, encoded by ffmpeg from a sine tone.

#include "platform/file_ops.h"
#include "speech/audio_join.h"

#include <string>

namespace testenv {

// True when the file was written.
inline bool MakeSineMp3(const std::string& path, const std::string& seconds) {
    // A low sample rate keeps a three-minute file quick to encode.
    const auto result =
        PubUtils::RunFfmpeg({"-y", "-f", "lavfi", "-i",
                             "sine=frequency=440:sample_rate=8000:duration=" + seconds, "-b:a", "32k", path},
                            {}, false);
    return result.started && result.exitCode == 0 && platform::PathExists(path);
}

}  // namespace testenv
