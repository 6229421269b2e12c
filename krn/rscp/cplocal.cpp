// The process's local code page (what the LocalCodePage hook writes by
// default), set from the environment variable KOV_CODEPAGE and from the
// profile, and the provider of the database code pages, which the cache
// start-up registers.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "krn/rscp/cpcacheint.h"
#include "nls/kovstr.h"

namespace {

const char kModule[] = "@(#) $Id: kovlcp#1 $";

char g_localCodePage[4] = {'1', '1', '0', '0'};
bool g_fromEnvironment = false, g_fromProfile = false;
bool g_settingsTaken = false;
kovlcpDBCodePageFunc g_dbCodePages = nullptr;

void Mismatch(const char* second)
{
    std::fprintf(stderr, "kovlcp2: %s\n       :%s\n", "Mismatching value of environment KOV_CODEPAGE", second);
}

// Four decimal digits at the start of a setting's value.
bool CodePageValue(const char* v)
{
    for (int i = 0; i < 4; ++i)
        if (v[i] < '0' || v[i] > '9')
            return false;
    return true;
}

}  // namespace

void kovlcpGetLocalCodePage(char* cp)
{
    std::memcpy(cp, g_localCodePage, 4);
}

int32_t kovlcpSetLocalCodePageFromEnv(const char* cp)
{
    if (g_fromProfile) {
        if (std::memcmp(cp, g_localCodePage, 4) != 0)
            Mismatch("ignored because of KOV profile.");
        return 1;
    }
    std::memcpy(g_localCodePage, cp, 4);
    g_fromEnvironment = true;
    return 0;
}

int32_t kovlcpSetLocalCodePageFromProfile(const char* cp)
{
    if (g_fromEnvironment && std::memcmp(cp, g_localCodePage, 4) != 0)
        Mismatch("overwriten with value from KOV profile.");
    std::memcpy(g_localCodePage, cp, 4);
    g_fromProfile = true;
    return 0;
}

void kovlcpTakeLocalCodePageSettings()
{
    if (g_settingsTaken)
        return;
    g_settingsTaken = true;
    struct Setting {
        const char* name;
        const char* value;
        const char* kind;
        int32_t (*take)(const char*);
    };
    const Setting settings[] = {
        {"KOV_CODEPAGE", std::getenv("KOV_CODEPAGE"), "Environment variable", kovlcpSetLocalCodePageFromEnv},
        {"install/codepage/appl_server", rscph_HookTable.GetParameter("install/codepage/appl_server"),
         "Profile parameter", kovlcpSetLocalCodePageFromProfile},
    };
    for (const Setting& s : settings) {
        if (s.value == nullptr || std::strncmp(s.value, "kovparam.c", 10) == 0)
            continue;
        if (strnlenR(s.value, 4) == 4 && CodePageValue(s.value))
            s.take(s.value);
        else
            std::fprintf(stderr, "%s '%s' value '%.60s' format error.\n", s.kind, s.name, s.value);
    }
}

void kovlcpResetLocalCodePage()
{
    std::memcpy(g_localCodePage, "1100", 4);
    g_fromEnvironment = g_fromProfile = g_settingsTaken = false;
}

int32_t kovlcpSetDBCodePageFunc(kovlcpDBCodePageFunc f)
{
    g_dbCodePages = f;
    return 0;
}

kovlcpDBCodePageFunc kovlcpGetDBCodePageFunc()
{
    return g_dbCodePages;
}

uint32_t rscpGetDBCodePages(char* cps, int32_t capacity, uint32_t* count)
{
    static uint32_t generation = 0xFFFFFFFFu;
    if (rscphTracing())
        rscph_HookTable.TraceEnter("rscpGetDBCodePages", -1, " ", 1, nullptr);
    rscpCcc_t* c = rscpmp;
    if (c == nullptr) {
        const uint32_t rc = rscpe__error(RSCPEBUSY, 'C', RSCP_ALL_ERRORS, kModule, 3, 2025,
                                         "Shared mem CCC not yet initialized", "CP6", "CCC not yet initialized", 23,
                                         nullptr, 0);
        if (count != nullptr)
            *count = 0;
        if (rscphTracing())
            rscph_HookTable.TraceExit(static_cast<int32_t>(rc), "CCC not init", 12, nullptr);
        return rc;
    }
    const uint32_t check = rscprc__reorg_check(&c, &generation);
    if (check != 0)
        return check;
    int32_t n = c->dbCpCount > RSCP_TCPDB_MAX ? RSCP_TCPDB_MAX : c->dbCpCount;
    char text[40];
    snprintfR(text, sizeof text, "%ld code pages", static_cast<long>(n));
    uint32_t rc = 0;
    if (capacity < n) {
        rc = rscpe__error(RSCPETOOLONG, 'C', RSCP_ALL_ERRORS, kModule, 4, 2049, "Too many code pages for output", "CP8",
                          text, -1, "&", 1);
        n = capacity < 0 ? 0 : capacity;
    }
    if (n > 0 && cps != nullptr)
        std::memcpy(cps, c->dbCp, 4 * static_cast<size_t>(n));
    if (count != nullptr)
        *count = static_cast<uint32_t>(n);
    if (rscphTracing())
        rscph_HookTable.TraceExit(static_cast<int32_t>(rc), text, -1, nullptr);
    return rc;
}
