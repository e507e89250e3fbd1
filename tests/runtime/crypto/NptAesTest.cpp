// AES against FIPS-197 Appendix C, the block cipher factory, and CBC
// with PKCS#7 padding (including every padding failure).
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "NptAes.h"
#include "TestHex.h"

using tvk_test::FromHex;
using tvk_test::ToHex;
using Bytes = std::vector<NPT_UInt8>;

namespace {

struct AesVector {
    const char* name;
    const char* key;
    const char* plaintext;
    const char* ciphertext;
    NPT_UInt32  rounds;
};

const AesVector kFips197Vectors[] = {
    {"C1_Aes128", "000102030405060708090a0b0c0d0e0f",
     "00112233445566778899aabbccddeeff", "69c4e0d86a7b0430d8cdb78070b4c55a", 10},
    {"C2_Aes192", "000102030405060708090a0b0c0d0e0f1011121314151617",
     "00112233445566778899aabbccddeeff", "dda97ca4864cdfe06eaf70a0ec0d7191", 12},
    {"C3_Aes256", "000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f",
     "00112233445566778899aabbccddeeff", "8ea2b7ca516745bfeafc49904b496089", 14},
};

class AesFips197Test : public ::testing::TestWithParam<AesVector> {};

TEST_P(AesFips197Test, EncryptsAndDecryptsInBothPlacements)
{
    const AesVector& v = GetParam();
    const Bytes key = FromHex(v.key), plain = FromHex(v.plaintext), cipher = FromHex(v.ciphertext);
    NPT_AesBlockEncrypter encrypter(key.data(), static_cast<NPT_Size>(key.size()));
    NPT_AesBlockDecrypter decrypter(key.data(), static_cast<NPT_Size>(key.size()));
    EXPECT_EQ(v.rounds, encrypter.GetRoundCount());

    Bytes out(16);
    ASSERT_EQ(NPT_SUCCESS, encrypter.ProcessBlock(plain.data(), out.data()));
    EXPECT_EQ(ToHex(cipher), ToHex(out));
    ASSERT_EQ(NPT_SUCCESS, decrypter.ProcessBlock(cipher.data(), out.data()));
    EXPECT_EQ(ToHex(plain), ToHex(out));

    Bytes in_place = plain;
    encrypter.ProcessBlock(in_place.data(), in_place.data());
    EXPECT_EQ(ToHex(cipher), ToHex(in_place));
    decrypter.ProcessBlock(in_place.data(), in_place.data());
    EXPECT_EQ(ToHex(plain), ToHex(in_place));
}

INSTANTIATE_TEST_SUITE_P(Fips197, AesFips197Test, ::testing::ValuesIn(kFips197Vectors),
                         [](const ::testing::TestParamInfo<AesVector>& info) {
                             return std::string(info.param.name);
                         });

TEST(AesTest, KeyOfUnsupportedSizeRefusesToProcess)
{
    const Bytes key(20, 0x42);
    NPT_AesBlockEncrypter encrypter(key.data(), 20);
    NPT_AesBlockDecrypter decrypter(nullptr, 16);
    Bytes block(16, 0x5a);
    EXPECT_EQ(NPT_ERROR_INVALID_PARAMETERS, encrypter.ProcessBlock(block.data(), block.data()));
    EXPECT_EQ(NPT_ERROR_INVALID_PARAMETERS, decrypter.ProcessBlock(block.data(), block.data()));
    EXPECT_EQ(Bytes(16, 0x5a), block);
}

/*----------------------------------------------------------------------
|   factory
+---------------------------------------------------------------------*/
struct CreateCase {
    int        algorithm;
    int        direction;
    bool       null_key;
    NPT_Size   key_size;
    NPT_Result expected;
};

class BlockCipherCreateTest : public ::testing::TestWithParam<CreateCase> {};

TEST_P(BlockCipherCreateTest, ReportsResultAndClearsCipherOnFailure)
{
    const CreateCase& c = GetParam();
    const Bytes key(32, 0x11);
    NPT_AesBlockEncrypter stale(key.data(), 16);
    NPT_BlockCipher* cipher = &stale;
    NPT_Result result = NPT_BlockCipher::Create(
        static_cast<NPT_BlockCipher::Algorithm>(c.algorithm),
        static_cast<NPT_BlockCipher::Direction>(c.direction),
        c.null_key ? nullptr : key.data(), c.key_size, cipher);
    std::unique_ptr<NPT_BlockCipher> owned(result == NPT_SUCCESS ? cipher : nullptr);
    EXPECT_EQ(c.expected, result);
    if (result != NPT_SUCCESS) {
        EXPECT_EQ(nullptr, cipher);
        return;
    }
    EXPECT_EQ(16u, cipher->GetBlockSize());
    EXPECT_EQ(NPT_BlockCipher::AES_128, cipher->GetAlgorithm());
    EXPECT_EQ(c.direction, cipher->GetDirection());
}

INSTANTIATE_TEST_SUITE_P(Cases, BlockCipherCreateTest, ::testing::Values(
    CreateCase{0, 0, false, 16, NPT_SUCCESS},
    CreateCase{0, 1, false, 16, NPT_SUCCESS},
    CreateCase{1, 0, true, 16, NPT_ERROR_NOT_SUPPORTED},   // algorithm checked first
    CreateCase{-1, 0, false, 16, NPT_ERROR_NOT_SUPPORTED},
    CreateCase{0, 0, true, 16, NPT_ERROR_INVALID_PARAMETERS},
    CreateCase{0, 0, false, 15, NPT_ERROR_INVALID_PARAMETERS},
    CreateCase{0, 0, false, 24, NPT_ERROR_INVALID_PARAMETERS},
    CreateCase{0, 1, false, 32, NPT_ERROR_INVALID_PARAMETERS},
    CreateCase{0, 2, false, 16, NPT_ERROR_INVALID_PARAMETERS}));

/*----------------------------------------------------------------------
|   CBC
+---------------------------------------------------------------------*/
class CbcTest : public ::testing::Test {
protected:
    const Bytes key_ = FromHex("2b7e151628aed2a6abf7158809cf4f3c");
    const Bytes iv_ = FromHex("000102030405060708090a0b0c0d0e0f");
    NPT_AesBlockEncrypter encrypter_{key_.data(), 16};
    NPT_AesBlockDecrypter decrypter_{key_.data(), 16};

