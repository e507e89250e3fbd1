/*****************************************************************
| ToolChecks.h - comparisons shared by the tool's black-box tests: the
| library's own file form of some data, byte comparison that reports the
| first difference instead of dumping megabytes, and a run's success.
****************************************************************/
#ifndef TVKCRYPT_TOOL_CHECKS_H
#define TVKCRYPT_TOOL_CHECKS_H

#include <gtest/gtest.h>

#include <string>

#include "ToolRunner.h"
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

inline void
ExpectSuccess(const RunResult& run)
{
    EXPECT_TRUE(run.exited && run.exit_code == 0)
        << "exit " << run.exit_code << " signal " << run.signal << ": " << run.err;
}

}  // namespace tvkcrypt_test

#endif  // TVKCRYPT_TOOL_CHECKS_H
