#include "profile/profile.h"

#include "profile/profile_path.h"

#include <algorithm>
#include <ctime>

namespace qb {

namespace {

const std::vector<std::string> kDefaultTextExtensions = {"BAT", "C",    "CGI",  "CPP", "H",
                                                         "HTM", "HTML", "JAVA", "TXT"};

bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        auto x = static_cast<unsigned char>(a[i]);
        auto y = static_cast<unsigned char>(b[i]);
        if (x >= 'a' && x <= 'z') {
            x = static_cast<unsigned char>(x - 'a' + 'A');
        }
        if (y >= 'a' && y <= 'z') {
            y = static_cast<unsigned char>(y - 'a' + 'A');
        }
        if (x != y) {
            return false;
        }
    }
    return true;
}

std::string_view TrimSpaces(std::string_view s) {
    while (!s.empty() && s.front() == ' ') {
        s.remove_prefix(1);
    }
    while (!s.empty() && s.back() == ' ') {
        s.remove_suffix(1);
    }
    return s;
}

// value * to / from, computed without overflow and kept in 32 bits.
std::int32_t Scale(std::int32_t value, std::int32_t to, std::int32_t from) {
    const long long scaled = static_cast<long long>(value) * to / from;
    return static_cast<std::int32_t>(std::clamp<long long>(scaled, INT32_MIN, INT32_MAX));
}

} // namespace

// ---------------------------------------------------------------------------
// Proxy login helpers

const char* FirewallTypeText(std::uint16_t type) {
    switch (type) {
    case FIREWALL_SITE:
        return "Logon Proxy Then SITE remote_host";
    case FIREWALL_USER_AT:
        return "Logon Proxy Then USER remote_userid@remote_host";
    case FIREWALL_USER_ONLY:
        return "USER remote_userid@remote_host";
    case FIREWALL_OPEN:
        return "OPEN remote_host";
    default:
        return "Unknown";
    }
}

bool ProxyLoginAcceptable(const ProxyLogin& login) {
    if (TrimSpaces(login.m_strAddress).empty()) {
        return false;
    }
    if (FirewallTypeNeedsLogin(login.m_wType)) {
        return !TrimSpaces(login.m_strUser).empty() && !TrimSpaces(login.m_strPassword).empty();
    }
    return true;
}

// ---------------------------------------------------------------------------
// Dock state

void CFTPDockState::ScaleToScreen(std::int32_t width, std::int32_t height) {
    if (width <= 0 || height <= 0 || m_nScreenWidth <= 0 || m_nScreenHeight <= 0 ||
        (width == m_nScreenWidth && height == m_nScreenHeight)) {
        return;
    }
    const std::int32_t fromW = m_nScreenWidth;
    const std::int32_t fromH = m_nScreenHeight;
    auto x = [&](std::int32_t v) { return Scale(v, width, fromW); };
    auto y = [&](std::int32_t v) { return Scale(v, height, fromH); };
    for (auto& bar : m_arrBars) {
        bar.m_ptPosX = std::clamp(x(bar.m_ptPosX), 0, width);
        bar.m_ptPosY = std::clamp(y(bar.m_ptPosY), 0, height);
        bar.m_ptMRUFloatPosX = std::clamp(x(bar.m_ptMRUFloatPosX), 0, width);
        bar.m_ptMRUFloatPosY = std::clamp(y(bar.m_ptMRUFloatPosY), 0, height);
        bar.m_rectMRUDockPos[0] = x(bar.m_rectMRUDockPos[0]);
        bar.m_rectMRUDockPos[1] = y(bar.m_rectMRUDockPos[1]);
        bar.m_rectMRUDockPos[2] = x(bar.m_rectMRUDockPos[2]);
        bar.m_rectMRUDockPos[3] = y(bar.m_rectMRUDockPos[3]);
    }
    m_nScreenWidth = width;
    m_nScreenHeight = height;
}

// ---------------------------------------------------------------------------
// Construction and defaults

CFTPProfile::CFTPProfile() : CFTPProfile(std::string(), false) {
    m_bDefaultLocation = true;
}

