// Entering codes, characters and rules into the conversion tables of the
// converter cache: input codes and rules into the T1 trie, output codes and
// rules into T2 pages and T3 blocks, and the spreading of a character whose
// code is also the beginning of longer codes.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "krn/rscp/cpcacheint.h"
#include "krn/rscp/cptable.h"
#include "nls/kovstr.h"

namespace {

const char kModule[] = "@(#) $Id: rscpml#1 $";

inline constexpr int32_t kMaxCode = 126;

uint32_t Error(uint32_t code, int32_t location, int32_t line, const char* text, const char* msgid,
               const char* arg1 = nullptr, const char* arg2 = nullptr)
{
    return rscpe__error(code, 'C', RSCP_ALL_ERRORS, kModule, location, line, text, msgid, arg1, arg1 ? -1 : 0, arg2,
                        arg2 ? -1 : 0);
}

uint32_t CacheSize(int32_t line)
{
    char arg[40];
    snprintfR(arg, sizeof arg, "cachesize&%ld&?&", static_cast<long>(rscpmp->length));
    return Error(RSCPETOOLONG, 1, line, "KOVPARAM(rsts/ccc/cachesize) too small", "F1A", arg);
}

uint32_t CodeLength(const char* table, int32_t length, const char* range, int32_t line)
{
    char text[48], arg[64];
    snprintfR(text, sizeof text, "field CPCODELEN ill.value [%s]", range);
    snprintfR(arg, sizeof arg, "%s&%d&%s&", table, static_cast<int>(length), "CPCODELEN");
    return Error(RSCPEINTERN, 2, line, text, "F22", arg);
}

uint32_t BadGroup(const char* table, int32_t group, int32_t line)
{
    char arg[64];
    snprintfR(arg, sizeof arg, "%s&%s&%s&%d&&", table, "ISO-2022", "group", static_cast<int>(group));
    return Error(RSCPEINTERN, 3, line, "prefix ill.value [-1..11]", "CQ4", arg);
}

// The cache is damaged: a table refers back into itself.
uint32_t Inconsistent(int32_t line)
{
    rscpmp->overflow = 2;
    return Error(RSCPETOOLONG, 4, line, "Inconsistencies in T1", "CQ4");
}

// The T2 entry of a character's page; NULL for a character beyond the piece.
uint16_t* PageEntry(uint32_t t2, uint32_t ch)
{
    const rscpCcc_t* c = rscpmp;
    if (t2 < c->firstT2 || uint64_t(t2) + rscpmlT2Size() > c->endT2 || ch / 128 >= rscpmlT2Size() / 4)
        return nullptr;
    return rscpmlT2(t2) + ch / 128;
}

// Offset in the cache07 area of a copy of the code bytes, or 0.
uint32_t StoreLongCode(const uint8_t* bytes, int32_t length)
{
    const uint32_t offset = rscpmlTakeCache07(static_cast<uint32_t>(length), 1);
    if (offset == 0 || offset > 0xFFFFFF)
        return 0;
    std::memcpy(reinterpret_cast<char*>(rscpmp) + offset, bytes, static_cast<size_t>(length));
    return offset;
}

uint32_t Cache07Small(int32_t line)
{
    const rscpCcc_t* c = rscpmp;
    char arg[40];
    snprintfR(arg, sizeof arg, "cache07&%ld&?&", static_cast<long>(c->endT7 - c->endT2));
    return Error(RSCPETOOLONG, 5, line, "KOVPARAM(rsts/ccc/cache07) small", "F1A", arg);
}

// The T3 slot of a character for an explicit code, or null with the code of
// the failure in rc (no T3 block: 32 "F5K").
uint32_t* OutputSlot(uint32_t t2, uint32_t ch, int32_t copyMode, uint32_t* rc, int32_t line)
{
    uint16_t* entry = PageEntry(t2, ch);
    if (entry == nullptr) {
        *rc = RSCPENOOBJ;
        return nullptr;
    }
    const uint32_t block = rscpn3__next_t3(entry, copyMode);
    if (block == 0) {
        char arg[16];
        snprintfR(arg, sizeof arg, "U+%06lx", static_cast<unsigned long>(ch));
        *rc = Error(RSCPETOOLONG, 6, line, "enter output char, but no T3", "F5K", arg);
        return nullptr;
    }
    return rscpmlT3(block) + ch % 128;
}

// An explicit output code in a character's slot: a filled slot is kept
// unless overwrite is 1; codes of 4 bytes and more go to the cache07 area.
uint32_t PutCode(uint32_t t2, uint32_t ch, int32_t length, const uint8_t* bytes, int32_t overwrite, int32_t copyMode)
{
    uint32_t rc = 0;
    uint32_t* slot = OutputSlot(t2, ch, copyMode, &rc, __LINE__);
    if (slot == nullptr)
        return rc;
    if (*slot != 0 && overwrite != 1)
        return 0;
    uint32_t value = 0;
    if (length < 4) {
        for (int32_t i = 0; i < length; ++i)
            value |= uint32_t(bytes[i]) << (16 - 8 * i);
    } else if ((value = StoreLongCode(bytes, length)) == 0) {
        return Cache07Small(__LINE__);
    }
    *slot = rscpT3CodeWord(static_cast<uint32_t>(length), value);
    return 0;
}

// Spreads entry (a character word with its length) below a continue word.
uint32_t Fill(uint32_t* word, uint32_t entry, uint32_t length, int32_t copyMode, int32_t depth, uint32_t* filled)
{
    const uint32_t holder = static_cast<uint32_t>((reinterpret_cast<char*>(word) - reinterpret_cast<char*>(rscpmp)) /
                                                  RSCP_T1_BYTES);
    const uint32_t block = depth > kMaxCode ? holder : rscpn1__next_t1(word, copyMode, length);
    if (block == 0)
        return CacheSize(__LINE__);
    if (block == holder) {
        std::fprintf(stderr, "rscpml.c(%d): fillCharInAllEmptySlots falls into a T1-loop.\n", __LINE__);
        std::fflush(stderr);
        return Inconsistent(__LINE__);
    }
    uint32_t* w = rscpmlT1(block);
    for (int i = 0; i < 257; ++i) {
        const uint32_t kind = rscpT1Kind(w[i]);
        if (w[i] == 0 || (kind == RSCP_T1_CHAR && rscpT1Length(w[i]) != 0 && rscpT1Length(w[i]) < length)) {
            w[i] = entry;
            ++*filled;
        } else if (kind == RSCP_T1_NEXT) {
            const uint32_t rc = Fill(&w[i], entry, length, copyMode, depth + 1, filled);
            if (rc != 0)
                return rc;
        }
    }
    return 0;
}

// The block at depth d of the path of bytes below start, made changeable
// (copy mode 1 copies what this load did not create); 0 on failure.
uint32_t ChangeableBlock(uint32_t start, const uint8_t* bytes, int32_t depth, int32_t copyMode)
{
    uint32_t block = start;
    for (int32_t i = 0; i < depth && block != 0; ++i)
        block = rscpn1__next_t1(rscpmlT1(block) + bytes[i], copyMode, static_cast<uint32_t>(i + 1));
    return block;
}

}  // namespace

