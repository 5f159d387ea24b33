// The core's start-up and shut-down: the command line, the profile, the
// manager and the reporter. The window and qbftp both run the program
// through this object, so both start and end alike.
#pragma once

#include "app/startup.h"
#include "engine/frontend.h"
#include "engine/remote_manager.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace qb {

class CFTPApp;
class CFTPManager;
class CFTPProfile;
class CFTPSecretary;
class CProfileSettings;

// Lives on the user interface thread. Start-up runs in two steps so that
// the window can build itself in between: OpenProfile, then (once the main
// window exists) StartManager. InitInstance runs both. ExitInstance ends
// the run; it is also right after a failed start-up.
class CFTPCore {
public:
    // `frontEnd` receives what the manager and the reporter report, and the
    // questions of start-up and shut-down. `app` (may be null) is the
    // application state: its busy code goes to idle when start-up ends and
    // its temporary files are deleted at exit; it also stands in for a null
    // `frontEnd.app`. Without `frontEnd.settings` the profile's settings
    // are used.
    explicit CFTPCore(const FrontEnd& frontEnd, CFTPApp* app = nullptr,
                      HandlerTable handlers = DefaultHandlers(), EngineOptions options = {});
    // Stops the manager if ExitInstance did not; saves nothing.
    ~CFTPCore();
    CFTPCore(const CFTPCore&) = delete;
    CFTPCore& operator=(const CFTPCore&) = delete;

    // OpenProfile(ParseCommandLine(args)) and StartManager.
    bool InitInstance(const std::vector<std::string>& args);
    // Prepares the network, then creates and loads the profile. A profile
    // named on the command line that does not exist shows "Cannot find the
    // following profile!\n<name>"; a profile that cannot be loaded shows
    // "Failed to load profile!". Either way nothing else is shown and the
    // answer is false: the program ends.
    bool OpenProfile(const CommandLineInfo& info);
    // Starts the manager and the reporter and sets the busy code to idle.
    // False when there is no loaded profile or they already run.
    bool StartManager();
    // Ends the manager (every connection stops; waits for its thread),
    // deletes the reporter, saves the profile (again while the user answers
    // Retry to the failure) and deletes it, then deletes the temporary
    // files. A second call only deletes temporary files added since.
    void ExitInstance();

    // What a profile file that could not be read became (kept as ".bad");
    // empty when nothing happened, and after the first call.
    std::string TakeLoadNote();
    // Whether the splash window is shown (the command line may turn it off).
    bool ShowSplash() const { return m_commandLine.m_bShowSplash; }
    const CommandLineInfo& GetCommandLineInfo() const { return m_commandLine; }
    // The profile was loaded; only then is it saved at exit.
    bool IsProfileLoaded() const { return m_bProfileLoaded; }
    // The profile was made from the defaults (no file yet).
    bool IsFirstRun() const;
    // Off: the profile is never written at exit (qbftp reads it only).
    void SetSaveProfileAtExit(bool save) { m_bSaveAtExit = save; }

    // Null before start-up and after ExitInstance.
    CFTPProfile* GetProfile() const { return m_pProfile.get(); }
    CFTPManager* GetManager() const { return m_pManager.get(); }
    CFTPSecretary* GetSecretary() const { return m_pSecretary.get(); }
    // The front end as the manager and the reporter see it (the settings
    // filled in once the profile is open).
    const FrontEnd& GetFrontEnd() const { return m_frontEnd; }

private:
    void ShowError(const std::string& text) const;
    void EndManager();

    FrontEnd m_frontEnd;
    CFTPApp* m_pApp;
    const HandlerTable m_handlers;
    const EngineOptions m_options;

    CommandLineInfo m_commandLine;
    bool m_bProfileLoaded = false;
    bool m_bSaveAtExit = true;
    std::string m_strLoadNote;
    // Declared in the order they must outlive each other: the manager's
    // connections use the reporter and the settings, the settings the
    // profile.
    std::unique_ptr<CFTPProfile> m_pProfile;
    std::unique_ptr<CProfileSettings> m_pSettings;
    std::unique_ptr<CFTPSecretary> m_pSecretary;
    std::unique_ptr<CFTPManager> m_pManager;
};

} // namespace qb
