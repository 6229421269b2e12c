// Initialisation of the profile-parameter library: the compiled-in defaults,
// the values the program supplies, the profiles, the command-line values,
// resolution and the final checks.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "flat/kovparam_int.h"
#include "krn/runt/oscheck.h"
#include "nls/kovstr.h"

namespace {

struct Pseudo {
    const char* name;
    char* buffer;
};

// The records whose value is a buffer the library keeps up to date.
char* PseudoBuffer(const char* name)
{
    const Pseudo table[] = {
        {"__KOVPROFILE_n_DEFAULT", g_kp.nDefault},
        {"__KOVPROFILE_n_PF_FILE", g_kp.nPfFile},
        {"__KOVPROFILE_CALLS", g_kp.calls},
        {"__KOVPROFILE_CALL_LAST_NAME", g_kp.callLastName},
        {"__KOVPROFILE_MALLOCS", g_kp.mallocs},
        {"__KOVPROFILE_DEFAULT", g_kp.defaultPath},
        {"KOVPROFILE_IN_EFFECT", g_kp.profileInEffect},
        {"KOVSYSTEMNAME", g_kp.sysname},
        {"KOVLOCALHOST", g_kp.localHost},
        {"KOVLOCALHOSTFULL", g_kp.localHostFull},
        {"KOVARGC", g_kp.argcText},
        {"KOVARGV", g_kp.argvText},
        {"j2ee/phys_memsize", g_kp.physMemsize},
        {"j2ee/cpu_count", g_kp.cpuCount},
    };
    for (const Pseudo& p : table)
        if (strcmp(p.name, name) == 0)
            return p.buffer;
    return nullptr;
}

const char* DefaultValue(const KovParamDefault& row)
{
    if (!g_kp.env700)
        for (const KovParamDefault* o = kKovParamOverrides; o->name; ++o)
            if (strcmp(o->name, row.name) == 0)
                return o->value;
    return row.value;
}

// Allocates the record array and fills one record per defaults row, sorted
// by name.  False (reported) when memory is short.
bool BuildRecords()
{
    if (g_kp.records)
        g_kp.oldArrays.push_back(g_kp.records);
    g_kp.records = nullptr;
    g_kp.count = g_kp.capacity = 0;
    g_kp.poolPos = g_kp.poolEnd = nullptr;

    size_t rows = 0;
    while (kKovParamDefaults[rows].name)
        ++rows;
    size_t capacity = rows + g_kp.programPairs.size();
    auto* records = static_cast<KovParamRecord*>(calloc(capacity, sizeof(KovParamRecord)));
    if (!records || !KovParamPoolReserve(kKovParamChunk)) {
        free(records);
        perror("kovparam(3): malloc");
        return false;
    }
    g_kp.records = records;
    g_kp.capacity = static_cast<int>(capacity);
    for (size_t i = 0; i < rows; ++i) {
        const KovParamDefault& row = kKovParamDefaults[i];
        char* value = PseudoBuffer(row.name);
        if (!value)
            value = KovParamPoolCopy(DefaultValue(row));
        if (!value)
            value = const_cast<char*>("");
        records[i] = KovParamRecord{row.name, value, value, value, value, value, value,
                                    0,        value, value, value, value, 0,     value};
    }
    g_kp.count = static_cast<int>(rows);
    KovParamCountMalloc(static_cast<long>(capacity * sizeof(KovParamRecord)));
    std::sort(records, records + rows,
              [](const KovParamRecord& a, const KovParamRecord& b) { return strcmp(a.name, b.name) < 0; });
    return true;
}

void TakeSystemNumberFromEnvironment()
{
    if (g_kp.sysnrFixed || strcmp(g_kp.sysnr, "??") != 0)
        return;
    const char* env = getenv("KOVSYSTEM");
    if (env && strlen(env) == 2 && isdigit(static_cast<unsigned char>(env[0])) &&
        isdigit(static_cast<unsigned char>(env[1]))) {
        g_kp.sysnr[0] = env[0];
        g_kp.sysnr[1] = env[1];
        return;
    }
    if (env)
        KovParamMsg("kovparam(9): environment variable $%s format error.\n", "KOVSYSTEM");
    g_kp.sysnr[0] = g_kp.sysnr[1] = '0';
}

// The last command-line pair that names the instance profile, or null.
KovParamState::Pair* ProfilePair()
{
    KovParamState::Pair* pair = nullptr;
    for (int i = 0; i < g_kp.cmdPairCount; ++i)
        if (strcmp(g_kp.cmdPairs[i].param, "KOVPROFILE") == 0)
            pair = &g_kp.cmdPairs[i];
    return pair;
}

void ReadInstanceProfile()
{
    KovParamState::Pair* pair = ProfilePair();
    char* name = pair ? pair->value : nullptr;
    if (name) {
        size_t len = strlen(name);
        while (len > 0 && static_cast<unsigned char>(name[len - 1]) < 32)
            name[--len] = '\0';
    }
    if (!name || !*name) {
        if (g_kp.messages)
            KovParamMsg("kovparam(1c): No Profile used.\n");
        return;
    }
    KovParamReadInstanceProfile(g_kp.mergeFile[0] ? g_kp.mergeFile : name, name);
}

void ApplyProgramPairs()
{
    for (const auto& pair : g_kp.programPairs) {
        KovParamRecord* rec = KovParamFind(pair.name);
        if (!rec) {
            rec = KovParamInsert(pair.name, 1);
            if (rec)
                kovparam_set_level(rec, pair.value, 21);
            continue;
        }
        kovparam_set_level(rec, pair.value, 12);
        if (!g_kp.programNoOverride)
            kovparam_set_level(rec, pair.value, 31);
    }
}

// Instances whose name begins with "J" read the properties file of their
// own type.
void AdjustPropertiesFile()
{
    KovParamRecord* inst = KovParamFind("INSTANCE_NAME");
    if (!inst || !inst->level32 || (inst->level32[0] != 'J' && inst->level32[0] != 'j'))
        return;
    if (KovParamRecord* rec = KovParamFind(kKovParamPropertiesName))
        if (char* value = KovParamPoolCopy(kKovParamPropertiesJava))
            kovparam_set_level(rec, value, 11);
}

void CheckRecords()
{
    for (int i = 1; i < g_kp.count; ++i) {
        if (strcmp(g_kp.records[i - 1].name, g_kp.records[i].name) == 0) {
            KovParamMsg("kovparam: Duplicate Profile Parameter \"%s\"\n", g_kp.records[i].name);
            break;
        }
    }
    const char* sysname = "KOVSYSTEMNAME";
    KovParamRecord* rec = KovParamFind(sysname);
    if (!rec) {
        KovParamMsg("kovparam: parameter \"%s\" not found.\n", sysname);
    } else if (!rec->level34) {
        // An empty name is a value, as it is to the substitution: a start
        // without profile is reported once, as neither in profile nor
        // command line, not a second time here.
        KovParamMsg("kovparam: parameter \"%s\" empty.\n", sysname);
    } else {
        const char* levels[] = {rec->level33, rec->level32, rec->level31, rec->level21, rec->level11};
        for (const char* v : levels)
            if (v && strcmp(v, rec->level34) != 0)
                KovParamMsg("kovparam: \"%s\": \"%s\" <--> \"%s\"\n", sysname, v, rec->level34);
    }
    rec = KovParamFind("DIR_PROFILE");
    if (rec && rec->level21 && rec->level11 && strcmp(rec->level21, rec->level11) != 0)
        KovParamMsg("kovparam: \"%s\": must not be in \"%s\"\n", "DIR_PROFILE", g_kp.defaultPath);
}

}  // namespace

