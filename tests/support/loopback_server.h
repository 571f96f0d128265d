#pragma once
// An HTTP server on 127.0.0.1 for client tests: records every request as it arrived (method, raw
// target with the query, headers, body or form parts) and answers with a reply the test sets. With a
// certificate and key it speaks HTTPS instead.

#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace httplib {
class Server;
}

namespace testenv {

struct FormPart {
    std::string name;
    std::string fileName;
    std::string contentType;
    std::string content;
};

struct RecordedRequest {
    std::string method;
    std::string target;  // path and query exactly as sent
    std::string body;    // empty for multipart/form-data, whose parts the server takes apart
    std::multimap<std::string, std::string> headers;
    std::vector<FormPart> parts;  // by name

    std::string Header(const std::string& name) const;
};

struct CannedReply {
    int status = 200;
    std::string contentType = "text/plain";
    std::string body;
    std::chrono::milliseconds delay{0};
};

class LoopbackServer {
public:
    LoopbackServer();                                                         // plain HTTP
    LoopbackServer(const std::string& certFile, const std::string& keyFile);  // HTTPS
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    int Port() const { return port_; }
    std::string Url(const std::string& path) const;

    // The reply for a path ("" = every path without one of its own).
    void SetReply(const std::string& path, CannedReply reply);
    std::vector<RecordedRequest> Requests();

private:
    void Start();

    std::unique_ptr<httplib::Server> server_;
    bool tls_ = false;
    int port_ = 0;
    std::thread thread_;
    std::mutex mutex_;
    std::map<std::string, CannedReply> replies_;
    std::vector<RecordedRequest> requests_;
};

}  // namespace testenv
