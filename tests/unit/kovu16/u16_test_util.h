// Helpers of the 16-bit library tests: 16-bit strings from literals and
// random text.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "i18n/kovu16/u16_str.h"

using U16 = std::vector<KOV_UTF16>;

// The units of a literal with its terminator.
inline U16 u16(const char16_t* s)
{
    U16 v;
    do
        v.push_back(static_cast<KOV_UTF16>(*s));
    while (*s++ != 0);
    return v;
}

inline U16 widen(const std::string& s)
{
    U16 v;
    for (unsigned char c : s)
        v.push_back(c);
    v.push_back(0);
    return v;
}

inline std::u16string as_text(const KOV_UTF16* s)
{
    std::u16string r;
    while (*s != 0)
        r.push_back(static_cast<char16_t>(*s++));
    return r;
}

// Random non-zero units biased to the values that stress word tests.
inline KOV_UTF16 random_unit(std::mt19937& rng)
{
    static const KOV_UTF16 edge[] = {1, 0x7F, 0x80, 0xFF, 0x100, 0x7FFF, 0x8000, 0x8001, 0xFFFE, 0xFFFF};
    if (rng() % 2)
        return edge[rng() % (sizeof edge / sizeof edge[0])];
    return static_cast<KOV_UTF16>(1 + rng() % 0xFFFF);
}
