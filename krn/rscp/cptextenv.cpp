// The text environment: the runtime's text environment area holds what a
// program works in now, the system text held here what the profile says;
// setting an environment checks its code page against the database list and
// sets the C locale through the SetLocale hook.
#include "krn/rscp/cptextenv.h"

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "flat/kovparam.h"
#include "krn/rscp/cpcacheint.h"
#include "krn/rscp/cpinfo.h"
#include "krn/rscp/cplang.h"
#include "krn/rstr/fixstr.h"
#include "krn/runt/abrt.h"
#include "nls/kovstr.h"

namespace {

const char kModule[] = "@(#) $Id: kovlcp#1 $";

// The profile's defaults of the text environment.
struct SystemText {
    char localCp[4];
    char language;
    char second;
    char installed[256];
    char locale[256];
};
SystemText g_sys;

// A flag read from the profile on first use.
struct Flag {
    int32_t value;
    bool read;
};
Flag g_ignoreErrors{1, false}, g_collate{1, false}, g_skipAll{1, false}, g_front{0, false}, g_mnls{0, false};

char g_profileDbCp[4];
bool g_profileDbStored = false, g_profileDbNumeric = false;
kovlcpLocaleCallback g_callback = nullptr;
long g_tolerated = 0, g_countdown = 0;
char g_lastEmptyReport[11];
uint32_t g_setLocaleCalls = 0;

void Reset()
{
    std::memset(&g_sys, ' ', sizeof g_sys);
    std::memcpy(g_sys.localCp, "1100", 4);
    std::memset(g_sys.locale, 0, sizeof g_sys.locale);
    g_ignoreErrors = {1, false};
    g_collate = {1, false};
    g_skipAll = {1, false};
    g_front = {0, false};
    g_mnls = {0, false};
    g_profileDbStored = g_profileDbNumeric = false;
    g_callback = nullptr;
    g_tolerated = g_countdown = 0;
    std::memset(g_lastEmptyReport, 0, sizeof g_lastEmptyReport);
}

struct Init {
    Init() { Reset(); }
} g_init;

// The runtime's text environment area and its user area; a stand-alone area
// when the runtime could not provide one.
AbTextArea* Area()
{
    if (zttaptr == nullptr)
        ab_ztta_init();
    if (zttaptr != nullptr && zttaptr->user != nullptr)
        return zttaptr;
    static AbUserArea user{};
    static AbTextArea own{};
    own.user = &user;
    return &own;
}

AbUserArea* User()
{
    Area();
    static AbUserArea none{};
    return spauptr != nullptr ? spauptr : &none;
}

bool Set(char c)
{
    return c != '\0' && c != ' ';
}
bool SetCp(const char* cp)
{
    return std::memcmp(cp, "    ", 4) != 0 && std::memcmp(cp, "0000", 4) != 0 && std::memcmp(cp, "\0\0\0\0", 4) != 0;
}

// A parameter's value, or NULL when it has none.
const char* Value(const char* name)
{
    const char* v = kovparam_get(name);
    return v == nullptr || std::strncmp(v, "kovparam", 8) == 0 ? nullptr : v;
}

int32_t ReadFlag(Flag& f, const char* name, int32_t ifZero, int32_t otherwise)
{
    if (!f.read) {
        f.read = true;
        const char* v = Value(name);
        if (v != nullptr)
            f.value = v[0] == '0' ? ifZero : otherwise;
    }
    return f.value;
}

char* SetLocale(int category, const char* locale)
{
    ++g_setLocaleCalls;
    return rscph_HookTable.SetLocale(category, locale);
}

void Syslog(int32_t number, const char* msgid, const char* text, const char* tail)
{
    char block[64];
    rscpSyslogBlock(block, text, "kovlcp", tail);
    rscph_HookTable.SyslogMsg(number, msgid, block);
}

// The code page against the database list: 0 when it may be set.  The list
// buffer holds two lists of 50 code pages with " / " between them.
uint32_t CheckCodePage(char language, const char* cp)
{
    char list[2 * RSCP_ALLOWED_LIST_SIZE + 3];
    uint32_t rc = rscpcpa_codepage_allowed(cp, list, RSCP_ALL_ERRORS);
    const int32_t first = int32_t(strnlenR(list, RSCP_ALLOWED_LIST_SIZE));
    if (rc == RSCPEBADO && first < 5) {
        char stamp[16];
        rscph_HookTable.Timestamp(stamp);
        if (std::memcmp(stamp, g_lastEmptyReport, sizeof g_lastEmptyReport) != 0) {
            std::memcpy(g_lastEmptyReport, stamp, sizeof g_lastEmptyReport);
            char text[64];
            snprintfR(text, sizeof text, "%c&%.4s&code page list empty&", language, cp);
            Syslog(107, "CPL", text, " 2");
        }
    }
    if (rc == 0 || rc == RSCPEBUSY)
        return 0;
    for (int attempt = 0; attempt < 5; ++attempt) {
        list[first] = '\0';
        strcat_sR(list, sizeof list, " / ");
        rc = rscpcpa_codepage_allowed(cp, list + first + 3, RSCP_ALL_ERRORS);
        const int32_t whole = int32_t(strnlenR(list, sizeof list));
        if (first < 5 || whole != 2 * first + 3) {
            rscph_HookTable.SyslogText(list, whole);
            char text[64];
            snprintfR(text, sizeof text, "%c&%.4s&%d&%d&code page list not stable&", language, cp, int(first),
                      int(whole - first - 3));
            Syslog(107, "CPK", text, " 1");
        }
        if (rc == 0 || rc == RSCPEBUSY)
            return 0;
    }
    return 4;
}

void Store(AbTextArea* a, char language, const char* cp, const char* secondCp)
{
    a->language = language;
    std::memcpy(a->codepage, cp, 4);
    std::memcpy(a->codepage2, secondCp, 4);
}

// A locale name of at most 255 characters with its NUL.
void CopyLocale(char* dst256, const char* src)
{
    const size_t n = strnlenR(src, 255);
    std::memcpy(dst256, src, n);
    dst256[n] = '\0';
}

}  // namespace

