// fuzz-libs: kov_krn_rscp
// The conversion wrappers on arbitrary bytes: any pair of code pages and
// options, odd or even buffers of any size (exactly as large as given, so
// that a read or write outside shows), and the cursors must come back inside
// their windows with one of the library's codes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <vector>

#include "krn/rscp/cpactivate.h"
#include "krn/rscp/cpcache.h"
#include "krn/rscp/cpwrap.h"

namespace {

const char* const kPages[] = {"0120", "1100", "1101", "4102", "4103", "4105", "4110", "8000", "8100", "8200"};
constexpr unsigned kPageCount = sizeof kPages / sizeof kPages[0];

bool KnownCode(uint32_t rc)
{
    return rc == 0 || rc == 1 || rc == 16 || rc == 32 || rc == 64 || rc == 512 || rc == 2048;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const bool started = rscpi_init(RSCP_ALL_ERRORS) == 0;
    if (!started)
        std::abort();
    if (size < 5)
        return 0;
    const char* in = kPages[data[0] % kPageCount];
    const char* out = kPages[data[1] % kPageCount];
    const unsigned wrapper = data[2] % 6, srcOdd = data[2] >> 3 & 1, dstOdd = data[2] >> 4 & 1;
    const size_t room = data[3];
    rscpCObj_t o;
    if (rscpCInit(&o, in, out, data[4] & 3, data[4] >> 2 & 3, data[4] >> 4 & 3) != 0)
        std::abort();
    rscpCSetCtrlCodeCv(&o, RSCPCTRL_TRY);
    if (rscpCActivate(&o) != 0)
        return 0;

    std::vector<uint8_t> source(srcOdd + size - 5), dest(dstOdd + room + 1);
    if (size > 5)
        std::memcpy(source.data() + srcOdd, data + 5, size - 5);
    const uint8_t* const s0 = source.data() + srcOdd;
    const uint8_t* const srcEnd = source.data() + source.size();
    uint8_t* const d0 = dest.data() + dstOdd;
    uint8_t* const dstEnd = dest.data() + dest.size() - 1;  // the last byte stays untouched
    dest.back() = 0xA5;
    const uint8_t* s = s0;
    uint8_t* d = d0;
    uint32_t rc = 0;
    switch (wrapper) {
    case 0:
        rc = rscpCConvertNeutral(&o, &d, dstEnd, &s, srcEnd);
        break;
    case 1:
        rc = rscpCConvertNeutralA(&o, &d, dstEnd, &s, srcEnd);
        break;
    case 2:
        rc = rscpCConvertOneChar(&o, &d, dstEnd, &s, srcEnd);
        break;
    case 3:
        rc = rscpCConvertUnits(&o, &d, dstEnd, &s, srcEnd);
        break;
    case 4: {
        uint8_t errBytes[8];
        int32_t errLen = sizeof errBytes, consumed = 0, produced = 0;
        uint32_t substs = 0;
        rc = rscpCConvertSubstRetry(&o, &d, dstEnd, &s, srcEnd, &substs, &consumed, &produced, errBytes, &errLen);
        if (errLen < 0 || errLen > int32_t(sizeof errBytes))
            std::abort();
        break;
    }
    default: {
        uint32_t dstLen = uint32_t(dstEnd - d0), srcLen = uint32_t(srcEnd - s0);
        rc = rscpCConvertLen(d0, &dstLen, s0, &srcLen, &o);
        d = d0 + dstLen;
        s = s0 + srcLen;
        break;
    }
    }
    if (!KnownCode(rc) || s < s0 || s > srcEnd || d < d0 || d > dstEnd || dest.back() != 0xA5)
        std::abort();
    // A success consumed the whole source (but a trailing part of a 16- or
    // 32-bit unit, which a substitute stands for).
    if (rc == 0 && wrapper != 2 && srcEnd - s > 3)
        std::abort();
    return 0;
}
