// Start-up of the converter cache: reads the start-up parameters, takes the
// cache memory from the AllocateCCCC hook, lays out the header, has the
// catalogue loaded into it, checks it and sets the library's options.
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "krn/rscp/cpcacheint.h"
#include "krn/rscp/cprulebytes.h"
#include "krn/rscp/cptab.h"
#include "krn/rscp/cpstore.h"
#include "krn/rscp/cputf.h"
#include "krn/rstr/fixstr.h"
#include "nls/kovstr.h"
#include "nls/nlsui.h"

namespace {

const char kModule[] = "@(#) $Id: rscpmc#1 $";

char g_origin[30] = {'c', 'o', 'm', 'p', 'i', 'l', 'e', '_', 't', 'i', 'm', 'e', ' ', ' ', ' ',
                     ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' '};
int g_regular = 0;
uint32_t g_generation = 0;
uint8_t g_released = 0;
uint32_t g_blockSize = 0;
const void* g_blockAddress = nullptr;
bool g_blockZeroed = false;

constexpr uint32_t kDefaultLength = 6000000;
constexpr uint32_t kMinLength = 170000;
constexpr uint32_t kMaxLength = 16776192;
constexpr uint32_t kMinCache07 = 200;
constexpr uint32_t kMinKovCode = 2442;
constexpr uint32_t kMinUchar = 1200000;

uint32_t Error(uint32_t code, uint32_t mask, int32_t location, int32_t line, const char* text, const char* id,
               const char* arg1 = nullptr, int32_t len1 = 0)
{
    return rscpe__error(code, 'C', mask, kModule, location, line, text, id, arg1, len1, nullptr, 0);
}

uint32_t RoundUp(uint32_t n, uint32_t step)
{
    return (n + step - 1) / step * step;
}

char Flag(uint8_t set)
{
    return set != 0 ? 'T' : 'f';
}

// Option 6 from "rscp/on_error" or, without it, from RSCP_ON_ERROR.
void OnErrorOption()
{
    const char* v = rscpParam("rscp/on_error");
    if (v == nullptr)
        v = std::getenv("RSCP_ON_ERROR");
    if (v != nullptr)
        rscpso_set_option(6, static_cast<int32_t>(rscpDecimal(v)), 0);
}

// The UTF-8 form of the icon intro character; a failing conversion leaves
// the bytes it had.
void IconUtf8()
{
    const uint16_t unit = static_cast<uint16_t>(rscpPua.icon2intro);
    const uint8_t* src = reinterpret_cast<const uint8_t*>(&unit);
    uint8_t out[3];
    uint8_t* dst = out;
    if (rscpu86r_utf16_to_utf8(&src, src + 2, &dst, out + 3) == 0 && dst == out + 3)
        std::memcpy(rscpPua.icon2Utf8, out, 3);
}

void ReadPuaParameters()
{
    rscpip__read_pua_param("rscp/pua/icon2intro", &rscpPua.icon2intro);
    rscpPut16(rscpPua.icon2Bytes, rscpPua.icon2intro, true);
    IconUtf8();
    rscpip__read_pua_param("rscp/pua/printcontrol5intro", &rscpPua.printcontrol5intro);
    rscpip__read_pua_param("rscp/pua/DBC_replacement", &rscpPua.dbcReplacement);
    rscpip__read_pua_param("rscp/pua/frame1intro", &rscpPua.frame1intro);
    rscpPut16(rscpPua.frame1Bytes, rscpPua.frame1intro, true);
}

int32_t SemaInit(int32_t step)
{
    const int32_t r = step == 1 ? rscph_HookTable.SemaInit1(25, 0) : rscph_HookTable.SemaInit2(46, 0);
    if (r != 0)
        rscpErrorOut("Semaphore initialization step %d failed with %d", step, r);
    else
        rscpInfoOut("Semaphore initialization step %d done.", step);
    return r;
}

// The header of a fresh build; the base data follows in rscpic__init_cache.
void LayOutHeader(rscpCcc_t* c, uint32_t length, uint32_t cache07, uint16_t maxKovCode, const char* memoryKind)
{
    c->layoutVersion = RSCP_CCC_LAYOUT;
    c->protectStatus = rscph_HookTable.option20;
    std::memcpy(c->ident, RSCP_CCC_IDENT, 12);
    fixstr_copy_str_pad(c->memoryKind, memoryKind != nullptr ? memoryKind : "", 12);
    c->cccVersion = RSCP_CCC_HALF;
    rscph_HookTable.Timestamp(c->createDate);
    std::memcpy(c->lastReorgDate, c->createDate, 16);
    c->creatorPid = static_cast<int32_t>(getpid());
    c->creatorPpid = static_cast<int32_t>(getppid());
    c->reorgDone = h_ccc_state != 5 ? 1 : 0;
    c->attach[0] = reinterpret_cast<uintptr_t>(c);
    c->maxKovChar = kMinUchar;
    c->maxKovCode = maxKovCode;
    const char* mbc = rscpParam("rscp/mbc_in_sbcs");
    c->mbcInSbcs = mbc != nullptr && mbc[0] == '1' ? 1 : 0;
    const char* copy = rscpParam("rscp/mbc_copy");
    c->mbcCopy = copy != nullptr ? static_cast<int32_t>(rscpDecimal(copy)) : 2;
    std::memset(c->blankText, ' ', sizeof c->blankText);
    std::memset(c->option24Cp, ' ', 4);
    std::memset(c->legacyCp, ' ', 4);
    std::memset(c->defCountryText, ' ', 3);
    c->defLanguage = ' ';
    c->length = length;
    c->cache07 = cache07;
    c->cpListOffset = RoundUp(sizeof(rscpCcc_t), 16);
    c->firstT1 = c->endT1 = c->cpListOffset;
    c->firstT2 = c->endT2 = length - cache07;
    c->firstT7 = c->endT7 = length;
}

// Highest character number of the store's map rows (the map is sized from
// them, so no row can land behind it).
uint32_t MapRoom()
{
    uint32_t top = 0;
    for (uint32_t i = 0; i < rscpF5Tcp01Count; ++i) {
        const uint8_t* p = rscpF5Tcp01 + 5 * static_cast<size_t>(i);
        top = std::max<uint32_t>(top, static_cast<uint32_t>(p[0]) << 8 | p[1]);
    }
    return top + 1;
}

uint32_t TooSmall(uint32_t length, uint32_t mask, int32_t line)
{
    char arg[40];
    snprintfR(arg, sizeof arg, "cachesize&%ld&?&", static_cast<long>(length));
    return Error(RSCPEINTERN, mask, 6, line, "KOVPARAM(rsts/ccc/cachesize) too small", "F24", arg, -1);
}

void ReleaseLocks(int32_t writeLocation, int32_t semaLocation)
{
    rscph_HookTable.ReleaseWritePermission(writeLocation, 0);
    rscph_HookTable.ReleaseSema(semaLocation, 0);
}

}  // namespace

