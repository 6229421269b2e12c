// Options of the converter cache, invalidation of its tables, reorganisation,
// reconnect and finish.
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

#include "krn/rscp/cpcacheint.h"
#include "krn/rscp/cpinfo.h"
#include "krn/rscp/cpkeys.h"
#include "krn/rstr/fixstr.h"
#include "nls/kovstr.h"

namespace {

const char kModule[] = "@(#) $Id: rscpmc#1 $";

// Option flags valid before a cache exists (indexes 7 to 27).
uint8_t g_flag[28] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 0, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 1};
uint32_t g_dictChanges = 0;

uint32_t Error(uint32_t code, uint32_t mask, int32_t location, int32_t line, const char* text, const char* id,
               const char* arg1 = nullptr, int32_t len1 = 0)
{
    return rscpe__error(code, 'C', mask, kModule, location, line, text, id, arg1, len1, nullptr, 0);
}

uint32_t OptionError(uint32_t code, int32_t line, const char* text, const char* id, int32_t option, int32_t value)
{
    char arg[48];
    snprintfR(arg, sizeof arg, "option[%d] = %ld", option, static_cast<long>(value));
    return Error(code, RSCP_ALL_ERRORS, 5, line, text, id, arg, -1);
}

uint32_t Warning(int32_t line, const char* text)
{
    return Error(RSCPECALL, RSCP_ALL_ERRORS, 6, line, text, "CP6", text, -1);
}

char Flag(const rscpCcc_t* c)
{
    return c == nullptr ? '?' : c->reorgDone != 0 ? 'T' : 'f';
}

void RecordProcess(rscpCcc_t* c)
{
    c->reorgPid = static_cast<int32_t>(getpid());
    c->reorgPpid = static_cast<int32_t>(getppid());
}

// The process that invalidated the tables and its reason (the caller's name
// when it gives none).
void RecordInvalidation(rscpCcc_t* c, const char* reason, int32_t reasonLength, const char* caller)
{
    c->invalidPid = static_cast<int32_t>(getpid());
    c->invalidPpid = static_cast<int32_t>(getppid());
    if (reason != nullptr)
        fixstr_copy_pad(c->reorgReason, 36, reason, std::max<int32_t>(reasonLength, 0));
    else
        fixstr_copy_str_pad(c->reorgReason, caller, 36);
}

// The database flags of options 7 to 14.  Returns the text of the warning due
// when the option switched a flag off (NULL when none is due).
const char* SetDatabaseFlag(int32_t option, int32_t value, const char* const* offTexts)
{
    const uint8_t on = value != 0 ? 1 : 0;
    const uint8_t before = option == 7 ? g_flag[8] : g_flag[option];
    if (option == 7) {
        for (int o : {8, 9, 11, 12, 13, 14})
            g_flag[o] = on;
        g_flag[10] = 0;
    } else {
        g_flag[option] = on;
    }
    return before == 1 && on == 0 ? offTexts[option - 7] : nullptr;
}

const char* const kRetryTexts[] = {"Trying again without database",
                                   "Trying again without TCP00,.. from database",
                                   "Trying again without TCP01,.. from database",
                                   "Trying again without TCP02,.. from database",
                                   "Trying again without TCP0C from database",
                                   "Trying again without TCPSEG,.. from database",
                                   "Trying again without UMG* from database",
                                   "Trying again without some tables from database"};

const char* const kDisconnectTexts[] = {
    "(Warning) rscpso: disconnecting from database",  "(Warning) disconnecting TCP00,.. from database",
    "(Warning) disconnecting TCP01,.. from database", "(Warning) disconnecting TCP02,.. from database",
    "(Warning) disconnecting TCP0C from database",    "(Warning) disconnecting TCPSEG,.. from database",
    "(Warning) disconnecting UMG* from database",     "(Warning) disconnecting some tables from database"};

