// SSL layer: TLS client sessions over connected raw network handles.
//
// The protocol itself runs in the crypto library loaded at run time
// ("libkovcrypto.so"); this layer loads it, holds the client credentials,
// binds sessions to network handles, waits on the socket with the caller's
// time-outs and maps results to SSSLERR codes (0 success, negative failure).
// The functions it needs from the library are its kovtls_ functions.
//
// Use: KovSSLInit once; per connection KovSSLSessionInit, KovSSLSetNiHdl,
// KovSSLSetTargetHostname, optionally KovSSLTargetMatchParam,
// KovSSLSessionStart, then KovSSLWrite/KovSSLRead, and KovSSLSessionDone,
// which leaves the network handle open for its owner to close; KovSSLDone.
// Single-threaded, like the rest of the kernel layers.
#pragma once

#include <cstdint>

#include "ni/ni.h"
#include "trace/dptrc.h"

enum : int32_t {
    SSSL_OK = 0,
    SSSLERR_LIB_NOT_FOUND = -1,  // the crypto library cannot be loaded
    SSSLERR_NO_SSL_INIT = -2,    // KovSSLInit has not run (or KovSSLDone has)
    SSSLERR_PARAM = -3,          // invalid argument, handle, role or authentication
    SSSLERR_NO_MEMORY = -4,
    SSSLERR_PSE_ERROR = -5,     // the credentials (PSE) cannot be opened or used
    SSSLERR_LIB_FUNCTION = -6,  // the library lacks a TLS function
    SSSLERR_WRONG_STATE = -7,   // call out of order (no handle bound, no handshake yet)
    SSSLERR_TIMEOUT = -8,
    SSSLERR_NI_ERROR = -9,      // the connection under the session failed
    SSSLERR_CONN_CLOSED = -10,  // the peer ended the data
    SSSLERR_HANDSHAKE = -11,    // the handshake failed
    SSSLERR_SERVER_CERT = -12,  // the server's certificate is not trusted or names another host
    SSSLERR_SSL_ERROR = -13,    // protocol failure after the handshake
    SSSLERR_STOPPED = -14,      // the network's stop check (NiSetStopCheck) asked to stop while waiting
};

// Credential kinds of the configuration record.
enum : int32_t {
    SSSL_CRED_PSE_NAME = 2,  // a PSE name, resolved by the crypto library
    SSSL_CRED_PSE_FILE = 4,  // a PSE file name
};

// Session roles and authentication types.
enum : int32_t {
    SSSL_ROLE_CLIENT = 1,       // client that can present the PSE's own certificate
    SSSL_ROLE_ANON_CLIENT = 3,  // client without a certificate of its own
    SSSL_AUTH_MUTUAL = 3,       // verify the server, present the own certificate when asked
    SSSL_AUTH_SERVER = 4,       // verify the server only
};

// Configuration record of KovSSLInit.  The PSE supplies the trust anchors
// for the server's certificate (the CA certificates it holds) and, for
// SSSL_ROLE_CLIENT sessions, the client's key and certificate; it is opened
// without a PIN.  libraryPath null means "libkovcrypto.so".
struct SSSL_CONFIG {
    int32_t credentialKind;
    const char* pse;
    const char* libraryPath;
};

struct SsslSession;
typedef SsslSession* SSSL_HDL;

// Sends this layer's trace lines to the given trace file (default tf).
void KovSSLSetTraceFile(DpTrcHdl traceFile);

int32_t KovSSLInit(int32_t reserved1, const SSSL_CONFIG* config, int32_t reserved2);
int32_t KovSSLDone();

int32_t KovSSLSessionInit(SSSL_HDL* session, int32_t role, int32_t authentication);
int32_t KovSSLSetNiHdl(SSSL_HDL session, NI_HDL hdl);
int32_t KovSSLSetTargetHostname(SSSL_HDL session, const char* host);
// "NONE": the server's certificate need not name the target host (it must
// still be trusted); "" or "DEFAULT": it must.
int32_t KovSSLTargetMatchParam(SSSL_HDL session, const char* match);
int32_t KovSSLSessionStart(SSSL_HDL session);
// Time-outs in milliseconds, -1 without limit.  A write sends every byte or
// fails; a read returns at least one byte, or SSSLERR_CONN_CLOSED at the end
// of the peer's data.
int32_t KovSSLWrite(SSSL_HDL session, const void* data, int32_t length, int32_t timeoutMs, int32_t* written);
int32_t KovSSLRead(SSSL_HDL session, void* buffer, int32_t capacity, int32_t timeoutMs, int32_t* bytesRead);
// Ends the session (closing TLS politely when it can) and frees it; *session
// becomes null.  The network handle stays open.
int32_t KovSSLSessionDone(SSSL_HDL* session);

// The constant name of a code, such as "SSSLERR_CONN_CLOSED"; never null.
const char* KovSSLErrorName(int32_t rc);
