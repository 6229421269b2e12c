#include "app/cmdsignature.h"

#include <cstring>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "app/application.h"
#include "app/archivefile.h"
#include "app/archivewalk.h"
#include "app/compressstrategy.h"
#include "app/direntry.h"
#include "app/except.h"
#include "app/fshelpers.h"
#include "app/logman.h"
#include "app/options.h"
#include "app/signedplaces.h"
#include "app/stopsignal.h"
#include "nls/utf8shown.h"

namespace {

[[noreturn]] void ThrowManifestFailure(ManifestContext* context, int code)
{
    if (code == SMF_ESIGNATURE)
        throw CInvalSignatureExcept(ManifestGetLastError(context), ManifestGetSsfRc(context));
    throw CInvalManifestExcept(ManifestGetLastError(context), code, ManifestGetSsfRc(context));
}

// What a signed manifest holds besides its entry lines: the header lines
// (the writer keeps them below 64 KiB) and the signature block with its
// timestamp, certificates and Base64 line feeds.
constexpr uint64_t kManifestFixedAllowance = uint64_t{65536} + (uint64_t{1} << 20);
// An entry line without its name: the longest digest in hex, the two
// blanks, the length field and the line feed.
constexpr uint64_t kManifestLineAllowance = 2 * HA_MAX_DIGEST + 6 + 1;

// The manifest text is refused as unparsable, as a text that is no manifest.
[[noreturn]] void ThrowManifestTooLong()
{
    throw CInvalManifestExcept("Error in manifest parser", SMF_EPARSE, 0);
}

// The stored manifest entry, tested into its own buffer; the text (handed
// over, not copied: a manifest may be large) and the offset of its header.
// A text longer than limit bytes, claimed or produced, is refused before
// more of it is held.
void TestManifestEntry(CArchiveFile& archive, CDirEntry* entry, std::vector<uint8_t>& text, uint64_t& headerOffset,
                       uint64_t limit)
{
    auto* manifest = static_cast<CSignedManifest*>(entry);
    const uint64_t claimed = entry->GetHeaderInfo().TotalSize();
    if (claimed > limit || limit > SIZE_MAX)
        ThrowManifestTooLong();
    CBufferedStream& buffer = manifest->BufferedStream();
    buffer.Clear();
    // A sound entry claims its length: the text is held once while read.
    buffer.SetLimit(static_cast<size_t>(limit), static_cast<size_t>(claimed));
    manifest->SetStream(&buffer);
    try {
        manifest->ExtractOrTest(archive, true);
    } catch (const CWriteExcept&) {
        manifest->SetStream(nullptr);
        if (buffer.LimitReached()) {
            buffer.Clear();
            ThrowManifestTooLong();
        }
        throw;
    }
    manifest->SetStream(nullptr);
    buffer.TakeData(text);
    headerOffset = manifest->HeaderOffset();
}

// The offset of the header of the entry just read (the stream stands
// behind its name and user information).
uint64_t CurrentHeaderOffset(CArchiveFile& archive, const CDirEntry& entry)
{
    uint64_t offset = 0;
    if (!archive.EntryHeaderOffset(entry.GetHeaderInfo(), offset))
        throw CGetFilePosExcept();
    return offset;
}

// An archive has one signed manifest, "SIGNATURE.SMF": a second manifest
// entry, or one of another name (an "SM" entry may carry any), would be
// extracted or listed as if the manifest covered it.  Refused as a file
// the manifest does not sign.
void RefuseOtherManifest(const CDirEntry& entry, bool manifestFound)
{
    const std::string& name = entry.GetStoredName();
    if (manifestFound)
        throw CInvalManifestExcept("The archive holds a second signed manifest entry >" + KovShown(name) + "<",
                                   SMF_EFILENOTFOUND, 0);
    if (name != KOX_MANIFEST_NAME)
        throw CInvalManifestExcept("Entry >" + KovShown(name) +
                                       "< is marked as a signed manifest but is not the archive's "
                                       "manifest " +
                                       std::string(KOX_MANIFEST_NAME),
                                   SMF_EFILENOTFOUND, 0);
}

// A signing run's refusal of an entry it was about to add, with the text and
// status of the manifest failure it stands for.  Not a manifest failure, so
// that the run puts the archive back also under i: what it added before the
// entry would be kept unsigned.
class CAddedEntryRefused : public CExcept {
public:
    explicit CAddedEntryRefused(const CInvalManifestExcept& failure)
        : CExcept(failure.GetMessage(), failure.GetCode(), Tail::None, 0)
    {
    }
};

// The manifest lists a name with slashes for its backslashes, and a signed
// file is looked up under its name as stored: an entry named with a
// backslash would be signed under a name it does not have, and the archive
// signed anew would never pass verification.  Refused before anything is
// written, as a file the manifest can not sign.  A name that does not
// convert is left to its digest, which fails on it.
void RefuseUnsignableName(const CDirEntry& entry)
{
    if (!entry.IsDigestEnabled())
        return;
    std::string utf8;
    try {
        utf8 = entry.StoredNameUtf8();
    } catch (const CConversionExcept&) {
        return;
    }
    if (utf8.find('\\') != std::string::npos)
        throw CInvalManifestExcept("Entry >" + KovShown(entry.GetStoredName()) +
                                       "< holds a backslash in its name, which a signed manifest can not list",
                                   SMF_EFILENOTFOUND, 0);
}

// Adds where the entry just read lands to places, with the directories
// extraction makes for it, and the refusal of the first entry that lands
// nowhere or where the manifest does.
void AddPlace(const CDirEntry& entry, EntryPlaces& places)
{
    const PlaceKind kind = PlaceKindOf(entry.GetHeaderInfo());
    const std::string_view name = PlaceNameOf(entry.GetStoredName(), kind, entry.StoredLinkNameLength());
    // Nearly every entry is a file named by its place, in the directory of
    // the entry before it: nothing is built for it then.
    const bool own = IsOwnPlace(name);
    std::string respelled = own ? std::string() : EntryPlace(name);
    const std::string_view place = own ? name : std::string_view(respelled);
    if (places.refusal.empty())
        places.refusal = UnplacedEntryRefusal(name, place, kind);
    if (place.empty())
        return;
    const size_t slash = place.rfind('/');
    const std::string_view parent = place.substr(0, slash == std::string_view::npos ? 0 : slash);
    if (!parent.empty() && parent != places.lastParent) {
        places.lastParent = parent;
        ForEachPlaceAbove(place, [&places](std::string_view up) { return places.parents.emplace(up).second; });
    }
    if (kind != PlaceKind::kFile)
        places.takers.emplace_back(place, kind == PlaceKind::kLink);
    else if (!own)
        places.respelledFiles.emplace_back(name, std::move(respelled));
}

// Notes on the archive each place of a link where extraction makes a
// directory for a file the manifest lists below it.  Hardly any archive has
// an entry below a link's place: only then are the files below it looked up,
// in a second walk over the headers.  The read position is the same
// afterwards.
void NoteLinksAboveSignedFiles(CArchiveFile& archive, ManifestContext* context, const EntryPlaces& places)
{
    std::unordered_set<std::string> links;
    for (const auto& [place, link] : places.takers)
        if (link && places.parents.count(place) != 0)
            links.insert(place);
    if (links.empty())
        return;
    CFileStream& stream = archive.Stream();
    uint64_t noted = 0;
    if (!stream.Tell(&noted))
        throw CGetFilePosExcept();
    for (CDirEntry* entry = archive.FirstEntry(); entry != nullptr; entry = archive.NextEntry()) {
        const std::string& stored = entry->GetStoredName();
        if (!entry->IsSignedManifest() && !archive.NameDamaged() &&
            PlaceKindOf(entry->GetHeaderInfo()) == PlaceKind::kFile &&
            ManifestNameListed(context, stored.data(), stored.size()) != 0)
            ForEachPlaceAbove(EntryPlace(stored), [&](std::string_view up) {
                if (const auto link = links.find(std::string(up)); link != links.end()) {
                    archive.NoteLinkAboveSignedFile(*link);
                    links.erase(link);
                }
                return true;
            });
        archive.ReleaseEntry(entry);
        if (links.empty())
            break;
    }
    if (!stream.Seek(noted))
        throw CSetFilePointerExcept();
}

// Once the manifest (context) is verified: refuses an archive with an entry
// that lands nowhere or where the manifest does (status 58), before anything
// of it is listed, tested or extracted; then notes on the archive each place
// of a link or directory that a file the manifest lists would take: a listed
// name that is the place itself, or a listed file of the archive spelled
// otherwise.
void NoteSignedPlacesTaken(CArchiveFile& archive, ManifestContext* context, const EntryPlaces& places)
{
    if (!places.refusal.empty())
        throw CInvalManifestExcept(places.refusal, SMF_EFILENOTFOUND, 0);
    if (places.takers.empty() && places.parents.empty())
        return;
    std::unordered_set<std::string_view> respelled;
    for (const auto& [stored, place] : places.respelledFiles)
        if (ManifestNameListed(context, stored.data(), stored.size()) != 0)
            respelled.insert(place);
    const auto signedFile = [&](const std::string& place) {
        return respelled.count(place) != 0 || ManifestNameListed(context, place.data(), place.size()) != 0;
    };
    for (const auto& [place, link] : places.takers)
        if (signedFile(place))
            archive.NoteSignedNameTaken(place, link);
    for (const std::string& place : places.parents)
        if (signedFile(place))
            archive.NoteSignedNameTaken(place, false);
    NoteLinksAboveSignedFiles(archive, context, places);
}

// The stored manifest text for verification, copied into the context's own
// buffer (text is released), so that the text is held once while it is
// verified.  The manifest library's code.
int VerifyStoredText(ManifestContext* context, std::vector<uint8_t>& text, CApplication& application)
{
    const size_t length = text.size();
    char* own = ManifestTextBuffer(context, length);
    if (own == nullptr)
        return ManifestGetSmfRc(context);
    if (length != 0)
        std::memcpy(own, text.data(), length);
    std::vector<uint8_t>().swap(text);
    return VerifyManifestText(context, own, length, application, false);
}

// The checks of an archive that entries are added to and that is signed
// anew at the end.
void VerifyBeforeWriting(CArchiveFile& archive, CApplication& application)
{
    const COptions& options = application.GetOptions();
    ManifestContext* context = archive.GetManifestContext();
    int rc = ManifestInit(context, options.securityLibrary, options.fileHashAlgorithm, options.signatureFormat,
                          options.signatureHashAlgorithm);
    if (rc != SMF_OK)
        throw CInvalManifestExcept(ManifestGetLastError(context), rc, 0);
    // A new archive (an append's, too, when it starts one on standard
    // output, which can not be read back) holds nothing to verify yet.
    if (options.commandCode == KOV_CMD_CREATE || application.WritesStandardOutput())
        return;

    // The stored manifest is verified first, before the existing entries
    // feed the archive's manifest as they are tested: the two texts are
    // then never held beside the copy that verification makes.
    OwnManifestContext stored;
    bool storedFound = false;
    archive.Rewind();
    if (options.verify) {
        std::vector<uint8_t> text;
        uint64_t offset = 0;
        EntryPlaces places;
        storedFound = ReadManifestEntry(archive, &text, &offset, true, &places);
        if (storedFound) {
            rc = ManifestInit(stored.get(), options.securityLibrary, "SHA256", "PKCS7-TSTAMP", "SHA256");
            if (rc == SMF_OK)
                rc = VerifyStoredText(stored.get(), text, application);
            if (rc != SMF_OK)
                ThrowManifestFailure(stored.get(), rc);
            NoteSignedPlacesTaken(archive, stored.get(), places);
        }
    }
    bool manifestFound = false;
    bool entriesBehindManifest = false;
    uint64_t manifestOffset = 0;
    uint32_t invalidEntries = 0;
    // The places of the entries, for those the run adds.  Of an archive
    // whose signature was verified, the checks above and those of the walk
    // refuse what a reader refuses, in its words; of another, the first entry
    // that takes a place as a reader of the archive signed anew refuses it
    // ends the run once the entries passed those checks, told as what the
    // signature would list (no manifest was verified).
    CSigningPlaces* places = archive.SigningPlaces();
    if (places != nullptr && !storedFound)
        places->TellAsUnverified();
    std::string placeRefusal;
    // Whatever a reader of the archive signed anew would refuse ends the
    // run here, before anything is written: damage (which the data check
    // of a file's size also throws, see CDirEntry::ExtractOrTest), a link or
    // directory in a signed file's place (a file the new manifest will list),
    // a digest that fails.
    for (CDirEntry* entry = archive.FirstEntry(); entry != nullptr; entry = archive.NextEntry()) {
        if (manifestFound)
            entriesBehindManifest = true;
        if (const std::string damage = DamageBeforeData(archive, *entry); !damage.empty())
            throw CExcept("KOVZEF: " + KovShown(entry->GetName()) + " is damaged: " + damage, KOV_STATUS_DAMAGED, true,
                          0);
        if (entry->IsSignedManifest()) {
            RefuseOtherManifest(*entry, manifestFound);
            manifestOffset = CurrentHeaderOffset(archive, *entry);
            manifestFound = true;
        } else {
            RefuseInPlaceOfSignedFile(archive, *entry);
            RefuseUnsignableName(*entry);
            CheckEntryDigests(archive, entry, invalidEntries);
            if (places != nullptr) {
                std::string refusal = places->Note(entry->GetStoredName(), PlaceKindOf(entry->GetHeaderInfo()),
                                                   entry->StoredLinkNameLength());
                if (!storedFound && placeRefusal.empty())
                    placeRefusal = std::move(refusal);
            }
        }
        archive.ReleaseEntry(entry);
    }
    if (!placeRefusal.empty())
        throw CInvalManifestExcept(placeRefusal, SMF_EFILENOTFOUND, 0);
    // The new entries and manifest go where the old manifest was: whatever
    // stands behind it would be overwritten.
    if (entriesBehindManifest)
        throw CInvalManifestExcept("Archive " + KovShown(archive.GetPath()) +
                                       " holds entries behind its signed manifest, which signing it again "
                                       "would overwrite.\n        This is not supported!",
                                   0, 0);
    if (storedFound && manifestFound) {
        // An archive without files has no manifest text yet.
        ManifestContext* signedOne = stored.get();
        const bool bothEmpty = context->contentLength == 0 && signedOne->entryCount == 0;
        if (!bothEmpty && ManifestCompareExternal(context, signedOne) != SMF_OK)
            throw CInvalManifestExcept("Archive " + KovShown(archive.GetPath()) +
                                           " is already signed, but the content was modified.\n"
                                           "        This is not supported!",
                                       0, 0);
    }
    ManifestClearContext(stored.get());
    CheckEntryDigests(archive, nullptr, invalidEntries);

    CFileStream& stream = archive.Stream();
    if (manifestFound && manifestOffset >= KOX_ARCHIVE_HEADER_SIZE) {
        // What the run overwrites is kept, so that a failed run can put the
        // old manifest entry back.
        std::string tail;
        char block[4096];
        size_t got = 0;
        if (!stream.Seek(manifestOffset))
            throw CSetFilePointerExcept();
        do {
            if (!stream.Read(block, sizeof block, &got))
                throw CReadExcept(archive.GetPath());
            tail.append(block, got);
        } while (got == sizeof block);
        application.KeepOverwrittenTail(manifestOffset, std::move(tail));
        if (!stream.Seek(manifestOffset))
            throw CSetFilePointerExcept();
    } else if (!stream.SeekEnd()) {
        throw CSetFilePointerExcept();
    }
}

// The check of the stored signature before the entries are read.
void VerifyAfterReading(CArchiveFile& archive, CApplication& application)
{
    const COptions& options = application.GetOptions();
    if (!options.verify && !options.sign)
        return;
    ManifestContext* context = archive.GetManifestContext();
    std::vector<uint8_t> text;
    uint64_t offset = 0;
    EntryPlaces places;
    // Asked to check a signature, an archive without one never passes.
    if (!ReadManifestEntry(archive, &text, &offset, true, &places))
        ThrowNotSigned(application);
    int rc = ManifestInit(context, options.securityLibrary, "SHA256", "PKCS7-TSTAMP", "SHA256");
    if (rc == SMF_OK)
        rc = VerifyStoredText(context, text, application);
    if (rc == SMF_OK) {
        archive.SetVerifiedManifestOffset(offset);
        NoteSignedPlacesTaken(archive, context, places);
    }
    if (rc == SMF_OK && options.externalManifest != nullptr && PathExists(options.externalManifest))
        rc = ManifestReadExternal(context, options.externalManifest);
    if (rc == SMF_OK)
        return;
    if (rc == SMF_ESIGNATURE)
        throw CInvalSignatureExcept(ManifestGetLastError(context), ManifestGetSsfRc(context));
    throw CInvalManifestExcept(ManifestGetLastError(context), ManifestGetSmfRc(context), ManifestGetSsfRc(context));
}

// The revocation list named with -crl, whole.  A list that cannot be had is
// an error: a silently skipped revocation check would look like a passed one.
std::string ReadRevocationList(const char* path)
{
    std::string bytes;
    switch (ReadWholeFile(path, bytes)) {
    case KOV_WHOLE_FILE_OK:
        if (!bytes.empty())
            return bytes;
        throw CInvalManifestExcept(
            std::string("CRL file could not be read (the file >") + KovShown(path) + "< is empty)", 0, 0);
    case KOV_WHOLE_FILE_NOT_OPENED:
        throw CInvalManifestExcept(std::string("Cannot open CRL file >") + KovShown(path) + "<", 0, 0);
    default:
        throw CInvalManifestExcept("CRL file could not be read ", 0, 0);
    }
}

}  // namespace

