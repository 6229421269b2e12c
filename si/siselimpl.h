// The select-set implementations.  SiSelCreateSet makes the poll set (types
// POLL and F_CONN, and the default) and the select-call set (SELECT); the
// epoll and position-list sets are complete but made by no type.
#pragma once

#include <cstdint>

#include "si/fi.h"
#include "si/sisel.h"

// A poll descriptor in the system's layout.
struct SI_POLL_FD {
    int32_t fd;
    int16_t events;
    int16_t revents;
};

// One member as the walk of a list-walking set meets it: descriptor,
// position, socket (null for a slot without member) and data.
struct SiSelMember {
    uint32_t d;
    uint32_t pos;
    SI_SOCK* sock;
    void* data;
};

// The requested and returned descriptor sets of the select-call sets.
struct SiSelFdSets {
    SI_FD_SET readReq, writeReq, priReq;
    SI_FD_SET readRes, writeRes, priRes;

    void ClearRequests();
    // ClearRequests with the line that says so.
    void ClearAll(const char* module, const char* name);
    // Adds mode's bits to d's requests; exclusive 1 makes them exactly mode.
    // This and Drop end with the line of d's requests.
    void Request(const char* module, const char* name, uint32_t d, uint8_t mode, uint8_t exclusive);
    void Drop(const char* module, const char* name, uint32_t d, uint8_t mode);
    void Forget(uint32_t d);  // from all six sets
    uint8_t Requested(uint32_t d) const;
    uint8_t Returned(uint32_t d) const;
    // Status bits of d after a wait: INVAL_SOCK or nothing after one that met
    // closed descriptors (the socket is looked at), else the returned events.
    uint8_t Status(uint32_t d, uint8_t invalidSocket, SI_SOCK* sock) const;
    // One select over the descriptors below nfds, the requests copied first.
    // A closed descriptor among them sets *invalidSocket and leaves the
    // requests as results; SI_OK or SI_EINTERN, with the lines of each case.
    int32_t Wait(const char* module, const char* name, uint32_t nfds, int32_t timeoutMs, uint32_t count, bool observed,
                 uint8_t* invalidSocket, uint32_t* nSelected);
    // One member (descriptor d, position pos) of the walk after a wait: its
    // flags, its line and the observer's SetEventPos.  True when it is to be
    // handed out, with *rc SI_OK, or SI_EINVAL_SOCK for a closed one after a
    // wait that met closed descriptors.
    bool Candidate(const char* module, const char* name, uint32_t d, uint32_t pos, uint8_t invalidSocket, SI_SOCK* sock,
                   SISEL_SPEC::CB_FUNCS* cb, uint8_t* read, uint8_t* readPri, uint8_t* write, int32_t* rc) const;
    // The flags a walk leaves when it ends.
    static void NoFlags(uint8_t* read, uint8_t* readPri, uint8_t* write);
    // Next of a list-walking set: step(&member) moves the walk on and is false
    // at the end of the list.  The first member to hand out goes to *sock and
    // *data with its flags and result; at the end *sock is null, the flags 0,
    // and a line says so.
    template <class Step>
    int32_t Walk(const char* module, const char* name, uint8_t invalidSocket, SISEL_SPEC::CB_FUNCS* cb, uint8_t* read,
                 uint8_t* readPri, uint8_t* write, SI_SOCK** sock, void** data, Step step) const;

private:
    void DropBits(uint32_t d, uint8_t mode);
    void TraceRequests(const char* module, const char* name, uint32_t d) const;
};

#define SISEL_SPEC_OPERATIONS \
    int32_t Init(uint32_t n) override; \
    int32_t Set(SI_SOCK* sock, uint8_t mode, void* data, uint8_t exclusive) override; \
    int32_t Clear(SI_SOCK* sock, uint8_t mode) override; \
    int32_t ClearSet() override; \
    int32_t Remove(SI_SOCK* sock, uint8_t reorganise) override; \
    int32_t RemoveAll() override; \
    int32_t Select(int32_t timeoutMs, uint32_t* nSelected) override; \
    int32_t StartLoop() override; \
    int32_t Next(uint8_t* read, uint8_t* readPri, uint8_t* write, SI_SOCK** sock, void** data) override; \
    int32_t GetMode(SI_SOCK* sock, uint8_t* mode) override; \
    int32_t GetStat(SI_SOCK* sock, uint8_t* stat) override; \
    uint32_t GetMaxEntries() override; \
    uint8_t IsMember(SI_SOCK* sock) override; \
    int32_t GetData(SI_SOCK* sock, void** data) override; \
    int32_t SetData(SI_SOCK* sock, void* data) override; \
    int32_t Dump(FILE* stream) override; \
    int32_t GetSocketAtPos(uint32_t pos) override; \
    int32_t GetSocketPos(SI_SOCK* sock, uint32_t* pos) override; \
    int32_t GetStatEx(SI_SOCK* sock, uint8_t* stat, SI_SOCK** outSock, void** data) override;

