// Argument and result conversion of the 16-bit system-call wrappers.
#include "i18n/kovu16/nlsui_conv.h"

#include <cerrno>

#include "i18n/kovu16/u16_diag.h"
#include "i18n/kovu16/u16_utf8.h"
#include "nls/kovstr.h"

void nlsui_reportTooSmall(const char* file, int line, const char* func, const char* arg, const char* limit)
{
    if (u16_trace_level != 0) {
        char text[192];
        snprintfTruncR(text, sizeof text, "Function %.64s :\nArray %.32s length %.32s is too small.", func, arg, limit);
        u16_frameMessage(text, file, line, true);
    }
    errno = ENAMETOOLONG;
}

size_t nlsui_u16ToCbuf(char* dst, const KOV_UTF16* src, size_t size, const char* file, int line, const char* func,
                       const char* arg, const char* limit)
{
    // The argument is read no further than its limit: without a terminator
    // there it is too long, whatever follows.
    const size_t units = strnlenU16(src, size);
    if (units < size) {
        size_t need = 0;
        for (size_t i = 0; i < units; ++i)
            need += u16_encodedLength(src[i]);
        if (need < size)
            return U16ToUtf8Str(dst, src, size);
    }
    if (size > 0)
        dst[0] = '\0';
    nlsui_reportTooSmall(file, line, func, arg, limit);
    return size;
}

long nlsui_utf8ToU16buf(KOV_UTF16* dst, const char* src, size_t size, const char* file, int line, const char* func,
                        const char* arg, const char* limit)
{
    const long r = Utf8ToU16Str(dst, src, size);
    if (r < 0) {
        u16_reportInvalidInput(func, file, line);
        return -1;
    }
    if (static_cast<size_t>(r) >= size) {
        if (size > 0)
            dst[size - 1] = 0;
        nlsui_reportTooSmall(file, line, func, arg, limit);
        return static_cast<long>(size);
    }
    return r;
}

bool nlsui_argument(char* buf, size_t size, const KOV_UTF16* src, const char*& out, const char* func, const char* arg,
                    const char* limit)
{
    if (src == nullptr) {
        out = nullptr;
        return true;
    }
    out = buf;
    return nlsui_u16ToCbuf(buf, src, size, "nlsui2.cpp", __LINE__, func, arg, limit) < size;
}
