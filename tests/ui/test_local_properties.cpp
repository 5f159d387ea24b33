// The local drive, file and folder dialogs: their texts, the attribute the
// file system has (the owner's write bit), new folders, and the counting
// thread of a folder's properties.
#include "local_properties.h"
#include "platform/questions.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

using namespace qb;
using namespace qb::ui;

namespace {

class RecordedQuestions : public IQuestions {
public:
    int MessageBox(const std::string& text, unsigned) override {
        texts.push_back(text);
        return answer;
    }
    std::vector<std::string> texts;
    int answer = IDOK;
};

void WriteBytes(const std::string& path, std::size_t count) {
    std::ofstream out(path, std::ios::binary);
    const std::string block(4096, 'x');
    for (std::size_t done = 0; done < count;) {
        const std::size_t n = std::min(block.size(), count - done);
        out.write(block.data(), static_cast<std::streamsize>(n));
        done += n;
    }
}

mode_t Mode(const std::string& path) {
    struct stat st {};
    ::stat(path.c_str(), &st);
    return st.st_mode & 07777;
}

// Waits (bounded) for the counting to finish and its last refresh.
bool WaitCounted(CFTPLocalFolderDlg& dialog) {
    for (int i = 0; i < 500 && !dialog.CountingDone(); ++i) {
        QTest::qWait(10);
    }
    QTest::qWait(20);
    return dialog.CountingDone();
}

} // namespace

class TestLocalProperties : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void driveTexts_data();
    void driveTexts();
    void fileDialogShowsAndChangesTheWriteBitOnly();
    void aMissingFileOrFolderIsNotShown();
    void newFolder();
    void folderCountsExactlyWithoutFollowingLinks();
    void folderSizeText_data();
    void folderSizeText();
    void closingStopsTheCounting();
};

void TestLocalProperties::driveTexts_data() {
    QTest::addColumn<int>("kind");
    QTest::addColumn<bool>("ready");
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("capacity");
    QTest::newRow("fixed") << 5 << true << "Fixed Drive"
                           << "1,048,576 bytes   ( 1.00 MB )";
    QTest::newRow("network") << 8 << true << "Network Drive"
                             << "1,048,576 bytes   ( 1.00 MB )";
    QTest::newRow("RAM") << 2 << true << "RAM Drive"
                         << "1,048,576 bytes   ( 1.00 MB )";
    QTest::newRow("not ready CD") << 6 << false << "CDROM Drive"
                                  << "N/A";
    QTest::newRow("other") << 3 << true << "Local Drive"
                           << "1,048,576 bytes   ( 1.00 MB )";
}

void TestLocalProperties::driveTexts() {
    QFETCH(int, kind);
    QFETCH(bool, ready);
    QFETCH(QString, type);
    QFETCH(QString, capacity);
    LocalDriveInfo drive;
    drive.label = "DATA";
    drive.kind = kind;
    drive.ready = ready;
    drive.total = 1048576;
    drive.used = 5ull << 32; // beyond 32 bits
    drive.free = 0;
    CFTPLocalDriveDlg dialog(drive, nullptr);
    QCOMPARE(dialog.m_pType->text(), type);
    QCOMPARE(dialog.m_pCapacity->text(), capacity);
    if (ready) {
        QCOMPARE(dialog.m_pUsed->text(), QStringLiteral("21,474,836,480 bytes   ( 20480.00 MB )"));
    } else {
        QCOMPARE(dialog.m_pUsed->text(), QStringLiteral("N/A"));
        QCOMPARE(dialog.m_pFree->text(), QStringLiteral("N/A"));
    }
    QVERIFY(dialog.m_pLabel->isReadOnly());
    QCOMPARE(dialog.m_pLabel->text(), QStringLiteral("DATA"));
}

void TestLocalProperties::fileDialogShowsAndChangesTheWriteBitOnly() {
    QTemporaryDir dir;
    const std::string location = dir.path().toStdString();
    WriteBytes(location + "/.notes", 1234567);
    ::chmod((location + "/.notes").c_str(), 0640);
    RecordedQuestions questions;
    {
        CFTPLocalFileDlg dialog(location, ".notes", &questions, nullptr);
        QVERIFY(dialog.IsValid());
        QCOMPARE(dialog.m_pSize->text(), QStringLiteral("1,234,567"));
        QVERIFY(!dialog.m_pReadOnly->isChecked());
        QVERIFY(dialog.m_pHidden->isChecked());
        QVERIFY(!dialog.m_pHidden->isEnabled());
        QVERIFY(!dialog.m_pArchive->isChecked() && !dialog.m_pArchive->isEnabled());
        QVERIFY(!dialog.m_pSystem->isChecked() && !dialog.m_pSystem->isEnabled());
        dialog.accept(); // unchanged: nothing written
    }
    QCOMPARE(Mode(location + "/.notes"), mode_t(0640));
    {
        CFTPLocalFileDlg dialog(location, ".notes", &questions, nullptr);
        dialog.m_pReadOnly->setChecked(true);
        dialog.accept();
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
    }
    QCOMPARE(Mode(location + "/.notes"), mode_t(0440));
    {
        CFTPLocalFileDlg dialog(location, ".notes", &questions, nullptr);
        QVERIFY(dialog.m_pReadOnly->isChecked());
        dialog.m_pReadOnly->setChecked(false);
        dialog.accept();
    }
    QCOMPARE(Mode(location + "/.notes"), mode_t(0640));
    QVERIFY(questions.texts.empty());
}

