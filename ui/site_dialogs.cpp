#include "site_dialogs.h"

#include "app/names.h"
#include "platform/questions.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace qb::ui {

namespace {

class CBoxQuestions : public IQuestions {
public:
    explicit CBoxQuestions(QWidget* parent) : m_pParent(parent) {}
    int MessageBox(const std::string& text, unsigned style) override {
        auto box = MakeMessageBox(m_pParent, QString::fromStdString(text), style);
        box->exec();
        return MessageBoxAnswer(*box, style);
    }

private:
    QWidget* m_pParent;
};

std::string Trimmed(const QString& text) {
    std::string s = text.toStdString();
    TrimSpaces(s);
    return s;
}

// Keeps a plain text edit at most `limit` characters long.
void LimitLength(QPlainTextEdit* edit, int limit) {
    QObject::connect(edit, &QPlainTextEdit::textChanged, edit, [edit, limit] {
        const QString text = edit->toPlainText();
        if (text.size() > limit) {
            edit->setPlainText(text.left(limit));
            QTextCursor cursor = edit->textCursor();
            cursor.movePosition(QTextCursor::End);
            edit->setTextCursor(cursor);
        }
    });
}

} // namespace

std::unique_ptr<IQuestions> MakeBoxQuestions(QWidget* parent) {
    return std::make_unique<CBoxQuestions>(parent);
}

// ---- FTP Site ----------------------------------------------------------------

