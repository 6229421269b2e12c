// The hook table and its defaults: heap memory, no parameter store, local code
// page "1100", language 'E', locks that always succeed, no tracing, and
// system-log messages written as text lines through the error-output
// functions of the recorder.
#include "krn/rscp/cphook.h"

#include <unistd.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <initializer_list>

#include "krn/rscp/cpcache.h"
#include "krn/rscp/cpccc.h"
#include "krn/rstr/contloct.h"

namespace {

const char kModule[] = "@(#) $Id: rscphook#1 $";

constexpr rscpCtlRecord_t InitialControlRecord()
{
    rscpCtlRecord_t c{};
    c.err = rscpeBlankRecord();
    return c;
}
rscpCtlRecord_t g_ctl = InitialControlRecord();

uint8_t g_traceFlags[8] = {};
uint8_t g_systemLanguagesMarker = 0;

void* AllocMemory(uint32_t, uint32_t, const char*, uint64_t size, int32_t fill, int32_t)
{
    void* p = std::malloc(size);
    if (p != nullptr && (fill & 0xFF) != 222)
        std::memset(p, fill & 0xFF, size);
    return p;
}

int32_t FreeMemory(uint32_t, void* p, int32_t check, int32_t)
{
    if (check != 254)
        return -1;
    std::free(p);
    return 0;
}

bool QuietId(const char* id)
{
    static const char* const quiet[] = {"CPS", "CPT", "E10", "E12"};
    for (const char* q : quiet)
        if (id != nullptr && std::memcmp(id, q, 3) == 0)
            return true;
    return false;
}

void SyslogMsg(int32_t message, const char* msgid, const char* block)
{
    char line[80];
    std::memcpy(line, "Syslog: ", 8);
    line[8] = static_cast<char>(message & 0xFF);
    line[9] = ' ';
    if (msgid != nullptr)
        std::memcpy(line + 10, msgid, 3);
    else
        std::memset(line + 10, ' ', 3);
    std::memcpy(line + 13, " : ", 3);
    if (block != nullptr)
        std::memcpy(line + 16, block, 64);
    else
        std::memset(line + 16, ' ', 64);
    rscpe_get_output_func(QuietId(msgid) ? 2 : 1)(line, 80);
}

// "Syslog: " and a prefix of n characters, then the text cut to cut bytes
// when it is longer than keep.
void SyslogLine(const char* prefix, int32_t prefixLength, const char* text, int32_t length, int32_t keep, int32_t cut)
{
    char line[200];
    if (text == nullptr || length < 0)
        length = 0;
    if (length > keep)
        length = cut;
    std::memcpy(line, prefix, static_cast<size_t>(prefixLength));
    if (length > 0)
        std::memcpy(line + prefixLength, text, static_cast<size_t>(length));
    rscpe_get_output_func(1)(line, prefixLength + length);
}

void SyslogText(const char* text, int32_t length)
{
    SyslogLine("Syslog: ", 8, text, length, 191, 192);
}

void SyslogList(int32_t count, const rscphSyslogItem* items)
{
    for (int32_t n = 1; items != nullptr && n <= count; ++n) {
        const char prefix[12] = {'S', 'y', 's', 'l', 'o', 'g', ':', ' ', 'p', static_cast<char>('0' + n), ':', ' '};
        SyslogLine(prefix, 12, items[n - 1].text, items[n - 1].length, 187, 188);
    }
}

void Timestamp(char* out)
{
    const time_t now = std::time(nullptr);
    struct tm tm { };
    if (ContLoctLocaltimeR(&now, &tm) == nullptr)
        std::memcpy(out, "2000010100000000", 16);
    else
        rscphFormatTimestamp(&tm, out);
}

uint32_t Sleep(uint32_t seconds)
{
    return ::sleep(seconds);
}
int32_t TraceWanted()
{
    return 0;
}
void TraceFatal() { }
void TraceLine(int32_t, const char*, int32_t, const char*, int32_t) { }
void TraceEnter(const char*, int32_t, const char*, int32_t, void*) { }
void TraceExit(int32_t, const char*, int32_t, void*) { }
void TraceSectionBegin(const char*, void*) { }
void TraceSectionEnd(void*) { }
char* SetLocale(int32_t category, const char* locale)
{
    return std::setlocale(category, locale);
}
[[noreturn]] void Abort(int32_t, const char*, int32_t, int32_t, int32_t, const char*, int32_t, const char*, int32_t)
{
    std::abort();
}
const char* GetParameter(const char*)
{
    return nullptr;
}

void GetParameterDetails(const char*, const char** l11, const char** l13, const char** l21, const char** l23,
                         const char** l24, uint8_t* flag1, const char** l31, const char** l32, const char** l33,
                         const char** l34, uint8_t* flag2, const char** value)
{
    for (const char** p : {l11, l13, l21, l23, l24, l31, l32, l33, l34, value})
        if (p != nullptr)
            *p = nullptr;
    if (flag1 != nullptr)
        *flag1 = 0;
    if (flag2 != nullptr)
        *flag2 = 0;
}

int32_t LocalCodePage(char* cp4)
{
    kovlcpGetLocalCodePage(cp4);
    return 128;
}
int32_t Language(char* lang)
{
    *lang = 'E';
    return 128;
}
int32_t EnvCodePage(char* cp4, const char*)
{
    std::memcpy(cp4, "0000", 4);
    return 128;
}
int32_t NoLock(int32_t, int32_t)
{
    return 0;
}

int32_t LockInfo(const char*, int32_t, rscpeSinkFunc sink, rscpeOutputFunc out, int32_t level, uint32_t* lines)
{
    static const char kText[] = "Neither semaphores nor mutexes are used.";
    if (level > 2 && sink != nullptr)
        sink(kText, 40, out);
    if (lines != nullptr)
        *lines = 0;
    return 0;
}

uint32_t WaitBeforeClearing(uint32_t seconds)
{
    char line[38];
    rscph_HookTable.Timestamp(line);
    std::memcpy(line + 16, " WaitBeforeClearing...", 22);
    rscpe_get_output_func(1)(line, 38);
    const uint32_t rc = rscph_HookTable.Sleep(seconds);
    rscph_HookTable.Timestamp(line);
    std::memcpy(line + 16, " ...Clearing CCCC now.", 22);
    rscpe_get_output_func(1)(line, 38);
    return rc;
}

void StateNotify(int32_t) { }

constexpr rscph_HookTable_t kDefaults = {1,
                                         3,
                                         &g_ctl,
                                         AllocMemory,
                                         FreeMemory,
                                         SyslogMsg,
                                         SyslogText,
                                         SyslogList,
                                         Timestamp,
                                         g_traceFlags,
                                         Sleep,
                                         TraceWanted,
                                         TraceFatal,
                                         TraceLine,
                                         TraceEnter,
                                         TraceExit,
                                         TraceSectionBegin,
                                         TraceSectionEnd,
                                         SetLocale,
                                         Abort,
                                         GetParameter,
                                         GetParameterDetails,
                                         LocalCodePage,
                                         Language,
                                         EnvCodePage,
                                         NoLock,
                                         NoLock,
                                         NoLock,
                                         NoLock,
                                         LockInfo,
                                         NoLock,
                                         NoLock,
                                         rscph_AllocateCCCC,
                                         rscph_ReleaseCCCC,
                                         WaitBeforeClearing,
                                         StateNotify};

// The block the default cache memory hook handed out (private heap memory).
const void* g_ownBlock = nullptr;

}  // namespace

