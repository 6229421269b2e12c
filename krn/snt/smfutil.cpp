// Guarded allocation, the trace formatter with its collected messages, the
// URL splitter and the traced hex dump of the timestamp client's support code.
#include "krn/snt/smfutil.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "nls/kovstr.h"

const char SMFUTIL_LOW_MEMORY_TEXT[] =
    "A low-memory situation has occurred, therefore no call-specific error text is available; "
    "information about the incident are recorded in the developer trace";

namespace {

struct Tracked {
    void* block;
    int kind;
    size_t bytes;
    size_t chars;
    const char* file;
    int line;
    Tracked* next;
};

DpTrcHdl s_traceFile = nullptr;
bool s_traceFileSet = false;
bool s_lowMemory = false;
bool s_errorSeen = false;
bool s_tracking = false;
Tracked* s_tracked = nullptr;
const char* s_locFile = "";
int s_locLine = 0;

constexpr unsigned char kCharGuard = 'X';
constexpr unsigned char kByteGuard = 0xFA;
constexpr size_t kTraceBuffer = 1024;
constexpr size_t kMsgStep = 50;

const char* BaseName(const char* file)
{
    const char* slash = file ? std::strrchr(file, '/') : nullptr;
    return slash ? slash + 1 : (file ? file : "");
}

// One formatted line to the trace file: a plain entry at levels 1 to 3 when
// the trace level reaches it, an error entry for level 0 whenever tracing is
// on.  bare: the text goes out as it is (dump lines).
void WriteTrace(int level, const char* text, bool bare)
{
    if (!s_traceFileSet)
        return;
    const bool error = level < 1 || level > 3;
    if (error ? ct_level <= 0 : ct_level < level)
        return;
    DpTrcLockAcquire();
    DpTrcSaveLoc(BaseName(s_locFile), s_locLine);
    if (bare && error)
        DpTrcErr(s_traceFile, "%s\n", text);
    else if (bare)
        DpTrcBare(s_traceFile, "%s\n", text);
    else if (error)
        DpTrcErr(s_traceFile, "SmfUtil: %s\n", text);  // the error line carries the position itself
    else
        DpTrc(s_traceFile, "SmfUtil: %s [%s %d]\n", text, BaseName(s_locFile), s_locLine);
    DpTrcLockRelease();
}

// Keeps an error message in the block, newest first.
void Collect(SmfUtilMsg* msg, const char* text)
{
    if (!msg)
        return;
    const size_t oldLen = msg->text ? std::strlen(msg->text) : 0;
    const size_t need = std::strlen(text) + (msg->text ? 5 + oldLen : 0) + 1;
    size_t cap = msg->capacity < kMsgStep ? kMsgStep : msg->capacity;
    while (cap < need)
        cap += kMsgStep;
    char* grown = static_cast<char*>(SMF_ALLOC(SMFUTIL_CHARS, 0, cap));
    if (!grown)
        return;
    if (msg->text)
        snprintfR(grown, cap, "%s <-- %s", text, msg->text);
    else
        snprintfR(grown, cap, "%s", text);
    SMF_FREE(msg->text);
    msg->text = grown;
    msg->capacity = cap;
}

}  // namespace

void SmfUtilSetTraceFile(DpTrcHdl traceFile)
{
    s_traceFile = traceFile;
    s_traceFileSet = true;
}

DpTrcHdl SmfUtilGetTraceFile()
{
    return s_traceFile;
}

bool SmfUtilHasTraceFile()
{
    return s_traceFileSet;
}

void SmfUtilSetTraceLoc(const char* file, int line)
{
    s_locFile = file ? file : "";
    s_locLine = line;
}

void SmfUtilTrace(int level, SmfUtilMsg* msg, const char* fmt, ...)
{
    if (s_lowMemory) {
        WriteTrace(1,
                   "SmfUtil is currently in low-memory state, therefore the trace message that was "
                   "supposed to be created now cannot be rendered completely",
                   false);
        return;
    }
    char local[kTraceBuffer];
    char* text = local;
    va_list ap;
    va_start(ap, fmt);
    const int n = std::vsnprintf(local, sizeof local, fmt, ap);
    va_end(ap);
    if (n < 0)
        return;
    if (static_cast<size_t>(n) >= sizeof local) {
        text = static_cast<char*>(std::malloc(static_cast<size_t>(n) + 1));
        if (!text) {
            text = local;  // the cut text is better than none
        } else {
            va_start(ap, fmt);
            std::vsnprintf(text, static_cast<size_t>(n) + 1, fmt, ap);
            va_end(ap);
        }
    }
    WriteTrace(level, text, false);
    if (level == 0)
        Collect(msg, text);
    if (text != local)
        std::free(text);
}

