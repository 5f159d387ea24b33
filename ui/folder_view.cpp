#include "folder_view.h"

#include "app/names.h"
#include "app/session.h"
#include "app/startup.h"
#include "local_dialogs.h"
#include "main_frame.h"
#include "platform/questions.h"
#include "profile/profile.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QCursor>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPointer>
#include <QUrl>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>

namespace qb::ui {

namespace {

// The prompter's message boxes for the rules that report through
// IQuestions (names, site tree renames).
class CPrompterQuestions : public IQuestions {
public:
    CPrompterQuestions(IPrompter& prompter, QWidget* parent)
        : m_prompter(prompter), m_pParent(parent) {}
    int MessageBox(const std::string& text, unsigned style) override {
        return m_prompter.Message(m_pParent, QString::fromStdString(text), style);
    }

private:
    IPrompter& m_prompter;
    QWidget* m_pParent;
};

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

// The prompter's Replace Confirmation for the local workers.
class CPrompterReplace : public ILFSReplaceDialog {
public:
    CPrompterReplace(IPrompter& prompter, QWidget* parent)
        : m_prompter(prompter), m_pParent(parent) {}
    int AskReplace(const CLFSReplaceQuestion& question) override {
        return m_prompter.AskLocalReplace(m_pParent, question);
    }

private:
    IPrompter& m_prompter;
    QWidget* m_pParent;
};

} // namespace

CFolderTreeView::CFolderTreeView(CFTPSession& session, IPrompter& prompter,
                                 std::vector<MountInfo> mounts, QWidget* parent)
    : QTreeView(parent), m_session(session), m_prompter(prompter),
      m_questions(std::make_unique<CPrompterQuestions>(prompter, this)),
      m_replace(std::make_unique<CPrompterReplace>(prompter, this)) {
    setObjectName(QStringLiteral("folderTree"));
    setAccessibleName(QStringLiteral("Folder Tree"));
    setHeaderHidden(true);
    setUniformRowHeights(true);
    setTextElideMode(Qt::ElideMiddle);
    setEditTriggers(QAbstractItemView::EditKeyPressed | QAbstractItemView::SelectedClicked);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setContextMenuPolicy(Qt::DefaultContextMenu);
    header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    header()->setStretchLastSection(false);
    m_pModel = new CFolderTreeModel(session.GetProfile(), std::move(mounts), this);
    m_pModel->onRemoving = [this](CFTPVI* node) { Forget(node); };
    m_pModel->onRename = [this](CFTPVI* node, const QString& text) { return Rename(node, text); };
    m_pModel->canDrop = [this](const QMimeData* mime, CFTPVI* target) {
        return CanDrop(mime, target);
    };
    m_pModel->onDrop = [this](const QMimeData* mime, CFTPVI* target) { Drop(mime, target); };
    setModel(m_pModel);
    setDragEnabled(true);
    setAcceptDrops(true);
    setDropIndicatorShown(true);
    setDragDropMode(QAbstractItemView::DragDrop);
    setDragDropOverwriteMode(true); // drops land on a node, never between two
    setAutoScroll(true);
    connect(this, &QTreeView::expanded, this, &CFolderTreeView::OnExpanded);
    m_exploreTimer.setSingleShot(true);
    m_exploreTimer.setInterval(kExploreDelayMs);
    connect(&m_exploreTimer, &QTimer::timeout, this, &CFolderTreeView::OnSelectionTimer);
    const QModelIndex root = m_pModel->IndexOf(m_pModel->Root());
    ExpandQuietly(m_pModel->Root());
    setCurrentIndex(root);
}

CFolderTreeView::~CFolderTreeView() {
    m_pModel->onRemoving = nullptr;
    m_pModel->onRename = nullptr;
}

// ---- Small helpers -------------------------------------------------------------

int CFolderTreeView::Say(const QString& text, unsigned style) {
    return m_prompter.Message(this, text, style);
}

bool CFolderTreeView::IsBusy() const {
    return m_session.App().IsBusy();
}

bool CFolderTreeView::IsWorking() const {
    return m_session.App().IsWorking();
}

CFTPSession::Submitted
CFolderTreeView::Submit(std::uint16_t busy,
                        const std::function<CFTPSession::Submitted()>& request) {
    // The busy code is set first: a quick operation may end (and set it
    // back to idle) before the request returns.
    CFTPApp& app = m_session.App();
    const auto before = static_cast<std::uint16_t>(app.GetBusyCode());
    app.SetBusyCode(busy);
    CFTPSession::Submitted sent = request();
    if (!sent) {
        app.SetBusyCode(before);
        if (!sent.refusal.empty()) {
            Say(Q(sent.refusal), MB_OK | MB_ICONWARNING);
        }
        return sent;
    }
    Q_EMIT OperationStarted();
    Q_EMIT StateChanged();
    return sent;
}

CFTPVI* CFolderTreeView::Selection() const {
    return m_pModel->NodeOf(currentIndex());
}

void CFolderTreeView::Select(CFTPVI* node) {
    const QModelIndex index = m_pModel->IndexOf(node);
    if (index.isValid()) {
        setCurrentIndex(index);
        scrollTo(index);
    }
}

ConnectionId CFolderTreeView::ConnectionOf(const CFTPVI* site) const {
    for (const auto& [id, connection] : m_connections) {
        if (connection.site == site) {
            return id;
        }
    }
    return kNoConnection;
}

bool CFolderTreeView::KeepCertificate(ConnectionId connection, const std::string& fingerprint) {
    const auto it = m_connections.find(connection);
    CFTPProfile* profile = m_session.GetProfile();
    if (it == m_connections.end() || profile == nullptr || fingerprint.empty()) {
        return false;
    }
    CFTPSite* site = profile->FindSite(m_pModel->NodePath(it->second.site));
    if (site == nullptr) {
        return false;
    }
    site->m_security.fingerprint = fingerprint;
    return true;
}

void CFolderTreeView::ExpandQuietly(CFTPVI* node) {
    const bool was = m_bQuietExpand;
    m_bQuietExpand = true;
    expand(m_pModel->IndexOf(node));
    m_bQuietExpand = was;
}

CFTPFile CFolderTreeView::RemoteRecord(CFTPVI* node, bool isFile) const {
    CFTPVI* site = m_pModel->SiteOf(node);
    const ConnectionId id = ConnectionOf(site);
    auto it = m_connections.find(id);
    const std::string host = it == m_connections.end() ? std::string() : it->second.host;
    CFTPFile record(m_pModel->RemotePath(node), SiteRef{id, host}, isFile);
    record.m_strLink = node->GetLinkText();
    return record;
}

QString CFolderTreeView::Title() const {
    const CFTPVI* node = Selection();
    const std::string path = m_pModel->NodePath(node);
    if (node == nullptr || node->GetKind() == VI_ROOT) {
        return kAppTitle;
    }
    return kAppTitle + QStringLiteral(" - ") + CFolderTreeModel::ShownName(path);
}

void CFolderTreeView::UpdateTitle() {
    if (QWidget* top = window(); top != this) {
        top->setWindowTitle(Title());
    }
}

void CFolderTreeView::Forget(CFTPVI* node) {
    if (m_pDragSource == node) {
        m_pDragSource = nullptr;
    }
    for (auto& [id, pending] : m_ops) {
        if (pending.node == node) {
            pending.node = nullptr;
        }
    }
    for (auto it = m_connections.begin(); it != m_connections.end();) {
        if (it->second.site == node) {
            m_session.Disconnect(it->first);
            it = m_connections.erase(it);
        } else {
            ++it;
        }
    }
}

// ---- Lookups -------------------------------------------------------------------

CFTPVI* CFolderTreeView::LocalNode(const std::string& path) const {
    // The drive with the longest mount point that holds the path.
    CFTPVI* best = nullptr;
    std::size_t bestLength = 0;
    for (const auto& child : m_pModel->Root()->m_nodes) {
        if (!child->IsDrive()) {
            continue;
        }
        const std::string& mount = static_cast<const CFTPVILocalDrive*>(child.get())->GetRootPath();
        const bool holds = path == mount || (path.rfind(mount, 0) == 0 &&
                                             (mount.back() == '/' || path[mount.size()] == '/'));
        if (holds && mount.size() >= bestLength) {
            best = child.get();
            bestLength = mount.size();
        }
    }
    if (best == nullptr) {
        return nullptr;
    }
    std::string rest = path.substr(bestLength);
    CFTPVI* node = best;
    std::size_t pos = 0;
    while (node != nullptr && pos < rest.size()) {
        if (rest[pos] == '/') {
            ++pos;
            continue;
        }
        const std::size_t slash = rest.find('/', pos);
        const std::string name =
            rest.substr(pos, slash == std::string::npos ? std::string::npos : slash - pos);
        node = m_pModel->Child(node, name);
        pos = slash == std::string::npos ? rest.size() : slash + 1;
    }
    return node;
}

CFTPVI* CFolderTreeView::RemoteFolderNode(ConnectionId connection, const std::string& path) const {
    auto it = m_connections.find(connection);
    if (it == m_connections.end()) {
        return nullptr;
    }
    CFTPVI* node = it->second.site;
    std::size_t pos = 0;
    while (node != nullptr && pos < path.size()) {
        const std::size_t slash = path.find('/', pos);
        const std::string name =
            path.substr(pos, slash == std::string::npos ? std::string::npos : slash - pos);
        if (!name.empty()) {
            node = m_pModel->Child(node, name);
        }
        pos = slash == std::string::npos ? path.size() : slash + 1;
    }
    return node;
}

CFTPVI* CFolderTreeView::FindNode(const std::string& path) const {
    if (path.empty()) {
        return m_pModel->Root();
    }
    if (path.front() == '/') {
        return LocalNode(path);
    }
    CFTPVI* node = m_pModel->Root();
    std::size_t pos = 0;
    while (node != nullptr && pos < path.size()) {
        const std::size_t slash = path.find('/', pos);
        node = m_pModel->Child(
            node, path.substr(pos, slash == std::string::npos ? std::string::npos : slash - pos));
        pos = slash == std::string::npos ? path.size() : slash + 1;
    }
    return node;
}

void CFolderTreeView::SetRefreshPending(const CFTPVI* parent) {
    if (parent != nullptr && parent == Selection() && !m_session.App().IsRefreshPending()) {
        m_session.App().SetRefreshPending(true);
    }
}

// ---- Exploring -------------------------------------------------------------------

void CFolderTreeView::OnExpanded(const QModelIndex& index) {
    CFTPVI* node = m_pModel->NodeOf(index);
    if (node == nullptr || m_bQuietExpand || !node->IsRemoteContainer() ||
        node->Has(VIF_EXPLORED)) {
        return;
    }
    // Not listed yet: the node stays collapsed until its listing is in.
    collapse(index);
    if (IsBusy()) {
        return;
    }
    if (node->GetKind() == VI_SITE) {
        ConnectSite(node, true);
    } else {
        ExploreRemote(node, true);
    }
}

bool CFolderTreeView::ConnectSite(CFTPVI* node, bool expandWhenDone) {
    CFTPProfile* profile = m_session.GetProfile();
    if (node == nullptr || node->GetKind() != VI_SITE || profile == nullptr || IsBusy() ||
        ConnectionOf(node) != kNoConnection) {
        return false;
    }
    const CFTPSite* site = profile->FindSite(m_pModel->NodePath(node));
    if (site == nullptr) {
        return false;
    }
    // The proxy login is asked through the prompter when the settings lack it.
    class CPromptedProxyLogin : public ILoginProxyDialog {
    public:
        CPromptedProxyLogin(IPrompter& prompter, QWidget* parent)
            : m_prompter(prompter), m_pParent(parent) {}
        bool AskProxyLogin(ProxyLogin& login) override {
            return m_prompter.AskProxyLogin(m_pParent, login);
        }

    private:
        IPrompter& m_prompter;
        QWidget* m_pParent;
    } proxyDialog(m_prompter, this);
    std::optional<SiteConnectRequest> request =
        MakeSiteConnectRequest(*site, *profile, &proxyDialog);
    if (!request) {
        return false;
    }
    if (request->NeedsLogin()) {
        SiteDialogValues values;
        values.label = site->m_strLabel;
        values.host = site->m_strHost;
        values.anonymous = site->m_bAnonymous;
        values.user = request->user;
        values.password = request->password;
        values.port = site->m_nPort;
        values.folder = site->m_strLoginFolder;
        values.comments = site->m_strComments;
        values.insideFirewall = site->m_bInsideFirewall;
        values.security = site->m_security;
        if (!m_prompter.EditSite(this, values, SITE_LOGIN) || values.user.empty() ||
            values.password.empty()) {
            return false;
        }
        request->user = values.user;
        request->password = values.password;
    }
    const CFTPSession::Submitted sent =
        Submit(BUSY_CONNECTING, [&] { return m_session.Connect(*request); });
    if (!sent) {
        return false;
    }
    m_ops[sent.operation] = Pending{Op::Connect, node, expandWhenDone, {}, {}};
    m_connections[sent.connection] = Connection{node, site->m_strHost};
    node->SetMark(MARK_CONNECTING);
    m_pModel->Changed(node);
    return true;
}

bool CFolderTreeView::ExploreRemote(CFTPVI* node, bool expandWhenDone) {
    if (node == nullptr || !node->IsRemoteContainer() || IsBusy()) {
        return false;
    }
    if (ConnectionOf(m_pModel->SiteOf(node)) == kNoConnection) {
        return false;
    }
    const CFTPFile folder = RemoteRecord(node, false);
    const CFTPSession::Submitted sent =
        Submit(BUSY_EXPLORING, [&] { return m_session.Explore(folder); });
    if (!sent) {
        return false;
    }
    m_ops[sent.operation] = Pending{Op::Explore, node, expandWhenDone, {}, {}};
    node->SetMark(MARK_EXPLORING);
    m_pModel->Changed(node);
    return true;
}

void CFolderTreeView::ConnectExplore(CFTPVI* node) {
    if (node == nullptr) {
        return;
    }
    Select(node);
    if (node->IsRemoteContainer() && !node->Has(VIF_EXPLORED)) {
        const CFTPProfile* profile = m_session.GetProfile();
        if (profile == nullptr || !profile->m_bAutoExplore) {
            if (node->GetKind() == VI_SITE) {
                ConnectSite(node, false);
            } else {
                ExploreRemote(node, false);
            }
        }
        return;
    }
    ExpandQuietly(node);
}

void CFolderTreeView::currentChanged(const QModelIndex& current, const QModelIndex& previous) {
    QTreeView::currentChanged(current, previous);
    UpdateTitle();
    m_exploreTimer.start();
    Q_EMIT StateChanged();
}

void CFolderTreeView::OnSelectionTimer() {
    CFTPVI* node = Selection();
    if (node == nullptr) {
        return;
    }
    UpdateTitle();
    if (!node->IsRemoteContainer()) {
        if (node->IsLocalContainer()) {
            m_pModel->ExploreLocal(node);
        } else if (!node->Has(VIF_CHILDREN)) {
            m_pModel->ExploreLocal(node);
        }
        Q_EMIT SelectionSettled();
        return;
    }
    const CFTPProfile* profile = m_session.GetProfile();
    if (profile != nullptr && profile->m_bAutoExplore && !node->Has(VIF_EXPLORED) && !IsBusy()) {
        if (node->GetKind() == VI_SITE) {
            ConnectSite(node, false);
        } else {
            ExploreRemote(node, false);
        }
    }
    Q_EMIT SelectionSettled();
}

// ---- What the session reports ----------------------------------------------------

void CFolderTreeView::OnListing(const event::Listing& listing) {
    auto it = m_ops.find(listing.operation);
    if (it == m_ops.end() || it->second.node == nullptr) {
        return;
    }
    CFTPVI* node = it->second.node;
    CFTPVI* site = m_pModel->SiteOf(node);
    if (listing.connect) {
        auto conn = m_connections.find(listing.connection);
        if (conn == m_connections.end() || conn->second.site != node) {
            return; // the connection ended meanwhile
        }
        if (!listing.succeeded || !listing.content) {
            m_connections.erase(conn);
            return;
        }
        m_pModel->RemoveChildren(node);
        node->RemoveAllChildren();
    } else if (site == nullptr || ConnectionOf(site) != listing.connection) {
        return;
    }
    if (!listing.succeeded || !listing.content) {
        return;
    }
    node->SetMark(MARK_NONE);
    m_pModel->MergeListing(node, *listing.content);
    if (it->second.expand) {
        ExpandQuietly(node);
    }
    Q_EMIT StateChanged();
}

void CFolderTreeView::OnOperationEnded(const OperationReport& report) {
    auto it = m_ops.find(report.id);
    if (it == m_ops.end()) {
        return;
    }
    const Pending pending = it->second;
    m_ops.erase(it);
    if (pending.op == Op::Explore && pending.node != nullptr && !report.cancelled &&
        !pending.node->Has(VIF_EXPLORED) && !pending.node->GetLinkText().empty() && onFollowLink) {
        // A link that is no folder (CWD refused): its target as a file.
        const CFTPFile folder = RemoteRecord(pending.node, false);
        if (folder.IsRemote()) {
            const CFTPFile target(pending.node->GetLinkText(), folder.GetSite(), true);
            QTimer::singleShot(0, this, [this, target] {
                if (onFollowLink && !IsBusy()) {
                    onFollowLink(target);
                }
            });
        }
    }
    if (pending.node != nullptr) {
        if (pending.op == Op::Connect && !pending.node->Has(VIF_EXPLORED)) {
            // A connect that failed: the site is not connected.
            const ConnectionId id = ConnectionOf(pending.node);
            if (id != kNoConnection) {
                m_connections.erase(id);
                m_session.Disconnect(id);
            }
        }
        pending.node->SetMark(MARK_NONE);
        m_pModel->Changed(pending.node);
    }
    Q_EMIT StateChanged();
}

void CFolderTreeView::OnConnectionEnded(ConnectionId connection) {
    ConnectionLost(connection);
}

void CFolderTreeView::ConnectionLost(ConnectionId connection) {
    auto it = m_connections.find(connection);
    if (it == m_connections.end()) {
        return;
    }
    CFTPVI* site = it->second.site;
    m_connections.erase(it);
    for (auto& [id, pending] : m_ops) {
        if (pending.node != nullptr && m_pModel->IsAncestor(site, pending.node)) {
            pending.node->SetMark(MARK_NONE);
            pending.node = nullptr;
        }
    }
    CFTPVI* selection = Selection();
    if (selection != nullptr && selection != site && m_pModel->IsAncestor(site, selection)) {
        Select(site);
    }
    collapse(m_pModel->IndexOf(site));
    m_pModel->ResetToPlaceholder(site);
    Q_EMIT StateChanged();
}

void CFolderTreeView::OnItemsChanged(const event::ItemsChanged& changes) {
    for (const event::ItemChange& change : changes.changes) {
        const CFTPFile& item = change.item;
        const bool created = change.kind == event::ItemChange::Created;
        if (!item.IsRemote()) {
            const std::string path = item.m_strName.str();
            CFTPVI* parent = LocalNode(CFTPClipboard::FolderOf(path));
            if (parent == nullptr) {
                continue;
            }
            if (!item.m_bFile && parent->Has(VIF_CHILDREN)) {
                CFTPVI* existing = m_pModel->Child(parent, CFTPClipboard::NameOf(path));
                if (created && existing == nullptr) {
                    auto node = std::make_unique<CFTPVI>(
                        VI_LOCALFOLDER, CFTPClipboard::NameOf(path), std::time(nullptr), 0);
                    m_pModel->InsertNode(parent, std::move(node));
                } else if (!created && existing != nullptr) {
                    m_pModel->RemoveNode(existing);
                }
            }
            SetRefreshPending(parent);
            continue;
        }
        const std::string path = item.GetPath();
        CFTPVI* parent = RemoteFolderNode(item.m_nConnection, CFTPClipboard::FolderOf(path) == "/"
                                                                  ? std::string()
                                                                  : CFTPClipboard::FolderOf(path));
        if (parent == nullptr || !parent->Has(VIF_EXPLORED)) {
            continue;
        }
        const std::string name = CFTPClipboard::NameOf(path);
        if (item.m_bFile) {
            if (created) {
                parent->AddChild(
                    std::make_unique<CFTPVI>(VI_REMOTEFILE, name, std::time(nullptr), kUnknownSize),
                    true);
            } else {
                parent->RemoveChild(name);
            }
        } else {
            if (CFTPVI* existing = m_pModel->Child(parent, name)) {
                m_pModel->RemoveNode(existing);
            }
            if (created) {
                m_pModel->InsertNode(parent,
                                     std::make_unique<CFTPVI>(VI_REMOTEFOLDER, name,
                                                              std::time(nullptr), kUnknownSize));
            }
        }
        SetRefreshPending(parent);
    }
    Q_EMIT StateChanged();
}

void CFolderTreeView::OnRenamed(const event::Renamed& renamed) {
    for (auto it = m_ops.begin(); it != m_ops.end(); ++it) {
        Pending& pending = it->second;
        if (pending.op != Op::Rename || pending.node == nullptr ||
            pending.oldName != renamed.oldName || pending.newName != renamed.newName) {
            continue;
        }
        CFTPVI* node = pending.node;
        node->SetName(renamed.newName);
        m_pModel->SortChildren(node->m_pParent);
        m_pModel->Changed(node);
        if (node == Selection()) {
            UpdateTitle();
        }
        pending.node = nullptr;
        return;
    }
}

// ---- Label editing -----------------------------------------------------------------

bool CFolderTreeView::edit(const QModelIndex& index, EditTrigger trigger, QEvent* event) {
    CFTPVI* node = m_pModel->NodeOf(index);
    if (node == nullptr || !node->CanCutCopy() || IsBusy()) {
        return false;
    }
    if (!QTreeView::edit(index, trigger, event)) {
        return false;
    }
    m_session.App().SetBusyCode(BUSY_EDITING_LABEL);
    Q_EMIT StateChanged();
    return true;
}

void CFolderTreeView::closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint) {
    QTreeView::closeEditor(editor, hint);
    if (m_session.App().GetBusyCode() == BUSY_EDITING_LABEL) {
        m_session.App().SetBusyCode(BUSY_IDLE);
    }
    Q_EMIT StateChanged();
}

