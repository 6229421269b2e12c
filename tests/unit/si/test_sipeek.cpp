// Readiness checks, non-blocking connect completion and descriptor passing on
// loopback and socketpairs, including senders that break the protocol: every
// descriptor that arrives is either handed out once or closed.
#include <gtest/gtest.h>
#include <dirent.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "si/si.h"
#include "trace/dptrc.h"

namespace {

const uint8_t kLoop4[4] = {127, 0, 0, 1};

int OpenFds()
{
    int n = 0;
    DIR* d = opendir("/proc/self/fd");
    while (readdir(d) != nullptr)
        ++n;
    closedir(d);
    return n;
}

struct UnixPair {
    SI_SOCK a{}, b{};
    UnixPair()
    {
        int sv[2];
        EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, sv), 0);
        a = SI_SOCK{sv[0], SI_AF_UNIX, SI_SOCK_STREAM, 0};
        b = SI_SOCK{sv[1], SI_AF_UNIX, SI_SOCK_STREAM, 0};
    }
    ~UnixPair()
    {
        if (a.sock >= 0)
            close(a.sock);
        if (b.sock >= 0)
            close(b.sock);
    }
};

// Sends data with the given descriptors attached, the way a foreign sender
// might.
void SendRaw(int sock, const void* data, size_t len, const std::vector<int>& fds)
{
    iovec io{const_cast<void*>(data), len};
    std::vector<uint8_t> control(CMSG_SPACE(sizeof(int) * (fds.empty() ? 1 : fds.size())));
    msghdr mh{};
    mh.msg_iov = &io;
    mh.msg_iovlen = 1;
    if (!fds.empty()) {
        mh.msg_control = control.data();
        mh.msg_controllen = CMSG_SPACE(sizeof(int) * fds.size());
        cmsghdr* cm = CMSG_FIRSTHDR(&mh);
        ASSERT_NE(cm, nullptr);
        cm->cmsg_level = SOL_SOCKET;
        cm->cmsg_type = SCM_RIGHTS;
        cm->cmsg_len = CMSG_LEN(sizeof(int) * fds.size());
        std::memcpy(CMSG_DATA(cm), fds.data(), sizeof(int) * fds.size());
    }
    ASSERT_EQ(sendmsg(sock, &mh, 0), static_cast<ssize_t>(len));
}

const uint8_t kInfoStream4[15] = {0, 0, 0, 0, 0, 15, 0, 0, 0, 0, 2, 0, 0, 0, 1};

TEST(SiPeek, ReadinessTimeoutHangUpAndInvalidDescriptor)
{
    UnixPair p;
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(SiPeek(&p.a, SI_PEEK_RD, 50), SI_ETIMEOUT);
    EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(40));
    EXPECT_EQ(SiPeek(&p.a, SI_PEEK_WR, 0), SI_OK);
    ASSERT_EQ(write(p.b.sock, "x", 1), 1);
    EXPECT_EQ(SiPeek(&p.a, SI_PEEK_RD, 1000), SI_OK);
    EXPECT_EQ(SiPeek(&p.a, 0, 20), SI_ETIMEOUT);  // no events asked for

    // Data waiting and the peer gone: the hang-up wins.
    close(p.b.sock);
    p.b.sock = -1;
    EXPECT_EQ(SiPeek(&p.a, SI_PEEK_RD, 1000), SI_EINVAL);

    int closed = dup(p.a.sock);
    close(closed);
    SI_SOCK gone{closed, SI_AF_UNIX, SI_SOCK_STREAM, 0};
    EXPECT_EQ(SiPeek(&gone, SI_PEEK_RD, 1000), SI_EINVAL_SOCK);
}