void SmfUtilFreeMsg(SmfUtilMsg* msg)
{
    if (!msg)
        return;
    SMF_FREE(msg->text);
    msg->text = nullptr;
    msg->capacity = 0;
}

// ---- guarded allocation ------------------------------------------------------

void* SmfUtilAlloc(int kind, size_t bytes, size_t chars, const char* file, int line)
{
    if (s_lowMemory) {
        SmfUtilSetTraceLoc(file, line);
        WriteTrace(1,
                   "New request for memory not executed because low-memory situation occurred "
                   "previously; this will be reset with the next API call to RSecSSFs",
                   false);
        return nullptr;
    }
    const bool isChars = kind == SMFUTIL_CHARS;
    const size_t count = isChars ? chars : bytes;
    unsigned char* block = count < SIZE_MAX ? static_cast<unsigned char*>(std::malloc(count + 1)) : nullptr;
    if (!block) {
        SmfUtilSetTraceLoc(file, line);
        SmfUtilTrace(0, nullptr,
                     isChars ? "Dynamic allocation of %zu characters failed" : "Dynamic allocation of %zu bytes failed",
                     count);
        s_lowMemory = true;
        return nullptr;
    }
    block[count] = isChars ? kCharGuard : kByteGuard;
    if (s_tracking) {
        Tracked* t = static_cast<Tracked*>(std::malloc(sizeof(Tracked)));
        if (!t) {
            SmfUtilSetTraceLoc(file, line);
            SmfUtilTrace(0, nullptr, "Memory management structure cannot be allocated");
            s_lowMemory = true;
        } else {
            *t = Tracked{block, kind, bytes, chars, file, line, s_tracked};
            s_tracked = t;
        }
    }
    return block;
}

void SmfUtilFree(void* block, const char* file, int line)
{
    if (!s_tracking) {
        std::free(block);
        return;
    }
    SmfUtilSetTraceLoc(file, line);
    if (!block) {
        SmfUtilTrace(0, nullptr, "Attempt to free NULL pointer");
        s_errorSeen = true;
        return;
    }
    Tracked** link = &s_tracked;
    while (*link && (*link)->block != block)
        link = &(*link)->next;
    if (!*link) {
        SmfUtilTrace(0, nullptr, "Free for unallocated memory from %s %d\n", BaseName(file), line);
        s_errorSeen = true;
        return;
    }
    Tracked* t = *link;
    const bool isChars = t->kind == SMFUTIL_CHARS;
    const unsigned char guard = static_cast<unsigned char*>(block)[isChars ? t->chars : t->bytes];
    if (guard != (isChars ? kCharGuard : kByteGuard)) {
        SmfUtilTrace(0, nullptr, "Memory allocated by %s %d has been corrupted", BaseName(t->file), t->line);
        s_errorSeen = true;
    }
    *link = t->next;
    std::free(t);
    std::free(block);
}

char* SmfUtilStrndup(const char* text, size_t n, const char* file, int line)
{
    if (!text)
        return nullptr;
    char* copy = static_cast<char*>(SmfUtilAlloc(SMFUTIL_CHARS, 0, n + 1, file, line));
    if (copy) {
        std::memcpy(copy, text, n);
        copy[n] = '\0';
    }
    return copy;
}

void SmfUtilResetLowMemory()
{
    s_lowMemory = false;
    s_errorSeen = false;
}

bool SmfUtilLowMemory()
{
    return s_lowMemory;
}

void SmfUtilReset(bool tracking)
{
    while (s_tracked) {
        Tracked* next = s_tracked->next;
        std::free(s_tracked);
        s_tracked = next;
    }
    s_tracking = tracking;
    s_errorSeen = false;
}

