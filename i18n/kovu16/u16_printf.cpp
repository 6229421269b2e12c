// The formatted-output engine of the 16-bit library.
#include "i18n/kovu16/u16_printf.h"

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "i18n/kovu16/u16_diag.h"
#include "i18n/kovu16/u16_stream.h"
#include "nls/kovstr.h"

namespace {

// Length modifier codes.
enum : int {
    kModNone = 0,
    kModHH = 2,
    kModH = 4,
    kModL = 8,
    kModLL = 16,
    kModJ = 32,
    kModZ = 64,
    kModT = 128,
    kModBigL = 256
};

// Where the units go.
struct Sink {
    FILE* stream;
    KOV_UTF16* buf;
    size_t count;
    size_t size;  // U16_UNBOUNDED for an unbounded buffer
    bool bounded() const { return stream == nullptr && size != U16_UNBOUNDED; }
};

// A piece of text: returns -1 when a stream write fails, else 0.  Bounded
// output stores what fits and counts it.
int put_piece(Sink& s, const KOV_UTF16* p, size_t n)
{
    if (n == 0)
        return 0;
    if (s.stream != nullptr) {
        if (fwriteU16(p, 1, n, s.stream, nullptr) != n)
            return -1;
        s.count += n;
        return 0;
    }
    if (s.bounded()) {
        const size_t room = s.size - s.count;
        if (n > room)
            n = room;
    }
    std::memcpy(s.buf + s.count, p, n * sizeof(KOV_UTF16));
    s.count += n;
    return 0;
}

// One unit: 0 when stored, 1 when a bounded buffer has no slot left, -1 when
// a stream write failed.
int put_unit(Sink& s, KOV_UTF16 u)
{
    if (s.stream != nullptr) {
        if (fwriteU16_unlocked(&u, 1, 1, s.stream, nullptr) != 1)
            return -1;
    } else if (s.bounded() && s.count >= s.size) {
        return 1;
    } else {
        s.buf[s.count] = u;
    }
    ++s.count;
    return 0;
}

// Fill: stops silently at the end of a bounded buffer.
int put_fill(Sink& s, KOV_UTF16 u, long n)
{
    for (long i = 0; i < n; ++i) {
        const int r = put_unit(s, u);
        if (r < 0)
            return -1;
        if (r > 0)
            break;
    }
    return 0;
}

struct Spec {
    bool left = false, plus = false, space = false, alt = false, zero = false;
    long width = -1, precision = -1;
    bool width_from_arg = false;
    int mod = kModNone;
    KOV_UTF16 conv = 0;
};

// The text of one conversion: inline up to 1,025 units, else on the heap.
class Text {
public:
    ~Text()
    {
        if (heap_ != nullptr)
            std::free(heap_);
    }
    // Room for n units; false when out of memory.
    bool reserve(size_t n)
    {
        if (n <= sizeof inline_ / sizeof inline_[0])
            return true;
        heap_ = static_cast<KOV_UTF16*>(std::malloc(n * sizeof(KOV_UTF16)));
        if (heap_ == nullptr) {
            u16_reportOutOfMemory("vvfprintfU16", "u16_OutCS.c", __LINE__);
            return false;
        }
        return true;
    }
    KOV_UTF16* data() { return heap_ != nullptr ? heap_ : inline_; }
    size_t len = 0;

private:
    KOV_UTF16 inline_[1025];
    KOV_UTF16* heap_ = nullptr;
};

bool is_flag(KOV_UTF16 c)
{
    return c == ' ' || c == '#' || c == '+' || c == '-' || c == '0';
}

bool is_conversion(KOV_UTF16 c)
{
    static const char kConv[] = "%AEFGXacdefginopsux";
    return c != 0 && c < 0x80 && std::strchr(kConv, static_cast<char>(c)) != nullptr;
}

// Reads decimal digits; false when the value exceeds INT_MAX.
bool read_number(const KOV_UTF16* f, size_t& q, size_t end, long& out)
{
    long v = 0;
    while (q < end && f[q] >= '0' && f[q] <= '9') {
        v = v * 10 + (f[q] - '0');
        if (v > INT_MAX)
            return false;
        ++q;
    }
    out = v;
    return true;
}

// Parses the specification after the '%' at q; false on a format error.
bool parse_spec(const KOV_UTF16* f, size_t& q, size_t end, Spec& sp, va_list* ap)
{
    for (int taken = 0; taken < 4 && q < end && is_flag(f[q]); ++taken) {
        bool* flag = f[q] == ' '   ? &sp.space
                     : f[q] == '#' ? &sp.alt
                     : f[q] == '+' ? &sp.plus
                     : f[q] == '-' ? &sp.left
                                   : &sp.zero;
        if (*flag && f[q] != '-')
            break;
        *flag = true;
        ++q;
    }
    if (q < end && f[q] == '*') {
        sp.width = va_arg(*ap, int);
        sp.width_from_arg = true;
        ++q;
    } else if (q < end && f[q] >= '1' && f[q] <= '9') {
        if (!read_number(f, q, end, sp.width))
            return false;
    }
    if (q < end && f[q] == '.') {
        ++q;
        if (q < end && f[q] == '*') {
            sp.precision = va_arg(*ap, int);
            ++q;
        } else if (!read_number(f, q, end, sp.precision)) {
            return false;
        }
    }
    if (q < end) {
        const KOV_UTF16 c = f[q];
        const KOV_UTF16 n = q + 1 < end ? f[q + 1] : 0;
        if (c == 'L')
            sp.mod = kModBigL;
        else if (c == 'h')
            sp.mod = n == 'h' ? kModHH : kModH;
        else if (c == 'l')
            sp.mod = n == 'l' ? kModLL : kModL;
        else if (c == 'j')
            sp.mod = kModJ;
        else if (c == 't')
            sp.mod = kModT;
        else if (c == 'z')
            sp.mod = kModZ;
        if (sp.mod != kModNone)
            q += (sp.mod == kModHH || sp.mod == kModLL) ? 2 : 1;
    }
    if (q >= end || !is_conversion(f[q]))
        return false;
    sp.conv = f[q++];
    return true;
}

void report_format_error(const KOV_UTF16* f, size_t spec_start, size_t at, size_t end)
{
    if (u16_trace_level <= 3)
        return;
    char text[128];
    const KOV_UTF16 bad = at < end ? f[at] : 0;
    size_t n = static_cast<size_t>(
        snprintfTruncR(text, sizeof text, "Error in format string at or near '%c':\n", static_cast<char>(bad & 0xFF)));
    for (size_t i = spec_start; i < end && n + 1 < sizeof text; ++i)
        text[n++] = static_cast<char>(f[i] & 0xFF);
    text[n < sizeof text ? n : sizeof text - 1] = '\0';
    u16_frameMessage(text, "u16_OutCon.c", 120, true);
}

// Digits of v in base (upper-case letters for X) into t, with leading zeros
// up to min_digits digits.
bool integer_text(Text& t, uint64_t v, unsigned base, bool upper, long min_digits)
{
    char digits[24];
    size_t n = 0;
    const char* set = upper ? "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ" : "0123456789abcdefghijklmnopqrstuvwxyz";
    while (v != 0) {
        digits[n++] = set[v % base];
        v /= base;
    }
    const size_t zeros = min_digits > static_cast<long>(n) ? static_cast<size_t>(min_digits) - n : 0;
    if (!t.reserve(zeros + n))
        return false;
    KOV_UTF16* out = t.data();
    for (size_t i = 0; i < zeros; ++i)
        out[i] = '0';
    for (size_t i = 0; i < n; ++i)
        out[zeros + i] = static_cast<unsigned char>(digits[n - 1 - i]);
    t.len = zeros + n;
    return true;
}

// Formats a floating value through the C library's bounded snprintf: first
// into a work area on the stack, and when the text is longer, once more into a
// heap block of its exact size, so no value overruns a buffer.  The format is
// built here from the parsed conversion, so it cannot be a literal.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
template <class F>
bool float_text(Text& t, const Spec& sp, F value)
{
    char fmt[8];
    size_t k = 0;
    fmt[k++] = '%';
    if (sp.alt)
        fmt[k++] = '#';
    fmt[k++] = '.';
    fmt[k++] = '*';
    if (sp.mod == kModBigL)
        fmt[k++] = 'L';
    fmt[k++] = static_cast<char>(sp.conv);
    fmt[k] = '\0';
    const int prec = sp.precision < 0 ? 6 : static_cast<int>(sp.precision);
    char area[336];
    char* out = area;
    int n = snprintf(area, sizeof area, fmt, prec, value);
    if (n < 0)
        return false;
    if (static_cast<size_t>(n) >= sizeof area) {
        out = static_cast<char*>(std::malloc(static_cast<size_t>(n) + 1));
        if (out == nullptr) {
            u16_reportOutOfMemory("vvfprintfU16", "u16_OutCS.c", __LINE__);
            return false;
        }
        n = snprintf(out, static_cast<size_t>(n) + 1, fmt, prec, value);
    }
    bool ok = n >= 0 && t.reserve(static_cast<size_t>(n));
    if (ok) {
        for (int i = 0; i < n; ++i)
            t.data()[i] = static_cast<unsigned char>(out[i]);
        t.len = static_cast<size_t>(n);
    }
    if (out != area)
        std::free(out);
    return ok;
}
#pragma GCC diagnostic pop

bool is_numeric(KOV_UTF16 c)
{
    static const char kNum[] = "AEFGXadefgiox";
    return c < 0x80 && c != 0 && (std::strchr(kNum, static_cast<char>(c)) != nullptr || c == 'u');
}

// Converts and emits one specification; -1 on failure.
int emit_conversion(Sink& s, Spec& sp, va_list* ap)
{
    Text t;
    bool negative = false;
    bool finite = true;
    KOV_UTF16 unit = 0;
    int* count_target = nullptr;
    static const KOV_UTF16 kNil[] = {'(', 'n', 'i', 'l', ')'};
    static const KOV_UTF16 kNull[] = {'(', 'n', 'u', 'l', 'l', ')'};
    switch (sp.conv) {
    case 'd':
    case 'i': {
        const int64_t v = (sp.mod == kModL || sp.mod == kModLL) ? va_arg(*ap, long) : va_arg(*ap, int);
        negative = v < 0;
        const uint64_t mag = negative ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
        if (!(mag == 0 && sp.precision == 0))
            integer_text(t, mag, 10, false, sp.precision < 0 ? 1 : sp.precision);
        break;
    }
    case 'u':
    case 'o':
    case 'x':
    case 'X': {
        const uint64_t v = (sp.mod == kModL || sp.mod == kModLL) ? va_arg(*ap, unsigned long) : va_arg(*ap, unsigned);
        const unsigned base = sp.conv == 'u' ? 10 : sp.conv == 'o' ? 8 : 16;
        long min_digits = sp.precision < 0 ? 1 : sp.precision;
        if (sp.conv == 'o') {
            // The precision counts for octal only with the alternate flag, whose
            // leading 0 then makes up the first digit.
            long digits = 0;
            for (uint64_t w = v; w != 0; w /= 8)
                ++digits;
            min_digits = (sp.alt && sp.precision >= digits + 2) ? sp.precision - 1 : 1;
        }
        const bool empty = v == 0 && sp.precision == 0 && !(sp.conv == 'o' && sp.alt);
        if (!empty)
            integer_text(t, v, base, sp.conv == 'X', min_digits);
        break;
    }
    case 'p': {
        const void* p = va_arg(*ap, void*);
        if (p == nullptr) {
            std::memcpy(t.data(), kNil, sizeof kNil);
            t.len = 5;
        } else {
            integer_text(t, reinterpret_cast<uintptr_t>(p), 16, false, 1);
        }
        break;
    }
    case 'c':
        unit = static_cast<KOV_UTF16>(va_arg(*ap, int));
        break;
    case 's': {
        const KOV_UTF16* str = va_arg(*ap, const KOV_UTF16*);
        if (str == nullptr)
            str = kNull;
        size_t n;
        if (str == kNull)
            n = sp.precision >= 0 && sp.precision < 6 ? static_cast<size_t>(sp.precision) : 6;
        else
            n = sp.precision >= 0 ? strnlenU16(str, static_cast<size_t>(sp.precision)) : strlenU16(str);
        if (t.reserve(n)) {
            std::memcpy(t.data(), str, n * sizeof(KOV_UTF16));
            t.len = n;
        }
        break;
    }
    case '%':
        t.data()[0] = '%';
        t.len = 1;
        break;
    case 'n':
        count_target = va_arg(*ap, int*);
        break;
    default: {  // floating point
        if (sp.mod == kModBigL) {
            long double v = va_arg(*ap, long double);
            finite = std::isfinite(v);
            // A NaN's sign is its sign bit; the C library would print it
            // again after the sign written here.
            if (v < 0 || (std::isnan(v) && std::signbit(v))) {
                negative = true;
                v = std::fabs(v);
            } else if (v == 0) {
                v = 0;  // minus zero prints without a sign
            }
            float_text(t, sp, v);
        } else {
            double v = va_arg(*ap, double);
            finite = std::isfinite(v);
            // A NaN's sign is its sign bit; the C library would print it
            // again after the sign written here.
            if (v < 0 || (std::isnan(v) && std::signbit(v))) {
                negative = true;
                v = std::fabs(v);
            } else if (v == 0) {
                v = 0;  // minus zero prints without a sign
            }
            float_text(t, sp, v);
        }
        break;
    }
    }
    if (sp.conv == 'n') {
        if (count_target != nullptr)
            *count_target = static_cast<int>(s.count);
        return 0;
    }

    // Sign and prefix.
    KOV_UTF16 sign = 0;
    if (is_numeric(sp.conv) && sp.conv != 'u' && sp.conv != 'x' && sp.conv != 'X') {
        sign = negative ? '-' : sp.plus ? '+' : sp.space ? ' ' : 0;
    }
    KOV_UTF16 prefix[2];
    size_t prefix_len = 0;
    const KOV_UTF16* text = t.data();
    size_t text_len = t.len;
    const bool zero_text = text_len == 0 || (text_len == 1 && text[0] == '0');
    // 0x, 0X or 0 marks any text but an empty one or a single 0, so the zeros
    // of a precision get it too.
    if (sp.alt && !zero_text && (sp.conv == 'x' || sp.conv == 'X' || sp.conv == 'o')) {
        prefix[0] = '0';
        prefix[1] = sp.conv;
        prefix_len = sp.conv == 'o' ? 1 : 2;
    } else if ((sp.conv == 'a' || sp.conv == 'A') && text_len >= 2 && text[0] == '0') {
        // The 0x of a hexadecimal float goes before any zero fill, as for %#x.
        prefix[0] = text[0];
        prefix[1] = text[1];
        prefix_len = 2;
        text += 2;
        text_len -= 2;
    }
    const size_t body = sp.conv == 'c' ? 1 : text_len;
    long pad = 0;
    if (sp.width >= 0)
        pad = sp.width - static_cast<long>(body) - (sign != 0 ? 1 : 0) - static_cast<long>(prefix_len);
    if (pad < 0)
        pad = 0;
    // Zero fill: asked for, not cut short by a precision below the width, and
    // never for infinities and NaNs, whose text has no digits to pad.
    const bool zero_fill = sp.zero && !(sp.precision >= 0 && sp.width >= 0 && sp.precision < sp.width) && finite;

    if (!sp.left && !zero_fill && put_fill(s, ' ', pad) < 0)
        return -1;
    if (sign != 0 && put_piece(s, &sign, 1) < 0)
        return -1;
    if (put_piece(s, prefix, prefix_len) < 0)
        return -1;
    if (zero_fill && !sp.left && put_fill(s, '0', pad) < 0)
        return -1;
    if (sp.conv == 'c') {
        if (put_unit(s, unit) != 0)
            return -1;
    } else if (put_piece(s, text, text_len) < 0) {
        return -1;
    }
    if (sp.left && put_fill(s, ' ', pad) < 0)
        return -1;
    return 0;
}

int32_t engine(FILE* stream, KOV_UTF16* buffer, const size_t* psize, const KOV_UTF16* format, va_list ap)
{
    const size_t size = psize != nullptr ? *psize : 0;
    if (stream == nullptr && buffer != nullptr && size == 0)
        return 0;
    if (stream == nullptr && buffer == nullptr && size != 0) {
        errno = EBADF;
        return -1;
    }
    if (format == nullptr) {
        errno = EINVAL;
        return -1;
    }
    // A null buffer of size 0 takes nothing.
    if (stream == nullptr && buffer == nullptr)
        return 0;
    Sink s{stream, buffer, 0, stream != nullptr ? U16_UNBOUNDED : size};
    va_list args;
    va_copy(args, ap);
    if (stream != nullptr)
        flockfile(stream);
    const size_t end = strlenU16(format);
    int32_t result = 0;
    size_t p = 0;
    while (p < end) {
        size_t pct = p;
        while (pct < end && format[pct] != '%')
            ++pct;
        const size_t before = s.count;
        if (put_piece(s, format + p, pct - p) < 0) {
            result = -1;
            break;
        }
        if (s.bounded() && s.count - before < pct - p)
            break;
        if (pct == end)
            break;
        size_t q = pct + 1;
        Spec sp;
        if (!parse_spec(format, q, end, sp, &args)) {
            report_format_error(format, pct + 1, q, end);
            result = -1;
            break;
        }
        if (emit_conversion(s, sp, &args) < 0) {
            result = -1;
            break;
        }
        if (s.bounded() && s.count >= s.size)
            break;
        p = q;
    }
    va_end(args);
    if (stream != nullptr) {
        funlockfile(stream);
    } else {
        buffer[(size == U16_UNBOUNDED || s.count < size - 1) ? s.count : size - 1] = 0;
    }
    return result < 0 ? result : static_cast<int32_t>(s.count);
}

}  // namespace

