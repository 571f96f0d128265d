#pragma once
// The settings file format: "[section]" headers and "key=value" lines, names compared without
// regard to ASCII case, surrounding blanks and matching quotes stripped from values. A write
// changes one line and keeps every other byte of the file; it replaces the file atomically and is
// serialised within the process. A file that cannot be read whole is never rewritten.

#include <optional>
#include <string>
#include <string_view>

class IniFile {
public:
    // Files larger than this are treated as unreadable: reads give defaults, writes are refused.
    static constexpr std::size_t kMaxFileSize = 64u << 20;

    // The value of the key in the text, or nullopt when section or key are missing.
    static std::optional<std::string> Find(std::string_view content, std::string_view section,
                                           std::string_view key);
    // The text with the key set to value: the key's line replaced, else added to the section,
    // else a new section appended.
    static std::string Set(std::string_view content, std::string_view section, std::string_view key,
                           std::string_view value);

    // Reads the key from the file; nullopt when the file, the section or the key is missing.
    static std::optional<std::string> Read(const std::string& path, std::string_view section,
                                           std::string_view key);
    // Writes the key into the file, creating the file when missing. False when the name is not
    // usable (empty, or holding a line break, "=" in a key, "]" in a section) or the write failed.
    static bool Write(const std::string& path, std::string_view section, std::string_view key,
                      std::string_view value);
};
