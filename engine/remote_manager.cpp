#include "engine/remote_manager.h"

#include "dispatch/manager.h"
#include "engine/command.h"
#include "engine/listing_parser.h"
#include "engine/machines.h"
#include "engine/secretary.h"
#include "engine/steps.h"
#include "platform/local_file.h"
#include "platform/questions.h"
#include "platform/text.h"

#include <algorithm>
#include <iterator>

namespace qb {

namespace {
const char* const kConnectionClosed = "Connection closed by server.";
// The longest a session that ends waits for the answer to "QUIT".
constexpr std::chrono::milliseconds kQuitWaitLimit{2000};

// The remote items an action names.
std::vector<const CFTPFile*> RemoteItemsOf(const CFTPAction& action) {
    std::vector<const CFTPFile*> items;
    switch (action.m_nKind) {
    case CFTPConstants::KIND_DIR:
    case CFTPConstants::KIND_CD:
    case CFTPConstants::KIND_MD:
    case CFTPConstants::KIND_CDMD:
    case CFTPConstants::KIND_MDCD:
        items.push_back(static_cast<const CFTPFolderAction&>(action).m_pFile.get());
        break;
    case CFTPConstants::KIND_DEL:
        items.push_back(static_cast<const CFTPActionDel&>(action).m_pFile.get());
        break;
    case CFTPConstants::KIND_REN:
        items.push_back(static_cast<const CFTPActionRen&>(action).m_pFile.get());
        items.push_back(static_cast<const CFTPActionRen&>(action).m_pNewFile.get());
        break;
    case CFTPConstants::KIND_COPY:
        items.push_back(static_cast<const CFTPActionCopy&>(action).m_pSource.get());
        items.push_back(static_cast<const CFTPActionCopy&>(action).m_pDest.get());
        break;
    default:
        break;
    }
    return items;
}

// A remote name with a line break (or NUL) cannot be sent as it is, and
// sending it cut would name another item: the path, or "".
std::string UnsendablePath(const CFTPAction& action) {
    for (const CFTPFile* item : RemoteItemsOf(action)) {
        if (!item || !item->IsRemote()) {
            continue;
        }
        const std::string path = item->GetPath();
        if (path.find_first_of(std::string("\r\n\0", 3)) != std::string::npos) {
            return path;
        }
    }
    return {};
}

} // namespace

CFTPRemoteManager::CFTPRemoteManager(CFTPManager* manager, ConnectionId id,
                                     const FrontEnd& frontEnd, CFTPSecretary* secretary,
                                     const HandlerTable& handlers, const EngineOptions& options)
    : m_pManager(manager), m_nId(id), m_options(options), m_frontEnd(frontEnd),
      m_pSecretary(secretary), m_handlers(handlers) {
    Start();
}

CFTPRemoteManager::~CFTPRemoteManager() {
    if (IsRunning()) {
        Stop();
    }
    Join();
}

bool CFTPRemoteManager::InitInstance() {
    m_pCtrlSocket = std::make_unique<CFTPCtrlSocket>(this);
    m_pListenSocket = std::make_unique<CFTPListenSocket>(this);
    m_pDataSocket = std::make_unique<CFTPDataSocket>(this);
    return true;
}

void CFTPRemoteManager::ExitInstance() {
    // The data connection goes first: a server finishes a transfer under
    // way before it answers "QUIT".
    CloseDataSockets();
    if (m_pCtrlSocket) {
        // The session ends with "QUIT" and its answer (or the server's
        // close), so that the server has finished with it before a new
        // session to the same site begins: pyftpdlib, for one, may lose the
        // new session when it tidies up the old one's active-mode data
        // connection after the new one has been accepted.
        if (m_pCtrlSocket->IsOpen()) {
            const auto limit = m_options.replyTimeout.count() > 0
                                   ? std::min(m_options.replyTimeout, kQuitWaitLimit)
                                   : kQuitWaitLimit;
            m_pCtrlSocket->Quit(limit);
        }
        m_pCtrlSocket->Close();
    }
    if (m_pManager) {
        // Nothing refers to this object by address: the manager may destroy
        // it as soon as the thread is gone.
        m_pManager->ConnectionThreadEnded(m_nId);
    }
}

void CFTPRemoteManager::OnMessage(const Message& msg) {
    switch (msg.id) {
    case RMM_QUIT:
        EndThread();
        break;
    case RMM_NEXT:
        OnNext();
        break;
    case RMM_REPLY:
        OnReplyQueued();
        break;
    case RMM_ABORT_WAIT_OVER:
        if (msg.wParam == m_abortWaitSerial && IsWaitingForAbort()) {
            PostNote("No answer to \"ABOR\"; the transfer is given up.");
            EndAbortWait();
        }
        break;
    case RMM_REPLY_TIMEOUT:
        OnReplyTimeout(msg.wParam);
        break;
    default:
        break;
    }
}

void CFTPRemoteManager::Stop() {
    m_bStop.store(true, std::memory_order_release);
    m_wake.Signal();
    Post(RMM_NEXT);
}

std::string CFTPRemoteManager::GetHostName() const {
    std::lock_guard<std::mutex> guard(m_hostLock);
    return m_hostName;
}

void CFTPRemoteManager::SetHostName(const std::string& host) {
    std::lock_guard<std::mutex> guard(m_hostLock);
    m_hostName = host;
}

bool CFTPRemoteManager::IsStopping() const {
    return IsStopRequested() || (m_pAction && m_pAction->IsCancelled());
}

net::Interrupt CFTPRemoteManager::MakeInterrupt(bool stopOnly) const {
    net::Interrupt intr;
    intr.wake = &m_wake;
    intr.idleLimit = m_options.replyTimeout;
    if (stopOnly) {
        intr.stop = [this] { return IsStopRequested(); };
    } else {
        intr.stop = [this] { return IsStopping(); };
    }
    return intr;
}

const ActionHandlers* CFTPRemoteManager::HandlersFor(const CFTPAction& action) const {
    if (action.m_nKind >= m_handlers.size()) {
        return nullptr;
    }
    return &m_handlers[action.m_nKind];
}

void CFTPRemoteManager::OnNext() {
    if (!m_pManager) {
        // Without a manager there is no queue: only a stop has any effect.
        if (IsStopRequested()) {
            EndThread();
        }
        return;
    }
    if (m_pAction) {
        if (IsStopRequested()) {
            if (m_pCtrlSocket) {
                m_pCtrlSocket->Close();
            }
            FinishAction();
        }
        return;
    }
    if (IsStopRequested()) {
        if (m_pManager->IsQueueEmpty(this)) {
            EndThread();
            return;
        }
    } else if (m_bLost) {
        if (m_pManager->IsQueueEmpty(this)) {
            if (!m_bLostReported) {
                m_bLostReported = true;
                m_pManager->ConnectionLost(m_nId);
            }
            return;
        }
        // The server is gone: an action under way fails, one that has not
        // begun ends quietly; then the connection is given up.
        m_pAction = m_pManager->PeekNext(this);
        if (m_pAction && m_pAction->m_bStarted && !m_pAction->IsCancelled()) {
            const bool subSaidWhy =
                m_pAction->m_pSubAction && !m_pAction->m_pSubAction->m_astrMessages.empty();
            Fail(RESULT_FAILED, 0, subSaidWhy ? ReplyLines{} : ReplyLines{kConnectionClosed});
        } else if (m_pAction) {
            m_pAction->Cancel();
            FinishAction();
        }
        return;
    } else if (m_bResync) {
        // The next action starts once the control connection is in step.
        return;
    } else if (m_pManager->IsQueueEmpty(this)) {
        return;
    }
    m_pAction = m_pManager->PeekNext(this);
    if (!m_pAction) {
        Post(RMM_NEXT);
        return;
    }
    if (m_pAction->m_nKind == KIND_CONNECT && m_pAction->m_nStep == STEP_TRY_CONNECT &&
        !IsStopping()) {
        if (std::chrono::steady_clock::now() < m_restartDue) {
            // A restarted connect waits for its pause to end (a delayed
            // RMM_NEXT comes then); a stop ends the wait at once.
            m_pAction = nullptr;
            return;
        }
        if (m_pManager->IsEarlierSessionEnding(this)) {
            // An earlier connection to the site is still saying goodbye
            // (bounded by its "QUIT" wait): the server finishes that
            // session before this one begins.
            m_pAction = nullptr;
            PostDelayed(std::chrono::milliseconds(10), RMM_NEXT);
            return;
        }
    }
    // A wake-up left over from an earlier cancel must not end this action's
    // first wait; a stop still shows through the stop test.
    m_wake.Clear();
    if (IsStopping()) {
        FinishAction();
        return;
    }
    m_pAction->m_bStarted = true;
    const std::string unsendable = UnsendablePath(*m_pAction);
    if (!unsendable.empty()) {
        Fail(RESULT_FAILED, 0,
             {"The name \"" + ShowControlChars(unsendable) +
              "\" holds a line break or a NUL byte; it cannot be sent to the server as it is."});
        Post(RMM_NEXT);
        return;
    }
    const ActionHandlers* handlers = HandlersFor(*m_pAction);
    m_nDataCommand = -1; // a data command of an action that ended is no longer answered
    if (handlers && handlers->start) {
        handlers->start(*this, *m_pAction);
    } else {
        Fail(RESULT_FAILED, 0, {});
    }
    if (m_bDeferNext) {
        m_bDeferNext = false;
        PostDelayed(std::chrono::milliseconds(50), RMM_NEXT);
    } else {
        Post(RMM_NEXT);
    }
}

void CFTPRemoteManager::NoteTransferError(const std::string& text) {
    if (m_pAction && m_pAction->m_strTransferError.empty()) {
        m_pAction->m_strTransferError = text;
    }
}

void CFTPRemoteManager::QueueReply(ReplyLines lines, unsigned code) {
    m_replyQueue.push_back(Reply{std::move(lines), code});
}

void CFTPRemoteManager::QueueControlClosed() {
    Reply closed;
    closed.closed = true;
    m_replyQueue.push_back(std::move(closed));
}

void CFTPRemoteManager::OnReplyQueued() {
    if (m_replyQueue.empty()) {
        return;
    }
    // Handled from a copy: the handler may queue further replies.
    Reply reply = m_replyQueue.front();
    m_replyQueue.pop_front();
    if (reply.closed) {
        OnControlClosed();
    } else {
        OnReply(reply.lines, reply.code);
    }
    if (!m_replyQueue.empty()) {
        Post(RMM_REPLY);
    }
}

void CFTPRemoteManager::OnReply(const ReplyLines& lines, unsigned code) {
    if (m_pSecretary) {
        m_pSecretary->LogReply(this, lines);
    }
    NoteActivity();
    const bool final = code == 0 || code >= 200;
    if (final) {
        m_bAwaitingReply = false;
    }
    if (m_bResync) {
        if (code == 200) {
            m_bResync = false;
            Post(RMM_NEXT);
        } else {
            // A late reply of the broken-off transfer: dropped. The time-out
            // still runs for the answer to "NOOP".
            m_bAwaitingReply = true;
        }
        return;
    }
    if (!m_pAction) {
        return;
    }
    if (IsWaitingForAbort()) {
        EndAbortWait();
        return;
    }
    const ActionHandlers* handlers = HandlersFor(*m_pAction);
    if (!m_pAction->m_bAbortSent && IsStopping() && code != 150 && code != 125) {
        if (handlers && handlers->late) {
            handlers->late(*this, *m_pAction, lines, code);
        }
        FinishAction();
        return;
    }
    if (m_nDataCommand >= 0 && RetryRefusedDataCommand(*this, code)) {
        return;
    }
    if (code == 0) {
        // Not a reply any step accepts (one too long to be read, or no FTP
        // at all): a connect does not try again.
        if (m_pAction->m_nKind == KIND_CONNECT) {
            static_cast<CFTPActionConnect&>(*m_pAction).m_bNoRestart = true;
        }
        Fail(RESULT_FAILED, 0, lines.empty() ? ReplyLines{} : ReplyLines{lines.back()});
        return;
    }
    if (handlers && handlers->reply) {
        handlers->reply(*this, *m_pAction, lines, code);
    }
}

void CFTPRemoteManager::SetStep(CFTPAction& action, std::uint16_t step) {
    action.SetStep(m_frontEnd.Status(), GetStatusLane(), step);
    if (action.m_bAbortSent && IsAbortWaitStep(step)) {
        // Servers answer "ABOR" with one reply or two; if the one that ends
        // the wait never comes, the wait ends by itself.
        PostDelayed(m_options.abortWaitLimit, RMM_ABORT_WAIT_OVER, ++m_abortWaitSerial);
    }
}

bool CFTPRemoteManager::IsAbortWaitStep(std::uint16_t step) {
    return step == STEP_DIR_ABORT_WAIT || step == STEP_COPY_RECV_ABORT_WAIT ||
           step == STEP_COPY_SEND_ABORT_WAIT;
}

void CFTPRemoteManager::EndAbortWait() {
    if (!IsWaitingForAbort()) {
        return;
    }
    // The transfer was broken off: by the user (nothing to tell), or
    // because this side failed (say why).
    if (!m_pAction->m_strTransferError.empty() && !IsStopping()) {
        Fail(RESULT_FAILED, 0, {m_pAction->m_strTransferError});
    } else {
        FinishAction();
    }
}

void CFTPRemoteManager::Fail(std::uint16_t result, unsigned /*replyCode*/,
                             const ReplyLines& replyLines) {
    if (!m_pAction) {
        return;
    }
    ReplyLines shown = replyLines;
    if (m_pAction->CanRestartConnect()) {
        ++m_nConnectFailures;
        std::string why;
        for (const auto& line : replyLines) {
            why += (why.empty() ? "" : " ") + line;
        }
        const unsigned limit = m_options.maxConnectAttempts;
        if (limit == 0 || m_nConnectFailures < limit) {
            m_pAction->RestartConnect();
            m_pAction = nullptr;
            ScheduleRestart(why);
            return;
        }
        shown.push_back("Gave up after " + std::to_string(m_nConnectFailures) +
                        (m_nConnectFailures == 1 ? " attempt." : " attempts."));
    }
    m_pAction->SetResult(result, shown);
    if (m_pAction->ShouldReportFailure() && !m_pAction->IsCancelled() && !IsStopRequested()) {
        // The action ends only after the user has closed the message (or a
        // stop has closed it).
        ShowMessage(m_pAction->JoinedMessages(), MB_OK | MB_ICONERROR);
    }
    FinishAction();
}

void CFTPRemoteManager::ScheduleRestart(const std::string& why) {
    if (m_pCtrlSocket) {
        m_pCtrlSocket->Close();
    }
    m_restartDelay = m_restartDelay.count() == 0
                         ? m_options.restartFirstDelay
                         : std::min(m_restartDelay * 2, m_options.restartMaxDelay);
    m_restartDue = std::chrono::steady_clock::now() + m_restartDelay;
    const auto ms = m_restartDelay.count();
    PostNote("Connection failed" + (why.empty() ? std::string() : " (" + why + ")") +
             "; trying again in " +
             (ms % 1000 == 0 ? std::to_string(ms / 1000) + " s." : std::to_string(ms) + " ms."));
    PostDelayed(m_restartDelay, RMM_NEXT);
}

void CFTPRemoteManager::FinishAction() {
    if (!m_pAction) {
        return;
    }
    if (m_pAction->m_nKind == KIND_CONNECT) {
        m_restartDelay = std::chrono::milliseconds(0);
        m_restartDue = {};
        m_nConnectFailures = 0;
    }
    m_pAction->SetStep(m_frontEnd.Status(), IsStopping() ? 0 : GetStatusLane(), STEP_DONE);
    if (m_pAction->m_bAbortSent) {
        // Whatever the server still says about the broken-off transfer must
        // not be taken for the next command's reply.
        BeginResync();
    }
    bool handedBack = false;
    if (!IsStopRequested()) {
        handedBack = m_pManager->ActionDone(this);
    }
    if (!handedBack) {
        CloseDataSockets();
        m_pManager->RemoveHead(this);
    }
    m_pAction = nullptr;
    Post(RMM_NEXT);
}

void CFTPRemoteManager::SendAbort() {
    if (m_pAction && !m_pAction->m_bAbortSent) {
        m_pAction->m_bAbortSent = true;
        SendLine("ABOR");
    }
}

bool CFTPRemoteManager::SendLine(const std::string& line) {
    const bool sent = m_pCtrlSocket && m_pCtrlSocket->SendLine(line);
    if (m_pSecretary) {
        m_pSecretary->LogCommand(this, line);
    }
    if (sent) {
        AwaitReply();
    }
    return sent;
}

void CFTPRemoteManager::AwaitReply() {
    NoteActivity();
    if (m_options.replyTimeout.count() <= 0) {
        return;
    }
    m_bAwaitingReply = true;
    PostDelayed(m_options.replyTimeout, RMM_REPLY_TIMEOUT, ++m_replySerial);
}

void CFTPRemoteManager::OnReplyTimeout(std::uintptr_t serial) {
    if (serial != m_replySerial || !m_bAwaitingReply) {
        return;
    }
    const auto silent = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - m_lastActivity);
    if (silent < m_options.replyTimeout) {
        // Data moved meanwhile: count again from then.
        PostDelayed(m_options.replyTimeout - silent, RMM_REPLY_TIMEOUT, serial);
        return;
    }
    m_bAwaitingReply = false;
    const auto ms = m_options.replyTimeout.count();
    GiveUpConnection(
        "Timed out waiting for the server's reply (nothing for " +
        (ms % 1000 == 0 ? std::to_string(ms / 1000) + " s" : std::to_string(ms) + " ms") + ").");
}

