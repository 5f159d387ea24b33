#include "profile/profile_path.h"

#include <cstdlib>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace qb {

namespace {

bool IsAbsolute(const char* path) {
    return path != nullptr && path[0] == '/';
}

std::string ExecutablePath() {
    std::vector<char> buf(4096);
    ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size() - 1);
    if (n <= 0) {
        return {};
    }
    return std::string(buf.data(), static_cast<std::size_t>(n));
}

std::string HomeFromPasswd() {
    struct passwd pw {};
    struct passwd* result = nullptr;
    std::vector<char> buf(16384);
    if (::getpwuid_r(::getuid(), &pw, buf.data(), buf.size(), &result) != 0 || result == nullptr ||
        !IsAbsolute(pw.pw_dir)) {
        return {};
    }
    return pw.pw_dir;
}

} // namespace

std::string DefaultProfilePath(const std::string& exePath, const char* xdgConfigHome,
                               const char* home) {
    const auto slash = exePath.rfind('/');
    if (slash != std::string::npos) {
        std::string beside = exePath.substr(0, slash + 1) + kProfileFileName;
        struct stat st {};
        if (::stat(beside.c_str(), &st) == 0) {
            return beside;
        }
    }
    if (IsAbsolute(xdgConfigHome)) {
        return std::string(xdgConfigHome) + "/quillbeck/" + kProfileFileName;
    }
    if (IsAbsolute(home)) {
        return std::string(home) + "/.config/quillbeck/" + kProfileFileName;
    }
    return {};
}

std::string DefaultProfilePath() {
    const char* home = std::getenv("HOME");
    std::string fallbackHome;
    if (!IsAbsolute(home)) {
        fallbackHome = HomeFromPasswd();
        home = fallbackHome.empty() ? nullptr : fallbackHome.c_str();
    }
    return DefaultProfilePath(ExecutablePath(), std::getenv("XDG_CONFIG_HOME"), home);
}

} // namespace qb
