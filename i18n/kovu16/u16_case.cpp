// Case-insensitive compares and case conversions of 16-bit strings.
#include "i18n/kovu16/u16_case.h"

#include "i18n/kovu16/u16_ctype.h"

namespace {

int compare_folded(const KOV_UTF16* s1, const KOV_UTF16* s2, size_t n)
{
    if (s1 == s2)
        return 0;
    for (size_t i = 0; i < n; ++i) {
        const KOV_UTF16 a = tolowerU16(s1[i]), b = tolowerU16(s2[i]);
        if (a == 0 || a != b)
            return static_cast<int>(a) - static_cast<int>(b);
    }
    return 0;
}

template <KOV_UTF16 (*Map)(KOV_UTF16)>
KOV_UTF16* convert(KOV_UTF16* s, size_t n)
{
    for (size_t i = 0; i < n && s[i] != 0; ++i)
        s[i] = Map(s[i]);
    return s;
}

template <KOV_UTF16 (*Map)(KOV_UTF16)>
KOV_UTF16* convert_copy(KOV_UTF16* dst, const KOV_UTF16* src)
{
    size_t i = 0;
    for (; src[i] != 0; ++i)
        dst[i] = Map(src[i]);
    dst[i] = 0;
    return dst;
}

}  // namespace

int strcasecmpU16(const KOV_UTF16* s1, const KOV_UTF16* s2)
{
    return compare_folded(s1, s2, SIZE_MAX);
}
int strncasecmpU16(const KOV_UTF16* s1, const KOV_UTF16* s2, size_t n)
{
    return compare_folded(s1, s2, n);
}
KOV_UTF16* strlwrU16(KOV_UTF16* s)
{
    return convert<tolowerU16>(s, SIZE_MAX);
}
KOV_UTF16* struprU16(KOV_UTF16* s)
{
    return convert<toupperU16>(s, SIZE_MAX);
}
KOV_UTF16* strnlwrU16(KOV_UTF16* s, size_t n)
{
    return convert<tolowerU16>(s, n);
}
KOV_UTF16* strnuprU16(KOV_UTF16* s, size_t n)
{
    return convert<toupperU16>(s, n);
}
KOV_UTF16* strcpylwrU16(KOV_UTF16* dst, const KOV_UTF16* src)
{
    return convert_copy<tolowerU16>(dst, src);
}
KOV_UTF16* strcpyuprU16(KOV_UTF16* dst, const KOV_UTF16* src)
{
    return convert_copy<toupperU16>(dst, src);
}
