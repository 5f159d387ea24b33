#include "url.h"

#include <cctype>

namespace qb::cli {

namespace {

int HexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
}

bool StartsWithNoCase(const std::string& text, const char* prefix) {
    for (std::size_t i = 0; prefix[i]; ++i) {
        if (i >= text.size() || std::tolower(static_cast<unsigned char>(text[i])) != prefix[i]) {
            return false;
        }
    }
    return true;
}

} // namespace

bool PercentDecode(const std::string& in, std::string& out) {
    out.clear();
    for (std::size_t i = 0; i < in.size(); ++i) {
        if (in[i] != '%') {
            out += in[i];
            continue;
        }
        if (i + 2 >= in.size()) {
            return false;
        }
        const int hi = HexValue(in[i + 1]);
        const int lo = HexValue(in[i + 2]);
        if (hi < 0 || lo < 0) {
            return false;
        }
        out += static_cast<char>(hi * 16 + lo);
        i += 2;
    }
    return true;
}

bool IsFtpUrl(const std::string& text) {
    return StartsWithNoCase(text, "ftp://") || StartsWithNoCase(text, "ftps://");
}

bool ParseFtpUrl(const std::string& text, FtpUrl& url, std::string& error) {
    url = FtpUrl{};
    if (!IsFtpUrl(text)) {
        error = "not an ftp:// URL: " + text;
        return false;
    }
    // ftps:// is implicit TLS, on port 990 unless the URL says otherwise.
    url.implicitTls = StartsWithNoCase(text, "ftps://");
    if (url.implicitTls) {
        url.port = 990;
    }
    std::string rest = text.substr(url.implicitTls ? 7 : 6);
    const auto slash = rest.find('/');
    std::string authority = rest.substr(0, slash);
    std::string path = slash == std::string::npos ? std::string() : rest.substr(slash + 1);

    const auto at = authority.rfind('@');
    if (at != std::string::npos) {
        std::string userInfo = authority.substr(0, at);
        authority.erase(0, at + 1);
        const auto colon = userInfo.find(':');
        std::string user = userInfo.substr(0, colon);
        if (!PercentDecode(user, url.user)) {
            error = "bad escape in the user name";
            return false;
        }
        if (colon != std::string::npos) {
            if (!PercentDecode(userInfo.substr(colon + 1), url.password)) {
                error = "bad escape in the password";
                return false;
            }
            url.hasPassword = true;
        }
    }
    std::string portText;
    if (!authority.empty() && authority[0] == '[') {
        const auto close = authority.find(']');
        if (close == std::string::npos) {
            error = "unterminated [ in the host";
            return false;
        }
        // A zone ("fe80::1%25eth0") comes escaped.
        if (!PercentDecode(authority.substr(1, close - 1), url.host)) {
            error = "bad escape in the host";
            return false;
        }
        std::string after = authority.substr(close + 1);
        if (!after.empty()) {
            if (after[0] != ':') {
                error = "unexpected text after the host";
                return false;
            }
            portText = after.substr(1);
        }
    } else {
        const auto colon = authority.find(':');
        if (colon != std::string::npos && authority.find(':', colon + 1) != std::string::npos) {
            error = "more than one \":\" after the host (an IPv6 address goes in brackets): " +
                    authority;
            return false;
        }
        if (!PercentDecode(authority.substr(0, colon), url.host)) {
            error = "bad escape in the host";
            return false;
        }
        if (colon != std::string::npos) {
            portText = authority.substr(colon + 1);
        }
    }
    if (url.host.empty()) {
        error = "the URL has no host";
        return false;
    }
    for (char c : url.host) {
        if (static_cast<unsigned char>(c) < 0x20 || c == '/' || c == ' ') {
            error = "the host holds a character no host name has";
            return false;
        }
    }
    if (!portText.empty()) {
        std::uint32_t port = 0;
        for (char c : portText) {
            if (!std::isdigit(static_cast<unsigned char>(c)) || port > 65535) {
                error = "bad port: " + portText;
                return false;
            }
            port = port * 10 + static_cast<std::uint32_t>(c - '0');
        }
        if (port == 0 || port > 65535) {
            error = "bad port: " + portText;
            return false;
        }
        url.port = port;
    }
    std::string decoded;
    if (!PercentDecode(path, decoded)) {
        error = "bad escape in the path";
        return false;
    }
    url.trailingSlash = !decoded.empty() && decoded.back() == '/';
    while (!decoded.empty() && decoded.back() == '/') {
        decoded.pop_back();
    }
    while (!decoded.empty() && decoded.front() == '/') {
        decoded.erase(0, 1);
    }
    if (decoded.find('\0') != std::string::npos || decoded.find('\r') != std::string::npos ||
        decoded.find('\n') != std::string::npos) {
        error = "the path holds a control character";
        return false;
    }
    url.path = decoded;
    return true;
}

std::string DisplayUrl(const FtpUrl& url) {
    std::string text = url.implicitTls ? "ftps://" : "ftp://";
    if (!url.user.empty()) {
        text += url.user + "@";
    }
    if (url.host.find(':') != std::string::npos) {
        std::string host = url.host;
        const auto zone = host.find('%');
        if (zone != std::string::npos) {
            host.insert(zone + 1, "25");
        }
        text += "[" + host + "]";
    } else {
        text += url.host;
    }
    if (url.port != (url.implicitTls ? 990u : 21u)) {
        text += ":" + std::to_string(url.port);
    }
    text += "/" + url.path;
    return text;
}

} // namespace qb::cli
