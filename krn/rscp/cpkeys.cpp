// Own-character keys, the rule enumerators and the language keys.
#include "krn/rscp/cpkeys.h"

#include <cstdio>
#include <cstring>

#include "nls/nlsui.h"

namespace {

const char kSymbols[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";

int SymbolValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'Z')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 36;
    return -1;
}

int KeyNumber(char first, char second)
{
    const int f = SymbolValue(first), s = SymbolValue(second);
    if (f < 0 || s < 0)
        return -1;
    return s < 36 ? f * 36 + s : 2232 + f * 26 + (second - 'a');
}

void KeyOfNumber(uint32_t n, char* key)
{
    if (n < 2232) {
        key[0] = kSymbols[n / 36];
        key[1] = kSymbols[n % 36];
    } else {
        n -= 2232;
        key[0] = kSymbols[n / 26];
        key[1] = static_cast<char>('a' + n % 26);
    }
}

// Moves the key on: the second symbol runs through the 62 symbols, then the
// first; after "zz" the enumerator is finished.
void Advance(rscpKeyEnum_t* s)
{
    ++s->count;
    const int second = SymbolValue(s->key[1]);
    if (second < 61) {
        s->key[1] = kSymbols[second + 1];
        return;
    }
    s->key[1] = '0';
    const int first = SymbolValue(s->key[0]);
    if (first < 61)
        s->key[0] = kSymbols[first + 1];
    else
        s->status = 9;
}

struct OwnCharRow {
    char name[8];
    uint8_t code[4];
    uint8_t zero1;
    char character;
    uint8_t zero2[2];
    uint32_t count;
};
static_assert(sizeof(OwnCharRow) == 20, "own-character row");

constexpr char kOwnChars[] = " /012345678ABCDFGHIKLOQPRSTUVW";

struct OwnCharTable {
    OwnCharRow rows[31];
    constexpr OwnCharTable()
        : rows{}
    {
        const char* hex = "0123456789ABCDEF";
        for (int i = 0; i < 30; ++i) {
            const uint32_t v = 0x10FF03 + static_cast<uint32_t>(i);
            for (int k = 0; k < 6; ++k)
                rows[i].name[k] = hex[(v >> (20 - 4 * k)) & 0xF];
            rows[i].code[0] = 0xDB;
            rows[i].code[1] = 0xFF;
            rows[i].code[2] = 0xDF;
            rows[i].code[3] = 0x02;
            rows[i].character = kOwnChars[i];
            rows[i].count = 6;
        }
    }
};
constexpr OwnCharTable kOwnTable;

const OwnCharRow* OwnRow(char c)
{
    for (const OwnCharRow& r : kOwnTable.rows) {
        if (r.count == 0)
            break;
        if (r.character == c)
            return &r;
    }
    return nullptr;
}

const char kLanguageKeys[] = "&(),./:;0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdi";
const char* const kIso[] = {"Z9", "Z2", "Z3", "Z4", "Z5", "Z6", "Z7", "Z8", "SR", "ZH", "TH", "KO", "RO",
                            "SL", "HR", "MS", "UK", "ET", "AR", "HE", "CS", "DE", "EN", "FR", "EL", "HU",
                            "IT", "JA", "DA", "PL", "ZF", "NL", "NO", "PT", "SK", "RU", "ES", "TR", "FI",
                            "SV", "BG", "LT", "LV", "Z1", "AF", "IS", "CA", "SH", "ID"};
static_assert(sizeof kIso / sizeof kIso[0] == sizeof kLanguageKeys - 1, "one code per language key");

char Upper(char c)
{
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c;
}

}  // namespace

uint32_t rscpKey2ToNumber(char first, char second)
{
    const int n = KeyNumber(first, second);
    return n < 0 ? 0 : RSCP_OWN_BASE + static_cast<uint32_t>(n);
}

const uint8_t* rscpNumberToKey2(uint32_t number)
{
    static uint8_t form[6];
    uint32_t n = (number & 0xFFFFFF) - RSCP_OWN_BASE;
    if (n >= RSCP_OWN_KEYS)
        n = 0;
    char key[2];
    KeyOfNumber(n, key);
    const uint8_t f[6] = {0xF8, 0xFD, 0x00, static_cast<uint8_t>(key[0]), 0x00, static_cast<uint8_t>(key[1])};
    std::memcpy(form, f, 6);
    return form;
}

const char* rscpKey2ToHex(const char* key)
{
    static char hex[12];
    const int n = key != nullptr ? KeyNumber(key[0], key[1]) : -1;
    std::snprintf(hex, sizeof hex, "%06X", static_cast<unsigned>(RSCP_OWN_BASE + (n < 0 ? 0 : n)));
    return hex;
}

const char* rscpOwnCharByChar(char c)
{
    const OwnCharRow* r = OwnRow(c);
    return r != nullptr ? r->name : nullptr;
}

const char* rscpOwnCharByText(const char* text)
{
    if (text == nullptr)
        return nullptr;
    return rscpOwnCharByChar(static_cast<char>(nlsui_char2a7cnt(static_cast<unsigned char>(text[0]))));
}

