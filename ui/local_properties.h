// The properties of local items: a drive (a mounted volume), a file, and a
// folder — the folder dialog also makes new folders, and counts an existing
// folder's content on a thread of its own while it is open.
#pragma once

#include "platform/types.h"

#include <QDialog>
#include <atomic>
#include <cstdint>
#include <ctime>
#include <mutex>
#include <string>
#include <thread>

class QCheckBox;
class QDialogButtonBox;
class QLabel;
class QLineEdit;

namespace qb {
class IQuestions;
}

namespace qb::ui {

// "1,234,567": a count with commas between groups of three digits.
QString GroupDigits(FileSize value);

// What the drive dialog shows of a mounted volume.
struct LocalDriveInfo {
    std::string label;
    std::string mountPoint;
    int kind = 5; // 2 RAM, 4 floppy, 5 fixed, 6 CD-ROM, 7 removable, 8 network
    bool ready = true;
    FileSize total = 0;
    FileSize used = 0;
    FileSize free = 0;
};

// "Local Drive". A volume label cannot be set here without privileges: the
// label is shown read-only.
class CFTPLocalDriveDlg : public QDialog {
    Q_OBJECT
public:
    CFTPLocalDriveDlg(const LocalDriveInfo& drive, QWidget* parent);
    static QString TypeText(int kind);
    // "%s bytes   ( %s MB )", or "N/A" for a drive that is not ready.
    static QString SpaceText(FileSize bytes, bool ready);

    QLineEdit* m_pLabel;
    QLabel* m_pType;
    QLabel* m_pCapacity;
    QLabel* m_pUsed;
    QLabel* m_pFree;
};

// "Local File". Read-only is the owner's write bit; hidden is a name that
// starts with "." (shown, not changeable); archive and system do not exist
// here (shown cleared and disabled).
class CFTPLocalFileDlg : public QDialog {
    Q_OBJECT
public:
    // `questions` shows the failures (may be null).
    CFTPLocalFileDlg(const std::string& location, const std::string& name, IQuestions* questions,
                     QWidget* parent);
    // False when the file could not be read ("File not found!" was shown):
    // the caller does not show the dialog.
    bool IsValid() const { return m_bValid; }
    void accept() override;

    QLineEdit* m_pName;
    QLineEdit* m_pLocation;
    QLineEdit* m_pModified;
    QLineEdit* m_pSize;
    QCheckBox* m_pReadOnly;
    QCheckBox* m_pHidden;
    QCheckBox* m_pArchive;
    QCheckBox* m_pSystem;

private:
    std::string m_strPath;
    IQuestions* m_pQuestions;
    bool m_bValid = false;
    bool m_bReadOnlyAsRead = false;
};

// "Local Folder", in two modes: a new folder in `location`, or the
// properties of the folder `name` in `location`.
class CFTPLocalFolderDlg : public QDialog {
    Q_OBJECT
public:
    // A new folder.
    CFTPLocalFolderDlg(const std::string& location, IQuestions* questions, QWidget* parent);
    // An existing folder; its content is counted while the dialog is open.
    CFTPLocalFolderDlg(const std::string& location, const std::string& name, IQuestions* questions,
                       QWidget* parent);
    ~CFTPLocalFolderDlg() override;

    bool IsValid() const { return m_bValid; }
    bool IsNewFolder() const { return m_bNew; }
    // The new folder's name and modification time, after OK.
    std::string Name() const;
    std::time_t CreatedTime() const { return m_created; }
    // The counting has finished (all folders walked, or stopped).
    bool CountingDone() const { return m_bCountDone.load(); }
    // Stops the counting and waits for its thread (also on close).
    void StopCounting();

    void accept() override;
    void reject() override;

    QLineEdit* m_pName;
    QLineEdit* m_pLocation;
    QLineEdit* m_pModified;
    QLabel* m_pSize;
    QLabel* m_pContains;
    QCheckBox* m_pReadOnly;
    QCheckBox* m_pHidden;
    QCheckBox* m_pArchive;
    QCheckBox* m_pSystem;
    QDialogButtonBox* m_pButtons;

private:
    void Build();
    void ShowCounts();
    void Count(std::string root);

    std::string m_strLocation;
    IQuestions* m_pQuestions;
    bool m_bNew = true;
    bool m_bValid = true;
    bool m_bReadOnlyAsRead = false;
    std::time_t m_created = 0;

    // The counting thread and what it found; 64-bit totals.
    std::thread m_counter;
    std::atomic<bool> m_bStop{false};
    std::atomic<bool> m_bCountDone{false};
    std::atomic<bool> m_bShowPending{false};
    mutable std::mutex m_countLock;
    FileSize m_nBytes = 0;
    std::uint64_t m_nFiles = 0;
    std::uint64_t m_nFolders = 0;
};

} // namespace qb::ui
