// The C-stack dump: one line per frame of the running process with the
// function's name and the return address's offset within it, written into a
// trace file.  Names come from the executable's own ELF symbol table
// ("/proc/<pid>/exe") and otherwise from the dynamic linker.
#pragma once
#include <cstdio>

#include "trace/dptrc.h"

int CStackTrace(DpTrcHdl hdl);
// Seeks to offset from the start of the file and reads one block: 1 when
// both succeed, else 0.
int CStackReadAt(FILE* stream, void* buffer, long offset, size_t size);
