#include "platform/local_file.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace qb {

bool LocalFile::Open(const std::string& path, Mode mode, bool noFollow) {
    Close();
    int flags = O_CLOEXEC | (noFollow ? O_NOFOLLOW : 0);
    switch (mode) {
    case Mode::Read:
        // A FIFO would make open() wait for its writer.
        flags |= O_RDONLY | O_NONBLOCK;
        break;
    case Mode::CreateWrite:
        flags |= O_WRONLY | O_CREAT | O_TRUNC;
        break;
    case Mode::ReadWrite:
        flags |= O_RDWR;
        break;
    case Mode::CreateExclusive:
        flags |= O_WRONLY | O_CREAT | O_EXCL;
        break;
    }
    mode_t perms = mode == Mode::CreateExclusive ? 0600 : 0666;
    int fd = ::open(path.c_str(), flags, perms);
    if (fd < 0) {
        return false;
    }
    m_fd = fd;
    m_path = path;
    return true;
}

bool LocalFile::IsRegular() const {
    struct stat st {};
    return m_fd >= 0 && ::fstat(m_fd, &st) == 0 && S_ISREG(st.st_mode);
}

bool LocalFile::Truncate(FileSize length) {
    return m_fd >= 0 && ::ftruncate(m_fd, static_cast<off_t>(length)) == 0;
}

bool LocalFile::OpenDuplicate(int fd, const std::string& name) {
    Close();
    m_fd = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (m_fd < 0) {
        return false;
    }
    m_path = name;
    return true;
}

void LocalFile::Close() {
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

long long LocalFile::Read(void* data, std::size_t size) {
    std::size_t got = 0;
    auto* p = static_cast<char*>(data);
    while (got < size) {
        ssize_t n = ::read(m_fd, p + got, size - got);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return -1;
        }
        if (n == 0) {
            break;
        }
        got += static_cast<std::size_t>(n);
    }
    return static_cast<long long>(got);
}

bool LocalFile::WriteAll(const void* data, std::size_t size) {
    std::size_t done = 0;
    const auto* p = static_cast<const char*>(data);
    while (done < size) {
        ssize_t n = ::write(m_fd, p + done, size - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

bool LocalFile::Seek(FileSize offset) {
    return ::lseek(m_fd, static_cast<off_t>(offset), SEEK_SET) != static_cast<off_t>(-1);
}

bool LocalFile::Length(FileSize& out) const {
    struct stat st {};
    if (::fstat(m_fd, &st) != 0) {
        return false;
    }
    out = static_cast<FileSize>(st.st_size);
    return true;
}

std::string PrivateTempFolder() {
    const char* base = std::getenv("TMPDIR");
    std::string root = (base && *base) ? base : "/tmp";
    std::string folder = root + "/quillbeck-" + std::to_string(::getuid());
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        return {};
    }
    // The folder must be ours and private, not one planted by someone else.
    struct stat st {};
    if (::lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::getuid() ||
        (st.st_mode & 0077) != 0) {
        return {};
    }
    return folder;
}

std::string MakeTempFile(const std::string& prefix) {
    std::string folder = PrivateTempFolder();
    if (folder.empty()) {
        return {};
    }
    std::string pattern = folder + "/" + prefix + "XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    int fd = ::mkostemp(buffer.data(), O_CLOEXEC); // O_EXCL, mode 0600
    if (fd < 0) {
        return {};
    }
    ::close(fd);
    return std::string(buffer.data());
}

namespace {

// The process's umask, read without changing it.
mode_t CurrentUmask() {
    std::FILE* status = std::fopen("/proc/self/status", "re");
    mode_t mask = 022;
    if (status) {
        char line[256];
        while (std::fgets(line, sizeof line, status)) {
            unsigned value = 0;
            if (std::sscanf(line, "Umask: %o", &value) == 1) {
                mask = static_cast<mode_t>(value);
                break;
            }
        }
        std::fclose(status);
    }
    return mask;
}

} // namespace

std::string MakeSiblingFile(const std::string& folder, const std::string& stem) {
    std::string path = folder + "/." + stem + "-XXXXXX";
    const int fd = ::mkostemp(path.data(), O_CLOEXEC);
    if (fd < 0) {
        return {};
    }
    ::fchmod(fd, 0666 & ~CurrentUmask());
    ::close(fd);
    return path;
}

} // namespace qb