// ---- output -------------------------------------------------------------------------------

uint32_t rscpeo1__enter_out_1code(uint32_t t2, const char*, uint32_t ch, uint8_t byte, int32_t overwrite,
                                  int32_t copyMode)
{
    uint16_t* entry = PageEntry(t2, ch);
    if (entry == nullptr)
        return RSCPENOOBJ;
    const uint32_t block = rscpn3__next_t3(entry, copyMode);
    if (block == 0)
        return RSCPETOOLONG;
    uint32_t& slot = rscpmlT3(block)[ch % 128];
    if (slot == 0 || overwrite == 1 || overwrite == 3)
        slot = rscpT3CodeWord(1, uint32_t(byte) << 16);
    return 0;
}

uint32_t rscpeo4__enter_out_4code(uint32_t t2, const char* table, uint32_t ch, int32_t length, const uint8_t* bytes,
                                  int32_t overwrite, int32_t copyMode)
{
    if (length < 1 || length > 4)
        return CodeLength(table, length, "1..4", __LINE__);
    return PutCode(t2, ch, length, bytes, overwrite, copyMode);
}

uint32_t rscpeo126__enter_out_126code(uint32_t t2, const char* table, uint32_t ch, int32_t length, const uint8_t* bytes,
                                      int32_t overwrite, int32_t copyMode)
{
    if (length < 5 || length > kMaxCode) {
        static const char kParam[] = "rscp/ignore_error/tcp07_cpcodelen";
        const char* ignore = rscpParam(kParam);
        if (ignore == nullptr || ignore[0] == '0')
            return CodeLength(table, length, "5..126", __LINE__);
        uint8_t shown[4] = {};
        if (bytes != nullptr && length > 0)
            std::memcpy(shown, bytes, static_cast<size_t>(std::min(length, 4)));
        std::fprintf(stderr, "T=%s C=%05ld : len=%03d bytes=%02x %02x %02x %02x..\n", table, static_cast<long>(ch),
                     static_cast<int>(length), shown[0], shown[1], shown[2], shown[3]);
        char arg[64];
        snprintfR(arg, sizeof arg, "%s&%d&%s&", table, static_cast<int>(length), "CPCODELEN");
        Error(RSCPENOOBJ, 7, __LINE__, "(W) field CPCODELEN ill.value [5..126]", "F22", arg, kParam);
        return RSCPENOOBJ;
    }
    return PutCode(t2, ch, length, bytes, overwrite, copyMode);
}

