// Reading and writing the profile file.
#include "platform/archive.h"
#include "platform/questions.h"
#include "profile/profile.h"
#include "profile/profile_path.h"
#include "profile/scramble.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>

namespace qb {

namespace {

constexpr std::string_view kFolderClass = "CFTPSiteFolder";
constexpr std::string_view kSiteClass = "CFTPSite";

std::string ErrnoText() {
    return std::strerror(errno);
}

// Reads the site tree of a file. Objects that the file names again by
// number are copied, within a budget of about the size of the file; an
// object that names itself or a folder around it is damage.
class TreeReader {
public:
    explicit TreeReader(ArchiveReader& ar) : m_ar(ar), m_budget(ar.Size() + 4096) {}

    bool ReadFolderBody(CFTPSiteFolder& folder, int depth) {
        if (!m_ar.ReadString(folder.m_strLabel) || !m_ar.ReadString(folder.m_strComments) ||
            !m_ar.ReadTime(folder.m_timeCreated)) {
            return false;
        }
        return ReadFolders(folder, depth) && ReadSites(folder);
    }

private:
    // What a copy is charged beyond its text.
    static constexpr std::size_t kObjectCost = 64;

    struct Object {
        CFTPSiteFolder* folder = nullptr;
        const CFTPSite* site = nullptr;
        bool complete = false;
    };

    bool CheckClass(const ArchiveReader::ObjectTag& tag, std::string_view expected,
                    std::uint16_t newestSchema) {
        if (tag.className != kFolderClass && tag.className != kSiteClass) {
            return m_ar.Fail("unknown class \"" + tag.className + "\" before byte " +
                             std::to_string(m_ar.Offset()));
        }
        if (tag.className != expected) {
            return m_ar.Fail("a " + tag.className + " stands where a " + std::string(expected) +
                             " belongs, before byte " + std::to_string(m_ar.Offset()));
        }
        if (tag.schema < 1 || tag.schema > newestSchema) {
            return m_ar.Fail(tag.className + " has schema " + std::to_string(tag.schema) +
                             ", which this program does not read");
        }
        return true;
    }

    bool Charge(std::size_t cost) {
        if (cost > m_budget) {
            return m_ar.Fail("the file names the same objects too often");
        }
        m_budget -= cost;
        return true;
    }

    static std::size_t SiteCost(const CFTPSite& s) {
        return kObjectCost + s.m_strLabel.size() + s.m_strHost.size() + s.m_strUser.size() +
               s.m_strPassword.size() + s.m_strLoginFolder.size() + s.m_strComments.size();
    }

    // Memory of a folder and everything below it, and the depth below it.
    static std::size_t FolderCost(const CFTPSiteFolder& f, int& height) {
        std::size_t cost = kObjectCost + f.m_strLabel.size() + f.m_strComments.size();
        height = 0;
        for (const auto& sub : f.m_arrFolders) {
            int h = 0;
            cost += FolderCost(*sub, h);
            height = std::max(height, h + 1);
        }
        for (const auto& site : f.m_arrSites) {
            cost += SiteCost(*site);
        }
        return cost;
    }

    bool ReadFolders(CFTPSiteFolder& parent, int depth) {
        std::uint32_t count = 0;
        if (!m_ar.ReadCount(count, 2)) {
            return false;
        }
        for (std::uint32_t i = 0; i < count; ++i) {
            ArchiveReader::ObjectTag tag;
            if (!m_ar.ReadObjectTag(tag)) {
                return false;
            }
            if (tag.kind == ArchiveReader::ObjectTag::Kind::Null) {
                continue;
            }
            if (!CheckClass(tag, kFolderClass, 1)) {
                return false;
            }
            if (depth + 1 > CFTPProfile::kMaxFolderDepth) {
                return m_ar.Fail("folders are nested more than " +
                                 std::to_string(CFTPProfile::kMaxFolderDepth) + " deep");
            }
            if (tag.kind == ArchiveReader::ObjectTag::Kind::Reference) {
                const auto found = m_objects.find(tag.number);
                if (found == m_objects.end() || found->second.folder == nullptr) {
                    return m_ar.Fail("a reference names a folder that was never read");
                }
                const Object& earlier = found->second;
                if (!earlier.complete) {
                    return m_ar.Fail("a site folder contains itself");
                }
                int height = 0;
                const std::size_t cost = FolderCost(*earlier.folder, height);
                if (depth + 1 + height > CFTPProfile::kMaxFolderDepth) {
                    return m_ar.Fail("folders are nested more than " +
                                     std::to_string(CFTPProfile::kMaxFolderDepth) + " deep");
                }
                if (!Charge(cost)) {
                    return false;
                }
                auto copy = std::make_unique<CFTPSiteFolder>();
                copy->CopyFrom(*earlier.folder);
                parent.m_arrFolders.push_back(std::move(copy));
                continue;
            }
            auto folder = std::make_unique<CFTPSiteFolder>();
            CFTPSiteFolder* raw = folder.get();
            parent.m_arrFolders.push_back(std::move(folder));
            m_objects[tag.number] = Object{raw, nullptr, false};
            if (!ReadFolderBody(*raw, depth + 1)) {
                return false;
            }
            m_objects[tag.number].complete = true;
        }
        return true;
    }

