#include "content_model.h"

#include "folder_model.h"
#include "icons.h"

#include <QMimeData>
#include <QString>
#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qb::ui {

CFTPVIDriveRow::CFTPVIDriveRow(const CFTPVILocalDrive& drive)
    : CFTPVI(drive.GetKind(), drive.GetName(), drive.GetTime(), drive.GetSize()),
      m_nDrive(drive.GetIndex()), m_bReady(drive.IsReady()) {
    m_wState = drive.GetState();
}

CFolderContentModel::CFolderContentModel(QObject* parent) : QAbstractTableModel(parent) {}

CFolderContentModel::~CFolderContentModel() = default;

// ---- QAbstractItemModel ------------------------------------------------------

int CFolderContentModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

int CFolderContentModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : COL_COUNT;
}

CFTPVI* CFolderContentModel::Item(int row) const {
    if (row < 0 || static_cast<std::size_t>(row) >= m_rows.size()) {
        return nullptr;
    }
    return m_rows[static_cast<std::size_t>(row)].item.get();
}

QVariant CFolderContentModel::data(const QModelIndex& index, int role) const {
    const CFTPVI* item = index.isValid() ? Item(index.row()) : nullptr;
    if (item == nullptr) {
        return {};
    }
    switch (role) {
    case Qt::DisplayRole:
        switch (index.column()) {
        case COL_NAME:
            return CFolderTreeModel::ShownName(item->GetName());
        case COL_MODIFIED:
            return QString::fromStdString(item->TimeText());
        case COL_SIZE:
            return QString::fromStdString(item->SizeText());
        default:
            return {};
        }
    case Qt::EditRole:
        if (index.column() == COL_NAME) {
            const std::string& name = item->GetName();
            return QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size()));
        }
        return {};
    case Qt::DecorationRole:
        if (index.column() == COL_NAME && imageOf) {
            const int image = item->Image(false);
            if (image >= 0) {
                return m_rows[static_cast<std::size_t>(index.row())].cut ? CutIcon(imageOf(image))
                                                                         : imageOf(image);
            }
        }
        return {};
    case Qt::TextAlignmentRole:
        return index.column() == COL_NAME ? int(Qt::AlignLeft | Qt::AlignVCenter)
                                          : int(Qt::AlignRight | Qt::AlignVCenter);
    case KindRole:
        return static_cast<int>(item->GetKind());
    default:
        return {};
    }
}

QVariant CFolderContentModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= COL_COUNT) {
        return QAbstractTableModel::headerData(section, orientation, role);
    }
    if (role == Qt::DisplayRole) {
        static const char* const headers[COL_COUNT] = {"Name", "Modified", "Size"};
        return QString::fromLatin1(headers[section]);
    }
    if (role == Qt::TextAlignmentRole) {
        return section == COL_NAME ? int(Qt::AlignLeft | Qt::AlignVCenter)
                                   : int(Qt::AlignRight | Qt::AlignVCenter);
    }
    return {};
}

Qt::ItemFlags CFolderContentModel::flags(const QModelIndex& index) const {
    const CFTPVI* item = index.isValid() ? Item(index.row()) : nullptr;
    if (item == nullptr) {
        return Qt::NoItemFlags;
    }
    Qt::ItemFlags flags =
        Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemNeverHasChildren | Qt::ItemIsDropEnabled;
    if (item->CanCutCopy()) {
        flags |= Qt::ItemIsDragEnabled;
        if (index.column() == COL_NAME) {
            flags |= Qt::ItemIsEditable;
        }
    }
    return flags;
}

QStringList CFolderContentModel::mimeTypes() const {
    return {QString::fromLatin1(CFolderTreeModel::kRowsMime),
            QString::fromLatin1(CFolderTreeModel::kNodeMime), QStringLiteral("text/uri-list")};
}

QMimeData* CFolderContentModel::mimeData(const QModelIndexList& indexes) const {
    if (indexes.isEmpty()) {
        return nullptr;
    }
    auto* data = new QMimeData;
    data->setData(QString::fromLatin1(CFolderTreeModel::kRowsMime), QByteArray());
    return data;
}

Qt::DropActions CFolderContentModel::supportedDropActions() const {
    return Qt::CopyAction | Qt::MoveAction;
}

Qt::DropActions CFolderContentModel::supportedDragActions() const {
    return Qt::CopyAction | Qt::MoveAction;
}

bool CFolderContentModel::canDropMimeData(const QMimeData* data, Qt::DropAction, int row, int,
                                          const QModelIndex& parent) const {
    // On a row (parent) or on the list's free space (no parent, no row).
    const int target = parent.isValid() ? parent.row() : -1;
    if (data == nullptr || !canDrop || (!parent.isValid() && row != -1)) {
        return false;
    }
    return canDrop(data, target);
}

bool CFolderContentModel::dropMimeData(const QMimeData* data, Qt::DropAction action, int row,
                                       int column, const QModelIndex& parent) {
    if (!canDropMimeData(data, action, row, column, parent) || !onDrop) {
        return false;
    }
    onDrop(data, parent.isValid() ? parent.row() : -1);
    // What happens to the source is decided by the drop menu, never by the
    // view.
    return false;
}

