// Table blocks of the converter cache: allocation from the lower, upper and
// cache07 areas, copies, the save point and its rollback, the marks of blocks
// created by the current load, and navigation through T1 and T2 entries; the
// Shift-Out/Shift-In table and the cache07 store of the cache header.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "krn/rscp/cpcacheint.h"
#include "krn/rscp/cptable.h"
#include "nls/kovstr.h"

namespace {

const char kModule[] = "@(#) $Id: rscpml#1 $";

char* Base()
{
    return reinterpret_cast<char*>(rscpmp);
}

int64_t g_budget = -1;

// The test seam: false once the allocation budget is spent.
bool Spend()
{
    if (g_budget == 0)
        return false;
    if (g_budget > 0)
        --g_budget;
    return true;
}

uint32_t CacheSizeTooSmall(int32_t line)
{
    rscpCcc_t* c = rscpmp;
    if (c->overflow == 0)
        c->overflow = 1;
    char arg[40];
    snprintfR(arg, sizeof arg, "cachesize&%ld&?&", static_cast<long>(c->length));
    return rscpe__error(RSCPETOOLONG, 'C', RSCP_ALL_ERRORS, kModule, 1, line, "KOVPARAM(rsts/ccc/cachesize) too small",
                        "F1A", arg, -1, nullptr, 0);
}

// ---- marks ----------------------------------------------------------------------

inline constexpr uint8_t kMarkT1 = 1, kMarkT3 = 2;
uint8_t* g_marks = nullptr;
uint32_t g_markLimit = 0;

void Mark(uint32_t block, uint8_t bit)
{
    if (g_marks != nullptr && block < g_markLimit)
        g_marks[block] |= bit;
}
bool Marked(uint32_t block, uint8_t bit)
{
    return g_marks != nullptr && block < g_markLimit && (g_marks[block] & bit);
}
void Unmark(uint32_t from, uint32_t to, uint8_t bit)
{
    for (uint32_t b = from; g_marks != nullptr && b < to && b < g_markLimit; ++b)
        g_marks[b] &= static_cast<uint8_t>(~bit);
}

// ---- save point -------------------------------------------------------------------

struct SavePoint {
    const rscpCcc_t* cache = nullptr;
    uint32_t generation = 0;
    uint32_t low = 0, high = 0, top7 = 0, frag = 0, freed = 0, overflow = 0;
    uint16_t t1 = 0, t2 = 0, t3 = 0;
    uint16_t soSiCount = 0;
    rscpSoSi_t soSi[RSCP_SOSI_MAX] = {};
    uint32_t ruleInfoCount = 0;
    rscpRuleInfo_t ruleInfo[RSCP_RULEINFO_SLOTS] = {};
    rscpCpInfo_t* row = nullptr;
    rscpCpInfo_t rowCopy = {};
};
SavePoint g_save;

bool SaveValid()
{
    return g_save.cache != nullptr && g_save.cache == rscpmp && g_save.generation == rscpmp->reorgVersion;
}

void Zero(uint32_t from, uint32_t to)
{
    if (to > from)
        std::memset(Base() + from, 0, to - from);
}

// A block number that lies inside the lower area.
bool InLowerArea(uint64_t offset, uint32_t size)
{
    const rscpCcc_t* c = rscpmp;
    return offset >= c->firstT1 && offset + size <= c->endT1;
}

}  // namespace

// ---- layout ---------------------------------------------------------------------

uint32_t* rscpmlT1(uint32_t block)
{
    return reinterpret_cast<uint32_t*>(Base() + uint64_t(block) * RSCP_T1_BYTES);
}
uint16_t* rscpmlT2(uint32_t offset)
{
    return reinterpret_cast<uint16_t*>(Base() + offset);
}
uint32_t* rscpmlT3(uint32_t block)
{
    return reinterpret_cast<uint32_t*>(Base() + uint64_t(block) * RSCP_T3_BYTES);
}

