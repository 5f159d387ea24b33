#include "folder_model.h"

#include "engine/ftp_file.h"
#include "icons.h"
#include "profile/profile.h"

#include <QApplication>
#include <QMimeData>
#include <QPainter>
#include <QStyle>
#include <algorithm>
#include <dirent.h>
#include <sys/stat.h>
#include <unordered_map>

namespace qb::ui {

namespace {

CFTPVI* Ptr(const QModelIndex& index) {
    return static_cast<CFTPVI*>(index.internalPointer());
}

std::string LastElement(const CFTPFile& file) {
    const std::string_view name = file.m_strName.view();
    const std::size_t slash = name.rfind('/');
    return std::string(slash == std::string_view::npos ? name : name.substr(slash + 1));
}

} // namespace

CFolderTreeModel::CFolderTreeModel(CFTPProfile* profile, std::vector<MountInfo> mounts,
                                   QObject* parent)
    : QAbstractItemModel(parent), m_pProfile(profile), m_mounts(std::move(mounts)) {
    LoadImages();
    auto root = std::make_unique<CFTPVI>(VI_ROOT, "Quillbeck", std::time(nullptr), 0);
    root->m_pParent = &m_top;
    m_top.m_nodes.push_back(std::move(root));
    m_top.SetState(VIF_EXPLORED);
    BuildRoot();
}

CFolderTreeModel::~CFolderTreeModel() = default;

void CFolderTreeModel::LoadImages() {
    static const IconSource sources[IMG_COUNT] = {
        {{}, QStringLiteral("computer"), QStyle::SP_ComputerIcon},
        {{}, QStringLiteral("media-flash"), QStyle::SP_DriveHDIcon},
        {{}, QStringLiteral("drive-harddisk"), QStyle::SP_DriveHDIcon},
        {{}, QStringLiteral("media-floppy"), QStyle::SP_DriveFDIcon},
        {{}, QStringLiteral("drive-harddisk"), QStyle::SP_DriveHDIcon},
        {{}, QStringLiteral("media-optical"), QStyle::SP_DriveCDIcon},
        {{}, QStringLiteral("drive-removable-media"), QStyle::SP_DriveFDIcon},
        {{}, QStringLiteral("network-workgroup"), QStyle::SP_DriveNetIcon},
        {{}, QStringLiteral("folder"), QStyle::SP_DirIcon},
        {{}, QStringLiteral("folder"), QStyle::SP_DirClosedIcon},
        {{}, QStringLiteral("folder-open"), QStyle::SP_DirOpenIcon},
        {{}, QStringLiteral("text-x-generic"), QStyle::SP_FileIcon},
        {{}, QStringLiteral("text-x-generic"), QStyle::SP_FileIcon},
        {{}, QStringLiteral("text-x-generic"), QStyle::SP_FileIcon},
        {{}, QStringLiteral("folder-bookmark"), QStyle::SP_DirIcon},
        {{}, QStringLiteral("network-server"), QStyle::SP_DriveNetIcon},
        {{}, QStringLiteral("network-offline"), QStyle::SP_DriveNetIcon},
        {{}, QStringLiteral("folder-remote"), QStyle::SP_DirClosedIcon},
        {{}, QStringLiteral("folder-remote"), QStyle::SP_DirOpenIcon},
        {{}, QStringLiteral("folder-remote"), QStyle::SP_DirClosedIcon},
        {{}, QStringLiteral("folder-remote"), QStyle::SP_DirOpenIcon},
        {{}, QStringLiteral("folder-link"), QStyle::SP_DirLinkIcon},
        {{}, QStringLiteral("folder-link"), QStyle::SP_DirLinkOpenIcon},
        {{}, QStringLiteral("folder-link"), QStyle::SP_DirLinkIcon},
        {{}, QStringLiteral("folder-link"), QStyle::SP_DirLinkOpenIcon},
        {{}, QStringLiteral("text-x-generic"), QStyle::SP_FileIcon},
        {{}, QStringLiteral("emblem-synchronizing"), QStyle::SP_BrowserReload},
        {{}, QStringLiteral("emblem-symbolic-link"), QStyle::SP_FileLinkIcon},
    };
    const QStyle& style = *QApplication::style();
    for (int i = 0; i < IMG_COUNT; ++i) {
        m_images[static_cast<std::size_t>(i)] = CIconSet::Load(sources[i], style);
    }
    const QPixmap overlay = m_images[IMG_WORKING_OVERLAY].pixmap(10, 10);
    for (int i = 0; i < IMG_COUNT; ++i) {
        QPixmap base = m_images[static_cast<std::size_t>(i)].pixmap(16, 16);
        QPainter painter(&base);
        painter.drawPixmap(6, 6, overlay);
        painter.end();
        m_working[static_cast<std::size_t>(i)] = QIcon(base);
    }
}

const QIcon& CFolderTreeModel::Image(int image, bool working) const {
    const auto i = static_cast<std::size_t>(std::clamp(image, 0, IMG_COUNT - 1));
    return working ? m_working[i] : m_images[i];
}

QString CFolderTreeModel::ShownName(const std::string& name) {
    QString text = QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size()));
    for (QChar& c : text) {
        if (c.unicode() < 0x20) {
            c = QChar(0x2400 + c.unicode()); // the control pictures
        } else if (c.unicode() == 0x7F) {
            c = QChar(0x2421);
        }
    }
    if (text.size() > kMaxShownName) {
        const qsizetype half = kMaxShownName / 2;
        text = text.left(half) + QChar(0x2026) + text.right(half);
    }
    return text;
}