// A connect whose SYN is never answered (the listener's queue is full) times
// out: poll reports hang-up and error together, and the hang-up must win
// (SI_EINVAL, not SI_EINTERN); a receive then fails with ETIMEDOUT, which
// counts as a broken connection, not as a system-call failure.
TEST(SiPeek, TimedOutConnectIsAHangUpAndABrokenConnection)
{
    SI_SOCK l, first, c;
    ASSERT_EQ(SiSocketIPv4(SI_SOCK_STREAM, &l), SI_OK);
    ASSERT_EQ(SiBind(&l, kLoop4, 4, nullptr), SI_OK);
    ASSERT_EQ(listen(l.sock, 0), 0);  // room for one connection, not two
    uint16_t port;
    ASSERT_EQ(SiGetSockName(&l, nullptr, 0, &port), SI_OK);
    ASSERT_EQ(SiSocketIPv4(SI_SOCK_STREAM, &first), SI_OK);
    ASSERT_EQ(SiConnect(&first, kLoop4, 4, &port), SI_OK);

    ASSERT_EQ(SiSocketIPv4(SI_SOCK_STREAM, &c), SI_OK);
    const int userTimeoutMs = 100;
    ASSERT_EQ(setsockopt(c.sock, IPPROTO_TCP, TCP_USER_TIMEOUT, &userTimeoutMs, sizeof userTimeoutMs), 0);
    ASSERT_EQ(SiSetBlockMode(&c, 0), SI_OK);
    ASSERT_EQ(SiConnect(&c, kLoop4, 4, &port), SI_ECONN_INPROG);
    EXPECT_EQ(SiPeek(&c, SI_PEEK_RD, 10000), SI_EINVAL);
    char buf[4];
    uint32_t n = 0;
    EXPECT_EQ(SiRecv(&c, buf, sizeof buf, 0, &n), SI_ECONN_BROKEN);
    EXPECT_EQ(c.lastError, ETIMEDOUT);
    SiClose(&c);
    SiClose(&first);
    SiClose(&l);
}

TEST(SiPeek, PendingConnectEstablishedAndRefused)
{
    SI_SOCK l, c;
    ASSERT_EQ(SiSocketIPv4(SI_SOCK_STREAM, &l), SI_OK);
    ASSERT_EQ(SiBind(&l, kLoop4, 4, nullptr), SI_OK);
    ASSERT_EQ(SiListen(&l, 4), SI_OK);
    uint16_t port;
    ASSERT_EQ(SiGetSockName(&l, nullptr, 0, &port), SI_OK);

    ASSERT_EQ(SiSocketIPv4(SI_SOCK_STREAM, &c), SI_OK);
    ASSERT_EQ(SiSetBlockMode(&c, 0), SI_OK);
    int32_t rc = SiConnect(&c, kLoop4, 4, &port);
    if (rc == SI_ECONN_INPROG)
        rc = SiPeekPendConn(&c, 2000);
    EXPECT_EQ(rc, SI_OK);
    EXPECT_EQ(c.lastError, 0);
    SiClose(&c);
    SiClose(&l);  // the port is free again: nobody listens there now

    ASSERT_EQ(SiSocketIPv4(SI_SOCK_STREAM, &c), SI_OK);
    ASSERT_EQ(SiSetBlockMode(&c, 0), SI_OK);
    rc = SiConnect(&c, kLoop4, 4, &port);
    if (rc == SI_ECONN_INPROG)
        rc = SiPeekPendConn(&c, 2000);
    EXPECT_EQ(rc, SI_ECONN_REFUSE);
    EXPECT_EQ(c.lastError, ECONNREFUSED);
    SiClose(&c);
}

