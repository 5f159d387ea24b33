// The window's parts on their own: status bar texts and redraw spacing,
// the log's line cap, colours and saving, the dialogs' texts and buttons,
// and the icons' fallback.
#include "about_dialog.h"
#include "dialogs.h"
#include "icons.h"
#include "local_dialogs.h"
#include "localfs/lfs_data.h"
#include "log_view.h"
#include "platform/questions.h"
#include "status_bar.h"
#include "ui_support.h"

#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBrowser>
#include <map>
#include <unistd.h>

using namespace qb;
using namespace qb::ui;

class TestWidgets : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void statusTexts_data();
    void statusTexts();
    void statusRedrawsAreSpaced();
    void statusTwoLanesSplitTheBar();
    void logKeepsNewestLinesInBatches();
    void logBatchLongerThanTheCap();
    void logColours_data();
    void logColours();
    void logSavesWhatIsKept();
    void logSaveFailures_data();
    void logSaveFailures();
    void logFirstLineAndAutoScroll();
    void logFloodArrivesInSlices();
    void defaultLogName_data();
    void defaultLogName();
    void messageBoxStyles_data();
    void messageBoxStyles();
    void exitAndStopDialogs();
    void overwriteDialog();
    void moveCopyAndReplaceConfirmations();
    void certificateBox();
    void aboutSelectsLicence();
    void iconsFallBack();
};

// ---- Status bar ----------------------------------------------------------------

void TestWidgets::statusTexts_data() {
    QTest::addColumn<QString>("label");
    QTest::addColumn<QString>("step");
    QTest::addColumn<qint64>("bytes");
    QTest::addColumn<int>("percent");
    QTest::addColumn<QString>("expected");
    QTest::newRow("9998 bytes") << "h"
                                << "Receiving" << qint64(9998) << -1
                                << "h : Receiving (9998 Bytes)";
    QTest::newRow("9999 bytes") << "h"
                                << "Receiving" << qint64(9999) << -1 << "h : Receiving (10 KBytes)";
    QTest::newRow("0 bytes") << "h"
                             << "Receiving" << qint64(0) << -1 << "h : Receiving";
    QTest::newRow("1 byte") << "h"
                            << "Sending" << qint64(1) << 50 << "h : Sending (1 Bytes) (50%)";
    QTest::newRow("percent 0") << "h"
                               << "Sending" << qint64(0) << 0 << "h : Sending (1%)";
    QTest::newRow("percent 150") << "h"
                                 << "Sending" << qint64(0) << 150 << "h : Sending (100%)";
    QTest::newRow("percent -1") << "h"
                                << "Sending" << qint64(0) << -1 << "h : Sending";
    QTest::newRow("standby") << "ftp.example.org"
                             << "" << qint64(0) << -1 << "ftp.example.org : standby";
    QTest::newRow("over 4 GiB") << "h"
                                << "Receiving" << qint64(5) * 1024 * 1024 * 1024 << 99
                                << "h : Receiving (5242881 KBytes) (99%)";
}

void TestWidgets::statusTexts() {
    QFETCH(QString, label);
    QFETCH(QString, step);
    QFETCH(qint64, bytes);
    QFETCH(int, percent);
    QFETCH(QString, expected);
    CStatusLanes lanes;
    CFTPStatusBar bar(lanes);
    QCOMPARE(bar.PaneText(0), QStringLiteral("Ready"));
    lanes.BeginOperation(label.toStdString(), "");
    lanes.SetStepText(1, step.toStdString(), true);
    lanes.SetBytes(1, static_cast<FileSize>(bytes), true);
    lanes.SetPercent(1, percent, true);
    bar.RedrawNow();
    QCOMPARE(bar.PaneText(0), expected);
    QVERIFY(!bar.IsPaneShown(1));
    lanes.SetCancelling();
    bar.RedrawNow();
    QCOMPARE(bar.PaneText(0), label + " : Cancelling...");
    lanes.EndOperation();
    bar.RedrawNow();
    QCOMPARE(bar.PaneText(0), QStringLiteral("Ready"));
}

