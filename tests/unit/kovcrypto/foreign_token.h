// A signature carrying the timestamp token of another signature: the token
// stands for other data, which a verifier must notice.
#pragma once

#include <gtest/gtest.h>
#include <openssl/cms.h>
#include <openssl/objects.h>

#include <string>

#include "tests/unit/kovcrypto/test_pki.h"

namespace kctest {

inline std::string WithForeignToken(const std::string& sig, const std::string& stampedOther)
{
    const unsigned char* p = U(stampedOther);
    CMS_ContentInfo* other = d2i_CMS_ContentInfo(nullptr, &p, L(stampedOther));
    p = U(sig);
    CMS_ContentInfo* cms = d2i_CMS_ContentInfo(nullptr, &p, L(sig));
    CMS_SignerInfo* from = sk_CMS_SignerInfo_value(CMS_get0_SignerInfos(other), 0);
    CMS_SignerInfo* to = sk_CMS_SignerInfo_value(CMS_get0_SignerInfos(cms), 0);
    const int idx = CMS_unsigned_get_attr_by_NID(from, NID_id_smime_aa_timeStampToken, -1);
    EXPECT_GE(idx, 0);
    CMS_unsigned_add1_attr(to, CMS_unsigned_get_attr(from, idx));
    unsigned char* der = nullptr;
    const int n = i2d_CMS_ContentInfo(cms, &der);
    std::string out(reinterpret_cast<char*>(der), static_cast<std::size_t>(n));
    OPENSSL_free(der);
    CMS_ContentInfo_free(cms);
    CMS_ContentInfo_free(other);
    return out;
}

}  // namespace kctest
