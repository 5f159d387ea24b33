// The folder tree's model: the root "Quillbeck", the mounted volumes with
// their folders, the site folders and sites of the profile, and the remote
// folders of connected sites. Rows are view items; text and icons are made
// when asked for. Children come lazily: local folders and site folders
// through canFetchMore/fetchMore, sites and remote folders when the pane
// has explored them (until then they have a placeholder: hasChildren
// without rows).
#pragma once

#include "view_item.h"

#include <QAbstractItemModel>
#include <QIcon>
#include <array>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace qb {
class CFTPProfile;
class CFTPSiteFolder;
class CFTPFolderContent;
} // namespace qb

namespace qb::ui {

class CFolderTreeModel : public QAbstractItemModel {
    Q_OBJECT
public:
    // Names longer than this are shown elided in the middle.
    static constexpr int kMaxShownName = 260;

    // `profile` may be null (no sites); it must outlive the model.
    CFolderTreeModel(CFTPProfile* profile, std::vector<MountInfo> mounts,
                     QObject* parent = nullptr);
    ~CFolderTreeModel() override;

    // ---- QAbstractItemModel ----
    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    bool hasChildren(const QModelIndex& parent = {}) const override;
    bool canFetchMore(const QModelIndex& parent) const override;
    void fetchMore(const QModelIndex& parent) override;
    // Dragging: a node of this tree travels as kNodeMime (its path); files
    // of the desktop as text/uri-list. Drops land on a node only.
    QStringList mimeTypes() const override;
    QMimeData* mimeData(const QModelIndexList& indexes) const override;
    Qt::DropActions supportedDropActions() const override;
    Qt::DropActions supportedDragActions() const override;
    bool canDropMimeData(const QMimeData* data, Qt::DropAction action, int row, int column,
                         const QModelIndex& parent) const override;
    bool dropMimeData(const QMimeData* data, Qt::DropAction action, int row, int column,
                      const QModelIndex& parent) override;
    static constexpr const char* kNodeMime = "application/x-quillbeck-tree-node";
    // Rows of the content list (their paths travel on the program's
    // clipboard, not in the drag's data).
    static constexpr const char* kRowsMime = "application/x-quillbeck-list-rows";

    // ---- Nodes ----
    CFTPVI* Root() const { return m_top.m_nodes.front().get(); }
    CFTPVI* NodeOf(const QModelIndex& index) const;
    QModelIndex IndexOf(const CFTPVI* node) const;
    // Labels from the root's child down to the node joined with "/" (a
    // drive gives its mount point); "" for the root.
    std::string NodePath(const CFTPVI* node) const;
    // The full local path of a drive or local folder node.
    std::string LocalPath(const CFTPVI* node) const;
    // The site node above (or at) a remote node; null when there is none.
    CFTPVI* SiteOf(CFTPVI* node) const;
    // The path of a remote folder node below its site ("" for the site).
    std::string RemotePath(const CFTPVI* node) const;
    // The site folder of the profile that a root or site folder node
    // stands for; null when it cannot be found.
    CFTPSiteFolder* ModelFolder(const CFTPVI* node) const;
    // The child node named exactly `name`.
    CFTPVI* Child(const CFTPVI* parent, const std::string& name) const;
    bool IsAncestor(const CFTPVI* ancestor, const CFTPVI* node) const;

    // ---- Changes ----
    // Inserts the nodes in one batch and puts the children in sibling order.
    void InsertNodes(CFTPVI* parent, std::vector<std::unique_ptr<CFTPVI>> nodes);
    CFTPVI* InsertNode(CFTPVI* parent, std::unique_ptr<CFTPVI> node);
    // Deletes the node with everything below it.
    void RemoveNode(CFTPVI* node);
    // Deletes the children of the node (not the node).
    void RemoveChildren(CFTPVI* node);
    void SortChildren(CFTPVI* node);
    // The node's text or icon changed.
    void Changed(const CFTPVI* node);
    // The node that was cut (shown dimmed); null for none.
    void SetCutNode(const CFTPVI* node);
    const CFTPVI* CutNode() const { return m_pCutNode; }
    // A site or remote folder goes back to its placeholder.
    void ResetToPlaceholder(CFTPVI* node);

    // Explores a node that can be explored here (root, drive, local folder,
    // site folder); false when it cannot be (a site folder the profile
    // lacks, a folder that cannot be read).
    bool ExploreLocal(CFTPVI* node);
    // Reads a local folder or drive again: nodes no longer there go, new
    // ones come, the others stay with their own children.
    bool ListLocal(CFTPVI* node);
    // Puts a listing into a site or remote folder node. Folder nodes whose
    // names are listed stay (with their children) and take the listed size
    // and time; the others go; new folders come with a placeholder. The
    // files are merged the same way into the view item's children.
    void MergeListing(CFTPVI* node, const CFTPFolderContent& content);

    // Called for every node about to be deleted (the node first, then what
    // is below it).
    std::function<void(CFTPVI*)> onRemoving;
    // Called by setData for a new label; true when the rename is accepted
    // and the node already carries the new name (or will, later).
    std::function<bool(CFTPVI*, const QString&)> onRename;
    // Whether `data` may be dropped on the node, and the drop itself.
    std::function<bool(const QMimeData*, CFTPVI*)> canDrop;
    std::function<void(const QMimeData*, CFTPVI*)> onDrop;

    const QIcon& Image(int image, bool working) const;
    // The text shown for a name: invalid UTF-8 replaced, control characters
    // made visible, a very long name elided in the middle.
    static QString ShownName(const std::string& name);

private:
    void Renumber(CFTPVI* parent, std::size_t from = 0);
    void Forget(CFTPVI* node);
    void BuildRoot();
    void LoadImages();

    CFTPProfile* m_pProfile;
    std::vector<MountInfo> m_mounts;
    CFTPVI m_top{VI_NONE, std::string(), 0, 0}; // the invisible parent of the root
    std::array<QIcon, IMG_COUNT> m_images;
    std::array<QIcon, IMG_COUNT> m_working;
    const CFTPVI* m_pCutNode = nullptr;
};

} // namespace qb::ui
