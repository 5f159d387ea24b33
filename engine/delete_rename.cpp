// Delete (files, and folders with everything in them) and rename.
#include "dispatch/actions.h"
#include "dispatch/manager.h"
#include "engine/machines.h"
#include "engine/steps.h"

namespace qb {

namespace {

using K = CFTPConstants;

// "RMD" of the folder, or "CDUP" first when it is the working folder.
void RemoveFolder(CFTPRemoteManager& c, CFTPActionDel& del) {
    if (c.m_pWorkFolder && CFTPFile::IsSame(*c.m_pWorkFolder, *del.m_pFile)) {
        c.SendCommand(K::CMD_CDUP, std::string());
        c.SetStep(del, STEP_DEL_CDUP);
    } else {
        c.SendCommand(K::CMD_RMD, del.m_pFile->GetPath());
        c.SetStep(del, STEP_DEL_SEND);
    }
}

void StartDel(CFTPRemoteManager& c, CFTPAction& action) {
    auto& del = static_cast<CFTPActionDel&>(action);
    if (!del.m_pFile) {
        c.Fail(K::RESULT_FAILED, 0, {});
        return;
    }
    if (del.m_nStep == STEP_DEL_FIRST) {
        if (del.m_pFile->m_bFile) {
            c.SendCommand(K::CMD_DELE, del.m_pFile->GetPath());
            c.SetStep(del, STEP_DEL_SEND);
        } else if (del.m_bContentGone) {
            RemoveFolder(c, del);
        } else {
            del.m_pSubAction = std::make_unique<CFTPActionDir>(del.m_nID, del.m_pCallerData,
                                                               del.m_pFile.get(), true, false);
            if (!c.GetManager()->PushFront(&c, del.m_pSubAction.get())) {
                del.DeleteSubAction();
                c.Fail(K::RESULT_FAILED, 0, {});
                return;
            }
            c.SetStep(del, STEP_DEL_LIST);
            c.m_pAction = nullptr;
        }
        return;
    }
    if (del.m_nStep == STEP_DEL_LIST) {
        const CFTPFolderContent* content = del.GetFolderContent();
        if (!content) {
            c.Fail(K::RESULT_FAILED, 0, {});
            return;
        }
        // Queued at the head one by one: files run first (last listed
        // first), then the subfolders.
        auto queue = [&](const CFTPFileArray& items) {
            for (std::size_t i = 0; i < items.GetSize(); ++i) {
                c.GetManager()->PushFront(&c, std::make_unique<CFTPActionDel>(
                                                  del.m_nID, del.m_pCallerData, items.GetAt(i)));
            }
        };
        queue(content->GetFolders());
        queue(content->GetFiles());
        del.DeleteSubAction();
        c.SetStep(del, STEP_DEL_CONTENT);
        c.m_pAction = nullptr;
        return;
    }
    if (del.m_nStep == STEP_DEL_CONTENT) {
        RemoveFolder(c, del);
        return;
    }
    c.Fail(K::RESULT_FAILED, 0, {});
}

void NotifyDeleted(CFTPRemoteManager& c, const CFTPActionDel& del) {
    if (del.m_pFile->m_bFile) {
        c.GetFrontEnd().Notifier().NotifyRemoteFileDeleted(*del.m_pFile);
    } else {
        c.GetFrontEnd().Notifier().NotifyRemoteFolderDeleted(*del.m_pFile);
    }
}

void ReplyDel(CFTPRemoteManager& c, CFTPAction& action, const ReplyLines& lines, unsigned code) {
    auto& del = static_cast<CFTPActionDel&>(action);
    if (del.m_nStep == STEP_DEL_CDUP && code == 250) {
        c.m_pWorkFolder->ToParent();
        c.m_strWorkRealPath.clear();
        c.SendCommand(K::CMD_RMD, del.m_pFile->GetPath());
        c.SetStep(del, STEP_DEL_SEND);
        return;
    }
    if (del.m_nStep == STEP_DEL_SEND && (code == 200 || code == 250)) {
        NotifyDeleted(c, del);
        c.FinishAction();
        return;
    }
    c.Fail(K::RESULT_FAILED, code, lines);
}

void LateDel(CFTPRemoteManager& c, CFTPAction& action, const ReplyLines&, unsigned code) {
    auto& del = static_cast<CFTPActionDel&>(action);
    if (code != 250 || !del.m_pFile) {
        return;
    }
    if (del.m_nStep == STEP_DEL_CDUP && c.m_pWorkFolder) {
        c.m_pWorkFolder->ToParent();
        c.m_strWorkRealPath.clear();
    } else if (del.m_nStep == STEP_DEL_SEND) {
        NotifyDeleted(c, del);
    }
}

void StartRen(CFTPRemoteManager& c, CFTPAction& action) {
    auto& ren = static_cast<CFTPActionRen&>(action);
    if (ren.m_nStep != STEP_REN_FIRST || !ren.m_pFile || !ren.m_pNewFile) {
        c.Fail(K::RESULT_FAILED, 0, {});
        return;
    }
    c.SendCommand(K::CMD_RNFR, ren.m_pFile->GetPath(), ren.m_pFile->m_bFile);
    c.SetStep(ren, STEP_REN_RNFR);
}

void NotifyRenamed(CFTPRemoteManager& c, const CFTPActionRen& ren) {
    const auto* data = dynamic_cast<const CFTPActionCallerDataRen*>(ren.m_pCallerData);
    if (data) {
        c.GetFrontEnd().Notifier().NotifyRenameFinished(data->m_strOldName, data->m_strNewName,
                                                        data->m_hParentItem);
    } else {
        c.GetFrontEnd().Notifier().NotifyRenameFinished(ren.m_pFile->GetName(),
                                                        ren.m_pNewFile->GetName(), 0);
    }
}

void ReplyRen(CFTPRemoteManager& c, CFTPAction& action, const ReplyLines& lines, unsigned code) {
    auto& ren = static_cast<CFTPActionRen&>(action);
    if (ren.m_nStep == STEP_REN_RNFR && code == 350) {
        c.SendCommand(K::CMD_RNTO, ren.m_pNewFile->GetPath());
        c.SetStep(ren, STEP_REN_RNTO);
        return;
    }
    if (ren.m_nStep == STEP_REN_RNTO && code == 250) {
        NotifyRenamed(c, ren);
        c.FinishAction();
        return;
    }
    c.Fail(K::RESULT_FAILED, code, lines);
}

void LateRen(CFTPRemoteManager& c, CFTPAction& action, const ReplyLines&, unsigned code) {
    auto& ren = static_cast<CFTPActionRen&>(action);
    if (ren.m_nStep == STEP_REN_RNTO && code == 250 && ren.m_pFile && ren.m_pNewFile) {
        NotifyRenamed(c, ren);
    }
}

} // namespace

void RegisterDeleteRenameMachines(HandlerTable& table) {
    table[K::KIND_DEL] = {StartDel, ReplyDel, LateDel};
    table[K::KIND_REN] = {StartRen, ReplyRen, LateRen};
}

} // namespace qb
