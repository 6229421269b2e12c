// fuzz-libs: kov_krn_rscp
// Entry names read from archives are untrusted UTF-8: convert arbitrary bytes
// to the local code page (also in place and into small buffers) through the
// cached converters, check that no "/" or NUL appears that the name did not
// hold, and that the result round-trips through UTF-8.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "krn/rscp/cpcache.h"
#include "krn/rscp/cputf8local.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const bool started = rscpi_init(RSCP_ALL_ERRORS) == 0;
    if (!started)
        std::abort();
    if (size == 0)
        return 0;
    // The first byte picks the destination size; the rest is the name.
    const uint32_t dstSize = data[0];
    const std::string name(reinterpret_cast<const char*>(data + 1), size - 1);
    const char* src = name.c_str();  // stops at the first NUL, like a stored name
    const std::size_t srcLen = std::strlen(src);

    std::vector<char> dst(dstSize ? dstSize : 1, 'Z');
    uint32_t len = 0;
    const uint32_t rc = Utf8nToUcnCPInPlace(dst.data(), dstSize, &len, src);
    if (dstSize == 0 ? rc == 0 : (len >= dstSize || dst[len] != '\0' || std::strlen(dst.data()) != len))
        std::abort();
    if (rc != 0 && rc != RSCPETOOLONG && dstSize != 0)
        std::abort();

    // In place, in a buffer exactly as long as the name.
    std::vector<char> inPlace(src, src + srcLen + 1);
    uint32_t localLen = 0;
    if (Utf8nToUcnCPInPlace(inPlace.data(), uint32_t(inPlace.size()), &localLen, inPlace.data()) != 0)
        std::abort();  // the result never outgrows its source
    if (localLen > srcLen)
        std::abort();
    // A "/" only where the name held one.
    const auto slashes = [](const char* p, std::size_t n) {
        std::size_t k = 0;
        for (std::size_t i = 0; i < n; ++i)
            k += p[i] == '/';
        return k;
    };
    if (slashes(inPlace.data(), localLen) != slashes(src, srcLen))
        std::abort();

    // Local code page -> UTF-8 -> local code page gives the same bytes.
    std::vector<char> utf8(6 * localLen + 1);
    uint32_t utf8Len = 0;
    if (UcnToUtf8nCPStr(utf8.data(), int32_t(utf8.size()), &utf8Len, inPlace.data()) != 0)
        std::abort();
    std::vector<char> back(localLen + 1);
    uint32_t backLen = 0;
    if (Utf8nToUcnCPInPlace(back.data(), uint32_t(back.size()), &backLen, utf8.data()) != 0 || backLen != localLen ||
        std::memcmp(back.data(), inPlace.data(), localLen) != 0)
        std::abort();

    // A too small UTF-8 buffer gives 32 with what fitted, terminated.
    if (utf8Len > 0) {
        std::vector<char> small(utf8Len);
        uint32_t smallLen = 0;
        if (UcnToUtf8nCPStr(small.data(), int32_t(small.size()), &smallLen, inPlace.data()) != RSCPETOOLONG ||
            smallLen >= utf8Len || small[smallLen] != '\0' || std::memcmp(small.data(), utf8.data(), smallLen) != 0)
            std::abort();
    }
    return 0;
}
