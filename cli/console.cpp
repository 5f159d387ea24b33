#include "console.h"

#include "platform/text.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <iterator>
#include <poll.h>
#include <sys/eventfd.h>
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
    : m_err(err), m_logDialogue(logDialogue), m_lastActivity(std::chrono::steady_clock::now()),
      m_eventFd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

Console::~Console() {
    if (m_eventFd >= 0) {
        ::close(m_eventFd);
    }
}

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
    if (m_eventFd >= 0) {
        // Events and a stop both wake the wait below at once; the timeout
        // only paces the progress line and the inactivity check.
        const int fd = m_eventFd;
        session.SetWakeUp([fd] {
            const std::uint64_t one = 1;
            [[maybe_unused]] const auto n = ::write(fd, &one, sizeof one);
        });
    }
    bool done = false;
    while (!done) {
        if (interrupted.load()) {
            m_stopSeen = true;
            // What follows starts on a line of its own, not after the
            // terminal's "^C".
            const bool lineOpen = m_progressShown;
            Summarize(false);
            if (!lineOpen && m_showProgress) {
                m_err << '\n';
            }
            return Wait::Interrupted;
        }
        if (inactivity.count() > 0 &&
            std::chrono::steady_clock::now() - m_lastActivity > inactivity) {
            Summarize(false);
            return Wait::TimedOut;
        }
        // What waits is taken first: a wake-up is only made for events that
        // arrive after the last take.
        std::deque<CoreEvent> events = session.TakeEvents();
        if (events.empty()) {
            if (m_eventFd >= 0) {
                // Once a stop has been seen, its descriptor stays readable:
                // it is not watched any more.
                const bool watchStop = m_interruptFd >= 0 && !m_stopSeen;
                pollfd fds[2] = {{m_eventFd, POLLIN, 0}, {m_interruptFd, POLLIN, 0}};
                if (::poll(fds, watchStop ? 2 : 1, 100) > 0 && (fds[0].revents & POLLIN)) {
                    std::uint64_t count = 0;
                    [[maybe_unused]] const auto n = ::read(m_eventFd, &count, sizeof count);
                }
            } else {
                session.WaitForEvents(std::chrono::milliseconds(100));
            }
            events = session.TakeEvents();
        }
        for (CoreEvent& event : events) {
            Handle(session, event, id, done);
        }
        Tick(session);
    }
    Summarize(!m_outcome.failed);
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
            } else if constexpr (std::is_same_v<T, event::ItemsChanged>) {
                for (const event::ItemChange& change : e.changes) {
                    if (change.kind == event::ItemChange::Created && change.item.m_bFile) {
                        ++m_filesCreated;
                    }
                }
            } else if constexpr (std::is_same_v<T, event::OperationEnded>) {
                if (e.report.id == id) {
                    m_reportedFiles = e.report.filesMoved;
                    m_reportedBytes = e.report.bytesMoved;
                    if (!e.report.succeeded) {
                        m_outcome.failed = true;
                    }
                    // A failure that asked nothing (a listing at login that
                    // failed) is still told.
                    for (const std::string& message : e.report.messages) {
                        if (std::find(m_outcome.messages.begin(), m_outcome.messages.end(),
                                      message) == m_outcome.messages.end()) {
                            m_outcome.messages.push_back(message);
                            if (!m_quiet) {
                                Print("qbftp: " + WithoutTrailingBreaks(message));
                            }
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
        if (!m_quiet) {
            Print("qbftp: " + WithoutTrailingBreaks(question.text));
        }
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

std::string Console::HumanBytes(double bytes) {
    static const char* const kUnits[] = {"B", "kB", "MB", "GB", "TB", "PB"};
    std::size_t unit = 0;
    while (bytes >= 999.5 && unit + 1 < std::size(kUnits)) {
        bytes /= 1000;
        ++unit;
    }
    char text[32];
    if (unit == 0) {
        std::snprintf(text, sizeof text, "%.0f B", bytes);
    } else {
        std::snprintf(text, sizeof text,
                      bytes < 9.995   ? "%.2f %s"
                      : bytes < 99.95 ? "%.1f %s"
                                      : "%.0f %s",
                      bytes, kUnits[unit]);
    }
    return text;
}

std::string Console::ProgressLine(const std::string& name, FileSize bytes, int percent,
                                  double seconds, const std::string& count, std::size_t width) {
    const double rate = seconds > 0.001 ? static_cast<double>(bytes) / seconds : 0;
    std::string tail = " " + HumanBytes(static_cast<double>(bytes));
    if (rate > 0) {
        tail += "  " + HumanBytes(rate) + "/s";
    }
    std::string bar;
    if (percent >= 0) {
        const int shown = std::min(percent, 100);
        const std::size_t cells = 20;
        const std::size_t full = cells * static_cast<std::size_t>(shown) / 100;
        char pct[8];
        std::snprintf(pct, sizeof pct, "%3d%%", shown);
        bar = " [" + std::string(full, '#') + std::string(cells - full, '.') + "] " + pct;
    }
    std::string head = count.empty() ? std::string() : count + " ";
    const std::size_t fixed = head.size() + bar.size() + tail.size();
    std::string shownName = TerminalSafe(name);
    // Names are cut in the middle of their start, so that the end (often
    // what tells files apart) stays.
    const std::size_t room = width > fixed + 4 ? width - fixed : 4;
    if (shownName.size() > room) {
        shownName = "..." + shownName.substr(shownName.size() - (room - 3));
    }
    std::string line = head + shownName + bar + tail;
    if (line.size() > width) {
        line.resize(width);
    }
    return line;
}

void Console::Tick(CFTPSession& session) {
    const CStatusLanes::Lane lane = session.Status().GetLane(1);
    const auto now = std::chrono::steady_clock::now();
    if (lane.step != m_progressStep) {
        m_progressStep = lane.step;
        m_lastActivity = now;
    }
    if (lane.bytes != m_lastBytes) {
        m_lastBytes = lane.bytes;
        m_lastActivity = now;
    }
    // Only a file that moves is shown: its step names it.
    std::string name;
    for (const char* prefix : {"receive file ", "send file "}) {
        if (lane.step.rfind(prefix, 0) == 0) {
            name = lane.step.substr(std::strlen(prefix));
            m_sending = prefix[0] == 's';
        }
    }
    if (name.empty()) {
        return;
    }
    if (lane.bytes == 0 && m_fileMoving && name == m_fileName) {
        return; // the status was cleared at the file's end
    }
    if (!m_fileMoving || name != m_fileName || lane.bytes < m_fileBytes) {
        if (m_fileMoving) {
            FinishFile();
        }
        m_fileMoving = true;
        m_fileName = name;
        m_fileBytes = 0;
        m_filePercent = -1;
        m_fileStarted = false;
        if (!m_anyFile) {
            m_anyFile = true;
            m_firstFile = now;
        }
    }
    if (lane.bytes > 0 && !m_fileStarted) {
        m_fileStarted = true;
        m_fileFirstByte = now;
        if (!m_anyStarted) {
            m_anyStarted = true;
            m_firstByte = now;
        }
    }
    m_fileBytes = lane.bytes;
    if (lane.percent >= 0) {
        m_filePercent = lane.percent;
    }
    if (m_showProgress && m_fileStarted && now - m_lastDraw >= std::chrono::milliseconds(100)) {
        DrawProgress(false);
        m_lastDraw = now;
    }
}

void Console::DrawProgress(bool final) {
    if (!m_showProgress || !m_fileMoving) {
        return;
    }
    const auto now = std::chrono::steady_clock::now();
    const double seconds =
        m_fileStarted ? std::chrono::duration<double>(now - m_fileFirstByte).count() : 0;
    // Small files can come and go between two looks at the status; the
    // change events count every one (an upload's at its start, a
    // download's at its end).
    std::size_t index = std::max(m_filesDone + 1, m_sending ? m_filesCreated : m_filesCreated + 1);
    if (final && m_reportedFiles > 0) {
        index = m_reportedFiles;
    }
    if (m_expectedFiles > 0) {
        index = std::min(index, m_expectedFiles);
    }
    std::string count;
    if (m_expectedFiles > 1 || index > 1) {
        count = "[" + std::to_string(index) + "/" +
                (m_expectedFiles > 0 ? std::to_string(m_expectedFiles) : std::string("?")) + "]";
    }
    const int percent = final ? 100 : m_filePercent;
    FileSize bytes = m_fileBytes;
    if (final && m_reportedFiles == 1) {
        bytes = m_reportedBytes;
    }
    const std::string line = ProgressLine(m_fileName, bytes, percent, seconds, count, 79);
    m_err << '\r' << line << "\033[K";
    m_err.flush();
    m_progressShown = true;
}

void Console::FinishFile() {
    if (!m_fileMoving) {
        return;
    }
    m_filesDone += 1;
    m_bytesDone += m_fileBytes;
    m_fileMoving = false;
}

void Console::Summarize(bool succeeded) {
    if (m_fileMoving && succeeded) {
        DrawProgress(true);
    }
    const bool any = m_fileMoving || m_filesDone > 0 || m_reportedFiles > 0;
    FinishFile();
    if (!m_showProgress || !any || !succeeded) {
        EndProgress();
    } else {
        EndProgress();
        // From the first byte seen; from the first file's start when the
        // files went by too fast for a byte to be seen.
        const auto since = m_anyStarted ? m_firstByte : m_firstFile;
        const double seconds =
            m_anyStarted || m_anyFile
                ? std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count()
                : 0;
        // The engine's count is whole; the status only shows what was seen.
        const std::size_t files = m_reportedFiles > 0 ? m_reportedFiles : m_filesDone;
        const FileSize total = m_reportedFiles > 0 ? m_reportedBytes : m_bytesDone;
        std::string line = files == 1 ? std::string() : std::to_string(files) + " files, ";
        line += HumanBytes(static_cast<double>(total));
        char time[32];
        std::snprintf(time, sizeof time, " in %.2f s", seconds);
        line += time;
        if (seconds > 0.001) {
            line += " (" + HumanBytes(static_cast<double>(total) / seconds) + "/s)";
        }
        m_err << line << '\n';
        m_err.flush();
    }
    m_filesDone = 0;
    m_bytesDone = 0;
    m_anyStarted = false;
    m_anyFile = false;
    m_expectedFiles = 0;
    m_filesCreated = 0;
    m_reportedFiles = 0;
    m_reportedBytes = 0;
}

void Console::EndProgress() {
    if (m_progressShown) {
        m_err << '\n';
        m_err.flush();
        m_progressShown = false;
    }
}

} // namespace qb::cli
