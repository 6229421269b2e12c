// 16-bit string and memory functions.
//
// Lengths are found a machine word (four units) at a time: a word is tested
// for a 0 unit with the carry test below, which may flag a word without one
// but never misses one, and only a flagged word is looked at unit by unit.
// The word loads start at an 8-byte boundary, so they never cross into a page
// the string does not reach; they may read the rest of the word that holds the
// terminator, which is why the scanners are exempt from the address checker.
#include "i18n/kovu16/u16_str.h"

#include <bitset>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <new>

#include "nls/kovstr_rules.h"

namespace {

constexpr uint64_t kCarryAdd = 0x7FFEFFFEFFFEFFFFull;
constexpr uint64_t kCarryHoles = 0x8001000100010000ull;

inline bool may_hold_zero(uint64_t w)
{
    return (((w + kCarryAdd) ^ ~w) & kCarryHoles) != 0;
}

inline bool word_aligned(const void* p)
{
    return (reinterpret_cast<uintptr_t>(p) & 7) == 0;
}

// Index of the first 0 unit within the first max units, else max.
__attribute__((no_sanitize("address"))) size_t scan_len(const KOV_UTF16* s, size_t max)
{
    size_t i = 0;
    if ((reinterpret_cast<uintptr_t>(s) & 1) == 0) {
        for (; i < max && !word_aligned(s + i); ++i)
            if (s[i] == 0)
                return i;
        while (max - i >= 4) {
            uint64_t w;
            std::memcpy(&w, s + i, 8);
            if (may_hold_zero(w)) {
                for (size_t k = 0; k < 4; ++k)
                    if (s[i + k] == 0)
                        return i + k;
            }
            i += 4;
        }
    }
    for (; i < max; ++i)
        if (s[i] == 0)
            return i;
    return max;
}

// Leading run of s whose membership in set equals want.
size_t scan_set(const KOV_UTF16* s, const KOV_UTF16* set, bool want)
{
    const size_t setlen = scan_len(set, SIZE_MAX);
    size_t i = 0;
    if (setlen == 0) {
        if (want)
            return 0;
        return scan_len(s, SIZE_MAX);
    }
    if (setlen == 1) {
        const KOV_UTF16 c = set[0];
        if (want) {
            while (s[i] == c)
                ++i;
        } else {
            while (s[i] != 0 && s[i] != c)
                ++i;
        }
        return i;
    }
    if (setlen <= 16) {
        for (; s[i] != 0; ++i) {
            bool member = false;
            for (size_t k = 0; k < setlen; ++k)
                if (set[k] == s[i]) {
                    member = true;
                    break;
                }
            if (member != want)
                break;
        }
        return i;
    }
    // A long set is looked up through a bit per unit value.
    std::bitset<65536> bits;
    for (size_t k = 0; k < setlen; ++k)
        bits.set(set[k]);
    while (s[i] != 0 && bits.test(s[i]) == want)
        ++i;
    return i;
}

struct UnitScan {
    static size_t nlen(const KOV_UTF16* s, size_t max) { return scan_len(s, max); }
    static size_t span(const KOV_UTF16* s, const KOV_UTF16* set) { return scan_set(s, set, true); }
    static size_t cspan(const KOV_UTF16* s, const KOV_UTF16* set) { return scan_set(s, set, false); }
};

KOV_UTF16* strtok_saved = nullptr;

}  // namespace

// ---- bounded twins ---------------------------------------------------------------

size_t strnlenU16(const KOV_UTF16* s, size_t max)
{
    return scan_len(s, max);
}

int strcpy_sU16(KOV_UTF16* dst, size_t dstsize, const KOV_UTF16* src)
{
    return kov_bounded::strcpy_s<KOV_UTF16, UnitScan>(dst, dstsize, src);
}

int strcat_sU16(KOV_UTF16* dst, size_t dstsize, const KOV_UTF16* src)
{
    return kov_bounded::strcat_s<KOV_UTF16, UnitScan>(dst, dstsize, src);
}

