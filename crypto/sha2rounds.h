// The SHA-2 compression loop, shared by SHA-256 (32-bit words, 64 rounds)
// and SHA-512 (64-bit words, 80 rounds).  Fn supplies the word type, the
// big-endian word load and the four sigma functions.
#pragma once

#include <cstddef>
#include <cstdint>

template <class Fn, int Rounds>
void haSha2Blocks(typename Fn::Word h[8], const uint8_t* p, size_t nblocks, const typename Fn::Word* k)
{
    using W = typename Fn::Word;
    for (; nblocks > 0; --nblocks, p += 16 * sizeof(W)) {
        W w[16];
        for (int i = 0; i < 16; ++i)
            w[i] = Fn::Load(p + sizeof(W) * i);
        W a = h[0], b = h[1], c = h[2], d = h[3], e = h[4], f = h[5], g = h[6], hh = h[7];
#pragma GCC unroll 80
        for (int i = 0; i < Rounds; ++i) {
            if (i >= 16)
                w[i & 15] += Fn::s0(w[(i + 1) & 15]) + w[(i + 9) & 15] + Fn::s1(w[(i + 14) & 15]);
            const W t1 = hh + Fn::S1(e) + (g ^ (e & (f ^ g))) + k[i] + w[i & 15];
            const W t2 = Fn::S0(a) + ((a & b) | (c & (a | b)));
            hh = g;
            g = f;
            f = e;
            e = d + t1;
            d = c;
            c = b;
            b = a;
            a = t1 + t2;
        }
        h[0] += a;
        h[1] += b;
        h[2] += c;
        h[3] += d;
        h[4] += e;
        h[5] += f;
        h[6] += g;
        h[7] += hh;
    }
}