    bool ReadSite(CFTPSite& site, std::uint16_t schema) {
        std::string password;
        if (!m_ar.ReadString(site.m_strLabel) || !m_ar.ReadString(site.m_strHost) ||
            !m_ar.ReadString(site.m_strUser) || !m_ar.ReadRawString(password) ||
            !m_ar.ReadBool(site.m_bAnonymous) || !m_ar.ReadTime(site.m_timeCreated) ||
            !m_ar.ReadU32(site.m_nPort) || !m_ar.ReadString(site.m_strLoginFolder) ||
            !m_ar.ReadString(site.m_strComments)) {
            return false;
        }
        site.m_strPassword = DecodeArchiveText(SwapNibbles(password));
        site.m_bInsideFirewall = false;
        return schema < 2 || m_ar.ReadBool(site.m_bInsideFirewall);
    }

    bool ReadSites(CFTPSiteFolder& parent) {
        std::uint32_t count = 0;
        if (!m_ar.ReadCount(count, 2)) {
            return false;
        }
        for (std::uint32_t i = 0; i < count; ++i) {
            ArchiveReader::ObjectTag tag;
            if (!m_ar.ReadObjectTag(tag)) {
                return false;
            }
            if (tag.kind == ArchiveReader::ObjectTag::Kind::Null) {
                continue;
            }
            if (!CheckClass(tag, kSiteClass, 2)) {
                return false;
            }
            if (tag.kind == ArchiveReader::ObjectTag::Kind::Reference) {
                const auto found = m_objects.find(tag.number);
                if (found == m_objects.end() || found->second.site == nullptr) {
                    return m_ar.Fail("a reference names a site that was never read");
                }
                const CFTPSite& earlier = *found->second.site;
                if (!Charge(SiteCost(earlier))) {
                    return false;
                }
                parent.m_arrSites.push_back(std::make_unique<CFTPSite>(earlier));
                continue;
            }
            auto site = std::make_unique<CFTPSite>();
            if (!ReadSite(*site, tag.schema)) {
                return false;
            }
            m_objects[tag.number] = Object{nullptr, site.get(), true};
            parent.m_arrSites.push_back(std::move(site));
        }
        return true;
    }

