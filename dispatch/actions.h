// Actions: the units of FTP work that a connection carries out step by step,
// the records callers attach to them, and the queue of one connection.
#pragma once

#include "engine/constants.h"
#include "engine/ftp_file.h"
#include "platform/local_file.h"
#include "platform/types.h"

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

namespace qb {

class IApplication;
class IStatusLanes;

// ---------------------------------------------------------------------------
// Caller data: what a caller attaches to a request and gets back at the end.

class CFTPActionCallerData : public CFTPConstants {
public:
    CFTPActionCallerData() = default;
    CFTPActionCallerData(const CFTPActionCallerData&) = default;
    CFTPActionCallerData& operator=(const CFTPActionCallerData&) = default;
    virtual ~CFTPActionCallerData() = default;
};

// Explore requests of the folder tree.
class CFTPActionCallerDataDir : public CFTPActionCallerData {
public:
    CFTPActionCallerDataDir() = default;
    CFTPActionCallerDataDir(std::uintptr_t item, bool expand) : m_hItem(item), m_bExpand(expand) {}
    std::uintptr_t m_hItem = 0; // the tree item of the folder
    bool m_bExpand = false;     // expand the item once the listing is shown
};

// Connect requests of the folder tree.
class CFTPActionCallerDataConnect : public CFTPActionCallerDataDir {
public:
    using CFTPActionCallerDataDir::CFTPActionCallerDataDir;
};

// Rename requests.
class CFTPActionCallerDataRen : public CFTPActionCallerData {
public:
    CFTPActionCallerDataRen() = default;
    CFTPActionCallerDataRen(std::string oldName, std::string newName, std::uintptr_t parent)
        : m_strOldName(std::move(oldName)), m_strNewName(std::move(newName)),
          m_hParentItem(parent) {}
    std::string m_strOldName;
    std::string m_strNewName;
    std::uintptr_t m_hParentItem = 0; // tree item of the folder holding the item
};

// What a request carries for its caller: nothing, an owned record, or the
// marker that asks for a downloaded file to be opened when its copy ends.
class CallerData {
public:
    CallerData() = default;
    CallerData(std::nullptr_t) {}
    template <typename T>
    CallerData(std::unique_ptr<T> record) : m_record(std::move(record)) {}
    static CallerData OpenFileMarker() {
        CallerData d;
        d.m_marker = true;
        return d;
    }
    bool IsOpenFileMarker() const { return m_marker; }
    // Asks for a download to go to the open descriptor `fd` as it arrives.
    static CallerData StreamMarker(int fd) {
        CallerData d;
        d.m_streamFd = fd;
        return d;
    }
    int StreamFd() const { return m_streamFd; }
    CFTPActionCallerData* Get() const { return m_record.get(); }
    std::unique_ptr<CFTPActionCallerData> Take() { return std::move(m_record); }

private:
    std::unique_ptr<CFTPActionCallerData> m_record;
    bool m_marker = false;
    int m_streamFd = -1;
};

// ---------------------------------------------------------------------------
// Actions.

class CFTPActionDir;

class CFTPAction : public CFTPConstants {
public:
    CFTPAction(OperationId id, CFTPActionCallerData* callerData, std::uint16_t kind,
               std::uint16_t firstStep);
    CFTPAction(const CFTPAction&) = delete;
    CFTPAction& operator=(const CFTPAction&) = delete;
    virtual ~CFTPAction();

    // The kind's failure text; always true.
    virtual bool GetFailureText(std::string& out) const = 0;
    // Whether a failure is shown to the user.
    virtual bool ShouldReportFailure() const { return m_bReportFailure; }

    // Sets the step and, unless cancelled and when the lane is above 0, shows
    // its text in that status lane.
    void SetStep(IStatusLanes& status, int lane, std::uint16_t step);
    // The status text of a step for this action.
    std::string StepStatusText(std::uint16_t step) const;

    // Records a failure: code, failure text, reply lines, the sub-action's.
    void SetResult(std::uint16_t code, const std::vector<std::string>& replyLines);
    // All failure messages joined.
    std::string JoinedMessages() const;
    bool Succeeded() const;
    void DeleteSubAction() { m_pSubAction.reset(); }
    // A Dir action's content, or that of a Dir sub-action.
    CFTPFolderContent* GetFolderContent() const;
    // The same content handed over (the action keeps none).
    std::unique_ptr<CFTPFolderContent> TakeFolderContent();
    // Makes `child` count toward this action's pending children.
    void LinkChild(CFTPAction& child);
    int PendingChildren() const;
    bool ChildrenOK() const;
    // A connect at step 1, 7 or 8 that is not cancelled starts over.
    bool RestartConnect();
    // Whether RestartConnect would start this action over.
    bool CanRestartConnect() const;

    bool IsCancelled() const { return m_bCancelled.load(std::memory_order_acquire); }
    void Cancel() { m_bCancelled.store(true, std::memory_order_release); }

