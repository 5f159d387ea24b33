#include "view_item.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/statvfs.h>

namespace qb::ui {

CFTPVI::CFTPVI(std::uint16_t kind, std::string name, std::time_t time, FileSize size)
    : m_wKind(kind), m_strName(std::move(name)), m_nSize(size), m_time(time) {}

CFTPVI::~CFTPVI() = default;

void CFTPVI::SetState(std::uint16_t bit) {
    m_wState |= (bit & VIF_EXPLORED) ? (VIF_EXPLORED | VIF_CHILDREN | VIF_CONNECTED) : bit;
}

void CFTPVI::ClearState(std::uint16_t bit) {
    if (bit & (VIF_CONNECTED | VIF_CHILDREN)) {
        bit |= VIF_EXPLORED;
    }
    m_wState &= static_cast<std::uint16_t>(~bit);
}

void CFTPVI::Assign(const CFTPVI& source) {
    m_nSize = source.m_nSize;
    m_strName = source.m_strName;
    m_time = source.m_time;
    m_wState = source.m_wState;
    m_wMark = source.m_wMark;
    m_wKind = source.m_wKind;
    m_strLink = source.m_strLink;
    m_pChildren.reset();
    if (const CFTPVIArray* children = source.GetChildren()) {
        for (const auto& child : children->Items()) {
            auto copy = std::make_unique<CFTPVI>(child->GetKind(), std::string(), 0, 0);
            copy->Assign(*child);
            AddChild(std::move(copy), false);
        }
    }
}

bool CFTPVI::AddChild(std::unique_ptr<CFTPVI> item, bool merge, std::ptrdiff_t* index) {
    if (!item) {
        return false;
    }
    if (!m_pChildren) {
        m_pChildren = std::make_unique<CFTPVIArray>();
    }
    auto& items = m_pChildren->Items();
    if (merge) {
        for (auto& child : items) {
            if (child->GetName() == item->GetName()) {
                child->SetTime(item->GetTime());
                child->SetSize(item->GetSize());
                if (index != nullptr) {
                    *index = -1;
                }
                return true;
            }
        }
    }
    items.push_back(std::move(item));
    if (index != nullptr) {
        *index = static_cast<std::ptrdiff_t>(items.size() - 1);
    }
    return true;
}

bool CFTPVI::RemoveChild(const std::string& name) {
    if (!m_pChildren) {
        return false;
    }
    auto& items = m_pChildren->Items();
    auto it = std::find_if(items.begin(), items.end(),
                           [&](const auto& child) { return child->GetName() == name; });
    if (it == items.end()) {
        return false;
    }
    items.erase(it);
    return true;
}

bool CFTPVI::FindChild(const std::string& name, FileSize* size, std::time_t* time) const {
    if (!m_pChildren) {
        return false;
    }
    for (const auto& child : m_pChildren->Items()) {
        if (child->GetName() == name) {
            if (size != nullptr) {
                *size = child->GetSize();
            }
            if (time != nullptr) {
                *time = child->GetTime();
            }
            return true;
        }
    }
    return false;
}

bool CFTPVI::HasNoChild(const std::string& name) const {
    return !FindChild(name, nullptr, nullptr);
}

bool CFTPVI::CanCutCopy() const {
    switch (m_wKind) {
    case VI_SITEFOLDER:
    case VI_SITE:
    case VI_LOCALFOLDER:
    case VI_LOCALFILE:
    case VI_REMOTEFOLDER:
    case VI_REMOTEFILE:
        return true;
    default:
        return false;
    }
}

int CFTPVI::Image(bool selected) const {
    switch (m_wKind) {
    case VI_ROOT:
        return IMG_ROOT;
    case VI_RAMDISK:
    case VI_FLOPPY:
    case VI_FIXEDDISK:
    case VI_CDROM:
    case VI_REMOVABLE:
    case VI_NETDRIVE:
        return m_wKind - 1;
    case VI_SITEFOLDER:
        return IMG_SITE_FOLDER;
    case VI_SITE:
        return Has(VIF_EXPLORED) ? IMG_SITE_CONNECTED : IMG_SITE;
    case VI_LOCALFOLDER:
        return selected ? IMG_LOCAL_FOLDER_OPEN : IMG_LOCAL_FOLDER;
    case VI_LOCALFILE:
        return IMG_LOCAL_FILE;
    case VI_REMOTEFOLDER: {
        int normal = m_strLink.empty()
                         ? (Has(VIF_EXPLORED) ? IMG_REMOTE_FOLDER_EXPLORED : IMG_REMOTE_FOLDER)
                         : (Has(VIF_EXPLORED) ? IMG_LINK_FOLDER_EXPLORED : IMG_LINK_FOLDER);
        return selected ? normal + 1 : normal;
    }
    case VI_REMOTEFILE:
        return IMG_REMOTE_FILE;
    default:
        return -1;
    }
}

std::string GroupedSize(FileSize size) {
    std::string digits = std::to_string(size);
    std::string out;
    out.reserve(digits.size() + digits.size() / 3);
    const std::size_t lead = digits.size() % 3 == 0 ? 3 : digits.size() % 3;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i != 0 && (i - lead) % 3 == 0 && i >= lead) {
            out.push_back(',');
        }
        out.push_back(digits[i]);
    }
    return out;
}