uint32_t rscpmlT2Size()
{
    const uint64_t entries = (uint64_t(rscpmp->maxKovChar) + 127) / 128;
    return static_cast<uint32_t>((entries * 4 + 7) & ~uint64_t(7));
}

void rscpmlSetAllocationBudget(int64_t allocations)
{
    g_budget = allocations < 0 ? -1 : allocations;
}

// ---- allocation -------------------------------------------------------------------

uint32_t rscpmlAllocT1(uint32_t* block)
{
    rscpCcc_t* c = rscpmp;
    *block = 0;
    const uint64_t end = uint64_t(c->endT1) + RSCP_T1_BYTES;
    if (end > c->firstT2 || c->endT1 / RSCP_T1_BYTES > 0xFFFF || !Spend())
        return CacheSizeTooSmall(__LINE__);
    *block = c->endT1 / RSCP_T1_BYTES;
    c->endT1 = static_cast<uint32_t>(end);
    ++c->noofT1;
    Mark(*block, kMarkT1);
    return 0;
}

uint32_t rscpmlAllocT2(uint32_t* offset)
{
    rscpCcc_t* c = rscpmp;
    *offset = 0;
    const uint32_t size = rscpmlT2Size();
    if (c->firstT2 < c->endT1 || size >= c->firstT2 - c->endT1 || ((c->firstT2 - size) & ~7u) < c->endT1 || !Spend())
        return CacheSizeTooSmall(__LINE__);
    c->firstT2 = (c->firstT2 - size) & ~7u;
    ++c->noofT2;
    *offset = c->firstT2;
    return 0;
}

uint32_t rscpmlAllocT3(uint32_t* block)
{
    rscpCcc_t* c = rscpmp;
    *block = 0;
    if (c->fragT3 != 0) {
        *block = c->fragT3;
        c->fragT3 = 0;
    } else if (c->freeT3 != 0) {
        *block = c->freeT3;
        c->freeT3 = 0;
    } else {
        if (uint64_t(c->endT1) + RSCP_T1_BYTES > c->firstT2 || !Spend()) {
            c->overflow = std::max<uint32_t>(c->overflow, 1);
            return RSCPETOOLONG;
        }
        *block = c->endT1 / RSCP_T3_BYTES;
        c->fragT3 = *block + 1;
        c->endT1 += RSCP_T1_BYTES;
    }
    ++c->noofT3;
    Mark(*block, kMarkT3);
    return 0;
}

uint32_t rscpmlAllocT1Now()
{
    uint32_t block = 0;
    if (rscpmlAllocT1(&block) != 0) {
        rscprb__rollback_allocation(nullptr, "immediate overflow");
        return 0;
    }
    return block;
}

uint32_t rscpmlAllocT2Now()
{
    uint32_t offset = 0;
    if (rscpmlAllocT2(&offset) != 0) {
        rscprb__rollback_allocation(nullptr, "immediate overflow");
        return 0;
    }
    return offset;
}

uint32_t rscpct1__copy_t1(uint32_t block)
{
    const uint32_t copy = rscpmlAllocT1Now();
    if (copy != 0)
        std::memcpy(rscpmlT1(copy), rscpmlT1(block), RSCP_T1_BYTES);
    return copy;
}

uint32_t rscpmlCopyT2(uint32_t offset)
{
    const uint32_t copy = rscpmlAllocT2Now();
    if (copy != 0)
        std::memcpy(rscpmlT2(copy), rscpmlT2(offset), rscpmlT2Size());
    return copy;
}

uint32_t rscpmlCopyT3(uint32_t block)
{
    uint32_t copy = 0;
    if (rscpmlAllocT3(&copy) != 0)
        return 0;
    std::memcpy(rscpmlT3(copy), rscpmlT3(block), RSCP_T3_BYTES);
    return copy;
}

