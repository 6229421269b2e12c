// Release information of this program and the version report.
#include "krn/runt/kovrel.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "nls/kovcase.h"
#include "nls/kovstr.h"

namespace {

const char kKernelRelease[] = "720";
const char kMakeVariant[] = "720_REL";
const char kCompileTime[] = "Apr 16 2015 19:11:50";
const char kBuildPlatform[] = "Linux GNU SLES-9 x86_64 cc4.1.2 ";
const char kPlatformName[] = "linuxx86_64";
const int kSourcePatch = 721;
const int kInterfaceVersion = 20020600;
const char* const kDatabaseReleases[] = {"700", "710", "701", "702", "703", "711", "720", "730", "731", "732", nullptr};
const char* const kOperatingSystems[] = {"Linux 2.6", "Linux 3", nullptr};
const char* const kReleaseGroups[] = {"700", "710", "701", "702", "703", "711", "712", "720", "730", "731", "732"};
const char* const kNone[] = {nullptr};
constexpr int kExeUnknown = 53;
constexpr int kMaxNotes = 4999;
constexpr size_t kNoteSlot = 100;

struct ReleaseNote {
    int updateLevel;
    int patchNumber;
    int category;
    const char* dbFilter;
    int noteNumber;
    const char* title;
};

// The patch notes of this program.  The last row is the level of this build.
const ReleaseNote kNotes[] = {
    {0, 100, KOVREL_EXE_KOVZEF, "ALL", 1000101, "KOVZEF: archive names with blanks in -f lists"},
    {0, 200, KOVREL_EXE_KOVZEF, "ALL", 1000102, "KOVZEF: wildcard expansion of archive names"},
    {0, 300, KOVREL_EXE_KOVZEF, "ALL", 1000103, "KOVZEF: signed manifest stored as last entry"},
    {0, 400, KOVREL_EXE_KOVZEF, "ALL", 1000104, "KOVZEF: -l checks availability of files"},
    {0, 500, KOVREL_EXE_KOVZEF, "ALL", 1000105, "KOVZEF: exit status 44 for inaccessible files"},
    {0, 721, KOVREL_EXE_KOVZEF, "ALL", 1000106, "KOVZEF: release 7.20 patch 721"},
};

// The database interface record: only the type can be known here.
struct DbRecord {
    char type[33];
    bool typeSet;
};

const DbRecord& Db()
{
    static DbRecord rec;
    static bool read = false;
    if (!read) {
        read = true;
        const char* t = std::getenv("dbms_type");
        rec.typeSet = t && *t;
        if (rec.typeSet)
            snprintfTruncR(rec.type, sizeof rec.type, "%-*.*s", 32, 32, t);
    }
    return rec;
}

bool Applies(int mode, const ReleaseNote& note)
{
    if (!(mode == KOVREL_EXE_ALL || note.category == KOVREL_EXE_ALL || note.category == mode))
        return false;
    const DbRecord& db = Db();
    if (!db.typeSet || std::strcmp(note.dbFilter, "ALL") == 0)
        return true;
    return std::strncmp(note.dbFilter, db.type, std::strlen(note.dbFilter)) == 0;
}

void Label(const char* label, const char* value)
{
    std::printf("\n%-30s%s\n", label, value);
}

int GroupOf(const char* release)
{
    for (int i = 0; i < static_cast<int>(sizeof kReleaseGroups / sizeof kReleaseGroups[0]); ++i)
        if (std::strncmp(kReleaseGroups[i], release, 3) == 0)
            return i;
    return -1;
}

char* Copy(const char* s)
{
    const size_t n = std::strlen(s) + 1;
    char* c = static_cast<char*>(std::malloc(n));
    if (c)
        std::memcpy(c, s, n);
    return c;
}

}  // namespace

const char* KovRelExeName(int index)
{
    switch (index) {
    case KOVREL_EXE_KOVZEF:
        return "KOVZEF";
    case KOVREL_EXE_DBSL:
        return "DBSL";
    case KOVREL_EXE_ALL:
        return "ALL";
    default:
        return index > kExeUnknown || index < 0 ? "executable" : "unknown";
    }
}

const char* KovRelExeCommand(int index)
{
    return index == KOVREL_EXE_KOVZEF ? "KOVZEF -version" : "";
}

