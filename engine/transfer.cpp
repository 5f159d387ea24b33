// Copies and moves of files and folders: upload, download (with resume),
// within one site through a temporary file, and between two sites.
#include "dispatch/actions.h"
#include "dispatch/manager.h"
#include "engine/machines.h"
#include "engine/sockets.h"
#include "engine/steps.h"
#include "platform/questions.h"

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <sys/stat.h>

namespace qb {

namespace {

using K = CFTPConstants;

std::uint32_t BaseKind(const CFTPActionCopy& copy) {
    return copy.m_nCopyKind & ~static_cast<std::uint32_t>(K::COPY_MOVE);
}

ReplyLines Why(const std::string& text) {
    return ReplyLines{text};
}

std::string SystemError(const std::string& what, const std::string& path) {
    return what + " " + path + ": " + std::strerror(errno);
}

// A name that came from a server may only name an entry inside the folder it
// is written to.
bool IsSafeLocalName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
           name.find('\0') == std::string::npos;
}

// Queues a sub-action at the head and lets it run next.
bool RunSub(CFTPRemoteManager& c, CFTPActionCopy& copy, std::unique_ptr<CFTPAction> sub) {
    copy.m_pSubAction = std::move(sub);
    if (!c.GetManager()->PushFront(&c, copy.m_pSubAction.get())) {
        copy.DeleteSubAction();
        c.Fail(K::RESULT_FAILED, 0, {});
        return false;
    }
    c.m_pAction = nullptr;
    c.Post(K::RMM_NEXT);
    return true;
}

bool SubSucceeded(const CFTPActionCopy& copy) {
    return copy.m_pSubAction && copy.m_pSubAction->Succeeded();
}

// The move's delete of the remote source (file, or folder whose content is gone).
void DeleteRemoteSource(CFTPRemoteManager& c, CFTPActionCopy& copy, bool contentGone) {
    copy.DeleteSubAction();
    c.SetStep(copy, contentGone ? STEP_COPY_REMOVE_SOURCE : STEP_COPY_DELETE_MOVED);
    RunSub(c, copy,
           std::make_unique<CFTPActionDel>(copy.m_nID, copy.m_pCallerData, copy.m_pSource.get(),
                                           true, false, contentGone));
}

void SendType(CFTPRemoteManager& c, CFTPActionCopy& copy, const CFTPFile& named,
              std::uint16_t step) {
    copy.m_cTransferType = c.TransferTypeFor(named);
    c.SendCommand(K::CMD_TYPE, std::string(1, copy.m_cTransferType));
    c.SetStep(copy, step);
}

// Reply to "TYPE" (57/64): "PASV" or "PORT" next.
void ReplyType(CFTPRemoteManager& c, CFTPActionCopy& copy, const ReplyLines& lines, unsigned code,
               std::uint16_t next) {
    if (code != 200) {
        c.Fail(K::RESULT_FAILED, code, lines);
        return;
    }
    if (SendDataCommand(c)) {
        c.SetStep(copy, next);
    }
}

// Reply to "PASV"/"PORT" (58/65): the data connection. False (failed) when
// it cannot be had.
bool ReplyDataCommand(CFTPRemoteManager& c, const ReplyLines& lines, unsigned code) {
    std::string error;
    if (OpenDataConnection(c, lines, code, error)) {
        return true;
    }
    ReplyLines shown = lines;
    if (!error.empty()) {
        shown.push_back(error);
    }
    c.Fail(K::RESULT_FAILED, code, shown);
    return false;
}

// Starts receiving into `file` with "RETR" (step 60).
void Retrieve(CFTPRemoteManager& c, CFTPActionCopy& copy, LocalFile* file, FileSize offset) {
    c.m_pDataSocket->SetTextMode(copy.m_cTransferType == 'A');
    c.m_pDataSocket->SetFile(file, false, offset);
    c.SendCommand(K::CMD_RETR, copy.m_pSource->GetPath());
    c.SetStep(copy, STEP_COPY_RECV_RETR);
}

// Starts sending `file` with "STOR" (step 66).
void Store(CFTPRemoteManager& c, CFTPActionCopy& copy, LocalFile* file) {
    c.m_pDataSocket->SetTextMode(copy.m_cTransferType == 'A');
    c.m_pDataSocket->SetFile(file, true, 0);
    c.SendCommand(K::CMD_STOR, copy.m_pDest->GetPath());
    c.SetStep(copy, STEP_COPY_SEND_STOR);
}

// 125/150 while receiving: the expected size, then the data.
void ReceiveStarted(CFTPRemoteManager& c, const ReplyLines& lines) {
    c.m_pDataSocket->m_nTotal = ParseByteCount(lines);
    if (c.m_pDataSocket->IsOpen()) {
        c.m_pDataSocket->ReceiveAll();
    }
}

// 125/150 while sending: the file goes once the data connection is there too.
void SendStarted(CFTPRemoteManager& c, CFTPActionCopy& copy) {
    c.GetFrontEnd().Notifier().NotifyRemoteFileCreated(*copy.m_pDest);
    CFTPDataSocket& data = *c.m_pDataSocket;
    data.m_bSendOnConnect = true;
    if (data.m_bConnected && data.IsOpen()) {
        data.SendFile();
        data.Close();
        c.SetStep(copy, STEP_COPY_SEND_WAIT);
    }
}

// The reply to "STOR" (step 66): the go-ahead, or a failure.
void ReplyStore(CFTPRemoteManager& c, CFTPActionCopy& copy, const ReplyLines& lines,
                unsigned code) {
    if (code == 125 || code == 150) {
        SendStarted(c, copy);
    } else {
        c.Fail(K::RESULT_FAILED, code, lines);
    }
}

// A final reply to "RETR": true when the file arrived whole (and the data
// connection is closed); otherwise the action has moved on (failed, or
// waits for the server's answer to "ABOR").
bool ReceiveFinished(CFTPRemoteManager& c, CFTPActionCopy& copy, const ReplyLines& lines,
                     unsigned code, std::uint16_t abortStep) {
    if (code == 226 || code == 250) {
        std::string error;
        const bool drained = DrainDataConnection(c, error);
        if (copy.m_bAbortSent) {
            c.SetStep(copy, abortStep);
            return false;
        }
        if (!drained) {
            c.Fail(K::RESULT_FAILED, code, Why(error));
            return false;
        }
        // A server that reports success for a file cut short is not believed
        // (a byte count in text mode counts other line ends, and a resumed
        // file's count may be its whole length).
        const CFTPDataSocket& data = *c.m_pDataSocket;
        if (copy.m_cTransferType != 'A' && copy.m_nResumeOffset == 0 && data.GetLastTotal() != 0 &&
            data.GetLastTotal() != CFTPDataSocket::kNoTransfer &&
            data.GetLastDone() < data.GetLastTotal()) {
            c.Fail(K::RESULT_FAILED, code,
                   Why("The data connection ended after " + std::to_string(data.GetLastDone()) +
                       " of " + std::to_string(data.GetLastTotal()) + " bytes."));
            return false;
        }
        return true;
    }
    if (copy.m_bAbortSent) {
        c.SetStep(copy, abortStep);
        return false;
    }
    c.Fail(K::RESULT_FAILED, code, lines);
    return false;
}

// A final reply to "STOR" (step 67).
bool SendFinished(CFTPRemoteManager& c, CFTPActionCopy& copy, const ReplyLines& lines,
                  unsigned code) {
    if (copy.m_bAbortSent) {
        c.SetStep(copy, STEP_COPY_SEND_ABORT_WAIT);
        return false;
    }
    if (code == 226 || code == 250) {
        if (!copy.m_strTransferError.empty()) {
            c.Fail(K::RESULT_FAILED, code, Why(copy.m_strTransferError));
            return false;
        }
        return true;
    }
    ReplyLines shown = lines;
    if (!copy.m_strTransferError.empty()) {
        shown.push_back(copy.m_strTransferError);
    }
    c.Fail(K::RESULT_FAILED, code, shown);
    return false;
}

// A new temporary file for a copy from one remote place to another.
bool OpenTempFile(CFTPRemoteManager& c, CFTPActionCopy& copy) {
    std::string path = c.MakeTempFileName();
    copy.m_pTempFile = std::make_unique<LocalFile>();
    if (path.empty() || !copy.m_pTempFile->Open(path, LocalFile::Mode::ReadWrite, true)) {
        copy.m_pTempFile.reset();
        c.Fail(K::RESULT_FAILED, 0, Why("Cannot make a temporary file."));
        return false;
    }
    return true;
}

void DropTempFile(CFTPActionCopy& copy) {
    if (copy.m_pTempFile) {
        std::string path = copy.m_pTempFile->Path();
        copy.m_pTempFile.reset();
        ::unlink(path.c_str());
    }
}

// --- Download a file ---------------------------------------------------------------

// Decides what to do with an existing local file; false when the action has
// ended (skipped or failed).
bool DecideReplace(CFTPRemoteManager& c, CFTPActionCopy& copy, const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) {
        copy.m_nReplace = K::REPLACE_NONE;
        return true;
    }
    if (S_ISLNK(st.st_mode)) {
        c.Fail(K::RESULT_FAILED, 0,
               Why(path + " is a symbolic link; nothing is written through it."));
        return false;
    }
    CFTPManager& manager = *c.GetManager();
    std::uint8_t decision = manager.GetReplaceAll(copy.m_nID);
    if (decision == K::REPLACE_NONE) {
        Question question;
        question.kind = Question::Kind::Overwrite;
        question.existing = path;
        question.incoming = copy.m_pSource->GetPath(true);
        question.canResume = c.m_bResume;
        switch (c.Ask(std::move(question))) {
        case Question::OVERWRITE:
            decision = K::REPLACE_OVERWRITE;
            break;
        case Question::RESUME:
            decision = K::REPLACE_RESUME;
            break;
        case Question::OVERWRITE_ALL:
            decision = K::REPLACE_OVERWRITE;
            manager.SetReplaceAll(copy.m_nID, decision);
            break;
        case Question::RESUME_ALL:
            decision = K::REPLACE_RESUME;
            manager.SetReplaceAll(copy.m_nID, decision);
            break;
        case Question::SKIP_ALL:
            decision = K::REPLACE_SKIP;
            manager.SetReplaceAll(copy.m_nID, decision);
            break;
        default:
            decision = K::REPLACE_SKIP;
            break;
        }
    }
    copy.m_nReplace = decision;
    if (decision == K::REPLACE_SKIP) {
        c.FinishAction();
        return false;
    }
    if (decision == K::REPLACE_RESUME) {
        copy.m_nResumeOffset = static_cast<FileSize>(st.st_size);
    }
    return true;
}

