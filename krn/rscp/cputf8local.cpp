// Cached converters between UTF-8 (or UTF-16) and the local code page, their
// counted, string and in-place forms, the prepare-then-convert pairs and the
// small string helpers of the same unit.
#include "krn/rscp/cputf8local.h"

#include <climits>
#include <cstring>

#include "krn/rscp/cpactivate.h"
#include "krn/rscp/cpcache.h"
#include "krn/rscp/cpconvert.h"
#include "krn/rscp/cperr.h"
#include "nls/nlsui.h"

namespace {

const char kModule[] = "@(#) $Id: rscpu8lc#1 $";

uint32_t Invalid(int32_t line, const char* text)
{
    return rscpe__error(RSCPEINVAL, 'C', RSCP_ALL_ERRORS, kModule, 1, line, text, "F38", nullptr, 0, nullptr, 0);
}

// What a core converter is: the other side of the local code page, its
// direction and options, and its call counter.
struct Kind {
    const char* other;
    bool toLocal;
    int32_t miss, broken, ctrl;
    int32_t counter;
};

// A converter set up for the code page last; ready while it is.
struct Cached {
    rscpCObj_t obj;
    char last[4] = {'0', '0', '0', '0'};
    bool ready = false;
};

uint32_t SetUp(rscpCObj_t* obj, const char* in, const char* out, int32_t miss, int32_t broken, int32_t fill,
               int32_t ctrl)
{
    uint32_t rc = rscpCInit(obj, in, out, miss, broken, fill);
    if (rc == RSCP_OK)
        rc = rscpCSetUseF1(obj, RSCPF1_NOT);
    if (rc == RSCP_OK)
        rc = rscpCSetCtrlCodeCv(obj, ctrl);
    if (rc == RSCP_OK)
        rc = rscpCActivate(obj);
    return rc;
}

uint32_t Convert(rscpCObj_t* obj, char** dst, char* dstEnd, const char** src, const char* srcEnd)
{
    return rscpCConvert(obj, reinterpret_cast<uint8_t**>(dst), reinterpret_cast<uint8_t*>(dstEnd),
                        reinterpret_cast<const uint8_t**>(src), reinterpret_cast<const uint8_t*>(srcEnd));
}

// One call of a core converter.  A cache that was finished since the set-up
// is started again by a new set-up.
uint32_t Core(Cached& c, const Kind& k, const char* cp, char** dst, char* dstEnd, const char** src, const char* srcEnd)
{
    char current[4];
    if (cp != nullptr)
        std::memcpy(current, cp, 4);
    else
        rscph_HookTable.LocalCodePage(current);
    if (c.ready && (std::memcmp(current, c.last, 4) != 0 || h_ccc_state == 0)) {
        rscpCRelease(&c.obj);
        c.ready = false;
    }
    if (c.ready) {
        ++rscph_HookTable.ctl->converterCalls[k.counter];
    } else {
        const uint32_t rc = SetUp(&c.obj, k.toLocal ? k.other : current, k.toLocal ? current : k.other, k.miss,
                                  k.broken, RSCPFILL_NEVER, k.ctrl);
        if (rc != RSCP_OK)
            return rc;
        std::memcpy(c.last, current, 4);
        c.ready = true;
    }
    return Convert(&c.obj, dst, dstEnd, src, srcEnd);
}

constexpr int32_t kToUtf8 = RSCPCC_TO_UTF8, kFromUtf8 = RSCPCC_FROM_UTF8;
constexpr Kind kUcnToUtf8{"4110", false, RSCPMISS_SUBSTITUTE, RSCPBROKEN_LIKE_MISS, RSCPCTRL_TRY, kToUtf8};
constexpr Kind kUcnToUtf8NoCtrl{"4110",           false,      RSCPMISS_SUBSTITUTE, RSCPBROKEN_LIKE_MISS,
                                RSCPCTRL_ILLEGAL, kToUtf8 + 1};
constexpr Kind kUcnToUtf8Strict{"4110", false, RSCPMISS_STOP, RSCPBROKEN_STOP_FINALLY, RSCPCTRL_TRY, kToUtf8 + 2};
constexpr Kind kUtf8ToUcn{"4110", true, RSCPMISS_SUBSTITUTE, RSCPBROKEN_LIKE_MISS, RSCPCTRL_TRY, kFromUtf8};
constexpr Kind kUtf8ToUcnNoCtrl{"4110",           true,         RSCPMISS_SUBSTITUTE, RSCPBROKEN_LIKE_MISS,
                                RSCPCTRL_ILLEGAL, kFromUtf8 + 1};
constexpr Kind kUtf8ToUcnStrict{"4110", true, RSCPMISS_STOP, RSCPBROKEN_STOP_FINALLY, RSCPCTRL_TRY, kFromUtf8 + 2};
constexpr Kind kUtf16ToUcn{"4103", true, RSCPMISS_SUBSTITUTE, RSCPBROKEN_LIKE_MISS, RSCPCTRL_TRY, RSCPCC_FROM_UTF16};
constexpr Kind kUtf16ToUcn2{
    "4103", true, RSCPMISS_SUBSTITUTE, RSCPBROKEN_LIKE_MISS, RSCPCTRL_TRY, RSCPCC_FROM_UTF16 + 1};
constexpr Kind kUcnToUtf16{"4103", false, RSCPMISS_SUBSTITUTE, RSCPBROKEN_LIKE_MISS, RSCPCTRL_TRY, RSCPCC_TO_UTF16};
constexpr Kind kUcnToUtf16_2{
    "4103", false, RSCPMISS_SUBSTITUTE, RSCPBROKEN_LIKE_MISS, RSCPCTRL_TRY, RSCPCC_TO_UTF16 + 1};

typedef uint32_t (*CoreFunc)(const char*, char**, char*, const char**, const char*);
typedef uint32_t (*StrFunc)(char*, int32_t, uint32_t*, const char*);

uint32_t Buf(CoreFunc core, char* dst, int32_t dstLength, uint32_t* outLength, const char* src, int32_t srcLength)
{
    if (dstLength < 0 || srcLength < 0 || (dst == nullptr && dstLength > 0) || (src == nullptr && srcLength > 0))
        return Invalid(__LINE__, "negative or missing buffer");
    char* d = dst;
    const char* s = src;
    const uint32_t rc = core(nullptr, &d, dst + dstLength, &s, src + srcLength);
    if (outLength != nullptr)
        *outLength = uint32_t(d - dst);
    return rc;
}

// Whether the local code page has characters of single bytes (as far as the
// cache knows it), remembered for the last code page asked about.
bool LocalCodePageOfBytes()
{
    static char last[4] = {'0', '0', '0', '0'};
    static int32_t unit = 0;  // 0: not known (yet)
    char cp[4] = {'0', '0', '0', '0'};
    rscph_HookTable.LocalCodePage(cp);
    if (unit == 0 || std::memcmp(cp, last, 4) != 0) {
        unit = rscpLengthOfBasicChar(cp);
        std::memcpy(last, cp, 4);
    }
    return unit <= 1;
}

uint32_t Str(CoreFunc core, char* dst, int32_t size, uint32_t* outLength, const char* src)
{
    if (dst == nullptr || src == nullptr || size < 1)
        return Invalid(__LINE__, "missing buffer or destination size below 1");
    if (!LocalCodePageOfBytes()) {
        *dst = '\0';
        if (outLength != nullptr)
            *outLength = 0;
        return Invalid(__LINE__, "a string of bytes cannot be in a code page of 16- or 32-bit units");
    }
    char* d = dst;
    const char* s = src;
    uint32_t rc = core(nullptr, &d, dst + size - 1, &s, src + std::strlen(src));
    // A NUL in the output would cut the string short: never made of a
    // source that has none.
    if (std::memchr(dst, 0, size_t(d - dst)) != nullptr) {
        d = dst;
        rc = Invalid(__LINE__, "converted text would hold a NUL");
    }
    *d = '\0';
    if (outLength != nullptr)
        *outLength = uint32_t(d - dst);
    return rc;
}

uint32_t InPlace(StrFunc str, char* dst, uint32_t size, uint32_t* outLength, const char* src)
{
    if (dst == nullptr || src == nullptr || size < 1 || size > INT32_MAX)
        return Invalid(__LINE__, "missing buffer or destination size out of range");
    if (src >= dst && src < dst + size && std::memchr(src, 0, size_t(dst + size - src)) == nullptr)
        return Invalid(__LINE__, "source without its terminator");
    char* tmp = nlsui_tmpbuf(int32_t(size));
    tmp[0] = '\0';
    uint32_t n = 0;
    const uint32_t rc = str(tmp, int32_t(size), &n, src);
    std::memcpy(dst, tmp, size_t(n) + 1);
    if (outLength != nullptr)
        *outLength = n;
    return rc;
}

// ---- prepare-then-convert ------------------------------------------------------------

struct Prepared {
    rscpCObj_t obj;
    uint8_t initialised = 0;
    char cp[4] = {};
};

Prepared g_ucnToUtf8, g_ucnToUtf8Pad, g_utf8ToUcn, g_utf8ToUcnPad;

uint32_t Prepare(Prepared& p, bool toLocal, int32_t fill, int32_t counter)
{
    char cp[4];
    rscph_HookTable.LocalCodePage(cp);
    if (p.initialised && std::memcmp(cp, p.cp, 4) == 0 && h_ccc_state != 0) {
        ++rscph_HookTable.ctl->converterCalls[counter];
        return RSCP_OK;
    }
    p.initialised = 0;
    const uint32_t rc = SetUp(&p.obj, toLocal ? "4110" : cp, toLocal ? cp : "4110", RSCPMISS_SUBSTITUTE,
                              RSCPBROKEN_LIKE_MISS, fill, RSCPCTRL_TRY);
    if (rc != RSCP_OK)
        return rc;
    p.initialised = 1;
    std::memcpy(p.cp, cp, 4);
    return RSCP_OK;
}

uint32_t NextPad(Prepared& p, char** dst, char* dstEnd, const char** src, const char* srcEnd)
{
    const uint32_t rc = Convert(&p.obj, dst, dstEnd, src, srcEnd);
    if (dst != nullptr && *dst != nullptr && dstEnd != nullptr && *dst <= dstEnd) {
        std::memset(*dst, ' ', size_t(dstEnd - *dst));
        *dst = dstEnd;
    }
    return rc;
}

}  // namespace

