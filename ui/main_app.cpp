#include "main_app.h"

#include "app/session.h"
#include "gui_questions.h"
#include "main_frame.h"
#include "platform/questions.h"

#include <QApplication>
#include <QFont>
#include <QGuiApplication>
#include <QPainter>
#include <QScreen>
#include <QSplashScreen>
#include <QTimer>

namespace qb::ui {

CMainApp::CMainApp(IPrompter* prompter)
    : m_ownPrompter(prompter ? nullptr : std::make_unique<CDialogPrompter>()),
      m_pPrompter(prompter ? prompter : m_ownPrompter.get()) {}

CMainApp::~CMainApp() {
    Shutdown();
}

bool CMainApp::NoSplashAsked(const std::vector<std::string>& args) {
    for (const std::string& arg : args) {
        if (QString::fromStdString(arg).compare(QStringLiteral("--no-splash"),
                                                Qt::CaseInsensitive) == 0) {
            return true;
        }
    }
    return false;
}

QPixmap CMainApp::SplashPixmap(const QIcon& icon) {
    QPixmap pixmap(360, 160);
    pixmap.fill(QColor(0x2f, 0x6f, 0xb3));
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    icon.paint(&painter, QRect(24, 40, 80, 80));
    painter.setPen(Qt::white);
    QFont title = QApplication::font();
    title.setPointSize(24);
    title.setBold(true);
    painter.setFont(title);
    painter.drawText(QRect(120, 36, 230, 50), Qt::AlignLeft | Qt::AlignVCenter,
                     QStringLiteral("Quillbeck"));
    QFont small = QApplication::font();
    small.setPointSize(11);
    painter.setFont(small);
    painter.drawText(QRect(120, 88, 230, 30), Qt::AlignLeft | Qt::AlignVCenter,
                     QStringLiteral("Version %1").arg(QStringLiteral(QB_VERSION)));
    return pixmap;
}

bool CMainApp::Start(const std::vector<std::string>& args) {
    const CommandLineInfo info = ParseCommandLine(args);
    m_questions = std::make_unique<CGuiQuestions>(
        *m_pPrompter, [this] { return m_session && m_session->App().IsExiting(); });
    m_session = std::make_unique<CFTPSession>(m_questions.get());
    if (!m_session->OpenProfile(info)) {
        return false;
    }
    CFTPProfile* profile = m_session->GetProfile();
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        profile->SetScreenSize(screen->geometry().width(), screen->geometry().height());
    }

    // A missing icon falls back to a standard one: it never ends start-up.
    m_icons.Load(*QApplication::style());
    QApplication::setWindowIcon(m_icons.Get(ICON_APP));

    if (m_session->ShowSplash() && !NoSplashAsked(args)) {
        m_splash = std::make_unique<QSplashScreen>(SplashPixmap(m_icons.Get(ICON_APP)));
        m_splash->show();
        m_bSplashShown = true;
        QApplication::processEvents();
    }

    m_frame = std::make_unique<CMainFrame>(*m_session, *m_pPrompter, *m_questions, m_icons);
    m_questions->SetParentWindow(m_frame.get());
    m_frame->ApplyLayout(profile->m_layout);
    m_frame->setWindowTitle(kAppTitle);
    m_frame->ShowAsStored();

    if (!m_session->Start()) {
        m_pPrompter->Message(m_frame.get(), QStringLiteral("Failed to start the connections."),
                             MB_OK);
        return false;
    }
    if (m_splash) {
        m_splash->finish(m_frame.get());
        m_splash.reset();
    }
    m_frame->UpdateActions();

    // Once the window is up: what became of an unreadable profile, and on a
    // first run the licence.
    const QString note = QString::fromStdString(m_session->TakeLoadNote());
    const bool firstRun = m_session->IsFirstRun();
    QPointer<CMainFrame> frame = m_frame.get();
    IPrompter* prompter = m_pPrompter;
    QTimer::singleShot(0, m_frame.get(), [frame, prompter, note, firstRun] {
        if (!note.isEmpty() && frame) {
            prompter->Message(frame, note, MB_OK | MB_ICONWARNING);
        }
        if (firstRun && frame) {
            prompter->ShowAbout(frame, AboutPage::Licence, true);
        }
    });
    return true;
}

int CMainApp::Run() {
    return QApplication::exec();
}

void CMainApp::Shutdown() {
    if (m_bShutDown) {
        return;
    }
    m_bShutDown = true;
    m_splash.reset();
    if (m_frame && m_session && !m_session->App().IsExiting()) {
        // Ended without the window's close (the event loop was left).
        m_session->App().SetExiting();
        m_frame->StoreLayout();
    }
    if (m_frame) {
        m_frame->hide();
    }
    if (m_session) {
        // Waits for the connections, saves the profile (asking Retry/Cancel
        // on failure) and deletes the temporary files.
        m_session->Exit();
    }
    m_frame.reset();
    m_session.reset();
}

} // namespace qb::ui
