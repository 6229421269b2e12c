// Select sets of network handles: a socket-interface select set whose
// members are the sockets of NI handles, with an observer that keeps a
// handle for every position of the set, so that a ready socket is handed out
// as its handle.  Members must be taken out (HdlRemove) before their handle is
// closed.  The operations of the socket-interface set (Init, Select,
// StartLoop, RemoveAll, Dump ...) are used as they are.
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

#include "ni/ni.h"
#include "si/sisel.h"

// The handle-based operations; results are NI return codes, and a failure
// sets the error-information record.
class NISEL {
public:
    // Adds the handle (with data) unless it is a member, then its events
    // (SISEL::READ, WRITE); exclusive 1 makes them exactly mode.
    virtual int32_t HdlSet(NI_HDL hdl, uint8_t mode, void* data, uint8_t exclusive) = 0;
    virtual int32_t HdlClear(NI_HDL hdl, uint8_t mode) = 0;
    virtual int32_t HdlRemove(NI_HDL hdl) = 0;
    // The next ready handle after Select, NI_OK with *hdl -1 at the end.  A
    // handle whose connection was closed, hung up or failed comes with
    // NIECONN_BROKEN.
    virtual int32_t HdlNext(uint8_t* read, uint8_t* write, NI_HDL* hdl, void** data) = 0;

protected:
    ~NISEL() = default;
};

class NISEL_IMPL : public NISEL, public SISEL_IMPL {
public:
    // Keeps the handle of every position in step with the set.
    class CB_FUNCS_IMPL : public SISEL_SPEC::CB_FUNCS {
    public:
        int32_t CreateMsg(uint32_t capacity, uint32_t zero) override;
        int32_t AddMsg(uint32_t pos) override;
        int32_t MoveMsg(uint32_t from, uint32_t to) override;
        int32_t RemoveMsg(uint32_t pos) override;
        int32_t ResetMsg() override;
        int32_t SetEventPos(uint32_t pos) override;
        int32_t Dump(FILE* stream, int32_t pos) override;

        NI_HDL adding = -1;        // the handle whose socket is being added
        uint32_t eventPos = 0;     // position of the socket Next looks at
        std::vector<NI_HDL> hdls;  // handle by position, -1 for none
    };

    int32_t HdlSet(NI_HDL hdl, uint8_t mode, void* data, uint8_t exclusive) override;
    int32_t HdlClear(NI_HDL hdl, uint8_t mode) override;
    int32_t HdlRemove(NI_HDL hdl) override;
    int32_t HdlNext(uint8_t* read, uint8_t* write, NI_HDL* hdl, void** data) override;
    ~NISEL_IMPL() override;

private:
    friend NISEL_IMPL* NiSelCreateSet(const uint8_t* type);
    CB_FUNCS_IMPL observer;
};

// A new set of the implementation type (null: poll; see SiSelCreateSet) with
// its observer attached; null when the type is unknown or memory is short.
// Init it before use; delete it to end it.
NISEL_IMPL* NiSelCreateSet(const uint8_t* type);
