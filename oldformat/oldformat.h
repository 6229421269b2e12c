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
typedef void (*OldFormatOutputFn)(void* context, const char* path,
                                  uint64_t size, time_t mtime);

// Entry point: one pass over the archive named with -f, or, for "-x" with an
// -f list, one pass per archive matching each name of the list.
int OldFormatMain(int argc, char* const* argv, OldFormatOutputFn callback,
                  void* context, uint32_t* errorNumber, char** message);

// One pass; archiveName (or null) replaces the -f value of the vector.
int OldFormatRunOne(int argc, char* const* argv, OldFormatOutputFn callback,
                    void* context, const char* archiveName,
                    uint32_t* errorNumber, char** message);

// Number of files whose data were written and closed completely, over the
// whole process.
extern uint32_t oldArchiveFilesDone;
