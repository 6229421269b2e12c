// Control data shared by the converter objects and the converter cache: the
// code page information record of the cache's code page list, the segment
// descriptor of multi-byte code pages, the cache header, the process's control
// record, and the services of the cache side that the objects call (error
// recorder, lazy start-up, reorganisation, hooks).
#pragma once

#include <cstddef>
#include <cstdint>

#include "krn/rscp/cpcodes.h"

// ---- code page information record (one row of the cache's code page list) --

// Tables of one variant of a direction (variant 0 base, 1 with control codes,
// 2 with own characters, 3 with both).
struct rscpCpVarIn {
    uint16_t root;     // root T1 block; 0 = not loaded
    uint16_t blocks;   // T1 blocks
    uint32_t entries;  // codes entered
    uint32_t maxLen;   // longest code in bytes
    uint32_t spare;
};
struct rscpCpVarOut {
    uint32_t t2;       // offset of the T2 piece; 0 = not loaded
    uint16_t blocks;   // T3 blocks
    uint16_t spare;
    uint32_t entries;
    uint32_t maxLen;
};

struct rscpCpInfo_t {
    char cp[4];
    rscpCpVarIn in[4];
    rscpCpVarOut out[4];
    uint16_t unitBits;      // width of the basic character unit: 7, 8, 16, 32
    uint16_t major;         // NLS kind
    uint16_t minor;
    uint8_t family;         // 4 ASCII-like, 1 EBCDIC-like, 0 other
    uint8_t thaiUni;        // Thai/Unicode flag
    uint8_t source;         // catalogue source character
    uint8_t ownCp;          // the library's own code page (4000, 6100, 6200, 6500)
    uint8_t stacking;
    uint8_t ambiguous;      // language-dependent code page
    uint8_t space[4];       // the space character, first byte first
    uint32_t spaceLen;
    uint8_t sourceTag;
    char segId[5];          // top segment in the store; blanks: none
    uint8_t flags;          // 0x04 catalogue flag 'X', 0x08 1160/8341, 0x10 1101
    uint8_t shortcutFlags;
    uint16_t iso2022;       // low 10 bits: ISO-2022 shift states in use
    uint8_t scCount[2];     // lengths of the two T1 shortcut lists
    uint32_t scHead[2];     // cache offsets of their first records
};
static_assert(sizeof(rscpCpInfo_t) == 172, "code page information record");

// ---- segment descriptor of a multi-byte code page --------------------------

// A range of consecutive indexes mapped onto every byte sequence whose bytes
// lie in fixed per-position ranges, the last byte varying fastest.
struct rscpSegDesc_t {
    uint32_t lowIndex;   // smallest index decoding may produce
    uint32_t highIndex;  // largest index of the segment
    int32_t byteCount;   // 1 to 4
    uint32_t baseIndex;  // index of the sequence of all lowest bytes
    struct {
        uint8_t low;
        uint8_t high;
        int32_t weight;  // indexes one step of this byte is worth
    } pos[4];
};

// ---- the converter cache (CCC) ---------------------------------------------

inline constexpr uint32_t RSCP_CCC_LAYOUT = 77;
inline constexpr uint32_t RSCP_CCC_COMPLETE = 201311161;

// Header of the cache block; every table number and offset counts from the
// block's start.
struct rscpCcc_t {
    uint32_t layoutVersion;    // 77
    uint32_t cccVersion;       // state marker, RSCP_CCC_COMPLETE when usable
    char ident[12];            // ">>RSCPCCC<< "
    char createDate[16];
    char lastReorgDate[16];
    uint32_t reorgVersion;     // generation, raised by every reorganisation
    uint8_t reorgDone;
    char reorgReason[36];
    uint32_t reorgCount;
    uint32_t dictChanges;
    uint32_t length;           // bytes of the whole block
    uint32_t cache07;
    uint32_t firstT1, endT1, firstT2, endT2, firstT7, endT7;
    uint32_t attachCount;
    uint16_t maxKovCode;       // highest internal code
    uint32_t maxKovChar;       // highest internal character (Unicode or own)
    uint8_t mbcInSbcs;
    uint32_t mbcCopy;
    uint8_t overflow;          // 1 or 2 while a cache overflow is unresolved
    uint16_t defCountry;
    uint8_t defCountryFlag;
    // Character-number map: 3-byte big-endian Unicode values indexed by
    // character number 0..tcp01MapMax, at tcp01Offset.
    uint32_t tcp01Offset;
    uint16_t tcp01MapMax;
    uint16_t tcp01SeenMax;
    // Code page list: cpCount records sorted by code page, at cpListOffset.
    uint32_t cpListOffset;
    uint16_t cpCount;
};

