#include "speech/text_loader.h"

#include "core/helpers.h"
#include "core/logger.h"
#include "core/paths.h"
#include "platform/file_ops.h"
#include "platform/text_codec.h"

#include <fcntl.h>
#include <iconv.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace PubUtils {
namespace {

constexpr char kCopyTag[] = "PubUtils::GetCopyByFile";
constexpr char kReadTag[] = "PubUtils::GetFileContext";
constexpr char kReplacement[] = "\xEF\xBF\xBD";

// Priority order: the first mark found in a window decides, however far back it lies.
constexpr std::string_view kBreakMarks[] = {"\r\n", "\n", "\r", "。", "；", "，", ".", ";"};

void Report(TextError* error, TextError reason) {
    if (error)
        *error = reason;
}

TextError OpenFailure(int code) {
    switch (code) {
        case ENOENT:
        case ENOTDIR:
            return TextError::Missing;
        case EISDIR:
            return TextError::NotAFile;
        default:
            return TextError::Unreadable;
    }
}

// O_NONBLOCK: opening a FIFO must not wait for a writer; it is refused right after by fstat.
int OpenForReading(const std::string& path) {
    return ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
}

// Copies the bytes of the open source into a temporary file of the folder and renames it over
// target, so that a reader never sees half a copy. Leaves errno set on failure.
bool CopyInto(int in, const std::string& folder, const std::string& target) {
    std::string temporary = folder + "/.input-XXXXXX";
    const int out = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (out < 0)
        return false;
    bool ok = true;
    std::string buffer(1 << 16, '\0');
    for (;;) {
        const ssize_t n = ::read(in, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            ok = n == 0;
            break;
        }
        if (!platform::WriteAll(out, buffer.data(), static_cast<std::size_t>(n))) {
            ok = false;
            break;
        }
    }
    ok = ::close(out) == 0 && ok;
    ok = ok && ::rename(temporary.c_str(), target.c_str()) == 0;
    if (!ok) {
        const int cause = errno;
        ::unlink(temporary.c_str());
        errno = cause;
    }
    return ok;
}

std::string Utf16ToUtf8(std::string_view bytes, bool littleEndian) {
    const auto unit = [&](std::size_t k) -> std::uint32_t {
        const auto first = static_cast<unsigned char>(bytes[2 * k]);
        const auto second = static_cast<unsigned char>(bytes[2 * k + 1]);
        return littleEndian ? first | second << 8 : first << 8 | second;
    };
    const std::size_t units = bytes.size() / 2;
    std::string out;
    out.reserve(units * 3 + 3);
    for (std::size_t k = 0; k < units; ++k) {
        std::uint32_t cp = unit(k);
        if (cp >= 0xD800 && cp <= 0xDBFF && k + 1 < units && unit(k + 1) >= 0xDC00 && unit(k + 1) <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (unit(k + 1) - 0xDC00);
            ++k;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = 0xFFFD;
        }
        platform::AppendUtf8(out, cp);
    }
    if (bytes.size() % 2 != 0)
        out += kReplacement;
    return out;
}

std::string Gb18030ToUtf8(const std::string& text) {
    const iconv_t cd = ::iconv_open("UTF-8", "GB18030");
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        Log(Warning, "PubUtils::ToUtf8Text", "iconv_open GB18030 failed");
        // Still hand on valid UTF-8: every invalid byte becomes U+FFFD.
        return platform::WideToUtf8(platform::Utf8ToWide(text));
    }
    // Two GB18030 bytes become at most three UTF-8 bytes; E2BIG grows the rest.
    std::string out(text.size() / 2 * 3 + 16, '\0');
    char* in = const_cast<char*>(text.data());
    std::size_t inLeft = text.size();
    std::size_t used = 0;
    while (inLeft > 0) {
        char* outPtr = out.data() + used;
        std::size_t outLeft = out.size() - used;
        const std::size_t result = ::iconv(cd, &in, &inLeft, &outPtr, &outLeft);
        used = static_cast<std::size_t>(outPtr - out.data());
        if (result != static_cast<std::size_t>(-1))
            break;
        if (errno == E2BIG) {
            out.resize(out.size() * 2);
            continue;
        }
        // An invalid or truncated sequence: its first byte becomes U+FFFD, decoding resumes after
        // it, so a stray byte never swallows the character behind it.
        if (out.size() - used < 3)
            out.resize(out.size() * 2);
        std::memcpy(out.data() + used, kReplacement, 3);
        used += 3;
        ++in;
        --inLeft;
    }
    ::iconv_close(cd);
    out.resize(used);
    return out;
}

// Start of the last occurrence of the mark that starts at an offset of at most kPieceBytes.
std::size_t LastMarkStart(std::string_view rest, std::string_view mark) {
    if (rest.size() < mark.size())
        return std::string_view::npos;
    std::size_t candidates = std::min(kPieceBytes, rest.size() - mark.size()) + 1;
    const char* base = rest.data();
    while (candidates > 0) {
        const void* hit = ::memrchr(base, mark[0], candidates);
        if (!hit)
            break;
        const auto at = static_cast<std::size_t>(static_cast<const char*>(hit) - base);
        if (std::memcmp(base + at + 1, mark.data() + 1, mark.size() - 1) == 0)
            return at;
        candidates = at;
    }
    return std::string_view::npos;
}

}  // namespace

