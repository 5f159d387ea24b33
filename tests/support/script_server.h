// A scripted FTP server for tests: it runs on loopback in a thread of its
// own, answers each command with the reply the script gives, and can open
// data connections in either mode to send or receive data.
#pragma once

#include "platform/net.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace qb::test {

class ScriptServer {
public:
    struct Step {
        // The command expected, exactly ("USER anonymous"); a trailing "*"
        // matches any rest ("PORT *"). Empty: no command, just the replies
        // (used for the greeting).
        std::string expect;
        // Replies sent in order, each a complete reply text without the
        // final CR LF ("226 Done"); "\r\n" between lines of one reply, or
        // between two replies sent in one packet; "\x01" splits a reply
        // into two packets.
        std::vector<std::string> replies;
        // Data sent over the data connection after the first reply.
        std::string sendData;
        bool hasData = false;
        // Receive data over the data connection after the first reply.
        bool receiveData = false;
        // Close the control connection after the replies.
        bool closeAfter = false;
        // Wait this long before replying.
        int delayMs = 0;
    };

    // Listens on `address` (loopback: "127.0.0.1" or "::1").
    explicit ScriptServer(const std::string& address = "127.0.0.1");
    ~ScriptServer();
    ScriptServer(const ScriptServer&) = delete;
    ScriptServer& operator=(const ScriptServer&) = delete;

    std::uint16_t ListenPort() const { return m_port; }

    // Script building; call before Start().
    ScriptServer& Greet(const std::string& reply = "220 Scripted server ready");
    ScriptServer& On(const std::string& expect, const std::string& reply);
    ScriptServer& On(const std::string& expect, std::vector<std::string> replies);
    // "PASV": replies 227 with a fresh data port. `announce` replaces the
    // address in the reply (default 127,0,0,1).
    ScriptServer& Pasv(const std::string& announce = "127,0,0,1");
    // "PORT *": connects back to the address it names, then replies 200.
    ScriptServer& Port();
    // "EPSV": replies 229 with a fresh data port (RFC 2428).
    ScriptServer& Epsv();
    // "EPRT *": connects back to the address it names ("|1|a.b.c.d|port|" or
    // "|2|::1|port|"), then replies 200.
    ScriptServer& Eprt();
    // A transfer command that sends `data` on the data connection between
    // `first` (e.g. 150) and `last` (e.g. 226) replies.
    ScriptServer& SendData(const std::string& expect, const std::string& data,
                           const std::string& first = "150 Opening data connection",
                           const std::string& last = "226 Transfer complete");
    // A transfer command that receives data (an upload) between the replies.
    ScriptServer& ReceiveData(const std::string& expect,
                              const std::string& first = "150 Ok to send data",
                              const std::string& last = "226 Transfer complete");
    ScriptServer& CloseAfterLast();
    ScriptServer& Add(Step step);

    // Every connection gets the whole script, from the start (a client that
    // reconnects starts over). At most `connections` are served.
    void Start(int connections = 1);

    // Waits until the script has run out (or the client left); bounded.
    bool WaitDone(int timeoutMs = 10000);
    // The commands received, in order, over all connections.
    std::vector<std::string> Commands() const;
    // The data received by upload steps.
    std::string ReceivedData() const;
    // Set when a command did not match the script.
    std::string Mismatch() const;
    int ConnectionsServed() const { return m_served.load(); }

private:
    void Run(int connections);
    void Serve(net::Socket& control);
    bool ReadLine(net::Socket& control, std::string& line);
    void Reply(net::Socket& control, const std::string& text);
    bool OpenData(net::Socket& data);
    bool Matches(const std::string& expect, const std::string& line) const;
    void Record(const std::string& line);

    net::Socket m_listener;
    std::string m_address;
    std::uint16_t m_port = 0;
    std::vector<Step> m_script;
    std::thread m_thread;
    net::WakeEvent m_wake;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_served{0};

    // Data connection state of the current control connection.
    net::Socket m_pasvListener;
    std::string m_portHost;
    std::uint16_t m_portPort = 0;
    std::string m_pendingPasvAnnounce;

    mutable std::mutex m_lock;
    std::condition_variable m_doneCv;
    bool m_done = false;
    std::vector<std::string> m_commands;
    std::string m_received;
    std::string m_mismatch;
};

} // namespace qb::test
