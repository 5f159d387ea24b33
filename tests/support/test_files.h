// Small helpers the tests share: whole files in and out, and a connection
// as remote items see it.
#pragma once

#include "engine/ftp_file.h"

#include <fstream>
#include <sstream>
#include <string>

namespace qb::test {

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

inline void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

// A connection as items see it: an id of its own and a host name.
inline SiteRef NewSite(const std::string& host) {
    static ConnectionId last = kNoConnection;
    return SiteRef{++last, host};
}

} // namespace qb::test
