// Remote item records: one remote file or folder, arrays of them, and the
// listed content of a folder.
#pragma once

#include "engine/constants.h"
#include "platform/types.h"

#include <ctime>
#include <memory>
#include <string>
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
    const std::string& GetHost() const;

    // The text after the last "/" of the name.
    std::string GetName() const;
    // The path relative to the login folder; with withHost and a remote item
    // whose host is known, "host : path".
    std::string GetPath(bool withHost = false) const;
    // Makes the item stand for its parent folder.
    void ToParent();
    // Same connection and the same path (case-sensitive).
    static bool IsSame(const CFTPFile& a, const CFTPFile& b);

    const CFTPFile* GetParent() const { return m_pParent.get(); }

    std::string m_strLink;
    // The containing folder. Shared between copies but never changed, so a
    // copy behaves exactly like a private deep copy.
    std::shared_ptr<const CFTPFile> m_pParent;
    std::string m_strName;
    // The connection the item belongs to; kNoConnection for a local item.
    ConnectionId m_nConnection = kNoConnection;
    // Empty on listing entries, which take their folder's.
    std::string m_strHost;
    bool m_bFile = true;
    std::time_t m_time = 0;
    // kUnknownSize until a listing (or the local disk) tells.
    FileSize m_nSize = kUnknownSize;
};

// An owning array of remote items.
class CFTPFileArray : public CFTPConstants {
public:
    CFTPFileArray() = default;
    CFTPFileArray(const CFTPFileArray& other);
    CFTPFileArray& operator=(const CFTPFileArray& other);
    CFTPFileArray(CFTPFileArray&&) noexcept = default;
    CFTPFileArray& operator=(CFTPFileArray&&) noexcept = default;

    std::size_t GetSize() const { return m_items.size(); }
    bool IsEmpty() const { return m_items.empty(); }
    CFTPFile* GetAt(std::size_t index) const { return m_items.at(index).get(); }
    std::size_t Add(std::unique_ptr<CFTPFile> item);
    std::size_t Add(const CFTPFile& item) { return Add(std::make_unique<CFTPFile>(item)); }
    void RemoveAll() { m_items.clear(); }

private:
    std::vector<std::unique_ptr<CFTPFile>> m_items;
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

    std::unique_ptr<CFTPFile> m_pFolder;
    CFTPFileArray m_files;
    CFTPFileArray m_folders;

private:
    std::shared_ptr<const CFTPFile> m_sharedFolder; // parent of every entry
};

} // namespace qb
