// The progress dialogs of local operations: the local worker runs in a
// thread of its own while the dialog shows what it is at; the worker's
// questions are asked here, on the window's thread. A dialog shows itself
// only when the work takes a while. Also the Replace Confirmation that a
// local copy asks before replacing a file.
#pragma once

#include "localfs/lfs_operation.h"

#include <QDialog>
#include <atomic>
#include <chrono>

class QLabel;
class QProgressBar;

namespace qb {
class IQuestions;
}

namespace qb::ui {

// "Replace Confirmation": the existing file and the one that would replace
// it; one of lfs::ReplaceAnswer.
class CReplaceConfirmationLFSDlg : public QDialog {
    Q_OBJECT
public:
    CReplaceConfirmationLFSDlg(QWidget* parent, const CLFSReplaceQuestion& question);
};

// A local operation behind its progress dialog.
class CFTPLFSDlg : public QDialog, public ILFSDialog {
    Q_OBJECT
public:
    // How long the worker may take before the dialog shows itself.
    static constexpr int kShowAfterMs = 1000;
    // How often the wait for the worker looks for a question.
    static constexpr std::chrono::milliseconds kPollInterval{10};

    // `questions` shows the worker's messages; `replace` asks before a file
    // is replaced (null: never replace).
    CFTPLFSDlg(QWidget* parent, CLFSOperation::Kind kind, IQuestions* questions,
               ILFSReplaceDialog* replace);
    ~CFTPLFSDlg() override;

    // Fill before Run: the items (m_arrSource), folders and the notifier.
    CLFSData& Data() { return m_op.Data(); }
    // Runs the worker; the dialog appears only when it takes a while.
    // IDOK, or IDCANCEL when cancelled.
    int Run();

    // ---- ILFSDialog (any thread) ----
    void PostFinished() override;
    void PostDisplayChanged() override;
    void PostShowError() override;
    void PostAskReplace() override;

public Q_SLOTS:
    // Cancel asks the worker to stop; the dialog closes once it has.
    void reject() override;

protected:
    // Set up the texts just before the dialog shows itself.
    virtual void Prepare() {}
    virtual void Show(const CLFSDisplay& shown) = 0;

private:
    void Refresh();

    CLFSOperation m_op;
    IQuestions* m_pQuestions;
    ILFSReplaceDialog* m_pReplace;
    CLFSDisplay m_shown;
    bool m_bFinished = false;
    std::atomic<bool> m_bAsking{false}; // the worker waits for an answer
};

// "Deleting...": the file it is at.
class CFTPDeleteDlg : public CFTPLFSDlg {
    Q_OBJECT
public:
    CFTPDeleteDlg(QWidget* parent, IQuestions* questions);

protected:
    void Show(const CLFSDisplay& shown) override;

private:
    QLabel* m_pText;
};

// "Copying..." or "Moving...": "From :" and "To :" and the progress of the
// current file (no progress bar for a move within one file system, which
// renames).
class CFTPCopyDlg : public CFTPLFSDlg {
    Q_OBJECT
public:
    CFTPCopyDlg(QWidget* parent, IQuestions* questions, ILFSReplaceDialog* replace);

protected:
    void Prepare() override;
    void Show(const CLFSDisplay& shown) override;

private:
    QLabel* m_pFrom;
    QLabel* m_pTo;
    QProgressBar* m_pProgress;
};

} // namespace qb::ui