    static Bytes Data(const NPT_DataBuffer& buffer)
    {
        return Bytes(buffer.GetData(), buffer.GetData() + buffer.GetDataSize());
    }
    // one-block ciphertext whose CBC decryption (zero IV) is plain
    Bytes CipherBlockFor(const Bytes& plain)
    {
        Bytes block(16);
        encrypter_.ProcessBlock(plain.data(), block.data());
        return block;
    }
};

TEST_F(CbcTest, MatchesSp800_38aAndAddsAFullPaddingBlock)
{
    const Bytes plain = FromHex(
        "6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e51"
        "30c81c46a35ce411e5fbc1191a0a52eff69f2445df4f9b17ad2b417be66c3710");
    NPT_DataBuffer out;
    ASSERT_EQ(NPT_SUCCESS, encrypter_.ProcessCbc(plain.data(), 64, iv_.data(), out));
    ASSERT_EQ(80u, out.GetDataSize());
    EXPECT_EQ("7649abac8119b246cee98e9b12e9197d5086cb9b507219ee95db113a917678b2"
              "73bed6b8e3c1743b7116e69e222295163ff1caa1681fac09120eca307586e1a7",
              ToHex(out.GetData(), 64));
}

TEST_F(CbcTest, EmptyInputEncryptsToOnePaddingBlock)
{
    NPT_DataBuffer out;
    ASSERT_EQ(NPT_SUCCESS, encrypter_.ProcessCbc(nullptr, 0, iv_.data(), out));
    Bytes expected(16, 16);
    for (int i = 0; i < 16; ++i) expected[i] ^= iv_[i];
    encrypter_.ProcessBlock(expected.data(), expected.data());
    EXPECT_EQ(expected, Data(out));
}

TEST_F(CbcTest, RoundTripsEverySizeAndTreatsNullIvAsZero)
{
    const Bytes zero_iv(16, 0);
    for (NPT_Size size : {0u, 1u, 15u, 16u, 17u, 31u, 32u, 100u}) {
        Bytes plain(size);
        for (NPT_Size i = 0; i < size; ++i) plain[i] = static_cast<NPT_UInt8>(i * 13 + 5);
        NPT_DataBuffer with_null, with_zero, back;
        ASSERT_EQ(NPT_SUCCESS, encrypter_.ProcessCbc(plain.data(), size, nullptr, with_null));
        ASSERT_EQ(NPT_SUCCESS, encrypter_.ProcessCbc(plain.data(), size, zero_iv.data(), with_zero));
        EXPECT_EQ((size / 16 + 1) * 16, with_null.GetDataSize()) << size;
        EXPECT_EQ(Data(with_null), Data(with_zero)) << size;
        ASSERT_EQ(NPT_SUCCESS, decrypter_.ProcessCbc(with_null.GetData(), with_null.GetDataSize(),
                                                     nullptr, back));
        EXPECT_EQ(plain, Data(back)) << size;
    }
}

TEST_F(CbcTest, DecryptsInPlaceAndIntoABufferHoldingMoreData)
{
    const Bytes plain(20, 0x77);
    NPT_DataBuffer buffer;
    ASSERT_EQ(NPT_SUCCESS, encrypter_.ProcessCbc(plain.data(), 20, iv_.data(), buffer));
    ASSERT_EQ(NPT_SUCCESS, decrypter_.ProcessCbc(buffer.GetData(), 32, iv_.data(), buffer));
    EXPECT_EQ(plain, Data(buffer));

    NPT_DataBuffer cipher, big(Bytes(100, 1).data(), 100);
    encrypter_.ProcessCbc(plain.data(), 20, nullptr, cipher);
    ASSERT_EQ(NPT_SUCCESS, decrypter_.ProcessCbc(cipher.GetData(), 32, nullptr, big));
    EXPECT_EQ(plain, Data(big));
}

struct BadPadding {
    const char* name;
    const char* last_block;
};

class CbcBadPaddingTest : public CbcTest, public ::testing::WithParamInterface<BadPadding> {};

TEST_P(CbcBadPaddingTest, IsInvalidFormatAndKeepsDataSize)
{
    const Bytes cipher = CipherBlockFor(FromHex(GetParam().last_block));
    NPT_DataBuffer out(Bytes(7, 9).data(), 7);
    EXPECT_EQ(NPT_ERROR_INVALID_FORMAT, decrypter_.ProcessCbc(cipher.data(), 16, nullptr, out));
    EXPECT_EQ(7u, out.GetDataSize());
}

INSTANTIATE_TEST_SUITE_P(Cases, CbcBadPaddingTest, ::testing::Values(
    BadPadding{"LastByteZero", "0102030405060708090a0b0c0d0e0f00"},
    BadPadding{"LastByteSeventeen", "11111111111111111111111111111111"},
    BadPadding{"LastByteFF", "000000000000000000000000000000ff"},
    BadPadding{"RunTooShort", "01020304050607080909090909090904"},
    BadPadding{"RunBrokenInside", "10101010101010100f10101010101010"}),
    [](const ::testing::TestParamInfo<BadPadding>& info) { return std::string(info.param.name); });

TEST_F(CbcTest, DecryptRefusesBadSizesWithoutTouchingOutput)
{
    const Bytes data(33, 0);
    NPT_DataBuffer out(Bytes(5, 3).data(), 5);
    EXPECT_EQ(NPT_ERROR_INVALID_PARAMETERS, decrypter_.ProcessCbc(data.data(), 33, nullptr, out));
    EXPECT_EQ(NPT_ERROR_INVALID_FORMAT, decrypter_.ProcessCbc(data.data(), 0, nullptr, out));
    EXPECT_EQ(Bytes(5, 3), Data(out));
}

TEST_F(CbcTest, BorrowedOutputTooSmallReportsItsErrorAndStaysUntouched)
{
    const Bytes plain(16, 0x33);
    NPT_UInt8 storage[64];
    std::memset(storage, 0xee, sizeof(storage));
    NPT_DataBuffer out;
    out.SetBuffer(storage, 16);
    EXPECT_EQ(NPT_ERROR_NOT_SUPPORTED, encrypter_.ProcessCbc(plain.data(), 16, nullptr, out));
    const Bytes cipher(32, 0);
    EXPECT_EQ(NPT_ERROR_NOT_SUPPORTED, decrypter_.ProcessCbc(cipher.data(), 32, nullptr, out));
    for (NPT_UInt8 b : storage) ASSERT_EQ(0xee, b);

    // a borrowed block that is large enough is used as it is
    NPT_DataBuffer roomy;
    roomy.SetBuffer(storage, 64);
    ASSERT_EQ(NPT_SUCCESS, encrypter_.ProcessCbc(plain.data(), 16, nullptr, roomy));
    NPT_DataBuffer copy(roomy.GetData(), 32);
    ASSERT_EQ(NPT_SUCCESS, decrypter_.ProcessCbc(copy.GetData(), 32, nullptr, roomy));
    EXPECT_EQ(plain, Data(roomy));
}

} // namespace
