// Front-end stand-ins for tests: they record what the core reports and
// answer questions from a script.
#pragma once

#include "engine/frontend.h"
#include "engine/question_desk.h"
#include "platform/questions.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace qb::test {

// Records every call as one line of text, e.g. "OperationDone 3 kind=5".
class Recorder {
public:
    void Add(std::string event);
    std::vector<std::string> Events() const;
    std::size_t Count(const std::string& prefix) const;
    // Waits until `pred` holds over the events (bounded; false on time-out).
    bool WaitFor(const std::function<bool(const std::vector<std::string>&)>& pred,
                 std::chrono::milliseconds limit = std::chrono::seconds(10)) const;
    bool WaitForCount(const std::string& prefix, std::size_t count,
                      std::chrono::milliseconds limit = std::chrono::seconds(10)) const;

private:
    mutable std::mutex m_lock;
    mutable std::condition_variable m_changed;
    std::vector<std::string> m_events;
};

// Implements every front-end interface by recording into one Recorder.
class RecordingFrontEnd : public INotifier,
                          public IStatusLanes,
                          public ILogSink,
                          public ICompletionHandler,
                          public IApplication,
                          public ISettingsSource,
                          public IQuestions,
                          public IQuestionSink,
                          public ILocalFiles {
public:
    RecordingFrontEnd();
    FrontEnd Get() { return m_frontEnd; }
    Recorder& Events() { return m_events; }

    // Questions are answered from this script, first to last; when it is
    // empty, IDOK.
    void ScriptAnswers(std::vector<int> answers);
    std::vector<std::string> Questions() const;

    // INotifier
    void NotifyOperationFinished() override { m_events.Add("OperationFinished"); }
    void NotifyRemoteFileDeleted(const CFTPFile& item) override;
    void NotifyRemoteFolderDeleted(const CFTPFile& item) override;
    void NotifyRemoteFileCreated(const CFTPFile& item) override;
    void NotifyRemoteFolderCreated(const CFTPFile& item) override;
    void NotifyLocalFileCreated(const std::string& path) override;
    void NotifyLocalFileDeleted(const std::string& path) override;
    void NotifyLocalFolderCreated(const std::string& path) override;
    void NotifyLocalFolderDeleted(const std::string& path) override;
    void NotifyConnectionEnded(ConnectionId connection) override;
    void NotifyRenameFinished(const std::string& oldName, const std::string& newName,
                              std::uintptr_t parent) override;
    void NotifyRefillContent() override { m_events.Add("RefillContent"); }
    void NotifyIdle() override { m_events.Add("Idle"); }

    // IStatusLanes
    void BeginOperation(const std::string& host1, const std::string& host2) override;
    void EndOperation() override { m_events.Add("EndOperation"); }
    void SetStepText(int lane, const std::string& text, bool redraw) override;

    // ILogSink
    void LogCommandLine(const std::string& text) override { m_events.Add("cmd " + text); }
    void LogReplyLine(const std::string& text) override { m_events.Add("reply " + text); }
    void LogNoteLine(const std::string& text) override { m_events.Add("note " + text); }

    // ICompletionHandler
    void OnConnectDone(CFTPAction& action) override;
    void OnExploreDone(CFTPAction& action) override;
    void ClearWorkingMark(const CFTPActionCallerData&) override { m_events.Add("ClearMark"); }
    void OnOperationEnded(const OperationReport& report) override;

    // IApplication
    void OperationEnded() override { m_events.Add("OperationEnded"); }
    int GetBusyCode() const override { return busyCode; }
    bool IsExiting() const override { return exiting; }
    void AddTemporaryFile(const std::string& path) override { m_events.Add("TempFile " + path); }
    void OpenFile(const std::string& path) override { m_events.Add("Open " + path); }

    // ISettingsSource
    char GetTransferType(const std::string&) const override { return transferType; }
    bool LogCommands() const override { return logCommands; }
    bool LogResponses() const override { return logResponses; }
    bool LogHostAddress() const override { return logHost; }
    void RememberProxyLogin(const std::string& host, std::uint32_t port, const std::string& user,
                            const std::string&) override {
        m_events.Add("RememberProxy " + host + ":" + std::to_string(port) + " " + user);
    }

    // IQuestions
    int MessageBox(const std::string& text, unsigned style) override;

    // Overwrite questions: answered from ScriptOverwrite, first to last;
    // SKIP when none is left. Each question is recorded as an event.
    void ScriptOverwrite(std::vector<int> answers);
    int AskOverwrite(const std::string& existing, const std::string& incoming, bool canResume);

    // IQuestionSink: a connection thread's question is answered like the
    // two above, at once, unless holdQuestions is set: it then stays
    // unanswered (its id is recorded as "Held <id>").
    std::optional<int> OnQuestion(const Question& question) override;
    void OnQuestionClosed(QuestionId id) override;
    std::atomic<bool> holdQuestions{false};
    // Called on the asking thread when a question comes in (before it is
    // answered or held).
    std::function<void(const Question&)> onQuestion;

    // ILocalFiles: the real local services.
    bool EnsureLocalFolder(const std::string& path) override;
    bool DeleteLocalFile(const std::string& path) override;
    bool RemoveLocalFolder(const std::string& path) override;

    int busyCode = 0;
    bool exiting = false;
    char transferType = 'I';
    bool logCommands = true;
    bool logResponses = true;
    bool logHost = false;

private:
    Recorder m_events;
    FrontEnd m_frontEnd;
    mutable std::mutex m_questionLock;
    std::deque<int> m_answers;
    std::deque<int> m_overwriteAnswers;
    std::vector<std::string> m_questions;
};

} // namespace qb::test
