// The bounded string and memory rules, written once for any element type.
//
// The 8-bit functions of kovstr.h and their 16-bit twins share these rules;
// each instance supplies its own scanners through a Scan type with
//   static size_t nlen(const C* s, size_t max);   // bounded length
//   static size_t span(const C* s, const C* set);  // leading run of set members
//   static size_t cspan(const C* s, const C* set); // leading run of non-members
// Sizes and counts are in elements; results are 0, or KOV_ERANGE when the
// result does not fit.  Pointers are not checked.
#pragma once

#include <cerrno>
#include <cstddef>
#include <cstring>

namespace kov_bounded {

constexpr int kRange = 34;
constexpr int kInval = 22;

template <class C, class Scan>
int strcpy_s(C* dst, size_t dstsize, const C* src)
{
    if (dstsize == 0)
        return 0;
    const size_t len = Scan::nlen(src, dstsize);
    if (len < dstsize) {
        std::memcpy(dst, src, (len + 1) * sizeof(C));
        return 0;
    }
    // No terminator within dstsize: what fitted is copied, the result is empty.
    std::memcpy(dst, src, dstsize * sizeof(C));
    dst[0] = 0;
    return kRange;
}

template <class C, class Scan>
int strcat_s(C* dst, size_t dstsize, const C* src)
{
    const size_t len = dstsize == 0 ? 0 : Scan::nlen(dst, dstsize);
    if (len == dstsize)
        return kRange;
    const size_t room = dstsize - len;  // >= 1, terminator included
    const size_t slen = Scan::nlen(src, room);
    if (slen < room) {
        std::memcpy(dst + len, src, (slen + 1) * sizeof(C));
        return 0;
    }
    std::memcpy(dst + len, src, room * sizeof(C));
    dst[0] = 0;
    return kRange;
}

template <class C, class Scan>
int strncpy_s(C* dst, size_t dstsize, const C* src, size_t count)
{
    if (dstsize == 0)
        return 0;
    // Any count, SIZE_MAX included, is bounded by the room for text.
    const size_t maxlen = count < dstsize - 1 ? count : dstsize - 1;
    const size_t len = maxlen == 0 ? 0 : Scan::nlen(src, maxlen);
    std::memcpy(dst, src, len * sizeof(C));
    dst[len] = 0;
    return 0;
}

template <class C, class Scan>
int strncat_s(C* dst, size_t dstsize, const C* src, size_t count)
{
    const size_t len = dstsize == 0 ? 0 : Scan::nlen(dst, dstsize);
    if (len == dstsize)
        return kRange;
    const size_t room = dstsize - len;
    if (room <= count && Scan::nlen(src, room) == room) {
        dst[0] = 0;
        return kRange;
    }
    if (count == 0)
        return 0;
    // Here either count < room, or src ends within room - 1 elements: the text
    // and its terminator fit.
    const size_t add = Scan::nlen(src, count);
    std::memcpy(dst + len, src, add * sizeof(C));
    dst[len + add] = 0;
    return 0;
}

template <class C, class Scan>
C* strtok_s(C* str, const C* delim, C** context)
{
    if (str == nullptr) {
        str = *context;
        if (str == nullptr) {
            errno = kInval;
            return nullptr;
        }
    }
    str += Scan::span(str, delim);
    if (*str == 0) {
        *context = nullptr;
        return nullptr;
    }
    C* end = str + Scan::cspan(str, delim);
    if (*end != 0) {
        *end = 0;
        *context = end + 1;
    } else {
        *context = nullptr;
    }
    return str;
}

// Block copy (move = true handles overlap): count > dstsize zero-fills the
// destination without reading the source.
template <class C, bool move>
int memcpy_s(C* dst, size_t dstsize, const C* src, size_t count)
{
    if (count > dstsize) {
        if (dstsize != 0)
            std::memset(dst, 0, dstsize * sizeof(C));
        return kRange;
    }
    if (count != 0) {
        if (move)
            std::memmove(dst, src, count * sizeof(C));
        else
            std::memcpy(dst, src, count * sizeof(C));
    }
    return 0;
}

}  // namespace kov_bounded
