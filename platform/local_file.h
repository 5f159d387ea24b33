// An open local file owned by whoever holds it.
#pragma once

#include "platform/types.h"

#include <cstddef>
#include <string>

namespace qb {

class LocalFile {
public:
    enum class Mode {
        Read,           // existing file, read only; never waits to open (a FIFO)
        CreateWrite,    // create or truncate, write only
        ReadWrite,      // existing file, read and write (resume)
        CreateExclusive // new file that must not exist yet (mode 0600)
    };

    LocalFile() = default;
    ~LocalFile() { Close(); }
    LocalFile(const LocalFile&) = delete;
    LocalFile& operator=(const LocalFile&) = delete;

    // Opens `path`; false with errno set on failure. With `noFollow` a
    // symbolic link at `path` is refused rather than followed.
    bool Open(const std::string& path, Mode mode, bool noFollow = false);
    // Takes a duplicate of the open descriptor `fd` (standard output, say),
    // written from where it stands; false with errno set on failure.
    bool OpenDuplicate(int fd, const std::string& name);
    void Close();
    bool IsOpen() const { return m_fd >= 0; }
    int Fd() const { return m_fd; }
    const std::string& Path() const { return m_path; }

    // Full reads and writes; -1 on error.
    long long Read(void* data, std::size_t size);
    bool WriteAll(const void* data, std::size_t size);
    bool Seek(FileSize offset);
    bool Length(FileSize& out) const;
    // A regular file (not a pipe, a FIFO or a device).
    bool IsRegular() const;
    bool Truncate(FileSize length);

private:
    int m_fd = -1;
    std::string m_path;
};

// The per-user private folder for temporary files (created mode 0700 under
// $TMPDIR or /tmp); empty when it cannot be had.
std::string PrivateTempFolder();

// Creates a new empty file with a unique name in the private temporary
// folder, exclusively and with mode 0600; returns its path, or "" on failure.
std::string MakeTempFile(const std::string& prefix);

// Creates a new empty file with a unique hidden name in `folder` that starts
// with `stem`, exclusively, with the permissions a new file gets (0666 less
// the umask); returns its path, or "" (errno set) on failure.
std::string MakeSiblingFile(const std::string& folder, const std::string& stem);

} // namespace qb