// ---- QAbstractItemModel ------------------------------------------------------

CFTPVI* CFolderTreeModel::NodeOf(const QModelIndex& index) const {
    return index.isValid() ? Ptr(index) : nullptr;
}

QModelIndex CFolderTreeModel::IndexOf(const CFTPVI* node) const {
    if (node == nullptr || node == &m_top) {
        return {};
    }
    return createIndex(node->m_nRow, 0, const_cast<CFTPVI*>(node));
}

QModelIndex CFolderTreeModel::index(int row, int column, const QModelIndex& parent) const {
    const CFTPVI* p = parent.isValid() ? Ptr(parent) : &m_top;
    if (column != 0 || row < 0 || static_cast<std::size_t>(row) >= p->m_nodes.size()) {
        return {};
    }
    return createIndex(row, 0, p->m_nodes[static_cast<std::size_t>(row)].get());
}

QModelIndex CFolderTreeModel::parent(const QModelIndex& child) const {
    if (!child.isValid()) {
        return {};
    }
    return IndexOf(Ptr(child)->m_pParent);
}

int CFolderTreeModel::rowCount(const QModelIndex& parent) const {
    if (parent.column() > 0) {
        return 0;
    }
    const CFTPVI* p = parent.isValid() ? Ptr(parent) : &m_top;
    return static_cast<int>(p->m_nodes.size());
}

int CFolderTreeModel::columnCount(const QModelIndex&) const {
    return 1;
}

QVariant CFolderTreeModel::data(const QModelIndex& index, int role) const {
    const CFTPVI* node = NodeOf(index);
    if (node == nullptr) {
        return {};
    }
    switch (role) {
    case Qt::DisplayRole:
        return ShownName(node->GetName());
    case Qt::EditRole:
        return QString::fromUtf8(node->GetName().c_str());
    case Qt::ToolTipRole:
        return node->GetName().size() > static_cast<std::size_t>(kMaxShownName)
                   ? QVariant(QString::fromUtf8(node->GetName().c_str()))
                   : QVariant();
    case Qt::DecorationRole: {
        const int image = node->Image(false);
        if (image < 0) {
            return {};
        }
        QIcon icon = Image(image, node->GetMark() != MARK_NONE);
        if (node == m_pCutNode) {
            return CutIcon(icon);
        }
        const int selected = node->Image(true);
        if (selected != image && node->GetMark() == MARK_NONE) {
            QIcon both;
            both.addPixmap(Image(image, false).pixmap(16, 16), QIcon::Normal);
            both.addPixmap(Image(selected, false).pixmap(16, 16), QIcon::Selected);
            return both;
        }
        return icon;
    }
    default:
        return {};
    }
}

bool CFolderTreeModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    CFTPVI* node = NodeOf(index);
    if (node == nullptr || role != Qt::EditRole || !onRename) {
        return false;
    }
    return onRename(node, value.toString());
}

