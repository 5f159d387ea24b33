#include "cli/console.h"

#include "localfs/lfs_support.h"

#include <cstdio>
#include <iostream>
#include <unistd.h>

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
    fe.overwrite = this;
    fe.localFiles = this;
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
        guard.unlock();
        Tick();
        guard.lock();
    }
    guard.unlock();
    {
        std::lock_guard<std::mutex> output(m_outputLock);
        EndProgress();
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

namespace qb::cli {

char ConsoleFrontEnd::GetTransferType(const std::string& name) const {
    if (m_transferType != 0 || !m_autoType) {
        return m_transferType ? m_transferType : 'I';
    }
    return m_autoType(name);
}

int ConsoleFrontEnd::AskOverwrite(const std::string& existing, const std::string& incoming,
                                  bool canResume) {
    Touch();
    if (m_overwritePolicy != 0) {
        if (m_overwritePolicy == RESUME_ALL && !canResume) {
            return OVERWRITE_ALL; // the server cannot resume: start over
        }
        return m_overwritePolicy;
    }
    if (!::isatty(STDIN_FILENO) || !::isatty(STDERR_FILENO)) {
        {
            std::lock_guard<std::mutex> guard(m_lock);
            m_outcome.failed = true;
        }
        std::lock_guard<std::mutex> guard(m_outputLock);
        m_err << "qbftp: " << existing
              << " exists; use --overwrite, --resume or --skip to say what to do\n";
        return SKIP_ALL;
    }
    std::lock_guard<std::mutex> guard(m_outputLock);
    EndProgress();
    for (;;) {
        m_err << existing << " exists (new: " << incoming << ").\n"
              << "  [o]verwrite, " << (canResume ? "[r]esume, " : "") << "[s]kip, overwrite [a]ll, "
              << (canResume ? "resume a[l]l, " : "") << "s[k]ip all? ";
        m_err.flush();
        std::string answer;
        const bool got = static_cast<bool>(std::getline(std::cin, answer));
        {
            // The time spent answering is not inactivity.
            std::lock_guard<std::mutex> activity(m_lock);
            m_lastActivity = std::chrono::steady_clock::now();
        }
        if (!got) {
            return SKIP;
        }
        if (answer == "o") {
            return OVERWRITE;
        }
        if (answer == "r" && canResume) {
            return RESUME;
        }
        if (answer == "s") {
            return SKIP;
        }
        if (answer == "a") {
            return OVERWRITE_ALL;
        }
        if (answer == "l" && canResume) {
            return RESUME_ALL;
        }
        if (answer == "k") {
            return SKIP_ALL;
        }
    }
}

bool ConsoleFrontEnd::EnsureLocalFolder(const std::string& path) {
    return qb::EnsureLocalFolder(path, nullptr);
}
bool ConsoleFrontEnd::DeleteLocalFile(const std::string& path) {
    return qb::DeleteLocalFile(path, nullptr);
}
bool ConsoleFrontEnd::RemoveLocalFolder(const std::string& path) {
    return qb::RemoveLocalFolder(path, nullptr);
}

void ConsoleFrontEnd::Tick() {
    if (!m_showProgress) {
        return;
    }
    CStatusLanes::Lane lane = m_lanes.GetLane(1);
    const auto now = std::chrono::steady_clock::now();
    if (lane.step != m_progressStep) {
        m_progressStep = lane.step;
        m_progressStart = now;
        m_progressBytes = 0;
    }
    if (lane.bytes == 0) {
        return;
    }
    m_progressBytes = lane.bytes;
    const double seconds = std::chrono::duration<double>(now - m_progressStart).count();
    const double rate = seconds > 0 ? static_cast<double>(lane.bytes) / seconds : 0;
    char line[256];
    std::snprintf(line, sizeof line, "\r%-40.40s %12llu bytes %s%8.1f KiB/s %6.1f s",
                  lane.step.c_str(), static_cast<unsigned long long>(lane.bytes),
                  lane.percent >= 0 ? (std::to_string(lane.percent) + "% ").c_str() : "",
                  rate / 1024.0, seconds);
    std::lock_guard<std::mutex> guard(m_outputLock);
    m_err << line;
    m_err.flush();
    m_progressShown = true;
}

void ConsoleFrontEnd::EndProgress() {
    if (m_progressShown) {
        m_err << '\n';
        m_err.flush();
        m_progressShown = false;
    }
}

} // namespace qb::cli
