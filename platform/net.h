// Stop-aware blocking socket helpers.
//
// Every wait polls the socket together with a wake-up descriptor, so that
// another thread can interrupt a connect, send or receive at once, even when
// the peer stays silent. After each wake-up the caller's stop test decides
// whether the call gives up.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace qb::net {

// An eventfd that other threads signal to interrupt blocking calls.
// Stays signalled until the owner clears it.
class WakeEvent {
public:
    WakeEvent();
    ~WakeEvent();
    WakeEvent(const WakeEvent&) = delete;
    WakeEvent& operator=(const WakeEvent&) = delete;

    void Signal();
    void Clear();
    int Fd() const { return m_fd; }

private:
    int m_fd = -1;
};

// The caller's test, asked after every wake-up: true means give up.
using StopTest = std::function<bool()>;

// What a blocking call needs to be interruptible. Every part may be empty.
struct Interrupt {
    const WakeEvent* wake = nullptr;
    StopTest stop;
    // A wait in which nothing becomes ready for this long gives up with
    // TimedOut (0: waits for ever).
    std::chrono::milliseconds idleLimit{0};
    bool Stopped() const { return stop && stop(); }
};

enum class Status {
    Ok,
    Closed,      // the peer closed the connection (receive only)
    Error,       // a socket error; see errorCode / errorText
    Interrupted, // the stop test said so
    TimedOut,    // nothing happened within the interrupt's idle limit
};

struct Result {
    Status status = Status::Ok;
    int errorCode = 0;
    std::size_t bytes = 0;
    std::string errorText;
    bool ok() const { return status == Status::Ok; }
};

// An owned socket descriptor.
class Socket {
public:
    Socket() = default;
    explicit Socket(int fd) : m_fd(fd) {}
    ~Socket() { Close(); }
    Socket(Socket&& other) noexcept : m_fd(other.Release()) {}
    Socket& operator=(Socket&& other) noexcept;
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;

    int Fd() const { return m_fd; }
    bool IsOpen() const { return m_fd >= 0; }
    void Close();
    int Release();

private:
    int m_fd = -1;
};

// Ignores SIGPIPE for the whole process (sends also pass MSG_NOSIGNAL).
void IgnoreSigpipe();

// Waits until fd reports one of `events`. Returns Ok, Interrupted, or Error
// when poll itself fails. The descriptor's own error/hang-up states count as
// ready: the following call will see them.
Result WaitFor(int fd, short events, const Interrupt& intr);

// Resolves host (IPv4 addresses first, then the others) and connects a
// non-blocking TCP socket to the first address that accepts.
Result ConnectTcp(const std::string& host, std::uint16_t port, Socket& out, const Interrupt& intr);

// Sends all bytes.
Result SendAll(int fd, const void* data, std::size_t size, const Interrupt& intr);

// Waits until data arrives, then reads what is there (at most `size`).
// Returns Closed when the peer has closed and nothing is left.
Result ReceiveSome(int fd, void* data, std::size_t size, const Interrupt& intr);

// Reads what is there without waiting; bytes == 0 with Ok means nothing yet.
Result ReceiveAvailable(int fd, void* data, std::size_t size);

// A listening socket on `address` (an IPv4 or IPv6 address; empty: any IPv4
// address) and an ephemeral port.
Result ListenTcp(const std::string& address, Socket& out, int backlog = 1);

// Accepts one connection, waiting for it.
Result Accept(int listenFd, Socket& out, const Interrupt& intr);

// Local and peer address (IPv4 or IPv6 text) and port of a connected or
// bound socket.
bool LocalEndpoint(int fd, std::string& address, std::uint16_t& port);
bool PeerEndpoint(int fd, std::string& address, std::uint16_t& port);

} // namespace qb::net
