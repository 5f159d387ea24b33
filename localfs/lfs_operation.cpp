#include "localfs/lfs_operation.h"

#include "localfs/lfs_fs.h"
#include "localfs/lfs_support.h"
#include "localfs/lfs_texts.h"
#include "platform/questions.h"

#include <cerrno>
#include <fcntl.h>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace qb {

namespace {

using lfs::CopyResult;

enum class Step { Continue, Stop };

// Closes a descriptor when it goes out of scope.
class FdGuard {
public:
    explicit FdGuard(int fd) : m_fd(fd) {}
    ~FdGuard() {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
    }
    FdGuard(const FdGuard&) = delete;
    FdGuard& operator=(const FdGuard&) = delete;

private:
    int m_fd;
};

// ---------------------------------------------------------------------------
// Delete

class DeleteWorker {
public:
    explicit DeleteWorker(CLFSData& data) : m_data(data) {}
    void Run();

private:
    // Deletes one file or link, asking on failure; false once the operation
    // stops.
    bool DeleteOne(const std::string& path, bool chosenFolder);
    // Deletes the files directly inside `folder`; false once the operation
    // stops.
    bool DeleteFilesIn(const std::string& folder);
    // Deletes a folder tree, deepest folders first, without recursion.
    void DeleteTree(const std::string& root);
    void Show(const std::string& path) {
        m_data.SetCurrentTexts(path);
        m_data.PostDisplay();
    }

    CLFSData& m_data;
};

void DeleteWorker::Run() {
    for (std::size_t i = 0; i < m_data.m_arrSource.GetSize() && !m_data.IsCancelled(); ++i) {
        const CLFSFile& item = m_data.m_arrSource.GetAt(i);
        std::string path = lfs::TrimTrailingSlashes(item.m_strPath);
        struct stat st {};
        bool exists = ::lstat(path.c_str(), &st) == 0;
        // A chosen folder that is really a link loses the link only.
        if (item.IsFolder() && (!exists || S_ISDIR(st.st_mode))) {
            DeleteTree(path);
        } else {
            DeleteOne(path, item.IsFolder());
        }
    }
}

bool DeleteWorker::DeleteOne(const std::string& path, bool chosenFolder) {
    Show(path);
    // Deleting does not depend on the file's own permissions here, so its
    // attributes are left as they are.
    if (::unlink(path.c_str()) == 0) {
        if (chosenFolder) {
            m_data.NotifyFolderDeleted(path);
        } else {
            m_data.NotifyFileDeleted(path);
        }
        return true;
    }
    if (m_data.Ask(lfs::FormatPath(lfs::kFailedDeleteFile, path), lfs::kStyleAsk) != IDOK) {
        m_data.Cancel();
        return false;
    }
    return true;
}

bool DeleteWorker::DeleteFilesIn(const std::string& folder) {
    struct stat st {};
    if (::lstat(folder.c_str(), &st) == 0) {
        lfs::PrepareFolderForDelete(folder, st);
    }
    // A folder that cannot be read keeps its files; removing it fails then
    // and says so.
    std::vector<lfs::FolderEntry> entries;
    if (!lfs::ReadFolder(folder, entries)) {
        return !m_data.IsCancelled();
    }
    for (const auto& entry : entries) {
        if (m_data.IsCancelled()) {
            return false;
        }
        if (!entry.isFolder && !DeleteOne(lfs::JoinPath(folder, entry.name), false)) {
            return false;
        }
    }
    return !m_data.IsCancelled();
}

void DeleteWorker::DeleteTree(const std::string& root) {
    struct stat rootStat {};
    if (::lstat(root.c_str(), &rootStat) != 0) {
        m_data.Ask(lfs::FormatPath(lfs::kFailedDeleteFolder, root), lfs::kStyleInform);
        return;
    }
    if (!DeleteFilesIn(root)) {
        return;
    }
    std::string current = root;
    std::string name;
    int depth = 0;
    while (!m_data.IsCancelled()) {
        if (lfs::FirstSubfolder(current, name)) {
            std::string sub = lfs::JoinPath(current, name);
            // Another file system mounted inside the tree is not emptied.
            struct stat st {};
            if (::lstat(sub.c_str(), &st) != 0 || st.st_dev != rootStat.st_dev) {
                m_data.Ask(lfs::FormatPath(lfs::kFailedDeleteFolder, sub), lfs::kStyleInform);
                return;
            }
            if (!DeleteFilesIn(sub)) {
                return;
            }
            current = std::move(sub);
            ++depth;
            continue;
        }
        Show(current);
        if (::rmdir(current.c_str()) != 0) {
            m_data.Ask(lfs::FormatPath(lfs::kFailedDeleteFolder, current), lfs::kStyleInform);
            return;
        }
        m_data.NotifyFolderDeleted(current);
        if (--depth < 0) {
            return;
        }
        current = lfs::ParentPath(current);
    }
}

// ---------------------------------------------------------------------------
// Copy and move

class CopyMover {
public:
    explicit CopyMover(CLFSData& data)
        : m_data(data),
          m_strSourceFolder(lfs::TrimTrailingSlashes(data.m_fileSourceFolder.m_strPath)),
          m_strDestFolder(lfs::TrimTrailingSlashes(data.m_fileDestFolder.m_strPath)) {}
    void Run();

private:
    // Where `path` goes: its path under the destination folder and the
    // folder that holds it. False when it cannot be placed there.
    bool Place(const std::string& path, std::string& destFolder, std::string& dest) const;
    Step CopyOrMoveFile(const CLFSFile& item);
    Step HandleFolder();
    CopyResult CopyRegular(const std::string& source, const std::string& destFolder,
                           const std::string& dest);
    CopyResult CopyLink(const std::string& source, const struct stat& st,
                        const std::string& destFolder, const std::string& dest);
    // A file that could not be copied or moved: OK goes on with the next.
    Step Failure(const std::string& source, const std::string& destFolder);
    // Tells the user and stops the operation.
    Step Fatal(const std::string& text, unsigned style);