void TestWidgets::statusRedrawsAreSpaced() {
    CStatusLanes lanes;
    CFTPStatusBar bar(lanes);
    // Past the interval of the first drawing.
    QTest::qWait(CFTPStatusBar::kMinRedrawIntervalMs + 10);
    const int before = bar.RedrawCount();
    lanes.BeginOperation("h", "");
    // A burst of changes within one interval: one redraw at once, one more
    // when the interval is over, none in between.
    bar.OnStatusChanged();
    QCOMPARE(bar.RedrawCount(), before + 1);
    for (int i = 0; i < 1000; ++i) {
        lanes.SetBytes(1, static_cast<FileSize>(i + 1), true);
        bar.OnStatusChanged();
    }
    QCOMPARE(bar.RedrawCount(), before + 1);
    QTRY_COMPARE_WITH_TIMEOUT(bar.RedrawCount(), before + 2, 2000);
    QCOMPARE(bar.PaneText(0), QStringLiteral("h : standby (1000 Bytes)"));
}

void TestWidgets::statusTwoLanesSplitTheBar() {
    CStatusLanes lanes;
    CFTPStatusBar bar(lanes);
    bar.resize(600, 24);
    bar.show();
    lanes.BeginOperation("src.example", "dst.example");
    lanes.SetStepText(2, "Sending", true);
    bar.RedrawNow();
    QCOMPARE(bar.PaneText(0), QStringLiteral("src.example : standby"));
    QCOMPARE(bar.PaneText(1), QStringLiteral("dst.example : Sending"));
    QVERIFY(bar.IsPaneShown(1));
    lanes.EndOperation();
    bar.RedrawNow();
    QVERIFY(!bar.IsPaneShown(1));
}

// ---- Log -----------------------------------------------------------------------

namespace {

std::vector<LogLine> Lines(int first, int count) {
    std::vector<LogLine> lines;
    for (int i = first; i < first + count; ++i) {
        lines.push_back(LogLine{static_cast<LogLineClass>(i % 3), "line " + std::to_string(i)});
    }
    return lines;
}

} // namespace

void TestWidgets::logKeepsNewestLinesInBatches() {
    CFTPLogModel model(nullptr, 100, 10);
    int removals = 0;
    connect(&model, &QAbstractItemModel::rowsRemoved, &model, [&] { ++removals; });
    for (int i = 0; i < 25; ++i) {
        model.Append(Lines(i * 10, 10));
        QVERIFY(model.rowCount() <= 100);
    }
    // 250 lines through a log of 100: the newest are kept, in order, and
    // the oldest went in a few batches, not one by one.
    QCOMPARE(model.Text(model.rowCount() - 1), QStringLiteral("line 249"));
    const int first = 250 - model.rowCount();
    QCOMPARE(model.Text(0), QStringLiteral("line %1").arg(first));
    QCOMPARE(model.LineClass(0), first % 3);
    QVERIFY(removals > 0 && removals <= 15);
    QVERIFY(model.rowCount() >= 90);
}

void TestWidgets::logBatchLongerThanTheCap() {
    CFTPLogModel model(nullptr, 100, 10);
    model.Append(Lines(0, 5));
    model.Append(Lines(5, 1000));
    QCOMPARE(model.rowCount(), 100);
    QCOMPARE(model.Text(0), QStringLiteral("line 905"));
    QCOMPARE(model.Text(99), QStringLiteral("line 1004"));
}

void TestWidgets::logColours_data() {
    QTest::addColumn<int>("lineClass");
    QTest::addColumn<QColor>("background");
    QTest::addColumn<QColor>("text");
    QTest::addColumn<QColor>("expected"); // invalid: any readable colour
    const QColor white(255, 255, 255), black(0, 0, 0), dark(0x2b, 0x2b, 0x2b),
        light(0xee, 0xee, 0xee);
    QTest::newRow("command on white") << 0 << white << black << QColor(255, 0, 0);
    QTest::newRow("reply on white") << 1 << white << black << QColor(0, 0, 255);
    QTest::newRow("note on white") << 2 << white << black << QColor(0, 0, 0);
    QTest::newRow("note on black") << 2 << black << white << white;
    QTest::newRow("reply on blue") << 1 << QColor(0, 0, 255) << white << white;
    QTest::newRow("command on red") << 0 << QColor(255, 0, 0) << black << black;
    QTest::newRow("note on dark") << 2 << dark << light << light;
    QTest::newRow("reply on dark") << 1 << dark << light << QColor();
    QTest::newRow("command on dark") << 0 << dark << light << QColor();
}

