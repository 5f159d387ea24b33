#include "app/app.h"

#include <unistd.h>

namespace qb {

CFTPApp::~CFTPApp() {
    DeleteTemporaryFiles();
}

void CFTPApp::AddTemporaryFile(const std::string& path) {
    std::lock_guard<std::mutex> guard(m_tempLock);
    m_arrTempFiles.push_back(path);
}

std::vector<std::string> CFTPApp::GetTemporaryFiles() const {
    std::lock_guard<std::mutex> guard(m_tempLock);
    return m_arrTempFiles;
}

void CFTPApp::DeleteTemporaryFiles() {
    std::vector<std::string> files;
    {
        std::lock_guard<std::mutex> guard(m_tempLock);
        files.swap(m_arrTempFiles);
    }
    for (const auto& path : files) {
        ::unlink(path.c_str());
    }
}

void CFTPApp::RegisterMainFrame(IMainFrameWindow* window) {
    std::unique_lock<std::shared_mutex> guard(m_windowLock);
    m_pMainFrame = window;
}

void CFTPApp::RegisterFolderTree(IFolderTreeWindow* window) {
    std::unique_lock<std::shared_mutex> guard(m_windowLock);
    m_pFolderTree = window;
}

void CFTPApp::RegisterFolderContent(IFolderContentWindow* window) {
    std::unique_lock<std::shared_mutex> guard(m_windowLock);
    m_pFolderContent = window;
}

void CFTPApp::RegisterStatusBar(IStatusBarWindow* window) {
    std::unique_lock<std::shared_mutex> guard(m_windowLock);
    m_pStatusBar = window;
}

void CFTPApp::RegisterLogView(ILogWindow* window) {
    std::unique_lock<std::shared_mutex> guard(m_windowLock);
    m_pLogView = window;
}

template <typename Window, typename Fn>
void CFTPApp::Deliver(Window* CFTPApp::*member, Fn&& deliver) {
    if (IsExiting()) {
        return;
    }
    std::shared_lock<std::shared_mutex> guard(m_windowLock);
    if (Window* window = this->*member) {
        deliver(*window);
    }
}

void CFTPApp::OperationEnded() {
    SetStopRequested(false);
    SetBusyCode(BUSY_IDLE);
    Deliver(&CFTPApp::m_pMainFrame, [](IMainFrameWindow& w) { w.EndWaitCursor(); });
}

void CFTPApp::OpenFile(const std::string& path) {
    Deliver(&CFTPApp::m_pMainFrame, [&](IMainFrameWindow& w) { w.OpenFile(path); });
}

void CFTPApp::NotifyOperationFinished() {
    Deliver(&CFTPApp::m_pMainFrame, [](IMainFrameWindow& w) { w.OnOperationFinished(); });
}

void CFTPApp::NotifyLocalFileDeleted(const std::string& path) {
    if (IsRefreshPending()) {
        return;
    }
    Deliver(&CFTPApp::m_pFolderTree, [&](IFolderTreeWindow& w) { w.OnLocalFileDeleted(path); });
}

void CFTPApp::NotifyLocalFolderDeleted(const std::string& path) {
    Deliver(&CFTPApp::m_pFolderTree, [&](IFolderTreeWindow& w) { w.OnLocalFolderDeleted(path); });
}

void CFTPApp::NotifyRemoteFileDeleted(const CFTPFile& item) {
    Deliver(&CFTPApp::m_pFolderTree, [&](IFolderTreeWindow& w) { w.OnRemoteFileDeleted(item); });
}

void CFTPApp::NotifyRemoteFolderDeleted(const CFTPFile& item) {
    Deliver(&CFTPApp::m_pFolderTree, [&](IFolderTreeWindow& w) { w.OnRemoteFolderDeleted(item); });
}

void CFTPApp::NotifyLocalFileCreated(const std::string& path) {
    if (IsRefreshPending()) {
        return;
    }
    Deliver(&CFTPApp::m_pFolderTree, [&](IFolderTreeWindow& w) { w.OnLocalFileCreated(path); });
}

void CFTPApp::NotifyLocalFolderCreated(const std::string& path) {
    Deliver(&CFTPApp::m_pFolderTree, [&](IFolderTreeWindow& w) { w.OnLocalFolderCreated(path); });
}

void CFTPApp::NotifyRemoteFileCreated(const CFTPFile& item) {
    Deliver(&CFTPApp::m_pFolderTree, [&](IFolderTreeWindow& w) { w.OnRemoteFileCreated(item); });
}

void CFTPApp::NotifyRemoteFolderCreated(const CFTPFile& item) {
    Deliver(&CFTPApp::m_pFolderTree, [&](IFolderTreeWindow& w) { w.OnRemoteFolderCreated(item); });
}

void CFTPApp::NotifyRepaintTree(std::uintptr_t node) {
    Deliver(&CFTPApp::m_pFolderTree, [&](IFolderTreeWindow& w) { w.OnRepaintTree(node); });
}

void CFTPApp::NotifyConnectionEnded(const CFTPRemoteManager* connection) {
    Deliver(&CFTPApp::m_pFolderTree,
            [&](IFolderTreeWindow& w) { w.OnConnectionEnded(connection); });
}

void CFTPApp::NotifyRenameFinished(const std::string& oldName, const std::string& newName,
                                   std::uintptr_t parentNode) {
    Deliver(&CFTPApp::m_pFolderTree,
            [&](IFolderTreeWindow& w) { w.OnRenameFinished(oldName, newName, parentNode); });
}

void CFTPApp::NotifyRefillContent() {
    Deliver(&CFTPApp::m_pFolderContent, [](IFolderContentWindow& w) { w.OnRefillContent(); });
}

void CFTPApp::NotifyIdle() {
    Deliver(&CFTPApp::m_pFolderContent, [](IFolderContentWindow& w) { w.OnIdle(); });
}

void CFTPApp::NotifyStatusChanged() {
    Deliver(&CFTPApp::m_pStatusBar, [](IStatusBarWindow& w) { w.OnStatusChanged(); });
}

void CFTPApp::LogCommandLine(const std::string& text) {
    Deliver(&CFTPApp::m_pLogView, [&](ILogWindow& w) { w.OnLogLine(LOG_COMMAND, text); });
}

void CFTPApp::LogReplyLine(const std::string& text) {
    Deliver(&CFTPApp::m_pLogView, [&](ILogWindow& w) { w.OnLogLine(LOG_REPLY, text); });
}

void CFTPApp::LogNoteLine(const std::string& text) {
    Deliver(&CFTPApp::m_pLogView, [&](ILogWindow& w) { w.OnLogLine(LOG_NOTE, text); });
}

} // namespace qb
