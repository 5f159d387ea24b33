#include "platform/net.h"

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace qb::net {

namespace {

Result ErrorResult(int code, const char* what) {
    Result r;
    r.status = Status::Error;
    r.errorCode = code;
    r.errorText = std::string(what) + ": " + std::strerror(code);
    return r;
}

Result Interrupted() {
    Result r;
    r.status = Status::Interrupted;
    r.errorText = "Interrupted.";
    return r;
}

void SetNonBlocking(int fd) {
    int flags = ::fcntl(fd, F_GETFL, 0);
    ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
}

// The longest a wait sleeps before asking the stop test again; wake-ups
// normally come through the wake descriptor long before this.
constexpr int kPollSliceMs = 50;

// Polls `fds` (the last entry is the wake descriptor, if any) until one of the
// real descriptors is ready. Returns Ok, Interrupted or Error.
Result PollUntil(std::vector<pollfd>& fds, std::size_t realCount, const Interrupt& intr) {
    const auto start = std::chrono::steady_clock::now();
    for (;;) {
        if (intr.Stopped()) {
            return Interrupted();
        }
        if (intr.idleLimit.count() > 0 &&
            std::chrono::steady_clock::now() - start >= intr.idleLimit) {
            Result r;
            r.status = Status::TimedOut;
            const auto ms = intr.idleLimit.count();
            r.errorText =
                "nothing happened within " +
                (ms % 1000 == 0 ? std::to_string(ms / 1000) + " s" : std::to_string(ms) + " ms");
            return r;
        }
        for (auto& p : fds) {
            p.revents = 0;
        }
        int n = ::poll(fds.data(), fds.size(), kPollSliceMs);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return ErrorResult(errno, "poll");
        }
        for (std::size_t i = 0; i < realCount; ++i) {
            if (fds[i].revents != 0) {
                return Result{};
            }
        }
        // Only the wake descriptor (or the time slice): ask the stop test again.
    }
}

// Name resolution runs on a thread of its own so that a stop is not held up
// by a slow resolver; the waiting side polls its completion descriptor.
struct Resolution {
    std::mutex lock;
    int doneFd = -1;
    int error = 0;
    std::vector<sockaddr_storage> addrs;
    std::vector<socklen_t> lens;
    Resolution() { doneFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK); }
    ~Resolution() {
        if (doneFd >= 0) {
            ::close(doneFd);
        }
    }
};

void Resolve(const std::string& host, std::uint16_t port, bool numericOnly, Resolution& res) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV | (numericOnly ? AI_NUMERICHOST : 0);
    addrinfo* list = nullptr;
    const std::string service = std::to_string(port);
    int rc = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &list);
    std::lock_guard<std::mutex> guard(res.lock);
    res.error = rc;
    if (rc != 0) {
        return;
    }
    // IPv4 first: the data connection commands carry IPv4 addresses only.
    for (int pass = 0; pass < 2; ++pass) {
        for (addrinfo* ai = list; ai; ai = ai->ai_next) {
            bool v4 = ai->ai_family == AF_INET;
            if ((pass == 0) != v4) {
                continue;
            }
            sockaddr_storage ss{};
            std::memcpy(&ss, ai->ai_addr, ai->ai_addrlen);
            res.addrs.push_back(ss);
            res.lens.push_back(ai->ai_addrlen);
        }
    }
    ::freeaddrinfo(list);
}

Result ResolveHost(const std::string& host, std::uint16_t port, const Interrupt& intr,
                   std::vector<sockaddr_storage>& addrs, std::vector<socklen_t>& lens) {
    auto res = std::make_shared<Resolution>();
    Resolve(host, port, true, *res);
    if (res->error != 0) {
        res = std::make_shared<Resolution>();
        if (res->doneFd < 0) {
            return ErrorResult(errno, "eventfd");
        }
        std::thread([host, port, res] {
            Resolve(host, port, false, *res);
            const std::uint64_t one = 1;
            [[maybe_unused]] auto w = ::write(res->doneFd, &one, sizeof one);
        }).detach();
        std::vector<pollfd> fds{{res->doneFd, POLLIN, 0}};
        if (intr.wake) {
            fds.push_back({intr.wake->Fd(), POLLIN, 0});
        }
        Result waited = PollUntil(fds, 1, intr);
        if (!waited.ok()) {
            return waited;
        }
    }
    std::lock_guard<std::mutex> guard(res->lock);
    if (res->error != 0 || res->addrs.empty()) {
        Result r;
        r.status = Status::Error;
        r.errorCode = res->error;
        r.errorText = std::string("Cannot resolve host name ") + host + ": " +
                      (res->error ? ::gai_strerror(res->error) : "no address");
        return r;
    }
    addrs = res->addrs;
    lens = res->lens;
    return Result{};
}

} // namespace

