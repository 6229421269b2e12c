// Messages, codes and exit statuses of the application's exceptions.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "app/application.h"
#include "app/except.h"
#include "krn/snt/manifest.h"

namespace {

int32_t Status()
{
    return CApplication::Instance().GetExitStatus();
}

class ExceptTest : public testing::Test {
protected:
    void SetUp() override { CApplication::Instance().SetExitStatus(-7); }
    void TearDown() override { CApplication::Destroy(); }

    // Checks text, code and the status stored at construction.
    void Expect(const CExcept& e, const std::string& text, uint32_t code)
    {
        EXPECT_EQ(e.GetText(), text);
        EXPECT_EQ(e.GetCode(), code);
        EXPECT_EQ(Status(), static_cast<int32_t>(code));
        CApplication::Instance().SetExitStatus(-7);
    }
};

const std::string kEnoent = std::strerror(ENOENT);
const std::string kEacces = std::strerror(EACCES);

}  // namespace

TEST_F(ExceptTest, BaseConstructors)
{
    Expect(CExcept("KOVZEF: no valid command given", 21, false), "KOVZEF: no valid command given (error 21). ", 21);
    Expect(CExcept(std::string("KOVZEF: x"), 43, true, ENOENT), "KOVZEF: x (error 43). " + kEnoent, 43);
    // Without a system error there is no text after the suffix.
    Expect(CExcept("KOVZEF: y", 29, true, 0), "KOVZEF: y (error 29). ", 29);
    Expect(CExcept(std::string("KOVZEF: generic"), EACCES), "KOVZEF: generic (error 100). " + kEacces, 100);
    // The system text is that of errno at construction when none is passed.
    errno = ENOENT;
    Expect(CExcept("KOVZEF: z", 7, true), "KOVZEF: z (error 7). " + kEnoent, 7);
}

TEST_F(ExceptTest, DefaultConstructionLeavesStatus)
{
    const CExcept e;
    EXPECT_EQ(e.GetText(), "");
    EXPECT_EQ(e.GetCode(), 0u);
    EXPECT_EQ(Status(), -7);
}

TEST_F(ExceptTest, FileOperationClasses)
{
    Expect(CReadExcept("x", ENOENT), "KOVZEF: error reading from x (error 5). ", 5);
    Expect(CWriteExcept("x", ENOENT), "KOVZEF: error writing to x (error 4). " + kEnoent, 4);
    Expect(COpenExcept("x", ENOENT), "KOVZEF: error opening x (error 6). " + kEnoent, 6);
    Expect(CCreateDirExcept("d", EACCES), "KOVZEF: can not create directory d (error 3). " + kEacces, 3);
    Expect(CChgModExcept("f", EACCES), "KOVZEF: can not set permissions for f (error 13). " + kEacces, 13);
    Expect(CChgDateExcept("f", EACCES), "KOVZEF: can not change date for f (error 14). " + kEacces, 14);
    Expect(CGetCwdExcept(ENOENT), "KOVZEF: can not get working directory  (error 17). " + kEnoent, 17);
    Expect(CReadLinkExcept("l", ENOENT), "KOVZEF: can not read link l (error 35). " + kEnoent, 35);
    Expect(CDecompExcept("f", ENOENT), "KOVZEF: error decompressing f", 11);
    Expect(CUnsupportedArchiveException("a.kox"), "KOVZEF: unsupported archive: a.kox", 1);
    Expect(CConversionExcept("n"), "KOVZEF: could not convert n to UTF8.", 47);
    Expect(CConversionExcept(), "KOVZEF: could not convert from UTF8 string", 47);
}

TEST_F(ExceptTest, ErrnoPlusHundredClasses)
{
    Expect(CStatExcept("f", EACCES), "KOVZEF: stat() failed for f (error 113). " + kEacces, 113);
    Expect(CAccessExcept("f", ENOENT), "KOVZEF: access() failed for f (error 102). " + kEnoent, 102);
    Expect(CChgDirExcept("d", ENOENT), "KOVZEF: can not change to dir d (error 102). " + kEnoent, 102);
    errno = EACCES;
    Expect(CStatExcept("g"), "KOVZEF: stat() failed for g (error 113). " + kEacces, 113);
}

