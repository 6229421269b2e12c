// Dynamic loader: loading, resolving and unloading a real library, failures
// (missing file, missing symbol, invalid handles) with their traces and the
// error information, a full table, paths at and beyond the buffer, and the
// path-keyed layer's reference counts.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "dl/dlux.h"
#include "trace/dptrc.h"
#include "trace/errinfo.h"
#include "tests/unit/scratch_dir.h"

namespace {

namespace fs = std::filesystem;

const std::string kLib = KOV_DL_TESTLIB;

class Dl : public ::testing::Test {
protected:
    void SetUp() override
    {
        trace_ = std::tmpfile();
        ASSERT_NE(trace_, nullptr);
        savedLevel_ = ct_level;
        savedTf_ = tf;
        ct_level = 3;
        tf = trace_;
    }
    void TearDown() override
    {
        ct_level = savedLevel_;
        tf = savedTf_;
        std::fclose(trace_);
    }
    std::string Trace()
    {
        std::fflush(trace_);
        std::rewind(trace_);
        std::string s;
        for (int c; (c = std::fgetc(trace_)) != EOF;)
            s += static_cast<char>(c);
        return s;
    }
    static bool LibStillLoaded(const std::string& path)
    {
        void* h = dlopen(path.c_str(), RTLD_LAZY | RTLD_NOLOAD);
        if (h)
            dlclose(h);
        return h != nullptr;
    }
    // A directory of its own under the test's scratch area.
    static fs::path Scratch(const std::string& name)
    {
        fs::path dir = fs::absolute(KovTestTmp()) / name;
        fs::remove_all(dir);
        fs::create_directories(dir);
        return dir;
    }

