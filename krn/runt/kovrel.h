// Release information: what release, patch and build this program is, the
// version report printed when it is started with a single argument (or with
// none), and release and operating-system compatibility checks.
#pragma once

constexpr int KOVREL_EXE_ALL = 6;      // a note for every executable
constexpr int KOVREL_EXE_DBSL = 7;     // the database interface library
constexpr int KOVREL_EXE_KOVZEF = 16;  // this program

// Any output pointer may be null.  The lists are null-terminated; the notes
// are those of KovRelNotes(mode).
void KovRelGetInfo(int mode, const char** release, const char** makeVariant, const char** clientLibrary,
                   const char** platform, const char** compileTime, int* patch, const char* const** releases,
                   const char* const** servers, const char* const** systems, const char* const** notes,
                   const char** interfaceVersion, int* noteCount);
// The formatted notes that apply to executable mode, in static storage
// overwritten by the next call; null-terminated.
const char* const* KovRelNotes(int mode, int* count);
// Update level and patch number of the last note that applies.
void KovRelPatchLevel(int mode, int* updateLevel, int* patchNumber);

void KovRelPrintReport(int longReport, int mode);
[[noreturn]] void KovRelPrintAndExit(int longReport, int mode);
// Prints the report and exits with status 0 when the command line asks for
// it (no argument, or a single "-V" or "-VERSION" in any case).
void KovRelCheckVersionOption(int argc, char** argv, int flags);

// kind 1: the supported database releases, 3: the operating systems; 1 when
// an entry equals text over min(entry length, length) characters, or when
// KOV_SKIP_VERSIONCHECK is "YES".
int KovRelCheckRelease(int kind, const char* text, int length);
void KovRelGetVersions(int mode, int* release, int* updateLevel, int* patchNumber, int* interfaceVersion);
// The numeric form of a three-character release text, -1 when not accepted.
int KovRelNumber(const char* release);
// 2 when no database kernel release is known (always here), 4 or 16 for an
// unknown kernel release, 8 for an unknown release, 1 when the kernel's
// group comes first, else 0.
int KovRelCompareDbRelease(const char* release);
// The numeric form of the database kernel's release, -1 when none is known.
int KovRelDbKernelRelease();
// Records the patch level in the database's patch history: 0 without a
// database interface.
int KovRelRecordPatch(int mode);
const char* KovRelExeName(int index);
const char* KovRelExeCommand(int index);
int KovRelInterfaceVersion();
// The database type blank-padded to 32 characters into buffer when set; 1.
int KovRelDbmsType(int code, char* buffer);
// Null path: this program's values.  Otherwise the values after the markers
// in a file.  New copies (free them); 1 when all four were found.
int KovRelReadVersionInfo(const char* path, char** fileVersion, char** productVersion, char** platform,
                          char** specialBuild);