uint32_t rscpeor__enter_out_rule(uint32_t t2, const char*, uint32_t ch, uint32_t rule, uint32_t attr, int32_t,
                                 int32_t copyMode)
{
    rscpCcc_t* c = rscpmp;
    uint16_t* entry = PageEntry(t2, ch);
    if (entry == nullptr)
        return RSCPENOOBJ;
    const uint16_t e = *entry;
    if (rscpT2IsRulePage(e))
        return attr < 64 && e == rscpT2RulePage(rule, attr) ? 0 : RSCPEUNIQ;
    if (e != 0 && !rscpT2IsT3(e))
        return RSCPEUNIQ;
    const uint32_t block = rscpn3__next_t3(entry, copyMode);
    if (block == 0)
        return RSCPETOOLONG;
    uint32_t* w = rscpmlT3(block);
    const uint32_t want = rscpT3RuleWord(rule, attr);
    uint32_t& slot = w[ch % 128];
    if (slot == want)
        return 0;
    if (slot != 0)
        return RSCPEUNIQ;
    slot = want;
    // A page that one rule covers completely needs no block.
    if (ch % 128 != 127 || c->freeT3 != 0 || !rscpT3IsRule(w[0]) || rscpT3RuleAttr(w[0]) >= 64)
        return 0;
    for (int i = 1; i < 128; ++i)
        if (w[i] != w[0])
            return 0;
    *entry = rscpT2RulePage(rscpT3RuleNo(w[0]), rscpT3RuleAttr(w[0]));
    std::memset(w, 0, RSCP_T3_BYTES);
    --c->noofT3;
    c->freeT3 = block;
    return 0;
}

// ---- input ---------------------------------------------------------------------------------

uint32_t fillCharInAllEmptySlots(uint32_t* word, uint32_t charWord, uint32_t length, int32_t copyMode, uint32_t* filled)
{
    uint32_t count = 0;
    const uint32_t entry = (charWord & ~(0x1Fu << 24)) | std::min<uint32_t>(length, 31) << 24;
    const uint32_t rc = Fill(word, entry, length, copyMode, 0, &count);
    if (filled != nullptr)
        *filled = count;
    return rc;
}

uint32_t rscpei__enter_in_code(uint32_t root, const char* table, uint32_t ch, int32_t copyMode, int32_t length,
                               const uint8_t* bytes, int32_t overwrite, int32_t group)
{
    uint32_t result = 0;
    uint32_t block = root;
    if (group > 11 || group < -1) {
        BadGroup(table, group, __LINE__);
        result = RSCPEINTERN;
    } else if (group >= 0 && (block = rscpn1__next_t1(rscpmlT1(root) + group, copyMode, 0)) == 0) {
        return CacheSize(__LINE__);
    }
    if (length < 1 || length > kMaxCode)
        return CodeLength(table, length, "1..126", __LINE__);
    for (int32_t i = 0; i + 1 < length; ++i)
        if ((block = rscpn1__next_t1(rscpmlT1(block) + bytes[i], copyMode, static_cast<uint32_t>(i + 1))) == 0)
            return CacheSize(__LINE__);
    uint32_t* slot = rscpmlT1(block) + bytes[length - 1];
    const uint32_t w = *slot;
    switch (rscpT1Kind(w)) {
    case RSCP_T1_EMPTY:
        *slot = rscpT1CharWord(ch, 0);
        break;
    case RSCP_T1_CHAR:
        // A character spread from a shorter code gives way to this longer one.
        if (overwrite == 1 || (rscpT1Length(w) != 0 && rscpT1Length(w) < uint32_t(length)))
            *slot = rscpT1CharWord(ch, 0);
        break;
    case RSCP_T1_RULE:
        if (overwrite == 1 && rscpT1Length(w) <= uint32_t(length))
            *slot = rscpT1CharWord(ch, 0);
        break;
    case RSCP_T1_NEXT: {
        // The code also begins longer codes: the character ends them early.
        uint32_t filled = 0;
        const uint32_t rc = fillCharInAllEmptySlots(slot, rscpT1CharWord(ch, 0), static_cast<uint32_t>(length),
                                                    copyMode, &filled);
        if (rc != 0)
            return rc;
        uint32_t& end = rscpmlT1(*slot & 0xFFFF)[257];
        if (end == 0 || overwrite == 1)
            end = rscpT1CharWord(ch, static_cast<uint32_t>(std::min(length, 31)));
        break;
    }
    default:
        break;
    }
    return result;
}

