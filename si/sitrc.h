// Trace lines of the socket interface, each written in the trace layer's
// sequence: level check, lock, location, one writer, unlock.  The location is
// the source unit's name and line.
#pragma once

#include "trace/dptrc.h"

// Located error line ("*** ERROR => ...") at the given level.
#define SI_TRC_ERR(level, ...)              \
  do {                                      \
    if (ct_level >= (level)) {              \
      DpTrcLockAcquire();                   \
      DpTrcSaveLoc("siux", __LINE__);       \
      DpTrcErr(tf, __VA_ARGS__);            \
      DpTrcLockRelease();                   \
    }                                       \
  } while (0)

// Located error line with the current errno and its text.
#define SI_TRC_ERRNO(level, ...)            \
  do {                                      \
    if (ct_level >= (level)) {              \
      DpTrcLockAcquire();                   \
      DpTrcSaveLoc("siux", __LINE__);       \
      DpTrcErrno(tf, __VA_ARGS__);          \
      DpTrcLockRelease();                   \
    }                                       \
  } while (0)

// Plain line at level 2.
#define SI_TRC(level, ...)                  \
  do {                                      \
    if (ct_level >= (level)) {              \
      DpTrcLockAcquire();                   \
      DpTrcSaveLoc("siux", __LINE__);       \
      DpTrc(tf, __VA_ARGS__);               \
      DpTrcLockRelease();                   \
    }                                       \
  } while (0)

// Plain detail line at level 3, written with the entry level raised to 3.
#define SI_TRC_DETAIL(...)                  \
  do {                                      \
    if (ct_level >= 3) {                    \
      DpTrcLockAcquire();                   \
      DpTrcSaveLoc("siux", __LINE__);       \
      EntLev = 3;                           \
      DpTrc(tf, __VA_ARGS__);               \
      EntLev = 2;                           \
      DpTrcLockRelease();                   \
    }                                       \
  } while (0)
