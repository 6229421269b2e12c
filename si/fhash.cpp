// The hashed variant of the index: n entries over n + 1 bucket chains,
// linked by addresses, so the table stays where it was laid out.  Every link
// is checked to name an entry or a bucket of this table before it is used.
#include <cstdint>
#include <cstring>

#include "si/fi.h"

namespace {

// Header (48 bytes).
constexpr int32_t kNumber = 0;
constexpr int32_t kKeyLen = 4;
constexpr int32_t kBuckets = 8;
constexpr int32_t kStride = 12;
constexpr int32_t kBucketArray = 16;
constexpr int32_t kFreeHead = 24;
constexpr int32_t kUsedHead = 32;
constexpr int32_t kHeaderSize = 48;

// Entry header: links, then the bucket it hangs in (null while free) and
// the caller's key; the caller's data follows.
constexpr int32_t eNextUsed = 0;  // also the free chain
constexpr int32_t ePrevUsed = 8;
constexpr int32_t eNextBucket = 16;
constexpr int32_t ePrevBucket = 24;
constexpr int32_t eBucket = 32;
constexpr int32_t eKey = 40;
constexpr int32_t kEntryHeader = 48;

int64_t Stride(int64_t entrySize)
{
    return (kEntryHeader + entrySize + 7) & ~int64_t{7};
}

int32_t Get32(const uint8_t* p)
{
    int32_t v;
    std::memcpy(&v, p, 4);
    return v;
}
uint8_t* GetPtr(const uint8_t* p)
{
    uint8_t* v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
void PutPtr(uint8_t* p, const void* v)
{
    std::memcpy(p, &v, sizeof v);
}

struct Table {
    uint8_t* b = nullptr;
    int32_t n = 0;
    int32_t keyLen = 0;
    int32_t stride = 0;
    uint8_t* buckets = nullptr;
    uint8_t* entries = nullptr;

    bool Load(void* table)
    {
        b = static_cast<uint8_t*>(table);
        if (b == nullptr || reinterpret_cast<uintptr_t>(b) % 8 != 0)
            return false;
        n = Get32(b + kNumber);
        keyLen = Get32(b + kKeyLen);
        stride = Get32(b + kStride);
        buckets = b + kHeaderSize;
        if (n < 2 || keyLen < 0 || Get32(b + kBuckets) != n + 1 || stride < kEntryHeader || stride % 8 != 0 ||
            GetPtr(b + kBucketArray) != buckets)
            return false;
        entries = buckets + 8 * (static_cast<size_t>(n) + 1);
        return true;
    }
    bool IsEntry(const uint8_t* e) const
    {
        const auto at = reinterpret_cast<uintptr_t>(e);
        const auto first = reinterpret_cast<uintptr_t>(entries);
        if (at < first)
            return false;
        const uint64_t rel = at - first;
        return rel < static_cast<uint64_t>(n) * static_cast<uint64_t>(stride) && rel % stride == 0;
    }
    bool IsUsed(const uint8_t* e) const { return IsEntry(e) && GetPtr(e + eBucket) != nullptr; }
    uint8_t* BucketOf(const uint8_t* key) const
    {
        uint32_t h = 0;
        for (int32_t i = 0; i < keyLen; ++i)
            h = h ^ (h * 32) ^ key[i];
        return buckets + 8 * (h % static_cast<uint32_t>(n + 1));
    }
    // The entry with this key: FI_OK, FI_ENOTFOUND or FI_EINVAL.
    int32_t Find(const uint8_t* bucket, const uint8_t* key, uint8_t** found) const
    {
        uint8_t* e = GetPtr(bucket);
        for (int32_t i = 0; e != nullptr; ++i) {
            if (i >= n || !IsUsed(e) || GetPtr(e + eBucket) != bucket)
                return FI_EINVAL;
            if (std::memcmp(GetPtr(e + eKey), key, static_cast<size_t>(keyLen)) == 0) {
                *found = e;
                return FI_OK;
            }
            e = GetPtr(e + eNextBucket);
        }
        return FI_ENOTFOUND;
    }
};

}  // namespace

size_t FhCalcSize(int32_t /*ignored*/, int32_t number, int32_t /*ignored2*/, int32_t entrySize)
{
    if (number < 0 || entrySize < 0)
        return 0;
    return static_cast<size_t>(kHeaderSize + 8 * (int64_t{number} + 1) + int64_t{number} * Stride(entrySize));
}

int32_t FhInit(void* block, int32_t /*ignored*/, int32_t number, int32_t keyLen, int32_t entrySize, void** outBlock)
{
    auto* b = static_cast<uint8_t*>(block);
    if (b == nullptr || reinterpret_cast<uintptr_t>(b) % 8 != 0 || number < 2 || keyLen < 0 || entrySize < 0 ||
        Stride(entrySize) > INT32_MAX)
        return FI_EINVAL;
    if (outBlock != nullptr)
        *outBlock = block;
    const int64_t stride = Stride(entrySize);
    std::memset(b, 0, kHeaderSize + 8 * (static_cast<size_t>(number) + 1));
    std::memcpy(b + kNumber, &number, 4);
    std::memcpy(b + kKeyLen, &keyLen, 4);
    const int32_t buckets = number + 1;
    std::memcpy(b + kBuckets, &buckets, 4);
    const auto s = static_cast<int32_t>(stride);
    std::memcpy(b + kStride, &s, 4);
    PutPtr(b + kBucketArray, b + kHeaderSize);
    uint8_t* first = b + kHeaderSize + 8 * (static_cast<size_t>(number) + 1);
    for (int32_t i = 0; i < number; ++i) {
        uint8_t* e = first + static_cast<size_t>(i) * static_cast<size_t>(stride);
        std::memset(e, 0, kEntryHeader);
        PutPtr(e + eNextUsed, i + 1 < number ? e + stride : nullptr);
    }
    PutPtr(b + kFreeHead, first);
    PutPtr(b + kUsedHead, nullptr);
    return FI_OK;
}

int32_t FhInsert(void* table, const void* key, void** data)
{
    Table t;
    if (!t.Load(table) || data == nullptr || (key == nullptr && t.keyLen > 0))
        return FI_EINVAL;
    const auto* k = static_cast<const uint8_t*>(key);
    uint8_t* bucket = t.BucketOf(k);
    uint8_t* e = nullptr;
    const int32_t rc = t.Find(bucket, k, &e);
    if (rc == FI_OK) {
        *data = e + kEntryHeader;
        return FI_EKEY_EXISTS;
    }
    if (rc != FI_ENOTFOUND)
        return rc;
    e = GetPtr(t.b + kFreeHead);
    if (e == nullptr)
        return FI_ENOSPACE;
    if (!t.IsEntry(e) || t.IsUsed(e))
        return FI_EINVAL;
    uint8_t* nextFree = GetPtr(e + eNextUsed);
    uint8_t* used = GetPtr(t.b + kUsedHead);
    uint8_t* chain = GetPtr(bucket);
    if ((nextFree != nullptr && !t.IsEntry(nextFree)) || (used != nullptr && !t.IsUsed(used)) ||
        (chain != nullptr && !t.IsUsed(chain)))
        return FI_EINVAL;
    PutPtr(t.b + kFreeHead, nextFree);
    PutPtr(e + eNextBucket, chain);
    PutPtr(e + ePrevBucket, nullptr);
    if (chain != nullptr)
        PutPtr(chain + ePrevBucket, e);
    PutPtr(bucket, e);
    PutPtr(e + eBucket, bucket);
    PutPtr(e + eKey, key);
    PutPtr(e + eNextUsed, used);
    PutPtr(e + ePrevUsed, nullptr);
    if (used != nullptr)
        PutPtr(used + ePrevUsed, e);
    PutPtr(t.b + kUsedHead, e);
    *data = e + kEntryHeader;
    return FI_ENOTAVAIL;
}

void* FhSearch(void* table, const void* key)
{
    Table t;
    if (!t.Load(table) || (key == nullptr && t.keyLen > 0))
        return nullptr;
    const auto* k = static_cast<const uint8_t*>(key);
    uint8_t* e = nullptr;
    return t.Find(t.BucketOf(k), k, &e) == FI_OK ? e + kEntryHeader : nullptr;
}

int32_t FhRemove(void* table, void* data)
{
    Table t;
    if (!t.Load(table) || data == nullptr)
        return FI_EINVAL;
    uint8_t* e = static_cast<uint8_t*>(data) - kEntryHeader;
    if (!t.IsUsed(e))
        return FI_EINVAL;
    uint8_t* bucket = GetPtr(e + eBucket);
    uint8_t* nb = GetPtr(e + eNextBucket);
    uint8_t* pb = GetPtr(e + ePrevBucket);
    uint8_t* nu = GetPtr(e + eNextUsed);
    uint8_t* pu = GetPtr(e + ePrevUsed);
    const auto bucketAt = reinterpret_cast<uintptr_t>(bucket);
    const auto bucketsAt = reinterpret_cast<uintptr_t>(t.buckets);
    const bool ok = bucketAt >= bucketsAt && bucketAt < reinterpret_cast<uintptr_t>(t.entries) &&
                    (bucketAt - bucketsAt) % 8 == 0 &&
                    (pb == nullptr ? GetPtr(bucket) == e : t.IsUsed(pb) && GetPtr(pb + eNextBucket) == e) &&
                    (nb == nullptr || (t.IsUsed(nb) && GetPtr(nb + ePrevBucket) == e)) &&
                    (pu == nullptr ? GetPtr(t.b + kUsedHead) == e : t.IsUsed(pu) && GetPtr(pu + eNextUsed) == e) &&
                    (nu == nullptr || (t.IsUsed(nu) && GetPtr(nu + ePrevUsed) == e));
    if (!ok)
        return FI_EINVAL;
    PutPtr(pb != nullptr ? pb + eNextBucket : bucket, nb);
    if (nb != nullptr)
        PutPtr(nb + ePrevBucket, pb);
    PutPtr(pu != nullptr ? pu + eNextUsed : t.b + kUsedHead, nu);
    if (nu != nullptr)
        PutPtr(nu + ePrevUsed, pu);
    std::memset(e, 0, kEntryHeader);
    PutPtr(e + eNextUsed, GetPtr(t.b + kFreeHead));
    PutPtr(t.b + kFreeHead, e);
    return FI_OK;
}

void* FhFirst(void* table)
{
    Table t;
    if (!t.Load(table))
        return nullptr;
    uint8_t* e = GetPtr(t.b + kUsedHead);
    return e != nullptr && t.IsUsed(e) ? e + kEntryHeader : nullptr;
}