rscpPua_t rscpPua = {0xF8FC, {0xF8, 0xFC}, 0xF8FD, {0xF8, 0xFD}, {0xEF, 0xA3, 0xBD}, 0xF8FE, 0xF8FF};

// ---- helpers shared by the cache units -----------------------------------------

int64_t rscpDecimal(const char* text)
{
    if (text == nullptr)
        return 0;
    errno = 0;
    char* end = nullptr;
    long long v = std::strtoll(text, &end, 10);
    if (end == text)
        return 0;
    return std::clamp<long long>(v, INT32_MIN, INT32_MAX);
}

namespace {

__attribute__((format(printf, 2, 0))) void Out(rscpeOutputFunc out, const char* fmt, va_list ap)
{
    char line[400];
    vsnprintfR(line, sizeof line, fmt, ap);
    out(line, static_cast<int32_t>(std::strlen(line)));
}

}  // namespace

void rscpErrorOut(const char* fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    Out(rscpe_get_output_func(1), fmt, ap);
    va_end(ap);
}

void rscpInfoOut(const char* fmt, ...)
{
    const rscpeOutputFunc out = rscpe_get_output_func(2);
    if (out == rscpe_no_output)
        return;
    va_list ap;
    va_start(ap, fmt);
    Out(out, fmt, ap);
    va_end(ap);
}

