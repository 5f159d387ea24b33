// The profile: the root of the site tree plus every setting, the window
// layout and the Go To history, kept in one binary file between runs.
#pragma once

#include "profile/proxy_login.h"
#include "profile/site_tree.h"

#include <array>
#include <cstdint>
#include <functional>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace qb {

class ArchiveReader;
class ArchiveWriter;
class IQuestions;

// One tool bar or status bar record of the dock state.
struct CFTPDockBarInfo {
    std::uint32_t m_nBarID = 0;
    std::int32_t m_bVisible = 0;
    std::int32_t m_bFloating = 0;
    std::int32_t m_bHorz = 0;
    std::int32_t m_ptPosX = 0;
    std::int32_t m_ptPosY = 0;
    // Read from dock state version 2 only; written always.
    std::int32_t m_nMRUWidth = 0;
    std::int32_t m_bDocking = 0;
    // Only while m_bDocking is set.
    std::uint32_t m_uMRUDockID = 0;
    std::array<std::int32_t, 4> m_rectMRUDockPos{}; // left, top, right, bottom
    std::uint32_t m_dwMRUFloatStyle = 0;
    std::int32_t m_ptMRUFloatPosX = 0;
    std::int32_t m_ptMRUFloatPosY = 0;
    // The bars of this dock bar in order; 0 stands between rows.
    std::vector<std::uint32_t> m_arrBarID;

    bool operator==(const CFTPDockBarInfo&) const = default;
};

struct CFTPDockState {
    // Screen size in pixels when the state was stored (0 when unknown).
    std::int32_t m_nScreenWidth = 0;
    std::int32_t m_nScreenHeight = 0;
    std::vector<CFTPDockBarInfo> m_arrBars;

    // Scales every position and rectangle from the stored screen size to
    // `width` x `height` and keeps positions on that screen. Nothing
    // happens while either size is unknown or the sizes are equal.
    void ScaleToScreen(std::int32_t width, std::int32_t height);

    bool operator==(const CFTPDockState&) const = default;
};

// The main window's placement record, in the order of the file.
struct CFTPWindowPlacement {
    std::int32_t m_nLength = 0;
    std::int32_t m_nFlags = 0;
    std::int32_t m_ptMinX = 0;
    std::int32_t m_ptMinY = 0;
    std::int32_t m_ptMaxX = 0;
    std::int32_t m_ptMaxY = 0;
    std::int32_t m_rcNormalLeft = 0;
    std::int32_t m_rcNormalTop = 0;
    std::int32_t m_rcNormalRight = 0;
    std::int32_t m_rcNormalBottom = 0;
    std::int32_t m_nShowCmd = 0; // 3: maximised

    bool operator==(const CFTPWindowPlacement&) const = default;
};

// The main window's layout as stored at exit.
struct CFTPProfileX {
    // 0 until a block is read or stored; the layout is applied only when 1.
    std::uint32_t m_nVersion = 0;
    CFTPDockState m_dockState;
    CFTPWindowPlacement m_placement;
    // Upper row height, its minimum, log row height, its minimum.
    std::array<std::int32_t, 4> m_arrOuterSplitter{};
    // Tree column width, its minimum, content column width, its minimum.
    std::array<std::int32_t, 4> m_arrInnerSplitter{};

    bool operator==(const CFTPProfileX&) const = default;
};

// Settings that connection threads read while the user interface may change
// them; the profile hands them out and takes them back under its lock.
struct SharedSettings {
    std::string m_strEMail;
    bool m_bLogCommands = true;
    bool m_bLogResponses = true;
    bool m_bLogHostAddress = true;
    std::uint16_t m_wTransferMode = 1; // 0 text, 1 binary, 2 auto
    std::vector<std::string> m_arrTextExtensions;

    bool operator==(const SharedSettings&) const = default;
};

// The Firewall page's values.
struct FirewallOptions {
    std::string m_strProxyAddress;
    std::uint32_t m_nProxyPort = 21;
    std::string m_strProxyUser;
    std::string m_strProxyPassword; // plain in memory, scrambled in the file
    std::uint16_t m_wFirewallType = FIREWALL_SITE;
    bool m_bFirewallEnabled = false;

    bool operator==(const FirewallOptions&) const = default;
};

