// The locations qbftp works with: ftp:// URLs and local paths.
#pragma once

#include "engine/options.h"

#include <cstdint>
#include <string>

namespace qb::cli {

struct FtpUrl {
    std::string user;     // empty: anonymous
    std::string password; // from the URL; usually not given there
    bool hasPassword = false;
    std::string host;
    std::uint32_t port = 21;
    // The path relative to the login folder, "/"-separated, without leading
    // or trailing "/"; "" is the login folder itself.
    std::string path;
    bool trailingSlash = false; // the URL named a folder ("/pub/")
    bool implicitTls = false;   // an ftps:// URL
    // Set for a stored site: how it connects, and its login folder.
    FirewallSettings firewall;
    bool hasFirewall = false;
    std::string loginFolder;
};

// Parses ftp://[user[:password]@]host[:port]/path (percent escapes are
// decoded; an IPv6 host goes in brackets), and ftps:// the same (implicit
// TLS, port 990 by default). False with a reason on error.
bool ParseFtpUrl(const std::string& text, FtpUrl& url, std::string& error);

// Whether an argument is an ftp:// or ftps:// URL (as opposed to a local
// path).
bool IsFtpUrl(const std::string& text);

// The URL as it may be shown: never with its password.
std::string DisplayUrl(const FtpUrl& url);

// Decodes %XX escapes; false on a malformed escape.
bool PercentDecode(const std::string& in, std::string& out);

} // namespace qb::cli