TEST(SiPassing, DescriptorTravelsAndStaysUsable)
{
    UnixPair p;
    int tp[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, tp), 0);
    SI_SOCK passed{tp[0], SI_AF_INET6, SI_SOCK_STREAM, 0};

    // The wire block first, read raw.
    ASSERT_EQ(SiSendSocket(&p.a, &passed), SI_OK);
    uint8_t block[32];
    alignas(cmsghdr) uint8_t control[64];
    iovec io{block, sizeof block};
    msghdr mh{};
    mh.msg_iov = &io;
    mh.msg_iovlen = 1;
    mh.msg_control = control;
    mh.msg_controllen = sizeof control;
    ASSERT_EQ(recvmsg(p.b.sock, &mh, 0), 15);
    const uint8_t want[15] = {0, 0, 0, 0, 0, 15, 0, 0, 0, 0, 10, 0, 0, 0, 1};
    EXPECT_EQ(std::memcmp(block, want, 15), 0);
    int raw;
    std::memcpy(&raw, CMSG_DATA(CMSG_FIRSTHDR(&mh)), sizeof raw);
    close(raw);

    // Then through the receiver: the new descriptor reaches the same socket.
    ASSERT_EQ(SiSendSocket(&p.a, &passed), SI_OK);
    SI_SOCK got{-1, 0, 0, 99};
    ASSERT_EQ(SiRecvSocket(&p.b, &got), SI_OK);
    EXPECT_EQ(got.family, SI_AF_INET6);
    EXPECT_EQ(got.type, SI_SOCK_STREAM);
    EXPECT_EQ(got.lastError, 0);
    EXPECT_NE(got.sock, tp[0]);
    ASSERT_EQ(write(got.sock, "via", 3), 3);
    char buf[4] = {};
    ASSERT_EQ(read(tp[1], buf, 3), 3);
    EXPECT_STREQ(buf, "via");
    close(got.sock);
    close(tp[0]);
    close(tp[1]);
}

TEST(SiPassing, HostileSendersLeaveNoDescriptorOpen)
{
    UnixPair p;
    int spare[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, spare), 0);
    const int base = OpenFds();
    SI_SOCK got{};

    // Several descriptors where one was asked for: refused, all of them
    // closed (the first was handed out).
    for (size_t count = 2; count <= 16; ++count) {
        SendRaw(p.a.sock, kInfoStream4, 15, std::vector<int>(count, spare[count % 2]));
        EXPECT_EQ(SiRecvSocket(&p.b, &got), SI_EINTERN) << count;
        EXPECT_EQ(p.b.lastError, SI_ERR_INTERNAL);
        EXPECT_EQ(OpenFds(), base) << count;
    }

    // More than the receiver has room for: the message is cut, refused, and
    // what did arrive is closed.
    std::vector<int> many(40, spare[0]);
    SendRaw(p.a.sock, kInfoStream4, 15, many);
    EXPECT_EQ(SiRecvSocket(&p.b, &got), SI_EINTERN);
    EXPECT_EQ(p.b.lastError, SI_ERR_INTERNAL);
    EXPECT_EQ(OpenFds(), base);

    // A block of the wrong size with a descriptor attached.
    SendRaw(p.a.sock, kInfoStream4, 10, {spare[0]});
    EXPECT_EQ(SiRecvSocket(&p.b, &got), SI_EINTERN);
    EXPECT_EQ(OpenFds(), base);

    // A block without any descriptor.
    SendRaw(p.a.sock, kInfoStream4, 15, {});
    EXPECT_EQ(SiRecvSocket(&p.b, &got), SI_EINTERN);

    // A longer block: its extra bytes are read and dropped, the stream goes on.
    uint8_t longer[20 + 3];
    std::memcpy(longer, kInfoStream4, 15);
    longer[5] = 20;
    std::memcpy(longer + 15, "extraABC", 8);
    SendRaw(p.a.sock, longer, sizeof longer, {spare[0]});
    ASSERT_EQ(SiRecvSocket(&p.b, &got), SI_OK);
    close(got.sock);
    char rest[3];
    ASSERT_EQ(read(p.b.sock, rest, 3), 3);
    EXPECT_EQ(std::memcmp(rest, "ABC", 3), 0);
    EXPECT_EQ(OpenFds(), base);

    // A longer block whose extra bytes never come (the peer closes): refused,
    // the received descriptor closed.
    longer[5] = 40;
    SendRaw(p.a.sock, longer, 20, {spare[0]});
    close(p.a.sock);
    p.a.sock = -1;
    EXPECT_EQ(SiRecvSocket(&p.b, &got), SI_EINTERN);
    EXPECT_EQ(OpenFds(), base - 1);

    // The peer has gone: nothing received.
    EXPECT_EQ(SiRecvSocket(&p.b, &got), SI_EINTERN);
    EXPECT_EQ(p.b.lastError, SI_ERR_INTERNAL);
    close(spare[0]);
    close(spare[1]);
}

