// Release information of this program and the version report.
#include "krn/runt/kovrel.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

const char kKernelRelease[] = "720";
const char kMakeVariant[] = "720_REL";
const char kCompileTime[] = "Apr 16 2015 19:11:50";
const char kBuildPlatform[] = "Linux GNU SLES-9 x86_64 cc4.1.2 ";
const char kPlatformName[] = "linuxx86_64";
const int kSourcePatch = 721;
const char* const kDatabaseReleases[] = {"700", "710", "701", "702", "703",
                                         "711", "720", "730", "731", "732", nullptr};
const char* const kOperatingSystems[] = {"Linux 2.6", "Linux 3", nullptr};

// Executable numbers that matter here.
const int kExeAll = 6;        // a note that applies to every executable
const int kExeDbLibrary = 7;  // the database interface library
const int kExeKovzef = 16;
const int kExeUnknown = 53;

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
    {0, 100, kExeKovzef, "ALL", 1000101, "KOVZEF: archive names with blanks in -f lists"},
    {0, 200, kExeKovzef, "ALL", 1000102, "KOVZEF: wildcard expansion of archive names"},
    {0, 300, kExeKovzef, "ALL", 1000103, "KOVZEF: signed manifest stored as last entry"},
    {0, 400, kExeKovzef, "ALL", 1000104, "KOVZEF: -l checks availability of files"},
    {0, 500, kExeKovzef, "ALL", 1000105, "KOVZEF: exit status 44 for inaccessible files"},
    {0, 721, kExeKovzef, "ALL", 1000106, "KOVZEF: release 7.20 patch 721"},
};

const char* ExeName(int index)
{
    switch (index) {
    case kExeKovzef: return "KOVZEF";
    case kExeDbLibrary: return "DBSL";
    default: return index > kExeUnknown || index < 0 ? "executable" : "unknown";
    }
}

// The database type filter: no database interface in this program, so only
// the environment can name one.
const char* DbmsType()
{
    static bool read = false;
    static const char* type = nullptr;
    if (!read) {
        read = true;
        type = std::getenv("dbms_type");
    }
    return type;
}

bool NotApplies(int mode, const ReleaseNote& note)
{
    if (!(mode == kExeAll || note.category == kExeAll || note.category == mode))
        return true;
    const char* db = DbmsType();
    if (!db || !*db || std::strcmp(note.dbFilter, "ALL") == 0)
        return false;
    return std::strncmp(note.dbFilter, db, std::strlen(note.dbFilter)) != 0;
}

void PatchLevel(int mode, int* updateLevel, int* patchNumber)
{
    *updateLevel = 0;
    *patchNumber = 0;
    for (const ReleaseNote& note : kNotes) {
        if (NotApplies(mode, note))
            continue;
        *updateLevel = note.updateLevel;
        *patchNumber = note.patchNumber;
    }
}

void Label(const char* label, const char* value)
{
    std::printf("\n%-30s%s\n", label, value);
}

}  // namespace

void KovRelPrintReport(int longReport, int mode)
{
    const char* name = ExeName(mode);
    std::printf("\n--------------------\n");
    std::printf("%s information\n", name);
    std::printf("--------------------\n");
    Label("kernel release", kKernelRelease);
    Label("kernel make variant", kMakeVariant);
    if (longReport)
        Label("DBMS client library", "");  // no database interface in this program
    std::printf("\n%-30s%s for %s\n", "compiled on", kBuildPlatform, kPlatformName);
    std::printf("\n%-30s%s\n", "compiled for", "64 BIT");
    std::printf("\n%-30s%s\n", "compilation mode", "Non-Unicode");
    Label("compile time", kCompileTime);
    int updateLevel = 0;
    int patchNumber = 0;
    PatchLevel(mode, &updateLevel, &patchNumber);
    std::printf("\n%-30s%d\n", "update level", updateLevel);
    std::printf("\n%-30s%d\n", "patch number", patchNumber);
    std::printf("\n%-30s%d.%03d\n", "source id", 0, kSourcePatch);
    std::printf("\n\n---------------------\n");
    std::printf("supported environment\n");
    std::printf("---------------------\n");
    std::printf("\n%-30s", "database (KOV, table SVERS)");
    for (const char* const* r = kDatabaseReleases; *r; ++r)
        std::printf("%s\n%30s", *r, "");
    std::printf("\noperating system\n");
    for (const char* const* os = kOperatingSystems; *os; ++os)
        std::printf("%s\n", *os);
    if (longReport) {
        bool heading = false;
        for (const ReleaseNote& note : kNotes) {
            if (NotApplies(mode, note))
                continue;
            if (!heading) {
                heading = true;
                std::printf("\n");
                std::printf("\n---------------------------\n");
                std::printf("%s patch information\n", name);
                std::printf("---------------------------\n");
            }
            std::printf("(%2d.%03d) %-.*s (note %d)\n", note.updateLevel, note.patchNumber, 70,
                        note.title, note.noteNumber);
        }
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
        std::size_t i = 0;
        for (; i < sizeof first - 1 && argv[1][i]; ++i)
            first[i] = static_cast<char>(std::toupper(static_cast<unsigned char>(argv[1][i])));
        first[i] = '\0';
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
            std::size_t i = 0;
            for (; i < sizeof base - 1 && name[i]; ++i)
                base[i] = static_cast<char>(std::toupper(static_cast<unsigned char>(name[i])));
            base[i] = '\0';
        }
        mode = std::strstr(base, "W5CHECK") ? 46 : 3;
    }
    KovRelPrintAndExit(longReport, mode);
}