void CFolderTreeView::ReopenEditor(CFTPVI* node, const QString& text) {
    QMetaObject::invokeMethod(
        this,
        [this, node, text] {
            const QModelIndex index = m_pModel->IndexOf(node);
            if (!index.isValid() || !edit(index, QAbstractItemView::AllEditTriggers, nullptr)) {
                return;
            }
            if (auto* line = qobject_cast<QLineEdit*>(indexWidget(index))) {
                line->setText(text);
                line->selectAll();
            }
        },
        Qt::QueuedConnection);
}

bool CFolderTreeView::Rename(CFTPVI* node, const QString& text) {
    std::string name = text.toStdString();
    TrimSpaces(name);
    if (name.empty()) {
        Say(QStringLiteral("You must type a name!"), MB_OK);
        ReopenEditor(node, text);
        return false;
    }
    if (name == node->GetName()) {
        return false;
    }
    CFTPVI* parent = node->m_pParent;
    const bool taken = (m_pModel->Child(parent, name) != nullptr) || !parent->HasNoChild(name);
    if (taken) {
        Say(QStringLiteral("An item named \"%1\" already exists in the same folder!").arg(Q(name)),
            MB_OK);
        ReopenEditor(node, text);
        return false;
    }
    if (!CheckName(name, node->GetKind(), m_questions.get())) {
        ReopenEditor(node, text);
        return false;
    }
    const std::string oldName = node->GetName();
    switch (node->GetKind()) {
    case VI_SITEFOLDER:
    case VI_SITE: {
        CFTPSiteFolder* folder = m_pModel->ModelFolder(parent);
        const bool renamed =
            folder != nullptr && (node->GetKind() == VI_SITE
                                      ? folder->RenameSite(oldName, name, m_questions.get())
                                      : folder->RenameSiteFolder(oldName, name, m_questions.get()));
        if (!renamed) {
            ReopenEditor(node, text);
            return false;
        }
        break;
    }
    case VI_LOCALFOLDER: {
        const std::string from = m_pModel->LocalPath(node);
        std::string to = m_pModel->LocalPath(parent);
        if (to.empty() || to.back() != '/') {
            to.push_back('/');
        }
        to += name;
        struct stat info {};
        if (::lstat(to.c_str(), &info) == 0 || std::rename(from.c_str(), to.c_str()) != 0) {
            Say(QStringLiteral("Failed to rename local folder\n%1\nto\n%2").arg(Q(from), Q(to)),
                MB_OK);
            ReopenEditor(node, text);
            return false;
        }
        break;
    }
    case VI_REMOTEFOLDER: {
        const CFTPFile item = RemoteRecord(node, false);
        const CFTPSession::Submitted sent =
            Submit(BUSY_RENAMING, [&] { return m_session.Rename(item, name); });
        if (!sent) {
            ReopenEditor(node, text);
            return false;
        }
        m_ops[sent.operation] = Pending{Op::Rename, node, false, oldName, name};
        return false; // the node changes when the rename is reported
    }
    default:
        return false;
    }
    node->SetName(name);
    m_pModel->SortChildren(parent);
    m_pModel->Changed(node);
    if (node == Selection()) {
        UpdateTitle();
    }
    return true;
}

