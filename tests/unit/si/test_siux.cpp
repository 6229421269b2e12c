// Socket call wrappers on the loopback address: a real listener, connection,
// transfer and peer close; address and option checks that must refuse before
// any system call (shown with descriptor -1, which the system would report
// as EBADF); the kernel as the oracle for option round trips.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <string>

#include "si/si.h"
#include "tests/unit/scratch_dir.h"

namespace {

const uint8_t kLoop4[4] = {127, 0, 0, 1};

// A TCP listener on 127.0.0.1 with a kernel-chosen port.
struct Listener {
    SI_SOCK s{};
    uint16_t port = 0;  // network order
    Listener()
    {
        EXPECT_EQ(SiSocketIPv4(SI_SOCK_STREAM, &s), SI_OK);
        EXPECT_EQ(SiBind(&s, kLoop4, 4, nullptr), SI_OK);
        EXPECT_EQ(SiListen(&s, 8), SI_OK);
        EXPECT_EQ(SiGetSockName(&s, nullptr, 0, &port), SI_OK);
    }
    ~Listener() { SiClose(&s); }
};

// A connected pair of loopback TCP sockets.
struct Pair {
    Listener l;
    SI_SOCK client{}, server{};
    Pair()
    {
        EXPECT_EQ(SiSocketIPv4(SI_SOCK_STREAM, &client), SI_OK);
        EXPECT_EQ(SiConnect(&client, kLoop4, 4, &l.port), SI_OK);
        uint8_t peer[4] = {};
        uint16_t peerPort = 0, clientPort = 0;
        EXPECT_EQ(SiAccept(&l.s, peer, sizeof peer, &peerPort, &server), SI_OK);
        EXPECT_EQ(std::memcmp(peer, kLoop4, 4), 0);
        EXPECT_EQ(SiGetSockName(&client, nullptr, 0, &clientPort), SI_OK);
        EXPECT_EQ(peerPort, clientPort);
    }
    ~Pair()
    {
        SiClose(&client);
        SiClose(&server);
    }
};

TEST(SiWrappers, LoopbackTransferAndPeerClose)
{
    signal(SIGPIPE, SIG_IGN);
    Pair p;
    EXPECT_EQ(p.server.family, SI_AF_INET);
    EXPECT_EQ(p.server.type, SI_SOCK_STREAM);
    EXPECT_EQ(p.server.lastError, 0);

    char a[] = "hello ", b[] = "world";
    iovec out[2] = {{a, 6}, {b, 5}};
    uint32_t n = 0;
    ASSERT_EQ(SiSendV(&p.client, out, 2, &n), SI_OK);
    EXPECT_EQ(n, 11u);
    pollfd pfd{p.server.sock, POLLIN, 0};
    uint32_t ready = 0;
    ASSERT_EQ(SiPoll(&pfd, 1, 2000, &ready, nullptr), SI_OK);
    ASSERT_EQ(ready, 1u);
    uint32_t pending = 0;
    ASSERT_EQ(SiGetPendDataLen(&p.server, &pending), SI_OK);
    EXPECT_EQ(pending, 11u);

    char buf[32] = {};
    ASSERT_EQ(SiRecv(&p.server, buf, 5, SI_MSG_PEEK, &n), SI_OK);
    EXPECT_EQ(std::string(buf, n), "hello");
    char x[4], y[16] = {};
    iovec in[2] = {{x, 4}, {y, sizeof y}};
    ASSERT_EQ(SiRecvV(&p.server, in, 2, &n), SI_OK);
    EXPECT_EQ(n, 11u);
    EXPECT_EQ(std::string(x, 4) + std::string(y, 7), "hello world");

    // Non-blocking with nothing to read: EAGAIN is the time-out code.
    ASSERT_EQ(SiSetBlockMode(&p.server, 2), SI_OK);
    uint8_t mode = 9;
    ASSERT_EQ(SiGetBlockMode(&p.server, &mode), SI_OK);
    EXPECT_EQ(mode, 0);
    EXPECT_EQ(SiRecv(&p.server, buf, sizeof buf, 0, &n), SI_ETIMEOUT);
    EXPECT_EQ(p.server.lastError, EAGAIN);
    ASSERT_EQ(SiSetBlockMode(&p.server, 1), SI_OK);
    ASSERT_EQ(SiGetBlockMode(&p.server, &mode), SI_OK);
    EXPECT_EQ(mode, 1);

    // Peer close: receive gives 0 bytes; sending into the reset connection is
    // a broken connection, not a signal.
    ASSERT_EQ(SiShutdown(&p.client, SHUT_WR), SI_OK);
    ASSERT_EQ(SiRecv(&p.server, buf, sizeof buf, 0, &n), SI_OK);
    EXPECT_EQ(n, 0u);
    ASSERT_EQ(SiClose(&p.server), SI_OK);
    int32_t rc = SI_OK;
    for (int i = 0; i < 100 && rc == SI_OK; ++i)
        rc = SiSend(&p.client, "x", 1, 0, &n);
    EXPECT_EQ(rc, SI_ECONN_BROKEN);
    EXPECT_TRUE(p.client.lastError == EPIPE || p.client.lastError == ECONNRESET);
    p.server.sock = -1;  // already closed
}

TEST(SiWrappers, SystemErrorsMapToCodes)
{
    SI_SOCK dead{-1, SI_AF_INET, SI_SOCK_STREAM, 0};
    char buf[4];
    uint32_t n;
    EXPECT_EQ(SiRecv(&dead, buf, 4, 0, &n), SI_EINVAL_SOCK);
    EXPECT_EQ(dead.lastError, EBADF);
    EXPECT_EQ(SiClose(&dead), SI_EINVAL_SOCK);

    // Nobody listening on a port that was just freed: refused.
    uint16_t freed;
    {
        Listener l;
        freed = l.port;
    }
    SI_SOCK c;
    ASSERT_EQ(SiSocketIPv4(SI_SOCK_STREAM, &c), SI_OK);
    EXPECT_EQ(SiConnect(&c, kLoop4, 4, &freed), SI_ECONN_REFUSE);
    EXPECT_EQ(c.lastError, ECONNREFUSED);
    SiClose(&c);

    // A port in use.
    Listener l;
    ASSERT_EQ(SiSocketIPv4(SI_SOCK_STREAM, &c), SI_OK);
    EXPECT_EQ(SiBind(&c, kLoop4, 4, &l.port), SI_EPORT_INUSE);
    EXPECT_EQ(c.lastError, EADDRINUSE);

    // A non-blocking connect is in progress (or, on a fast loopback, done).
    ASSERT_EQ(SiSetBlockMode(&c, 0), SI_OK);
    const int32_t rc = SiConnect(&c, kLoop4, 4, &l.port);
    EXPECT_TRUE(rc == SI_ECONN_INPROG || rc == SI_OK) << rc;
    SiClose(&c);

    EXPECT_EQ(SiSocket(12345, SI_SOCK_STREAM, 0, &c), SI_EINVAL);
    EXPECT_EQ(c.lastError, EAFNOSUPPORT);
}

TEST(SiWrappers, AddressChecksRefuseBeforeTheSystemCall)
{
    uint16_t port = SiHtons(80);
    SI_SOCK s4{-1, SI_AF_INET, SI_SOCK_STREAM, 0};
    EXPECT_EQ(SiConnect(&s4, kLoop4, 16, &port), SI_EINTERN);
    EXPECT_EQ(s4.lastError, SI_ERR_INTERNAL);
    EXPECT_EQ(SiConnect(&s4, kLoop4, 4, nullptr), SI_EINVAL);
    uint8_t small[2];
    SI_SOCK acc;
    EXPECT_EQ(SiAccept(&s4, small, sizeof small, nullptr, &acc), SI_EINTERN);

    SI_SOCK s6{-1, SI_AF_INET6, SI_SOCK_STREAM, 0};
    EXPECT_EQ(SiBind(&s6, kLoop4, 4, &port), SI_EINTERN);
    SI_SOCK odd{-1, 77, SI_SOCK_STREAM, 0};
    EXPECT_EQ(SiBind(&odd, kLoop4, 4, &port), SI_EINVAL_FAMI);
    EXPECT_EQ(odd.lastError, SI_ERR_FAMILY);
    EXPECT_EQ(SiGetPeerName(&odd, nullptr, 0, nullptr), SI_EINVAL_FAMI);

    // A Unix path that the system address cannot hold is refused, not cut.
    SI_SOCK su{-1, SI_AF_UNIX, SI_SOCK_STREAM, 0};
    char path[108];
    std::memset(path, 'p', sizeof path);
    EXPECT_EQ(SiBind(&su, path, 108, nullptr), SI_EINVAL);
    EXPECT_EQ(su.lastError, ENAMETOOLONG);
    EXPECT_EQ(SiConnect(&su, path, 108, nullptr), SI_EINVAL);
    path[107] = '\0';
    EXPECT_EQ(SiBind(&su, path, 107, nullptr), SI_EINTERN);
    EXPECT_EQ(SiBind(&su, path, 108, nullptr), SI_EINVAL_SOCK);  // reached the system

    // Converting an address the caller holds: a short one is refused, a whole
    // one yields its port and bytes.
    sockaddr_in in{};
    in.sin_family = AF_INET;
    in.sin_port = SiHtons(4242);
    std::memcpy(&in.sin_addr, kLoop4, 4);
    uint8_t got[4];
    uint16_t gotPort = 0;
    EXPECT_EQ(SiSockAddrToAddr(&s4, reinterpret_cast<sockaddr*>(&in), 8, got, 4, &gotPort), SI_EINTERN);
    ASSERT_EQ(SiSockAddrToAddr(&s4, reinterpret_cast<sockaddr*>(&in), sizeof in, got, 4, &gotPort), SI_OK);
    EXPECT_EQ(SiNtohs(gotPort), 4242);
    EXPECT_EQ(std::memcmp(got, kLoop4, 4), 0);
}

TEST(SiWrappers, UnixPathRoundTripAtTheLongestPath)
{
    std::string dir = KovTestTmp();
    std::string cmd = "mkdir -p '" + dir + "'";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    ASSERT_EQ(chdir(dir.c_str()), 0);
    // A relative name of 107 characters: the longest the address holds.
    std::string name(107, 'u');
    unlink(name.c_str());
    char path[108] = {};
    std::memcpy(path, name.data(), name.size());

    SI_SOCK srv, cli, acc;
    ASSERT_EQ(SiSocketUDS(SI_SOCK_STREAM, &srv), SI_OK);
    ASSERT_EQ(SiBind(&srv, path, 108, nullptr), SI_OK);
    ASSERT_EQ(SiListen(&srv, 1), SI_OK);
    char back[108];
    ASSERT_EQ(SiGetSockName(&srv, back, sizeof back, nullptr), SI_OK);
    EXPECT_EQ(std::string(back), name);
    char small[64];
    EXPECT_EQ(SiGetSockName(&srv, small, sizeof small, nullptr), SI_EINTERN);

    ASSERT_EQ(SiSocketUDS(SI_SOCK_STREAM, &cli), SI_OK);
    ASSERT_EQ(SiConnect(&cli, path, 108, nullptr), SI_OK);
    char peer[108];
    ASSERT_EQ(SiAccept(&srv, peer, sizeof peer, nullptr, &acc), SI_OK);
    EXPECT_EQ(peer[0], '\0');  // an unbound client has no name
    EXPECT_EQ(acc.family, SI_AF_UNIX);
    SiClose(&acc);
    SiClose(&cli);
    SiClose(&srv);
    unlink(name.c_str());
}

TEST(SiWrappers, DatagramSenderAndShortAddressBuffer)
{
    SI_SOCK a, b;
    ASSERT_EQ(SiSocketIPv4(SI_SOCK_DGRAM, &a), SI_OK);
    ASSERT_EQ(SiSocketIPv4(SI_SOCK_DGRAM, &b), SI_OK);
    ASSERT_EQ(SiBind(&a, kLoop4, 4, nullptr), SI_OK);
    ASSERT_EQ(SiBind(&b, kLoop4, 4, nullptr), SI_OK);
    uint16_t aPort, bPort;
    ASSERT_EQ(SiGetSockName(&a, nullptr, 0, &aPort), SI_OK);
    ASSERT_EQ(SiGetSockName(&b, nullptr, 0, &bPort), SI_OK);

    uint32_t n;
    ASSERT_EQ(SiSendTo(&b, "one", 3, 0, kLoop4, 4, &aPort, &n), SI_OK);
    char buf[8];
    uint8_t from[4];
    uint16_t fromPort = 0;
    ASSERT_EQ(SiRecvFrom(&a, buf, sizeof buf, 0, from, sizeof from, &fromPort, &n), SI_OK);
    EXPECT_EQ(n, 3u);
    EXPECT_EQ(fromPort, bPort);

    // The datagram is consumed even though its sender does not fit.
    ASSERT_EQ(SiSendTo(&b, "two", 3, 0, kLoop4, 4, &aPort, &n), SI_OK);
    EXPECT_EQ(SiRecvFrom(&a, buf, sizeof buf, 0, from, 2, &fromPort, &n), SI_EINTERN);
    EXPECT_EQ(a.lastError, SI_ERR_INTERNAL);

    // Message form both ways, with the sender's address read back.
    char payload[] = "three";
    iovec io{payload, 5};
    SI_MSG out{const_cast<uint8_t*>(kLoop4), 4, &aPort, &io, 1, nullptr, 0, 0};
    ASSERT_EQ(SiSendMsg(&b, &out, 0, &n), SI_OK);
    char got[8] = {};
    iovec gio{got, sizeof got};
    uint8_t src[4] = {};
    uint16_t srcPort = 0;
    SI_MSG in{src, 4, &srcPort, &gio, 1, nullptr, 0, -1};
    ASSERT_EQ(SiRecvMsg(&a, &in, 0, &n), SI_OK);
    EXPECT_EQ(std::string(got, n), "three");
    EXPECT_EQ(srcPort, bPort);
    EXPECT_EQ(in.flags, 0);
    SiClose(&a);
    SiClose(&b);
}

TEST(SiWrappers, OptionsRoundTripThroughTheKernel)
{
    SI_SOCK s;
    ASSERT_EQ(SiSocketIPv4(SI_SOCK_STREAM, &s), SI_OK);

    // The send buffer is halved on the way in because the kernel doubles it.
    int32_t want = 65536, got = 0;
    SI_OPT_VAL v{&want, 4, nullptr, 0};
    ASSERT_EQ(SiSetSockOpt(&s, SI_SOL_SOCKET, SI_SO_SNDBUF, &v), SI_OK);
    SI_OPT_VAL g{&got, 4, nullptr, 0};
    ASSERT_EQ(SiGetSockOpt(&s, SI_SOL_SOCKET, SI_SO_SNDBUF, &g), SI_OK);
    EXPECT_EQ(got, 65536);

    uint8_t on = 1, flag = 0;
    SI_OPT_VAL f{&on, 1, nullptr, 0}, fg{&flag, 1, nullptr, 0};
    for (int32_t opt : {SI_SO_KEEPALIVE, SI_SO_REUSEADDR}) {
        ASSERT_EQ(SiSetSockOpt(&s, SI_SOL_SOCKET, opt, &f), SI_OK);
        ASSERT_EQ(SiGetSockOpt(&s, SI_SOL_SOCKET, opt, &fg), SI_OK);
        EXPECT_EQ(flag, 1);
    }
    ASSERT_EQ(SiSetSockOpt(&s, SI_IPPROTO_TCP, SI_TCP_NODELAY, &f), SI_OK);
    flag = 0;
    ASSERT_EQ(SiGetSockOpt(&s, SI_IPPROTO_TCP, SI_TCP_NODELAY, &fg), SI_OK);
    EXPECT_EQ(flag, 1);

    // Linger travels in the system's own record.
    linger l{1, 7}, lb{0, 0};
    SI_OPT_VAL lv{&l, sizeof l, nullptr, 0}, lg{&lb, sizeof lb, nullptr, 0};
    ASSERT_EQ(SiSetSockOpt(&s, SI_SOL_SOCKET, SI_SO_LINGER, &lv), SI_OK);
    ASSERT_EQ(SiGetSockOpt(&s, SI_SOL_SOCKET, SI_SO_LINGER, &lg), SI_OK);
    EXPECT_EQ(lb.l_onoff, 1);
    EXPECT_EQ(lb.l_linger, 7);
    SI_OPT_VAL shortLinger{&l, 4, nullptr, 0};
    EXPECT_EQ(SiSetSockOpt(&s, SI_SOL_SOCKET, SI_SO_LINGER, &shortLinger), SI_EINTERN);

    int32_t pend = -1;
    SI_OPT_VAL pv{&pend, 4, nullptr, 0};
    ASSERT_EQ(SiGetSockOpt(&s, SI_SOL_SOCKET, 4, &pv), SI_OK);
    EXPECT_EQ(pend, 0);
    EXPECT_EQ(SiSetSockOpt(&s, SI_SOL_SOCKET, 4, &pv), SI_EINVAL_OPT);

    // Unknown options and bad record lengths never reach the system.
    SI_SOCK dead{-1, SI_AF_INET, SI_SOCK_STREAM, 0};
    EXPECT_EQ(SiGetSockOpt(&dead, SI_IPPROTO_TCP, 2, &pv), SI_EINVAL_OPT);
    EXPECT_EQ(dead.lastError, SI_ERR_OPTION);
    EXPECT_EQ(SiSetSockOpt(&dead, 99, 1, &pv), SI_EINVAL_OPT);
    SI_OPT_VAL ifv{&pend, 8, nullptr, 0};
    EXPECT_EQ(SiSetSockOpt(&dead, SI_IPPROTO_IP, SI_IP_MULTICAST_IF, &ifv), SI_EINTERN);
    EXPECT_EQ(SiSetSockOpt(&dead, SI_SOL_SOCKET, SI_SO_KEEPALIVE, nullptr), SI_EINTERN);

    uint8_t cloexec = 9;
    ASSERT_EQ(SiSetCloseExec(&s, 1), SI_OK);
    ASSERT_EQ(SiGetCloseExec(&s, &cloexec), SI_OK);
    EXPECT_EQ(cloexec, 1);
    ASSERT_EQ(SiSetCloseExec(&s, 0), SI_OK);
    ASSERT_EQ(SiGetCloseExec(&s, &cloexec), SI_OK);
    EXPECT_EQ(cloexec, 0);
    SiClose(&s);
}

TEST(SiVocabulary, DescriptorSetsStayInsideTheirBits)
{
    static SI_FD_SET set;
    SiFdZero(&set);
    SI_SOCK s{64, SI_AF_INET, SI_SOCK_STREAM, 0};
    EXPECT_EQ(SiFdSet(&s, &set), SI_OK);
    EXPECT_EQ(set.bits[1], 1u);
    s.sock = 63;
    EXPECT_EQ(SiFdIsSet(&s, &set), 0);
    SiFdSet(&s, &set);
    EXPECT_EQ(set.bits[0], uint64_t{1} << 63);
    EXPECT_EQ(SiFdIsSet(&s, &set), 1);
    EXPECT_EQ(SiFdClr(&s, &set), SI_OK);
    EXPECT_EQ(set.bits[0], 0u);

    // Descriptors outside the set are refused and touch nothing.
    for (int32_t bad : {-1, SI_FD_SETSIZE, SI_FD_SETSIZE + 64, INT32_MIN}) {
        s.sock = bad;
        EXPECT_EQ(SiFdSet(&s, &set), SI_EINVAL) << bad;
        EXPECT_EQ(SiFdClr(&s, &set), SI_EINVAL) << bad;
        EXPECT_EQ(SiFdIsSet(&s, &set), 0) << bad;
    }
    EXPECT_EQ(set.bits[1], 1u);
    uint32_t ready;
    int32_t err = 0;
    EXPECT_EQ(SiSelect(SI_FD_SETSIZE + 1, &set, nullptr, nullptr, 0, &ready, &err), SI_EINVAL);
    EXPECT_EQ(err, EINVAL);

    // select over a real socket with something to read.
    int sv[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, sv), 0);
    ASSERT_EQ(write(sv[1], "x", 1), 1);
    SI_SOCK r{sv[0], SI_AF_UNIX, SI_SOCK_STREAM, 0};
    SiFdZero(&set);
    SiFdSet(&r, &set);
    ASSERT_EQ(SiSelect(sv[0] + 1, &set, nullptr, nullptr, 1000, &ready, &err), SI_OK);
    EXPECT_EQ(ready, 1u);
    EXPECT_EQ(SiFdIsSet(&r, &set), 1);
    close(sv[0]);
    close(sv[1]);
}

