// The windows as the application reaches them from any thread. The front
// end implements each by queuing the call onto its own thread and returns
// at once; it must not call back into the application's registration from
// inside these calls. Attached data is handed over: the receiver owns it.
#pragma once

#include "engine/ftp_file.h"

#include <cstdint>
#include <string>

namespace qb {

class CFTPRemoteManager;

class IMainFrameWindow {
public:
    virtual ~IMainFrameWindow() = default;
    // The manager's queue ran empty: update the toolbar.
    virtual void OnOperationFinished() {}
    // No operation runs any more: end the wait cursor.
    virtual void EndWaitCursor() {}
    // Opens a file with the desktop's program for it.
    virtual void OpenFile(std::string /*path*/) {}
};

class IFolderTreeWindow {
public:
    virtual ~IFolderTreeWindow() = default;
    virtual void OnLocalFileDeleted(std::string /*path*/) {}
    virtual void OnLocalFolderDeleted(std::string /*path*/) {}
    virtual void OnRemoteFileDeleted(CFTPFile /*item*/) {}
    virtual void OnRemoteFolderDeleted(CFTPFile /*item*/) {}
    virtual void OnLocalFileCreated(std::string /*path*/) {}
    virtual void OnLocalFolderCreated(std::string /*path*/) {}
    virtual void OnRemoteFileCreated(CFTPFile /*item*/) {}
    virtual void OnRemoteFolderCreated(CFTPFile /*item*/) {}
    // `node` names a tree node, or 0.
    virtual void OnRepaintTree(std::uintptr_t /*node*/) {}
    // The connection is passed for identification only.
    virtual void OnConnectionEnded(const CFTPRemoteManager* /*connection*/) {}
    virtual void OnRenameFinished(std::string /*oldName*/, std::string /*newName*/,
                                  std::uintptr_t /*parentNode*/) {}
};

class IFolderContentWindow {
public:
    virtual ~IFolderContentWindow() = default;
    virtual void OnRefillContent() {}
    virtual void OnIdle() {}
};

class IStatusBarWindow {
public:
    virtual ~IStatusBarWindow() = default;
    virtual void OnStatusChanged() {}
};

// Colour classes of the log lines.
enum LogLineClass : int {
    LOG_COMMAND = 0, // red
    LOG_REPLY = 1,   // blue
    LOG_NOTE = 2,    // black
};

class ILogWindow {
public:
    virtual ~ILogWindow() = default;
    virtual void OnLogLine(LogLineClass /*lineClass*/, std::string /*text*/) {}
};

} // namespace qb
