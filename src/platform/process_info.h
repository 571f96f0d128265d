#pragma once
// Facts about the running process: its thread ids, its executable and the per-user folders that
// the desktop conventions (XDG base directories) assign to it.

#include <string>

namespace platform {

// The calling thread's system thread id (gettid), as the log prints it.
int ThreadId();

// Full path of the running executable; empty when /proc is not mounted.
std::string ExecutablePath();

// $XDG_DATA_HOME when it is an absolute path, else $HOME/.local/share (HOME from the password
// database when unset). Empty when neither can be found.
std::string UserDataHome();

// $XDG_RUNTIME_DIR when it is an absolute path, else empty.
std::string UserRuntimeDir();

// $TMPDIR when it is an absolute path, else /tmp.
std::string TempBase();

}  // namespace platform