void rscpBackToInitialized(const char* line)
{
    rscpErrorOut("Code page converter switched back to initialized state. CCC.reorg_done=%c.",
                 rscpmp == nullptr ? '?' : Flag(rscpmp->reorgDone));
    char block[64];
    rscpSyslogBlock(block, "CCC in initialized state.", "rscpmc.c", line);
    rscph_HookTable.SyslogMsg(32, "CQE", block);
}

uint32_t rscpWrongVersion(uint32_t mask, int32_t location)
{
    const uint32_t have = rscpmp != nullptr ? rscpmp->cccVersion : 0;
    char want9[16], have9[16], text[80];
    snprintfR(want9, sizeof want9, "%9ld", static_cast<long>(RSCP_CCC_COMPLETE));
    snprintfR(have9, sizeof have9, "%9ld", static_cast<long>(have));
    snprintfR(text, sizeof text, "CCC buffer version should be %9ld but is %9ld", static_cast<long>(RSCP_CCC_COMPLETE),
              static_cast<long>(have));
    const uint32_t rc = rscpe__error(RSCPEINTERN, 'C', mask, kModule, location, __LINE__, text, "F37", want9, -1, have9,
                                     -1);
    rscpErrorOut("%s", text);
    rscpSetCCCState(4);
    return rc;
}

void rscpSyslogBlock(char* block, const char* text, const char* module, const char* tail)
{
    nlsui_str2fix(block, text, 53);
    nlsui_str2fix(block + 53, module, 8);
    nlsui_str2fix(block + 61, tail, 3);
}

void rscpCacheBlock(char* block, uint32_t length, const char* reason)
{
    char text[24];
    std::memset(block, ' ', 64);
    std::memcpy(block, "RSCPCCC ", 8);
    snprintfR(text, sizeof text, "%9lu", static_cast<unsigned long>(length));
    std::memcpy(block + 8, text, std::min<size_t>(9, std::strlen(text)));
    if (reason != nullptr)
        std::memcpy(block + 17, reason, 36);
}

uint32_t& rscpGeneration()
{
    return g_generation;
}
uint8_t& rscpReleasedFlag()
{
    return g_released;
}
uint32_t rscpBlockSize()
{
    return rscpmp != nullptr && rscpmp == g_blockAddress ? g_blockSize : 0;
}

void rscpSetBlock(const void* address, uint32_t size)
{
    g_blockAddress = address;
    g_blockSize = size;
}
bool& rscpBlockZeroed()
{
    return g_blockZeroed;
}

const char* rscpStartOrigin()
{
    return g_origin;
}
int rscpRegularStart()
{
    return g_regular;
}
uint32_t rscpProcessGeneration()
{
    return g_generation;
}

// ---- start-up --------------------------------------------------------------------

uint32_t rscpi_init(uint32_t mask)
{
    if (h_ccc_state == 2)
        return 0;
    char origin[30];
    std::memcpy(origin, g_origin, 30);
    const int regular = g_regular;
    std::memset(g_origin, ' ', 30);
    g_regular = 1;
    const uint32_t rc = rscpi__init(mask);
    if (rc != 0) {
        std::memcpy(g_origin, origin, 30);
        g_regular = regular;
    }
    return rc;
}