class CFTPProfile : public CFTPSiteFolder {
public:
    static constexpr std::string_view kSignature =
        "Quillbeck By Varnholme Jude Ko; Profile Version 2";
    static constexpr std::string_view kAppTitle = "Quillbeck";
    static constexpr std::string_view kDefaultEMail = "guest@example.com";
    static constexpr std::size_t kMaxGotoHistory = 20;
    // Deeper folder nesting in a file is refused as damage.
    static constexpr int kMaxFolderDepth = 256;
    // Larger files are refused unread.
    static constexpr std::size_t kMaxFileBytes = 64u << 20;
    enum TransferMode : std::uint16_t { MODE_TEXT = 0, MODE_BINARY = 1, MODE_AUTO = 2 };
    enum SaveResult : int { SAVE_DONE = 1, SAVE_NOTHING = 2, SAVE_RETRY = 4 };

    // The profile at the default location (see DefaultProfilePath).
    CFTPProfile();
    // The profile at `path`. A file named by the user must exist at start;
    // a path chosen by the program may be missing (the defaults then apply
    // silently).
    explicit CFTPProfile(std::string path, bool namedByUser = true);

    // Reads the file, or applies the defaults. False only when there is no
    // path, or a file named by the user does not exist; GetLoadFailureText
    // then says why. A file that exists but cannot be read is kept beside
    // itself as "<name>.bad" (or ".bad.1", ...) and GetLoadNote tells the
    // user where it went; in read-only mode LoadProfile fails on it instead
    // and leaves it alone. The site settings file (SiteSettingsPath) is read
    // after the profile file and treated the same way: a damaged one is kept
    // as "<name>.sites.bad" and every site gets the default settings; when
    // the profile file itself is set aside as "<name>.bad", its site
    // settings go with it as "<name>.bad.sites".
    bool LoadProfile();
    // Read-only: the file is never moved aside (LoadProfile fails on a file
    // it cannot read, GetLoadFailureText says why) and SaveProfile writes
    // nothing. For programs that only read the profile.
    void SetReadOnly(bool readOnly) { m_bReadOnly = readOnly; }
    bool IsReadOnly() const { return m_bReadOnly; }
    // Writes the site settings file, then the profile file, each atomically
    // (mode 0600): SAVE_DONE; SAVE_NOTHING when
    // the profile is not loaded or has no path, or the user cancelled after
    // a failure; SAVE_RETRY when the user asked to try again. A failed save
    // leaves the previous file as it was.
    int SaveProfile(IQuestions* questions);
    // Every setting to its default, the header to the current signature and
    // the default site list added to the tree; marks the profile loaded and
    // the run as a first run.
    void SetDefaults();

    // The whole file as bytes.
    std::vector<std::uint8_t> Serialize() const;
    // Reads a whole file. On failure nothing of the profile changes and
    // `error` says what was wrong.
    bool Serialize(std::span<const std::uint8_t> data, std::string& error);

    // Go To history, oldest first.
    void AddGotoHistory(const std::string& path);

    std::int32_t GetViewStyle() const { return m_nViewStyle; }
    void SetViewStyle(std::int32_t style) { m_nViewStyle = style; }
    // 0 name, 1 modified time, 2 size.
    int GetSortKey() const { return m_wSortOrder & 0x3; }
    bool IsSortReversed() const { return (m_wSortOrder & 0x8000) != 0; }
    void SetSortKey(std::uint16_t order) { m_wSortOrder = order; }
    void ToggleSortDirection() { m_wSortOrder ^= 0x8000; }

    bool IsLoaded() const { return m_bLoaded; }
    bool IsFirstRun() const { return m_bFirstRun; }
    // The version of the header that was read; 0 when none was.
    int GetVersionRead() const { return m_nVersionRead; }
    const std::string& GetPath() const { return m_strPath; }
    // Why LoadProfile failed, in the words start-up shows.
    std::string GetLoadFailureText() const;
    // What happened to an unreadable profile; empty when nothing did.
    const std::string& GetLoadNote() const { return m_strLoadNote; }
    // Why the last save failed (for logs; the user sees the fixed text).
    const std::string& GetLastSaveError() const { return m_strSaveError; }
    // The current screen size, used to scale a stored dock state on reading.
    void SetScreenSize(std::int32_t width, std::int32_t height);
    // Called during a save once the new content is complete and on the disk
    // in its temporary file, just before it replaces the old file.
    void SetBeforeReplace(std::function<void(const std::string& tempPath)> hook) {
        m_beforeReplace = std::move(hook);
    }