bool SignatureRequested(CApplication& application)
{
    const COptions& options = application.GetOptions();
    return options.verify || options.sign || options.commandCode == KOV_CMD_SIGN;
}

// ---- Signing ------------------------------------------------------------------

int SignManifest(ManifestContext* context, CApplication& application)
{
    const COptions& options = application.GetOptions();
    return ManifestSign(context, options.keyStore, options.keyStorePassword, options.timestampServer, options.proxy,
                        nullptr, nullptr);
}

void SignArchive(CArchiveFile& archive, CApplication& application, ICompressStrategy& strategy, uint32_t openMode)
{
    if (!SignatureRequested(application))
        return;
    const COptions& options = application.GetOptions();
    ManifestContext* context = archive.GetManifestContext();
    int rc = SMF_OK;
    if (options.externalManifest != nullptr)
        rc = ManifestReadExternal(context, options.externalManifest);
    if (rc == SMF_OK)
        rc = SignManifest(context, application);
    if (rc != SMF_OK) {
        // A stop signal ends the wait for the timestamp authority with a
        // failed request: the run stops, as it would have after the stamp.
        StopIfRequested();
        ThrowManifestFailure(context, rc);
    }

    {
        CSignedManifest manifest(KOX_MANIFEST_NAME, context);
        struct Unset {
            ICompressStrategy& strategy;
            ~Unset() { strategy.SetEntry(nullptr); }
        } unset{strategy};
        strategy.SetEntry(&manifest);
        manifest.AddToArchive(archive);
    }
    if ((openMode & KOV_OPEN_UPDATE) != 0 && !archive.Stream().Truncate())
        throw CWriteExcept(archive.GetPath());
    if (options.verbose)
        application.GetLogMan().Write("KOVZEF: Signature of archive " + KovShown(application.GetArchiveName()) +
                                      " was successfully created");
}

