// Code tables shared by the deflate-style coder and decoder: the length and
// distance codes with their extra bits, the order of the code-length code and
// the fixed literal/length and distance code lengths.
#pragma once

#include <array>
#include <cstdint>

namespace huff {

inline constexpr int kWindowSize = 16384;  // window of the stream (a quarter of the coder's buffer)
inline constexpr int kMinMatch = 3;
inline constexpr int kMaxMatch = 258;
inline constexpr int kLiterals = 256;
inline constexpr int kEndBlock = 256;
inline constexpr int kLengthCodes = 29;
inline constexpr int kLitLenCodes = kLiterals + 1 + kLengthCodes;  // 286
inline constexpr int kDistCodes = 30;
inline constexpr int kBitLenCodes = 19;
inline constexpr int kMaxBits = 15;
inline constexpr int kMaxBitLenBits = 7;

inline constexpr std::array<uint8_t, kLengthCodes> kLengthExtra = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                                                   2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
inline constexpr std::array<uint8_t, kDistCodes> kDistExtra = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                                               6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
inline constexpr std::array<uint8_t, kBitLenCodes> kBitLenExtra = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                                                   0, 0, 0, 0, 0, 0, 2, 3, 7};
inline constexpr std::array<uint8_t, kBitLenCodes> kBitLenOrder = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                                                   11, 4,  12, 3, 13, 2, 14, 1, 15};

// Smallest length (3..258) of each length code.
inline constexpr std::array<uint16_t, kLengthCodes> kLengthBase = [] {
    std::array<uint16_t, kLengthCodes> b{};
    int len = 3;
    for (int c = 0; c < kLengthCodes - 1; ++c) {
        b[c] = static_cast<uint16_t>(len);
        len += 1 << kLengthExtra[c];
    }
    b[kLengthCodes - 1] = 258;
    return b;
}();

// Smallest distance (1..24577) of each distance code.
inline constexpr std::array<uint16_t, kDistCodes> kDistBase = [] {
    std::array<uint16_t, kDistCodes> b{};
    int d = 1;
    for (int c = 0; c < kDistCodes; ++c) {
        b[c] = static_cast<uint16_t>(d);
        d += 1 << kDistExtra[c];
    }
    return b;
}();

// Code of each match length minus 3; length 258 has its own code 28.
inline constexpr std::array<uint8_t, 256> kLengthCode = [] {
    std::array<uint8_t, 256> t{};
    int length = 0;
    for (int code = 0; code < kLengthCodes - 1; ++code)
        for (int n = 0; n < (1 << kLengthExtra[code]); ++n)
            t[length++] = static_cast<uint8_t>(code);
    t[255] = kLengthCodes - 1;
    return t;
}();

// Code of distance - 1: the first 256 entries direct, then by (distance - 1) >> 7.
inline constexpr std::array<uint8_t, 512> kDistCode = [] {
    std::array<uint8_t, 512> t{};
    int dist = 0;
    int code = 0;
    for (; code < 16; ++code)
        for (int n = 0; n < (1 << kDistExtra[code]); ++n)
            t[dist++] = static_cast<uint8_t>(code);
    dist >>= 7;
    for (; code < kDistCodes; ++code)
        for (int n = 0; n < (1 << (kDistExtra[code] - 7)); ++n)
            t[256 + dist++] = static_cast<uint8_t>(code);
    return t;
}();

// Written as a select of the index, so that the compiler needs no branch.
inline int DistCode(uint32_t d)
{
    const uint32_t index = d < 256 ? d : 256 + (d >> 7);
    return kDistCode[index];
}

// Fixed code lengths of literal/length symbols 0..287.
constexpr int FixedLitLenLength(int sym)
{
    return sym < 144 ? 8 : sym < 256 ? 9 : sym < 280 ? 7 : 8;
}
inline constexpr int kFixedDistLength = 5;

// Reverses the low len bits of code.
constexpr uint32_t ReverseBits(uint32_t code, int len)
{
    uint32_t r = 0;
    for (int i = 0; i < len; ++i) {
        r = (r << 1) | (code & 1);
        code >>= 1;
    }
    return r;
}

}  // namespace huff
