// The compiled-in code page store "F5": constant data that describes every code
// page a converter can use, and the accessors that look rows up in it and walk
// it.  The data itself is generated (krn/rscp/data/gen_cpstore.py) from
// Python's standard codecs and committed as krn/rscp/data/cpstore_tables.cpp.
//
// Layouts (all fixed; multi-byte integers little-endian unless stated):
// - TCP00 catalogue: rows of 97 characters in ascending code page order, then
//   one row of 97 blanks.  Bytes 0-3 code page, 4-6 issuer, 7-12 class
//   digits, 13-17 related character set, 18-65 description, 66-72 numbers,
//   73-76 and 77-80 related code pages, 81-82 NLS kind, 83-84 minor kind,
//   85 source, 86-91 flags, 92-96 id of the top segment (blank: no segments).
// - TCP01 character-number map: 5-byte rows (16-bit big-endian character
//   number, 24-bit big-endian character), ascending, then five zero bytes and
//   a 32-bit little-endian highest internal character number.
// - Segment directory: 16-byte rows sorted by their 5-character id, then a
//   row whose id begins with a blank.
// - Segment descriptors: mapping (four entry arrays), rule (type and two
//   words) and build (a list of included segments).
#pragma once

#include <cstddef>
#include <cstdint>

// ---- store layout ---------------------------------------------------------

struct rscpF5Head_t {
    int64_t buildDate;    // yyyymmdd
    uint32_t fieldCount;  // field count handed on with every catalogue row
};

inline constexpr int RSCP_TCP00_ROWLEN = 97;    // compiled catalogue row
inline constexpr int RSCP_TCP00_WIDELEN = 113;  // widened row of the cache
inline constexpr int RSCP_TCP01_ROWLEN = 5;
inline constexpr int RSCP_TCP01_TEXTLEN = 41;  // text form of a map row
inline constexpr int RSCP_SEGINFO_LEN = 72;
inline constexpr int RSCP_BUILD_MAXROWS = 100;  // rows a build list may hold

// Kind of a directory row, in the low two bits of its kind byte.
inline constexpr uint8_t RSCP_SEG_MAPPING = 1;  // 'M'
inline constexpr uint8_t RSCP_SEG_RULE = 2;     // 'R'
inline constexpr uint8_t RSCP_SEG_BUILD = 3;    // 'S'

struct rscpSegDirRow {
    char id[5];    // blank-padded
    uint8_t kind;  // low two bits: RSCP_SEG_*
    uint16_t zero;
    const void* desc;  // rscpMapSeg, rscpRuleSeg or rscpBuildRow[]
};
static_assert(sizeof(rscpSegDirRow) == 16, "directory row layout");

// Long code (5 to 126 bytes): character in the low 24 bits of chlen, the
// length in its high byte.
struct rscpLongCode {
    uint32_t chlen;
    uint32_t zero;
    const uint8_t* bytes;
};
static_assert(sizeof(rscpLongCode) == 16, "long code layout");

// Mapping segment.  Entry arrays, as 32-bit words (the character is always the
// low 24 bits of the first word):
//   e1:  one word per entry, the code byte in bits 24-31;
//   e2:  two words, first code byte in bits 24-31 of word 0, second code byte
//        in bits 0-7 of word 1;
//   e34: two words, the code length in bits 24-28 of word 0, the code bytes
//        in word 1 (first byte lowest, unused bytes 0).
struct rscpMapSeg {
    uint32_t n1, n2, n34, nlong;
    const uint32_t* e1;
    const uint32_t* e2;
    const uint32_t* e34;
    const rscpLongCode* elong;
};
static_assert(sizeof(rscpMapSeg) == 48, "mapping descriptor layout");

// Rule segment: 24-bit header (bits 0-6 rule type, 7-11 length of word 1,
// 12-16 length of word 2; a length above 20 counts as 20) and two words.
struct alignas(16) rscpRuleSeg {
    uint8_t head[3];
    char word1[20];
    char word2[20];
};
static_assert(offsetof(rscpRuleSeg, word2) == 23, "rule descriptor layout");

inline unsigned rscpRuleType(const rscpRuleSeg* r)
{
    return r->head[0] & 0x7Fu;
}
unsigned rscpRuleLen1(const rscpRuleSeg* r);
unsigned rscpRuleLen2(const rscpRuleSeg* r);

// Build row: included segment, order number in bits 0-6 of byte 5, a three-bit
// segment type (bit 7 of byte 5 lowest, then bits 0-1 of byte 6; 2, 3 and 4
// mark control-code segments), bit 2 of byte 6 replace output entries, bit 3
// replace input entries.  A list ends at a row whose id begins with a blank
// or a zero byte.
struct rscpBuildRow {
    char id[5];
    uint8_t b5;
    uint8_t b6;
    uint8_t b7;
};
static_assert(sizeof(rscpBuildRow) == 8, "build row layout");

