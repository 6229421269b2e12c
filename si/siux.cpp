// Socket call wrappers: one system call each (two for the blocking mode),
// the outcome turned into an SI return code by the error map of the call's
// family, the system error number left in the record's lastError.
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstring>

#include "nls/kovstr.h"
#include "si/si.h"

namespace {

// ---- Error maps ----

enum class Map {
    Receive,
    Send,
    AddrSend,
    Socket,
    Accept,
    Bind,
    Connect,
    Descriptor,
    Shutdown,
    LocalName,
    PeerName,
    GetOpt,
    SetOpt,
    Poll,
};

bool BadSock(int e)
{
    return e == EBADF || e == ENOTSOCK;
}
bool Unreachable(int e)
{
    return e == EADDRNOTAVAIL || e == ENETUNREACH || e == EHOSTUNREACH;
}
bool PeerGone(int e)
{
    return e == EPIPE || e == ECONNABORTED || e == ECONNRESET || e == ECONNREFUSED;
}

int32_t MapErrno(Map m, int e)
{
    if (e == EINTR)
        return SI_EINTR;
    switch (m) {
    case Map::Receive:
        if (BadSock(e))
            return SI_EINVAL_SOCK;
        if (e == EAGAIN)
            return SI_ETIMEOUT;
        if (e == EFAULT || e == EINVAL || e == ENOTCONN)
            return SI_EINVAL;
        if (PeerGone(e) || e == ETIMEDOUT)
            return SI_ECONN_BROKEN;
        break;
    case Map::Send:
    case Map::AddrSend:
        if (BadSock(e))
            return SI_EINVAL_SOCK;
        if (e == EAGAIN)
            return SI_ETIMEOUT;
        if (e == EFAULT || e == EINVAL || e == ENOTCONN)
            return SI_EINVAL;
        if (PeerGone(e))
            return SI_ECONN_BROKEN;
        if (e == EMSGSIZE || e == ENOBUFS)
            return SI_EMEMORY;
        if (m == Map::AddrSend && e == EOPNOTSUPP)
            return SI_EINVAL;
        if (m == Map::AddrSend && Unreachable(e))
            return SI_EADDR_NAVAIL;
        break;
    case Map::Socket:
        if (e == EINVAL || e == EAFNOSUPPORT || e == EPROTONOSUPPORT || e == ESOCKTNOSUPPORT || e == EPROTOTYPE)
            return SI_EINVAL;
        if (e == ENOMEM || e == ENOBUFS)
            return SI_EMEMORY;
        if (e == ENFILE || e == EMFILE)
            return SI_EMFILE;
        break;
    case Map::Accept:
        if (BadSock(e))
            return SI_EINVAL_SOCK;
        if (e == EAGAIN)
            return SI_ETIMEOUT;
        if (e == EINVAL || e == EPROTO || e == ENOTCONN)
            return SI_EINVAL;
        if (e == ECONNABORTED || e == ECONNRESET || e == ECONNREFUSED)
            return SI_ECONN_BROKEN;
        if (e == ENOMEM || e == ENOBUFS)
            return SI_EMEMORY;
        if (Unreachable(e))
            return SI_EADDR_NAVAIL;
        if (e == ENFILE || e == EMFILE)
            return SI_EMFILE;
        break;
    case Map::Bind:
        if (BadSock(e))
            return SI_EINVAL_SOCK;
        if (e == EINVAL)
            return SI_EINVAL;
        if (e == ENOENT || e == EACCES || Unreachable(e))
            return SI_EADDR_NAVAIL;
        if (e == EADDRINUSE)
            return SI_EPORT_INUSE;
        break;
    case Map::Connect:
        if (BadSock(e))
            return SI_EINVAL_SOCK;
        if (e == ETIMEDOUT)
            return SI_ETIMEOUT;
        if (e == EINVAL || e == EOPNOTSUPP || e == EISCONN)
            return SI_EINVAL;
        if (Unreachable(e))
            return SI_EADDR_NAVAIL;
        if (e == ENOENT || e == EACCES || e == ECONNREFUSED)
            return SI_ECONN_REFUSE;
        if (e == EADDRINUSE)
            return SI_EPORT_INUSE;
        if (e == EINPROGRESS)
            return SI_ECONN_INPROG;
        break;
    case Map::Descriptor:
    case Map::Shutdown:
    case Map::LocalName:
    case Map::PeerName:
    case Map::GetOpt:
    case Map::SetOpt:
        if (BadSock(e))
            return SI_EINVAL_SOCK;
        if (e == EINVAL && m != Map::Descriptor)
            return SI_EINVAL;
        if (e == ENOTCONN && (m == Map::Shutdown || m == Map::PeerName))
            return SI_EINVAL;
        if (m == Map::PeerName && e == ECONNREFUSED)
            return SI_ECONN_BROKEN;
        if (m == Map::GetOpt && (e == ENOPROTOOPT || e == EOPNOTSUPP))
            return SI_EINVAL;
        if (m == Map::SetOpt && (e == ENOENT || e == ENOPROTOOPT))
            return SI_EINVAL;
        if (m == Map::SetOpt && (e == ENODEV || e == ENETDOWN || Unreachable(e)))
            return SI_EADDR_NAVAIL;
        break;
    case Map::Poll:
        if (e == ENOMEM)
            return SI_ETIMEOUT;
        if (e == EFAULT)
            return SI_EINVAL;
        break;
    }
    return SI_ESYSCALL;
}

// Stores the failing call's errno in the record and maps it.
int32_t Fail(SI_SOCK* s, Map m)
{
    const int e = errno;
    s->lastError = e;
    return MapErrno(m, e);
}

// A failure found by the layer itself, without a system call.
int32_t Refuse(SI_SOCK* s, int32_t lastError, int32_t code)
{
    s->lastError = lastError;
    return code;
}
int32_t Internal(SI_SOCK* s)
{
    return Refuse(s, SI_ERR_INTERNAL, SI_EINTERN);
}
int32_t BadFamily(SI_SOCK* s)
{
    return Refuse(s, SI_ERR_FAMILY, SI_EINVAL_FAMI);
}
int32_t BadArg(SI_SOCK* s)
{
    return Refuse(s, EINVAL, SI_EINVAL);
}

void SetCount(uint32_t* count, ssize_t n)
{
    if (count != nullptr)
        *count = static_cast<uint32_t>(n);
}

// ---- Addresses ----

constexpr uint32_t kUnixPathBuf = 108;
static_assert(sizeof(sockaddr_un::sun_path) == kUnixPathBuf);

struct SysAddr {
    sockaddr_storage ss;
    socklen_t len;
    sockaddr* sa() { return reinterpret_cast<sockaddr*>(&ss); }
};

// The system address length announced for a family, 0 for an unknown one.
socklen_t FullLen(int32_t family)
{
    if (family == SI_AF_INET)
        return sizeof(sockaddr_in);
    if (family == SI_AF_INET6)
        return sizeof(sockaddr_in6);
    if (family == SI_AF_UNIX)
        return sizeof(sockaddr_un);
    return 0;
}

// Builds the system address for the socket's family from address bytes and a
// port.  forBind: a null address means the unspecified one and a null port
// port 0; otherwise both are required (the path always for SI_AF_UNIX).
int32_t BuildAddr(SI_SOCK* s, const void* addr, uint32_t addrLen, const uint16_t* port, bool forBind, SysAddr* out)
{
    std::memset(&out->ss, 0, sizeof out->ss);
    if (s->family == SI_AF_INET || s->family == SI_AF_INET6) {
        const bool v4 = s->family == SI_AF_INET;
        if ((addr == nullptr || port == nullptr) && !forBind)
            return BadArg(s);
        if (addr != nullptr && addrLen != (v4 ? 4u : 16u))
            return Internal(s);
        const uint16_t p = port != nullptr ? *port : 0;
        if (v4) {
            auto* in = reinterpret_cast<sockaddr_in*>(&out->ss);
            in->sin_family = AF_INET;
            in->sin_port = p;
            if (addr != nullptr)
                std::memcpy(&in->sin_addr, addr, 4);
            out->len = sizeof(sockaddr_in);
        } else {
            auto* in6 = reinterpret_cast<sockaddr_in6*>(&out->ss);
            in6->sin6_family = AF_INET6;
            in6->sin6_port = p;
            if (addr != nullptr)
                std::memcpy(&in6->sin6_addr, addr, 16);
            out->len = sizeof(sockaddr_in6);
        }
        return SI_OK;
    }
    if (s->family == SI_AF_UNIX) {
        if (addr == nullptr)
            return BadArg(s);
        if (addrLen != kUnixPathBuf)
            return Internal(s);
        const size_t n = strnlenR(static_cast<const char*>(addr), kUnixPathBuf);
        if (n >= kUnixPathBuf)
            return Refuse(s, ENAMETOOLONG, SI_EINVAL);  // would be cut
        auto* un = reinterpret_cast<sockaddr_un*>(&out->ss);
        un->sun_family = AF_UNIX;
        std::memcpy(un->sun_path, addr, n);
        out->len = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + n);
        return SI_OK;
    }
    return BadFamily(s);
}

