// The content list in a real program: the rows of a local folder and of a
// site's remote folders (against a pyftpdlib server on the loopback
// interface, started here), the hints of an empty list, opening rows,
// Select All and Invert Selection, type-ahead, the view modes, header
// clicks kept in the profile, and the label-edit rules for local files.
#include "app/session.h"
#include "content_view.h"
#include "folder_view.h"
#include "main_app.h"
#include "main_frame.h"
#include "profile/profile.h"
#include "ui_support.h"

#include <QApplication>
#include <QDir>
#include <QHeaderView>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeView>
#include <algorithm>
#include <memory>

using namespace qb;
using namespace qb::ui;
using qb::ui::test::CFakePrompter;
using qb::ui::test::WriteFile;

namespace {

constexpr int kNetworkWaitMs = 15000;
constexpr qint64 kFiveGiB = 5LL * 1024 * 1024 * 1024;

using Program = qb::ui::test::CTestProgram;

bool WriteSparse(const QString& path, qint64 size) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.resize(size);
}

QStringList Names(const CFolderContentModel& model, int column = 0) {
    QStringList out;
    for (int row = 0; row < model.rowCount(); ++row) {
        out << model.index(row, column).data().toString();
    }
    return out;
}

} // namespace

class TestContent : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void localFolderRowsAndOpening();
    void selectionCommandsAndTypeAhead();
    void viewModesAndHeaderClicks();
    void itemCommandsFollowTheActivePane();
    void contextMenus();
    void remoteFoldersAndHints();
    void labelEditRules_data();
    void labelEditRules();

private:
    // A local folder of its own for the test: sub/inner.txt, a.txt (3
    // bytes), B.txt (10 bytes), big.bin (5 GiB, sparse).
    QString MakeLocalFolder();
    // Selects the folder in the tree and waits for its rows.
    bool ShowLocal(const QString& path, int rows);
    bool WaitIdle();

    QTemporaryDir m_dir;
    QString m_root;
    quint16 m_port = 0;
    qb::ui::test::CPyFtpServer m_server;
    std::unique_ptr<Program> m_program;
};

void TestContent::initTestCase() {
    QApplication::setQuitOnLastWindowClosed(false);
    QVERIFY(m_dir.isValid());
    qputenv("XDG_CONFIG_HOME", m_dir.filePath("config").toUtf8());
    m_root = m_dir.filePath("server");
    QDir root(m_root);
    QVERIFY(root.mkpath("pub/sub"));
    QVERIFY(root.mkpath("docs"));
    QVERIFY(WriteFile(root.filePath("readme.txt"), "data\n"));
    QVERIFY(WriteFile(root.filePath("pub/inside.txt"), "x"));
    QVERIFY(WriteSparse(root.filePath("huge.iso"), kFiveGiB));
    if (QProcess::execute("/usr/bin/python3", {"-c", "import pyftpdlib"}) != 0) {
        m_root.clear(); // the remote test skips itself
        return;
    }
    QVERIFY(m_server.Start(m_root));
    m_port = m_server.Port();
}

void TestContent::cleanupTestCase() {
    m_server.Stop();
}

void TestContent::init() {
    const QString profilePath = m_dir.filePath(
        QStringLiteral("%1-%2.dat").arg(QTest::currentTestFunction(), QTest::currentDataTag()));
    QFile::remove(profilePath);
    {
        CFTPProfile profile(profilePath.toStdString(), false);
        QVERIFY(profile.LoadProfile());
        auto folder = std::make_unique<CFTPSiteFolder>("Folder", "");
        folder->AddSite(std::make_unique<CFTPSite>("Test", "127.0.0.1", false, "qb", "qbsecret", "",
                                                   m_port, ""));
        profile.AddSiteFolder(std::move(folder));
        profile.m_bAutoExplore = false;
        profile.SetViewStyle(VIEW_DETAILS);
        QCOMPARE(profile.SaveProfile(nullptr), int(CFTPProfile::SAVE_DONE));
    }
    m_program = std::make_unique<Program>(profilePath);
    QVERIFY(m_program->Start());
    QVERIFY(QTest::qWaitForWindowExposed(&m_program->Frame()));
}