TEST_F(ExceptTest, ClassesNoOperationRaises)
{
    Expect(CAddPrivilegeExcept(" more"), "KOVZEF: adding privileges failed. more", 49);
    Expect(CCompExcept("f"), "KOVZEF: error compressing f", 9);
    Expect(CSetFilePointerExcept(ENOENT), "KOVZEF: could not set position of file pointer. (error 52). " + kEnoent, 52);
    Expect(CGetFilePosExcept(ENOENT), "KOVZEF: could not get position of file pointer. (error 51). " + kEnoent, 51);
    Expect(CInvalidHandle(), "KOVZEF: invalid file handle specified", 50);
    Expect(CCreateLnkExcept("l", EACCES), "KOVZEF: can not create softlink l (error 36). " + kEacces, 36);
    Expect(CDiskSpaceExcept("/x"), "KOVZEF: error determining disk space for /x", 30);
    Expect(CSetFileAttrExcept("f", EACCES), "KOVZEF: setting file attributes failed forf (error 48). " + kEacces, 48);
}

TEST_F(ExceptTest, InvalidArchiveLeavesStatus)
{
    CApplication::Instance().SetExitStatus(0);
    const CInvalExcept e("a.kox");
    EXPECT_EQ(e.GetText(), "KOVZEF: invalid archive a.kox");
    EXPECT_EQ(e.GetCode(), 0u);
    EXPECT_EQ(Status(), 0);
    CApplication::Instance().SetExitStatus(40);
    const CInvalExcept f("b");
    EXPECT_EQ(Status(), 40);
}

TEST_F(ExceptTest, ManifestFailures)
{
    Expect(CInvalManifestExcept("d", 0, 0), "KOVZEF: error in processing the signed manifest file. \nDetail: d", 54);
    Expect(CInvalManifestExcept("d", SMF_EDIGEST, 0),
           "KOVZEF: invalid digest of archive file(s) (error 57).\nDetail: d", 57);
    Expect(CInvalManifestExcept("d", SMF_ELIBRARY, 0),
           "KOVZEF: error in loading the cryptographic library (error 56).\nDetail: d", 56);
    Expect(CInvalManifestExcept("d", SMF_EFILENOTFOUND, 0),
           "KOVZEF: at least one file was not signed (error 58).\nDetail: d", 58);
    Expect(CInvalManifestExcept("d", SMF_EBODY_NOT_EQUAL, 0),
           "KOVZEF: external manifest differs to internal content (error 55).\nDetail: d", 55);
    Expect(CInvalManifestExcept("d", SMF_ECRL, 42),
           "KOVZEF: error during certificate revocation check (error 61). SSF-RC: SSF_API_BAD_CRL\nDetail: d", 61);
    Expect(CInvalManifestExcept("d", SMF_EPARSE, 4),
           "KOVZEF: error in processing the signed manifest file (error 54). SMF-RC: SMF_EPARSE SSF-RC: "
           "SSF_API_NOMEMORY\nDetail: d",
           54);
    // Only the crypto code set: the manifest code 0 selects the generic text.
    Expect(CInvalManifestExcept("", 0, 1),
           "KOVZEF: error in processing the signed manifest file (error 54). SMF-RC: SMF_OK SSF-RC: "
           "SSF_API_NOSECTK\nDetail: ",
           54);
    // A negative sum counts as no code.
    Expect(CInvalManifestExcept("d", -5, 3), "KOVZEF: error in processing the signed manifest file. \nDetail: d", 54);
}

TEST_F(ExceptTest, SignatureFailure)
{
    Expect(CInvalSignatureExcept("bad", 22),
           "KOVZEF: error in signature verification (error 60). SSF-RC: SSF_API_UNKNOWN_SIGNER \nDetail: bad", 60);
}

TEST_F(ExceptTest, CaughtAsBase)
{
    try {
        throw COpenExcept("kovzef.log", ENOENT);
    } catch (CExcept& e) {
        EXPECT_EQ(e.GetCode(), 6u);
        const CUserInfo& info = e;
        EXPECT_EQ(info.GetText(), e.GetMessage());
    }
    EXPECT_EQ(Status(), 6);
}