uint32_t rscpmlT1FromEntry(uint32_t entry, uint32_t length)
{
    const uint32_t block = rscpmlAllocT1Now();
    if (block == 0)
        return 0;
    if (rscpT1Length(entry) == 0)
        entry |= std::min<uint32_t>(length, 31) << 24;
    uint32_t* w = rscpmlT1(block);
    std::fill(w, w + 257, entry);
    // A character's code ends where the new block begins.
    if (rscpT1Kind(entry) == RSCP_T1_CHAR)
        w[257] = entry;
    return block;
}

uint32_t rscpmlMoveT1(uint32_t block)
{
    const uint32_t moved = rscpmlAllocT1Now();
    if (moved == 0)
        return 0;
    std::memcpy(rscpmlT1(moved), rscpmlT1(block), RSCP_T1_BYTES);
    std::memset(rscpmlT1(block), 0, RSCP_T1_BYTES);
    rscpmlT1(block)[0] = rscpT1NextWord(moved);
    return moved;
}

uint32_t rscpmlTakeCache07(uint32_t length, uint32_t align)
{
    rscpCcc_t* c = rscpmp;
    if (c->firstT7 < length || align == 0)
        return 0;
    const uint32_t top = (c->firstT7 - length) / align * align;
    if (top < c->endT2 || top == 0 || !Spend())
        return 0;
    c->firstT7 = top;
    return top;
}

// ---- save point and rollback ------------------------------------------------------------

void rscpsp__save_point(const rscpCpInfo_t* row)
{
    const rscpCcc_t* c = rscpmp;
    g_save.cache = c;
    g_save.generation = c->reorgVersion;
    g_save.low = c->endT1;
    g_save.high = c->firstT2;
    g_save.top7 = c->firstT7;
    g_save.frag = c->fragT3;
    g_save.freed = c->freeT3;
    g_save.overflow = c->overflow;
    g_save.t1 = c->noofT1;
    g_save.t2 = c->noofT2;
    g_save.t3 = c->noofT3;
    g_save.soSiCount = c->soSiCount;
    std::memcpy(g_save.soSi, c->soSi, sizeof g_save.soSi);
    g_save.ruleInfoCount = c->ruleInfoCount;
    std::memcpy(g_save.ruleInfo, c->ruleInfo, sizeof g_save.ruleInfo);
    g_save.row = const_cast<rscpCpInfo_t*>(row);
    if (row != nullptr)
        g_save.rowCopy = *row;
}

void rscprb__rollback_allocation(rscpCpInfo_t*, const char*)
{
    if (!SaveValid())
        return;
    rscpCcc_t* c = rscpmp;
    const SavePoint& s = g_save;
    // Marks of blocks that are given back.
    Unmark(s.low / RSCP_T1_BYTES, std::max(c->endT1, s.low) / RSCP_T1_BYTES, kMarkT1);
    Unmark(s.low / RSCP_T3_BYTES, std::max(c->endT1, s.low) / RSCP_T3_BYTES, kMarkT3);
    Zero(s.low, c->endT1);
    Zero(c->firstT2, s.high);
    Zero(c->firstT7, s.top7);
    // The spare half and the freed block were free at the save point.
    for (uint32_t block : {s.frag, s.freed})
        if (block != 0) {
            std::memset(rscpmlT3(block), 0, RSCP_T3_BYTES);
            Unmark(block, block + 1, kMarkT3);
        }
    c->endT1 = s.low;
    c->firstT2 = s.high;
    c->firstT7 = s.top7;
    c->fragT3 = s.frag;
    c->freeT3 = s.freed;
    c->noofT1 = s.t1;
    c->noofT2 = s.t2;
    c->noofT3 = s.t3;
    // A damage mark stays: the rollback does not mend an inconsistent table.
    if (c->overflow != 2)
        c->overflow = s.overflow;
    c->soSiCount = s.soSiCount;
    std::memcpy(c->soSi, s.soSi, sizeof c->soSi);
    c->ruleInfoCount = s.ruleInfoCount;
    std::memcpy(c->ruleInfo, s.ruleInfo, sizeof c->ruleInfo);
    if (s.row != nullptr)
        *s.row = s.rowCopy;
}

