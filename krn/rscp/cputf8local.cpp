// Cached converters between UTF-8 (or UTF-16) and the local code page, their
// counted, string and in-place forms, the prepare-then-convert pairs and the
// small string helpers of the same unit.
#include "krn/rscp/cputf8local.h"

#include <algorithm>
#include <bit>
#include <climits>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "krn/rscp/cpactivate.h"
#include "krn/rscp/cpcache.h"
#include "krn/rscp/cpconvert.h"
#include "krn/rscp/cperr.h"
#include "krn/rscp/cpreadchars.h"
#include "nls/nlsui.h"
#include "nls/utf8char.h"

namespace {

const char kModule[] = "@(#) $Id: rscpu8lc#1 $";

// NLS kind of UTF-8 (4110, 4310): its bytes after the first are never below
// 0x80.
constexpr uint32_t kKindUtf8 = 12;

uint32_t Invalid(int32_t line, const char* text)
{
    return rscpe__error(RSCPEINVAL, 'C', RSCP_ALL_ERRORS, kModule, 1, line, text, "F38", nullptr, 0, nullptr, 0);
}

// The helpers without a result (the characters of local names) take a
// conversion that failed for the page's sake for an answer about the page;
// one that failed for memory tells nothing of the page, and ends the
// caller's work as a failed allocation does.
uint32_t ThrowIfNoMemory(uint32_t rc)
{
    if (rc == RSCPENOMEM)
        throw std::bad_alloc();
    return rc;
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
    bool copiesUtf8 = false;  // both sides UTF-8: the source is copied, not decoded
};

// Whether the code page is UTF-8 (4110, 4310).
bool IsUtf8(const char* cp)
{
    rscpCharLenHandle_t handle;
    return rscpInitCharLenHandle(&handle, cp) == 0 && handle.kind == kKindUtf8;
}

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

// The high bits of the 8 bytes at p, byte i of them in bits 8 i to 8 i + 7.
inline uint64_t HighBits(const uint8_t* p)
{
    uint64_t word;
    std::memcpy(&word, p, 8);
    if constexpr (std::endian::native == std::endian::big)
        word = __builtin_bswap64(word);
    return word & 0x8080808080808080u;
}

// The first byte of [p, end) that is no ASCII, or end; by the word, the
// last bytes by the word that ends with them when the whole range (from
// start) is long enough.
inline const uint8_t* SkipAscii(const uint8_t* start, const uint8_t* p, const uint8_t* end)
{
    while (end - p >= 8) {
        const uint64_t high = HighBits(p);
        if (high != 0)
            return p + std::countr_zero(high) / 8;
        p += 8;
    }
    if (p == end)
        return end;
    if (end - start >= 8) {
        // The bytes of the word ahead of p were seen already.
        const int ahead = int(8 - (end - p));
        const uint64_t high = HighBits(end - 8) >> (8 * ahead);
        return high == 0 ? end : p + std::countr_zero(high) / 8;
    }
    while (p < end && *p < 0x80)
        ++p;
    return p;
}

// The first broken UTF-8 sequence of [p, end) and its length, or end.
const uint8_t* FirstBroken(const uint8_t* p, const uint8_t* end, size_t* broken)
{
    const uint8_t* const start = p;
    for (;;) {
        p = SkipAscii(start, p, end);
        if (p == end)
            return end;
        const size_t n = KovUtf8CharLength(p, end, broken);
        if (n == 0)
            return p;
        p += n;
    }
}

uint32_t Convert(rscpCObj_t* obj, char** dst, char* dstEnd, const char** src, const char* srcEnd)
{
    return rscpCConvert(obj, reinterpret_cast<uint8_t**>(dst), reinterpret_cast<uint8_t*>(dstEnd),
                        reinterpret_cast<const uint8_t**>(src), reinterpret_cast<const uint8_t*>(srcEnd));
}

// A converter between two UTF-8 code pages copies its source: each broken
// sequence there (broken UTF-8, an encoded surrogate, a value above
// U+10FFFF, an overlong or a five- or six-byte form) is made one substitute
// here, as a converter that decodes UTF-8 does.  The source cursor stays at
// a broken sequence for which there is no room.
uint32_t ConvertUtf8Copy(rscpCObj_t* obj, char** dst, char* dstEnd, const char** src, const char* srcEnd)
{
    const uint8_t* end = reinterpret_cast<const uint8_t*>(srcEnd);
    for (;;) {
        size_t broken = 0;
        const char* bad = reinterpret_cast<const char*>(
            FirstBroken(reinterpret_cast<const uint8_t*>(*src), end, &broken));
        if (bad != *src || bad == srcEnd) {
            const uint32_t rc = Convert(obj, dst, dstEnd, src, bad);
            if (rc != RSCP_OK || bad == srcEnd)
                return rc;
        }
        const char substitute[] = "#";
        const char* s = substitute;
        const uint32_t rc = Convert(obj, dst, dstEnd, &s, substitute + 1);
        if (rc != RSCP_OK)
            return rc;
        *src = bad + broken;
    }
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
        c.copiesUtf8 = k.miss == RSCPMISS_SUBSTITUTE && IsUtf8(current) && IsUtf8(k.other);
    }
    if (c.copiesUtf8)
        return ConvertUtf8Copy(&c.obj, dst, dstEnd, src, srcEnd);
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

// What the string forms know of the local code page they saw last.
struct LocalPage {
    char cp[4] = {'0', '0', '0', '0'};
    int32_t unit = 0;  // bytes of its basic character; 0: not known (yet)
    int32_t kind = 0;  // rscpKindiOfCP; RSCPKIND_UNKNOWN: not known (yet)
};

LocalPage& CurrentLocalPage()
{
    static LocalPage page;
    char cp[4] = {'0', '0', '0', '0'};
    rscph_HookTable.LocalCodePage(cp);
    if (std::memcmp(cp, page.cp, 4) != 0) {
        page = LocalPage{};
        std::memcpy(page.cp, cp, 4);
    }
    // The answer needs the converter cache, which may not have been started
    // yet: it is asked again until it is known.
    if (page.unit == 0)
        page.unit = rscpLengthOfBasicChar(cp);
    return page;
}

// Whether the conversion of [src, srcEnd) into the local code page, which
// gave [dst, dstEnd), may have written a character with a byte "/" or NUL:
// not when the output holds neither, nor when each "/" of the output is one
// of the source, which a code page that writes "/" as ASCII does shows by
// their numbers.
bool MayHaveGainedSeparator(LocalPage& page, const char* src, const char* srcEnd, const char* dst, const char* dstEnd)
{
    if (std::memchr(dst, 0, size_t(dstEnd - dst)) != nullptr)
        return true;
    if (std::memchr(dst, '/', size_t(dstEnd - dst)) == nullptr)
        return false;
    // Asked only after a conversion, when the cache knows the code page.
    if (page.kind == RSCPKIND_UNKNOWN)
        page.kind = rscpKindiOfCP(page.cp);
    if (page.kind != RSCPKIND_ASCII && page.kind != RSCPKIND_UTF8)
        return true;
    return std::count(dst, dstEnd, '/') != std::count(src, srcEnd, '/');
}

// The UTF-8 source with every character that the converter writes with a
// byte "/" or NUL replaced by "#" (the character "/" itself stays), and
// every broken sequence too, into out.  Each character is converted on its
// own: the bytes of a character are the same there, whatever shift
// sequences surround them.  RSCP_OK, or RSCPENOMEM when a character could
// not be converted for memory (what it would gain is not known then).
uint32_t WithoutGainedSeparators(CoreFunc core, const char* src, const char* srcEnd, std::string& out)
{
    out.clear();
    out.reserve(size_t(srcEnd - src));
    const uint8_t* p = reinterpret_cast<const uint8_t*>(src);
    const uint8_t* end = reinterpret_cast<const uint8_t*>(srcEnd);
    while (p < end) {
        size_t broken = 0;
        const size_t n = KovUtf8CharLength(p, end, &broken);
        if (n == 0) {
            out += '#';
            p += broken;
            continue;
        }
        const char* c = reinterpret_cast<const char*>(p);
        bool gains = false;
        if (!(n == 1 && *c == '/')) {
            char bytes[64];
            char* d = bytes;
            const char* s = c;
            const uint32_t rc = core(nullptr, &d, bytes + sizeof bytes, &s, c + n);
            if (rc == RSCPENOMEM)
                return rc;
            if (rc == RSCP_OK)
                gains = std::memchr(bytes, '/', size_t(d - bytes)) != nullptr ||
                        std::memchr(bytes, 0, size_t(d - bytes)) != nullptr;
        }
        if (gains)
            out += '#';
        else
            out.append(c, n);
        p += n;
    }
    return RSCP_OK;
}

uint32_t Str(CoreFunc core, bool toLocal, char* dst, int32_t size, uint32_t* outLength, const char* src)
{
    if (dst == nullptr || src == nullptr || size < 1)
        return Invalid(__LINE__, "missing buffer or destination size below 1");
    LocalPage& page = CurrentLocalPage();
    if (page.unit > 1) {
        *dst = '\0';
        if (outLength != nullptr)
            *outLength = 0;
        return Invalid(__LINE__, "a string of bytes cannot be in a code page of 16- or 32-bit units");
    }
    const char* srcEnd = src + std::strlen(src);
    char* d = dst;
    const char* s = src;
    uint32_t rc = core(nullptr, &d, dst + size - 1, &s, srcEnd);
    // Most names are written as they are read (ASCII): such an output has
    // gained nothing.
    const bool copied = d - dst == s - src && std::memcmp(dst, src, size_t(d - dst)) == 0;
    // A name made in the local code page must not gain a separator or a NUL
    // that the stored name does not hold (a stateful or EBCDIC code page can
    // write a character so): such a character becomes the substitute, as one
    // the code page cannot hold does.
    if (toLocal && !copied && MayHaveGainedSeparator(page, src, s, dst, d)) {
        std::string safe;
        d = dst;
        rc = WithoutGainedSeparators(core, src, srcEnd, safe);
        if (rc == RSCP_OK) {
            s = safe.c_str();
            rc = core(nullptr, &d, dst + size - 1, &s, safe.c_str() + safe.size());
        }
    }
    // A NUL in the output would cut the string short: never made of a
    // source that has none.
    if (!copied && std::memchr(dst, 0, size_t(d - dst)) != nullptr) {
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
    return Str(Utf8nToUcnCP, true, dst, size, outLength, src);
}

uint32_t UcnToUtf8nCPStr(char* dst, int32_t size, uint32_t* outLength, const char* src)
{
    return Str(UcnToUtf8nCP, false, dst, size, outLength, src);
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

// ---- characters of local names ------------------------------------------------------

namespace {

// How the characters of the local code page it saw last are found, for the
// backslashes of names and for showing them.
struct LocalChars {
    enum Walk { kBytes, kLengths, kShifts };
    enum Shown { kUndecided, kByBytes, kByCharacters };
    char cp[4] = {'0', '0', '0', '0'};
    bool known = false;
    bool lengthsKnown = false;  // handle holds the code page's kind
    Walk walk = kBytes;
    Shown shown = kUndecided;  // decided on the first name that needs it
    rscpCharLenHandle_t handle{};
    rscpReadChars read;  // the characters as the page's converter reads them
    // What each byte on its own and each pair of bytes decodes to, as
    // 1 + LocalCharacter once it was decoded (0: not yet): a listing of
    // many names decodes each of their characters once.
    uint8_t singles[256] = {};
    std::unique_ptr<uint8_t[]> pairs;  // 65536, for a double-byte page
    // Each byte, or the page's byte of the lower-case letter where the byte
    // alone is one of A-Z; made on the first name that is lowered.
    std::unique_ptr<uint8_t[]> lower;
    // The page's converter reads one byte a character, without shifts of
    // its own.
    bool singleBytes = false;
    // For such a page, and a page whose converter reads characters of
    // several bytes without shifts, 1 for each byte that converts on its
    // own into UTF-8 and back as it was; made on the first name that asks
    // (see ComesBackByCharactersCP).
    std::unique_ptr<uint8_t[]> comesBack;
    // For the latter, what each pair of bytes does as one character, once
    // a name held it: 0 not known yet, 1 converts into UTF-8 and back as it
    // was, 2 does not.
    std::unique_ptr<uint8_t[]> pairsBack;
};

// The local code page's characters, found again when the code page changed.
// As the cached converters, they serve one thread.
LocalChars& CurrentLocalChars()
{
    static LocalChars local;
    char cp[4] = {'0', '0', '0', '0'};
    rscph_HookTable.LocalCodePage(cp);
    if (!local.known || std::memcmp(cp, local.cp, 4) != 0) {
        // Known only once found: a search that ran out of memory is made
        // again on the next name.
        local = LocalChars{};
        std::memcpy(local.cp, cp, 4);
        // UTF-8 needs no walk; the characters of a page whose converter
        // reads several bytes a character (whatever its kind says: the Hong
        // Kong pages 8344 and 8345 have no lengths of their own) are where
        // the converter's tables say; any other code page may hold a name
        // with ISO-2022 shifts (8200, 8599), in which single bytes are the
        // characters until a shift.
        local.lengthsKnown = rscpInitCharLenHandle(&local.handle, cp) == 0;
        const bool read = local.lengthsKnown && local.handle.kind != kKindUtf8 &&
                          ThrowIfNoMemory(rscpReadCharsOfCP(cp, &local.read)) == RSCP_OK && !local.read.shifted;
        if (local.lengthsKnown && local.handle.kind == kKindUtf8)
            local.walk = LocalChars::kBytes;
        else if (read && local.read.multiByte)
            local.walk = LocalChars::kLengths;
        else
            local.walk = LocalChars::kShifts;
        local.singleBytes = read && !local.read.multiByte;
        local.known = true;
    }
    return local;
}

// Whether byte c may change how the bytes behind it are read in a page
// with shifts: ESC (an escape sequence), SO and SI, and LF, which ends a
// shift (see WalkShiftedSingleBytes).
bool MayShift(uint8_t c)
{
    return c == 0x1B || c == 0x0E || c == 0x0F || c == 0x0A;
}

// The walk through a name that may hold ISO-2022 shifts (8200, 8599):
// escape sequences designate a set of one or two bytes a character to G0 or
// G1, shift out and shift in choose between them, a line feed shifts in.
// Calls visit(i, ascii) for every byte i that is a character of one byte,
// ascii telling whether its set is ASCII or JIS-Roman (G0 before any
// designation is); a byte of a character of two bytes and the bytes of an
// escape sequence are not visited.  A name without shifts is one of single
// bytes.  The walk stops where visit returns false.
template <typename Visit>
void WalkShiftedSingleBytes(const char* name, size_t length, Visit visit)
{
    bool g0Wide = false, g1Wide = false, shifted = false;
    bool g0Ascii = true, g1Ascii = false;
    for (size_t i = 0; i < length;) {
        const uint8_t c = uint8_t(name[i]);
        if (c == 0x1B) {
            // ESC, intermediate bytes, one final byte: "$" designates a set
            // of two bytes, "(" G0 and ")" G1 ("$" alone: G0).
            size_t end = i + 1;
            while (end < length && name[end] >= 0x20 && name[end] <= 0x2F)
                ++end;
            if (end == length)
                return;
            const bool wide = end > i + 1 && name[i + 1] == '$';
            const char set = wide ? (end > i + 2 ? name[i + 2] : '(') : name[i + 1];
            const bool ascii = !wide && (name[end] == 'B' || name[end] == 'J');
            if (set == '(') {
                g0Wide = wide;
                g0Ascii = ascii;
            } else if (set == ')') {
                g1Wide = wide;
                g1Ascii = ascii;
            }
            i = end + 1;
        } else if (c == 0x0E || c == 0x0F || c == 0x0A) {
            shifted = c == 0x0E;
            ++i;
        } else if ((shifted ? g1Wide : g0Wide) && c >= 0x21 && c <= 0x7E) {
            i += 2;
        } else {
            if (!visit(i, shifted ? g1Ascii : g0Ascii))
                return;
            ++i;
        }
    }
}

// Calls visit(i, ascii) for every byte i of the name (length bytes) that the
// local code page reads as a character of one byte, from the start of the
// name (only there is it known where a character begins); ascii: false for
// a byte of a set of one byte that is no ASCII (see WalkShiftedSingleBytes).
// The walk stops where visit returns false.
template <typename Visit>
void WalkSingleByteCharacters(const LocalChars& local, const char* name, size_t length, Visit visit)
{
    if (local.walk == LocalChars::kShifts) {
        WalkShiftedSingleBytes(name, length, visit);
        return;
    }
    if (local.walk == LocalChars::kBytes) {
        for (size_t at = 0; at < length; ++at)
            if (!visit(at, true))
                return;
        return;
    }
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(name);
    for (size_t at = 0; at < length;) {
        const size_t n = rscpLengthOfReadChar(local.read, bytes + at, length - at);
        if (n == 1 && !visit(at, true))
            return;
        at += n;
    }
}

// What the local code page makes of the n bytes at p as one character: a
// character the page decodes them to completely, a control character
// (U+0000-U+001F, U+007F-U+009F), or none.
LocalCharacter DecodedCharacter(const char* p, size_t n)
{
    char out[32];
    char* d = out;
    const char* s = p;
    if (ThrowIfNoMemory(UcnToUtf8nCPStrict(nullptr, &d, out + sizeof out, &s, p + n)) != RSCP_OK || s != p + n ||
        d == out)
        return LocalCharacter::kNone;
    for (const char* q = out; q < d; ++q) {
        const uint8_t c = uint8_t(*q);
        // 0xC2 only ever leads a character: U+0080-U+00BF.
        if (c < 0x20 || c == 0x7F || (c == 0xC2 && q + 1 < d && uint8_t(q[1]) < 0xA0))
            return LocalCharacter::kControl;
    }
    return LocalCharacter::kText;
}

// DecodedCharacter of the n bytes at p, decoded once for all the names that
// hold them: memo is their slot in LocalChars.
LocalCharacter Remembered(uint8_t& memo, const char* p, size_t n)
{
    if (memo == 0)
        memo = uint8_t(1 + int(DecodedCharacter(p, n)));
    return LocalCharacter(memo - 1);
}

// Whether the names of the local code page are shown by the rules of their
// bytes: see LocalNamesShownByBytes.
bool ShownByBytes(const LocalChars& local)
{
    if (!local.lengthsKnown || local.handle.kind == kKindUtf8 || std::memcmp(local.cp, "1100", 4) == 0)
        return true;
    // A code page the library cannot convert tells no characters apart.
    if (DecodedCharacter("A", 1) != LocalCharacter::kText)
        return true;
    if (local.walk == LocalChars::kLengths)
        return false;
    // A page of single bytes that carries the characters of ISO 8859-1.
    for (int b = 0x80; b <= 0xFF; ++b) {
        const char c = char(b);
        char out[4];
        char* d = out;
        const char* s = &c;
        if (ThrowIfNoMemory(UcnToUtf8nCPStrict(nullptr, &d, out + sizeof out, &s, &c + 1)) != RSCP_OK || d - out != 2 ||
            uint8_t(out[0]) != 0xC0 + (b >> 6) || uint8_t(out[1]) != (0x80 | (b & 0x3F)))
            return false;
    }
    return true;
}

// Each byte, or, where the local code page reads the byte alone as one of
// the letters A-Z, the page's one byte of its lower-case letter.
std::unique_ptr<uint8_t[]> LowerCaseTable()
{
    auto table = std::make_unique<uint8_t[]>(256);
    for (int b = 0; b < 256; ++b) {
        table[b] = uint8_t(b);
        const char c = char(b);
        char letter = 0;
        char* d = &letter;
        const char* s = &c;
        if (ThrowIfNoMemory(UcnToUtf8nCPStrict(nullptr, &d, &letter + 1, &s, &c + 1)) != RSCP_OK || d != &letter + 1 ||
            letter < 'A' || letter > 'Z')
            continue;
        const char small = char(letter - 'A' + 'a');
        char out[8];
        d = out;
        s = &small;
        if (ThrowIfNoMemory(Utf8nToUcnCPStrict(nullptr, &d, out + sizeof out, &s, &small + 1)) == RSCP_OK &&
            d == out + 1)
            table[b] = uint8_t(out[0]);
    }
    return table;
}

// Whether the n bytes at in (no NUL among them) convert on their own into
// UTF-8 and back as they were, by the converters that names take
// (UcnToUtf8nCPStr, Utf8nToUcnCPStr).
bool ComesBackAlone(const char* in, size_t n)
{
    char name[4] = {};
    std::memcpy(name, in, n);
    char utf8[16];
    char back[16];
    uint32_t length = 0;
    if (ThrowIfNoMemory(UcnToUtf8nCPStr(utf8, sizeof utf8, &length, name)) != RSCP_OK || length == 0 ||
        length >= sizeof utf8)
        return false;
    utf8[length] = 0;
    return ThrowIfNoMemory(Utf8nToUcnCPStr(back, sizeof back, &length, utf8)) == RSCP_OK && length == n &&
           std::memcmp(back, name, n) == 0;
}

// For a page of single bytes: 1 for each byte but 0 that converts on its
// own into UTF-8 and back as it was, 0 for every other byte and for the
// bytes that may shift (see MayShift).
std::unique_ptr<uint8_t[]> ComesBackTable()
{
    auto table = std::make_unique<uint8_t[]>(256);
    for (int b = 1; b < 256; ++b) {
        const char c = char(b);
        table[b] = !MayShift(uint8_t(b)) && ComesBackAlone(&c, 1) ? 1 : 0;
    }
    return table;
}

}  // namespace

bool ComesBackByCharactersCP(const char* name, size_t length)
{
    LocalChars& local = CurrentLocalChars();
    if (!local.singleBytes && local.walk != LocalChars::kLengths)
        return false;
    if (!local.comesBack)
        local.comesBack = ComesBackTable();
    const uint8_t* comesBack = local.comesBack.get();
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(name);
    if (local.singleBytes) {
        for (size_t at = 0; at < length; ++at)
            if (comesBack[bytes[at]] == 0)
                return false;
        return true;
    }
    // The converter reads the name's characters where the walk does, and
    // converts each of them on its own, as a name of that character alone:
    // the name comes back when each of them does.
    for (size_t at = 0; at < length;) {
        const size_t n = rscpLengthOfReadChar(local.read, bytes + at, length - at);
        if (n == 1) {
            if (comesBack[bytes[at]] == 0)
                return false;
        } else {
            if (n != 2 || MayShift(bytes[at + 1]))
                return false;
            if (!local.pairsBack)
                local.pairsBack = std::make_unique<uint8_t[]>(65536);
            uint8_t& pair = local.pairsBack[bytes[at] << 8 | bytes[at + 1]];
            if (pair == 0)
                pair = ComesBackAlone(name + at, 2) ? 1 : 2;
            if (pair != 1)
                return false;
        }
        at += n;
    }
    return true;
}

void BackslashToSlashCP(char* name, size_t length)
{
    char* first = name == nullptr ? nullptr : static_cast<char*>(std::memchr(name, '\\', length));
    if (first == nullptr)
        return;
    const LocalChars& local = CurrentLocalChars();
    if (local.walk == LocalChars::kBytes) {
        for (char* p = first; p < name + length; ++p)
            if (*p == '\\')
                *p = '/';
        return;
    }
    WalkSingleByteCharacters(local, name, length, [name](size_t at, bool) {
        if (name[at] == '\\')
            name[at] = '/';
        return true;
    });
}

size_t FindSingleByteCharacterCP(const char* name, size_t length, char c)
{
    if (name == nullptr || std::memchr(name, c, length) == nullptr)
        return length;
    size_t found = length;
    WalkSingleByteCharacters(CurrentLocalChars(), name, length, [name, c, &found](size_t at, bool) {
        if (name[at] != c)
            return true;
        found = at;
        return false;
    });
    return found;
}

void LowerLettersCP(char* name, size_t length)
{
    if (name == nullptr || length == 0)
        return;
    LocalChars& local = CurrentLocalChars();
    if (!local.lower)
        local.lower = LowerCaseTable();
    const uint8_t* lower = local.lower.get();
    if (local.walk != LocalChars::kLengths) {
        // Every byte is a character of one byte of the ASCII set up to the
        // first that may shift (see WalkShiftedSingleBytes), which nearly
        // every name lacks: only from there on is the name walked, from its
        // start (a letter lowered stays lowered).
        size_t at = 0;
        for (; at < length; ++at) {
            const uint8_t c = uint8_t(name[at]);
            if (MayShift(c))
                break;
            name[at] = char(lower[c]);
        }
        if (at == length)
            return;
    }
    WalkSingleByteCharacters(local, name, length, [name, lower](size_t at, bool ascii) {
        if (ascii)
            name[at] = char(lower[uint8_t(name[at])]);
        return true;
    });
}

bool LocalNamesShownByBytes()
{
    LocalChars& local = CurrentLocalChars();
    if (local.shown == LocalChars::kUndecided)
        local.shown = ShownByBytes(local) ? LocalChars::kByBytes : LocalChars::kByCharacters;
    return local.shown == LocalChars::kByBytes;
}

LocalCharacter LocalCharacterAt(const char* p, const char* end, size_t* length)
{
    *length = 1;
    const uint8_t b = uint8_t(*p);
    if (b < 0x20 || b == 0x7F)
        return LocalCharacter::kControl;
    if (b < 0x80)
        return LocalCharacter::kText;
    LocalChars& local = CurrentLocalChars();
    const LocalCharacter single = Remembered(local.singles[b], p, 1);
    if (single != LocalCharacter::kNone || local.walk != LocalChars::kLengths)
        return single;
    // The character is the shortest run of bytes the page decodes: a lead
    // byte alone is none, and a single-byte character is one whatever byte
    // follows it.  None of them: a lead byte without a fitting trail byte,
    // or a byte no character of the page has.
    const size_t left = size_t(end - p);
    if (left >= 2) {
        if (!local.pairs)
            local.pairs = std::make_unique<uint8_t[]>(65536);
        const LocalCharacter pair = Remembered(local.pairs[b << 8 | uint8_t(p[1])], p, 2);
        if (pair != LocalCharacter::kNone) {
            *length = 2;
            return pair;
        }
    }
    const size_t longest = std::min<size_t>(local.read.longest, left);
    for (size_t n = 3; n <= longest; ++n) {
        const LocalCharacter c = DecodedCharacter(p, n);
        if (c != LocalCharacter::kNone) {
            *length = n;
            return c;
        }
    }
    return LocalCharacter::kNone;
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
