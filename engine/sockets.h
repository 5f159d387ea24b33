// The three sockets of a connection: control, listening and data. All of
// them live on the connection's thread; the thread's loop watches their
// descriptors and calls OnReceive / OnAccept when they become ready.
#pragma once

#include "engine/constants.h"
#include "platform/local_file.h"
#include "platform/net.h"
#include "platform/tls.h"
#include "platform/types.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace qb {

class CFTPRemoteManager;

// Replies and lines from a server are bounded so that a hostile server
// cannot exhaust memory; a reply beyond either bound fails the step.
inline constexpr std::size_t kMaxReplyLineLength = 64 * 1024;
inline constexpr std::size_t kMaxReplyLines = 10000;

// Splits control-connection text into lines and complete replies. Kept
// apart from the socket so that it can be tested and fuzzed on its own.
class CReplyReader {
public:
    struct Reply {
        std::vector<std::string> lines;
        unsigned code = 0;
        bool tooLong = false; // lines were cut or dropped to stay in bounds
        bool notFtp = false;  // the first thing the server said was no reply line
    };

    // Feeds received bytes; complete replies are appended to `out`.
    void Feed(const char* data, std::size_t size, std::vector<Reply>& out);
    // The code of a line: its first three characters when they are digits
    // and the first is 1 to 5; else 0.
    static unsigned LineCode(const std::string& line);
    void Reset();

private:
    void EndLine(std::vector<Reply>& out);

    std::string m_strLine;
    std::vector<std::string> m_replyLines;
    bool m_lineTruncated = false;
    bool m_replyTooLong = false;
    bool m_afterLf = false;  // an LF ended the last line; a CR right after it is skipped
    bool m_bAnyLine = false; // a line has been read since the last Reset
};

// The control connection.
class CFTPCtrlSocket : public CFTPConstants {
public:
    explicit CFTPCtrlSocket(CFTPRemoteManager* owner) : m_pOwner(owner) {}
    virtual ~CFTPCtrlSocket();
    CFTPCtrlSocket(const CFTPCtrlSocket&) = delete;
    CFTPCtrlSocket& operator=(const CFTPCtrlSocket&) = delete;

    // Opens the control connection; blocks the connection thread (a stop
    // ends the wait). On failure `error` holds a readable reason.
    bool ConnectTo(const std::string& host, std::uint32_t port, std::string* error = nullptr);
    virtual void Close();
    // Reads whatever has arrived and queues the complete replies.
    void OnReceive();
    // Sends one line as given (CR LF appended); false when it could not be sent.
    bool SendLine(const std::string& line);
    // Ends the session the way RFC 959 asks: "QUIT", then waits (at most
    // `limit` of silence, whatever a stop says) until the server has
    // answered it or closed the connection. Replies still under way are
    // read and dropped. The socket stays open; Close() follows.
    void Quit(std::chrono::milliseconds limit);

    bool IsOpen() const { return m_socket.IsOpen(); }
    int Fd() const { return m_socket.Fd(); }
    // Turns the open connection into a TLS one (at once for implicit TLS,
    // after "234" for "AUTH TLS"); blocks like ConnectTo. `caFile`: trust
    // its certificates instead of the system's. False with `error`.
    bool StartTls(const std::string& caFile, std::string& error);
    // The TLS connection, null while the control connection is plain text.
    const net::TlsStream* Tls() const { return m_tls.get(); }
    const net::TlsClient* TlsSettings() const { return m_tlsClient.get(); }
    const std::string& GetHostName() const { return m_strHost; }
    void SetHostName(const std::string& host);
    const std::string& GetLocalAddress() const { return m_strLocalAddress; }
    // The local address as text ("127.0.0.1", "::1").
    const std::string& GetLocalIp() const { return m_strLocalIp; }
    // The address of the server end (for checking "PASV" replies).
    const std::string& GetPeerAddress() const { return m_strPeerAddress; }
    // The connection runs over IPv6 (not an IPv4-mapped address): "PORT"
    // and "PASV" addresses cannot name this end.
    bool IsIpv6() const;

private:
    CFTPRemoteManager* m_pOwner;
    net::Socket m_socket;
    std::unique_ptr<net::TlsClient> m_tlsClient;
    std::unique_ptr<net::TlsStream> m_tls;
    std::string m_strHost;
    std::string m_strLocalAddress; // "h1,h2,h3,h4" for "PORT"
    std::string m_strLocalIp;
    std::string m_strPeerAddress;
    CReplyReader m_reader;
};

// Listens for the server's data connection in active mode.
class CFTPListenSocket : public CFTPConstants {
public:
    explicit CFTPListenSocket(CFTPRemoteManager* owner) : m_pOwner(owner) {}
    virtual ~CFTPListenSocket();
    CFTPListenSocket(const CFTPListenSocket&) = delete;
    CFTPListenSocket& operator=(const CFTPListenSocket&) = delete;

