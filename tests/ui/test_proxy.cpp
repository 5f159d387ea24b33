// When the window asks for a proxy login and when it remembers one, with
// the core tests' scripted server standing in for the proxy: a login the
// proxy accepts is remembered for the rest of the run (the next connect
// asks nothing and logs in with it), one it refuses is not, and changing
// the type on the Firewall page forgets it.
#include "app/session.h"
#include "folder_view.h"
#include "main_app.h"
#include "main_frame.h"
#include "platform/questions.h"
#include "profile/profile.h"
#include "tests/support/script_server.h"
#include "ui_support.h"

#include <QApplication>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <memory>

using namespace qb;
using namespace qb::ui;
using Program = qb::ui::test::CTestProgram;

namespace {

constexpr int kWaitMs = 15000;

} // namespace

class TestProxy : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void rememberedProxyLogins_data();
    void rememberedProxyLogins();

private:
    QTemporaryDir m_dir;
};

void TestProxy::initTestCase() {
    QApplication::setQuitOnLastWindowClosed(false);
    QVERIFY(m_dir.isValid());
    qputenv("XDG_CONFIG_HOME", m_dir.filePath("config").toUtf8());
}

void TestProxy::rememberedProxyLogins_data() {
    QTest::addColumn<bool>("accepted");   // the proxy takes the login
    QTest::addColumn<bool>("changeType"); // the Firewall page changes the type between
    QTest::newRow("accepted: remembered") << true << false;
    QTest::newRow("accepted, then the type changed: forgotten") << true << true;
    QTest::newRow("refused: not remembered") << false << false;
}

void TestProxy::rememberedProxyLogins() {
    QFETCH(bool, accepted);
    QFETCH(bool, changeType);
    // The proxy: its own login, then "SITE host" and the remote server's
    // login and first listing through it.
    // Every connection is served the whole script.
    qb::test::ScriptServer proxy;
    proxy.Greet("220 Proxy ready").On("USER pu", "331 Password for the proxy");
    if (!accepted) {
        proxy.On("PASS pp", "530 Proxy login refused");
    } else {
        proxy.On("PASS pp", "230 Proxy login ok")
            .On("SITE ftp.remote.test", "220 Connected to ftp.remote.test")
            .On("USER ru", "331 Password required")
            .On("PASS rp", "230 Logged in")
            .On("FEAT", "500 FEAT not understood")
            .On("TYPE I", "200 Binary")
            .On("REST 100", "350 Restarting at 100")
            .On("REST 0", "350 Restarting at 0")
            .On("SYST", "215 UNIX Type: L8")
            .On("PWD", "257 \"/\" is the current directory")
            .On("TYPE A", "200 Type set to A")
            .Port()
            .SendData("LIST -a", "")
            .On("QUIT", "221 Goodbye");
    }
    proxy.Start(accepted ? 2 : 1);

    const QString tag = QString::fromLatin1(QTest::currentDataTag()).replace(' ', '_');
    const QString profilePath = m_dir.filePath(tag.left(20) + ".dat");
    {
        CFTPProfile profile(profilePath.toStdString(), false);
        QVERIFY(profile.LoadProfile());
        auto folder = std::make_unique<CFTPSiteFolder>("Folder", "");
        folder->AddSite(
            std::make_unique<CFTPSite>("Remote", "ftp.remote.test", false, "ru", "rp", "", 21, ""));
        profile.AddSiteFolder(std::move(folder));
        profile.m_bAutoExplore = false;
        FirewallOptions firewall;
        firewall.m_bFirewallEnabled = true;
        firewall.m_wFirewallType = FIREWALL_SITE; // proxy login, then "SITE host"
        firewall.m_strProxyAddress = "127.0.0.1";
        firewall.m_nProxyPort = proxy.ListenPort();
        profile.SetFirewallOptions(firewall); // no proxy user: the login is asked for
        QCOMPARE(profile.SaveProfile(nullptr), int(CFTPProfile::SAVE_DONE));
    }
    Program program(profilePath);
    QVERIFY(program.Start());
    qb::ui::test::CFakePrompter& prompter = program.prompter;
    for (int i = 0; i < 2; ++i) {
        prompter.proxyLoginAnswers.push_back([](ProxyLogin& login) {
            login.m_strUser = "pu";
            login.m_strPassword = "pp";
            return true;
        });
    }
    CFolderTreeView& tree = program.Tree();
    tree.expand(tree.Model().IndexOf(tree.FindNode("Folder")));
    CFTPVI* site = tree.FindNode("Folder/Remote");
    QVERIFY(site != nullptr);
    auto idle = [&] {
        return QTest::qWaitFor([&] { return !program.App().IsBusy() && !tree.HasPending(); },
                               kWaitMs);
    };

    QVERIFY(tree.ConnectSite(site, false));
    QCOMPARE(prompter.proxyLoginsAsked, 1);
    if (!accepted) {
        // The proxy said no: nothing is remembered. (The window would try
        // again with its back-off; Stop ends that.)
        QVERIFY(QTest::qWaitFor(
            [&] {
                const std::vector<std::string> commands = proxy.Commands();
                return std::find(commands.begin(), commands.end(), "PASS pp") != commands.end();
            },
            kWaitMs));
        QTest::qWait(100);
        QVERIFY(!program.Profile().HasRememberedProxyLogin());
        program.Frame().Action(ID_STOP)->trigger();
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            box->accept();
        }
        QVERIFY(idle());
        QVERIFY(!site->Has(VIF_EXPLORED));
    } else {
        QVERIFY(QTest::qWaitFor([&] { return site->Has(VIF_EXPLORED); }, kWaitMs));
        QVERIFY(idle());
        QVERIFY(program.Profile().HasRememberedProxyLogin());
        tree.Disconnect(site, false);
        if (changeType) {
            FirewallOptions firewall = program.Profile().GetFirewallOptions();
            firewall.m_wFirewallType = FIREWALL_USER_AT;
            program.Profile().SetFirewallOptions(firewall);
            firewall.m_wFirewallType = FIREWALL_SITE;
            program.Profile().SetFirewallOptions(firewall);
            QVERIFY(!program.Profile().HasRememberedProxyLogin());
        }
        // The second connect asks again only when the login was forgotten.
        QVERIFY(QTest::qWaitFor([&] { return tree.ConnectSite(site, false); }, kWaitMs));
        QVERIFY(QTest::qWaitFor([&] { return site->Has(VIF_EXPLORED); }, kWaitMs));
        QVERIFY(idle());
        QCOMPARE(prompter.proxyLoginsAsked, changeType ? 2 : 1);
        QCOMPARE(proxy.ConnectionsServed(), 2);
    }
    QVERIFY2(proxy.Mismatch().empty(), proxy.Mismatch().c_str());
    program.Frame().close();
    program.app->Shutdown();
}

QTEST_MAIN(TestProxy)
#include "test_proxy.moc"
