#pragma once
// One log upload: Start zips the files into the work folder on the calling thread, then posts the
// archive from a detached thread that owns the job. Failures are reported on the debugger output
// and in the log, never retried; the archive stays in the work folder.

#include <chrono>
#include <string>
#include <vector>

class CUpLoadLog {
public:
    static constexpr std::size_t kMaxEntries = 20;

    CUpLoadLog(std::string archive, std::string url);

    static void Start(const std::vector<std::string>& files, const std::string& url);
    // The archive's path; empty when there was nothing to archive or the archive failed.
    static std::string CreateArchive(const std::vector<std::string>& files);
    // The path to archive: the file itself when it opens for reading, else a copy in the work folder.
    static std::string PrepareFile(const std::string& path);
    void DoWork();

    // Test support: waits until every upload thread started so far has ended. False on timeout.
    static bool WaitForUploadsForTesting(std::chrono::milliseconds timeout);

private:
    std::string archive_;
    std::string url_;
};
