// What tvkcrypt writes: byte-identical to the library's file form
// through files, pipes and redirected files, for sizes around the
// cipher's 1024-byte chunks and the tool's blocks; ranges; in-place
// replacement; modes and links of the target; password sources.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <utility>
#include <vector>

#include "Transform.h"
#include "ToolRunner.h"
#include "TvkCryptoHelper.h"

namespace tvkcrypt_test {
namespace {

const std::size_t B = tvkcrypt::kBlockSize;
const char kPassword[] = "correct horse";

// Compares without dumping megabytes on failure.
::testing::AssertionResult
SameBytes(const std::string& actual, const std::string& expected)
{
    if (actual == expected) return ::testing::AssertionSuccess();
    std::size_t i = 0;
    while (i < actual.size() && i < expected.size() && actual[i] == expected[i]) ++i;
    return ::testing::AssertionFailure() << "sizes " << actual.size() << " and " << expected.size()
                                         << ", first difference at byte " << i;
}

// The library's file form applied to data.
std::string
Library(const std::string& data, const char* password, NPT_BlockCipher::Direction direction)
{
    TempDir dir;
    WriteFile(dir / "in", data);
    NPT_Result result = TVK_CryptoHelper::EncryptDecryptWithPassword(
        password, direction, (dir / "in").c_str(), (dir / "out").c_str());
    EXPECT_EQ(result, NPT_SUCCESS);
    return ReadFile(dir / "out");
}

void
ExpectSuccess(const RunResult& run)
{
    EXPECT_TRUE(run.exited && run.exit_code == 0)
        << "exit " << run.exit_code << " signal " << run.signal << ": " << run.err;
}

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
    spec.stdin_fd = open((dir / "enc").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(spec.stdin_fd, 0);
    run = RunTool(spec);
    close(spec.stdin_fd);
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
        redirected.stdin_fd = open((dir / "enc").c_str(), O_RDONLY | O_CLOEXEC);
        ASSERT_GE(redirected.stdin_fd, 0);
        run = RunTool(redirected);
        close(redirected.stdin_fd);
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
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_GE(fd, 0);
    const off_t size = (off_t(1) << 32) + 8192;
    bool sparse_ok = ftruncate(fd, size) == 0;
    close(fd);
    if (!sparse_ok) GTEST_SKIP() << "no sparse 4 GiB file here";

    RunResult low = RunWithPassword({"decrypt", "--offset", "100", "--length", "3000", path}, kPassword);
    RunResult high = RunWithPassword(
        {"decrypt", "--offset", std::to_string((1ull << 32) + 100), "--length", "3000", path}, kPassword);
    ExpectSuccess(low);
    ExpectSuccess(high);
    EXPECT_EQ(low.out.size(), 3000u);
    EXPECT_TRUE(SameBytes(high.out, low.out));
    EXPECT_NE(low.out, std::string(3000, '\0'));
}

// A warning about the data's safety: -q (progress and notices off)
// still prints it, only -qq hides it.
TEST(NoticeTest, EncryptingMoreThan4GiBIsWarnedUnlessQuietTwice)
{
    TempDir dir;
    const std::string path = dir / "big";
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_GE(fd, 0);
    bool sparse_ok = ftruncate(fd, (off_t(1) << 32) + 1) == 0;
    close(fd);
    if (!sparse_ok) GTEST_SKIP() << "no sparse 4 GiB file here";

    const std::vector<std::pair<std::vector<std::string>, bool>> cases = {
        {{}, true}, {{"-q"}, true}, {{"--quiet"}, true}, {{"-qq"}, false}, {{"-q", "--quiet"}, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.first.empty() ? "no option" : c.first.front() + " x" + std::to_string(c.first.size()));
        // warnings come before any data is written: once the output has
        // grown, stop the run
        RunSpec spec;
        spec.args = {"encrypt", path, "-o", dir / "out"};
        spec.args.insert(spec.args.end(), c.first.begin(), c.first.end());
        spec.env["TVK_PASSWORD"] = kPassword;
        spec.watch = [&](pid_t pid, const std::string&) {
            std::string temporary = HeldTemporary(pid, dir.Path());
            struct stat st;
            if (temporary.empty() || stat(temporary.c_str(), &st) != 0 || st.st_size == 0) return false;
            kill(pid, SIGTERM);
            return true;
        };
        RunResult run = RunTool(spec);
        EXPECT_EQ(run.signal, SIGTERM);
        const bool warned =
            run.err.find("tvkcrypt: warning: encrypting more than 4 GiB") != std::string::npos;
        EXPECT_EQ(warned, c.second) << run.err;
        EXPECT_EQ(dir.List(), std::vector<std::string>{"big"});
    }
}

// Files in /proc report a size of 0 yet have content: they are read to
// their end, not taken as empty.
TEST(InputTest, AFileReportingNoSizeIsReadToItsEnd)
{
    const std::string path = "/proc/version";
    struct stat st;
    if (stat(path.c_str(), &st) != 0 || st.st_size != 0) GTEST_SKIP() << "no such file here";
    const std::string clear = ReadFile(path);
    ASSERT_FALSE(clear.empty());

    TempDir dir;
    ExpectSuccess(RunWithPassword({"encrypt", path, "-o", dir / "enc"}, kPassword));
    EXPECT_TRUE(SameBytes(ReadFile(dir / "enc"), Library(clear, kPassword, NPT_BlockCipher::ENCRYPT)));
    RunResult run = RunWithPassword({"decrypt", dir / "enc"}, kPassword);
    ExpectSuccess(run);
    EXPECT_TRUE(SameBytes(run.out, clear));
    // and a range of it, skipped up to rather than seeked
    run = RunWithPassword({"decrypt", "--offset", "3", "--length", "5", path}, kPassword);
    ExpectSuccess(run);
    EXPECT_EQ(run.out, Library(clear, kPassword, NPT_BlockCipher::DECRYPT).substr(3, 5));
}

/*----------------------------------------------------------------------
|   the target file
+---------------------------------------------------------------------*/
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
    EXPECT_EQ(dir.List(), (std::vector<std::string>{"data", "data.tvkcheck"}));
}

TEST(TargetTest, ModesOfNewAndReplacedFiles)
{
    TempDir dir;
    WriteFile(dir / "clear", "some text");
    WriteFile(dir / "old", "previous content, longer than the new one");
    ASSERT_EQ(chmod((dir / "old").c_str(), 0640), 0);

    ExpectSuccess(RunWithPassword({"encrypt", dir / "clear", "-o", dir / "new"}, kPassword));
    ExpectSuccess(RunWithPassword({"encrypt", dir / "clear", "-f", "-o", dir / "old"}, kPassword));
    EXPECT_EQ(ModeOf(dir / "new"), 0600u);
    EXPECT_EQ(ModeOf(dir / "old"), 0640u);
    EXPECT_EQ(ReadFile(dir / "old"), ReadFile(dir / "new"));
}

TEST(TargetTest, RootReplacingAnotherUsersFileLeavesItTheirs)
{
    if (geteuid() != 0) GTEST_SKIP() << "only root can give files away";
    TempDir dir;
    WriteFile(dir / "clear", "text");
    WriteFile(dir / "theirs", "old");
    ASSERT_EQ(chown((dir / "theirs").c_str(), 4321, 4322), 0);
    ExpectSuccess(RunWithPassword({"encrypt", dir / "clear", "-f", "-o", dir / "theirs"}, kPassword));
    struct stat st;
    ASSERT_EQ(stat((dir / "theirs").c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 4321u);
    EXPECT_EQ(st.st_gid, 4322u);
    EXPECT_EQ(ReadFile(dir / "theirs"), Library("text", kPassword, NPT_BlockCipher::ENCRYPT));
}

// --in-place writes into the file itself: same inode, so hard links see
// the new content and the mode stays; a longer old file is cut to the
// output's length, a shorter one grows; nothing else appears beside it.
TEST(TargetTest, InPlaceKeepsTheFileAndCutsItToTheOutput)
{
    const std::string clear = PatternData(2 * B + 5, 9);  // two workers
    const std::string expected = Library(clear, kPassword, NPT_BlockCipher::ENCRYPT);
    for (std::size_t old_size : {std::size_t(0), std::size_t(10), 3 * B}) {
        SCOPED_TRACE(old_size);
        TempDir dir;
        WriteFile(dir / "clear", clear);
        WriteFile(dir / "target", PatternData(old_size, 5));
        ASSERT_EQ(chmod((dir / "target").c_str(), 0640), 0);
        ASSERT_EQ(link((dir / "target").c_str(), (dir / "link").c_str()), 0);
        struct stat before, after;
        ASSERT_EQ(stat((dir / "target").c_str(), &before), 0);

        ExpectSuccess(RunWithPassword({"encrypt", dir / "clear", "-f", "--in-place", "-o", dir / "target"},
                                      kPassword));
        ASSERT_EQ(stat((dir / "target").c_str(), &after), 0);
        EXPECT_EQ(after.st_ino, before.st_ino);
        EXPECT_EQ(ModeOf(dir / "target"), 0640u);
        EXPECT_TRUE(SameBytes(ReadFile(dir / "link"), expected));
        EXPECT_EQ(dir.List(), (std::vector<std::string>{"clear", "link", "target"}));
    }
}

// The case --in-place exists for: a file the user may write in a
// directory they may not (run as nobody in a directory owned by root).
TEST(TargetTest, InPlaceWorksWhereTheDirectoryIsNotWritable)
{
    if (geteuid() != 0) GTEST_SKIP() << "needs root to run the tool as another user";
    TempDir dir;
    const std::string clear = PatternData(5000);
    WriteFile(dir / "clear", clear);
    WriteFile(dir / "target", "old");
    ASSERT_EQ(chmod(dir.Path().c_str(), 0755), 0);
    ASSERT_EQ(chmod((dir / "clear").c_str(), 0644), 0);
    ASSERT_EQ(chmod((dir / "target").c_str(), 0666), 0);
    RunSpec spec;
    spec.args = {"encrypt", dir / "clear", "-f", "--in-place", "-o", dir / "target"};
    spec.env["TVK_PASSWORD"] = kPassword;
    spec.drop_root = true;
    RunResult run = RunTool(spec);
    if (run.exited && (run.exit_code == 126 || run.exit_code == 127)) {
        GTEST_SKIP() << "the tool cannot be run as another user from here";
    }
    ExpectSuccess(run);
    EXPECT_TRUE(SameBytes(ReadFile(dir / "target"), Library(clear, kPassword, NPT_BlockCipher::ENCRYPT)));
}

TEST(TargetTest, DevicesAreWrittenDirectlyWithoutForce)
{
    TempDir dir;
    WriteFile(dir / "clear", PatternData(5000));
    ExpectSuccess(RunWithPassword({"encrypt", dir / "clear", "-o", "/dev/null"}, kPassword));
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
