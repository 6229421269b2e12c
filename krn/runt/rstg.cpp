// Storage blocks with guard bytes.
#include "krn/runt/rstg.h"

#include <cstdlib>
#include <cstring>

#include "krn/runt/rabax.h"

namespace {

const char kLive[4] = {'O', 'M', 'E', 'Z'};
const char kFreed[4] = {'O', 'O', 'E', 'Z'};
const char kSource[] = "rstg";
constexpr unsigned char kGuard = 0xFF;

struct Header {
    char magic[4];
    uint32_t flags;
    uint32_t type;
    unsigned char* guard;
    Header* next;  // allocated before
    Header* prev;  // allocated after
};
constexpr size_t kHeader = 40;
static_assert(sizeof(Header) == kHeader);

Header* g_head = nullptr;
uint64_t g_blocks = 0, g_bytes = 0, g_peakBlocks = 0, g_peakBytes = 0;
RstgAllocHook g_hook = nullptr;

unsigned char* Area(Header* h)
{
    return reinterpret_cast<unsigned char*>(h) + kHeader;
}

Header* HeaderOf(void* area)
{
    return reinterpret_cast<Header*>(static_cast<unsigned char*>(area) - kHeader);
}

bool Valid(Header* h)
{
    return std::memcmp(h->magic, kLive, 4) == 0 && h->guard >= Area(h) && *h->guard == kGuard;
}

size_t SizeOf(Header* h)
{
    return static_cast<size_t>(h->guard - Area(h));
}

[[noreturn]] void Destroyed(Header* h, const char* name, const char* id, int line)
{
    uint32_t magic;
    std::memcpy(&magic, h->magic, 4);
    const bool magicOk = std::memcmp(h->magic, kLive, 4) == 0;
    ab_rabax_param(1, "%p", static_cast<void*>(h));
    ab_rabax_param(2, "%u", magic);
    ab_rabax_param(3, "%u", magicOk && h->guard >= Area(h) ? static_cast<unsigned>(*h->guard) : 65535u);
    ab_rabax(name, id, line, kSource);
}

// A block that is not on the live list (freed already, or never a storage
// block) is not read at all: its memory may belong to someone else.
bool Listed(const Header* h)
{
    for (const Header* p = g_head; p; p = p->next)
        if (p == h)
            return true;
    return false;
}

[[noreturn]] void NotLive(Header* h, const char* name, const char* id, int line)
{
    ab_rabax_param(1, "%p", static_cast<void*>(h));
    ab_rabax_param(2, "%u", 0u);
    ab_rabax_param(3, "%u", 65535u);
    ab_rabax(name, id, line, kSource);
}

void CheckSize(size_t size, const char* name, int line)
{
    if (size <= RSTG_MAX_SIZE)
        return;
    ab_rabax_param(1, "%ld", static_cast<long>(size));
    ab_rabax(name, "RSTG_GET_TOO_MUCH", line, kSource);
}

void Count(int64_t blocks, int64_t bytes)
{
    g_blocks += static_cast<uint64_t>(blocks);
    g_bytes += static_cast<uint64_t>(bytes);
    if (g_blocks > g_peakBlocks)
        g_peakBlocks = g_blocks;
    if (g_bytes > g_peakBytes)
        g_peakBytes = g_bytes;
}

void Release(Header* h, void* hookArg)
{
    const size_t size = SizeOf(h);
    if (h->prev)
        h->prev->next = h->next;
    else
        g_head = h->next;
    if (h->next)
        h->next->prev = h->prev;
    std::memcpy(h->magic, kFreed, 4);
    Header* next = h->next;
    if (g_hook)
        g_hook(h, 0, next, hookArg);
    else
        std::free(h);
    g_blocks -= 1;
    g_bytes -= size;
}

}  // namespace

