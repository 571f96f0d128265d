#include "platform/text_codec.h"

#include <cstdint>

namespace platform {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Decodes one scalar value at text[pos], advancing pos past it. An ill-formed sequence yields
// U+FFFD and consumes its maximal valid prefix (at least one byte), as Unicode recommends.
char32_t DecodeOne(std::string_view text, size_t& pos) {
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char b0 = byte(pos);
    if (b0 < 0x80) {
        ++pos;
        return b0;
    }
    int length = 0;
    char32_t value = 0;
    unsigned char lo = 0x80, hi = 0xBF;  // allowed range of the second byte
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        length = 2;
        value = b0 & 0x1F;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        length = 3;
        value = b0 & 0x0F;
        if (b0 == 0xE0)
            lo = 0xA0;
        if (b0 == 0xED)
            hi = 0x9F;  // no surrogates
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        length = 4;
        value = b0 & 0x07;
        if (b0 == 0xF0)
            lo = 0x90;
        if (b0 == 0xF4)
            hi = 0x8F;
    } else {
        ++pos;
        return kReplacement;
    }
    size_t i = pos + 1;
    for (int n = 1; n < length; ++n, ++i) {
        if (i >= text.size()) {
            pos = i;
            return kReplacement;
        }
        const unsigned char b = byte(i);
        const unsigned char min = n == 1 ? lo : 0x80;
        const unsigned char max = n == 1 ? hi : 0xBF;
        if (b < min || b > max) {
            pos = i;
            return kReplacement;
        }
        value = (value << 6) | (b & 0x3F);
    }
    pos = i;
    return value;
}

}  // namespace

void AppendUtf8(std::string& out, char32_t c) {
    if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
        c = kReplacement;
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

std::wstring Utf8ToWide(std::string_view text) {
    static_assert(sizeof(wchar_t) == 4, "wide strings are UTF-32 on this platform");
    std::wstring out;
    out.reserve(text.size());
    size_t pos = 0;
    while (pos < text.size())
        out.push_back(static_cast<wchar_t>(DecodeOne(text, pos)));
    return out;
}

std::string WideToUtf8(std::wstring_view text) {
    std::string out;
    out.reserve(text.size());
    for (wchar_t c : text)
        AppendUtf8(out, static_cast<char32_t>(static_cast<std::uint32_t>(c)));
    return out;
}

bool IsValidUtf8(std::string_view text) {
    size_t pos = 0;
    while (pos < text.size()) {
        const size_t start = pos;
        if (DecodeOne(text, pos) == kReplacement) {
            // A literal U+FFFD (EF BF BD) is valid; a decoding failure is not.
            if (pos - start != 3 || text.compare(start, 3, "\xEF\xBF\xBD") != 0)
                return false;
        }
    }
    return true;
}

}  // namespace platform