uint32_t rscpeir__enter_in_rule(uint32_t root, const char*, int32_t copyMode, uint32_t rule, uint32_t attr,
                                int32_t length, const uint8_t* bytes, int32_t overwrite, int32_t firstFree,
                                int32_t group)
{
    char arg[32];
    // The rule word has five bits for the code length.
    if (length < 1 || length > 31) {
        snprintfR(arg, sizeof arg, "%d&", static_cast<int>(length));
        return Error(RSCPEINVAL, 8, __LINE__, "rscpeir__enter_in_rule(..p_codelen..)", "F1A", arg);
    }
    if (attr >= 64) {
        std::fprintf(stderr, "rscpeir__enter_in_rule: attr  %d  is too large to fit.\n", static_cast<int>(attr));
        snprintfR(arg, sizeof arg, "%d&&&&&", static_cast<int>(attr));
        return Error(RSCPEINTERN, 9, __LINE__, "rule attr does not fit into T1", "CQ4", arg);
    }
    if (group > 11 || group < -1)
        return BadGroup("TCPSRULE", group, __LINE__);
    const uint32_t word = rscpT1RuleWord(rule, attr, static_cast<uint32_t>(length));
    uint32_t start = root;
    if (group >= 0 && (start = rscpn1__next_t1(rscpmlT1(root) + group, copyMode, 0)) == 0)
        return Error(RSCPETOOLONG, 10, __LINE__, "CCC overflow by rscpeir__enter_in_rule", "F1A", "cachesize&?&?&");

    // Follow the code through the blocks that exist.
    uint32_t block = start;
    int32_t depth = 0;
    uint32_t w = 0;
    for (;; ++depth) {
        w = rscpmlT1(block)[bytes[depth]];
        if (rscpT1Kind(w) != RSCP_T1_NEXT)
            break;
        if (depth == length - 1)
            return 0;  // the code begins longer codes
        block = w & 0xFFFF;
        if (uint64_t(block) * RSCP_T1_BYTES < rscpmp->firstT1 || uint64_t(block + 1) * RSCP_T1_BYTES > rscpmp->endT1)
            return Inconsistent(__LINE__);
    }
    if (rscpT1Kind(w) == RSCP_T1_CHAR)
        return 0;  // an explicit code is never hidden by a rule
    // The same rule, or another that stays.
    if (rscpT1Kind(w) == RSCP_T1_RULE && ((w & 0x7FFFF) == (word & 0x7FFFF) || overwrite != 1))
        return 0;
    auto overflow = [](int32_t line) {
        return Error(RSCPETOOLONG, 10, line, "CCC overflow by rscpeir__enter_in_rule", "F1A", "cachesize&?&?&");
    };
    block = ChangeableBlock(start, bytes, depth, copyMode);
    if (block == 0)
        return overflow(__LINE__);
    if (rscpT1Kind(w) != RSCP_T1_RULE) {
        // Free: with the first-free flag the rule covers every code that
        // begins with the bytes walked so far, else the missing levels come.
        if (firstFree == 0 && depth < length - 1) {
            for (; depth < length - 1; ++depth)
                if ((block = rscpn1__next_t1(rscpmlT1(block) + bytes[depth], copyMode,
                                             static_cast<uint32_t>(depth + 1))) == 0)
                    return overflow(__LINE__);
            if (rscpmlT1(block)[bytes[depth]] != 0)
                return Inconsistent(__LINE__);
        }
        rscpmlT1(block)[bytes[depth]] = word;
        return 0;
    }
    // Another rule is there and gives way where this code is not longer.
    for (;;) {
        uint32_t& slot = rscpmlT1(block)[bytes[depth]];
        if (length <= depth + 1 || depth + 1 >= int32_t(rscpT1Length(slot))) {
            slot = word;
            return 0;
        }
        // Keep the old rule for the other codes below this byte.
        if ((block = rscpn1__next_t1(&slot, copyMode, static_cast<uint32_t>(depth + 1))) == 0)
            return overflow(__LINE__);
        ++depth;
    }
}
