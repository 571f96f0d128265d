#include "core/logger.h"

#include "core/paths.h"
#include "core/text_convert.h"
#include "platform/clock.h"
#include "platform/error.h"
#include "platform/process_info.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

constexpr char kTimeFormat[] = "%Y-%m-%d %H:%M:%S";

std::string LogPath() {
    return PubUtils::GetDataDir() + "/Parlatto.log";
}

// The process-wide logger is never destroyed, so that threads still logging while the process
// exits reach a closed logger instead of a destroyed one; the exit handler writes the end banner.
std::atomic<Logger*> g_logger{nullptr};

void CloseGlobalAtExit() {
    if (Logger* logger = g_logger.load())
        logger->Close();
}

Logger* CreateGlobal() {
    Logger* logger = new Logger(LogPath());
    std::atexit(CloseGlobalAtExit);
    return logger;
}

}  // namespace

Logger::Logger(const std::string& path) {
    std::memset(buffer_, 0, sizeof buffer_);
    if (path.empty())
        return;
    file_ = std::fopen(path.c_str(), "ab+e");
    if (!file_)
        return;
    std::fseek(file_, 0, SEEK_END);
    if (std::ftell(file_) > kMaxSizeAtOpen) {
        std::fclose(file_);
        file_ = std::fopen(path.c_str(), "wb+e");
    }
    if (file_)
        WriteBanner("日志开始");
}

Logger::~Logger() {
    Close();
}

void Logger::WriteBanner(const char* words) {
    const std::string now = platform::FormatLocalTime(kTimeFormat);
    std::fprintf(file_, "********************%s%s************************\r\n", words, now.c_str());
    std::fflush(file_);
}

void Logger::Close() {
    std::lock_guard lock(mutex_);
    if (!file_)
        return;
    WriteBanner("日志结束");
    std::fclose(file_);
    file_ = nullptr;
}

bool Logger::IsOpen() {
    std::lock_guard lock(mutex_);
    return file_ != nullptr;
}

void Logger::Write(LogLevel level, const char* tag, const char* format, va_list args) {
    // The caller's error code, before anything here can touch errno.
    const int lastError = errno;
    std::lock_guard lock(mutex_);
    std::memset(buffer_, 0, sizeof buffer_);
    const int length = std::vsnprintf(buffer_, sizeof buffer_, format, args);
    if (length <= 0 || static_cast<std::size_t>(length) >= sizeof buffer_ || !file_) {
        errno = lastError;
        return;
    }
    const std::string now = platform::FormatLocalTime(kTimeFormat);
    const int tid = platform::ThreadId();
    std::string debug(buffer_, static_cast<std::size_t>(length));
    debug += "\n";
    switch (level) {
        case Warning:
            std::fprintf(file_, "%s warning>>> [%d]%s:\t\t%s\r\n", now.c_str(), tid, tag, buffer_);
            platform::DebugOutput("warning >>>");
            break;
        case Error:
            std::fprintf(file_, "%s Error>>>>> [%d]%s:\t\t%s ", now.c_str(), tid, tag, buffer_);
            if (lastError != 0) {
                const std::string text = platform::ErrorText(lastError);
                std::fprintf(file_, "LastError info: %s\r\n", text.c_str());
                platform::DebugOutput("Error >>>>>" + text + "\n");
            } else {
                std::fputs("\r\n", file_);
            }
            break;
        default:
            std::fprintf(file_, "%s [%d]%s:\t\t%s\r\n", now.c_str(), tid, tag, buffer_);
            break;
    }
    platform::DebugOutput(debug);
    std::fflush(file_);
    // An Error entry consumes the error code; other entries leave the caller's errno as it was.
    errno = level == Error ? 0 : lastError;
}

Logger& Logger::Global() {
    // A function-local static: threads that log while the first caller creates it wait for it.
    static Logger* const created = [] {
        Logger* logger = CreateGlobal();
        g_logger.store(logger);
        return logger;
    }();
    (void)created;
    return *g_logger.load();
}

void Logger::OpenGlobal() {
    Global();
}

void Logger::ReopenGlobalForTesting() {
    Global();
    // Open the new one before closing the old, so that no entry of another thread is dropped.
    Logger* fresh = new Logger(LogPath());
    Logger* old = g_logger.exchange(fresh);
    old->Close();
    // Kept reachable: a thread may still hold the old one.
    static std::vector<Logger*>* retired = new std::vector<Logger*>;
    retired->push_back(old);
}

void Log(LogLevel level, const char* tag, const char* format, ...) {
    const int saved = errno;
    Logger& logger = Logger::Global();
    errno = saved;
    va_list args;
    va_start(args, format);
    logger.Write(level, tag, format, args);
    va_end(args);
}

void DuilibExceptFunc(std::wstring_view text) {
    const std::string narrow = WideToAnsi(text);
    Log(Warning, "DuilibExceptFunc", "%s", narrow.c_str());
}

PrintTime::PrintTime(std::string name) : name_(std::move(name)), start_(platform::TickCount()) {
    Log(Info, "PrintTime::PrintTime", "<< %s", name_.c_str());
}

PrintTime::~PrintTime() {
    const std::uint32_t elapsed = platform::TickCount() - start_;
    Log(Info, "PrintTime::~PrintTime", "%s >> %lu ms", name_.c_str(), static_cast<unsigned long>(elapsed));
}