TEST(SiVocabulary, NamesAndByteOrder)
{
    EXPECT_EQ(SiErrorName(9), nullptr);
    EXPECT_EQ(SiErrorText(18), nullptr);
    EXPECT_EQ(SiErrorText(-1), nullptr);
    EXPECT_STREQ(SiErrorName(SI_EMFILE), "SI_EMFILE");
    EXPECT_STREQ(SiOpName(65538), "SiExit");
    EXPECT_STREQ(SiOpSysCalls(SI_OP_RECV_SOCKET), "recvmsg, recv, close");
    EXPECT_EQ(SiOpName(47), nullptr);
    SI_SOCK s{0, SI_AF_INET6, SI_SOCK_DGRAM, 0};
    EXPECT_STREQ(SiFamilyName(&s), "AF_INET6");
    EXPECT_STREQ(SiTypeName(&s), "SOCK_DGRAM");
    s.family = 3;
    EXPECT_EQ(SiFamilyName(&s), nullptr);
    EXPECT_EQ(SiHtons(0x1234), 0x3412);
    const uint8_t bytes[4] = {1, 2, 3, 4};
    uint32_t v;
    std::memcpy(&v, bytes, 4);
    v = SiHtonl(v);
    uint8_t out[4];
    std::memcpy(out, &v, 4);
    EXPECT_EQ(out[0], 4);
    EXPECT_EQ(out[3], 1);
    EXPECT_EQ(SiNtohl(SiHtonl(0xA1B2C3D4u)), 0xA1B2C3D4u);
}

}  // namespace
