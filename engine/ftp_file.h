// Remote item records: one remote file or folder, arrays of them, and the
// listed content of a folder.
#pragma once

#include "engine/constants.h"
#include "engine/item_text.h"
#include "platform/types.h"

#include <ctime>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace qb {

// Where a remote item lives: the connection's id, never reused, and its host
// name for display. The default value stands for the local disk.
struct SiteRef {
    ConnectionId id = kNoConnection;
    std::string host;

    bool IsRemote() const { return id != kNoConnection; }
};

class CFTPFile : public CFTPConstants {
public:
    CFTPFile(std::string name, const SiteRef& site, bool isFile);
    // With a known time (no default time to work out).
    CFTPFile(std::string name, const SiteRef& site, bool isFile, std::time_t time);
    // The parent is copied (null stays null).
    CFTPFile(const CFTPFile* parent, std::string name, const SiteRef& site, bool isFile);
    CFTPFile(const CFTPFile& other) = default;
    CFTPFile& operator=(const CFTPFile& other) = default;
    CFTPFile(CFTPFile&&) noexcept = default;
    CFTPFile& operator=(CFTPFile&&) noexcept = default;
    ~CFTPFile() = default;

    void SetTime(std::time_t t) { m_time = t; }
    void SetSize(FileSize size) { m_nSize = size; }

    // Whether the item is on a server (else it is a local path).
    bool IsRemote() const { return m_nConnection != kNoConnection; }
    // The connection and host the item belongs to.
    SiteRef GetSite() const { return SiteRef{m_nConnection, GetHost()}; }
    // The host name for display: the item's own, else its parent's.
    std::string GetHost() const;

    // The text after the last "/" of the name.
    std::string GetName() const { return std::string(NameView()); }
    // The same without a copy: valid while the item and its name are.
    std::string_view NameView() const;
    // The path relative to the login folder; with withHost and a remote item
    // whose host is known, "host : path".
    std::string GetPath(bool withHost = false) const;
    // Makes the item stand for its parent folder.
    void ToParent();
    // Same connection and the same path (case-sensitive).
    static bool IsSame(const CFTPFile& a, const CFTPFile& b);

    const CFTPFile* GetParent() const { return m_pParent.get(); }

    // The texts are one pointer wide each (see item_text.h): a listed folder
    // of a million entries must stay small.
    CFTPText m_strLink;
    // The containing folder. Shared between copies but never changed, so a
    // copy behaves exactly like a private deep copy.
    std::shared_ptr<const CFTPFile> m_pParent;
    CFTPText m_strName;
    // The connection the item belongs to; kNoConnection for a local item.
    ConnectionId m_nConnection = kNoConnection;
    // Empty on listing entries, which take their folder's.
    CFTPText m_strHost;
    std::time_t m_time = 0;
    // kUnknownSize until a listing (or the local disk) tells.
    FileSize m_nSize = kUnknownSize;
    bool m_bFile = true;

private:
    friend class CFTPFileArray;

    // A listed entry as the array builds it: no texts yet (the array's arena
    // takes them), no host of its own.
    struct ListedTag {};
    CFTPFile(ListedTag, const std::shared_ptr<const CFTPFile>& parent, ConnectionId connection,
             bool isFile, std::time_t time, FileSize size)
        : m_pParent(parent), m_nConnection(connection), m_time(time), m_nSize(size),
          m_bFile(isFile) {}
};

// An owning array of remote items. The items live in blocks of many (no
// allocation per item) and keep their addresses while the array grows; the
// texts of listed entries live in the array's arena.
class CFTPFileArray : public CFTPConstants {
public:
    CFTPFileArray() = default;
    CFTPFileArray(const CFTPFileArray& other);
    CFTPFileArray& operator=(const CFTPFileArray& other);
    CFTPFileArray(CFTPFileArray&& other) noexcept;
    CFTPFileArray& operator=(CFTPFileArray&& other) noexcept;
    ~CFTPFileArray() { RemoveAll(); }

    std::size_t GetSize() const { return m_nCount; }
    bool IsEmpty() const { return m_nCount == 0; }
    // Throws std::out_of_range past the end.
    CFTPFile* GetAt(std::size_t index) const;
    std::size_t Add(std::unique_ptr<CFTPFile> item);
    std::size_t Add(const CFTPFile& item);
    void RemoveAll();
    // Removes every item but keeps the memory for the next ones.
    void Clear();

private:
    friend class CFTPFolderContent;

    static constexpr std::size_t kBlockBits = 10;
    static constexpr std::size_t kBlock = std::size_t{1} << kBlockBits;

    // Room for one more item.
    void* NextSlot();
    // A listed entry whose name and link target go into the arena.
    std::size_t AddEntry(std::string_view name, const std::shared_ptr<const CFTPFile>& parent,
                         ConnectionId connection, bool isFile, std::time_t time, FileSize size,
                         std::string_view link);

    struct BlockDeleter {
        void operator()(CFTPFile* block) const;
    };
    std::vector<std::unique_ptr<CFTPFile, BlockDeleter>> m_blocks;
    std::size_t m_nCount = 0;
    std::unique_ptr<CFTPTextArena> m_pArena;
};

// A listed folder: a copy of the folder plus its files and subfolders.
class CFTPFolderContent : public CFTPConstants {
public:
    explicit CFTPFolderContent(const CFTPFile& folder);
    CFTPFolderContent(const CFTPFolderContent& other);
    CFTPFolderContent& operator=(const CFTPFolderContent&) = delete;

    const CFTPFile& GetFolder() const { return *m_pFolder; }
    CFTPFileArray& GetFiles() { return m_files; }
    CFTPFileArray& GetFolders() { return m_folders; }
    const CFTPFileArray& GetFiles() const { return m_files; }
    const CFTPFileArray& GetFolders() const { return m_folders; }

    // Adds an entry with this folder as parent; returns its index in the
    // files or the folders array.
    std::size_t Add(std::string name, bool isFile, std::time_t time, FileSize size,
                    const std::string& link);
    // The same without strings of their own for name and link (the parsers).
    std::size_t AddListed(std::string_view name, bool isFile, std::time_t time, FileSize size,
                          std::string_view link);

    std::unique_ptr<CFTPFile> m_pFolder;
    CFTPFileArray m_files;
    CFTPFileArray m_folders;

private:
    std::shared_ptr<const CFTPFile> m_sharedFolder; // parent of every entry
};

// An entry of a listing as it is read. Its texts are views into the
// received lines or into the entry's record: valid only during the call that
// tells it.
struct ListedEntry {
    std::string_view name;
    std::string_view link; // a link's target, empty for other entries
    std::time_t time = 0;
    FileSize size = kUnknownSize;
    bool isFile = true;
};

// The entry of a record, its texts seen in the record.
ListedEntry AsListedEntry(const CFTPFile& file);

// Takes the entries of a listing while it is read, before it is whole: on
// the connection's thread, once per received piece, with the piece's new
// entries in the order of their lines. A sink copies what it keeps.
class IListingSink {
public:
    virtual ~IListingSink() = default;
    virtual void Listed(std::span<const ListedEntry> entries) = 0;
    // Whether the whole listing is wanted too once it is read. False: the
    // entries are dropped once told (the memory is reused), and the explore
    // hands over the folder without entries.
    virtual bool WantsListing() const { return true; }
};

} // namespace qb