// Creates (or truncates) the local destination and receives into it.
void RetrieveFresh(CFTPRemoteManager& c, CFTPActionCopy& copy) {
    const std::string path = copy.m_pDest->GetPath();
    copy.m_nResumeOffset = 0;
    copy.m_pDestFile = std::make_unique<LocalFile>();
    if (!copy.m_pDestFile->Open(path, LocalFile::Mode::CreateWrite, true)) {
        const std::string why = SystemError("Cannot create", path);
        copy.m_pDestFile.reset();
        c.Fail(K::RESULT_FAILED, 0, Why(why));
        return;
    }
    c.GetFrontEnd().Notifier().NotifyLocalFileCreated(path);
    Retrieve(c, copy, copy.m_pDestFile.get(), 0);
}

void StartDownloadFile(CFTPRemoteManager& c, CFTPActionCopy& copy) {
    if (copy.m_nStep == STEP_COPY_DELETE_MOVED) {
        SubSucceeded(copy) ? c.FinishAction() : c.Fail(K::RESULT_FAILED, 0, {});
        return;
    }
    if (copy.m_nStep != STEP_COPY_FIRST) {
        c.Fail(K::RESULT_FAILED, 0, {});
        return;
    }
    if (!IsSafeLocalName(copy.m_pSource->GetName()) || !IsSafeLocalName(copy.m_pDest->GetName())) {
        c.Fail(K::RESULT_FAILED, 0,
               Why("The name \"" + copy.m_pSource->GetName() +
                   "\" cannot be used for a local file; it was not copied."));
        return;
    }
    if (!DecideReplace(c, copy, copy.m_pDest->GetPath())) {
        return;
    }
    SendType(c, copy, *copy.m_pSource, STEP_COPY_RECV_TYPE);
    if (copy.m_nReplace == K::REPLACE_RESUME && copy.m_cTransferType == 'A') {
        // Line ends differ between the two sides: a text file starts over.
        c.PostNote("Text mode: " + copy.m_pSource->GetName() +
                   " is received again from its start.");
        copy.m_nReplace = K::REPLACE_OVERWRITE;
        copy.m_nResumeOffset = 0;
    }
}

