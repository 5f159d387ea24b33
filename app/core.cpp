#include "app/core.h"

#include "app/app.h"
#include "app/settings_adapter.h"
#include "dispatch/manager.h"
#include "engine/secretary.h"
#include "platform/net.h"
#include "platform/questions.h"
#include "profile/profile.h"

#include <cerrno>
#include <filesystem>
#include <string_view>
#include <sys/stat.h>
#include <utility>

namespace qb {

namespace {

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        auto x = static_cast<unsigned char>(a[i]);
        auto y = static_cast<unsigned char>(b[i]);
        if (x >= 'A' && x <= 'Z') {
            x = static_cast<unsigned char>(x - 'A' + 'a');
        }
        if (y >= 'A' && y <= 'Z') {
            y = static_cast<unsigned char>(y - 'A' + 'a');
        }
        if (x != y) {
            return false;
        }
    }
    return true;
}

// The switches that start the program for another program, without the
// splash window.
bool IsEmbeddingSwitch(std::string_view name) {
    return EqualsIgnoringCase(name, "Embedding") || EqualsIgnoringCase(name, "Automation");
}

} // namespace

CommandLineInfo ParseCommandLine(const std::vector<std::string>& args) {
    CommandLineInfo info;
    bool named = false;
    bool switches = true;
    for (const std::string& arg : args) {
        if (switches && arg == "--") {
            switches = false;
            continue;
        }
        if (switches && !arg.empty() &&
            (arg[0] == '-' || (arg[0] == '/' && IsEmbeddingSwitch(arg.substr(1))))) {
            if (IsEmbeddingSwitch(std::string_view(arg).substr(1))) {
                info.m_bShowSplash = false;
            }
            continue;
        }
        if (!named && !arg.empty()) {
            info.m_strFileName = arg;
            named = true;
        }
    }
    return info;
}

std::optional<SiteConnectRequest> MakeSiteConnectRequest(const CFTPSite& site,
                                                         const CFTPProfile& profile,
                                                         ILoginProxyDialog* dialog) {
    SiteConnectRequest request;
    request.host = site.m_strHost;
    request.port = site.m_nPort;
    request.user = site.GetLoginUser();
    request.password = site.GetLoginPassword(profile.GetEMail());
    request.folder = site.m_strLoginFolder;
    switch (site.m_security.tls) {
    case SiteSecurity::Tls::None:
        request.firewall.tls = FirewallSettings::Tls::None;
        break;
    case SiteSecurity::Tls::IfAvailable:
        request.firewall.tls = FirewallSettings::Tls::IfAvailable;
        break;
    case SiteSecurity::Tls::Explicit:
        request.firewall.tls = FirewallSettings::Tls::Explicit;
        break;
    case SiteSecurity::Tls::Implicit:
        request.firewall.tls = FirewallSettings::Tls::Implicit;
        break;
    }
    request.firewall.extendedData = site.m_security.epsv;
    request.firewall.keptFingerprint = site.m_security.fingerprint;
    if (profile.GetFirewallOptions().m_bFirewallEnabled && !site.m_bInsideFirewall) {
        ProxyLogin login;
        if (!profile.GetProxyLogin(login, dialog)) {
            return std::nullopt;
        }
        request.firewall.enabled = true;
        request.firewall.type = login.m_wType;
        request.firewall.proxyHost = login.m_strAddress;
        request.firewall.proxyPort = login.m_nPort;
        request.firewall.proxyUser = login.m_strUser;
        request.firewall.proxyPassword = login.m_strPassword;
    }
    return request;
}

CFTPCore::CFTPCore(const FrontEnd& frontEnd, CFTPApp* app, HandlerTable handlers,
                   EngineOptions options)
    : m_frontEnd(frontEnd), m_pApp(app), m_handlers(std::move(handlers)),
      m_options(std::move(options)) {
    if (m_frontEnd.app == nullptr) {
        m_frontEnd.app = m_pApp;
    }
}

CFTPCore::~CFTPCore() {
    EndManager();
    m_pSecretary.reset();
}

bool CFTPCore::InitInstance(const std::vector<std::string>& args) {
    return OpenProfile(ParseCommandLine(args)) && StartManager();
}

bool CFTPCore::OpenProfile(const CommandLineInfo& info) {
    m_commandLine = info;
    // The network needs no start here; a peer that goes away must not end
    // the program on a write.
    net::IgnoreSigpipe();

    const std::string& name = info.m_strFileName;
    if (!name.empty()) {
        struct stat st {};
        if (::stat(name.c_str(), &st) != 0 && (errno == ENOENT || errno == ENOTDIR)) {
            ShowError("Cannot find the following profile!\n" + name);
            return false;
        }
        // Saved at exit to the same file, whatever the working folder is by
        // then.
        std::error_code error;
        std::filesystem::path full = std::filesystem::absolute(name, error);
        m_pProfile = std::make_unique<CFTPProfile>(error ? name : full.string(), true);
    } else {
        m_pProfile = std::make_unique<CFTPProfile>();
    }
    if (info.m_bReadOnlyProfile) {
        m_pProfile->SetReadOnly(true);
        m_bSaveAtExit = false;
    }
    if (!m_pProfile->LoadProfile()) {
        ShowError(m_pProfile->GetLoadFailureText());
        m_pProfile.reset();
        return false;
    }
    m_bProfileLoaded = true;
    m_strLoadNote = m_pProfile->GetLoadNote();
    if (m_frontEnd.settings == nullptr) {
        m_pSettings = std::make_unique<CProfileSettings>(*m_pProfile, m_frontEnd.app);
        m_frontEnd.settings = m_pSettings.get();
    }
    return true;
}

bool CFTPCore::StartManager() {
    if (!m_bProfileLoaded || m_pManager) {
        return false;
    }
    m_pManager = std::make_unique<CFTPManager>(m_frontEnd, m_handlers, m_options);
    m_pSecretary = std::make_unique<CFTPSecretary>(m_frontEnd);
    m_pManager->SetSecretary(m_pSecretary.get());
    if (m_pApp != nullptr) {
        m_pApp->SetBusyCode(BUSY_IDLE);
    }
    return true;
}

void CFTPCore::ExitInstance() {
    EndManager();
    m_pSecretary.reset();
    if (m_pProfile) {
        if (m_bProfileLoaded && m_bSaveAtExit) {
            while (m_pProfile->SaveProfile(m_frontEnd.questions) == CFTPProfile::SAVE_RETRY) {
            }
        }
        if (m_pSettings) {
            m_frontEnd.settings = nullptr;
            m_pSettings.reset();
        }
        m_pProfile.reset();
    }
    m_bProfileLoaded = false;
    if (m_pApp != nullptr) {
        m_pApp->DeleteTemporaryFiles();
    }
}

std::string CFTPCore::TakeLoadNote() {
    return std::exchange(m_strLoadNote, std::string());
}

bool CFTPCore::IsFirstRun() const {
    return m_pProfile && m_pProfile->IsFirstRun();
}

void CFTPCore::ShowError(const std::string& text) const {
    m_frontEnd.MessageBox(text, MB_OK | MB_ICONERROR);
}

void CFTPCore::EndManager() {
    if (m_pManager) {
        // Nothing is reported any more; every connection stops.
        m_pManager->Shutdown();
        // Waits for the connections' threads.
        m_pManager.reset();
    }
}

} // namespace qb