int KovRelInterfaceVersion()
{
    return kInterfaceVersion;
}

const char* const* KovRelNotes(int mode, int* count)
{
    static char slots[kMaxNotes + 1][kNoteSlot];
    static const char* list[kMaxNotes + 1];
    int n = 0;
    for (const ReleaseNote& note : kNotes) {
        if (n >= kMaxNotes)
            break;
        if (!Applies(mode, note))
            continue;
        snprintfTruncR(slots[n], kNoteSlot, "(%2d.%03d) %-.*s (note %d)", note.updateLevel, note.patchNumber, 70,
                       note.title, note.noteNumber);
        list[n] = slots[n];
        ++n;
    }
    // The database interface record has no rows of its own in this program.
    list[n] = nullptr;
    if (count)
        *count = n;
    return list;
}

void KovRelPatchLevel(int mode, int* updateLevel, int* patchNumber)
{
    int ul = 0, pn = 0;
    for (const ReleaseNote& note : kNotes) {
        if (!Applies(mode, note))
            continue;
        ul = note.updateLevel;
        pn = note.patchNumber;
    }
    if (updateLevel)
        *updateLevel = ul;
    if (patchNumber)
        *patchNumber = pn;
}

void KovRelGetInfo(int mode, const char** release, const char** makeVariant, const char** clientLibrary,
                   const char** platform, const char** compileTime, int* patch, const char* const** releases,
                   const char* const** servers, const char* const** systems, const char* const** notes,
                   const char** interfaceVersion, int* noteCount)
{
    if (release)
        *release = kKernelRelease;
    if (makeVariant)
        *makeVariant = kMakeVariant;
    if (clientLibrary)
        *clientLibrary = "";
    if (platform)
        *platform = kBuildPlatform;
    if (compileTime)
        *compileTime = kCompileTime;
    if (patch)
        *patch = kSourcePatch;
    if (releases)
        *releases = kDatabaseReleases;
    if (servers)
        *servers = kNone;
    if (systems)
        *systems = kOperatingSystems;
    if (interfaceVersion)
        *interfaceVersion = "";
    if (notes || noteCount) {
        int n = 0;
        const char* const* list = KovRelNotes(mode, &n);
        if (notes)
            *notes = list;
        if (noteCount)
            *noteCount = n;
    }
}

void KovRelPrintReport(int longReport, int mode)
{
    const char *release, *variant, *client, *platform, *compiled, *ifVersion;
    const char *const *releases, *const *servers, *const *systems, *const *notes;
    int patch = 0, noteCount = 0;
    KovRelGetInfo(mode, &release, &variant, &client, &platform, &compiled, &patch, &releases, &servers, &systems,
                  &notes, &ifVersion, &noteCount);
    const char* name = KovRelExeName(mode);
    std::printf("\n--------------------\n");
    std::printf("%s information\n", name);
    std::printf("--------------------\n");
    Label("kernel release", release);
    Label("kernel make variant", variant);
    if (longReport) {
        if (std::strcmp(client, "none ") != 0 && std::strcmp(client, " ") != 0)
            Label("DBMS client library", client);
        if (*ifVersion)
            Label("DBSL shared library version", ifVersion);
    }
    std::printf("\n%-30s%s for %s\n", "compiled on", platform, kPlatformName);
    std::printf("\n%-30s%s\n", "compiled for", "64 BIT");
    std::printf("\n%-30s%s\n", "compilation mode", "Non-Unicode");
    Label("compile time", compiled);
    int updateLevel = 0, patchNumber = 0;
    KovRelPatchLevel(mode, &updateLevel, &patchNumber);
    std::printf("\n%-30s%d\n", "update level", updateLevel);
    std::printf("\n%-30s%d\n", "patch number", patchNumber);
    std::printf("\n%-30s%d.%03d\n", "source id", 0, patch);
    std::printf("\n\n---------------------\n");
    std::printf("supported environment\n");
    std::printf("---------------------\n");
    std::printf("\n%-30s", "database (KOV, table SVERS)");
    for (const char* const* r = releases; *r; ++r)
        std::printf("%s\n%30s", *r, "");
    if (longReport && servers[0]) {
        std::printf("\nDBMS server\n");
        for (const char* const* s = servers; *s; ++s)
            std::printf("   %s\n", *s);
    }
    std::printf("\noperating system\n");
    for (const char* const* os = systems; *os; ++os)
        std::printf("%s\n", *os);
    if (longReport && noteCount > 0) {
        std::printf("\n");
        std::printf("\n---------------------------\n");
        std::printf("%s patch information\n", name);
        std::printf("---------------------------\n");
        for (const char* const* n = notes; *n; ++n)
            std::printf("%s\n", *n);
    }
    std::fflush(stdout);
}

