#pragma once
// Small stateless helpers: clock text of a duration, MD5 in hexadecimal, cutting at a delimiter.
// Re-entrant; they never log.

#include <string>
#include <string_view>

namespace PubUtils {

// "mm:ss", or "hh:mm:ss" from one hour on (hours take as many digits as they need).
std::string FormatDuration(int seconds);

// 32 lower-case hex digits of the MD5 of all the bytes; empty for an empty text.
std::string Md5Hex(std::string_view text);

// Cuts at the first (or, fromEnd, the last) delimiter: the front without the delimiter when
// keepFront, else the rest, with the delimiter when keepDelimiter. Not found: the whole text.
std::wstring CutString(const std::wstring& text, const std::wstring& delimiter, bool fromEnd, bool keepFront,
                       bool keepDelimiter);

// The saved name of a text's result: its file name without the last four characters (".txt"),
// a name shorter than that whole, then ".mp3": story.txt -> story.mp3, abc -> abc.mp3.
std::string ResultFileName(const std::string& textPath);

}  // namespace PubUtils
