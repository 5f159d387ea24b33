// Copies and moves of files and folders: upload, download (with resume),
// within one site through a temporary file, and between two sites.
#include "dispatch/actions.h"
#include "dispatch/manager.h"
#include "engine/machines.h"
#include "engine/sockets.h"
#include "engine/steps.h"
#include "platform/questions.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <functional>
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

// A VMS file name carries its version (";1"); the local copy is named
// without it, the same way whether one file or a folder is copied.
std::string WithoutVmsVersion(const std::string& path) {
    const auto semicolon = path.rfind(';');
    if (semicolon == std::string::npos || semicolon + 1 == path.size() ||
        path.find('/', semicolon) != std::string::npos) {
        return path;
    }
    for (std::size_t i = semicolon + 1; i < path.size(); ++i) {
        if (path[i] < '0' || path[i] > '9') {
            return path;
        }
    }
    return path.substr(0, semicolon);
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

// The size in a reply to "SIZE" ("213 1234"); kUnknownSize otherwise.
FileSize ParseSizeReply(const ReplyLines& lines, unsigned code) {
    if (code != 213 || lines.empty()) {
        return kUnknownSize;
    }
    const std::string& line = lines.back();
    std::size_t at = 3;
    while (at < line.size() && line[at] == ' ') {
        ++at;
    }
    FileSize value = 0;
    bool any = false;
    for (; at < line.size() && line[at] >= '0' && line[at] <= '9'; ++at) {
        const FileSize digit = static_cast<FileSize>(line[at] - '0');
        if (value > (kUnknownSize - 1 - digit) / 10) {
            return kUnknownSize;
        }
        value = value * 10 + digit;
        any = true;
    }
    return any ? value : kUnknownSize;
}

} // namespace

bool ParseMdtmReply(const ReplyLines& lines, unsigned code, std::time_t& seconds, long& nanos) {
    if (code != 213 || lines.empty()) {
        return false;
    }
    const std::string& line = lines.back();
    std::size_t at = 3;
    while (at < line.size() && line[at] == ' ') {
        ++at;
    }
    int fields[6] = {};
    const int widths[6] = {4, 2, 2, 2, 2, 2};
    for (int f = 0; f < 6; ++f) {
        for (int d = 0; d < widths[f]; ++d, ++at) {
            if (at >= line.size() || line[at] < '0' || line[at] > '9') {
                return false;
            }
            fields[f] = fields[f] * 10 + (line[at] - '0');
        }
    }
    long fraction = 0;
    if (at < line.size() && line[at] == '.') {
        long scale = 100'000'000;
        for (++at; at < line.size() && line[at] >= '0' && line[at] <= '9'; ++at) {
            fraction += (line[at] - '0') * scale;
            scale /= 10;
        }
    }
    if (at != line.size() && line[at] != ' ') {
        return false;
    }
    // A second of 60 is a leap second (RFC 3659): held at 59.
    if (fields[0] < 1970 || fields[1] < 1 || fields[1] > 12 || fields[2] < 1 || fields[2] > 31 ||
        fields[3] > 23 || fields[4] > 59 || fields[5] > 60) {
        return false;
    }
    std::tm tm{};
    tm.tm_year = fields[0] - 1900;
    tm.tm_mon = fields[1] - 1;
    tm.tm_mday = fields[2];
    tm.tm_hour = fields[3];
    tm.tm_min = fields[4];
    tm.tm_sec = std::min(fields[5], 59);
    const std::time_t t = ::timegm(&tm);
    if (t <= 0 || tm.tm_mday != fields[2]) {
        return false; // no such day (February 30th)
    }
    seconds = t;
    nanos = fraction;
    return true;
}