bool CFolderContentModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (role != Qt::EditRole || index.column() != COL_NAME || ItemOf(index) == nullptr ||
        !onRename) {
        return false;
    }
    return onRename(index.row(), value.toString());
}

// ---- Filling -------------------------------------------------------------------

std::vector<std::unique_ptr<CFTPVI>> CFolderContentModel::ReadLocalFolder(const std::string& path) {
    std::vector<std::unique_ptr<CFTPVI>> items;
    const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        return items;
    }
    DIR* dir = ::fdopendir(fd);
    if (dir == nullptr) {
        ::close(fd);
        return items;
    }
    while (const dirent* entry = ::readdir(dir)) {
        const char* name = entry->d_name;
        if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) {
            continue;
        }
        struct stat info {};
        // A link counts as what it points to; a broken one as itself.
        if (::fstatat(fd, name, &info, 0) != 0 &&
            ::fstatat(fd, name, &info, AT_SYMLINK_NOFOLLOW) != 0) {
            continue;
        }
        const bool folder = S_ISDIR(info.st_mode);
        items.push_back(std::make_unique<CFTPVI>(folder ? VI_LOCALFOLDER : VI_LOCALFILE,
                                                 std::string(name), info.st_mtime,
                                                 static_cast<FileSize>(info.st_size)));
    }
    ::closedir(dir);
    return items;
}

std::vector<std::unique_ptr<CFTPVI>> CFolderContentModel::CopyNodeContent(const CFTPVI& node) {
    std::vector<std::unique_ptr<CFTPVI>> items;
    const CFTPVIArray* files = node.GetChildren();
    items.reserve(node.m_nodes.size() + (files != nullptr ? files->GetSize() : 0));
    auto copy = [&](const CFTPVI& source) {
        if (source.IsDrive()) {
            items.push_back(
                std::make_unique<CFTPVIDriveRow>(static_cast<const CFTPVILocalDrive&>(source)));
            return;
        }
        auto item = std::make_unique<CFTPVI>(source.GetKind(), source.GetName(), source.GetTime(),
                                             source.GetSize());
        item->SetState(source.GetState() & (VIF_CHILDREN | VIF_CONNECTED));
        if (source.Has(VIF_EXPLORED)) {
            item->SetState(VIF_EXPLORED);
        }
        item->SetLinkText(source.GetLinkText());
        item->SetMark(source.GetMark());
        items.push_back(std::move(item));
    };
    for (const auto& child : node.m_nodes) {
        copy(*child);
    }
    if (files != nullptr) {
        for (const auto& file : files->Items()) {
            copy(*file);
        }
    }
    return items;
}

void CFolderContentModel::Reset(std::vector<std::unique_ptr<CFTPVI>> items, bool local,
                                std::string folderPath) {
    std::vector<Row> rows;
    rows.reserve(items.size());
    for (auto& item : items) {
        std::string key = FoldedKey(item->GetName());
        rows.push_back(Row{std::move(item), std::move(key)});
    }
    SortRows(rows);
    beginResetModel();
    m_rows = std::move(rows);
    m_bLocal = local;
    m_strFolder = std::move(folderPath);
    endResetModel();
}

void CFolderContentModel::Clear() {
    Reset({});
}

// ---- Rows ------------------------------------------------------------------------