// Minimum address buffer size of a family for the plain forms.
uint32_t MinAddrBuf(int32_t family)
{
    return family == SI_AF_INET ? 4u : family == SI_AF_INET6 ? 16u : kUnixPathBuf;
}

// Converts a system address of retLen bytes, fetched into a buffer announced
// with the family's full length, into address bytes and port.
int32_t ReadAddr(SI_SOCK* s, const sockaddr_storage& ss, socklen_t retLen, void* addr, uint32_t addrSize,
                 uint16_t* port)
{
    const socklen_t full = FullLen(s->family);
    if (full == 0)
        return BadFamily(s);
    if (s->family != SI_AF_UNIX) {
        if (retLen != full)
            return Internal(s);
        if (addr != nullptr && addrSize < MinAddrBuf(s->family))
            return Internal(s);
        if (s->family == SI_AF_INET) {
            const auto* in = reinterpret_cast<const sockaddr_in*>(&ss);
            if (port != nullptr)
                *port = in->sin_port;
            if (addr != nullptr)
                std::memcpy(addr, &in->sin_addr, 4);
        } else {
            const auto* in6 = reinterpret_cast<const sockaddr_in6*>(&ss);
            if (port != nullptr)
                *port = in6->sin6_port;
            if (addr != nullptr)
                std::memcpy(addr, &in6->sin6_addr, 16);
        }
        return SI_OK;
    }
    if (addr == nullptr)
        return SI_OK;
    if (addrSize < kUnixPathBuf)
        return Internal(s);
    char* out = static_cast<char*>(addr);
    const socklen_t got = retLen < full ? retLen : full;  // the system may report more
    const size_t pathOff = offsetof(sockaddr_un, sun_path);
    if (got <= pathOff) {
        out[0] = '\0';
        return SI_OK;
    }
    const char* path = reinterpret_cast<const sockaddr_un*>(&ss)->sun_path;
    const size_t n = strnlenR(path, got - pathOff);
    if (n >= addrSize)
        return Internal(s);  // no room for the terminator
    memcpy_sR(out, addrSize, path, n);
    out[n] = '\0';
    return SI_OK;
}

