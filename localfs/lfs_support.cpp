#include "localfs/lfs_support.h"

#include "engine/frontend.h"

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace qb {

namespace {

bool MakeFolder(const std::string& path, INotifier* notifier) {
    if (::mkdir(path.c_str(), 0777) != 0) {
        return false;
    }
    if (notifier) {
        notifier->NotifyLocalFolderCreated(path);
    }
    return true;
}

} // namespace

bool EnsureLocalFolder(const std::string& path, INotifier* notifier) {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) {
        return S_ISDIR(st.st_mode);
    }
    return MakeFolder(path, notifier) || CreateLocalFolderPath(path, notifier);
}

bool CreateLocalFolderPath(const std::string& path, INotifier* notifier) {
    // The parts between the "/"s; empty ones (a leading or doubled "/") only
    // join.
    std::string prefix;
    std::size_t parts = 0;
    std::size_t start = 0;
    bool absolute = !path.empty() && path.front() == '/';
    while (start <= path.size()) {
        std::size_t end = path.find('/', start);
        if (end == std::string::npos) {
            end = path.size();
        }
        std::string part = path.substr(start, end - start);
        start = end + 1;
        if (part.empty()) {
            continue;
        }
        ++parts;
        prefix += (prefix.empty() && !absolute) ? part : "/" + part;
        struct stat st {};
        if (::stat(prefix.c_str(), &st) == 0) {
            if (!S_ISDIR(st.st_mode)) {
                return false;
            }
            continue;
        }
        if (!MakeFolder(prefix, notifier) && errno != EEXIST) {
            return false;
        }
    }
    return parts > 0;
}

bool DeleteLocalFile(const std::string& path, INotifier* notifier) {
    if (::unlink(path.c_str()) != 0) {
        return false;
    }
    if (notifier) {
        notifier->NotifyLocalFileDeleted(path);
    }
    return true;
}

bool RemoveLocalFolder(const std::string& path, INotifier* notifier) {
    if (::rmdir(path.c_str()) != 0) {
        return false;
    }
    if (notifier) {
        notifier->NotifyLocalFolderDeleted(path);
    }
    return true;
}

} // namespace qb
