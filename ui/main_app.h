// The window program from start to end: the profile, the splash window,
// the main frame and its layout, the connections; and at the end the
// layout stored, the connections ended, the profile saved and the temporary
// files deleted, in that order.
#pragma once

#include "dialogs.h"
#include "icons.h"

#include <QPointer>
#include <memory>
#include <string>
#include <vector>

class QSplashScreen;

namespace qb {
class CFTPSession;
}

namespace qb::ui {

class CGuiQuestions;
class CMainFrame;

class CMainApp {
public:
    // `prompter`: who asks the user (null: the real dialogs).
    explicit CMainApp(IPrompter* prompter = nullptr);
    ~CMainApp();
    CMainApp(const CMainApp&) = delete;
    CMainApp& operator=(const CMainApp&) = delete;

    // Start-up with the arguments that follow the program's name; false
    // when the program must end (the reason has been shown).
    bool Start(const std::vector<std::string>& args);
    // The event loop, until the main window has closed.
    int Run();
    // Stores the layout (unless the window's closing did), ends the
    // connections, saves the profile and deletes the temporary files.
    void Shutdown();

    CMainFrame* Frame() const { return m_frame.get(); }
    CFTPSession* Session() const { return m_session.get(); }
    bool SplashShown() const { return m_bSplashShown; }

    // The splash window's picture: the program's name and version.
    static QPixmap SplashPixmap(const QIcon& icon);
    // "--no-splash" among the arguments.
    static bool NoSplashAsked(const std::vector<std::string>& args);

private:
    std::unique_ptr<CDialogPrompter> m_ownPrompter;
    IPrompter* m_pPrompter;
    std::unique_ptr<CGuiQuestions> m_questions;
    std::unique_ptr<CFTPSession> m_session;
    CIconSet m_icons;
    std::unique_ptr<CMainFrame> m_frame;
    std::unique_ptr<QSplashScreen> m_splash;
    bool m_bSplashShown = false;
    bool m_bShutDown = false;
};

} // namespace qb::ui