const char kNeverTcp02[] = "(Warning) this release never reads TCP02/03/07";

// Options that act in every state.
bool RecorderOption(int32_t option, int32_t value)
{
    const int32_t level = rscpe_get_trace_level();
    switch (option) {
    case 18:
        rscpe_set_trace_level(value == 0 ? 0 : level >= 2 ? 2 : 1);
        return true;
    case 19:
        rscpe_set_trace_level(value != 0 ? 2 : level != 0 ? 1 : 0);
        return true;
    case 20:
        rscph_HookTable.option20 = value == 1 ? 1 : 0;
        return true;
    case 21:
        rscpe_set_print_style(value);
        return true;
    case 22:
        rscpe_set_print_counter(value);
        return true;
    case 23:
        rscpe_set_print_origin(value);
        return true;
    default:
        return false;
    }
}

uint32_t SetOptionAttached(int32_t option, int32_t value)
{
    rscpCcc_t* c = rscpmp;
    if (h_ccc_state == 5)
        rscpInfoOut("rscpso_set_option(%d,%d,.) while I am in reinitialize state. CCC.reorg_done=%c.", option, value,
                    Flag(c));
    rscph_HookTable.GetWritePermission(99, 0);
    rscpFlushStatistics();
    uint32_t rc = 0;
    if (c == nullptr) {
        rc = Error(RSCPENOCONV, RSCP_ALL_ERRORS, 7, __LINE__, "CCC not proper initialized", "F34");
    } else if (option == 1) {
        c->mbcInSbcs = static_cast<uint8_t>(value);
    } else if (option == 2) {
        c->mbcCopy = static_cast<int16_t>(value);
    } else if (option == 3) {
        c->cache07 = static_cast<uint32_t>(value);
        static const char kReason[] = "Size 'cache07' changed";
        rc = rscpict_invalidate_convert_tables_locked(0, 0, kReason, sizeof kReason - 1, RSCP_ALL_ERRORS);
    } else if (option == 4) {
        char arg[64];
        snprintfR(arg, sizeof arg, "intu&=&%ld&(cannot switch intu any longer)&&&", static_cast<long>(value));
        rc = Error(RSCPEINTERN, RSCP_ALL_ERRORS, 8, __LINE__, "Only intu == 2 compiled into converter", "CP9", arg, -1);
    } else if (option == 5) {
        c->traceLevel = static_cast<int16_t>(value);
        rscpe_set_trace_level(value);
    } else if (option == 6) {
        c->onErrorLevel = static_cast<int16_t>(value);
        rscpe_set_on_error_level(value);
    } else if (option >= 7 && option <= 14) {
        if (option == 10) {
            const bool was = g_flag[10] != 0;
            g_flag[10] = 0;
            if (value != 0)
                Warning(__LINE__, kNeverTcp02);
            if (was)
                Warning(__LINE__, kDisconnectTexts[3]);
        } else if (const char* text = SetDatabaseFlag(option, value, kDisconnectTexts)) {
            Warning(__LINE__, text);
        }
    } else if (option == 16) {
        c->option16 = static_cast<uint32_t>(value);
    } else if (option == 17) {
        c->option17 = static_cast<uint32_t>(value);
    } else if (option == 24) {
        char digits[16];
        snprintfR(digits, sizeof digits, "%04lu", static_cast<unsigned long>(static_cast<uint32_t>(value) % 10000));
        std::memcpy(c->option24Cp, digits, 4);
    } else if (option >= 25 && option <= 27) {
        rc = OptionError(RSCPECALL, __LINE__, "rscpso: set option ignored after startup, CCC: initialized", "CP6",
                         option, value);
    } else {
        rc = OptionError(RSCPEINTERN, __LINE__, "rscpso: illegal option", "F44", option, value);
    }
    rscph_HookTable.ReleaseWritePermission(100, 0);
    return rc;
}

}  // namespace