// ---- Commands -------------------------------------------------------------------

bool CFolderTreeView::CanRun(int id, CFTPVI* node) const {
    const bool fromMenu = node == nullptr;
    if (node == nullptr) {
        node = Selection();
    }
    if (node == nullptr || IsBusy()) {
        return false;
    }
    switch (id) {
    case ID_DELETE:
    case ID_RENAME:
    case ID_CUT:
    case ID_COPY:
        return node->CanCutCopy();
    case ID_PASTE:
        return !m_clip.IsEmpty();
    case ID_PROPERTIES:
        return true;
    case ID_CONNECT_EXPLORE:
        return !fromMenu || (!node->IsLocalContainer() && !node->Has(VIF_EXPLORED) &&
                             node->GetKind() != VI_SITEFOLDER && node->GetKind() != VI_ROOT);
    case ID_DISCONNECT:
        return node->GetKind() == VI_SITE && ConnectionOf(node) != kNoConnection;
    case ID_NEW_SITE_FOLDER:
    case ID_NEW_SITE:
        return node->AcceptsSites();
    case ID_NEW_FOLDER:
        return node->AcceptsFiles();
    case ID_UP_ONE_LEVEL:
        return node->GetKind() != VI_ROOT;
    case ID_REFRESH_REMOTE:
        return node->IsRemoteContainer();
    case ID_REFRESH_LOCAL:
    case ID_GO_TO:
        return true;
    default:
        return false;
    }
}