Qt::ItemFlags CFolderTreeModel::flags(const QModelIndex& index) const {
    const CFTPVI* node = NodeOf(index);
    if (node == nullptr) {
        return Qt::NoItemFlags;
    }
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDropEnabled;
    if (node->CanCutCopy()) {
        f |= Qt::ItemIsEditable | Qt::ItemIsDragEnabled;
    }
    return f;
}

bool CFolderTreeModel::hasChildren(const QModelIndex& parent) const {
    const CFTPVI* node = parent.isValid() ? Ptr(parent) : &m_top;
    if (parent.column() > 0) {
        return false;
    }
    if (node->Has(VIF_CHILDREN)) {
        return !node->m_nodes.empty();
    }
    switch (node->GetKind()) {
    case VI_SITEFOLDER: {
        const CFTPSiteFolder* folder = ModelFolder(node);
        return folder != nullptr &&
               !(folder->GetSiteFolders().empty() && folder->GetSites().empty());
    }
    case VI_ROOT:
    case VI_SITE:
    case VI_LOCALFOLDER:
    case VI_REMOTEFOLDER:
        return true;
    default:
        return node->IsDrive();
    }
}

bool CFolderTreeModel::canFetchMore(const QModelIndex& parent) const {
    const CFTPVI* node = NodeOf(parent);
    return node != nullptr && !node->Has(VIF_CHILDREN) &&
           (node->IsLocalContainer() || node->GetKind() == VI_SITEFOLDER);
}

void CFolderTreeModel::fetchMore(const QModelIndex& parent) {
    if (canFetchMore(parent)) {
        ExploreLocal(NodeOf(parent));
    }
}

QStringList CFolderTreeModel::mimeTypes() const {
    return {QString::fromLatin1(kNodeMime), QString::fromLatin1(kRowsMime),
            QStringLiteral("text/uri-list")};
}

QMimeData* CFolderTreeModel::mimeData(const QModelIndexList& indexes) const {
    if (indexes.size() != 1 || NodeOf(indexes.front()) == nullptr) {
        return nullptr;
    }
    auto* data = new QMimeData;
    data->setData(QString::fromLatin1(kNodeMime),
                  QByteArray::fromStdString(NodePath(NodeOf(indexes.front()))));
    return data;
}

Qt::DropActions CFolderTreeModel::supportedDropActions() const {
    return Qt::CopyAction | Qt::MoveAction;
}

Qt::DropActions CFolderTreeModel::supportedDragActions() const {
    return Qt::CopyAction | Qt::MoveAction;
}

bool CFolderTreeModel::canDropMimeData(const QMimeData* data, Qt::DropAction, int row, int,
                                       const QModelIndex& parent) const {
    CFTPVI* target = NodeOf(parent);
    return row == -1 && target != nullptr && data != nullptr && canDrop && canDrop(data, target);
}

bool CFolderTreeModel::dropMimeData(const QMimeData* data, Qt::DropAction action, int row,
                                    int column, const QModelIndex& parent) {
    if (!canDropMimeData(data, action, row, column, parent) || !onDrop) {
        return false;
    }
    onDrop(data, NodeOf(parent));
    // What happens to the source is decided here, never by the view.
    return false;
}

// ---- Paths -------------------------------------------------------------------

std::string CFolderTreeModel::NodePath(const CFTPVI* node) const {
    if (node == nullptr || node->GetKind() == VI_ROOT || node == &m_top) {
        return {};
    }
    if (node->IsDrive()) {
        return static_cast<const CFTPVILocalDrive*>(node)->GetRootPath();
    }
    std::string parent = NodePath(node->m_pParent);
    if (!parent.empty() && parent.back() != '/') {
        parent.push_back('/');
    }
    return parent + node->GetName();
}

std::string CFolderTreeModel::LocalPath(const CFTPVI* node) const {
    return NodePath(node);
}

CFTPVI* CFolderTreeModel::SiteOf(CFTPVI* node) const {
    while (node != nullptr && node != &m_top) {
        if (node->GetKind() == VI_SITE) {
            return node;
        }
        if (node->GetKind() != VI_REMOTEFOLDER) {
            return nullptr;
        }
        node = node->m_pParent;
    }
    return nullptr;
}

std::string CFolderTreeModel::RemotePath(const CFTPVI* node) const {
    std::string path;
    while (node != nullptr && node->GetKind() == VI_REMOTEFOLDER) {
        path = path.empty() ? node->GetName() : node->GetName() + "/" + path;
        node = node->m_pParent;
    }
    return path;
}