void CFTPRemoteManager::BeginResync() {
    if (m_bResync || !m_pCtrlSocket || !m_pCtrlSocket->IsOpen() || IsStopRequested()) {
        return;
    }
    m_bResync = true;
    if (!SendLine("NOOP")) {
        m_bResync = false;
    }
}

void CFTPRemoteManager::GiveUpConnection(const std::string& why) {
    m_bResync = false;
    if (m_pCtrlSocket) {
        m_pCtrlSocket->Close();
    }
    if (IsStopRequested()) {
        return;
    }
    if (m_pAction && m_pAction->m_nKind == KIND_CONNECT) {
        // A connect in its first steps starts over; later it fails, and a
        // failed connect ends its connection.
        Fail(RESULT_FAILED, 0, {why});
        return;
    }
    m_bLost = true;
    PostNote(why);
    if (m_pAction) {
        Fail(RESULT_FAILED, 0, {why});
    }
    Post(RMM_NEXT);
}

bool CFTPRemoteManager::SendCommand(int code, const std::string& argument, bool splitName) {
    const std::string home = m_pHomeFolder ? m_pHomeFolder->m_strName : std::string();
    const bool retrAsGiven = m_frontEnd.App().GetBusyCode() == kBusyViewLinkTarget;
    std::string line =
        BuildCommandLine(code, argument, splitName, m_nServerType, home, retrAsGiven);
    if (line.empty()) {
        return false;
    }
    return SendLine(line);
}