void CFolderTreeView::Run(int id, CFTPVI* node) {
    if (node == nullptr) {
        node = Selection();
    }
    if (!CanRun(id, node == Selection() ? nullptr : node)) {
        return;
    }
    switch (id) {
    case ID_DELETE:
        DeleteNode(node);
        break;
    case ID_CUT:
    case ID_COPY:
        CutCopyNode(node, id == ID_CUT);
        break;
    case ID_PASTE:
        PasteInto(node);
        break;
    case ID_RENAME:
        Select(node);
        edit(m_pModel->IndexOf(node), QAbstractItemView::AllEditTriggers, nullptr);
        break;
    case ID_PROPERTIES:
        Properties(node);
        break;
    case ID_CONNECT_EXPLORE:
        ConnectExplore(node);
        break;
    case ID_DISCONNECT:
        Disconnect(node, true);
        break;
    case ID_NEW_SITE_FOLDER:
        NewSiteFolder(node);
        break;
    case ID_NEW_SITE:
        NewSite(node);
        break;
    case ID_NEW_FOLDER:
        NewFolder(node);
        break;
    case ID_UP_ONE_LEVEL:
        UpOneLevel();
        break;
    case ID_REFRESH_LOCAL:
        RefreshLocal();
        break;
    case ID_REFRESH_REMOTE:
        RefreshRemote(node);
        break;
    default:
        break;
    }
    Q_EMIT StateChanged();
}