CFTPSiteFolder* CFolderTreeModel::ModelFolder(const CFTPVI* node) const {
    if (m_pProfile == nullptr || node == nullptr) {
        return nullptr;
    }
    if (node->GetKind() == VI_ROOT) {
        return m_pProfile;
    }
    if (node->GetKind() != VI_SITEFOLDER) {
        return nullptr;
    }
    return m_pProfile->FindSiteFolder(NodePath(node));
}

CFTPVI* CFolderTreeModel::Child(const CFTPVI* parent, const std::string& name) const {
    if (parent == nullptr) {
        return nullptr;
    }
    for (const auto& child : parent->m_nodes) {
        if (child->GetName() == name) {
            return child.get();
        }
    }
    return nullptr;
}

bool CFolderTreeModel::IsAncestor(const CFTPVI* ancestor, const CFTPVI* node) const {
    for (; node != nullptr; node = node->m_pParent) {
        if (node == ancestor) {
            return true;
        }
    }
    return false;
}

// ---- Changes -----------------------------------------------------------------

void CFolderTreeModel::Renumber(CFTPVI* parent, std::size_t from) {
    for (std::size_t i = from; i < parent->m_nodes.size(); ++i) {
        parent->m_nodes[i]->m_nRow = static_cast<int>(i);
        parent->m_nodes[i]->m_pParent = parent;
    }
}

void CFolderTreeModel::InsertNodes(CFTPVI* parent, std::vector<std::unique_ptr<CFTPVI>> nodes) {
    parent->SetState(VIF_CHILDREN);
    if (nodes.empty()) {
        return;
    }
    auto& children = parent->m_nodes;
    const std::size_t first = children.size();
    const bool wasEmpty = children.empty();
    if (wasEmpty) {
        std::sort(nodes.begin(), nodes.end(),
                  [](const auto& a, const auto& b) { return SiblingLess(*a, *b); });
    }
    beginInsertRows(IndexOf(parent), static_cast<int>(first),
                    static_cast<int>(first + nodes.size() - 1));
    children.reserve(first + nodes.size());
    std::move(nodes.begin(), nodes.end(), std::back_inserter(children));
    Renumber(parent, first);
    endInsertRows();
    if (!wasEmpty) {
        SortChildren(parent);
    }
}

CFTPVI* CFolderTreeModel::InsertNode(CFTPVI* parent, std::unique_ptr<CFTPVI> node) {
    CFTPVI* raw = node.get();
    std::vector<std::unique_ptr<CFTPVI>> one;
    one.push_back(std::move(node));
    InsertNodes(parent, std::move(one));
    return raw;
}

void CFolderTreeModel::SortChildren(CFTPVI* parent) {
    auto& children = parent->m_nodes;
    auto less = [](const auto& a, const auto& b) { return SiblingLess(*a, *b); };
    if (std::is_sorted(children.begin(), children.end(), less)) {
        return;
    }
    const QModelIndex parentIndex = IndexOf(parent);
    Q_EMIT layoutAboutToBeChanged({QPersistentModelIndex(parentIndex)},
                                  QAbstractItemModel::VerticalSortHint);
    const QModelIndexList persistent = persistentIndexList();
    std::vector<std::pair<QModelIndex, CFTPVI*>> moved;
    for (const QModelIndex& index : persistent) {
        if (index.isValid() && Ptr(index)->m_pParent == parent) {
            moved.emplace_back(index, Ptr(index));
        }
    }
    std::stable_sort(children.begin(), children.end(), less);
    Renumber(parent);
    for (const auto& [old, node] : moved) {
        changePersistentIndex(old, createIndex(node->m_nRow, old.column(), node));
    }
    Q_EMIT layoutChanged({QPersistentModelIndex(parentIndex)},
                         QAbstractItemModel::VerticalSortHint);
}

void CFolderTreeModel::Forget(CFTPVI* node) {
    if (node == m_pCutNode) {
        m_pCutNode = nullptr;
    }
    if (onRemoving) {
        onRemoving(node);
    }
    for (auto& child : node->m_nodes) {
        Forget(child.get());
    }
}

void CFolderTreeModel::SetCutNode(const CFTPVI* node) {
    const CFTPVI* before = m_pCutNode;
    m_pCutNode = node;
    if (before != nullptr) {
        Changed(before);
    }
    if (node != nullptr) {
        Changed(node);
    }
}

