// Continuous local time.
#include "krn/rstr/contloct.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "nls/kovstr.h"

namespace {

constexpr time_t kStep = 2678400;  // 31 days: no zone switches twice within it
constexpr int kMaxSteps = 13;
const char kModeParam[] = "zdate/DSTswitch_contloctime";

ContLoctGetter g_getter = nullptr;
int g_mode = 0;  // 0 = not yet determined
ContLoctLogFunc g_log = nullptr;
void* g_logCtx = nullptr;
int g_logLevel = 0;
time_t (*g_clock)() = nullptr;

bool g_tzInit = false;  // tzset done, g_hasDst valid
bool g_hasDst = false;
bool g_dstOff = false;  // DST handling switched off after a failed search
bool g_dstOffsetInit = false;
int g_dstOffset = 0;
bool g_tzOffsetInit = false;
long g_tzOffset = 0;
bool g_ltInit = false;
struct tm g_fallback;

// The two intervals around "now": A at the previous switch P, B at the next
// switch N; one of them is stretched (the end of DST), the other empty.
struct Interval {
    bool valid;
    int dst;  // state between P and N
    time_t lower, upper;
    time_t aStart, aEnd, bStart, bEnd;
    time_t p, n;
};
Interval g_cache;

// Window method cache.
bool g_winValid = false;
time_t g_winStart = 0, g_winEnd = 0;

struct tm g_static;
bool g_staticSet = false;
bool g_inConversion = false;

time_t Now()
{
    return g_clock ? g_clock() : std::time(nullptr);
}

void Log(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
void Log(const char* fmt, ...)
{
    if (!g_log)
        return;
    char text[512];
    va_list ap;
    va_start(ap, fmt);
    vsnprintfTruncR(text, sizeof text, fmt, ap);
    va_end(ap);
    g_log(g_logCtx, "%s", text);
}

int DstAt(time_t t)
{
    struct tm tm;
    if (!localtime_r(&t, &tm))
        return -1;
    return tm.tm_isdst > 0 ? 1 : 0;
}

const char* FormatLocal(time_t t, char* buf)
{
    struct tm tm;
    return ContLoctFormatTm(localtime_r(&t, &tm), buf);
}

// dir +1 searches forward, -1 backward.  The result is the first second of
// the new state (forward) or of the state at t (backward).
int FindSwitch(time_t t, time_t* sw, int dir)
{
    *sw = 0;
    const int d = DstAt(t);
    if (d < 0)
        return -1;
    time_t same = t;
    time_t other = 0;
    bool found = false;
    for (int i = 0; i < kMaxSteps; ++i) {
        const time_t probe = same + dir * kStep;
        const int s = DstAt(probe);
        if (s < 0)
            return -1;
        if (s != d) {
            other = probe;
            found = true;
            break;
        }
        same = probe;
    }
    if (!found) {
        Log(dir > 0 ? "ContLoctGetNextSwitch: did not find next DST switch\n"
                    : "ContLoctGetNextSwitch: did not find previous DST switch\n");
        return d;
    }
    time_t lo = dir > 0 ? same : other;
    time_t hi = dir > 0 ? other : same;
    const int loState = DstAt(lo);
    while (hi - lo >= 2) {
        const time_t mid = lo + (hi - lo) / 2;
        const int s = DstAt(mid);
        if (s < 0)
            return -1;
        if (s == loState)
            lo = mid;
        else
            hi = mid;
    }
    *sw = hi;
    if (!g_log)
        return d;
    char buf[48];
    Log(dir > 0 ? "ContLoctGetNextSwitch: next switch: %s, isDst=%d\n"
                : "ContLoctGetNextSwitch: previous switch: %s, isDst=%d\n",
        FormatLocal(hi, buf), d);
    return d;
}

// Fills iv around the time 'at'; false when a switch cannot be found.
bool BuildInterval(time_t at, Interval* iv)
{
    time_t n = 0, p = 0;
    const int d = ContLoctGetNextSwitch(at, &n);
    if (d < 0 || n == 0)
        return false;
    if (ContLoctGetPrevSwitch(at, &p) < 0 || p == 0)
        return false;
    const int o = ContLoctGetDstOffset();
    iv->dst = d;
    iv->p = p;
    iv->n = n;
    if (d) {  // N ends DST: the hour before and after N is stretched
        iv->aStart = iv->aEnd = p;
        iv->bStart = n + o;
        iv->bEnd = n - o;
        iv->lower = p;
        iv->upper = n - o;
    } else {  // P ended DST
        iv->aStart = p + o;
        iv->aEnd = p - o;
        iv->bStart = iv->bEnd = n;
        iv->lower = p + o;
        iv->upper = n;
    }
    iv->valid = true;
    return true;
}

int Query(const Interval& iv, time_t t, time_t* start, time_t* end, int* isdst)
{
    if (iv.dst)
        *isdst = t < iv.n ? 1 : 0;
    else
        *isdst = t < iv.p ? 1 : 0;
    if (t < iv.aEnd) {
        *start = iv.aStart;
        *end = iv.aEnd;
        return 1;
    }
    *start = iv.bStart;
    *end = iv.bEnd;
    return (t >= iv.bStart && t < iv.bEnd && iv.bStart != iv.bEnd) ? 1 : 0;
}

int Mode()
{
    if (g_mode)
        return g_mode;
    g_mode = 1;
    if (g_getter) {
        const char* v = g_getter(kModeParam, 0);
        if (!v || std::strcmp(v, "on") == 0)
            g_mode = 1;
        else if (std::strcmp(v, "old") == 0)
            g_mode = 2;
        else if (std::strcmp(v, "off") == 0)
            g_mode = 3;
        else {
            g_mode = 2;
            Log("ContLoct: illegal value \"%s\" of %s, using \"old\"\n", v, kModeParam);
        }
    }
    return g_mode;
}

// Window-method conversion of t; false when the search failed.
bool OldLocal(time_t t, struct tm* tm)
{
    if (!(g_winValid && t >= g_winStart && t < g_winEnd)) {
        time_t s = 0, e = 0;
        const int r = ContLoctOldWindow(t, &s, &e);
        if (r < 0)
            return false;
        g_winValid = r == 1;
        g_winStart = s;
        g_winEnd = e;
    }
    time_t u = t;
    if (g_winValid && t >= g_winStart && t < g_winEnd)
        u = g_winStart + (t - g_winStart) / 2;
    return localtime_r(&u, tm) != nullptr;
}

}  // namespace

void ContLoctInit(ContLoctGetter getter)
{
    g_mode = 0;
    g_getter = getter;
}

void ContLoctSetLog(ContLoctLogFunc func, void* ctx)
{
    g_log = func;
    g_logCtx = ctx;
}

void ContLoctSetLogLevel(int level)
{
    g_logLevel = level;
}

void ContLoctReset(time_t (*clock)())
{
    g_clock = clock;
    g_mode = 0;
    g_tzInit = g_hasDst = g_dstOff = false;
    g_dstOffsetInit = g_tzOffsetInit = g_ltInit = false;
    g_cache = Interval{};
    g_winValid = false;
    g_staticSet = false;
    tzset();
}

char* ContLoctFormatTm(const struct tm* tm, char* buf)
{
    if (!tm) {
        std::strcpy(buf, "NULL");
        return buf;
    }
    snprintfTruncR(buf, 40, "%02d.%02d.%4d  %02d:%02d:%02d %s", tm->tm_mday, tm->tm_mon + 1, tm->tm_year + 1900,
                   tm->tm_hour, tm->tm_min, tm->tm_sec, tm->tm_isdst > 0 ? "dst" : "non dst");
    return buf;
}

int ContLoctGetNextSwitch(time_t t, time_t* sw)
{
    return FindSwitch(t, sw, 1);
}

int ContLoctGetPrevSwitch(time_t t, time_t* sw)
{
    return FindSwitch(t, sw, -1);
}

int ContLoctGetDstOffset()
{
    if (g_dstOffsetInit)
        return g_dstOffset;
    const time_t now = Now();
    struct tm g, l, g2;
    char b1[48], b2[48];
    if (!gmtime_r(&now, &g) || !localtime_r(&now, &l))
        return 0;
    Log("ContLoctGetDstOffset: gmtime   : %lu - %s\n", static_cast<unsigned long>(now), ContLoctFormatTm(&g, b1));
    Log("ContLoctGetDstOffset: localtime: %lu - %s\n", static_cast<unsigned long>(now), ContLoctFormatTm(&l, b2));
    struct tm gc = g;
    const time_t t1 = mktime(&gc);
    const time_t std = 2 * now - t1;  // standard local time shown as UTC
    if (!gmtime_r(&std, &g2))
        return 0;
    int off;
    if (l.tm_isdst > 0) {
        long d = (l.tm_hour * 3600L + l.tm_min * 60 + l.tm_sec) - (g2.tm_hour * 3600L + g2.tm_min * 60 + g2.tm_sec);
        if (d < 0)
            d += 86400;
        off = static_cast<int>(-d);
    } else {
        const time_t t2 = mktime(&g2);
        Log("ContLoctGetDstOffset: localtime : %lu - %s\n", static_cast<unsigned long>(t2), ContLoctFormatTm(&g2, b1));
        g2.tm_isdst = 1;
        const time_t t3 = mktime(&g2);
        off = static_cast<int>(t3 - t2);
    }
    g_dstOffset = off;
    g_dstOffsetInit = true;
    Log("ContLoctGetDstOffset: DST offset: %d\n", off);
    return off;
}

long ContLoctTimezoneOffset()
{
    if (g_tzOffsetInit)
        return g_tzOffset;
    const time_t now = Now();
    struct tm g;
    if (!gmtime_r(&now, &g))
        return 0;
    g.tm_isdst = 0;
    g_tzOffset = static_cast<long>(mktime(&g) - now);
    g_tzOffsetInit = true;
    return g_tzOffset;
}

void ContLoctGetOffsets(long* tzOffset, int* dstOffset)
{
    if (tzOffset)
        *tzOffset = ContLoctTimezoneOffset();
    if (dstOffset)
        *dstOffset = ContLoctGetDstOffset();
}

int ContLoctGetInterval(time_t t, time_t* start, time_t* end, int* isdst)
{
    bool first = false;
    if (!g_tzInit) {
        tzset();
        g_hasDst = daylight != 0;
        g_tzInit = true;
        first = true;
        Log("ContLoctGetInterval: is DST active: %d\n", g_hasDst ? 1 : 0);
    }
    *start = *end = 0;
    if (!g_hasDst) {
        *isdst = 0;
        return 0;
    }
    if (g_dstOff) {
        const int s = DstAt(t);
        *isdst = s > 0 ? 1 : 0;
        return 0;
    }
    // The cached intervals are facts about the zone: a time inside them needs
    // no look at the clock.  Otherwise the cache follows "now".
    if (g_cache.valid && t >= g_cache.lower && t < g_cache.upper)
        return Query(g_cache, t, start, end, isdst);
    const time_t now = Now();
    if (!g_cache.valid || now < g_cache.lower || now >= g_cache.upper) {
        if (!BuildInterval(now, &g_cache)) {
            g_cache = Interval{};
            g_dstOff = true;
            Log(first ? "ContLoctGetInterval: cannot find next daylight saving time switch (init)\n"
                      : "ContLoctGetInterval: cannot find next daylight saving time switch (current)\n");
            const int s = DstAt(t);
            *isdst = s > 0 ? 1 : 0;
            return 0;
        }
    }
    if (t >= g_cache.lower && t < g_cache.upper)
        return Query(g_cache, t, start, end, isdst);

    if (g_log) {
        struct tm g;
        char b[48];
        Log("ContLoctGetInterval: %s outside current time interval\n", ContLoctFormatTm(gmtime_r(&now, &g), b));
    }
    Interval outer{};
    if (!BuildInterval(t, &outer)) {
        Log("ContLoctGetInterval: cannot find next daylight saving time switch (outer)\n");
        const int s = DstAt(t);
        *isdst = s > 0 ? 1 : 0;
        return 0;
    }
    return Query(outer, t, start, end, isdst);
}

struct tm* localtime_cont(const time_t* tp, struct tm* tm)
{
    const time_t t = *tp;
    if (!g_ltInit) {
        std::memset(&g_fallback, 0, sizeof g_fallback);
        const int o = ContLoctGetDstOffset();
        time_t s, e;
        int d = 0;
        ContLoctGetInterval(t, &s, &e, &d);
        const long z = ContLoctTimezoneOffset();
        g_ltInit = true;
        Log("localtime_cont: timezone is %ld\n", z);
        Log("localtime_cont: init with dstOffset=%d, timeZoneOffset=%ld\n", o, z);
        Log("localtime_cont: DST switch is %s\n", g_hasDst && !g_dstOff ? "active" : "inactive");
    }
    if (t == 0) {
        if (!gmtime_r(&t, tm))
            *tm = g_fallback;
        return tm;
    }
    const long z = ContLoctTimezoneOffset();
    const int o = ContLoctGetDstOffset();
    time_t s = 0, e = 0;
    int d = 0;
    const int r = ContLoctGetInterval(t, &s, &e, &d);
    time_t local;
    int dst;
    if (g_hasDst && r == 1) {
        local = s + (t - s) / 2 - z - o;
        dst = 1;
    } else {
        local = t - z - (d ? o : 0);
        dst = d ? 1 : 0;
    }
    if (!gmtime_r(&local, tm)) {
        *tm = g_fallback;
        return tm;
    }
    tm->tm_isdst = dst;
    if (g_logLevel >= 2 && g_log) {
        struct tm x;
        char b[48];
        Log("localtime_cont: time %ld, gmtime                %s\n", static_cast<long>(t),
            ContLoctFormatTm(gmtime_r(&t, &x), b));
        Log("localtime_cont: time %ld, calculated local time %s\n", static_cast<long>(t), ContLoctFormatTm(tm, b));
        Log("localtime_cont: time %ld, real local time       %s\n", static_cast<long>(t),
            ContLoctFormatTm(localtime_r(&t, &x), b));
    }
    return tm;
}

time_t mktime_cont(struct tm* tm)
{
    const int mode = Mode();
    if (mode == 3)
        return mktime(tm);
    if (mode == 1) {
        const time_t t = mktime(tm);
        time_t s = 0, e = 0;
        int d = 0;
        if (t != static_cast<time_t>(-1) && ContLoctGetInterval(t, &s, &e, &d) == 1 && g_hasDst)
            return s + 2 * (t - s);
        return t;
    }
    struct tm copy = *tm;
    time_t t = mktime(tm);
    if (!(g_winValid && t >= g_winStart && t < g_winEnd)) {
        time_t s = 0, e = 0;
        const int r = ContLoctOldWindow(t, &s, &e);
        if (r < 0) {
            std::fprintf(stderr, "mktime_cont: got NULL from localtime(&t)\n");
            return 0;
        }
        g_winValid = r == 1;
        g_winStart = s;
        g_winEnd = e;
        if (r == 0)
            return t;
    }
    copy.tm_isdst = 1;
    t = mktime(&copy);
    return g_winStart + 2 * (t - g_winStart);
}

struct tm* ContLoctLocaltimeR(const time_t* t, struct tm* tm)
{
    switch (Mode()) {
    case 1:
        return localtime_cont(t, tm);
    case 2:
        return OldLocal(*t, tm) ? tm : nullptr;
    default:
        return localtime_r(t, tm);
    }
}

struct tm* ContLoctLocaltime(const time_t* t)
{
    const int mode = Mode();
    if (mode == 3)
        return localtime(t);
    if (g_inConversion) {
        std::fprintf(stderr, "Recursive call of localtime_cont at %lu\n", static_cast<unsigned long>(*t));
        if (!g_staticSet)
            g_static = g_fallback;
        return &g_static;
    }
    g_inConversion = true;
    struct tm r;
    if (mode == 1) {
        localtime_cont(t, &r);
    } else if (!OldLocal(*t, &r)) {
        errno = ERANGE;
        r = g_fallback;
    }
    g_static = r;
    g_staticSet = true;
    g_inConversion = false;
    return &g_static;
}

char* ContLoctCtimeR(const time_t* t, char* buf)
{
    struct tm tm;
    if (!ContLoctLocaltimeR(t, &tm))
        return nullptr;
    return asctime_r(&tm, buf);
}

int ContLoctOldWindow(time_t t, time_t* start, time_t* end)
{
    *start = *end = 0;
    if (t < 7201)
        return 0;
    struct tm lt, l2;
    if (!localtime_r(&t, &lt))
        return -1;
    const int d = lt.tm_isdst > 0;
    const time_t t2 = d ? t + 7200 : t - 7200;
    if (!localtime_r(&t2, &l2))
        return -1;
    if ((l2.tm_isdst > 0) == d)
        return 0;
    // The shift is the difference of the UTC offsets on the DST side and the
    // standard side; only the end of DST repeats local time.
    const long delta = d ? lt.tm_gmtoff - l2.tm_gmtoff : l2.tm_gmtoff - lt.tm_gmtoff;
    if (delta <= 0)
        return 0;
    struct tm a, b;
    const time_t tm1 = t - delta, tp1 = t + delta;
    if (!localtime_r(&tm1, &a) || !localtime_r(&tp1, &b))
        return -1;
    const bool same = (a.tm_hour == lt.tm_hour && a.tm_min == lt.tm_min) ||
                      (b.tm_hour == lt.tm_hour && b.tm_min == lt.tm_min);
    if (!same)
        return 0;
    auto isStd = [](time_t x) { return DstAt(x) == 0; };
    auto isDst = [](time_t x) { return DstAt(x) == 1; };
    const time_t r = t - ((t % delta) + delta) % delta;
    time_t sw;
    if (isStd(r) && isDst(r - 1)) {
        sw = r;
    } else if (isStd(r + delta) && isDst(r + delta - 1)) {
        sw = r + delta;
    } else {
        time_t s = d ? t + delta : t;
        for (int i = 0; i < 4 * 60 && isStd(s); ++i)
            s -= 60;
        for (int i = 0; i < 2 * 3600 && isDst(s); ++i)
            ++s;
        if (!isStd(s) || !isDst(s - 1))
            return 0;
        sw = s;
    }
    *start = sw - delta;
    *end = *start + 2 * delta;
    return 1;
}
