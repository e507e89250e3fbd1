// The choice of AES implementation, and a differential test of every
// implementation this machine can run against the table-driven
// reference: random keys of all three sizes, random batches of blocks,
// both directions, in place and not.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <thread>
#include <vector>

#include "NptAes.h"
#include "NptAesEngine.h"
#include "TestAesImplementations.h"
#include "TestAesTable.h"
#include "TestHex.h"

namespace {

using Bytes = std::vector<NPT_UInt8>;

/*----------------------------------------------------------------------
|   choosing an implementation
+---------------------------------------------------------------------*/
TEST(AesImplementationTest, SelectionAppliesToCiphersBuiltAfterIt)
{
    const NPT_UInt8 key[16] = {};
    const NPT_AesImplementation best = NPT_AesGetImplementation();
    EXPECT_NE(NPT_AES_IMPL_AUTO, best);
    EXPECT_TRUE(NPT_AesIsImplementationSupported(best));

    NPT_AesBlockEncrypter before(key, 16);
    ASSERT_EQ(NPT_SUCCESS, NPT_AesSelectImplementation(NPT_AES_IMPL_PORTABLE));
    EXPECT_EQ(NPT_AES_IMPL_PORTABLE, NPT_AesGetImplementation());
    NPT_AesBlockDecrypter after(key, 16);
    NPT_BlockCipher* created = nullptr;
    ASSERT_EQ(NPT_SUCCESS, NPT_BlockCipher::Create(NPT_BlockCipher::AES_128,
                                                   NPT_BlockCipher::ENCRYPT, key, 16, created));
    std::unique_ptr<NPT_BlockCipher> owned(created);
    EXPECT_EQ(NPT_AES_IMPL_PORTABLE, static_cast<NPT_AesBlockCipher*>(created)->GetImplementation());
    EXPECT_EQ(NPT_AES_IMPL_PORTABLE, after.GetImplementation());
    EXPECT_EQ(best, before.GetImplementation());

    ASSERT_EQ(NPT_SUCCESS, NPT_AesSelectImplementation(NPT_AES_IMPL_AUTO));
    EXPECT_EQ(best, NPT_AesGetImplementation());
}

TEST(AesImplementationTest, RefusesWhatCannotRunAndKeepsTheSelection)
{
    ASSERT_EQ(NPT_SUCCESS, NPT_AesSelectImplementation(NPT_AES_IMPL_PORTABLE));
    for (NPT_AesImplementation hardware : {NPT_AES_IMPL_HARDWARE_X86, NPT_AES_IMPL_HARDWARE_ARM}) {
        if (NPT_AesIsImplementationSupported(hardware)) continue;
        EXPECT_EQ(NPT_ERROR_NOT_SUPPORTED, NPT_AesSelectImplementation(hardware));
        EXPECT_EQ(NPT_AES_IMPL_PORTABLE, NPT_AesGetImplementation());
    }
    for (int bad : {-1, 4, 99}) {
        const auto value = static_cast<NPT_AesImplementation>(bad);
        EXPECT_EQ(NPT_ERROR_INVALID_PARAMETERS, NPT_AesSelectImplementation(value)) << bad;
        EXPECT_FALSE(NPT_AesIsImplementationSupported(value)) << bad;
        EXPECT_STREQ("unknown", NPT_AesImplementationName(value)) << bad;
    }
    EXPECT_EQ(NPT_AES_IMPL_PORTABLE, NPT_AesGetImplementation());
    ASSERT_EQ(NPT_SUCCESS, NPT_AesSelectImplementation(NPT_AES_IMPL_AUTO));
#if defined(__x86_64__) || defined(__i386__)
    EXPECT_FALSE(NPT_AesIsImplementationSupported(NPT_AES_IMPL_HARDWARE_ARM));
#elif defined(__aarch64__)
    EXPECT_FALSE(NPT_AesIsImplementationSupported(NPT_AES_IMPL_HARDWARE_X86));
#endif
}

// First use from many threads at once: every one sees the same choice
// and a working cipher (run under the sanitizers as well).
TEST(AesImplementationTest, ConcurrentUseAgreesOnTheImplementation)
{
    const NPT_UInt8 key[16] = {1, 2, 3};
    tvk_test::TableAes reference(key, 16);
    NPT_UInt8 expected[16] = {};
    reference.Encrypt(expected, expected);

    std::vector<std::thread> threads;
    std::vector<int> good(8, 0);
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&, t] {
            NPT_AesBlockEncrypter cipher(key, 16);
            NPT_UInt8 block[16] = {};
            cipher.ProcessBlock(block, block);
            good[t] = cipher.GetImplementation() == NPT_AesGetImplementation() &&
                      Bytes(block, block + 16) == Bytes(expected, expected + 16);
        });
    }
    for (auto& thread : threads) thread.join();
    for (int t = 0; t < 8; ++t) EXPECT_TRUE(good[t]) << t;
}

TEST(AesImplementationTest, BlocksChecksArgumentsLikeBlock)
{
    for (NPT_AesImplementation implementation : tvk_test::kAesImplementations) {
        if (!NPT_AesIsImplementationSupported(implementation)) continue;
        tvk_test::ForcedAes forced(implementation);
        const NPT_UInt8 key[16] = {};
        NPT_AesBlockEncrypter encrypter(key, 16);
        NPT_AesBlockDecrypter unkeyed(key, 17);
        NPT_UInt8 block[32] = {};
        EXPECT_EQ(NPT_SUCCESS, encrypter.ProcessBlocks(nullptr, nullptr, 0));
        EXPECT_EQ(NPT_ERROR_INVALID_PARAMETERS, encrypter.ProcessBlocks(nullptr, block, 1));
        EXPECT_EQ(NPT_ERROR_INVALID_PARAMETERS, encrypter.ProcessBlocks(block, nullptr, 2));
        EXPECT_EQ(NPT_ERROR_INVALID_PARAMETERS, unkeyed.ProcessBlocks(block, block, 2));
        EXPECT_EQ(Bytes(32, 0), Bytes(block, block + 32));
    }
}