void TestWidgets::logColours() {
    QFETCH(int, lineClass);
    QFETCH(QColor, background);
    QFETCH(QColor, text);
    QFETCH(QColor, expected);
    const QColor colour = CFTPLogModel::ClassColourFor(lineClass, background, text);
    if (expected.isValid()) {
        QCOMPARE(colour.rgb(), expected.rgb());
    }
    QVERIFY2(CFTPLogModel::Contrast(colour, background) >= 3.0,
             qPrintable(colour.name() + " on " + background.name()));
    if (lineClass != LOG_NOTE && expected.isValid() && expected != text) {
        QVERIFY(colour != text);
    }
}

void TestWidgets::logSavesWhatIsKept() {
    QTemporaryDir dir;
    CFTPLogModel model(nullptr, 100, 10);
    model.Append(Lines(0, 150));
    model.Append({LogLine{LOG_NOTE, "Grüße, naïve"}});
    const QString path = dir.filePath("log.txt");
    QVERIFY(model.SaveTo(path));
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = file.readAll().split('\n');
    QCOMPARE(lines.size(), model.rowCount() + 1); // the last line end too
    QCOMPARE(QString::fromUtf8(lines.first()), model.Text(0));
    QCOMPARE(QString::fromUtf8(lines.at(lines.size() - 2)), QStringLiteral("Grüße, naïve"));
    QVERIFY(lines.last().isEmpty());
}

void TestWidgets::logSaveFailures_data() {
    QTest::addColumn<QString>("kind");
    QTest::newRow("folder is a file") << "notdir";
    QTest::newRow("missing folder") << "missing";
    QTest::newRow("write-protected folder") << "readonly";
}

void TestWidgets::logSaveFailures() {
    QFETCH(QString, kind);
    QTemporaryDir dir;
    QString path;
    if (kind == "notdir") {
        QFile plain(dir.filePath("plain"));
        QVERIFY(plain.open(QIODevice::WriteOnly));
        path = dir.filePath("plain/log.txt");
    } else if (kind == "missing") {
        path = dir.filePath("no/such/folder/log.txt");
    } else {
        if (::geteuid() == 0) {
            QSKIP("root writes into write-protected folders");
        }
        QVERIFY(QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::ExeOwner));
        path = dir.filePath("log.txt");
    }
    CFTPLogModel model;
    model.Append(Lines(0, 3));
    QVERIFY(!model.SaveTo(path));
    QVERIFY(!QFile::exists(path));
    QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

void TestWidgets::logFirstLineAndAutoScroll() {
    CFTPLogView view;
    view.resize(400, 120);
    view.show();
    view.Start();
    QVERIFY(QRegularExpression("^=== FTP Activity Log Started At \\d\\d:\\d\\d:\\d\\d On "
                               "\\d{4}-\\d\\d-\\d\\d ===$")
                .match(view.Model().Text(0))
                .hasMatch());
    QCOMPARE(view.Model().LineClass(0), int(LOG_NOTE));
    view.Append(Lines(0, 500));
    QCoreApplication::processEvents();
    const QModelIndex last = view.model()->index(view.model()->rowCount() - 1, 0);
    QVERIFY(view.viewport()->rect().intersects(view.visualRect(last)));
    view.SelectLastLine();
    QCOMPARE(view.currentIndex().row(), last.row());
}

void TestWidgets::logFloodArrivesInSlices() {
    CFTPLogView view;
    view.resize(400, 120);
    view.show();
    const int total = CFTPLogView::kSliceLines * 3 + 5;
    view.Append(Lines(0, total));
    // One slice at once, the rest in later turns, in order.
    QCOMPARE(view.Model().rowCount(), CFTPLogView::kSliceLines);
    QCOMPARE(view.PendingLines(), std::size_t(total - CFTPLogView::kSliceLines));
    view.Append(Lines(total, 1));
    QTRY_COMPARE_WITH_TIMEOUT(view.PendingLines(), std::size_t(0), 5000);
    QCOMPARE(view.Model().rowCount(), total + 1);
    for (int row : {0, CFTPLogView::kSliceLines, total}) {
        QCOMPARE(view.Model().Text(row), QStringLiteral("line %1").arg(row));
    }
    // Clearing drops what still waits too.
    view.Append(Lines(0, CFTPLogView::kSliceLines + 10));
    view.Clear();
    QCOMPARE(view.PendingLines(), std::size_t(0));
    QCoreApplication::processEvents();
    QCOMPARE(view.Model().rowCount(), 0);
}

