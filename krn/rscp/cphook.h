// The host hooks of the code page library: one process-wide table of function
// pointers through which the library reaches memory, parameters, locks, the
// system log, the clock and tracing.  Every slot holds a default that lets the
// library run stand-alone; a host may install its own function with the slot's
// setter (NULL restores the default).
#pragma once

#include <cstdint>
#include <ctime>

struct rscpCtlRecord_t;

// Error-output functions (text, length; no line end in the text).
typedef void (*rscpeOutputFunc)(const char* text, int32_t length);
// A line sink: text, length and the output function it finally goes to.
typedef void (*rscpeSinkFunc)(const char* text, int32_t length, rscpeOutputFunc out);

struct rscphSyslogItem {
    int32_t length;
    const char* text;
};

typedef void* (*rscphAllocMemoryFunc)(uint32_t kind, uint32_t reserved, const char* tag8, uint64_t size, int32_t fill,
                                      int32_t location);
typedef int32_t (*rscphFreeMemoryFunc)(uint32_t kind, void* p, int32_t check, int32_t location);
typedef void (*rscphSyslogMsgFunc)(int32_t message, const char* msgid3, const char* block64);
typedef void (*rscphSyslogTextFunc)(const char* text, int32_t length);
typedef void (*rscphSyslogListFunc)(int32_t count, const rscphSyslogItem* items);
typedef void (*rscphTimestampFunc)(char* out16);
typedef uint32_t (*rscphSleepFunc)(uint32_t seconds);
typedef int32_t (*rscphTraceWantedFunc)();
typedef void (*rscphTraceFatalFunc)();
typedef void (*rscphTraceLineFunc)(int32_t level, const char* module, int32_t line, const char* text, int32_t length);
typedef void (*rscphTraceEnterFunc)(const char* function, int32_t minusOne, const char* arg, int32_t argLength,
                                    void* save);
typedef void (*rscphTraceExitFunc)(int32_t rc, const char* text, int32_t textLength, void* save);
typedef void (*rscphTraceSectionBeginFunc)(const char* name, void* save);
typedef void (*rscphTraceSectionEndFunc)(void* save);
typedef char* (*rscphSetLocaleFunc)(int32_t category, const char* locale);
typedef void (*rscphAbortFunc)(int32_t kind, const char* msgClass, int32_t msgNo, int32_t zero, int32_t two,
                               const char* arg1, int32_t len1, const char* arg2, int32_t len2);
typedef const char* (*rscphGetParameterFunc)(const char* name);
// The value of each level of a parameter (11, 13, 21, 23, 24, a flag byte, 31,
// 32, 33, 34, a flag byte, the effective value) into the pointers given.
typedef void (*rscphGetParameterDetailsFunc)(const char* name, const char** l11, const char** l13, const char** l21,
                                             const char** l23, const char** l24, uint8_t* flag1, const char** l31,
                                             const char** l32, const char** l33, const char** l34, uint8_t* flag2,
                                             const char** value);
typedef int32_t (*rscphCodePageFunc)(char* cp4);
typedef int32_t (*rscphLanguageFunc)(char* lang1);
typedef int32_t (*rscphEnvCodePageFunc)(char* cp4, const char* lang1);
typedef int32_t (*rscphLockFunc)(int32_t location, int32_t arg);
typedef int32_t (*rscphLockInfoFunc)(const char* heading, int32_t zero, rscpeSinkFunc sink, rscpeOutputFunc out,
                                     int32_t level, uint32_t* lines);
// Cache memory: the address, a status byte (1: the memory arrives zero-filled),
// a reuse byte (1: it already holds a built cache), the method's name into a
// buffer of methodSize bytes.
typedef int32_t (*rscphAllocateCCCCFunc)(void** address, uint8_t* status, uint8_t* reuse, char* method,
                                         int32_t methodSize, uint32_t size, int32_t location);
typedef int32_t (*rscphReleaseCCCCFunc)(void* address, int32_t reserved, uint8_t* released);
typedef uint32_t (*rscphWaitFunc)(uint32_t seconds);
typedef void (*rscphStateNotifyFunc)(int32_t flag);

struct rscph_HookTable_t {
    uint32_t option20;  // protect status of a new cache (1)
    uint32_t word2;     // 3
    rscpCtlRecord_t* ctl;
    rscphAllocMemoryFunc AllocMemory;
    rscphFreeMemoryFunc FreeMemory;
    rscphSyslogMsgFunc SyslogMsg;
    rscphSyslogTextFunc SyslogText;
    rscphSyslogListFunc SyslogList;
    rscphTimestampFunc Timestamp;
    uint8_t* traceFlags;  // byte 1 nonzero: function tracing on
    rscphSleepFunc Sleep;
    rscphTraceWantedFunc TraceWanted;
    rscphTraceFatalFunc TraceFatal;
    rscphTraceLineFunc TraceLine;
    rscphTraceEnterFunc TraceEnter;
    rscphTraceExitFunc TraceExit;
    rscphTraceSectionBeginFunc TraceSectionBegin;
    rscphTraceSectionEndFunc TraceSectionEnd;
    rscphSetLocaleFunc SetLocale;
    rscphAbortFunc Abort;
    rscphGetParameterFunc GetParameter;
    rscphGetParameterDetailsFunc GetParameterDetails;
    rscphCodePageFunc LocalCodePage;
    rscphLanguageFunc Language;
    rscphEnvCodePageFunc EnvCodePage;
    rscphLockFunc SemaInit1;
    rscphLockFunc SemaInit2;
    rscphLockFunc GetSema;
    rscphLockFunc ReleaseSema;
    rscphLockInfoFunc LockInfo;
    rscphLockFunc GetWritePermission;
    rscphLockFunc ReleaseWritePermission;
    rscphAllocateCCCCFunc AllocateCCCC;
    rscphReleaseCCCCFunc ReleaseCCCC;
    rscphWaitFunc WaitBeforeClearing;
    rscphStateNotifyFunc StateNotify;
};
extern rscph_HookTable_t rscph_HookTable;