void rscpmlDeltas(uint32_t* t1, uint32_t* t2, uint32_t* t3)
{
    const rscpCcc_t* c = rscpmp;
    const bool valid = SaveValid();
    *t1 = valid ? static_cast<uint16_t>(c->noofT1 - g_save.t1) : 0;
    *t2 = valid ? static_cast<uint16_t>(c->noofT2 - g_save.t2) : 0;
    *t3 = valid ? static_cast<uint16_t>(c->noofT3 - g_save.t3) : 0;
}

// ---- marks ------------------------------------------------------------------------------

uint32_t rscpml__alloc_marks(uint32_t limit)
{
    rscpml__free_marks(g_markLimit);
    if (limit == 0)
        return 0;
    // Without memory the caller records the failure (RSCPENOMEM).
    void* p = rscph_HookTable.AllocMemory(0, 0, "RSCPML  ", limit, 0, 1);
    if (p == nullptr)
        return 1;
    g_marks = static_cast<uint8_t*>(p);
    g_markLimit = limit;
    return 0;
}

void rscpml__free_marks(uint32_t)
{
    if (g_marks != nullptr)
        rscph_HookTable.FreeMemory(0, g_marks, 254, 2);
    g_marks = nullptr;
    g_markLimit = 0;
}

void rscpml__mark_t1(uint32_t block)
{
    Mark(block, kMarkT1);
}
bool rscpml__marked_t1(uint32_t block)
{
    return Marked(block, kMarkT1);
}
void rscpml__mark_t3(uint32_t block)
{
    Mark(block, kMarkT3);
}
bool rscpml__marked_t3(uint32_t block)
{
    return Marked(block, kMarkT3);
}

// ---- navigation -------------------------------------------------------------------------

uint32_t rscpn1__next_t1(uint32_t* word, int32_t copyMode, uint32_t length)
{
    const uint32_t w = *word;
    if (copyMode != 0 && copyMode != 1)
        return w & 0xFFFF;
    const uint32_t kind = rscpT1Kind(w);
    if (kind == RSCP_T1_NEXT) {
        const uint32_t block = w & 0xFFFF;
        if (!InLowerArea(uint64_t(block) * RSCP_T1_BYTES, RSCP_T1_BYTES))
            return 0;
        if (copyMode == 0 || rscpml__marked_t1(block))
            return block;
    } else if (kind > RSCP_T1_RULE) {
        return 0;
    }
    // The word changes: in copy mode 1 only inside a block of this load.
    const uint32_t holder = static_cast<uint32_t>((reinterpret_cast<char*>(word) - Base()) / RSCP_T1_BYTES);
    if (copyMode == 1 && !rscpml__marked_t1(holder)) {
        std::fprintf(stderr, "*** Problem: rscpn1__next_t1 modifies T1 %d\n", static_cast<int>(holder));
        return 0;
    }
    uint32_t block = 0;
    if (kind == RSCP_T1_NEXT)
        block = rscpct1__copy_t1(w & 0xFFFF);
    else if (kind == RSCP_T1_EMPTY)
        block = rscpmlAllocT1Now();
    else
        block = rscpmlT1FromEntry(w, length);
    if (block != 0)
        *word = rscpT1NextWord(block);
    return block;
}