void TestWidgets::defaultLogName_data() {
    QTest::addColumn<QDateTime>("when");
    QTest::addColumn<QString>("expected");
    QTest::newRow("5 March 14:07")
        << QDateTime(QDate(2026, 3, 5), QTime(14, 7, 59)) << "03051407.txt";
    QTest::newRow("31 December 23:59")
        << QDateTime(QDate(2025, 12, 31), QTime(23, 59)) << "12312359.txt";
    QTest::newRow("1 January midnight")
        << QDateTime(QDate(2026, 1, 1), QTime(0, 0)) << "01010000.txt";
}

void TestWidgets::defaultLogName() {
    QFETCH(QDateTime, when);
    QFETCH(QString, expected);
    QCOMPARE(DefaultLogFileName(when), expected);
}

// ---- Dialogs -------------------------------------------------------------------

void TestWidgets::messageBoxStyles_data() {
    QTest::addColumn<unsigned>("style");
    QTest::addColumn<int>("buttons");
    QTest::addColumn<int>("defaultButton");
    QTest::addColumn<int>("icon");
    QTest::addColumn<int>("closedAnswer");
    using B = QMessageBox;
    QTest::newRow("ok error") << unsigned(MB_OK | MB_ICONERROR) << int(B::Ok) << int(B::Ok)
                              << int(B::Critical) << int(IDOK);
    QTest::newRow("ok cancel") << unsigned(MB_OKCANCEL) << int(B::Ok | B::Cancel) << int(B::Ok)
                               << int(B::NoIcon) << int(IDCANCEL);
    QTest::newRow("yes no, no default")
        << unsigned(MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) << int(B::Yes | B::No) << int(B::No)
        << int(B::Question) << int(IDNO);
    QTest::newRow("yes no cancel")
        << unsigned(MB_YESNOCANCEL | MB_ICONWARNING) << int(B::Yes | B::No | B::Cancel)
        << int(B::Yes) << int(B::Warning) << int(IDCANCEL);
    QTest::newRow("retry cancel") << unsigned(MB_RETRYCANCEL | MB_ICONINFORMATION)
                                  << int(B::Retry | B::Cancel) << int(B::Retry)
                                  << int(B::Information) << int(IDCANCEL);
}

void TestWidgets::messageBoxStyles() {
    QFETCH(unsigned, style);
    QFETCH(int, buttons);
    QFETCH(int, defaultButton);
    QFETCH(int, icon);
    QFETCH(int, closedAnswer);
    auto box = MakeMessageBox(nullptr, "text", style);
    QCOMPARE(box->windowTitle(), QStringLiteral("Quillbeck"));
    QCOMPARE(int(box->standardButtons()), buttons);
    QCOMPARE(int(box->standardButton(box->defaultButton())), defaultButton);
    QCOMPARE(int(box->icon()), icon);
    QCOMPARE(MessageBoxAnswer(*box, style), closedAnswer);
    // Clicking the default button answers with it.
    box->show();
    box->defaultButton()->click();
    const int answer = MessageBoxAnswer(*box, style);
    const std::map<int, int> expected = {{QMessageBox::Ok, IDOK},
                                         {QMessageBox::Yes, IDYES},
                                         {QMessageBox::No, IDNO},
                                         {QMessageBox::Retry, IDRETRY},
                                         {QMessageBox::Cancel, IDCANCEL}};
    QCOMPARE(answer, expected.at(defaultButton));
}

