// Resolution of parameter values: "$$" (system number), "$(NAME)" (another
// parameter at the same stage), "%(NAME)" (environment variable) and the
// "(Default)" composition of a directory and a file part.
//
// A stage resolves level 13 from 11, levels 23/24 from 21 or levels 33/34
// from 32.  A value is edited in place only while it is private to its
// level; a shared value is replaced by a new pool string through the level
// setter, so that the levels above that follow it see the change.
#include <cstdlib>
#include <cstring>

#include "flat/kovparam_int.h"
#include "nls/kovstr.h"

namespace {

enum : unsigned char { kDollarDone = 1, kParamDone = 2, kEnvDone = 4 };

constexpr size_t kMaxName = 4096;

char* Source(KovParamRecord* rec, int level)
{
    return level == 13 ? rec->level13 : (level == 23 ? rec->level23 : rec->level33);
}

char* Below(KovParamRecord* rec, int level)
{
    return level == 13 ? rec->level11 : (level == 23 ? rec->level21 : rec->level32);
}

// The value another record's reference sees at this stage.
char* Value(KovParamRecord* rec, int level)
{
    return level == 13 ? rec->level13 : (level == 23 ? rec->level24 : rec->level34);
}

// The resolved flag of stage 23 or 33 (level 13 has none and never asks:
// it runs its passes without progress bits).
unsigned char& Flag(KovParamRecord* rec, int level)
{
    return level == 33 ? rec->resolved3 : rec->resolved2;
}

// The library's own counters are state, never substituted.
bool IsOwnState(const KovParamRecord* rec)
{
    return strncmp(rec->name, "__KOVPROFILE_", 13) == 0;
}

// Progress bits of a record of the library's own array in the running stage;
// null for level 13 and for records a lookup hook supplied.
unsigned char* Progress(KovParamRecord* rec, int level)
{
    if (level == 13 || level != g_kp.passesStage || rec < g_kp.records)
        return nullptr;
    size_t index = static_cast<size_t>(rec - g_kp.records);
    return index < g_kp.passesDone.size() && index < static_cast<size_t>(g_kp.count) ? &g_kp.passesDone[index]
                                                                                     : nullptr;
}

bool IsBusy(const KovParamRecord* rec)
{
    for (const KovParamRecord* b : g_kp.busy)
        if (b == rec)
            return true;
    return false;
}

struct BusyMark {
    explicit BusyMark(KovParamRecord* rec) { g_kp.busy.push_back(rec); }
    ~BusyMark() { g_kp.busy.pop_back(); }
};

// Copies the reference name that runs from begin for len bytes; an overlong
// name becomes empty (and so is unknown).
void CopyName(char (&name)[kMaxName + 1], const char* begin, size_t len)
{
    if (memcpy_sR(name, kMaxName, begin, len) != 0)
        len = 0;
    name[len] = '\0';
}

// Replaces reflen bytes at pos of the source by value; false when the pool
// cannot hold the new value.
bool Replace(KovParamRecord* rec, int level, size_t pos, size_t reflen, const char* value, size_t vlen)
{
    char* s = Source(rec, level);
    size_t len = strlen(s);
    if (s != Below(rec, level) && vlen <= reflen) {
        memcpy(s + pos, value, vlen);
        if (vlen < reflen)
            memmove(s + pos + vlen, s + pos + reflen, len - pos - reflen + 1);
        return true;
    }
    char* t = KovParamPoolAlloc(len - reflen + vlen + 1);
    if (!t)
        return false;
    memcpy(t, s, pos);
    memcpy(t + pos, value, vlen);
    memcpy(t + pos + vlen, s + pos + reflen, len - pos - reflen + 1);
    kovparam_set_level(rec, t, level);
    return true;
}

void DollarPass(KovParamRecord* rec, int level)
{
    if (IsOwnState(rec))
        return;
    // Level 21 of the system number may have been replaced without its push
    // chain, so level 23 starts from a private copy of it.
    if (level == 23 && rec->level21 && strcmp(rec->name, "KOVSYSTEM") == 0) {
        if (char* copy = KovParamPoolCopy(rec->level21))
            kovparam_set_level(rec, copy, 23);
    }
    char* s = Source(rec, level);
    if (!s || !strstr(s, "$$"))
        return;
    if (s == Below(rec, level)) {
        s = KovParamPoolCopy(s);
        if (!s)
            return;
        kovparam_set_level(rec, s, level);
    }
    for (char* p = s; (p = strstr(p, "$$")) != nullptr; p += 2) {
        p[0] = g_kp.sysnr[0];
        p[1] = g_kp.sysnr[1];
    }
}

void ResolveOnDemand(KovParamRecord* rec, int level, int depth);

void ParamPass(KovParamRecord* rec, int level, int depth)
{
    if (IsOwnState(rec) || !Source(rec, level))
        return;
    // Scanned from the end, so that an inner reference is replaced before the
    // outer one whose name it builds.
    long i = static_cast<long>(strlen(Source(rec, level))) - 2;
    while (i >= 0) {
        char* s = Source(rec, level);
        if (s[i] != '$' || s[i + 1] != '(') {
            --i;
            continue;
        }
        if (depth > kKovParamMaxDepth) {
            KovParamMsg("kovparam(12): %s = %s recursive.\n", rec->name, s);
            return;
        }
        const char* close = strchr(s + i + 2, ')');
        if (!close) {
            KovParamMsg("kovparam(15): %s: '%c' missing.\n", rec->name, ')');
            --i;
            continue;
        }
        size_t nameLen = static_cast<size_t>(close - (s + i + 2));
        char name[kMaxName + 1];
        CopyName(name, s + i + 2, nameLen);
        if (strcmp(name, rec->name) == 0) {
            KovParamMsg("kovparam(13): %s = %s recursive.\n", rec->name, s);
            return;
        }
        const char* value = nullptr;
        if (KovParamRecord* target = KovParamLookup(name)) {
            // This record is marked busy, so resolving the target never
            // edits the value being scanned.
            if (level != 13)
                ResolveOnDemand(target, level, depth + 1);
            value = Value(target, level);
        }
        // An empty value is substituted like any other: the empty system
        // name of a machine without profile must not be reported by every
        // value that refers to it, directly or through others.
        if (!value) {
            if (g_kp.messages)
                KovParamMsg("kovparam(14): %s (ref.by %s) missing.\n", name, rec->name);
            --i;
            continue;
        }
        size_t vlen = strlen(value);
        if (!Replace(rec, level, static_cast<size_t>(i), nameLen + 3, value, vlen))
            return;
        ++depth;
        // What was substituted in is scanned too, and so is a reference that
        // its last character opens together with the text after it.
        i += static_cast<long>(vlen) - 1;
    }
}

void EnvPass(KovParamRecord* rec, int level, int depth)
{
    if (IsOwnState(rec))
        return;
    size_t from = 0;
    for (;;) {
        char* s = Source(rec, level);
        if (!s)
            return;
        char* p = strstr(s + from, "%(");
        if (!p)
            return;
        if (depth > kKovParamMaxDepth) {
            KovParamMsg("kovparam(12): %s = %s recursive.\n", rec->name, s);
            return;
        }
        const char* close = strchr(p + 2, ')');
        if (!close) {
            KovParamMsg("kovparam(15): %s: '%c' missing.\n", rec->name, ')');
            return;
        }
        size_t nameLen = static_cast<size_t>(close - (p + 2));
        char name[kMaxName + 1];
        CopyName(name, p + 2, nameLen);
        const char* value = name[0] ? getenv(name) : nullptr;
        if (!value)
            value = "";
        size_t pos = static_cast<size_t>(p - s);
        if (!Replace(rec, level, pos, nameLen + 3, value, strlen(value)))
            return;
        ++depth;
        from = pos > 0 ? pos - 1 : 0;
    }
}

// The platform's directory separator, or null for an unknown platform.
const char* Separator(int level)
{
    KovParamRecord* ctrl = KovParamLookup("GetDsCtrl");
    const char* token = ctrl ? Value(ctrl, level) : nullptr;
    if (token && !strcmp(token, "KOVonOS400"))
        KovParamMsg("kovparam: target not implemented in Function GetDsSpec\n");
    return KovParamSeparator(token);
}

void Compose(KovParamRecord* rec, int level, int depth)
{
    const char* s = Source(rec, level);
    const KovParamComposition* row = nullptr;
    if (!IsOwnState(rec) && s && strstr(s, "(Default)"))
        row = KovParamFindComposition(rec->name);
    if (row) {
        char part[2][800];
        const char* names[2] = {row->first, row->second};
        for (int k = 0; k < 2; ++k) {
            const char* value = nullptr;
            if (KovParamRecord* p = KovParamLookup(names[k])) {
                if (Progress(p, level) && !Flag(p, level) && !IsBusy(p)) {
                    if (depth >= kKovParamMaxDepth) {
                        const char* ps = Source(p, level);
                        KovParamMsg("kovparam(?): %s = %s recursive.\n", names[k], ps ? ps : "");
                    } else {
                        ResolveOnDemand(p, level, depth + 1);
                    }
                }
                value = Value(p, level);
            }
            strcpy_sR(part[k], sizeof part[k], value ? value : "");
        }
        char result[sizeof part[0] * 2 + 2] = "";
        if (const char* sep = Separator(level)) {
            strcpy_sR(result, sizeof result, part[0]);
            if (part[0][0] && part[1][0])
                strcat_sR(result, sizeof result, sep);
            strcat_sR(result, sizeof result, part[1]);
        }
        char* composed;
        if (level == 33 && rec->level24 && strcmp(rec->level24, result) == 0)
            composed = rec->level24;
        else
            composed = KovParamPoolCopy(result);
        if (composed)
            kovparam_set_level(rec, composed, level + 1);
        if (rec->level13 && strcmp(rec->level13, "(Default)") == 0) {
            char shown[512];
            snprintfTruncR(shown, sizeof shown, "$(%s)/$(%s)", row->first, row->second);
            if (char* copy = KovParamPoolCopy(shown))
                kovparam_set_level(rec, copy, 13);
        }
    }
    Flag(rec, level) = 1;
}

void ResolveOnDemand(KovParamRecord* rec, int level, int depth)
{
    unsigned char* done = Progress(rec, level);
    if (!done || Flag(rec, level) || IsBusy(rec))
        return;
    BusyMark mark(rec);
    if (!(*done & kDollarDone)) {
        DollarPass(rec, level);
        *done |= kDollarDone;
    }
    if (!(*done & kParamDone)) {
        ParamPass(rec, level, depth);
        *done |= kParamDone;
    }
    if (!(*done & kEnvDone)) {
        EnvPass(rec, level, depth);
        *done |= kEnvDone;
    }
    Compose(rec, level, depth);
}

void StartStage(int level)
{
    g_kp.passesStage = level;
    g_kp.passesDone.assign(static_cast<size_t>(g_kp.count), 0);
    g_kp.busy.clear();
}

}  // namespace