CFTPProfile::CFTPProfile(std::string path, bool namedByUser)
    : CFTPSiteFolder(std::string(kAppTitle), std::string()), m_strHeader(kSignature),
      m_strPath(std::move(path)), m_bNamedByUser(namedByUser) {
    m_shared.m_strEMail = kDefaultEMail;
    m_shared.m_arrTextExtensions = kDefaultTextExtensions;
}

void CFTPProfile::SetDefaults() {
    m_bFirstRun = true;
    AddSiteRows(*this, DefaultSiteRows());

    m_nViewStyle = 1;
    m_wSortOrder = 0;
    m_arrGotoHistory.clear();
    m_bAutoExplore = false;
    m_bConfirmDelete = true;
    m_bConfirmMove = true;
    m_bConfirmCopy = false;
    m_nReserved21 = 0;
    m_bConfirmDisconnect = true;
    m_bConfirmStop = false;
    m_nReserved24 = 1;
    m_firewall = FirewallOptions{};
    SetSharedSettings(SharedSettings{std::string(kDefaultEMail), true, true, true, MODE_BINARY,
                                     kDefaultTextExtensions});

    m_strHeader = kSignature;
    m_bLoaded = true;
}

void AddSiteRows(CFTPSiteFolder& root, std::span<const std::string_view> rows) {
    constexpr int kMaxOpen = 4;
    CFTPSiteFolder* open[kMaxOpen] = {};
    // Folders whose label was taken by a site: their rows are dropped.
    std::vector<std::unique_ptr<CFTPSiteFolder>> refused;
    int depth = -1;
    auto innermost = [&]() -> CFTPSiteFolder& { return depth < 0 ? root : *open[depth]; };

    for (std::string_view row : rows) {
        if (row.empty()) {
            return; // a missing row ends the list
        }
        const auto first = row.find('/');
        if (row == "/") {
            if (--depth < -1) {
                return;
            }
            continue;
        }
        if (first == std::string_view::npos) {
            if (depth + 1 >= kMaxOpen) {
                return;
            }
            CFTPSiteFolder& parent = innermost();
            auto folder = std::make_unique<CFTPSiteFolder>(std::string(row), std::string());
            CFTPSiteFolder* added = folder.get();
            if (!parent.AddSiteFolder(std::move(folder))) {
                // Rows of a folder that already exists go into it.
                added = nullptr;
                for (const auto& sub : parent.GetSiteFolders()) {
                    if (sub->m_strLabel == row) {
                        added = sub.get();
                        break;
                    }
                }
                if (added == nullptr) {
                    refused.push_back(std::move(folder));
                    added = refused.back().get();
                }
            }
            open[++depth] = added;
            continue;
        }
        const auto last = row.rfind('/');
        std::string label(row.substr(0, first));
        std::string host;
        std::string comments;
        if (first == last) {
            host = row.substr(first + 1);
        } else {
            host = row.substr(first + 1, last - first - 1);
            comments = row.substr(last + 1);
        }
        innermost().AddSite(std::make_unique<CFTPSite>(std::move(label), std::move(host), false,
                                                       std::string(), 21, std::move(comments)));
    }
}

// ---------------------------------------------------------------------------
// Go To history and view state

void CFTPProfile::AddGotoHistory(const std::string& path) {
    std::erase(m_arrGotoHistory, path);
    while (m_arrGotoHistory.size() >= kMaxGotoHistory) {
        m_arrGotoHistory.erase(m_arrGotoHistory.begin());
    }
    m_arrGotoHistory.push_back(path);
}

void CFTPProfile::SetScreenSize(std::int32_t width, std::int32_t height) {
    m_nScreenWidth = width;
    m_nScreenHeight = height;
}

