// Socket interface: the program's only road to the operating system's socket
// calls.  Every socket lives in a caller-owned SI_SOCK record; every operation
// returns one of the SI return codes below and, when a system call failed,
// leaves the system error number in the record's lastError.  Callers pass the
// SI_ constants, never the system's own macros; ports travel in network byte
// order and are never converted here.
//
// Address forms.  The plain forms take and return raw address bytes plus a
// separate port, by the socket's family: 4 bytes (length 4) for SI_AF_INET,
// 16 bytes (length 16) for SI_AF_INET6, a zero-terminated path in a 108-byte
// buffer (length 108) for SI_AF_UNIX; a path that does not fit the system's
// address (107 characters and the terminator) is refused with SI_EINVAL and
// lastError ENAMETOOLONG.  The raw forms (names ending in 2) take the system's
// socket address unchanged.
//
// Booleans are single bytes, 1 meaning true.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

struct sockaddr;
struct pollfd;
struct iovec;
struct msghdr;

// The socket record: descriptor, address family, socket type and the error
// number of the last failed call (or one of the SI_ERR_ numbers below).
struct SI_SOCK {
    int32_t sock;
    int32_t family;
    int32_t type;
    int32_t lastError;
};

// Return codes; 9 is unused.
enum : int32_t {
    SI_OK = 0,
    SI_EINVAL = 1,
    SI_EINVAL_SOCK = 2,
    SI_EINVAL_FAMI = 3,
    SI_EINVAL_OPT = 4,
    SI_EINTR = 5,
    SI_ESYSCALL = 6,
    SI_EADDR_NAVAIL = 7,
    SI_EPORT_INUSE = 8,
    SI_ECONN_REFUSE = 10,
    SI_ECONN_INPROG = 11,
    SI_ECONN_BROKEN = 12,
    SI_ETIMEOUT = 13,
    SI_EINTERN = 14,
    SI_ENOTIMPL = 15,
    SI_EMEMORY = 16,
    SI_EMFILE = 17,
};

// lastError values the layer sets itself when no system call failed.
enum : int32_t {
    SI_ERR_FAMILY = 2048,    // with SI_EINVAL_FAMI
    SI_ERR_OPTION = 2049,    // with SI_EINVAL_OPT
    SI_ERR_INTERNAL = 2050,  // with SI_EINTERN
};

inline constexpr int32_t SI_AF_UNIX = 1;
inline constexpr int32_t SI_AF_INET = 2;
inline constexpr int32_t SI_AF_INET6 = 10;
inline constexpr int32_t SI_SOCK_STREAM = 1;
inline constexpr int32_t SI_SOCK_DGRAM = 2;
inline constexpr int32_t SI_SOCK_RAW = 3;
inline constexpr int32_t SI_MSG_PEEK = 2;
inline constexpr int32_t SI_SOL_SOCKET = 1;
inline constexpr int32_t SI_IPPROTO_IP = 0;
inline constexpr int32_t SI_IPPROTO_TCP = 6;
inline constexpr int32_t SI_SO_SNDBUF = 7;
inline constexpr int32_t SI_SO_RCVBUF = 8;
inline constexpr int32_t SI_SO_REUSEADDR = 2;
inline constexpr int32_t SI_SO_REUSEPORT = 2;  // deliberately address reuse
inline constexpr int32_t SI_SO_KEEPALIVE = 9;
inline constexpr int32_t SI_SO_LINGER = 13;
inline constexpr int32_t SI_IP_MULTICAST_IF = 32;
inline constexpr int32_t SI_IP_MULTICAST_TTL = 33;
inline constexpr int32_t SI_TCP_NODELAY = 1;
inline constexpr int32_t SI_FD_SETSIZE = 32768;
inline constexpr int16_t SI_POLLIN = 1;
inline constexpr int16_t SI_POLLPRI = 2;
inline constexpr int16_t SI_POLLOUT = 4;
inline constexpr int16_t SI_POLLERR = 8;
inline constexpr int16_t SI_POLLHUP = 16;
inline constexpr int16_t SI_POLLNVAL = 32;
inline constexpr uint8_t SI_PEEK_RD = 1;
inline constexpr uint8_t SI_PEEK_WR = 2;

