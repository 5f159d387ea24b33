#include "cli/console.h"

namespace qb::cli {

ConsoleFrontEnd::ConsoleFrontEnd(std::ostream& err, bool logDialogue)
    : m_err(err), m_logDialogue(logDialogue), m_lastActivity(std::chrono::steady_clock::now()) {}

FrontEnd ConsoleFrontEnd::Get() {
    FrontEnd fe;
    fe.notifier = this;
    fe.log = this;
    fe.completion = this;
    fe.app = this;
    fe.settings = this;
    fe.questions = this;
    fe.status = this;
    return fe;
}

void ConsoleFrontEnd::Touch() {
    std::lock_guard<std::mutex> guard(m_lock);
    m_lastActivity = std::chrono::steady_clock::now();
}

void ConsoleFrontEnd::Log(const std::string& text) {
    Touch();
    if (!m_logDialogue) {
        return;
    }
    std::lock_guard<std::mutex> guard(m_outputLock);
    m_err << text << '\n';
    m_err.flush();
}

void ConsoleFrontEnd::NotifyIdle() {
    {
        std::lock_guard<std::mutex> guard(m_lock);
        ++m_idleCount;
        m_lastActivity = std::chrono::steady_clock::now();
    }
    m_changed.notify_all();
}

void ConsoleFrontEnd::NotifyConnectionEnded(const CFTPRemoteManager*) {
    Touch();
}

void ConsoleFrontEnd::OnConnectDone(CFTPAction& action) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_outcome.connected = action.Succeeded();
    if (const CFTPFolderContent* content = action.GetFolderContent()) {
        m_outcome.content = std::make_unique<CFTPFolderContent>(*content);
    }
}

void ConsoleFrontEnd::OnExploreDone(CFTPAction& action) {
    std::lock_guard<std::mutex> guard(m_lock);
    if (const CFTPFolderContent* content = action.GetFolderContent()) {
        m_outcome.content = std::make_unique<CFTPFolderContent>(*content);
    }
}

void ConsoleFrontEnd::OnAnyActionDone(CFTPAction& action) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_lastActivity = std::chrono::steady_clock::now();
    if (action.m_bSubAction) {
        return;
    }
    if (!action.Succeeded()) {
        m_outcome.failed = true;
    }
}

int ConsoleFrontEnd::MessageBox(const std::string& text, unsigned style) {
    Touch();
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_outcome.messages.push_back(text);
    }
    {
        std::lock_guard<std::mutex> guard(m_outputLock);
        std::string shown = text;
        while (!shown.empty() && shown.back() == '\n') {
            shown.pop_back();
        }
        m_err << "qbftp: " << shown << '\n';
        m_err.flush();
    }
    // Nobody can answer: the safe choice of each kind of box.
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

void ConsoleFrontEnd::BeginOperation(const std::string& a, const std::string& b) {
    Touch();
    m_lanes.BeginOperation(a, b);
}
void ConsoleFrontEnd::EndOperation() {
    m_lanes.EndOperation();
}
void ConsoleFrontEnd::SetStepText(int lane, const std::string& text, bool redraw) {
    Touch();
    m_lanes.SetStepText(lane, text, redraw);
}
void ConsoleFrontEnd::SetPercent(int lane, int percent, bool redraw) {
    m_lanes.SetPercent(lane, percent, redraw);
}
void ConsoleFrontEnd::SetBytes(int lane, FileSize count, bool redraw) {
    Touch();
    m_lanes.SetBytes(lane, count, redraw);
}

std::size_t ConsoleFrontEnd::Mark() {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_idleCount;
}

ConsoleFrontEnd::Wait ConsoleFrontEnd::WaitForOperation(std::size_t mark,
                                                        std::chrono::seconds inactivity,
                                                        const std::atomic<bool>& interrupted) {
    std::unique_lock<std::mutex> guard(m_lock);
    const std::size_t target = mark + 1;
    m_lastActivity = std::chrono::steady_clock::now();
    while (m_idleCount < target) {
        if (interrupted.load()) {
            return Wait::Interrupted;
        }
        if (inactivity.count() > 0 &&
            std::chrono::steady_clock::now() - m_lastActivity > inactivity) {
            return Wait::TimedOut;
        }
        m_changed.wait_for(guard, std::chrono::milliseconds(100));
    }
    return Wait::Done;
}

ConsoleFrontEnd::Outcome ConsoleFrontEnd::TakeOutcome() {
    std::lock_guard<std::mutex> guard(m_lock);
    Outcome out = std::move(m_outcome);
    m_outcome = Outcome{};
    return out;
}

} // namespace qb::cli