namespace {

std::string Bytes(FileSize n) {
    return std::to_string(n) + (n == 1 ? " byte" : " bytes");
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
    copy.m_bReceiving = false;
    c.m_pDataSocket->SetTextMode(copy.m_cTransferType == 'A');
    c.m_pDataSocket->SetFile(file, false, offset);
    c.SendCommand(K::CMD_RETR, copy.m_pSource->GetPath());
    c.SetStep(copy, STEP_COPY_RECV_RETR);
}

// Starts sending `file` with "STOR" (step 66), or from the resume offset on
// with "STOR" after "REST" or with "APPE".
void Store(CFTPRemoteManager& c, CFTPActionCopy& copy, LocalFile* file,
           int verb = CFTPConstants::CMD_STOR) {
    c.m_pDataSocket->SetTextMode(copy.m_cTransferType == 'A');
    c.m_pDataSocket->SetFile(file, true, copy.m_nSendOffset);
    c.SendCommand(verb, copy.m_pDest->GetPath());
    c.SetStep(copy, STEP_COPY_SEND_STOR);
}

// 125/150 while receiving: the expected size, then the data. The size is
// kept with the action too: the data may all have arrived (and the data
// connection closed) before this reply is read.
void ReceiveStarted(CFTPRemoteManager& c, CFTPActionCopy& copy, const ReplyLines& lines) {
    copy.m_bReceiving = true;
    copy.m_nAnnounced = ParseByteCount(lines);
    c.m_pDataSocket->m_nTotal = copy.m_nAnnounced;
    if (copy.m_nAnnounced == 0 && copy.m_nRemoteSize != kUnknownSize &&
        copy.m_nRemoteSize > copy.m_nResumeOffset && copy.m_cTransferType != 'A') {
        // Without a count in the reply, the progress goes by the listed size.
        c.m_pDataSocket->m_nTotal = copy.m_nRemoteSize - copy.m_nResumeOffset;
    }
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
// A transfer the server started and then ended with a failure: what it
// sent before that is read into the part file (to be resumed). Never waits
// for a server that has not connected, nor on a transfer that never began
// (a refused "RETR" leaves a passive data connection open and silent).
void KeepWhatArrived(CFTPRemoteManager& c, const CFTPActionCopy& copy) {
    if (!copy.m_bReceiving) {
        return;
    }
    if (!c.m_pDataSocket->IsOpen() && c.m_pListenSocket->m_bListening &&
        c.m_pListenSocket->ConnectionWaiting()) {
        c.m_pListenSocket->OnAccept();
    }
    if (c.m_pDataSocket->IsOpen() && c.m_pDataSocket->m_nTotal != CFTPDataSocket::kNoTransfer) {
        c.m_pDataSocket->ReceiveAll();
    }
}

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
        copy.m_nMoved = data.GetLastDone();
        if (copy.m_cTransferType != 'A' && copy.m_nResumeOffset == 0 && copy.m_nAnnounced != 0 &&
            data.GetLastDone() < copy.m_nAnnounced) {
            c.Fail(K::RESULT_FAILED, code,
                   Why("The data connection ended after " + std::to_string(data.GetLastDone()) +
                       " of " + std::to_string(copy.m_nAnnounced) + " bytes."));
            return false;
        }
        return true;
    }
    if (copy.m_bAbortSent) {
        c.SetStep(copy, abortStep);
        return false;
    }
    KeepWhatArrived(c, copy);
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
        copy.m_nMoved = c.m_pDataSocket->GetLastDone();
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

// What to do with a file that is already where a copy goes: the answer
// given for all files of the operation, or the user's.
std::uint8_t AskReplace(CFTPRemoteManager& c, CFTPActionCopy& copy, const std::string& existing,
                        const std::string& incoming, bool canResume) {
    CFTPManager& manager = *c.GetManager();
    std::uint8_t decision = manager.GetReplaceAll(copy.m_nID);
    if (decision == K::REPLACE_RESUME && !canResume) {
        decision = K::REPLACE_OVERWRITE;
    }
    if (decision != K::REPLACE_NONE) {
        return decision;
    }
    Question question;
    question.kind = Question::Kind::Overwrite;
    question.existing = existing;
    question.incoming = incoming;
    question.canResume = canResume;
    switch (c.Ask(std::move(question))) {
    case Question::OVERWRITE:
        return K::REPLACE_OVERWRITE;
    case Question::RESUME:
        return canResume ? K::REPLACE_RESUME : K::REPLACE_OVERWRITE;
    case Question::OVERWRITE_ALL:
        manager.SetReplaceAll(copy.m_nID, K::REPLACE_OVERWRITE);
        return K::REPLACE_OVERWRITE;
    case Question::RESUME_ALL:
        manager.SetReplaceAll(copy.m_nID, K::REPLACE_RESUME);
        return canResume ? K::REPLACE_RESUME : K::REPLACE_OVERWRITE;
    case Question::SKIP_ALL:
        manager.SetReplaceAll(copy.m_nID, K::REPLACE_SKIP);
        return K::REPLACE_SKIP;
    default:
        return K::REPLACE_SKIP;
    }
}

// Decides what to do with an existing local file; false when the action has
// ended (skipped or failed).
bool DecideReplace(CFTPRemoteManager& c, CFTPActionCopy& copy, const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) {
        copy.m_nReplace = K::REPLACE_NONE;
        copy.m_bDestExisted = false;
        return true;
    }
    copy.m_bDestExisted = true;
    if (S_ISLNK(st.st_mode)) {
        c.Fail(K::RESULT_FAILED, 0,
               Why(path + " is a symbolic link; nothing is written through it."));
        return false;
    }
    if (S_ISDIR(st.st_mode)) {
        c.Fail(K::RESULT_FAILED, 0, Why(path + " is a folder; the file cannot take its place."));
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        // A device, FIFO or socket is never replaced by a download.
        c.Fail(K::RESULT_FAILED, 0,
               Why(path + " is not a regular file (a device, FIFO or socket); nothing is "
                          "written to it."));
        return false;
    }
    const std::uint8_t decision =
        AskReplace(c, copy, path, copy.m_pSource->GetPath(true), c.m_bResume);
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

// A fresh download: the data goes to a new hidden file beside the target,
// which takes the target's place only once it has arrived whole.
void RetrieveFresh(CFTPRemoteManager& c, CFTPActionCopy& copy) {
    if (copy.IsDestStream()) {
        // Straight into the stream, from where it stands.
        copy.m_nResumeOffset = 0;
        copy.m_pDestFile = std::make_unique<LocalFile>();
        if (!copy.m_pDestFile->OpenDuplicate(copy.DestStreamFd(), copy.m_pDest->GetPath())) {
            const std::string why = SystemError("Cannot write to", copy.m_pDest->GetPath());
            copy.m_pDestFile.reset();
            c.Fail(K::RESULT_FAILED, 0, Why(why));
            return;
        }
        Retrieve(c, copy, copy.m_pDestFile.get(), 0);
        return;
    }
    const std::string path = copy.m_pDest->GetPath();
    const auto slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash);
    const std::string name = copy.m_pDest->GetName();
    copy.m_nResumeOffset = 0;
    // The stem keeps the name when it fits, so that a left-over part file
    // says what it was.
    copy.m_strPartPath =
        MakeSiblingFile(folder, (name.size() <= 200 ? name : std::string()) + ".qbpart");
    copy.m_pDestFile = std::make_unique<LocalFile>();
    if (copy.m_strPartPath.empty() ||
        !copy.m_pDestFile->Open(copy.m_strPartPath, LocalFile::Mode::ReadWrite, true)) {
        const std::string why = SystemError("Cannot create a file in", folder);
        copy.m_pDestFile.reset();
        c.Fail(K::RESULT_FAILED, 0, Why(why));
        return;
    }
    Retrieve(c, copy, copy.m_pDestFile.get(), 0);
}

