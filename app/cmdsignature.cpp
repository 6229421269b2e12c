#include "app/cmdsignature.h"

#include "app/application.h"
#include "app/archivefile.h"
#include "app/direntry.h"
#include "app/except.h"
#include "app/options.h"
#include "krn/snt/manifest.h"

namespace {

[[noreturn]] void ThrowManifestFailure(ManifestContext* context, int code)
{
    if (code == SMF_ESIGNATURE)
        throw CInvalSignatureExcept(ManifestGetLastError(context), ManifestGetSsfRc(context));
    throw CInvalManifestExcept(ManifestGetLastError(context), code, ManifestGetSsfRc(context));
}

[[noreturn]] void ThrowNotAvailable()
{
    throw CExcept("KOVZEF: signing and signature verification are not available in this build",
                  100, false);
}

}  // namespace

bool SignatureRequested(CApplication& application)
{
    const COptions& options = application.GetOptions();
    return options.verify || options.sign || options.commandCode == KOV_CMD_SIGN;
}

void VerifySignatureBeforeWriting(CArchiveFile& archive, CApplication& application)
{
    if (!SignatureRequested(application))
        return;
    const COptions& options = application.GetOptions();
    ManifestContext* context = archive.GetManifestContext();
    int rc = ManifestInit(context, options.securityLibrary, options.fileHashAlgorithm,
                          options.signatureFormat, options.signatureHashAlgorithm);
    if (rc != SMF_OK)
        throw CInvalManifestExcept(ManifestGetLastError(context), rc, 0);
    ThrowNotAvailable();
}

bool HasSignedManifest(CArchiveFile& archive)
{
    bool found = false;
    for (CDirEntry* entry = archive.FirstEntry(); entry != nullptr; entry = archive.NextEntry()) {
        found = entry->IsSignedManifest();
        archive.ReleaseEntry(entry);
        if (found)
            break;
    }
    archive.Rewind();
    return found;
}

void VerifySignatureAfterReading(CArchiveFile& archive, CApplication& application)
{
    const COptions& options = application.GetOptions();
    if (!options.verify && !options.sign)
        return;
    if (!HasSignedManifest(archive)) {
        if (options.verify)
            throw CExcept(std::string("KOVZEF: ") + application.GetArchiveName() +
                              " is not digitally signed",
                          59, true, 0);
        return;
    }
    ManifestContext* context = archive.GetManifestContext();
    int rc = ManifestInit(context, options.securityLibrary, "SHA256", "PKCS7-TSTAMP", "SHA256");
    if (rc != SMF_OK)
        ThrowManifestFailure(context, rc);
    ThrowNotAvailable();
}
