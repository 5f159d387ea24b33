// The folder machines: change folder, create folder, ensure a folder exists
// (change first or create first, then ancestor by ancestor), and explore.
#include "dispatch/actions.h"
#include "dispatch/manager.h"
#include "engine/machines.h"
#include "engine/sockets.h"
#include "engine/steps.h"

#include <algorithm>

namespace qb {

namespace {

using K = CFTPConstants;

void FailPlain(CFTPRemoteManager& c) {
    c.Fail(K::RESULT_FAILED, 0, {});
}

// Makes `sub` the action's sub-action and runs it next.
bool QueueSub(CFTPRemoteManager& c, CFTPAction& parent, std::unique_ptr<CFTPAction> sub) {
    parent.m_pSubAction = std::move(sub);
    if (!c.GetManager()->PushFront(&c, parent.m_pSubAction.get())) {
        parent.DeleteSubAction();
        FailPlain(c);
        return false;
    }
    c.m_pAction = nullptr;
    c.Post(K::RMM_NEXT);
    return true;
}

bool SubSucceeded(const CFTPAction& action, std::uint16_t kind) {
    return action.m_pSubAction && action.m_pSubAction->m_nKind == kind &&
           action.m_pSubAction->Succeeded();
}

// --- Change folder ---------------------------------------------------------------

void StartCd(CFTPRemoteManager& c, CFTPAction& action) {
    auto& cd = static_cast<CFTPActionCd&>(action);
    if (cd.m_nStep != STEP_CD_FIRST || !cd.m_pFile) {
        FailPlain(c);
        return;
    }
    if (c.m_pWorkFolder && CFTPFile::IsSame(*c.m_pWorkFolder, *cd.m_pFile) &&
        (!cd.m_bLearnRealPath || !c.m_strWorkRealPath.empty())) {
        cd.m_strRealPath = c.m_strWorkRealPath;
        c.FinishAction();
        return;
    }
    c.SendCommand(K::CMD_CWD, cd.m_pFile->GetPath());
    c.SetStep(cd, STEP_CD_CWD);
}

void ReplyCd(CFTPRemoteManager& c, CFTPAction& action, const ReplyLines& lines, unsigned code) {
    auto& cd = static_cast<CFTPActionCd&>(action);
    if (cd.m_nStep == STEP_CD_CWD && code == 250) {
        c.m_pWorkFolder = std::make_unique<CFTPFile>(*cd.m_pFile);
        c.m_strWorkRealPath.clear();
        if (cd.m_bLearnRealPath) {
            c.SendCommand(K::CMD_PWD, std::string());
            c.SetStep(cd, STEP_CD_PWD);
            return;
        }
        c.FinishAction();
        return;
    }
    if (cd.m_nStep == STEP_CD_PWD) {
        // Without an answer the folder is taken for what it is named.
        if (code != 257 || lines.empty() || !ParsePwdReply(lines[0], cd.m_strRealPath)) {
            cd.m_strRealPath.clear();
        }
        c.m_strWorkRealPath = cd.m_strRealPath;
        c.FinishAction();
        return;
    }
    c.Fail(K::RESULT_FAILED, code, lines);
}

void LateCd(CFTPRemoteManager& c, CFTPAction& action, const ReplyLines&, unsigned code) {
    auto& cd = static_cast<CFTPActionCd&>(action);
    if (cd.m_nStep == STEP_CD_CWD && code == 250 && cd.m_pFile) {
        c.m_pWorkFolder = std::make_unique<CFTPFile>(*cd.m_pFile);
        c.m_strWorkRealPath.clear();
    }
}

// --- Create folder ---------------------------------------------------------------

void StartMd(CFTPRemoteManager& c, CFTPAction& action) {
    auto& md = static_cast<CFTPActionMd&>(action);
    if (md.m_nStep != STEP_MD_FIRST || !md.m_pFile) {
        FailPlain(c);
        return;
    }
    c.SendCommand(K::CMD_MKD, md.m_pFile->GetPath());
    c.SetStep(md, STEP_MD_MKD);
}

void ReplyMd(CFTPRemoteManager& c, CFTPAction& action, const ReplyLines& lines, unsigned code) {
    auto& md = static_cast<CFTPActionMd&>(action);
    if (md.m_nStep == STEP_MD_MKD && code == 257) {
        c.GetFrontEnd().Notifier().NotifyRemoteFolderCreated(*md.m_pFile);
        c.FinishAction();
        return;
    }
    c.Fail(K::RESULT_FAILED, code, lines);
}

void LateMd(CFTPRemoteManager& c, CFTPAction& action, const ReplyLines&, unsigned code) {
    auto& md = static_cast<CFTPActionMd&>(action);
    if (md.m_nStep == STEP_MD_MKD && code == 257 && md.m_pFile) {
        c.GetFrontEnd().Notifier().NotifyRemoteFolderCreated(*md.m_pFile);
    }
}

// --- Ensure a folder exists --------------------------------------------------------

// The two orders differ only in their first try and their step numbers.
struct EnsureOrder {
    std::uint16_t kind;
    std::uint16_t first; // first step (18 / 24)
    bool changeFirst;    // CdMd: change first, create second
};
constexpr EnsureOrder kCdMd{K::KIND_CDMD, STEP_CDMD_FIRST, true};
constexpr EnsureOrder kMdCd{K::KIND_MDCD, STEP_MDCD_FIRST, false};

std::unique_ptr<CFTPAction> MakeTry(const CFTPFolderAction& action, bool change) {
    if (change) {
        return std::make_unique<CFTPActionCd>(action.m_nID, action.m_pCallerData,
                                              action.m_pFile.get(), true, false);
    }
    return std::make_unique<CFTPActionMd>(action.m_nID, action.m_pCallerData, action.m_pFile.get(),
                                          true, false);
}

std::unique_ptr<CFTPFolderAction> MakeEnsure(const EnsureOrder& order, const CFTPAction& action,
                                             const CFTPFile& folder) {
    if (order.changeFirst) {
        return std::make_unique<CFTPActionCdMd>(action.m_nID, action.m_pCallerData, &folder, true,
                                                false);
    }
    return std::make_unique<CFTPActionMdCd>(action.m_nID, action.m_pCallerData, &folder, true,
                                            false);
}

std::uint16_t KindOfTry(bool change) {
    return change ? K::KIND_CD : K::KIND_MD;
}

void StartEnsure(CFTPRemoteManager& c, CFTPFolderAction& action, const EnsureOrder& order) {
    const std::uint16_t step = action.m_nStep;
    const std::uint16_t firstTry = KindOfTry(order.changeFirst);
    const std::uint16_t secondTry = KindOfTry(!order.changeFirst);
    if (step == order.first) {
        if (!action.m_pFile) {
            FailPlain(c);
            return;
        }
        if (QueueSub(c, action, MakeTry(action, order.changeFirst))) {
            c.SetStep(action, order.first + 1);
        }
        return;
    }
    if (step == order.first + 1) {
        if (!action.m_pSubAction || action.m_pSubAction->m_nKind != firstTry) {
            FailPlain(c);
        } else if (action.m_pSubAction->Succeeded()) {
            c.FinishAction();
        } else {
            action.DeleteSubAction();
            c.SetStep(action, order.first + 2);
            QueueSub(c, action, MakeTry(action, !order.changeFirst));
        }
        return;
    }
    if (step == order.first + 2) {
        if (!action.m_pSubAction || action.m_pSubAction->m_nKind != secondTry) {
            FailPlain(c);
            return;
        }
        if (action.m_pSubAction->Succeeded()) {
            c.FinishAction();
            return;
        }
        action.DeleteSubAction();
        // Neither worked directly: build the ancestors, nearest the root first.
        std::string path = action.m_pFile->GetPath();
        if (path.find('/') == std::string::npos) {
            c.SetStep(action, order.first + 5);
            FailPlain(c);
            return;
        }
        c.SetStep(action, order.first + 3);
        CFTPAction* previous = &action;
        for (auto slash = path.rfind('/'); slash != std::string::npos; slash = path.rfind('/')) {
            path.erase(slash);
            CFTPFile ancestor(path, c.Ref(), false);
            auto link = MakeEnsure(order, action, ancestor);
            link->SetStep(c.GetFrontEnd().Status(), c.GetStatusLane(), order.first + 3);
            previous->m_pSubAction = std::move(link);
            previous = previous->m_pSubAction.get();
            if (!c.GetManager()->PushFront(&c, previous)) {
                FailPlain(c);
                return;
            }
        }
        c.m_pAction = nullptr;
        c.Post(K::RMM_NEXT);
        return;
    }
    if (step == order.first + 3) {
        if (action.m_pSubAction) {
            if (!action.m_pSubAction->Succeeded()) {
                FailPlain(c);
                return;
            }
            action.DeleteSubAction();
        }
        if (QueueSub(c, action, MakeTry(action, order.changeFirst))) {
            c.SetStep(action, order.first + 4);
        }
        return;
    }
    if (step == order.first + 4) {
        if (!action.m_pSubAction) {
            FailPlain(c);
        } else if (action.m_pSubAction->Succeeded()) {
            c.FinishAction();
        } else {
            action.DeleteSubAction();
            if (QueueSub(c, action, MakeTry(action, !order.changeFirst))) {
                c.SetStep(action, order.first + 5);
            }
        }
        return;
    }
    if (step == order.first + 5 && action.m_pSubAction && action.m_pSubAction->Succeeded()) {
        c.FinishAction();
        return;
    }
    FailPlain(c);
}

void StartCdMd(CFTPRemoteManager& c, CFTPAction& action) {
    StartEnsure(c, static_cast<CFTPFolderAction&>(action), kCdMd);
}

void StartMdCd(CFTPRemoteManager& c, CFTPAction& action) {
    StartEnsure(c, static_cast<CFTPFolderAction&>(action), kMdCd);
}

// --- Explore ---------------------------------------------------------------------

void StartDir(CFTPRemoteManager& c, CFTPAction& action) {
    auto& dir = static_cast<CFTPActionDir&>(action);
    if (dir.m_nStep == STEP_DIR_FIRST) {
        const CFTPFile* folder = dir.m_pFile ? dir.m_pFile.get() : c.m_pWorkFolder.get();
        if (!folder) {
            FailPlain(c);
            return;
        }
        auto cd = std::make_unique<CFTPActionCd>(dir.m_nID, dir.m_pCallerData, folder, true, false);
        cd->m_bLearnRealPath = dir.m_bLearnRealPath;
        if (QueueSub(c, dir, std::move(cd))) {
            c.SetStep(dir, STEP_DIR_CWD);
        }
        return;
    }
    if (dir.m_nStep == STEP_DIR_CWD && SubSucceeded(dir, K::KIND_CD)) {
        dir.m_strRealPath = static_cast<const CFTPFolderAction&>(*dir.m_pSubAction).m_strRealPath;
        const auto& stops = dir.m_arrStopAtRealPaths;
        if (!dir.m_strRealPath.empty() &&
            std::find(stops.begin(), stops.end(), dir.m_strRealPath) != stops.end()) {
            dir.m_bStoppedAtLoop = true;
            c.FinishAction();
            return;
        }
        c.SendCommand(K::CMD_TYPE, std::string("A"));
        c.SetStep(dir, STEP_DIR_TYPE);
        return;
    }
    FailPlain(c);
}

// The listing command for this connection: "MLSD" when the server offers
// it, "LIST -a" on UNIX servers (dot-files are hidden from plain "LIST"),
// else "LIST".
int ListCommandFor(const CFTPRemoteManager& c) {
    if (c.m_features.mlsd) {
        return K::CMD_MLSD;
    }
    const bool unix = c.m_nServerType == K::SERVER_UNIX || c.m_nServerType == K::SERVER_UNIX_SYST;
    if (unix && c.m_firewall.listHidden && !c.m_features.listAllRefused) {
        return K::CMD_LIST_ALL;
    }
    return K::CMD_LIST;
}

// The server does not take the command or its argument (not a failure of
// the listing itself, such as a missing folder or a broken data connection).
bool IsUnknownCommand(unsigned code) {
    return code == 500 || code == 501 || code == 502 || code == 504;
}

bool ListsDashA(const CFTPActionDir& dir) {
    if (!dir.m_pContent) {
        return false;
    }
    for (const CFTPFileArray* items :
         {&dir.m_pContent->GetFiles(), &dir.m_pContent->GetFolders()}) {
        for (std::size_t i = 0; i < items->GetSize(); ++i) {
            if (items->GetAt(i)->GetName() == "-a") {
                return true;
            }
        }
    }
    return false;
}

// The listing command was refused or misread: the connection drops it for
// good and the listing starts over with a new data connection.
void RetryListing(CFTPRemoteManager& c, CFTPActionDir& dir, const std::string& note) {
    if (c.m_nListCommand == K::CMD_MLSD) {
        c.m_features.mlsd = false;
    } else {
        c.m_features.listAllRefused = true;
    }
    c.PostNote(note);
    c.CloseDataSockets();
    dir.m_pContent.reset();
    dir.m_strTransferError.clear();
    if (SendDataCommand(c)) {
        c.SetStep(dir, STEP_DIR_DATA);
    }
}

void ReplyDir(CFTPRemoteManager& c, CFTPAction& action, const ReplyLines& lines, unsigned code) {
    auto& dir = static_cast<CFTPActionDir&>(action);
    switch (dir.m_nStep) {
    case STEP_DIR_TYPE:
        if (code != 200) {
            c.Fail(K::RESULT_FAILED, code, lines);
            return;
        }
        if (!SendDataCommand(c)) {
            return;
        }
        c.SetStep(dir, STEP_DIR_DATA);
        return;
    case STEP_DIR_DATA: {
        std::string error;
        if (!OpenDataConnection(c, lines, code, error)) {
            ReplyLines shown = lines;
            if (!error.empty()) {
                shown.push_back(error);
            }
            c.Fail(K::RESULT_FAILED, code, shown);
            return;
        }
        dir.m_pContent.reset();
        c.m_nListCommand = ListCommandFor(c);
        c.StartListing();
        c.m_pDataSocket->SetTextMode(false);
        c.m_pDataSocket->SetListing();
        c.SendCommand(c.m_nListCommand, std::string());
        c.ReportBytes(0);
        c.SetStep(dir, STEP_DIR_LIST);
        return;
    }
    case STEP_DIR_LIST:
        if (code == 150 || code == 125) {
            if (c.m_pDataSocket->IsOpen()) {
                c.m_pDataSocket->m_nTotal = 0;
                c.m_pDataSocket->ReceiveAll();
            }
            return;
        }
        if (code == 226 || code == 250) {
            std::string error;
            if (!DrainDataConnection(c, error)) {
                c.Fail(K::RESULT_FAILED, code, {error});
                return;
            }
            if (!dir.m_bAbortSent && c.m_nListCommand == K::CMD_LIST_ALL &&
                (ListsDashA(dir) || c.ListedDashA())) {
                // The server took "-a" for a name: plain "LIST" from now on.
                // A sink told entries besides "-a" has them: the server did
                // list the folder (it has an item "-a").
                dir.m_bSinkHasListing = c.ToldEntries();
                RetryListing(c, dir, "The server does not know LIST -a; LIST from now on.");
                return;
            }
            if (!dir.m_strTransferError.empty() && !dir.m_bAbortSent) {
                // Received, but refused on this side (too large a listing).
                c.Fail(K::RESULT_FAILED, code, {dir.m_strTransferError});
                return;
            }
            if (!dir.m_bAbortSent) {
                c.FinishAction();
            } else {
                c.SetStep(dir, STEP_DIR_ABORT_WAIT);
            }
            return;
        }
        if (!dir.m_bAbortSent && IsUnknownCommand(code) && c.m_nListCommand == K::CMD_LIST_ALL) {
            RetryListing(c, dir, "The server refused LIST -a; LIST from now on.");
            return;
        }
        if (!dir.m_bAbortSent && IsUnknownCommand(code) && c.m_nListCommand == K::CMD_MLSD) {
            RetryListing(c, dir, "The server refused MLSD; LIST from now on.");
            return;
        }
        if (!dir.m_bAbortSent) {
            c.Fail(K::RESULT_FAILED, code, lines);
        } else if (code == 550 && !dir.m_strTransferError.empty()) {
            // Broken off because this side refused it (too large a listing).
            c.Fail(K::RESULT_FAILED, code, {dir.m_strTransferError});
        } else if (code == 550) {
            c.FinishAction();
        } else {
            c.SetStep(dir, STEP_DIR_ABORT_WAIT);
        }
        return;
    default:
        c.Fail(K::RESULT_FAILED, code, lines);
        return;
    }
}

} // namespace

namespace {

// Sends "EPRT" for the listening socket; false when it has no address.
bool SendEprt(CFTPRemoteManager& c) {
    std::string argument;
    if (!c.m_pListenSocket->GetEprtArgument(argument)) {
        return false;
    }
    c.SendCommand(K::CMD_EPRT, argument);
    c.m_nDataCommand = K::CMD_EPRT;
    return true;
}

} // namespace

bool SendDataCommand(CFTPRemoteManager& c) {
    const bool extended = c.m_firewall.extendedData;
    if (c.UsePassive()) {
        if (extended && !c.m_features.epsvRefused) {
            c.SendCommand(K::CMD_EPSV, std::string());
            c.m_nDataCommand = K::CMD_EPSV;
        } else {
            c.SendCommand(K::CMD_PASV, std::string());
            c.m_nDataCommand = K::CMD_PASV;
        }
        return true;
    }
    std::string argument;
    c.m_pListenSocket->Close();
    const bool ipv6 = c.m_pCtrlSocket->IsIpv6();
    bool sent = false;
    if (c.m_pListenSocket->StartListening()) {
        if (ipv6 || (extended && c.m_features.portRefused)) {
            sent = SendEprt(c);
        } else if (c.m_pListenSocket->GetPortArgument(argument)) {
            c.SendCommand(K::CMD_PORT, argument);
            c.m_nDataCommand = K::CMD_PORT;
            sent = true;
        }
    }
    if (!sent) {
        c.m_pListenSocket->Close();
        c.Fail(K::RESULT_FAILED, 0, {"Cannot open a port for the data connection."});
        return false;
    }
    return true;
}

bool RetryRefusedDataCommand(CFTPRemoteManager& c, unsigned code) {
    if (code / 100 != 5 || !c.m_firewall.extendedData) {
        return false;
    }
    if (c.m_nDataCommand == K::CMD_EPSV) {
        c.m_features.epsvRefused = true;
        c.PostNote("The server refused EPSV; PASV from now on.");
        c.SendCommand(K::CMD_PASV, std::string());
        c.m_nDataCommand = K::CMD_PASV;
        return true;
    }
    if (c.m_nDataCommand == K::CMD_PORT && c.m_pListenSocket->m_bListening) {
        c.m_features.portRefused = true;
        c.PostNote("The server refused PORT; EPRT from now on.");
        return SendEprt(c);
    }
    return false;
}

bool OpenDataConnection(CFTPRemoteManager& c, const ReplyLines& lines, unsigned code,
                        std::string& error) {
    const int command = c.m_nDataCommand;
    c.m_nDataCommand = -1;
    if (!c.UsePassive()) {
        return code == 200;
    }
    if (code / 100 != 2) {
        return false;
    }
    // Data goes only to the server we are talking to, whatever address it
    // announces (a private address behind NAT, or a third party's).
    const std::string& peer = c.m_pCtrlSocket->GetPeerAddress();
    std::string host;
    std::uint16_t port = 0;
    if (command == K::CMD_EPSV) {
        if (!ParseEpsvReply(lines, port)) {
            error = "The server's extended passive mode reply holds no port.";
            return false;
        }
        host = peer;
    } else {
        if (!ParsePasvReply(lines, host, port)) {
            error = "The server's passive mode reply holds no address.";
            return false;
        }
        if (!peer.empty() && host != peer && peer != "::ffff:" + host) {
            c.PostNote("The server announced " + host + " for the data connection; using " + peer +
                       " instead.");
            host = peer;
        }
    }
    if (c.m_pDataSocket->IsOpen()) {
        c.m_pDataSocket->Close();
    }
    if (!c.m_pDataSocket->ConnectTo(host, port, &error)) {
        if (error.empty()) {
            error = "Cannot open the data connection.";
        }
        return false;
    }
    return true;
}

bool DrainDataConnection(CFTPRemoteManager& c, std::string& error) {
    // In active mode the server may have connected and sent everything
    // before its final reply was read: take that connection first.
    if (!c.m_pDataSocket->IsOpen() && c.m_pListenSocket->m_bListening) {
        c.m_pListenSocket->OnAccept();
    }
    if (c.m_pDataSocket->IsOpen()) {
        c.m_pDataSocket->ReceiveAll();
    }
    if (c.m_pDataSocket->IsOpen()) {
        c.m_pDataSocket->Close();
    }
    if (c.m_pDataSocket->HadError()) {
        error = c.m_pDataSocket->GetErrorText();
        return false;
    }
    return true;
}

void RegisterFolderMachines(HandlerTable& table) {
    table[K::KIND_CD] = {StartCd, ReplyCd, LateCd};
    table[K::KIND_MD] = {StartMd, ReplyMd, LateMd};
    table[K::KIND_CDMD] = {StartCdMd, nullptr, nullptr};
    table[K::KIND_MDCD] = {StartMdCd, nullptr, nullptr};
    table[K::KIND_DIR] = {StartDir, ReplyDir, nullptr};
}

} // namespace qb
