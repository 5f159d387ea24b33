#include "netrc.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace qb::cli {

namespace {

std::vector<std::string> Tokens(const std::string& text) {
    std::vector<std::string> tokens;
    std::istringstream lines(text);
    std::string line;
    bool inMacro = false;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (inMacro) {
            // A macro's body ends with an empty line.
            inMacro = !line.empty();
            continue;
        }
        std::istringstream words(line);
        std::string word;
        while (words >> word) {
            if (word == "macdef") {
                inMacro = true;
                break;
            }
            tokens.push_back(word);
        }
    }
    return tokens;
}

} // namespace

std::optional<std::string> NetrcPassword(const std::string& text, const std::string& host,
                                         const std::string& user) {
    const std::vector<std::string> tokens = Tokens(text);
    std::optional<std::string> fallback;
    for (std::size_t i = 0; i < tokens.size();) {
        const bool isDefault = tokens[i] == "default";
        if (tokens[i] != "machine" && !isDefault) {
            ++i;
            continue;
        }
        std::string machine;
        if (!isDefault) {
            machine = i + 1 < tokens.size() ? tokens[i + 1] : std::string();
            i += 2;
        } else {
            ++i;
        }
        std::string login;
        std::optional<std::string> password;
        while (i < tokens.size() && tokens[i] != "machine" && tokens[i] != "default") {
            const std::string& key = tokens[i];
            const std::string value = i + 1 < tokens.size() ? tokens[i + 1] : std::string();
            if (key == "login") {
                login = value;
            } else if (key == "password") {
                password = value;
            } else if (key != "account") {
                ++i;
                continue;
            }
            i += 2;
        }
        if (!password || login != user) {
            continue;
        }
        if (isDefault) {
            if (!fallback) {
                fallback = password;
            }
        } else if (machine == host) {
            return password;
        }
    }
    return fallback;
}

std::optional<std::string> NetrcPasswordFromFile(const std::string& path, const std::string& host,
                                                 const std::string& user, std::string& warning) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return std::nullopt;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return std::nullopt;
    }
    if ((st.st_mode & (S_IRWXG | S_IRWXO)) != 0 || st.st_uid != ::getuid()) {
        ::close(fd);
        warning = path +
                  " may be read or changed by others than its owner; it is not used "
                  "(chmod 600 " +
                  path + ")";
        return std::nullopt;
    }
    std::string text;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0 || text.size() > (1u << 20)) {
            break;
        }
        text.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return NetrcPassword(text, host, user);
}

} // namespace qb::cli