// The received part file takes the target's place; false (failed) when it
// cannot.
bool CommitDownload(CFTPRemoteManager& c, CFTPActionCopy& copy) {
    if (copy.m_strPartPath.empty()) {
        return true; // resumed in place
    }
    const std::string path = copy.m_pDest->GetPath();
    if (::rename(copy.m_strPartPath.c_str(), path.c_str()) != 0) {
        c.Fail(K::RESULT_FAILED, 0,
               Why(SystemError("Cannot put the received file in place at", path)));
        return false;
    }
    copy.m_strPartPath.clear();
    c.GetFrontEnd().Notifier().NotifyLocalFileCreated(path);
    return true;
}

// The received file in place takes the remote file's time (`seconds` 0:
// none known), then the move's delete.
void DownloadTimed(CFTPRemoteManager& c, CFTPActionCopy& copy, std::time_t seconds, long nanos) {
    if (seconds > 0) {
        const timespec times[2] = {{0, UTIME_OMIT}, {seconds, nanos}};
        if (::utimensat(AT_FDCWD, copy.m_pDest->GetPath().c_str(), times, 0) != 0) {
            c.PostNote(SystemError("Cannot set the modification time of", copy.m_pDest->GetPath()));
        }
    }
    if (copy.IsMove()) {
        DeleteRemoteSource(c, copy, false);
    } else {
        c.FinishAction();
    }
}

// The received file is whole: in place, with the remote file's time when
// asked to keep it ("MDTM" where the server offers it: exact and in UTC;
// else the listing's, which may hold only the day).
void DownloadDone(CFTPRemoteManager& c, CFTPActionCopy& copy) {
    if (!CommitDownload(c, copy)) {
        return;
    }
    if (!c.GetOptions().preserveDownloadTime || copy.IsDestStream()) {
        DownloadTimed(c, copy, 0, 0);
        return;
    }
    if (c.m_features.mdtm) {
        c.SendCommand(K::CMD_MDTM, copy.m_pSource->GetPath());
        c.SetStep(copy, STEP_COPY_RECV_MDTM);
        return;
    }
    DownloadTimed(c, copy, copy.m_pSource->m_time, 0);
}

// Compares what arrived with the size the server gave; false (failed) on a
// difference. A resume that went wrong leaves the local file as it was.
bool DownloadHasItsSize(CFTPRemoteManager& c, CFTPActionCopy& copy, FileSize expected) {
    const FileSize local = copy.m_nResumeOffset + copy.m_nMoved;
    if (expected == kUnknownSize || local == expected) {
        return true;
    }
    std::string why = "The file arrived with " + Bytes(local) + "; the server gives its size as " +
                      Bytes(expected) + ".";
    if (copy.m_nResumeOffset > 0) {
        const std::string path = copy.m_pDest->GetPath();
        LocalFile file;
        if (file.Open(path, LocalFile::Mode::ReadWrite, true) &&
            file.Truncate(copy.m_nResumeOffset)) {
            why += " The server did not resume where the local file ended; the local file is "
                   "left as it was.";
        }
    }
    c.Fail(K::RESULT_FAILED, 0, Why(why));
    return false;
}

