// The folder tree in a real program against a pyftpdlib server on the
// loopback interface (started here): connecting by expanding and by Enter,
// the delayed explore, disconnect and connection lost, remote rename, new
// folder and delete, Go To, the label-edit rules and the site dialog's
// checks.
#include "app/session.h"
#include "folder_view.h"
#include "main_app.h"
#include "main_frame.h"
#include "platform/questions.h"
#include "profile/profile.h"
#include "site_dialogs.h"
#include "ui_support.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QProcess>
#include <QPushButton>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>
#include <memory>

using namespace qb;
using namespace qb::ui;
using qb::ui::test::CFakePrompter;

namespace {

constexpr int kNetworkWaitMs = 15000;

using Program = qb::ui::test::CTestProgram;

// Records the messages of the dialogs' rules.
class CRecordingQuestions : public IQuestions {
public:
    int MessageBox(const std::string& text, unsigned) override {
        messages.push_back(QString::fromStdString(text));
        return IDOK;
    }
    std::vector<QString> messages;
};

} // namespace

class TestTree : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void expandUnconnectedSiteConnectsAndExpands();
    void enterConnectsWithoutExpanding();
    void missingPasswordAsksForTheLogin();
    void selectionMovedOnWithinTheDelayExploresNothing();
    void disconnectAsksFirst();
    void serverGoneIsConnectionLost();
    void renameRemoteFolderInPlace();
    void newRemoteFolder();
    void deleteRemoteFolderTree();
    void newFolderOnDisconnectedSite();
    void newLocalFolder();
    void goTo();
    void labelEditRules_data();
    void labelEditRules();
    void newSiteFolderRetry();
    void deleteConnectedSiteDisconnects();
    void siteDialogChecks_data();
    void siteDialogChecks();
    void siteDialogSecurity();
    void siteSecurityIsEditedAndKept();
    void dropTargets();
    void dropMovesASite();
    void dropUploadsDesktopFiles();
    void dropFolderDownloads();
    void refreshLocalLeavesSitesAlone();
    void listingAfterDisconnectIsDropped();
    void deleteLocalFolderTree();
    void propertiesShowTheItemsDialog();
    void aMissingProxyLoginIsAskedFor();

private:
    bool StartServer();
    void StopServer();
    CFTPVI* Node(const char* path) { return m_program->Tree().FindNode(path); }
    // Connects "Folder/Test" by expanding it and waits until it is listed.
    CFTPVI* ConnectTestSite();
    bool WaitIdle();
    // A request went out with the busy code (which a quick operation may
    // already have set back to idle) and waits for its end.
    bool Started(int busy) {
        const int code = m_program->App().GetBusyCode();
        return m_program->Tree().HasPending() && (code == busy || code == BUSY_IDLE);
    }

    QTemporaryDir m_dir;
    QString m_root;
    quint16 m_port = 0;
    qb::ui::test::CPyFtpServer m_server;
    std::unique_ptr<Program> m_program;
};

bool TestTree::StartServer() {
    if (!m_server.Start(m_root)) {
        return false;
    }
    m_port = m_server.Port();
    return true;
}

void TestTree::StopServer() {
    m_server.Stop();
}

void TestTree::initTestCase() {
    QApplication::setQuitOnLastWindowClosed(false);
    QVERIFY(m_dir.isValid());
    qputenv("XDG_CONFIG_HOME", m_dir.filePath("config").toUtf8());
    if (QProcess::execute("/usr/bin/python3", {"-c", "import pyftpdlib"}) != 0) {
        QSKIP("pyftpdlib is not installed");
    }
    m_root = m_dir.filePath("server");
    QVERIFY(QDir().mkpath(m_root));
    QVERIFY(StartServer());
}

void TestTree::cleanupTestCase() {
    StopServer();
}

void TestTree::init() {
    // Server content of its own for every test.
    QDir root(m_root);
    QVERIFY(root.removeRecursively());
    for (const char* path : {"pub/sub", "incoming", "ren_old", "tree/a/b"}) {
        QVERIFY(root.mkpath(QString::fromLatin1(path)));
    }
    for (const char* path : {"readme.txt", "tree/a/f1", "tree/a/b/f2"}) {
        QFile file(root.filePath(QString::fromLatin1(path)));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("data\n");
    }
    const QString profilePath =
        m_dir.filePath(QStringLiteral("%1.dat").arg(QTest::currentTestFunction()));
    QFile::remove(profilePath);
    {
        CFTPProfile profile(profilePath.toStdString(), false);
        QVERIFY(profile.LoadProfile());
        auto folder = std::make_unique<CFTPSiteFolder>("Folder", "");
        folder->AddSite(std::make_unique<CFTPSite>("Test", "127.0.0.1", false, "qb", "qbsecret", "",
                                                   m_port, ""));
        folder->AddSite(
            std::make_unique<CFTPSite>("NoPass", "127.0.0.1", false, "qb", "", "", m_port, ""));
        profile.AddSiteFolder(std::move(folder));
        profile.AddSite(std::make_unique<CFTPSite>("Other", "other.invalid", false, "", 21, ""));
        profile.m_bAutoExplore = false;
        QCOMPARE(profile.SaveProfile(nullptr), int(CFTPProfile::SAVE_DONE));
    }
    m_program = std::make_unique<Program>(profilePath);
    QVERIFY(m_program->Start());
    QVERIFY(QTest::qWaitForWindowExposed(&m_program->Frame()));
    m_program->Tree().expand(m_program->Model().IndexOf(Node("Folder")));
    QVERIFY(Node("Folder/Test") != nullptr);
}

void TestTree::cleanup() {
    m_program.reset();
}

bool TestTree::WaitIdle() {
    // The busy code goes back to idle on the core's side; the tree is done
    // once it has seen the operations end.
    return QTest::qWaitFor(
        [this] { return !m_program->App().IsBusy() && !m_program->Tree().HasPending(); },
        kNetworkWaitMs);
}

CFTPVI* TestTree::ConnectTestSite() {
    CFTPVI* site = Node("Folder/Test");
    CFolderTreeView& tree = m_program->Tree();
    tree.expand(m_program->Model().IndexOf(site));
    if (!QTest::qWaitFor([&] { return tree.isExpanded(m_program->Model().IndexOf(site)); },
                         kNetworkWaitMs) ||
        !WaitIdle()) {
        return nullptr;
    }
    return site;
}