void CFolderTreeView::Disconnect(CFTPVI* node, bool confirm) {
    while (node != nullptr && node->GetKind() == VI_REMOTEFOLDER) {
        node = node->m_pParent;
    }
    const ConnectionId id = ConnectionOf(node);
    if (id == kNoConnection) {
        return;
    }
    const CFTPProfile* profile = m_session.GetProfile();
    if (confirm && profile != nullptr && profile->m_bConfirmDisconnect &&
        Say(QStringLiteral("Are you sure you want to disconnect from %1 ?")
                .arg(Q(m_connections[id].host)),
            MB_YESNO | MB_ICONQUESTION) != IDYES) {
        return;
    }
    m_session.Disconnect(id);
    ConnectionLost(id);
}

void CFolderTreeView::DeleteNode(CFTPVI* node) {
    m_scratch.Clear();
    m_scratch.Add(node->GetKind(), m_pModel->NodePath(node));
    DeleteItems(m_scratch);
}

void CFolderTreeView::NewSiteFolder(CFTPVI* node) {
    std::string label, comments;
    while (m_prompter.EditSiteFolder(this, label, comments, false)) {
        CFTPSiteFolder* folder = m_pModel->ModelFolder(node);
        if (folder == nullptr) {
            Say(QStringLiteral("Failed to find target FTP site folder!"), MB_OK);
            return;
        }
        if (folder->AddSiteFolder(std::make_unique<CFTPSiteFolder>(label, comments))) {
            if (!node->Has(VIF_CHILDREN)) {
                m_pModel->ExploreLocal(node); // brings the new one with the others
            } else {
                m_pModel->InsertNode(
                    node, std::make_unique<CFTPVI>(VI_SITEFOLDER, label, std::time(nullptr), 0));
            }
            return;
        }
        const std::string path = m_pModel->NodePath(node);
        if (Say(QStringLiteral("Failed to add new FTP Site Folder \"%1\" to\n%2\n\nAn item with "
                               "the same label already exists!")
                    .arg(Q(label), path.empty() ? kAppTitle : Q(path)),
                MB_RETRYCANCEL) != IDRETRY) {
            return;
        }
    }
}