void KovRelPrintAndExit(int longReport, int mode)
{
    KovRelPrintReport(longReport, mode);
    std::exit(0);
}

void KovRelCheckVersionOption(int argc, char** argv, int flags)
{
    // The first argument, upper-cased (at most 15 characters); empty when there
    // is none.  With no argument argv[1] is never read.
    char first[16] = "";
    if (argc >= 2 && argv && argv[1]) {
        strncpy_sR(first, sizeof first, argv[1], sizeof first - 1);
        struprR(first);
    }
    bool wanted;
    if (argc < 2)
        wanted = true;
    else if (argc == 2)
        wanted = std::strcmp(first, "-V") == 0 || std::strcmp(first, "-VERSION") == 0;
    else
        wanted = false;
    if (!wanted)
        return;

    const int longReport = (flags == 5 || std::strcmp(first, "-VERSION") == 0) ? 0 : 1;
    int mode = flags;
    if (flags == 3) {
        char base[16] = "";
        if (argc >= 1 && argv && argv[0]) {
            const char* name = argv[0];
            for (const char* p = argv[0]; *p; ++p)
                if (*p == '/' || *p == '\\')
                    name = p + 1;
            strncpy_sR(base, sizeof base, name, sizeof base - 1);
            struprR(base);
        }
        mode = std::strstr(base, "W5CHECK") ? 46 : 3;
    }
    KovRelPrintAndExit(longReport, mode);
}

int KovRelCheckRelease(int kind, const char* text, int length)
{
    const char* skip = std::getenv("KOV_SKIP_VERSIONCHECK");
    if (skip && std::strcmp(skip, "YES") == 0)
        return 1;
    const char* const* list = kind == 1 ? kDatabaseReleases : kind == 3 ? kOperatingSystems : nullptr;
    if (!list || !text || length < 0)
        return 0;
    for (; *list; ++list) {
        const size_t n = std::strlen(*list);
        const size_t k = n < static_cast<size_t>(length) ? n : static_cast<size_t>(length);
        if (std::strncmp(*list, text, k) == 0)
            return 1;
    }
    return 0;
}

void KovRelGetVersions(int mode, int* release, int* updateLevel, int* patchNumber, int* interfaceVersion)
{
    if (release)
        *release = 7200;
    KovRelPatchLevel(mode, updateLevel, patchNumber);
    if (interfaceVersion) {
        static bool told = false;
        const char* env = std::getenv("KOV_IKVERS");
        if (env) {
            *interfaceVersion = std::atoi(env);
            if (!told) {
                told = true;
                std::fprintf(stderr, "Got KOV_IKVERS=%d from environment\n", *interfaceVersion);
            }
        } else {
            *interfaceVersion = kInterfaceVersion;
        }
    }
}

int KovRelNumber(const char* release)
{
    if (!release || strnlenR(release, 3) < 3)
        return -1;
    if (std::strncmp(release, "72L", 3) == 0)
        return 7250;
    // "310" is the old name of release 3.0E and is read as those characters.
    if (std::strncmp(release, "310", 3) == 0)
        release = "30E";
    const unsigned char c1 = static_cast<unsigned char>(release[0]);
    const unsigned char c2 = static_cast<unsigned char>(release[1]);
    const unsigned char c3 = static_cast<unsigned char>(release[2]);
    if (!std::isdigit(c1) || !std::isdigit(c2) || !std::isalnum(c3))
        return -1;
    const int base = 1000 * (c1 - '0') + 100 * (c2 - '0');
    if (base >= 7000)
        return std::isdigit(c3) ? base + 10 * (c3 - '0') : -1;
    const int u = std::toupper(c3);
    if (base < 4000) {
        if (!std::isalpha(c3))
            return -1;
        return u >= 'A' && u <= 'I' ? base + 10 * (u - 'A') : base + 90;
    }
    if (std::isdigit(c3))
        return base + (c3 - '0');
    if (u >= 'A' && u <= 'I')
        return base + 10 * (u - 'A' + 1);
    if (u >= 'J' && u <= 'R')
        return base + 90 + 10 * (u - 'J');
    if (u >= 'S' && u <= 'Z')
        return base + 170 + 10 * (u - 'S');
    return base;
}

