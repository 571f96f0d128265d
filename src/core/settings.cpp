#include "core/settings.h"

#include "core/ini_file.h"
#include "core/paths.h"
#include "core/text_convert.h"
#include "platform/file_ops.h"
#include "platform/process_info.h"

#include <climits>

namespace {

constexpr char kSection[] = "Parlatto";

std::wstring CutToCapacity(std::wstring text, int capacity) {
    if (capacity <= 0)
        return {};
    if (text.size() > static_cast<size_t>(capacity - 1))
        text.resize(static_cast<size_t>(capacity - 1));
    return text;
}

std::wstring ReadString(const std::string& path, const std::wstring& key, const std::wstring& defaultValue,
                        int capacity) {
    const auto value = IniFile::Read(path, kSection, WideToUtf8(key));
    return CutToCapacity(value ? AnsiToWide(*value) : defaultValue, capacity);
}

}  // namespace

int ParseConfigInt(const std::string& text) {
    size_t i = text.find_first_not_of(" \t");
    if (i == std::string::npos)
        return 0;
    bool negative = false;
    if (text[i] == '-' || text[i] == '+')
        negative = text[i++] == '-';
    long long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > static_cast<long long>(INT_MAX) + 1)
            break;
    }
    if (negative)
        value = -value;
    if (value > INT_MAX)
        return INT_MAX;
    if (value < INT_MIN)
        return INT_MIN;
    return static_cast<int>(value);
}

int ReadConfigInt(const std::wstring& key, int defaultValue) {
    const auto value = IniFile::Read(WideToAnsi(PubUtils::GetConfigPath(false)), kSection, WideToUtf8(key));
    if (!value || value->empty())
        return defaultValue;
    return ParseConfigInt(*value);
}

std::wstring ReadConfigString(const std::wstring& key, const std::wstring& defaultValue, int capacity) {
    return ReadString(WideToAnsi(PubUtils::GetConfigPath(false)), key, defaultValue, capacity);
}

void WriteConfigString(const std::wstring& key, const std::wstring& value) {
    const std::string k = WideToUtf8(key);
    const std::string v = WideToUtf8(value);
    IniFile::Write(WideToAnsi(PubUtils::GetConfigPath(false)), kSection, k, v);
    const std::string mirror = WideToAnsi(PubUtils::GetConfigPath(true));
    if (platform::IsDirectory(mirror.substr(0, mirror.find_last_of('/'))))
        IniFile::Write(mirror, kSection, k, v);
}

void WriteConfigInt(const std::wstring& key, int value) {
    WriteConfigString(key, std::to_wstring(value));
}

std::wstring ReadUpdateConfigString(const std::wstring& key, const std::wstring& defaultValue, int capacity) {
    const std::string home = platform::UserDataHome();
    const std::string path =
        home.empty() ? std::string("/config.ini") : home + "/" + PubUtils::kAppName + "/config.ini";
    return ReadString(path, key, defaultValue, capacity);
}
