// Helpers shared by the units of the converter cache.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>

#include "krn/rscp/cpcache.h"

// A parameter through the GetParameter hook; NULL when it has no value.
inline const char* rscpParam(const char* name)
{
    return rscph_HookTable.GetParameter(name);
}
// The leading decimal number of a text (0 for none), clamped to 32 bits.
int64_t rscpDecimal(const char* text);

// One line formatted into size bytes (cut to size - 1 characters) and handed
// to out with its length.
void rscpvOutLine(rscpeOutputFunc out, size_t size, const char* fmt, va_list ap) __attribute__((format(printf, 3, 0)));

// Error output (function 1) and info output (function 2), formatted.
void rscpErrorOut(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
void rscpInfoOut(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// The messages of a cache that is back in state 2 (the log block names the
// line), and of a cache whose state marker is not the complete one (state 4;
// returns the recorded code).
void rscpBackToInitialized(const char* line);
uint32_t rscpWrongVersion(uint32_t mask, int32_t location);

// A 64-byte system-log block: the text blank-padded to 53 characters, an
// 8-character module field and a 3-character tail.
void rscpSyslogBlock(char* block64, const char* text53, const char* module8, const char* tail3);
// "RSCPCCC " and the cache length right-aligned in 9 characters, then blanks
// (or the reason of 36 characters when given).
void rscpCacheBlock(char* block64, uint32_t length, const char* reason36);

// Process data of the start-up that the maintenance also uses.
uint32_t& rscpGeneration();   // highest generation built or seen
uint8_t& rscpReleasedFlag();  // set when the finish released the cache
// Bytes of the block this process allocated, while it is the attached cache
// (0 for any other block).
uint32_t rscpBlockSize();
void rscpSetBlock(const void* address, uint32_t size);
bool& rscpBlockZeroed();  // the block arrived zero-filled and is unused

// Identifier at the head of every cache block.
inline constexpr char RSCP_CCC_IDENT[] = ">>RSCPCCC<< ";
