// The settings sheet and the Login Proxy Server dialog: each page's round
// trip through the profile, the port refusal, and when a proxy login is
// asked for and remembered.
#include "profile/profile.h"
#include "settings_sheet.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QTimer>

using namespace qb;
using namespace qb::ui;

namespace {

// A profile in memory with the defaults, never written.
std::unique_ptr<CFTPProfile> MakeProfile() {
    auto profile = std::make_unique<CFTPProfile>(std::string(), false);
    profile->SetDefaults();
    return profile;
}

// Shows each page once, as a user flipping through the tabs does.
void VisitAll(CSettingsSheet& sheet) {
    for (int i = 0; i < sheet.Tabs()->count(); ++i) {
        sheet.Tabs()->setCurrentIndex(i);
        QApplication::processEvents();
    }
}

} // namespace

class TestSettings : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void pagesInOrderAndFirstDisplayShowsTheProfile();
    void okWritesShownPagesOnlyAndCancelNothing();
    void extensionsAreCapitalsSortedAndUnique();
    void aPortThatIsNotAWholeNumberKeepsTheSheetOpen();
    void changingAProxyValueForgetsTheRememberedLogin_data();
    void changingAProxyValueForgetsTheRememberedLogin();
    void proxyDialogFieldsAndOk_data();
    void proxyDialogFieldsAndOk();
    void proxyDialogIsShownOnlyWhenTheSettingsFallShort_data();
    void proxyDialogIsShownOnlyWhenTheSettingsFallShort();
};

void TestSettings::pagesInOrderAndFirstDisplayShowsTheProfile() {
    auto profile = MakeProfile();
    SharedSettings shared = profile->GetSharedSettings();
    shared.m_strEMail = "me@example.org";
    shared.m_bLogHostAddress = false;
    profile->SetSharedSettings(shared);
    profile->m_bConfirmStop = true;
    FirewallOptions firewall = profile->GetFirewallOptions();
    firewall.m_nProxyPort = 0;
    firewall.m_wFirewallType = 9; // no button for it
    profile->SetFirewallOptions(firewall);

    CSettingsSheet sheet(*profile, nullptr);
    QCOMPARE(sheet.windowTitle(), QStringLiteral("Quillbeck Settings"));
    const QStringList titles = {"General", "Auto Mode Template", "Confirmation", "Firewall"};
    QCOMPARE(sheet.Tabs()->count(), 4);
    for (int i = 0; i < 4; ++i) {
        QCOMPARE(sheet.Tabs()->tabText(i), titles[i]);
    }
    sheet.show();
    VisitAll(sheet);
    QCOMPARE(sheet.General()->m_pEMail->text(), QStringLiteral("me@example.org"));
    QVERIFY(!sheet.General()->m_pLogHostAddress->isChecked());
    QVERIFY(sheet.Confirmation()->m_pStop->isChecked());
    QCOMPARE(sheet.Template()->m_pList->count(), 9);
    QCOMPARE(sheet.Firewall()->m_pPort->text(), QString()); // a port of 0 shows empty
    QCOMPARE(sheet.Firewall()->Type(), 0);                  // no button for a type outside 1 to 5
}

void TestSettings::okWritesShownPagesOnlyAndCancelNothing() {
    auto profile = MakeProfile();
    const SharedSettings before = profile->GetSharedSettings();
    {
        CSettingsSheet sheet(*profile, nullptr);
        sheet.show();
        VisitAll(sheet);
        sheet.General()->m_pEMail->setText("changed@example.org");
        sheet.Confirmation()->m_pDelete->setChecked(false);
        sheet.reject();
    }
    QCOMPARE(profile->GetSharedSettings(), before);
    QVERIFY(profile->m_bConfirmDelete);
    {
        // Only the Confirmation page is shown: the General page writes nothing
        // even though its controls hold other values.
        CSettingsSheet sheet(*profile, nullptr);
        sheet.Tabs()->setCurrentIndex(2);
        sheet.show();
        QApplication::processEvents();
        QVERIFY(!sheet.General()->WasShown());
        sheet.General()->m_pEMail->setText("never@example.org");
        sheet.Confirmation()->m_pDelete->setChecked(false);
        sheet.Confirmation()->m_pCopy->setChecked(true);
        sheet.accept();
        QCOMPARE(sheet.result(), int(QDialog::Accepted));
    }
    QCOMPARE(profile->GetSharedSettings().m_strEMail, before.m_strEMail);
    QVERIFY(!profile->m_bConfirmDelete);
    QVERIFY(profile->m_bConfirmCopy);
    {
        CSettingsSheet sheet(*profile, nullptr);
        sheet.show();
        VisitAll(sheet);
        sheet.General()->m_pEMail->setText("new@example.org");
        sheet.General()->m_pAutoExplore->setChecked(true);
        sheet.accept();
    }
    QCOMPARE(profile->GetSharedSettings().m_strEMail, std::string("new@example.org"));
    QVERIFY(profile->m_bAutoExplore);
}

