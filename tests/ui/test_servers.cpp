// The window against the servers that scripts/test starts (pyftpdlib with
// a login, vsftpd anonymous with its writable "upload" folder, and their TLS
// variants: explicit on both, implicit on vsftpd), in passive and active
// mode: connect, browse, create, rename, upload and download by paste,
// resume a cut-off download, delete, with the server's side checked.
// Skipped when the servers are not there (their variables unset).
#include "app/session.h"
#include "content_view.h"
#include "dialogs.h"
#include "engine/question_desk.h"
#include "folder_view.h"
#include "log_view.h"
#include "main_app.h"
#include "main_frame.h"
#include "platform/questions.h"
#include "profile/profile.h"
#include "ui_support.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <memory>

using namespace qb;
using namespace qb::ui;
using qb::ui::test::CFakePrompter;
using qb::ui::test::WriteFile;
using Program = qb::ui::test::CTestProgram;

namespace {

constexpr int kNetworkWaitMs = 20000;

QByteArray ReadFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

} // namespace

class TestServers : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void browseCreateTransferDelete_data();
    void browseCreateTransferDelete();

private:
    QTemporaryDir m_dir;
};

void TestServers::initTestCase() {
    QApplication::setQuitOnLastWindowClosed(false);
    QVERIFY(m_dir.isValid());
    qputenv("XDG_CONFIG_HOME", m_dir.filePath("config").toUtf8());
}

void TestServers::browseCreateTransferDelete_data() {
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("root");     // the server's folder on this machine
    QTest::addColumn<QString>("password"); // empty: anonymous
    QTest::addColumn<QString>("base");     // a folder the login may write to
    QTest::addColumn<bool>("passive");
    QTest::addColumn<int>("tls"); // SiteSecurity::Tls
    const QString password = qEnvironmentVariable("QB_PYFTPD_PASSWORD");
    const struct {
        const char* name;
        const char* url; // environment variable names
        const char* root;
        bool login;
        const char* base;
        SiteSecurity::Tls tls;
    } servers[] = {
        {"pyftpdlib", "QB_PYFTPD_URL", "QB_PYFTPD_ROOT", true, "", SiteSecurity::Tls::IfAvailable},
        {"vsftpd", "QB_VSFTPD_URL", "QB_VSFTPD_ROOT", false, "upload",
         SiteSecurity::Tls::IfAvailable},
        {"pyftpdlib TLS", "QB_PYFTPD_TLS_URL", "QB_PYFTPD_TLS_ROOT", true, "",
         SiteSecurity::Tls::Explicit},
        {"vsftpd TLS", "QB_VSFTPD_TLS_URL", "QB_VSFTPD_TLS_ROOT", false, "upload",
         SiteSecurity::Tls::Explicit},
        {"vsftpd implicit TLS", "QB_VSFTPD_FTPS_URL", "QB_VSFTPD_FTPS_ROOT", false, "upload",
         SiteSecurity::Tls::Implicit},
    };
    bool any = false;
    for (bool passive : {true, false}) {
        for (const auto& server : servers) {
            const QString url = qEnvironmentVariable(server.url);
            if (url.isEmpty()) {
                continue;
            }
            any = true;
            QTest::addRow("%s %s", server.name, passive ? "passive" : "active")
                << url << qEnvironmentVariable(server.root) << (server.login ? password : QString())
                << QString(server.base) << passive << static_cast<int>(server.tls);
        }
    }
    if (!any) {
        QSKIP("the test servers are not running (scripts/test starts them)");
    }
}

