#pragma once
// Writes a minidump of the running process from inside a crash handler: system info, every
// thread with its registers and stack, the module list with build ids, the exception and the
// process's maps and status. Async-signal-safe after PrepareMinidumpWriter: no heap, no stdio.

#include <ucontext.h>

#include <cstdint>

namespace minidump {

struct CrashInfo {
    int signo = 0;
    int code = 0;  // si_code
    uint64_t address = 0;
    int tid = 0;  // the faulting thread
    const ucontext_t* context = nullptr;
};

// Once, outside any signal handler: the facts and handlers the writing needs.
void PrepareMinidumpWriter();

// Stops every other thread (they stay stopped: the process is about to end), writes the dump to
// fd and says whether it was written whole.
bool WriteMinidump(int fd, const CrashInfo& crash);

// For a thread that faults while another one writes: leaves its own context for the dump and
// waits for the process to end.
[[noreturn]] void ParkFaultingThread(const ucontext_t* context);

}  // namespace minidump
