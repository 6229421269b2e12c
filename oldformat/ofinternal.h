// Internal records and functions of the old-format archive library.
#pragma once

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "oldformat/entrypath.h"
#include "oldformat/oldformat.h"

// Error numbers with a meaning of their own in the code.
enum : uint32_t {
    OF_E_MKDIR = 1,
    OF_E_FILENAME = 3,
    OF_E_SYSTEM = 4,
    OF_E_MEMORY = 5,
    OF_E_INCLUDE_FORMAT = 9,
    OF_E_HEADER_FORMAT = 12,
    OF_E_DECOMPRESS = 13,
    OF_E_CHECKSUM = 14,
    OF_E_FILE_MODE = 15,
    OF_E_FILE_DATE = 16,
    OF_E_DIR_MODE = 17,
    OF_E_DIR_DATE = 18,
    OF_E_TWICE = 20,
    OF_E_NO_VALUE = 21,
    OF_E_NO_COMMAND = 23,
    OF_E_C_WITH_P = 24,
    OF_E_C_NOT_CREATE = 25,
    OF_E_T_NOT_CREATE = 26,
    OF_E_X_NOT_CREATE = 27,
    OF_E_NOT_OCTAL = 28,
    OF_E_OPEN_WRITE = 29,
    OF_E_NO_NAMES = 30,
    OF_E_R_NOT_EXTRACT = 33,
    OF_E_NO_SPACE = 34,
    OF_E_S_NOT_EXTRACT = 35,
    OF_E_TOO_LARGE = 36,
    OF_E_CORRUPT = 37,
};

// Error of one pass: number (0 = none) and its message.
struct OfError {
    uint32_t number = 0;
    std::string message;
};

// Sets the error: the table's text, a blank and the name when one is given,
// and for the numbers that carry it a line with the system's text of err.
void OfSetError(OfError& error, uint32_t number, const char* name, int err = 0);
// Sets the error with a message of the caller's own.
void OfSetErrorText(OfError& error, uint32_t number, std::string message);
void OfClearError(OfError& error);
// The fixed text of an error number, or null when it has none.
const char* OfErrorText(uint32_t number);

// A name to process from the command line or the include file.
struct OfName {
    std::string given;       // as written
    std::string normalised;  // after path normalisation
    std::string joined;      // joined to its base directory
    char source = 0;         // 'A' when read from the include file
};

// One entry of the archive's header section.
struct OfEntry {
    std::string name;             // as stored
    std::string target;           // where it is created on disk
    bool unsafe = false;          // target would leave the extraction directory
    bool leadingRemoved = false;  // leading "/" or "../" were dropped from it
    char type = 0;
    uint32_t mode = 0;  // with the directory bit added for 'D'
    int64_t mtime = 0;
    uint64_t size = 0;   // uncompressed
    uint64_t csize = 0;  // compressed
    uint32_t checksum = 0;
    uint32_t sequence = 0;
    uint64_t offset = 0;  // of its data in the archive
    bool selected = false;
    bool IsDirectory() const { return type == 'D' || (mode & 0xF000u) == 0x4000u; }
};

// Everything one pass works on.
struct OfHandle {
    char command = 0;                        // 'c', 'x', 't' or 'd'
    std::optional<std::string> includeFile;  // -A
    std::optional<std::string> baseDir;      // -C
    std::optional<std::string> archive;      // -f
    std::optional<std::string> permission;   // -p
    bool pFlag = false;                      // -P
    std::optional<std::string> renameFile;   // -T
    bool verbose = false;
    bool verify = true;                       // checksums are always checked
    std::optional<std::string> excludeFile;   // -X
    std::optional<std::string> protectedKey;  // -K
    std::optional<std::string> targetDir;     // -R
    bool gFlag = false;
    const OldFormatServices* services = nullptr;  // what the caller lends, or null
    bool sFlag = false;
    std::string workDir;
    std::vector<OfName> names;
    uint64_t dataStart = 0;
    std::vector<OfEntry> entries;
    OldFormatOutputFn callback = nullptr;
    void* context = nullptr;

    const std::string& ArchiveName() const;
};

// ---- paths and patterns ---------------------------------------------------
// Backslashes become "/", separators collapse, "." components go and, with
// resolveParents, a ".." component removes itself with the component before
// it when there is one.  Entry names keep theirs: a ".." inside a name must
// reach the extraction rule, which refuses it.
std::string OfNormalisePath(const std::string& path, bool resolveParents = true);
// Where an entry is extracted, by the rule both archive readers share
// (oldformat/entrypath.h); its path is empty when the entry is refused.
// Besides that rule, a name that turned absolute only through normalisation
// (kept with -P) or that hides ".." behind a drive prefix is refused.
EntryPath OfPlanTarget(const std::string& stored, const std::string& normalised, const std::string& targetDir,
                       bool keepAbsolute);
// Pattern matching of archive names: *, ?, [sets with ranges], \ escapes.
bool OfMatchPattern(const char* pattern, const char* name);

// ---- options ----------------------------------------------------------------
// Parses argv[1..argc-1] into the handle and runs the checks; false with the
// error set on failure.
bool OfParseOptions(OfHandle& handle, int argc, char* const* argv, OfError& error);
// The value of the archive-name list when the vector asks for extraction or
// test with -f followed by a value; empty otherwise.
std::optional<std::string> OfFindExtractList(int argc, char* const* argv);

// ---- header section -----------------------------------------------------------
enum class OfLineResult { Ok, Format, Time };
// Parses one header line (no line end, no NUL inside) into the entry.
OfLineResult OfParseHeaderLine(const char* line, size_t length, OfEntry& entry);
// Reads the archive's header section, fills the entry list, marks the
// selected entries and records the data start.
bool OfReadHeaders(OfHandle& handle, OfError& error);
// Reads the include file (-A) into the names to process.
bool OfReadIncludeFile(OfHandle& handle, OfError& error);
// Adds a name to process, normalised and joined to its base directory.
void OfAddName(OfHandle& handle, const std::string& name, char source);

// ---- listing, space check, extraction -------------------------------------------
std::string OfPermissionString(uint32_t mode);
void OfListEntries(const OfHandle& handle);
bool OfCheckDiskSpace(const OfHandle& handle, OfError& error);
bool OfExtractEntries(OfHandle& handle, OfError& error);

// ---- messages -------------------------------------------------------------------
// Writes one line through the application's log manager, after whatever the
// library wrote to standard output so far.
void OfLogLine(const OfHandle& handle, const std::string& text);