void TestLocalProperties::aMissingFileOrFolderIsNotShown() {
    QTemporaryDir dir;
    const std::string location = dir.path().toStdString();
    ::mkdir((location + "/sub").c_str(), 0755);
    RecordedQuestions questions;
    CFTPLocalFileDlg missing(location, "nothing", &questions, nullptr);
    CFTPLocalFileDlg folder(location, "sub", &questions, nullptr);
    CFTPLocalFolderDlg noFolder(location, "nothing", &questions, nullptr);
    QVERIFY(!missing.IsValid() && !folder.IsValid() && !noFolder.IsValid());
    QCOMPARE(questions.texts,
             (std::vector<std::string>{"File not found!", "File not found!", "Folder not found!"}));
}

void TestLocalProperties::newFolder() {
    QTemporaryDir dir;
    const std::string location = dir.path().toStdString();
    RecordedQuestions questions;
    {
        CFTPLocalFolderDlg dialog(location, &questions, nullptr);
        QVERIFY(dialog.IsNewFolder());
        QPushButton* ok = dialog.m_pButtons->button(QDialogButtonBox::Ok);
        QVERIFY(!ok->isEnabled());
        dialog.m_pName->setText("   ");
        QVERIFY(!ok->isEnabled());
        dialog.m_pName->setText("bad:name");
        QVERIFY(ok->isEnabled());
        dialog.accept();
        QVERIFY(dialog.result() != QDialog::Accepted);
        QCOMPARE(questions.texts.back(),
                 std::string("Name of LocalFolder/LocalFile connot contain\n\\ / : * ? \" < > |"));
        dialog.m_pName->setText("  made  ");
        dialog.m_pReadOnly->setChecked(true);
        dialog.accept();
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(dialog.Name(), std::string("made"));
        QVERIFY(dialog.CreatedTime() > 0);
    }
    struct stat st {};
    QCOMPARE(::stat((location + "/made").c_str(), &st), 0);
    QVERIFY(S_ISDIR(st.st_mode));
    QCOMPARE(st.st_mode & S_IWUSR, mode_t(0));
    {
        // It exists now: Retry keeps the dialog open, Cancel closes it.
        CFTPLocalFolderDlg dialog(location, &questions, nullptr);
        dialog.m_pName->setText("made");
        questions.answer = IDRETRY;
        dialog.accept();
        QCOMPARE(questions.texts.back(), "Failed to create local folder\n" + location + "/made");
        QVERIFY(dialog.result() != QDialog::Accepted);
        questions.answer = IDCANCEL;
        dialog.accept();
        QCOMPARE(dialog.result(), int(QDialog::Rejected));
    }
    ::chmod((location + "/made").c_str(), 0755);
}

void TestLocalProperties::folderCountsExactlyWithoutFollowingLinks() {
    QTemporaryDir dir;
    const std::string top = dir.path().toStdString() + "/top";
    ::mkdir(top.c_str(), 0755);
    ::mkdir((top + "/a").c_str(), 0755);
    ::mkdir((top + "/a/b").c_str(), 0755);
    WriteBytes(top + "/one", 100);
    WriteBytes(top + "/a/two", 200);
    WriteBytes(top + "/a/b/three", 300);
    // A loop back to the top: counted as an entry, never entered.
    QCOMPARE(::symlink(top.c_str(), (top + "/a/b/loop").c_str()), 0);
    CFTPLocalFolderDlg dialog(dir.path().toStdString(), "top", nullptr, nullptr);
    QVERIFY(dialog.IsValid());
    QVERIFY(dialog.m_pName->isReadOnly());
    QVERIFY(WaitCounted(dialog));
    const std::string loop = top + "/a/b/loop";
    struct stat st {};
    ::lstat(loop.c_str(), &st);
    const auto total = 600 + static_cast<FileSize>(st.st_size);
    QCOMPARE(dialog.m_pSize->text(), QStringLiteral("%1 bytes").arg(total));
    QCOMPARE(dialog.m_pContains->text(), QStringLiteral("4 Files, 2 Folders"));
}

void TestLocalProperties::folderSizeText_data() {
    QTest::addColumn<int>("bytes");
    QTest::addColumn<QString>("text");
    QTest::newRow("one megabyte") << 1048576 << "1048576 bytes ( 1.00 MB )";
    QTest::newRow("one byte less") << 1048575 << "1048575 bytes";
}

void TestLocalProperties::folderSizeText() {
    QFETCH(int, bytes);
    QFETCH(QString, text);
    QTemporaryDir dir;
    ::mkdir((dir.path().toStdString() + "/f").c_str(), 0755);
    WriteBytes(dir.path().toStdString() + "/f/data", static_cast<std::size_t>(bytes));
    CFTPLocalFolderDlg dialog(dir.path().toStdString(), "f", nullptr, nullptr);
    QVERIFY(WaitCounted(dialog));
    QCOMPARE(dialog.m_pSize->text(), text);
}

void TestLocalProperties::closingStopsTheCounting() {
    QTemporaryDir dir;
    const std::string top = dir.path().toStdString() + "/wide";
    ::mkdir(top.c_str(), 0755);
    for (int i = 0; i < 400; ++i) {
        const std::string sub = top + "/d" + std::to_string(i);
        ::mkdir(sub.c_str(), 0755);
        for (int j = 0; j < 5; ++j) {
            ::mkdir((sub + "/e" + std::to_string(j)).c_str(), 0755);
        }
    }
    CFTPLocalFolderDlg dialog(dir.path().toStdString(), "wide", nullptr, nullptr);
    dialog.reject();
    QVERIFY2(dialog.CountingDone(), "the thread has ended when the dialog has closed");
}

QTEST_MAIN(TestLocalProperties)
#include "test_local_properties.moc"
