// The rotating temporary-buffer pool and the conversions that write into it.
//
// 40 slots are handed out in turn; a slot's buffer is replaced only when a
// larger one is asked of it, so steady use allocates nothing.  A result stays
// valid until 40 further requests.
#include <cstdlib>
#include <cstring>
#include <new>

#include "nls/nlsui.h"

namespace {

constexpr int kSlots = 40;

struct Slot {
    char* buf;
    int32_t size;
};

Slot g_pool[kSlots];
int g_next = 0;
uint64_t g_poolA7Repl = 0;  // bytes replaced by the pool's 7-bit conversions

// A buffer that can not be had ends the caller's work as any failed
// allocation does; the host reports it.
[[noreturn]] void outOfMemory()
{
    throw std::bad_alloc();
}

// Pool buffer for a string copy: its length plus the terminator.
char* bufForStr(const char* s, size_t* len)
{
    *len = std::strlen(s);
    if (*len >= INT32_MAX)
        outOfMemory();
    return nlsui_tmpbuf(static_cast<int32_t>(*len + 1));
}

inline unsigned char uc(char c)
{
    return static_cast<unsigned char>(c);
}

template <typename F>
char* mapStr(const char* s, F f)
{
    size_t len;
    char* b = bufForStr(s, &len);
    for (size_t i = 0; i < len; ++i)
        b[i] = static_cast<char>(f(uc(s[i])));
    b[len] = '\0';
    return b;
}

template <typename F>
char* mapMem(const char* src, int32_t n, F f)
{
    char* b = nlsui_tmpbuf(n);
    for (int32_t i = 0; i < n; ++i)
        b[i] = static_cast<char>(f(uc(src[i])));
    return b;
}

unsigned char to7(unsigned char c)
{
    if (c < 0x80)
        return c;
    ++g_poolA7Repl;
    return '#';
}

}  // namespace

char* nlsui_tmpbuf(int32_t size)
{
    // Every request gets a usable buffer, even one for zero bytes.
    if (size < 1)
        size = 1;
    Slot& slot = g_pool[g_next];
    g_next = g_next == kSlots - 1 ? 0 : g_next + 1;
    if (slot.size < size) {
        std::free(slot.buf);
        slot.size = 0;
        slot.buf = static_cast<char*>(std::malloc(static_cast<size_t>(size)));
        if (slot.buf == nullptr)
            outOfMemory();
        slot.size = size;
    }
    return slot.buf;
}

char* nlsui_tmpbuf_str(const char* s)
{
    size_t len;
    char* b = bufForStr(s, &len);
    std::memcpy(b, s, len + 1);
    return b;
}

char* nlsui_tmpbuf_str2(const char* s)
{
    return nlsui_tmpbuf_str(s);
}

char* nlsui_tmpbuf_mem(const void* src, int32_t n)
{
    char* b = nlsui_tmpbuf(n);
    if (n > 0)
        std::memcpy(b, src, static_cast<size_t>(n));
    return b;
}

char* nlsui_tmpbuf_str2a7(const char* s)
{
    return mapStr(s, to7);
}
char* nlsui_tmpbuf_mem2a7(const char* src, int32_t n)
{
    return mapMem(src, n, to7);
}
char* nlsui_tmpbuf_a72e_str(const char* s)
{
    return mapStr(s, nlsui_a72e_char);
}
char* nlsui_tmpbuf_a72e_mem(const char* src, int32_t n)
{
    return mapMem(src, n, nlsui_a72e_char);
}
char* nlsui_tmpbuf_e2a7_str(const char* s)
{
    return mapStr(s, nlsui_e2a7_char);
}
char* nlsui_tmpbuf_e2a7_mem(const char* src, int32_t n)
{
    return mapMem(src, n, nlsui_e2a7_char);
}
char* nlsui_tmpbuf_l12e_str(const char* s)
{
    return mapStr(s, nlsui_l12e_char);
}
char* nlsui_tmpbuf_l12e_mem(const char* src, int32_t n)
{
    return mapMem(src, n, nlsui_l12e_char);
}
char* nlsui_tmpbuf_e2l1_str(const char* s)
{
    return mapStr(s, nlsui_e2l1_char);
}
char* nlsui_tmpbuf_e2l1_mem(const char* src, int32_t n)
{
    return mapMem(src, n, nlsui_e2l1_char);
}
