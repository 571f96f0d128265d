#pragma once
// The HTTP face of the local speech service: token grants, synthesis with injected faults, and
// the endpoints tests use (/stats, /control/...). Install puts the routes on a server that the
// caller runs; Shutdown lets every held or delayed request go so that the server can stop.

#include "fault_plan.h"
#include "request_gate.h"
#include "server_options.h"
#include "speech_synthesizer.h"
#include "token_store.h"

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <map>
#include <string>

class SpeechService {
public:
    // Ten held requests must leave room for control requests, so well above httplib's default.
    static constexpr std::size_t kWorkerThreads = 32;
    // As with the cloud service: the text must stay below 1024 bytes once in GBK.
    static constexpr std::size_t kMaxTextGbkBytes = 1023;

    SpeechService(const ServerOptions& options, SpeechSynthesizer& synthesizer);

    void Install(httplib::Server& server);
    void Shutdown();

    // Bytes of the UTF-8 text once converted to GBK; bytes that are not UTF-8 count one each.
    static std::size_t GbkLength(const std::string& utf8Text);

private:
    using Fields = std::map<std::string, std::string>;

    void GrantToken(const httplib::Request& request, httplib::Response& response);
    void Synthesize(const httplib::Request& request, httplib::Response& response, const Fields& fields);
    // Empty when the fields are acceptable, else what is wrong with them.
    static std::string CheckFields(const Fields& fields, VoiceSettings& voice);
    void AnswerError(httplib::Response& response, int errNo, const std::string& message);
    void AddTextFault(const httplib::Request& request, httplib::Response& response, bool drop);
    std::string StatsJson() const;

    SpeechSynthesizer& synthesizer_;
    const std::chrono::milliseconds delay_;
    TokenStore tokens_;
    FaultPlan faults_;
    RequestGate gate_;

    std::atomic<long> tokenRequests_{0};
    std::atomic<long> synthesisRequests_{0};
    std::atomic<long> audioReplies_{0};
    std::atomic<long> errorReplies_{0};
    std::atomic<long> dropped_{0};
};