void CFolderTreeModel::RemoveNode(CFTPVI* node) {
    CFTPVI* parent = node->m_pParent;
    if (parent == nullptr || parent == &m_top) {
        return; // the root stays
    }
    const int row = node->m_nRow;
    Forget(node);
    beginRemoveRows(IndexOf(parent), row, row);
    parent->m_nodes.erase(parent->m_nodes.begin() + row);
    Renumber(parent, static_cast<std::size_t>(row));
    endRemoveRows();
}

void CFolderTreeModel::RemoveChildren(CFTPVI* node) {
    if (node->m_nodes.empty()) {
        return;
    }
    for (auto& child : node->m_nodes) {
        Forget(child.get());
    }
    beginRemoveRows(IndexOf(node), 0, static_cast<int>(node->m_nodes.size() - 1));
    node->m_nodes.clear();
    endRemoveRows();
}

void CFolderTreeModel::Changed(const CFTPVI* node) {
    const QModelIndex index = IndexOf(node);
    if (index.isValid()) {
        Q_EMIT dataChanged(index, index);
    }
}

void CFolderTreeModel::ResetToPlaceholder(CFTPVI* node) {
    RemoveChildren(node);
    node->RemoveAllChildren();
    node->ClearState(VIF_CONNECTED | VIF_CHILDREN);
    node->SetMark(MARK_NONE);
    Changed(node);
}

// ---- Exploring -----------------------------------------------------------------

void CFolderTreeModel::BuildRoot() {
    CFTPVI* root = Root();
    if (root->Has(VIF_EXPLORED)) {
        return;
    }
    std::vector<std::unique_ptr<CFTPVI>> nodes;
    int index = 0;
    for (const MountInfo& mount : m_mounts) {
        nodes.push_back(std::make_unique<CFTPVILocalDrive>(index++, mount));
    }
    if (m_pProfile != nullptr) {
        for (const auto& folder : m_pProfile->GetSiteFolders()) {
            nodes.push_back(std::make_unique<CFTPVI>(VI_SITEFOLDER, folder->GetLabel(),
                                                     folder->m_timeCreated, 0));
        }
        for (const auto& site : m_pProfile->GetSites()) {
            nodes.push_back(
                std::make_unique<CFTPVI>(VI_SITE, site->GetLabel(), site->m_timeCreated, 0));
        }
    }
    InsertNodes(root, std::move(nodes));
    root->SetState(VIF_EXPLORED);
}

bool CFolderTreeModel::ExploreLocal(CFTPVI* node) {
    if (node == nullptr) {
        return false;
    }
    switch (node->GetKind()) {
    case VI_ROOT:
        BuildRoot();
        return true;
    case VI_SITEFOLDER: {
        if (!node->Has(VIF_CHILDREN)) {
            const CFTPSiteFolder* folder = ModelFolder(node);
            if (folder == nullptr) {
                return false;
            }
            std::vector<std::unique_ptr<CFTPVI>> nodes;
            nodes.reserve(folder->GetSiteFolders().size() + folder->GetSites().size());
            for (const auto& sub : folder->GetSiteFolders()) {
                nodes.push_back(std::make_unique<CFTPVI>(VI_SITEFOLDER, sub->GetLabel(),
                                                         sub->m_timeCreated, 0));
            }
            for (const auto& site : folder->GetSites()) {
                nodes.push_back(
                    std::make_unique<CFTPVI>(VI_SITE, site->GetLabel(), site->m_timeCreated, 0));
            }
            InsertNodes(node, std::move(nodes));
        }
        node->SetState(VIF_EXPLORED);
        return true;
    }
    case VI_LOCALFOLDER:
        return ListLocal(node);
    default:
        if (node->IsDrive()) {
            static_cast<CFTPVILocalDrive*>(node)->RefreshVolume(true);
            Changed(node);
            return ListLocal(node);
        }
        return false;
    }
}

