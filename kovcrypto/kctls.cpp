// TLS client connections over a socket the caller connected.
#include <fcntl.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <new>

#include "kovcrypto/kcinternal.h"
#include "kovcrypto/kovtls.h"

struct KovTlsCred {
    SSL_CTX* ctx = nullptr;
};

struct KovTlsConn {
    SSL* ssl = nullptr;
    int fd = -1;
};

using namespace kc;

namespace {

long long NowMs()
{
    struct timespec ts { };
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<long long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

// The socket in non-blocking mode for the length of one call, then as it was.
class NonBlocking {
public:
    explicit NonBlocking(int fd)
        : m_fd(fd),
          m_flags(fcntl(fd, F_GETFL))
    {
        if (m_flags >= 0 && !(m_flags & O_NONBLOCK))
            fcntl(fd, F_SETFL, m_flags | O_NONBLOCK);
    }
    ~NonBlocking()
    {
        if (m_flags >= 0 && !(m_flags & O_NONBLOCK))
            fcntl(m_fd, F_SETFL, m_flags);
    }
    bool ok() const { return m_flags >= 0; }

private:
    int m_fd;
    int m_flags;
};

// Waits until the socket is ready the way the toolkit asks; rc 0, or a code.
int Wait(KovTlsConn* conn, int sslError, long long deadline)
{
    struct pollfd p { };
    p.fd = conn->fd;
    p.events = sslError == SSL_ERROR_WANT_WRITE ? POLLOUT : POLLIN;
    for (;;) {
        int wait = -1;
        if (deadline >= 0) {
            const long long left = deadline - NowMs();
            if (left <= 0)
                return Fail(KOVTLS_E_TIMEOUT, "no progress on the TLS connection within the time-out");
            wait = left > 0x7fffffff ? 0x7fffffff : static_cast<int>(left);
        }
        const int r = poll(&p, 1, wait);
        if (r > 0)
            return KOVTLS_OK;
        if (r < 0 && errno != EINTR)
            return Fail(KOVTLS_E_IO, "waiting on the socket failed: %s", std::strerror(errno));
    }
}

// A failed toolkit call: what it means for the caller.
int Failure(KovTlsConn* conn, int sslError, const char* what)
{
    switch (sslError) {
    case SSL_ERROR_ZERO_RETURN:
        return Fail(KOVTLS_E_CLOSED, "the peer ended the TLS connection");
    case SSL_ERROR_SYSCALL:
        if (ERR_peek_error() == 0)
            return Fail(KOVTLS_E_IO, "%s: the socket failed: %s", what, errno ? std::strerror(errno) : "end of data");
        break;
    default:
        break;
    }
    const long verify = SSL_get_verify_result(conn->ssl);
    if ((SSL_get_verify_mode(conn->ssl) & SSL_VERIFY_PEER) && verify != X509_V_OK) {
        SetToolkitCode(static_cast<int>(verify));
        return Fail(KOVTLS_E_PEERCERT, "%s: the server's certificate is refused: %s", what,
                    X509_verify_cert_error_string(verify));
    }
    return Fail(KOVTLS_E_PROTOCOL, "%s failed", what);
}

// Runs a toolkit call until it completes, waiting for the socket as it asks.
template <typename Step>
int Drive(KovTlsConn* conn, int timeoutMs, const char* what, Step step)
{
    NonBlocking nb(conn->fd);
    if (!nb.ok())
        return Fail(KOVTLS_E_IO, "%s: the socket is not usable: %s", what, std::strerror(errno));
    const long long deadline = timeoutMs < 0 ? -1 : NowMs() + timeoutMs;
    for (;;) {
        ERR_clear_error();
        errno = 0;
        const int r = step();
        if (r > 0)
            return KOVTLS_OK;
        const int e = SSL_get_error(conn->ssl, r);
        if (e != SSL_ERROR_WANT_READ && e != SSL_ERROR_WANT_WRITE)
            return Failure(conn, e, what);
        const int rc = Wait(conn, e, deadline);
        if (rc != KOVTLS_OK)
            return rc;
    }
}

bool IsIpAddress(const char* host)
{
    ASN1_OCTET_STRING* ip = a2i_IPADDRESS(host);
    ASN1_OCTET_STRING_free(ip);
    ERR_clear_error();
    return ip != nullptr;
}

}  // namespace

extern "C" {

int kovtls_cred_open(const char* pse, uint32_t pseLen, const char* pin, uint32_t pinLen, KovTlsCred** cred)
{
    BeginCall();
    if (cred == nullptr)
        return Fail(KOVTLS_E_ARG, "kovtls_cred_open: no output given");
    *cred = nullptr;
    Pse store;
    if (pse != nullptr && pseLen != 0 && OpenPse(pse, pseLen, pin, pinLen, false, &store) != SSF_API_OK)
        return Recode(KOVTLS_E_PSE);
    auto* c = new (std::nothrow) KovTlsCred;
    if (c == nullptr || (c->ctx = SSL_CTX_new(TLS_client_method())) == nullptr) {
        delete c;
        return Fail(KOVTLS_E_NOMEM, "out of memory for TLS credentials");
    }
    SSL_CTX_set_min_proto_version(c->ctx, TLS1_2_VERSION);
    // The end of the peer's data is its closing of the connection, also
    // without a close notification; the data's own framing tells whether
    // all of it came.
    SSL_CTX_set_options(c->ctx, SSL_OP_IGNORE_UNEXPECTED_EOF);
    SSL_CTX_set_mode(c->ctx, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    AddTrustAnchors(SSL_CTX_get_cert_store(c->ctx), store);
    bool ok = true;
    if (store.key && store.cert) {
        ok = SSL_CTX_use_certificate(c->ctx, store.cert.get()) == 1 &&
             SSL_CTX_use_PrivateKey(c->ctx, store.key.get()) == 1;
        for (int i = 0; ok && store.others && i < sk_X509_num(store.others.get()); ++i)
            ok = SSL_CTX_add1_chain_cert(c->ctx, sk_X509_value(store.others.get(), i)) == 1;
    }
    if (!ok) {
        kovtls_cred_free(&c);
        return Fail(KOVTLS_E_PSE, "the key and certificate of the PSE cannot be used for TLS");
    }
    *cred = c;
    return KOVTLS_OK;
}

void kovtls_cred_free(KovTlsCred** cred)
{
    if (cred == nullptr || *cred == nullptr)
        return;
    SSL_CTX_free((*cred)->ctx);
    delete *cred;
    *cred = nullptr;
}

int kovtls_conn_new(KovTlsCred* cred, int socket, const char* host, unsigned flags, KovTlsConn** conn)
{
    BeginCall();
    if (conn == nullptr || cred == nullptr || socket < 0 || ((flags & KOVTLS_CHECK_HOSTNAME) && host == nullptr))
        return Fail(KOVTLS_E_ARG, "kovtls_conn_new: no credentials, socket, host or output given");
    *conn = nullptr;
    auto* c = new (std::nothrow) KovTlsConn;
    if (c == nullptr || (c->ssl = SSL_new(cred->ctx)) == nullptr) {
        delete c;
        return Fail(KOVTLS_E_NOMEM, "out of memory for a TLS connection");
    }
    c->fd = socket;
    // SSL_set_fd leaves the socket open when the connection is freed.
    bool ok = SSL_set_fd(c->ssl, socket) == 1;
    if (ok && host != nullptr && *host != '\0' && !IsIpAddress(host))
        ok = SSL_set_tlsext_host_name(c->ssl, host) == 1;
    if (ok && (flags & KOVTLS_CHECK_HOSTNAME)) {
        X509_VERIFY_PARAM* param = SSL_get0_param(c->ssl);
        ok = IsIpAddress(host) ? X509_VERIFY_PARAM_set1_ip_asc(param, host) == 1 : SSL_set1_host(c->ssl, host) == 1;
    }
    SSL_set_verify(c->ssl, (flags & (KOVTLS_VERIFY_PEER | KOVTLS_CHECK_HOSTNAME)) ? SSL_VERIFY_PEER : SSL_VERIFY_NONE,
                   nullptr);
    if (!(flags & KOVTLS_SEND_CERT))
        SSL_certs_clear(c->ssl);
    if (!ok) {
        kovtls_conn_free(&c);
        return Fail(KOVTLS_E_ARG, "the TLS connection cannot be set up for host \"%s\"", host != nullptr ? host : "");
    }
    SSL_set_connect_state(c->ssl);
    *conn = c;
    return KOVTLS_OK;
}

int kovtls_handshake(KovTlsConn* conn, int timeoutMs)
{
    BeginCall();
    if (conn == nullptr)
        return Fail(KOVTLS_E_ARG, "kovtls_handshake: no connection given");
    return Drive(conn, timeoutMs, "TLS handshake", [&] { return SSL_connect(conn->ssl); });
}

int kovtls_write(KovTlsConn* conn, const void* data, uint32_t length, int timeoutMs, uint32_t* written)
{
    BeginCall();
    if (written != nullptr)
        *written = 0;
    if (conn == nullptr || (data == nullptr && length != 0))
        return Fail(KOVTLS_E_ARG, "kovtls_write: no connection or no data given");
    uint32_t done = 0;
    const int rc = Drive(conn, timeoutMs, "TLS write", [&] {
        while (done < length) {
            std::size_t n = 0;
            const int r = SSL_write_ex(conn->ssl, static_cast<const char*>(data) + done, length - done, &n);
            if (r <= 0)
                return r;
            done += static_cast<uint32_t>(n);
        }
        return 1;
    });
    if (written != nullptr)
        *written = done;
    return rc;
}

int kovtls_read(KovTlsConn* conn, void* buffer, uint32_t capacity, int timeoutMs, uint32_t* got)
{
    BeginCall();
    if (got != nullptr)
        *got = 0;
    if (conn == nullptr || buffer == nullptr || capacity == 0 || got == nullptr)
        return Fail(KOVTLS_E_ARG, "kovtls_read: no connection, buffer or output given");
    std::size_t n = 0;
    const int rc = Drive(conn, timeoutMs, "TLS read", [&] { return SSL_read_ex(conn->ssl, buffer, capacity, &n); });
    *got = static_cast<uint32_t>(n);
    return rc;
}

void kovtls_conn_free(KovTlsConn** conn)
{
    if (conn == nullptr || *conn == nullptr)
        return;
    if (SSL_is_init_finished((*conn)->ssl)) {
        // One try at a close notification, without waiting for the peer.
        NonBlocking nb((*conn)->fd);
        SSL_shutdown((*conn)->ssl);
    }
    SSL_free((*conn)->ssl);
    delete *conn;
    *conn = nullptr;
    ERR_clear_error();
}

}  // extern "C"