bool CFTPRemoteManager::SendCommand(int code, std::uint64_t number) {
    return SendCommand(code, std::to_string(number), true);
}

void CFTPRemoteManager::PostNote(const std::string& text) {
    if (m_pSecretary) {
        m_pSecretary->PostNote(text);
    }
}

int CFTPRemoteManager::Ask(Question question) {
    question.connection = m_nId;
    if (m_pAction && question.operation == 0) {
        question.operation = m_pAction->m_nID;
    }
    if (!m_pManager) {
        return question.CancelAnswer();
    }
    return m_pManager->Questions().Ask(std::move(question));
}

void CFTPRemoteManager::ShowMessage(const std::string& text, unsigned style) {
    Question question;
    question.kind = Question::Kind::Message;
    question.text = text;
    question.style = style;
    Ask(std::move(question));
}

void CFTPRemoteManager::OnControlClosed() {
    // A socket this side has already closed (a connect starting over) has
    // nothing more to tell.
    if (!m_pCtrlSocket || !m_pCtrlSocket->IsOpen()) {
        return;
    }
    GiveUpConnection(kConnectionClosed);
}

void CFTPRemoteManager::OnDataClosed() {
    if (!m_pAction) {
        return;
    }
    if (m_pAction->m_nKind == KIND_DIR) {
        if (!IsStopping()) {
            FinishListing();
        }
        m_pListingReader.reset();
        m_pListed.reset();
        return;
    }
    if (m_pAction->m_nKind == KIND_COPY) {
        auto& copy = static_cast<CFTPActionCopy&>(*m_pAction);
        if (!copy.m_pSource || !copy.m_pSource->m_bFile) {
            return;
        }
        const std::uint32_t kind = copy.m_nCopyKind & ~static_cast<std::uint32_t>(COPY_MOVE);
        if (kind == COPY_UPLOAD) {
            copy.m_pSourceFile.reset();
        } else if (kind == COPY_DOWNLOAD) {
            copy.m_pDestFile.reset();
        }
    }
}