void TestSettings::extensionsAreCapitalsSortedAndUnique() {
    auto profile = MakeProfile();
    CSettingsSheet sheet(*profile, nullptr);
    sheet.Tabs()->setCurrentIndex(1);
    sheet.show();
    QApplication::processEvents();
    CSettingsPageTemplate& page = *sheet.Template();
    QTest::keyClicks(page.m_pNew, "md");
    QCOMPARE(page.m_pNew->text(), QStringLiteral("MD")); // typed letters become capitals
    page.Add();
    QCOMPARE(page.m_pNew->text(), QString());
    page.m_pNew->setText("  txt ");
    page.Add(); // "TXT" is listed already, in any case
    page.m_pNew->setText("   ");
    page.Add();
    QCOMPARE(page.m_pList->count(), 10);
    QCOMPARE(page.m_pList->findItems("MD", Qt::MatchExactly).size(), 1);
    QCOMPARE(page.m_pList->item(0)->text(), QStringLiteral("BAT"));
    for (const char* gone : {"C", "H"}) {
        page.m_pList->findItems(gone, Qt::MatchExactly).front()->setSelected(true);
    }
    page.Remove();
    QCOMPARE(page.m_pList->count(), 8);
    sheet.accept();
    const auto extensions = profile->GetSharedSettings().m_arrTextExtensions;
    QCOMPARE(extensions.size(), std::size_t(8));
    QVERIFY(std::is_sorted(extensions.begin(), extensions.end()));
    QCOMPARE(profile->GetTransferType("notes.md"), 'I'); // binary mode is still the mode
    profile->SetTransferMode(CFTPProfile::MODE_AUTO);
    QCOMPARE(profile->GetTransferType("notes.md"), 'A');
    QCOMPARE(profile->GetTransferType("main.c"), 'I');
}

void TestSettings::aPortThatIsNotAWholeNumberKeepsTheSheetOpen() {
    auto profile = MakeProfile();
    for (const char* typed : {"21x", "", "-1"}) {
        CSettingsSheet sheet(*profile, nullptr);
        sheet.show();
        VisitAll(sheet);
        sheet.Tabs()->setCurrentIndex(0);
        sheet.Firewall()->m_pPort->setText(typed);
        QString shown;
        QTimer::singleShot(0, [&shown] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                shown = box->text();
                box->accept();
            }
        });
        sheet.accept();
        QCOMPARE(shown, QStringLiteral("Please enter a positive integer."));
        QVERIFY(sheet.isVisible());
        QCOMPARE(sheet.Tabs()->currentWidget(), static_cast<QWidget*>(sheet.Firewall()));
    }
    QCOMPARE(profile->GetFirewallOptions().m_nProxyPort, std::uint32_t(21));
}

void TestSettings::changingAProxyValueForgetsTheRememberedLogin_data() {
    QTest::addColumn<int>("field");
    QTest::addColumn<bool>("forgotten");
    QTest::newRow("nothing changed") << 0 << false;
    QTest::newRow("address") << 1 << true;
    QTest::newRow("port") << 2 << true;
    QTest::newRow("user") << 3 << true;
    QTest::newRow("password") << 4 << true;
    QTest::newRow("type") << 5 << true;
    QTest::newRow("only the enable box") << 6 << false;
}

void TestSettings::changingAProxyValueForgetsTheRememberedLogin() {
    QFETCH(int, field);
    QFETCH(bool, forgotten);
    auto profile = MakeProfile();
    profile->RememberProxyLogin("proxy.test", 21, "pu", "pp");
    QVERIFY(profile->HasRememberedProxyLogin());
    CSettingsSheet sheet(*profile, nullptr);
    sheet.show();
    VisitAll(sheet);
    CSettingsPageFirewall& page = *sheet.Firewall();
    switch (field) {
    case 1:
        page.m_pAddress->setText("other.test");
        break;
    case 2:
        page.m_pPort->setText("2121");
        break;
    case 3:
        page.m_pUser->setText("someone");
        break;
    case 4:
        page.m_pPassword->setText("secret");
        break;
    case 5:
        page.m_pTypes->button(3)->setChecked(true);
        break;
    case 6:
        page.m_pEnabled->setChecked(!page.m_pEnabled->isChecked());
        break;
    default:
        break;
    }
    sheet.accept();
    QCOMPARE(profile->HasRememberedProxyLogin(), !forgotten);
}