int strncpy_sU16(KOV_UTF16* dst, size_t dstsize, const KOV_UTF16* src, size_t count)
{
    return kov_bounded::strncpy_s<KOV_UTF16, UnitScan>(dst, dstsize, src, count);
}

int strncat_sU16(KOV_UTF16* dst, size_t dstsize, const KOV_UTF16* src, size_t count)
{
    return kov_bounded::strncat_s<KOV_UTF16, UnitScan>(dst, dstsize, src, count);
}

KOV_UTF16* strtok_sU16(KOV_UTF16* str, const KOV_UTF16* delim, KOV_UTF16** context)
{
    return kov_bounded::strtok_s<KOV_UTF16, UnitScan>(str, delim, context);
}

int memcpy_sU16(KOV_UTF16* dst, size_t dstsize, const KOV_UTF16* src, size_t count)
{
    return kov_bounded::memcpy_s<KOV_UTF16, false>(dst, dstsize, src, count);
}

int memmove_sU16(KOV_UTF16* dst, size_t dstsize, const KOV_UTF16* src, size_t count)
{
    return kov_bounded::memcpy_s<KOV_UTF16, true>(dst, dstsize, src, count);
}

// ---- plain string functions ------------------------------------------------------

size_t strlenU16(const KOV_UTF16* s)
{
    return scan_len(s, SIZE_MAX);
}

KOV_UTF16* strcpyU16(KOV_UTF16* dst, const KOV_UTF16* src)
{
    std::memcpy(dst, src, (strlenU16(src) + 1) * sizeof(KOV_UTF16));
    return dst;
}

KOV_UTF16* strcatU16(KOV_UTF16* dst, const KOV_UTF16* src)
{
    strcpyU16(dst + strlenU16(dst), src);
    return dst;
}

KOV_UTF16* strncpyU16(KOV_UTF16* dst, const KOV_UTF16* src, size_t n)
{
    const size_t len = scan_len(src, n);
    std::memcpy(dst, src, len * sizeof(KOV_UTF16));
    if (len < n)
        std::memset(dst + len, 0, (n - len) * sizeof(KOV_UTF16));
    return dst;
}

KOV_UTF16* strncatU16(KOV_UTF16* dst, const KOV_UTF16* src, size_t n)
{
    KOV_UTF16* end = dst + strlenU16(dst);
    const size_t len = scan_len(src, n);
    std::memcpy(end, src, len * sizeof(KOV_UTF16));
    end[len] = 0;
    return dst;
}

int strcmpU16(const KOV_UTF16* a, const KOV_UTF16* b)
{
    while (*a != 0 && *a == *b) {
        ++a;
        ++b;
    }
    return static_cast<int>(*a) - static_cast<int>(*b);
}

int strncmpU16(const KOV_UTF16* a, const KOV_UTF16* b, size_t n)
{
    for (size_t i = 0; i < n; ++i) {
        if (a[i] != b[i])
            return static_cast<int>(a[i]) - static_cast<int>(b[i]);
        if (a[i] == 0)
            break;
    }
    return 0;
}

KOV_UTF16* strchrU16(const KOV_UTF16* s, KOV_UTF16 unit)
{
    if (unit == 0)
        return const_cast<KOV_UTF16*>(s + strlenU16(s));
    for (; *s != 0; ++s)
        if (*s == unit)
            return const_cast<KOV_UTF16*>(s);
    return nullptr;
}

KOV_UTF16* strrchrU16(const KOV_UTF16* s, KOV_UTF16 unit)
{
    const KOV_UTF16* last = nullptr;
    for (;; ++s) {
        if (*s == unit)
            last = s;
        if (*s == 0)
            break;
    }
    return const_cast<KOV_UTF16*>(last);
}

KOV_UTF16* strpbrkU16(const KOV_UTF16* s, const KOV_UTF16* set)
{
    const KOV_UTF16* p = s + scan_set(s, set, false);
    return *p != 0 ? const_cast<KOV_UTF16*>(p) : nullptr;
}

size_t strspnU16(const KOV_UTF16* s, const KOV_UTF16* set)
{
    return scan_set(s, set, true);
}