void CFTPRemoteManager::StartListing() {
    m_pListingReader.reset();
    m_pListed.reset();
    m_bListingTooLong = false;
    if (!m_pAction || m_pAction->m_nKind != KIND_DIR) {
        return;
    }
    auto& dir = static_cast<CFTPActionDir&>(*m_pAction);
    const CFTPFile* folder = dir.m_pFile ? dir.m_pFile.get() : m_pWorkFolder.get();
    if (!folder) {
        return;
    }
    ListingContext context;
    context.homePath = m_pHomeFolder ? m_pHomeFolder->m_strName : std::string();
    context.workPath = folder->GetPath();
    context.now = std::time(nullptr);
    m_pListed = std::make_unique<CFTPFolderContent>(*folder);
    m_pListingReader = std::make_unique<ListingReader>(
        m_nListCommand == CMD_MLSD ? kMlsdListing : m_nServerType, std::move(context), *m_pListed);
    m_bListedDashA = false;
    m_bToldEntries = false;
    if (dir.m_pSink) {
        m_pListingReader->SetEntries(
            [this, sink = dir.m_pSink, onlyDashA = dir.m_bSinkHasListing](
                std::span<const ListedEntry> entries) { TellListed(*sink, entries, onlyDashA); },
            dir.m_pSink->WantsListing());
    }
}

