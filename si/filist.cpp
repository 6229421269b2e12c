// The list variant of the index: keys in one linear list, newest first, with
// the leaves of the trie index and a pool of list entries.
#include <cctype>
#include <climits>
#include <cstdint>
#include <cstring>

#include "si/fipriv.h"

namespace {

using fi::Get32;
using fi::Pool;
using fi::Put32;

// Header (160 bytes).
constexpr int32_t kKeys = 0;
constexpr int32_t kKeyLen = 4;
constexpr int32_t kWild = 8;
constexpr int32_t kSecond = 9;
constexpr int32_t kHead = 12;
constexpr int32_t kEntryTop = 16;
constexpr int32_t kLeafTop = 20;
constexpr int32_t kBase = 24;
constexpr int32_t kMaxKeys = 32;
constexpr int32_t kEntryArea = 36;
constexpr int32_t kLeafArea = 40;
constexpr int32_t kHeaderSize = 160;

// List entry: {leaf, previous entry, next entry}; free while its leaf is 0.
constexpr int32_t kEntrySize = 12;
constexpr int32_t eLeaf = 0;
constexpr int32_t ePrev = 4;
constexpr int32_t eNext = 8;

struct Layout {
    int64_t entryArea, leafArea, end;
};

Layout LayOut(int64_t maxKeys)
{
    Layout l;
    l.entryArea = kHeaderSize;
    l.leafArea = l.entryArea + fi::AreaBytes(maxKeys, kEntrySize);
    l.end = l.leafArea + fi::AreaBytes(maxKeys, fi::kLeafSize);
    return l;
}

Pool EntryPool(const Layout& l, int32_t n)
{
    return fi::MakePool(l.entryArea, n, kEntrySize, kEntryTop, eLeaf, 0);
}
Pool LeafPool(const Layout& l, int32_t n)
{
    return fi::MakePool(l.leafArea, n, fi::kLeafSize, kLeafTop, fi::nPos, 0);
}

// A list block whose header can be right.
struct List {
    uint8_t* b = nullptr;
    int32_t maxKeys = 0;
    int32_t keyLen = 0;
    const uint8_t* base = nullptr;
    Pool entries, leaves;

    bool Load(void* block)
    {
        b = static_cast<uint8_t*>(block);
        if (b == nullptr || reinterpret_cast<uintptr_t>(b) % 8 != 0)
            return false;
        maxKeys = Get32(b + kMaxKeys);
        keyLen = Get32(b + kKeyLen);
        if (maxKeys < 1 || keyLen < 0)
            return false;
        const Layout l = LayOut(maxKeys);
        const int32_t keys = Get32(b + kKeys);
        if (l.end > INT32_MAX || Get32(b + kEntryArea) != l.entryArea || Get32(b + kLeafArea) != l.leafArea ||
            keys < 0 || keys > maxKeys)
            return false;
        entries = EntryPool(l, maxKeys);
        leaves = LeafPool(l, maxKeys);
        std::memcpy(&base, b + kBase, sizeof base);
        return fi::PoolTopOk(b, entries) && fi::PoolTopOk(b, leaves);
    }
    int32_t Get(int32_t off) const { return Get32(b + off); }
    void Put(int32_t off, int32_t v) const { Put32(b + off, v); }
    bool IsLeaf(int32_t off) const { return leaves.IsEntry(off) && Get(off) == fi::kLeafMark; }
    // An entry in use whose leaf points back to it.
    bool IsEntry(int32_t off) const
    {
        if (!entries.IsEntry(off))
            return false;
        const int32_t l = Get(off + eLeaf);
        return IsLeaf(l) && Get(l + fi::nParent) == off;
    }
    const uint8_t* KeyOf(int32_t leaf) const { return base + static_cast<uint32_t>(Get(leaf + fi::lKey)); }
};

}  // namespace

size_t FiListCalcSize(int32_t maxKeys, int32_t /*leafParam*/)
{
    if (maxKeys < 0)
        return 0;
    return static_cast<size_t>(LayOut(maxKeys).end);
}

int32_t FiListInit(void* block, const void* base, int32_t maxKeys, int32_t keyLen, uint8_t wild, uint8_t second,
                   void** outBlock)
{
    auto* b = static_cast<uint8_t*>(block);
    if (b == nullptr || reinterpret_cast<uintptr_t>(b) % 8 != 0 || maxKeys < 1 || keyLen < 0)
        return FI_EINVAL;
    const Layout l = LayOut(maxKeys);
    if (l.end > INT32_MAX)
        return FI_EINVAL;
    if (outBlock != nullptr)
        *outBlock = block;
    std::memset(b, 0, kHeaderSize);
    Put32(b + kKeyLen, keyLen);
    b[kWild] = wild;
    b[kSecond] = second;
    std::memcpy(b + kBase, &base, sizeof base);
    Put32(b + kMaxKeys, maxKeys);
    Put32(b + kEntryArea, static_cast<int32_t>(l.entryArea));
    Put32(b + kLeafArea, static_cast<int32_t>(l.leafArea));
    fi::PoolFill(b, EntryPool(l, maxKeys));
    fi::PoolFill(b, LeafPool(l, maxKeys));
    return FI_OK;
}

