#include "support/loopback_server.h"

#include <httplib.h>

#include <cstdlib>

namespace testenv {

std::string RecordedRequest::Header(const std::string& name) const {
    auto it = headers.find(name);
    return it == headers.end() ? std::string() : it->second;
}

LoopbackServer::LoopbackServer() : server_(std::make_unique<httplib::Server>()) {
    Start();
}

LoopbackServer::LoopbackServer(const std::string& certFile, const std::string& keyFile)
    : server_(std::make_unique<httplib::SSLServer>(certFile.c_str(), keyFile.c_str())), tls_(true) {
    Start();
}

void LoopbackServer::Start() {
    auto handle = [this](const httplib::Request& req, httplib::Response& res) {
        CannedReply reply;
        {
            std::lock_guard lock(mutex_);
            RecordedRequest recorded{req.method, req.target, req.body, {}, {}};
            for (const auto& [name, value] : req.headers)
                recorded.headers.emplace(name, value);
            for (const auto& [name, file] : req.files)
                recorded.parts.push_back({file.name, file.filename, file.content_type, file.content});
            requests_.push_back(std::move(recorded));
            auto it = replies_.find(req.path);
            if (it == replies_.end())
                it = replies_.find("");
            if (it != replies_.end())
                reply = it->second;
        }
        if (reply.delay.count() > 0)
            std::this_thread::sleep_for(reply.delay);
        res.status = reply.status;
        res.set_content(reply.body, reply.contentType.c_str());
    };
    server_->Get(".*", handle);
    server_->Post(".*", handle);
    port_ = server_->bind_to_any_port("127.0.0.1");
    if (port_ <= 0)
        std::abort();
    thread_ = std::thread([this] { server_->listen_after_bind(); });
    // stop() before the accept loop began would be lost and the loop would never end.
    while (!server_->is_running())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

LoopbackServer::~LoopbackServer() {
    server_->stop();
    thread_.join();
}

std::string LoopbackServer::Url(const std::string& path) const {
    return std::string(tls_ ? "https" : "http") + "://127.0.0.1:" + std::to_string(port_) + path;
}

void LoopbackServer::SetReply(const std::string& path, CannedReply reply) {
    std::lock_guard lock(mutex_);
    replies_[path] = std::move(reply);
}

std::vector<RecordedRequest> LoopbackServer::Requests() {
    std::lock_guard lock(mutex_);
    return requests_;
}

}  // namespace testenv
