#include "speech_service.h"

#include "form_fields.h"
#include "mp3_encoder.h"

#include <json/json.h>

#include <arpa/inet.h>
#include <dirent.h>
#include <iconv.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

std::string ToJson(const Json::Value& value) {
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "";
    builder["emitUTF8"] = true;
    return Json::writeString(builder, value);
}

void AnswerJson(httplib::Response& response, int status, const Json::Value& value) {
    response.status = status;
    response.set_content(ToJson(value), "application/json");
}

bool ParseSmallNumber(const std::string& text, int low, int high, int& out) {
    int value = 0;
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc() || ptr != end || value < low || value > high)
        return false;
    out = value;
    return true;
}

// httplib 0.11 hands a handler no socket and has no call that closes the connection without an
// answer. The request names both ends of its connection, so the socket is found among this
// process's descriptors and shut down (never closed: httplib owns the descriptor and closes it
// after its answer fails to go out). The client sees the connection end with no reply at all.
bool CutConnection(const httplib::Request& request) {
    DIR* dir = ::opendir("/proc/self/fd");
    if (!dir)
        return false;
    bool found = false;
    while (const dirent* entry = ::readdir(dir)) {
        const int fd = std::atoi(entry->d_name);
        if (entry->d_name[0] < '0' || entry->d_name[0] > '9' || fd == ::dirfd(dir))
            continue;
        sockaddr_in local{};
        sockaddr_in peer{};
        socklen_t localSize = sizeof local;
        socklen_t peerSize = sizeof peer;
        if (::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &localSize) != 0 ||
            ::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &peerSize) != 0 ||
            local.sin_family != AF_INET || peer.sin_family != AF_INET)
            continue;
        if (ntohs(local.sin_port) == request.local_port && ntohs(peer.sin_port) == request.remote_port) {
            found = ::shutdown(fd, SHUT_RDWR) == 0;
            break;
        }
    }
    ::closedir(dir);
    return found;
}

std::string Field(const std::map<std::string, std::string>& fields, const std::string& key) {
    const auto it = fields.find(key);
    return it == fields.end() ? std::string() : it->second;
}

}  // namespace

SpeechService::SpeechService(const ServerOptions& options, SpeechSynthesizer& synthesizer)
    : synthesizer_(synthesizer),
      delay_(options.delayMs),
      faults_(options.failRate, options.dropRate, options.seed) {
    for (const TextFault& fault : options.failTexts)
        faults_.AddFailText(fault);
    for (const TextFault& fault : options.dropTexts)
        faults_.AddDropText(fault);
}

std::size_t SpeechService::GbkLength(const std::string& utf8Text) {
    iconv_t converter = ::iconv_open("GBK//TRANSLIT", "UTF-8");
    if (converter == reinterpret_cast<iconv_t>(-1))
        return utf8Text.size();
    char* in = const_cast<char*>(utf8Text.data());
    std::size_t inLeft = utf8Text.size();
    std::size_t total = 0;
    char buffer[4096];
    while (inLeft > 0) {
        char* out = buffer;
        std::size_t outLeft = sizeof buffer;
        const std::size_t result = ::iconv(converter, &in, &inLeft, &out, &outLeft);
        total += sizeof buffer - outLeft;
        if (result != static_cast<std::size_t>(-1) || errno == E2BIG)
            continue;
        if (errno == EILSEQ) {
            ++in;
            --inLeft;
            ++total;
        } else {
            total += inLeft;  // a sequence cut off at the end
            break;
        }
    }
    ::iconv_close(converter);
    return total;
}

void SpeechService::Install(httplib::Server& server) {
    server.new_task_queue = [] { return new httplib::ThreadPool(kWorkerThreads); };
    server.set_payload_max_length(1 << 20);

    auto grant = [this](const httplib::Request& request, httplib::Response& response) {
        GrantToken(request, response);
    };
    server.Get("/oauth/2.0/token", grant);
    server.Post("/oauth/2.0/token", grant);

    // Read as raw content: httplib refuses form bodies over 8 KiB itself, but an over-long text
    // must get the service's own answer.
    server.Post("/text2audio", [this](const httplib::Request& request, httplib::Response& response,
                                      const httplib::ContentReader& reader) {
        std::string body;
        reader([&body](const char* data, std::size_t length) {
            body.append(data, length);
            return true;
        });
        Fields fields;
        FormFields::Parse(body, fields);
        for (const auto& [key, value] : request.params)
            fields.emplace(key, value);
        Synthesize(request, response, fields);
    });
    server.Get("/text2audio", [this](const httplib::Request& request, httplib::Response& response) {
        Synthesize(request, response, Fields(request.params.begin(), request.params.end()));
    });

    server.Get("/stats", [this](const httplib::Request&, httplib::Response& response) {
        response.set_content(StatsJson(), "application/json");
    });
    server.Post("/control/hold", [this](const httplib::Request&, httplib::Response& response) {
        gate_.Hold();
        response.set_content(StatsJson(), "application/json");
    });
    server.Post("/control/release", [this](const httplib::Request&, httplib::Response& response) {
        gate_.Release();
        response.set_content(StatsJson(), "application/json");
    });
    server.Post("/control/fail", [this](const httplib::Request& request, httplib::Response& response) {
        AddTextFault(request, response, false);
    });
    server.Post("/control/drop", [this](const httplib::Request& request, httplib::Response& response) {
        AddTextFault(request, response, true);
    });
}

void SpeechService::Shutdown() {
    gate_.Shutdown();
}

