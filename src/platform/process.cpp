#include "platform/process.h"

#include "platform/signal_stack.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <thread>

extern char** environ;

namespace platform {
namespace {

// Spawns the request; the child starts with default signal dispositions and an empty mask, so an
// ignored SIGPIPE in this process does not leak into it, and with stdin on /dev/null.
pid_t Spawn(const SpawnRequest& request, bool newSession, int* error) {
    std::vector<std::string> argvStore;
    argvStore.reserve(request.args.size() + 1);
    argvStore.push_back(request.program);
    for (const std::string& arg : request.args)
        argvStore.push_back(arg);
    std::vector<char*> argv;
    for (std::string& arg : argvStore)
        argv.push_back(arg.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attr;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attr);

    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    if (request.output == OutputRouting::ToNull) {
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    } else if (request.output == OutputRouting::ToStderr) {
        posix_spawn_file_actions_adddup2(&actions, STDERR_FILENO, STDOUT_FILENO);
    }
    if (!request.workingDir.empty())
        posix_spawn_file_actions_addchdir_np(&actions, request.workingDir.c_str());

    sigset_t all, none;
    sigfillset(&all);
    sigemptyset(&none);
    posix_spawnattr_setsigdefault(&attr, &all);
    posix_spawnattr_setsigmask(&attr, &none);
    short flags = POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK;
    if (newSession)
        flags |= POSIX_SPAWN_SETSID;
    posix_spawnattr_setflags(&attr, flags);

    pid_t pid = -1;
    const bool search = request.program.find('/') == std::string::npos;
    const int rc = search ? posix_spawnp(&pid, request.program.c_str(), &actions, &attr, argv.data(), environ)
                          : posix_spawn(&pid, request.program.c_str(), &actions, &attr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    if (rc != 0) {
        *error = rc;
        return -1;
    }
    return pid;
}

int WaitFor(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR)
            return -1;
    }
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    if (WIFSIGNALED(status))
        return 128 + WTERMSIG(status);
    return -1;
}

class RealProcessStarter final : public ProcessStarter {
public:
    SpawnResult RunAndWait(const SpawnRequest& request) override {
        SpawnResult result;
        const pid_t pid = Spawn(request, false, &result.error);
        if (pid < 0)
            return result;
        result.started = true;
        result.exitCode = WaitFor(pid);
        return result;
    }

    SpawnResult StartDetached(const SpawnRequest& request) override {
        SpawnResult result;
        const pid_t pid = Spawn(request, true, &result.error);
        if (pid < 0)
            return result;
        result.started = true;
        // Reap the child when it ends so that it never lingers as a zombie of a long run.
        std::thread([pid] {
            EnsureSignalStack();
            WaitFor(pid);
        }).detach();
        return result;
    }
};

}  // namespace

ProcessStarter& DefaultProcessStarter() {
    static RealProcessStarter* starter = new RealProcessStarter;
    return *starter;
}

}  // namespace platform
