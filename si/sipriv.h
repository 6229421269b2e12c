// Shared internals of the socket interface: trace lines in the trace layer's
// sequence, the repeated poll, and the Fi index that select sets keep.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>

#include "si/fi.h"
#include "si/si.h"
#include "si/siselimpl.h"
#include "trace/dptrc.h"

struct pollfd;

enum class SiTrc { Err, Errno, Warn, Plain };

// One trace line: lock, location (module and source line), writer, unlock.
// Plain lines are written with the entry level set to their level.
void SiTraceLine(const char* module, int level, int srcLine, SiTrc kind, const char* fmt, ...)
    __attribute__((format(printf, 5, 6)));

// The level is tested before anything else is done.
#define SI_TRACE(module, level, kind, ...) \
    do { \
        if (ct_level >= (level)) \
            SiTraceLine(module, level, __LINE__, kind, __VA_ARGS__); \
    } while (0)

inline constexpr int kSiBusyLimit = 5000;

// poll, repeated at once when interrupted and, up to kSiBusyLimit times, when
// the system is short of memory; a line tells how often it was busy.
int32_t SiPollRetry(const char* module, const char* name, pollfd* fds, uint32_t n, int32_t timeoutMs, uint32_t* ready,
                    int32_t* err);

// ---- The Fi index of a select set ----

void SiSelFiClose(SISEL_FI* fi, const char* module, const char* name);
// The table element keyed by a descriptor (null when it is no member), with
// the leaf that holds it.
const void* SiSelFiFind(const SISEL_FI& fi, int32_t fd, int32_t* leaf);

// The index of the element at p in table[0 .. n), or -1 when p is not the
// address of one (null, outside, or between elements).
template <class T>
int64_t SiSelIndexOf(const T* table, uint32_t n, const void* p)
{
    if (p == nullptr || table == nullptr)
        return -1;
    const auto at = reinterpret_cast<uintptr_t>(p);
    const auto base = reinterpret_cast<uintptr_t>(table);
    if (at < base || (at - base) % sizeof(T) != 0 || (at - base) / sizeof(T) >= n)
        return -1;
    return static_cast<int64_t>((at - base) / sizeof(T));
}

// The element as an index into table[0 .. n), or -1.
template <class T>
int64_t SiSelFiPos(const SISEL_FI& fi, const T* table, uint32_t n, int32_t fd, int32_t* leaf)
{
    return SiSelIndexOf(table, n, SiSelFiFind(fi, fd, leaf));
}

// ---- Small pieces of the select sets ----

inline char SiEvChar(bool on, char c)
{
    return on ? c : '-';
}
// Low 32 bits of an address, for the dumps.
inline uint32_t SiLow32(const void* p)
{
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p));
}
// Descriptor-set bits of a descriptor already known to be below SI_FD_SETSIZE.
inline bool SiBitIsSet(const SI_FD_SET& s, uint32_t d)
{
    return (s.bits[d / 64] >> (d % 64)) & 1u;
}
inline void SiBitSet(SI_FD_SET& s, uint32_t d)
{
    s.bits[d / 64] |= uint64_t{1} << (d % 64);
}
inline void SiBitClr(SI_FD_SET& s, uint32_t d)
{
    s.bits[d / 64] &= ~(uint64_t{1} << (d % 64));
}

// A ready member of a walk with returned events r, p and w (read, priority,
// write): the flags that are not null receive them, and a line names them.
// True when one of them is an event the caller asked about.
inline bool SiSelReport(const char* module, const char* name, int32_t fd, uint32_t pos, bool r, bool p, bool w,
                        uint8_t* read, uint8_t* readPri, uint8_t* write)
{
    const bool reported = (read != nullptr && r) || (readPri != nullptr && p) || (write != nullptr && w);
    if (read != nullptr)
        *read = r;
    if (readPri != nullptr)
        *readPri = p;
    if (write != nullptr)
        *write = w;
    SI_TRACE(module, 3, SiTrc::Plain, "%s: sock %d selected (pos=%u; revt=%c%c%c)\n", name, fd, pos, SiEvChar(r, 'r'),
             SiEvChar(p, 'p'), SiEvChar(w, 'w'));
    return reported;
}

// The refusals before a slotted set adds or changes a member: no socket, or
// a set that Init has not prepared (ready false).  SI_OK or SI_EINVAL after
// the line that says which.
inline int32_t SiSelSetCheck(const char* module, const char* name, const SI_SOCK* sock, bool ready)
{
    if (sock == nullptr) {
        SI_TRACE(module, 2, SiTrc::Plain, "%s: sock %d not member of set\n", name, -1);
        return SI_EINVAL;
    }
    if (!ready) {
        SI_TRACE(module, 1, SiTrc::Plain, "%s: set not initialised\n", name);
        return SI_EINVAL;
    }
    return SI_OK;
}

// The member at a descriptor in a slotted set, or -1 after the line that it
// is not one.
template <class T>
int64_t SiSelFiMember(const SISEL_FI& fi, const T* table, uint32_t n, SI_SOCK* sock, const char* module,
                      const char* name, int32_t* leaf)
{
    const int32_t fd = sock != nullptr ? sock->sock : -1;
    const int64_t p = sock != nullptr ? SiSelFiPos(fi, table, n, fd, leaf) : -1;
    if (p < 0)
        SI_TRACE(module, 2, SiTrc::Plain, "%s: sock %d not member of set\n", name, fd);
    return p;
}

