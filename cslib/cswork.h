// Internal records of the compression library: the per-stream CRC state, the
// work area of a handle (codec state plus stream bookkeeping) and the handle
// table.
#pragma once

#include <cstddef>
#include <cstdint>

// CRC-32 over a stream, counted in segments.
struct CsCrcState {
    uint32_t reg;     // register, starts at 0xFFFFFFFF
    uint32_t pos;     // position inside the current segment
    uint32_t segLen;  // segment length
    uint32_t total;   // bytes counted
};

// Allocates a state; segLen 0 means 65536.  Null when allocation fails.
CsCrcState* CsCrcNew(uint32_t segLen);
// Counts n bytes: advances the position modulo the segment length.
void CsCrcUpdate(CsCrcState* st, const uint8_t* data, size_t n);
// Frees the state and returns the finished CRC-32 (the complemented register).
uint32_t CsCrcFree(CsCrcState* st);

// Where a segmented stream's reader stands.
enum CsSegRead : int32_t {
    CS_SEG_PREFIX = 0,   // the 8-byte stream header, before the first block
    CS_SEG_HEADER = 1,   // collecting a block header
    CS_SEG_BLOCK = 2,    // inside a block
    CS_SEG_SKIP = 3,     // the data ended inside a block: counting its rest
    CS_SEG_TRAILER = 4,  // collecting the trailer
    CS_SEG_DONE = 5,
};

enum CsStreamState : int32_t {
    CS_STREAM_NONE = 0,     // no stream started (or the last one failed)
    CS_STREAM_COMPR = 1,    // compression running
    CS_STREAM_DECOMPR = 2,  // decompression running
    CS_STREAM_ENDED = 3,    // the last stream ended with result 1
};

struct CsWorkArea {
    CsCrcState* crcU;   // uncompressed bytes
    CsCrcState* crcC;   // compressed bytes
    uint8_t* blockBuf;  // segmented streams: 1032 bytes compressing, 8 decompressing
    int32_t blockFill;  // compressing: bytes waiting in blockBuf; decompressing: header bytes collected
    int32_t blockOff;   // compressing: bytes of blockBuf already handed out
    int32_t pending;    // compressing: codec result of the waiting block
    int32_t lastRc;     // result of the previous step on this handle
    int32_t stream;     // CsStreamState
    int32_t stalls;     // consecutive steps that neither read nor wrote
    // decompressing a segmented stream
    int32_t segState;   // CsSegRead
    uint32_t expected;  // CRC expected at the end of the current block
    uint32_t segLen;    // length of the current block
    uint32_t segPos;    // bytes of the current block counted so far
    int32_t codecDone;
    int32_t codecLast;  // last result of the codec
    // early-decompress check (trace level bit value 2)
    int32_t checkHandle;
    int64_t dumpPosIn;  // stream positions for hex dumps
    int64_t dumpPosOut;
    int64_t presetPreamble;  // preamble of the next compressed stream, or -1 to draw one
    void* codec;             // codec state, in the same allocation
};

// The slot of a valid handle's work area, or null.
CsWorkArea* CsAreaOf(int handle);
// The work area a slot holds, in use or not (null when it has none).
CsWorkArea* CsSlotArea(int handle);
// Stream descriptor of a handle (option & 14 compressing, header nibble decompressing).
int32_t& CsDescriptorOf(int handle);
// Opens fixed handle 300 or 301: 0 when already open, 1 when a work area was
// made, -82 when it could not be.
int CsOpenFixedHandle(int handle);
// Frees what a stream holds (CRC states, block buffer, check handle).
void CsEndStream(CsWorkArea* wa);
// The entry of a step of either direction (`running` CS_STREAM_COMPR or
// CS_STREAM_DECOMPR; `who` names the entry point in the error lines).  Null
// read or written point at the spare counters, and both are set to 0.
// Returns the handle's work area when the step goes on, else null with the
// step's result in *result: -81 for an invalid handle; for a continued
// stream 1 once it has ended, -71 when the handle runs no stream of this
// kind.  A first call ends what the handle held (no stream runs); the
// caller starts its own with CsStartStream.
CsWorkArea* CsEnterStep(int handle, const char* who, int32_t running, bool first, int32_t*& read, int32_t*& written,
                        int32_t (&spare)[2], int* result);
// Starts a stream on the handle: its descriptor, no last result, no stalls.
void CsStartStream(CsWorkArea* wa, int handle, int32_t descriptor, int32_t running);
// Checks a continued step in detailed mode: a segmented stream must have been
// started by its first call (-71 otherwise); a plain stream on which tracing
// was switched on mid-way starts its CRC counts here (-82 when it cannot).
int CsContinueDetailed(CsWorkArea* wa, const char* who, bool segmented);

// Ends a step of either direction: a step that neither reads nor writes
// while more is needed becomes -2 or -3 the second time (so no caller can loop
// forever), the result is remembered, and a failed or finished stream frees
// what it holds.  `who` names the entry point in the error lines; a finished
// stream keeps its state while `keepPending` says output is still waiting.
int CsFinishStep(CsWorkArea* wa, const char* who, bool first, int rc, int32_t read, int32_t written, bool keepPending);