bool CFolderTreeModel::ListLocal(CFTPVI* node) {
    const std::string path = LocalPath(node);
    DIR* dir = ::opendir(path.c_str());
    if (dir == nullptr) {
        node->SetState(VIF_CHILDREN); // nothing to show: no expand button
        Changed(node);
        return false;
    }
    std::unordered_map<std::string, std::time_t> found;
    const int fd = ::dirfd(dir);
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..") {
            continue;
        }
        struct stat info {};
        if (entry->d_type != DT_DIR && entry->d_type != DT_LNK && entry->d_type != DT_UNKNOWN) {
            continue;
        }
        if (::fstatat(fd, entry->d_name, &info, 0) != 0 || !S_ISDIR(info.st_mode)) {
            continue;
        }
        found.emplace(name, info.st_mtime);
    }
    ::closedir(dir);
    // Nodes no longer there go (from the back, so rows stay valid).
    for (std::size_t i = node->m_nodes.size(); i-- > 0;) {
        CFTPVI* child = node->m_nodes[i].get();
        auto it = found.find(child->GetName());
        if (it == found.end()) {
            RemoveNode(child);
        } else {
            child->SetTime(it->second);
            found.erase(it);
        }
    }
    std::vector<std::unique_ptr<CFTPVI>> nodes;
    nodes.reserve(found.size());
    for (auto& [name, time] : found) {
        nodes.push_back(std::make_unique<CFTPVI>(VI_LOCALFOLDER, name, time, 0));
    }
    InsertNodes(node, std::move(nodes));
    node->SetState(VIF_EXPLORED);
    return true;
}

void CFolderTreeModel::MergeListing(CFTPVI* node, const CFTPFolderContent& content) {
    const CFTPFileArray& folders = content.GetFolders();
    std::unordered_map<std::string, const CFTPFile*> listed;
    listed.reserve(folders.GetSize());
    for (std::size_t i = 0; i < folders.GetSize(); ++i) {
        const CFTPFile* folder = folders.GetAt(i);
        std::string name = LastElement(*folder);
        if (name.empty() || name == "." || name == "..") {
            continue;
        }
        listed.emplace(std::move(name), folder);
    }
    // Folder nodes that are listed stay; runs of the others go.
    auto& children = node->m_nodes;
    for (std::size_t end = children.size(); end > 0;) {
        CFTPVI* child = children[end - 1].get();
        auto it = listed.find(child->GetName());
        if (it != listed.end()) {
            child->SetSize(it->second->m_nSize);
            child->SetTime(it->second->m_time);
            child->SetLinkText(it->second->m_strLink.str());
            listed.erase(it);
            --end;
            continue;
        }
        std::size_t begin = end - 1;
        while (begin > 0 && listed.find(children[begin - 1]->GetName()) == listed.end()) {
            --begin;
        }
        for (std::size_t i = begin; i < end; ++i) {
            Forget(children[i].get());
        }
        beginRemoveRows(IndexOf(node), static_cast<int>(begin), static_cast<int>(end - 1));
        children.erase(children.begin() + static_cast<std::ptrdiff_t>(begin),
                       children.begin() + static_cast<std::ptrdiff_t>(end));
        Renumber(node, begin);
        endRemoveRows();
        end = begin;
    }
    if (!children.empty()) {
        Q_EMIT dataChanged(IndexOf(children.front().get()), IndexOf(children.back().get()));
    }
    std::vector<std::unique_ptr<CFTPVI>> nodes;
    nodes.reserve(listed.size());
    for (std::size_t i = 0; i < folders.GetSize(); ++i) {
        const CFTPFile* folder = folders.GetAt(i);
        auto it = listed.find(LastElement(*folder));
        if (it == listed.end() || it->second != folder) {
            continue;
        }
        auto item =
            std::make_unique<CFTPVI>(VI_REMOTEFOLDER, it->first, folder->m_time, folder->m_nSize);
        item->SetLinkText(folder->m_strLink.str());
        nodes.push_back(std::move(item));
    }
    InsertNodes(node, std::move(nodes));
    // The files: the listing's, by name.
    node->RemoveAllChildren();
    const CFTPFileArray& files = content.GetFiles();
    for (std::size_t i = 0; i < files.GetSize(); ++i) {
        const CFTPFile* file = files.GetAt(i);
        auto item = std::make_unique<CFTPVI>(VI_REMOTEFILE, LastElement(*file), file->m_time,
                                             file->m_nSize);
        item->SetLinkText(file->m_strLink.str());
        node->AddChild(std::move(item), false);
    }
    node->SetState(VIF_EXPLORED);
    Changed(node);
}

} // namespace qb::ui
