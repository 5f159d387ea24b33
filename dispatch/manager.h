// The manager: turns user requests into numbered operations whose actions it
// queues on the right connection, and reports each operation's end once.
//
// Connections are named by ids that are never reused; a request naming a
// connection that has ended is refused. The manager's lock guards the
// queues, the connection list and the operation records only: every call
// into the front end (reports, completion handlers, notifications) and every
// action's destructor runs after the lock is released. Inside manager.cpp
// the lock is taken only through Guard, and the front end is reached only
// from the Deliver* functions and from the request functions outside any
// Guard; Deliver* asserts that the lock is not held.
#pragma once

#include "dispatch/actions.h"
#include "engine/constants.h"
#include "engine/frontend.h"
#include "engine/question_desk.h"
#include "engine/remote_manager.h"
#include "platform/message_thread.h"

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace qb {

class CFTPSecretary;

class CFTPManager : public MessageThread, public CFTPConstants {
public:
    // Starts the manager's thread.
    explicit CFTPManager(const FrontEnd& frontEnd, HandlerTable handlers = DefaultHandlers(),
                         EngineOptions options = {});
    // Stops every connection, answers every pending question, and waits for
    // the connections' threads and its own.
    ~CFTPManager() override;

    void SetSecretary(CFTPSecretary* secretary) { m_pSecretary = secretary; }

    // --- Requests (the front end's thread). 0 means refused; `why` (may be
    // null) then says why. ---------------------------------------------------
    OperationId Connect(const std::string& host, const std::string& user,
                        const std::string& password, const std::string& folder, std::uint32_t port,
                        CallerData callerData, ConnectionId* connectionOut,
                        const FirewallSettings& firewall = {}, std::string* why = nullptr);
    // `sink` (when set) takes the entries while they are read.
    OperationId Explore(const CFTPFile* folder, CallerData callerData, std::string* why = nullptr,
                        std::shared_ptr<IListingSink> sink = {});
    OperationId MakeFolder(const CFTPFile* folder, CallerData callerData,
                           std::string* why = nullptr);
    // Every item must be on the same connection.
    OperationId Delete(const CFTPFileArray* items, CallerData callerData,
                       std::string* why = nullptr);
    OperationId Rename(const CFTPFile* item, const std::string& newName,
                       std::unique_ptr<CFTPActionCallerData> callerData,
                       std::string* why = nullptr);
    // Renames `item` to the path of `dest` on the same connection ("RNFR",
    // "RNTO"): a move within one server that copies nothing.
    OperationId RenameTo(const CFTPFile* item, const CFTPFile* dest, std::string* why = nullptr);
    OperationId Copy(const CFTPFile* source, const CFTPFile* dest, CallerData callerData, bool move,
                     std::string* why = nullptr);
    // Every item must be on the same connection (or all local).
    OperationId CopyItems(const CFTPFileArray* items, const CFTPFile* destFolder,
                          CallerData callerData, bool move, std::string* why = nullptr);
    OperationId MoveItems(const CFTPFileArray* items, const CFTPFile* destFolder,
                          CallerData callerData, std::string* why = nullptr) {
        return CopyItems(items, destFolder, std::move(callerData), true, why);
    }
    // Ends a connection; whatever it still had to do ends as cancelled.
    bool Disconnect(ConnectionId connection);

    // The stop command: cancel every running operation, with the disconnect
    // flag also ending the connections that had work. Pending questions are
    // answered with their cancel meaning.
    void PostStop(bool disconnect) { Post(MM_STOP_OPERATION, disconnect ? 1 : 0); }
    void CancelAll(bool disconnect);
    // The application is exiting: nothing is reported any more; every
    // operation is cancelled, every question answered, and the manager's
    // thread ends.
    void Shutdown();

    // --- Questions of the connection threads --------------------------------
    QuestionDesk& Questions() { return m_questions; }
    // The front end's answer to a question it was told of.
    bool AnswerQuestion(QuestionId id, int answer) { return m_questions.Answer(id, answer); }

    // --- Queue operations (connection threads) ------------------------------
    CFTPAction* PeekNext(CFTPRemoteManager* connection);
    bool IsQueueEmpty(CFTPRemoteManager* connection);
    // Whether something waits behind the head.
    bool HasSecond(CFTPRemoteManager* connection);
    bool PushFront(CFTPRemoteManager* connection, std::unique_ptr<CFTPAction> action);
    bool PushFront(CFTPRemoteManager* connection, CFTPAction* subAction);
    bool InsertSecond(CFTPRemoteManager* connection, std::unique_ptr<CFTPAction> action);
    bool PushBack(CFTPRemoteManager* connection, std::unique_ptr<CFTPAction> action);
    // Takes the head off and deletes it (outside the lock) unless it is a
    // sub-action, which its parent owns.
    void RemoveHead(CFTPRemoteManager* connection);
    // Moves the head to the end of the same queue in one step (a parent
    // that waits for its children).
    bool RequeueHead(CFTPRemoteManager* connection);
    // Moves the head action of `from` to the end of the queue of connection
    // `to` and wakes both. False (nothing moved) when `to` is no longer
    // connected or `from` is ending.
    bool HandOver(CFTPRemoteManager* from, ConnectionId to);
    // The connection's current action has finished: it is reported and
    // deleted, and its operation ends when it was the last. False when the
    // connection is ending (it then cleans up by itself).
    bool ActionDone(CFTPRemoteManager* connection);
    // Cancels every action queued on the connection.
    void CancelQueue(CFTPRemoteManager* connection);
    // The connection's server went away: end it and tell the front end.
    void ConnectionLost(ConnectionId connection) {
        Post(MM_CONNECTION_LOST, 0, static_cast<std::intptr_t>(connection));
    }
    // Whether a connection to the site of `connection` made before it has
    // been let go but has not ended yet (it is still ending its session).
    bool IsEarlierSessionEnding(const CFTPRemoteManager* connection) const;
    // The connection's thread has left its loop: the object can go.
    void ConnectionThreadEnded(ConnectionId connection) {
        Post(MM_CONNECTION_ENDED, 0, static_cast<std::intptr_t>(connection));
    }

    // The "for all files" answer of the overwrite question in an operation.
    std::uint8_t GetReplaceAll(OperationId id) const;
    void SetReplaceAll(OperationId id, std::uint8_t answer);

    // --- Inspection ---------------------------------------------------------
    std::size_t GetConnectionCount() const;
    bool IsConnected(ConnectionId connection) const;
    // A listed connection, for tests that look inside it; the pointer must
    // not be kept (the object goes once its thread has ended).
    CFTPRemoteManager* FindConnection(ConnectionId connection) const;
    // Connection objects not yet destroyed, listed or not.
    std::size_t GetOwnedCount() const;
    OperationId GetLastId() const;
    bool HasOperation(OperationId id) const;
    std::size_t GetRunningCount() const;
    const EngineOptions& GetOptions() const { return m_options; }

protected:
    void OnMessage(const Message& msg) override;

private:
    struct CallerSlot {
        std::unique_ptr<CFTPActionCallerData> record;
        bool openFileMarker = false;
        int streamFd = -1;
    };
    // One running operation. `pending` counts its queue entries on
    // connections still in use; the operation ends when it reaches 0.
    struct OperationRecord {
        CallerSlot slot;
        std::uint16_t kind = 0;
        std::size_t pending = 0;
        OperationReport report;
        std::uint8_t replaceAll = REPLACE_NONE;
    };
    // What a locked region found to report; delivered once it is unlocked.
    struct Deferred {
        std::vector<OperationRecord> ended;
        std::vector<ConnectionId> connectionsEnded;
    };
    using ActionList = std::vector<std::unique_ptr<CFTPAction>>;

    // The lock, remembering its holder so that delivery can check it is
    // not called with the lock held.
    class Guard {
    public:
        explicit Guard(const CFTPManager& manager);
        ~Guard();
        Guard(const Guard&) = delete;
        Guard& operator=(const Guard&) = delete;

    private:
        const CFTPManager& m_manager;
        std::unique_lock<std::mutex> m_lock;
    };
    bool LockHeldHere() const { return m_lockOwner.load() == std::this_thread::get_id(); }

    // The shared tail of every request: record, announce, queue, wake.
    OperationId Submit(ConnectionId connection, ActionList actions, CallerSlot slot,
                       std::uint16_t kind, ConnectionId laneTwo, std::string* why);
    OperationId IssueId();
    void GiveBackId(OperationId id);
    static CallerSlot SlotFrom(CallerData& data);
    static OperationId Refuse(std::string* why, const char* text);

    // --- With the lock held ---
    CFTPRemoteManager* FindListed(ConnectionId connection) const;
    bool IsAttached(const CFTPRemoteManager* connection) const;
    // Queue bookkeeping: one entry of an operation more, or less.
    void CountIn(const CFTPRemoteManager* connection, const CFTPAction* action);
    void CountOut(const CFTPRemoteManager* connection, OperationId id, Deferred& deferred);
    // A finished user-level action's result goes into its operation's report.
    void RecordResult(const CFTPAction& action);
    // The connection leaves the list: its queued work will never report, so
    // its operations count it out as cancelled.
    void Detach(CFTPRemoteManager* connection, Deferred& deferred);
    void ExtractOperation(OperationId id, Deferred& deferred);

    // --- Without the lock ---
    void Deliver(Deferred& deferred);
    void DeliverOperationEnd(OperationRecord& record);
    // Destroys connection objects whose threads have ended.
    void Reap(ConnectionId connection);

    const FrontEnd m_frontEnd;
    const HandlerTable m_handlers;
    const EngineOptions m_options;
    CFTPSecretary* m_pSecretary = nullptr;
    QuestionDesk m_questions;

    mutable std::mutex m_lock;
    mutable std::atomic<std::thread::id> m_lockOwner{};
    // Every connection object not yet destroyed; those still in use are
    // also listed in m_aConnections, in order of creation.
    std::map<ConnectionId, std::unique_ptr<CFTPRemoteManager>> m_owned;
    std::vector<CFTPRemoteManager*> m_aConnections;
    ConnectionId m_nLastConnectionId = kNoConnection;
    std::atomic<bool> m_bEnding{false};
    OperationId m_nLastID = 0;
    std::map<OperationId, OperationRecord> m_operations;
};

} // namespace qb
