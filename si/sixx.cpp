// Socket interface vocabulary: names and texts of the return codes and the
// operations, family and type names, texts of lastError values, the error
// trace line and the component card, descriptor-set bits and byte order.
#include <sys/select.h>
#include <sys/socket.h>

#include <cstring>

#include "nls/kovstr.h"
#include "si/si.h"
#include "trace/dptrc.h"
#include "trace/errinfo.h"

namespace {

struct CodeEntry {
    const char* name;
    const char* text;
};

const CodeEntry kCodes[] = {
    {"SI_OK", "success"},
    {"SI_EINVAL", "invalid parameter passed"},
    {"SI_EINVAL_SOCK", "invalid socket descriptor, socket probably already closed"},
    {"SI_EINVAL_FAMI", "protocol family not supported"},
    {"SI_EINVAL_OPT", "protocol level or option not supported"},
    {"SI_EINTR", "call was interrupted by a signal"},
    {"SI_ESYSCALL", "socket function call failed, lastError value is set in SI_SOCK structure"},
    {"SI_EADDR_NAVAIL", "address not available"},
    {"SI_EPORT_INUSE", "servive in use"},
    {nullptr, nullptr},
    {"SI_ECONN_REFUSE", "no one listening on the remote address"},
    {"SI_ECONN_INPROG", "connection is in progress"},
    {"SI_ECONN_BROKEN", "connection to partner broken"},
    {"SI_ETIMEOUT", "server may be too busy"},
    {"SI_EINTERN", "unexpected (invalid) status"},
    {"SI_ENOTIMPL", "platform does not support a implementation"},
    {"SI_EMEMORY", "unable to allocate sufficient memory"},
    {"SI_EMFILE", "maximum for file descriptors reached"},
};

struct OpEntry {
    const char* name;
    const char* calls;
};

const OpEntry kOps[] = {
    {"(none)", "(none)"},
    {"SiInit", "sigaction, sigaction"},
    {"SiExit", "(none)"},
    {"SiSocket", "socket"},
    {"SiSocketIPv4", "socket"},
    {"SiSocketIPv6", "socket"},
    {"SiSocketUDS", "socket"},
    {"SiClose", "close"},
    {"SiBind", "bind"},
    {"SiBind2", "bind"},
    {"SiListen", "listen"},
    {"SiAccept", "accept"},
    {"SiAccept2", "accept"},
    {"SiConnect", "connect"},
    {"SiConnect2", "connect"},
    {"SiSend", "send"},
    {"SiSendV", "writev"},
    {"SiSendTo", "sendto"},
    {"SiSendTo2", "sendto"},
    {"SiSendMsg", "sendmsg"},
    {"SiSendMsg2", "sendmsg"},
    {"SiRecv", "recv"},
    {"SiRecvV", "readv"},
    {"SiRecvFrom", "recvfrom"},
    {"SiRecvFrom2", "recvfrom"},
    {"SiRecvMsg", "recvmsg"},
    {"SiRecvMsg2", "recvmsg"},
    {"SiGetPendDataLen", "ioctl"},
    {"SiShutdown", "shutdown"},
    {"SiGetSockName", "getsockname"},
    {"SiGetSockName2", "getsockname"},
    {"SiGetPeerName", "getpeername"},
    {"SiGetPeerName2", "getpeername"},
    {"SiGetSockOpt", "getsockopt"},
    {"SiGetSockOpt2", "getsockopt"},
    {"SiSetSockOpt", "setsockopt"},
    {"SiSetSockOpt2", "setsockopt"},
    {"SiGetBlockMode", "fcntl"},
    {"SiSetBlockMode", "fcntl, fcntl"},
    {"SiGetCloseExec", "fcntl"},
    {"SiSetCloseExec", "fcntl"},
    {"SiSelect", "select"},
    {"SiPoll", "poll"},
    {"SiPeek", "poll"},
    {"SiPeekPendConn", "poll, getsockopt"},
    {"SiSendSocket", "sendmsg"},
    {"SiRecvSocket", "recvmsg, recv, close"},
};
static_assert(sizeof kOps / sizeof kOps[0] == SI_OP_RECV_SOCKET + 1);

const CodeEntry* CodeAt(int32_t code)
{
    if (code < 0 || code >= static_cast<int32_t>(sizeof kCodes / sizeof kCodes[0]))
        return nullptr;
    return &kCodes[code];
}

const OpEntry* OpAt(uint32_t id)
{
    id &= 0xFFFFu;
    if (id >= sizeof kOps / sizeof kOps[0])
        return nullptr;
    return &kOps[id];
}

// Bit position of a descriptor, or false when it lies outside the set.
bool FdSlot(const SI_SOCK* s, uint32_t* word, uint64_t* mask)
{
    if (s == nullptr || s->sock < 0 || s->sock >= SI_FD_SETSIZE)
        return false;
    *word = static_cast<uint32_t>(s->sock) / 64u;
    *mask = uint64_t{1} << (static_cast<uint32_t>(s->sock) % 64u);
    return true;
}

const char* InternalText(int32_t lastError)
{
    switch (lastError) {
    case SI_ERR_FAMILY:
        return "protocol family not supported";
    case SI_ERR_OPTION:
        return "protocol level or option not supported";
    case SI_ERR_INTERNAL:
        return "unexpected value retured from system call, which cause invalid internal status";
    default:
        return nullptr;
    }
}

}  // namespace