void TestWidgets::exitAndStopDialogs() {
    struct Case {
        std::unique_ptr<QMessageBox> box;
        QString title;
        QString text;
    };
    Case cases[] = {
        {MakeExitDialog(nullptr), "Exit Confirmation",
         "\nThere is job in progress.\n\nAre you sure you want to exit Quillbeck?"},
        {MakeStopByDisconnectDialog(nullptr), "Quillbeck",
         "Stop current action by disconnect from server?"},
    };
    for (Case& c : cases) {
        QCOMPARE(c.box->windowTitle(), c.title);
        QCOMPARE(c.box->text(), c.text);
        const QList<QAbstractButton*> buttons = c.box->buttons();
        QCOMPARE(buttons.size(), 2);
        QCOMPARE(c.box->defaultButton()->text(), QStringLiteral("&No"));
        // Escape and closing mean No.
        QVERIFY(!ClickedYes(*c.box));
        for (QAbstractButton* button : buttons) {
            if (button->text() == "&Yes") {
                c.box->show();
                button->click();
            }
        }
        QVERIFY(ClickedYes(*c.box));
    }
}

void TestWidgets::moveCopyAndReplaceConfirmations() {
    // Confirm Move / Confirm Copy: the prompt, the items and the folder on
    // read-only lines, and "&Yes" as the answer that goes ahead.
    for (bool move : {true, false}) {
        CMoveConfirmationDlg dialog(nullptr, "3 items in /data", "Folder/Site/pub", move);
        QCOMPARE(dialog.windowTitle(), move ? QString("Confirm Move") : QString("Confirm Copy"));
        QStringList labels;
        for (QLabel* label : dialog.findChildren<QLabel*>()) {
            labels << label->text();
        }
        QCOMPARE(labels, (QStringList{move ? "Are you sure you want to move"
                                           : "Are you sure you want to copy",
                                      "To Folder"}));
        auto* items = dialog.findChild<QLineEdit*>("items");
        auto* folder = dialog.findChild<QLineEdit*>("folder");
        QVERIFY(items != nullptr && folder != nullptr);
        QCOMPARE(items->text(), QString("3 items in /data"));
        QCOMPARE(folder->text(), QString("Folder/Site/pub"));
        QVERIFY(items->isReadOnly() && folder->isReadOnly());
        QStringList buttons;
        for (QPushButton* button : dialog.findChildren<QPushButton*>()) {
            buttons << button->text();
        }
        QCOMPARE(buttons, (QStringList{"&Yes", "&No"}));
        dialog.show();
        dialog.findChildren<QPushButton*>().front()->click();
        QCOMPARE(dialog.result(), 6);
    }

    // Replace Confirmation: both files with size and time, four answers.
    CLFSReplaceQuestion question;
    question.m_bFilled = true;
    question.m_existing = {"/data/a.txt", 1234567, 0};
    question.m_with = {"/src/a.txt", 12, 0};
    CReplaceConfirmationLFSDlg dialog(nullptr, question);
    QCOMPARE(dialog.windowTitle(), QString("Replace Confirmation"));
    QStringList texts;
    for (QLabel* label : dialog.findChildren<QLabel*>()) {
        texts << label->text();
    }
    QVERIFY(texts.contains("Would you like to replace"));
    QVERIFY(texts.contains("/data/a.txt"));
    QVERIFY(texts.contains("Size : 1,234,567 Bytes"));
    QVERIFY(texts.contains("Size : 12 Bytes"));
    const std::map<QString, int> answers{
        {"&Yes", 6}, {"Yes To &All", 5}, {"&No", 7}, {"&Cancel", 2}};
    const QList<QPushButton*> buttons = dialog.findChildren<QPushButton*>();
    QCOMPARE(buttons.size(), 4);
    for (QPushButton* button : buttons) {
        QVERIFY2(answers.count(button->text()) == 1, qPrintable(button->text()));
    }
    dialog.show();
    for (QPushButton* button : buttons) {
        if (button->text() == "Yes To &All") {
            button->click();
        }
    }
    QCOMPARE(dialog.result(), 5);
}

