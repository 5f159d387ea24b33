#include "app/event_queue.h"

namespace qb {

namespace {

// The folder an item change belongs to, for folding changes together.
bool SameFolder(const CFTPFile& a, const CFTPFile& b) {
    if (a.m_nConnection != b.m_nConnection) {
        return false;
    }
    auto folderOf = [](const CFTPFile& item) {
        std::string path = item.GetPath(false);
        auto slash = path.rfind('/');
        return slash == std::string::npos ? std::string() : path.substr(0, slash);
    };
    return folderOf(a) == folderOf(b);
}

} // namespace

void EventQueue::SetWakeUp(std::function<void()> wakeUp) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_wakeUp = std::move(wakeUp);
}

bool EventQueue::AddLocked(CoreEvent&& event) {
    if (m_bClosed) {
        return false;
    }
    if (auto* lines = std::get_if<event::LogLines>(&event)) {
        if (m_nWaitingLogLines + lines->lines.size() > kMaxWaitingLogLines) {
            m_nDroppedLogLines += lines->lines.size();
            return false;
        }
        m_nWaitingLogLines += lines->lines.size();
        if (!m_events.empty()) {
            if (auto* last = std::get_if<event::LogLines>(&m_events.back())) {
                for (auto& line : lines->lines) {
                    last->lines.push_back(std::move(line));
                }
                return false; // the batch it joins has woken the front end
            }
        }
    } else if (std::holds_alternative<event::StatusChanged>(event)) {
        if (m_bStatusWaiting) {
            return false;
        }
        m_bStatusWaiting = true;
    } else if (auto* changed = std::get_if<event::ItemsChanged>(&event)) {
        if (!m_events.empty() && !changed->changes.empty()) {
            auto* last = std::get_if<event::ItemsChanged>(&m_events.back());
            if (last && !last->changes.empty() &&
                SameFolder(last->changes.back().item, changed->changes.front().item)) {
                for (auto& change : changed->changes) {
                    last->changes.push_back(std::move(change));
                }
                return false;
            }
        }
    }
    m_events.push_back(std::move(event));
    if (m_bWakePending) {
        return false;
    }
    m_bWakePending = true;
    ++m_nWakeUps;
    return true;
}

void EventQueue::Push(CoreEvent event) {
    std::function<void()> wakeUp;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (!AddLocked(std::move(event))) {
            return;
        }
        wakeUp = m_wakeUp;
    }
    m_arrived.notify_all();
    if (wakeUp) {
        wakeUp();
    }
}

void EventQueue::PushLogLine(LogLineClass lineClass, std::string text) {
    event::LogLines batch;
    batch.lines.push_back(LogLine{lineClass, std::move(text)});
    Push(std::move(batch));
}

std::deque<CoreEvent> EventQueue::TakeAll() {
    std::lock_guard<std::mutex> guard(m_lock);
    std::deque<CoreEvent> taken;
    taken.swap(m_events);
    if (m_nDroppedLogLines > 0) {
        event::LogLines note;
        note.lines.push_back(LogLine{LOG_NOTE, std::to_string(m_nDroppedLogLines) +
                                                   " log lines were left out: they came "
                                                   "faster than they could be shown."});
        taken.emplace_back(std::move(note));
        m_nDroppedLogLines = 0;
    }
    m_bWakePending = false;
    m_bStatusWaiting = false;
    m_nWaitingLogLines = 0;
    return taken;
}

bool EventQueue::WaitForEvents(std::chrono::milliseconds limit) {
    std::unique_lock<std::mutex> guard(m_lock);
    return m_arrived.wait_for(guard, limit,
                              [&] { return !m_events.empty() || m_nDroppedLogLines > 0; });
}

void EventQueue::Close() {
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_bClosed = true;
        m_events.clear();
        m_wakeUp = nullptr;
    }
    m_arrived.notify_all();
}

bool EventQueue::IsClosed() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_bClosed;
}

std::size_t EventQueue::WakeUpCount() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_nWakeUps;
}

} // namespace qb
