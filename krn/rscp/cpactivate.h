// Activation of converter objects: the conversion method of a pair of code
// page kinds, and the process-local cache of activated objects that makes
// the next activation of the same pair with the same options a copy.
#pragma once

#include <cstdint>

#include "krn/rscp/cpobject.h"

// NLS kinds of code pages (the names rscpNlsKindText prints).
enum : uint32_t {
    RSCPK_NOT = 0,
    RSCPK_EUC = 1,
    RSCPK_JIS = 2,
    RSCPK_SJIS = 3,
    RSCPK_TRADICH = 4,
    RSCPK_GBK = 5,
    RSCPK_COREA = 6,
    RSCPK_HK_PUA = 7,
    RSCPK_HK_U31 = 8,
    RSCPK_UCS2H = 10,
    RSCPK_UCS4H = 11,
    RSCPK_UTF8 = 12,
    RSCPK_UTF16H = 13,
    RSCPK_UCS2L = 14,
    RSCPK_UCS4L = 15,
    RSCPK_UTF16L = 16,
    RSCPK_KOV16 = 19,
    RSCPK_GOF_A = 20,
    RSCPK_GOF_E = 21,
    RSCPK_2312_80 = 25,
    RSCPK_18030 = 29,
    RSCPK_SJIS_L1 = 30,
    RSCPK_TRADICH_L1 = 34,
    RSCPK_SIMPLCH_L1 = 35,
    RSCPK_COREA_L1 = 36,
    RSCPK_ASIANUNI = 39
};

// ---- method of a pair ------------------------------------------------------------

// What the method choice looks at.
struct rscpPairKinds {
    uint32_t inKind, outKind;
    uint16_t inMinor, outMinor;
    uint8_t inAmbiguous, outAmbiguous;
    uint8_t doFilter;
    uint8_t srcAscii7;  // the source's shortcut flags have bit 16 (7-bit ASCII)
    int32_t ctrlcodes;
};

// Which side must first be resolved to a concrete code page (language-
// dependent code pages) before the tables are loaded.
enum : int32_t { RSCP_RESOLVE_NONE = 0, RSCP_RESOLVE_SOURCE = 1, RSCP_RESOLVE_TARGET = 2 };

struct rscpPairMethod {
    int32_t method;
    int32_t resolve;
};

// The method of a pair of kinds.  False for a pair the library does not
// convert (kinds outside the named ones, an index above 2223, UTF-8 to the
// generic output formats).
bool rscpMethodOfPair(const rscpPairKinds& pair, rscpPairMethod* out);

// ---- the activation cache ----------------------------------------------------------

// The key of an activated object: code pages, options and cache generation.
struct rscpActKey {
    uint64_t hi, lo;
};
rscpActKey rscpActivationKey(const rscpCObj_t* obj, uint32_t generation);

// On a hit copies the cached object over obj (shift states and substitution
// count cleared) and returns true.  A hit needs the key and every option the
// key leaves out to be equal.
bool rscpActivationCacheGet(const rscpActKey& key, rscpCObj_t* obj);
// Stores an activated object (nothing when its key is there already).
void rscpActivationCachePut(const rscpActKey& key, const rscpCObj_t* obj, uint32_t generation);
// Number of entries the cache holds at most: read from "rscp/CActivate/cache/size"
// the first time an object is stored (10 by default, 15 at most, 0 off).
int32_t rscpActivationCacheSize();
// Empties the cache and forgets the size read (a fresh process's state).
void rscpActivationCacheReset();
// Entry i (from 0) of the cache: false past the last one.
bool rscpActivationCacheEntry(int32_t i, rscpActKey* key, uint32_t* uses);

// ---- activation ----------------------------------------------------------------------

// Activates the object: finds (and has loaded) the tables of both code pages
// and chooses the method; reset clears both sides first.  The error mask says
// which codes are returned (all ones: every code); a code outside it ends
// the process through the error recorder.
uint32_t lookup_convert_tables(rscpCObj_t* obj, uint8_t reset, uint8_t input, uint8_t output, uint32_t mask);
// Both sides with reset, every code returned.
uint32_t rscpCActivate(rscpCObj_t* obj);
uint32_t rscpCActivateSides(rscpCObj_t* obj, uint8_t reset, uint8_t input, uint8_t output, uint32_t mask);
// Initialises from the template with a substitute (an internal character
// number; 0 for '#') and activates both sides.
uint32_t rscpCInitSubstActivate(rscpCObj_t* obj, const char* incode, const char* outcode, uint32_t substCharNo,
                                uint8_t oneSubst, uint8_t allowBytes, uint32_t mask);
// Before an object is used: activates a missing output side and re-activates
// an object of an older cache generation.  2048 "F38" when the output side is
// still missing.
uint32_t rscpCReactivateIfNeeded(rscpCObj_t* obj);

// ---- parts of activation ------------------------------------------------------------

// Loads the tables of one side (input: true) for the code page cp when they
// are missing, and fills only that side's space character of the object
// from the loaded record; nothing else of the object changes.  The write
// permission is taken when a load needs it (*writeTaken then 1; the caller
// releases it).  0, 32 when the cache has no room, or another error code.
uint32_t rscpCLoadSideSpace(rscpCObj_t* obj, bool input, const char* cp, uint8_t* writeTaken, uint32_t mask);

// The T1 shortcut of an activated single-byte pair (method 4, controls tried,
// own characters ignored): finds the pair's shortcut table, or makes one (a
// copy of the input table whose entries write the target's bytes) under the
// write permission the callback takes; in_no becomes the shortcut.  0, or
// 32 when the cache has no room.
uint32_t rscpT1Shortcut(rscpCObj_t* obj, int32_t variant, uint32_t (*takeWritePermission)(void*), void* ctx);

// ---- table inspection ------------------------------------------------------------------

// Prints one thing through the writer, one call per line:
//   1  T1 word: key = u32 T1 number, byte index       4  the same, u16 word index (0-257)
//   2  T2 entry: key = u32 T2 offset, 3-byte character (high byte first)
//   3  the highest internal character number and Unicode value
//   5  T3 word: key = u32 T3 number, byte 6 the column (7 bits)
//   6  T2 entries: key = u32 T2 offset, u32 first block, u32 number of blocks
//   7  nothing   8  a hex dump of the whole cache   9  the activation cache
// 1 "F44" for any other what; the cache must be attached for 1-6 and 8.
uint32_t rscpls__look_single(int32_t what, const uint8_t* key, void (*writer)(const char* text, int32_t length),
                             uint32_t mask);
