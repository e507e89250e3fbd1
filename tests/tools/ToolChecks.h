/*****************************************************************
| ToolChecks.h - comparisons shared by the tool's black-box tests: the
| library's own file form of some data and a check file for it, byte
| comparison that reports the first difference instead of dumping
| megabytes, and a run's success.
****************************************************************/
#ifndef TVKCRYPT_TOOL_CHECKS_H
#define TVKCRYPT_TOOL_CHECKS_H

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "NptDataBuffer.h"
#include "ToolRunner.h"
#include "TvkCheckFile.h"
#include "TvkCryptoHelper.h"

namespace tvkcrypt_test {

const char kPassword[] = "correct horse";

// Compares without dumping megabytes on failure.
inline ::testing::AssertionResult
SameBytes(const std::string& actual, const std::string& expected)
{
    if (actual == expected) return ::testing::AssertionSuccess();
    std::size_t i = 0;
    while (i < actual.size() && i < expected.size() && actual[i] == expected[i]) ++i;
    return ::testing::AssertionFailure() << "sizes " << actual.size() << " and " << expected.size()
                                         << ", first difference at byte " << i;
}

// The library's file form applied to data.
inline std::string
Library(const std::string& data, const char* password,
        NPT_BlockCipher::Direction direction = NPT_BlockCipher::ENCRYPT)
{
    TempDir dir;
    WriteFile(dir / "in", data);
    NPT_Result result = TVK_CryptoHelper::EncryptDecryptWithPassword(
        password, direction, (dir / "in").c_str(), (dir / "out").c_str());
    EXPECT_EQ(result, NPT_SUCCESS);
    return ReadFile(dir / "out");
}

// A check file for ciphertext with blocks of block_size and the
// cheapest key derivation a reader accepts, so that many runs stay fast.
inline std::string
CheckFileFor(const std::string& ciphertext, NPT_UInt32 block_size, const char* password = kPassword)
{
    TVK_CheckFileWriter writer;
    const NPT_UInt8 salt[TVK_CheckFile::SALT_SIZE] = {7};
    EXPECT_EQ(writer.Start(reinterpret_cast<const NPT_UInt8*>(password),
                           static_cast<NPT_Size>(std::strlen(password)), salt, sizeof(salt),
                           TVK_CheckFile::MIN_ITERATIONS, block_size),
              NPT_SUCCESS);
    if (!ciphertext.empty()) {
        EXPECT_EQ(writer.AddBlocks(0, reinterpret_cast<const NPT_UInt8*>(ciphertext.data()),
                                   static_cast<NPT_Size>(ciphertext.size())),
                  NPT_SUCCESS);
    }
    NPT_DataBuffer bytes;
    EXPECT_EQ(writer.Serialize(ciphertext.size(), bytes), NPT_SUCCESS);
    return std::string(reinterpret_cast<const char*>(bytes.GetData()), bytes.GetDataSize());
}

inline void
ExpectSuccess(const RunResult& run)
{
    EXPECT_TRUE(run.exited && run.exit_code == 0)
        << "exit " << run.exit_code << " signal " << run.signal << ": " << run.err;
}

}  // namespace tvkcrypt_test

#endif  // TVKCRYPT_TOOL_CHECKS_H
