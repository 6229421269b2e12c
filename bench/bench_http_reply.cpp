// The HTTP reply reader over an in-memory reply: a typical timestamp reply
// (4 KiB) and the largest body it accepts, in network-sized chunks.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "krn/snt/smfhttp.h"

namespace {

struct Source {
    const std::string* data;
    size_t pos;
};

int32_t Next(void* ctx, unsigned char* buffer, int32_t capacity, int32_t* got)
{
    Source* s = static_cast<Source*>(ctx);
    if (s->pos >= s->data->size())
        return SMFHTTP_END;
    const size_t n = std::min({static_cast<size_t>(capacity), s->data->size() - s->pos, size_t{1460}});
    std::memcpy(buffer, s->data->data() + s->pos, n);
    s->pos += n;
    *got = static_cast<int32_t>(n);
    return SMFUTIL_OK;
}

void BM_ReadReply(benchmark::State& state)
{
    const size_t body = static_cast<size_t>(state.range(0));
    const std::string reply = "HTTP/1.0 200 OK\r\nServer: bench\r\nContent-Type: application/timestamp-reply\r\n"
                              "Content-Length: " +
                              std::to_string(body) + "\r\n\r\n" + std::string(body, 'r');
    for (auto _ : state) {
        Source src{&reply, 0};
        char* type = nullptr;
        unsigned char* out = nullptr;
        int32_t len = 0;
        if (SmfHttpRead(nullptr, Next, &src, &type, &len, &out) != 0)
            state.SkipWithError("reader failed");
        SMF_FREE(out);
        SMF_FREE(type);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * reply.size()));
}
BENCHMARK(BM_ReadReply)->Arg(4096)->Arg(SMFUTIL_MAX_BODY);

}  // namespace

BENCHMARK_MAIN();
