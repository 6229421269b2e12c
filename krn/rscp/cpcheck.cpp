// Judging and describing the converter cache without changing it: the quality
// check of a built cache, the memory report, the state texts, the generation
// check of the cache queries, and small helpers of the status dump.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "krn/rscp/cpcacheint.h"
#include "krn/rscp/cptab.h"
#include "nls/kovstr.h"

namespace {

char g_what[] = "@(#) $Id: //krn/rscp/cpcheck.cpp#1 $ KOV, NOT thread safe: empty";

struct Report {
    rscpeSinkFunc errSink;
    rscpeOutputFunc errCtx;
    rscpeSinkFunc warnSink;
    rscpeOutputFunc warnCtx;
    uint32_t errors = 0;
    uint32_t warnings = 0;

    __attribute__((format(printf, 4, 0))) void Emit(rscpeSinkFunc sink, rscpeOutputFunc ctx, const char* fmt,
                                                    va_list ap)
    {
        char line[100];
        vsnprintfR(line, sizeof line, fmt, ap);
        if (sink != nullptr)
            sink(line, static_cast<int32_t>(strnlenR(line, sizeof line)), ctx);
    }
    void Error(const char* fmt, ...) __attribute__((format(printf, 2, 3)))
    {
        va_list ap;
        va_start(ap, fmt);
        Emit(errSink, errCtx, fmt, ap);
        va_end(ap);
        ++errors;
    }
    void Warning(const char* fmt, ...) __attribute__((format(printf, 2, 3)))
    {
        va_list ap;
        va_start(ap, fmt);
        Emit(warnSink, errCtx, fmt, ap);
        va_end(ap);
        ++warnings;
    }
    // The two warnings of a pending reorganisation go to the warning context.
    void Pending(const char* text)
    {
        if (warnSink != nullptr)
            warnSink(text, static_cast<int32_t>(std::strlen(text)), warnCtx);
        ++warnings;
    }
};

// Zero bytes in [p, p + n) by reading them.
uint64_t ScanZeros(const uint8_t* p, uint64_t n)
{
    uint64_t zeros = 0;
    uint64_t i = 0;
    for (; i + 8 <= n; i += 8) {
        uint64_t w;
        std::memcpy(&w, p + i, 8);
        if (w == 0) {
            zeros += 8;
        } else {
            for (int k = 0; k < 8; ++k)
                zeros += p[i + k] == 0;
        }
    }
    for (; i < n; ++i)
        zeros += p[i] == 0;
    return zeros;
}

// Zero bytes in [p, p + n).  In the library's own heap block a page that the
// kernel never populated (neither present nor swapped out) reads as zero, so
// it is counted without being touched; every other page is read.
uint64_t CountZeros(const uint8_t* p, uint64_t n, bool ownBlock)
{
    const long pageSize = sysconf(_SC_PAGESIZE);
    const uintptr_t start = reinterpret_cast<uintptr_t>(p);
    const uintptr_t firstPage = (start + pageSize - 1) / pageSize * pageSize;
    const uintptr_t endPage = (start + n) / pageSize * pageSize;
    int fd = -1;
    if (ownBlock && pageSize > 0 && endPage > firstPage)
        fd = open("/proc/self/pagemap", O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return ScanZeros(p, n);
    uint64_t zeros = ScanZeros(p, firstPage - start);
    uint64_t entries[512];
    for (uintptr_t page = firstPage; page < endPage;) {
        const uint64_t want = std::min<uint64_t>(512, (endPage - page) / pageSize);
        const off_t at = static_cast<off_t>(page / pageSize * sizeof(uint64_t));
        const ssize_t got = pread(fd, entries, want * sizeof(uint64_t), at);
        if (got < static_cast<ssize_t>(sizeof(uint64_t))) {
            zeros += ScanZeros(reinterpret_cast<const uint8_t*>(page), endPage - page);
            page = endPage;
            break;
        }
        const uint64_t count = static_cast<uint64_t>(got) / sizeof(uint64_t);
        for (uint64_t k = 0; k < count; ++k, page += pageSize) {
            const bool populated = (entries[k] >> 62) != 0;  // present or swapped
            zeros += populated ? ScanZeros(reinterpret_cast<const uint8_t*>(page), pageSize)
                               : static_cast<uint64_t>(pageSize);
        }
    }
    close(fd);
    return zeros + ScanZeros(reinterpret_cast<const uint8_t*>(endPage), start + n - endPage);
}

void CheckFreeArea(Report& r, const rscpCcc_t* c, uint32_t from, uint32_t to, int area)
{
    const uint64_t size = to - from;
    const uint64_t zeros = CountZeros(reinterpret_cast<const uint8_t*>(c) + from, size, rscphIsOwnBlock(c));
    if (zeros != size)
        r.Error("CCC: free area %d only %ld nulls in %ld bytes", area, static_cast<long>(zeros),
                static_cast<long>(size));
}

}  // namespace

int32_t rscpqc_quality_check(rscpeSinkFunc errSink, rscpeOutputFunc errCtx, rscpeSinkFunc warnSink,
                             rscpeOutputFunc warnCtx, int32_t, uint32_t* errors, uint32_t* warnings)
{
    if (rscphTracing())
        rscph_HookTable.TraceEnter("rscpqc_quality_check", -1, nullptr, 0, nullptr);
    Report r{errSink, errCtx, warnSink, warnCtx};
    const rscpCcc_t* c = rscpmp;
    int32_t result = 0;
    if (c == nullptr || reinterpret_cast<uintptr_t>(c) % 8 != 0) {
        if (c == nullptr)
            r.Error("CCC cache is not allocated!  %p", static_cast<const void*>(c));
        else
            r.Error("rscpmp is not alligned!  %p", static_cast<const void*>(c));
        r.Error("rscpqc_quality_check aborted.");
        r.errors = 1;
        r.warnings = 0;
        result = 1;
    } else {
        if (c->cccVersion == RSCP_CCC_HALF)
            r.Warning("CCC version is in half cooked state: %ld", static_cast<long>(c->cccVersion));
        else if (c->cccVersion == RSCP_CCC_LOADED)
            r.Warning("CCC version is in three-quarter cooked state: %ld", static_cast<long>(c->cccVersion));
        else if (c->cccVersion != RSCP_CCC_COMPLETE)
            r.Error("CCC version is bad: %ld = 0x%lX", static_cast<long>(c->cccVersion),
                    static_cast<unsigned long>(c->cccVersion));
        if (!rscpcd__check_date(c->createDate))
            r.Error("CCC createdate damaged: %*.*s", 16, 16, c->createDate);
        if (!rscpcd__check_date(c->lastReorgDate))
            r.Error("CCC lastreorgdate damaged: %*.*s", 16, 16, c->lastReorgDate);
        if (c->reorgVersion == 0)
            r.Warning("CCC reorg_version too small: %ld", static_cast<long>(c->reorgVersion));
        if (c->reorgDone == 0)
            r.Pending("CCC reorg_done: FALSE: Still waiting for re-org.");
        const uint8_t* reason = reinterpret_cast<const uint8_t*>(c->reorgReason);
        if (reason[0] >= 1 && reason[0] <= 31)
            r.Error("CCC reorg_reason damaged: \"%-*.*s\" (0x%02X%02X%02X%02X...)", 36, 36, c->reorgReason, reason[0],
                    reason[1], reason[2], reason[3]);
        else if (reason[0] == ' ')
            r.Warning("CCC reorg_reason empty? \"%-*.*s\"", 36, 36, c->reorgReason);
        if (c->overflow != 0)
            r.Pending("CCC overflow not 'no': Still waiting for re-org.");

        const uint32_t L = c->length;
        if (L <= 169999)
            r.Error("CCC length too small: %ld", static_cast<long>(L));
        if (L <= 399999)
            r.Warning("CCC length small: %ld", static_cast<long>(L));
        if (L > 16777216)
            r.Error("CCC length too large: %ld", static_cast<long>(L));
        if (c->cache07 > L / 2)
            r.Warning("CCC cache07 too large: %ld", static_cast<long>(c->cache07));

        const auto one = [&r](bool bad, const char* what, uint32_t v) {
            if (bad)
                r.Error("CCC: %s: %9ld (0x%lX)", what, static_cast<long>(v), static_cast<unsigned long>(v));
        };
        const auto two = [&r](bool bad, const char* what, uint32_t a, uint32_t b) {
            if (bad)
                r.Error("CCC: %s: %9ld (0x%lX) <=! %9ld (0x%lX)", what, static_cast<long>(a),
                        static_cast<unsigned long>(a), static_cast<long>(b), static_cast<unsigned long>(b));
        };
        one(c->firstT1 > L, "first_t1 > length", c->firstT1);
        one(c->firstT1 % RSCP_T1_BYTES != 0, "first_t1 not alligned for T1", c->firstT1);
        two(c->firstT1 > c->endT1, "first_t1 > end_t1", c->firstT1, c->endT1);
        one(c->endT1 > L, "end_t1 > length", c->endT1);
        one(c->endT1 % RSCP_T1_BYTES != 0, "end_t1 not alligned for T1", c->endT1);
        one(c->firstT2 > L, "first_t2 > length", c->firstT2);
        two(c->firstT2 > c->endT2, "first_t2 > end_t2", c->firstT2, c->endT2);
        one(c->endT2 > L, "end_t2 > length", c->endT2);
        one(c->firstT7 > L, "first_t7 > length", c->firstT7);
        two(c->endT2 > c->firstT7, "end_t2 > first_t7", c->endT2, c->firstT7);
        two(c->firstT7 > c->endT7, "first_t7 > end_t7", c->firstT7, c->endT7);
        one(c->endT7 > L, "end_t7 > length", c->endT7);

        const long low = static_cast<long>(c->firstT1 / RSCP_T1_BYTES) * 2;
        const long high = static_cast<long>(c->endT1 / RSCP_T1_BYTES) * 2 - 1;
        if (c->fragT3 != 0 && (static_cast<long>(c->fragT3) < low || static_cast<long>(c->fragT3) > high))
            r.Warning("CCC: frag_t3 not in T1 area: %9ld <=! %9ld <=! %9ld", low, static_cast<long>(c->fragT3), high);
        if (c->freeT3 != 0 && (static_cast<long>(c->freeT3) < low || static_cast<long>(c->freeT3) > high))
            r.Warning("CCC: free_t3 not in T1 area: %9ld <=! %9ld <=! %9ld", low, static_cast<long>(c->freeT3), high);
        if (c->noofT1 > L / RSCP_T1_BYTES)
            r.Error("CCC: noof_t1 too large: %ld", static_cast<long>(c->noofT1));
        if (c->noofT2 > L / 1024)
            r.Error("CCC: noof_t2 too large: %ld", static_cast<long>(c->noofT2));
        if (c->noofT3 > L / RSCP_T3_BYTES)
            r.Error("CCC: noof_t3 too large: %ld", static_cast<long>(c->noofT3));

        // The areas are read only inside the block this process holds.
        const uint32_t block = rscpBlockSize() != 0 && rscpBlockSize() < L ? rscpBlockSize() : L;
        if (c->endT1 <= block && c->endT1 % RSCP_T1_BYTES == 0 && c->firstT2 <= block && c->firstT2 <= c->endT2 &&
            c->endT1 <= c->firstT2)
            CheckFreeArea(r, c, c->endT1, c->firstT2, 1);
        if (c->firstT2 <= c->endT2 && c->endT2 <= block && c->endT2 <= c->firstT7 && c->firstT7 <= c->endT7 &&
            c->firstT7 <= block)
            CheckFreeArea(r, c, c->endT2, c->firstT7, 2);

        const auto strange = [&r](bool bad, const char* what, int64_t v) {
            if (bad)
                r.Warning("CCC: %s strange value: %9ld (0x%lX)", what, static_cast<long>(v),
                          static_cast<unsigned long>(v));
        };
        strange(c->mbcCopy < 0 || c->mbcCopy > 3, "mbc_copy", c->mbcCopy);
        strange(c->traceLevel < 0 || c->traceLevel > 2, "verbose", c->traceLevel);
        strange(c->onErrorLevel < 0 || c->onErrorLevel > 2, "err_trace", c->onErrorLevel);
        strange(c->tcpdbCount > 30, "TCPDB_count", c->tcpdbCount);
        strange(c->dbCpCount > 30, "db_cp_count", c->dbCpCount);
        strange(c->mbCpCount > 30, "mb_cp_count", c->mbCpCount);
        strange(c->loadedF1Count > 70, "loaded_f1_count", c->loadedF1Count);
    }
    if (errors != nullptr)
        *errors = r.errors;
    if (warnings != nullptr)
        *warnings = r.warnings;
    if (rscphTracing())
        rscph_HookTable.TraceExit(result, nullptr, 0, nullptr);
    return result;
}

int32_t rscpmli_memory_and_lock_info(rscpeSinkFunc out, rscpeOutputFunc ctx, int32_t level, uint32_t* lines)
{
    const rscpCcc_t* c = rscpmp;
    uint32_t count = 0;
    char line[200];
    auto emit = [&](const char* text) {
        if (out != nullptr)
            out(text, static_cast<int32_t>(strnlenR(text, sizeof line)), ctx);
    };
    if (c != nullptr) {
        snprintfR(line, sizeof line, "Size of CCCC is %ld bytes.", static_cast<long>(c->length));
        emit(line);
        snprintfR(line, sizeof line, "Kind of memory is %-*.*s.", 12, 12, c->memoryKind);
        emit(line);
        snprintfR(line, sizeof line, "ProtectStatus is %s.",
                  c->protectStatus == 1   ? "read-only"
                  : c->protectStatus == 0 ? "read-write"
                                          : "undefined");
        emit(line);
    } else {
        emit("CCC cache is not allocated.");
        count = 1;
    }
    uint32_t lockLines = 0;
    if (rscph_HookTable.LockInfo("rscpmli_memory_and_lock_info", 0, out, ctx, level, &lockLines) == 0)
        count += static_cast<int32_t>(lockLines) < 1 ? 0 : lockLines;
    else
        count += 1;
    if (lines != nullptr)
        *lines = count;
    return 0;
}

const char* rscpst__state_text(int32_t state)
{
    switch (state) {
    case 0:
        return "fresh";
    case 1:
        return "init_started";
    case 2:
        return "initialized";
    case 4:
        return "wrong_version";
    case 5:
        return "reinitialize";
    default:
        return "not good";
    }
}

uint32_t rscprc__reorg_check(rscpCcc_t** cache, uint32_t* generation)
{
    if (rscpmp != nullptr && *generation == rscpmp->reorgVersion)
        return 0;
    if (rscphTracing())
        rscph_HookTable.TraceSectionBegin("rscpmreorg", nullptr);
    ++rscph_HookTable.ctl->reorgNesting;
    const uint32_t rc = rscpnr__need_reorg(0, RSCP_ALL_ERRORS);
    --rscph_HookTable.ctl->reorgNesting;
    if (rscphTracing())
        rscph_HookTable.TraceSectionEnd(nullptr);
    if (rc != 0)
        return rc;
    *cache = rscpmp;
    *generation = rscpmp->reorgVersion;
    return 0;
}

int rscpcd__check_date(const char* d)
{
    static const char kHigh[] = "2999193929595900";
    for (int i = 0; i < 16; ++i)
        if (d[i] < '0' || d[i] > kHigh[i])
            return 0;
    return 1;
}

int32_t rscplf__lang_flags_text(char* out, int32_t size, uint32_t flags)
{
    static const char* const kNames[] = {"LOGI", "LOAD", "ALOW", "POSS", "ULCP", "UNOP"};
    const char* t[6];
    for (int i = 0; i < 6; ++i)
        t[i] = (flags & (1u << i)) != 0 ? kNames[i] : "    ";
    return snprintfR(out, static_cast<size_t>(size < 0 ? 0 : size), "%s %s %s %s %s %s", t[0], t[1], t[2], t[3], t[4],
                     t[5]);
}

void rscpdb__draw_bar(char* out, int32_t width, int64_t first, int64_t end, int64_t total)
{
    if (width < 1 || width > 10000) {
        out[0] = '?';
        return;
    }
    if (total <= 0 || first < 0 || first > end || end > total) {
        std::memset(out, '?', static_cast<size_t>(width));
        return;
    }
    const int64_t p = static_cast<int64_t>(static_cast<double>(first) * 2 * width / static_cast<double>(total));
    const int64_t q = static_cast<int64_t>(static_cast<double>(end) * 2 * width / static_cast<double>(total));
    int64_t lead = p / 2;
    bool slash = p % 2 == 1;
    int64_t mid = q / 2 - (p + 1) / 2;
    bool back = q % 2 == 1;
    int64_t tail = width - (q + 1) / 2;
    if (mid + (slash ? 1 : 0) + (back ? 1 : 0) == 0) {
        if (tail < 1) {
            --lead;
            slash = true;
        } else {
            --tail;
            back = true;
        }
    }
    if (mid < 0 && back) {
        mid = 0;
        back = false;
    }
    char* o = out;
    for (int64_t i = 0; i < lead; ++i)
        *o++ = '_';
    if (slash)
        *o++ = '/';
    for (int64_t i = 0; i < mid; ++i)
        *o++ = 'X';
    if (back)
        *o++ = '\\';
    for (int64_t i = 0; i < tail && o < out + width; ++i)
        *o++ = '_';
    while (o < out + width)
        *o++ = '_';
}

const char* rscpwh__what_string(int32_t mode)
{
    const char* s = g_what;
    if (mode == 1) {
        if (std::strncmp(s, "@(#)", 4) == 0)
            s += 4 + (s[4] == ' ');
        if (std::strncmp(s, "$Id:", 4) == 0)
            s += 4 + (s[4] == ' ');
        return s;
    }
    if (mode == 2) {
        static char revision[11];
        const char* first = std::strchr(s, '#');
        const char* second = first != nullptr ? std::strchr(first + 1, '#') : nullptr;
        if (second == nullptr)
            return "0";
        const size_t n = std::strcspn(second + 1, " $");
        if (second[1 + n] == '\0' || n < 1 || n > 10)
            return "0";
        std::memcpy(revision, second + 1, n);
        revision[n] = '\0';
        return revision;
    }
    if (mode == 3)
        return "0";
    return s;
}

const char* rscpfc__fallback_code_page()
{
    return "4000";
}
