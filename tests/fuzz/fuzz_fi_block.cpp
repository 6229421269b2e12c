// fuzz-libs: kov_si
// Offset-linked blocks are caller memory that may have been moved, mapped or
// overwritten: drive a Fi index, a list block and a hash table with
// operations taken from the input, overwrite words of the blocks with input
// bytes along the way, and require that nothing reads or writes outside a
// block or hangs.  Until the first overwrite the index must also agree with a
// set of the keys it holds.  The caller's own words (the key and value
// offsets and addresses the blocks record, and the key length and base of
// the two variants, which have no handle to hold them) are left alone: they
// say where and how much of the caller's memory is read.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <algorithm>
#include <set>
#include <vector>

#include "si/fi.h"

namespace {

constexpr int32_t kMaxKeys = 24;
constexpr int kSlots = 32;

struct Input {
    const uint8_t* p;
    size_t n;
    uint8_t Byte()
    {
        if (n == 0)
            return 0;
        --n;
        return *p++;
    }
    uint32_t Word()
    {
        uint32_t v = 0;
        for (int i = 0; i < 4; ++i)
            v = v << 8 | Byte();
        return v;
    }
};

void Check(bool ok)
{
    if (!ok)
        std::abort();
}

// Words of a block that hold the caller's offsets or addresses.
bool CallerWord(const uint8_t* blk, uint32_t off, int kind)
{
    int32_t leafArea = 0;
    if (kind == 0) {
        std::memcpy(&leafArea, blk + 8240, 4);
        const int32_t first = leafArea + ((kMaxKeys + 1) * 4 + 7) / 8 * 8;
        if (off >= static_cast<uint32_t>(first) && off < first + 48u * kMaxKeys) {
            const uint32_t in = (off - first) % 48;
            return in == 36 || in == 40;
        }
        return false;
    }
    if (off == 4 && kind != 0)
        return true;  // key length: no handle to hold it
    if (kind == 1) {  // list block: base at 24, leaves after the entry pool
        if (off >= 24 && off < 32)
            return true;
        std::memcpy(&leafArea, blk + 40, 4);
        const int32_t first = leafArea + ((kMaxKeys + 1) * 4 + 7) / 8 * 8;
        if (off >= static_cast<uint32_t>(first) && off < first + 48u * kMaxKeys) {
            const uint32_t in = (off - first) % 48;
            return in == 36 || in == 40;
        }
        return false;
    }
    // hash table: the key address of each entry (stride 56 for 8-byte data)
    const uint32_t first = 48 + 8 * (kMaxKeys + 1);
    return off >= first && (off - first) % 56 >= 40 && (off - first) % 56 < 48;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Input in{data, size};
    static FILE* devnull = std::fopen("/dev/null", "w");
    const uint32_t fiSize = FiCalcSize(2, kMaxKeys, 4, FI_FLAG_ALL_NODES);
    const size_t listSize = FiListCalcSize(kMaxKeys, 4);
    const size_t hashSize = FhCalcSize(0, kMaxKeys, 0, 8);
    std::vector<uint64_t> fiMem(fiSize / 8 + 1), listMem(listSize / 8 + 1), hashMem(hashSize / 8 + 1);
    auto* fi = reinterpret_cast<uint8_t*>(fiMem.data());
    auto* list = reinterpret_cast<uint8_t*>(listMem.data());
    auto* hash = reinterpret_cast<uint8_t*>(hashMem.data());
    std::vector<uint32_t> keys(kSlots);  // caller memory of every key
    void* out = nullptr;
    Check(FiInit(fi, "FUZZ", FI_FLAG_ALL_NODES, 2, kMaxKeys, 4, '*', '-', &out) == FI_OK);
    Check(FiListInit(list, keys.data(), kMaxKeys, 4, '*', 0, &out) == FI_OK);
    Check(FhInit(hash, 0, kMaxKeys, 4, 8, &out) == FI_OK);
    FI_HDL h = nullptr;
    Check(FiOpenIndex(fi, 1, 0, keys.data(), 4, &h) == FI_OK);
    std::set<uint32_t> held;  // keys of the index while no word was overwritten
    bool pristine = true;
    bool inIndex[kSlots] = {};  // the index may point at the slot's key
    int32_t listLeaves[kSlots] = {};
    void* hashData[kSlots] = {};

    for (int step = 0; step < 400 && in.n > 0; ++step) {
        const uint8_t op = in.Byte();
        const int slot = in.Byte() % kSlots;
        int32_t leaf = 0;
        switch (op % 10) {
        case 0: {  // insert into all three; a key the index holds stays as it is
            const uint32_t k = in.Word();
            if (!inIndex[slot])
                keys[slot] = k;
            const int32_t rc = FiInsert(h, &keys[slot], &keys[slot], &leaf);
            if (pristine) {
                const bool fresh = held.count(keys[slot]) == 0;
                Check(rc == (fresh ? (held.size() < kMaxKeys ? FI_OK : FI_ENOSPACE) : FI_EKEY_EXISTS));
                if (rc == FI_OK)
                    held.insert(keys[slot]);
            }
            if (rc == FI_OK)
                inIndex[slot] = true;
            FiListInsert(list, &keys[slot], &keys[slot], &listLeaves[slot]);
            FhInsert(hash, &keys[slot], &hashData[slot]);
            break;
        }
        case 1: {  // search
            const uint32_t k = in.Word();
            const int32_t rc = FiSearch(h, &k, &leaf);
            if (pristine)
                Check(rc == (held.count(k) ? FI_OK : FI_ENOTFOUND));
            FiListSearch(list, &k, &leaf);
            FhSearch(hash, &k);
            break;
        }
        case 2: {  // remove a held key
            if (FiSearch(h, &keys[slot], &leaf) == FI_OK) {
                const auto* value = static_cast<const uint32_t*>(FiLeafValue(h, leaf));
                const int32_t rc = FiRemove(h, leaf);
                if (pristine) {
                    Check(rc == FI_OK && value >= keys.data() && value < keys.data() + kSlots);
                    held.erase(keys[slot]);
                }
                if (rc == FI_OK && value >= keys.data() && value < keys.data() + kSlots)
                    inIndex[value - keys.data()] = false;
            }
            FiListRemove(list, listLeaves[slot]);
            FiListRemove(list, static_cast<int32_t>(in.Word() % listSize));
            FhRemove(hash, hashData[slot]);
            break;
        }
        case 3:
        case 4: {  // overwrite a word of one block
            const int kind = in.Byte() % 3;
            uint8_t* blk = kind == 0 ? fi : kind == 1 ? list : hash;
            const size_t bytes = kind == 0 ? fiSize : kind == 1 ? listSize : hashSize;
            const uint32_t off = (in.Word() % static_cast<uint32_t>(bytes)) & ~3u;
            const uint32_t value = in.Word();
            if (off + 4 <= bytes && !CallerWord(blk, off, kind)) {
                std::memcpy(blk + off, &value, 4);
                if (kind == 0)
                    pristine = false;
            }
            break;
        }
        case 5: {  // wildcard search, paged
            uint32_t k = in.Word();
            uint32_t state = FI_SEARCH_START;
            int32_t page[4];
            uint32_t n = 0;
            const uint32_t cap = in.Byte() % 5;
            for (int round = 0; round < 40; ++round) {
                if (FiSearchAll(h, &k, cap, page, &n, &state) != FI_OK || state != 1)
                    break;
            }
            break;
        }
        case 6: {
            const uint32_t k = in.Word();
            FiSearchPrefix(h, &k, in.Byte(), in.Byte(), &leaf);
            FiSearchPrefixLen(h, &k, in.Byte() % 6, in.Byte(), in.Byte(), &leaf);
            break;
        }
        case 7: {
            FI_STATISTICS st;
            const int32_t rc = FiStatistics(h, &st);
            if (pristine)
                Check(rc == FI_OK && st.leaves == static_cast<int32_t>(held.size()));
            FiDump(h, devnull);
            FiListDump(list, devnull);
            FhFirst(hash);
            break;
        }
        case 8: {  // a second index beside the first
            FI_HDL h2 = nullptr;
            const int32_t rc = FiOpenIndex(fi, 2, 0, keys.data(), 4, &h2);
            if (rc == FI_OK || rc == FI_EEXISTS) {
                FiInsert(h2, &keys[slot], &keys[slot], &leaf);
                if (FiCloseIndex(h2) != FI_OK)
                    FiFreeHandle(h2);
            }
            break;
        }
        default: {  // close and open again
            if (FiCloseIndex(h) != FI_OK)
                FiFreeHandle(h);
            held.clear();
            std::fill(std::begin(inIndex), std::end(inIndex), false);
            const int32_t rc = FiOpenIndex(fi, 1, 0, keys.data(), 4, &h);
            if (rc != FI_OK && rc != FI_EEXISTS)
                return 0;
            break;
        }
        }
    }
    if (FiCloseIndex(h) != FI_OK)
        FiFreeHandle(h);
    return 0;
}
