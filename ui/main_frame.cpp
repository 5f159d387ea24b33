#include "main_frame.h"

#include "content_view.h"
#include "folder_view.h"
#include "log_view.h"
#include "platform/questions.h"
#include "settings_sheet.h"
#include "status_bar.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QFrame>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLayout>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QShortcut>
#include <QSplitter>
#include <QToolBar>
#include <QUrl>
#include <QVBoxLayout>
#include <type_traits>

namespace qb::ui {

namespace {

std::int32_t ToInt(int value) {
    return static_cast<std::int32_t>(value);
}

} // namespace

CMainFrame::CMainFrame(CFTPSession& session, IPrompter& prompter, IQuestions& questions,
                       const CIconSet& icons, QWidget* parent)
    : QMainWindow(parent), m_session(session), m_prompter(prompter), m_questionsPort(questions),
      m_icons(icons) {
    setObjectName(QStringLiteral("mainFrame"));
    setWindowTitle(kAppTitle);
    setWindowIcon(m_icons.Get(ICON_APP));
    resize(900, 640);

    m_pStatus = new CFTPStatusBar(m_session.Status(), this);
    setStatusBar(m_pStatus);
    CreatePanes();
    CreateActions();
    CreateMenus();
    CreateToolBar();

    // Pane cycling: Tab and Shift+Tab both go forward, F6 forward, Shift+F6
    // back.
    const struct {
        QKeySequence keys;
        int step;
    } cycling[] = {
        {QKeySequence(Qt::Key_Tab), 1},
        {QKeySequence(Qt::SHIFT | Qt::Key_Tab), 1},
        {QKeySequence(Qt::SHIFT | Qt::Key_Backtab), 1},
        {QKeySequence(Qt::Key_F6), 1},
        {QKeySequence(Qt::SHIFT | Qt::Key_F6), -1},
    };
    for (const auto& entry : cycling) {
        auto* shortcut = new QShortcut(entry.keys, this);
        const int step = entry.step;
        connect(shortcut, &QShortcut::activated, this, [this, step] { CyclePane(step); });
    }

    // The log pane loses its selection when another pane becomes active.
    connect(qApp, &QApplication::focusChanged, this, [this](QWidget* old, QWidget* now) {
        if (now != nullptr && (m_pTree->isAncestorOf(now) || now == m_pTree ||
                               m_pList->isAncestorOf(now) || now == m_pList)) {
            m_pLog->clearSelection();
        }
        // The commands on items follow the active pane.
        auto inList = [this](const QWidget* w) {
            return w != nullptr && (w == m_pList || m_pList->isAncestorOf(w));
        };
        if (inList(old) != inList(now)) {
            UpdateActions();
        }
    });
    qApp->installEventFilter(this);

    m_pLog->Start();
    m_session.SetWakeUp([this] {
        QMetaObject::invokeMethod(
            this, [this] { Drain(); }, Qt::QueuedConnection);
    });
    UpdateActions();
    // Anything that arrived before the wake-up was set.
    QMetaObject::invokeMethod(
        this, [this] { Drain(); }, Qt::QueuedConnection);
}

CMainFrame::~CMainFrame() {
    qApp->removeEventFilter(this);
    m_session.SetWakeUp({});
    EndWaitCursor();
}

// ---- Construction ------------------------------------------------------------

void CMainFrame::CreatePanes() {
    m_pOuter = new QSplitter(Qt::Vertical, this);
    m_pOuter->setObjectName(QStringLiteral("outerSplitter"));
    m_pOuter->setChildrenCollapsible(false);
    m_pInner = new QSplitter(Qt::Horizontal, m_pOuter);
    m_pInner->setObjectName(QStringLiteral("innerSplitter"));
    m_pInner->setChildrenCollapsible(false);
    m_pInner->setMinimumSize(kMinPaneSize, kMinPaneSize);
    m_pTree = new CFolderTreeView(m_session, m_prompter, ReadMounts(), m_pInner);
    m_pTree->setMinimumSize(kMinPaneSize, kMinPaneSize);
    connect(m_pTree, &CFolderTreeView::OperationStarted, this, &CMainFrame::BeginWaitCursor);
    connect(m_pTree, &CFolderTreeView::StateChanged, this, &CMainFrame::UpdateActions);
    m_goTo = [this](const QString& path) { return m_pTree->GoTo(path); };
    m_pList = new CFolderContentView(m_session, m_prompter, *m_pTree, m_pInner);
    m_pList->setMinimumSize(kMinPaneSize, kMinPaneSize);
    connect(this, &CMainFrame::PaneCommand, m_pTree, [this](int id) {
        if (!m_pList->Run(id)) {
            m_pTree->Run(id);
        }
    });
    connect(m_pList, &CFolderContentView::StateChanged, this, &CMainFrame::UpdateActions);
    connect(m_pList, &CFolderContentView::OperationStarted, this, &CMainFrame::BeginWaitCursor);
    m_pList->SetActions([this](int id) { return Action(id); });
    connect(m_pList, &CFolderContentView::SortColumnClicked, this,
            [this](int column) { OnCommand(ID_SORT_NAME + column); });
    connect(this, &CMainFrame::ViewStyleChanged, m_pList, &CFolderContentView::SetViewStyle);
    connect(this, &CMainFrame::SortOrderChanged, m_pList,
            [this](int order) { m_pList->SetSortKey(static_cast<std::uint16_t>(order)); });
    m_pLog = new CFTPLogView(m_pOuter);
    m_pLog->setMinimumSize(kMinPaneSize, kMinPaneSize);
    m_pInner->addWidget(m_pTree);
    m_pInner->addWidget(m_pList);
    m_pOuter->addWidget(m_pInner);
    m_pOuter->addWidget(m_pLog);
    // Resizing the window keeps the proportions: 3/4 above the log, and
    // the two upper panes half and half.
    m_pOuter->setStretchFactor(0, 3);
    m_pOuter->setStretchFactor(1, 1);
    m_pInner->setStretchFactor(0, 1);
    m_pInner->setStretchFactor(1, 1);
    setCentralWidget(m_pOuter);
}

QAction* CMainFrame::AddAction(int id, const QString& text, const QList<QKeySequence>& keys,
                               const QString& statusTip, int icon) {
    auto* action = new QAction(text, this);
    action->setObjectName(QStringLiteral("action%1").arg(id));
    action->setShortcuts(keys);
    action->setShortcutContext(Qt::WindowShortcut);
    action->setStatusTip(statusTip);
    if (icon >= 0) {
        action->setIcon(m_icons.Get(static_cast<IconId>(icon)));
    }
    connect(action, &QAction::triggered, this, [this, id] { OnCommand(id); });
    m_actions[id] = action;
    addAction(action); // shortcuts work while the menu bar is hidden too
    return action;
}

void CMainFrame::CreateActions() {
    using K = QKeySequence;
    const auto ctrl = Qt::CTRL;
    const auto shift = Qt::SHIFT;
    const auto alt = Qt::ALT;
    AddAction(ID_NEW_SITE_FOLDER, "New FTP Site Folder...", {K(ctrl | shift | Qt::Key_1)},
              "Create a new FTP site folder", ICON_NEW_SITE_FOLDER);
    AddAction(ID_NEW_SITE, "New FTP Site...", {K(ctrl | shift | Qt::Key_2)},
              "Create a new FTP site", ICON_NEW_SITE);
    AddAction(ID_NEW_FOLDER, "New File Folder...", {K(ctrl | shift | Qt::Key_3)},
              "Create a new folder", ICON_NEW_FOLDER);
    AddAction(ID_DELETE, "Delete", {K(Qt::Key_Delete)}, "Delete the selected items", ICON_DELETE);
    AddAction(ID_RENAME, "Rename", {K(Qt::Key_F2)}, "Rename the selected item", ICON_RENAME);
    AddAction(ID_PROPERTIES, "Properties...", {K(alt | Qt::Key_Return), K(alt | Qt::Key_Enter)},
              "Show the properties of the selected item", ICON_PROPERTIES);
    AddAction(ID_CLOSE, "Close", {K(alt | Qt::Key_F4)}, "Close Quillbeck");
    AddAction(ID_CUT, "Cut", {K(ctrl | Qt::Key_X)}, "Cut the selected items", ICON_CUT);
    AddAction(ID_COPY, "Copy", {K(ctrl | Qt::Key_C)}, "Copy the selected items", ICON_COPY);
    AddAction(ID_PASTE, "Paste", {K(ctrl | Qt::Key_V)}, "Paste the items cut or copied",
              ICON_PASTE);
    AddAction(ID_SELECT_ALL, "Select All", {K(ctrl | Qt::Key_A)},
              "Select every item of the folder content");
    AddAction(ID_INVERT_SELECTION, "Invert Selection", {K(ctrl | Qt::Key_I)},
              "Select the items that are not selected, and only those");
    AddAction(ID_VIEW_TOOLBAR, "Toolbar", {}, "Show or hide the toolbar")->setCheckable(true);
    AddAction(ID_VIEW_STATUS_BAR, "Status Bar", {}, "Show or hide the status bar")
        ->setCheckable(true);
    AddAction(ID_FOLDER_TREE, "Folder Tree", {K(alt | Qt::Key_1)}, "Go to the folder tree");
    AddAction(ID_FOLDER_CONTENT, "Folder Content", {K(alt | Qt::Key_2)},
              "Go to the folder content");
    AddAction(ID_FTP_LOG, "FTP Log", {K(alt | Qt::Key_3)}, "Go to the FTP activity log");
    AddAction(ID_ADJUST_VERTICAL, "Adjust Vertical Splitter", {K(alt | Qt::Key_4)},
              "Move the splitter between the folder tree and the folder content with the "
              "arrow keys");
    AddAction(ID_ADJUST_HORIZONTAL, "Adjust Horizontal Splitter", {K(alt | Qt::Key_5)},
              "Move the splitter above the FTP log with the arrow keys");
    AddAction(ID_LARGE_ICONS, "Large Icons", {K(alt | Qt::Key_7)}, "Show large icons",
              ICON_LARGE_ICONS);
    AddAction(ID_SMALL_ICONS, "Small Icons", {K(alt | Qt::Key_8)}, "Show small icons",
              ICON_SMALL_ICONS);
    AddAction(ID_LIST, "List", {K(alt | Qt::Key_9)}, "Show the items in a list", ICON_LIST);
    AddAction(ID_DETAILS, "Details", {K(alt | Qt::Key_0)}, "Show the details of each item",
              ICON_DETAILS);
    AddAction(ID_SORT_NAME, "Sort By Name", {K(ctrl | Qt::Key_N)}, "Sort the items by name");
    AddAction(ID_SORT_TIME, "Sort By Modified Time", {K(ctrl | Qt::Key_T)},
              "Sort the items by the time they were modified");
    AddAction(ID_SORT_SIZE, "Sort By Size", {K(ctrl | Qt::Key_S)}, "Sort the items by size");
    AddAction(ID_REFRESH_LOCAL, "Refresh All Local File Folders", {K(Qt::Key_F5)},
              "Read every local folder again");
    AddAction(ID_REFRESH_REMOTE, "Refresh Selected Remote File Folder", {K(ctrl | Qt::Key_F5)},
              "List the selected remote folder again");
    AddAction(ID_VIEW_REMOTE_TEXT, "View Remote Text", {K(ctrl | shift | Qt::Key_V)},
              "Download the selected remote file and show it as text");
    AddAction(ID_CONNECT_EXPLORE, "Connect/Explore", {K(Qt::Key_Return), K(Qt::Key_Enter)},
              "Connect to the selected site, or open the selected folder");
    AddAction(ID_DISCONNECT, "Disconnect", {K(ctrl | Qt::Key_D)},
              "Disconnect from the selected site");
    AddAction(ID_GO_TO, "Go To...", {K(ctrl | Qt::Key_G)}, "Go to a folder by its path");
    AddAction(ID_UP_ONE_LEVEL, "Up One Level", {K(Qt::Key_Backspace)},
              "Go to the folder one level up", ICON_UP_ONE_LEVEL);
    AddAction(ID_TRANSFER_TEXT, "Transfer As Text File", {K(ctrl | shift | Qt::Key_T)},
              "Transfer files as text", ICON_TEXT_MODE);
    AddAction(ID_TRANSFER_BINARY, "Transfer As Binary File", {K(ctrl | shift | Qt::Key_B)},
              "Transfer files as binary", ICON_BINARY_MODE);
    AddAction(ID_TRANSFER_AUTO, "Transfer Using Auto Mode", {K(ctrl | shift | Qt::Key_A)},
              "Transfer files as text or binary by their extension", ICON_AUTO_MODE);
    AddAction(ID_CLEAR_LOG, "Clear Log", {K(ctrl | shift | Qt::Key_R)},
              "Remove every line of the FTP log");
    AddAction(ID_SAVE_LOG_AS, "Save Log As...", {K(ctrl | shift | Qt::Key_L)},
              "Save the FTP log in a text file");
    AddAction(ID_SETTINGS, "Settings...", {K(ctrl | shift | Qt::Key_S)}, "Change the settings");
    AddAction(ID_SAVE_SETTINGS_NOW, "Save Settings Now", {},
              "Save the sites and settings in the profile now");
    AddAction(ID_STOP, "Stop", {K(Qt::Key_Escape)}, "Stop the current action", ICON_STOP);
    AddAction(ID_STOP_BY_BREAKING, "Stop By Breaking Connections", {K(ctrl | Qt::Key_Pause)},
              "Stop the current action by disconnecting from the server");
    AddAction(ID_ABOUT, "&About Quillbeck...", {}, "Show the program's version and licence");
    AddAction(ID_WEB_PAGE, "Quillbeck &Web Page...", {}, "Open Quillbeck's home page");

    // Radio marks.
    for (const auto& ids :
         {std::vector<int>{ID_LARGE_ICONS, ID_SMALL_ICONS, ID_LIST, ID_DETAILS},
          std::vector<int>{ID_SORT_NAME, ID_SORT_TIME, ID_SORT_SIZE},
          std::vector<int>{ID_TRANSFER_TEXT, ID_TRANSFER_BINARY, ID_TRANSFER_AUTO}}) {
        auto* group = new QActionGroup(this);
        group->setExclusionPolicy(QActionGroup::ExclusionPolicy::Exclusive);
        for (int id : ids) {
            m_actions[id]->setCheckable(true);
            group->addAction(m_actions[id]);
        }
    }
    m_pLog->SetContextActions({m_actions[ID_CLEAR_LOG], m_actions[ID_SAVE_LOG_AS]},
                              [this] { return !m_session.App().IsWorking(); });
}

void CMainFrame::CreateMenus() {
    const struct {
        const char* title;
        std::vector<int> ids; // 0: a separator
    } menus[] = {
        {"&File",
         {ID_NEW_SITE_FOLDER, ID_NEW_SITE, ID_NEW_FOLDER, 0, ID_DELETE, ID_RENAME, ID_PROPERTIES, 0,
          ID_CLOSE}},
        {"&Edit", {ID_CUT, ID_COPY, ID_PASTE, 0, ID_SELECT_ALL, ID_INVERT_SELECTION}},
        {"&View",
         {ID_VIEW_TOOLBAR,
          ID_VIEW_STATUS_BAR,
          0,
          ID_FOLDER_TREE,
          ID_FOLDER_CONTENT,
          ID_FTP_LOG,
          0,
          ID_ADJUST_VERTICAL,
          ID_ADJUST_HORIZONTAL,
          0,
          ID_LARGE_ICONS,
          ID_SMALL_ICONS,
          ID_LIST,
          ID_DETAILS,
          0,
          ID_SORT_NAME,
          ID_SORT_TIME,
          ID_SORT_SIZE,
          0,
          ID_REFRESH_LOCAL,
          ID_REFRESH_REMOTE}},
        {"&FTP",
         {ID_VIEW_REMOTE_TEXT, ID_CONNECT_EXPLORE, ID_DISCONNECT, 0, ID_GO_TO, ID_UP_ONE_LEVEL, 0,
          ID_TRANSFER_TEXT, ID_TRANSFER_BINARY, ID_TRANSFER_AUTO, 0, ID_STOP, ID_STOP_BY_BREAKING}},
        {"&Tools", {ID_CLEAR_LOG, ID_SAVE_LOG_AS, 0, ID_SETTINGS, ID_SAVE_SETTINGS_NOW}},
        {"&Help", {ID_ABOUT, ID_WEB_PAGE}},
    };
    for (const auto& spec : menus) {
        QMenu* menu = menuBar()->addMenu(QString::fromUtf8(spec.title));
        for (int id : spec.ids) {
            if (id == 0) {
                menu->addSeparator();
            } else {
                menu->addAction(m_actions.at(id));
            }
        }
        connect(menu, &QMenu::aboutToShow, this, &CMainFrame::UpdateActions);
    }
}

void CMainFrame::CreateToolBar() {
    m_pToolBar = new QToolBar(QStringLiteral("Toolbar"), this);
    m_pToolBar->setObjectName(QStringLiteral("toolBar"));
    m_pToolBar->setAccessibleName(QStringLiteral("Toolbar"));
    m_pToolBar->setIconSize(QSize(24, 24));
    m_pToolBar->setMovable(false);
    m_pToolBar->setFloatable(false);
    const int order[] = {ID_NEW_SITE_FOLDER,
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
    for (int id : order) {
        if (id == 0) {
            m_pToolBar->addSeparator();
        } else {
            m_pToolBar->addAction(m_actions.at(id));
        }
    }
    addToolBar(Qt::TopToolBarArea, m_pToolBar);
}

QAction* CMainFrame::Action(int id) const {
    auto it = m_actions.find(id);
    return it == m_actions.end() ? nullptr : it->second;
}

// ---- Enabled states ----------------------------------------------------------

void CMainFrame::UpdateActions() {
    const CFTPApp& app = m_session.App();
    const bool busy = app.IsBusy();
    const bool working = app.IsWorking();
    const bool editing = app.GetBusyCode() == BUSY_EDITING_LABEL;
    const CFTPProfile* profile = m_session.GetProfile();

    // What acts on the tree's selection asks the tree.
    // While the content list is the active pane, the commands on items act
    // on its rows.
    const bool listActive = m_pList != nullptr && m_pList->IsActive();
    for (int id : {ID_NEW_SITE_FOLDER, ID_NEW_SITE, ID_NEW_FOLDER, ID_DELETE, ID_RENAME,
                   ID_PROPERTIES, ID_REFRESH_REMOTE, ID_CONNECT_EXPLORE, ID_DISCONNECT,
                   ID_UP_ONE_LEVEL, ID_CUT, ID_COPY, ID_PASTE}) {
        if (listActive && CFolderContentView::ActsOnRows(id)) {
            m_actions[id]->setEnabled(m_pList->CanRun(id));
        } else {
            m_actions[id]->setEnabled(m_pTree != nullptr && m_pTree->CanRun(id));
        }
    }
    m_actions[ID_VIEW_REMOTE_TEXT]->setEnabled(m_pList != nullptr &&
                                               m_pList->CanRun(ID_VIEW_REMOTE_TEXT));
    for (int id : {ID_SELECT_ALL, ID_INVERT_SELECTION, ID_REFRESH_LOCAL, ID_GO_TO, ID_TRANSFER_TEXT,
                   ID_TRANSFER_BINARY, ID_TRANSFER_AUTO, ID_CLEAR_LOG, ID_SAVE_LOG_AS, ID_SETTINGS,
                   ID_SAVE_SETTINGS_NOW}) {
        m_actions[id]->setEnabled(!busy);
    }
    for (int id : {ID_SORT_NAME, ID_SORT_TIME, ID_SORT_SIZE, ID_ABOUT}) {
        m_actions[id]->setEnabled(!editing);
    }
    m_actions[ID_STOP]->setEnabled(working);
    m_actions[ID_STOP_BY_BREAKING]->setEnabled(working);

    m_actions[ID_VIEW_TOOLBAR]->setChecked(!m_pToolBar || !m_pToolBar->isHidden());
    m_actions[ID_VIEW_STATUS_BAR]->setChecked(!m_pStatus->isHidden());
    if (profile != nullptr) {
        const int style = profile->GetViewStyle();
        m_actions[ID_LARGE_ICONS]->setChecked(style == VIEW_LARGE_ICONS);
        m_actions[ID_SMALL_ICONS]->setChecked(style == VIEW_SMALL_ICONS);
        m_actions[ID_LIST]->setChecked(style == VIEW_LIST);
        m_actions[ID_DETAILS]->setChecked(style == VIEW_DETAILS);
        const int key = profile->GetSortKey();
        m_actions[ID_SORT_NAME]->setChecked(key == 0);
        m_actions[ID_SORT_TIME]->setChecked(key == 1);
        m_actions[ID_SORT_SIZE]->setChecked(key == 2);
        const int mode = profile->GetTransferMode();
        m_actions[ID_TRANSFER_TEXT]->setChecked(mode == CFTPProfile::MODE_TEXT);
        m_actions[ID_TRANSFER_BINARY]->setChecked(mode == CFTPProfile::MODE_BINARY);
        m_actions[ID_TRANSFER_AUTO]->setChecked(mode == CFTPProfile::MODE_AUTO);
    }
}

// ---- Commands ----------------------------------------------------------------

void CMainFrame::OnCommand(int id) {
    switch (id) {
    case ID_CLOSE:
        close();
        break;
    case ID_VIEW_TOOLBAR:
        m_pToolBar->setVisible(m_pToolBar->isHidden());
        break;
    case ID_VIEW_STATUS_BAR:
        m_pStatus->setVisible(m_pStatus->isHidden());
        break;
    case ID_FOLDER_TREE:
        ActivatePane(PANE_TREE);
        break;
    case ID_FOLDER_CONTENT:
        ActivatePane(PANE_LIST);
        break;
    case ID_FTP_LOG:
        ActivatePane(PANE_LOG);
        m_pLog->SelectLastLine();
        break;
    case ID_ADJUST_VERTICAL:
        BeginSplitterAdjust(m_pInner);
        break;
    case ID_ADJUST_HORIZONTAL:
        BeginSplitterAdjust(m_pOuter);
        break;
    case ID_LARGE_ICONS:
        SetViewStyle(VIEW_LARGE_ICONS);
        break;
    case ID_SMALL_ICONS:
        SetViewStyle(VIEW_SMALL_ICONS);
        break;
    case ID_LIST:
        SetViewStyle(VIEW_LIST);
        break;
    case ID_DETAILS:
        SetViewStyle(VIEW_DETAILS);
        break;
    case ID_SORT_NAME:
        SetSort(0);
        break;
    case ID_SORT_TIME:
        SetSort(1);
        break;
    case ID_SORT_SIZE:
        SetSort(2);
        break;
    case ID_TRANSFER_TEXT:
        SetTransferMode(CFTPProfile::MODE_TEXT);
        break;
    case ID_TRANSFER_BINARY:
        SetTransferMode(CFTPProfile::MODE_BINARY);
        break;
    case ID_TRANSFER_AUTO:
        SetTransferMode(CFTPProfile::MODE_AUTO);
        break;
    case ID_GO_TO:
        GoTo();
        break;
    case ID_CLEAR_LOG:
        ClearLog();
        break;
    case ID_SAVE_LOG_AS:
        SaveLogAs();
        break;
    case ID_SETTINGS:
        if (CFTPProfile* profile = m_session.GetProfile()) {
            CSettingsSheet sheet(*profile, this);
            sheet.exec();
            UpdateActions();
        }
        break;
    case ID_SAVE_SETTINGS_NOW:
        SaveSettingsNow();
        break;
    case ID_STOP:
        Stop();
        break;
    case ID_STOP_BY_BREAKING:
        StopByBreakingConnections();
        break;
    case ID_ABOUT:
        m_prompter.ShowAbout(this, AboutPage::Product, false);
        break;
    case ID_WEB_PAGE: {
        QGuiApplication::setOverrideCursor(Qt::WaitCursor);
        QDesktopServices::openUrl(QUrl(QString::fromLatin1(kHomePage)));
        QGuiApplication::restoreOverrideCursor();
        break;
    }
    case ID_SELECT_ALL:
    case ID_INVERT_SELECTION:
        ActivatePane(PANE_LIST);
        Q_EMIT PaneCommand(id);
        break;
    default:
        Q_EMIT PaneCommand(id);
        break;
    }
    UpdateActions();
}

void CMainFrame::SetViewStyle(int style) {
    CFTPProfile* profile = m_session.GetProfile();
    if (profile == nullptr || profile->GetViewStyle() == style) {
        return;
    }
    profile->SetViewStyle(style);
    Q_EMIT ViewStyleChanged(style);
}

void CMainFrame::SetSort(int key) {
    CFTPProfile* profile = m_session.GetProfile();
    if (profile == nullptr || m_session.App().GetBusyCode() == BUSY_EDITING_LABEL) {
        return;
    }
    // The current key again reverses the order; another key sorts up.
    if (profile->GetSortKey() == key) {
        profile->ToggleSortDirection();
    } else {
        profile->SetSortKey(static_cast<std::uint16_t>(key));
    }
    Q_EMIT SortOrderChanged(profile->m_wSortOrder);
}

void CMainFrame::SetTransferMode(int mode) {
    CFTPProfile* profile = m_session.GetProfile();
    if (profile == nullptr || m_session.App().IsBusy()) {
        return;
    }
    profile->SetTransferMode(static_cast<std::uint16_t>(mode));
}

void CMainFrame::Stop() {
    CFTPApp& app = m_session.App();
    if (app.IsStopRequested()) {
        // A second Stop: the connections themselves are broken.
        if (m_prompter.ConfirmStopByDisconnect(this)) {
            m_session.Stop(true);
        }
        return;
    }
    const CFTPProfile* profile = m_session.GetProfile();
    if (profile != nullptr && profile->m_bConfirmStop &&
        m_prompter.Message(this, QStringLiteral("Are you sure you want to stop current action?"),
                           MB_YESNO | MB_ICONQUESTION) != IDYES) {
        return;
    }
    if (app.IsWorking()) {
        // A connect in progress cannot be stopped in the middle: it ends the
        // connection.
        m_session.Stop(app.GetBusyCode() == BUSY_CONNECTING);
        m_pStatus->RedrawNow();
    }
}

void CMainFrame::StopByBreakingConnections() {
    if (m_prompter.ConfirmStopByDisconnect(this)) {
        m_session.Stop(true);
        m_pStatus->RedrawNow();
    }
}

void CMainFrame::GoTo() {
    CFTPProfile* profile = m_session.GetProfile();
    if (profile == nullptr || m_session.App().IsBusy()) {
        return;
    }
    QString text = m_prompter.AskGoTo(this, profile->m_arrGotoHistory);
    if (text.isEmpty()) {
        return;
    }
    if (text.size() > 1 && text.at(1) == QLatin1Char(':')) {
        text.replace(QLatin1Char('\\'), QLatin1Char('/'));
    }
    if (m_goTo && m_goTo(text)) {
        profile->AddGotoHistory(text.toStdString());
    } else {
        m_prompter.Message(this, QStringLiteral("Failed to goto\n%1").arg(text), MB_OK);
    }
}

void CMainFrame::SaveLogAs() {
    const QString name =
        m_prompter.AskSaveLogFile(this, DefaultLogFileName(QDateTime::currentDateTime()));
    if (name.isEmpty()) {
        return;
    }
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    m_pLog->Flush();
    const bool saved = m_pLog->Model().SaveTo(name);
    QGuiApplication::restoreOverrideCursor();
    if (!saved) {
        m_prompter.Message(this, QStringLiteral("Failed to save log!"), MB_OK);
    }
}

void CMainFrame::ClearLog() {
    m_pLog->Clear();
}

void CMainFrame::SaveSettingsNow() {
    CFTPProfile* profile = m_session.GetProfile();
    if (profile == nullptr) {
        return;
    }
    while (profile->SaveProfile(&m_questionsPort) == CFTPProfile::SAVE_RETRY) {
    }
}

void CMainFrame::BeginWaitCursor() {
    if (!m_bWaitCursor) {
        m_bWaitCursor = true;
        QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    }
}

void CMainFrame::EndWaitCursor() {
    if (m_bWaitCursor) {
        m_bWaitCursor = false;
        QGuiApplication::restoreOverrideCursor();
    }
}

// ---- Panes -------------------------------------------------------------------

QWidget* CMainFrame::Pane(int index) const {
    switch (index) {
    case PANE_TREE:
        return m_pTree;
    case PANE_LIST:
        return m_pList;
    case PANE_LOG:
        return m_pLog;
    default:
        return nullptr;
    }
}

int CMainFrame::FocusedPane() const {
    const QWidget* focus = QApplication::focusWidget();
    for (int i = 0; i < 3; ++i) {
        const QWidget* pane = Pane(i);
        if (focus != nullptr && (focus == pane || pane->isAncestorOf(focus))) {
            return i;
        }
    }
    return -1;
}

void CMainFrame::ActivatePane(int index) {
    if (QWidget* pane = Pane(index)) {
        pane->setFocus(Qt::OtherFocusReason);
    }
}

void CMainFrame::CyclePane(int step) {
    const int current = FocusedPane();
    const int next = current < 0 ? (step > 0 ? PANE_TREE : PANE_LOG) : (current + step + 3) % 3;
    if (QWidget* pane = Pane(next)) {
        pane->setFocus(step > 0 ? Qt::TabFocusReason : Qt::BacktabFocusReason);
    }
}

// ---- Keyboard ----------------------------------------------------------------

bool CMainFrame::IsMine(QObject* object) const {
    auto* widget = qobject_cast<QWidget*>(object);
    return widget != nullptr && widget->window() == this;
}

bool CMainFrame::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::ShortcutOverride && IsMine(watched)) {
        auto* key = static_cast<QKeyEvent*>(event);
        const CFTPApp& app = m_session.App();
        // The states as they are now, before a shortcut is looked up.
        UpdateActions();
        // While a label is edited its editor gets every key; Esc is Stop only
        // while something runs, and otherwise goes to the focused pane.
        const bool plainEsc = key->key() == Qt::Key_Escape && key->modifiers() == Qt::NoModifier;
        if (app.GetBusyCode() == BUSY_EDITING_LABEL || (plainEsc && !app.IsWorking()) ||
            m_pAdjusting != nullptr) {
            event->accept();
            return true;
        }
    } else if (event->type() == QEvent::KeyPress && m_pAdjusting != nullptr && IsMine(watched)) {
        return SplitterAdjustKey(static_cast<QKeyEvent*>(event));
    } else if (event->type() == QEvent::MouseButtonPress && m_pAdjusting != nullptr) {
        EndSplitterAdjust(true);
    }
    return QMainWindow::eventFilter(watched, event);
}