uint32_t rscpi_init_just_in_case(const char* caller)
{
    if (h_ccc_state == 2)
        return 0;
    if (h_ccc_state == 5)
        return rscpr__reconnect(RSCP_ALL_ERRORS);
    static const char kAbort[] = "See KOV note 4817206.\nAbort in rscpi_init_just_in_case.\n";
    const char* catchInit = std::getenv("RSCP_CATCH_INIT");
    const bool asked = catchInit != nullptr && catchInit[0] != '0';
    if (catchInit == nullptr || catchInit[0] != '0') {
        rscpErrorOut("Impromptu CCC initialization by '%.100s'.", caller != nullptr ? caller : "");
        rscpErrorOut("  See KOV note 4817206.");
    }
    if (asked && (catchInit[0] == 'a' || catchInit[0] == 'A')) {
        std::fwrite(kAbort, 1, sizeof kAbort - 1, stderr);
        std::fflush(stderr);
        std::abort();
    }
    // The marker file in the working directory counts only when the variable
    // asks for it: a stray file of that name is never deleted on its own.
    if (asked && access("RSCP_CATCH_INIT", F_OK) == 0) {
        unlink("RSCP_CATCH_INIT");
        std::fwrite(kAbort, 1, sizeof kAbort - 1, stderr);
        std::fflush(stderr);
        std::abort();
    }
    g_regular = 0;
    nlsui_str2fix(g_origin, caller, 30);
    return rscpi__init(RSCP_ALL_ERRORS);
}