uint32_t rscpso_set_option(int32_t option, int32_t value, uint32_t)
{
    if (RecorderOption(option, value))
        return 0;
    switch (h_ccc_state) {
    case 0:
        if (option >= 7 && option <= 27 && (option < 15 || option > 24)) {
            if (option == 10) {
                g_flag[10] = 0;
                if (value != 0)
                    Warning(__LINE__, kNeverTcp02);
            } else if (option == 7 || option <= 14) {
                SetDatabaseFlag(option, value, kRetryTexts);
            } else {
                g_flag[option] = value != 0 ? 1 : 0;
            }
        }
        return 0;
    case 1:
    case 3:
    case 4:
        if (option == 6) {
            rscpe_set_on_error_level(value);
            return 0;
        }
        if (option >= 7 && option <= 14) {
            const bool was = g_flag[option == 7 ? 8 : option] != 0;
            const char* text = option == 10 ? nullptr : SetDatabaseFlag(option, value, kRetryTexts);
            if (option == 10)
                g_flag[10] = value != 0 ? 1 : 0;
            if (option == 10 && was && value == 0)
                text = kRetryTexts[3];
            if (text != nullptr)
                Warning(__LINE__, text);
            const char* reason = kRetryTexts[option - 7];
            return rscpict_invalidate_convert_tables_locked(0, 0, reason, static_cast<int32_t>(std::strlen(reason)),
                                                            RSCP_ALL_ERRORS);
        }
        if (option >= 25 && option <= 27)
            return OptionError(RSCPECALL, __LINE__, "rscpso: set option ignored after startup, CCC: wrong version",
                               "CP6", option, value);
        return OptionError(RSCPEINTERN, __LINE__, "rscpso: illegal option", "F44", option, value);
    default:
        return SetOptionAttached(option, value);
    }
}

uint32_t rscpgo_get_option(int32_t option, uint32_t* value)
{
    uint32_t v = 0;
    bool have = true;
    if (option == 7 || option == 8)
        v = g_flag[8];
    else if ((option >= 9 && option <= 14) || (option >= 25 && option <= 27))
        v = g_flag[option];
    else if (option == 18)
        v = rscpe_get_trace_level() != 0 ? 1 : 0;
    else if (option == 19)
        v = rscpe_get_trace_level() >= 2 ? 1 : 0;
    else if (option == 20)
        v = rscph_HookTable.option20;
    else if (option == 21)
        v = static_cast<uint32_t>(rscpe_get_print_style());
    else if (option == 22)
        v = static_cast<uint32_t>(rscpe_get_print_counter());
    else if (option == 23)
        v = static_cast<uint32_t>(rscpe_get_print_origin());
    else
        have = false;
    if (!have) {
        const rscpCcc_t* c = rscpmp;
        if (h_ccc_state == 0) {
            if (option != 16 && option != 17)
                return 0;
        } else if (h_ccc_state != 2 && h_ccc_state != 5) {
            return 1;
        } else if (c == nullptr) {
            return 1;
        } else {
            switch (option) {
            case 1:
                v = c->mbcInSbcs;
                break;
            case 2:
                v = static_cast<uint32_t>(c->mbcCopy);
                break;
            case 3:
                v = c->cache07;
                break;
            case 4:
                v = 2;
                break;
            case 5:
                v = static_cast<uint32_t>(c->traceLevel);
                break;
            case 6:
                v = static_cast<uint32_t>(c->onErrorLevel);
                break;
            case 16:
                v = c->option16;
                break;
            case 17:
                v = c->option17;
                break;
            default:
                return 1;
            }
        }
    }
    if (value != nullptr)
        *value = v;
    return 0;
}

// ---- invalidation ----------------------------------------------------------------

