#include "maintenance/crash_dump_handler.h"

#include "core/text_convert.h"
#include "maintenance/local_time_stamp.h"
#include "platform/signal_stack.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <exception>

namespace {

constexpr int kFatalSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};

std::atomic<CrashDumpHandler*> g_active{nullptr};
// The lock that lets one thread write: the id of the thread that writes, 0 while none does.
std::atomic<int> g_dumpOwner{0};
std::terminate_handler g_previousTerminate = nullptr;

char* Append(char* out, const char* end, const char* text) {
    while (*text && out < end)
        *out++ = *text++;
    *out = '\0';
    return out;
}

char* AppendInt(char* out, const char* end, int value) {
    char digits[16];
    int n = 0;
    unsigned magnitude = value < 0 ? 0u - static_cast<unsigned>(value) : static_cast<unsigned>(value);
    do {
        digits[n++] = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude);
    if (value < 0 && out < end)
        *out++ = '-';
    while (n > 0 && out < end)
        *out++ = digits[--n];
    *out = '\0';
    return out;
}

int CurrentTid() {
    return static_cast<int>(::syscall(SYS_gettid));
}

// Ends the whole process at once: no exit handlers, no sanitizer reports, no static destructors.
[[noreturn]] void TerminateProcess(int code) {
    for (;;)
        ::syscall(SYS_exit_group, code);
}

// The default action for the signal: re-executing the faulting instruction meets it; a signal
// that was sent rather than caused is sent again, to arrive when the handler returns.
void PassOn(int signo, const siginfo_t* info) {
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    ::sigaction(signo, &action, nullptr);
    if (info->si_code <= 0)
        ::syscall(SYS_tgkill, ::getpid(), CurrentTid(), signo);
}

[[noreturn]] void OnTerminate() {
    CrashDumpHandler* handler = g_active.load();
    if (!handler) {
        if (g_previousTerminate)
            g_previousTerminate();
        std::abort();
    }
    ucontext_t context;
    ::getcontext(&context);
    minidump::CrashInfo crash;
    crash.signo = SIGABRT;
    crash.code = SI_USER;
    crash.tid = CurrentTid();
    crash.context = &context;
    handler->HandleException(crash);
}

}  // namespace

CrashDumpHandler::CrashDumpHandler(bool showMessages, const std::wstring& dumpFolder) {
    const std::string folder = WideToAnsi(dumpFolder);
    if (!folder.empty() && folder.size() < sizeof dumpFolder_) {
        std::memcpy(dumpFolder_, folder.c_str(), folder.size() + 1);
        struct stat info {};
        if (::lstat(dumpFolder_, &info) != 0 && errno == ENOENT)
            ::mkdir(dumpFolder_, 0700);
    }
    showMessages_ = showMessages;
    g_active.store(this);

    minidump::PrepareMinidumpWriter();
    LocalTimeStamp::Prepare(::time(nullptr));
    platform::EnsureSignalStack();
    struct sigaction action {};
    action.sa_sigaction = TopLevelFilter;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    for (int signo : kFatalSignals)
        ::sigaction(signo, &action, nullptr);
    const std::terminate_handler previous = std::set_terminate(OnTerminate);
    if (previous != OnTerminate)
        g_previousTerminate = previous;
    g_dumpOwner.store(0);
}

CrashDumpHandler::~CrashDumpHandler() {
    CrashDumpHandler* self = this;
    g_active.compare_exchange_strong(self, nullptr);
}

void CrashDumpHandler::Detach() {
    g_active.store(nullptr);
}

void CrashDumpHandler::TopLevelFilter(int signo, siginfo_t* info, void* context) {
    CrashDumpHandler* handler = g_active.load();
    if (!handler) {
        PassOn(signo, info);
        return;
    }
    minidump::CrashInfo crash;
    crash.signo = signo;
    crash.code = info->si_code;
    crash.address = reinterpret_cast<uint64_t>(info->si_addr);
    crash.tid = CurrentTid();
    crash.context = static_cast<const ucontext_t*>(context);
    handler->HandleException(crash);
}

void CrashDumpHandler::HandleException(const minidump::CrashInfo& crash) {
    const int tid = CurrentTid();
    int owner = 0;
    if (!g_dumpOwner.compare_exchange_strong(owner, tid)) {
        if (owner == tid)
            TerminateProcess(0);  // the writing itself failed hard; what is written stays
        minidump::ParkFaultingThread(crash.context);
    }
    exception_ = crash;

    // Buffers live in the object, not on the signal stack, which may be small.
    char* const exe = dumpPath_;  // free until MakeDumpPath
    const ssize_t length = ::readlink("/proc/self/exe", exe, kPathCapacity - 1);
    exeFolder_[0] = exeName_[0] = '\0';
    if (length > 0) {
        exe[length] = '\0';
        const char* slash = std::strrchr(exe, '/');
        const std::size_t folderLength = slash ? static_cast<std::size_t>(slash - exe + 1) : 0;
        std::memcpy(exeFolder_, exe, folderLength);
        exeFolder_[folderLength] = '\0';
        Append(exeName_, exeName_ + sizeof exeName_ - 1, exe + folderLength);
    }
    MakeDumpPath();

    char* const message = message_;
    char* const messageEnd = message + sizeof message_ - 2;
    message[0] = '\0';
    const int fd = ::open(dumpPath_, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    const auto failure = [&](const char* text, int error) {
        char* p = Append(message, messageEnd, text);
        p = Append(p, messageEnd, dumpPath_);
        p = Append(p, messageEnd, "' (error ");
        p = AppendInt(p, messageEnd, error);
        Append(p, messageEnd, ")");
    };
    if (fd < 0) {
        failure("Failed to create the mini-dump file '", errno);
    } else {
        errno = 0;
        if (!minidump::WriteMinidump(fd, exception_))
            failure("Failed to save the mini-dump file to '", errno);
        ::close(fd);
    }
    // No window can come up from here: the failure goes to standard error instead.
    if (message[0] && showMessages_) {
        char* p = message + std::strlen(message);
        *p++ = '\n';
        (void)!::write(STDERR_FILENO, message, static_cast<std::size_t>(p - message));
    }
    TerminateProcess(0);
}

void CrashDumpHandler::MakeDumpPath() {
    char stamp[15];
    LocalTimeStamp::Format(LocalTimeStamp::Now(), stamp);
    char* const end = dumpPath_ + sizeof dumpPath_ - 1;
    struct stat info {};
    char* p;
    if (dumpFolder_[0] && ::stat(dumpFolder_, &info) == 0 && S_ISDIR(info.st_mode)) {
        p = Append(dumpPath_, end, dumpFolder_);
        p = Append(p, end, "/");
    } else {
        p = Append(dumpPath_, end, exeFolder_);
        p = Append(p, end, exeName_);
        p = Append(p, end, ".");
    }
    p = Append(p, end, stamp);
    Append(p, end, ".dmp");
}
