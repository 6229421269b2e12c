// Text environment, language map, locale set-up and the RFC partner lists:
// locale setting through a recording SetLocale hook, the code page check with
// a full database list, the throttle of tolerated errors, the language data
// of a cache built from "TCP0C.DAT", and partner lists that lie about their
// length.
#include <clocale>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "cpcache_fixture.h"
#include "flat/kovparam.h"
#include "krn/rscp/cplang.h"
#include "krn/rscp/cptextenv.h"

namespace {

using cpcache_test::CacheTest;
using cpcache_test::g_out1;
using cpcache_test::WriteFile;

// ---- a recording SetLocale hook and profile parameters ------------------------------------

std::vector<std::pair<int, std::string>> g_setCalls;
std::map<int, std::string> g_current;
std::set<std::string> g_refused;  // as LC_CTYPE

char* RecordingSetLocale(int32_t category, const char* locale)
{
    static std::string answer;
    if (locale == nullptr) {
        answer = g_current.count(category) ? g_current[category] : "C";
        return answer.data();
    }
    g_setCalls.emplace_back(category, locale);
    if (category == LC_CTYPE && g_refused.count(locale))
        return nullptr;
    g_current[category] = locale;
    answer = locale;
    return answer.data();
}

std::map<std::string, std::string> g_profile;
std::map<std::string, KovParamRecord> g_records;

KovParamRecord* ProfileLookup(const char* name)
{
    auto it = g_profile.find(name);
    if (it == g_profile.end())
        return nullptr;
    KovParamRecord& r = g_records[name];
    r = KovParamRecord{};
    r.name = it->first.c_str();
    r.level11 = r.level34 = r.effective = it->second.data();
    return &r;
}

std::vector<std::string> g_syslog;
void Syslog(int32_t number, const char* msgid, const char* block)
{
    g_syslog.push_back(std::to_string(number) + " " + std::string(msgid, 3) + " " + std::string(block, 53));
}

class LangTest : public CacheTest {
protected:
    void SetUp() override
    {
        CacheTest::SetUp();
        g_setCalls.clear();
        g_current.clear();
        g_refused.clear();
        g_profile.clear();
        g_syslog.clear();
        rscph_SetSetLocaleFunc(RecordingSetLocale);
        rscph_SetSyslogMsgFunc(Syslog);
        kovparam_set_lookup_hook(ProfileLookup);
        kovlcpResetTextEnvState();
        rscplocResetState();
    }
    void TearDown() override
    {
        kovparam_set_lookup_hook(nullptr);
        rscph_SetSetLocaleFunc(nullptr);
        rscph_SetSyslogMsgFunc(nullptr);
        kovlcpResetTextEnvState();
        CacheTest::TearDown();
    }
    static void SetDbList(const std::vector<std::string>& cps)
    {
        rscpmp->dbCpCount = uint16_t(cps.size());
        for (size_t i = 0; i < cps.size(); ++i)
            std::memcpy(rscpmp->dbCp[i], cps[i].data(), 4);
    }
    static std::string TextEnvCp()
    {
        char cp[4];
        kovclcl_cur_lang_cp_loc(nullptr, cp, nullptr, nullptr);
        return std::string(cp, 4);
    }
    static int Calls(int category)
    {
        int n = 0;
        for (const auto& c : g_setCalls)
            n += c.first == category;
        return n;
    }
};

kovlcpTextEnv_t Record(char language, const char* cp, const char* locale)
{
    kovlcpTextEnv_t r{};
    r.language = language;
    std::memcpy(r.codePage, cp, 4);
    std::strncpy(r.locale, locale, sizeof r.locale - 1);
    return r;
}

// ---- text environment -------------------------------------------------------------------

TEST_F(LangTest, SettingTheTextEnvironment)
{
    ASSERT_EQ(rscpi_init(RSCP_ALL_ERRORS), 0u);
    SetDbList({"1100", "8000"});
    EXPECT_EQ(kovlcpSetTextEnv('D', "", "1100", "de_DE"), 2);
    EXPECT_EQ(kovlcpSetTextEnv('D', "1100", "1100", nullptr), 2);
    EXPECT_TRUE(g_setCalls.empty());

    EXPECT_EQ(kovlcpSetTextEnv('D', "1100", "1100", "de_DE"), 0);
    EXPECT_EQ(TextEnvCp(), "1100");
    EXPECT_EQ(Calls(LC_CTYPE), 1);
    EXPECT_EQ(g_current[LC_NUMERIC], "C");
    const kovlcpTextEnv_t de = Record('D', "1100", "de_DE");
    EXPECT_EQ(kovlcpTextEnvMatches(&de), 1);
    g_setCalls.clear();
    EXPECT_EQ(kovlcpSetTextEnvTolerant(&de), 0);
    EXPECT_TRUE(g_setCalls.empty());  // already in force

    // A refused locale changes nothing, the collation locale included.
    g_refused.insert("xx_XX");
    g_current[LC_CTYPE] = "de_DE";
    const std::string collate = g_current[LC_COLLATE];
    EXPECT_EQ(kovlcpSetTextEnv('X', "8000", "8000", "xx_XX"), 1);
    EXPECT_EQ(TextEnvCp(), "1100");
    EXPECT_EQ(g_current[LC_COLLATE], collate);

    // A code page outside a full database list: five more questions, each with
    // the list twice in the buffer, then 4.
    std::vector<std::string> fifty;
    for (int i = 0; i < 50; ++i)
        fifty.push_back(std::to_string(1000 + i));
    SetDbList(fifty);
    g_syslog.clear();
    EXPECT_EQ(kovlcpSetTextEnv('J', "8000", "8000", "ja_JP"), 4);
    EXPECT_TRUE(g_syslog.empty());  // the list was stable
    SetDbList({});
    EXPECT_EQ(kovlcpSetTextEnv('J', "8000", "8000", "ja_JP"), 4);
    ASSERT_GE(g_syslog.size(), 2u);
    EXPECT_EQ(g_syslog[0].substr(0, 42), "107 CPL J&8000&code page list empty&      ");
    EXPECT_EQ(g_syslog[1].substr(0, 8), "107 CPK ");

    // With option 27 off (an option of the start-up) the locale is never set.
    rscpf_finish(RSCP_ALL_ERRORS);
    ASSERT_EQ(rscpso_set_option(27, 0, 0), 0u);
    g_setCalls.clear();
    const int32_t rc = kovlcpSetTextEnv('J', "8000", "8000", nullptr);
    rscpso_set_option(27, 1, 0);
    EXPECT_EQ(rc, 0);
    ASSERT_EQ(g_setCalls.size(), 1u);
    EXPECT_EQ(g_setCalls[0].first, LC_NUMERIC);
    EXPECT_EQ(TextEnvCp(), "8000");
}

TEST_F(LangTest, TolerantSetsReportAtAFallingRate)
{
    ASSERT_EQ(rscpi_init(RSCP_ALL_ERRORS), 0u);
    g_profile["zemo/set_textenv/ignore_errors"] = "1";
    g_refused.insert("bad");
    const kovlcpTextEnv_t bad = Record('E', "1100", "bad");
    std::vector<int> reported;
    for (int i = 1; i <= 200; ++i) {
        g_out1.clear();
        ASSERT_EQ(kovlcpSetTextEnvTolerant(&bad), 1);
        for (const std::string& l : g_out1)
            if (l.find("TEXTENV ZEMO error ignored") != std::string::npos)
                reported.push_back(i);
    }
    EXPECT_EQ(reported, (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 28, 49, 70, 121, 172}));
}

