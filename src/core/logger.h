#pragma once
// The log: one timestamped line per entry, CR LF ended, flushed before Log returns; whole entries
// are serialised by one lock, so lines of concurrent threads never tear. The process-wide logger
// writes data folder + "/Parlatto.log"; it is created on first use (any thread that logs during
// its creation waits for it) and closed with its end banner when the process exits.

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <string_view>

enum LogLevel { Info = 1, Warning = 2, Error = 3 };

class Logger {
public:
    static constexpr std::size_t kBufferSize = 2048;
    static constexpr long kMaxSizeAtOpen = 1048576;  // a larger file is emptied at open

    // Opens (appends to) the file and writes the start banner. An empty path gives a silent logger.
    explicit Logger(const std::string& path);
    // Writes the end banner and closes the file.
    ~Logger();
    Logger(const Logger&) = delete;
    Logger& operator=(const Logger&) = delete;

    void Write(LogLevel level, const char* tag, const char* format, va_list args);
    // Ends the log early: the end banner is written and later entries are dropped.
    void Close();
    bool IsOpen();

    // The process-wide logger, created on the first call.
    static Logger& Global();
    // Opens the process-wide logger now; start-up calls this once the data folder is resolved.
    static void OpenGlobal();
    // Test support: closes the process-wide logger and opens a new one on the current data folder.
    static void ReopenGlobalForTesting();

private:
    void WriteBanner(const char* words);

    std::mutex mutex_;
    std::FILE* file_ = nullptr;
    char buffer_[kBufferSize];
};

// Writes one entry with the process-wide logger; printf rules for format and arguments.
void Log(LogLevel level, const char* tag, const char* format, ...) __attribute__((format(printf, 3, 4)));

// The skinned window framework's diagnostic hook: its text at Warning level, tag "DuilibExceptFunc".
void DuilibExceptFunc(std::wstring_view text);

// Logs "<< name" when constructed and "name >> N ms" when destroyed.
class PrintTime {
public:
    explicit PrintTime(std::string name);
    ~PrintTime();
    PrintTime(const PrintTime&) = delete;
    PrintTime& operator=(const PrintTime&) = delete;

private:
    std::string name_;
    std::uint32_t start_;
};
