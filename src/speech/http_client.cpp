#include "speech/http_client.h"

namespace {

size_t AppendToString(char* data, size_t size, size_t count, void* userdata) {
    static_cast<std::string*>(userdata)->append(data, size * count);
    return size * count;
}

}  // namespace

void HttpClient::Escape(const std::string& text, std::string& out) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    for (unsigned char c : text) {
        const bool unreserved = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                                c == '-' || c == '.' || c == '_' || c == '~';
        if (unreserved) {
            out.push_back(static_cast<char>(c));
        } else {
            out.push_back('%');
            out.push_back(kHex[c >> 4]);
            out.push_back(kHex[c & 0x0F]);
        }
    }
}

void HttpClient::BuildForm(const ParamMap& map, std::string& out) {
    out.clear();
    for (const auto& [key, value] : map) {
        Escape(key, out);
        out.push_back('=');
        Escape(value, out);
        out.push_back('&');
    }
}

void HttpClient::AppendQuery(const ParamMap& params, std::string& url) {
    if (params.empty())
        return;
    std::string query;
    BuildForm(params, query);
    url += url.find('?') != std::string::npos ? "&" : "?";
    url += query;
}

void HttpClient::BuildHeaders(const ParamMap& headers, curl_slist*& list) {
    for (const auto& [key, value] : headers) {
        const std::string line = key + ":" + value;
        if (curl_slist* grown = curl_slist_append(list, line.c_str()))
            list = grown;
    }
}

int HttpClient::Get(std::string url, const ParamMap* params, const ParamMap* headers, std::string* response) {
    if (params)
        AppendQuery(*params, url);
    return Perform(url, headers, nullptr, response);
}

int HttpClient::Post(std::string url, const ParamMap* params, const std::string& body,
                     const ParamMap* headers, std::string* response) {
    if (params)
        AppendQuery(*params, url);
    return Perform(url, headers, &body, response);
}

int HttpClient::Post(std::string url, const ParamMap* params, const ParamMap& data, const ParamMap* headers,
                     std::string* response) {
    std::string body;
    BuildForm(data, body);
    return Post(std::move(url), params, body, headers, response);
}

int HttpClient::Perform(const std::string& url, const ParamMap* headers, const std::string* body,
                        std::string* response) {
    CURL* curl = curl_easy_init();
    if (!curl)
        return CURLE_FAILED_INIT;
    curl_slist* list = nullptr;
    if (headers)
        BuildHeaders(*headers, list);

    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, list);
    if (body) {
        curl_easy_setopt(curl, CURLOPT_POST, 1L);
        curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body->data());
        curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body->size()));
    }
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, AppendToString);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, response);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(connectTimeout_));
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, static_cast<long>(timeout_));
    curl_easy_setopt(curl, CURLOPT_SSL_ENABLE_ALPN, 0L);
    // Verified: the token request carries the account's secret.
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
    if (!caFile_.empty())
        curl_easy_setopt(curl, CURLOPT_CAINFO, caFile_.c_str());
    // Endpoints come from the settings file; nothing but HTTP(S) may be reached through them.
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_VERBOSE, debug_ ? 1L : 0L);

    const CURLcode code = curl_easy_perform(curl);
    curl_easy_cleanup(curl);
    curl_slist_free_all(list);
    return static_cast<int>(code);
}
