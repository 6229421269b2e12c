// SSL layer over the crypto library's TLS functions: the library is loaded
// once by KovSSLInit, sessions wrap one library connection each, and every
// call the library cannot finish without blocking is continued after the
// socket has become ready, within the caller's time-out.
#include "sec/sssl/sssl.h"

#include <time.h>

#include <cstdlib>
#include <cstring>

#include "dl/dlux.h"
#include "sec/sssl/sssltls.h"
#include "si/si.h"

struct SsslSession {
    int32_t role;
    int32_t authentication;
    NI_HDL ni;
    bool niBound;
    bool matchHost;
    char* host;
    KovTlsConn* conn;
    bool started;
};

namespace {

const char kDefaultLibrary[] = "libkovcrypto.so";

struct TlsFunctions {
    decltype(&kovtls_ctx_new) ctxNew;
    decltype(&kovtls_ctx_free) ctxFree;
    decltype(&kovtls_conn_new) connNew;
    decltype(&kovtls_handshake) handshake;
    decltype(&kovtls_write) write;
    decltype(&kovtls_read) read;
    decltype(&kovtls_conn_free) connFree;
    decltype(&kovtls_last_error) lastError;
};

DpTrcHdl s_trace = nullptr;
bool s_traceSet = false;
bool s_started = false;
DL_HDL s_lib = DL_NO_HDL;
TlsFunctions s_fn{};
char* s_pse = nullptr;
KovTlsCtx* s_anonCtx = nullptr;  // trust anchors only
KovTlsCtx* s_ownCtx = nullptr;   // trust anchors and the PSE's own key, made on first use

#define SSSL_TRACE(level, ...)                                                  \
    do {                                                                        \
        if (ct_level >= (level)) {                                              \
            DpTrcLockAcquire();                                                 \
            DpTrcSaveLoc("sssl.cpp", __LINE__);                                 \
            if ((level) <= 1)                                                   \
                DpTrcErr(s_traceSet ? s_trace : tf, __VA_ARGS__);               \
            else                                                                \
                DpTrc(s_traceSet ? s_trace : tf, __VA_ARGS__);                  \
            DpTrcLockRelease();                                                 \
        }                                                                       \
    } while (0)

// Traces a failure with the library's own text and returns rc.
int32_t Fail(int32_t rc, const char* call)
{
    const char* text = s_fn.lastError ? s_fn.lastError() : "";
    SSSL_TRACE(1, "%s failed: %s (%s)\n", call, KovSSLErrorName(rc), text ? text : "");
    return rc;
}

int32_t MapTls(int rc)
{
    switch (rc) {
    case KOVTLS_ERR_PARAM: return SSSLERR_PARAM;
    case KOVTLS_ERR_MEMORY: return SSSLERR_NO_MEMORY;
    case KOVTLS_ERR_PSE: return SSSLERR_PSE_ERROR;
    case KOVTLS_ERR_HANDSHAKE: return SSSLERR_HANDSHAKE;
    case KOVTLS_ERR_CERT: return SSSLERR_SERVER_CERT;
    case KOVTLS_ERR_IO: return SSSLERR_NI_ERROR;
    case KOVTLS_CLOSED: return SSSLERR_CONN_CLOSED;
    default: return SSSLERR_SSL_ERROR;
    }
}

int64_t NowMs()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t{ts.tv_sec} * 1000 + ts.tv_nsec / 1000000;
}

// Waits until the session's socket is ready for what the library wants.
// The deadline is absolute (ms of the monotonic clock), -1 for none.
int32_t WaitFor(SsslSession* s, int want, int64_t deadline)
{
    SI_SOCK* sock = nullptr;
    if (NiHdlGetSock(s->ni, &sock) != NI_OK || !sock)
        return SSSLERR_NI_ERROR;
    for (;;) {
        int32_t left = -1;
        if (deadline >= 0) {
            const int64_t rest = deadline - NowMs();
            if (rest <= 0)
                return SSSLERR_TIMEOUT;
            left = rest > INT32_MAX ? INT32_MAX : static_cast<int32_t>(rest);
        }
        const int32_t rc = SiPeek(sock, want == KOVTLS_WANT_WRITE ? SI_PEEK_WR : SI_PEEK_RD, left);
        if (rc == SI_EINTR)
            continue;
        if (rc == SI_ETIMEOUT)
            return SSSLERR_TIMEOUT;
        // Hang-up and error conditions are ready too: the library's next
        // call reports them as the end of data or a socket failure.
        if (rc == SI_OK || rc == SI_EINVAL || rc == SI_EINTERN)
            return SSSL_OK;
        return SSSLERR_NI_ERROR;
    }
}

