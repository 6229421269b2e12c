// fuzz-libs: kov_krn_rscp
// Arbitrary bytes through every conversion method the engine has besides
// the plain table walk: the Unicode forms, swaps, widening and narrowing,
// the byte map, the Japanese families, the ISO-2022 walk of a source that
// designates G1 apart from its shift, tunnelled and copied characters,
// character numbers and UTF-16 sources, with all option combinations, into
// destinations of every size and alignment.  Nothing may be read or written
// outside the buffers, the cursors must stay inside them, and a success must
// consume the source.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "krn/rscp/cpactivate.h"
#include "krn/rscp/cpcache.h"
#include "krn/rscp/cpconvert.h"

namespace {

struct Pair {
    const char* in;
    const char* out;
    int32_t method;  // forced after activation; 0 keeps the activated one
};
const Pair kPairs[] = {{"4110", "4100", 0},  {"4110", "4103", 0},  {"4110", "4104", 0},  {"4101", "4110", 0},
                       {"4102", "4110", 0},  {"4105", "4110", 0},  {"4100", "4101", 0},  {"4104", "4105", 0},
                       {"1101", "4103", 0},  {"1101", "4102", 0},  {"0120", "1100", 0},  {"1100", "4100", 29},
                       {"1100", "4101", 30}, {"4100", "1100", 31}, {"4101", "1100", 32}, {"8000", "8100", 0},
                       {"8000", "8200", 0},  {"8100", "8200", 0},  {"8200", "8000", 0},  {"8200", "8100", 0},
                       {"8100", "1100", 0},  {"8100", "1160", 11}, {"8000", "4110", 8},  {"1100", "4110", 27},
                       {"4102", "1100", 33}, {"4103", "1100", 35}, {"4102", "1160", 37}, {"4103", "4110", 39},
                       {"4102", "8000", 40}, {"8599", "4110", 0},  {"8599", "8500", 0}};
constexpr size_t kPairCount = sizeof kPairs / sizeof kPairs[0];

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const bool started = rscpi_init(RSCP_ALL_ERRORS) == 0;
    if (!started)
        std::abort();
    if (size < 4)
        return 0;
    // Byte 0: the pair; 1: the options; 2: the destination size; 3: the
    // destination's offset from an aligned address.
    const Pair& pair = kPairs[data[0] % kPairCount];
    const uint8_t options = data[1];
    const size_t room = data[2] * 4u + (options >> 6);
    const size_t offset = data[3] & 7;
    const uint8_t* text = data + 4;
    const size_t length = size - 4;

    rscpCObj_t o;
    if (rscpCInit(&o, pair.in, pair.out, options & 3, (options >> 2) % 3, 0) != 0)
        std::abort();
    rscpCSetCtrlCodeCv(&o, (options >> 4) & 1);
    if ((options & 0x20) && std::strcmp(pair.in, "0120") == 0)
        rscpCSetUseF1(&o, RSCPF1_ENFORCE);
    if (rscpCActivate(&o) != 0)
        return 0;
    if (pair.method != 0)
        o.method = pair.method;
    if (pair.method == 8)
        o.langu_dep_in_major = RSCPK_SJIS;

    // Exactly sized heap buffers, so that any step outside them is caught.
    std::vector<uint8_t> source(text, text + length);
    std::vector<uint8_t> area(room + offset);
    uint8_t* const d0 = area.data() + offset;
    uint8_t* d = d0;
    const uint8_t* const s0 = source.data();
    const uint8_t* s = s0;
    const uint32_t rc = rscpCConvert(&o, &d, d0 + room, &s, s0 + length);
    if (d < d0 || d > d0 + room || s < s0 || s > s0 + length)
        std::abort();
    // Only whole parts of a unit may stay behind a success.
    if (rc == 0 && length - size_t(s - s0) >= 4)
        std::abort();
    return 0;
}
