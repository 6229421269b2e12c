// The activation cache: up to 15 activated converter objects of this
// process, each under a key of its code pages, options and the converter
// cache's generation, with a use counter that decides which entry a new one
// replaces.
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "krn/rscp/cpactivate.h"

namespace {

constexpr int32_t kMaxEntries = 15;
constexpr int32_t kDefaultEntries = 10;
constexpr uint32_t kCounterLimit = 100000;
const char kSizeParameter[] = "rscp/CActivate/cache/size";

struct Entry {
    rscpActKey key;
    rscpCObj_t obj;
    uint32_t uses;
};

struct Cache {
    int32_t size = -1;  // not read yet
    int32_t count = 0;
    Entry entries[kMaxEntries];
};
Cache g_cache;

bool SameKey(const rscpActKey& a, const rscpActKey& b)
{
    return a.hi == b.hi && a.lo == b.lo;
}
uint32_t GenerationOf(const rscpActKey& k)
{
    return uint32_t(k.lo >> 32);
}

// The options a caller sets that the key does not hold.  A cached object is
// only handed to a caller whose object agrees on them, so that a hit never
// changes what the caller asked for.
bool SameOptions(const rscpCObj_t& a, const rscpCObj_t& b)
{
    return std::memcmp(a.incode, b.incode, 4) == 0 && std::memcmp(a.outcode, b.outcode, 4) == 0 &&
           a.subst_code == b.subst_code && a.use_c_subst == b.use_c_subst && a.use_1_subst == b.use_1_subst &&
           a.use_n_subst == b.use_n_subst && a.use_1_copy == b.use_1_copy && a.allow_bytes == b.allow_bytes &&
           a.allow_columns == b.allow_columns && a.broken == b.broken && a.fill_rest == b.fill_rest &&
           a.do_filter == b.do_filter && a.enforce_f1 == b.enforce_f1 && a.on_drop == b.on_drop &&
           a.ctrlcodes == b.ctrlcodes && a.ownCh == b.ownCh && a.ccci_langu == b.ccci_langu &&
           a.ccci_explicit_langu == b.ccci_explicit_langu && a.ccci_explicit_3rdCP == b.ccci_explicit_3rdCP &&
           std::memcmp(a.ccci_3rdCP, b.ccci_3rdCP, 4) == 0 && a.subst_code_U4 == b.subst_code_U4;
}

void Say(const char* text)
{
    rscpe_get_output_func(1)(text, int32_t(std::strlen(text)));
}

int32_t ReadSize()
{
    const char* v = rscph_HookTable.GetParameter != nullptr ? rscph_HookTable.GetParameter(kSizeParameter) : nullptr;
    if (v == nullptr)
        return kDefaultEntries;
    char text[160];
    if (!std::isdigit(static_cast<unsigned char>(v[0]))) {
        std::snprintf(text, sizeof text, "profile \"%s\": illegal value \"%-.50s\"", kSizeParameter, v);
        Say(text);
        return kDefaultEntries;
    }
    const long n = std::strtol(v, nullptr, 10);
    if (n == 0) {
        std::snprintf(text, sizeof text, "profile \"%s\": cache switched off.", kSizeParameter);
        Say(text);
        return 0;
    }
    if (n > kMaxEntries) {
        std::snprintf(text, sizeof text, "profile \"%s\": %ld replaced with %ld", kSizeParameter, n, long(kMaxEntries));
        Say(text);
        return kMaxEntries;
    }
    return int32_t(n);
}

}  // namespace

rscpActKey rscpActivationKey(const rscpCObj_t* o, uint32_t generation)
{
    uint8_t b[8] = {};
    const char* digits[2] = {o->incode, o->outcode};
    for (int i = 0; i < 8; i += 2) {
        const char* cp = digits[i / 4];
        b[i / 2] = uint8_t((uint8_t(cp[i % 4] - '0') & 0xF) | (uint8_t(cp[i % 4 + 1] - '0') & 0xF) << 4);
    }
    const uint32_t flags = (o->use_c_subst & 1u) | (o->use_1_copy & 1u) << 1 | (o->allow_bytes & 1u) << 2 |
                           (o->do_filter & 1u) << 3 | (o->broken & 3u) << 4 | (o->fill_rest & 7u) << 6 |
                           (uint32_t(o->enforce_f1) & 7u) << 9 | (uint32_t(o->on_drop) & 3u) << 12 |
                           (uint32_t(o->ctrlcodes) & 1u) << 14 | (uint32_t(o->ownCh) & 1u) << 15;
    b[4] = uint8_t(flags);
    b[5] = uint8_t(flags >> 8);
    uint64_t hi = 0;
    for (int i = 7; i >= 0; --i)
        hi = hi << 8 | b[i];
    return {hi, uint64_t(o->subst_code_U4 << 11) | uint64_t(generation) << 32};
}

bool rscpActivationCacheGet(const rscpActKey& key, rscpCObj_t* obj)
{
    Cache& c = g_cache;
    for (int32_t i = 0; i < c.count; ++i) {
        Entry& e = c.entries[i];
        if (!SameKey(e.key, key) || !SameOptions(e.obj, *obj))
            continue;
        if (++e.uses > kCounterLimit)
            for (int32_t j = 0; j < c.count; ++j)
                c.entries[j].uses /= 2;
        *obj = e.obj;
        rscpCClearRunState(obj);
        return true;
    }
    return false;
}

void rscpActivationCachePut(const rscpActKey& key, const rscpCObj_t* obj, uint32_t generation)
{
    Cache& c = g_cache;
    if (c.size < 0)
        c.size = ReadSize();
    if (c.size == 0)
        return;
    int32_t slot = -1;
    for (int32_t i = 0; i < c.count && slot < 0; ++i) {
        if (SameKey(c.entries[i].key, key)) {
            if (SameOptions(c.entries[i].obj, *obj))
                return;
            slot = i;  // the same key for other options: the newer object wins
        }
    }
    if (slot < 0 && c.count < c.size) {
        slot = c.count++;
    } else if (slot < 0) {
        // The entry of the oldest generation before the current one, else the
        // least used after every counter was lowered by the smallest.
        for (int32_t i = 0; i < c.count; ++i) {
            const uint32_t g = GenerationOf(c.entries[i].key);
            if (g < generation && (slot < 0 || g < GenerationOf(c.entries[slot].key)))
                slot = i;
        }
        if (slot < 0) {
            slot = 0;
            for (int32_t i = 1; i < c.count; ++i)
                if (c.entries[i].uses < c.entries[slot].uses)
                    slot = i;
            const uint32_t least = c.entries[slot].uses;
            for (int32_t i = 0; i < c.count; ++i)
                c.entries[i].uses -= least;
        }
    }
    Entry& e = c.entries[slot];
    e.key = key;
    e.obj = *obj;
    rscpCClearRunState(&e.obj);
    e.uses = 1;
}

int32_t rscpActivationCacheSize()
{
    if (g_cache.size < 0)
        g_cache.size = ReadSize();
    return g_cache.size;
}

void rscpActivationCacheReset()
{
    g_cache.size = -1;
    g_cache.count = 0;
}

bool rscpActivationCacheEntry(int32_t i, rscpActKey* key, uint32_t* uses)
{
    if (i < 0 || i >= g_cache.count)
        return false;
    *key = g_cache.entries[i].key;
    *uses = g_cache.entries[i].uses;
    return true;
}
