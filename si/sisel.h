// Select sets: a collection of SI sockets, each with the events its owner
// waits for and an opaque data pointer.  The owner adds and removes sockets,
// waits once for all of them (Select) and walks the ready ones (StartLoop,
// Next).
//
// SISEL is the interface callers hold; SISEL_IMPL is the public object, which
// owns one implementation (a SISEL_SPEC) and forwards every operation to it.
// An implementation tells an attached observer (SISEL_SPEC::CB_FUNCS) about
// every change of positions, so that a derived set can keep a table of its
// own in step.  Members are stored by their SI_SOCK pointer but looked up by
// the descriptor in its sock field; the set never closes or changes a socket,
// and the caller keeps each member alive while it is one.
//
// Results are SI return codes: SI_OK, SI_EINVAL (the caller's mistake: not a
// member, out of range, set full, parameter too big, set not initialised),
// SI_EINVAL_SOCK, SI_EINTERN and SI_EMEMORY.  Every failure also writes one
// trace line on the default trace file when the trace level allows it.
// A set has no lock: one thread uses a set at a time.
#pragma once

#include <cstdint>
#include <cstdio>

#include "si/si.h"

class SISEL {
public:
    // Event bits of a requested mode, and status bits of a returned one.
    static constexpr uint8_t READ = 1;
    static constexpr uint8_t WRITE = 2;
    static constexpr uint8_t READ_PRI = 8;
    static constexpr uint8_t INVAL_SOCK = 0x40;  // status: the descriptor is not open
    static constexpr uint8_t SOCK_ERROR = 0x80;  // status: error or hang-up

    // Prepares an empty set for up to n sockets.
    virtual int32_t Init(uint32_t n) = 0;
    // Adds the socket with data unless it is a member (a member keeps its
    // data), then adds mode's bits to its requested events; with exclusive 1
    // the requested events become exactly mode.
    virtual int32_t Set(SI_SOCK* sock, uint8_t mode, void* data, uint8_t exclusive) = 0;
    virtual int32_t Clear(SI_SOCK* sock, uint8_t mode) = 0;
    virtual int32_t ClearSet() = 0;
    // reorganise 1 lets the set rearrange its tables (ending a walk); any other
    // value keeps a walk in progress valid.
    virtual int32_t Remove(SI_SOCK* sock, uint8_t reorganise) = 0;
    virtual int32_t RemoveAll() = 0;
    // Waits until a requested event occurs or timeoutMs passes (negative: no
    // limit); *nSelected (may be null) receives the number of ready sockets.
    virtual int32_t Select(int32_t timeoutMs, uint32_t* nSelected) = 0;
    virtual int32_t StartLoop() = 0;
    // The next ready socket, null at the end.  Flag pointers may be null; a
    // socket whose only events have null pointers is passed over.  A closed,
    // hung-up or failed socket comes with an error code.
    virtual int32_t Next(uint8_t* read, uint8_t* readPri, uint8_t* write, SI_SOCK** sock, void** data) = 0;
    virtual int32_t GetMode(SI_SOCK* sock, uint8_t* mode) = 0;
    virtual int32_t GetStat(SI_SOCK* sock, uint8_t* stat) = 0;
    virtual uint32_t GetMaxEntries() = 0;
    virtual uint8_t IsMember(SI_SOCK* sock) = 0;
    virtual int32_t GetData(SI_SOCK* sock, void** data) = 0;
    virtual int32_t SetData(SI_SOCK* sock, void* data) = 0;
    virtual int32_t Dump(FILE* stream) = 0;
    virtual ~SISEL() = default;
};

extern const uint8_t SISEL_READ;
extern const uint8_t SISEL_WRITE;
extern const uint8_t SISEL_READ_PRI;
extern const uint8_t SISEL_INVAL_SOCK;
extern const uint8_t SISEL_SOCK_ERROR;

// Base of the implementations.  Positions are unsigned indices into an
// implementation's tables (the select-call set uses descriptor numbers).
class SISEL_SPEC : public SISEL {
public:
    // Observer of position changes, called synchronously; its results are
    // ignored.  The set does not own it.
    class CB_FUNCS {
    public:
        virtual int32_t CreateMsg(uint32_t capacity, uint32_t zero) = 0;
        virtual int32_t AddMsg(uint32_t pos) = 0;
        virtual int32_t MoveMsg(uint32_t from, uint32_t to) = 0;
        virtual int32_t RemoveMsg(uint32_t pos) = 0;
        virtual int32_t ResetMsg() = 0;
        virtual int32_t SetEventPos(uint32_t pos) = 0;
        virtual int32_t Dump(FILE* stream, int32_t pos) = 0;