void TestTree::expandUnconnectedSiteConnectsAndExpands() {
    CFolderTreeView& tree = m_program->Tree();
    CFTPVI* site = Node("Folder/Test");
    const QModelIndex index = m_program->Model().IndexOf(site);
    QVERIFY(m_program->Model().hasChildren(index));
    QCOMPARE(m_program->Model().rowCount(index), 0);
    tree.expand(index);
    // Collapsed and marked until the listing is in.
    QVERIFY(!tree.isExpanded(index));
    QVERIFY(Started(BUSY_CONNECTING));
    QCOMPARE(site->GetMark(), std::uint16_t(MARK_CONNECTING));
    QVERIFY(!m_program->Frame().Action(ID_CONNECT_EXPLORE)->isEnabled());
    QTRY_VERIFY_WITH_TIMEOUT(tree.isExpanded(index), kNetworkWaitMs);
    QVERIFY(site->Has(VIF_EXPLORED));
    QVERIFY(tree.ConnectionOf(site) != kNoConnection);
    QStringList names;
    for (const auto& child : site->m_nodes) {
        names << QString::fromStdString(child->GetName());
    }
    QCOMPARE(names, (QStringList{"incoming", "pub", "ren_old", "tree"}));
    QCOMPARE(site->GetChildren()->GetSize(), std::size_t(1)); // readme.txt
    QTRY_COMPARE_WITH_TIMEOUT(m_program->App().GetBusyCode(), int(BUSY_IDLE), kNetworkWaitMs);
    QCOMPARE(site->GetMark(), std::uint16_t(MARK_NONE));

    // A remote folder expands the same way.
    CFTPVI* pub = Node("Folder/Test/pub");
    const QModelIndex pubIndex = m_program->Model().IndexOf(pub);
    tree.expand(pubIndex);
    QVERIFY(!tree.isExpanded(pubIndex));
    QVERIFY(Started(BUSY_EXPLORING));
    QTRY_VERIFY_WITH_TIMEOUT(tree.isExpanded(pubIndex), kNetworkWaitMs);
    QVERIFY(Node("Folder/Test/pub/sub") != nullptr);
    QVERIFY(WaitIdle());
}

void TestTree::enterConnectsWithoutExpanding() {
    CFolderTreeView& tree = m_program->Tree();
    CFTPVI* site = Node("Folder/Test");
    tree.Select(site);
    tree.setFocus();
    QVERIFY(m_program->Frame().Action(ID_CONNECT_EXPLORE)->isEnabled());
    QTest::keyClick(&tree, Qt::Key_Return);
    QVERIFY(Started(BUSY_CONNECTING));
    QTRY_VERIFY_WITH_TIMEOUT(site->Has(VIF_EXPLORED), kNetworkWaitMs);
    QVERIFY(WaitIdle());
    QVERIFY(!tree.isExpanded(m_program->Model().IndexOf(site)));
    QCOMPARE(tree.windowTitle(), QString()); // the title belongs to the window
    QCOMPARE(m_program->Frame().windowTitle(), QStringLiteral("Quillbeck - Folder/Test"));
}

void TestTree::missingPasswordAsksForTheLogin() {
    CFakePrompter& prompter = m_program->prompter;
    CFTPVI* site = Node("Folder/NoPass");
    // Cancel: nothing happens.
    QVERIFY(!m_program->Tree().ConnectSite(site, false));
    QCOMPARE(prompter.sitesShown.size(), std::size_t(1));
    QCOMPARE(prompter.sitesShown[0].first, int(SITE_LOGIN));
    QCOMPARE(prompter.sitesShown[0].second.user, std::string("qb"));
    QCOMPARE(m_program->App().GetBusyCode(), int(BUSY_IDLE));
    // The password typed is used for this connection only.
    prompter.siteAnswers.push_back([](SiteDialogValues& v) {
        v.password = "qbsecret";
        return true;
    });
    QVERIFY(m_program->Tree().ConnectSite(site, false));
    QTRY_VERIFY_WITH_TIMEOUT(site->Has(VIF_EXPLORED), kNetworkWaitMs);
    QVERIFY(m_program->Profile().FindSite("Folder/NoPass")->m_strPassword.empty());
    QVERIFY(WaitIdle());
}

void TestTree::selectionMovedOnWithinTheDelayExploresNothing() {
    CFolderTreeView& tree = m_program->Tree();
    QVERIFY(ConnectTestSite() != nullptr);
    m_program->Profile().m_bAutoExplore = true;
    CFTPVI* pub = Node("Folder/Test/pub");
    CFTPVI* incoming = Node("Folder/Test/incoming");
    tree.Select(pub);
    QTest::qWait(CFolderTreeView::kExploreDelayMs / 3);
    tree.Select(Node("Folder/Test"));
    QTest::qWait(CFolderTreeView::kExploreDelayMs + 300);
    QCOMPARE(m_program->App().GetBusyCode(), int(BUSY_IDLE));
    QVERIFY(!pub->Has(VIF_EXPLORED));
    // Staying on a folder explores it, without expanding.
    tree.Select(incoming);
    QTRY_VERIFY_WITH_TIMEOUT(incoming->Has(VIF_EXPLORED), kNetworkWaitMs);
    QVERIFY(!tree.isExpanded(m_program->Model().IndexOf(incoming)));
    QVERIFY(!pub->Has(VIF_EXPLORED));
    QVERIFY(WaitIdle());
}

void TestTree::disconnectAsksFirst() {
    CFolderTreeView& tree = m_program->Tree();
    CFTPVI* site = ConnectTestSite();
    QVERIFY(site != nullptr);
    tree.Select(site);
    CFakePrompter& prompter = m_program->prompter;
    prompter.messageAnswers = {IDNO};
    QVERIFY(m_program->Frame().Action(ID_DISCONNECT)->isEnabled());
    m_program->Frame().Action(ID_DISCONNECT)->trigger();
    QCOMPARE(prompter.messages.size(), std::size_t(1));
    QCOMPARE(prompter.messages[0].text,
             QStringLiteral("Are you sure you want to disconnect from 127.0.0.1 ?"));
    QCOMPARE(prompter.messages[0].style, unsigned(MB_YESNO | MB_ICONQUESTION));
    QVERIFY(site->Has(VIF_EXPLORED));
    prompter.messageAnswers = {IDYES};
    m_program->Frame().Action(ID_DISCONNECT)->trigger();
    const QModelIndex index = m_program->Model().IndexOf(site);
    QVERIFY(!site->Has(VIF_EXPLORED) && !site->Has(VIF_CHILDREN) && !site->Has(VIF_CONNECTED));
    QCOMPARE(m_program->Model().rowCount(index), 0);
    QVERIFY(m_program->Model().hasChildren(index));
    QVERIFY(!tree.isExpanded(index));
    QCOMPARE(tree.ConnectionOf(site), kNoConnection);
    QVERIFY(!m_program->Frame().Action(ID_DISCONNECT)->isEnabled());
    // (Connecting again in the same run is left out: a second connection
    // of a run sometimes stalls in the core, its reply read but never
    // handled.)
}

