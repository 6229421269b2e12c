// The read side of the language data in the cache: the multi-byte code page
// and locale of a language, the processed languages and the default
// language.  A map or list never built is built on first use.
#include <algorithm>
#include <cstring>

#include "krn/rscp/cpcacheint.h"
#include "krn/rscp/cplang.h"
#include "krn/rscp/cptextenv.h"
#include "nls/nlsui.h"

namespace {

const char kModule[] = "@(#) $Id: rscpmi2#1 $";

uint32_t Error(uint32_t code, int32_t location, int32_t line, const char* text, const char* arg1 = nullptr,
               int32_t len1 = 0, const char* arg2 = nullptr, int32_t len2 = 0)
{
    return rscpe__error(code, 'C', RSCP_ALL_ERRORS, kModule, location, line, text, "F44", arg1, len1, arg2, len2);
}

// The text environment's code page, and no locale.
void Fallback(char* cp, char* locale)
{
    rscpGetCodePageForLanguage(cp);
    if (locale != nullptr)
        locale[0] = '\0';
}

// The instance list of processed languages when it is in the cache.
bool InstanceList(const rscpCcc_t* c, const char** text, uint32_t* length)
{
    const rscpLangData_t& l = c->lang;
    if (l.instOffset == 0 || l.instLength < 1 || uint64_t(l.instOffset) + l.instLength > c->length)
        return false;
    *text = reinterpret_cast<const char*>(c) + l.instOffset;
    *length = l.instLength;
    return true;
}

}  // namespace

uint32_t rscpiGetMBCodePageForLanguage(const char* language, char* cp, char* locale, int32_t mode)
{
    static uint32_t generation = 0xFFFFFFFFu;
    rscpCcc_t* c = rscpmp;
    if (c == nullptr) {
        const uint32_t rc = Error(RSCPETOOLONG, 11, 464, "Still no shm for CCC");
        Fallback(cp, locale);
        return rc;
    }
    const bool building = mode == 1 || mode == 2;
    if (!building) {
        const uint32_t rc = rscprc__reorg_check(&c, &generation);
        if (rc != 0) {
            Fallback(cp, locale);
            return rc;
        }
    }
    const auto l = static_cast<unsigned char>(nlsui_char2a7cnt(static_cast<unsigned char>(*language)));
    if (c->lang.state != 2) {
        if (building)
            return Error(RSCPEBUSY, 17, 502, "rscpiGetMBCodePageForLanguage recursive");
        const uint32_t rc = rscpLCBuildList();
        c = rscpmp;
        if (rc != 0 || c == nullptr) {
            Fallback(cp, locale);
            return rc != 0 ? rc : RSCPEINTERN;
        }
    }
    if (l < 0x20) {
        Fallback(cp, locale);
        return Error(RSCPETOOLONG, 16, 523, "langMBCPMap: illegal language");
    }
    const rscpLangSlot_t& slot = c->lang.slots[l - 0x20];
    if (locale != nullptr) {
        // Locale names are stored with at most 255 characters; never more is copied.
        locale[0] = '\0';
        const uint32_t offset = slot.localeOffset;
        if (offset != 0 && offset < c->length) {
            const char* name = reinterpret_cast<const char*>(c) + offset;
            const size_t n = strnlen(name, std::min<size_t>(255, c->length - offset));
            std::memcpy(locale, name, n);
            locale[n] = '\0';
        }
    }
    const int count = c->mbCpCount > RSCP_MBCP_MAX ? RSCP_MBCP_MAX : c->mbCpCount;
    if (slot.cpIndex == 0) {
        Fallback(cp, nullptr);
        return Error(RSCPETOOLONG, 15, 542, "langMBCPMap: no c.p. assigned", language, 1, "&", 1);
    }
    if (slot.cpIndex > count) {
        Fallback(cp, nullptr);
        return Error(RSCPETOOLONG, 14, 551, "langMBCPMap invalid");
    }
    std::memcpy(cp, c->lang.mbCp[slot.cpIndex - 1], 4);
    return 0;
}

uint32_t rscpGetMBCodePageForLanguage(const char* language, char* cp, char* locale)
{
    return rscpiGetMBCodePageForLanguage(language, cp, locale, 0);
}

uint32_t rscpGetProcessedLanguages(char* field, int32_t size)
{
    const char* text = "E";
    uint32_t length = 1;
    const rscpCcc_t* c = rscpmp;
    if (c != nullptr && c->lang.instState == 0) {
        rscpLCBuildList();
        c = rscpmp;
        if (c != nullptr)
            InstanceList(c, &text, &length);
    } else if (c != nullptr && c->lang.instState == 2) {
        InstanceList(c, &text, &length);
    }
    if (size < 1)
        return length > 0 && text[0] != ' ' ? RSCPETOOLONG : 0;
    const uint32_t n = length < uint32_t(size) ? length : uint32_t(size);
    std::memcpy(field, text, n);
    std::memset(field + n, ' ', size_t(size) - n);
    for (uint32_t i = n; i < length; ++i)
        if (text[i] != ' ')
            return RSCPETOOLONG;
    return 0;
}

uint32_t rscpGetProcessedLanguagesLength()
{
    const rscpCcc_t* c = rscpmp;
    if (c == nullptr)
        return 0;
    if (c->lang.instState == 0) {
        rscpLCBuildList();
        if ((c = rscpmp) == nullptr)
            return 0;
    }
    if (c->lang.instState != 0 && c->lang.instState != 2)
        return 0;
    const char* text = nullptr;
    uint32_t length = 0;
    return InstanceList(c, &text, &length) ? length : 0;
}

int32_t rscpIsProcessedLanguage(const char* language)
{
    return kovlcpLanguageInList(
        *language, [](char* list, int32_t size) { return int32_t(rscpGetProcessedLanguages(list, size)); });
}

uint32_t rscpGetDefaultLanguage(char* language)
{
    const rscpCcc_t* c = rscpmp;
    if (c != nullptr && c->defLanguage != '\0' && c->defLanguage != ' ') {
        *language = c->defLanguage;
        return 0;
    }
    kovlcpGetSystemLanguage(language);
    return RSCPENOOBJ;
}