void SpeechService::GrantToken(const httplib::Request& request, httplib::Response& response) {
    ++tokenRequests_;
    Json::Value answer;
    if (request.get_param_value("grant_type") != "client_credentials") {
        answer["error"] = "unsupported_grant_type";
        answer["error_description"] = "The authorization grant type is not supported";
        AnswerJson(response, 400, answer);
        return;
    }
    if (request.get_param_value("client_id").empty()) {
        answer["error"] = "invalid_client";
        answer["error_description"] = "unknown client id";
        AnswerJson(response, 401, answer);
        return;
    }
    if (request.get_param_value("client_secret").empty()) {
        answer["error"] = "invalid_client";
        answer["error_description"] = "Client authentication failed";
        AnswerJson(response, 401, answer);
        return;
    }
    answer["access_token"] = tokens_.Issue();
    answer["refresh_token"] = "25." + tokens_.RandomHex(32) + ".315360000.local";
    answer["expires_in"] = 2592000;
    answer["scope"] = "audio_voice_assistant_get audio_tts_post public brain_all_scope";
    answer["session_key"] = tokens_.RandomHex(48);
    answer["session_secret"] = tokens_.RandomHex(32);
    AnswerJson(response, 200, answer);
}

std::string SpeechService::CheckFields(const Fields& fields, VoiceSettings& voice) {
    const std::string text = Field(fields, "tex");
    if (text.empty())
        return "tex is missing or empty";
    if (GbkLength(text) > kMaxTextGbkBytes)
        return "tex is 1024 bytes or longer in GBK";
    const std::string cuid = Field(fields, "cuid");
    if (cuid.empty() || cuid.size() > 60)
        return "cuid must hold 1 to 60 characters";
    if (Field(fields, "ctp") != "1")
        return "ctp must be 1";
    if (Field(fields, "lan") != "zh")
        return "lan must be zh";
    if (fields.count("per") && (!ParseSmallNumber(Field(fields, "per"), 0, 4, voice.person) ||
                                !SpeechSynthesizer::IsValidPerson(voice.person)))
        return "per must be 0, 1, 3 or 4";
    const std::pair<const char*, int*> levels[] = {
        {"spd", &voice.speed}, {"pit", &voice.pitch}, {"vol", &voice.volume}};
    for (const auto& [name, level] : levels) {
        if (fields.count(name) && !ParseSmallNumber(Field(fields, name), 0, 15, *level))
            return std::string(name) + " must be 0 to 15";
    }
    if (fields.count("aue") && Field(fields, "aue") != "3")
        return "only aue=3 (mp3) is offered by the local service";
    return {};
}

void SpeechService::Synthesize(const httplib::Request& request, httplib::Response& response,
                               const Fields& fields) {
    ++synthesisRequests_;
    gate_.PassThrough();
    gate_.Delay(delay_);
    if (!tokens_.Knows(Field(fields, "tok"))) {
        AnswerError(response, 502, "access token invalid or no longer valid");
        return;
    }
    VoiceSettings voice;
    if (const std::string problem = CheckFields(fields, voice); !problem.empty()) {
        AnswerError(response, 501, "input parameter error: " + problem);
        return;
    }
    const std::string text = Field(fields, "tex");
    switch (faults_.Decide(text)) {
        case FaultPlan::Outcome::Drop:
            ++dropped_;
            if (!CutConnection(request))
                std::fprintf(stderr, "parlatto-speech-server: could not find the connection to drop\n");
            response.status = 500;
            return;
        case FaultPlan::Outcome::Fail:
            AnswerError(response, 503, "synthesis back end error");
            return;
        case FaultPlan::Outcome::Answer:
            break;
    }
    std::vector<std::int16_t> samples;
    std::string mp3;
    if (synthesizer_.Synthesize(text, voice, samples))
        mp3 = Mp3Encoder::Encode(samples, synthesizer_.SampleRate());
    if (mp3.empty()) {
        AnswerError(response, 503, "synthesis back end error");
        return;
    }
    response.status = 200;
    response.body = std::move(mp3);
    response.set_header("Content-Type", "audio/mp3");
    ++audioReplies_;
}

void SpeechService::AnswerError(httplib::Response& response, int errNo, const std::string& message) {
    ++errorReplies_;
    Json::Value answer;
    answer["err_no"] = errNo;
    answer["err_msg"] = message;
    answer["sn"] = tokens_.RandomHex(12) + "-local";
    answer["idx"] = 1;
    // The cloud service signals errors by content type, not by status.
    AnswerJson(response, 200, answer);
}

void SpeechService::AddTextFault(const httplib::Request& request, httplib::Response& response, bool drop) {
    TextFault fault;
    if (!request.has_param("text") ||
        !ParseSmallNumber(request.get_param_value("count"), 0, 1 << 30, fault.count)) {
        Json::Value answer;
        answer["error"] = "needs text=SUBSTR and count=N (N >= 0)";
        AnswerJson(response, 400, answer);
        return;
    }
    fault.text = request.get_param_value("text");
    if (drop)
        faults_.AddDropText(std::move(fault));
    else
        faults_.AddFailText(std::move(fault));
    response.set_content(StatsJson(), "application/json");
}

std::string SpeechService::StatsJson() const {
    Json::Value stats;
    stats["token_requests"] = Json::Int64(tokenRequests_.load());
    stats["synthesis_requests"] = Json::Int64(synthesisRequests_.load());
    stats["audio_replies"] = Json::Int64(audioReplies_.load());
    stats["error_replies"] = Json::Int64(errorReplies_.load());
    stats["dropped"] = Json::Int64(dropped_.load());
    stats["held"] = gate_.Held();
    return ToJson(stats);
}
