// Classification and case mapping of 16-bit units from the generated tables.
#include "i18n/kovu16/u16_ctype.h"

#include "i18n/kovu16/u16_ctype_data.h"

namespace {

inline int in_table(const uint32_t* bits, int c)
{
    if (c < 0 || c > 0xFFFF)
        return 0;
    return static_cast<int>((bits[c >> 5] >> (c & 31)) & 1u);
}

}  // namespace

int isalnumU16(int c)
{
    return in_table(u16_alnum_bits, c);
}
int isalphaU16(int c)
{
    return in_table(u16_alpha_bits, c);
}
int islowerU16(int c)
{
    return in_table(u16_lower_bits, c);
}
int isprintU16(int c)
{
    return in_table(u16_print_bits, c);
}
int isupperU16(int c)
{
    return in_table(u16_upper_bits, c);
}

int isgraphU16(int c)
{
    return c != 0x20 && isprintU16(c);
}

int ispunctU16(int c)
{
    return c != 0x20 && isprintU16(c) && !isalnumU16(c);
}

int isxdigitU16(int c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

int isspaceU16(int c)
{
    if (c <= 0x20)
        return (c >= 9 && c <= 13) || c >= 28;
    if (c < 0x1680)
        return c == 0x85 || c == 0xA0;
    return c == 0x1680 || (c >= 0x2000 && c <= 0x200B) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x3000;
}

int iscntrlU16(int c)
{
    if (c < 0)
        return 0;
    if (c < 0x20 || (c >= 0x7F && c <= 0x9F))
        return 1;
    if (c < 0x070F)
        return 0;
    return c == 0x070F || (c >= 0x180B && c <= 0x180E) || (c >= 0x200C && c <= 0x200F) ||
           (c >= 0x2028 && c <= 0x202E) || (c >= 0x206A && c <= 0x206F) || c == 0xFEFF || (c >= 0xFFF9 && c <= 0xFFFB);
}

KOV_UTF16 tolowerU16(KOV_UTF16 c)
{
    if (c < 0x80)
        return (c >= 'A' && c <= 'Z') ? static_cast<KOV_UTF16>(c + 32) : c;
    return static_cast<KOV_UTF16>(c + u16_lower_delta[u16_lower_page[c >> 8]][c & 0xFF]);
}

KOV_UTF16 toupperU16(KOV_UTF16 c)
{
    if (c < 0x80)
        return (c >= 'a' && c <= 'z') ? static_cast<KOV_UTF16>(c - 32) : c;
    return static_cast<KOV_UTF16>(c + u16_upper_delta[u16_upper_page[c >> 8]][c & 0xFF]);
}
