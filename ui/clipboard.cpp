#include "clipboard.h"

#include "view_item.h"

#include <numeric>

namespace qb::ui {

namespace {

// The list a view item kind goes into, or LIST_COUNT.
int ListOfKind(std::uint16_t kind) {
    switch (kind) {
    case VI_LOCALFILE:
        return CFTPClipboard::LOCAL_FILES;
    case VI_LOCALFOLDER:
        return CFTPClipboard::LOCAL_FOLDERS;
    case VI_REMOTEFILE:
        return CFTPClipboard::REMOTE_FILES;
    case VI_REMOTEFOLDER:
        return CFTPClipboard::REMOTE_FOLDERS;
    case VI_SITEFOLDER:
        return CFTPClipboard::SITE_FOLDERS;
    case VI_SITE:
        return CFTPClipboard::SITES;
    default:
        return CFTPClipboard::LIST_COUNT;
    }
}

bool IsFileList(int list) {
    return list == CFTPClipboard::LOCAL_FILES || list == CFTPClipboard::REMOTE_FILES;
}

bool IsRemoteList(int list) {
    return list == CFTPClipboard::REMOTE_FILES || list == CFTPClipboard::REMOTE_FOLDERS;
}

} // namespace

bool CFTPClipboard::Add(std::uint16_t kind, std::string path) {
    const int list = ListOfKind(kind);
    if (list == LIST_COUNT) {
        return false;
    }
    m_lists[list].push_back(std::move(path));
    return true;
}

void CFTPClipboard::Clear() {
    for (auto& list : m_lists) {
        list.clear();
    }
    m_positions.fill(0);
    m_bCut = false;
    m_bCutFromTree = false;
    m_bDelete = false;
    m_wTargetKind = 0;
    m_strTargetPath.clear();
    m_target.reset();
}

std::size_t CFTPClipboard::Count() const {
    return std::accumulate(m_lists.begin(), m_lists.end(), std::size_t{0},
                           [](std::size_t sum, const auto& list) { return sum + list.size(); });
}

bool CFTPClipboard::IsLocalContent() const {
    return (!m_lists[LOCAL_FILES].empty() || !m_lists[LOCAL_FOLDERS].empty()) &&
           m_lists[REMOTE_FILES].empty() && m_lists[REMOTE_FOLDERS].empty() &&
           m_lists[SITE_FOLDERS].empty() && m_lists[SITES].empty();
}

bool CFTPClipboard::IsRemoteContent() const {
    return (!m_lists[REMOTE_FILES].empty() || !m_lists[REMOTE_FOLDERS].empty()) &&
           m_lists[LOCAL_FILES].empty() && m_lists[LOCAL_FOLDERS].empty() &&
           m_lists[SITE_FOLDERS].empty() && m_lists[SITES].empty();
}

bool CFTPClipboard::IsSiteContent() const {
    return (!m_lists[SITE_FOLDERS].empty() || !m_lists[SITES].empty()) &&
           m_lists[LOCAL_FILES].empty() && m_lists[LOCAL_FOLDERS].empty() &&
           m_lists[REMOTE_FILES].empty() && m_lists[REMOTE_FOLDERS].empty();
}

bool CFTPClipboard::Contains(std::uint16_t kind, const std::string& path) const {
    const int list = ListOfKind(kind);
    if (list == LIST_COUNT) {
        return false;
    }
    for (const std::string& entry : m_lists[list]) {
        if (entry == path) {
            return true;
        }
    }
    return false;
}

std::string CFTPClipboard::Describe() const {
    const std::size_t count = Count();
    if (count == 0) {
        return "Unknown Item";
    }
    const std::string* first = nullptr;
    for (int list :
         {LOCAL_FILES, LOCAL_FOLDERS, REMOTE_FILES, REMOTE_FOLDERS, SITES, SITE_FOLDERS}) {
        if (!m_lists[list].empty()) {
            first = &m_lists[list].front();
            break;
        }
    }
    if (count == 1) {
        return *first;
    }
    std::string folder = FolderOf(*first);
    if (folder.empty()) {
        folder = "Quillbeck";
    }
    return std::to_string(count) + " items in " + folder;
}

void CFTPClipboard::SetCut(bool cut, bool fromTree) {
    m_bCut = cut;
    m_bCutFromTree = cut && fromTree;
}

void CFTPClipboard::SetTarget(std::uint16_t kind, std::string path,
                              std::optional<CFTPFile> record) {
    m_wTargetKind = kind;
    m_strTargetPath = std::move(path);
    m_target = std::move(record);
}

std::string CFTPClipboard::FolderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return std::string();
    }
    return slash == 0 ? std::string("/") : path.substr(0, slash);
}

std::string CFTPClipboard::NameOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::unordered_set<std::string> CFTPClipboard::NamesIn(const std::string& folder) const {
    std::unordered_set<std::string> names;
    for (const auto& list : m_lists) {
        for (const std::string& path : list) {
            if (FolderOf(path) == folder) {
                names.insert(NameOf(path));
            }
        }
    }
    return names;
}

std::string CFTPClipboard::Join(const std::string& folder, const std::string& name) {
    if (folder.empty()) {
        return name;
    }
    return folder.back() == '/' ? folder + name : folder + "/" + name;
}

bool CFTPClipboard::Refused(List list, const std::string& path,
                            const std::optional<CFTPFile>& record) const {
    if (m_wTargetKind == VI_ROOT || m_wTargetKind == VI_SITEFOLDER) {
        return true;
    }
    if (!IsRemoteList(list)) {
        // A local item into its own folder.
        return FolderOf(path) == m_strTargetPath;
    }
    if (!record) {
        return true; // its site is no longer connected
    }
    const bool sameConnection =
        m_target && m_target->IsRemote() && m_target->GetSite().id == record->GetSite().id;
    if (!sameConnection) {
        return false;
    }
    if (FolderOf(path) == m_strTargetPath) {
        return true;
    }
    // A folder into itself or into one of its own subfolders.
    return list == REMOTE_FOLDERS &&
           (m_strTargetPath == path || m_strTargetPath.rfind(path + "/", 0) == 0);
}

CFTPClipboard::Step CFTPClipboard::Next(CFTPFile& record, const ResolveRemote& resolve,
                                        const SkipRefused& skip) {
    for (int list : {LOCAL_FILES, LOCAL_FOLDERS, REMOTE_FILES, REMOTE_FOLDERS}) {
        const auto& entries = m_lists[list];
        while (m_positions[list] < entries.size()) {
            const std::string& path = entries[m_positions[list]++];
            const bool isFile = IsFileList(list);
            std::optional<CFTPFile> found;
            if (IsRemoteList(list)) {
                found = resolve ? resolve(path, isFile) : std::nullopt;
                if (!found && m_bDelete) {
                    return Step::End;
                }
            } else {
                found = CFTPFile(path, SiteRef{}, isFile);
            }
            if (!m_bDelete && Refused(static_cast<List>(list), path, found)) {
                if (skip && skip(path)) {
                    continue;
                }
                return Step::Stop;
            }
            record = std::move(*found);
            return Step::Record;
        }
    }
    return Step::End;
}

} // namespace qb::ui
