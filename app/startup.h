// What starting the program and connecting to a stored site take: the
// command line, and the connect request a site of the profile makes.
#pragma once

#include "engine/options.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qb {

class CFTPProfile;
class CFTPSite;
class ILoginProxyDialog;

// What the command line asks for.
struct CommandLineInfo {
    // The first argument that is not a switch: the profile file. Empty: the
    // profile at its default place.
    std::string m_strFileName;
    // Cleared by the switches "Embedding" and "Automation".
    bool m_bShowSplash = true;
    // The profile is only read (qbftp): never saved, and a file that cannot
    // be read ends the start with the reason instead of being moved aside.
    bool m_bReadOnlyProfile = false;
};

// Reads the arguments that follow the program's name. An argument starting
// with "-" is a switch; one starting with "/" is a switch only when it is
// "/Embedding" or "/Automation" (any other is an absolute path). Switch
// names compare without regard to case; unknown switches are ignored. After
// "--" every argument is a name.
CommandLineInfo ParseCommandLine(const std::vector<std::string>& args);

// A connection to a stored site, as the connect command asks the manager
// for it.
struct SiteConnectRequest {
    std::string host;
    std::uint32_t port = 21;
    std::string user;
    std::string password;
    std::string folder; // the login folder; empty: the server's home
    FirewallSettings firewall;

    // The user id or the password is empty: the front end asks for the
    // login (the site dialog's login mode) before connecting.
    bool NeedsLogin() const { return user.empty() || password.empty(); }
};

// The request for `site`. An anonymous site logs in as "ftp" with the e-mail
// address setting as its password. The firewall is in effect only when it
// is enabled in the settings and the site is not inside it; the proxy login
// then comes from the login remembered in this run, the settings or
// `dialog` (may be null: no login can be typed). Nothing when no proxy login
// was given: the connect is abandoned without a message. The site's
// security settings give the TLS mode, "EPSV"/"EPRT" and the kept
// certificate fingerprint.
std::optional<SiteConnectRequest>
MakeSiteConnectRequest(const CFTPSite& site, const CFTPProfile& profile, ILoginProxyDialog* dialog);

} // namespace qb
