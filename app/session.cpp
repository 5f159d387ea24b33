#include "app/session.h"

#include "app/core.h"
#include "dispatch/actions.h"
#include "dispatch/manager.h"
#include "localfs/lfs_support.h"

namespace qb {

// The core's front-end interfaces, each turned into an event of the queue.
// Nothing here waits: a question is recorded by the manager's question desk
// and answered later through CFTPSession::Answer.
class SessionPorts : public INotifier,
                     public ILogSink,
                     public ICompletionHandler,
                     public IQuestionSink,
                     public ILocalFiles {
public:
    SessionPorts(EventQueue& events, const CFTPApp& app) : m_events(events), m_app(app) {}

    // ---- INotifier ----
    // While a refresh is pending, the refill shows local files anyway: their
    // single changes are not sent.
    void NotifyLocalFileDeleted(const std::string& path) override {
        if (!m_app.IsRefreshPending()) {
            Local(path, true, false);
        }
    }
    void NotifyLocalFolderDeleted(const std::string& path) override { Local(path, false, false); }
    void NotifyLocalFileCreated(const std::string& path) override {
        if (!m_app.IsRefreshPending()) {
            Local(path, true, true);
        }
    }
    void NotifyLocalFolderCreated(const std::string& path) override { Local(path, false, true); }
    void NotifyRemoteFileDeleted(const CFTPFile& item) override { Change(item, false); }
    void NotifyRemoteFolderDeleted(const CFTPFile& item) override { Change(item, false); }
    void NotifyRemoteFileCreated(const CFTPFile& item) override { Change(item, true); }
    void NotifyRemoteFolderCreated(const CFTPFile& item) override { Change(item, true); }
    void NotifyRepaintTree(std::uintptr_t node) override {
        m_events.Push(event::RepaintTree{node});
    }
    void NotifyConnectionEnded(ConnectionId connection) override {
        m_events.Push(event::ConnectionEnded{connection});
    }
    void NotifyRenameFinished(const std::string& oldName, const std::string& newName,
                              std::uintptr_t parentNode) override {
        m_events.Push(event::Renamed{oldName, newName, parentNode});
    }
    void NotifyStatusChanged() override { m_events.Push(event::StatusChanged{}); }
    // The end of an operation, its refill and idle state all arrive as
    // event::OperationEnded.

    // ---- ILogSink ----
    void LogCommandLine(const std::string& text) override {
        m_events.PushLogLine(LOG_COMMAND, text);
    }
    void LogReplyLine(const std::string& text) override { m_events.PushLogLine(LOG_REPLY, text); }
    void LogNoteLine(const std::string& text) override { m_events.PushLogLine(LOG_NOTE, text); }

    // ---- ICompletionHandler (connection threads, the manager's lock free) ----
    void OnConnectDone(CFTPAction& action) override { Listed(action, true); }
    void OnExploreDone(CFTPAction& action) override { Listed(action, false); }
    void OnOperationEnded(const OperationReport& report) override {
        m_events.Push(event::OperationEnded{report});
    }

    // ---- IQuestionSink ----
    std::optional<int> OnQuestion(const Question& question) override {
        if (m_events.IsClosed()) {
            return question.CancelAnswer();
        }
        m_events.Push(event::QuestionAsked{question});
        return std::nullopt;
    }
    void OnQuestionClosed(QuestionId id) override { m_events.Push(event::QuestionClosed{id}); }

    // ---- ILocalFiles ----
    bool EnsureLocalFolder(const std::string& path) override {
        return qb::EnsureLocalFolder(path, this);
    }
    bool DeleteLocalFile(const std::string& path) override {
        return qb::DeleteLocalFile(path, this);
    }
    bool RemoveLocalFolder(const std::string& path) override {
        return qb::RemoveLocalFolder(path, this);
    }

private:
    void Change(const CFTPFile& item, bool created) {
        event::ItemsChanged changed;
        changed.changes.push_back(event::ItemChange{
            created ? event::ItemChange::Created : event::ItemChange::Deleted, item});
        m_events.Push(std::move(changed));
    }
    void Local(const std::string& path, bool isFile, bool created) {
        Change(CFTPFile(path, SiteRef{}, isFile), created);
    }
    void Listed(CFTPAction& action, bool connect) {
        event::Listing listing;
        listing.operation = action.m_nID;
        listing.connect = connect;
        listing.succeeded = action.Succeeded();
        std::unique_ptr<CFTPFolderContent> content = action.TakeFolderContent();
        if (content) {
            listing.connection = content->GetFolder().m_nConnection;
        } else if (connect) {
            listing.connection = static_cast<CFTPActionConnect&>(action).m_nConnection;
        } else if (const auto& folder = static_cast<CFTPActionDir&>(action).m_pFile) {
            listing.connection = folder->m_nConnection;
        }
        // Handed over, not copied: nobody changes it any more.
        listing.content = std::move(content);
        m_events.Push(std::move(listing));
    }

    EventQueue& m_events;
    const CFTPApp& m_app;
};

namespace {

CFTPFileArray ToArray(const std::vector<CFTPFile>& items) {
    CFTPFileArray array;
    for (const CFTPFile& item : items) {
        array.Add(item);
    }
    return array;
}

} // namespace

CFTPSession::CFTPSession(IQuestions* questions, EngineOptions options)
    : m_ports(std::make_unique<SessionPorts>(m_events, m_app)), m_status(m_ports.get()) {
    FrontEnd frontEnd;
    frontEnd.notifier = m_ports.get();
    frontEnd.status = &m_status;
    frontEnd.log = m_ports.get();
    frontEnd.completion = m_ports.get();
    frontEnd.app = &m_app;
    frontEnd.questions = questions;
    frontEnd.questionSink = m_ports.get();
    frontEnd.localFiles = m_ports.get();
    m_app.SetFileOpener([this](const std::string& path) { m_events.Push(event::OpenFile{path}); });
    m_core = std::make_unique<CFTPCore>(frontEnd, &m_app, DefaultHandlers(), options);
}

CFTPSession::~CFTPSession() {
    Exit();
}

bool CFTPSession::OpenProfile(const CommandLineInfo& info) {
    return m_core->OpenProfile(info);
}

bool CFTPSession::Start() {
    return m_core->StartManager();
}

void CFTPSession::Exit() {
    if (m_bExited) {
        return;
    }
    m_bExited = true;
    m_app.SetExiting();
    // No event is wanted any more, and a question asked from now on is
    // answered at once.
    m_events.Close();
    m_core->ExitInstance();
    m_app.SetFileOpener(nullptr);
}

void CFTPSession::SetSaveProfileAtExit(bool save) {
    m_core->SetSaveProfileAtExit(save);
}

std::string CFTPSession::TakeLoadNote() {
    return m_core->TakeLoadNote();
}

bool CFTPSession::ShowSplash() const {
    return m_core->ShowSplash();
}

bool CFTPSession::IsFirstRun() const {
    return m_core->IsFirstRun();
}

CFTPProfile* CFTPSession::GetProfile() const {
    return m_core->GetProfile();
}

INotifier* CFTPSession::Notifier() {
    return m_ports.get();
}

// --- Requests --------------------------------------------------------------------

namespace {

CFTPSession::Submitted Result(OperationId id, std::string why) {
    CFTPSession::Submitted submitted;
    submitted.operation = id;
    if (id == 0) {
        submitted.refusal = why.empty() ? std::string("The request was refused.") : why;
    }
    return submitted;
}

const char* const kNotStarted = "Quillbeck is not running its connections (start-up "
                                "has not finished, or the program is closing).";

} // namespace

CFTPSession::Submitted CFTPSession::Connect(const SiteConnectRequest& request) {
    CFTPManager* manager = m_core->GetManager();
    if (!manager) {
        return Result(0, kNotStarted);
    }
    std::string why;
    ConnectionId connection = kNoConnection;
    const OperationId id =
        manager->Connect(request.host, request.user, request.password, request.folder, request.port,
                         nullptr, &connection, request.firewall, &why);
    Submitted submitted = Result(id, why);
    submitted.connection = id != 0 ? connection : kNoConnection;
    return submitted;
}

CFTPSession::Submitted CFTPSession::Explore(const CFTPFile& folder,
                                            std::shared_ptr<IListingSink> sink) {
    CFTPManager* manager = m_core->GetManager();
    if (!manager) {
        return Result(0, kNotStarted);
    }
    std::string why;
    const OperationId id = manager->Explore(&folder, nullptr, &why, std::move(sink));
    return Result(id, why);
}

CFTPSession::Submitted CFTPSession::MakeFolder(const CFTPFile& folder) {
    CFTPManager* manager = m_core->GetManager();
    if (!manager) {
        return Result(0, kNotStarted);
    }
    std::string why;
    const OperationId id = manager->MakeFolder(&folder, nullptr, &why);
    return Result(id, why);
}

CFTPSession::Submitted CFTPSession::Delete(const std::vector<CFTPFile>& items) {
    CFTPManager* manager = m_core->GetManager();
    if (!manager) {
        return Result(0, kNotStarted);
    }
    const CFTPFileArray array = ToArray(items);
    std::string why;
    const OperationId id = manager->Delete(&array, nullptr, &why);
    return Result(id, why);
}

CFTPSession::Submitted CFTPSession::Rename(const CFTPFile& item, const std::string& newName) {
    CFTPManager* manager = m_core->GetManager();
    if (!manager) {
        return Result(0, kNotStarted);
    }
    std::string why;
    const OperationId id = manager->Rename(&item, newName, nullptr, &why);
    return Result(id, why);
}

CFTPSession::Submitted CFTPSession::RenameTo(const CFTPFile& item, const CFTPFile& dest) {
    CFTPManager* manager = m_core->GetManager();
    if (!manager) {
        return Result(0, kNotStarted);
    }
    std::string why;
    const OperationId id = manager->RenameTo(&item, &dest, &why);
    return Result(id, why);
}

CFTPSession::Submitted CFTPSession::Copy(const CFTPFile& source, const CFTPFile& dest, bool move) {
    CFTPManager* manager = m_core->GetManager();
    if (!manager) {
        return Result(0, kNotStarted);
    }
    std::string why;
    const OperationId id = manager->Copy(&source, &dest, nullptr, move, &why);
    return Result(id, why);
}

CFTPSession::Submitted CFTPSession::CopyItems(const std::vector<CFTPFile>& items,
                                              const CFTPFile& destFolder, bool move) {
    CFTPManager* manager = m_core->GetManager();
    if (!manager) {
        return Result(0, kNotStarted);
    }
    const CFTPFileArray array = ToArray(items);
    std::string why;
    const OperationId id = manager->CopyItems(&array, &destFolder, nullptr, move, &why);
    return Result(id, why);
}

CFTPSession::Submitted CFTPSession::DownloadAndOpen(const CFTPFile& source, const CFTPFile& dest) {
    CFTPManager* manager = m_core->GetManager();
    if (!manager) {
        return Result(0, kNotStarted);
    }
    std::string why;
    const OperationId id = manager->Copy(&source, &dest, CallerData::OpenFileMarker(), false, &why);
    return Result(id, why);
}

CFTPSession::Submitted CFTPSession::DownloadToStream(const CFTPFile& source, const CFTPFile& dest,
                                                     int fd) {
    CFTPManager* manager = m_core->GetManager();
    if (!manager) {
        return Result(0, kNotStarted);
    }
    std::string why;
    const OperationId id = manager->Copy(&source, &dest, CallerData::StreamMarker(fd), false, &why);
    return Result(id, why);
}

bool CFTPSession::Disconnect(ConnectionId connection) {
    CFTPManager* manager = m_core->GetManager();
    return manager && manager->Disconnect(connection);
}

void CFTPSession::Stop(bool disconnect) {
    CFTPManager* manager = m_core->GetManager();
    if (!manager) {
        return;
    }
    m_app.SetStopRequested(true);
    m_status.SetCancelling();
    manager->PostStop(disconnect);
}

bool CFTPSession::IsConnected(ConnectionId connection) const {
    CFTPManager* manager = m_core->GetManager();
    return manager && manager->IsConnected(connection);
}

std::size_t CFTPSession::ConnectionCount() const {
    CFTPManager* manager = m_core->GetManager();
    return manager ? manager->GetConnectionCount() : 0;
}

bool CFTPSession::Answer(QuestionId id, int answer) {
    CFTPManager* manager = m_core->GetManager();
    return manager && manager->AnswerQuestion(id, answer);
}

} // namespace qb
