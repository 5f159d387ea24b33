// The folder tree pane: a QTreeView over the folder tree model. It turns
// the tree's commands into dialogs, changes of the site tree, local folder
// changes and requests to the session, and applies what the session reports
// back (listings, changes, renames, ended connections and operations).
// Requests are remembered by operation id; sites by connection id; a node
// never holds anything of the core.
#pragma once

#include "app/events.h"
#include "app/session.h"
#include "clipboard.h"
#include "dialogs.h"
#include "folder_model.h"

#include <QTimer>
#include <QTreeView>
#include <functional>
#include <map>
#include <memory>
#include <optional>

namespace qb {
class CFTPSession;
class IQuestions;
class ILFSReplaceDialog;
} // namespace qb

namespace qb::ui {

class CFolderTreeView : public QTreeView {
    Q_OBJECT
public:
    // How long a selection must stay before it is explored.
    static constexpr int kExploreDelayMs = 500;

    CFolderTreeView(CFTPSession& session, IPrompter& prompter, std::vector<MountInfo> mounts,
                    QWidget* parent = nullptr);
    ~CFolderTreeView() override;

    CFolderTreeModel& Model() const { return *m_pModel; }
    CFTPVI* Selection() const;
    void Select(CFTPVI* node);
    // The node of a path of labels ("Folder/Site/remote/path") or a local
    // path, looked up without exploring; null when not there.
    CFTPVI* FindNode(const std::string& path) const;
    // Requests whose end has not been reported yet.
    bool HasPending() const { return !m_ops.empty(); }
    // The connection of a site node; kNoConnection when not connected.
    ConnectionId ConnectionOf(const CFTPVI* site) const;
    // The user accepted the certificate `fingerprint` for good on
    // `connection`: its site keeps it, and the profile saves it. False when
    // the connection belongs to no site of the tree.
    bool KeepCertificate(ConnectionId connection, const std::string& fingerprint);

    // ---- Commands (on the selection unless a node is given) ----
    bool CanRun(int id, CFTPVI* node = nullptr) const;
    void Run(int id, CFTPVI* node = nullptr);
    void ConnectExplore(CFTPVI* node);
    bool ConnectSite(CFTPVI* node, bool expandWhenDone);
    bool ExploreRemote(CFTPVI* node, bool expandWhenDone);
    void Disconnect(CFTPVI* node, bool confirm);
    void DeleteNode(CFTPVI* node);
    void NewSiteFolder(CFTPVI* node);
    void NewSite(CFTPVI* node);
    void NewFolder(CFTPVI* node);
    void Properties(CFTPVI* node);
    void RefreshLocal();
    void RefreshRemote(CFTPVI* node);
    void UpOneLevel();
    // Walks the path from the root, exploring on the way; true when the
    // final node was found and selected.
    bool GoTo(const QString& path);

    // ---- The program's clipboard ----
    // The user's (Cut, Copy, Paste) and the scratch one that Delete and the
    // drop menu fill for one operation.
    CFTPClipboard& UserClipboard() { return m_clip; }
    CFTPClipboard& ScratchClipboard() { return m_scratch; }
    // Fills the user clipboard from the node; a cut shows it dimmed.
    void CutCopyNode(CFTPVI* node, bool cut);
    // Cancels a pending cut: the dimmed node or rows come back, and, unless
    // `keepContent`, the clipboard is emptied.
    void CancelCut(bool keepContent = false);
    // The Paste command: the user clipboard into the node. After a cut
    // that pasted the clipboard is emptied; copied content stays.
    void PasteInto(CFTPVI* target);
    // Pastes what `clip` holds into the node as a copy or a move: local
    // copies through the local workers, transfers through the session,
    // sites and site folders within the profile. True when the paste went
    // ahead.
    bool Paste(CFTPClipboard& clip, CFTPVI* target, bool move);
    // Deletes what `clip` holds, after the confirmation; empties it.
    void DeleteItems(CFTPClipboard& clip);

    // ---- Dragging ----
    // The node being dragged (startDrag sets it for the drag's length).
    void SetDragSource(CFTPVI* node) { m_pDragSource = node; }
    // Sites and site folders drop on the root or a site folder; folders on
    // a local container, a site or a remote folder; never on the source's
    // parent, the source itself or anything inside it.
    bool CanDropOn(const CFTPVI* source, const CFTPVI* target) const;
    // Rows of the content list being dragged: the node they are shown
    // from, the tree nodes of the rows (null for files), their kinds, and
    // how to put them on a clipboard.
    struct RowDrag {
        const CFTPVI* shown = nullptr;
        std::vector<const CFTPVI*> nodes;
        std::vector<std::uint16_t> kinds;
        std::function<void(CFTPClipboard&)> fill;
    };
    void SetRowDrag(RowDrag rows) { m_rowDrag = std::move(rows); }
    void EndRowDrag() { m_rowDrag = RowDrag{}; }
    bool CanDropRowsOn(const CFTPVI* target) const;
    // Copy Here / Move Here of a node onto a target.
    void PasteNode(CFTPVI* source, CFTPVI* target, bool move);
    // Local files and folders (full paths, as the desktop drops them) into
    // a node, as a copy or a move.
    void PastePaths(const std::vector<std::string>& paths, CFTPVI* target, bool move);
    // A drag's data may be dropped on the node / is dropped there (the
    // drop menu first).
    bool CanDrop(const QMimeData* mime, const CFTPVI* target) const;
    void Drop(const QMimeData* mime, CFTPVI* target);

