// fuzz-libs: kov_krn_snt
// A timestamp authority's reply is untrusted: run the HTTP reply reader over
// arbitrary bytes cut into arbitrary chunks, with and without a body wanted,
// at trace level 3 (every header line and chunk traced and dumped), and with
// block tracking on so that a leak or an overrun of a guarded block shows.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "krn/snt/smfhttp.h"

namespace {

struct Chunks {
    const uint8_t* data;
    size_t size;
    size_t pos;
    uint32_t seed;
};

int32_t Next(void* ctx, unsigned char* buffer, int32_t capacity, int32_t* got)
{
    Chunks* c = static_cast<Chunks*>(ctx);
    if (c->pos >= c->size)
        return SMFHTTP_END;
    c->seed = c->seed * 1103515245u + 12345u;
    size_t n = 1 + (c->seed >> 16) % 300;
    if (n > c->size - c->pos)
        n = c->size - c->pos;
    if (n > static_cast<size_t>(capacity))
        n = static_cast<size_t>(capacity);
    std::memcpy(buffer, c->data + c->pos, n);
    c->pos += n;
    *got = static_cast<int32_t>(n);
    return SMFUTIL_OK;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2 || size > 200000)
        return 0;
    static FILE* sink = std::fopen("/dev/null", "w");
    const uint8_t flags = data[0];
    SmfUtilSetTraceFile(sink);
    ct_level = flags & 4 ? 3 : 0;
    SmfUtilResetLowMemory();
    SmfUtilReset(true);
    Chunks c{data + 2, size - 2, 0, data[1]};
    SmfUtilMsg msg{};
    char* type = nullptr;
    unsigned char* body = nullptr;
    int32_t length = -1;
    const int rc = SmfHttpRead(&msg, Next, &c, flags & 2 ? &type : nullptr, &length, flags & 1 ? &body : nullptr);
    if (rc != 0 && rc != 5 && rc != 6)
        std::abort();
    if (rc != 0 && (body || type || length != 0))
        std::abort();
    if (body) {
        if (length < 0 || length > SMFUTIL_MAX_BODY || body[length] != 0)
            std::abort();
        SMF_FREE(body);
    }
    if (type)
        (void)std::strlen(type);
    SMF_FREE(type);
    SmfUtilFreeMsg(&msg);
    if (SmfUtilCheckpoint())
        std::abort();  // a block left behind, or a guard overwritten
    SmfUtilReset(false);
    ct_level = 0;
    return 0;
}