    OperationId m_nID;
    CFTPActionCallerData* m_pCallerData; // not owned
    std::uint16_t m_nKind;
    std::uint16_t m_nStep;
    std::uint16_t m_nResult = RESULT_OK;
    std::vector<std::string> m_astrMessages;
    bool m_bSubAction = false;
    bool m_bReportFailure = true;
    std::unique_ptr<CFTPAction> m_pSubAction;
    std::atomic<bool> m_bCancelled{false};
    bool m_bAbortSent = false;
    bool m_bStarted = false; // its machine has been entered at least once
    // Why a transfer broke off on this side (a local file that could not be
    // written, a data connection that failed); shown when the action ends.
    std::string m_strTransferError;

protected:
    // The item path as failure texts show it; empty when there is no item.
    static std::string DisplayPath(const CFTPFile* item);
    // "<with>" with the path when there is one, else "<without>".
    static std::string FormatOne(const char* with, const char* without, const CFTPFile* item);

private:
    // Children of a folder copy or delete count here. Parent and children
    // share the record, so a child never writes into a parent that is gone,
    // and children on another connection's thread update it safely.
    struct ChildLink {
        std::atomic<int> pending{0};
        std::atomic<bool> ok{true};
    };
    std::shared_ptr<ChildLink> m_children;   // as a parent
    std::shared_ptr<ChildLink> m_parentLink; // as a linked child
};

class CFTPActionConnect : public CFTPAction {
public:
    CFTPActionConnect(OperationId id, CFTPActionCallerData* callerData, std::string host,
                      std::string user, std::string password, std::string folder,
                      std::uint32_t port);
    bool GetFailureText(std::string& out) const override;

    std::string m_strHost;
    std::string m_strUser;
    std::string m_strPassword;
    std::string m_strFolder;
    std::uint32_t m_nPort;
    ConnectionId m_nConnection = kNoConnection; // the connection, recorded by the manager
    bool m_bProbeTypeSent = false;              // "TYPE I" went before the "REST" probe
    bool m_bNoRestart = false; // the server is no FTP server: trying again is pointless
};

// The folder actions share one shape: an optional folder and two flags.
class CFTPFolderAction : public CFTPAction {
public:
    CFTPFolderAction(OperationId id, CFTPActionCallerData* callerData, std::uint16_t kind,
                     std::uint16_t firstStep, const CFTPFile* folder, bool subAction,
                     bool reportFailure);
    std::unique_ptr<CFTPFile> m_pFile;
    // Explore and change folder: also learn the folder's real path ("PWD"
    // after "CWD"), into m_strRealPath, so that a link is seen for where it
    // leads.
    bool m_bLearnRealPath = false;
    std::string m_strRealPath;
    // An explore whose folder turns out to be really one of these (a link
    // back into a folder being copied) ends without listing it, and says so.
    std::vector<std::string> m_arrStopAtRealPaths;
    bool m_bStoppedAtLoop = false;
};

class CFTPActionDir : public CFTPFolderAction {
public:
    CFTPActionDir(OperationId id, CFTPActionCallerData* callerData, const CFTPFile* folder,
                  bool subAction = false, bool reportFailure = true);
    bool GetFailureText(std::string& out) const override;
    // A symbolic link is explored silently.
    bool ShouldReportFailure() const override;

    std::unique_ptr<CFTPFolderContent> m_pContent;
    // Takes the entries while they are read (when set).
    std::shared_ptr<IListingSink> m_pSink;
    // The sink has the entries of a first reading with "LIST -a" that listed
    // "-a": of the second reading, with "LIST", it is told only "-a" (the
    // others it was told already).
    bool m_bSinkHasListing = false;
};

class CFTPActionCd : public CFTPFolderAction {
public:
    CFTPActionCd(OperationId id, CFTPActionCallerData* callerData, const CFTPFile* folder,
                 bool subAction = false, bool reportFailure = true);
    bool GetFailureText(std::string& out) const override;
};

class CFTPActionMd : public CFTPFolderAction {
public:
    CFTPActionMd(OperationId id, CFTPActionCallerData* callerData, const CFTPFile* folder,
                 bool subAction = false, bool reportFailure = true);
    bool GetFailureText(std::string& out) const override;
};

class CFTPActionCdMd : public CFTPFolderAction {
public:
    CFTPActionCdMd(OperationId id, CFTPActionCallerData* callerData, const CFTPFile* folder,
                   bool subAction = false, bool reportFailure = true);
    bool GetFailureText(std::string& out) const override;
};

class CFTPActionMdCd : public CFTPFolderAction {
public:
    CFTPActionMdCd(OperationId id, CFTPActionCallerData* callerData, const CFTPFile* folder,
                   bool subAction = false, bool reportFailure = true);
    bool GetFailureText(std::string& out) const override;
};

class CFTPActionDel : public CFTPAction {
public:
    CFTPActionDel(OperationId id, CFTPActionCallerData* callerData, const CFTPFile* item,
                  bool subAction = false, bool reportFailure = true, bool contentGone = false);
    bool GetFailureText(std::string& out) const override;

