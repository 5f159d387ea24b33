// The three sockets of a connection: control, listening and data.
#pragma once

#include "engine/constants.h"
#include "platform/net.h"

#include <string>

namespace qb {

class CFTPRemoteManager;

// The control connection. Reading and the reply splitting come with the
// control channel; for now it only holds the socket and the host.
class CFTPCtrlSocket : public CFTPConstants {
public:
    explicit CFTPCtrlSocket(CFTPRemoteManager* owner) : m_pOwner(owner) {}
    virtual ~CFTPCtrlSocket() = default;
    CFTPCtrlSocket(const CFTPCtrlSocket&) = delete;
    CFTPCtrlSocket& operator=(const CFTPCtrlSocket&) = delete;

    virtual void Close();
    bool IsOpen() const { return m_socket.IsOpen(); }
    const std::string& GetHostName() const { return m_strHost; }
    const std::string& GetLocalAddress() const { return m_strLocalAddress; }

protected:
    CFTPRemoteManager* m_pOwner;
    net::Socket m_socket;
    std::string m_strHost;
    std::string m_strLocalAddress;
};

// Listens for the server's data connection in active mode.
class CFTPListenSocket : public CFTPConstants {
public:
    explicit CFTPListenSocket(CFTPRemoteManager* owner) : m_pOwner(owner) {}
    virtual ~CFTPListenSocket() = default;
    CFTPListenSocket(const CFTPListenSocket&) = delete;
    CFTPListenSocket& operator=(const CFTPListenSocket&) = delete;

    virtual void Close() { m_socket.Close(); }
    bool IsOpen() const { return m_socket.IsOpen(); }

protected:
    CFTPRemoteManager* m_pOwner;
    net::Socket m_socket;
};

// One data connection.
class CFTPDataSocket : public CFTPConstants {
public:
    explicit CFTPDataSocket(CFTPRemoteManager* owner) : m_pOwner(owner) {}
    virtual ~CFTPDataSocket() = default;
    CFTPDataSocket(const CFTPDataSocket&) = delete;
    CFTPDataSocket& operator=(const CFTPDataSocket&) = delete;

    virtual void Close() { m_socket.Close(); }
    bool IsOpen() const { return m_socket.IsOpen(); }

protected:
    CFTPRemoteManager* m_pOwner;
    net::Socket m_socket;
};

} // namespace qb
