// Readiness checks, completion of a non-blocking connect, passing an open
// socket to another process, the descriptor limit and the layer's start-up.
// These are the socket operations that write trace lines of their own.
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>

#include "si/si.h"
#include "si/sipriv.h"

namespace {

#define SI_TRC_ERR(level, ...) SI_TRACE("siux", level, SiTrc::Err, __VA_ARGS__)
#define SI_TRC_ERRNO(level, ...) SI_TRACE("siux", level, SiTrc::Errno, __VA_ARGS__)
#define SI_TRC(level, ...) SI_TRACE("siux", level, SiTrc::Plain, __VA_ARGS__)
#define SI_TRC_DETAIL(...) SI_TRACE("siux", 3, SiTrc::Plain, __VA_ARGS__)

constexpr uint32_t kInfoLen = 15;  // socket-information block on the wire
constexpr int kMaxPassedFds = 16;  // descriptors one message may bring before it counts as cut

// Polls one entry of a socket, its system error left in the record.
int32_t PollOne(SI_SOCK* s, pollfd* pfd, int32_t timeoutMs, const char* name, uint32_t* ready)
{
    return SiPollRetry("siux", name, pfd, 1, timeoutMs, ready, &s->lastError);
}

void PutBe32(uint8_t* p, int32_t v)
{
    const uint32_t u = static_cast<uint32_t>(v);
    p[0] = static_cast<uint8_t>(u >> 24);
    p[1] = static_cast<uint8_t>(u >> 16);
    p[2] = static_cast<uint8_t>(u >> 8);
    p[3] = static_cast<uint8_t>(u);
}

int32_t GetBe32(const uint8_t* p)
{
    return static_cast<int32_t>((uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) |
                                uint32_t{p[3]});
}

const char* OrDash(const char* s)
{
    return s != nullptr ? s : "-";
}

// Descriptors that arrived with one message, in order.
struct Received {
    int fd[kMaxPassedFds];
    int n = 0;
    void CloseFrom(int first)
    {
        for (int i = first; i < n; ++i)
            close(fd[i]);
        n = first < n ? first : n;
    }
};

}  // namespace

int32_t SiPeek(SI_SOCK* s, uint8_t mode, int32_t timeoutMs)
{
    static const char* const kName = "SiPeek";
    pollfd pfd{s->sock, 0, 0};
    if ((mode & SI_PEEK_RD) != 0)
        pfd.events |= SI_POLLIN | SI_POLLPRI;
    if ((mode & SI_PEEK_WR) != 0)
        pfd.events |= SI_POLLOUT;
    uint32_t ready = 0;
    const int32_t rc = PollOne(s, &pfd, timeoutMs, kName, &ready);
    if (rc != SI_OK) {
        char text[256];
        SI_TRC_ERR(1, "%s: SiPoll failed for sock %d (%d-%s)\n", kName, s->sock, s->lastError,
                   SiErrnoText(s->lastError, text, sizeof text));
        return SI_ESYSCALL;
    }
    if (ready == 0)
        return SI_ETIMEOUT;
    if ((pfd.revents & SI_POLLNVAL) != 0)
        return SI_EINVAL_SOCK;
    if ((pfd.revents & SI_POLLHUP) != 0) {
        SI_TRC(2, "%s: hang up occurred in sock %d\n", kName, s->sock);
        return SI_EINVAL;
    }
    if ((pfd.revents & SI_POLLERR) != 0) {
        SI_TRC(2, "%s: an error occurred in sock %d\n", kName, s->sock);
        return SI_EINTERN;
    }
    return SI_OK;
}