// Function tracing is on while the second byte of the trace-flag area is set.
inline bool rscphTracing()
{
    return rscph_HookTable.traceFlags != nullptr && rscph_HookTable.traceFlags[1] != 0;
}

// The default Timestamp's form of a local time: 16 digits YYYYMMDDhhmmss00.
void rscphFormatTimestamp(const struct tm* tm, char* out16);

// The library's own cache memory: heap memory, zero-filled; method "malloc".
int32_t rscph_AllocateCCCC(void** address, uint8_t* status, uint8_t* reuse, char* method, int32_t methodSize,
                           uint32_t size, int32_t location);
int32_t rscph_ReleaseCCCC(void* address, int32_t reserved, uint8_t* released);
// True for the block that rscph_AllocateCCCC handed out and that is not yet
// released: private heap memory, whose pages never written read as zero.
bool rscphIsOwnBlock(const void* p);

// Setters: the slot's new function (NULL restores the default); each returns
// what the slot holds afterwards.
rscphAllocMemoryFunc rscph_SetAllocMemoryFunc(rscphAllocMemoryFunc f);
rscphFreeMemoryFunc rscph_SetFreeMemoryFunc(rscphFreeMemoryFunc f);
rscphSyslogMsgFunc rscph_SetSyslogMsgFunc(rscphSyslogMsgFunc f);
rscphSyslogTextFunc rscph_SetSyslogTextFunc(rscphSyslogTextFunc f);
rscphSyslogListFunc rscph_SetSyslogListFunc(rscphSyslogListFunc f);
rscphTimestampFunc rscph_SetTimestampFunc(rscphTimestampFunc f);
uint8_t* rscph_SetTraceFlagsPtr(uint8_t* flags);
rscphSleepFunc rscph_SetSleepFunc(rscphSleepFunc f);
rscphTraceWantedFunc rscph_SetTraceWantedFunc(rscphTraceWantedFunc f);
rscphTraceFatalFunc rscph_SetTraceFatalFunc(rscphTraceFatalFunc f);
rscphTraceLineFunc rscph_SetTraceLineFunc(rscphTraceLineFunc f);
rscphTraceEnterFunc rscph_SetTraceEnterFunc(rscphTraceEnterFunc f);
rscphTraceSectionBeginFunc rscph_SetTraceSectionBeginFunc(rscphTraceSectionBeginFunc f);
rscphTraceSectionEndFunc rscph_SetTraceSectionEndFunc(rscphTraceSectionEndFunc f);
rscphSetLocaleFunc rscph_SetSetLocaleFunc(rscphSetLocaleFunc f);
rscphAbortFunc rscph_SetAbortFunc(rscphAbortFunc f);
rscphGetParameterFunc rscph_SetGetParameterFunc(rscphGetParameterFunc f);
rscphGetParameterDetailsFunc rscph_SetGetParameterDetailsFunc(rscphGetParameterDetailsFunc f);
rscphCodePageFunc rscph_SetLocalCodePageFunc(rscphCodePageFunc f);
rscphLanguageFunc rscph_SetLanguageFunc(rscphLanguageFunc f);
rscphEnvCodePageFunc rscph_SetEnvCodePageFunc(rscphEnvCodePageFunc f);
rscphLockFunc rscph_SetSemaInit1Func(rscphLockFunc f);
rscphLockFunc rscph_SetSemaInit2Func(rscphLockFunc f);
rscphLockFunc rscph_SetGetSemaFunc(rscphLockFunc f);
rscphLockFunc rscph_SetReleaseSemaFunc(rscphLockFunc f);
rscphLockInfoFunc rscph_SetLockInfoFunc(rscphLockInfoFunc f);
rscphLockFunc rscph_SetGetWritePermissionFunc(rscphLockFunc f);
rscphLockFunc rscph_SetReleaseWritePermissionFunc(rscphLockFunc f);
rscphAllocateCCCCFunc rscph_SetAllocateCCCCFunc(rscphAllocateCCCCFunc f);
rscphReleaseCCCCFunc rscph_SetReleaseCCCCFunc(rscphReleaseCCCCFunc f);
rscphWaitFunc rscph_SetWaitBeforeClearingFunc(rscphWaitFunc f);
rscphStateNotifyFunc rscph_SetStateNotifyFunc(rscphStateNotifyFunc f);

rscphSyslogMsgFunc rscph_GetSyslogMsgFunc();
rscphSyslogTextFunc rscph_GetSyslogTextFunc();
rscphTimestampFunc rscph_GetTimestampFunc();
rscphTraceLineFunc rscph_GetTraceLineFunc();
rscphTraceEnterFunc rscph_GetTraceEnterFunc();
rscphTraceExitFunc rscph_GetTraceExitFunc();
rscphSetLocaleFunc rscph_GetSetLocaleFunc();

// Callbacks that frame the reading of the catalogue tables into the cache.
void rscph_ClearSystemLanguages();
void rscph_ClearTCPDB();
void rscph_ClearTCP0I();
void rscph_EndTCP0I();
void rscph_BeginRFCDES();
void rscph_EndRFCDES();
void rscph_ClearRFCDES();
