// The Fi index a select set keeps over one of its tables: a block named
// "SISEL" with one index of 4-byte descriptor keys.
#include <cstdlib>
#include <cstring>

#include "si/sipriv.h"
#include "si/siselimpl.h"

namespace {

constexpr uint32_t kIndexNo = 1;
constexpr int32_t kKeyLen = 4;
constexpr uint8_t kWildA = 42;
constexpr uint8_t kWildB = 45;

// Opens the index in the block, over the table at base.
int32_t OpenIndex(SISEL_FI* fi, const char* module, const char* name, const void* base)
{
    const int32_t rc = FiOpenIndex(fi->fiBlock, kIndexNo, 0, base, kKeyLen, &fi->fiIndex);
    if (rc != FI_OK) {
        fi->fiIndex = nullptr;
        SI_TRACE(module, 1, SiTrc::Err, "%s: FiOpenIndex failed (rc=%d)\n", name, rc);
        return SI_EINTERN;
    }
    return SI_OK;
}

// Sizes, lays out and opens the index for maxEntries descriptors whose keys
// and values lie in the table at base; trace lines carry the set's name.
int32_t SiSelFiOpen(SISEL_FI* fi, const char* module, const char* name, uint32_t maxEntries, const void* base)
{
    const auto keys = static_cast<int32_t>(maxEntries);
    const uint32_t size = FiCalcSize(1, keys, kKeyLen, FI_FLAG_ALL_NODES);
    SI_TRACE(module, 3, SiTrc::Plain, "%s: allocate %u bytes for FI (%u)\n", name, size, maxEntries);
    fi->fiMemory = size == 0 ? nullptr : static_cast<uint8_t*>(std::malloc(size));
    if (fi->fiMemory == nullptr) {
        SI_TRACE(module, 1, SiTrc::Err, "%s: failed to allocate KOV_RAW[%u]\n", name, size);
        return SI_EMEMORY;
    }
    std::memset(fi->fiMemory, 0, 16);
    int32_t rc = FiInit(fi->fiMemory, "SISEL", FI_FLAG_ALL_NODES, 1, keys, kKeyLen, kWildA, kWildB, &fi->fiBlock);
    if (rc != FI_OK) {
        SI_TRACE(module, 1, SiTrc::Err, "%s: FiInit failed (rc=%d)\n", name, rc);
        return SI_EINTERN;
    }
    return OpenIndex(fi, module, name, base);
}

// Empties the index by closing and opening it again.
int32_t SiSelFiReopen(SISEL_FI* fi, const char* module, const char* name, const void* base)
{
    if (fi->fiIndex != nullptr) {
        const int32_t rc = FiCloseIndex(fi->fiIndex);
        if (rc != FI_OK) {
            SI_TRACE(module, 1, SiTrc::Err, "%s: FiCloseIndex failed (rc=%d)\n", name, rc);
            return SI_EINTERN;
        }
        fi->fiIndex = nullptr;
    }
    return OpenIndex(fi, module, name, base);
}

}  // namespace

void SiSelFiClose(SISEL_FI* fi, const char* module, const char* name)
{
    if (fi->fiIndex != nullptr) {
        const int32_t rc = FiCloseIndex(fi->fiIndex);
        if (rc != FI_OK) {
            SI_TRACE(module, 1, SiTrc::Err, "%s: FiCloseIndex failed (rc=%d)\n", name, rc);
            FiFreeHandle(fi->fiIndex);  // the handle goes back to the pool either way
        }
    }
    if (fi->fiBlock != nullptr)
        FiExit(fi->fiBlock);
    std::free(fi->fiMemory);
    *fi = SISEL_FI{};
}

const void* SiSelFiFind(const SISEL_FI& fi, int32_t fd, int32_t* leaf)
{
    if (fi.fiIndex == nullptr || FiSearch(fi.fiIndex, &fd, leaf) != FI_OK)
        return nullptr;
    return FiLeafValue(fi.fiIndex, *leaf);
}

int32_t SiSelOpenTable(SISEL_FI* fi, const char* module, const char* name, uint32_t maxEntries, const void* keyTable,
                       SISEL_SPEC::CB_FUNCS* cb)
{
    if (keyTable == nullptr)
        return SI_EMEMORY;
    const int32_t rc = SiSelFiOpen(fi, module, name, maxEntries, keyTable);
    if (rc != SI_OK)
        return rc;
    if (cb != nullptr)
        cb->CreateMsg(maxEntries, 0);
    return SI_OK;
}

int32_t SiSelFiRemove(const SISEL_FI& fi, const char* module, const char* name, int32_t leaf)
{
    const int32_t rc = FiRemove(fi.fiIndex, leaf);
    if (rc == FI_OK)
        return SI_OK;
    SI_TRACE(module, 1, SiTrc::Err, "%s: FiRemove failed (rc=%d)\n", name, rc);
    return SI_EINTERN;
}

int32_t SiSelFiEmpty(SISEL_FI* fi, const char* module, const char* name, void* base, size_t bytes)
{
    if (bytes > 0)
        std::memset(base, 0, bytes);
    const int32_t rc = SiSelFiReopen(fi, module, name, base);
    if (rc != SI_OK)
        return rc;
    SI_TRACE(module, 3, SiTrc::Plain, "%s: removed all sockets\n", name);
    return SI_OK;
}
