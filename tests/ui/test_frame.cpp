// The main frame in a real program (session, profile file, frame), with a
// prompter that answers from a script: menus and their enabled states, Esc
// and Stop, closing, the log commands, pane cycling, the layout's round
// trip through the profile file, and the start-up messages.
#include "app/session.h"
#include "log_view.h"
#include "main_app.h"
#include "main_frame.h"
#include "profile/profile.h"
#include "status_bar.h"
#include "ui_support.h"

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QMenuBar>
#include <QSplitter>
#include <QTemporaryDir>
#include <QTest>
#include <QToolBar>
#include <memory>
#include <thread>

using namespace qb;
using namespace qb::ui;
using qb::ui::test::CFakePrompter;

namespace {

// A program on a profile file of its own.
struct Program {
    explicit Program(const QString& profilePath) : profile(profilePath) {}
    bool Start(std::vector<std::string> extra = {}) {
        app = std::make_unique<CMainApp>(&prompter);
        std::vector<std::string> args = {profile.toStdString(), "--no-splash"};
        args.insert(args.end(), extra.begin(), extra.end());
        return app->Start(args);
    }
    CMainFrame& Frame() { return *app->Frame(); }
    CFTPSession& Session() { return *app->Session(); }
    CFTPApp& App() { return app->Session()->App(); }
    QWidget* FocusedPane() { return Frame().Pane(Frame().FocusedPane()); }

    QString profile;
    CFakePrompter prompter;
    std::unique_ptr<CMainApp> app;
};

// Records the keys a widget receives.
class KeyRecorder : public QObject {
public:
    explicit KeyRecorder(QWidget* widget) { widget->installEventFilter(this); }
    std::vector<int> keys;

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::KeyPress) {
            const int key = static_cast<QKeyEvent*>(event)->key();
            if (key != Qt::Key_Shift && key != Qt::Key_Control && key != Qt::Key_Alt &&
                key != Qt::Key_Meta) {
                keys.push_back(key);
            }
        }
        return false;
    }
};

} // namespace

class TestFrame : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void windowAndMenus_data();
    void windowAndMenus();
    void toolBarOrder();
    void enabledStatesByBusyCode_data();
    void enabledStatesByBusyCode();
    void escWithNothingRunningReachesThePane();
    void escTwiceDuringATransfer();
    void stopConfirmationSetting();
    void stopByBreakingConnections();
    void closing_data();
    void closing();
    void saveLogAs();
    void labelEditingKeepsEveryKey();
    void paneCycling_data();
    void paneCycling();
    void logSelectionGoesWithTheFocus();
    void splashSwitches_data();
    void splashSwitches();
    void radioMarks();
    void goTo();
    void eventsFromOtherThreads();
    void defaultProportions();
    void layoutRoundTrip();
    void missingProfile();
    void damagedProfileNoteShownOnce();
    void aboutOnFirstRunOnly();

private:
    QTemporaryDir m_dir;
    QString m_profile;
    std::unique_ptr<Program> m_program;
};

void TestFrame::initTestCase() {
    QApplication::setQuitOnLastWindowClosed(false);
    QVERIFY(m_dir.isValid());
    // Nothing of the user's own configuration is read or written.
    qputenv("XDG_CONFIG_HOME", m_dir.filePath("config").toUtf8());
}

void TestFrame::init() {
    m_profile = m_dir.filePath(QStringLiteral("%1.dat").arg(QTest::currentTestFunction()));
    QFile::remove(m_profile);
    test::WriteDefaultProfile(m_profile);
    m_program = std::make_unique<Program>(m_profile);
    QVERIFY(m_program->Start());
    m_program->Frame().activateWindow();
    QVERIFY(QTest::qWaitForWindowExposed(&m_program->Frame()));
}

void TestFrame::cleanup() {
    m_program.reset();
}

