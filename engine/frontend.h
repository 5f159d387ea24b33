// What the engine and the manager need from the front end, as small
// interfaces. The window implements them by queuing work onto its own
// thread; the command-line tool and the tests implement them directly.
// Every method has a do-nothing default, so an implementation overrides
// only what it cares about.
#pragma once

#include "platform/types.h"

#include <cstdint>
#include <string>

namespace qb {

class CFTPAction;
class CFTPActionCallerData;
class CFTPActionCallerDataRen;
class CFTPFile;
class CFTPRemoteManager;

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
    // The connection is passed for identification only.
    virtual void NotifyConnectionEnded(const CFTPRemoteManager* /*connection*/) {}
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

// The folder tree's completion handlers, called on the connection thread
// while the manager holds its lock.
class ICompletionHandler {
public:
    virtual ~ICompletionHandler() = default;
    virtual void OnConnectDone(CFTPAction& /*connect*/) {}
    virtual void OnExploreDone(CFTPAction& /*explore*/) {}
    // Clears the working mark of the tree item the caller data names.
    virtual void ClearWorkingMark(const CFTPActionCallerData& /*callerData*/) {}
    // Every finished action, sub-actions included (for front ends that
    // account for results themselves, such as the command-line tool).
    virtual void OnAnyActionDone(CFTPAction& /*action*/) {}
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

// The overwrite confirmation of a download onto an existing local file.
class IOverwriteQuestion {
public:
    enum Answer {
        OVERWRITE = 1,
        RESUME = 2,
        SKIP = 3, // "Ca&ncel": this file is not copied
        OVERWRITE_ALL = 4,
        RESUME_ALL = 5,
        SKIP_ALL = 6, // "&Cancel All"
    };
    virtual ~IOverwriteQuestion() = default;
    // `existing` is the local file, `incoming` the remote one ("host : path");
    // the resume answers are offered only when `canResume`. Blocks until
    // answered; any other way of closing counts as SKIP.
    virtual int AskOverwrite(const std::string& existing, const std::string& incoming,
                             bool canResume) = 0;
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
// behaves like the do-nothing defaults (and questions answer OK/Cancel with
// the first button's meaning: IDOK).
struct FrontEnd {
    INotifier* notifier = nullptr;
    IStatusLanes* status = nullptr;
    ILogSink* log = nullptr;
    ICompletionHandler* completion = nullptr;
    IApplication* app = nullptr;
    ISettingsSource* settings = nullptr;
    IQuestions* questions = nullptr;
    IOverwriteQuestion* overwrite = nullptr; // null: existing files are skipped
    ILocalFiles* localFiles = nullptr;       // null: local folder work fails

    INotifier& Notifier() const;
    IStatusLanes& Status() const;
    ILogSink& Log() const;
    ICompletionHandler& Completion() const;
    IApplication& App() const;
    ISettingsSource& Settings() const;
    // Shows a message box; without a question interface answers IDOK.
    int MessageBox(const std::string& text, unsigned style) const;
};

} // namespace qb
