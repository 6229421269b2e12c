// SSL layer over the crypto library's TLS client functions: the library is
// loaded once by KovSSLInit with the credentials of the PSE, and each
// session wraps one of the library's connections over the socket of a raw
// network handle.  The library waits on the socket itself, within the time-
// outs given, and never closes it; it is given them in slices, so that the
// network's stop check is asked between them.
#include "sec/sssl/sssl.h"

#include <time.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "dl/dlux.h"
#include "kovcrypto/kovtls.h"
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

// The crypto library's TLS functions, resolved by name.
struct TlsFunctions {
    decltype(&kovtls_cred_open) credOpen;
    decltype(&kovtls_cred_free) credFree;
    decltype(&kovtls_conn_new) connNew;
    decltype(&kovtls_handshake) handshake;
    decltype(&kovtls_write) write;
    decltype(&kovtls_read) read;
    decltype(&kovtls_conn_free) connFree;
    decltype(&SsfSecTKLastErrorInfo) lastError;
};

const char kDefaultLibrary[] = "libkovcrypto.so";
// The handshake may take as long as the peer needs to answer one read.
constexpr int kHandshakeTimeoutMs = 120000;

DpTrcHdl s_trace = nullptr;
bool s_traceSet = false;
bool s_started = false;
DL_HDL s_lib = DL_NO_HDL;
TlsFunctions s_fn{};
KovTlsCred* s_cred = nullptr;

#define SSSL_TRACE(level, ...) \
    do { \
        if (ct_level >= (level)) { \
            DpTrcLockAcquire(); \
            DpTrcSaveLoc("sssl.cpp", __LINE__); \
            if ((level) <= 1) \
                DpTrcErr(s_traceSet ? s_trace : tf, __VA_ARGS__); \
            else \
                DpTrc(s_traceSet ? s_trace : tf, __VA_ARGS__); \
            DpTrcLockRelease(); \
        } \
    } while (0)

int32_t MapTls(int rc, bool handshake)
{
    switch (rc) {
    case KOVTLS_OK:
        return SSSL_OK;
    case KOVTLS_E_CLOSED:
        return handshake ? SSSLERR_HANDSHAKE : SSSLERR_CONN_CLOSED;
    case KOVTLS_E_TIMEOUT:
        return SSSLERR_TIMEOUT;
    case KOVTLS_E_IO:
        return SSSLERR_NI_ERROR;
    case KOVTLS_E_PROTOCOL:
        return handshake ? SSSLERR_HANDSHAKE : SSSLERR_SSL_ERROR;
    case KOVTLS_E_PEERCERT:
        return SSSLERR_SERVER_CERT;
    case KOVTLS_E_PSE:
        return SSSLERR_PSE_ERROR;
    case KOVTLS_E_ARG:
        return SSSLERR_PARAM;
    case KOVTLS_E_NOMEM:
        return SSSLERR_NO_MEMORY;
    default:
        return SSSLERR_SSL_ERROR;
    }
}

// Traces a failure of the library with its own text and returns our code.
int32_t Fail(int tlsRc, const char* call, bool handshake = false)
{
    const int32_t rc = MapTls(tlsRc, handshake);
    if (ct_level >= 1) {
        int toolkit = 0;
        const char* text = nullptr;
        const char* text2 = nullptr;
        uint32_t len = 0, len2 = 0;
        if (!s_fn.lastError || s_fn.lastError(tlsRc, &toolkit, &text, &len, &text2, &len2) != 0)
            text = text2 = nullptr;
        SSSL_TRACE(1, "%s failed: %d -> %s (%.*s; %.*s)\n", call, tlsRc, KovSSLErrorName(rc),
                   text ? static_cast<int>(len) : 0, text ? text : "", text2 ? static_cast<int>(len2) : 0,
                   text2 ? text2 : "");
    }
    return rc;
}

// The longest wait handed to the library at once: a stop is seen within it.
constexpr int kSliceMs = 100;
// What Sliced returns when the stop check asks to stop (the library's codes
// are 0 or negative).
constexpr int kStoppedTls = 1;

long long NowMs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<long long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

// Runs call(ms), one call of the library that waits at most ms, until it
// ends other than by a time-out or timeoutMs (-1: no limit) have passed,
// and returns its code; kStoppedTls when the network's stop check, asked
// before each call, asks to stop.  A call that timed out may be made again:
// the connection is as it was, and what a write sent is counted by the
// caller.
template <typename Call>
int Sliced(int32_t timeoutMs, Call call)
{
    const long long end = timeoutMs < 0 ? -1 : NowMs() + timeoutMs;
    for (;;) {
        if (NiStopRequested())
            return kStoppedTls;
        const long long left = end < 0 ? -1 : std::max(end - NowMs(), 0LL);
        const bool sliced = left < 0 || left > kSliceMs;
        const int rc = call(sliced ? kSliceMs : static_cast<int>(left));
        if (rc != KOVTLS_E_TIMEOUT || !sliced)
            return rc;
    }
}

