#include "engine/secretary.h"

#include "dispatch/actions.h"
#include "engine/remote_manager.h"

namespace qb {

std::string CFTPSecretary::HidePassword(const std::string& line) {
    if (line.size() > 5 && line.compare(0, 4, "PASS") == 0) {
        return line.substr(0, 5) + std::string(line.size() - 5, 'X');
    }
    return line;
}

bool CFTPSecretary::LogCommand(const CFTPRemoteManager* connection, const std::string& line) {
    if (m_bShutdown || !m_frontEnd.Settings().LogCommands()) {
        return true;
    }
    if (!connection) {
        return false;
    }
    std::string text = HidePassword(line);
    if (m_frontEnd.Settings().LogHostAddress()) {
        text = connection->GetHostName() + " : " + text;
    }
    std::lock_guard<std::mutex> guard(m_lock);
    if (!connection->IsStopRequested()) {
        m_frontEnd.Log().LogCommandLine(text);
    }
    return true;
}

bool CFTPSecretary::LogReply(const CFTPRemoteManager* connection,
                             const std::vector<std::string>& lines) {
    if (m_bShutdown || !m_frontEnd.Settings().LogResponses()) {
        return true;
    }
    if (!connection) {
        return false;
    }
    std::lock_guard<std::mutex> guard(m_lock);
    if (connection->IsStopRequested()) {
        return true;
    }
    std::string prefix;
    if (m_frontEnd.Settings().LogHostAddress()) {
        prefix = connection->GetHostName() + " : ";
    }
    for (const auto& line : lines) {
        std::string text = prefix;
        text.reserve(prefix.size() + line.size());
        for (char c : line) {
            if (c == '\t') {
                text += "    ";
            } else {
                text += c;
            }
        }
        m_frontEnd.Log().LogReplyLine(text);
    }
    return true;
}

void CFTPSecretary::PostNote(const std::string& text) {
    if (m_bShutdown) {
        return;
    }
    std::lock_guard<std::mutex> guard(m_lock);
    m_frontEnd.Log().LogNoteLine(text);
}

void CFTPSecretary::ActionDone(CFTPAction& action) {
    if (m_bShutdown) {
        return;
    }
    m_frontEnd.Completion().OnAnyActionDone(action);
    if (action.m_nKind == KIND_CONNECT) {
        m_frontEnd.Completion().OnConnectDone(action);
    } else if (action.m_nKind == KIND_DIR && !action.m_bSubAction) {
        m_frontEnd.Completion().OnExploreDone(action);
    }
}

void CFTPSecretary::OperationDone(OperationId /*id*/, std::uint16_t kind,
                                  CFTPActionCallerData* callerData) {
    if (m_bShutdown) {
        return;
    }
    switch (kind) {
    case KIND_CONNECT:
    case KIND_DIR:
        if (callerData) {
            m_frontEnd.Completion().ClearWorkingMark(*callerData);
            m_frontEnd.Notifier().NotifyRefillContent();
        }
        break;
    case KIND_MD:
    case KIND_DEL:
    case KIND_COPY:
    case KIND_COPY + 1: // no action has this kind; kept for callers that use it
        m_frontEnd.Notifier().NotifyRefillContent();
        break;
    default:
        break;
    }
}

} // namespace qb