#define RSCP_CACHED_CONVERTER(name, kind) \
    uint32_t name(const char* cp, char** dst, char* dstEnd, const char** src, const char* srcEnd) \
    { \
        static Cached c; \
        return Core(c, kind, cp, dst, dstEnd, src, srcEnd); \
    }

RSCP_CACHED_CONVERTER(UcnToUtf8nCP, kUcnToUtf8)
RSCP_CACHED_CONVERTER(UcnToUtf8nCPNoCtrl, kUcnToUtf8NoCtrl)
RSCP_CACHED_CONVERTER(UcnToUtf8nCPStrict, kUcnToUtf8Strict)
RSCP_CACHED_CONVERTER(Utf8nToUcnCP, kUtf8ToUcn)
RSCP_CACHED_CONVERTER(Utf8nToUcnCPNoCtrl, kUtf8ToUcnNoCtrl)
RSCP_CACHED_CONVERTER(Utf8nToUcnCPStrict, kUtf8ToUcnStrict)
RSCP_CACHED_CONVERTER(Utf16nToUcnCP, kUtf16ToUcn)
RSCP_CACHED_CONVERTER(Utf16nToUcnCP2, kUtf16ToUcn2)
RSCP_CACHED_CONVERTER(UcnToUtf16nCP, kUcnToUtf16)
RSCP_CACHED_CONVERTER(UcnToUtf16nCP2, kUcnToUtf16_2)