    FILE* trace_ = nullptr;
    int32_t savedLevel_ = 0;
    DpTrcHdl savedTf_ = nullptr;
};

TEST_F(Dl, LoadResolveUnloadAndInvalidHandles)
{
    DL_HDL h = 99;
    ASSERT_EQ(DlLoadLib(kLib.c_str(), &h), DL_OK);
    ASSERT_GE(h, 0);
    ASSERT_LT(h, DL_MAX_LIBS);
    DL_FUNC f = nullptr;
    ASSERT_EQ(DlLoadFunc(h, "kovdl_add", nullptr, &f), DL_OK);
    EXPECT_EQ(reinterpret_cast<int (*)(int, int)>(f)(2, 3), 5);
    EXPECT_EQ(DlLoadFunc(h, "kovdl_no_such_symbol", nullptr, &f), DLENOACCESS);
    EXPECT_NE(Trace().find("DlLoadFunc: dlsym(kovdl_no_such_symbol)= "), std::string::npos);

    const DL_HDL old = h;
    ASSERT_EQ(DlUnloadLib(&h), DL_OK);
    EXPECT_EQ(h, DL_NO_HDL);
    EXPECT_FALSE(LibStillLoaded(kLib));
    EXPECT_EQ(DlUnloadLib(&h), DLEINVAL);
    EXPECT_EQ(DlLoadFunc(old, "kovdl_add", nullptr, &f), DLEINVAL);
    EXPECT_EQ(DlLoadFunc(DL_MAX_LIBS, "kovdl_add", nullptr, &f), DLEINVAL);
    EXPECT_EQ(DlUnloadLib(nullptr), DLEINVAL);
    EXPECT_NE(Trace().find("DlLoadFunc: invalid handle (" + std::to_string(old) + ")"), std::string::npos);
    EXPECT_NE(Trace().find("DlUnloadLib: invalid handle (-1)"), std::string::npos);
    EXPECT_EQ(DlLoadLib(nullptr, &h), DLEINVAL);
    EXPECT_EQ(h, DL_NO_HDL);
}

TEST_F(Dl, MissingLibrarySetsTheErrorInformation)
{
    ErrClear();
    DL_HDL h = 7;
    // A "%" in the path must reach the record as text, not act as a conversion.
    const std::string path = "/nonexistent-kov/100%s%n.so";
    ASSERT_EQ(DlLoadLib(path.c_str(), &h), DLENOACCESS);
    EXPECT_EQ(h, DL_NO_HDL);
    ASSERT_EQ(ErrIsSet(), 1);
    EXPECT_STREQ(ErrGetFld(4), "DL (Dynamic Loader)");
    EXPECT_STREQ(ErrGetFld(6), "4");
    EXPECT_STREQ(ErrGetFld(3), "-2");
    EXPECT_STREQ(ErrGetFld(2), "DlLoadLib()==DLENOACCESS");
    const std::string detail = ErrGetFld(9);
    EXPECT_EQ(detail.rfind("dlopen(\"" + path + "\") FAILED\n  \"", 0), 0u) << detail;
    EXPECT_NE(Trace().find("DlLoadLib()==DLENOACCESS - dlopen(\"" + path + "\") FAILED"), std::string::npos);
}

// The 65th library is refused and no loaded entry is overwritten.
TEST_F(Dl, FullTableIsAnError)
{
    std::vector<DL_HDL> handles;
    for (int i = 0; i < DL_MAX_LIBS; ++i) {
        DL_HDL h;
        ASSERT_EQ(DlLoadLib(kLib.c_str(), &h), DL_OK) << i;
        handles.push_back(h);
    }
    DL_HDL extra = 5;
    EXPECT_EQ(DlLoadLib(kLib.c_str(), &extra), DLENOHANDLE);
    EXPECT_EQ(extra, DL_NO_HDL);
    EXPECT_NE(Trace().find("DlLoadLib: no free handle (max 64)"), std::string::npos);
    for (DL_HDL h : handles) {
        DL_FUNC f = nullptr;
        ASSERT_EQ(DlLoadFunc(h, "kovdl_add", nullptr, &f), DL_OK) << h;
    }
    for (DL_HDL& h : handles)
        ASSERT_EQ(DlUnloadLib(&h), DL_OK);
    EXPECT_FALSE(LibStillLoaded(kLib));
    ASSERT_EQ(DlLoadLib(kLib.c_str(), &extra), DL_OK);
    EXPECT_EQ(DlUnloadLib(&extra), DL_OK);
}

// A path of 255 characters loads; one of 256 is refused whole, although its
// first 255 characters name a library that would load.
TEST_F(Dl, PathBeyondTheBufferIsRefusedNotCut)
{
    fs::path dir = Scratch("longpaths");
    while (DL_PATH_MAX - dir.string().size() - 1 > 200) {
        dir /= std::string(100, 'd');
        fs::create_directory(dir);
    }
    const fs::path p255 = dir / std::string(DL_PATH_MAX - dir.string().size() - 1, 'l');
    ASSERT_EQ(p255.string().size(), size_t(DL_PATH_MAX));
    fs::create_symlink(kLib, p255);
    const std::string p256 = p255.string() + "x";

    DL_HDL h;
    EXPECT_EQ(DlLoadLib(p256.c_str(), &h), DLEINVAL);
    EXPECT_EQ(h, DL_NO_HDL);
    EXPECT_NE(Trace().find("DlLoadLib: path too long (max 256)"), std::string::npos);
    ASSERT_EQ(DlLoadLib(p255.c_str(), &h), DL_OK);
    EXPECT_NE(Trace().find("DlLoadLib() success: dlopen(\"" + p255.string() + "\")"), std::string::npos);
    EXPECT_EQ(DlUnloadLib(&h), DL_OK);
}

TEST_F(Dl, PathKeyedLayerCountsReferences)
{
    EXPECT_EQ(DlxxLoadAndCall(nullptr, kLib.c_str()), nullptr);
    EXPECT_EQ(DlxxLoadAndCall("kovdl_entry", nullptr), nullptr);
    EXPECT_EQ(DlxxUnload(kLib.c_str()), DLEUNLOAD);

    auto* calls = static_cast<int*>(DlxxLoadAndCall("kovdl_entry", kLib.c_str()));
    ASSERT_NE(calls, nullptr);
    EXPECT_EQ(*calls, 1);
    EXPECT_EQ(DlxxLoadAndCall("kovdl_entry", kLib.c_str()), calls);
    EXPECT_EQ(*calls, 2);
    // A failing call on a library already loaded keeps it loaded.
    EXPECT_EQ(DlxxLoadAndCall("kovdl_missing", kLib.c_str()), nullptr);
    EXPECT_EQ(DlxxUnload(kLib.c_str()), DL_OK);
    EXPECT_TRUE(LibStillLoaded(kLib));
    EXPECT_EQ(DlxxUnload(kLib.c_str()), DL_OK);
    EXPECT_FALSE(LibStillLoaded(kLib));
    EXPECT_EQ(DlxxUnload(kLib.c_str()), DLEUNLOAD);

    // A missing symbol or a NULL result unloads a library loaded for the call.
    EXPECT_EQ(DlxxLoadAndCall("kovdl_missing", kLib.c_str()), nullptr);
    EXPECT_FALSE(LibStillLoaded(kLib));
    EXPECT_EQ(DlxxLoadAndCall("kovdl_null_entry", kLib.c_str()), nullptr);
    EXPECT_FALSE(LibStillLoaded(kLib));
    EXPECT_EQ(DlxxUnload(kLib.c_str()), DLEUNLOAD);

    EXPECT_EQ(DlxxLoadAndCall("kovdl_entry", (std::string(128, '/')).c_str()), nullptr);
    EXPECT_NE(Trace().find("DlLoadLib: path too long (max 128)"), std::string::npos);

    // 32 paths fill the table; the 33rd is refused.
    const fs::path dir = Scratch("paths");
    std::vector<std::string> paths;
    for (int i = 0; i <= DLXX_MAX_LIBS; ++i) {
        paths.push_back((dir / ("lib" + std::to_string(i) + ".so")).string());
        fs::create_symlink(kLib, paths.back());
    }
    for (int i = 0; i < DLXX_MAX_LIBS; ++i)
        ASSERT_NE(DlxxLoadAndCall("kovdl_entry", paths[i].c_str()), nullptr);
    EXPECT_EQ(DlxxLoadAndCall("kovdl_entry", paths[DLXX_MAX_LIBS].c_str()), nullptr);
    EXPECT_NE(Trace().find("DlLoadLib: no free handle (max 32)"), std::string::npos);
    for (int i = 0; i < DLXX_MAX_LIBS; ++i)
        ASSERT_EQ(DlxxUnload(paths[i].c_str()), DL_OK);
    EXPECT_FALSE(LibStillLoaded(kLib));

    EXPECT_EQ(DlxxMapRc(0), DL_OK);
    EXPECT_EQ(DlxxMapRc(-2), DLEMAPPED);
}

}  // namespace
