// Guarded copies: an overlap of source and destination is a caller's fault,
// reported on stderr; the process aborts unless KOVMEMCPYCHK is exactly "0".
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "nls/nlsui.h"

namespace {

void* guardedCopy(const char* name, void* dst, const void* src, size_t n, const char* file, int line)
{
    if (n == 0)
        return dst;
    const auto d = reinterpret_cast<uintptr_t>(dst);
    const auto s = reinterpret_cast<uintptr_t>(src);
    // Both ranges are real objects of n bytes, so the sums cannot wrap.
    if (s < d + n && d < s + n) {
        std::fprintf(stderr, "%s overlapping - from: %p to: %p len: %d (%s:%d)\n", name, src, dst,
                     static_cast<int32_t>(n), file ? file : "", line);
        const char* chk = std::getenv("KOVMEMCPYCHK");
        if (chk == nullptr || std::strcmp(chk, "0") != 0)
            std::abort();
        // Allowed to go on: give the caller the bytes it meant to copy.
        return std::memmove(dst, src, n);
    }
    return std::memcpy(dst, src, n);
}

}  // namespace

void* memcpyU(void* dst, const void* src, size_t n, const char* file, int line)
{
    return guardedCopy("memcpyU", dst, src, n, file, line);
}

void* memcpyR(void* dst, const void* src, size_t n, const char* file, int line)
{
    return guardedCopy("memcpyR", dst, src, n, file, line);
}