// ---- getters ------------------------------------------------------------------------------

uint32_t kovlcpGetSystemLanguage(char* language)
{
    const bool set = Set(g_sys.language);
    *language = set ? g_sys.language : 'E';
    return set ? 0 : RSCPENOOBJ;
}

uint32_t kovlcpGetSecondLanguage(char* language)
{
    if (Set(g_sys.second)) {
        *language = g_sys.second;
        return 0;
    }
    char system = 'E';
    const uint32_t rc = kovlcpGetSystemLanguage(&system);
    *language = system == 'E' ? 'D' : 'E';
    return rc;
}

uint32_t kovlcpGetLogonLanguage(char* language)
{
    const AbUserArea* u = Area()->user;
    if (Set(u->logonLanguage)) {
        *language = u->logonLanguage;
        return 0;
    }
    kovlcpGetSystemLanguage(language);
    return RSCPENOOBJ;
}

uint32_t kovlcpGetTextEnvLanguage(char* language)
{
    const AbTextArea* a = Area();
    if (Set(a->language)) {
        *language = a->language;
        return 0;
    }
    kovlcpGetLogonLanguage(language);
    return RSCPENOOBJ;
}

uint32_t kovlcpGetUserTextEnvCodePage(char* cp)
{
    const AbUserArea* u = Area()->user;
    if (SetCp(u->textCodepage)) {
        std::memcpy(cp, u->textCodepage, 4);
        return 0;
    }
    kovlcpGetLocalCodePage(cp);
    return RSCPENOOBJ;
}

uint32_t rscpGetCodePageForLanguage(char* cp)
{
    const AbTextArea* a = Area();
    if (SetCp(a->codepage)) {
        std::memcpy(cp, a->codepage, 4);
        return 0;
    }
    kovlcpGetUserTextEnvCodePage(cp);
    return RSCPENOOBJ;
}

uint32_t kovlcpGetUserCodePage(char* cp)
{
    const AbUserArea* u = User();
    if (cp == nullptr)
        return RSCPENOOBJ;
    std::memcpy(cp, u->userCodepage, 4);
    return SetCp(u->userCodepage) ? 0 : RSCPENOOBJ;
}

// ---- the text environment -------------------------------------------------------------------

