// Old-format archive library: lists, tests and extracts archives whose entry
// headers are text lines.  The library parses an argument vector in the old
// archiver's syntax itself and reports failures as numbered errors.
//
// Results are 1 on success and 0 on failure.  *errorNumber receives the
// error number (0 on success) and *message the error text allocated with
// malloc (release it with free()), or null when there is none.  Standard
// output is flushed before they return.  Nothing is thrown.
#pragma once

#include <cstdint>
#include <ctime>

// Called for every non-directory entry before its data is processed
// (extract and test): context, target path, uncompressed size, time.
typedef void (*OldFormatOutputFn)(void* context, const char* path, uint64_t size, time_t mtime);

// What the library borrows from its caller.  Any member may be null: the
// library's lines then go to standard output, and the free-space check (-s)
// counts every target on one file system with no space known.
struct OldFormatServices {
    // Writes one line of the library (no line feed).
    void (*logLine)(const char* text);
    // Bytes available on the file system of path; 0 when unknown, negative
    // on failure with errno set.
    double (*availableSpace)(const char* path);
    // 1 when both paths lie on one file system, 0 when not, -1 on failure
    // with errno set.
    int (*sameFileSystem)(const char* pathA, const char* pathB);
};

// Entry point: one pass over the archive named with -f, or, for "-x" and "-d"
// with an -f list, one pass per archive matching each name of the list (the
// archives that begin with the KOX magic are the caller's and are passed
// over).
int OldFormatMain(int argc, char* const* argv, OldFormatOutputFn callback, void* context, uint32_t* errorNumber,
                  char** message, const OldFormatServices* services = nullptr);

// One pass; archiveName (or null) replaces the -f value of the vector.
int OldFormatRunOne(int argc, char* const* argv, OldFormatOutputFn callback, void* context, const char* archiveName,
                    uint32_t* errorNumber, char** message, const OldFormatServices* services = nullptr);

// A pass like OldFormatRunOne for extraction only: any other command does
// nothing and succeeds.
int OldFormatExtractOne(int argc, char* const* argv, OldFormatOutputFn callback, void* context, const char* archiveName,
                        uint32_t* errorNumber, char** message, const OldFormatServices* services = nullptr);

// Sum of the uncompressed sizes of all entries of the archive (null names
// "DEFAULT.ZEF"); reads the header section only.
int OldFormatTotalSize(const char* archiveName, uint64_t* total, uint32_t* errorNumber, char** message);

// Extracts the archive (null: "DEFAULT.ZEF") into the current directory, as
// the command line "ZEF -x [-g] [-f name]" would.
int OldFormatExtractArchive(const char* archiveName, bool gFlag, uint32_t* errorNumber, char** message);

// OldFormatMain without an output callback.
int OldFormatMainNoCallback(int argc, char* const* argv, uint32_t* errorNumber, char** message);

// Number of files whose data were written and closed completely, over the
// whole process.
extern uint32_t oldArchiveFilesDone;