void CFolderTreeView::NewSite(CFTPVI* node) {
    SiteDialogValues values;
    while (m_prompter.EditSite(this, values, SITE_NEW)) {
        CFTPSiteFolder* folder = m_pModel->ModelFolder(node);
        if (folder == nullptr) {
            Say(QStringLiteral("Failed to find target FTP site folder!"), MB_OK);
            return;
        }
        auto site =
            values.anonymous
                ? std::make_unique<CFTPSite>(values.label, values.host, values.insideFirewall,
                                             values.folder, values.port, values.comments)
                : std::make_unique<CFTPSite>(values.label, values.host, values.insideFirewall,
                                             values.user, values.password, values.folder,
                                             values.port, values.comments);
        site->m_security = values.security;
        if (folder->AddSite(std::move(site))) {
            if (!node->Has(VIF_CHILDREN)) {
                m_pModel->ExploreLocal(node);
            } else {
                m_pModel->InsertNode(
                    node, std::make_unique<CFTPVI>(VI_SITE, values.label, std::time(nullptr), 0));
            }
            return;
        }
        const std::string path = m_pModel->NodePath(node);
        if (Say(QStringLiteral("Failed to add new FTP site \"%1\" to\n%2\n\nAn item with the "
                               "same label already exists!")
                    .arg(Q(values.label), path.empty() ? kAppTitle : Q(path)),
                MB_RETRYCANCEL) != IDRETRY) {
            return;
        }
    }
}

void CFolderTreeView::NewFolder(CFTPVI* node) {
    NewFolderRequest request;
    request.questions = m_questions.get();
    if (node->IsLocalContainer()) {
        // The dialog creates the folder.
        request.location = m_pModel->LocalPath(node);
        if (!m_prompter.AskNewFolder(this, request).empty()) {
            m_pModel->ListLocal(node);
            Q_EMIT RefillContent();
        }
        return;
    }
    if (!node->IsRemoteContainer()) {
        return;
    }
    if (ConnectionOf(m_pModel->SiteOf(node)) == kNoConnection) {
        Say(QStringLiteral("Target is disconnected!\nPlease connect target first."), MB_OK);
        return;
    }
    request.remote = true;
    request.location = m_pModel->NodePath(node);
    for (const auto& child : node->m_nodes) {
        request.existing.insert(child->GetName());
    }
    if (const CFTPVIArray* files = node->GetChildren()) {
        for (std::size_t i = 0; i < files->GetSize(); ++i) {
            request.existing.insert(files->GetAt(i)->GetName());
        }
    }
    const std::string text = m_prompter.AskNewFolder(this, request);
    if (text.empty()) {
        return;
    }
    CFTPFile folder = RemoteRecord(node, false);
    const std::string base = m_pModel->RemotePath(node);
    CFTPFile record(base.empty() ? text : base + "/" + text, folder.GetSite(), false);
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    const CFTPSession::Submitted sent =
        Submit(BUSY_CREATING_FOLDER, [&] { return m_session.MakeFolder(record); });
    QGuiApplication::restoreOverrideCursor();
    if (sent) {
        m_ops[sent.operation] = Pending{Op::MakeFolder, node, false, {}, text};
    }
}

void CFolderTreeView::Properties(CFTPVI* node) {
    CFTPProfile* profile = m_session.GetProfile();
    switch (node->GetKind()) {
    case VI_ROOT:
        m_prompter.ShowAbout(this, AboutPage::Product, false);
        return;
    case VI_SITEFOLDER: {
        CFTPSiteFolder* folder = m_pModel->ModelFolder(node);
        if (folder == nullptr) {
            return;
        }
        std::string label = folder->m_strLabel;
        std::string comments = folder->m_strComments;
        if (m_prompter.EditSiteFolder(this, label, comments, true)) {
            folder->m_strComments = comments;
        }
        return;
    }
    case VI_SITE: {
        CFTPSite* site = profile == nullptr ? nullptr : profile->FindSite(m_pModel->NodePath(node));
        if (site == nullptr) {
            return;
        }
        SiteDialogValues values{
            site->m_strLabel,        site->m_strHost, site->m_bAnonymous,     site->m_strUser,
            site->m_strPassword,     site->m_nPort,   site->m_strLoginFolder, site->m_strComments,
            site->m_bInsideFirewall, site->m_security};
        if (m_prompter.EditSite(this, values, SITE_EDIT)) {
            site->m_strHost = values.host;
            site->m_bAnonymous = values.anonymous;
            site->m_strUser = values.anonymous ? std::string() : values.user;
            site->m_strPassword = values.anonymous ? std::string() : values.password;
            site->m_nPort = values.port;
            site->m_strLoginFolder = values.folder;
            site->m_strComments = values.comments;
            site->m_bInsideFirewall = values.insideFirewall;
            site->m_security = values.security;
        }
        return;
    }
    default:
        break;
    }
    ItemProperties item;
    item.kind = node->GetKind();
    item.name = node->GetName();
    item.modified = QString::fromStdString(node->TimeText());
    item.size = QString::fromStdString(node->SizeText());
    item.questions = m_questions.get();
    if (node->IsDrive()) {
        auto* drive = static_cast<CFTPVILocalDrive*>(node);
        drive->RefreshVolume(true);
        item.drive.label = drive->GetLabel();
        item.drive.mountPoint = drive->GetRootPath();
        item.drive.kind = node->GetKind();
        item.drive.ready = drive->IsReady();
        item.drive.free = drive->GetFreeBytes();
        item.drive.used = drive->GetUsedBytes();
        item.drive.total = item.drive.free + item.drive.used;
        item.location = drive->GetRootPath();
    } else {
        const bool local = node->GetKind() == VI_LOCALFOLDER || node->GetKind() == VI_LOCALFILE;
        std::string path = local ? m_pModel->LocalPath(node) : m_pModel->RemotePath(node);
        while (path.size() > 1 && path.back() == '/') {
            path.pop_back();
        }
        const std::size_t slash = path.rfind('/');
        item.location = slash == std::string::npos ? std::string()
                        : slash == 0               ? std::string("/")
                                                   : path.substr(0, slash);
        if (!local && node->m_pParent != nullptr) {
            // Remote locations show the site too, as the views name them.
            item.location = m_pModel->NodePath(node->m_pParent);
        }
    }
    m_prompter.ShowProperties(this, item);
}

void CFolderTreeView::UpOneLevel() {
    CFTPVI* node = Selection();
    if (node != nullptr && node->GetKind() != VI_ROOT) {
        Select(node->m_pParent);
    }
}