bool SmfUtilCheckpoint()
{
    while (s_tracked) {
        Tracked* t = s_tracked;
        const bool isChars = t->kind == SMFUTIL_CHARS;
        SmfUtilSetTraceLoc(__FILE__, __LINE__);
        SmfUtilTrace(0, nullptr, "Memory still allocated at checkpoint; allocated as %s(%zu) from %s %d\n",
                     isChars ? "U" : "R", isChars ? t->chars : t->bytes, BaseName(t->file), t->line);
        s_errorSeen = true;
        s_tracked = t->next;
        std::free(t);
    }
    return s_errorSeen;
}

// ---- URL splitting ------------------------------------------------------------

char* SmfUtilShowableURL(const char* url)
{
    if (!url)
        return nullptr;
    const char* sep = std::strstr(url, "://");
    const char* rest = sep ? sep + 3 : url;
    const char* slash = std::strchr(rest, '/');
    const char* at = std::strchr(rest, '@');
    const size_t len = std::strlen(url);
    char* out = static_cast<char*>(std::malloc(len + 16));
    if (!out)
        return nullptr;
    if (at && (!slash || at < slash))
        std::snprintf(out, len + 16, "%.*s<hidden>%s", static_cast<int>(rest - url), url, at);
    else
        std::memcpy(out, url, len + 1);
    return out;
}

namespace {

bool HasControlOrBlank(const char* text)
{
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; ++p) {
        if (*p <= 0x20 || *p == 0x7F)
            return true;
    }
    return false;
}

void UrlError(SmfUtilMsg* msg, const char* problem, const char* url)
{
    char* shown = SmfUtilShowableURL(url);
    SMF_TRACE(0, msg, "URL \"%s\" %s", shown ? shown : "<URL>", problem);
    std::free(shown);
}

}  // namespace

void SmfUtilFreeURL(SmfUtilURL* parts)
{
    if (!parts)
        return;
    SMF_FREE(parts->scheme);
    SMF_FREE(parts->user);
    SMF_FREE(parts->password);
    SMF_FREE(parts->host);
    SMF_FREE(parts->port);
    SMF_FREE(parts->path);
    SMF_FREE(parts);
}

int SmfUtilSplitURL(SmfUtilMsg* msg, const char* url, SmfUtilURL** partsOut, char** cleanOut)
{
    SMF_TRACE(2, msg, "Entering SmfUtilSplitURL()");
    if (partsOut)
        *partsOut = nullptr;
    if (cleanOut)
        *cleanOut = nullptr;
    int rc = 0;
    SmfUtilURL* parts = nullptr;
    char* clean = nullptr;
    if (!url) {
        SMF_TRACE(0, msg, "URL with value <NULL> is not permitted");
        rc = 1;
    } else if (HasControlOrBlank(url)) {
        // It would end up in the request line and break it, or add to the header.
        SMF_TRACE(0, msg, "URL contains a blank or a control character, which is not permitted");
        rc = 1;
    } else if (!std::strstr(url, "://")) {
        UrlError(msg, "does not have scheme/host separator (://)", url);
        rc = 1;
    }
    const char* sep = rc == 0 ? std::strstr(url, "://") : nullptr;
    const char* rest = sep ? sep + 3 : nullptr;
    const char* slash = rest ? std::strchr(rest, '/') : nullptr;
    const char* at = rest ? std::strchr(rest, '@') : nullptr;
    if (at && slash && slash < at)
        at = nullptr;
    const char* colon = at ? std::strchr(rest, ':') : nullptr;
    if (rc == 0 && at && (!colon || colon > at)) {
        UrlError(msg,
                 "contains @-sign to indicate user-password-embedding, but does not have "
                 ":-sign to separate them",
                 url);
        rc = 1;
    }
    if (rc == 0) {
        parts = static_cast<SmfUtilURL*>(SMF_ALLOC(SMFUTIL_BYTES, sizeof(SmfUtilURL), 0));
        if (!parts) {
            rc = -1;
        } else {
            *parts = SmfUtilURL{};
            const char* host = at ? at + 1 : rest;
            const size_t hostLen = std::strcspn(host, ":/");
            const char* portAt = host[hostLen] == ':' ? host + hostLen + 1 : nullptr;
            const char* path = std::strchr(host, '/');
            bool ok = (parts->scheme = SMF_STRNDUP(url, static_cast<size_t>(sep - url))) != nullptr &&
                      (parts->host = SMF_STRNDUP(host, hostLen)) != nullptr;
            if (ok && at)
                ok = (parts->user = SMF_STRNDUP(rest, static_cast<size_t>(colon - rest))) != nullptr &&
                     (parts->password = SMF_STRNDUP(colon + 1, static_cast<size_t>(at - colon - 1))) != nullptr;
            if (ok && portAt)
                ok = (parts->port = SMF_STRNDUP(portAt, std::strcspn(portAt, "/"))) != nullptr;
            if (ok && path)
                ok = (parts->path = SMF_STRNDUP(path, std::strlen(path))) != nullptr;
            if (ok) {
                const size_t cap = std::strlen(url) + 8;
                clean = static_cast<char*>(SMF_ALLOC(SMFUTIL_CHARS, 0, cap));
                if (clean)
                    snprintfR(clean, cap, "%s://%s%s%s%s", parts->scheme, parts->host, parts->port ? ":" : "",
                              parts->port ? parts->port : "", parts->path ? parts->path : "");
                ok = clean != nullptr;
            }
            if (!ok) {
                SmfUtilFreeURL(parts);
                parts = nullptr;
                rc = -1;
            }
        }
    }
    SMF_TRACE(2, msg,
              "Exit SmfUtilSplitURL(\"%s\"%s) == %d; scheme=%s, user=%s, password(length)=%d, host=%s, "
              "port=%s, path=%s",
              clean ? clean : "<null>", parts && parts->user ? " [user/password hidden]" : "", rc,
              parts ? parts->scheme : "<null>", parts && parts->user ? "<hidden>" : "<null>",
              parts && parts->password ? static_cast<int>(std::strlen(parts->password)) : 0,
              parts ? parts->host : "<null>", parts && parts->port ? parts->port : "<null>",
              parts && parts->path ? parts->path : "<null>");
    if (rc == 0 && partsOut && cleanOut) {
        *partsOut = parts;
        *cleanOut = clean;
    } else {
        SmfUtilFreeURL(parts);
        SMF_FREE(clean);
        if (rc == 0)
            rc = 1;  // nowhere to put the result
    }
    return rc;
}

