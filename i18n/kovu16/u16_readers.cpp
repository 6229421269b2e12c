// Line, token and number readers on 8-bit and UTF-8 streams.
#include <cctype>
#include <cerrno>
#include <limits>
#include <cstdlib>
#include <string>

#include "i18n/kovu16/u16_ctype.h"
#include "i18n/kovu16/u16_decode_stream.h"
#include "i18n/kovu16/u16_stream.h"

namespace {

inline bool is_blank_space(int c)
{
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// Reads bytes of a locked stream into buf (at most size - 1 and a
// terminator): a line (newline consumed, not kept) or a token (leading white
// space skipped, the white space after it consumed).  The length, or -1 at end
// of file with nothing read or on error.
int read_bytes(char* buf, int size, FILE* stream, bool token)
{
    if (size <= 0)
        return -1;
    const bool had_error = ferror(stream) != 0;
    int n = 0, c = EOF;
    bool any = false;
    if (token) {
        do
            c = getc_unlocked(stream);
        while (c != EOF && is_blank_space(c));
        if (c != EOF)
            ungetc(c, stream);
    }
    while (n < size - 1 && (c = getc_unlocked(stream)) != EOF) {
        any = true;
        if (token ? is_blank_space(c) : c == '\n')
            break;
        buf[n++] = static_cast<char>(c);
    }
    buf[n] = '\0';
    if ((!any && c == EOF && size > 1) || (!had_error && ferror(stream) != 0))
        return -1;
    return n;
}

// The UTF-8 form of read_bytes: invalid sequences become one repl per byte.
int read_units(KOV_UTF16* buf, int size, FILE* stream, bool token, KOV_UTF16 repl)
{
    if (size <= 0)
        return -1;
    const bool had_error = ferror(stream) != 0;
    const size_t max = static_cast<size_t>(size - 1);
    size_t n = 0;
    bool any = false, invalid = false, ended = false;
    U16DecodeRecord rec;
    int cp = 0;
    if (token) {
        while ((cp = u16_decodeLocked(stream, &rec)) >= 0 && is_blank_space(cp)) {
        }
        if (cp == -1)
            ended = true;
    } else {
        cp = u16_decodeLocked(stream, &rec);
    }
    while (!ended && n < max) {
        if (cp == -1) {
            ended = true;
            break;
        }
        any = true;
        if (token ? (cp >= 0 && is_blank_space(cp)) : cp == '\n')
            break;
        if (cp == -2) {
            invalid = true;
            for (int i = 0; i < rec.nbytes && n < max; ++i)
                buf[n++] = repl;
        } else if (cp >= 0x10000) {
            buf[n++] = static_cast<KOV_UTF16>(((cp - 0x10000) >> 10) + 0xD800);
            if (n < max)
                buf[n++] = static_cast<KOV_UTF16>((cp & 0x3FF) + 0xDC00);
        } else {
            buf[n++] = static_cast<KOV_UTF16>(cp);
        }
        if (n == max)
            break;
        cp = u16_decodeLocked(stream, &rec);
    }
    buf[n] = 0;
    if ((!any && size > 1) || (!had_error && ferror(stream) != 0))
        return -1;
    return invalid ? -2 : static_cast<int>(n);
}

// The next character of a locked stream: a byte, or with utf8 a decoded
// character (-2 when invalid); -1 at end of file.  rec keeps its bytes for
// unread_char.
int next_char(FILE* stream, bool utf8, U16DecodeRecord* rec)
{
    if (utf8)
        return u16_decodeLocked(stream, rec);
    const int c = getc_unlocked(stream);
    rec->nbytes = c == EOF ? 0 : 1;
    rec->bytes[0] = static_cast<unsigned char>(c);
    return c;
}

// Hands the bytes of the character last read back to the stream.
void unread_char(FILE* stream, const U16DecodeRecord& rec)
{
    for (int i = rec.nbytes; i-- > 0;)
        ungetc(rec.bytes[i], stream);
}

template <class T, bool utf8>
int read_number_locked(FILE* stream, T* value)
{
    U16DecodeRecord rec;
    int c;
    do
        c = next_char(stream, utf8, &rec);
    while (c >= 0 && (utf8 ? isspaceU16(c) : isspace(c)));
    if (c == EOF)
        return -1;
    std::string text;
    if (c == '+' || c == '-') {
        text.push_back(static_cast<char>(c));
        c = next_char(stream, utf8, &rec);
    }
    while (c >= '0' && c <= '9') {
        text.push_back(static_cast<char>(c));
        c = next_char(stream, utf8, &rec);
    }
    // The first other character stays in the stream, also when it is the one
    // that keeps a number from starting.
    if (c != EOF)
        unread_char(stream, rec);
    if (text.empty() || text == "+" || text == "-") {
        if (c == EOF)
            return -1;
        *value = static_cast<T>(c == -2 ? '#' : c);
        return -2;
    }
    if (ferror(stream) != 0)
        return -1;
    errno = 0;
    const long long v = std::strtoll(text.c_str(), nullptr, 10);
    const long long lo = std::numeric_limits<T>::min(), hi = std::numeric_limits<T>::max();
    if (errno == ERANGE || v < lo || v > hi) {
        *value = static_cast<T>(text[0] == '-' ? lo : hi);
        errno = ERANGE;
        return 1;
    }
    *value = static_cast<T>(v);
    return 0;
}

template <class T, bool utf8>
int read_number(FILE* stream, T* value)
{
    flockfile(stream);
    const int r = read_number_locked<T, utf8>(stream, value);
    funlockfile(stream);
    return r;
}

}  // namespace

char* getlineR(char* buf, int size)
{
    flockfile(stdin);
    const int n = read_bytes(buf, size, stdin, false);
    funlockfile(stdin);
    return n < 0 ? nullptr : buf;
}

int fgetlineR(char* buf, int size, FILE* stream)
{
    flockfile(stream);
    const int n = read_bytes(buf, size, stream, false);
    funlockfile(stream);
    return n;
}

int fgettokenR(char* buf, int size, FILE* stream)
{
    flockfile(stream);
    const int n = read_bytes(buf, size, stream, true);
    funlockfile(stream);
    return n;
}

int fgetlineU16(KOV_UTF16* buf, int size, FILE* stream, KOV_UTF16 repl)
{
    flockfile(stream);
    const int n = read_units(buf, size, stream, false, repl);
    funlockfile(stream);
    return n;
}

int fgettokenU16(KOV_UTF16* buf, int size, FILE* stream, KOV_UTF16 repl)
{
    flockfile(stream);
    const int n = read_units(buf, size, stream, true, repl);
    funlockfile(stream);
    return n;
}

int fgetint32R(FILE* stream, int32_t* value)
{
    return read_number<int32_t, false>(stream, value);
}
int fgetint64R(FILE* stream, int64_t* value)
{
    return read_number<int64_t, false>(stream, value);
}
int fgetint32U16(FILE* stream, int32_t* value)
{
    return read_number<int32_t, true>(stream, value);
}
int fgetint64U16(FILE* stream, int64_t* value)
{
    return read_number<int64_t, true>(stream, value);
}