void KovParamReadEnvFlags()
{
    g_kp.env700 = getenv("KOVPARAM700") != nullptr;
    g_kp.envMsid = getenv("KOVPARAMMSID") != nullptr;
}

void kovparam_init()
{
    if (!g_kp.pending)
        return;
    g_kp.pending = false;
    if (!g_kp.cmdlineRan) {
        if (g_kp.messages)
            KovParamMsg("kovparam: kovargv(argc, argv) has not been called!\n");
        KovParamReadEnvFlags();
    }
    // What a profile of an earlier run took is forgotten; what the command
    // line gave stays.
    if (!g_kp.sysnrFromCmdline) {
        g_kp.sysnrFixed = false;
        strcpy_sR(g_kp.sysnr, sizeof g_kp.sysnr, "??");
    }
    if (!g_kp.sysnameFromCmdline) {
        g_kp.sysnameTaken = false;
        g_kp.sysname[0] = '\0';
    }
    g_kp.defaultPath[0] = g_kp.profileInEffect[0] = '\0';
    strcpy_sR(g_kp.nDefault, sizeof g_kp.nDefault, "00000");
    strcpy_sR(g_kp.nPfFile, sizeof g_kp.nPfFile, "00000");

    BuildRecords();
    KovParamResolveAll(13);
    for (int i = 0; i < g_kp.cmdPairCount; ++i)
        if (KovParamRecord* rec = KovParamFind(g_kp.cmdPairs[i].param))
            kovparam_set_level(rec, g_kp.cmdPairs[i].value, 32);
    TakeSystemNumberFromEnvironment();
    ReadInstanceProfile();
    if (!g_kp.sysnameTaken && g_kp.messages)
        KovParamMsg("kovparam: KOVSYSTEMNAME neither in Profile nor in Commandline\n");
    // Values the default profile changed must not be hidden behind what was
    // resolved early to find it.
    if (KovParamReadDefaultProfile() > 0)
        KovParamUnresolve3();
    g_kp.memCheckResult = LINCheckMemorySettings();
    AdjustPropertiesFile();
    ApplyProgramPairs();
    KovParamResolveAll(23);
    KovParamResolveAll(33);
    CheckRecords();
}