uint32_t rscpi__init(uint32_t mask)
{
    rscpe_clear_errors();
    switch (h_ccc_state) {
    case 2:
        return 0;
    case 3:
        return Error(RSCPEINTERN, mask, 43, __LINE__, "char code converter damaged", "F36");
    case 1:
        return Error(RSCPEINTERN, mask, 80, __LINE__, "char code converter init loop", "F6P");
    case 5:
        rscpErrorOut("Try CCC initialization in state: %d . (CCC not in reach.)", 5);
        break;
    default:
        rscpSetCCCState(1);
        break;
    }
    const bool reinit = h_ccc_state == 5;
    kovlcpTakeLocalCodePageSettings();
    ReadPuaParameters();
    OnErrorOption();
    int32_t r = 0;
    if (!reinit && (r = SemaInit(1)) != 0)
        return static_cast<uint32_t>(r);
    rscpli__load_init(mask);
    if (!reinit && (r = SemaInit(2)) != 0)
        return static_cast<uint32_t>(r);
    if ((r = rscph_HookTable.GetSema(26, 0)) != 0)
        return static_cast<uint32_t>(r);
    if (const char* protect = rscpParam("rscp/ccc/protect"))
        rscpso_set_option(20, static_cast<int32_t>(rscpDecimal(protect)), 0);

    bool reused = false;
    uint32_t length = 0, cache07 = 0;
    if (reinit) {
        if (rscpmp == nullptr)
            return Error(RSCPENOCONV, mask, 24, __LINE__, "CCC not proper initialized", "F34");
        rscph_HookTable.GetWritePermission(138, 0);
        rscpErrorOut("In reinitialize state reuse shared memory at %p. CCC.reorg_done=%c.", static_cast<void*>(rscpmp),
                     rscpmp != nullptr ? Flag(rscpmp->reorgDone) : '?');
        reused = true;
    } else {
        uint32_t rc = find_cachesizes(&length, &cache07);
        if (rc != 0) {
            rscph_HookTable.ReleaseSema(54, 0);
            return rc;
        }
        void* address = nullptr;
        uint8_t status = 0, reuse = 0;
        char method[24];
        rc = static_cast<uint32_t>(
            rscph_HookTable.AllocateCCCC(&address, &status, &reuse, method, sizeof method, length, 64));
        if (rc != 0 || address == nullptr) {
            rscph_HookTable.ReleaseSema(57, 0);
            // Without memory nothing was made: a later start-up tries
            // again, instead of finding a start-up that never ended.
            if (rc == RSCPENOMEM)
                rscpSetCCCState(0);
            return rc != 0 ? rc : RSCPEINTERN;
        }
        rscpmp = static_cast<rscpCcc_t*>(address);
        rscpSetBlock(address, length);
        g_blockZeroed = status == 1;
        rscpra__register_attach_address(1, 1, nullptr);
        reused = reuse != 0;
        if (!reused) {
            rscph_HookTable.GetWritePermission(94, 0);
            uint32_t maxCode = 0;
            find_kovcode_max(&maxCode);
            method[sizeof method - 1] = '\0';
            rc = rscpic__init_cache(length, cache07, static_cast<uint16_t>(maxCode), method, mask);
            if (rc == 0) {
                char block[64];
                rscpCacheBlock(block, length, nullptr);
                rscph_HookTable.SyslogMsg(105, "E10", block);
                rscpInfoOut("CCC cache initialized with %.9s bytes.", block + 8);
            } else if (rc == RSCPEIO) {
                rscpSetCCCState(5);
                const uint32_t recorded = Error(RSCPEIO, mask, 133, __LINE__,
                                                "Code page converter switched to reinitialize state.", "CQD");
                rscpErrorOut("I/O error. Code page converter switched to reinitialize state. CCC.reorg_done=%c.",
                             Flag(rscpmp->reorgDone));
                const int32_t wp = rscph_HookTable.ReleaseWritePermission(139, 0);
                rscph_HookTable.ReleaseSema(131, 0);
                return wp != 0 ? static_cast<uint32_t>(wp) : recorded;
            } else if (rc == RSCPENOMEM) {
                // A build that ran out of memory leaves no damaged cache
                // behind: the block goes, and a later start-up tries again.
                ReleaseLocks(94, 58);
                rscph_HookTable.ReleaseCCCC(rscpmp, 23, &g_released);
                rscpmp = nullptr;
                rscpSetBlock(nullptr, 0);
                rscpSetCCCState(0);
                return rc;
            } else {
                rscpSetCCCState(3);
                ReleaseLocks(94, 58);
                rscpErrorOut("CCC-cache init failed.");
                return rc;
            }
        }
    }
    rscpCcc_t* c = rscpmp;
    if (reused && (c->reorgVersion < g_generation || (c->reorgVersion == g_generation && g_released != 0)))
        c->reorgVersion = g_generation + 1;
    if (!reinit)
        ++c->attachCount;

    uint32_t reorgRc = 0;
    if (c->reorgDone == 0) {
        if (rscphTracing())
            rscph_HookTable.TraceSectionBegin("rscpmreorg", nullptr);
        ++rscph_HookTable.ctl->reorgNesting;
        reorgRc = rscpnr__need_reorg(2, mask);
        --rscph_HookTable.ctl->reorgNesting;
        if (rscphTracing())
            rscph_HookTable.TraceSectionEnd(nullptr);
        c = rscpmp;
    }

    uint32_t result = 0;
    if (c->cccVersion != RSCP_CCC_COMPLETE) {
        result = rscpWrongVersion(mask, 30);
        ReleaseLocks(120, 63);
    } else {
        if (h_ccc_state == 5)
            rscpBackToInitialized("132");
        rscpSetCCCState(reorgRc != 0 ? 5 : 2);
        const int32_t wp = rscph_HookTable.ReleaseWritePermission(120, 0);
        const int32_t sema = rscph_HookTable.ReleaseSema(59, 0);
        result = static_cast<uint32_t>(sema != 0 ? sema : wp);
        kovlcpSetDBCodePageFunc(rscpGetDBCodePages);
    }

    rscpu_set_error_hook(rscpe__error);
    const char* value = nullptr;
    const char* deflt = nullptr;
    rscph_HookTable.GetParameterDetails("rsts/ccc/max_kovcode", &deflt, nullptr, nullptr, nullptr, nullptr, nullptr,
                                        nullptr, nullptr, nullptr, nullptr, nullptr, &value);
    if (value != nullptr && deflt != nullptr && std::strcmp(value, deflt) != 0)
        Error(RSCPEINTERN, RSCP_ALL_ERRORS, 52, __LINE__, "KOVPARAM(rsts/ccc/max_kovcode) ignored", "CP6",
              "rsts/ccc/max_kovcode not used", -1);
    OnErrorOption();
    const char* trace = std::getenv("RSCPTRACE");
    if (trace == nullptr)
        trace = rscpParam("rdisp/TRACE");
    if (trace != nullptr)
        rscpso_set_option(5, static_cast<int32_t>(rscpDecimal(trace)), 0);
    if (!reused && h_ccc_state == 2)
        rscpir__reinit_check();
    rscpNotifyStateChange(static_cast<int32_t>(rscpmp != nullptr ? rscpmp->stateNotify : 0));
    g_released = 0;
    return result;
}