void TestFrame::windowAndMenus_data() {
    QTest::addColumn<int>("id");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("keys");
    const struct {
        int id;
        const char* text;
        const char* keys;
    } rows[] = {
        {ID_NEW_SITE_FOLDER, "New FTP Site Folder...", "Ctrl+Shift+1"},
        {ID_NEW_SITE, "New FTP Site...", "Ctrl+Shift+2"},
        {ID_NEW_FOLDER, "New File Folder...", "Ctrl+Shift+3"},
        {ID_DELETE, "Delete", "Del"},
        {ID_RENAME, "Rename", "F2"},
        {ID_PROPERTIES, "Properties...", "Alt+Return"},
        {ID_CLOSE, "Close", "Alt+F4"},
        {ID_CUT, "Cut", "Ctrl+X"},
        {ID_COPY, "Copy", "Ctrl+C"},
        {ID_PASTE, "Paste", "Ctrl+V"},
        {ID_SELECT_ALL, "Select All", "Ctrl+A"},
        {ID_INVERT_SELECTION, "Invert Selection", "Ctrl+I"},
        {ID_VIEW_TOOLBAR, "Toolbar", ""},
        {ID_VIEW_STATUS_BAR, "Status Bar", ""},
        {ID_FOLDER_TREE, "Folder Tree", "Alt+1"},
        {ID_FOLDER_CONTENT, "Folder Content", "Alt+2"},
        {ID_FTP_LOG, "FTP Log", "Alt+3"},
        {ID_ADJUST_VERTICAL, "Adjust Vertical Splitter", "Alt+4"},
        {ID_ADJUST_HORIZONTAL, "Adjust Horizontal Splitter", "Alt+5"},
        {ID_LARGE_ICONS, "Large Icons", "Alt+7"},
        {ID_SMALL_ICONS, "Small Icons", "Alt+8"},
        {ID_LIST, "List", "Alt+9"},
        {ID_DETAILS, "Details", "Alt+0"},
        {ID_SORT_NAME, "Sort By Name", "Ctrl+N"},
        {ID_SORT_TIME, "Sort By Modified Time", "Ctrl+T"},
        {ID_SORT_SIZE, "Sort By Size", "Ctrl+S"},
        {ID_REFRESH_LOCAL, "Refresh All Local File Folders", "F5"},
        {ID_REFRESH_REMOTE, "Refresh Selected Remote File Folder", "Ctrl+F5"},
        {ID_VIEW_REMOTE_TEXT, "View Remote Text", "Ctrl+Shift+V"},
        {ID_CONNECT_EXPLORE, "Connect/Explore", "Return"},
        {ID_DISCONNECT, "Disconnect", "Ctrl+D"},
        {ID_GO_TO, "Go To...", "Ctrl+G"},
        {ID_UP_ONE_LEVEL, "Up One Level", "Backspace"},
        {ID_TRANSFER_TEXT, "Transfer As Text File", "Ctrl+Shift+T"},
        {ID_TRANSFER_BINARY, "Transfer As Binary File", "Ctrl+Shift+B"},
        {ID_TRANSFER_AUTO, "Transfer Using Auto Mode", "Ctrl+Shift+A"},
        {ID_CLEAR_LOG, "Clear Log", "Ctrl+Shift+R"},
        {ID_SAVE_LOG_AS, "Save Log As...", "Ctrl+Shift+L"},
        {ID_SETTINGS, "Settings...", "Ctrl+Shift+S"},
        {ID_SAVE_SETTINGS_NOW, "Save Settings Now", ""},
        {ID_STOP, "Stop", "Esc"},
        {ID_STOP_BY_BREAKING, "Stop By Breaking Connections", "Ctrl+Pause"},
        {ID_ABOUT, "&About Quillbeck...", ""},
        {ID_WEB_PAGE, "Quillbeck &Web Page...", ""},
    };
    for (const auto& row : rows) {
        QTest::newRow(row.text) << row.id << QString::fromUtf8(row.text)
                                << QString::fromUtf8(row.keys);
    }
}

