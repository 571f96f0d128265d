#pragma once
// How long an audio file plays, read with libmediainfo, loaded on first use (a failed load is tried
// again at the next call); a missing library or an unreadable file gives 0. The library converts
// wide file names with the process's locale, which must be UTF-8 (the Qt application makes it so).

#include <string>

// Whole seconds of the first audio stream, truncated; 0 when it cannot be read.
int GetMediaDuration(const std::wstring& path);

// Loads the library of this name on the next call instead (empty: the usual one), forgetting one
// already loaded, so tests can see how a missing library behaves.
void SetMediaInfoLibraryForTesting(const std::string& name);
