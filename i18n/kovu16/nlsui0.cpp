// Run-time loader of the external Unicode library and the NLS trace levels.
#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "i18n/kovu16/nlsui_icu.h"
#include "i18n/kovu16/u16_diag.h"
#include "nls/kovstr.h"

int nlsui_trace_level = NLSUI_TRACE_LOW;

namespace {

constexpr size_t kPathSize = 4097;
constexpr char kSource[] = "nlsui0.cpp";

const IcuLibInfo kLibInfo = {"3.4", "3.4", "libicuuc.so.34", "libicudata.so.34", "libicui18n.so.34"};

// ---- the function groups ---------------------------------------------------------

const char* const kGeneral[] = {"u_versionToString",
                                "u_errorName",
                                "u_getVersion",
                                "u_getUnicodeVersion",
                                "u_charType",
                                "u_getIntPropertyValue",
                                "u_charDirection",
                                "u_getPropertyEnum",
                                "u_getPropertyValueName",
                                "u_setMemoryFunctions",
                                "u_init",
                                "u_cleanup",
                                "uenum_unext",
                                "uenum_count",
                                "u_strToUpper"};
const char* const kBidi[] = {"ubidi_open",         "ubidi_close",          "ubidi_setInverse",
                             "ubidi_setPara",      "ubidi_writeReordered", "ubidi_getLogicalMap",
                             "ubidi_getVisualMap", "ubidi_getLevelAt",     "u_charMirror"};
const char* const kShaping[] = {"u_shapeArabic"};
const char* const kNormalization[] = {"unorm_normalize",
                                      "unorm_quickCheck",
                                      "unorm_quickCheckWithOptions",
                                      "unorm_isNormalized",
                                      "unorm_isNormalizedWithOptions",
                                      "unorm_next",
                                      "unorm_previous",
                                      "unorm_concatenate",
                                      "unorm_compare"};
const char* const kBreak[] = {"ubrk_open",          "ubrk_openRules",       "ubrk_safeClone",
                              "ubrk_close",         "ubrk_setText",         "ubrk_current",
                              "ubrk_next",          "ubrk_previous",        "ubrk_first",
                              "ubrk_last",          "ubrk_preceding",       "ubrk_following",
                              "ubrk_getAvailable",  "ubrk_countAvailable",  "ubrk_isBoundary",
                              "ubrk_getRuleStatus", "ubrk_getLocaleByType", "uloc_getDefault"};
const char* const kIdna[] = {"uidna_toASCII", "uidna_toUnicode", "uidna_IDNToASCII", "uidna_IDNToUnicode",
                             "uidna_compare"};
const char* const kCollation[] = {"ucol_open",        "ucol_strcoll",    "ucol_close",
                                  "ucol_setStrength", "ucol_getSortKey", "ucol_getLocaleByType"};
const char* const kTransliteration[] = {"utrans_openU",        "utrans_openInverse", "utrans_close",
                                        "utrans_getUnicodeID", "utrans_setFilter",   "utrans_countAvailableIDs",
                                        "utrans_openIDs",      "utrans_transUChars"};
const char* const kCalendar[] = {"ucal_getAvailable", "ucal_countAvailable", "ucal_open", "ucal_close",
                                 "ucal_set",          "ucal_setDate",        "ucal_get",  "ucal_getMillis",
                                 "ucal_setMillis"};

struct Group {
    const char* const* symbols;
    size_t count;
    void* slots[18];
    int loaded;
};

#define KOV_GROUP(list) \
    { \
        list, sizeof(list) / sizeof(list[0]), {}, 0 \
    }
Group groups[NLSUI_ICU_GROUPS] = {
    KOV_GROUP(kGeneral), KOV_GROUP(kBidi), KOV_GROUP(kShaping),   KOV_GROUP(kNormalization),
    KOV_GROUP(kBreak),   KOV_GROUP(kIdna), KOV_GROUP(kCollation), KOV_GROUP(kTransliteration),
    KOV_GROUP(kCalendar)};
#undef KOV_GROUP

// ---- process state -----------------------------------------------------------------

bool seven_bit = false;
bool init_trace_done = false;
bool trace_env_absent = false;
char icu_path_buf[4098];
const char* icu_path = nullptr;
void* common_handle = nullptr;
void* i18n_handle = nullptr;
int common_status = -1;
int i18n_status = -1;
bool common_done = false;
bool common_busy = false;
bool i18n_done = false;
bool gmon_done = false;
// The error text of the last symbol nlsui_dlsym did not find (empty when the
// system gave none; cut when longer): reading it clears the system's, so it
// is kept here.
char dlsym_error[kPathSize + 256];

// One trace line on standard error, when the NLS level reaches level.
__attribute__((format(printf, 3, 4))) void trace(int level, int line, const char* fmt, ...)
{
    if (nlsui_trace_level < level)
        return;
    char msg[8192];
    va_list ap;
    va_start(ap, fmt);
    vsnprintfTruncR(msg, sizeof msg, fmt, ap);
    va_end(ap);
    const size_t len = strnlenR(msg, sizeof msg);
    fputs(msg, stderr);
    if (nlsui_trace_level >= NLSUI_TRACE_MEDIUM && len < 79)
        fprintf(stderr, "%*s", static_cast<int>(79 - len), "");
    fprintf(stderr, " [%s %d] pid = %d\n", kSource, line, static_cast<int>(getpid()));
}

const char* env_or(const char* name, const char* dflt)
{
    const char* v = getenv(name);
    return v != nullptr ? v : dflt;
}

// The level named by one of the four words, else dflt.
int level_word(const char* v, int dflt)
{
    if (std::strcmp(v, "none") == 0)
        return NLSUI_TRACE_NONE;
    if (std::strcmp(v, "low") == 0)
        return NLSUI_TRACE_LOW;
    if (std::strcmp(v, "medium") == 0)
        return NLSUI_TRACE_MEDIUM;
    if (std::strcmp(v, "high") == 0)
        return NLSUI_TRACE_HIGH;
    return dflt;
}

// Resolves one group's symbols into its slots; -1 at the first missing one.
int load_group(void* handle, Group& g)
{
    for (size_t i = 0; i < g.count; ++i) {
        char name[64];
        snprintfTruncR(name, sizeof name, "%s_3_4", g.symbols[i]);
        g.slots[i] = nlsui_dlsym(handle, name, nullptr);
        if (g.slots[i] == nullptr) {
            trace(NLSUI_TRACE_LOW, __LINE__, "symbol load \"%s\" failed", name);
            trace(NLSUI_TRACE_LOW, __LINE__, "Error Message: %s",
                  dlsym_error[0] != '\0' ? dlsym_error : "<no error message>");
            return -1;
        }
    }
    g.loaded = 1;
    return 0;
}

// The running library's version or Unicode version through its own functions.
void trace_version(const char* what, int group_index)
{
    using GetVersion = void (*)(unsigned char*);
    using ToString = void (*)(const unsigned char*, char*);
    auto get = reinterpret_cast<GetVersion>(groups[NLSUI_ICU_GENERAL].slots[group_index]);
    auto str = reinterpret_cast<ToString>(groups[NLSUI_ICU_GENERAL].slots[0]);
    unsigned char v[4] = {};
    char text[64] = {};
    get(v);
    str(v, text);
    text[sizeof text - 1] = '\0';
    trace(NLSUI_TRACE_MEDIUM, __LINE__, "%s %s", what, text);
}

}  // namespace

