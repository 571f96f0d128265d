#include "core/logger.h"

#include "core/paths.h"
#include "platform/process_info.h"
#include "support/test_env.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <condition_variable>
#include <set>
#include <sstream>
#include <thread>
#include <vector>

namespace {

using testenv::ReadFile;
using testenv::WriteFile;

const std::string kStart = "********************日志开始2019-03-08 10:15:42************************\r\n";
const std::string kEnd = "********************日志结束2019-03-08 10:15:42************************\r\n";

void Write(Logger& logger, LogLevel level, const char* tag, const char* format, ...)
    __attribute__((format(printf, 4, 5)));
void Write(Logger& logger, LogLevel level, const char* tag, const char* format, ...) {
    va_list args;
    va_start(args, format);
    logger.Write(level, tag, format, args);
    va_end(args);
}

class LoggerTest : public testenv::TempEnvTest {
protected:
    LoggerTest() { clock.SetLocal(2019, 3, 8, 10, 15, 42); }

    std::string Path() const { return env.Root() + "/test.log"; }

    std::string Tid() const { return std::to_string(platform::ThreadId()); }

    testenv::FakeClock clock;
};

TEST_F(LoggerTest, WritesLevelsInTheirLineFormatsBetweenBanners) {
    {
        Logger logger(Path());
        Write(logger, Info, "CAudioTask::Run", "text2audio text: %d to audio: %d", 120, 3);
        Write(logger, Warning, "CAudioTask::Run", "text2audio text: %d to audio: %d", 120, 3);
        errno = 0;
        Write(logger, Error, "CData::AddKey", "no pool");
    }
    const std::string tid = Tid();
    EXPECT_EQ(ReadFile(Path()), kStart + "2019-03-08 10:15:42 [" + tid +
                                    "]CAudioTask::Run:\t\ttext2audio text: 120 to audio: 3\r\n"
                                    "2019-03-08 10:15:42 warning>>> [" +
                                    tid +
                                    "]CAudioTask::Run:\t\ttext2audio text: 120 to audio: 3\r\n"
                                    "2019-03-08 10:15:42 Error>>>>> [" +
                                    tid + "]CData::AddKey:\t\tno pool \r\n" + kEnd);
}

TEST_F(LoggerTest, ErrorEntryConsumesTheLastErrorCode) {
    {
        Logger logger(Path());
        errno = ENOENT;
        Write(logger, Error, "T::M", "open failed");
        EXPECT_EQ(errno, 0);
        Write(logger, Error, "T::M", "again");
    }
    const std::string tid = Tid();
    EXPECT_EQ(ReadFile(Path()), kStart + "2019-03-08 10:15:42 Error>>>>> [" + tid +
                                    "]T::M:\t\topen failed LastError info: No such file or directory\r\n"
                                    "2019-03-08 10:15:42 Error>>>>> [" +
                                    tid + "]T::M:\t\tagain \r\n" + kEnd);
}

TEST_F(LoggerTest, OtherLevelsLeaveTheCallersErrorCode) {
    Logger logger(Path());
    errno = EACCES;
    Write(logger, Info, "T::M", "x");
    EXPECT_EQ(errno, EACCES);
}

TEST_F(LoggerTest, FormattedTextMustFitIn2047Bytes) {
    const struct {
        size_t length;
        bool written;
    } cases[] = {{2046, true}, {2047, true}, {2048, false}, {5000, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.length);
        ::unlink(Path().c_str());
        {
            Logger logger(Path());
            const std::string text(c.length, 'x');
            Write(logger, Info, "T::M", "%s", text.c_str());
        }
        const std::string content = ReadFile(Path());
        EXPECT_EQ(content.find(std::string(c.length, 'x')) != std::string::npos, c.written);
        EXPECT_EQ(content.size() > kStart.size() + kEnd.size(), c.written);
    }
}

TEST_F(LoggerTest, EmptyTextWritesNothing) {
    {
        Logger logger(Path());
        const char* empty = "";
        Write(logger, Info, "T::M", "%s", empty);
    }
    EXPECT_EQ(ReadFile(Path()), kStart + kEnd);
}

TEST_F(LoggerTest, FileOverOneMebibyteIsEmptiedAtOpen) {
    const struct {
        size_t size;
        bool kept;
    } cases[] = {{1048576, true}, {1048577, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.size);
        WriteFile(Path(), std::string(c.size, 'o'));
        { Logger logger(Path()); }
        const std::string content = ReadFile(Path());
        if (c.kept)
            EXPECT_EQ(content, std::string(c.size, 'o') + kStart + kEnd);
        else
            EXPECT_EQ(content, kStart + kEnd);
    }
}

TEST_F(LoggerTest, UnopenableFileGivesASilentLogger) {
    Logger logger(env.Root() + "/missing/folder/test.log");
    EXPECT_FALSE(logger.IsOpen());
    Write(logger, Info, "T::M", "dropped");
    Logger unnamed("");
    EXPECT_FALSE(unnamed.IsOpen());
}

TEST_F(LoggerTest, CloseWritesTheEndBannerOnceAndDropsLaterEntries) {
    Logger logger(Path());
    logger.Close();
    Write(logger, Info, "T::M", "late");
    logger.Close();
    EXPECT_EQ(ReadFile(Path()), kStart + kEnd);
}

TEST(LoggerConcurrency, EightThreadsWriteWholeLines) {
    testenv::ScopedEnvironment env;
    const std::string path = env.Root() + "/threads.log";
    constexpr int kThreads = 8;
    constexpr int kPerThread = 400;
    {
        Logger logger(path);
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t) {
            threads.emplace_back([&logger, t] {
                const std::string filler(100 + t * 50, static_cast<char>('a' + t));
                for (int i = 0; i < kPerThread; ++i)
                    Write(logger, Info, "Worker::Run", "%d %d %s", t, i, filler.c_str());
            });
        }
        for (auto& thread : threads)
            thread.join();
    }
    std::istringstream lines(ReadFile(path));
    std::vector<int> next(kThreads, 0);
    std::set<std::string> threadIds;
    int count = 0;
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("****", 0) == 0)
            continue;
        // "YYYY-MM-DD HH:MM:SS [tid]Worker::Run:\t\t<t> <i> <filler>\r"
        ASSERT_GT(line.size(), 21u);
        ASSERT_EQ(line.substr(19, 2), " [") << line.substr(0, 80);
        ASSERT_EQ(line.back(), '\r');
        const size_t close = line.find(']');
        ASSERT_NE(close, std::string::npos);
        ASSERT_EQ(line.compare(close + 1, 14, "Worker::Run:\t\t"), 0) << line.substr(0, 80);
        std::istringstream fields(line.substr(close + 15, line.size() - close - 16));
        int t = -1, i = -1;
        std::string filler, rest;
        fields >> t >> i >> filler;
        ASSERT_TRUE(t >= 0 && t < kThreads) << line.substr(0, 80);
        EXPECT_FALSE(fields >> rest) << "nothing after the entry's own text";
        EXPECT_EQ(i, next[t]++) << "entries of one thread stay in order";
        EXPECT_EQ(filler, std::string(100 + t * 50, static_cast<char>('a' + t)));
        threadIds.insert(line.substr(21, close - 21));
        ++count;
    }
    EXPECT_EQ(count, kThreads * kPerThread);
    EXPECT_EQ(threadIds.size(), static_cast<size_t>(kThreads));
}

