#include "platform/message_thread.h"

#include <algorithm>
#include <cerrno>
#include <poll.h>
#include <stdexcept>
#include <sys/eventfd.h>
#include <unistd.h>
#include <vector>

namespace qb {

MessageThread::MessageThread() {
    m_eventFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (m_eventFd < 0) {
        throw std::runtime_error("eventfd failed");
    }
}

MessageThread::~MessageThread() {
    // The derived destructor should have joined already; joining here still
    // keeps the process alive rather than terminating on a joinable thread.
    Join();
    ::close(m_eventFd);
}

void MessageThread::Start() {
    if (m_started.exchange(true)) {
        return;
    }
    m_thread = std::thread([this] { Run(); });
}

bool MessageThread::Post(std::uint32_t id, std::uintptr_t wParam, std::intptr_t lParam) {
    {
        std::lock_guard<std::mutex> guard(m_queueLock);
        if (!m_acceptPosts || !m_started.load()) {
            return false;
        }
        m_queue.push_back(Message{id, wParam, lParam});
    }
    const std::uint64_t one = 1;
    // Non-blocking: a full counter cannot happen with 64 bits of headroom.
    [[maybe_unused]] auto written = ::write(m_eventFd, &one, sizeof one);
    return true;
}

bool MessageThread::PostDelayed(std::chrono::milliseconds delay, std::uint32_t id,
                                std::uintptr_t wParam, std::intptr_t lParam) {
    {
        std::lock_guard<std::mutex> guard(m_queueLock);
        if (!m_acceptPosts || !m_started.load()) {
            return false;
        }
        m_delayed.push_back(
            Delayed{std::chrono::steady_clock::now() + delay, Message{id, wParam, lParam}});
    }
    // Wake the loop so that it recomputes its timeout.
    const std::uint64_t one = 1;
    [[maybe_unused]] auto written = ::write(m_eventFd, &one, sizeof one);
    return true;
}

int MessageThread::PromoteDelayed() {
    std::lock_guard<std::mutex> guard(m_queueLock);
    if (m_delayed.empty()) {
        return -1;
    }
    const auto now = std::chrono::steady_clock::now();
    auto next = std::chrono::steady_clock::time_point::max();
    for (auto it = m_delayed.begin(); it != m_delayed.end();) {
        if (it->due <= now) {
            m_queue.push_back(it->msg);
            it = m_delayed.erase(it);
        } else {
            next = std::min(next, it->due);
            ++it;
        }
    }
    if (!m_queue.empty()) {
        return 0;
    }
    if (next == std::chrono::steady_clock::time_point::max()) {
        return -1;
    }
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(next - now).count() + 1;
    return static_cast<int>(std::min<long long>(ms, 60000));
}

void MessageThread::Join() {
    if (m_thread.joinable() && std::this_thread::get_id() != m_thread.get_id()) {
        m_thread.join();
    }
}

bool MessageThread::TakeMessage(Message& out) {
    std::lock_guard<std::mutex> guard(m_queueLock);
    if (m_queue.empty()) {
        return false;
    }
    out = m_queue.front();
    m_queue.pop_front();
    return true;
}

void MessageThread::Watch(int fd, short events, FdHandler handler) {
    WatchEntry entry;
    entry.events = events;
    entry.serial = m_nextSerial++;
    entry.handler = std::move(handler);
    m_watches[fd] = std::move(entry);
}

void MessageThread::SetWatchEvents(int fd, short events) {
    auto it = m_watches.find(fd);
    if (it != m_watches.end()) {
        it->second.events = events;
    }
}

void MessageThread::Unwatch(int fd) {
    m_watches.erase(fd);
}

void MessageThread::Run() {
    m_threadId.store(std::this_thread::get_id());
    if (!InitInstance()) {
        m_quit = true;
    }
    std::vector<pollfd> fds;
    std::vector<std::uint64_t> serials;
    while (!m_quit) {
        fds.clear();
        serials.clear();
        fds.push_back(pollfd{m_eventFd, POLLIN, 0});
        serials.push_back(0);
        for (const auto& [fd, entry] : m_watches) {
            fds.push_back(pollfd{fd, entry.events, 0});
            serials.push_back(entry.serial);
        }
        int ready = ::poll(fds.data(), fds.size(), PromoteDelayed());
        if (ready < 0) {
            if (errno == EINTR) {
                continue;
            }
            break;
        }
        if (fds[0].revents & POLLIN) {
            std::uint64_t counter = 0;
            [[maybe_unused]] auto got = ::read(m_eventFd, &counter, sizeof counter);
        }
        // Messages first, in the order they were posted, then the descriptor
        // events that poll reported together with them.
        PromoteDelayed();
        Message msg;
        while (!m_quit && TakeMessage(msg)) {
            OnMessage(msg);
        }
        for (std::size_t i = 1; i < fds.size() && !m_quit; ++i) {
            if (fds[i].revents == 0) {
                continue;
            }
            auto it = m_watches.find(fds[i].fd);
            // A handler earlier in this round may have replaced or removed it.
            if (it == m_watches.end() || it->second.serial != serials[i]) {
                continue;
            }
            FdHandler handler = it->second.handler; // may unwatch itself
            handler(fds[i].revents);
        }
    }
    {
        std::lock_guard<std::mutex> guard(m_queueLock);
        m_acceptPosts = false;
        m_queue.clear();
        m_delayed.clear();
    }
    m_watches.clear();
    ExitInstance();
    m_ended.store(true, std::memory_order_release);
}

} // namespace qb
