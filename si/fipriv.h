// Layout of a Fi block and the checked view through which every operation
// reads it.  Internal to the Fi units.
#pragma once

#include <cstdint>
#include <cstring>

#include "si/fi.h"

namespace fi {

inline int32_t Get32(const uint8_t* p)
{
    int32_t v;
    std::memcpy(&v, p, 4);
    return v;
}
inline void Put32(uint8_t* p, int32_t v)
{
    std::memcpy(p, &v, 4);
}
inline int64_t Round8(int64_t v)
{
    return (v + 7) & ~int64_t{7};
}

// Block header.
constexpr int32_t kName = 0;
constexpr int32_t kNameLen = 16;
constexpr int32_t kWildA = 16;
constexpr int32_t kWildB = 17;
constexpr int32_t kMaxIdx = 20;
constexpr int32_t kMaxKeys = 24;
constexpr int32_t kLeafParam = 28;
constexpr int32_t kNodeCount = 32;
constexpr int32_t kOpenIdx = 36;
constexpr int32_t kSlots = 40;
constexpr int32_t kSlotCount = 256;
constexpr int32_t kSlotSize = 32;
constexpr int32_t kHdrAreaOff = 8232;
constexpr int32_t kNodeAreaOff = 8236;
constexpr int32_t kLeafAreaOff = 8240;
constexpr int32_t kFirstIdx = 8244;
constexpr int32_t kStackAreaOff = 8248;
constexpr int32_t kSavedPos = 8252;
constexpr int32_t kHdrTop = 8256;
constexpr int32_t kNodeTop = 8260;
constexpr int32_t kLeafTop = 8264;
constexpr int32_t kAreas = 8272;

// Index header.
constexpr int32_t kHdrSize = 32;
constexpr int32_t hNum = 0;
constexpr int32_t hKeyLen = 4;  // -1 while the header is free
constexpr int32_t hKeys = 8;
constexpr int32_t hRoot = 12;
constexpr int32_t hPrev = 16;
constexpr int32_t hNext = 20;

// Inner nodes and leaves share the words from the branch byte on.
constexpr int32_t kNodeSize = 100;
constexpr int32_t kLeafSize = 48;
constexpr int32_t nPos = 0;       // leaf: the leaf marker (0 while free)
constexpr int32_t nChildren = 4;  // 0 while the node is free
constexpr int32_t nFlags = 8;
constexpr int32_t nBranch = 12;
constexpr int32_t nParent = 16;
constexpr int32_t nFirst = 20;
constexpr int32_t nNextSib = 24;
constexpr int32_t nPrevSib = 28;
constexpr int32_t nBucketNext = 32;
constexpr int32_t nBuckets = 36;
constexpr int32_t lKey = 36;
constexpr int32_t lValue = 40;
constexpr int32_t kLeafMark = 0x7fffffff;
constexpr int32_t kFlagWild = 2;
constexpr int32_t kMaxChildren = 256;
constexpr int32_t kChainMax = 16;  // byte values that share a bucket

// Size of a pool area: a free stack of count + 1 slots, then the entries.
inline int64_t StackBytes(int64_t count)
{
    return Round8((count + 1) * 4);
}
inline int64_t AreaBytes(int64_t count, int64_t size)
{
    return Round8(StackBytes(count) + count * size);
}
int32_t NodeCountFor(int32_t maxKeys, uint32_t flags);

// One pool area: a free stack of count + 1 slots (slot 0 the bottom marker
// 0), then the entries.  An entry is free while its word at freeWord holds
// freeValue.
struct Pool {
    int32_t area = 0;   // start of the free stack
    int32_t first = 0;  // first entry
    int32_t count = 0;
    int32_t size = 0;
    int32_t topField = 0;
    int32_t freeWord = 0;
    int32_t freeValue = 0;

    bool IsEntry(int32_t off) const
    {
        const int64_t rel = int64_t{off} - first;
        return rel >= 0 && rel < int64_t{count} * size && rel % size == 0;
    }
};
Pool MakePool(int64_t area, int32_t count, int32_t size, int32_t topField, int32_t freeWord, int32_t freeValue);
// Fills the free stack with every entry in address order and marks them free.
void PoolFill(uint8_t* b, const Pool& p);
// The stack top lies inside the stack.
bool PoolTopOk(const uint8_t* b, const Pool& p);
// Takes an entry: FI_OK, FI_ENOSPACE, or FI_EINVAL when the stack hands out
// something that is no free entry of the pool.
int32_t PoolTake(uint8_t* b, const Pool& p, int32_t* off);
// Returns an entry, cleared and marked free; false when the stack is full.
bool PoolGive(uint8_t* b, const Pool& p, int32_t off);
inline int32_t PoolFreeCount(const uint8_t* b, const Pool& p)
{
    return (Get32(b + p.topField) - p.area) / 4 - 1;
}
// The name of a block: up to 16 characters, blank-padded.
void PadName(const char* name, uint8_t out[16]);
// The offset of p above base, when it fits 32 bits.
bool OffsetFromBase(const uint8_t* base, const void* p, int32_t* off);

// A block whose header has been checked: the areas lie where the counts put
// them and the stack tops inside their stacks.  Offsets handed to the
// accessors below must have passed one of the Is* checks.
class View {
public:
    bool Load(void* block);

    uint8_t* b = nullptr;
    int32_t maxIdx = 0;
    int32_t maxKeys = 0;
    Pool hdr, node, leaf;
    int32_t stackStart = 0;
    int32_t stackEnd = 0;
    uint8_t wildA = 0;
    uint8_t wildB = 0;

    int32_t Get(int32_t off) const { return Get32(b + off); }
    void Put(int32_t off, int32_t v) const { Put32(b + off, v); }
    uint8_t Byte(int32_t off) const { return b[off]; }
    void SetByte(int32_t off, uint8_t v) const { b[off] = v; }

    // Entries in use.
    bool IsHeader(int32_t off) const { return hdr.IsEntry(off) && Get(off + hKeyLen) >= 0; }
    bool IsNode(int32_t off) const
    {
        if (!node.IsEntry(off))
            return false;
        const int32_t n = Get(off + nChildren);
        return n >= 2 && n <= kMaxChildren;
    }
    bool IsLeaf(int32_t off) const { return leaf.IsEntry(off) && Get(off + nPos) == kLeafMark; }
    bool IsEntryOf(int32_t off, int32_t parent) const
    {
        return (IsNode(off) || IsLeaf(off)) && Get(off + nParent) == parent;
    }

    int32_t Take(const Pool& p, int32_t* off) const { return PoolTake(b, p, off); }
    bool Give(const Pool& p, int32_t off) const { return PoolGive(b, p, off); }
    int32_t FreeCount(const Pool& p) const { return PoolFreeCount(b, p); }
};

// The open index behind a handle.
struct Index {
    int32_t hdr = 0;
    int32_t keyLen = 0;
    const uint8_t* base = nullptr;
};

// Checks a handle and loads its block and index: FI_OK or FI_EINVAL.
int32_t Bind(FI_HDL h, View* v, Index* ix);

// Trie steps shared by the walks.
// The child of node under byte c: FI_OK with *child (0 when none), or
// FI_EINVAL when the bucket chain is broken.
int32_t ChildOf(const View& v, int32_t node, uint8_t c, int32_t* child);
// The node's position, checked to be below keyLen and above the parent's.
bool PosOk(const View& v, int32_t node, int32_t keyLen, int32_t parentPos);
// Empties an index, returning every node and leaf to its pool.
int32_t FreeTree(const View& v, const Index& ix);

}  // namespace fi