void TestFrame::windowAndMenus() {
    QFETCH(int, id);
    QFETCH(QString, text);
    QFETCH(QString, keys);
    CMainFrame& frame = m_program->Frame();
    QCOMPARE(frame.windowTitle(), QStringLiteral("Quillbeck"));
    QAction* action = frame.Action(id);
    QVERIFY(action != nullptr);
    QCOMPARE(action->text(), text);
    QCOMPARE(action->shortcut().toString(), keys);
    QVERIFY(!action->statusTip().isEmpty());
    // Reachable from a menu of the menu bar.
    bool inMenu = false;
    for (QAction* top : frame.menuBar()->actions()) {
        inMenu = inMenu || (top->menu() && top->menu()->actions().contains(action));
    }
    QVERIFY(inMenu);
}

void TestFrame::toolBarOrder() {
    CMainFrame& frame = m_program->Frame();
    QList<int> ids;
    for (QAction* action : frame.ToolBar()->actions()) {
        ids << (action->isSeparator() ? 0 : action->objectName().mid(6).toInt());
    }
    const QList<int> expected = {ID_NEW_SITE_FOLDER,
                                 ID_NEW_SITE,
                                 ID_NEW_FOLDER,
                                 0,
                                 ID_DELETE,
                                 ID_RENAME,
                                 ID_PROPERTIES,
                                 0,
                                 ID_CUT,
                                 ID_COPY,
                                 ID_PASTE,
                                 0,
                                 ID_LARGE_ICONS,
                                 ID_SMALL_ICONS,
                                 ID_LIST,
                                 ID_DETAILS,
                                 0,
                                 ID_UP_ONE_LEVEL,
                                 0,
                                 ID_TRANSFER_TEXT,
                                 ID_TRANSFER_BINARY,
                                 ID_TRANSFER_AUTO,
                                 0,
                                 ID_STOP};
    QCOMPARE(ids, expected);
    QCOMPARE(frame.ToolBar()->iconSize(), QSize(24, 24));
    QCOMPARE(frame.Action(ID_STOP)->toolTip(), QStringLiteral("Stop"));
    // Every pane can be told apart by assistive technology.
    for (int pane = 0; pane < 3; ++pane) {
        QVERIFY(!frame.Pane(pane)->accessibleName().isEmpty());
    }
}

void TestFrame::enabledStatesByBusyCode_data() {
    QTest::addColumn<int>("busy");
    QTest::addColumn<QList<int>>("enabled");
    QTest::addColumn<QList<int>>("disabled");
    const QList<int> idleOnly = {ID_SELECT_ALL,  ID_INVERT_SELECTION, ID_REFRESH_LOCAL,
                                 ID_GO_TO,       ID_TRANSFER_TEXT,    ID_CLEAR_LOG,
                                 ID_SAVE_LOG_AS, ID_SETTINGS,         ID_SAVE_SETTINGS_NOW};
    const QList<int> always = {ID_CLOSE, ID_FTP_LOG, ID_VIEW_TOOLBAR, ID_LARGE_ICONS, ID_WEB_PAGE};
    const QList<int> working = {ID_STOP, ID_STOP_BY_BREAKING};
    const QList<int> notEditing = {ID_SORT_NAME, ID_SORT_SIZE, ID_ABOUT};
    // Nothing is selected in the panes yet: these stay off whatever runs.
    const QList<int> off = {ID_DELETE, ID_RENAME, ID_CONNECT_EXPLORE, ID_UP_ONE_LEVEL};
    QTest::newRow("idle") << int(BUSY_IDLE) << (idleOnly + always + notEditing) << (working + off);
    QTest::newRow("connecting") << int(BUSY_CONNECTING) << (always + working + notEditing)
                                << (idleOnly + off);
    QTest::newRow("copying") << int(BUSY_COPYING) << (always + working + notEditing)
                             << (idleOnly + off);
    QTest::newRow("editing a label")
        << int(BUSY_EDITING_LABEL) << always << (idleOnly + working + notEditing + off);
}

