#include "dispatch/manager.h"

#include "engine/secretary.h"

#include <algorithm>

namespace qb {

namespace {

// The copy kind for a source and a destination; 0 when both are local.
std::uint32_t CopyKindFor(const CFTPFile& source, const CFTPFile& dest) {
    const bool sourceRemote = source.m_pOwner != nullptr;
    const bool destRemote = dest.m_pOwner != nullptr;
    if (sourceRemote && destRemote) {
        return source.m_pOwner == dest.m_pOwner ? CFTPConstants::COPY_SAME_SITE
                                                : CFTPConstants::COPY_SITE_TO_SITE;
    }
    if (sourceRemote) {
        return CFTPConstants::COPY_DOWNLOAD;
    }
    if (destRemote) {
        return CFTPConstants::COPY_UPLOAD;
    }
    return 0;
}

// The path of `name` inside `folderPath`.
std::string JoinPath(const std::string& folderPath, const std::string& name) {
    if (folderPath.empty()) {
        return name;
    }
    if (folderPath.back() == '/') {
        return folderPath + name;
    }
    return folderPath + "/" + name;
}

} // namespace

CFTPManager::CFTPManager(const FrontEnd& frontEnd, HandlerTable handlers, EngineOptions options)
    : m_frontEnd(frontEnd), m_handlers(std::move(handlers)), m_options(options) {
    Start();
}

CFTPManager::~CFTPManager() {
    Post(MM_QUIT);
    Join();
    std::vector<std::unique_ptr<CFTPRemoteManager>> all;
    {
        std::lock_guard<std::recursive_mutex> guard(m_lock);
        for (CFTPRemoteManager* connection : m_aConnections) {
            connection->Stop();
        }
        m_aConnections.clear();
        all = std::move(m_owned);
    }
    // Each connection waits for its thread, which may still use the queue
    // operations while it drains: the lock must be free here.
    all.clear();
}

void CFTPManager::OnMessage(const Message& msg) {
    switch (msg.id) {
    case MM_QUIT:
        EndThread();
        break;
    case MM_END_CONNECTION: {
        auto* connection = reinterpret_cast<CFTPRemoteManager*>(msg.lParam);
        std::lock_guard<std::recursive_mutex> guard(m_lock);
        // Compared, never dereferenced, unless it is still listed.
        if (IsListed(connection)) {
            Unlist(connection);
            connection->Stop();
        }
        break;
    }
    case MM_CONNECTION_LOST: {
        auto* connection = reinterpret_cast<CFTPRemoteManager*>(msg.lParam);
        std::lock_guard<std::recursive_mutex> guard(m_lock);
        if (IsListed(connection)) {
            Unlist(connection);
            connection->Stop();
            m_frontEnd.Notifier().NotifyConnectionEnded(connection);
        }
        break;
    }
    case MM_STOP_OPERATION:
        CancelAll(msg.wParam != 0);
        break;
    default:
        break;
    }
}

// --- Bookkeeping -------------------------------------------------------------

OperationId CFTPManager::IssueId() {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    return ++m_nLastID;
}

void CFTPManager::GiveBackId(OperationId id) {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    if (m_nLastID == id) {
        --m_nLastID;
    }
}

bool CFTPManager::IsListed(const CFTPRemoteManager* connection) const {
    return connection && std::find(m_aConnections.begin(), m_aConnections.end(), connection) !=
                             m_aConnections.end();
}

void CFTPManager::Unlist(CFTPRemoteManager* connection) {
    m_aConnections.erase(std::remove(m_aConnections.begin(), m_aConnections.end(), connection),
                         m_aConnections.end());
}

std::size_t CFTPManager::GetConnectionCount() const {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    return m_aConnections.size();
}

bool CFTPManager::IsConnected(const CFTPRemoteManager* connection) const {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    return IsListed(connection);
}

OperationId CFTPManager::GetLastId() const {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    return m_nLastID;
}

bool CFTPManager::HasOperation(OperationId id) const {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    return m_mapKinds.count(id) != 0;
}

void CFTPManager::ReapEnded() {
    std::vector<std::unique_ptr<CFTPRemoteManager>> dead;
    {
        std::lock_guard<std::recursive_mutex> guard(m_lock);
        for (auto& owned : m_owned) {
            if (owned->HasEnded() && !IsListed(owned.get())) {
                dead.push_back(std::move(owned));
            }
        }
        m_owned.erase(std::remove(m_owned.begin(), m_owned.end(), nullptr), m_owned.end());
    }
    // Joining outside the lock; these threads have already left their loops.
}

CFTPManager::CallerSlot CFTPManager::SlotFrom(CallerData& data) {
    CallerSlot slot;
    slot.openFileMarker = data.IsOpenFileMarker();
    slot.record = data.Take();
    return slot;
}

OperationId CFTPManager::Submit(CFTPRemoteManager* connection, OperationId id, ActionList actions,
                                CallerSlot slot, std::uint16_t kind, const std::string& host1,
                                const std::string& host2, CFTPRemoteManager* laneTwo) {
    {
        std::lock_guard<std::recursive_mutex> guard(m_lock);
        m_mapCallerData[id] = std::move(slot);
        m_mapKinds[id] = kind;
    }
    m_frontEnd.Status().BeginOperation(host1, host2);
    bool queued = false;
    {
        std::lock_guard<std::recursive_mutex> guard(m_lock);
        if (IsListed(connection)) {
            connection->SetStatusLane(1);
            if (laneTwo) {
                laneTwo->SetStatusLane(2);
            }
            std::size_t appended = 0;
            queued = true;
            for (auto& action : actions) {
                if (!connection->m_actionQueue.AddTail(CFTPActionQueue::Owned(std::move(action)))) {
                    queued = false;
                    break;
                }
                ++appended;
            }
            if (!queued) {
                while (appended-- > 0) {
                    connection->m_actionQueue.RemoveTail();
                }
            }
        }
        if (queued) {
            connection->Post(RMM_NEXT);
        } else {
            m_mapCallerData.erase(id);
            m_mapKinds.erase(id);
        }
    }
    if (!queued) {
        m_frontEnd.Status().EndOperation();
        GiveBackId(id);
        return 0;
    }
    return id;
}

// --- Requests ------------------------------------------------------------------

OperationId CFTPManager::Connect(const std::string& host, const std::string& user,
                                 const std::string& password, const std::string& folder,
                                 std::uint32_t port, CallerData callerData,
                                 CFTPRemoteManager** connectionOut,
                                 const FirewallSettings& firewall) {
    if (host.empty() || user.empty() != password.empty()) {
        return 0;
    }
    ReapEnded();
    auto owned =
        std::make_unique<CFTPRemoteManager>(this, m_frontEnd, m_pSecretary, m_handlers, m_options);
    owned->m_firewall = firewall;
    CFTPRemoteManager* connection = owned.get();
    {
        std::lock_guard<std::recursive_mutex> guard(m_lock);
        m_owned.push_back(std::move(owned));
        m_aConnections.push_back(connection);
    }
    if (connectionOut) {
        *connectionOut = connection;
    }
    const OperationId id = IssueId();
    CallerSlot slot = SlotFrom(callerData);
    auto action = std::make_unique<CFTPActionConnect>(id, slot.record.get(), host, user, password,
                                                      folder, port);
    action->m_pConnection = connection;
    ActionList actions;
    actions.push_back(std::move(action));
    OperationId result = Submit(connection, id, std::move(actions), std::move(slot), KIND_CONNECT,
                                host, {}, nullptr);
    if (result == 0) {
        Disconnect(connection);
    }
    return result;
}

OperationId CFTPManager::Explore(const CFTPFile* folder, CallerData callerData) {
    if (!folder || !folder->m_pOwner) {
        return 0;
    }
    const OperationId id = IssueId();
    CallerSlot slot = SlotFrom(callerData);
    ActionList actions;
    actions.push_back(std::make_unique<CFTPActionDir>(id, slot.record.get(), folder));
    return Submit(folder->m_pOwner, id, std::move(actions), std::move(slot), KIND_DIR,
                  folder->m_pOwner->GetHostName(), {}, nullptr);
}

OperationId CFTPManager::MakeFolder(const CFTPFile* folder, CallerData callerData) {
    if (!folder || !folder->m_pOwner) {
        return 0;
    }
    const OperationId id = IssueId();
    CallerSlot slot = SlotFrom(callerData);
    ActionList actions;
    actions.push_back(std::make_unique<CFTPActionMd>(id, slot.record.get(), folder));
    return Submit(folder->m_pOwner, id, std::move(actions), std::move(slot), KIND_MD,
                  folder->m_pOwner->GetHostName(), {}, nullptr);
}

OperationId CFTPManager::Delete(const CFTPFileArray* items, CallerData callerData) {
    if (!items || items->IsEmpty() || !items->GetAt(0)->m_pOwner) {
        return 0;
    }
    CFTPRemoteManager* connection = items->GetAt(0)->m_pOwner;
    const OperationId id = IssueId();
    CallerSlot slot = SlotFrom(callerData);
    ActionList actions;
    for (std::size_t i = 0; i < items->GetSize(); ++i) {
        actions.push_back(std::make_unique<CFTPActionDel>(id, slot.record.get(), items->GetAt(i)));
    }
    return Submit(connection, id, std::move(actions), std::move(slot), KIND_DEL,
                  connection->GetHostName(), {}, nullptr);
}

OperationId CFTPManager::Rename(const CFTPFile* item, const std::string& newName,
                                std::unique_ptr<CFTPActionCallerData> callerData) {
    if (!item || newName.empty() || !item->m_pOwner) {
        return 0;
    }
    std::string path = item->GetPath(false);
    auto slash = path.rfind('/');
    std::string newPath =
        (slash == std::string::npos ? std::string() : path.substr(0, slash + 1)) + newName;
    CFTPFile newItem(newPath, item->m_pOwner, item->m_bFile);
    const OperationId id = IssueId();
    ActionList actions;
    // The rename action owns its caller data; the maps hold none for it.
    actions.push_back(std::make_unique<CFTPActionRen>(id, std::move(callerData), item, &newItem));
    return Submit(item->m_pOwner, id, std::move(actions), CallerSlot{}, KIND_REN,
                  item->m_pOwner->GetHostName(), {}, nullptr);
}

OperationId CFTPManager::Copy(const CFTPFile* source, const CFTPFile* dest, CallerData callerData,
                              bool move) {
    if (!source || !dest) {
        return 0;
    }
    std::uint32_t kind = CopyKindFor(*source, *dest);
    if (kind == 0) {
        return 0;
    }
    CFTPRemoteManager* receiving = kind == COPY_UPLOAD ? dest->m_pOwner : source->m_pOwner;
    CFTPRemoteManager* laneTwo = kind == COPY_SITE_TO_SITE ? dest->m_pOwner : nullptr;
    const OperationId id = IssueId();
    CallerSlot slot = SlotFrom(callerData);
    auto action = std::make_unique<CFTPActionCopy>(id, slot.record.get(), source, dest,
                                                   kind | (move ? std::uint32_t{COPY_MOVE} : 0u));
    if (slot.openFileMarker) {
        action->SetOpenWhenDone(&m_frontEnd.App());
    }
    ActionList actions;
    actions.push_back(std::move(action));
    return Submit(receiving, id, std::move(actions), std::move(slot), KIND_COPY,
                  receiving->GetHostName(), laneTwo ? laneTwo->GetHostName() : std::string(),
                  laneTwo);
}

OperationId CFTPManager::CopyItems(const CFTPFileArray* items, const CFTPFile* destFolder,
                                   CallerData callerData, bool move) {
    if (!items || items->IsEmpty() || !destFolder) {
        return 0;
    }
    std::uint32_t kind = CopyKindFor(*items->GetAt(0), *destFolder);
    if (kind == 0) {
        return 0;
    }
    CFTPRemoteManager* receiving =
        kind == COPY_UPLOAD ? destFolder->m_pOwner : items->GetAt(0)->m_pOwner;
    CFTPRemoteManager* laneTwo = kind == COPY_SITE_TO_SITE ? destFolder->m_pOwner : nullptr;
    const std::string folderPath = destFolder->GetPath(false);
    const OperationId id = IssueId();
    CallerSlot slot = SlotFrom(callerData);
    ActionList actions;
    for (std::size_t i = 0; i < items->GetSize(); ++i) {
        const CFTPFile* item = items->GetAt(i);
        CFTPFile destItem(JoinPath(folderPath, item->GetName()), destFolder->m_pOwner,
                          item->m_bFile);
        auto action = std::make_unique<CFTPActionCopy>(
            id, slot.record.get(), item, &destItem, kind | (move ? std::uint32_t{COPY_MOVE} : 0u));
        if (slot.openFileMarker) {
            action->SetOpenWhenDone(&m_frontEnd.App());
        }
        actions.push_back(std::move(action));
    }
    return Submit(receiving, id, std::move(actions), std::move(slot), KIND_COPY,
                  receiving->GetHostName(), laneTwo ? laneTwo->GetHostName() : std::string(),
                  laneTwo);
}

bool CFTPManager::Disconnect(CFTPRemoteManager* connection) {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    if (!IsListed(connection)) {
        return false;
    }
    Unlist(connection);
    connection->Stop();
    return true;
}

// --- Stop and shut-down ----------------------------------------------------------

void CFTPManager::CancelAll(bool disconnect) {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    bool noted = false;
    OperationId notedId = 0;
    for (std::size_t i = m_aConnections.size(); i-- > 0;) {
        CFTPRemoteManager* connection = m_aConnections[i];
        if (connection->m_actionQueue.IsEmpty()) {
            continue;
        }
        if (disconnect) {
            notedId = connection->m_actionQueue.Peek()->m_nID;
            noted = true;
        }
        connection->m_actionQueue.CancelAll();
        connection->WakeUp();
        connection->Post(RMM_NEXT); // a connect waiting to try again ends now
        if (disconnect) {
            connection->Stop();
            m_aConnections.erase(m_aConnections.begin() + static_cast<std::ptrdiff_t>(i));
            m_frontEnd.Notifier().NotifyConnectionEnded(connection);
        }
    }
    if (noted) {
        OperationComplete(notedId);
    }
}

void CFTPManager::Shutdown() {
    if (m_pSecretary) {
        m_pSecretary->m_bShutdown = true;
    }
    m_bEnding = true;
    CancelAll(false);
    Post(MM_QUIT);
    Join();
}

void CFTPManager::OperationComplete(OperationId id) {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    m_nReplaceAll = REPLACE_NONE;
    const bool ending = m_bEnding.load();
    CallerSlot slot;
    auto callerIt = m_mapCallerData.find(id);
    auto kindIt = m_mapKinds.find(id);
    if (!ending && callerIt != m_mapCallerData.end() && kindIt != m_mapKinds.end()) {
        slot = std::move(callerIt->second);
        const std::uint16_t kind = kindIt->second;
        m_mapCallerData.erase(callerIt);
        m_mapKinds.erase(kindIt);
        if (m_pSecretary) {
            m_pSecretary->OperationDone(id, kind, slot.record.get());
        }
        m_frontEnd.App().OperationEnded();
        m_frontEnd.Notifier().NotifyOperationFinished();
        m_frontEnd.Status().EndOperation();
    }
    slot.record.reset();
    if (!ending) {
        m_frontEnd.Notifier().NotifyIdle();
    }
}

// --- Queue operations -------------------------------------------------------------

CFTPAction* CFTPManager::PeekNext(CFTPRemoteManager* connection) {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    return connection->m_actionQueue.Peek();
}

bool CFTPManager::IsQueueEmpty(CFTPRemoteManager* connection) {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    return connection->m_actionQueue.IsEmpty();
}

bool CFTPManager::HasSecond(CFTPRemoteManager* connection) {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    return connection->m_actionQueue.GetCount() > 1;
}

bool CFTPManager::PushFront(CFTPRemoteManager* connection, std::unique_ptr<CFTPAction> action) {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    return connection->m_actionQueue.AddHead(CFTPActionQueue::Owned(std::move(action)));
}

bool CFTPManager::PushFront(CFTPRemoteManager* connection, CFTPAction* subAction) {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    return connection->m_actionQueue.AddHead(CFTPActionQueue::Borrowed(subAction));
}

bool CFTPManager::InsertSecond(CFTPRemoteManager* connection, std::unique_ptr<CFTPAction> action) {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    return connection->m_actionQueue.InsertSecond(CFTPActionQueue::Owned(std::move(action)));
}

bool CFTPManager::PushBack(CFTPRemoteManager* connection, std::unique_ptr<CFTPAction> action) {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    return connection->m_actionQueue.AddTail(CFTPActionQueue::Owned(std::move(action)));
}

std::unique_ptr<CFTPAction> CFTPManager::RemoveHead(CFTPRemoteManager* connection, bool destroy) {
    std::unique_ptr<CFTPAction> owned;
    {
        std::lock_guard<std::recursive_mutex> guard(m_lock);
        owned = std::move(connection->m_actionQueue.RemoveHead(false).owned);
        if (!destroy) {
            return owned;
        }
    }
    // Deleted outside the lock: a linked child's destructor only touches
    // its own shared counters.
    return nullptr;
}

bool CFTPManager::HandOver(CFTPRemoteManager* from, CFTPRemoteManager* to) {
    {
        std::lock_guard<std::recursive_mutex> guard(m_lock);
        if (!IsListed(to)) {
            return false;
        }
        CFTPActionQueue::Entry head = from->m_actionQueue.RemoveHead(false);
        if (!to->m_actionQueue.AddTail(std::move(head))) {
            from->m_actionQueue.AddHead(std::move(head));
            return false;
        }
        from->m_pAction = nullptr;
        to->Post(RMM_NEXT);
        // The connection handing over goes on with the rest of its queue.
        from->Post(RMM_NEXT);
    }
    return true;
}

void CFTPManager::CancelQueue(CFTPRemoteManager* connection) {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    connection->m_actionQueue.CancelAll();
}

bool CFTPManager::ActionDone(CFTPRemoteManager* connection) {
    CFTPRemoteManager* toEnd = nullptr;
    std::unique_ptr<CFTPAction> finished;
    {
        std::lock_guard<std::recursive_mutex> guard(m_lock);
        if (connection->IsStopRequested()) {
            return false;
        }
        CFTPAction* head = connection->m_actionQueue.Peek();
        if (head && head->m_nKind == KIND_CONNECT && !head->Succeeded()) {
            toEnd = connection;
        }
        connection->m_pAction = nullptr;
        connection->CloseDataSockets();
        if (head && !m_bEnding && m_pSecretary) {
            m_pSecretary->ActionDone(*head);
        }
        const OperationId id = head ? head->m_nID : 0;
        finished = std::move(connection->m_actionQueue.RemoveHead(false).owned);
        // The action goes before the operation is declared complete, so that
        // whatever it does on its way out happens first.
        finished.reset();
        const bool anyLeft =
            std::any_of(m_aConnections.begin(), m_aConnections.end(),
                        [](CFTPRemoteManager* c) { return !c->m_actionQueue.IsEmpty(); });
        if (!anyLeft || m_bEnding) {
            OperationComplete(id);
        }
    }
    if (toEnd && !m_bEnding) {
        Post(MM_END_CONNECTION, 0, reinterpret_cast<std::intptr_t>(toEnd));
    }
    return true;
}

} // namespace qb