void TestContent::cleanup() {
    m_program.reset();
}

bool TestContent::WaitIdle() {
    return QTest::qWaitFor(
        [this] { return !m_program->App().IsBusy() && !m_program->Tree().HasPending(); },
        kNetworkWaitMs);
}

QString TestContent::MakeLocalFolder() {
    QString tag = QString::fromLatin1(QTest::currentDataTag()).replace(QLatin1Char(' '), '_');
    const QString path =
        m_dir.filePath(QStringLiteral("local-%1-%2").arg(QTest::currentTestFunction(), tag));
    QDir dir(path);
    dir.removeRecursively();
    if (!dir.mkpath("sub") || !WriteFile(dir.filePath("sub/inner.txt"), "i") ||
        !WriteFile(dir.filePath("a.txt"), "abc") ||
        !WriteFile(dir.filePath("B.txt"), "0123456789") ||
        !WriteSparse(dir.filePath("big.bin"), kFiveGiB)) {
        return {};
    }
    return dir.absolutePath();
}

bool TestContent::ShowLocal(const QString& path, int rows) {
    if (!m_program->Tree().GoTo(path)) {
        return false;
    }
    CFolderContentView& content = m_program->Content();
    const bool ok = QTest::qWaitFor(
        [&] {
            return content.Model().FolderPath() == path.toStdString() &&
                   content.Model().rowCount() == rows;
        },
        5000);
    return ok;
}

void TestContent::localFolderRowsAndOpening() {
    const QString path = MakeLocalFolder();
    QVERIFY(!path.isEmpty());
    QVERIFY(ShowLocal(path, 4));
    CFolderContentView& content = m_program->Content();
    CFolderContentModel& rows = content.Model();
    QCOMPARE(Names(rows), (QStringList{"sub", "a.txt", "B.txt", "big.bin"}));
    QCOMPARE(Names(rows, 2), (QStringList{"N/A", "3", "10", "5,368,709,120"}));
    QVERIFY(rows.IsLocal());
    QVERIFY(content.Hint().isEmpty());
    // The first row has the focus, nothing is selected.
    QCOMPARE(content.Selection()->currentIndex().row(), 0);
    QVERIFY(content.SelectedRows().empty());

    // Enter opens a local file with the desktop's program.
    std::vector<QUrl> opened;
    content.SetOpener([&](const QUrl& url) {
        opened.push_back(url);
        return true;
    });
    QAbstractItemView* view = content.View();
    view->setFocus();
    view->setCurrentIndex(rows.index(1, 0));
    QTest::keyClick(view, Qt::Key_Return);
    QCOMPARE(opened, (std::vector<QUrl>{QUrl::fromLocalFile(path + "/a.txt")}));

    // A double click on a folder selects its node in the tree, and the
    // list follows.
    const QRect rect = view->visualRect(rows.index(0, 0));
    QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, rect.center());
    QCOMPARE(
        QString::fromStdString(m_program->Tree().Model().NodePath(m_program->Tree().Selection())),
        path + "/sub");
    QTRY_COMPARE(Names(rows), QStringList{"inner.txt"});
    QCOMPARE(opened.size(), std::size_t(1));

    // A refill (an operation has ended) shows what the disk holds now and
    // keeps the selection.
    view->setCurrentIndex(rows.index(0, 0));
    QVERIFY(WriteFile(path + "/sub/added.txt", "new"));
    m_program->App().SetRefreshPending(true);
    content.Refill();
    QTRY_COMPARE(Names(rows), (QStringList{"added.txt", "inner.txt"}));
    QVERIFY(!m_program->App().IsRefreshPending());
    QCOMPARE(content.SelectedRows(), std::vector<int>{1});
}

