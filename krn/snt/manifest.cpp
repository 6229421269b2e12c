// Signing and verification of a manifest, as long as they are not part of
// this program: each reports that it is not available, with the code of a
// crypto library that cannot serve it, and leaves the text as it is.
#include "krn/snt/smfint.h"

namespace {

int NotAvailable(ManifestContext* ctx, const char* what)
{
    ctx = SmfResolve(ctx);
    ctx->severity = SMF_SEV_ERROR;
    return SmfFail(ctx, SMF_ELIBRARY, "Manifest %s is not available in this build", what);
}

}  // namespace

int ManifestSign(ManifestContext* ctx, const char*, const char*, const char*, const char*, char*, uint64_t*)
{
    return NotAvailable(ctx, "signing");
}

int ManifestVerify(ManifestContext* ctx, const char*, std::size_t, const char*, const char*, const unsigned char*,
                   std::size_t, int, int)
{
    return NotAvailable(ctx, "verification");
}

int ManifestVerifyAndLoad(ManifestContext* ctx, const char* text, std::size_t length, const char* pseName,
                          const char* psePassword, const unsigned char* crl, std::size_t crlLength)
{
    return ManifestVerify(ctx, text, length, pseName, psePassword, crl, crlLength, 1, 1);
}

int ManifestVerifySignatureOnly(ManifestContext* ctx, const char* text, std::size_t length, const char* pseName,
                                const char* psePassword, const unsigned char* crl, std::size_t crlLength)
{
    return ManifestVerify(ctx, text, length, pseName, psePassword, crl, crlLength, 0, 1);
}