// ---- Socket options ----

enum class Opt { Flag, Int, HalfInt, Linger, Int4Exact, Byte, Mreq4, Mreq6, TtlByte, None };

Opt ClassifyOpt(int32_t level, int32_t option, bool set)
{
    if (level == SOL_SOCKET) {
        switch (option) {
        case SO_REUSEADDR:
        case SO_KEEPALIVE:
            return Opt::Flag;
        case SO_SNDBUF:
        case SO_RCVBUF:
            return set ? Opt::HalfInt : Opt::Int;
        case SO_LINGER:
            return Opt::Linger;
        case SO_ERROR:
            return set ? Opt::None : Opt::Int;
        case SO_RCVLOWAT:
        case SO_SNDLOWAT:
            return Opt::Int;
        default:
            return Opt::None;
        }
    }
    if (level == IPPROTO_IP) {
        switch (option) {
        case IP_MULTICAST_IF:
            return Opt::Int4Exact;
        case IP_MULTICAST_TTL:
            return set ? Opt::Byte : Opt::TtlByte;
        case IP_MULTICAST_LOOP:
            return set ? Opt::Byte : Opt::Flag;
        case IP_ADD_MEMBERSHIP:
        case IP_DROP_MEMBERSHIP:
            return Opt::Mreq4;
        default:
            return Opt::None;
        }
    }
    if (level == IPPROTO_TCP)
        return option == 1 ? Opt::Flag : Opt::None;
    if (level == IPPROTO_IPV6) {
        switch (option) {
        case IPV6_MULTICAST_IF:
        case IPV6_MULTICAST_HOPS:
            return Opt::Int;
        case IPV6_MULTICAST_LOOP:
            return Opt::Flag;
        case IPV6_ADD_MEMBERSHIP:
        case IPV6_DROP_MEMBERSHIP:
            return Opt::Mreq6;
        default:
            return Opt::None;
        }
    }
    return Opt::None;
}

static_assert(IP_MULTICAST_IF == 32 && IP_MULTICAST_TTL == 33 && IP_MULTICAST_LOOP == 34 && IP_ADD_MEMBERSHIP == 35 &&
              IP_DROP_MEMBERSHIP == 36);
