#include "content_view.h"

#include "app/names.h"
#include "app/session.h"
#include "folder_view.h"
#include "main_frame.h"
#include "platform/local_file.h"
#include "platform/questions.h"
#include "profile/profile.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QCursor>
#include <QDesktopServices>
#include <QFile>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QStackedLayout>
#include <QTimer>
#include <QTreeView>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unordered_set>

namespace qb::ui {

namespace {

QString Q(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// The name rules' messages go to the prompter.
class CContentQuestions : public IQuestions {
public:
    CContentQuestions(IPrompter& prompter, QWidget* parent)
        : m_prompter(prompter), m_parent(parent) {}
    int MessageBox(const std::string& text, unsigned style) override {
        return m_prompter.Message(m_parent, Q(text), style);
    }

private:
    IPrompter& m_prompter;
    QWidget* m_parent;
};

// Renames without replacing an item that appeared meanwhile.
bool RenameNoReplace(const std::string& from, const std::string& to) {
#ifdef RENAME_NOREPLACE
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
        return true;
    }
    if (errno != EINVAL && errno != ENOSYS) {
        return false;
    }
#endif
    struct stat info {};
    if (::lstat(to.c_str(), &info) == 0) {
        return false;
    }
    return std::rename(from.c_str(), to.c_str()) == 0;
}

std::string JoinPath(const std::string& folder, const std::string& name) {
    if (!folder.empty() && folder.back() == '/') {
        return folder + name;
    }
    return folder + "/" + name;
}

// The column's width: the set width, widened so that a date in the
// locale's long form and a size of tens of gigabytes are read whole in the
// view's font.
int ColumnWidth(const QFontMetrics& metrics, int column) {
    const int set = CFolderContentModel::kColumnWidth[column];
    const int margin = 2 * metrics.averageCharWidth();
    switch (column) {
    case CFolderContentModel::COL_MODIFIED: {
        CFTPVI sample(VI_LOCALFILE, "x", 1798761599, 0); // late in December, late in the day
        return std::max(set, metrics.horizontalAdvance(QString::fromStdString(sample.TimeText())) +
                                 margin);
    }
    case CFolderContentModel::COL_SIZE:
        return std::max(set, metrics.horizontalAdvance(QStringLiteral("99,999,999,999")) + margin);
    default:
        return set;
    }
}

// What the two views share: they hand keys, double clicks, label editing
// and the empty list's hint to the pane.
template <class Base>
class CContentItemView : public Base {
public:
    CContentItemView(CFolderContentView& owner, QWidget* parent) : Base(parent), m_owner(owner) {}

protected:
    bool edit(const QModelIndex& index, QAbstractItemView::EditTrigger trigger,
              QEvent* event) override {
        if (!m_owner.BeginEdit(index) || !Base::edit(index, trigger, event)) {
            return false;
        }
        m_owner.EditStarted();
        return true;
    }
    void closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint) override {
        Base::closeEditor(editor, hint);
        m_owner.EndEdit();
    }
    void keyPressEvent(QKeyEvent* event) override {
        if (!m_owner.ViewKey(event)) {
            Base::keyPressEvent(event);
        }
    }
    // While an operation runs, the rows keep their selection.
    QItemSelectionModel::SelectionFlags selectionCommand(const QModelIndex& index,
                                                         const QEvent* event) const override {
        if (m_owner.IsWorking()) {
            return QItemSelectionModel::NoUpdate;
        }
        return Base::selectionCommand(index, event);
    }
    void mousePressEvent(QMouseEvent* event) override {
        // A left click does nothing while an operation runs.
        if (event->button() == Qt::LeftButton && m_owner.IsWorking()) {
            return;
        }
        Base::mousePressEvent(event);
    }
    void mouseDoubleClickEvent(QMouseEvent* event) override {
        const QModelIndex index = this->indexAt(event->position().toPoint());
        if (!m_owner.ViewDoubleClick(event, index)) {
            Base::mouseDoubleClickEvent(event);
        }
    }
    void contextMenuEvent(QContextMenuEvent* event) override { m_owner.ViewContextMenu(event); }
    void startDrag(Qt::DropActions actions) override {
        if (m_owner.BeginRowDrag()) {
            Base::startDrag(actions);
            m_owner.EndRowDrag();
        }
    }
    void paintEvent(QPaintEvent* event) override {
        Base::paintEvent(event);
        m_owner.PaintHint(this->viewport());
    }

private:
    CFolderContentView& m_owner;
};

using CIconListView = CContentItemView<QListView>;
using CDetailsView = CContentItemView<QTreeView>;

} // namespace

