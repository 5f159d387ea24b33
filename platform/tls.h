// TLS over the stop-aware sockets of net.h (OpenSSL). Every wait polls the
// socket with the interrupt's wake-up descriptor, so that a stop or the idle
// limit ends a handshake, a read or a write as it ends a plain one.
#pragma once

#include "platform/net.h"

#include <memory>
#include <string>

namespace qb::net {

// What a server's certificate says, for the log and for the question to the
// user when it does not verify.
struct CertificateInfo {
    std::string subject;
    std::string issuer;
    std::string notBefore; // "2024-01-10 12:00:00 UTC"
    std::string notAfter;
    std::string fingerprint; // SHA-256, "AB:CD:..."
    // Why it did not verify ("" when it did).
    std::string problem;
    bool verified = false;
};

// The settings of a connection's TLS: one per control connection, shared by
// its data connections (they resume its session).
class TlsClient {
public:
    // `caFile`: trust this file's certificates instead of the system's.
    // False with `error` when the settings cannot be used.
    bool Init(const std::string& caFile, std::string& error);
    ~TlsClient();
    TlsClient() = default;
    TlsClient(const TlsClient&) = delete;
    TlsClient& operator=(const TlsClient&) = delete;

    void* Context() const { return m_ctx; }

private:
    void* m_ctx = nullptr; // SSL_CTX
};

// One TLS connection over a connected non-blocking socket it does not own.
class TlsStream {
public:
    TlsStream() = default;
    ~TlsStream();
    TlsStream(const TlsStream&) = delete;
    TlsStream& operator=(const TlsStream&) = delete;

    // The client's handshake. `host` is checked against the certificate (an
    // address or a name) and sent as the server name; `resume` (may be null)
    // is the TLS connection whose session a data connection continues. The
    // certificate's check is only recorded (see Certificate()): whether an
    // unverified one is accepted is the caller's decision.
    Result Handshake(const TlsClient& client, int fd, const std::string& host,
                     const TlsStream* resume, const Interrupt& intr);

    // Sends all bytes.
    Result Send(const void* data, std::size_t size, const Interrupt& intr);
    // Reads what is there (at most `size`); with `wait`, waits until
    // something arrives. Closed: the server ended the stream properly
    // (close_notify). A stream that ends without it is an Error ("cut off").
    Result Receive(void* data, std::size_t size, const Interrupt& intr, bool wait);
    // Sends close_notify (once); the socket stays open for the caller.
    void Shutdown();
    // Decrypted bytes waiting to be read.
    bool HasPending() const;
    bool IsOpen() const { return m_ssl != nullptr; }
    // "TLSv1.3, cipher TLS_AES_256_GCM_SHA384"
    std::string Description() const;
    bool SessionReused() const;
    const CertificateInfo& Certificate() const { return m_cert; }

private:
    Result Wait(int want, const Interrupt& intr);

    void* m_ssl = nullptr; // SSL
    int m_fd = -1;
    bool m_shutDown = false;
    CertificateInfo m_cert;
};

} // namespace qb::net