int64_t DeadlineOf(int32_t timeoutMs)
{
    return timeoutMs < 0 ? -1 : NowMs() + timeoutMs;
}

bool ValidSession(SsslSession* s)
{
    return s_started && s != nullptr;
}

template <typename F>
bool Resolve(const char* name, F* slot)
{
    DL_FUNC f = nullptr;
    if (DlLoadFunc(s_lib, name, nullptr, &f) != DL_OK || !f) {
        SSSL_TRACE(1, "KovSSLInit: the crypto library lacks %s\n", name);
        return false;
    }
    *slot = reinterpret_cast<F>(f);
    return true;
}

void Unload()
{
    if (s_fn.ctxFree) {
        s_fn.ctxFree(&s_anonCtx);
        s_fn.ctxFree(&s_ownCtx);
    }
    s_anonCtx = s_ownCtx = nullptr;
    s_fn = TlsFunctions{};
    if (s_lib != DL_NO_HDL)
        DlUnloadLib(&s_lib);
    s_lib = DL_NO_HDL;
    std::free(s_pse);
    s_pse = nullptr;
}

}  // namespace

void KovSSLSetTraceFile(DpTrcHdl traceFile)
{
    s_trace = traceFile;
    s_traceSet = true;
}

int32_t KovSSLInit(int32_t, const SSSL_CONFIG* config, int32_t)
{
    if (s_started)
        return SSSL_OK;
    if (!config || !config->pse || !*config->pse ||
        (config->credentialKind != SSSL_CRED_PSE_NAME && config->credentialKind != SSSL_CRED_PSE_FILE)) {
        SSSL_TRACE(1, "KovSSLInit: no PSE, or credential kind %d unknown\n", config ? config->credentialKind : -1);
        return SSSLERR_PARAM;
    }
    const char* path = config->libraryPath && *config->libraryPath ? config->libraryPath : kDefaultLibrary;
    if (DlLoadLib(path, &s_lib) != DL_OK) {
        SSSL_TRACE(1, "KovSSLInit: crypto library %s cannot be loaded\n", path);
        s_lib = DL_NO_HDL;
        return SSSLERR_LIB_NOT_FOUND;
    }
    TlsFunctions fn{};
    const bool all = Resolve("kovtls_ctx_new", &fn.ctxNew) && Resolve("kovtls_ctx_free", &fn.ctxFree) &&
                     Resolve("kovtls_conn_new", &fn.connNew) && Resolve("kovtls_handshake", &fn.handshake) &&
                     Resolve("kovtls_write", &fn.write) && Resolve("kovtls_read", &fn.read) &&
                     Resolve("kovtls_conn_free", &fn.connFree) && Resolve("kovtls_last_error", &fn.lastError);
    if (!all) {
        Unload();
        return SSSLERR_LIB_FUNCTION;
    }
    s_fn = fn;
    s_pse = strdup(config->pse);
    if (!s_pse) {
        Unload();
        return SSSLERR_NO_MEMORY;
    }
    const int rc = s_fn.ctxNew(s_pse, static_cast<uint32_t>(std::strlen(s_pse)), 0, &s_anonCtx);
    if (rc != KOVTLS_OK) {
        const int32_t mapped = Fail(MapTls(rc), "KovSSLInit: opening the PSE");
        Unload();
        return mapped;
    }
    s_started = true;
    SSSL_TRACE(2, "KovSSLInit: crypto library %s loaded, PSE %s\n", path, s_pse);
    return SSSL_OK;
}

int32_t KovSSLDone()
{
    if (!s_started)
        return SSSLERR_NO_SSL_INIT;
    Unload();
    s_started = false;
    return SSSL_OK;
}