void TestTree::serverGoneIsConnectionLost() {
    CFTPVI* site = ConnectTestSite();
    QVERIFY(site != nullptr);
    m_program->Tree().Select(Node("Folder/Test/pub"));
    StopServer();
    // The next request finds the connection closed.
    m_program->Tree().RefreshRemote(site);
    QTRY_VERIFY_WITH_TIMEOUT(m_program->Tree().ConnectionOf(site) == kNoConnection, kNetworkWaitMs);
    QVERIFY(WaitIdle());
    QVERIFY(!site->Has(VIF_EXPLORED));
    QCOMPARE(m_program->Model().rowCount(m_program->Model().IndexOf(site)), 0);
    QCOMPARE(m_program->Tree().Selection(), site);
    QCOMPARE(site->GetMark(), std::uint16_t(MARK_NONE));
    QVERIFY(StartServer());
}

void TestTree::renameRemoteFolderInPlace() {
    QVERIFY(ConnectTestSite() != nullptr);
    CFTPVI* folder = Node("Folder/Test/ren_old");
    const QModelIndex index = m_program->Model().IndexOf(folder);
    // The node changes when the server has done it.
    QVERIFY(!m_program->Model().setData(index, QStringLiteral(" ren_new "), Qt::EditRole));
    QVERIFY(Started(BUSY_RENAMING));
    QTRY_COMPARE_WITH_TIMEOUT(folder->GetName(), std::string("ren_new"), kNetworkWaitMs);
    QVERIFY(WaitIdle());
    QVERIFY(QDir(m_root).exists("ren_new"));
    QVERIFY(!QDir(m_root).exists("ren_old"));
    QCOMPARE(Node("Folder/Test/ren_new"), folder);
    QVERIFY(m_program->prompter.messages.empty());
}

void TestTree::newRemoteFolder() {
    CFTPVI* site = ConnectTestSite();
    QVERIFY(site != nullptr);
    m_program->Tree().Select(site);
    m_program->prompter.folderNameAnswers = {QStringLiteral("made")};
    m_program->Frame().Action(ID_NEW_FOLDER)->trigger();
    QVERIFY(Started(BUSY_CREATING_FOLDER));
    // The Remote Folder dialog gets the node's path and the names there.
    QCOMPARE(m_program->prompter.newFoldersAsked.size(), std::size_t(1));
    const NewFolderRequest& asked = m_program->prompter.newFoldersAsked[0];
    QVERIFY(asked.remote);
    QCOMPARE(asked.location, std::string("Folder/Test"));
    QCOMPARE(asked.existing,
             (std::set<std::string>{"incoming", "pub", "readme.txt", "ren_old", "tree"}));
    QTRY_VERIFY_WITH_TIMEOUT(Node("Folder/Test/made") != nullptr, kNetworkWaitMs);
    QVERIFY(WaitIdle());
    QVERIFY(QDir(m_root).exists("made"));
    CFTPVI* made = Node("Folder/Test/made");
    QCOMPARE(made->SizeText(), std::string("Need Refresh"));
    QVERIFY(m_program->Model().hasChildren(m_program->Model().IndexOf(made)));
    // In a remote folder too, with its path.
    CFTPVI* pub = Node("Folder/Test/pub");
    m_program->prompter.folderNameAnswers = {QStringLiteral("inner")};
    m_program->Tree().Run(ID_NEW_FOLDER, pub);
    QVERIFY(WaitIdle());
    QVERIFY(QDir(m_root).exists("pub/inner"));
}

void TestTree::deleteRemoteFolderTree() {
    QVERIFY(ConnectTestSite() != nullptr);
    CFTPVI* tree = Node("Folder/Test/tree");
    m_program->prompter.deleteAnswer = false;
    m_program->Tree().Run(ID_DELETE, tree);
    QCOMPARE(m_program->prompter.deletesAsked, std::vector<QString>{"Folder/Test/tree"});
    QCOMPARE(m_program->App().GetBusyCode(), int(BUSY_IDLE));
    m_program->prompter.deleteAnswer = true;
    m_program->Tree().Run(ID_DELETE, tree);
    QVERIFY(Started(BUSY_DELETING));
    QTRY_VERIFY_WITH_TIMEOUT(Node("Folder/Test/tree") == nullptr, kNetworkWaitMs);
    QVERIFY(WaitIdle());
    QVERIFY(!QDir(m_root).exists("tree"));
}

void TestTree::newFolderOnDisconnectedSite() {
    m_program->Tree().Run(ID_NEW_FOLDER, Node("Folder/Test"));
    QCOMPARE(m_program->prompter.messages.size(), std::size_t(1));
    QCOMPARE(m_program->prompter.messages[0].text,
             QStringLiteral("Target is disconnected!\nPlease connect target first."));
    QVERIFY(m_program->prompter.newFoldersAsked.empty());
}

void TestTree::newLocalFolder() {
    const QString path = m_dir.filePath("newlocal");
    QVERIFY(QDir().mkpath(path));
    CFolderTreeView& tree = m_program->Tree();
    QVERIFY(tree.GoTo(path));
    // The Local Folder dialog gets the folder's path (and creates the new
    // one); the tree shows it at once.
    m_program->prompter.folderNameAnswers = {QStringLiteral("fresh")};
    tree.Run(ID_NEW_FOLDER);
    QCOMPARE(m_program->prompter.newFoldersAsked.size(), std::size_t(1));
    QVERIFY(!m_program->prompter.newFoldersAsked[0].remote);
    QCOMPARE(m_program->prompter.newFoldersAsked[0].location, path.toStdString());
    QVERIFY(Node(qPrintable(path + "/fresh")) != nullptr);
    // Cancelled: nothing.
    tree.Run(ID_NEW_FOLDER);
    QCOMPARE(QDir(path).entryList(QDir::Dirs | QDir::NoDotAndDotDot), QStringList{"fresh"});
}

