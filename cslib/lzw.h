// LZW-style codec (algorithm 1 of the stream header): the block-mode LZW code
// stream with variable code widths, codes packed in groups of 8 (a group has
// as many bytes as the width has bits).  Both directions are resumable and
// keep their whole state in a caller-owned work area.
#pragma once

#include <cstdint>

inline constexpr int LZW_INIT_BITS = 9;
inline constexpr int LZW_WRITE_BITS = 13;     // maximum width the coder writes
inline constexpr int LZW_READ_MAX_BITS = 14;  // widest stream the decoder accepts
inline constexpr int LZW_HSIZE = 9001;        // coder hash table (prime)
inline constexpr int LZW_HSHIFT = 5;
inline constexpr int LZW_CHECK_GAP = 4096;  // input bytes between ratio tests
inline constexpr int LZW_CLEAR = 256;
inline constexpr int LZW_FIRST = 257;
inline constexpr int LZW_TAB_SIZE = 18002;  // decoder tables and stack

struct LzwGroupOut {
    uint8_t grp[24];   // group being filled (zeroed at each group start)
    int32_t grpBits;   // bits filled in grp
    uint8_t pend[64];  // finished bytes not yet handed to the caller
    int32_t pendLen;
    int32_t pendOff;
};

struct LzwComprState {
    int32_t nBits;
    int32_t maxCode;  // largest code of the current width
    int32_t maxBits;
    int32_t maxMaxCode;
    int32_t freeEnt;
    int32_t clearFlag;
    int32_t ent;  // current prefix code
    int32_t havePrefix;
    int32_t endState;  // 0 running, 1 final code and flush pending, 2 done
    int32_t streamLen;
    int64_t inCount;
    int64_t outCount;  // header included
    int64_t checkpoint;
    int64_t ratio;
    LzwGroupOut out;
    int64_t htab[LZW_HSIZE];
    uint16_t codetab[LZW_HSIZE];
};

struct LzwDecomprState {
    int32_t nBits;
    int32_t maxCode;
    int32_t maxBits;
    int32_t maxMaxCode;
    int32_t freeEnt;
    int32_t blockMode;
    int32_t firstCode;  // the next code starts the stream or follows a clear
    int32_t oldCode;
    int32_t finChar;
    int32_t remaining;  // uncompressed bytes still to produce
    uint8_t grp[24];    // bytes of the current group received so far
    int32_t grpHave;
    int32_t grpOff;    // bits of the group already decoded
    int32_t skip;      // bytes of an abandoned group still to skip
    int32_t stackTop;  // bytes of the current string not yet output
    uint16_t prefix[LZW_TAB_SIZE];
    uint8_t suffix[LZW_TAB_SIZE];
    uint16_t lens[LZW_TAB_SIZE];  // string length of each code
    uint8_t stack[LZW_TAB_SIZE];
};

// One coder step.  first: reset and write the 8-byte header (out needs 8
// bytes).  segmented sets the header's segmented bit.  Input beyond streamLen
// is ignored.  Results: 1 end, 2 output full, 3 input needed, -10, -13, -14, -15.
int CsLzwCompress(LzwComprState* s, bool first, bool segmented, int32_t streamLen, const uint8_t* in, int32_t inLen,
                  uint8_t* out, int32_t outLen, int32_t* read, int32_t* written);

// One decoder step.  first: in starts with the 8-byte header.  Results: 1 all
// bytes produced, 2 output full, 3 input needed, -10, -11, -14, -15, -50, -51, -60.
int CsLzwDecompress(LzwDecomprState* s, bool first, const uint8_t* in, int32_t inLen, uint8_t* out, int32_t outLen,
                    int32_t* read, int32_t* written);