// After a whole-looking transfer: its size checked against the 150 reply,
// the listing, or "SIZE" (asked now when neither told).
void VerifyDownload(CFTPRemoteManager& c, CFTPActionCopy& copy) {
    if (copy.m_cTransferType == 'A') {
        // Line ends change the count: nothing to compare.
        DownloadDone(c, copy);
        return;
    }
    FileSize expected = copy.m_nRemoteSize;
    if (copy.m_nResumeOffset == 0 && copy.m_nAnnounced != 0) {
        expected = copy.m_nAnnounced;
    }
    if (expected == kUnknownSize) {
        c.SendCommand(K::CMD_SIZE, copy.m_pSource->GetPath());
        c.SetStep(copy, STEP_COPY_RECV_VERIFY);
        return;
    }
    if (DownloadHasItsSize(c, copy, expected)) {
        DownloadDone(c, copy);
    }
}

// Whether a resume makes sense for the sizes known; false when the action
// has ended (failed, or nothing left to get).
bool CheckResume(CFTPRemoteManager& c, CFTPActionCopy& copy) {
    const FileSize remote = copy.m_nRemoteSize;
    if (remote == kUnknownSize || copy.m_nResumeOffset < remote) {
        return true;
    }
    const std::string path = copy.m_pDest->GetPath();
    if (copy.m_nResumeOffset > remote) {
        c.Fail(K::RESULT_FAILED, 0,
               Why("The local file " + path + " (" + Bytes(copy.m_nResumeOffset) +
                   ") is longer than the remote one (" + Bytes(remote) + "); it was not resumed."));
        return false;
    }
    c.PostNote(path + " is complete already; nothing is left to receive.");
    if (copy.IsMove()) {
        DeleteRemoteSource(c, copy, false);
    } else {
        c.FinishAction();
    }
    return false;
}

void BeginReceive(CFTPRemoteManager& c, CFTPActionCopy& copy) {
    c.SendCommand(K::CMD_TYPE, std::string(1, copy.m_cTransferType));
    c.SetStep(copy, STEP_COPY_RECV_TYPE);
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
    if (copy.IsDestStream()) {
        // Nothing local is named, looked at or replaced.
        copy.m_nReplace = K::REPLACE_NONE;
    } else if (c.m_nServerType == K::SERVER_VMS) {
        copy.m_pDest->m_strName = WithoutVmsVersion(copy.m_pDest->GetPath());
        copy.m_pDest->m_pParent.reset();
    }
    if (!copy.IsDestStream() && (!IsSafeLocalName(copy.m_pSource->GetName()) ||
                                 !IsSafeLocalName(copy.m_pDest->GetName()))) {
        c.Fail(K::RESULT_FAILED, 0,
               Why("The name \"" + copy.m_pSource->GetName() +
                   "\" cannot be used for a local file; it was not copied."));
        return;
    }
    if (!copy.IsDestStream() && !DecideReplace(c, copy, copy.m_pDest->GetPath())) {
        return;
    }
    copy.m_cTransferType = c.TransferTypeFor(*copy.m_pSource);
    // A VMS listing counts blocks, not bytes: only "SIZE" tells there.
    copy.m_nRemoteSize = c.m_nServerType == K::SERVER_VMS ? kUnknownSize : copy.m_pSource->m_nSize;
    if (copy.m_nReplace == K::REPLACE_RESUME && copy.m_cTransferType == 'A') {
        // Line ends differ between the two sides: a text file starts over.
        c.PostNote("Text mode: " + copy.m_pSource->GetName() +
                   " is received again from its start.");
        copy.m_nReplace = K::REPLACE_OVERWRITE;
        copy.m_nResumeOffset = 0;
    }
    if (copy.m_nReplace == K::REPLACE_RESUME && copy.m_nRemoteSize != kUnknownSize &&
        !CheckResume(c, copy)) {
        return;
    }
    BeginReceive(c, copy);
}

