// A thread with a message queue whose loop also watches file descriptors.
//
// Posted messages and descriptor events are delivered on the thread itself,
// one callback at a time. Posting never blocks and may be done from any
// thread; it fails only once the loop has ended.
#pragma once

#include "platform/types.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

namespace qb {

struct Message {
    std::uint32_t id = 0;
    std::uintptr_t wParam = 0;
    std::intptr_t lParam = 0;
};

class MessageThread {
public:
    MessageThread();
    MessageThread(const MessageThread&) = delete;
    MessageThread& operator=(const MessageThread&) = delete;
    // Derived classes must call Join() (or StopAndJoin()) in their own
    // destructor, before their members go away.
    virtual ~MessageThread();

    // Starts the loop. Call once, after the derived object is complete.
    void Start();

    // Queues a message for the thread. Returns false when the loop has ended
    // (or was never started), in which case nothing was queued.
    bool Post(std::uint32_t id, std::uintptr_t wParam = 0, std::intptr_t lParam = 0);

    // Queues a message to be delivered once `delay` has passed. Same rules as
    // Post.
    bool PostDelayed(std::chrono::milliseconds delay, std::uint32_t id, std::uintptr_t wParam = 0,
                     std::intptr_t lParam = 0);

    // Waits for the thread to end. Never call from the thread itself.
    void Join();

    // True once the loop has left (the thread may still be unwinding).
    bool HasEnded() const { return m_ended.load(std::memory_order_acquire); }
    bool IsRunning() const { return m_started.load() && !HasEnded(); }
    bool IsCurrentThread() const { return std::this_thread::get_id() == m_threadId.load(); }

protected:
    // Called on the thread before the first message; false ends the thread.
    virtual bool InitInstance() { return true; }
    // Called on the thread for every posted message.
    virtual void OnMessage(const Message& msg) = 0;
    // Called on the thread after the loop has ended.
    virtual void ExitInstance() {}

    // From the thread: leave the loop once the current callback returns.
    // Messages still queued are dropped.
    void EndThread() { m_quit = true; }

    // Descriptor watching; only from the thread itself. The handler receives
    // the poll revents. A handler may watch or unwatch any descriptor.
    using FdHandler = std::function<void(short revents)>;
    void Watch(int fd, short events, FdHandler handler);
    void SetWatchEvents(int fd, short events);
    void Unwatch(int fd);
    bool IsWatched(int fd) const { return m_watches.count(fd) != 0; }

private:
    void Run();
    bool TakeMessage(Message& out);
    // Moves due delayed messages to the queue; returns the poll timeout (ms)
    // until the next one, or -1.
    int PromoteDelayed();

    struct WatchEntry {
        short events = 0;
        std::uint64_t serial = 0;
        FdHandler handler;
    };

    std::thread m_thread;
    std::atomic<std::thread::id> m_threadId{};
    std::atomic<bool> m_started{false};
    std::atomic<bool> m_ended{false};
    int m_eventFd = -1;

    std::mutex m_queueLock;
    std::deque<Message> m_queue;
    struct Delayed {
        std::chrono::steady_clock::time_point due;
        Message msg;
    };
    std::vector<Delayed> m_delayed; // guarded by m_queueLock
    bool m_acceptPosts = true;      // guarded by m_queueLock

    // Thread-only state.
    bool m_quit = false;
    std::uint64_t m_nextSerial = 1;
    std::map<int, WatchEntry> m_watches;
};

} // namespace qb
