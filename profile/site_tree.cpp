#include "profile/site_tree.h"

#include "platform/archive.h"
#include "platform/questions.h"
#include "profile/scramble.h"

namespace qb {

namespace {

// Splits at the first "/": head before it, rest after it (rest empty when
// there is none).
void SplitHead(const std::string& path, std::string& head, std::string& rest) {
    const auto slash = path.find('/');
    if (slash == std::string::npos) {
        head = path;
        rest.clear();
    } else {
        head = path.substr(0, slash);
        rest = path.substr(slash + 1);
    }
}

template <class List>
auto FindByLabel(const List& list, const std::string& label) {
    for (auto it = list.begin(); it != list.end(); ++it) {
        if ((*it)->m_strLabel == label) {
            return it;
        }
    }
    return list.end();
}

std::string RenameRefusal(const char* kind, const std::string& newLabel) {
    return std::string("Failed to rename ") + kind + " \"" + newLabel +
           "\"\nAn item with the same label already exists.";
}

} // namespace

// ---------------------------------------------------------------------------
// CFTPSite

CFTPSite::CFTPSite(std::string label, std::string host, bool insideFirewall, std::string user,
                   std::string password, std::string loginFolder, std::uint32_t port,
                   std::string comments)
    : m_strLabel(std::move(label)), m_strHost(std::move(host)), m_strUser(std::move(user)),
      m_strPassword(std::move(password)), m_bAnonymous(false), m_timeCreated(std::time(nullptr)),
      m_nPort(port), m_strLoginFolder(std::move(loginFolder)), m_strComments(std::move(comments)),
      m_bInsideFirewall(insideFirewall) {}

CFTPSite::CFTPSite(std::string label, std::string host, bool insideFirewall,
                   std::string loginFolder, std::uint32_t port, std::string comments)
    : m_strLabel(std::move(label)), m_strHost(std::move(host)), m_bAnonymous(true),
      m_timeCreated(std::time(nullptr)), m_nPort(port), m_strLoginFolder(std::move(loginFolder)),
      m_strComments(std::move(comments)), m_bInsideFirewall(insideFirewall) {}

std::string CFTPSite::GetLoginUser() const {
    return m_bAnonymous ? "ftp" : m_strUser;
}

std::string CFTPSite::GetLoginPassword(const std::string& eMail) const {
    return m_bAnonymous ? eMail : m_strPassword;
}

void CFTPSite::Serialize(ArchiveWriter& ar) const {
    ar.WriteString(m_strLabel);
    ar.WriteString(m_strHost);
    ar.WriteString(m_strUser);
    ar.WriteString(SwapNibbles(m_strPassword));
    ar.WriteBool(m_bAnonymous);
    ar.WriteTime(m_timeCreated);
    ar.WriteU32(m_nPort);
    ar.WriteString(m_strLoginFolder);
    ar.WriteString(m_strComments);
    ar.WriteBool(m_bInsideFirewall);
}

// ---------------------------------------------------------------------------
// CFTPSiteFolder

CFTPSiteFolder::CFTPSiteFolder(std::string label, std::string comments)
    : m_strLabel(std::move(label)), m_strComments(std::move(comments)),
      m_timeCreated(std::time(nullptr)) {}

bool CFTPSiteFolder::HasLabel(const std::string& label) const {
    return FindByLabel(m_arrFolders, label) != m_arrFolders.end() ||
           FindByLabel(m_arrSites, label) != m_arrSites.end();
}

bool CFTPSiteFolder::AddSite(std::unique_ptr<CFTPSite>&& site) {
    if (!site || HasLabel(site->m_strLabel)) {
        return false;
    }
    m_arrSites.push_back(std::move(site));
    return true;
}

bool CFTPSiteFolder::AddSiteFolder(std::unique_ptr<CFTPSiteFolder>&& folder) {
    if (!folder || HasLabel(folder->m_strLabel)) {
        return false;
    }
    m_arrFolders.push_back(std::move(folder));
    return true;
}

bool CFTPSiteFolder::AddSiteCopy(const CFTPSite& site) {
    return AddSite(std::make_unique<CFTPSite>(site));
}

bool CFTPSiteFolder::AddSiteFolderCopy(const CFTPSiteFolder& folder) {
    if (HasLabel(folder.m_strLabel)) {
        return false;
    }
    auto copy = std::make_unique<CFTPSiteFolder>();
    copy->CopyFrom(folder);
    m_arrFolders.push_back(std::move(copy));
    return true;
}

CFTPSiteFolder* CFTPSiteFolder::FindSiteFolder(const std::string& path) {
    if (!path.empty() && path.front() == '/') {
        return nullptr;
    }
    CFTPSiteFolder* folder = this;
    std::string rest = path;
    std::string head;
    while (!rest.empty()) {
        SplitHead(std::string(rest), head, rest);
        auto it = FindByLabel(folder->m_arrFolders, head);
        if (it == folder->m_arrFolders.end()) {
            return nullptr;
        }
        folder = it->get();
        // A rest that begins with "/" after a split finds nothing, as a
        // path beginning with "/" does.
        if (!rest.empty() && rest.front() == '/') {
            return nullptr;
        }
    }
    return folder;
}

CFTPSite* CFTPSiteFolder::FindSite(const std::string& path) {
    CFTPSiteFolder* folder = this;
    std::string rest = path;
    std::string head;
    for (;;) {
        if (!rest.empty() && rest.front() == '/') {
            return nullptr;
        }
        SplitHead(std::string(rest), head, rest);
        if (rest.empty()) {
            auto it = FindByLabel(folder->m_arrSites, head);
            return it == folder->m_arrSites.end() ? nullptr : it->get();
        }
        auto it = FindByLabel(folder->m_arrFolders, head);
        if (it == folder->m_arrFolders.end()) {
            return nullptr;
        }
        folder = it->get();
    }
}

bool CFTPSiteFolder::RemoveSiteFolder(const std::string& label) {
    auto it = FindByLabel(m_arrFolders, label);
    if (it == m_arrFolders.end()) {
        return false;
    }
    m_arrFolders.erase(it);
    return true;
}

bool CFTPSiteFolder::RemoveSite(const std::string& label) {
    auto it = FindByLabel(m_arrSites, label);
    if (it == m_arrSites.end()) {
        return false;
    }
    m_arrSites.erase(it);
    return true;
}

bool CFTPSiteFolder::RenameSiteFolder(const std::string& oldLabel, const std::string& newLabel,
                                      IQuestions* questions) {
    if (oldLabel == newLabel) {
        return true;
    }
    if (HasLabel(newLabel)) {
        if (questions != nullptr) {
            questions->MessageBox(RenameRefusal("FTP Site Folder", newLabel), MB_OK);
        }
        return false;
    }
    auto it = FindByLabel(m_arrFolders, oldLabel);
    if (it == m_arrFolders.end()) {
        return false;
    }
    (*it)->m_strLabel = newLabel;
    return true;
}

bool CFTPSiteFolder::RenameSite(const std::string& oldLabel, const std::string& newLabel,
                                IQuestions* questions) {
    if (oldLabel == newLabel) {
        return true;
    }
    if (HasLabel(newLabel)) {
        if (questions != nullptr) {
            questions->MessageBox(RenameRefusal("FTP Site", newLabel), MB_OK);
        }
        return false;
    }
    auto it = FindByLabel(m_arrSites, oldLabel);
    if (it == m_arrSites.end()) {
        return false;
    }
    (*it)->m_strLabel = newLabel;
    return true;
}

void CFTPSiteFolder::CopyFrom(const CFTPSiteFolder& source) {
    if (&source == this) {
        return;
    }
    // Copy first, then replace: `source` may lie below this folder.
    FolderList folders;
    for (const auto& sub : source.m_arrFolders) {
        auto copy = std::make_unique<CFTPSiteFolder>();
        copy->CopyFrom(*sub);
        folders.push_back(std::move(copy));
    }
    SiteList sites;
    for (const auto& site : source.m_arrSites) {
        sites.push_back(std::make_unique<CFTPSite>(*site));
    }
    m_strLabel = source.m_strLabel;
    m_strComments = source.m_strComments;
    m_timeCreated = source.m_timeCreated;
    m_arrFolders = std::move(folders);
    m_arrSites = std::move(sites);
}

void CFTPSiteFolder::Serialize(ArchiveWriter& ar) const {
    ar.WriteString(m_strLabel);
    ar.WriteString(m_strComments);
    ar.WriteTime(m_timeCreated);
    ar.WriteCount(static_cast<std::uint32_t>(m_arrFolders.size()));
    for (const auto& sub : m_arrFolders) {
        ar.WriteObjectTag("CFTPSiteFolder", 1);
        sub->Serialize(ar);
    }
    ar.WriteCount(static_cast<std::uint32_t>(m_arrSites.size()));
    for (const auto& site : m_arrSites) {
        ar.WriteObjectTag("CFTPSite", 2);
        site->Serialize(ar);
    }
}

} // namespace qb
