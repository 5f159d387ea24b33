// One connected site: a thread with a message queue that runs the site's
// actions one at a time, owns its three sockets and the folders that anchor
// every remote path.
#pragma once

#include "dispatch/actions.h"
#include "engine/constants.h"
#include "engine/frontend.h"
#include "engine/listing_parser.h"
#include "engine/options.h"
#include "engine/question_desk.h"
#include "engine/sockets.h"
#include "platform/message_thread.h"
#include "platform/net.h"

#include <array>
#include <atomic>
#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace qb {

class CFTPManager;
class CFTPSecretary;
class CFTPRemoteManager;

using ReplyLines = std::vector<std::string>;

// The step handlers of one action kind.
struct ActionHandlers {
    // Entered on RMM_NEXT when the action becomes current.
    std::function<void(CFTPRemoteManager&, CFTPAction&)> start;
    // Entered with each reply while the action is current.
    std::function<void(CFTPRemoteManager&, CFTPAction&, const ReplyLines&, unsigned)> reply;
    // A reply that arrives after a cancel: apply what it means for the
    // remote state (a folder change, creation, deletion or rename that took
    // effect after all).
    std::function<void(CFTPRemoteManager&, CFTPAction&, const ReplyLines&, unsigned)> late;
};

// Handlers indexed by action kind (0 to 10). A kind without a start handler
// fails with result 3.
using HandlerTable = std::array<ActionHandlers, 11>;

// The handlers of the real step machines.
HandlerTable DefaultHandlers();

class CFTPRemoteManager : public MessageThread, public CFTPConstants {
public:
    struct Reply {
        ReplyLines lines;
        unsigned code = 0;
        bool closed = false; // not a reply: the server closed the connection here
    };

    // Starts the thread at once. `id` names the connection for good.
    CFTPRemoteManager(CFTPManager* manager, ConnectionId id, const FrontEnd& frontEnd,
                      CFTPSecretary* secretary, const HandlerTable& handlers,
                      const EngineOptions& options = {});
    // Stops the thread if it still runs and waits for it.
    ~CFTPRemoteManager() override;

    // --- Any thread ---------------------------------------------------------
    // Asks the connection to end: the current action ends, the queue is
    // drained without running, then the thread ends.
    void Stop();
    // Interrupts a blocking socket wait so that a cancel is seen at once.
    void WakeUp() { m_wake.Signal(); }
    bool IsStopRequested() const { return m_bStop.load(std::memory_order_acquire); }
    ConnectionId GetId() const { return m_nId; }
    // The host name of the control connection ("" when not connected).
    std::string GetHostName() const;
    void SetHostName(const std::string& host);
    // What items on this connection carry: its id and host name.
    SiteRef Ref() const { return SiteRef{m_nId, GetHostName()}; }
    int GetStatusLane() const { return m_nStatusLane.load(); }
    void SetStatusLane(int lane) { m_nStatusLane.store(lane); }
    const FrontEnd& GetFrontEnd() const { return m_frontEnd; }
    CFTPManager* GetManager() const { return m_pManager; }
    CFTPSecretary* GetSecretary() const { return m_pSecretary; }

    // --- Connection thread --------------------------------------------------
    void SetStep(CFTPAction& action, std::uint16_t step);
    // Ends the current action with a failure (a connect in its first steps
    // starts over instead).
    void Fail(std::uint16_t result, unsigned replyCode, const ReplyLines& replyLines);
    void FinishAction();
    void SendAbort();
    // A stop was requested or the current action was cancelled.
    bool IsStopping() const;
    void ReportProgress(int percent);
    void ReportBytes(FileSize count);
    // A new empty temporary file (private folder, exclusive creation).
    std::string MakeTempFileName();
    // 'I' while the application closes, else the transfer mode's letter.
    char TransferTypeFor(const CFTPFile& file) const;
    // Queues a complete reply read from the control connection.
    void QueueReply(ReplyLines lines, unsigned code);
    // Queues the server's close of the control connection, to be handled
    // after the replies that came before it.
    void QueueControlClosed();
    // Closes the listening and the data socket.
    void CloseDataSockets();
    // What blocking socket calls watch: the wake-up and the stop test.
    net::Interrupt MakeInterrupt(bool stopOnly = false) const;
    // Sends one command line (CR LF appended) and logs it.
    bool SendLine(const std::string& line);
    // Builds, sends and logs one command; codes without a verb, and
    // arguments with a line break, send nothing.
    bool SendCommand(int code, const std::string& argument, bool splitName = true);
    bool SendCommand(int code, std::uint64_t number);
    // Adds a note to the activity log.
    void PostNote(const std::string& text);
    // Asks the front end and waits for the answer (a stop answers it with
    // its cancel meaning). Fills in the connection and the current
    // action's operation.
    int Ask(Question question);
    // A message box with MB_OK: the current action's failure and the like.
    void ShowMessage(const std::string& text, unsigned style);
    // Data connections are passive (firewall type 5 in effect).
    bool UsePassive() const { return m_firewall.enabled && m_firewall.type == 5; }
    // The server closed the control connection.
    void OnControlClosed();
    // A data connection has closed: parse the listing or close the file.
    void OnDataClosed();
    // The current explore action's listing is about to arrive: its lines
    // will be read as they come.
    void StartListing();
    // A piece of the listing has arrived: the lines it completes are read at
    // once. False when the connection is stopping.
    bool TakeListing(std::string_view piece);
    // Whether the listing being read had an entry "-a" (see TellListed).
    bool ListedDashA() const { return m_bListedDashA; }
    // Whether a sink was told entries of the listing being read.
    bool ToldEntries() const { return m_bToldEntries; }
    // The listing has ended: reads its last line and gives the action its
    // content.
    bool FinishListing();
    // Tells a sink the entries of a piece of the listing; `onlyDashA`: only
    // an entry "-a" (the sink has the others).
    void TellListed(IListingSink& sink, std::span<const ListedEntry> entries, bool onlyDashA);
    // Watching sockets from the thread's loop.
    void WatchSocket(int fd, short events, FdHandler handler) {
        Watch(fd, events, std::move(handler));
    }
    void UnwatchSocket(int fd) { Unwatch(fd); }
    // The connection was lost and is being ended.
    bool IsLost() const { return m_bLost; }
    // Records why the current transfer broke off on this side.
    void NoteTransferError(const std::string& text);
    // The next start of the current head waits a little instead of coming
    // at once (a parent polling for children that run elsewhere).
    void DeferNext() { m_bDeferNext = true; }
    // A reply is awaited from now on (a command went out, or the control
    // connection opened and the welcome is due): a server that stays silent
    // for the reply time-out ends the step.
    void AwaitReply();
    // Something arrived from the server (control or data): the silence
    // counted by the reply time-out starts again.
    void NoteActivity() { m_lastActivity = std::chrono::steady_clock::now(); }
    const EngineOptions& GetOptions() const { return m_options; }

