// Thread support for a single-threaded build: thread-data keys are single
// heap cells, memory functions can be redirected through hooks, and the
// reentrant calls use the standard library.
#pragma once
#include <cstddef>
#include <cstdint>
#include <ctime>

// A key word: THR_KEY_UNSET until created, then the address of an 8-byte
// value cell.  Callers initialise their key words to THR_KEY_UNSET.
typedef uintptr_t ThrKey;
constexpr ThrKey THR_KEY_UNSET = ~static_cast<ThrKey>(0);

// Result codes 0 to 15.
constexpr int THR_ERR_OK = 0;
constexpr int THR_ERR_EXISTS = 3;
constexpr int THR_ERR_NOMEM = 7;
const char* ThrErrorText(int code);

int ThrKeyCreate(ThrKey* key, void (*destructor)(void*));
void* ThrKeyGetValue(ThrKey* key);
int ThrKeySetValue(ThrKey* key, void* value);
int ThrKeyDelete(ThrKey* key);

// Each hook is given a tag naming the call site ("thrm01" allocate, "thrm02"
// zeroed allocation, "thrm03" free, "thrm04" resize, "thrm05" duplicate).
typedef void* (*ThrMallocHook)(size_t size, const char* tag);
typedef void* (*ThrCallocHook)(size_t count, size_t size, const char* tag);
typedef void* (*ThrReallocHook)(void* p, size_t size, const char* tag);
typedef void (*ThrFreeHook)(void* p, const char* tag);
void ThrSetMemHooks(ThrMallocHook m, ThrCallocHook c, ThrReallocHook r, ThrFreeHook f);
void* ThrMalloc(size_t size);
void* ThrCalloc(size_t count, size_t size);
void* ThrRealloc(void* p, size_t size);
void ThrFree(void* p);
char* ThrStrdup(const char* s);

// Reentrant: the position is kept in *save.
char* ThrStrtokR(char* str, const char* delim, char** save);
struct tm* ThrGmtimeR(const time_t* t, struct tm* out);
struct tm* ThrLocaltimeR(const time_t* t, struct tm* out);
// buf of 26 bytes or more.
char* ThrCtimeR(const time_t* t, char* buf);
char* ThrAsctimeR(const struct tm* tm, char* buf);
char* ThrStrerrorR(int err, char* buf, int size);
int ThrRand();
void ThrSetCallbacks(void* first, void* second);
