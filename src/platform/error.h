#pragma once
// The thread's last system error (errno) and its text, and the debugger output, which is stderr.

#include <string>
#include <string_view>

namespace platform {

int LastError();
void SetLastError(int code);
// The system's message for an error code ("No such file or directory").
std::string ErrorText(int code);

// Writes the text to stderr in one write, so lines of concurrent writers stay whole.
void DebugOutput(std::string_view text);
// Command-line programs, whose stderr is the user's, turn the echo off.
void SetDebugOutputEnabled(bool enabled);

}  // namespace platform
