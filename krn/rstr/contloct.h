// Continuous local time: a time_t to broken-down local time conversion that
// never runs backwards when daylight saving time ends.  Through the two real
// hours around the switch back to standard time the local clock runs at half
// speed, so time stamps stay monotonic.
//
// Modes (read once through the getter installed by ContLoctInit from the
// parameter "zdate/DSTswitch_contloctime"): 1 continuous ("on", or no value),
// 2 window method ("old", or an unknown text), 3 plain localtime ("off").
// Without a getter the mode is 1.
//
// Offsets are seconds and negative east of Greenwich: the time-zone offset is
// -3600 for one hour east, the DST offset -3600 for a one-hour shift.
#pragma once
#include <ctime>

typedef const char* (*ContLoctGetter)(const char* name, int flags);
typedef void (*ContLoctLogFunc)(void* ctx, const char* fmt, ...);

// Forgets the cached mode and installs the parameter getter (may be null).
void ContLoctInit(ContLoctGetter getter);
void ContLoctSetLog(ContLoctLogFunc func, void* ctx);
// 2 logs every conversion.
void ContLoctSetLogLevel(int level);

// Continuous local time (whatever the mode); tm_isdst is 1 inside the
// stretched interval.  Returns tm.
struct tm* localtime_cont(const time_t* t, struct tm* tm);
// Inverse of the current mode's local time.
time_t mktime_cont(struct tm* tm);
// Mode dispatcher, reentrant; null when the conversion fails.
struct tm* ContLoctLocaltimeR(const time_t* t, struct tm* tm);
// As ContLoctLocaltimeR into a static result, guarded against re-entry.
struct tm* ContLoctLocaltime(const time_t* t);
// asctime_r of ContLoctLocaltimeR (buffer of 26 bytes or more); null on failure.
char* ContLoctCtimeR(const time_t* t, char* buf);

// The next (previous) DST switch after (before) t in *sw, 0 when none within
// 13 x 31 days; returns the DST state at t, -1 when localtime fails.
int ContLoctGetNextSwitch(time_t t, time_t* sw);
int ContLoctGetPrevSwitch(time_t t, time_t* sw);
// The DST offset (cached): -3600 for a one-hour shift.
int ContLoctGetDstOffset();
// 1 when t lies in a stretched interval [*start, *end); *isdst the DST state
// at t.  Zones without DST give 0 with both bounds 0.
int ContLoctGetInterval(time_t t, time_t* start, time_t* end, int* isdst);
long ContLoctTimezoneOffset();
void ContLoctGetOffsets(long* tzOffset, int* dstOffset);
// "%02d.%02d.%4d  %02d:%02d:%02d %s" ("dst"/"non dst"), "NULL" for a null tm;
// the buffer needs 40 bytes.
char* ContLoctFormatTm(const struct tm* tm, char* buf);
// Window method: 1 with [*start, *end) when t lies in the repeated local hour
// or the hour before it, 0 when not, -1 when localtime fails.
int ContLoctOldWindow(time_t t, time_t* start, time_t* end);

// Forgets every cached zone value (after TZ changed) and, when clock is not
// null, takes "now" from it instead of time(); for tests.
void ContLoctReset(time_t (*clock)());
