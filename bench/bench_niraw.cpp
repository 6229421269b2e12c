// Loopback throughput of raw network handles, writing and reading, beside
// plain blocking send and recv on the same kind of connection.
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <vector>

#include "ni/ni.h"

namespace {

constexpr size_t kTotal = 16 << 20;

struct Link {
    int listener = -1, server = -1;
    NI_HDL hdl = -1;
    Link()
    {
        NiInit();
        listener = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a);
        listen(listener, 1);
        socklen_t len = sizeof a;
        getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len);
        NiRawHandle("127.0.0.1", std::to_string(ntohs(a.sin_port)).c_str(), 2000, &hdl);
        server = accept(listener, nullptr, nullptr);
    }
    ~Link()
    {
        NiCloseHandle(hdl);
        close(server);
        close(listener);
        NiExit();
    }
};

// Runs one benchmark: each iteration moves kTotal bytes between the handle and
// the plain peer.  Writing: `send(chunk)` pushes one chunk from the handle's
// side while a thread drains the peer.  Reading: a thread feeds the peer and
// `recv(buf, cap)` returns what one read from the handle's side brought.
template <typename Send>
void RunWrite(benchmark::State& state, Link& link, Send send)
{
    const std::vector<char> chunk(static_cast<size_t>(state.range(0)), 'k');
    for (auto _ : state) {
        std::thread drain([&] {
            std::vector<char> buf(1 << 16);
            size_t got = 0;
            while (got < kTotal)
                got += static_cast<size_t>(read(link.server, buf.data(), buf.size()));
        });
        for (size_t sent = 0; sent < kTotal; sent += chunk.size())
            send(chunk);
        drain.join();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kTotal));
}

template <typename Recv>
void RunRead(benchmark::State& state, Link& link, Recv recv)
{
    std::vector<char> buf(static_cast<size_t>(state.range(0)));
    for (auto _ : state) {
        std::thread feed([&] {
            const std::vector<char> out(1 << 16, 'k');
            for (size_t sent = 0; sent < kTotal; sent += out.size())
                (void)!write(link.server, out.data(), out.size());
        });
        for (size_t got = 0; got < kTotal;)
            got += recv(buf);
        feed.join();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kTotal));
}

// The handle's socket in blocking mode, for the plain calls.
int BlockingFd(Link& link)
{
    SI_SOCK* s = nullptr;
    NiHdlGetSock(link.hdl, &s);
    SiSetBlockMode(s, 1);
    return s->sock;
}

void BM_NiRawWrite(benchmark::State& state)
{
    Link link;
    RunWrite(state, link, [&](const std::vector<char>& c) {
        int32_t n;
        NiRawWrite(link.hdl, c.data(), static_cast<int32_t>(c.size()), -1, &n);
    });
}

void BM_NiRawRead(benchmark::State& state)
{
    Link link;
    RunRead(state, link, [&](std::vector<char>& b) {
        int32_t n = 0;
        NiRawRead(link.hdl, b.data(), static_cast<int32_t>(b.size()), -1, &n);
        return static_cast<size_t>(n);
    });
}

void BM_PlainSend(benchmark::State& state)
{
    Link link;
    const int fd = BlockingFd(link);
    RunWrite(state, link, [&](const std::vector<char>& c) { (void)!send(fd, c.data(), c.size(), 0); });
}

void BM_PlainRecv(benchmark::State& state)
{
    Link link;
    const int fd = BlockingFd(link);
    RunRead(state, link, [&](std::vector<char>& b) {
        const ssize_t n = recv(fd, b.data(), b.size(), 0);
        return n > 0 ? static_cast<size_t>(n) : size_t{0};
    });
}

}  // namespace

BENCHMARK(BM_NiRawWrite)->Arg(1024)->Arg(65536)->UseRealTime();
BENCHMARK(BM_NiRawRead)->Arg(1024)->Arg(65536)->UseRealTime();
BENCHMARK(BM_PlainSend)->Arg(1024)->Arg(65536)->UseRealTime();
BENCHMARK(BM_PlainRecv)->Arg(1024)->Arg(65536)->UseRealTime();
BENCHMARK_MAIN();
