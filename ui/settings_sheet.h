// The "Quillbeck Settings" sheet with its four pages, and the "Login Proxy
// Server" dialog. Each page copies the profile's values in the first time it
// is shown and writes them back only when the sheet closes with OK; a page
// never shown writes nothing.
#pragma once

#include "profile/profile.h"
#include "profile/proxy_login.h"

#include <QDialog>
#include <QWidget>

class QButtonGroup;
class QCheckBox;
class QDialogButtonBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QTabWidget;

namespace qb::ui {

// One page of the sheet.
class CSettingsPage : public QWidget {
    Q_OBJECT
public:
    CSettingsPage(CFTPProfile& profile, QWidget* parent) : QWidget(parent), m_profile(profile) {}
    bool WasShown() const { return m_bShown; }
    // Refuses values that cannot be stored, with the message to show; the
    // sheet then stays open on this page.
    virtual bool Check(QString& /*message*/) const { return true; }
    // Writes the page's values into the profile (only pages once shown).
    virtual void Store() = 0;

protected:
    virtual void Load() = 0;
    void showEvent(QShowEvent* event) override;
    CFTPProfile& m_profile;

private:
    bool m_bShown = false;
};

class CSettingsPageGeneral : public CSettingsPage {
    Q_OBJECT
public:
    CSettingsPageGeneral(CFTPProfile& profile, QWidget* parent);
    void Store() override;

    QLineEdit* m_pEMail;
    QCheckBox* m_pLogCommands;
    QCheckBox* m_pLogResponses;
    QCheckBox* m_pLogHostAddress;
    QCheckBox* m_pAutoExplore;

protected:
    void Load() override;
};

class CSettingsPageTemplate : public CSettingsPage {
    Q_OBJECT
public:
    CSettingsPageTemplate(CFTPProfile& profile, QWidget* parent);
    void Store() override;
    void Add();
    void Remove();

    QListWidget* m_pList;
    QLineEdit* m_pNew;

protected:
    void Load() override;
};

class CSettingsPageConfirmation : public CSettingsPage {
    Q_OBJECT
public:
    CSettingsPageConfirmation(CFTPProfile& profile, QWidget* parent);
    void Store() override;

    QCheckBox* m_pDelete;
    QCheckBox* m_pMove;
    QCheckBox* m_pCopy;
    QCheckBox* m_pDisconnect;
    QCheckBox* m_pStop;

protected:
    void Load() override;
};

class CSettingsPageFirewall : public CSettingsPage {
    Q_OBJECT
public:
    CSettingsPageFirewall(CFTPProfile& profile, QWidget* parent);
    bool Check(QString& message) const override;
    void Store() override;
    // The type whose radio button is set (0: none).
    int Type() const;

    QLineEdit* m_pAddress;
    QLineEdit* m_pPort;
    QLineEdit* m_pUser;
    QLineEdit* m_pPassword;
    QButtonGroup* m_pTypes;
    QCheckBox* m_pEnabled;

protected:
    void Load() override;
};

class CSettingsSheet : public QDialog {
    Q_OBJECT
public:
    CSettingsSheet(CFTPProfile& profile, QWidget* parent);

    QTabWidget* Tabs() const { return m_pTabs; }
    CSettingsPageGeneral* General() const { return m_pGeneral; }
    CSettingsPageTemplate* Template() const { return m_pTemplate; }
    CSettingsPageConfirmation* Confirmation() const { return m_pConfirmation; }
    CSettingsPageFirewall* Firewall() const { return m_pFirewall; }

    // OK: every page once shown is checked, then stored. A refused value
    // shows its message and keeps the sheet open on its page.
    void accept() override;

private:
    QTabWidget* m_pTabs;
    CSettingsPageGeneral* m_pGeneral;
    CSettingsPageTemplate* m_pTemplate;
    CSettingsPageConfirmation* m_pConfirmation;
    CSettingsPageFirewall* m_pFirewall;
};

// "Login Proxy Server": the proxy login for one connection when the settings
// do not hold a complete one.
class CLoginProxyDlg : public QDialog {
    Q_OBJECT
public:
    // `login` gives the proxy settings and the firewall type.
    CLoginProxyDlg(const ProxyLogin& login, QWidget* parent);
    // The typed values (address, user and password trimmed of spaces).
    ProxyLogin Typed() const;
    void accept() override;

    QLineEdit* m_pAddress;
    QLineEdit* m_pPort;
    QLineEdit* m_pUser;
    QLineEdit* m_pPassword;
    QLabel* m_pType;
    QDialogButtonBox* m_pButtons;

private:
    void UpdateOk();
    ProxyLogin m_login;
};

// The dialog as the profile asks for it (MakeSiteConnectRequest).
class CQtLoginProxyDialog : public ILoginProxyDialog {
public:
    explicit CQtLoginProxyDialog(QWidget* parent) : m_pParent(parent) {}
    bool AskProxyLogin(ProxyLogin& login) override;

private:
    QWidget* m_pParent;
};

} // namespace qb::ui