void ReplyDownloadFile(CFTPRemoteManager& c, CFTPActionCopy& copy, const ReplyLines& lines,
                       unsigned code) {
    switch (copy.m_nStep) {
    case STEP_COPY_RECV_TYPE:
        ReplyType(c, copy, lines, code, STEP_COPY_RECV_DATA);
        return;
    case STEP_COPY_RECV_DATA:
        if (!ReplyDataCommand(c, lines, code)) {
            return;
        }
        if (copy.m_nReplace == K::REPLACE_RESUME) {
            c.SendCommand(K::CMD_REST, copy.m_nResumeOffset);
            c.SetStep(copy, STEP_COPY_RECV_REST);
        } else {
            RetrieveFresh(c, copy);
        }
        return;
    case STEP_COPY_RECV_REST: {
        if (code != 350) {
            RetrieveFresh(c, copy);
            return;
        }
        const std::string path = copy.m_pDest->GetPath();
        copy.m_pDestFile = std::make_unique<LocalFile>();
        if (!copy.m_pDestFile->Open(path, LocalFile::Mode::ReadWrite, true)) {
            const std::string why = SystemError("Cannot open", path);
            copy.m_pDestFile.reset();
            c.Fail(K::RESULT_FAILED, 0, Why(why));
            return;
        }
        c.GetFrontEnd().Notifier().NotifyLocalFileCreated(path);
        Retrieve(c, copy, copy.m_pDestFile.get(), copy.m_nResumeOffset);
        return;
    }
    case STEP_COPY_RECV_RETR:
        if (code == 125 || code == 150) {
            ReceiveStarted(c, lines);
            return;
        }
        if (!ReceiveFinished(c, copy, lines, code, STEP_COPY_RECV_ABORT_WAIT)) {
            return;
        }
        if (copy.IsMove()) {
            DeleteRemoteSource(c, copy, false);
        } else {
            c.FinishAction();
        }
        return;
    default:
        c.Fail(K::RESULT_FAILED, code, lines);
        return;
    }
}