void TestFrame::enabledStatesByBusyCode() {
    QFETCH(int, busy);
    QFETCH(QList<int>, enabled);
    QFETCH(QList<int>, disabled);
    m_program->App().SetBusyCode(static_cast<std::uint16_t>(busy));
    m_program->Frame().UpdateActions();
    for (int id : enabled) {
        QVERIFY2(m_program->Frame().Action(id)->isEnabled(), qPrintable(QString::number(id)));
    }
    for (int id : disabled) {
        QVERIFY2(!m_program->Frame().Action(id)->isEnabled(), qPrintable(QString::number(id)));
    }
    m_program->App().SetBusyCode(BUSY_IDLE);
}

void TestFrame::escWithNothingRunningReachesThePane() {
    CMainFrame& frame = m_program->Frame();
    for (int pane : {PANE_TREE, PANE_LIST, PANE_LOG}) {
        frame.ActivatePane(pane);
        KeyRecorder recorder(frame.Pane(pane));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
        QVERIFY(!m_program->App().IsStopRequested());
        QCOMPARE(recorder.keys, std::vector<int>{Qt::Key_Escape});
    }
    QCOMPARE(m_program->prompter.stopByDisconnectAsked, 0);
    QCOMPARE(frame.StatusBarWidget()->PaneText(0), QStringLiteral("Ready"));
}

void TestFrame::escTwiceDuringATransfer() {
    CMainFrame& frame = m_program->Frame();
    m_program->Session().Status().BeginOperation("ftp.example.org", "");
    m_program->App().SetBusyCode(BUSY_COPYING);
    frame.ActivatePane(PANE_LIST);
    KeyRecorder recorder(frame.Pane(PANE_LIST));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    QVERIFY(m_program->App().IsStopRequested());
    QVERIFY(recorder.keys.empty()); // Esc was Stop, not a key for the pane
    QCOMPARE(m_program->prompter.stopByDisconnectAsked, 0);
    QCOMPARE(frame.StatusBarWidget()->PaneText(0),
             QStringLiteral("ftp.example.org : Cancelling..."));
    // The second Esc offers to break the connections.
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    QCOMPARE(m_program->prompter.stopByDisconnectAsked, 1);
    m_program->App().OperationEnded();
}

void TestFrame::stopConfirmationSetting() {
    m_program->Session().GetProfile()->m_bConfirmStop = true;
    m_program->App().SetBusyCode(BUSY_EXPLORING);
    m_program->prompter.messageAnswers = {IDNO, IDYES};
    m_program->Frame().Stop();
    QVERIFY(!m_program->App().IsStopRequested());
    QCOMPARE(m_program->prompter.messages.size(), std::size_t(1));
    QCOMPARE(m_program->prompter.messages[0].text,
             QStringLiteral("Are you sure you want to stop current action?"));
    QCOMPARE(m_program->prompter.messages[0].style, unsigned(MB_YESNO | MB_ICONQUESTION));
    m_program->Frame().Stop();
    QVERIFY(m_program->App().IsStopRequested());
    m_program->App().OperationEnded();
}

void TestFrame::stopByBreakingConnections() {
    m_program->App().SetBusyCode(BUSY_COPYING);
    m_program->Frame().ActivatePane(PANE_TREE);
    // Ctrl+Break asks first; No stops nothing.
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Pause, Qt::ControlModifier);
    QCOMPARE(m_program->prompter.stopByDisconnectAsked, 1);
    QVERIFY(!m_program->App().IsStopRequested());
    m_program->prompter.stopByDisconnectAnswer = true;
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Pause, Qt::ControlModifier);
    QCOMPARE(m_program->prompter.stopByDisconnectAsked, 2);
    QVERIFY(m_program->App().IsStopRequested());
    m_program->App().OperationEnded();
}

void TestFrame::closing_data() {
    QTest::addColumn<int>("busy");
    QTest::addColumn<bool>("answer");
    QTest::addColumn<int>("asked");
    QTest::addColumn<bool>("closed");
    QTest::newRow("idle") << int(BUSY_IDLE) << false << 0 << true;
    QTest::newRow("editing a label") << int(BUSY_EDITING_LABEL) << false << 0 << true;
    QTest::newRow("working, No") << int(BUSY_COPYING) << false << 1 << false;
    QTest::newRow("working, Yes") << int(BUSY_COPYING) << true << 1 << true;
}