    CLFSData& m_data;
    std::string m_strSourceFolder;
    std::string m_strDestFolder;
    std::vector<char> m_buffer;
    lfs::TempNames m_tempNames;
};

void CopyMover::Run() {
    while (!m_data.m_arrSource.IsEmpty()) {
        CLFSFile item = m_data.m_arrSource.TakeFront();
        if (item.IsFolder()) {
            m_data.m_arrFolders.Add(std::move(item));
        } else {
            m_data.m_arrFiles.Add(std::move(item));
        }
    }
    while (!m_data.IsCancelled()) {
        Step step = Step::Continue;
        if (!m_data.m_arrFiles.IsEmpty()) {
            step = CopyOrMoveFile(m_data.m_arrFiles.TakeFront());
        } else if (!m_data.m_arrFolders.IsEmpty()) {
            step = HandleFolder();
        } else {
            break;
        }
        if (step == Step::Stop) {
            break;
        }
    }
}

bool CopyMover::Place(const std::string& path, std::string& destFolder, std::string& dest) const {
    const std::string& source = m_strSourceFolder;
    if (source.empty() || source.front() != '/' || m_strDestFolder.empty() ||
        m_strDestFolder.front() != '/') {
        return false;
    }
    // The part of the path below the source folder, starting with "/".
    std::size_t cut = source == "/" ? 0 : source.size();
    if (path.size() <= cut + 1 || path.compare(0, cut, source) != 0 || path[cut] != '/') {
        return false;
    }
    std::string below = path.substr(cut);
    // Each name below must be a proper name, so that nothing lands outside
    // the destination folder.
    std::size_t start = 1;
    while (start <= below.size()) {
        std::size_t end = below.find('/', start);
        if (end == std::string::npos) {
            end = below.size();
        }
        std::string_view name(below.data() + start, end - start);
        if (name.empty() || name == "." || name == "..") {
            return false;
        }
        start = end + 1;
    }
    dest = (m_strDestFolder == "/" ? std::string() : m_strDestFolder) + below;
    destFolder = lfs::ParentPath(dest);
    return true;
}

Step CopyMover::Failure(const std::string& source, const std::string& destFolder) {
    std::string text = m_data.m_bMove ? lfs::kFailedMoveFile : lfs::kFailedCopyFile;
    text += source;
    text += lfs::kToFolder;
    text += destFolder;
    if (m_data.Ask(text, lfs::kStyleAsk) != IDOK) {
        m_data.Cancel();
        return Step::Stop;
    }
    return Step::Continue;
}

Step CopyMover::Fatal(const std::string& text, unsigned style) {
    m_data.Ask(text, style);
    m_data.Cancel();
    return Step::Stop;
}

Step CopyMover::CopyOrMoveFile(const CLFSFile& item) {
    std::string source = lfs::TrimTrailingSlashes(item.m_strPath);
    std::string destFolder;
    std::string dest;
    if (!Place(source, destFolder, dest)) {
        return Fatal(lfs::kFailedPlace, lfs::kStylePlain);
    }
    if (dest == source) {
        return Step::Continue;
    }
    struct stat sourceStat {};
    if (::lstat(source.c_str(), &sourceStat) != 0 || S_ISDIR(sourceStat.st_mode)) {
        return Failure(source, destFolder);
    }
    struct stat destStat {};
    bool destExists = ::lstat(dest.c_str(), &destStat) == 0;
    if (destExists) {
        // Two names of one file: copying would truncate the source.
        if (destStat.st_dev == sourceStat.st_dev && destStat.st_ino == sourceStat.st_ino) {
            return Step::Continue;
        }
        if (S_ISDIR(destStat.st_mode)) {
            return Failure(source, destFolder);
        }
        if (!m_data.m_bReplaceAll) {
            CLFSReplaceQuestion question;
            question.m_bFilled = true;
            question.m_existing = {dest, static_cast<FileSize>(destStat.st_size),
                                   destStat.st_mtime};
            question.m_with = {source, static_cast<FileSize>(sourceStat.st_size),
                               sourceStat.st_mtime};
            int answer = m_data.AskReplace(question);
            if (answer == lfs::REPLACE_YES_TO_ALL) {
                m_data.m_bReplaceAll = true;
            } else if (answer == lfs::REPLACE_NO) {
                return Step::Continue;
            } else if (answer != lfs::REPLACE_YES) {
                m_data.Cancel();
                return Step::Stop;
            }
        }
    }

    if (m_data.m_bMove) {
        // Within one file system the file is renamed; the rename replaces an
        // existing destination in one step.
        if (::rename(source.c_str(), dest.c_str()) == 0) {
            if (destExists) {
                m_data.NotifyFileDeleted(dest);
            }
            m_data.NotifyFileDeleted(source);
            m_data.NotifyFileCreated(dest);
            return Step::Continue;
        }
        if (errno != EXDEV) {
            return Failure(source, destFolder);
        }
    }

    m_data.SetCurrentTexts(source, dest);
    m_data.PostDisplay();
    CopyResult result = CopyResult::Failed;
    if (S_ISLNK(sourceStat.st_mode)) {
        result = CopyLink(source, sourceStat, destFolder, dest);
    } else if (S_ISREG(sourceStat.st_mode)) {
        result = CopyRegular(source, destFolder, dest);
    }
    if (result == CopyResult::Cancelled) {
        return Step::Stop;
    }
    if (result == CopyResult::Failed) {
        return Failure(source, destFolder);
    }
    m_data.NotifyFileCreated(dest);

    if (m_data.m_bMove) {
        if (::unlink(source.c_str()) == 0) {
            m_data.NotifyFileDeleted(source);
        } else if (m_data.Ask(lfs::kFailedDeleteMoved + source, lfs::kStyleAsk) != IDOK) {
            m_data.Cancel();
            return Step::Stop;
        }
    }
    return Step::Continue;
}

CopyResult CopyMover::CopyRegular(const std::string& source, const std::string& destFolder,
                                  const std::string& dest) {
    // Never blocks on a pipe put in the file's place since it was looked at.
    int in = ::open(source.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (in < 0) {
        return CopyResult::Failed;
    }
    FdGuard inGuard(in);
    struct stat st {};
    if (::fstat(in, &st) != 0 || !S_ISREG(st.st_mode)) {
        return CopyResult::Failed;
    }
    // The copy is written under a hidden name and renamed into place only
    // when complete: a cancel or a failure leaves no partial file, and an
    // existing destination stays as it was.
    std::string temp;
    int out = m_tempNames.CreateFile(destFolder, temp);
    if (out < 0) {
        return CopyResult::Failed;
    }
    const FileSize length = static_cast<FileSize>(st.st_size);
    CopyResult result = lfs::CopyFileData(
        in, out, length, m_data.m_nBlockSize, m_buffer, [&] { return m_data.IsCancelled(); },
        [&](FileSize copied) {
            int percent = 100;
            if (length > 0 && copied < length) {
                percent = static_cast<int>(static_cast<double>(copied) * 100.0 /
                                           static_cast<double>(length));
            }
            m_data.SetCurrentPercent(percent);
            m_data.PostDisplay();
        });
    int error = errno;
    if (result == CopyResult::Done) {
        // The copy keeps the source's permission bits and modification time.
        ::fchmod(out, st.st_mode & 0777);
        struct timespec times[2] = {{0, UTIME_OMIT}, st.st_mtim};
        ::futimens(out, times);
        // A move deletes its source next: the copy must be on disk first.
        if (m_data.m_bMove && ::fsync(out) != 0) {
            result = CopyResult::Failed;
            error = errno;
        }
    }
    if (::close(out) != 0 && result == CopyResult::Done) {
        result = CopyResult::Failed;
        error = errno;
    }
    if (result == CopyResult::Done && ::rename(temp.c_str(), dest.c_str()) != 0) {
        result = CopyResult::Failed;
        error = errno;
    }
    if (result != CopyResult::Done) {
        ::unlink(temp.c_str());
    }
    errno = error;
    return result;
}

CopyResult CopyMover::CopyLink(const std::string& source, const struct stat& st,
                               const std::string& destFolder, const std::string& dest) {
    // One byte more than the link's length shows that nothing was cut off.
    std::string target(static_cast<std::size_t>(st.st_size > 0 ? st.st_size + 1 : 64), '\0');
    for (;;) {
        ssize_t n = ::readlink(source.c_str(), target.data(), target.size());
        if (n < 0) {
            return CopyResult::Failed;
        }
        if (static_cast<std::size_t>(n) < target.size()) {
            target.resize(static_cast<std::size_t>(n));
            break;
        }
        target.resize(target.size() * 2);
    }
    std::string temp;
    if (!m_tempNames.CreateLink(destFolder, target, temp)) {
        return CopyResult::Failed;
    }
    struct timespec times[2] = {{0, UTIME_OMIT}, st.st_mtim};
    ::utimensat(AT_FDCWD, temp.c_str(), times, AT_SYMLINK_NOFOLLOW);
    if (::rename(temp.c_str(), dest.c_str()) != 0) {
        ::unlink(temp.c_str());
        return CopyResult::Failed;
    }
    return CopyResult::Done;
}

Step CopyMover::HandleFolder() {
    CLFSFile& front = m_data.m_arrFolders.Front();
    std::string source = lfs::TrimTrailingSlashes(front.m_strPath);
    std::string destFolder;
    std::string dest;
    if (!Place(source, destFolder, dest)) {
        return Fatal(lfs::kFailedPlace, lfs::kStylePlain);
    }
    if (dest == source) {
        m_data.m_arrFolders.TakeFront();
        return Step::Continue;
    }
    // A folder cannot go into itself: the copy would never end.
    if (dest.size() > source.size() && dest.compare(0, source.size(), source) == 0 &&
        dest[source.size()] == '/') {
        return Fatal(lfs::kFailedPlace, lfs::kStylePlain);
    }
    m_data.SetCurrentTexts(source, dest);
    m_data.PostDisplay();

    if (front.m_bVisited) {
        // Its content has been handled; what is left (a file kept by "No" or
        // a failure) keeps the folder.
        m_data.m_arrFolders.TakeFront();
        if (::rmdir(source.c_str()) == 0) {
            m_data.NotifyFolderDeleted(source);
        }
        return Step::Continue;
    }
    struct stat sourceStat {};
    if (::lstat(source.c_str(), &sourceStat) != 0) {
        m_data.m_arrFolders.TakeFront();
        return Failure(source, destFolder);
    }
    if (!S_ISDIR(sourceStat.st_mode)) {
        // A link to a folder goes as a link.
        CLFSFile item = m_data.m_arrFolders.TakeFront();
        item.m_nKind = CLFSFile::KIND_FILE;
        return CopyOrMoveFile(item);
    }

    if (m_data.m_bMove) {
        struct stat existing {};
        if (::lstat(dest.c_str(), &existing) != 0 && errno == ENOENT &&
            ::rename(source.c_str(), dest.c_str()) == 0) {
            m_data.m_arrFolders.TakeFront();
            m_data.NotifyFolderDeleted(source);
            m_data.NotifyFolderCreated(dest);
            return Step::Continue;
        }
        // Moved item by item; the folder stays in the list behind its
        // subfolders and is removed when its turn comes again.
        front.m_bVisited = true;
    } else {
        m_data.m_arrFolders.TakeFront();
    }

    struct stat destStat {};
    if (::lstat(dest.c_str(), &destStat) == 0) {
        if (!S_ISDIR(destStat.st_mode)) {
            return Fatal(lfs::FormatPath(lfs::kFailedCreateFolder, dest), lfs::kStyleInform);
        }
    } else if (::mkdir(dest.c_str(), (sourceStat.st_mode & 0777) | S_IRWXU) == 0) {
        m_data.NotifyFolderCreated(dest);
    } else if (!CreateLocalFolderPath(dest, m_data.m_pNotifier)) {
        return Fatal(lfs::FormatPath(lfs::kFailedCreateFolder, dest), lfs::kStyleInform);
    }

    std::vector<lfs::FolderEntry> entries;
    if (!lfs::ReadFolder(source, entries)) {
        return Failure(source, destFolder);
    }
    for (const auto& entry : entries) {
        if (m_data.IsCancelled()) {
            return Step::Stop;
        }
        std::string path = lfs::JoinPath(source, entry.name);
        if (entry.isFolder) {
            m_data.m_arrFolders.InsertFront(CLFSFile(std::move(path), CLFSFile::KIND_FOLDER));
        } else if (CopyOrMoveFile(CLFSFile(std::move(path), CLFSFile::KIND_FILE)) == Step::Stop) {
            return Step::Stop;
        }
    }
    return Step::Continue;
}

} // namespace

void RunDeleteWorker(CLFSData& data) {
    DeleteWorker(data).Run();
    data.PostFinished();
}

void RunCopyMoveWorker(CLFSData& data) {
    CopyMover(data).Run();
    data.PostFinished();
}

CLFSOperation::~CLFSOperation() {
    if (m_thread.joinable()) {
        m_data.Cancel();
        m_thread.join();
    }
}

void CLFSOperation::Start(ILFSDialog& dialog) {
    m_data.m_pDialog = &dialog;
    m_thread = std::thread([this] {
        if (m_kind == Kind::Delete) {
            RunDeleteWorker(m_data);
        } else {
            RunCopyMoveWorker(m_data);
        }
        {
            std::lock_guard<std::mutex> guard(m_endLock);
            m_bEnded = true;
        }
        m_ended.notify_all();
    });
}

bool CLFSOperation::WaitForEnd(std::chrono::milliseconds limit) {
    std::unique_lock<std::mutex> guard(m_endLock);
    return m_ended.wait_for(guard, limit, [&] { return m_bEnded; });
}

int CLFSOperation::Wait() {
    if (m_thread.joinable()) {
        m_thread.join();
    }
    return m_data.Result();
}

} // namespace qb
