// Conversions for program-to-program conversations with EBCDIC partners:
// their data travels in the code page "0100"; the local side holds it in its
// non-Unicode code page or as UTF-16 ("4103").  Each call converts what
// fits, advances the caller's cursors and records failures (kind 'C', every
// code returned).
#pragma once

#include <cstdint>

// Copies min(destination length, source length) bytes and reports that count
// as both used lengths; 32 (recorded) when the source was longer.
uint32_t rscpCpicCopyA(uint8_t* dst, uint64_t dstLen, const uint8_t* src, uint64_t srcLen, uint64_t* inUsed,
                       uint64_t* outUsed);
uint32_t rscpCpicCopyB(uint8_t* dst, uint64_t dstLen, const uint8_t* src, uint64_t srcLen, uint64_t* inUsed,
                       uint64_t* outUsed);

// Single-byte conversion between "0100" and a local code page by the pair
// filter's table (or a plain copy when no conversion is needed): 0, 32 when
// the destination took only part of the source (the rest stays for the next
// call), 1 (recorded) when the filter has no table for the pair, the bytes
// then copied unchanged.
uint32_t rscpCpicFromEbcdic(uint8_t** dst, uint8_t* dstEnd, const uint8_t** src, const uint8_t* srcEnd,
                            const char* target);
uint32_t rscpCpicToEbcdic(uint8_t** dst, uint8_t* dstEnd, const uint8_t** src, const uint8_t* srcEnd,
                          const char* source);

// Between "0100" and UTF-16 through the local code page, at most 1,024
// characters a call: the code of the single-byte step when it is not 0, else
// that of the conversion to or from UTF-16 (32 or 1 when it failed; what it
// could not convert is then passed on as 7-bit characters and '#').
uint32_t rscpCpicEbcdicToUc(uint16_t** dst, uint16_t* dstEnd, const uint8_t** src, const uint8_t* srcEnd,
                            const char* local);
uint32_t rscpCpicUcToEbcdic(uint8_t** dst, uint8_t* dstEnd, const uint16_t** src, const uint16_t* srcEnd,
                            const char* local);

// The two steps: by the pair filter, and through a converter object.
uint32_t rscpCpicF1Convert(uint8_t** dst, uint8_t* dstEnd, const uint8_t** src, const uint8_t* srcEnd,
                           const char* target, const char* source);
uint32_t rscpCpicCccConvert(uint8_t** dst, uint8_t* dstEnd, const uint8_t** src, const uint8_t* srcEnd,
                            const char* target, const char* source);