void TestFrame::closing() {
    QFETCH(int, busy);
    QFETCH(bool, answer);
    QFETCH(int, asked);
    QFETCH(bool, closed);
    m_program->App().SetBusyCode(static_cast<std::uint16_t>(busy));
    m_program->prompter.exitAnswer = answer;
    m_program->Session().GetProfile()->m_layout = CFTPProfileX{};
    QCOMPARE(m_program->Frame().close(), closed);
    QCOMPARE(m_program->prompter.exitAsked, asked);
    QCOMPARE(m_program->App().IsExiting(), closed);
    QCOMPARE(m_program->Frame().isVisible(), !closed);
    // The layout is stored by the close, before the profile is saved.
    QCOMPARE(m_program->Session().GetProfile()->m_layout.m_nVersion, closed ? 1u : 0u);
    m_program->App().SetBusyCode(BUSY_IDLE);
}

void TestFrame::saveLogAs() {
    CMainFrame& frame = m_program->Frame();
    frame.LogView()->Append({LogLine{LOG_COMMAND, "USER anonymous"}, LogLine{LOG_REPLY, "331 ok"}});
    QTemporaryDir dir;
    m_program->prompter.saveLogAnswer = dir.filePath("saved.txt");
    const QString before = DefaultLogFileName(QDateTime::currentDateTime());
    frame.ActivatePane(PANE_LOG);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_L,
                    Qt::ControlModifier | Qt::ShiftModifier);
    const QString after = DefaultLogFileName(QDateTime::currentDateTime());
    QCOMPARE(m_program->prompter.saveLogDefaults.size(), std::size_t(1));
    const QString proposed = m_program->prompter.saveLogDefaults[0];
    QVERIFY2(proposed == before || proposed == after, qPrintable(proposed));
    QFile saved(dir.filePath("saved.txt"));
    QVERIFY(saved.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = saved.readAll().split('\n');
    QVERIFY(lines[0].startsWith("=== FTP Activity Log Started At "));
    QCOMPARE(lines[1], QByteArray("USER anonymous"));
    QCOMPARE(lines[2], QByteArray("331 ok"));
    QVERIFY(m_program->prompter.messages.empty());

    // A folder that cannot take the file.
    m_program->prompter.saveLogAnswer = dir.filePath("saved.txt/inside.txt");
    frame.SaveLogAs();
    QCOMPARE(m_program->prompter.messages.size(), std::size_t(1));
    QCOMPARE(m_program->prompter.messages[0].text, QStringLiteral("Failed to save log!"));
    QCOMPARE(m_program->prompter.messages[0].style, unsigned(MB_OK));
    QCOMPARE(frame.LogView()->Model().rowCount(), 3); // the log stays as it was

    // Clear Log from the keyboard.
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_R,
                    Qt::ControlModifier | Qt::ShiftModifier);
    QCOMPARE(frame.LogView()->Model().rowCount(), 0);
}

void TestFrame::labelEditingKeepsEveryKey() {
    CMainFrame& frame = m_program->Frame();
    frame.LogView()->Append({LogLine{LOG_NOTE, "kept"}});
    m_program->App().SetBusyCode(BUSY_EDITING_LABEL);
    frame.ActivatePane(PANE_TREE);
    KeyRecorder recorder(frame.Pane(PANE_TREE));
    // Neither an accelerator nor pane cycling: the editor gets the keys.
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_R,
                    Qt::ControlModifier | Qt::ShiftModifier);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_F6);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    QCOMPARE(frame.LogView()->Model().rowCount(), 2);
    QCOMPARE(frame.FocusedPane(), int(PANE_TREE));
    QCOMPARE(recorder.keys, (std::vector<int>{Qt::Key_R, Qt::Key_F6, Qt::Key_Escape}));
    m_program->App().SetBusyCode(BUSY_IDLE);
}

