#include "speech/speech_client.h"

#include "core/settings.h"
#include "core/text_convert.h"
#include "platform/clock.h"

#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <optional>

namespace {

constexpr std::int64_t kRenewBefore = 86400;  // a token is renewed one day before it expires

std::int64_t NowSeconds() {
    return std::chrono::duration_cast<std::chrono::seconds>(platform::CurrentClock().Now().time_since_epoch())
        .count();
}

// Tokens shared by every client of the process, one per endpoint and credential pair. One
// request per key is in flight at a time; other clients wait for its outcome without holding
// the lock across the network.
class TokenCache {
public:
    struct Token {
        std::string accessToken;
        std::int64_t expiry = 0;
        std::string scope;
    };

    static TokenCache& Instance() {
        static TokenCache* cache = new TokenCache;
        return *cache;
    }

    // A valid token, or nullopt after this caller was made the one that fetches.
    std::optional<Token> FindOrClaim(const std::string& key, std::int64_t now) {
        std::unique_lock lock(mutex_);
        for (;;) {
            Entry& entry = entries_[key];
            if (!entry.token.accessToken.empty() && now < entry.token.expiry - kRenewBefore)
                return entry.token;
            if (!entry.fetching) {
                entry.fetching = true;
                return std::nullopt;
            }
            changed_.wait(lock);
        }
    }

    // Ends the claim; a token is stored only when the request gave one.
    void Finish(const std::string& key, const std::optional<Token>& token) {
        {
            std::lock_guard lock(mutex_);
            Entry& entry = entries_[key];
            entry.fetching = false;
            if (token && !token->accessToken.empty())
                entry.token = *token;
        }
        changed_.notify_all();
    }

    void Clear() {
        std::lock_guard lock(mutex_);
        for (auto it = entries_.begin(); it != entries_.end();)
            it = it->second.fetching ? std::next(it) : entries_.erase(it);
    }

private:
    struct Entry {
        Token token;
        bool fetching = false;
    };
    std::mutex mutex_;
    std::condition_variable changed_;
    std::map<std::string, Entry> entries_;
};

Json::Value CurlError(int code) {
    Json::Value error(Json::objectValue);
    error["curl_error_code"] = code;
    return error;
}

bool ParseJson(const std::string& body, Json::Value& value) {
    Json::CharReaderBuilder builder;
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    std::string errors;
    try {
        return reader->parse(body.data(), body.data() + body.size(), &value, &errors);
    } catch (const std::exception&) {
        return false;
    }
}

}  // namespace

SpeechEndpoints SpeechEndpoints::FromSettings() {
    return {
        WideToAnsi(ReadConfigString(L"TokenUrl", AnsiToWide(SpeechClient::kDefaultTokenUrl), 2048)),
        WideToAnsi(ReadConfigString(L"SynthesisUrl", AnsiToWide(SpeechClient::kDefaultSynthesisUrl), 2048))};
}

SpeechClient::SpeechClient(std::string appId, std::string apiKey, std::string secretKey,
                           SpeechEndpoints endpoints)
    : appId_(std::move(appId)),
      apiKey_(std::move(apiKey)),
      secretKey_(std::move(secretKey)),
      endpoints_(std::move(endpoints)) {}

std::string SpeechClient::GetAccessToken() {
    const std::int64_t now = NowSeconds();
    if (!accessToken_.empty() && now < expiry_ - kRenewBefore)
        return accessToken_;

    TokenCache& cache = TokenCache::Instance();
    const std::string key = endpoints_.tokenUrl + '\n' + apiKey_ + '\n' + secretKey_;
    if (auto shared = cache.FindOrClaim(key, now)) {
        accessToken_ = shared->accessToken;
        expiry_ = shared->expiry;
        scope_ = shared->scope;
        return accessToken_;
    }

    const ParamMap params{
        {"grant_type", "client_credentials"}, {"client_id", apiKey_}, {"client_secret", secretKey_}};
    std::string response;
    const int code = http_.Get(endpoints_.tokenUrl, &params, nullptr, &response);
    if (code != 0) {
        cache.Finish(key, std::nullopt);
        return CurlError(code).toStyledString();
    }
    Json::Value reply;
    ParseJson(response, reply);
    TokenCache::Token token;
    if (reply.isObject()) {
        const Json::Value& access = reply["access_token"];
        const Json::Value& expires = reply["expires_in"];
        const Json::Value& scope = reply["scope"];
        token.accessToken = access.isString() ? access.asString() : std::string();
        token.expiry = now + (expires.isIntegral() ? expires.asInt64() : 0);
        token.scope = scope.isString() ? scope.asString() : std::string();
    }
    cache.Finish(key, token);
    accessToken_ = token.accessToken;
    expiry_ = token.expiry;
    scope_ = token.scope;
    return accessToken_;
}

Json::Value SpeechClient::Text2Audio(const std::string& text, const ParamMap& options, std::string& audio) {
    ParamMap form = options;
    const std::string token = GetAccessToken();
    form["tex"] = text;
    form["lan"] = "zh";
    form["ctp"] = "1";
    form["tok"] = token;
    form["cuid"] = apiKey_;
    return RequestAudio(endpoints_.synthesisUrl, form, audio);
}

Json::Value SpeechClient::RequestAudio(const std::string& url, const ParamMap& data, std::string& audio) {
    std::string response;
    const int code = http_.Post(url, nullptr, data, nullptr, &response);
    if (code != 0)
        return CurlError(code);
    Json::Value reply;
    if (ParseJson(response, reply)) {
        // A reply that is JSON but not an object still is no audio; keep it inside an object.
        if (!reply.isObject()) {
            Json::Value wrapped(Json::objectValue);
            wrapped["reply"] = reply;
            reply = wrapped;
        }
        reply["curl_error_code"] = 0;
        return reply;
    }
    audio = std::move(response);
    return Json::Value();
}

void SpeechClient::ClearTokenCacheForTesting() {
    TokenCache::Instance().Clear();
}
