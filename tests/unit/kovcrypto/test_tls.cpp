// TLS client connections of the crypto library against `openssl s_server`
// on the loopback address.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <string>

#include "kovcrypto/kovtls.h"
#include "tests/unit/kovcrypto/tls_server.h"

using namespace kctest;

namespace {

struct Session {
    KovTlsCred* cred = nullptr;
    KovTlsConn* conn = nullptr;
    int fd = -1;
    int rc = -100;
    Session(const Server& server, const std::string& pse, const std::string& pin, const char* host, unsigned flags,
            int timeoutMs = 5000)
    {
        rc = kovtls_cred_open(pse.data(), L(pse), pin.data(), L(pin), &cred);
        if (rc != KOVTLS_OK)
            return;
        fd = server.Socket();
        rc = kovtls_conn_new(cred, fd, host, flags, &conn);
        if (rc == KOVTLS_OK)
            rc = kovtls_handshake(conn, timeoutMs);
    }
    // Sends an HTTP request and reads the reply until the server ends it.
    std::string Get(int* endRc)
    {
        const std::string req = "GET / HTTP/1.0\r\n\r\n";
        uint32_t n = 0;
        *endRc = kovtls_write(conn, req.data(), L(req), 5000, &n);
        std::string reply;
        char buf[1000];
        while (*endRc == KOVTLS_OK && (*endRc = kovtls_read(conn, buf, sizeof buf, 5000, &n)) == KOVTLS_OK)
            reply.append(buf, n);
        return reply;
    }
    ~Session()
    {
        kovtls_conn_free(&conn);
        if (fd >= 0) {
            EXPECT_NE(fcntl(fd, F_GETFD), -1);  // the library leaves the socket open
            close(fd);
        }
        kovtls_cred_free(&cred);
    }
};

std::string LastError(int rc)
{
    int code = 0;
    const char* t1 = nullptr;
    const char* t2 = nullptr;
    uint32_t n1 = 0;
    uint32_t n2 = 0;
    SsfSecTKLastErrorInfo(rc, &code, &t1, &n1, &t2, &n2);
    return std::string(t1, n1) + " | " + std::string(t2, n2);
}

class KovTls : public testing::Test {
protected:
    static void SetUpTestSuite() { signal(SIGPIPE, SIG_IGN); }
};

}  // namespace

TEST_F(KovTls, VerifiedHandshakeCarriesData)
{
    Server server({"-www"});
    Session s(server, P("trust.p12"), "", "localhost", KOVTLS_VERIFY_PEER | KOVTLS_CHECK_HOSTNAME);
    ASSERT_EQ(s.rc, KOVTLS_OK) << LastError(s.rc);
    int end = 0;
    const std::string reply = s.Get(&end);
    EXPECT_EQ(end, KOVTLS_E_CLOSED) << LastError(end);
    EXPECT_EQ(reply.rfind("HTTP/1.0 200 ok\r\n", 0), 0u) << reply.substr(0, 200);
}

TEST_F(KovTls, ServerCertificateChecks)
{
    const struct {
        const char* what;
        std::string pse, pin;
        const char* host;
        unsigned flags;
        int rc;
    } cases[] = {
        {"name of another host", P("trust.p12"), "", "otherhost", KOVTLS_CHECK_HOSTNAME, KOVTLS_E_PEERCERT},
        {"the address it names", P("trust.p12"), "", "127.0.0.1", KOVTLS_CHECK_HOSTNAME, KOVTLS_OK},
        {"no name check", P("trust.p12"), "", "otherhost", KOVTLS_VERIFY_PEER, KOVTLS_OK},
        {"untrusted chain", P("stranger.p12"), "pin", "localhost", KOVTLS_VERIFY_PEER, KOVTLS_E_PEERCERT},
        {"no verification", P("stranger.p12"), "pin", "localhost", 0, KOVTLS_OK},
        {"no PSE, no verification", "", "", nullptr, 0, KOVTLS_OK},
        {"no PSE, verification", "", "", "localhost", KOVTLS_VERIFY_PEER, KOVTLS_E_PEERCERT},
    };
    for (const auto& c : cases) {
        Server server({"-www"});
        Session s(server, c.pse, c.pin, c.host, c.flags);
        EXPECT_EQ(s.rc, c.rc) << c.what << ": " << LastError(s.rc);
    }
}

