// Raw network handles against servers the test runs on 127.0.0.1: a large
// transfer both ways ending in the peer's close, time-outs on connect, read
// and write, refused connections, unknown services and stale handles.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "ni/ni.h"
#include "trace/errinfo.h"

namespace {

using Clock = std::chrono::steady_clock;

// A listening socket on 127.0.0.1 with a kernel-chosen port.
struct Server {
    int fd = -1;
    std::string port;
    explicit Server(int backlog = 8)
    {
        fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        EXPECT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
        EXPECT_EQ(listen(fd, backlog), 0);
        socklen_t len = sizeof a;
        getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
        port = std::to_string(ntohs(a.sin_port));
    }
    ~Server() { close(fd); }
};

class NiRaw : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(NiInit(), NI_OK); }
    void TearDown() override { NiExit(); }
};

std::vector<uint8_t> Pattern(size_t n, uint32_t seed)
{
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) {
        seed = seed * 1103515245u + 12345u;
        v[i] = static_cast<uint8_t>(seed >> 16);
    }
    return v;
}

TEST_F(NiRaw, LargeTransferBothWaysEndsInBrokenConnection)
{
    Server srv;
    const std::vector<uint8_t> up = Pattern(3 << 20, 1), down = Pattern((1 << 20) + 17, 2);
    std::vector<uint8_t> gotUp;
    // The server reads everything, then answers and closes.
    std::thread peer([&] {
        int c = accept(srv.fd, nullptr, nullptr);
        uint8_t buf[65536];
        while (gotUp.size() < up.size()) {
            ssize_t n = read(c, buf, sizeof buf);
            if (n <= 0)
                break;
            gotUp.insert(gotUp.end(), buf, buf + n);
        }
        size_t off = 0;
        while (off < down.size()) {
            ssize_t n = write(c, down.data() + off, down.size() - off);
            if (n <= 0)
                break;
            off += static_cast<size_t>(n);
        }
        close(c);
    });

    NI_HDL h = -1;
    ASSERT_EQ(NiRawHandle("127.0.0.1", srv.port.c_str(), 5000, &h), NI_OK);
    int32_t written = -1;
    ASSERT_EQ(NiRawWrite(h, up.data(), static_cast<int32_t>(up.size()), -1, &written), NI_OK);
    EXPECT_EQ(written, static_cast<int32_t>(up.size()));

    std::vector<uint8_t> gotDown;
    uint8_t buf[7000];
    int32_t n = 0, rc;
    while ((rc = NiRawRead(h, buf, sizeof buf, 5000, &n)) == NI_OK) {
        ASSERT_GT(n, 0);
        gotDown.insert(gotDown.end(), buf, buf + n);
    }
    EXPECT_EQ(rc, NIECONN_BROKEN);
    EXPECT_EQ(n, 0);
    EXPECT_EQ(ErrIsSet(), 1);
    peer.join();
    EXPECT_TRUE(gotUp == up);
    EXPECT_TRUE(gotDown == down);

    // The peer is gone: writing fails as a broken connection, not a signal.
    rc = NI_OK;
    for (int i = 0; i < 50 && rc == NI_OK; ++i)
        rc = NiRawWrite(h, "x", 1, 1000, &written);
    EXPECT_EQ(rc, NIECONN_BROKEN);
    EXPECT_EQ(NiCloseHandle(h), NI_OK);
}

TEST_F(NiRaw, TimeOutsOnReadWriteAndConnect)
{
    Server srv;
    NI_HDL h;
    ASSERT_EQ(NiRawHandle("127.0.0.1", srv.port.c_str(), -1, &h), NI_OK);
    int c = accept(srv.fd, nullptr, nullptr);

    uint8_t buf[16];
    int32_t n = -1;
    auto t0 = Clock::now();
    EXPECT_EQ(NiRawRead(h, buf, sizeof buf, 100, &n), NIETIMEOUT);
    auto took = Clock::now() - t0;
    EXPECT_GE(took, std::chrono::milliseconds(90));
    EXPECT_LT(took, std::chrono::seconds(3));
    EXPECT_EQ(n, 0);
    EXPECT_EQ(NiRawRead(h, buf, sizeof buf, 0, &n), NIETIMEOUT);

    // A peer that never reads: the write stops at the time-out, having sent part.
    const std::vector<uint8_t> big(64 << 20, 0x5A);
    int32_t written = -1;
    t0 = Clock::now();
    EXPECT_EQ(NiRawWrite(h, big.data(), static_cast<int32_t>(big.size()), 200, &written), NIETIMEOUT);
    EXPECT_LT(Clock::now() - t0, std::chrono::seconds(5));
    EXPECT_GT(written, 0);
    EXPECT_LT(written, static_cast<int32_t>(big.size()));
    close(c);
    NiCloseHandle(h);

    // A listener whose queue is full answers no new connection: the connect
    // stays pending until the time-out.
    Server full(0);
    std::vector<NI_HDL> queued;
    int32_t rc = NI_OK;
    t0 = Clock::now();
    for (int i = 0; i < 8 && rc == NI_OK; ++i) {
        NI_HDL q;
        rc = NiRawHandle("127.0.0.1", full.port.c_str(), 300, &q);
        if (rc == NI_OK)
            queued.push_back(q);
    }
    EXPECT_EQ(rc, NIETIMEOUT);
    EXPECT_LT(Clock::now() - t0, std::chrono::seconds(5));
    for (NI_HDL q : queued)
        NiCloseHandle(q);
}

