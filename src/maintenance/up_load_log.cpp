#include "maintenance/up_load_log.h"

#include "core/logger.h"
#include "core/paths.h"
#include "platform/clock.h"
#include "platform/error.h"
#include "platform/file_ops.h"
#include "platform/signal_stack.h"

#include <curl/curl.h>
#include <fcntl.h>
#include <unistd.h>
#include <zip.h>

#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

namespace {

constexpr int kDeflateLevel = 6;

// Never destroyed: a detached upload may still end while the process exits.
struct UploadCounter {
    std::mutex mutex;
    std::condition_variable ended;
    long started = 0;
    long finished = 0;
};

UploadCounter& Counter() {
    static UploadCounter* counter = new UploadCounter;
    return *counter;
}

std::string BaseName(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

size_t CollectReply(char* data, size_t size, size_t count, void* reply) {
    static_cast<std::string*>(reply)->append(data, size * count);
    return size * count;
}

// False at the first file that cannot be opened or added; the entries before it stay.
bool AddFiles(zip_t* zip, const std::vector<std::string>& files) {
    for (const std::string& file : files) {
        std::FILE* in = std::fopen(file.c_str(), "rbe");
        if (!in)
            return false;
        zip_source_t* source = zip_source_filep(zip, in, 0, -1);
        if (!source) {
            std::fclose(in);
            return false;
        }
        const zip_int64_t index = zip_file_add(zip, BaseName(file).c_str(), source, ZIP_FL_ENC_UTF_8);
        if (index < 0) {
            zip_source_free(source);
            return false;
        }
        if (zip_set_file_compression(zip, static_cast<zip_uint64_t>(index), ZIP_CM_DEFLATE, kDeflateLevel) !=
            0)
            return false;
    }
    return true;
}

}  // namespace

CUpLoadLog::CUpLoadLog(std::string archive, std::string url)
    : archive_(std::move(archive)), url_(std::move(url)) {}

void CUpLoadLog::Start(const std::vector<std::string>& files, const std::string& url) {
    const std::string archive = CreateArchive(files);
    if (archive.empty() || url.empty())
        return;
    // Start-up runs this before its own libcurl initialisation; the calls are counted.
    curl_global_init(CURL_GLOBAL_DEFAULT);
    auto job = std::make_unique<CUpLoadLog>(archive, url);
    UploadCounter& counter = Counter();
    {
        std::lock_guard lock(counter.mutex);
        ++counter.started;
    }
    try {
        std::thread([job = std::move(job), &counter]() mutable {
            platform::EnsureSignalStack();
            job->DoWork();
            job.reset();
            std::lock_guard lock(counter.mutex);
            ++counter.finished;
            counter.ended.notify_all();
        }).detach();
    } catch (const std::system_error&) {
        std::lock_guard lock(counter.mutex);
        --counter.started;
    }
}

std::string CUpLoadLog::CreateArchive(const std::vector<std::string>& files) {
    if (files.empty())
        return {};
    const std::string archive =
        PubUtils::GetTempDir() + "/" + PubUtils::kAppName + platform::FormatLocalTime("%Y%m%d_%H%M%SLog.zip");
    std::vector<std::string> prepared;
    for (std::size_t i = 0; i < files.size() && i < kMaxEntries; ++i)
        prepared.push_back(PrepareFile(files[i]));

    int error = 0;
    zip_t* zip = zip_open(archive.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    bool ok = zip != nullptr;
    if (zip) {
        ok = AddFiles(zip, prepared);
        // Written even after a failure, so the entries added so far stay on disk.
        if (zip_close(zip) != 0) {
            zip_discard(zip);
            ok = false;
        }
    }
    if (!ok) {
        platform::DebugOutput("create zip failed!!!\n");
        return {};
    }
    return archive;
}

std::string CUpLoadLog::PrepareFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        ::close(fd);
        return path;
    }
    const std::string copy = PubUtils::GetTempDir() + "/" + BaseName(path);
    // A copy left by an earlier run must not be archived in place of a file that is gone.
    if (!platform::CopyFileReplacing(path, copy))
        ::unlink(copy.c_str());
    return copy;
}

void CUpLoadLog::DoWork() {
    CURL* curl = curl_easy_init();
    if (!curl)
        return;
    curl_mime* form = curl_mime_init(curl);
    curl_mimepart* part = curl_mime_addpart(form);
    curl_mime_name(part, "reqformat");
    curl_mime_data(part, "plain", CURL_ZERO_TERMINATED);
    part = curl_mime_addpart(form);
    curl_mime_name(part, "file");
    curl_mime_filedata(part, archive_.c_str());
    curl_mime_type(part, "application/octet-stream");

    std::string reply;
    char errorBuffer[CURL_ERROR_SIZE] = {};
    curl_easy_setopt(curl, CURLOPT_MIMEPOST, form);
    curl_easy_setopt(curl, CURLOPT_URL, url_.c_str());
    curl_easy_setopt(curl, CURLOPT_USERAGENT, curl_version());
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, CollectReply);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &reply);
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, errorBuffer);
    // Signals would reach whichever thread the process picks, not this one.
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);

    const CURLcode code = curl_easy_perform(curl);
    long responseCode = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &responseCode);
    curl_mime_free(form);
    curl_easy_cleanup(curl);

    if (code != CURLE_OK || responseCode != 200) {
        platform::DebugOutput(std::string("http post log failed!!!:") + errorBuffer + "\n");
        Log(Warning, "CUpLoadLog::DoWork", "upload log error. code=%d, response code=%d, %s",
            static_cast<int>(code), static_cast<int>(responseCode), errorBuffer);
        return;
    }
    platform::DebugOutput(reply);
}

bool CUpLoadLog::WaitForUploadsForTesting(std::chrono::milliseconds timeout) {
    UploadCounter& counter = Counter();
    std::unique_lock lock(counter.mutex);
    return counter.ended.wait_for(lock, timeout, [&] { return counter.finished == counter.started; });
}