// The Fi index of a set: its memory, block and index handle.  A set keeps
// the descriptor of each member as a 4-byte key in one of its own tables,
// with the table element as the value.
struct SISEL_FI {
    uint8_t* fiMemory = nullptr;
    void* fiBlock = nullptr;
    FI_HDL fiIndex = nullptr;
};

// Poll set: members in the slots of a dense poll array; freed slots are
// reused first, and the array is compacted when it becomes too sparse.
class SISEL_POLL : public SISEL_SPEC {
public:
    struct FD_EL {
        SI_SOCK* pSocket;
        void* pData;
        FD_EL* nxt;
    };
    SISEL_SPEC_OPERATIONS
    ~SISEL_POLL() override;

private:
    int32_t Find(SI_SOCK* sock, const char* name, uint32_t* pos, int32_t* leaf);
    int32_t Add(SI_SOCK* sock, void* data, uint32_t* pos);
    int32_t Optimize();
    void Release();

    uint32_t count = 0;
    uint32_t highest = 0;
    uint32_t maxEntries = 32768;
    SI_POLL_FD* fds = nullptr;
    uint32_t loopPos = 32768;
    FD_EL* entries = nullptr;
    FD_EL* freeList = nullptr;
    SISEL_FI fi;
};

// Select-call set: a member's position is its descriptor; requested and
// returned events live in descriptor sets; members form a list, newest first.
class SISEL_SELECT : public SISEL_SPEC {
public:
    static const uint32_t MAX_SOCKETS;
    struct FD_EL {
        SI_SOCK* pSocket;
        void* pData;
        uint16_t nxt;  // the member added before it; 65535 = none
        uint16_t prv;  // the member added after it
    };
    SISEL_SPEC_OPERATIONS
    ~SISEL_SELECT() override;

private:
    int32_t Check(SI_SOCK* sock, const char* name, bool member);

    uint32_t count = 0;
    uint32_t highest = 0;
    uint32_t maxEntries = MAX_SOCKETS;
    SiSelFdSets sets{};
    uint16_t loopPos = 0;
    uint16_t listHead = 0;
    uint8_t invalidSocket = 0;
    FD_EL* entries = nullptr;
};

// Epoll set: positions as in the poll set, the waiting done by epoll; the
// ready entries of the last wait form the selected list.
class SISEL_EPOLL : public SISEL_SPEC {
public:
    struct FD_EL {
        SI_SOCK* pSocket;
        void* pData;
        int32_t sock;      // -1 while free
        uint32_t events;   // requested: 1 read, 2 priority, 4 write
        uint32_t revents;  // returned by the last wait
        FD_EL* link;       // free list, or selected list
    };
    SISEL_SPEC_OPERATIONS
    ~SISEL_EPOLL() override;

private:
    int32_t Find(SI_SOCK* sock, const char* name, FD_EL** el, int32_t* leaf);
    int32_t Add(SI_SOCK* sock, void* data, FD_EL** el);
    int32_t Register(FD_EL* el, int op);
    int32_t Closed(SI_SOCK* sock, const char* name);
    void Unselect(FD_EL* el);
    bool IsEntry(const FD_EL* el) const;
    void Release();
    uint32_t PosOf(const FD_EL* el) const { return static_cast<uint32_t>(el - entries); }

    uint32_t count = 0;
    uint32_t highest = 0;
    uint32_t maxEntries = 32768;
    int32_t epollFd = -1;
    void* events = nullptr;  // maxEntries system epoll events
    FD_EL* entries = nullptr;
    FD_EL* freeList = nullptr;
    FD_EL* selectedList = nullptr;
    SISEL_FI fi;
    uint32_t lastReady = 0;  // events of the last wait still in the buffer
};

// Position-list set: waits with the select call, members in numbered
// positions found through a Fi index, chained newest first.
class SISEL_SEL_NT : public SISEL_SPEC {
public:
    static const uint32_t MAX_SOCKETS;
    struct FD_EL {
        int32_t sock;  // -1 while free
        SI_SOCK* pSocket;
        void* pData;
        FD_EL* nxt;  // the member added before it; also the free list
        FD_EL* prv;  // the member added after it
    };
    SISEL_SPEC_OPERATIONS
    ~SISEL_SEL_NT() override;

private:
    int32_t Find(SI_SOCK* sock, const char* name, FD_EL** el, int32_t* leaf);
    int32_t Add(SI_SOCK* sock, void* data, FD_EL** el);
    void Release();
    uint32_t PosOf(const FD_EL* el) const { return static_cast<uint32_t>(el - entries); }

    uint32_t count = 0;
    uint32_t highest = 0;
    uint32_t highestFd = 0;
    uint32_t maxEntries = MAX_SOCKETS;
    SiSelFdSets sets{};
    FD_EL* loopPos = nullptr;
    uint8_t invalidSocket = 0;
    FD_EL* entries = nullptr;
    FD_EL* listHead = nullptr;
    FD_EL* freeList = nullptr;
    SISEL_FI fi;
};

#undef SISEL_SPEC_OPERATIONS