bool ReadManifestEntry(CArchiveFile& archive, std::vector<uint8_t>* text, uint64_t* headerOffset, bool onlyOne,
                       EntryPlaces* places)
{
    CFileStream& stream = archive.Stream();
    uint64_t noted = 0;
    if (!stream.Tell(&noted))
        throw CGetFilePosExcept();
    const bool wanted = text != nullptr || headerOffset != nullptr;
    bool found = false;
    uint64_t manifestAt = 0;
    // No manifest is longer than the lines of all the other entries need
    // besides its fixed parts; its text is read only once that is known.
    uint64_t limit = kManifestFixedAllowance;
    for (CDirEntry* entry = archive.FirstEntry(); entry != nullptr; entry = archive.NextEntry()) {
        if (entry->IsSignedManifest()) {
            if (onlyOne)
                RefuseOtherManifest(*entry, found);
            if (!found)
                manifestAt = CurrentHeaderOffset(archive, *entry);
            found = true;
        } else {
            limit += kManifestLineAllowance + entry->GetHeaderInfo().nameLength;
            // A name that does not end where its header says is never made.
            if (onlyOne && places != nullptr && !archive.NameDamaged())
                AddPlace(*entry, *places);
        }
        archive.ReleaseEntry(entry);
        if (found && !onlyOne && !wanted)
            break;
    }
    std::vector<uint8_t> stored;
    uint64_t offset = 0;
    if (found && wanted) {
        CDirEntry* entry = archive.EntryAt(manifestAt);
        if (entry == nullptr || !entry->IsSignedManifest())
            throw CReadExcept(archive.GetPath());
        TestManifestEntry(archive, entry, stored, offset, limit);
        archive.ReleaseEntry(entry);
    }
    // The next walk starts behind the archive header again by itself.
    if (!stream.Seek(noted))
        throw CSetFilePointerExcept();
    if (!found)
        return false;
    if (headerOffset != nullptr && !stored.empty())
        *headerOffset = offset;
    if (text != nullptr)
        *text = std::move(stored);
    return true;
}

