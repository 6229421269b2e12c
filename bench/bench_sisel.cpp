// Select sets with many sockets: one wait and the walk over the ready ones
// (16 sockets with data, the rest idle), and filling and emptying a set,
// for the poll and epoll sets beside a plain poll over the same sockets.
#include <benchmark/benchmark.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>
#include <vector>

#include "si/siselimpl.h"

namespace {

constexpr int kReady = 16;

struct Pairs {
    std::vector<SI_SOCK> a;
    std::vector<int> b;
    explicit Pairs(int n)
    {
        rlimit rl{};
        getrlimit(RLIMIT_NOFILE, &rl);
        rl.rlim_cur = rl.rlim_max;
        setrlimit(RLIMIT_NOFILE, &rl);
        for (int i = 0; i < n; ++i) {
            int sv[2];
            if (socketpair(AF_UNIX, SOCK_STREAM, 0, sv) != 0)
                break;
            a.push_back(SI_SOCK{sv[0], SI_AF_UNIX, SI_SOCK_STREAM, 0});
            b.push_back(sv[1]);
        }
        // Every n/kReady-th socket has a byte waiting.
        for (size_t i = 0; i < a.size(); i += a.size() / kReady)
            write(b[i], "x", 1);
    }
    ~Pairs()
    {
        for (auto& s : a)
            close(s.sock);
        for (int fd : b)
            close(fd);
    }
};

template <class Set>
void BM_WaitAndWalk(benchmark::State& state)
{
    const int n = static_cast<int>(state.range(0));
    Pairs p(n);
    Set set;
    set.Init(static_cast<uint32_t>(n));
    for (auto& s : p.a)
        set.Set(&s, SISEL::READ, nullptr, 0);
    for (auto _ : state) {
        uint32_t ready = 0;
        set.Select(0, &ready);
        SI_SOCK* s = nullptr;
        uint8_t r = 0;
        int walked = 0;
        do {
            set.Next(&r, nullptr, nullptr, &s, nullptr);
            walked += s != nullptr;
        } while (s != nullptr);
        if (walked != kReady)
            state.SkipWithError("wrong number of ready sockets");
        benchmark::DoNotOptimize(ready);
    }
    state.SetItemsProcessed(state.iterations() * n);
}

void BM_PlainPoll(benchmark::State& state)
{
    const int n = static_cast<int>(state.range(0));
    Pairs p(n);
    std::vector<pollfd> fds;
    for (auto& s : p.a)
        fds.push_back(pollfd{s.sock, POLLIN, 0});
    for (auto _ : state) {
        int walked = 0;
        const int ready = poll(fds.data(), fds.size(), 0);
        for (const pollfd& f : fds)
            walked += f.revents != 0;
        if (ready != kReady || walked != kReady)
            state.SkipWithError("wrong number of ready sockets");
    }
    state.SetItemsProcessed(state.iterations() * n);
}

template <class Set>
void BM_FillAndEmpty(benchmark::State& state)
{
    const int n = static_cast<int>(state.range(0));
    Pairs p(n);
    Set set;
    set.Init(static_cast<uint32_t>(n));
    for (auto _ : state) {
        for (auto& s : p.a)
            set.Set(&s, SISEL::READ, nullptr, 0);
        for (auto& s : p.a)
            set.Remove(&s, 1);
    }
    state.SetItemsProcessed(state.iterations() * n);
}

}  // namespace

BENCHMARK(BM_WaitAndWalk<SISEL_POLL>)->Arg(256)->Arg(4096);
BENCHMARK(BM_WaitAndWalk<SISEL_EPOLL>)->Arg(256)->Arg(4096);
BENCHMARK(BM_PlainPoll)->Arg(256)->Arg(4096);
BENCHMARK(BM_FillAndEmpty<SISEL_POLL>)->Arg(256)->Arg(4096);
BENCHMARK(BM_FillAndEmpty<SISEL_EPOLL>)->Arg(256)->Arg(4096);
BENCHMARK_MAIN();