const char* TextErrorText(TextError error) {
    switch (error) {
        case TextError::None:
            return "";
        case TextError::Missing:
            return "file not found";
        case TextError::Unreadable:
            return "cannot be read (permission denied)";
        case TextError::NotAFile:
            return "is a folder or device, not a text file";
        case TextError::TooBig:
            return "is larger than 10 MiB";
        case TextError::Empty:
            return "is empty";
        case TextError::NoBreakMark:
            return "has 1000 bytes without a line break or punctuation mark";
        case TextError::CopyFailed:
            return "could not be copied into the work folder";
    }
    return "";
}

const wchar_t* TextErrorTextZh(TextError error) {
    switch (error) {
        case TextError::None:
            return L"";
        case TextError::Missing:
            return L"文件不存在";
        case TextError::Unreadable:
            return L"文件无法读取（没有权限）";
        case TextError::NotAFile:
            return L"不是文本文件（是文件夹或设备）";
        case TextError::TooBig:
            return L"文件超过 10 MiB";
        case TextError::Empty:
            return L"文件是空的";
        case TextError::NoBreakMark:
            return L"有一段 1000 字节的文字没有换行或标点，无法分段";
        case TextError::CopyFailed:
            return L"无法复制到工作文件夹";
    }
    return L"";
}

std::string GetCopyByFile(const std::string& source, TextError* error) {
    Report(error, TextError::None);
    if (source.size() < 4) {
        Report(error, source.empty() ? TextError::Missing : TextError::CopyFailed);
        return {};
    }
    const std::string folder = GetTempDir() + "/" + Md5Hex(source);
    std::string suffix = source.substr(source.size() - 4);
    std::replace(suffix.begin(), suffix.end(), '/', '_');
    const std::string copy = folder + "/input" + suffix;

    TextError reason = TextError::CopyFailed;
    int cause = 0;
    const int in = OpenForReading(source);
    struct stat st {};
    if (in < 0) {
        cause = errno;
        reason = OpenFailure(cause);
    } else if (::fstat(in, &st) != 0) {
        cause = errno;
        reason = TextError::Unreadable;
    } else if (!S_ISREG(st.st_mode)) {
        cause = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
        reason = TextError::NotAFile;
    } else if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        cause = errno;
    } else if (!platform::IsDirectory(folder)) {
        cause = ENOTDIR;
    } else if (!CopyInto(in, folder, copy)) {
        cause = errno;
    } else {
        ::close(in);
        return copy;
    }
    if (in >= 0)
        ::close(in);
    Report(error, reason);
    const std::string message = "CopyFileA failed. " + source + " to " + copy;
    errno = cause;
    Log(Error, kCopyTag, "%s", message.c_str());
    return {};
}

bool GetFileContext(const std::string& path, std::string& text, TextError* error) {
    Report(error, TextError::None);
    text.clear();
    const int fd = OpenForReading(path);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        Report(error, fd < 0 ? OpenFailure(errno) : TextError::NotAFile);
        if (fd >= 0)
            ::close(fd);
        Log(Warning, kReadTag, "fopen %s failed", path.c_str());
        return false;
    }
    if (static_cast<std::uint64_t>(st.st_size) > kMaxTextBytes) {
        ::close(fd);
        Report(error, TextError::TooBig);
        Log(Warning, kReadTag, "file %s is too big. %lld", path.c_str(), static_cast<long long>(st.st_size));
        return false;
    }
    // One byte beyond the size: a file that grew since fstat is noticed without a second pass.
    std::string data(static_cast<std::size_t>(st.st_size) + 1, '\0');
    std::size_t got = 0;
    bool ok = true;
    while (got <= kMaxTextBytes) {
        if (got == data.size())
            data.resize(std::min(got * 2, kMaxTextBytes + 1));
        const ssize_t n = ::read(fd, data.data() + got, data.size() - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            ok = n == 0;
            break;
        }
        got += static_cast<std::size_t>(n);
    }
    ::close(fd);
    if (!ok) {
        Report(error, TextError::Unreadable);
        Log(Warning, kReadTag, "read %s failed", path.c_str());
        return false;
    }
    if (got > kMaxTextBytes) {
        Report(error, TextError::TooBig);
        Log(Warning, kReadTag, "file %s is too big. %lld", path.c_str(), static_cast<long long>(got));
        return false;
    }
    data.resize(got);
    text = std::move(data);
    return true;
}

bool ToUtf8Text(std::string& text) {
    if (platform::IsValidUtf8(text))
        return false;
    const std::string_view view(text);
    if (view.starts_with("\xFF\xFE"))
        text = Utf16ToUtf8(view.substr(2), true);
    else if (view.starts_with("\xFE\xFF"))
        text = Utf16ToUtf8(view.substr(2), false);
    else
        text = Gb18030ToUtf8(text);
    return true;
}

bool SplitText(const std::string& text, std::vector<std::string>& pieces) {
    pieces.clear();
    if (text.empty())
        return false;
    pieces.reserve(text.size() / kPieceBytes + 1);
    std::string_view rest(text);
    while (!rest.empty()) {
        if (rest.size() < kPieceBytes) {
            pieces.emplace_back(rest);
            break;
        }
        std::size_t end = std::string_view::npos;
        for (const std::string_view mark : kBreakMarks) {
            const std::size_t at = LastMarkStart(rest, mark);
            if (at != std::string_view::npos) {
                end = at + mark.size();
                break;
            }
        }
        if (end == std::string_view::npos) {
            pieces.clear();
            return false;
        }
        pieces.emplace_back(rest.substr(0, end));
        rest.remove_prefix(end);
    }
    return true;
}

TextError SplitFailure(const std::string& text) {
    return text.empty() ? TextError::Empty : TextError::NoBreakMark;
}

}  // namespace PubUtils