void* rstg_get(uint32_t flags, uint32_t type, const char*, size_t size, unsigned char fill)
{
    CheckSize(size, "rstg_get", __LINE__);
    if (size == 0)
        return nullptr;
    void* mem = g_hook ? g_hook(nullptr, size + kHeader + 1, nullptr, nullptr) : std::malloc(size + kHeader + 1);
    if (!mem)
        return nullptr;
    auto* h = static_cast<Header*>(mem);
    std::memcpy(h->magic, kLive, 4);
    h->flags = flags;
    h->type = type;
    h->guard = Area(h) + size;
    *h->guard = kGuard;
    h->next = g_head;
    h->prev = nullptr;
    if (g_head)
        g_head->prev = h;
    g_head = h;
    Count(1, static_cast<int64_t>(size));
    if (fill != RSTG_NO_FILL)
        std::memset(Area(h), fill, size);
    return Area(h);
}

int rstg_free(uint32_t mask, void* block, uint32_t typeSel, void* hookArg)
{
    if (typeSel == RSTG_FREE_ONE) {
        if (!block)
            return 0;
        Header* h = HeaderOf(block);
        if (!Listed(h))
            NotLive(h, "rstg_free", "RSTG_FREE_ILLEGAL_ADDRESS", __LINE__);
        if (!Valid(h))
            Destroyed(h, "rstg_free", "RSTG_FREE_ILLEGAL_ADDRESS", __LINE__);
        Release(h, hookArg);
        return 0;
    }
    for (Header* h = g_head; h;) {
        if (!Valid(h))
            Destroyed(h, "delst", "RSTG_FREE_DESTROYED", __LINE__);
        Header* next = h->next;
        if ((typeSel == RSTG_FREE_ANY || h->type == typeSel) && (h->flags & mask))
            Release(h, hookArg);
        h = next;
    }
    return 0;
}

int rstg_free_typed(void* block, uint32_t typeSel)
{
    return rstg_free(4, block, typeSel, nullptr);
}

void* rstg_realloc(void* block, uint32_t, uint32_t, const char* name, size_t size, unsigned char fill)
{
    if (!block)
        return rstg_get(4, 248, name, size, fill);
    CheckSize(size, "rstg_realloc", __LINE__);
    Header* h = HeaderOf(block);
    if (!Listed(h))
        NotLive(h, "rstg_realloc", "RSTG_REALLOC_ILLEGAL_ADDRESS", __LINE__);
    if (!Valid(h))
        Destroyed(h, "rstg_realloc", "RSTG_REALLOC_ILLEGAL_ADDRESS", __LINE__);
    const size_t old = SizeOf(h);
    void* mem = g_hook ? g_hook(h, size + kHeader + 1, nullptr, nullptr) : std::realloc(h, size + kHeader + 1);
    if (!mem)
        return nullptr;
    h = static_cast<Header*>(mem);
    if (size > old && fill != RSTG_NO_FILL)
        std::memset(Area(h) + old, fill, size - old);
    if (h->prev)
        h->prev->next = h;
    else
        g_head = h;
    if (h->next)
        h->next->prev = h;
    h->guard = Area(h) + size;
    *h->guard = kGuard;
    Count(0, static_cast<int64_t>(size) - static_cast<int64_t>(old));
    return Area(h);
}

void* rstg_realloc_fill(uint32_t type, void* block, size_t oldSize, size_t newSize, unsigned char fill,
                        const char* name)
{
    void* p = rstg_realloc(block, 0, type, name, newSize, RSTG_NO_FILL);
    if (p && newSize > oldSize)
        std::memset(static_cast<unsigned char*>(p) + oldSize, fill, newSize - oldSize);
    return p;
}

int rstg_check()
{
    for (Header* h = g_head; h; h = h->next)
        if (!Valid(h))
            return -1;
    return 0;
}

int rstg_get_counters(uint64_t* blocks, uint64_t* bytes, uint64_t* peakBlocks, uint64_t* peakBytes)
{
    if (blocks)
        *blocks = g_blocks;
    if (bytes)
        *bytes = g_bytes;
    if (peakBlocks)
        *peakBlocks = g_peakBlocks;
    if (peakBytes)
        *peakBytes = g_peakBytes;
    return 0;
}

void rstg_set_alloc_hook(RstgAllocHook hook)
{
    g_hook = hook;
}

RstgAllocHook rstg_get_alloc_hook()
{
    return g_hook;
}
