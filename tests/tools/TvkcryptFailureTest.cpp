// How tvkcrypt fails: a clear message, exit status 1 (2 for usage
// errors), the target exactly as it was, no temporary left behind, and
// never a password taken from the command line.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include "ToolRunner.h"

namespace tvkcrypt_test {
namespace {

const char kPassword[] = "p4ss";
const char kOriginal[] = "the target's original content";

struct FailureCase {
    std::string name;
    std::vector<std::string> args;         // "@" is replaced by the scratch directory
    std::function<void(const TempDir&)> setup;
    bool        with_password = true;
    long long   file_size_limit = -1;
    std::string message;                   // expected in standard error
    bool        drop_root = false;         // a permission check that root would pass
};

void
PrintTo(const FailureCase& c, std::ostream* os)
{
    *os << c.name;
}

std::vector<std::string>
Expand(const std::vector<std::string>& args, const std::string& dir)
{
    std::vector<std::string> out;
    for (std::string arg : args) {
        if (!arg.empty() && arg[0] == '@') arg = dir + arg.substr(1);
        out.push_back(arg);
    }
    return out;
}

class FailureTest : public ::testing::TestWithParam<FailureCase>
{
};

TEST_P(FailureTest, ExitsOneAndLeavesTheTargetAlone)
{
    const FailureCase& c = GetParam();
    TempDir dir;
    WriteFile(dir / "clear", PatternData(3 << 20));
    WriteFile(dir / "target", kOriginal);
    if (c.setup) c.setup(dir);
    const std::vector<std::string> before = dir.List();

    RunSpec spec;
    spec.args = Expand(c.args, dir.Path());
    if (c.with_password) spec.env["TVK_PASSWORD"] = kPassword;
    spec.file_size_limit = c.file_size_limit;
    spec.drop_root = c.drop_root;
    RunResult run = RunTool(spec);
    if (c.drop_root && run.exited && (run.exit_code == 126 || run.exit_code == 127)) {
        GTEST_SKIP() << "the tool cannot be run as another user from here";
    }

    EXPECT_TRUE(run.exited) << "signal " << run.signal;
    EXPECT_EQ(run.exit_code, 1) << run.err;
    EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
    EXPECT_EQ(run.err.rfind("tvkcrypt: ", 0), 0u) << run.err;
    EXPECT_EQ(ReadFile(dir / "target"), kOriginal);
    EXPECT_EQ(dir.List(), before);
    EXPECT_TRUE(run.out.empty());
}

void
MakeDirectory(const TempDir& dir)
{
    mkdir((dir / "sub").c_str(), 0700);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FailureTest,
    ::testing::Values(
        FailureCase{"ExistingOutputWithoutForce", {"encrypt", "@/clear", "-o", "@/target"}, nullptr,
                    true, -1, "/target' already exists; use --force"},
        FailureCase{"MissingInput", {"encrypt", "@/missing", "-f", "-o", "@/target"}, nullptr, true,
                    -1, "/missing': no such file"},
        FailureCase{"InputIsADirectory", {"encrypt", "@/sub", "-f", "-o", "@/target"}, MakeDirectory,
                    true, -1, "/sub': is a directory"},
        FailureCase{"UnreadableInput", {"encrypt", "@/locked", "-f", "-o", "@/target"},
                    [](const TempDir& d) {
                        WriteFile(d / "locked", "x");
                        chmod((d / "locked").c_str(), 0);
                        chmod(d.Path().c_str(), 0755);
                    },
                    true, -1, "/locked': permission denied", true},
        FailureCase{"OutputTooLarge", {"encrypt", "@/clear", "-f", "-o", "@/target"}, nullptr, true,
                    1 << 20, "/target': file too large"},
        FailureCase{"OutputIsADirectory", {"encrypt", "@/clear", "-f", "-o", "@/sub"}, MakeDirectory,
                    true, -1, "/sub': is a directory"},
        FailureCase{"OutputDirectoryMissing", {"encrypt", "@/clear", "-o", "@/nowhere/out"}, nullptr,
                    true, -1, "/nowhere/out': no such file"},
        // found before any password is asked for
        FailureCase{"OutputDirectoryMissingNoPassword", {"encrypt", "@/clear", "-o", "@/nowhere/out"},
                    nullptr, false, -1, "/nowhere/out': no such file"},
        FailureCase{"MissingPasswordFile",
                    {"encrypt", "@/clear", "-f", "-o", "@/target", "--password-file", "@/nopw"},
                    nullptr, true, -1, "cannot open password file"},
        FailureCase{"EmptyPasswordFile",
                    {"encrypt", "@/clear", "-f", "-o", "@/target", "--password-file", "@/pw"},
                    [](const TempDir& d) { WriteFile(d / "pw", "\nsecond line\n"); }, true, -1,
                    "is empty"},
        FailureCase{"PasswordWithZeroByte",
                    {"decrypt", "@/clear", "-f", "-o", "@/target", "--password-file", "@/pw"},
                    [](const TempDir& d) { WriteFile(d / "pw", std::string("ab\0cd\n", 6)); }, true,
                    -1, "contains a zero byte"},
        FailureCase{"NoPasswordAndNoTerminal", {"encrypt", "@/clear", "-f", "-o", "@/target"},
                    nullptr, false, -1, "no password"},
        FailureCase{"OffsetPastTheEnd",
                    {"decrypt", "--offset", "3145729", "@/clear", "-f", "-o", "@/target"}, nullptr,
                    true, -1, "past the end"}),
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
    EXPECT_TRUE(run.exited) << "killed by signal " << run.signal;
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_NE(run.err.find("cannot write to standard output: broken pipe"), std::string::npos)
        << run.err;
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

/*----------------------------------------------------------------------
|   usage errors: exit 2, nothing written
+---------------------------------------------------------------------*/
struct UsageCase {
    std::vector<std::string> args;
    std::string message;
};

TEST(UsageTest, ExitsTwoWithoutTouchingAnything)
{
    const std::string refusal = "not accepted on the command line";
    const std::vector<UsageCase> cases = {
        {{}, "missing command"},
        {{"encrpyt", "@/in"}, "unknown command 'encrpyt'"},
        {{"encrypt", "@/in", "@/other"}, "unexpected argument"},
        {{"encrypt", "--offset", "5", "@/in"}, "decrypt only"},
        {{"decrypt", "--length", "12x", "@/in"}, "invalid byte count '12x'"},
        {{"decrypt", "--offset", "-3", "@/in"}, "invalid byte count '-3'"},
        {{"decrypt", "--offset", "99999999999999999999", "@/in"}, "invalid byte count"},
        {{"decrypt", "@/in", "--length"}, "needs a value"},
        {{"encrypt", "@/in", "-o"}, "needs a value"},
        {{"encrypt", "@/in", "--bogus"}, "unknown option '--bogus'"},
        {{"encrypt", "@/in", "-x"}, "unknown option '-x'"},
        {{"encrypt", "--force=yes", "@/in"}, "takes no value"},
        {{"encrypt", "@/in", "-o", "@/a"}, "more than once"},
        {{"encrypt", "-p", "secret", "@/in"}, refusal},
        {{"encrypt", "-psecret", "@/in"}, refusal},
        {{"decrypt", "--password", "secret", "@/in"}, refusal},
        {{"decrypt", "--password=secret", "@/in"}, refusal},
        {{"encrypt", "--passphrase", "secret", "@/in"}, refusal},
    };
    for (const UsageCase& c : cases) {
        TempDir dir;
        WriteFile(dir / "in", "data");
        // an output is named first, to see that nothing is created
        std::vector<std::string> args = {"-o", dir / "out"};
        for (const std::string& arg : Expand(c.args, dir.Path())) args.push_back(arg);
        SCOPED_TRACE(::testing::PrintToString(args));
        RunResult run = RunWithPassword(args, kPassword);
        EXPECT_EQ(run.exit_code, 2) << run.err;
        EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
        EXPECT_NE(run.err.find("Try 'tvkcrypt --help'"), std::string::npos);
        EXPECT_EQ(dir.List(), std::vector<std::string>{"in"});
        EXPECT_TRUE(run.out.empty());
    }
}

TEST(UsageTest, HelpAndVersion)
{
    for (const char* flag : {"--help", "-h"}) {
        RunResult run = RunWithPassword({"encrypt", flag}, kPassword);
        EXPECT_EQ(run.exit_code, 0);
        EXPECT_NE(run.out.find("Usage: tvkcrypt encrypt"), std::string::npos);
        EXPECT_NE(run.out.find("INPUT and FILE may be the same file"), std::string::npos);
        EXPECT_NE(run.out.find("TVK_PASSWORD"), std::string::npos);
        EXPECT_TRUE(run.err.empty());
    }
    RunResult run = RunWithPassword({"--version"}, kPassword);
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_EQ(run.out.rfind("tvkcrypt ", 0), 0u);
}

}  // namespace
}  // namespace tvkcrypt_test
