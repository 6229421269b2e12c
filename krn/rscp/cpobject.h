// Converter objects: one conversion direction between two code pages with
// the options that say what happens to characters that cannot be converted.
// The object is plain data owned by the caller; it may be copied byte for
// byte and holds no pointer (tables are referred to by number in the cache).
//
// Also here: the option setters and accessors, language-dependent code pages,
// character numbers, code page queries and the segment index mapping of
// multi-byte characters.
#pragma once

#include <cstdint>
#include <type_traits>

#include "krn/rscp/cpccc.h"
#include "krn/rscp/cpcodes.h"
#include "krn/rscp/cpnames.h"

// ---- option values ------------------------------------------------------------

// rscpmiss (argument of rscpCInit; sets the substitution flags)
inline constexpr int32_t RSCPMISS_STOP = 0, RSCPMISS_SUBSTITUTE = 1, RSCPMISS_TRY = 2, RSCPMISS_COPY = 3;
// rscpbroken
inline constexpr int32_t RSCPBROKEN_STOP_FINALLY = 0, RSCPBROKEN_LIKE_MISS = 1, RSCPBROKEN_STOP_RESTARTABLE = 2;
// rscpfill
inline constexpr int32_t RSCPFILL_NEVER = 0, RSCPFILL_NULLS = 1, RSCPFILL_SPACES = 2, RSCPFILL_AND_TRUNC_SPACES = 3;
// rscpCtrlCodeCv
inline constexpr int32_t RSCPCTRL_ILLEGAL = 0, RSCPCTRL_TRY = 1;
// rscpKOVOwnChCv
inline constexpr int32_t RSCPOWN_IGNORE = 0, RSCPOWN_TRY = 1;
// useF1
inline constexpr int32_t RSCPF1_NOT = 1, RSCPF1_ONLY = 2, RSCPF1_ENFORCE = 3, RSCPF1_TRY = 4, RSCPF1_CUSTOMIZABLE = 5;
// drop
inline constexpr int32_t RSCPDROP_STOP = 0, RSCPDROP_LIKE_MISS = 1, RSCPDROP_REMOVE = 2, RSCPDROP_SPACE = 3;

// Conversion methods of an activated object: 0 unknown, 1 deactivated, 2 direct ... 49.
inline constexpr int32_t RSCPMETH_UNKNOWN = 0, RSCPMETH_DEACTIVATED = 1, RSCPMETH_DIRECT = 2;
inline constexpr int32_t RSCPMETH_LAST = 49;

// ---- the converter object -------------------------------------------------

struct rscpCObj_t {
    uint32_t timestamp;  // cache generation at the last activation; 0 forces re-activation
    char incode[4];
    char outcode[4];
    uint16_t subst_code;  // substitute as internal character number
    uint8_t use_c_subst;
    uint8_t use_1_subst;
    uint8_t use_n_subst;
    uint8_t use_1_copy;
    uint8_t allow_bytes;
    uint8_t allow_columns;
    uint32_t noof_subst;
    uint32_t broken;     // rscpbroken
    uint32_t fill_rest;  // rscpfill
    uint8_t do_filter;
    int32_t enforce_f1;  // useF1
    int32_t on_drop;     // drop
    int32_t ctrlcodes;   // rscpCtrlCodeCv
    int32_t ownCh;       // rscpKOVOwnChCv
    int32_t method;
    uint8_t in_set;
    uint8_t out_set;
    uint32_t in_no;   // input (T1) table number
    uint32_t out_no;  // output table number
    uint8_t in_maxln;
    uint8_t out_maxln;
    char ccci_langu;
    uint8_t ccci_explicit_langu;
    uint8_t ccci_ambig_langu;
    uint8_t ccci_explicit_3rdCP;
    char ccci_3rdCP[4];
    uint32_t in_major;
    uint16_t in_minor;
    uint8_t in_ambiguous;
    uint32_t out_major;
    uint16_t out_minor;
    uint32_t active_major;
    uint8_t out_ambiguous;
    uint32_t langu_dep_in_major;
    uint8_t in_space[4];
    int32_t in_space_len;
    uint8_t out_space[4];
    int32_t out_space_len;
    char used_incode[4];
    uint8_t use_other_in;
    uint8_t use_other_out;
    char used_outcode[4];
    uint32_t subst_code_U4;  // substitute as a Unicode code point
    // ISO-2022 state: bits 0-9 designations the input may use, 10-13 the
    // input shift state, 14-23 the output's designations, 24-27 its shift
    // state; 28-29 the input's G1 (its set designated, shifted out) where the
    // input designates its double-byte set to G1 apart from the shift.
    uint32_t iso2022;
    uint32_t ccci_f1_in_7;  // F1 table of method 12; 0 none
};
static_assert(std::is_trivially_copyable_v<rscpCObj_t> && std::is_standard_layout_v<rscpCObj_t>,
              "converter objects are plain data");

