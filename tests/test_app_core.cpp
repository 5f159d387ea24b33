// The core's start-up and shut-down, the profile's settings as connections
// read them, and the connect request for a stored site.
#include "app/app.h"
#include "app/core.h"
#include "app/settings_adapter.h"
#include "dispatch/manager.h"
#include "platform/questions.h"
#include "profile/profile.h"

#include <arpa/inet.h>
#include <chrono>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <mutex>
#include <netinet/in.h>
#include <optional>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace qb::test {
namespace {

namespace fs = std::filesystem;

// A private folder for one test.
class TempDir {
public:
    TempDir() {
        std::string pattern = (fs::temp_directory_path() / "qb-core-XXXXXX").string();
        if (::mkdtemp(pattern.data()) != nullptr) {
            m_path = pattern;
        }
    }
    ~TempDir() {
        std::error_code ignored;
        fs::remove_all(m_path, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    std::string operator/(const std::string& name) const { return m_path + "/" + name; }
    const std::string& Path() const { return m_path; }

private:
    std::string m_path;
};

// Answers from a script (IDOK once it is used up) and records every box.
class ScriptedQuestions : public IQuestions {
public:
    int MessageBox(const std::string& text, unsigned style) override {
        std::lock_guard<std::mutex> guard(m_lock);
        texts.push_back(text);
        styles.push_back(style);
        if (answers.empty()) {
            return IDOK;
        }
        const int answer = answers.front();
        answers.pop_front();
        return answer;
    }
    std::deque<int> answers;
    std::vector<std::string> texts;
    std::vector<unsigned> styles;

private:
    std::mutex m_lock;
};

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

// Writes a loaded profile with one remembered Go To entry to `path`.
void WriteProfile(const std::string& path, const std::string& gotoEntry) {
    CFTPProfile profile(path, false);
    profile.SetDefaults();
    profile.AddGotoHistory(gotoEntry);
    ASSERT_EQ(profile.SaveProfile(nullptr), CFTPProfile::SAVE_DONE);
}

// The Go To history of the profile file at `path`, read back.
std::vector<std::string> StoredHistory(const std::string& path) {
    CFTPProfile profile(path, true);
    EXPECT_TRUE(profile.LoadProfile());
    EXPECT_TRUE(profile.GetLoadNote().empty()) << profile.GetLoadNote();
    return profile.m_arrGotoHistory;
}

// Points the default profile location at a folder of the test for its
// lifetime.
class ConfigHome {
public:
    explicit ConfigHome(const std::string& folder) {
        if (const char* old = std::getenv("XDG_CONFIG_HOME")) {
            m_old = old;
        }
        ::setenv("XDG_CONFIG_HOME", folder.c_str(), 1);
    }
    ~ConfigHome() {
        if (m_old) {
            ::setenv("XDG_CONFIG_HOME", m_old->c_str(), 1);
        } else {
            ::unsetenv("XDG_CONFIG_HOME");
        }
    }
    ConfigHome(const ConfigHome&) = delete;
    ConfigHome& operator=(const ConfigHome&) = delete;

private:
    std::optional<std::string> m_old;
};

// The application object and the questions, wired as the window wires them.
class CoreTest : public ::testing::Test {
protected:
    FrontEnd Wired() {
        FrontEnd fe;
        fe.questions = &questions;
        return fe; // fe.app stays null: the core puts the application in
    }
    // A temporary file the application deletes at exit.
    std::string AddTempFile(const std::string& name) {
        const std::string path = dir / name;
        WriteFile(path, "temp");
        app.AddTemporaryFile(path);
        return path;
    }

    TempDir dir;
    CFTPApp app;
    ScriptedQuestions questions;
};

// ---------------------------------------------------------------------------
// Command line

TEST(CommandLine, FirstNameIsTheProfileAndEmbeddingSwitchesTurnTheSplashOff) {
    struct Case {
        std::vector<std::string> args;
        std::string fileName;
        bool splash;
    };
    const Case cases[] = {
        {{}, "", true},
        {{"work.dat"}, "work.dat", true},
        {{"/home/me/work.dat", "second.dat"}, "/home/me/work.dat", true},
        {{"/Embedding"}, "", false},
        {{"-automation", "work.dat"}, "work.dat", false},
        {{"work.dat", "/AUTOMATION"}, "work.dat", false},
        {{"-EmBeDdInG"}, "", false},
        {{"/Embeddings"}, "/Embeddings", true}, // not a switch: a path
        {{"-geometry", "work.dat"}, "work.dat", true},
        {{"", "work.dat"}, "work.dat", true},
        {{"--", "-odd.dat", "-Embedding"}, "-odd.dat", true},
    };
    for (const Case& c : cases) {
        std::string shown;
        for (const auto& a : c.args) {
            shown += "[" + a + "]";
        }
        SCOPED_TRACE(shown);
        const CommandLineInfo info = ParseCommandLine(c.args);
        EXPECT_EQ(info.m_strFileName, c.fileName);
        EXPECT_EQ(info.m_bShowSplash, c.splash);
    }
}

// ---------------------------------------------------------------------------
// Start-up

TEST_F(CoreTest, NamedProfileThatDoesNotExistEndsStartUpWithOnlyItsMessage) {
    const std::string missing = dir / "nowhere.dat";
    {
        CFTPCore core(Wired(), &app);
        EXPECT_FALSE(core.InitInstance({"/Embedding", missing}));
        ASSERT_EQ(questions.texts.size(), 1u);
        EXPECT_EQ(questions.texts[0], "Cannot find the following profile!\n" + missing);
        EXPECT_EQ(questions.styles[0] & 0xF, static_cast<unsigned>(MB_OK));
        EXPECT_FALSE(core.IsProfileLoaded());
        EXPECT_EQ(core.GetProfile(), nullptr);
        EXPECT_EQ(core.GetManager(), nullptr);
        EXPECT_FALSE(core.StartManager());
        EXPECT_EQ(app.GetBusyCode(), BUSY_STARTING);
        // The program ends as after any start-up failure.
        core.ExitInstance();
    }
    EXPECT_EQ(questions.texts.size(), 1u);
    EXPECT_FALSE(fs::exists(missing)) << "nothing may be saved for a failed start";
}

TEST_F(CoreTest, MissingDefaultProfileStartsFromDefaultsAndIsSavedAtExit) {
    ConfigHome config(dir.Path());
    const std::string saved = dir / "quillbeck/Quillbeck.dat";
    {
        CFTPCore core(Wired(), &app);
        ASSERT_TRUE(core.InitInstance({}));
        EXPECT_TRUE(core.ShowSplash());
        EXPECT_TRUE(core.IsProfileLoaded());
        EXPECT_TRUE(core.IsFirstRun());
        EXPECT_FALSE(core.GetProfile()->GetSiteFolders().empty()) << "the default site list";
        EXPECT_EQ(core.TakeLoadNote(), "");
        EXPECT_NE(core.GetManager(), nullptr);
        EXPECT_NE(core.GetSecretary(), nullptr);
        EXPECT_EQ(app.GetBusyCode(), BUSY_IDLE);
        EXPECT_FALSE(fs::exists(saved));
        core.ExitInstance();
        EXPECT_EQ(core.GetProfile(), nullptr);
        EXPECT_EQ(core.GetManager(), nullptr);
    }
    EXPECT_TRUE(questions.texts.empty());
    ASSERT_TRUE(fs::exists(saved));

    // The next start reads that file: no first run any more.
    CFTPApp second;
    CFTPCore core(Wired(), &second);
    ASSERT_TRUE(core.InitInstance({}));
    EXPECT_FALSE(core.IsFirstRun());
    core.ExitInstance();
    EXPECT_TRUE(questions.texts.empty());
}

TEST_F(CoreTest, UnreadableProfileIsKeptAsBadAndTheNoteIsHandedOverOnce) {
    const std::string path = dir / "work.dat";
    const std::string garbage = "this is no profile";
    WriteFile(path, garbage);
    CFTPCore core(Wired(), &app);
    ASSERT_TRUE(core.InitInstance({"-Automation", path}));
    EXPECT_FALSE(core.ShowSplash());
    EXPECT_TRUE(core.IsProfileLoaded());
    EXPECT_TRUE(core.IsFirstRun());
    EXPECT_EQ(ReadFile(path + ".bad"), garbage);

    const std::string note = core.TakeLoadNote();
    EXPECT_NE(note.find(path + ".bad"), std::string::npos) << note;
    EXPECT_EQ(core.TakeLoadNote(), "");
    EXPECT_TRUE(questions.texts.empty()) << "the note is the front end's to show";

    core.ExitInstance();
    EXPECT_TRUE(StoredHistory(path).empty()) << "a fresh profile replaces the bad one";
    EXPECT_EQ(ReadFile(path + ".bad"), garbage);
}

TEST_F(CoreTest, RelativeProfileNameIsSavedWhereItWasFound) {
    WriteProfile(dir / "rel.dat", "/old");
    const fs::path before = fs::current_path();
    fs::current_path(dir.Path());
    CFTPCore core(Wired(), &app);
    const bool started = core.InitInstance({"rel.dat"});
    fs::current_path(before);
    ASSERT_TRUE(started);
    core.GetProfile()->AddGotoHistory("/new");
    core.ExitInstance();
    EXPECT_EQ(StoredHistory(dir / "rel.dat"), (std::vector<std::string>{"/old", "/new"}));
    EXPECT_FALSE(fs::exists(before / "rel.dat"));
}

// ---------------------------------------------------------------------------
// Shut-down

TEST_F(CoreTest, ExitSavesRepeatingOnRetryAndAlwaysDeletesTheTemporaryFiles) {
    struct Case {
        const char* name;
        int failures;            // saves that fail before one succeeds
        std::deque<int> answers; // to "Failed to save profile"
        bool saveAtExit;
        int attempts;
        bool saved;
    };
    const Case cases[] = {
        {"saved at once", 0, {}, true, 1, true},
        {"retry twice, then saved", 2, {IDRETRY, IDRETRY}, true, 3, true},
        {"cancel gives up", 5, {IDCANCEL}, true, 1, false},
        {"retry, then cancel", 5, {IDRETRY, IDCANCEL}, true, 2, false},
        {"never saved when told so", 0, {}, false, 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir / (std::string(c.name) + ".dat");
        WriteProfile(path, "/old");
        questions.answers = c.answers;
        questions.texts.clear();
        questions.styles.clear();
        const std::string temp = AddTempFile("view.txt");

        CFTPCore core(Wired(), &app);
        ASSERT_TRUE(core.InitInstance({path}));
        core.SetSaveProfileAtExit(c.saveAtExit);
        core.GetProfile()->AddGotoHistory("/new");
        int attempts = 0;
        bool managerRan = false;
        core.GetProfile()->SetBeforeReplace([&](const std::string& tempPath) {
            managerRan = managerRan || core.GetManager() != nullptr;
            if (attempts++ < c.failures) {
                ::unlink(tempPath.c_str()); // the replace then fails
            }
        });
        core.ExitInstance();

        EXPECT_EQ(attempts, c.attempts);
        EXPECT_FALSE(managerRan) << "the manager must be gone before the save";
        const int failed = std::min(c.attempts, c.failures);
        ASSERT_EQ(questions.texts.size(), static_cast<std::size_t>(failed));
        for (int i = 0; i < failed; ++i) {
            EXPECT_EQ(questions.texts[i], "Failed to save profile\n" + path);
            EXPECT_EQ(questions.styles[i] & 0xF, static_cast<unsigned>(MB_RETRYCANCEL));
        }
        const auto expected =
            c.saved ? std::vector<std::string>{"/old", "/new"} : std::vector<std::string>{"/old"};
        EXPECT_EQ(StoredHistory(path), expected);
        EXPECT_FALSE(fs::exists(temp));
        EXPECT_TRUE(app.GetTemporaryFiles().empty());
    }
}

// A server that accepts connections and never says a word: a connect
// waits for its welcome until it is stopped.
class SilentServer {
public:
    SilentServer() {
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof addr;
        auto* any = reinterpret_cast<sockaddr*>(&addr);
        if (::bind(m_fd, any, len) == 0 && ::listen(m_fd, 4) == 0 &&
            ::getsockname(m_fd, any, &len) == 0) {
            m_port = ntohs(addr.sin_port);
        }
    }
    ~SilentServer() {
        if (m_client >= 0) {
            ::close(m_client);
        }
        ::close(m_fd);
    }
    SilentServer(const SilentServer&) = delete;
    SilentServer& operator=(const SilentServer&) = delete;
    std::uint16_t Port() const { return m_port; }
    // Takes the first connection; false when none came within 5 s.
    bool AcceptClient() {
        pollfd p{m_fd, POLLIN, 0};
        if (::poll(&p, 1, 5000) != 1) {
            return false;
        }
        m_client = ::accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC);
        return m_client >= 0;
    }

private:
    int m_fd = -1;
    int m_client = -1;
    std::uint16_t m_port = 0;
};

TEST_F(CoreTest, ExitDuringAConnectStopsItPromptlyThenSaves) {
    SilentServer server;
    ASSERT_NE(server.Port(), 0);
    const std::string path = dir / "work.dat";
    WriteProfile(path, "/old");
    CFTPCore core(Wired(), &app);
    ASSERT_TRUE(core.InitInstance({path}));
    ConnectionId connection = kNoConnection;
    ASSERT_NE(core.GetManager()->Connect("127.0.0.1", "ftp", "me@example.com", "", server.Port(),
                                         nullptr, &connection),
              0u);
    app.SetBusyCode(BUSY_CONNECTING);
    ASSERT_TRUE(server.AcceptClient()); // the connection now waits for the welcome
    core.GetProfile()->AddGotoHistory("/new");

    const auto start = std::chrono::steady_clock::now();
    core.ExitInstance();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(StoredHistory(path), (std::vector<std::string>{"/old", "/new"}));
    EXPECT_TRUE(questions.texts.empty()) << "nothing is reported once the exit began";
}

// ---------------------------------------------------------------------------
// Settings as the connections read them

TEST(ProfileSettings, TransferTypeFollowsTheModeAndViewingTextForcesText) {
    struct Case {
        int busy;
        std::uint16_t mode;
        const char* name;
        char type;
    };
    const Case cases[] = {
        {BUSY_IDLE, CFTPProfile::MODE_AUTO, "readme.txt", 'A'},
        {BUSY_IDLE, CFTPProfile::MODE_AUTO, "INDEX.HTM", 'A'},
        {BUSY_IDLE, CFTPProfile::MODE_AUTO, "photo.gif", 'I'},
        {BUSY_IDLE, CFTPProfile::MODE_TEXT, "photo.gif", 'A'},
        {BUSY_IDLE, CFTPProfile::MODE_BINARY, "readme.txt", 'I'},
        {BUSY_VIEWING_FILE, CFTPProfile::MODE_BINARY, "photo.gif", 'A'},
        {BUSY_VIEWING_LINK, CFTPProfile::MODE_AUTO, "photo.gif", 'A'},
        {BUSY_COPYING, CFTPProfile::MODE_BINARY, "readme.txt", 'I'},
        {BUSY_EDITING_LABEL, CFTPProfile::MODE_AUTO, "photo.gif", 'I'},
    };
    CFTPProfile profile("/nonexistent/p.dat", false);
    profile.SetDefaults();
    CFTPApp app;
    CProfileSettings settings(profile, &app);
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " busy " + std::to_string(c.busy) + " mode " +
                     std::to_string(c.mode));
        app.SetBusyCode(static_cast<std::uint16_t>(c.busy));
        profile.SetTransferMode(c.mode);
        EXPECT_EQ(settings.GetTransferType(c.name), c.type);
    }
    // Without an application nothing is being viewed.
    CProfileSettings alone(profile, nullptr);
    profile.SetTransferMode(CFTPProfile::MODE_BINARY);
    EXPECT_EQ(alone.GetTransferType("readme.txt"), 'I');
}

TEST(ProfileSettings, LogFlagsEmailAndProxyLoginReachTheProfile) {
    CFTPProfile profile("/nonexistent/p.dat", false);
    profile.SetDefaults();
    SharedSettings shared = profile.GetSharedSettings();
    shared.m_strEMail = "me@example.org";
    shared.m_bLogCommands = false;
    shared.m_bLogResponses = true;
    shared.m_bLogHostAddress = false;
    profile.SetSharedSettings(shared);
    CProfileSettings settings(profile, nullptr);
    EXPECT_FALSE(settings.LogCommands());
    EXPECT_TRUE(settings.LogResponses());
    EXPECT_FALSE(settings.LogHostAddress());
    EXPECT_EQ(settings.EmailAddress(), "me@example.org");

    shared.m_bLogCommands = true;
    shared.m_bLogResponses = false;
    shared.m_bLogHostAddress = true;
    profile.SetSharedSettings(shared);
    EXPECT_TRUE(settings.LogCommands());
    EXPECT_FALSE(settings.LogResponses());
    EXPECT_TRUE(settings.LogHostAddress());

    FirewallOptions firewall;
    firewall.m_wFirewallType = FIREWALL_USER_AT;
    firewall.m_bFirewallEnabled = true;
    profile.SetFirewallOptions(firewall);
    settings.RememberProxyLogin("proxy.example", 2121, "pu", "pp");
    ProxyLogin login;
    ASSERT_TRUE(profile.GetProxyLogin(login, nullptr));
    EXPECT_EQ(login, (ProxyLogin{"proxy.example", 2121, "pu", "pp", FIREWALL_USER_AT}));
}

TEST_F(CoreTest, CoreGivesConnectionsTheProfileSettingsUnlessTheFrontEndHasItsOwn) {
    const std::string path = dir / "work.dat";
    WriteProfile(path, "/old");
    {
        CFTPCore core(Wired(), &app);
        ASSERT_TRUE(core.InitInstance({path}));
        ISettingsSource* settings = core.GetFrontEnd().settings;
        ASSERT_NE(settings, nullptr);
        EXPECT_EQ(settings->EmailAddress(), core.GetProfile()->GetEMail());
        EXPECT_EQ(core.GetFrontEnd().app, &app);
        core.GetProfile()->SetTransferMode(CFTPProfile::MODE_BINARY);
        app.SetBusyCode(BUSY_VIEWING_FILE); // the application's busy code counts
        EXPECT_EQ(settings->GetTransferType("photo.gif"), 'A');
        core.ExitInstance();
        EXPECT_EQ(core.GetFrontEnd().settings, nullptr);
    }
    ISettingsSource own;
    FrontEnd fe = Wired();
    fe.settings = &own;
    CFTPCore core(fe, &app);
    ASSERT_TRUE(core.InitInstance({path}));
    EXPECT_EQ(core.GetFrontEnd().settings, &own);
    core.ExitInstance();
    EXPECT_EQ(core.GetFrontEnd().settings, &own);
}

// ---------------------------------------------------------------------------
// Connect requests for stored sites

class ScriptedProxyDialog : public ILoginProxyDialog {
public:
    bool AskProxyLogin(ProxyLogin& login) override {
        ++asked;
        if (!typed) {
            return false;
        }
        login.m_strAddress = typed->m_strAddress;
        login.m_nPort = typed->m_nPort;
        login.m_strUser = typed->m_strUser;
        login.m_strPassword = typed->m_strPassword;
        return true;
    }
    std::optional<ProxyLogin> typed; // none: Cancel
    int asked = 0;
};

TEST(SiteConnect, LoginComesFromTheSiteOrTheEmailAddress) {
    CFTPProfile profile("/nonexistent/p.dat", false);
    profile.SetDefaults();
    SharedSettings shared = profile.GetSharedSettings();
    shared.m_strEMail = "me@example.org";
    profile.SetSharedSettings(shared);

    const CFTPSite anonymous("Anon", "ftp.example.org", false, "/pub", 2121, "");
    auto request = MakeSiteConnectRequest(anonymous, profile, nullptr);
    ASSERT_TRUE(request);
    EXPECT_EQ(request->host, "ftp.example.org");
    EXPECT_EQ(request->port, 2121u);
    EXPECT_EQ(request->user, "ftp");
    EXPECT_EQ(request->password, "me@example.org");
    EXPECT_EQ(request->folder, "/pub");
    EXPECT_FALSE(request->firewall.enabled);
    EXPECT_FALSE(request->NeedsLogin());

    const CFTPSite own("Own", "files.example.com", false, "alice", "s3cret", "", 21, "");
    request = MakeSiteConnectRequest(own, profile, nullptr);
    ASSERT_TRUE(request);
    EXPECT_EQ(request->user, "alice");
    EXPECT_EQ(request->password, "s3cret");
    EXPECT_EQ(request->folder, "");
    EXPECT_FALSE(request->NeedsLogin());

    // Whatever is missing is the front end's to ask for.
    const CFTPSite noPassword("NoPw", "files.example.com", false, "alice", "", "", 21, "");
    EXPECT_TRUE(MakeSiteConnectRequest(noPassword, profile, nullptr)->NeedsLogin());
    shared.m_strEMail = "";
    profile.SetSharedSettings(shared);
    EXPECT_TRUE(MakeSiteConnectRequest(anonymous, profile, nullptr)->NeedsLogin());
}

TEST(SiteConnect, TheSitesSecuritySettingsGoIntoTheRequest) {
    using Tls = SiteSecurity::Tls;
    using EngineTls = FirewallSettings::Tls;
    const std::string print(95, 'A');
    const struct {
        SiteSecurity security;
        EngineTls tls;
    } cases[] = {
        {{}, EngineTls::IfAvailable},
        {{Tls::None, true, ""}, EngineTls::None},
        {{Tls::Explicit, false, print}, EngineTls::Explicit},
        {{Tls::Implicit, true, print}, EngineTls::Implicit},
    };
    CFTPProfile profile("", false);
    profile.SetDefaults();
    // Through a firewall too: the proxy settings leave them alone.
    FirewallOptions firewall;
    firewall.m_bFirewallEnabled = true;
    firewall.m_strProxyAddress = "proxy.example";
    firewall.m_wFirewallType = FIREWALL_OPEN;
    profile.SetFirewallOptions(firewall);
    for (const auto& c : cases) {
        CFTPSite site("S", "ftp.example.org", false, "/", 21, "");
        site.m_security = c.security;
        const auto request = MakeSiteConnectRequest(site, profile, nullptr);
        ASSERT_TRUE(request);
        EXPECT_TRUE(request->firewall.enabled);
        EXPECT_EQ(request->firewall.tls, c.tls) << TlsModeName(c.security.tls);
        EXPECT_EQ(request->firewall.extendedData, c.security.epsv);
        EXPECT_EQ(request->firewall.keptFingerprint, c.security.fingerprint);
        EXPECT_FALSE(request->firewall.acceptAnyCertificate);
    }
}

TEST(SiteConnect, FirewallOnlyWhenEnabledAndTheSiteIsOutside) {
    const ProxyLogin fromSettings{"proxy.example", 8021, "pu", "pp", FIREWALL_SITE};
    const ProxyLogin typed{"typed.example", 2100, "tu", "tp", FIREWALL_SITE};
    struct Case {
        const char* name;
        bool enabled;
        bool insideFirewall;
        std::uint16_t type;
        bool settingsComplete; // proxy user and password set
        bool remembered;       // a proxy login worked earlier in this run
        bool dialogAnswers;    // the Login Proxy Server dialog: OK or Cancel
        bool connects;
        bool firewall;
        int asked;
        ProxyLogin proxy; // when `firewall`
    };
    const Case cases[] = {
        {"disabled", false, false, FIREWALL_SITE, true, false, true, true, false, 0, {}},
        {"site inside", true, true, FIREWALL_SITE, true, false, true, true, false, 0, {}},
        {"site inside, login incomplete",
         true,
         true,
         FIREWALL_SITE,
         false,
         false,
         false,
         true,
         false,
         0,
         {}},
        {"settings", true, false, FIREWALL_SITE, true, false, true, true, true, 0, fromSettings},
        {"remembered", true, false, FIREWALL_USER_AT, false, true, false, true, true, 0,
         ProxyLogin{"remembered.example", 21, "ru", "rp", FIREWALL_USER_AT}},
        {"typed", true, false, FIREWALL_SITE, false, false, true, true, true, 1, typed},
        {"cancelled", true, false, FIREWALL_SITE, false, false, false, false, false, 1, {}},
        {"open needs no login", true, false, FIREWALL_OPEN, false, false, false, true, true, 0,
         ProxyLogin{"proxy.example", 8021, "", "", FIREWALL_OPEN}},
        {"passive", true, false, FIREWALL_PASV, false, false, false, true, true, 0,
         ProxyLogin{"", 21, "", "", FIREWALL_PASV}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CFTPProfile profile("/nonexistent/p.dat", false);
        profile.SetDefaults();
        FirewallOptions options;
        options.m_strProxyAddress = fromSettings.m_strAddress;
        options.m_nProxyPort = fromSettings.m_nPort;
        options.m_strProxyUser = c.settingsComplete ? fromSettings.m_strUser : "";
        options.m_strProxyPassword = c.settingsComplete ? fromSettings.m_strPassword : "";
        options.m_wFirewallType = c.type;
        options.m_bFirewallEnabled = c.enabled;
        profile.SetFirewallOptions(options);
        if (c.remembered) {
            profile.RememberProxyLogin("remembered.example", 21, "ru", "rp");
        }
        ScriptedProxyDialog dialog;
        if (c.dialogAnswers) {
            dialog.typed = typed;
        }
        const CFTPSite site("S", "ftp.example.org", c.insideFirewall, "/", 21, "");

        const auto request = MakeSiteConnectRequest(site, profile, &dialog);
        EXPECT_EQ(dialog.asked, c.asked);
        ASSERT_EQ(request.has_value(), c.connects);
        if (!request) {
            continue;
        }
        EXPECT_EQ(request->host, "ftp.example.org");
        ASSERT_EQ(request->firewall.enabled, c.firewall);
        if (c.firewall) {
            const FirewallSettings& fw = request->firewall;
            EXPECT_EQ(
                ProxyLogin({fw.proxyHost, fw.proxyPort, fw.proxyUser, fw.proxyPassword, fw.type}),
                c.proxy);
        }
    }
}

} // namespace
} // namespace qb::test
