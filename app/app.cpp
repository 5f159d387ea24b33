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

void CFTPApp::OperationEnded() {
    SetStopRequested(false);
    SetBusyCode(BUSY_IDLE);
}

void CFTPApp::OpenFile(const std::string& path) {
    std::function<void(const std::string&)> opener;
    {
        std::lock_guard<std::mutex> guard(m_tempLock);
        opener = m_opener;
    }
    if (opener && !IsExiting()) {
        opener(path);
    }
}

void CFTPApp::SetFileOpener(std::function<void(const std::string&)> opener) {
    std::lock_guard<std::mutex> guard(m_tempLock);
    m_opener = std::move(opener);
}

} // namespace qb
