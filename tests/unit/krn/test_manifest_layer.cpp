// The manifest interface while no crypto library is part of the program.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "krn/snt/manifest.h"

TEST(ManifestLayer, InitReportsMissingCryptoLibrary)
{
    auto ctx = std::make_unique<ManifestContext>();
    EXPECT_EQ(ManifestInit(ctx.get(), nullptr, "SHA256", "PKCS7-TSTAMP", "SHA256"), SMF_ELIBRARY);
    EXPECT_EQ(ManifestGetSmfRc(ctx.get()), SMF_ELIBRARY);
    EXPECT_STRNE(ManifestGetLastError(ctx.get()), "");
    EXPECT_EQ(ManifestClearContext(ctx.get()), 0);
    EXPECT_STREQ(ManifestGetLastError(ctx.get()), "");
    // The context stays usable after clearing.
    EXPECT_EQ(ManifestInit(ctx.get(), "lib.so", nullptr, nullptr, nullptr), SMF_ELIBRARY);
    EXPECT_EQ(ManifestClearContext(ctx.get()), 0);
    EXPECT_EQ(ManifestShutdown(), 0);
}

TEST(ManifestLayer, FreshContextGetters)
{
    auto ctx = std::make_unique<ManifestContext>();
    EXPECT_STREQ(ManifestGetLastError(ctx.get()), "");
    EXPECT_STREQ(ManifestGetSigner(ctx.get()), "NULL");
    EXPECT_STREQ(ManifestGetSubject(ctx.get()), "NULL");
    EXPECT_STREQ(ManifestGetIssuer(ctx.get()), "NULL");
    EXPECT_EQ(ManifestGetContentLength(ctx.get()), 0u);
    EXPECT_EQ(ManifestGetSmfRc(ctx.get()), 0);
    EXPECT_EQ(ManifestGetSsfRc(ctx.get()), 0);
}

TEST(ManifestLayer, DefaultContextIsReleasedByShutdown)
{
    EXPECT_EQ(ManifestInit(nullptr, nullptr, "SHA256", "PKCS7-TSTAMP", "SHA256"), SMF_ELIBRARY);
    EXPECT_STRNE(ManifestGetLastError(nullptr), "");
    EXPECT_EQ(ManifestShutdown(), 0);
    EXPECT_STREQ(ManifestGetLastError(nullptr), "");
    EXPECT_EQ(ManifestShutdown(), 0);
}

TEST(ManifestLayer, FileOperationsFailAndReleaseTheName)
{
    auto ctx = std::make_unique<ManifestContext>();
    ManifestFile file{};
    file.context = ctx.get();
    file.name = static_cast<char*>(std::malloc(8));
    std::strcpy(file.name, "a.txt");
    file.nameLength = 5;
    EXPECT_NE(ManifestOpenFile(ctx.get(), &file, "a.txt", 5, 0), 0);
    EXPECT_NE(ManifestUpdateFile(&file, nullptr, 0), 0);
    EXPECT_NE(ManifestCloseFile(&file), 0);
    EXPECT_EQ(file.name, nullptr);
    EXPECT_EQ(file.nameLength, 0u);
    EXPECT_EQ(ManifestOpenFile(ctx.get(), nullptr, "a", 1, 0), SMF_EINVARG);
    ManifestClearContext(ctx.get());
}

TEST(ManifestLayer, ErrorNames)
{
    EXPECT_STREQ(SmfErrorName(0), "SMF_OK");
    EXPECT_STREQ(SmfErrorName(SMF_ESIGNATURE), "SMF_ESIGNATURE");
    EXPECT_STREQ(SmfErrorName(SMF_EDIGEST), "SMF_EDIGEST");
    EXPECT_STREQ(SmfErrorName(SMF_ELIBRARY), "SMF_ELIBRARY");
    EXPECT_STREQ(SmfErrorName(SMF_EFILENOTFOUND), "SMF_EFILENOTFOUND");
    EXPECT_STREQ(SmfErrorName(SMF_EBODY_NOT_EQUAL), "SMF_EBODY_NOT_EQUAL");
    EXPECT_STREQ(SmfErrorName(SMF_ECRL), "SMF_ECRL");
    EXPECT_STREQ(SmfErrorName(26), "SMF_ESIGNATURE_UNKNOWN");
    EXPECT_STREQ(SmfErrorName(27), "SMF_UNKNOWN_ERROR");
    EXPECT_STREQ(SmfErrorName(-1), "SMF_UNKNOWN_ERROR");

    EXPECT_STREQ(SmfSsfErrorName(0), "SSF_API_OK");
    EXPECT_STREQ(SmfSsfErrorName(16), "SSF_API_SECTK_FUNCTION_NOT_AVAIL");
    EXPECT_STREQ(SmfSsfErrorName(337), "SSF_API_TSTAMP_OUTSIDE_TSA_CERT_VALIDITY");
    EXPECT_STREQ(SmfSsfErrorName(14), "Unknown SSF-RC 0x0000000e");  // a gap in the table
    EXPECT_STREQ(SmfSsfErrorName(1000), "Unknown SSF-RC 0x000003e8");
}
