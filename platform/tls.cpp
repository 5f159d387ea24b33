#include "platform/tls.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>

namespace qb::net {

namespace {

SSL* S(void* p) {
    return static_cast<SSL*>(p);
}

// The newest OpenSSL error as text, or `fallback`.
std::string LastError(const std::string& fallback) {
    const unsigned long code = ERR_peek_last_error();
    ERR_clear_error();
    if (code == 0) {
        return fallback;
    }
    char text[256];
    ERR_error_string_n(code, text, sizeof text);
    return text;
}

Result Failure(const std::string& text) {
    Result r;
    r.status = Status::Error;
    r.errorText = text;
    return r;
}

std::string NameText(X509_NAME* name) {
    if (!name) {
        return {};
    }
    BIO* bio = BIO_new(BIO_s_mem());
    X509_NAME_print_ex(bio, name, 0, XN_FLAG_RFC2253);
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio, &data);
    std::string text(data, static_cast<std::size_t>(size > 0 ? size : 0));
    BIO_free(bio);
    return text;
}

std::string TimeText(const ASN1_TIME* time) {
    std::tm tm{};
    if (!time || ASN1_TIME_to_tm(time, &tm) != 1) {
        return {};
    }
    char text[40];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &tm);
    return text;
}

bool IsAddress(const std::string& host) {
    unsigned char buffer[16];
    return ::inet_pton(AF_INET, host.c_str(), buffer) == 1 ||
           ::inet_pton(AF_INET6, host.c_str(), buffer) == 1;
}

// A stream that ends without close_notify: OpenSSL 3 reports it as an
// unexpected EOF, older ones as a system call error without errno.
bool IsUnexpectedEof(int err) {
    if (err == SSL_ERROR_SYSCALL) {
        return ERR_peek_error() == 0;
    }
#ifdef SSL_R_UNEXPECTED_EOF_WHILE_READING
    return err == SSL_ERROR_SSL &&
           ERR_GET_REASON(ERR_peek_error()) == SSL_R_UNEXPECTED_EOF_WHILE_READING;
#else
    return false;
#endif
}

} // namespace

bool TlsClient::Init(const std::string& caFile, std::string& error) {
    // OpenSSL writes with write(), not send(MSG_NOSIGNAL): a server that
    // has gone must not end the process.
    IgnoreSigpipe();
    SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
    if (!ctx) {
        error = "TLS cannot be used: " + LastError("no TLS context");
        return false;
    }
    SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
    // TLS 1.2 at most: data connections must resume the control
    // connection's session, many times over. A TLS 1.3 session ticket is
    // good for one resumption only, and servers that insist on resumption
    // (vsftpd's require_ssl_reuse) then refuse the second data connection.
    SSL_CTX_set_max_proto_version(ctx, TLS1_2_VERSION);
    SSL_CTX_set_mode(ctx, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    SSL_CTX_set_session_cache_mode(ctx, SSL_SESS_CACHE_CLIENT);
    // The handshake always completes; the caller decides about a
    // certificate that does not verify (the result is kept on the stream).
    SSL_CTX_set_verify(ctx, SSL_VERIFY_NONE, nullptr);
    const bool trusted = caFile.empty()
                             ? SSL_CTX_set_default_verify_paths(ctx) == 1
                             : SSL_CTX_load_verify_locations(ctx, caFile.c_str(), nullptr) == 1;
    if (!trusted) {
        error = caFile.empty() ? "The system's trusted certificates cannot be read: "
                               : "The certificates in " + caFile + " cannot be read: ";
        error += LastError("unknown error");
        SSL_CTX_free(ctx);
        return false;
    }
    m_ctx = ctx;
    return true;
}

TlsClient::~TlsClient() {
    SSL_CTX_free(static_cast<SSL_CTX*>(m_ctx));
}

TlsStream::~TlsStream() {
    SSL_free(S(m_ssl));
}

Result TlsStream::Wait(int want, const Interrupt& intr) {
    return WaitFor(m_fd, want == SSL_ERROR_WANT_WRITE ? POLLOUT : POLLIN, intr);
}

Result TlsStream::Handshake(const TlsClient& client, int fd, const std::string& host,
                            const TlsStream* resume, const Interrupt& intr) {
    SSL_free(S(m_ssl));
    m_ssl = nullptr;
    m_cert = {};
    m_shutDown = false;
    m_fd = fd;
    ERR_clear_error();
    SSL* ssl = SSL_new(static_cast<SSL_CTX*>(client.Context()));
    if (!ssl) {
        return Failure("TLS cannot be used: " + LastError("no TLS connection"));
    }
    m_ssl = ssl;
    SSL_set_fd(ssl, fd);
    if (IsAddress(host)) {
        X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl), host.c_str());
    } else if (!host.empty()) {
        SSL_set_tlsext_host_name(ssl, host.c_str());
        SSL_set1_host(ssl, host.c_str());
    }
    if (resume && resume->m_ssl) {
        if (SSL_SESSION* session = SSL_get1_session(S(resume->m_ssl))) {
            SSL_set_session(ssl, session);
            SSL_SESSION_free(session);
        }
    }
    for (;;) {
        ERR_clear_error();
        const int rc = SSL_connect(ssl);
        if (rc == 1) {
            break;
        }
        const int err = SSL_get_error(ssl, rc);
        if (err == SSL_ERROR_WANT_READ || err == SSL_ERROR_WANT_WRITE) {
            Result waited = Wait(err, intr);
            if (!waited.ok()) {
                if (waited.status == Status::TimedOut) {
                    waited.errorText = "the TLS handshake got no answer";
                }
                return waited;
            }
            continue;
        }
        if (err == SSL_ERROR_SYSCALL || err == SSL_ERROR_ZERO_RETURN) {
            const std::string why = errno != 0 && ERR_peek_error() == 0
                                        ? std::string(std::strerror(errno))
                                        : LastError("the server closed the connection");
            return Failure("The TLS handshake failed: " + why + ".");
        }
        return Failure("The TLS handshake failed: " + LastError("not a TLS server") + ".");
    }
    X509* cert = SSL_get1_peer_certificate(ssl);
    if (!cert) {
        m_cert.problem = "the server sent no certificate";
        return Result{};
    }
    m_cert.subject = NameText(X509_get_subject_name(cert));
    m_cert.issuer = NameText(X509_get_issuer_name(cert));
    m_cert.notBefore = TimeText(X509_get0_notBefore(cert));
    m_cert.notAfter = TimeText(X509_get0_notAfter(cert));
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (X509_digest(cert, EVP_sha256(), digest, &length) == 1) {
        static const char kHex[] = "0123456789ABCDEF";
        for (unsigned int i = 0; i < length; ++i) {
            if (i > 0) {
                m_cert.fingerprint += ':';
            }
            m_cert.fingerprint += kHex[digest[i] >> 4];
            m_cert.fingerprint += kHex[digest[i] & 15];
        }
    }
    X509_free(cert);
    const long verify = SSL_get_verify_result(ssl);
    m_cert.verified = verify == X509_V_OK;
    if (!m_cert.verified) {
        m_cert.problem = X509_verify_cert_error_string(verify);
    }
    return Result{};
}

