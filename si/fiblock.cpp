// Fi blocks: sizing, layout, the checked view of a block header, the three
// entry pools, handles and the opening and closing of indices.
#include <atomic>
#include <climits>
#include <cstdint>
#include <cstring>

#include "si/fipriv.h"

namespace fi {

namespace {

FI_HANDLE g_pool[kSlotCount];

bool InPool(const FI_HANDLE* h)
{
    const auto p = reinterpret_cast<uintptr_t>(h);
    const auto lo = reinterpret_cast<uintptr_t>(&g_pool[0]);
    return p >= lo && p < lo + sizeof(g_pool) && (p - lo) % sizeof(FI_HANDLE) == 0;
}

// A handle slot inside the block it names.
bool InOwnBlock(const FI_HANDLE* h)
{
    const auto rel = reinterpret_cast<uintptr_t>(h) - reinterpret_cast<uintptr_t>(h->block);
    return rel >= kSlots && rel < kSlots + kSlotCount * kSlotSize && (rel - kSlots) % kSlotSize == 0;
}

// Process pool: taken and given back atomically, so that sets in different
// threads may open indices at the same time.
FI_HANDLE* TakePoolHandle()
{
    for (FI_HANDLE& h : g_pool) {
        uint32_t expected = 0;
        if (std::atomic_ref<uint32_t>(h.inUse).compare_exchange_strong(expected, 1))
            return &h;
    }
    return nullptr;
}

FI_HANDLE* TakeBlockHandle(const View& v)
{
    for (int32_t i = 0; i < kSlotCount; ++i) {
        auto* h = reinterpret_cast<FI_HANDLE*>(v.b + kSlots + i * kSlotSize);
        if (h->inUse != 1) {
            h->inUse = 1;
            return h;
        }
    }
    return nullptr;
}

void ReleaseHandle(FI_HANDLE* h)
{
    if (InPool(h))
        std::atomic_ref<uint32_t>(h->inUse).store(0);
    else
        h->inUse = 0;
}

void FillHandle(FI_HANDLE* h, const View& v, uint32_t index, const void* base, int32_t header, int32_t keyLen)
{
    h->index = index;
    h->keyLen = keyLen;
    h->block = v.b;
    h->base = base;
    h->header = header;
}

// The header of the open index with this number: FI_OK, FI_ENOTFOUND or
// FI_EINVAL when the list of headers is broken.
int32_t FindIndex(const View& v, uint32_t index, int32_t* hdr)
{
    int32_t cur = v.Get(kFirstIdx);
    int32_t prev = 0;
    for (int32_t n = 0; cur != 0; ++n) {
        if (n >= v.maxIdx || !v.IsHeader(cur) || v.Get(cur + hPrev) != prev)
            return FI_EINVAL;
        if (static_cast<uint32_t>(v.Get(cur + hNum)) == index) {
            *hdr = cur;
            return FI_OK;
        }
        prev = cur;
        cur = v.Get(cur + hNext);
    }
    return FI_ENOTFOUND;
}

struct Layout {
    int64_t hdrArea, nodeArea, leafArea, stackArea, end;
};

Layout LayOut(int64_t maxIdx, int64_t nodes, int64_t maxKeys)
{
    Layout l;
    l.hdrArea = kAreas;
    l.nodeArea = l.hdrArea + AreaBytes(maxIdx, kHdrSize);
    l.leafArea = l.nodeArea + AreaBytes(nodes, kNodeSize);
    l.stackArea = l.leafArea + AreaBytes(maxKeys, kLeafSize);
    l.end = l.stackArea + 128 + 16 * maxKeys;
    return l;
}

Pool HeaderPool(const Layout& l, int32_t n)
{
    return MakePool(l.hdrArea, n, kHdrSize, kHdrTop, hKeyLen, -1);
}
Pool NodePool(const Layout& l, int32_t n)
{
    return MakePool(l.nodeArea, n, kNodeSize, kNodeTop, nChildren, 0);
}
Pool LeafPool(const Layout& l, int32_t n)
{
    return MakePool(l.leafArea, n, kLeafSize, kLeafTop, nPos, 0);
}

}  // namespace

int32_t NodeCountFor(int32_t maxKeys, uint32_t flags)
{
    if (maxKeys > 999 && (flags & FI_FLAG_ALL_NODES) == 0)
        return static_cast<int32_t>(static_cast<double>(static_cast<float>(maxKeys)) * 0.6);
    return maxKeys;
}

bool View::Load(void* block)
{
    b = static_cast<uint8_t*>(block);
    if (b == nullptr || reinterpret_cast<uintptr_t>(b) % 8 != 0)
        return false;
    static const uint8_t kZero[kNameLen] = {};
    if (std::memcmp(b + kName, kZero, kNameLen) == 0)
        return false;  // not initialised
    maxIdx = Get(kMaxIdx);
    maxKeys = Get(kMaxKeys);
    const int32_t nodes = Get(kNodeCount);
    if (maxIdx < 0 || maxKeys < 2 || (nodes != maxKeys && nodes != NodeCountFor(maxKeys, 0)))
        return false;
    const Layout l = LayOut(maxIdx, nodes, maxKeys);
    if (l.end > INT32_MAX || Get(kHdrAreaOff) != l.hdrArea || Get(kNodeAreaOff) != l.nodeArea ||
        Get(kLeafAreaOff) != l.leafArea || Get(kStackAreaOff) != l.stackArea)
        return false;
    const int32_t open = Get(kOpenIdx);
    if (open < 0 || open > maxIdx)
        return false;
    hdr = HeaderPool(l, maxIdx);
    node = NodePool(l, nodes);
    leaf = LeafPool(l, maxKeys);
    stackStart = static_cast<int32_t>(l.stackArea);
    stackEnd = static_cast<int32_t>(l.end);
    wildA = b[kWildA];
    wildB = b[kWildB];
    return PoolTopOk(b, hdr) && PoolTopOk(b, node) && PoolTopOk(b, leaf);
}

Pool MakePool(int64_t area, int32_t count, int32_t size, int32_t topField, int32_t freeWord, int32_t freeValue)
{
    Pool p;
    p.area = static_cast<int32_t>(area);
    p.first = static_cast<int32_t>(area + StackBytes(count));
    p.count = count;
    p.size = size;
    p.topField = topField;
    p.freeWord = freeWord;
    p.freeValue = freeValue;
    return p;
}

void PoolFill(uint8_t* b, const Pool& p)
{
    Put32(b + p.area, 0);  // bottom marker
    std::memset(b + p.first, 0, static_cast<size_t>(p.count) * static_cast<size_t>(p.size));
    for (int32_t i = 0; i < p.count; ++i) {
        const int32_t e = p.first + i * p.size;
        Put32(b + p.area + 4 + 4 * i, e);
        Put32(b + e + p.freeWord, p.freeValue);
    }
    Put32(b + p.topField, p.area + 4 * (p.count + 1));
}

bool PoolTopOk(const uint8_t* b, const Pool& p)
{
    const int64_t top = Get32(b + p.topField);
    return top >= p.area + 4 && top <= p.area + 4 * (int64_t{p.count} + 1) && (top - p.area) % 4 == 0;
}

int32_t PoolTake(uint8_t* b, const Pool& p, int32_t* off)
{
    const int32_t top = Get32(b + p.topField) - 4;
    const int32_t e = Get32(b + top);
    if (e == 0 || top < p.area + 4)
        return FI_ENOSPACE;
    if (!p.IsEntry(e) || Get32(b + e + p.freeWord) != p.freeValue)
        return FI_EINVAL;
    std::memset(b + e, 0, static_cast<size_t>(p.size));  // whatever a free entry held
    Put32(b + p.topField, top);
    *off = e;
    return FI_OK;
}

bool PoolGive(uint8_t* b, const Pool& p, int32_t off)
{
    const int32_t top = Get32(b + p.topField);
    if (int64_t{top} >= p.area + 4 * (int64_t{p.count} + 1))
        return false;
    std::memset(b + off, 0, static_cast<size_t>(p.size));
    Put32(b + off + p.freeWord, p.freeValue);
    Put32(b + top, off);
    Put32(b + p.topField, top + 4);
    return true;
}

void PadName(const char* name, uint8_t out[kNameLen])
{
    std::memset(out, ' ', kNameLen);
    if (name == nullptr)
        return;
    for (int32_t i = 0; i < kNameLen && name[i] != '\0'; ++i)
        out[i] = static_cast<uint8_t>(name[i]);
}

bool OffsetFromBase(const uint8_t* base, const void* p, int32_t* off)
{
    const auto a = reinterpret_cast<uintptr_t>(p);
    const auto b = reinterpret_cast<uintptr_t>(base);
    if (a < b || a - b > UINT32_MAX)
        return false;
    *off = static_cast<int32_t>(static_cast<uint32_t>(a - b));
    return true;
}

int32_t Bind(FI_HDL h, View* v, Index* ix)
{
    if (h == nullptr || h->inUse != 1 || (!InPool(h) && !InOwnBlock(h)))
        return FI_EINVAL;
    if (!v->Load(h->block))
        return FI_EINVAL;
    const int32_t hdr = h->header;
    if (!v->IsHeader(hdr) || static_cast<uint32_t>(v->Get(hdr + hNum)) != h->index ||
        v->Get(hdr + hKeyLen) != h->keyLen)
        return FI_EINVAL;
    ix->hdr = hdr;
    ix->keyLen = v->Get(hdr + hKeyLen);
    ix->base = static_cast<const uint8_t*>(h->base);
    return FI_OK;
}

}  // namespace fi

