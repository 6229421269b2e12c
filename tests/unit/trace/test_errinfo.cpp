// The error-information record: setting, reading, replacing, the network
// form, message texts and the printed forms.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "nls/nlsui.h"
#include "trace/errinfo.h"
#include "trace_test_util.h"
#include "tests/unit/scratch_dir.h"

namespace {

std::string Record()
{
    char* rec = nullptr;
    unsigned len = 0;
    ErrGetAttr(&rec, &len);
    return std::string(rec, len);
}

std::string Field(int n)
{
    return ErrGetFld(n);
}

class ErrInfo : public testing::Test {
protected:
    void SetUp() override
    {
        ct_level = 0;
        ErrSetMsgNoLen(0);
        ErrClear();
        ErrSetLocation("%s", "");
    }
};

}  // namespace

TEST_F(ErrInfo, SetFieldsCounterAndLimits)
{
    ASSERT_EQ(ErrSet("NI (network interface)", 40, "nixxi", 4658, "%s failed", -8, "%s: invalid hdl %d", "NiRead",
                     "NiGetHdlTblIdx", 7),
              0);
    EXPECT_EQ(Field(0), "*ERR*");
    EXPECT_EQ(Field(1), "1");
    EXPECT_EQ(Field(2), "NiRead failed");
    EXPECT_EQ(Field(3), "-8");
    EXPECT_EQ(Field(4), "NI (network interface)");
    EXPECT_EQ(Field(5), "720");
    EXPECT_EQ(Field(6), "40");
    EXPECT_EQ(Field(9), "NiGetHdlTblIdx: invalid hdl 7");
    EXPECT_EQ(Field(11), "");
    EXPECT_EQ(Field(12), "");
    EXPECT_EQ(Field(17), "");  // no message number: no argument texts
    EXPECT_EQ(Field(20), "*ERR*");
    EXPECT_EQ(Field(21), "");
    const int counter = std::stoi(Field(14));

    ASSERT_EQ(ErrSetSys("DL (Dynamic Loader)", 4, nullptr, 0, 0, "%s", 0, "%s: %d%%", "connect", ENOENT, "a", "b", 9),
              0);
    EXPECT_EQ(Field(2), "a");
    EXPECT_EQ(Field(3), "");  // rc 0, version and line 0: empty, not "0"
    EXPECT_EQ(Field(8), "");
    EXPECT_EQ(Field(9), "b: 9%");
    EXPECT_EQ(Field(11), "connect");
    EXPECT_EQ(Field(12), "2");
    EXPECT_EQ(Field(13), std::strerror(ENOENT));
    EXPECT_EQ(Field(17), "a");  // the system form keeps argument texts
    EXPECT_EQ(Field(19), "b;;;;9");
    EXPECT_EQ(std::stoi(Field(14)), counter + 1);
    ErrClear();
    EXPECT_EQ(ErrIsSet(), 0);

    // Exactly 500 bytes are accepted, one more is refused and leaves nothing.
    ASSERT_EQ(ErrSet("C", 0, "", 0, "x", 0, ""), 0);
    const size_t base = Record().size() - 1;  // without the one-character description
    const std::string fill(500 - base, 'd');
    EXPECT_EQ(ErrSet("C", 0, "", 0, fill.c_str(), 0, ""), 0);
    EXPECT_EQ(Record().size(), 500u);
    EXPECT_EQ(ErrSet("C", 0, "", 0, (fill + "d").c_str(), 0, ""), -1);
    EXPECT_EQ(ErrIsSet(), 0);
    // A template far beyond the limit is cut cleanly, never left with an open
    // conversion, and still reported as too large.
    std::string huge(498, 'h');
    huge += "%d";
    EXPECT_EQ(ErrSet("C", 0, "", 0, huge.c_str(), 0, "", 5), -1);

    // Message numbers of width 3.
    ASSERT_EQ(ErrSetMsgNoLen(11), -4);
    ASSERT_EQ(ErrSetMsgNoLen(3), 0);
    ASSERT_EQ(ErrSet("C", 1, "m", 1, "(042)reach %s (%d)", 1, "()plain %s", "alpha", 7, "x"), 0);
    EXPECT_EQ(Field(2), "reach alpha (7)");
    EXPECT_EQ(Field(16), "042");
    EXPECT_EQ(Field(17), "alpha;;;;7");
    EXPECT_EQ(Field(9), "()plain x");
    EXPECT_EQ(Field(18), "");
    ErrSetMsgNoLen(0);
}