const char* KovParamSeparator(const char* platform)
{
    if (!platform || !*platform || !strcmp(platform, "KOVonUNIX") || !strcmp(platform, "KOVonOS400"))
        return "/";
    if (!strcmp(platform, "KOVonNT") || !strcmp(platform, "KOVonOS2x"))
        return "\\";
    return nullptr;
}

void KovParamResolveAll(int level)
{
    if (level == 13) {
        // Level 13 has no resolved flag: each pass reads the other records'
        // level 13 as it stands.
        for (int i = 0; i < g_kp.count; ++i)
            DollarPass(&g_kp.records[i], 13);
        for (int i = 0; i < g_kp.count; ++i)
            ParamPass(&g_kp.records[i], 13, 0);
        for (int i = 0; i < g_kp.count; ++i)
            EnvPass(&g_kp.records[i], 13, 0);
        return;
    }
    StartStage(level);
    using Pass = void (*)(KovParamRecord*, int, int);
    static const Pass passes[] = {
        [](KovParamRecord* r, int l, int) { DollarPass(r, l); },
        ParamPass,
        EnvPass,
    };
    static const unsigned char bits[] = {kDollarDone, kParamDone, kEnvDone};
    for (int k = 0; k < 3; ++k) {
        for (int i = 0; i < g_kp.count; ++i) {
            KovParamRecord* rec = &g_kp.records[i];
            unsigned char& done = g_kp.passesDone[static_cast<size_t>(i)];
            if (Flag(rec, level) || (done & bits[k]))
                continue;
            BusyMark mark(rec);
            passes[k](rec, level, 0);
            done |= bits[k];
        }
    }
    for (int i = 0; i < g_kp.count; ++i) {
        KovParamRecord* rec = &g_kp.records[i];
        if (!Flag(rec, level)) {
            BusyMark mark(rec);
            Compose(rec, level, 0);
        }
    }
}

void KovParamResolveOne(KovParamRecord* rec, int level)
{
    StartStage(level);
    ResolveOnDemand(rec, level, 0);
}

void KovParamUnresolve3()
{
    for (int i = 0; i < g_kp.count; ++i) {
        KovParamRecord* rec = &g_kp.records[i];
        if (rec->resolved3) {
            rec->level33 = rec->level34 = rec->effective = rec->level32;
            rec->resolved3 = 0;
        }
    }
}
