// The TLS layer against a TLS server in this process (OpenSSL, a
// certificate made for the test): how streams end, handshakes that go
// wrong, certificates, session resumption.
#include "platform/net.h"
#include "platform/tls.h"

#include <atomic>
#include <chrono>
#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <string>
#include <thread>
#include <unistd.h>

namespace qb::net {
namespace {

using namespace std::chrono_literals;

// A self-signed certificate for 127.0.0.1, with an optional comment that
// makes it as large as asked.
struct TestCertificate {
    EVP_PKEY* key = nullptr;
    X509* cert = nullptr;

    explicit TestCertificate(std::size_t padding = 0) {
        key = EVP_RSA_gen(2048);
        cert = X509_new();
        ASN1_INTEGER_set(X509_get_serialNumber(cert), 1);
        X509_gmtime_adj(X509_getm_notBefore(cert), 0);
        X509_gmtime_adj(X509_getm_notAfter(cert), 3600);
        X509_set_pubkey(cert, key);
        X509_NAME* name = X509_get_subject_name(cert);
        X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                                   reinterpret_cast<const unsigned char*>("127.0.0.1"), -1, -1, 0);
        X509_set_issuer_name(cert, name);
        AddExtension(NID_subject_alt_name, "IP:127.0.0.1");
        if (padding > 0) {
            AddExtension(NID_netscape_comment, std::string(padding, 'x'));
        }
        X509_sign(cert, key, EVP_sha256());
    }
    ~TestCertificate() {
        X509_free(cert);
        EVP_PKEY_free(key);
    }
    void AddExtension(int nid, const std::string& value) {
        X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, nullptr, nid, value.c_str());
        X509_add_ext(cert, ext, -1);
        X509_EXTENSION_free(ext);
    }
};

// What the server does with one connection.
enum class Behaviour {
    SendThenCloseNotify, // "hello", close_notify, close
    SendThenCut,         // "hello", then the TCP connection ends without close_notify
    Garbage,             // plain text instead of a handshake
    CloseMidHandshake,   // reads the client's hello, then closes
    Silent,              // says nothing until the client gives up
};

class TlsServer {
public:
    TlsServer(Behaviour behaviour, int connections = 1, std::size_t padding = 0)
        : m_cert(padding), m_behaviour(behaviour) {
        m_ctx = SSL_CTX_new(TLS_server_method());
        SSL_CTX_use_certificate(m_ctx, m_cert.cert);
        SSL_CTX_use_PrivateKey(m_ctx, m_cert.key);
        SSL_CTX_set_max_proto_version(m_ctx, TLS1_2_VERSION);
        SSL_CTX_set_session_id_context(m_ctx, reinterpret_cast<const unsigned char*>("qb"), 2);
        EXPECT_TRUE(ListenTcp("127.0.0.1", m_listener).ok());
        std::string address;
        LocalEndpoint(m_listener.Fd(), address, m_port);
        m_thread = std::thread([this, connections] {
            for (int i = 0; i < connections; ++i) {
                Serve();
            }
        });
    }
    ~TlsServer() {
        m_stop.Signal();
        m_thread.join();
        SSL_CTX_free(m_ctx);
    }
    std::uint16_t Port() const { return m_port; }
    bool LastReused() const { return m_reused; }

private:
    void Serve() {
        Socket client;
        if (!Accept(m_listener.Fd(), client, Interrupt{&m_stop, {}, 5000ms}).ok()) {
            return;
        }
        ::fcntl(client.Fd(), F_SETFL, ::fcntl(client.Fd(), F_GETFL) & ~O_NONBLOCK);
        if (m_behaviour == Behaviour::Garbage) {
            const std::string text = "220 Plain FTP server ready\r\n";
            [[maybe_unused]] auto n = ::write(client.Fd(), text.data(), text.size());
            WaitForClose(client);
            return;
        }
        if (m_behaviour == Behaviour::CloseMidHandshake) {
            char buffer[64];
            [[maybe_unused]] auto n = ::read(client.Fd(), buffer, sizeof buffer);
            return;
        }
        if (m_behaviour == Behaviour::Silent) {
            // Until the test ends (bounded), whatever the client sends.
            WaitFor(m_stop.Fd(), POLLIN, Interrupt{nullptr, {}, 5000ms});
            return;
        }
        SSL* ssl = SSL_new(m_ctx);
        SSL_set_fd(ssl, client.Fd());
        if (SSL_accept(ssl) == 1) {
            m_reused = SSL_session_reused(ssl) == 1;
            SSL_write(ssl, "hello", 5);
            if (m_behaviour == Behaviour::SendThenCloseNotify) {
                SSL_shutdown(ssl);
            }
        }
        SSL_free(ssl);
    }
    // Until the client closes (bounded).
    void WaitForClose(Socket& client) {
        char buffer[256];
        WaitFor(client.Fd(), POLLIN, Interrupt{&m_stop, {}, 5000ms});
        [[maybe_unused]] auto n = ::read(client.Fd(), buffer, sizeof buffer);
    }

