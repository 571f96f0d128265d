#pragma once
// One synthesis against the speech service: an OAuth client-credentials token, then the synthesis
// form. Hands back MP3 bytes with a null JSON value, or a JSON object describing the failure
// (with "curl_error_code": libcurl's code for a transport failure, 0 for a service error reply).
// Tokens are shared process-wide per endpoint and credential pair, renewed a day before expiry.

#include "speech/http_client.h"

#include <json/json.h>

#include <cstdint>
#include <string>

// The service's endpoints: the settings "TokenUrl" and "SynthesisUrl", else the real service.
struct SpeechEndpoints {
    std::string tokenUrl;
    std::string synthesisUrl;

    static SpeechEndpoints FromSettings();
};

class SpeechClient {
public:
    static constexpr char kDefaultTokenUrl[] = "https://aip.baidubce.com/oauth/2.0/token";
    static constexpr char kDefaultSynthesisUrl[] = "http://tsn.baidu.com/text2audio";

    SpeechClient(std::string appId, std::string apiKey, std::string secretKey,
                 SpeechEndpoints endpoints = SpeechEndpoints::FromSettings());

    void SetConnectTimeout(int milliseconds) { http_.SetConnectTimeout(milliseconds); }
    void SetTimeout(int milliseconds) { http_.SetTimeout(milliseconds); }
    void SetCaFile(std::string path) { http_.SetCaFile(std::move(path)); }

    // The token from the cache or a new request; on a transport failure the styled JSON text
    // {"curl_error_code": N} stands in its place.
    std::string GetAccessToken();
    // One synthesis of UTF-8 text; options (the voice "per") become form fields.
    Json::Value Text2Audio(const std::string& text, const ParamMap& options, std::string& audio);
    // The form POST: a body that parses as JSON is an error reply, anything else is audio.
    Json::Value RequestAudio(const std::string& url, const ParamMap& data, std::string& audio);

    // Forgets every shared token (tests).
    static void ClearTokenCacheForTesting();

private:
    std::string appId_;
    std::int64_t expiry_ = 0;
    std::string scope_;
    std::string apiKey_;
    std::string secretKey_;
    HttpClient http_;
    std::string accessToken_;
    SpeechEndpoints endpoints_;
};