int32_t KovSSLSessionInit(SSSL_HDL* session, int32_t role, int32_t authentication)
{
    if (!session)
        return SSSLERR_PARAM;
    *session = nullptr;
    if (!s_started)
        return SSSLERR_NO_SSL_INIT;
    const bool own = role == SSSL_ROLE_CLIENT && authentication == SSSL_AUTH_MUTUAL;
    const bool anon = role == SSSL_ROLE_ANON_CLIENT && authentication == SSSL_AUTH_SERVER;
    if (!own && !anon) {
        SSSL_TRACE(1, "KovSSLSessionInit: role %d with authentication %d not supported\n", role, authentication);
        return SSSLERR_PARAM;
    }
    if (own && !s_ownCtx) {
        const int rc = s_fn.ctxNew(s_pse, static_cast<uint32_t>(std::strlen(s_pse)), 1, &s_ownCtx);
        if (rc != KOVTLS_OK)
            return Fail(MapTls(rc), "KovSSLSessionInit: the PSE's own credentials");
    }
    SsslSession* s = static_cast<SsslSession*>(std::calloc(1, sizeof(SsslSession)));
    if (!s)
        return SSSLERR_NO_MEMORY;
    s->role = role;
    s->authentication = authentication;
    s->matchHost = true;
    *session = s;
    return SSSL_OK;
}

int32_t KovSSLSetNiHdl(SSSL_HDL session, NI_HDL hdl)
{
    if (!ValidSession(session))
        return s_started ? SSSLERR_PARAM : SSSLERR_NO_SSL_INIT;
    if (session->started)
        return SSSLERR_WRONG_STATE;
    SI_SOCK* sock = nullptr;
    if (NiHdlGetSock(hdl, &sock) != NI_OK || !sock) {
        SSSL_TRACE(1, "KovSSLSetNiHdl: %d is no open network handle\n", hdl);
        return SSSLERR_PARAM;
    }
    session->ni = hdl;
    session->niBound = true;
    return SSSL_OK;
}

int32_t KovSSLSetTargetHostname(SSSL_HDL session, const char* host)
{
    if (!ValidSession(session))
        return s_started ? SSSLERR_PARAM : SSSLERR_NO_SSL_INIT;
    if (!host || !*host)
        return SSSLERR_PARAM;
    if (session->started)
        return SSSLERR_WRONG_STATE;
    char* copy = strdup(host);
    if (!copy)
        return SSSLERR_NO_MEMORY;
    std::free(session->host);
    session->host = copy;
    return SSSL_OK;
}

int32_t KovSSLTargetMatchParam(SSSL_HDL session, const char* match)
{
    if (!ValidSession(session))
        return s_started ? SSSLERR_PARAM : SSSLERR_NO_SSL_INIT;
    if (!match)
        return SSSLERR_PARAM;
    if (session->started)
        return SSSLERR_WRONG_STATE;
    if (std::strcmp(match, "NONE") == 0)
        session->matchHost = false;
    else if (*match == '\0' || std::strcmp(match, "DEFAULT") == 0)
        session->matchHost = true;
    else
        return SSSLERR_PARAM;
    return SSSL_OK;
}

int32_t KovSSLSessionStart(SSSL_HDL session)
{
    if (!ValidSession(session))
        return s_started ? SSSLERR_PARAM : SSSLERR_NO_SSL_INIT;
    if (!session->niBound || !session->host || session->started)
        return SSSLERR_WRONG_STATE;
    SI_SOCK* sock = nullptr;
    if (NiHdlGetSock(session->ni, &sock) != NI_OK || !sock)
        return SSSLERR_NI_ERROR;
    KovTlsCtx* ctx = session->role == SSSL_ROLE_CLIENT ? s_ownCtx : s_anonCtx;
    int rc = s_fn.connNew(ctx, sock->sock, session->host, static_cast<uint32_t>(std::strlen(session->host)),
                          session->matchHost ? 1 : 0, &session->conn);
    if (rc != KOVTLS_OK)
        return Fail(MapTls(rc), "KovSSLSessionStart");
    // The handshake is bounded like one read: the peer has as long to answer.
    const int64_t deadline = DeadlineOf(120000);
    while ((rc = s_fn.handshake(session->conn)) == KOVTLS_WANT_READ || rc == KOVTLS_WANT_WRITE) {
        const int32_t waitRc = WaitFor(session, rc, deadline);
        if (waitRc != SSSL_OK)
            return Fail(waitRc, "KovSSLSessionStart");
    }
    if (rc != KOVTLS_OK)
        return Fail(rc == KOVTLS_CLOSED ? SSSLERR_HANDSHAKE : MapTls(rc), "KovSSLSessionStart");
    session->started = true;
    SSSL_TRACE(2, "KovSSLSessionStart: TLS session with %s established\n", session->host);
    return SSSL_OK;
}

