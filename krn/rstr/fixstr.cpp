// Fixed-length blank-padded fields.
#include "krn/rstr/fixstr.h"

#include <climits>
#include <cstdlib>
#include <cstring>

namespace {

int32_t Len(const char* f, int32_t n)
{
    return f && n > 0 ? n : 0;
}

int Byte(const char* p)
{
    return static_cast<unsigned char>(*p);
}

}  // namespace

void fixstr_copy_pad(char* dst, int32_t m, const char* src, int32_t n)
{
    if (!dst || m < 1)
        return;
    const int32_t k = src ? (n < m ? (n > 0 ? n : 0) : m) : 0;
    if (k)
        std::memmove(dst, src, static_cast<size_t>(k));
    std::memset(dst + k, ' ', static_cast<size_t>(m - k));
}

void fixstr_copy_str_pad(char* dst, const char* str, int32_t m)
{
    if (!dst || m < 1)
        return;
    int32_t k = 0;
    if (str)
        while (k < m && str[k])
            ++k;
    fixstr_copy_pad(dst, m, str, k);
}

int32_t fixstr_trimmed_len(const char* field, int32_t n)
{
    int32_t k = Len(field, n);
    while (k > 0 && field[k - 1] == ' ')
        --k;
    return k;
}

void fixstr_copy_trim(char* dst, const char* field, int32_t n)
{
    const int32_t k = fixstr_trimmed_len(field, n);
    if (k)
        std::memmove(dst, field, static_cast<size_t>(k));
    dst[k] = '\0';
}

void fixstr_copy_trim_bounded(char* dst, int32_t size, const char* field, int32_t n, int* complete)
{
    if (!dst || size < 1)
        return;
    int32_t k = fixstr_trimmed_len(field, n);
    const bool fits = k < size;
    if (!fits)
        k = size - 1;
    if (k)
        std::memmove(dst, field, static_cast<size_t>(k));
    dst[k] = '\0';
    if (complete)
        *complete = fits ? 1 : 0;
}

int32_t fixstr_copy_token(char* dst, const char* field, int32_t n)
{
    int32_t k = 0;
    const int32_t len = Len(field, n);
    while (k < len && field[k] != ' ' && field[k] != '\0') {
        dst[k] = field[k];
        ++k;
    }
    dst[k] = '\0';
    return k;
}

int32_t fixstr_copy_token2(char* dst, const char* field, int32_t n)
{
    return fixstr_copy_token(dst, field, n);
}

int fixstr_is_blank(const char* field, int32_t n)
{
    return fixstr_all_equal(field, ' ', n);
}

int fixstr_all_equal(const char* field, char c, int32_t n)
{
    for (int32_t i = 0; i < Len(field, n); ++i)
        if (field[i] != c)
            return 0;
    return 1;
}

int fixstr_all_equal2(const char* field, char c, int32_t n)
{
    return fixstr_all_equal(field, c, n);
}

int fixstr_equal(const char* a, int32_t n, const char* b, int32_t m)
{
    if (!a || !b)
        return !a && !b ? 1 : 0;
    const int32_t la = Len(a, n), lb = Len(b, m);
    const int32_t common = la < lb ? la : lb;
    if (common && std::memcmp(a, b, static_cast<size_t>(common)) != 0)
        return 0;
    return la > lb ? fixstr_is_blank(a + common, la - common) : fixstr_is_blank(b + common, lb - common);
}

int fixstr_equal_str(const char* field, const char* str, int32_t n)
{
    if (!field || !str)
        return !field && !str ? 1 : 0;
    const int32_t k = fixstr_trimmed_len(field, n);
    const size_t sl = std::strlen(str);
    return static_cast<size_t>(k) == sl && std::memcmp(field, str, sl) == 0 ? 1 : 0;
}