CFTPSiteDlg::CFTPSiteDlg(QWidget* parent, const SiteDialogValues& values, int mode,
                         IQuestions* questions)
    : QDialog(parent), m_nMode(mode), m_pQuestions(questions), m_values(values) {
    if (m_pQuestions == nullptr) {
        m_ownQuestions = MakeBoxQuestions(this);
        m_pQuestions = m_ownQuestions.get();
    }
    setObjectName(QStringLiteral("siteDialog"));
    auto* form = new QFormLayout;
    m_pLabel = new QLineEdit(QString::fromStdString(values.label), this);
    m_pHost = new QLineEdit(QString::fromStdString(values.host), this);
    m_pAnonymous = new QCheckBox(QStringLiteral("Use &anonymous login"), this);
    m_pAnonymous->setChecked(values.anonymous);
    m_pUser = new QLineEdit(QString::fromStdString(values.user), this);
    m_pPassword = new QLineEdit(QString::fromStdString(values.password), this);
    m_pPassword->setEchoMode(QLineEdit::Password);
    m_pPort = new QLineEdit(QString::number(values.port), this);
    m_pFolder = new QLineEdit(QString::fromStdString(values.folder), this);
    m_pComments = new QPlainTextEdit(QString::fromStdString(values.comments), this);
    LimitLength(m_pComments, kMaxComments);
    m_pFirewall = new QCheckBox(QStringLiteral("&Inside Firewall"), this);
    m_pFirewall->setChecked(values.insideFirewall);
    form->addRow(QStringLiteral("&Label : "), m_pLabel);
    form->addRow(QStringLiteral("&Host Address : "), m_pHost);
    form->addRow(QString(), m_pAnonymous);
    form->addRow(QStringLiteral("&User ID : "), m_pUser);
    form->addRow(QStringLiteral("&Password : "), m_pPassword);
    form->addRow(QStringLiteral("Por&t : "), m_pPort);
    form->addRow(QStringLiteral("Login &Directory : "), m_pFolder);
    form->addRow(QStringLiteral("Co&mments : "), m_pComments);
    form->addRow(QString(), m_pFirewall);

    m_pSecurity = new QGroupBox(QStringLiteral("Security"), this);
    m_pTls = new QComboBox(m_pSecurity);
    // In the order of SiteSecurity::Tls.
    m_pTls->addItem(QStringLiteral("No TLS (plain FTP)"));
    m_pTls->addItem(QStringLiteral("TLS if available"));
    m_pTls->addItem(QStringLiteral("TLS required (explicit)"));
    m_pTls->addItem(QStringLiteral("Implicit TLS"));
    m_pTls->setCurrentIndex(static_cast<int>(values.security.tls));
    m_pEpsv = new QCheckBox(QStringLiteral("Use &EPSV and EPRT"), m_pSecurity);
    m_pEpsv->setChecked(values.security.epsv);
    m_pCertificate = new QLabel(m_pSecurity);
    m_pCertificate->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_pCertificate->setWordWrap(true);
    m_pForget = new QPushButton(QStringLiteral("&Forget Certificate"), m_pSecurity);
    m_strFingerprint = values.security.fingerprint;
    auto* certificate = new QHBoxLayout;
    certificate->addWidget(m_pCertificate, 1);
    certificate->addWidget(m_pForget);
    auto* security = new QFormLayout(m_pSecurity);
    security->addRow(QStringLiteral("T&LS : "), m_pTls);
    security->addRow(QString(), m_pEpsv);
    security->addRow(QStringLiteral("Certificate : "), certificate);
    ShowCertificate();
    connect(m_pForget, &QPushButton::clicked, this, [this] {
        m_strFingerprint.clear();
        ShowCertificate();
    });

    m_pOk = new QPushButton(QStringLiteral("&OK"), this);
    m_pOk->setDefault(true);
    m_pCancel = new QPushButton(QStringLiteral("Cancel"), this);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_pOk);
    buttons->addWidget(m_pCancel);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(m_pSecurity);
    layout->addLayout(buttons);
    connect(m_pOk, &QPushButton::clicked, this, &CFTPSiteDlg::accept);
    connect(m_pCancel, &QPushButton::clicked, this, &CFTPSiteDlg::reject);
    connect(m_pAnonymous, &QCheckBox::toggled, this, &CFTPSiteDlg::UpdateUserFields);
    for (QLineEdit* edit : {m_pLabel, m_pHost, m_pPort, m_pUser, m_pPassword}) {
        connect(edit, &QLineEdit::textChanged, this, &CFTPSiteDlg::UpdateOk);
    }
    UpdateUserFields();
    m_pOk->setEnabled(false);
    switch (mode) {
    case SITE_EDIT:
        setWindowTitle(QStringLiteral("Edit FTP Site"));
        m_pLabel->setReadOnly(true);
        m_pOk->setEnabled(true);
        m_pCancel->setFocus();
        break;
    case SITE_LOGIN:
        setWindowTitle(QStringLiteral("Login FTP Site"));
        m_pAnonymous->setEnabled(false);
        m_pFirewall->setEnabled(false);
        for (QLineEdit* edit : {m_pLabel, m_pHost, m_pPort, m_pFolder}) {
            edit->setReadOnly(true);
        }
        m_pComments->setReadOnly(true);
        m_pSecurity->setEnabled(false);
        // The user fields take what is typed here, whatever the site says.
        m_pUser->setEnabled(true);
        m_pPassword->setEnabled(true);
        (m_pUser->text().isEmpty() ? m_pUser : m_pPassword)->setFocus();
        UpdateOk();
        break;
    default:
        setWindowTitle(QStringLiteral("New FTP Site"));
        m_pLabel->setFocus();
        break;
    }
}

CFTPSiteDlg::~CFTPSiteDlg() = default;

void CFTPSiteDlg::ShowCertificate() {
    m_pCertificate->setText(
        m_strFingerprint.empty()
            ? QStringLiteral("None kept")
            : QStringLiteral("Kept, SHA-256 %1").arg(QString::fromStdString(m_strFingerprint)));
    m_pForget->setEnabled(!m_strFingerprint.empty() && m_nMode != SITE_LOGIN);
}

void CFTPSiteDlg::UpdateUserFields() {
    if (m_nMode == SITE_LOGIN) {
        return;
    }
    const bool own = !m_pAnonymous->isChecked();
    m_pUser->setEnabled(own);
    m_pPassword->setEnabled(own);
}

void CFTPSiteDlg::UpdateOk() {
    if (m_nMode == SITE_LOGIN) {
        m_pOk->setEnabled(!Trimmed(m_pUser->text()).empty() &&
                          !Trimmed(m_pPassword->text()).empty());
    } else {
        m_pOk->setEnabled(!Trimmed(m_pHost->text()).empty() && !Trimmed(m_pPort->text()).empty());
    }
}

