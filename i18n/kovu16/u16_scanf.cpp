// The formatted-input engine of the 16-bit library.
#include "i18n/kovu16/u16_scanf.h"

#include <cerrno>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "i18n/kovu16/u16_ctype.h"
#include "i18n/kovu16/u16_diag.h"
#include "i18n/kovu16/u16_stream.h"
#include "nls/kovstr.h"

namespace {

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

// The input: a string or a stream, the units given back, the units consumed.
class Cursor {
public:
    Cursor(const KOV_UTF16* str, FILE* stream)
        : str_(str),
          stream_(stream)
    {
    }

    // The next unit, or -1 once the input has ended.
    int read()
    {
        if (ended_)
            return -1;
        int u;
        if (stream_ == nullptr) {
            u = str_[pos_];
            if (u == 0) {
                ended_ = true;
                return -1;
            }
            ++pos_;
        } else if (npushed_ > 0) {
            u = pushed_[--npushed_];
        } else if (stream_end_) {
            ended_ = true;
            return -1;
        } else {
            u = fgetcU16(stream_);
            if (u < 0) {
                ended_ = stream_end_ = true;
                return -1;
            }
        }
        ++consumed_;
        return u;
    }

    // Gives back a unit read, the last one read first.  A unit read before
    // the input ended can be given back after it, and is read again before
    // the end is met once more.  On a stream an ASCII unit goes back to the
    // stream, unless units are held here already (which must be read first)
    // or the stream has ended (its end must not be read past); others are
    // held here until the call returns.
    void push_back(int u)
    {
        if (u < 0)
            return;
        if (stream_ == nullptr) {
            --pos_;
        } else if (u < 0x80 && npushed_ == 0 && !stream_end_) {
            ungetc(u, stream_);
        } else if (npushed_ < sizeof pushed_ / sizeof pushed_[0]) {
            pushed_[npushed_++] = u;
        }
        ended_ = false;
        --consumed_;
    }

    // At the end of a call on a stream: the ASCII units still held go back to
    // the stream, in the order they would have been read; a held unit of
    // another value is dropped (it cannot go back as the bytes it came from).
    void hand_back()
    {
        if (stream_ == nullptr)
            return;
        for (size_t i = 0; i < npushed_; ++i)
            if (pushed_[i] < 0x80)
                ungetc(pushed_[i], stream_);
        npushed_ = 0;
    }

    // Skips white space; the first other unit is read and returned.
    int skip_space()
    {
        int u;
        do
            u = read();
        while (u >= 0 && isspaceU16(u));
        return u;
    }