inline constexpr uint32_t RSCP_2022_IN_SHIFT = 0xFu << 10;
inline constexpr uint32_t RSCP_2022_OUT_SHIFT = 0xFu << 24;
inline constexpr uint32_t RSCP_2022_IN_G1_SET = 1u << 28;
inline constexpr uint32_t RSCP_2022_IN_SHIFTED_OUT = 1u << 29;
// What an input run has read of the shifts and designations so far.
inline constexpr uint32_t RSCP_2022_IN_RUN = RSCP_2022_IN_SHIFT | RSCP_2022_IN_G1_SET | RSCP_2022_IN_SHIFTED_OUT;
inline constexpr uint32_t RSCP_2022_STATE = 0x0FFFFFFFu;

// Writes one line (no line end) of a dump.
typedef void (*rscpLineWriter)(const char* text, int32_t length);

// ---- object life ----------------------------------------------------------

// Fills the object from the template with the two code pages and the options;
// returns the result of the lazy cache start-up (the object is filled in any
// case).  16 for a missing object or code page.
uint32_t rscpCInit(rscpCObj_t* obj, const char* incode, const char* outcode, int32_t miss, int32_t broken,
                   int32_t fill);
// Prints the object: level 0 only a privacy line, 21 only the method, 1 to 4
// growing detail.  The diff form prints only the lines that differ from other.
void rscpCDump(const rscpCObj_t* obj, rscpLineWriter writer, int32_t level);
void rscpCDumpDiff(const rscpCObj_t* obj, rscpLineWriter writer, int32_t level, const rscpCObj_t* other);
// Not implemented: reports so and returns 1.
uint32_t rscpCDecodeU4(const rscpCObj_t* obj, uint32_t* codePoint, const char** src, const char* srcEnd);

// Texts of the options, methods and NLS kinds.
inline const char* rscpMissText(int32_t v)
{
    return rscpMissName(v);
}
inline const char* rscpBrokenText(int32_t v)
{
    return rscpBrokenName(v);
}
inline const char* rscpFillText(int32_t v)
{
    return rscpFillName(v);
}
inline const char* rscpCtrlCodeCvText(int32_t v)
{
    return rscpCtrlCodeCvName(v);
}
inline const char* rscpOwnChCvText(int32_t v)
{
    return rscpKOVOwnChCvName(v);
}
inline const char* rscpUseF1Text(int32_t v)
{
    return rscpUseF1Name(v);
}
inline const char* rscpDropText(int32_t v)
{
    return rscpDropName(v);
}
inline const char* rscpMethodText(int32_t v)
{
    return rscpMethodName(static_cast<uint32_t>(v));
}
inline const char* rscpNlsKindText(int32_t v)
{
    return rscpNlsKindName(static_cast<uint32_t>(v));
}

// ---- option setters and accessors (each setter returns 0) ----------------

