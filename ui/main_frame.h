// The main window: tool bar, status bar and three panes (folder tree and
// content list side by side above the activity log) in two splitters, the
// menus with their shortcuts, and the commands that belong to no single
// pane. It reaches the core only through the session, and drains the
// session's events on its own thread whenever the session wakes it.
#pragma once

#include "app/session.h"
#include "dialogs.h"
#include "icons.h"
#include "profile/profile.h"

#include <QMainWindow>
#include <QPointer>
#include <functional>
#include <map>

class QSplitter;
class QToolBar;
class QFrame;

namespace qb::ui {

class CFTPLogView;
class CFolderTreeView;
class CFolderContentView;
class CFTPStatusBar;

// The commands, numbered as the menu resource always numbered them.
enum CommandId : int {
    ID_NEW_SITE_FOLDER = 32812,
    ID_NEW_SITE = 32811,
    ID_NEW_FOLDER = 32810,
    ID_DELETE = 32786,
    ID_RENAME = 32787,
    ID_PROPERTIES = 32788,
    ID_CLOSE = 57665,
    ID_CUT = 57635,
    ID_COPY = 57634,
    ID_PASTE = 57637,
    ID_SELECT_ALL = 32798,
    ID_INVERT_SELECTION = 32799,
    ID_VIEW_TOOLBAR = 59392,
    ID_VIEW_STATUS_BAR = 32777,
    ID_FOLDER_TREE = 32781,
    ID_FOLDER_CONTENT = 32845,
    ID_FTP_LOG = 32783,
    ID_ADJUST_VERTICAL = 32780,
    ID_ADJUST_HORIZONTAL = 32779,
    ID_LARGE_ICONS = 32792,
    ID_SMALL_ICONS = 32793,
    ID_LIST = 32877,
    ID_DETAILS = 32878,
    ID_SORT_NAME = 32825,
    ID_SORT_TIME = 32826,
    ID_SORT_SIZE = 32827,
    ID_REFRESH_LOCAL = 32816,
    ID_REFRESH_REMOTE = 32871,
    ID_VIEW_REMOTE_TEXT = 32875,
    ID_CONNECT_EXPLORE = 32822,
    ID_DISCONNECT = 32866,
    ID_GO_TO = 32823,
    ID_UP_ONE_LEVEL = 32846,
    ID_TRANSFER_TEXT = 32800,
    ID_TRANSFER_BINARY = 32801,
    ID_TRANSFER_AUTO = 32802,
    ID_CLEAR_LOG = 32807,
    ID_SAVE_LOG_AS = 32808,
    ID_SETTINGS = 32824,
    ID_SAVE_SETTINGS_NOW = 32874,
    ID_STOP = 32829,
    ID_STOP_BY_BREAKING = 32872,
    ID_ABOUT = 57664,
    ID_WEB_PAGE = 32879,
};

// The content list's view modes as the profile keeps them.
enum ViewStyle : int {
    VIEW_LARGE_ICONS = 0,
    VIEW_DETAILS = 1,
    VIEW_SMALL_ICONS = 2,
    VIEW_LIST = 3
};

// The panes in their cycling order.
enum PaneIndex : int { PANE_TREE = 0, PANE_LIST = 1, PANE_LOG = 2 };

class CMainFrame : public QMainWindow {
    Q_OBJECT
public:
    static constexpr int kMinPaneSize = 10;
    // The ids of the tool bar and status bar records of the stored layout.
    static constexpr std::uint32_t kToolBarId = 0xE800;
    static constexpr std::uint32_t kStatusBarId = 0xE801;
    static constexpr const char* kHomePage = "https://www.quillbeck.org/";

    // `questions` answers the core's questions on this thread (the save of
    // the profile). The session must outlive the frame, and its Exit must
    // have run before the frame is destroyed.
    CMainFrame(CFTPSession& session, IPrompter& prompter, IQuestions& questions,
               const CIconSet& icons, QWidget* parent = nullptr);
    ~CMainFrame() override;

    QAction* Action(int id) const;
    // Recomputes every command's enabled state and mark.
    void UpdateActions();
    // Handles every event the session has waiting.
    void Drain();