// ---- hex dump -----------------------------------------------------------------

void SmfUtilDump(SmfUtilMsg* msg, const void* data, size_t length, bool force, int hiddenRanges, ...)
{
    (void)msg;
    if (!force && ct_level < 3)
        return;
    const int level = force ? 0 : 3;
    if (!data) {
        WriteTrace(level, "Binary dump: Incoming data are NULL", true);
        return;
    }
    constexpr int kMaxRanges = 8;
    const unsigned char* from[kMaxRanges];
    const unsigned char* to[kMaxRanges];
    int ranges = 0;
    va_list ap;
    va_start(ap, hiddenRanges);
    for (int i = 0; i < hiddenRanges; ++i) {
        const unsigned char* a = static_cast<const unsigned char*>(va_arg(ap, const void*));
        const unsigned char* b = static_cast<const unsigned char*>(va_arg(ap, const void*));
        if (ranges < kMaxRanges) {
            from[ranges] = a;
            to[ranges] = b;
            ++ranges;
        }
    }
    va_end(ap);
    const unsigned char* bytes = static_cast<const unsigned char*>(data);
    for (size_t off = 0; off < length; off += 16) {
        char hex[16 * 3 + 1];
        char chars[17];
        size_t h = 0;
        size_t n = length - off < 16 ? length - off : 16;
        for (size_t i = 0; i < 16; ++i) {
            if (i >= n) {
                std::memcpy(hex + h, i == 15 ? "  " : "   ", i == 15 ? 2 : 3);
                h += i == 15 ? 2 : 3;
                continue;
            }
            const unsigned char* p = bytes + off + i;
            bool hidden = false;
            for (int r = 0; r < ranges && !hidden; ++r)
                hidden = p >= from[r] && p < to[r];
            if (hidden) {
                std::memcpy(hex + h, "**", 2);
                chars[i] = '*';
            } else {
                std::snprintf(hex + h, 3, "%02X", *p);
                chars[i] = *p >= 0x20 && *p <= 0x7E ? static_cast<char>(*p) : '.';
            }
            h += 2;
            if (i < 15)
                hex[h++] = ' ';
        }
        hex[h] = '\0';
        chars[n] = '\0';
        char line[120];
        std::snprintf(line, sizeof line, "    %08X %s %s", static_cast<unsigned>(off), hex, chars);
        WriteTrace(level, line, true);
    }
}
