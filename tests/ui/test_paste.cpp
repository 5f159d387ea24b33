// Cut, Copy, Paste, Delete and drag of the real program on the offscreen
// platform, against local folders of the test's own and a pyftpdlib server
// on the loopback interface: local copies and moves, downloads and uploads
// by paste, the refusals and their words, the confirmations, the cut's
// dimming and its cancel, site pastes within the profile, and drags from
// the list onto tree nodes and rows.
#include "app/session.h"
#include "content_view.h"
#include "dialogs.h"
#include "engine/question_desk.h"
#include "folder_view.h"
#include "localfs/lfs_texts.h"
#include "main_app.h"
#include "main_frame.h"
#include "platform/questions.h"
#include "profile/profile.h"
#include "status_bar.h"
#include "ui_support.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QProcess>
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

namespace {

constexpr int kNetworkWaitMs = 15000;

using Program = qb::ui::test::CTestProgram;

QByteArray ReadFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

QStringList Messages(const CFakePrompter& prompter) {
    QStringList out;
    for (const auto& call : prompter.messages) {
        out << call.text;
    }
    return out;
}

} // namespace

class TestPaste : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void localCopyThenCutAndMove();
    void refusalsAndTheirWords();
    void sitesMoveWithinTheProfile();
    void downloadAndUploadByPaste();
    void overwriteQuestionResumesADownload();
    void moveBetweenTwoSites_data();
    void moveBetweenTwoSites();
    void deleteSelectedRows();
    void deleteShowsItsDialogWhenAFileCannotGo();
    void aLinkThatIsNoFolderIsFetchedAndOpened();
    void dragRowsOntoNodesAndRows();
    void treeKeysAndMenu();
    void slowCopiesShowProgressAndSurviveTheServerGoing();
    void desktopFilesDroppedOnTheList();

private:
    CFTPVI* Node(const QString& path) { return m_program->Tree().FindNode(path.toStdString()); }
    // Selects the node in the tree and fills the list with its rows.
    bool Show(const QString& path);
    // Selects the list's rows of these names and makes the list active.
    bool SelectRows(const QStringList& names);
    // Makes the tree active with `path` selected.
    bool SelectNode(const QString& path);
    bool Run(int id);
    bool Enabled(int id);
    void Activate();
    bool WaitIdle();
    bool ConnectTestSite() { return ConnectSite("Folder/Test"); }
    bool ConnectSite(const QString& path);

    QTemporaryDir m_dir;
    QString m_root;  // the server's folder
    QString m_local; // the test's local folder: src/{a.txt,b.txt,sub/c.txt}, dest/
    qb::ui::test::CPyFtpServer m_server;
    qb::ui::test::CPyFtpServer m_slow; // sends 256 KiB/s; stopped by its test
    std::unique_ptr<Program> m_program;
};

void TestPaste::initTestCase() {
    QApplication::setQuitOnLastWindowClosed(false);
    QVERIFY(m_dir.isValid());
    qputenv("XDG_CONFIG_HOME", m_dir.filePath("config").toUtf8());
    if (!qb::ui::test::CPyFtpServer::Available()) {
        QSKIP("pyftpdlib is not installed");
    }
    m_root = m_dir.filePath("server");
    QVERIFY(QDir().mkpath(m_root));
    QVERIFY(m_server.Start(m_root));
    // A second server that sends 256 KiB a second, with a file of 1 MiB.
    const QString slowRoot = m_dir.filePath("slow");
    QVERIFY(QDir().mkpath(slowRoot));
    QVERIFY(WriteFile(slowRoot + "/big.bin", QByteArray(1 << 20, 'z')));
    QVERIFY(m_slow.Start(slowRoot, 256 * 1024));
}

void TestPaste::cleanupTestCase() {
    m_server.Stop();
    m_slow.Stop();
}