inline unsigned rscpBuildOrder(const rscpBuildRow* b)
{
    return b->b5 & 0x7Fu;
}
inline unsigned rscpBuildSegType(const rscpBuildRow* b)
{
    return (b->b5 >> 7) | ((b->b6 & 3u) << 1);
}
inline bool rscpBuildIsControl(const rscpBuildRow* b)
{
    const unsigned t = rscpBuildSegType(b);
    return t >= 2 && t <= 4;
}
inline bool rscpBuildReplaceOut(const rscpBuildRow* b)
{
    return (b->b6 & 4u) != 0;
}
inline bool rscpBuildReplaceIn(const rscpBuildRow* b)
{
    return (b->b6 & 8u) != 0;
}

// ---- the store's data (generated) -----------------------------------------

extern const rscpF5Head_t rscpF5Head;
extern const char rscpF5Tcp00[];  // rscpF5Tcp00Count rows + blank row
extern const uint32_t rscpF5Tcp00Count;
extern const uint8_t rscpF5Tcp01[];  // rscpF5Tcp01Count rows + zero row + max
extern const uint32_t rscpF5Tcp01Count;
extern const rscpSegDirRow rscpF5SegDir[];  // rscpF5SegDirCount rows + blank row
extern const uint32_t rscpF5SegDirCount;

// The highest internal character number, stored behind the map's zero row.
uint32_t rscpF5Tcp01Max();

// ---- accessors ------------------------------------------------------------

// Catalogue row of a code page (4 characters), or NULL when the code page is
// not catalogued or its top segment is not in the directory.  Binary search.
const char* rscplt0__lookup_tcp00(const char* codePage);
// The widened (113-character) row of a code page in a process-wide buffer, or
// NULL when the lookup fails.
const char* rscpgt0__get_tcp00_row(const char* codePage);
// Widens a compiled row: bytes 0-85 stay, 16 '0' fill 86-101, the six flags
// move to 102-107 and the segment id to 108-112.
void rscpct0__copy_tcp00_row(char* out113, const char* row97);

// Directory row of a 5-character segment id, or NULL.  Binary search.
const rscpSegDirRow* rscplsd__lookup_segment_dir(const char* segId);
// 72-character record: the id in columns 0-4, the kind letter ('M', 'R', 'S'
// or blank) in column 5, blanks elsewhere; process-wide buffer; NULL when the
// id is not in the directory.
const char* rscpgsd__get_segment_info(const char* segId);

// Text form of the map row at *cursor (41 characters: "%05ld" character
// number in columns 0-4, "%06lX" character in columns 35-40, blanks between);
// 1 and the cursor advanced by one row, or 0 at the zero row (row all blanks).
int rscpnt1__next_tcp01_row(char* row41, const uint8_t** cursor);

// Catalogue walk: the first-function resets and does not step, so a walk that
// starts with it and goes on with next-calls sees the first row twice.  Each
// returns 4 characters (NUL-terminated copy) or NULL at the blank row.
const char* rscpft0__first_tcp00_code();
const char* rscpnt0__next_tcp00_code();
// Directory walk, the same way, with 5-character ids.
const char* rscpfsd__first_segment();
const char* rscpnsd__next_segment();

// ---- TCP0C dump reader ----------------------------------------------------

// Writes this platform's name into the platform filter (third argument, room
// in the fourth); called with two 20-byte scratch buffers and their size.
typedef void (*rscpPlatformFunc)(char* scratch1, char* scratch2, int32_t scratchSize, char* platform,
                                 int32_t platformSize, int32_t, int32_t, int32_t, int32_t);

// 0 opened; 1 the file cannot be opened; 2 empty or not a dump; 3 a filter
// longer than its limit (platform 16, language set 30, country 3, modifier 16).
int rscpotd__open_tcp0c_dump(const char* path, const char* platform, const char* languages, const char* country,
                             const char* modifier, rscpPlatformFunc platformFunc);
// 0 with the next matching record (pointers into the reader's line, valid
// until the next read); at the end the file is closed and the result is the
// number of records delivered, or -1 when none were; -1 when no file is open.
int rscprtr__read_tcp0c_record(const char** language, const char** country, const char** modifier,
                               const char** codePage, const char** locale);
void rscpctd__close_tcp0c_dump();

// Strings equal when one is the other followed by at most 26 blanks; else as
// strcmp, bytewise unsigned, with the result -1, 0 or 1.
int rscpBlankPaddedCmp(const char* a, const char* b);
