// The window's message boxes and small dialogs, and the prompter through
// which the frame asks the user. Tests give the frame a prompter of their
// own, so no test waits on a modal dialog.
#pragma once

#include "engine/question_desk.h"
#include "local_properties.h"
#include "profile/site_tree.h"

#include <QDateTime>
#include <QDialog>
#include <QMessageBox>
#include <QPoint>
#include <QString>
#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

class QPushButton;
class QKeyEvent;

namespace qb {
struct ProxyLogin;
struct CLFSReplaceQuestion;
} // namespace qb

namespace qb::ui {

inline const QString kAppTitle = QStringLiteral("Quillbeck");

// A message box titled "Quillbeck" with the buttons, icon and default button
// of MessageStyle bits (platform/questions.h).
std::unique_ptr<QMessageBox> MakeMessageBox(QWidget* parent, const QString& text, unsigned style);
// The answer (IDOK, IDYES, ...) of a box made by MakeMessageBox once it has
// closed; what closing it means when no button was clicked.
int MessageBoxAnswer(const QMessageBox& box, unsigned style);

// A server certificate that did not verify (or differs from the kept one):
// the box shows what is wrong and the certificate, and offers accepting it
// once, accepting it always, or refusing it ("Refuse" is the default and what
// closing the box means).
std::unique_ptr<QMessageBox> MakeCertificateBox(QWidget* parent, const Question& question);
// One of Question::CertificateAnswer once the box has closed.
int CertificateAnswer(const QMessageBox& box);

// "Exit Confirmation": a job is in progress; "&No" is the default.
std::unique_ptr<QMessageBox> MakeExitDialog(QWidget* parent);
// "Stop current action by disconnect from server?"; "&No" is the default.
std::unique_ptr<QMessageBox> MakeStopByDisconnectDialog(QWidget* parent);
// True when the box closed with its "&Yes" button.
bool ClickedYes(const QMessageBox& box);

// "Overwrite Confirmation": whether a file that exists may be replaced.
// Its result is one of Question::OverwriteAnswer; closing it otherwise
// counts as "Ca&ncel" (Question::SKIP).
class COverwriteDlg : public QDialog {
    Q_OBJECT
public:
    COverwriteDlg(QWidget* parent, const QString& existing, const QString& incoming,
                  bool canResume);
    QPushButton* Button(int answer) const;

private:
    std::vector<std::pair<int, QPushButton*>> m_buttons;
};

// "Confirm Move", or "Confirm Copy" built without the move flag: the items
// and the folder they would go to, each on a read-only line; "&Yes" or
// "&No".
class CMoveConfirmationDlg : public QDialog {
    Q_OBJECT
public:
    CMoveConfirmationDlg(QWidget* parent, const QString& items, const QString& folder, bool move);
};

// The default name of a saved log: month, day, hour and minute, ".txt".
QString DefaultLogFileName(const QDateTime& when);

// What the FTP Site dialog edits.
struct SiteDialogValues {
    std::string label;
    std::string host;
    bool anonymous = true;
    std::string user;
    std::string password;
    std::uint32_t port = 21;
    std::string folder;
    std::string comments;
    bool insideFirewall = false;
    // The "Security" group: TLS mode, EPSV, the kept certificate.
    SiteSecurity security;
};

// The drop menu's commands.
enum DropCommand : int { ID_COPY_HERE = 32868, ID_MOVE_HERE = 32869, ID_CANCEL_DROP = 32870 };

// The FTP Site dialog's uses.
enum SiteDialogMode : int { SITE_NEW = 0, SITE_EDIT = 1, SITE_LOGIN = 2 };

// The about box's pages.
enum class AboutPage { Product, Licence, ReleaseNotes };

// What Properties shows of a drive, a local folder or file, or a remote
// folder or file: its view item kind, the folder it is in, its name and the
// texts the views show; for a drive, the volume.
struct ItemProperties {
    int kind = 0;
    std::string location;
    std::string name;
    QString modified;
    QString size;
    LocalDriveInfo drive;
    IQuestions* questions = nullptr; // shows the dialogs' refusals
};

// Where a new folder goes: a local folder's full path, or a remote node's
// path with the names the folder already holds.
struct NewFolderRequest {
    bool remote = false;
    std::string location;
    std::set<std::string> existing;
    IQuestions* questions = nullptr; // shows the dialogs' refusals
};

// Everything the frame asks the user.
class IPrompter {
public:
    virtual ~IPrompter() = default;
    // A message box (MessageStyle bits); returns IDOK, IDYES, ...
    virtual int Message(QWidget* parent, const QString& text, unsigned style) = 0;
    virtual bool ConfirmExit(QWidget* parent) = 0;
    virtual bool ConfirmStopByDisconnect(QWidget* parent) = 0;
    // The file to save the log to; empty when cancelled.
    virtual QString AskSaveLogFile(QWidget* parent, const QString& defaultName) = 0;
    // The Go To text; empty when cancelled.
    virtual QString AskGoTo(QWidget* parent, const std::vector<std::string>& history) = 0;
    // `selectPage`: the page's text is selected (the licence on a first run).
    virtual void ShowAbout(QWidget* parent, AboutPage page, bool selectPage) = 0;
    // The FTP Site dialog in `mode` (SiteDialogMode); true after OK, with
    // `values` as typed.
    virtual bool EditSite(QWidget* parent, SiteDialogValues& values, int mode) = 0;
    // The FTP Site Folder dialog; `edit`: an existing folder (the label
    // stays). True after OK.
    virtual bool EditSiteFolder(QWidget* parent, std::string& label, std::string& comments,
                                bool edit) = 0;
    // A new folder: the Local Folder dialog in its new-folder mode (which
    // creates the folder) or the Remote Folder dialog in its new-folder
    // mode (which checks the name). The name after OK; empty when
    // cancelled.
    virtual std::string AskNewFolder(QWidget* parent, const NewFolderRequest& request) = 0;
    // "Confirm Delete" for `what`; true only for "&Yes".
    virtual bool ConfirmDelete(QWidget* parent, const QString& what) = 0;
    // "Confirm Move" (or "Confirm Copy") of `items` to `folder`; true only
    // for "&Yes".
    virtual bool ConfirmMove(QWidget* parent, const QString& items, const QString& folder,
                             bool move) = 0;
    // "Replace Confirmation" of a local copy or move: one of
    // lfs::ReplaceAnswer.
    virtual int AskLocalReplace(QWidget* parent, const CLFSReplaceQuestion& question) = 0;
    // The drop menu at `at`: ID_COPY_HERE, ID_MOVE_HERE or ID_CANCEL_DROP.
    virtual int AskDropAction(QWidget* parent, const QPoint& at) = 0;
    // The properties dialog of a drive, local folder or file, or remote
    // folder or file (nothing shown by default).
    virtual void ShowProperties(QWidget* /*parent*/, const ItemProperties& /*item*/) {}
    // The Login Proxy Server dialog; true after OK with `login` as typed
    // (cancelled by default).
    virtual bool AskProxyLogin(QWidget* /*parent*/, ProxyLogin& /*login*/) { return false; }
};

// Shift+F10 or the menu key: the keyboard's way to a context menu.
bool IsContextMenuKey(const QKeyEvent* event);

// The real dialogs.
class CDialogPrompter : public IPrompter {
public:
    int Message(QWidget* parent, const QString& text, unsigned style) override;
    bool ConfirmExit(QWidget* parent) override;
    bool ConfirmStopByDisconnect(QWidget* parent) override;
    QString AskSaveLogFile(QWidget* parent, const QString& defaultName) override;
    QString AskGoTo(QWidget* parent, const std::vector<std::string>& history) override;
    void ShowAbout(QWidget* parent, AboutPage page, bool selectPage) override;
    bool EditSite(QWidget* parent, SiteDialogValues& values, int mode) override;
    bool EditSiteFolder(QWidget* parent, std::string& label, std::string& comments,
                        bool edit) override;
    std::string AskNewFolder(QWidget* parent, const NewFolderRequest& request) override;
    bool ConfirmDelete(QWidget* parent, const QString& what) override;
    bool ConfirmMove(QWidget* parent, const QString& items, const QString& folder,
                     bool move) override;
    int AskLocalReplace(QWidget* parent, const CLFSReplaceQuestion& question) override;
    int AskDropAction(QWidget* parent, const QPoint& at) override;
    void ShowProperties(QWidget* parent, const ItemProperties& item) override;
    bool AskProxyLogin(QWidget* parent, ProxyLogin& login) override;
};

} // namespace qb::ui