void CMainFrame::BeginSplitterAdjust(QSplitter* splitter) {
    m_pAdjusting = splitter;
    m_adjustStart = splitter->sizes();
    QGuiApplication::setOverrideCursor(
        splitter->orientation() == Qt::Horizontal ? Qt::SplitHCursor : Qt::SplitVCursor);
    statusBar()->showMessage(
        QStringLiteral("Move the splitter with the arrow keys; Enter keeps it, Esc puts it back"));
}

bool CMainFrame::SplitterAdjustKey(QKeyEvent* key) {
    QSplitter* splitter = m_pAdjusting;
    const bool horizontal = splitter->orientation() == Qt::Horizontal;
    int delta = 0;
    switch (key->key()) {
    case Qt::Key_Left:
        delta = horizontal ? -1 : 0;
        break;
    case Qt::Key_Right:
        delta = horizontal ? 1 : 0;
        break;
    case Qt::Key_Up:
        delta = horizontal ? 0 : -1;
        break;
    case Qt::Key_Down:
        delta = horizontal ? 0 : 1;
        break;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        EndSplitterAdjust(true);
        return true;
    case Qt::Key_Escape:
        EndSplitterAdjust(false);
        return true;
    default:
        return true; // nothing else while the splitter moves
    }
    if (delta != 0) {
        const int step = (key->modifiers() & Qt::ControlModifier) ? 1 : 8;
        QList<int> sizes = splitter->sizes();
        const int total = sizes[0] + sizes[1];
        sizes[0] = std::clamp(sizes[0] + delta * step, kMinPaneSize, total - kMinPaneSize);
        sizes[1] = total - sizes[0];
        splitter->setSizes(sizes);
    }
    return true;
}

