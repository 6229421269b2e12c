// Reading profile parameters: by name as text, number, boolean or composed
// path, by index, and by iteration in name order.
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "flat/kovparam_int.h"
#include "nls/kovcase.h"
#include "nls/kovstr.h"

namespace {

KovParamRecord* Get(const char* name)
{
    if (g_kp.pending)
        kovparam_init();
    return KovParamLookup(name);
}

bool SameText(const char* a, const char* b)
{
    return a == b || (a && b && strcmp(a, b) == 0);
}

bool IsUnknownMarker(const char* v)
{
    return v && strcmp(v, kKovParamUnknown) == 0;
}

int IterCount()
{
    return g_kp.countHook ? g_kp.countHook() : g_kp.count;
}

KovParamRecord* IterTable()
{
    return g_kp.tableHook ? g_kp.tableHook : g_kp.records;
}

KovParamRecord* IterNextRecord()
{
    if (g_kp.pending)
        kovparam_init();
    KovParamRecord* table = IterTable();
    if (!table || g_kp.cursor < 0 || g_kp.cursor >= IterCount())
        return nullptr;
    KovParamRecord* rec = &table[g_kp.cursor];
    if (g_kp.prefixLen > 0 && strncmp(rec->name, g_kp.prefix, g_kp.prefixLen) > 0)
        return nullptr;
    ++g_kp.cursor;
    return rec;
}

void Put(const char** out, const char* value)
{
    if (out)
        *out = value;
}

// The next record with its name put out, or null with every out null.
KovParamRecord* IterStep(const char** name, const char** value, const char** defaultValue)
{
    KovParamRecord* rec = IterNextRecord();
    Put(name, rec ? rec->name : nullptr);
    if (!rec) {
        Put(value, nullptr);
        Put(defaultValue, nullptr);
    }
    return rec;
}

int IterNext(const char** name, const char** cmdValue, const char** defaultValue, bool raw)
{
    KovParamRecord* rec = IterStep(name, cmdValue, defaultValue);
    if (!rec)
        return 0;
    if (IsUnknownMarker(rec->level11)) {
        Put(cmdValue, rec->level32);
        Put(defaultValue, nullptr);
        return 1;
    }
    const char* dflt = rec->level21;
    if (!raw && dflt && strcmp(dflt, "(Default)") == 0)
        dflt = rec->level13;
    Put(defaultValue, dflt);
    if (SameText(rec->level11, rec->level32)) {
        Put(cmdValue, nullptr);
        return 2;
    }
    Put(cmdValue, rec->level32);
    return 3;
}

}  // namespace

const char* kovparam_get(const char* name)
{
    KovParamRecord* rec = Get(name);
    return rec ? rec->effective : nullptr;
}

const KovParamRecord* kovparam_get_record(const char* name)
{
    return Get(name);
}

const char* kovparam_get_builtin(const char* name)
{
    KovParamRecord* rec = Get(name);
    return rec ? rec->level11 : nullptr;
}

const char* kovparam_get_default_profile_value(const char* name)
{
    KovParamRecord* rec = Get(name);
    return rec ? rec->level24 : nullptr;
}

void kovparam_get_all_levels(const char* name, const char** l11, const char** l13, const char** l21, const char** l23,
                             const char** l24, unsigned char* resolved2, const char** l31, const char** l32,
                             const char** l33, const char** l34, unsigned char* resolved3, const char** effective)
{
    KovParamRecord* rec = Get(name);
    Put(l11, rec ? rec->level11 : nullptr);
    Put(l13, rec ? rec->level13 : nullptr);
    Put(l21, rec ? rec->level21 : nullptr);
    Put(l23, rec ? rec->level23 : nullptr);
    Put(l24, rec ? rec->level24 : nullptr);
    if (resolved2)
        *resolved2 = rec ? rec->resolved2 : 0;
    Put(l31, rec ? rec->level31 : nullptr);
    Put(l32, rec ? rec->level32 : nullptr);
    Put(l33, rec ? rec->level33 : nullptr);
    Put(l34, rec ? rec->level34 : nullptr);
    if (resolved3)
        *resolved3 = rec ? rec->resolved3 : 0;
    Put(effective, rec ? rec->effective : nullptr);
}

int kovparam_get_number(const char* name, int64_t* value)
{
    const char* text = kovparam_get(name);
    if (!text || !value)
        return -1;
    errno = 0;
    char* rest = nullptr;
    long long n = strtoll(text, &rest, 10);
    if (errno == ERANGE)
        return -1;
    while (*rest == ' ' || *rest == '\t')
        ++rest;
    long long unit = 1;
    if (!strcmp(rest, "K") || !strcmp(rest, "k") || !strcmp(rest, "KB") || !strcmp(rest, "kb"))
        unit = 1024LL;
    else if (!strcmp(rest, "M") || !strcmp(rest, "m") || !strcmp(rest, "MB") || !strcmp(rest, "mb"))
        unit = 1024LL * 1024;
    else if (!strcmp(rest, "G") || !strcmp(rest, "g") || !strcmp(rest, "GB") || !strcmp(rest, "gb"))
        unit = 1024LL * 1024 * 1024;
    long long result;
    if (__builtin_mul_overflow(n, unit, &result))
        return -1;
    *value = result;
    return 0;
}

