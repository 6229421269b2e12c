// The record store of the profile-parameter library: process-wide state, the
// level setter, the string pool, messages and record lookup.
#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "flat/kovparam_int.h"
#include "flat/kovparam_seam.h"
#include "krn/runt/rabax.h"
#include "nls/kovstr.h"

KovParamState g_kp;
char g_kpRoot[4096];

void kovparam_set_level(KovParamRecord* rec, char* value, int level)
{
    switch (level) {
    case 11:
        if (rec->level21 == rec->level11)
            kovparam_set_level(rec, value, 21);
        if (rec->level13 == rec->level11)
            kovparam_set_level(rec, value, 13);
        rec->level11 = value;
        break;
    case 12:
        if (rec->level21 == rec->level12)
            kovparam_set_level(rec, value, 21);
        rec->level12 = value;
        break;
    case 13:
        rec->level13 = value;
        break;
    case 21:
        if (rec->level31 == rec->level21)
            kovparam_set_level(rec, value, 31);
        if (rec->level23 == rec->level21)
            kovparam_set_level(rec, value, 23);
        rec->level21 = value;
        break;
    case 23:
        if (rec->level24 == rec->level23)
            kovparam_set_level(rec, value, 24);
        rec->level23 = value;
        break;
    case 24:
        rec->level24 = value;
        break;
    case 31:
        if (rec->level32 == rec->level31)
            kovparam_set_level(rec, value, 32);
        rec->level31 = value;
        break;
    case 32:
        if (rec->level33 == rec->level32)
            kovparam_set_level(rec, value, 33);
        rec->level32 = value;
        break;
    case 33:
        if (rec->level34 == rec->level33)
            kovparam_set_level(rec, value, 34);
        rec->level33 = value;
        break;
    case 34:
        rec->level34 = value;
        rec->effective = value;
        break;
    default:
        ab_rabax_param(1, "%d", level);
        ab_rabax("kovparam_set_level", "KOVPARAM_LEVEL", __LINE__, "kovparam");
    }
}

void KovParamMsg(const char* fmt, ...)
{
    fputs(g_kp.msgPrefix, stderr);
    va_list ap;
    va_start(ap, fmt);
    vfprintf(stderr, fmt, ap);
    va_end(ap);
}

void KovParamPerror(const char* fmt, ...)
{
    int saved = errno;
    char text[4096];
    size_t at = strlen(g_kp.msgPrefix);
    strcpy_sR(text, sizeof text, g_kp.msgPrefix);
    va_list ap;
    va_start(ap, fmt);
    vsnprintfTruncR(text + at, sizeof text - at, fmt, ap);
    va_end(ap);
    errno = saved;
    perror(text);
}

void KovParamCountMalloc(long bytes)
{
    g_kp.mallocBytes += bytes;
    snprintfTruncR(g_kp.mallocs, sizeof g_kp.mallocs, "%ld", g_kp.mallocBytes);
}

static bool NewChunk()
{
    char* chunk = static_cast<char*>(malloc(kKovParamChunk + 1));
    if (!chunk) {
        perror("kovparam(11): malloc");
        g_kp.poolPos = g_kp.poolEnd = nullptr;
        return false;
    }
    g_kp.chunks.push_back(chunk);
    KovParamCountMalloc(static_cast<long>(kKovParamChunk + 1));
    g_kp.poolPos = chunk;
    g_kp.poolEnd = chunk + kKovParamChunk;
    return true;
}

bool KovParamPoolReserve(size_t n)
{
    if (g_kp.poolPos && static_cast<size_t>(g_kp.poolEnd - g_kp.poolPos) >= n)
        return true;
    return NewChunk();
}

char* KovParamPoolAlloc(size_t n)
{
    if (n > kKovParamChunk) {
        KovParamMsg("kovparam(10): line or value too long\n");
        g_kp.poolPos = g_kp.poolEnd = nullptr;
        return nullptr;
    }
    if (!KovParamPoolReserve(n))
        return nullptr;
    char* p = g_kp.poolPos;
    g_kp.poolPos += n;
    return p;
}