void CheckManifestPresence(CArchiveFile& archive, bool mustExist, const std::string& message, uint32_t code)
{
    if (ReadManifestEntry(archive, nullptr, nullptr) != mustExist)
        throw CExcept(message, code, false);
}

// ---- Verification -----------------------------------------------------------

void VerifyArchiveSignature(bool beforeWriting, CArchiveFile& archive, CApplication& application)
{
    if (beforeWriting) {
        if (SignatureRequested(application))
            VerifyBeforeWriting(archive, application);
        return;
    }
    VerifyAfterReading(archive, application);
}

int VerifyManifestText(ManifestContext* context, const char* text, std::size_t length, CApplication& application,
                       bool loadBody)
{
    const COptions& options = application.GetOptions();
    std::string crl;
    if (options.revocationList != nullptr)
        crl = ReadRevocationList(options.revocationList);
    const auto* list = reinterpret_cast<const unsigned char*>(crl.data());
    if (!options.verbose)
        return ManifestVerify(context, text, length, options.keyStore, options.keyStorePassword, list, crl.size(),
                              loadBody ? 1 : 0, 0);
    if (loadBody)
        return ManifestVerifyAndLoad(context, text, length, options.keyStore, options.keyStorePassword, list,
                                     crl.size());
    return ManifestVerifySignatureOnly(context, text, length, options.keyStore, options.keyStorePassword, list,
                                       crl.size());
}