void TestContent::selectionCommandsAndTypeAhead() {
    const QString path = MakeLocalFolder();
    QVERIFY(ShowLocal(path, 4));
    CFolderContentView& content = m_program->Content();
    CMainFrame& frame = m_program->Frame();
    frame.Action(ID_SELECT_ALL)->trigger();
    QCOMPARE(content.SelectedRows(), (std::vector<int>{0, 1, 2, 3}));
    QVERIFY(content.View()->hasFocus());
    frame.Action(ID_INVERT_SELECTION)->trigger();
    QVERIFY(content.SelectedRows().empty());
    content.Selection()->select(content.Model().index(1, 0),
                                QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    frame.Action(ID_INVERT_SELECTION)->trigger();
    QCOMPARE(content.SelectedRows(), (std::vector<int>{0, 2, 3}));
    // The tree's selection stays where it was.
    QCOMPARE(
        QString::fromStdString(m_program->Tree().Model().NodePath(m_program->Tree().Selection())),
        path);

    // Typing the first letters of a name, in any case, selects the row.
    QAbstractItemView* view = content.View();
    QTest::keyClicks(view, "BI");
    QCOMPARE(view->currentIndex().row(), 3);
    QTest::qWait(QApplication::keyboardInputInterval() + 50);
    QTest::keyClicks(view, "b");
    QCOMPARE(view->currentIndex().row(), 2);
    QCOMPARE(content.SelectedRows(), std::vector<int>{2});
}

void TestContent::viewModesAndHeaderClicks() {
    const QString path = MakeLocalFolder();
    QVERIFY(ShowLocal(path, 4));
    CFolderContentView& content = m_program->Content();
    CMainFrame& frame = m_program->Frame();

    const struct {
        int command;
        int style;
        bool icons;
        QListView::ViewMode mode;
        QListView::Flow flow;
    } modes[] = {
        {ID_LARGE_ICONS, VIEW_LARGE_ICONS, true, QListView::IconMode, QListView::LeftToRight},
        {ID_SMALL_ICONS, VIEW_SMALL_ICONS, true, QListView::ListMode, QListView::LeftToRight},
        {ID_LIST, VIEW_LIST, true, QListView::ListMode, QListView::TopToBottom},
        {ID_DETAILS, VIEW_DETAILS, false, QListView::ListMode, QListView::TopToBottom},
    };
    for (const auto& m : modes) {
        frame.Action(m.command)->trigger();
        QCOMPARE(m_program->Profile().GetViewStyle(), m.style);
        QCOMPARE(content.ViewStyle(), m.style);
        QCOMPARE(content.View() == content.IconView(), m.icons);
        QVERIFY(content.View()->isVisible());
        QCOMPARE(content.View()->model()->rowCount(), 4);
        if (m.icons) {
            QCOMPARE(content.IconView()->viewMode(), m.mode);
            QCOMPARE(content.IconView()->flow(), m.flow);
        }
        QVERIFY(frame.Action(m.command)->isChecked());
    }

    QHeaderView* header = content.DetailsView()->header();
    QCOMPARE(header->sectionSize(0), 200);
    // The set widths at least; wide enough for a whole date and size.
    const QFontMetrics metrics = content.DetailsView()->fontMetrics();
    CFTPVI sample(VI_LOCALFILE, "x", 1798761599, 0);
    QVERIFY(header->sectionSize(1) >= 150);
    QVERIFY(header->sectionSize(1) >
            metrics.horizontalAdvance(QString::fromStdString(sample.TimeText())));
    QVERIFY(header->sectionSize(2) >= 100);
    QVERIFY(header->sectionSize(2) > metrics.horizontalAdvance("5,368,709,120"));
    auto clickHeader = [&](int column) {
        QTest::mouseClick(
            header->viewport(), Qt::LeftButton, {},
            QPoint(header->sectionViewportPosition(column) + 20, header->height() / 2));
    };
    // Size up, size down, then by name again: each kept in the profile.
    clickHeader(2);
    QCOMPARE(m_program->Profile().m_wSortOrder, std::uint16_t(2));
    QCOMPARE(Names(content.Model()), (QStringList{"sub", "a.txt", "B.txt", "big.bin"}));
    clickHeader(2);
    QCOMPARE(m_program->Profile().m_wSortOrder, std::uint16_t(0x8002));
    QCOMPARE(Names(content.Model()), (QStringList{"big.bin", "B.txt", "a.txt", "sub"}));
    QCOMPARE(header->sortIndicatorSection(), 2);
    QCOMPARE(header->sortIndicatorOrder(), Qt::DescendingOrder);
    clickHeader(0);
    QCOMPARE(m_program->Profile().m_wSortOrder, std::uint16_t(0));
    QCOMPARE(Names(content.Model()), (QStringList{"sub", "a.txt", "B.txt", "big.bin"}));
    // The menu's Sort By Size does the same.
    frame.Action(ID_SORT_SIZE)->trigger();
    QCOMPARE(Names(content.Model()).last(), QString("big.bin"));
}

void TestContent::itemCommandsFollowTheActivePane() {
    const QString path = MakeLocalFolder();
    QVERIFY(ShowLocal(path, 4));
    CFolderContentView& content = m_program->Content();
    CMainFrame& frame = m_program->Frame();
    CFolderTreeView& tree = m_program->Tree();
    QAction* rename = frame.Action(ID_RENAME);
    QAction* remove = frame.Action(ID_DELETE);
    QAction* open = frame.Action(ID_CONNECT_EXPLORE);

    // The tree is active: its commands act on its selection (the folder).
    frame.ActivatePane(PANE_TREE);
    QVERIFY(remove->isEnabled());
    QVERIFY(rename->isEnabled());

    // The list is active: they act on its rows; Delete deletes the selected
    // file, never the tree's folder.
    frame.ActivatePane(PANE_LIST);
    QVERIFY(content.IsActive());
    QVERIFY(!rename->isEnabled());                                // no row selected
    content.View()->setCurrentIndex(content.Model().index(1, 0)); // a.txt
    QVERIFY(rename->isEnabled());
    QVERIFY(remove->isEnabled());
    QVERIFY(!open->isEnabled()); // a file has no tree node
    rename->trigger();
    QCOMPARE(m_program->App().GetBusyCode(), int(BUSY_EDITING_LABEL));
    auto* editor =
        qobject_cast<QLineEdit*>(content.View()->indexWidget(content.Model().index(1, 0)));
    QVERIFY(editor != nullptr);
    QCOMPARE(editor->text(), QString("a.txt"));
    editor->setText("renamed.txt");
    QTest::keyClick(editor, Qt::Key_Return);
    QTRY_COMPARE(m_program->App().GetBusyCode(), int(BUSY_IDLE));
    QVERIFY(QFile::exists(path + "/renamed.txt"));
    QVERIFY(!QFile::exists(path + "/a.txt"));

    // Alt+double click: the folder's properties, not the folder.
    const QRect subRect = content.View()->visualRect(content.Model().index(0, 0));
    QTest::mouseDClick(content.View()->viewport(), Qt::LeftButton, Qt::AltModifier,
                       subRect.center());
    QCOMPARE(QString::fromStdString(tree.Model().NodePath(tree.Selection())), path);
    // A file's row: the file's properties, in the shown folder.
    int fileRow = -1;
    for (int row = 0; row < content.Model().rowCount(); ++row) {
        if (content.Model().Item(row)->GetName() == "renamed.txt") {
            fileRow = row;
        }
    }
    QVERIFY(fileRow >= 0);
    QTest::mouseDClick(content.View()->viewport(), Qt::LeftButton, Qt::AltModifier,
                       content.View()->visualRect(content.Model().index(fileRow, 0)).center());
    const std::vector<ItemProperties>& shown = m_program->prompter.propertiesShown;
    QCOMPARE(shown.size(), std::size_t(2));
    QCOMPARE(shown[0].kind, int(VI_LOCALFOLDER));
    QCOMPARE(shown[0].name, std::string("sub"));
    QCOMPARE(QString::fromStdString(shown[0].location), path);
    QCOMPARE(shown[1].kind, int(VI_LOCALFILE));
    QCOMPARE(shown[1].name, std::string("renamed.txt"));
    QCOMPARE(QString::fromStdString(shown[1].location), path);
    QVERIFY(m_program->prompter.messages.empty());

    // While an operation runs, the selection stays.
    content.View()->setCurrentIndex(content.Model().index(2, 0));
    m_program->App().SetBusyCode(BUSY_COPYING);
    QTest::keyClick(content.View(), Qt::Key_Down);
    QCOMPARE(content.SelectedRows(), std::vector<int>{2});
    m_program->App().SetBusyCode(BUSY_IDLE);

    // A folder's row: Connect/Explore opens it in the tree.
    content.View()->setFocus();
    content.View()->setCurrentIndex(content.Model().index(0, 0)); // sub
    QVERIFY(open->isEnabled());
    open->trigger();
    QCOMPARE(QString::fromStdString(tree.Model().NodePath(tree.Selection())), path + "/sub");
}

void TestContent::contextMenus() {
    const QString path = MakeLocalFolder();
    QVERIFY(ShowLocal(path, 4));
    CFolderContentView& content = m_program->Content();
    CMainFrame& frame = m_program->Frame();
    QAbstractItemView* view = content.View();
    frame.ActivatePane(PANE_LIST);

    // Opens the menu as the event asks and reads it: the frame's commands
    // and whether each is enabled.
    auto open = [&](QContextMenuEvent::Reason reason, QPoint at) {
        std::vector<std::pair<int, bool>> seen;
        QObject guard; // no reading once this call is over
        QTimer::singleShot(0, &guard, [&] {
            if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
                for (QAction* action : menu->actions()) {
                    for (int id : {ID_DELETE, ID_RENAME, ID_PROPERTIES, ID_CONNECT_EXPLORE,
                                   ID_DETAILS, ID_SORT_SIZE, ID_NEW_FOLDER, ID_PASTE}) {
                        if (action == frame.Action(id)) {
                            seen.emplace_back(id, action->isEnabled());
                        }
                    }
                }
                menu->close();
            }
        });
        QContextMenuEvent event(reason, at, view->viewport()->mapToGlobal(at));
        QApplication::sendEvent(view->viewport(), &event);
        return seen;
    };

    // A right click on a file selects it and opens the row menu.
    const QPoint onFile = view->visualRect(content.Model().index(1, 0)).center();
    const auto rowMenu = open(QContextMenuEvent::Mouse, onFile);
    QCOMPARE(content.SelectedRows(), std::vector<int>{1});
    QCOMPARE(rowMenu, (std::vector<std::pair<int, bool>>{{ID_CONNECT_EXPLORE, false},
                                                         {ID_PASTE, false},
                                                         {ID_DELETE, true},
                                                         {ID_RENAME, true},
                                                         {ID_PROPERTIES, true}}));
    // Shift+F10 with no row selected: the background menu.
    content.Selection()->clearSelection();
    const auto background = open(QContextMenuEvent::Keyboard, QPoint(0, 0));
    QCOMPARE(
        background,
        (std::vector<std::pair<int, bool>>{
            {ID_DETAILS, true}, {ID_SORT_SIZE, true}, {ID_NEW_FOLDER, true}, {ID_PASTE, false}}));
    // Nothing opens while an operation runs.
    m_program->App().SetBusyCode(BUSY_EXPLORING);
    QVERIFY(open(QContextMenuEvent::Mouse, onFile).empty());
    m_program->App().SetBusyCode(BUSY_IDLE);
}