void TestPaste::init() {
    QDir root(m_root);
    QVERIFY(root.removeRecursively());
    QVERIFY(root.mkpath("incoming"));
    QVERIFY(root.mkpath("pub"));
    QVERIFY(WriteFile(root.filePath("readme.txt"), "data\n"));
    QVERIFY(WriteFile(root.filePath("pub/inside.txt"), "x"));

    const QString test = QString::fromLatin1(QTest::currentTestFunction());
    m_local = m_dir.filePath("local_" + test);
    QDir local(m_local);
    QVERIFY(local.removeRecursively());
    QVERIFY(local.mkpath("src/sub"));
    QVERIFY(local.mkpath("dest"));
    QVERIFY(WriteFile(local.filePath("src/a.txt"), "a"));
    QVERIFY(WriteFile(local.filePath("src/b.txt"), "bb"));
    QVERIFY(WriteFile(local.filePath("src/sub/c.txt"), "ccc"));

    const QString profilePath = m_dir.filePath(test + ".dat");
    QFile::remove(profilePath);
    {
        CFTPProfile profile(profilePath.toStdString(), false);
        QVERIFY(profile.LoadProfile());
        auto folder = std::make_unique<CFTPSiteFolder>("Folder", "");
        folder->AddSite(std::make_unique<CFTPSite>("Test", "127.0.0.1", false, "qb", "qbsecret", "",
                                                   m_server.Port(), ""));
        folder->AddSite(std::make_unique<CFTPSite>("Drop", "127.0.0.1", false, "qb", "qbsecret",
                                                   "/incoming", m_server.Port(), ""));
        folder->AddSite(std::make_unique<CFTPSite>("Slow", "127.0.0.1", false, "qb", "qbsecret", "",
                                                   m_slow.Port(), ""));
        auto inner = std::make_unique<CFTPSiteFolder>("Inner", "");
        inner->AddSite(std::make_unique<CFTPSite>("Other", "inner.invalid", false, "", 21, ""));
        folder->AddSiteFolder(std::move(inner));
        profile.AddSiteFolder(std::move(folder));
        profile.AddSite(std::make_unique<CFTPSite>("Other", "other.invalid", false, "", 21, ""));
        profile.m_bAutoExplore = false;
        QCOMPARE(profile.SaveProfile(nullptr), int(CFTPProfile::SAVE_DONE));
    }
    m_program = std::make_unique<Program>(profilePath);
    QVERIFY(m_program->Start());
    QVERIFY(QTest::qWaitForWindowExposed(&m_program->Frame()));
}

void TestPaste::cleanup() {
    m_program.reset();
}

bool TestPaste::Show(const QString& path) {
    CFolderTreeView& tree = m_program->Tree();
    if (!tree.GoTo(path)) {
        return false;
    }
    m_program->Content().Fill();
    return m_program->Content().Shown() == tree.Selection();
}

bool TestPaste::SelectRows(const QStringList& names) {
    CFolderContentView& content = m_program->Content();
    Activate();
    m_program->Frame().ActivatePane(PANE_LIST);
    content.Selection()->clearSelection();
    for (const QString& name : names) {
        const int row = content.Model().RowOf(name.toStdString());
        if (row < 0) {
            qWarning() << "no row" << name;
            return false;
        }
        content.Selection()->select(content.Model().index(row, 0),
                                    QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
    if (!content.IsActive()) {
        qWarning() << "the list is not active" << QApplication::activeWindow()
                   << QApplication::focusWidget();
        return false;
    }
    return content.SelectedRows().size() == std::size_t(names.size());
}

bool TestPaste::SelectNode(const QString& path) {
    if (!m_program->Tree().GoTo(path)) {
        return false;
    }
    Activate();
    m_program->Frame().ActivatePane(PANE_TREE);
    return true;
}

void TestPaste::Activate() {
    // A dialog that was shown (the local worker's, on a question) took the
    // activation with it.
    m_program->Frame().activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&m_program->Frame()));
}

bool TestPaste::Enabled(int id) {
    m_program->Frame().UpdateActions();
    return m_program->Frame().Action(id)->isEnabled();
}

bool TestPaste::Run(int id) {
    if (!Enabled(id)) {
        return false;
    }
    m_program->Frame().Action(id)->trigger();
    return true;
}

bool TestPaste::WaitIdle() {
    return QTest::qWaitFor(
        [this] { return !m_program->App().IsBusy() && !m_program->Tree().HasPending(); },
        kNetworkWaitMs);
}

bool TestPaste::ConnectSite(const QString& path) {
    CFolderTreeView& tree = m_program->Tree();
    tree.expand(tree.Model().IndexOf(Node("Folder")));
    CFTPVI* site = Node(path);
    if (site == nullptr) {
        return false;
    }
    tree.expand(tree.Model().IndexOf(site));
    return QTest::qWaitFor([&] { return site->Has(VIF_EXPLORED); }, kNetworkWaitMs) && WaitIdle();
}