static_assert(IPPROTO_IPV6 == 41 && IPV6_MULTICAST_IF == 17 && IPV6_MULTICAST_HOPS == 18 && IPV6_MULTICAST_LOOP == 19 &&
              IPV6_ADD_MEMBERSHIP == 20 && IPV6_DROP_MEMBERSHIP == 21);
static_assert(SI_POLLIN == POLLIN && SI_POLLPRI == POLLPRI && SI_POLLOUT == POLLOUT && SI_POLLERR == POLLERR &&
              SI_POLLHUP == POLLHUP && SI_POLLNVAL == POLLNVAL);
static_assert(SO_ERROR == 4 && SO_RCVLOWAT == 18 && SO_SNDLOWAT == 19);

// The option value as the system takes or gives it.
union OptBuf {
    int i;
    unsigned char b;
    linger l;
    ip_mreq m4;
    ipv6_mreq m6;
};

}  // namespace

// ---- Sockets ----

int32_t SiSocket(int32_t domain, int32_t type, int32_t protocol, SI_SOCK* s)
{
    const int fd = socket(domain, type, protocol);
    if (fd < 0)
        return Fail(s, Map::Socket);
    *s = SI_SOCK{fd, domain, type, 0};
    return SI_OK;
}

int32_t SiSocketIPv4(int32_t type, SI_SOCK* s)
{
    return SiSocket(AF_INET, type, 0, s);
}
int32_t SiSocketIPv6(int32_t type, SI_SOCK* s)
{
    return SiSocket(AF_INET6, type, 0, s);
}
int32_t SiSocketUDS(int32_t type, SI_SOCK* s)
{
    return SiSocket(AF_UNIX, type, 0, s);
}

int32_t SiClose(SI_SOCK* s)
{
    if (close(s->sock) != 0)
        return Fail(s, Map::Descriptor);
    return SI_OK;
}

int32_t SiBind(SI_SOCK* s, const void* addr, uint32_t addrLen, const uint16_t* port)
{
    SysAddr a;
    const int32_t rc = BuildAddr(s, addr, addrLen, port, true, &a);
    if (rc != SI_OK)
        return rc;
    if (bind(s->sock, a.sa(), a.len) != 0)
        return Fail(s, Map::Bind);
    return SI_OK;
}

int32_t SiBind2(SI_SOCK* s, const sockaddr* sa, uint32_t saLen)
{
    if (bind(s->sock, sa, saLen) != 0)
        return Fail(s, Map::Bind);
    return SI_OK;
}

int32_t SiListen(SI_SOCK* s, int32_t backlog)
{
    if (listen(s->sock, backlog) != 0)
        return Fail(s, Map::Descriptor);
    return SI_OK;
}

int32_t SiAccept(SI_SOCK* s, void* addr, uint32_t addrSize, uint16_t* port, SI_SOCK* newSock)
{
    const socklen_t full = FullLen(s->family);
    if (full == 0)
        return BadFamily(s);
    if (addr != nullptr && addrSize < MinAddrBuf(s->family))
        return Internal(s);
    sockaddr_storage ss;
    socklen_t len = full;
    const int fd = accept(s->sock, reinterpret_cast<sockaddr*>(&ss), &len);
    if (fd < 0)
        return Fail(s, Map::Accept);
    const int32_t rc = ReadAddr(s, ss, len, addr, addrSize, port);
    if (rc != SI_OK) {
        close(fd);  // the caller never learns this descriptor
        return rc;
    }
    *newSock = SI_SOCK{fd, s->family, s->type, 0};
    return SI_OK;
}

int32_t SiAccept2(SI_SOCK* s, sockaddr* sa, uint32_t* saLen, SI_SOCK* newSock)
{
    socklen_t len = saLen != nullptr ? *saLen : 0;
    const int fd = accept(s->sock, sa, saLen != nullptr ? &len : nullptr);
    if (fd < 0)
        return Fail(s, Map::Accept);
    if (saLen != nullptr)
        *saLen = len;
    *newSock = SI_SOCK{fd, s->family, s->type, 0};
    return SI_OK;
}

int32_t SiConnect(SI_SOCK* s, const void* addr, uint32_t addrLen, const uint16_t* port)
{
    SysAddr a;
    const int32_t rc = BuildAddr(s, addr, addrLen, port, false, &a);
    if (rc != SI_OK)
        return rc;
    if (connect(s->sock, a.sa(), a.len) != 0)
        return Fail(s, Map::Connect);
    return SI_OK;
}

