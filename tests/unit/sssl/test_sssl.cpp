// The SSL layer's start-up and its refusals: a crypto library that cannot be
// loaded or lacks the TLS functions, calls out of order, and bad arguments.
#include <gtest/gtest.h>

#include <string>

#include "sec/sssl/sssl.h"

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

}  // namespace