uint32_t rscpict3_invalidate_convert_tables(uint32_t, uint32_t, const char* reason, int32_t reasonLength, uint32_t mask)
{
    if (h_ccc_state == 0)
        return 0;
    if (h_ccc_state == 1 || h_ccc_state == 3 || rscpmp == nullptr) {
        char arg[16];
        snprintfR(arg, sizeof arg, "%d&", static_cast<int>(h_ccc_state));
        return Error(RSCPEINTERN, mask, 9, __LINE__, "CCC in illegal state", "F44", arg, -1);
    }
    static const char* const kTables[] = {"TCP00", "TCP00A", "TCP01",     "TCP09",  "TCP0C",   "TCP0D",   "TCPDB",
                                          "TCP0F", "TCP0I",  "TCPSBUILD", "TCPSEG", "TCPSPTL", "TCPSPTS", "TCPSRULE"};
    uint32_t rc = 0;
    for (const char* t : kTables) {
        if (rc == RSCPEROLLBACK)
            Error(RSCPEROLLBACK, 0, 10, __LINE__, "Tryed to ignore a rollback", "F26");
        const uint32_t r = rscpf1t__flush_one_table(t);
        if (r != 0)
            rc = r;
    }
    rscpCcc_t* c = rscpmp;
    rscpGeneration() = ++c->reorgVersion;
    c->reorgDone = 0;
    RecordInvalidation(c, reason, reasonLength, "rscpict3_invalidate_convert_tables");
    return rc;
}

uint32_t rscpict_invalidate_convert_tables_locked(uint32_t a, uint32_t b, const char* reason, int32_t reasonLength,
                                                  uint32_t mask)
{
    const int32_t rc = rscph_HookTable.GetWritePermission(95, 0);
    if (rc != 0)
        return static_cast<uint32_t>(rc);
    const uint32_t result = rscpict3_invalidate_convert_tables(a, b, reason, reasonLength, mask);
    rscph_HookTable.ReleaseWritePermission(96, 0);
    return result;
}

uint32_t rscpict4_invalidate_convert_tables(const char* table, int32_t tableLength, uint32_t a, uint32_t b,
                                            const char* reason, int32_t reasonLength, uint32_t mask)
{
    int32_t n = table != nullptr ? tableLength : 0;
    if (n > 0 && table[n - 1] == '*')
        --n;
    rscpCcc_t* c = rscpmp;
    const bool attached = c != nullptr && (h_ccc_state == 2 || h_ccc_state == 4 || h_ccc_state == 5);
    if (n >= 2 && table[0] == 'D' && table[1] == 'D' && attached) {
        ++c->dictChanges;
        ++c->reorgVersion;
        c->dictSynced = 0;
        c->reorgDone = 0;
        RecordInvalidation(c, reason, reasonLength, "rscpict4_invalidate_convert_tables");
        return 0;
    }
    if (reason == nullptr) {
        reason = "rscpict4_invalidate_convert_tables";
        reasonLength = static_cast<int32_t>(std::strlen(reason));
    }
    return rscpict3_invalidate_convert_tables(a, b, reason, reasonLength, mask);
}

uint32_t rscpict4_invalidate_convert_tables_locked(const char* table, int32_t tableLength, uint32_t a, uint32_t b,
                                                   const char* reason, int32_t reasonLength, uint32_t mask)
{
    const int32_t rc = rscph_HookTable.GetWritePermission(97, 0);
    if (rc != 0)
        return static_cast<uint32_t>(rc);
    const uint32_t result = rscpict4_invalidate_convert_tables(table, tableLength, a, b, reason, reasonLength, mask);
    rscph_HookTable.ReleaseWritePermission(98, 0);
    return result;
}

// ---- reorganisation ------------------------------------------------------------------

