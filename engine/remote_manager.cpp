#include "engine/remote_manager.h"

#include "dispatch/manager.h"
#include "engine/secretary.h"
#include "engine/steps.h"
#include "platform/local_file.h"
#include "platform/questions.h"

namespace qb {

CFTPRemoteManager::CFTPRemoteManager(CFTPManager* manager, const FrontEnd& frontEnd,
                                     CFTPSecretary* secretary, const HandlerTable& handlers)
    : m_pManager(manager), m_frontEnd(frontEnd), m_pSecretary(secretary), m_handlers(handlers) {
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
    if (m_pCtrlSocket) {
        m_pCtrlSocket->Close();
    }
    CloseDataSockets();
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
    } else if (m_pManager->IsQueueEmpty(this)) {
        return;
    }
    m_pAction = m_pManager->PeekNext(this);
    if (!m_pAction) {
        Post(RMM_NEXT);
        return;
    }
    // A wake-up left over from an earlier cancel must not end this action's
    // first wait; a stop still shows through the stop test.
    m_wake.Clear();
    if (IsStopping()) {
        FinishAction();
        return;
    }
    const ActionHandlers* handlers = HandlersFor(*m_pAction);
    if (handlers && handlers->start) {
        handlers->start(*this, *m_pAction);
    } else {
        Fail(RESULT_FAILED, 0, {});
    }
    Post(RMM_NEXT);
}

void CFTPRemoteManager::QueueReply(ReplyLines lines, unsigned code) {
    m_replyQueue.push_back(Reply{std::move(lines), code});
}

void CFTPRemoteManager::OnReplyQueued() {
    if (m_replyQueue.empty()) {
        return;
    }
    // Handled from a copy: the handler may queue further replies.
    Reply reply = m_replyQueue.front();
    m_replyQueue.pop_front();
    OnReply(reply.lines, reply.code);
    if (!m_replyQueue.empty()) {
        Post(RMM_REPLY);
    }
}

void CFTPRemoteManager::OnReply(const ReplyLines& lines, unsigned code) {
    if (m_pSecretary) {
        m_pSecretary->LogReply(this, lines);
    }
    if (!m_pAction) {
        return;
    }
    const std::uint16_t step = m_pAction->m_nStep;
    if (m_pAction->m_bAbortSent &&
        (step == STEP_DIR_ABORT_WAIT || step == STEP_COPY_RECV_ABORT_WAIT ||
         step == STEP_COPY_SEND_ABORT_WAIT)) {
        FinishAction();
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
    if (handlers && handlers->reply) {
        handlers->reply(*this, *m_pAction, lines, code);
    }
}

void CFTPRemoteManager::SetStep(CFTPAction& action, std::uint16_t step) {
    action.SetStep(m_frontEnd.Status(), GetStatusLane(), step);
}

void CFTPRemoteManager::Fail(std::uint16_t result, unsigned /*replyCode*/,
                             const ReplyLines& replyLines) {
    if (m_pAction && m_pAction->RestartConnect()) {
        m_pAction = nullptr;
        Post(RMM_NEXT);
        return;
    }
    if (!m_pAction) {
        return;
    }
    m_pAction->SetResult(result, replyLines);
    if (m_pAction->ShouldReportFailure() && !m_pAction->IsCancelled() && !IsStopRequested()) {
        // The action ends only after the user has closed the message.
        m_frontEnd.MessageBox(m_pAction->JoinedMessages(), MB_OK | MB_ICONERROR);
    }
    FinishAction();
}

void CFTPRemoteManager::FinishAction() {
    if (!m_pAction) {
        return;
    }
    m_pAction->SetStep(m_frontEnd.Status(), IsStopping() ? 0 : GetStatusLane(), STEP_DONE);
    bool handedBack = false;
    if (!IsStopRequested()) {
        handedBack = m_pManager->ActionDone(this);
    }
    if (!handedBack) {
        CloseDataSockets();
        m_pManager->RemoveHead(this, true);
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
    if (m_pSecretary) {
        m_pSecretary->LogCommand(this, line);
    }
    return false;
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

HandlerTable DefaultHandlers() {
    return HandlerTable{};
}

} // namespace qb
