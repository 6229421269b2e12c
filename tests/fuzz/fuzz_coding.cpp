// fuzz-libs: kov_crypto
// Base64 and hex text from signatures and manifests is untrusted: decode
// arbitrary text in every mode and flag setting into an output of exactly the
// capacity given (so any overrun is caught), and check that what decodes
// encodes back to text that decodes to the same bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "crypto/coding.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    const uint32_t mode = 1 + data[0] % 9;
    const uint32_t flags = (data[0] >> 4) & 3;
    const size_t cap = data[1];
    const char* text = reinterpret_cast<const char*>(data + 2);
    const size_t len = size - 2;

    std::vector<uint8_t> out(cap);
    size_t n = 0;
    const char* end = nullptr;
    int rc;
    if (mode <= 4)
        rc = coBase64Decode(text, len, mode, flags, out.data(), cap, &n, &end);
    else if (mode <= 6)
        rc = coBase64Decode56(text, len, mode, flags, out.data(), cap, &n, &end);
    else if (mode <= 8)
        rc = coHexDecode(text, len, mode, flags, out.data(), cap, &n, &end);
    else
        rc = coHexDecode9(text, len, mode, flags, out.data(), cap, &n, &end);
    if (rc < CO_EINCOMPLETE || rc > CO_OK || n > cap || end < text || end > text + len)
        abort();
    if (rc != CO_OK || n == 0 || mode > 6)
        return 0;

    const uint32_t encMode = mode <= 4 ? (mode % 2 ? 1 : 2) : mode;
    std::vector<char> enc(coBase64EncodedLength(n, 64, 1));
    size_t encLen = 0;
    rc = encMode <= 4 ? coBase64Encode(out.data(), n, encMode, 64, "\n", enc.data(), enc.size(), &encLen)
                      : coBase64Encode56(out.data(), n, encMode, 64, "\n", enc.data(), enc.size(), &encLen);
    if (rc != CO_OK || encLen != enc.size())
        abort();
    std::vector<uint8_t> back(n);
    size_t backLen = 0;
    rc = encMode <= 4 ? coBase64Decode(enc.data(), encLen, encMode, CO_SKIP_SPACE, back.data(), n, &backLen, nullptr)
                      : coBase64Decode56(enc.data(), encLen, encMode, CO_SKIP_SPACE, back.data(), n, &backLen, nullptr);
    if (rc != CO_OK || backLen != n || std::memcmp(back.data(), out.data(), n) != 0)
        abort();
    return 0;
}
