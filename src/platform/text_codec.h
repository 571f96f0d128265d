#pragma once
// UTF-8 <-> wide (UTF-32 wchar_t) conversions. Never fail: every byte sequence that is not valid
// UTF-8 and every wide value that is not a Unicode scalar value becomes U+FFFD.

#include <string>
#include <string_view>

namespace platform {

std::wstring Utf8ToWide(std::string_view text);
std::string WideToUtf8(std::wstring_view text);

// Appends one scalar value as UTF-8; surrogates and values past U+10FFFF become U+FFFD.
void AppendUtf8(std::string& out, char32_t c);

// True when every byte sequence of the text is well-formed UTF-8.
bool IsValidUtf8(std::string_view text);

}  // namespace platform
