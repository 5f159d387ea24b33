// Go To with its history, and the Remote Folder and Remote File dialogs.
#include "item_dialogs.h"
#include "profile/profile.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <memory>

using namespace qb;
using namespace qb::ui;

namespace {

class RecordedQuestions : public IQuestions {
public:
    int MessageBox(const std::string& text, unsigned) override {
        texts.push_back(text);
        return IDOK;
    }
    std::vector<std::string> texts;
};

QStringList Listed(const CFTPGotoDlg& dialog) {
    QStringList items;
    for (int i = 0; i < dialog.m_pPath->count(); ++i) {
        items << dialog.m_pPath->itemText(i);
    }
    return items;
}

} // namespace

class TestItemDialogs : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void goToShowsTheHistoryNewestFirst();
    void goToHistoryKeepsOneEntryPerPathAndTwenty();
    void newRemoteFolder_data();
    void newRemoteFolder();
    void remoteFolderAndFileProperties();
};

void TestItemDialogs::goToShowsTheHistoryNewestFirst() {
    {
        CFTPGotoDlg empty({}, nullptr);
        QCOMPARE(empty.m_pPath->count(), 0);
        QCOMPARE(empty.Text(), QString());
    }
    CFTPGotoDlg dialog({"/old", "/middle", "/new"}, nullptr);
    QCOMPARE(Listed(dialog), (QStringList{"/new", "/middle", "/old"}));
    QCOMPARE(dialog.m_pPath->currentText(), QStringLiteral("/new"));
    dialog.m_pPath->setEditText(QStringLiteral("   Folder/Site/pub  "));
    QCOMPARE(dialog.Text(), QStringLiteral("Folder/Site/pub"));
}

void TestItemDialogs::goToHistoryKeepsOneEntryPerPathAndTwenty() {
    CFTPProfile profile(std::string(), false);
    profile.SetDefaults();
    for (const char* path : {"/a", "/b", "/a"}) {
        profile.AddGotoHistory(path);
    }
    CFTPGotoDlg again(profile.m_arrGotoHistory, nullptr);
    QCOMPARE(Listed(again), (QStringList{"/a", "/b"}));
    for (int i = 0; i < 21; ++i) {
        profile.AddGotoHistory("/p" + std::to_string(i));
    }
    CFTPGotoDlg full(profile.m_arrGotoHistory, nullptr);
    QCOMPARE(full.m_pPath->count(), 20);
    QCOMPARE(full.m_pPath->itemText(0), QStringLiteral("/p20"));
    QCOMPARE(full.m_pPath->itemText(19), QStringLiteral("/p1"));
}

void TestItemDialogs::newRemoteFolder_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("okEnabled");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<QString>("message");
    QTest::newRow("a new name") << "  fresh  " << true << true << "";
    // OK stays disabled; forced, it is still refused.
    QTest::newRow("spaces only") << "   " << false << false << "You must type a name!";
    QTest::newRow("an existing file") << "readme.txt" << true << false
                                      << "An item named \"readme.txt\" already exists in the "
                                         "same folder!";
    QTest::newRow("an existing folder") << "pub" << true << false
                                        << "An item named \"pub\" already exists in the same "
                                           "folder!";
    QTest::newRow("other case is another name") << "PUB" << true << true << "";
    QTest::newRow("a slash") << "a/b" << true << false
                             << "Name of RemoteFolder/RemoteFile cannot contain\n/";
}

void TestItemDialogs::newRemoteFolder() {
    QFETCH(QString, typed);
    QFETCH(bool, okEnabled);
    QFETCH(bool, accepted);
    QFETCH(QString, message);
    RecordedQuestions questions;
    std::unique_ptr<CFTPRemoteFolderDlg> dialog(CFTPRemoteFolderDlg::ForNewFolder(
        QStringLiteral("ftp.example.org : pub"), {"pub", "readme.txt"}, &questions, nullptr));
    QCOMPARE(dialog->windowTitle(), QStringLiteral("Remote Folder"));
    QPushButton* ok = dialog->m_pButtons->button(QDialogButtonBox::Ok);
    QVERIFY(!ok->isEnabled());
    QVERIFY(dialog->m_pLocation->isReadOnly());
    dialog->m_pName->setText(typed);
    QCOMPARE(ok->isEnabled(), okEnabled);
    dialog->accept();
    QCOMPARE(dialog->result() == QDialog::Accepted, accepted);
    if (accepted) {
        QCOMPARE(QString::fromStdString(dialog->Name()), typed.trimmed());
    }
    QCOMPARE(questions.texts.empty() ? QString() : QString::fromStdString(questions.texts.back()),
             message);
}

void TestItemDialogs::remoteFolderAndFileProperties() {
    std::unique_ptr<CFTPRemoteFolderDlg> folder(CFTPRemoteFolderDlg::ForProperties(
        QStringLiteral("h : pub"), QStringLiteral("src"), QStringLiteral("Need Refresh"),
        QStringLiteral("Need Refresh"), nullptr));
    QVERIFY(folder->m_pName->isReadOnly());
    QCOMPARE(folder->m_pModified->text(), QStringLiteral("Need Refresh"));
    folder->accept();
    QCOMPARE(folder->result(), int(QDialog::Accepted));
    CFTPRemoteFileDlg file(QStringLiteral("h : pub"), QStringLiteral("a.txt"),
                           QStringLiteral("1/10/2024 12:00"), QStringLiteral("1,234"), nullptr);
    QCOMPARE(file.windowTitle(), QStringLiteral("Remote File"));
    const auto edits = file.findChildren<QLineEdit*>();
    QCOMPARE(edits.size(), 4);
    for (QLineEdit* edit : edits) {
        QVERIFY(edit->isReadOnly());
    }
}

QTEST_MAIN(TestItemDialogs)
#include "test_item_dialogs.moc"