TEST_F(KovTls, ClientCertificateWhenTheServerRequiresOne)
{
    {
        Server server({"-www", "-Verify", "1", "-CAfile", P("root/ca.pem")});
        Session s(server, P("signer.p12"), "signpin", "localhost", KOVTLS_VERIFY_PEER | KOVTLS_SEND_CERT);
        ASSERT_EQ(s.rc, KOVTLS_OK) << LastError(s.rc);
        int end = 0;
        EXPECT_EQ(s.Get(&end).rfind("HTTP/1.0 200 ok", 0), 0u);
    }
    {
        // Without it the server refuses: in the handshake or, with TLS 1.3, at the first read.
        Server server({"-www", "-Verify", "1", "-CAfile", P("root/ca.pem")});
        Session s(server, P("signer.p12"), "signpin", "localhost", KOVTLS_VERIFY_PEER);
        int end = s.rc;
        if (s.rc == KOVTLS_OK) {
            EXPECT_EQ(s.Get(&end), "");
        }
        EXPECT_EQ(end, KOVTLS_E_PROTOCOL) << LastError(end);
    }
    KovTlsCred* cred = nullptr;
    EXPECT_EQ(kovtls_cred_open(P("signer.p12").c_str(), L(P("signer.p12")), "Secret-4711", 11, &cred), KOVTLS_E_PSE);
    EXPECT_EQ(cred, nullptr);
    EXPECT_NE(LastError(KOVTLS_E_PSE).find("wrong PIN"), std::string::npos);
    EXPECT_EQ(LastError(KOVTLS_E_PSE).find("Secret-4711"), std::string::npos);
}

TEST_F(KovTls, TimeOutsAndPeersThatGoAway)
{
    {
        // A listener that never answers the handshake.
        const int l = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t n = sizeof a;
        ASSERT_EQ(bind(l, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
        ASSERT_EQ(listen(l, 1), 0);
        getsockname(l, reinterpret_cast<sockaddr*>(&a), &n);
        const int fd = Connect(ntohs(a.sin_port));
        KovTlsCred* cred = nullptr;
        KovTlsConn* conn = nullptr;
        ASSERT_EQ(kovtls_cred_open(nullptr, 0, nullptr, 0, &cred), KOVTLS_OK);
        ASSERT_EQ(kovtls_conn_new(cred, fd, "localhost", 0, &conn), KOVTLS_OK);
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(kovtls_handshake(conn, 200), KOVTLS_E_TIMEOUT);
        EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(150));
        EXPECT_EQ(fcntl(fd, F_GETFL) & O_NONBLOCK, 0);  // the socket's mode as it was
        // The peer goes away: an error code, not a signal.
        close(l);
        EXPECT_NE(kovtls_handshake(conn, 2000), KOVTLS_OK);
        kovtls_conn_free(&conn);
        kovtls_cred_free(&cred);
        close(fd);
    }
    {
        // A server that completes the handshake and then waits for a line.
        Server server({"-rev"});
        Session s(server, P("trust.p12"), "", "localhost", KOVTLS_VERIFY_PEER);
        ASSERT_EQ(s.rc, KOVTLS_OK) << LastError(s.rc);
        char buf[16];
        uint32_t got = 99;
        EXPECT_EQ(kovtls_read(s.conn, buf, sizeof buf, 200, &got), KOVTLS_E_TIMEOUT);
        EXPECT_EQ(got, 0u);
    }
    EXPECT_EQ(kovtls_conn_new(nullptr, 3, nullptr, 0, nullptr), KOVTLS_E_ARG);
    EXPECT_EQ(kovtls_read(nullptr, nullptr, 0, 0, nullptr), KOVTLS_E_ARG);
}
