// Loading the crypto library's function table, its version record and its
// last error.
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "crypto/ssfload.h"
#include "crypto/ssfversiontext.h"

namespace {

struct Row {
    uint32_t minVersion;
    const char* name;
    int slot;
    int flag;
};

// The function table, in the order it is resolved.
const Row kTable[] = {
    {0x1, "SsfVersion", 0, 0},
    {0x1, "SsfEncode", 6, 6},
    {0x1, "SsfDecode", 7, 7},
    {0x1, "SsfSign", 2, 2},
    {0x1, "SsfVerify", 3, 3},
    {0x1, "SsfEnvelope", 4, 4},
    {0x1, "SsfDevelope", 5, 5},
    {0x1, "SsfAddSign", 8, 8},
    {0x1, "SsfDigest", 9, 9},
    {0x1, "SsfDELSsfOctetstring", 10, 10},
    {0x1, "SsfNEWSigRcpSsfInfo", 11, 11},
    {0x1, "SsfDELSigRcpSsfInfo", 13, 13},
    {0x1, "SsfINSSigRcpSsfInfo", 12, 12},
    {0x1, "SsfDELSigRcpSsfInfoList", 14, 14},
    {0x1, "SsfQueryProperties", 1, 1},
    {0x2, "SsfOpenProfile", 15, 15},
    {0x2, "SsfCloseProfile", 16, 16},
    {0x2, "SsfCreateProfile", 17, 17},
    {0x2, "SsfRemoveProfile", 18, 18},
    {0x2, "SsfGetOwnCertificate", 19, 19},
    {0x2, "SsfGetCertificate", 20, 20},
    {0x2, "SsfPutCertificate", 21, 21},
    {0x2, "SsfRemoveCertificate", 22, 22},
    {0x2, "SsfFreeCertificate", 23, 23},
    {0x2, "SsfGetCertificateList", 24, 24},
    {0x2, "SsfEnumCertificateList", 25, 25},
    {0x2, "SsfFreeCertificateList", 26, 26},
    {0x2, "SsfCertfromASN1", 27, 27},
    {0x2, "SsfCerttoASN1", 28, 28},
    {0x2, "SsfParseCertificate", 29, 29},
    {0x2, "SsfGetCertificateRequest", 30, 30},
    {0x2, "SsfPutCertificateResponse", 31, 31},
    {0x102, "kovtelmir_parseobject", 32, 32},
    {0x102, "kov_secin", 33, 33},
    {0x102, "kov_create_memory_PSE", 34, 34},
    {0x102, "kov_delete_memory_PSE", 35, 35},
    {0x102, "kov_load_memory_PSE", 36, 36},
    {0x102, "kov_save_memory_PSE", 37, 37},
    {0x103, "SsfSignEx", 38, 38},
    {0x103, "SsfVerifyEx", 39, 39},
    {0x103, "SsfEnvelopeEx", 40, 40},
    {0x103, "SsfDevelopeEx", 41, 41},
    {0x103, "SsfDecodeCrlArray", 45, 46},
    {0x103, "SsfFreeCrlArray", 46, 47},
    {0x103, "SsfVerifyCRL", 47, 48},
    {0x103, "SsfParseCRL", 48, 49},
    {0x103, "SsfFreeCrlList", 49, 50},
    {0x103, "SsfGetCrlDpArrayFromCert", 52, 54},
    {0x103, "SsfFreeCrlDpArray", 53, 55},
    {0x103, "SsfGetTimeStampReq", 50, 51},
    {0x103, "SsfAddTimeStampResp", 51, 52},
    {0x103, "SsfCheckCertWithCrlArray", 54, 53},
    {0x103, "kovcr_init", 55, 56},
    {0x103, "kovcr_done", 56, 57},
};

// Texts for the sinks are formatted here; process-wide, like the rest of the layer.
char g_sinkText[1024];
// The library's version record, kept after the first successful query.
const KovCrVersion* g_version = nullptr;

void Tell(SsfSink sink, const char* format, ...) __attribute__((format(printf, 2, 3)));
void Tell(SsfSink sink, const char* format, ...)
{
    if (sink == nullptr)
        return;
    va_list ap;
    va_start(ap, format);
    std::vsnprintf(g_sinkText, sizeof g_sinkText, format, ap);
    va_end(ap);
    sink(g_sinkText);
}

bool VersionCovers(uint32_t caller, uint32_t row)
{
    return (caller & 0xFF) >= (row & 0xFF) && (caller >> 8) >= (row >> 8);
}

char* CopyText(const char* text, std::size_t length)
{
    auto* p = static_cast<char*>(std::malloc(length + 1));
    if (p != nullptr) {
        if (length != 0)
            std::memcpy(p, text, length);
        p[length] = '\0';
    }
    return p;
}

}  // namespace