void CMainFrame::EndSplitterAdjust(bool keep) {
    if (m_pAdjusting == nullptr) {
        return;
    }
    if (!keep) {
        m_pAdjusting->setSizes(m_adjustStart);
    }
    m_pAdjusting = nullptr;
    QGuiApplication::restoreOverrideCursor();
    statusBar()->clearMessage();
}

// ---- Events of the session ---------------------------------------------------

void CMainFrame::Drain() {
    std::deque<CoreEvent> events = m_session.TakeEvents();
    if (events.empty()) {
        return;
    }
    const bool exiting = m_session.App().IsExiting();
    std::vector<LogLine> lines;
    bool statusChanged = false;
    bool ended = false;
    bool allEnded = false;
    for (CoreEvent& event : events) {
        std::visit(
            [&](auto& e) {
                using T = std::decay_t<decltype(e)>;
                if constexpr (std::is_same_v<T, event::LogLines>) {
                    if (lines.empty()) {
                        lines = std::move(e.lines);
                    } else {
                        std::move(e.lines.begin(), e.lines.end(), std::back_inserter(lines));
                    }
                } else if constexpr (std::is_same_v<T, event::StatusChanged>) {
                    statusChanged = true;
                } else if constexpr (std::is_same_v<T, event::QuestionAsked>) {
                    if (exiting) {
                        m_session.Answer(e.question.id, e.question.CancelAnswer());
                    } else {
                        ShowQuestion(e.question);
                    }
                } else if constexpr (std::is_same_v<T, event::QuestionClosed>) {
                    CloseQuestion(e.id);
                } else if constexpr (std::is_same_v<T, event::OperationEnded>) {
                    ended = true;
                    allEnded = e.report.stillRunning == 0;
                    if (!exiting) {
                        m_pTree->OnOperationEnded(e.report);
                        m_pList->OnOperationEnded(e.report);
                    }
                } else if constexpr (std::is_same_v<T, event::Listing>) {
                    if (!exiting) {
                        m_pTree->OnListing(e);
                    }
                } else if constexpr (std::is_same_v<T, event::ItemsChanged>) {
                    if (!exiting) {
                        m_pTree->OnItemsChanged(e);
                    }
                } else if constexpr (std::is_same_v<T, event::Renamed>) {
                    if (!exiting) {
                        m_pTree->OnRenamed(e);
                        m_pList->OnRenamed(e);
                    }
                } else if constexpr (std::is_same_v<T, event::OpenFile>) {
                    if (!exiting) {
                        m_pList->OpenLocalFile(e.path);
                    }
                } else if constexpr (std::is_same_v<T, event::ConnectionEnded>) {
                    if (!exiting) {
                        m_pTree->OnConnectionEnded(e.connection);
                    }
                }
            },
            event);
    }
    if (exiting) {
        return;
    }
    if (!lines.empty()) {
        m_pLog->Append(lines);
    }
    if (statusChanged) {
        m_pStatus->OnStatusChanged();
    }
    if (ended) {
        if (allEnded) {
            EndWaitCursor();
        }
        UpdateActions();
    }
}

