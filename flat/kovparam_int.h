// Inside of the profile-parameter library: process-wide state, the level
// setter, the string pool, messages, lookups and the resolution passes.
#pragma once

#include <cstddef>
#include <vector>

#include "flat/kovparam.h"

// The marker in levels 11 and 13 of a record the compiled-in table lacks.
extern const char kKovParamUnknown[];

struct KovParamDefault {
    const char* name;
    const char* value;
};
struct KovParamComposition {
    const char* name;
    const char* first;
    const char* second;
};
// The compiled-in tables, each ended by a row of nulls.
extern const KovParamDefault kKovParamDefaults[];
extern const KovParamDefault kKovParamOverrides[];
extern const KovParamComposition kKovParamCompositions[];
extern const size_t kKovParamCompositionCount;
extern const char* const kKovParamAliases[][2];
// The properties-file parameter whose default changes for instances whose
// name begins with "J", and its default for them.
extern const char kKovParamPropertiesName[];
extern const char kKovParamPropertiesJava[];

constexpr int kKovParamMaxCmdPairs = 20;
constexpr size_t kKovParamChunk = 8192;
constexpr int kKovParamMaxDepth = 50;

struct KovParamState {
    // Records, sorted by name; earlier arrays of a re-initialisation are
    // kept so that records and strings handed out stay valid.
    KovParamRecord* records = nullptr;
    int count = 0;
    int capacity = 0;
    std::vector<void*> oldArrays;

    bool pending = true;
    bool messages = true;

    int cursor = 0;
    char prefix[4096] = {};
    size_t prefixLen = 0;

    long lookups = 0;
    char sysnr[3] = {'?', '?', '\0'};
    bool sysnrFixed = false;
    bool sysnrFromCmdline = false;

    KovParamLookupHook lookupHook = nullptr;
    KovParamCountHook countHook = nullptr;
    KovParamIndexHook indexHook = nullptr;
    KovParamRecord* tableHook = nullptr;

    // String pool: 8,192-byte chunks, never freed one by one.
    char* poolPos = nullptr;
    char* poolEnd = nullptr;
    std::vector<char*> chunks;

    // Collected by the command-line entry.
    struct Pair {
        const char* param;
        char* value;
    };
    Pair cmdPairs[kKovParamMaxCmdPairs] = {};
    int cmdPairCount = 0;
    bool cmdlineRan = false;
    char** args = nullptr;
    int argCount = 0;
    char mergeFile[256] = {};
    char msgPrefix[256] = {};

    // Supplied by the program.
    struct ProgramPair {
        char* name;
        char* value;
    };
    std::vector<ProgramPair> programPairs;
    bool programPairsGiven = false;
    bool programNoOverride = false;

    bool sysnameTaken = false;
    bool sysnameFromCmdline = false;
    bool env700 = false;
    bool envMsid = false;
    int memCheckResult = 0;
    long mallocBytes = 0;

    // Per-record progress of one resolution stage (bits of the passes run)
    // and the records whose resolution is under way.
    std::vector<unsigned char> passesDone;
    int passesStage = 0;
    std::vector<KovParamRecord*> busy;

    // Buffers behind the pseudo-parameters.
    char nDefault[16] = "00000";
    char nPfFile[16] = "00000";
    char calls[24] = "00000";
    char callLastName[499] = {};
    char mallocs[24] = "0";
    char defaultPath[400] = {};
    char profileInEffect[400] = {};
    char sysname[200] = {};
    char localHost[500] = {};
    char localHostFull[256] = {};
    char argcText[16] = "0";
    char argvText[4096] = {};
    char physMemsize[24] = {};
    char cpuCount[24] = {};
};

extern KovParamState g_kp;
extern char g_kpRoot[4096];

// Level setter with its push chains; an invalid level ends the process.
void kovparam_set_level(KovParamRecord* rec, char* value, int level);

// Messages on standard error, after the message prefix.
void KovParamMsg(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
// perror of a text formatted after the message prefix.
void KovParamPerror(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// Pool strings; null when the pool cannot serve (reported).
char* KovParamPoolAlloc(size_t n);
char* KovParamPoolCopy(const char* s);
char* KovParamPoolCopyN(const char* s, size_t n);
// Makes sure at least n bytes are left in the current chunk; false when no
// chunk can be had.
bool KovParamPoolReserve(size_t n);

// Binary search (or the lookup hook); counted as a lookup unless the name
// begins with "$".
KovParamRecord* KovParamLookup(const char* name);
// Own array only, not counted.
KovParamRecord* KovParamFind(const char* name);
// Adds a record for an unknown name (every level the unknown marker) at its
// sorted place, growing the array by grow records when full; null when the
// array cannot grow.
KovParamRecord* KovParamInsert(const char* name, int grow);
// Updates the pseudo-parameter of the bytes allocated.
void KovParamCountMalloc(long bytes);

// The composition row of a parameter, or null.
const KovParamComposition* KovParamFindComposition(const char* name);

// Resolution of one stage: level 13 (from 11), 23/24 (from 21) or 33/34
// (from 32).
void KovParamResolveAll(int level);
void KovParamResolveOne(KovParamRecord* rec, int level);
// Forgets the stage-33 resolution of every record (levels 33 and 34 follow
// level 32 again).
void KovParamUnresolve3();

// Reads the environment flags and applies the override table.
void KovParamReadEnvFlags();

// Runs the machine's memory and resource checks; prints the report when no
// system name is set and LINCHECKOS asks for it.
int LINCheckMemorySettings();

// The two profile readers: the instance profile at path (the name given for
// it is shown as the profile in effect), and DEFAULT.PFL in DIR_PROFILE,
// which returns the number of lines taken.
void KovParamReadInstanceProfile(const char* path, const char* shownName);
int KovParamReadDefaultProfile();

// The directory separator of a platform token ("KOVonUNIX" when null or
// empty); null for an unknown platform.
const char* KovParamSeparator(const char* platform);

// path, below the test root when one is set and path is absolute.
void KovParamSystemPath(char* out, size_t size, const char* path);
