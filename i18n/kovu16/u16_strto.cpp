// Number parsing of 16-bit text.
#include "i18n/kovu16/u16_strto.h"

#include <cerrno>
#include <climits>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <string>

#include "i18n/kovu16/u16_ctype.h"
#include "i18n/kovu16/u16_diag.h"
#include "nls/kovstr.h"

namespace {

int digit_value(KOV_UTF16 c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'Z')
        return c - 'A' + 10;
    return 99;
}

inline bool is_digit(KOV_UTF16 c)
{
    return c >= '0' && c <= '9';
}

// One rule for the four integer parsers: the magnitude read with overflow
// marked, then clamped to the result type.
template <bool is_signed>
uint64_t parse_integer(const KOV_UTF16* s, KOV_UTF16** end, int base)
{
    if (base < 0 || base == 1 || base > 36) {
        if (u16_trace_level > 15) {
            char text[64];
            snprintfTruncR(text, sizeof text, "Illegal base %d in strtolU16", base);
            u16_frameMessage(text, "u16_tol.h", 52, true);
        }
        if (end != nullptr)
            *end = const_cast<KOV_UTF16*>(s);
        errno = EINVAL;
        return 0;
    }
    const KOV_UTF16* p = s;
    while (isspaceU16(*p))
        ++p;
    bool negative = false;
    if (*p == '-' || *p == '+')
        negative = *p++ == '-';
    const KOV_UTF16* x_at = nullptr;
    if (*p == '0' && (p[1] == 'x' || p[1] == 'X') && (base == 0 || base == 16)) {
        x_at = p + 1;
        p += 2;
        base = 16;
    } else if (base == 0) {
        base = *p == '0' ? 8 : 10;
    }
    const uint64_t limit = UINT64_MAX / static_cast<unsigned>(base);
    const unsigned last = static_cast<unsigned>(UINT64_MAX % static_cast<unsigned>(base));
    uint64_t v = 0;
    bool overflow = false, any = false;
    for (int dv; (dv = digit_value(*p)) < base; ++p) {
        any = true;
        const auto du = static_cast<unsigned>(dv);
        if (v > limit || (v == limit && du > last))
            overflow = true;
        else
            v = v * static_cast<unsigned>(base) + du;
    }
    if (!any) {
        if (end != nullptr)
            *end = const_cast<KOV_UTF16*>(x_at != nullptr ? x_at : s);
        return 0;
    }
    if (end != nullptr)
        *end = const_cast<KOV_UTF16*>(p);
    if (!is_signed) {
        if (overflow) {
            errno = ERANGE;
            return UINT64_MAX;
        }
        return negative ? 0 - v : v;
    }
    const uint64_t max_mag = negative ? (uint64_t{1} << 63) : (uint64_t{1} << 63) - 1;
    if (overflow || v > max_mag) {
        errno = ERANGE;
        return max_mag == (uint64_t{1} << 63) ? uint64_t{1} << 63 : max_mag;
    }
    return negative ? 0 - v : v;
}

bool follows(const KOV_UTF16* p, const char* word)
{
    for (; *word != '\0'; ++p, ++word)
        if (*p != static_cast<unsigned char>(*word))
            return false;
    return true;
}

constexpr size_t kMaxDigits = 24;

}  // namespace

long strtolU16(const KOV_UTF16* s, KOV_UTF16** end, int base)
{
    return static_cast<long>(parse_integer<true>(s, end, base));
}

long long strtollU16(const KOV_UTF16* s, KOV_UTF16** end, int base)
{
    return static_cast<long long>(parse_integer<true>(s, end, base));
}

unsigned long strtoulU16(const KOV_UTF16* s, KOV_UTF16** end, int base)
{
    return parse_integer<false>(s, end, base);
}

unsigned long long strtoullU16(const KOV_UTF16* s, KOV_UTF16** end, int base)
{
    return parse_integer<false>(s, end, base);
}