namespace {

bool SoundHeader(const rscpCcc_t& h, uint32_t length, uint32_t cache07)
{
    return length >= 170000 && length <= 16776192 && cache07 >= 200 && cache07 <= length / 2 &&
           h.maxKovChar > 1199999 && h.maxKovCode > 2441 && std::memcmp(h.ident, ">>RSCPCCC<<", 11) == 0 &&
           h.cccVersion != RSCP_CCC_HALF && h.cccVersion != RSCP_CCC_LOADED;
}

// What a rebuild keeps of the old cache's history.
void KeepHistory(rscpCcc_t* c, const rscpCcc_t& old)
{
    c->reorgCount = old.reorgCount;
    c->dictChanges = old.dictChanges;
    c->dictSyncCount = old.dictSyncCount;
    c->invalidPid = old.invalidPid;
    c->invalidPpid = old.invalidPpid;
}

void AddStatistics(rscpCcc_t* c, const rscpCcc_t& old)
{
    c->statBytesIn += old.statBytesIn;
    c->statBytesOut += old.statBytesOut;
    c->statEncodeCalls += old.statEncodeCalls;
    c->statEncodeBytes += old.statEncodeBytes;
    c->statFillSpace += old.statFillSpace;
    c->statFillBytes += old.statFillBytes;
    c->statTruncBytes += old.statTruncBytes;
    for (int i = 0; i < RSCP_STAT32; ++i)
        c->stat32[i] += old.stat32[i];
    for (int i = 0; i < RSCP_EVENTS; ++i)
        c->statEvents[i] += old.statEvents[i];
    c->icuObjectId = std::max(c->icuObjectId, old.icuObjectId);
}

// Rebuilds the cache over its own memory, keeping what the old header says
// about the cache's history.  Never builds past the block this process holds.
uint32_t Rebuild(const rscpCcc_t& old, uint32_t mask)
{
    uint32_t length = old.length;
    uint32_t cache07 = old.cache07;
    if (cache07 == 0 || cache07 >= length / 2)
        cache07 = length - old.endT2;
    const uint32_t block = rscpBlockSize();
    if (SoundHeader(old, length, cache07) && length <= block) {
        const uint32_t rc = rscpic__init_cache(length, cache07, old.maxKovCode, old.memoryKind, mask);
        if (rc != 0 && rc != RSCPEIO)
            return rc;
        rscpCcc_t* c = rscpmp;
        c->layoutVersion = old.layoutVersion;
        std::memcpy(c->createDate, old.createDate, 16);
        c->creatorPid = old.creatorPid;
        c->creatorPpid = old.creatorPpid;
        // The rebuild starts a generation of its own: an object activated
        // after the invalidation but before this rebuild holds table numbers
        // of the old layout, and must not pass for current (nor its copy in
        // the activation cache be handed out).
        c->reorgVersion = old.reorgVersion + 1;
        rscpGeneration() = std::max(rscpGeneration(), c->reorgVersion);
        std::memcpy(c->attach, old.attach, sizeof c->attach);
        c->attachCount = old.attachCount;
        KeepHistory(c, old);
        AddStatistics(c, old);
        c->mbcInSbcs = old.mbcInSbcs;
        c->mbcCopy = old.mbcCopy;
        c->traceLevel = old.traceLevel;
        c->onErrorLevel = old.onErrorLevel;
        c->option16 = old.option16;
        c->option17 = old.option17;
        std::memcpy(c->option24Cp, old.option24Cp, 4);
        return rc;
    }
    uint32_t maxCode = 0, maxChar = 0;
    uint32_t rc = find_cachesizes(&length, &cache07);
    if (rc == 0)
        rc = find_kovcode_max(&maxCode);
    if (rc == 0)
        rc = find_uchar_max(&maxChar);
    if (rc != 0)
        return rc;
    if (length > block) {
        char arg[40];
        snprintfR(arg, sizeof arg, "cachesize&%ld&%ld&", static_cast<long>(length), static_cast<long>(block));
        return Error(RSCPEINTERN, mask, 11, __LINE__, "KOVPARAM(rsts/ccc/cachesize) too large", "CQH", arg, -1);
    }
    if (old.maxKovCode > 2441)
        maxCode = std::max<uint32_t>(maxCode, old.maxKovCode);
    rc = rscpic__init_cache(length, cache07, static_cast<uint16_t>(std::min<uint32_t>(maxCode, UINT16_MAX)),
                            old.memoryKind, mask);
    if (rc != 0 && rc != RSCPEIO)
        return rc;
    rscpCcc_t* c = rscpmp;
    c->maxKovChar = std::max(maxChar, old.maxKovChar > 1199999 ? old.maxKovChar : 0u);
    uint32_t oldGen = old.reorgVersion >= 2 && old.reorgVersion <= 999999 ? old.reorgVersion : 1;
    if (old.reorgCount > oldGen && old.reorgCount <= 999999)
        oldGen = old.reorgCount;
    c->reorgVersion = std::max(oldGen, rscpGeneration()) + 1;
    rscpGeneration() = c->reorgVersion;
    RecordProcess(c);
    KeepHistory(c, old);
    AddStatistics(c, old);
    c->option16 = old.option16;
    c->option17 = old.option17;
    std::memcpy(c->option24Cp, old.option24Cp, 4);
    char blockText[64];
    rscpCacheBlock(blockText, length, nullptr);
    rscph_HookTable.SyslogMsg(105, "E10", blockText);
    rscpInfoOut("CCC cache with %ld bytes reorganized.", static_cast<long>(length));
    return rc;
}

}  // namespace

