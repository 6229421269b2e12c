// Offset index, free table and the list and hash variants: the trie against
// a map under random inserts and removes (with the block's own statistics
// cross-checking every pool), the wildcard searches against a brute-force
// scan, pool exhaustion, and blocks whose words were overwritten, which must
// be refused, never followed out of the block.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "si/fi.h"

namespace {

// A block in its own allocation, so that a read past it shows.
struct Block {
    std::vector<uint64_t> mem;
    explicit Block(uint32_t size)
        : mem((size + 7) / 8)
    {
    }
    void* p() { return mem.data(); }
    size_t bytes() const { return mem.size() * 8; }
};

constexpr uint8_t kWildA = '*';
constexpr uint8_t kWildB = '-';

// Keys of one index kept in the caller's table, the base of the index.
struct Keys {
    int32_t len;
    std::vector<uint8_t> bytes;
    Keys(int32_t keyLen, size_t n)
        : len(keyLen),
          bytes(static_cast<size_t>(keyLen) * n)
    {
    }
    uint8_t* at(size_t i) { return bytes.data() + i * static_cast<size_t>(len); }
    std::string str(size_t i) { return std::string(reinterpret_cast<char*>(at(i)), len); }
};

uint8_t RandomByte(std::mt19937& rng)
{
    // A small alphabet makes deep tries, shared prefixes and wildcard bytes.
    static const uint8_t kAlphabet[] = {0, 1, 2, 3, kWildA, kWildB, 'a', 'b', 0x13, 0x23, 255};
    return kAlphabet[rng() % sizeof kAlphabet];
}

void ExpectSound(FI_HDL h, int32_t keys)
{
    FI_STATISTICS st;
    ASSERT_EQ(FiStatistics(h, &st), FI_OK);
    EXPECT_EQ(st.leaves, keys);
}

TEST(FiIndex, TrieAgreesWithAMapUnderRandomInsertAndRemove)
{
    constexpr int32_t kMax = 600;
    const uint32_t size = FiCalcSize(2, kMax, 4, FI_FLAG_ALL_NODES);
    Block b(size);
    void* blk = nullptr;
    ASSERT_EQ(FiInit(b.p(), "TEST", FI_FLAG_ALL_NODES, 2, kMax, 4, kWildA, kWildB, &blk), FI_OK);
    ASSERT_EQ(blk, b.p());

    // Two indices with different key lengths share the pools.
    struct Ix {
        Keys keys;
        FI_HDL h = nullptr;
        std::map<std::string, size_t> oracle;
        std::vector<size_t> freeSlots;
    };
    std::vector<Ix> ix = {{Keys(4, kMax), nullptr, {}, {}}, {Keys(3, kMax), nullptr, {}, {}}};
    for (size_t i = 0; i < ix.size(); ++i) {
        ASSERT_EQ(FiOpenIndex(blk, static_cast<uint32_t>(i + 1), FI_HANDLE_IN_BLOCK, ix[i].keys.bytes.data(),
                              ix[i].keys.len, &ix[i].h),
                  FI_OK);
        for (size_t s = kMax; s-- > 0;)
            ix[i].freeSlots.push_back(s);
    }
    std::mt19937 rng(7);
    size_t total = 0;
    for (int step = 0; step < 20000; ++step) {
        Ix& x = ix[rng() % 2];
        const bool grow = total < kMax && (rng() % 100) < (step < 10000 ? 60 : 40);
        if (grow) {
            const size_t slot = x.freeSlots.back();
            uint8_t* k = x.keys.at(slot);
            for (int32_t i = 0; i < x.keys.len; ++i)
                k[i] = RandomByte(rng);
            int32_t leaf = 0;
            const int32_t rc = FiInsert(x.h, k, k, &leaf);
            const auto found = x.oracle.find(x.keys.str(slot));
            if (found == x.oracle.end()) {
                ASSERT_EQ(rc, FI_OK) << "step " << step;
                EXPECT_EQ(FiLeafValue(x.h, leaf), k);
                x.oracle[x.keys.str(slot)] = slot;
                x.freeSlots.pop_back();
                ++total;
            } else {
                ASSERT_EQ(rc, FI_EKEY_EXISTS);
                EXPECT_EQ(FiLeafValue(x.h, leaf), x.keys.at(found->second));
            }
        } else if (!x.oracle.empty()) {
            auto it = x.oracle.begin();
            std::advance(it, rng() % x.oracle.size());
            int32_t leaf = 0;
            ASSERT_EQ(FiSearch(x.h, it->first.data(), &leaf), FI_OK);
            ASSERT_EQ(FiRemove(x.h, leaf), FI_OK) << "step " << step;
            EXPECT_EQ(FiRemove(x.h, leaf), FI_EINVAL);  // a leaf given back is no leaf
            x.freeSlots.push_back(it->second);
            x.oracle.erase(it);
            --total;
        }
        // A random probe, present or not.
        uint8_t probe[4];
        for (uint8_t& c : probe)
            c = RandomByte(rng);
        int32_t leaf = 0;
        const bool present = x.oracle.count(std::string(reinterpret_cast<char*>(probe), x.keys.len));
        ASSERT_EQ(FiSearch(x.h, probe, &leaf), present ? FI_OK : FI_ENOTFOUND);
        if (step % 997 == 0) {
            ExpectSound(ix[0].h, static_cast<int32_t>(ix[0].oracle.size()));
            ExpectSound(ix[1].h, static_cast<int32_t>(ix[1].oracle.size()));
        }
    }
    // Closing gives everything back: the other index then fills the block.
    ASSERT_EQ(FiCloseIndex(ix[0].h), FI_OK);
    ASSERT_EQ(FiCloseIndex(ix[1].h), FI_OK);
    FI_HDL h = nullptr;
    Keys keys(4, kMax + 1);
    ASSERT_EQ(FiOpenIndex(blk, 9, 0, keys.bytes.data(), 4, &h), FI_OK);
    for (int32_t i = 0; i <= kMax; ++i) {
        std::memcpy(keys.at(i), &i, 4);
        int32_t leaf = 0;
        ASSERT_EQ(FiInsert(h, keys.at(i), keys.at(i), &leaf), i < kMax ? FI_OK : FI_ENOSPACE);
    }
    // The leaf is taken before the key is looked for: a present key with no
    // leaf left fails like any other (it reported the key as present).
    int32_t leaf = 0;
    EXPECT_EQ(FiInsert(h, keys.at(0), keys.at(0), &leaf), FI_ENOSPACE);
    FI_STATISTICS st;
    ASSERT_EQ(FiStatistics(h, &st), FI_OK);
    EXPECT_EQ(st.freeLeaves, 0);
    EXPECT_EQ(st.freeHeaders, 1);
    EXPECT_EQ(FiCloseIndex(h), FI_OK);
    EXPECT_EQ(FiExit(blk), FI_OK);
    EXPECT_EQ(FiOpenIndex(blk, 1, 0, keys.bytes.data(), 4, &h), FI_EINVAL);  // uninitialised
}

// What a wildcard search must find, by scanning every key.
bool WildMatch(const uint8_t* a, const uint8_t* b, int len)
{
    for (int i = 0; i < len; ++i)
        if (a[i] != b[i] && a[i] != kWildA && b[i] != kWildA)
            return false;
    return true;
}
bool PrefixMatch(const uint8_t* stored, const uint8_t* key, int used, int keyLen, uint8_t c1, uint8_t c2)
{
    for (int d = 0; d < used; ++d)
        if (stored[d] != key[d])
            return stored[d] == kWildB && (key[d] == c1 || key[d] == c2);
    return used == keyLen || stored[used] == kWildB;
}

TEST(FiIndex, WildcardSearchesFindWhatAScanFinds)
{
    constexpr int32_t kMax = 300;
    constexpr int kLen = 5;
    Block b(FiCalcSize(1, kMax, kLen, 0));
    void* blk = nullptr;
    ASSERT_EQ(FiInit(b.p(), "WILD", 0, 1, kMax, kLen, kWildA, kWildB, &blk), FI_OK);
    Keys keys(kLen, kMax);
    FI_HDL h = nullptr;
    ASSERT_EQ(FiOpenIndex(blk, 1, 0, keys.bytes.data(), kLen, &h), FI_OK);
    std::mt19937 rng(11);
    std::map<int32_t, int> leafOf;  // leaf -> key slot
    // Wildcard B ends a stored key: the bytes after it are B as well.
    for (int i = 0; i < kMax; ++i) {
        for (int j = 0; j < kLen; ++j)
            keys.at(i)[j] = j > 0 && keys.at(i)[j - 1] == kWildB ? kWildB : RandomByte(rng);
        int32_t leaf = 0;
        if (FiInsert(h, keys.at(i), keys.at(i), &leaf) == FI_OK)
            leafOf[leaf] = i;
    }
    for (int probe = 0; probe < 400; ++probe) {
        uint8_t key[kLen];
        for (uint8_t& c : key)
            c = RandomByte(rng);
        std::set<int32_t> want;
        for (const auto& [leaf, slot] : leafOf)
            if (WildMatch(key, keys.at(slot), kLen))
                want.insert(leaf);
        // Paged three at a time.
        std::set<int32_t> got;
        uint32_t state = FI_SEARCH_START;
        do {
            int32_t page[3];
            uint32_t n = 0;
            ASSERT_EQ(FiSearchAll(h, key, 3, page, &n, &state), FI_OK);
            ASSERT_LE(n, 3u);
            for (uint32_t i = 0; i < n; ++i)
                EXPECT_TRUE(got.insert(page[i]).second);
        } while (state == 1);
        EXPECT_EQ(state, 0u);
        EXPECT_EQ(got, want) << "probe " << probe;

        const uint8_t c1 = RandomByte(rng), c2 = RandomByte(rng);
        const int used = static_cast<int>(rng() % (kLen + 1));
        for (int len : {kLen, used}) {
            bool any = false;
            for (const auto& [leaf, slot] : leafOf)
                any |= PrefixMatch(keys.at(slot), key, len, kLen, c1, c2);
            int32_t leaf = 0;
            const int32_t rc = len == kLen ? FiSearchPrefix(h, key, c1, c2, &leaf)
                                           : FiSearchPrefixLen(h, key, len, c1, c2, &leaf);
            ASSERT_EQ(rc, any ? FI_OK : FI_ENOTFOUND) << "probe " << probe << " len " << len;
            if (rc == FI_OK) {
                EXPECT_TRUE(PrefixMatch(keys.at(leafOf.at(leaf)), key, len, kLen, c1, c2));
            }
        }
    }
    char* text = nullptr;
    size_t textLen = 0;
    FILE* f = open_memstream(&text, &textLen);
    ASSERT_EQ(FiDump(h, f), FI_OK);
    std::fclose(f);
    EXPECT_EQ(std::string(text).rfind(" PT : " + std::to_string(leafOf.size()) + " keys\n -> [", 0), 0u);
    std::free(text);
}

// Branch bytes are printed as they are; only key bytes that are not
// printable become "." (branch bytes became "." too).
TEST(FiIndex, DumpPrintsBranchBytesAsTheyAre)
{
    Block b(FiCalcSize(1, 4, 4, 0));
    void* blk = nullptr;
    ASSERT_EQ(FiInit(b.p(), "DUMP", 0, 1, 4, 4, kWildA, kWildB, &blk), FI_OK);
    const uint8_t keys[3][4] = {{0, 0, 0, 1}, {0, 0, 0, 2}, {'a', 0, 'b', 2}};
    FI_HDL h = nullptr;
    ASSERT_EQ(FiOpenIndex(blk, 1, 0, keys, 4, &h), FI_OK);
    int32_t leaf = 0;
    for (const auto& k : keys)
        ASSERT_EQ(FiInsert(h, k, k, &leaf), FI_OK);
    char* text = nullptr;
    size_t textLen = 0;
    FILE* f = open_memstream(&text, &textLen);
    ASSERT_EQ(FiDump(h, f), FI_OK);
    std::fclose(f);
    static const char kWant[] = " PT : 3 keys\n"
                                " -> [0]\n"
                                "     a> a.b.\n"
                                "     \0> [3]\n"
                                "         \2> ....\n"
                                "         \1> ....\n";
    EXPECT_EQ(std::string(text, textLen), std::string(kWant, sizeof kWant - 1));
    std::free(text);
    ASSERT_EQ(FiCloseIndex(h), FI_OK);
}

TEST(FiIndex, PoolsRunOutWithoutChangingTheIndex)
{
    // Without flag 2, 1,000 keys get 600 nodes; with it, 1,000.
    EXPECT_EQ(FiCalcSize(1, 1000, 4, FI_FLAG_ALL_NODES) - FiCalcSize(1, 1000, 4, 0), 400u * 104);
    EXPECT_EQ(FiCalcSize(1, 999, 4, FI_FLAG_ALL_NODES), FiCalcSize(1, 999, 4, 0));
    EXPECT_EQ(FiCalcSize(1, INT32_MAX, 4, 0), 0u);

    Block b(FiCalcSize(3, 1000, 10, 0));
    void* blk = nullptr;
    char name[17] = "NAME_OF_16_CHARS";
    ASSERT_EQ(FiInit(b.p(), name, 0, 3, 1000, 4, kWildA, kWildB, &blk), FI_OK);
    EXPECT_EQ(FiInit(b.p(), name, 0, 3, 1000, 4, kWildA, kWildB, &blk), FI_EEXISTS);
    EXPECT_EQ(FiInit(b.p(), "X", 1, 3, 1000, 4, kWildA, kWildB, &blk), FI_EINVAL);

    // Keys over two byte values make a binary trie, one node per key after the
    // first: 601 keys use all 600 nodes, the 602nd fails although leaves are
    // free, and the index is left as it was.
    constexpr int kLen = 10;
    std::vector<uint8_t> keys(1000 * kLen);
    for (int i = 0; i < 1000; ++i)
        for (int j = 0; j < kLen; ++j)
            keys[i * kLen + j] = static_cast<uint8_t>((i >> j) & 1);
    auto key = [&](int i) { return &keys[i * kLen]; };
    FI_HDL h = nullptr;
    ASSERT_EQ(FiOpenIndex(blk, 1, FI_HANDLE_IN_BLOCK, keys.data(), kLen, &h), FI_OK);
    int32_t leaf = 0;
    for (int i = 0; i < 601; ++i)
        ASSERT_EQ(FiInsert(h, key(i), key(i), &leaf), FI_OK) << i;
    EXPECT_EQ(FiInsert(h, key(601), key(601), &leaf), FI_ENOSPACE);
    ExpectSound(h, 601);
    EXPECT_EQ(FiSearch(h, key(601), &leaf), FI_ENOTFOUND);
    ASSERT_EQ(FiSearch(h, key(600), &leaf), FI_OK);
    ASSERT_EQ(FiRemove(h, leaf), FI_OK);
    EXPECT_EQ(FiInsert(h, key(601), key(601), &leaf), FI_OK);

    // Index headers: a fourth index fails and gives its handle back, so that
    // the block's 256 slots outlast any number of failures.
    FI_HDL h2 = nullptr, h3 = nullptr, h4 = nullptr;
    ASSERT_EQ(FiOpenIndex(blk, 2, FI_HANDLE_IN_BLOCK, keys.data(), kLen, &h2), FI_OK);
    ASSERT_EQ(FiOpenIndex(blk, 3, FI_HANDLE_IN_BLOCK, keys.data(), kLen, &h3), FI_OK);
    for (int i = 0; i < 300; ++i)
        ASSERT_EQ(FiOpenIndex(blk, 4, FI_HANDLE_IN_BLOCK, keys.data(), kLen, &h4), FI_ENOSPACE);
    ASSERT_EQ(FiOpenIndex(blk, 2, FI_HANDLE_IN_BLOCK, keys.data(), kLen, &h4), FI_EEXISTS);
    EXPECT_EQ(h4->header, h2->header);
    EXPECT_EQ(FiFreeHandle(h4), FI_OK);
    // An open index asked for with another key length is still the one that
    // exists, handle and all (the request was refused as invalid).
    ASSERT_EQ(FiOpenIndex(blk, 2, FI_HANDLE_IN_BLOCK, keys.data(), kLen + 2, &h4), FI_EEXISTS);
    EXPECT_EQ(h4->header, h2->header);
    // A caller whose keys are longer than the index's can use the handle: its
    // keys are compared at the index's length (the handle was refused by every
    // call).  One with shorter keys stays refused, as the index would read past
    // them.
    EXPECT_EQ(FiInsert(h4, key(5), key(5), &leaf), FI_OK);
    int32_t found = 0;
    EXPECT_EQ(FiSearch(h2, key(5), &found), FI_OK);
    EXPECT_EQ(found, leaf);
    EXPECT_EQ(FiSearch(h4, key(5), &found), FI_OK);
    EXPECT_EQ(found, leaf);
    EXPECT_EQ(FiRemove(h4, leaf), FI_OK);
    EXPECT_EQ(FiFreeHandle(h4), FI_OK);
    EXPECT_EQ(FiFreeHandle(h4), FI_EINVAL);
    ASSERT_EQ(FiOpenIndex(blk, 2, FI_HANDLE_IN_BLOCK, keys.data(), kLen - 2, &h4), FI_EEXISTS);
    EXPECT_EQ(h4->header, h2->header);
    EXPECT_EQ(FiSearch(h4, key(5), &found), FI_EINVAL);
    EXPECT_EQ(FiInsert(h4, key(5), key(5), &leaf), FI_EINVAL);
    EXPECT_EQ(FiFreeHandle(h4), FI_OK);
    EXPECT_EQ(FiSearch(h2, key(5), &found), FI_ENOTFOUND);
    ASSERT_EQ(FiCloseIndex(h3), FI_OK);
    EXPECT_EQ(FiInsert(h3, key(0), key(0), &leaf), FI_EINVAL);  // closed
    EXPECT_EQ(FiOpenIndex(blk, 4, FI_HANDLE_IN_BLOCK, keys.data(), kLen, &h4), FI_OK);

    // A key below the base has no offset: refused, not stored wrapped.
    FI_HDL above = nullptr;
    ASSERT_EQ(FiAttachIndex(blk, 2, key(10), &above), FI_OK);
    EXPECT_EQ(FiInsert(above, key(0), key(10), &leaf), FI_EINVAL);
    EXPECT_EQ(FiInsert(above, key(10), key(0), &leaf), FI_EINVAL);
    EXPECT_EQ(FiInsert(above, key(11), key(11), &leaf), FI_OK);
    EXPECT_EQ(FiFreeHandle(above), FI_OK);
}

// Every word of a filled block overwritten in turn (the caller's key and value
// offsets aside, which point into the caller's memory): no operation may leave
// the block, loop, or report a broken index as sound.
TEST(FiIndex, OverwrittenWordsAreRefusedNotFollowed)
{
    constexpr int32_t kMax = 64;
    const uint32_t size = FiCalcSize(2, kMax, 4, FI_FLAG_ALL_NODES);
    Block b(size);
    void* blk = nullptr;
    ASSERT_EQ(FiInit(b.p(), "HOSTILE", FI_FLAG_ALL_NODES, 2, kMax, 4, kWildA, kWildB, &blk), FI_OK);
    std::vector<int32_t> keys(kMax);
    FI_HDL h = nullptr;
    ASSERT_EQ(FiOpenIndex(blk, 1, 0, keys.data(), 4, &h), FI_OK);
    std::mt19937 rng(3);
    for (int32_t i = 0; i < 48; ++i) {
        keys[i] = static_cast<int32_t>(rng() & 0x0303037f);
        int32_t leaf = 0;
        FiInsert(h, &keys[i], &keys[i], &leaf);
    }
    const std::vector<uint64_t> pristine = b.mem;
    int32_t leafArea = 0;
    std::memcpy(&leafArea, static_cast<uint8_t*>(blk) + 8240, 4);
    const int32_t firstLeaf = leafArea + ((kMax + 1) * 4 + 7) / 8 * 8;
    auto callerWord = [&](uint32_t off) {
        if (off < static_cast<uint32_t>(firstLeaf) || off >= firstLeaf + 48u * kMax)
            return false;
        const uint32_t in = (off - firstLeaf) % 48;
        return in == 36 || in == 40;
    };
    FILE* devnull = std::fopen("/dev/null", "w");
    int refused = 0;
    for (uint32_t off = 0; off + 4 <= size; off += 4) {
        if (callerWord(off))
            continue;
        const int32_t values[] = {-1, 0x7fffffff, static_cast<int32_t>(off + 4), static_cast<int32_t>(rng())};
        const int32_t v = values[rng() % 4];
        std::memcpy(static_cast<uint8_t*>(blk) + off, &v, 4);
        int32_t leaf = 0;
        int32_t probe = keys[rng() % 48];
        FI_STATISTICS st;
        const int32_t stats = FiStatistics(h, &st);
        if (stats != FI_OK)
            ++refused;
        FiSearch(h, &probe, &leaf);
        if (FiSearch(h, &probe, &leaf) == FI_OK)
            FiRemove(h, leaf);
        FiInsert(h, &keys[50], &keys[50], &leaf);
        uint32_t n = 0, state = FI_SEARCH_START;
        int32_t page[8];
        int32_t wild = 0x2a2a2a2a;
        FiSearchAll(h, &wild, 8, page, &n, &state);
        FiSearchPrefix(h, &probe, 'a', 'b', &leaf);
        FiDump(h, devnull);
        FI_HDL h2 = nullptr;
        if (FiOpenIndex(blk, 2, 0, keys.data(), 4, &h2) == FI_OK)
            FiCloseIndex(h2);
        FiCloseIndex(h);
        b.mem = pristine;
        if (h->inUse == 1) {
            ASSERT_EQ(FiFreeHandle(h), FI_OK);
        }
        ASSERT_EQ(FiAttachIndex(blk, 1, keys.data(), &h), FI_OK);
    }
    std::fclose(devnull);
    EXPECT_GT(refused, 100);
    EXPECT_EQ(FiCloseIndex(h), FI_OK);
}

TEST(FtTable, LayoutReinitialisationAndRebuild)
{
    EXPECT_EQ(FtCalcSize(0, 2048, 4), 32808u);
    Block b(static_cast<uint32_t>(FtCalcSize(0, 3, 4)));
    auto* t = static_cast<uint8_t*>(b.p());
    auto word = [&](int off) {
        int32_t v;
        std::memcpy(&v, t + off, 4);
        return v;
    };
    void* out = nullptr;
    EXPECT_EQ(FtInit(t, "OTHER", FT_FLAG_ATTACH, 3, 4, &out), FI_ENOTFOUND);
    ASSERT_EQ(FtInit(t, "NITAB_FREE", 0, 3, 4, &out), FI_OK);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(t), 16), "NITAB_FREE      ");
    EXPECT_EQ(word(FT_OFF_FREE), 40);
    EXPECT_EQ((std::vector<int32_t>{word(40), word(44), word(56), word(60), word(72), word(76)}),
              (std::vector<int32_t>{-1, 56, -1, 72, -1, 0}));
    // Take the first entry the way a user does; a second init keeps that.
    std::memcpy(t + FT_OFF_FREE, t + 44, 4);
    std::memset(t + 40, 0, 8);
    EXPECT_EQ(FtInit(t, "NITAB_FREE", 0, 3, 4, &out), FI_EEXISTS);
    EXPECT_EQ(FtInit(t, "NITAB_FREE", FT_FLAG_ATTACH, 3, 4, &out), FI_EEXISTS);
    EXPECT_EQ(word(FT_OFF_FREE), 56);

    // Entry 56 stays out of both lists; 40 is in use, 72 free.
    const int32_t both[2] = {-1, -1};
    std::memcpy(t + 56, both, 8);
    ASSERT_EQ(FtRebuildByState(t), FI_OK);
    EXPECT_EQ(word(FT_OFF_USED), 40);
    EXPECT_EQ(word(FT_OFF_FREE), 72);
    EXPECT_EQ(word(76), 0);
    ASSERT_EQ(FtRebuild(t, [](void* data) { return static_cast<int>(data == nullptr); }), FI_OK);
    EXPECT_EQ(word(FT_OFF_USED), 0);
    EXPECT_EQ((std::vector<int32_t>{word(FT_OFF_FREE), word(44), word(60), word(76)}),
              (std::vector<int32_t>{40, 56, 72, 0}));
    int calls = 0;
    ASSERT_EQ(FtRebuildWithArg(
                  t, [](void*, void* arg) { return ++*static_cast<int*>(arg) % 2; }, &calls),
              FI_OK);
    EXPECT_EQ(calls, 3);
    EXPECT_EQ(word(FT_OFF_USED), 72);  // used entries go to the head: 72, then 40
    EXPECT_EQ(word(76), 40);
    EXPECT_EQ(word(40), 72);

    // A table that cannot exist is refused before anything is written.
    Block c(64);
    EXPECT_EQ(FtInit(c.p(), "BIG", 0, 0x10000000, 64, &out), FI_ENOSPACE);
    EXPECT_EQ(c.mem[0], 0u);
    EXPECT_EQ(FtInit(c.p(), "NONE", 0, 0, 4, &out), FI_EINVAL);
    std::memset(t + FT_OFF_STRIDE, 0xff, 4);
    EXPECT_EQ(FtRebuildByState(t), FI_EINVAL);
}

