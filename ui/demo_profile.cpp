// quillbeck-demo-profile: writes a profile with the default sites, and with
// a site folder "Demo" holding the site "Local demo server" when a port is
// given. Used by scripts/run --demo and the end-to-end tests; never touches
// the user's own profile unless told its path.
//
//   quillbeck-demo-profile FILE [PORT USER PASSWORD]
//   quillbeck-demo-profile --print FILE   (what the tests check: e-mail
//                                          address and transfer mode)
#include "profile/profile.h"
#include "profile/proxy_login.h"

#include <cstdio>
#include <ctime>
#include <memory>
#include <string>

int main(int argc, char** argv) {
    if (argc == 3 && std::string(argv[1]) == "--print") {
        qb::CFTPProfile stored(argv[2], true);
        if (!stored.LoadProfile()) {
            std::fprintf(stderr, "quillbeck-demo-profile: %s\n",
                         stored.GetLoadFailureText().c_str());
            return 1;
        }
        const qb::SharedSettings shared = stored.GetSharedSettings();
        std::printf("email=%s\ntransfer-mode=%u\n", shared.m_strEMail.c_str(),
                    static_cast<unsigned>(shared.m_wTransferMode));
        return 0;
    }
    if (argc != 2 && argc != 5) {
        std::fputs("usage: quillbeck-demo-profile FILE [PORT USER PASSWORD]\n", stderr);
        return 2;
    }
    // A path chosen by the program: a missing file gets the defaults.
    qb::CFTPProfile profile(argv[1], false);
    if (!profile.LoadProfile()) {
        std::fprintf(stderr, "quillbeck-demo-profile: %s\n", profile.GetLoadFailureText().c_str());
        return 1;
    }
    if (argc == 5) {
        const unsigned long port = std::stoul(argv[2]);
        auto site = std::make_unique<qb::CFTPSite>("Local demo server", "127.0.0.1", false, argv[3],
                                                   argv[4], "", static_cast<std::uint32_t>(port),
                                                   "The pyftpdlib server of scripts/run --demo");
        site->m_timeCreated = std::time(nullptr);
        auto folder = std::make_unique<qb::CFTPSiteFolder>("Demo", "Quillbeck's demonstration");
        folder->m_timeCreated = std::time(nullptr);
        folder->AddSite(std::move(site));
        profile.RemoveSiteFolder("Demo");
        profile.AddSiteFolder(std::move(folder));
        // Passive data connections: every site of this profile connects
        // directly, with "PASV".
        qb::FirewallOptions firewall = profile.GetFirewallOptions();
        firewall.m_bFirewallEnabled = true;
        firewall.m_wFirewallType = qb::FIREWALL_PASV;
        profile.SetFirewallOptions(firewall);
    }
    if (profile.SaveProfile(nullptr) != qb::CFTPProfile::SAVE_DONE) {
        std::fprintf(stderr, "quillbeck-demo-profile: cannot write %s: %s\n", argv[1],
                     profile.GetLastSaveError().c_str());
        return 1;
    }
    return 0;
}