WakeEvent::WakeEvent() {
    m_fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
}

WakeEvent::~WakeEvent() {
    if (m_fd >= 0) {
        ::close(m_fd);
    }
}

void WakeEvent::Signal() {
    const std::uint64_t one = 1;
    [[maybe_unused]] auto w = ::write(m_fd, &one, sizeof one);
}

void WakeEvent::Clear() {
    std::uint64_t counter = 0;
    [[maybe_unused]] auto r = ::read(m_fd, &counter, sizeof counter);
}

Socket& Socket::operator=(Socket&& other) noexcept {
    if (this != &other) {
        Close();
        m_fd = other.Release();
    }
    return *this;
}

void Socket::Close() {
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

int Socket::Release() {
    int fd = m_fd;
    m_fd = -1;
    return fd;
}

void IgnoreSigpipe() {
    ::signal(SIGPIPE, SIG_IGN);
}

Result WaitFor(int fd, short events, const Interrupt& intr) {
    std::vector<pollfd> fds{{fd, events, 0}};
    if (intr.wake) {
        fds.push_back({intr.wake->Fd(), POLLIN, 0});
    }
    return PollUntil(fds, 1, intr);
}

Result ConnectTcp(const std::string& host, std::uint16_t port, Socket& out, const Interrupt& intr) {
    out.Close();
    std::vector<sockaddr_storage> addrs;
    std::vector<socklen_t> lens;
    Result resolved = ResolveHost(host, port, intr, addrs, lens);
    if (!resolved.ok()) {
        return resolved;
    }
    Result last = ErrorResult(ECONNREFUSED, "connect");
    for (std::size_t i = 0; i < addrs.size(); ++i) {
        auto* sa = reinterpret_cast<sockaddr*>(&addrs[i]);
        Socket s(::socket(sa->sa_family, SOCK_STREAM | SOCK_CLOEXEC, 0));
        if (!s.IsOpen()) {
            last = ErrorResult(errno, "socket");
            continue;
        }
        SetNonBlocking(s.Fd());
        int one = 1;
        ::setsockopt(s.Fd(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        if (::connect(s.Fd(), sa, lens[i]) != 0) {
            if (errno != EINPROGRESS) {
                last = ErrorResult(errno, "connect");
                continue;
            }
            Result waited = WaitFor(s.Fd(), POLLOUT, intr);
            if (waited.status == Status::Interrupted || waited.status == Status::TimedOut) {
                return waited;
            }
            if (!waited.ok()) {
                last = waited;
                continue;
            }
            int err = 0;
            socklen_t len = sizeof err;
            ::getsockopt(s.Fd(), SOL_SOCKET, SO_ERROR, &err, &len);
            if (err != 0) {
                last = ErrorResult(err, "connect");
                continue;
            }
        }
        out = std::move(s);
        return Result{};
    }
    return last;
}

Result SendAll(int fd, const void* data, std::size_t size, const Interrupt& intr) {
    const auto* p = static_cast<const char*>(data);
    std::size_t sent = 0;
    while (sent < size) {
        ssize_t n = ::send(fd, p + sent, size - sent, MSG_NOSIGNAL);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            Result waited = WaitFor(fd, POLLOUT, intr);
            if (!waited.ok()) {
                waited.bytes = sent;
                return waited;
            }
            continue;
        }
        Result r = ErrorResult(n < 0 ? errno : EPIPE, "send");
        r.bytes = sent;
        return r;
    }
    Result r;
    r.bytes = sent;
    return r;
}

Result ReceiveAvailable(int fd, void* data, std::size_t size) {
    for (;;) {
        ssize_t n = ::recv(fd, data, size, MSG_DONTWAIT);
        if (n > 0) {
            Result r;
            r.bytes = static_cast<std::size_t>(n);
            return r;
        }
        if (n == 0) {
            Result r;
            r.status = size == 0 ? Status::Ok : Status::Closed;
            return r;
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            return Result{};
        }
        return ErrorResult(errno, "recv");
    }
}

Result ReceiveSome(int fd, void* data, std::size_t size, const Interrupt& intr) {
    for (;;) {
        Result r = ReceiveAvailable(fd, data, size);
        if (!r.ok() || r.bytes > 0 || size == 0) {
            return r;
        }
        Result waited = WaitFor(fd, POLLIN, intr);
        if (!waited.ok()) {
            return waited;
        }
    }
}

Result ListenTcp(const std::string& address, Socket& out, int backlog) {
    out.Close();
    sockaddr_storage ss{};
    socklen_t len = 0;
    if (address.find(':') != std::string::npos) {
        auto* sin6 = reinterpret_cast<sockaddr_in6*>(&ss);
        sin6->sin6_family = AF_INET6;
        if (::inet_pton(AF_INET6, address.c_str(), &sin6->sin6_addr) != 1) {
            return ErrorResult(EINVAL, "listen address");
        }
        len = sizeof(sockaddr_in6);
    } else {
        auto* sin = reinterpret_cast<sockaddr_in*>(&ss);
        sin->sin_family = AF_INET;
        if (address.empty()) {
            sin->sin_addr.s_addr = htonl(INADDR_ANY);
        } else if (::inet_pton(AF_INET, address.c_str(), &sin->sin_addr) != 1) {
            return ErrorResult(EINVAL, "listen address");
        }
        len = sizeof(sockaddr_in);
    }
    Socket s(::socket(ss.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!s.IsOpen()) {
        return ErrorResult(errno, "socket");
    }
    if (::bind(s.Fd(), reinterpret_cast<sockaddr*>(&ss), len) != 0) {
        return ErrorResult(errno, "bind");
    }
    if (::listen(s.Fd(), backlog) != 0) {
        return ErrorResult(errno, "listen");
    }
    SetNonBlocking(s.Fd());
    out = std::move(s);
    return Result{};
}

Result Accept(int listenFd, Socket& out, const Interrupt& intr) {
    for (;;) {
        int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd >= 0) {
            out = Socket(fd);
            int one = 1;
            ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            return Result{};
        }
        if (errno == EINTR || errno == ECONNABORTED) {
            continue;
        }
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
            return ErrorResult(errno, "accept");
        }
        Result waited = WaitFor(listenFd, POLLIN, intr);
        if (!waited.ok()) {
            return waited;
        }
    }
}

namespace {
bool Endpoint(int fd, bool peer, std::string& address, std::uint16_t& port) {
    sockaddr_storage ss{};
    socklen_t len = sizeof ss;
    auto* sa = reinterpret_cast<sockaddr*>(&ss);
    int rc = peer ? ::getpeername(fd, sa, &len) : ::getsockname(fd, sa, &len);
    if (rc != 0) {
        return false;
    }
    char text[INET6_ADDRSTRLEN] = {};
    if (ss.ss_family == AF_INET) {
        auto* sin = reinterpret_cast<sockaddr_in*>(&ss);
        ::inet_ntop(AF_INET, &sin->sin_addr, text, sizeof text);
        port = ntohs(sin->sin_port);
    } else if (ss.ss_family == AF_INET6) {
        auto* sin6 = reinterpret_cast<sockaddr_in6*>(&ss);
        ::inet_ntop(AF_INET6, &sin6->sin6_addr, text, sizeof text);
        port = ntohs(sin6->sin6_port);
    } else {
        return false;
    }
    address = text;
    return true;
}
} // namespace

bool LocalEndpoint(int fd, std::string& address, std::uint16_t& port) {
    return Endpoint(fd, false, address, port);
}

bool PeerEndpoint(int fd, std::string& address, std::uint16_t& port) {
    return Endpoint(fd, true, address, port);
}

} // namespace qb::net