using namespace fi;

uint32_t FiCalcSize(int32_t nIndices, int32_t maxKeys, int32_t /*leafParam*/, uint32_t flags)
{
    if (nIndices < 0 || maxKeys < 0)
        return 0;
    const int64_t end = LayOut(nIndices, NodeCountFor(maxKeys, flags), maxKeys).end;
    return end > INT32_MAX ? 0 : static_cast<uint32_t>(end);
}

int32_t FiInit(void* block, const char* name, uint32_t flags, int32_t nIndices, int32_t maxKeys, int32_t leafParam,
               uint8_t wildA, uint8_t wildB, void** outBlock)
{
    auto* b = static_cast<uint8_t*>(block);
    if (b == nullptr || reinterpret_cast<uintptr_t>(b) % 8 != 0 || maxKeys <= 1 ||
        (flags != 0 && (flags & FI_FLAG_ALL_NODES) == 0) || nIndices < 0 ||
        FiCalcSize(nIndices, maxKeys, leafParam, flags) == 0)
        return FI_EINVAL;
    if (outBlock != nullptr)
        *outBlock = block;
    uint8_t padded[kNameLen];
    PadName(name, padded);
    if (std::memcmp(b + kName, padded, kNameLen) == 0)
        return FI_EEXISTS;

    const int32_t nodes = NodeCountFor(maxKeys, flags);
    const Layout l = LayOut(nIndices, nodes, maxKeys);
    std::memset(b, 0, kAreas);
    std::memcpy(b + kName, padded, kNameLen);
    b[kWildA] = wildA;
    b[kWildB] = wildB;
    Put32(b + kMaxIdx, nIndices);
    Put32(b + kMaxKeys, maxKeys);
    Put32(b + kLeafParam, leafParam);
    Put32(b + kNodeCount, nodes);
    Put32(b + kHdrAreaOff, static_cast<int32_t>(l.hdrArea));
    Put32(b + kNodeAreaOff, static_cast<int32_t>(l.nodeArea));
    Put32(b + kLeafAreaOff, static_cast<int32_t>(l.leafArea));
    Put32(b + kStackAreaOff, static_cast<int32_t>(l.stackArea));
    Put32(b + kSavedPos, static_cast<int32_t>(l.stackArea));
    PoolFill(b, HeaderPool(l, nIndices));
    PoolFill(b, NodePool(l, nodes));
    PoolFill(b, LeafPool(l, maxKeys));
    return FI_OK;
}