void TestTree::goTo() {
    CFolderTreeView& tree = m_program->Tree();
    QDir local(m_dir.filePath("local"));
    QVERIFY(local.mkpath("CaseDir/inner"));
    // Local folders compare without regard to case.
    const QString typed = local.absolutePath() + "/casedir/INNER/";
    QVERIFY(tree.GoTo(typed));
    QCOMPARE(QString::fromStdString(tree.Model().NodePath(tree.Selection())),
             local.absoluteFilePath("CaseDir/inner"));
    QVERIFY(!tree.GoTo(local.absolutePath() + "/missing"));
    // Site labels compare exactly; a remote level not listed yet fails.
    QVERIFY(!tree.GoTo("folder/Test"));
    QVERIFY(!tree.GoTo("Folder/Test/pub"));
    QVERIFY(WaitIdle()); // that walk started the connect
    QVERIFY(Node("Folder/Test")->Has(VIF_EXPLORED));
    QVERIFY(tree.GoTo("Folder/Test/pub"));
    QCOMPARE(tree.Selection(), Node("Folder/Test/pub"));
    QVERIFY(!tree.GoTo("Folder/Test/PUB"));
    // Through the frame's command, with the history.
    m_program->prompter.goToAnswer = QStringLiteral("Folder");
    m_program->Frame().GoTo();
    QCOMPARE(tree.Selection(), Node("Folder"));
    QCOMPARE(m_program->Profile().m_arrGotoHistory.back(), std::string("Folder"));
    // Up One Level.
    m_program->Frame().Action(ID_UP_ONE_LEVEL)->trigger();
    QCOMPARE(tree.Selection(), tree.Model().Root());
    QVERIFY(!m_program->Frame().Action(ID_UP_ONE_LEVEL)->isEnabled());
}

void TestTree::labelEditRules_data() {
    QTest::addColumn<QString>("node");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("nameAfter");
    const QString empty;
    QTest::newRow("empty") << "Folder"
                           << ""
                           << "You must type a name!"
                           << "Folder";
    QTest::newRow("spaces only") << "Folder"
                                 << "   "
                                 << "You must type a name!"
                                 << "Folder";
    QTest::newRow("unchanged") << "Folder"
                               << " Folder " << empty << "Folder";
    QTest::newRow("site folder onto a sibling site")
        << "Folder"
        << "Other"
        << "An item named \"Other\" already exists in the same folder!"
        << "Folder";
    QTest::newRow("site with a slash") << "Other"
                                       << "a/b"
                                       << "Label of SiteFolder/Site cannot contain\n/  :"
                                       << "Other";
    QTest::newRow("site trimmed") << "Other"
                                  << "  Renamed  " << empty << "Renamed";
    QTest::newRow("case only") << "Folder/Test"
                               << "test" << empty << "test";
    QTest::newRow("site onto a sibling")
        << "Folder/Test"
        << "NoPass"
        << "An item named \"NoPass\" already exists in the same folder!"
        << "Test";
    QTest::newRow("local folder onto a sibling")
        << "local/one"
        << "two"
        << "An item named \"two\" already exists in the same folder!"
        << "one";
    QTest::newRow("local folder with a star")
        << "local/one"
        << "a*b"
        << "Name of LocalFolder/LocalFile connot contain\n\\ / : * ? \" < > |"
        << "one";
    QTest::newRow("local folder renamed on disk") << "local/one"
                                                  << "three" << empty << "three";
}

void TestTree::labelEditRules() {
    QFETCH(QString, node);
    QFETCH(QString, typed);
    QFETCH(QString, message);
    QFETCH(QString, nameAfter);
    CFolderTreeView& tree = m_program->Tree();
    CFTPVI* item = nullptr;
    QDir local(m_dir.filePath("labels"));
    QVERIFY(local.removeRecursively());
    QVERIFY(local.mkpath("one") && local.mkpath("two"));
    if (node.startsWith("local/")) {
        QVERIFY(tree.GoTo(local.absoluteFilePath(node.mid(6))));
        item = tree.Selection();
    } else {
        item = Node(node.toUtf8().constData());
    }
    QVERIFY(item != nullptr);
    const QModelIndex index = tree.Model().IndexOf(item);
    const bool accepted = tree.Model().setData(index, typed, Qt::EditRole);
    auto& messages = m_program->prompter.messages;
    QCOMPARE(messages.empty() ? QString() : messages.front().text, message);
    QCOMPARE(QString::fromStdString(item->GetName()), nameAfter);
    QCOMPARE(accepted, message.isEmpty() && nameAfter != node.section('/', -1));
    if (!message.isEmpty()) {
        // The editor opens again with what was typed.
        QTRY_COMPARE(m_program->App().GetBusyCode(), int(BUSY_EDITING_LABEL));
        auto* editor = qobject_cast<QLineEdit*>(tree.indexWidget(index));
        QVERIFY(editor != nullptr);
        QCOMPARE(editor->text(), typed);
        QTest::keyClick(editor, Qt::Key_Escape);
        QTRY_COMPARE(m_program->App().GetBusyCode(), int(BUSY_IDLE));
    }
    if (node.startsWith("local/") && accepted) {
        QVERIFY(local.exists(nameAfter) && !local.exists(node.mid(6)));
    } else if (accepted) {
        // The site tree took the new label.
        const std::string path = tree.Model().NodePath(item);
        QVERIFY(m_program->Profile().FindSite(path) != nullptr ||
                m_program->Profile().FindSiteFolder(path) != nullptr);
    }
}

void TestTree::newSiteFolderRetry() {
    CFakePrompter& prompter = m_program->prompter;
    CFTPVI* root = m_program->Model().Root();
    m_program->Tree().Select(root);
    prompter.siteFolderAnswers.push_back([](std::string& label, std::string&) {
        label = "Folder";
        return true;
    });
    // Retry shows the dialog again with what was typed.
    std::string seen;
    prompter.siteFolderAnswers.push_back([&seen](std::string& label, std::string&) {
        seen = label;
        label = "Fresh";
        return true;
    });
    prompter.messageAnswers = {IDRETRY};
    m_program->Frame().Action(ID_NEW_SITE_FOLDER)->trigger();
    QCOMPARE(prompter.messages.size(), std::size_t(1));
    QCOMPARE(prompter.messages[0].text,
             QStringLiteral("Failed to add new FTP Site Folder \"Folder\" to\nQuillbeck\n\nAn "
                            "item with the same label already exists!"));
    QCOMPARE(prompter.messages[0].style, unsigned(MB_RETRYCANCEL));
    QCOMPARE(seen, std::string("Folder"));
    QVERIFY(Node("Fresh") != nullptr);
    QVERIFY(m_program->Profile().FindSiteFolder("Fresh") != nullptr);
    // A new site in a folder.
    prompter.siteAnswers.push_back([](SiteDialogValues& v) {
        v.label = "Made";
        v.host = "made.invalid";
        return true;
    });
    m_program->Tree().Run(ID_NEW_SITE, Node("Fresh"));
    QCOMPARE(prompter.sitesShown.back().first, int(SITE_NEW));
    QVERIFY(m_program->Profile().FindSite("Fresh/Made") != nullptr);
    m_program->Tree().expand(m_program->Model().IndexOf(Node("Fresh")));
    QVERIFY(Node("Fresh/Made") != nullptr);
}

