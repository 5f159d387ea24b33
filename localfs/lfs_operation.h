// The local workers and the operation that runs one in a thread of its own.
#pragma once

#include "localfs/lfs_data.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace qb {

// Deletes every item of m_arrSource: files (a link is deleted as a link)
// and whole folder trees, asking on each failure. Posts "finished" at the
// end. Runs on the calling thread.
void RunDeleteWorker(CLFSData& data);

// Copies or moves every item of m_arrSource from m_fileSourceFolder into
// m_fileDestFolder, asking before each replace and on each failure. Posts
// "finished" at the end. Runs on the calling thread.
void RunCopyMoveWorker(CLFSData& data);

// One local operation: its data and its worker thread. The progress dialog
// owns it; destroying it cancels the worker and waits for it.
class CLFSOperation {
public:
    enum class Kind { Delete, CopyMove };

    explicit CLFSOperation(Kind kind) : m_kind(kind) {}
    ~CLFSOperation();
    CLFSOperation(const CLFSOperation&) = delete;
    CLFSOperation& operator=(const CLFSOperation&) = delete;

    CLFSData& Data() { return m_data; }

    // Starts the worker thread, which talks to `dialog` until it has posted
    // "finished". Call once, after filling Data().
    void Start(ILFSDialog& dialog);
    // Waits up to `limit` for the worker to end; true when it has.
    bool WaitForEnd(std::chrono::milliseconds limit);
    // Waits for the worker without a limit; IDOK, or IDCANCEL when the
    // operation was cancelled.
    int Wait();
    void Cancel() { m_data.Cancel(); }

private:
    Kind m_kind;
    CLFSData m_data;
    std::thread m_thread;
    std::mutex m_endLock;
    std::condition_variable m_ended;
    bool m_bEnded = false;
};

} // namespace qb
