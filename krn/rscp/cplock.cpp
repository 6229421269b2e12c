// Locks of the converter cache (all through the hooks), the attach table, the
// folding of process-local statistics into the cache, and the state word with
// its history of the last seven states.
#include <cstring>

#include "krn/rscp/cpcache.h"

uint32_t h_ccc_state = 0;
rscpCcc_t* rscpmp = nullptr;

rscpStateEntry_t rscpCCCStateHistory[RSCP_STATE_HISTORY] = {
    {0, {'2', '0', '0', '0', '0', '1', '0', '1', '0', '0', '0', '0', '0', '0', '0', '0'}}};

namespace {

int32_t g_lastNotified = 0;
uint64_t g_events[RSCP_EVENTS] = {};

// The named 32-bit counters of the control record, in the order of the
// cache's totals; the converters' counters follow them.
uint32_t rscpCtlRecord_t::*const kStat32[] = {
    &rscpCtlRecord_t::cpLookups,     &rscpCtlRecord_t::activateHits,  &rscpCtlRecord_t::userCount,
    &rscpCtlRecord_t::tcp00Rows,     &rscpCtlRecord_t::tcp01Rows,     &rscpCtlRecord_t::tcp0dRows,
    &rscpCtlRecord_t::tcpdbRows,     &rscpCtlRecord_t::tcp0iRows,     &rscpCtlRecord_t::createObjects,
    &rscpCtlRecord_t::cloneToLegacy, &rscpCtlRecord_t::cloneLegacyTo, &rscpCtlRecord_t::cloneForRfc};
constexpr int kNamed = int(sizeof kStat32 / sizeof kStat32[0]);
static_assert(kNamed == RSCP_STAT32_NAMED, "the named counters, then one per cached converter");

template <typename T, typename U>
void Fold(T& total, U& local)
{
    if (local != 0) {
        total = static_cast<T>(total + local);
        local = 0;
    }
}

void LockInfo(const char* heading)
{
    rscph_HookTable.LockInfo(heading, 0, rscpe_call_output, rscpe_get_output_func(1), 3, nullptr);
}

}  // namespace

rscpCcc_t* rscpGetCCCAddress()
{
    return rscpmp;
}

int32_t rscpGetSema(int32_t location)
{
    return rscph_HookTable.GetSema(location, 0);
}

int32_t rscprs__release_sema(int32_t location)
{
    const int32_t rc = rscph_HookTable.ReleaseSema(location, 0);
    if (rc != 0)
        LockInfo("after failing rscprs__release_sema");
    return rc;
}

int32_t rscpGetSemaAndWritePermission(int32_t location)
{
    int32_t rc = rscph_HookTable.GetSema(location, 0);
    if (rc != 0)
        return rc;
    rc = rscph_HookTable.GetWritePermission(location, 0);
    if (rc != 0) {
        rscph_HookTable.ReleaseSema(location, 0);
        return rc;
    }
    rscpFlushStatistics();
    return 0;
}

int32_t rscpReleaseWritePermissionAndSema(int32_t location)
{
    const int32_t wp = rscph_HookTable.ReleaseWritePermission(location, 0);
    const int32_t sema = rscph_HookTable.ReleaseSema(location, 0);
    if (sema != 0) {
        LockInfo("after failing rscpReleaseWritePermissionAndSema");
        return sema;
    }
    return wp;
}

void rscpFlushStatistics()
{
    rscpCcc_t* c = rscpmp;
    rscpCtlRecord_t* ctl = rscph_HookTable.ctl;
    if (h_ccc_state != 2 || c == nullptr || ctl == nullptr)
        return;
    Fold(c->statBytesIn, ctl->bytesIn);
    Fold(c->statBytesOut, ctl->bytesOut);
    Fold(c->statEncodeCalls, ctl->encodeCalls);
    Fold(c->statEncodeBytes, ctl->encodeBytes);
    Fold(c->statFillSpace, ctl->fillSpace);
    Fold(c->statFillBytes, ctl->fillBytes);
    Fold(c->statTruncBytes, ctl->truncBytes);
    int i = 0;
    for (; i < kNamed; ++i)
        Fold(c->stat32[i], ctl->*kStat32[i]);
    for (int k = 0; k < RSCP_CONVERTERS; ++k, ++i)
        Fold(c->stat32[i], ctl->converterCalls[k]);
    for (int e = 0; e < RSCP_EVENTS; ++e)
        Fold(c->statEvents[e], ctl->events[e]);
}

void rscpNotifyStateChange(int32_t value)
{
    if (value == g_lastNotified)
        return;
    rscph_HookTable.StateNotify(value != 0 ? 1 : 0);
    g_lastNotified = value;
}

int32_t rscpGetNewICUObjectID(uint64_t* id)
{
    if (rscphTracing())
        rscph_HookTable.TraceEnter("rscpGetNewICUObjectID", -1, nullptr, 0, nullptr);
    int32_t rc = rscpGetSemaAndWritePermission(101);
    if (rc == 0) {
        if (rscpmp != nullptr) {
            ++rscpmp->icuObjectId;
            if (id != nullptr)
                *id = rscpmp->icuObjectId;
        }
        rc = rscpReleaseWritePermissionAndSema(102);
    }
    if (rscphTracing())
        rscph_HookTable.TraceExit(rc, nullptr, 0, nullptr);
    return rc;
}

void rscpra__register_attach_address(int32_t mode, uint8_t allow, uint32_t* state)
{
    rscpCcc_t* c = rscpmp;
    if (c == nullptr)
        return;
    const uint64_t self = reinterpret_cast<uintptr_t>(c);
    int slot = -1;
    for (int i = 0; i < RSCP_ATTACH_SLOTS; ++i) {
        if (c->attach[i] == self)
            return;
        if (c->attach[i] == 0) {
            slot = i;
            break;
        }
    }
    if (slot < 0)
        return;
    if (mode == 1) {
        if (allow == 0 || rscph_HookTable.GetWritePermission(122, 0) != 0)
            return;
        c->attach[slot] = self;
        if (state != nullptr)
            *state = 2;
        rscpFlushStatistics();
    } else if (mode == 2) {
        c->attach[slot] = self;
        if (state != nullptr)
            *state = 2;
    } else {
        if (allow == 0 || rscpGetSemaAndWritePermission(123) != 0)
            return;
        c->attach[slot] = self;
        if (state != nullptr)
            *state = 2;
    }
}

void rscpSetCCCState(int32_t state)
{
    std::memmove(&rscpCCCStateHistory[1], &rscpCCCStateHistory[0], sizeof(rscpStateEntry_t) * (RSCP_STATE_HISTORY - 1));
    rscpCCCStateHistory[0].state = state;
    rscph_HookTable.Timestamp(rscpCCCStateHistory[0].timestamp);
    h_ccc_state = static_cast<uint32_t>(state);
}

rscpCtlRecord_t* rscpCountEvent(int32_t event)
{
    rscpCtlRecord_t* ctl = rscph_HookTable.ctl;
    if (event >= 0 && event < RSCP_EVENTS) {
        ++g_events[event];
        ++ctl->events[event];
        ++ctl->eventTotals[event];
    }
    return ctl;
}

uint64_t* rscpEventsSinceStatistic()
{
    return g_events;
}
