// View items: one node of what the explorer shows (the root, mounted
// volumes, local folders and files, site folders, sites, remote folders and
// files). A view item carries only what the panes show and sort by; the
// site records stay in the profile and remote records in the core.
#pragma once

#include "platform/types.h"

#include <cstdint>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

namespace qb::ui {

enum ViewKind : std::uint16_t {
    VI_NONE = 0,
    VI_ROOT = 1,
    VI_RAMDISK = 2,
    VI_FLOPPY = 4,
    VI_FIXEDDISK = 5,
    VI_CDROM = 6,
    VI_REMOVABLE = 7,
    VI_NETDRIVE = 8,
    VI_SITEFOLDER = 9,
    VI_SITE = 10,
    VI_LOCALFOLDER = 11,
    VI_LOCALFILE = 12,
    VI_REMOTEFOLDER = 14,
    VI_REMOTEFILE = 15,
};

// State bits. Setting VIF_EXPLORED sets all three; clearing VIF_CONNECTED
// or VIF_CHILDREN clears VIF_EXPLORED too.
enum ViewState : std::uint16_t {
    VIF_EXPLORED = 0x1,
    VIF_CHILDREN = 0x2,
    VIF_CONNECTED = 0x4,
};

// The working mark drawn over a node.
enum WorkMark : std::uint16_t { MARK_NONE = 0, MARK_CONNECTING = 1, MARK_EXPLORING = 2 };

// The image table: 28 icons, index 26 is the working overlay.
enum ViewImage : int {
    IMG_ROOT = 0,
    IMG_LOCAL_FOLDER = 9,
    IMG_LOCAL_FOLDER_OPEN = 10,
    IMG_LOCAL_FILE = 11,
    IMG_SITE_FOLDER = 14,
    IMG_SITE_CONNECTED = 15,
    IMG_SITE = 16,
    IMG_REMOTE_FOLDER_EXPLORED = 17,
    IMG_REMOTE_FOLDER = 19,
    IMG_LINK_FOLDER_EXPLORED = 21,
    IMG_LINK_FOLDER = 23,
    IMG_REMOTE_FILE = 25,
    IMG_WORKING_OVERLAY = 26,
    IMG_COUNT = 28,
};

class CFTPVI;

// An ordered array of owned view items.
class CFTPVIArray {
public:
    std::size_t GetSize() const { return m_items.size(); }
    CFTPVI* GetAt(std::size_t index) const { return m_items.at(index).get(); }
    void Add(std::unique_ptr<CFTPVI> item) { m_items.push_back(std::move(item)); }
    void RemoveAt(std::size_t index) {
        m_items.erase(m_items.begin() + static_cast<std::ptrdiff_t>(index));
    }
    std::vector<std::unique_ptr<CFTPVI>>& Items() { return m_items; }
    const std::vector<std::unique_ptr<CFTPVI>>& Items() const { return m_items; }

private:
    std::vector<std::unique_ptr<CFTPVI>> m_items;
};

class CFTPVI {
public:
    CFTPVI(std::uint16_t kind, std::string name, std::time_t time, FileSize size);
    virtual ~CFTPVI();
    CFTPVI(const CFTPVI&) = delete;
    CFTPVI& operator=(const CFTPVI&) = delete;

    virtual bool IsDrive() const { return false; }
    virtual bool IsReady() const { return true; }
    bool IsLocalContainer() const { return m_wKind == VI_LOCALFOLDER || IsDrive(); }
    // Copies size, name, time, state, mark, kind and link text, and gives
    // itself plain copies of the source's children.
    virtual void Assign(const CFTPVI& source);

    std::uint16_t GetKind() const { return m_wKind; }
    std::uint16_t GetMark() const { return m_wMark; }
    void SetMark(std::uint16_t mark) { m_wMark = mark; }
    bool Has(std::uint16_t bit) const { return (m_wState & bit) != 0; }
    void SetState(std::uint16_t bit);
    void ClearState(std::uint16_t bit);
    std::uint16_t GetState() const { return m_wState; }
    const std::string& GetName() const { return m_strName; }
    void SetName(std::string name) { m_strName = std::move(name); }
    FileSize GetSize() const { return m_nSize; }
    void SetSize(FileSize size) { m_nSize = size; }
    std::time_t GetTime() const { return m_time; }
    void SetTime(std::time_t time) { m_time = time; }
    const std::string& GetLinkText() const { return m_strLink; }
    void SetLinkText(std::string link) { m_strLink = std::move(link); }