void ReplyDownloadFile(CFTPRemoteManager& c, CFTPActionCopy& copy, const ReplyLines& lines,
                       unsigned code) {
    switch (copy.m_nStep) {
    case STEP_COPY_RECV_TYPE:
        if (code == 200 && copy.m_nReplace == K::REPLACE_RESUME &&
            copy.m_nRemoteSize == kUnknownSize) {
            // The remote size decides whether there is anything to resume;
            // asked in binary mode, where it counts the bytes that travel.
            c.SendCommand(K::CMD_SIZE, copy.m_pSource->GetPath());
            c.SetStep(copy, STEP_COPY_RECV_SIZE);
            return;
        }
        ReplyType(c, copy, lines, code, STEP_COPY_RECV_DATA);
        return;
    case STEP_COPY_RECV_SIZE:
        copy.m_nRemoteSize = ParseSizeReply(lines, code);
        if (CheckResume(c, copy) && SendDataCommand(c)) {
            c.SetStep(copy, STEP_COPY_RECV_DATA);
        }
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
            // No resume here: the whole file comes again, and replaces the
            // local one only once it is whole.
            RetrieveFresh(c, copy);
            return;
        }
        // The server has taken the restart: the local file is opened (not
        // truncated) and receives from where it ends.
        const std::string path = copy.m_pDest->GetPath();
        copy.m_pDestFile = std::make_unique<LocalFile>();
        if (!copy.m_pDestFile->Open(path, LocalFile::Mode::ReadWrite, true)) {
            const std::string why = SystemError("Cannot open", path);
            copy.m_pDestFile.reset();
            c.Fail(K::RESULT_FAILED, 0, Why(why));
            return;
        }
        Retrieve(c, copy, copy.m_pDestFile.get(), copy.m_nResumeOffset);
        return;
    }
    case STEP_COPY_RECV_RETR:
        if (code == 125 || code == 150) {
            ReceiveStarted(c, copy, lines);
            return;
        }
        if (!ReceiveFinished(c, copy, lines, code, STEP_COPY_RECV_ABORT_WAIT)) {
            return;
        }
        VerifyDownload(c, copy);
        return;
    case STEP_COPY_RECV_MDTM: {
        std::time_t seconds = 0;
        long nanos = 0;
        if (!ParseMdtmReply(lines, code, seconds, nanos)) {
            seconds = copy.m_pSource->m_time;
            nanos = 0;
        }
        DownloadTimed(c, copy, seconds, nanos);
        return;
    }
    case STEP_COPY_RECV_VERIFY: {
        const FileSize size = ParseSizeReply(lines, code);
        if (size == kUnknownSize) {
            // The server does not tell: the transfer's own end is taken.
            DownloadDone(c, copy);
        } else if (DownloadHasItsSize(c, copy, size)) {
            DownloadDone(c, copy);
        }
        return;
    }
    default:
        c.Fail(K::RESULT_FAILED, code, lines);
        return;
    }
}

// --- Checking what a server kept ---------------------------------------------------

// After "226": the server's size of the stored file is compared with what
// was sent ("SIZE", or the folder's listing when a move depends on it and
// "SIZE" is refused). Text mode changes line ends: nothing to compare.
void VerifySent(CFTPRemoteManager& c, CFTPActionCopy& copy, const std::function<void()>& whenKept) {
    if (copy.m_cTransferType == 'A') {
        whenKept();
        return;
    }
    c.SendCommand(K::CMD_SIZE, copy.m_pDest->GetPath());
    c.SetStep(copy, STEP_COPY_SEND_VERIFY);
}

// The reply to that "SIZE"; true when the size is right or cannot be known.
// False when the action failed or a listing was asked for.
bool SentSizeReply(CFTPRemoteManager& c, CFTPActionCopy& copy, const ReplyLines& lines,
                   unsigned code) {
    const FileSize size = ParseSizeReply(lines, code);
    if (size == kUnknownSize) {
        if (!copy.IsMove()) {
            return true;
        }
        // The source goes only once the copy is known to be whole.
        CFTPFile folder(*copy.m_pDest);
        folder.ToParent();
        folder.m_bFile = false;
        c.SetStep(copy, STEP_COPY_SEND_VERIFY_LIST);
        RunSub(
            c, copy,
            std::make_unique<CFTPActionDir>(copy.m_nID, copy.m_pCallerData, &folder, true, false));
        return false;
    }
    const FileSize sent = copy.m_nSendOffset + copy.m_nMoved;
    if (size != sent) {
        c.Fail(K::RESULT_FAILED, code,
               Why("The server kept " + Bytes(size) + " of the " + Bytes(sent) + " sent."));
        return false;
    }
    return true;
}

// The listing asked for by SentSizeReply; true when the file is there with
// the size sent (or a size the listing does not give).
bool SentListedSize(CFTPRemoteManager& c, CFTPActionCopy& copy) {
    const CFTPFolderContent* content = SubSucceeded(copy) ? copy.GetFolderContent() : nullptr;
    const FileSize sent = copy.m_nSendOffset + copy.m_nMoved;
    const std::string name = copy.m_pDest->GetName();
    if (!content) {
        c.Fail(K::RESULT_FAILED, 0,
               Why("The server's folder could not be listed to check the sent file; the source "
                   "is kept."));
        return false;
    }
    for (std::size_t i = 0; i < content->GetFiles().GetSize(); ++i) {
        const CFTPFile* f = content->GetFiles().GetAt(i);
        if (f->GetName() != name) {
            continue;
        }
        if (f->m_nSize != kUnknownSize && f->m_nSize != sent) {
            c.Fail(
                K::RESULT_FAILED, 0,
                Why("The server kept " + Bytes(f->m_nSize) + " of the " + Bytes(sent) + " sent."));
            return false;
        }
        copy.DeleteSubAction();
        return true;
    }
    c.Fail(K::RESULT_FAILED, 0,
           Why("The sent file is not in the server's folder; the source is kept."));
    return false;
}

