// 16-bit wrappers of the service, host and user name services, and the check
// of byte pointers cast to 16-bit strings.
#include <netdb.h>
#include <pwd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "i18n/kovu16/nlsui_conv.h"
#include "i18n/kovu16/nlsui_u16.h"
#include "nls/kovstr.h"

namespace {

constexpr char kSource[] = "nlsui6.cpp";

// Converts one text field into its slot; false when it does not convert or fit.
bool field(KOV_UTF16* slot, const char* text, size_t size, const char* func, const char* name, const char* limit)
{
    const long r = nlsui_utf8ToU16buf(slot, text, size, kSource, __LINE__, func, name, limit);
    return r >= 0 && static_cast<size_t>(r) < size;
}

// Converts a NULL-ended alias list into slots of size units each and their
// NULL-ended pointer list; false when there are too many or one does not fit.
template <size_t size>
bool alias_list(KOV_UTF16 (*slots)[size], KOV_UTF16** ptrs, char** aliases, const char* func, const char* name,
                const char* limit)
{
    size_t i = 0;
    for (; aliases != nullptr && aliases[i] != nullptr; ++i) {
        if (i + 1 >= MAX_ALIASES) {
            nlsui_reportTooSmall(kSource, __LINE__, func, name, "MAX_ALIASES");
            return false;
        }
        if (!field(slots[i], aliases[i], size, func, name, limit))
            return false;
        ptrs[i] = slots[i];
    }
    ptrs[i] = nullptr;
    return true;
}

struct ServRecord {
    serventU16 ent;
    KOV_UTF16 name[MAX_SERVNAME_LN];
    KOV_UTF16 proto[MAX_SERVPROTONAME_LN];
    KOV_UTF16 aliases[MAX_ALIASES][MAX_SERVNAME_LN];
    KOV_UTF16* alias_ptrs[MAX_ALIASES];
} serv;

serventU16* fill_servent(const struct servent* s, const char* func)
{
    if (s == nullptr)
        return nullptr;
    if (!field(serv.name, s->s_name, MAX_SERVNAME_LN, func, "s_name", "MAX_SERVNAME_LN") ||
        !field(serv.proto, s->s_proto, MAX_SERVPROTONAME_LN, func, "s_proto", "MAX_SERVPROTONAME_LN"))
        return nullptr;
    if (!alias_list(serv.aliases, serv.alias_ptrs, s->s_aliases, func, "s_aliases", "MAX_SERVNAME_LN"))
        return nullptr;
    serv.ent = {serv.name, serv.alias_ptrs, s->s_port, serv.proto};
    return &serv.ent;
}

struct HostRecord {
    hostentU16 ent;
    KOV_UTF16 name[MAX_HOSTNAME_LN];
    KOV_UTF16 aliases[MAX_ALIASES][MAX_HOSTNAME_LN];
    KOV_UTF16* alias_ptrs[MAX_ALIASES];
    char addresses[MAX_ADDRESSES][MAX_IPADDR_LN];
    char* address_ptrs[MAX_ADDRESSES];
} host;

hostentU16* nlsui_hostentU16(const struct hostent* h, const char* func)
{
    if (h == nullptr)
        return nullptr;
    if (!field(host.name, h->h_name, MAX_HOSTNAME_LN, func, "h_name", "MAX_HOSTNAME_LN"))
        return nullptr;
    if (!alias_list(host.aliases, host.alias_ptrs, h->h_aliases, func, "h_aliases", "MAX_HOSTNAME_LN"))
        return nullptr;
    if (h->h_length < 0 || static_cast<size_t>(h->h_length) > MAX_IPADDR_LN) {
        nlsui_reportTooSmall(kSource, __LINE__, func, "h_addr_list", "MAX_IPADDR_LN");
        return nullptr;
    }
    size_t k = 0;
    for (; h->h_addr_list != nullptr && h->h_addr_list[k] != nullptr; ++k) {
        if (k + 1 >= MAX_ADDRESSES) {
            nlsui_reportTooSmall(kSource, __LINE__, func, "h_addr_list", "MAX_ADDRESSES");
            return nullptr;
        }
        std::memcpy(host.addresses[k], h->h_addr_list[k], static_cast<size_t>(h->h_length));
        host.address_ptrs[k] = host.addresses[k];
    }
    host.address_ptrs[k] = nullptr;
    host.ent = {host.name, host.alias_ptrs, h->h_addrtype, h->h_length, host.address_ptrs};
    return &host.ent;
}

struct PwRecord {
    passwdU16 ent;
    KOV_UTF16 name[MAX_PWNAME_LN], passwd[MAX_PWPASSWD_LN], gecos[MAX_PWGECOS_LN], dir[MAX_PWDIR_LN],
        shell[MAX_PWSHELL_LN];
} pw;

// A field that is NULL stays NULL.
bool pw_field(KOV_UTF16*& out, KOV_UTF16* slot, const char* text, size_t size, const char* func, const char* name,
              const char* limit)
{
    if (text == nullptr) {
        out = nullptr;
        return true;
    }
    out = slot;
    return field(slot, text, size, func, name, limit);
}

passwdU16* fill_passwd(const struct passwd* p, const char* func)
{
    if (p == nullptr)
        return nullptr;
    passwdU16& e = pw.ent;
    if (!pw_field(e.pw_name, pw.name, p->pw_name, MAX_PWNAME_LN, func, "pw_name", "MAX_PWNAME_LN") ||
        !pw_field(e.pw_passwd, pw.passwd, p->pw_passwd, MAX_PWPASSWD_LN, func, "pw_passwd", "MAX_PWPASSWD_LN") ||
        !pw_field(e.pw_gecos, pw.gecos, p->pw_gecos, MAX_PWGECOS_LN, func, "pw_gecos", "MAX_PWGECOS_LN") ||
        !pw_field(e.pw_dir, pw.dir, p->pw_dir, MAX_PWDIR_LN, func, "pw_dir", "MAX_PWDIR_LN") ||
        !pw_field(e.pw_shell, pw.shell, p->pw_shell, MAX_PWSHELL_LN, func, "pw_shell", "MAX_PWSHELL_LN"))
        return nullptr;
    e.pw_uid = p->pw_uid;
    e.pw_gid = p->pw_gid;
    return &e;
}

}  // namespace