TEST_F(LangTest, GettersAndProfileParameters)
{
    char l = 0, cp[4];
    EXPECT_EQ(kovlcpGetSystemLanguage(&l), RSCPENOOBJ);
    EXPECT_EQ(l, 'E');
    EXPECT_EQ(kovlcpGetSecondLanguage(&l), RSCPENOOBJ);
    EXPECT_EQ(l, 'D');
    g_profile = {{"zcsa/system_language", "F"},
                 {"zcsa/second_language", ""},
                 {"zcsa/installed_languages", " F E  J"},
                 {"zemo/locale_ctype", "fr_FR"},
                 {"install/codepage/appl_server", "kovparam.c: no value"}};
    g_profile["install/codepage/db/transp"] = "x";
    ASSERT_EQ(kovlcpReadInstallParameters(), 0);
    EXPECT_EQ(kovlcpGetSystemLanguage(&l), 0u);
    EXPECT_EQ(l, 'F');
    EXPECT_EQ(kovlcpGetSecondLanguage(&l), 0u);
    EXPECT_EQ(l, 'E');
    EXPECT_EQ(rscpGetCodePageForLanguage(cp), RSCPENOOBJ);  // nothing set: the local code page
    EXPECT_EQ(std::string(cp, 4), "1100");
    EXPECT_EQ(kovlcpCompareTextEnv() & 4, 4);
    EXPECT_EQ(kovlcpIsLanguageInstalled('E'), 1);
    EXPECT_EQ(kovlcpIsLanguageInstalled('J'), 0);
    EXPECT_EQ(kovlcpIsLanguageInListA('E'), 0);

    kovlcpDBCodePageFunc provider = kovlcpGetDBCodePageFunc();
    kovlcpSetDBCodePageFunc(nullptr);
    uint32_t count = 9;
    char cps[8];
    EXPECT_EQ(kovlcpGetDBCodePage(cps, 2, &count), RSCPENOOBJ);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(kovlcpSetProfileDBCodePage("8000x"), 0);
    EXPECT_EQ(kovlcpGetDBCodePage(cps, 0, &count), RSCPETOOLONG);
    EXPECT_EQ(kovlcpGetDBCodePage(cps, 2, &count), 0u);
    EXPECT_EQ(std::string(cps, 4), "8000");
    kovlcpSetDBCodePageFunc(provider);
}