int32_t FiExit(void* block)
{
    if (block == nullptr)
        return FI_EINVAL;
    std::memset(block, 0, kNameLen);
    return FI_OK;
}

int32_t FiOpenIndex(void* block, uint32_t index, uint32_t mode, const void* base, int32_t keyLen, FI_HDL* out)
{
    View v;
    if (out == nullptr || keyLen < 0 || !v.Load(block))
        return FI_EINVAL;
    FI_HANDLE* h = mode == FI_HANDLE_IN_BLOCK ? TakeBlockHandle(v) : TakePoolHandle();
    if (h == nullptr)
        return FI_ENOSPACE;
    int32_t hdr = 0;
    int32_t rc = FindIndex(v, index, &hdr);
    if (rc == FI_OK) {
        // The caller's keys take keyLen bytes of its memory.  An index whose
        // keys are no longer than that is used at its own length, so that
        // no more than keyLen bytes of a caller's key are read; a longer one
        // (or a word overwritten) leaves the caller's length in the handle,
        // which makes every use of the handle fail.
        const int32_t have = v.Get(hdr + hKeyLen);
        FillHandle(h, v, index, base, hdr, have >= 0 && have <= keyLen ? have : keyLen);
        *out = h;
        return FI_EEXISTS;
    }
    if (rc == FI_ENOTFOUND)
        rc = v.Take(v.hdr, &hdr);
    const int32_t head = v.Get(kFirstIdx);
    if (rc == FI_OK && head != 0 && !v.IsHeader(head)) {
        v.Give(v.hdr, hdr);
        rc = FI_EINVAL;
    }
    if (rc != FI_OK) {
        ReleaseHandle(h);
        return rc;
    }
    v.Put(hdr + hNum, static_cast<int32_t>(index));
    v.Put(hdr + hKeyLen, keyLen);
    v.Put(hdr + hKeys, 0);
    v.Put(hdr + hRoot, 0);
    v.Put(hdr + hPrev, 0);
    v.Put(hdr + hNext, head);
    if (head != 0)
        v.Put(head + hPrev, hdr);
    v.Put(kFirstIdx, hdr);
    v.Put(kOpenIdx, v.Get(kOpenIdx) + 1);
    FillHandle(h, v, index, base, hdr, keyLen);
    *out = h;
    return FI_OK;
}

