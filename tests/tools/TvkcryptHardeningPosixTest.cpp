// What an attacker on the same machine could try against tvkcrypt: a
// symbolic link or a swapped name at the output, a kill -9 in the middle
// of a decryption, a core dump, a look at /proc/PID/environ, a password
// file that others can read.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include "ToolChecks.h"
#include "ToolRunner.h"
#include "TvkCryptoHelper.h"

namespace tvkcrypt_test {
namespace {

const char kOriginal[] = "someone else's precious content";
const uid_t kOtherUser = 4321;

bool
IsLink(const std::string& path)
{
    struct stat st;
    return lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

// Runs the tool with its password coming through the FIFO dir/pw; once
// the tool has opened it (everything before the password is done),
// during(pid) runs, then the password is written.
RunResult
RunPausedAtPassword(const TempDir& dir, std::vector<std::string> args,
                    const std::function<void(pid_t)>& during,
                    std::map<std::string, std::string> env = {})
{
    const std::string fifo = dir / "pw";
    EXPECT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    RunSpec spec;
    args.push_back("--password-file");
    args.push_back(fifo);
    spec.args = args;
    spec.env = env;
    spec.watch = [&](pid_t pid, const std::string&) {
        int fd = open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) return false;
        during(pid);
        std::string line = std::string(kPassword) + "\n";
        EXPECT_EQ(write(fd, line.data(), line.size()), static_cast<ssize_t>(line.size()));
        close(fd);
        return true;
    };
    RunResult run = RunTool(spec);
    unlink(fifo.c_str());
    return run;
}

/*----------------------------------------------------------------------
|   symbolic links at the output
+---------------------------------------------------------------------*/
struct LinkCase {
    std::string name;
    bool        follow;
    uid_t       link_owner;    // 0: the caller
    uid_t       target_owner;  // 0: the caller
    bool        target_replaced;
    std::string message;       // expected on failure
    bool        other_users_hop = false;  // link -> another user's link -> target
};

void
PrintTo(const LinkCase& c, std::ostream* os)
{
    *os << c.name;
}

class LinkTest : public ::testing::TestWithParam<LinkCase>
{
};

TEST_P(LinkTest, TheLinkIsReplacedUnlessFollowedAndOwned)
{
    const LinkCase& c = GetParam();
    if ((c.link_owner != 0 || c.target_owner != 0 || c.other_users_hop) && geteuid() != 0) {
        GTEST_SKIP() << "only root can plant another user's files";
    }
    TempDir dir;
    const std::string elsewhere = dir / "elsewhere";
    ASSERT_EQ(mkdir(elsewhere.c_str(), 0700), 0);
    const std::string real = elsewhere + "/real";
    WriteFile(real, kOriginal);
    ASSERT_EQ(chmod(real.c_str(), 0640), 0);
    if (c.other_users_hop) {
        const std::string hop = elsewhere + "/hop";
        ASSERT_EQ(symlink(real.c_str(), hop.c_str()), 0);
        ASSERT_EQ(lchown(hop.c_str(), kOtherUser, kOtherUser), 0);
        ASSERT_EQ(symlink(hop.c_str(), (dir / "link").c_str()), 0);
    } else {
        ASSERT_EQ(symlink(real.c_str(), (dir / "link").c_str()), 0);
    }
    if (c.target_owner != 0) {
        ASSERT_EQ(chown(real.c_str(), c.target_owner, c.target_owner), 0);
    }
    if (c.link_owner != 0) {
        ASSERT_EQ(lchown((dir / "link").c_str(), c.link_owner, c.link_owner), 0);
    }
    WriteFile(dir / "clear", "linked");

    std::vector<std::string> args = {"encrypt", dir / "clear", "-f", "-o", dir / "link"};
    if (c.follow) args.push_back("--follow-symlinks");
    RunResult run = RunWithPassword(args, kPassword);

    const std::string expected = Library("linked", kPassword);
    if (!c.message.empty()) {
        EXPECT_EQ(run.exit_code, 1);
        EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
        EXPECT_TRUE(IsLink(dir / "link"));
        EXPECT_EQ(ReadFile(real), kOriginal);
    } else if (c.target_replaced) {
        EXPECT_EQ(run.exit_code, 0) << run.err;
        EXPECT_TRUE(IsLink(dir / "link"));
        EXPECT_EQ(ReadFile(real), expected);
        EXPECT_EQ(ModeOf(real), 0640u);
    } else {
        EXPECT_EQ(run.exit_code, 0) << run.err;
        EXPECT_FALSE(IsLink(dir / "link"));
        EXPECT_EQ(ReadFile(dir / "link"), expected);
        EXPECT_EQ(ModeOf(dir / "link"), 0600u);
        EXPECT_EQ(ReadFile(real), kOriginal);
    }
    const std::vector<std::string> kept = c.other_users_hop ? std::vector<std::string>{"hop", "real"}
                                                            : std::vector<std::string>{"real"};
    EXPECT_EQ(ListDirectory(elsewhere), kept);
}

const std::string kRefused = "refusing to write through the symbolic link";

INSTANTIATE_TEST_SUITE_P(
    Cases, LinkTest,
    ::testing::Values(LinkCase{"ByDefaultTheLinkItselfIsReplaced", false, 0, 0, false, ""},
                      LinkCase{"AnotherUsersLinkIsReplacedByDefault", false, kOtherUser, 0, false, ""},
                      LinkCase{"FollowedWhenBothAreOurs", true, 0, 0, true, ""},
                      LinkCase{"NotFollowedWhenTheLinkIsNotOurs", true, kOtherUser, 0, false,
                               kRefused},
                      LinkCase{"NotFollowedWhenTheTargetIsNotOurs", true, 0, kOtherUser, false,
                               kRefused},
                      // every link on the way is checked, not only the first
                      LinkCase{"NotFollowedThroughAnotherUsersLinkOnTheWay", true, 0, 0, false, kRefused,
                               true}),
    [](const ::testing::TestParamInfo<LinkCase>& info) { return info.param.name; });

TEST(LinkToDeviceTest, IsWrittenThroughWithoutForce)
{
    TempDir dir;
    WriteFile(dir / "clear", PatternData(5000));
    ASSERT_EQ(symlink("/dev/null", (dir / "null").c_str()), 0);
    RunResult run = RunWithPassword({"encrypt", dir / "clear", "-o", dir / "null"}, kPassword);
    EXPECT_EQ(run.exit_code, 0) << run.err;
    EXPECT_TRUE(IsLink(dir / "null"));
}

// The names of the standard streams are the streams: with standard
// output redirected to a file, -o /dev/stdout writes that file, and the
// link (shared by every process) stays. Other links of /dev and /proc
// are never replaced.
TEST(LinkToDeviceTest, StandardStreamNamesWriteWhereTheStreamGoes)
{
    for (const char* name : {"/dev/stdout", "/dev/fd/1", "/proc/self/fd/1"}) {
        SCOPED_TRACE(name);
        TempDir dir;
        WriteFile(dir / "clear", PatternData(5000));
        WriteFile(dir / "redirected", "");
        RunSpec spec;
        spec.args = {"encrypt", dir / "clear", "-f", "-o", name};
        spec.env["TVK_PASSWORD"] = kPassword;
        spec.stdout_fd = open((dir / "redirected").c_str(), O_WRONLY | O_CLOEXEC);
        RunResult run = RunTool(spec);
        close(spec.stdout_fd);
        EXPECT_EQ(run.exit_code, 0) << run.err;
        EXPECT_EQ(ReadFile(dir / "redirected"), Library(PatternData(5000), kPassword));
        EXPECT_EQ(dir.List(), (std::vector<std::string>{"clear", "redirected"}));
    }
    EXPECT_TRUE(IsLink("/dev/stdout"));
    TempDir dir;
    WriteFile(dir / "clear", "data");
    RunResult run = RunWithPassword({"encrypt", dir / "clear", "-f", "-o", "/proc/self/cwd"}, kPassword);
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_NE(run.err.find("refusing to replace '/proc/self/cwd'"), std::string::npos) << run.err;
}

// The name checked first is swapped for a link to a private file while
// the tool waits for its password: that file stays untouched, and the
// output does not take the owner and mode of the file that was checked
// but of the object it replaces (a link: none, so the caller's, 0600).
TEST(OwnerRaceTest, ANameSwappedAfterTheCheckGivesNothingAway)
{
    TempDir dir;
    const std::string secret = dir / "secret";
    WriteFile(secret, kOriginal);
    ASSERT_EQ(chmod(secret.c_str(), 0600), 0);
    const std::string out = dir / "out";
    WriteFile(out, "planted");
    ASSERT_EQ(chmod(out.c_str(), 0666), 0);
    const bool root = geteuid() == 0;
    if (root) {
        ASSERT_EQ(chown(out.c_str(), kOtherUser, kOtherUser), 0);
    }
    WriteFile(dir / "clear", "private data");

    RunResult run = RunPausedAtPassword(dir, {"encrypt", dir / "clear", "-f", "-o", out}, [&](pid_t) {
        unlink(out.c_str());
        EXPECT_EQ(symlink(secret.c_str(), out.c_str()), 0);
    });
    EXPECT_EQ(ReadFile(secret), kOriginal);
    EXPECT_EQ(ModeOf(secret), 0600u);
    EXPECT_EQ(run.exit_code, 0) << run.err;
    struct stat st;
    ASSERT_EQ(lstat(out.c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    EXPECT_EQ(st.st_uid, geteuid());
    EXPECT_EQ(ReadFile(out), Library("private data", kPassword));
}

/*----------------------------------------------------------------------
|   a killed decryption leaves nothing behind
+---------------------------------------------------------------------*/
TEST(KillTest, ADecryptionKilledMidwayLeavesNoCleartext)
{
    TempDir dir;
    const std::string work = dir / "work";
    ASSERT_EQ(mkdir(work.c_str(), 0700), 0);
    int feed[2];
    ASSERT_EQ(pipe2(feed, O_CLOEXEC), 0);
    // less than a pipe holds, and the pipe stays open
    const std::string some = PatternData(50000);
    ASSERT_EQ(write(feed[1], some.data(), some.size()), static_cast<ssize_t>(some.size()));

    RunSpec spec;
    spec.args = {"decrypt", "-o", work + "/clear"};
    spec.env["TVK_PASSWORD"] = kPassword;
    spec.stdin_fd = feed[0];
    bool written = false;
    spec.watch = [&](pid_t pid, const std::string&) {
        std::string temporary = HeldTemporary(pid, work);
        struct stat st;
        written = !temporary.empty() && stat(temporary.c_str(), &st) == 0 && st.st_size > 0;
        if (written) kill(pid, SIGKILL);
        return written;
    };
    RunResult run = RunTool(spec);
    close(feed[0]);
    close(feed[1]);
    EXPECT_TRUE(written);
    EXPECT_EQ(run.signal, SIGKILL);
    EXPECT_EQ(ListDirectory(work), std::vector<std::string>{});
}

/*----------------------------------------------------------------------
|   secrets in the process
+---------------------------------------------------------------------*/
std::string
ProcFile(pid_t pid, const std::string& name)
{
    return ReadFile("/proc/" + std::to_string(pid) + "/" + name);
}

// A tool waiting for its password: no core dumps, not dumpable, secret
// memory marked for leaving out of dumps, and TVK_PASSWORD already gone
// from its environment even though the password comes from a file.
TEST(SecretsTest, NoCoreDumpAndNoPasswordInTheEnvironment)
{
    TempDir dir;
    WriteFile(dir / "clear", "data");
    const std::string from_environment = "env-secret-0123456789";
    std::string limits, smaps, environment;
    bool environment_readable = false;
    RunResult run = RunPausedAtPassword(
        dir, {"encrypt", dir / "clear"},
        [&](pid_t pid) {
            limits = ProcFile(pid, "limits");
            smaps = ProcFile(pid, "smaps");
            std::ifstream in("/proc/" + std::to_string(pid) + "/environ", std::ios::binary);
            environment_readable = static_cast<bool>(in);
            environment = ProcFile(pid, "environ");
        },
        {{"TVK_PASSWORD", from_environment}});
    EXPECT_EQ(run.exit_code, 0) << run.err;

    std::string core_line = limits.substr(limits.find("Max core file size"));
    core_line = core_line.substr(0, core_line.find('\n'));
    EXPECT_NE(core_line.find(" 0 "), std::string::npos) << core_line;
    EXPECT_NE(smaps.find("VmFlags:"), std::string::npos);
    EXPECT_NE(smaps.find(" dd"), std::string::npos) << "no memory is kept out of core dumps";
    if (environment_readable) {
        EXPECT_EQ(environment.find(from_environment), std::string::npos);
    }
}

TEST(SecretsTest, TheProcessIsNotDumpable)
{
    if (geteuid() != 0) GTEST_SKIP() << "needs root to run the tool as another user";
    TempDir dir;
    ASSERT_EQ(chmod(dir.Path().c_str(), 0777), 0);
    WriteFile(dir / "clear", "data");
    ASSERT_EQ(chmod((dir / "clear").c_str(), 0644), 0);
    const std::string fifo = dir / "pw";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0666), 0);
    uid_t proc_owner = 12345;
    RunSpec spec;
    spec.args = {"encrypt", dir / "clear", "--password-file", fifo};
    spec.drop_root = true;
    spec.watch = [&](pid_t pid, const std::string&) {
        int fd = open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) return false;
        // the files of an undumpable process belong to root
        struct stat st;
        if (stat(("/proc/" + std::to_string(pid) + "/status").c_str(), &st) == 0) {
            proc_owner = st.st_uid;
        }
        EXPECT_EQ(write(fd, "pw\n", 3), 3);
        close(fd);
        return true;
    };
    RunResult run = RunTool(spec);
    EXPECT_EQ(run.exit_code, 0) << run.err;
    EXPECT_EQ(proc_owner, 0u);
}

struct PasswordFileCase {
    unsigned mode;
    bool     warned;
};

TEST(PasswordFileTest, WarnsWhenOthersCanReadItButGoesOn)
{
    const std::vector<PasswordFileCase> cases = {
        {0600, false}, {0400, false}, {0640, true}, {0604, true}, {0644, true}};
    for (const PasswordFileCase& c : cases) {
        SCOPED_TRACE(c.mode);
        TempDir dir;
        WriteFile(dir / "clear", "data");
        WriteFile(dir / "pw", std::string(kPassword) + "\n");
        ASSERT_EQ(chmod((dir / "pw").c_str(), c.mode), 0);
        RunResult run = RunWithPassword(
            {"encrypt", dir / "clear", "-o", dir / "out", "--password-file", dir / "pw"}, "");
        EXPECT_EQ(run.exit_code, 0) << run.err;
        EXPECT_EQ(run.err.find("warning: password file") != std::string::npos, c.warned) << run.err;
        EXPECT_EQ(ReadFile(dir / "out"), Library("data", kPassword));
    }
}

// Standard input under another name is still standard input: with the
// data on it, from a pipe or from a file, it is refused as "-" is.
TEST(PasswordFileTest, StandardInputUnderAnotherNameIsRefusedWithTheDataOnIt)
{
    for (const char* name : {"/dev/stdin", "/proc/self/fd/0"}) {
        for (bool from_pipe : {true, false}) {
            SCOPED_TRACE(std::string(name) + (from_pipe ? " on a pipe" : " on a file"));
            TempDir dir;
            WriteFile(dir / "clear", std::string(kPassword) + "\n" + PatternData(8000));
            RunSpec spec;
            spec.args = {"encrypt", "--password-file", name, "-o", dir / "out"};
            if (from_pipe) spec.stdin_data = ReadFile(dir / "clear");
            if (!from_pipe) spec.stdin_fd = OpenForInput(dir / "clear");
            RunResult run = RunTool(spec);
            if (!from_pipe) CloseDescriptor(spec.stdin_fd);
            EXPECT_EQ(run.exit_code, 2) << run.err;
            EXPECT_NE(run.err.find("is standard input, which already carries the data"), std::string::npos)
                << run.err;
            EXPECT_FALSE(Exists(dir / "out"));
        }
    }
}

// "{ tvkcrypt ... --password-file -; next; } < file": the next command
// reads on right after the password's line.
TEST(PasswordFileTest, ARedirectedStandardInputIsLeftAfterTheFirstLine)
{
    TempDir dir;
    WriteFile(dir / "clear", "data");
    WriteFile(dir / "lines", std::string(kPassword) + "\nthe next command's input\n" + PatternData(5000));
    RunSpec spec;
    spec.args = {"encrypt", "--password-file", "-", dir / "clear", "-o", dir / "out"};
    spec.stdin_fd = OpenForInput(dir / "lines");
    RunResult run = RunTool(spec);
    const off_t left_at = lseek(spec.stdin_fd, 0, SEEK_CUR);
    CloseDescriptor(spec.stdin_fd);
    EXPECT_EQ(run.exit_code, 0) << run.err;
    EXPECT_EQ(left_at, static_cast<off_t>(std::string(kPassword).size() + 1));
    EXPECT_EQ(ReadFile(dir / "out"), Library("data", kPassword));
}

}  // namespace
}  // namespace tvkcrypt_test