int kovparam_set_program_defaults(const KovParamPair* pairs, int noOverride)
{
    if (!g_kp.pending)
        return -1;
    if (g_kp.cmdlineRan)
        return -2;
    if (g_kp.programPairsGiven)
        return -3;
    std::vector<KovParamState::ProgramPair> copies;
    for (const KovParamPair* p = pairs; p && p->name && p->value; ++p) {
        char* name = strdup(p->name);
        char* value = strdup(p->value);
        if (!name || !value) {
            free(name);
            free(value);
            for (auto& c : copies) {
                free(c.name);
                free(c.value);
            }
            return -4;
        }
        copies.push_back({name, value});
    }
    g_kp.programPairs = std::move(copies);
    g_kp.programPairsGiven = true;
    g_kp.programNoOverride = noOverride != 0;
    return 0;
}

void kovparam_reinit_with_profile(const char* profile)
{
    if (profile) {
        KovParamState::Pair* pair = ProfilePair();
        // Without a profile from the command line the name becomes one, or
        // it would not be read at all.
        if (!pair && g_kp.cmdPairCount < kKovParamMaxCmdPairs) {
            pair = &g_kp.cmdPairs[g_kp.cmdPairCount++];
            pair->param = "KOVPROFILE";
            pair->value = nullptr;
        }
        if (pair) {
            if (char* copy = strdup(profile)) {
                free(pair->value);
                pair->value = copy;
            }
        }
    }
    g_kp.mergeFile[0] = '\0';
    g_kp.pending = true;
    kovparam_init();
}

int LINCheckMemorySettings()
{
    int rc = LINCheckResources();
    long swapMB = 0;
    long tmpfsMB = 0;
    if (LINGetMemorySizes(&swapMB, &tmpfsMB) == 0)
        rc = -1;
    bool sysname = g_kp.sysname[0] != '\0';
    KovParamRecord* impl = KovParamFind("es/implementation");
    KovParamRecord* mem = KovParamFind("PHYS_MEMSIZE");
    if (sysname && impl && impl->level32 && strcmp(impl->level32, "map") == 0 && mem) {
        static const char* const names[] = {
            "em/max_size_MB", "em/initial_size_MB", "rdisp/ROLL_SHM", "rdisp/ROLL_MAXFS",    "rdisp/PG_SHM",
            "rdisp/PG_MAXFS", "ztta/roll_first",    "ztta/roll_area", "ztta/roll_extension", "em/blocksize_KB",
        };
        for (const char* name : names) {
            char value[32];
            KovParamRecord* rec = KovParamFind(name);
            if (rec && LINComputeParameter(mem->level11, mem->level32, name, value, sizeof value) == 1)
                if (char* copy = KovParamPoolCopy(value))
                    kovparam_set_level(rec, copy, 11);
        }
    }
    const char* ask = getenv("LINCHECKOS");
    bool report = !sysname && ask && strtol(ask, nullptr, 10) != 0;
    if (report)
        fprintf(stderr,
                "\n------------------------------------------------------------------\n"
                "LINCheckMemorySettings() --> %d\n",
                rc);
    char* text = nullptr;
    for (int kind; (kind = LINGetMessage(&text)) != 0; free(text)) {
        if (!report)
            continue;
        switch (kind) {
        case 1:
            fputs(text, stderr);
            break;
        case 2:
            fprintf(stderr, "**START Linux ZAMM Trace\n%s**END   Linux ZAMM Trace\n", text);
            break;
        case 3:
            fprintf(stderr, "**START Linux Memory Parameter Check\n%s**END   Linux Memory Parameter Check\n", text);
            break;
        default:
            fprintf(stderr, "**START: LINTRACE(%d)\n%s**END:   LINTRACE(%d)\n", kind, text, kind);
            break;
        }
    }
    return rc;
}