    std::unique_ptr<CFTPFile> m_pFile;
    bool m_bContentGone;
};

class CFTPActionRen : public CFTPAction {
public:
    // The rename action owns its caller data.
    CFTPActionRen(OperationId id, std::unique_ptr<CFTPActionCallerData> callerData,
                  const CFTPFile* item, const CFTPFile* newItem);
    bool GetFailureText(std::string& out) const override;

    std::unique_ptr<CFTPFile> m_pFile;
    std::unique_ptr<CFTPFile> m_pNewFile;

private:
    std::unique_ptr<CFTPActionCallerData> m_ownedCallerData;
};

class CFTPActionCopy : public CFTPAction {
public:
    CFTPActionCopy(OperationId id, CFTPActionCallerData* callerData, const CFTPFile* source,
                   const CFTPFile* dest, std::uint32_t copyKind);
    ~CFTPActionCopy() override;
    bool GetFailureText(std::string& out) const override;

    bool IsMove() const { return (m_nCopyKind & COPY_MOVE) != 0; }
    // A child's destination: this destination's path, "/", the child's name.
    std::unique_ptr<CFTPFile> MakeChildDestination(const CFTPFile& child) const;
    bool IsDestinationConnection(ConnectionId connection) const;
    // Marks this copy as the download of a file to open when it ends.
    void SetOpenWhenDone(IApplication* opener) { m_pOpener = opener; }
    bool IsOpenWhenDone() const { return m_pOpener != nullptr; }
    // A download that goes to an open descriptor (standard output) as it
    // arrives: no local file is looked at, made or replaced, and what was
    // written cannot be taken back when the transfer fails.
    void SetDestStream(int fd) { m_nDestStreamFd = fd; }
    bool IsDestStream() const { return m_nDestStreamFd >= 0; }
    int DestStreamFd() const { return m_nDestStreamFd; }

    std::unique_ptr<CFTPFile> m_pSource;
    std::unique_ptr<CFTPFile> m_pDest;
    std::unique_ptr<LocalFile> m_pSourceFile;
    std::unique_ptr<LocalFile> m_pDestFile;
    std::unique_ptr<LocalFile> m_pTempFile;
    std::uint32_t m_nCopyKind;
    std::uint8_t m_nReplace = REPLACE_NONE;
    FileSize m_nResumeOffset = 0;
    char m_cTransferType = 'I'; // of the file now moving: 'A' converts line ends
    // A fresh download goes into this hidden file beside the target and takes
    // the target's place only once it has arrived whole; empty when there is
    // none (not begun, resumed, or in place).
    std::string m_strPartPath;
    int m_nDestStreamFd = -1;
    bool m_bDestExisted = false; // the local target was there before
    // The source file's size as the listing or "SIZE" gave it.
    FileSize m_nRemoteSize = kUnknownSize;
    // Bytes the last transfer moved over the data connection, and the size
    // the server's 125/150 reply announced for it (0: none).
    FileSize m_nMoved = 0;
    FileSize m_nAnnounced = 0;
    // The server's 125/150 reply for the file being received has come.
    bool m_bReceiving = false;
    // An upload that resumes: the bytes the server already holds (sending
    // starts there), and whether the target's name has been looked up.
    FileSize m_nSendOffset = 0;
    bool m_bTargetChecked = false;
    // Real paths of the remote folders this copy is inside (a folder copy
    // never enters one of them again: a link loop).
    std::vector<std::string> m_arrAncestorPaths;

private:
    IApplication* m_pOpener = nullptr;
};

// ---------------------------------------------------------------------------
// The actions of one connection, head first. Owns every action in it except
// sub-actions, which their parent owns.

class CFTPActionQueue {
public:
    CFTPActionQueue() = default;
    CFTPActionQueue(const CFTPActionQueue&) = delete;
    CFTPActionQueue& operator=(const CFTPActionQueue&) = delete;
    ~CFTPActionQueue() = default;

    // One place in the queue: the action, and ownership unless a sub-action.
    struct Entry {
        CFTPAction* action = nullptr;
        std::unique_ptr<CFTPAction> owned;
    };

    CFTPAction* Peek() const { return m_entries.empty() ? nullptr : m_entries.front().action; }
    bool IsEmpty() const { return m_entries.empty(); }
    std::size_t GetCount() const { return m_entries.size(); }
    CFTPAction* GetAt(std::size_t index) const { return m_entries.at(index).action; }

    // Takes the head off; with `destroy` an owned action is deleted,
    // otherwise the entry (and ownership) is handed back.
    Entry RemoveHead(bool destroy);

    // Insertions return false when memory runs out; the entry is then left
    // as it was.
    bool AddHead(Entry&& entry);
    bool InsertSecond(Entry&& entry); // false when the queue is empty
    bool AddTail(Entry&& entry);
    Entry RemoveTail();

    // Marks every action cancelled; entries without an action go.
    void CancelAll();

    static Entry Owned(std::unique_ptr<CFTPAction> action);
    static Entry Borrowed(CFTPAction* subAction);

private:
    std::deque<Entry> m_entries;
};

} // namespace qb