Result TlsStream::Send(const void* data, std::size_t size, const Interrupt& intr) {
    const auto* p = static_cast<const char*>(data);
    Result r;
    while (r.bytes < size) {
        ERR_clear_error();
        const std::size_t piece = std::min<std::size_t>(size - r.bytes, 1 << 30);
        const int n = SSL_write(S(m_ssl), p + r.bytes, static_cast<int>(piece));
        if (n > 0) {
            r.bytes += static_cast<std::size_t>(n);
            continue;
        }
        const int err = SSL_get_error(S(m_ssl), n);
        if (err == SSL_ERROR_WANT_READ || err == SSL_ERROR_WANT_WRITE) {
            Result waited = Wait(err, intr);
            if (!waited.ok()) {
                waited.bytes = r.bytes;
                return waited;
            }
            continue;
        }
        Result failed = Failure("send: " + (err == SSL_ERROR_SYSCALL && errno != 0
                                                ? std::string(std::strerror(errno))
                                                : LastError("the TLS connection broke")));
        failed.bytes = r.bytes;
        return failed;
    }
    return r;
}

Result TlsStream::Receive(void* data, std::size_t size, const Interrupt& intr, bool wait) {
    if (size == 0) {
        return Result{};
    }
    for (;;) {
        ERR_clear_error();
        const std::size_t piece = std::min<std::size_t>(size, 1 << 30);
        const int n = SSL_read(S(m_ssl), data, static_cast<int>(piece));
        if (n > 0) {
            Result r;
            r.bytes = static_cast<std::size_t>(n);
            return r;
        }
        const int err = SSL_get_error(S(m_ssl), n);
        if (err == SSL_ERROR_WANT_READ || err == SSL_ERROR_WANT_WRITE) {
            if (!wait && err == SSL_ERROR_WANT_READ) {
                return Result{};
            }
            Result waited = Wait(err, intr);
            if (!waited.ok()) {
                return waited;
            }
            continue;
        }
        if (err == SSL_ERROR_ZERO_RETURN) {
            Result r;
            r.status = Status::Closed;
            return r;
        }
        if (IsUnexpectedEof(err)) {
            ERR_clear_error();
            return Failure("the server ended the TLS stream without close_notify; what came may "
                           "be cut off");
        }
        return Failure("recv: " + (err == SSL_ERROR_SYSCALL && errno != 0
                                       ? std::string(std::strerror(errno))
                                       : LastError("the TLS connection broke")));
    }
}

void TlsStream::Shutdown() {
    if (m_ssl && !m_shutDown) {
        m_shutDown = true;
        ERR_clear_error();
        SSL_shutdown(S(m_ssl)); // close_notify; the server's answer is not awaited
        ERR_clear_error();
    }
}

bool TlsStream::HasPending() const {
    return m_ssl && SSL_pending(S(m_ssl)) > 0;
}

std::string TlsStream::Description() const {
    if (!m_ssl) {
        return {};
    }
    return std::string(SSL_get_version(S(m_ssl))) + ", cipher " + SSL_get_cipher_name(S(m_ssl));
}

bool TlsStream::SessionReused() const {
    return m_ssl && SSL_session_reused(S(m_ssl)) == 1;
}

} // namespace qb::net
