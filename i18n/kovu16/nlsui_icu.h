// Run-time loader of the external Unicode library (version 3.4: three shared
// objects whose symbols carry the suffix "_3_4") and the NLS trace levels.
//
// loadIcuDo binds the library's function groups into tables of function
// pointers, once per process; 7-bit mode (nlsui_set7bitUnicode before the
// first load) keeps everything unloaded.  The loader's trace lines go to
// standard error under nlsui_trace_level.
#pragma once

#include <cstddef>

// NLS trace levels.
constexpr int NLSUI_TRACE_NONE = 0;
constexpr int NLSUI_TRACE_LOW = 1;
constexpr int NLSUI_TRACE_MEDIUM = 4;
constexpr int NLSUI_TRACE_HIGH = 16;

extern int nlsui_trace_level;  // initially low

struct IcuLibInfo {
    const char* compiledVersion;  // "3.4"
    const char* requiredVersion;  // "3.4"
    const char* commonLib;        // "libicuuc.so.34"
    const char* dataLib;          // "libicudata.so.34"
    const char* i18nLib;          // "libicui18n.so.34"
};
const IcuLibInfo* nlsui_icuLibInfo();

// The function groups, in load order.
enum NlsuiIcuGroup {
    NLSUI_ICU_GENERAL,
    NLSUI_ICU_BIDI,
    NLSUI_ICU_SHAPING,
    NLSUI_ICU_NORMALIZATION,
    NLSUI_ICU_BREAK,
    NLSUI_ICU_IDNA,
    NLSUI_ICU_COLLATION,
    NLSUI_ICU_TRANSLITERATION,
    NLSUI_ICU_CALENDAR,
    NLSUI_ICU_GROUPS
};
// The group's table of resolved functions (null slots until loaded) and its
// length; the symbol names without their "_3_4" suffix.
void* const* nlsui_icuTable(NlsuiIcuGroup group, size_t* count);
const char* nlsui_icuSymbol(NlsuiIcuGroup group, size_t index);
// 1 when the group was loaded (the calendar group has no such flag: 0).
int nlsui_icuGroupLoaded(NlsuiIcuGroup group);
// -1 until that library and all its groups were loaded, then 0.
int nlsui_icuCommonStatus();
int nlsui_icuI18nStatus();

// 0 when the libraries were loaded, 1 when not.  With allowFailure 0 (low
// byte) a missing common library ends the process with status 255 unless
// NLSUI_7BIT_FALLBACK is set.
int loadIcuDo(int allowFailure);
int loadIcu(int flag);
int loadIcuProf();
void nlsui_set7bitUnicode();
int nlsui_resetIcuBusy();
// Stores the additional search directory; the result of strcpy_sR.
int nlsui_setIcuPath(const char* directory);
// Joins directory and file into out (4097 bytes); empty when too long.
void nlsui_joinPath(const char* directory, const char* file, char* out);
void nlsui_initTraceLevel();
void nlsui_setGmonOutPrefix();

int nlsui_loadIcuCommon(int allowFailure);
int nlsui_loadIcuI18n();
void nlsui_closeIcuI18n();

// Traced dynamic loading.
void* nlsui_dlopen(const char* file, const char* kind);
int nlsui_dlclose(void* handle);
void* nlsui_dlsym(void* handle, const char* name, void* dflt);
