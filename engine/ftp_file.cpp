#include "engine/ftp_file.h"

#include "platform/time_util.h"

namespace qb {

CFTPFile::CFTPFile(std::string name, const SiteRef& site, bool isFile)
    : m_strName(std::move(name)), m_nConnection(site.id), m_strHost(site.host), m_bFile(isFile),
      m_time(StartOfYear(std::time(nullptr))) {}

CFTPFile::CFTPFile(std::string name, const SiteRef& site, bool isFile, std::time_t time)
    : m_strName(std::move(name)), m_nConnection(site.id), m_strHost(site.host), m_bFile(isFile),
      m_time(time) {}

CFTPFile::CFTPFile(const CFTPFile* parent, std::string name, const SiteRef& site, bool isFile)
    : CFTPFile(std::move(name), site, isFile) {
    if (parent) {
        m_pParent = std::make_shared<const CFTPFile>(*parent);
    }
}

const std::string& CFTPFile::GetHost() const {
    const CFTPFile* item = this;
    while (item->m_strHost.empty() && item->m_pParent &&
           item->m_pParent->m_nConnection == m_nConnection) {
        item = item->m_pParent.get();
    }
    return item->m_strHost;
}

std::string CFTPFile::GetName() const {
    auto slash = m_strName.rfind('/');
    return slash == std::string::npos ? m_strName : m_strName.substr(slash + 1);
}

std::string CFTPFile::GetPath(bool withHost) const {
    std::string path;
    if (m_pParent) {
        path = m_pParent->GetPath(false);
    }
    path = path.empty() ? m_strName : path + "/" + m_strName;
    if (withHost && IsRemote()) {
        const std::string& host = GetHost();
        if (!host.empty()) {
            return host + " : " + path;
        }
    }
    return path;
}

void CFTPFile::ToParent() {
    if (m_pParent) {
        m_strName = m_pParent->GetPath(false);
        m_pParent.reset();
        return;
    }
    auto slash = m_strName.rfind('/');
    if (slash == std::string::npos) {
        m_strName.clear();
    } else {
        m_strName.erase(slash);
    }
}

bool CFTPFile::IsSame(const CFTPFile& a, const CFTPFile& b) {
    return a.m_nConnection == b.m_nConnection && a.GetPath(false) == b.GetPath(false);
}

CFTPFileArray::CFTPFileArray(const CFTPFileArray& other) {
    m_items.reserve(other.m_items.size());
    for (const auto& item : other.m_items) {
        m_items.push_back(std::make_unique<CFTPFile>(*item));
    }
}

CFTPFileArray& CFTPFileArray::operator=(const CFTPFileArray& other) {
    if (this != &other) {
        CFTPFileArray copy(other);
        *this = std::move(copy);
    }
    return *this;
}

std::size_t CFTPFileArray::Add(std::unique_ptr<CFTPFile> item) {
    m_items.push_back(std::move(item));
    return m_items.size() - 1;
}

CFTPFolderContent::CFTPFolderContent(const CFTPFile& folder)
    : m_pFolder(std::make_unique<CFTPFile>(folder)),
      m_sharedFolder(std::make_shared<const CFTPFile>(folder)) {}

CFTPFolderContent::CFTPFolderContent(const CFTPFolderContent& other)
    : m_pFolder(std::make_unique<CFTPFile>(*other.m_pFolder)), m_files(other.m_files),
      m_folders(other.m_folders), m_sharedFolder(other.m_sharedFolder) {}

std::size_t CFTPFolderContent::Add(std::string name, bool isFile, std::time_t time, FileSize size,
                                   const std::string& link) {
    // Entries share the folder's host through their parent.
    auto item = std::make_unique<CFTPFile>(std::move(name), SiteRef{m_pFolder->m_nConnection, {}},
                                           isFile, time);
    item->m_pParent = m_sharedFolder;
    if (!link.empty()) {
        item->m_strLink = link;
    }
    item->SetSize(size);
    return isFile ? m_files.Add(std::move(item)) : m_folders.Add(std::move(item));
}

} // namespace qb