int32_t SiConnect2(SI_SOCK* s, const sockaddr* sa, uint32_t saLen)
{
    if (connect(s->sock, sa, saLen) != 0)
        return Fail(s, Map::Connect);
    return SI_OK;
}

// ---- Sending ----

int32_t SiSend(SI_SOCK* s, const void* buf, uint32_t len, int32_t flags, uint32_t* count)
{
    const ssize_t n = send(s->sock, buf, len, flags);
    if (n < 0)
        return Fail(s, Map::Send);
    SetCount(count, n);
    return SI_OK;
}

int32_t SiSendV(SI_SOCK* s, const iovec* iov, uint32_t iovLen, uint32_t* count)
{
    const ssize_t n = writev(s->sock, iov, static_cast<int>(iovLen));
    if (n < 0)
        return Fail(s, Map::Send);
    SetCount(count, n);
    return SI_OK;
}

int32_t SiSendTo(SI_SOCK* s, const void* buf, uint32_t len, int32_t flags, const void* addr, uint32_t addrLen,
                 const uint16_t* port, uint32_t* count)
{
    SysAddr a;
    const int32_t rc = BuildAddr(s, addr, addrLen, port, false, &a);
    if (rc != SI_OK)
        return rc;
    const ssize_t n = sendto(s->sock, buf, len, flags, a.sa(), a.len);
    if (n < 0)
        return Fail(s, Map::AddrSend);
    SetCount(count, n);
    return SI_OK;
}

int32_t SiSendTo2(SI_SOCK* s, const void* buf, uint32_t len, int32_t flags, const sockaddr* sa, uint32_t saLen,
                  uint32_t* count)
{
    const ssize_t n = sendto(s->sock, buf, len, flags, sa, saLen);
    if (n < 0)
        return Fail(s, Map::AddrSend);
    SetCount(count, n);
    return SI_OK;
}

int32_t SiSendMsg(SI_SOCK* s, const SI_MSG* msg, int32_t flags, uint32_t* count)
{
    if (msg == nullptr)
        return BadArg(s);
    msghdr mh{};
    SysAddr a;
    if (msg->addr != nullptr) {
        const int32_t rc = BuildAddr(s, msg->addr, msg->addrLen, msg->port, false, &a);
        if (rc != SI_OK)
            return rc;
        mh.msg_name = a.sa();
        mh.msg_namelen = a.len;
    }
    mh.msg_iov = msg->iov;
    mh.msg_iovlen = msg->iovLen;
    mh.msg_control = msg->control;
    mh.msg_controllen = msg->controlLen;
    const ssize_t n = sendmsg(s->sock, &mh, flags);
    if (n < 0)
        return Fail(s, Map::AddrSend);
    SetCount(count, n);
    return SI_OK;
}

int32_t SiSendMsg2(SI_SOCK* s, const msghdr* msg, int32_t flags, uint32_t* count)
{
    const ssize_t n = sendmsg(s->sock, msg, flags);
    if (n < 0)
        return Fail(s, Map::AddrSend);
    SetCount(count, n);
    return SI_OK;
}

// ---- Receiving ----

int32_t SiRecv(SI_SOCK* s, void* buf, uint32_t len, int32_t flags, uint32_t* count)
{
    if (count == nullptr)
        return BadArg(s);
    const ssize_t n = recv(s->sock, buf, len, flags);
    if (n < 0)
        return Fail(s, Map::Receive);
    SetCount(count, n);
    return SI_OK;
}

int32_t SiRecvV(SI_SOCK* s, const iovec* iov, uint32_t iovLen, uint32_t* count)
{
    const ssize_t n = readv(s->sock, iov, static_cast<int>(iovLen));
    if (n < 0)
        return Fail(s, Map::Receive);
    SetCount(count, n);
    return SI_OK;
}

int32_t SiRecvFrom(SI_SOCK* s, void* buf, uint32_t len, int32_t flags, void* addr, uint32_t addrSize, uint16_t* port,
                   uint32_t* count)
{
    const bool wantSender = addr != nullptr || port != nullptr;
    sockaddr_storage ss;
    socklen_t ssLen = FullLen(s->family);
    if (wantSender && ssLen == 0)
        return BadFamily(s);
    const ssize_t n = recvfrom(s->sock, buf, len, flags, wantSender ? reinterpret_cast<sockaddr*>(&ss) : nullptr,
                               wantSender ? &ssLen : nullptr);
    if (n < 0)
        return Fail(s, Map::Receive);
    SetCount(count, n);
    return wantSender ? ReadAddr(s, ss, ssLen, addr, addrSize, port) : SI_OK;
}