CFolderContentView::CFolderContentView(CFTPSession& session, IPrompter& prompter,
                                       CFolderTreeView& tree, QWidget* parent)
    : QWidget(parent), m_session(session), m_prompter(prompter), m_tree(tree),
      m_pModel(new CFolderContentModel(this)),
      m_open([](const QUrl& url) { return QDesktopServices::openUrl(url); }) {
    setObjectName(QStringLiteral("folderContent"));
    setAccessibleName(QStringLiteral("Folder Content"));
    const CFolderTreeModel& treeModel = m_tree.Model();
    m_pModel->imageOf = [&treeModel](int image) { return treeModel.Image(image, false); };
    m_pModel->onRename = [this](int row, const QString& text) { return RenameRow(row, text); };
    m_pModel->canDrop = [this](const QMimeData* mime, int row) {
        CFTPVI* target = DropTarget(mime, row);
        return target != nullptr && m_tree.CanDrop(mime, target);
    };
    m_pModel->onDrop = [this](const QMimeData* mime, int row) {
        if (CFTPVI* target = DropTarget(mime, row); target != nullptr) {
            m_tree.Drop(mime, target);
        }
    };

    m_pStack = new QStackedLayout(this);
    m_pStack->setContentsMargins(0, 0, 0, 0);

    m_pIcons = new CIconListView(*this, this);
    m_pIcons->setObjectName(QStringLiteral("contentIcons"));
    m_pIcons->setAccessibleName(QStringLiteral("Folder Content"));
    m_pIcons->setModel(m_pModel);
    m_pIcons->setModelColumn(CFolderContentModel::COL_NAME);
    m_pIcons->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_pIcons->setEditTriggers(QAbstractItemView::EditKeyPressed |
                              QAbstractItemView::SelectedClicked);
    m_pIcons->setMovement(QListView::Static);
    m_pIcons->setResizeMode(QListView::Adjust);
    m_pIcons->setLayoutMode(QListView::Batched);
    m_pIcons->setBatchSize(2000);
    m_pIcons->setTextElideMode(Qt::ElideMiddle);
    m_pIcons->setDragEnabled(true);
    m_pIcons->setAcceptDrops(true);
    m_pIcons->setDropIndicatorShown(true);
    m_pIcons->setDragDropMode(QAbstractItemView::DragDrop);
    m_pIcons->setDragDropOverwriteMode(true); // drops land on a row, never between two

    m_pDetails = new CDetailsView(*this, this);
    m_pDetails->setObjectName(QStringLiteral("contentDetails"));
    m_pDetails->setAccessibleName(QStringLiteral("Folder Content"));
    m_pDetails->setModel(m_pModel);
    m_pDetails->setSelectionModel(m_pIcons->selectionModel());
    m_pDetails->setRootIsDecorated(false);
    m_pDetails->setItemsExpandable(false);
    m_pDetails->setUniformRowHeights(true);
    m_pDetails->setAllColumnsShowFocus(true);
    m_pDetails->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_pDetails->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_pDetails->setEditTriggers(QAbstractItemView::EditKeyPressed |
                                QAbstractItemView::SelectedClicked);
    m_pDetails->setTextElideMode(Qt::ElideMiddle);
    m_pDetails->setDragEnabled(true);
    m_pDetails->setAcceptDrops(true);
    m_pDetails->setDropIndicatorShown(true);
    m_pDetails->setDragDropMode(QAbstractItemView::DragDrop);
    m_pDetails->setDragDropOverwriteMode(true); // drops land on a row, never between two
    m_pDetails->setSortingEnabled(false);
    QHeaderView* header = m_pDetails->header();
    header->setStretchLastSection(false);
    header->setSectionsClickable(true);
    header->setSortIndicatorShown(true);
    header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    for (int column = 0; column < CFolderContentModel::COL_COUNT; ++column) {
        header->resizeSection(column, ColumnWidth(m_pDetails->fontMetrics(), column));
    }
    connect(header, &QHeaderView::sectionClicked, this,
            [this](int column) { Q_EMIT SortColumnClicked(column); });

    m_pStack->addWidget(m_pIcons);
    m_pStack->addWidget(m_pDetails);
    connect(Selection(), &QItemSelectionModel::selectionChanged, this,
            [this] { Q_EMIT StateChanged(); });

    const CFTPProfile* profile = m_session.GetProfile();
    SetViewStyle(profile != nullptr ? profile->GetViewStyle() : VIEW_DETAILS);
    SetSortKey(profile != nullptr ? profile->m_wSortOrder : 0);
    WatchTree();
}

CFolderContentView::~CFolderContentView() {
    m_tree.onFollowLink = nullptr;
    m_pModel->onRename = nullptr;
    m_pModel->canDrop = nullptr;
    m_pModel->onDrop = nullptr;
}

QAbstractItemView* CFolderContentView::View() const {
    if (m_nStyle == VIEW_DETAILS) {
        return m_pDetails;
    }
    return m_pIcons;
}

QItemSelectionModel* CFolderContentView::Selection() const {
    return m_pIcons->selectionModel();
}

bool CFolderContentView::IsBusy() const {
    return m_session.App().IsBusy();
}

bool CFolderContentView::IsWorking() const {
    return m_session.App().IsWorking();
}

// ---- Filling -------------------------------------------------------------------

CFTPVI* CFolderContentView::Shown() const {
    return m_shown.isValid() ? m_tree.Model().NodeOf(m_shown) : nullptr;
}

QString CFolderContentView::Hint() const {
    const CFTPVI* node = Shown();
    if (node == nullptr || node->Has(VIF_EXPLORED)) {
        return {};
    }
    switch (node->GetKind()) {
    case VI_SITE:
        return QStringLiteral("Disconnected!");
    case VI_REMOTEFOLDER:
        return QStringLiteral("Not Yet Explored!");
    default:
        return {};
    }
}

