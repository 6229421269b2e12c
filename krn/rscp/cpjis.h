// Japanese double-byte forms converted by arithmetic: Shift-JIS, EUC-JP,
// JIS X 0208 pairs, ISO-2022-JP and the FS/GS shift forms of host systems.
//
// Pair transforms rewrite one double-byte character in place (arithmetic
// modulo 256).  Buffer transforms take (output, address of the output
// length, input, address of the input length): on entry the lengths are the
// output capacity and the input size in bytes; on return they are the bytes
// written and the bytes consumed, whatever the result:
//   0     the whole input was converted
//   32    the output cannot take the next character (the input left over is
//         what was not consumed)
//   512   the input ends inside an ISO-2022-JP double-byte pair (the ISO-2022-JP
//         decoders; the lone byte is not consumed)
//   2048  invalid input (rscpSjisRunToEuc and the double-byte dispatchers)
// No transform reads past the input length or writes past the capacity.  A
// transform that writes shift sequences always leaves its output in single-
// byte mode, so each output is complete on its own even after a 32.
#pragma once

#include <cstdint>

// ---- pair transforms --------------------------------------------------------------

void rscpSjisToJis(uint8_t* lead, uint8_t* trail);
void rscpSjisToJisL1(uint8_t* lead, uint8_t* trail);
void rscpSjisToEuc(uint8_t* lead, uint8_t* trail);
void rscpSjisToEucL1(uint8_t* lead, uint8_t* trail);
void rscpJisToSjis(uint8_t* row, uint8_t* cell);
void rscpJisToSjisL1(uint8_t* row, uint8_t* cell);
void rscpEucToSjis(uint8_t* lead, uint8_t* trail);
void rscpEucToSjisL1(uint8_t* lead, uint8_t* trail);
// JIS <-> EUC-JP: bit 7 of both bytes flipped (the same in both directions).
void rscpJisEucFlip(uint8_t* a, uint8_t* b);
void rscpEucJisFlip(uint8_t* a, uint8_t* b);

// ---- buffer transforms -----------------------------------------------------------

#define RSCP_JIS_BUF(name) uint32_t name(uint8_t* out, int32_t* outLen, const uint8_t* in, int32_t* inLen)

// A run of Shift-JIS double-byte characters with leads 0x81-0x9F to EUC-JP;
// 2048 at the first byte that does not begin such a character.
RSCP_JIS_BUF(rscpSjisRunToEuc);
// EUC-JP to Shift-JIS; single shift 2 gives the katakana byte (L1: '#').
RSCP_JIS_BUF(rscpEucToSjisBuf);
RSCP_JIS_BUF(rscpEucToSjisL1Buf);
// ISO-2022-JP to Shift-JIS or EUC-JP (the input starts in single-byte mode).
RSCP_JIS_BUF(rscpIso2022ToSjisBuf);
RSCP_JIS_BUF(rscpIso2022ToSjisL1Buf);
RSCP_JIS_BUF(rscpIso2022ToEucBuf);
// Into ISO-2022-JP: ESC $ B before double-byte runs, ESC ( J before single
// bytes; a double-byte run at the end is closed with ESC ( J.
RSCP_JIS_BUF(rscpEucToIso2022Buf);
RSCP_JIS_BUF(rscpSjisToIso2022Buf);
RSCP_JIS_BUF(rscpSjisToIso2022L1Buf);
// Into the FS (1C 26 / 1C 2E) and GS (1D "1;1smM" / 1D "0;1smM") shift forms.
RSCP_JIS_BUF(rscpSjisToFsShiftBuf);
RSCP_JIS_BUF(rscpSjisToFsShiftL1Buf);
RSCP_JIS_BUF(rscpSjisToGsShiftBuf);
RSCP_JIS_BUF(rscpSjisToGsShiftL1Buf);
// Every character as two bytes: a JIS pair, or 0x00 and the byte.
RSCP_JIS_BUF(rscpSjisToCellsBuf);
RSCP_JIS_BUF(rscpSjisToCellsL1Buf);
// Shift-JIS to EUC-JP; output and input may be the same buffer (then at most
// 256 input bytes are converted per call).
RSCP_JIS_BUF(rscpSjisToEucBuf);

// The double-byte dispatchers: the longest leading run of Shift-JIS
// double-byte characters (leads 0x81-0x9F) of the input goes through the
// transform of the target code page (four characters): 8200 ISO-2022-JP,
// 8210 FS shift, 8211 GS shift, any other 2-byte cells; the L1 dispatcher
// uses the L1 transforms.  2048 when the input does not begin with such a
// character.
uint32_t rscpSjisDbcsToJis(uint8_t* out, int32_t* outLen, const uint8_t* in, int32_t* inLen, const char* cp4);
uint32_t rscpSjisDbcsToJisL1(uint8_t* out, int32_t* outLen, const uint8_t* in, int32_t* inLen, const char* cp4);

#undef RSCP_JIS_BUF

// Length of the EUC-JP character at p with left bytes: 0 none left or a lead
// byte as the last byte, 1 a single byte or a lead without a trail, 2 a pair.
int32_t rscpEucCharLen(const uint8_t* p, int32_t left);