TEST_F(ErrInfo, ReplaceAndHelpers)
{
    ASSERT_EQ(ErrReplace(3, 5), -2);
    ASSERT_EQ(ErrSet("C", 1, "m", 2, "d", 3, "t"), 0);
    const std::string before = Record();
    EXPECT_EQ(ErrReplace(10, "x"), -3);
    EXPECT_EQ(ErrReplace(20, "x"), -3);
    EXPECT_EQ(ErrReplace(1, "x"), -3);
    EXPECT_EQ(Record(), before);
    EXPECT_EQ(ErrReplace(12, 0), 0);
    EXPECT_EQ(Field(12), "0");
    EXPECT_EQ(Field(13), "");
    EXPECT_EQ(ErrReplace(12, EACCES), 0);
    EXPECT_EQ(Field(13), std::strerror(EACCES));
    EXPECT_EQ(ErrReplace(2, "%s failed", "x"), 0);
    EXPECT_EQ(Field(2), "x failed");
    EXPECT_EQ(Field(16), "");
    EXPECT_EQ(ErrReplace(4, "NEW COMP"), 0);
    EXPECT_EQ(Field(4), "NEW COMP");
    EXPECT_EQ(ErrReplace(15, "at %d", 9), 0);
    EXPECT_EQ(Field(15), "at 9");
    // A replacement that would pass 500 bytes leaves the record unchanged.
    const std::string now = Record();
    const std::string big(500, 'b');
    EXPECT_EQ(ErrReplace(7, big.c_str()), -1);
    EXPECT_EQ(Record(), now);
    // A length that cuts off the final eyecatcher.
    ErrSetLength(static_cast<unsigned>(now.size() - 3));
    const char* c = nullptr;
    EXPECT_EQ(ErrGet(&c, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                     nullptr, nullptr, nullptr),
              -6);
    EXPECT_STREQ(c, "");
    EXPECT_EQ(ErrSetLength(501), -4);
    // Lengths shorter than the look-back are refused, not read around.
    ErrSetLength(3);
    EXPECT_EQ(ErrGet(&c, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                     nullptr, nullptr, nullptr),
              -6);
    ErrClear();

    char q[8] = "50%";
    EXPECT_STREQ(ErrQuotePercent(q, q, 4), "50");
    std::strcpy(q, "50%");
    EXPECT_STREQ(ErrQuotePercent(q, q, 5), "50%%");
    EXPECT_EQ(ErrQuotePercent(q, q, 0), nullptr);
    char e[10];
    ErrGetErrnoTxt(2, e, sizeof e);
    EXPECT_STREQ(e, "(2) - err");
    EXPECT_STREQ(ErrGetErrnoTxt(0, e, sizeof e), "");
    char v[64];
    ErrVargsFormat(v, "%s: invalid hdl %d %% %5.2f");
    EXPECT_STREQ(v, "%s;;;;%d;;;;%5.2f");
    char loc[8];
    ErrSetLocation("%s:%d", "here", 1);
    EXPECT_STREQ(ErrGetLocation(), "here:1");
    ErrGetRelease(loc, 3);
    EXPECT_STREQ(loc, "72");
}

