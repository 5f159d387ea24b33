// What the engine and the manager need from the front end, as small
// interfaces. The window implements them by queuing work onto its own
// thread; the command-line tool and the tests implement them directly.
// Every method has a do-nothing default, so an implementation overrides
// only what it cares about.
#pragma once

#include "platform/types.h"

#include <cstdint>
#include <string>
#include <vector>

namespace qb {

class CFTPAction;
class CFTPActionCallerData;
class CFTPActionCallerDataRen;
class CFTPFile;
class IQuestionSink;

// How one operation ended, reported once when its last action is gone.
struct OperationReport {
    OperationId id = 0;
    std::uint16_t kind = 0; // the request's action kind
    bool succeeded = true;  // every user-level action succeeded
    bool cancelled = false; // stopped, or its connection ended
    // The failure texts of the user-level actions that failed, as shown
    // (at most kMaxMessages; failedCount counts them all).
    std::vector<std::string> messages;
    std::size_t failedCount = 0;
    // Operations still running after this one.
    std::size_t stillRunning = 0;
    // The files a copy moved whole, and their bytes over the data
    // connections (a resumed file counts what moved this time).
    std::size_t filesMoved = 0;
    FileSize bytesMoved = 0;

    static constexpr std::size_t kMaxMessages = 100;
};

// The notifications that other threads post to the windows. The receiver
// gets its own copies; nothing is shared with the sender.
class INotifier {
public:
    virtual ~INotifier() = default;
    virtual void NotifyOperationFinished() {}
    virtual void NotifyLocalFileDeleted(const std::string& /*path*/) {}
    virtual void NotifyLocalFolderDeleted(const std::string& /*path*/) {}
    virtual void NotifyRemoteFileDeleted(const CFTPFile& /*item*/) {}
    virtual void NotifyRemoteFolderDeleted(const CFTPFile& /*item*/) {}
    virtual void NotifyLocalFileCreated(const std::string& /*path*/) {}
    virtual void NotifyLocalFolderCreated(const std::string& /*path*/) {}
    virtual void NotifyRemoteFileCreated(const CFTPFile& /*item*/) {}
    virtual void NotifyRemoteFolderCreated(const CFTPFile& /*item*/) {}
    virtual void NotifyRepaintTree(std::uintptr_t /*node*/) {}
    virtual void NotifyConnectionEnded(ConnectionId /*connection*/) {}
    virtual void NotifyRenameFinished(const std::string& /*oldName*/,
                                      const std::string& /*newName*/,
                                      std::uintptr_t /*parentNode*/) {}
    virtual void NotifyRefillContent() {}
    virtual void NotifyIdle() {}
    virtual void NotifyStatusChanged() {}
};

// The two lanes of the status bar, plus the operation display around them.
class IStatusLanes {
public:
    virtual ~IStatusLanes() = default;
    virtual void BeginOperation(const std::string& /*host1*/, const std::string& /*host2*/) {}
    virtual void EndOperation() {}
    virtual void SetStepText(int /*lane*/, const std::string& /*text*/, bool /*redraw*/) {}
    virtual void SetPercent(int /*lane*/, int /*percent*/, bool /*redraw*/) {}
    virtual void SetBytes(int /*lane*/, FileSize /*count*/, bool /*redraw*/) {}
};

// Lines for the activity log, in three colour classes.
class ILogSink {
public:
    virtual ~ILogSink() = default;
    virtual void LogCommandLine(const std::string& /*text*/) {}
    virtual void LogReplyLine(const std::string& /*text*/) {}
    virtual void LogNoteLine(const std::string& /*text*/) {}
};

// The completion handlers, called on the connection thread that finished
// the action, never while the manager holds its lock.
class ICompletionHandler {
public:
    virtual ~ICompletionHandler() = default;
    virtual void OnConnectDone(CFTPAction& /*connect*/) {}
    virtual void OnExploreDone(CFTPAction& /*explore*/) {}
    // Clears the working mark of the tree item the caller data names.
    virtual void ClearWorkingMark(const CFTPActionCallerData& /*callerData*/) {}
    // Every finished action, sub-actions included (for front ends that
    // account for results themselves).
    virtual void OnAnyActionDone(CFTPAction& /*action*/) {}
    // The end of an operation, after the reporter's handling of it.
    virtual void OnOperationEnded(const OperationReport& /*report*/) {}
};

// The application's state that the end of an operation resets, and the
// services the engine asks of it.
class IApplication {
public:
    virtual ~IApplication() = default;
    // No operation runs any more: clear the stop request, busy code 0, end
    // the wait cursor.
    virtual void OperationEnded() {}
    // The busy code (what the user is doing; see the application services).
    virtual int GetBusyCode() const { return 0; }
    // True while the application is closing.
    virtual bool IsExiting() const { return false; }
    // Records a temporary file to delete at exit.
    virtual void AddTemporaryFile(const std::string& /*path*/) {}
    // Opens a file with the desktop's program for it.
    virtual void OpenFile(const std::string& /*path*/) {}
};

// Settings the connection threads read.
class ISettingsSource {
public:
    virtual ~ISettingsSource() = default;
    // 'A' or 'I' for a transfer of the named remote file.
    virtual char GetTransferType(const std::string& /*name*/) const { return 'I'; }
    virtual bool LogCommands() const { return true; }
    virtual bool LogResponses() const { return true; }
    virtual bool LogHostAddress() const { return false; }
    // Remembers a proxy login that worked, for later connections of this run.
    virtual void RememberProxyLogin(const std::string& /*host*/, std::uint32_t /*port*/,
                                    const std::string& /*user*/, const std::string& /*password*/) {}
    // The e-mail address used as anonymous password.
    virtual std::string EmailAddress() const { return {}; }
};

// Local folder services the transfers use; each reports what it creates or
// deletes to the windows itself.
class ILocalFiles {
public:
    virtual ~ILocalFiles() = default;
    // An existing folder is used; a missing one is made with its parents.
    virtual bool EnsureLocalFolder(const std::string& path) = 0;
    virtual bool DeleteLocalFile(const std::string& path) = 0;
    virtual bool RemoveLocalFolder(const std::string& path) = 0;
};

class IQuestions;

// The front end as the core sees it. Every pointer may be null: a null one
// behaves like the do-nothing defaults.
struct FrontEnd {
    INotifier* notifier = nullptr;
    IStatusLanes* status = nullptr;
    ILogSink* log = nullptr;
    ICompletionHandler* completion = nullptr;
    IApplication* app = nullptr;
    ISettingsSource* settings = nullptr;
    // Questions on the front end's own thread (start-up, saving at exit);
    // null: answered IDOK.
    IQuestions* questions = nullptr;
    // Questions of the connection threads, which wait for the answer while
    // the front end goes on; null: OK for a message, an existing file is
    // skipped.
    IQuestionSink* questionSink = nullptr;
    ILocalFiles* localFiles = nullptr; // null: local folder work fails

    INotifier& Notifier() const;
    IStatusLanes& Status() const;
    ILogSink& Log() const;
    ICompletionHandler& Completion() const;
    IApplication& App() const;
    ISettingsSource& Settings() const;
    // Shows a message box on the front end's own thread; without a question
    // interface answers IDOK. Connection threads ask through the manager.
    int MessageBox(const std::string& text, unsigned style) const;
};

} // namespace qb