// The exported constants are the system's values (reuse-port excepted), so
// they can be handed to the system unchanged.
static_assert(SI_AF_UNIX == AF_UNIX && SI_AF_INET == AF_INET && SI_AF_INET6 == AF_INET6);
static_assert(SI_SOCK_STREAM == SOCK_STREAM && SI_SOCK_DGRAM == SOCK_DGRAM && SI_SOCK_RAW == SOCK_RAW);
static_assert(SI_MSG_PEEK == MSG_PEEK && SI_SOL_SOCKET == SOL_SOCKET);
static_assert(SI_SO_SNDBUF == SO_SNDBUF && SI_SO_RCVBUF == SO_RCVBUF && SI_SO_REUSEADDR == SO_REUSEADDR &&
              SI_SO_KEEPALIVE == SO_KEEPALIVE && SI_SO_LINGER == SO_LINGER);
static_assert(sizeof(SI_FD_SET) == 4096);

const char* SiErrorName(int32_t code)
{
    const CodeEntry* e = CodeAt(code);
    return e ? e->name : nullptr;
}

const char* SiErrorText(int32_t code)
{
    const CodeEntry* e = CodeAt(code);
    return e ? e->text : nullptr;
}

const char* SiOpName(uint32_t id)
{
    const OpEntry* e = OpAt(id);
    return e ? e->name : nullptr;
}

const char* SiOpSysCalls(uint32_t id)
{
    const OpEntry* e = OpAt(id);
    return e ? e->calls : nullptr;
}

const char* SiFamilyName(const SI_SOCK* s)
{
    if (s == nullptr)
        return nullptr;
    if (s->family == SI_AF_UNIX)
        return "AF_UNIX";
    if (s->family == SI_AF_INET)
        return "AF_INET";
    if (s->family == SI_AF_INET6)
        return "AF_INET6";
    return nullptr;
}

const char* SiTypeName(const SI_SOCK* s)
{
    if (s == nullptr)
        return nullptr;
    if (s->type == SI_SOCK_STREAM)
        return "SOCK_STREAM";
    if (s->type == SI_SOCK_DGRAM)
        return "SOCK_DGRAM";
    if (s->type == SI_SOCK_RAW)
        return "SOCK_RAW";
    return nullptr;
}

int32_t SiFdZero(SI_FD_SET* set)
{
    if (set != nullptr)
        std::memset(set->bits, 0, sizeof set->bits);
    return SI_OK;
}

int32_t SiFdSet(const SI_SOCK* s, SI_FD_SET* set)
{
    uint32_t word;
    uint64_t mask;
    if (set == nullptr || !FdSlot(s, &word, &mask))
        return SI_EINVAL;
    set->bits[word] |= mask;
    return SI_OK;
}

int32_t SiFdClr(const SI_SOCK* s, SI_FD_SET* set)
{
    uint32_t word;
    uint64_t mask;
    if (set == nullptr || !FdSlot(s, &word, &mask))
        return SI_EINVAL;
    set->bits[word] &= ~mask;
    return SI_OK;
}

int32_t SiFdIsSet(const SI_SOCK* s, const SI_FD_SET* set)
{
    uint32_t word;
    uint64_t mask;
    if (set == nullptr || !FdSlot(s, &word, &mask))
        return 0;
    return (set->bits[word] & mask) != 0 ? 1 : 0;
}

uint16_t SiHtons(uint16_t v)
{
    return __builtin_bswap16(v);
}
uint16_t SiNtohs(uint16_t v)
{
    return __builtin_bswap16(v);
}
uint32_t SiHtonl(uint32_t v)
{
    return __builtin_bswap32(v);
}
uint32_t SiNtohl(uint32_t v)
{
    return __builtin_bswap32(v);
}

int32_t SiExit()
{
    return SI_OK;
}

const char* SiErrnoText(int32_t lastError, char* buf, size_t size)
{
    if (buf == nullptr || size == 0)
        return "";  // nothing can be written
    buf[size - 1] = '\0';
    if (const char* text = InternalText(lastError)) {
        strncpy_sR(buf, size, text, size - 1);
        return buf;
    }
    ErrGetErrnoTxt(lastError, buf, size > INT32_MAX ? INT32_MAX : static_cast<int>(size));
    return buf;
}

int32_t SiTraceSockError(const SI_SOCK* s)
{
    if (ct_level >= 1) {
        char text[256];
        DpTrcLockAcquire();
        DpTrcSaveLoc("sixx", __LINE__);
        DpTrcErrno(tf, "Error: sock %d; error %d (%s)\n", s->sock, s->lastError,
                   SiErrnoText(s->lastError, text, sizeof text));
        DpTrcLockRelease();
    }
    return 0;
}

int32_t SiTraceInfo()
{
    FILE* f = CTrcGetFile(tf);
    fprintf(f,
            "Component name    : SI (socket interface)\n"
            "Version           : %d\n"
            "Last modification : Sep 20 2004\n"
            "\n"
            "Platform          : AMD/Intel x86_64 with Linux\n"
            "                    %d bit\n"
            "                    little endian\n"
            "\n"
            "IPv6              : %s\n"
            "\n"
            "FD_SETSIZE        : %d\n"
            "NFDBITS           : %d\n"
            "sizeof(fd_mask)   : %d\n"
            "sizeof(fd_set)    : %d\n"
            "\n",
            2, 64, "supported", 1024, 64, 8, 128);
    fflush(f);
    return 0;
}