    // --- Fields ---------------------------------------------------------------
    CFTPManager* m_pManager;
    // Set (under the manager's lock) once the manager has let the connection
    // go: its queue no longer counts toward any operation.
    bool m_bDetached = false;
    std::unique_ptr<CFTPCtrlSocket> m_pCtrlSocket;
    std::unique_ptr<CFTPListenSocket> m_pListenSocket;
    std::unique_ptr<CFTPDataSocket> m_pDataSocket;
    // Guarded by the manager's lock; use the manager's queue operations.
    CFTPActionQueue m_actionQueue;
    CFTPAction* m_pAction = nullptr; // the current action; not owned
    std::unique_ptr<CFTPFile> m_pHomeFolder;
    std::unique_ptr<CFTPFile> m_pWorkFolder;
    // The work folder's real path as "PWD" gave it ("" when not asked).
    std::string m_strWorkRealPath;
    FirewallSettings m_firewall; // set by the manager before the first action
    // "host:port" of the site, as the connect named it; set by the manager
    // before the first action.
    std::string m_strSiteKey;
    bool m_bResume = false;
    int m_nServerType = SERVER_UNIX;
    // What this connection learned about the server; reset at each connect.
    struct ServerFeatures {
        bool epsvRefused = false;    // "PASV" from now on
        bool portRefused = false;    // "EPRT" from now on
        bool mlsd = false;           // "FEAT" named MLSD (or MLST)
        bool mdtm = false;           // "FEAT" named MDTM
        bool utf8 = false;           // "OPTS UTF8 ON" was accepted
        bool listAllRefused = false; // plain "LIST" from now on
    } m_features;
    // The data command whose reply is awaited ("EPSV", "PASV", "PORT" or
    // "EPRT"), -1 when none.
    int m_nDataCommand = -1;
    // The listing command of the current explore ("MLSD", "LIST -a" or
    // "LIST"): how its listing is read.
    int m_nListCommand = CMD_LIST;
    // The listing being received, read line by line as it arrives.
    std::unique_ptr<CFTPFolderContent> m_pListed;
    std::unique_ptr<ListingReader> m_pListingReader;
    bool m_bListingTooLong = false; // more entries than maxListingEntries
    bool m_bListedDashA = false;    // an entry "-a" came (with "LIST -a")
    bool m_bToldEntries = false;    // a sink was told some
    // "PROT P" was accepted: data connections are TLS too.
    bool m_bProtectData = false;
    std::deque<Reply> m_replyQueue;

protected:
    bool InitInstance() override;
    void OnMessage(const Message& msg) override;
    void ExitInstance() override;

private:
    void OnNext();
    void OnReplyQueued();
    void OnReply(const ReplyLines& lines, unsigned code);
    const ActionHandlers* HandlersFor(const CFTPAction& action) const;

    // `why` is what went wrong, for the note that tells of the next try.
    void ScheduleRestart(const std::string& why);
    void OnReplyTimeout(std::uintptr_t serial);
    // After "ABOR" the server may still send replies for the broken-off
    // transfer: "NOOP" goes out and everything up to its "200" is read and
    // dropped before the next action starts.
    void BeginResync();
    // The server is gone or useless: the current action fails with `why`,
    // queued ones end quietly, and the connection ends.
    void GiveUpConnection(const std::string& why);
    static bool IsAbortWaitStep(std::uint16_t step);
    bool IsWaitingForAbort() const {
        return m_pAction && m_pAction->m_bAbortSent && IsAbortWaitStep(m_pAction->m_nStep);
    }
    void EndAbortWait();

    const ConnectionId m_nId;
    std::atomic<bool> m_bStop{false};
    bool m_bLost = false;
    bool m_bDeferNext = false;
    std::uintptr_t m_abortWaitSerial = 0;
    std::uintptr_t m_replySerial = 0;
    bool m_bAwaitingReply = false;
    bool m_bResync = false;
    std::chrono::steady_clock::time_point m_lastActivity{};
    bool m_bLostReported = false;
    const EngineOptions m_options;
    std::chrono::milliseconds m_restartDelay{0};
    unsigned m_nConnectFailures = 0; // of the connect under way
    std::chrono::steady_clock::time_point m_restartDue{};
    std::atomic<int> m_nStatusLane{1};
    const FrontEnd m_frontEnd;
    CFTPSecretary* m_pSecretary;
    const HandlerTable m_handlers;
    net::WakeEvent m_wake;
    mutable std::mutex m_hostLock;
    std::string m_hostName;
};

} // namespace qb