void CFTPRemoteManager::TellListed(IListingSink& sink, std::span<const ListedEntry> entries,
                                   bool onlyDashA) {
    const auto isDashA = [](const ListedEntry& entry) { return entry.name == "-a"; };
    const auto tell = [&](std::span<const ListedEntry> told) {
        if (!told.empty()) {
            sink.Listed(told);
            m_bToldEntries = true;
        }
    };
    if (onlyDashA) {
        std::vector<ListedEntry> told;
        std::copy_if(entries.begin(), entries.end(), std::back_inserter(told), isDashA);
        tell(told);
        return;
    }
    if (m_nListCommand != CMD_LIST_ALL || std::none_of(entries.begin(), entries.end(), isDashA)) {
        tell(entries);
        return;
    }
    // An entry "-a" means the server may have taken the option for a name:
    // the listing is then read again with plain "LIST", and "-a" is not
    // told (it is told from the second reading; the other entries of the
    // second reading only when none of this one were).
    m_bListedDashA = true;
    std::vector<ListedEntry> told;
    std::remove_copy_if(entries.begin(), entries.end(), std::back_inserter(told), isDashA);
    tell(told);
}

bool CFTPRemoteManager::TakeListing(std::string_view piece) {
    if (IsStopping()) {
        return false;
    }
    if (!m_pListingReader || m_bListingTooLong) {
        // Nothing reads it (no parser, or refused already): the rest is
        // received and dropped, so that the server's reply comes as usual.
        return true;
    }
    // The limit is checked once a piece (a piece holds a few thousand
    // entries at most): past it, the rest is not read.
    m_pListingReader->Feed(piece);
    if (m_pListingReader->Count() > m_options.maxListingEntries) {
        m_bListingTooLong = true;
    }
    return true;
}