int KovRelDbKernelRelease()
{
    return -1;  // no database interface: no kernel release is known
}

int KovRelCompareDbRelease(const char* release)
{
    const char* kernel = nullptr;  // the database kernel's release: never known here
    if (!kernel)
        return 2;
    const char* rel = release ? release : "720";
    const int kg = GroupOf(kernel);
    if (kg < 0)
        return KovRelNumber(kernel) - 1 < 7199 ? 4 : 16;
    const int rg = GroupOf(rel);
    if (rg < 0)
        return 8;
    return kg < rg ? 1 : 0;
}

int KovRelRecordPatch(int)
{
    return 0;  // the first database call fails without a database interface
}

int KovRelDbmsType(int, char* buffer)
{
    const DbRecord& db = Db();
    if (db.typeSet && buffer)
        std::memcpy(buffer, db.type, 32);
    return 1;
}

int KovRelReadVersionInfo(const char* path, char** fileVersion, char** productVersion, char** platform,
                          char** specialBuild)
{
    char** out[4] = {fileVersion, productVersion, platform, specialBuild};
    if (!path) {
        static const char* const kOwn[4] = {"7200, 721, 24, 341", "720, patch 721, changelist 1573205", "linuxx86_64",
                                            "opt (Apr 16 2015, 19:12:47)"};
        for (int i = 0; i < 4; ++i)
            if (out[i])
                *out[i] = Copy(kOwn[i]);
        return 1;
    }
    static const char* const kKeys[4] = {"FileVersion: ", "ProductVersion: ", "Platform: ", "SpecialBuild: "};
    static const char kMarker[] = "#[%]KOV";
    constexpr size_t kMarkerLen = sizeof kMarker - 1;
    constexpr size_t kChunk = 8192, kTail = kMarkerLen + 127;
    char* found[4] = {nullptr, nullptr, nullptr, nullptr};
    FILE* f = std::fopen(path, "rb");
    int result = 0;
    if (f) {
        // Each chunk is searched behind the unsearched end of the previous
        // one, so a marker across a chunk boundary is still found; the read
        // that finds the end of the file (possibly empty, when the size is a
        // multiple of the chunk) searches that end to the last byte.
        static char buf[kTail + kChunk + 1];
        size_t have = 0;
        while (result == 0) {
            const size_t got = std::fread(buf + have, 1, kChunk, f);
            have += got;
            buf[have] = '\0';
            const bool last = got < kChunk;
            const size_t limit = last ? have : (have > kTail ? have - kTail : 0);
            size_t i = 0;
            for (; i < limit; ++i) {
                if (have - i < kMarkerLen || std::memcmp(buf + i, kMarker, kMarkerLen) != 0)
                    continue;
                char text[128];
                const char* t = buf + i + kMarkerLen;
                const size_t avail = have - i - kMarkerLen;
                const size_t n = strnlenR(t, avail < 127 ? avail : 127);
                std::memcpy(text, t, n);
                text[n] = '\0';
                for (int k = 0; k < 4; ++k) {
                    const size_t kl = std::strlen(kKeys[k]);
                    if (!found[k] && std::strncmp(text, kKeys[k], kl) == 0)
                        found[k] = Copy(text + kl);
                }
                if (found[0] && found[1] && found[2] && found[3]) {
                    result = 1;
                    break;
                }
            }
            std::memmove(buf, buf + limit, have - limit);
            have -= limit;
            if (last)
                break;
        }
        std::fclose(f);
    }
    for (int k = 0; k < 4; ++k) {
        if (result && out[k]) {
            *out[k] = found[k];
        } else {
            std::free(found[k]);
            if (out[k] && !result)
                *out[k] = nullptr;
        }
    }
    return result;
}
