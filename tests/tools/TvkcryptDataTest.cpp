// What tvkcrypt writes: byte-identical to the library's file form
// through files, pipes and redirected files, for sizes around the
// cipher's 1024-byte chunks and the tool's blocks; ranges; replacing the
// input itself; password sources. (Modes, owners, in-place writing and
// devices: TvkcryptDataPosixTest.cpp.)
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "TvkTransform.h"
#include "ToolChecks.h"
#include "ToolRunner.h"
#include "TvkCryptoHelper.h"

namespace tvkcrypt_test {
namespace {

const std::size_t B = tvkcrypt::kBlockSize;

class SizeTest : public ::testing::TestWithParam<std::size_t>
{
};

TEST_P(SizeTest, EncryptsLikeTheLibraryAndDecryptsBackThroughFilesAndPipes)
{
    TempDir dir;
    const std::string clear = PatternData(GetParam());
    const std::string expected = Library(clear, kPassword, NPT_BlockCipher::ENCRYPT);
    ASSERT_EQ(expected.size(), clear.size());
    WriteFile(dir / "clear", clear);

    // file to file
    RunResult run = RunWithPassword({"encrypt", dir / "clear", "-o", dir / "enc"}, kPassword);
    ExpectSuccess(run);
    EXPECT_TRUE(SameBytes(ReadFile(dir / "enc"), expected));

    // pipe to pipe
    run = RunWithPassword({"encrypt"}, kPassword, clear);
    ExpectSuccess(run);
    EXPECT_TRUE(SameBytes(run.out, expected));

    // file to pipe
    run = RunWithPassword({"decrypt", dir / "enc"}, kPassword);
    ExpectSuccess(run);
    EXPECT_TRUE(SameBytes(run.out, clear));

    // pipe to file
    run = RunWithPassword({"decrypt", "-", "-o", dir / "dec"}, kPassword, expected);
    ExpectSuccess(run);
    EXPECT_TRUE(SameBytes(ReadFile(dir / "dec"), clear));

    // standard input redirected from a file (read by position)
    RunSpec spec;
    spec.args = {"decrypt"};
    spec.env["TVK_PASSWORD"] = kPassword;
    spec.stdin_fd = OpenForInput(dir / "enc");
    ASSERT_GE(spec.stdin_fd, 0);
    run = RunTool(spec);
    CloseDescriptor(spec.stdin_fd);
    ExpectSuccess(run);
    EXPECT_TRUE(SameBytes(run.out, clear));

    // encrypting to a file wrote its check file beside it
    EXPECT_EQ(dir.List(), (std::vector<std::string>{"clear", "dec", "enc", "enc.tvkcheck"}));
}

INSTANTIATE_TEST_SUITE_P(AroundChunksAndBlocks, SizeTest,
                         ::testing::Values(0, 1, 15, 1023, 1024, 1025, B - 1, B, B + 1,
                                           2 * B + 17, 3 * B + 1000));

/*----------------------------------------------------------------------
|   ranges
+---------------------------------------------------------------------*/
struct RangeCase {
    std::string offset;  // empty: no --offset
    std::string length;  // empty: no --length
    std::size_t from;    // the cleartext slice expected
    std::size_t count;
};

class RangeTest : public ::testing::Test
{
protected:
    static const std::size_t kSize = 2 * B + 333;
};

TEST_F(RangeTest, EqualsTheSliceOfAFullDecryptionFromFilesPipesAndRedirections)
{
    TempDir dir;
    const std::string clear = PatternData(kSize, 7);
    const std::string encrypted = Library(clear, kPassword, NPT_BlockCipher::ENCRYPT);
    WriteFile(dir / "enc", encrypted);

    const std::vector<RangeCase> cases = {
        {"0", "10", 0, 10},
        {"1000", "100", 1000, 100},  // across a 1024-byte chunk
        {"1023", "2", 1023, 2},
        {"1K", "1", 1024, 1},
        {std::to_string(B - 5), "10", B - 5, 10},  // across a block
        {std::to_string(B + 7), "", B + 7, kSize - B - 7},
        {std::to_string(kSize - 7), "100", kSize - 7, 7},  // runs past the end
        {std::to_string(kSize), "", kSize, 0},
        {"0", "0", 0, 0},
        {"", std::to_string(B + 1), 0, B + 1},
        {"5", std::to_string(2 * B), 5, 2 * B},
    };
    for (const RangeCase& c : cases) {
        SCOPED_TRACE("offset '" + c.offset + "' length '" + c.length + "'");
        std::vector<std::string> args = {"decrypt"};
        if (!c.offset.empty()) args.insert(args.end(), {"--offset", c.offset});
        if (!c.length.empty()) args.insert(args.end(), {"--length=" + c.length});
        const std::string expected = clear.substr(c.from, c.count);

        std::vector<std::string> from_file = args;
        from_file.push_back(dir / "enc");
        RunResult run = RunWithPassword(from_file, kPassword);
        ExpectSuccess(run);
        EXPECT_TRUE(SameBytes(run.out, expected));

        run = RunWithPassword(args, kPassword, encrypted);
        ExpectSuccess(run);
        EXPECT_TRUE(SameBytes(run.out, expected));

        RunSpec redirected;
        redirected.args = args;
        redirected.env["TVK_PASSWORD"] = kPassword;
        redirected.stdin_fd = OpenForInput(dir / "enc");
        ASSERT_GE(redirected.stdin_fd, 0);
        run = RunTool(redirected);
        CloseDescriptor(redirected.stdin_fd);
        ExpectSuccess(run);
        EXPECT_TRUE(SameBytes(run.out, expected));
    }
}

// Offsets are 64-bit and the key stream repeats every 4 GiB: on a
// sparse all-zero file the range at 2^32 + x decrypts like the range at
// x. The file is not read up to the offset, so this is quick.
TEST_F(RangeTest, OffsetsBeyond4GiBSeekAndWrap)
{
    TempDir dir;
    const std::string path = dir / "sparse";
    if (!MakeFileOfSize(path, (1ull << 32) + 8192)) GTEST_SKIP() << "no sparse 4 GiB file here";

    RunResult low = RunWithPassword({"decrypt", "--offset", "100", "--length", "3000", path}, kPassword);
    RunResult high = RunWithPassword(
        {"decrypt", "--offset", std::to_string((1ull << 32) + 100), "--length", "3000", path}, kPassword);
    ExpectSuccess(low);
    ExpectSuccess(high);
    EXPECT_EQ(low.out.size(), 3000u);
    EXPECT_TRUE(SameBytes(high.out, low.out));
    EXPECT_NE(low.out, std::string(3000, '\0'));
}

/*----------------------------------------------------------------------
|   the target file
+---------------------------------------------------------------------*/
// FILE rewritten without its check file (written in place, with
// --no-check-file, or decrypted, onto itself or in place): the old FILE.tvkcheck described the
// old content and would refuse the right password, so it goes, with a
// note; a check file written elsewhere leaves none beside FILE either.
TEST(TargetTest, AStaleCheckFileGoesWhenItsFileIsRewritten)
{
    const std::vector<std::vector<std::string>> rewrites = {
        {"encrypt", "@/clear", "-f", "--in-place", "-o", "@/enc"},
        {"encrypt", "@/clear", "-f", "--no-check-file", "-o", "@/enc"},
        {"encrypt", "@/clear", "-f", "--check-file", "@/elsewhere", "-o", "@/enc"},
        {"decrypt", "@/enc", "-f", "-o", "@/enc"},
        {"decrypt", "@/copy", "-f", "--in-place", "-o", "@/enc"},
    };
    for (const std::vector<std::string>& rewrite : rewrites) {
        SCOPED_TRACE(rewrite[0] + " " + rewrite[3]);
        TempDir dir;
        WriteFile(dir / "clear", PatternData(3000));
        ExpectSuccess(RunWithPassword({"encrypt", dir / "clear", "-o", dir / "enc"}, "old password"));
        ASSERT_TRUE(Exists(dir / "enc.tvkcheck"));
        WriteFile(dir / "copy", ReadFile(dir / "enc"));
        WriteFile(dir / "copy.tvkcheck", ReadFile(dir / "enc.tvkcheck"));
        std::vector<std::string> args;
        for (const std::string& arg : rewrite) args.push_back(arg[0] == '@' ? dir.Path() + arg.substr(1) : arg);
        const std::string password = rewrite[0] == "encrypt" ? kPassword : "old password";
        RunResult run = RunWithPassword(args, password);
        ExpectSuccess(run);
        EXPECT_NE(run.err.find("note: removed '"), std::string::npos) << run.err;
        EXPECT_FALSE(Exists(dir / "enc.tvkcheck"));
        if (rewrite[0] == "encrypt") {
            ExpectSuccess(RunWithPassword({"decrypt", dir / "enc", "-o", dir / "back"}, kPassword));
        }
    }
}

TEST(TargetTest, SameFileAsInputIsReplacedSafelyWithForce)
{
    TempDir dir;
    const std::string clear = PatternData(2 * B + 5, 3);
    WriteFile(dir / "data", clear);
    RunResult run = RunWithPassword({"encrypt", "--force", "-o", dir / "data", dir / "data"}, kPassword);
    ExpectSuccess(run);
    EXPECT_TRUE(SameBytes(ReadFile(dir / "data"), Library(clear, kPassword, NPT_BlockCipher::ENCRYPT)));

    run = RunWithPassword({"decrypt", "-f", "-o", dir / "data", dir / "data"}, kPassword);
    ExpectSuccess(run);
    EXPECT_TRUE(SameBytes(ReadFile(dir / "data"), clear));
    // the check file described the encrypted content, which is gone
    EXPECT_EQ(dir.List(), (std::vector<std::string>{"data"}));
}

/*----------------------------------------------------------------------
|   password sources
+---------------------------------------------------------------------*/
TEST(PasswordSourceTest, FileFirstLineWinsOverTheEnvironment)
{
    TempDir dir;
    const std::string clear = PatternData(3000);
    WriteFile(dir / "clear", clear);
    const std::string expected = Library(clear, "from file", NPT_BlockCipher::ENCRYPT);

    const std::vector<std::string> files = {"from file", "from file\n", "from file\r\n",
                                            "from file\nsecond line\n"};
    for (const std::string& content : files) {
        // the same first line from a file and from standard input ("-")
        for (bool from_stdin : {false, true}) {
            SCOPED_TRACE(content + (from_stdin ? " on standard input" : " in a file"));
            WriteFile(dir / "pw", content);
            RunSpec spec;
            spec.args = {"encrypt", "--password-file", from_stdin ? "-" : dir / "pw", dir / "clear"};
            if (from_stdin) spec.stdin_data = content;
            spec.env["TVK_PASSWORD"] = "from environment";
            RunResult run = RunTool(spec);
            ExpectSuccess(run);
            EXPECT_TRUE(SameBytes(run.out, expected));
        }
    }
    RunResult run = RunWithPassword({"encrypt", dir / "clear"}, "from file");
    ExpectSuccess(run);
    EXPECT_TRUE(SameBytes(run.out, expected));
}

// Data encrypted with an empty password (the library allows it) can be
// decrypted; new data cannot be encrypted with one.
TEST(PasswordSourceTest, EmptyPasswordOnlyForDecrypting)
{
    TempDir dir;
    const std::string clear = PatternData(2000);
    WriteFile(dir / "enc", Library(clear, "", NPT_BlockCipher::ENCRYPT));
    WriteFile(dir / "pw", "\n");
    RunResult run = RunWithPassword({"decrypt", "--password-file", dir / "pw", dir / "enc"}, "");
    ExpectSuccess(run);
    EXPECT_TRUE(SameBytes(run.out, clear));

    run = RunWithPassword({"encrypt", "--password-file", dir / "pw", dir / "enc"}, "");
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_NE(run.err.find("is empty"), std::string::npos) << run.err;
}

}  // namespace
}  // namespace tvkcrypt_test
