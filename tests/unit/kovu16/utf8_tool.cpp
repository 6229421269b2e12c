// Runs the UTF-8 converters and stream readers over records read from stdin,
// for utf8_oracle.py.  Records are [u32 count][count items]; items are bytes
// in "decode" mode and 16-bit units in "encode" mode.  Per record it writes:
//   decode: [i32 Utf8ToU16Str result][u32 n][n units]   (n 0 when invalid)
//           [u32 errors of Utf8nToU16nRepl][u32 n][n units]
//           [u32 n][n units of fgetcU16, one per character]
//   encode: [u32 n][n bytes]  after checking that the other encoders agree.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "i18n/kovu16/u16_diag.h"
#include "i18n/kovu16/u16_stream.h"
#include "i18n/kovu16/u16_utf8.h"

namespace {

bool read_u32(uint32_t* v)
{
    return fread(v, 4, 1, stdin) == 1;
}
void put_u32(uint32_t v)
{
    fwrite(&v, 4, 1, stdout);
}
void put_units(const KOV_UTF16* u, size_t n)
{
    put_u32(static_cast<uint32_t>(n));
    fwrite(u, 2, n, stdout);
}

int decode(const std::vector<char>& bytes)
{
    std::vector<char> text(bytes);
    text.push_back('\0');
    std::vector<KOV_UTF16> out(2 * bytes.size() + 2);
    const long r = Utf8ToU16Str(out.data(), text.data(), out.size());
    put_u32(static_cast<uint32_t>(r));
    put_units(out.data(), r < 0 ? 0 : static_cast<size_t>(r));
    // Counting alone gives the same length.
    if (Utf8ToU16Str(nullptr, text.data(), out.size()) != r)
        return 1;

    size_t errors = 0;
    const size_t n = Utf8nToU16nRepl(out.data(), out.size(), bytes.data(), bytes.size(), &errors, '#');
    put_u32(static_cast<uint32_t>(errors));
    put_units(out.data(), n);

    std::vector<KOV_UTF16> chars;
    FILE* f = fmemopen(const_cast<char*>(bytes.data()), bytes.size(), "r");
    if (f == nullptr && !bytes.empty())
        return 1;
    for (int c; f != nullptr && (c = fgetcU16(f)) != -1;)
        chars.push_back(static_cast<KOV_UTF16>(c));
    if (f != nullptr)
        fclose(f);
    put_units(chars.data(), chars.size());
    return 0;
}

int encode(const std::vector<KOV_UTF16>& units)
{
    std::vector<char> out(3 * units.size() + 1);
    const int n = U16nToUtf8(out.data(), units.data(), units.size());
    // The counted and the string encoders and the stream writer agree.
    std::vector<char> other(out.size());
    if (U16nToUtf8n(other.data(), other.size(), units.data(), units.size()) != static_cast<size_t>(n) ||
        std::memcmp(other.data(), out.data(), static_cast<size_t>(n)) != 0)
        return 1;
    if (U16nToUtf8n(nullptr, 0, units.data(), units.size()) != static_cast<size_t>(n))
        return 1;
    char* mem = nullptr;
    size_t memlen = 0;
    FILE* f = open_memstream(&mem, &memlen);
    size_t bytes = 0;
    if (fwriteU16(units.data(), 1, units.size(), f, &bytes) != units.size())
        return 1;
    fclose(f);
    const bool same = memlen == static_cast<size_t>(n) && bytes == memlen && std::memcmp(mem, out.data(), memlen) == 0;
    free(mem);
    if (!same)
        return 1;
    put_u32(static_cast<uint32_t>(n));
    fwrite(out.data(), 1, static_cast<size_t>(n), stdout);
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2)
        return 2;
    u16_trace_level = 0;
    const bool dec = std::strcmp(argv[1], "decode") == 0;
    uint32_t count;
    while (read_u32(&count)) {
        int r;
        if (dec) {
            std::vector<char> bytes(count);
            if (count != 0 && fread(bytes.data(), 1, count, stdin) != count)
                return 2;
            r = decode(bytes);
        } else {
            std::vector<KOV_UTF16> units(count);
            if (count != 0 && fread(units.data(), 2, count, stdin) != count)
                return 2;
            r = encode(units);
        }
        if (r != 0)
            return r;
    }
    return 0;
}