uint32_t find_cachesizes(uint32_t* lengthOut, uint32_t* cache07Out)
{
    uint32_t length = kDefaultLength;
    char arg[48];
    if (const char* v = rscpParam("rsts/ccc/cachesize")) {
        const int64_t n = rscpDecimal(v);
        if (n < kMinLength) {
            snprintfR(arg, sizeof arg, "cachesize&%ld&%ld&", static_cast<long>(n), static_cast<long>(kMinLength));
            return Error(RSCPEINTERN, RSCP_ALL_ERRORS, 1, __LINE__, "KOVPARAM(rsts/ccc/cachesize) too small", "F24",
                         arg, -1);
        }
        if (n > kMaxLength) {
            snprintfR(arg, sizeof arg, "cachesize&%ld&%ld&", static_cast<long>(n), static_cast<long>(kMaxLength));
            Error(RSCPEINTERN, RSCP_ALL_ERRORS, 2, __LINE__, "KOVPARAM(rsts/ccc/cachesize) too large", "CQH", arg, -1);
            length = kMaxLength;
        } else {
            length = RoundUp(static_cast<uint32_t>(n), 16);
        }
    }
    int64_t cache07 = length / 10;
    const char* v07 = rscpParam("rsts/ccc/cache07");
    if (v07 != nullptr && v07[0] != '\0')
        cache07 = rscpDecimal(v07);
    if (cache07 < kMinCache07) {
        snprintfR(arg, sizeof arg, "cache07&%ld&%ld&", static_cast<long>(cache07), static_cast<long>(kMinCache07));
        return Error(RSCPEINTERN, RSCP_ALL_ERRORS, 3, __LINE__, "KOVPARAM(rsts/ccc/cache07) too small", "F24", arg, -1);
    }
    // The cache07 area lives inside the cache: more than half of it would
    // leave no room for the catalogue and the tables.
    if (cache07 > length / 2) {
        snprintfR(arg, sizeof arg, "cache07&%ld&%ld&", static_cast<long>(cache07), static_cast<long>(length / 2));
        return Error(RSCPEINTERN, RSCP_ALL_ERRORS, 4, __LINE__, "KOVPARAM(rsts/ccc/cache07) too large", "F24", arg, -1);
    }
    *lengthOut = length;
    *cache07Out = RoundUp(static_cast<uint32_t>(cache07), 16);
    return 0;
}

uint32_t find_kovcode_max(uint32_t* value)
{
    int64_t n = kMinKovCode;
    if (const char* v = rscpParam("rscp/ccc/max_intern_code"))
        n = std::max<int64_t>(n, rscpDecimal(v));
    // The header keeps it in 16 bits.
    *value = static_cast<uint32_t>(std::min<int64_t>(n, UINT16_MAX));
    return 0;
}

uint32_t find_uchar_max(uint32_t* value)
{
    int64_t n = kMinUchar;
    if (const char* v = rscpParam("rscp/ccc/max_intern_uchar"))
        n = std::max<int64_t>(n, rscpDecimal(v));
    *value = static_cast<uint32_t>(n);
    return 0;
}

void rscpip__read_pua_param(const char* name, uint32_t* value)
{
    const char* v = rscpParam(name);
    if (v == nullptr)
        return;
    const char* problem = nullptr;
    if (std::strlen(v) != 4) {
        problem = "length != 4";
    } else {
        char* end = nullptr;
        const unsigned long n = std::strtoul(v, &end, 16);
        if (end != v + 4 || !std::isxdigit(static_cast<unsigned char>(v[0])) || n < 0xE000 || n > 0xF8FF)
            problem = "range:E000..F8FF";
        else
            *value = static_cast<uint32_t>(n);
    }
    if (problem == nullptr)
        return;
    char text[80], block[64];
    snprintfR(text, sizeof text, "%.40s&%s&", name, problem);
    nlsui_str2fix(block, text, 64);
    rscph_HookTable.SyslogMsg(105, "E16", block);
}

