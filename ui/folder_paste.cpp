// The folder tree's clipboard commands: cut, copy, paste and delete of what
// the program's clipboard holds, and the paste that ends a drag.
#include "app/session.h"
#include "folder_view.h"
#include "local_dialogs.h"
#include "platform/questions.h"
#include "profile/profile.h"

#include <QGuiApplication>
#include <set>

namespace qb::ui {

namespace {

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

QString Shown(const std::string& path) {
    return path.empty() ? kAppTitle : CFolderTreeModel::ShownName(path);
}

} // namespace

// ---- Cut and copy ------------------------------------------------------------------

void CFolderTreeView::CutCopyNode(CFTPVI* node, bool cut) {
    if (node == nullptr || !node->CanCutCopy()) {
        return;
    }
    CancelCut();
    m_clip.Clear();
    m_clip.Add(node->GetKind(), m_pModel->NodePath(node));
    m_clip.SetCut(cut, true);
    if (cut) {
        m_pModel->SetCutNode(node);
    }
    Q_EMIT StateChanged();
}

void CFolderTreeView::CancelCut(bool keepContent) {
    if (m_clip.IsCut()) {
        if (m_clip.IsCutFromTree()) {
            m_pModel->SetCutNode(nullptr);
        } else {
            Q_EMIT RowCutCancelled();
        }
        if (!keepContent) {
            m_clip.Clear();
        }
    }
    Q_EMIT StateChanged();
}

// ---- Paste -----------------------------------------------------------------------

void CFolderTreeView::PasteInto(CFTPVI* target) {
    if (m_clip.IsEmpty() || target == nullptr) {
        return;
    }
    const bool cut = m_clip.IsCut();
    const bool pasted = Paste(m_clip, target, cut);
    if (cut) {
        // A cut goes once; after a paste that did not go ahead only the
        // marks go and the content may be pasted elsewhere.
        CancelCut(!pasted);
    }
    Q_EMIT StateChanged();
}

bool CFolderTreeView::Paste(CFTPClipboard& clip, CFTPVI* target, bool move) {
    if (target == nullptr || clip.IsEmpty()) {
        return false;
    }
    if (target->GetKind() == VI_SITE && !target->Has(VIF_EXPLORED)) {
        Say(QStringLiteral("Target is disconnected.\nPlease connect target first!"), MB_OK);
        return false;
    }
    if (clip.IsLocalContent()) {
        if (target->IsLocalContainer()) {
            return PasteLocal(clip, target, move);
        }
        if (target->IsRemoteContainer()) {
            return PasteTransfer(clip, target, move);
        }
        Say(QStringLiteral("Cannot paste local file/folder to target!"), MB_OK);
        return false;
    }
    if (clip.IsRemoteContent()) {
        if (target->IsLocalContainer() || target->IsRemoteContainer()) {
            return PasteTransfer(clip, target, move);
        }
        Say(QStringLiteral("Cannot paste remote file/folder to target!"), MB_OK);
        return false;
    }
    if (clip.IsSiteContent() && target->AcceptsSites()) {
        return PasteSites(clip, target, move);
    }
    Say(QStringLiteral("Cannot paste site/site folder to target!"), MB_OK);
    return false;
}

std::optional<CFTPFile> CFolderTreeView::ResolveRemote(const std::string& path, bool isFile) const {
    // The site is the first node along the path that is one.
    for (std::size_t slash = path.find('/'); slash != std::string::npos;
         slash = path.find('/', slash + 1)) {
        CFTPVI* node = FindNode(path.substr(0, slash));
        if (node == nullptr) {
            return std::nullopt;
        }
        if (node->GetKind() != VI_SITE) {
            continue;
        }
        const ConnectionId id = ConnectionOf(node);
        auto it = m_connections.find(id);
        if (id == kNoConnection || it == m_connections.end()) {
            return std::nullopt;
        }
        return CFTPFile(path.substr(slash + 1), SiteRef{id, it->second.host}, isFile);
    }
    return std::nullopt;
}

bool CFolderTreeView::SkipRefused(const std::string& entry, const std::string& targetPath) {
    return Say(QStringLiteral("Cannot paste\n%1\nto folder\n%2")
                   .arg(Shown(entry), Shown(targetPath)),
               MB_OKCANCEL) == IDOK;
}

bool CFolderTreeView::ConfirmPaste(const CFTPClipboard& clip, const std::string& targetPath,
                                   bool move) {
    const CFTPProfile* profile = m_session.GetProfile();
    const bool ask =
        profile == nullptr || (move ? profile->m_bConfirmMove : profile->m_bConfirmCopy);
    return !ask || m_prompter.ConfirmMove(this, Shown(clip.Describe()), Shown(targetPath), move);
}

bool CFolderTreeView::PasteLocal(CFTPClipboard& clip, CFTPVI* target, bool move) {
    const std::string targetPath = m_pModel->LocalPath(target);
    if (!ConfirmPaste(clip, targetPath, move)) {
        return false;
    }
    clip.ResetPositions();
    clip.SetTarget(target->GetKind(), targetPath, CFTPFile(targetPath, SiteRef{}, false));
    std::vector<CLFSFile> items;
    CFTPFile record("", SiteRef{}, false);
    CFTPClipboard::Step step;
    while ((step = clip.Next(record, {}, [&](const std::string& entry) {
               return SkipRefused(entry, targetPath);
           })) == CFTPClipboard::Step::Record) {
        items.emplace_back(record.m_strName.str(),
                           record.m_bFile ? CLFSFile::KIND_FILE : CLFSFile::KIND_FOLDER);
    }
    clip.ResetPositions();
    clip.SetTarget(0, {}, std::nullopt);
    if (step == CFTPClipboard::Step::Stop || items.empty()) {
        return false;
    }
    std::vector<std::string> touched{targetPath};
    int result = IDCANCEL;
    {
        CFTPCopyDlg dialog(this, m_questions.get(), m_replace.get());
        CLFSData& work = dialog.Data();
        work.m_bMove = move;
        work.m_fileSourceFolder.m_strPath = CFTPClipboard::FolderOf(items.front().m_strPath);
        work.m_fileDestFolder.m_strPath = targetPath;
        work.m_pNotifier = m_session.Notifier();
        for (CLFSFile& item : items) {
            if (move) {
                touched.push_back(CFTPClipboard::FolderOf(item.m_strPath));
            }
            work.m_arrSource.Add(std::move(item));
        }
        m_session.App().SetLocalOperation(true);
        result = dialog.Run();
        m_session.App().SetLocalOperation(false);
    }
    RelistLocal(touched);
    Q_EMIT RefillContent();
    return result == IDOK;
}

bool CFolderTreeView::PasteTransfer(CFTPClipboard& clip, CFTPVI* target, bool move) {
    const bool local = target->IsLocalContainer();
    const std::string targetPath = m_pModel->NodePath(target);
    const CFTPFile dest =
        local ? CFTPFile(targetPath, SiteRef{}, false) : RemoteRecord(target, false);
    if (!local && !dest.IsRemote()) {
        Say(QStringLiteral("Target is disconnected.\nPlease connect target first!"), MB_OK);
        return false;
    }
    if (!ConfirmPaste(clip, targetPath, move)) {
        return false;
    }
    clip.ResetPositions();
    clip.SetTarget(target->GetKind(), targetPath, dest);
    std::vector<CFTPFile> items;
    CFTPFile record("", SiteRef{}, false);
    CFTPClipboard::Step step;
    while (
        (step = clip.Next(
             record,
             [this](const std::string& path, bool isFile) { return ResolveRemote(path, isFile); },
             [&](const std::string& entry) { return SkipRefused(entry, targetPath); })) ==
        CFTPClipboard::Step::Record) {
        items.push_back(std::move(record));
        record = CFTPFile("", SiteRef{}, false);
    }
    clip.ResetPositions();
    clip.SetTarget(0, {}, std::nullopt);
    if (step == CFTPClipboard::Step::Stop || items.empty()) {
        return false;
    }
    const CFTPSession::Submitted sent = Submit(
        move ? BUSY_MOVING : BUSY_COPYING, [&] { return m_session.CopyItems(items, dest, move); });
    if (!sent) {
        return false;
    }
    m_ops[sent.operation] = Pending{Op::Copy, target, false, {}, {}};
    return true;
}

bool CFolderTreeView::PasteSites(CFTPClipboard& clip, CFTPVI* target, bool move) {
    const std::string targetPath = m_pModel->NodePath(target);
    CFTPSiteFolder* to = m_pModel->ModelFolder(target);
    CFTPProfile* profile = m_session.GetProfile();
    if (to == nullptr || profile == nullptr) {
        Say(QStringLiteral("Failed to find target FTP Site Folder!"), MB_OK);
        return false;
    }
    if (!ConfirmPaste(clip, targetPath, move)) {
        return false;
    }
    bool pasted = false;
    for (int list : {CFTPClipboard::SITE_FOLDERS, CFTPClipboard::SITES}) {
        const bool isSite = list == CFTPClipboard::SITES;
        for (const std::string& path : clip.Entries(static_cast<CFTPClipboard::List>(list))) {
            const std::string label = CFTPClipboard::NameOf(path);
            CFTPSiteFolder* from = profile->FindSiteFolder(CFTPClipboard::FolderOf(path));
            const CFTPSite* site = isSite ? profile->FindSite(path) : nullptr;
            const CFTPSiteFolder* folder = isSite ? nullptr : profile->FindSiteFolder(path);
            if (from == nullptr || (site == nullptr && folder == nullptr)) {
                if (Say((isSite ? QStringLiteral("Failed to find source FTP Site\n%1")
                                : QStringLiteral("Failed to find source FTP Site Folder\n%1"))
                            .arg(Shown(path)),
                        MB_OKCANCEL) != IDOK) {
                    return pasted;
                }
                continue;
            }
            // A site folder never goes into itself or a folder of its own:
            // the move would delete the target with the source.
            if (!isSite && (targetPath == path || targetPath.rfind(path + "/", 0) == 0)) {
                if (!SkipRefused(path, targetPath)) {
                    return pasted;
                }
                continue;
            }
            const bool added = isSite ? to->AddSiteCopy(*site) : to->AddSiteFolderCopy(*folder);
            if (!added) {
                if (Say((isSite
                             ? QStringLiteral("Cannot paste FTP Site \"%1\" to\n%2\nAn item with "
                                              "the same label already exists.")
                             : QStringLiteral("Cannot paste FTP Site Folder \"%1\" to\n%2\nAn "
                                              "item with the same label already exists."))
                            .arg(Q(label), Shown(targetPath)),
                        MB_OKCANCEL) != IDOK) {
                    return pasted;
                }
                continue;
            }
            pasted = true;
            const std::time_t created = isSite ? site->m_timeCreated : folder->m_timeCreated;
            if (move) {
                if (CFTPVI* source = FindNode(path); source != nullptr) {
                    RemoveSiteNode(source);
                } else if (isSite) {
                    from->RemoveSite(label);
                } else {
                    from->RemoveSiteFolder(label);
                }
            }
            if (!target->Has(VIF_CHILDREN)) {
                m_pModel->ExploreLocal(target); // brings the copy with the others
            } else if (m_pModel->Child(target, label) == nullptr) {
                m_pModel->InsertNode(
                    target,
                    std::make_unique<CFTPVI>(isSite ? VI_SITE : VI_SITEFOLDER, label, created, 0));
            }
        }
    }
    m_pModel->SortChildren(target);
    return pasted;
}

// ---- Delete -----------------------------------------------------------------------

bool CFolderTreeView::RemoveSiteNode(CFTPVI* node) {
    const bool isSite = node->GetKind() == VI_SITE;
    CFTPSiteFolder* folder = m_pModel->ModelFolder(node->m_pParent);
    if (folder == nullptr) {
        Say(isSite ? QStringLiteral("Failed to find deleting FTP Site!")
                   : QStringLiteral("Failed to find deleting FTP Site Folder!"),
            MB_OK);
        return false;
    }
    const std::string label = node->GetName();
    if (isSite && ConnectionOf(node) != kNoConnection) {
        Disconnect(node, false);
    }
    m_pModel->RemoveNode(node);
    if (isSite) {
        folder->RemoveSite(label);
    } else {
        folder->RemoveSiteFolder(label);
    }
    return true;
}

void CFolderTreeView::RelistLocal(const std::vector<std::string>& folders) {
    std::set<CFTPVI*> done;
    for (const std::string& path : folders) {
        CFTPVI* node = FindNode(path);
        if (node != nullptr && node->IsLocalContainer() && done.insert(node).second) {
            m_pModel->ListLocal(node);
        }
    }
}

void CFolderTreeView::DeleteItems(CFTPClipboard& clip) {
    const CFTPProfile* profile = m_session.GetProfile();
    const bool confirm = profile == nullptr || profile->m_bConfirmDelete;
    if (clip.IsEmpty() || (confirm && !m_prompter.ConfirmDelete(this, Shown(clip.Describe())))) {
        clip.Clear();
        return;
    }
    clip.SetDelete(true);
    clip.ResetPositions();
    if (clip.IsSiteContent()) {
        for (int list : {CFTPClipboard::SITE_FOLDERS, CFTPClipboard::SITES}) {
            for (const std::string& path : clip.Entries(static_cast<CFTPClipboard::List>(list))) {
                if (CFTPVI* node = FindNode(path); node != nullptr) {
                    RemoveSiteNode(node);
                } else {
                    Say(list == CFTPClipboard::SITES
                            ? QStringLiteral("Failed to find deleting FTP Site!")
                            : QStringLiteral("Failed to find deleting FTP Site Folder!"),
                        MB_OK);
                }
            }
        }
        clip.Clear();
        Q_EMIT StateChanged();
        return;
    }
    std::vector<CFTPFile> records;
    CFTPFile record("", SiteRef{}, false);
    while (clip.Next(
               record,
               [this](const std::string& path, bool isFile) { return ResolveRemote(path, isFile); },
               {}) == CFTPClipboard::Step::Record) {
        records.push_back(std::move(record));
        record = CFTPFile("", SiteRef{}, false);
    }
    const bool local = clip.IsLocalContent();
    // The node the request is remembered by (a folder of the tree).
    CFTPVI* first = nullptr;
    for (int list : {CFTPClipboard::REMOTE_FOLDERS, CFTPClipboard::REMOTE_FILES}) {
        const auto& entries = clip.Entries(static_cast<CFTPClipboard::List>(list));
        if (first == nullptr && !entries.empty()) {
            first = FindNode(entries.front());
        }
    }
    clip.Clear();
    if (records.empty()) {
        return;
    }
    if (local) {
        // The local delete worker, behind its progress dialog; what it
        // deletes comes back as changes.
        std::vector<std::string> folders;
        {
            CFTPDeleteDlg dialog(this, m_questions.get());
            for (const CFTPFile& item : records) {
                const std::string path = item.m_strName.str();
                folders.push_back(CFTPClipboard::FolderOf(path));
                dialog.Data().m_arrSource.Add(
                    CLFSFile(path, item.m_bFile ? CLFSFile::KIND_FILE : CLFSFile::KIND_FOLDER));
            }
            dialog.Data().m_pNotifier = m_session.Notifier();
            m_session.App().SetLocalOperation(true);
            dialog.Run();
            m_session.App().SetLocalOperation(false);
        }
        RelistLocal(folders);
        Q_EMIT RefillContent();
        return;
    }
    const CFTPSession::Submitted sent =
        Submit(BUSY_DELETING, [&] { return m_session.Delete(records); });
    if (sent) {
        m_ops[sent.operation] = Pending{Op::Delete, first, false, {}, {}};
    }
}

} // namespace qb::ui
