#include "core/helpers.h"

#include <openssl/evp.h>

#include <cstdio>

namespace PubUtils {

std::string FormatDuration(int seconds) {
    const int hours = seconds / 3600;
    const int minutes = (seconds % 3600) / 60;
    const int secs = seconds % 60;
    char buffer[48];
    if (hours != 0)
        std::snprintf(buffer, sizeof buffer, "%02d:%02d:%02d", hours, minutes, secs);
    else
        std::snprintf(buffer, sizeof buffer, "%02d:%02d", minutes, secs);
    return buffer;
}

std::string Md5Hex(std::string_view text) {
    if (text.empty())
        return {};
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_Digest(text.data(), text.size(), digest, &length, EVP_md5(), nullptr) != 1 || length != 16)
        return {};
    static constexpr char kHex[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(32);
    for (unsigned int i = 0; i < length; ++i) {
        hex.push_back(kHex[digest[i] >> 4]);
        hex.push_back(kHex[digest[i] & 0x0F]);
    }
    return hex;
}

std::wstring CutString(const std::wstring& text, const std::wstring& delimiter, bool fromEnd, bool keepFront,
                       bool keepDelimiter) {
    if (delimiter.empty())
        return text;
    const size_t p = fromEnd ? text.rfind(delimiter) : text.find(delimiter);
    if (p == std::wstring::npos)
        return text;
    if (keepFront)
        return text.substr(0, p);
    return text.substr(keepDelimiter ? p : p + delimiter.size());
}

std::string ResultFileName(const std::string& textPath) {
    const size_t slash = textPath.find_last_of('/');
    std::string name = slash == std::string::npos ? textPath : textPath.substr(slash + 1);
    // Four characters, not bytes: a name must stay whole UTF-8.
    size_t end = name.size();
    int characters = 0;
    while (end > 0 && characters < 4) {
        --end;
        if ((static_cast<unsigned char>(name[end]) & 0xC0) != 0x80)
            ++characters;
    }
    if (characters == 4)
        name.resize(end);
    return name + ".mp3";
}

}  // namespace PubUtils
