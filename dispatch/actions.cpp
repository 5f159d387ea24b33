#include "dispatch/actions.h"

#include "engine/frontend.h"
#include "engine/steps.h"

#include <new>
#include <sys/stat.h>
#include <unistd.h>

namespace qb {

// ---------------------------------------------------------------------------
// CFTPAction

CFTPAction::CFTPAction(OperationId id, CFTPActionCallerData* callerData, std::uint16_t kind,
                       std::uint16_t firstStep)
    : m_nID(id), m_pCallerData(callerData), m_nKind(kind), m_nStep(firstStep) {}

CFTPAction::~CFTPAction() {
    m_pSubAction.reset();
    if (m_parentLink && !IsCancelled()) {
        if (!Succeeded()) {
            m_parentLink->ok.store(false);
        }
        m_parentLink->pending.fetch_sub(1);
    }
}

std::string CFTPAction::StepStatusText(std::uint16_t step) const {
    if (step == STEP_DONE) {
        return {};
    }
    std::string_view text = StepText(step);
    if (step == STEP_COPY_RECV_RETR || step == STEP_COPY_SEND_STOR) {
        std::string name;
        if (m_nKind == KIND_COPY) {
            const auto& copy = static_cast<const CFTPActionCopy&>(*this);
            const CFTPFile* item =
                step == STEP_COPY_RECV_RETR ? copy.m_pSource.get() : copy.m_pDest.get();
            if (item) {
                name = item->GetName();
            }
        }
        std::string result(text);
        auto at = result.find("%s");
        if (at != std::string::npos) {
            result.replace(at, 2, name);
        }
        return result;
    }
    return std::string(text);
}

void CFTPAction::SetStep(IStatusLanes& status, int lane, std::uint16_t step) {
    m_nStep = step;
    if (!IsCancelled() && lane > 0) {
        status.SetStepText(lane, StepStatusText(step), true);
    }
}

void CFTPAction::SetResult(std::uint16_t code, const std::vector<std::string>& replyLines) {
    m_nResult = code;
    std::string text;
    GetFailureText(text);
    m_astrMessages.push_back(text);
    if (!replyLines.empty()) {
        m_astrMessages.emplace_back("\n");
        for (const auto& line : replyLines) {
            m_astrMessages.push_back(line + "\n");
        }
    }
    // The sub-action's code says more about a failure, but a sub-action
    // that succeeded must not turn this failure into a success.
    if (code == RESULT_FAILED && m_pSubAction && m_pSubAction->m_nResult != RESULT_OK) {
        m_nResult = m_pSubAction->m_nResult;
    }
    if (m_pSubAction && !m_pSubAction->m_astrMessages.empty()) {
        m_astrMessages.emplace_back("\n\n");
        for (const auto& message : m_pSubAction->m_astrMessages) {
            m_astrMessages.push_back(message);
        }
    }
}

std::string CFTPAction::JoinedMessages() const {
    std::string all;
    for (const auto& message : m_astrMessages) {
        all += message;
    }
    return all;
}

bool CFTPAction::Succeeded() const {
    return !IsCancelled() && m_nStep == STEP_DONE && m_nResult == RESULT_OK;
}

CFTPFolderContent* CFTPAction::GetFolderContent() const {
    if (m_nKind == KIND_DIR) {
        return static_cast<const CFTPActionDir*>(this)->m_pContent.get();
    }
    if (m_pSubAction && m_pSubAction->m_nKind == KIND_DIR) {
        return static_cast<const CFTPActionDir*>(m_pSubAction.get())->m_pContent.get();
    }
    return nullptr;
}

std::unique_ptr<CFTPFolderContent> CFTPAction::TakeFolderContent() {
    if (m_nKind == KIND_DIR) {
        return std::move(static_cast<CFTPActionDir*>(this)->m_pContent);
    }
    if (m_pSubAction && m_pSubAction->m_nKind == KIND_DIR) {
        return std::move(static_cast<CFTPActionDir*>(m_pSubAction.get())->m_pContent);
    }
    return nullptr;
}

void CFTPAction::LinkChild(CFTPAction& child) {
    if (!m_children) {
        m_children = std::make_shared<ChildLink>();
    }
    child.m_parentLink = m_children;
    m_children->pending.fetch_add(1);
}

int CFTPAction::PendingChildren() const {
    return m_children ? m_children->pending.load() : 0;
}

bool CFTPAction::ChildrenOK() const {
    return m_children ? m_children->ok.load() : true;
}

bool CFTPAction::CanRestartConnect() const {
    return m_nKind == KIND_CONNECT && !IsCancelled() &&
           !static_cast<const CFTPActionConnect*>(this)->m_bNoRestart &&
           (m_nStep == STEP_TRY_CONNECT || m_nStep == STEP_WELCOME || m_nStep == STEP_USER);
}

bool CFTPAction::RestartConnect() {
    if (!CanRestartConnect()) {
        return false;
    }
    m_nStep = STEP_TRY_CONNECT;
    m_nResult = RESULT_OK;
    m_astrMessages.clear();
    m_bAbortSent = false;
    return true;
}

std::string CFTPAction::DisplayPath(const CFTPFile* item) {
    return item ? item->GetPath(true) : std::string();
}

std::string CFTPAction::FormatOne(const char* with, const char* without, const CFTPFile* item) {
    std::string path = DisplayPath(item);
    if (path.empty()) {
        return without;
    }
    std::string text = with;
    text.replace(text.find("%s"), 2, path);
    return text;
}

namespace {
std::string FormatTwo(const char* with, const char* without, const std::string& from,
                      const std::string& to) {
    if (from.empty() || to.empty()) {
        return without;
    }
    std::string text = with;
    text.replace(text.find("%s"), 2, from);
    text.replace(text.find("%s"), 2, to);
    return text;
}
} // namespace

// ---------------------------------------------------------------------------
// Subclasses

CFTPActionConnect::CFTPActionConnect(OperationId id, CFTPActionCallerData* callerData,
                                     std::string host, std::string user, std::string password,
                                     std::string folder, std::uint32_t port)
    : CFTPAction(id, callerData, KIND_CONNECT, STEP_TRY_CONNECT), m_strHost(std::move(host)),
      m_strUser(std::move(user)), m_strPassword(std::move(password)),
      m_strFolder(std::move(folder)), m_nPort(port) {}

bool CFTPActionConnect::GetFailureText(std::string& out) const {
    out = "Failed to connect!";
    return true;
}

CFTPFolderAction::CFTPFolderAction(OperationId id, CFTPActionCallerData* callerData,
                                   std::uint16_t kind, std::uint16_t firstStep,
                                   const CFTPFile* folder, bool subAction, bool reportFailure)
    : CFTPAction(id, callerData, kind, firstStep),
      m_pFile(folder ? std::make_unique<CFTPFile>(*folder) : nullptr) {
    m_bSubAction = subAction;
    m_bReportFailure = reportFailure;
}

CFTPActionDir::CFTPActionDir(OperationId id, CFTPActionCallerData* callerData,
                             const CFTPFile* folder, bool subAction, bool reportFailure)
    : CFTPFolderAction(id, callerData, KIND_DIR, STEP_DIR_FIRST, folder, subAction, reportFailure) {
}

bool CFTPActionDir::GetFailureText(std::string& out) const {
    out = FormatOne("Failed to explore folder\n%s\n", "Failed to explore folder!\n", m_pFile.get());
    return true;
}

bool CFTPActionDir::ShouldReportFailure() const {
    if (!m_bReportFailure) {
        return false;
    }
    return !m_pFile || m_pFile->m_strLink.empty();
}

CFTPActionCd::CFTPActionCd(OperationId id, CFTPActionCallerData* callerData, const CFTPFile* folder,
                           bool subAction, bool reportFailure)
    : CFTPFolderAction(id, callerData, KIND_CD, STEP_CD_FIRST, folder, subAction, reportFailure) {}

bool CFTPActionCd::GetFailureText(std::string& out) const {
    out = FormatOne("Failed to change working folder to\n%s\n",
                    "Failed to change working folder!\n", m_pFile.get());
    return true;
}

CFTPActionMd::CFTPActionMd(OperationId id, CFTPActionCallerData* callerData, const CFTPFile* folder,
                           bool subAction, bool reportFailure)
    : CFTPFolderAction(id, callerData, KIND_MD, STEP_MD_FIRST, folder, subAction, reportFailure) {}

bool CFTPActionMd::GetFailureText(std::string& out) const {
    out = FormatOne("Failed to create folder\n%s\n", "Failed to create folder!\n", m_pFile.get());
    return true;
}

CFTPActionCdMd::CFTPActionCdMd(OperationId id, CFTPActionCallerData* callerData,
                               const CFTPFile* folder, bool subAction, bool reportFailure)
    : CFTPFolderAction(id, callerData, KIND_CDMD, STEP_CDMD_FIRST, folder, subAction,
                       reportFailure) {}

bool CFTPActionCdMd::GetFailureText(std::string& out) const {
    out = FormatOne("Failed to change working folder or create folder\n%s\n",
                    "Failed to create folder!\n", m_pFile.get());
    return true;
}

CFTPActionMdCd::CFTPActionMdCd(OperationId id, CFTPActionCallerData* callerData,
                               const CFTPFile* folder, bool subAction, bool reportFailure)
    : CFTPFolderAction(id, callerData, KIND_MDCD, STEP_MDCD_FIRST, folder, subAction,
                       reportFailure) {}

bool CFTPActionMdCd::GetFailureText(std::string& out) const {
    out = FormatOne("Failed to create folder or change working folder\n%s\n",
                    "Failed to create folder or change working folder!\n", m_pFile.get());
    return true;
}

CFTPActionDel::CFTPActionDel(OperationId id, CFTPActionCallerData* callerData, const CFTPFile* item,
                             bool subAction, bool reportFailure, bool contentGone)
    : CFTPAction(id, callerData, KIND_DEL, STEP_DEL_FIRST),
      m_pFile(item ? std::make_unique<CFTPFile>(*item) : nullptr), m_bContentGone(contentGone) {
    m_bSubAction = subAction;
    m_bReportFailure = reportFailure;
}

bool CFTPActionDel::GetFailureText(std::string& out) const {
    out = FormatOne("Failed to delete\n%s\n", "Failed to delete!\n", m_pFile.get());
    return true;
}

CFTPActionRen::CFTPActionRen(OperationId id, std::unique_ptr<CFTPActionCallerData> callerData,
                             const CFTPFile* item, const CFTPFile* newItem)
    : CFTPAction(id, callerData.get(), KIND_REN, STEP_REN_FIRST),
      m_pFile(item ? std::make_unique<CFTPFile>(*item) : nullptr),
      m_pNewFile(newItem ? std::make_unique<CFTPFile>(*newItem) : nullptr),
      m_ownedCallerData(std::move(callerData)) {}

bool CFTPActionRen::GetFailureText(std::string& out) const {
    out = FormatTwo("Failed to rename\nfrom %s\nto %s\n", "Failed to rename!\n",
                    DisplayPath(m_pFile.get()), DisplayPath(m_pNewFile.get()));
    return true;
}

CFTPActionCopy::CFTPActionCopy(OperationId id, CFTPActionCallerData* callerData,
                               const CFTPFile* source, const CFTPFile* dest, std::uint32_t copyKind)
    : CFTPAction(id, callerData, KIND_COPY, STEP_COPY_FIRST),
      m_pSource(source ? std::make_unique<CFTPFile>(*source) : nullptr),
      m_pDest(dest ? std::make_unique<CFTPFile>(*dest) : nullptr), m_nCopyKind(copyKind) {}

CFTPActionCopy::~CFTPActionCopy() {
    std::string openPath;
    if (m_pOpener && m_pDest) {
        openPath = m_pDest->GetPath(false);
    }
    m_pSourceFile.reset();
    m_pDestFile.reset();
    if (!m_strPartPath.empty() && m_pDest) {
        // The download did not complete. What arrived is kept for a resume
        // only where nothing stood before; an existing file stays as it was.
        struct stat st {};
        const bool anything = ::stat(m_strPartPath.c_str(), &st) == 0 && st.st_size > 0;
        if (anything && !m_bDestExisted &&
            ::rename(m_strPartPath.c_str(), m_pDest->GetPath(false).c_str()) == 0) {
            m_strPartPath.clear();
        } else {
            ::unlink(m_strPartPath.c_str());
        }
    }
    if (m_pTempFile) {
        std::string tempPath = m_pTempFile->Path();
        m_pTempFile.reset();
        if (!tempPath.empty()) {
            ::unlink(tempPath.c_str());
        }
    }
    if (!m_pOpener || openPath.empty()) {
        return;
    }
    // The file is removed at exit in any case; it is shown only when the
    // download went through and left something to show.
    m_pOpener->AddTemporaryFile(openPath);
    struct stat st {};
    bool emptyFile = ::stat(openPath.c_str(), &st) == 0 && st.st_size == 0;
    if (Succeeded() && !emptyFile) {
        m_pOpener->OpenFile(openPath);
    }
}

bool CFTPActionCopy::GetFailureText(std::string& out) const {
    if (IsMove()) {
        out = FormatTwo("Failed to move\nfrom %s\nto %s\n", "Failed to move!\n",
                        DisplayPath(m_pSource.get()), DisplayPath(m_pDest.get()));
    } else {
        out = FormatTwo("Failed to copy\nfrom %s\nto %s\n", "Failed to copy!\n",
                        DisplayPath(m_pSource.get()), DisplayPath(m_pDest.get()));
    }
    return true;
}

std::unique_ptr<CFTPFile> CFTPActionCopy::MakeChildDestination(const CFTPFile& child) const {
    std::string base = m_pDest ? m_pDest->GetPath(false) : std::string();
    SiteRef site = m_pDest ? m_pDest->GetSite() : SiteRef{};
    return std::make_unique<CFTPFile>(base + "/" + child.GetName(), site, child.m_bFile);
}

bool CFTPActionCopy::IsDestinationConnection(ConnectionId connection) const {
    return connection != kNoConnection && m_pDest && m_pDest->m_nConnection == connection;
}

// ---------------------------------------------------------------------------
// CFTPActionQueue

CFTPActionQueue::Entry CFTPActionQueue::Owned(std::unique_ptr<CFTPAction> action) {
    Entry entry;
    entry.action = action.get();
    entry.owned = std::move(action);
    return entry;
}

CFTPActionQueue::Entry CFTPActionQueue::Borrowed(CFTPAction* subAction) {
    Entry entry;
    entry.action = subAction;
    return entry;
}

CFTPActionQueue::Entry CFTPActionQueue::RemoveHead(bool destroy) {
    if (m_entries.empty()) {
        return {};
    }
    Entry head = std::move(m_entries.front());
    m_entries.pop_front();
    if (destroy) {
        head.owned.reset();
        head.action = nullptr;
    }
    return head;
}

bool CFTPActionQueue::AddHead(Entry&& entry) {
    try {
        m_entries.push_front(std::move(entry));
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

bool CFTPActionQueue::InsertSecond(Entry&& entry) {
    if (m_entries.empty()) {
        return false;
    }
    try {
        m_entries.insert(m_entries.begin() + 1, std::move(entry));
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

bool CFTPActionQueue::AddTail(Entry&& entry) {
    try {
        m_entries.push_back(std::move(entry));
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

CFTPActionQueue::Entry CFTPActionQueue::RemoveTail() {
    if (m_entries.empty()) {
        return {};
    }
    Entry tail = std::move(m_entries.back());
    m_entries.pop_back();
    return tail;
}

void CFTPActionQueue::CancelAll() {
    for (auto it = m_entries.begin(); it != m_entries.end();) {
        if (!it->action) {
            it = m_entries.erase(it);
            continue;
        }
        it->action->Cancel();
        ++it;
    }
}

} // namespace qb
