// The handle table: 500 slots for handles 300..799.  Slots 0 and 1 (handles
// 300 and 301) are fixed for the plain entry points; the others are handed out
// by a free-slot search and released by a rule that keeps the work areas of
// busy slots for reuse.
#include <algorithm>
#include <cstdlib>
#include <mutex>
#include <new>

#include "cslib/cslib.h"
#include "cslib/cswork.h"
#include "cslib/cstrace.h"
#include "cslib/huff.h"
#include "cslib/lzw.h"

namespace {

struct Slot {
    CsWorkArea* area;
    int32_t inUse;
    uint32_t useCount;
    int32_t descriptor;
};

Slot g_slots[CS_HANDLE_COUNT];
int32_t g_totalUse = 0;
// Taking and releasing handles may come from any thread.  Recursive: ending
// a stream releases the handle of its early check.
std::recursive_mutex g_tableLock;

// The total wraps like the 32-bit counter it is; the free-slot search resets
// all counts once it has turned negative.
void CountUse(Slot& slot)
{
    ++slot.useCount;
    g_totalUse = static_cast<int32_t>(static_cast<uint32_t>(g_totalUse) + 1u);
}

constexpr size_t kAreaHead = (sizeof(CsWorkArea) + 63) & ~size_t{63};

size_t CodecSize()
{
    static const size_t size = std::max(
        {sizeof(LzwComprState), sizeof(LzwDecomprState), CsHuffComprStateSize(), CsHuffDecomprStateSize()});
    return size;
}

// One allocation serves either codec: the bookkeeping, then the codec state.
CsWorkArea* NewArea()
{
    void* mem = std::aligned_alloc(64, kAreaHead + ((CodecSize() + 63) & ~size_t{63}));
    if (mem == nullptr)
        return nullptr;
    auto* wa = new (mem) CsWorkArea{};
    wa->codec = static_cast<uint8_t*>(mem) + kAreaHead;
    wa->checkHandle = 0;
    wa->presetPreamble = -1;
    return wa;
}

void FreeArea(CsWorkArea* wa)
{
    CsEndStream(wa);
    std::free(wa);
}

void ReleaseSlot(int s)
{
    Slot& slot = g_slots[s];
    if (slot.area != nullptr)
        CsEndStream(slot.area);
    if (s < 2 || slot.area == nullptr) {
        slot.inUse = 0;
        return;
    }
    const bool keep = g_slots[s - 1].area != nullptr && slot.useCount > 9 &&
                      (g_totalUse <= 256 || slot.useCount >= static_cast<uint32_t>(g_totalUse >> 7));
    if (!keep) {
        FreeArea(slot.area);
        slot.area = nullptr;
    }
    slot.inUse = 0;
}

}  // namespace

void CsEndStream(CsWorkArea* wa)
{
    if (wa == nullptr)
        return;
    CsCrcFree(wa->crcU);
    CsCrcFree(wa->crcC);
    wa->crcU = nullptr;
    wa->crcC = nullptr;
    std::free(wa->blockBuf);
    wa->blockBuf = nullptr;
    wa->blockFill = 0;
    wa->blockOff = 0;
    const int check = wa->checkHandle;
    wa->checkHandle = 0;
    if (check > 0)
        CsReleaseHandle(check);
}

CsWorkArea* CsEnterStep(int handle, const char* who, int32_t running, bool first, int32_t*& read, int32_t*& written,
                        int32_t (&spare)[2], int* result)
{
    if (read == nullptr)
        read = &spare[0];
    if (written == nullptr)
        written = &spare[1];
    *read = 0;
    *written = 0;
    CsWorkArea* wa = CsAreaOf(handle);
    if (wa == nullptr) {
        CS_PRINT("\nERROR: %s: invalid handle", who);
        *result = CS_E_INVALID_HANDLE;
        return nullptr;
    }
    if (first) {
        CsEndStream(wa);
        wa->stream = CS_STREAM_NONE;
    } else if (wa->stream == CS_STREAM_ENDED) {
        *result = CS_END_OF_STREAM;
        return nullptr;
    } else if (wa->stream != running) {
        CS_PRINT("\nERROR: %s: internal buffer is not initialised", who);
        *result = CS_E_NOT_INIT;
        return nullptr;
    }
    return wa;
}

void CsStartStream(CsWorkArea* wa, int handle, int32_t descriptor, int32_t running)
{
    CsDescriptorOf(handle) = descriptor;
    wa->lastRc = 0;
    wa->stalls = 0;
    wa->stream = running;
}

