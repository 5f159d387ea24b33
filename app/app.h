// The application's shared state and services: the busy code and flags and
// the temporary files deleted at exit.
#pragma once

#include "engine/frontend.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
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
// thread. What other threads report to the windows goes through the
// session's event queue, not through this object.
class CFTPApp : public IApplication {
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

    // ---- IApplication ----
    // Clears the stop request and sets the busy code to idle.
    void OperationEnded() override;
    // Hands the file to the opener set below (nothing without one), unless
    // the application is exiting.
    void OpenFile(const std::string& path) override;
    void SetFileOpener(std::function<void(const std::string&)> opener);

private:
    std::atomic<std::uint16_t> m_wBusyCode{BUSY_STARTING};
    std::atomic<bool> m_bStopRequested{false};
    std::atomic<bool> m_bExiting{false};
    std::atomic<bool> m_bRefreshPending{false};
    std::atomic<bool> m_bLocalOperation{false};

    mutable std::mutex m_tempLock;
    std::vector<std::string> m_arrTempFiles;
    std::function<void(const std::string&)> m_opener; // guarded by m_tempLock
};

} // namespace qb
