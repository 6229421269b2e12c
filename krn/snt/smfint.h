// Internals shared by the files of the signed-manifest module: the module
// state, the recording of errors, the module's trace lines and the name
// index of a parsed manifest.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "crypto/ssfload.h"
#include "krn/snt/manifest.h"
#include "trace/dptrc.h"

// ---- Module state -----------------------------------------------------------

// The context an operation works on: ctx, or the static default one.
ManifestContext* SmfResolve(ManifestContext* ctx);
// The crypto library's function context, loaded by the first ManifestInit.
SsfFuncContext* SmfCryptoFunctions();
// Whether a ManifestInit has loaded the library.
bool SmfInitialised();
// The path the loaded crypto library was opened by; null when none is loaded.
const char* SmfCryptoLibraryPath();

// ---- Recording errors -------------------------------------------------------

// Traces the message as an error line and appends it to the context's error
// text ("\n" between messages).  A second message while no code is stored
// sets the code SMF_ERROR; the severity becomes WARNING when it was OK.
void SmfRecord(ManifestContext* ctx, const char* format, ...) __attribute__((format(printf, 2, 3)));
// Stores code as the context's SMF code when none is stored yet; returns it.
int SmfStore(ManifestContext* ctx, int code);
// SmfRecord, then SmfStore(code); returns code.
int SmfFail(ManifestContext* ctx, int code, const char* format, ...) __attribute__((format(printf, 3, 4)));
// A name or path is quoted in a failure report as SsfShownName (crypto/ssfload.h)
// shows it.

// ---- Trace ------------------------------------------------------------------

// One trace line on the process trace when its level is at least `level`
// (0: an error line, written from level 1 on).
void SmfTraceAt(const char* file, int line, int level, const char* format, ...) __attribute__((format(printf, 4, 5)));
#define MANIFEST_TRACE(level, ...) SmfTraceAt(__FILE__, __LINE__, (level), __VA_ARGS__)

// ---- Text helpers -----------------------------------------------------------

// Lower-case hex of count bytes into out (2 * count characters, no terminator).
void SmfHexLower(const uint8_t* bytes, std::size_t count, char* out);
// Decodes 2 * count hex digits (either case) into bytes; false on any other
// character.
bool SmfHexDecode(const char* hex, std::size_t count, uint8_t* bytes);
// Whether the hex digest that begins the entry line is digest (the
// context's digest length).
bool SmfDigestListed(const ManifestContext* ctx, const char* line, const uint8_t* digest);
// A new NUL-terminated copy of length bytes, or NULL.
char* SmfCopy(const char* text, std::size_t length);

// ---- Name index -------------------------------------------------------------

// The index of the context's entry lines by name, built (or rebuilt after the
// text changed) on demand; NULL when memory ran out or nothing is listed.
ManifestIndex* SmfIndex(ManifestContext* ctx);
void SmfIndexFree(ManifestContext* ctx);
// Entry lines of the index with exactly this name, in text order: the first
// at or after slot *cursor (start with 0); NULL when there is none.  *cursor
// moves behind the one returned.
const char* SmfIndexNext(const ManifestIndex* index, const ManifestContext* ctx, const char* name, uint32_t nameLength,
                         std::size_t* cursor, std::size_t* slot);
// Number of slots (for per-slot marks kept by a caller).
std::size_t SmfIndexSlots(const ManifestIndex* index);
// Read mode: marks the slot's entry line as answered by a file.  1 when it
// was not marked before, 0 when it was, -1 when memory ran out.
int SmfIndexMark(ManifestIndex* index, std::size_t slot);
bool SmfIndexMarked(const ManifestIndex* index, std::size_t slot);
uint32_t SmfIndexMatchedCount(const ManifestIndex* index);
// The unmarked entry line that comes first in the text, or NULL.
const char* SmfIndexFirstUnmarked(const ManifestIndex* index, const ManifestContext* ctx);

// ---- Writers ----------------------------------------------------------------

// Writes the header into the empty text buffer and puts the context into
// write mode: 0, or SMF_EINTERNAL without a buffer or algorithm names.
int SmfWriteHeader(ManifestContext* ctx);
// Appends one entry line; the caller made room for SmfEntryLineLength bytes
// plus one (ManifestEnsureBuffer).
void SmfWriteEntry(ManifestContext* ctx, const uint8_t* digest, const char* name, uint32_t nameLength);
inline uint64_t SmfEntryLineLength(const ManifestContext* ctx, uint32_t nameLength)
{
    return 2 * uint64_t{ctx->digestLength} + 7 + nameLength;
}
