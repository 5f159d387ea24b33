// The shared state of one local copy, move or delete, and the
// request-and-answer protocol between its worker thread and its progress
// dialog.
//
// The worker never touches the dialog. It writes the texts and percent to
// show under a lock and posts "display changed"; for a question it stores
// the request, posts it and blocks until the dialog answers or the
// operation is cancelled. The dialog, on its own thread, reads the display
// under the same lock, shows each question and stores the answer.
#pragma once

#include "localfs/lfs_file.h"
#include "platform/types.h"

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <ctime>
#include <mutex>
#include <string>

namespace qb {

class INotifier;
class IQuestions;

// What the progress dialog shows: up to three texts (the delete dialog uses
// the first for the current file; the copy dialog the first for "From :"
// and the second for "To :") and a percent.
struct CLFSDisplay {
    std::array<std::string, 3> texts;
    int percent = 0;
};

// One side of a replace question.
struct CLFSFileStatus {
    std::string m_strFullName;
    FileSize m_nSize = 0;
    std::time_t m_timeModified = 0;
};

struct CLFSReplaceQuestion {
    // False until the worker has filled both statuses.
    bool m_bFilled = false;
    CLFSFileStatus m_existing; // the destination
    CLFSFileStatus m_with;     // the source
};

// The progress dialog as the worker sees it. Each call only hands a request
// to the dialog's own thread and returns at once; all are called on the
// worker thread.
class ILFSDialog {
public:
    virtual ~ILFSDialog() = default;
    // The worker has ended; close with CLFSData::Result().
    virtual void PostFinished() = 0;
    // Refresh with CLFSData::TakeDisplay().
    virtual void PostDisplayChanged() = 0;
    // Answer with AnswerShowError().
    virtual void PostShowError() = 0;
    // Answer with AnswerAskReplace().
    virtual void PostAskReplace() = 0;
};

// The Replace Confirmation dialog; returns one of lfs::ReplaceAnswer.
class ILFSReplaceDialog {
public:
    virtual ~ILFSReplaceDialog() = default;
    virtual int AskReplace(const CLFSReplaceQuestion& question) = 0;
};

class CLFSData {
public:
    // Bytes copied per block (between two cancel tests).
    static constexpr std::size_t kDefaultBlockSize = std::size_t{8} << 20;
    // Display refreshes are posted at most this often (about 30 a second).
    static constexpr std::chrono::milliseconds kDefaultProgressInterval{33};

    CLFSData() = default;
    CLFSData(const CLFSData&) = delete;
    CLFSData& operator=(const CLFSData&) = delete;

    // ---- Set by the command before the worker starts ----
    // The chosen items, in selection order.
    CLFSFileArray m_arrSource;
    // The folder that holds the chosen items, and the destination folder.
    CLFSFile m_fileSourceFolder{"", CLFSFile::KIND_FOLDER};
    CLFSFile m_fileDestFolder{"", CLFSFile::KIND_FOLDER};
    bool m_bMove = false;
    // Receives the deleted and created items; may be null.
    INotifier* m_pNotifier = nullptr;
    // Tuning: copy block size and the least time between display refreshes.
    std::size_t m_nBlockSize = kDefaultBlockSize;
    std::chrono::milliseconds m_progressInterval = kDefaultProgressInterval;

    // ---- Worker state ----
    CLFSFileArray m_arrFiles;
    CLFSFileArray m_arrFolders;
    bool m_bReplaceAll = false;
    ILFSDialog* m_pDialog = nullptr;

    // ---- Dialog side (any thread) ----
    // Cancel: sets the flag, then wakes a worker waiting for an answer.
    void Cancel();
    bool IsCancelled() const { return m_bCancel.load(std::memory_order_acquire); }
    // IDCANCEL once cancelled (by the user or a fatal error), else IDOK.
    int Result() const;
    // The dialog is on screen; display refreshes are posted only from now.
    void SetVisible() { m_bVisible.store(true, std::memory_order_release); }
    bool IsVisible() const { return m_bVisible.load(std::memory_order_acquire); }
    // Copies what the worker wants shown into `shown` where it differs;
    // returns false when nothing changed or the operation is cancelled.
    bool TakeDisplay(CLFSDisplay& shown);
    // The pending error text and its message box style.
    std::string GetMessageText() const;
    unsigned GetMessageStyle() const;
    CLFSReplaceQuestion GetReplaceQuestion() const;
    // Stores the answer to the pending question and wakes the worker.
    void SetAnswer(int answer);
    // A move between two folders of one file system (the copy dialog then
    // hides its progress bar: files are renamed, not copied).
    bool IsMoveWithinOneFileSystem() const;

    // ---- Worker side ----
    void SetCurrentTexts(const std::string& first, const std::string& second = {});
    void SetCurrentPercent(int percent);
    // Posts "display changed" when the dialog is visible, no refresh is
    // pending and the progress interval has passed (or `force`).
    void PostDisplay(bool force = false);
    // Shows `text` with `style` and waits for the answer; IDCANCEL once
    // cancelled.
    int Ask(const std::string& text, unsigned style);
    // Asks whether to replace; one of lfs::ReplaceAnswer, REPLACE_CANCEL once
    // cancelled.
    int AskReplace(const CLFSReplaceQuestion& question);
    void PostFinished();

    void NotifyFileDeleted(const std::string& path) const;
    void NotifyFolderDeleted(const std::string& path) const;
    void NotifyFileCreated(const std::string& path) const;
    void NotifyFolderCreated(const std::string& path) const;

private:
    int WaitForAnswer(std::unique_lock<std::mutex>& guard);

    std::atomic<bool> m_bCancel{false};
    std::atomic<bool> m_bVisible{false};

    // Guards the current display.
    mutable std::mutex m_displayLock;
    CLFSDisplay m_current;
    bool m_bDisplayPending = false;
    std::chrono::steady_clock::time_point m_lastPost{};

    // Guards the question and answer; m_eventAnswer is signalled when
    // m_bAnswered is set or the operation is cancelled.
    mutable std::mutex m_answerLock;
    std::condition_variable m_eventAnswer;
    bool m_bAnswered = false;
    std::string m_strMessage;
    unsigned m_nMessageStyle = 0;
    int m_nAnswer = 0;
    CLFSReplaceQuestion m_replace;
};

// What the dialog does when the worker posts "show error": IDCANCEL when
// cancelled or the text is empty, else the button the user chose. The
// answer is stored and the worker woken.
int AnswerShowError(CLFSData& data, IQuestions* questions);

// What the dialog does when the worker posts "ask replace".
int AnswerAskReplace(CLFSData& data, ILFSReplaceDialog* dialog);

// A dialog that answers on the worker's own thread: for a console front end
// and for tests. Display refreshes are taken at once and handed to
// OnDisplay().
class CLFSInlineDialog : public ILFSDialog {
public:
    CLFSInlineDialog(CLFSData& data, IQuestions* questions, ILFSReplaceDialog* replace)
        : m_data(data), m_pQuestions(questions), m_pReplace(replace) {}

    void PostFinished() override {}
    void PostDisplayChanged() override;
    void PostShowError() override { AnswerShowError(m_data, m_pQuestions); }
    void PostAskReplace() override { AnswerAskReplace(m_data, m_pReplace); }

protected:
    virtual void OnDisplay(const CLFSDisplay& /*shown*/) {}
    CLFSData& m_data;

private:
    IQuestions* m_pQuestions;
    ILFSReplaceDialog* m_pReplace;
    CLFSDisplay m_shown;
};

} // namespace qb