void CFolderTreeView::RefreshLocal() {
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    std::vector<CFTPVI*> stack;
    for (const auto& child : m_pModel->Root()->m_nodes) {
        stack.push_back(child.get());
    }
    while (!stack.empty()) {
        CFTPVI* node = stack.back();
        stack.pop_back();
        if (!node->IsLocalContainer()) {
            continue;
        }
        if (isExpanded(m_pModel->IndexOf(node))) {
            if (node->IsDrive()) {
                static_cast<CFTPVILocalDrive*>(node)->RefreshVolume(true);
                m_pModel->Changed(node);
            }
            m_pModel->ListLocal(node);
            for (const auto& child : node->m_nodes) {
                stack.push_back(child.get());
            }
        } else if (node->Has(VIF_CHILDREN)) {
            m_pModel->RemoveChildren(node);
            node->ClearState(VIF_CHILDREN);
        }
    }
    QGuiApplication::restoreOverrideCursor();
}

void CFolderTreeView::RefreshRemote(CFTPVI* node) {
    if (node->GetKind() == VI_SITE && !node->Has(VIF_EXPLORED)) {
        ConnectSite(node, true);
    } else {
        ExploreRemote(node, true);
    }
}

bool CFolderTreeView::GoTo(const QString& text) {
    std::string path = text.toStdString();
    if (!path.empty() && path.back() == '/' && path.size() > 1) {
        path.pop_back();
    }
    CFTPVI* node = m_pModel->Root();
    std::size_t pos = 0;
    if (!path.empty() && path.front() == '/') {
        // A local path: the drive with the longest mount point holding it.
        CFTPVI* drive = nullptr;
        std::size_t length = 0;
        for (const auto& child : node->m_nodes) {
            if (!child->IsDrive()) {
                continue;
            }
            const std::string& mount =
                static_cast<const CFTPVILocalDrive*>(child.get())->GetRootPath();
            const bool holds = path == mount || (path.rfind(mount, 0) == 0 &&
                                                 (mount == "/" || path[mount.size()] == '/'));
            if (holds && mount.size() >= length) {
                drive = child.get();
                length = mount.size();
            }
        }
        if (drive == nullptr) {
            return false;
        }
        node = drive;
        pos = length;
    }
    while (pos < path.size()) {
        if (path[pos] == '/') {
            ++pos;
            continue;
        }
        const std::size_t slash = path.find('/', pos);
        const std::string name =
            path.substr(pos, slash == std::string::npos ? std::string::npos : slash - pos);
        pos = slash == std::string::npos ? path.size() : slash + 1;
        // Expanding explores (a remote level not listed yet starts its
        // listing and has no children yet).
        if (node->IsRemoteContainer() && !node->Has(VIF_EXPLORED)) {
            expand(m_pModel->IndexOf(node));
            return false;
        }
        if (m_pModel->canFetchMore(m_pModel->IndexOf(node))) {
            m_pModel->fetchMore(m_pModel->IndexOf(node));
        }
        ExpandQuietly(node);
        CFTPVI* match = nullptr;
        for (const auto& child : node->m_nodes) {
            const bool noCase = child->IsLocalContainer();
            if (noCase ? QString::fromStdString(child->GetName())
                                 .compare(QString::fromStdString(name), Qt::CaseInsensitive) == 0
                       : child->GetName() == name) {
                // An exact match wins over one that differs in case.
                if (match == nullptr || child->GetName() == name) {
                    match = child.get();
                }
            }
        }
        if (match == nullptr) {
            return false;
        }
        node = match;
    }
    Select(node);
    return true;
}

// ---- Dragging -----------------------------------------------------------------

bool CFolderTreeView::CanDropOn(const CFTPVI* source, const CFTPVI* target) const {
    if (source == nullptr || target == nullptr || target == source->m_pParent ||
        m_pModel->IsAncestor(source, target)) {
        return false;
    }
    switch (source->GetKind()) {
    case VI_SITEFOLDER:
    case VI_SITE:
        return target->AcceptsSites();
    case VI_LOCALFOLDER:
    case VI_REMOTEFOLDER:
        return target->AcceptsFiles();
    default:
        return false;
    }
}

bool CFolderTreeView::CanDropRowsOn(const CFTPVI* target) const {
    const RowDrag& rows = m_rowDrag;
    if (target == nullptr || rows.kinds.empty() || target == rows.shown) {
        return false;
    }
    bool sites = false;
    bool files = false;
    for (std::uint16_t kind : rows.kinds) {
        const bool site = kind == VI_SITE || kind == VI_SITEFOLDER;
        sites = sites || site;
        files = files || !site;
    }
    if (sites == files) {
        return false; // a mixed selection drops nowhere
    }
    for (const CFTPVI* node : rows.nodes) {
        if (node != nullptr && (node == target || m_pModel->IsAncestor(node, target))) {
            return false;
        }
    }
    return sites ? target->AcceptsSites() : target->AcceptsFiles();
}

bool CFolderTreeView::CanDrop(const QMimeData* mime, const CFTPVI* target) const {
    if (IsBusy() || target == nullptr) {
        return false;
    }
    if (mime->hasFormat(QString::fromLatin1(CFolderTreeModel::kNodeMime))) {
        return m_pDragSource != nullptr && CanDropOn(m_pDragSource, target);
    }
    if (mime->hasFormat(QString::fromLatin1(CFolderTreeModel::kRowsMime))) {
        return m_rowDrag.fill && CanDropRowsOn(target);
    }
    if (mime->hasUrls()) {
        for (const QUrl& url : mime->urls()) {
            if (!url.isLocalFile()) {
                return false;
            }
        }
        // Files of the desktop go where they can go now: a site must be
        // connected already.
        return target->IsLocalContainer() ||
               (target->IsRemoteContainer() &&
                ConnectionOf(m_pModel->SiteOf(const_cast<CFTPVI*>(target))) != kNoConnection);
    }
    return false;
}