void CMainFrame::ShowQuestion(const Question& question) {
    QDialog* dialog = nullptr;
    const QuestionId id = question.id;
    if (question.kind == Question::Kind::Overwrite) {
        auto* overwrite =
            new COverwriteDlg(this, QString::fromStdString(question.existing),
                              QString::fromStdString(question.incoming), question.canResume);
        connect(overwrite, &QDialog::finished, this, [this, id](int result) {
            const bool known = result >= Question::OVERWRITE && result <= Question::SKIP_ALL;
            QuestionFinished(id, known ? result : static_cast<int>(Question::SKIP));
        });
        dialog = overwrite;
    } else if (question.kind == Question::Kind::Certificate) {
        QMessageBox* box = MakeCertificateBox(this, question).release();
        connect(box, &QDialog::finished, this,
                [this, id, box] { QuestionFinished(id, CertificateAnswer(*box)); });
        dialog = box;
    } else {
        QMessageBox* box =
            MakeMessageBox(this, QString::fromStdString(question.text), question.style).release();
        const unsigned style = question.style;
        connect(box, &QDialog::finished, this,
                [this, id, box, style] { QuestionFinished(id, MessageBoxAnswer(*box, style)); });
        dialog = box;
    }
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowModality(Qt::ApplicationModal);
    m_questions[id] = OpenQuestion{question, dialog};
    dialog->open();
}

