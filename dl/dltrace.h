// Trace lines of the dynamic loader: the caller's level check, then the
// location and one writer on tf under the trace lock.
#pragma once

#include "trace/dptrc.h"

#define DL_TRACE(module, level, writer, ...) \
    do { \
        if (ct_level >= (level)) { \
            DpTrcLockAcquire(); \
            DpTrcSaveLoc((module), __LINE__); \
            writer(tf, __VA_ARGS__); \
            DpTrcLockRelease(); \
        } \
    } while (0)