// ---- language map and processed languages -------------------------------------------------

TEST_F(LangTest, LanguageMapLookups)
{
    ASSERT_EQ(rscpi_init(RSCP_ALL_ERRORS), 0u);
    char cp[4], locale[256];
    const char unbuiltJ = 'J';
    rscpe_clear_errors();
    std::memcpy(cp, "????", 4);
    EXPECT_EQ(rscpiGetMBCodePageForLanguage(&unbuiltJ, cp, locale, 1), RSCPEBUSY);
    EXPECT_EQ(std::string(cp, 4), "????");

    rscpLangData_t& l = rscpmp->lang;
    l.state = 2;
    rscpmp->mbCpCount = 1;
    std::memcpy(l.mbCp[0], "8000", 4);
    l.slots['E' - 0x20].cpIndex = 1;
    l.slots['#' - 0x20].cpIndex = 1;
    l.slots['Q' - 0x20].cpIndex = 2;
    const char e = 'E', q = 'Q', umlaut = char(0xC4), tab = '\t', x = 'X';
    EXPECT_EQ(rscpGetMBCodePageForLanguage(&e, cp, locale), 0u);
    EXPECT_EQ(std::string(cp, 4), "8000");
    EXPECT_STREQ(locale, "");
    EXPECT_EQ(rscpGetMBCodePageForLanguage(&umlaut, cp, nullptr), 0u);
    EXPECT_EQ(rscpGetMBCodePageForLanguage(&q, cp, nullptr), RSCPETOOLONG);
    EXPECT_EQ(LastText(), "langMBCPMap invalid");
    EXPECT_EQ(std::string(cp, 4), "1100");  // the text environment's code page
    EXPECT_EQ(rscpGetMBCodePageForLanguage(&tab, cp, nullptr), RSCPETOOLONG);
    EXPECT_EQ(LastText(), "langMBCPMap: illegal language");
    EXPECT_EQ(rscpGetMBCodePageForLanguage(&x, cp, nullptr), RSCPETOOLONG);
    EXPECT_EQ(LastText(), "langMBCPMap: no c.p. assigned");

    char field[5];
    l.instState = 3;  // not available: "E"
    EXPECT_EQ(rscpGetProcessedLanguages(field, 5), 0u);
    EXPECT_EQ(std::string(field, 5), "E    ");
    EXPECT_EQ(rscpIsProcessedLanguage(&e), 1);
    uint32_t offset = 0;
    ASSERT_EQ(rscpsc__store_cache07("DEF", 3, &offset, nullptr), 0u);
    l.instState = 2;
    l.instOffset = offset;
    l.instLength = 3;
    EXPECT_EQ(rscpGetProcessedLanguages(field, 2), RSCPETOOLONG);
    EXPECT_EQ(std::string(field, 2), "DE");
    EXPECT_EQ(rscpGetProcessedLanguagesLength(), 3u);
    ASSERT_EQ(rscpsc__store_cache07("DE ", 3, &offset, nullptr), 0u);
    l.instOffset = offset;
    EXPECT_EQ(rscpGetProcessedLanguages(field, 2), 0u);
    EXPECT_EQ(rscpIsProcessedLanguage(&e), 1);
    EXPECT_EQ(rscpIsProcessedLanguage(&q), 0);
    char def = 0;
    EXPECT_EQ(rscpGetDefaultLanguage(&def), RSCPENOOBJ);
    EXPECT_EQ(def, 'E');
}