const IcuLibInfo* nlsui_icuLibInfo()
{
    return &kLibInfo;
}

void* const* nlsui_icuTable(NlsuiIcuGroup group, size_t* count)
{
    if (count != nullptr)
        *count = groups[group].count;
    return groups[group].slots;
}

const char* nlsui_icuSymbol(NlsuiIcuGroup group, size_t index)
{
    return index < groups[group].count ? groups[group].symbols[index] : nullptr;
}

int nlsui_icuGroupLoaded(NlsuiIcuGroup group)
{
    return group == NLSUI_ICU_CALENDAR ? 0 : groups[group].loaded;
}

int nlsui_icuCommonStatus()
{
    return common_status;
}
int nlsui_icuI18nStatus()
{
    return i18n_status;
}

void nlsui_initTraceLevel()
{
    if (init_trace_done)
        return;
    init_trace_done = true;
    const char* v = getenv("NLSUI_INIT_TRACE_LEVEL");
    if (v == nullptr)
        return;
    nlsui_trace_level = level_word(v, nlsui_trace_level);
    if (nlsui_trace_level == NLSUI_TRACE_HIGH && std::strcmp(v, "high") == 0) {
        fputc('\n', stderr);
        trace(NLSUI_TRACE_HIGH, __LINE__, "NLSUI_INIT_TRACE_LEVEL set to 'high'");
    }
}

