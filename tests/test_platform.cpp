#include "platform/local_file.h"
#include "platform/message_thread.h"
#include "platform/net.h"
#include "platform/time_util.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <gtest/gtest.h>
#include <mutex>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace qb {
namespace {

using namespace std::chrono_literals;

// Records what its thread sees; message 1 ends the loop, message 2 watches a
// pipe whose data is then read and recorded as "fd:<bytes>".
class Worker : public MessageThread {
public:
    explicit Worker(int watchFd = -1) : m_watchFd(watchFd) { Start(); }
    ~Worker() override { Join(); }

    std::vector<std::string> Seen() {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_seen;
    }
    bool WaitSeen(std::size_t n) {
        std::unique_lock<std::mutex> guard(m_lock);
        return m_cv.wait_for(guard, 10s, [&] { return m_seen.size() >= n; });
    }

protected:
    void OnMessage(const Message& msg) override {
        Record("msg" + std::to_string(msg.id) + ":" + std::to_string(msg.wParam));
        if (msg.id == 1) {
            EndThread();
        } else if (msg.id == 2) {
            Watch(m_watchFd, POLLIN, [this](short) {
                char buf[16];
                auto n = ::read(m_watchFd, buf, sizeof buf);
                Record("fd:" + std::string(buf, n > 0 ? static_cast<std::size_t>(n) : 0));
                Unwatch(m_watchFd);
            });
        }
    }

private:
    void Record(std::string s) {
        {
            std::lock_guard<std::mutex> guard(m_lock);
            m_seen.push_back(std::move(s));
        }
        m_cv.notify_all();
    }
    int m_watchFd;
    std::mutex m_lock;
    std::condition_variable m_cv;
    std::vector<std::string> m_seen;
};

TEST(MessageThread, DeliversInOrderAndRefusesPostsAfterTheEnd) {
    Worker worker;
    for (std::uintptr_t i = 0; i < 100; ++i) {
        ASSERT_TRUE(worker.Post(5, i));
    }
    ASSERT_TRUE(worker.Post(1));
    worker.Join();
    auto seen = worker.Seen();
    ASSERT_EQ(seen.size(), 101u);
    for (std::size_t i = 0; i < 100; ++i) {
        EXPECT_EQ(seen[i], "msg5:" + std::to_string(i));
    }
    EXPECT_TRUE(worker.HasEnded());
    EXPECT_FALSE(worker.Post(5));
}

TEST(MessageThread, PostsFromManyThreads) {
    Worker worker;
    std::vector<std::thread> posters;
    for (int t = 0; t < 4; ++t) {
        posters.emplace_back([&] {
            for (int i = 0; i < 250; ++i) {
                worker.Post(7);
            }
        });
    }
    for (auto& p : posters) {
        p.join();
    }
    EXPECT_TRUE(worker.WaitSeen(1000));
    worker.Post(1);
}

TEST(MessageThread, WatchedDescriptorEventsArriveOnTheThread) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    {
        Worker worker(fds[0]);
        worker.Post(2);
        ASSERT_TRUE(worker.WaitSeen(1));
        ASSERT_EQ(::write(fds[1], "abc", 3), 3);
        ASSERT_TRUE(worker.WaitSeen(2));
        worker.Post(1);
        worker.Join();
        EXPECT_EQ(worker.Seen(), (std::vector<std::string>{"msg2:0", "fd:abc", "msg1:0"}));
    }
    ::close(fds[0]);
    ::close(fds[1]);
}

// A listening socket and one accepted peer that never sends anything.
struct SilentPeer {
    net::Socket listener;
    net::Socket client;
    net::Socket server;
    SilentPeer() {
        EXPECT_TRUE(net::ListenTcp("127.0.0.1", listener).ok());
        std::string addr;
        std::uint16_t port = 0;
        EXPECT_TRUE(net::LocalEndpoint(listener.Fd(), addr, port));
        EXPECT_TRUE(net::ConnectTcp("127.0.0.1", port, client, {}).ok());
        EXPECT_TRUE(net::Accept(listener.Fd(), server, {}).ok());
    }
};

TEST(Net, RoundTripAndPeerClose) {
    SilentPeer peer;
    const std::string text = "220 Ready\r\n";
    ASSERT_TRUE(net::SendAll(peer.server.Fd(), text.data(), text.size(), {}).ok());
    char buf[64];
    auto r = net::ReceiveSome(peer.client.Fd(), buf, sizeof buf, {});
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(std::string(buf, r.bytes), text);
    peer.server.Close();
    EXPECT_EQ(net::ReceiveSome(peer.client.Fd(), buf, sizeof buf, {}).status, net::Status::Closed);

    std::string local;
    std::uint16_t port = 0;
    EXPECT_TRUE(net::LocalEndpoint(peer.client.Fd(), local, port));
    EXPECT_EQ(local, "127.0.0.1");
}

