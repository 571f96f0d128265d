#pragma once
// A small blocking HTTP client over libcurl's easy interface: every call makes its own handle on
// the calling thread and returns libcurl's result code unchanged (0: the transfer completed; HTTP
// status codes are not examined). Maps are ordered by key, so queries, forms and header lists are
// too. TLS peers and host names are verified, against the system's CA store or a named CA file.

#include <curl/curl.h>

#include <map>
#include <string>

using ParamMap = std::map<std::string, std::string>;

class HttpClient {
public:
    HttpClient() = default;

    void SetConnectTimeout(int milliseconds) { connectTimeout_ = milliseconds; }
    void SetTimeout(int milliseconds) { timeout_ = milliseconds; }
    // Trust only the certificates of this PEM file (empty: the system's CA store).
    void SetCaFile(std::string path) { caFile_ = std::move(path); }

    // The response body is appended to *response, which the client never clears.
    int Get(std::string url, const ParamMap* params, const ParamMap* headers, std::string* response);
    int Post(std::string url, const ParamMap* params, const std::string& body, const ParamMap* headers,
             std::string* response);
    // The form variant: the body is BuildForm(data).
    int Post(std::string url, const ParamMap* params, const ParamMap& data, const ParamMap* headers,
             std::string* response);

    // "key=value&" per entry, both percent-escaped; an empty map gives an empty text.
    static void BuildForm(const ParamMap& map, std::string& out);
    // Appends "?" (or "&" when the url has a "?") and the form of params; nothing for no params.
    static void AppendQuery(const ParamMap& params, std::string& url);
    // One "key:value" line per entry.
    static void BuildHeaders(const ParamMap& headers, curl_slist*& list);
    // Every byte but ASCII letters, digits and "-._~" as "%XX" (upper-case hex).
    static void Escape(const std::string& text, std::string& out);

private:
    int Perform(const std::string& url, const ParamMap* headers, const std::string* body,
                std::string* response);

    bool debug_ = false;
    int connectTimeout_ = 10000;
    int timeout_ = 10000;
    std::string caFile_;
};
