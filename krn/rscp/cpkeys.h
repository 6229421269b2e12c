// The library's own characters (named by two-character keys, numbered just
// above the Unicode range), enumerators of the characters and byte sequences
// that a conversion rule covers, and the one-character language keys.
#pragma once

#include <cstdint>

inline constexpr uint32_t RSCP_OWN_BASE = 0x110100;  // internal number of key "00"
inline constexpr uint32_t RSCP_OWN_KEYS = 3844;

// Internal number of a key, 0 when a symbol is not one of 0-9, A-Z, a-z.
uint32_t rscpKey2ToNumber(char first, char second);
// The 6-byte UTF-16 form (F8 FD 00 s1 00 s2) of an internal number, in a
// static buffer; a number outside the keys gives key "00".
const uint8_t* rscpNumberToKey2(uint32_t number);
// Six hexadecimal digits of the key's internal number ("110100" for an
// invalid key), in a static buffer.
const char* rscpKey2ToHex(const char* key2);
// Own-character table: the 8-byte name of a character's row, or its 4-byte
// code field; NULL when the character has no row.
const char* rscpOwnCharByChar(char c);
const char* rscpOwnCharByText(const char* text);
const uint8_t* rscpOwnCharCodeByText(const char* text);

// Key enumerator: every key "00" to "zz" with optional prefix and suffix bytes.
struct rscpKeyEnum_t {
    uint32_t status;  // above 8: finished
    uint32_t count;
    char key[2];
    uint32_t ruleKind;
    uint8_t prefix[10];
    uint8_t suffix[12];
    uint32_t prefixLength;
    uint32_t suffixLength;
};
void rscpenKey2Init(rscpKeyEnum_t* state);
void rscpenKey2InitB(rscpKeyEnum_t* state);
int rscpenKey2Next(rscpKeyEnum_t* state, uint32_t* number, char* key2);
int rscpenKey2NextPrefixed(rscpKeyEnum_t* state, uint32_t* number, uint8_t* prefix3, char* first, char* second);
void rscpenHexRangeInit(rscpKeyEnum_t* state, uint32_t status, uint32_t ruleKind, const char* hex1, int32_t len1,
                        const char* hex2, int32_t len2);
int rscpenHexRangeNext(rscpKeyEnum_t* state, uint32_t* number, uint8_t* out, int32_t room, int32_t* length);

// Character enumerator.
struct rscpCharEnum_t {
    uint32_t code;  // next candidate
    uint32_t zero[4];
};
uint32_t rscpenUcs2First();
int rscpenUcs2NextGraphic(rscpCharEnum_t* state, uint32_t* code);
void rscpenCharInit(rscpCharEnum_t* state);
void rscpenCharInitB(rscpCharEnum_t* state);
int rscpenUcs2NextChar(rscpCharEnum_t* state, uint32_t* code);
int rscpenUcs4NextChar(rscpCharEnum_t* state, uint32_t* code);
uint32_t rscpenSuppFirst();
int rscpenSuppNext(rscpCharEnum_t* state, uint32_t* code, uint8_t* b1, uint8_t* b2, uint8_t* b3, uint8_t* b4);

// Odometer over byte sequences whose positions run in fixed ranges.
struct rscpMultiRange_t {
    uint32_t number;
    uint32_t end;
    int32_t positions;  // 1 to 4
    uint8_t low[4];
    uint8_t high[4];
    int16_t current[4];  // the last position starts one below its start byte
};
void rscpenMultiRangeInit(rscpMultiRange_t* state, uint32_t start, uint32_t end, int32_t positions,
                          const uint8_t* startBytes, const uint8_t* lowBytes, const uint8_t* highBytes);
int rscpenMultiRangeNext(rscpMultiRange_t* state, uint32_t* number, uint8_t* b1, uint8_t* b2, uint8_t* b3, uint8_t* b4);

// Language keys.
const char* rscpGetLanguageKeys();
int rscpLanguageKeyToIso(char* iso2, char key);
int rscpIsoToLanguageKey(uint16_t* key, const char* iso2);
int rscpIsoToLanguageKeyChar(char* key, const char* iso2);
int rscpLanguageKeyToIsoU16(char* iso2, uint16_t key);
