// The NLS layer of the 16-bit library: argument and environment arrays as
// 16-bit strings, the command-line text of the trace, a digit splitter, and
// 16-bit wrappers of system calls.
//
// Each wrapper converts its 16-bit arguments to UTF-8 within fixed limits
// (MAX_PATH_LN and the others below) and its text results back into 16-bit
// units.  An argument without a terminator within its limit, or whose UTF-8
// form does not fit, is reported ("... is too small.") and the wrapper fails
// with ENAMETOOLONG without calling the system.  Invalid UTF-8 in a result is
// reported and gives the wrapper's failure value.  Static result records are
// overwritten by the next call of the same family.
#pragma once

#include <dirent.h>
#include <dlfcn.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <ctime>

#include "i18n/kovu16/u16_str.h"

// ---- limits (bytes of UTF-8 or units, as named) ----------------------------------
constexpr size_t MAX_PATH_LN = 4097;
constexpr size_t MAX_FORMATSTR_LN = 256;
constexpr size_t MAX_TIMESTR_LN = 256;
constexpr size_t MAX_COMMAND_LN = 2048;
constexpr size_t MAX_ENV_LN = 256;
constexpr size_t MAX_SYM_LN = 256;
constexpr size_t MAX_MODE_LN = 64;
constexpr size_t MAX_FILENAME_LN = 512;
constexpr size_t MAX_DB_ERROR_LN = 5120;
constexpr size_t MAX_SERVNAME_LN = 32;
constexpr size_t MAX_SERVPROTONAME_LN = 8;
constexpr size_t MAX_HOSTNAME_LN = 256;
constexpr size_t MAX_ALIASES = 64;
constexpr size_t MAX_ADDRESSES = 64;
constexpr size_t MAX_IPADDR_LN = 16;
constexpr size_t MAX_PWNAME_LN = 1024;
constexpr size_t MAX_PWPASSWD_LN = 1024;
constexpr size_t MAX_PWGECOS_LN = 1024;
constexpr size_t MAX_PWSHELL_LN = 1024;
constexpr size_t MAX_PWDIR_LN = 4097;
constexpr size_t MAX_PARAM_NUMBER = 64;

// ---- argument and environment arrays, command line, digits -------------------------
// NULL-terminated heap arrays of heap 16-bit strings (free with
// nlsui_freeStrArray).  Out of memory, and invalid UTF-8 in an argument, end
// the process with status 255 after the library's report; invalid
// environment entries are left out.  nlsui_environU16 gives NULL when the
// process has no environment.
KOV_UTF16** nlsui_argvU16(int argc, char** argv);
KOV_UTF16** nlsui_environU16();
KOV_UTF16** nlsui_convArrayU16(int n, char** vec, int mode);  // mode 0 arguments, 1 environment
int nlsui_freeStrArray(KOV_UTF16** array);                    // 1
// The arguments joined by blanks, at most 256 characters, bytes of 0x80 and
// above shown as '#'; kept as the library's command-line text and returned.
char* nlsui_argv2cmdline(int argc, char** argv);
// ecvt-style: n digits (at most 502) of value, the decimal point position and
// the sign; the digits live in a static buffer.
char* nlsui_ecvt(int n, int* position, int* sign, double value);

// ---- file system, directories, processes ---------------------------------------------
struct direntU16 {
    ino64_t d_ino;
    KOV_UTF16 d_name[MAX_PATH_LN];
};

KOV_UTF16* getcwdU16(KOV_UTF16* buf, size_t size);
int mkdirU16(const KOV_UTF16* path, mode_t mode);
int chmodU16(const KOV_UTF16* path, mode_t mode);
int chdirU16(const KOV_UTF16* path);
int accessU16(const KOV_UTF16* path, int mode);
int removeU16(const KOV_UTF16* path);
int renameU16(const KOV_UTF16* from, const KOV_UTF16* to);
DIR* opendirU16(const KOV_UTF16* path);
int readdir_rU16(DIR* dir, direntU16* entry, direntU16** result);
direntU16* readdirU16(DIR* dir);
FILE* fopenU16(const KOV_UTF16* path, const KOV_UTF16* mode);
int openU16(const KOV_UTF16* path, int flags, mode_t mode);
int openU16v(const KOV_UTF16* path, int flags, ...);
void* dlopenU16(const KOV_UTF16* path, int flags);
void* dlsymU16(void* handle, const KOV_UTF16* name);
KOV_UTF16* dlerrorU16();
// strftime into buf (max units); the length, or 0 when nothing was formatted,
// the text was invalid or too long, or not shorter than max.
size_t strfctimeU16(KOV_UTF16* buf, size_t max, const KOV_UTF16* format, const struct tm* tm);
int systemU16(const KOV_UTF16* command);
int execvU16(const KOV_UTF16* path, KOV_UTF16* const argv[]);
int execvpU16(const KOV_UTF16* file, KOV_UTF16* const argv[]);
int execveU16(const KOV_UTF16* path, KOV_UTF16* const argv[], KOV_UTF16* const envp[]);
// The list forms take at most 63 arguments before the NULL.
int vexeclU16(const KOV_UTF16* path, va_list ap);
int execlU16(const KOV_UTF16* path, ...);
int vexeclpU16(const KOV_UTF16* file, va_list ap);
int execlpU16(const KOV_UTF16* file, ...);
int vexecleU16(const KOV_UTF16* path, va_list ap);  // the environment follows the NULL
int execleU16(const KOV_UTF16* path, ...);

// ---- environment -------------------------------------------------------------------------
// putenv of a UTF-8 heap copy (kept until it leaves the environment); 0 or -1.
int putenvU16(const KOV_UTF16* text);
// A heap 16-bit copy of the value, valid for at least the next 127 calls; a
// static empty string for an empty value; NULL when unset or invalid.
KOV_UTF16* getenvU16(const KOV_UTF16* name);

// ---- XDR -----------------------------------------------------------------------------------
struct __rpc_xdr;
int xdr_stringU16(struct __rpc_xdr* xdrs, KOV_UTF16** str, unsigned int maxsize);

// ---- name services -------------------------------------------------------------------------
struct serventU16 {
    KOV_UTF16* s_name;
    KOV_UTF16** s_aliases;
    int s_port;
    KOV_UTF16* s_proto;
};
struct hostentU16 {
    KOV_UTF16* h_name;
    KOV_UTF16** h_aliases;
    int h_addrtype;
    int h_length;
    char** h_addr_list;
};
struct passwdU16 {
    KOV_UTF16* pw_name;
    KOV_UTF16* pw_passwd;
    uid_t pw_uid;
    gid_t pw_gid;
    KOV_UTF16* pw_gecos;
    KOV_UTF16* pw_dir;
    KOV_UTF16* pw_shell;
};
serventU16* getservbyportU16(int port, const KOV_UTF16* proto);
serventU16* getservbynameU16(const KOV_UTF16* name, const KOV_UTF16* proto);
hostentU16* gethostbynameU16(const KOV_UTF16* name);
hostentU16* gethostentU16();
hostentU16* gethostbyaddrU16(const void* addr, socklen_t len, int type);
passwdU16* getpwuidU16(uid_t uid);
passwdU16* getpwnamU16(const KOV_UTF16* name);

// ---- the cast check ----------------------------------------------------------------------
// An odd address is reported on stderr and aborts the process unless
// KOVCASTRAW2UCCHK is exactly "0"; the pointer is returned.
KOV_UTF16* nlsui_cast_raw2uc(void* p, const KOV_UTF16* file, int line);