int CFolderContentModel::RowOf(const std::string& name) const {
    for (std::size_t i = 0; i < m_rows.size(); ++i) {
        if (m_rows[i].item->GetName() == name) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

int CFolderContentModel::RowNamedNoCase(const std::string& name, int except) const {
    const std::string key = FoldedKey(name);
    for (std::size_t i = 0; i < m_rows.size(); ++i) {
        if (static_cast<int>(i) != except && m_rows[i].key == key) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

void CFolderContentModel::Renamed(int row, std::string name) {
    if (Item(row) == nullptr) {
        return;
    }
    Row& r = m_rows[static_cast<std::size_t>(row)];
    r.key = FoldedKey(name);
    r.item->SetName(std::move(name));
    Q_EMIT dataChanged(index(row, 0), index(row, COL_COUNT - 1));
}

void CFolderContentModel::SetCut(int row, bool cut) {
    if (Item(row) == nullptr || m_rows[static_cast<std::size_t>(row)].cut == cut) {
        return;
    }
    m_rows[static_cast<std::size_t>(row)].cut = cut;
    Q_EMIT dataChanged(index(row, COL_NAME), index(row, COL_NAME), {Qt::DecorationRole});
}

bool CFolderContentModel::IsCut(int row) const {
    return Item(row) != nullptr && m_rows[static_cast<std::size_t>(row)].cut;
}

void CFolderContentModel::ClearCut() {
    for (int row = 0; row < rowCount(); ++row) {
        SetCut(row, false);
    }
}

// ---- Sorting -----------------------------------------------------------------------

std::string CFolderContentModel::FoldedKey(const std::string& name) {
    std::string key(name);
    bool ascii = true;
    for (char& c : key) {
        const auto u = static_cast<unsigned char>(c);
        if (u >= 0x80) {
            ascii = false;
            break;
        }
        if (u >= 'A' && u <= 'Z') {
            c = static_cast<char>(u - 'A' + 'a');
        }
    }
    if (ascii) {
        return key;
    }
    // Letters beyond ASCII fold by their Unicode case (bytes that are not
    // UTF-8 become replacement characters here, which is good enough for
    // an order).
    const QByteArray folded =
        QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size())).toCaseFolded().toUtf8();
    return std::string(folded.constData(), static_cast<std::size_t>(folded.size()));
}

namespace {

int Sign(int value) {
    return value < 0 ? -1 : (value > 0 ? 1 : 0);
}

template <typename T>
int Order(const T& a, const T& b) {
    return a < b ? -1 : (b < a ? 1 : 0);
}

// What the order looks at, gathered once per row so that a sort runs over
// small contiguous records.
struct SortFacts {
    int drive = -1; // the drive's index, -1 for other items
    std::uint16_t kind = 0;
    std::time_t time = 0;
    FileSize size = 0;
    const std::string* key = nullptr;
    const std::string* name = nullptr;
};

SortFacts FactsOf(const CFTPVI& item, const std::string& key) {
    SortFacts facts;
    if (item.IsDrive()) {
        if (const auto* row = dynamic_cast<const CFTPVIDriveRow*>(&item)) {
            facts.drive = row->GetIndex();
        } else if (const auto* drive = dynamic_cast<const CFTPVILocalDrive*>(&item)) {
            facts.drive = drive->GetIndex();
        }
    }
    facts.kind = item.GetKind();
    facts.time = item.GetTime();
    facts.size = item.GetSize();
    facts.key = &key;
    facts.name = &item.GetName();
    return facts;
}

int CompareFacts(const SortFacts& a, const SortFacts& b, std::uint16_t sortKey) {
    if (a.drive >= 0 && b.drive >= 0) {
        return Order(a.drive, b.drive);
    }
    int result = Order(a.kind, b.kind);
    if (result == 0) {
        switch (sortKey & 0x3) {
        case CFolderContentModel::COL_MODIFIED:
            result = Order(a.time, b.time);
            break;
        case CFolderContentModel::COL_SIZE:
            result = Order(a.size, b.size);
            break;
        default:
            break;
        }
    }
    // Equal ranks go by name, so that the order does not depend on how
    // the rows came in.
    if (result == 0) {
        result = Sign(a.key->compare(*b.key));
    }
    if (result == 0) {
        result = Sign(a.name->compare(*b.name));
    }
    return (sortKey & CFolderContentModel::kSortDescending) != 0 ? -result : result;
}

} // namespace

int CFolderContentModel::Compare(const CFTPVI& a, const CFTPVI& b, std::uint16_t key) {
    const std::string keyA = FoldedKey(a.GetName());
    const std::string keyB = FoldedKey(b.GetName());
    return CompareFacts(FactsOf(a, keyA), FactsOf(b, keyB), key);
}

std::vector<int> CFolderContentModel::SortedOrder(const std::vector<Row>& rows, std::uint16_t key) {
    std::vector<std::pair<SortFacts, int>> entries;
    entries.reserve(rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        entries.emplace_back(FactsOf(*rows[i].item, rows[i].key), static_cast<int>(i));
    }
    std::stable_sort(entries.begin(), entries.end(), [key](const auto& a, const auto& b) {
        return CompareFacts(a.first, b.first, key) < 0;
    });
    std::vector<int> order;
    order.reserve(entries.size());
    for (const auto& entry : entries) {
        order.push_back(entry.second);
    }
    return order;
}

void CFolderContentModel::SortRows(std::vector<Row>& rows) const {
    const std::vector<int> order = SortedOrder(rows, m_wSortKey);
    std::vector<Row> sorted;
    sorted.reserve(rows.size());
    for (int from : order) {
        sorted.push_back(std::move(rows[static_cast<std::size_t>(from)]));
    }
    rows = std::move(sorted);
}

void CFolderContentModel::Sort(std::uint16_t key) {
    m_wSortKey = key;
    if (m_rows.size() < 2) {
        return;
    }
    Q_EMIT layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    const std::vector<int> order = SortedOrder(m_rows, key);
    std::vector<int> newRow(m_rows.size());
    std::vector<Row> sorted;
    sorted.reserve(m_rows.size());
    for (std::size_t i = 0; i < order.size(); ++i) {
        newRow[static_cast<std::size_t>(order[i])] = static_cast<int>(i);
        sorted.push_back(std::move(m_rows[static_cast<std::size_t>(order[i])]));
    }
    m_rows = std::move(sorted);
    const QModelIndexList from = persistentIndexList();
    QModelIndexList to;
    to.reserve(from.size());
    for (const QModelIndex& old : from) {
        to.append(index(newRow[static_cast<std::size_t>(old.row())], old.column()));
    }
    changePersistentIndexList(from, to);
    Q_EMIT layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

} // namespace qb::ui
