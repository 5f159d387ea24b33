// The login used for a firewall proxy, and the "Login Proxy Server" question
// that the front end answers when the settings do not hold a complete one.
#pragma once

#include <cstdint>
#include <string>

namespace qb {

// Firewall types: how the proxy is told which server to reach.
enum FirewallType : std::uint16_t {
    FIREWALL_SITE = 1,      // log on to the proxy, then "SITE remote_host"
    FIREWALL_USER_AT = 2,   // log on to the proxy, then "USER remote_userid@remote_host"
    FIREWALL_USER_ONLY = 3, // "USER remote_userid@remote_host"
    FIREWALL_OPEN = 4,      // "OPEN remote_host"
    FIREWALL_PASV = 5,      // passive mode only; no proxy login at all
};

struct ProxyLogin {
    std::string m_strAddress;
    std::uint32_t m_nPort = 21;
    std::string m_strUser;
    std::string m_strPassword;
    std::uint16_t m_wType = FIREWALL_SITE;

    bool operator==(const ProxyLogin&) const = default;
};

// True for the types that log on to the proxy with a user and password.
inline bool FirewallTypeNeedsLogin(std::uint16_t type) {
    return type == FIREWALL_SITE || type == FIREWALL_USER_AT;
}

// The "Type : " line of the Login Proxy Server dialog; "Unknown" for a value
// outside 1 to 4.
const char* FirewallTypeText(std::uint16_t type);

// Whether the dialog's OK button is enabled for these typed values: an
// address, and for types 1 and 2 also a user and a password (each with
// spaces trimmed).
bool ProxyLoginAcceptable(const ProxyLogin& login);

// The "Login Proxy Server" dialog as the profile sees it. The front end
// shows it modally; tests answer from a script.
class ILoginProxyDialog {
public:
    virtual ~ILoginProxyDialog() = default;
    // `login` holds the proxy settings and the firewall type on entry. On OK
    // it holds the typed address, port, user and password (address, user
    // and password trimmed of spaces) and the answer is true; on Cancel the
    // answer is false.
    virtual bool AskProxyLogin(ProxyLogin& login) = 0;
};

} // namespace qb
