// Locale set-up for a language: its code page and C locale from the language
// map or from the locale records of "TCP0C.DAT", made the text environment;
// the migration language map kept in the cache; and the answers that stand
// for database lookups this library does without.
#include <algorithm>
#include <cstdarg>
#include <cstring>
#include <string>

#include "flat/kovparam.h"
#include "krn/rscp/cpcacheint.h"
#include "krn/rscp/cpinfo.h"
#include "krn/rscp/cpkeys.h"
#include "krn/rscp/cplang.h"
#include "krn/rscp/cpnodb.h"
#include "krn/rscp/cpobject.h"
#include "krn/rscp/cptextenv.h"
#include "krn/rstr/fixstr.h"
#include "krn/runt/abrt.h"
#include "nls/kovstr.h"

namespace {

const char kModule[] = "@(#) $Id: rscploc#1 $";

uint32_t Error(uint32_t code, uint32_t mask, int32_t number, int32_t line, const char* text, const char* arg = nullptr)
{
    return rscpe__error(code, 'C', mask, kModule, number, line, text, "CPG", arg, arg != nullptr ? -1 : 0, nullptr, 0);
}

// The last successful set.
char g_lastLanguage = '?';
char g_lastCp[4] = {'0', '0', '0', '0'};
uint32_t g_lastResult = 777;  // not yet initialised
int g_oldCache = -1;          // -1 until "rscp/rscploc/oldcache" was read

bool OldCache()
{
    if (g_oldCache < 0) {
        const char* v = kovparam_get("rscp/rscploc/oldcache");
        g_oldCache = v != nullptr && (v[0] == '1' || v[0] == 'y' || v[0] == 'Y') ? 1 : 0;
    }
    return g_oldCache == 1;
}

void TraceLine(const char* text)
{
    rscph_HookTable.TraceLine(2, kModule, 0, text, int32_t(std::strlen(text)));
}

void SetFailed(int32_t number, int32_t line, char language, const char* cp, const char* locale, const char* current)
{
    char arg[80];
    snprintfR(arg, sizeof arg, "%.*s&%.*s&%.50s&%.*s&", 1, &language, 4, cp, locale, 4, current);
    Error(RSCPENOOBJ, RSCP_ALL_ERRORS, number, line, "setlocale() failed", arg);
}

}  // namespace

// ---- locale of a language ---------------------------------------------------------------

uint32_t rscpLocaleForLanguage(char language, int32_t mode, char* cp, char* locale, uint32_t mask,
                               int32_t countrySource)
{
    char country[3] = {' ', ' ', ' '};
    if (mode == 0 || mode == 1) {
        char mapCp[4], mapLocale[256];
        if (rscpiGetMBCodePageForLanguage(&language, mapCp, mapLocale, mode) == 0) {
            if (cp != nullptr)
                std::memcpy(cp, mapCp, 4);
            if (locale != nullptr)
                std::memcpy(locale, mapLocale, std::strlen(mapLocale) + 1);
            return 0;
        }
        // The cache's default country, brought up to date first unless the
        // caller says the cache is current.
        rscpDefCountry_t current{};
        const bool known = rscpmp != nullptr && (countrySource == 1 || countrySource == 2 ||
                                                 rscpldc_lookup_default_country(&current, RSCP_ALL_ERRORS) == 0);
        if (known && rscpmp != nullptr)
            std::memcpy(country, rscpmp->defCountryText, 3);
        else
            TraceLine("Cannot read default country");
    } else {
        TraceLine("ignore default country and try TCP0C with '   '");
    }
    rscpTcp0cRecord_t key;
    fixstr_copy_str_pad(key.platform, ab_sysinfo.sysname != nullptr ? ab_sysinfo.sysname : "", 16);
    key.language[0] = language;
    std::memcpy(key.country, country, 3);
    std::memset(key.modifier, ' ', sizeof key.modifier);
    std::memset(key.locale, ' ', sizeof key.locale);
    std::memset(key.codePage, ' ', sizeof key.codePage);
    if (rscpLookupTCP0C(&key, mask) == 0) {
        if (cp != nullptr)
            std::memcpy(cp, key.codePage, 4);
        if (locale != nullptr)
            fixstr_copy_trim(locale, key.locale, 255);
    } else {
        if (cp != nullptr)
            std::memcpy(cp, "0000", 4);
        if (locale != nullptr)
            std::memcpy(locale, "C", 2);
    }
    return 0;
}

