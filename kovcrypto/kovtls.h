// TLS client connections of the crypto library "libkovcrypto.so", for the
// program's SSL layer, which resolves these functions by name at run time.
//
// Use:
//   kovtls_cred_open      once: the PSE with the trust anchors (its CA
//                         certificates) and, optionally, a key and
//                         certificate to present to the server
//   kovtls_conn_new       per connection: over a connected socket, which the
//                         library never closes
//   kovtls_handshake, then kovtls_write and kovtls_read
//   kovtls_conn_free      ends the TLS session; the socket stays open
//   kovtls_cred_free
//
// The functions return KOVTLS_OK (0) or one of the negative codes below; the
// details of a failure are the calling thread's last error, read with
// SsfSecTKLastErrorInfo(code, ...) (kovcrypto/ssfapi.h), and never hold a PIN.
// Time-outs are in milliseconds, -1 for no limit; the socket may be blocking
// or not, and its mode is left as it was.  The caller ignores SIGPIPE (as
// the program's socket layer does), so that a peer gone away is an error
// code, not the end of the process.  PSE names follow the rules of ssfapi.h.
#pragma once

#include <stdint.h>

#include "kovcrypto/ssfapi.h"

#ifdef __cplusplus
extern "C" {
#endif

enum {
    KOVTLS_OK = 0,
    KOVTLS_E_CLOSED = -1,    // the peer ended its data (with or without TLS close notification)
    KOVTLS_E_TIMEOUT = -2,   // the time-out passed first
    KOVTLS_E_IO = -3,        // the socket failed
    KOVTLS_E_PROTOCOL = -4,  // the TLS protocol failed (handshake refused, bad record)
    KOVTLS_E_PEERCERT = -5,  // the server's certificate is not trusted or not for the host
    KOVTLS_E_PSE = -6,       // the PSE cannot be opened (not found, wrong PIN, unreadable)
    KOVTLS_E_ARG = -7,       // a required argument is missing
    KOVTLS_E_NOMEM = -8,
};

// Connection flags.
enum {
    KOVTLS_VERIFY_PEER = 1,     // the server's chain must lead to a CA certificate of the PSE
    KOVTLS_CHECK_HOSTNAME = 2,  // the server's certificate must name the host given (and verify)
    KOVTLS_SEND_CERT = 4,       // present the PSE's own certificate when the server asks
};

typedef struct KovTlsCred KovTlsCred;
typedef struct KovTlsConn KovTlsConn;

// Credentials from the PSE (NULL or empty: none, so that no server can be
// verified and no certificate presented).  TLS 1.2 or later.
KOVCR_EXPORT int kovtls_cred_open(const char* pse, uint32_t pseLen, const char* pin, uint32_t pinLen,
                                  KovTlsCred** cred);
KOVCR_EXPORT void kovtls_cred_free(KovTlsCred** cred);

// A client connection over the connected socket; host (may be NULL) is sent
// as the server name and checked with KOVTLS_CHECK_HOSTNAME.
KOVCR_EXPORT int kovtls_conn_new(KovTlsCred* cred, int socket, const char* host, unsigned flags, KovTlsConn** conn);
KOVCR_EXPORT int kovtls_handshake(KovTlsConn* conn, int timeoutMs);
// Writes all the bytes; *written tells how many went out before a failure.
KOVCR_EXPORT int kovtls_write(KovTlsConn* conn, const void* data, uint32_t length, int timeoutMs, uint32_t* written);
// Reads what has arrived, at least one byte, at most capacity.
KOVCR_EXPORT int kovtls_read(KovTlsConn* conn, void* buffer, uint32_t capacity, int timeoutMs, uint32_t* got);
KOVCR_EXPORT void kovtls_conn_free(KovTlsConn** conn);

#ifdef __cplusplus
}
#endif