void TestContent::remoteFoldersAndHints() {
    if (m_root.isEmpty()) {
        QSKIP("pyftpdlib is not installed");
    }
    CFolderTreeView& tree = m_program->Tree();
    CFolderContentView& content = m_program->Content();
    tree.expand(tree.Model().IndexOf(tree.FindNode("Folder")));
    CFTPVI* site = tree.FindNode("Folder/Test");
    QVERIFY(site != nullptr);

    // A site that is not connected: no rows, and the hint.
    tree.Select(site);
    QTRY_COMPARE(content.Shown(), site);
    QCOMPARE(content.Model().rowCount(), 0);
    QCOMPARE(content.Hint(), QString("Disconnected!"));

    // Connected, it shows its folders and files.
    tree.setFocus();
    QTest::keyClick(&tree, Qt::Key_Return);
    QVERIFY(WaitIdle());
    QTRY_COMPARE(Names(content.Model()), (QStringList{"docs", "pub", "huge.iso", "readme.txt"}));
    QVERIFY(content.Hint().isEmpty());
    QCOMPARE(Names(content.Model(), 2).mid(2), (QStringList{"5,368,709,120", "5"}));
    QCOMPARE(content.Model().Item(1)->GetKind(), std::uint16_t(VI_REMOTEFOLDER));

    // View Remote Text: the file arrives in the private temporary folder
    // and is opened with the desktop's program.
    std::vector<QUrl> viewed;
    content.SetOpener([&](const QUrl& url) {
        viewed.push_back(url);
        return true;
    });
    QAction* viewText = m_program->Frame().Action(ID_VIEW_REMOTE_TEXT);
    content.View()->setCurrentIndex(content.Model().index(1, 0)); // a folder
    QVERIFY(!viewText->isEnabled());
    content.View()->setCurrentIndex(content.Model().index(3, 0)); // readme.txt
    QVERIFY(viewText->isEnabled());
    viewText->trigger();
    QVERIFY(WaitIdle());
    QTRY_COMPARE(viewed.size(), std::size_t(1));
    const QFileInfo shownFile(viewed[0].toLocalFile());
    QVERIFY2(QRegularExpression("^Quillbeck\\d{3}\\.txt$").match(shownFile.fileName()).hasMatch(),
             qPrintable(shownFile.fileName()));
    QFile arrived(shownFile.filePath());
    QVERIFY(arrived.open(QIODevice::ReadOnly));
    QCOMPARE(arrived.readAll(), QByteArray("data\n"));
    const QFileInfo folderInfo(shownFile.path());
    QCOMPARE(folderInfo.permissions() & (QFile::ReadGroup | QFile::ReadOther | QFile::WriteGroup |
                                         QFile::WriteOther | QFile::ExeGroup | QFile::ExeOther),
             QFile::Permissions());
    const std::vector<std::string> temporary = m_program->App().GetTemporaryFiles();
    QVERIFY(std::find(temporary.begin(), temporary.end(), shownFile.filePath().toStdString()) !=
            temporary.end());

    // Renaming a remote file in place: the refusals, then the rename,
    // which the row shows once the server has done it.
    const struct {
        const char* typed;
        const char* message;
    } refused[] = {
        {"  ", "You must type a name!"},
        {"pub", "An item named \"pub\" already exists in the same folder!"},
        {"huge.iso", "An item named \"huge.iso\" already exists in the same folder!"},
        {"a/b", "Name of RemoteFolder/RemoteFile cannot contain\n/"},
    };
    for (const auto& r : refused) {
        m_program->prompter.messages.clear();
        QVERIFY(
            !content.Model().setData(content.Model().index(3, 0), QString(r.typed), Qt::EditRole));
        QCOMPARE(m_program->prompter.messages.size(), std::size_t(1));
        QCOMPARE(m_program->prompter.messages[0].text, QString(r.message));
        QTRY_COMPARE(m_program->App().GetBusyCode(), int(BUSY_EDITING_LABEL));
        // Esc in the editor cancels.
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
        QTRY_COMPARE(m_program->App().GetBusyCode(), int(BUSY_IDLE));
    }
    m_program->prompter.messages.clear();
    QVERIFY(!content.Model().setData(content.Model().index(3, 0), QString(" notes.txt "),
                                     Qt::EditRole));
    QVERIFY(WaitIdle());
    QTRY_COMPARE(Names(content.Model()), (QStringList{"docs", "pub", "huge.iso", "notes.txt"}));
    QVERIFY(QFile::exists(m_root + "/notes.txt"));
    QVERIFY(!QFile::exists(m_root + "/readme.txt"));
    QVERIFY(m_program->prompter.messages.empty());
    QVERIFY(QFile::rename(m_root + "/notes.txt", m_root + "/readme.txt"));

    // Enter on a remote folder's row selects its node: not explored yet.
    QAbstractItemView* view = content.View();
    view->setFocus();
    view->setCurrentIndex(content.Model().index(1, 0));
    QTest::keyClick(view, Qt::Key_Return);
    CFTPVI* pub = tree.FindNode("Folder/Test/pub");
    QCOMPARE(tree.Selection(), pub);
    QTRY_COMPARE(content.Shown(), pub);
    QCOMPARE(content.Model().rowCount(), 0);
    QCOMPARE(content.Hint(), QString("Not Yet Explored!"));
    // Explored, the list fills itself.
    tree.ConnectExplore(pub);
    QVERIFY(WaitIdle());
    QTRY_COMPARE(Names(content.Model()), (QStringList{"sub", "inside.txt"}));
    QVERIFY(content.Hint().isEmpty());
    // A remote file opens nothing.
    content.Open(1);
    QCOMPARE(viewed.size(), std::size_t(1));
    QCOMPARE(tree.Selection(), pub);

    // The connection ends: the site's rows go and the hint is back.
    tree.Select(site);
    QTRY_COMPARE(content.Shown(), site);
    tree.Disconnect(site, false);
    QTRY_COMPARE(content.Model().rowCount(), 0);
    QTRY_COMPARE(content.Hint(), QString("Disconnected!"));
}

