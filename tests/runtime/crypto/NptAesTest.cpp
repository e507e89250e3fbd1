// AES against FIPS-197 Appendix C and the SP 800-38A ECB and CBC
// examples through every implementation this machine can run, the block
// cipher factory, and CBC with PKCS#7 padding (including every padding
// failure).
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "NptAes.h"
#include "TestAesImplementations.h"
#include "TestAesTable.h"
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

class AesFips197Test
    : public ::testing::TestWithParam<std::tuple<NPT_AesImplementation, AesVector>> {};

TEST_P(AesFips197Test, EncryptsAndDecryptsInBothPlacements)
{
    TVK_TEST_FORCE_AES(std::get<0>(GetParam()));
    const AesVector& v = std::get<1>(GetParam());
    const Bytes key = FromHex(v.key), plain = FromHex(v.plaintext), cipher = FromHex(v.ciphertext);
    NPT_AesBlockEncrypter encrypter(key.data(), static_cast<NPT_Size>(key.size()));
    NPT_AesBlockDecrypter decrypter(key.data(), static_cast<NPT_Size>(key.size()));
    EXPECT_EQ(v.rounds, encrypter.GetRoundCount());
    EXPECT_EQ(std::get<0>(GetParam()), encrypter.GetImplementation());

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

INSTANTIATE_TEST_SUITE_P(Fips197, AesFips197Test,
                         ::testing::Combine(::testing::ValuesIn(tvk_test::kAesImplementations),
                                            ::testing::ValuesIn(kFips197Vectors)),
                         [](const auto& info) {
                             return tvk_test::AesTestName(std::get<0>(info.param)) + "_" +
                                    std::get<1>(info.param).name;
                         });

/*----------------------------------------------------------------------
|   SP 800-38A: four blocks in ECB (one ProcessBlocks call) and CBC
+---------------------------------------------------------------------*/
const char* const kSp800Plaintext =
    "6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e51"
    "30c81c46a35ce411e5fbc1191a0a52eff69f2445df4f9b17ad2b417be66c3710";

struct Sp800Vector {
    const char* name;
    const char* key;
    const char* ecb;
    const char* cbc;  // with IV 000102..0f
};

const Sp800Vector kSp800Vectors[] = {
    {"Aes128", "2b7e151628aed2a6abf7158809cf4f3c",
     "3ad77bb40d7a3660a89ecaf32466ef97f5d3d58503b9699de785895a96fdbaaf"
     "43b1cd7f598ece23881b00e3ed0306887b0c785e27e8ad3f8223207104725dd4",
     "7649abac8119b246cee98e9b12e9197d5086cb9b507219ee95db113a917678b2"
     "73bed6b8e3c1743b7116e69e222295163ff1caa1681fac09120eca307586e1a7"},
    {"Aes192", "8e73b0f7da0e6452c810f32b809079e562f8ead2522c6b7b",
     "bd334f1d6e45f25ff712a214571fa5cc974104846d0ad3ad7734ecb3ecee4eef"
     "ef7afd2270e2e60adce0ba2face6444e9a4b41ba738d6c72fb16691603c18e0e",
     "4f021db243bc633d7178183a9fa071e8b4d9ada9ad7dedf4e5e738763f69145a"
     "571b242012fb7ae07fa9baac3df102e008b0e27988598881d920a9e64f5615cd"},
    {"Aes256", "603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4",
     "f3eed1bdb5d2a03c064b5a7e3db181f8591ccb10d410ed26dc5ba74a31362870"
     "b6ed21b99ca6f4f9f153e7b1beafed1d23304b7a39f9f3ff067d8d8f9e24ecc7",
     "f58c4c04d6e5f1ba779eabfb5f7bfbd69cfc4e967edb808d679f777bc6702c7d"
     "39f23369a9d9bacfa530e26304231461b2eb05e2c39be9fcda6c19078c6a9d1b"},
};

class AesSp800Test
    : public ::testing::TestWithParam<std::tuple<NPT_AesImplementation, Sp800Vector>> {};

TEST_P(AesSp800Test, EcbBlocksAndCbcBothWays)
{
    TVK_TEST_FORCE_AES(std::get<0>(GetParam()));
    const Sp800Vector& v = std::get<1>(GetParam());
    const Bytes key = FromHex(v.key), plain = FromHex(kSp800Plaintext);
    const Bytes iv = FromHex("000102030405060708090a0b0c0d0e0f");
    const NPT_Size key_size = static_cast<NPT_Size>(key.size());
    NPT_AesBlockEncrypter encrypter(key.data(), key_size);
    NPT_AesBlockDecrypter decrypter(key.data(), key_size);

    Bytes ecb(64);
    ASSERT_EQ(NPT_SUCCESS, encrypter.ProcessBlocks(plain.data(), ecb.data(), 4));
    EXPECT_EQ(v.ecb, ToHex(ecb));
    ASSERT_EQ(NPT_SUCCESS, decrypter.ProcessBlocks(ecb.data(), ecb.data(), 4));
    EXPECT_EQ(plain, ecb);

    NPT_DataBuffer cbc, back;
    ASSERT_EQ(NPT_SUCCESS, encrypter.ProcessCbc(plain.data(), 64, iv.data(), cbc));
    ASSERT_EQ(80u, cbc.GetDataSize());
    EXPECT_EQ(v.cbc, ToHex(cbc.GetData(), 64));
    ASSERT_EQ(NPT_SUCCESS, decrypter.ProcessCbc(cbc.GetData(), 80, iv.data(), back));
    EXPECT_EQ(plain, Bytes(back.GetData(), back.GetData() + back.GetDataSize()));
}

INSTANTIATE_TEST_SUITE_P(Sp800_38a, AesSp800Test,
                         ::testing::Combine(::testing::ValuesIn(tvk_test::kAesImplementations),
                                            ::testing::ValuesIn(kSp800Vectors)),
                         [](const auto& info) {
                             return tvk_test::AesTestName(std::get<0>(info.param)) + "_" +
                                    std::get<1>(info.param).name;
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

// A toy decrypter that XORs 0x5c onto each block and fails, writing
// nothing, on a block that starts with 0xff: its failure depends on the
// block, not on how often it was called.
class FailingDecrypter : public NPT_BlockCipher
{
public:
    NPT_Size   GetBlockSize() override { return 16; }
    Direction  GetDirection() override { return DECRYPT; }
    Algorithm  GetAlgorithm() override { return AES_128; }
    NPT_Result ProcessBlock(const NPT_UInt8* input, NPT_UInt8* output) override
    {
        if (input[0] == 0xff) return NPT_ERROR_INTERNAL;
        for (int i = 0; i < 16; ++i) output[i] = static_cast<NPT_UInt8>(input[i] ^ 0x5c);
        return NPT_SUCCESS;
    }
};

TEST(CbcFailure, BlocksBeforeAFailingOneAreFullyDecrypted)
{
    // 48 blocks: two decryption batches; the failing block lies first,
    // inside the first batch, at the start of the second and inside it
    for (size_t failing : {size_t(0), size_t(1), size_t(5), size_t(32), size_t(40)}) {
        for (bool in_place : {false, true}) {
            SCOPED_TRACE(std::to_string(failing) + (in_place ? " in place" : " apart"));
            Bytes cipher(48 * 16);
            for (size_t i = 0; i < cipher.size(); ++i) cipher[i] = static_cast<NPT_UInt8>(i * 13 % 251);
            cipher[failing * 16] = 0xff;
            const Bytes iv(16, 0x21);
            NPT_DataBuffer apart;
            NPT_DataBuffer same(cipher.data(), static_cast<NPT_Size>(cipher.size()));
            NPT_DataBuffer& out = in_place ? same : apart;
            const Bytes original = cipher;
            FailingDecrypter decrypter;
            EXPECT_EQ(NPT_ERROR_INTERNAL,
                      decrypter.ProcessCbc(out.GetData() ? out.GetData() : cipher.data(),
                                           static_cast<NPT_Size>(cipher.size()), iv.data(), out));
            for (size_t block = 0; block < failing; ++block) {
                for (size_t i = 0; i < 16; ++i) {
                    const NPT_UInt8 chain = block ? original[(block - 1) * 16 + i] : iv[i];
                    ASSERT_EQ(original[block * 16 + i] ^ 0x5c ^ chain, out.UseData()[block * 16 + i])
                        << "block " << block << " byte " << i;
                }
            }
        }
    }
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

namespace {

/*----------------------------------------------------------------------
|   CBC over many batches, apart and overlapping, on each implementation
+---------------------------------------------------------------------*/
class AesCbcLayoutTest : public ::testing::TestWithParam<NPT_AesImplementation> {};

TEST_P(AesCbcLayoutTest, MatchesTheReferenceApartInPlaceAndShifted)
{
    TVK_TEST_FORCE_AES(GetParam());
    const Bytes key = FromHex("000102030405060708090a0b0c0d0e0f");
    const Bytes iv = FromHex("f0e0d0c0b0a090807060504030201000");
    // 1000 bytes: 63 blocks with the padding, across two decryption batches
    Bytes plain(1000);
    for (size_t i = 0; i < plain.size(); ++i) plain[i] = static_cast<NPT_UInt8>(i * 7 + i / 256);

    // CBC from the table reference
    Bytes expected = plain;
    expected.resize(1008, 8);
    tvk_test::TableAes reference(key.data(), 16);
    Bytes chain = iv;
    for (size_t offset = 0; offset < expected.size(); offset += 16) {
        for (int i = 0; i < 16; ++i) chain[i] ^= expected[offset + i];
        reference.Encrypt(chain.data(), &expected[offset]);
        std::memcpy(chain.data(), &expected[offset], 16);
    }

    NPT_AesBlockEncrypter encrypter(key.data(), 16);
    NPT_AesBlockDecrypter decrypter(key.data(), 16);
    auto data = [](const NPT_DataBuffer& b) { return Bytes(b.GetData(), b.GetData() + b.GetDataSize()); };

    NPT_DataBuffer apart;
    ASSERT_EQ(NPT_SUCCESS, encrypter.ProcessCbc(plain.data(), 1000, iv.data(), apart));
    EXPECT_EQ(expected, data(apart));

    NPT_DataBuffer in_place(plain.data(), 1000);  // grows while the input lies in it
    ASSERT_EQ(NPT_SUCCESS, encrypter.ProcessCbc(in_place.GetData(), 1000, iv.data(), in_place));
    EXPECT_EQ(expected, data(in_place));

    NPT_DataBuffer back;
    ASSERT_EQ(NPT_SUCCESS, decrypter.ProcessCbc(expected.data(), 1008, iv.data(), back));
    EXPECT_EQ(plain, data(back));

    ASSERT_EQ(NPT_SUCCESS, decrypter.ProcessCbc(in_place.GetData(), 1008, iv.data(), in_place));
    EXPECT_EQ(plain, data(in_place));

    // the ciphertext 48 bytes into the output's own block
    Bytes shifted_bytes(48 + expected.size(), 0xaa);
    std::memcpy(shifted_bytes.data() + 48, expected.data(), expected.size());
    NPT_DataBuffer shifted(shifted_bytes.data(), static_cast<NPT_Size>(shifted_bytes.size()));
    ASSERT_EQ(NPT_SUCCESS, decrypter.ProcessCbc(shifted.GetData() + 48, 1008, iv.data(), shifted));
    EXPECT_EQ(plain, data(shifted));
}

INSTANTIATE_TEST_SUITE_P(Implementations, AesCbcLayoutTest,
                         ::testing::ValuesIn(tvk_test::kAesImplementations),
                         [](const auto& info) { return tvk_test::AesTestName(info.param); });

} // namespace