void ThrowNotSigned(CApplication& application)
{
    throw CExcept("KOVZEF: " + KovShown(application.GetArchiveName()) + " is not digitally signed", 59, true, 0);
}

void RefuseUnverifiedManifest(CArchiveFile& archive, const CDirEntry& entry)
{
    if (entry.IsSignedManifest() && CurrentHeaderOffset(archive, entry) != archive.VerifiedManifestOffset())
        RefuseOtherManifest(entry, true);
}

void RefuseInPlaceOfSignedFile(CArchiveFile& archive, const CDirEntry& entry)
{
    // Most signed archives have no place taken: nothing is looked at then.
    if (!archive.AnySignedNameTaken())
        return;
    const PlaceKind kind = PlaceKindOf(entry.GetHeaderInfo());
    const std::string_view name = PlaceNameOf(entry.GetStoredName(), kind, entry.StoredLinkNameLength());
    const std::string place = EntryPlace(name);
    bool isLink = false;
    if (kind == PlaceKind::kFile) {
        // A signed file whose place a later link or directory (or an entry
        // below it) takes: one that comes first was refused at itself.
        if (entry.IsDigestEnabled() && archive.SignedNameTaken(place, &isLink))
            throw CInvalManifestExcept(PlaceTakenRefusal(name, isLink ? PlaceKind::kLink : PlaceKind::kDirectory, true),
                                       SMF_EFILENOTFOUND, 0);
    } else if (archive.SignedNameTaken(place)) {
        // A file of its place that came before it was refused at itself.
        throw CInvalManifestExcept(PlaceTakenRefusal(name, kind, false), SMF_EFILENOTFOUND, 0);
    } else if (kind == PlaceKind::kLink && archive.LinkAboveSignedFile(place)) {
        // So was a signed file below it.
        throw CInvalManifestExcept(LinkAboveSignedFileRefusal(name, false), SMF_EFILENOTFOUND, 0);
    }
    // Whatever lies below a signed file's place would have a directory made
    // there, and so would a signed file below a link's.
    const bool signedFile = kind == PlaceKind::kFile && entry.IsDigestEnabled();
    ForEachPlaceAbove(place, [&](std::string_view up) {
        const std::string above(up);
        if (archive.SignedNameTaken(above))
            throw CInvalManifestExcept(BelowSignedFileRefusal(name, up), SMF_EFILENOTFOUND, 0);
        if (signedFile && archive.LinkAboveSignedFile(above))
            throw CInvalManifestExcept(LinkAboveSignedFileRefusal(up, true), SMF_EFILENOTFOUND, 0);
        return true;
    });
}