// Cache state word: 0 fresh, 1 init_started, 2 initialized, 3 not good,
// 4 wrong_version, 5 reinitialize.
extern uint32_t h_ccc_state;
// The attached cache, NULL while none is.
extern rscpCcc_t* rscpmp;

// Process-local converter cache control record: statistics and counters.
struct rscpCtlRecord_t {
    uint32_t cpLookups;      // code page information lookups
    uint32_t activateHits;   // activation-cache hits
    uint32_t encodeCalls;
    uint32_t encodeBytes;
    uint64_t bytesIn;        // consumed by conversions
    uint64_t bytesOut;       // produced by conversions
    uint32_t userCount;      // raised by rscpCccRecordAddCount
    uint32_t reorgNesting;   // reorganisations in progress
};

// ---- hooks ------------------------------------------------------------------

// The host's services, one process-wide table; every slot has a default.
struct rscph_HookTable_t {
    uint32_t option20;        // 1
    uint32_t word2;           // 3
    rscpCtlRecord_t* ctl;     // the control record
    const char* (*GetParameter)(const char* name);            // default NULL
    int32_t (*LocalCodePage)(char* cp4);                      // "1100", 128
    int32_t (*Language)(char* lang1);                         // 'E', 128
    int32_t (*LanguageCodePage)(char* cp4, const char* lang1);  // "0000", 128
    int32_t (*GetSema)(int32_t location, int32_t zero);       // 0
    int32_t (*ReleaseSema)(int32_t location, int32_t zero);   // 0
};
extern rscph_HookTable_t rscph_HookTable;

// Error-output functions (1 standard error, 2 and 3 silent by default).
typedef void (*rscpeOutputFunc)(const char* text, int32_t length);
rscpeOutputFunc rscpe_get_output_func(int32_t number);

// ---- services of the cache side ----------------------------------------------

// Records an error (kind 'C' for the library); returns code when code AND
// mask is nonzero, else reports the error and aborts the process.  Lengths of
// -1 mean NUL-terminated arguments.
uint32_t rscpe__error(uint32_t code, char kind, uint32_t mask, const char* module,
                      int32_t location, int32_t line, const char* text, const char* msgid,
                      const char* arg1, int32_t len1, const char* arg2, int32_t len2);

// The error record and readers of its newest entry (rc 16 and no text for a
// NULL record).
struct rscpErrRecord;
const rscpErrRecord* rscpe_get_error_record();
uint32_t rscpe_get_last_rc(const rscpErrRecord* record);
// Copies the newest entry's text without trailing blanks, cut to the buffer.
void rscpe_get_last_text(const rscpErrRecord* record, char* buffer, int32_t size);

// Builds the cache on first use; 0 at once when it is initialised.
uint32_t rscpi_init_just_in_case(const char* caller);
// Reorganises or re-attaches a detached or stale cache.
uint32_t rscpnr__need_reorg(int32_t reason, uint32_t mask);
// Reconnects to an attached cache in state 5.
uint32_t rscpr__reconnect(uint32_t mask);

// The cache's code page list and character-number map.
inline const rscpCpInfo_t* rscpCccCpList(const rscpCcc_t* c)
{
    return reinterpret_cast<const rscpCpInfo_t*>(reinterpret_cast<const char*>(c) + c->cpListOffset);
}
inline const uint8_t* rscpCccTcp01(const rscpCcc_t* c)
{
    return reinterpret_cast<const uint8_t*>(c) + c->tcp01Offset;
}