void nlsui_set7bitUnicode()
{
    nlsui_initTraceLevel();
    trace(NLSUI_TRACE_HIGH, __LINE__, "nlsui_set7bitUnicode() is called");
    seven_bit = true;
}

int nlsui_resetIcuBusy()
{
    common_busy = false;
    return 0;
}

int nlsui_setIcuPath(const char* directory)
{
    const int r = strcpy_sR(icu_path_buf, sizeof icu_path_buf, directory);
    icu_path = icu_path_buf;
    return r;
}

void nlsui_joinPath(const char* directory, const char* file, char* out)
{
    // The directory may lie inside out: it is read before out is written.
    char dir[kPathSize];
    strncpy_sR(dir, sizeof dir, directory, sizeof dir - 1);
    const size_t dlen = strnlenR(directory, kPathSize + 1), flen = strnlenR(file, kPathSize + 1);
    out[0] = '\0';
    if (dlen + flen + 2 >= 4098) {
        trace(NLSUI_TRACE_LOW, __LINE__, "Path %s/%s exceeds MAX_PATH_LN", dir, file);
        return;
    }
    strcpy_sR(out, kPathSize, dir);
    if (dlen > 0 && dir[dlen - 1] != '/')
        strcat_sR(out, kPathSize, "/");
    strcat_sR(out, kPathSize, file);
}

void* nlsui_dlopen(const char* file, const char* kind)
{
    void* h = dlopen(file, RTLD_LAZY);
    if (h != nullptr) {
        trace(NLSUI_TRACE_HIGH, __LINE__, "Library handle for %s: %p", file, h);
    } else {
        const char* err = dlerror();
        trace(NLSUI_TRACE_HIGH, __LINE__, "Could not open %s shared library %s", kind, file);
        trace(NLSUI_TRACE_HIGH, __LINE__, "Error message: \"%s\"", err != nullptr ? err : "<no error message>");
    }
    return h;
}

int nlsui_dlclose(void* handle)
{
    const int r = dlclose(handle);
    if (r != 0) {
        const char* err = dlerror();
        trace(NLSUI_TRACE_HIGH, __LINE__, "Could not close shared library handle %p", handle);
        trace(NLSUI_TRACE_HIGH, __LINE__, "Error message: %s", err != nullptr ? err : "<no error message>");
    }
    return r;
}

void* nlsui_dlsym(void* handle, const char* name, void* dflt)
{
    dlerror();
    void* p = dlsym(handle, name);
    if (p != nullptr) {
        trace(NLSUI_TRACE_HIGH, __LINE__, "Function pointer for %s: %p", name, p);
        return p;
    }
    const char* err = dlerror();
    strncpy_sR(dlsym_error, sizeof dlsym_error, err != nullptr ? err : "", sizeof dlsym_error - 1);
    trace(NLSUI_TRACE_MEDIUM, __LINE__, "dlsym %s failed with error: %s", name,
          err != nullptr ? err : "<no error message>");
    return dflt;
}

