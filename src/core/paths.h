#pragma once
// Where the system keeps its files: the data folder "<XDG data home>/Parlatto" (resolved once per
// process), its work folder "Temp", the settings files, and the installation folder.

#include <functional>
#include <string>
#include <vector>

namespace PubUtils {

inline constexpr char kAppName[] = "Parlatto";

// Folder of the running executable, without a trailing separator.
std::string GetExeDir();
// The data folder, created (with missing parents) on the first call and cached from then on.
std::string GetDataDir();
// The work folder data folder + "/Temp", created again whenever it is missing.
std::string GetTempDir();
// Makes GetTempDir answer this folder instead (empty: the usual one), for a process that must not
// share the work folder of a running window.
void SetWorkDirOverride(const std::string& dir);
// Moves the work folder into the user's private temporary folder "<TMPDIR>/Parlatto-<uid>",
// merging with what an earlier run left there. False when nothing could be moved.
bool ClearTempDir();
// The per-user settings file, or (mirror) the copy in the installation folder.
std::wstring GetConfigPath(bool mirror);
// Full paths of at most maxCount files (not folders) of the folder, newest creation time first.
// Files created at the same instant count once.
std::vector<std::string> ListNewestFiles(const std::string& folder, int maxCount);

// Runs once, right after the first resolution of the data folder, with its path. Start-up
// installs the log-upload check here before anything resolves the folder.
void SetDataDirResolvedHook(std::function<void(const std::string&)> hook);

// Forgets the cached data folder, so that a test can point XDG_DATA_HOME elsewhere.
void ResetDataDirForTesting();
// Makes GetExeDir answer this folder (empty: the real one), so tests own the settings mirror.
void SetExeDirForTesting(const std::string& dir);

}  // namespace PubUtils