uint32_t rscpn3__next_t3(uint16_t* entry, int32_t copyMode)
{
    const uint16_t e = *entry;
    if (e == 0) {
        uint32_t block = 0;
        if (rscpmlAllocT3(&block) != 0 || block > 0x7FFF)
            return 0;
        *entry = static_cast<uint16_t>(0x8000u | block);
        return block;
    }
    if (rscpT2IsT3(e)) {
        const uint32_t block = e & 0x7FFFu;
        if (!InLowerArea(uint64_t(block) * RSCP_T3_BYTES, RSCP_T3_BYTES))
            return 0;
        if (copyMode != 1 || rscpml__marked_t3(block))
            return block;
        const uint32_t copy = rscpmlCopyT3(block);
        if (copy == 0 || copy > 0x7FFF)
            return 0;
        *entry = static_cast<uint16_t>(0x8000u | copy);
        return copy;
    }
    if (rscpT2IsRulePage(e))
        std::fprintf(stderr, "rscpn3__next_t3 navigating onto T2-rule %d\n", static_cast<int>(e & 0x7F));
    return 0;
}

// ---- header tables of the options unit ---------------------------------------------------

uint32_t rscpss__store_so_si(int32_t soLength, const uint8_t* so, int32_t siLength, const uint8_t* si)
{
    rscpCcc_t* c = rscpmp;
    char arg[64];
    if (soLength < 0 || siLength < 0 || soLength > 10 || siLength > 10) {
        snprintfR(arg, sizeof arg, "TCPSRULE&CPATTR*&?&%d/%d", static_cast<int>(soLength), static_cast<int>(siLength));
        return rscpe__error(RSCPEINTERN, 'C', RSCP_ALL_ERRORS, kModule, 3, __LINE__, "Shift-Out or Shift-In too long",
                            "CPU", arg, -1, nullptr, 0);
    }
    if (c->soSiCount >= RSCP_SOSI_MAX) {
        snprintfR(arg, sizeof arg, "More than %d distinct STRT/BACK sequences", RSCP_SOSI_MAX);
        return rscpe__error(RSCPETOOLONG, 'C', RSCP_ALL_ERRORS, kModule, 4, __LINE__,
                            "Too many distinct Shift-Out or Shift-In sequences", "CP6", arg, -1, nullptr, 0);
    }
    rscpSoSi_t& e = c->soSi[c->soSiCount];
    e = rscpSoSi_t{};
    e.soLen = static_cast<uint16_t>(soLength);
    e.siLen = static_cast<uint16_t>(siLength);
    if (soLength > 0)
        std::memcpy(e.so, so, static_cast<size_t>(soLength));
    if (siLength > 0)
        std::memcpy(e.si, si, static_cast<size_t>(siLength));
    ++c->soSiCount;
    return 0;
}

uint32_t rscpss_store_so_si_locked(int32_t soLength, const uint8_t* so, int32_t siLength, const uint8_t* si)
{
    const int32_t locked = rscpGetSemaAndWritePermission(86);
    if (locked != 0)
        return static_cast<uint32_t>(locked);
    const uint32_t rc = rscpss__store_so_si(soLength, so, siLength, si);
    const int32_t released = rscpReleaseWritePermissionAndSema(87);
    return released != 0 ? static_cast<uint32_t>(released) : rc;
}

uint32_t rscpsc__store_cache07(const void* bytes, int32_t length, uint32_t* offset, void** address)
{
    rscpCcc_t* c = rscpmp;
    const uint32_t top = length < 0 ? 0 : rscpmlTakeCache07(static_cast<uint32_t>(length), 8);
    if (top == 0) {
        if (offset != nullptr)
            *offset = 0;
        if (address != nullptr)
            *address = nullptr;
        char arg[40];
        snprintfR(arg, sizeof arg, "cache07&%ld&?&", static_cast<long>(c->endT7 - c->endT2));
        return rscpe__error(RSCPETOOLONG, 'C', RSCP_ALL_ERRORS, kModule, 5, __LINE__,
                            "KOVPARAM(rsts/ccc/cache07) small", "F1A", arg, -1, nullptr, 0);
    }
    if (length > 0)
        std::memcpy(Base() + top, bytes, static_cast<size_t>(length));
    if (offset != nullptr)
        *offset = top;
    if (address != nullptr)
        *address = Base() + top;
    return 0;
}