void CMainFrame::QuestionFinished(QuestionId id, int answer) {
    // A question withdrawn meanwhile has been forgotten: nothing to send.
    const auto it = m_questions.find(id);
    if (it == m_questions.end()) {
        return;
    }
    const Question question = std::move(it->second.question);
    m_questions.erase(it);
    if (question.kind == Question::Kind::Certificate && answer == Question::CERT_ACCEPT_ALWAYS) {
        m_pTree->KeepCertificate(question.connection, question.fingerprint);
    }
    m_session.Answer(id, answer);
}

void CMainFrame::CloseQuestion(QuestionId id) {
    auto it = m_questions.find(id);
    if (it == m_questions.end()) {
        return;
    }
    QPointer<QDialog> dialog = it->second.dialog;
    m_questions.erase(it);
    if (dialog) {
        dialog->reject();
    }
}

void CMainFrame::AnswerAllQuestions() {
    std::map<QuestionId, OpenQuestion> open;
    open.swap(m_questions);
    for (auto& [id, entry] : open) {
        m_session.Answer(id, entry.question.CancelAnswer());
        if (entry.dialog) {
            entry.dialog->reject();
        }
    }
}

QDialog* CMainFrame::QuestionDialog(QuestionId id) const {
    auto it = m_questions.find(id);
    return it == m_questions.end() ? nullptr : it->second.dialog.data();
}

