#include "maintenance/log_upload_check.h"

#include "core/paths.h"
#include "core/settings.h"
#include "core/text_convert.h"
#include "maintenance/up_load_log.h"
#include "platform/clock.h"

#include <unistd.h>

#include <cstdint>
#include <limits>
#include <mutex>

namespace PubUtils {
namespace {

constexpr int kMaxDumps = 4;
constexpr std::int64_t kMinStampDifference = 60;
constexpr int kStampCapacity = 50;

struct UploadUrl {
    std::mutex mutex;
    std::string overridden;
};

UploadUrl& Url() {
    static UploadUrl* url = new UploadUrl;
    return *url;
}

std::string CurrentUrl() {
    std::lock_guard lock(Url().mutex);
    return Url().overridden.empty() ? std::string(kLogUploadUrl) : Url().overridden;
}

// Leading decimal digits only, saturating, so a stamp of absurd length still counts as the future.
std::int64_t StampNumber(const std::string& text) {
    constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
    std::int64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            break;
        const int digit = c - '0';
        if (value > (kMax - digit) / 10)
            return kMax;
        value = value * 10 + digit;
    }
    return value;
}

}  // namespace

void CheckLogUpload(const std::string& dataDir, bool force) {
    const std::vector<std::string> dumps = ListNewestFiles(dataDir + "/crashDumps", kMaxDumps);
    if (dumps.empty())
        return;
    const std::string now = platform::FormatLocalTime("%Y%m%d%H%M");
    const std::string stored = WideToAnsi(ReadConfigString(L"UploadLogTime", L"0", kStampCapacity));
    if (!force && StampNumber(now) - StampNumber(stored) < kMinStampDifference)
        return;
    WriteConfigString(L"UploadLogTime", AnsiToWide(now));

    std::vector<std::string> files = dumps;
    files.push_back(dataDir + "/Parlatto.log");
    files.push_back(dataDir + "/config.ini");
    CUpLoadLog::Start(files, CurrentUrl());
    for (const std::string& dump : dumps)
        ::unlink(dump.c_str());
}

void SetLogUploadUrlForTesting(std::string url) {
    std::lock_guard lock(Url().mutex);
    Url().overridden = std::move(url);
}

}  // namespace PubUtils
