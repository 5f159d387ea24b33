// The FTP Site dialog (new, edit and login uses) and the FTP Site Folder
// dialog. They check what is typed; the callers put the result into the
// site tree.
#pragma once

#include "dialogs.h"

#include <QDialog>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace qb {
class IQuestions;
}

namespace qb::ui {

class CFTPSiteDlg : public QDialog {
    Q_OBJECT
public:
    static constexpr int kMaxComments = 512;

    // `questions` shows the refusals (null: the dialog's own message boxes).
    CFTPSiteDlg(QWidget* parent, const SiteDialogValues& values, int mode,
                IQuestions* questions = nullptr);
    ~CFTPSiteDlg() override;

    // The values as typed (spaces trimmed where the dialog trims them).
    SiteDialogValues Values() const;
    // What OK took: an empty label became the host, and an anonymous site
    // has no user or password.
    const SiteDialogValues& Result() const { return m_values; }
    int Mode() const { return m_nMode; }

    QLineEdit* LabelEdit() const { return m_pLabel; }
    QLineEdit* HostEdit() const { return m_pHost; }
    QCheckBox* AnonymousCheck() const { return m_pAnonymous; }
    QLineEdit* UserEdit() const { return m_pUser; }
    QLineEdit* PasswordEdit() const { return m_pPassword; }
    QLineEdit* PortEdit() const { return m_pPort; }
    QLineEdit* FolderEdit() const { return m_pFolder; }
    QPlainTextEdit* CommentsEdit() const { return m_pComments; }
    QCheckBox* FirewallCheck() const { return m_pFirewall; }
    QGroupBox* SecurityGroup() const { return m_pSecurity; }
    // The TLS modes in the order of SiteSecurity::Tls.
    QComboBox* TlsCombo() const { return m_pTls; }
    QCheckBox* EpsvCheck() const { return m_pEpsv; }
    QLabel* CertificateLabel() const { return m_pCertificate; }
    QPushButton* ForgetCertificateButton() const { return m_pForget; }
    QPushButton* OkButton() const { return m_pOk; }
    QPushButton* CancelButton() const { return m_pCancel; }

    void accept() override;

private:
    void UpdateOk();
    void UpdateUserFields();
    void ShowCertificate();
    int Say(const std::string& text);

    int m_nMode;
    IQuestions* m_pQuestions;
    std::unique_ptr<IQuestions> m_ownQuestions;
    SiteDialogValues m_values;
    QLineEdit* m_pLabel;
    QLineEdit* m_pHost;
    QCheckBox* m_pAnonymous;
    QLineEdit* m_pUser;
    QLineEdit* m_pPassword;
    QLineEdit* m_pPort;
    QLineEdit* m_pFolder;
    QPlainTextEdit* m_pComments;
    QCheckBox* m_pFirewall;
    QGroupBox* m_pSecurity;
    QComboBox* m_pTls;
    QCheckBox* m_pEpsv;
    QLabel* m_pCertificate;
    QPushButton* m_pForget;
    std::string m_strFingerprint; // the kept one, until forgotten
    QPushButton* m_pOk;
    QPushButton* m_pCancel;
};

class CFTPSiteFolderDlg : public QDialog {
    Q_OBJECT
public:
    // `edit`: an existing folder, whose label cannot be changed here.
    CFTPSiteFolderDlg(QWidget* parent, const std::string& label, const std::string& comments,
                      bool edit, IQuestions* questions = nullptr);
    ~CFTPSiteFolderDlg() override;

    std::string Label() const;
    std::string Comments() const;
    QLineEdit* LabelEdit() const { return m_pLabel; }
    QPlainTextEdit* CommentsEdit() const { return m_pComments; }
    QPushButton* OkButton() const { return m_pOk; }

    void accept() override;

private:
    IQuestions* m_pQuestions;
    std::unique_ptr<IQuestions> m_ownQuestions;
    QLineEdit* m_pLabel;
    QPlainTextEdit* m_pComments;
    QPushButton* m_pOk;
};

// Message boxes of a dialog, for the rules that report through IQuestions.
std::unique_ptr<IQuestions> MakeBoxQuestions(QWidget* parent);

} // namespace qb::ui
