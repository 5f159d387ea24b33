// The progress dialog of a local delete: the local delete worker runs in a
// thread of its own while this dialog shows the file it is at; the worker's
// questions are asked here, on the window's thread.
#pragma once

#include "localfs/lfs_operation.h"

#include <QDialog>

class QLabel;

namespace qb {
class IQuestions;
}

namespace qb::ui {

class CFTPDeleteDlg : public QDialog, public ILFSDialog {
    Q_OBJECT
public:
    // How long the worker may take before the dialog shows itself.
    static constexpr int kShowAfterMs = 1000;

    CFTPDeleteDlg(QWidget* parent, IQuestions* questions);
    ~CFTPDeleteDlg() override;

    // Fill before Run: the items (m_arrSource) and the notifier.
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

private:
    CLFSOperation m_op{CLFSOperation::Kind::Delete};
    IQuestions* m_pQuestions;
    QLabel* m_pText;
    CLFSDisplay m_shown;
    bool m_bFinished = false;
};

} // namespace qb::ui
