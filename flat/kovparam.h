// Profile parameters: every named configuration value of the process, each
// with a compiled-in default and layered overrides.
//
// A parameter record keeps one value per level, lowest first:
//   11 built-in default, 12 supplied by the program, 13 built-in after
//   substitution, 21 default profile DEFAULT.PFL, 23 that after substitution,
//   24 that after "(Default)" composition, 31 instance profile, 32 command
//   line, 33 that after substitution, 34 that after composition; the
//   effective value is always level 34.
// A level follows the level below it while both point to the same string, so
// a value set low shows through until a higher source sets its own.  Values
// may refer to other parameters ("$(NAME)"), environment variables
// ("%(NAME)") and the two-digit system number ("$$").
//
// The library initialises itself on the first call of any getter (or from
// kovargv), reading the compiled-in defaults, the instance profile and the
// default profile.  Its problems go to standard error as lines that begin
// "kovparam"; it never ends the process.  Returned strings stay valid for the
// life of the process.  Not thread-safe: one process-wide table, no locks.
#pragma once

#include <cstddef>
#include <cstdint>

struct KovParamRecord {
    const char* name;
    char* level11;
    char* level12;
    char* level13;
    char* level21;
    char* level23;
    char* level24;
    unsigned char resolved2;  // 1 once levels 23 and 24 are resolved
    char* level31;
    char* level32;
    char* level33;
    char* level34;
    unsigned char resolved3;  // 1 once levels 33 and 34 are resolved
    char* effective;
};

// Effective value, or null for an unknown name.
const char* kovparam_get(const char* name);
const KovParamRecord* kovparam_get_record(const char* name);
// Level 11, or null for an unknown name.
const char* kovparam_get_builtin(const char* name);
// Level 24, or null for an unknown name.
const char* kovparam_get_default_profile_value(const char* name);
// Fills every given out-pointer; an unknown name gives zeros throughout.
void kovparam_get_all_levels(const char* name, const char** l11, const char** l13, const char** l21, const char** l23,
                             const char** l24, unsigned char* resolved2, const char** l31, const char** l32,
                             const char** l33, const char** l34, unsigned char* resolved3, const char** effective);

// -1 when the parameter has no value (or the number does not fit 64 bits);
// otherwise 0 and the value read as a signed decimal number, multiplied by
// 1024, 1024^2 or 1024^3 for a unit "K", "M" or "G" (or "KB", "MB", "GB",
// all upper or all lower case) after the digits.
int kovparam_get_number(const char* name, int64_t* value);
// 1 for ON, YES, TRUE or 1; 0 for OFF, NO, FALSE or 0 (any case); 2 otherwise.
int kovparam_get_bool(const char* name);

// dir, separator and file into dest (the directory alone for an empty file).
// token is the platform token ("KOVonUNIX", "KOVonOS400": "/"; "KOVonNT",
// "KOVonOS2x": "\"), null for the parameter GetDsCtrl or else "KOVonUNIX".
// 0, or -1 with dest emptied when an argument is missing, the token unknown
// or the path does not fit.
int kovparam_compose_path(const char* dir, const char* file, const char* token, char* dest, size_t size);

// Records by index in name order.
int kovparam_count();
const KovParamRecord* kovparam_get_record_at(int index);

// Iteration in name order, optionally over the names that begin with a
// prefix.  The next functions return 0 at the end (outs null), 1 for a name
// the compiled-in table does not know, 2 when the value is the built-in one,
// 3 otherwise.
void kovparam_iter_reset();
int kovparam_iter_start(const char* prefix);
// Out: name, command-line value (level 32), default-profile value (level 21,
// "(Default)" shown as level 13).
int kovparam_iter_next(const char** name, const char** cmdValue, const char** defaultValue);
// As kovparam_iter_next, "(Default)" reported as it stands.
int kovparam_iter_next_raw(const char** name, const char** cmdValue, const char** defaultValue);
// Out: name, effective value, default-profile value (level 24).
int kovparam_iter_next_effective(const char** name, const char** effective, const char** defaultValue);

// Switches the library's optional messages off for the rest of the process.
void kovparam_quiet();

// Replacements of the binary search, the count, the by-index access and the
// record array used for iteration (null restores the library's own).
typedef KovParamRecord* (*KovParamLookupHook)(const char* name);
typedef int (*KovParamCountHook)();
typedef KovParamRecord* (*KovParamIndexHook)(int index);
void kovparam_set_lookup_hook(KovParamLookupHook hook);
void kovparam_set_count_hook(KovParamCountHook hook);
void kovparam_set_index_hook(KovParamIndexHook hook);
void kovparam_set_table_hook(KovParamRecord* table);

// Initialisation; returns at once when it has run already.
void kovparam_init();

struct KovParamPair {
    const char* name;
    const char* value;
};
// Values the program supplies, applied at level 12 (and 31 unless noOverride)
// by the initialisation; pairs end at a null name or value.  0; -1 after the
// initialisation; -2 after kovargv; -3 when pairs were given before; -4 when
// a copy cannot be made.
int kovparam_set_program_defaults(const KovParamPair* pairs, int noOverride);
// Runs the whole initialisation again with profile as the instance profile.
void kovparam_reinit_with_profile(const char* profile);

// Command line: kovargv merges a start profile ("pf=" first argument), takes
// the parameter assignments and initialises the library.
void kovargv(int argc, char** argv);
void kovparam_parse_cmdline(int argc, char** argv);
// The arguments that were no parameter assignments, argv[0] first.
void kovparam_get_args(int* count, char*** args);