void TestPaste::localCopyThenCutAndMove() {
    CFakePrompter& prompter = m_program->prompter;
    const QString src = m_local + "/src";
    const QString dest = m_local + "/dest";
    QVERIFY(!Enabled(ID_PASTE));

    // Copy a file and a folder from the list, paste them into the tree's
    // folder: no question (copies are not confirmed by default), the
    // sources stay, and the clipboard keeps them for another paste.
    QVERIFY(Show(src));
    QVERIFY(SelectRows({"a.txt", "sub"}));
    QVERIFY(Run(ID_COPY));
    QVERIFY(SelectNode(dest));
    QVERIFY(Run(ID_PASTE));
    QCOMPARE(ReadFile(dest + "/a.txt"), QByteArray("a"));
    QCOMPARE(ReadFile(dest + "/sub/c.txt"), QByteArray("ccc"));
    QCOMPARE(ReadFile(src + "/a.txt"), QByteArray("a"));
    QVERIFY(prompter.movesAsked.empty());
    QVERIFY(Enabled(ID_PASTE));
    // The tree shows the new folder.
    QVERIFY(Node(dest + "/sub") != nullptr);

    // Pasting again asks before replacing: No keeps the file there,
    // Yes To All replaces.
    QVERIFY(WriteFile(dest + "/a.txt", "changed"));
    prompter.replaceAnswer = lfs::REPLACE_NO;
    QVERIFY(Run(ID_PASTE));
    QCOMPARE(prompter.replacesAsked, 2); // a.txt and sub/c.txt
    QCOMPARE(ReadFile(dest + "/a.txt"), QByteArray("changed"));
    prompter.replaceAnswer = lfs::REPLACE_YES_TO_ALL;
    QVERIFY(Run(ID_PASTE));
    QCOMPARE(prompter.replacesAsked, 3);
    QCOMPARE(ReadFile(dest + "/a.txt"), QByteArray("a"));

    // The keys: Ctrl+C in the list copies, Ctrl+V in the tree pastes.
    QVERIFY(Show(src));
    QVERIFY(SelectRows({"b.txt"}));
    QTest::keyClick(m_program->Content().View(), Qt::Key_C, Qt::ControlModifier);
    QVERIFY(
        m_program->Tree().UserClipboard().Contains(VI_LOCALFILE, (src + "/b.txt").toStdString()));
    QVERIFY(SelectNode(dest));
    QTest::keyClick(&m_program->Tree(), Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(ReadFile(dest + "/b.txt"), QByteArray("bb"));
    QVERIFY(QFile::remove(dest + "/b.txt"));

    // A cut dims the row; Esc in the list takes the cut back.
    QVERIFY(Show(src));
    QVERIFY(SelectRows({"b.txt"}));
    QVERIFY(Run(ID_CUT));
    CFolderContentModel& rows = m_program->Content().Model();
    const int b = rows.RowOf("b.txt");
    QVERIFY(rows.IsCut(b));
    QVERIFY(!rows.IsCut(rows.RowOf("a.txt")));
    QTest::keyClick(m_program->Content().View(), Qt::Key_Escape);
    QVERIFY(!rows.IsCut(b));
    QVERIFY(m_program->Tree().UserClipboard().IsEmpty());
    QVERIFY(!Enabled(ID_PASTE));

    // Cut again and paste: the move is confirmed with the item and the
    // folder, the file moves, and the clipboard is empty afterwards.
    QVERIFY(SelectRows({"b.txt"}));
    QVERIFY(Run(ID_CUT));
    QVERIFY(SelectNode(dest));
    QVERIFY(Run(ID_PASTE));
    QCOMPARE(prompter.movesAsked.size(), std::size_t(1));
    QCOMPARE(prompter.movesAsked[0].items, src + "/b.txt");
    QCOMPARE(prompter.movesAsked[0].folder, dest);
    QVERIFY(prompter.movesAsked[0].move);
    QCOMPARE(ReadFile(dest + "/b.txt"), QByteArray("bb"));
    QVERIFY(!QFile::exists(src + "/b.txt"));
    QVERIFY(!Enabled(ID_PASTE));

    // A move that is not confirmed moves nothing and keeps the cut.
    QVERIFY(Show(dest));
    QVERIFY(SelectRows({"b.txt"}));
    QVERIFY(Run(ID_CUT));
    prompter.moveAnswer = false;
    QVERIFY(SelectNode(src));
    QVERIFY(Run(ID_PASTE));
    QVERIFY(QFile::exists(dest + "/b.txt"));
    QVERIFY(m_program->Tree().UserClipboard().IsCut());
    QVERIFY(Enabled(ID_PASTE));
}

void TestPaste::refusalsAndTheirWords() {
    CFakePrompter& prompter = m_program->prompter;
    CFolderTreeView& tree = m_program->Tree();
    const QString src = m_local + "/src";
    tree.expand(tree.Model().IndexOf(Node("Folder")));

    // A file into its own folder: OK skips it (and nothing else is left).
    QVERIFY(Show(src));
    QVERIFY(SelectRows({"a.txt"}));
    QVERIFY(Run(ID_COPY));
    QVERIFY(SelectNode(src));
    QVERIFY(Run(ID_PASTE));
    // A site that is not connected, and a site folder.
    QVERIFY(SelectNode("Folder/Test"));
    QVERIFY(Run(ID_PASTE));
    QVERIFY(SelectNode("Folder"));
    QVERIFY(Run(ID_PASTE));
    // A site into a local folder.
    QVERIFY(SelectNode("Other"));
    QVERIFY(Run(ID_COPY));
    QVERIFY(SelectNode(src));
    QVERIFY(Run(ID_PASTE));
    // A site into a folder that has one of that label: OK goes on with the
    // rest (here nothing).
    QVERIFY(SelectNode("Folder/Inner"));
    QVERIFY(Run(ID_PASTE));
    QCOMPARE(Messages(prompter),
             (QStringList{"Cannot paste\n" + src + "/a.txt\nto folder\n" + src,
                          "Target is disconnected.\nPlease connect target first!",
                          "Cannot paste local file/folder to target!",
                          "Cannot paste site/site folder to target!",
                          "Cannot paste FTP Site \"Other\" to\nFolder/Inner\nAn item with the same "
                          "label already exists."}));
    QCOMPARE(prompter.messages[0].style, unsigned(MB_OKCANCEL));
    QVERIFY(!QFile::exists(src + "/a (2).txt"));
    QCOMPARE(QDir(src).entryList(QDir::Files), (QStringList{"a.txt", "b.txt"}));

    // A site folder cut and pasted into a folder of its own is refused:
    // the move would take the target with it.
    prompter.messages.clear();
    QVERIFY(SelectNode("Folder"));
    QVERIFY(Run(ID_CUT));
    QVERIFY(SelectNode("Folder/Inner"));
    QVERIFY(Run(ID_PASTE));
    QCOMPARE(Messages(prompter), QStringList{"Cannot paste\nFolder\nto folder\nFolder/Inner"});
    QVERIFY(m_program->Profile().FindSiteFolder("Folder/Inner") != nullptr);
    QVERIFY(Node("Folder/Inner") != nullptr);
}

void TestPaste::sitesMoveWithinTheProfile() {
    CFTPProfile& profile = m_program->Profile();
    CFolderTreeView& tree = m_program->Tree();
    tree.expand(tree.Model().IndexOf(Node("Folder")));

    // Copy a site to the root: the profile and the tree have both.
    QVERIFY(SelectNode("Folder/Test"));
    QVERIFY(Run(ID_COPY));
    QVERIFY(SelectNode(""));
    QVERIFY(Run(ID_PASTE));
    QVERIFY(profile.FindSite("Test") != nullptr);
    QVERIFY(profile.FindSite("Folder/Test") != nullptr);
    QVERIFY(Node("Test") != nullptr);

    // Cut the root's "Other" into "Folder": it leaves the root, and the
    // cut node's dimming goes with it.
    QVERIFY(SelectNode("Other"));
    QVERIFY(Run(ID_CUT));
    QCOMPARE(tree.Model().CutNode(), Node("Other"));
    QVERIFY(SelectNode("Folder"));
    QVERIFY(Run(ID_PASTE));
    QCOMPARE(m_program->prompter.movesAsked.size(), std::size_t(1));
    QCOMPARE(m_program->prompter.movesAsked[0].items, QString("Other"));
    QCOMPARE(m_program->prompter.movesAsked[0].folder, QString("Folder"));
    QVERIFY(profile.FindSite("Other") == nullptr);
    QVERIFY(profile.FindSite("Folder/Other") != nullptr);
    QVERIFY(Node("Other") == nullptr);
    QVERIFY(Node("Folder/Other") != nullptr);
    QVERIFY(tree.Model().CutNode() == nullptr);
    QVERIFY(!Enabled(ID_PASTE));
    QVERIFY(m_program->prompter.messages.empty());
}

void TestPaste::downloadAndUploadByPaste() {
    CFakePrompter& prompter = m_program->prompter;
    const QString dest = m_local + "/dest";
    QVERIFY(ConnectTestSite());

    // Download: a remote file copied from the list, pasted into a local
    // folder.
    QVERIFY(Show("Folder/Test"));
    QVERIFY(SelectRows({"readme.txt"}));
    QVERIFY(Run(ID_COPY));
    QVERIFY(SelectNode(dest));
    QVERIFY(Run(ID_PASTE));
    QVERIFY(WaitIdle());
    QCOMPARE(ReadFile(dest + "/readme.txt"), QByteArray("data\n"));

    // Into its own folder: refused; Cancel pastes nothing.
    prompter.messageAnswers = {IDCANCEL};
    QVERIFY(SelectNode("Folder/Test"));
    QVERIFY(Run(ID_PASTE));
    QCOMPARE(Messages(prompter),
             QStringList{"Cannot paste\nFolder/Test/readme.txt\nto folder\nFolder/Test"});
    QVERIFY(!m_program->Tree().HasPending());

    // Upload as a move: a local file cut and pasted into a remote folder
    // reaches the server and leaves the disk.
    QVERIFY(Show(m_local + "/src"));
    QVERIFY(SelectRows({"a.txt"}));
    QVERIFY(Run(ID_CUT));
    QVERIFY(SelectNode("Folder/Test/incoming"));
    QVERIFY(Run(ID_PASTE));
    QVERIFY(WaitIdle());
    QCOMPARE(prompter.movesAsked.size(), std::size_t(1));
    QCOMPARE(ReadFile(m_root + "/incoming/a.txt"), QByteArray("a"));
    QTRY_VERIFY(!QFile::exists(m_local + "/src/a.txt"));
    QVERIFY(!Enabled(ID_PASTE));

    // Within the site: a remote folder copied into another one.
    QVERIFY(SelectNode("Folder/Test/pub"));
    QVERIFY(Run(ID_COPY));
    QVERIFY(SelectNode("Folder/Test/incoming"));
    QVERIFY(Run(ID_PASTE));
    QVERIFY(WaitIdle());
    QTRY_COMPARE(ReadFile(m_root + "/incoming/pub/inside.txt"), QByteArray("x"));
}

void TestPaste::overwriteQuestionResumesADownload() {
    const QString dest = m_local + "/dest";
    QByteArray big(300000, '\0');
    for (int i = 0; i < big.size(); ++i) {
        big[i] = static_cast<char>('a' + i % 26);
    }
    QVERIFY(WriteFile(m_root + "/big.bin", big));
    QVERIFY(WriteFile(dest + "/big.bin", big.left(100000))); // cut off
    QVERIFY(ConnectTestSite());

    // A whole remote folder, then the file onto its cut-off copy: the
    // Overwrite Confirmation asks, and Resume fetches only the rest.
    QVERIFY(SelectNode("Folder/Test/pub"));
    QVERIFY(Run(ID_COPY));
    QVERIFY(SelectNode(dest));
    QVERIFY(Run(ID_PASTE));
    QVERIFY(WaitIdle());
    QCOMPARE(ReadFile(dest + "/pub/inside.txt"), QByteArray("x"));

    QVERIFY(Show("Folder/Test"));
    QVERIFY(SelectRows({"big.bin"}));
    QVERIFY(Run(ID_COPY));
    QVERIFY(SelectNode(dest));
    QVERIFY(Run(ID_PASTE));
    COverwriteDlg* dialog = nullptr;
    QVERIFY(QTest::qWaitFor(
        [&] {
            dialog = qobject_cast<COverwriteDlg*>(QApplication::activeModalWidget());
            return dialog != nullptr;
        },
        kNetworkWaitMs));
    QVERIFY(dialog->Button(Question::RESUME)->isEnabled());
    dialog->Button(Question::RESUME)->click();
    QVERIFY(WaitIdle());
    QCOMPARE(ReadFile(dest + "/big.bin"), big);
}

void TestPaste::moveBetweenTwoSites_data() {
    QTest::addColumn<bool>("passive");
    QTest::newRow("passive") << true;
    QTest::newRow("active") << false;
}

void TestPaste::moveBetweenTwoSites() {
    QFETCH(bool, passive);
    if (passive) {
        // Through the "passive mode only" firewall setting.
        CFTPProfile& profile = m_program->Profile();
        FirewallOptions firewall = profile.GetFirewallOptions();
        firewall.m_wFirewallType = FIREWALL_PASV;
        firewall.m_bFirewallEnabled = true;
        profile.SetFirewallOptions(firewall);
    }
    // Two connections (the second logs in to "/incoming"): a file cut on
    // one and pasted into the other leaves the first.
    QVERIFY(ConnectTestSite());
    QVERIFY(ConnectSite("Folder/Drop"));
    QVERIFY(Show("Folder/Test"));
    QVERIFY(SelectRows({"readme.txt"}));
    QVERIFY(Run(ID_CUT));
    QVERIFY(SelectNode("Folder/Drop"));
    QVERIFY(Run(ID_PASTE));
    QVERIFY(WaitIdle());
    QTRY_COMPARE(ReadFile(m_root + "/incoming/readme.txt"), QByteArray("data\n"));
    QTRY_VERIFY(!QFile::exists(m_root + "/readme.txt"));
    QVERIFY(m_program->prompter.messages.empty());
}

void TestPaste::deleteShowsItsDialogWhenAFileCannotGo() {
    const QString src = m_local + "/src";
    const QString locked = src + "/locked.txt";
    QVERIFY(WriteFile(locked, "x"));
    // An immutable file cannot be deleted, not even by root.
    if (QProcess::execute("chattr", {"+i", locked}) != 0) {
        QSKIP("chattr +i is not available here");
    }
    struct Unlock {
        QString path;
        ~Unlock() { QProcess::execute("chattr", {"-i", path}); }
    } unlock{locked};
    CFakePrompter& prompter = m_program->prompter;
    QVERIFY(Show(src));
    QVERIFY(SelectRows({"a.txt", "locked.txt"}));
    QVERIFY(Run(ID_DELETE));
    // The worker's question is asked over its "Deleting..." dialog, which
    // shows at once for it; OK goes on with the other file.
    QCOMPARE(Messages(prompter), QStringList{"Failed to delete file\n" + locked});
    QCOMPARE(prompter.modalAtMessage, std::vector<QString>{"deleteDialog"});
    QVERIFY(!QFile::exists(src + "/a.txt"));
    QVERIFY(QFile::exists(locked));
    QCOMPARE(m_program->App().GetBusyCode(), int(BUSY_IDLE));
}

void TestPaste::aLinkThatIsNoFolderIsFetchedAndOpened() {
    QVERIFY(ConnectTestSite());
    CFolderTreeView& tree = m_program->Tree();
    std::vector<QUrl> opened;
    m_program->Content().SetOpener([&](const QUrl& url) {
        opened.push_back(url);
        return true;
    });
    // A folder as a listing shows a link of unknown kind; it points at a
    // file, so it cannot be explored: its target is fetched as text and
    // opened instead.
    auto link = std::make_unique<CFTPVI>(VI_REMOTEFOLDER, "latest", 0, 0);
    link->SetLinkText("readme.txt");
    CFTPVI* node = tree.Model().InsertNode(Node("Folder/Test"), std::move(link));
    QVERIFY(tree.ExploreRemote(node, false));
    QTRY_COMPARE_WITH_TIMEOUT(opened.size(), std::size_t(1), kNetworkWaitMs);
    QCOMPARE(ReadFile(opened[0].toLocalFile()), QByteArray("data\n"));
    QVERIFY(WaitIdle());
    // A folder link that can be explored is just explored.
    CFTPVI* pub = Node("Folder/Test/pub");
    pub->SetLinkText("pub");
    QVERIFY(tree.ExploreRemote(pub, false));
    QVERIFY(WaitIdle());
    QTest::qWait(50);
    QCOMPARE(opened.size(), std::size_t(1));
}

void TestPaste::deleteSelectedRows() {
    CFakePrompter& prompter = m_program->prompter;
    const QString src = m_local + "/src";

    // Local rows: one confirmation naming them all, then the worker.
    QVERIFY(Show(src));
    QVERIFY(SelectRows({"a.txt", "sub"}));
    prompter.deleteAnswer = false;
    QVERIFY(Run(ID_DELETE));
    QVERIFY(QFile::exists(src + "/a.txt"));
    prompter.deleteAnswer = true;
    QVERIFY(Run(ID_DELETE));
    QCOMPARE(prompter.deletesAsked,
             (std::vector<QString>{"2 items in " + src, "2 items in " + src}));
    QVERIFY(!QFile::exists(src + "/a.txt"));
    QVERIFY(!QFile::exists(src + "/sub"));
    QTRY_COMPARE(m_program->Content().Model().rowCount(), 1); // b.txt

    // Remote rows: one request for both.
    QVERIFY(ConnectTestSite());
    QVERIFY(Show("Folder/Test"));
    QVERIFY(SelectRows({"readme.txt", "pub"}));
    QVERIFY(Run(ID_DELETE));
    QVERIFY(WaitIdle());
    QCOMPARE(prompter.deletesAsked.back(), QString("2 items in Folder/Test"));
    QTRY_VERIFY(!QFile::exists(m_root + "/readme.txt"));
    QVERIFY(!QFile::exists(m_root + "/pub"));
    QVERIFY(QFile::exists(m_root + "/incoming"));
}

void TestPaste::dragRowsOntoNodesAndRows() {
    CFakePrompter& prompter = m_program->prompter;
    CFolderTreeView& tree = m_program->Tree();
    CFolderContentView& content = m_program->Content();
    const QString src = m_local + "/src";
    const QString dest = m_local + "/dest";
    QVERIFY(Show(src));
    QVERIFY(SelectRows({"a.txt"}));

    // Rows dragged onto tree nodes: not onto the folder they are shown
    // from, nor onto a site folder; Copy Here copies.
    QMimeData rows;
    rows.setData(QString::fromLatin1(CFolderTreeModel::kRowsMime), QByteArray());
    QVERIFY(content.BeginRowDrag());
    const QModelIndex destIndex = tree.Model().IndexOf(Node(dest));
    QVERIFY(tree.Model().canDropMimeData(&rows, Qt::CopyAction, -1, -1, destIndex));
    QVERIFY(!tree.Model().canDropMimeData(&rows, Qt::CopyAction, -1, -1,
                                          tree.Model().IndexOf(Node(src))));
    QVERIFY(!tree.Model().canDropMimeData(&rows, Qt::CopyAction, -1, -1,
                                          tree.Model().IndexOf(tree.Model().Root())));
    // Onto a row: a folder row takes it, a file row does not.
    CFolderContentModel& model = content.Model();
    const QModelIndex subRow = model.index(model.RowOf("sub"), 0);
    QVERIFY(model.canDropMimeData(&rows, Qt::CopyAction, -1, -1, subRow));
    QVERIFY(!model.canDropMimeData(&rows, Qt::CopyAction, -1, -1,
                                   model.index(model.RowOf("b.txt"), 0)));
    prompter.dropAnswer = ID_COPY_HERE;
    QVERIFY(!tree.Model().dropMimeData(&rows, Qt::CopyAction, -1, -1, destIndex));
    content.EndRowDrag();
    QCOMPARE(prompter.dropsAsked, 1);
    QCOMPARE(ReadFile(dest + "/a.txt"), QByteArray("a"));
    QVERIFY(QFile::exists(src + "/a.txt"));
    QVERIFY(tree.ScratchClipboard().IsEmpty());

    // A dragged row that is itself a folder cannot land on its own row.
    QVERIFY(SelectRows({"sub"}));
    QVERIFY(content.BeginRowDrag());
    QVERIFY(!model.canDropMimeData(&rows, Qt::CopyAction, -1, -1, subRow));
    content.EndRowDrag();

    // A tree node dragged onto a folder row: Move Here moves it there.
    QMimeData node;
    node.setData(QString::fromLatin1(CFolderTreeModel::kNodeMime), QByteArray());
    tree.SetDragSource(Node(dest));
    QVERIFY(model.canDropMimeData(&node, Qt::MoveAction, -1, -1, subRow));
    prompter.dropAnswer = ID_MOVE_HERE;
    QVERIFY(!model.dropMimeData(&node, Qt::MoveAction, -1, -1, subRow));
    tree.SetDragSource(nullptr);
    // Move Here is confirmed like a paste of cut items.
    QCOMPARE(prompter.movesAsked.size(), std::size_t(1));
    QCOMPARE(prompter.movesAsked[0].items, dest);
    QCOMPARE(prompter.movesAsked[0].folder, src + "/sub");
    QCOMPARE(ReadFile(src + "/sub/dest/a.txt"), QByteArray("a"));
    QVERIFY(!QFile::exists(dest));
}

void TestPaste::treeKeysAndMenu() {
    CFolderTreeView& tree = m_program->Tree();
    const QString src = m_local + "/src";

    // Shift+F10 opens the selection's menu: the clipboard commands are
    // there, enabled as they apply.
    QVERIFY(SelectNode(src));
    QStringList shown;
    QTimer::singleShot(0, this, [&] {
        if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
            for (QAction* action : menu->actions()) {
                if (!action->isSeparator()) {
                    shown << action->text() + (action->isEnabled() ? "" : " (off)");
                }
            }
            menu->close();
        }
    });
    QTest::keyClick(&tree, Qt::Key_F10, Qt::ShiftModifier);
    QCOMPARE(shown,
             (QStringList{"Connect/Explore (off)", "Disconnect (off)", "Cut", "Copy", "Paste (off)",
                          "New FTP Site Folder... (off)", "New FTP Site... (off)",
                          "New File Folder...", "Delete", "Rename", "Properties..."}));

    // Ctrl+X in the tree dims the node; Esc there takes the cut back.
    QVERIFY(SelectNode(src));
    QTest::keyClick(&tree, Qt::Key_X, Qt::ControlModifier);
    QCOMPARE(tree.Model().CutNode(), Node(src));
    QVERIFY(tree.UserClipboard().IsCut());
    QTest::keyClick(&tree, Qt::Key_Escape);
    QVERIFY(tree.Model().CutNode() == nullptr);
    QVERIFY(tree.UserClipboard().IsEmpty());
}