void TestContent::labelEditRules_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("goneFromDisk");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QStringList>("files");

    const QStringList before{"B.txt", "a.txt", "big.bin"};
    QTest::newRow("empty") << "" << false << "You must type a name!" << before;
    QTest::newRow("spaces only") << "   " << false << "You must type a name!" << before;
    QTest::newRow("unchanged once trimmed") << "  a.txt " << false << QString() << before;
    QTest::newRow("another row's name in other case")
        << "b.TXT" << false << "An item named \"b.TXT\" already exists in the same folder!"
        << before;
    QTest::newRow("a slash") << "x/y" << false
                             << "Name of LocalFolder/LocalFile connot contain\n\\ / : * ? \" < > |"
                             << before;
    QTest::newRow("renamed, trimmed")
        << " c.txt " << false << QString() << QStringList{"B.txt", "big.bin", "c.txt"};
    QTest::newRow("file gone meanwhile")
        << "d.txt" << true << "Failed to rename\n%1/a.txt\nto\n%1/d.txt"
        << QStringList{"B.txt", "big.bin"};
}

void TestContent::labelEditRules() {
    QFETCH(QString, typed);
    QFETCH(bool, goneFromDisk);
    QFETCH(QString, message);
    QFETCH(QStringList, files);

    const QString path = MakeLocalFolder();
    QVERIFY(ShowLocal(path, 4));
    CFolderContentView& content = m_program->Content();
    CFolderContentModel& rows = content.Model();
    if (goneFromDisk) {
        QVERIFY(QFile::remove(path + "/a.txt"));
        message = message.arg(path);
    }
    QCOMPARE(rows.Item(1)->GetName(), std::string("a.txt"));
    const QModelIndex index = rows.index(1, 0);
    const bool taken = rows.setData(index, typed, Qt::EditRole);
    QCOMPARE(taken, message.isEmpty());
    if (message.isEmpty()) {
        QVERIFY(m_program->prompter.messages.empty());
    } else {
        QCOMPARE(m_program->prompter.messages.size(), std::size_t(1));
        QCOMPARE(m_program->prompter.messages[0].text, message);
        // The editor opens again on the row.
        QTRY_COMPARE(m_program->App().GetBusyCode(), int(BUSY_EDITING_LABEL));
        QVERIFY(content.View()->indexWidget(rows.index(rows.RowOf("a.txt"), 0)) != nullptr);
    }
    QStringList onDisk = QDir(path).entryList(QDir::Files, QDir::Name);
    QCOMPARE(onDisk, files);
    if (taken && typed.trimmed() != "a.txt") {
        QCOMPARE(rows.Item(1)->GetName(), typed.trimmed().toStdString());
    }
}

QTEST_MAIN(TestContent)
#include "test_content.moc"
