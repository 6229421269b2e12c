// fuzz-libs: kov_krn_rscp
// Entry names read from archives are untrusted UTF-8: convert arbitrary bytes
// to the local code page (also in place and into small buffers) and check
// that the result round-trips through UTF-8.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "krn/rscp/rscp.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    // The first byte picks the destination size; the rest is the name.
    const std::size_t dstSize = data[0];
    const std::string name(reinterpret_cast<const char*>(data + 1), size - 1);
    const char* src = name.c_str();  // stops at the first NUL, like a stored name
    const std::size_t srcLen = std::strlen(src);

    std::vector<char> dst(dstSize ? dstSize : 1);
    std::size_t len = 0;
    const int rc = Utf8nToUcnCPInPlace(dst.data(), dstSize, &len, src);
    if (rc == 0 && (len >= dstSize || dst[len] != '\0' || std::strlen(dst.data()) != len))
        std::abort();

    // In place, in a buffer exactly as long as the name.
    std::vector<char> inPlace(src, src + srcLen + 1);
    std::size_t localLen = 0;
    if (Utf8nToUcnCPInPlace(inPlace.data(), inPlace.size(), &localLen, inPlace.data()) != 0)
        std::abort();  // the result never outgrows its source
    if (localLen > srcLen)
        std::abort();

    // Local code page -> UTF-8 -> local code page gives the same bytes.
    std::vector<char> utf8(6 * localLen + 1);
    std::size_t utf8Len = 0;
    if (UcnToUtf8nCPStr(utf8.data(), utf8.size(), &utf8Len, inPlace.data()) != 0)
        std::abort();
    std::vector<char> back(localLen + 1);
    std::size_t backLen = 0;
    if (Utf8nToUcnCPInPlace(back.data(), back.size(), &backLen, utf8.data()) != 0 ||
        backLen != localLen || std::memcmp(back.data(), inPlace.data(), localLen) != 0)
        std::abort();

    // A too small UTF-8 buffer is refused and left empty.
    if (utf8Len > 0) {
        std::vector<char> small(utf8Len);
        if (UcnToUtf8nCPStr(small.data(), small.size(), nullptr, inPlace.data()) != RSCPETOOLONG ||
            small[0] != '\0')
            std::abort();
    }
    return 0;
}
