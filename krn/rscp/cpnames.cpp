// Texts of the converter options and enumerations.
#include "krn/rscp/cpnames.h"

#include "nls/kovstr.h"

namespace {

template <int N>
const char* Pick(const char* const (&texts)[N], int32_t v, const char* other)
{
    return v >= 0 && v < N && texts[v] != nullptr ? texts[v] : other;
}

template <int N, int Size>
const char* PickFormatted(const char* const (&texts)[N], uint32_t v, char (&buffer)[Size], const char* name)
{
    if (v < static_cast<uint32_t>(N) && texts[v] != nullptr)
        return texts[v];
    snprintfR(buffer, Size, "%s(%d)", name, static_cast<int>(v));
    return buffer;
}

}  // namespace

const char* rscpMissName(int32_t v)
{
    static const char* const t[] = {".=stop", "s=substitute", "t=try", "c=copy"};
    return Pick(t, v, "?illigal_rscpmiss");
}
const char* rscpFillName(int32_t v)
{
    static const char* const t[] = {".=never", "0=nulls", "s=spaces", "t=and_trunc_spaces"};
    return Pick(t, v, "?illigal_rscpfill");
}
const char* rscpBrokenName(int32_t v)
{
    static const char* const t[] = {".=stop_finally", "m=like_miss", "r=stop_restartable"};
    return Pick(t, v, "?illigal_rscpbroken");
}
const char* rscpCtrlCodeCvName(int32_t v)
{
    static const char* const t[] = {"i=illegal", "t=try"};
    return Pick(t, v, "?illegal_rscpCtrlCodeCv");
}
const char* rscpKOVOwnChCvName(int32_t v)
{
    static const char* const t[] = {"i=ignore", "t=try"};
    return Pick(t, v, "?illegal_rscpKOVOwnChCv");
}
const char* rscpUseF1Name(int32_t v)
{
    static const char* const t[] = {nullptr, "n=not", "o=only", "e=enforce", "t=try", "c=customizable"};
    return Pick(t, v, "?illegal_useF1");
}
const char* rscpDropName(int32_t v)
{
    static const char* const t[] = {".=stop", "m=like_miss", "r=remove", "s=space"};
    return Pick(t, v, "?illegal_drop");
}
const char* rscpTabKindName(int32_t v)
{
    static const char* const t[] = {"normal_tab", "clustered_tab", "dynprosource_tab", "zemosource_tab"};
    return Pick(t, v, "?tab_kind");
}
const char* rscpDBCPStatusName(int32_t v)
{
    static const char* const t[] = {"AskSPUMG", "Normal", "Migrate"};
    return Pick(t, v, "?DBCPStatus_t");
}
const char* rscpCharsizeFactorName(int32_t v)
{
    static const char* const t[] = {"factor_unknown", "factor_other", "1_to_1", "2_to_2", "1_to_2", "2_to_1"};
    return Pick(t, v, "?charsize_factor_t");
}
const char* rscpContainerKindName(int32_t v)
{
    static const char* const t[] = {
        "textlike",           "D(direct)", "E(direct key)", "I(indirect)", "J(indirect key)", "K(ind.short CD key)",
        "L(ind.long CD key)", "structref", "R(replace)",    "binary"};
    return Pick(t, v, "?container_kind");
}

const char* rscptn_table_name(int32_t index)
{
    static const char* const t[] = {
        "TCP00",   "TCP00A",     "TCP01",      "TCP09",     "TCP0C",   "TCP0D",        "TCPDB",       "TCP0F",
        "TCP0F",   "TCP0F",      "TCP0I",      "TCPSBUILD", "TCPSEG",  "TCPSPTL",      "TCPSPTS",     "TCPSRULE",
        "CPS_RPT", "UMGCCTL",    "UMGCCTL",    "UMGSTAT",   "UMGPMIG", "UMGPMDIC",     "UMGLANGCP",   "UMGLNOCP",
        "UMGSEP",  "UMGSETTING", "UMGCOMCHAR", "UMGSEPCP",  "RFCDES",  "UMGCONTAINER", "UMGSETTINGS", "UMGNTCD6"};
    const uint32_t i = static_cast<uint32_t>(index);
    return i < 32 ? t[i] : "unknown table";
}

const char* rscpCctlErrName(uint32_t v)
{
    static const char* const t[] = {"Row from UMGCCTL is fine",
                                    "Row from UMGCCTL is not available",
                                    "LangFldPos has illegal value",
                                    "LangFldPos has illegal value; table category ignored",
                                    "LangFldPos missing; table category ignored",
                                    "TabCat has illegal value",
                                    "Guess has illegal value"};
    static char buffer[40];
    return PickFormatted(t, v, buffer, "unknown_cctlErrCode");
}

const char* rscpLangByName(uint32_t v)
{
    static const char* const t[] = {"lang_unknown",      "lang_via_defCp", "lang_by_langFld",
                                    "lang_via_inconsCp", "lang_by_vocab",  "lang_by_commonFld",
                                    "lang_by_plugin",    "lang_via_CP",    "lang_by_lateLangFld"};
    static char buffer[30];
    return PickFormatted(t, v, buffer, "unknown_lang_by");
}

