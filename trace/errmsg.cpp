// Message texts of the error-information record: the message file, the
// lookup hook, the merge of argument texts and the message-number width.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "trace/errinfo_int.h"

ErrGetTxtFunc ErrGetTxtPtr = ErrGetTxt;

namespace {

char* g_fileName = nullptr;
FILE* g_file = nullptr;
char* g_mergedError = nullptr;
char* g_mergedDetail = nullptr;
const char kSep[] = ";;;;";

// Piece n (0-based) of the argument texts: start and length; false when
// there are fewer pieces.
bool Piece(const char* vargs, int n, const char** start, size_t* len)
{
    const char* p = vargs;
    for (int i = 0; i < n; ++i) {
        const char* s = std::strstr(p, kSep);
        if (!s)
            return false;
        p = s + 4;
    }
    const char* s = std::strstr(p, kSep);
    *start = p;
    *len = s ? static_cast<size_t>(s - p) : std::strlen(p);
    return true;
}

int PieceCount(const char* vargs)
{
    int n = 1;
    for (const char* p = std::strstr(vargs, kSep); p; p = std::strstr(p + 4, kSep))
        ++n;
    return n;
}

// The merge; out null only counts.  Returns the merged length.
size_t Merge(char* out, const char* text, const char* vargs, bool trace)
{
    size_t n = 0;
    const char* cursor = vargs;
    auto put = [&](const char* s, size_t len) {
        if (out)
            std::memcpy(out + n, s, len);
        n += len;
    };
    for (const char* p = text; *p;) {
        if (*p != '&') {
            put(p++, 1);
            continue;
        }
        ++p;
        if (*p >= '0' && *p <= '9') {
            const int k = *p - '0';
            const int index = k <= 1 ? 0 : k - 1;
            const char* s;
            size_t len;
            if (Piece(vargs, index, &s, &len))
                put(s, len);
            else if (trace && k - PieceCount(vargs) >= 2)
                ErrTraceInfo("ErrMergeTxt: no vargs for &%c\n", *p);
            ++p;
            continue;
        }
        if (!*cursor) {
            if (trace)
                ErrTraceInfo("ErrMergeTxt: no vargs\n");
            continue;
        }
        const char* s = std::strstr(cursor, kSep);
        const size_t len = s ? static_cast<size_t>(s - cursor) : std::strlen(cursor);
        put(cursor, len);
        cursor = s ? s + 4 : cursor + len;
    }
    if (out)
        out[n] = '\0';
    return n;
}

void LookupOne(char lang, const char* no, const char* vargs, char** merged, const char** deliver)
{
    char text[256];
    if ((ErrGetTxtPtr(no, lang, text, sizeof text) & 0xff) == 0) {
        ErrTraceInfo("ErrIGet: no text found (msg %s lang %c)\n", no, lang);
        return;
    }
    text[sizeof text - 1] = '\0';
    char* buf = static_cast<char*>(std::malloc(Merge(nullptr, text, vargs, false) + 1));
    if (!buf)
        return;
    std::free(*merged);
    *merged = buf;
    ErrMergeTxt(buf, text, vargs);
    *deliver = buf;
}

}  // namespace

void ErrLookupTexts(char lang, const char** error, const char** detail, const char* descrNo, const char* descrVargs,
                    const char* detailNo, const char* detailVargs)
{
    if (error && *descrNo)
        LookupOne(lang, descrNo, descrVargs, &g_mergedError, error);
    if (detail && *detailNo)
        LookupOne(lang, detailNo, detailVargs, &g_mergedDetail, detail);
}

int ErrGetTxt(const char* msgNo, char lang, char* buf, int size)
{
    if (size < 1)
        return 0;
    if (g_file) {
        std::rewind(g_file);
    } else {
        if (!g_fileName) {
            const char* env = std::getenv("ERR_MSG_FILE");
            const char* name = env ? env : "errmsg";
            g_fileName = static_cast<char*>(std::malloc(std::strlen(name) + 1));
            if (!g_fileName)
                return 0;
            std::strcpy(g_fileName, name);
        }
        g_file = std::fopen(g_fileName, "r");
        if (!g_file) {
            const int e = errno;
            char t[128];
            ErrGetErrnoTxt(e, t, sizeof t);
            ErrTraceInfo("ErrGetTxt: can't open file %s (%d %s)\n", g_fileName, e, t);
            return 0;
        }
    }
    const size_t noLen = std::strlen(msgNo);
    char line[256];
    while (std::fgets(line, sizeof line, g_file)) {
        if (line[0] != lang || std::strncmp(line + 1, msgNo, noLen) != 0)
            continue;
        const char* rest = line + 1 + noLen;
        size_t n = std::strlen(rest);
        if (n > static_cast<size_t>(size - 1))
            n = static_cast<size_t>(size - 1);
        std::memcpy(buf, rest, n);
        if (n > 0 && buf[n - 1] == '\n')
            --n;
        buf[n] = '\0';
        return 1;
    }
    return 0;
}

int ErrSetGetTxtHook(ErrGetTxtFunc func)
{
    ErrGetTxtPtr = func;
    return 0;
}

int ErrSetMsgFile(const char* name)
{
    if (g_fileName || !name)
        return 0;
    g_fileName = static_cast<char*>(std::malloc(std::strlen(name) + 1));
    if (!g_fileName)
        return -5;
    std::strcpy(g_fileName, name);
    return 0;
}

int ErrSetMsgNoLen(uint16_t width)
{
    if (width > 10)
        return -4;
    err_msgno_len = width;
    return 0;
}

int ErrMergeTxt(char* out, const char* text, const char* vargs)
{
    Merge(out, text, vargs, true);
    return 0;
}

size_t ErrMergeLen(const char* text, const char* vargs)
{
    return Merge(nullptr, text, vargs, false);
}