    // The content that is not a tree node (the files of a remote folder).
    CFTPVIArray* GetChildren() const { return m_pChildren.get(); }
    // With `merge`, a child of the same name takes the item's time and size
    // and the item is dropped (`*index` becomes -1). False for a null item.
    bool AddChild(std::unique_ptr<CFTPVI> item, bool merge, std::ptrdiff_t* index = nullptr);
    bool RemoveChild(const std::string& name);
    void RemoveAllChildren() { m_pChildren.reset(); }
    bool FindChild(const std::string& name, FileSize* size, std::time_t* time) const;
    bool HasNoChild(const std::string& name) const;

    // Kinds 9, 10, 11, 12, 14 and 15.
    bool CanCutCopy() const;
    bool AcceptsSites() const { return m_wKind == VI_ROOT || m_wKind == VI_SITEFOLDER; }
    bool AcceptsFiles() const {
        return IsLocalContainer() || m_wKind == VI_SITE || m_wKind == VI_REMOTEFOLDER;
    }
    bool IsRemoteContainer() const { return m_wKind == VI_SITE || m_wKind == VI_REMOTEFOLDER; }

    // Index in the image table; -1: none.
    int Image(bool selected) const;
    // "N/A", "Not Ready", "Need Refresh" or the size grouped by thousands.
    std::string SizeText() const;
    std::string TimeText() const;

    // ---- The tree: nodes below this one, kept by the tree model ----
    CFTPVI* m_pParent = nullptr;
    int m_nRow = 0;
    std::vector<std::unique_ptr<CFTPVI>> m_nodes;

protected:
    std::uint16_t m_wKind;
    std::uint16_t m_wMark = MARK_NONE;
    std::uint16_t m_wState = 0;
    std::string m_strName;
    FileSize m_nSize;
    std::time_t m_time;
    std::string m_strLink;
    std::unique_ptr<CFTPVIArray> m_pChildren;
};

// One mounted volume.
struct MountInfo {
    std::string device;
    std::string mountPoint;
    std::string fsType;
};

class CFTPVILocalDrive : public CFTPVI {
public:
    // `index`: the volume's place in the mount list (the sort order).
    CFTPVILocalDrive(int index, MountInfo mount);

    bool IsDrive() const override { return true; }
    bool IsReady() const override { return m_bReady; }
    void Assign(const CFTPVI&) override {} // drives are never copied

    // Reads capacity, free and used bytes; removable kinds only with
    // `force`.
    void RefreshVolume(bool force);
    void SetLabel(std::string label);

    int GetIndex() const { return m_nDrive; }
    const std::string& GetRootPath() const { return m_mount.mountPoint; }
    const std::string& GetLabel() const { return m_strLabel; }
    FileSize GetFreeBytes() const { return m_nFree; }
    FileSize GetUsedBytes() const { return m_nUsed; }

private:
    int m_nDrive;
    bool m_bReady = false;
    FileSize m_nFree = 0;
    FileSize m_nUsed = 0;
    std::string m_strLabel;
    MountInfo m_mount;
};

// Thousands grouping of a size: 1000 gives "1,000".
std::string GroupedSize(FileSize size);
// Bytes as "%.2f MB".
std::string MegabyteText(FileSize bytes);
// The sibling order: drives by index, then kinds ascending, then names
// without regard to case (then exactly, so that the order is total).
bool SiblingLess(const CFTPVI& a, const CFTPVI& b);

// The volumes a user would recognise, read from a mounts table in the form
// of /proc/self/mounts: "/" first, then the others in table order.
std::vector<MountInfo> ParseMounts(const std::string& table);
std::vector<MountInfo> ReadMounts();
// The drive kind of a mounted volume.
std::uint16_t DriveKind(const MountInfo& mount);
// The volume label of a device ("" when it has none).
std::string VolumeLabel(const std::string& device);

} // namespace qb::ui