    ArchiveReader& m_ar;
    std::size_t m_budget;
    std::unordered_map<std::uint32_t, Object> m_objects;
};

// --- Layout block ---

bool ReadDockState(ArchiveReader& ar, CFTPDockState& dock) {
    std::uint32_t version = 0;
    if (!ar.ReadU32(version)) {
        return false;
    }
    if (version > 2) {
        return ar.Fail("the tool bar layout has version " + std::to_string(version) +
                       ", which this program does not read");
    }
    const bool extended = version > 1;
    if (extended && (!ar.ReadI32(dock.m_nScreenWidth) || !ar.ReadI32(dock.m_nScreenHeight))) {
        return false;
    }
    std::uint16_t bars = 0;
    if (!ar.ReadU16(bars)) {
        return false;
    }
    const std::size_t minBar = extended ? 34 : 26;
    if (std::size_t{bars} * minBar > ar.Remaining()) {
        return ar.Fail("the tool bar layout counts more bars than the file holds");
    }
    dock.m_arrBars.clear();
    for (std::uint16_t i = 0; i < bars; ++i) {
        CFTPDockBarInfo bar;
        if (!ar.ReadU32(bar.m_nBarID) || !ar.ReadI32(bar.m_bVisible) ||
            !ar.ReadI32(bar.m_bFloating) || !ar.ReadI32(bar.m_bHorz) || !ar.ReadI32(bar.m_ptPosX) ||
            !ar.ReadI32(bar.m_ptPosY)) {
            return false;
        }
        if (extended) {
            if (!ar.ReadI32(bar.m_nMRUWidth) || !ar.ReadI32(bar.m_bDocking)) {
                return false;
            }
            if (bar.m_bDocking != 0) {
                if (!ar.ReadU32(bar.m_uMRUDockID)) {
                    return false;
                }
                for (auto& v : bar.m_rectMRUDockPos) {
                    if (!ar.ReadI32(v)) {
                        return false;
                    }
                }
                if (!ar.ReadU32(bar.m_dwMRUFloatStyle) || !ar.ReadI32(bar.m_ptMRUFloatPosX) ||
                    !ar.ReadI32(bar.m_ptMRUFloatPosY)) {
                    return false;
                }
            }
        }
        std::uint16_t ids = 0;
        if (!ar.ReadU16(ids)) {
            return false;
        }
        if (std::size_t{ids} * 4 > ar.Remaining()) {
            return ar.Fail("a tool bar record counts more entries than the file holds");
        }
        for (std::uint16_t k = 0; k < ids; ++k) {
            std::uint32_t id = 0;
            if (!ar.ReadU32(id)) {
                return false;
            }
            bar.m_arrBarID.push_back(id);
        }
        dock.m_arrBars.push_back(std::move(bar));
    }
    return true;
}

void WriteDockState(ArchiveWriter& ar, const CFTPDockState& dock) {
    ar.WriteU32(2);
    ar.WriteI32(dock.m_nScreenWidth);
    ar.WriteI32(dock.m_nScreenHeight);
    const std::size_t bars = std::min<std::size_t>(dock.m_arrBars.size(), 0xFFFF);
    ar.WriteU16(static_cast<std::uint16_t>(bars));
    for (std::size_t i = 0; i < bars; ++i) {
        const CFTPDockBarInfo& bar = dock.m_arrBars[i];
        ar.WriteU32(bar.m_nBarID);
        ar.WriteI32(bar.m_bVisible);
        ar.WriteI32(bar.m_bFloating);
        ar.WriteI32(bar.m_bHorz);
        ar.WriteI32(bar.m_ptPosX);
        ar.WriteI32(bar.m_ptPosY);
        ar.WriteI32(bar.m_nMRUWidth);
        ar.WriteI32(bar.m_bDocking);
        if (bar.m_bDocking != 0) {
            ar.WriteU32(bar.m_uMRUDockID);
            for (auto v : bar.m_rectMRUDockPos) {
                ar.WriteI32(v);
            }
            ar.WriteU32(bar.m_dwMRUFloatStyle);
            ar.WriteI32(bar.m_ptMRUFloatPosX);
            ar.WriteI32(bar.m_ptMRUFloatPosY);
        }
        const std::size_t ids = std::min<std::size_t>(bar.m_arrBarID.size(), 0xFFFF);
        ar.WriteU16(static_cast<std::uint16_t>(ids));
        for (std::size_t k = 0; k < ids; ++k) {
            ar.WriteU32(bar.m_arrBarID[k]);
        }
    }
}

bool ReadLayout(ArchiveReader& ar, CFTPProfileX& layout) {
    if (!ar.ReadU32(layout.m_nVersion)) {
        return false;
    }
    if (layout.m_nVersion != 1) {
        return true;
    }
    auto& p = layout.m_placement;
    std::int32_t* placement[] = {&p.m_nLength,        &p.m_nFlags,      &p.m_ptMinX,
                                 &p.m_ptMinY,         &p.m_ptMaxX,      &p.m_ptMaxY,
                                 &p.m_rcNormalLeft,   &p.m_rcNormalTop, &p.m_rcNormalRight,
                                 &p.m_rcNormalBottom, &p.m_nShowCmd};
    if (!ReadDockState(ar, layout.m_dockState)) {
        return false;
    }
    for (auto* v : placement) {
        if (!ar.ReadI32(*v)) {
            return false;
        }
    }
    for (auto& v : layout.m_arrOuterSplitter) {
        if (!ar.ReadI32(v)) {
            return false;
        }
    }
    for (auto& v : layout.m_arrInnerSplitter) {
        if (!ar.ReadI32(v)) {
            return false;
        }
    }
    return true;
}

void WriteLayout(ArchiveWriter& ar, const CFTPProfileX& layout) {
    ar.WriteU32(1);
    WriteDockState(ar, layout.m_dockState);
    const auto& p = layout.m_placement;
    for (std::int32_t v :
         {p.m_nLength, p.m_nFlags, p.m_ptMinX, p.m_ptMinY, p.m_ptMaxX, p.m_ptMaxY, p.m_rcNormalLeft,
          p.m_rcNormalTop, p.m_rcNormalRight, p.m_rcNormalBottom, p.m_nShowCmd}) {
        ar.WriteI32(v);
    }
    for (auto v : layout.m_arrOuterSplitter) {
        ar.WriteI32(v);
    }
    for (auto v : layout.m_arrInnerSplitter) {
        ar.WriteI32(v);
    }
}

// --- Files ---

bool ReadWholeFile(int fd, std::vector<std::uint8_t>& data, std::string& error) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        error = ErrnoText();
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        error = "it is not a regular file";
        return false;
    }
    if (static_cast<std::uint64_t>(st.st_size) > CFTPProfile::kMaxFileBytes) {
        error = "it is larger than any profile can be";
        return false;
    }
    data.resize(static_cast<std::size_t>(st.st_size));
    std::size_t got = 0;
    for (;;) {
        if (got == data.size()) {
            // The file may have grown since fstat: read what follows too.
            if (data.size() >= CFTPProfile::kMaxFileBytes) {
                std::uint8_t probe = 0;
                ssize_t n = ::read(fd, &probe, 1);
                if (n == 0) {
                    return true;
                }
                error = "it is larger than any profile can be";
                return false;
            }
            data.resize(std::min<std::size_t>(data.size() + 65536, CFTPProfile::kMaxFileBytes));
        }
        ssize_t n = ::read(fd, data.data() + got, data.size() - got);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            error = ErrnoText();
            return false;
        }
        if (n == 0) {
            data.resize(got);
            return true;
        }
        got += static_cast<std::size_t>(n);
    }
}