const uint8_t* rscpOwnCharCodeByText(const char* text)
{
    if (text == nullptr)
        return nullptr;
    const OwnCharRow* r = OwnRow(static_cast<char>(nlsui_char2a7cnt(static_cast<unsigned char>(text[0]))));
    return r != nullptr ? r->code : nullptr;
}

// ---- key enumerators ----------------------------------------------------------

void rscpenKey2Init(rscpKeyEnum_t* state)
{
    *state = rscpKeyEnum_t{};
    state->key[0] = state->key[1] = '0';
}

void rscpenKey2InitB(rscpKeyEnum_t* state)
{
    rscpenKey2Init(state);
}

int rscpenKey2Next(rscpKeyEnum_t* state, uint32_t* number, char* key)
{
    if (state->status > 8)
        return 0;
    *number = rscpKey2ToNumber(state->key[0], state->key[1]);
    key[0] = state->key[0];
    key[1] = state->key[1];
    Advance(state);
    return 1;
}

int rscpenKey2NextPrefixed(rscpKeyEnum_t* state, uint32_t* number, uint8_t* prefix, char* first, char* second)
{
    char key[2];
    if (!rscpenKey2Next(state, number, key))
        return 0;
    prefix[0] = 0xEF;
    prefix[1] = 0xA3;
    prefix[2] = 0xBD;
    *first = key[0];
    *second = key[1];
    return 1;
}

namespace {

// Hexadecimal digits taken in pairs (other characters skipped), at most room
// bytes.
uint32_t HexBytes(uint8_t* out, uint32_t room, const char* text, int32_t length)
{
    uint32_t n = 0;
    int high = -1;
    for (int32_t i = 0; text != nullptr && i < length && n < room; ++i) {
        const char c = text[i];
        int v = c >= '0' && c <= '9'   ? c - '0'
                : c >= 'A' && c <= 'F' ? c - 'A' + 10
                : c >= 'a' && c <= 'f' ? c - 'a' + 10
                                       : -1;
        if (v < 0)
            continue;
        if (high < 0) {
            high = v;
        } else {
            out[n++] = static_cast<uint8_t>(high << 4 | v);
            high = -1;
        }
    }
    return n;
}

}  // namespace

void rscpenHexRangeInit(rscpKeyEnum_t* state, uint32_t status, uint32_t ruleKind, const char* hex1, int32_t len1,
                        const char* hex2, int32_t len2)
{
    rscpenKey2Init(state);
    state->status = status;
    state->ruleKind = ruleKind;
    state->prefixLength = HexBytes(state->prefix, sizeof state->prefix, hex1, len1);
    state->suffixLength = HexBytes(state->suffix, sizeof state->suffix, hex2, len2);
}

int rscpenHexRangeNext(rscpKeyEnum_t* state, uint32_t* number, uint8_t* out, int32_t room, int32_t* length)
{
    if (state->status > 8)
        return 0;
    const uint8_t s1 = static_cast<uint8_t>(state->key[0]), s2 = static_cast<uint8_t>(state->key[1]);
    uint8_t form[4];
    uint32_t formLength = 0;
    switch (state->ruleKind) {
    case 40:
        form[0] = s1;
        form[1] = s2;
        formLength = 2;
        break;
    case 41:
        form[0] = nlsui_l12e_char(s1);
        form[1] = nlsui_l12e_char(s2);
        formLength = 2;
        break;
    case 42:
        form[0] = 0;
        form[1] = s1;
        form[2] = 0;
        form[3] = s2;
        formLength = 4;
        break;
    case 43:
        form[0] = s1;
        form[1] = 0;
        form[2] = s2;
        form[3] = 0;
        formLength = 4;
        break;
    default:
        break;
    }
    const uint32_t total = state->prefixLength + formLength + state->suffixLength;
    if (room < 0 || total > static_cast<uint32_t>(room))
        return 0;
    std::memcpy(out, state->prefix, state->prefixLength);
    std::memcpy(out + state->prefixLength, form, formLength);
    std::memcpy(out + state->prefixLength + formLength, state->suffix, state->suffixLength);
    *number = rscpKey2ToNumber(state->key[0], state->key[1]);
    *length = static_cast<int32_t>(total);
    Advance(state);
    return 1;
}

// ---- character enumerators ---------------------------------------------------------

uint32_t rscpenUcs2First()
{
    return 0x20;
}

void rscpenCharInit(rscpCharEnum_t* state)
{
    *state = rscpCharEnum_t{};
    state->code = 0x20;
}

void rscpenCharInitB(rscpCharEnum_t* state)
{
    rscpenCharInit(state);
}

int rscpenUcs2NextGraphic(rscpCharEnum_t* state, uint32_t* code)
{
    uint32_t c = state->code < 0x20 ? 0x20 : state->code;
    if (c >= 0x7F && c < 0xA0)
        c = 0xA0;
    if (c > 0xFFFD)
        return 0;
    *code = c;
    state->code = c + 1;
    return 1;
}