void CFolderTreeView::Drop(const QMimeData* mime, CFTPVI* target) {
    // What is dragged is taken now: the menu runs an event loop, in which
    // the drag's source may go.
    CFTPClipboard& clip = m_scratch;
    clip.Clear();
    if (mime->hasFormat(QString::fromLatin1(CFolderTreeModel::kNodeMime))) {
        if (m_pDragSource == nullptr) {
            return;
        }
        clip.Add(m_pDragSource->GetKind(), m_pModel->NodePath(m_pDragSource));
    } else if (mime->hasFormat(QString::fromLatin1(CFolderTreeModel::kRowsMime))) {
        if (!m_rowDrag.fill) {
            return;
        }
        m_rowDrag.fill(clip);
    } else {
        for (const QUrl& url : mime->urls()) {
            QString path = url.toLocalFile();
            while (path.size() > 1 && path.endsWith(QLatin1Char('/'))) {
                path.chop(1);
            }
            struct stat info {};
            const std::string local = path.toStdString();
            const bool folder = ::stat(local.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
            clip.Add(folder ? VI_LOCALFOLDER : VI_LOCALFILE, local);
        }
    }
    QPointer<CFolderTreeView> self(this);
    const QModelIndex where = m_pModel->IndexOf(target);
    const int choice = m_prompter.AskDropAction(this, QCursor::pos());
    // The target may have gone while the menu was open.
    if (self.isNull() || choice == ID_CANCEL_DROP || choice == 0 ||
        m_pModel->NodeOf(QPersistentModelIndex(where)) != target) {
        clip.Clear();
        return;
    }
    Paste(clip, target, choice == ID_MOVE_HERE);
    clip.Clear();
}

void CFolderTreeView::startDrag(Qt::DropActions actions) {
    CFTPVI* node = Selection();
    if (IsBusy() || node == nullptr ||
        (node->GetKind() != VI_SITEFOLDER && node->GetKind() != VI_SITE &&
         node->GetKind() != VI_LOCALFOLDER && node->GetKind() != VI_REMOTEFOLDER)) {
        return;
    }
    m_pDragSource = node;
    QTreeView::startDrag(actions);
    m_pDragSource = nullptr;
}

void CFolderTreeView::PasteNode(CFTPVI* source, CFTPVI* target, bool move) {
    if (!CanDropOn(source, target)) {
        return;
    }
    m_scratch.Clear();
    m_scratch.Add(source->GetKind(), m_pModel->NodePath(source));
    Paste(m_scratch, target, move);
    m_scratch.Clear();
}

void CFolderTreeView::PastePaths(const std::vector<std::string>& paths, CFTPVI* target, bool move) {
    m_scratch.Clear();
    for (const std::string& path : paths) {
        struct stat info {};
        const bool folder = ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
        m_scratch.Add(folder ? VI_LOCALFOLDER : VI_LOCALFILE, path);
    }
    Paste(m_scratch, target, move);
    m_scratch.Clear();
}

// ---- Keys and mouse --------------------------------------------------------------

void CFolderTreeView::keyPressEvent(QKeyEvent* event) {
    if (IsWorking() && event->key() != Qt::Key_Escape) {
        event->accept();
        return;
    }
    if (IsContextMenuKey(event) && state() != QAbstractItemView::EditingState) {
        QContextMenuEvent menu(QContextMenuEvent::Keyboard,
                               visualRect(currentIndex()).bottomRight(),
                               viewport()->mapToGlobal(visualRect(currentIndex()).bottomRight()));
        contextMenuEvent(&menu);
        event->accept();
        return;
    }
    switch (event->key()) {
    case Qt::Key_Escape:
        if (!IsWorking() && m_clip.IsCut() && state() != QAbstractItemView::EditingState) {
            CancelCut();
            event->accept();
            return;
        }
        break;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (state() != QAbstractItemView::EditingState) {
            Run(ID_CONNECT_EXPLORE);
            event->accept();
            return;
        }
        break;
    case Qt::Key_Right:
        if (CFTPVI* node = Selection(); node != nullptr && node->IsRemoteContainer() &&
                                        !node->Has(VIF_EXPLORED) && event->modifiers() == 0) {
            expand(currentIndex());
            event->accept();
            return;
        }
        break;
    default:
        break;
    }
    QTreeView::keyPressEvent(event);
}

void CFolderTreeView::mousePressEvent(QMouseEvent* event) {
    if (IsWorking() && hasFocus()) {
        event->accept();
        return;
    }
    QTreeView::mousePressEvent(event);
}

void CFolderTreeView::mouseDoubleClickEvent(QMouseEvent* event) {
    if (IsWorking()) {
        event->accept();
        return;
    }
    QTreeView::mouseDoubleClickEvent(event);
}

void CFolderTreeView::contextMenuEvent(QContextMenuEvent* event) {
    if (IsBusy()) {
        return;
    }
    QModelIndex index;
    QPoint at;
    if (event->reason() == QContextMenuEvent::Keyboard) {
        index = currentIndex();
        const QRect rect = visualRect(index);
        at = viewport()->mapToGlobal(rect.bottomRight());
    } else {
        index = indexAt(event->pos());
        at = event->globalPos();
    }
    CFTPVI* node = m_pModel->NodeOf(index);
    if (node == nullptr) {
        return;
    }
    QMenu menu(this);
    const struct {
        int id;
        const char* text;
    } items[] = {
        {ID_CONNECT_EXPLORE, "Connect/Explore"},
        {ID_DISCONNECT, "Disconnect"},
        {0, nullptr},
        {ID_CUT, "Cut"},
        {ID_COPY, "Copy"},
        {ID_PASTE, "Paste"},
        {0, nullptr},
        {ID_NEW_SITE_FOLDER, "New FTP Site Folder..."},
        {ID_NEW_SITE, "New FTP Site..."},
        {ID_NEW_FOLDER, "New File Folder..."},
        {0, nullptr},
        {ID_DELETE, "Delete"},
        {ID_RENAME, "Rename"},
        {ID_PROPERTIES, "Properties..."},
    };
    // A node other than the selection counts as given by the menu.
    const bool isSelection = node == Selection();
    for (const auto& item : items) {
        if (item.id == 0) {
            menu.addSeparator();
            continue;
        }
        QAction* action = menu.addAction(QString::fromUtf8(item.text));
        action->setEnabled(
            CanRun(item.id, isSelection && item.id == ID_CONNECT_EXPLORE ? nullptr : node));
        const int id = item.id;
        connect(action, &QAction::triggered, this, [this, id, node] { Run(id, node); });
    }
    menu.exec(at);
}

} // namespace qb::ui