void TestServers::browseCreateTransferDelete() {
    QFETCH(QString, url);
    QFETCH(QString, root);
    QFETCH(QString, password);
    QFETCH(QString, base);
    QFETCH(bool, passive);
    QFETCH(int, tls);
    const QUrl server(url);
    // Names of this run only: the servers live as long as scripts/test.
    const QString tag = QString::fromLatin1(QTest::currentDataTag()).replace(' ', '-') + "-" +
                        QString::number(QCoreApplication::applicationPid());
    const QString profilePath = m_dir.filePath(tag + ".dat");
    const QString local = m_dir.filePath(tag);
    QVERIFY(QDir().mkpath(local + "/out"));
    QVERIFY(QDir().mkpath(local + "/in"));
    QVERIFY(WriteFile(local + "/out/note.txt", "a note for " + tag.toUtf8() + "\n"));
    {
        CFTPProfile profile(profilePath.toStdString(), false);
        QVERIFY(profile.LoadProfile());
        auto folder = std::make_unique<CFTPSiteFolder>("Servers", "");
        const auto port = static_cast<std::uint32_t>(server.port(21));
        if (password.isEmpty()) {
            folder->AddSite(std::make_unique<CFTPSite>("Site", "127.0.0.1", false, "", port, ""));
        } else {
            folder->AddSite(std::make_unique<CFTPSite>("Site", "127.0.0.1", false,
                                                       server.userName().toStdString(),
                                                       password.toStdString(), "", port, ""));
        }
        folder->FindSite("Site")->m_security.tls = static_cast<SiteSecurity::Tls>(tls);
        profile.AddSiteFolder(std::move(folder));
        profile.m_bAutoExplore = false;
        if (passive) {
            FirewallOptions firewall = profile.GetFirewallOptions();
            firewall.m_wFirewallType = FIREWALL_PASV;
            firewall.m_bFirewallEnabled = true;
            profile.SetFirewallOptions(firewall);
        }
        QCOMPARE(profile.SaveProfile(nullptr), int(CFTPProfile::SAVE_DONE));
    }
    Program program(profilePath);
    QVERIFY(program.Start());
    CFakePrompter& prompter = program.prompter;
    CFolderTreeView& tree = program.Tree();
    auto node = [&](const QString& path) { return tree.FindNode(path.toStdString()); };
    // The test servers' certificates are their own: each connection asks,
    // and is accepted once.
    int certificatesAsked = 0;
    QTimer acceptCertificates;
    QObject::connect(&acceptCertificates, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr) {
            return;
        }
        for (QAbstractButton* button : box->buttons()) {
            if (button->text() == QStringLiteral("Accept &Once")) {
                ++certificatesAsked;
                button->click();
                return;
            }
        }
    });
    acceptCertificates.start(20);
    auto idle = [&] {
        if (QTest::qWaitFor([&] { return !program.App().IsBusy() && !tree.HasPending(); },
                            kNetworkWaitMs)) {
            return true;
        }
        // What the connection said last, to see why.
        auto* log = qobject_cast<CFTPLogModel*>(program.Frame().LogView()->model());
        for (int i = std::max(0, log->rowCount() - 15); i < log->rowCount(); ++i) {
            qWarning() << log->Text(i);
        }
        return false;
    };

    // Connect by expanding the site; the base folder is explored the same
    // way.
    tree.expand(tree.Model().IndexOf(node("Servers")));
    CFTPVI* site = node("Servers/Site");
    QVERIFY(site != nullptr);
    tree.expand(tree.Model().IndexOf(site));
    QVERIFY(QTest::qWaitFor([&] { return site->Has(VIF_EXPLORED); }, kNetworkWaitMs));
    QVERIFY(idle());
    const QString basePath = base.isEmpty() ? "Servers/Site" : "Servers/Site/" + base;
    CFTPVI* baseNode = node(basePath);
    QVERIFY(baseNode != nullptr);
    if (!baseNode->Has(VIF_EXPLORED)) {
        QVERIFY(tree.ExploreRemote(baseNode, true));
        QVERIFY(idle());
    }
    const QString serverBase = base.isEmpty() ? root : root + "/" + base;

    // New folder, then renamed in place.
    const QString made = "made-" + tag;
    prompter.folderNameAnswers = {made};
    tree.Run(ID_NEW_FOLDER, baseNode);
    QVERIFY(idle());
    QTRY_VERIFY_WITH_TIMEOUT(node(basePath + "/" + made) != nullptr, kNetworkWaitMs);
    QVERIFY(QFileInfo(serverBase + "/" + made).isDir());
    const QString renamed = "renamed-" + tag;
    // The node takes the name once the server has done it.
    tree.Model().setData(tree.Model().IndexOf(node(basePath + "/" + made)), renamed, Qt::EditRole);
    QVERIFY(idle());
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(serverBase + "/" + renamed).isDir(), kNetworkWaitMs);
    CFTPVI* folder = node(basePath + "/" + renamed);
    QVERIFY(folder != nullptr);

    // Upload by paste into it, then download the file by paste from the
    // list into another local folder.
    tree.UserClipboard().Clear();
    tree.UserClipboard().Add(VI_LOCALFILE, (local + "/out/note.txt").toStdString());
    tree.PasteInto(folder);
    QVERIFY(idle());
    QTRY_COMPARE_WITH_TIMEOUT(ReadFile(serverBase + "/" + renamed + "/note.txt"),
                              ReadFile(local + "/out/note.txt"), kNetworkWaitMs);
    QVERIFY(tree.ExploreRemote(folder, true));
    QVERIFY(idle());
    tree.Select(folder);
    program.Content().Fill();
    QCOMPARE(program.Content().Model().RowOf("note.txt"), 0);
    tree.UserClipboard().Clear();
    tree.UserClipboard().Add(VI_REMOTEFILE, (basePath + "/" + renamed + "/note.txt").toStdString());
    QVERIFY(tree.GoTo(local + "/in"));
    tree.PasteInto(tree.Selection());
    QVERIFY(idle());
    QCOMPARE(ReadFile(local + "/in/note.txt"), ReadFile(local + "/out/note.txt"));

    // Cut off, then pasted again: Resume in the Overwrite Confirmation
    // fetches the rest.
    QVERIFY(QFile::resize(local + "/in/note.txt", 5));
    int resumed = 0;
    QTimer resume;
    QObject::connect(&resume, &QTimer::timeout, [&] {
        if (auto* dialog = qobject_cast<COverwriteDlg*>(QApplication::activeModalWidget())) {
            ++resumed;
            dialog->Button(Question::RESUME)->click();
        }
    });
    resume.start(20);
    tree.PasteInto(tree.Selection());
    QVERIFY(idle());
    resume.stop();
    QCOMPARE(resumed, 1);
    QCOMPARE(ReadFile(local + "/in/note.txt"), ReadFile(local + "/out/note.txt"));

    // Delete the folder with its file.
    tree.Run(ID_DELETE, node(basePath + "/" + renamed));
    QVERIFY(idle());
    QTRY_VERIFY_WITH_TIMEOUT(!QFileInfo::exists(serverBase + "/" + renamed), kNetworkWaitMs);
    QVERIFY(node(basePath + "/" + renamed) == nullptr);
    QCOMPARE(certificatesAsked > 0, tls != static_cast<int>(SiteSecurity::Tls::IfAvailable));
    QVERIFY2(prompter.messages.empty(),
             qPrintable(prompter.messages.empty() ? QString() : prompter.messages[0].text));
    program.Frame().close();
    program.app->Shutdown();
}

QTEST_MAIN(TestServers)
#include "test_servers.moc"
