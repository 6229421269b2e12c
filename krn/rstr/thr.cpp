// Thread support for a single-threaded build.
#include "krn/rstr/thr.h"

#include <cstdlib>
#include <cstring>

#include "nls/kovstr.h"

namespace {

ThrMallocHook g_malloc = nullptr;
ThrCallocHook g_calloc = nullptr;
ThrReallocHook g_realloc = nullptr;
ThrFreeHook g_free = nullptr;
void* g_callbacks[2] = {nullptr, nullptr};

const char* const kTexts[] = {
    "Operation completed successfully.",
    "Thread still alive.",
    "Invalid parameter passed.",
    "Attempt was made to initialize an item which already exists.",
    "Thread library internal error.",
    "Thread ID is invalid.",
    "Thread specific data key is invalid.",
    "Error occurred while attempting to allocate memory.",
    "Thread library not yet initialized.",
    "Attempt was made to unlock a critical section which is not currently locked.",
    "Attempt was made to unlock a critical section owned by another thread.",
    "Threads not supported on this platform.",
    "Operating system error occurred.",
    "Operation would cause the calling thread to deadlock.",
    "Operation failed due to lack of resources.",
    "Operation timed out.",
};

}  // namespace

const char* ThrErrorText(int code)
{
    if (code < 0 || code >= static_cast<int>(sizeof kTexts / sizeof kTexts[0]))
        return "Error code not defined by the thread library.";
    return kTexts[code];
}

int ThrKeyCreate(ThrKey* key, void (*)(void*))
{
    if (*key != THR_KEY_UNSET)
        return THR_ERR_EXISTS;
    void* cell = ThrCalloc(1, 8);
    if (!cell)
        return THR_ERR_NOMEM;
    *key = reinterpret_cast<ThrKey>(cell);
    return THR_ERR_OK;
}

void* ThrKeyGetValue(ThrKey* key)
{
    if (*key == THR_KEY_UNSET && ThrKeyCreate(key, nullptr) != THR_ERR_OK)
        return nullptr;
    return *reinterpret_cast<void**>(*key);
}

int ThrKeySetValue(ThrKey* key, void* value)
{
    if (*key == THR_KEY_UNSET) {
        const int rc = ThrKeyCreate(key, nullptr);
        if (rc != THR_ERR_OK && rc != THR_ERR_EXISTS)
            return rc;
    }
    *reinterpret_cast<void**>(*key) = value;
    return THR_ERR_OK;
}

int ThrKeyDelete(ThrKey* key)
{
    if (*key != THR_KEY_UNSET)
        ThrFree(reinterpret_cast<void*>(*key));
    *key = THR_KEY_UNSET;
    return THR_ERR_OK;
}

void ThrSetMemHooks(ThrMallocHook m, ThrCallocHook c, ThrReallocHook r, ThrFreeHook f)
{
    g_malloc = m;
    g_calloc = c;
    g_realloc = r;
    g_free = f;
}

void* ThrMalloc(size_t size)
{
    return g_malloc ? g_malloc(size, "thrm01") : std::malloc(size);
}

void* ThrCalloc(size_t count, size_t size)
{
    return g_calloc ? g_calloc(count, size, "thrm02") : std::calloc(count, size);
}

void ThrFree(void* p)
{
    if (g_free)
        g_free(p, "thrm03");
    else
        std::free(p);
}

void* ThrRealloc(void* p, size_t size)
{
    return g_realloc ? g_realloc(p, size, "thrm04") : std::realloc(p, size);
}

char* ThrStrdup(const char* s)
{
    const size_t n = std::strlen(s) + 1;
    char* d = static_cast<char*>(g_malloc ? g_malloc(n, "thrm05") : std::malloc(n));
    if (d)
        std::memcpy(d, s, n);
    return d;
}

char* ThrStrtokR(char* str, const char* delim, char** save)
{
    return strtok_r(str, delim, save);
}

struct tm* ThrGmtimeR(const time_t* t, struct tm* out)
{
    return gmtime_r(t, out);
}

struct tm* ThrLocaltimeR(const time_t* t, struct tm* out)
{
    return localtime_r(t, out);
}

char* ThrCtimeR(const time_t* t, char* buf)
{
    return ctime_r(t, buf);
}

char* ThrAsctimeR(const struct tm* tm, char* buf)
{
    return asctime_r(tm, buf);
}

char* ThrStrerrorR(int err, char* buf, int size)
{
    if (size < 1)
        return nullptr;
    const char* t = std::strerror(err);
    if (!t)
        snprintfTruncR(buf, static_cast<size_t>(size), "(%d) - illegal errno", err);
    else if (std::strlen(t) < static_cast<size_t>(size))
        std::strcpy(buf, t);
    else
        snprintfTruncR(buf, static_cast<size_t>(size), "(%d) - error text too long", err);
    return buf;
}

int ThrRand()
{
    return std::rand();
}

void ThrSetCallbacks(void* first, void* second)
{
    g_callbacks[0] = first;
    g_callbacks[1] = second;
}
