// An archive written to the program's own standard output: the names that
// mean it, and the descriptor such an archive goes to.  Such a run writes
// the archive to descriptor 1 as it stands (its offset and flags kept, no
// file made beside it) and sends every message to standard error instead.
#pragma once

// True for the names of descriptor 1: "/dev/stdout", "/dev/fd/1",
// "/proc/self/fd/1" and "/proc/<this process>/fd/1", as spelled; null and
// every other name are not.
bool SpellsStandardOutput(const char* name);
// True when name spells standard output and leads to the file open as
// descriptor 1 (a system whose "/dev/stdout" is something else has its
// name used as any other).
bool IsStandardOutput(const char* name);
// True while descriptor 1 is open.
bool StandardOutputOpen();
// A new descriptor (closed on exec) of the file open as descriptor 1,
// sharing its offset and flags; -1 with errno set when there is none or
// descriptor 1 is open for reading only (EBADF).
int DuplicateStandardOutput();