int32_t SiRecvFrom2(SI_SOCK* s, void* buf, uint32_t len, int32_t flags, sockaddr* sa, uint32_t* saLen, uint32_t* count)
{
    socklen_t l = saLen != nullptr ? *saLen : 0;
    const ssize_t n = recvfrom(s->sock, buf, len, flags, sa, saLen != nullptr ? &l : nullptr);
    if (n < 0)
        return Fail(s, Map::Receive);
    if (saLen != nullptr)
        *saLen = l;
    SetCount(count, n);
    return SI_OK;
}

int32_t SiRecvMsg(SI_SOCK* s, SI_MSG* msg, int32_t flags, uint32_t* count)
{
    if (msg == nullptr)
        return BadArg(s);
    const bool wantSender = msg->addr != nullptr && msg->addrLen != 0 &&
                            (s->family == SI_AF_UNIX || msg->port != nullptr);
    sockaddr_storage ss;
    msghdr mh{};
    if (wantSender) {
        mh.msg_namelen = FullLen(s->family);
        if (mh.msg_namelen == 0)
            return BadFamily(s);
        mh.msg_name = &ss;
    }
    mh.msg_iov = msg->iov;
    mh.msg_iovlen = msg->iovLen;
    mh.msg_control = msg->control;
    mh.msg_controllen = msg->controlLen;
    const ssize_t n = recvmsg(s->sock, &mh, flags);
    if (n < 0)
        return Fail(s, Map::Receive);
    msg->flags = mh.msg_flags;
    msg->controlLen = static_cast<uint32_t>(mh.msg_controllen);
    SetCount(count, n);
    return wantSender ? ReadAddr(s, ss, mh.msg_namelen, msg->addr, msg->addrLen, msg->port) : SI_OK;
}

int32_t SiRecvMsg2(SI_SOCK* s, msghdr* msg, int32_t flags, uint32_t* count)
{
    const ssize_t n = recvmsg(s->sock, msg, flags);
    if (n < 0)
        return Fail(s, Map::Receive);
    SetCount(count, n);
    return SI_OK;
}

// ---- State of a socket ----

int32_t SiGetPendDataLen(SI_SOCK* s, uint32_t* len)
{
    int n = 0;
    if (ioctl(s->sock, FIONREAD, &n) != 0)
        return Fail(s, Map::Descriptor);
    if (len != nullptr)
        *len = static_cast<uint32_t>(n);
    return SI_OK;
}

int32_t SiShutdown(SI_SOCK* s, int32_t how)
{
    if (shutdown(s->sock, how) != 0)
        return Fail(s, Map::Shutdown);
    return SI_OK;
}

int32_t SiGetSockName(SI_SOCK* s, void* addr, uint32_t addrSize, uint16_t* port)
{
    sockaddr_storage ss;
    socklen_t len = FullLen(s->family);
    if (len == 0)
        return BadFamily(s);
    if (getsockname(s->sock, reinterpret_cast<sockaddr*>(&ss), &len) != 0)
        return Fail(s, Map::LocalName);
    return ReadAddr(s, ss, len, addr, addrSize, port);
}

int32_t SiGetSockName2(SI_SOCK* s, sockaddr* sa, uint32_t* saLen)
{
    if (saLen == nullptr)
        return BadArg(s);
    socklen_t len = *saLen;
    if (getsockname(s->sock, sa, &len) != 0)
        return Fail(s, Map::LocalName);
    *saLen = len;
    return SI_OK;
}

int32_t SiGetPeerName(SI_SOCK* s, void* addr, uint32_t addrSize, uint16_t* port)
{
    sockaddr_storage ss;
    socklen_t len = FullLen(s->family);
    if (len == 0)
        return BadFamily(s);
    if (getpeername(s->sock, reinterpret_cast<sockaddr*>(&ss), &len) != 0)
        return Fail(s, Map::PeerName);
    return ReadAddr(s, ss, len, addr, addrSize, port);
}

int32_t SiGetPeerName2(SI_SOCK* s, sockaddr* sa, uint32_t* saLen)
{
    if (saLen == nullptr)
        return BadArg(s);
    socklen_t len = *saLen;
    if (getpeername(s->sock, sa, &len) != 0)
        return Fail(s, Map::PeerName);
    *saLen = len;
    return SI_OK;
}

