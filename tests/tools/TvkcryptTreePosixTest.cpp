// Trees with what only POSIX systems make easily: symbolic links and
// FIFOs (skipped, never followed), names with newlines; a job cut short
// by Ctrl-C and resumed.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "ToolChecks.h"
#include "ToolRunner.h"

namespace tvkcrypt_test {
namespace {

bool
Contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

TEST(TreePosixTest, LinksAndSpecialFilesAreSkippedAndNewlinesKept)
{
    TempDir dir;
    MakeSubdirectory(dir / "src");
    MakeSubdirectory(dir / "src/d");
    MakeSubdirectory(dir / "outside");
    WriteFile(dir / "outside/secret", "not to be read");
    WriteFile(dir / "src/d/new\nline", "two\nlines");
    ASSERT_EQ(symlink("../../outside/secret", (dir / "src/d/link").c_str()), 0);
    ASSERT_EQ(symlink("../outside", (dir / "src/dirlink").c_str()), 0);
    ASSERT_EQ(mkfifo((dir / "src/fifo").c_str(), 0600), 0);

    RunResult run = RunWithPassword({"encrypt", "-r", dir / "src", "-o", dir / "enc", "--json"}, kPassword);
    EXPECT_EQ(run.exit_code, 16 + 8) << run.err;  // skipped entries
    EXPECT_EQ(ListDirectory(dir / "enc"), (std::vector<std::string>{"d"}));
    EXPECT_EQ(ListDirectory(dir / "enc/d"), (std::vector<std::string>{"new\nline.tvk", "new\nline.tvk.tvkcheck"}));
    EXPECT_TRUE(Contains(run.err, "skipped '" + dir / "src/d/link': a symbolic link, not followed")) << run.err;
    EXPECT_TRUE(Contains(run.err, "not a regular file or a directory")) << run.err;
    EXPECT_TRUE(Contains(run.out, "new\\u000aline\",\"result\":\"ok\"")) << run.out;
    EXPECT_TRUE(Contains(run.out, "\"result\":\"skipped\"")) << run.out;

    RunResult back = RunWithPassword({"decrypt", "-r", dir / "enc", "-o", dir / "dec"}, kPassword);
    EXPECT_EQ(back.exit_code, 0) << back.err;
    EXPECT_EQ(ReadFile(dir / "dec/d/new\nline"), "two\nlines");
}

// Ctrl-C in the middle: every output there is complete and verifies;
// --resume keeps those and makes the rest.
TEST(TreePosixTest, InterruptedJobResumes)
{
    TempDir dir;
    MakeSubdirectory(dir / "src");
    const int kFiles = 48;
    for (int i = 0; i < kFiles; ++i) WriteFile(dir / ("src/f" + std::to_string(100 + i)), PatternData(1000000, i));
    RunSpec spec;
    spec.args = {"encrypt", "-r", "-j", "1", dir / "src", "-o", dir / "enc"};
    spec.env["TVK_PASSWORD"] = kPassword;
    spec.watch = [&](ProcessId pid, const std::string&) {
        if (!Exists(dir / "enc/f101.tvk")) return false;
        kill(pid, SIGINT);
        return true;
    };
    RunResult cut = RunTool(spec);
    ASSERT_EQ(cut.signal, SIGINT) << "the job ended before the signal: " << cut.err;
    std::vector<std::string> left = ListDirectory(dir / "enc");
    ASSERT_LT(left.size(), 2u * kFiles);
    for (const std::string& name : left) EXPECT_NE(name[0], '.') << "a temporary is left: " << name;
    RunResult checked = RunWithPassword({"check", "-r", dir / "enc"}, kPassword);
    EXPECT_EQ(checked.exit_code, 0) << checked.err;

    RunResult resumed =
        RunWithPassword({"encrypt", "-r", "--resume", "--json", dir / "src", "-o", dir / "enc"}, kPassword);
    EXPECT_EQ(resumed.exit_code, 0) << resumed.err;
    std::size_t done_before = 0;
    for (std::size_t at = 0; (at = resumed.out.find("already-done", at)) != std::string::npos; ++at) ++done_before;
    EXPECT_EQ(2 * done_before, left.size()) << resumed.out;
    RunResult back = RunWithPassword({"decrypt", "-r", dir / "enc", "-o", dir / "dec"}, kPassword);
    EXPECT_EQ(back.exit_code, 0) << back.err;
    for (int i = 0; i < kFiles; ++i) {
        EXPECT_EQ(ReadFile(dir / ("dec/f" + std::to_string(100 + i))), PatternData(1000000, i)) << i;
    }
}

}  // namespace
}  // namespace tvkcrypt_test