uint32_t rscpnr__need_reorg(int32_t mode, uint32_t mask)
{
    if (rscpmp == nullptr)
        return Error(RSCPENOCONV, mask, 12, __LINE__, "CCC not proper initialized", "F34");
    const bool ownSema = mode != 1 && mode != 2;
    if (ownSema) {
        const int32_t r = rscpGetSema(130);
        if (r != 0)
            return static_cast<uint32_t>(r);
    }
    bool ownWrite = false;
    uint32_t result = 0;
    bool rebuilt = false;
    rscpra__register_attach_address(mode == 0 ? 1 : mode, 1, nullptr);
    rscpe_set_trace_level(rscpmp->traceLevel);

    if (rscpmp->reorgDone == 0) {
        if (rscpli__reorg(mask) != 0) {
            rscpErrorOut("CCC cache with %ld bytes needs reorganization because of %.*s, but data access seems to be "
                         "missing.",
                         static_cast<long>(rscpmp->length), 36, rscpmp->reorgReason);
            rscpe_keep_errors();
            result = Error(RSCPEIO, mask, 13, __LINE__, "Could not load data into CCC", "F34");
            if (ownSema)
                rscph_HookTable.ReleaseSema(53, 0);
            return result;
        }
        if (mode != 2) {
            const int32_t r = rscph_HookTable.GetWritePermission(121, 0);
            if (r != 0) {
                if (ownSema)
                    rscph_HookTable.ReleaseSema(53, 0);
                return static_cast<uint32_t>(r);
            }
            ownWrite = ownSema;
        }
        rscpFlushStatistics();
        const rscpCcc_t old = *rscpmp;
        const char* dump = rscpParam("rscp/ccc/dump");
        if (dump != nullptr && dump[0] != '0') {
            std::fputs("rscpmc:rscpnr__need_reorg()\n", stderr);
            std::fputs("      : Last state before reorganizing:\n", stderr);
            rscpcs_cache_status(
                0xFFFF, [](const char* text, int32_t length) { rscpmc_write_line(text, length); }, 0xFFFFFFFFu);
        }
        char block[64];
        rscpCacheBlock(block, old.length, old.reorgReason);
        rscph_HookTable.SyslogMsg(105, "E14", block);
        rscpInfoOut("CCC cache with %ld bytes reorganizing because of %.*s.", static_cast<long>(old.length), 36,
                    old.reorgReason);
        rscph_HookTable.WaitBeforeClearing(2);

        const uint32_t rc = Rebuild(old, mask);
        rebuilt = true;
        rscpCcc_t* c = rscpmp;
        if (rc == 0) {
            c->reorgDone = 1;
            RecordProcess(c);
            ++c->reorgCount;
            if (h_ccc_state == 5)
                rscpBackToInitialized("135");
            rscpSetCCCState(2);
        } else if (rc == RSCPEIO && h_ccc_state == 5) {
            rscpInfoOut("I/O error again. Code page converter stays in reinitialize state. CCC.reorg_done=%c.",
                        Flag(c));
            result = rc;
        } else if (rc == RSCPEIO) {
            rscpSetCCCState(5);
            const char was = Flag(c);
            c->reorgDone = 0;
            rscpErrorOut("Code page converter switched to reinitialize state. CCC.reorg_done:%c->f.", was);
            result = Error(RSCPEIO, mask, 14, __LINE__, "converter switched to reinitialize state", "CQD");
        } else {
            rscpSetCCCState(3);
            result = rc;
        }
    }

    if (rscpmp->dictChanges > g_dictChanges) {
        const uint32_t rc = rscpgdi__general_db_init(mask);
        if (rc == 0) {
            g_dictChanges = rscpmp->dictChanges;
            rscpmp->dictSynced = 1;
            ++rscpmp->dictSyncCount;
        } else if (rc == RSCPEROLLBACK) {
            Error(RSCPEROLLBACK, 0, 15, __LINE__, "Tryed to ignore a rollback", "F26");
        }
    }
    if (ownSema) {
        const int32_t r = ownWrite ? rscpReleaseWritePermissionAndSema(53) : rscph_HookTable.ReleaseSema(53, 0);
        if (r != 0)
            result = static_cast<uint32_t>(r);
    }
    if (rebuilt && h_ccc_state == 2)
        rscpir__reinit_check();
    rscpNotifyStateChange(static_cast<int32_t>(rscpmp->stateNotify));
    return result;
}

