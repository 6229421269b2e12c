// Stand-ins for the three shared objects of the external Unicode library,
// exporting the "_3_4" symbols the loader binds, so that its search, binding
// and failure paths run against real shared objects.  Built once per library
// (KOV_STUB_COMMON, KOV_STUB_DATA, KOV_STUB_I18N); KOV_STUB_NO_BREAK and
// KOV_STUB_NO_CALENDAR_END leave one symbol out.  Only the version functions
// do anything.
#include <cstdio>

#define STUB(name) \
    extern "C" __attribute__((visibility("default"))) int name##_3_4() \
    { \
        return 0; \
    }

extern "C" __attribute__((visibility("default"))) int kov_stub_library()
{
    return 1;
}

#if defined(KOV_STUB_COMMON) || defined(KOV_STUB_I18N)
extern "C" __attribute__((visibility("default"))) void u_getVersion_3_4(unsigned char* v)
{
    v[0] = 3;
    v[1] = 4;
    v[2] = v[3] = 0;
}
extern "C" __attribute__((visibility("default"))) void u_getUnicodeVersion_3_4(unsigned char* v)
{
    v[0] = 4;
    v[1] = 1;
    v[2] = v[3] = 0;
}
extern "C" __attribute__((visibility("default"))) void u_versionToString_3_4(const unsigned char* v, char* out)
{
    snprintf(out, 20, "%u.%u", v[0], v[1]);
}
// The lists of stubs stay packed as written.
// clang-format off
STUB(u_errorName) STUB(u_charType) STUB(u_getIntPropertyValue) STUB(u_charDirection)
STUB(u_getPropertyEnum) STUB(u_getPropertyValueName) STUB(u_setMemoryFunctions) STUB(u_init)
STUB(u_cleanup) STUB(uenum_unext) STUB(uenum_count) STUB(u_strToUpper)
#endif

#ifdef KOV_STUB_COMMON
STUB(ubidi_open) STUB(ubidi_close) STUB(ubidi_setInverse) STUB(ubidi_setPara) STUB(ubidi_writeReordered)
STUB(ubidi_getLogicalMap) STUB(ubidi_getVisualMap) STUB(ubidi_getLevelAt) STUB(u_charMirror)
STUB(u_shapeArabic)
STUB(unorm_normalize) STUB(unorm_quickCheck) STUB(unorm_quickCheckWithOptions) STUB(unorm_isNormalized)
STUB(unorm_isNormalizedWithOptions) STUB(unorm_next) STUB(unorm_previous) STUB(unorm_concatenate)
STUB(unorm_compare)
#ifndef KOV_STUB_NO_BREAK
STUB(ubrk_open)
#endif
STUB(ubrk_openRules) STUB(ubrk_safeClone) STUB(ubrk_close) STUB(ubrk_setText) STUB(ubrk_current)
STUB(ubrk_next) STUB(ubrk_previous) STUB(ubrk_first) STUB(ubrk_last) STUB(ubrk_preceding)
STUB(ubrk_following) STUB(ubrk_getAvailable) STUB(ubrk_countAvailable) STUB(ubrk_isBoundary)
STUB(ubrk_getRuleStatus) STUB(ubrk_getLocaleByType) STUB(uloc_getDefault)
STUB(uidna_toASCII) STUB(uidna_toUnicode) STUB(uidna_IDNToASCII) STUB(uidna_IDNToUnicode) STUB(uidna_compare)
#endif

#ifdef KOV_STUB_I18N
STUB(ucol_open) STUB(ucol_strcoll) STUB(ucol_close) STUB(ucol_setStrength) STUB(ucol_getSortKey)
STUB(ucol_getLocaleByType)
STUB(utrans_openU) STUB(utrans_openInverse) STUB(utrans_close) STUB(utrans_getUnicodeID)
STUB(utrans_setFilter) STUB(utrans_countAvailableIDs) STUB(utrans_openIDs) STUB(utrans_transUChars)
STUB(ucal_getAvailable) STUB(ucal_countAvailable) STUB(ucal_open) STUB(ucal_close) STUB(ucal_set)
STUB(ucal_setDate) STUB(ucal_get) STUB(ucal_getMillis)
#ifndef KOV_STUB_NO_CALENDAR_END
STUB(ucal_setMillis)
#endif
#endif
    // clang-format on
