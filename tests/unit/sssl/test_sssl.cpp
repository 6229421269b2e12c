// The SSL layer's start-up and its refusals: a crypto library that cannot be
// loaded or lacks the TLS functions, calls out of order, and bad arguments;
// and its sessions against `openssl s_server` on the loopback address.
#include <gtest/gtest.h>

#include <string>

#include "ni/ni.h"
#include "sec/sssl/sssl.h"
#include "tests/unit/kovcrypto/tls_server.h"

namespace {

TEST(KovSSL, StartUpRefusalsLeaveTheLayerStopped)
{
    const SSSL_CONFIG missing{SSSL_CRED_PSE_FILE, "./KOVSSL.pse", "/nonexistent/libkovcrypto.so"};
    EXPECT_EQ(KovSSLInit(0, &missing, 0), SSSLERR_LIB_NOT_FOUND);
    // A library that loads but holds no TLS functions.
    const SSSL_CONFIG noTls{SSSL_CRED_PSE_NAME, "client", "libc.so.6"};
    EXPECT_EQ(KovSSLInit(0, &noTls, 0), SSSLERR_LIB_FUNCTION);
    const SSSL_CONFIG badKind{3, "client", "libc.so.6"};
    EXPECT_EQ(KovSSLInit(0, &badKind, 0), SSSLERR_PARAM);
    const SSSL_CONFIG noPse{SSSL_CRED_PSE_NAME, nullptr, nullptr};
    EXPECT_EQ(KovSSLInit(0, &noPse, 0), SSSLERR_PARAM);
    EXPECT_EQ(KovSSLInit(0, nullptr, 0), SSSLERR_PARAM);

    // Nothing started: every session call says so, and nothing crashes.
    SSSL_HDL session = reinterpret_cast<SSSL_HDL>(1);
    EXPECT_EQ(KovSSLSessionInit(&session, SSSL_ROLE_ANON_CLIENT, SSSL_AUTH_SERVER), SSSLERR_NO_SSL_INIT);
    EXPECT_EQ(session, nullptr);
    EXPECT_EQ(KovSSLSessionInit(nullptr, SSSL_ROLE_ANON_CLIENT, SSSL_AUTH_SERVER), SSSLERR_PARAM);
    EXPECT_EQ(KovSSLSetNiHdl(session, 0), SSSLERR_NO_SSL_INIT);
    EXPECT_EQ(KovSSLSetTargetHostname(session, "host"), SSSLERR_NO_SSL_INIT);
    EXPECT_EQ(KovSSLTargetMatchParam(session, "NONE"), SSSLERR_NO_SSL_INIT);
    EXPECT_EQ(KovSSLSessionStart(session), SSSLERR_NO_SSL_INIT);
    char buf[4];
    int32_t n = 7;
    EXPECT_EQ(KovSSLRead(session, buf, sizeof buf, -1, &n), SSSLERR_NO_SSL_INIT);
    EXPECT_EQ(n, 0);
    EXPECT_EQ(KovSSLWrite(session, buf, sizeof buf, -1, &n), SSSLERR_NO_SSL_INIT);
    EXPECT_EQ(KovSSLSessionDone(&session), SSSLERR_PARAM);
    EXPECT_EQ(KovSSLDone(), SSSLERR_NO_SSL_INIT);
    EXPECT_STREQ(KovSSLErrorName(SSSLERR_CONN_CLOSED), "SSSLERR_CONN_CLOSED");
    EXPECT_STREQ(KovSSLErrorName(-99), "SSSLERR_UNKNOWN");
}

// A network handle connected to the server once it listens, or -1.
NI_HDL Open(const kctest::Server& server)
{
    NI_HDL hdl = -1;
    int32_t rc = NIECONN_REFUSED;
    // However long the server takes to start on a busy machine, until it ends.
    while (rc == NIECONN_REFUSED && server.Running()) {
        rc = NiRawHandle("127.0.0.1", std::to_string(server.port).c_str(), 5000, &hdl);
        if (rc == NIECONN_REFUSED)
            usleep(20000);
    }
    EXPECT_EQ(rc, NI_OK) << NiErrorName(rc);
    return rc == NI_OK ? hdl : -1;
}

// One session over a network handle to the server: the result of the
// handshake; when it succeeds, a request is sent and the reply read until
// the layer reports the end (in *end).  The handle outlives the session.
int32_t Exchange(const kctest::Server& server, const char* host, const char* match, std::string* reply, int32_t* end)
{
    const NI_HDL hdl = Open(server);
    SSSL_HDL session = nullptr;
    EXPECT_EQ(KovSSLSessionInit(&session, SSSL_ROLE_ANON_CLIENT, SSSL_AUTH_SERVER), SSSL_OK);
    EXPECT_EQ(KovSSLSetNiHdl(session, hdl), SSSL_OK);
    EXPECT_EQ(KovSSLSetTargetHostname(session, host), SSSL_OK);
    if (match != nullptr) {
        EXPECT_EQ(KovSSLTargetMatchParam(session, match), SSSL_OK);
    }
    const int32_t started = KovSSLSessionStart(session);
    if (started == SSSL_OK) {
        const std::string request = "GET / HTTP/1.0\r\n\r\n";
        int32_t n = 0;
        *end = KovSSLWrite(session, request.data(), int32_t(request.size()), 5000, &n);
        char buffer[1000];
        while (*end == SSSL_OK && (*end = KovSSLRead(session, buffer, sizeof buffer, 5000, &n)) == SSSL_OK)
            reply->append(buffer, size_t(n));
    }
    EXPECT_EQ(KovSSLSessionDone(&session), SSSL_OK);
    EXPECT_EQ(session, nullptr);
    EXPECT_EQ(NiCloseHandle(hdl), NI_OK);  // still open after the session
    return started;
}

// Catches a server that is trusted although its certificate names another
// host or has expired, and a peer's close reported as data or success.
TEST(KovSSL, SessionsAgainstARealServer)
{
    ASSERT_EQ(NiInit(), NI_OK);
    const std::string trust = kctest::P("trust.p12");
    const SSSL_CONFIG config{SSSL_CRED_PSE_FILE, trust.c_str(), KOVCRYPTO_LIB};
    ASSERT_EQ(KovSSLInit(0, &config, 0), SSSL_OK);
    const struct {
        const char* what;
        const char* certificate;
        const char* host;
        const char* match;
        int32_t started;
    } cases[] = {
        {"trusted, for this host", "root/server", "localhost", nullptr, SSSL_OK},
        {"for another host", "root/server", "otherhost", nullptr, SSSLERR_SERVER_CERT},
        {"for another host, names not matched", "root/server", "otherhost", "NONE", SSSL_OK},
        {"expired", "root/expiredserver", "localhost", nullptr, SSSLERR_SERVER_CERT},
        {"expired, names not matched", "root/expiredserver", "localhost", "NONE", SSSLERR_SERVER_CERT},
    };
    for (const auto& c : cases) {
        kctest::Server server({"-www"}, c.certificate);
        std::string reply;
        int32_t end = 0;
        EXPECT_EQ(Exchange(server, c.host, c.match, &reply, &end), c.started) << c.what;
        if (c.started == SSSL_OK) {
            // The server ends the connection after its reply.
            EXPECT_EQ(end, SSSLERR_CONN_CLOSED) << c.what << ": " << KovSSLErrorName(end);
            EXPECT_EQ(reply.rfind("HTTP/1.0 200 ok\r\n", 0), 0u) << c.what << ": " << reply.substr(0, 100);
        }
    }
    {
        // A server that goes away after the handshake: the read reports the
        // connection's end (closed or reset: the kernel's choice), a later
        // write fails, and neither ends the process.
        kctest::Server server({"-rev"});
        const NI_HDL hdl = Open(server);
        ASSERT_NE(hdl, -1);
        SSSL_HDL session = nullptr;
        ASSERT_EQ(KovSSLSessionInit(&session, SSSL_ROLE_ANON_CLIENT, SSSL_AUTH_SERVER), SSSL_OK);
        ASSERT_EQ(KovSSLSetNiHdl(session, hdl), SSSL_OK);
        ASSERT_EQ(KovSSLSetTargetHostname(session, "localhost"), SSSL_OK);
        ASSERT_EQ(KovSSLSessionStart(session), SSSL_OK);
        kill(server.pid, SIGKILL);
        waitpid(server.pid, nullptr, 0);
        server.pid = -1;
        char buffer[16];
        int32_t n = 7;
        const int32_t rcRead = KovSSLRead(session, buffer, sizeof buffer, 5000, &n);
        EXPECT_TRUE(rcRead == SSSLERR_CONN_CLOSED || rcRead == SSSLERR_NI_ERROR) << KovSSLErrorName(rcRead);
        EXPECT_EQ(n, 0);
        int32_t rcWrite = SSSL_OK;
        for (int i = 0; i < 3 && rcWrite == SSSL_OK; ++i)
            rcWrite = KovSSLWrite(session, "line\n", 5, 5000, &n);
        EXPECT_NE(rcWrite, SSSL_OK);
        EXPECT_EQ(KovSSLSessionDone(&session), SSSL_OK);
        EXPECT_EQ(NiCloseHandle(hdl), NI_OK);
    }
    EXPECT_EQ(KovSSLDone(), SSSL_OK);
    EXPECT_EQ(NiExit(), NI_OK);
}

}  // namespace
