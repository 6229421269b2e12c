// Public interface of the compression library.
//
// A stream is compressed or decompressed one caller buffer at a time on a
// numbered handle (300..799).  Handle 300 serves the plain compress calls and
// 301 the plain decompress calls; the others come from CsGetHandle.  Every
// compressed stream starts with the 8-byte stream header (cslib/csheader.h).
//
// All sizes and counts are 32-bit.  "read" and "written" receive the bytes
// consumed from the input and produced into the output by one call.
//
// Threads: a handle holds all the state of its stream, so steps on different
// handles may run on different threads at once; the steps of one handle run
// one at a time.  The fixed handles 300 and 301 of the plain entry points are
// one such handle each.  Taking, releasing and checking handles
// (CsGetHandle, CsReleaseHandle, CsReleaseAll, CsIsValidHandle) may come from
// any thread.  The generator of the Huffman-style preambles is shared and
// atomic: streams started in the same order get the same preambles from run
// to run, whichever threads compress them (see also CsDrawPreamble).  The trace level and the printer
// are settings of the process: set them before other threads use the library.
#pragma once

#include <cstdint>

// ---- step results -------------------------------------------------------
inline constexpr int CS_END_OK = 0;         // step done, none of the below
inline constexpr int CS_END_OF_STREAM = 1;  // stream finished
inline constexpr int CS_END_OUTBUFFER = 2;  // output full: call again with more space
inline constexpr int CS_END_INBUFFER = 3;   // input used up: call again with more input

// ---- error results --------------------------------------------------------
inline constexpr int CS_E_OUT_EXPECTED = -2;     // no output space although the last step returned 2
inline constexpr int CS_E_IN_EXPECTED = -3;      // no input although the last step returned 3
inline constexpr int CS_E_OUT_TOO_SMALL = -10;   // output length negative or too small
inline constexpr int CS_E_IN_TOO_SMALL = -11;    // input length negative, or under 8 on a first decompression call
inline constexpr int CS_E_STREAM_LEN = -13;      // stream length negative (or under 1 for the LZW coder)
inline constexpr int CS_E_SAME_BUFFER = -14;     // input and output are the same buffer
inline constexpr int CS_E_NULL_BUFFER = -15;     // input or output pointer missing
inline constexpr int CS_E_HASH_INDEX = -19;      // LZW coder: negative hash index
inline constexpr int CS_E_NO_BUFFERS = -20;      // Huffman decompression with neither input nor output space
inline constexpr int CS_E_UNKNOWN_ALG = -21;     // unknown codec
inline constexpr int CS_E_BLOCK_TYPE = -22;      // Huffman decompression: block type other than 1 or 2
inline constexpr int CS_E_HEADER = -50;          // stream header magic wrong or length 2^31 or more
inline constexpr int CS_E_MAX_BITS = -51;        // LZW stream with an unusable maximum code width
inline constexpr int CS_E_BAD_LENGTHS = -52;     // Huffman: code lengths invalid
inline constexpr int CS_E_TABLE_POOL = -53;      // Huffman: table pool exhausted
inline constexpr int CS_E_BAD_REPEAT = -54;      // Huffman: repeat code without a previous length / too long
inline constexpr int CS_E_BAD_COUNTS = -55;      // Huffman: HLIT above 286 or HDIST above 30
inline constexpr int CS_E_CRC = -56;             // CRC check of a segmented stream failed
inline constexpr int CS_E_HUFF_DATA = -57;       // Huffman: distance before the stream's start, distance
                                                 // code 30/31, length code 286/287, or a last block
                                                 // ending before the stream's length
inline constexpr int CS_E_BAD_CODE = -60;        // LZW decompression: corrupt code sequence
inline constexpr int CS_E_NOT_INIT = -71;        // segmented stream continued before its first call
inline constexpr int CS_E_INVALID_HANDLE = -81;  // invalid handle
inline constexpr int CS_E_NO_MEMORY = -82;       // allocation failed
inline constexpr int CS_E_NO_HANDLE = -85;       // no free handle

// File drivers
inline constexpr int CS_E_FILE_OPEN_IN = -100;    // input cannot be opened
inline constexpr int CS_E_FILE_OPEN_OUT = -101;   // output cannot be opened
inline constexpr int CS_E_FILE_HEADER = -102;     // header cannot be read or is rejected
inline constexpr int CS_E_FILE_WRITE = -103;      // a write failed
inline constexpr int CS_E_FILE_EMPTY = -104;      // compression of an empty file
inline constexpr int CS_E_FILE_NO_HANDLE = -105;  // no free handle
inline constexpr int CS_E_FILE_DIFFER = -106;     // CsCompareFiles: the files differ

// ---- option bits ----------------------------------------------------------
inline constexpr int CS_INIT_COMPRESS = 1;  // first call of a stream
inline constexpr int CS_INIT_DECOMPRESS = 1;
inline constexpr int CS_LZC = 0;  // LZW-style codec
inline constexpr int CS_LZH = 2;  // Huffman-style (deflate-style) codec
inline constexpr int CS_ALGO_MASK = 6;
inline constexpr int CS_SEGMENTED = 8;    // segmented stream with block headers and trailer
inline constexpr int CS_LEVEL_SHIFT = 4;  // option >> 4: Huffman level 1..9 (else 2)

