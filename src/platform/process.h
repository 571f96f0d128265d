#pragma once
// Starting other programs with an argument vector (posix_spawn, no shell). ProcessStarter is the
// seam: production code takes one, the default starts real processes, tests may substitute.

#include <sys/types.h>

#include <string>
#include <vector>

namespace platform {

enum class OutputRouting {
    Inherit,   // the child writes where this process writes
    ToStderr,  // the child's stdout and stderr both go to this process's stderr
    ToNull,    // both are discarded
};

struct SpawnRequest {
    std::string program;            // a path, or a bare name looked up on PATH
    std::vector<std::string> args;  // arguments after the program name
    std::string workingDir;         // empty: this process's current folder
    OutputRouting output = OutputRouting::Inherit;
};

struct SpawnResult {
    bool started = false;
    int error = 0;      // errno of a failed start
    int exitCode = -1;  // exit status, or 128 + signal number; -1 when not waited for
};

class ProcessStarter {
public:
    virtual ~ProcessStarter() = default;
    // Starts the program and waits for it to end.
    virtual SpawnResult RunAndWait(const SpawnRequest& request) = 0;
    // Starts the program in a session of its own and does not wait; it outlives this process.
    virtual SpawnResult StartDetached(const SpawnRequest& request) = 0;
};

// The starter of real processes.
ProcessStarter& DefaultProcessStarter();

}  // namespace platform
