#include "engine/question_desk.h"

#include "platform/questions.h"

namespace qb {

int Question::CancelAnswer() const {
    if (kind == Kind::Overwrite) {
        return SKIP;
    }
    if (kind == Kind::Certificate) {
        return CERT_REFUSE;
    }
    switch (style & 0xF) {
    case MB_OKCANCEL:
    case MB_RETRYCANCEL:
    case MB_YESNOCANCEL:
        return IDCANCEL;
    case MB_YESNO:
        return IDNO;
    default:
        return IDOK;
    }
}

int QuestionDesk::Ask(Question question) {
    {
        std::lock_guard<std::mutex> guard(m_lock);
        question.id = ++m_nLastId;
        if (m_bClosed) {
            return question.CancelAnswer();
        }
        if (!m_pSink) {
            // Nobody to ask: a message is taken note of; anything that
            // asks for a decision gets its cancel meaning.
            return question.kind == Question::Kind::Message ? IDOK : question.CancelAnswer();
        }
        m_pending.emplace(question.id, Pending{question.connection, std::nullopt, false});
    }
    // The sink is told outside the lock: it may answer from within.
    const std::optional<int> immediate = m_pSink->OnQuestion(question);
    std::unique_lock<std::mutex> guard(m_lock);
    Pending& pending = m_pending.at(question.id);
    if (immediate && !pending.answer && !pending.withdrawn) {
        pending.answer = immediate;
    }
    m_answered.wait(guard, [&] { return pending.answer.has_value() || pending.withdrawn; });
    const int answer = pending.withdrawn ? question.CancelAnswer() : *pending.answer;
    m_pending.erase(question.id);
    guard.unlock();
    if (!immediate) {
        m_pSink->OnQuestionClosed(question.id);
    }
    return answer;
}

bool QuestionDesk::Answer(QuestionId id, int answer) {
    {
        std::lock_guard<std::mutex> guard(m_lock);
        auto it = m_pending.find(id);
        if (it == m_pending.end() || it->second.answer || it->second.withdrawn) {
            return false;
        }
        it->second.answer = answer;
    }
    m_answered.notify_all();
    return true;
}

void QuestionDesk::WithdrawAll() {
    {
        std::lock_guard<std::mutex> guard(m_lock);
        for (auto& [id, pending] : m_pending) {
            pending.withdrawn = true;
        }
    }
    m_answered.notify_all();
}

void QuestionDesk::WithdrawConnection(ConnectionId connection) {
    {
        std::lock_guard<std::mutex> guard(m_lock);
        for (auto& [id, pending] : m_pending) {
            if (pending.connection == connection) {
                pending.withdrawn = true;
            }
        }
    }
    m_answered.notify_all();
}

void QuestionDesk::Close() {
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_bClosed = true;
        for (auto& [id, pending] : m_pending) {
            pending.withdrawn = true;
        }
    }
    m_answered.notify_all();
}

bool QuestionDesk::IsClosed() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_bClosed;
}

std::size_t QuestionDesk::PendingCount() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_pending.size();
}

} // namespace qb
