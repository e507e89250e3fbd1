// SHA-1 (FIPS 180-1) and MD5 (RFC 1321) vectors, padding boundaries,
// split input, the factories, and HMAC (RFC 2202).
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "NptDigest.h"
#include "TestHex.h"

using tvk_test::FromHex;
using tvk_test::ToHex;
using Bytes = std::vector<NPT_UInt8>;

namespace {

Bytes Text(const std::string& text) { return tvk_test::TextBytes(text); }
Bytes Pattern(size_t size) { return tvk_test::PatternBytes(size); }

std::string Digest(NPT_Digest::Algorithm algorithm, const Bytes& message, size_t piece = 0)
{
    NPT_Digest* raw = nullptr;
    EXPECT_EQ(NPT_SUCCESS, NPT_Digest::Create(algorithm, raw));
    std::unique_ptr<NPT_Digest> digest(raw);
    if (piece == 0) piece = message.size() ? message.size() : 1;
    for (size_t at = 0; at < message.size(); at += piece) {
        size_t count = std::min(piece, message.size() - at);
        EXPECT_EQ(NPT_SUCCESS, digest->Update(message.data() + at, static_cast<NPT_Size>(count)));
    }
    NPT_DataBuffer out;
    EXPECT_EQ(NPT_SUCCESS, digest->GetDigest(out));
    return ToHex(out.GetData(), out.GetDataSize());
}

struct DigestVector {
    NPT_Digest::Algorithm algorithm;
    Bytes                 message;
    const char*           digest;
};

// Standard vectors, then messages around the padding boundary (55 bytes
// leave room for the length, 56-63 need a second block); their values
// come from an independent implementation (Python hashlib).
const std::vector<DigestVector>& Vectors()
{
    static const std::vector<DigestVector> vectors = {
        {NPT_Digest::SHA1, Text(""), "da39a3ee5e6b4b0d3255bfef95601890afd80709"},
        {NPT_Digest::SHA1, Text("abc"), "a9993e364706816aba3e25717850c26c9cd0d89d"},
        {NPT_Digest::SHA1, Text("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
         "84983e441c3bd26ebaae4aa1f95129e5e54670f1"},
        {NPT_Digest::SHA1, Bytes(1000000, 'a'), "34aa973cd4c4daa4f61eeb2bdbad27316534016f"},
        {NPT_Digest::MD5, Text(""), "d41d8cd98f00b204e9800998ecf8427e"},
        {NPT_Digest::MD5, Text("a"), "0cc175b9c0f1b6a831c399e269772661"},
        {NPT_Digest::MD5, Text("abc"), "900150983cd24fb0d6963f7d28e17f72"},
        {NPT_Digest::MD5, Text("message digest"), "f96b697d7cb7938d525a2f31aaf161d0"},
        {NPT_Digest::MD5, Text("abcdefghijklmnopqrstuvwxyz"), "c3fcd3d76192e4007dfb496cca67e13b"},
        {NPT_Digest::MD5,
         Text("12345678901234567890123456789012345678901234567890123456789012345678901234567890"),
         "57edf4a22be3c955ac49da2e2107b67a"},
        {NPT_Digest::SHA1, Pattern(55), "04bb34aef4880b625e6b1564a014abd25fc02bfe"},
        {NPT_Digest::SHA1, Pattern(56), "83b9fcb6d3e3b20f376ab989a1b6353bcc6c0f44"},
        {NPT_Digest::SHA1, Pattern(63), "ab15090e8dbe512f3733350f9623ab11f9b5165b"},
        {NPT_Digest::SHA1, Pattern(64), "54305ee7e4c7bc5a96afc6d1994fc52d9bcb665f"},
        {NPT_Digest::SHA1, Pattern(120), "8c40517a14ab8b78fd4b8958f4e31254a34c3fb0"},
        {NPT_Digest::MD5, Pattern(55), "8c3eb046bcdb1f0ffe75fdbaf890cf13"},
        {NPT_Digest::MD5, Pattern(56), "d5e0fa3122448ddd3d843a9c5ed9e839"},
        {NPT_Digest::MD5, Pattern(63), "1dd0d6ddeb881b118518c2881555f34b"},
        {NPT_Digest::MD5, Pattern(64), "7b412e00d38c31b0845a4f502d39d5e3"},
        {NPT_Digest::MD5, Pattern(119), "dac58560b386c3d5b29ebbdec5197e10"},
        {NPT_Digest::SHA1, Pattern(1000), "f50d11c8ae2b20fe2598e99a6a2cb859e302615c"},
        {NPT_Digest::MD5, Pattern(1000), "7874d3c13d4ed33f057def947e0621ef"},
    };
    return vectors;
}

class DigestVectorTest : public ::testing::TestWithParam<size_t> {};

TEST_P(DigestVectorTest, MatchesWholeAndSplitAtAnyPieceSize)
{
    const DigestVector& v = Vectors()[GetParam()];
    EXPECT_EQ(v.digest, Digest(v.algorithm, v.message));
    if (v.message.size() > 100000) return; // byte-by-byte on 1 MB adds nothing
    for (size_t piece : {1, 63, 64, 65}) {
        EXPECT_EQ(v.digest, Digest(v.algorithm, v.message, piece)) << "pieces of " << piece;
    }
}

INSTANTIATE_TEST_SUITE_P(Vectors, DigestVectorTest, ::testing::Range<size_t>(0, Vectors().size()));

TEST(DigestTest, GetDigestReplacesPreviousContent)
{
    for (auto [algorithm, size] : {std::pair{NPT_Digest::SHA1, 20u}, std::pair{NPT_Digest::MD5, 16u}}) {
        NPT_Digest* raw = nullptr;
        ASSERT_EQ(NPT_SUCCESS, NPT_Digest::Create(algorithm, raw));
        std::unique_ptr<NPT_Digest> digest(raw);
        NPT_DataBuffer out(Bytes(100, 0xab).data(), 100);
        ASSERT_EQ(NPT_SUCCESS, digest->GetDigest(out));
        EXPECT_EQ(size, out.GetDataSize());
    }
}

TEST(DigestTest, BorrowedBufferTooSmallIsReportedNotOverrun)
{
    NPT_Digest* raw = nullptr;
    ASSERT_EQ(NPT_SUCCESS, NPT_Digest::Create(NPT_Digest::SHA1, raw));
    std::unique_ptr<NPT_Digest> digest(raw);
    Bytes storage(32, 0xee);
    NPT_DataBuffer out;
    out.SetBuffer(storage.data(), 10);
    EXPECT_EQ(NPT_ERROR_NOT_SUPPORTED, digest->GetDigest(out));
    EXPECT_EQ(Bytes(32, 0xee), storage);
}

TEST(DigestTest, FactoriesRefuseUnknownAlgorithmsAndLeaveOutputAlone)
{
    NPT_Digest* sentinel = reinterpret_cast<NPT_Digest*>(&sentinel);
    for (int algorithm : {2, -1}) {
        NPT_Digest* digest = sentinel;
        auto a = static_cast<NPT_Digest::Algorithm>(algorithm);
        EXPECT_EQ(NPT_ERROR_NOT_SUPPORTED, NPT_Digest::Create(a, digest));
        EXPECT_EQ(sentinel, digest);
        EXPECT_EQ(NPT_ERROR_NOT_SUPPORTED, NPT_Hmac::Create(a, nullptr, 0, digest));
        EXPECT_EQ(sentinel, digest);
    }
    NPT_Digest* digest = sentinel;
    EXPECT_EQ(NPT_ERROR_INVALID_PARAMETERS, NPT_Hmac::Create(NPT_Digest::SHA1, nullptr, 5, digest));
    EXPECT_EQ(sentinel, digest);
}

/*----------------------------------------------------------------------
|   HMAC
+---------------------------------------------------------------------*/
std::string Hmac(NPT_Digest::Algorithm algorithm, const Bytes& key, const Bytes& message)
{
    NPT_Digest* raw = nullptr;
    EXPECT_EQ(NPT_SUCCESS, NPT_Hmac::Create(algorithm, key.data(), static_cast<NPT_Size>(key.size()), raw));
    std::unique_ptr<NPT_Digest> hmac(raw);
    EXPECT_EQ(NPT_SUCCESS, hmac->Update(message.data(), static_cast<NPT_Size>(message.size())));
    NPT_DataBuffer out;
    EXPECT_EQ(NPT_SUCCESS, hmac->GetDigest(out));
    return ToHex(out.GetData(), out.GetDataSize());
}

struct HmacVector {
    Bytes       sha1_key;
    Bytes       md5_key;
    Bytes       data;
    const char* sha1;
    const char* md5;
};

const std::vector<HmacVector>& Rfc2202()
{
    static const std::vector<HmacVector> cases = {
        {Bytes(20, 0x0b), Bytes(16, 0x0b), Text("Hi There"),
         "b617318655057264e28bc0b6fb378c8ef146be00", "9294727a3638bb1c13f48ef8158bfc9d"},
        {Text("Jefe"), Text("Jefe"), Text("what do ya want for nothing?"),
         "effcdf6ae5eb2fa2d27416d5f184df9c259a7c79", "750c783e6ab0b503eaa86e310a5db738"},
        {Bytes(20, 0xaa), Bytes(16, 0xaa), Bytes(50, 0xdd),
         "125d7342b9ac11cd91a39af48aa17b4f63f175d3", "56be34521d144c88dbb8c733f0e8b3f6"},
        {FromHex("0102030405060708090a0b0c0d0e0f10111213141516171819"),
         FromHex("0102030405060708090a0b0c0d0e0f10111213141516171819"), Bytes(50, 0xcd),
         "4c9007f4026250c6bc8414f9bf50c86c2d7235da", "697eaf0aca3a3aea3a75164746ffaa79"},
        {Bytes(20, 0x0c), Bytes(16, 0x0c), Text("Test With Truncation"),
         "4c1a03424b55e07fe7f27be1d58bb9324a9a5a04", "56461ef2342edc00f9bab995690efd4c"},
        {Bytes(80, 0xaa), Bytes(80, 0xaa), Text("Test Using Larger Than Block-Size Key - Hash Key First"),
         "aa4ae5e15272d00e95705637ce8a3b55ed402112", "6b1ab7fe4bd7bf8f0b62e6ce61b9d0cd"},
        {Bytes(80, 0xaa), Bytes(80, 0xaa),
         Text("Test Using Larger Than Block-Size Key and Larger Than One Block-Size Data"),
         "e8e99d0f45237d786d6bbaa7965c7808bbff1a91", "6f630fad67cda0ee1fb1f562db3aa53e"},
    };
    return cases;
}

class HmacRfc2202Test : public ::testing::TestWithParam<size_t> {};

TEST_P(HmacRfc2202Test, MatchesForSha1AndMd5)
{
    const HmacVector& v = Rfc2202()[GetParam()];
    EXPECT_EQ(v.sha1, Hmac(NPT_Digest::SHA1, v.sha1_key, v.data));
    EXPECT_EQ(v.md5, Hmac(NPT_Digest::MD5, v.md5_key, v.data));
}

INSTANTIATE_TEST_SUITE_P(Cases, HmacRfc2202Test, ::testing::Range<size_t>(0, Rfc2202().size()));

TEST(HmacTest, KeysAroundTheBlockSize)
{
    const Bytes message = Text("message");
    struct { size_t key_size; const char* sha1; const char* md5; } cases[] = {
        {0, "d5d1ed05121417247616cfc8378f360a39da7cfa", "b32797ea4b4b90a5d6fe744b33b97632"},
        {64, "a108a3425637e2a6288e791e9e0a83d58eebefd8", "db700c7f0a4e8a875f82cc5f448dd7b0"},
        {65, "e60efa67052d0807bc6fe6928386e1185fcebc78", "10cdaf626a9169859950deaaa8e3dd7f"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.sha1, Hmac(NPT_Digest::SHA1, Pattern(c.key_size), message)) << c.key_size;
        EXPECT_EQ(c.md5, Hmac(NPT_Digest::MD5, Pattern(c.key_size), message)) << c.key_size;
    }
    // a key longer than a block acts as its own digest
    EXPECT_EQ(Hmac(NPT_Digest::SHA1, Pattern(65), message),
              Hmac(NPT_Digest::SHA1, FromHex(Digest(NPT_Digest::SHA1, Pattern(65))), message));
}

} // namespace