void TestPaste::desktopFilesDroppedOnTheList() {
    CFakePrompter& prompter = m_program->prompter;
    CFolderContentView& content = m_program->Content();
    CFolderContentModel& model = content.Model();
    QVERIFY(ConnectTestSite());
    QVERIFY(Show("Folder/Test/incoming"));
    QVERIFY(WaitIdle());
    // Files of the file manager dropped on the list's free space go into
    // the folder it shows; text is no drop.
    QMimeData files;
    files.setUrls({QUrl::fromLocalFile(m_local + "/src/a.txt")});
    QMimeData text;
    text.setText("just text");
    QVERIFY(!model.canDropMimeData(&text, Qt::CopyAction, -1, -1, QModelIndex()));
    QVERIFY(model.canDropMimeData(&files, Qt::CopyAction, -1, -1, QModelIndex()));
    prompter.dropAnswer = ID_COPY_HERE;
    QVERIFY(!model.dropMimeData(&files, Qt::CopyAction, -1, -1, QModelIndex()));
    QVERIFY(WaitIdle());
    QTRY_COMPARE(ReadFile(m_root + "/incoming/a.txt"), QByteArray("a"));
    QVERIFY(QFile::exists(m_local + "/src/a.txt"));
}

void TestPaste::slowCopiesShowProgressAndSurviveTheServerGoing() {
    // The slow server (started by initTestCase) sends big.bin at 256 KiB/s.
    CFolderTreeView& tree = m_program->Tree();
    CFTPStatusBar& status = *m_program->Frame().StatusBarWidget();
    QVERIFY(ConnectTestSite());
    QVERIFY(ConnectSite("Folder/Slow"));

    // A copy between the two sites: both lanes are shown, the receiving
    // one names the file and counts its bytes.
    tree.UserClipboard().Clear();
    tree.UserClipboard().Add(VI_REMOTEFILE, "Folder/Slow/big.bin");
    tree.PasteInto(Node("Folder/Test/incoming"));
    QVERIFY(QTest::qWaitFor(
        [&] {
            status.RedrawNow();
            return status.IsPaneShown(1) && status.PaneText(0).contains("receive file big.bin") &&
                   status.PaneText(0).contains("KBytes");
        },
        kNetworkWaitMs));
    QVERIFY(WaitIdle());
    QTRY_COMPARE_WITH_TIMEOUT(QFileInfo(m_root + "/incoming/big.bin").size(), qint64(1 << 20),
                              kNetworkWaitMs);

    // The server goes while a download by paste runs: the operation ends,
    // the site is no longer connected, nothing is busy, and no part file
    // is left behind.
    const QString dest = m_local + "/dest";
    tree.UserClipboard().Clear();
    tree.UserClipboard().Add(VI_REMOTEFILE, "Folder/Slow/big.bin");
    QVERIFY(tree.GoTo(dest));
    tree.PasteInto(tree.Selection());
    QVERIFY(QTest::qWaitFor(
        [&] {
            status.RedrawNow();
            return status.PaneText(0).contains("KBytes");
        },
        kNetworkWaitMs));
    m_slow.Stop();
    // The failure is told in a box of the window, which the transfer waits
    // for.
    QMessageBox* box = nullptr;
    QVERIFY(QTest::qWaitFor(
        [&] {
            box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            return box != nullptr;
        },
        kNetworkWaitMs));
    QVERIFY2(box->text().contains("big.bin"), qPrintable(box->text()));
    box->accept();
    QVERIFY(WaitIdle());
    QTRY_VERIFY_WITH_TIMEOUT(!Node("Folder/Slow")->Has(VIF_EXPLORED), kNetworkWaitMs);
    QCOMPARE(m_program->App().GetBusyCode(), int(BUSY_IDLE));
    const QStringList left = QDir(dest).entryList(QDir::Files | QDir::Hidden);
    for (const QString& name : left) {
        QVERIFY2(!name.contains("qbpart"), qPrintable(name));
    }
    QVERIFY(QFileInfo(dest + "/big.bin").size() < (1 << 20));
}

QTEST_MAIN(TestPaste)
#include "test_paste.moc"