int32_t SiPeekPendConn(SI_SOCK* s, int32_t timeoutMs)
{
    static const char* const kName = "SiPeekPendConn";
    char text[256];
    pollfd pfd{s->sock, SI_POLLOUT, 0};
    uint32_t ready = 0;
    int32_t rc = PollOne(s, &pfd, timeoutMs, kName, &ready);
    if (rc != SI_OK) {
        SI_TRC_ERR(1, "%s: SiPoll failed for sock %d (%d-%s)\n", kName, s->sock, s->lastError,
                   SiErrnoText(s->lastError, text, sizeof text));
        return SI_ESYSCALL;
    }
    if (ready == 0) {
        SI_TRC_DETAIL("%s: SiPoll timed out for sock %d (%dms)\n", kName, s->sock, timeoutMs);
        return SI_ETIMEOUT;
    }
    if ((pfd.revents & SI_POLLNVAL) != 0)
        return SI_EINVAL_SOCK;

    // Hang-up and error events are not examined: the pending error decides.
    SI_OPT_VAL v{&s->lastError, sizeof s->lastError, nullptr, 0};
    do {
        rc = SiGetSockOpt(s, SI_SOL_SOCKET, SO_ERROR, &v);
    } while (rc == SI_EINTR);
    if (rc == SI_ESYSCALL) {
        SI_TRC_ERR(1, "%s: SiGetSockOpt failed for sock %d(%d-%s)\n", kName, s->sock, s->lastError,
                   SiErrnoText(s->lastError, text, sizeof text));
        return SI_ESYSCALL;
    }
    if (rc != SI_OK)
        return rc;
    if (s->lastError == 0) {
        SI_TRC_DETAIL("%s: connection of sock %d established\n", kName, s->sock);
        return SI_OK;
    }
    SI_TRC_DETAIL("%s: connection of sock %d broken (%d-%s)\n", kName, s->sock, s->lastError,
                  SiErrnoText(s->lastError, text, sizeof text));
    return s->lastError == EADDRINUSE ? SI_EPORT_INUSE : SI_ECONN_REFUSE;
}

int32_t SiSendSocket(SI_SOCK* uds, const SI_SOCK* passed)
{
    static const char* const kName = "SiSendSocket";
    uint8_t info[kInfoLen] = {0, 0, 0, 0, 0, kInfoLen, 0};
    PutBe32(info + 7, passed->family);
    PutBe32(info + 11, passed->type);
    iovec io{info, sizeof info};
    alignas(cmsghdr) uint8_t control[CMSG_SPACE(sizeof(int))] = {};
    msghdr mh{};
    mh.msg_iov = &io;
    mh.msg_iovlen = 1;
    mh.msg_control = control;
    mh.msg_controllen = sizeof control;
    cmsghdr* cm = CMSG_FIRSTHDR(&mh);
    cm->cmsg_level = SOL_SOCKET;
    cm->cmsg_type = SCM_RIGHTS;
    cm->cmsg_len = CMSG_LEN(sizeof(int));
    std::memcpy(CMSG_DATA(cm), &passed->sock, sizeof(int));

    const ssize_t n = sendmsg(uds->sock, &mh, 0);
    if (n < 0) {
        const int e = errno;
        uds->lastError = e;
        if (e == EBADF || e == ENOTSOCK)
            return SI_EINVAL_SOCK;
        if (e == EINTR)
            return SI_EINTR;
        if (e == EPIPE)
            return SI_ECONN_BROKEN;
        return SI_ESYSCALL;
    }
    if (n != static_cast<ssize_t>(kInfoLen)) {
        SI_TRC_ERR(1, "%s: invalid sent data length (%d<>%u)\n", kName, static_cast<int>(n), kInfoLen);
        uds->lastError = SI_ERR_INTERNAL;
        return SI_EINTERN;
    }
    return SI_OK;
}

