// How tvkcrypt fails where POSIX has the means: unreadable files and
// directories (run as another user), a file size limit, links, full
// devices, closed pipes, a full file system, FIFOs that hold the tool at
// the password, terminating signals, and control bytes in file names.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "ToolFailureCase.h"
#include "ToolRunner.h"

namespace tvkcrypt_test {
namespace {

const char kPassword[] = "p4ss";

class PosixFailureTest : public ::testing::TestWithParam<FailureCase>
{
};

TEST_P(PosixFailureTest, ExitsOneAndLeavesTheTargetAlone)
{
    ExpectFailureLeavesTargetAlone(GetParam());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PosixFailureTest,
    ::testing::Values(
        FailureCase{"UnreadableInput", {"encrypt", "@/locked", "-f", "-o", "@/target"},
                    [](const TempDir& d) {
                        WriteFile(d / "locked", "x");
                        chmod((d / "locked").c_str(), 0);
                        chmod(d.Path().c_str(), 0755);
                    },
                    true, -1, "/locked': permission denied", true},
        FailureCase{"OutputTooLarge", {"encrypt", "@/clear", "-f", "-o", "@/target"}, nullptr, true,
                    1 << 20, "/target': file too large"},
        FailureCase{"UnwritableDirectory", {"encrypt", "@/clear", "-f", "-o", "@/target"},
                    [](const TempDir& d) { chmod(d.Path().c_str(), 0755); }, true, -1,
                    "the directory must be writable; --in-place writes into the existing file",
                    true},
        FailureCase{"InPlaceThroughALink",
                    {"encrypt", "@/clear", "-f", "--in-place", "-o", "@/link"},
                    [](const TempDir& d) { symlink((d / "target").c_str(), (d / "link").c_str()); },
                    true, -1, "does not write through the symbolic link"},
        FailureCase{"InPlaceIntoAnUnwritableFile",
                    {"encrypt", "@/clear", "-f", "--in-place", "-o", "@/target"},
                    [](const TempDir& d) { chmod(d.Path().c_str(), 0777); }, true, -1,
                    "/target': permission denied", true}),
    [](const ::testing::TestParamInfo<FailureCase>& info) { return info.param.name; });

// A full device and a closed pipe are write errors, not successes.
TEST(StandardOutputTest, FullDeviceAndClosedPipeFail)
{
    TempDir dir;
    WriteFile(dir / "clear", PatternData(3 << 20));

    RunSpec spec;
    spec.args = {"encrypt", dir / "clear"};
    spec.env["TVK_PASSWORD"] = kPassword;
    spec.stdout_fd = open("/dev/full", O_WRONLY | O_CLOEXEC);
    ASSERT_GE(spec.stdout_fd, 0);
    RunResult run = RunTool(spec);
    close(spec.stdout_fd);
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_NE(run.err.find("cannot write to standard output: no space left on device"),
              std::string::npos) << run.err;

    int fds[2];
    ASSERT_EQ(pipe2(fds, O_CLOEXEC), 0);
    close(fds[0]);
    spec.stdout_fd = fds[1];
    run = RunTool(spec);
    close(fds[1]);
    // a reader that went away (a pager quit): quiet, as cat, with the
    // status of a death by SIGPIPE
    EXPECT_TRUE(run.exited) << "killed by signal " << run.signal;
    EXPECT_EQ(run.exit_code, 141);
    EXPECT_EQ(run.err, "");
}

// A file system that fills up: mounted as a 1 MiB tmpfs in a private
// mount namespace (needs root; skipped elsewhere).
TEST(FullDiskTest, TargetOnAFullFileSystemIsLeftAlone)
{
    TempDir dir;
    const std::string small = dir / "small";
    ASSERT_EQ(mkdir(small.c_str(), 0700), 0);
    if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        mount("tmpfs", small.c_str(), "tmpfs", 0, "size=1m") != 0) {
        GTEST_SKIP() << "cannot mount a small file system here";
    }
    WriteFile(dir / "clear", PatternData(3 << 20));
    WriteFile(small + "/target", kOriginal);
    RunResult run = RunWithPassword({"encrypt", dir / "clear", "-f", "-o", small + "/target"}, kPassword);
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_NE(run.err.find("/small/target': no space left on device"), std::string::npos) << run.err;
    EXPECT_EQ(ReadFile(small + "/target"), kOriginal);
    EXPECT_EQ(ListDirectory(small), std::vector<std::string>{"target"});
    umount2(small.c_str(), MNT_DETACH);
}

// A target that appears after the existence check (here while the tool
// waits for its password) is not replaced without --force either.
TEST(RaceTest, ATargetCreatedWhileWaitingIsNotReplaced)
{
    TempDir dir;
    WriteFile(dir / "clear", PatternData(5000));
    ASSERT_EQ(mkfifo((dir / "pw").c_str(), 0600), 0);

    RunSpec spec;
    spec.args = {"encrypt", dir / "clear", "-o", dir / "target", "--password-file", dir / "pw"};
    bool fed = false;
    spec.watch = [&](pid_t, const std::string&) {
        // opening succeeds only once the tool has opened the FIFO to read
        // the password, that is after it looked for the target
        int fd = open((dir / "pw").c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) return false;
        WriteFile(dir / "target", kOriginal);
        fed = write(fd, "pw\n", 3) == 3;
        close(fd);
        return true;
    };
    RunResult run = RunTool(spec);
    EXPECT_TRUE(fed);
    EXPECT_EQ(run.exit_code, 1) << run.err;
    EXPECT_NE(run.err.find("/target' already exists; use --force"), std::string::npos) << run.err;
    EXPECT_EQ(ReadFile(dir / "target"), kOriginal);
    EXPECT_EQ(dir.List(), (std::vector<std::string>{"clear", "pw", "target"}));
}

TEST(StandardOutputTest, AppendingToTheInputItselfIsRefused)
{
    TempDir dir;
    const std::string clear = PatternData(5000);
    WriteFile(dir / "data", clear);
    RunSpec spec;
    spec.args = {"encrypt", dir / "data"};
    spec.env["TVK_PASSWORD"] = kPassword;
    spec.stdout_fd = open((dir / "data").c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    ASSERT_GE(spec.stdout_fd, 0);
    RunResult run = RunTool(spec);
    close(spec.stdout_fd);
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_NE(run.err.find("input file itself"), std::string::npos) << run.err;
    EXPECT_EQ(ReadFile(dir / "data"), clear);
}

// Interrupted while the output is being written: the temporary goes,
// the target stays, and the tool dies of the signal.
class InterruptTest : public ::testing::TestWithParam<int>
{
};

TEST_P(InterruptTest, RemovesTheTemporaryAndKeepsTheTarget)
{
    TempDir dir;
    WriteFile(dir / "target", kOriginal);
    int feed[2];
    ASSERT_EQ(pipe2(feed, O_CLOEXEC), 0);
    const std::string some = PatternData(100000);
    ASSERT_EQ(write(feed[1], some.data(), 50000), 50000);  // and the pipe stays open

    RunSpec spec;
    spec.args = {"encrypt", "-f", "-o", dir / "target"};
    spec.env["TVK_PASSWORD"] = kPassword;
    spec.stdin_fd = feed[0];
    bool temp_seen = false;
    const int signal_number = GetParam();
    spec.watch = [&](pid_t pid, const std::string&) {
        temp_seen = !HeldTemporary(pid, dir.Path()).empty();
        if (temp_seen) kill(pid, signal_number);
        return temp_seen;
    };
    RunResult run = RunTool(spec);
    close(feed[0]);
    close(feed[1]);
    EXPECT_TRUE(temp_seen);
    EXPECT_EQ(run.signal, signal_number) << run.err;
    EXPECT_EQ(ReadFile(dir / "target"), kOriginal);
    EXPECT_EQ(dir.List(), std::vector<std::string>{"target"});
}

INSTANTIATE_TEST_SUITE_P(Signals, InterruptTest, ::testing::Values(SIGINT, SIGTERM, SIGHUP, SIGQUIT));

// A file name in a message never carries a raw control byte: a newline
// would forge a second message line, an escape drives the terminal.
TEST(MessageTest, FileNamesWithControlBytesShowEscaped)
{
    TempDir dir;
    const std::vector<std::pair<std::string, std::string>> names = {
        {"new\nline", "new\\nline"}, {"\x1b]0;title\x07", "\\x1b]0;title\\x07"}};
    for (const auto& name : names) {
        RunResult run = RunWithPassword({"encrypt", dir / name.first}, kPassword);
        EXPECT_EQ(run.exit_code, 1);
        const std::string shown = "$'" + dir.Path() + "/" + name.second + "': no such file";
        EXPECT_NE(run.err.find(shown), std::string::npos) << run.err;
        EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << run.err;
        EXPECT_EQ(run.err.find('\x1b'), std::string::npos) << run.err;
    }
}

}  // namespace
}  // namespace tvkcrypt_test