// Descriptor set of SI_FD_SETSIZE bits, handed to the system's select as it is.
// The bit of descriptor d is bit d % 64 of word d / 64.
struct SI_FD_SET {
    uint64_t bits[SI_FD_SETSIZE / 64];
};

// Option record of SiGetSockOpt and SiSetSockOpt.  For SI_SO_LINGER, value
// points to the system's struct linger and valueLen is its size.
struct SI_OPT_VAL {
    void* value;
    uint32_t valueLen;
    void* value2;  // interface of a multicast membership
    uint32_t value2Len;
};

// Message record of SiSendMsg and SiRecvMsg; SiRecvMsg stores the received
// message flags in flags and the length of the received control data in
// controlLen.
struct SI_MSG {
    void* addr;
    uint32_t addrLen;
    uint16_t* port;
    struct iovec* iov;
    uint32_t iovLen;
    void* control;
    uint32_t controlLen;
    int32_t flags;
};

// Operation identifiers, used to name a failed call.
enum : uint32_t {
    SI_OP_NONE,
    SI_OP_INIT,
    SI_OP_EXIT,
    SI_OP_SOCKET,
    SI_OP_SOCKET_IPV4,
    SI_OP_SOCKET_IPV6,
    SI_OP_SOCKET_UDS,
    SI_OP_CLOSE,
    SI_OP_BIND,
    SI_OP_BIND2,
    SI_OP_LISTEN,
    SI_OP_ACCEPT,
    SI_OP_ACCEPT2,
    SI_OP_CONNECT,
    SI_OP_CONNECT2,
    SI_OP_SEND,
    SI_OP_SENDV,
    SI_OP_SENDTO,
    SI_OP_SENDTO2,
    SI_OP_SENDMSG,
    SI_OP_SENDMSG2,
    SI_OP_RECV,
    SI_OP_RECVV,
    SI_OP_RECVFROM,
    SI_OP_RECVFROM2,
    SI_OP_RECVMSG,
    SI_OP_RECVMSG2,
    SI_OP_GET_PEND_DATA_LEN,
    SI_OP_SHUTDOWN,
    SI_OP_GET_SOCK_NAME,
    SI_OP_GET_SOCK_NAME2,
    SI_OP_GET_PEER_NAME,
    SI_OP_GET_PEER_NAME2,
    SI_OP_GET_SOCK_OPT,
    SI_OP_GET_SOCK_OPT2,
    SI_OP_SET_SOCK_OPT,
    SI_OP_SET_SOCK_OPT2,
    SI_OP_GET_BLOCK_MODE,
    SI_OP_SET_BLOCK_MODE,
    SI_OP_GET_CLOSE_EXEC,
    SI_OP_SET_CLOSE_EXEC,
    SI_OP_SELECT,
    SI_OP_POLL,
    SI_OP_PEEK,
    SI_OP_PEEK_PEND_CONN,
    SI_OP_SEND_SOCKET,
    SI_OP_RECV_SOCKET,
};

// ---- Names, texts and helpers ----

// Name and text of a return code; null for 9 and codes outside 0..17.
const char* SiErrorName(int32_t code);
const char* SiErrorText(int32_t code);
// Name and system calls of an operation; only the low 16 bits count; null
// above the last operation.
const char* SiOpName(uint32_t id);
const char* SiOpSysCalls(uint32_t id);
// "AF_UNIX", "AF_INET", "AF_INET6" / "SOCK_STREAM", "SOCK_DGRAM", "SOCK_RAW",
// else null.
const char* SiFamilyName(const SI_SOCK* s);
const char* SiTypeName(const SI_SOCK* s);
// Text of a lastError value into buf (size - 1 characters at most, always
// terminated); returns buf.  Size 0 writes nothing and returns "".
const char* SiErrnoText(int32_t lastError, char* buf, size_t size);
// Error trace line for the record at trace level 1 and above; returns 0.
int32_t SiTraceSockError(const SI_SOCK* s);
// Writes the component card to the default trace file; returns 0.
int32_t SiTraceInfo();

