// Passwords from ~/.netrc, as ftp, curl and lftp read them.
#pragma once

#include <optional>
#include <string>

namespace qb::cli {

// The password the netrc text gives for `user` on `host`: the first
// "machine HOST" entry with that login, else a "default" entry with it.
// Tokens are separated by blanks; "macdef" blocks are skipped.
std::optional<std::string> NetrcPassword(const std::string& text, const std::string& host,
                                         const std::string& user);

// Reads the file at `path` and looks the password up. A file that others
// than its owner may read or write is not used: `warning` then says why.
std::optional<std::string> NetrcPasswordFromFile(const std::string& path, const std::string& host,
                                                 const std::string& user, std::string& warning);

} // namespace qb::cli