uint32_t rscpGetLocaleForLanguage(char language, int32_t mode, char* cp, char* locale, uint32_t mask)
{
    return rscpLocaleForLanguage(language, mode, cp, locale, mask, 0);
}

uint32_t rscpcls__codepage_and_locale_set(char language, uint8_t skipDatabase, uint32_t mask, int32_t countrySource)
{
    if (rscphTracing())
        rscph_HookTable.TraceEnter("rscpcls__codepage_and_locale_set", -1, &language, 1, nullptr);
    if (g_lastResult == 777) {
        kovclcl_cur_lang_cp_loc(&g_lastLanguage, g_lastCp, nullptr, nullptr);
        g_lastResult = 0;
    }
    char currentCp[4], currentLocale[256];
    kovclcl_cur_lang_cp_loc(nullptr, currentCp, currentLocale, nullptr);
    if (OldCache() && language == g_lastLanguage && std::memcmp(currentCp, g_lastCp, 4) == 0) {
        rscpe_clear_errors();
        return g_lastResult;
    }
    auto remember = [language](const char* cp) {
        g_lastLanguage = language;
        std::memcpy(g_lastCp, cp, 4);
        g_lastResult = 0;
        return 0u;
    };
    if (skipDatabase == 0) {
        const char key[5] = {language, currentCp[0], currentCp[1], currentCp[2], currentCp[3]};
        if (rscpReadTCP09(key, mask) == 0)
            return remember(currentCp);
    }
    char cp[4], locale[256];
    rscpLocaleForLanguage(language, 1, cp, locale, mask, countrySource);
    if (kovlcpSetTextEnv(language, cp, cp, locale) == 0)
        return remember(cp);
    SetFailed(10, 686, language, cp, locale, currentCp);
    rscpLocaleForLanguage(language, 2, cp, locale, mask, countrySource);
    const int32_t rc = kovlcpSetTextEnv(language, cp, cp, locale);
    if (rc == 0)
        return remember(cp);
    if (rc == 4)
        rscph_HookTable.ctl->err.append = 1;
    SetFailed(9, 753, language, cp, locale, currentCp);
    g_lastLanguage = '?';
    g_lastResult = 1;
    if (rscphTracing())
        rscph_HookTable.TraceExit(int32_t(RSCPENOOBJ), "setlocale() failed", 18, nullptr);
    return RSCPENOOBJ;
}

uint32_t rscpcls_codepage_and_locale_set(char language, uint8_t skipDatabase, uint32_t mask)
{
    return rscpcls__codepage_and_locale_set(language, skipDatabase, mask, 0);
}

uint32_t rscpSetLanguage(char language, uint8_t skipDatabase)
{
    const uint32_t rc = rscpcls__codepage_and_locale_set(language, skipDatabase, RSCP_ALL_ERRORS, 0);
    if (rc == 0)
        kovlcpCopyTextEnvCodePageToUser();
    return rc;
}

uint32_t rscpGetInstalledLanguages(char* buffer, int32_t length)
{
    if (buffer == nullptr || length < 1)
        return RSCPETOOLONG;
    std::memset(buffer, ' ', size_t(length));
    buffer[0] = 'E';
    return RSCPENOOBJ;
}

uint32_t rscpGetCustomizedCPPair(const void*, uint8_t* notAllowed, uint8_t* notFound)
{
    if (notFound != nullptr)
        *notFound = 1;
    if (notAllowed != nullptr)
        *notAllowed = 0;
    return 0;
}

void rscplocResetState()
{
    g_lastLanguage = '?';
    std::memcpy(g_lastCp, "0000", 4);
    g_lastResult = 777;
    g_oldCache = -1;
}

uint32_t rscpumgReadLangCP()
{
    return 0;
}
uint32_t rscpumgReadLangNoCP()
{
    return 0;
}
uint32_t rscpumgReadCCTLLangs()
{
    return 0;
}

