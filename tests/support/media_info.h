#pragma once
// Durations of audio files as libmediainfo reads them, loaded at run time (the library's
// development package cannot be installed beside libcurl's).

#include <string>

namespace testenv {

// Milliseconds, or -1 when the library or the file cannot be read.
long long MediaDurationMs(const std::string& path);

}  // namespace testenv
