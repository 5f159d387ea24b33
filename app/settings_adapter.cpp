#include "app/settings_adapter.h"

#include "app/app.h"
#include "profile/profile.h"

namespace qb {

char CProfileSettings::GetTransferType(const std::string& name) const {
    const int code = m_pApp != nullptr ? m_pApp->GetBusyCode() : BUSY_IDLE;
    const bool viewingText = code == BUSY_VIEWING_FILE || code == BUSY_VIEWING_LINK;
    return m_profile.GetTransferType(name, viewingText);
}

bool CProfileSettings::LogCommands() const {
    return m_profile.LogCommands();
}

bool CProfileSettings::LogResponses() const {
    return m_profile.LogResponses();
}

bool CProfileSettings::LogHostAddress() const {
    return m_profile.LogHostAddress();
}

void CProfileSettings::RememberProxyLogin(const std::string& host, std::uint32_t port,
                                          const std::string& user, const std::string& password) {
    m_profile.RememberProxyLogin(host, port, user, password);
}

std::string CProfileSettings::EmailAddress() const {
    return m_profile.GetEMail();
}

} // namespace qb
