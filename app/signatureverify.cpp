#include "app/signatureverify.h"

#include <string>

#include "app/application.h"
#include "app/cmdsignature.h"
#include "app/fshelpers.h"
#include "app/logman.h"
#include "app/options.h"
#include "krn/snt/manifest.h"
#include "oldformat/shownname.h"

void CSignatureVerify::Execute()
{
    const COptions& options = m_application.GetOptions();
    CLogMan& log = m_application.GetLogMan();
    // The manifest is the file named with -f, else the one named with
    // -manifest, else the default name.
    const std::string file = options.archiveName == nullptr && options.externalManifest != nullptr
                                 ? options.externalManifest
                                 : m_application.GetArchiveName();

    std::string text;
    switch (ReadWholeFile(file.c_str(), text)) {
    case KOV_WHOLE_FILE_OK:
        break;
    case KOV_WHOLE_FILE_NOT_OPENED:
        m_application.SetExitStatus(55);
        log.Write("KOVZEF: Manifest file was not found ");
        return;
    default:
        m_application.SetExitStatus(55);
        log.Write("KOVZEF: Manifest File Buffer could not be created ");
        return;
    }

    OwnManifestContext owned;
    ManifestContext* context = owned.get();
    int rc = ManifestInit(context, options.securityLibrary, "SHA256", "PKCS7-TSTAMP", "SHA256");
    if (rc == SMF_OK)
        rc = VerifyManifestText(context, text.data(), text.size(), m_application, true);
    if (rc != SMF_OK) {
        log.Write(std::string("KOVZEF: Manifest verification failed with with ErrorCode: \nERROR:  ") +
                  KovShownLines(ManifestGetLastError(context)));
        m_application.SetExitStatus(55);
        return;
    }
    const std::string signer = ManifestGetSigner(context);
    m_application.SetExitStatus(0);
    log.Write("KOVZEF:  Signature of manifest " + KovShown(file) + " was successfully validated");
    if (options.verbose)
        WriteSignerLines(context, m_application, signer.c_str());
}
