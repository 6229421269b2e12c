// Read-only questions about the converter cache (legacy and database code
// pages, the allowed code pages, the user-interface settings, its memory and
// state, the ISO-2022 designation sequences) and the status dump that pictures
// the whole cache section by section.
#pragma once

#include <cstdint>

#include "krn/rscp/cpcache.h"

// A code page returned by value.
struct rscpCodePageV {
    char cp[4];
};

// Settings of the user interface: 0 with the value, 32 without a cache (the
// value then 0), or the code of a failed generation check.
uint32_t rscpGetUtf8GuiAllow(uint32_t* value);
uint32_t rscpGetRtlInLtrAllow(uint32_t* value);
uint32_t rscpGetIndicDigits(uint32_t* value);
uint32_t rscpGetBidiCtrlFilter(uint32_t* value);
uint32_t rscpGetCFontCacheVersion(uint32_t* value);

// The legacy code page, "1100" when none is set or no cache can answer.
rscpCodePageV rscpGetLegacyCodePage();
// "4102" with a usable cache, else the fallback code page.
rscpCodePageV rscpGetUnicodeCodePage();
// 1 when the database list holds more than one code page.
int32_t rscpIsMultiCodePageDB();
// 0 when the database list allows the code page; 128 when not (the list of
// the others, "1100.4103." and so on, in list), 4096 for an empty list, 256
// without a cache.  A list output needs RSCP_ALLOWED_LIST_SIZE bytes.
inline constexpr int RSCP_ALLOWED_LIST_SIZE = 5 * RSCP_TCPDB_MAX + 1;
uint32_t rscpcpa_codepage_allowed(const char* cp4, char* list, uint32_t mask);
// h_ccc_state; the cache's address, kind of memory (blank-padded to kindSize)
// and length, or 0, "no memory" and 0 without a cache.
uint32_t rscpGetCacheInfo(uint64_t* address, char* kind, int32_t kindSize, uint32_t* length);

// ISO-2022 sequences: entry n (1 and the outputs, or 0), and the index of the
// entry with both sequences or with a back sequence (-1 when none).
int32_t rscpgi2__get_iso2022_entry(int32_t n, uint32_t* strtLength, const uint8_t** strt, uint32_t* backLength,
                                   const uint8_t** back);
uint32_t rscpfi2__find_iso2022_entry(uint32_t strtLength, const uint8_t* strt, uint32_t backLength,
                                     const uint8_t* back);
uint32_t rscpfb2__find_iso2022_back(int32_t backLength, const uint8_t* back);

// Sections of the status dump.
inline constexpr int32_t RSCPCS_GENERAL = 0x001, RSCPCS_CODE_PAGES = 0x002, RSCPCS_READS = 0x004, RSCPCS_MORE = 0x008,
                         RSCPCS_SEGMENTS = 0x010, RSCPCS_VERBOSE = 0x020, RSCPCS_SETTINGS = 0x040,
                         RSCPCS_LANGUAGES = 0x080, RSCPCS_RFC = 0x100, RSCPCS_COUNTERS = 0x200;
// Writes the sections of the mask one line at a time through out; 0.
int32_t rscpcs_cache_status(int32_t mask, rscpeOutputFunc out, uint32_t unused);