int32_t vvfprintfU16(FILE* stream, KOV_UTF16* buffer, const size_t* size, const KOV_UTF16* format, va_list ap)
{
    return engine(stream, buffer, size, format, ap);
}

int32_t vvfprintfU16x(FILE* stream, KOV_UTF16* buffer, const size_t* size, const KOV_UTF16* format, void*, va_list ap)
{
    return engine(stream, buffer, size, format, ap);
}

int32_t vsnprintfCountU16(KOV_UTF16* buffer, size_t size, const KOV_UTF16* format, va_list ap)
{
    return engine(nullptr, buffer, &size, format, ap);
}

int32_t vsprintfU16(KOV_UTF16* buffer, const KOV_UTF16* format, va_list ap)
{
    const size_t size = U16_UNBOUNDED;
    return engine(nullptr, buffer, &size, format, ap);
}

int32_t vfprintfU16(FILE* stream, const KOV_UTF16* format, va_list ap)
{
    if (stream == nullptr) {
        errno = EBADF;
        return -1;
    }
    return engine(stream, nullptr, nullptr, format, ap);
}

int32_t vprintfU16(const KOV_UTF16* format, va_list ap)
{
    return vfprintfU16(stdout, format, ap);
}

int32_t vsnprintfTruncU16(KOV_UTF16* dst, size_t size, const KOV_UTF16* format, va_list ap)
{
    if (size == 0)
        return 0;
    const int32_t n = engine(nullptr, dst, &size, format, ap);
    if (n >= 0 && static_cast<size_t>(n) < size)
        return n;
    dst[size - 1] = 0;
    return n;
}

