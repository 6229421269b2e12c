// Control data shared by the converter objects and the converter cache: the
// code page information record of the cache's code page list, the segment
// descriptor of multi-byte code pages, the cache header, the process's control
// record, and the services of the cache side that the objects call (lazy
// start-up, reorganisation; the hooks and the error recorder have headers of
// their own).
#pragma once

#include <cstddef>
#include <cstdint>

#include "krn/rscp/cpcodes.h"
#include "krn/rscp/cperr.h"
#include "krn/rscp/cphook.h"

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
    uint32_t t2;      // offset of the T2 piece; 0 = not loaded
    uint16_t blocks;  // T3 blocks
    uint16_t spare;
    uint32_t entries;
    uint32_t maxLen;
};

struct rscpCpInfo_t {
    char cp[4];
    rscpCpVarIn in[4];
    rscpCpVarOut out[4];
    uint16_t unitBits;  // width of the basic character unit: 7, 8, 16, 32
    uint16_t major;     // NLS kind
    uint16_t minor;
    uint8_t family;   // 4 ASCII-like, 1 EBCDIC-like, 0 other
    uint8_t thaiUni;  // Thai/Unicode flag
    uint8_t source;   // catalogue source character
    uint8_t ownCp;    // the library's own code page (4000, 6100, 6200, 6500)
    uint8_t stacking;
    uint8_t ambiguous;  // language-dependent code page
    uint8_t space[4];   // the space character, first byte first
    uint32_t spaceLen;
    uint8_t sourceTag;
    char segId[5];  // top segment in the store; blanks: none
    uint8_t flags;  // 0x04 catalogue flag 'X', 0x08 1160/8341, 0x10 1101
    uint8_t shortcutFlags;
    uint16_t iso2022;    // low 10 bits: ISO-2022 shift states in use
    uint8_t scCount[2];  // lengths of the two T1 shortcut lists
    uint32_t scHead[2];  // cache offsets of their first records
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
inline constexpr uint32_t RSCP_CCC_HALF = 11311161;       // build under way
inline constexpr uint32_t RSCP_CCC_LOADED = 21311161;     // base data loaded
inline constexpr uint32_t RSCP_CCC_COMPLETE = 201311161;  // usable
inline constexpr int RSCP_TCPDB_MAX = 50;                 // database code pages kept
inline constexpr int RSCP_SOSI_MAX = 10;                  // Shift-Out/Shift-In pairs
inline constexpr int RSCP_ATTACH_SLOTS = 5;
inline constexpr int RSCP_CONVERTERS = 14;                               // cached converters with a call counter
inline constexpr int RSCP_STAT32_NAMED = 12;                             // named 32-bit counters, then the converters'
inline constexpr int RSCP_STAT32 = RSCP_STAT32_NAMED + RSCP_CONVERTERS;  // folded 32-bit counters
inline constexpr int RSCP_EVENTS = 32;                                   // counted events

// A Shift-Out/Shift-In pair (also the ISO-2022 STRT/BACK sequences).
struct rscpSoSi_t {
    uint16_t soLen;
    uint16_t siLen;
    uint8_t so[10];
    uint8_t si[10];
};

// A range rule of a multi-byte code page: the characters first..last map
// onto consecutive byte sequences whose bytes run from low to high per
// position, the last byte fastest; the character of a sequence is base plus
// the sum of (byte - low) * weight over its bytes.  The conversions go
// through its segment descriptor, whose first byte runs from the start
// code's first byte to the last character's.
inline constexpr int RSCP_RULEINFO_SLOTS = 30;
struct rscpRuleInfo_t {
    uint8_t len1, len2;  // lengths of the rule's words
    char word1[20];
    char word2[20];
    uint32_t first, last;
    int64_t base;
    uint32_t bytes;  // code length, 1 to 4
    struct {
        uint8_t start, low, high;
        uint32_t range;   // high - low + 1
        uint32_t weight;  // product of the ranges of the bytes after this one
    } pos[4];
    rscpSegDesc_t seg;  // first..last as a segment (attribute of rule 68)
};

// A translation table of the pair filter loaded into the cache07 area: the
// key of its name and its offset.
inline constexpr int RSCP_F1_MAX = 70;
struct rscpF1Loaded_t {
    uint64_t key;
    uint32_t offset;
};

// Language data of the cache: which multi-byte code page and C locale each
// one-character language (0x20-0x7F) uses here, the list of processed
// languages it was built from, the language/code page list handed to RFC
// partners, and the database multi-code-page lists of the migration.
inline constexpr int RSCP_MBCP_MAX = 30;
inline constexpr int RSCP_LANG_SLOTS = 96;
struct rscpLangSlot_t {
    uint8_t cpIndex;        // 1-based in mbCp; 0 none
    uint8_t source;         // 2 from the locale set-up ("working"), 1 from TCP0C ("known")
    uint32_t localeOffset;  // NUL-terminated locale name in the cache07 area; 0 none
};
struct rscpLangEntry_t {  // a language of a multi-code-page list
    char language;
    uint8_t flags;
    int32_t page;  // index in the list's code pages; -1 not set, -2 ambiguous
};
struct rscpDbMcpl_t {
    uint8_t present;
    char defCp[4];
    uint32_t pageCount, pagesOffset;  // code pages, 4 characters each
    uint32_t langCount, langsOffset;  // rscpLangEntry_t records
};
struct rscpLangData_t {
    uint32_t state;  // 0 never built, 1 not possible, 2 built
    rscpLangSlot_t slots[RSCP_LANG_SLOTS];
    char mbCp[RSCP_MBCP_MAX][4];  // mbCpCount of them
    uint32_t instState;           // processed languages of this instance
    uint32_t instOffset, instLength;
    uint32_t listOffset, listLength;      // language/code page list for RFC partners
    uint32_t legacyOffset, legacyLength;  // legacy information: key, NUL, value, NUL, ...
    uint32_t listTrace;                   // traces every decision on the lists
    uint32_t mdmpTrace, convTrace;
    rscpDbMcpl_t dbmcpl[2];  // the database list ("n") and the migration list ("m")
};

// Header of the cache block; every table number and offset counts from the
// block's start.
struct rscpCcc_t {
    uint32_t layoutVersion;  // 77
    uint32_t cccVersion;     // state marker, RSCP_CCC_COMPLETE when usable
    char ident[12];          // ">>RSCPCCC<< "
    char createDate[16];
    char lastReorgDate[16];
    uint32_t reorgVersion;  // generation, raised by every reorganisation
    uint8_t reorgDone;
    char reorgReason[36];
    uint32_t reorgCount;
    uint32_t dictChanges;  // raised by every invalidation of the dictionary
    uint32_t length;       // bytes of the whole block
    uint32_t cache07;
    uint32_t firstT1, endT1, firstT2, endT2, firstT7, endT7;
    uint32_t attachCount;
    uint16_t maxKovCode;  // highest internal code
    uint32_t maxKovChar;  // highest internal character (Unicode or own)
    uint8_t mbcInSbcs;
    int32_t mbcCopy;
    char blankText[200];
    uint16_t soSiCount;  // Shift-Out/Shift-In (ISO-2022) sequences in use
    rscpSoSi_t soSi[RSCP_SOSI_MAX];
    char option24Cp[4];
    uint64_t attach[RSCP_ATTACH_SLOTS];  // the cache's address as each attached process sees it
    uint32_t stateNotify;
    uint32_t protectStatus;  // 0 read-write, 1 read-only
    int32_t creatorPid, creatorPpid;
    char memoryKind[12];  // method of the memory hook ("malloc")
    // options kept in the cache
    int32_t traceLevel;    // option 5 ("verbose")
    int32_t onErrorLevel;  // option 6 ("err_trace")
    uint32_t option16, option17;
    // state of the table areas (the table layer owns them)
    uint32_t overflow;        // 1 or 2 while a cache overflow is unresolved
    uint32_t fragT3, freeT3;  // spare T3 half and last freed T3 block; 0 none
    uint16_t noofT1, noofT2, noofT3;
    // reorganisation and invalidation
    int32_t reorgPid, reorgPpid;      // the last reorganisation's process
    int32_t invalidPid, invalidPpid;  // the last invalidation's process
    uint8_t dictSynced;
    uint32_t dictSyncCount;  // dictionary changes a process took over
    uint32_t unusedTcp00;    // catalogue rows without data in the store
    // database and legacy settings
    uint16_t tcpdbCount;  // TCPDB rows seen (saturates)
    uint16_t dbCpCount;   // database code pages kept
    char dbCp[RSCP_TCPDB_MAX][4];
    uint16_t mbCpCount;
    uint32_t loadedF1Count;
    char legacyCp[4];         // blanks until set
    uint32_t procLangState;   // 2 once the processed-languages text is stored
    uint32_t procLangOffset;  // in the cache07 area; 0 none
    uint32_t procLangLength;
    uint32_t utf8guiAllow, rtlinltrAllow, indicDigits, bidiCtrlFilter, normalizeInput;
    int32_t cfontCacheVersion;
    uint8_t rfcDes[6];
    uint16_t defCountry;
    uint8_t defCountryFlag;
    char defCountryText[3];  // default country, blank-padded
    char defLanguage;
    // Character-number map: 3-byte big-endian Unicode values indexed by
    // character number 0..tcp01MapMax, at tcp01Offset; room for tcp01Room
    // numbers.
    uint32_t tcp01Offset;
    uint16_t tcp01MapMax;
    uint16_t tcp01SeenMax;
    uint32_t tcp01Room;
    // Code page list: cpCount records sorted by code page, at cpListOffset.
    uint32_t cpListOffset;
    uint16_t cpCount;
    // statistics totals of every attached process
    uint64_t statBytesIn, statBytesOut;
    uint64_t statFillSpace, statFillBytes, statTruncBytes;
    uint32_t statEncodeCalls, statEncodeBytes;
    uint32_t stat32[RSCP_STAT32];
    uint32_t statEvents[RSCP_EVENTS];
    uint64_t icuObjectId;
    // range rules of the loaded code pages (attribute of rule 68 = slot)
    uint32_t ruleInfoCount;
    rscpRuleInfo_t ruleInfo[RSCP_RULEINFO_SLOTS];
    // translation tables of the pair filter (loadedF1Count of them)
    rscpF1Loaded_t f1List[RSCP_F1_MAX];
    rscpLangData_t lang;
};

// Cache state word: 0 fresh, 1 init_started, 2 initialized, 3 not good,
// 4 wrong_version, 5 reinitialize.
extern uint32_t h_ccc_state;
// The attached cache, NULL while none is.
extern rscpCcc_t* rscpmp;

// Process-local converter cache control record: the error record and the
// statistics, which the lock helpers fold into the cache's totals.
struct rscpCtlRecord_t {
    rscpErrRecord err;
    // folded into the cache (statBytes*, statEncode*, stat32, statEvents)
    uint64_t bytesIn;   // consumed by conversions
    uint64_t bytesOut;  // produced by conversions
    uint32_t encodeCalls;
    uint32_t encodeBytes;
    // the 32-bit counters, in the order of the cache's stat32
    uint32_t cpLookups;     // code page information lookups
    uint32_t activateHits;  // activation-cache hits
    uint32_t userCount;     // raised by rscpCccRecordAddCount
    uint32_t tcp00Rows, tcp01Rows, tcp0dRows, tcpdbRows, tcp0iRows;
    uint32_t createObjects;  // activations that set an object up (not from the activation cache)
    uint32_t cloneToLegacy, cloneLegacyTo, cloneForRfc;  // reuses of converters no caller has here
    uint32_t converterCalls[RSCP_CONVERTERS];            // reuses of each cached converter (rscpConverterCounter)
    // output filled with spaces or NULs and source spaces dropped by the
    // fill option of a conversion
    uint64_t fillSpace, fillBytes, truncBytes;
    uint64_t events[RSCP_EVENTS];       // folded
    uint64_t eventTotals[RSCP_EVENTS];  // kept for the process
    // not statistics
    uint32_t reorgNesting;   // reorganisations in progress
    uint32_t tcp0dRowsSeen;  // default-country rows of the current table
    uint8_t tcp0dFormat;     // format mark of the current default-country table
    uint8_t storeUsed;       // set once code page data was looked for in the store
    uint32_t segmentsRead;   // store segments read by the code page loader
};

// The call counters of the cached converters in converterCalls, in the order
// of the status dump: five from UTF-8 (the plain, the one without control
// codes, the strict one, the prepared one and the prepared one that pads),
// five into UTF-8 in the same order, two from UTF-16 and two into UTF-16.
enum rscpConverterCounter { RSCPCC_FROM_UTF8 = 0, RSCPCC_TO_UTF8 = 5, RSCPCC_FROM_UTF16 = 10, RSCPCC_TO_UTF16 = 12 };

// ---- services of the cache side ----------------------------------------------

// Builds the cache on first use; 0 at once when it is initialised.
uint32_t rscpi_init_just_in_case(const char* caller);
// Reorganises a stale cache (mode 0: takes and releases the locks itself).
uint32_t rscpnr__need_reorg(int32_t mode, uint32_t mask);
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
