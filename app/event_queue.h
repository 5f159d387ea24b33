// The one queue of events from the core to a front end. Any thread pushes;
// the front end's thread takes everything waiting at once. The front end is
// woken once per batch: the wake-up runs when an event arrives and no
// wake-up is outstanding, and the next TakeAll allows the next one. Bursts
// are folded together (log lines into one batch, status changes into one,
// changes in the same folder into one) and the log lines waiting are
// bounded, so a front end that falls behind costs memory only up to a limit.
#pragma once

#include "app/events.h"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>

namespace qb {

class EventQueue {
public:
    // Log lines waiting beyond this are dropped (and their number told).
    static constexpr std::size_t kMaxWaitingLogLines = 100'000;

    EventQueue() = default;
    EventQueue(const EventQueue&) = delete;
    EventQueue& operator=(const EventQueue&) = delete;

    // Called on the pushing thread, outside the queue's lock; it must only
    // arrange for TakeAll to be called soon (a queued call onto the front
    // end's thread, a notification). May be empty.
    void SetWakeUp(std::function<void()> wakeUp);

    void Push(CoreEvent event);
    void PushLogLine(LogLineClass lineClass, std::string text);

    // Everything waiting, oldest first.
    std::deque<CoreEvent> TakeAll();
    // For a front end without an event loop: waits until something is
    // waiting (true) or the time is up (false).
    bool WaitForEvents(std::chrono::milliseconds limit);
    // From now on nothing is queued and nobody is woken; what waits is
    // dropped.
    void Close();
    bool IsClosed() const;
    // Wake-ups made so far (for tests and benchmarks).
    std::size_t WakeUpCount() const;

private:
    // Adds under the lock; true when the front end must be woken.
    bool AddLocked(CoreEvent&& event);

    mutable std::mutex m_lock;
    std::condition_variable m_arrived;
    std::deque<CoreEvent> m_events;
    std::function<void()> m_wakeUp;
    bool m_bWakePending = false;
    bool m_bClosed = false;
    bool m_bStatusWaiting = false;
    std::size_t m_nWaitingLogLines = 0;
    std::size_t m_nDroppedLogLines = 0;
    std::size_t m_nWakeUps = 0;
};

} // namespace qb