TEST(Net, ConnectFailuresAreErrors) {
    net::Socket listener;
    ASSERT_TRUE(net::ListenTcp("127.0.0.1", listener).ok());
    std::string addr;
    std::uint16_t port = 0;
    net::LocalEndpoint(listener.Fd(), addr, port);
    listener.Close(); // nobody listens on that port now
    net::Socket s;
    auto r = net::ConnectTcp("127.0.0.1", port, s, {});
    EXPECT_EQ(r.status, net::Status::Error);
    EXPECT_FALSE(s.IsOpen());
    EXPECT_FALSE(r.errorText.empty());
    EXPECT_EQ(net::ConnectTcp("no-such-host.invalid", 21, s, {}).status, net::Status::Error);
}

TEST(Net, AStopFromAnotherThreadEndsABlockedReceive) {
    SilentPeer peer;
    net::WakeEvent wake;
    std::atomic<bool> stop{false};
    net::Interrupt intr{&wake, [&] { return stop.load(); }};
    std::thread stopper([&] {
        std::this_thread::sleep_for(50ms);
        stop = true;
        wake.Signal();
    });
    char buf[16];
    auto r = net::ReceiveSome(peer.client.Fd(), buf, sizeof buf, intr);
    stopper.join();
    EXPECT_EQ(r.status, net::Status::Interrupted);

    // A wake-up without the stop test agreeing does not end the wait.
    wake.Clear();
    std::thread sender([&] {
        wake.Signal();
        std::this_thread::sleep_for(30ms);
        ::send(peer.server.Fd(), "x", 1, MSG_NOSIGNAL);
    });
    net::Interrupt notStopped{&wake, [] { return false; }};
    r = net::ReceiveSome(peer.client.Fd(), buf, sizeof buf, notStopped);
    sender.join();
    EXPECT_TRUE(r.ok());
    EXPECT_EQ(r.bytes, 1u);
}

TEST(Net, AStopEndsAWaitForAConnection) {
    net::Socket listener;
    ASSERT_TRUE(net::ListenTcp("127.0.0.1", listener).ok());
    net::WakeEvent wake;
    std::atomic<bool> stop{false};
    std::thread stopper([&] {
        std::this_thread::sleep_for(20ms);
        stop = true;
        wake.Signal();
    });
    net::Socket accepted;
    auto r = net::Accept(listener.Fd(), accepted, {&wake, [&] { return stop.load(); }});
    stopper.join();
    EXPECT_EQ(r.status, net::Status::Interrupted);
}

TEST(Time, LocalTimeRoundTrip) {
    LocalTime t{2024, 2, 29, 13, 45, 10};
    std::time_t v = FromLocalTime(t);
    ASSERT_NE(v, -1);
    LocalTime back = ToLocalTime(v);
    EXPECT_EQ(back.year, 2024);
    EXPECT_EQ(back.month, 2);
    EXPECT_EQ(back.day, 29);
    EXPECT_EQ(back.hour, 13);
    EXPECT_EQ(back.minute, 45);
    EXPECT_EQ(back.second, 10);
    EXPECT_EQ(FromLocalTime({2023, 2, 29, 0, 0, 0}), -1);
    EXPECT_EQ(FromLocalTime({2023, 13, 1, 0, 0, 0}), -1);
    EXPECT_EQ(FromLocalTime({2023, 1, 1, 24, 0, 0}), -1);
    EXPECT_EQ(ToLocalTime(StartOfYear(v)).month, 1);
    EXPECT_EQ(ToLocalTime(StartOfYear(v)).year, 2024);
}

TEST(Time, YearOfADateWithoutYear) {
    const std::time_t dec5 = FromLocalTime({2026, 12, 5, 12, 0, 0});
    const std::time_t jan1 = FromLocalTime({2026, 1, 1, 0, 30, 0});
    struct Case {
        int month, day;
        std::time_t now;
        int year;
    };
    const Case cases[] = {
        {3, 3, dec5, 2026},   {12, 5, dec5, 2026}, {12, 6, dec5, 2025},
        {12, 20, dec5, 2025}, {1, 1, jan1, 2026},  {1, 2, jan1, 2025},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(YearForMonthDay(c.month, c.day, c.now), c.year) << c.month << "/" << c.day;
    }
}

TEST(TempFiles, PrivateAndExclusive) {
    std::string a = MakeTempFile("ftp");
    std::string b = MakeTempFile("ftp");
    ASSERT_FALSE(a.empty());
    EXPECT_NE(a, b);
    struct stat st {};
    ASSERT_EQ(::stat(a.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(st.st_size, 0);
    ASSERT_EQ(::stat(PrivateTempFolder().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    ::unlink(a.c_str());
    ::unlink(b.c_str());
}

} // namespace
} // namespace qb
