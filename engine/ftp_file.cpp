#include "engine/ftp_file.h"

#include "platform/time_util.h"

#include <cstring>
#include <new>
#include <stdexcept>

namespace qb {

CFTPFile::CFTPFile(std::string name, const SiteRef& site, bool isFile)
    : m_strName(name), m_nConnection(site.id), m_strHost(site.host),
      m_time(StartOfYear(std::time(nullptr))), m_bFile(isFile) {}

CFTPFile::CFTPFile(std::string name, const SiteRef& site, bool isFile, std::time_t time)
    : m_strName(name), m_nConnection(site.id), m_strHost(site.host), m_time(time), m_bFile(isFile) {
}

CFTPFile::CFTPFile(const CFTPFile* parent, std::string name, const SiteRef& site, bool isFile)
    : CFTPFile(std::move(name), site, isFile) {
    if (parent) {
        m_pParent = std::make_shared<const CFTPFile>(*parent);
    }
}

std::string CFTPFile::GetHost() const {
    const CFTPFile* item = this;
    while (item->m_strHost.empty() && item->m_pParent &&
           item->m_pParent->m_nConnection == m_nConnection) {
        item = item->m_pParent.get();
    }
    return item->m_strHost;
}

std::string_view CFTPFile::NameView() const {
    const std::string_view name = m_strName;
    if (name.empty()) {
        return name;
    }
    const void* slash = ::memrchr(name.data(), '/', name.size());
    return slash ? name.substr(
                       static_cast<std::size_t>(static_cast<const char*>(slash) - name.data()) + 1)
                 : name;
}

ListedEntry AsListedEntry(const CFTPFile& file) {
    return ListedEntry{file.NameView(), file.m_strLink.view(), file.m_time, file.m_nSize,
                       file.m_bFile};
}

std::string CFTPFile::GetPath(bool withHost) const {
    std::string path;
    if (m_pParent) {
        path = m_pParent->GetPath(false);
    }
    if (!path.empty()) {
        path += '/';
    }
    path.append(m_strName.view());
    if (withHost && IsRemote()) {
        const std::string host = GetHost();
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
    const std::string_view name = m_strName;
    const auto slash = name.rfind('/');
    if (slash == std::string_view::npos) {
        m_strName.clear();
    } else {
        m_strName = std::string(name.substr(0, slash));
    }
}

bool CFTPFile::IsSame(const CFTPFile& a, const CFTPFile& b) {
    return a.m_nConnection == b.m_nConnection && a.GetPath(false) == b.GetPath(false);
}

// --- CFTPFileArray ----------------------------------------------------------------

void CFTPFileArray::BlockDeleter::operator()(CFTPFile* block) const {
    ::operator delete (static_cast<void*>(block), std::align_val_t{alignof(CFTPFile)});
}

CFTPFileArray::CFTPFileArray(const CFTPFileArray& other) {
    for (std::size_t i = 0; i < other.m_nCount; ++i) {
        Add(*other.GetAt(i));
    }
}

CFTPFileArray& CFTPFileArray::operator=(const CFTPFileArray& other) {
    if (this != &other) {
        CFTPFileArray copy(other);
        *this = std::move(copy);
    }
    return *this;
}

CFTPFileArray::CFTPFileArray(CFTPFileArray&& other) noexcept
    : m_blocks(std::move(other.m_blocks)), m_nCount(other.m_nCount),
      m_pArena(std::move(other.m_pArena)) {
    other.m_blocks.clear();
    other.m_nCount = 0;
}

CFTPFileArray& CFTPFileArray::operator=(CFTPFileArray&& other) noexcept {
    if (this != &other) {
        RemoveAll();
        m_blocks = std::move(other.m_blocks);
        m_nCount = other.m_nCount;
        m_pArena = std::move(other.m_pArena);
        other.m_blocks.clear();
        other.m_nCount = 0;
    }
    return *this;
}

CFTPFile* CFTPFileArray::GetAt(std::size_t index) const {
    if (index >= m_nCount) {
        throw std::out_of_range("CFTPFileArray::GetAt");
    }
    return m_blocks[index >> kBlockBits].get() + (index & (kBlock - 1));
}

void* CFTPFileArray::NextSlot() {
    if ((m_nCount & (kBlock - 1)) == 0 && (m_nCount >> kBlockBits) == m_blocks.size()) {
        void* raw = ::operator new (sizeof(CFTPFile) * kBlock, std::align_val_t{alignof(CFTPFile)});
        m_blocks.emplace_back(static_cast<CFTPFile*>(raw));
    }
    return m_blocks[m_nCount >> kBlockBits].get() + (m_nCount & (kBlock - 1));
}

std::size_t CFTPFileArray::Add(std::unique_ptr<CFTPFile> item) {
    new (NextSlot()) CFTPFile(std::move(*item));
    return m_nCount++;
}

std::size_t CFTPFileArray::Add(const CFTPFile& item) {
    new (NextSlot()) CFTPFile(item);
    return m_nCount++;
}

std::size_t CFTPFileArray::AddEntry(std::string_view name,
                                    const std::shared_ptr<const CFTPFile>& parent,
                                    ConnectionId connection, bool isFile, std::time_t time,
                                    FileSize size, std::string_view link) {
    if (!m_pArena) {
        m_pArena = std::make_unique<CFTPTextArena>();
    }
    CFTPFile* item =
        new (NextSlot()) CFTPFile(CFTPFile::ListedTag{}, parent, connection, isFile, time, size);
    ++m_nCount;
    m_pArena->Store(item->m_strName, name);
    m_pArena->Store(item->m_strLink, link);
    return m_nCount - 1;
}

void CFTPFileArray::Clear() {
    for (std::size_t i = 0; i < m_nCount; ++i) {
        GetAt(i)->~CFTPFile();
    }
    m_nCount = 0;
    if (m_pArena) {
        m_pArena->Reuse();
    }
}

void CFTPFileArray::RemoveAll() {
    for (std::size_t i = 0; i < m_nCount; ++i) {
        GetAt(i)->~CFTPFile();
    }
    m_blocks.clear();
    m_nCount = 0;
    m_pArena.reset();
}

// --- CFTPFolderContent ------------------------------------------------------------

CFTPFolderContent::CFTPFolderContent(const CFTPFile& folder)
    : m_pFolder(std::make_unique<CFTPFile>(folder)),
      m_sharedFolder(std::make_shared<const CFTPFile>(folder)) {}

CFTPFolderContent::CFTPFolderContent(const CFTPFolderContent& other)
    : m_pFolder(std::make_unique<CFTPFile>(*other.m_pFolder)), m_files(other.m_files),
      m_folders(other.m_folders), m_sharedFolder(other.m_sharedFolder) {}

std::size_t CFTPFolderContent::Add(std::string name, bool isFile, std::time_t time, FileSize size,
                                   const std::string& link) {
    return AddListed(name, isFile, time, size, link);
}

std::size_t CFTPFolderContent::AddListed(std::string_view name, bool isFile, std::time_t time,
                                         FileSize size, std::string_view link) {
    // Entries share the folder's host through their parent.
    CFTPFileArray& array = isFile ? m_files : m_folders;
    return array.AddEntry(name, m_sharedFolder, m_pFolder->m_nConnection, isFile, time, size, link);
}

} // namespace qb
