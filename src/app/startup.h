#pragma once
// The process-wide services that come before any window, brought up in their fixed order: the
// data folder (with its first-resolution hook, where the log-upload check goes), the log with its
// start banner, the single-instance check, libcurl, and the user's credentials.

#include <functional>
#include <string>

struct StartupOptions {
    // Runs once the data folder is first resolved, before the log opens. Without one, the program
    // sends the newest crash dumps and its log to the maker when they wait (the log-upload check).
    std::function<void(const std::string& dataDir)> onDataDirResolved;
    bool logUploadCheck = true;
    // Programs that may run beside the window (the headless converter) skip the instance check.
    bool singleInstance = true;
};

enum class StartupResult { Run, AlreadyRunning };

// AlreadyRunning: another instance was asked to come forward; the caller returns 0 at once.
StartupResult StartServices(const StartupOptions& options = {});
// Undoes what StartServices set up for the process (libcurl).
void StopServices();

// The version the program reports.
inline constexpr wchar_t kAppVersion[] = L"v1.0.6";
