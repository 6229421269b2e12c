// Writes, for every BMP unit in order, a little-endian 16-bit mask of the
// predicates (alnum, alpha, lower, print, upper, graph, punct, xdigit, space,
// cntrl from bit 0 up) followed by its lower-case and upper-case map.
#include <cstdio>

#include "i18n/kovu16/u16_ctype.h"

int main()
{
    static unsigned char out[65536 * 6];
    for (int c = 0; c < 65536; ++c) {
        int (*const preds[])(int) = {isalnumU16, isalphaU16, islowerU16,  isprintU16, isupperU16,
                                     isgraphU16, ispunctU16, isxdigitU16, isspaceU16, iscntrlU16};
        unsigned mask = 0;
        for (unsigned i = 0; i < 10; ++i) {
            const int r = preds[i](c);
            if (r != 0 && r != 1)
                return 2;
            mask |= static_cast<unsigned>(r) << i;
        }
        const unsigned v[3] = {mask, tolowerU16(static_cast<KOV_UTF16>(c)), toupperU16(static_cast<KOV_UTF16>(c))};
        for (int k = 0; k < 3; ++k) {
            out[c * 6 + k * 2] = static_cast<unsigned char>(v[k] & 0xFF);
            out[c * 6 + k * 2 + 1] = static_cast<unsigned char>(v[k] >> 8);
        }
    }
    // Values outside the unit range belong to no class.
    if (isalphaU16(-1) || isprintU16(0x10000) || iscntrlU16(-1) || isspaceU16(-1))
        return 3;
    return fwrite(out, 1, sizeof out, stdout) == sizeof out ? 0 : 1;
}
