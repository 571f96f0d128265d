#include "app/startup.h"

#include "app/data.h"
#include "app/key_file.h"
#include "core/logger.h"
#include "core/paths.h"
#include "core/single_instance.h"
#include "maintenance/log_upload_check.h"

#include <curl/curl.h>
#include <fcntl.h>
#include <unistd.h>

#include <csignal>
#include <cstring>

namespace {

constexpr char kKeyFileTemplate[] =
    "# Your own speech-service credentials, one pair per line:\n"
    "#   API_KEY SECRET_KEY\n"
    "# Keep this file private (mode 0600). Without a pair the built-in one is used.\n";

// Leaves a commented template where users look for it, private from the start.
void CreateKeyFileTemplate(const std::string& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return;
    (void)!::write(fd, kKeyFileTemplate, std::strlen(kKeyFileTemplate));
    ::close(fd);
}

}  // namespace

StartupResult StartServices(const StartupOptions& options) {
    if (options.onDataDirResolved)
        PubUtils::SetDataDirResolvedHook(options.onDataDirResolved);
    else if (options.logUploadCheck)
        PubUtils::SetDataDirResolvedHook(
            [](const std::string& dir) { PubUtils::CheckLogUpload(dir, false); });
    const std::string dataDir = PubUtils::GetDataDir();
    Logger::OpenGlobal();

    if (options.singleInstance && !PubUtils::CheckSingleInstance(L"Parlatto", L"Parlatto"))
        return StartupResult::AlreadyRunning;

    // libcurl leaves SIGPIPE to the program (CURLOPT_NOSIGNAL); a closed peer must not kill us.
    std::signal(SIGPIPE, SIG_IGN);
    curl_global_init(CURL_GLOBAL_DEFAULT);

    const std::string keyPath = dataDir + "/keys";
    CreateKeyFileTemplate(keyPath);
    std::vector<KeyPair> keys = PubUtils::ReadKeyFile(keyPath);
    if (!keys.empty())
        CData::Instance().AddKey(std::move(keys));
    return StartupResult::Run;
}

void StopServices() {
    curl_global_cleanup();
}
