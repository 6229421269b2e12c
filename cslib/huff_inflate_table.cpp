// Decode tables of the deflate-style decoder: a root table indexed by the
// next root bits of input (codes are sent bit-reversed, so the index is the
// reversed code) and, for longer codes, subtables linked from the root.
#include "cslib/cslib.h"
#include "cslib/huff_inflate.h"

#include <algorithm>
#include <cstring>

namespace huff {
namespace {

constexpr std::array<uint8_t, 256> kReverse8 = [] {
    std::array<uint8_t, 256> t{};
    for (uint32_t i = 0; i < 256; ++i)
        t[i] = static_cast<uint8_t>(ReverseBits(i, 8));
    return t;
}();

inline uint32_t Reverse(uint32_t code, int len)
{
    const uint32_t r16 = (static_cast<uint32_t>(kReverse8[code & 0xFF]) << 8) | kReverse8[(code >> 8) & 0xFF];
    return r16 >> (16 - len);
}

// Symbols of the literal/length alphabet: the fixed code also names 286 and
// 287, which stand for no length.
constexpr int kLitLenSymbols = 288;

// A symbol's entry is its template plus the code length times a factor:
// the length goes into the bits taken and, where the entry holds it apart,
// into its own field as well.
struct SymbolEntry {
    uint32_t entry;
    uint32_t times;
};
constexpr uint32_t kLengthTimes = 0x101;       // distance and code-length entries
constexpr uint32_t kLitLengthTimes = 0x10001;  // literal/length entries holding their code length

constexpr SymbolEntry EntryWithoutLength(Alphabet alphabet, int sym)
{
    switch (alphabet) {
    case Alphabet::kCodeLen:
        return {MakeEntry(kLiteral, 0, 0, static_cast<uint32_t>(sym)), kLengthTimes};
    case Alphabet::kDist:
        // Codes 28 and 29 only name distances beyond the 16 KiB window.
        if (sym >= kDistCodes || kDistBase[sym] > kWindowSize)
            return {MakeEntry(kInvalid, 0, 0, 0), kLengthTimes};
        return {MakeEntry(kBase, 0, kDistExtra[sym], kDistBase[sym]), kLengthTimes};
    case Alphabet::kLitLen:
        break;
    }
    if (sym < kLiterals)
        return {(static_cast<uint32_t>(sym) << 16) | (kLitLenRoot << 8), 1};
    if (sym == kEndBlock)
        return {kLitRare | (kLitEnd << 28), kLitLengthTimes};
    const int code = sym - kLiterals - 1;
    if (code >= kLengthCodes)
        return {MakeLitNoCode(0), kLitLengthTimes};
    return {kLitLength | (static_cast<uint32_t>(kLengthBase[code] - kMinMatch) << 22) | (kDistRoot << 8) |
                kLengthExtra[code],
            kLitLengthTimes};
}
constexpr uint32_t EntryOf(const SymbolEntry& t, int len)
{
    return t.entry + static_cast<uint32_t>(len) * t.times;
}

template <Alphabet alphabet, int n>
constexpr std::array<SymbolEntry, n> EntriesWithoutLength()
{
    std::array<SymbolEntry, n> t{};
    for (int i = 0; i < n; ++i)
        t[i] = EntryWithoutLength(alphabet, i);
    return t;
}
constexpr auto kLitLenEntries = EntriesWithoutLength<Alphabet::kLitLen, kLitLenSymbols>();
constexpr auto kDistEntries = EntriesWithoutLength<Alphabet::kDist, 32>();
constexpr auto kCodeLenEntries = EntriesWithoutLength<Alphabet::kCodeLen, kBitLenCodes>();

// The entries of an alphabet's symbols, by symbol, and how many there are.
const SymbolEntry* EntriesOf(Alphabet alphabet, int* symbols)
{
    switch (alphabet) {
    case Alphabet::kLitLen:
        *symbols = kLitLenSymbols;
        return kLitLenEntries.data();
    case Alphabet::kDist:
        *symbols = static_cast<int>(kDistEntries.size());
        return kDistEntries.data();
    case Alphabet::kCodeLen:
        break;
    }
    *symbols = kBitLenCodes;
    return kCodeLenEntries.data();
}

// A link to a subtable, and an entry for a code no symbol has.
uint32_t LinkEntry(Alphabet alphabet, uint32_t subBits, uint32_t offset)
{
    return alphabet == Alphabet::kLitLen ? MakeLitLink(subBits, offset) : MakeLink(subBits, offset);
}
uint32_t NoCodeEntry(Alphabet alphabet, uint32_t codeLen)
{
    return alphabet == Alphabet::kLitLen ? MakeLitNoCode(codeLen) : MakeEntry(kInvalid, codeLen, 0, 0);
}

}  // namespace

int BuildDecodeTable(const uint8_t* lens, int count, int root, Alphabet alphabet, uint32_t* table, int capacity,
                     int* used)
{
    int symbols = 0;
    const SymbolEntry* const tmpl = EntriesOf(alphabet, &symbols);
    if (count > symbols)
        return CS_E_BAD_LENGTHS;
    int lenCount[kMaxBits + 1] = {};
    for (int i = 0; i < count; ++i) {
        if (lens[i] > kMaxBits)
            return CS_E_BAD_LENGTHS;
        lenCount[lens[i]]++;
    }
    int maxLen = kMaxBits;
    while (maxLen > 0 && lenCount[maxLen] == 0)
        --maxLen;
    const int rootSize = 1 << root;
    if (capacity < rootSize)
        return CS_E_TABLE_POOL;
    *used = rootSize;
    int left = 1;
    for (int len = 1; len <= kMaxBits; ++len) {
        left = (left << 1) - lenCount[len];
        if (left < 0)
            return CS_E_BAD_LENGTHS;  // over-subscribed
    }
    if (left > 0) {
        // Incomplete: allowed for distances only, with no code at all (a block
        // of literals) or a single code of one bit.
        if (!(alphabet == Alphabet::kDist && (maxLen == 0 || (maxLen == 1 && lenCount[1] == 1))))
            return CS_E_BAD_LENGTHS;
        // Unfilled slots are invalid codes; their length 1 lets a decoder
        // notice them as soon as one bit is there.
        std::fill(table, table + rootSize, NoCodeEntry(alphabet, 1));
        if (maxLen == 0)
            return 0;
    }

    // Symbols sorted by length, then by value: the canonical code order.
    int offs[kMaxBits + 2] = {};
    for (int len = 1; len <= kMaxBits; ++len)
        offs[len + 1] = offs[len] + lenCount[len];
    uint16_t sorted[320];
    for (int i = 0; i < count; ++i)
        if (lens[i])
            sorted[offs[lens[i]]++] = static_cast<uint16_t>(i);
    const int nsym = offs[kMaxBits];  // after the loop offs[len] is the end of length len

    uint32_t next[kMaxBits + 2] = {};
    {
        uint32_t code = 0;
        for (int len = 1; len <= kMaxBits; ++len) {
            code = (code + static_cast<uint32_t>(lenCount[len - 1] * (len > 1))) << 1;
            next[len] = code;
        }
    }
    const int nshort = offs[root];  // symbols whose codes fit the root

    if (left == 0) {
        // Complete code: codes of length len go into the first 2^len slots at
        // their bit-reversed codeword; moving to the next length doubles the
        // filled part.  Slots left over at the root length are prefixes of
        // longer codes and become links below.
        int k = 0;
        int len = 1;
        while (len <= root && lenCount[len] == 0)
            ++len;
        if (len <= root) {
            uint32_t end = 1u << len;
            uint32_t cw = 0;  // bit-reversed canonical codeword
            for (;;) {
                for (int c = lenCount[len]; c > 0; --c) {
                    table[cw] = EntryOf(tmpl[sorted[k++]], len);
                    if (cw == end - 1) {  // the last codeword: nothing longer follows
                        for (; len < root; ++len, end <<= 1)
                            std::memcpy(table + end, table, end * sizeof *table);
                        goto rootDone;
                    }
                    const uint32_t bit = 1u << (31 - __builtin_clz(cw ^ (end - 1)));
                    cw = (cw & (bit - 1)) | bit;
                }
                for (;;) {
                    if (++len > root)
                        goto rootDone;
                    std::memcpy(table + end, table, end * sizeof *table);
                    end <<= 1;
                    if (lenCount[len])
                        break;
                }
            }
        }
    rootDone:;
    } else {
        uint32_t nextCode[kMaxBits + 2];
        std::copy(std::begin(next), std::end(next), std::begin(nextCode));
        for (int k = 0; k < nshort; ++k) {
            const int sym = sorted[k];
            const int len = lens[sym];
            const uint32_t rev = Reverse(nextCode[len]++, len);
            const uint32_t e = EntryOf(tmpl[sym], len);
            for (uint32_t i = rev; i < static_cast<uint32_t>(rootSize); i += 1u << len)
                table[i] = e;
        }
    }
    if (maxLen <= root)
        return 0;

    // Longer codes: how deep the subtable under each root prefix must be.
    uint8_t subBits[1 << kLitLenRoot];
    std::fill(subBits, subBits + rootSize, 0);
    uint32_t nextCode[kMaxBits + 2];
    std::copy(std::begin(next), std::end(next), std::begin(nextCode));
    // The root slots that get a subtable, in the order they were met.
    uint16_t linked[320];
    int nlinked = 0;
    for (int k = nshort; k < nsym; ++k) {
        const int len = lens[sorted[k]];
        const uint32_t p = Reverse(nextCode[len]++, len) & static_cast<uint32_t>(rootSize - 1);
        if (!subBits[p])
            linked[nlinked++] = static_cast<uint16_t>(p);
        subBits[p] = std::max<uint8_t>(subBits[p], static_cast<uint8_t>(len - root));
    }

    // Second pass: allocate the subtables and fill them.
    uint16_t subAt[1 << kLitLenRoot];
    int at = rootSize;
    for (int i = 0; i < nlinked; ++i) {
        const int p = linked[i];
        const int size = 1 << subBits[p];
        if (at + size > capacity)
            return CS_E_TABLE_POOL;
        table[p] = LinkEntry(alphabet, subBits[p], static_cast<uint32_t>(at));
        subAt[p] = static_cast<uint16_t>(at);
        std::fill(table + at, table + at + size, NoCodeEntry(alphabet, static_cast<uint32_t>(root + 1)));
        at += size;
    }
    *used = at;
    std::copy(std::begin(next), std::end(next), std::begin(nextCode));
    for (int k = nshort; k < nsym; ++k) {
        const int sym = sorted[k];
        const int len = lens[sym];
        const uint32_t rev = Reverse(nextCode[len]++, len);
        const uint32_t p = rev & static_cast<uint32_t>(rootSize - 1);
        const uint32_t base = subAt[p];
        const uint32_t sb = subBits[p];
        const uint32_t e = EntryOf(tmpl[sym], len);
        for (uint32_t i = rev >> root; i < (1u << sb); i += 1u << (len - root))
            table[base + i] = e;
    }
    return 0;
}

namespace {

struct FixedTables {
    uint32_t lit[1 << kLitLenRoot];
    uint32_t dist[1 << kLitLenRoot];  // the root, then room for reads as behind the decode pool
    FixedTables()
    {
        uint8_t lens[kLitLenSymbols];
        for (int i = 0; i < kLitLenSymbols; ++i)
            lens[i] = static_cast<uint8_t>(FixedLitLenLength(i));
        int used = 0;
        BuildDecodeTable(lens, kLitLenSymbols, kLitLenRoot, Alphabet::kLitLen, lit, 1 << kLitLenRoot, &used);
        for (int i = 0; i < 32; ++i)
            lens[i] = kFixedDistLength;
        BuildDecodeTable(lens, 32, kDistRoot, Alphabet::kDist, dist, 1 << kDistRoot, &used);
    }
};

const FixedTables& Fixed()
{
    static const FixedTables tables;
    return tables;
}

}  // namespace

const uint32_t* FixedLitLenTable()
{
    return Fixed().lit;
}
const uint32_t* FixedDistTable()
{
    return Fixed().dist;
}

}  // namespace huff