int32_t Stopped(const char* call)
{
    SSSL_TRACE(1, "%s: stopped while waiting for the peer\n", call);
    return SSSLERR_STOPPED;
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
    if (s_fn.credFree)
        s_fn.credFree(&s_cred);
    s_cred = nullptr;
    s_fn = TlsFunctions{};
    if (s_lib != DL_NO_HDL)
        DlUnloadLib(&s_lib);
    s_lib = DL_NO_HDL;
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
    const bool all = Resolve("kovtls_cred_open", &fn.credOpen) && Resolve("kovtls_cred_free", &fn.credFree) &&
                     Resolve("kovtls_conn_new", &fn.connNew) && Resolve("kovtls_handshake", &fn.handshake) &&
                     Resolve("kovtls_write", &fn.write) && Resolve("kovtls_read", &fn.read) &&
                     Resolve("kovtls_conn_free", &fn.connFree) && Resolve("SsfSecTKLastErrorInfo", &fn.lastError);
    if (!all) {
        Unload();
        return SSSLERR_LIB_FUNCTION;
    }
    s_fn = fn;
    // The PSE is opened without a PIN: it holds the trust anchors and, for
    // sessions that present one, the client's own certificate.
    const int rc = s_fn.credOpen(config->pse, static_cast<uint32_t>(std::strlen(config->pse)), "", 0, &s_cred);
    if (rc != KOVTLS_OK) {
        const int32_t mapped = Fail(rc, "KovSSLInit: opening the PSE");
        Unload();
        return mapped;
    }
    s_started = true;
    SSSL_TRACE(2, "KovSSLInit: crypto library %s loaded, PSE %s\n", path, config->pse);
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
    // The server is always verified against the PSE's trust anchors; "NONE"
    // only spares the check of its name.
    unsigned flags = KOVTLS_VERIFY_PEER;
    if (session->matchHost)
        flags |= KOVTLS_CHECK_HOSTNAME;
    if (session->role == SSSL_ROLE_CLIENT)
        flags |= KOVTLS_SEND_CERT;
    int rc = s_fn.connNew(s_cred, sock->sock, session->host, flags, &session->conn);
    if (rc != KOVTLS_OK)
        return Fail(rc, "KovSSLSessionStart", true);
    rc = Sliced(kHandshakeTimeoutMs, [session](int ms) { return s_fn.handshake(session->conn, ms); });
    if (rc == kStoppedTls)
        return Stopped("KovSSLSessionStart");
    if (rc != KOVTLS_OK)
        return Fail(rc, "KovSSLSessionStart", true);
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
    const auto* bytes = static_cast<const uint8_t*>(data);
    uint32_t sent = 0;
    const int rc = Sliced(timeoutMs, [&](int ms) {
        uint32_t n = 0;
        const int callRc = s_fn.write(session->conn, bytes + sent, static_cast<uint32_t>(length) - sent, ms, &n);
        sent += n;
        return callRc;
    });
    *written = static_cast<int32_t>(sent);
    if (rc == kStoppedTls)
        return Stopped("KovSSLWrite");
    return rc == KOVTLS_OK ? SSSL_OK : Fail(rc, "KovSSLWrite");
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
    uint32_t n = 0;
    const int rc = Sliced(
        timeoutMs, [&](int ms) { return s_fn.read(session->conn, buffer, static_cast<uint32_t>(capacity), ms, &n); });
    if (rc == kStoppedTls)
        return Stopped("KovSSLRead");
    if (rc == KOVTLS_E_CLOSED)
        return SSSLERR_CONN_CLOSED;
    if (rc != KOVTLS_OK)
        return Fail(rc, "KovSSLRead");
    *bytesRead = static_cast<int32_t>(n);
    return SSSL_OK;
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
    case SSSL_OK:
        return "SSSL_OK";
    case SSSLERR_LIB_NOT_FOUND:
        return "SSSLERR_LIB_NOT_FOUND";
    case SSSLERR_NO_SSL_INIT:
        return "SSSLERR_NO_SSL_INIT";
    case SSSLERR_PARAM:
        return "SSSLERR_PARAM";
    case SSSLERR_NO_MEMORY:
        return "SSSLERR_NO_MEMORY";
    case SSSLERR_PSE_ERROR:
        return "SSSLERR_PSE_ERROR";
    case SSSLERR_LIB_FUNCTION:
        return "SSSLERR_LIB_FUNCTION";
    case SSSLERR_WRONG_STATE:
        return "SSSLERR_WRONG_STATE";
    case SSSLERR_TIMEOUT:
        return "SSSLERR_TIMEOUT";
    case SSSLERR_NI_ERROR:
        return "SSSLERR_NI_ERROR";
    case SSSLERR_CONN_CLOSED:
        return "SSSLERR_CONN_CLOSED";
    case SSSLERR_HANDSHAKE:
        return "SSSLERR_HANDSHAKE";
    case SSSLERR_SERVER_CERT:
        return "SSSLERR_SERVER_CERT";
    case SSSLERR_SSL_ERROR:
        return "SSSLERR_SSL_ERROR";
    case SSSLERR_STOPPED:
        return "SSSLERR_STOPPED";
    default:
        return "SSSLERR_UNKNOWN";
    }
}