// --- Upload a file -----------------------------------------------------------------

// The upload is on the server whole: a move now deletes its source.
void UploadDone(CFTPRemoteManager& c, CFTPActionCopy& copy) {
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
}

// Asks for the data connection of the upload (step 65).
void UploadData(CFTPRemoteManager& c, CFTPActionCopy& copy) {
    if (SendDataCommand(c)) {
        c.SetStep(copy, STEP_COPY_SEND_DATA);
    }
}

// What the server holds under the upload's name decides whether it goes on
// (true), and from where. False when the action has ended (skipped, already
// complete, or failed).
bool DecideRemoteReplace(CFTPRemoteManager& c, CFTPActionCopy& copy, bool exists, bool isFolder,
                         FileSize size) {
    copy.m_bTargetChecked = true;
    copy.m_nSendOffset = 0;
    copy.m_bDestExisted = exists;
    copy.m_nReplace = K::REPLACE_NONE;
    if (!exists) {
        return true;
    }
    const std::string target = copy.m_pDest->GetPath(true);
    if (isFolder) {
        c.Fail(K::RESULT_FAILED, 0,
               Why(target + " is a folder on the server; the file cannot take its place."));
        return false;
    }
    // Only bytes as they are, from a regular file at least as long as what
    // the server holds, can continue where the server's copy ends.
    struct stat st {};
    const std::string source = copy.m_pSource->GetPath();
    const bool regular = ::stat(source.c_str(), &st) == 0 && S_ISREG(st.st_mode);
    const FileSize local = regular ? static_cast<FileSize>(st.st_size) : 0;
    const bool canResume =
        copy.m_cTransferType != 'A' && regular && size != kUnknownSize && size <= local;
    const std::uint8_t decision = AskReplace(c, copy, target, source, canResume);
    copy.m_nReplace = decision;
    if (decision == K::REPLACE_SKIP) {
        c.FinishAction();
        return false;
    }
    if (decision == K::REPLACE_RESUME) {
        if (size == local) {
            c.PostNote(target + " is complete already (" + Bytes(size) + "); nothing was sent.");
            copy.m_nSendOffset = size;
            copy.m_nMoved = 0;
            UploadDone(c, copy);
            return false;
        }
        copy.m_nSendOffset = size;
    }
    return true;
}

// The listing asked for when "SIZE" could not tell whether the upload's
// name is taken.
void UploadTargetListed(CFTPRemoteManager& c, CFTPActionCopy& copy) {
    const CFTPFolderContent* content = SubSucceeded(copy) ? copy.GetFolderContent() : nullptr;
    if (!content) {
        c.Fail(K::RESULT_FAILED, 0,
               Why("The server's folder could not be listed to see whether " +
                   copy.m_pDest->GetPath(true) + " is there; nothing was sent."));
        return;
    }
    const std::string name = copy.m_pDest->GetName();
    bool exists = false;
    bool isFolder = false;
    FileSize size = kUnknownSize;
    for (std::size_t i = 0; i < content->GetFiles().GetSize() && !exists; ++i) {
        const CFTPFile* f = content->GetFiles().GetAt(i);
        if (f->GetName() == name) {
            exists = true;
            size = f->m_nSize;
        }
    }
    for (std::size_t i = 0; i < content->GetFolders().GetSize() && !exists; ++i) {
        if (content->GetFolders().GetAt(i)->GetName() == name) {
            exists = true;
            isFolder = true;
        }
    }
    copy.DeleteSubAction();
    if (DecideRemoteReplace(c, copy, exists, isFolder, size)) {
        // The listing changed the transfer type.
        SendType(c, copy, *copy.m_pDest, STEP_COPY_SEND_TYPE);
    }
}

// The reply to the "SIZE" that looks for the upload's name (step 80).
void ReplyUploadCheck(CFTPRemoteManager& c, CFTPActionCopy& copy, const ReplyLines& lines,
                      unsigned code) {
    const FileSize size = ParseSizeReply(lines, code);
    if (size != kUnknownSize) {
        if (DecideRemoteReplace(c, copy, true, false, size)) {
            UploadData(c, copy);
        }
        return;
    }
    if (code == 550 && copy.m_cTransferType != 'A') {
        // No such file (in text mode a server may refuse "SIZE" for a file
        // that is there).
        DecideRemoteReplace(c, copy, false, false, kUnknownSize);
        UploadData(c, copy);
        return;
    }
    CFTPFile folder(*copy.m_pDest);
    folder.ToParent();
    folder.m_bFile = false;
    c.SetStep(copy, STEP_COPY_SEND_CHECK_LIST);
    RunSub(c, copy,
           std::make_unique<CFTPActionDir>(copy.m_nID, copy.m_pCallerData, &folder, true, false));
}