uint32_t rscpCSetMiss(rscpCObj_t* obj, int32_t miss);
uint32_t rscpCSetMissBroken(rscpCObj_t* obj, int32_t miss, int32_t broken);
uint32_t rscpCGetNoOfSubst(const rscpCObj_t* obj);
void rscpCResetNoOfSubst(rscpCObj_t* obj);
uint32_t rscpCGetFillRest(const rscpCObj_t* obj);
uint32_t rscpCSetFillRest(rscpCObj_t* obj, int32_t fill);
uint32_t rscpCSetLangu(rscpCObj_t* obj, const char* langu);
uint32_t rscpCClearLangu(rscpCObj_t* obj);
uint32_t rscpCSet3rdCP(rscpCObj_t* obj, const char* codePage);
uint32_t rscpCClear3rdCP(rscpCObj_t* obj);
uint32_t rscpCDeactivate(rscpCObj_t* obj);
uint32_t rscpCSetDoFilter(rscpCObj_t* obj, int32_t value);
uint32_t rscpCSetEnforceF1(rscpCObj_t* obj, int32_t value);
int32_t rscpCGetEnforceF1(const rscpCObj_t* obj);
uint32_t rscpCSetCtrlCodes(rscpCObj_t* obj, int32_t value);
uint32_t rscpCSetOwnCh(rscpCObj_t* obj, int32_t value);
uint32_t rscpCSetOnDrop(rscpCObj_t* obj, int32_t value);
uint32_t rscpCSetSubstCodeU4(rscpCObj_t* obj, uint32_t codePoint);
uint32_t rscpCSetSubstU4(rscpCObj_t* obj, uint32_t codePoint);
// The same setters under the names the converter cache side uses.
uint32_t rscpCSetUseF1(rscpCObj_t* obj, int32_t value);
uint32_t rscpCSetCtrlCodeCv(rscpCObj_t* obj, int32_t value);
uint32_t rscpCSetKOVOwnChCv(rscpCObj_t* obj, int32_t value);
uint32_t rscpCSetDrop(rscpCObj_t* obj, int32_t value);
uint32_t rscpCSetFilter(rscpCObj_t* obj, uint8_t flag);
uint32_t rscpCPreSetSubstU4(rscpCObj_t* obj, uint32_t codePoint);
uint32_t rscpCRelease(rscpCObj_t* obj);

// The code pages packed into a word, first character in the lowest byte; the
// active forms give "0000" unless the object is activated (method 2 to 49).
uint32_t rscpCGetIncode(const rscpCObj_t* obj);
uint32_t rscpCGetOutcode(const rscpCObj_t* obj);
uint32_t rscpCGetActiveIncode(const rscpCObj_t* obj);
uint32_t rscpCGetActiveOutcode(const rscpCObj_t* obj);

// ISO-2022 state snapshot: the object's timestamp and state bits 0-27.
struct rscpC2022Snapshot {
    uint32_t timestamp;
    uint32_t state;
};
void rscpCSave2022State(const rscpCObj_t* obj, rscpC2022Snapshot* snap);
int32_t rscpCSame2022State(const rscpCObj_t* obj, const rscpC2022Snapshot* snap);
void rscpCClearRunState(rscpCObj_t* obj);
// Returns the control record; a nonzero amount is first added to its counter.
rscpCtlRecord_t* rscpCccRecordAddCount(const void* ignored, uint32_t amount);

// ---- character numbers ----------------------------------------------------

uint32_t rscpCharNoToUnicodeChecked(uint32_t* codePoint, uint32_t charNo);
uint32_t rscpUnicodeToCharNo(uint16_t* charNo, uint32_t codePoint);
uint32_t rscpCharNoToUnicode(uint32_t charNo);
uint16_t rscpUnicodeToCharNoQuiet(uint32_t codePoint);
uint32_t rscpCSetSubst(rscpCObj_t* obj, uint32_t charNo);

