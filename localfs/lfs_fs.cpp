#include "localfs/lfs_fs.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <dirent.h>
#include <fcntl.h>
#include <sys/sendfile.h>
#include <unistd.h>

namespace qb::lfs {

namespace {

// Closes a folder stream when it goes out of scope.
struct FolderStream {
    DIR* dir = nullptr;
    explicit FolderStream(const std::string& folder) {
        int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd >= 0) {
            dir = ::fdopendir(fd);
            if (!dir) {
                ::close(fd);
            }
        }
    }
    ~FolderStream() {
        if (dir) {
            ::closedir(dir);
        }
    }
    FolderStream(const FolderStream&) = delete;
    FolderStream& operator=(const FolderStream&) = delete;
};

bool IsDotOrDotDot(const char* name) {
    return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

bool EntryIsFolder(DIR* dir, const dirent* entry) {
    if (entry->d_type != DT_UNKNOWN) {
        return entry->d_type == DT_DIR;
    }
    struct stat st {};
    return ::fstatat(::dirfd(dir), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
           S_ISDIR(st.st_mode);
}

bool WriteAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            if (n == 0) {
                errno = EIO;
            }
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// The in-kernel copy cannot be used for this pair of files; reading and
// writing still can.
bool KernelCopyUnsupported(int error) {
    return error == EXDEV || error == EINVAL || error == ENOSYS || error == EOPNOTSUPP ||
           error == ENOTSUP || error == EBADF || error == EPERM || error == ETXTBSY;
}

} // namespace

std::string JoinPath(const std::string& folder, const std::string& name) {
    if (!folder.empty() && folder.back() == '/') {
        return folder + name;
    }
    return folder + "/" + name;
}

std::string ParentPath(const std::string& path) {
    auto pos = path.find_last_of('/');
    if (pos == std::string::npos) {
        return {};
    }
    return pos == 0 ? std::string("/") : path.substr(0, pos);
}

std::string TrimTrailingSlashes(std::string path) {
    while (path.size() > 1 && path.back() == '/') {
        path.pop_back();
    }
    return path;
}

bool ReadFolder(const std::string& folder, std::vector<FolderEntry>& entries) {
    entries.clear();
    FolderStream stream(folder);
    if (!stream.dir) {
        return false;
    }
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(stream.dir);
        if (!entry) {
            return errno == 0;
        }
        if (IsDotOrDotDot(entry->d_name)) {
            continue;
        }
        entries.push_back({entry->d_name, EntryIsFolder(stream.dir, entry)});
    }
}

bool FirstSubfolder(const std::string& folder, std::string& name) {
    FolderStream stream(folder);
    if (!stream.dir) {
        return false;
    }
    while (const dirent* entry = ::readdir(stream.dir)) {
        if (!IsDotOrDotDot(entry->d_name) && EntryIsFolder(stream.dir, entry)) {
            name = entry->d_name;
            return true;
        }
    }
    return false;
}

void PrepareFolderForDelete(const std::string& folder, const struct stat& st) {
    if (S_ISDIR(st.st_mode) && (st.st_mode & S_IRWXU) != S_IRWXU) {
        ::chmod(folder.c_str(), (st.st_mode & 07777) | S_IRWXU);
    }
}

CopyResult CopyFileData(int in, int out, FileSize length, std::size_t blockSize,
                        std::vector<char>& buffer, const std::function<bool()>& cancelled,
                        const std::function<void(FileSize copied)>& progress) {
    if (blockSize == 0) {
        blockSize = 1;
    }
    // Files that report no length (as some kernel files do) are read.
    enum class Way { CopyRange, SendFile, ReadWrite };
    Way way = length > 0 ? Way::CopyRange : Way::ReadWrite;
    FileSize copied = 0;
    for (;;) {
        if (cancelled()) {
            return CopyResult::Cancelled;
        }
        ssize_t n = 0;
        if (way == Way::CopyRange || way == Way::SendFile) {
            n = way == Way::CopyRange ? ::copy_file_range(in, nullptr, out, nullptr, blockSize, 0)
                                      : ::sendfile(out, in, nullptr, blockSize);
            if (n < 0) {
                if (errno == EINTR) {
                    continue;
                }
                if (!KernelCopyUnsupported(errno)) {
                    return CopyResult::Failed;
                }
                way = way == Way::CopyRange ? Way::SendFile : Way::ReadWrite;
                continue;
            }
            if (n == 0) {
                if (copied >= length) {
                    return CopyResult::Done;
                }
                // Stopped short of the length: let reads find the true end.
                way = Way::ReadWrite;
                continue;
            }
        } else {
            if (buffer.empty()) {
                buffer.resize(std::min(blockSize, kMaxBufferSize));
            }
            n = ::read(in, buffer.data(), buffer.size());
            if (n < 0) {
                if (errno == EINTR) {
                    continue;
                }
                return CopyResult::Failed;
            }
            if (n == 0) {
                return CopyResult::Done;
            }
            if (!WriteAll(out, buffer.data(), static_cast<std::size_t>(n))) {
                return CopyResult::Failed;
            }
        }
        copied += static_cast<FileSize>(n);
        progress(copied);
        // The in-kernel copies stop at the length the file had when opened.
        if (way != Way::ReadWrite && copied >= length) {
            return CopyResult::Done;
        }
    }
}

TempNames::TempNames()
    : m_nSerial(
          static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
          (static_cast<std::uint64_t>(::getpid()) << 40)) {}

std::string TempNames::Next(const std::string& folder) {
    // A 64-bit mix of the serial, so that names from one run do not follow
    // each other visibly.
    std::uint64_t x = ++m_nSerial;
    x ^= x >> 33;
    x *= 0xff51afd7ed558ccdULL;
    x ^= x >> 33;
    static constexpr char kHex[] = "0123456789abcdef";
    std::string name = ".qb-";
    for (int shift = 60; shift >= 0; shift -= 4) {
        name.push_back(kHex[(x >> shift) & 0xf]);
    }
    name += ".part";
    return JoinPath(folder, name);
}

int TempNames::CreateFile(const std::string& folder, std::string& path) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        path = Next(folder);
        int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd >= 0 || errno != EEXIST) {
            return fd;
        }
    }
    return -1;
}

bool TempNames::CreateLink(const std::string& folder, const std::string& target,
                           std::string& path) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        path = Next(folder);
        if (::symlink(target.c_str(), path.c_str()) == 0) {
            return true;
        }
        if (errno != EEXIST) {
            return false;
        }
    }
    return false;
}

} // namespace qb::lfs
