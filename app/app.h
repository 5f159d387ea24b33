// The application's shared state and services: the busy code and flags,
// the temporary files deleted at exit, and the notifications that workers,
// connection threads and the manager send to the windows.
#pragma once

#include "app/windows.h"
#include "engine/frontend.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <vector>

namespace qb {

// What the user is doing. Busy: anything but idle; working: anything but
// idle and label editing.
enum BusyCode : std::uint16_t {
    BUSY_IDLE = 0,
    BUSY_STARTING = 1,
    BUSY_CONNECTING = 2, // a Stop then disconnects
    BUSY_EXPLORING = 3,
    BUSY_COPYING = 4,
    BUSY_MOVING = 5,
    BUSY_RENAMING = 6,
    BUSY_DELETING = 7,
    BUSY_CREATING_FOLDER = 8,
    BUSY_EDITING_LABEL = 9, // not an operation
    BUSY_VIEWING_FILE = 10,
    BUSY_VIEWING_LINK = 11,
};

// Lives on the user interface thread; every member may be called from any
// thread. Whatever goes to a window (the notifications, log lines, OpenFile
// and the end of the wait cursor) reaches it only while it is registered
// and the application is not exiting; unregistering waits for calls to that
// window in progress, so a window may be destroyed once it has
// unregistered.
class CFTPApp : public IApplication, public INotifier, public ILogSink {
public:
    CFTPApp() = default;
    // Deletes the temporary files.
    ~CFTPApp() override;
    CFTPApp(const CFTPApp&) = delete;
    CFTPApp& operator=(const CFTPApp&) = delete;

    // ---- Busy code (BUSY_STARTING from construction) ----
    void SetBusyCode(std::uint16_t code) { m_wBusyCode.store(code); }
    int GetBusyCode() const override { return m_wBusyCode.load(); }
    bool IsBusy() const { return GetBusyCode() != BUSY_IDLE; }
    bool IsWorking() const {
        int code = GetBusyCode();
        return code != BUSY_IDLE && code != BUSY_EDITING_LABEL;
    }

    // ---- Flags ----
    void SetStopRequested(bool on) { m_bStopRequested.store(on); }
    bool IsStopRequested() const { return m_bStopRequested.load(); }
    // Set once when the main window closes; never cleared.
    void SetExiting() { m_bExiting.store(true); }
    bool IsExiting() const override { return m_bExiting.load(); }
    void SetRefreshPending(bool on) { m_bRefreshPending.store(on); }
    bool IsRefreshPending() const { return m_bRefreshPending.load(); }
    void SetLocalOperation(bool on) { m_bLocalOperation.store(on); }
    bool IsLocalOperation() const { return m_bLocalOperation.load(); }

    // ---- Temporary files ----
    void AddTemporaryFile(const std::string& path) override;
    std::vector<std::string> GetTemporaryFiles() const;
    // Deletes every recorded file, ignoring failures, and forgets them.
    void DeleteTemporaryFiles();

    // ---- Windows: each registers when created and passes null when it goes
    // away ----
    void RegisterMainFrame(IMainFrameWindow* window);
    void RegisterFolderTree(IFolderTreeWindow* window);
    void RegisterFolderContent(IFolderContentWindow* window);
    void RegisterStatusBar(IStatusBarWindow* window);
    void RegisterLogView(ILogWindow* window);

    // ---- IApplication ----
    // Clears the stop request, sets the busy code to idle and ends the wait
    // cursor.
    void OperationEnded() override;
    void OpenFile(const std::string& path) override;

    // ---- INotifier ----
    void NotifyOperationFinished() override;
    // The two local file notifications are dropped while a refresh is
    // pending: the refill shows the files anyway.
    void NotifyLocalFileDeleted(const std::string& path) override;
    void NotifyLocalFolderDeleted(const std::string& path) override;
    void NotifyRemoteFileDeleted(const CFTPFile& item) override;
    void NotifyRemoteFolderDeleted(const CFTPFile& item) override;
    void NotifyLocalFileCreated(const std::string& path) override;
    void NotifyLocalFolderCreated(const std::string& path) override;
    void NotifyRemoteFileCreated(const CFTPFile& item) override;
    void NotifyRemoteFolderCreated(const CFTPFile& item) override;
    void NotifyRepaintTree(std::uintptr_t node) override;
    void NotifyConnectionEnded(const CFTPRemoteManager* connection) override;
    void NotifyRenameFinished(const std::string& oldName, const std::string& newName,
                              std::uintptr_t parentNode) override;
    void NotifyRefillContent() override;
    void NotifyIdle() override;
    void NotifyStatusChanged() override;

    // ---- ILogSink ----
    void LogCommandLine(const std::string& text) override;
    void LogReplyLine(const std::string& text) override;
    void LogNoteLine(const std::string& text) override;

private:
    // Calls `deliver` with the registered window of that member unless the
    // application is exiting or no such window is registered.
    template <typename Window, typename Fn>
    void Deliver(Window* CFTPApp::*member, Fn&& deliver);

    std::atomic<std::uint16_t> m_wBusyCode{BUSY_STARTING};
    std::atomic<bool> m_bStopRequested{false};
    std::atomic<bool> m_bExiting{false};
    std::atomic<bool> m_bRefreshPending{false};
    std::atomic<bool> m_bLocalOperation{false};

    mutable std::mutex m_tempLock;
    std::vector<std::string> m_arrTempFiles;

    // Guards the window registrations; held shared while a call to a window
    // is in progress.
    std::shared_mutex m_windowLock;
    IMainFrameWindow* m_pMainFrame = nullptr;
    IFolderTreeWindow* m_pFolderTree = nullptr;
    IFolderContentWindow* m_pFolderContent = nullptr;
    IStatusBarWindow* m_pStatusBar = nullptr;
    ILogWindow* m_pLogView = nullptr;
};

} // namespace qb