// Sixteen bytes as "%02X " groups, "," after every fourth and ";" after the
// eighth, handed to the writer with the context.
void rscpHexLine16(const uint8_t* bytes, void (*writer)(const char* text, int32_t length, void* ctx), void* ctx);
// "len=%d,data=" and at most 10 bytes as "%02x"; the buffer needs 48 bytes.
char* rscpHexField(char* buffer, const uint8_t* bytes, int32_t length);
// The module's version ident; mode 1 without its leading marker and keyword.
const char* rscpSourceIdent(int32_t mode);

// ---- code page queries ----------------------------------------------------

inline constexpr int32_t RSCPKIND_UNKNOWN = 0, RSCPKIND_STRANGE = 1, RSCPKIND_EBCDIC = 2, RSCPKIND_ASCII = 3,
                         RSCPKIND_UTF8 = 4, RSCPKIND_2BYTEBIG = 5, RSCPKIND_2BYTELITTLE = 6, RSCPKIND_4BYTEBIG = 7,
                         RSCPKIND_4BYTELITTLE = 8;

uint32_t GetCPInfo(const char* codePage, rscpCpInfo_t* info);
// Makes the cache usable (reconnect or reorganisation as needed): 0, or 2048
// "F34" when it is not initialised.  line goes into the error record.
uint32_t rscpCccReady(int32_t line);
// The cache's record of a code page (binary search, inside the block only),
// or NULL.
rscpCpInfo_t* rscpFindCodePage(const char* codePage);
// The parameter "rscp/shortcut_many_converters" is a nonzero number (read once).
bool rscpShortcutManyConverters();
uint32_t rscpcpe_code_page_exists(const char* codePage);
uint32_t rscpCodePageKnown(const char* codePage);
int32_t rscpKindiOfCP(const char* codePage);
const char* rscpKindText(int32_t kind);
// 'A', 'E', 'U' or 0 for a code page in ASCII, EBCDIC or UTF-16 digits
// (length 4, or 8 for UTF-16).
char rscpCharSetLetterOfCP(const unsigned char* codePage, int32_t length);
uint8_t rscpIsStacking(const char* codePage);
uint64_t getSpaceOfCP(const char* codePage);
int32_t rscpLengthOfBasicChar(const char* codePage);
uint64_t rscpCInputSpace(rscpCObj_t* obj);
uint64_t rscpCOutputSpace(rscpCObj_t* obj);
int32_t rscpShortCutKindOfConverter(const rscpCObj_t* obj);
struct rscpDefCountry_t {
    uint16_t country;
    uint8_t flag;
};
uint32_t rscpldc_lookup_default_country(rscpDefCountry_t* out, uint32_t mask);
// Four ASCII digits (first in the lowest byte) from a code page written in
// ASCII, EBCDIC or UTF-16 digits (8 bytes for UTF-16; otherwise 4 are read).
uint32_t rscpCodePageToAscii(const unsigned char* codePage, int32_t length);

// ---- language-dependent code pages and space classes ----------------------

void rscpResolveInCodePage(char* out4, const char* codePage, char langu, uint8_t* ambiguous, char* thirdCp4);
void rscpResolveOutCodePage(char* out4, const char* codePage, char langu, uint8_t* ambiguous, char* thirdCp4);
uint32_t rscpRefineAsianUniKind(uint32_t kind, char langu);
int32_t rscpSpaceClass(const uint8_t* space4, int32_t length);
int32_t rscpCodePageFamily(const rscpCpInfo_t* info);

// ---- segment index mapping ------------------------------------------------

// 0, or 1 no room, 2 below the base, 3 above the segment, 4 unusable descriptor.
int32_t rscpSegIndexToBytes(const rscpSegDesc_t* seg, uint32_t index, uint8_t* bytes, int32_t* length, int32_t room);
// 0, or 1 too short or a byte out of range, 3 below the lowest index, 4 above
// the highest, 5 unusable descriptor.
int32_t rscpSegBytesToIndex(const rscpSegDesc_t* seg, uint32_t* index, const uint8_t* bytes, int32_t length);
// "[%06lx..%06lx]" of block * 128 and block * 128 + 127 in one process-wide buffer.
const char* rscpBlockRangeText(uint32_t block);
