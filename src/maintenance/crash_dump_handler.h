#pragma once
// Turns a fault anywhere in the process (a fatal signal or std::terminate, on any thread) into
// one minidump named by the local time in the crash-dump folder, then ends the process with exit
// code 0. At most one handler is active; Detach leaves later faults to the system.

#include "maintenance/minidump_writer.h"

#include <signal.h>

#include <climits>
#include <string>

class CrashDumpHandler {
public:
    // Installs the handler and makes it the active one. An empty folder means none: dumps then go
    // beside the executable. The folder is created (one level) when nothing of that name exists.
    CrashDumpHandler(bool showMessages, const std::wstring& dumpFolder);
    ~CrashDumpHandler();
    CrashDumpHandler(const CrashDumpHandler&) = delete;
    CrashDumpHandler& operator=(const CrashDumpHandler&) = delete;

    // From now on faults go to the system's own handling (the process dies of the signal).
    static void Detach();

    // The process's handler for fatal signals: the active handler's HandleException, or the
    // system's default action when none is active.
    static void TopLevelFilter(int signo, siginfo_t* info, void* context);

    // Writes the dump and ends the process with exit code 0. A second thread that faults
    // meanwhile waits for the end; async-signal-safe.
    [[noreturn]] void HandleException(const minidump::CrashInfo& crash);

    // Folder + "/" + time + ".dmp" when the folder exists, else beside the executable:
    // executable folder + name + "." + time + ".dmp".
    void MakeDumpPath();

private:
    static constexpr std::size_t kPathCapacity = PATH_MAX;

    bool showMessages_ = false;
    char dumpFolder_[kPathCapacity] = {};
    char dumpPath_[kPathCapacity + 64] = {};
    char exeFolder_[kPathCapacity] = {};
    char exeName_[NAME_MAX + 1] = {};
    char message_[kPathCapacity + 192] = {};
    minidump::CrashInfo exception_{};
};