int SsfLoadWithHandle(DL_HDL hdl, const char* path, SsfFuncContext* ctx, SsfSink errorSink, SsfSink infoSink,
                      uint32_t interfaceVersion)
{
    if (ctx == nullptr)
        return SSF_SUP_NOLIB;
    if (ctx->loaded)
        return SSF_SUP_ALREADYLOADED;
    // The caller's path is quoted as shown: it may hold any byte.
    const std::string shown = path != nullptr ? SsfShownName(path, std::strlen(path)) : "(null)";
    if (hdl == DL_NO_HDL) {
        if (DlLoadLib(path, &hdl) != DL_OK) {
            Tell(errorSink, "\n===...could not load SSF library %.500s .\n\n", shown.c_str());
            return SSF_SUP_NOLIB;
        }
        Tell(infoSink, "\n===...SSF library %.500s loaded successfully.\n", shown.c_str());
    } else {
        Tell(infoSink, "\n===...caller-supplied DL_HDL for SSF Library (%.128s).\n", shown.c_str());
    }
    ctx->hdl = hdl;
    ctx->loaded = 1;
    ctx->lastErrorInfo = nullptr;
    ctx->lastErrorInfoResolved = 0;

    int result = SSF_SUP_OK;
    for (const Row& row : kTable) {
        if (!VersionCovers(interfaceVersion, row.minVersion))
            continue;
        ctx->slot[row.slot] = nullptr;
        ctx->present[row.flag] = 0;
        DL_FUNC fn = nullptr;
        if (DlLoadFunc(hdl, row.name, nullptr, &fn) == DL_OK && fn != nullptr) {
            ctx->slot[row.slot] = fn;
            ctx->present[row.flag] = 1;
            Tell(infoSink, "===...%.500s loaded successfully.\n", row.name);
        } else {
            Tell(infoSink, "===... could not load function %.500s from SSF library.\n", row.name);
            result = SSF_SUP_NOTALLFUNCTIONS;
        }
    }
    if (ctx->present[SSF_FLAG_INIT])
        reinterpret_cast<int (*)()>(ctx->slot[SSF_SLOT_INIT])();
    return result;
}

int SsfLoad(const char* path, SsfFuncContext* ctx, SsfSink errorSink, SsfSink infoSink, uint32_t interfaceVersion)
{
    return SsfLoadWithHandle(DL_NO_HDL, path, ctx, errorSink, infoSink, interfaceVersion);
}

int SsfLoadV1(const char* path, SsfFuncContext* ctx, SsfSink errorSink, SsfSink infoSink)
{
    return SsfLoad(path, ctx, errorSink, infoSink, 1);
}

void SsfUnload(SsfFuncContext* ctx)
{
    if (ctx == nullptr || !ctx->loaded)
        return;
    if (ctx->present[SSF_FLAG_INIT] && ctx->present[SSF_FLAG_DONE] && SsfSupGetVersionRecord(ctx) &&
        g_version->major >= 8)
        reinterpret_cast<int (*)()>(ctx->slot[SSF_SLOT_DONE])();
    for (DL_FUNC& f : ctx->slot)
        f = nullptr;
    for (uint8_t& p : ctx->present)
        p = 0;
    ctx->lastErrorInfo = nullptr;
    ctx->lastErrorInfoResolved = 0;
    DlUnloadLib(&ctx->hdl);
    ctx->hdl = DL_NO_HDL;
    ctx->loaded = 0;
    // The record lives in the library just unloaded.
    g_version = nullptr;
}

const char* SsfSupRcName(int rc)
{
    switch (rc) {
    case SSF_SUP_OK:
        return "SSF_SUP_OK";
    case SSF_SUP_ALREADYLOADED:
        return "SSF_SUP_ALREADYLOADED";
    case SSF_SUP_NOTALLFUNCTIONS:
        return "SSF_SUP_NOTALLFUNCTIONS";
    case SSF_SUP_NOLIB:
        return "SSF_SUP_NOLIB";
    default:
        return "<unknown SUP RC>";
    }
}

int SsfSupGetVersionRecord(SsfFuncContext* ctx)
{
    if (g_version != nullptr)
        return 1;
    if (ctx == nullptr || !ctx->loaded)
        return 0;
    DL_FUNC fn = nullptr;
    if (DlLoadFunc(ctx->hdl, "kovcr_get_version", nullptr, &fn) != DL_OK || fn == nullptr)
        return 0;
    const KovCrVersion* record = nullptr;
    if (reinterpret_cast<decltype(&kovcr_get_version)>(fn)(&record) != 0 || record == nullptr || record->size < 56 ||
        record->libraryVersion == nullptr)
        return 0;
    g_version = record;
    return 1;
}