// ---- Closing -----------------------------------------------------------------

void CMainFrame::closeEvent(QCloseEvent* event) {
    CFTPApp& app = m_session.App();
    if (!app.IsExiting()) {
        if (app.IsWorking() && !m_prompter.ConfirmExit(this)) {
            event->ignore();
            return;
        }
        // From now on what the core posts is dropped, and its questions get
        // their cancel meaning at once.
        app.SetExiting();
        EndSplitterAdjust(false);
        AnswerAllQuestions();
        StoreLayout();
    }
    EndWaitCursor();
    event->accept();
}

// ---- Layout ------------------------------------------------------------------

void CMainFrame::ApplyLayout(const CFTPProfileX& layout) {
    if (layout.m_nVersion != 1) {
        return;
    }
    for (const CFTPDockBarInfo& bar : layout.m_dockState.m_arrBars) {
        if (bar.m_nBarID == kToolBarId) {
            m_pToolBar->setVisible(bar.m_bVisible != 0);
        } else if (bar.m_nBarID == kStatusBarId) {
            m_pStatus->setVisible(bar.m_bVisible != 0);
        }
    }
    const CFTPWindowPlacement& p = layout.m_placement;
    const QRect normal(p.m_rcNormalLeft, p.m_rcNormalTop, p.m_rcNormalRight - p.m_rcNormalLeft,
                       p.m_rcNormalBottom - p.m_rcNormalTop);
    bool onScreen = false;
    for (const QScreen* screen : QGuiApplication::screens()) {
        onScreen = onScreen || screen->availableGeometry().intersects(normal);
    }
    if (normal.width() >= 100 && normal.height() >= 100 && onScreen) {
        setGeometry(normal);
    } else if (normal.width() >= 100 && normal.height() >= 100) {
        resize(normal.size());
    }
    m_bMaximize = p.m_nShowCmd == 3;
    auto sizes = [](const std::array<std::int32_t, 4>& stored) {
        QList<int> list;
        if (stored[0] > 0 || stored[2] > 0) {
            list << std::max(stored[0], 0) << std::max(stored[2], 0);
        }
        return list;
    };
    m_pendingOuter = sizes(layout.m_arrOuterSplitter);
    m_pendingInner = sizes(layout.m_arrInnerSplitter);
    if (m_bShownOnce) {
        ApplySplitterSizes();
    }
}