// --- Upload a file -----------------------------------------------------------------

void StartUploadFile(CFTPRemoteManager& c, CFTPActionCopy& copy) {
    if (copy.m_nStep != STEP_COPY_FIRST) {
        c.Fail(K::RESULT_FAILED, 0, {});
        return;
    }
    SendType(c, copy, *copy.m_pDest, STEP_COPY_SEND_TYPE);
}

void ReplyUploadFile(CFTPRemoteManager& c, CFTPActionCopy& copy, const ReplyLines& lines,
                     unsigned code) {
    switch (copy.m_nStep) {
    case STEP_COPY_SEND_TYPE:
        ReplyType(c, copy, lines, code, STEP_COPY_SEND_DATA);
        return;
    case STEP_COPY_SEND_DATA: {
        if (!ReplyDataCommand(c, lines, code)) {
            return;
        }
        const std::string path = copy.m_pSource->GetPath();
        copy.m_pSourceFile = std::make_unique<LocalFile>();
        if (!copy.m_pSourceFile->Open(path, LocalFile::Mode::Read)) {
            const std::string why = SystemError("Cannot open", path);
            copy.m_pSourceFile.reset();
            c.Fail(K::RESULT_FAILED, 0, Why(why));
            return;
        }
        Store(c, copy, copy.m_pSourceFile.get());
        return;
    }
    case STEP_COPY_SEND_STOR:
        ReplyStore(c, copy, lines, code);
        return;
    case STEP_COPY_SEND_WAIT:
        if (!SendFinished(c, copy, lines, code)) {
            return;
        }
        if (!copy.IsMove()) {
            c.FinishAction();
            return;
        }
        c.SetStep(copy, STEP_COPY_DELETE_MOVED);
        copy.m_pSourceFile.reset();
        if (c.GetFrontEnd().localFiles &&
            c.GetFrontEnd().localFiles->DeleteLocalFile(copy.m_pSource->GetPath())) {
            c.FinishAction();
        } else {
            c.Fail(K::RESULT_FAILED, 0,
                   Why(SystemError("Cannot delete the moved file", copy.m_pSource->GetPath())));
        }
        return;
    default:
        c.Fail(K::RESULT_FAILED, code, lines);
        return;
    }
}

// --- Copy a file within one site, or between two -------------------------------------

