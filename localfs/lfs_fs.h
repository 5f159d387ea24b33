// File system helpers of the local workers.
#pragma once

#include "platform/types.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace qb::lfs {

// `folder` + "/" + `name`, without doubling a trailing "/".
std::string JoinPath(const std::string& folder, const std::string& name);

// The path up to its last "/" ("/" for an item of the root).
std::string ParentPath(const std::string& path);

// The path without trailing "/" (the root stays "/").
std::string TrimTrailingSlashes(std::string path);

struct FolderEntry {
    std::string name;
    bool isFolder = false; // a real folder, never a link to one
};

// Reads the entries of `folder` (without "." and ".."), never following a
// link in place of the folder itself; false when it cannot be read.
bool ReadFolder(const std::string& folder, std::vector<FolderEntry>& entries);

// Finds the first subfolder of `folder` (links are not subfolders).
bool FirstSubfolder(const std::string& folder, std::string& name);

// Gives the owner read, write and search permission on a folder that is
// about to be emptied, when it lacks any of them.
void PrepareFolderForDelete(const std::string& folder, const struct stat& st);

// The largest buffer of the read-and-write copy.
inline constexpr std::size_t kMaxBufferSize = std::size_t{1} << 20;

enum class CopyResult { Done, Cancelled, Failed };

// Copies the data of the open regular file `in` (`length` bytes long when
// opened) to `out`, from their current offsets: `length` bytes by in-kernel
// copies where the file systems allow, else up to the end of `in` by reads
// and writes through `buffer`. `cancelled` is asked before each block; `progress`
// receives the byte count after each block. On failure errno tells why.
CopyResult CopyFileData(int in, int out, FileSize length, std::size_t blockSize,
                        std::vector<char>& buffer, const std::function<bool()>& cancelled,
                        const std::function<void(FileSize copied)>& progress);

// Unique hidden names for files being written in a folder. `serial` is
// advanced on every try.
class TempNames {
public:
    TempNames();
    // Creates a new, empty, private (0600) file in `folder`; returns its
    // descriptor and sets `path`, or -1.
    int CreateFile(const std::string& folder, std::string& path);
    // Makes a symbolic link to `target` in `folder`.
    bool CreateLink(const std::string& folder, const std::string& target, std::string& path);

private:
    std::string Next(const std::string& folder);
    std::uint64_t m_nSerial;
};

} // namespace qb::lfs
