// Ft free tables: fixed-size entries in a caller block, chained into a used
// and a free list by offsets, laid out once and rebuilt by one pass.
#include <climits>
#include <cstdint>
#include <cstring>

#include "si/fipriv.h"

namespace {

using fi::Get32;
using fi::Put32;

constexpr int32_t kFirstData = 48;
constexpr int32_t kFirstDataField = 36;
constexpr int32_t kNotListed = 2;  // state of an entry in neither list

int64_t Stride(int64_t entrySize)
{
    return fi::Round8(entrySize + 8);
}

// Number and stride of a table whose header can be right.
bool Header(const uint8_t* b, int32_t* number, int32_t* stride)
{
    if (b == nullptr || reinterpret_cast<uintptr_t>(b) % 8 != 0)
        return false;
    *number = Get32(b + FT_OFF_NUMBER);
    *stride = Get32(b + FT_OFF_STRIDE);
    return *number >= 1 && *stride >= 8 && *stride % 8 == 0 &&
           FT_FIRST_ENTRY + int64_t{*number} * *stride <= INT32_MAX && Get32(b + kFirstDataField) == kFirstData;
}

// One pass in address order; state(entry) is 1 for in use, 0 for free and
// kNotListed for an entry that stays out of both lists.
template <class State>
int32_t Rebuild(void* table, State state)
{
    auto* b = static_cast<uint8_t*>(table);
    int32_t number = 0;
    int32_t stride = 0;
    if (!Header(b, &number, &stride))
        return FI_EINVAL;
    int32_t used = 0;
    int32_t freeHead = 0;
    int32_t freeTail = 0;
    for (int32_t i = 0; i < number; ++i) {
        const int32_t e = FT_FIRST_ENTRY + i * stride;
        const int s = state(e);
        if (s == 1) {
            Put32(b + e, 0);
            Put32(b + e + 4, used);
            if (used != 0)
                Put32(b + used, e);
            used = e;
        } else if (s == 0) {
            Put32(b + e, FT_FREE_MARK);
            Put32(b + e + 4, 0);
            if (freeTail != 0)
                Put32(b + freeTail + 4, e);
            else
                freeHead = e;
            freeTail = e;
        }
    }
    Put32(b + FT_OFF_USED, used);
    Put32(b + FT_OFF_FREE, freeHead);
    return FI_OK;
}

}  // namespace

size_t FtCalcSize(int32_t /*ignored*/, int32_t number, int32_t entrySize)
{
    if (number < 0 || entrySize < 0)
        return 0;
    return static_cast<size_t>(FT_FIRST_ENTRY + int64_t{number} * Stride(entrySize));
}

int32_t FtInit(void* block, const char* name, uint32_t flags, int32_t number, int32_t entrySize, void** outBlock)
{
    auto* b = static_cast<uint8_t*>(block);
    if (number < 1 || entrySize < 0 || b == nullptr || reinterpret_cast<uintptr_t>(b) % 8 != 0)
        return FI_EINVAL;
    if (outBlock != nullptr)
        *outBlock = block;
    uint8_t padded[fi::kNameLen];
    fi::PadName(name, padded);
    if (std::memcmp(b, padded, fi::kNameLen) == 0)
        return FI_EEXISTS;
    if ((flags & FT_FLAG_ATTACH) != 0)
        return FI_ENOTFOUND;
    const int64_t stride = Stride(entrySize);
    // Checked before anything is written, so that a table that cannot exist
    // never carries a name.
    if (FT_FIRST_ENTRY + number * stride > INT32_MAX)
        return FI_ENOSPACE;
    std::memcpy(b, padded, fi::kNameLen);
    Put32(b + FT_OFF_NUMBER, number);
    Put32(b + FT_OFF_STRIDE, static_cast<int32_t>(stride));
    Put32(b + FT_OFF_USED, 0);
    Put32(b + FT_OFF_FREE, FT_FIRST_ENTRY);
    Put32(b + 32, 0);
    Put32(b + kFirstDataField, kFirstData);
    for (int32_t i = 0; i < number; ++i) {
        const int32_t e = FT_FIRST_ENTRY + i * static_cast<int32_t>(stride);
        Put32(b + e, FT_FREE_MARK);
        Put32(b + e + 4, i + 1 < number ? e + static_cast<int32_t>(stride) : 0);
    }
    return FI_OK;
}

int32_t FtRebuild(void* table, FtInUseFunc inUse)
{
    if (inUse == nullptr)
        return FI_EINVAL;
    auto* b = static_cast<uint8_t*>(table);
    return Rebuild(table, [&](int32_t e) { return inUse(b + e + 8) != 0 ? 1 : 0; });
}

int32_t FtRebuildWithArg(void* table, FtInUseArgFunc inUse, void* arg)
{
    if (inUse == nullptr)
        return FI_EINVAL;
    auto* b = static_cast<uint8_t*>(table);
    return Rebuild(table, [&](int32_t e) { return inUse(b + e + 8, arg) != 0 ? 1 : 0; });
}

int32_t FtRebuildByState(void* table)
{
    auto* b = static_cast<uint8_t*>(table);
    return Rebuild(table, [&](int32_t e) {
        if (Get32(b + e) != FT_FREE_MARK)
            return 1;
        return Get32(b + e + 4) != FT_FREE_MARK ? 0 : kNotListed;
    });
}