// ---- the migration language map ------------------------------------------------------------

namespace {

struct Migration {
    rscpeOutputFunc out;
    bool talk;
    void Say(const char* fmt, ...) __attribute__((format(printf, 2, 3)))
    {
        if (!talk || out == nullptr)
            return;
        va_list ap;
        va_start(ap, fmt);
        rscpvOutLine(out, 200, fmt, ap);
        va_end(ap);
    }
};

// Languages of the lists that answered, each once, in the order met.
std::string MergedLanguages(uint32_t* result)
{
    char lists[4][256];
    uint32_t rc[4];
    rc[0] = rscpGetInstalledLanguages(lists[0], 256);
    rc[1] = uint32_t(kovlcpGetLanguageListA(lists[1], 256));
    rc[2] = uint32_t(kovlcpGetLanguageListB(lists[2], 256));
    rc[3] = rscpGetProcessedLanguages(lists[3], 256);
    // The installed languages are there whenever the buffer took them.
    const bool answered[4] = {rc[0] != RSCPETOOLONG, rc[1] == 0, rc[2] == 0, rc[3] == 0};
    std::string merged;
    for (int i = 0; i < 4; ++i)
        for (int k = 0; answered[i] && k < 256; ++k) {
            const char l = lists[i][k];
            if (l != ' ' && l != '\0' && merged.find(l) == std::string::npos)
                merged += l;
        }
    if (!answered[0] && !answered[1] && !answered[2] && !answered[3]) {
        char text[64];
        snprintfR(text, sizeof text, "rscpGet*LangList returned %d/%d/%d/%d", int(rc[0]), int(rc[1]), int(rc[2]),
                  int(rc[3]));
        *result = Error(rc[1], RSCP_ALL_ERRORS, 12, 1099, text, text);
    }
    return merged;
}

// Stores the map in the cache (a place that is large enough is reused).
bool StoreMap(rscpDbMcpl_t& m, const char* mainCp, const char* cps, uint32_t count, const rscpLangEntry_t* langs,
              uint32_t langCount)
{
    uint32_t pages = m.pagesOffset, entries = m.langsOffset;
    if (pages == 0 || m.pageCount < count)
        if (count > 0 && rscpsc__store_cache07(cps, int32_t(4 * count), &pages, nullptr) != 0)
            return false;
    if (entries == 0 || m.langCount < langCount)
        if (langCount > 0 && rscpsc__store_cache07(langs, int32_t(sizeof *langs * langCount), &entries, nullptr) != 0)
            return false;
    char* base = reinterpret_cast<char*>(rscpmp);
    if (count > 0)
        std::memcpy(base + pages, cps, 4 * size_t(count));
    if (langCount > 0)
        std::memcpy(base + entries, langs, sizeof *langs * langCount);
    std::memcpy(m.defCp, mainCp, 4);
    m.pageCount = count;
    m.pagesOffset = pages;
    m.langCount = langCount;
    m.langsOffset = entries;
    m.present = 1;
    return true;
}

}  // namespace