int32_t FiAttachIndex(void* block, uint32_t index, const void* base, FI_HDL* out)
{
    View v;
    if (out == nullptr || !v.Load(block))
        return FI_EINVAL;
    int32_t hdr = 0;
    const int32_t rc = FindIndex(v, index, &hdr);
    if (rc != FI_OK)
        return rc;
    FI_HANDLE* h = TakePoolHandle();
    if (h == nullptr)
        return FI_ENOSPACE;
    FillHandle(h, v, index, base, hdr, v.Get(hdr + hKeyLen));
    *out = h;
    return FI_OK;
}

int32_t FiFreeHandle(FI_HDL h)
{
    if (h == nullptr || h->inUse != 1 || (!InPool(h) && !InOwnBlock(h)))
        return FI_EINVAL;
    ReleaseHandle(h);
    return FI_OK;
}

int32_t FiCloseIndex(FI_HDL h)
{
    View v;
    if (h == nullptr || h->inUse != 1 || (!InPool(h) && !InOwnBlock(h)) || !v.Load(h->block))
        return FI_EINVAL;
    Index ix;
    int32_t rc = FindIndex(v, h->index, &ix.hdr);
    if (rc != FI_OK)
        return rc;
    ix.keyLen = v.Get(ix.hdr + hKeyLen);
    ix.base = static_cast<const uint8_t*>(h->base);
    const int32_t prev = v.Get(ix.hdr + hPrev);
    const int32_t next = v.Get(ix.hdr + hNext);
    if ((next != 0 && (!v.IsHeader(next) || v.Get(next + hPrev) != ix.hdr)) || v.Get(kOpenIdx) < 1)
        return FI_EINVAL;
    rc = FreeTree(v, ix);
    if (rc != FI_OK)
        return rc;
    if (prev != 0)
        v.Put(prev + hNext, next);
    else
        v.Put(kFirstIdx, next);
    if (next != 0)
        v.Put(next + hPrev, prev);
    if (!v.Give(v.hdr, ix.hdr))
        return FI_EINVAL;
    v.Put(kOpenIdx, v.Get(kOpenIdx) - 1);
    ReleaseHandle(h);
    return FI_OK;
}