TEST_F(NiRaw, RefusalsAndBadArguments)
{
    std::string freed;
    {
        Server gone;
        freed = gone.port;
    }
    NI_HDL h = -1;
    EXPECT_EQ(NiRawHandle("127.0.0.1", freed.c_str(), 2000, &h), NIECONN_REFUSED);
    EXPECT_EQ(NiRawHandle("127.0.0.1", "no-such-service-kov", 2000, &h), NIESERV_UNKNOWN);
    EXPECT_EQ(NiRawHandle("127.0.0.1", "70000", 2000, &h), NIESERV_UNKNOWN);  // no wrap to 4464
    EXPECT_EQ(NiRawHandle("127.0.0.1", "0", 2000, &h), NIESERV_UNKNOWN);
    EXPECT_STREQ(ErrGetFld(3), "-3");
    EXPECT_STREQ(ErrGetFld(4), "NI (network interface)");
    EXPECT_EQ(NiRawHandle("", "80", 2000, &h), NIEINVAL);
    EXPECT_EQ(NiRawHandle(nullptr, "80", 2000, &h), NIEINVAL);

    // "localhost" may name several addresses; the one that accepts is used.
    Server srv;
    ASSERT_EQ(NiRawHandle("localhost", srv.port.c_str(), 2000, &h), NI_OK);
    uint8_t b;
    int32_t n;
    EXPECT_EQ(NiRawRead(h, &b, 0, 10, &n), NIEINVAL);
    EXPECT_EQ(NiRawWrite(h, nullptr, 5, 10, &n), NIEINVAL);
    EXPECT_EQ(NiRawWrite(h, nullptr, 0, 10, &n), NI_OK);
    SI_SOCK* s = nullptr;
    ASSERT_EQ(NiHdlGetSock(h, &s), NI_OK);
    EXPECT_EQ(s->type, SI_SOCK_STREAM);

    // A closed handle stays refused, also once its slot serves a new one.
    ASSERT_EQ(NiCloseHandle(h), NI_OK);
    EXPECT_EQ(NiCloseHandle(h), NIEINVAL);
    NI_HDL h2;
    ASSERT_EQ(NiRawHandle("127.0.0.1", srv.port.c_str(), 2000, &h2), NI_OK);
    EXPECT_NE(h2, h);
    EXPECT_EQ(NiRawRead(h, &b, 1, 0, &n), NIEINVAL);
    EXPECT_EQ(NiRawWrite(-5, "x", 1, 0, &n), NIEINVAL);
    EXPECT_EQ(NiCloseHandle(h2), NI_OK);

    EXPECT_STREQ(NiErrorName(NIECONN_BROKEN), "NIECONN_BROKEN");
    EXPECT_NE(NiErrorName(-999), nullptr);
    EXPECT_NE(NiErrorName(12345), nullptr);
}

TEST(NiLife, ReferenceCountedStartAndEnd)
{
    NI_HDL h;
    EXPECT_EQ(NiRawHandle("127.0.0.1", "80", 100, &h), NIEINVAL);  // not started
    Server srv;
    ASSERT_EQ(NiInit(), NI_OK);
    ASSERT_EQ(NiInit(), NI_OK);
    ASSERT_EQ(NiRawHandle("127.0.0.1", srv.port.c_str(), 2000, &h), NI_OK);
    EXPECT_EQ(NiExit(), NI_OK);  // one use left: the handle lives on
    EXPECT_EQ(NiRawWrite(h, "x", 1, 100, nullptr), NI_OK);
    EXPECT_EQ(NiExit(), NI_OK);  // the last use closes it
    EXPECT_EQ(NiCloseHandle(h), NIEINVAL);
    EXPECT_EQ(NiExit(), NI_OK);  // an extra end is harmless
}

}  // namespace