// ---- locale set-up and the lists built from "TCP0C.DAT" ------------------------------------

const char kTcp0c[] = ";TCP0C\n"
                      "LINUX;D;DE;m;1100;x;de_DE.ISO8859-1\n"
                      "LINUX;E;US;m;1100;x;en_US.ISO8859-1\n"
                      "LINUX;J;JP;m;8000;x;ja_JP.SJIS\n"
                      "LINUX;1;CN;m;8400;x;zh_CN.GBK\n";

TEST_F(LangTest, ListsBuiltFromTheLocaleRecords)
{
    WriteFile("TCP0C.DAT", kTcp0c);
    ASSERT_EQ(rscpi_init(RSCP_ALL_ERRORS), 0u);
    g_profile["zcsa/installed_languages"] = "DEJ";
    g_profile["rscp/rscploc/oldcache"] = "y";
    char cp[4], locale[256];
    EXPECT_EQ(rscpLocaleForLanguage('K', 2, cp, locale, RSCP_ALL_ERRORS, 0), 0u);
    EXPECT_EQ(std::string(cp, 4), "0000");
    EXPECT_STREQ(locale, "C");

    SetDbList({"1100", "8000"});
    uint32_t size = 0;
    ASSERT_EQ(rscpLCListGetSize(&size), 0u);
    std::string list(size, '\0');
    ASSERT_EQ(rscpLCListGet(list.data(), int32_t(size)), 0u);
    // "1100" for D and E (set), "8000" for J (set), "8400" for 1 (from the records only).
    EXPECT_EQ(list, std::string("\x03"
                                "1100\x02"
                                "DE"
                                "8000\x01"
                                "J"
                                "8400\x01"
                                "1\0",
                                2 + 3 * 5 + 4));
    EXPECT_EQ(rscpLCListGet(list.data(), int32_t(size) - 1), RSCPETOOLONG);

    const char j = 'J', one = '1';
    EXPECT_EQ(rscpGetMBCodePageForLanguage(&j, cp, locale), 0u);
    EXPECT_EQ(std::string(cp, 4), "8000");
    EXPECT_STREQ(locale, "ja_JP.SJIS");
    EXPECT_EQ(rscpGetMBCodePageForLanguage(&one, cp, locale), 0u);
    EXPECT_EQ(std::string(cp, 4), "8400");
    EXPECT_EQ(rscpGetProcessedLanguagesLength(), 3u);
    // The saved text environment was set again after the build.
    char l = 0;
    kovclcl_cur_lang_cp_loc(&l, nullptr, nullptr, nullptr);
    EXPECT_NE(l, 'J');

    // The migration map of the database code pages.
    rscpLangEntry_t langs[8];
    char cps[8], main[4];
    uint32_t count = 0, langCount = 0;
    ASSERT_EQ(GetDBMigrateCodePagesLangs9(main, cps, 2, &count, langs, 8, &langCount, nullptr, 1), 0u);
    EXPECT_EQ(count, 2u);
    ASSERT_EQ(langCount, 3u);
    EXPECT_EQ(langs[2].language, 'J');
    EXPECT_EQ(langs[2].page, 1);
    EXPECT_EQ(std::string(main, 4), "1100");
    EXPECT_TRUE(rscpmp->lang.dbmcpl[0].present);
    EXPECT_EQ(GetDBMigrateCodePagesLangs9(main, cps, 2, &count, langs, 300, &langCount, nullptr, 1), RSCPEINVAL);

    // A set with the old-cache switch on is remembered.
    ASSERT_EQ(rscpSetLanguage('J', 1), 0u);
    g_setCalls.clear();
    EXPECT_EQ(rscpSetLanguage('J', 1), 0u);
    EXPECT_TRUE(g_setCalls.empty());
}

