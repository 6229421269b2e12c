// The application's exceptions.  Every failure inside the archiver travels as
// a CExcept (or a subclass), thrown by value and caught by reference.  Building
// one stores its code as the process exit status at once (CInvalExcept
// excepted), so the status is right wherever the exception is finally caught.
//
// Messages of failed system calls end with the system's text for the error
// number.  That number is taken when the exception is built: throw right after
// the failing call, or pass the saved errno explicitly as the last argument.
#pragma once

#include <cerrno>
#include <cstdint>
#include <string>

#include "app/userinfo.h"
#include "oldformat/shownname.h"

class CExcept : public CUserInfo {
public:
    // Empty message, code 0; the exit status is not touched.
    CExcept() = default;
    // Message, the code suffix " (error <code>). " and, when appendSystemError
    // is set, the system text of sysErrno (nothing when it is 0).
    CExcept(const std::string& message, uint32_t code, bool appendSystemError, int sysErrno = errno);
    CExcept(const char* message, uint32_t code, bool appendSystemError, int sysErrno = errno);
    // Code 100 with the suffix and the system error text.
    explicit CExcept(const std::string& message, int sysErrno = errno);

    std::string GetText() const override { return m_message; }
    const std::string& GetMessage() const { return m_message; }
    uint32_t GetCode() const { return m_code; }
    // Adds a sentence to the end of the message.
    void AddNote(const std::string& note) { m_message += note; }

protected:
    enum class Tail { None, Suffix, SuffixAndSystem };
    // Message + what tail says; stores the code as exit status when storeStatus.
    CExcept(std::string message, uint32_t code, Tail tail, int sysErrno, bool storeStatus = true);

    std::string m_message;
    uint32_t m_code = 0;
};

// Exit status of damaged entry data: a checksum error, data blocks that do
// not match their header.
inline constexpr uint32_t KOV_STATUS_DAMAGED = 12;

// " (error <code>). " -- appended to most messages.
std::string KovErrorSuffix(uint32_t code);
// The system's description of an error number; empty for 0.
std::string KovSystemErrorText(int sysErrno);

// The name in the message of each class below is shown as KovShown shows
// it: its control bytes escaped.
#define KOV_NAMED_EXCEPT(cls) \
    class cls : public CExcept { \
    public: \
        explicit cls(const std::string& name, int sysErrno = errno); \
    }
#define KOV_PLAIN_EXCEPT(cls) \
    class cls : public CExcept { \
    public: \
        explicit cls(int sysErrno = errno); \
    }

KOV_NAMED_EXCEPT(CReadExcept);                   // "KOVZEF: error reading from " + name, 5, suffix
KOV_NAMED_EXCEPT(CWriteExcept);                  // "KOVZEF: error writing to " + name, 4, suffix + system
KOV_NAMED_EXCEPT(COpenExcept);                   // "KOVZEF: error opening " + name, 6, suffix + system
KOV_NAMED_EXCEPT(CStatExcept);                   // "KOVZEF: stat() failed for " + name, errno+100
KOV_NAMED_EXCEPT(CAccessExcept);                 // "KOVZEF: access() failed for " + name, errno+100
KOV_NAMED_EXCEPT(CChgDirExcept);                 // "KOVZEF: can not change to dir " + name, errno+100
KOV_NAMED_EXCEPT(CCreateDirExcept);              // "KOVZEF: can not create directory " + name, 3
KOV_NAMED_EXCEPT(CChgModExcept);                 // "KOVZEF: can not set permissions for " + name, 13
KOV_NAMED_EXCEPT(CChgDateExcept);                // "KOVZEF: can not change date for " + name, 14
KOV_PLAIN_EXCEPT(CGetCwdExcept);                 // "KOVZEF: can not get working directory ", 17
KOV_NAMED_EXCEPT(CReadLinkExcept);               // "KOVZEF: can not read link " + name, 35
KOV_NAMED_EXCEPT(CDecompExcept);                 // "KOVZEF: error decompressing " + name, 11, nothing
KOV_NAMED_EXCEPT(CUnsupportedArchiveException);  // "KOVZEF: unsupported archive: " + name, 1
KOV_NAMED_EXCEPT(CCompExcept);                   // "KOVZEF: error compressing " + name, 9
KOV_PLAIN_EXCEPT(CSetFilePointerExcept);         // 52, suffix + system
KOV_PLAIN_EXCEPT(CGetFilePosExcept);             // 51, suffix + system
KOV_PLAIN_EXCEPT(CInvalidHandle);                // 50, nothing
KOV_NAMED_EXCEPT(CCreateLnkExcept);              // "KOVZEF: can not create softlink " + name, 36
KOV_NAMED_EXCEPT(CDiskSpaceExcept);              // "KOVZEF: error determining disk space for " + name, 30
KOV_NAMED_EXCEPT(CSetFileAttrExcept);            // "KOVZEF: setting file attributes failed for" + name, 48
KOV_NAMED_EXCEPT(CAddPrivilegeExcept);           // "KOVZEF: adding privileges failed." + text, 49

#undef KOV_NAMED_EXCEPT
#undef KOV_PLAIN_EXCEPT

// "KOVZEF: could not convert " + name + " to UTF8." or, without a name,
// "KOVZEF: could not convert from UTF8 string"; code 47, nothing appended.
class CConversionExcept : public CExcept {
public:
    CConversionExcept();
    explicit CConversionExcept(const std::string& name);
};

// "KOVZEF: invalid archive " + name; code 0 and the exit status stays as it is.
class CInvalExcept : public CExcept {
public:
    explicit CInvalExcept(const std::string& name);
};

// A failure of the signed-manifest library: manifestCode is its return code,
// cryptoCode the crypto library's; codes 54 to 58 and 61; detail appended.
class CInvalManifestExcept : public CExcept {
public:
    CInvalManifestExcept(const std::string& detail, int manifestCode, int cryptoCode);
};

// A failed signature verification: code 60, the crypto code's name, detail.
class CInvalSignatureExcept : public CExcept {
public:
    CInvalSignatureExcept(const std::string& detail, int cryptoCode);
};

// A run stopped by a signal (SIGINT, SIGTERM, SIGHUP): "KOVZEF: run stopped by
// signal " + its number; code and exit status 128 + that number.
class CStopExcept : public CExcept {
public:
    explicit CStopExcept(int signal);
    int Signal() const { return static_cast<int>(m_code) - 128; }
};