TEST(FiListAndHash, VariantsAgreeWithTheirRules)
{
    // List: wildcards on either side, newest first, removal by leaf.
    const char keys3[] = "abca*cxyz";
    auto k3 = [&](int i) { return keys3 + 3 * i; };
    Block lb(static_cast<uint32_t>(FiListCalcSize(3, 3)));
    ASSERT_EQ(FiListInit(lb.p(), keys3, 3, 3, '*', 0, nullptr), FI_OK);
    int32_t leaves[3];
    for (int i = 0; i < 3; ++i)
        ASSERT_EQ(FiListInsert(lb.p(), k3(i), k3(i), &leaves[i]), FI_OK);
    int32_t extra = 0;
    EXPECT_EQ(FiListInsert(lb.p(), k3(0), k3(0), &extra), FI_ENOSPACE);
    int32_t leaf = 0;
    ASSERT_EQ(FiListSearch(lb.p(), "abc", &leaf), FI_OK);
    EXPECT_EQ(leaf, leaves[1]);  // "a*c" was added after "abc"
    ASSERT_EQ(FiListSearch(lb.p(), "*bc", &leaf), FI_OK);
    EXPECT_EQ(leaf, leaves[1]);
    ASSERT_EQ(FiListRemove(lb.p(), leaves[1]), FI_OK);
    ASSERT_EQ(FiListSearch(lb.p(), "*bc", &leaf), FI_OK);
    EXPECT_EQ(leaf, leaves[0]);
    EXPECT_EQ(FiListSearch(lb.p(), "xbz", &leaf), FI_ENOTFOUND);
    EXPECT_EQ(FiListRemove(lb.p(), leaves[1]), FI_EINVAL);
    char* text = nullptr;
    size_t textLen = 0;
    FILE* f = open_memstream(&text, &textLen);
    ASSERT_EQ(FiListDump(lb.p(), f), FI_OK);
    std::fclose(f);
    EXPECT_STREQ(text, "PTL: 2 keys.\n#  0  xyz\n#  1  abc\n");
    std::free(text);
    ASSERT_EQ(FiListRemove(lb.p(), leaves[0]), FI_OK);
    ASSERT_EQ(FiListRemove(lb.p(), leaves[2]), FI_OK);
    EXPECT_EQ(FiListRemove(lb.p(), leaves[2]), 1);

    // Hash: against a map, with keys that share buckets.
    constexpr int kN = 40;
    Block hb(static_cast<uint32_t>(FhCalcSize(0, kN, 0, 8)));
    ASSERT_EQ(FhInit(hb.p(), 0, kN, 4, 8, nullptr), FI_OK);
    std::vector<uint32_t> keys(200);
    std::map<uint32_t, void*> oracle;
    std::mt19937 rng(5);
    for (int step = 0; step < 3000; ++step) {
        uint32_t& k = keys[rng() % keys.size()];
        if (oracle.count(k) == 0)
            k = rng() % 97;  // a free key slot may take a new key
        void* data = nullptr;
        const auto it = oracle.find(k);
        if (rng() % 2 == 0) {
            const int32_t rc = FhInsert(hb.p(), &k, &data);
            if (it != oracle.end()) {
                ASSERT_EQ(rc, FI_EKEY_EXISTS);
                EXPECT_EQ(data, it->second);
            } else if (oracle.size() == kN) {
                ASSERT_EQ(rc, FI_ENOSPACE);
            } else {
                ASSERT_EQ(rc, FI_ENOTAVAIL);
                oracle[k] = data;
                EXPECT_EQ(FhFirst(hb.p()), data);
            }
        } else if (it != oracle.end()) {
            ASSERT_EQ(FhRemove(hb.p(), it->second), FI_OK);
            EXPECT_EQ(FhRemove(hb.p(), it->second), FI_EINVAL);
            oracle.erase(it);
        }
        const uint32_t probe = rng() % 97;
        const auto want = oracle.find(probe);
        EXPECT_EQ(FhSearch(hb.p(), &probe), want == oracle.end() ? nullptr : want->second);
    }
    EXPECT_EQ(FhInit(hb.p(), 0, 1, 4, 8, nullptr), FI_EINVAL);
}

}  // namespace