TEST_F(LangTest, PartnerListsAndHostileInput)
{
    ASSERT_EQ(rscpi_init(RSCP_ALL_ERRORS), 0u);
    char cp[4];
    EXPECT_EQ(rscpLCgetCtry(cp, 'J', "0120", "SID"), RSCPENOCONV);
    EXPECT_EQ(rscpLCgetCtry(cp, 'J', "1100", "SID"), 0u);
    EXPECT_EQ(std::string(cp, 4), "8000");
    EXPECT_EQ(rscpLCgetCtry(cp, 'G', "0120", "SID"), 0u);
    EXPECT_EQ(std::string(cp, 4), "0700");
    EXPECT_EQ(rscpLCgetCtry(cp, 'x', "1100", "SID"), RSCPEINVAL);
    EXPECT_EQ(rscpLCgetCtry(cp, 'D', "6123", "SID"), 0u);
    EXPECT_EQ(std::string(cp, 4), "6123");

    EXPECT_EQ(readLClistA(cp, "A1100DE$8000J$", 'J'), RSCPEINVAL);
    EXPECT_EQ(readLClistA(cp, "A1100DE$8000J$$", 'J'), 0u);
    EXPECT_EQ(std::string(cp, 4), "8000");
    EXPECT_EQ(readLClistA(cp, "A1100DE$8000J$$", 'K'), RSCPENOCONV);
    EXPECT_EQ(readLClistA(cp, "A11$$", 'K'), RSCPEINVAL);
    EXPECT_EQ(rscpLCgetCdst(cp, "A1100-DE$$", 'E', "0120", "dest"), 0u);
    EXPECT_EQ(rscpLCgetCdst(cp, "B1100DE$$", 'E', "0120", "dest"), RSCPEINVAL);
    EXPECT_EQ(rscpLCgetCdst(cp, ("A-" + std::string(300, 'D') + "$$").c_str(), 'E', "0120", "dest"), RSCPEINVAL);

    EXPECT_EQ(rscpLCgetC(cp,
                         "\x01"
                         "8000\x01"
                         "J",
                         ' ', "1100", "SID"),
              0u);
    EXPECT_EQ(std::string(cp, 4), "1100");
    EXPECT_EQ(rscpLCgetC(cp,
                         "\x02"
                         "8000\x01"
                         "J"
                         "1401\x02"
                         "0Q",
                         'Q', "1100", "SID"),
              0u);
    EXPECT_EQ(std::string(cp, 4), "1401");
    EXPECT_EQ(rscpLCgetC(cp, "\x33", 'Q', "1100", "SID"), RSCPEINVAL);
    // A list whose count says 50 but which ends after one entry is read only
    // to its end (ASan would see more).
    const std::string shortList("\x32"
                                "8000\x05"
                                "J",
                                7);
    std::vector<char> exact(shortList.begin(), shortList.end());
    exact.push_back('\0');
    EXPECT_EQ(rscpLCgetC(cp, exact.data(), 'Q', "1100", "SID"), 0u);
    EXPECT_EQ(std::string(cp, 4), "1100");
    EXPECT_EQ(legacyInfoGet("SID"), nullptr);
}

}  // namespace