void RefuseAddedInTakenPlace(CArchiveFile& archive, const CDirEntry& entry, const KoxHeaderInfo& info)
{
    CSigningPlaces* places = archive.SigningPlaces();
    if (places == nullptr || entry.IsSignedManifest())
        return;
    if (const std::string refusal = places->Note(entry.GetStoredName(), PlaceKindOf(info),
                                                 entry.StoredLinkNameLength());
        !refusal.empty())
        throw CAddedEntryRefused(CInvalManifestExcept(refusal, SMF_EFILENOTFOUND, 0));
}

void WriteSignerLines(ManifestContext* context, CApplication& application, const char* signer)
{
    CLogMan& log = application.GetLogMan();
    // A certificate's names are the signer's own text, UTF-8 whatever the
    // local code page: read by UTF-8's characters, so that no control in
    // them reaches the terminal.
    log.Write("KOVZEF: Signature Subject >" + KovShownUtf8(ManifestGetSubject(context)) + "<");
    log.Write("KOVZEF: Signature Issuer  >" + KovShownUtf8(ManifestGetIssuer(context)) + "<");
    log.Write("KOVZEF: Signature Type    >" + KovShownUtf8(signer) + "<");
}

void ShowSignatureInfo(CArchiveFile& archive, CApplication& application)
{
    if (!application.GetOptions().verbose)
        return;
    ManifestContext* context = archive.GetManifestContext();
    WriteSignerLines(context, application, ManifestGetSigner(context));
}

void CheckEntryDigests(CArchiveFile& archive, CDirEntry* entry, uint32_t& invalidEntries, bool everyEntryChecked)
{
    if (entry != nullptr) {
        if (!entry->IsDigestEnabled())
            return;
        CNullStream discard;
        entry->SetStream(&discard);
        entry->ExtractOrTest(archive, true);
        entry->SetStream(nullptr);
        if (!entry->IsDigestVerified())
            ++invalidEntries;
        return;
    }
    ManifestContext* context = archive.GetManifestContext();
    if (invalidEntries == 1)
        throw CInvalManifestExcept(ManifestGetLastError(context), ManifestGetSmfRc(context), ManifestGetSsfRc(context));
    if (invalidEntries > 1)
        throw CInvalManifestExcept(std::to_string(invalidEntries) + " files of the archive are invalid:\n" +
                                       ManifestGetLastError(context),
                                   ManifestGetSmfRc(context), ManifestGetSsfRc(context));
    // Every file the manifest lists must have been met in the archive.
    if (everyEntryChecked) {
        const int rc = ManifestCheckAllListed(context);
        if (rc != SMF_OK)
            throw CInvalManifestExcept(ManifestGetLastError(context), rc, ManifestGetSsfRc(context));
    }
}