// Creates every missing folder of `dir` with mode 0700.
void MakeFolders(const std::string& dir) {
    for (std::size_t pos = 1; pos <= dir.size(); ++pos) {
        if (pos == dir.size() || dir[pos] == '/') {
            ::mkdir(dir.substr(0, pos).c_str(), 0700);
        }
    }
}

// Writes `data` to a new file beside `path`, flushes it to the disk and
// renames it over `path`; a symbolic link at `path` keeps pointing at the
// new content. On failure nothing at `path` changes.
bool WriteFileAtomically(const std::string& path, const std::vector<std::uint8_t>& data,
                         const std::function<void(const std::string&)>& beforeReplace,
                         std::string& error) {
    std::string target = path;
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        if (char* real = ::realpath(path.c_str(), nullptr)) {
            target = real;
            std::free(real);
        }
    }
    const auto slash = target.rfind('/');
    // The folder that holds the file ("/" for a file at the root).
    const std::string dir = slash == std::string::npos ? "."
                            : slash == 0               ? "/"
                                                       : target.substr(0, slash);
    const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
    std::string temp = (dir == "/" ? std::string() : dir) + "/." + base + ".XXXXXX";
    int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) {
        error = "cannot create a file in " + dir + ": " + ErrnoText();
        return false;
    }
    auto fail = [&](const char* what) {
        error = std::string(what) + ": " + ErrnoText();
        if (fd >= 0) {
            ::close(fd);
        }
        ::unlink(temp.c_str());
        return false;
    };
    if (::fchmod(fd, 0600) != 0) {
        return fail("cannot set the file mode");
    }
    std::size_t done = 0;
    while (done < data.size()) {
        ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            if (n == 0) {
                errno = ENOSPC;
            }
            return fail("cannot write");
        }
        done += static_cast<std::size_t>(n);
    }
    if (::fsync(fd) != 0) {
        return fail("cannot flush");
    }
    const int closing = fd;
    fd = -1;
    if (::close(closing) != 0) {
        return fail("cannot close");
    }
    if (beforeReplace) {
        beforeReplace(temp);
    }
    if (::rename(temp.c_str(), target.c_str()) != 0) {
        return fail("cannot replace the profile");
    }
    // Make the rename itself durable (best effort).
    int dirFd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
    return true;
}

