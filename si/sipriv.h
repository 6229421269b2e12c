// Shared internals of the socket interface: trace lines in the trace layer's
// sequence, the repeated poll, and the Fi index that select sets keep.
#pragma once

#include <cstdint>

#include "si/fi.h"
#include "si/si.h"
#include "trace/dptrc.h"

struct pollfd;
struct SISEL_FI;

enum class SiTrc { Err, Errno, Warn, Plain };

// One trace line: lock, location (module and source line), writer, unlock.
// Plain lines are written with the entry level set to their level.
void SiTraceLine(const char* module, int level, int srcLine, SiTrc kind, const char* fmt, ...)
    __attribute__((format(printf, 5, 6)));

// The level is tested before anything else is done.
#define SI_TRACE(module, level, kind, ...)                               \
  do {                                                                   \
    if (ct_level >= (level)) SiTraceLine(module, level, __LINE__, kind, __VA_ARGS__); \
  } while (0)

inline constexpr int kSiBusyLimit = 5000;

// poll, repeated at once when interrupted and, up to kSiBusyLimit times, when
// the system is short of memory; a line tells how often it was busy.
int32_t SiPollRetry(const char* module, const char* name, pollfd* fds, uint32_t n,
                    int32_t timeoutMs, uint32_t* ready, int32_t* err);

// ---- The Fi index of a select set ----

// Sizes, lays out and opens the index for maxEntries descriptors whose keys
// and values lie in the table at base; trace lines carry the set's name.
int32_t SiSelFiOpen(SISEL_FI* fi, const char* module, const char* name, uint32_t maxEntries,
                    const void* base);
// Empties the index by closing and opening it again.
int32_t SiSelFiReopen(SISEL_FI* fi, const char* module, const char* name, const void* base);
void SiSelFiClose(SISEL_FI* fi, const char* module, const char* name);
// The table element keyed by a descriptor (null when it is no member), with
// the leaf that holds it.
const void* SiSelFiFind(const SISEL_FI& fi, int32_t fd, int32_t* leaf);

// The element as an index into table[0 .. n), or -1.
template <class T>
int64_t SiSelFiPos(const SISEL_FI& fi, const T* table, uint32_t n, int32_t fd, int32_t* leaf) {
  const void* v = SiSelFiFind(fi, fd, leaf);
  if (v == nullptr || table == nullptr) return -1;
  const auto at = reinterpret_cast<uintptr_t>(v);
  const auto base = reinterpret_cast<uintptr_t>(table);
  if (at < base || (at - base) % sizeof(T) != 0 || (at - base) / sizeof(T) >= n) return -1;
  return static_cast<int64_t>((at - base) / sizeof(T));
}

// ---- Small pieces of the select sets ----

inline char SiEvChar(bool on, char c) { return on ? c : '-'; }
// Low 32 bits of an address, for the dumps.
inline uint32_t SiLow32(const void* p) {
  return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p));
}
// Descriptor-set bits of a descriptor already known to be below SI_FD_SETSIZE.
inline bool SiBitIsSet(const SI_FD_SET& s, uint32_t d) { return (s.bits[d / 64] >> (d % 64)) & 1u; }
inline void SiBitSet(SI_FD_SET& s, uint32_t d) { s.bits[d / 64] |= uint64_t{1} << (d % 64); }
inline void SiBitClr(SI_FD_SET& s, uint32_t d) { s.bits[d / 64] &= ~(uint64_t{1} << (d % 64)); }
