// The manager: turns user requests into numbered operations whose actions it
// queues on the right connection, and reports each operation's end once.
#pragma once

#include "dispatch/actions.h"
#include "engine/constants.h"
#include "engine/frontend.h"
#include "engine/remote_manager.h"
#include "platform/message_thread.h"

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace qb {

class CFTPSecretary;

class CFTPManager : public MessageThread, public CFTPConstants {
public:
    // Starts the manager's thread.
    explicit CFTPManager(const FrontEnd& frontEnd, HandlerTable handlers = DefaultHandlers(),
                         EngineOptions options = {});
    // Stops every connection and waits for their threads and its own.
    ~CFTPManager() override;

    void SetSecretary(CFTPSecretary* secretary) { m_pSecretary = secretary; }

    // --- Requests (user interface thread). 0 means refused. ---------------
    OperationId Connect(const std::string& host, const std::string& user,
                        const std::string& password, const std::string& folder, std::uint32_t port,
                        CallerData callerData, CFTPRemoteManager** connectionOut,
                        const FirewallSettings& firewall = {});
    OperationId Explore(const CFTPFile* folder, CallerData callerData);
    OperationId MakeFolder(const CFTPFile* folder, CallerData callerData);
    OperationId Delete(const CFTPFileArray* items, CallerData callerData);
    OperationId Rename(const CFTPFile* item, const std::string& newName,
                       std::unique_ptr<CFTPActionCallerData> callerData);
    OperationId Copy(const CFTPFile* source, const CFTPFile* dest, CallerData callerData,
                     bool move);
    OperationId CopyItems(const CFTPFileArray* items, const CFTPFile* destFolder,
                          CallerData callerData, bool move);
    OperationId MoveItems(const CFTPFileArray* items, const CFTPFile* destFolder,
                          CallerData callerData) {
        return CopyItems(items, destFolder, std::move(callerData), true);
    }
    bool Disconnect(CFTPRemoteManager* connection);

    // The stop command: cancel the running operation, with the disconnect
    // flag also ending the connections that had work.
    void PostStop(bool disconnect) { Post(MM_STOP_OPERATION, disconnect ? 1 : 0); }
    void CancelAll(bool disconnect);
    // The application is exiting: nothing is reported any more; every
    // operation is cancelled and the manager's thread ends.
    void Shutdown();

    // --- Queue operations (connection threads) ------------------------------
    CFTPAction* PeekNext(CFTPRemoteManager* connection);
    bool IsQueueEmpty(CFTPRemoteManager* connection);
    // Whether something waits behind the head.
    bool HasSecond(CFTPRemoteManager* connection);
    bool PushFront(CFTPRemoteManager* connection, std::unique_ptr<CFTPAction> action);
    bool PushFront(CFTPRemoteManager* connection, CFTPAction* subAction);
    bool InsertSecond(CFTPRemoteManager* connection, std::unique_ptr<CFTPAction> action);
    bool PushBack(CFTPRemoteManager* connection, std::unique_ptr<CFTPAction> action);
    // Takes the head off; an owned head is deleted when asked, else handed
    // back. A sub-action is never deleted here (its parent owns it).
    std::unique_ptr<CFTPAction> RemoveHead(CFTPRemoteManager* connection, bool destroy = true);
    // Moves the head action of `from` to the end of `to`'s queue and wakes
    // `to`. False (nothing moved) when `to` is no longer connected.
    bool HandOver(CFTPRemoteManager* from, CFTPRemoteManager* to);
    bool ActionDone(CFTPRemoteManager* connection);
    // Cancels every action queued on the connection.
    void CancelQueue(CFTPRemoteManager* connection);
    // The connection's server went away: end it and tell the windows.
    void ConnectionLost(CFTPRemoteManager* connection) {
        Post(MM_CONNECTION_LOST, 0, reinterpret_cast<std::intptr_t>(connection));
    }

    // The "for all files" answer of the overwrite question in this operation.
    std::uint8_t GetReplaceAll() const { return m_nReplaceAll.load(); }
    void SetReplaceAll(std::uint8_t answer) { m_nReplaceAll.store(answer); }

    // --- Inspection ---------------------------------------------------------
    std::size_t GetConnectionCount() const;
    bool IsConnected(const CFTPRemoteManager* connection) const;
    OperationId GetLastId() const;
    bool HasOperation(OperationId id) const;

protected:
    void OnMessage(const Message& msg) override;

private:
    struct CallerSlot {
        std::unique_ptr<CFTPActionCallerData> record;
        bool openFileMarker = false;
    };
    using ActionList = std::vector<std::unique_ptr<CFTPAction>>;

    // The shared tail of every request: record, announce, queue, wake.
    OperationId Submit(CFTPRemoteManager* connection, OperationId id, ActionList actions,
                       CallerSlot slot, std::uint16_t kind, const std::string& host1,
                       const std::string& host2, CFTPRemoteManager* laneTwo);
    OperationId IssueId();
    void GiveBackId(OperationId id);
    bool IsListed(const CFTPRemoteManager* connection) const;
    void Unlist(CFTPRemoteManager* connection);
    void OperationComplete(OperationId id);
    // Destroys connections whose threads have ended.
    void ReapEnded();
    static CallerSlot SlotFrom(CallerData& data);

    const FrontEnd m_frontEnd;
    const HandlerTable m_handlers;
    const EngineOptions m_options;
    CFTPSecretary* m_pSecretary = nullptr;

    // Every connection object ever created and not yet reaped; those still
    // in use are also listed in m_aConnections.
    std::vector<std::unique_ptr<CFTPRemoteManager>> m_owned;
    std::vector<CFTPRemoteManager*> m_aConnections;
    std::atomic<bool> m_bEnding{false};
    OperationId m_nLastID = 0;
    std::map<OperationId, CallerSlot> m_mapCallerData;
    std::map<OperationId, std::uint16_t> m_mapKinds;
    mutable std::recursive_mutex m_lock;
    std::atomic<std::uint8_t> m_nReplaceAll{REPLACE_NONE};
};

} // namespace qb