int32_t SiRecvSocket(SI_SOCK* uds, SI_SOCK* rec)
{
    static const char* const kName = "SiRecvSocket";
    uint8_t info[kInfoLen];
    iovec io{info, sizeof info};
    // Room for more descriptors than one: a sender that passes several is
    // refused, and none of them may be left open here.
    alignas(cmsghdr) uint8_t control[CMSG_SPACE(sizeof(int) * kMaxPassedFds)];
    msghdr mh{};
    mh.msg_iov = &io;
    mh.msg_iovlen = 1;
    mh.msg_control = control;
    mh.msg_controllen = sizeof control;
    const ssize_t n = recvmsg(uds->sock, &mh, 0);
    if (n < 0) {
        const int e = errno;
        uds->lastError = e;
        if (e == EAGAIN)
            return SI_ETIMEOUT;
        if (e == EINTR)
            return SI_EINTR;
        if (e == EBADF || e == ENOTSOCK)
            return SI_EINVAL_SOCK;
        if (e == ENOTCONN)
            return SI_EINVAL;
        if (e == EPIPE)
            return SI_ECONN_BROKEN;
        return SI_ESYSCALL;
    }

    // Take every descriptor that arrived, so that none is left open on a refusal.
    Received got;
    cmsghdr* first = CMSG_FIRSTHDR(&mh);
    for (cmsghdr* cm = first; cm != nullptr; cm = CMSG_NXTHDR(&mh, cm)) {
        if (cm->cmsg_level != SOL_SOCKET || cm->cmsg_type != SCM_RIGHTS)
            continue;
        const size_t count = (cm->cmsg_len - CMSG_LEN(0)) / sizeof(int);
        for (size_t i = 0; i < count; ++i) {
            int fd;
            std::memcpy(&fd, CMSG_DATA(cm) + i * sizeof(int), sizeof(int));
            if (got.n < kMaxPassedFds)
                got.fd[got.n++] = fd;
            else
                close(fd);
        }
    }

    auto refuse = [&]() {
        got.CloseFrom(0);
        uds->lastError = SI_ERR_INTERNAL;
        return SI_EINTERN;
    };
    if (n != static_cast<ssize_t>(kInfoLen)) {
        SI_TRC_ERR(1, "%s: invalid received data length (%d<>%u)\n", kName, static_cast<int>(n), kInfoLen);
        return refuse();
    }
    if ((mh.msg_flags & MSG_CTRUNC) != 0 || mh.msg_controllen < CMSG_LEN(sizeof(int)) || first == nullptr ||
        first->cmsg_len != CMSG_LEN(sizeof(int))) {
        SI_TRC_ERR(1, "%s: no valid message received\n", kName);
        return refuse();
    }
    if (first->cmsg_level != SOL_SOCKET || first->cmsg_type != SCM_RIGHTS || got.n == 0) {
        SI_TRC_ERR(1, "%s: no valid descriptor received\n", kName);
        return refuse();
    }
    got.CloseFrom(1);  // those of further control messages

    *rec = SI_SOCK{got.fd[0], GetBe32(info + 7), GetBe32(info + 11), 0};
    const uint32_t blockLen = (uint32_t{info[4]} << 8) | info[5];
    if (blockLen > kInfoLen) {
        SI_TRC(2, "%s: longer socket info received (version %u)\n", kName, unsigned{info[6]});
        const uint32_t extra = blockLen - kInfoLen;
        void* buf = std::malloc(extra);
        int32_t rc = SI_OK;
        uint32_t count = 0;
        if (buf == nullptr) {
            SI_TRC_ERR(1, "%s: failed to allocate SI_RAW[%u]\n", kName, extra);
        } else if ((rc = SiRecv(uds, buf, extra, 0, &count)) != SI_OK) {
            SI_TRC_ERR(1, "%s: SiRecv failed (rc=%d)\n", kName, rc);
        } else if (count != extra) {
            SI_TRC_ERR(1, "%s: invalid socket info received (%u<>%u)\n", kName, count, extra);
        }
        std::free(buf);
        if (buf == nullptr || rc != SI_OK || count != extra) {
            SiClose(rec);
            uds->lastError = SI_ERR_INTERNAL;
            return SI_EINTERN;
        }
    }
    SI_TRC(2, "%s: received sock %d (%s, %s)\n", kName, rec->sock, OrDash(SiFamilyName(rec)), OrDash(SiTypeName(rec)));
    return SI_OK;
}

int32_t SiGetMaxSockets(uint32_t limit)
{
    static const char* const kName = "SiGetMaxSockets";
    const int32_t sys = static_cast<int32_t>(sysconf(_SC_OPEN_MAX));
    if (sys >= 0)
        return sys;
    SI_TRC_ERRNO(1, "%s: sysconf(_SC_OPEN_MAX) failed; use iteration\n", kName);
    const size_t bytes = sizeof(SI_SOCK) * size_t{limit};
    auto* socks = static_cast<SI_SOCK*>(std::malloc(bytes != 0 ? bytes : 1));
    if (socks == nullptr) {
        SI_TRC_ERRNO(1, "%s: malloc failed for %d bytes (%d)\n", kName, static_cast<int>(bytes),
                     static_cast<int>(limit));
        return -1;
    }
    uint32_t opened = 0;
    while (opened < limit && SiSocketIPv4(SI_SOCK_STREAM, &socks[opened]) == SI_OK)
        ++opened;
    for (uint32_t i = 0; i < opened; ++i)
        SiClose(&socks[i]);
    std::free(socks);
    return static_cast<int32_t>(opened);
}

int32_t SiInit(int32_t* err)
{
    static bool started = false;
    if (started)
        return SI_OK;
    started = true;
    // A send to a peer that has closed then fails with EPIPE instead of ending
    // the process.
    struct sigaction sa;
    if (sigaction(SIGPIPE, nullptr, &sa) == 0) {
        sa.sa_handler = SIG_IGN;
        if (sigaction(SIGPIPE, &sa, nullptr) == 0)
            return SI_OK;
    }
    if (err != nullptr)
        *err = errno;
    started = false;
    return SI_ESYSCALL;
}