uint32_t Utf8nToUcnCPBuf(char* dst, int32_t dstLength, uint32_t* outLength, const char* src, int32_t srcLength)
{
    return Buf(Utf8nToUcnCP, dst, dstLength, outLength, src, srcLength);
}

uint32_t UcnToUtf8nCPBuf(char* dst, int32_t dstLength, uint32_t* outLength, const char* src, int32_t srcLength)
{
    return Buf(UcnToUtf8nCP, dst, dstLength, outLength, src, srcLength);
}

uint32_t Utf8nToUcnCPStr(char* dst, int32_t size, uint32_t* outLength, const char* src)
{
    return Str(Utf8nToUcnCP, dst, size, outLength, src);
}

uint32_t UcnToUtf8nCPStr(char* dst, int32_t size, uint32_t* outLength, const char* src)
{
    return Str(UcnToUtf8nCP, dst, size, outLength, src);
}

uint32_t Utf8nToUcnCPInPlace(char* dst, uint32_t size, uint32_t* outLength, const char* src)
{
    return InPlace(Utf8nToUcnCPStr, dst, size, outLength, src);
}

uint32_t UcnToUtf8nCPInPlace(char* dst, uint32_t size, uint32_t* outLength, const char* src)
{
    return InPlace(UcnToUtf8nCPStr, dst, size, outLength, src);
}