    // ---- What the session reports (the frame hands them over in order) ----
    void OnListing(const event::Listing& listing);
    void OnItemsChanged(const event::ItemsChanged& changes);
    void OnRenamed(const event::Renamed& renamed);
    void OnConnectionEnded(ConnectionId connection);
    void OnOperationEnded(const OperationReport& report);

    // The window title for the selection.
    QString Title() const;

    // A remote folder that is a link could not be explored: its target is
    // then fetched as text and opened (the content list does it).
    std::function<void(const CFTPFile& target)> onFollowLink;

Q_SIGNALS:
    // A request went to the session (the frame shows the wait cursor).
    void OperationStarted();
    // The selection or what the commands may do changed.
    void StateChanged();
    // The selection has stayed long enough to be explored; the content
    // list fills itself for it now.
    void SelectionSettled();
    // A cut from the content list's rows ended: they are no longer dimmed.
    void RowCutCancelled();
    // Local items changed under the shown folder: the list reads it again.
    void RefillContent();

protected:
    bool edit(const QModelIndex& index, EditTrigger trigger, QEvent* event) override;
    void closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint) override;
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void startDrag(Qt::DropActions actions) override;

private:
    enum class Op { Connect, Explore, Rename, Delete, MakeFolder, Copy };
    struct Pending {
        Op op = Op::Explore;
        CFTPVI* node = nullptr; // null once the node is gone
        bool expand = false;
        std::string oldName, newName;
    };
    struct Connection {
        CFTPVI* site = nullptr;
        std::string host;
    };

    void OnExpanded(const QModelIndex& index);
    void OnSelectionTimer();
    bool Rename(CFTPVI* node, const QString& text);
    void ReopenEditor(CFTPVI* node, const QString& text);
    void ConnectionLost(ConnectionId connection);
    void Forget(CFTPVI* node);
    void ExpandQuietly(CFTPVI* node);
    CFTPVI* RemoteFolderNode(ConnectionId connection, const std::string& path) const;
    CFTPVI* LocalNode(const std::string& path) const;
    void SetRefreshPending(const CFTPVI* parent);
    CFTPFile RemoteRecord(CFTPVI* node, bool isFile) const;
    // The record of a remote node path (site folders, site, remote path);
    // nothing when its site is not connected.
    std::optional<CFTPFile> ResolveRemote(const std::string& path, bool isFile) const;
    // "Cannot paste" for an entry: true for OK (skip it).
    bool SkipRefused(const std::string& entry, const std::string& targetPath);
    bool ConfirmPaste(const CFTPClipboard& clip, const std::string& targetPath, bool move);
    bool PasteLocal(CFTPClipboard& clip, CFTPVI* target, bool move);
    bool PasteTransfer(CFTPClipboard& clip, CFTPVI* target, bool move);
    bool PasteSites(CFTPClipboard& clip, CFTPVI* target, bool move);
    // A site or site folder out of the profile and the tree.
    bool RemoveSiteNode(CFTPVI* node);
    // Reads the local folder nodes of these paths again.
    void RelistLocal(const std::vector<std::string>& folders);
    int Say(const QString& text, unsigned style);
    bool IsBusy() const;
    bool IsWorking() const;
    CFTPSession::Submitted Submit(std::uint16_t busy,
                                  const std::function<CFTPSession::Submitted()>& request);
    void UpdateTitle();

    CFTPSession& m_session;
    IPrompter& m_prompter;
    std::unique_ptr<IQuestions> m_questions; // the prompter as IQuestions
    CFolderTreeModel* m_pModel;
    QTimer m_exploreTimer;
    std::map<OperationId, Pending> m_ops;
    std::map<ConnectionId, Connection> m_connections;
    bool m_bQuietExpand = false;
    CFTPVI* m_pDragSource = nullptr;
    RowDrag m_rowDrag;
    CFTPClipboard m_clip;
    CFTPClipboard m_scratch;
    std::unique_ptr<ILFSReplaceDialog> m_replace; // the prompter's Replace Confirmation
};

} // namespace qb::ui
