#pragma once
// Turning a user's text file into pieces for the speech service: copy it into its job folder, read
// the copy (at most 10 MiB), bring it to UTF-8, and cut it at line breaks or punctuation into pieces
// of about 1000 bytes whose concatenation is the text, byte for byte. Re-entrant.

#include <cstddef>
#include <string>
#include <vector>

namespace PubUtils {

inline constexpr std::size_t kMaxTextBytes = 10485760;
inline constexpr std::size_t kPieceBytes = 1000;

enum class TextError { None, Missing, Unreadable, NotAFile, TooBig, Empty, NoBreakMark, CopyFailed };

// A short reason for a person, in English and (for the window) in Chinese.
const char* TextErrorText(TextError error);
const wchar_t* TextErrorTextZh(TextError error);

// Copies the regular file into GetTempDir()/<Md5Hex(source)>/input<last four bytes of source>,
// replacing an earlier copy, and returns that path. "" on failure (an Error entry is logged) and
// for a source shorter than four bytes. A "/" among the four bytes becomes "_", keeping the copy
// inside its job folder.
std::string GetCopyByFile(const std::string& source, TextError* error = nullptr);

// The whole file, zero bytes included. False, with an empty text and a Warning logged, when it
// cannot be opened, is not a regular file, or is larger than kMaxTextBytes.
bool GetFileContext(const std::string& path, std::string& text, TextError* error = nullptr);

// Brings the text read from a file to UTF-8: valid UTF-8 stays byte-identical (a BOM included);
// text with a UTF-16 BOM is decoded as UTF-16 (LE or BE) and everything else as GB18030, both
// re-encoded without a BOM, every undecodable unit becoming U+FFFD. True when it converted.
bool ToUtf8Text(std::string& text);

// Cuts the text into pieces: a remainder shorter than kPieceBytes is the last piece; otherwise the
// piece ends after the last occurrence, starting at an offset of at most kPieceBytes, of the first
// mark in "\r\n", "\n", "\r", "。", "；", "，", ".", ";" that occurs there. False, with no pieces,
// for an empty text or when a window holds none of the marks.
bool SplitText(const std::string& text, std::vector<std::string>& pieces);

// Why SplitText refused this text: Empty or NoBreakMark.
TextError SplitFailure(const std::string& text);

}  // namespace PubUtils
