#include "console.h"

#include "platform/text.h"

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <type_traits>
#include <unistd.h>

namespace qb::cli {

namespace {

std::string WithoutTrailingBreaks(std::string text) {
    while (!text.empty() && text.back() == '\n') {
        text.pop_back();
    }
    return text;
}

} // namespace

std::string TerminalSafe(const std::string& text) {
    return ShowControlChars(text, true);
}

Console::Console(std::ostream& err, bool logDialogue)
    : m_err(err), m_logDialogue(logDialogue), m_lastActivity(std::chrono::steady_clock::now()) {}

void Console::Print(const std::string& text) {
    EndProgress();
    m_err << TerminalSafe(text) << '\n';
    m_err.flush();
}

int Console::MessageBox(const std::string& text, unsigned style) {
    Print("qbftp: " + WithoutTrailingBreaks(text));
    Question box;
    box.style = style;
    return box.CancelAnswer();
}

Console::Wait Console::WaitForOperation(CFTPSession& session, OperationId id,
                                        std::chrono::seconds inactivity,
                                        const std::atomic<bool>& interrupted) {
    m_lastActivity = std::chrono::steady_clock::now();
    bool done = false;
    while (!done) {
        if (interrupted.load()) {
            EndProgress();
            return Wait::Interrupted;
        }
        if (inactivity.count() > 0 &&
            std::chrono::steady_clock::now() - m_lastActivity > inactivity) {
            EndProgress();
            return Wait::TimedOut;
        }
        session.WaitForEvents(std::chrono::milliseconds(100));
        for (CoreEvent& event : session.TakeEvents()) {
            Handle(session, event, id, done);
        }
        Tick(session);
    }
    EndProgress();
    return Wait::Done;
}

void Console::Handle(CFTPSession& session, CoreEvent& event, OperationId id, bool& done) {
    m_lastActivity = std::chrono::steady_clock::now();
    std::visit(
        [&](auto& e) {
            using T = std::decay_t<decltype(e)>;
            if constexpr (std::is_same_v<T, event::LogLines>) {
                if (m_logDialogue) {
                    for (const LogLine& line : e.lines) {
                        Print(line.text);
                    }
                }
            } else if constexpr (std::is_same_v<T, event::Listing>) {
                if (e.operation == id) {
                    m_outcome.content = e.content;
                    if (e.connect) {
                        m_outcome.connected = e.succeeded;
                    }
                }
            } else if constexpr (std::is_same_v<T, event::QuestionAsked>) {
                OnQuestion(session, e.question);
            } else if constexpr (std::is_same_v<T, event::OperationEnded>) {
                if (e.report.id == id) {
                    if (!e.report.succeeded) {
                        m_outcome.failed = true;
                    }
                    // A failure that asked nothing (a listing at login that
                    // failed) is still told.
                    for (const std::string& message : e.report.messages) {
                        if (std::find(m_outcome.messages.begin(), m_outcome.messages.end(),
                                      message) == m_outcome.messages.end()) {
                            m_outcome.messages.push_back(message);
                            Print("qbftp: " + WithoutTrailingBreaks(message));
                        }
                    }
                    done = true;
                }
            }
        },
        event);
}

void Console::OnQuestion(CFTPSession& session, const Question& question) {
    if (question.kind == Question::Kind::Message) {
        m_outcome.messages.push_back(question.text);
        Print("qbftp: " + WithoutTrailingBreaks(question.text));
        // Nobody can answer: the safe choice of each kind of box.
        session.Answer(question.id, question.CancelAnswer());
        return;
    }
    if (question.kind == Question::Kind::Certificate) {
        session.Answer(question.id, AskCertificate(question));
        m_lastActivity = std::chrono::steady_clock::now();
        return;
    }
    session.Answer(question.id, AskOverwrite(question));
    // The time spent answering is not inactivity.
    m_lastActivity = std::chrono::steady_clock::now();
}

int Console::AskCertificate(const Question& q) {
    EndProgress();
    if (!::isatty(STDIN_FILENO) || !::isatty(STDERR_FILENO)) {
        m_outcome.failed = true;
        Print("qbftp: " + WithoutTrailingBreaks(q.text));
        Print("qbftp: refused without a terminal to ask; use --insecure to accept it, or "
              "--cacert FILE to trust its issuer");
        return Question::CERT_REFUSE;
    }
    for (;;) {
        m_err << TerminalSafe(q.text) << "  [a]ccept for this run, [r]efuse? ";
        m_err.flush();
        std::string answer;
        if (!std::getline(std::cin, answer) || answer == "r") {
            return Question::CERT_REFUSE;
        }
        if (answer == "a") {
            return Question::CERT_ACCEPT_ONCE;
        }
    }
}

int Console::AskOverwrite(const Question& q) {
    if (m_overwritePolicy != 0) {
        if (m_overwritePolicy == Question::RESUME_ALL && !q.canResume) {
            return Question::OVERWRITE_ALL; // the server cannot resume: start over
        }
        return m_overwritePolicy;
    }
    if (!::isatty(STDIN_FILENO) || !::isatty(STDERR_FILENO)) {
        m_outcome.failed = true;
        Print("qbftp: " + q.existing +
              " exists; use --overwrite, --resume or --skip to say what to do");
        return Question::SKIP_ALL;
    }
    EndProgress();
    for (;;) {
        m_err << q.existing << " exists (new: " << q.incoming << ").\n"
              << "  [o]verwrite, " << (q.canResume ? "[r]esume, " : "")
              << "[s]kip, overwrite [a]ll, " << (q.canResume ? "resume a[l]l, " : "")
              << "s[k]ip all? ";
        m_err.flush();
        std::string answer;
        if (!std::getline(std::cin, answer)) {
            return Question::SKIP;
        }
        if (answer == "o") {
            return Question::OVERWRITE;
        }
        if (answer == "r" && q.canResume) {
            return Question::RESUME;
        }
        if (answer == "s") {
            return Question::SKIP;
        }
        if (answer == "a") {
            return Question::OVERWRITE_ALL;
        }
        if (answer == "l" && q.canResume) {
            return Question::RESUME_ALL;
        }
        if (answer == "k") {
            return Question::SKIP_ALL;
        }
    }
}

Console::Outcome Console::TakeOutcome() {
    Outcome out = std::move(m_outcome);
    m_outcome = Outcome{};
    return out;
}

void Console::Tick(CFTPSession& session) {
    const CStatusLanes::Lane lane = session.Status().GetLane(1);
    const auto now = std::chrono::steady_clock::now();
    if (lane.step != m_progressStep) {
        m_progressStep = lane.step;
        m_progressStart = now;
        m_lastActivity = now;
    }
    if (lane.bytes != m_lastBytes) {
        m_lastBytes = lane.bytes;
        m_lastActivity = now;
    }
    if (!m_showProgress || lane.bytes == 0) {
        return;
    }
    const double seconds = std::chrono::duration<double>(now - m_progressStart).count();
    const double rate = seconds > 0 ? static_cast<double>(lane.bytes) / seconds : 0;
    char line[256];
    std::snprintf(line, sizeof line, "\r%-40.40s %12llu bytes %s%8.1f KiB/s %6.1f s",
                  lane.step.c_str(), static_cast<unsigned long long>(lane.bytes),
                  lane.percent >= 0 ? (std::to_string(lane.percent) + "% ").c_str() : "",
                  rate / 1024.0, seconds);
    m_err << line;
    m_err.flush();
    m_progressShown = true;
}

void Console::EndProgress() {
    if (m_progressShown) {
        m_err << '\n';
        m_err.flush();
        m_progressShown = false;
    }
}

} // namespace qb::cli