uint32_t GetDBMigrateCodePagesLangs9(char* mainCp, char* cps, int32_t capacity, uint32_t* count, rscpLangEntry_t* langs,
                                     int32_t langCapacity, uint32_t* langCount, rscpeOutputFunc out, int32_t mode)
{
    static uint32_t generation = 0xFFFFFFFFu;
    uint32_t result = rscpi_init_just_in_case("GetDBMigrateCodePagesLangs9");
    if (count != nullptr)
        *count = 0;
    if (langCount != nullptr)
        *langCount = 0;
    if (result != 0)
        return result;
    if (langCapacity > 256)
        return Error(RSCPEINVAL, RSCP_ALL_ERRORS, 11, 911, "Too large language map");
    if (mode == 0) {
        uint32_t sw = 1;
        rscpumgGetExportToSw(&sw);
        mode = int32_t(sw);
    }
    rscpCcc_t* c = rscpmp;
    if ((result = rscprc__reorg_check(&c, &generation)) != 0)
        return result;
    rscpDbMcpl_t& stored = c->lang.dbmcpl[mode == 2 ? 1 : 0];

    char main[4] = {'0', '0', '0', '0'};
    char dbCps[4 * RSCP_TCPDB_MAX];
    uint32_t dbCount = 0;
    rscpLangEntry_t map[256];
    uint32_t mapCount = 0;
    if (mode != 2 && stored.present && uint64_t(stored.pagesOffset) + 4ull * stored.pageCount <= c->length &&
        uint64_t(stored.langsOffset) + sizeof(rscpLangEntry_t) * stored.langCount <= c->length) {
        std::memcpy(main, stored.defCp, 4);
        dbCount = stored.pageCount < uint32_t(RSCP_TCPDB_MAX) ? stored.pageCount : uint32_t(RSCP_TCPDB_MAX);
        mapCount = stored.langCount < 256 ? stored.langCount : 256;
        std::memcpy(dbCps, reinterpret_cast<const char*>(c) + stored.pagesOffset, 4 * size_t(dbCount));
        std::memcpy(map, reinterpret_cast<const char*>(c) + stored.langsOffset, sizeof *map * mapCount);
    } else {
        uint32_t option19 = 1;
        Migration m{out, rscpgo_get_option(19, &option19) != 0 || option19 != 0};
        const uint32_t rcDb = kovlcpGetDBCodePage(dbCps, RSCP_TCPDB_MAX, &dbCount);
        if (rcDb != 0) {
            char text[40];
            snprintfR(text, sizeof text, "GetDBCodePages returned %d", int(rcDb));
            result = Error(RSCPEINVAL, RSCP_ALL_ERRORS, 13, 996, text, text);
            dbCount = 0;
        }
        const std::string merged = MergedLanguages(&result);
        bool saved = false, saveFailed = false;
        char savedLanguage = ' ', savedCp[4], savedLocale[256] = "";
        for (const char l : merged) {
            char cp[4];
            if (rscpGetMBCodePageForLanguage(&l, cp, nullptr) == 0) {
                m.Say("GetDBMigrateCodePagesLangs->rscpGetCodePageForLanguage('%c') -> '%*.*s'.", l, 4, 4, cp);
            } else {
                if (saveFailed)
                    continue;
                if (!saved && kovclcl_cur_lang_cp_loc(&savedLanguage, savedCp, savedLocale, nullptr) != 0) {
                    m.Say("GetDBMigrateCodePagesLangs->kovclcl_cur_lang_cp_loc failed. Don't look further.");
                    saveFailed = true;
                    continue;
                }
                saved = true;
                if (rscpcls_codepage_and_locale_set(l, 1, RSCP_ALL_ERRORS) != 0) {
                    m.Say("GetDBMigrateCodePagesLangs->rscpcls_codepage_and_locale_set('%c') failed.", l);
                    continue;
                }
                m.Say("GetDBMigrateCodePagesLangs->rscpcls_codepage_and_locale_set('%c').", l);
                if (rscpGetCodePageForLanguage(cp) != 0)
                    continue;
            }
            if (mapCount >= 256)
                break;
            rscpLangEntry_t& e = map[mapCount++];
            e = rscpLangEntry_t{l, 0, -1};
            for (uint32_t i = 0; i < dbCount; ++i)
                if (std::memcmp(dbCps + 4 * i, cp, 4) == 0) {
                    e.page = int32_t(i);
                    break;
                }
        }
        if (saved && savedLanguage != '\0' && savedLanguage != ' ')
            kovlcpSetTextEnv(savedLanguage, savedCp, savedCp, savedLocale);
        else
            m.Say("GetDBMigrateCodePagesLangs setting any locale.");

        if (mode == 2) {
            m.Say("GetDBMigrateCodePagesLangs: reading UMGLANGCP, UMGLNOCP:");
            rscpumgReadLangCP();
            rscpumgReadLangNoCP();
            int matches = 0;
            for (uint32_t i = 0; i < mapCount; ++i)
                matches += map[i].page >= 0;
            m.Say("  matches           :%3d", matches);
            for (const char* counter : {"  language re-mapped:", "  languages added   :", "  code pages added  :",
                                        "  language ambiguous:", "  languages removed :"})
                m.Say("%s%3d", counter, 0);
            if (result == 0) {
                const uint32_t load = rscpumgLoadUMGCCTL(nullptr);
                if (load == 0) {
                    m.Say("GetDBMigrateCodePagesLangs: reading UMGCCTL:");
                    m.Say("  code pages added  :%3d", 0);
                } else if (load != RSCPEODATA) {
                    result = load;
                }
            }
            const uint32_t fallback = rscpumgGetFallBackCP(main);
            if (fallback != 0) {
                m.Say("  rscpumgGetFallBackCP -> %d", int(fallback));
                rscpGetCodePageForLanguage(main);
            }
        } else {
            m.Say("GetDBMigrateCodePagesLangs uses TCP0D, TCPDB, TCP0C.");
            char def = 'E';
            rscpGetDefaultLanguage(&def);
            const rscpLangEntry_t* found = nullptr;
            for (uint32_t i = 0; i < mapCount && found == nullptr; ++i)
                if (map[i].language == def)
                    found = &map[i];
            if (found != nullptr && found->page >= 0) {
                std::memcpy(main, dbCps + 4 * found->page, 4);
            } else {
                if (found == nullptr)
                    m.Say("Cannot find default language in list of %d languages", int(mapCount));
                rscpGetCodePageForLanguage(main);
            }
        }
        const int32_t rc = rscpGetSemaAndWritePermission(14);
        if (rc != 0) {
            if (result == RSCPEROLLBACK)
                rscpe__error(RSCPEROLLBACK, 'C', 0, kModule, 14, 1180, "Tryed to ignore a rollback", "F26", nullptr, 0,
                             nullptr, 0);
            return uint32_t(rc);
        }
        c = rscpmp;
        rscpDbMcpl_t& place = c->lang.dbmcpl[mode == 2 ? 1 : 0];
        if (!(c->cccVersion == RSCP_CCC_COMPLETE && result == 0 && dbCount <= 30 && mapCount <= 256 &&
              StoreMap(place, main, dbCps, dbCount, map, mapCount)))
            place.present = 0;
        rscpReleaseWritePermissionAndSema(15);
    }
    if (mainCp != nullptr)
        std::memcpy(mainCp, main, 4);
    const uint32_t cpOut = capacity > 0 ? std::min<uint32_t>(dbCount, uint32_t(capacity)) : 0;
    if (cps != nullptr && cpOut > 0)
        std::memcpy(cps, dbCps, 4 * size_t(cpOut));
    if (count != nullptr)
        *count = cpOut;
    const uint32_t langOut = langCapacity > 0 ? std::min<uint32_t>(mapCount, uint32_t(langCapacity)) : 0;
    if (langs != nullptr && langOut > 0)
        std::memcpy(langs, map, sizeof *map * langOut);
    if (langCount != nullptr)
        *langCount = langOut;
    return result;
}

uint32_t GetDBMigrateCodePagesLangs8(char* cps, int32_t capacity, uint32_t* count, rscpLangEntry_t* langs,
                                     int32_t langCapacity, uint32_t* langCount, rscpeOutputFunc out, int32_t mode)
{
    return GetDBMigrateCodePagesLangs9(nullptr, cps, capacity, count, langs, langCapacity, langCount, out, mode);
}

uint32_t GetDBMigrateCodePagesLangs7(char* cps, int32_t capacity, uint32_t* count, rscpLangEntry_t* langs,
                                     int32_t langCapacity, uint32_t* langCount, rscpeOutputFunc out)
{
    return GetDBMigrateCodePagesLangs8(cps, capacity, count, langs, langCapacity, langCount, out, 0);
}

uint32_t GetDBMigrateCodePagesLangs(char* cps, int32_t capacity, uint32_t* count, rscpLangEntry_t* langs,
                                    int32_t langCapacity, uint32_t* langCount)
{
    return GetDBMigrateCodePagesLangs7(cps, capacity, count, langs, langCapacity, langCount, rscpe_get_output_func(2));
}