// Descriptor-set bits.  A descriptor outside 0..SI_FD_SETSIZE-1 is refused
// (SI_EINVAL, set unchanged) and is never set; SiFdIsSet returns 0 for it.
int32_t SiFdZero(SI_FD_SET* set);
int32_t SiFdSet(const SI_SOCK* s, SI_FD_SET* set);
int32_t SiFdClr(const SI_SOCK* s, SI_FD_SET* set);
int32_t SiFdIsSet(const SI_SOCK* s, const SI_FD_SET* set);

uint16_t SiHtons(uint16_t v);
uint16_t SiNtohs(uint16_t v);
uint32_t SiHtonl(uint32_t v);
uint32_t SiNtohl(uint32_t v);

// ---- Call wrappers: one system call each, no trace, no allocation ----

int32_t SiSocket(int32_t domain, int32_t type, int32_t protocol, SI_SOCK* s);
int32_t SiSocketIPv4(int32_t type, SI_SOCK* s);
int32_t SiSocketIPv6(int32_t type, SI_SOCK* s);
int32_t SiSocketUDS(int32_t type, SI_SOCK* s);
int32_t SiClose(SI_SOCK* s);

// A null address binds the unspecified address (IPv4, IPv6), a null port
// port 0; SI_AF_UNIX needs a path.
int32_t SiBind(SI_SOCK* s, const void* addr, uint32_t addrLen, const uint16_t* port);
int32_t SiBind2(SI_SOCK* s, const struct sockaddr* sa, uint32_t saLen);
int32_t SiListen(SI_SOCK* s, int32_t backlog);
// Fills newSock with {descriptor, the listener's family and type, 0}; errors
// go to the listener's lastError.
int32_t SiAccept(SI_SOCK* s, void* addr, uint32_t addrSize, uint16_t* port, SI_SOCK* newSock);
int32_t SiAccept2(SI_SOCK* s, struct sockaddr* sa, uint32_t* saLen, SI_SOCK* newSock);
int32_t SiConnect(SI_SOCK* s, const void* addr, uint32_t addrLen, const uint16_t* port);
int32_t SiConnect2(SI_SOCK* s, const struct sockaddr* sa, uint32_t saLen);

int32_t SiSend(SI_SOCK* s, const void* buf, uint32_t len, int32_t flags, uint32_t* count);
int32_t SiSendV(SI_SOCK* s, const struct iovec* iov, uint32_t iovLen, uint32_t* count);
int32_t SiSendTo(SI_SOCK* s, const void* buf, uint32_t len, int32_t flags, const void* addr, uint32_t addrLen,
                 const uint16_t* port, uint32_t* count);
int32_t SiSendTo2(SI_SOCK* s, const void* buf, uint32_t len, int32_t flags, const struct sockaddr* sa, uint32_t saLen,
                  uint32_t* count);
int32_t SiSendMsg(SI_SOCK* s, const SI_MSG* msg, int32_t flags, uint32_t* count);
int32_t SiSendMsg2(SI_SOCK* s, const struct msghdr* msg, int32_t flags, uint32_t* count);

int32_t SiRecv(SI_SOCK* s, void* buf, uint32_t len, int32_t flags, uint32_t* count);
int32_t SiRecvV(SI_SOCK* s, const struct iovec* iov, uint32_t iovLen, uint32_t* count);
int32_t SiRecvFrom(SI_SOCK* s, void* buf, uint32_t len, int32_t flags, void* addr, uint32_t addrSize, uint16_t* port,
                   uint32_t* count);
int32_t SiRecvFrom2(SI_SOCK* s, void* buf, uint32_t len, int32_t flags, struct sockaddr* sa, uint32_t* saLen,
                    uint32_t* count);
