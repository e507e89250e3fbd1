// The tool and the C interface read each other's files: the tool
// decrypts and checks what the C writer committed (and finds a flipped
// byte in it), and the C reader, verification and file form read and
// verify what the tool encrypted. The C reader also verifies check
// blocks larger than the slices it reads them in.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "ToolChecks.h"
#include "ToolRunner.h"
#include "TvkCrypto/c.h"

namespace tvkcrypt_test {
namespace {

const std::size_t kSize = 3 * 512 * 1024 + 99;  // four check blocks

TEST(CApiInterop, TheToolDecryptsAndChecksWhatTheCWriterCommitted)
{
    TempDir dir;
    const std::string clear = PatternData(kSize, 21);
    tvk_writer* writer = nullptr;
    ASSERT_EQ(tvk_writer_open((dir / "enc").c_str(), kPassword, std::strlen(kPassword), 0, nullptr, &writer),
              TVK_SUCCESS);
    EXPECT_EQ(tvk_writer_write(writer, clear.data(), 1000), TVK_SUCCESS);
    EXPECT_EQ(tvk_writer_write(writer, clear.data() + 1000, clear.size() - 1000), TVK_SUCCESS);
    ASSERT_EQ(tvk_writer_commit(writer), TVK_SUCCESS);
    tvk_writer_destroy(writer);
    EXPECT_TRUE(SameBytes(ReadFile(dir / "enc"), Library(clear, kPassword)));

    RunResult check = RunWithPassword({"check", dir / "enc"}, kPassword);
    ExpectSuccess(check);
    RunResult back = RunWithPassword({"decrypt", dir / "enc", "--offset", "600000", "--length", "1000000"}, kPassword);
    ExpectSuccess(back);
    EXPECT_TRUE(SameBytes(back.out, clear.substr(600000, 1000000)));
    EXPECT_EQ(RunWithPassword({"check", dir / "enc"}, "wrong").err, "tvkcrypt: wrong password\n");

    std::string changed = ReadFile(dir / "enc");
    changed[kSize - 5] ^= 2;
    WriteFile(dir / "enc", changed);
    RunResult damaged = RunWithPassword({"check", dir / "enc"}, kPassword);
    EXPECT_EQ(damaged.exit_code, 1) << damaged.err;
}

TEST(CApiInterop, TheCInterfaceReadsAndVerifiesWhatTheToolEncrypted)
{
    TempDir dir;
    const std::string clear = PatternData(kSize, 22);
    WriteFile(dir / "clear", clear);
    ExpectSuccess(RunWithPassword({"encrypt", dir / "clear", "-o", dir / "enc"}, kPassword));

    tvk_reader* reader = nullptr;
    ASSERT_EQ(tvk_reader_open((dir / "enc").c_str(), kPassword, std::strlen(kPassword), TVK_VERIFY_REQUIRED,
                              nullptr, &reader),
              TVK_SUCCESS);
    std::string range(700000, '\0');
    std::size_t got = 0;
    EXPECT_EQ(tvk_reader_read(reader, 500000, &range[0], range.size(), &got, nullptr), TVK_SUCCESS);
    EXPECT_EQ(got, range.size());
    EXPECT_TRUE(SameBytes(range, clear.substr(500000, range.size())));
    tvk_reader_close(reader);

    tvk_range damaged = {1, 1};
    EXPECT_EQ(tvk_check_verify((dir / "enc").c_str(), nullptr, kPassword, std::strlen(kPassword), &damaged),
              TVK_SUCCESS);
    EXPECT_EQ(tvk_decrypt_file((dir / "enc").c_str(), (dir / "back").c_str(), kPassword, std::strlen(kPassword), 0,
                               TVK_VERIFY_REQUIRED, nullptr, &damaged),
              TVK_SUCCESS);
    EXPECT_TRUE(SameBytes(ReadFile(dir / "back"), clear));
    EXPECT_EQ(tvk_check_verify((dir / "enc").c_str(), nullptr, "wrong", 5, &damaged), TVK_ERROR_WRONG_PASSWORD);
}

TEST(CApiInterop, TheReaderVerifiesBlocksLargerThanItsSlices)
{
    const std::size_t block = 4 << 20, size = block + (1 << 20) + 5;
    const std::string clear = PatternData(size, 23);
    std::string enc = Library(clear, kPassword);
    TempDir dir;
    WriteFile(dir / "enc.tvkcheck", CheckFileFor(enc, block));
    for (bool damaged : {false, true}) {
        if (damaged) enc[block + 10] ^= 8;
        WriteFile(dir / "enc", enc);
        tvk_reader* reader = nullptr;
        ASSERT_EQ(tvk_reader_open((dir / "enc").c_str(), kPassword, std::strlen(kPassword), TVK_VERIFY_REQUIRED,
                                  nullptr, &reader),
                  TVK_SUCCESS);
        std::string range(2 << 20, '\0');
        std::size_t got = 0;
        tvk_range where = {0, 0};
        const tvk_result result = tvk_reader_read(reader, block - 1000, &range[0], range.size(), &got, &where);
        tvk_reader_close(reader);
        if (damaged) {
            EXPECT_EQ(result, TVK_ERROR_DATA_DAMAGED);
            EXPECT_EQ(got, 1000u);
            EXPECT_EQ(where.offset, block);
            EXPECT_EQ(where.length, size - block);
        } else {
            EXPECT_EQ(result, TVK_SUCCESS);
            EXPECT_EQ(got, size - (block - 1000));
        }
        EXPECT_TRUE(SameBytes(range.substr(0, got), clear.substr(block - 1000, got)));
    }
}

}  // namespace
}  // namespace tvkcrypt_test
