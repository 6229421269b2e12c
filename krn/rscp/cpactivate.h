// Activation of converter objects: the conversion method of a pair of code
// page kinds, and the process-local cache of activated objects that makes
// the next activation of the same pair with the same options a copy.
#pragma once

#include <cstdint>

#include "krn/rscp/cpobject.h"

// NLS kinds of code pages (the names rscpNlsKindText prints).
enum : uint32_t {
    RSCPK_NOT = 0, RSCPK_EUC = 1, RSCPK_JIS = 2, RSCPK_SJIS = 3, RSCPK_TRADICH = 4, RSCPK_GBK = 5,
    RSCPK_COREA = 6, RSCPK_HK_PUA = 7, RSCPK_HK_U31 = 8, RSCPK_UCS2H = 10, RSCPK_UCS4H = 11, RSCPK_UTF8 = 12,
    RSCPK_UTF16H = 13, RSCPK_UCS2L = 14, RSCPK_UCS4L = 15, RSCPK_UTF16L = 16, RSCPK_KOV16 = 19,
    RSCPK_GOF_A = 20, RSCPK_GOF_E = 21, RSCPK_2312_80 = 25, RSCPK_18030 = 29, RSCPK_SJIS_L1 = 30,
    RSCPK_TRADICH_L1 = 34, RSCPK_SIMPLCH_L1 = 35, RSCPK_COREA_L1 = 36, RSCPK_ASIANUNI = 39
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