char* KovParamPoolCopyN(const char* s, size_t n)
{
    char* p = KovParamPoolAlloc(n + 1);
    if (p) {
        memcpy(p, s, n);
        p[n] = '\0';
    }
    return p;
}

char* KovParamPoolCopy(const char* s)
{
    return KovParamPoolCopyN(s, strlen(s));
}

KovParamRecord* KovParamFind(const char* name)
{
    int lo = 0;
    int hi = g_kp.count;
    while (lo < hi) {
        int mid = lo + (hi - lo) / 2;
        int c = strcmp(g_kp.records[mid].name, name);
        if (c == 0)
            return &g_kp.records[mid];
        if (c < 0)
            lo = mid + 1;
        else
            hi = mid;
    }
    return nullptr;
}

KovParamRecord* KovParamLookup(const char* name)
{
    if (!name)
        return nullptr;
    if (name[0] != '$') {
        ++g_kp.lookups;
        snprintfTruncR(g_kp.calls, sizeof g_kp.calls, "%5.5ld", g_kp.lookups);
        strncpy_sR(g_kp.callLastName, sizeof g_kp.callLastName, name, sizeof g_kp.callLastName - 1);
    }
    if (g_kp.lookupHook)
        return g_kp.lookupHook(name);
    return KovParamFind(name);
}

KovParamRecord* KovParamInsert(const char* name, int grow)
{
    if (!g_kp.records)
        return nullptr;
    KovParamRecord* end = g_kp.records + g_kp.count;
    KovParamRecord* at = std::lower_bound(g_kp.records, end, name,
                                          [](const KovParamRecord& r, const char* n) { return strcmp(r.name, n) < 0; });
    size_t index = static_cast<size_t>(at - g_kp.records);
    if (g_kp.count == g_kp.capacity) {
        size_t bytes = sizeof(KovParamRecord) * static_cast<size_t>(g_kp.capacity + grow);
        void* grown = realloc(g_kp.records, bytes);
        if (!grown)
            return nullptr;
        g_kp.records = static_cast<KovParamRecord*>(grown);
        g_kp.capacity += grow;
        KovParamCountMalloc(static_cast<long>(sizeof(KovParamRecord)) * grow);
    }
    KovParamRecord* rec = g_kp.records + index;
    memmove(rec + 1, rec, sizeof(KovParamRecord) * (static_cast<size_t>(g_kp.count) - index));
    ++g_kp.count;
    char* marker = const_cast<char*>(kKovParamUnknown);
    *rec = KovParamRecord{name, marker, marker, marker, marker, marker, marker,
                          0,    marker, marker, marker, marker, 0,      marker};
    return rec;
}

const KovParamComposition* KovParamFindComposition(const char* name)
{
    // The table is sorted once on first use, then binary-searched.
    static std::vector<const KovParamComposition*> sorted;
    if (sorted.empty()) {
        for (size_t i = 0; i < kKovParamCompositionCount; ++i)
            sorted.push_back(&kKovParamCompositions[i]);
        std::sort(sorted.begin(), sorted.end(), [](const KovParamComposition* a, const KovParamComposition* b) {
            return strcmp(a->name, b->name) < 0;
        });
    }
    auto it = std::lower_bound(sorted.begin(), sorted.end(), name,
                               [](const KovParamComposition* c, const char* n) { return strcmp(c->name, n) < 0; });
    return it != sorted.end() && strcmp((*it)->name, name) == 0 ? *it : nullptr;
}

void kovparam_seam_set_root(const char* dir)
{
    strcpy_sR(g_kpRoot, sizeof g_kpRoot, dir ? dir : "");
}

void kovparam_seam_reset()
{
    for (char* c : g_kp.chunks)
        free(c);
    for (void* a : g_kp.oldArrays)
        free(a);
    free(g_kp.records);
    for (int i = 0; i < g_kp.cmdPairCount; ++i)
        free(g_kp.cmdPairs[i].value);
    for (auto& p : g_kp.programPairs) {
        free(p.name);
        free(p.value);
    }
    free(g_kp.args);
    g_kp.~KovParamState();
    new (&g_kp) KovParamState();
}