TEST(SiStartUp, SigpipeIgnoredAndLimitReported)
{
    int32_t err = 0;
    ASSERT_EQ(SiInit(&err), SI_OK);
    ASSERT_EQ(SiInit(nullptr), SI_OK);
    struct sigaction sa;
    ASSERT_EQ(sigaction(SIGPIPE, nullptr, &sa), 0);
    EXPECT_EQ(sa.sa_handler, SIG_IGN);
    EXPECT_EQ(SiGetMaxSockets(10), static_cast<int32_t>(sysconf(_SC_OPEN_MAX)));
    EXPECT_EQ(SiExit(), SI_OK);
}

TEST(SiTexts, ErrnoTextsStayInsideTheirBuffer)
{
    char buf[32];
    std::memset(buf, 'X', sizeof buf);
    SiErrnoText(SI_ERR_INTERNAL, buf, 20);
    EXPECT_EQ(std::strlen(buf), 19u);
    EXPECT_EQ(std::strncmp(buf, "unexpected value re", 19), 0);
    EXPECT_EQ(buf[20], 'X');
    EXPECT_STREQ(SiErrnoText(SI_ERR_FAMILY, buf, sizeof buf), "protocol family not supported");
    EXPECT_STREQ(SiErrnoText(ECONNREFUSED, buf, sizeof buf), std::strerror(ECONNREFUSED));
    // A zero-sized buffer is not written at all.
    std::memset(buf, 'X', sizeof buf);
    EXPECT_STREQ(SiErrnoText(EPIPE, buf + 1, 0), "");
    EXPECT_STREQ(SiErrnoText(SI_ERR_OPTION, buf + 1, 0), "");
    EXPECT_EQ(buf[0], 'X');
    EXPECT_EQ(buf[1], 'X');
}

TEST(SiTexts, TraceLinesOfAFailedConnect)
{
    FILE* f = tmpfile();
    ASSERT_NE(f, nullptr);
    tf = f;
    ct_level = 3;
    SI_SOCK c;
    ASSERT_EQ(SiSocketIPv4(SI_SOCK_STREAM, &c), SI_OK);
    uint16_t port;
    {  // a port that nobody listens on any more
        SI_SOCK l;
        ASSERT_EQ(SiSocketIPv4(SI_SOCK_STREAM, &l), SI_OK);
        ASSERT_EQ(SiBind(&l, kLoop4, 4, nullptr), SI_OK);
        ASSERT_EQ(SiGetSockName(&l, nullptr, 0, &port), SI_OK);
        SiClose(&l);
    }
    ASSERT_EQ(SiSetBlockMode(&c, 0), SI_OK);
    int32_t rc = SiConnect(&c, kLoop4, 4, &port);
    if (rc == SI_ECONN_INPROG)
        rc = SiPeekPendConn(&c, 2000);
    ASSERT_EQ(rc, SI_ECONN_REFUSE);
    SiTraceSockError(&c);
    SiTraceInfo();
    ct_level = 0;
    tf = nullptr;

    std::string text;
    rewind(f);
    char line[512];
    while (fgets(line, sizeof line, f) != nullptr)
        text += line;
    fclose(f);
    const std::string sock = std::to_string(c.sock);
    const std::string refused = std::to_string(ECONNREFUSED) + "-" + std::strerror(ECONNREFUSED);
    if (text.find("SiPeekPendConn") != std::string::npos) {  // only when the connect was pending
        EXPECT_NE(text.find("SiPeekPendConn: connection of sock " + sock + " broken (" + refused + ")"),
                  std::string::npos)
            << text;
    }
    EXPECT_NE(text.find("*** ERROR => Error: sock " + sock + "; error " + std::to_string(ECONNREFUSED) + " (" +
                        std::strerror(ECONNREFUSED) + ")"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("[sixx"), std::string::npos) << text;
    EXPECT_NE(text.find("Component name    : SI (socket interface)\n"), std::string::npos);
    EXPECT_NE(text.find("sizeof(fd_set)    : 128\n\n"), std::string::npos);
    SiClose(&c);
}

}  // namespace