rscph_HookTable_t rscph_HookTable = kDefaults;

int32_t rscph_AllocateCCCC(void** address, uint8_t* status, uint8_t* reuse, char* method, int32_t methodSize,
                           uint32_t size, int32_t location)
{
    if (rscphTracing())
        rscph_HookTable.TraceEnter("rscph_AllocateCCCC", -1, nullptr, 0, nullptr);
    *address = nullptr;
    *status = 0;
    *reuse = 0;
    if (method != nullptr && methodSize > 0) {
        std::memset(method, 0, static_cast<size_t>(methodSize));
        std::strncpy(method, "malloc", static_cast<size_t>(methodSize - 1));
    }
    // Zero-filled heap memory: fresh pages stay untouched until used.
    void* p = std::calloc(size, 1);
    uint32_t rc = 0;
    if (p != nullptr) {
        *address = p;
        *status = 1;
        g_ownBlock = p;
    } else {
        rc = rscpe__error(RSCPENOMEM, 'C', RSCP_ALL_ERRORS, kModule, location, 1121,
                          "cannot malloc for char code convert cache", "F33", nullptr, 0, nullptr, 0);
    }
    if (rscphTracing())
        rscph_HookTable.TraceExit(static_cast<int32_t>(rc), nullptr, 0, nullptr);
    return static_cast<int32_t>(rc);
}

int32_t rscph_ReleaseCCCC(void* address, int32_t, uint8_t* released)
{
    if (rscphTracing())
        rscph_HookTable.TraceEnter("rscph_ReleaseCCCC", -1, nullptr, 0, nullptr);
    if (address == g_ownBlock)
        g_ownBlock = nullptr;
    std::free(address);
    if (released != nullptr)
        *released = 1;
    if (rscphTracing())
        rscph_HookTable.TraceExit(0, nullptr, 0, nullptr);
    return 0;
}

// The year is printed whole, so that dates before 2000 read as such.
void rscphFormatTimestamp(const struct tm* tm, char* out)
{
    char text[64];
    int year = tm->tm_year + 1900;
    year = year < 0 ? 0 : year > 9999 ? 9999 : year;
    std::snprintf(text, sizeof text, "%04d%02d%02d%02d%02d%02d00", year, (tm->tm_mon + 1) % 100, tm->tm_mday % 100,
                  tm->tm_hour % 100, tm->tm_min % 100, tm->tm_sec % 100);
    std::memcpy(out, text, 16);
}