namespace {

struct RuleRow {
    uint16_t rule;
    const char* out;
    const char* in;
};
const RuleRow kRules[] = {
    {10, "out_rule_U2h", "in_rule_U2h"},       {11, "out_rule_U4h", "in_rule_U4h"},
    {12, "out_rule_U8_1", "in_rule_U8_1"},     {13, "out_rule_U22h", "in_rule_U22h"},
    {14, "out_rule_U2l", "in_rule_U2l"},       {15, "out_rule_U4l", "in_rule_U4l"},
    {16, "out_rule_U22l", "in_rule_U22l"},     {40, "out_rule_IconA", "in_rule_IconA"},
    {41, "out_rule_IconE", "in_rule_IconE"},   {42, "out_rule_Icon2h", "in_rule_Icon2h"},
    {43, "out_rule_Icon2l", "in_rule_Icon2l"}, {44, "out_rule_IconC", "in_rule_IconC"},
    {50, "out_rule_U8_2", "in_rule_U8_2"},     {51, "out_rule_U8_3", "in_rule_U8_3"},
    {52, "out_rule_U8_4", "in_rule_U8_4"},     {53, "out_rule_UIconh", "in_rule_UIconh"},
    {54, "out_rule_UIconl", "in_rule_UIconl"}, {55, "out_rule_UIcon8", "in_rule_UIcon8"},
    {56, "out_rule_UIconH", "in_rule_UIconH"}, {57, "out_rule_UIconL", "in_rule_UIconL"},
    {68, "out_rule_URange", "in_rule_URange"}, {72, "out_rule_ZRange", "in_rule_ZRange"},
    {71, nullptr, "in_rule_2022_SW"},
};

const char* RuleName(uint16_t rule, bool out, char (&buffer)[30])
{
    for (const RuleRow& r : kRules)
        if (r.rule == rule && (out ? r.out : r.in) != nullptr)
            return out ? r.out : r.in;
    snprintfR(buffer, sizeof buffer, out ? "unknown_out_rule(%d)" : "unknown_in_rule(%d)", static_cast<int>(rule));
    return buffer;
}

}  // namespace

const char* rscpOutRuleName(uint16_t rule)
{
    static char buffer[30];
    return RuleName(rule, true, buffer);
}

const char* rscpInRuleName(uint16_t rule)
{
    static char buffer[30];
    return RuleName(rule, false, buffer);
}

const char* rscpNlsKindName(uint32_t kind)
{
    static const char* const t[40] = {"NLS_not",
                                      "NLS_EUC",
                                      "NLS_JIS",
                                      "NLS_shiftJIS",
                                      "NLS_tradiCh",
                                      "NLS_GBK_Ch",
                                      "NLS_corea",
                                      "NLS_HK_PUA_Ch",
                                      "NLS_HK_U31_Ch",
                                      nullptr,
                                      "NLS_UCS_2h",
                                      "NLS_UCS_4h",
                                      "NLS_UTF_8",
                                      "NLS_UTF_16h",
                                      "NLS_UCS_2l",
                                      "NLS_UCS_4l",
                                      "NLS_UTF_16l",
                                      nullptr,
                                      nullptr,
                                      "NLS_KOV16",
                                      "NLS_GOF_A",
                                      "NLS_GOF_E",
                                      nullptr,
                                      nullptr,
                                      nullptr,
                                      "NLS_2312_80_Ch",
                                      nullptr,
                                      nullptr,
                                      nullptr,
                                      "NLS_18030_Ch",
                                      "NLS_shiftJIS_L1",
                                      nullptr,
                                      nullptr,
                                      nullptr,
                                      "NLS_tradiCh+sJIS_L1",
                                      "NLS_simplCh+sJIS_L1",
                                      "NLS_corea+sJIS_L1",
                                      nullptr,
                                      nullptr,
                                      "NLS_AsianUni"};
    static char buffer[30];
    return PickFormatted(t, kind, buffer, "unknown");
}

const char* rscpMethodName(uint32_t method)
{
    static const char* const t[] = {
        "unknownMeth",    "deactivated",      "direct",         "static",         "tab",
        "l_tab",          "mbconv_tab",       "l_mbconv_tab",   "mbget_tab",      "l_mbget_tab",
        "tab_mbtunnel",   "tab_mbcopy",       "1B_to_1B",       "U2_to_U8",       "U2sw_to_U8",
        "U8_to_U2",       "U8_to_U2sw",       "U4_to_U8",       "U4sw_to_U8",     "U8_to_U4",
        "U8_to_U4sw",     "U6_to_U8",         "U6sw_to_U8",     "U8_to_U6",       "U8_to_U6sw",
        "U2_swap",        "U4_swap",          "mbs16_tab",      "l_mbs16_tab",    "BRUTE_A_U2B",
        "BRUTE_A_U2L",    "BRUTE_U2B_A",      "BRUTE_U2L_A",    "nu16be_get_tab", "l_nu16be_get_tab",
        "nu16le_get_tab", "l_nu16le_get_tab", "ncu16get_tab",   "l_ncu16get_tab", "su16get_tab",
        "l_su16get_tab",  "2022_tab",         "mbconv_2022tab", "tab_i1b",        "tab_i1b_o1b",
        "tab_i1b_o1s",    "tab_o1b",          "tab_o1s",        "A7_to_U6",       "A7_to_U6sw"};
    static char buffer[30];
    return PickFormatted(t, method, buffer, "unknown");
}

int32_t rscpDropOfChar(char c)
{
    if (c == '.')
        return 0;
    if (c == 'R' || c == 'r')
        return 2;
    if (c == 'S' || c == 's')
        return 3;
    return 1;
}
