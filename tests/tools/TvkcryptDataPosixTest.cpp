// What tvkcrypt writes, where POSIX alone has the means to look: the
// 4 GiB notice (stopped through /proc and a signal), files that report
// no size, modes and owners of new and replaced files, writing in place
// (same inode, hard links), and devices.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <utility>
#include <vector>

#include "TvkTransform.h"
#include "ToolChecks.h"
#include "ToolRunner.h"

namespace tvkcrypt_test {
namespace {

const std::size_t B = tvkcrypt::kBlockSize;

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

}  // namespace
}  // namespace tvkcrypt_test