int32_t kovlcpSetTextEnv(char language, const char* cp, const char* secondCp, const char* locale)
{
    uint32_t option27 = 1;
    if (rscpgo_get_option(27, &option27) != 0)
        option27 = 1;
    if (cp == nullptr || secondCp == nullptr || cp[0] == '\0' || secondCp[0] == '\0' ||
        (option27 != 0 && (locale == nullptr || locale[0] == '\0')))
        return 2;
    if (CheckCodePage(language, cp) != 0)
        return 4;
    AbTextArea* a = Area();
    if (option27 == 0 || locale == nullptr) {
        Store(a, language, cp, secondCp);
    } else {
        // A refused locale leaves the process as it was.
        char previousCollate[256] = "";
        bool collateChanged = false;
        if (kovlcpCollateWanted() == 1) {
            const char* previous = SetLocale(LC_COLLATE, nullptr);
            if (previous != nullptr)
                CopyLocale(previousCollate, previous);
            if (SetLocale(LC_COLLATE, locale) == nullptr)
                return 1;
            collateChanged = previous != nullptr;
        }
        if (SetLocale(LC_CTYPE, locale) == nullptr) {
            if (collateChanged)
                SetLocale(LC_COLLATE, previousCollate);
            return 1;
        }
        Store(a, language, cp, secondCp);
        CopyLocale(a->locale, locale);
        if (g_callback != nullptr)
            g_callback(a->locale);
    }
    SetLocale(LC_NUMERIC, "C");
    return 0;
}

int32_t kovlcpSetTextEnvRecord(const kovlcpTextEnv_t* r)
{
    if (r == nullptr)
        return 2;
    char locale[256];
    CopyLocale(locale, r->locale);
    return kovlcpSetTextEnv(r->language, r->codePage, r->codePage, locale);
}

int32_t kovlcpSetSystemTextEnv()
{
    char language = 'E', cp[4];
    kovlcpGetSystemLanguage(&language);
    kovlcpGetLocalCodePage(cp);
    char locale[256];
    CopyLocale(locale, g_sys.locale);
    return kovlcpSetTextEnv(language, cp, cp, locale);
}

int32_t kovlcpResetTextEnv()
{
    AbTextArea* a = Area();
    char language = 'E', cp[4];
    kovlcpGetSystemLanguage(&language);
    kovlcpGetLocalCodePage(cp);
    Store(a, language, cp, cp);
    std::memcpy(a->locale, g_sys.locale, sizeof a->locale);
    a->locale[255] = '\0';
    if (g_callback != nullptr)
        g_callback(a->locale);
    return kovlcpSetSystemTextEnv();
}

int32_t kovlcpTextEnvMatches(const kovlcpTextEnv_t* r)
{
    const AbTextArea* a = Area();
    if (r == nullptr || r->language != a->language || std::memcmp(r->codePage, a->codepage, 4) != 0 ||
        std::strncmp(r->locale, a->locale, 255) != 0)
        return 0;
    const char* ctype = SetLocale(LC_CTYPE, nullptr);
    if (ctype == nullptr || std::strncmp(ctype, r->locale, 255) != 0)
        return 0;
    if (kovlcpCollateWanted() == 1) {
        const char* collate = SetLocale(LC_COLLATE, nullptr);
        if (collate == nullptr || std::strncmp(collate, r->locale, 255) != 0)
            return 0;
    }
    return 1;
}

int32_t kovlcpSetTextEnvTolerant(const kovlcpTextEnv_t* r)
{
    if (kovlcpTextEnvMatches(r) == 1)
        return 0;
    const int32_t rc = kovlcpSetTextEnvRecord(r);
    if (rc == 0 || kovlcpIgnoreErrors() == 0)
        return rc;
    ++g_tolerated;
    if (g_countdown > 0) {
        --g_countdown;
        return rc;
    }
    rscpe_print_errors(rscpe_get_error_record(), rscpe_get_output_func(1));
    rscpe_publish_errors();
    char text[200];
    snprintfR(text, sizeof text, "%.*s&%.4s&%.80s&%ld&", int(strnlenR(&r->language, 15)), &r->language, r->codePage,
              r->locale, g_tolerated);
    Syslog(32, "CPM", text, "   ");
    char line[240];
    snprintfR(line, sizeof line, "%s TEXTENV ZEMO error ignored", text);
    rscpe_get_output_func(1)(line, int32_t(strnlenR(line, sizeof line)));
    g_countdown = g_tolerated > 1000 ? 1000 : g_tolerated > 50 ? 50 : g_tolerated >= 7 ? 20 : 0;
    return rc;
}