int32_t SiSockAddrToAddr(SI_SOCK* s, const sockaddr* sa, uint32_t saLen, void* addr, uint32_t addrSize, uint16_t* port)
{
    const socklen_t full = FullLen(s->family);
    if (full == 0)
        return BadFamily(s);
    if (sa == nullptr)
        return BadArg(s);
    sockaddr_storage ss{};
    std::memcpy(&ss, sa, saLen < full ? saLen : full);
    return ReadAddr(s, ss, saLen, addr, addrSize, port);
}

// ---- Options ----

int32_t SiSetSockOpt(SI_SOCK* s, int32_t level, int32_t option, const SI_OPT_VAL* val)
{
    const Opt kind = ClassifyOpt(level, option, true);
    if (kind == Opt::None)
        return Refuse(s, SI_ERR_OPTION, SI_EINVAL_OPT);
    if (val == nullptr || val->value == nullptr)
        return Internal(s);
    OptBuf b;
    std::memset(&b, 0, sizeof b);
    socklen_t len = sizeof(int);
    switch (kind) {
    case Opt::Flag:
        b.i = *static_cast<const uint8_t*>(val->value);
        break;
    case Opt::Int:
        b.i = *static_cast<const int32_t*>(val->value);
        break;
    case Opt::HalfInt:
        b.i = *static_cast<const int32_t*>(val->value) / 2;
        break;
    case Opt::Int4Exact:
        if (val->valueLen != 4)
            return Internal(s);
        std::memcpy(&b.i, val->value, 4);
        break;
    case Opt::Byte:
        if (val->valueLen != 1)
            return Internal(s);
        b.b = *static_cast<const uint8_t*>(val->value);
        len = 1;
        break;
    case Opt::Linger:
        if (val->valueLen != sizeof(linger))
            return Internal(s);
        std::memcpy(&b.l, val->value, sizeof(linger));
        len = sizeof(linger);
        break;
    case Opt::Mreq4:
        if (val->valueLen != 4 || val->value2 == nullptr || val->value2Len != 4)
            return Internal(s);
        std::memcpy(&b.m4.imr_multiaddr, val->value, 4);
        std::memcpy(&b.m4.imr_interface, val->value2, 4);
        len = sizeof(ip_mreq);
        break;
    case Opt::Mreq6: {
        if (val->valueLen != 16 || val->value2 == nullptr)
            return Internal(s);
        std::memcpy(&b.m6.ipv6mr_multiaddr, val->value, 16);
        uint32_t index;
        std::memcpy(&index, val->value2, 4);
        b.m6.ipv6mr_interface = index;
        len = sizeof(ipv6_mreq);
        break;
    }
    case Opt::TtlByte:
    case Opt::None:
        return Internal(s);
    }
    if (setsockopt(s->sock, level, option, &b, len) != 0)
        return Fail(s, Map::SetOpt);
    return SI_OK;
}

int32_t SiGetSockOpt(SI_SOCK* s, int32_t level, int32_t option, SI_OPT_VAL* val)
{
    const Opt kind = ClassifyOpt(level, option, false);
    if (kind == Opt::None)
        return Refuse(s, SI_ERR_OPTION, SI_EINVAL_OPT);
    if (val == nullptr || val->value == nullptr)
        return Internal(s);
    socklen_t want = sizeof(int);
    switch (kind) {
    case Opt::TtlByte:
        want = 1;
        break;
    case Opt::Linger:
        if (val->valueLen < sizeof(linger))
            return Internal(s);
        want = sizeof(linger);
        break;
    case Opt::Int4Exact:
        if (val->valueLen < 4)
            return Internal(s);
        break;
    case Opt::Mreq4:
        if (val->valueLen < 4 || val->value2 == nullptr || val->value2Len < 4)
            return Internal(s);
        want = sizeof(ip_mreq);
        break;
    case Opt::Mreq6:
        if (val->valueLen < 16 || val->value2 == nullptr)
            return Internal(s);
        want = sizeof(ipv6_mreq);
        break;
    default:
        break;
    }
    OptBuf b;
    std::memset(&b, 0, sizeof b);
    socklen_t len = want;
    if (getsockopt(s->sock, level, option, &b, &len) != 0)
        return Fail(s, Map::GetOpt);
    if (len != want)
        return Internal(s);
    switch (kind) {
    case Opt::Flag:
        *static_cast<uint8_t*>(val->value) = b.i != 0 ? 1 : 0;
        break;
    case Opt::Int:
    case Opt::Int4Exact:
        std::memcpy(val->value, &b.i, 4);
        break;
    case Opt::TtlByte: {
        const int32_t v = b.b;
        std::memcpy(val->value, &v, 4);
        break;
    }
    case Opt::Linger:
        std::memcpy(val->value, &b.l, sizeof(linger));
        break;
    case Opt::Mreq4:
        std::memcpy(val->value, &b.m4.imr_multiaddr, 4);
        std::memcpy(val->value2, &b.m4.imr_interface, 4);
        break;
    case Opt::Mreq6: {
        std::memcpy(val->value, &b.m6.ipv6mr_multiaddr, 16);
        const uint32_t index = b.m6.ipv6mr_interface;
        std::memcpy(val->value2, &index, 4);
        break;
    }
    default:
        break;
    }
    return SI_OK;
}