    // ---- Layout ----
    // Applies a stored layout (version 1 only): bar visibility, window
    // placement, splitter sizes (those once the window is shown).
    void ApplyLayout(const CFTPProfileX& layout);
    // Shows the window as the layout says (maximised or not).
    void ShowAsStored();
    CFTPProfileX CurrentLayout() const;
    // Writes the current layout into the profile.
    void StoreLayout();

    // ---- Panes ----
    QWidget* Pane(int index) const;
    // The pane that holds the focus, or -1.
    int FocusedPane() const;
    void ActivatePane(int index);
    // Tab, Shift+Tab and F6: the next pane; Shift+F6: the previous one.
    void CyclePane(int step);
    QSplitter* OuterSplitter() const { return m_pOuter; }
    QSplitter* InnerSplitter() const { return m_pInner; }
    CFTPLogView* LogView() const { return m_pLog; }
    CFolderTreeView* Tree() const { return m_pTree; }
    CFolderContentView* Content() const { return m_pList; }
    CFTPStatusBar* StatusBarWidget() const { return m_pStatus; }
    QToolBar* ToolBar() const { return m_pToolBar; }

    // ---- Commands ----
    void Stop();
    void StopByBreakingConnections();
    void GoTo();
    void SaveLogAs();
    void ClearLog();
    void SaveSettingsNow();
    // Where Go To goes: true when the path was found. The folder tree's
    // walk unless replaced.
    void SetGoToHandler(std::function<bool(const QString&)> handler) {
        m_goTo = std::move(handler);
    }

    // ---- Questions of connection threads ----
    int OpenQuestionCount() const { return static_cast<int>(m_questions.size()); }
    QDialog* QuestionDialog(QuestionId id) const;

    // The wait cursor while an operation runs (ended by its end).
    void BeginWaitCursor();
    void EndWaitCursor();

Q_SIGNALS:
    // A command that a pane carries out (the panes connect to it).
    void PaneCommand(int id);
    void ViewStyleChanged(int style);
    void SortOrderChanged(int order);

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void CreateActions();
    void CreateMenus();
    void CreateToolBar();
    void CreatePanes();
    QAction* AddAction(int id, const QString& text, const QList<QKeySequence>& keys,
                       const QString& statusTip, int icon = -1);
    void OnCommand(int id);
    void ShowQuestion(const Question& question);
    void QuestionFinished(QuestionId id, int answer);
    void CloseQuestion(QuestionId id);
    void AnswerAllQuestions();
    void SetViewStyle(int style);
    void SetSort(int key);
    void SetTransferMode(int mode);
    void BeginSplitterAdjust(QSplitter* splitter);
    bool SplitterAdjustKey(QKeyEvent* key);
    void EndSplitterAdjust(bool keep);
    void ApplySplitterSizes();
    bool IsMine(QObject* object) const;

    CFTPSession& m_session;
    IPrompter& m_prompter;
    IQuestions& m_questionsPort;
    const CIconSet& m_icons;
    std::map<int, QAction*> m_actions;

    QSplitter* m_pOuter = nullptr;
    QSplitter* m_pInner = nullptr;
    CFolderTreeView* m_pTree = nullptr;
    CFolderContentView* m_pList = nullptr;
    CFTPLogView* m_pLog = nullptr;
    CFTPStatusBar* m_pStatus = nullptr;
    QToolBar* m_pToolBar = nullptr;

    struct OpenQuestion {
        Question question;
        QPointer<QDialog> dialog;
    };
    std::map<QuestionId, OpenQuestion> m_questions;

    std::function<bool(const QString&)> m_goTo;
    bool m_bWaitCursor = false;
    bool m_bShownOnce = false;
    bool m_bLayoutStored = false;
    bool m_bMaximize = false;
    // Splitter sizes to apply once shown; empty: the default proportions.
    QList<int> m_pendingOuter, m_pendingInner;

    QSplitter* m_pAdjusting = nullptr;
    QList<int> m_adjustStart;
};

} // namespace qb::ui