/*----------------------------------------------------------------------
|   differential test against the table reference
+---------------------------------------------------------------------*/
// Keys per implementation, spread evenly over the three key sizes; each
// key encrypts and decrypts a batch of 1 to kMaxBatch random blocks, so
// the batches cross the engines' pipeline widths (4 and 8 blocks).
const int kKeys = 100002;
const unsigned int kMaxBatch = 19;

class AesDifferentialTest : public ::testing::TestWithParam<NPT_AesImplementation> {};

TEST_P(AesDifferentialTest, MatchesTheTableReferenceOnRandomKeysAndBlocks)
{
    TVK_TEST_FORCE_AES(GetParam());
    std::mt19937_64 random(0x5eed0000u + static_cast<unsigned int>(GetParam()));
    auto fill = [&random](Bytes& bytes) {
        for (auto& b : bytes) b = static_cast<NPT_UInt8>(random());
    };
    const NPT_Size key_sizes[3] = {16, 24, 32};
    Bytes key, input(16 * kMaxBatch), expected(16 * kMaxBatch), output(16 * kMaxBatch);
    int mismatches = 0;
    for (int k = 0; k < kKeys && mismatches < 5; ++k) {
        const NPT_Size key_size = key_sizes[k % 3];
        key.resize(key_size);
        fill(key);
        fill(input);
        const NPT_Size count = 1 + static_cast<NPT_Size>(random() % kMaxBatch);
        const bool in_place = (k & 4) != 0;
        tvk_test::TableAes reference(key.data(), key_size);
        NPT_AesBlockEncrypter encrypter(key.data(), key_size);
        NPT_AesBlockDecrypter decrypter(key.data(), key_size);

        for (int direction = 0; direction < 2; ++direction) {
            for (NPT_Size i = 0; i < count; ++i) {
                if (direction == 0) reference.Encrypt(&input[16 * i], &expected[16 * i]);
                else reference.Decrypt(&input[16 * i], &expected[16 * i]);
            }
            NPT_AesBlockCipher& cipher = direction == 0
                                             ? static_cast<NPT_AesBlockCipher&>(encrypter)
                                             : static_cast<NPT_AesBlockCipher&>(decrypter);
            NPT_UInt8* out = output.data();
            if (in_place) {
                output = input;
            }
            // single blocks for a batch of one, so both calls are covered
            const NPT_Result result = count == 1 ? cipher.ProcessBlock(in_place ? out : input.data(), out)
                                                 : cipher.ProcessBlocks(in_place ? out : input.data(), out, count);
            ASSERT_EQ(NPT_SUCCESS, result);
            if (!std::equal(output.begin(), output.begin() + 16 * count, expected.begin())) {
                ++mismatches;
                ADD_FAILURE() << "key " << tvk_test::ToHex(key) << " direction " << direction
                              << " count " << count << (in_place ? " in place" : "")
                              << "\n  input    " << tvk_test::ToHex(input.data(), 16 * count)
                              << "\n  expected " << tvk_test::ToHex(expected.data(), 16 * count)
                              << "\n  got      " << tvk_test::ToHex(output.data(), 16 * count);
            }
        }
    }
}

// The engines take a schedule at any address: the x86 one reads its
// round keys as memory operands where they are aligned, and must neither
// fault nor go wrong where they are not. Every batch size up to 17, from
// a schedule 4 bytes off alignment.
TEST_P(AesDifferentialTest, SchedulesNeedNoAlignment)
{
    const NPT_AesEngine* engine = GetParam() == NPT_AES_IMPL_HARDWARE_X86   ? NPT_AesX86Engine()
                                  : GetParam() == NPT_AES_IMPL_HARDWARE_ARM ? NPT_AesArmEngine()
                                                                            : &NPT_AesPortableEngine();
    if (engine == nullptr) GTEST_SKIP() << "not available on this processor or in this build";
    std::mt19937_64 random(0xa119u);
    Bytes key(16), input(16 * 17), expected(16 * 17), output(16 * 17);
    for (auto& b : key) b = static_cast<NPT_UInt8>(random());
    for (auto& b : input) b = static_cast<NPT_UInt8>(random());
    tvk_test::TableAes reference(key.data(), 16);
    for (NPT_Size i = 0; i < 17; ++i) reference.Encrypt(&input[16 * i], &expected[16 * i]);

    alignas(16) NPT_UInt8 storage[NPT_AesEngine::SCHEDULE_SIZE + 16];
    NPT_UInt8* schedule = storage + 4;
    engine->ExpandKey(key.data(), 16, 10, schedule);
    for (NPT_Size count = 1; count <= 17; ++count) {
        std::fill(output.begin(), output.end(), 0);
        engine->Encrypt(schedule, 10, input.data(), output.data(), count);
        EXPECT_TRUE(std::equal(output.begin(), output.begin() + 16 * count, expected.begin())) << count;
        engine->Decrypt(schedule, 10, output.data(), output.data(), count);
        EXPECT_TRUE(std::equal(output.begin(), output.begin() + 16 * count, input.begin())) << count;
    }
}

INSTANTIATE_TEST_SUITE_P(Implementations, AesDifferentialTest,
                         ::testing::ValuesIn(tvk_test::kAesImplementations),
                         [](const auto& info) { return tvk_test::AesTestName(info.param); });

} // namespace
