// Settings logic: the transfer type rule, the proxy login choice and its
// memory for the run, and the settings that connection threads read while
// the user interface changes them.
#include "profile/profile.h"
#include "test_profile_support.h"

#include <atomic>
#include <gtest/gtest.h>
#include <thread>

namespace qb {
namespace {

TEST(Settings, TransferType) {
    const std::vector<std::string> defaults = {"BAT", "C",    "CGI",  "CPP", "H",
                                               "HTM", "HTML", "JAVA", "TXT"};
    struct Case {
        std::uint16_t mode;
        std::vector<std::string> extensions;
        const char* name;
        bool viewing;
        char type;
    };
    const Case cases[] = {
        {2, defaults, "readme.txt", false, 'A'},     {2, defaults, "INDEX.HTM", false, 'A'},
        {2, defaults, "photo.gif", false, 'I'},      {2, defaults, "README", false, 'I'},
        {2, defaults, "archive.tar.gz", false, 'I'}, {2, defaults, "main.c.bak", false, 'I'},
        {2, defaults, "Main.Java", false, 'A'},      {2, defaults, "name.", false, 'I'},
        {2, {"TXT", ""}, "name.", false, 'A'},       {2, defaults, ".h", false, 'A'},
        {2, {}, "readme.txt", false, 'I'},           {0, defaults, "photo.gif", false, 'A'},
        {1, defaults, "readme.txt", false, 'I'},     {7, defaults, "readme.txt", false, 'I'},
        {1, defaults, "photo.gif", true, 'A'},
    };
    CFTPProfile p;
    for (const auto& c : cases) {
        SharedSettings s = p.GetSharedSettings();
        s.m_wTransferMode = c.mode;
        s.m_arrTextExtensions = c.extensions;
        p.SetSharedSettings(s);
        EXPECT_EQ(p.GetTransferType(c.name, c.viewing), c.type)
            << "mode " << c.mode << " " << c.name << (c.viewing ? " viewing" : "");
    }
}

// Answers the Login Proxy Server dialog from a script and records what it
// was shown.
class ScriptedProxyDialog : public ILoginProxyDialog {
public:
    bool AskProxyLogin(ProxyLogin& login) override {
        shown.push_back(login);
        if (!answerOk) {
            return false;
        }
        login.m_strAddress = typed.m_strAddress;
        login.m_nPort = typed.m_nPort;
        login.m_strUser = typed.m_strUser;
        login.m_strPassword = typed.m_strPassword;
        return true;
    }
    bool answerOk = true;
    ProxyLogin typed{"typed.example.net", 8021, "tu", "tp", 0};
    std::vector<ProxyLogin> shown;
};

TEST(Settings, ProxyLoginChoice) {
    struct Case {
        const char* what;
        FirewallOptions settings;
        bool remembered;
        bool dialogOk;
        bool result;
        bool dialogShown;
        ProxyLogin expected; // when result
    };
    const FirewallOptions full{"proxy.example.net", 1080, "pu", "pp", 1, true};
    auto withType = [](FirewallOptions s, std::uint16_t type) {
        s.m_wFirewallType = type;
        return s;
    };
    auto without = [](FirewallOptions s, bool user, bool password, bool address) {
        if (user) {
            s.m_strProxyUser.clear();
        }
        if (password) {
            s.m_strProxyPassword.clear();
        }
        if (address) {
            s.m_strProxyAddress.clear();
        }
        return s;
    };
    const ProxyLogin fromSettings{"proxy.example.net", 1080, "pu", "pp", 1};
    const ProxyLogin remembered{"mem.example.net", 2121, "mu", "mp", 1};
    const ProxyLogin typed{"typed.example.net", 8021, "tu", "tp", 1};
    auto typedAs = [](ProxyLogin l, std::uint16_t type) {
        l.m_wType = type;
        return l;
    };
    const Case cases[] = {
        {"type 5 asks for nothing", withType(without(full, true, true, true), 5), true, true, true,
         false, ProxyLogin{"", 21, "", "", 5}},
        {"complete settings", full, false, true, true, false, fromSettings},
        {"remembered login wins", full, true, true, true, false, remembered},
        {"remembered login takes the current type", withType(full, 4), true, true, true, false,
         typedAs(remembered, 4)},
        {"type 1 without a user asks", without(full, true, false, false), false, true, true, true,
         typed},
        {"type 2 without a password asks", withType(without(full, false, true, false), 2), false,
         true, true, true, typedAs(typed, 2)},
        {"type 3 needs no proxy user", withType(without(full, true, true, false), 3), false, true,
         true, false, ProxyLogin{"proxy.example.net", 1080, "", "", 3}},
        {"type 4 needs no proxy user", withType(without(full, true, true, false), 4), false, true,
         true, false, ProxyLogin{"proxy.example.net", 1080, "", "", 4}},
        {"type 3 without an address asks", withType(without(full, true, true, true), 3), false,
         true, true, true, typedAs(typed, 3)},
        {"cancel abandons the connection", without(full, false, false, true), false, false, false,
         true, ProxyLogin{}},
    };
    for (const auto& c : cases) {
        CFTPProfile p;
        p.SetFirewallOptions(c.settings);
        if (c.remembered) {
            p.RememberProxyLogin("mem.example.net", 2121, "mu", "mp");
        }
        ScriptedProxyDialog dialog;
        dialog.answerOk = c.dialogOk;
        ProxyLogin out;
        EXPECT_EQ(p.GetProxyLogin(out, &dialog), c.result) << c.what;
        EXPECT_EQ(dialog.shown.size(), c.dialogShown ? 1u : 0u) << c.what;
        if (c.result) {
            if (c.settings.m_wFirewallType == 5) {
                EXPECT_EQ(out.m_wType, 5) << c.what;
            } else {
                EXPECT_EQ(out, c.expected) << c.what;
            }
        }
        if (c.dialogShown) {
            // The dialog starts from the settings and the current type.
            const ProxyLogin& shown = dialog.shown[0];
            EXPECT_EQ(shown.m_strAddress, c.settings.m_strProxyAddress) << c.what;
            EXPECT_EQ(shown.m_strUser, c.settings.m_strProxyUser) << c.what;
            EXPECT_EQ(shown.m_wType, c.settings.m_wFirewallType) << c.what;
            // The typed values are not stored.
            EXPECT_EQ(p.GetFirewallOptions(), c.settings) << c.what;
        }
    }
    CFTPProfile p;
    p.SetFirewallOptions(without(full, true, false, false));
    ProxyLogin out;
    EXPECT_FALSE(p.GetProxyLogin(out, nullptr)) << "no dialog to ask";
}

TEST(Settings, RememberedLoginLastsUntilAProxyValueChanges) {
    const FirewallOptions base{"proxy.example.net", 1080, "", "", 1, true};
    struct Case {
        const char* what;
        FirewallOptions changed;
        bool kept;
    };
    auto with = [&](auto change) {
        FirewallOptions s = base;
        change(s);
        return s;
    };
    const Case cases[] = {
        {"nothing changed", base, true},
        {"enable switched off", with([](auto& s) { s.m_bFirewallEnabled = false; }), true},
        {"address", with([](auto& s) { s.m_strProxyAddress = "other"; }), false},
        {"port", with([](auto& s) { s.m_nProxyPort = 21; }), false},
        {"user", with([](auto& s) { s.m_strProxyUser = "u"; }), false},
        {"password", with([](auto& s) { s.m_strProxyPassword = "p"; }), false},
        {"type", with([](auto& s) { s.m_wFirewallType = 2; }), false},
    };
    for (const auto& c : cases) {
        CFTPProfile p;
        p.SetFirewallOptions(base);
        ScriptedProxyDialog dialog;
        ProxyLogin first;
        ASSERT_TRUE(p.GetProxyLogin(first, &dialog));
        ASSERT_EQ(dialog.shown.size(), 1u) << "type 1 without a user asks";
        // The connection reports that the proxy took the login.
        p.RememberProxyLogin(first.m_strAddress, first.m_nPort, first.m_strUser,
                             first.m_strPassword);
        ProxyLogin second;
        ASSERT_TRUE(p.GetProxyLogin(second, &dialog));
        EXPECT_EQ(dialog.shown.size(), 1u) << "the next connection reuses it";
        EXPECT_EQ(second, first);

        p.SetFirewallOptions(c.changed);
        EXPECT_EQ(p.HasRememberedProxyLogin(), c.kept) << c.what;
    }
}

TEST(Settings, DialogHelpers) {
    EXPECT_STREQ(FirewallTypeText(1), "Logon Proxy Then SITE remote_host");
    EXPECT_STREQ(FirewallTypeText(2), "Logon Proxy Then USER remote_userid@remote_host");
    EXPECT_STREQ(FirewallTypeText(3), "USER remote_userid@remote_host");
    EXPECT_STREQ(FirewallTypeText(4), "OPEN remote_host");
    EXPECT_STREQ(FirewallTypeText(5), "Unknown");
    EXPECT_STREQ(FirewallTypeText(0), "Unknown");

    struct Case {
        ProxyLogin login;
        bool ok;
    };
    const Case cases[] = {
        {{"  ", 21, "u", "p", 1}, false},    {{" proxy ", 21, "u", "p", 1}, true},
        {{"proxy", 21, " ", "p", 2}, false}, {{"proxy", 21, "u", "", 1}, false},
        {{"proxy", 21, "", "", 3}, true},    {{"proxy", 21, "", "", 4}, true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ProxyLoginAcceptable(c.login), c.ok)
            << "'" << c.login.m_strAddress << "' type " << c.login.m_wType;
    }
}

// Connection threads read the transfer settings while the user interface
// thread switches them; every read sees one consistent state.
TEST(Settings, ConnectionThreadsReadAConsistentState) {
    CFTPProfile p;
    // State A: auto mode with TXT listed; state B: auto mode without it.
    const SharedSettings a{"a@example.org", true, true, true, 2, {"TXT"}};
    const SharedSettings b{"b@example.org", false, false, false, 2, {"GIF"}};
    p.SetSharedSettings(a);
    std::atomic<bool> stop{false};
    std::atomic<int> inconsistent{0};
    std::vector<std::thread> readers;
    for (int t = 0; t < 3; ++t) {
        readers.emplace_back([&] {
            while (!stop.load()) {
                const SharedSettings s = p.GetSharedSettings();
                const bool isA = s == a;
                const bool isB = s == b;
                if (!isA && !isB) {
                    ++inconsistent;
                }
                (void)p.GetTransferType("x.txt");
                (void)p.LogCommands();
                (void)p.GetEMail();
            }
        });
    }
    for (int i = 0; i < 2000; ++i) {
        p.SetSharedSettings(i % 2 == 0 ? b : a);
        p.SetTransferMode(2);
    }
    stop = true;
    for (auto& r : readers) {
        r.join();
    }
    EXPECT_EQ(inconsistent.load(), 0);
}

} // namespace
} // namespace qb
