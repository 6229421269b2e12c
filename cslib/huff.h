// Deflate-style codec with a 16 KiB window (algorithm 2 of the stream header).
//
// Both directions are resumable: the whole state lives in a work area owned by
// the caller (the handle layer) and a step stops whenever the input is used up
// or the output is full.  A step returns 1 (end of stream), 2 (output full),
// 3 (input needed), 0, or a negative code of cslib/cslib.h.
#pragma once

#include <cstddef>
#include <cstdint>

// Bytes of work area each direction needs; malloc alignment suffices.
size_t CsHuffComprStateSize();
size_t CsHuffDecomprStateSize();

// One compression step.
//   state      work area of CsHuffComprStateSize() bytes
//   first      first call of the stream: resets the state and writes the
//              8-byte stream header (out must then hold at least 8 bytes)
//   level      option >> 4; values outside 1..9 mean 2 (used on the first call)
//   segmented  sets the segmented bit in the header (first call)
//   streamLen  uncompressed length of the whole stream; input beyond it is ignored
//   deterministicPreamble  write a zero-length preamble, so the same input
//              always gives the same output (the library's trace level is not 0)
//   presetPreamble  on the first call: a preamble from CsHuffDrawPreamble to
//              use instead of drawing one (-1: draw), unless deterministic
// Results: 1 done, 2 output full (pending bytes wait inside; no input is taken
// until they are handed out), 3 input needed, -10, -13.
int CsHuffCompress(void* state, bool first, int level, bool segmented, int32_t streamLen, const uint8_t* in,
                   int32_t inLen, uint8_t* out, int32_t outLen, int32_t* read, int32_t* written,
                   bool deterministicPreamble, int32_t presetPreamble = -1);

// Draws the next preamble from the shared generator, as a first call does:
// the count in the low 2 bits, the filler bits above them.
uint32_t CsHuffDrawPreamble();

// One decompression step.  On the first call in starts with the 8-byte stream
// header (fewer than 8 bytes: -11; header errors as in cslib/csheader.h; exactly
// 8 bytes: read 8, result 3).
// Results: 1 all bytes produced, 2 output full, 3 input needed, -10, -11, -20,
// -22, -50, -52, -53, -54, -55, -57 (codes in cslib/cslib.h).
int CsHuffDecompress(void* state, bool first, const uint8_t* in, int32_t inLen, uint8_t* out, int32_t outLen,
                     int32_t* read, int32_t* written);