int32_t vsnprintfU16(KOV_UTF16* dst, size_t size, const KOV_UTF16* format, va_list ap)
{
    if (size == 0)
        return -1;
    const int32_t n = engine(nullptr, dst, &size, format, ap);
    if (n < 0 || static_cast<size_t>(n) >= size)
        return -1;
    return n;
}

#define KOV_VARIADIC(name, call) \
    { \
        va_list ap; \
        va_start(ap, format); \
        const int32_t r = call; \
        va_end(ap); \
        return r; \
    }

int32_t snprintfCountU16(KOV_UTF16* buffer, size_t size, const KOV_UTF16* format, ...)
    KOV_VARIADIC(snprintfCountU16, vsnprintfCountU16(buffer, size, format, ap)) int32_t
    sprintfU16(KOV_UTF16* buffer, const KOV_UTF16* format, ...)
        KOV_VARIADIC(sprintfU16, vsprintfU16(buffer, format, ap)) int32_t
    fprintfU16(FILE* stream, const KOV_UTF16* format, ...)
        KOV_VARIADIC(fprintfU16, vfprintfU16(stream, format, ap)) int32_t printfU16(const KOV_UTF16* format, ...)
            KOV_VARIADIC(printfU16, vprintfU16(format, ap)) int32_t
    snprintfTruncU16(KOV_UTF16* dst, size_t size, const KOV_UTF16* format, ...)
        KOV_VARIADIC(snprintfTruncU16, vsnprintfTruncU16(dst, size, format, ap)) int32_t
    snprintfU16(KOV_UTF16* dst, size_t size, const KOV_UTF16* format, ...)
        KOV_VARIADIC(snprintfU16, vsnprintfU16(dst, size, format, ap))