void TestSettings::proxyDialogFieldsAndOk_data() {
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("typeText");
    QTest::addColumn<bool>("userReadOnly");
    QTest::addColumn<bool>("okWithAddressOnly");
    QTest::newRow("1") << 1 << "Logon Proxy Then SITE remote_host" << false << false;
    QTest::newRow("2") << 2 << "Logon Proxy Then USER remote_userid@remote_host" << false << false;
    QTest::newRow("3") << 3 << "USER remote_userid@remote_host" << true << true;
    QTest::newRow("4") << 4 << "OPEN remote_host" << true << true;
    QTest::newRow("other") << 7 << "Unknown" << false << true;
}

void TestSettings::proxyDialogFieldsAndOk() {
    QFETCH(int, type);
    QFETCH(QString, typeText);
    QFETCH(bool, userReadOnly);
    QFETCH(bool, okWithAddressOnly);
    ProxyLogin login;
    login.m_wType = static_cast<std::uint16_t>(type);
    CLoginProxyDlg dialog(login, nullptr);
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Login Proxy Server"));
    QCOMPARE(dialog.m_pType->text(), typeText);
    QCOMPARE(dialog.m_pUser->isReadOnly(), userReadOnly);
    QCOMPARE(dialog.m_pPassword->isReadOnly(), userReadOnly);
    QPushButton* ok = dialog.m_pButtons->button(QDialogButtonBox::Ok);
    QVERIFY2(!ok->isEnabled(), "no address");
    dialog.m_pAddress->setText("  proxy.test  ");
    QCOMPARE(ok->isEnabled(), okWithAddressOnly);
    if (!userReadOnly) {
        dialog.m_pUser->setText(" pu ");
        dialog.m_pPassword->setText(" pp ");
        QVERIFY(ok->isEnabled());
        const ProxyLogin typed = dialog.Typed();
        QCOMPARE(typed.m_strAddress, std::string("proxy.test"));
        QCOMPARE(typed.m_strUser, std::string("pu"));
        QCOMPARE(typed.m_strPassword, std::string("pp"));
    }
    QTest::keyClicks(dialog.m_pPort, "8a0");
    QCOMPARE(dialog.m_pPort->text(), QStringLiteral("2180")); // digits only
}

void TestSettings::proxyDialogIsShownOnlyWhenTheSettingsFallShort_data() {
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("user");
    QTest::addColumn<bool>("asked");
    QTest::newRow("3 with an address, no user") << 3 << "proxy.test"
                                                << "" << false;
    QTest::newRow("4 with an address, no user") << 4 << "proxy.test"
                                                << "" << false;
    QTest::newRow("1 with an address, no user") << 1 << "proxy.test"
                                                << "" << true;
    QTest::newRow("2 with address and user") << 2 << "proxy.test"
                                             << "pu" << false;
    QTest::newRow("3 without an address") << 3 << ""
                                          << "" << true;
    QTest::newRow("5 never") << 5 << ""
                             << "" << false;
}

void TestSettings::proxyDialogIsShownOnlyWhenTheSettingsFallShort() {
    QFETCH(int, type);
    QFETCH(QString, address);
    QFETCH(QString, user);
    QFETCH(bool, asked);
    auto profile = MakeProfile();
    FirewallOptions options = profile->GetFirewallOptions();
    options.m_wFirewallType = static_cast<std::uint16_t>(type);
    options.m_strProxyAddress = address.toStdString();
    options.m_strProxyUser = user.toStdString();
    options.m_strProxyPassword = user.isEmpty() ? "" : "pp";
    profile->SetFirewallOptions(options);
    bool shown = false;
    QTimer::singleShot(0, [&shown] {
        if (auto* dialog = qobject_cast<CLoginProxyDlg*>(QApplication::activeModalWidget())) {
            shown = true;
            dialog->reject();
        }
    });
    CQtLoginProxyDialog dialog(nullptr);
    ProxyLogin login;
    const bool got = profile->GetProxyLogin(login, &dialog);
    QCOMPARE(shown, asked);
    QCOMPARE(got, !asked); // Cancel abandons the connect
    if (!asked && got) {
        QCOMPARE(int(login.m_wType), type);
    }
    // A question never asked leaves its timer to run while `shown` exists.
    QApplication::processEvents();
}

QTEST_MAIN(TestSettings)
#include "test_settings.moc"
