// The 8-byte header in front of every compressed stream, and the
// little-endian word helpers used by the segmented framing.
//
//   0..3  uncompressed length, unsigned 32-bit little-endian
//   4     0x10 | segmented (0x08) | algorithm (1 LZW-style, 2 Huffman-style)
//   5..6  magic 0x1F 0x9D
//   7     LZW-style: 0x80 (block mode) | maximum code width; Huffman-style: level
#pragma once

#include <cstdint>

#include "cslib/cslib.h"  // CS_HEAD_SIZE and CsHeaderLength are public

inline constexpr uint8_t CS_MAGIC0 = 0x1F;
inline constexpr uint8_t CS_MAGIC1 = 0x9D;
inline constexpr int CS_ALG_LZC = 1;  // algorithm nibble of the LZW-style codec
inline constexpr int CS_ALG_LZH = 2;  // algorithm nibble of the Huffman-style codec
inline constexpr int CS_HEAD_SEGMENTED = 0x08;
inline constexpr int CS_HEAD_VERSION = 0x10;

inline void CsPutLe32(uint8_t* p, uint32_t v)
{
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
    p[3] = static_cast<uint8_t>(v >> 24);
}

inline uint32_t CsGetLe32(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}

// Writes the header: algorithm is CS_ALG_LZC or CS_ALG_LZH, segmented is 0 or
// CS_HEAD_SEGMENTED, param goes to byte 7.  A negative length gives -13 and
// nothing is written; else 0.
int CsWriteHeader(uint8_t* out, int32_t streamLen, int algorithm, int segmented, int param);

// Low nibble of byte 4: algorithm in bits 0-2, segmented flag in bit 3.
int CsHeaderAlgorithm(const uint8_t* hdr);

// High nibble of byte 4 (written as 1; not checked by readers).
int CsHeaderVersion(const uint8_t* hdr);

// Byte 7: the codec parameter.
inline int CsHeaderParam(const uint8_t* hdr)
{
    return hdr[7];
}