// Each prepared converter has a counter of its own, behind the three core
// converters of its direction.
uint32_t UcnToUtf8nCPInit()
{
    return Prepare(g_ucnToUtf8, false, RSCPFILL_NEVER, kToUtf8 + 3);
}
uint32_t UcnToUtf8nCPInitPad()
{
    return Prepare(g_ucnToUtf8Pad, false, RSCPFILL_AND_TRUNC_SPACES, kToUtf8 + 4);
}
uint32_t Utf8nToUcnCPInit()
{
    return Prepare(g_utf8ToUcn, true, RSCPFILL_NEVER, kFromUtf8 + 3);
}
uint32_t Utf8nToUcnCPInitPad()
{
    return Prepare(g_utf8ToUcnPad, true, RSCPFILL_AND_TRUNC_SPACES, kFromUtf8 + 4);
}

uint32_t UcnToUtf8nCPNext(char** dst, char* dstEnd, const char** src, const char* srcEnd)
{
    return Convert(&g_ucnToUtf8.obj, dst, dstEnd, src, srcEnd);
}
uint32_t UcnToUtf8nCPNextPad(char** dst, char* dstEnd, const char** src, const char* srcEnd)
{
    return NextPad(g_ucnToUtf8Pad, dst, dstEnd, src, srcEnd);
}
uint32_t Utf8nToUcnCPNext(char** dst, char* dstEnd, const char** src, const char* srcEnd)
{
    return Convert(&g_utf8ToUcn.obj, dst, dstEnd, src, srcEnd);
}
uint32_t Utf8nToUcnCPNextPad(char** dst, char* dstEnd, const char** src, const char* srcEnd)
{
    return NextPad(g_utf8ToUcnPad, dst, dstEnd, src, srcEnd);
}

// ---- string helpers ---------------------------------------------------------------------

namespace {

template <typename T>
int32_t Length(const T* s)
{
    int32_t n = 0;
    while (s[n] != 0)
        ++n;
    return n;
}

template <typename T>
T* Copy(T* dst, const T* src)
{
    int32_t i = 0;
    do
        dst[i] = src[i];
    while (src[i++] != 0);
    return dst;
}

}  // namespace

int32_t rscpStrLen8(const char* s)
{
    return Length(s);
}
int32_t rscpStrLen16(const uint16_t* s)
{
    return Length(s);
}
int32_t rscpStrLen32(const uint32_t* s)
{
    return Length(s);
}
void rscpStrCpy8(char* dst, const char* src)
{
    Copy(dst, src);
}
uint16_t* rscpStrCpy16(uint16_t* dst, const uint16_t* src)
{
    return Copy(dst, src);
}
uint32_t* rscpStrCpy32(uint32_t* dst, const uint32_t* src)
{
    return Copy(dst, src);
}
int32_t rscpStrCpyLen8(char* dst, const char* src)
{
    Copy(dst, src);
    return Length(dst);
}
