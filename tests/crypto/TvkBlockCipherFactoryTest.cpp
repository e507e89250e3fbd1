// The default block cipher factory admits only AES with 16-byte keys.
#include <gtest/gtest.h>

#include "NptAes.h"
#include "TvkBlockCipherFactory.h"

namespace {

TEST(DefaultBlockCipherFactoryTest, CreatesAesOrClearsCipher)
{
    const NPT_UInt8 key[32] = {1, 2, 3};
    struct { int algorithm, direction; bool null_key; NPT_Size key_size; NPT_Result expected; } cases[] = {
        {0, 0, false, 16, NPT_SUCCESS},
        {0, 1, false, 16, NPT_SUCCESS},
        {1, 0, true, 16, NPT_ERROR_NOT_SUPPORTED}, // algorithm before the key
        {0, 0, true, 16, NPT_ERROR_INVALID_PARAMETERS},
        {0, 0, false, 15, NPT_ERROR_INVALID_PARAMETERS},
        {0, 0, false, 24, NPT_ERROR_INVALID_PARAMETERS},
        {0, 1, false, 32, NPT_ERROR_INVALID_PARAMETERS},
        {0, 7, false, 16, NPT_ERROR_INVALID_PARAMETERS},
    };
    for (const auto& c : cases) {
        NPT_AesBlockEncrypter stale(key, 16);
        NPT_BlockCipher* cipher = &stale;
        EXPECT_EQ(c.expected, TVK_DefaultBlockCipherFactory::Instance.Create(
            static_cast<NPT_BlockCipher::Algorithm>(c.algorithm),
            static_cast<NPT_BlockCipher::Direction>(c.direction),
            c.null_key ? nullptr : key, c.key_size, cipher)) << c.algorithm << c.direction << c.key_size;
        if (c.expected != NPT_SUCCESS) {
            EXPECT_EQ(nullptr, cipher);
            continue;
        }
        const bool right_class = c.direction == 0 ? dynamic_cast<NPT_AesBlockEncrypter*>(cipher) != nullptr
                                                  : dynamic_cast<NPT_AesBlockDecrypter*>(cipher) != nullptr;
        EXPECT_TRUE(right_class);
        delete cipher;
    }
}

} // namespace
