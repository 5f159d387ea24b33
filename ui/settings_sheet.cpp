#include "settings_sheet.h"

#include "app/names.h"
#include "dialogs.h"
#include "platform/questions.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QTabWidget>
#include <QVBoxLayout>

namespace qb::ui {

namespace {

const QString kNotAPositiveInteger = QStringLiteral("Please enter a positive integer.");

std::string Text(const QLineEdit* edit) {
    return edit->text().toStdString();
}

std::string Trimmed(const QLineEdit* edit) {
    std::string text = Text(edit);
    TrimSpaces(text);
    return text;
}

// An unsigned whole number as typed (digits only, fitting 32 bits).
bool ParsePort(const QString& text, std::uint32_t& port) {
    if (text.isEmpty()) {
        return false;
    }
    bool ok = false;
    const qulonglong value = text.toULongLong(&ok);
    if (!ok || value > 0xFFFFFFFFull) {
        return false;
    }
    for (QChar c : text) {
        if (!c.isDigit()) {
            return false;
        }
    }
    port = static_cast<std::uint32_t>(value);
    return true;
}

QCheckBox* AddCheckBox(const QString& text, QWidget* parent, QLayout* layout) {
    auto* box = new QCheckBox(text, parent);
    layout->addWidget(box);
    return box;
}

QLineEdit* Edit(const QString& label, QWidget* parent, QFormLayout* form) {
    auto* edit = new QLineEdit(parent);
    auto* caption = new QLabel(label, parent);
    caption->setBuddy(edit);
    form->addRow(caption, edit);
    return edit;
}

// The firewall types' radio buttons, 1 to 5.
constexpr const char* kTypeButtons[] = {
    "Logon Proxy Then &SITE remote_host",
    "Logon Proxy Then &USER remote_userid@remote_host",
    "USE&R remote_userid@remote_host",
    "&OPEN remote_host",
    "PAS&V mode",
};

} // namespace

void CSettingsPage::showEvent(QShowEvent* event) {
    if (!m_bShown) {
        m_bShown = true;
        Load();
    }
    QWidget::showEvent(event);
}

// --- General -----------------------------------------------------------------------

CSettingsPageGeneral::CSettingsPageGeneral(CFTPProfile& profile, QWidget* parent)
    : CSettingsPage(profile, parent) {
    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    layout->addLayout(form);
    m_pEMail = Edit(QStringLiteral("Your E-Mail &Address : "), this, form);
    m_pLogCommands = AddCheckBox(QStringLiteral("Log Command &Sent To Host"), this, layout);
    m_pLogResponses = AddCheckBox(QStringLiteral("Log Response &Received From Host"), this, layout);
    m_pLogHostAddress = AddCheckBox(QStringLiteral("Log &Host  Address"), this, layout);
    m_pAutoExplore =
        AddCheckBox(QStringLiteral("Auto &Explore Remote Folder When Selected"), this, layout);
    layout->addStretch();
}

void CSettingsPageGeneral::Load() {
    const SharedSettings shared = m_profile.GetSharedSettings();
    m_pEMail->setText(QString::fromStdString(shared.m_strEMail));
    m_pLogCommands->setChecked(shared.m_bLogCommands);
    m_pLogResponses->setChecked(shared.m_bLogResponses);
    m_pLogHostAddress->setChecked(shared.m_bLogHostAddress);
    m_pAutoExplore->setChecked(m_profile.m_bAutoExplore);
}

void CSettingsPageGeneral::Store() {
    // The connection threads read these: the profile swaps them whole.
    SharedSettings shared = m_profile.GetSharedSettings();
    shared.m_strEMail = Text(m_pEMail);
    shared.m_bLogCommands = m_pLogCommands->isChecked();
    shared.m_bLogResponses = m_pLogResponses->isChecked();
    shared.m_bLogHostAddress = m_pLogHostAddress->isChecked();
    m_profile.SetSharedSettings(std::move(shared));
    m_profile.m_bAutoExplore = m_pAutoExplore->isChecked();
}

// --- Auto Mode Template ---------------------------------------------------------------

CSettingsPageTemplate::CSettingsPageTemplate(CFTPProfile& profile, QWidget* parent)
    : CSettingsPage(profile, parent) {
    auto* layout = new QVBoxLayout(this);
    auto* note = new QLabel(QStringLiteral("When transfer in Auto mode,\nUse Text mode to transfer "
                                           "files\nWith the following &extentions :"),
                            this);
    layout->addWidget(note);
    m_pList = new QListWidget(this);
    m_pList->setSortingEnabled(true);
    m_pList->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_pList->setAccessibleName(QStringLiteral("Text extensions"));
    note->setBuddy(m_pList);
    layout->addWidget(m_pList);
    auto* row = new QHBoxLayout;
    auto* caption = new QLabel(QStringLiteral("&New Extention :"), this);
    m_pNew = new QLineEdit(this);
    caption->setBuddy(m_pNew);
    row->addWidget(caption);
    row->addWidget(m_pNew);
    auto* add = new QPushButton(QStringLiteral("&Add"), this);
    auto* remove = new QPushButton(QStringLiteral("&Remove"), this);
    row->addWidget(add);
    row->addWidget(remove);
    layout->addLayout(row);
    // Typed letters become capitals as they are typed.
    connect(m_pNew, &QLineEdit::textEdited, this, [this](const QString& text) {
        const int cursor = m_pNew->cursorPosition();
        m_pNew->setText(text.toUpper());
        m_pNew->setCursorPosition(cursor);
    });
    connect(add, &QPushButton::clicked, this, &CSettingsPageTemplate::Add);
    connect(remove, &QPushButton::clicked, this, &CSettingsPageTemplate::Remove);
}

void CSettingsPageTemplate::Load() {
    m_pList->clear();
    for (const std::string& extension : m_profile.GetSharedSettings().m_arrTextExtensions) {
        m_pList->addItem(QString::fromStdString(extension));
    }
}

void CSettingsPageTemplate::Add() {
    std::string text = Text(m_pNew);
    TrimSpaces(text);
    const QString entry = QString::fromStdString(text);
    // The list's exact-match search ignores case.
    if (!entry.isEmpty() && m_pList->findItems(entry, Qt::MatchFixedString).isEmpty()) {
        m_pList->addItem(entry);
    }
    m_pNew->clear();
}

void CSettingsPageTemplate::Remove() {
    for (int row = m_pList->count() - 1; row >= 0; --row) {
        if (m_pList->item(row)->isSelected()) {
            delete m_pList->takeItem(row);
        }
    }
}

void CSettingsPageTemplate::Store() {
    SharedSettings shared = m_profile.GetSharedSettings();
    shared.m_arrTextExtensions.clear();
    for (int row = 0; row < m_pList->count(); ++row) {
        shared.m_arrTextExtensions.push_back(m_pList->item(row)->text().toStdString());
    }
    m_profile.SetSharedSettings(std::move(shared));
}

// --- Confirmation -----------------------------------------------------------------------

CSettingsPageConfirmation::CSettingsPageConfirmation(CFTPProfile& profile, QWidget* parent)
    : CSettingsPage(profile, parent) {
    auto* layout = new QVBoxLayout(this);
    m_pDelete = AddCheckBox(QStringLiteral("&Delete Confirmation"), this, layout);
    m_pMove = AddCheckBox(QStringLiteral("&Move Confirmation"), this, layout);
    m_pCopy = AddCheckBox(QStringLiteral("&Copy Confirmation"), this, layout);
    m_pDisconnect = AddCheckBox(QStringLiteral("Disco&nnect Confirmation"), this, layout);
    m_pStop = AddCheckBox(QStringLiteral("&Stop Confirmation"), this, layout);
    layout->addStretch();
}

void CSettingsPageConfirmation::Load() {
    m_pDelete->setChecked(m_profile.m_bConfirmDelete);
    m_pMove->setChecked(m_profile.m_bConfirmMove);
    m_pCopy->setChecked(m_profile.m_bConfirmCopy);
    m_pDisconnect->setChecked(m_profile.m_bConfirmDisconnect);
    m_pStop->setChecked(m_profile.m_bConfirmStop);
}

void CSettingsPageConfirmation::Store() {
    m_profile.m_bConfirmDelete = m_pDelete->isChecked();
    m_profile.m_bConfirmMove = m_pMove->isChecked();
    m_profile.m_bConfirmCopy = m_pCopy->isChecked();
    m_profile.m_bConfirmDisconnect = m_pDisconnect->isChecked();
    m_profile.m_bConfirmStop = m_pStop->isChecked();
}

// --- Firewall ----------------------------------------------------------------------------

CSettingsPageFirewall::CSettingsPageFirewall(CFTPProfile& profile, QWidget* parent)
    : CSettingsPage(profile, parent) {
    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    layout->addLayout(form);
    m_pAddress = Edit(QStringLiteral("Proxy &Address : "), this, form);
    m_pPort = Edit(QStringLiteral("&Port : "), this, form);
    m_pUser = Edit(QStringLiteral("User &ID : "), this, form);
    m_pPassword = Edit(QStringLiteral("Pass&word : "), this, form);
    m_pPassword->setEchoMode(QLineEdit::Password);
    auto* group = new QGroupBox(QStringLiteral("Firewall Type"), this);
    auto* types = new QVBoxLayout(group);
    m_pTypes = new QButtonGroup(this);
    for (int type = 1; type <= 5; ++type) {
        auto* button = new QRadioButton(QString::fromUtf8(kTypeButtons[type - 1]), group);
        types->addWidget(button);
        m_pTypes->addButton(button, type);
    }
    layout->addWidget(group);
    m_pEnabled = AddCheckBox(QStringLiteral("&Enable Firewall Access"), this, layout);
    layout->addStretch();
}

void CSettingsPageFirewall::Load() {
    const FirewallOptions options = m_profile.GetFirewallOptions();
    m_pAddress->setText(QString::fromStdString(options.m_strProxyAddress));
    m_pPort->setText(options.m_nProxyPort == 0 ? QString() : QString::number(options.m_nProxyPort));
    m_pUser->setText(QString::fromStdString(options.m_strProxyUser));
    m_pPassword->setText(QString::fromStdString(options.m_strProxyPassword));
    // No button is set for a type outside 1 to 5.
    m_pTypes->setExclusive(false);
    for (QAbstractButton* button : m_pTypes->buttons()) {
        button->setChecked(m_pTypes->id(button) == options.m_wFirewallType);
    }
    m_pTypes->setExclusive(true);
    m_pEnabled->setChecked(options.m_bFirewallEnabled);
}

int CSettingsPageFirewall::Type() const {
    return m_pTypes->checkedId() > 0 ? m_pTypes->checkedId() : 0;
}

bool CSettingsPageFirewall::Check(QString& message) const {
    std::uint32_t port = 0;
    if (!ParsePort(m_pPort->text(), port)) {
        message = kNotAPositiveInteger;
        return false;
    }
    return true;
}

void CSettingsPageFirewall::Store() {
    FirewallOptions options = m_profile.GetFirewallOptions();
    options.m_strProxyAddress = Trimmed(m_pAddress);
    ParsePort(m_pPort->text(), options.m_nProxyPort);
    options.m_strProxyUser = Trimmed(m_pUser);
    options.m_strProxyPassword = Trimmed(m_pPassword);
    if (Type() != 0) {
        options.m_wFirewallType = static_cast<std::uint16_t>(Type());
    }
    options.m_bFirewallEnabled = m_pEnabled->isChecked();
    // Forgets the login remembered in this run when a proxy value or the
    // type changed (not for the enable box alone).
    m_profile.SetFirewallOptions(options);
}

// --- The sheet -----------------------------------------------------------------------------

CSettingsSheet::CSettingsSheet(CFTPProfile& profile, QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Quillbeck Settings"));
    auto* layout = new QVBoxLayout(this);
    m_pTabs = new QTabWidget(this);
    m_pGeneral = new CSettingsPageGeneral(profile, m_pTabs);
    m_pTemplate = new CSettingsPageTemplate(profile, m_pTabs);
    m_pConfirmation = new CSettingsPageConfirmation(profile, m_pTabs);
    m_pFirewall = new CSettingsPageFirewall(profile, m_pTabs);
    m_pTabs->addTab(m_pGeneral, QStringLiteral("General"));
    m_pTabs->addTab(m_pTemplate, QStringLiteral("Auto Mode Template"));
    m_pTabs->addTab(m_pConfirmation, QStringLiteral("Confirmation"));
    m_pTabs->addTab(m_pFirewall, QStringLiteral("Firewall"));
    layout->addWidget(m_pTabs);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
}

void CSettingsSheet::accept() {
    const CSettingsPage* pages[] = {m_pGeneral, m_pTemplate, m_pConfirmation, m_pFirewall};
    for (const CSettingsPage* page : pages) {
        QString message;
        if (page->WasShown() && !page->Check(message)) {
            m_pTabs->setCurrentWidget(const_cast<CSettingsPage*>(page));
            auto box = MakeMessageBox(this, message, MB_OK | MB_ICONWARNING);
            box->exec();
            return;
        }
    }
    for (CSettingsPage* page :
         {static_cast<CSettingsPage*>(m_pGeneral), static_cast<CSettingsPage*>(m_pTemplate),
          static_cast<CSettingsPage*>(m_pConfirmation), static_cast<CSettingsPage*>(m_pFirewall)}) {
        if (page->WasShown()) {
            page->Store();
        }
    }
    QDialog::accept();
}

// --- Login Proxy Server -----------------------------------------------------------------------

CLoginProxyDlg::CLoginProxyDlg(const ProxyLogin& login, QWidget* parent)
    : QDialog(parent), m_login(login) {
    setWindowTitle(QStringLiteral("Login Proxy Server"));
    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    layout->addLayout(form);
    m_pAddress = Edit(QStringLiteral("&Address : "), this, form);
    m_pPort = Edit(QStringLiteral("Por&t : "), this, form);
    m_pPort->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), m_pPort));
    m_pUser = Edit(QStringLiteral("&User ID : "), this, form);
    m_pPassword = Edit(QStringLiteral("&Password : "), this, form);
    m_pPassword->setEchoMode(QLineEdit::Password);
    m_pType = new QLabel(QString::fromUtf8(FirewallTypeText(login.m_wType)), this);
    form->addRow(new QLabel(QStringLiteral("Type : "), this), m_pType);
    m_pButtons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(m_pButtons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(m_pButtons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(m_pButtons);

    m_pAddress->setText(QString::fromStdString(login.m_strAddress));
    m_pPort->setText(QString::number(login.m_nPort));
    m_pUser->setText(QString::fromStdString(login.m_strUser));
    m_pPassword->setText(QString::fromStdString(login.m_strPassword));
    // The types that do not log on to the proxy take no user and password.
    const bool fixed = login.m_wType == FIREWALL_USER_ONLY || login.m_wType == FIREWALL_OPEN;
    m_pUser->setReadOnly(fixed);
    m_pPassword->setReadOnly(fixed);
    for (QLineEdit* edit : {m_pAddress, m_pUser, m_pPassword}) {
        connect(edit, &QLineEdit::textChanged, this, &CLoginProxyDlg::UpdateOk);
    }
    UpdateOk();
}

ProxyLogin CLoginProxyDlg::Typed() const {
    ProxyLogin typed = m_login;
    typed.m_strAddress = Trimmed(m_pAddress);
    ParsePort(m_pPort->text(), typed.m_nPort);
    typed.m_strUser = Trimmed(m_pUser);
    typed.m_strPassword = Trimmed(m_pPassword);
    return typed;
}

void CLoginProxyDlg::UpdateOk() {
    m_pButtons->button(QDialogButtonBox::Ok)->setEnabled(ProxyLoginAcceptable(Typed()));
}

void CLoginProxyDlg::accept() {
    std::uint32_t port = 0;
    if (!ParsePort(m_pPort->text(), port)) {
        auto box = MakeMessageBox(this, kNotAPositiveInteger, MB_OK | MB_ICONWARNING);
        box->exec();
        return;
    }
    QDialog::accept();
}

bool CQtLoginProxyDialog::AskProxyLogin(ProxyLogin& login) {
    if (login.m_wType == FIREWALL_PASV) {
        return true; // never shown: no proxy login at all
    }
    CLoginProxyDlg dialog(login, m_pParent);
    if (dialog.exec() != QDialog::Accepted) {
        return false;
    }
    login = dialog.Typed();
    return true;
}

} // namespace qb::ui
