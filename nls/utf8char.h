// The one check of UTF-8 well-formedness that the name conversions and the
// shown names share: a character is well formed in its shortest form, is no
// surrogate and lies at most at U+10FFFF; five- and six-byte forms never are.
#pragma once

#include <cstddef>
#include <cstdint>

// The length of the well-formed UTF-8 character at p (p < end; 1 for
// ASCII), or 0 when the bytes there form none.  broken, when given, is then
// set to the length of the broken sequence: the longest start of a
// well-formed character there, at least one byte.
inline size_t KovUtf8CharLength(const uint8_t* p, const uint8_t* end, size_t* broken = nullptr)
{
    const uint8_t b0 = p[0];
    if (b0 < 0x80)
        return 1;
    size_t length;
    uint8_t lo = 0x80, hi = 0xBF;  // the second byte
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        length = 2;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        length = 3;
        if (b0 == 0xE0)
            lo = 0xA0;
        else if (b0 == 0xED)
            hi = 0x9F;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        length = 4;
        if (b0 == 0xF0)
            lo = 0x90;
        else if (b0 == 0xF4)
            hi = 0x8F;
    } else {
        if (broken != nullptr)
            *broken = 1;
        return 0;
    }
    for (size_t i = 1; i < length; ++i) {
        if (p + i >= end || p[i] < (i == 1 ? lo : 0x80) || p[i] > (i == 1 ? hi : 0xBF)) {
            if (broken != nullptr)
                *broken = i;
            return 0;
        }
    }
    return length;
}
