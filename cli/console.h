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

    // Questions on the main thread (start-up, the profile): the text is
    // printed; the answer is the box's cancel meaning.
    int MessageBox(const std::string& text, unsigned style) override;

    // The answer to every overwrite question (0: ask on the terminal, or
    // fail the file when there is none).
    void SetOverwritePolicy(int answer) { m_overwritePolicy = answer; }
    // Draws a progress line on the terminal while files move.
    void SetProgress(bool show) { m_showProgress = show; }

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

private:
    void Handle(CFTPSession& session, CoreEvent& event, OperationId id, bool& done);
    void OnQuestion(CFTPSession& session, const Question& question);
    // A certificate that did not verify: asked on a terminal, else refused.
    int AskCertificate(const Question& q);
    int AskOverwrite(const Question& question);
    void Print(const std::string& text);
    void Tick(CFTPSession& session);
    void EndProgress();

    std::ostream& m_err;
    const bool m_logDialogue;
    int m_overwritePolicy = 0;
    bool m_showProgress = false;
    std::chrono::steady_clock::time_point m_lastActivity;
    std::chrono::steady_clock::time_point m_progressStart;
    std::string m_progressStep;
    FileSize m_lastBytes = 0;
    bool m_progressShown = false;
    Outcome m_outcome;
};

} // namespace qb::cli
