// The front end of qbftp: the engine's reports go to the terminal, questions
// are answered from the command line's flags, and the end of each operation
// wakes the command that waits for it.
#pragma once

#include "dispatch/actions.h"
#include "engine/frontend.h"
#include "engine/status_lanes.h"
#include "platform/questions.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <vector>

namespace qb::cli {

class ConsoleFrontEnd : public INotifier,
                        public ILogSink,
                        public ICompletionHandler,
                        public IApplication,
                        public ISettingsSource,
                        public IQuestions,
                        public IStatusLanes,
                        public IOverwriteQuestion,
                        public ILocalFiles {
public:
    ConsoleFrontEnd(std::ostream& err, bool logDialogue);

    FrontEnd Get();
    CStatusLanes& Lanes() { return m_lanes; }

    enum class Wait { Done, TimedOut, Interrupted };
    // Taken before a request is made: the operations ended so far.
    std::size_t Mark();
    // Waits for the end of the operation requested after `mark`.
    // `inactivity` (0: none) is how long nothing may happen before giving
    // up; `interrupted` is polled.
    Wait WaitForOperation(std::size_t mark, std::chrono::seconds inactivity,
                          const std::atomic<bool>& interrupted);

    // What the operation left behind.
    struct Outcome {
        bool failed = false;                        // a user-level action did not succeed
        std::vector<std::string> messages;          // failure messages, as shown
        std::unique_ptr<CFTPFolderContent> content; // the last listing
        bool connected = false;                     // a connect succeeded
    };
    Outcome TakeOutcome();

    void SetAnonymousPassword(std::string email) { m_email = std::move(email); }
    // 'A', 'I', or 0 to decide by the file name (`autoType`).
    void SetTransferType(char type, std::function<char(const std::string&)> autoType) {
        m_transferType = type;
        m_autoType = std::move(autoType);
    }
    // The answer to every overwrite question (0: ask on the terminal, or
    // fail when there is none).
    void SetOverwritePolicy(int answer) { m_overwritePolicy = answer; }
    // Draws a progress line on the terminal while files move.
    void SetProgress(bool show) { m_showProgress = show; }
    // Called about ten times a second while an operation runs.
    void Tick();
    void EndProgress();

    // INotifier
    void NotifyIdle() override;
    void NotifyConnectionEnded(const CFTPRemoteManager*) override;
    // ILogSink
    void LogCommandLine(const std::string& text) override { Log(text); }
    void LogReplyLine(const std::string& text) override { Log(text); }
    void LogNoteLine(const std::string& text) override { Log(text); }
    // ICompletionHandler
    void OnConnectDone(CFTPAction& action) override;
    void OnExploreDone(CFTPAction& action) override;
    void OnAnyActionDone(CFTPAction& action) override;
    // IApplication
    bool IsExiting() const override { return false; }
    // ISettingsSource
    char GetTransferType(const std::string& name) const override;
    std::string EmailAddress() const override { return m_email; }
    // IQuestions
    int MessageBox(const std::string& text, unsigned style) override;
    // IStatusLanes: forwarded to the model, and counted as activity.
    void BeginOperation(const std::string& a, const std::string& b) override;
    void EndOperation() override;
    void SetStepText(int lane, const std::string& text, bool redraw) override;
    void SetPercent(int lane, int percent, bool redraw) override;
    void SetBytes(int lane, FileSize count, bool redraw) override;

    // IOverwriteQuestion
    int AskOverwrite(const std::string& existing, const std::string& incoming,
                     bool canResume) override;
    // ILocalFiles
    bool EnsureLocalFolder(const std::string& path) override;
    bool DeleteLocalFile(const std::string& path) override;
    bool RemoveLocalFolder(const std::string& path) override;

private:
    void Log(const std::string& text);
    void Touch();

    std::ostream& m_err;
    const bool m_logDialogue;
    CStatusLanes m_lanes;
    std::string m_email = "qbftp@localhost";
    char m_transferType = 'I';
    std::function<char(const std::string&)> m_autoType;
    int m_overwritePolicy = 0;
    bool m_showProgress = false;
    std::chrono::steady_clock::time_point m_progressStart;
    FileSize m_progressBytes = 0;
    std::string m_progressStep;
    bool m_progressShown = false;

    std::mutex m_lock;
    std::condition_variable m_changed;
    std::size_t m_idleCount = 0;
    std::chrono::steady_clock::time_point m_lastActivity;
    Outcome m_outcome;
    std::mutex m_outputLock;
};

} // namespace qb::cli
