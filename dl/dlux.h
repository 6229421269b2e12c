// Dynamic loader: shared libraries loaded with lazy binding and named by small
// integer handles, their functions resolved by name, and a second layer that
// loads a library by path, calls one entry function and counts references.
//
// Failures are traced on tf; a library that cannot be opened is also recorded
// in the error-information record (component "DL (Dynamic Loader)").  The
// tables are process-wide and unlocked, like the rest of the kernel layers.
#pragma once

#include <cstdint>

typedef int32_t DL_HDL;
typedef void (*DL_FUNC)();

inline constexpr DL_HDL DL_NO_HDL = -1;
inline constexpr int DL_MAX_LIBS = 64;     // handle table entries
inline constexpr int DL_PATH_MAX = 255;    // longest path DlLoadLib takes
inline constexpr int DLXX_MAX_LIBS = 32;   // path-keyed table entries
inline constexpr int DLXX_PATH_MAX = 127;  // longest path of the path-keyed layer

enum : int {
    DL_OK = 0,
    DLENOACCESS = -2,  // the platform refused to open the library or find the symbol
    DLEINVAL = -3,     // invalid handle or argument, or path too long
    DLENOHANDLE = -4,  // all handles are in use
    DLEUNLOAD = -5,    // closing failed, or no library loaded under that path
    DLEMAPPED = -6,    // DlxxMapRc of a non-zero value
};

// Loads the library at path; *hdl is DL_NO_HDL unless it succeeds.
int DlLoadLib(const char* path, DL_HDL* hdl);
// Resolves a function of a loaded library.  reserved is unused.
int DlLoadFunc(DL_HDL hdl, const char* symbol, void* reserved, DL_FUNC* func);
// Unloads the library; *hdl becomes DL_NO_HDL on success.
int DlUnloadLib(DL_HDL* hdl);

// Path-keyed layer: loads the library once per path (or reuses it), calls its
// argument-less entry function `symbol` and returns what that returns; NULL
// on any failure, when the library is unloaded again unless it was loaded
// before.  Every non-NULL result, and every call on a library already loaded,
// counts one reference.
void* DlxxLoadAndCall(const char* symbol, const char* path);
// Drops one reference; the last one unloads the library.
int DlxxUnload(const char* path);
// DLEMAPPED for any non-zero value, else DL_OK.
int DlxxMapRc(int value);
