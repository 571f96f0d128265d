#include "app/key_file.h"

#include "core/logger.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <sstream>

namespace PubUtils {
namespace {

constexpr std::size_t kMaxKeyFileSize = 1 << 20;

std::vector<std::string> Words(const std::string& line) {
    std::istringstream in(line);
    std::vector<std::string> words;
    for (std::string w; in >> w;)
        words.push_back(w);
    return words;
}

}  // namespace

std::vector<KeyPair> ReadKeyFile(const std::string& path) {
    std::vector<KeyPair> keys;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) {
        if (errno != ENOENT)
            Log(Warning, "PubUtils::ReadKeyFile", "cannot open key file %s", path.c_str());
        errno = 0;
        return keys;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || (st.st_mode & 077) != 0 ||
        st.st_uid != ::geteuid() || st.st_size > static_cast<off_t>(kMaxKeyFileSize)) {
        ::close(fd);
        Log(Warning, "PubUtils::ReadKeyFile",
            "key file %s ignored: it must be a file of this user with mode 0600 (chmod 600)", path.c_str());
        return keys;
    }
    std::string content(static_cast<size_t>(st.st_size), '\0');
    size_t got = 0;
    while (got < content.size()) {
        const ssize_t n = ::read(fd, content.data() + got, content.size() - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        got += static_cast<size_t>(n);
    }
    ::close(fd);
    content.resize(got);

    std::istringstream lines(content);
    int number = 0;
    for (std::string line; std::getline(lines, line);) {
        ++number;
        const std::vector<std::string> words = Words(line);
        if (words.empty() || words[0][0] == '#')
            continue;
        if (words.size() != 2) {
            Log(Warning, "PubUtils::ReadKeyFile", "key file line %d skipped: expected API_KEY SECRET_KEY",
                number);
            continue;
        }
        keys.push_back({words[0], words[1]});
    }
    return keys;
}

}  // namespace PubUtils
