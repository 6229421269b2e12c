// Reading the conversion tables in the converter cache.  Every position is
// an offset from the cache block's start and is checked against the block's
// length before it is read, so that a damaged number never leads outside.
//
// T1 (input) blocks: 258 words, the first 256 indexed by a code byte; the
// top three bits of a word give its kind.  T2 (output) pieces: a 16-bit entry
// per 128 characters.  T3 blocks: 129 words, one per character of a page.
#pragma once

#include <cstdint>
#include <cstring>

#include "krn/rscp/cpccc.h"

inline constexpr uint32_t RSCP_T1_BYTES = 1032;
inline constexpr uint32_t RSCP_T3_BYTES = 516;

// T1 word kinds (bits 29-31).
inline constexpr uint32_t RSCP_T1_EMPTY = 0, RSCP_T1_CHAR = 1, RSCP_T1_NEXT = 2, RSCP_T1_RULE = 3,
                          RSCP_T1_OUT1 = 4, RSCP_T1_OUT2 = 5;
inline uint32_t rscpT1Kind(uint32_t w) { return w >> 29; }
inline uint32_t rscpT1Char(uint32_t w) { return w & 0xFFFFFF; }
inline uint32_t rscpT1Length(uint32_t w) { return w >> 24 & 0x1F; }
inline uint32_t rscpT1RuleNo(uint32_t w) { return w & 0x1FFF; }
inline uint32_t rscpT1RuleAttr(uint32_t w) { return w >> 13 & 0x3F; }

// The bytes [offset, offset + length) of the cache block, or NULL.
inline const uint8_t* rscpCccBytes(const rscpCcc_t* c, uint64_t offset, uint64_t length)
{
    if (c == nullptr || offset + length > c->length)
        return nullptr;
    return reinterpret_cast<const uint8_t*>(c) + offset;
}

inline bool rscpCccWord(const rscpCcc_t* c, uint64_t offset, uint32_t* w)
{
    const uint8_t* p = rscpCccBytes(c, offset, 4);
    if (p == nullptr)
        return false;
    std::memcpy(w, p, 4);
    return true;
}

// Word index (0-257) of T1 block n; block 0 is never a table.
inline bool rscpT1Word(const rscpCcc_t* c, uint32_t block, uint32_t index, uint32_t* w)
{
    return block != 0 && index < 258 && rscpCccWord(c, uint64_t(block) * RSCP_T1_BYTES + 4 * index, w);
}

// Entries a T2 piece holds: one per 128 characters up to the cache's highest.
inline uint32_t rscpT2Entries(const rscpCcc_t* c) { return (c->maxKovChar + 127) / 128; }

inline bool rscpT2Entry(const rscpCcc_t* c, uint32_t piece, uint32_t index, uint16_t* e)
{
    if (piece == 0 || index >= rscpT2Entries(c))
        return false;
    const uint8_t* p = rscpCccBytes(c, uint64_t(piece) + 2 * uint64_t(index), 2);
    if (p == nullptr)
        return false;
    std::memcpy(e, p, 2);
    return true;
}

inline bool rscpT3Word(const rscpCcc_t* c, uint32_t block, uint32_t index, uint32_t* w)
{
    return block != 0 && index < 129 && rscpCccWord(c, uint64_t(block) * RSCP_T3_BYTES + 4 * index, w);
}
