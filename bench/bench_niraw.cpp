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
  Link() {
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
  ~Link() {
    NiCloseHandle(hdl);
    close(server);
    close(listener);
    NiExit();
  }
};

// The handle writes, a thread drains the peer with plain reads.
void BM_NiRawWrite(benchmark::State& state) {
  Link link;
  const std::vector<char> chunk(static_cast<size_t>(state.range(0)), 'k');
  for (auto _ : state) {
    std::thread drain([&] {
      std::vector<char> buf(1 << 16);
      size_t got = 0;
      while (got < kTotal) got += static_cast<size_t>(read(link.server, buf.data(), buf.size()));
    });
    for (size_t sent = 0; sent < kTotal; sent += chunk.size()) {
      int32_t n;
      NiRawWrite(link.hdl, chunk.data(), static_cast<int32_t>(chunk.size()), -1, &n);
    }
    drain.join();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kTotal));
}

// A thread feeds the peer with plain writes, the handle reads.
void BM_NiRawRead(benchmark::State& state) {
  Link link;
  std::vector<char> buf(static_cast<size_t>(state.range(0)));
  for (auto _ : state) {
    std::thread feed([&] {
      const std::vector<char> out(1 << 16, 'k');
      for (size_t sent = 0; sent < kTotal; sent += out.size())
        (void)!write(link.server, out.data(), out.size());
    });
    size_t got = 0;
    while (got < kTotal) {
      int32_t n = 0;
      NiRawRead(link.hdl, buf.data(), static_cast<int32_t>(buf.size()), -1, &n);
      got += static_cast<size_t>(n);
    }
    feed.join();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kTotal));
}

// The write side with plain blocking send, for comparison.
void BM_PlainSend(benchmark::State& state) {
  Link link;
  SI_SOCK* s = nullptr;
  NiHdlGetSock(link.hdl, &s);
  SiSetBlockMode(s, 1);
  const std::vector<char> chunk(static_cast<size_t>(state.range(0)), 'k');
  for (auto _ : state) {
    std::thread drain([&] {
      std::vector<char> buf(1 << 16);
      size_t got = 0;
      while (got < kTotal) got += static_cast<size_t>(read(link.server, buf.data(), buf.size()));
    });
    for (size_t sent = 0; sent < kTotal; sent += chunk.size())
      (void)!send(s->sock, chunk.data(), chunk.size(), 0);
    drain.join();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kTotal));
}

// The read side with plain blocking recv, for comparison.
void BM_PlainRecv(benchmark::State& state) {
  Link link;
  SI_SOCK* s = nullptr;
  NiHdlGetSock(link.hdl, &s);
  SiSetBlockMode(s, 1);  // wait in recv rather than spin
  const int fd = s->sock;
  std::vector<char> buf(static_cast<size_t>(state.range(0)));
  for (auto _ : state) {
    std::thread feed([&] {
      const std::vector<char> out(1 << 16, 'k');
      for (size_t sent = 0; sent < kTotal; sent += out.size())
        (void)!write(link.server, out.data(), out.size());
    });
    size_t got = 0;
    while (got < kTotal) {
      ssize_t n = recv(fd, buf.data(), buf.size(), 0);
      if (n > 0) got += static_cast<size_t>(n);
    }
    feed.join();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kTotal));
}

}  // namespace

BENCHMARK(BM_NiRawWrite)->Arg(1024)->Arg(65536)->UseRealTime();
BENCHMARK(BM_NiRawRead)->Arg(1024)->Arg(65536)->UseRealTime();
BENCHMARK(BM_PlainSend)->Arg(1024)->Arg(65536)->UseRealTime();
BENCHMARK(BM_PlainRecv)->Arg(1024)->Arg(65536)->UseRealTime();
BENCHMARK_MAIN();