void TestFrame::paneCycling_data() {
    QTest::addColumn<int>("from");
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<int>("to");
    QTest::newRow("Tab tree") << int(PANE_TREE) << int(Qt::Key_Tab) << 0 << int(PANE_LIST);
    QTest::newRow("Tab log") << int(PANE_LOG) << int(Qt::Key_Tab) << 0 << int(PANE_TREE);
    QTest::newRow("Shift+Tab goes forward")
        << int(PANE_LIST) << int(Qt::Key_Backtab) << int(Qt::ShiftModifier) << int(PANE_LOG);
    QTest::newRow("F6") << int(PANE_LIST) << int(Qt::Key_F6) << 0 << int(PANE_LOG);
    QTest::newRow("Shift+F6") << int(PANE_TREE) << int(Qt::Key_F6) << int(Qt::ShiftModifier)
                              << int(PANE_LOG);
    QTest::newRow("Alt+2") << int(PANE_LOG) << int(Qt::Key_2) << int(Qt::AltModifier)
                           << int(PANE_LIST);
}

void TestFrame::paneCycling() {
    QFETCH(int, from);
    QFETCH(int, key);
    QFETCH(int, modifiers);
    QFETCH(int, to);
    CMainFrame& frame = m_program->Frame();
    frame.ActivatePane(from);
    QCOMPARE(frame.FocusedPane(), from);
    QTest::keyClick(QApplication::focusWidget(), static_cast<Qt::Key>(key),
                    static_cast<Qt::KeyboardModifiers>(modifiers));
    QCOMPARE(frame.FocusedPane(), to);
}

void TestFrame::logSelectionGoesWithTheFocus() {
    CMainFrame& frame = m_program->Frame();
    frame.LogView()->Append({LogLine{LOG_NOTE, "a"}, LogLine{LOG_NOTE, "b"}});
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_3, Qt::AltModifier);
    QCOMPARE(frame.FocusedPane(), int(PANE_LOG));
    QCOMPARE(frame.LogView()->selectionModel()->selectedRows().size(), 1);
    QCOMPARE(frame.LogView()->currentIndex().row(), 2);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_1, Qt::AltModifier);
    QCOMPARE(frame.FocusedPane(), int(PANE_TREE));
    QVERIFY(frame.LogView()->selectionModel()->selectedRows().isEmpty());
}

void TestFrame::splashSwitches_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<bool>("splash");
    QTest::newRow("none") << QStringList{} << true;
    QTest::newRow("--no-splash") << QStringList{"--no-splash"} << false;
    QTest::newRow("-Embedding") << QStringList{"-Embedding"} << false;
    QTest::newRow("/automation") << QStringList{"/automation"} << false;
    QTest::newRow("--profile") << QStringList{"--profile"} << true;
}

void TestFrame::splashSwitches() {
    QFETCH(QStringList, args);
    QFETCH(bool, splash);
    CFakePrompter prompter;
    CMainApp app(&prompter);
    std::vector<std::string> argv;
    for (const QString& arg : args) {
        argv.push_back(arg.toStdString());
    }
    argv.push_back(m_profile.toStdString());
    QVERIFY(app.Start(argv));
    QCOMPARE(app.SplashShown(), splash);
    QVERIFY(app.Frame()->isVisible());
    QCOMPARE(app.Session()->App().GetBusyCode(), int(BUSY_IDLE));
    QVERIFY(prompter.messages.empty());
}

