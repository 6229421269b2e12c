// The code page pair filter: for a source and a destination code page,
// whether a conversion is needed at all, and if so whether one 256-byte
// translation table does it, whether it needs a multi-byte conversion, or
// whether the pair is unknown or forbidden.  It works on compiled-in data
// only (krn/rscp/data/cpf1_tables.cpp, written by gen_cpf1.py) and never
// touches the converter cache.
#pragma once

#include <cstdint>

struct rscpf1Exception;

// A code page's row: character set 0..27, manufacturer 0..14, status 1
// allowed / 0 not allowed, and its exception list.
struct rscpf1Row {
    char cp[4];
    uint32_t charset;
    uint32_t manufacturer;
    uint32_t status;
    rscpf1Exception* exceptions;
};
static_assert(sizeof(rscpf1Row) == 24, "pair filter row");

// A matrix cell: 0 no entry, 8 not sure, 16 multi-byte conversion needed,
// 32 the destination contains the source; any other value is the address of
// a 256-byte translation table (in the compiled-in data a table is tagged as
// RSCPF1_TABLE_TAG + its index until the filter is initialised).
struct rscpf1Cell {
    uint64_t value;
    const char* description;
};
static_assert(sizeof(rscpf1Cell) == 16, "pair filter matrix cell");
inline constexpr uint64_t RSCPF1_TABLE_TAG = 0x100;
inline constexpr int RSCPF1_MANUFACTURERS = 15;
inline constexpr int RSCPF1_CHARSETS = 28;
inline constexpr int RSCPF1_ROWS = 85;

// A pair of code pages handled apart from the matrices: the destination's
// code page and row (resolved at initialisation), a cell value and its text.
struct rscpf1Exception {
    char cp[4];
    rscpf1Row* row;
    uint64_t value;
    const char* description;
    rscpf1Exception* next;
};

// The character sets that a blended character set contains.
struct rscpf1Unification {
    uint32_t count;
    uint32_t group[5];
};

// The compiled-in data.
extern rscpf1Row rscpf1Rows[RSCPF1_ROWS + 1];  // the last row is the search sentinel
extern rscpf1Cell* const rscpf1Matrices[RSCPF1_CHARSETS];
extern rscpf1Cell* const rscpf1UnicodeMatrix;
extern uint8_t rscpf1Tables[][256];
extern const uint32_t rscpf1TableCount;
extern const uint32_t rscpf1CompatiblePairs[][2];
extern const uint32_t rscpf1CompatiblePairCount;
extern const rscpf1Unification rscpf1Unifications[RSCPF1_CHARSETS];

// Verdicts.
inline constexpr uint32_t RSCPF1_NO_TRANSLATION = 0, RSCPF1_NOT_SURE = 11, RSCPF1_INCOMPATIBLE = 16, RSCPF1_TABLE = 17,
                          RSCPF1_MULTIBYTE = 19, RSCPF1_SIMILAR = 32, RSCPF1_UNIFIED = 64;

// The verdict for a pair (code pages in ASCII or EBCDIC digits); table and
// description are written for the table verdicts 17, 49 and 81 only.  With
// similarity 0 pairs of unrelated character sets are incompatible (16).
uint32_t rscpf1__check_pair(const char* source, const char* destination, const uint8_t** table,
                            const char** description, uint32_t similarity);
// The check with similarity, bits 32 and 64 cleared.
uint32_t rscpf1_check_codepage_pair(const char* source, const char* destination, const uint8_t** table,
                                    const char** description);
// 0 listed and allowed, 1 not listed (the sentinel row), 2 not allowed.
uint32_t rscpf1__find_codepage(const char* cp4, rscpf1Row** row);
// The row copied out, manufacturers 13 and 14 shown as 2 and 5.
uint32_t rscpf1__get_codepage_info(const char* cp4, rscpf1Row* out);
// The allowed rows in table order; null at the end.
rscpf1Row* rscpf1__first_codepage();
rscpf1Row* rscpf1__next_codepage();
// Forbids a code page, or (as "not sure") the conversions between the
// manufacturers of a pair; both hold for the rest of the process.
void rscpf1__stop_codepage(const char* cp4);
uint32_t rscpfsp_stop_codepage_pair(const char* source, const char* destination);
// 0 compatible, 1 not, 2 a code page not listed or not allowed.
uint32_t rscpf1__pair_compatible(const char* a, const char* b);
void rscpf1__init();

const char* rscpf1__manufacturer_name(uint32_t v);
const char* rscpf1__charset_name(uint32_t v);
const char* rscpf1__verdict_text(uint32_t v);

// The key of a translation table in the cache's list of loaded tables: the
// digits of its name ("t_0120_to_1100") as four-bit nibbles, "_to_" as 11.
uint64_t rscpf1TableKey(const char* description);
