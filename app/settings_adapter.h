// The profile's settings as the connection threads read them.
#pragma once

#include "engine/frontend.h"

#include <cstdint>
#include <string>

namespace qb {

class CFTPProfile;

// Every call may come from any thread; the profile guards what it hands out.
// While the application downloads a remote file or a link target to show
// it as text (busy codes 10 and 11) every transfer uses text mode.
class CProfileSettings : public ISettingsSource {
public:
    // `app` supplies the busy code; null reads as idle. Both must outlive
    // this object.
    CProfileSettings(CFTPProfile& profile, const IApplication* app)
        : m_profile(profile), m_pApp(app) {}

    char GetTransferType(const std::string& name) const override;
    bool LogCommands() const override;
    bool LogResponses() const override;
    bool LogHostAddress() const override;
    void RememberProxyLogin(const std::string& host, std::uint32_t port, const std::string& user,
                            const std::string& password) override;
    std::string EmailAddress() const override;

private:
    CFTPProfile& m_profile;
    const IApplication* m_pApp;
};

} // namespace qb