void CMainFrame::ShowAsStored() {
    if (m_bMaximize) {
        showMaximized();
    } else {
        show();
    }
}

void CMainFrame::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (!m_bShownOnce) {
        m_bShownOnce = true;
        ApplySplitterSizes();
    }
}

void CMainFrame::ApplySplitterSizes() {
    if (QLayout* frameLayout = layout()) {
        frameLayout->activate();
    }
    const int height = m_pOuter->height() - m_pOuter->handleWidth();
    const int width = m_pInner->width() - m_pInner->handleWidth();
    m_pOuter->setSizes(m_pendingOuter.size() == 2 ? m_pendingOuter
                                                  : QList<int>{height * 3 / 4, height / 4});
    m_pInner->setSizes(m_pendingInner.size() == 2 ? m_pendingInner
                                                  : QList<int>{width / 2, width - width / 2});
    m_pendingOuter.clear();
    m_pendingInner.clear();
}

CFTPProfileX CMainFrame::CurrentLayout() const {
    CFTPProfileX layout;
    layout.m_nVersion = 1;
    if (const QScreen* screen = this->screen()) {
        layout.m_dockState.m_nScreenWidth = ToInt(screen->geometry().width());
        layout.m_dockState.m_nScreenHeight = ToInt(screen->geometry().height());
    }
    for (const auto& [id, visible] :
         {std::pair<std::uint32_t, bool>{kToolBarId, !m_pToolBar->isHidden()},
          std::pair<std::uint32_t, bool>{kStatusBarId, !m_pStatus->isHidden()}}) {
        CFTPDockBarInfo bar;
        bar.m_nBarID = id;
        bar.m_bVisible = visible ? 1 : 0;
        bar.m_bHorz = 1;
        layout.m_dockState.m_arrBars.push_back(bar);
    }
    CFTPWindowPlacement& p = layout.m_placement;
    p.m_nLength = 44;
    p.m_ptMinX = p.m_ptMinY = p.m_ptMaxX = p.m_ptMaxY = -1;
    const QRect normal = isMaximized() || isMinimized() ? normalGeometry() : geometry();
    p.m_rcNormalLeft = ToInt(normal.left());
    p.m_rcNormalTop = ToInt(normal.top());
    p.m_rcNormalRight = ToInt(normal.left() + normal.width());
    p.m_rcNormalBottom = ToInt(normal.top() + normal.height());
    p.m_nShowCmd = isMaximized() ? 3 : 1;
    auto store = [](const QSplitter* splitter, std::array<std::int32_t, 4>& out) {
        const QList<int> sizes = splitter->sizes();
        out = {ToInt(sizes.value(0)), kMinPaneSize, ToInt(sizes.value(1)), kMinPaneSize};
    };
    if (m_pendingOuter.size() == 2 && !m_bShownOnce) {
        // Never shown: keep what was stored.
        layout.m_arrOuterSplitter = {m_pendingOuter[0], kMinPaneSize, m_pendingOuter[1],
                                     kMinPaneSize};
    } else {
        store(m_pOuter, layout.m_arrOuterSplitter);
    }
    if (m_pendingInner.size() == 2 && !m_bShownOnce) {
        layout.m_arrInnerSplitter = {m_pendingInner[0], kMinPaneSize, m_pendingInner[1],
                                     kMinPaneSize};
    } else {
        store(m_pInner, layout.m_arrInnerSplitter);
    }
    return layout;
}

void CMainFrame::StoreLayout() {
    if (CFTPProfile* profile = m_session.GetProfile()) {
        profile->m_layout = CurrentLayout();
    }
}

} // namespace qb::ui
