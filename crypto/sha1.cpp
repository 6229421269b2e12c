// SHA-1 compression function (FIPS 180).
#include "crypto/hablocks.h"

void haSha1Blocks(uint32_t h[5], const uint8_t* p, size_t nblocks)
{
    for (; nblocks > 0; --nblocks, p += 64) {
        uint32_t w[16];
        for (int i = 0; i < 16; ++i)
            w[i] = haLoadBe32(p + 4 * i);
        uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4];
#pragma GCC unroll 80
        for (int i = 0; i < 80; ++i) {
            if (i >= 16)
                w[i & 15] = haRotl32(w[(i + 13) & 15] ^ w[(i + 8) & 15] ^ w[(i + 2) & 15] ^ w[i & 15], 1);
            uint32_t f, k;
            if (i < 20) {
                f = d ^ (b & (c ^ d));
                k = 0x5A827999;
            } else if (i < 40) {
                f = b ^ c ^ d;
                k = 0x6ED9EBA1;
            } else if (i < 60) {
                f = (b & c) | (d & (b | c));
                k = 0x8F1BBCDC;
            } else {
                f = b ^ c ^ d;
                k = 0xCA62C1D6;
            }
            const uint32_t t = haRotl32(a, 5) + f + e + k + w[i & 15];
            e = d;
            d = c;
            c = haRotl32(b, 30);
            b = a;
            a = t;
        }
        h[0] += a;
        h[1] += b;
        h[2] += c;
        h[3] += d;
        h[4] += e;
    }
}
