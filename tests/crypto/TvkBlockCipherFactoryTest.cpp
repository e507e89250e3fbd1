// The default block cipher factory admits only AES with 16-byte keys.
#include <gtest/gtest.h>

#include <memory>

#include "NptAes.h"
#include "TvkBlockCipherFactory.h"

namespace {

struct FactoryCase {
    int        algorithm;
    int        direction;
    bool       null_key;
    NPT_Size   key_size;
    NPT_Result expected;
};

class DefaultBlockCipherFactoryTest : public ::testing::TestWithParam<FactoryCase> {};

TEST_P(DefaultBlockCipherFactoryTest, CreatesAesOrClearsCipher)
{
    const FactoryCase& c = GetParam();
    const NPT_UInt8 key[32] = {1, 2, 3};
    NPT_AesBlockEncrypter stale(key, 16);
    NPT_BlockCipher* cipher = &stale;
    NPT_Result result = TVK_DefaultBlockCipherFactory::Instance.Create(
        static_cast<NPT_BlockCipher::Algorithm>(c.algorithm),
        static_cast<NPT_BlockCipher::Direction>(c.direction),
        c.null_key ? nullptr : key, c.key_size, cipher);
    EXPECT_EQ(c.expected, result);
    if (result != NPT_SUCCESS) {
        EXPECT_EQ(nullptr, cipher);
        return;
    }
    std::unique_ptr<NPT_BlockCipher> owned(cipher);
    if (c.direction == NPT_BlockCipher::ENCRYPT) {
        EXPECT_NE(nullptr, dynamic_cast<NPT_AesBlockEncrypter*>(cipher));
    } else {
        EXPECT_NE(nullptr, dynamic_cast<NPT_AesBlockDecrypter*>(cipher));
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, DefaultBlockCipherFactoryTest, ::testing::Values(
    FactoryCase{0, 0, false, 16, NPT_SUCCESS},
    FactoryCase{0, 1, false, 16, NPT_SUCCESS},
    FactoryCase{1, 0, true, 16, NPT_ERROR_NOT_SUPPORTED},   // before the key checks
    FactoryCase{0, 0, true, 16, NPT_ERROR_INVALID_PARAMETERS},
    FactoryCase{0, 0, false, 15, NPT_ERROR_INVALID_PARAMETERS},
    FactoryCase{0, 0, false, 24, NPT_ERROR_INVALID_PARAMETERS},
    FactoryCase{0, 1, false, 32, NPT_ERROR_INVALID_PARAMETERS},
    FactoryCase{0, 7, false, 16, NPT_ERROR_INVALID_PARAMETERS}));

} // namespace
