// Base64 and hex coders.  Decoding runs twice over the input: a counting pass
// that validates everything and finds the output size, then, only when that
// fits, the writing pass.  So a decoder never leaves partial output behind.
#include "crypto/coding.h"

#include <array>
#include <cstring>

namespace {

constexpr char kStd[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr char kUrl[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";

// Decode table classes beside the symbol values 0..63.
constexpr uint8_t kSpace = 0x40;
constexpr uint8_t kPad = 0x41;
constexpr uint8_t kInvalid = 0xFF;

using Table = std::array<uint8_t, 256>;

constexpr Table MakeTable(const char* alphabet, size_t symbols, bool padding)
{
    Table t{};
    for (auto& v : t)
        v = kInvalid;
    for (size_t i = 0; i < symbols; ++i)
        t[static_cast<uint8_t>(alphabet[i])] = static_cast<uint8_t>(i);
    if (symbols == 16)
        for (size_t i = 10; i < 16; ++i)
            t[static_cast<uint8_t>(alphabet[i] - 'A' + 'a')] = static_cast<uint8_t>(i);
    for (char c : {' ', '\t', '\r', '\n'})
        t[static_cast<uint8_t>(c)] = kSpace;
    if (padding)
        t['='] = kPad;
    return t;
}

constexpr Table kStdTable = MakeTable(kStd, 64, true);
constexpr Table kUrlTable = MakeTable(kUrl, 64, true);
constexpr Table kHexTable = MakeTable("0123456789ABCDEF", 16, false);

bool IsStdMode(uint32_t mode)
{
    return mode % 2 == 1;
}

int Encode(const uint8_t* in, size_t len, const char* alphabet, size_t lineLen, const char* sep, char* out, size_t cap,
           size_t* outLen)
{
    if (outLen)
        *outLen = 0;
    if (in == nullptr && len != 0)
        return CO_ENULL;
    if (lineLen != 0 && sep == nullptr)
        return CO_ENULL;
    const size_t sepLen = lineLen != 0 ? std::strlen(sep) : 0;
    const size_t needed = coBase64EncodedLength(len, lineLen, sepLen);
    if (needed > cap)
        return CO_ESPACE;
    if (needed == 0)
        return CO_OK;
    if (out == nullptr)
        return CO_ENULL;

    char* o = out;
    size_t lineCount = 0;
    auto group = [&](uint32_t v, int chars) {
        o[0] = alphabet[(v >> 18) & 63];
        o[1] = alphabet[(v >> 12) & 63];
        o[2] = chars > 2 ? alphabet[(v >> 6) & 63] : '=';
        o[3] = chars > 3 ? alphabet[v & 63] : '=';
        o += 4;
        if (lineLen != 0) {
            lineCount += 4;
            if (lineCount >= lineLen) {
                std::memcpy(o, sep, sepLen);
                o += sepLen;
                lineCount = 0;
            }
        }
    };
    size_t i = 0;
    for (; i + 3 <= len; i += 3)
        group(uint32_t(in[i]) << 16 | uint32_t(in[i + 1]) << 8 | in[i + 2], 4);
    if (len - i == 1)
        group(uint32_t(in[i]) << 16, 2);
    if (len - i == 2)
        group(uint32_t(in[i]) << 16 | uint32_t(in[i + 1]) << 8, 3);
    if (lineCount > 0) {
        std::memcpy(o, sep, sepLen);
        o += sepLen;
    }
    if (outLen)
        *outLen = static_cast<size_t>(o - out);
    return CO_OK;
}

struct Run {
    int rc = CO_OK;
    size_t produced = 0;
    size_t end = 0;  // input offset reported as the end position
};

// One pass of the Base64 decoder; writes only when out is not NULL (the
// caller has made sure the output fits).
Run Base64Pass(const Table& tab, const uint8_t* in, size_t len, uint32_t flags, uint8_t* out)
{
    Run r;
    uint32_t acc = 0;
    int pending = 0;
    auto put = [&](uint8_t b) {
        if (out)
            out[r.produced] = b;
        ++r.produced;
    };
    for (size_t i = 0; i < len; ++i) {
        const uint8_t c = tab[in[i]];
        if (c < 64) {
            acc = acc << 6 | c;
            if (++pending == 4) {
                put(uint8_t(acc >> 16));
                put(uint8_t(acc >> 8));
                put(uint8_t(acc));
                pending = 0;
                acc = 0;
                r.end = i + 1;
            }
            continue;
        }
        if (c == kPad) {
            // The first "=" ends the data.  A single pending symbol holds no whole
            // byte: the group is incomplete.
            size_t consumed = i + 1;
            if (pending == 1)
                return r.rc = CO_EINCOMPLETE, r;
            if (pending == 2) {
                if (consumed >= len || tab[in[consumed]] != kPad)
                    return r.rc = CO_EINCOMPLETE, r;
                put(uint8_t(acc >> 4));
                ++consumed;
            } else if (pending == 3) {
                put(uint8_t(acc >> 10));
                put(uint8_t(acc >> 2));
            }
            r.end = consumed;
            if (!(flags & CO_SKIP_SPACE) && consumed < len)
                r.rc = CO_EINVALID;
            return r;
        }
        if (c == kSpace ? (flags & CO_SKIP_SPACE) : (flags & CO_SKIP_INVALID) == CO_SKIP_INVALID)
            continue;
        return r.rc = CO_EINVALID, r;
    }
    if (pending != 0)
        return r.rc = CO_EINCOMPLETE, r;
    r.end = len;
    return r;
}

Run HexPass(const uint8_t* in, size_t len, uint32_t flags, uint8_t* out)
{
    Run r;
    int high = -1;
    for (size_t i = 0; i < len; ++i) {
        const uint8_t c = kHexTable[in[i]];
        if (c < 16) {
            if (high < 0) {
                high = c;
            } else {
                if (out)
                    out[r.produced] = uint8_t(high << 4 | c);
                ++r.produced;
                high = -1;
                r.end = i + 1;
            }
            continue;
        }
        if (c == kSpace ? (flags & CO_SKIP_SPACE) : (flags & CO_SKIP_INVALID) == CO_SKIP_INVALID)
            continue;
        return r.rc = CO_EINVALID, r;
    }
    if (high >= 0)
        return r.rc = CO_EINCOMPLETE, r;
    r.end = len;
    return r;
}

// Counting pass, capacity check, writing pass.
template <class Pass>
int Decode(Pass pass, const char* in, size_t len, void* out, size_t cap, size_t* outLen, const char** end)
{
    if (outLen)
        *outLen = 0;
    if (end)
        *end = in;
    if (in == nullptr && len != 0)
        return CO_ENULL;
    const auto* src = reinterpret_cast<const uint8_t*>(in);
    Run r = pass(src, len, nullptr);
    if (end && in)
        *end = in + r.end;
    if (r.rc != CO_OK)
        return r.rc;
    if (r.produced > cap) {
        if (end)
            *end = in;
        return CO_ESPACE;
    }
    if (r.produced == 0)
        return CO_OK;
    if (out == nullptr)
        return CO_ENULL;
    pass(src, len, static_cast<uint8_t*>(out));
    if (outLen)
        *outLen = r.produced;
    return CO_OK;
}

int Base64Decode(const char* in, size_t len, uint32_t mode, uint32_t flags, void* out, size_t cap, size_t* outLen,
                 const char** end)
{
    const Table& tab = IsStdMode(mode) ? kStdTable : kUrlTable;
    auto pass = [&](const uint8_t* s, size_t n, uint8_t* o) { return Base64Pass(tab, s, n, flags, o); };
    return Decode(pass, in, len, out, cap, outLen, end);
}

int HexDecode(const char* in, size_t len, uint32_t flags, void* out, size_t cap, size_t* outLen, const char** end)
{
    auto pass = [&](const uint8_t* s, size_t n, uint8_t* o) { return HexPass(s, n, flags, o); };
    return Decode(pass, in, len, out, cap, outLen, end);
}

int RejectMode(size_t* outLen, const char** end, const char* in)
{
    if (outLen)
        *outLen = 0;
    if (end)
        *end = in;
    return CO_EMODE;
}

}  // namespace

size_t coBase64EncodedLength(size_t len, size_t lineLen, size_t sepLen)
{
    const size_t groups = len / 3 + (len % 3 != 0);
    if (groups > SIZE_MAX / 4)
        return SIZE_MAX;
    const size_t chars = groups * 4;
    if (lineLen == 0 || groups == 0)
        return chars;
    const size_t groupsPerLine = lineLen / 4 + (lineLen % 4 != 0);
    const size_t lines = groups / groupsPerLine + (groups % groupsPerLine != 0);
    if (sepLen != 0 && lines > (SIZE_MAX - chars) / sepLen)
        return SIZE_MAX;
    return chars + lines * sepLen;
}

int coBase64Encode(const void* in, size_t len, uint32_t mode, size_t lineLen, const char* sep, char* out, size_t cap,
                   size_t* outLen)
{
    if (mode < 1 || mode > 4)
        return outLen ? (*outLen = 0, CO_EMODE) : CO_EMODE;
    return Encode(static_cast<const uint8_t*>(in), len, IsStdMode(mode) ? kStd : kUrl, lineLen, sep, out, cap, outLen);
}

int coBase64Encode56(const void* in, size_t len, uint32_t mode, size_t lineLen, const char* sep, char* out, size_t cap,
                     size_t* outLen)
{
    if (mode != 5 && mode != 6)
        return outLen ? (*outLen = 0, CO_EMODE) : CO_EMODE;
    return Encode(static_cast<const uint8_t*>(in), len, IsStdMode(mode) ? kStd : kUrl, lineLen, sep, out, cap, outLen);
}

int coBase64Decode(const char* in, size_t len, uint32_t mode, uint32_t flags, void* out, size_t cap, size_t* outLen,
                   const char** end)
{
    if (mode < 1 || mode > 4)
        return RejectMode(outLen, end, in);
    return Base64Decode(in, len, mode, flags, out, cap, outLen, end);
}

int coBase64Decode56(const char* in, size_t len, uint32_t mode, uint32_t flags, void* out, size_t cap, size_t* outLen,
                     const char** end)
{
    if (mode != 5 && mode != 6)
        return RejectMode(outLen, end, in);
    return Base64Decode(in, len, mode, flags, out, cap, outLen, end);
}

int coHexDecode(const char* in, size_t len, uint32_t mode, uint32_t flags, void* out, size_t cap, size_t* outLen,
                const char** end)
{
    if (mode != 7 && mode != 8)
        return RejectMode(outLen, end, in);
    return HexDecode(in, len, flags, out, cap, outLen, end);
}

int coHexDecode9(const char* in, size_t len, uint32_t mode, uint32_t flags, void* out, size_t cap, size_t* outLen,
                 const char** end)
{
    if (mode != 9)
        return RejectMode(outLen, end, in);
    return HexDecode(in, len, flags, out, cap, outLen, end);
}