// ---- the stream header -----------------------------------------------------
inline constexpr int CS_HEAD_SIZE = 8;  // bytes of the header in front of every stream
// Uncompressed length the stream announces in its header, or -50 when the
// magic is wrong.  A length field of 2^31 or more comes back negative;
// readers reject it (-50) too.
int32_t CsHeaderLength(const uint8_t* hdr);

// ---- handles -------------------------------------------------------------
inline constexpr int CS_HANDLE_BASE = 300;
inline constexpr int CS_HANDLE_COUNT = 500;
inline constexpr int CS_HANDLE_COMPR = 300;    // fixed handle of CsCompr / CsInitCompr
inline constexpr int CS_HANDLE_DECOMPR = 301;  // fixed handle of CsDecompr / CsInitDecompr

// ---- traced entry points (fixed handles 300 / 301) -------------------------
int CsCompr(int32_t streamLen, const uint8_t* in, int32_t inLen, uint8_t* out, int32_t outLen, int option,
            int32_t* read, int32_t* written, const char* file, int line);
int CsDecompr(const uint8_t* in, int32_t inLen, uint8_t* out, int32_t outLen, int option, int32_t* read,
              int32_t* written, const char* file, int line);
// Writes the 8-byte stream header into out; returns 0 or a negative code.
int CsInitCompr(uint8_t* out, int32_t streamLen, int option, const char* file, int line);
// Checks the 8-byte stream header at in and prepares handle 301; 0 or a negative code.
int CsInitDecompr(const uint8_t* in, const char* file, int line);

// ---- the same without trace lines ------------------------------------------
int CsComprUntraced(int32_t streamLen, const uint8_t* in, int32_t inLen, uint8_t* out, int32_t outLen, int option,
                    int32_t* read, int32_t* written);
int CsDecomprUntraced(const uint8_t* in, int32_t inLen, uint8_t* out, int32_t outLen, int option, int32_t* read,
                      int32_t* written);
int CsInitComprUntraced(uint8_t* out, int32_t streamLen, int option);
int CsInitDecomprUntraced(const uint8_t* in);

// ---- steps on a given handle ---------------------------------------------
int CsRCompress(int handle, int32_t streamLen, const uint8_t* in, int32_t inLen, uint8_t* out, int32_t outLen,
                int option, int32_t* read, int32_t* written);
int CsRDecompress(int handle, const uint8_t* in, int32_t inLen, uint8_t* out, int32_t outLen, int option, int32_t* read,
                  int32_t* written);
int CsRInitCompress(int handle, uint8_t* out, int32_t streamLen, int option);
int CsRInitDecompress(int handle, const uint8_t* in);

// ---- preambles of streams compressed on other threads ----------------------
// A Huffman-style stream draws its preamble from the shared generator on its
// first call.  A caller that hands streams to other threads draws each
// stream's preamble itself, in its own order, with CsDrawPreamble (exactly as
// a first call would), and gives it to the handle that compresses the stream
// with CsRPresetPreamble: that handle's next first call uses it instead of
// drawing one.  CsRPresetPreamble returns 0, or -81 for an invalid handle.
uint32_t CsDrawPreamble();
int CsRPresetPreamble(int handle, uint32_t preamble);

// ---- handle table ----------------------------------------------------------
// Takes a free handle (302..799).  Returns 0 and the handle, or a negative code
// (also stored in *handle when no slot is free).
int CsGetHandle(int* handle);
void CsReleaseHandle(int handle);
void CsReleaseAll();
// 1 when the handle is in range, has a work area and is in use; else 0.
int CsIsValidHandle(int handle);

// ---- file drivers ----------------------------------------------------------
struct CsFileComprParams {
    int option;            // in: negative means 35, else option | 1
    int32_t inBufSize;     // in: used when above 50, else 8096
    int32_t outBufSize;    // in: used when above 50, else 8096
    int32_t bytesWritten;  // out: compressed bytes, the 8-byte header included
    int32_t bytesRead;     // out: uncompressed bytes read
    int32_t cpuMillis;     // out: processor time of the last step in milliseconds
};

struct CsFileDecomprParams {
    int32_t inBufSize;     // in: used when above 50, else 8096
    int32_t outBufSize;    // in: used when above 50, else 8096
    int32_t bytesWritten;  // out: uncompressed bytes written
    int32_t bytesRead;     // out: compressed bytes read, the 8 header bytes included
    int32_t cpuMillis;     // out: processor time of the last step in milliseconds
};

int CsFileCompress(const char* inPath, const char* outPath, CsFileComprParams* params);
int CsFileDecompress(const char* inPath, const char* outPath, CsFileDecomprParams* params);
// 0 when both files hold the same bytes; -100/-101 when one cannot be opened; -106 when they differ.
int CsCompareFiles(const char* path1, const char* path2);

// ---- trace -------------------------------------------------------------------
// Trace level bits: 1 progress lines, 2 early-decompress check, 4 hex dumps;
// exactly 16 traces the entry points.  The program itself never sets it.
void CsSetTraceLevel(int level);
int CsGetTraceLevel();
// printf-like printer receiving the library's trace and error lines; null
// removes it.  The traced entry points install the default printer (writing
// "cstrace.trc" in the working directory) when none is set; a program that
// must write nothing there sets its own.
using CsPrinter = int (*)(const char* fmt, ...);
void CsSetPrinter(CsPrinter printer);