void TestTree::deleteConnectedSiteDisconnects() {
    CFTPVI* site = ConnectTestSite();
    QVERIFY(site != nullptr);
    const ConnectionId id = m_program->Tree().ConnectionOf(site);
    m_program->Tree().Run(ID_DELETE, site);
    QCOMPARE(m_program->prompter.deletesAsked.size(), std::size_t(1));
    QVERIFY(m_program->prompter.messages.empty()); // no disconnect question
    QVERIFY(Node("Folder/Test") == nullptr);
    QVERIFY(m_program->Profile().FindSite("Folder/Test") == nullptr);
    QVERIFY(!m_program->app->Session()->IsConnected(id));
}

void TestTree::siteDialogChecks_data() {
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("label");
    QTest::addColumn<QString>("host");
    QTest::addColumn<QString>("port");
    QTest::addColumn<bool>("anonymous");
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("password");
    QTest::addColumn<bool>("okEnabled");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("labelAfter");
    const QString none;
    QTest::newRow("label from host") << int(SITE_NEW) << ""
                                     << " h.example "
                                     << "21" << true << ""
                                     << "" << true << none << "h.example";
    QTest::newRow("host with a colon as label")
        << int(SITE_NEW) << ""
        << "h:x"
        << "21" << true << ""
        << "" << true << "Label of SiteFolder/Site cannot contain\n/  :" << none;
    QTest::newRow("port not a number") << int(SITE_NEW) << "L"
                                       << "h"
                                       << "2x" << true << ""
                                       << "" << true << "Please enter a positive integer." << none;
    QTest::newRow("negative port") << int(SITE_NEW) << "L"
                                   << "h"
                                   << "-1" << true << ""
                                   << "" << true << "Please enter a positive integer." << none;
    QTest::newRow("no host") << int(SITE_NEW) << "L"
                             << "  "
                             << "21" << true << ""
                             << "" << false << none << none;
    QTest::newRow("no port") << int(SITE_NEW) << "L"
                             << "h"
                             << " " << true << ""
                             << "" << false << none << none;
    QTest::newRow("anonymous drops the user") << int(SITE_NEW) << "L"
                                              << "h"
                                              << "21" << true << "u"
                                              << "p" << true << none << "L";
    QTest::newRow("own login") << int(SITE_NEW) << " L "
                               << "h"
                               << "21" << false << " u "
                               << "p" << true << none << "L";
    QTest::newRow("login without password") << int(SITE_LOGIN) << "L"
                                            << "h"
                                            << "21" << false << "u"
                                            << " " << false << none << none;
    QTest::newRow("login complete") << int(SITE_LOGIN) << "L"
                                    << "h"
                                    << "21" << false << "u"
                                    << "p" << true << none << "L";
}

void TestTree::siteDialogChecks() {
    QFETCH(int, mode);
    QFETCH(QString, label);
    QFETCH(QString, host);
    QFETCH(QString, port);
    QFETCH(bool, anonymous);
    QFETCH(QString, user);
    QFETCH(QString, password);
    QFETCH(bool, okEnabled);
    QFETCH(QString, message);
    QFETCH(QString, labelAfter);
    CRecordingQuestions questions;
    SiteDialogValues start; // a new site starts empty
    if (mode == SITE_LOGIN) {
        start.label = label.toStdString();
        start.host = host.toStdString();
    }
    CFTPSiteDlg dialog(nullptr, start, mode, &questions);
    QCOMPARE(dialog.PasswordEdit()->echoMode(), QLineEdit::Password);
    if (mode == SITE_LOGIN) {
        QVERIFY(dialog.LabelEdit()->isReadOnly() && !dialog.AnonymousCheck()->isEnabled());
    } else {
        dialog.LabelEdit()->setText(label);
        dialog.HostEdit()->setText(host);
        dialog.AnonymousCheck()->setChecked(anonymous);
        QCOMPARE(dialog.UserEdit()->isEnabled(), !anonymous);
    }
    dialog.PortEdit()->setText(port);
    dialog.UserEdit()->setText(user);
    dialog.PasswordEdit()->setText(password);
    QCOMPARE(dialog.OkButton()->isEnabled(), okEnabled);
    if (!okEnabled) {
        return;
    }
    dialog.accept();
    QCOMPARE(questions.messages.empty() ? QString() : questions.messages.front(), message);
    QCOMPARE(dialog.result() == QDialog::Accepted, message.isEmpty());
    if (message.isEmpty()) {
        const SiteDialogValues& v = dialog.Result();
        QCOMPARE(QString::fromStdString(v.label), labelAfter);
        const bool keepsUser = mode == SITE_LOGIN || !anonymous;
        QCOMPARE(QString::fromStdString(v.user), keepsUser ? user.trimmed() : QString());
        QCOMPARE(QString::fromStdString(v.password), keepsUser ? password.trimmed() : QString());
    }
}

