#include "maintenance/update_checker.h"

#include "core/paths.h"
#include "core/settings.h"
#include "core/text_convert.h"
#include "platform/file_ops.h"
#include "platform/process_info.h"
#include "platform/signal_stack.h"

#include <curl/curl.h>
#include <dirent.h>
#include <fcntl.h>
#include <json/json.h>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <map>
#include <mutex>
#include <set>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

struct UpdateChecker::State {
    // Fixed before the thread starts.
    std::string installDir;
    std::string versionFile;
    std::string baseUrl;
    std::string appName;

    std::atomic<platform::WindowHandle> window{platform::WindowHandle::Null};

    // The only texts other threads read.
    mutable std::mutex mutex;
    std::string latestVersion;
    std::string minimumVersion;
    std::string localVersion;

    void Publish(std::string* field, std::string value) {
        std::lock_guard lock(mutex);
        *field = std::move(value);
    }
    bool Less(const std::string State::*left, const std::string State::*right) const {
        std::lock_guard lock(mutex);
        // std::string compares as unsigned bytes, a proper prefix first: what the versions need.
        return this->*left < this->*right;
    }
};

namespace {

using State = UpdateChecker::State;
using FileMap = std::map<std::string, UpdateFileEntry>;
using Digest = std::array<std::uint8_t, 20>;

void Post(State& state, UpdateStatus status) {
    platform::PostMessage(state.window.load(), WM_UPDATE_STATUS, status);
}

void Post(State& state, UpdateStatus status, std::string text) {
    platform::PostMessage(
        state.window.load(), WM_UPDATE_STATUS, status,
        std::make_unique<platform::ValuePayload<UpdateNotice>>(UpdateNotice{std::move(text)}));
}

size_t AppendBody(char* data, size_t size, size_t count, void* body) {
    static_cast<std::string*>(body)->append(data, size * count);
    return size * count;
}

// The body that arrived, whatever the transfer's outcome; code 0 when no answer came.
std::string Get(const std::string& url, long* code) {
    std::string body;
    *code = 0;
    CURL* curl = curl_easy_init();
    if (!curl)
        return body;
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, AppendBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &body);
    curl_easy_setopt(curl, CURLOPT_ACCEPT_ENCODING, "deflate");
    curl_easy_setopt(curl, CURLOPT_USERAGENT, curl_version());
    // Signals belong to the main thread; a worker must not take SIGALRM for name look-ups.
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_perform(curl);
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, code);
    curl_easy_cleanup(curl);
    return body;
}

// A null document when the text does not parse; error then says why (never empty).
Json::Value Parse(const std::string& text, std::string* error = nullptr) {
    Json::CharReaderBuilder builder;
    builder["allowComments"] = false;
    builder["failIfExtra"] = true;
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    Json::Value root;
    std::string errors;
    if (!reader->parse(text.data(), text.data() + text.size(), &root, &errors)) {
        if (error)
            *error = errors.empty() ? std::string("syntax error") : errors;
        return Json::Value();
    }
    return root;
}

// Like a lenient reader: a missing key, or a value that is no object, reads as null.
Json::Value Member(const Json::Value& object, const char* key) {
    return object.isObject() ? object.get(key, Json::Value()) : Json::Value();
}

std::string StringOf(const Json::Value& value) {
    return value.isString() ? value.asString() : std::string();
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return 0;
}

Digest ParseDigest(const std::string& hex) {
    Digest digest{};
    for (size_t i = 0; i < digest.size(); ++i) {
        const int high = 2 * i < hex.size() ? HexDigit(hex[2 * i]) : 0;
        const int low = 2 * i + 1 < hex.size() ? HexDigit(hex[2 * i + 1]) : 0;
        digest[i] = static_cast<std::uint8_t>(high << 4 | low);
    }
    return digest;
}

std::uint32_t SizeOf(const Json::Value& value) {
    if (value.isUInt64())
        return static_cast<std::uint32_t>(value.asUInt64());
    if (value.isInt64())
        return static_cast<std::uint32_t>(value.asInt64());
    if (value.isDouble() && value.asDouble() >= 0 && value.asDouble() < 4294967296.0)
        return static_cast<std::uint32_t>(value.asDouble());
    return 0;
}

UpdateFileEntry ReadFileObject(const Json::Value& object, const std::string& installDir) {
    UpdateFileEntry entry;
    entry.path = StringOf(Member(object, "path"));
    entry.localPath = installDir + "/" + entry.path;
    entry.size = SizeOf(Member(object, "size"));
    entry.digest = ParseDigest(StringOf(Member(object, "digest")));
    return entry;
}

Json::Value FilesOf(const Json::Value& document) {
    const Json::Value files = Member(document, "files");
    return files.isArray() ? files : Json::Value(Json::arrayValue);
}

// An unreadable file gets the digest of empty input.
Digest Sha1OfFile(const std::string& path, std::uint32_t size) {
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    EVP_DigestInit_ex(ctx, EVP_sha1(), nullptr);
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        char block[4096];
        std::uint64_t done = 0;
        while (done < size) {
            const ssize_t n = ::read(fd, block, sizeof block);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            EVP_DigestUpdate(ctx, block, static_cast<size_t>(n));
            done += static_cast<std::uint64_t>(n);
        }
        ::close(fd);
    }
    Digest digest{};
    unsigned int length = 0;
    EVP_DigestFinal_ex(ctx, digest.data(), &length);
    EVP_MD_CTX_free(ctx);
    return digest;
}