// Renames `from` to `to` unless `to` exists.
bool RenameNoReplace(const std::string& from, const std::string& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
        return true;
    }
    if (errno != EINVAL && errno != ENOSYS) {
        return false;
    }
    // The file system cannot refuse an existing name by itself.
    struct stat st {};
    if (::lstat(to.c_str(), &st) == 0) {
        errno = EEXIST;
        return false;
    }
    return ::rename(from.c_str(), to.c_str()) == 0;
}

} // namespace

// ---------------------------------------------------------------------------
// Serialization

std::vector<std::uint8_t> CFTPProfile::Serialize() const {
    const SharedSettings shared = GetSharedSettings();
    ArchiveWriter ar;
    ar.WriteString(m_strHeader);
    ar.WriteI32(m_nViewStyle);
    ar.WriteU16(m_wSortOrder);
    ar.WriteU16(shared.m_wTransferMode);
    ar.WriteStringList(m_arrGotoHistory);
    ar.WriteString(shared.m_strEMail);
    ar.WriteBool(shared.m_bLogCommands);
    ar.WriteBool(shared.m_bLogResponses);
    ar.WriteBool(shared.m_bLogHostAddress);
    ar.WriteBool(m_bAutoExplore);
    ar.WriteStringList(shared.m_arrTextExtensions);
    ar.WriteString(m_firewall.m_strProxyAddress);
    ar.WriteU32(m_firewall.m_nProxyPort);
    ar.WriteString(m_firewall.m_strProxyUser);
    ar.WriteString(SwapNibbles(m_firewall.m_strProxyPassword));
    ar.WriteU16(m_firewall.m_wFirewallType);
    ar.WriteBool(m_firewall.m_bFirewallEnabled);
    ar.WriteBool(m_bConfirmDelete);
    ar.WriteBool(m_bConfirmMove);
    ar.WriteBool(m_bConfirmCopy);
    ar.WriteU32(m_nReserved21);
    ar.WriteBool(m_bConfirmDisconnect);
    ar.WriteBool(m_bConfirmStop);
    ar.WriteU32(m_nReserved24);
    CFTPSiteFolder::Serialize(ar);
    WriteLayout(ar, m_layout);
    return ar.Data();
}

bool CFTPProfile::ReadBody(ArchiveReader& ar) {
    std::string header;
    if (!ar.ReadRawString(header)) {
        return false;
    }
    const std::string_view prefix = kSignature.substr(0, kSignature.size() - 1);
    if (header.size() != kSignature.size() || header.compare(0, prefix.size(), prefix) != 0) {
        return ar.Fail("it is not a Quillbeck profile");
    }
    const char digit = header.back();
    const int version = digit >= '0' && digit <= '9' ? digit - '0' : -1;
    if (version != 1 && version != 2) {
        return ar.Fail("it is a profile of a version this program does not read");
    }
    m_nVersionRead = version;

    SharedSettings shared;
    std::string proxyPassword;
    if (!ar.ReadI32(m_nViewStyle) || !ar.ReadU16(m_wSortOrder) ||
        !ar.ReadU16(shared.m_wTransferMode) || !ar.ReadStringList(m_arrGotoHistory) ||
        !ar.ReadString(shared.m_strEMail) || !ar.ReadBool(shared.m_bLogCommands) ||
        !ar.ReadBool(shared.m_bLogResponses) || !ar.ReadBool(shared.m_bLogHostAddress) ||
        !ar.ReadBool(m_bAutoExplore) || !ar.ReadStringList(shared.m_arrTextExtensions) ||
        !ar.ReadString(m_firewall.m_strProxyAddress) || !ar.ReadU32(m_firewall.m_nProxyPort) ||
        !ar.ReadString(m_firewall.m_strProxyUser) || !ar.ReadRawString(proxyPassword) ||
        !ar.ReadU16(m_firewall.m_wFirewallType) || !ar.ReadBool(m_firewall.m_bFirewallEnabled) ||
        !ar.ReadBool(m_bConfirmDelete) || !ar.ReadBool(m_bConfirmMove) ||
        !ar.ReadBool(m_bConfirmCopy) || !ar.ReadU32(m_nReserved21) ||
        !ar.ReadBool(m_bConfirmDisconnect) || !ar.ReadBool(m_bConfirmStop) ||
        !ar.ReadU32(m_nReserved24)) {
        return false;
    }
    m_firewall.m_strProxyPassword = DecodeArchiveText(SwapNibbles(proxyPassword));
    SetSharedSettings(std::move(shared));

    TreeReader tree(ar);
    if (!tree.ReadFolderBody(*this, 0)) {
        return false;
    }
    if (version == 2) {
        if (!ReadLayout(ar, m_layout)) {
            return false;
        }
        if (m_layout.m_nVersion == 1) {
            m_layout.m_dockState.ScaleToScreen(m_nScreenWidth, m_nScreenHeight);
        }
    }
    return true;
}

