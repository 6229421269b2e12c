// Digests, HMAC and PBKDF2: the published vectors, a sweep of random inputs
// against Python's hashlib/hmac/binascii, and the state rules (use after
// finishing, length overflow, name lookup).
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "crypto/hablocks.h"
#include "crypto/hadigest.h"
#include "tests/unit/crypto/crypto_test_util.h"

namespace {

std::string Lower(std::string s)
{
    for (auto& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

using cryptotest::Hex;

std::string DigestHex(uint32_t id, const std::string& msg)
{
    haState_t st;
    EXPECT_EQ(haDigest(&st, msg.data(), msg.size(), id, 1, 0), HA_OK);
    return Lower(st.hex);
}

std::string HmacHex(uint32_t id, const std::string& key, const std::string& msg)
{
    haState_t st;
    EXPECT_EQ(haHmac(id, msg.data(), msg.size(), key.data(), key.size(), 1, 0, &st), HA_OK);
    return Lower(st.hex);
}

std::string Pbkdf2Hex(uint32_t id, const std::string& pw, const std::string& salt, uint32_t iter, uint32_t n)
{
    std::vector<uint8_t> out(n);
    EXPECT_EQ(haPbkdf2(id, pw.data(), pw.size(), salt.data(), salt.size(), iter, n, out.data()), HA_OK);
    return Hex(out.data(), n);
}

TEST(Digests, PublishedVectors)
{
    const std::string abc = "abc", two = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
    const std::string four = "abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrl"
                             "mnopqrsmnopqrstnopqrstu";
    const std::string million(1000000, 'a');
    EXPECT_EQ(DigestHex(HA_MD5, ""), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(DigestHex(HA_MD5, "message digest"), "f96b697d7cb7938d525a2f31aaf161d0");
    EXPECT_EQ(DigestHex(HA_MD5, "12345678901234567890123456789012345678901234567890123456789012345678901234567890"),
              "57edf4a22be3c955ac49da2e2107b67a");
    EXPECT_EQ(DigestHex(HA_SHA1, abc), "a9993e364706816aba3e25717850c26c9cd0d89d");
    EXPECT_EQ(DigestHex(HA_SHA1, two), "84983e441c3bd26ebaae4aa1f95129e5e54670f1");
    EXPECT_EQ(DigestHex(HA_SHA1, million), "34aa973cd4c4daa4f61eeb2bdbad27316534016f");
    EXPECT_EQ(DigestHex(HA_SHA256, abc), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(DigestHex(HA_SHA256, two), "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    EXPECT_EQ(DigestHex(HA_SHA256, million), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
    EXPECT_EQ(DigestHex(HA_SHA384, abc),
              "cb00753f45a35e8bb5a03d699ac65007272c32ab0eded1631a8b605a43ff5bed8086072ba1e7cc2358baeca134c825a7");
    EXPECT_EQ(DigestHex(HA_SHA384, four),
              "09330c33f71147e83d192fc782cd1b4753111b173b3b05d22fa08086e3b0f712fcc7c71a557e2db966c3e9fa91746039");
    EXPECT_EQ(DigestHex(HA_SHA384, million),
              "9d0e1809716474cb086e834e310a4a1ced149e9c00f248527972cec5704c2a5b07b8b3dc38ecc4ebae97ddd87f3d8985");
    EXPECT_EQ(DigestHex(HA_SHA512, abc),
              "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a2192992a274fc1a836ba3c23a3feebbd"
              "454d4423643ce80e2a9ac94fa54ca49f");
    EXPECT_EQ(DigestHex(HA_SHA512, four),
              "8e959b75dae313da8cf4f72814fc143f8f7779c6eb9f7fa17299aeadb6889018501d289e4900f7e4331b99dec4b5433a"
              "c7d329eeb6dd26545e96e55b874be909");
    EXPECT_EQ(DigestHex(HA_SHA512, million),
              "e718483d0ce769644e2e42c7bc15b4638e1f98b13b2044285632a803afa973ebde0ff244877ea60a4cb0432ce577c31b"
              "eb009c5c2c49aa2e4eadb217ad8cc09b");
    // CRC-32 comes out most significant byte first; the running value after
    // each update is the standard CRC of everything so far.
    EXPECT_EQ(DigestHex(HA_CRC32, "123456789"), "cbf43926");
    haState_t st;
    ASSERT_EQ(haInit(&st, HA_CRC32), HA_OK);
    ASSERT_EQ(haUpdate(&st, "12345", 5), HA_OK);
    ASSERT_EQ(haUpdate(&st, "6789", 4), HA_OK);
    ASSERT_EQ(haFinal(&st), HA_OK);
    EXPECT_EQ(Hex(st.digest, 4), "cbf43926");

    // SHA-512 Base64 text: 88 characters ending in "==".
    ASSERT_EQ(haDigest(&st, abc.data(), 3, HA_SHA512, 1, 1), HA_OK);
    EXPECT_EQ(st.base64Len, 88u);
    EXPECT_EQ(std::strlen(st.base64), 88u);
    EXPECT_STREQ(st.base64 + 86, "==");
    EXPECT_EQ(st.hexLen, 128u);
}

TEST(Digests, HmacAndPbkdf2Vectors)
{
    const std::string k20(20, '\x0b'), k16(16, '\x0b'), k131(131, '\xaa');
    EXPECT_EQ(HmacHex(HA_MD5, k16, "Hi There"), "9294727a3638bb1c13f48ef8158bfc9d");
    EXPECT_EQ(HmacHex(HA_MD5, "Jefe", "what do ya want for nothing?"), "750c783e6ab0b503eaa86e310a5db738");
    EXPECT_EQ(HmacHex(HA_SHA1, k20, "Hi There"), "b617318655057264e28bc0b6fb378c8ef146be00");
    EXPECT_EQ(HmacHex(HA_SHA1, "Jefe", "what do ya want for nothing?"), "effcdf6ae5eb2fa2d27416d5f184df9c259a7c79");
    EXPECT_EQ(HmacHex(HA_SHA256, k20, "Hi There"), "b0344c61d8db38535ca8afceaf0bf12b881dc200c9833da726e9376c2e32cff7");
    EXPECT_EQ(HmacHex(HA_SHA256, k131, "Test Using Larger Than Block-Size Key - Hash Key First"),
              "60e431591ee0b67f0d8a26aacbf5b77f8e0bc6213728c5140546040f0ee37f54");
    EXPECT_EQ(HmacHex(HA_SHA512, k20, "Hi There"),
              "87aa7cdea5ef619d4ff0b4241a1d6cb02379f4e2ce4ec2787ad0b30545e17cdedaa833b7d6b8a702038b274eaea3f4e4"
              "be9d914eeb61f1702e696c203a126854");
    EXPECT_EQ(Pbkdf2Hex(HA_SHA1, "password", "salt", 1, 20), "0c60c80f961f0e71f3a9b524af6012062fe037a6");
    EXPECT_EQ(Pbkdf2Hex(HA_SHA1, "password", "salt", 2, 20), "ea6c014dc72d6f8ccd1ed92ace1d41f0d8de8957");
    EXPECT_EQ(Pbkdf2Hex(HA_SHA1, "password", "salt", 4096, 20), "4b007901b765489abead49d926f721d065a429c1");
    EXPECT_EQ(Pbkdf2Hex(HA_SHA1, "passwordPASSWORDpassword", "saltSALTsaltSALTsaltSALTsaltSALTsalt", 4096, 25),
              "3d2eec4fe41c849b80c8d83662c0e44a8b291a964cf2f07038");
    EXPECT_EQ(Pbkdf2Hex(HA_SHA1, std::string("pass\0word", 9), std::string("sa\0lt", 5), 4096, 16),
              "56fa6aa75548099dcc37d7f03425e0c3");
    // Too many blocks (and a derived length of 0) are refused before any work.
    uint8_t out[1];
    EXPECT_EQ(haPbkdf2(HA_SHA256, "p", 1, "s", 1, 1, 65535u * 32 + 1, out), HA_ETOOLONG);
    EXPECT_EQ(haPbkdf2(HA_SHA256, "p", 1, "s", 1, 1, 0, out), HA_ETOOLONG);
    EXPECT_EQ(haPbkdf2(0x1234, "p", 1, "s", 1, 1, 1, out), HA_EALG);
    // The fixed one-shots agree with the general HMAC.
    uint8_t mac[32];
    ASSERT_EQ(haHmacSha256("Hi There", 8, k20.data(), k20.size(), mac), HA_OK);
    EXPECT_EQ(Hex(mac, 32), HmacHex(HA_SHA256, k20, "Hi There"));
    EXPECT_EQ(haHmacSha256(nullptr, 8, k20.data(), k20.size(), mac), HA_EPARAM);
    EXPECT_EQ(haHmacSha256("x", 1, k20.data(), 0, mac), HA_EPARAM);
}

// Random inputs of every length from 0 to 300, fed in random pieces, against
// Python's modules: every digest, every HMAC and the CRC-32.
TEST(Digests, RandomInputsMatchPython)
{
    std::mt19937 gen(2024);
    std::vector<std::string> msgs, keys, inputs;
    for (size_t n = 0; n <= 300; ++n) {
        msgs.push_back(cryptotest::RandomBytes(gen, n));
        keys.push_back(cryptotest::RandomBytes(gen, 1 + gen() % 200));
        inputs.push_back(Hex(keys.back().data(), keys.back().size()) + " " + Hex(msgs.back().data(), n));
    }
    const auto lines = cryptotest::PythonLines("import sys,hashlib,hmac,binascii\n"
                                               "for line in open(sys.argv[1]):\n"
                                               "  k,m=(bytes.fromhex(x) for x in (line.split()+[''])[:2])\n"
                                               "  r=[]\n"
                                               "  for a in ('md5','sha1','sha256','sha384','sha512'):\n"
                                               "    r+=[hashlib.new(a,m).hexdigest(), hmac.new(k,m,a).hexdigest()]\n"
                                               "  r.append('%08x'%binascii.crc32(m))\n"
                                               "  print(' '.join(r))\n",
                                               inputs);
    ASSERT_EQ(lines.size(), msgs.size()) << "python3 is needed";
    const uint32_t ids[] = {HA_MD5, HA_SHA1, HA_SHA256, HA_SHA384, HA_SHA512};
    for (size_t i = 0; i < msgs.size(); ++i) {
        std::vector<std::string> expect;
        std::string line = lines[i];
        for (char* tok = std::strtok(line.data(), " "); tok != nullptr; tok = std::strtok(nullptr, " "))
            expect.push_back(tok);
        ASSERT_EQ(expect.size(), 11u);
        for (size_t a = 0; a < 5; ++a) {
            haState_t st;
            ASSERT_EQ(haInit(&st, ids[a]), HA_OK);
            for (size_t pos = 0; pos < msgs[i].size();) {
                const size_t piece = std::min<size_t>(msgs[i].size() - pos, gen() % 140);
                ASSERT_EQ(haUpdate(&st, msgs[i].data() + pos, piece), HA_OK);
                pos += piece;
            }
            ASSERT_EQ(haFinal(&st), HA_OK);
            ASSERT_EQ(Hex(st.digest, st.digestSize), expect[2 * a]) << "length " << i;
            if (!msgs[i].empty()) {  // HMAC of no data is refused
                ASSERT_EQ(HmacHex(ids[a], keys[i], msgs[i]), expect[2 * a + 1]) << "length " << i;
            }
        }
        ASSERT_EQ(DigestHex(HA_CRC32, msgs[i]), expect[10]) << "length " << i;
    }
}

TEST(Digests, ShaInstructionsMatchPortableCode)
{
    if (!haSha256HasShaInstructions())
        GTEST_SKIP() << "no SHA instructions";
    std::mt19937 gen(5);
    std::vector<uint8_t> data(64 * 40);
    for (auto& b : data)
        b = static_cast<uint8_t>(gen());
    for (size_t blocks = 1; blocks <= 40; ++blocks) {
        uint32_t a[8], b[8];
        for (int i = 0; i < 8; ++i)
            a[i] = b[i] = gen();
        haSha256BlocksPortable(a, data.data(), blocks);
        haSha256BlocksShaNi(b, data.data(), blocks);
        ASSERT_EQ(std::memcmp(a, b, sizeof a), 0) << blocks << " blocks";
    }
}

TEST(Digests, StateRules)
{
    haState_t st;
    EXPECT_EQ(haUpdate(nullptr, nullptr, 0), HA_OK);
    EXPECT_EQ(haUpdate(nullptr, "x", 1), HA_EPARAM);
    EXPECT_EQ(haInit(&st, 0x1234), HA_EALG);
    EXPECT_EQ(st.algId, 0u);
    EXPECT_EQ(haUpdate(&st, "x", 1), HA_EALG);
    EXPECT_EQ(haFinalHex(&st), HA_EALG);

    // Data after finishing: 3, and the state keeps answering 3; the digest
    // already made stays.  MD5 follows the same rule.
    for (uint32_t id : {HA_SHA256, HA_SHA1, HA_SHA512, HA_MD5}) {
        ASSERT_EQ(haDigest(&st, "abc", 3, id, 0, 0), HA_OK);
        uint8_t before[HA_MAX_DIGEST];
        std::memcpy(before, st.digest, sizeof before);
        EXPECT_EQ(haUpdate(&st, "d", 1), HA_ESTATE) << std::hex << id;
        EXPECT_EQ(haUpdate(&st, "d", 1), HA_ESTATE);
        EXPECT_EQ(haFinal(&st), HA_ESTATE);
        EXPECT_EQ(std::memcmp(before, st.digest, sizeof before), 0);
    }
    // A message length the counter cannot hold corrupts the state (value 1).
    ASSERT_EQ(haInit(&st, HA_SHA256), HA_OK);
    st.work.sha256.bytes = (uint64_t(1) << 61) - 4;
    EXPECT_EQ(haUpdate(&st, "abcd", 4), HA_CORRUPT_LENGTH);
    EXPECT_EQ(haUpdate(&st, "a", 1), HA_CORRUPT_LENGTH);

    // Names: any case, a hyphen only between letters and digits, exact length.
    EXPECT_EQ(haGetAlgId("sha-256", 7), HA_SHA256);
    EXPECT_EQ(haGetAlgId("Sha256", 6), HA_SHA256);
    EXPECT_EQ(haGetAlgId("crc-32", 6), HA_CRC32);
    EXPECT_EQ(haGetAlgId("md-5", 4), HA_MD5);
    EXPECT_EQ(haGetAlgId("SHA256", 5), 0u);
    EXPECT_EQ(haGetAlgId("SHA256x", 7), 0u);
    EXPECT_EQ(haGetAlgId("SHA_256", 7), 0u);
    EXPECT_EQ(haGetAlgId("SHA2-56", 7), 0u);
    EXPECT_EQ(haGetAlgId("MD 5", 4), 0u);
    EXPECT_EQ(haGetAlgId("CRC-3", 5), 0u);
    EXPECT_EQ(haGetAlgId("SHA384", 6), HA_SHA384);
    EXPECT_EQ(haGetAlgId(nullptr, 6), 0u);
    for (uint32_t id : {HA_MD5, HA_SHA1, HA_SHA256, HA_SHA384, HA_SHA512, HA_CRC32}) {
        const char* name = haGetAlgName(id);
        ASSERT_NE(name, nullptr);
        EXPECT_EQ(haGetAlgId(name, std::strlen(name)), id);
    }
    EXPECT_EQ(haGetAlgName(0), nullptr);

    // Hex text is upper-case; CRC-32 bytes most significant first.
    ASSERT_EQ(haDigest(&st, "abc", 3, HA_CRC32, 1, 1), HA_OK);
    EXPECT_STREQ(st.hex, "352441C2");
    EXPECT_EQ(st.hexLen, 8u);
    EXPECT_EQ(Hex(st.digest, 4), "352441c2");
    EXPECT_STREQ(st.base64, "NSRBwg==");

    char out[16] = {};
    const uint8_t bytes[] = {1, 2, 3};
    EXPECT_EQ(std::string(out, haHexEncode(bytes, 3, out, 2)), "0102 03");
    EXPECT_EQ(std::string(out, haHexEncode(bytes, 3, out, 1)), "01 02 03 ");
    EXPECT_EQ(haHexEncode(bytes, 0, out, 1), 0u);
}

}  // namespace