int CFTPSiteDlg::Say(const std::string& text) {
    return m_pQuestions->MessageBox(text, MB_OK | MB_ICONWARNING);
}

SiteDialogValues CFTPSiteDlg::Values() const {
    SiteDialogValues v = m_values;
    v.label = Trimmed(m_pLabel->text());
    v.host = Trimmed(m_pHost->text());
    v.anonymous = m_pAnonymous->isChecked();
    v.user = Trimmed(m_pUser->text());
    v.password = Trimmed(m_pPassword->text());
    v.folder = Trimmed(m_pFolder->text());
    v.comments = m_pComments->toPlainText().toStdString();
    v.insideFirewall = m_pFirewall->isChecked();
    v.security.tls = static_cast<SiteSecurity::Tls>(m_pTls->currentIndex());
    v.security.epsv = m_pEpsv->isChecked();
    v.security.fingerprint = m_strFingerprint;
    bool ok = false;
    const uint port = m_pPort->text().trimmed().toUInt(&ok);
    v.port = ok ? port : 0;
    return v;
}

void CFTPSiteDlg::accept() {
    bool ok = false;
    const QString portText = m_pPort->text().trimmed();
    portText.toUInt(&ok);
    if (!ok || portText.startsWith(QLatin1Char('+'))) {
        Say("Please enter a positive integer.");
        m_pPort->setFocus();
        m_pPort->selectAll();
        return;
    }
    SiteDialogValues v = Values();
    if (m_nMode != SITE_LOGIN) {
        if (v.label.empty()) {
            v.label = v.host;
        }
        if (!CheckName(v.label, NAME_SITE, m_pQuestions)) {
            m_pLabel->setFocus();
            return;
        }
        if (v.anonymous) {
            v.user.clear();
            v.password.clear();
        }
    }
    m_values = v;
    QDialog::accept();
}

// ---- FTP Site Folder -----------------------------------------------------------

CFTPSiteFolderDlg::CFTPSiteFolderDlg(QWidget* parent, const std::string& label,
                                     const std::string& comments, bool edit, IQuestions* questions)
    : QDialog(parent), m_pQuestions(questions) {
    if (m_pQuestions == nullptr) {
        m_ownQuestions = MakeBoxQuestions(this);
        m_pQuestions = m_ownQuestions.get();
    }
    setObjectName(QStringLiteral("siteFolderDialog"));
    m_pLabel = new QLineEdit(QString::fromStdString(label), this);
    m_pComments = new QPlainTextEdit(QString::fromStdString(comments), this);
    LimitLength(m_pComments, CFTPSiteDlg::kMaxComments);
    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("&Label : "), m_pLabel);
    form->addRow(QStringLiteral("&Comments :"), m_pComments);
    m_pOk = new QPushButton(QStringLiteral("&OK"), this);
    m_pOk->setDefault(true);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_pOk);
    buttons->addWidget(cancel);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addLayout(buttons);
    connect(m_pOk, &QPushButton::clicked, this, &CFTPSiteFolderDlg::accept);
    connect(cancel, &QPushButton::clicked, this, &CFTPSiteFolderDlg::reject);
    connect(m_pLabel, &QLineEdit::textChanged, this,
            [this] { m_pOk->setEnabled(!Label().empty()); });
    if (edit) {
        setWindowTitle(QStringLiteral("Edit FTP Site Folder"));
        m_pLabel->setReadOnly(true);
        cancel->setFocus();
    } else {
        setWindowTitle(QStringLiteral("New FTP Site Folder"));
        m_pOk->setEnabled(!Label().empty());
    }
}

CFTPSiteFolderDlg::~CFTPSiteFolderDlg() = default;

std::string CFTPSiteFolderDlg::Label() const {
    return Trimmed(m_pLabel->text());
}

std::string CFTPSiteFolderDlg::Comments() const {
    return m_pComments->toPlainText().toStdString();
}

void CFTPSiteFolderDlg::accept() {
    if (!CheckName(Label(), NAME_SITE_FOLDER, m_pQuestions)) {
        m_pLabel->setFocus();
        return;
    }
    QDialog::accept();
}

} // namespace qb::ui
