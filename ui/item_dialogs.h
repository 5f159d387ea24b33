// Three small dialogs of the explorer: Go To (a path to select, with the
// recent ones), Remote Folder (the name of a new remote folder, or a remote
// folder's properties) and Remote File (a remote file's properties). They
// only collect or show values; their callers act on the result.
#pragma once

#include "platform/questions.h"

#include <QDialog>
#include <set>
#include <string>
#include <vector>

class QComboBox;
class QDialogButtonBox;
class QLineEdit;

namespace qb::ui {

// "Go To".
class CFTPGotoDlg : public QDialog {
    Q_OBJECT
public:
    // `history` is oldest first; the list shows it newest first, with the
    // newest in the edit field.
    CFTPGotoDlg(const std::vector<std::string>& history, QWidget* parent);
    // The typed text with leading and trailing spaces removed.
    QString Text() const;

    QComboBox* m_pPath;
};

// "Remote Folder".
class CFTPRemoteFolderDlg : public QDialog {
    Q_OBJECT
public:
    enum Mode : int { MODE_NEW = 0, MODE_PROPERTIES = 1 };

    // A new folder in the folder at `location`, whose present children are
    // `existing` (compared exactly). `questions` shows the refusals.
    static CFTPRemoteFolderDlg* ForNewFolder(const QString& location,
                                             std::set<std::string> existing, IQuestions* questions,
                                             QWidget* parent);
    // The properties of a folder: its texts as the views show them.
    static CFTPRemoteFolderDlg* ForProperties(const QString& location, const QString& name,
                                              const QString& modified, const QString& size,
                                              QWidget* parent);

    int Mode() const { return m_nMode; }
    // The name typed (trimmed of spaces) once the dialog closed with OK.
    std::string Name() const;
    void accept() override;

    QLineEdit* m_pName;
    QLineEdit* m_pLocation;
    QLineEdit* m_pModified;
    QLineEdit* m_pSize;
    QDialogButtonBox* m_pButtons;

private:
    CFTPRemoteFolderDlg(int mode, QWidget* parent);
    void UpdateOk();

    int m_nMode;
    std::set<std::string> m_existing;
    IQuestions* m_pQuestions = nullptr;
};

// "Remote File".
class CFTPRemoteFileDlg : public QDialog {
    Q_OBJECT
public:
    CFTPRemoteFileDlg(const QString& location, const QString& name, const QString& modified,
                      const QString& size, QWidget* parent);
};

} // namespace qb::ui