int32_t kovlcpSetTextEnvLanguage(char language)
{
    Area()->language = language;
    return 0;
}

int32_t kovclcl_cur_lang_cp_loc(char* language, char* cp, char* locale, char* userCp)
{
    const AbTextArea* a = Area();
    if (language != nullptr)
        *language = a->language;
    if (cp != nullptr)
        std::memcpy(cp, a->codepage, 4);
    if (locale != nullptr) {
        std::memcpy(locale, a->locale, 255);
        locale[255] = '\0';
    }
    if (userCp != nullptr)
        std::memcpy(userCp, User()->userCodepage, 4);
    return 0;
}

int32_t kovlcpCompareTextEnv()
{
    const AbTextArea* a = Area();
    char language = 'E', cp[4];
    kovlcpGetSystemLanguage(&language);
    kovlcpGetLocalCodePage(cp);
    int32_t bits = 0;
    if (a->language != language)
        bits |= 1;
    if (std::memcmp(a->codepage, cp, 4) != 0)
        bits |= 2;
    if (std::strncmp(a->locale, g_sys.locale, 255) != 0)
        bits |= 4;
    return bits;
}

int32_t kovlcpCopyTextEnvCodePageToUser()
{
    AbTextArea* a = Area();
    std::memcpy(a->user->textCodepage, a->codepage, 4);
    std::memcpy(a->user->textCodepage2, a->codepage, 4);
    return 0;
}

void kovlcpSetLocaleCallback(kovlcpLocaleCallback callback)
{
    if (callback != nullptr)
        g_callback = callback;
    if (g_callback != nullptr)
        g_callback(Area()->locale);
}

namespace {

int32_t InstalledList(char* list, int32_t size)
{
    return rscpGetInstalledLanguages(list, size) == RSCPETOOLONG ? 1 : 0;
}

}  // namespace

int32_t kovlcpLanguageInList(char language, int32_t (*source)(char*, int32_t))
{
    char list[256];
    if (source(list, int32_t(sizeof list)) != 0)
        return 0;
    for (char c : list) {
        if (c == ' ')
            return 0;
        if (c == language)
            return 1;
    }
    return 0;
}

int32_t kovlcpGetLanguageListA(char*, int32_t)
{
    return 1;
}
int32_t kovlcpGetLanguageListB(char*, int32_t)
{
    return 1;
}
int32_t kovlcpIsLanguageInListA(char language)
{
    return kovlcpLanguageInList(language, kovlcpGetLanguageListA);
}
int32_t kovlcpIsLanguageInListB(char language)
{
    return kovlcpLanguageInList(language, kovlcpGetLanguageListB);
}
int32_t kovlcpIsLanguageInstalled(char language)
{
    return kovlcpLanguageInList(language, InstalledList);
}

// ---- profile parameters -----------------------------------------------------------------------