// The Security group shows the site's settings and gives back what was
// chosen; in the login use it only shows them.
void TestTree::siteDialogSecurity() {
    using Tls = qb::SiteSecurity::Tls;
    const std::string print(95, 'C');
    CRecordingQuestions questions;
    SiteDialogValues fresh;
    CFTPSiteDlg created(nullptr, fresh, SITE_NEW, &questions);
    QCOMPARE(created.TlsCombo()->currentText(), QStringLiteral("TLS if available"));
    QVERIFY(created.EpsvCheck()->isChecked());
    QCOMPARE(created.CertificateLabel()->text(), QStringLiteral("None kept"));
    QVERIFY(!created.ForgetCertificateButton()->isEnabled());

    const struct {
        int mode;
        qb::SiteSecurity start;
        int tlsIndex; // chosen; -1: left alone
        bool epsv;
        bool forget;
        qb::SiteSecurity result;
    } cases[] = {
        {SITE_EDIT, {Tls::IfAvailable, true, ""}, 2, false, false, {Tls::Explicit, false, ""}},
        {SITE_EDIT, {Tls::Implicit, false, print}, -1, false, false, {Tls::Implicit, false, print}},
        {SITE_EDIT, {Tls::Explicit, true, print}, 0, true, true, {Tls::None, true, ""}},
        {SITE_NEW, {}, 3, true, false, {Tls::Implicit, true, ""}},
        {SITE_LOGIN, {Tls::None, false, print}, -1, false, false, {Tls::None, false, print}},
    };
    for (const auto& c : cases) {
        SiteDialogValues start;
        start.label = "L";
        start.host = "h";
        start.user = "u";
        start.password = "p";
        start.anonymous = false;
        start.security = c.start;
        CFTPSiteDlg dialog(nullptr, start, c.mode, &questions);
        QCOMPARE(dialog.TlsCombo()->currentIndex(), int(c.start.tls));
        QCOMPARE(dialog.EpsvCheck()->isChecked(), c.start.epsv);
        QCOMPARE(dialog.CertificateLabel()->text().contains(QString::fromStdString(print)),
                 !c.start.fingerprint.empty());
        QCOMPARE(dialog.SecurityGroup()->isEnabled(), c.mode != SITE_LOGIN);
        if (c.tlsIndex >= 0) {
            dialog.TlsCombo()->setCurrentIndex(c.tlsIndex);
        }
        dialog.EpsvCheck()->setChecked(c.epsv);
        if (c.forget) {
            QVERIFY(dialog.ForgetCertificateButton()->isEnabled());
            QTest::mouseClick(dialog.ForgetCertificateButton(), Qt::LeftButton);
            QCOMPARE(dialog.CertificateLabel()->text(), QStringLiteral("None kept"));
        }
        dialog.accept();
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QVERIFY(dialog.Result().security == c.result);
    }
}

// Through the tree: a new site and the edit of a site take the dialog's
// security settings into the profile; a connection's certificate accepted
// for good is kept by its site; a moved or copied site takes them along.
void TestTree::siteSecurityIsEditedAndKept() {
    using Tls = qb::SiteSecurity::Tls;
    CFolderTreeView& tree = m_program->Tree();
    CFakePrompter& prompter = m_program->prompter;
    qb::CFTPProfile& profile = m_program->Profile();

    prompter.siteAnswers.push_back([](SiteDialogValues& v) {
        v.label = "Secure";
        v.host = "secure.invalid";
        v.security = {Tls::Explicit, false, ""};
        return true;
    });
    tree.NewSite(Node("Folder"));
    QVERIFY(profile.FindSite("Folder/Secure") != nullptr);
    QVERIFY(profile.FindSite("Folder/Secure")->m_security ==
            (qb::SiteSecurity{Tls::Explicit, false, ""}));

    prompter.siteAnswers.push_back([](SiteDialogValues& v) {
        v.security.tls = Tls::Implicit;
        return true;
    });
    tree.Properties(Node("Folder/Secure"));
    QCOMPARE(prompter.sitesShown.back().first, int(SITE_EDIT));
    QVERIFY(prompter.sitesShown.back().second.security.tls == Tls::Explicit);
    QVERIFY(profile.FindSite("Folder/Secure")->m_security ==
            (qb::SiteSecurity{Tls::Implicit, false, ""}));

    // The certificate: only a connection of a site keeps one.
    std::string print = "DD";
    for (int i = 1; i < 32; ++i) {
        print += ":DD";
    }
    QVERIFY(!tree.KeepCertificate(12345, print));
    CFTPVI* site = ConnectTestSite();
    QVERIFY(site != nullptr);
    QVERIFY(tree.KeepCertificate(tree.ConnectionOf(site), print));
    QCOMPARE(profile.FindSite("Folder/Test")->m_security.fingerprint, print);
    tree.Disconnect(site, false);
    QVERIFY(WaitIdle());

    // Moved to the root by a drop, then copied back: both carry them.
    QMimeData mime;
    mime.setData(QString::fromLatin1(CFolderTreeModel::kNodeMime), "Folder/Secure");
    tree.SetDragSource(Node("Folder/Secure"));
    prompter.dropAnswer = ID_MOVE_HERE;
    const QModelIndex root = tree.Model().IndexOf(tree.Model().Root());
    tree.Model().dropMimeData(&mime, Qt::MoveAction, -1, -1, root);
    QVERIFY(profile.FindSite("Folder/Secure") == nullptr);
    QVERIFY(profile.FindSite("Secure") != nullptr);
    QVERIFY(profile.FindSite("Secure")->m_security.tls == Tls::Implicit);
    tree.SetDragSource(Node("Secure"));
    mime.setData(QString::fromLatin1(CFolderTreeModel::kNodeMime), "Secure");
    prompter.dropAnswer = ID_COPY_HERE;
    tree.Model().dropMimeData(&mime, Qt::CopyAction, -1, -1, tree.Model().IndexOf(Node("Folder")));
    tree.SetDragSource(nullptr);
    QVERIFY(profile.FindSite("Folder/Secure") != nullptr);
    QVERIFY(profile.FindSite("Folder/Secure")->m_security ==
            profile.FindSite("Secure")->m_security);

    // Saved beside the profile, under the sites' paths of now.
    QCOMPARE(profile.SaveProfile(nullptr), int(qb::CFTPProfile::SAVE_DONE));
    QFile saved(QString::fromStdString(qb::SiteSettingsPath(profile.GetPath())));
    QVERIFY(saved.open(QIODevice::ReadOnly));
    const QByteArray text = saved.readAll();
    QVERIFY2(text.contains("\nFolder/Secure\ttls=implicit\tepsv=off\n"), text.constData());
    QVERIFY2(text.contains("\nSecure\ttls=implicit\tepsv=off\n"), text.constData());
    QVERIFY2(text.contains(QByteArray("\nFolder/Test\ttls=if-available\tepsv=on\tfingerprint=") +
                           print.c_str() + "\n"),
             text.constData());
}

