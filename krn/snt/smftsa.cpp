// The timestamp client's HTTP exchange: URL checks, the connection (through
// a proxy with CONNECT for HTTPS, with an absolute request target for HTTP),
// the TLS session, the request header byte for byte, and the reply with its
// content type.  Everything opened is released on every way out; credentials
// are wiped after use and never traced.
#include "krn/snt/smftsa.h"
#include "krn/snt/smfint.h"

#include <strings.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "crypto/coding.h"
#include "nls/kovcase.h"
#include "nls/nlsui.h"

namespace {

constexpr char kAuthPrefix[] = "Authorization: Basic ";

struct Exchange {
    SmfUtilMsg* msg;
    SmfUtilURL* tsa = nullptr;
    SmfUtilURL* proxy = nullptr;
    char* tsaClean = nullptr;
    char* proxyClean = nullptr;
    char* header = nullptr;
    size_t headerLen = 0;
    size_t headerCap = 0;
    char* credentials = nullptr;
    size_t credentialsLen = 0;
    char* credentials64 = nullptr;
    size_t credentials64Cap = 0;
    bool https = false;
    bool niStarted = false;
    bool sslStarted = false;
    bool connected = false;
    NI_HDL hdl = -1;
    SSSL_HDL session = nullptr;
};

void Wipe(char* p, size_t n)
{
    if (p)
        explicit_bzero(p, n);
}

// Cleans up in the order the authority's partner expects: texts, the TLS
// session, the connection, the SSL layer, the network interface.
void Release(Exchange& x)
{
    SmfUtilFreeURL(x.tsa);
    SmfUtilFreeURL(x.proxy);
    Wipe(x.header, x.headerCap);
    SMF_FREE(x.header);
    Wipe(x.credentials, x.credentialsLen);
    SMF_FREE(x.credentials);
    Wipe(x.credentials64, x.credentials64Cap);
    SMF_FREE(x.credentials64);
    SMF_FREE(x.tsaClean);
    SMF_FREE(x.proxyClean);
    if (x.session)
        KovSSLSessionDone(&x.session);
    if (x.connected)
        NiCloseHandle(x.hdl);
    if (x.sslStarted)
        KovSSLDone();
    if (x.niStarted)
        NiExit();
}

// Appends formatted text to the header; false when memory ran out.
__attribute__((format(printf, 2, 3))) bool Append(Exchange& x, const char* fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    const int n = std::vsnprintf(nullptr, 0, fmt, ap);
    va_end(ap);
    if (n < 0)
        return false;
    const size_t need = x.headerLen + static_cast<size_t>(n) + 1;
    if (need > x.headerCap) {
        const size_t cap = need * 2;
        char* grown = static_cast<char*>(SMF_ALLOC(SMFUTIL_CHARS, 0, cap));
        if (!grown)
            return false;
        if (x.header) {
            std::memcpy(grown, x.header, x.headerLen + 1);
            Wipe(x.header, x.headerCap);
            SMF_FREE(x.header);
        }
        x.header = grown;
        x.headerCap = cap;
    }
    va_start(ap, fmt);
    std::vsnprintf(x.header + x.headerLen, x.headerCap - x.headerLen, fmt, ap);
    va_end(ap);
    x.headerLen += static_cast<size_t>(n);
    return true;
}

// The header as traces may show it: the credentials' Base64 replaced.
void TraceHeader(Exchange& x)
{
    if (ct_level < 2)
        return;
    char* shown = SMF_STRNDUP(x.header, x.headerLen);
    if (!shown)
        return;
    char* auth = std::strstr(shown, kAuthPrefix);
    if (auth) {
        char* value = auth + sizeof kAuthPrefix - 1;
        char* end = std::strstr(value, "\r\n");
        if (end)
            std::memmove(value, "<hidden>", 8), std::memmove(value + 8, end, std::strlen(end) + 1);
    }
    SMF_TRACE(2, x.msg, "Sending header fields:\n%s", shown);
    SMF_FREE(shown);
}

int CheckUrls(Exchange& x, const char* tsaUrl, const char* proxyUrl)
{
    if (!tsaUrl) {
        SMF_TRACE(0, x.msg, "API usage error: URL for host not given");
        return SMFUTIL_EUSAGE;
    }
    int rc = SmfUtilSplitURL(x.msg, tsaUrl, &x.tsa, &x.tsaClean);
    if (rc != 0)
        return rc;
    x.https = strcasecmp(x.tsa->scheme, "https") == 0;
    if (!x.https && strcasecmp(x.tsa->scheme, "http") != 0) {
        SMF_TRACE(0, x.msg, "Host-URL \"%s\" specifies an unsupported scheme \"%s\"", x.tsaClean, x.tsa->scheme);
        return SMFUTIL_ESCHEME;
    }
    if (!proxyUrl)
        return SMFUTIL_OK;
    rc = SmfUtilSplitURL(x.msg, proxyUrl, &x.proxy, &x.proxyClean);
    if (rc != 0)
        return rc;
    if (strcasecmp(x.proxy->scheme, "http") != 0) {
        SMF_TRACE(0, x.msg, "Proxy-URL \"%s\" specifies an unsupported scheme \"%s\"", x.proxyClean, x.proxy->scheme);
        return SMFUTIL_ESCHEME;
    }
    if (x.proxy->user || x.proxy->password) {
        SMF_TRACE(0, x.msg, "Proxy URL \"%s\" specifies user/password; this code does not support proxy authentication",
                  x.proxyClean);
        return SMFUTIL_EUSAGE;
    }
    return SMFUTIL_OK;
}

int StartLayers(Exchange& x)
{
    int32_t rc = NiInit();
    if (rc != NI_OK) {
        SMF_TRACE(0, x.msg, "NiInit() == %d (%s)", rc, NiErrorName(rc));
        return SMFUTIL_ENETWORK;
    }
    x.niStarted = true;
    if (!x.https)
        return SMFUTIL_OK;
    if (SmfUtilHasTraceFile())
        KovSSLSetTraceFile(SmfUtilGetTraceFile());
    const char* pse = std::getenv("KOVMANIFEST_SSL_PSE");
    // TLS runs in the same crypto library the manifest loaded (it may have
    // been given by path).
    const char* library = SmfCryptoLibraryPath();
    const SSSL_CONFIG config = pse ? SSSL_CONFIG{SSSL_CRED_PSE_NAME, pse, library}
                                   : SSSL_CONFIG{SSSL_CRED_PSE_FILE, "./KOVSSL.pse", library};
    rc = KovSSLInit(0, &config, 0);
    if (rc != SSSL_OK) {
        SMF_TRACE(0, x.msg, "Error in SSL initialization: KovSSLInit() == %d (%s)", rc, KovSSLErrorName(rc));
        return rc == SSSLERR_LIB_NOT_FOUND ? SMFUTIL_ESSLLIB : SMFUTIL_ESSL;
    }
    x.sslStarted = true;
    return SMFUTIL_OK;
}

int Connect(Exchange& x)
{
    const SmfUtilURL* to = x.proxy ? x.proxy : x.tsa;
    const char* port = to->port ? to->port : x.https ? "443" : "80";
    const int32_t rc = NiRawHandle(to->host, port, smfUtilNetTimeoutMs, &x.hdl);
    if (rc != NI_OK) {
        SMF_TRACE(0, x.msg, "Connection to host/proxy failed: NiRawHandle(\"%s\",%s) == %d (%s)", to->host, port, rc,
                  NiErrorName(rc));
        return SMFUTIL_ENETWORK;
    }
    x.connected = true;
    SMF_TRACE(2, x.msg, "Connected to host/proxy \"%s\"", to->host);
    return SMFUTIL_OK;
}

int SslError(Exchange& x, const char* what, int32_t rc)
{
    SMF_TRACE(0, x.msg, "Error in SSL: %s == %d (%s)", what, rc, KovSSLErrorName(rc));
    return SMFUTIL_ESSL;
}

int Tunnel(Exchange& x)
{
    const char* port = x.tsa->port ? x.tsa->port : "443";
    const size_t cap = std::strlen(x.tsa->host) + std::strlen(port) + 32;
    char* connect = static_cast<char*>(SMF_ALLOC(SMFUTIL_CHARS, 0, cap));
    if (!connect)
        return SMFUTIL_ENOMEM;
    const int len = std::snprintf(connect, cap, "CONNECT %s:%s HTTP/1.0\r\n\r\n", x.tsa->host, port);
    SMF_TRACE(2, x.msg, "Sending proxy request:\n%s", connect);
    SmfUtilDump(x.msg, connect, static_cast<size_t>(len), false, 0);
    int32_t written = 0;
    const int32_t rc = NiRawWrite(x.hdl, connect, len, smfUtilNetTimeoutMs, &written);
    SMF_FREE(connect);
    if (rc != NI_OK) {
        SMF_TRACE(0, x.msg, "Writing proxy request failed: NiRawWrite(%d) == %d (%s)", len, rc, NiErrorName(rc));
        return SMFUTIL_ENETWORK;
    }
    SMF_TRACE(2, x.msg, "Written %d bytes for proxy request", written);
    return SmfUtilReadHttpResponse(x.msg, false, x.hdl, nullptr, nullptr, nullptr, nullptr);
}

int StartTls(Exchange& x)
{
    const bool ownPse = std::getenv("KOVMANIFEST_SSL_PSE") != nullptr;
    int32_t rc = ownPse ? KovSSLSessionInit(&x.session, SSSL_ROLE_CLIENT, SSSL_AUTH_MUTUAL)
                        : KovSSLSessionInit(&x.session, SSSL_ROLE_ANON_CLIENT, SSSL_AUTH_SERVER);
    if (rc != SSSL_OK) {
        SMF_TRACE(0, x.msg, "Error in SSL session initialization: KovSSLSessionInit() == %d (%s)", rc,
                  KovSSLErrorName(rc));
        return SMFUTIL_ESSL;
    }
    if ((rc = KovSSLSetNiHdl(x.session, x.hdl)) != SSSL_OK)
        return SslError(x, "KovSSLSetNiHdl()", rc);
    if (x.proxy) {
        const int tunnelRc = Tunnel(x);
        if (tunnelRc != SMFUTIL_OK)
            return tunnelRc;
    }
    if ((rc = KovSSLSetTargetHostname(x.session, x.tsa->host)) != SSSL_OK) {
        SMF_TRACE(0, x.msg, "Error in SSL: KovSSLSetTargetHostname(%s) == %d (%s)", x.tsa->host, rc,
                  KovSSLErrorName(rc));
        return SMFUTIL_ESSL;
    }
    if (!ownPse && (rc = KovSSLTargetMatchParam(x.session, "NONE")) != SSSL_OK)
        return SslError(x, "KovSSLTargetMatchParam()", rc);
    if ((rc = KovSSLSessionStart(x.session)) != SSSL_OK)
        return SslError(x, "KovSSLSessionStart()", rc);
    return SMFUTIL_OK;
}

int BuildHeader(Exchange& x, int32_t requestLength)
{
    const char* target = x.proxy ? x.tsaClean : x.tsa->path ? x.tsa->path : "/";
    if (!Append(x, "POST %s HTTP/1.0\r\nUser-Agent: KOV\r\nAccept-Encoding: \r\n", target) ||
        !Append(x, "Accept: %s\r\n", SMFTSA_REPLY_TYPE))
        return SMFUTIL_ENOMEM;
    if (x.tsa->user && x.tsa->password) {
        const size_t userLen = std::strlen(x.tsa->user);
        const size_t passLen = std::strlen(x.tsa->password);
        x.credentialsLen = userLen + 1 + passLen;
        x.credentials = static_cast<char*>(SMF_ALLOC(SMFUTIL_CHARS, 0, x.credentialsLen + 1));
        char* joined = static_cast<char*>(SMF_ALLOC(SMFUTIL_CHARS, 0, x.credentialsLen + 1));
        if (!x.credentials || !joined) {
            SMF_FREE(joined);
            return SMFUTIL_ENOMEM;
        }
        std::snprintf(joined, x.credentialsLen + 1, "%s:%s", x.tsa->user, x.tsa->password);
        nlsui_mem2a7subst(x.credentials, joined, static_cast<int32_t>(x.credentialsLen), '@');
        x.credentials[x.credentialsLen] = '\0';
        Wipe(joined, x.credentialsLen);
        SMF_FREE(joined);
        if (std::memchr(x.credentials, '@', x.credentialsLen)) {
            SMF_TRACE(0, x.msg,
                      "URL includes username/password which leave the pure ASCII character set. This simple "
                      "HTTP client code cannot handle such complex stuff. Contact the server administrator and "
                      "let her give you username and password in ASCII only.");
            return SMFUTIL_EURL;
        }
        x.credentials64Cap = coBase64EncodedLength(x.credentialsLen, 0, 0) + 1;
        x.credentials64 = static_cast<char*>(SMF_ALLOC(SMFUTIL_CHARS, 0, x.credentials64Cap));
        if (!x.credentials64)
            return SMFUTIL_ENOMEM;
        size_t n = 0;
        const int rc = coBase64Encode56(x.credentials, x.credentialsLen, CO_MODE_DIGEST, 0, nullptr, x.credentials64,
                                        x.credentials64Cap - 1, &n);
        if (rc != CO_OK) {
            SMF_TRACE(0, x.msg, "haEncBase64UC() == %d", rc);
            return SMFUTIL_EBASE64;
        }
        x.credentials64[n] = '\0';
        if (!Append(x, "Authorization: Basic %s\r\n", x.credentials64))
            return SMFUTIL_ENOMEM;
    }
    char length[16];
    std::snprintf(length, sizeof length, "%d", requestLength);
    if (!Append(x, "Content-Type: %s\r\n", SMFTSA_QUERY_TYPE) || !Append(x, "Content-Length: %s\r\n", length) ||
        !Append(x, "%s", "\r\n"))
        return SMFUTIL_ENOMEM;
    return SMFUTIL_OK;
}

// Writes one part of the request over the session or the connection.
int Send(Exchange& x, const char* what, const void* data, int32_t length)
{
    int32_t written = 0;
    const int32_t rc = x.https ? KovSSLWrite(x.session, data, length, smfUtilNetTimeoutMs, &written)
                               : NiRawWrite(x.hdl, data, length, smfUtilNetTimeoutMs, &written);
    if (rc != 0) {
        SMF_TRACE(0, x.msg, "Writing %s failed: %s(%d) == %d (%s)", what, x.https ? "KovSSLWrite" : "NiRawWrite",
                  length, rc, x.https ? KovSSLErrorName(rc) : NiErrorName(rc));
        return x.https ? SMFUTIL_ESSL : SMFUTIL_ENETWORK;
    }
    SMF_TRACE(2, x.msg, "Written %d bytes for %s to \"%s\"", written, what, x.tsaClean);
    return SMFUTIL_OK;
}

int Run(Exchange& x, const char* tsaUrl, const char* proxyUrl, const unsigned char* request, int32_t requestLength,
        unsigned char** reply, int32_t* replyLength)
{
    // The header is built first: credentials it cannot carry need no connection.
    int rc = CheckUrls(x, tsaUrl, proxyUrl);
    if (rc == SMFUTIL_OK)
        rc = BuildHeader(x, requestLength);
    if (rc == SMFUTIL_OK)
        rc = StartLayers(x);
    if (rc == SMFUTIL_OK)
        rc = Connect(x);
    if (rc == SMFUTIL_OK && x.https)
        rc = StartTls(x);
    if (rc != SMFUTIL_OK)
        return rc;
    TraceHeader(x);
    if ((rc = Send(x, "header", x.header, static_cast<int32_t>(x.headerLen))) != SMFUTIL_OK ||
        (rc = Send(x, "body", request, requestLength)) != SMFUTIL_OK)
        return rc;
    SMF_TRACE(2, x.msg, "Beginning to read data from partner");
    char* type = nullptr;
    rc = SmfUtilReadHttpResponse(x.msg, x.https, x.hdl, x.session, &type, replyLength, reply);
    if (rc == SMFUTIL_OK && !type) {
        SMF_TRACE(0, x.msg, "Server response does not specify content type, but \"%s\" is expected to be found",
                  SMFTSA_REPLY_TYPE);
        rc = SMFUTIL_ECONTENTTYPE;
    } else if (rc == SMFUTIL_OK && strcasecmpR(type, SMFTSA_REPLY_TYPE) != 0) {
        SMF_TRACE(0, x.msg,
                  "Server response specifies content type in header as \"%s\", but \"%s\" is expected to be found",
                  type, SMFTSA_REPLY_TYPE);
        rc = SMFUTIL_ECONTENTTYPE;
    }
    SMF_FREE(type);
    if (rc == SMFUTIL_OK)
        SMF_TRACE(2, x.msg, "Read proper response of %d bytes", *replyLength);
    return rc;
}

}  // namespace

int SmfTsaExchange(SmfUtilMsg* msg, const char* tsaUrl, const char* proxyUrl, const unsigned char* request,
                   int32_t requestLength, unsigned char** reply, int32_t* replyLength)
{
    *reply = nullptr;
    *replyLength = 0;
    Exchange x;
    x.msg = msg;
    int rc = SMFUTIL_EUSAGE;
    if (request && requestLength > 0)
        rc = Run(x, tsaUrl, proxyUrl, request, requestLength, reply, replyLength);
    else
        SMF_TRACE(0, msg, "API usage error: timestamp request not given");
    Release(x);
    if (rc != SMFUTIL_OK) {
        SMF_FREE(*reply);
        *reply = nullptr;
        *replyLength = 0;
        SMF_TRACE(0, msg, "Timestamp request failed");
    }
    return rc;
}
