// Continuous local time against the C library's localtime/mktime, in zones
// set through TZ.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "krn/rstr/contloct.h"

namespace {

// Central European rules: DST from the last Sunday of March 01:00 UTC to the
// last Sunday of October 01:00 UTC.
const char kCet[] = "CET-1CEST,M3.5.0,M10.5.0/3";
const time_t kOct27 = 1729990800;  // 2024-10-27 01:00:00 UTC, end of DST
const time_t kMar31 = 1711846800;  // 2024-03-31 01:00:00 UTC, start of DST

time_t g_now = 0;
time_t FixedNow()
{
    return g_now;
}

void UseZone(const char* tz, time_t now)
{
    setenv("TZ", tz, 1);
    tzset();
    g_now = now;
    ContLoctInit(nullptr);
    ContLoctReset(FixedNow);
}

// Wall-clock seconds of a broken-down time, taken as if it were UTC.
time_t Wall(const struct tm& tm)
{
    struct tm c = tm;
    return timegm(&c);
}

time_t Utc(int y, int mo, int d, int h, int mi, int s)
{
    struct tm tm { };
    tm.tm_year = y - 1900;
    tm.tm_mon = mo - 1;
    tm.tm_mday = d;
    tm.tm_hour = h;
    tm.tm_min = mi;
    tm.tm_sec = s;
    return timegm(&tm);
}

const char* g_modeText = nullptr;
const char* Getter(const char*, int)
{
    return g_modeText;
}

}  // namespace

TEST(ContLoct, EndOfDstRunsAtHalfSpeed)
{
    ASSERT_EQ(kOct27, Utc(2024, 10, 27, 1, 0, 0));
    // Both the cached interval around "now" and a search for a time far from
    // "now" must give the same answers.
    for (time_t now : {kOct27 - 86400 * 20, kOct27 + 86400 * 400}) {
        UseZone(kCet, now);
        const int expect[][2] = {{0, 7200}, {1800, 8100}, {3600, 9000}, {5400, 9900}, {7200, 10800}};
        for (const auto& e : expect) {
            const time_t t = kOct27 - 3600 + e[0];
            struct tm tm;
            ASSERT_NE(localtime_cont(&t, &tm), nullptr);
            EXPECT_EQ(Wall(tm), kOct27 - 3600 + e[1]) << "now " << now << " offset " << e[0];
        }
        // The inverse: 02:30 with tm_isdst 1 is 01:00 UTC.
        struct tm half { };
        half.tm_year = 124;
        half.tm_mon = 9;
        half.tm_mday = 27;
        half.tm_hour = 2;
        half.tm_min = 30;
        half.tm_isdst = 1;
        EXPECT_EQ(mktime_cont(&half), kOct27);
        EXPECT_EQ(ContLoctGetDstOffset(), -3600);
        EXPECT_EQ(ContLoctTimezoneOffset(), -3600);
    }
}

TEST(ContLoct, OracleSweepMonotonicAndInvertible)
{
    UseZone(kCet, kOct27 - 86400 * 60);
    time_t lastWall = 0;
    // A year around both switches: outside the stretched interval the result
    // is the C library's; inside, the wall clock still never runs backwards.
    for (time_t t = kMar31 - 86400 * 2; t < kOct27 + 86400 * 2; t += 97) {
        const bool nearEnd = t >= kOct27 - 3600 * 3 && t < kOct27 + 3600 * 3;
        if (!nearEnd && (t % 7) != 0)
            continue;  // sample the rest of the year sparsely
        struct tm c, l;
        ASSERT_NE(localtime_cont(&t, &c), nullptr);
        ASSERT_NE(localtime_r(&t, &l), nullptr);
        const bool stretched = t >= kOct27 - 3600 && t < kOct27 + 3600;
        if (!stretched) {
            EXPECT_EQ(Wall(c), Wall(l)) << t;
            EXPECT_EQ(c.tm_isdst, l.tm_isdst) << t;
        } else {
            EXPECT_EQ(c.tm_isdst, 1);
        }
        EXPECT_GE(Wall(c), lastWall) << t;
        lastWall = Wall(c);
        struct tm back = c;
        const time_t r = mktime_cont(&back);
        EXPECT_LE(r > t ? r - t : t - r, 1) << t;
    }
    // The skipped hour of spring: plain local time on both sides.
    for (time_t t = kMar31 - 3600; t <= kMar31 + 3600; t += 600) {
        struct tm c, l;
        localtime_cont(&t, &c);
        localtime_r(&t, &l);
        EXPECT_EQ(Wall(c), Wall(l));
    }
    time_t sw = 0;
    EXPECT_EQ(ContLoctGetNextSwitch(kOct27 - 86400, &sw), 1);
    EXPECT_EQ(sw, kOct27);
    EXPECT_EQ(ContLoctGetPrevSwitch(kOct27 - 86400, &sw), 1);
    EXPECT_EQ(sw, kMar31);
}

TEST(ContLoct, ZoneWithoutDstAndModes)
{
    UseZone("JST-9", kOct27);
    for (time_t t : {kOct27, kMar31, static_cast<time_t>(86400 * 365)}) {
        struct tm c, g;
        localtime_cont(&t, &c);
        const time_t shifted = t + 9 * 3600;
        gmtime_r(&shifted, &g);
        EXPECT_EQ(Wall(c), Wall(g));
        EXPECT_EQ(c.tm_isdst, 0);
    }
    time_t s = 1, e = 1;
    int isdst = -1;
    EXPECT_EQ(ContLoctGetInterval(kOct27, &s, &e, &isdst), 0);
    EXPECT_EQ(s, 0);
    EXPECT_EQ(e, 0);

    // "off": plain localtime even in the repeated hour; "old": the window
    // method also keeps the clock monotonic through the repeated hour.
    UseZone(kCet, kOct27 - 86400 * 20);
    ContLoctInit(Getter);
    g_modeText = "off";
    for (time_t t = kOct27 - 3600; t < kOct27 + 3600; t += 300) {
        struct tm c, l;
        ContLoctLocaltimeR(&t, &c);
        localtime_r(&t, &l);
        EXPECT_EQ(Wall(c), Wall(l));
    }
    ContLoctInit(Getter);
    g_modeText = "old";
    time_t last = 0;
    for (time_t t = kOct27 - 3 * 3600; t < kOct27 + 3 * 3600; t += 60) {
        struct tm c;
        ASSERT_NE(ContLoctLocaltimeR(&t, &c), nullptr);
        EXPECT_GE(Wall(c), last) << t;
        last = Wall(c);
        if (t < kOct27 - 3600 || t >= kOct27 + 3600) {
            struct tm l;
            localtime_r(&t, &l);
            EXPECT_EQ(Wall(c), Wall(l));
        }
    }
    g_modeText = nullptr;
    ContLoctInit(nullptr);
}

TEST(ContLoct, FormatAndCtime)
{
    UseZone(kCet, kOct27 - 86400 * 20);
    char buf[64];
    EXPECT_STREQ(ContLoctFormatTm(nullptr, buf), "NULL");
    const time_t t = kOct27 - 3600;
    EXPECT_STREQ(ContLoctFormatTm(ContLoctLocaltime(&t), buf), "27.10.2024  02:00:00 dst");
    EXPECT_STREQ(ContLoctCtimeR(&t, buf), "Sun Oct 27 02:00:00 2024\n");
}