std::string CFTPProfile::GetLoadFailureText() const {
    if (m_bNamedFileMissing) {
        return "Cannot find the following profile!\n" + m_strPath;
    }
    if (!m_strSettingsUnreadable.empty()) {
        return "The site settings \"" + SiteSettingsPath(m_strPath) + "\" could not be read (" +
               m_strSettingsUnreadable + "); they were left as they are.";
    }
    if (!m_strUnreadable.empty()) {
        return "The profile \"" + m_strPath + "\" could not be read (" + m_strUnreadable +
               "); it was left as it is.";
    }
    return "Failed to load profile!";
}

// ---------------------------------------------------------------------------
// Settings read by connection threads

SharedSettings CFTPProfile::GetSharedSettings() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_shared;
}

void CFTPProfile::SetSharedSettings(SharedSettings settings) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_shared = std::move(settings);
}

std::uint16_t CFTPProfile::GetTransferMode() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_shared.m_wTransferMode;
}

void CFTPProfile::SetTransferMode(std::uint16_t mode) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_shared.m_wTransferMode = mode;
}

std::string CFTPProfile::GetEMail() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_shared.m_strEMail;
}

bool CFTPProfile::LogCommands() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_shared.m_bLogCommands;
}

bool CFTPProfile::LogResponses() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_shared.m_bLogResponses;
}

bool CFTPProfile::LogHostAddress() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_shared.m_bLogHostAddress;
}

char CFTPProfile::GetTransferType(std::string_view fileName, bool viewingText) const {
    if (viewingText) {
        return 'A';
    }
    std::lock_guard<std::mutex> guard(m_lock);
    switch (m_shared.m_wTransferMode) {
    case MODE_TEXT:
        return 'A';
    case MODE_AUTO:
        break;
    default:
        return 'I';
    }
    const auto dot = fileName.rfind('.');
    if (dot == std::string_view::npos) {
        return 'I';
    }
    const std::string_view ext = fileName.substr(dot + 1);
    for (const auto& entry : m_shared.m_arrTextExtensions) {
        if (EqualsIgnoringAsciiCase(entry, ext)) {
            return 'A';
        }
    }
    return 'I';
}

// ---------------------------------------------------------------------------
// Firewall and proxy login

void CFTPProfile::SetFirewallOptions(const FirewallOptions& settings) {
    if (settings.m_strProxyAddress != m_firewall.m_strProxyAddress ||
        settings.m_nProxyPort != m_firewall.m_nProxyPort ||
        settings.m_strProxyUser != m_firewall.m_strProxyUser ||
        settings.m_strProxyPassword != m_firewall.m_strProxyPassword ||
        settings.m_wFirewallType != m_firewall.m_wFirewallType) {
        ForgetProxyLogin();
    }
    m_firewall = settings;
}

bool CFTPProfile::GetProxyLogin(ProxyLogin& out, ILoginProxyDialog* dialog) const {
    const std::uint16_t type = m_firewall.m_wFirewallType;
    if (type == FIREWALL_PASV) {
        out.m_wType = type;
        return true;
    }
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (m_bProxyRemembered) {
            out = m_rememberedProxy;
            out.m_wType = type;
            return true;
        }
    }
    ProxyLogin login{m_firewall.m_strProxyAddress, m_firewall.m_nProxyPort,
                     m_firewall.m_strProxyUser, m_firewall.m_strProxyPassword, type};
    if (!login.m_strAddress.empty() &&
        (!FirewallTypeNeedsLogin(type) ||
         (!login.m_strUser.empty() && !login.m_strPassword.empty()))) {
        out = login;
        return true;
    }
    if (dialog == nullptr || !dialog->AskProxyLogin(login)) {
        return false;
    }
    out = login;
    out.m_wType = type;
    return true;
}

void CFTPProfile::RememberProxyLogin(const std::string& address, std::uint32_t port,
                                     const std::string& user, const std::string& password) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_rememberedProxy = ProxyLogin{address, port, user, password, 0};
    m_bProxyRemembered = true;
}

void CFTPProfile::ForgetProxyLogin() {
    std::lock_guard<std::mutex> guard(m_lock);
    m_rememberedProxy = ProxyLogin{};
    m_bProxyRemembered = false;
}

bool CFTPProfile::HasRememberedProxyLogin() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_bProxyRemembered;
}

} // namespace qb
