// Messages, codes and exit statuses of the application's exceptions.
#include "app/except.h"

#include <cstdio>
#include <cstring>

#include "app/application.h"
#include "krn/snt/manifest.h"

std::string KovErrorSuffix(uint32_t code)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, " (error %d). ", static_cast<int>(code));
    return buf;
}

std::string KovSystemErrorText(int sysErrno)
{
    if (sysErrno == 0)
        return std::string();
    return std::strerror(sysErrno);
}

CExcept::CExcept(std::string message, uint32_t code, Tail tail, int sysErrno, bool storeStatus)
    : m_message(std::move(message)),
      m_code(code)
{
    if (storeStatus)
        CApplication::Instance().SetExitStatus(static_cast<int32_t>(code));
    if (tail != Tail::None)
        m_message += KovErrorSuffix(code);
    if (tail == Tail::SuffixAndSystem)
        m_message += KovSystemErrorText(sysErrno);
}

CExcept::CExcept(const std::string& message, uint32_t code, bool appendSystemError, int sysErrno)
    : CExcept(message, code, appendSystemError ? Tail::SuffixAndSystem : Tail::Suffix, sysErrno)
{
}

CExcept::CExcept(const char* message, uint32_t code, bool appendSystemError, int sysErrno)
    : CExcept(std::string(message ? message : ""), code, appendSystemError ? Tail::SuffixAndSystem : Tail::Suffix,
              sysErrno)
{
}

CExcept::CExcept(const std::string& message, int sysErrno)
    : CExcept(message, 100, Tail::SuffixAndSystem, sysErrno)
{
}

// Code of the classes whose code is the error number plus 100.
static uint32_t ErrnoCode(int sysErrno)
{
    return static_cast<uint32_t>(sysErrno) + 100;
}

CReadExcept::CReadExcept(const std::string& name, int e)
    : CExcept("KOVZEF: error reading from " + KovShown(name), 5, Tail::Suffix, e)
{
}
CWriteExcept::CWriteExcept(const std::string& name, int e)
    : CExcept("KOVZEF: error writing to " + KovShown(name), 4, Tail::SuffixAndSystem, e)
{
}
COpenExcept::COpenExcept(const std::string& name, int e)
    : CExcept("KOVZEF: error opening " + KovShown(name), 6, Tail::SuffixAndSystem, e)
{
}
CStatExcept::CStatExcept(const std::string& name, int e)
    : CExcept("KOVZEF: stat() failed for " + KovShown(name), ErrnoCode(e), Tail::SuffixAndSystem, e)
{
}
CAccessExcept::CAccessExcept(const std::string& name, int e)
    : CExcept("KOVZEF: access() failed for " + KovShown(name), ErrnoCode(e), Tail::SuffixAndSystem, e)
{
}
CChgDirExcept::CChgDirExcept(const std::string& name, int e)
    : CExcept("KOVZEF: can not change to dir " + KovShown(name), ErrnoCode(e), Tail::SuffixAndSystem, e)
{
}
CCreateDirExcept::CCreateDirExcept(const std::string& name, int e)
    : CExcept("KOVZEF: can not create directory " + KovShown(name), 3, Tail::SuffixAndSystem, e)
{
}
CChgModExcept::CChgModExcept(const std::string& name, int e)
    : CExcept("KOVZEF: can not set permissions for " + KovShown(name), 13, Tail::SuffixAndSystem, e)
{
}
CChgDateExcept::CChgDateExcept(const std::string& name, int e)
    : CExcept("KOVZEF: can not change date for " + KovShown(name), 14, Tail::SuffixAndSystem, e)
{
}
CGetCwdExcept::CGetCwdExcept(int e)
    : CExcept("KOVZEF: can not get working directory ", 17, Tail::SuffixAndSystem, e)
{
}
CReadLinkExcept::CReadLinkExcept(const std::string& name, int e)
    : CExcept("KOVZEF: can not read link " + KovShown(name), 35, Tail::SuffixAndSystem, e)
{
}
CDecompExcept::CDecompExcept(const std::string& name, int e)
    : CExcept("KOVZEF: error decompressing " + KovShown(name), 11, Tail::None, e)
{
}
CUnsupportedArchiveException::CUnsupportedArchiveException(const std::string& name, int e)
    : CExcept("KOVZEF: unsupported archive: " + KovShown(name), 1, Tail::None, e)
{
}
CCompExcept::CCompExcept(const std::string& name, int e)
    : CExcept("KOVZEF: error compressing " + KovShown(name), 9, Tail::None, e)
{
}
CSetFilePointerExcept::CSetFilePointerExcept(int e)
    : CExcept("KOVZEF: could not set position of file pointer.", 52, Tail::SuffixAndSystem, e)
{
}
CGetFilePosExcept::CGetFilePosExcept(int e)
    : CExcept("KOVZEF: could not get position of file pointer.", 51, Tail::SuffixAndSystem, e)
{
}
CInvalidHandle::CInvalidHandle(int e)
    : CExcept("KOVZEF: invalid file handle specified", 50, Tail::None, e)
{
}
CCreateLnkExcept::CCreateLnkExcept(const std::string& name, int e)
    : CExcept("KOVZEF: can not create softlink " + KovShown(name), 36, Tail::SuffixAndSystem, e)
{
}
CDiskSpaceExcept::CDiskSpaceExcept(const std::string& name, int e)
    : CExcept("KOVZEF: error determining disk space for " + KovShown(name), 30, Tail::None, e)
{
}
CSetFileAttrExcept::CSetFileAttrExcept(const std::string& name, int e)
    : CExcept("KOVZEF: setting file attributes failed for" + KovShown(name), 48, Tail::SuffixAndSystem, e)
{
}
CAddPrivilegeExcept::CAddPrivilegeExcept(const std::string& text, int e)
    : CExcept("KOVZEF: adding privileges failed." + text, 49, Tail::None, e)
{
}