int32_t FiListInsert(void* block, const void* key, const void* value, int32_t* leaf)
{
    List ls;
    int32_t keyOff = 0;
    int32_t valueOff = 0;
    if (!ls.Load(block) || leaf == nullptr || (key == nullptr && ls.keyLen > 0) ||
        !fi::OffsetFromBase(ls.base, key, &keyOff) || !fi::OffsetFromBase(ls.base, value, &valueOff))
        return FI_EINVAL;
    const int32_t head = ls.Get(kHead);
    if (head != 0 && !ls.IsEntry(head))
        return FI_EINVAL;
    int32_t e = 0;
    int32_t l = 0;
    int32_t rc = fi::PoolTake(ls.b, ls.entries, &e);
    if (rc != FI_OK)
        return rc;
    rc = fi::PoolTake(ls.b, ls.leaves, &l);
    if (rc != FI_OK) {
        fi::PoolGive(ls.b, ls.entries, e);
        return rc;
    }
    ls.Put(l + fi::nPos, fi::kLeafMark);
    ls.Put(l + fi::nParent, e);
    ls.Put(l + fi::lKey, keyOff);
    ls.Put(l + fi::lValue, valueOff);
    ls.Put(e + eLeaf, l);
    ls.Put(e + ePrev, 0);
    ls.Put(e + eNext, head);
    if (head != 0)
        ls.Put(head + ePrev, e);
    ls.Put(kHead, e);
    ls.Put(kKeys, ls.Get(kKeys) + 1);
    *leaf = l;
    return FI_OK;
}

int32_t FiListRemove(void* block, int32_t leaf)
{
    List ls;
    if (!ls.Load(block))
        return FI_EINVAL;
    if (ls.Get(kKeys) == 0 || ls.Get(kHead) == 0)
        return 1;  // the list is empty
    if (!ls.IsLeaf(leaf))
        return FI_EINVAL;
    const int32_t e = ls.Get(leaf + fi::nParent);
    if (!ls.IsEntry(e))
        return FI_EINVAL;
    const int32_t prev = ls.Get(e + ePrev);
    const int32_t next = ls.Get(e + eNext);
    if ((prev == 0 ? ls.Get(kHead) != e : !ls.IsEntry(prev) || ls.Get(prev + eNext) != e) ||
        (next != 0 && (!ls.IsEntry(next) || ls.Get(next + ePrev) != e)))
        return FI_EINVAL;
    if (prev != 0)
        ls.Put(prev + eNext, next);
    else
        ls.Put(kHead, next);
    if (next != 0)
        ls.Put(next + ePrev, prev);
    if (!fi::PoolGive(ls.b, ls.leaves, leaf) || !fi::PoolGive(ls.b, ls.entries, e))
        return FI_EINVAL;
    ls.Put(kKeys, ls.Get(kKeys) - 1);
    return FI_OK;
}

int32_t FiListSearch(void* block, const void* key, int32_t* leaf)
{
    List ls;
    if (!ls.Load(block) || leaf == nullptr || (key == nullptr && ls.keyLen > 0))
        return FI_EINVAL;
    *leaf = 0;
    const auto* k = static_cast<const uint8_t*>(key);
    const uint8_t wild = ls.b[kWild];
    int32_t e = ls.Get(kHead);
    for (int32_t n = 0; e != 0; ++n) {
        if (n >= ls.maxKeys || !ls.IsEntry(e))
            return FI_EINVAL;
        const int32_t l = ls.Get(e + eLeaf);
        const uint8_t* stored = ls.KeyOf(l);
        int32_t i = 0;
        while (i < ls.keyLen && (stored[i] == k[i] || stored[i] == wild || k[i] == wild))
            ++i;
        if (i == ls.keyLen) {
            *leaf = l;
            return FI_OK;
        }
        e = ls.Get(e + eNext);
    }
    return FI_ENOTFOUND;
}

int32_t FiListDump(void* block, FILE* stream)
{
    List ls;
    if (!ls.Load(block) || stream == nullptr)
        return FI_EINVAL;
    std::fprintf(stream, "PTL: %d keys.\n", ls.Get(kKeys));
    int32_t e = ls.Get(kHead);
    for (int32_t n = 0; e != 0; ++n) {
        if (n >= ls.maxKeys || !ls.IsEntry(e))
            return FI_EINVAL;
        const uint8_t* key = ls.KeyOf(ls.Get(e + eLeaf));
        std::fprintf(stream, "#%3d  ", n);
        for (int32_t i = 0; i < ls.keyLen; ++i)
            std::fputc(std::isprint(key[i]) ? key[i] : '.', stream);
        std::fputc('\n', stream);
        e = ls.Get(e + eNext);
    }
    return FI_OK;
}