int nlsui_loadIcuCommon(int allowFailure)
{
    if (common_done)
        return common_status;
    common_busy = true;
    const char* ldpath = env_or("LD_LIBRARY_PATH", "<not set>");
    trace(NLSUI_TRACE_HIGH, __LINE__, "Program is compiled with ICU version %s", kLibInfo.compiledVersion);
    trace(NLSUI_TRACE_HIGH, __LINE__, "Required ICU library files: %s %s %s", kLibInfo.commonLib, kLibInfo.dataLib,
          kLibInfo.i18nLib);
    trace(NLSUI_TRACE_HIGH, __LINE__, "%s", "");
    trace(NLSUI_TRACE_MEDIUM, __LINE__, "Searching for libicuuc in environment path LD_LIBRARY_PATH");
    trace(NLSUI_TRACE_HIGH, __LINE__, "LD_LIBRARY_PATH is set to %s ", ldpath);
    void* h = nlsui_dlopen(kLibInfo.commonLib, "ICU");
    if (h != nullptr) {
        trace(NLSUI_TRACE_MEDIUM, __LINE__, "Loaded ICU common lib: %s", kLibInfo.commonLib);
    } else if (icu_path != nullptr) {
        char path[kPathSize];
        trace(NLSUI_TRACE_MEDIUM, __LINE__, "Searching for libicuuc in additional path %s", icu_path);
        nlsui_joinPath(icu_path, kLibInfo.dataLib, path);
        // The data library stays open for the common library; its handle is not kept.
        if (path[0] != '\0' && nlsui_dlopen(path, "ICU") != nullptr)
            trace(NLSUI_TRACE_MEDIUM, __LINE__, "Loaded ICU data lib: %s", path);
        nlsui_joinPath(icu_path, kLibInfo.commonLib, path);
        if (path[0] != '\0')
            h = nlsui_dlopen(path, "ICU");
        if (h != nullptr)
            trace(NLSUI_TRACE_MEDIUM, __LINE__, "Loaded ICU common lib: %s", path);
    }
    if (h == nullptr) {
        trace(NLSUI_TRACE_LOW, __LINE__,
              "Could not open the ICU common library.\n   The following files must be in the path described by\n"
              "   the environment variable \"LD_LIBRARY_PATH\":\n   %s, %s, %s",
              kLibInfo.commonLib, kLibInfo.dataLib, kLibInfo.i18nLib);
        trace(NLSUI_TRACE_LOW, __LINE__, "LD_LIBRARY_PATH is currently set to %s ", ldpath);
        common_handle = nullptr;
        if ((allowFailure & 0xFF) == 0) {
            if (getenv("NLSUI_7BIT_FALLBACK") == nullptr) {
                trace(NLSUI_TRACE_HIGH, __LINE__,
                      "Terminating.\n   You may set the environment variable NLSUI_7BIT_FALLBACK to run the program\n"
                      "   without the ICU libraries in an emergency mode.");
                exit(-1);
            }
            trace(NLSUI_TRACE_LOW, __LINE__, "Environment variable NLSUI_7BIT_FALLBACK is set.");
        }
        common_done = true;
        return 1;
    }
    common_handle = h;
    for (int g = NLSUI_ICU_GENERAL; g <= NLSUI_ICU_IDNA; ++g) {
        if (load_group(h, groups[g]) != 0) {
            common_done = true;
            return 1;
        }
    }
    trace(NLSUI_TRACE_MEDIUM, __LINE__, "Compiled with ICU version %s", kLibInfo.compiledVersion);
    if (nlsui_trace_level >= NLSUI_TRACE_MEDIUM) {
        trace_version("Running with ICU version", 2);
        trace_version("ICU uses Unicode version", 3);
    }
    common_done = true;
    common_busy = false;
    common_status = 0;
    return 0;
}

void nlsui_closeIcuI18n()
{
    trace(NLSUI_TRACE_LOW, __LINE__, "libicui18n.so.34 is closed again");
    if (i18n_handle != nullptr) {
        nlsui_dlclose(i18n_handle);
        i18n_handle = nullptr;
    }
}

