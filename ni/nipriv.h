// Shared internals of the network interface: the component and version that
// its error records carry, and the macros that set them.  A source file that
// uses the macros defines kModule, its module name, first.
#pragma once

#include "trace/errinfo.h"

inline constexpr const char* kNiComponent = "NI (network interface)";
inline constexpr int kNiVersion = 40;

#define NI_ERR(rc, descr, detail, ...) \
    ErrSet(kNiComponent, kNiVersion, kModule, __LINE__, descr, rc, detail, __VA_ARGS__)
#define NI_ERR_SYS(rc, descr, detail, call, err, ...) \
    ErrSetSys(kNiComponent, kNiVersion, kModule, __LINE__, 0, descr, rc, detail, call, err, __VA_ARGS__)