namespace {

// Three-way comparison of two contents of known lengths.
int CompareContents(const char* a, int32_t la, const char* b, int32_t lb)
{
    if (la == 0 && lb == 0)
        return 0;
    if (lb == 0)
        return Byte(a) ? Byte(a) : 1;
    if (la == 0)
        return Byte(b) ? -Byte(b) : -1;
    const int32_t common = la < lb ? la : lb;
    for (int32_t i = 0; i < common; ++i)
        if (a[i] != b[i])
            return Byte(a + i) < Byte(b + i) ? -1 : 1;
    if (la == lb)
        return 0;
    if (la > lb)
        return Byte(a + common) ? Byte(a + common) : 1;
    return Byte(b + common) ? -Byte(b + common) : -1;
}

}  // namespace

int fixstr_compare(const char* a, int32_t n, const char* b, int32_t m)
{
    return CompareContents(a, fixstr_trimmed_len(a, n), b, fixstr_trimmed_len(b, m));
}

int fixstr_compare_str(const char* field, const char* str, int32_t n)
{
    const size_t sl = str ? std::strlen(str) : 0;
    return CompareContents(field, fixstr_trimmed_len(field, n), str,
                           static_cast<int32_t>(sl > INT32_MAX ? INT32_MAX : sl));
}

const char* fixstr_find_byte(const char* field, char c, int32_t n)
{
    const int32_t len = Len(field, n);
    return len ? static_cast<const char*>(std::memchr(field, c, static_cast<size_t>(len))) : nullptr;
}

const char* fixstr_find(const char* field, int32_t n, const char* pat, int32_t m)
{
    const int32_t len = Len(field, n);
    const int32_t pl = pat && m > 0 ? m : 0;
    if (pl > len || !field)
        return nullptr;
    if (pl == 0)
        return field;
    for (int32_t i = 0; i + pl <= len; ++i)
        if (field[i] == pat[0] && std::memcmp(field + i, pat, static_cast<size_t>(pl)) == 0)
            return field + i;
    return nullptr;
}

const char* fixstr_find2(const char* field, int32_t n, const char* pat, int32_t m)
{
    return fixstr_find(field, n, pat, m);
}

const char* fixstr_find_last(const char* field, int32_t n, const char* pat, int32_t m)
{
    const int32_t len = Len(field, n);
    const int32_t pl = pat && m > 0 ? m : 0;
    if (pl > len || !field)
        return nullptr;
    if (pl == 0)
        return field + len;
    for (int32_t i = len - pl; i >= 0; --i)
        if (std::memcmp(field + i, pat, static_cast<size_t>(pl)) == 0)
            return field + i;
    return nullptr;
}

const char* fixstr_find_last_str(const char* str, const char* pat)
{
    if (!str || !pat)
        return nullptr;
    const size_t sl = std::strlen(str);
    return fixstr_find_last(str, static_cast<int32_t>(sl > INT32_MAX ? INT32_MAX : sl), pat,
                            static_cast<int32_t>(std::strlen(pat)));
}

void fixstr_translate(char* dst, const char* src, int32_t n, const unsigned char* table)
{
    for (int32_t i = 0; i < n; ++i)
        dst[i] = static_cast<char>(table[static_cast<unsigned char>(src[i])]);
}

void fixstr_translate_mb(char* field, int32_t n, const unsigned char* table)
{
    const bool multi = MB_CUR_MAX > 1;
    for (int32_t i = 0; i < n; ++i) {
        const unsigned char c = static_cast<unsigned char>(field[i]);
        if (multi && c >= 0x80 && i + 1 < n && std::mblen(field + i, 2) == 2) {
            ++i;  // keep the two-byte character whole
            continue;
        }
        field[i] = static_cast<char>(table[c]);
    }
}

char* fixstr_underscores_to_blanks(char* s)
{
    for (char* p = s; p && *p; ++p)
        if (*p == '_')
            *p = ' ';
    return s;
}

char* fixstr_trailing_underscores_to_blanks(char* s)
{
    if (!s)
        return s;
    for (size_t n = std::strlen(s); n > 0 && s[n - 1] == '_'; --n)
        s[n - 1] = ' ';
    return s;
}
