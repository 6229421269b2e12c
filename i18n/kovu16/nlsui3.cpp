// 16-bit wrappers of the environment and of XDR strings.
#include <rpc/xdr.h>

#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>

#include "i18n/kovu16/nlsui_conv.h"
#include "i18n/kovu16/nlsui_u16.h"
#include "i18n/kovu16/u16_diag.h"
#include "i18n/kovu16/u16_utf8.h"
#include "nls/kovstr.h"

extern char** environ;

namespace {

constexpr char kSource[] = "nlsui3.cpp";
constexpr size_t kTableStep = 128;

// The UTF-8 strings handed to putenv, which the environment keeps using.
char** put_table = nullptr;
size_t put_count = 0, put_capacity = 0;

// The 16-bit copies returned by getenvU16 and the values they came from.
KOV_UTF16** get_copies = nullptr;
const char** get_values = nullptr;
size_t get_count = 0;

KOV_UTF16 empty_value[1] = {0};

__attribute__((format(printf, 1, 2))) void trace_high(const char* fmt, ...)
{
    if (u16_trace_level < U16_TRACE_HIGH)
        return;
    char text[96];
    va_list ap;
    va_start(ap, fmt);
    vsnprintfTruncR(text, sizeof text, fmt, ap);
    va_end(ap);
    u16_frameMessage(text, kSource, __LINE__, true);
}

bool in_environment(const char* p)
{
    for (char** e = environ; e != nullptr && *e != nullptr; ++e)
        if (*e == p)
            return true;
    return false;
}

// Frees the remembered strings the environment no longer holds; grows the
// table when it stays nearly full.  False when growing failed.
bool cleanup_put_table()
{
    trace_high("Entering cleanup_putenv_table(). \nAllocated table lines = %zu\n", put_capacity);
    size_t kept = 0;
    for (size_t i = 0; i < put_count; ++i) {
        if (in_environment(put_table[i]))
            put_table[kept++] = put_table[i];
        else
            std::free(put_table[i]);
    }
    put_count = kept;
    trace_high("Entries after shrinking: %zu\n", put_count);
    if (put_count > put_capacity - 24) {
        trace_high("Enlarging table to %zu\n", put_capacity + kTableStep);
        auto** grown = static_cast<char**>(std::realloc(put_table, (put_capacity + kTableStep) * sizeof(char*)));
        if (grown == nullptr) {
            u16_reportOutOfMemory("putenvU16", kSource, __LINE__);
            return false;
        }
        put_table = grown;
        put_capacity += kTableStep;
    }
    return true;
}

}  // namespace

int putenvU16(const KOV_UTF16* text)
{
    if (text == nullptr) {
        // The C library would crash on a null text.
        errno = EINVAL;
        return -1;
    }
    const size_t size = 3 * strlenU16(text) + 3;
    char* buf = static_cast<char*>(std::malloc(size));
    if (buf == nullptr) {
        u16_reportOutOfMemory("putenvU16", kSource, __LINE__);
        return -1;
    }
    U16ToUtf8Str(buf, text, size);
    if (put_table == nullptr) {
        put_table = static_cast<char**>(std::malloc(kTableStep * sizeof(char*)));
        if (put_table == nullptr) {
            std::free(buf);
            u16_reportOutOfMemory("putenvU16", kSource, __LINE__);
            return -1;
        }
        put_capacity = kTableStep;
    }
    // Room in the table first, so that a string handed to putenv is always kept.
    if (put_count == put_capacity && !cleanup_put_table()) {
        std::free(buf);
        return -1;
    }
    if (putenv(buf) != 0) {
        std::free(buf);
        return -1;
    }
    put_table[put_count++] = buf;
    return 0;
}

KOV_UTF16* getenvU16(const KOV_UTF16* name)
{
    char nbuf[MAX_ENV_LN];
    const char* n = nullptr;
    if (name == nullptr || !nlsui_argument(nbuf, sizeof nbuf, name, n, "getenvU16", "name", "MAX_ENV_LN"))
        return nullptr;
    const char* value = getenv(n);
    if (value == nullptr)
        return nullptr;
    if (value[0] == '\0')
        return empty_value;
    const size_t len = strnlenR(value, SIZE_MAX);
    auto* copy = static_cast<KOV_UTF16*>(std::malloc(2 * (len + 1)));
    if (copy == nullptr) {
        u16_reportOutOfMemory("getenvU16", kSource, __LINE__);
        return nullptr;
    }
    if (Utf8ToU16Str(copy, value, len + 1) < 0) {
        u16_reportInvalidInput("getenvU16", kSource, __LINE__);
        std::free(copy);
        return nullptr;
    }
    if (get_copies == nullptr) {
        get_copies = static_cast<KOV_UTF16**>(std::malloc(kTableStep * sizeof(KOV_UTF16*)));
        get_values = static_cast<const char**>(std::malloc(kTableStep * sizeof(char*)));
        if (get_copies == nullptr || get_values == nullptr) {
            std::free(get_copies);
            std::free(get_values);
            get_copies = nullptr;
            get_values = nullptr;
            std::free(copy);
            u16_reportOutOfMemory("getenvU16", kSource, __LINE__);
            return nullptr;
        }
    }
    if (get_count == kTableStep) {
        trace_high("Entering cleanup_putenv_table(). \nAllocated table lines = %zu\n", kTableStep);
        for (size_t i = 0; i < get_count; ++i)
            std::free(get_copies[i]);
        get_count = 0;
        trace_high("Entries after shrinking: %zu\n", get_count);
    }
    get_copies[get_count] = copy;
    get_values[get_count] = value;
    ++get_count;
    return copy;
}

int xdr_stringU16(XDR* xdrs, KOV_UTF16** str, unsigned int maxsize)
{
    if (xdrs->x_op == XDR_ENCODE) {
        const size_t len = strlenU16(*str);
        if (3 * len > maxsize)
            return 0;
        char* buf = static_cast<char*>(std::malloc(3 * len + 1));
        if (buf == nullptr) {
            u16_reportOutOfMemory("xdr_stringU16", kSource, __LINE__);
            return 0;
        }
        U16ToUtf8Str(buf, *str, 3 * len + 1);
        char* p = buf;
        const bool_t r = xdr_string(xdrs, &p, maxsize);
        std::free(buf);
        return r;
    }
    if (xdrs->x_op != XDR_DECODE)
        return 0;
    char* decoded = nullptr;
    if (!xdr_string(xdrs, &decoded, maxsize))
        return 0;
    const size_t len = strnlenR(decoded, SIZE_MAX);
    int result = 0;
    if (*str == nullptr) {
        auto* u = static_cast<KOV_UTF16*>(std::malloc(2 * len + 2));
        if (u == nullptr) {
            u16_reportOutOfMemory("xdr_stringU16", kSource, __LINE__);
        } else if (Utf8ToU16Str(u, decoded, len + 1) < 0) {
            std::free(u);
        } else {
            *str = u;
            result = 1;
        }
    } else {
        const long r = Utf8ToU16Str(*str, decoded, len + 1);
        result = (r >= 0 && static_cast<size_t>(r) <= len) ? 1 : 0;
    }
    xdr_free(reinterpret_cast<xdrproc_t>(xdr_wrapstring), reinterpret_cast<char*>(&decoded));
    return result;
}