    bool ended() const { return ended_; }
    int32_t consumed() const { return consumed_; }

private:
    const KOV_UTF16* str_;
    FILE* stream_;
    size_t pos_ = 0;
    int pushed_[8];  // the most a conversion gives back is 5 (a partial "infinity")
    size_t npushed_ = 0;
    int32_t consumed_ = 0;
    bool ended_ = false;
    bool stream_end_ = false;  // the stream gave end of file or an error
};

struct Spec {
    bool suppress = false;
    long width = -1;
    int mod = kModNone;
    KOV_UTF16 conv = 0;
    const KOV_UTF16* set = nullptr;  // the members of a [ set, up to set_end
    const KOV_UTF16* set_end = nullptr;
    bool negated = false;
};

bool is_conversion(KOV_UTF16 c)
{
    static const char kConv[] = "AEFGX[acdefginopsux";
    return c != 0 && c < 0x80 && std::strchr(kConv, static_cast<char>(c)) != nullptr;
}

// Parses after the '%' at f; false on a format error (f then at the culprit).
bool parse_spec(const KOV_UTF16*& f, Spec& sp)
{
    if (*f == '*') {
        sp.suppress = true;
        ++f;
    }
    if (*f == '*') {
        ++f;  // a width of * sets no limit
    } else if (*f >= '0' && *f <= '9') {
        long w = 0;
        while (*f >= '0' && *f <= '9') {
            if (w < 1000000000)
                w = w * 10 + (*f - '0');
            ++f;
        }
        sp.width = w > 0 ? w : -1;
    }
    if (*f == 'L')
        sp.mod = kModBigL;
    else if (*f == 'h')
        sp.mod = f[1] == 'h' ? kModHH : kModH;
    else if (*f == 'l')
        sp.mod = f[1] == 'l' ? kModLL : kModL;
    else if (*f == 'j')
        sp.mod = kModJ;
    else if (*f == 't')
        sp.mod = kModT;
    else if (*f == 'z')
        sp.mod = kModZ;
    if (sp.mod != kModNone)
        f += (sp.mod == kModHH || sp.mod == kModLL) ? 2 : 1;
    if (!is_conversion(*f))
        return false;
    sp.conv = *f++;
    if (sp.conv == '[') {
        if (*f == '^') {
            sp.negated = true;
            ++f;
        }
        sp.set = f;
        if (*f == ']')
            ++f;  // a ] right after the [ is a member
        while (*f != 0 && *f != ']')
            ++f;
        if (*f != ']')
            return false;
        sp.set_end = f++;
    }
    return true;
}

bool in_set(const Spec& sp, KOV_UTF16 u)
{
    bool member = false;
    for (const KOV_UTF16* p = sp.set; p < sp.set_end && !member; ++p) {
        // A - joins two members, except as the first or the last member.
        if (p[1] == '-' && p + 2 < sp.set_end && p != sp.set_end - 1) {
            member = u >= p[0] && u <= p[2];
            p += 2;
        } else {
            member = u == *p;
        }
    }
    return member != sp.negated;
}

void report_format_error(const KOV_UTF16* spec_start, const KOV_UTF16* at)
{
    if (u16_trace_level <= 3)
        return;
    char text[128];
    size_t n = static_cast<size_t>(
        snprintfTruncR(text, sizeof text, "Error in format string at or near '%c':\n", static_cast<char>(*at & 0xFF)));
    for (const KOV_UTF16* p = spec_start; *p != 0 && n + 1 < sizeof text; ++p)
        text[n++] = static_cast<char>(*p & 0xFF);
    text[n] = '\0';
    u16_frameMessage(text, "u16_InCon.c", 104, true);
}

// Stores an integer with the storage size of the modifier.
void store_integer(void* target, const Spec& sp, uint64_t v)
{
    if (sp.mod == kModL || sp.mod == kModLL || sp.mod == kModZ || sp.mod == kModBigL || sp.conv == 'p')
        *static_cast<uint64_t*>(target) = v;
    else if (sp.mod == kModH)
        *static_cast<uint16_t*>(target) = static_cast<uint16_t>(v);
    else if (sp.mod == kModHH)
        *static_cast<uint8_t*>(target) = static_cast<uint8_t>(v);
    else
        *static_cast<uint32_t*>(target) = static_cast<uint32_t>(v);
}

bool width_left(const Spec& sp, long used)
{
    return sp.width < 0 || used < sp.width;
}

// The integer conversions, from the first unit u on.
bool convert_integer(Cursor& in, const Spec& sp, int u, void* target)
{
    int base = sp.conv == 'd' || sp.conv == 'u' ? 10 : sp.conv == 'o' ? 8 : sp.conv == 'i' ? 0 : 16;
    std::string text;
    long used = 0;
    try {
        text.reserve(64);
        if (u == '+' || u == '-') {
            text += static_cast<char>(u);
            ++used;
            u = width_left(sp, used) ? in.read() : -1;
        }
        if (sp.conv == 'p' && u == '(' && text.empty()) {
            // "(nil)" in any case is the null pointer; like the other words
            // it keeps to the width, so a narrower one fails.
            static const char kNil[] = "nil)";
            for (const char* c = kNil; *c != '\0'; ++c) {
                if (!width_left(sp, ++used))
                    return false;
                const int n = in.read();
                if (n < 0 || tolowerU16(static_cast<KOV_UTF16>(n)) != *c) {
                    in.push_back(n);
                    return false;
                }
            }
            if (target != nullptr)
                store_integer(target, sp, 0);
            return true;
        }
        if ((base == 16 || base == 0) && u == '0' && width_left(sp, used)) {
            text += '0';
            ++used;
            u = width_left(sp, used) ? in.read() : -1;
            if ((u == 'x' || u == 'X') && width_left(sp, used)) {
                base = 16;
                text += 'x';
                ++used;
                u = width_left(sp, used) ? in.read() : -1;
            } else if (base == 0) {
                base = 8;
            }
        } else if (base == 0) {
            base = 10;
        }
        while (u >= 0 && width_left(sp, used)) {
            const bool valid = (u >= '0' && u <= '9' && u - '0' < base) ||
                               (base == 16 && ((u >= 'a' && u <= 'f') || (u >= 'A' && u <= 'F')));
            if (!valid)
                break;
            text += static_cast<char>(u);
            ++used;
            u = width_left(sp, used) ? in.read() : -1;
        }
    } catch (const std::bad_alloc&) {
        return false;
    }
    in.push_back(u);
    if (text.empty() || text == "+" || text == "-")
        return false;
    const uint64_t v = (sp.conv == 'd' || sp.conv == 'i')
                           ? static_cast<uint64_t>(std::strtol(text.c_str(), nullptr, base))
                           : static_cast<uint64_t>(std::strtoul(text.c_str(), nullptr, base));
    if (target != nullptr)
        store_integer(target, sp, v);
    return true;
}

// The word letters match ASCII letters in either case, nothing else.
int ascii_lower(int u)
{
    return u >= 'A' && u <= 'Z' ? u + ('a' - 'A') : u;
}

bool convert_float(Cursor& in, const Spec& sp, int u, void* target)
{
    bool negative = false;
    long used = 0;
    if (u == '+' || u == '-') {
        negative = u == '-';
        if (negative)
            ++used;
        u = width_left(sp, used) ? in.read() : -1;
    }
    long double value;
    bool converted = false;
    const int lower = ascii_lower(u);
    if (lower == 'n' || lower == 'i') {
        // The letters of nan, inf or infinity (any case), within the width.
        const char* word = lower == 'n' ? "nan" : "infinity";
        int letters[8];
        size_t k = 0;
        letters[k++] = u;
        ++used;
        int next = -1;
        while (word[k] != '\0' && width_left(sp, used)) {
            next = in.read();
            if (ascii_lower(next) != word[k])
                break;
            letters[k++] = next;
            ++used;
            next = -1;
        }
        in.push_back(next);
        if (k < 3)
            return false;
        // A partial "infinity" is "inf" followed by other text.
        if (word[k] != '\0') {
            while (k > 3)
                in.push_back(letters[--k]);
        }
        value = lower == 'n' ? NAN : HUGE_VALL;
        if (lower == 'i')
            errno = ERANGE;
        converted = true;
    } else {
        unsigned char point = static_cast<unsigned char>(localeconv()->decimal_point[0]);
        if (point >= 0x80 || point == 0)
            point = '.';
        std::string text;
        bool seen_point = false, seen_exp = false;
        int prev = 0;
        try {
            while (u >= 0 && width_left(sp, used)) {
                if (u >= '0' && u <= '9') {
                } else if (u == point && !seen_point && !seen_exp) {
                    seen_point = true;
                } else if ((u == 'e' || u == 'E') && !seen_exp && !text.empty()) {
                    seen_exp = true;
                } else if ((u == '+' || u == '-') && (prev == 'e' || prev == 'E')) {
                } else {
                    break;
                }
                text += static_cast<char>(u);
                ++used;
                prev = u;
                u = width_left(sp, used) ? in.read() : -1;
            }
        } catch (const std::bad_alloc&) {
            return false;
        }
        in.push_back(u);
        char* stop = nullptr;
        value = std::strtold(text.c_str(), &stop);
        converted = stop != text.c_str();
    }
    if (!converted)
        return false;
    if (negative)
        value = -value;
    if (target != nullptr) {
        if (sp.mod == kModLL || sp.mod == kModBigL)
            *static_cast<long double*>(target) = value;
        else if (sp.mod == kModL || sp.mod == kModZ)
            *static_cast<double*>(target) = static_cast<double>(value);
        else
            *static_cast<float*>(target) = static_cast<float>(value);
    }
    return true;
}

// c, s and [: units stored from the first unit u on.
bool convert_text(Cursor& in, const Spec& sp, int u, KOV_UTF16* target)
{
    size_t n = 0;
    const long limit = sp.conv == 'c' && sp.width < 0 ? 1 : sp.width;
    while (u >= 0 && (limit < 0 || static_cast<long>(n) < limit)) {
        if (sp.conv == 's' && isspaceU16(u))
            break;
        if (sp.conv == '[' && !in_set(sp, static_cast<KOV_UTF16>(u)))
            break;
        if (target != nullptr)
            target[n] = static_cast<KOV_UTF16>(u);
        ++n;
        if (limit >= 0 && static_cast<long>(n) >= limit) {
            u = -2;
            break;
        }
        u = in.read();
    }
    if (u != -2)
        in.push_back(u);
    if (n == 0)
        return false;
    if (sp.conv != 'c' && target != nullptr)
        target[n] = 0;
    return true;
}

int32_t engine(const KOV_UTF16* str, FILE* stream, const KOV_UTF16* format, va_list ap)
{
    Cursor in(str, stream);
    int32_t count = 0;
    bool matched = false;
    va_list args;
    va_copy(args, ap);
    const KOV_UTF16* f = format;
    int32_t result = 0;
    for (;;) {
        if (*f == 0) {
            result = count;
            break;
        }
        if (isspaceU16(*f)) {
            while (isspaceU16(*f))
                ++f;
            in.push_back(in.skip_space());
            if (*f == 0) {
                result = count;
                break;
            }
            continue;
        }
        if (*f != '%' || f[1] == '%') {
            const KOV_UTF16 want = *f;
            f += *f == '%' ? 2 : 1;
            const int u = in.read();
            if (u < 0) {
                result = matched ? count : -1;
                break;
            }
            if (u != want) {
                in.push_back(u);
                result = matched ? count : 0;
                break;
            }
            matched = true;
            continue;
        }
        const KOV_UTF16* spec_start = ++f;
        Spec sp;
        if (!parse_spec(f, sp)) {
            report_format_error(spec_start, f);
            result = count;
            break;
        }
        void* target = sp.suppress ? nullptr : va_arg(args, void*);
        if (sp.conv == 'n') {
            if (target != nullptr)
                store_integer(target, sp, static_cast<uint64_t>(static_cast<int64_t>(in.consumed())));
            continue;
        }
        const int u = (sp.conv == '[' || sp.conv == 'c') ? in.read() : in.skip_space();
        if (u < 0) {
            result = matched ? count : -1;
            break;
        }
        bool ok;
        switch (sp.conv) {
        case 'c':
        case 's':
        case '[':
            ok = convert_text(in, sp, u, static_cast<KOV_UTF16*>(target));
            break;
        case 'd':
        case 'i':
        case 'o':
        case 'u':
        case 'x':
        case 'X':
        case 'p':
            ok = convert_integer(in, sp, u, target);
            break;
        default:
            ok = convert_float(in, sp, u, target);
        }
        if (!ok) {
            result = matched ? count : (in.ended() ? -1 : 0);
            break;
        }
        if (!sp.suppress) {
            ++count;
            matched = true;
        }
    }
    va_end(args);
    in.hand_back();
    return result;
}

}  // namespace