void StartRemoteFile(CFTPRemoteManager& c, CFTPActionCopy& copy) {
    const bool betweenSites = BaseKind(copy) == K::COPY_SITE_TO_SITE;
    const bool onDestination = betweenSites && copy.IsDestinationConnection(c.GetId());
    if (onDestination) {
        if (copy.m_nStep != STEP_COPY_FILE_STANDBY) {
            c.Fail(K::RESULT_FAILED, 0, {});
            return;
        }
        SendType(c, copy, *copy.m_pDest, STEP_COPY_SEND_TYPE);
        return;
    }
    switch (copy.m_nStep) {
    case STEP_COPY_FIRST:
        SendType(c, copy, *copy.m_pSource, STEP_COPY_RECV_TYPE);
        return;
    case STEP_COPY_MOVED_STANDBY:
        DeleteRemoteSource(c, copy, false);
        return;
    case STEP_COPY_DELETE_MOVED:
        if (SubSucceeded(copy)) {
            copy.DeleteSubAction();
            c.FinishAction();
        } else {
            c.Fail(K::RESULT_FAILED, 0, {});
        }
        return;
    default:
        c.Fail(K::RESULT_FAILED, 0, {});
        return;
    }
}

void ReplyRemoteFile(CFTPRemoteManager& c, CFTPActionCopy& copy, const ReplyLines& lines,
                     unsigned code) {
    const bool betweenSites = BaseKind(copy) == K::COPY_SITE_TO_SITE;
    switch (copy.m_nStep) {
    case STEP_COPY_RECV_TYPE:
        ReplyType(c, copy, lines, code, STEP_COPY_RECV_DATA);
        return;
    case STEP_COPY_RECV_DATA:
        if (!ReplyDataCommand(c, lines, code) || !OpenTempFile(c, copy)) {
            return;
        }
        Retrieve(c, copy, copy.m_pTempFile.get(), 0);
        return;
    case STEP_COPY_RECV_RETR:
        if (code == 125 || code == 150) {
            ReceiveStarted(c, lines);
            return;
        }
        if (!ReceiveFinished(c, copy, lines, code,
                             betweenSites ? STEP_COPY_SEND_ABORT_WAIT
                                          : STEP_COPY_RECV_ABORT_WAIT)) {
            return;
        }
        if (betweenSites) {
            c.SetStep(copy, STEP_COPY_FILE_STANDBY);
            if (!c.GetManager()->HandOver(&c, copy.m_pDest->m_nConnection)) {
                c.Fail(K::RESULT_FAILED, 0, Why("The destination site is no longer connected."));
            }
            return;
        }
        SendType(c, copy, *copy.m_pDest, STEP_COPY_SEND_TYPE);
        return;
    case STEP_COPY_SEND_TYPE:
        ReplyType(c, copy, lines, code, STEP_COPY_SEND_DATA);
        return;
    case STEP_COPY_SEND_DATA:
        if (!ReplyDataCommand(c, lines, code)) {
            return;
        }
        if (!copy.m_pTempFile) {
            c.Fail(K::RESULT_FAILED, 0, {});
            return;
        }
        Store(c, copy, copy.m_pTempFile.get());
        return;
    case STEP_COPY_SEND_STOR:
        ReplyStore(c, copy, lines, code);
        return;
    case STEP_COPY_SEND_WAIT:
        if (!SendFinished(c, copy, lines, code)) {
            return;
        }
        DropTempFile(copy);
        if (!copy.IsMove()) {
            c.FinishAction();
        } else if (betweenSites) {
            c.SetStep(copy, STEP_COPY_MOVED_STANDBY);
            if (!c.GetManager()->HandOver(&c, copy.m_pSource->m_nConnection)) {
                c.Fail(K::RESULT_FAILED, 0, Why("The source site is no longer connected."));
            }
        } else {
            DeleteRemoteSource(c, copy, false);
        }
        return;
    default:
        c.Fail(K::RESULT_FAILED, code, lines);
        return;
    }
}

// --- Folders -----------------------------------------------------------------------------

// The content of a local folder, read for an upload. Links are listed as
// files, so that a link to a folder cannot lead the copy round in circles.
std::unique_ptr<CFTPFolderContent> ReadLocalFolder(const CFTPFile& folder) {
    auto content = std::make_unique<CFTPFolderContent>(folder);
    const std::string path = folder.GetPath();
    DIR* dir = ::opendir(path.c_str());
    if (!dir) {
        return content;
    }
    while (dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..") {
            continue;
        }
        struct stat st {};
        if (::lstat((path + "/" + name).c_str(), &st) != 0) {
            continue;
        }
        content->Add(name, !S_ISDIR(st.st_mode), st.st_mtime, static_cast<FileSize>(st.st_size),
                     std::string());
    }
    ::closedir(dir);
    return content;
}

