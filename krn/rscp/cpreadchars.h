// Where the characters of a code page begin and end as its conversions read
// them.  The character lengths by NLS kind (rscpLengthOfChar) know the
// families of the kinds only; a page whose kind has no rule of its own (the
// Hong Kong pages of kind 8) is read in byte pairs all the same.  This is a
// copy of the input table that the table walk follows from the first byte of
// a character, taken from a converter of the page into UTF-8, so that it
// tells every page as its converter reads it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

struct rscpReadChars {
    // 256 entries a block, block 0 for the first byte of a character: 0 no
    // character ends there; RSCP_READ_NEXT + n the walk reads the next byte
    // in block n; else the length of the character that ends there.
    std::vector<uint16_t> blocks;
    uint32_t longest = 1;    // bytes of the longest character
    bool shifted = false;    // ISO-2022: the shift state picks the table (blocks left empty)
    bool multiByte = false;  // some first byte begins a character of several bytes
};
inline constexpr uint16_t RSCP_READ_NEXT = 0x8000;

// Fills chars for the code page (4 characters): 0, or the code of the
// converter's set-up (a page the library cannot convert into UTF-8).
uint32_t rscpReadCharsOfCP(const char* cp4, rscpReadChars* chars);

// The bytes the walk reads as one character at p (left >= 1): a character
// of several bytes whole; 1 for a character of one byte and for a first byte
// that forms no character with the bytes after it (the walk reads them
// again); the bytes read but the last where a longer run forms none; the
// rest when the name ends inside a character.
size_t rscpLengthOfReadChar(const rscpReadChars& chars, const uint8_t* p, size_t left);
