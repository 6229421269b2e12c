// Buffer-to-buffer Base64 and hex coders with numbered modes.
//
// Modes:  1, 3, 5  Base64, standard alphabet ("+/"), "=" padding
//         2, 4, 6  Base64, URL-safe alphabet ("-_"), "=" padding
//         7, 8, 9  hex decoding, upper- and lower-case digits alike
// Each coder has two entries that behave alike and differ only in the modes
// they take: the first takes modes 1-4 (hex: 7 and 8), the second modes 5-6
// (hex: 9).  The manifest signature is coded in mode 3, digests, timestamp
// requests and debug dumps in mode 5.
//
// The coders allocate nothing and never write past the capacity given; when
// the result would not fit they write nothing at all.  No terminator is
// written.  Results are 0 or one of the negative CO_E codes below.
#pragma once

#include <cstddef>
#include <cstdint>

enum : int {
    CO_OK = 0,
    CO_ENULL = -1,        // NULL input (or output, or separator) where data is needed
    CO_EMODE = -2,        // mode not taken by this entry
    CO_ESPACE = -3,       // output capacity too small
    CO_EINVALID = -4,     // character outside the alphabet, whitespace not allowed, data after the padding
    CO_EINCOMPLETE = -5,  // the last group (or hex pair) is incomplete
};

// Mode numbers the system's own callers use.
enum : uint32_t {
    CO_MODE_SIGNATURE = 3,  // standard alphabet: the manifest signature
    CO_MODE_DIGEST = 5,     // standard alphabet: digests, timestamp requests, dumps
    CO_MODE_HEX = 7,
};

// Decoder flags: CO_SKIP_SPACE skips blank, tab, CR and LF; CO_SKIP_INVALID
// (which includes CO_SKIP_SPACE) skips every character outside the alphabet.
enum : uint32_t {
    CO_SKIP_SPACE = 1,
    CO_SKIP_INVALID = 3,
};

// Base64 encoding.  lineLen 0 writes one unbroken line and ignores sep;
// otherwise sep follows every line of lineLen characters (rounded up to a
// multiple of 4) and also ends the last line, so non-empty output always ends
// with sep.  *outLen (when not NULL) receives the characters written, 0 on
// failure.
int coBase64Encode(const void* in, size_t len, uint32_t mode, size_t lineLen, const char* sep, char* out, size_t cap,
                   size_t* outLen);
int coBase64Encode56(const void* in, size_t len, uint32_t mode, size_t lineLen, const char* sep, char* out, size_t cap,
                     size_t* outLen);

// Characters coBase64Encode writes for len bytes, or SIZE_MAX when the count
// does not fit a size_t.
size_t coBase64EncodedLength(size_t len, size_t lineLen, size_t sepLen);

// Base64 and hex decoding.  *outLen (when not NULL) receives the bytes
// written (0 on failure: nothing is written then).  *end (when not NULL) is
// set on success behind the last character consumed, on failure behind the
// last complete group (Base64) or byte (hex) before the fault.
int coBase64Decode(const char* in, size_t len, uint32_t mode, uint32_t flags, void* out, size_t cap, size_t* outLen,
                   const char** end);
int coBase64Decode56(const char* in, size_t len, uint32_t mode, uint32_t flags, void* out, size_t cap, size_t* outLen,
                     const char** end);
int coHexDecode(const char* in, size_t len, uint32_t mode, uint32_t flags, void* out, size_t cap, size_t* outLen,
                const char** end);
int coHexDecode9(const char* in, size_t len, uint32_t mode, uint32_t flags, void* out, size_t cap, size_t* outLen,
                 const char** end);
