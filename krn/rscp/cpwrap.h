// Conversions around the engine for callers whose buffers or needs differ
// from its plain contract: data whose 16-bit units are stored big-endian
// whatever the code page's own order (and may start at odd addresses), one
// character at a time, unit by unit with a '#' for each unit that cannot be
// converted, strictly first and then again with substitution, and with
// lengths instead of end pointers.
//
// All take an activated converter object and return the library's codes
// (those of rscpCConvert and the ones listed here).  The character unit of a
// code page is the length of its space character.
#pragma once

#include <cstdint>

#include "krn/rscp/cpobject.h"

// Byte-order-neutral forms: a 16-bit source of a little-endian code page is
// read as big-endian units, a little-endian target is written as big-endian
// units.  16 "CP9" for the same cursor or overlapping windows, 16 "CP7" for
// an odd length of a 16-bit source, 2048 "F2K" for a side of 4-byte units,
// 1 "CP8" when a work buffer cannot be had.
//   The plain form realigns an odd 16-bit source or destination through a
// work buffer (2,048 bytes on the stack, larger ones from the memory hook).
//   The "A" form always takes its source work buffer from the memory hook,
// skips one byte of an odd destination of a 16-bit target (the byte is left
// as it was), and after a successful conversion pads the output with the
// target's space up to one target unit per source unit consumed (not past
// the destination's end).
uint32_t rscpCConvertNeutral(rscpCObj_t* obj, uint8_t** dst, uint8_t* dstEnd, const uint8_t** src,
                             const uint8_t* srcEnd);
uint32_t rscpCConvertNeutralA(rscpCObj_t* obj, uint8_t** dst, uint8_t* dstEnd, const uint8_t** src,
                              const uint8_t* srcEnd);

// Converts exactly one character: the source and destination windows start
// at one unit each and widen one unit at a time until the character fits.
// 64 "C??" with the fill option that truncates spaces; 512 "CPW" when the
// source holds no whole character; 512 "CPX" when a unit is unknown; 32 when
// the destination cannot take the character.  The broken option like_miss
// counts as stop_restartable for the call.
uint32_t rscpCConvertOneChar(rscpCObj_t* obj, uint8_t** dst, uint8_t* dstEnd, const uint8_t** src,
                             const uint8_t* srcEnd);

// Converts unit by unit; a unit that is cut or cannot be converted becomes
// '#' (internal character number 35).  512 "CPW" for a source shorter than
// one unit or one that ends inside a unit (after the whole units).  The fill
// option applies once, after the last unit.
uint32_t rscpCConvertUnits(rscpCObj_t* obj, uint8_t** dst, uint8_t* dstEnd, const uint8_t** src, const uint8_t* srcEnd);

// Converts with the options "stop" and "stop_restartable"; on a conversion
// error (anything but 0, 32 and 512) stores the bytes consumed and produced
// before the error, copies the source from the failing character into
// errBytes (at most *errLen bytes; *errLen becomes the number copied, 0
// without a buffer) and converts the whole source again with "substitute",
// adding that run's substitutions to *substCount.  The object keeps the
// options set last.  Any out pointer may be NULL.
uint32_t rscpCConvertSubstRetry(rscpCObj_t* obj, uint8_t** dst, uint8_t* dstEnd, const uint8_t** src,
                                const uint8_t* srcEnd, uint32_t* substCount, int32_t* consumedBeforeError,
                                int32_t* producedBeforeError, uint8_t* errBytes, int32_t* errLen);

// The engine with lengths: *dstLen and *srcLen give the room and the input
// and come back as the bytes produced and consumed.
uint32_t rscpCConvertLen(uint8_t* dst, uint32_t* dstLen, const uint8_t* src, uint32_t* srcLen, rscpCObj_t* obj);