int CsContinueDetailed(CsWorkArea* wa, const char* who, bool segmented)
{
    if (segmented && (wa->crcU == nullptr || wa->crcC == nullptr || wa->blockBuf == nullptr)) {
        CS_PRINT("\nERROR: %s: internal buffer is not initialised", who);
        return CS_E_NOT_INIT;
    }
    if (wa->crcU == nullptr)
        wa->crcU = CsCrcNew(65536);
    if (wa->crcC == nullptr)
        wa->crcC = CsCrcNew(1024);
    return wa->crcU == nullptr || wa->crcC == nullptr ? CS_E_NO_MEMORY : 0;
}

int CsFinishStep(CsWorkArea* wa, const char* who, bool first, int rc, int32_t read, int32_t written, bool keepPending)
{
    if (!first && rc >= 0 && rc != CS_END_OF_STREAM && read == 0 && written == 0) {
        const bool again = wa->stalls > 0 || (rc == CS_END_INBUFFER && wa->lastRc == CS_END_INBUFFER);
        ++wa->stalls;
        if (again && rc == CS_END_OUTBUFFER) {
            CS_PRINT("\nERROR: %s: Expect out buffer but not provided.", who);
            rc = CS_E_OUT_EXPECTED;
        } else if (again) {
            CS_PRINT("\nERROR: %s: Expect input but not provided.", who);
            rc = CS_E_IN_EXPECTED;
        }
    } else {
        wa->stalls = 0;
    }

    wa->lastRc = rc;
    if (rc < 0) {
        CsEndStream(wa);
        wa->stream = CS_STREAM_NONE;
    } else if (rc == CS_END_OF_STREAM && !keepPending) {
        CsEndStream(wa);
        wa->stream = CS_STREAM_ENDED;
    }
    return rc;
}

CsWorkArea* CsAreaOf(int handle)
{
    if (handle < CS_HANDLE_BASE || handle >= CS_HANDLE_BASE + CS_HANDLE_COUNT)
        return nullptr;
    const Slot& slot = g_slots[handle - CS_HANDLE_BASE];
    return slot.inUse ? slot.area : nullptr;
}

CsWorkArea* CsSlotArea(int handle)
{
    if (handle < CS_HANDLE_BASE || handle >= CS_HANDLE_BASE + CS_HANDLE_COUNT)
        return nullptr;
    return g_slots[handle - CS_HANDLE_BASE].area;
}

int32_t& CsDescriptorOf(int handle)
{
    return g_slots[handle - CS_HANDLE_BASE].descriptor;
}

int CsOpenFixedHandle(int handle)
{
    std::lock_guard<std::recursive_mutex> lock(g_tableLock);
    Slot& slot = g_slots[handle - CS_HANDLE_BASE];
    if (slot.inUse)
        return 0;
    CountUse(slot);
    slot.inUse = 1;
    if (slot.area != nullptr)
        return 0;
    slot.area = NewArea();
    if (slot.area == nullptr) {
        slot.inUse = 0;
        return CS_E_NO_MEMORY;
    }
    return 1;
}

int CsGetHandle(int* handle)
{
    std::lock_guard<std::recursive_mutex> lock(g_tableLock);
    int s = 2;
    while (s < CS_HANDLE_COUNT && g_slots[s].inUse)
        ++s;
    if (s == CS_HANDLE_COUNT) {
        if (handle != nullptr)
            *handle = CS_E_NO_HANDLE;
        return CS_E_NO_HANDLE;
    }
    Slot& slot = g_slots[s];
    slot.inUse = 1;
    if (slot.area == nullptr) {
        slot.area = NewArea();
        if (slot.area == nullptr) {
            slot.inUse = 0;
            return CS_E_NO_MEMORY;
        }
    }
    if (g_totalUse < 0) {
        g_totalUse = 0;
        for (Slot& other : g_slots)
            other.useCount = 0;
    }
    CountUse(slot);
    slot.area->stream = CS_STREAM_NONE;
    if (handle != nullptr)
        *handle = s + CS_HANDLE_BASE;
    return 0;
}

void CsReleaseHandle(int handle)
{
    if (handle < CS_HANDLE_BASE || handle >= CS_HANDLE_BASE + CS_HANDLE_COUNT)
        return;
    std::lock_guard<std::recursive_mutex> lock(g_tableLock);
    ReleaseSlot(handle - CS_HANDLE_BASE);
}

void CsReleaseAll()
{
    std::lock_guard<std::recursive_mutex> lock(g_tableLock);
    for (int s = 2; s < CS_HANDLE_COUNT; ++s)
        ReleaseSlot(s);
}

int CsIsValidHandle(int handle)
{
    return CsAreaOf(handle) != nullptr ? 1 : 0;
}
