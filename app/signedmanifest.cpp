// The signed manifest entry "SIGNATURE.SMF": its data is the manifest text,
// kept in memory by the signature commands.
#include "app/archivefile.h"
#include "app/direntry.h"
#include "app/options.h"

#include <ctime>

CSignedManifest::CSignedManifest(const std::string& name, ManifestContext* context)
    : CDirEntry(name),
      m_context(context)
{
    if (context) {
        const uint64_t length = ManifestGetContentLength(context);
        const char* text = ManifestGetContent(context);
        size_t put = 0;
        if (text && length)
            m_bufferedStream.Write(text, length, &put);
    }
    m_bufferedStream.SetReadPosition(0);
    m_stream = &m_bufferedStream;
}

CSignedManifest::CSignedManifest(const std::string& name, const std::string& storedName, const KoxHeaderInfo& info,
                                 std::vector<uint8_t> userInfo, ManifestContext* context)
    : CDirEntry(name, storedName, info, std::move(userInfo)),
      m_context(context)
{
    m_info.mode = 0600;
    const COptions& opt = COptions::Instance();
    if (opt.externalManifest)
        m_name = opt.externalManifest;
}

bool CSignedManifest::FillHeaderInfo(KoxHeaderInfo& info)
{
    info.SetType(KOX_TYPE_FILE);
    info.mode = KOX_MANIFEST_MODE;
    info.size = m_context ? ManifestGetContentLength(m_context) : 0;
    info.sizeHigh = 0;
    info.mtime = static_cast<uint64_t>(time(nullptr));
    info.reserved = 0;
    info.nameLength = static_cast<uint16_t>(m_name.size());
    return true;
}

void CSignedManifest::ExtractOrTest(CArchiveFile& archive, bool verification)
{
    if (verification)
        archive.EntryHeaderOffset(m_info, m_headerOffset);  // 0 when the position cannot be told
    CDirEntry::ExtractOrTest(archive, verification);
}
