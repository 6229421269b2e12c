// The session record.
#include "krn/rstr/tsstst.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "krn/rstr/fixstr.h"
#include "nls/kovstr.h"

namespace {

TssStat Initial()
{
    TssStat t;
    std::memset(&t, 0, sizeof t);
    t.state = 1;
    std::memset(t.program, ' ', sizeof t.program);
    t.kind = 'D';
    std::memset(t.user, ' ', sizeof t.user);
    std::memset(t.longProgram, ' ', 8);
    std::memset(t.termKind, ' ', sizeof t.termKind);
    t.flag = '0';
    std::memset(t.client, ' ', sizeof t.client);
    std::memset(t.display, ' ', sizeof t.display);
    std::memset(t.login, ' ', sizeof t.login);
    return t;
}

int32_t g_pid = 0;

void Display()
{
    if (const char* d = std::getenv("DISPLAY")) {
        fixstr_copy_str_pad(tsstst.display, d, sizeof tsstst.display);
        return;
    }
    for (int fd = 0; fd <= 2; ++fd) {
        const char* name = ttyname(fd);
        if (!name)
            continue;
        if (std::strncmp(name, "/dev/", 5) == 0)
            name += 5;
        const size_t n = std::strlen(name);
        if (n <= 7)
            fixstr_copy_str_pad(tsstst.display, name, sizeof tsstst.display);
        else
            std::memcpy(tsstst.display, name + n - 8, 8);
        return;
    }
    std::memcpy(tsstst.display, " no TTY ", 8);
}

}  // namespace

TssStat tsstst = Initial();

void tsstst_store_pid()
{
    g_pid = static_cast<int32_t>(getpid());
    tsstst.pid = g_pid;
}

void tsstst_fill(const char* program)
{
    if (tsstst.state == 1) {
        fixstr_copy_str_pad(tsstst.program, program, sizeof tsstst.program);
        tsstst.session = 0;
        tsstst_store_pid();
        std::memset(tsstst.longProgram, ' ', sizeof tsstst.longProgram);
        tsstst.reserved2 = 0;
        std::memcpy(tsstst.client, "000", 3);
        const struct passwd* pw = getpwuid(getuid());
        char login[24];
        if (pw && pw->pw_name)
            snprintfTruncR(login, sizeof login, "%s", pw->pw_name);
        else
            snprintfTruncR(login, sizeof login, "%u", static_cast<unsigned>(getuid()));
        fixstr_copy_str_pad(tsstst.login, login, sizeof tsstst.login);
        const char* user = std::getenv("KOVUSER");
        if (user && std::strlen(user) >= 4 && user[3] == ':') {
            std::memcpy(tsstst.client, user, 3);
            fixstr_copy_str_pad(tsstst.user, user + 4, sizeof tsstst.user);
        } else if (user) {
            fixstr_copy_str_pad(tsstst.user, user, sizeof tsstst.user);
        } else {
            fixstr_copy_pad(tsstst.user, sizeof tsstst.user, tsstst.login, sizeof tsstst.user);
        }
        fixstr_copy_str_pad(tsstst.terminal, "noTC", sizeof tsstst.terminal);
        std::memcpy(tsstst.termKind, "TT", 2);
        tsstst.flag = '0';
        Display();
        tsstst.state = 2;
    }
    if (program && fixstr_is_blank(tsstst.program, sizeof tsstst.program))
        fixstr_copy_str_pad(tsstst.program, program, sizeof tsstst.program);
}

void tsstst_refresh()
{
    if (tsstst.state == 1) {
        tsstst_fill(nullptr);
        return;
    }
    tsstst_store_pid();
    tsstst.session = 0;
}

void tsstst_switch()
{
    if (tsstst.state != 2)
        return;
    fixstr_copy_pad(tsstst.longProgram, sizeof tsstst.longProgram, tsstst.program, sizeof tsstst.program);
    std::memset(tsstst.terminal, ' ', sizeof tsstst.terminal);
    std::memcpy(tsstst.termKind, "sa", 2);
    tsstst.state = 3;
}
