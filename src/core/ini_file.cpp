#include "core/ini_file.h"

#include "platform/file_ops.h"

#include <mutex>
#include <vector>

namespace {

constexpr std::string_view kBlanks = " \t";

std::string_view Trim(std::string_view s) {
    const size_t first = s.find_first_not_of(kBlanks);
    if (first == std::string_view::npos)
        return {};
    const size_t last = s.find_last_not_of(kBlanks);
    return s.substr(first, last - first + 1);
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i]))
            return false;
    }
    return true;
}

struct Line {
    size_t begin;  // offset of the first byte
    size_t end;    // offset just past the text, before the line end
    size_t next;   // offset of the next line
};

std::vector<Line> SplitLines(std::string_view content) {
    std::vector<Line> lines;
    size_t pos = 0;
    // A byte-order mark is not part of the first line's text.
    if (content.substr(0, 3) == "\xEF\xBB\xBF")
        pos = 3;
    while (pos < content.size()) {
        const size_t nl = content.find('\n', pos);
        const size_t next = nl == std::string_view::npos ? content.size() : nl + 1;
        size_t end = nl == std::string_view::npos ? content.size() : nl;
        if (end > pos && content[end - 1] == '\r')
            --end;
        lines.push_back({pos, end, next});
        pos = next;
    }
    return lines;
}

// The section name when the line is a header.
std::optional<std::string_view> SectionOf(std::string_view text) {
    text = Trim(text);
    if (text.empty() || text.front() != '[')
        return std::nullopt;
    text.remove_prefix(1);
    const size_t close = text.find(']');
    return Trim(close == std::string_view::npos ? text : text.substr(0, close));
}

struct KeyLine {
    std::string_view key;
    std::string_view value;
};

std::optional<KeyLine> KeyOf(std::string_view text) {
    const std::string_view trimmed = Trim(text);
    if (trimmed.empty() || trimmed.front() == ';' || trimmed.front() == '#')
        return std::nullopt;
    const size_t eq = text.find('=');
    if (eq == std::string_view::npos)
        return std::nullopt;
    std::string_view value = Trim(text.substr(eq + 1));
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
        value = value.substr(1, value.size() - 2);
    return KeyLine{Trim(text.substr(0, eq)), value};
}

// Where a key lives in the text: its line, or the last line of its section.
struct Location {
    std::optional<size_t> keyLine;
    std::optional<size_t> sectionLastLine;  // last non-blank line of the first matching section
};

Location Locate(std::string_view content, const std::vector<Line>& lines, std::string_view section,
                std::string_view key) {
    Location where;
    bool inSection = false;
    bool inFirstSection = false;
    for (size_t i = 0; i < lines.size(); ++i) {
        const std::string_view text = content.substr(lines[i].begin, lines[i].end - lines[i].begin);
        if (auto name = SectionOf(text)) {
            inSection = EqualsNoCase(*name, section);
            inFirstSection = inSection && !where.sectionLastLine;
            if (inFirstSection)
                where.sectionLastLine = i;
            continue;
        }
        if (!inSection)
            continue;
        if (inFirstSection && !Trim(text).empty())
            where.sectionLastLine = i;
        if (auto entry = KeyOf(text); entry && EqualsNoCase(entry->key, key)) {
            where.keyLine = i;
            return where;
        }
    }
    return where;
}

std::string_view LineEnding(std::string_view content) {
    const size_t nl = content.find('\n');
    if (nl == std::string_view::npos)
        return "\r\n";
    return (nl > 0 && content[nl - 1] == '\r') ? "\r\n" : "\n";
}

bool Usable(std::string_view name, char forbidden) {
    return !Trim(name).empty() && name.find_first_of("\r\n") == std::string_view::npos &&
           name.find(forbidden) == std::string_view::npos;
}

std::mutex& WriteMutex() {
    static std::mutex* mutex = new std::mutex;
    return *mutex;
}

}  // namespace

std::optional<std::string> IniFile::Find(std::string_view content, std::string_view section,
                                         std::string_view key) {
    const std::vector<Line> lines = SplitLines(content);
    const Location where = Locate(content, lines, Trim(section), Trim(key));
    if (!where.keyLine)
        return std::nullopt;
    const Line& line = lines[*where.keyLine];
    return std::string(KeyOf(content.substr(line.begin, line.end - line.begin))->value);
}

std::string IniFile::Set(std::string_view content, std::string_view section, std::string_view key,
                         std::string_view value) {
    section = Trim(section);
    key = Trim(key);
    // A line break in a value would smuggle in lines of its own.
    std::string cleanValue(Trim(value));
    for (char& c : cleanValue)
        if (c == '\r' || c == '\n')
            c = ' ';

    const std::vector<Line> lines = SplitLines(content);
    const Location where = Locate(content, lines, section, key);
    const std::string_view eol = LineEnding(content);
    std::string out;
    out.reserve(content.size() + key.size() + cleanValue.size() + section.size() + 8);

    if (where.keyLine) {
        const Line& line = lines[*where.keyLine];
        const std::string_view storedKey = KeyOf(content.substr(line.begin, line.end - line.begin))->key;
        out.append(content.substr(0, line.begin));
        out.append(storedKey).append("=").append(cleanValue);
        out.append(content.substr(line.end));
        return out;
    }
    if (where.sectionLastLine) {
        const Line& line = lines[*where.sectionLastLine];
        out.append(content.substr(0, line.next));
        if (line.next == line.end)
            out.append(eol);  // the section ends the file without a line end
        out.append(key).append("=").append(cleanValue).append(eol);
        out.append(content.substr(line.next));
        return out;
    }
    out.append(content);
    if (!out.empty() && out.back() != '\n')
        out.append(eol);
    out.append("[").append(section).append("]").append(eol);
    out.append(key).append("=").append(cleanValue).append(eol);
    return out;
}

std::optional<std::string> IniFile::Read(const std::string& path, std::string_view section,
                                         std::string_view key) {
    const std::optional<std::string> content = platform::ReadWholeFile(path, kMaxFileSize);
    if (!content)
        return std::nullopt;
    return Find(*content, section, key);
}

bool IniFile::Write(const std::string& path, std::string_view section, std::string_view key,
                    std::string_view value) {
    if (!Usable(section, ']') || !Usable(key, '='))
        return false;
    std::lock_guard lock(WriteMutex());
    std::string content;
    if (platform::PathExists(path)) {
        std::optional<std::string> existing = platform::ReadWholeFile(path, kMaxFileSize);
        if (!existing)
            return false;  // never replace what could not be read
        content = std::move(*existing);
    }
    return platform::WriteFileAtomic(path, Set(content, section, key, value), 0644);
}