CConversionExcept::CConversionExcept()
    : CExcept("KOVZEF: could not convert from UTF8 string", 47, Tail::None, 0)
{
}
CConversionExcept::CConversionExcept(const std::string& name)
    : CExcept("KOVZEF: could not convert " + KovShown(name) + " to UTF8.", 47, Tail::None, 0)
{
}

CInvalExcept::CInvalExcept(const std::string& name)
    : CExcept("KOVZEF: invalid archive " + KovShown(name), 0, Tail::None, 0, false)
{
}

namespace {

// Exit code of a manifest failure: the manifest library's code decides.
uint32_t ManifestExitCode(int manifestCode, int cryptoCode)
{
    // Sum in 64 bits: two large codes must not wrap into a negative sum.
    if (static_cast<int64_t>(manifestCode) + cryptoCode < 1)
        return 54;
    switch (manifestCode) {
    case SMF_EDIGEST:
        return 57;
    case SMF_ELIBRARY:
        return 56;
    case SMF_EFILENOTFOUND:
        return 58;
    case SMF_EBODY_NOT_EQUAL:
        return 55;
    case SMF_ECRL:
        return 61;
    default:
        return 54;
    }
}

std::string ManifestMessage(const std::string& detail, int manifestCode, int cryptoCode)
{
    const int code = static_cast<int>(ManifestExitCode(manifestCode, cryptoCode));
    if (static_cast<int64_t>(manifestCode) + cryptoCode < 1)
        return "KOVZEF: error in processing the signed manifest file. \nDetail: " + detail;
    // The texts are formatted into at most 511 characters.
    char buf[512];
    switch (manifestCode) {
    case SMF_EDIGEST:
        std::snprintf(buf, sizeof buf, "KOVZEF: invalid digest of archive file(s) (error %d).\nDetail: ", code);
        break;
    case SMF_ELIBRARY:
        std::snprintf(buf, sizeof buf,
                      "KOVZEF: error in loading the cryptographic library (error %d).\nDetail: ", code);
        break;
    case SMF_EFILENOTFOUND:
        std::snprintf(buf, sizeof buf, "KOVZEF: at least one file was not signed (error %d).\nDetail: ", code);
        break;
    case SMF_EBODY_NOT_EQUAL:
        std::snprintf(buf, sizeof buf,
                      "KOVZEF: external manifest differs to internal content (error %d).\nDetail: ", code);
        break;
    case SMF_ECRL:
        std::snprintf(buf, sizeof buf,
                      "KOVZEF: error during certificate revocation check (error %d). SSF-RC: %s\nDetail: ", code,
                      SmfSsfErrorName(cryptoCode));
        break;
    default:
        std::snprintf(buf, sizeof buf,
                      "KOVZEF: error in processing the signed manifest file (error %d). SMF-RC: %s "
                      "SSF-RC: %s\nDetail: ",
                      code, SmfErrorName(manifestCode), SmfSsfErrorName(cryptoCode));
        break;
    }
    return buf + detail;
}

std::string SignatureMessage(const std::string& detail, int cryptoCode)
{
    char buf[512];
    std::snprintf(buf, sizeof buf, "KOVZEF: error in signature verification (error %d). SSF-RC: %s \nDetail: ", 60,
                  SmfSsfErrorName(cryptoCode));
    return buf + detail;
}

}  // namespace

CInvalManifestExcept::CInvalManifestExcept(const std::string& detail, int manifestCode, int cryptoCode)
    : CExcept(ManifestMessage(KovShownLines(detail), manifestCode, cryptoCode),
              ManifestExitCode(manifestCode, cryptoCode), Tail::None, 0)
{
}

CInvalSignatureExcept::CInvalSignatureExcept(const std::string& detail, int cryptoCode)
    : CExcept(SignatureMessage(KovShownLines(detail), cryptoCode), 60, Tail::None, 0)
{
}

CStopExcept::CStopExcept(int signal)
    : CExcept("KOVZEF: run stopped by signal " + std::to_string(signal), 128 + signal, Tail::None, 0)
{
}