uint32_t rscpr__reconnect(uint32_t mask)
{
    if (h_ccc_state == 2)
        return 0;
    if (h_ccc_state != 5 || rscpmp == nullptr)
        return Error(RSCPENOCONV, mask, 16, __LINE__, "CCC not proper initialized", "F34");
    rscpCcc_t* c = rscpmp;
    if (rscpli__reorg(mask) != 0) {
        rscpErrorOut("Data still not accessible. So I do not try to reconnect at %p in state: %d .",
                     static_cast<void*>(c), static_cast<int>(h_ccc_state));
        rscpe_keep_errors();
        return Error(RSCPEIO, mask, 17, __LINE__, "Could not load data into CCC", "F34");
    }
    rscpErrorOut("Try CCC reconnect at %p in state: %d . (CCC not in reach.)", static_cast<void*>(c),
                 static_cast<int>(h_ccc_state));
    int32_t r = rscpGetSema(26);
    if (r != 0)
        return static_cast<uint32_t>(r);
    bool write = false;
    if (c->reorgVersion < rscpGeneration() || (c->reorgVersion == rscpGeneration() && rscpReleasedFlag() != 0)) {
        r = rscph_HookTable.GetWritePermission(138, 0);
        if (r != 0) {
            rscph_HookTable.ReleaseSema(138, 0);
            return static_cast<uint32_t>(r);
        }
        write = true;
        c->reorgVersion = rscpGeneration() + 1;
    }
    rscpErrorOut("In reinitialize state reuse shared memory at %p. CCC.reorg_done=%c.", static_cast<void*>(c), Flag(c));
    auto release = [&]() {
        return write ? rscpReleaseWritePermissionAndSema(139) : rscph_HookTable.ReleaseSema(139, 0);
    };
    if (c->reorgDone != 0) {
        const char* newest = rscpCCCStateHistory[0].timestamp;
        const int cmp = std::memcmp(newest, c->lastReorgDate, 16);
        std::fprintf(stderr, "rscpr__reconnect: %14.14s <-> %14.14s\n", "h_ccc_state", "CCC.lastreorgdate");
        std::fprintf(stderr, "rscpr__reconnect: %14.14s <-> %14.14s  => %d\n", newest, c->lastReorgDate, cmp);
        if (cmp >= 0) {
            std::fputs("rscpr__reconnect: database seems to be still offline and/or CCC not good.\n", stderr);
            const uint32_t rc = Error(RSCPENOCONV, mask, 18, __LINE__, "DB offline and/or CCC not good", "F34");
            release();
            return rc;
        }
        std::fputs("rscpr__reconnect: I may work again.\n", stderr);
    } else {
        if (rscphTracing())
            rscph_HookTable.TraceSectionBegin("rscpmreorg", nullptr);
        const uint32_t rc = rscpnr__need_reorg(write ? 2 : 1, mask);
        if (rscphTracing())
            rscph_HookTable.TraceSectionEnd(nullptr);
        if (rc != 0) {
            release();
            return rc;
        }
        c = rscpmp;
    }
    if (c->cccVersion == RSCP_CCC_COMPLETE) {
        rscpBackToInitialized("132");
        rscpSetCCCState(2);
        const int32_t rc = release();
        rscpReleasedFlag() = 0;
        rscpNotifyStateChange(static_cast<int32_t>(c->stateNotify));
        return static_cast<uint32_t>(rc);
    }
    const uint32_t rc = rscpWrongVersion(mask, 19);
    rscph_HookTable.ReleaseSema(63, 0);
    return rc;
}