int32_t SiRecvMsg(SI_SOCK* s, SI_MSG* msg, int32_t flags, uint32_t* count);
int32_t SiRecvMsg2(SI_SOCK* s, struct msghdr* msg, int32_t flags, uint32_t* count);

int32_t SiGetPendDataLen(SI_SOCK* s, uint32_t* len);
int32_t SiShutdown(SI_SOCK* s, int32_t how);
int32_t SiGetSockName(SI_SOCK* s, void* addr, uint32_t addrSize, uint16_t* port);
int32_t SiGetSockName2(SI_SOCK* s, struct sockaddr* sa, uint32_t* saLen);
int32_t SiGetPeerName(SI_SOCK* s, void* addr, uint32_t addrSize, uint16_t* port);
int32_t SiGetPeerName2(SI_SOCK* s, struct sockaddr* sa, uint32_t* saLen);
int32_t SiGetSockOpt(SI_SOCK* s, int32_t level, int32_t option, SI_OPT_VAL* val);
int32_t SiGetSockOpt2(SI_SOCK* s, int32_t level, int32_t option, void* value, uint32_t* len);
int32_t SiSetSockOpt(SI_SOCK* s, int32_t level, int32_t option, const SI_OPT_VAL* val);
int32_t SiSetSockOpt2(SI_SOCK* s, int32_t level, int32_t option, const void* value, uint32_t len);
// Blocking mode 1 = blocking, anything else non-blocking.
int32_t SiGetBlockMode(SI_SOCK* s, uint8_t* mode);
int32_t SiSetBlockMode(SI_SOCK* s, uint8_t mode);
int32_t SiGetCloseExec(SI_SOCK* s, uint8_t* flag);
int32_t SiSetCloseExec(SI_SOCK* s, uint8_t flag);

// select over SI descriptor sets (each may be null); a negative time-out waits
// without limit.  A descriptor count outside 0..SI_FD_SETSIZE is SI_EINVAL.
int32_t SiSelect(int32_t nfds, SI_FD_SET* rd, SI_FD_SET* wr, SI_FD_SET* ex, int32_t timeoutMs, uint32_t* ready,
                 int32_t* err);
int32_t SiPoll(struct pollfd* fds, uint32_t nfds, int32_t timeoutMs, uint32_t* ready, int32_t* err);
// Converts a system address the caller already holds; no system call.
int32_t SiSockAddrToAddr(SI_SOCK* s, const struct sockaddr* sa, uint32_t saLen, void* addr, uint32_t addrSize,
                         uint16_t* port);

// ---- Readiness checks, descriptor passing, limit, start-up ----

// Waits until the socket is ready for the mode (SI_PEEK_RD, SI_PEEK_WR or
// both): SI_OK, SI_ETIMEOUT, SI_EINVAL_SOCK (invalid descriptor), SI_EINVAL
// (hang-up), SI_EINTERN (error condition) or SI_ESYSCALL.  -1 waits forever.
int32_t SiPeek(SI_SOCK* s, uint8_t mode, int32_t timeoutMs);
// Completes a non-blocking connect: SI_OK, SI_ETIMEOUT while pending,
// SI_ECONN_REFUSE or SI_EPORT_INUSE when it failed; lastError holds the
// connection's pending error.
int32_t SiPeekPendConn(SI_SOCK* s, int32_t timeoutMs);
// Passes an open socket over a Unix-domain socket; it stays open here.
int32_t SiSendSocket(SI_SOCK* uds, const SI_SOCK* passed);
// Receives a passed socket into rec.  Any descriptor beyond the one expected,
// and every descriptor of a message that is refused, is closed.
int32_t SiRecvSocket(SI_SOCK* uds, SI_SOCK* rec);
// The process's descriptor limit, or -1.
int32_t SiGetMaxSockets(uint32_t limit);
// Ignores SIGPIPE once per process.
int32_t SiInit(int32_t* err);
int32_t SiExit();