bool CFTPProfile::Serialize(std::span<const std::uint8_t> data, std::string& error) {
    CFTPProfile read(m_strPath, m_bNamedByUser);
    read.m_nScreenWidth = m_nScreenWidth;
    read.m_nScreenHeight = m_nScreenHeight;
    read.m_strLabel.clear();
    read.m_strComments.clear();
    read.m_timeCreated = 0;
    ArchiveReader ar(data);
    if (!read.ReadBody(ar)) {
        error = ar.Error();
        return false;
    }
    TakePersistentFrom(read);
    m_nVersionRead = read.m_nVersionRead;
    m_strHeader = kSignature;
    m_bLoaded = true;
    return true;
}

void CFTPProfile::TakePersistentFrom(CFTPProfile& other) {
    m_strLabel = std::move(other.m_strLabel);
    m_strComments = std::move(other.m_strComments);
    m_timeCreated = other.m_timeCreated;
    m_arrFolders = std::move(other.m_arrFolders);
    m_arrSites = std::move(other.m_arrSites);
    m_nViewStyle = other.m_nViewStyle;
    m_wSortOrder = other.m_wSortOrder;
    m_arrGotoHistory = std::move(other.m_arrGotoHistory);
    m_bAutoExplore = other.m_bAutoExplore;
    m_bConfirmDelete = other.m_bConfirmDelete;
    m_bConfirmMove = other.m_bConfirmMove;
    m_bConfirmCopy = other.m_bConfirmCopy;
    m_nReserved21 = other.m_nReserved21;
    m_bConfirmDisconnect = other.m_bConfirmDisconnect;
    m_bConfirmStop = other.m_bConfirmStop;
    m_nReserved24 = other.m_nReserved24;
    m_layout = std::move(other.m_layout);
    m_firewall = std::move(other.m_firewall);
    SetSharedSettings(other.GetSharedSettings());
}

// ---------------------------------------------------------------------------
// Load and save

bool CFTPProfile::FormPath() {
    if (m_strPath.empty() && m_bDefaultLocation) {
        m_strPath = DefaultProfilePath();
    }
    return !m_strPath.empty();
}

bool CFTPProfile::LoadProfile() {
    m_strLoadNote.clear();
    m_strUnreadable.clear();
    m_strSettingsUnreadable.clear();
    m_bSiteSettingsHeld = false;
    m_bNamedFileMissing = false;
    if (!FormPath()) {
        return false;
    }
    int fd = ::open(m_strPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) {
            if (m_bNamedByUser) {
                m_bNamedFileMissing = true;
                return false;
            }
            SetDefaults();
            return true;
        }
        if (m_bReadOnly) {
            m_strUnreadable = ErrnoText();
            return false;
        }
        PreserveUnreadable(ErrnoText());
        return true;
    }
    std::vector<std::uint8_t> data;
    std::string error;
    const bool got = ReadWholeFile(fd, data, error);
    ::close(fd);
    if (got && Serialize(data, error)) {
        return LoadSiteSettings();
    }
    if (m_bReadOnly) {
        m_strUnreadable = error.empty() ? std::string("unknown reason") : error;
        return false;
    }
    PreserveUnreadable(error);
    return true;
}

