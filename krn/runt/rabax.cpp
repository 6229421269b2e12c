// The runtime abort.
#include "krn/runt/rabax.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "krn/rstr/thr.h"
#include "nls/kovstr.h"

namespace {

constexpr int kSlots = 9;
constexpr size_t kText = 200;

struct Slot {
    char text[kText + 1];
    uint32_t len;
};

AbRabaxCallback g_callback = nullptr;
ThrKey g_key = THR_KEY_UNSET;

void FreeBuffer(void* buffer)
{
    ab_rabax_free(buffer);
}

Slot* Buffer()
{
    if (g_key == THR_KEY_UNSET && ThrKeyCreate(&g_key, FreeBuffer) != THR_ERR_OK)
        return nullptr;
    if (void* v = ThrKeyGetValue(&g_key))
        return static_cast<Slot*>(v);
    auto* slots = static_cast<Slot*>(std::calloc(kSlots, sizeof(Slot)));
    if (!slots || ThrKeySetValue(&g_key, slots) != THR_ERR_OK) {
        std::free(slots);
        return nullptr;
    }
    return slots;
}

}  // namespace

AbRabaxCallback ab_rabax_set_callback(AbRabaxCallback callback)
{
    const AbRabaxCallback old = g_callback;
    g_callback = callback;
    return old;
}

void ab_rabax_param(int slot, const char* fmt, ...)
{
    if (slot < 1 || slot > kSlots || !fmt)
        return;
    Slot* b = Buffer();
    if (!b)
        return;
    char text[kText + 1];
    va_list ap;
    va_start(ap, fmt);
    vsnprintfTruncR(text, sizeof text, fmt, ap);
    va_end(ap);
    const size_t n = std::strlen(text);
    if (n == 0)
        return;
    std::memcpy(b[slot - 1].text, text, n + 1);
    b[slot - 1].len = static_cast<uint32_t>(n);
}

void ab_rabax(const char* name, const char* id, int line, const char* source)
{
    Slot* b = Buffer();
    if (g_callback) {
        static const char kEmpty[] = "";
        const char* params[kSlots];
        int count = 1;
        params[0] = kEmpty;
        if (b) {
            count = kSlots;
            for (int i = 0; i < kSlots; ++i)
                params[i] = b[i].len && b[i].text[0] ? b[i].text : kEmpty;
        }
        g_callback(name, id, line, source, params, count);
    }
    if (b)
        ab_rabax_free(b);
    std::exit(-1);
}

void ab_rabax_assert(const char* name, int line, const char* source)
{
    ab_rabax(name, "ZEMO_ASSERT", line, source);
}

void ab_rabax_free(void* buffer)
{
    if (!buffer) {
        if (g_key == THR_KEY_UNSET)
            return;
        buffer = ThrKeyGetValue(&g_key);
        if (!buffer)
            return;
    }
    if (g_key != THR_KEY_UNSET && ThrKeyGetValue(&g_key) == buffer)
        ThrKeySetValue(&g_key, nullptr);
    std::free(buffer);
}

void ab_rabax_key_delete()
{
    ThrKeyDelete(&g_key);
}