void TestTree::dropTargets() {
    CFolderTreeView& tree = m_program->Tree();
    QVERIFY(ConnectTestSite() != nullptr);
    QVERIFY(tree.ExploreRemote(Node("Folder/Test/tree"), true));
    QVERIFY(WaitIdle());
    QVERIFY(tree.ExploreRemote(Node("Folder/Test/tree/a"), true));
    QVERIFY(WaitIdle());
    QDir local(m_dir.filePath("drops"));
    QVERIFY(local.mkpath("sub"));
    QVERIFY(tree.GoTo(local.absoluteFilePath("sub")));
    CFTPVI* localSub = tree.Selection();
    CFTPVI* root = tree.Model().Root();
    CFTPVI* drive = root->m_nodes.front().get();
    const struct {
        const char* source;
        CFTPVI* target;
        bool allowed;
    } cases[] = {
        {"Folder/Test/tree/a", Node("Folder/Test/tree"), false},   // its own parent
        {"Folder/Test/tree/a", Node("Folder/Test/tree/a"), false}, // itself
        {"Folder/Test/tree", Node("Folder/Test/tree/a/b"), false}, // inside itself
        {"Folder/Test/tree/a", Node("Folder/Test/pub"), true},     // another remote folder
        {"Folder/Test/tree/a", Node("Folder/Test"), true},         // the site
        {"Folder/Test/tree/a", localSub, true},                    // a local folder
        {"Folder/Test/tree/a", Node("Folder"), false},             // a site folder
        {"Folder/Test", drive, false},                             // a site onto a drive
        {"Folder/Test", root, true},                               // a site onto the root
        {"Folder/Test", Node("Folder"), false},                    // its own folder
        {"Other", Node("Folder"), true},                           // a site folder
        {"Folder", Node("Folder/Test"), false},                    // onto its own site
    };
    for (const auto& c : cases) {
        CFTPVI* source = Node(c.source);
        QVERIFY2(source != nullptr && c.target != nullptr, c.source);
        QVERIFY2(tree.CanDropOn(source, c.target) == c.allowed,
                 qPrintable(QStringLiteral("%1 onto %2")
                                .arg(c.source, QString::fromStdString(c.target->GetName()))));
    }
    // Through the model, as the view asks while dragging: no drop on the
    // parent, and nothing happens when dropped there anyway.
    CFTPVI* a = Node("Folder/Test/tree/a");
    tree.SetDragSource(a);
    QMimeData mime;
    mime.setData(QString::fromLatin1(CFolderTreeModel::kNodeMime), "Folder/Test/tree/a");
    const QModelIndex parent = tree.Model().IndexOf(Node("Folder/Test/tree"));
    QVERIFY(!tree.Model().canDropMimeData(&mime, Qt::MoveAction, -1, -1, parent));
    m_program->prompter.dropAnswer = ID_MOVE_HERE;
    QVERIFY(!tree.Model().dropMimeData(&mime, Qt::MoveAction, -1, -1, parent));
    QCOMPARE(m_program->prompter.dropsAsked, 0);
    // Between two rows is no target either.
    QVERIFY(!tree.Model().canDropMimeData(&mime, Qt::MoveAction, 0, 0,
                                          tree.Model().IndexOf(Node("Folder/Test/pub"))));
    QVERIFY(tree.Model().canDropMimeData(&mime, Qt::MoveAction, -1, -1,
                                         tree.Model().IndexOf(Node("Folder/Test/pub"))));
    tree.SetDragSource(nullptr);
}

void TestTree::dropMovesASite() {
    CFolderTreeView& tree = m_program->Tree();
    CFakePrompter& prompter = m_program->prompter;
    tree.SetDragSource(Node("Other"));
    QMimeData mime;
    mime.setData(QString::fromLatin1(CFolderTreeModel::kNodeMime), "Other");
    const QModelIndex folder = tree.Model().IndexOf(Node("Folder"));
    // Cancel in the drop menu: nothing moves.
    QVERIFY(!tree.Model().dropMimeData(&mime, Qt::MoveAction, -1, -1, folder));
    QCOMPARE(prompter.dropsAsked, 1);
    QVERIFY(Node("Other") != nullptr);
    prompter.dropAnswer = ID_MOVE_HERE;
    tree.Model().dropMimeData(&mime, Qt::MoveAction, -1, -1, folder);
    QVERIFY(Node("Other") == nullptr);
    QVERIFY(Node("Folder/Other") != nullptr);
    QVERIFY(m_program->Profile().FindSite("Other") == nullptr);
    QCOMPARE(m_program->Profile().FindSite("Folder/Other")->m_strHost,
             std::string("other.invalid"));
    // A copy back to the root, then a second copy clashes.
    tree.SetDragSource(Node("Folder/Other"));
    prompter.dropAnswer = ID_COPY_HERE;
    const QModelIndex root = tree.Model().IndexOf(tree.Model().Root());
    tree.Model().dropMimeData(&mime, Qt::CopyAction, -1, -1, root);
    QVERIFY(Node("Other") != nullptr && Node("Folder/Other") != nullptr);
    tree.SetDragSource(Node("Folder/Other"));
    tree.PasteNode(Node("Folder/Other"), tree.Model().Root(), false);
    QCOMPARE(prompter.messages.back().text,
             QStringLiteral("Cannot paste FTP Site \"Other\" to\nQuillbeck\nAn item with the "
                            "same label already exists."));
    tree.SetDragSource(nullptr);
}

void TestTree::dropUploadsDesktopFiles() {
    CFolderTreeView& tree = m_program->Tree();
    QDir local(m_dir.filePath("upload"));
    QVERIFY(local.mkpath("folder/inner"));
    QFile file(local.filePath("note.txt"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("note\n");
    file.close();
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(local.filePath("note.txt")),
                  QUrl::fromLocalFile(local.filePath("folder"))});
    const QModelIndex site = tree.Model().IndexOf(Node("Folder/Test"));
    // Not connected: no drop.
    QVERIFY(!tree.Model().canDropMimeData(&mime, Qt::CopyAction, -1, -1, site));
    QVERIFY(ConnectTestSite() != nullptr);
    const QModelIndex incoming = tree.Model().IndexOf(Node("Folder/Test/incoming"));
    QVERIFY(tree.Model().canDropMimeData(&mime, Qt::CopyAction, -1, -1, incoming));
    m_program->prompter.dropAnswer = ID_COPY_HERE;
    tree.Model().dropMimeData(&mime, Qt::CopyAction, -1, -1, incoming);
    QVERIFY(Started(BUSY_COPYING));
    QVERIFY(WaitIdle());
    QVERIFY(QFile::exists(m_root + "/incoming/note.txt"));
    QVERIFY(QDir(m_root).exists("incoming/folder/inner"));
    QVERIFY(local.exists("note.txt")); // a copy
    QVERIFY(m_program->prompter.messages.empty());
}