TEST_F(ErrInfo, NetworkFormRoundTripsAndHostileInput)
{
    ASSERT_EQ(ErrSet("C", 1, "m", 2, "d", 3, "caf\xE4"), 0);
    const std::string rec = Record();
    char net[ERR_MAX_RECORD];
    unsigned n = 0;
    EXPECT_EQ(ErrCpToNet(net, &n, static_cast<unsigned>(rec.size() - 1)), -8);
    ASSERT_EQ(ErrCpToNet(net, &n, static_cast<unsigned>(rec.size())), 0);
    ASSERT_EQ(n, rec.size());
    ErrClear();
    ASSERT_EQ(ErrCpNetToInt(net, n), 0);
    EXPECT_EQ(Field(9), "caf#");
    EXPECT_EQ(Field(2), "d");

    // The same record in EBCDIC.
    std::string ebc(Record());
    nlsui_l12e_mem(ebc.data(), Record().data(), static_cast<int32_t>(ebc.size()));
    const std::string plain = Record();
    ErrClear();
    ASSERT_EQ(ErrCpNetToInt(ebc.data(), static_cast<unsigned>(ebc.size())), 0);
    EXPECT_EQ(Record(), plain);

    // Too large keeps the current record; bad eyecatchers and wrong field
    // counts leave none.
    std::string big(501, 'x');
    EXPECT_EQ(ErrCpNetToInt(big.data(), 501), -1);
    EXPECT_EQ(Record(), plain);
    std::string bad = plain;
    bad[bad.size() - 3] = '?';
    EXPECT_EQ(ErrCpNetToInt(bad.data(), static_cast<unsigned>(bad.size())), -6);
    EXPECT_EQ(ErrIsSet(), 0);
    const std::string few = std::string("*ERR*\0a\0*ERR*\0", 14);
    EXPECT_EQ(ErrCpNetToInt(few.data(), static_cast<unsigned>(few.size())), -6);
    std::string many;
    many.reserve(plain.size() + 1);
    many.append(plain, 0, 7);
    many.push_back('\0');
    many.append(plain, 7, std::string::npos);
    // More fields than 21 with good eyecatchers are taken over and read
    // (they were refused as incomplete and then as destroyed).
    ASSERT_EQ(ErrCpNetToInt(many.data(), static_cast<unsigned>(many.size())), 0);
    EXPECT_EQ(Record(), many);
    const char *error = nullptr, *rc = nullptr;
    EXPECT_EQ(ErrGetAll(nullptr, nullptr, nullptr, nullptr, &error, &rc, nullptr, nullptr, nullptr, nullptr, nullptr,
                        nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr),
              0);
    EXPECT_STREQ(error, "");
    EXPECT_STREQ(rc, "d");
    EXPECT_EQ(Field(3), "d");
    for (unsigned len = 0; len < 8; ++len)
        EXPECT_EQ(ErrCpNetToInt("*ERR*\0\0", len), -6) << len;
    EXPECT_EQ(ErrGetFld(3), std::string());

    // Copies out and in: the taken record gets the layer's next counter.
    ASSERT_EQ(ErrCpNetToInt(plain.data(), static_cast<unsigned>(plain.size())), 0);
    char area[ERR_MAX_RECORD];
    EXPECT_EQ(ErrCpFrom(area, 4), -1);
    ASSERT_EQ(ErrCpFrom(area, sizeof area), 0);
    ErrSet("C", 0, "", 0, "", 0, "");
    const int next = std::stoi(Field(14)) + 1;
    ASSERT_EQ(ErrCpTo(area, static_cast<unsigned>(plain.size())), 0);
    EXPECT_EQ(std::stoi(Field(14)), next);
    EXPECT_EQ(ErrCpTo(area, 3), -6);
    ErrClear();
    EXPECT_EQ(ErrCpFrom(area, 0), 0);
}