int32_t KovSSLWrite(SSSL_HDL session, const void* data, int32_t length, int32_t timeoutMs, int32_t* written)
{
    if (written)
        *written = 0;
    if (!ValidSession(session))
        return s_started ? SSSLERR_PARAM : SSSLERR_NO_SSL_INIT;
    if (!written || length < 0 || (length > 0 && !data))
        return SSSLERR_PARAM;
    if (!session->started)
        return SSSLERR_WRONG_STATE;
    const int64_t deadline = DeadlineOf(timeoutMs);
    const unsigned char* p = static_cast<const unsigned char*>(data);
    while (*written < length) {
        uint32_t n = 0;
        const int rc = s_fn.write(session->conn, p + *written, static_cast<uint32_t>(length - *written), &n);
        if (rc == KOVTLS_OK) {
            *written += static_cast<int32_t>(n);
            continue;
        }
        if (rc != KOVTLS_WANT_READ && rc != KOVTLS_WANT_WRITE)
            return Fail(MapTls(rc), "KovSSLWrite");
        const int32_t waitRc = WaitFor(session, rc, deadline);
        if (waitRc != SSSL_OK)
            return Fail(waitRc, "KovSSLWrite");
    }
    return SSSL_OK;
}

int32_t KovSSLRead(SSSL_HDL session, void* buffer, int32_t capacity, int32_t timeoutMs, int32_t* bytesRead)
{
    if (bytesRead)
        *bytesRead = 0;
    if (!ValidSession(session))
        return s_started ? SSSLERR_PARAM : SSSLERR_NO_SSL_INIT;
    if (!bytesRead || !buffer || capacity <= 0)
        return SSSLERR_PARAM;
    if (!session->started)
        return SSSLERR_WRONG_STATE;
    const int64_t deadline = DeadlineOf(timeoutMs);
    for (;;) {
        uint32_t n = 0;
        const int rc = s_fn.read(session->conn, buffer, static_cast<uint32_t>(capacity), &n);
        if (rc == KOVTLS_OK && n > 0) {
            *bytesRead = static_cast<int32_t>(n);
            return SSSL_OK;
        }
        if (rc == KOVTLS_CLOSED)
            return SSSLERR_CONN_CLOSED;
        if (rc != KOVTLS_OK && rc != KOVTLS_WANT_READ && rc != KOVTLS_WANT_WRITE)
            return Fail(MapTls(rc), "KovSSLRead");
        const int32_t waitRc = WaitFor(session, rc == KOVTLS_WANT_WRITE ? rc : KOVTLS_WANT_READ, deadline);
        if (waitRc != SSSL_OK)
            return Fail(waitRc, "KovSSLRead");
    }
}

int32_t KovSSLSessionDone(SSSL_HDL* session)
{
    if (!session || !*session)
        return SSSLERR_PARAM;
    SsslSession* s = *session;
    if (s->conn && s_fn.connFree)
        s_fn.connFree(&s->conn);
    std::free(s->host);
    std::free(s);
    *session = nullptr;
    return SSSL_OK;
}

const char* KovSSLErrorName(int32_t rc)
{
    switch (rc) {
    case SSSL_OK: return "SSSL_OK";
    case SSSLERR_LIB_NOT_FOUND: return "SSSLERR_LIB_NOT_FOUND";
    case SSSLERR_NO_SSL_INIT: return "SSSLERR_NO_SSL_INIT";
    case SSSLERR_PARAM: return "SSSLERR_PARAM";
    case SSSLERR_NO_MEMORY: return "SSSLERR_NO_MEMORY";
    case SSSLERR_PSE_ERROR: return "SSSLERR_PSE_ERROR";
    case SSSLERR_LIB_FUNCTION: return "SSSLERR_LIB_FUNCTION";
    case SSSLERR_WRONG_STATE: return "SSSLERR_WRONG_STATE";
    case SSSLERR_TIMEOUT: return "SSSLERR_TIMEOUT";
    case SSSLERR_NI_ERROR: return "SSSLERR_NI_ERROR";
    case SSSLERR_CONN_CLOSED: return "SSSLERR_CONN_CLOSED";
    case SSSLERR_HANDSHAKE: return "SSSLERR_HANDSHAKE";
    case SSSLERR_SERVER_CERT: return "SSSLERR_SERVER_CERT";
    case SSSLERR_SSL_ERROR: return "SSSLERR_SSL_ERROR";
    default: return "SSSLERR_UNKNOWN";
    }
}