std::unique_ptr<CFTPAction> MakeEnsureDestination(const CFTPActionCopy& copy) {
    return std::make_unique<CFTPActionMdCd>(copy.m_nID, copy.m_pCallerData, copy.m_pDest.get(),
                                            true, false);
}

std::unique_ptr<CFTPAction> MakeListSource(const CFTPActionCopy& copy) {
    return std::make_unique<CFTPActionDir>(copy.m_nID, copy.m_pCallerData, copy.m_pSource.get(),
                                           true, false);
}

// Step 52: one child copy per listed entry.
void CopyChildren(CFTPRemoteManager& c, CFTPActionCopy& copy,
                  std::unique_ptr<CFTPFolderContent> localContent) {
    const CFTPFolderContent* content = localContent ? localContent.get() : copy.GetFolderContent();
    if (!localContent && !SubSucceeded(copy)) {
        content = nullptr;
    }
    if (!content) {
        c.Fail(K::RESULT_FAILED, 0, {});
        return;
    }
    c.SetStep(copy, STEP_COPY_CHILDREN);
    auto make = [&](const CFTPFile& item) {
        auto destination = copy.MakeChildDestination(item);
        auto child = std::make_unique<CFTPActionCopy>(copy.m_nID, copy.m_pCallerData, &item,
                                                      destination.get(), copy.m_nCopyKind);
        if (copy.IsMove()) {
            copy.LinkChild(*child);
            c.GetManager()->PushFront(&c, std::move(child));
        } else {
            c.GetManager()->InsertSecond(&c, std::move(child));
        }
    };
    for (std::size_t i = 0; i < content->GetFiles().GetSize(); ++i) {
        make(*content->GetFiles().GetAt(i));
    }
    for (std::size_t i = 0; i < content->GetFolders().GetSize(); ++i) {
        make(*content->GetFolders().GetAt(i));
    }
    copy.DeleteSubAction();
    if (!copy.IsMove()) {
        c.FinishAction();
        return;
    }
    c.SetStep(copy, STEP_COPY_WAIT_CHILDREN);
    c.m_pAction = nullptr;
}

// Step 54: a move waits for its children, then removes the source folder.
void WaitForChildren(CFTPRemoteManager& c, CFTPActionCopy& copy) {
    if (copy.PendingChildren() > 0) {
        c.GetManager()->RequeueHead(&c);
        c.m_pAction = nullptr;
        // The children run first, or elsewhere: look again shortly rather
        // than spin.
        c.DeferNext();
        return;
    }
    if (!copy.ChildrenOK()) {
        c.FinishAction();
        return;
    }
    if (BaseKind(copy) == K::COPY_UPLOAD) {
        c.SetStep(copy, STEP_COPY_REMOVE_SOURCE);
        if (c.GetFrontEnd().localFiles &&
            c.GetFrontEnd().localFiles->RemoveLocalFolder(copy.m_pSource->GetPath())) {
            c.FinishAction();
        } else {
            c.Fail(K::RESULT_FAILED, 0,
                   Why(SystemError("Cannot remove the moved folder", copy.m_pSource->GetPath())));
        }
        return;
    }
    DeleteRemoteSource(c, copy, true);
}