serventU16* getservbyportU16(int port, const KOV_UTF16* proto)
{
    char pbuf[MAX_SERVPROTONAME_LN];
    const char* p = nullptr;
    if (!nlsui_argument(pbuf, sizeof pbuf, proto, p, "getservbyportU16", "proto", "MAX_SERVPROTONAME_LN"))
        return nullptr;
    return fill_servent(getservbyport(port, p), "getservbyportU16");
}

serventU16* getservbynameU16(const KOV_UTF16* name, const KOV_UTF16* proto)
{
    char nbuf[MAX_SERVNAME_LN], pbuf[MAX_SERVPROTONAME_LN];
    const char *n = nullptr, *p = nullptr;
    if (!nlsui_argument(nbuf, sizeof nbuf, name, n, "getservbynameU16", "name", "MAX_SERVNAME_LN") ||
        !nlsui_argument(pbuf, sizeof pbuf, proto, p, "getservbynameU16", "proto", "MAX_SERVPROTONAME_LN"))
        return nullptr;
    return fill_servent(getservbyname(n, p), "getservbynameU16");
}

hostentU16* gethostbynameU16(const KOV_UTF16* name)
{
    char nbuf[MAX_HOSTNAME_LN];
    const char* n = nullptr;
    if (!nlsui_argument(nbuf, sizeof nbuf, name, n, "gethostbynameU16", "name", "MAX_HOSTNAME_LN"))
        return nullptr;
    return nlsui_hostentU16(gethostbyname(n), "gethostbynameU16");
}

hostentU16* gethostentU16()
{
    return nlsui_hostentU16(gethostent(), "gethostentU16");
}

hostentU16* gethostbyaddrU16(const void* addr, socklen_t len, int type)
{
    return nlsui_hostentU16(gethostbyaddr(addr, len, type), "gethostbyaddrU16");
}

passwdU16* getpwuidU16(uid_t uid)
{
    return fill_passwd(getpwuid(uid), "getpwuidU16");
}

passwdU16* getpwnamU16(const KOV_UTF16* name)
{
    char nbuf[MAX_PWNAME_LN];
    const char* n = nullptr;
    if (!nlsui_argument(nbuf, sizeof nbuf, name, n, "getpwnamU16", "name", "MAX_PWNAME_LN"))
        return nullptr;
    return fill_passwd(getpwnam(n), "getpwnamU16");
}

KOV_UTF16* nlsui_cast_raw2uc(void* p, const KOV_UTF16* file, int line)
{
    if ((reinterpret_cast<uintptr_t>(p) & 1) == 0)
        return static_cast<KOV_UTF16*>(p);
    char name[MAX_FILENAME_LN] = "";
    if (file != nullptr)
        nlsui_u16ToCbuf(name, file, sizeof name, kSource, __LINE__, "nlsui_cast_raw2uc", "file", "MAX_FILENAME_LN");
    char text[612];
    snprintfR(text, sizeof text, "ERROR: Casting an odd adress to KOV_UTF16* in file %s, line %d\n", name, line);
    fputs(text, stderr);
    const char* check = getenv("KOVCASTRAW2UCCHK");
    if (check == nullptr || std::strcmp(check, "0") != 0)
        abort();
    return static_cast<KOV_UTF16*>(p);
}