int SsfSupGetVersion(SsfFuncContext* ctx, char* buffer, uint32_t* capacity)
{
    if (ctx == nullptr || !ctx->loaded || buffer == nullptr || capacity == nullptr || !SsfSupGetVersionRecord(ctx) ||
        g_version->major <= 7 || !ctx->present[SSF_SLOT_QUERYPROPERTIES])
        return 1;
    const char* build = g_version->build != nullptr ? g_version->build : "";
    if (*capacity <= std::strlen(build) + 12)
        return 1;
    char* value = nullptr;
    uint32_t valueLen = 0;
    const int rc = SsfLibQueryProperties(ctx, "FIPS_140_2", 10, &value, &valueLen);
    if (rc != SSF_API_OK)
        return rc == SSF_API_NOMEMORY ? 4 : 1;
    const bool fips = value != nullptr && value[0] == '1';
    std::free(value);
    int n = std::snprintf(buffer, *capacity, fips ? "%u.%u.%u %s FIPS 140-2" : "%u.%u.%u %s ", g_version->major,
                          g_version->minor, g_version->patch, build);
    if (n < 0)
        n = 0;
    *capacity = static_cast<uint32_t>(n) < *capacity ? static_cast<uint32_t>(n) : *capacity - 1;
    return 0;
}

int SsfSupGetLibraryVersionText(SsfFuncContext* ctx, char** text, uint32_t* length)
{
    if (text == nullptr)
        return SSF_API_INVALID_FUNCARGS;
    *text = nullptr;
    if (length != nullptr)
        *length = 0;
    std::string result;
    if (SsfSupGetVersionRecord(ctx)) {
        result = g_version->libraryVersion;
    } else if (ctx != nullptr && ctx->present[SSF_SLOT_VERSION]) {
        char* version = nullptr;
        uint32_t versionLen = 0;
        const int rc = SsfLibVersion(ctx, &version, &versionLen);
        if (rc != SSF_API_OK)
            return rc;
        result = ssfsup::RewriteVersionText(std::string(version, versionLen));
        std::free(version);
    } else {
        return 1;
    }
    *text = CopyText(result.data(), result.size());
    if (*text == nullptr)
        return SSF_API_NOMEMORY;
    if (length != nullptr)
        *length = static_cast<uint32_t>(result.size());
    return 0;
}

int SsfSupGetLibVersion(SsfFuncContext* ctx, uint32_t* version, uint32_t* patchLevel)
{
    if (version == nullptr && patchLevel == nullptr)
        return SSF_API_INVALID_FUNCARGS;
    if (ctx == nullptr || !ctx->loaded)
        return SSF_API_NOSECTK;
    if (SsfSupGetVersionRecord(ctx)) {
        if (version != nullptr && g_version->major <= 9 && g_version->minor <= 9 && g_version->patch <= 9)
            *version = g_version->major * 10000 + g_version->minor * 100 + g_version->patch;
        if (patchLevel != nullptr)
            *patchLevel = g_version->patchLevel;
        return 0;
    }
    char* text = nullptr;
    uint32_t textLen = 0;
    const int rc = SsfLibVersion(ctx, &text, &textLen);
    if (rc == SSF_API_OK)
        ssfsup::ParseVersionText(std::string(text, textLen), version, patchLevel);
    std::free(text);
    return rc;
}

int SsfSupLastErrorInfo(SsfFuncContext* ctx, int ssfRc, int* toolkitCode, char** text, uint32_t* textLength,
                        char** text2, uint32_t* text2Length)
{
    if (toolkitCode == nullptr || text == nullptr || textLength == nullptr || text2 == nullptr ||
        text2Length == nullptr)
        return 1;
    *toolkitCode = 0;
    *text = nullptr;
    *text2 = nullptr;
    *textLength = 0;
    *text2Length = 0;
    // Codes that never come from the toolkit.
    switch (ssfRc) {
    case 0:
    case 1:
    case 2:
    case 3:
    case 4:
    case 6:
    case 10:
    case 16:
    case 17:
    case 18:
        return 0;
    default:
        break;
    }
    if (ctx == nullptr || !ctx->loaded)
        return 1;
    if (!ctx->lastErrorInfoResolved) {
        ctx->lastErrorInfoResolved = 1;
        if (DlLoadFunc(ctx->hdl, "SsfSecTKLastErrorInfo", nullptr, &ctx->lastErrorInfo) != DL_OK)
            ctx->lastErrorInfo = nullptr;
    }
    if (ctx->lastErrorInfo == nullptr)
        return 1;
    const char* t1 = nullptr;
    const char* t2 = nullptr;
    uint32_t n1 = 0;
    uint32_t n2 = 0;
    if (reinterpret_cast<decltype(&SsfSecTKLastErrorInfo)>(ctx->lastErrorInfo)(ssfRc, toolkitCode, &t1, &n1, &t2,
                                                                               &n2) != 0)
        return 1;
    constexpr uint32_t kMaxText = 4095;
    n1 = t1 == nullptr ? 0 : (n1 < kMaxText ? n1 : kMaxText);
    n2 = t2 == nullptr ? 0 : (n2 < kMaxText ? n2 : kMaxText);
    *text = CopyText(t1, n1);
    *text2 = CopyText(t2, n2);
    if (*text == nullptr || *text2 == nullptr) {
        std::free(*text);
        std::free(*text2);
        *text = nullptr;
        *text2 = nullptr;
        return 1;
    }
    *textLength = n1;
    *text2Length = n2;
    return 0;
}
