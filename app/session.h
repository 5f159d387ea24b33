// The one door between the core and a front end (the window, qbftp). The
// front end makes requests by value and gets operation and connection ids
// back; what happens comes back as events in one queue, woken once per
// batch; questions of the connection threads arrive as events and are
// answered by id. Nothing here hands out a pointer into the core's threads.
//
// The session lives on the front end's thread. Requests, TakeEvents, Answer
// and the status read-outs may be called from it at any time; the front end
// never waits for a connection thread through this object, except in Exit,
// which ends them.
#pragma once

#include "app/app.h"
#include "app/event_queue.h"
#include "app/events.h"
#include "app/startup.h"
#include "engine/ftp_file.h"
#include "engine/options.h"
#include "engine/status_lanes.h"

#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace qb {

class CFTPCore;
class CFTPProfile;
class IQuestions;
class SessionPorts;

class CFTPSession {
public:
    // `questions` asks on the front end's own thread (start-up messages,
    // saving the profile at exit); may be null. `options` tune the engine.
    explicit CFTPSession(IQuestions* questions = nullptr, EngineOptions options = {});
    // Exit() unless it has run.
    ~CFTPSession();
    CFTPSession(const CFTPSession&) = delete;
    CFTPSession& operator=(const CFTPSession&) = delete;

    // ---- Start-up and shut-down (the window builds itself in between) ----
    // Opens the profile the command line names (or the default one); false
    // when the program must end (the reason has been shown).
    bool OpenProfile(const CommandLineInfo& info);
    // Starts the connection machinery; busy code idle.
    bool Start();
    // The end: every question is answered with its cancel meaning, no event
    // is queued any more, every connection stops and is waited for, the
    // profile is saved (unless turned off) and the temporary files deleted.
    void Exit();
    // Off: the profile is only read (qbftp).
    void SetSaveProfileAtExit(bool save);
    // What a profile that could not be read became; once.
    std::string TakeLoadNote();
    bool ShowSplash() const;
    bool IsFirstRun() const;

    // The profile and the application state, for the front end's own
    // thread. Null profile before OpenProfile and after Exit.
    CFTPProfile* GetProfile() const;
    CFTPApp& App() { return m_app; }

    // ---- Requests ----
    struct Submitted {
        OperationId operation = 0;
        ConnectionId connection = kNoConnection; // the connection a Connect made
        std::string refusal;                     // why, when operation is 0
        explicit operator bool() const { return operation != 0; }
    };
    Submitted Connect(const SiteConnectRequest& request);
    // `sink` (when set) takes the entries while they are read, on the
    // connection's thread.
    Submitted Explore(const CFTPFile& folder, std::shared_ptr<IListingSink> sink = {});
    Submitted MakeFolder(const CFTPFile& folder);
    // All items must be on one site.
    Submitted Delete(const std::vector<CFTPFile>& items);
    Submitted Rename(const CFTPFile& item, const std::string& newName);
    // A server-side rename to another path on the same connection (another
    // folder too): nothing is copied. Servers refuse what they cannot do.
    Submitted RenameTo(const CFTPFile& item, const CFTPFile& dest);
    Submitted Copy(const CFTPFile& source, const CFTPFile& dest, bool move);
    // All items must be on one site (or all local, for an upload).
    Submitted CopyItems(const std::vector<CFTPFile>& items, const CFTPFile& destFolder, bool move);
    // Downloads `source` to the local `dest` and, when it arrived and is not
    // empty, asks for it to be opened (event::OpenFile); the file is deleted
    // at exit either way.
    Submitted DownloadAndOpen(const CFTPFile& source, const CFTPFile& dest);
    // Downloads the file `source` into the open descriptor `fd` (standard
    // output) as it arrives; `dest` only names it in messages. A failure
    // cannot take back what was written: the operation's result tells.
    Submitted DownloadToStream(const CFTPFile& source, const CFTPFile& dest, int fd);
    bool Disconnect(ConnectionId connection);
    // Stops every running operation; with `disconnect` the connections that
    // had work end too. Questions waiting are answered with their cancel
    // meaning at once.
    void Stop(bool disconnect);
    bool IsConnected(ConnectionId connection) const;
    std::size_t ConnectionCount() const;

    // ---- Events ----
    void SetWakeUp(std::function<void()> wakeUp) { m_events.SetWakeUp(std::move(wakeUp)); }
    std::deque<CoreEvent> TakeEvents() { return m_events.TakeAll(); }
    bool WaitForEvents(std::chrono::milliseconds limit) { return m_events.WaitForEvents(limit); }
    EventQueue& Events() { return m_events; }

    // ---- Questions ----
    bool Answer(QuestionId id, int answer);

    // ---- Status lanes (any thread) ----
    CStatusLanes& Status() { return m_status; }

    // ---- For local workers, which report what they create and delete ----
    INotifier* Notifier();

private:
    CFTPApp m_app;
    EventQueue m_events;
    std::unique_ptr<SessionPorts> m_ports; // before m_status, which reports to it
    CStatusLanes m_status;
    std::unique_ptr<CFTPCore> m_core;
    bool m_bExited = false;
};

} // namespace qb