double strtodU16(const KOV_UTF16* s, KOV_UTF16** end)
{
    const KOV_UTF16* p = s;
    while (isspaceU16(*p))
        ++p;
    const bool negative = *p == '-';
    if (*p == '-' || *p == '+')
        ++p;
    auto finish = [&](const KOV_UTF16* at, double v) {
        if (end != nullptr)
            *end = const_cast<KOV_UTF16*>(at);
        return v;
    };
    if (*p == 'i' || *p == 'I') {
        if (follows(p + 1, "nfinity") || follows(p + 1, "NFINITY"))
            return finish(p + 8, negative ? -HUGE_VAL : HUGE_VAL);
        if (follows(p + 1, "nf") || follows(p + 1, "NF"))
            return finish(p + 3, negative ? -HUGE_VAL : HUGE_VAL);
    }
    if ((*p == 'n' || *p == 'N') && (follows(p + 1, "an") || follows(p + 1, "AN") || follows(p + 1, "aN")))
        return finish(p + 3, std::strtod(negative ? "-nan" : "nan", nullptr));

    // The number is rebuilt as 8-bit text of at most 24 significant digits; d
    // is the decimal exponent of what was dropped.
    unsigned char point = static_cast<unsigned char>(localeconv()->decimal_point[0]);
    if (point >= 0x80 || point == 0)
        point = '.';
    std::string text;
    if (negative)
        text += '-';
    size_t kept = 0;
    long d = 0;
    bool any_digit = false, int_nonzero = false, nonzero = false;
    if (*p == '0') {
        text += '0';
        ++kept;
        any_digit = true;
        while (*p == '0')
            ++p;
    }
    for (; is_digit(*p); ++p) {
        any_digit = true;
        if (kept < kMaxDigits) {
            text += static_cast<char>(*p);
            ++kept;
            int_nonzero = int_nonzero || *p != '0';
        } else {
            ++d;
        }
    }
    nonzero = int_nonzero;
    if (*p == point && (any_digit || is_digit(p[1]))) {
        text += static_cast<char>(point);
        ++kept;
        ++p;
        if (!int_nonzero && *p == '0') {
            text += '0';
            ++kept;
            any_digit = true;
            for (++p; *p == '0'; ++p)
                --d;
        }
        for (; is_digit(*p); ++p) {
            any_digit = true;
            if (kept < kMaxDigits) {
                text += static_cast<char>(*p);
                ++kept;
                nonzero = nonzero || *p != '0';
            }
        }
    }
    if (!any_digit)
        return finish(s, 0.0);

    bool overflow = false, exp_negative = false;
    if ((*p == 'e' || *p == 'E') && (is_digit(p[1]) || ((p[1] == '+' || p[1] == '-') && is_digit(p[2])))) {
        const KOV_UTF16* q = p + 1;
        if (*q == '+' || *q == '-')
            exp_negative = *q++ == '-';
        if (d == 0) {
            // Copied as text, leading zeros reduced to one.
            std::string digits;
            if (*q == '0') {
                digits += '0';
                while (*q == '0')
                    ++q;
            }
            for (; is_digit(*q); ++q)
                if (digits.size() < 5)
                    digits += static_cast<char>(*q);
            if (digits.size() >= 5) {
                overflow = true;
            } else {
                text += 'e';
                if (exp_negative)
                    text += '-';
                text += digits;
            }
        } else {
            long v = 0;
            for (; is_digit(*q); ++q)
                if (v <= 65535)
                    v = v * 10 + (*q - '0');
            if (v > 65535)
                overflow = true;
            else
                d += exp_negative ? -v : v;
        }
        p = q;
    }
    if (overflow) {
        if (!nonzero)
            return finish(p, negative ? -0.0 : 0.0);
        errno = ERANGE;
        if (exp_negative)
            return finish(p, negative ? -0.0 : 0.0);
        return finish(p, negative ? -HUGE_VAL : HUGE_VAL);
    }
    if (d != 0) {
        text += 'e';
        text += std::to_string(d);
    }
    char* stop = nullptr;
    const double v = std::strtod(text.c_str(), &stop);
    const auto used = static_cast<size_t>(stop - text.c_str());
    if (used != text.size() && u16_trace_level != 0) {
        char msg[96];
        snprintfTruncR(msg, sizeof msg, "strtod accepted %d characters (expected %d)", static_cast<int>(used),
                       static_cast<int>(text.size()));
        u16_frameMessage(msg, "u16_tod.c", 377, false);
        u16_dumpUnits(s, strnlenU16(s, 80));
        u16_endOfMessage();
    }
    return finish(p, v);
}
