// Signed archives: signing an archive with its manifest entry
// "SIGNATURE.SMF", reading that entry back, and the checks that the create,
// list, extract and merge commands run around an archive's entries (the
// stored signature, the per-file digests, who signed it).  Failures are
// thrown as CInvalManifestExcept, CInvalSignatureExcept or CExcept.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include "krn/snt/manifest.h"

class CApplication;
class CArchiveFile;
class CDirEntry;
class ICompressStrategy;
struct KoxHeaderInfo;

// A manifest context of the caller's own, cleared and released when it goes.
struct OwnManifestContext {
    std::unique_ptr<ManifestContext> context{new ManifestContext()};
    ~OwnManifestContext() { ManifestClearContext(context.get()); }
    ManifestContext* get() const { return context.get(); }
};

// True when signing or signature verification was asked for (V, -V, S, or
// the sign-only command).
bool SignatureRequested(CApplication& application);

// ---- Signing ----------------------------------------------------------------

// At the end of a create, append or sign-only run that asked for signing:
// compares the manifest with -manifest when given, signs it and adds the
// manifest entry behind the entries; an archive opened for update is cut
// right behind it.
void SignArchive(CArchiveFile& archive, CApplication& application, ICompressStrategy& strategy, uint32_t openMode);
// ManifestSign with the -key, -pwd, -tsaurl and -proxy values; its code.
int SignManifest(ManifestContext* context, CApplication& application);
// Where the entries of an archive land on disk (see EntryPlace), for the
// check that no link or directory takes a signed file's place, nor a link the
// place where a signed file below it needs a directory: each link and
// directory (true: a link) under its place, and each file whose stored name
// is not its place ("./d/a.txt", "d//a.txt"), with that place, and the
// places above entries, where extraction makes directories; a name
// extraction refuses takes none.  refusal: that of the first entry no
// verified reader passes wherever it stands (see UnplacedEntryRefusal).
struct EntryPlaces {
    std::vector<std::pair<std::string, bool>> takers;
    std::vector<std::pair<std::string, std::string>> respelledFiles;  // stored name, place
    std::unordered_set<std::string> parents;  // the places above entries: extraction makes directories there
    std::string lastParent;                   // the place above the entry before
    std::string refusal;
};
// The stored manifest text of the archive (true), or false when it has no
// manifest entry; headerOffset (may be null) receives the offset of that
// entry's header when the text is not empty.  onlyOne (for verification):
// every entry is looked at, and a second manifest entry or one not named
// "SIGNATURE.SMF" is refused (CInvalManifestExcept, status 58); places (may
// be null) then receives where the entries land (an entry whose name is
// damaged is never made and takes no place).  The read position is the same
// afterwards.
bool ReadManifestEntry(CArchiveFile& archive, std::vector<uint8_t>* text, uint64_t* headerOffset, bool onlyOne = false,
                       EntryPlaces* places = nullptr);
// Throws CExcept(message, code) when the archive has no manifest entry and
// mustExist is true, or has one and mustExist is false.
void CheckManifestPresence(CArchiveFile& archive, bool mustExist, const std::string& message, uint32_t code);

// ---- Verification -------------------------------------------------------------

// beforeWriting: the checks before entries are added to an archive that is
// signed anew (loads the crypto services; for append and sign-only also
// checks the stored signature and digests and puts the write position where
// the old manifest entry was).  Otherwise: the check of the stored signature
// before an archive's entries are listed or extracted; an archive without
// one is refused.
void VerifyArchiveSignature(bool beforeWriting, CArchiveFile& archive, CApplication& application);
// Asked to check a signature, an archive without one never passes: the
// failure of the run's archive (status 59).
[[noreturn]] void ThrowNotSigned(CApplication& application);
// Reads the -crl file and verifies the manifest text (with the signer's
// names kept under -v); the manifest library's code.
int VerifyManifestText(ManifestContext* context, const char* text, std::size_t length, CApplication& application,
                       bool loadBody = true);
// Under verification, for each entry of the walk over a verified archive:
// a signed-manifest entry other than the one verified (a second one, or one
// met at another place) is refused (CInvalManifestExcept, status 58) before
// anything of it is listed or extracted.
void RefuseUnverifiedManifest(CArchiveFile& archive, const CDirEntry& entry);
// Under verification (and before a verified append writes), for an entry
// that is extracted, tested, listed or checked: a link or directory whose
// place is that of a file the manifest lists, under any spelling of either
// name (see EntryPlaces), would take the signed file's place, as would any
// entry below it (extraction makes a directory there), so it is refused
// (CInvalManifestExcept, status 58) before anything of it is made: at the
// link, directory or entry below when it comes first (a file list lets the
// file itself be missing), and at the file when one of them comes after it,
// so that the file does not replace what is at its path either.  A link at
// the place where extraction makes a directory for a file the manifest lists
// below it is refused so too: at the link when it comes first, else at the
// first such file.  The places taken were noted on the archive before the
// walk.
void RefuseInPlaceOfSignedFile(CArchiveFile& archive, const CDirEntry& entry);
// In a run that signs the archive anew (which notes the places of its
// entries on the archive, see CArchiveFile::SigningPlaces), before the header
// of an entry the run adds is written: an entry that takes a place as
// CSigningPlaces::Note tells ends the run with status 58, and the run then
// puts the archive back as it was (also under i).
void RefuseAddedInTakenPlace(CArchiveFile& archive, const CDirEntry& entry, const KoxHeaderInfo& info);
// With -v: the signer's subject, issuer and category.
void ShowSignatureInfo(CArchiveFile& archive, CApplication& application);
// The three lines of the signer: subject, issuer and the category given.
void WriteSignerLines(ManifestContext* context, CApplication& application, const char* signer);
// With an entry: tests it with its data discarded and counts it when its
// digest does not match.  Without: refuses a count other than 0 and, when
// every entry of the archive was checked, a manifest that lists files the
// archive does not hold.
void CheckEntryDigests(CArchiveFile& archive, CDirEntry* entry, uint32_t& invalidEntries,
                       bool everyEntryChecked = false);