int kovparam_get_bool(const char* name)
{
    const char* text = kovparam_get(name);
    if (!text)
        return 2;
    char word[128];
    strcpy_sR(word, sizeof word, text);
    struprR(word);
    if (!strcmp(word, "ON") || !strcmp(word, "YES") || !strcmp(word, "TRUE") || !strcmp(word, "1"))
        return 1;
    if (!strcmp(word, "OFF") || !strcmp(word, "NO") || !strcmp(word, "FALSE") || !strcmp(word, "0"))
        return 0;
    return 2;
}

int kovparam_compose_path(const char* dir, const char* file, const char* token, char* dest, size_t size)
{
    if (!dir || !file || !dest || size == 0)
        return -1;
    dest[0] = '\0';
    if (!token || !*token)
        token = kovparam_get("GetDsCtrl");
    const char* sep = KovParamSeparator(token);
    if (!sep)
        return -1;
    // A path that does not fit is a failure, never an empty or cut path.
    char work[800];
    int rc = strcpy_sR(work, sizeof work, dir);
    if (rc == 0 && *file) {
        rc = strcat_sR(work, sizeof work, sep);
        if (rc == 0)
            rc = strcat_sR(work, sizeof work, file);
    }
    if (rc != 0 || strcpy_sR(dest, size, work) != 0) {
        dest[0] = '\0';
        return -1;
    }
    return 0;
}

int kovparam_count()
{
    if (g_kp.pending)
        kovparam_init();
    return IterCount();
}

const KovParamRecord* kovparam_get_record_at(int index)
{
    if (g_kp.pending)
        kovparam_init();
    if (g_kp.indexHook)
        return g_kp.indexHook(index);
    if (index < 0 || index >= g_kp.count)
        return nullptr;
    return &g_kp.records[index];
}

void kovparam_iter_reset()
{
    g_kp.cursor = 0;
    g_kp.prefix[0] = '\0';
    g_kp.prefixLen = 0;
}

int kovparam_iter_start(const char* prefix)
{
    if (g_kp.pending)
        kovparam_init();
    strncpy_sR(g_kp.prefix, sizeof g_kp.prefix, prefix ? prefix : "", sizeof g_kp.prefix - 1);
    g_kp.prefixLen = strnlenR(g_kp.prefix, sizeof g_kp.prefix);
    KovParamRecord* table = IterTable();
    int n = IterCount();
    g_kp.cursor = 0;
    if (!table || n <= 0)
        return g_kp.cursor;
    int lo = 0;
    int hi = n;
    int last = 0;
    while (lo < hi) {
        int mid = lo + (hi - lo) / 2;
        last = strncmp(table[mid].name, g_kp.prefix, g_kp.prefixLen);
        if (last < 0)
            lo = mid + 1;
        else
            hi = mid;
    }
    g_kp.cursor = lo;
    return last;
}

int kovparam_iter_next(const char** name, const char** cmdValue, const char** defaultValue)
{
    return IterNext(name, cmdValue, defaultValue, false);
}

int kovparam_iter_next_raw(const char** name, const char** cmdValue, const char** defaultValue)
{
    return IterNext(name, cmdValue, defaultValue, true);
}

int kovparam_iter_next_effective(const char** name, const char** effective, const char** defaultValue)
{
    KovParamRecord* rec = IterStep(name, effective, defaultValue);
    if (!rec)
        return 0;
    if (IsUnknownMarker(rec->level11)) {
        Put(effective, rec->level34);
        Put(defaultValue, nullptr);
        return 1;
    }
    Put(defaultValue, rec->level24);
    if (SameText(rec->level11, rec->level32) && SameText(rec->level24, rec->level34)) {
        Put(effective, nullptr);
        return 2;
    }
    Put(effective, rec->level34);
    return 3;
}

void kovparam_quiet()
{
    g_kp.messages = false;
}

void kovparam_set_lookup_hook(KovParamLookupHook hook)
{
    g_kp.lookupHook = hook;
}

void kovparam_set_count_hook(KovParamCountHook hook)
{
    g_kp.countHook = hook;
}

void kovparam_set_index_hook(KovParamIndexHook hook)
{
    g_kp.indexHook = hook;
}

void kovparam_set_table_hook(KovParamRecord* table)
{
    g_kp.tableHook = table;
}