void StartUploadFile(CFTPRemoteManager& c, CFTPActionCopy& copy) {
    if (copy.m_nStep == STEP_COPY_SEND_CHECK_LIST) {
        UploadTargetListed(c, copy);
        return;
    }
    if (copy.m_nStep == STEP_COPY_SEND_VERIFY_LIST) {
        if (SentListedSize(c, copy)) {
            UploadDone(c, copy);
        }
        return;
    }
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
        if (code == 200 && !copy.m_bTargetChecked && c.GetOptions().checkUploadTarget) {
            c.SendCommand(K::CMD_SIZE, copy.m_pDest->GetPath());
            c.SetStep(copy, STEP_COPY_SEND_CHECK);
            return;
        }
        ReplyType(c, copy, lines, code, STEP_COPY_SEND_DATA);
        return;
    case STEP_COPY_SEND_CHECK:
        ReplyUploadCheck(c, copy, lines, code);
        return;
    case STEP_COPY_SEND_REST:
        // A server that cannot start "STOR" at an offset may still append.
        Store(c, copy, copy.m_pSourceFile.get(), code == 350 ? K::CMD_STOR : K::CMD_APPE);
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
        struct stat st {};
        if (::fstat(copy.m_pSourceFile->Fd(), &st) == 0 && S_ISDIR(st.st_mode)) {
            copy.m_pSourceFile.reset();
            c.Fail(K::RESULT_FAILED, 0, Why(path + " is a folder, not a file; nothing was sent."));
            return;
        }
        if (copy.m_nSendOffset > 0) {
            c.SendCommand(K::CMD_REST, copy.m_nSendOffset);
            c.SetStep(copy, STEP_COPY_SEND_REST);
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
        copy.m_pSourceFile.reset();
        VerifySent(c, copy, [&] { UploadDone(c, copy); });
        return;
    case STEP_COPY_SEND_VERIFY:
        if (SentSizeReply(c, copy, lines, code)) {
            UploadDone(c, copy);
        }
        return;
    default:
        c.Fail(K::RESULT_FAILED, code, lines);
        return;
    }
}

// --- Copy a file within one site, or between two -------------------------------------

// The copy is on the destination whole: the temporary file goes, and a
// move deletes its source (on the source's own connection).
void RemoteFileSent(CFTPRemoteManager& c, CFTPActionCopy& copy) {
    DropTempFile(copy);
    if (!copy.IsMove()) {
        c.FinishAction();
    } else if (BaseKind(copy) == K::COPY_SITE_TO_SITE) {
        c.SetStep(copy, STEP_COPY_MOVED_STANDBY);
        if (!c.GetManager()->HandOver(&c, copy.m_pSource->m_nConnection)) {
            c.Fail(K::RESULT_FAILED, 0, Why("The source site is no longer connected."));
        }
    } else {
        DeleteRemoteSource(c, copy, false);
    }
}

void StartRemoteFile(CFTPRemoteManager& c, CFTPActionCopy& copy) {
    const bool betweenSites = BaseKind(copy) == K::COPY_SITE_TO_SITE;
    const bool onDestination = betweenSites && copy.IsDestinationConnection(c.GetId());
    if (copy.m_nStep == STEP_COPY_SEND_VERIFY_LIST && (onDestination || !betweenSites)) {
        if (SentListedSize(c, copy)) {
            RemoteFileSent(c, copy);
        }
        return;
    }
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
            ReceiveStarted(c, copy, lines);
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
        VerifySent(c, copy, [&] { RemoteFileSent(c, copy); });
        return;
    case STEP_COPY_SEND_VERIFY:
        if (SentSizeReply(c, copy, lines, code)) {
            RemoteFileSent(c, copy);
        }
        return;
    default:
        c.Fail(K::RESULT_FAILED, code, lines);
        return;
    }
}

// --- Folders -----------------------------------------------------------------------------

