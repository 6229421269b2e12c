// The runtime abort: ends the process on an internal error that the caller
// cannot handle.  Up to nine error parameters (texts of at most 200
// characters) may be recorded first; the abort hands them with the error's
// name, id, source line and source identification to an optional callback,
// then exits with status -1.
#pragma once

typedef void (*AbRabaxCallback)(const char* name, const char* id, int line, const char* source,
                                const char* const* params, int count);

AbRabaxCallback ab_rabax_set_callback(AbRabaxCallback callback);
// Slot 1 to 9; an empty text leaves the slot as it was.
void ab_rabax_param(int slot, const char* fmt, ...) __attribute__((format(printf, 2, 3)));
[[noreturn]] void ab_rabax(const char* name, const char* id, int line, const char* source);
[[noreturn]] void ab_rabax_assert(const char* name, int line, const char* source);
// Null: the buffer kept under the key.
void ab_rabax_free(void* buffer);
void ab_rabax_key_delete();