bool CFTPRemoteManager::FinishListing() {
    if (!m_pAction || m_pAction->m_nKind != KIND_DIR) {
        return false;
    }
    auto& dir = static_cast<CFTPActionDir&>(*m_pAction);
    if (!m_pListingReader) {
        return false;
    }
    if (!m_pListingReader->IsSupported()) {
        ShowMessage(UnsupportedServerMessage(m_nServerType), MB_OK | MB_ICONERROR);
        return false;
    }
    const ListingParse result = m_pListingReader->Finish();
    const std::size_t entries = m_pListingReader->Count();
    m_pListingReader.reset();
    if (m_bListingTooLong || entries > m_options.maxListingEntries) {
        m_pListed.reset();
        NoteTransferError("The folder holds more than " +
                          std::to_string(m_options.maxListingEntries) +
                          " entries; it was not listed.");
        return false;
    }
    if (result != ListingParse::Done) {
        return false;
    }
    dir.m_pContent = std::move(m_pListed);
    ReportProgress(-1);
    return true;
}

void CFTPRemoteManager::ReportProgress(int percent) {
    if (!IsStopping()) {
        m_frontEnd.Status().SetPercent(GetStatusLane(), percent, true);
    }
}

void CFTPRemoteManager::ReportBytes(FileSize count) {
    if (!IsStopping()) {
        m_frontEnd.Status().SetBytes(GetStatusLane(), count, true);
    }
}

std::string CFTPRemoteManager::MakeTempFileName() {
    return MakeTempFile("ftp");
}

char CFTPRemoteManager::TransferTypeFor(const CFTPFile& file) const {
    if (m_frontEnd.App().IsExiting()) {
        return 'I';
    }
    return m_frontEnd.Settings().GetTransferType(file.GetName());
}

void CFTPRemoteManager::CloseDataSockets() {
    if (m_pListenSocket) {
        m_pListenSocket->Close();
    }
    if (m_pDataSocket) {
        m_pDataSocket->Close();
    }
}

} // namespace qb