    bool StartListening();
    // The whole "PORT" argument: the control connection's address and the
    // port's two bytes.
    bool GetPortArgument(std::string& argument) const;
    // The whole "EPRT" argument ("|1|127.0.0.1|4000|", "|2|::1|4000|").
    bool GetEprtArgument(std::string& argument) const;
    // The server connected: the connection goes to the data socket.
    void OnAccept();
    // A connection from the server waits to be accepted (never blocks).
    bool ConnectionWaiting() const;
    virtual void Close();
    bool IsOpen() const { return m_socket.IsOpen(); }

    bool m_bListening = false;

private:
    CFTPRemoteManager* m_pOwner;
    net::Socket m_socket;
};

// One data connection: a listing into memory, or a file either way.
class CFTPDataSocket : public CFTPConstants {
public:
    // No transfer set up: received data is dropped.
    static constexpr FileSize kNoTransfer = kUnknownSize;

    explicit CFTPDataSocket(CFTPRemoteManager* owner) : m_pOwner(owner) {}
    virtual ~CFTPDataSocket();
    CFTPDataSocket(const CFTPDataSocket&) = delete;
    CFTPDataSocket& operator=(const CFTPDataSocket&) = delete;

    // Connects to the server (passive mode); blocks the connection thread.
    bool ConnectTo(const std::string& host, std::uint16_t port, std::string* error = nullptr);
    // Takes an accepted connection (active mode).
    void Adopt(net::Socket socket);

    // Sets up a transfer from or to a local file, from `offset` on (a pipe
    // or FIFO is always sent from where it stands).
    bool SetFile(LocalFile* file, bool send, FileSize offset);
    // Sets up a listing: its pieces go to the owner as they arrive.
    void SetListing();
    // Text mode: line ends are converted (CR LF on the wire, LF locally).
    void SetTextMode(bool text) { m_bTextMode = text; }

    // Reads until the server closes the connection, then closes it.
    void ReceiveAll();
    // Data has arrived (the thread's loop saw the descriptor readable).
    void OnReceive() { ReceiveAll(); }
    // Sends the whole file (a pipe or FIFO up to its end); false on failure
    // or a stop.
    bool SendFile();
    virtual void Close();

    bool IsOpen() const { return m_socket.IsOpen(); }
    FileSize GetDone() const { return m_nDone; }
    // What the last transfer moved, and what the server announced (0: nothing),
    // kept after the data connection has closed.
    FileSize GetLastDone() const { return m_nLastDone; }
    FileSize GetLastTotal() const { return m_nLastTotal; }
    bool HadError() const { return m_bError; }
    const std::string& GetErrorText() const { return m_strError; }

    bool m_bConnected = false;
    bool m_bSendOnConnect = false;
    FileSize m_nTotal = kNoTransfer; // 0: size unknown, no percentage

    // The data connection is TLS ("PROT P"): says how, for the log.
    std::string TlsDescription() const;

private:
    // When "PROT P" is in effect: the handshake on the data connection,
    // resuming the control connection's session. False (error set) when it
    // failed.
    bool SecureIfProtected();
    bool IsProtected() const;
    net::Result Receive(void* into, std::size_t size, bool wait);
    net::Result Send(const void* data, std::size_t size);
    bool Deliver(const char* data, std::size_t size);
    bool Flush();
    void Report();
    // Records why the transfer broke off, for the action to tell.
    void SetError(std::string text);
    void Abort();
    void Watch();
    // Reads the next piece of the file into `into` (at most `size`): the
    // byte count, 0 at the end, -1 on failure or a stop (handled).
    long long ReadPiece(char* into, std::size_t size);

    CFTPRemoteManager* m_pOwner;
    net::Socket m_socket;
    std::unique_ptr<net::TlsStream> m_tls;
    bool m_bTlsPending = false;        // connected; the handshake comes with the first data
    LocalFile* m_pLocalFile = nullptr; // not owned
    bool m_bListing = false;           // receiving a listing
    bool m_bFlushEach = false;         // into a pipe: written as it comes
    std::vector<char> m_io;            // file buffering
    std::size_t m_ioUsed = 0;
    FileSize m_nDone = 0;
    FileSize m_nLastDone = 0;
    FileSize m_nLastTotal = 0;
    bool m_bTextMode = false;
    bool m_bStream = false; // sending from a pipe or FIFO: until its end, not a size
    bool m_bPendingCr = false;
    bool m_bError = false;
    std::string m_strError;
    int m_lastPercent = -2;
};

// The argument of "PORT": the address ("h1,h2,h3,h4") and the port's bytes.
std::string PortArgument(const std::string& hostText, std::uint16_t port);

// The argument of "EPRT" for an address given as text (RFC 2428).
std::string EprtArgument(const std::string& address, std::uint16_t port);

// The port of an "EPSV" reply ("229 ... (|||6446|)"); false when it names
// none (RFC 2428: any delimiter, no address, port 1 to 65535).
bool ParseEpsvReply(const std::vector<std::string>& replyLines, std::uint16_t& port);

// The host and port of a "PASV" reply; false when it has no address.
bool ParsePasvReply(const std::vector<std::string>& replyLines, std::string& host,
                    std::uint16_t& port);
// The byte count of a "150" reply ("(40960 bytes)"), or 0.
FileSize ParseByteCount(const std::vector<std::string>& replyLines);

} // namespace qb