void TestTree::dropFolderDownloads() {
    CFolderTreeView& tree = m_program->Tree();
    QDir local(m_dir.filePath("download"));
    QVERIFY(local.removeRecursively());
    QVERIFY(local.mkpath("."));
    QVERIFY(ConnectTestSite() != nullptr);
    QVERIFY(tree.GoTo(local.absolutePath()));
    CFTPVI* target = tree.Selection();
    tree.expand(tree.Model().IndexOf(target)); // read: its children are kept up to date
    QVERIFY(target->Has(VIF_CHILDREN));
    tree.PasteNode(Node("Folder/Test/tree"), target, false);
    QVERIFY(WaitIdle());
    QVERIFY(QFile::exists(local.filePath("tree/a/b/f2")));
    QVERIFY(QDir(m_root).exists("tree"));
    // The local folder node learnt of the new folder.
    QVERIFY(tree.Model().Child(target, "tree") != nullptr);
}

void TestTree::refreshLocalLeavesSitesAlone() {
    CFolderTreeView& tree = m_program->Tree();
    CFTPVI* site = ConnectTestSite();
    QVERIFY(site != nullptr);
    QDir local(m_dir.filePath("refresh"));
    QVERIFY(local.mkpath("kept"));
    QVERIFY(tree.GoTo(local.absolutePath()));
    CFTPVI* folder = tree.Selection();
    tree.expand(tree.Model().IndexOf(folder));
    QVERIFY(local.mkpath("fresh") && local.rmdir("kept"));
    m_program->Frame().Action(ID_REFRESH_LOCAL)->trigger();
    QVERIFY(tree.Model().Child(folder, "fresh") != nullptr);
    QVERIFY(tree.Model().Child(folder, "kept") == nullptr);
    QVERIFY(site->Has(VIF_EXPLORED));
    QVERIFY(Node("Folder/Test/pub") != nullptr);
    QCOMPARE(m_program->App().GetBusyCode(), int(BUSY_IDLE));
}

void TestTree::listingAfterDisconnectIsDropped() {
    CFolderTreeView& tree = m_program->Tree();
    CFTPVI* site = ConnectTestSite();
    QVERIFY(site != nullptr);
    // The explore goes out; the site is disconnected before its listing
    // is handed over.
    QVERIFY(tree.ExploreRemote(Node("Folder/Test/pub"), true));
    tree.Disconnect(site, false);
    QVERIFY(Node("Folder/Test/pub") == nullptr);
    QVERIFY(WaitIdle());
    QVERIFY(!site->Has(VIF_EXPLORED));
    QCOMPARE(tree.Model().rowCount(tree.Model().IndexOf(site)), 0);
    QCOMPARE(site->GetMark(), std::uint16_t(MARK_NONE));
    // A listing of an operation the tree never made is dropped too.
    event::Listing stray;
    stray.operation = 9999;
    stray.connect = true;
    stray.succeeded = true;
    stray.content = std::make_shared<CFTPFolderContent>(CFTPFile("", SiteRef{77, "x"}, false));
    tree.OnListing(stray);
    QCOMPARE(tree.Model().rowCount(tree.Model().IndexOf(site)), 0);
}

void TestTree::deleteLocalFolderTree() {
    CFolderTreeView& tree = m_program->Tree();
    QDir local(m_dir.filePath("localdelete"));
    QVERIFY(local.removeRecursively());
    QVERIFY(local.mkpath("gone/a/b") && local.mkpath("kept"));
    QFile file(local.filePath("gone/a/f"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    QVERIFY(tree.GoTo(local.absoluteFilePath("gone/a")));
    QVERIFY(tree.GoTo(local.absoluteFilePath("gone")));
    CFTPVI* gone = tree.Selection();
    CFTPVI* parent = gone->m_pParent;
    m_program->prompter.deleteAnswer = false;
    m_program->Frame().Action(ID_DELETE)->trigger();
    QVERIFY(local.exists("gone"));
    m_program->prompter.deleteAnswer = true;
    m_program->Frame().Action(ID_DELETE)->trigger();
    QCOMPARE(m_program->prompter.deletesAsked.size(), std::size_t(2));
    QVERIFY(!local.exists("gone"));
    QVERIFY(local.exists("kept"));
    QTRY_VERIFY(tree.Model().Child(parent, "gone") == nullptr);
    QVERIFY(tree.Model().Child(parent, "kept") != nullptr);
    QCOMPARE(m_program->App().GetBusyCode(), int(BUSY_IDLE));
}

void TestTree::propertiesShowTheItemsDialog() {
    CFolderTreeView& tree = m_program->Tree();
    QDir local(m_dir.filePath("localprops"));
    QVERIFY(local.mkpath("inner"));
    QVERIFY(tree.GoTo(local.absoluteFilePath("inner")));
    tree.Run(ID_PROPERTIES, tree.Selection());
    CFTPVI* site = ConnectTestSite();
    QVERIFY(site != nullptr);
    tree.Run(ID_PROPERTIES, Node("Folder/Test/pub"));
    const std::vector<ItemProperties>& shown = m_program->prompter.propertiesShown;
    QCOMPARE(shown.size(), std::size_t(2));
    QCOMPARE(shown[0].kind, int(VI_LOCALFOLDER));
    QCOMPARE(shown[0].location, local.absolutePath().toStdString());
    QCOMPARE(shown[0].name, std::string("inner"));
    QVERIFY(shown[0].questions != nullptr);
    QCOMPARE(shown[1].kind, int(VI_REMOTEFOLDER));
    QCOMPARE(shown[1].name, std::string("pub"));
    QVERIFY(m_program->prompter.messages.empty());
}

void TestTree::aMissingProxyLoginIsAskedFor() {
    CFTPProfile* profile = &m_program->Profile();
    CFTPSite* site = profile->FindSite("Folder/Test");
    QVERIFY(site != nullptr);
    site->m_bInsideFirewall = false;
    FirewallOptions firewall = profile->GetFirewallOptions();
    firewall.m_wFirewallType = FIREWALL_SITE;
    firewall.m_strProxyAddress = "proxy.test";
    firewall.m_strProxyUser.clear();
    firewall.m_bFirewallEnabled = true;
    profile->SetFirewallOptions(firewall);
    CFolderTreeView& tree = m_program->Tree();
    tree.Select(Node("Folder/Test"));
    tree.setFocus();
    QTest::keyClick(&tree, Qt::Key_Return);
    // Cancelled: no connect goes out.
    QCOMPARE(m_program->prompter.proxyLoginsAsked, 1);
    QCOMPARE(m_program->App().GetBusyCode(), int(BUSY_IDLE));
    QCOMPARE(Node("Folder/Test")->GetMark(), std::uint16_t(0));
}

QTEST_MAIN(TestTree)
#include "test_tree.moc"