int32_t kovlcpReadInstallParameters()
{
    const char* server = kovparam_get("install/codepage/appl_server");
    if (server != nullptr) {
        if (strnlenR(server, 4) == 4 && server[0] >= '0' && server[0] <= '9' && server[1] >= '0' && server[1] <= '9' &&
            server[2] >= '0' && server[2] <= '9' && server[3] >= '0' && server[3] <= '9')
            kovlcpSetLocalCodePageFromProfile(server);
        else if (std::strncmp(server, "kovparam.c", 10) != 0)
            std::fprintf(stderr, "Profile parameter '%s' value '%.100s' format error.\n",
                         "install/codepage/appl_server", server);
    }
    static const struct {
        const char* name;
        int32_t number, line;
        const char* text;
        const char* arg;
    } kDbParams[] = {
        {"install/codepage/db/transp", 2, 541, "KOVPARAM(install/codepage/db/transp) ignored",
         "install/codepage/db/transp not used"},
        {"install/codepage/db/non_transp", 3, 572, "KOVPARAM(install/codepage/db/non_transp) ignored",
         "install/codepage/db/non_transp not used"},
    };
    for (const auto& p : kDbParams) {
        const char *l11 = nullptr, *l34 = nullptr;
        kovparam_get_all_levels(p.name, &l11, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                &l34, nullptr, nullptr);
        if (l11 != nullptr && l34 != nullptr && std::strcmp(l11, l34) != 0)
            rscpe__error(RSCPEINTERN, 'C', RSCP_ALL_ERRORS, kModule, p.number, p.line, p.text, "CP6", p.arg, -1,
                         nullptr, 0);
    }
    kovlcpGetLocalCodePage(g_sys.localCp);
    const char* v = Value("zcsa/system_language");
    g_sys.language = v != nullptr && v[0] != '\0' ? v[0] : ' ';
    v = Value("zcsa/second_language");
    g_sys.second = v != nullptr && v[0] != '\0' ? v[0] : ' ';
    std::memset(g_sys.installed, ' ', sizeof g_sys.installed);
    v = Value("zcsa/installed_languages");
    for (size_t i = 0, n = 0; v != nullptr && v[i] != '\0' && n < sizeof g_sys.installed; ++i)
        if (v[i] != ' ')
            g_sys.installed[n++] = v[i];
    v = Value("zemo/locale_ctype");
    CopyLocale(g_sys.locale, v != nullptr ? v : "C");
    return 0;
}

int32_t kovlcpIgnoreErrors()
{
    return ReadFlag(g_ignoreErrors, "zemo/set_textenv/ignore_errors", 0, 1);
}
int32_t kovlcpCollateWanted()
{
    return ReadFlag(g_collate, "zemo/set_textenv/skip_all", 1, 0);
}
int32_t kovlcpFrontConversion()
{
    return ReadFlag(g_front, "install/codepage/FRONT_CONVERSION", 0, 1);
}
int32_t kovlcpMnlsConversion()
{
    return ReadFlag(g_mnls, "install/codepage/MNLS_CONVERSION", 0, 1);
}

int32_t kovlcpSkipAll()
{
    if (!g_skipAll.read) {
        g_skipAll.read = true;
        const char* v = Value("zemo/set_textenv/skip_all");
        if (v != nullptr)
            g_skipAll.value = std::strtol(v, nullptr, 10) != 0 ? 0 : 1;
    }
    return g_skipAll.value;
}

int32_t kovlcpSetProfileDBCodePage(const char* text)
{
    if (kovlcpGetDBCodePageFunc() != nullptr) {
        std::fprintf(stderr, "kovlcp3: %s\n       :%s\n", "Profile ignored.", "I will wait for RSCP.");
        return 1;
    }
    g_profileDbStored = true;
    if (text != nullptr && strnlenR(text, 4) == 4 && text[0] >= '0' && text[0] <= '9') {
        std::memcpy(g_profileDbCp, text, 4);
        g_profileDbNumeric = true;
    } else {
        std::fprintf(stderr, "kovlcp3: %s\n       :%s\n", "Profile non-numeric. Ignored.", "I will wait for RSCP.");
        g_profileDbNumeric = false;
    }
    return 0;
}

uint32_t kovlcpGetDBCodePage(char* cps, int32_t capacity, uint32_t* count)
{
    if (kovlcpDBCodePageFunc provider = kovlcpGetDBCodePageFunc(); provider != nullptr)
        return provider(cps, capacity, count);
    uint32_t n = 0, rc = RSCPENOOBJ;
    if (g_profileDbStored && g_profileDbNumeric) {
        n = 1;
        rc = RSCPETOOLONG;
        if (capacity > 0 && cps != nullptr) {
            std::memcpy(cps, g_profileDbCp, 4);
            rc = 0;
        }
    }
    if (count != nullptr)
        *count = n;
    return rc;
}

void kovlcpResetTextEnvState()
{
    Reset();
    AbTextArea* a = Area();
    a->language = '\0';
    std::memset(a->codepage, 0, sizeof a->codepage);
    std::memset(a->codepage2, 0, sizeof a->codepage2);
    std::memset(a->locale, 0, sizeof a->locale);
    std::memset(a->user->textCodepage, 0, sizeof a->user->textCodepage);
    std::memset(a->user->textCodepage2, 0, sizeof a->user->textCodepage2);
}
