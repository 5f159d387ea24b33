#include "dispatch/manager.h"

#include "engine/secretary.h"

#include <algorithm>
#include <cassert>

namespace qb {

namespace {

// The copy kind for a source and a destination; 0 when both are local.
std::uint32_t CopyKindFor(const CFTPFile& source, const CFTPFile& dest) {
    const bool sourceRemote = source.IsRemote();
    const bool destRemote = dest.IsRemote();
    if (sourceRemote && destRemote) {
        return source.m_nConnection == dest.m_nConnection ? CFTPConstants::COPY_SAME_SITE
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

// Whether every item is on the connection of the first.
bool AllOnOneConnection(const CFTPFileArray& items) {
    for (std::size_t i = 1; i < items.GetSize(); ++i) {
        if (items.GetAt(i)->m_nConnection != items.GetAt(0)->m_nConnection) {
            return false;
        }
    }
    return true;
}

const char* const kNotConnected = "The site is not connected (any more).";
const char* const kMixedSites = "The items belong to different sites; one request takes the "
                                "items of one site at a time.";

} // namespace

// --- The lock ------------------------------------------------------------------

CFTPManager::Guard::Guard(const CFTPManager& manager) : m_manager(manager), m_lock(manager.m_lock) {
    m_manager.m_lockOwner.store(std::this_thread::get_id());
}

CFTPManager::Guard::~Guard() {
    m_manager.m_lockOwner.store(std::thread::id{});
}

// --- Life ----------------------------------------------------------------------

CFTPManager::CFTPManager(const FrontEnd& frontEnd, HandlerTable handlers, EngineOptions options)
    : m_frontEnd(frontEnd), m_handlers(std::move(handlers)), m_options(options),
      m_questions(frontEnd.questionSink) {
    Start();
}

CFTPManager::~CFTPManager() {
    Post(MM_QUIT);
    Join();
    // A connection thread waiting for an answer must not hold up the end.
    m_questions.Close();
    std::map<ConnectionId, std::unique_ptr<CFTPRemoteManager>> all;
    {
        Guard guard(*this);
        for (CFTPRemoteManager* connection : m_aConnections) {
            connection->m_bDetached = true;
            connection->Stop();
        }
        m_aConnections.clear();
        all.swap(m_owned);
    }
    // Each connection waits for its thread, which may still use the queue
    // operations while it drains: the lock must be free here.
    all.clear();
}

void CFTPManager::OnMessage(const Message& msg) {
    const auto id = static_cast<ConnectionId>(msg.lParam);
    switch (msg.id) {
    case MM_QUIT:
        EndThread();
        break;
    case MM_END_CONNECTION:
        Disconnect(id);
        break;
    case MM_CONNECTION_LOST: {
        Deferred deferred;
        {
            Guard guard(*this);
            if (CFTPRemoteManager* connection = FindListed(id)) {
                Detach(connection, deferred);
                connection->Stop();
                deferred.connectionsEnded.push_back(id);
            }
        }
        Deliver(deferred);
        break;
    }
    case MM_CONNECTION_ENDED:
        Reap(id);
        break;
    case MM_STOP_OPERATION:
        CancelAll(msg.wParam != 0);
        break;
    default:
        break;
    }
}

void CFTPManager::Reap(ConnectionId id) {
    std::unique_ptr<CFTPRemoteManager> dead;
    {
        Guard guard(*this);
        auto it = m_owned.find(id);
        if (it != m_owned.end() && it->second->m_bDetached) {
            dead = std::move(it->second);
            m_owned.erase(it);
        }
    }
    // Joined outside the lock; the thread has left its loop already.
    dead.reset();
}

// --- Bookkeeping (lock held) ------------------------------------------------------

CFTPRemoteManager* CFTPManager::FindListed(ConnectionId id) const {
    if (id == kNoConnection) {
        return nullptr;
    }
    auto it = m_owned.find(id);
    if (it == m_owned.end() || it->second->m_bDetached) {
        return nullptr;
    }
    return it->second.get();
}

bool CFTPManager::IsEarlierSessionEnding(const CFTPRemoteManager* connection) const {
    Guard guard(*this);
    for (const auto& [id, other] : m_owned) {
        if (id < connection->GetId() && other->m_bDetached && !other->HasEnded() &&
            other->m_strSiteKey == connection->m_strSiteKey) {
            return true;
        }
    }
    return false;
}

bool CFTPManager::IsAttached(const CFTPRemoteManager* connection) const {
    return connection && !connection->m_bDetached;
}

void CFTPManager::CountIn(const CFTPRemoteManager* connection, const CFTPAction* action) {
    if (!action || !IsAttached(connection)) {
        return;
    }
    auto it = m_operations.find(action->m_nID);
    if (it != m_operations.end()) {
        ++it->second.pending;
    }
}

void CFTPManager::CountOut(const CFTPRemoteManager* connection, OperationId id,
                           Deferred& deferred) {
    if (!IsAttached(connection)) {
        return;
    }
    auto it = m_operations.find(id);
    if (it == m_operations.end() || it->second.pending == 0) {
        return;
    }
    if (--it->second.pending == 0) {
        ExtractOperation(id, deferred);
    }
}

void CFTPManager::ExtractOperation(OperationId id, Deferred& deferred) {
    auto it = m_operations.find(id);
    if (it == m_operations.end()) {
        return;
    }
    OperationRecord record = std::move(it->second);
    m_operations.erase(it);
    record.report.stillRunning = m_operations.size();
    deferred.ended.push_back(std::move(record));
}

void CFTPManager::RecordResult(const CFTPAction& action) {
    if (action.m_bSubAction) {
        return;
    }
    auto it = m_operations.find(action.m_nID);
    if (it == m_operations.end()) {
        return;
    }
    OperationReport& report = it->second.report;
    if (action.Succeeded()) {
        if (action.m_nKind == KIND_COPY) {
            const auto& copy = static_cast<const CFTPActionCopy&>(action);
            if (copy.m_pSource && copy.m_pSource->m_bFile) {
                ++report.filesMoved;
                report.bytesMoved += copy.m_nMoved;
            }
        }
        return;
    }
    report.succeeded = false;
    if (action.IsCancelled()) {
        report.cancelled = true;
        return;
    }
    ++report.failedCount;
    if (report.messages.size() < OperationReport::kMaxMessages) {
        report.messages.push_back(action.JoinedMessages());
    }
}

void CFTPManager::Detach(CFTPRemoteManager* connection, Deferred& deferred) {
    if (!IsAttached(connection)) {
        return;
    }
    // Counted out while still attached, then never again.
    for (std::size_t i = 0; i < connection->m_actionQueue.GetCount(); ++i) {
        const CFTPAction* action = connection->m_actionQueue.GetAt(i);
        if (!action) {
            continue;
        }
        auto it = m_operations.find(action->m_nID);
        if (it != m_operations.end()) {
            it->second.report.succeeded = false;
            it->second.report.cancelled = true;
        }
        CountOut(connection, action->m_nID, deferred);
    }
    connection->m_bDetached = true;
    m_aConnections.erase(std::remove(m_aConnections.begin(), m_aConnections.end(), connection),
                         m_aConnections.end());
}

// --- Delivery (lock free) ------------------------------------------------------------

void CFTPManager::Deliver(Deferred& deferred) {
    assert(!LockHeldHere());
    for (OperationRecord& record : deferred.ended) {
        DeliverOperationEnd(record);
    }
    if (!m_bEnding) {
        for (ConnectionId id : deferred.connectionsEnded) {
            m_frontEnd.Notifier().NotifyConnectionEnded(id);
        }
    }
    deferred = Deferred{};
}

void CFTPManager::DeliverOperationEnd(OperationRecord& record) {
    assert(!LockHeldHere());
    const bool ending = m_bEnding.load();
    if (!ending) {
        const OperationReport& report = record.report;
        if (m_pSecretary) {
            m_pSecretary->OperationDone(report.id, record.kind, record.slot.record.get());
        }
        if (report.stillRunning == 0) {
            m_frontEnd.App().OperationEnded();
        }
        m_frontEnd.Notifier().NotifyOperationFinished();
        m_frontEnd.Status().EndOperation();
        m_frontEnd.Completion().OnOperationEnded(report);
    }
    record.slot.record.reset();
    if (!ending) {
        m_frontEnd.Notifier().NotifyIdle();
    }
}

// --- Ids and slots -------------------------------------------------------------------

OperationId CFTPManager::IssueId() {
    Guard guard(*this);
    return ++m_nLastID;
}

void CFTPManager::GiveBackId(OperationId id) {
    Guard guard(*this);
    if (m_nLastID == id) {
        --m_nLastID;
    }
}

CFTPManager::CallerSlot CFTPManager::SlotFrom(CallerData& data) {
    CallerSlot slot;
    slot.openFileMarker = data.IsOpenFileMarker();
    slot.streamFd = data.StreamFd();
    slot.record = data.Take();
    return slot;
}

OperationId CFTPManager::Refuse(std::string* why, const char* text) {
    if (why) {
        *why = text;
    }
    return 0;
}

// --- Inspection -------------------------------------------------------------------------

std::size_t CFTPManager::GetConnectionCount() const {
    Guard guard(*this);
    return m_aConnections.size();
}

bool CFTPManager::IsConnected(ConnectionId connection) const {
    Guard guard(*this);
    return FindListed(connection) != nullptr;
}

CFTPRemoteManager* CFTPManager::FindConnection(ConnectionId connection) const {
    Guard guard(*this);
    return FindListed(connection);
}

std::size_t CFTPManager::GetOwnedCount() const {
    Guard guard(*this);
    return m_owned.size();
}

OperationId CFTPManager::GetLastId() const {
    Guard guard(*this);
    return m_nLastID;
}

bool CFTPManager::HasOperation(OperationId id) const {
    Guard guard(*this);
    return m_operations.count(id) != 0;
}

std::size_t CFTPManager::GetRunningCount() const {
    Guard guard(*this);
    return m_operations.size();
}

std::uint8_t CFTPManager::GetReplaceAll(OperationId id) const {
    Guard guard(*this);
    auto it = m_operations.find(id);
    return it == m_operations.end() ? std::uint8_t{REPLACE_NONE} : it->second.replaceAll;
}

void CFTPManager::SetReplaceAll(OperationId id, std::uint8_t answer) {
    Guard guard(*this);
    auto it = m_operations.find(id);
    if (it != m_operations.end()) {
        it->second.replaceAll = answer;
    }
}

// --- Requests ---------------------------------------------------------------------------

OperationId CFTPManager::Submit(ConnectionId connectionId, ActionList actions, CallerSlot slot,
                                std::uint16_t kind, ConnectionId laneTwoId, std::string* why) {
    const OperationId id = actions.empty() ? 0 : actions.front()->m_nID;
    std::string host1;
    std::string host2;
    bool listed = false;
    {
        Guard guard(*this);
        CFTPRemoteManager* connection = FindListed(connectionId);
        CFTPRemoteManager* laneTwo = FindListed(laneTwoId);
        listed = connection && (laneTwoId == kNoConnection || laneTwo);
        if (listed) {
            host1 = connection->GetHostName();
            host2 = laneTwo ? laneTwo->GetHostName() : std::string();
        }
    }
    if (!listed) {
        GiveBackId(id);
        return Refuse(why, kNotConnected);
    }
    // The status bar shows the operation before any step of it can.
    m_frontEnd.Status().BeginOperation(host1, host2);
    bool queued = false;
    {
        Guard guard(*this);
        CFTPRemoteManager* connection = FindListed(connectionId);
        CFTPRemoteManager* laneTwo = FindListed(laneTwoId);
        if (connection && (laneTwoId == kNoConnection || laneTwo)) {
            // Recorded before any action can run, so that a connection that
            // finishes at once finds the operation.
            OperationRecord& record = m_operations[id];
            record.slot = std::move(slot);
            record.kind = kind;
            record.report.id = id;
            record.report.kind = kind;
            connection->SetStatusLane(1);
            if (laneTwo) {
                laneTwo->SetStatusLane(2);
            }
            std::size_t appended = 0;
            queued = true;
            for (auto& action : actions) {
                const CFTPAction* raw = action.get();
                if (!connection->m_actionQueue.AddTail(CFTPActionQueue::Owned(std::move(action)))) {
                    queued = false;
                    break;
                }
                CountIn(connection, raw);
                ++appended;
            }
            if (queued) {
                connection->Post(RMM_NEXT);
            } else {
                while (appended-- > 0) {
                    connection->m_actionQueue.RemoveTail();
                }
                m_operations.erase(id);
            }
        }
    }
    if (!queued) {
        m_frontEnd.Status().EndOperation();
        GiveBackId(id);
        return Refuse(why, kNotConnected);
    }
    return id;
}

OperationId CFTPManager::Connect(const std::string& host, const std::string& user,
                                 const std::string& password, const std::string& folder,
                                 std::uint32_t port, CallerData callerData,
                                 ConnectionId* connectionOut, const FirewallSettings& firewall,
                                 std::string* why) {
    if (host.empty()) {
        return Refuse(why, "No host name was given.");
    }
    if (user.empty() != password.empty()) {
        return Refuse(why, "A user name and a password go together: give both or neither.");
    }
    ConnectionId connectionId = kNoConnection;
    {
        Guard guard(*this);
        connectionId = ++m_nLastConnectionId;
    }
    auto owned = std::make_unique<CFTPRemoteManager>(this, connectionId, m_frontEnd, m_pSecretary,
                                                     m_handlers, m_options);
    owned->m_firewall = firewall;
    owned->m_strSiteKey = host + ":" + std::to_string(port);
    owned->SetHostName(host);
    CFTPRemoteManager* connection = owned.get();
    {
        Guard guard(*this);
        m_owned.emplace(connectionId, std::move(owned));
        m_aConnections.push_back(connection);
    }
    const OperationId id = IssueId();
    CallerSlot slot = SlotFrom(callerData);
    auto action = std::make_unique<CFTPActionConnect>(id, slot.record.get(), host, user, password,
                                                      folder, port);
    action->m_nConnection = connectionId;
    ActionList actions;
    actions.push_back(std::move(action));
    const OperationId result =
        Submit(connectionId, std::move(actions), std::move(slot), KIND_CONNECT, kNoConnection, why);
    if (result == 0) {
        Disconnect(connectionId);
    } else if (connectionOut) {
        *connectionOut = connectionId;
    }
    return result;
}

OperationId CFTPManager::Explore(const CFTPFile* folder, CallerData callerData, std::string* why,
                                 std::shared_ptr<IListingSink> sink) {
    if (!folder || !folder->IsRemote()) {
        return Refuse(why, "Only a remote folder can be explored.");
    }
    const OperationId id = IssueId();
    CallerSlot slot = SlotFrom(callerData);
    ActionList actions;
    auto dir = std::make_unique<CFTPActionDir>(id, slot.record.get(), folder);
    dir->m_pSink = std::move(sink);
    actions.push_back(std::move(dir));
    return Submit(folder->m_nConnection, std::move(actions), std::move(slot), KIND_DIR,
                  kNoConnection, why);
}

OperationId CFTPManager::MakeFolder(const CFTPFile* folder, CallerData callerData,
                                    std::string* why) {
    if (!folder || !folder->IsRemote()) {
        return Refuse(why, "Only a remote folder can be created here.");
    }
    const OperationId id = IssueId();
    CallerSlot slot = SlotFrom(callerData);
    ActionList actions;
    actions.push_back(std::make_unique<CFTPActionMd>(id, slot.record.get(), folder));
    return Submit(folder->m_nConnection, std::move(actions), std::move(slot), KIND_MD,
                  kNoConnection, why);
}

OperationId CFTPManager::Delete(const CFTPFileArray* items, CallerData callerData,
                                std::string* why) {
    if (!items || items->IsEmpty() || !items->GetAt(0)->IsRemote()) {
        return Refuse(why, "Nothing remote to delete.");
    }
    if (!AllOnOneConnection(*items)) {
        return Refuse(why, kMixedSites);
    }
    const OperationId id = IssueId();
    CallerSlot slot = SlotFrom(callerData);
    ActionList actions;
    for (std::size_t i = 0; i < items->GetSize(); ++i) {
        actions.push_back(std::make_unique<CFTPActionDel>(id, slot.record.get(), items->GetAt(i)));
    }
    return Submit(items->GetAt(0)->m_nConnection, std::move(actions), std::move(slot), KIND_DEL,
                  kNoConnection, why);
}

OperationId CFTPManager::Rename(const CFTPFile* item, const std::string& newName,
                                std::unique_ptr<CFTPActionCallerData> callerData,
                                std::string* why) {
    if (!item || !item->IsRemote()) {
        return Refuse(why, "Only a remote item can be renamed here.");
    }
    if (newName.empty()) {
        return Refuse(why, "The new name is empty.");
    }
    std::string path = item->GetPath(false);
    auto slash = path.rfind('/');
    std::string newPath =
        (slash == std::string::npos ? std::string() : path.substr(0, slash + 1)) + newName;
    CFTPFile newItem(newPath, item->GetSite(), item->m_bFile);
    const OperationId id = IssueId();
    ActionList actions;
    // The rename action owns its caller data; the operation holds none.
    actions.push_back(std::make_unique<CFTPActionRen>(id, std::move(callerData), item, &newItem));
    return Submit(item->m_nConnection, std::move(actions), CallerSlot{}, KIND_REN, kNoConnection,
                  why);
}

OperationId CFTPManager::RenameTo(const CFTPFile* item, const CFTPFile* dest, std::string* why) {
    if (!item || !dest || !item->IsRemote() || !dest->IsRemote() ||
        item->m_nConnection != dest->m_nConnection) {
        return Refuse(why, "A rename needs two places on one site.");
    }
    if (dest->GetPath(false).empty()) {
        return Refuse(why, "The new name is empty.");
    }
    const OperationId id = IssueId();
    ActionList actions;
    actions.push_back(
        std::make_unique<CFTPActionRen>(id, std::unique_ptr<CFTPActionCallerData>(), item, dest));
    return Submit(item->m_nConnection, std::move(actions), CallerSlot{}, KIND_REN, kNoConnection,
                  why);
}

OperationId CFTPManager::Copy(const CFTPFile* source, const CFTPFile* dest, CallerData callerData,
                              bool move, std::string* why) {
    if (!source || !dest) {
        return Refuse(why, "A copy needs a source and a destination.");
    }
    const std::uint32_t kind = CopyKindFor(*source, *dest);
    if (kind == 0) {
        return Refuse(why, "One end of a copy must be on a site.");
    }
    if (callerData.StreamFd() >= 0 && (kind != COPY_DOWNLOAD || !source->m_bFile || move)) {
        return Refuse(why, "Only the download of one file goes to a stream.");
    }
    const ConnectionId receiving =
        kind == COPY_UPLOAD ? dest->m_nConnection : source->m_nConnection;
    const ConnectionId laneTwo = kind == COPY_SITE_TO_SITE ? dest->m_nConnection : kNoConnection;
    const OperationId id = IssueId();
    CallerSlot slot = SlotFrom(callerData);
    auto action = std::make_unique<CFTPActionCopy>(id, slot.record.get(), source, dest,
                                                   kind | (move ? std::uint32_t{COPY_MOVE} : 0u));
    if (slot.openFileMarker) {
        action->SetOpenWhenDone(&m_frontEnd.App());
    }
    if (slot.streamFd >= 0) {
        action->SetDestStream(slot.streamFd);
    }
    ActionList actions;
    actions.push_back(std::move(action));
    return Submit(receiving, std::move(actions), std::move(slot), KIND_COPY, laneTwo, why);
}

OperationId CFTPManager::CopyItems(const CFTPFileArray* items, const CFTPFile* destFolder,
                                   CallerData callerData, bool move, std::string* why) {
    if (!items || items->IsEmpty() || !destFolder) {
        return Refuse(why, "A copy needs items and a destination folder.");
    }
    if (!AllOnOneConnection(*items)) {
        return Refuse(why, kMixedSites);
    }
    const std::uint32_t kind = CopyKindFor(*items->GetAt(0), *destFolder);
    if (kind == 0) {
        return Refuse(why, "One end of a copy must be on a site.");
    }
    const ConnectionId receiving =
        kind == COPY_UPLOAD ? destFolder->m_nConnection : items->GetAt(0)->m_nConnection;
    const ConnectionId laneTwo =
        kind == COPY_SITE_TO_SITE ? destFolder->m_nConnection : kNoConnection;
    const std::string folderPath = destFolder->GetPath(false);
    const OperationId id = IssueId();
    CallerSlot slot = SlotFrom(callerData);
    ActionList actions;
    for (std::size_t i = 0; i < items->GetSize(); ++i) {
        const CFTPFile* item = items->GetAt(i);
        CFTPFile destItem(JoinPath(folderPath, item->GetName()), destFolder->GetSite(),
                          item->m_bFile);
        auto action = std::make_unique<CFTPActionCopy>(
            id, slot.record.get(), item, &destItem, kind | (move ? std::uint32_t{COPY_MOVE} : 0u));
        if (slot.openFileMarker) {
            action->SetOpenWhenDone(&m_frontEnd.App());
        }
        actions.push_back(std::move(action));
    }
    return Submit(receiving, std::move(actions), std::move(slot), KIND_COPY, laneTwo, why);
}

bool CFTPManager::Disconnect(ConnectionId id) {
    Deferred deferred;
    {
        Guard guard(*this);
        CFTPRemoteManager* connection = FindListed(id);
        if (!connection) {
            return false;
        }
        Detach(connection, deferred);
        connection->Stop();
    }
    // A question its thread is waiting on would keep it from ending.
    m_questions.WithdrawConnection(id);
    Deliver(deferred);
    return true;
}

// --- Stop and shut-down ----------------------------------------------------------------

void CFTPManager::CancelAll(bool disconnect) {
    Deferred deferred;
    {
        Guard guard(*this);
        const std::vector<CFTPRemoteManager*> listed = m_aConnections;
        for (std::size_t i = listed.size(); i-- > 0;) {
            CFTPRemoteManager* connection = listed[i];
            if (connection->m_actionQueue.IsEmpty()) {
                continue;
            }
            connection->m_actionQueue.CancelAll();
            connection->WakeUp();
            connection->Post(RMM_NEXT); // a connect waiting to try again ends now
            if (disconnect) {
                Detach(connection, deferred);
                connection->Stop();
                deferred.connectionsEnded.push_back(connection->GetId());
            }
        }
    }
    // The asking threads go on with their cancel answers.
    m_questions.WithdrawAll();
    Deliver(deferred);
}

void CFTPManager::Shutdown() {
    if (m_pSecretary) {
        m_pSecretary->m_bShutdown = true;
    }
    m_bEnding = true;
    m_questions.Close();
    CancelAll(false);
    Post(MM_QUIT);
    Join();
}

// --- Queue operations -------------------------------------------------------------------

CFTPAction* CFTPManager::PeekNext(CFTPRemoteManager* connection) {
    Guard guard(*this);
    return connection->m_actionQueue.Peek();
}

bool CFTPManager::IsQueueEmpty(CFTPRemoteManager* connection) {
    Guard guard(*this);
    return connection->m_actionQueue.IsEmpty();
}

bool CFTPManager::HasSecond(CFTPRemoteManager* connection) {
    Guard guard(*this);
    return connection->m_actionQueue.GetCount() > 1;
}

bool CFTPManager::PushFront(CFTPRemoteManager* connection, std::unique_ptr<CFTPAction> action) {
    Guard guard(*this);
    const CFTPAction* raw = action.get();
    if (!connection->m_actionQueue.AddHead(CFTPActionQueue::Owned(std::move(action)))) {
        return false;
    }
    CountIn(connection, raw);
    return true;
}

bool CFTPManager::PushFront(CFTPRemoteManager* connection, CFTPAction* subAction) {
    Guard guard(*this);
    if (!connection->m_actionQueue.AddHead(CFTPActionQueue::Borrowed(subAction))) {
        return false;
    }
    CountIn(connection, subAction);
    return true;
}

bool CFTPManager::InsertSecond(CFTPRemoteManager* connection, std::unique_ptr<CFTPAction> action) {
    Guard guard(*this);
    const CFTPAction* raw = action.get();
    if (!connection->m_actionQueue.InsertSecond(CFTPActionQueue::Owned(std::move(action)))) {
        return false;
    }
    CountIn(connection, raw);
    return true;
}

bool CFTPManager::PushBack(CFTPRemoteManager* connection, std::unique_ptr<CFTPAction> action) {
    Guard guard(*this);
    const CFTPAction* raw = action.get();
    if (!connection->m_actionQueue.AddTail(CFTPActionQueue::Owned(std::move(action)))) {
        return false;
    }
    CountIn(connection, raw);
    return true;
}

void CFTPManager::RemoveHead(CFTPRemoteManager* connection) {
    CFTPActionQueue::Entry head;
    Deferred deferred;
    {
        Guard guard(*this);
        head = connection->m_actionQueue.RemoveHead(false);
        if (head.action) {
            CountOut(connection, head.action->m_nID, deferred);
        }
    }
    // Deleted outside the lock.
    head.owned.reset();
    Deliver(deferred);
}

bool CFTPManager::RequeueHead(CFTPRemoteManager* connection) {
    Guard guard(*this);
    CFTPActionQueue::Entry head = connection->m_actionQueue.RemoveHead(false);
    if (!head.action) {
        return false;
    }
    if (!connection->m_actionQueue.AddTail(std::move(head))) {
        connection->m_actionQueue.AddHead(std::move(head));
        return false;
    }
    return true;
}

bool CFTPManager::HandOver(CFTPRemoteManager* from, ConnectionId toId) {
    Guard guard(*this);
    CFTPRemoteManager* to = FindListed(toId);
    if (!to || !IsAttached(from) || to == from) {
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
    return true;
}

void CFTPManager::CancelQueue(CFTPRemoteManager* connection) {
    Guard guard(*this);
    connection->m_actionQueue.CancelAll();
}

bool CFTPManager::ActionDone(CFTPRemoteManager* connection) {
    bool endConnection = false;
    CFTPActionQueue::Entry finished;
    Deferred deferred;
    {
        Guard guard(*this);
        if (!IsAttached(connection) || connection->IsStopRequested()) {
            return false;
        }
        CFTPAction* head = connection->m_actionQueue.Peek();
        if (head && head->m_nKind == KIND_CONNECT && !head->Succeeded()) {
            endConnection = true;
        }
        connection->m_pAction = nullptr;
        finished = connection->m_actionQueue.RemoveHead(false);
        if (head) {
            RecordResult(*head);
            CountOut(connection, head->m_nID, deferred);
        }
    }
    connection->CloseDataSockets();
    if (finished.action && !m_bEnding && m_pSecretary) {
        m_pSecretary->ActionDone(*finished.action);
    }
    // The action goes before its operation is declared complete, so that
    // whatever it does on its way out happens first.
    finished.owned.reset();
    Deliver(deferred);
    if (endConnection && !m_bEnding) {
        Post(MM_END_CONNECTION, 0, static_cast<std::intptr_t>(connection->GetId()));
    }
    return true;
}

} // namespace qb
