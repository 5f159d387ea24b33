// The user's address book: a tree of site folders whose leaves are FTP
// sites. Only the user interface thread touches it.
#pragma once

#include <cstdint>
#include <ctime>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace qb {

class ArchiveWriter;
class IQuestions;

// A site's connection security. The profile file's site record has no room
// for it: it is kept in the site settings file beside the profile (see
// SiteSettingsPath).
struct SiteSecurity {
    enum class Tls : std::uint8_t { None, IfAvailable, Explicit, Implicit };
    // None: plain FTP; IfAvailable: "AUTH TLS", plain text when the server
    // refuses it; Explicit: "AUTH TLS" or fail; Implicit: TLS from the first
    // byte.
    Tls tls = Tls::IfAvailable;
    // "EPSV" before "PASV", "EPRT" when "PORT" is refused.
    bool epsv = true;
    // The SHA-256 fingerprint ("AB:CD:...", upper case) of the server
    // certificate the user accepted for good; empty when none is kept.
    std::string fingerprint;

    bool IsDefault() const { return *this == SiteSecurity{}; }
    bool operator==(const SiteSecurity&) const = default;
};

class CFTPSite {
public:
    // Empty; every field is then read from the profile file.
    CFTPSite() = default;
    // A site with its own login.
    CFTPSite(std::string label, std::string host, bool insideFirewall, std::string user,
             std::string password, std::string loginFolder, std::uint32_t port,
             std::string comments);
    // An anonymous site.
    CFTPSite(std::string label, std::string host, bool insideFirewall, std::string loginFolder,
             std::uint32_t port, std::string comments);

    // Copies every field, the creation time included.
    void CopyFrom(const CFTPSite& source) { *this = source; }

    const std::string& GetLabel() const { return m_strLabel; }
    void SetLabel(std::string label) { m_strLabel = std::move(label); }
    // "ftp" for an anonymous site, else the stored user.
    std::string GetLoginUser() const;
    // The e-mail address setting for an anonymous site, else the stored
    // password.
    std::string GetLoginPassword(const std::string& eMail) const;

    // Writes the body of the record (schema 2).
    void Serialize(ArchiveWriter& ar) const;

    std::string m_strLabel;
    std::string m_strHost;
    std::string m_strUser;
    std::string m_strPassword; // plain text in memory
    bool m_bAnonymous = false;
    std::time_t m_timeCreated = 0;
    std::uint32_t m_nPort = 21;
    std::string m_strLoginFolder;
    std::string m_strComments;
    bool m_bInsideFirewall = false;
    // Not part of the record: copies carry it, the site settings file keeps
    // it.
    SiteSecurity m_security;
};

class CFTPSiteFolder {
public:
    using FolderList = std::vector<std::unique_ptr<CFTPSiteFolder>>;
    using SiteList = std::vector<std::unique_ptr<CFTPSite>>;

    // Empty; every field is then read from the profile file.
    CFTPSiteFolder() = default;
    // A new folder made now.
    CFTPSiteFolder(std::string label, std::string comments);
    CFTPSiteFolder(const CFTPSiteFolder&) = delete;
    CFTPSiteFolder& operator=(const CFTPSiteFolder&) = delete;
    ~CFTPSiteFolder() = default;

    const std::string& GetLabel() const { return m_strLabel; }
    void SetLabel(std::string label) { m_strLabel = std::move(label); }

    // True when a sub-folder or a site of this folder has `label`.
    bool HasLabel(const std::string& label) const;

    // Appends the child and takes it over, unless it is null or its label is
    // taken in this folder: then false, and `site` is left as it was (the
    // caller still owns it).
    bool AddSite(std::unique_ptr<CFTPSite>&& site);
    bool AddSiteFolder(std::unique_ptr<CFTPSiteFolder>&& folder);
    // The same label test; appends a deep copy of the argument.
    bool AddSiteCopy(const CFTPSite& site);
    bool AddSiteFolderCopy(const CFTPSiteFolder& folder);

    // Looks up a path of labels separated by "/", relative to this folder
    // (a leading "/" finds nothing). The empty path is this folder.
    CFTPSiteFolder* FindSiteFolder(const std::string& path);
    // The last element names a site, the ones before it folders.
    CFTPSite* FindSite(const std::string& path);

    // Removes and deletes the first child of that kind with that label.
    bool RemoveSiteFolder(const std::string& label);
    bool RemoveSite(const std::string& label);

    // Renames the first child of that kind labelled `oldLabel`. A new label
    // that any child already has is refused with a message (through
    // `questions`, which may be null).
    bool RenameSiteFolder(const std::string& oldLabel, const std::string& newLabel,
                          IQuestions* questions);
    bool RenameSite(const std::string& oldLabel, const std::string& newLabel,
                    IQuestions* questions);

    // Replaces this folder's label, comments, time and children by a deep
    // copy of `source`'s.
    void CopyFrom(const CFTPSiteFolder& source);

    const FolderList& GetSiteFolders() const { return m_arrFolders; }
    const SiteList& GetSites() const { return m_arrSites; }

    // Writes the folder body: label, comments, time, sub-folders, sites.
    void Serialize(ArchiveWriter& ar) const;

    std::string m_strLabel;
    std::string m_strComments;
    std::time_t m_timeCreated = 0;
    FolderList m_arrFolders;
    SiteList m_arrSites;
};

// The site settings file of the profile at `profilePath`:
// "<profilePath>.sites".
std::string SiteSettingsPath(const std::string& profilePath);

// The site settings file's text for the sites of `root` whose settings are
// not the defaults, one line each, keyed by the site's path of labels.
std::string WriteSiteSettings(const CFTPSiteFolder& root);

// Reads a site settings file into the sites of `root`: every site gets the
// defaults, then each line's settings go to the site at its path (lines of
// sites that are not in the tree are dropped). On damage nothing changes
// and `error` says what was wrong.
bool ReadSiteSettings(std::string_view text, CFTPSiteFolder& root, std::string& error);

// The words the settings file and qbftp use for a TLS mode: "none",
// "if-available", "explicit", "implicit"; false for any other word.
const char* TlsModeName(SiteSecurity::Tls tls);
bool ParseTlsMode(std::string_view name, SiteSecurity::Tls& tls);

} // namespace qb