int32_t vvfscanfU16(const KOV_UTF16* str, FILE* stream, const KOV_UTF16* format, va_list ap)
{
    if (stream == nullptr)
        return engine(str, nullptr, format, ap);
    flockfile(stream);
    const int32_t r = engine(nullptr, stream, format, ap);
    funlockfile(stream);
    return r;
}

int32_t vsscanfU16(const KOV_UTF16* str, const KOV_UTF16* format, va_list ap)
{
    return engine(str, nullptr, format, ap);
}

int32_t sscanfU16(const KOV_UTF16* str, const KOV_UTF16* format, ...)
{
    va_list ap;
    va_start(ap, format);
    const int32_t r = engine(str, nullptr, format, ap);
    va_end(ap);
    return r;
}

int32_t fscanfU16(FILE* stream, const KOV_UTF16* format, ...)
{
    if (stream == nullptr) {
        errno = EBADF;
        return -1;
    }
    va_list ap;
    va_start(ap, format);
    const int32_t r = vvfscanfU16(nullptr, stream, format, ap);
    va_end(ap);
    return r;
}

int32_t scanfU16(const KOV_UTF16* format, ...)
{
    if (stdin == nullptr) {
        errno = EBADF;
        return -1;
    }
    va_list ap;
    va_start(ap, format);
    const int32_t r = vvfscanfU16(nullptr, stdin, format, ap);
    va_end(ap);
    return r;
}
