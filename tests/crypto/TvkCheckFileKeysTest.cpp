/*****************************************************************
| TvkCheckFileKeysTest.cpp - check-file keys derived once: the files a
| writer started from them makes are the files the password makes, a
| reader verifies with them, and the cache derives once per salt
| whatever the number of files and threads.
****************************************************************/
#include <gtest/gtest.h>

#include <memory>
#include <thread>
#include <vector>

#include "NptDataBuffer.h"
#include "TvkCheckFile.h"
#include "TvkCheckFileKeys.h"

using Bytes = std::vector<NPT_UInt8>;

namespace {

const NPT_UInt32 kIterations = TVK_CheckFile::MIN_ITERATIONS;
const Bytes kPassword = {'p', 'w'};

Bytes Salt(NPT_UInt8 seed)
{
    Bytes salt(TVK_CheckFile::SALT_SIZE);
    for (size_t i = 0; i < salt.size(); ++i) salt[i] = static_cast<NPT_UInt8>(seed + i);
    return salt;
}

// The check file of data (one small block) from a started writer.
Bytes Finish(TVK_CheckFileWriter& writer, const Bytes& data)
{
    EXPECT_EQ(NPT_SUCCESS, writer.AddBlock(0, data.data(), static_cast<NPT_Size>(data.size())));
    NPT_DataBuffer out;
    EXPECT_EQ(NPT_SUCCESS, writer.Serialize(data.size(), out));
    return Bytes(out.GetData(), out.GetData() + out.GetDataSize());
}

TEST(CheckFileKeysTest, KeysDerivedOnceWriteAndReadTheSameFiles)
{
    const Bytes salt = Salt(1), data(700, 0x5a);
    TVK_CheckFileKeys keys;
    ASSERT_EQ(NPT_SUCCESS, keys.Derive(kPassword.data(), 2, salt.data(), TVK_CheckFile::SALT_SIZE, kIterations));
    EXPECT_EQ(NPT_ERROR_INVALID_STATE, keys.Derive(kPassword.data(), 2, salt.data(), TVK_CheckFile::SALT_SIZE,
                                                   kIterations));

    TVK_CheckFileWriter from_password, from_keys;
    ASSERT_EQ(NPT_SUCCESS, from_password.Start(kPassword.data(), 2, salt.data(), TVK_CheckFile::SALT_SIZE,
                                               kIterations, TVK_CheckFile::MIN_BLOCK_SIZE));
    ASSERT_EQ(NPT_SUCCESS, from_keys.Start(keys, TVK_CheckFile::MIN_BLOCK_SIZE));
    const Bytes file = Finish(from_keys, data);
    EXPECT_EQ(Finish(from_password, data), file);

    TVK_CheckFileReader reader;
    ASSERT_EQ(NPT_SUCCESS, reader.Parse(file.data(), static_cast<NPT_Size>(file.size())));
    EXPECT_EQ(Bytes(reader.Salt(), reader.Salt() + TVK_CheckFile::SALT_SIZE), salt);
    TVK_CheckFileKeys other_salt, wrong_password;
    const Bytes salt2 = Salt(2);
    ASSERT_EQ(NPT_SUCCESS, other_salt.Derive(kPassword.data(), 2, salt2.data(), TVK_CheckFile::SALT_SIZE,
                                             kIterations));
    ASSERT_EQ(NPT_SUCCESS, wrong_password.Derive(kPassword.data(), 1, salt.data(), TVK_CheckFile::SALT_SIZE,
                                                 kIterations));
    EXPECT_EQ(NPT_ERROR_INVALID_PARAMETERS, reader.VerifyPassword(other_salt));
    EXPECT_EQ(TVK_ERROR_WRONG_PASSWORD, reader.VerifyPassword(wrong_password));
    ASSERT_EQ(NPT_SUCCESS, reader.VerifyPassword(keys));
    EXPECT_EQ(NPT_SUCCESS, reader.VerifyBlock(0, data.data(), static_cast<NPT_Size>(data.size())));

    TVK_CheckFileKeys underived;
    TVK_CheckFileWriter unstarted;
    EXPECT_EQ(NPT_ERROR_INVALID_PARAMETERS, unstarted.Start(underived));
}

TEST(CheckFileKeysTest, CacheDerivesOncePerSaltAcrossThreads)
{
    TVK_CheckFileKeyCache cache;
    const Bytes salts[2] = {Salt(1), Salt(2)};
    std::vector<std::shared_ptr<const TVK_CheckFileKeys>> found(8);
    std::vector<std::thread> threads;
    for (size_t i = 0; i < found.size(); ++i) {
        threads.emplace_back([&, i] {
            EXPECT_EQ(NPT_SUCCESS, cache.Find(kPassword.data(), 2, salts[i % 2].data(), kIterations, found[i]));
        });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(2u, cache.Derivations());
    for (size_t i = 0; i < found.size(); ++i) {
        ASSERT_TRUE(found[i]);
        EXPECT_TRUE(found[i]->Fit(salts[i % 2].data(), kIterations));
        EXPECT_EQ(found[i % 2].get(), found[i].get());
    }
    // another count is another entry; a failed derivation is not kept
    std::shared_ptr<const TVK_CheckFileKeys> keys;
    EXPECT_EQ(NPT_ERROR_INVALID_PARAMETERS, cache.Find(kPassword.data(), 2, salts[0].data(), 0, keys));
    EXPECT_FALSE(keys);
    EXPECT_EQ(NPT_SUCCESS, cache.Find(kPassword.data(), 2, salts[0].data(), kIterations + 1, keys));
    EXPECT_EQ(3u, cache.Derivations());
    cache.Clear();
    EXPECT_TRUE(keys->IsDerived());  // held by its user
}

}  // namespace
