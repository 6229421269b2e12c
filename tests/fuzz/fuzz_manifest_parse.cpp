// fuzz-libs: kov_krn_snt
// Parses arbitrary bytes as a manifest text held in a buffer of exactly their
// size, then locates the signature block, looks every listed name up and
// compares the manifest with a second parse of itself, and verifies it.  Positions must stay
// inside the text, every listed name must be found, and a manifest must
// equal itself.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "krn/snt/manifest.h"

namespace {

struct Owned {
    std::unique_ptr<ManifestContext> c{new ManifestContext()};
    ~Owned() { ManifestClearContext(c.get()); }
};

void Check(bool ok)
{
    if (!ok)
        std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::unique_ptr<char[]> text(new char[size == 0 ? 1 : size]);
    if (size != 0)
        std::memcpy(text.get(), data, size);
    Owned a;
    Owned b;
    for (Owned* o : {&a, &b}) {
        o->c->contentStart = text.get();
        o->c->contentLength = size;
        uint32_t state = SMF_PARSE_MAGIC;
        ManifestParse(o->c.get(), &state, 0);
    }
    ManifestContext* ctx = a.c.get();
    Check(ctx->headerLength + ctx->bodyLength <= size);
    Check(ctx->signatureStart == nullptr || ctx->signatureStart <= text.get() + size);
    const char* base64 = nullptr;
    uint64_t length = 0;
    if (ManifestSignatureBlock(ctx, &base64, &length) == SMF_OK)
        Check(base64 >= text.get() && base64 + length <= text.get() + size);

    if (ctx->bodyStart != nullptr) {
        const char* end = text.get() + size;
        const char* p = ctx->bodyStart;
        for (uint32_t n = 0; n < ctx->entryCount; ++n) {
            ManifestEntry entry;
            Check(ManifestParseEntryLine(ctx, p, end, nullptr, &entry) == 0);
            ManifestFile file{};
            file.name = const_cast<char*>(entry.name);
            file.nameLength = entry.nameLength;
            if (entry.nameLength != 0 && ManifestFindEntry(ctx, &file, 0) == SMF_OK) {
                Check(std::memcmp(file.entryLine + (entry.name - entry.line), entry.name, entry.nameLength) == 0);
            } else {
                Check(entry.nameLength == 0);
            }
            ManifestFindEntry(ctx, &file, 1);
            p += entry.lineLength;
        }
        Check(ManifestCompareExternal(ctx, b.c.get()) == SMF_OK);
    }
    a.c->contentStart = nullptr;
    b.c->contentStart = nullptr;

    // Verification copies, parses and decodes the text; with no crypto
    // library loaded no text can pass, and the signer is never known.
    Owned v;
    Check(ManifestVerify(v.c.get(), reinterpret_cast<const char*>(data), size, nullptr, nullptr, nullptr, 0, 1, 1) !=
          SMF_OK);
    const char* signer = ManifestGetSigner(v.c.get());
    Check(std::strcmp(signer, "Unknown signer") == 0 || std::strcmp(signer, "NULL") == 0);
    return 0;
}