class GlobalLoggerTest : public testenv::TempEnvTest {};

TEST_F(GlobalLoggerTest, PrintTimeLogsEntryAndElapsedTicksAcrossAWrap) {
    testenv::FakeClock clock;
    Logger::ReopenGlobalForTesting();
    clock.SetTicks(0xFFFFFF00u);
    {
        PrintTime timer("SimpleThread");
        clock.SetTicks(0x000004DCu);  // 1500 ms later, past the wrap
    }
    const std::string log = ReadFile(env.DataDir() + "/Parlatto.log");
    EXPECT_THAT(log, ::testing::HasSubstr("]PrintTime::PrintTime:\t\t<< SimpleThread\r\n"));
    EXPECT_THAT(log, ::testing::HasSubstr("]PrintTime::~PrintTime:\t\tSimpleThread >> 1500 ms\r\n"));
}

TEST_F(GlobalLoggerTest, FrameworkDiagnosticsKeepTheirLineFeed) {
    Logger::ReopenGlobalForTesting();
    DuilibExceptFunc(L"找不到 skin RtmpPlayer.xml\n");
    const std::string log = ReadFile(env.DataDir() + "/Parlatto.log");
    EXPECT_THAT(log, ::testing::HasSubstr(" warning>>> [" + std::to_string(platform::ThreadId()) +
                                          "]DuilibExceptFunc:\t\t找不到 skin RtmpPlayer.xml\n\r\n"));
}

// A thread started while the data folder is first resolved (as the log upload is) may log
// before the logger exists; its entry must land in the finished log, after the start banner.
TEST_F(GlobalLoggerTest, EntryFromAThreadStartedDuringCreationReachesTheLog) {
    std::thread early;
    std::mutex mutex;
    std::condition_variable cv;
    bool started = false;
    PubUtils::SetDataDirResolvedHook([&](const std::string&) {
        early = std::thread([&] {
            {
                std::lock_guard lock(mutex);
                started = true;
            }
            cv.notify_one();
            Log(Warning, "CUpLoadLog::DoWork", "upload log error. code=%d", 7);
        });
        std::unique_lock lock(mutex);
        cv.wait(lock, [&] { return started; });
    });
    Logger::ReopenGlobalForTesting();
    early.join();
    const std::string log = ReadFile(env.DataDir() + "/Parlatto.log");
    const size_t banner = log.find("日志开始");
    const size_t entry = log.find("CUpLoadLog::DoWork:\t\tupload log error. code=7\r\n");
    ASSERT_NE(banner, std::string::npos);
    ASSERT_NE(entry, std::string::npos);
    EXPECT_LT(banner, entry);
}

}  // namespace
