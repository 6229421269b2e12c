// Path joining of the run-time Unicode loader: one slash between the parts,
// the limit of the path buffer, and a directory that lies in the output.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "i18n/kovu16/nlsui_icu.h"

namespace {

TEST(NlsuiPaths, JoinAndLimits)
{
    char out[4097];
    nlsui_joinPath("/opt/lib/", "x.so", out);
    EXPECT_STREQ(out, "/opt/lib/x.so");
    nlsui_joinPath("/opt/lib", "x.so", out);
    EXPECT_STREQ(out, "/opt/lib/x.so");
    nlsui_joinPath("", "x.so", out);
    EXPECT_STREQ(out, "x.so");
    // The joined path and its terminator must fit 4,097 bytes.
    nlsui_joinPath(std::string(4090, 'd').c_str(), "abcde", out);
    EXPECT_STREQ(out, (std::string(4090, 'd') + "/abcde").c_str());
    testing::internal::CaptureStderr();
    nlsui_joinPath(std::string(4091, 'd').c_str(), "abcde", out);
    EXPECT_STREQ(out, "");
    EXPECT_NE(testing::internal::GetCapturedStderr().find("exceeds MAX_PATH_LN"), std::string::npos);
    // The directory may be the output buffer itself.
    std::strcpy(out, "/usr/lib");
    nlsui_joinPath(out, "y.so", out);
    EXPECT_STREQ(out, "/usr/lib/y.so");

    EXPECT_EQ(nlsui_setIcuPath(std::string(5000, 'p').c_str()), 34);
    EXPECT_EQ(nlsui_setIcuPath("/opt/icu"), 0);
    EXPECT_STREQ(nlsui_icuLibInfo()->i18nLib, "libicui18n.so.34");
}

}  // namespace