    TestCertificate m_cert;
    Behaviour m_behaviour;
    SSL_CTX* m_ctx = nullptr;
    Socket m_listener;
    std::uint16_t m_port = 0;
    WakeEvent m_stop;
    std::thread m_thread;
    bool m_reused = false;
};

struct Client {
    TlsClient settings;
    Socket socket;
    TlsStream tls;

    Result Connect(std::uint16_t port, const TlsStream* resume = nullptr,
                   const Interrupt& intr = Interrupt{nullptr, {}, 3000ms}) {
        std::string error;
        EXPECT_TRUE(settings.Init("", error)) << error;
        Result r = ConnectTcp("127.0.0.1", port, socket, intr);
        if (!r.ok()) {
            return r;
        }
        return tls.Handshake(settings, socket.Fd(), "127.0.0.1", resume, intr);
    }
    // Everything up to the end of the stream: the bytes and how it ended.
    std::pair<std::string, Result> ReadAll() {
        std::string data;
        char buffer[64];
        for (int i = 0; i < 100; ++i) {
            Result r = tls.Receive(buffer, sizeof buffer, Interrupt{nullptr, {}, 3000ms}, true);
            if (!r.ok()) {
                return {data, r};
            }
            data.append(buffer, r.bytes);
        }
        return {data, Result{}};
    }
};

TEST(Tls, HowAStreamEnds) {
    const struct {
        const char* name;
        Behaviour behaviour;
        Status end;
        const char* says;
    } cases[] = {
        {"close_notify", Behaviour::SendThenCloseNotify, Status::Closed, ""},
        {"cut without close_notify", Behaviour::SendThenCut, Status::Error, "close_notify"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TlsServer server(c.behaviour);
        Client client;
        ASSERT_TRUE(client.Connect(server.Port()).ok());
        const auto [data, end] = client.ReadAll();
        EXPECT_EQ(data, "hello");
        EXPECT_EQ(end.status, c.end);
        EXPECT_NE(end.errorText.find(c.says), std::string::npos) << end.errorText;
    }
}

TEST(Tls, HandshakesThatGoWrongEndWithAReason) {
    const struct {
        const char* name;
        Behaviour behaviour;
        std::size_t padding;
        Status status;
        const char* says;
    } cases[] = {
        {"plain text instead of TLS", Behaviour::Garbage, 0, Status::Error, "TLS handshake failed"},
        {"closed in the middle", Behaviour::CloseMidHandshake, 0, Status::Error,
         "TLS handshake failed"},
        {"silent", Behaviour::Silent, 0, Status::TimedOut, "no answer"},
        {"an oversized certificate", Behaviour::SendThenCloseNotify, 200 * 1024, Status::Error,
         "TLS handshake failed"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TlsServer server(c.behaviour, 1, c.padding);
        Client client;
        const auto started = std::chrono::steady_clock::now();
        const Result r = client.Connect(server.Port(), nullptr, Interrupt{nullptr, {}, 300ms});
        EXPECT_EQ(r.status, c.status);
        EXPECT_NE(r.errorText.find(c.says), std::string::npos) << r.errorText;
        EXPECT_LT(std::chrono::steady_clock::now() - started, 3s);
    }
}

TEST(Tls, AStopEndsAHandshake) {
    TlsServer server(Behaviour::Silent);
    WakeEvent wake;
    std::atomic<bool> stop{false};
    std::thread stopper([&] {
        std::this_thread::sleep_for(100ms);
        stop = true;
        wake.Signal();
    });
    Client client;
    const Result r =
        client.Connect(server.Port(), nullptr, Interrupt{&wake, [&] { return stop.load(); }, 0ms});
    stopper.join();
    EXPECT_EQ(r.status, Status::Interrupted);
}

TEST(Tls, CertificateAndSessionResumption) {
    TlsServer server(Behaviour::SendThenCloseNotify, 2);
    Client control;
    ASSERT_TRUE(control.Connect(server.Port()).ok());
    const CertificateInfo& cert = control.tls.Certificate();
    EXPECT_FALSE(cert.verified);
    EXPECT_NE(cert.problem.find("self-signed"), std::string::npos) << cert.problem;
    EXPECT_EQ(cert.subject, "CN=127.0.0.1");
    EXPECT_EQ(cert.issuer, "CN=127.0.0.1");
    EXPECT_EQ(cert.fingerprint.size(), 32u * 3 - 1) << cert.fingerprint;
    EXPECT_NE(cert.notAfter.find(" UTC"), std::string::npos) << cert.notAfter;
    EXPECT_NE(control.tls.Description().find("TLSv1.2, cipher "), std::string::npos);
    EXPECT_FALSE(control.tls.SessionReused());
    EXPECT_EQ(control.ReadAll().first, "hello");

    // A second connection continues the first one's session, as data
    // connections continue the control connection's.
    Client data;
    ASSERT_TRUE(data.Connect(server.Port(), &control.tls).ok());
    EXPECT_TRUE(data.tls.SessionReused());
    EXPECT_EQ(data.ReadAll().first, "hello");
    EXPECT_EQ(data.tls.Certificate().fingerprint, cert.fingerprint);
}

} // namespace
} // namespace qb::net