bool rscphIsOwnBlock(const void* p)
{
    return p != nullptr && p == g_ownBlock;
}

#define RSCPH_SETTER(Slot, Type) \
    Type rscph_Set##Slot##Func(Type f) \
    { \
        rscph_HookTable.Slot = f != nullptr ? f : kDefaults.Slot; \
        return rscph_HookTable.Slot; \
    }
RSCPH_SETTER(AllocMemory, rscphAllocMemoryFunc)
RSCPH_SETTER(FreeMemory, rscphFreeMemoryFunc)
RSCPH_SETTER(SyslogMsg, rscphSyslogMsgFunc)
RSCPH_SETTER(SyslogText, rscphSyslogTextFunc)
RSCPH_SETTER(SyslogList, rscphSyslogListFunc)
RSCPH_SETTER(Timestamp, rscphTimestampFunc)
RSCPH_SETTER(Sleep, rscphSleepFunc)
RSCPH_SETTER(TraceWanted, rscphTraceWantedFunc)
RSCPH_SETTER(TraceFatal, rscphTraceFatalFunc)
RSCPH_SETTER(TraceLine, rscphTraceLineFunc)
RSCPH_SETTER(TraceEnter, rscphTraceEnterFunc)
RSCPH_SETTER(TraceSectionBegin, rscphTraceSectionBeginFunc)
RSCPH_SETTER(TraceSectionEnd, rscphTraceSectionEndFunc)
RSCPH_SETTER(SetLocale, rscphSetLocaleFunc)
RSCPH_SETTER(Abort, rscphAbortFunc)
RSCPH_SETTER(GetParameter, rscphGetParameterFunc)
RSCPH_SETTER(GetParameterDetails, rscphGetParameterDetailsFunc)
RSCPH_SETTER(LocalCodePage, rscphCodePageFunc)
RSCPH_SETTER(Language, rscphLanguageFunc)
RSCPH_SETTER(EnvCodePage, rscphEnvCodePageFunc)
RSCPH_SETTER(SemaInit1, rscphLockFunc)
RSCPH_SETTER(SemaInit2, rscphLockFunc)
RSCPH_SETTER(GetSema, rscphLockFunc)
RSCPH_SETTER(ReleaseSema, rscphLockFunc)
RSCPH_SETTER(LockInfo, rscphLockInfoFunc)
RSCPH_SETTER(GetWritePermission, rscphLockFunc)
RSCPH_SETTER(ReleaseWritePermission, rscphLockFunc)
RSCPH_SETTER(AllocateCCCC, rscphAllocateCCCCFunc)
RSCPH_SETTER(ReleaseCCCC, rscphReleaseCCCCFunc)
RSCPH_SETTER(WaitBeforeClearing, rscphWaitFunc)
RSCPH_SETTER(StateNotify, rscphStateNotifyFunc)
#undef RSCPH_SETTER

uint8_t* rscph_SetTraceFlagsPtr(uint8_t* flags)
{
    rscph_HookTable.traceFlags = flags != nullptr ? flags : g_traceFlags;
    return rscph_HookTable.traceFlags;
}

rscphSyslogMsgFunc rscph_GetSyslogMsgFunc()
{
    return rscph_HookTable.SyslogMsg;
}
rscphSyslogTextFunc rscph_GetSyslogTextFunc()
{
    return rscph_HookTable.SyslogText;
}
rscphTimestampFunc rscph_GetTimestampFunc()
{
    return rscph_HookTable.Timestamp;
}
rscphTraceLineFunc rscph_GetTraceLineFunc()
{
    return rscph_HookTable.TraceLine;
}
rscphTraceEnterFunc rscph_GetTraceEnterFunc()
{
    return rscph_HookTable.TraceEnter;
}
rscphTraceExitFunc rscph_GetTraceExitFunc()
{
    return rscph_HookTable.TraceExit;
}
rscphSetLocaleFunc rscph_GetSetLocaleFunc()
{
    return rscph_HookTable.SetLocale;
}

// ---- callbacks of the table reading ------------------------------------------

void rscph_ClearSystemLanguages()
{
    g_systemLanguagesMarker = 0;
}

void rscph_ClearTCPDB()
{
    if (rscpmp != nullptr) {
        rscpmp->tcpdbCount = 0;
        rscpmp->dbCpCount = 0;
    }
}

void rscph_ClearTCP0I()
{
    rscpCcc_t* c = rscpmp;
    if (c == nullptr)
        return;
    std::memset(c->legacyCp, ' ', 4);
    c->procLangState = c->procLangOffset = c->procLangLength = 0;
    c->utf8guiAllow = c->rtlinltrAllow = c->indicDigits = c->bidiCtrlFilter = c->normalizeInput = 0;
    c->cfontCacheVersion = 0;
}

void rscph_EndTCP0I() { }
void rscph_BeginRFCDES() { }
void rscph_EndRFCDES() { }

void rscph_ClearRFCDES()
{
    if (rscpmp != nullptr)
        std::memset(rscpmp->rfcDes, 0, sizeof rscpmp->rfcDes);
}