    // --- Settings that connection threads read (thread-safe) ---
    SharedSettings GetSharedSettings() const;
    void SetSharedSettings(SharedSettings settings);
    std::uint16_t GetTransferMode() const;
    void SetTransferMode(std::uint16_t mode);
    std::string GetEMail() const;
    bool LogCommands() const;
    bool LogResponses() const;
    bool LogHostAddress() const;
    // 'A' or 'I', the argument of "TYPE" for a transfer of `fileName`.
    // `viewingText`: the application is viewing a remote file as text.
    char GetTransferType(std::string_view fileName, bool viewingText = false) const;

    // --- Firewall and proxy login ---
    FirewallOptions GetFirewallOptions() const { return m_firewall; }
    // Stores the Firewall page's values. A change of address, port, user,
    // password or type forgets the proxy login remembered in this run.
    void SetFirewallOptions(const FirewallOptions& settings);
    // The proxy login for a connection through the firewall. Asks `dialog`
    // (may be null: then no login) when the settings do not hold a complete
    // one. False when the user cancelled.
    bool GetProxyLogin(ProxyLogin& out, ILoginProxyDialog* dialog) const;
    // Called by a connection once the proxy accepted the login: later
    // connections of this run use it without asking. Thread-safe.
    void RememberProxyLogin(const std::string& address, std::uint32_t port, const std::string& user,
                            const std::string& password);
    void ForgetProxyLogin();
    bool HasRememberedProxyLogin() const;

    // --- Plain settings, read and written by the user interface only ---
    std::string m_strHeader;
    std::int32_t m_nViewStyle = 1;
    std::uint16_t m_wSortOrder = 0;
    std::vector<std::string> m_arrGotoHistory;
    bool m_bAutoExplore = false;
    bool m_bConfirmDelete = true;
    bool m_bConfirmMove = true;
    bool m_bConfirmCopy = false;
    std::uint32_t m_nReserved21 = 0; // kept as read
    bool m_bConfirmDisconnect = true;
    bool m_bConfirmStop = false;
    std::uint32_t m_nReserved24 = 1; // kept as read
    CFTPProfileX m_layout;

private:
    bool ReadBody(ArchiveReader& ar);
    void TakePersistentFrom(CFTPProfile& other);
    bool FormPath();
    void PreserveUnreadable(const std::string& reason);
    bool LoadSiteSettings();
    bool SaveSiteSettings();

    mutable std::mutex m_lock; // guards m_shared and the remembered login
    SharedSettings m_shared;
    bool m_bProxyRemembered = false;
    ProxyLogin m_rememberedProxy;

    FirewallOptions m_firewall;

    // Run-only values.
    std::string m_strPath;
    bool m_bNamedByUser = false;
    bool m_bDefaultLocation = false;
    bool m_bLoaded = false;
    bool m_bFirstRun = false;
    bool m_bNamedFileMissing = false;
    bool m_bReadOnly = false;
    std::string m_strUnreadable;         // why the file could not be read (read-only mode)
    std::string m_strSettingsUnreadable; // the same of the site settings file
    // The site settings file could not be read nor set aside: it is never
    // written over in this run.
    bool m_bSiteSettingsHeld = false;
    int m_nVersionRead = 0;
    std::int32_t m_nScreenWidth = 0;
    std::int32_t m_nScreenHeight = 0;
    std::string m_strLoadNote;
    std::string m_strSaveError;
    std::function<void(const std::string&)> m_beforeReplace;
};

// Applies rows of the default site list to `root`: a row without "/" opens a
// folder (at most four deep), "/" alone closes one, "label/host" and
// "label/host/comments" add an anonymous site. Refused additions are
// skipped.
void AddSiteRows(CFTPSiteFolder& root, std::span<const std::string_view> rows);

// The built-in default site list.
std::span<const std::string_view> DefaultSiteRows();

} // namespace qb
