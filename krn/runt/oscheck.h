// Checks of the Linux machine the program runs on: resource limits, kernel
// shared-memory settings, physical memory, swap and the tmpfs at /dev/shm,
// and memory-related parameter values computed from the physical memory.
//
// The checks collect their findings in three message slots instead of
// printing them: slot 1 warnings, slot 2 summary and computed values, slot 3
// resource-limit lines.  LINGetMessage hands the texts over one slot at a
// time.  Nothing here ends the process.
#pragma once

#include <cstdarg>
#include <cstddef>

// Appends formatted text to slot 1 (warnings), 2 (info) or 3 (limits).
void LINAddWarning(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
void LINAddInfo(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
void LINAddLimit(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
// Appends to slot 1, 2 or 3; other slot numbers are ignored.
void LINAppendf(int slot, const char* fmt, va_list ap) __attribute__((format(printf, 2, 0)));

// Hands over the text of the first non-empty slot (1, then 2, then 3) in
// *text, which the caller frees with free(); returns the slot number, or 0
// with *text null when every slot is empty.
int LINGetMessage(char** text);

// Formats into a new heap text of exactly the needed size (*out, freed with
// free()); returns its length, or -1 with *out null.
int LINAsprintf(char** out, const char* fmt, ...) __attribute__((format(printf, 2, 3)));
int LINVAsprintf(char** out, const char* fmt, va_list ap) __attribute__((format(printf, 2, 0)));

// Records the hard and soft limit of one resource in slot 3 and, with check
// set, warns in slot 1 when the soft limit is finite and below minimum (a
// minimum of all ones means the limit should be unlimited).  0, or -1 when
// the limit cannot be read.
int LINCheckResourceLimit(const char* name, int resource, int check, unsigned long minimum);

// Checks the address-space, core, data and stack limits, the open-files
// limit, the page size and the kernel shared-memory settings; 0 when every
// step succeeded, non-zero otherwise.
int LINCheckResources();

// Reads the kernel setting name (dotted, as "kernel.shmmax") from /proc/sys as
// one unsigned number: 0, -1 when the setting cannot be opened (or the name is
// not a plain dotted name), -2 when it holds no number.
int LINSysctl(const char* name, unsigned long* value);

// Physical memory in MB, with swap and tmpfs size in MB; computed once and
// then cached.  0 when the memory cannot be read or /dev/shm is no tmpfs
// (reported on standard error).
long LINGetMemorySizes(long* swapMB, long* tmpfsMB);

// Computes the value of one memory parameter from the physical memory size:
// 1 with the value text in out (cut to outsize) when the name is known, 0
// when it is not or the memory sizes cannot be determined.  dflt and cur are
// the parameter's default and current physical-memory settings (a number of
// MB, or a percentage of the physical memory such as "50%").
int LINComputeParameter(const char* dflt, const char* cur, const char* name, char* out, size_t outsize);
