#include "support/speech_server.h"

#include "support/test_env.h"

#include <curl/curl.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace testenv {
namespace {

// Under the sanitizers espeak-ng's start-up alone can take seconds.
constexpr auto kStartTimeout = std::chrono::seconds(60);
constexpr auto kStopTimeout = std::chrono::seconds(20);

std::size_t AppendBody(char* data, std::size_t size, std::size_t count, void* target) {
    static_cast<std::string*>(target)->append(data, size * count);
    return size * count;
}

HttpReply Exchange(const std::string& url, const std::string* body) {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    HttpReply reply;
    CURL* curl = curl_easy_init();
    if (!curl)
        return reply;
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_NOPROXY, "*");
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, 10000L);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, 100000L);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &AppendBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &reply.body);
    if (body) {
        curl_easy_setopt(curl, CURLOPT_POST, 1L);
        curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body->size()));
        curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body->data());
    }
    reply.curlCode = curl_easy_perform(curl);
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &reply.status);
    const char* type = nullptr;
    if (curl_easy_getinfo(curl, CURLINFO_CONTENT_TYPE, &type) == CURLE_OK && type)
        reply.contentType = type;
    curl_easy_cleanup(curl);
    return reply;
}

// Where the value of "key" starts in a flat JSON object, or npos.
std::size_t ValueStart(const std::string& json, const std::string& key) {
    const std::string quoted = "\"" + key + "\"";
    std::size_t at = json.find(quoted);
    if (at == std::string::npos)
        return at;
    at = json.find_first_not_of(" \t\r\n", at + quoted.size());
    if (at == std::string::npos || json[at] != ':')
        return std::string::npos;
    return json.find_first_not_of(" \t\r\n", at + 1);
}

int ExitStatus(int status) {
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    if (WIFSIGNALED(status))
        return 128 + WTERMSIG(status);
    return -1;
}

}  // namespace

HttpReply HttpGet(const std::string& url) {
    return Exchange(url, nullptr);
}

HttpReply HttpPost(const std::string& url, const std::string& body) {
    return Exchange(url, &body);
}

std::string FormEscape(const std::string& text) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (std::isalnum(byte) || c == '-' || c == '.' || c == '_' || c == '~') {
            out.push_back(c);
        } else {
            out.push_back('%');
            out.push_back(kHex[byte >> 4]);
            out.push_back(kHex[byte & 15]);
        }
    }
    return out;
}

long JsonNumber(const std::string& json, const std::string& key) {
    const std::size_t at = ValueStart(json, key);
    if (at == std::string::npos)
        return -1;
    char* end = nullptr;
    const long value = std::strtol(json.c_str() + at, &end, 10);
    return end == json.c_str() + at ? -1 : value;
}

std::string JsonString(const std::string& json, const std::string& key) {
    std::size_t at = ValueStart(json, key);
    if (at == std::string::npos || json[at] != '"')
        return {};
    std::string out;
    for (++at; at < json.size() && json[at] != '"'; ++at) {
        if (json[at] == '\\' && at + 1 < json.size() && (json[at + 1] == '"' || json[at + 1] == '\\'))
            ++at;
        out.push_back(json[at]);
    }
    return out;
}

SpeechServer::SpeechServer(const std::vector<std::string>& extraArgs) {
#ifndef PARLATTO_SPEECH_SERVER
    (void)extraArgs;
    throw std::runtime_error("parlatto-speech-server is not part of this build");
#else
    std::vector<std::string> args = {PARLATTO_SPEECH_SERVER, "--port", "0"};
    args.insert(args.end(), extraArgs.begin(), extraArgs.end());
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);

    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0)
        throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    const int spawned = ::posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    if (spawned != 0) {
        ::close(out[0]);
        pid_ = -1;
        throw std::runtime_error(std::string("cannot start ") + argv[0] + ": " + std::strerror(spawned));
    }

    std::string line;
    const auto deadline = std::chrono::steady_clock::now() + kStartTimeout;
    while (line.find('\n') == std::string::npos) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd ready{out[0], POLLIN, 0};
        if (left.count() <= 0 || ::poll(&ready, 1, static_cast<int>(left.count())) == 0)
            break;
        char buffer[64];
        const ssize_t got = ::read(out[0], buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        line.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(out[0]);
    port_ = std::atoi(line.c_str());
    if (line.find('\n') == std::string::npos || port_ <= 0 || port_ > 65535) {
        const int status = Stop(SIGKILL);
        throw std::runtime_error("parlatto-speech-server named no port (first output '" + line +
                                 "', exit status " + std::to_string(status) + ")");
    }
#endif
}

SpeechServer::~SpeechServer() {
    Stop();
}

int SpeechServer::Stop(int signal) {
    if (pid_ <= 0)
        return exitStatus_;
    int status = 0;
    ::kill(pid_, signal);
    const bool ended = WaitUntil([&] { return ::waitpid(pid_, &status, WNOHANG) == pid_; },
                                 std::chrono::duration_cast<std::chrono::milliseconds>(kStopTimeout));
    if (!ended) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, &status, 0);
    }
    pid_ = -1;
    exitStatus_ = ExitStatus(status);
    return exitStatus_;
}

SpeechServerStats SpeechServer::Stats() const {
    const HttpReply reply = HttpGet(BaseUrl() + "/stats");
    SpeechServerStats stats;
    if (reply.curlCode != 0 || reply.status != 200) {
        ADD_FAILURE() << "GET /stats: curl " << reply.curlCode << ", status " << reply.status;
        return stats;
    }
    stats.tokenRequests = JsonNumber(reply.body, "token_requests");
    stats.synthesisRequests = JsonNumber(reply.body, "synthesis_requests");
    stats.audioReplies = JsonNumber(reply.body, "audio_replies");
    stats.errorReplies = JsonNumber(reply.body, "error_replies");
    stats.dropped = JsonNumber(reply.body, "dropped");
    stats.held = JsonNumber(reply.body, "held");
    return stats;
}

void SpeechServer::Control(const std::string& path) const {
    const HttpReply reply = HttpPost(BaseUrl() + path, "");
    if (reply.curlCode != 0 || reply.status != 200)
        ADD_FAILURE() << "POST " << path << ": curl " << reply.curlCode << ", status " << reply.status;
}

void SpeechServer::Hold() const {
    Control("/control/hold");
}

void SpeechServer::Release() const {
    Control("/control/release");
}

void SpeechServer::Fail(const std::string& substring, int count) const {
    Control("/control/fail?text=" + FormEscape(substring) + "&count=" + std::to_string(count));
}

void SpeechServer::Drop(const std::string& substring, int count) const {
    Control("/control/drop?text=" + FormEscape(substring) + "&count=" + std::to_string(count));
}

bool SpeechServer::WaitForHeld(long count, std::chrono::milliseconds timeout) const {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        const long held = Stats().held;
        if (held >= count)
            return true;
        if (held < 0)
            return false;
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

std::string SpeechServer::IssueToken() const {
    const HttpReply reply = HttpGet(
        TokenUrl() + "?client_id=test-client&client_secret=test-secret&grant_type=client_credentials&");
    const std::string token = JsonString(reply.body, "access_token");
    if (reply.curlCode != 0 || token.empty())
        ADD_FAILURE() << "no token: curl " << reply.curlCode << ", body " << reply.body;
    return token;
}

}  // namespace testenv
