#pragma once
// A running parlatto-speech-server for one test: the real program on a free loopback port with the
// test's extra arguments, stopped when the object goes (SIGTERM; SIGKILL after a bounded wait).
// The constructor throws std::runtime_error when the program cannot start or names no port.

#include <signal.h>
#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace testenv {

// The server's /stats; -1 everywhere when they could not be read.
struct SpeechServerStats {
    long tokenRequests = -1;
    long synthesisRequests = -1;
    long audioReplies = -1;
    long errorReplies = -1;
    long dropped = -1;
    long held = -1;
};

// One HTTP exchange over libcurl. curlCode 0 means an answer arrived; status is then its code.
struct HttpReply {
    int curlCode = -1;
    long status = 0;
    std::string contentType;
    std::string body;
};

HttpReply HttpGet(const std::string& url);
// The body is sent as application/x-www-form-urlencoded.
HttpReply HttpPost(const std::string& url, const std::string& body);
// Every byte but ASCII letters, digits and "-._~" as "%XX", as the program's client escapes.
std::string FormEscape(const std::string& text);
// The number after "key": in a flat JSON object, or -1.
long JsonNumber(const std::string& json, const std::string& key);
// The string after "key": in a flat JSON object (escapes other than \" and \\ are kept), or "".
std::string JsonString(const std::string& json, const std::string& key);

class SpeechServer {
public:
    explicit SpeechServer(const std::vector<std::string>& extraArgs = {});
    ~SpeechServer();
    SpeechServer(const SpeechServer&) = delete;
    SpeechServer& operator=(const SpeechServer&) = delete;

    int Port() const { return port_; }
    std::string BaseUrl() const { return "http://127.0.0.1:" + std::to_string(port_); }
    std::string TokenUrl() const { return BaseUrl() + "/oauth/2.0/token"; }
    std::string SynthesisUrl() const { return BaseUrl() + "/text2audio"; }

    // The control calls record a test failure when the server does not accept them.
    SpeechServerStats Stats() const;
    void Hold() const;
    void Release() const;
    void Fail(const std::string& substring, int count) const;
    void Drop(const std::string& substring, int count) const;
    // Polls /stats until `count` requests are held; false when the timeout passes first.
    bool WaitForHeld(long count, std::chrono::milliseconds timeout = std::chrono::seconds(60)) const;
    // A token granted by the server to a made-up client ("" and a test failure when refused).
    std::string IssueToken() const;

    // Sends the signal and waits for the end, killing after a bounded wait. Returns the exit
    // status, 128 + signal number when killed by one; later calls return the same.
    int Stop(int signal = SIGTERM);

private:
    void Control(const std::string& path) const;

    pid_t pid_ = -1;
    int port_ = 0;
    int exitStatus_ = -1;
};

}  // namespace testenv