void TestWidgets::overwriteDialog() {
    for (bool canResume : {false, true}) {
        COverwriteDlg dialog(nullptr, "/home/u/a.bin", "ftp.example.org : /pub/a.bin", canResume);
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Overwrite Confirmation"));
        const struct {
            int answer;
            const char* text;
            bool resume;
        } buttons[] = {{Question::OVERWRITE, "&Overwrite", false},
                       {Question::RESUME, "&Resume", true},
                       {Question::SKIP, "Ca&ncel", false},
                       {Question::OVERWRITE_ALL, "Overwrite &All", false},
                       {Question::RESUME_ALL, "Resume A&ll", true},
                       {Question::SKIP_ALL, "&Cancel All", false}};
        for (const auto& b : buttons) {
            QPushButton* button = dialog.Button(b.answer);
            QVERIFY(button != nullptr);
            QCOMPARE(button->text(), QString::fromUtf8(b.text));
            QCOMPARE(button->isEnabled(), !b.resume || canResume);
        }
        dialog.show();
        dialog.Button(Question::SKIP_ALL)->click();
        QCOMPARE(dialog.result(), int(Question::SKIP_ALL));
    }
}

void TestWidgets::certificateBox() {
    Question question;
    question.kind = Question::Kind::Certificate;
    question.text = "The certificate's issuer is unknown.\nSubject: CN=localhost";
    for (bool changed : {false, true}) {
        question.changed = changed;
        // Closing the box without a button refuses the certificate.
        auto closed = MakeCertificateBox(nullptr, question);
        QCOMPARE(closed->windowTitle(), changed ? QStringLiteral("Certificate Changed")
                                                : QStringLiteral("Unknown Certificate"));
        QCOMPARE(closed->text(), QString::fromStdString(question.text));
        QCOMPARE(closed->defaultButton()->text(), QStringLiteral("&Refuse"));
        QCOMPARE(closed->escapeButton()->text(), QStringLiteral("&Refuse"));
        QCOMPARE(CertificateAnswer(*closed), int(Question::CERT_REFUSE));
    }
    const struct {
        const char* text;
        int answer;
    } buttons[] = {{"Accept &Once", Question::CERT_ACCEPT_ONCE},
                   {"Accept &Always", Question::CERT_ACCEPT_ALWAYS},
                   {"&Refuse", Question::CERT_REFUSE}};
    for (const auto& b : buttons) {
        auto box = MakeCertificateBox(nullptr, question);
        QCOMPARE(box->buttons().size(), 3);
        for (QAbstractButton* button : box->buttons()) {
            if (button->text() == QString::fromUtf8(b.text)) {
                box->show();
                button->click();
            }
        }
        QCOMPARE(CertificateAnswer(*box), b.answer);
    }
}

void TestWidgets::aboutSelectsLicence() {
    CFTPAboutDlg dialog;
    QCOMPARE(dialog.windowTitle(), QStringLiteral("About Quillbeck"));
    QVERIFY(dialog.Area()->toPlainText().contains(QStringLiteral(QB_VERSION)));
    QVERIFY(dialog.Area()->toPlainText().contains(QString::fromLatin1(qVersion())));
    dialog.ShowPage(AboutPage::Licence, true);
    QCOMPARE(dialog.CurrentPage(), AboutPage::Licence);
    QVERIFY(dialog.Area()->toPlainText().contains("Licence Agreement"));
    QCOMPARE(dialog.Area()->textCursor().selectedText().size(),
             dialog.Area()->toPlainText().size());
    for (const char* text : {"&Quillbeck", "&Licence Agreement", "&Release Notes", "Cl&ose"}) {
        bool found = false;
        for (QPushButton* button : dialog.findChildren<QPushButton*>()) {
            found = found || button->text() == QString::fromUtf8(text);
        }
        QVERIFY2(found, text);
    }
}

void TestWidgets::iconsFallBack() {
    const QStyle& style = *QApplication::style();
    bool fallback = false;
    const QIcon missing = CIconSet::Load(
        IconSource{":/no/such/icon.svg", "no-such-theme-icon-xyz", QStyle::SP_CustomBase}, style,
        &fallback);
    QVERIFY(fallback);
    QVERIFY(!missing.pixmap(16, 16).isNull());
    const QIcon own = CIconSet::Load(CIconSet::Source(ICON_APP), style, &fallback);
    QVERIFY(!fallback);
    QVERIFY(!own.pixmap(32, 32).isNull());
    CIconSet set;
    set.Load(style);
    for (int i = 0; i < ICON_COUNT; ++i) {
        QVERIFY(!set.Get(static_cast<IconId>(i)).pixmap(24, 24).isNull());
    }
}

QTEST_MAIN(TestWidgets)
#include "test_widgets.moc"