uint32_t rscpf_finish(uint32_t mask)
{
    rscpe_clear_errors();
    if (h_ccc_state == 0)
        return 0;
    if ((h_ccc_state == 2 || h_ccc_state == 5) && rscpmp != nullptr)
        rscpGeneration() = std::max(rscpGeneration(), rscpmp->reorgVersion);
    rscpli__finish(mask);
    const int32_t rc = rscph_HookTable.ReleaseCCCC(rscpmp, 23, &rscpReleasedFlag());
    rscpmp = nullptr;
    rscpSetBlock(nullptr, 0);
    rscpSetCCCState(0);
    return static_cast<uint32_t>(rc);
}

int rscpCmpCodePage(const void* a, const void* b)
{
    const int d = std::memcmp(a, b, 4);
    return d < 0 ? -1 : d > 0 ? 1 : 0;
}

int rscpCmpCodePageSearch(const void* a, const void* b)
{
    return rscpCmpCodePage(a, b);
}

// ---- small services of the maintenance ------------------------------------------------

void rscpmc_fill_cache(uint32_t offset, int32_t length, int32_t byte)
{
    rscpCcc_t* c = rscpmp;
    // Only inside the attached block.
    if (c == nullptr || length <= 0 || uint64_t(offset) + uint64_t(length) > c->length)
        return;
    std::memset(reinterpret_cast<uint8_t*>(c) + offset, byte, static_cast<size_t>(length));
}

int32_t rscpmc_write_line(const char* text, int32_t length)
{
    std::fprintf(stderr, "%*.*s\r\n", static_cast<int>(length), static_cast<int>(length), text);
    return 0;
}

void rscpmc_printable_copy(const char* source, int32_t length, char* destination, int32_t size)
{
    for (int32_t i = 0; i < length && i < size - 1; ++i) {
        const unsigned char b = static_cast<unsigned char>(source[i]);
        destination[i] = std::isprint(b) ? static_cast<char>(b) : '.';
    }
}

int32_t rscpmc_is_language_key(const char* text)
{
    return text != nullptr && text[0] != '\0' && std::strchr(rscpGetLanguageKeys(), text[0]) != nullptr ? 1 : 0;
}

uint32_t rscpmc_check_cache()
{
    rscpGetCCCAddress();
    return 0;
}
