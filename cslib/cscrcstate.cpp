#include <cstdlib>

#include "cslib/crc32.h"
#include "cslib/cswork.h"

CsCrcState* CsCrcNew(uint32_t segLen)
{
    auto* st = static_cast<CsCrcState*>(std::malloc(sizeof(CsCrcState)));
    if (st == nullptr)
        return nullptr;
    st->reg = 0xFFFFFFFFu;
    st->pos = 0;
    st->segLen = segLen == 0 ? 65536u : segLen;
    st->total = 0;
    return st;
}

void CsCrcUpdate(CsCrcState* st, const uint8_t* data, size_t n)
{
    if (st == nullptr || n == 0)
        return;
    st->reg = CsCrc32Update(st->reg, data, n);
    st->total += static_cast<uint32_t>(n);
    st->pos = static_cast<uint32_t>((st->pos + n) % st->segLen);
}

uint32_t CsCrcFree(CsCrcState* st)
{
    if (st == nullptr)
        return 0;
    const uint32_t crc = ~st->reg;
    std::free(st);
    return crc;
}