namespace {

uint32_t SkipNonCharacters(uint32_t c)
{
    if (c < 0x20)
        c = 0x20;
    if (c >= 0x7F && c <= 0x9F)
        c = 0xA0;
    if (c >= 0xD800 && c <= 0xDFFF)
        c = 0xE000;
    if (c >= 0xFDD0 && c <= 0xFDEF)
        c = 0xFDF0;
    return c;
}

}  // namespace

int rscpenUcs2NextChar(rscpCharEnum_t* state, uint32_t* code)
{
    const uint32_t c = SkipNonCharacters(state->code);
    if (c > 0xFFFD)
        return 0;
    *code = c;
    state->code = c + 1;
    return 1;
}

int rscpenUcs4NextChar(rscpCharEnum_t* state, uint32_t* code)
{
    uint32_t c = SkipNonCharacters(state->code);
    if (c > 0xFFFD && c < 0x10000)
        c = 0x10000;
    if (c > 0x10FFFF)
        return 0;
    *code = c;
    state->code = c + 1;
    return 1;
}

uint32_t rscpenSuppFirst()
{
    return 0x10000;
}

int rscpenSuppNext(rscpCharEnum_t* state, uint32_t* code, uint8_t* b1, uint8_t* b2, uint8_t* b3, uint8_t* b4)
{
    const uint32_t c = state->code < 0x10000 ? 0x10000 : state->code;
    if (c > 0x10FFFF)
        return 0;
    const uint32_t v = c - 0x10000;
    const uint32_t hi = 0xD800 + (v >> 10), lo = 0xDC00 + (v & 0x3FF);
    *code = c;
    *b1 = static_cast<uint8_t>(hi >> 8);
    *b2 = static_cast<uint8_t>(hi);
    *b3 = static_cast<uint8_t>(lo >> 8);
    *b4 = static_cast<uint8_t>(lo);
    state->code = c + 1;
    return 1;
}

void rscpenMultiRangeInit(rscpMultiRange_t* state, uint32_t start, uint32_t end, int32_t positions,
                          const uint8_t* startBytes, const uint8_t* lowBytes, const uint8_t* highBytes)
{
    *state = rscpMultiRange_t{};
    state->number = start;
    state->end = end;
    state->positions = positions < 1 ? 1 : positions > 4 ? 4 : positions;
    for (int i = 0; i < state->positions; ++i) {
        state->low[i] = lowBytes[i];
        state->high[i] = highBytes[i];
        state->current[i] = startBytes[i];
    }
    --state->current[state->positions - 1];
}

int rscpenMultiRangeNext(rscpMultiRange_t* state, uint32_t* number, uint8_t* b1, uint8_t* b2, uint8_t* b3, uint8_t* b4)
{
    if (state->number > state->end)
        return 0;
    int i = state->positions - 1;
    ++state->current[i];
    while (i > 0 && state->current[i] > state->high[i]) {
        state->current[i] = state->low[i];
        ++state->current[--i];
    }
    uint8_t* out[4] = {b1, b2, b3, b4};
    for (int k = 0; k < state->positions; ++k)
        if (out[k] != nullptr)
            *out[k] = static_cast<uint8_t>(state->current[k]);
    *number = state->number++;
    return 1;
}

// ---- language keys ----------------------------------------------------------------

const char* rscpGetLanguageKeys()
{
    return kLanguageKeys;
}

int rscpLanguageKeyToIso(char* iso, char key)
{
    const char* hit = key != '\0' ? std::strchr(kLanguageKeys, key) : nullptr;
    if (hit == nullptr)
        return 1;
    std::memcpy(iso, kIso[hit - kLanguageKeys], 2);
    return 0;
}

int rscpIsoToLanguageKeyChar(char* key, const char* iso)
{
    const char a = Upper(iso[0]), b = Upper(iso[1]);
    for (size_t i = 0; i < sizeof kIso / sizeof kIso[0]; ++i)
        if (kIso[i][0] == a && kIso[i][1] == b) {
            *key = kLanguageKeys[i];
            return 0;
        }
    return 1;
}

int rscpIsoToLanguageKey(uint16_t* key, const char* iso)
{
    const char a = Upper(iso[0]), b = Upper(iso[1]);
    if (a < 32 || b < 32)  // bytes of 128 and above are negative chars
        return 1;
    char k;
    if (rscpIsoToLanguageKeyChar(&k, iso) == 0) {
        *key = static_cast<uint8_t>(k);
        return 0;
    }
    *key = static_cast<uint16_t>(0xAC00 + (a - 32) * 96 + (b - 32));
    return 0;
}

int rscpLanguageKeyToIsoU16(char* iso, uint16_t key)
{
    if (key < 128)
        return rscpLanguageKeyToIso(iso, static_cast<char>(key));
    if (key < 0xAC00 || key > 0xCFFE)
        return 1;
    const int d = key - 0xAC00;
    iso[0] = static_cast<char>(32 + d / 96);
    iso[1] = static_cast<char>(32 + d % 96);
    return 0;
}