uint32_t rscpic__init_cache(uint32_t length, uint32_t cache07, uint16_t maxKovCode, const char* memoryKind,
                            uint32_t mask)
{
    rscpCcc_t* c = rscpmp;
    // Memory that arrived zero-filled and was never used stays untouched:
    // its pages are mapped only where the build writes.
    if (!g_blockZeroed)
        std::memset(c, 0, length);
    g_blockZeroed = false;
    LayOutHeader(c, length, cache07, maxKovCode, memoryKind);

    uint32_t rc = rscplt00__load_tcp00(mask);
    if (rc != 0)
        return rc;
    std::qsort(reinterpret_cast<char*>(c) + c->cpListOffset, c->cpCount, sizeof(rscpCpInfo_t), rscpCmpCodePage);

    c->tcp01Offset = c->cpListOffset + c->cpCount * static_cast<uint32_t>(sizeof(rscpCpInfo_t));
    c->tcp01Room = MapRoom();
    if (static_cast<uint64_t>(c->tcp01Offset) + 3ull * c->tcp01Room > c->endT2)
        return TooSmall(length, mask, __LINE__);

    if ((rc = rscpli__reset(mask)) != 0 || (rc = rscplt01__load_tcp01(mask)) != 0 ||
        (rc = rscpt0d__take_system_language(mask)) != 0 || (rc = rscprtd__read_tcpdb(mask)) != 0 ||
        (rc = read_TCP0I(mask)) != 0)
        return rc;
    uint32_t rfc = 0;
    if (rscpgo_get_option(25, &rfc) == 0 && rfc != 0) {
        if ((rc = read_RFCDES(mask)) != 0)
            return rc;
        rscph_ClearRFCDES();
    }
    c->cccVersion = RSCP_CCC_LOADED;

    const uint64_t used = RoundUp(c->tcp01Offset + 3 * c->tcp01Room, RSCP_T1_BYTES);
    if (used > length - cache07)
        return TooSmall(length, mask, __LINE__);
    c->firstT1 = c->endT1 = static_cast<uint32_t>(used);
    c->reorgVersion = ++g_generation;
    c->cccVersion = RSCP_CCC_COMPLETE;
    return 0;
}

void rscpir__reinit_check()
{
    const char* textEnv = rscpParam("zemo/set_text_env_at_new_mode");
    const char* collate = rscpParam("install/collate/active");
    auto one = [](const char* v) { return v[0] == '1' && (v[1] == '\0' || v[1] == ' '); };
    if (textEnv != nullptr && !one(textEnv))
        Error(RSCPEINTERN, RSCP_ALL_ERRORS, 7, __LINE__, "KOVPARAM(zemo/set_text_env_at_new_mode) != '1'", "CP6",
              "zemo/set_text_env_at_new_mode != 1", -1);
    if (collate != nullptr && !one(collate))
        Error(RSCPEINTERN, RSCP_ALL_ERRORS, 8, __LINE__, "KOVPARAM(install/collate/active) != '1'", "CP6",
              "install/collate/active != 1", -1);
    if (textEnv != nullptr && collate != nullptr && std::strcmp(textEnv, collate) != 0)
        Error(RSCPEINTERN, RSCP_ALL_ERRORS, 9, __LINE__,
              "KOVPARAM: zemo/set_text_env_at_new_mode vs. install/collate/active", "CP6",
              "zemo/set_text_env_at_new_mode != install/collate/active", -1);
    uint32_t errors = 0, warnings = 0;
    rscpqc_quality_check(rscpe_call_output, rscpe_get_output_func(1), rscpe_call_output, rscpe_get_output_func(2), 3,
                         &errors, &warnings);
    if (errors != 0)
        rscpErrorOut("rscpmc:reinit: %9ld errors and %9ld warnings", static_cast<long>(errors),
                     static_cast<long>(warnings));
    else if (warnings != 0)
        rscpInfoOut("rscpmc:reinit: %9ld warnings", static_cast<long>(warnings));
}
