// The content list's model: one row per item of the node the tree shows,
// in three columns (Name, Modified, Size). Every row owns its view item: a
// local folder's files and subfolders are read from the disk by the fill,
// and the content of any other node (its child nodes and its file children)
// is copied from the tree, so that no row ever points into the tree, whose
// nodes may go at any time. Texts and icons are made when a view asks.
#pragma once

#include "view_item.h"

#include <QAbstractTableModel>
#include <QIcon>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace qb::ui {

// A drive as a row of the list: what the list shows and sorts by, copied
// from the tree's drive node.
class CFTPVIDriveRow : public CFTPVI {
public:
    explicit CFTPVIDriveRow(const CFTPVILocalDrive& drive);
    bool IsDrive() const override { return true; }
    bool IsReady() const override { return m_bReady; }
    void Assign(const CFTPVI&) override {}
    int GetIndex() const { return m_nDrive; }

private:
    int m_nDrive;
    bool m_bReady;
};

class CFolderContentModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column : int { COL_NAME = 0, COL_MODIFIED = 1, COL_SIZE = 2, COL_COUNT = 3 };
    // The sort key: the low 2 bits are the column, this bit means
    // descending.
    static constexpr std::uint16_t kSortDescending = 0x8000;
    static constexpr int kColumnWidth[COL_COUNT] = {200, 150, 100};
    // The role that gives a row's view item kind.
    static constexpr int KindRole = Qt::UserRole + 1;

    explicit CFolderContentModel(QObject* parent = nullptr);
    ~CFolderContentModel() override;

    // ---- QAbstractItemModel ----
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    // Dragging: rows travel as the tree's kRowsMime (what they are stays
    // with the list); drops land on a row, or on the list itself.
    QStringList mimeTypes() const override;
    QMimeData* mimeData(const QModelIndexList& indexes) const override;
    Qt::DropActions supportedDropActions() const override;
    Qt::DropActions supportedDragActions() const override;
    bool canDropMimeData(const QMimeData* data, Qt::DropAction action, int row, int column,
                         const QModelIndex& parent) const override;
    bool dropMimeData(const QMimeData* data, Qt::DropAction action, int row, int column,
                      const QModelIndex& parent) override;

    // ---- Filling ----
    // The rows of a local folder or drive at `path`: its subfolders (kind
    // 11) and files (kind 12) with their modification times and sizes. A
    // folder that cannot be read gives no rows.
    static std::vector<std::unique_ptr<CFTPVI>> ReadLocalFolder(const std::string& path);
    // Copies of what a node that is not a local container holds: its child
    // nodes, then its file children.
    static std::vector<std::unique_ptr<CFTPVI>> CopyNodeContent(const CFTPVI& node);
    // Replaces every row (sorted by the current key). `local`: the rows are
    // the local folder `folderPath`'s own files and folders.
    void Reset(std::vector<std::unique_ptr<CFTPVI>> items, bool local = false,
               std::string folderPath = std::string());
    void Clear();
    bool IsLocal() const { return m_bLocal; }
    const std::string& FolderPath() const { return m_strFolder; }

    // ---- Rows ----
    CFTPVI* Item(int row) const;
    CFTPVI* ItemOf(const QModelIndex& index) const { return Item(index.row()); }
    // The row that shows `name` (exactly), or -1.
    int RowOf(const std::string& name) const;
    // A row other than `except` whose name equals `name` without regard to
    // case, or -1.
    int RowNamedNoCase(const std::string& name, int except = -1) const;
    // The row's item took a new name.
    void Renamed(int row, std::string name);
    // Cut rows are shown dimmed until the paste or the cut's cancel.
    void SetCut(int row, bool cut);
    bool IsCut(int row) const;
    void ClearCut();

    // ---- Sorting ----
    std::uint16_t SortKey() const { return m_wSortKey; }
    // Sorts the rows by `key`, keeping the views' selection and current row.
    void Sort(std::uint16_t key);
    // The list's order: < 0 when `a` comes before `b`, > 0 after, 0 when
    // they rank equal. Two drives go by index whatever the key; otherwise
    // the kind groups go first, then the key's column, the whole reversed
    // when descending. Sizes compare as unsigned 64-bit numbers.
    static int Compare(const CFTPVI& a, const CFTPVI& b, std::uint16_t key);

    // ---- Hooks ----
    // The icon of an image index (the tree's images); none when unset.
    std::function<QIcon(int image)> imageOf;
    // Called by setData for a new label of a row; true when it was taken
    // (the row already carries the new name, or will later).
    std::function<bool(int row, const QString& text)> onRename;
    // Whether `data` may be dropped on a row (-1: the list), and the drop.
    std::function<bool(const QMimeData*, int row)> canDrop;
    std::function<void(const QMimeData*, int row)> onDrop;

private:
    struct Row {
        std::unique_ptr<CFTPVI> item;
        std::string key; // the name folded for comparisons without case
        bool cut = false;
    };
    static std::string FoldedKey(const std::string& name);
    // The rows' indices in the order of `key`.
    static std::vector<int> SortedOrder(const std::vector<Row>& rows, std::uint16_t key);
    void SortRows(std::vector<Row>& rows) const;

    std::vector<Row> m_rows;
    std::uint16_t m_wSortKey = 0;
    bool m_bLocal = false;
    std::string m_strFolder;
};

} // namespace qb::ui