void TestFrame::radioMarks() {
    CMainFrame& frame = m_program->Frame();
    CFTPProfile& profile = *m_program->Session().GetProfile();
    frame.ActivatePane(PANE_TREE);
    QWidget* focus = QApplication::focusWidget();
    QTest::keyClick(focus, Qt::Key_T, Qt::ControlModifier | Qt::ShiftModifier);
    QCOMPARE(int(profile.GetTransferMode()), int(CFTPProfile::MODE_TEXT));
    QVERIFY(frame.Action(ID_TRANSFER_TEXT)->isChecked());
    QVERIFY(!frame.Action(ID_TRANSFER_BINARY)->isChecked());
    QTest::keyClick(focus, Qt::Key_9, Qt::AltModifier);
    QCOMPARE(profile.GetViewStyle(), int(VIEW_LIST));
    QVERIFY(frame.Action(ID_LIST)->isChecked());
    // The current sort key again reverses the order; another key sorts up.
    profile.SetSortKey(0);
    QTest::keyClick(focus, Qt::Key_N, Qt::ControlModifier);
    QVERIFY(profile.IsSortReversed());
    QTest::keyClick(focus, Qt::Key_S, Qt::ControlModifier);
    QCOMPARE(profile.GetSortKey(), 2);
    QVERIFY(!profile.IsSortReversed());
    QVERIFY(frame.Action(ID_SORT_SIZE)->isChecked());
    // While busy the transfer mode stays.
    m_program->App().SetBusyCode(BUSY_COPYING);
    QTest::keyClick(focus, Qt::Key_B, Qt::ControlModifier | Qt::ShiftModifier);
    QCOMPARE(int(profile.GetTransferMode()), int(CFTPProfile::MODE_TEXT));
    m_program->App().SetBusyCode(BUSY_IDLE);
}

void TestFrame::goTo() {
    CMainFrame& frame = m_program->Frame();
    CFTPProfile& profile = *m_program->Session().GetProfile();
    const std::size_t history = profile.m_arrGotoHistory.size();
    m_program->prompter.goToAnswer = QStringLiteral("c:\\temp\\sub");
    frame.GoTo();
    QCOMPARE(m_program->prompter.messages.size(), std::size_t(1));
    QCOMPARE(m_program->prompter.messages[0].text, QStringLiteral("Failed to goto\nc:/temp/sub"));
    QCOMPARE(profile.m_arrGotoHistory.size(), history);
    QString wentTo;
    frame.SetGoToHandler([&](const QString& path) {
        wentTo = path;
        return true;
    });
    m_program->prompter.goToAnswer = QStringLiteral("/srv/a\\b");
    frame.GoTo();
    QCOMPARE(wentTo, QStringLiteral("/srv/a\\b")); // a backslash is a name character here
    QCOMPARE(profile.m_arrGotoHistory.back(), std::string("/srv/a\\b"));
    m_program->prompter.goToAnswer.clear();
    frame.GoTo();
    QCOMPARE(m_program->prompter.goToAsked, 3);
    QCOMPARE(m_program->prompter.messages.size(), std::size_t(1));
}

void TestFrame::eventsFromOtherThreads() {
    CMainFrame& frame = m_program->Frame();
    CFTPSession& session = m_program->Session();
    const int before = frame.LogView()->Model().rowCount();
    std::thread worker([&] {
        session.Status().BeginOperation("ftp.example.org", "");
        session.Status().SetStepText(1, "Receiving", true);
        for (int i = 0; i < 3000; ++i) {
            session.Events().PushLogLine(static_cast<LogLineClass>(i % 3),
                                         "line " + std::to_string(i));
            session.Status().SetBytes(1, static_cast<FileSize>(i + 1), true);
        }
    });
    worker.join();
    QTRY_COMPARE_WITH_TIMEOUT(frame.LogView()->Model().rowCount(), before + 3000, 5000);
    CFTPLogModel& model = frame.LogView()->Model();
    QCOMPARE(model.Text(before + 2999), QStringLiteral("line 2999"));
    QCOMPARE(model.LineClass(before + 1), int(LOG_REPLY));
    QTRY_COMPARE_WITH_TIMEOUT(frame.StatusBarWidget()->PaneText(0),
                              QStringLiteral("ftp.example.org : Receiving (3000 Bytes)"), 5000);
}

void TestFrame::defaultProportions() {
    CMainFrame& frame = m_program->Frame();
    const QList<int> outer = frame.OuterSplitter()->sizes();
    const QList<int> inner = frame.InnerSplitter()->sizes();
    QVERIFY(outer[0] > 0 && inner[0] > 0);
    QVERIFY2(std::abs(outer[0] - 3 * outer[1]) <= 4,
             qPrintable(QString("%1 %2").arg(outer[0]).arg(outer[1])));
    QVERIFY(std::abs(inner[0] - inner[1]) <= 2);
}

