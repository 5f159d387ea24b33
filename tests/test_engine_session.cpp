// Connect, login, folders and data connections against a scripted server.
#include "dispatch/manager.h"
#include "engine/remote_manager.h"
#include "engine/secretary.h"
#include "tests/support/recorders.h"
#include "tests/support/script_server.h"

#include <gtest/gtest.h>
#include <mutex>
#include <thread>

namespace qb {
namespace {

// A listing sink that keeps nothing but the names it is told.
class NameSink : public IListingSink {
public:
    explicit NameSink(bool wantsListing) : m_wantsListing(wantsListing) {}
    void Listed(std::span<const ListedEntry> entries) override {
        const std::lock_guard<std::mutex> lock(m_mutex);
        for (const ListedEntry& entry : entries) {
            m_names.emplace_back(entry.name);
        }
    }
    bool WantsListing() const override { return m_wantsListing; }
    std::vector<std::string> Names() {
        const std::lock_guard<std::mutex> lock(m_mutex);
        return m_names;
    }

private:
    const bool m_wantsListing;
    std::mutex m_mutex;
    std::vector<std::string> m_names;
};

using namespace std::chrono_literals;
using Commands = std::vector<std::string>;

const char* const kListing = "drwxr-xr-x 2 u g 4096 Jan 10 2024 pub\r\n"
                             "-rw-r--r-- 1 u g 1234 Jan 10 2024 readme.txt\r\n";

class Session : public ::testing::Test {
protected:
    Session() {
        secretary = std::make_unique<CFTPSecretary>(fe.Get());
        EngineOptions options;
        options.restartFirstDelay = 10ms;
        options.restartMaxDelay = 40ms;
        manager = std::make_unique<CFTPManager>(fe.Get(), DefaultHandlers(), options);
        manager->SetSecretary(secretary.get());
    }
    ~Session() override { manager.reset(); }

    // The usual login of user u with password p into /home/u; with `feat`,
    // the answer to "FEAT" (and "OPTS UTF8 ON" where it names UTF8).
    void ScriptLogin(const std::string& syst = "215 UNIX Type: L8",
                     const std::vector<std::string>& feat = {}) {
        server.Greet().On("USER u", "331 Password required").On("PASS p", "230 Logged in");
        if (!feat.empty()) {
            server.On("FEAT", feat);
            if (feat[0].find(" UTF8") != std::string::npos) {
                server.On("OPTS UTF8 ON", "200 Always in UTF8 mode.");
            }
        }
        server.On("TYPE I", "200 Binary")
            .On("REST 100", "350 Restarting at 100")
            .On("REST 0", "350 Restarting at 0")
            .On("SYST", syst)
            .On("PWD", "257 \"/home/u\" is the current directory");
    }
    void ScriptList(bool passive, const std::string& listing = kListing) {
        server.On("TYPE A", "200 Type set to A");
        if (passive) {
            server.Pasv();
        } else {
            server.Port();
        }
        server.SendData("LIST", listing);
    }

    CFTPRemoteManager* Connect(const std::string& folder = "",
                               const FirewallSettings& fw = ClassicFtp(),
                               const std::string& host = "127.0.0.1") {
        ConnectionId cId = kNoConnection;
        const std::size_t before = fe.Events().Count("Idle");
        EXPECT_NE(manager->Connect(host, "u", "p", folder, server.ListenPort(),
                                   std::make_unique<CFTPActionCallerDataConnect>(1, true), &cId,
                                   fw),
                  0u);
        EXPECT_TRUE(fe.Events().WaitForCount("Idle", before + 1));
        return manager->FindConnection(cId);
    }

    bool WaitIdle(std::size_t n) { return fe.Events().WaitForCount("Idle", n); }
    // For actions queued without a request (no operation reports their end).
    bool WaitQueueEmpty(CFTPRemoteManager* c) {
        for (int i = 0; i < 1000 && !manager->IsQueueEmpty(c); ++i) {
            std::this_thread::sleep_for(10ms);
        }
        return manager->IsQueueEmpty(c);
    }

    // Commands after the login's "PWD".
    Commands AfterLogin() {
        Commands all = server.Commands();
        auto pwd = std::find(all.begin(), all.end(), "PWD");
        return pwd == all.end() ? Commands{} : Commands(pwd + 1, all.end());
    }

