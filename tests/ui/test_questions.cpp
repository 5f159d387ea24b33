// Questions of connection threads against a real connection: a server on
// the loopback interface refuses the login, so the connection thread asks
// (a message box) and waits. The window shows it without blocking, answers
// it when the user does, closes it when a stop withdraws it, and a window
// that closes while it is open still shuts down completely.
#include "app/session.h"
#include "log_view.h"
#include "main_app.h"
#include "main_frame.h"
#include "ui_support.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

using namespace qb;
using namespace qb::ui;
using qb::ui::test::CFakePrompter;
using qb::ui::test::CRefusingFtpServer;

class TestQuestions : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void answeredByTheUser();
    void withdrawnByStop();
    void pendingWhileTheWindowCloses();

private:
    // Connects to the refusing server and waits for the question's dialog.
    QMessageBox* AskedAfterRefusedLogin();

    QTemporaryDir m_dir;
    std::unique_ptr<CRefusingFtpServer> m_server;
    CFakePrompter m_prompter;
    std::unique_ptr<CMainApp> m_app;
};

void TestQuestions::initTestCase() {
    QApplication::setQuitOnLastWindowClosed(false);
    qputenv("XDG_CONFIG_HOME", m_dir.filePath("config").toUtf8());
}

void TestQuestions::init() {
    const QString profile =
        m_dir.filePath(QStringLiteral("%1.dat").arg(QTest::currentTestFunction()));
    test::WriteDefaultProfile(profile);
    m_server = std::make_unique<CRefusingFtpServer>();
    m_prompter = CFakePrompter{};
    m_app = std::make_unique<CMainApp>(&m_prompter);
    QVERIFY(m_app->Start({profile.toStdString(), "--no-splash"}));
}

void TestQuestions::cleanup() {
    m_app.reset();
    m_server.reset();
}

QMessageBox* TestQuestions::AskedAfterRefusedLogin() {
    CFTPSession& session = *m_app->Session();
    SiteConnectRequest request;
    request.host = "127.0.0.1";
    request.port = m_server->Port();
    request.user = "someone";
    request.password = "wrong";
    // What the tree does when it connects a site.
    session.App().SetBusyCode(BUSY_CONNECTING);
    const CFTPSession::Submitted submitted = session.Connect(request);
    if (!submitted) {
        qWarning("connect refused: %s", submitted.refusal.c_str());
        return nullptr;
    }
    CMainFrame& frame = *m_app->Frame();
    if (!QTest::qWaitFor([&] { return frame.OpenQuestionCount() == 1; }, 20000)) {
        return nullptr;
    }
    return qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
}

void TestQuestions::answeredByTheUser() {
    QMessageBox* box = AskedAfterRefusedLogin();
    QVERIFY(box != nullptr);
    QCOMPARE(box->windowTitle(), QStringLiteral("Quillbeck"));
    QVERIFY(box->isVisible());
    QVERIFY(box->isModal());
    QVERIFY(m_server->Logins() >= 1);
    // The window goes on while the question waits: events still arrive.
    CMainFrame& frame = *m_app->Frame();
    QVERIFY(frame.LogView()->Model().rowCount() > 1);
    box->defaultButton()->click();
    QTRY_COMPARE_WITH_TIMEOUT(frame.OpenQuestionCount(), 0, 5000);
    // The connection thread went on: the connect ended and the program is
    // idle again.
    QTRY_COMPARE_WITH_TIMEOUT(m_app->Session()->App().GetBusyCode(), int(BUSY_IDLE), 10000);
    QVERIFY(!frame.Action(ID_STOP)->isEnabled());
}

void TestQuestions::withdrawnByStop() {
    QPointer<QMessageBox> box = AskedAfterRefusedLogin();
    QVERIFY(box != nullptr);
    m_app->Frame()->Stop();
    // The stop answered the question itself; its dialog closes.
    QTRY_VERIFY_WITH_TIMEOUT(box.isNull() || !box->isVisible(), 5000);
    QCOMPARE(m_app->Frame()->OpenQuestionCount(), 0);
    QTRY_COMPARE_WITH_TIMEOUT(m_app->Session()->App().GetBusyCode(), int(BUSY_IDLE), 10000);
}

void TestQuestions::pendingWhileTheWindowCloses() {
    QPointer<QMessageBox> box = AskedAfterRefusedLogin();
    QVERIFY(box != nullptr);
    // Closing during the connect asks first; the user says Yes.
    m_prompter.exitAnswer = true;
    QVERIFY(m_app->Frame()->close());
    QCOMPARE(m_prompter.exitAsked, 1);
    QTRY_VERIFY_WITH_TIMEOUT(box.isNull() || !box->isVisible(), 5000);
    // Shut-down completes: the connection thread was answered and ended.
    m_app->Shutdown();
    QCOMPARE(m_app->Session(), nullptr);
}

QTEST_MAIN(TestQuestions)
#include "test_questions.moc"