int nlsui_loadIcuI18n()
{
    if (i18n_done)
        return i18n_status;
    if (common_handle == nullptr) {
        i18n_handle = nullptr;
        i18n_done = true;
        return 1;
    }
    trace(NLSUI_TRACE_MEDIUM, __LINE__, "Searching for libicui18n in environment path LD_LIBRARY_PATH");
    trace(NLSUI_TRACE_HIGH, __LINE__, "LD_LIBRARY_PATH is set to %s ", env_or("LD_LIBRARY_PATH", "<not set>"));
    i18n_handle = nlsui_dlopen(kLibInfo.i18nLib, "ICU");
    if (i18n_handle != nullptr) {
        trace(NLSUI_TRACE_MEDIUM, __LINE__, "Loaded ICU i18n lib: %s from environment path", kLibInfo.i18nLib);
    } else if (icu_path != nullptr) {
        char path[kPathSize];
        trace(NLSUI_TRACE_MEDIUM, __LINE__, "Searching for libicui18n in additional path %s", icu_path);
        nlsui_joinPath(icu_path, kLibInfo.i18nLib, path);
        if (path[0] != '\0')
            i18n_handle = nlsui_dlopen(path, "ICU");
        if (i18n_handle != nullptr)
            trace(NLSUI_TRACE_MEDIUM, __LINE__, "Loaded ICU I18n lib: %s", path);
    }
    if (i18n_handle == nullptr) {
        trace(NLSUI_TRACE_LOW, __LINE__, "Could not open the ICU i18n library");
        nlsui_closeIcuI18n();
        i18n_done = true;
        return 1;
    }
    const bool ok = (groups[NLSUI_ICU_GENERAL].loaded != 0 ||
                     load_group(i18n_handle, groups[NLSUI_ICU_GENERAL]) == 0) &&
                    load_group(i18n_handle, groups[NLSUI_ICU_COLLATION]) == 0 &&
                    load_group(i18n_handle, groups[NLSUI_ICU_TRANSLITERATION]) == 0 &&
                    load_group(i18n_handle, groups[NLSUI_ICU_CALENDAR]) == 0;
    if (!ok) {
        nlsui_closeIcuI18n();
        i18n_done = true;
        return 1;
    }
    i18n_done = true;
    i18n_status = 0;
    return 0;
}

int loadIcuDo(int allowFailure)
{
    nlsui_initTraceLevel();
    if (!trace_env_absent) {
        const char* v = getenv("NLSUI_TRACE_LEVEL");
        if (v == nullptr) {
            trace_env_absent = true;
        } else {
            const int level = level_word(v, u16_trace_level);
            u16_trace_level = 0;
            u16_setTraceLevel(level, nullptr);
        }
    }
    trace(NLSUI_TRACE_HIGH, __LINE__, "loadIcuDo() is called");
    if (seven_bit) {
        trace(NLSUI_TRACE_HIGH, __LINE__, "ICU shared libraries are not loaded");
        return 1;
    }
    const int common = nlsui_loadIcuCommon(allowFailure & 0xFF);
    nlsui_loadIcuI18n();
    if (common != 0) {
        trace(NLSUI_TRACE_LOW, __LINE__, "ICU shared libraries are not loaded");
        for (Group& g : groups)
            g.loaded = 0;
        return 1;
    }
    return 0;
}

int loadIcu(int flag)
{
    return loadIcuDo(flag & 0xFF);
}

int loadIcuProf()
{
    const int r = loadIcuDo(0);
    nlsui_setGmonOutPrefix();
    return r;
}

void nlsui_setGmonOutPrefix()
{
    if (gmon_done)
        return;
    gmon_done = true;
    const char* prefix = getenv("GMON_OUT_PREFIX");
    if (prefix == nullptr)
        return;
    char cmd[513] = {};
    char file[64];
    snprintfTruncR(file, sizeof file, "/proc/%lu/cmdline", static_cast<unsigned long>(getpid()));
    ssize_t n = 0;
    const int fd = open(file, O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        n = read(fd, cmd, 512);
        close(fd);
    }
    const char* name = "unknown";
    if (n > 0) {
        cmd[n] = '\0';  // the first argument ends at its own NUL
        const char* slash = std::strrchr(cmd, '/');
        const char* base = slash != nullptr ? slash + 1 : cmd;
        if (*base != '\0')
            name = base;
    }
    char value[256];
    snprintfTruncR(value, sizeof value, "%s_%s", prefix, name);
    char assignment[512];
    snprintfTruncR(assignment, sizeof assignment, "%s=%s", "GMON_OUT_PREFIX", value);
    // putenv keeps the string: it stays allocated for the life of the process.
    char* copy = strdup(assignment);
    if (copy != nullptr)
        putenv(copy);
}