void StartFolder(CFTPRemoteManager& c, CFTPActionCopy& copy) {
    const std::uint32_t kind = BaseKind(copy);
    switch (copy.m_nStep) {
    case STEP_COPY_FIRST:
        if (kind == K::COPY_DOWNLOAD) {
            c.SetStep(copy, STEP_COPY_MAKE_DEST);
            const std::string path = copy.m_pDest->GetPath();
            struct stat st {};
            if (!IsSafeLocalName(copy.m_pSource->GetName()) ||
                !IsSafeLocalName(copy.m_pDest->GetName())) {
                c.Fail(K::RESULT_FAILED, 0,
                       Why("The name \"" + copy.m_pSource->GetName() +
                           "\" cannot be used for a local folder; it was not copied."));
                return;
            }
            if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
                c.Fail(K::RESULT_FAILED, 0,
                       Why(path + " is a symbolic link; nothing is written through it."));
                return;
            }
            if (!c.GetFrontEnd().localFiles ||
                !c.GetFrontEnd().localFiles->EnsureLocalFolder(path)) {
                c.Fail(K::RESULT_FAILED, 0, Why(SystemError("Cannot create the folder", path)));
                return;
            }
            c.SetStep(copy, STEP_COPY_DEST_READY);
            c.m_pAction = nullptr;
        } else if (kind == K::COPY_SITE_TO_SITE) {
            c.SetStep(copy, STEP_COPY_FOLDER_STANDBY);
            if (!c.GetManager()->HandOver(&c, copy.m_pDest->m_nConnection)) {
                c.Fail(K::RESULT_FAILED, 0, Why("The destination site is no longer connected."));
            }
        } else {
            c.SetStep(copy, STEP_COPY_MAKE_DEST);
            RunSub(c, copy, MakeEnsureDestination(copy));
        }
        return;
    case STEP_COPY_FOLDER_STANDBY: // on the destination's connection
        c.SetStep(copy, STEP_COPY_MAKE_DEST);
        RunSub(c, copy, MakeEnsureDestination(copy));
        return;
    case STEP_COPY_MAKE_DEST:
        if (!SubSucceeded(copy)) {
            c.Fail(K::RESULT_FAILED, 0, {});
            return;
        }
        copy.DeleteSubAction();
        if (kind == K::COPY_UPLOAD) {
            c.SetStep(copy, STEP_COPY_LIST_SOURCE);
            CopyChildren(c, copy, ReadLocalFolder(*copy.m_pSource));
        } else if (kind == K::COPY_SITE_TO_SITE) {
            c.SetStep(copy, STEP_COPY_DEST_READY);
            if (!c.GetManager()->HandOver(&c, copy.m_pSource->m_nConnection)) {
                c.Fail(K::RESULT_FAILED, 0, Why("The source site is no longer connected."));
            }
        } else {
            c.SetStep(copy, STEP_COPY_LIST_SOURCE);
            RunSub(c, copy, MakeListSource(copy));
        }
        return;
    case STEP_COPY_DEST_READY:
        c.SetStep(copy, STEP_COPY_LIST_SOURCE);
        RunSub(c, copy, MakeListSource(copy));
        return;
    case STEP_COPY_LIST_SOURCE:
        CopyChildren(c, copy, nullptr);
        return;
    case STEP_COPY_WAIT_CHILDREN:
        WaitForChildren(c, copy);
        return;
    case STEP_COPY_REMOVE_SOURCE:
        SubSucceeded(copy) ? c.FinishAction() : c.Fail(K::RESULT_FAILED, 0, {});
        return;
    default:
        c.Fail(K::RESULT_FAILED, 0, {});
        return;
    }
}

// --- Dispatch --------------------------------------------------------------------------

void StartCopy(CFTPRemoteManager& c, CFTPAction& action) {
    auto& copy = static_cast<CFTPActionCopy&>(action);
    if (!copy.m_pSource || !copy.m_pDest) {
        c.Fail(K::RESULT_FAILED, 0, {});
        return;
    }
    if (!copy.m_pSource->m_bFile) {
        StartFolder(c, copy);
        return;
    }
    switch (BaseKind(copy)) {
    case K::COPY_DOWNLOAD:
        StartDownloadFile(c, copy);
        return;
    case K::COPY_UPLOAD:
        StartUploadFile(c, copy);
        return;
    case K::COPY_SAME_SITE:
    case K::COPY_SITE_TO_SITE:
        StartRemoteFile(c, copy);
        return;
    default:
        c.Fail(K::RESULT_FAILED, 0, {});
        return;
    }
}

void ReplyCopy(CFTPRemoteManager& c, CFTPAction& action, const ReplyLines& lines, unsigned code) {
    auto& copy = static_cast<CFTPActionCopy&>(action);
    if (!copy.m_pSource || !copy.m_pSource->m_bFile) {
        return; // folder copies send nothing themselves
    }
    switch (BaseKind(copy)) {
    case K::COPY_DOWNLOAD:
        ReplyDownloadFile(c, copy, lines, code);
        return;
    case K::COPY_UPLOAD:
        ReplyUploadFile(c, copy, lines, code);
        return;
    case K::COPY_SAME_SITE:
    case K::COPY_SITE_TO_SITE:
        ReplyRemoteFile(c, copy, lines, code);
        return;
    default:
        c.Fail(K::RESULT_FAILED, code, lines);
        return;
    }
}

} // namespace

void RegisterTransferMachines(HandlerTable& table) {
    table[K::KIND_COPY] = {StartCopy, ReplyCopy, nullptr};
}

} // namespace qb
