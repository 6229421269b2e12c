// What the code page library answers where a host would have a database
// and an inter-process cache manager: fixed results, with an error recorded
// where the caller expects one; and the lookup of a locale record in the
// flat file "TCP0C.DAT".
#pragma once

#include <cstdint>

// ---- Unicode-migration and table settings --------------------------------------

// The switch (when given) becomes 1; 8192 "CQB" recorded after a note on
// standard error.
uint32_t rscpumgGetExportToSw(uint32_t* sw);
uint32_t rscpumgGetW5transSw(uint32_t* sw);
// The local code page; 8192 "CQB" recorded after a note on standard error.
uint32_t rscpumgGetFallBackCP(char* cp4);
// The local code page and the flag (when given) 1; 0.
uint32_t rscpumgGetSystemCP(char* cp4, uint8_t* flag);
// The flag (when given) 1; 128 "CQB" recorded.
uint32_t rscpumgReadUMGCCTL(uint32_t, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t* flag);
// 8192 "CQB" recorded, its text printed through print when given.
typedef void (*rscpPrintFunc)(const char* text, int32_t length);
uint32_t rscpumgLoadUMGCCTL(rscpPrintFunc print);
void rscpumgShowUMGCCTL(rscpPrintFunc print);
// 128 "F12" recorded with the caller's mask.
uint32_t rscpReadTCP09(const void* argument, uint32_t mask);

// A locale record of "TCP0C.DAT": blank-padded fields in this order.
struct rscpTcp0cRecord_t {
    char platform[16];
    char language[1];
    char country[3];
    char modifier[8];
    char locale[255];
    char codePage[4];
};
// Fills the record from the first line of "TCP0C.DAT" (in the working
// directory) that matches its platform, language, country and modifier (a
// blank field matches any): 0, or 128 "CQA" with the caller's mask when the
// file cannot be read or holds no such line.
uint32_t rscpLookupTCP0C(rscpTcp0cRecord_t* record, uint32_t mask);

// A character of the local code page cut off at the end of the buffer:
// its bytes become fill and their number goes to *count (when given); 0, or
// 1 when the local code page is unknown.
uint32_t rscpFillIncompleteTail(uint8_t* buffer, int32_t length, uint8_t fill, uint32_t* count);

// The pair filter's compatibility (0 compatible, 1 not, 2 a code page
// unknown); a customised pair would make it 0, but none exists here.
uint32_t rscpPairCompatibleOrCustomized(const char* source, const char* target);

// ---- database services --------------------------------------------------------------

uint32_t rscptua_no_db();             // note on standard error; 128
uint32_t rscpctdd__check_tabin_DD();  // 2
void rscpccf();
uint32_t rstshxp__has_exec_permission(uint32_t, uint8_t* permission, uint8_t* second);  // both 1; 0
// "no info" blank-padded to size (or size times 'n' below 7); 2.
uint32_t rscpGetTableInfo(uint32_t, uint32_t, char* out, int32_t size);
uint32_t rscpDisableOption7();  // option 7 set to 0; 1
// Four EBCDIC digits become ASCII digits in place.
void rscpEbcdicDigitsToAscii(char* cp4);

// ---- inter-process cache control ------------------------------------------------------

// Mode 0: 0; mode 1: 128; other modes: 128 "CPV" recorded.
uint32_t rscpmc4_init(int32_t mode);
uint32_t rscpmc3_init(int32_t mode);