std::string MegabyteText(FileSize bytes) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.2f MB", static_cast<double>(bytes) / 1048576.0);
    return buffer;
}

std::string CFTPVI::SizeText() const {
    if (m_wKind == VI_LOCALFOLDER || m_wKind == VI_SITEFOLDER || m_wKind == VI_SITE) {
        return "N/A";
    }
    if (!IsReady()) {
        return "Not Ready";
    }
    if ((m_wKind == VI_REMOTEFOLDER || m_wKind == VI_REMOTEFILE) && m_nSize == kUnknownSize) {
        return "Need Refresh";
    }
    return GroupedSize(m_nSize);
}

std::string CFTPVI::TimeText() const {
    if (IsDrive()) {
        return "N/A";
    }
    if ((m_wKind == VI_REMOTEFOLDER || m_wKind == VI_REMOTEFILE) && m_nSize == kUnknownSize) {
        return "Need Refresh";
    }
    std::tm local{};
    localtime_r(&m_time, &local);
    char buffer[128];
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-y2k"
    const std::size_t n = std::strftime(buffer, sizeof buffer, "%c", &local);
#pragma GCC diagnostic pop
    return std::string(buffer, n);
}

namespace {

int CompareNoCase(const std::string& a, const std::string& b) {
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        unsigned char x = static_cast<unsigned char>(a[i]);
        unsigned char y = static_cast<unsigned char>(b[i]);
        if (x >= 'A' && x <= 'Z') {
            x = static_cast<unsigned char>(x - 'A' + 'a');
        }
        if (y >= 'A' && y <= 'Z') {
            y = static_cast<unsigned char>(y - 'A' + 'a');
        }
        if (x != y) {
            return x < y ? -1 : 1;
        }
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

} // namespace

bool SiblingLess(const CFTPVI& a, const CFTPVI& b) {
    if (a.IsDrive() && b.IsDrive()) {
        return static_cast<const CFTPVILocalDrive&>(a).GetIndex() <
               static_cast<const CFTPVILocalDrive&>(b).GetIndex();
    }
    if (a.IsDrive() != b.IsDrive()) {
        return a.IsDrive();
    }
    if (a.GetKind() != b.GetKind()) {
        return a.GetKind() < b.GetKind();
    }
    const int c = CompareNoCase(a.GetName(), b.GetName());
    return c != 0 ? c < 0 : a.GetName() < b.GetName();
}

// ---- Mounted volumes ---------------------------------------------------------

namespace {

// /proc/self/mounts writes space, tab, newline and backslash as \ooo.
std::string Unescape(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 3 < text.size() &&
            std::isdigit(static_cast<unsigned char>(text[i + 1])) != 0) {
            out.push_back(static_cast<char>(std::stoi(text.substr(i + 1, 3), nullptr, 8)));
            i += 3;
        } else {
            out.push_back(text[i]);
        }
    }
    return out;
}

bool StartsWith(const std::string& text, const char* prefix) {
    return text.rfind(prefix, 0) == 0;
}

bool IsNetwork(const std::string& fs) {
    return fs == "nfs" || fs == "nfs4" || fs == "cifs" || fs == "smb3" || fs == "smbfs" ||
           fs == "fuse.sshfs" || fs == "sshfs" || fs == "davfs" || fs == "fuse.davfs";
}

bool IsUserVisible(const MountInfo& m) {
    if (IsNetwork(m.fsType) || m.fsType == "iso9660" || m.fsType == "udf") {
        return true;
    }
    const bool media = StartsWith(m.mountPoint, "/media/") || StartsWith(m.mountPoint, "/mnt/") ||
                       StartsWith(m.mountPoint, "/run/media/") || m.mountPoint == "/mnt" ||
                       m.mountPoint == "/media";
    if (m.fsType == "tmpfs" || m.fsType == "ramfs") {
        return media;
    }
    if (!StartsWith(m.device, "/dev/") || StartsWith(m.device, "/dev/loop")) {
        return false;
    }
    // Block devices bound into system places (containers' /etc/hosts and
    // the like) are not volumes a user would pick.
    return media || StartsWith(m.mountPoint, "/home") || StartsWith(m.mountPoint, "/srv") ||
           StartsWith(m.mountPoint, "/data") || StartsWith(m.mountPoint, "/work") ||
           StartsWith(m.mountPoint, "/boot");
}

} // namespace