void CFTPProfile::PreserveUnreadable(const std::string& reason) {
    SetDefaults();
    const std::string head =
        "The profile \"" + m_strPath + "\" could not be read (" + reason + ").";
    struct stat st {};
    std::string failure;
    if (::lstat(m_strPath.c_str(), &st) != 0) {
        failure = ErrnoText();
    } else if (!S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode)) {
        failure = "it is not a regular file";
    } else {
        for (int n = 0; n < 1000; ++n) {
            const std::string bad = m_strPath + ".bad" + (n == 0 ? "" : "." + std::to_string(n));
            if (RenameNoReplace(m_strPath, bad)) {
                m_strLoadNote =
                    head + "\nIt was kept as \"" + bad + "\"; the default settings are used.";
                // Its site settings name its sites: they stay together.
                const std::string settings = SiteSettingsPath(m_strPath);
                if (::lstat(settings.c_str(), &st) == 0 &&
                    !RenameNoReplace(settings, SiteSettingsPath(bad))) {
                    m_bSiteSettingsHeld = true;
                }
                return;
            }
            if (errno != EEXIST) {
                failure = ErrnoText();
                break;
            }
        }
        if (failure.empty()) {
            failure = "every name for a copy is taken";
        }
    }
    // It cannot be set aside: never write over it in this run.
    m_bLoaded = false;
    m_strLoadNote = head + "\nIt could not be set aside (" + failure +
                    "); the default settings are used and nothing will be saved.";
}

bool CFTPProfile::LoadSiteSettings() {
    m_strSettingsUnreadable.clear();
    m_bSiteSettingsHeld = false;
    const std::string path = SiteSettingsPath(m_strPath);
    std::string error;
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 && errno == ENOENT) {
        return true; // written by a build without site settings, or none yet
    }
    if (fd < 0) {
        error = ErrnoText();
    } else {
        std::vector<std::uint8_t> data;
        const bool got = ReadWholeFile(fd, data, error);
        ::close(fd);
        if (got) {
            const std::string_view text(reinterpret_cast<const char*>(data.data()), data.size());
            if (ReadSiteSettings(text, *this, error)) {
                return true;
            }
        }
    }
    if (m_bReadOnly) {
        m_strSettingsUnreadable = error.empty() ? std::string("unknown reason") : error;
        return false;
    }
    const std::string head =
        "The site settings \"" + path + "\" could not be read (" + error + ").";
    struct stat st {};
    std::string failure;
    if (::lstat(path.c_str(), &st) != 0) {
        failure = ErrnoText();
    } else if (!S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode)) {
        failure = "it is not a regular file";
    } else {
        for (int n = 0; n < 1000; ++n) {
            const std::string bad = path + ".bad" + (n == 0 ? "" : "." + std::to_string(n));
            if (RenameNoReplace(path, bad)) {
                m_strLoadNote = head + "\nThey were kept as \"" + bad +
                                "\"; every site has the default security settings.";
                return true;
            }
            if (errno != EEXIST) {
                failure = ErrnoText();
                break;
            }
        }
        if (failure.empty()) {
            failure = "every name for a copy is taken";
        }
    }
    m_bSiteSettingsHeld = true;
    m_strLoadNote = head + "\nThey could not be set aside (" + failure +
                    "); every site has the default security settings and they will not be "
                    "saved.";
    return true;
}

bool CFTPProfile::SaveSiteSettings() {
    if (m_bSiteSettingsHeld) {
        return true;
    }
    const std::string path = SiteSettingsPath(m_strPath);
    const std::string text = WriteSiteSettings(*this);
    struct stat st {};
    if (text.find('\n') + 1 == text.size() && ::lstat(path.c_str(), &st) != 0 && errno == ENOENT) {
        return true; // nothing to keep, and no file to bring up to date
    }
    const std::vector<std::uint8_t> data(text.begin(), text.end());
    return WriteFileAtomically(path, data, nullptr, m_strSaveError);
}

int CFTPProfile::SaveProfile(IQuestions* questions) {
    m_strSaveError.clear();
    if (!m_bLoaded || m_bReadOnly || !FormPath()) {
        return SAVE_NOTHING;
    }
    const std::vector<std::uint8_t> data = Serialize();
    if (m_bDefaultLocation) {
        const auto slash = m_strPath.rfind('/');
        if (slash != std::string::npos && slash > 0) {
            MakeFolders(m_strPath.substr(0, slash));
        }
    }
    if (SaveSiteSettings() &&
        WriteFileAtomically(m_strPath, data, m_beforeReplace, m_strSaveError)) {
        return SAVE_DONE;
    }
    const int answer = questions != nullptr
                           ? questions->MessageBox("Failed to save profile\n" + m_strPath,
                                                   MB_RETRYCANCEL | MB_ICONERROR)
                           : IDCANCEL;
    return answer == IDRETRY ? SAVE_RETRY : SAVE_NOTHING;
}

} // namespace qb
