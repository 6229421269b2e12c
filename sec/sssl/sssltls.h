// The TLS functions the SSL layer resolves by name in the crypto library.
// Plain C; the library exports them beside its SSF functions.
//
// The library never waits and never closes the socket: every call that would
// block returns KOVTLS_WANT_READ or KOVTLS_WANT_WRITE, the SSL layer waits for
// the socket (with its own time-out) and calls again with the same arguments.
// The socket is a connected, non-blocking TCP socket owned by the caller.
//
// PSE names and files are resolved as for the SSF functions (a PKCS#12 file,
// opened here with an empty PIN).  The PSE's CA certificates are the only
// trust anchors for the server's certificate.
//
// Failures return a negative KOVTLS code; kovtls_last_error then gives a
// short text of the calling thread's last failure (never a PIN or key).
#pragma once

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

enum {
    KOVTLS_OK = 0,
    KOVTLS_WANT_READ = 1,
    KOVTLS_WANT_WRITE = 2,
    KOVTLS_CLOSED = 3,          // the peer ended the data (close_notify or end of stream)
    KOVTLS_ERR_PARAM = -1,      // invalid argument
    KOVTLS_ERR_MEMORY = -2,
    KOVTLS_ERR_PSE = -3,        // the PSE cannot be opened, or holds no key for ownCert
    KOVTLS_ERR_HANDSHAKE = -4,  // handshake failed for another reason
    KOVTLS_ERR_CERT = -5,       // server certificate not trusted, or another host name
    KOVTLS_ERR_IO = -6,         // the socket failed
    KOVTLS_ERR_PROTOCOL = -7,   // any other TLS failure
};

typedef struct KovTlsCtx KovTlsCtx;
typedef struct KovTlsConn KovTlsConn;

// A TLS client configuration from a PSE.  ownCert 1: the PSE's key and
// certificate are presented when the server asks for a client certificate.
int kovtls_ctx_new(const char* pse, uint32_t pseLen, int ownCert, KovTlsCtx** ctx);
// Frees the configuration and sets *ctx to NULL; NULL is ignored.
void kovtls_ctx_free(KovTlsCtx** ctx);

// A connection over the socket fd, sending host as server name indication.
// matchHost 1: the certificate must name host; 0: any trusted certificate.
int kovtls_conn_new(KovTlsCtx* ctx, int fd, const char* host, uint32_t hostLen, int matchHost,
                    KovTlsConn** conn);
// Runs the client handshake: 0 when done, or a WANT code, or a failure.
int kovtls_handshake(KovTlsConn* conn);
// Writes up to len bytes: 0 with *written > 0, or a WANT code, or a failure.
int kovtls_write(KovTlsConn* conn, const void* data, uint32_t len, uint32_t* written);
// Reads up to cap bytes: 0 with *got > 0, KOVTLS_CLOSED, a WANT code, or a failure.
int kovtls_read(KovTlsConn* conn, void* buf, uint32_t cap, uint32_t* got);
// Sends the closing alert when it can without waiting, frees the connection
// and sets *conn to NULL; the socket stays open.  NULL is ignored.
void kovtls_conn_free(KovTlsConn** conn);

// The last failure's text (owned by the library, valid until the thread's
// next call); "" when none.
const char* kovtls_last_error(void);

#ifdef __cplusplus
}
#endif