int32_t SiGetSockOpt2(SI_SOCK* s, int32_t level, int32_t option, void* value, uint32_t* len)
{
    if (len == nullptr)
        return BadArg(s);
    socklen_t l = *len;
    if (getsockopt(s->sock, level, option, value, &l) != 0)
        return Fail(s, Map::GetOpt);
    *len = l;
    return SI_OK;
}

int32_t SiSetSockOpt2(SI_SOCK* s, int32_t level, int32_t option, const void* value, uint32_t len)
{
    if (setsockopt(s->sock, level, option, value, len) != 0)
        return Fail(s, Map::SetOpt);
    return SI_OK;
}

// ---- Descriptor flags ----

int32_t SiGetBlockMode(SI_SOCK* s, uint8_t* mode)
{
    if (mode == nullptr)
        return BadArg(s);
    const int fl = fcntl(s->sock, F_GETFL);
    if (fl < 0)
        return Fail(s, Map::Descriptor);
    *mode = (fl & O_NONBLOCK) != 0 ? 0 : 1;
    return SI_OK;
}

int32_t SiSetBlockMode(SI_SOCK* s, uint8_t mode)
{
    const int fl = fcntl(s->sock, F_GETFL);
    if (fl < 0)
        return Fail(s, Map::Descriptor);
    const int want = mode == 1 ? (fl & ~O_NONBLOCK) : (fl | O_NONBLOCK);
    if (fcntl(s->sock, F_SETFL, want) != 0)
        return Fail(s, Map::Descriptor);
    return SI_OK;
}

int32_t SiGetCloseExec(SI_SOCK* s, uint8_t* flag)
{
    if (flag == nullptr)
        return BadArg(s);
    const int fl = fcntl(s->sock, F_GETFD);
    if (fl < 0)
        return Fail(s, Map::Descriptor);
    *flag = (fl & FD_CLOEXEC) != 0 ? 1 : 0;
    return SI_OK;
}

int32_t SiSetCloseExec(SI_SOCK* s, uint8_t flag)
{
    if (fcntl(s->sock, F_SETFD, flag == 1 ? FD_CLOEXEC : 0) != 0)
        return Fail(s, Map::Descriptor);
    return SI_OK;
}

// ---- Waiting ----

int32_t SiSelect(int32_t nfds, SI_FD_SET* rd, SI_FD_SET* wr, SI_FD_SET* ex, int32_t timeoutMs, uint32_t* ready,
                 int32_t* err)
{
    // The sets hold SI_FD_SETSIZE bits: a larger count would let the system
    // read and write past them.
    if (nfds < 0 || nfds > SI_FD_SETSIZE) {
        if (err != nullptr)
            *err = EINVAL;
        return SI_EINVAL;
    }
    timeval tv{};
    timeval* tvp = nullptr;
    if (timeoutMs >= 0) {
        tv.tv_sec = timeoutMs / 1000;
        tv.tv_usec = (timeoutMs % 1000) * 1000;
        tvp = &tv;
    }
    const int n = select(nfds, reinterpret_cast<fd_set*>(rd), reinterpret_cast<fd_set*>(wr),
                         reinterpret_cast<fd_set*>(ex), tvp);
    if (n < 0) {
        const int e = errno;
        if (err != nullptr)
            *err = e;
        return MapErrno(Map::Descriptor, e);
    }
    if (ready != nullptr)
        *ready = static_cast<uint32_t>(n);
    return SI_OK;
}

int32_t SiPoll(pollfd* fds, uint32_t nfds, int32_t timeoutMs, uint32_t* ready, int32_t* err)
{
    const int n = poll(fds, nfds, timeoutMs);
    if (n < 0) {
        const int e = errno;
        if (err != nullptr)
            *err = e;
        return MapErrno(Map::Poll, e);
    }
    if (ready != nullptr)
        *ready = static_cast<uint32_t>(n);
    return SI_OK;
}
