// Signature checks that the create, list, extract and merge commands run
// around an archive's entries.  The crypto services are loaded at run time;
// when they cannot be loaded the checks fail with the manifest library's
// error, and a check that would need the full signing services reports that
// they are not available rather than pretending success.
#pragma once

#include <string>

class CApplication;
class CArchiveFile;

// True when signing or signature verification was asked for (V, -V, S, or
// the sign-only command).
bool SignatureRequested(CApplication& application);
// Before entries are added to an archive: loads the crypto services.
void VerifySignatureBeforeWriting(CArchiveFile& archive, CApplication& application);
// After an archive's header was read by the list or extract command: an
// archive without a signed manifest fails with code 59 when verification is
// asked for.  The archive is positioned at its start again afterwards.
void VerifySignatureAfterReading(CArchiveFile& archive, CApplication& application);
// Whether the archive holds a signed-manifest entry; walks every entry and
// rewinds the archive afterwards.
bool HasSignedManifest(CArchiveFile& archive);