    protected:
        ~CB_FUNCS() = default;
    };

    // Attaches an observer (null detaches).
    void SetCbFuncs(CB_FUNCS* observer) { cb = observer; }
    // Descriptor stored at a position; -1 when pos is out of range.
    virtual int32_t GetSocketAtPos(uint32_t pos) = 0;
    virtual int32_t GetSocketPos(SI_SOCK* sock, uint32_t* pos) = 0;
    // As GetStat, with the member's stored socket pointer and data.
    virtual int32_t GetStatEx(SI_SOCK* sock, uint8_t* stat, SI_SOCK** outSock, void** data) = 0;

protected:
    CB_FUNCS* cb = nullptr;
};

// The public set: forwards to its implementation, which it owns.
class SISEL_IMPL : public SISEL {
public:
    static constexpr uint8_t POLL = 0;
    static constexpr uint8_t SELECT = 1;
    static constexpr uint8_t F_CONN = 2;

    int32_t Init(uint32_t n) override;
    int32_t Set(SI_SOCK* sock, uint8_t mode, void* data, uint8_t exclusive) override;
    int32_t Clear(SI_SOCK* sock, uint8_t mode) override;
    int32_t ClearSet() override;
    int32_t Remove(SI_SOCK* sock, uint8_t reorganise) override;
    int32_t RemoveAll() override;
    int32_t Select(int32_t timeoutMs, uint32_t* nSelected) override;
    int32_t StartLoop() override;
    int32_t Next(uint8_t* read, uint8_t* readPri, uint8_t* write, SI_SOCK** sock, void** data) override;
    int32_t GetMode(SI_SOCK* sock, uint8_t* mode) override;
    int32_t GetStat(SI_SOCK* sock, uint8_t* stat) override;
    uint32_t GetMaxEntries() override;
    uint8_t IsMember(SI_SOCK* sock) override;
    int32_t GetData(SI_SOCK* sock, void** data) override;
    int32_t SetData(SI_SOCK* sock, void* data) override;
    int32_t Dump(FILE* stream) override;
    ~SISEL_IMPL() override;

    // Creates the implementation for a type (null: poll; POLL and F_CONN:
    // poll; SELECT: select call).  Once per set: a second call is refused.
    virtual int32_t SiSelAddSpecImpl(const uint8_t* type);

protected:
    // The specialised set (poll, select call, ...) that every operation is
    // forwarded to; owned, null until SiSelAddSpecImpl created it.
    SISEL_SPEC* spec = nullptr;
};

// A new set of the type, null when the type is unknown or memory is short.
SISEL_IMPL* SiSelCreateSet(const uint8_t* type);

// Wrappers for callers that hold a SISEL pointer.
int32_t SiSelInitSet(SISEL** set, uint32_t n);
int32_t SiSelDestroySet(SISEL** set);
int32_t SiSelSet(SISEL* set, SI_SOCK* sock, uint8_t mode, void* data);
int32_t SiSelSetExact(SISEL* set, SI_SOCK* sock, uint8_t mode, void* data);
int32_t SiSelClear(SISEL* set, SI_SOCK* sock, uint8_t mode);
int32_t SiSelClearSet(SISEL* set);
int32_t SiSelRemove(SISEL* set, SI_SOCK* sock);
int32_t SiSelRemoveAll(SISEL* set);
int32_t SiSelSelect(SISEL* set, int32_t timeoutMs, uint32_t* nSelected);
int32_t SiSelStartLoop(SISEL* set);
int32_t SiSelNext(SISEL* set, uint8_t* read, uint8_t* readPri, uint8_t* write, SI_SOCK** sock, void** data);
int32_t SiSelGetMode(SISEL* set, SI_SOCK* sock, uint8_t* mode);
int32_t SiSelGetStat(SISEL* set, SI_SOCK* sock, uint8_t* stat);
uint32_t SiSelGetMaxEntries(SISEL* set);
uint8_t SiSelIsMember(SISEL* set, SI_SOCK* sock);
int32_t SiSelGetData(SISEL* set, SI_SOCK* sock, void** data);
int32_t SiSelSetData(SISEL* set, SI_SOCK* sock, void* data);
int32_t SiSelDump(SISEL* set, FILE* stream);