std::vector<MountInfo> ParseMounts(const std::string& table) {
    std::vector<MountInfo> out;
    MountInfo root{"", "/", ""};
    std::istringstream lines(table);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        MountInfo m;
        if (!(fields >> m.device >> m.mountPoint >> m.fsType)) {
            continue;
        }
        m.device = Unescape(m.device);
        m.mountPoint = Unescape(m.mountPoint);
        if (m.mountPoint == "/") {
            root = m; // the last mount on "/" is the one in effect
            continue;
        }
        if (!IsUserVisible(m)) {
            continue;
        }
        auto same = std::find_if(out.begin(), out.end(),
                                 [&](const MountInfo& o) { return o.mountPoint == m.mountPoint; });
        if (same != out.end()) {
            *same = m;
        } else {
            out.push_back(m);
        }
    }
    out.insert(out.begin(), root);
    return out;
}

std::vector<MountInfo> ReadMounts() {
    std::ifstream file("/proc/self/mounts");
    std::stringstream text;
    text << file.rdbuf();
    return ParseMounts(text.str());
}

std::uint16_t DriveKind(const MountInfo& mount) {
    const std::string& fs = mount.fsType;
    if (IsNetwork(fs)) {
        return VI_NETDRIVE;
    }
    if (fs == "iso9660" || fs == "udf") {
        return VI_CDROM;
    }
    if (fs == "tmpfs" || fs == "ramfs") {
        return VI_RAMDISK;
    }
    if (StartsWith(mount.device, "/dev/")) {
        std::error_code ec;
        const std::filesystem::path dev = std::filesystem::canonical(mount.device, ec);
        if (!ec) {
            std::string name = dev.filename().string();
            // A partition's disk: strip the partition number.
            for (int i = 0; i < 2 && !name.empty(); ++i) {
                std::ifstream removable("/sys/block/" + name + "/removable");
                int flag = 0;
                if (removable >> flag) {
                    return flag == 1 ? VI_REMOVABLE : VI_FIXEDDISK;
                }
                while (!name.empty() && std::isdigit(static_cast<unsigned char>(name.back()))) {
                    name.pop_back();
                }
                if (!name.empty() && name.back() == 'p') {
                    name.pop_back();
                }
            }
        }
    }
    return VI_FIXEDDISK;
}

std::string VolumeLabel(const std::string& device) {
    std::error_code ec;
    const std::filesystem::path target = std::filesystem::canonical(device, ec);
    if (ec) {
        return {};
    }
    for (const auto& entry : std::filesystem::directory_iterator("/dev/disk/by-label", ec)) {
        std::error_code ec2;
        if (std::filesystem::canonical(entry.path(), ec2) == target && !ec2) {
            // udev writes unsafe characters as \xNN.
            const std::string raw = entry.path().filename().string();
            std::string label;
            for (std::size_t i = 0; i < raw.size(); ++i) {
                if (raw[i] == '\\' && i + 3 < raw.size() && raw[i + 1] == 'x') {
                    label.push_back(
                        static_cast<char>(std::stoi(raw.substr(i + 2, 2), nullptr, 16)));
                    i += 3;
                } else {
                    label.push_back(raw[i]);
                }
            }
            return label;
        }
    }
    return {};
}

CFTPVILocalDrive::CFTPVILocalDrive(int index, MountInfo mount)
    : CFTPVI(VI_NONE, std::string(), std::time(nullptr), 0), m_nDrive(index),
      m_mount(std::move(mount)) {
    m_wKind = DriveKind(m_mount);
    RefreshVolume(false);
}

void CFTPVILocalDrive::RefreshVolume(bool force) {
    struct statvfs info {};
    const bool query = force || (m_wKind != VI_REMOVABLE && m_wKind != VI_FLOPPY);
    if (query && ::statvfs(m_mount.mountPoint.c_str(), &info) == 0) {
        const FileSize unit = info.f_frsize != 0 ? info.f_frsize : info.f_bsize;
        m_nSize = unit * static_cast<FileSize>(info.f_blocks);
        m_nFree = unit * static_cast<FileSize>(info.f_bavail);
        m_nUsed = unit * static_cast<FileSize>(info.f_blocks - info.f_bfree);
        m_bReady = true;
    } else {
        m_nSize = m_nFree = m_nUsed = 0;
        m_bReady = false;
    }
    SetLabel(m_bReady ? VolumeLabel(m_mount.device) : std::string());
}

void CFTPVILocalDrive::SetLabel(std::string label) {
    m_strLabel = std::move(label);
    m_strName = m_strLabel + "(" + m_mount.mountPoint + ")";
}

} // namespace qb::ui
