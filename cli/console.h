// The front end of qbftp: it drains the session's events on the main
// thread, prints what the user should see, answers the connection threads'
// questions from the command line's flags or the terminal, and tells the
// waiting command when its operation has ended.
#pragma once

#include "app/session.h"
#include "platform/questions.h"

#include <atomic>
#include <chrono>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace qb::cli {

// Control characters (other than line breaks and tabs) shown as \xNN, so
// that what a server sends never reaches the terminal raw.
std::string TerminalSafe(const std::string& text);

class Console : public IQuestions {
public:
    Console(std::ostream& err, bool logDialogue);
    ~Console() override;
    Console(const Console&) = delete;
    Console& operator=(const Console&) = delete;

    // Questions on the main thread (start-up, the profile): the text is
    // printed; the answer is the box's cancel meaning.
    int MessageBox(const std::string& text, unsigned style) override;

    // The answer to every overwrite question (0: ask on the terminal, or
    // fail the file when there is none).
    void SetOverwritePolicy(int answer) { m_overwritePolicy = answer; }
    // Draws a progress line on the terminal while files move, and a summary
    // line when the operation ends.
    void SetProgress(bool show) { m_showProgress = show; }
    // Quiet: failure messages are kept in the outcome, not printed (the
    // caller decides whether they matter).
    void SetQuiet(bool quiet) { m_quiet = quiet; }
    // How many files the next operation moves (0: not known beforehand).
    void SetExpectedFiles(std::size_t count) { m_expectedFiles = count; }

    // A descriptor that becomes readable when `interrupted` is set (-1:
    // none; the flag is then seen within 100 ms).
    void SetInterruptDescriptor(int fd) { m_interruptFd = fd; }

    enum class Wait { Done, TimedOut, Interrupted };
    // Handles the session's events until operation `id` has ended.
    // `inactivity` (0: none) is how long nothing may happen before giving
    // up; `interrupted` is polled.
    Wait WaitForOperation(CFTPSession& session, OperationId id, std::chrono::seconds inactivity,
                          const std::atomic<bool>& interrupted);

    // What the operation left behind.
    struct Outcome {
        bool failed = false;               // it did not succeed, or a file was refused
        std::vector<std::string> messages; // failure messages, as printed
        std::shared_ptr<const CFTPFolderContent> content; // its listing
        bool connected = false;                           // a connect succeeded
    };
    Outcome TakeOutcome();

    // "412 MB/s"-style text: bytes in decimal units, three digits at most
    // before the point.
    static std::string HumanBytes(double bytes);
    // The progress line for a file (at most `width` columns).
    static std::string ProgressLine(const std::string& name, FileSize bytes, int percent,
                                    double seconds, const std::string& count, std::size_t width);

private:
    void Handle(CFTPSession& session, CoreEvent& event, OperationId id, bool& done);
    void OnQuestion(CFTPSession& session, const Question& question);
    // A certificate that did not verify: asked on a terminal, else refused.
    int AskCertificate(const Question& q);
    int AskOverwrite(const Question& question);
    void Print(const std::string& text);
    void Tick(CFTPSession& session);
    void DrawProgress(bool final);
    void FinishFile();
    void Summarize(bool succeeded);
    void EndProgress();

    std::ostream& m_err;
    const bool m_logDialogue;
    int m_overwritePolicy = 0;
    bool m_showProgress = false;
    bool m_quiet = false;
    int m_interruptFd = -1;
    bool m_stopSeen = false;
    std::chrono::steady_clock::time_point m_lastActivity;
    int m_eventFd = -1; // readable when the session has events
    std::string m_progressStep;
    FileSize m_lastBytes = 0;
    bool m_progressShown = false;
    // The file now moving and the operation's totals, for the progress line.
    std::string m_fileName;
    bool m_fileMoving = false;
    FileSize m_fileBytes = 0;
    int m_filePercent = -1;
    bool m_fileStarted = false; // its first byte has been seen
    std::chrono::steady_clock::time_point m_fileFirstByte;
    std::chrono::steady_clock::time_point m_lastDraw;
    std::size_t m_expectedFiles = 0;
    std::size_t m_filesDone = 0;
    FileSize m_bytesDone = 0;
    bool m_anyStarted = false;
    std::chrono::steady_clock::time_point m_firstByte; // of the operation
    bool m_anyFile = false;
    std::chrono::steady_clock::time_point m_firstFile; // its first file's start
    bool m_sending = false;                            // the file moving is an upload
    std::size_t m_filesCreated = 0;                    // as the operation's change events tell
    std::size_t m_reportedFiles = 0;
    FileSize m_reportedBytes = 0;
    Outcome m_outcome;
};

} // namespace qb::cli