void CFolderContentView::Fill(const CFTPVI* wanted) {
    CFTPVI* node = m_tree.Selection();
    if (node == nullptr || (wanted != nullptr && wanted != node)) {
        return;
    }
    // Refilling the same node keeps the selected rows and the current one.
    std::unordered_set<std::string> selected;
    std::string current;
    const bool same = node == Shown();
    if (same) {
        for (int row : SelectedRows()) {
            selected.insert(m_pModel->Item(row)->GetName());
        }
        if (const CFTPVI* item = m_pModel->ItemOf(Selection()->currentIndex())) {
            current = item->GetName();
        }
    }
    m_shown = QPersistentModelIndex(m_tree.Model().IndexOf(node));
    if (node->IsLocalContainer()) {
        QGuiApplication::setOverrideCursor(Qt::WaitCursor);
        std::string path = m_tree.Model().LocalPath(node);
        auto items = CFolderContentModel::ReadLocalFolder(path);
        m_pModel->Reset(std::move(items), true, std::move(path));
        QGuiApplication::restoreOverrideCursor();
    } else if (node->IsRemoteContainer() && !node->Has(VIF_EXPLORED)) {
        m_pModel->Clear();
    } else {
        m_pModel->Reset(CFolderContentModel::CopyNodeContent(*node));
    }
    if (!selected.empty() || !current.empty()) {
        QItemSelection selection;
        const int rows = m_pModel->rowCount();
        for (int row = 0; row < rows; ++row) {
            const std::string& name = m_pModel->Item(row)->GetName();
            if (name == current) {
                Selection()->setCurrentIndex(m_pModel->index(row, 0),
                                             QItemSelectionModel::NoUpdate);
            }
            if (selected.count(name) == 0) {
                continue;
            }
            int end = row;
            while (end + 1 < rows && selected.count(m_pModel->Item(end + 1)->GetName()) != 0) {
                ++end;
                if (m_pModel->Item(end)->GetName() == current) {
                    Selection()->setCurrentIndex(m_pModel->index(end, 0),
                                                 QItemSelectionModel::NoUpdate);
                }
            }
            selection.append(QItemSelectionRange(m_pModel->index(row, 0), m_pModel->index(end, 0)));
            row = end;
        }
        Selection()->select(selection, QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
    MarkCutRows();
    FocusFirstRow();
    View()->viewport()->update();
    Q_EMIT StateChanged();
}

void CFolderContentView::MarkCutRows() {
    const CFTPClipboard& clip = m_tree.UserClipboard();
    const CFTPVI* shown = Shown();
    if (!clip.IsCut() || clip.IsCutFromTree() || shown == nullptr) {
        return;
    }
    // One look-up per row: a cut of every row of a large folder stays
    // linear.
    const std::unordered_set<std::string> cut = clip.NamesIn(m_tree.Model().NodePath(shown));
    for (int row = 0; row < m_pModel->rowCount() && !cut.empty(); ++row) {
        if (cut.count(m_pModel->Item(row)->GetName()) != 0) {
            m_pModel->SetCut(row, true);
        }
    }
}

void CFolderContentView::FillClipboard(CFTPClipboard& clip, bool cut) {
    clip.Clear();
    const CFTPVI* shown = Shown();
    if (shown == nullptr) {
        return;
    }
    const std::string folder = m_tree.Model().NodePath(shown);
    for (int row : SelectedRows()) {
        const CFTPVI* item = m_pModel->Item(row);
        if (clip.Add(item->GetKind(), CFTPClipboard::Join(folder, item->GetName())) && cut) {
            m_pModel->SetCut(row, true);
        }
    }
    clip.SetCut(cut, false);
}

bool CFolderContentView::RowsCanCutCopy() const {
    const CFTPVI* shown = Shown();
    if (!Selection()->hasSelection() || IsBusy() || shown == nullptr) {
        return false;
    }
    // Asked at every key press: only the root's list holds rows that cannot
    // be cut (its drives), so a large folder's selection is never walked.
    if (shown->GetKind() != VI_ROOT) {
        return true;
    }
    for (int row : SelectedRows()) {
        if (!m_pModel->Item(row)->CanCutCopy()) {
            return false;
        }
    }
    return true;
}

CFTPVI* CFolderContentView::PasteTarget() const {
    return m_nMenuRow >= 0 ? NodeOfRow(m_nMenuRow) : m_tree.Selection();
}

bool CFolderContentView::BeginRowDrag() {
    if (IsWorking() || SelectedRows().empty() || !RowsCanCutCopy()) {
        return false;
    }
    CFolderTreeView::RowDrag drag;
    drag.shown = Shown();
    for (int row : SelectedRows()) {
        drag.kinds.push_back(m_pModel->Item(row)->GetKind());
        drag.nodes.push_back(NodeOfRow(row));
    }
    drag.fill = [this](CFTPClipboard& clip) { FillClipboard(clip, false); };
    m_tree.SetRowDrag(std::move(drag));
    return true;
}

void CFolderContentView::EndRowDrag() {
    m_tree.EndRowDrag();
}

CFTPVI* CFolderContentView::DropTarget(const QMimeData* mime, int row) const {
    if (row >= 0) {
        // A local folder's rows have their nodes once the tree has read
        // the folder.
        const QModelIndex shown(m_shown);
        if (shown.isValid() && m_tree.Model().canFetchMore(shown)) {
            m_tree.Model().fetchMore(shown);
        }
        return NodeOfRow(row);
    }
    // Files of the desktop may land on the list itself: the shown folder.
    const bool ours = mime->hasFormat(QString::fromLatin1(CFolderTreeModel::kNodeMime)) ||
                      mime->hasFormat(QString::fromLatin1(CFolderTreeModel::kRowsMime));
    return !ours && mime->hasUrls() ? Shown() : nullptr;
}

void CFolderContentView::FocusFirstRow() {
    if (!Selection()->hasSelection() && m_pModel->rowCount() > 0 &&
        !Selection()->currentIndex().isValid()) {
        Selection()->setCurrentIndex(m_pModel->index(0, 0), QItemSelectionModel::NoUpdate);
    }
}

void CFolderContentView::Refill() {
    m_session.App().SetRefreshPending(false);
    ScheduleRefill();
}

void CFolderContentView::ScheduleRefill() {
    if (m_bRefillScheduled) {
        return;
    }
    m_bRefillScheduled = true;
    QTimer::singleShot(0, this, [this] {
        m_bRefillScheduled = false;
        Fill(nullptr);
    });
}

bool CFolderContentView::TreeChangeConcernsShown(const QModelIndex& parent) const {
    return m_shown.isValid() && parent == QModelIndex(m_shown);
}

void CFolderContentView::WatchTree() {
    CFolderTreeModel* model = &m_tree.Model();
    // Folders, sites and remote folders that come or go under the shown
    // node, and the node's own changes (a listing merged into it, its
    // connection lost) refill the list once the tree is done.
    connect(model, &QAbstractItemModel::rowsInserted, this, [this](const QModelIndex& parent) {
        if (TreeChangeConcernsShown(parent)) {
            ScheduleRefill();
        }
    });
    connect(model, &QAbstractItemModel::rowsRemoved, this, [this](const QModelIndex& parent) {
        if (!m_shown.isValid()) {
            // The shown node itself went.
            if (m_pModel->rowCount() > 0 || m_pModel->IsLocal()) {
                m_pModel->Clear();
            }
            return;
        }
        if (TreeChangeConcernsShown(parent)) {
            ScheduleRefill();
        }
    });
    connect(model, &QAbstractItemModel::dataChanged, this,
            [this](const QModelIndex& topLeft, const QModelIndex&) {
                if (!m_shown.isValid() || m_pModel->IsLocal()) {
                    return;
                }
                if (topLeft == QModelIndex(m_shown) || TreeChangeConcernsShown(topLeft.parent())) {
                    ScheduleRefill();
                }
            });
    connect(model, &QAbstractItemModel::modelReset, this, [this] { ScheduleRefill(); });
    connect(&m_tree, &CFolderTreeView::SelectionSettled, this, [this] { Fill(nullptr); });
    m_tree.onFollowLink = [this](const CFTPFile& target) {
        ViewRemoteFile(target, BUSY_VIEWING_LINK);
    };
    connect(&m_tree, &CFolderTreeView::RowCutCancelled, m_pModel, &CFolderContentModel::ClearCut);
    connect(&m_tree, &CFolderTreeView::RefillContent, this, &CFolderContentView::ScheduleRefill);
}

// ---- Modes and order -------------------------------------------------------------

void CFolderContentView::SetViewStyle(int style) {
    if (style < VIEW_LARGE_ICONS || style > VIEW_LIST) {
        style = VIEW_DETAILS;
    }
    if (style == m_nStyle) {
        return;
    }
    const bool hadFocus = View()->hasFocus();
    m_nStyle = style;
    switch (style) {
    case VIEW_LARGE_ICONS:
        m_pIcons->setViewMode(QListView::IconMode);
        m_pIcons->setIconSize(QSize(32, 32));
        m_pIcons->setFlow(QListView::LeftToRight);
        m_pIcons->setWrapping(true);
        m_pIcons->setWordWrap(true);
        m_pIcons->setGridSize(QSize(100, 72));
        m_pIcons->setUniformItemSizes(true);
        break;
    case VIEW_SMALL_ICONS:
        m_pIcons->setViewMode(QListView::ListMode);
        m_pIcons->setIconSize(QSize(16, 16));
        m_pIcons->setFlow(QListView::LeftToRight);
        m_pIcons->setWrapping(true);
        m_pIcons->setWordWrap(false);
        m_pIcons->setGridSize(QSize(CFolderContentModel::kColumnWidth[0], 22));
        m_pIcons->setUniformItemSizes(true);
        break;
    case VIEW_LIST:
        m_pIcons->setViewMode(QListView::ListMode);
        m_pIcons->setIconSize(QSize(16, 16));
        m_pIcons->setFlow(QListView::TopToBottom);
        m_pIcons->setWrapping(true);
        m_pIcons->setWordWrap(false);
        m_pIcons->setGridSize(QSize(CFolderContentModel::kColumnWidth[0], 22));
        m_pIcons->setUniformItemSizes(true);
        break;
    default:
        break;
    }
    m_pStack->setCurrentWidget(View());
    setFocusProxy(View());
    if (hadFocus) {
        View()->setFocus();
    }
    if (const QModelIndex current = Selection()->currentIndex(); current.isValid()) {
        View()->scrollTo(current);
    }
}

void CFolderContentView::SetSortKey(std::uint16_t key) {
    m_pModel->Sort(key);
    const int column = key & 0x3;
    m_pDetails->header()->setSortIndicator(column, (key & CFolderContentModel::kSortDescending) != 0
                                                       ? Qt::DescendingOrder
                                                       : Qt::AscendingOrder);
    if (const QModelIndex current = Selection()->currentIndex(); current.isValid()) {
        View()->scrollTo(current);
    }
}

// ---- Commands ----------------------------------------------------------------------

std::vector<int> CFolderContentView::SelectedRows() const {
    std::vector<int> rows;
    for (const QItemSelectionRange& range : Selection()->selection()) {
        for (int row = range.top(); row <= range.bottom(); ++row) {
            rows.push_back(row);
        }
    }
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    return rows;
}

void CFolderContentView::Open(int row) {
    const CFTPVI* item = m_pModel->Item(row);
    CFTPVI* shown = Shown();
    if (item == nullptr || shown == nullptr) {
        return;
    }
    switch (item->GetKind()) {
    case VI_LOCALFILE:
        OpenLocalFile(JoinPath(m_pModel->FolderPath(), item->GetName()));
        return;
    case VI_REMOTEFILE:
        return;
    default:
        break;
    }
    CFolderTreeModel& model = m_tree.Model();
    const std::string name = item->GetName();
    CFTPVI* child = model.Child(shown, name);
    if (child == nullptr && shown->IsLocalContainer()) {
        model.ExploreLocal(shown);
        child = model.Child(shown, name);
    }
    if (child == nullptr) {
        return;
    }
    m_tree.expand(model.IndexOf(shown));
    m_tree.Select(child);
}

void CFolderContentView::OpenLocalFile(const std::string& path) {
    const QUrl url = QUrl::fromLocalFile(
        QFile::decodeName(QByteArray(path.data(), static_cast<qsizetype>(path.size()))));
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    m_open(url);
    QGuiApplication::restoreOverrideCursor();
}

CFTPFile CFolderContentView::RemoteFileRecord(const std::string& name) const {
    CFTPVI* shown = Shown();
    CFolderTreeModel& model = m_tree.Model();
    CFTPVI* site = shown != nullptr ? model.SiteOf(shown) : nullptr;
    const ConnectionId connection =
        site != nullptr ? m_tree.ConnectionOf(site) : ConnectionId(kNoConnection);
    std::string host;
    if (CFTPProfile* profile = m_session.GetProfile(); profile != nullptr && site != nullptr) {
        if (const CFTPSite* record = profile->FindSite(model.NodePath(site))) {
            host = record->m_strHost;
        }
    }
    std::string path = shown != nullptr ? model.RemotePath(shown) : std::string();
    path = path.empty() ? name : path + "/" + name;
    return CFTPFile(path, SiteRef{connection, host}, true);
}

void CFolderContentView::OnRenamed(const event::Renamed& renamed) {
    for (auto& [id, pending] : m_renames) {
        if (pending.oldName != renamed.oldName || pending.newName != renamed.newName ||
            !pending.folder.isValid()) {
            continue;
        }
        // The folder's file child takes the new name; the list shows it
        // when it refills.
        CFTPVI* folder = m_tree.Model().NodeOf(pending.folder);
        if (CFTPVIArray* files = folder->GetChildren()) {
            for (const auto& file : files->Items()) {
                if (file->GetName() == renamed.oldName) {
                    file->SetName(renamed.newName);
                    break;
                }
            }
        }
        pending.folder = QPersistentModelIndex();
        ScheduleRefill();
        return;
    }
}

void CFolderContentView::OnOperationEnded(const OperationReport& report) {
    m_renames.erase(report.id);
    Refill();
}

void CFolderContentView::ViewRemoteText(int row) {
    const CFTPVI* item = m_pModel->Item(row);
    CFTPVI* shown = Shown();
    if (item == nullptr || shown == nullptr || item->GetKind() != VI_REMOTEFILE || IsBusy()) {
        return;
    }
    ViewRemoteFile(RemoteFileRecord(item->GetName()), BUSY_VIEWING_FILE);
}

void CFolderContentView::ViewRemoteFile(const CFTPFile& source, std::uint16_t busy) {
    if (source.m_nConnection == kNoConnection || IsBusy()) {
        return;
    }
    // The first free name of "Quillbeck000.txt" to "Quillbeck999.txt" in the
    // private temporary folder (no other user can put anything there).
    const std::string folder = PrivateTempFolder();
    if (folder.empty()) {
        return;
    }
    std::string local;
    for (int n = 0; n < 1000 && local.empty(); ++n) {
        char name[32];
        std::snprintf(name, sizeof name, "/Quillbeck%03d.txt", n);
        struct stat info {};
        if (::lstat((folder + name).c_str(), &info) != 0 && errno == ENOENT) {
            local = folder + name;
        }
    }
    if (local.empty()) {
        return;
    }
    const CFTPFile dest(local, SiteRef{}, true);
    CFTPApp& app = m_session.App();
    const auto before = static_cast<std::uint16_t>(app.GetBusyCode());
    // The busy code first: it makes the transfer use text mode (and a
    // link's target go to the server as given), and a quick download may
    // end before the request returns.
    app.SetBusyCode(busy);
    const CFTPSession::Submitted sent = m_session.DownloadAndOpen(source, dest);
    if (!sent) {
        app.SetBusyCode(before);
        if (!sent.refusal.empty()) {
            m_prompter.Message(this, Q(sent.refusal), MB_OK | MB_ICONWARNING);
        }
        return;
    }
    Q_EMIT OperationStarted();
    Q_EMIT StateChanged();
}

void CFolderContentView::FileProperties(int row) {
    const CFTPVI* item = m_pModel->Item(row);
    CFTPVI* shown = Shown();
    if (item == nullptr || shown == nullptr) {
        return;
    }
    ItemProperties properties;
    properties.kind = item->GetKind();
    properties.name = item->GetName();
    properties.modified = Q(item->TimeText());
    properties.size = Q(item->SizeText());
    if (properties.kind == VI_LOCALFILE) {
        properties.location = m_tree.Model().LocalPath(shown);
    } else if (properties.kind == VI_REMOTEFILE) {
        properties.location = m_tree.Model().NodePath(shown);
    } else {
        return;
    }
    CContentQuestions questions(m_prompter, this);
    properties.questions = &questions;
    m_prompter.ShowProperties(this, properties);
}

void CFolderContentView::SelectAll() {
    const int rows = m_pModel->rowCount();
    if (rows == 0) {
        return;
    }
    Selection()->select(QItemSelection(m_pModel->index(0, 0), m_pModel->index(rows - 1, 0)),
                        QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

void CFolderContentView::InvertSelection() {
    const int rows = m_pModel->rowCount();
    std::vector<bool> wasSelected(static_cast<std::size_t>(rows), false);
    for (int row : SelectedRows()) {
        wasSelected[static_cast<std::size_t>(row)] = true;
    }
    QItemSelection selection;
    for (int row = 0; row < rows;) {
        if (wasSelected[static_cast<std::size_t>(row)]) {
            ++row;
            continue;
        }
        int end = row;
        while (end + 1 < rows && !wasSelected[static_cast<std::size_t>(end + 1)]) {
            ++end;
        }
        selection.append(QItemSelectionRange(m_pModel->index(row, 0), m_pModel->index(end, 0)));
        row = end + 1;
    }
    Selection()->select(selection, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

CFTPVI* CFolderContentView::NodeOfRow(int row) const {
    const CFTPVI* item = m_pModel->Item(row);
    CFTPVI* shown = Shown();
    if (item == nullptr || shown == nullptr) {
        return nullptr;
    }
    return m_tree.Model().Child(shown, item->GetName());
}

bool CFolderContentView::IsActive() const {
    const QWidget* focus = QApplication::focusWidget();
    return focus != nullptr && (focus == this || isAncestorOf(focus));
}

bool CFolderContentView::ActsOnRows(int id) {
    switch (id) {
    case ID_CUT:
    case ID_COPY:
    case ID_PASTE:
    case ID_DELETE:
    case ID_RENAME:
    case ID_PROPERTIES:
    case ID_CONNECT_EXPLORE:
    case ID_DISCONNECT:
        return true;
    default:
        return false;
    }
}

bool CFolderContentView::CanRun(int id) const {
    switch (id) {
    case ID_CUT:
    case ID_COPY:
    case ID_DELETE:
        return RowsCanCutCopy();
    case ID_PASTE: {
        CFTPVI* target = PasteTarget();
        return target != nullptr && m_tree.CanRun(id, target);
    }
    default:
        break;
    }
    const std::vector<int> rows = SelectedRows();
    if (IsBusy() || rows.size() != 1) {
        return false;
    }
    const CFTPVI* item = m_pModel->Item(rows.front());
    CFTPVI* node = NodeOfRow(rows.front());
    switch (id) {
    case ID_VIEW_REMOTE_TEXT:
        return item->GetKind() == VI_REMOTEFILE;
    case ID_RENAME:
        return item->CanCutCopy();
    case ID_CONNECT_EXPLORE:
        return node != nullptr;
    case ID_PROPERTIES:
        if (node == nullptr) {
            return item->GetKind() == VI_LOCALFILE || item->GetKind() == VI_REMOTEFILE;
        }
        return m_tree.CanRun(id, node);
    case ID_DISCONNECT:
        return node != nullptr && m_tree.CanRun(id, node);
    default:
        // Delete from the list comes with the program's clipboard.
        return false;
    }
}

bool CFolderContentView::Run(int id) {
    switch (id) {
    case ID_SELECT_ALL:
        SelectAll();
        return true;
    case ID_INVERT_SELECTION:
        InvertSelection();
        return true;
    case ID_VIEW_REMOTE_TEXT:
        // Only the list shows remote files, active or not.
        if (CanRun(id)) {
            ViewRemoteText(SelectedRows().front());
        }
        return true;
    default:
        break;
    }
    if (!ActsOnRows(id) || !IsActive()) {
        return false;
    }
    if (!CanRun(id)) {
        return true;
    }
    switch (id) {
    case ID_CUT:
    case ID_COPY:
        m_tree.CancelCut();
        FillClipboard(m_tree.UserClipboard(), id == ID_CUT);
        Q_EMIT StateChanged();
        return true;
    case ID_DELETE: {
        CFTPClipboard& scratch = m_tree.ScratchClipboard();
        FillClipboard(scratch, false);
        m_tree.DeleteItems(scratch);
        return true;
    }
    case ID_PASTE:
        m_tree.PasteInto(PasteTarget());
        return true;
    default:
        break;
    }
    const int row = SelectedRows().front();
    switch (id) {
    case ID_RENAME: {
        const QModelIndex index = m_pModel->index(row, CFolderContentModel::COL_NAME);
        View()->scrollTo(index);
        View()->setCurrentIndex(index);
        View()->edit(index);
        break;
    }
    case ID_CONNECT_EXPLORE:
        Open(row);
        break;
    case ID_PROPERTIES:
        if (CFTPVI* node = NodeOfRow(row); node != nullptr) {
            m_tree.Run(id, node);
        } else {
            FileProperties(row);
        }
        break;
    case ID_DISCONNECT:
        m_tree.Run(id, NodeOfRow(row));
        break;
    default:
        break;
    }
    return true;
}

// ---- The views' events ---------------------------------------------------------------

bool CFolderContentView::ViewKey(QKeyEvent* event) {
    if (IsContextMenuKey(event) && m_session.App().GetBusyCode() != BUSY_EDITING_LABEL) {
        QContextMenuEvent menu(QContextMenuEvent::Keyboard, QPoint(), QCursor::pos());
        ViewContextMenu(&menu);
        return true;
    }
    switch (event->key()) {
    case Qt::Key_Escape:
        if (!IsWorking() && m_tree.UserClipboard().IsCut()) {
            m_tree.CancelCut();
            return true;
        }
        return false;
    case Qt::Key_Return:
    case Qt::Key_Enter: {
        const std::vector<int> rows = SelectedRows();
        if (!rows.empty()) {
            Open(rows.front());
        }
        return true;
    }
    default:
        return false;
    }
}

bool CFolderContentView::ViewDoubleClick(QMouseEvent* event, const QModelIndex& index) {
    if (event->button() != Qt::LeftButton || !index.isValid()) {
        return false;
    }
    if (IsWorking()) {
        return true;
    }
    if ((event->modifiers() & Qt::AltModifier) != 0) {
        // The properties instead.
        if (IsBusy()) {
            return true;
        }
        if (CFTPVI* node = NodeOfRow(index.row()); node != nullptr) {
            m_tree.Run(ID_PROPERTIES, node);
        } else {
            FileProperties(index.row());
        }
        return true;
    }
    Open(index.row());
    return true;
}

void CFolderContentView::PaintHint(QWidget* viewport) const {
    if (m_pModel->rowCount() > 0) {
        return;
    }
    const QString hint = Hint();
    if (hint.isEmpty()) {
        return;
    }
    QPainter painter(viewport);
    painter.setPen(viewport->palette().color(QPalette::PlaceholderText));
    painter.drawText(QPoint(kHintX, kHintY + painter.fontMetrics().ascent()), hint);
}

// ---- Context menus ---------------------------------------------------------------------

std::unique_ptr<QMenu> CFolderContentView::ContextMenu(bool row) const {
    auto menu = std::make_unique<QMenu>();
    if (!m_action) {
        return menu;
    }
    static const int rowMenu[] = {
        ID_VIEW_REMOTE_TEXT, ID_CONNECT_EXPLORE, ID_DISCONNECT, 0, ID_CUT, ID_COPY, ID_PASTE, 0,
        ID_DELETE,           ID_RENAME,          ID_PROPERTIES};
    static const int backgroundMenu[] = {ID_LARGE_ICONS,
                                         ID_SMALL_ICONS,
                                         ID_LIST,
                                         ID_DETAILS,
                                         0,
                                         ID_SORT_NAME,
                                         ID_SORT_TIME,
                                         ID_SORT_SIZE,
                                         0,
                                         ID_NEW_SITE_FOLDER,
                                         ID_NEW_SITE,
                                         ID_NEW_FOLDER,
                                         0,
                                         ID_PASTE};
    auto add = [&](const auto& ids) {
        for (int id : ids) {
            if (id == 0) {
                menu->addSeparator();
            } else if (QAction* action = m_action(id)) {
                menu->addAction(action);
            }
        }
    };
    if (row) {
        add(rowMenu);
    } else {
        add(backgroundMenu);
    }
    return menu;
}

void CFolderContentView::ViewContextMenu(QContextMenuEvent* event) {
    if (IsBusy()) {
        return;
    }
    QAbstractItemView* view = View();
    QPoint at;
    bool row = false;
    if (event->reason() == QContextMenuEvent::Keyboard) {
        const std::vector<int> rows = SelectedRows();
        row = !rows.empty();
        at = row ? view->visualRect(m_pModel->index(rows.back(), 0)).bottomRight() : QPoint(5, 5);
    } else {
        // The row under the cursor, selected first when it is not.
        at = event->pos();
        const QModelIndex index = view->indexAt(at);
        row = index.isValid();
        if (row && !Selection()->isRowSelected(index.row())) {
            Selection()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect |
                                                    QItemSelectionModel::Rows);
        }
    }
    // The frame recomputes what the commands may do for these rows.
    Q_EMIT StateChanged();
    std::unique_ptr<QMenu> menu = ContextMenu(row);
    // The row menu's Paste goes into the row's node.
    if (row) {
        m_nMenuRow = Selection()->currentIndex().isValid() ? Selection()->currentIndex().row()
                                                           : SelectedRows().back();
        Q_EMIT StateChanged();
    }
    menu->exec(view->viewport()->mapToGlobal(at));
    m_nMenuRow = -1;
    Q_EMIT StateChanged();
}

// ---- Label editing ---------------------------------------------------------------------

bool CFolderContentView::BeginEdit(const QModelIndex& index) {
    const CFTPVI* item = m_pModel->ItemOf(index);
    return item != nullptr && item->CanCutCopy() && !IsBusy();
}

void CFolderContentView::EditStarted() {
    m_session.App().SetBusyCode(BUSY_EDITING_LABEL);
    Q_EMIT StateChanged();
}

void CFolderContentView::EndEdit() {
    if (m_session.App().GetBusyCode() == BUSY_EDITING_LABEL) {
        m_session.App().SetBusyCode(BUSY_IDLE);
    }
    Q_EMIT StateChanged();
}

void CFolderContentView::ReopenEditor(int row, const QString& text) {
    const std::string name = m_pModel->Item(row)->GetName();
    QMetaObject::invokeMethod(
        this,
        [this, name, text] {
            const int at = m_pModel->RowOf(name);
            const QModelIndex index = m_pModel->index(at, 0);
            QAbstractItemView* view = View();
            if (at < 0 || !view->isVisible()) {
                return;
            }
            view->setCurrentIndex(index);
            view->edit(index);
            if (auto* line = qobject_cast<QLineEdit*>(view->indexWidget(index))) {
                line->setText(text);
                line->selectAll();
            }
        },
        Qt::QueuedConnection);
}

bool CFolderContentView::RenameRow(int row, const QString& text) {
    CFTPVI* item = m_pModel->Item(row);
    if (item == nullptr) {
        return false;
    }
    std::string name = text.toStdString();
    TrimSpaces(name);
    const std::string old = item->GetName();
    if (item->GetKind() == VI_REMOTEFILE) {
        return RenameRemoteFile(row, name, text);
    }
    if (item->GetKind() != VI_LOCALFILE) {
        // Rows with a tree node follow the tree's rules and rename.
        CFTPVI* shown = Shown();
        CFTPVI* node = shown != nullptr ? m_tree.Model().Child(shown, old) : nullptr;
        if (node == nullptr) {
            return false;
        }
        return m_tree.Model().setData(m_tree.Model().IndexOf(node), text, Qt::EditRole);
    }
    if (name.empty()) {
        return RefuseEdit(row, text, QStringLiteral("You must type a name!"));
    }
    if (name == old) {
        return true;
    }
    if (m_pModel->RowNamedNoCase(name, row) >= 0) {
        return RefuseEdit(
            row, text,
            QStringLiteral("An item named \"%1\" already exists in the same folder!").arg(Q(name)));
    }
    CContentQuestions questions(m_prompter, this);
    if (!CheckName(name, NAME_LOCAL_FILE, &questions)) {
        return RefuseEdit(row, text, QString());
    }
    const std::string from = JoinPath(m_pModel->FolderPath(), old);
    const std::string to = JoinPath(m_pModel->FolderPath(), name);
    if (!RenameNoReplace(from, to)) {
        return RefuseEdit(row, text,
                          QStringLiteral("Failed to rename\n%1\nto\n%2").arg(Q(from), Q(to)));
    }
    m_pModel->Renamed(row, name);
    return true;
}

bool CFolderContentView::RefuseEdit(int row, const QString& text, const QString& message) {
    if (!message.isEmpty()) {
        m_prompter.Message(this, message, MB_OK);
    }
    ReopenEditor(row, text);
    return false;
}

bool CFolderContentView::RenameRemoteFile(int row, const std::string& name, const QString& text) {
    const std::string old = m_pModel->Item(row)->GetName();
    if (name.empty()) {
        return RefuseEdit(row, text, QStringLiteral("You must type a name!"));
    }
    if (name == old) {
        return true;
    }
    CFTPVI* shown = Shown();
    if (shown == nullptr) {
        return false;
    }
    if (m_tree.Model().Child(shown, name) != nullptr || !shown->HasNoChild(name)) {
        return RefuseEdit(
            row, text,
            QStringLiteral("An item named \"%1\" already exists in the same folder!").arg(Q(name)));
    }
    CContentQuestions questions(m_prompter, this);
    if (!CheckName(name, NAME_REMOTE_FILE, &questions)) {
        return RefuseEdit(row, text, QString());
    }
    const CFTPFile item = RemoteFileRecord(old);
    if (item.m_nConnection == kNoConnection) {
        return false;
    }
    // The busy code first: a quick rename may end before the request
    // returns. The row changes when the server has done it.
    CFTPApp& app = m_session.App();
    const auto before = static_cast<std::uint16_t>(app.GetBusyCode());
    app.SetBusyCode(BUSY_RENAMING);
    const CFTPSession::Submitted sent = m_session.Rename(item, name);
    if (!sent) {
        app.SetBusyCode(before);
        if (!sent.refusal.empty()) {
            m_prompter.Message(this, Q(sent.refusal), MB_OK | MB_ICONWARNING);
        }
        return false;
    }
    m_renames[sent.operation] = PendingRename{QPersistentModelIndex(m_shown), old, name};
    Q_EMIT OperationStarted();
    Q_EMIT StateChanged();
    return false;
}

} // namespace qb::ui
