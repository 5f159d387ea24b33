#include "tests/support/script_server.h"

#include <chrono>
#include <poll.h>

namespace qb::test {

namespace {
constexpr int kWaitMs = 10000; // every wait of the server is bounded
}

ScriptServer::ScriptServer(const std::string& address) : m_address(address) {
    net::ListenTcp(address, m_listener, 4);
    std::string bound;
    net::LocalEndpoint(m_listener.Fd(), bound, m_port);
}

ScriptServer::~ScriptServer() {
    m_stop = true;
    m_wake.Signal();
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

ScriptServer& ScriptServer::Add(Step step) {
    m_script.push_back(std::move(step));
    return *this;
}

ScriptServer& ScriptServer::Greet(const std::string& reply) {
    Step s;
    s.replies = {reply};
    return Add(std::move(s));
}

ScriptServer& ScriptServer::On(const std::string& expect, const std::string& reply) {
    return On(expect, std::vector<std::string>{reply});
}

ScriptServer& ScriptServer::On(const std::string& expect, std::vector<std::string> replies) {
    Step s;
    s.expect = expect;
    s.replies = std::move(replies);
    return Add(std::move(s));
}

ScriptServer& ScriptServer::Pasv(const std::string& announce) {
    Step s;
    s.expect = "PASV";
    s.replies = {"227 Entering Passive Mode (" + announce + ",PORT)."};
    return Add(std::move(s));
}

ScriptServer& ScriptServer::Port() {
    return On("PORT *", "200 PORT command successful");
}

ScriptServer& ScriptServer::Epsv() {
    return On("EPSV", "229 Entering Extended Passive Mode (|||PORT|)");
}

ScriptServer& ScriptServer::Eprt() {
    return On("EPRT *", "200 EPRT command successful");
}

ScriptServer& ScriptServer::SendData(const std::string& expect, const std::string& data,
                                     const std::string& first, const std::string& last) {
    Step s;
    s.expect = expect;
    s.replies = {first, last};
    s.sendData = data;
    s.hasData = true;
    return Add(std::move(s));
}

ScriptServer& ScriptServer::ReceiveData(const std::string& expect, const std::string& first,
                                        const std::string& last) {
    Step s;
    s.expect = expect;
    s.replies = {first, last};
    s.receiveData = true;
    return Add(std::move(s));
}

ScriptServer& ScriptServer::CloseAfterLast() {
    if (!m_script.empty()) {
        m_script.back().closeAfter = true;
    }
    return *this;
}

void ScriptServer::Start(int connections) {
    m_thread = std::thread([this, connections] { Run(connections); });
}

bool ScriptServer::WaitDone(int timeoutMs) {
    std::unique_lock<std::mutex> guard(m_lock);
    return m_doneCv.wait_for(guard, std::chrono::milliseconds(timeoutMs), [&] { return m_done; });
}

std::vector<std::string> ScriptServer::Commands() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_commands;
}

std::string ScriptServer::ReceivedData() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_received;
}

std::string ScriptServer::Mismatch() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_mismatch;
}

void ScriptServer::Record(const std::string& line) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_commands.push_back(line);
}

bool ScriptServer::Matches(const std::string& expect, const std::string& line) const {
    if (!expect.empty() && expect.back() == '*') {
        return line.compare(0, expect.size() - 1, expect, 0, expect.size() - 1) == 0;
    }
    return line == expect;
}

void ScriptServer::Run(int connections) {
    net::Interrupt intr{&m_wake, [this] { return m_stop.load(); }};
    for (int i = 0; i < connections && !m_stop; ++i) {
        net::Socket control;
        if (!net::Accept(m_listener.Fd(), control, intr).ok()) {
            break;
        }
        ++m_served;
        Serve(control);
    }
    std::lock_guard<std::mutex> guard(m_lock);
    m_done = true;
    m_doneCv.notify_all();
}

bool ScriptServer::ReadLine(net::Socket& control, std::string& line) {
    line.clear();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitMs);
    net::Interrupt intr{&m_wake, [this, deadline] {
                            return m_stop.load() || std::chrono::steady_clock::now() > deadline;
                        }};
    char c = 0;
    for (;;) {
        net::Result r = net::ReceiveSome(control.Fd(), &c, 1, intr);
        if (!r.ok()) {
            return false;
        }
        if (c == '\n') {
            if (!line.empty() && line.back() == '\r') {
                line.pop_back();
            }
            return true;
        }
        line += c;
    }
}