void TestFrame::layoutRoundTrip() {
    {
        CMainFrame& frame = m_program->Frame();
        frame.resize(820, 610);
        QCoreApplication::processEvents();
        frame.OuterSplitter()->setSizes({300, 180});
        frame.InnerSplitter()->setSizes({200, 600});
        frame.Action(ID_VIEW_TOOLBAR)->trigger();
        QVERIFY(frame.ToolBar()->isHidden());
        QCoreApplication::processEvents();
    }
    const CFTPProfileX stored = m_program->Frame().CurrentLayout();
    QCOMPARE(stored.m_nVersion, 1u);
    QCOMPARE(stored.m_arrInnerSplitter[1], CMainFrame::kMinPaneSize);
    QVERIFY(m_program->Frame().close());
    m_program.reset(); // saves the profile

    Program again(m_profile);
    QVERIFY(again.Start());
    QVERIFY(QTest::qWaitForWindowExposed(&again.Frame()));
    const CFTPProfileX& read = again.Session().GetProfile()->m_layout;
    QCOMPARE(read, stored);
    CMainFrame& frame = again.Frame();
    QCOMPARE(frame.size(), QSize(820, 610));
    QVERIFY(frame.ToolBar()->isHidden());
    QCOMPARE(frame.OuterSplitter()->sizes(),
             (QList<int>{stored.m_arrOuterSplitter[0], stored.m_arrOuterSplitter[2]}));
    QCOMPARE(frame.InnerSplitter()->sizes(),
             (QList<int>{stored.m_arrInnerSplitter[0], stored.m_arrInnerSplitter[2]}));
    QCOMPARE(frame.CurrentLayout(), stored);
}

void TestFrame::missingProfile() {
    Program program(m_dir.filePath("no-such-folder/none.dat"));
    QVERIFY(!program.Start());
    QCOMPARE(program.prompter.messages.size(), std::size_t(1));
    QCOMPARE(program.prompter.messages[0].text,
             "Cannot find the following profile!\n" + m_dir.filePath("no-such-folder/none.dat"));
    QVERIFY(program.app->Frame() == nullptr); // before any window
}

void TestFrame::damagedProfileNoteShownOnce() {
    const QString path = m_dir.filePath("damaged.dat");
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write("this is not a profile at all");
    }
    for (int run = 0; run < 2; ++run) {
        Program program(path);
        QVERIFY(program.Start());
        QTRY_VERIFY_WITH_TIMEOUT(!program.prompter.messages.empty() || run == 1, 2000);
        QCoreApplication::processEvents();
        if (run == 0) {
            QCOMPARE(program.prompter.messages.size(), std::size_t(1));
            QVERIFY(program.prompter.messages[0].text.contains(".bad"));
            QCOMPARE(program.prompter.messages[0].style, unsigned(MB_OK | MB_ICONWARNING));
            QVERIFY(QFile::exists(path + ".bad"));
        } else {
            QVERIFY(program.prompter.messages.empty());
        }
    }
}

void TestFrame::aboutOnFirstRunOnly() {
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
    for (int run = 0; run < 2; ++run) {
        CFakePrompter prompter;
        CMainApp app(&prompter);
        QVERIFY(app.Start({"--no-splash"}));
        QTest::qWait(50);
        if (run == 0) {
            QCOMPARE(prompter.abouts.size(), std::size_t(1));
            QCOMPARE(prompter.abouts[0].page, AboutPage::Licence);
            QVERIFY(prompter.abouts[0].selected);
        } else {
            QVERIFY(prompter.abouts.empty());
        }
        app.Shutdown();
        QVERIFY(QFile::exists(config.filePath("quillbeck/Quillbeck.dat")));
    }
    qputenv("XDG_CONFIG_HOME", m_dir.filePath("config").toUtf8());
}

QTEST_MAIN(TestFrame)
#include "test_frame.moc"