// Links are followed like the folders and files they name, except a link to a folder the scan is
// inside of (it would lead round in a loop). Pipes, sockets and devices are no installed files.
void Scan(State& state, const std::string& folder, FileMap* files,
          std::set<std::pair<dev_t, ino_t>>* inside) {
    Post(state, UPDATE_SCANNING, folder);
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return;
    struct stat self {};
    const bool identified = ::fstat(::dirfd(dir), &self) == 0;
    if (identified)
        inside->emplace(self.st_dev, self.st_ino);
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        const std::string path = folder + "/" + name;
        struct stat st {};
        const bool known = ::stat(path.c_str(), &st) == 0;
        if (known && S_ISDIR(st.st_mode)) {
            if (name.compare(0, 3, "log") != 0 && !inside->count({st.st_dev, st.st_ino}))
                Scan(state, path, files, inside);
            continue;
        }
        if (known && !S_ISREG(st.st_mode))
            continue;
        UpdateFileEntry file;
        file.localPath = path;
        file.path = path.substr(state.installDir.size() + 1);
        if (known)
            file.size = static_cast<std::uint32_t>(st.st_size);
        file.digest = Sha1OfFile(path, file.size);
        files->emplace(file.path, std::move(file));
    }
    ::closedir(dir);
    if (identified)
        inside->erase({self.st_dev, self.st_ino});
}

void RunCheck(const std::shared_ptr<State>& holder) {
    State& state = *holder;
    long code = 0;
    const std::string versionBody = Get(state.baseUrl + "/version/" + state.appName, &code);
    if (code != 200)
        Post(state, UPDATE_FAILED, "");
    const Json::Value version = Parse(versionBody);
    const Json::Value latest = Member(version, "latest-version");
    const Json::Value minimum = Member(version, "minimum-required");
    if (!latest.isString() || !minimum.isString()) {
        Post(state, UPDATE_FAILED, "");
        return;
    }
    state.Publish(&state.latestVersion, latest.asString());
    state.Publish(&state.minimumVersion, minimum.asString());
    Post(state, UPDATE_VERSION, latest.asString());

    FileMap localFiles;
    if (const auto content = platform::ReadWholeFile(state.versionFile)) {
        const Json::Value local = Parse(*content);
        const Json::Value localVersion = Member(local, "version");
        if (localVersion.isString())
            state.Publish(&state.localVersion, localVersion.asString() + ".json");
        for (const Json::Value& object : FilesOf(local)) {
            UpdateFileEntry entry = ReadFileObject(object, state.installDir);
            localFiles.emplace(entry.path, std::move(entry));
        }
    } else {
        std::set<std::pair<dev_t, ino_t>> inside;
        Scan(state, state.installDir, &localFiles, &inside);
    }
    if (!state.Less(&State::localVersion, &State::latestVersion)) {
        Post(state, UPDATE_NONE);
        return;
    }

    std::string error;
    const std::string latestBody = Get(state.baseUrl + "/latest/" + state.appName, &code);
    if (code != 200)
        Post(state, UPDATE_FAILED, "");
    const Json::Value latestList = Parse(latestBody, &error);
    if (!error.empty())
        std::printf("parse latest version error: %s\n", error.c_str());
    if (!latestList.isObject())
        return;

    std::vector<UpdateFileEntry> updateList;
    for (const Json::Value& object : FilesOf(latestList)) {
        UpdateFileEntry entry = ReadFileObject(object, state.installDir);
        const auto found = localFiles.find(entry.path);
        if (found == localFiles.end()) {
            std::printf("file %s is a new file\n", entry.path.c_str());
            updateList.push_back(std::move(entry));
            continue;
        }
        if (found->second.digest != entry.digest) {
            std::printf("file %s need to be updated\n", entry.path.c_str());
            updateList.push_back(std::move(entry));
        }
        localFiles.erase(found);
    }
    std::fflush(stdout);
    Post(state, updateList.empty() && localFiles.empty() ? UPDATE_NONE : UPDATE_AVAILABLE);
}

}  // namespace

UpdateChecker::UpdateChecker() : state_(std::make_shared<State>()) {
    state_->installDir = PubUtils::GetExeDir();
    // Built, not created: the checker must not be the one that resolves the data folder.
    state_->versionFile = platform::UserDataHome() + "/" + PubUtils::kAppName + "/ver";
    state_->baseUrl = WideToAnsi(ReadUpdateConfigString(L"UpdateUrl", AnsiToWide(kDefaultUpdateUrl), 50));
    state_->appName = WideToAnsi(ReadUpdateConfigString(L"AppName", AnsiToWide(PubUtils::kAppName), 50));
}

UpdateChecker::~UpdateChecker() = default;

void UpdateChecker::SetNotifyWindow(platform::WindowHandle window) {
    state_->window.store(window);
}

bool UpdateChecker::StartCheck() {
    // The thread owns a share of the state, so the checker may go first.
    try {
        std::thread([state = state_] {
            platform::EnsureSignalStack();
            RunCheck(state);
        }).detach();
    } catch (const std::system_error&) {
        return false;  // no thread: the check simply has no answer
    }
    return true;
}

bool UpdateChecker::HasRemoteVersion() const {
    std::lock_guard lock(state_->mutex);
    return !state_->latestVersion.empty();
}

bool UpdateChecker::HasNewerVersion() const {
    return state_->Less(&State::localVersion, &State::latestVersion);
}

bool UpdateChecker::MustUpdate() const {
    return state_->Less(&State::localVersion, &State::minimumVersion);
}