// The content of a local folder, read for an upload; null with the reason
// in `error` when it cannot be read. Links are not followed into folders
// (that could lead the copy round in circles): a link to a folder, or one
// that leads nowhere, is left out with a note; a link to a file is sent as
// the file.
std::unique_ptr<CFTPFolderContent> ReadLocalFolder(CFTPRemoteManager& c, const CFTPFile& folder,
                                                   std::string& error) {
    auto content = std::make_unique<CFTPFolderContent>(folder);
    const std::string path = folder.GetPath();
    DIR* dir = ::opendir(path.c_str());
    if (!dir) {
        error = SystemError("Cannot read the folder", path);
        return nullptr;
    }
    errno = 0;
    while (dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..") {
            continue;
        }
        const std::string full = path + "/" + name;
        struct stat st {};
        if (::lstat(full.c_str(), &st) != 0) {
            continue;
        }
        if (S_ISLNK(st.st_mode)) {
            struct stat target {};
            if (::stat(full.c_str(), &target) != 0) {
                c.PostNote(full + " is a link that leads nowhere; it is left out.");
                continue;
            }
            if (S_ISDIR(target.st_mode)) {
                c.PostNote(full + " is a link to a folder; it is not followed.");
                continue;
            }
            st = target;
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

// The listing of a remote source folder, which also learns where the folder
// really is (a link may lead back into the copy).
std::unique_ptr<CFTPAction> MakeListSource(const CFTPActionCopy& copy) {
    auto dir = std::make_unique<CFTPActionDir>(copy.m_nID, copy.m_pCallerData, copy.m_pSource.get(),
                                               true, false);
    dir->m_bLearnRealPath = true;
    dir->m_arrStopAtRealPaths = copy.m_arrAncestorPaths;
    return dir;
}

// The real path of the listed source folder; "" when not known.
std::string ListedRealPath(const CFTPActionCopy& copy) {
    if (!copy.m_pSubAction || copy.m_pSubAction->m_nKind != K::KIND_DIR) {
        return {};
    }
    return static_cast<const CFTPActionDir&>(*copy.m_pSubAction).m_strRealPath;
}

// A remote folder whose real path is one the copy is inside already (a link
// to an ancestor): true (and the action has ended) when it is skipped.
bool SkipsALoop(CFTPRemoteManager& c, CFTPActionCopy& copy) {
    if (!copy.m_pSubAction || copy.m_pSubAction->m_nKind != K::KIND_DIR ||
        !static_cast<const CFTPActionDir&>(*copy.m_pSubAction).m_bStoppedAtLoop) {
        return false;
    }
    const std::string real = ListedRealPath(copy);
    c.PostNote(copy.m_pSource->GetPath(true) + " leads back to " + real +
               ", which this copy is in already; it is skipped.");
    copy.DeleteSubAction();
    c.FinishAction();
    return true;
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
    std::vector<std::string> ancestors = copy.m_arrAncestorPaths;
    const std::string real = ListedRealPath(copy);
    if (!real.empty()) {
        ancestors.push_back(real);
    }
    c.SetStep(copy, STEP_COPY_CHILDREN);
    auto make = [&](const CFTPFile& item) {
        auto destination = copy.MakeChildDestination(item);
        auto child = std::make_unique<CFTPActionCopy>(copy.m_nID, copy.m_pCallerData, &item,
                                                      destination.get(), copy.m_nCopyKind);
        child->m_arrAncestorPaths = ancestors;
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

// The local folder of a download, made once the remote one has been listed
// (nothing is made for a folder that turns out not to be there); false when
// the action has failed.
bool MakeLocalFolder(CFTPRemoteManager& c, CFTPActionCopy& copy) {
    const std::string path = copy.m_pDest->GetPath();
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0) {
        if (S_ISLNK(st.st_mode)) {
            c.Fail(K::RESULT_FAILED, 0,
                   Why(path + " is a symbolic link; nothing is written through it."));
            return false;
        }
        if (!S_ISDIR(st.st_mode)) {
            c.Fail(K::RESULT_FAILED, 0,
                   Why("A file named " + path + " stands where the folder should go."));
            return false;
        }
        return true;
    }
    if (!c.GetFrontEnd().localFiles || !c.GetFrontEnd().localFiles->EnsureLocalFolder(path)) {
        c.Fail(K::RESULT_FAILED, 0, Why(SystemError("Cannot create the folder", path)));
        return false;
    }
    return true;
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
            if (!IsSafeLocalName(copy.m_pSource->GetName()) ||
                !IsSafeLocalName(copy.m_pDest->GetName())) {
                c.Fail(K::RESULT_FAILED, 0,
                       Why("The name \"" + copy.m_pSource->GetName() +
                           "\" cannot be used for a local folder; it was not copied."));
                return;
            }
            // The remote folder is listed first: the local one is made only
            // for a folder that is there.
            c.SetStep(copy, STEP_COPY_LIST_SOURCE);
            RunSub(c, copy, MakeListSource(copy));
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
            std::string error;
            auto local = ReadLocalFolder(c, *copy.m_pSource, error);
            if (!local) {
                c.Fail(K::RESULT_FAILED, 0, Why(error));
                return;
            }
            CopyChildren(c, copy, std::move(local));
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
        if (SubSucceeded(copy) && SkipsALoop(c, copy)) {
            return;
        }
        if (kind == K::COPY_DOWNLOAD && SubSucceeded(copy) && !MakeLocalFolder(c, copy)) {
            return;
        }
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
