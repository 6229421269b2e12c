// Network interface: raw TCP connections without message framing, named by
// handles.  Every operation returns 0 or a negative NI return code and, on
// failure, sets the error-information record (component "NI (network
// interface)").  Time-outs are in milliseconds; -1 waits without limit.
#pragma once

#include <cstdint>

#include "si/si.h"

// A handle: the table index in the upper bits, a generation count in the low
// three, so that a closed handle is refused even after its slot is reused.
typedef int32_t NI_HDL;

enum : int32_t {
    NI_OK = 0,
    NIEINTERN = -1,         // internal error, or a system failure of no other kind
    NIEHOST_UNKNOWN = -2,   // host name not resolved
    NIESERV_UNKNOWN = -3,   // service name or port not resolved
    NIETIMEOUT = -5,        // time-out passed
    NIECONN_BROKEN = -6,    // peer closed or reset the connection
    NIEINVAL = -8,          // invalid argument or handle, or the interface not started
    NIECONN_REFUSED = -10,  // no one accepted the connection
    NIEHDLS_FULL = -11,     // every handle is in use
    NIESTOPPED = -12,       // the stop check asked to stop while waiting
};

// Starts the interface (reference counted: match every successful call by
// one NiExit).  The first start ignores SIGPIPE for the process.
int32_t NiInit();
// Ends one use; the last one closes every handle still open.
int32_t NiExit();

// A check the waits for the partner (the host name lookup, connect, read,
// write) ask about ten times a second: once it returns true, the operation
// ends with NIESTOPPED instead of waiting out its time-out.  Null (the
// default) waits in one piece.  A program that stops on a signal sets it, so
// that a partner (or a name server) that never answers does not hold the
// stop up; while it is set, a host name is looked up on a thread of its own,
// which a stop leaves behind to end by itself.
void NiSetStopCheck(bool (*stopped)());
// True when the stop check is set and asks to stop.
bool NiStopRequested();

// Resolves host and service (a name or a port number) and connects to the
// first address that accepts, within the time-out for the whole attempt.
int32_t NiRawHandle(const char* host, const char* service, int32_t timeoutMs, NI_HDL* hdl);
// Writes all length bytes or fails; *written receives what went out either way.
int32_t NiRawWrite(NI_HDL hdl, const void* data, int32_t length, int32_t timeoutMs, int32_t* written);
// Reads what has arrived, at least one byte and at most capacity; the peer's
// close is NIECONN_BROKEN, never 0 bytes with success.
int32_t NiRawRead(NI_HDL hdl, void* buffer, int32_t capacity, int32_t timeoutMs, int32_t* bytesRead);
int32_t NiCloseHandle(NI_HDL hdl);

// The socket record behind an open handle, for a layer that runs its own
// protocol over the connection (the socket is non-blocking).  It stays owned
// by the handle: NiCloseHandle closes it.
int32_t NiHdlGetSock(NI_HDL hdl, SI_SOCK** sock);

// The constant name of a return code, such as "NIECONN_BROKEN"; never null.
const char* NiErrorName(int32_t rc);
