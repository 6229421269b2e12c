// Select sets of network handles over loopback connections: ready handles
// come back as handles after the set has moved their sockets around, a reset
// connection comes back as broken, and handles that are not open are refused.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>

#include "ni/nisel.h"

namespace {

struct Server {
    int fd = -1;
    std::string port;
    Server()
    {
        fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        EXPECT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
        EXPECT_EQ(listen(fd, 16), 0);
        socklen_t len = sizeof a;
        getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
        port = std::to_string(ntohs(a.sin_port));
    }
    ~Server() { close(fd); }
};

// Ready handles and their results after one wait.
std::map<NI_HDL, int32_t> Ready(NISEL_IMPL* set, std::map<NI_HDL, void*>* data = nullptr)
{
    std::map<NI_HDL, int32_t> out;
    EXPECT_EQ(set->Select(2000, nullptr), SI_OK);
    for (;;) {
        uint8_t r = 0;
        NI_HDL h = -1;
        void* d = nullptr;
        const int32_t rc = set->HdlNext(&r, nullptr, &h, &d);
        if (h < 0) {
            EXPECT_EQ(rc, NI_OK);
            return out;
        }
        EXPECT_TRUE(rc != NI_OK || r == 1);
        out[h] = rc;
        if (data != nullptr)
            (*data)[h] = d;
    }
}

TEST(NiSelect, HandlesComeBackAsHandles)
{
    ASSERT_EQ(NiInit(), NI_OK);
    const uint8_t kSelect = SISEL_IMPL::SELECT, kBad = 3;
    EXPECT_EQ(NiSelCreateSet(&kBad), nullptr);
    for (const uint8_t* type : {static_cast<const uint8_t*>(nullptr), &kSelect}) {
        SCOPED_TRACE(type == nullptr ? "poll" : "select");
        Server srv;
        NI_HDL h[5];
        int peer[5];
        int tags[5];
        std::unique_ptr<NISEL_IMPL> set(NiSelCreateSet(type));
        ASSERT_NE(set, nullptr);
        ASSERT_EQ(set->Init(8), SI_OK);
        for (int i = 0; i < 5; ++i) {
            ASSERT_EQ(NiRawHandle("127.0.0.1", srv.port.c_str(), 2000, &h[i]), NI_OK);
            peer[i] = accept(srv.fd, nullptr, nullptr);
            ASSERT_GE(peer[i], 0);
            ASSERT_EQ(set->HdlSet(h[i], SISEL::READ, &tags[i], 0), NI_OK);
        }
        ASSERT_EQ(write(peer[1], "a", 1), 1);
        ASSERT_EQ(write(peer[3], "b", 1), 1);
        std::map<NI_HDL, void*> data;
        EXPECT_EQ(Ready(set.get(), &data), (std::map<NI_HDL, int32_t>{{h[1], NI_OK}, {h[3], NI_OK}}));
        EXPECT_EQ(data[h[1]], &tags[1]);
        char buf[4];
        int32_t n = 0;
        ASSERT_EQ(NiRawRead(h[1], buf, sizeof buf, 0, &n), NI_OK);
        ASSERT_EQ(NiRawRead(h[3], buf, sizeof buf, 0, &n), NI_OK);

        // Three removals thin the poll set out: its last sockets move down.
        for (int i = 0; i < 3; ++i)
            ASSERT_EQ(set->HdlRemove(h[i]), NI_OK);
        EXPECT_EQ(set->HdlRemove(h[0]), NIEINVAL);
        ASSERT_EQ(write(peer[4], "c", 1), 1);
        EXPECT_EQ(Ready(set.get()), (std::map<NI_HDL, int32_t>{{h[4], NI_OK}}));
        ASSERT_EQ(NiRawRead(h[4], buf, sizeof buf, 0, &n), NI_OK);

        // A reset connection is broken for the poll set (hang-up and error) and
        // merely readable for the select call, whose next read tells.
        linger lg{1, 0};
        setsockopt(peer[3], SOL_SOCKET, SO_LINGER, &lg, sizeof lg);
        close(peer[3]);
        peer[3] = -1;
        const auto ready = Ready(set.get());
        EXPECT_EQ(ready, (std::map<NI_HDL, int32_t>{{h[3], type == nullptr ? NIECONN_BROKEN : NI_OK}}));

        char* text = nullptr;
        size_t len = 0;
        FILE* f = open_memstream(&text, &len);
        set->Dump(f);
        std::fclose(f);
        std::string row = " ";
        row += std::to_string(h[4]);
        row += "\n";
        EXPECT_NE(std::string(text).find("   hdl\n"), std::string::npos);
        EXPECT_NE(std::string(text).find(row), std::string::npos);
        std::free(text);

        for (int i = 3; i < 5; ++i)
            ASSERT_EQ(set->HdlRemove(h[i]), NI_OK);
        for (int i = 0; i < 5; ++i) {
            NiCloseHandle(h[i]);
            if (peer[i] >= 0)
                close(peer[i]);
        }
        EXPECT_EQ(set->HdlSet(h[0], SISEL::READ, nullptr, 0), NIEINVAL);  // closed
        NI_HDL none = 0;
        EXPECT_EQ(set->HdlNext(nullptr, nullptr, &none, nullptr), NI_OK);
        EXPECT_EQ(none, -1);
    }
    EXPECT_EQ(NiExit(), NI_OK);
}

}  // namespace
