// The content list pane: the rows of the node selected in the folder tree,
// shown by one of two views over one model and one selection: a list view
// for Large Icons, Small Icons and List, a tree view as a table for
// Details. The pane fills itself when the tree's selection has settled,
// when an operation has ended and when the tree changes the node it shows;
// it opens rows (folders in the tree, local files with the desktop's
// program), selects all or inverts the selection, and renames local files
// in place.
#pragma once

#include "app/events.h"
#include "clipboard.h"
#include "content_model.h"
#include "dialogs.h"

#include <QPersistentModelIndex>
#include <QUrl>
#include <QWidget>
#include <functional>
#include <map>
#include <memory>

class QListView;
class QTreeView;
class QAbstractItemView;
class QStackedLayout;
class QItemSelectionModel;
class QMenu;
class QAction;
class QContextMenuEvent;
class QMimeData;

namespace qb {
class CFTPSession;
}

namespace qb::ui {

class CFolderTreeView;

class CFolderContentView : public QWidget {
    Q_OBJECT
public:
    // Where the hint of an empty list is drawn in the view.
    static constexpr int kHintX = 10;
    static constexpr int kHintY = 50;

    CFolderContentView(CFTPSession& session, IPrompter& prompter, CFolderTreeView& tree,
                       QWidget* parent = nullptr);
    ~CFolderContentView() override;

    CFolderContentModel& Model() const { return *m_pModel; }
    // The view of the current mode.
    QAbstractItemView* View() const;
    QListView* IconView() const { return m_pIcons; }
    QTreeView* DetailsView() const { return m_pDetails; }
    QItemSelectionModel* Selection() const;

    // ---- Filling ----
    // Fills the list for `node` when it is the tree's selection (null: the
    // selection).
    void Fill(const CFTPVI* node = nullptr);
    // An operation has ended: the refresh is no longer pending, and the
    // list shows the selection again.
    void Refill();
    // The tree node whose content is shown (null when none or gone).
    CFTPVI* Shown() const;
    // The text shown in an empty list: "Disconnected!" for a site that is
    // not connected, "Not Yet Explored!" for a remote folder that is not
    // explored, else nothing.
    QString Hint() const;

    // ---- Modes and order ----
    // The profile's view mode (0 Large Icons, 1 Details, 2 Small Icons,
    // 3 List).
    void SetViewStyle(int style);
    int ViewStyle() const { return m_nStyle; }
    void SetSortKey(std::uint16_t key);

    // ---- Commands ----
    // Opens a row: a local file with the desktop's program, a row with a
    // tree node by selecting that node in the tree; a remote file not.
    void Open(int row);
    void SelectAll();
    void InvertSelection();
    // The selected rows in order.
    std::vector<int> SelectedRows() const;
    // The tree node shown by a row (a row's name among the shown node's
    // children, exactly); null for files.
    CFTPVI* NodeOfRow(int row) const;
    // True when the pane holds the focus.
    bool IsActive() const;
    // The commands that act on the list's rows while it is the active pane
    // (Delete, Rename, Properties, Connect/Explore, Disconnect).
    static bool ActsOnRows(int id);
    bool CanRun(int id) const;
    // Handles the commands the frame routes to the panes: Select All and
    // Invert Selection always, the row commands while active; false for
    // others.
    bool Run(int id);

    // Downloads the row's remote file as text into a file of the private
    // temporary folder, which is opened when it has arrived (busy code 10).
    void ViewRemoteText(int row);
    // Fetches a remote file as text into the private temporary folder and
    // opens it there (busy code 10, or 11 for a link's target).
    void ViewRemoteFile(const CFTPFile& source, std::uint16_t busy);
    // The properties dialog of a local or remote file row.
    void FileProperties(int row);
    // What the session reports (the frame hands them over after the tree):
    // a rename of a remote file went through; an operation ended (the list
    // shows the selection again).
    void OnRenamed(const event::Renamed& renamed);
    void OnOperationEnded(const OperationReport& report);
    // Opens a local file with the desktop's program (a viewed remote file
    // that has arrived).
    void OpenLocalFile(const std::string& path);
    // What opens a local file (the desktop's program unless replaced).
    void SetOpener(std::function<bool(const QUrl&)> opener) { m_open = std::move(opener); }

    // ---- Context menus ----
    // The frame's commands by id, which the menus show.
    void SetActions(std::function<QAction*(int)> lookup) { m_action = std::move(lookup); }
    // The row menu or the background menu, of the frame's commands (which
    // act on the selected rows while the list is active).
    std::unique_ptr<QMenu> ContextMenu(bool row) const;

    // ---- Called by the two views ----
    bool BeginEdit(const QModelIndex& index);
    void EditStarted();
    void EndEdit();
    bool IsBusy() const;
    bool IsWorking() const;
    bool ViewKey(QKeyEvent* event);
    // A drag of the selected rows starts (false: refused) / has ended.
    bool BeginRowDrag();
    void EndRowDrag();
    bool ViewDoubleClick(QMouseEvent* event, const QModelIndex& index);
    void PaintHint(QWidget* viewport) const;
    void ViewContextMenu(QContextMenuEvent* event);

Q_SIGNALS:
    // A header was clicked: sort by that column (or turn the order round).
    void SortColumnClicked(int column);
    // The selection or what the commands may do changed.
    void StateChanged();
    // A request went to the session (the frame shows the wait cursor).
    void OperationStarted();

private:
    void ScheduleRefill();
    void WatchTree();
    bool TreeChangeConcernsShown(const QModelIndex& parent) const;
    bool RenameRow(int row, const QString& text);
    void ReopenEditor(int row, const QString& text);
    // A refused name: `message` (if any) is shown and the editor reopens with
    // the text typed. Always false.
    bool RefuseEdit(int row, const QString& text, const QString& message);
    bool RenameRemoteFile(int row, const std::string& name, const QString& text);
    // The record of a remote file of the shown folder (no connection when
    // its site is not connected).
    CFTPFile RemoteFileRecord(const std::string& name) const;
    void FocusFirstRow();
    // Puts the selected rows on a clipboard; a cut shows them dimmed.
    void FillClipboard(CFTPClipboard& clip, bool cut);
    // Rows of a cut from this folder are shown dimmed again after a fill.
    void MarkCutRows();
    bool RowsCanCutCopy() const;
    // Where Paste goes: the node of the row whose menu is open, else the
    // tree's selection.
    CFTPVI* PasteTarget() const;
    // The node a drop on a row (or, for -1, the list) lands on.
    CFTPVI* DropTarget(const QMimeData* mime, int row) const;

    CFTPSession& m_session;
    IPrompter& m_prompter;
    CFolderTreeView& m_tree;
    CFolderContentModel* m_pModel;
    QStackedLayout* m_pStack = nullptr;
    QListView* m_pIcons = nullptr;
    QTreeView* m_pDetails = nullptr;
    QPersistentModelIndex m_shown; // in the tree's model
    int m_nStyle = -1;
    int m_nMenuRow = -1; // the row whose menu is open
    bool m_bRefillScheduled = false;
    std::function<bool(const QUrl&)> m_open;
    std::function<QAction*(int)> m_action;
    struct PendingRename {
        QPersistentModelIndex folder; // in the tree's model
        std::string oldName, newName;
    };
    std::map<OperationId, PendingRename> m_renames;
};

} // namespace qb::ui
