#pragma once
// The system's three text conversions. Narrow text is UTF-8 on this platform, so AnsiToWide and
// Utf8 share one decoder. Input stops at an embedded zero; invalid bytes become U+FFFD.

#include <string>
#include <string_view>

std::wstring AnsiToWide(std::string_view text);
std::string WideToAnsi(std::wstring_view text);
std::string WideToUtf8(std::wstring_view text);