// A zeroed table of n elements of a set, or null after the line that says so
// (type names the element in that line).
template <class T>
T* SiSelNewTable(const char* module, const char* name, const char* type, uint32_t n)
{
    T* table = new (std::nothrow) T[n]();
    if (table == nullptr)
        SI_TRACE(module, 1, SiTrc::Err, "%s: failed to allocate %s[%u]\n", name, type, n);
    return table;
}

// The end of a slotted set's Init: the index over its key table (null when
// a table could not be made: SI_EMEMORY, already reported), then the
// observer's CreateMsg.  On failure the caller releases what it made.
int32_t SiSelOpenTable(SISEL_FI* fi, const char* module, const char* name, uint32_t maxEntries, const void* keyTable,
                       SISEL_SPEC::CB_FUNCS* cb);

// Takes a member's key out of the index: SI_OK, or SI_EINTERN after the line.
int32_t SiSelFiRemove(const SISEL_FI& fi, const char* module, const char* name, int32_t leaf);

// Empties a slotted set's index, the first bytes of its table at base
// cleared first, and says that all sockets went.
int32_t SiSelFiEmpty(SISEL_FI* fi, const char* module, const char* name, void* base, size_t bytes);

// The slot of a new member in a set whose members sit in numbered slots of
// entries, the free ones chained through link from freeList: the head of the
// free list, else the slot after the highest.  keyAt(pos) names the slot's
// key word and value; the key is written there and the index takes it.  Then
// the slot leaves the free list (or highest grows), count grows and a line
// names the slot; the caller fills it.  SI_OK with *pos, or the refusal with
// its line and nothing changed.
template <class El, class KeyAt>
int32_t SiSelTakeSlot(const char* module, const char* name, const SISEL_FI& fi, int32_t fd, El* entries, El*& freeList,
                      El* El::*link, uint32_t& count, uint32_t& highest, uint32_t maxEntries, KeyAt keyAt,
                      uint32_t* pos)
{
    if (fd < 0) {
        SI_TRACE(module, 1, SiTrc::Plain, "%s: sock %d negative\n", name, fd);
        return SI_EINVAL;
    }
    if (count >= maxEntries) {
        SI_TRACE(module, 1, SiTrc::Plain, "%s: maximum of sockets reached (%u)\n", name, maxEntries);
        return SI_EINVAL;
    }
    if (freeList == nullptr && count != highest) {
        SI_TRACE(module, 1, SiTrc::Err, "%s: internal status error (%u<>%u)\n", name, count, highest);
        return SI_EINTERN;
    }
    const uint32_t p = freeList != nullptr ? static_cast<uint32_t>(freeList - entries) : count;
    const auto [key, value] = keyAt(p);
    *key = fd;
    int32_t leaf = 0;
    const int32_t rc = FiInsert(fi.fiIndex, key, value, &leaf);
    if (rc != FI_OK) {
        *key = -1;
        SI_TRACE(module, 1, SiTrc::Err, "%s: FiInsert failed (rc=%d)\n", name, rc);
        return SI_EINTERN;
    }
    if (freeList != nullptr)
        freeList = freeList->*link;
    else
        highest = count + 1;
    ++count;
    SI_TRACE(module, 3, SiTrc::Plain, "%s: sock %d added to set pos %u\n", name, fd, p);
    *pos = p;
    return SI_OK;
}

// Gives the slot of a removed member back: the highest slot lowers highest,
// any other becomes the head of the free list.  Returns the link the freed
// slot must carry.
template <class El>
El* SiSelFreeSlot(const char* module, const char* name, El* el, uint32_t pos, int32_t fd, uint32_t& highest,
                  El*& freeList)
{
    if (pos == highest - 1) {
        --highest;
        SI_TRACE(module, 3, SiTrc::Plain, "%s: removed last sock %d (pos=%u)\n", name, fd, pos);
        return nullptr;
    }
    El* link = freeList;
    freeList = el;
    SI_TRACE(module, 3, SiTrc::Plain, "%s: removed sock %d (pos=%u)\n", name, fd, pos);
    return link;
}

template <class Step>
int32_t SiSelFdSets::Walk(const char* module, const char* name, uint8_t invalidSocket, SISEL_SPEC::CB_FUNCS* cb,
                          uint8_t* read, uint8_t* readPri, uint8_t* write, SI_SOCK** sock, void** data, Step step) const
{
    if (sock == nullptr)
        return SI_EINVAL;
    *sock = nullptr;
    if (data != nullptr)
        *data = nullptr;
    NoFlags(read, readPri, write);
    SiSelMember m{};
    while (step(&m)) {
        int32_t rc = SI_OK;
        if (m.sock != nullptr &&
            Candidate(module, name, m.d, m.pos, invalidSocket, m.sock, cb, read, readPri, write, &rc)) {
            *sock = m.sock;
            if (data != nullptr)
                *data = m.data;
            return rc;
        }
    }
    if (cb == nullptr)
        SI_TRACE(module, 3, SiTrc::Plain, "%s: no more selected sockets\n", name);
    NoFlags(read, readPri, write);
    return SI_OK;
}