void ScriptServer::Reply(net::Socket& control, const std::string& text) {
    // A "\x01" in a reply splits it into two packets sent a moment apart.
    std::string wire = text + "\r\n";
    std::size_t start = 0;
    for (;;) {
        const std::size_t cut = wire.find('\x01', start);
        const std::size_t end = cut == std::string::npos ? wire.size() : cut;
        net::SendAll(control.Fd(), wire.data() + start, end - start, {});
        if (cut == std::string::npos) {
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        start = cut + 1;
    }
}

bool ScriptServer::OpenData(net::Socket& data) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitMs);
    net::Interrupt intr{&m_wake, [this, deadline] {
                            return m_stop.load() || std::chrono::steady_clock::now() > deadline;
                        }};
    if (m_pasvListener.IsOpen()) {
        bool ok = net::Accept(m_pasvListener.Fd(), data, intr).ok();
        m_pasvListener.Close();
        return ok;
    }
    if (m_portPort != 0) {
        bool ok = net::ConnectTcp(m_portHost, m_portPort, data, intr).ok();
        m_portPort = 0;
        return ok;
    }
    return false;
}

void ScriptServer::Serve(net::Socket& control) {
    for (const Step& step : m_script) {
        if (m_stop) {
            return;
        }
        std::string line;
        if (!step.expect.empty()) {
            if (!ReadLine(control, line)) {
                return;
            }
            Record(line);
            if (!Matches(step.expect, line)) {
                std::lock_guard<std::mutex> guard(m_lock);
                if (m_mismatch.empty()) {
                    m_mismatch = "expected '" + step.expect + "', got '" + line + "'";
                }
                Reply(control, "500 Unexpected command");
                return;
            }
        }
        if (step.delayMs > 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(step.delayMs));
        }
        std::vector<std::string> replies = step.replies;
        if (step.expect == "PASV" || step.expect == "EPSV") {
            net::ListenTcp(m_address, m_pasvListener, 1);
            std::string address;
            std::uint16_t port = 0;
            net::LocalEndpoint(m_pasvListener.Fd(), address, port);
            const std::string numbers = step.expect == "EPSV" ? std::to_string(port)
                                                              : std::to_string(port >> 8) + "," +
                                                                    std::to_string(port & 255);
            auto at = replies[0].find("PORT");
            if (at != std::string::npos) {
                replies[0].replace(at, 4, numbers);
            }
        }
        if (step.expect == "EPRT *") {
            // "EPRT |af|address|port|"
            const std::string args = line.size() > 5 ? line.substr(5) : std::string();
            if (args.size() > 2) {
                const char d = args[0];
                const auto a = args.find(d, 1);
                const auto b = a == std::string::npos ? a : args.find(d, a + 1);
                const auto e = b == std::string::npos ? b : args.find(d, b + 1);
                if (e != std::string::npos) {
                    m_portHost = args.substr(a + 1, b - a - 1);
                    m_portPort =
                        static_cast<std::uint16_t>(std::stoi(args.substr(b + 1, e - b - 1)));
                }
            }
        }
        if (step.expect == "PORT *") {
            // "PORT h1,h2,h3,h4,p1,p2"
            std::string args = line.substr(5);
            std::vector<int> n;
            std::size_t pos = 0;
            while (pos <= args.size() && n.size() < 6) {
                auto comma = args.find(',', pos);
                n.push_back(std::stoi(args.substr(pos, comma - pos)));
                if (comma == std::string::npos) {
                    break;
                }
                pos = comma + 1;
            }
            if (n.size() == 6) {
                m_portHost = std::to_string(n[0]) + "." + std::to_string(n[1]) + "." +
                             std::to_string(n[2]) + "." + std::to_string(n[3]);
                m_portPort = static_cast<std::uint16_t>(n[4] * 256 + n[5]);
            }
        }
        if (step.hasData || step.receiveData) {
            Reply(control, replies.at(0));
            net::Socket data;
            if (OpenData(data)) {
                if (step.hasData) {
                    net::SendAll(data.Fd(), step.sendData.data(), step.sendData.size(), {});
                } else {
                    char buf[65536];
                    for (;;) {
                        net::Result r =
                            net::ReceiveSome(data.Fd(), buf, sizeof buf,
                                             {&m_wake, [this] { return m_stop.load(); }});
                        if (!r.ok()) {
                            break;
                        }
                        std::lock_guard<std::mutex> guard(m_lock);
                        m_received.append(buf, r.bytes);
                    }
                }
                data.Close();
            }
            for (std::size_t i = 1; i < replies.size(); ++i) {
                Reply(control, replies[i]);
            }
        } else {
            for (const auto& r : replies) {
                Reply(control, r);
            }
        }
        if (step.closeAfter) {
            return;
        }
    }
    // The script is over: wait for the client to leave (or the end).
    std::string rest;
    while (ReadLine(control, rest)) {
        Record(rest);
        Reply(control, "502 Not in the script");
    }
}

} // namespace qb::test