    test::ScriptServer server;
    test::RecordingFrontEnd fe;
    std::unique_ptr<CFTPSecretary> secretary;
    std::unique_ptr<CFTPManager> manager;
};

// Passive (firewall type 5) and active data connections.
class DataModes : public Session, public ::testing::WithParamInterface<bool> {
protected:
    FirewallSettings Mode() const {
        FirewallSettings fw = ClassicFtp();
        fw.enabled = GetParam();
        fw.type = 5;
        fw.proxyHost = "proxy.invalid"; // never used with type 5
        return fw;
    }
};

TEST_P(DataModes, LoginListsTheLoginFolder) {
    ScriptLogin();
    ScriptList(GetParam());
    server.Start();
    CFTPRemoteManager* c = Connect("", Mode());
    EXPECT_EQ(server.Mismatch(), "");
    EXPECT_EQ(fe.Events().Count("ConnectDone result=0 ok content pub/ readme.txt:1234"), 1u);
    Commands after = AfterLogin();
    ASSERT_EQ(after.size(), 3u);
    EXPECT_EQ(after[0], "TYPE A");
    if (GetParam()) {
        EXPECT_EQ(after[1], "PASV");
    } else {
        EXPECT_EQ(after[1].rfind("PORT 127,0,0,1,", 0), 0u) << after[1];
    }
    EXPECT_EQ(after[2], "LIST");
    EXPECT_TRUE(c->m_bResume);
    EXPECT_EQ(c->m_nServerType, CFTPConstants::SERVER_UNIX_SYST);
    EXPECT_EQ(c->m_pHomeFolder->m_strName, "/home/u");
    EXPECT_EQ(c->m_pWorkFolder->GetPath(), "");
    EXPECT_EQ(c->GetHostName(), "127.0.0.1");
    EXPECT_TRUE(fe.Questions().empty());
    EXPECT_EQ(fe.Events().Count("cmd PASS X"), 1u) << "the password is hidden in the log";
}

TEST_P(DataModes, ExploreChangesFolderOnceAndReportsListingErrors) {
    ScriptLogin();
    ScriptList(GetParam());
    server.On("CWD /home/u/pub", "250 OK");
    ScriptList(GetParam(), "-rw-r--r-- 1 u g 7 Feb  1 2023 a.c\r\n");
    ScriptList(GetParam(), "-rw-r--r-- 1 u g 7 Feb  1 2023 b.c\r\n");
    server.On("TYPE A", "200 Type set to A");
    if (GetParam()) {
        server.Pasv();
    } else {
        server.Port();
    }
    server.On("LIST", "550 No files found");
    server.Start();
    CFTPRemoteManager* c = Connect("", Mode());
    CFTPFile pub("pub", c->Ref(), false);
    for (int i = 0; i < 3; ++i) {
        ASSERT_NE(manager->Explore(&pub, std::make_unique<CFTPActionCallerDataDir>(2, true)), 0u);
        ASSERT_TRUE(WaitIdle(2 + i));
    }
    EXPECT_EQ(server.Mismatch(), "");
    Commands after = server.Commands();
    EXPECT_EQ(std::count(after.begin(), after.end(), "CWD /home/u/pub"), 1)
        << "the second explore of the work folder sends no CWD";
    EXPECT_EQ(fe.Events().Count("ExploreDone result=0 content a.c:7"), 1u);
    ASSERT_EQ(fe.Questions().size(), 1u);
    EXPECT_EQ(fe.Questions()[0],
              "Failed to explore folder\n127.0.0.1 : pub\n\n550 No files found\n");
    EXPECT_EQ(c->m_pWorkFolder->GetPath(), "pub");
}

INSTANTIATE_TEST_SUITE_P(Engine, DataModes, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& p) {
                             return p.param ? "Passive" : "Active";
                         });

// The extended data commands (RFC 2428): "EPSV" first in passive mode,
// "PORT" then "EPRT" in active mode; a refusal is remembered for the rest of
// the connection.
struct ExtendedCase {
    const char* name;
    bool passive;
    const char* refusal;            // the reply to the first data command; "": accepted
    std::vector<std::string> verbs; // every command after login, first word
};

void PrintTo(const ExtendedCase& c, std::ostream* os) {
    *os << c.name;
}

class ExtendedData : public Session, public ::testing::WithParamInterface<ExtendedCase> {
protected:
    // The data command of one listing as the case's server answers it.
    void ScriptData(bool first) {
        const ExtendedCase& c = GetParam();
        const bool refused = *c.refusal != 0;
        if (c.passive) {
            if (first && refused) {
                server.On("EPSV", c.refusal);
            }
            refused ? server.Pasv() : server.Epsv();
        } else {
            if (first && refused) {
                server.On("PORT *", c.refusal);
            }
            refused ? server.Eprt() : server.Port();
        }
    }
};

TEST_P(ExtendedData, FallsBackOnceAndRemembers) {
    const ExtendedCase& c = GetParam();
    ScriptLogin();
    server.On("TYPE A", "200 Type set to A");
    ScriptData(true);
    server.SendData("LIST", kListing);
    server.On("CWD /home/u/pub", "250 OK").On("TYPE A", "200 Type set to A");
    ScriptData(false);
    server.SendData("LIST", "-rw-r--r-- 1 u g 7 Feb  1 2023 a.c\r\n");
    server.Start();
    FirewallSettings fw = ClassicFtp();
    fw.extendedData = true;
    fw.enabled = c.passive;
    fw.type = 5;
    CFTPRemoteManager* connection = Connect("", fw);
    ASSERT_NE(connection, nullptr);
    CFTPFile pub("pub", connection->Ref(), false);
    ASSERT_NE(manager->Explore(&pub, std::make_unique<CFTPActionCallerDataDir>(2, true)), 0u);
    ASSERT_TRUE(WaitIdle(2));
    EXPECT_EQ(server.Mismatch(), "");
    EXPECT_EQ(fe.Events().Count("ConnectDone result=0 ok content pub/ readme.txt:1234"), 1u);
    EXPECT_EQ(fe.Events().Count("ExploreDone result=0 content a.c:7"), 1u);
    std::vector<std::string> verbs;
    for (const auto& command : AfterLogin()) {
        verbs.push_back(command.substr(0, command.find(' ')));
        if (verbs.back() == "EPRT") {
            EXPECT_EQ(command.rfind("EPRT |1|127.0.0.1|", 0), 0u) << command;
        }
    }
    EXPECT_EQ(verbs, c.verbs);
    EXPECT_TRUE(fe.Questions().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Engine, ExtendedData,
    ::testing::Values(
        ExtendedCase{"Epsv", true, "", {"TYPE", "EPSV", "LIST", "CWD", "TYPE", "EPSV", "LIST"}},
        ExtendedCase{"EpsvUnknown",
                     true,
                     "500 Unknown command",
                     {"TYPE", "EPSV", "PASV", "LIST", "CWD", "TYPE", "PASV", "LIST"}},
        ExtendedCase{"EpsvNotImplemented",
                     true,
                     "502 Command not implemented",
                     {"TYPE", "EPSV", "PASV", "LIST", "CWD", "TYPE", "PASV", "LIST"}},
        ExtendedCase{"Port", false, "", {"TYPE", "PORT", "LIST", "CWD", "TYPE", "PORT", "LIST"}},
        ExtendedCase{"PortRefused",
                     false,
                     "500 Illegal PORT command",
                     {"TYPE", "PORT", "EPRT", "LIST", "CWD", "TYPE", "EPRT", "LIST"}}),
    [](const ::testing::TestParamInfo<ExtendedCase>& p) { return std::string(p.param.name); });

// A server over IPv6 loopback: the data connection follows the control
// connection's family ("EPSV" in passive mode; "EPRT" in active mode, even
// with the extended commands off, as "PORT" cannot name an IPv6 address).
class Ipv6Loopback : public Session, public ::testing::WithParamInterface<bool> {};

TEST_P(Ipv6Loopback, DataFollowsTheControlConnection) {
    const bool passive = GetParam();
    test::ScriptServer server6("::1");
    if (server6.ListenPort() == 0) {
        GTEST_SKIP() << "this machine has no IPv6 loopback";
    }
    server6.Greet()
        .On("USER u", "331 Password required")
        .On("PASS p", "230 Logged in")
        .On("TYPE I", "200 Binary")
        .On("REST 100", "350 Restarting at 100")
        .On("REST 0", "350 Restarting at 0")
        .On("SYST", "215 UNIX Type: L8")
        .On("PWD", "257 \"/home/u\" is the current directory")
        .On("TYPE A", "200 Type set to A");
    passive ? server6.Epsv() : server6.Eprt();
    server6.SendData("LIST", kListing);
    server6.Start();
    FirewallSettings fw = ClassicFtp();
    fw.extendedData = passive;
    fw.enabled = passive;
    fw.type = 5;
    ConnectionId cId = kNoConnection;
    ASSERT_NE(manager->Connect("::1", "u", "p", "", server6.ListenPort(),
                               std::make_unique<CFTPActionCallerDataConnect>(1, true), &cId, fw),
              0u);
    ASSERT_TRUE(WaitIdle(1));
    EXPECT_EQ(server6.Mismatch(), "");
    EXPECT_EQ(fe.Events().Count("ConnectDone result=0 ok content pub/ readme.txt:1234"), 1u);
    const auto commands = server6.Commands();
    const std::string expected = passive ? "EPSV" : "EPRT |2|::1|";
    EXPECT_TRUE(std::any_of(commands.begin(), commands.end(), [&](const std::string& line) {
        return line.rfind(expected, 0) == 0;
    })) << ::testing::PrintToString(commands);
}

INSTANTIATE_TEST_SUITE_P(Engine, Ipv6Loopback, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& p) {
                             return p.param ? "Passive" : "Active";
                         });

// Every extension on, as sites have it, with passive data connections by
// "PASV" (the scripts answer no "EPSV").
FirewallSettings PassiveWithFeatures() {
    FirewallSettings fw;
    fw.enabled = true;
    fw.type = 5;
    fw.extendedData = false;
    return fw;
}

// "FEAT" after login, then the listing command it leads to: "MLSD" when
// offered, "LIST -a" on UNIX servers, plain "LIST" for the rest of the
// connection once "LIST -a" is refused or misread. The records are the same
// whichever command listed them.
struct ListingCase {
    const char* name;
    const char* syst;
    std::vector<std::string> feat; // the reply to "FEAT"
    // The listing commands of the login listing, with their replies: a
    // refusal ("501 ...") or the listing sent ("=" then the text).
    std::vector<std::pair<std::string, std::string>> first;
    const char* second; // the command of the next listing
    const char* secondListing;
    const char* content; // the login folder's content as the event shows it
};

void PrintTo(const ListingCase& c, std::ostream* os) {
    *os << c.name;
}

class Listings : public Session, public ::testing::WithParamInterface<ListingCase> {};

TEST_P(Listings, FeaturesChooseTheListingCommand) {
    const ListingCase& c = GetParam();
    ScriptLogin(c.syst, c.feat);
    // A listing tried again takes a new data connection; the type stays.
    server.On("TYPE A", "200 Type set to A");
    for (const auto& [command, answer] : c.first) {
        server.Pasv();
        if (answer.rfind("=", 0) == 0) {
            server.SendData(command, answer.substr(1));
        } else {
            server.On(command, answer);
        }
    }
    server.On("CWD /home/u/pub", "250 OK").On("TYPE A", "200 Type set to A").Pasv();
    server.SendData(c.second, c.secondListing);
    server.Start();
    CFTPRemoteManager* connection = Connect("", PassiveWithFeatures());
    ASSERT_NE(connection, nullptr);
    CFTPFile pub("pub", connection->Ref(), false);
    ASSERT_NE(manager->Explore(&pub, std::make_unique<CFTPActionCallerDataDir>(2, true)), 0u);
    ASSERT_TRUE(WaitIdle(2));
    EXPECT_EQ(server.Mismatch(), "");
    EXPECT_EQ(fe.Events().Count(std::string("ConnectDone result=0 ok content ") + c.content), 1u)
        << ::testing::PrintToString(fe.Events().Events());
    EXPECT_EQ(fe.Events().Count("ExploreDone result=0 content .hidden:3 a.c:7"), 1u)
        << ::testing::PrintToString(fe.Events().Events());
    EXPECT_TRUE(fe.Questions().empty()) << ::testing::PrintToString(fe.Questions());
}

const char* const kMlsd = "type=cdir;sizd=4096;modify=20240110120000; .\r\n"
                          "type=pdir;sizd=4096;modify=20240110120000; ..\r\n"
                          "type=dir;sizd=4096;modify=20240110120000;UNIX.mode=0755; pub\r\n"
                          "type=file;size=1234;modify=20240110120000;perm=r; readme.txt\r\n"
                          "type=file;size=2;modify=20240110120000; .profile\r\n";
const char* const kListAll = "drwxr-xr-x 2 u g 4096 Jan 10 2024 .\r\n"
                             "drwxr-xr-x 2 u g 4096 Jan 10 2024 ..\r\n"
                             "drwxr-xr-x 2 u g 4096 Jan 10 2024 pub\r\n"
                             "-rw-r--r-- 1 u g 1234 Jan 10 2024 readme.txt\r\n"
                             "-rw-r--r-- 1 u g 2 Jan 10 2024 .profile\r\n";
const char* const kSecondMlsd = "type=file;size=3;modify=20230201000000; .hidden\r\n"
                                "type=file;size=7;modify=20230201000000; a.c\r\n";
const char* const kSecondList = "-rw-r--r-- 1 u g 3 Feb  1 2023 .hidden\r\n"
                                "-rw-r--r-- 1 u g 7 Feb  1 2023 a.c\r\n";
const std::vector<std::string> kFeatMlsd = {
    "211-Features:\r\n MDTM\r\n MLST type*;size*;modify*;\r\n REST STREAM\r\n SIZE\r\n "
    "UTF8\r\n211 End"};
const std::vector<std::string> kFeatPlain = {"211-Features:\r\n MDTM\r\n SIZE\r\n211 End"};

INSTANTIATE_TEST_SUITE_P(
    Engine, Listings,
    ::testing::Values(
        ListingCase{"Mlsd",
                    "215 UNIX Type: L8",
                    kFeatMlsd,
                    {{"MLSD", std::string("=") + kMlsd}},
                    "MLSD",
                    kSecondMlsd,
                    "pub/ readme.txt:1234 .profile:2"},
        ListingCase{"MlsdRefused",
                    "215 UNIX Type: L8",
                    kFeatMlsd,
                    {{"MLSD", "500 Unknown command"}, {"LIST -a", std::string("=") + kListAll}},
                    "LIST -a",
                    kSecondList,
                    "pub/ readme.txt:1234 .profile:2"},
        ListingCase{"NoFeat",
                    "215 UNIX Type: L8",
                    {"500 FEAT not understood"},
                    {{"LIST -a", std::string("=") + kListAll}},
                    "LIST -a",
                    kSecondList,
                    "pub/ readme.txt:1234 .profile:2"},
        ListingCase{"ListAllRefused",
                    "215 UNIX Type: L8",
                    kFeatPlain,
                    {{"LIST -a", "501 Invalid option"}, {"LIST", std::string("=") + kListAll}},
                    "LIST",
                    kSecondList,
                    "pub/ readme.txt:1234 .profile:2"},
        ListingCase{"ListAllTakenForAName",
                    "215 UNIX Type: L8",
                    kFeatPlain,
                    {{"LIST -a", "=-rw-r--r-- 1 u g 9 Jan 10 2024 -a\r\n"},
                     {"LIST", std::string("=") + kListAll}},
                    "LIST",
                    kSecondList,
                    "pub/ readme.txt:1234 .profile:2"},
        ListingCase{"WindowsGetsPlainList",
                    "215 Windows_NT",
                    kFeatPlain,
                    {{"LIST", "=01-10-24  12:00PM       <DIR>          pub\r\n"
                              "01-10-24  12:00PM                 1234 readme.txt\r\n"}},
                    "LIST",
                    "02-01-23  12:00AM                    3 .hidden\r\n"
                    "02-01-23  12:00AM                    7 a.c\r\n",
                    "pub/ readme.txt:1234"}),
    [](const ::testing::TestParamInfo<ListingCase>& p) { return std::string(p.param.name); });

// An entry "-a" in the reading of "LIST -a" sends the listing again with
// plain "LIST" (the server may have taken "-a" for a name). A sink that
// takes the entries while they come is told each entry once: a server that
// lists only the file "-a" (it misread the option) has the sink told the
// second reading; one that listed the folder (which holds an item "-a")
// has the sink told the first reading and then "-a".
struct DashACase {
    const char* name;
    std::string first;  // the reading of "LIST -a"
    std::string second; // of "LIST"
    std::vector<std::string> told;
    const char* content; // of the finished explore
};

class SinkAfterListAll : public Session, public ::testing::WithParamInterface<DashACase> {};

TEST_P(SinkAfterListAll, IsToldEachEntryOnce) {
    const DashACase& c = GetParam();
    ScriptLogin("215 UNIX Type: L8", kFeatPlain);
    server.On("TYPE A", "200 Type set to A").Pasv().SendData("LIST -a", kListAll);
    server.On("CWD /home/u/pub", "250 OK").On("TYPE A", "200 Type set to A").Pasv();
    server.SendData("LIST -a", c.first).Pasv();
    server.SendData("LIST", c.second);
    server.Start();
    CFTPRemoteManager* connection = Connect("", PassiveWithFeatures());
    ASSERT_NE(connection, nullptr);
    CFTPFile pub("pub", connection->Ref(), false);
    const auto sink = std::make_shared<NameSink>(true);
    ASSERT_NE(manager->Explore(&pub, nullptr, nullptr, sink), 0u);
    ASSERT_TRUE(WaitIdle(2));
    EXPECT_EQ(server.Mismatch(), "");
    EXPECT_EQ(sink->Names(), c.told);
    EXPECT_EQ(fe.Events().Count(std::string("ExploreDone result=0 ") + c.content), 1u)
        << ::testing::PrintToString(fe.Events().Events());
}

INSTANTIATE_TEST_SUITE_P(Engine, SinkAfterListAll,
                         ::testing::Values(DashACase{"OptionMisread",
                                                     "-rw-r--r-- 1 u g 9 Jan 10 2024 -a\r\n",
                                                     kSecondList,
                                                     {".hidden", "a.c"},
                                                     "content .hidden:3 a.c:7"},
                                           DashACase{"AnItemDashAInTheFolder",
                                                     "drwxr-xr-x 2 u g 4096 Jan 10 2024 .\r\n"
                                                     "drwxr-xr-x 2 u g 4096 Jan 10 2024 ..\r\n"
                                                     "-rw-r--r-- 1 u g 3 Feb  1 2023 .hidden\r\n"
                                                     "-rw-r--r-- 1 u g 9 Jan 10 2024 -a\r\n"
                                                     "-rw-r--r-- 1 u g 7 Feb  1 2023 a.c\r\n",
                                                     "-rw-r--r-- 1 u g 9 Jan 10 2024 -a\r\n"
                                                     "-rw-r--r-- 1 u g 7 Feb  1 2023 a.c\r\n",
                                                     {".hidden", "a.c", "-a"},
                                                     "content -a:9 a.c:7"}),
                         [](const ::testing::TestParamInfo<DashACase>& p) {
                             return std::string(p.param.name);
                         });

// "AUTH TLS" right after the welcome: a server without TLS is used in plain
// text only when the site allows it; a certificate that cannot be used ends
// the connect without a new attempt.
TEST_F(Session, TlsModesAgainstAServerWithoutTls) {
    using Tls = FirewallSettings::Tls;
    const struct {
        const char* name;
        Tls mode;
        bool connects;
        const char* says; // in the failure or the log
    } cases[] = {
        {"if available: plain text with a note", Tls::IfAvailable, true,
         "note The server does not offer TLS; the connection goes on in plain text."},
        {"required: the connect fails", Tls::Explicit, false,
         "The server refused AUTH TLS, and this site requires TLS: 530 Please login with USER "
         "and PASS."},
        {"a plain answer to implicit TLS", Tls::Implicit, false, "TLS handshake failed"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::RecordingFrontEnd caseFe;
        CFTPSecretary caseSecretary(caseFe.Get());
        CFTPManager caseManager(caseFe.Get());
        caseManager.SetSecretary(&caseSecretary);
        test::ScriptServer s;
        s.Greet().On("AUTH TLS", "530 Please login with USER and PASS.");
        if (c.connects) {
            s.On("USER u", "331 Password required")
                .On("PASS p", "230 Logged in")
                .On("TYPE I", "200 Binary")
                .On("REST 100", "502 No")
                .On("SYST", "215 UNIX")
                .On("PWD", "257 \"/\"")
                .On("TYPE A", "200 OK")
                .Port()
                .SendData("LIST", "");
        }
        s.Start(3);
        FirewallSettings fw = ClassicFtp();
        fw.tls = c.mode;
        ConnectionId connId = kNoConnection;
        ASSERT_NE(
            caseManager.Connect("127.0.0.1", "u", "p", "", s.ListenPort(), nullptr, &connId, fw),
            0u);
        ASSERT_TRUE(caseFe.Events().WaitForCount("Idle", 1));
        if (c.mode != Tls::Implicit) { // there the script reads the client's hello
            EXPECT_EQ(s.Mismatch(), "");
        }
        EXPECT_EQ(caseFe.Events().Count("ConnectDone result=0 ok content"), c.connects ? 1u : 0u)
            << ::testing::PrintToString(caseFe.Events().Events());
        if (c.connects) {
            EXPECT_EQ(caseFe.Events().Count(c.says), 1u)
                << ::testing::PrintToString(caseFe.Events().Events());
        } else {
            ASSERT_EQ(caseFe.Questions().size(), 1u);
            EXPECT_NE(caseFe.Questions()[0].find(c.says), std::string::npos)
                << caseFe.Questions()[0];
            EXPECT_EQ(s.ConnectionsServed(), 1) << "a refusal is not tried again";
        }
    }
}

TEST_F(Session, LoginVariants) {
    struct Case {
        const char* name;
        std::function<void(test::ScriptServer&)> script;
        const char* folder;
        std::vector<std::string> questions;
        bool resume;
    };
    const Case cases[] = {
        {"USER answered with 230 sends no PASS",
         [](test::ScriptServer& s) {
             s.Greet()
                 .On("USER u", "230 Welcome")
                 .On("TYPE I", "200 Binary")
                 .On("REST 100", "502 No")
                 .On("SYST", "215 UNIX");
         },
         "",
         {},
         false},
        {"a failed login folder is shown and the login goes on",
         [](test::ScriptServer& s) {
             s.Greet()
                 .On("USER u", "331 Password")
                 .On("PASS p", "230 In")
                 .On("CWD /srv/missing", "550 /srv/missing: No such directory")
                 .On("TYPE I", "200 Binary")
                 .On("REST 100", "500 Unknown command")
                 .On("SYST", "500 Unknown command");
         },
         "/srv/missing",
         {"Failed to change initial remote folder!\n550 /srv/missing: No such directory"},
         false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        // The server goes last: its end would end the connection while the
        // checks below still read it.
        test::ScriptServer s;
        test::RecordingFrontEnd caseFe;
        CFTPSecretary caseSecretary(caseFe.Get());
        CFTPManager caseManager(caseFe.Get());
        caseManager.SetSecretary(&caseSecretary);
        c.script(s);
        s.On("PWD", "257 \"/\"");
        s.On("TYPE A", "200 OK").Port().SendData("LIST", "");
        s.Start();
        ConnectionId connId = kNoConnection;
        ASSERT_NE(caseManager.Connect("127.0.0.1", "u", "p", c.folder, s.ListenPort(), nullptr,
                                      &connId, ClassicFtp()),
                  0u);
        ASSERT_TRUE(caseFe.Events().WaitForCount("Idle", 1));
        CFTPRemoteManager* conn = caseManager.FindConnection(connId);
        ASSERT_NE(conn, nullptr);
        EXPECT_EQ(s.Mismatch(), "");
        EXPECT_EQ(caseFe.Questions(), c.questions);
        EXPECT_EQ(caseFe.Events().Count("ConnectDone result=0 ok content"), 1u);
        EXPECT_EQ(conn->m_bResume, c.resume);
        EXPECT_EQ(conn->m_pHomeFolder->m_strName, "");
    }
}

TEST_F(Session, ProxyLogins) {
    struct Case {
        std::uint16_t type;
        Commands expected;
        bool remembered;
    };
    const Case cases[] = {
        {1, {"USER pu", "PASS pp", "SITE ftp.real.test", "USER u", "PASS p"}, true},
        {2, {"USER pu", "PASS pp", "USER u@ftp.real.test", "PASS p"}, true},
        {3, {"USER u@ftp.real.test", "PASS p"}, false},
        {4, {"OPEN ftp.real.test", "USER u", "PASS p"}, false},
        {7, {"OPEN ftp.real.test", "USER u", "PASS p"}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("type " + std::to_string(c.type));
        test::RecordingFrontEnd caseFe;
        caseFe.logHost = true;
        CFTPSecretary caseSecretary(caseFe.Get());
        CFTPManager caseManager(caseFe.Get());
        caseManager.SetSecretary(&caseSecretary);
        test::ScriptServer s;
        s.Greet("220 Proxy ready");
        for (const auto& command : c.expected) {
            const bool password = command.rfind("PASS", 0) == 0;
            const bool last = &command == &c.expected.back();
            s.On(command, last ? "230 Logged in" : (password ? "230 Proxy login ok" : "331 Go on"));
        }
        s.On("TYPE I", "200 Binary")
            .On("REST 100", "350 OK")
            .On("REST 0", "350 OK")
            .On("SYST", "215 UNIX Type: L8");
        s.On("PWD", "257 \"/pub\"").On("TYPE A", "200 OK").Port().SendData("LIST", "");
        s.Start();
        FirewallSettings fw = ClassicFtp();
        fw.enabled = true;
        fw.type = c.type;
        fw.proxyHost = "127.0.0.1";
        fw.proxyPort = s.ListenPort();
        fw.proxyUser = "pu";
        fw.proxyPassword = "pp";
        ConnectionId connId = kNoConnection;
        ASSERT_NE(caseManager.Connect("ftp.real.test", "u", "p", "", 21, nullptr, &connId, fw), 0u);
        ASSERT_TRUE(caseFe.Events().WaitForCount("Idle", 1));
        CFTPRemoteManager* conn = caseManager.FindConnection(connId);
        ASSERT_NE(conn, nullptr);
        EXPECT_EQ(s.Mismatch(), "");
        Commands got = s.Commands();
        ASSERT_GE(got.size(), c.expected.size());
        EXPECT_EQ(Commands(got.begin(), got.begin() + static_cast<long>(c.expected.size())),
                  c.expected);
        EXPECT_EQ(caseFe.Events().Count(
                      "RememberProxy 127.0.0.1:" + std::to_string(s.ListenPort()) + " pu"),
                  c.remembered ? 1u : 0u);
        EXPECT_EQ(conn->GetHostName(), "ftp.real.test");
        EXPECT_EQ(caseFe.Events().Count("cmd ftp.real.test : PWD"), 1u)
            << "log lines show the real host once the login is forwarded";
    }
}

TEST_F(Session, ARefusedConnectionFailsWithItsReason) {
    net::Socket probe;
    ASSERT_TRUE(net::ListenTcp("127.0.0.1", probe).ok());
    std::string address;
    std::uint16_t port = 0;
    net::LocalEndpoint(probe.Fd(), address, port);
    probe.Close();
    ConnectionId cId = kNoConnection;
    ASSERT_NE(manager->Connect("127.0.0.1", "", "", "", port, nullptr, &cId), 0u);
    ASSERT_TRUE(WaitIdle(1)) << ::testing::PrintToString(fe.Events().Events());
    ASSERT_EQ(fe.Questions().size(), 1u);
    EXPECT_EQ(fe.Questions()[0].rfind("Failed to connect!\n", 0), 0u);
    EXPECT_NE(fe.Questions()[0].find("refused"), std::string::npos);
    EXPECT_EQ(fe.Events().Count("ConnectDone result=6 failed"), 1u);
}

TEST_F(Session, ABusyServerIsRetriedWithAPauseUntilStopped) {
    server.Greet("421 Too many users, try later").CloseAfterLast();
    server.Start(50);
    ConnectionId cId = kNoConnection;
    ASSERT_NE(manager->Connect("127.0.0.1", "", "", "", server.ListenPort(), nullptr, &cId), 0u);
    for (int i = 0; i < 500 && server.ConnectionsServed() < 4; ++i) {
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_GE(server.ConnectionsServed(), 4);
    manager->PostStop(true);
    ASSERT_TRUE(WaitIdle(1));
    EXPECT_TRUE(fe.Questions().empty()) << "restarts show nothing";
    // Each note says what the server said.
    EXPECT_GE(fe.Events().Count("note Connection failed (421 Too many users, try later); trying "
                                "again in 10 ms."),
              1u);
    EXPECT_GE(fe.Events().Count("note Connection failed (421 Too many users, try later); trying "
                                "again in 40 ms."),
              1u);
}

TEST_F(Session, AServerThatHangsUpFailsTheStepAndEndsTheConnection) {
    ScriptLogin();
    ScriptList(false);
    server.On("CWD /home/u/pub", "421 Timeout").CloseAfterLast();
    server.Start();
    CFTPRemoteManager* c = Connect();
    // The connection object goes once its thread ends: only its id is kept.
    const ConnectionId id = c->GetId();
    CFTPFile pub("pub", c->Ref(), false);
    ASSERT_NE(manager->Explore(&pub, nullptr), 0u);
    ASSERT_TRUE(WaitIdle(2));
    ASSERT_TRUE(fe.Events().WaitForCount("ConnectionEnded", 1));
    EXPECT_FALSE(manager->IsConnected(id));
    ASSERT_EQ(fe.Questions().size(), 1u);
    EXPECT_NE(fe.Questions()[0].find("421 Timeout"), std::string::npos);
}

TEST_F(Session, AHangUpWhileWaitingIsShownAsAFailure) {
    ScriptLogin();
    ScriptList(false);
    test::ScriptServer::Step hangUp;
    hangUp.expect = "CWD /home/u/pub";
    hangUp.closeAfter = true;
    server.Add(hangUp);
    server.Start();
    CFTPRemoteManager* c = Connect();
    CFTPFile pub("pub", c->Ref(), false);
    ASSERT_NE(manager->Explore(&pub, nullptr), 0u);
    ASSERT_TRUE(WaitIdle(2));
    ASSERT_EQ(fe.Questions().size(), 1u);
    EXPECT_EQ(fe.Questions()[0], "Failed to explore folder\n127.0.0.1 : pub\n\n\n"
                                 "Failed to change working folder to\n127.0.0.1 : pub\n\n"
                                 "Connection closed by server.\n");
    ASSERT_TRUE(fe.Events().WaitForCount("ConnectionEnded", 1));
}

TEST_F(Session, EnsuringANestedFolderBuildsItsAncestorsInOrder) {
    ScriptLogin();
    ScriptList(false);
    server.On("MKD /home/u/a/b/c", "550 No such directory")
        .On("CWD /home/u/a/b/c", "550 No such directory")
        .On("MKD /home/u/a", "550 Exists")
        .On("CWD /home/u/a", "250 OK")
        .On("MKD /home/u/a/b", "257 \"/home/u/a/b\" created")
        .On("MKD /home/u/a/b/c", "257 \"/home/u/a/b/c\" created");
    server.Start();
    CFTPRemoteManager* c = Connect();
    CFTPFile target("a/b/c", c->Ref(), false);
    ASSERT_TRUE(manager->PushBack(c, std::make_unique<CFTPActionMdCd>(99, nullptr, &target)));
    c->Post(CFTPConstants::RMM_NEXT);
    ASSERT_TRUE(WaitQueueEmpty(c));
    EXPECT_EQ(server.Mismatch(), "");
    EXPECT_EQ(AfterLogin().size(), 9u);
    EXPECT_TRUE(fe.Questions().empty());
    auto events = fe.Events().Events();
    EXPECT_EQ(std::count(events.begin(), events.end(), "RemoteFolderCreated a/b"), 1);
    EXPECT_EQ(std::count(events.begin(), events.end(), "RemoteFolderCreated a/b/c"), 1);
    EXPECT_EQ(c->m_pWorkFolder->GetPath(), "a");
}

TEST_F(Session, APassiveAddressElsewhereIsReplacedByTheServers) {
    ScriptLogin();
    server.On("TYPE A", "200 OK").Pasv("10,9,8,7").SendData("LIST", kListing);
    server.Start();
    FirewallSettings fw = ClassicFtp();
    fw.enabled = true;
    fw.type = 5;
    Connect("", fw);
    EXPECT_EQ(fe.Events().Count("ConnectDone result=0 ok content pub/ readme.txt:1234"), 1u);
    EXPECT_EQ(fe.Events().Count("note The server announced 10.9.8.7 for the data connection; "
                                "using 127.0.0.1 instead."),
              1u);
}

} // namespace
} // namespace qb

namespace qb {
namespace {

TEST_F(Session, RepliesOutsideTheRulesFail) {
    ScriptLogin();
    ScriptList(false);
    server.On("CWD /home/u/pub", "200 OK, I suppose")
        .On("MKD /home/u/new", "250 Created")
        .On("CWD /home/u/latest", "550 Not a folder");
    server.Start();
    CFTPRemoteManager* c = Connect();
    CFTPFile pub("pub", c->Ref(), false);
    ASSERT_NE(manager->Explore(&pub, nullptr), 0u);
    ASSERT_TRUE(WaitIdle(2));
    CFTPFile created("new", c->Ref(), false);
    ASSERT_NE(manager->MakeFolder(&created, nullptr), 0u);
    ASSERT_TRUE(WaitIdle(3));
    CFTPFile link("latest", c->Ref(), false);
    link.m_strLink = "/home/u/releases/2";
    ASSERT_NE(manager->Explore(&link, nullptr), 0u);
    ASSERT_TRUE(WaitIdle(4));
    EXPECT_EQ(server.Mismatch(), "");
    EXPECT_EQ(fe.Questions(),
              (std::vector<std::string>{
                  "Failed to explore folder\n127.0.0.1 : pub\n\n\nFailed to change working "
                  "folder to\n127.0.0.1 : pub\n\n200 OK, I suppose\n",
                  "Failed to create folder\n127.0.0.1 : new\n\n250 Created\n"}))
        << "the link's explore fails without a message";
    EXPECT_EQ(fe.Events().Count("RemoteFolderCreated"), 0u);
}

TEST_F(Session, EnsuringATopLevelFolderThatCannotBeMadeFails) {
    ScriptLogin();
    ScriptList(false);
    server.On("CWD /home/u/top", "550 No").On("MKD /home/u/top", "550 Denied");
    server.On("MKD /home/u/top", "550 Denied").On("CWD /home/u/top", "550 No");
    server.Start();
    CFTPRemoteManager* c = Connect();
    CFTPFile top("top", c->Ref(), false);
    ASSERT_TRUE(manager->PushBack(c, std::make_unique<CFTPActionCdMd>(90, nullptr, &top)));
    c->Post(CFTPConstants::RMM_NEXT);
    ASSERT_TRUE(WaitQueueEmpty(c));
    ASSERT_TRUE(manager->PushBack(c, std::make_unique<CFTPActionMdCd>(91, nullptr, &top)));
    c->Post(CFTPConstants::RMM_NEXT);
    ASSERT_TRUE(WaitQueueEmpty(c));
    EXPECT_EQ(server.Mismatch(), "");
    ASSERT_EQ(fe.Questions().size(), 2u);
    EXPECT_EQ(fe.Questions()[0].rfind(
                  "Failed to change working folder or create folder\n127.0.0.1 : top\n", 0),
              0u);
    EXPECT_EQ(fe.Questions()[1].rfind(
                  "Failed to create folder or change working folder\n127.0.0.1 : top\n", 0),
              0u);
}

TEST_F(Session, AnExploreWithoutAFolderListsTheWorkFolder) {
    ScriptLogin();
    ScriptList(false);
    ScriptList(false, "-rw-r--r-- 1 u g 3 Mar  3 2021 again.txt\r\n");
    server.Start();
    CFTPRemoteManager* c = Connect();
    ASSERT_TRUE(manager->PushBack(c, std::make_unique<CFTPActionDir>(80, nullptr, nullptr)));
    c->Post(CFTPConstants::RMM_NEXT);
    ASSERT_TRUE(fe.Events().WaitForCount("ExploreDone result=0 content again.txt:3", 1));
    EXPECT_EQ(server.Mismatch(), "");
    EXPECT_EQ(fe.Events().Count("ExploreDone result=0 content again.txt:3"), 1u);
}

// The login of the listing tests below: a UNIX server at "/", whose login
// folder is empty.
void ScriptPlainLogin(test::ScriptServer& s) {
    s.Greet()
        .On("USER u", "230 In")
        .On("TYPE I", "200 Binary")
        .On("REST 100", "350 OK")
        .On("REST 0", "350 OK");
    s.On("SYST", "215 UNIX").On("PWD", "257 \"/\"");
    s.On("TYPE A", "200 OK").Pasv().SendData("LIST", "");
}

// Connects `manager` to `s` in passive mode, plain RFC 959; the connection
// once it is idle, or null.
CFTPRemoteManager* ConnectPassive(CFTPManager& manager, test::RecordingFrontEnd& fe,
                                  const test::ScriptServer& s, ConnectionId& connId) {
    FirewallSettings fw = ClassicFtp();
    fw.enabled = true;
    fw.type = 5;
    if (manager.Connect("127.0.0.1", "u", "p", "", s.ListenPort(), nullptr, &connId, fw) == 0 ||
        !fe.Events().WaitForCount("Idle", 1)) {
        return nullptr;
    }
    return manager.FindConnection(connId);
}

// The listing is read as it arrives; a folder with more entries than the
// limit is refused whole, however the count is reached (the last line
// without an end counts too), also when a sink takes the entries and they
// are not kept.
TEST(ListingLimits, AFolderWithTooManyEntriesIsRefused) {
    const std::string a = "-rw-r--r-- 1 u g 1 Jan 10 2024 a\r\n";
    const std::string b = "-rw-r--r-- 1 u g 2 Jan 10 2024 b\r\n";
    const std::string c = "drwxr-xr-x 2 u g 4096 Jan 10 2024 c\r\n";
    const std::string d = "-rw-r--r-- 1 u g 4 Jan 10 2024 d";
    const struct {
        const char* name;
        std::string listing;
        const char* outcome; // the explore's event, or the message shown
    } cases[] = {
        {"at the limit", a + b + c, "ExploreDone result=0 content c/ a:1 b:2"},
        {"one more, on a last line without an end", a + b + c + d,
         "more than 3 entries; it was not listed."},
        {"many more", a + b + c + d + "\r\n" + a + b, "more than 3 entries; it was not listed."},
    };
    for (const auto& t : cases) {
        for (const bool dropping : {false, true}) {
            SCOPED_TRACE(std::string(t.name) + (dropping ? ", entries dropped" : ""));
            test::RecordingFrontEnd fe;
            CFTPSecretary secretary(fe.Get());
            EngineOptions options;
            options.maxListingEntries = 3;
            CFTPManager manager(fe.Get(), DefaultHandlers(), options);
            manager.SetSecretary(&secretary);
            test::ScriptServer s;
            ScriptPlainLogin(s);
            s.On("CWD /pub", "250 OK").On("TYPE A", "200 OK").Pasv().SendData("LIST", t.listing);
            s.Start();
            ConnectionId connId = kNoConnection;
            CFTPRemoteManager* conn = ConnectPassive(manager, fe, s, connId);
            ASSERT_NE(conn, nullptr);
            CFTPFile pub("pub", conn->Ref(), false);
            const auto sink = dropping ? std::make_shared<NameSink>(false) : nullptr;
            ASSERT_NE(manager.Explore(&pub, std::make_unique<CFTPActionCallerDataDir>(2, true),
                                      nullptr, sink),
                      0u);
            ASSERT_TRUE(fe.Events().WaitForCount("Idle", 2));
            EXPECT_EQ(s.Mismatch(), "");
            if (std::string(t.outcome).rfind("ExploreDone", 0) == 0) {
                if (dropping) {
                    EXPECT_EQ(fe.Events().Count("ExploreDone result=0"), 1u);
                    EXPECT_EQ(sink->Names(), (std::vector<std::string>{"a", "b", "c"}));
                } else {
                    EXPECT_EQ(fe.Events().Count(t.outcome), 1u);
                }
                EXPECT_TRUE(fe.Questions().empty());
            } else {
                ASSERT_EQ(fe.Questions().size(), 1u);
                EXPECT_NE(fe.Questions()[0].find(t.outcome), std::string::npos)
                    << fe.Questions()[0];
                EXPECT_EQ(fe.Events().Count("ExploreDone result=0"), 0u);
            }
        }
    }
}

// A listing larger than the byte limit is broken off with "ABOR" and fails
// with the reason, whatever the server answers to the listing and to "ABOR".
TEST(ListingLimits, AListingLargerThanTheByteLimitFailsWithTheReason) {
    const std::string listing(3000, 'x');
    const struct {
        const char* name;
        const char* last;               // the final reply to the listing
        std::vector<std::string> abort; // the replies to "ABOR"
    } cases[] = {
        {"226, then the answer to ABOR", "226 Transfer complete", {"225 No transfer to abort"}},
        {"426, then 226", "426 Transfer aborted", {"226 Abort successful"}},
        {"550 to the listing", "550 Transfer aborted", {"225 No transfer to abort"}},
    };
    for (const auto& t : cases) {
        SCOPED_TRACE(t.name);
        test::RecordingFrontEnd fe;
        CFTPSecretary secretary(fe.Get());
        EngineOptions options;
        options.maxListingBytes = 1000;
        options.abortWaitLimit = 2s;
        CFTPManager manager(fe.Get(), DefaultHandlers(), options);
        manager.SetSecretary(&secretary);
        test::ScriptServer s;
        ScriptPlainLogin(s);
        s.On("CWD /pub", "250 OK").On("TYPE A", "200 OK").Pasv();
        s.SendData("LIST", listing, "150 Here it comes", t.last);
        test::ScriptServer::Step abort;
        abort.expect = "ABOR";
        abort.replies = t.abort;
        s.Add(abort);
        s.Start();
        ConnectionId connId = kNoConnection;
        CFTPRemoteManager* conn = ConnectPassive(manager, fe, s, connId);
        ASSERT_NE(conn, nullptr);
        CFTPFile pub("pub", conn->Ref(), false);
        ASSERT_NE(manager.Explore(&pub, nullptr), 0u);
        ASSERT_TRUE(fe.Events().WaitForCount("Idle", 2));
        EXPECT_EQ(fe.Events().Count("ExploreDone result=0"), 0u);
        ASSERT_EQ(fe.Questions().size(), 1u);
        EXPECT_NE(fe.Questions()[0].find("The folder listing is larger than 1000 bytes; it was "
                                         "not read."),
                  std::string::npos)
            << fe.Questions()[0];
        EXPECT_TRUE(manager.IsConnected(connId));
    }
}

// A transfer the user cancels: "ABOR" is sent and the server's answers end
// the action quietly, whichever form they take. "NOOP" then brings the
// control connection back in step: replies that come late (after the wait
// for them gave up) are dropped instead of being taken for the answer to
// the next command, which here is a second explore.
TEST_F(Session, ACancelledListingIsAbortedQuietlyAndTheNextCommandGetsItsOwnReply) {
    struct Case {
        const char* name;
        std::vector<std::string> abortReplies;
        int delayMs;
    };
    const Case cases[] = {
        {"550 ends the wait", {"550 Transfer aborted"}, 0},
        {"426 then 226", {"426 Connection closed; transfer aborted.", "226 Abort successful"}, 0},
        {"a lone 226", {"226 Closing data connection"}, 0},
        {"426 and 226 after the wait gave up",
         {"426 Connection closed; transfer aborted.", "226 Abort successful"},
         600},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::RecordingFrontEnd caseFe;
        CFTPSecretary caseSecretary(caseFe.Get());
        EngineOptions options;
        options.abortWaitLimit = 200ms;
        CFTPManager caseManager(caseFe.Get(), DefaultHandlers(), options);
        caseManager.SetSecretary(&caseSecretary);
        test::ScriptServer s;
        ScriptPlainLogin(s);
        s.On("CWD /big", "250 OK").On("TYPE A", "200 OK").Pasv();
        s.On("LIST", "150 Here it comes, slowly");
        test::ScriptServer::Step abort;
        abort.expect = "ABOR";
        abort.replies = c.abortReplies;
        abort.delayMs = c.delayMs;
        s.Add(abort);
        s.On("NOOP", "200 NOOP ok");
        s.On("CWD /next", "250 OK").On("TYPE A", "200 OK").Pasv();
        s.SendData("LIST", "-rw-r--r-- 1 u g 1 Jan 10 2024 n.txt\r\n");
        s.Start();
        ConnectionId connId = kNoConnection;
        CFTPRemoteManager* conn = ConnectPassive(caseManager, caseFe, s, connId);
        ASSERT_NE(conn, nullptr);
        CFTPFile big("big", conn->Ref(), false);
        ASSERT_NE(caseManager.Explore(&big, nullptr), 0u);
        ASSERT_TRUE(caseFe.Events().WaitForCount("reply 150 Here it comes, slowly", 1));
        caseManager.PostStop(false);
        ASSERT_TRUE(caseFe.Events().WaitForCount("Idle", 2));
        EXPECT_EQ(caseFe.Events().Count("cmd ABOR"), 1u);
        EXPECT_TRUE(caseFe.Questions().empty());
        EXPECT_TRUE(caseManager.IsConnected(connId));

        CFTPFile next("next", conn->Ref(), false);
        ASSERT_NE(caseManager.Explore(&next, nullptr), 0u);
        ASSERT_TRUE(caseFe.Events().WaitForCount("Idle", 3));
        EXPECT_EQ(s.Mismatch(), "");
        EXPECT_EQ(caseFe.Events().Count("ExploreDone result=0 content n.txt:1"), 1u);
        EXPECT_TRUE(caseFe.Questions().empty());
    }
}

} // namespace
} // namespace qb

namespace qb {
namespace {

TEST_F(Session, RepliesInPiecesAndManyLines) {
    server.Greet("220-Welcome to\x01 the test\r\n220-second line\r\n220 Ready")
        .On("USER u", "33\x01"
                      "1 Password required")
        .On("PASS p", "230-Logged in\r\n    with a banner\r\n230 OK")
        .On("TYPE I", "200 Binary")
        .On("REST 100", "350 OK")
        .On("REST 0", "350 OK")
        .On("SYST", "215 UNIX Type: L8")
        .On("PWD", "257 \"/home/u\"");
    ScriptList(false);
    server.Start();
    Connect();
    EXPECT_EQ(server.Mismatch(), "");
    EXPECT_EQ(fe.Events().Count("ConnectDone result=0 ok"), 1u);
    EXPECT_EQ(fe.Events().Count("reply     with a banner"), 1u);
}

TEST_F(Session, AWrongPasswordFailsAndIsShown) {
    server.Greet().On("USER u", "331 Password required").On("PASS p", "530 Login incorrect.");
    server.Start();
    ConnectionId cId = kNoConnection;
    ASSERT_NE(manager->Connect("127.0.0.1", "u", "p", "", server.ListenPort(), nullptr, &cId), 0u);
    ASSERT_TRUE(WaitIdle(1));
    EXPECT_EQ(fe.Questions(),
              std::vector<std::string>{"Failed to connect!\n530 Login incorrect.\n"});
    EXPECT_EQ(fe.Events().Count("ConnectDone result=3 failed"), 1u);
    EXPECT_EQ(server.ConnectionsServed(), 1) << "a refused password is not tried again";
}

} // namespace
} // namespace qb

namespace qb {
namespace {

// A server that stops answering ends the step after the reply time-out: a
// silent control connection ends the connection too, a stalled data
// connection only breaks the transfer off.
TEST(SilentServer, EndsTheStepAfterTheReplyTimeout) {
    struct Case {
        const char* name;
        bool dataStalls;
        const char* message;
        bool connectionStays;
    };
    const Case cases[] = {
        {"no reply to CWD", false, "Timed out waiting for the server's reply (nothing for 300 ms).",
         false},
        {"a listing that never comes", true,
         "The data connection stalled: nothing happened within 300 ms.", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::RecordingFrontEnd fe;
        CFTPSecretary secretary(fe.Get());
        EngineOptions options;
        options.replyTimeout = 300ms;
        CFTPManager manager(fe.Get(), DefaultHandlers(), options);
        manager.SetSecretary(&secretary);
        test::ScriptServer s;
        s.Greet().On("USER u", "230 In").On("TYPE I", "200 Binary").On("REST 100", "502 No");
        s.On("SYST", "215 UNIX").On("PWD", "257 \"/\"");
        s.On("TYPE A", "200 OK").Pasv().SendData("LIST", "");
        if (c.dataStalls) {
            s.On("CWD /quiet", "250 OK").On("TYPE A", "200 OK").Pasv();
            s.On("LIST", "150 Here it comes, never");
            s.On("ABOR", std::vector<std::string>{"426 Aborted", "226 Done"});
            s.On("NOOP", "200 NOOP ok");
        } else {
            s.On("CWD /quiet", std::vector<std::string>{});
        }
        s.Start();
        FirewallSettings fw = ClassicFtp();
        fw.enabled = true;
        fw.type = 5;
        ConnectionId id = kNoConnection;
        ASSERT_NE(manager.Connect("127.0.0.1", "u", "p", "", s.ListenPort(), nullptr, &id, fw), 0u);
        ASSERT_TRUE(fe.Events().WaitForCount("Idle", 1));
        CFTPFile quiet("quiet", SiteRef{id, "127.0.0.1"}, false);
        ASSERT_NE(manager.Explore(&quiet, nullptr), 0u);
        ASSERT_TRUE(fe.Events().WaitForCount("Idle", 2));
        ASSERT_EQ(fe.Questions().size(), 1u);
        EXPECT_NE(fe.Questions()[0].find(c.message), std::string::npos) << fe.Questions()[0];
        {
            auto ev = fe.Events().Events();
            EXPECT_EQ(fe.Events().Count("Report 2 failed"), 1u)
                << ::testing::PrintToString(std::vector<std::string>(
                       ev.end() - std::min<std::size_t>(ev.size(), 25), ev.end()));
        }
        if (c.connectionStays) {
            EXPECT_TRUE(fe.Events().WaitForCount("cmd NOOP", 1));
            EXPECT_TRUE(manager.IsConnected(id));
        } else {
            EXPECT_TRUE(fe.Events().WaitForCount("ConnectionEnded", 1));
            EXPECT_FALSE(manager.IsConnected(id));
        }
    }
}

} // namespace
} // namespace qb