TEST_F(ErrInfo, MessageFileLookupAndMerge)
{
    const std::string dir = KovTestTmp();
    (void)!std::system(("mkdir -p " + dir).c_str());
    const std::string path = dir + "/errmsg";
    FILE* f = std::fopen(path.c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fputs("Dxxnot this language\n", f);
    std::fputs("E\n", f);  // malformed: no number
    std::fputs("E42Cannot reach &1 (&2)\n", f);
    std::fputs("E43& and & and &\n", f);
    std::fputs("E44&3 / &4 / &9\n", f);
    std::fputs(("E45" + std::string(300, 'L') + "\n").c_str(), f);
    std::fclose(f);
    ASSERT_EQ(ErrSetMsgFile(path.c_str()), 0);
    char buf[16];
    EXPECT_EQ(ErrGetTxt("4", 'E', buf, sizeof buf), 1);  // prefix test: line 42 first
    EXPECT_STREQ(buf, "2Cannot reach &");
    EXPECT_EQ(ErrGetTxt("45", 'E', buf, sizeof buf), 1);
    EXPECT_EQ(std::string(buf), std::string(15, 'L'));
    EXPECT_EQ(ErrGetTxt("99", 'E', buf, sizeof buf), 0);
    EXPECT_EQ(ErrGetTxt("42", 'F', buf, sizeof buf), 0);

    std::string out(ErrMergeLen("& and &", "a;;;;b") + 1, '?');
    ErrMergeTxt(out.data(), "& and &", "a;;;;b");
    EXPECT_STREQ(out.c_str(), "a and b");
    const char* text = "&1&1&1&1 &";
    const std::string vargs(200, 'v');
    std::string merged(ErrMergeLen(text, vargs.c_str()) + 1, '?');
    ErrMergeTxt(merged.data(), text, vargs.c_str());
    EXPECT_EQ(std::strlen(merged.c_str()), 5 * vargs.size() + 1);

    ErrSetMsgNoLen(2);
    ASSERT_EQ(ErrSet("C", 1, "m", 1, "(42)reach %s (%d)", 1, "(43)%s %s", "alpha", 7, "x", "y"), 0);
    const char *error = nullptr, *detail = nullptr;
    ASSERT_EQ(ErrGetLang('E', nullptr, nullptr, nullptr, nullptr, &error, nullptr, &detail, nullptr, nullptr, nullptr,
                         nullptr, nullptr, nullptr, nullptr),
              0);
    EXPECT_STREQ(error, "Cannot reach alpha (7)");
    EXPECT_STREQ(detail, "x and y and ");
    EXPECT_EQ(std::string(ErrGetFldLang(2, 'E')), "Cannot reach alpha (7)");
    ASSERT_EQ(ErrSet("C", 1, "m", 1, "(44)%s %s", 1, "", "p", "q"), 0);
    EXPECT_EQ(std::string(ErrGetFldLang(2, 'E')), " /  / ");
    EXPECT_EQ(std::string(ErrGetFldLang(2, 'F')), "p q");  // no text: the record's own
    ErrSetMsgNoLen(0);
}

TEST_F(ErrInfo, PrintedForms)
{
    char out[1000] = "";
    std::string words;
    for (int i = 0; i < 10; ++i)
        words += "wordword" + std::to_string(i) + (i < 9 ? " " : "");
    ErrFmtField("*  ", "DETAIL", words.c_str(), out, sizeof out);
    EXPECT_STREQ(out, "*  DETAIL      wordword0 wordword1 wordword2 wordword3 wordword4 wordword5\n"
                      "*              wordword6 wordword7 wordword8 wordword9\n");
    out[0] = '\0';
    ErrFmtField("\n", "DETAIL", (std::string(70, 'n') + "\nsecond").c_str(), out, sizeof out);
    EXPECT_EQ(std::string(out),
              "\nDETAIL      " + std::string(62, 'n') + "\n            nnnnnnnn\n" + std::string(12, ' ') + "second\n");
    char tiny[20] = "";
    ErrFmtField("*  ", "LABEL", "a value much longer than the buffer", tiny, sizeof tiny);
    EXPECT_EQ(std::strlen(tiny), 19u);

    ASSERT_EQ(ErrSet("COMP", 0, "mod", 12, "went wrong", -8, "detail text"), 0);
    const std::string time = Field(10);
    const std::string counter = Field(14);
    EXPECT_EQ(std::string(ErrFormat()), "\nERROR       went wrong\nTIME        " + time +
                                            "\nRELEASE     720\nCOMPONENT   COMP\nRC          -8\n"
                                            "MODULE      mod\nLINE        12\nDETAIL      detail text\n"
                                            "COUNTER     " +
                                            counter + "\n");
    ScratchStream s;
    ct_level = 0;
    EXPECT_EQ(ErrTrace(tf), 0);
    ct_level = 1;
    ct_time_res = 0;
    ASSERT_EQ(ErrTrace(s.f), 0);
    const std::string stars(77, '*');
    EXPECT_EQ(s.Take(), "\n" + stars + "\n*\n*  ERROR       went wrong\n*\n*  TIME        " + time +
                            "\n*  RELEASE     720\n*  COMPONENT   COMP\n*  RC          -8\n*  MODULE      mod\n"
                            "*  LINE        12\n*  DETAIL      detail text\n*  COUNTER     " +
                            counter + "\n*\n" + stars + "\n\n");
    ErrClear();
    EXPECT_STREQ(ErrFormat(), "");
    ct_time_res = 1;
    ct_level = 0;
}