size_t strcspnU16(const KOV_UTF16* s, const KOV_UTF16* set)
{
    return scan_set(s, set, false);
}

KOV_UTF16* strstrU16(const KOV_UTF16* haystack, const KOV_UTF16* needle)
{
    const size_t nlen = strlenU16(needle);
    if (nlen == 0)
        return const_cast<KOV_UTF16*>(haystack);
    const size_t hlen = strlenU16(haystack);
    if (nlen > hlen)
        return nullptr;
    const KOV_UTF16* hend = haystack + hlen;
    if (nlen > 32) {
        // A long needle would make the plain search quadratic: search with the
        // good-suffix rule instead, which stays linear in the haystack.
        try {
            const std::boyer_moore_searcher<const KOV_UTF16*> bm(needle, needle + nlen);
            const KOV_UTF16* hit = std::search(haystack, hend, bm);
            return hit == hend ? nullptr : const_cast<KOV_UTF16*>(hit);
        } catch (const std::bad_alloc&) {
            // Fall through to the plain search.
        }
    }
    const KOV_UTF16 first = needle[0];
    for (const KOV_UTF16* p = haystack; p + nlen <= hend; ++p) {
        if (*p == first && std::memcmp(p + 1, needle + 1, (nlen - 1) * sizeof(KOV_UTF16)) == 0)
            return const_cast<KOV_UTF16*>(p);
    }
    return nullptr;
}

KOV_UTF16* strtokU16(KOV_UTF16* s, const KOV_UTF16* delim)
{
    if (s == nullptr)
        s = strtok_saved;
    if (s == nullptr)
        return nullptr;
    s += scan_set(s, delim, true);
    if (*s == 0) {
        strtok_saved = s;
        return nullptr;
    }
    KOV_UTF16* end = s + scan_set(s, delim, false);
    if (*end != 0) {
        *end = 0;
        strtok_saved = end + 1;
    } else {
        strtok_saved = end;
    }
    return s;
}

KOV_UTF16* strdupU16(const KOV_UTF16* s)
{
    const size_t n = strlenU16(s) + 1;
    auto* p = static_cast<KOV_UTF16*>(std::malloc(n * sizeof(KOV_UTF16)));
    if (p != nullptr)
        std::memcpy(p, s, n * sizeof(KOV_UTF16));
    return p;
}

int memcmpU16(const KOV_UTF16* a, const KOV_UTF16* b, size_t n)
{
    size_t i = 0;
    for (; n - i >= 4; i += 4) {
        uint64_t wa, wb;
        std::memcpy(&wa, a + i, 8);
        std::memcpy(&wb, b + i, 8);
        if (wa != wb) {
            // Units lie in the word in memory order, the first in the low bits.
            const size_t k = static_cast<size_t>(__builtin_ctzll(wa ^ wb)) / 16;
            return static_cast<int>(a[i + k]) - static_cast<int>(b[i + k]);
        }
    }
    for (; i < n; ++i)
        if (a[i] != b[i])
            return static_cast<int>(a[i]) - static_cast<int>(b[i]);
    return 0;
}

KOV_UTF16* memchrU16(const KOV_UTF16* s, KOV_UTF16 unit, size_t n)
{
    for (size_t i = 0; i < n; ++i)
        if (s[i] == unit)
            return const_cast<KOV_UTF16*>(s + i);
    return nullptr;
}

KOV_UTF16* memsetU16(KOV_UTF16* dst, KOV_UTF16 unit, size_t n)
{
    for (size_t i = 0; i < n; ++i)
        dst[i] = unit;
    return dst;
}

void* memmoveBytesU16(void* dst, const void* src, size_t nbytes)
{
    return std::memmove(dst, src, nbytes);
}
void* memcpyBytesU16(void* dst, const void* src, size_t nbytes)
{
    return std::memcpy(dst, src, nbytes);
}
void* callocU16(size_t n, size_t size)
{
    return std::calloc(n, size);
}
void* reallocU16(void* p, size_t size)
{
    return std::realloc(p, size);
}
void* mallocU16(size_t size)
{
    return std::malloc(size);
}
