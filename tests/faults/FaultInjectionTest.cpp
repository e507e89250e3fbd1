// Every system call of the file form (TVK_CryptoHelper file to file) and
// of the tvkcrypt tool, made to fail, to move fewer bytes than asked or
// to be interrupted, one call at a time. Whatever happens: an error is
// reported, or the result is complete and correct; a short transfer or
// an interruption is never an error; no success is claimed for a partial
// result; and the tool's target is untouched when it fails.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "NptPlatformFaultPlan.h"
#include "ToolChecks.h"
#include "ToolRunner.h"
#include "TvkCryptoHelper.h"

namespace tvkcrypt_test {
namespace {

const char kOriginal[] = "the target before the run";
const char kOriginalCheck[] = "the target's check file before the run";

struct Kind {
    const char*           name;
    NPT_PlatformFaultKind kind;
    bool                  must_succeed;  // the code has to cope with it
};

const Kind kKinds[] = {
    {"fail", NPT_PLATFORM_FAULT_FAIL, false},
    {"short", NPT_PLATFORM_FAULT_SHORT, true},
    {"eintr", NPT_PLATFORM_FAULT_INTERRUPT, true},
};

std::string
PlanText(const std::string& prefix, std::size_t index, const Kind& kind)
{
    std::string text = prefix.empty() ? "" : prefix + ",";
    return text + std::to_string(index) + ":" + kind.name;
}

/*----------------------------------------------------------------------
|   the library's file form, in this process
+---------------------------------------------------------------------*/

NPT_Result
RunFileForm(const TempDir& dir, NPT_BlockCipher::Direction direction,
            const NPT_PlatformFaultPlan& plan, std::vector<std::string>& trace)
{
    NPT_PlatformFaultSetPlan(plan);
    NPT_Result result = TVK_CryptoHelper::EncryptDecryptWithPassword(
        kPassword, direction, (dir / "in").c_str(), (dir / "out").c_str());
    trace = NPT_PlatformFaultTrace();
    NPT_PlatformFaultSetPlan(NPT_PlatformFaultPlan());
    return result;
}

TEST(LibraryFaultTest, FileFormReportsEveryFaultOrDeliversAllOfIt)
{
    // three cipher chunks, the last one partial (every call is faulted
    // in turn, and the decrypting stream reads in slices of 16 bytes)
    const std::string clear = PatternData(2500);
    TempDir dir;
    WriteFile(dir / "in", clear);
    std::vector<std::string> trace;
    ASSERT_EQ(RunFileForm(dir, NPT_BlockCipher::ENCRYPT, {}, trace), NPT_SUCCESS);
    const std::string encrypted = ReadFile(dir / "out");
    ASSERT_EQ(encrypted.size(), clear.size());

    for (NPT_BlockCipher::Direction direction : {NPT_BlockCipher::ENCRYPT, NPT_BlockCipher::DECRYPT}) {
        const bool encrypting = direction == NPT_BlockCipher::ENCRYPT;
        WriteFile(dir / "in", encrypting ? clear : encrypted);
        const std::string& expected = encrypting ? encrypted : clear;
        ASSERT_EQ(RunFileForm(dir, direction, {}, trace), NPT_SUCCESS);
        const std::size_t calls = trace.size();
        for (const Kind& kind : kKinds) {
            for (std::size_t index = 0; index < calls; ++index) {
                SCOPED_TRACE(std::string(encrypting ? "encrypt " : "decrypt ") + kind.name + " at " +
                             std::to_string(index) + " (" + trace[index] + ")");
                unlink((dir / "out").c_str());
                NPT_PlatformPlannedFault fault;
                fault.index = index;
                fault.kind = kind.kind;
                std::vector<std::string> faulty;
                NPT_Result result = RunFileForm(dir, direction, {fault}, faulty);
                if (kind.must_succeed) {
                    EXPECT_EQ(result, NPT_SUCCESS);
                }
                if (result == NPT_SUCCESS) {
                    EXPECT_TRUE(ReadFile(dir / "out") == expected) << "success with wrong output";
                } else {
                    EXPECT_LT(result, 0);
                }
                EXPECT_LE(dir.List().size(), 2u) << "something left behind";
            }
        }
    }
}

/*----------------------------------------------------------------------
|   the tool, as a separate process
+---------------------------------------------------------------------*/
std::vector<std::string>
ReadLines(const std::string& path)
{
    std::vector<std::string> lines;
    std::string all = ReadFile(path), line;
    for (char c : all) {
        if (c == '\n') {
            lines.push_back(line);
            line.clear();
        } else {
            line += c;
        }
    }
    return lines;
}

struct ToolScenario {
    std::string name;
    std::vector<std::string> args;  // "@" is the scratch directory
    bool        target_exists;      // dir/target holds kOriginal before the run
    bool        to_stdout;          // the result goes to standard output
    bool        stdin_input;        // the input comes through a pipe
    bool        password_file;      // the password comes from dir/pw
    std::size_t size;
    std::string plan_prefix;        // faults always present (forcing a fallback)
    bool        to_device = false;  // -o @/null, a link to /dev/null
    bool        in_place = false;   // the target is written into: not atomic
};

void
PrintTo(const ToolScenario& s, std::ostream* os)
{
    *os << s.name;
}

class ToolFaultTest : public ::testing::TestWithParam<ToolScenario>
{
};

// Runs a scenario in dir with a fault plan; the sites called go to
// trace_path.
RunResult
RunScenario(const ToolScenario& s, const std::string& clear, const std::string& plan,
            const TempDir& dir, const std::string& trace_path)
{
    {
        WriteFile(dir / "clear", clear);
        if (s.password_file) WriteFile(dir / "pw", std::string(kPassword) + "\n");
        if (s.password_file) chmod((dir / "pw").c_str(), 0600);
        if (s.target_exists) WriteFile(dir / "target", kOriginal);
        if (s.target_exists) WriteFile(dir / "target.tvkcheck", kOriginalCheck);
        if (s.to_device) symlink("/dev/null", (dir / "null").c_str());
        RunSpec spec;
        for (std::string arg : s.args) {
            if (!arg.empty() && arg[0] == '@') arg = dir.Path() + arg.substr(1);
            spec.args.push_back(arg);
        }
        if (!s.password_file) spec.env["TVK_PASSWORD"] = kPassword;
        spec.env["TVK_FAULT_PLAN"] = plan;
        spec.env["TVK_FAULT_TRACE"] = trace_path;
        if (s.stdin_input) spec.stdin_data = clear;
        unlink(trace_path.c_str());
        return RunTool(spec);
    }
}

TEST_P(ToolFaultTest, ReportsEveryFaultAndLeavesTheTargetAlone)
{
    const ToolScenario& s = GetParam();
    const std::string clear = PatternData(s.size, 7);
    const std::string expected = Library(clear, kPassword);
    TempDir scratch;
    const std::string trace_path = scratch / "trace";
    auto run = [&](const std::string& plan, const TempDir& dir) {
        return RunScenario(s, clear, plan, dir, trace_path);
    };

    std::vector<std::string> trace;
    {
        TempDir dir;
        RunResult clean = run(s.plan_prefix, dir);
        ASSERT_EQ(clean.exit_code, 0) << clean.err;
        trace = ReadLines(trace_path);
        ASSERT_FALSE(trace.empty());
    }
    for (const Kind& kind : kKinds) {
        for (std::size_t index = 0; index < trace.size(); ++index) {
            SCOPED_TRACE(std::string(kind.name) + " at " + std::to_string(index) + " (" +
                         trace[index] + ")");
            TempDir dir;
            std::vector<std::string> before;
            RunResult result;
            {
                // list after the setup, which run() repeats identically
                WriteFile(dir / "clear", clear);
                if (s.password_file) WriteFile(dir / "pw", "x");
                if (s.target_exists) WriteFile(dir / "target", kOriginal);
                if (s.target_exists) WriteFile(dir / "target.tvkcheck", kOriginalCheck);
                if (s.to_device) symlink("/dev/null", (dir / "null").c_str());
                before = dir.List();
                result = run(PlanText(s.plan_prefix, index, kind), dir);
            }
            ASSERT_TRUE(result.exited) << "signal " << result.signal << ": " << result.err;
            if (kind.must_succeed) {
                EXPECT_EQ(result.exit_code, 0) << result.err;
            }
            if (result.exit_code == 0) {
                const std::string& got = s.to_stdout ? result.out : ReadFile(dir / "target");
                if (!s.to_device) {
                    EXPECT_TRUE(got == expected) << "success claimed for a wrong or partial result";
                }
                std::vector<std::string> after = before;
                if (s.in_place) {
                    // rewritten without a check file, the old one goes
                    after.erase(std::find(after.begin(), after.end(), "target.tvkcheck"));
                }
                if (!s.to_stdout && !s.to_device && !s.target_exists) {
                    // the output and its check file
                    after.push_back("target");
                    after.push_back("target.tvkcheck");
                    std::sort(after.begin(), after.end());
                }
                // written in place, no check file is written unless named
                if (!s.to_stdout && !s.to_device && !s.in_place) {
                    EXPECT_NE(ReadFile(dir / "target.tvkcheck"), kOriginalCheck);
                }
                // a name that could not be removed is named in a warning
                const bool warned = result.err.find("warning: ") != std::string::npos &&
                                    result.err.find("remove '") != std::string::npos;
                if (!warned) {
                    EXPECT_EQ(dir.List(), after) << result.err;
                }
            } else {
                EXPECT_EQ(result.exit_code, 1) << result.err;
                EXPECT_EQ(result.err.rfind("tvkcrypt: ", 0), 0u) << result.err;
                // neither of the pair was replaced (written in place, a
                // failure may leave the target partly written)
                if (s.target_exists && !s.in_place) {
                    EXPECT_EQ(ReadFile(dir / "target"), kOriginal);
                    EXPECT_EQ(ReadFile(dir / "target.tvkcheck"), kOriginalCheck);
                }
                EXPECT_EQ(dir.List(), before) << result.err;
            }
        }
    }
}

const std::size_t kSmall = 70000;            // one worker
const std::size_t kLarge = (2u << 20) + 12;  // two workers, three blocks

const std::vector<ToolScenario> kScenarios = {
    {"NewFile", {"encrypt", "@/clear", "-o", "@/target"}, false, false, false, false, kSmall, ""},
    {"ReplaceWithTwoWorkers", {"encrypt", "@/clear", "-f", "-o", "@/target"}, true, false, false,
     false, kLarge, ""},
    {"PipeToStandardOutputWithPasswordFile", {"encrypt", "--password-file", "@/pw"}, false, true, true,
     true, kSmall, ""},
    // file systems without unnamed temporaries or exchanging renames
    {"NamedTemporaryNewFile", {"encrypt", "@/clear", "-o", "@/target"}, false, false, false, false,
     kSmall, "tool.open-temp:fail:95,tool.renameat2:fail:22"},
    {"NamedTemporaryReplace", {"encrypt", "@/clear", "-f", "-o", "@/target"}, true, false, false,
     false, kSmall, "tool.open-temp:fail:95,tool.renameat2:fail:22"},
    // no hard links (FAT, exFAT): the old check file moves aside instead
    {"ReplaceWithoutHardLinks", {"encrypt", "@/clear", "-f", "-o", "@/target"}, true, false, false, false,
     kSmall, "tool.linkat:fail:1"},
    {"Device", {"encrypt", "@/clear", "-o", "@/null"}, false, false, false, false, kSmall, "", true},
    {"InPlaceWithTwoWorkers", {"encrypt", "@/clear", "-f", "--in-place", "-o", "@/target"}, true,
     false, false, false, kLarge, "", false, true},
};

INSTANTIATE_TEST_SUITE_P(Scenarios, ToolFaultTest, ::testing::ValuesIn(kScenarios),
                         [](const ::testing::TestParamInfo<ToolScenario>& info) {
                             return info.param.name;
                         });

// The pair's second rename fails, and so does putting the old check
// file back: the output is untouched, the tool says where the old check
// file's content is, and it is there.
TEST(PairCommitTest, AFailedUndoIsReportedAndNothingIsLost)
{
    const ToolScenario s = {"Pair", {"encrypt", "@/clear", "-f", "-o", "@/target"}, true, false, false, false,
                            kSmall, ""};
    TempDir scratch;
    std::size_t second_exchange = 0;
    {
        TempDir dir;
        RunResult clean = RunScenario(s, PatternData(s.size, 7), "", dir, scratch / "trace");
        ASSERT_EQ(clean.exit_code, 0) << clean.err;
        std::vector<std::string> trace = ReadLines(scratch / "trace");
        int seen = 0;
        for (std::size_t i = 0; i < trace.size() && seen < 2; ++i) {
            if (trace[i] == "tool.renameat2" && ++seen == 2) second_exchange = i;
        }
        ASSERT_EQ(seen, 2);
    }
    TempDir dir;
    RunResult run = RunScenario(s, PatternData(s.size, 7),
                                std::to_string(second_exchange) + ":fail,tool.renameat:fail", dir,
                                scratch / "trace");
    EXPECT_EQ(run.exit_code, 1) << run.err;
    EXPECT_EQ(ReadFile(dir / "target"), kOriginal);
    const std::string::size_type at = run.err.find("its old content is in '");
    ASSERT_NE(at, std::string::npos) << run.err;
    const std::string::size_type start = at + std::strlen("its old content is in '");
    const std::string kept = run.err.substr(start, run.err.find('\'', start) - start);
    EXPECT_EQ(ReadFile(kept), kOriginalCheck);
}

// A kernel that lets only the privileged link an unnamed file by its
// descriptor says ENOENT: the name is then made through /proc, which
// serves every later link of the run without asking again.
TEST(PairCommitTest, ARefusedDescriptorLinkFallsBackToProc)
{
    const ToolScenario& s = kScenarios[0];  // a new file and its check file
    TempDir scratch;
    std::vector<std::string> clean_trace;
    long first_link = -1;
    {
        TempDir dir;
        RunResult clean = RunScenario(s, PatternData(s.size, 7), "", dir, scratch / "trace");
        ASSERT_EQ(clean.exit_code, 0) << clean.err;
        clean_trace = ReadLines(scratch / "trace");
        for (std::size_t i = 0; i < clean_trace.size() && first_link < 0; ++i) {
            if (clean_trace[i] == "tool.linkat") first_link = static_cast<long>(i);
        }
        ASSERT_GE(first_link, 0);
        // two links in a row: this kernel refused already, /proc served
        const std::size_t next = static_cast<std::size_t>(first_link) + 1;
        if (next < clean_trace.size() && clean_trace[next] == "tool.linkat") {
            GTEST_SKIP() << "descriptor links are refused here";
        }
    }
    TempDir dir;
    RunResult run = RunScenario(s, PatternData(s.size, 7), std::to_string(first_link) + ":fail:2", dir,
                                scratch / "trace");
    ASSERT_EQ(run.exit_code, 0) << run.err;
    EXPECT_EQ(ReadFile(dir / "target").size(), s.size);
    EXPECT_FALSE(ReadFile(dir / "target.tvkcheck").empty());
    const std::vector<std::string> trace = ReadLines(scratch / "trace");
    const auto links = [](const std::vector<std::string>& calls) {
        return std::count(calls.begin(), calls.end(), std::string("tool.linkat"));
    };
    EXPECT_EQ(links(trace), links(clean_trace) + 1);
}

/*----------------------------------------------------------------------
|   the commit's window, seen from outside: the tool stopped (SIGSTOP)
|   at one call of its commit, while something else happens
+---------------------------------------------------------------------*/
// Runs s (over dir/target and, with old_check, dir/target.tvkcheck)
// with plan, in which one call may stop the tool; while it is stopped,
// during(pid) runs, and the tool goes on unless it killed it.
RunResult
RunStopped(const ToolScenario& s, const std::string& plan, const TempDir& dir,
           const std::function<void(pid_t)>& during, bool old_check, const std::string& trace_path = "")
{
    RunSpec spec;
    for (std::string arg : s.args) spec.args.push_back(arg[0] == '@' ? dir.Path() + arg.substr(1) : arg);
    spec.env["TVK_PASSWORD"] = kPassword;
    spec.env["TVK_FAULT_PLAN"] = plan;
    if (!trace_path.empty()) spec.env["TVK_FAULT_TRACE"] = trace_path;
    spec.watch = [&](pid_t pid, const std::string&) {
        std::string stat = ReadFile("/proc/" + std::to_string(pid) + "/stat");
        std::string::size_type paren = stat.rfind(')');
        if (paren == std::string::npos || stat.compare(paren + 2, 1, "T") != 0) return false;
        during(pid);
        kill(pid, SIGCONT);
        return true;
    };
    WriteFile(dir / "clear", PatternData(s.size, 7));
    WriteFile(dir / "target", kOriginal);
    if (old_check) WriteFile(dir / "target.tvkcheck", kOriginalCheck);
    return RunTool(spec);
}

// The index of the n-th call (from 1) of site in a clean run of s set up
// as RunStopped does, -1 when there are fewer.
long
IndexOfCall(const ToolScenario& s, const std::string& site, int n, bool old_check,
            const std::string& trace_path)
{
    TempDir dir;
    RunResult clean = RunStopped(s, "", dir, nullptr, old_check, trace_path);
    EXPECT_EQ(clean.exit_code, 0) << clean.err;
    std::vector<std::string> trace = ReadLines(trace_path);
    for (std::size_t i = 0; i < trace.size(); ++i) {
        if (trace[i] == site && --n == 0) return static_cast<long>(i);
    }
    return -1;
}

const ToolScenario kReplacePair = {"Pair", {"encrypt", "@/clear", "-f", "-o", "@/target"}, true, false, false,
                                   false, kSmall, ""};

// kill -9 anywhere before the exchange of names leaves no copy of the
// output under a hidden name: it is named only for the exchange itself.
TEST(CommitWindowTest, KilledBeforeTheExchangeLeavesNoNamedOutput)
{
    TempDir scratch;
    const ToolScenario s = {"Alone", {"encrypt", "@/clear", "-f", "--no-check-file", "-o", "@/target"}, true,
                            false, false, false, kSmall, ""};
    for (const char* site : {"tool.open-replaced", "tool.fchown", "tool.linkat"}) {
        SCOPED_TRACE(site);
        const long index = IndexOfCall(s, site, 1, false, scratch / "trace");
        ASSERT_GE(index, 0);
        TempDir dir;
        RunResult run = RunStopped(
            s, std::to_string(index) + ":stop", dir, [](pid_t pid) { kill(pid, SIGKILL); }, false);
        EXPECT_EQ(run.signal, SIGKILL);
        EXPECT_EQ(ReadFile(dir / "target"), kOriginal);
        EXPECT_EQ(dir.List(), (std::vector<std::string>{"clear", "target"}));
    }
}

// Another run puts its own check file in place while this one commits;
// this one then fails to place its output and undoes its check file,
// but only its own: the other run's stays.
TEST(CommitWindowTest, AFailedRunUndoesOnlyWhatIsStillItsOwn)
{
    TempDir scratch;
    // the check file is committed first; the output's commit begins
    // with the second look at a replaced name
    const long index = IndexOfCall(kReplacePair, "tool.open-replaced", 2, true, scratch / "trace");
    ASSERT_GE(index, 0);
    TempDir dir;
    const std::string plan = std::to_string(index) + ":stop," + std::to_string(index + 1) + ":fail";
    RunResult run = RunStopped(
        kReplacePair, plan, dir,
        [&](pid_t) {
            WriteFile(dir / "winner", "the other run's check file");
            rename((dir / "winner").c_str(), (dir / "target.tvkcheck").c_str());
        },
        true);
    EXPECT_EQ(run.exit_code, 1) << run.err;
    EXPECT_EQ(ReadFile(dir / "target"), kOriginal);
    EXPECT_EQ(ReadFile(dir / "target.tvkcheck"), "the other run's check file");
    EXPECT_EQ(dir.List(), (std::vector<std::string>{"clear", "target", "target.tvkcheck"}));
}

// A terminating signal during the commit waits for it; once the pair is
// in place the run ends with success, which is the truth about the
// target, and says that it was interrupted.
TEST(CommitWindowTest, ASignalDuringTheCommitLeavesAStatusThatTellsTheTruth)
{
    TempDir scratch;
    const long index = IndexOfCall(kReplacePair, "tool.renameat2", 2, true, scratch / "trace");
    ASSERT_GE(index, 0);
    TempDir dir;
    RunResult run = RunStopped(
        kReplacePair, std::to_string(index) + ":stop", dir, [](pid_t pid) { kill(pid, SIGTERM); }, true);
    EXPECT_TRUE(run.exited) << "signal " << run.signal;
    EXPECT_EQ(run.exit_code, 0) << run.err;
    EXPECT_NE(run.err.find("interrupted once"), std::string::npos) << run.err;
    EXPECT_EQ(ReadFile(dir / "target"), Library(PatternData(kSmall, 7), kPassword));
}

// The last moment of the owner race: the tool has read the owner and
// mode of the file at the target's name, and is about to swap it for
// the output, when the name is swapped for a link to a private file.
// The swap is detected and undone: nothing is replaced, nothing left.
TEST(OwnerRaceTest, ANameSwappedJustBeforeTheRenameIsLeftAlone)
{
    TempDir dir;
    WriteFile(dir / "secret", kOriginal);
    ASSERT_EQ(chmod((dir / "secret").c_str(), 0600), 0);
    WriteFile(dir / "target", "planted");
    ASSERT_EQ(chmod((dir / "target").c_str(), 0666), 0);
    WriteFile(dir / "clear", "private data");

    RunSpec spec;
    spec.args = {"encrypt", dir / "clear", "-f", "-o", dir / "target"};
    spec.env["TVK_PASSWORD"] = kPassword;
    spec.env["TVK_FAULT_PLAN"] = "tool.renameat2:stop";
    bool swapped = false;
    spec.watch = [&](pid_t pid, const std::string&) {
        std::string stat = ReadFile("/proc/" + std::to_string(pid) + "/stat");
        std::string::size_type paren = stat.rfind(')');
        if (paren == std::string::npos || stat.compare(paren + 2, 1, "T") != 0) return false;
        unlink((dir / "target").c_str());
        swapped = symlink((dir / "secret").c_str(), (dir / "target").c_str()) == 0;
        kill(pid, SIGCONT);
        return true;
    };
    RunResult run = RunTool(spec);
    EXPECT_TRUE(swapped);
    EXPECT_EQ(run.exit_code, 1) << run.err;
    EXPECT_NE(run.err.find("replaced by someone else meanwhile"), std::string::npos) << run.err;
    EXPECT_EQ(ReadFile(dir / "secret"), kOriginal);
    EXPECT_EQ(ModeOf(dir / "secret"), 0600u);
    struct stat st;
    ASSERT_EQ(lstat((dir / "target").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(dir.List(), (std::vector<std::string>{"clear", "secret", "target"}));
}

/*----------------------------------------------------------------------
|   the tool on a terminal
+---------------------------------------------------------------------*/
std::map<std::string, std::string>
FaultEnvironment(const std::string& plan, const std::string& trace_path)
{
    unlink(trace_path.c_str());
    return {{"TVK_FAULT_PLAN", plan}, {"TVK_FAULT_TRACE", trace_path}};
}

// Encrypts dir/clear over dir/target (which holds kOriginal) with the
// password typed twice at the prompt.
TerminalResult
RunPrompted(const TempDir& dir, const std::string& plan, const std::string& trace_path)
{
    WriteFile(dir / "target", kOriginal);
    const std::string line = std::string(kPassword) + "\n";
    // no check file: the prompt's faults are the point here, and the
    // file scenarios above cover the pair of outputs
    return RunOnTerminal({"encrypt", dir / "clear", "-f", "--no-check-file", "-o", dir / "target"},
                         FaultEnvironment(plan, trace_path),
                         {{"Password for ", line}, {"Repeat password for ", line}}, -1, nullptr, 10);
}

// Encrypts data arriving through a pipe in two parts, far enough apart
// for the progress bar to be drawn on the terminal, so that its width
// is read.
TerminalResult
RunWithProgressBar(const TempDir& dir, const std::string& clear, const std::string& plan,
                   const std::string& trace_path)
{
    signal(SIGPIPE, SIG_IGN);  // a tool that gave up stops reading
    int feed[2];
    if (pipe2(feed, O_CLOEXEC) != 0) return TerminalResult();
    std::map<std::string, std::string> env = FaultEnvironment(plan, trace_path);
    env["TVK_PASSWORD"] = kPassword;
    auto feed_slowly = [&] {
        close(feed[0]);
        const std::size_t half = clear.size() / 2;
        for (std::size_t from : {std::size_t(0), half}) {
            std::size_t to = from == 0 ? half : clear.size();
            while (from < to) {
                ssize_t w = write(feed[1], clear.data() + from, to - from);
                if (w <= 0) break;
                from += static_cast<std::size_t>(w);
            }
            if (to == half) usleep(700 * 1000);
        }
        close(feed[1]);
    };
    return RunOnTerminal({"encrypt", "--no-check-file", "-o", dir / "target"}, env, {}, feed[0],
                         feed_slowly, 20, -1, 60);
}

// Output names that end in a slash are refused whatever they lead to:
// a directory, a file, nothing.
const std::vector<std::string> kSlashOutputs = {"@/", "@/clear/", "@/missing/"};

RunResult
RunSlashOutput(const TempDir& dir, const std::string& output, const std::string& plan,
               const std::string& trace_path)
{
    RunSpec spec;
    spec.args = {"encrypt", dir / "clear", "-f", "-o", dir.Path() + output.substr(1)};
    spec.env = FaultEnvironment(plan, trace_path);
    spec.env["TVK_PASSWORD"] = kPassword;
    return RunTool(spec);
}

bool
IsTerminalSite(const std::string& site)
{
    return site.find("terminal") != std::string::npos || site.rfind("tool.tc", 0) == 0;
}

// A fault anywhere up to the prompt's last terminal call and a little
// beyond (the calls after it are the file runs' above): the run fails
// with a message and the target as it was, or succeeds completely; the
// terminal echoes again afterwards in either case.
TEST(TerminalFaultTest, PromptFaultsAreReportedAndTheEchoComesBack)
{
    const std::string clear = PatternData(3000, 7);
    const std::string expected = Library(clear, kPassword);
    TempDir scratch;
    const std::string trace_path = scratch / "trace";
    std::vector<std::string> trace;
    {
        TempDir dir;
        WriteFile(dir / "clear", clear);
        TerminalResult clean = RunPrompted(dir, "", trace_path);
        ASSERT_EQ(clean.run.exit_code, 0) << clean.screen;
        ASSERT_EQ(ReadFile(dir / "target"), expected);
        trace = ReadLines(trace_path);
    }
    std::size_t last = 0;
    for (std::size_t i = 0; i < trace.size(); ++i) {
        if (IsTerminalSite(trace[i])) last = i;
    }
    ASSERT_GT(last, 0u) << "the prompt made no terminal calls";
    const std::size_t end = std::min(trace.size(), last + 4);

    for (const Kind& kind : kKinds) {
        for (std::size_t index = 0; index < end; ++index) {
            SCOPED_TRACE(std::string(kind.name) + " at " + std::to_string(index) + " (" +
                         trace[index] + ")");
            TempDir dir;
            WriteFile(dir / "clear", clear);
            TerminalResult result = RunPrompted(dir, PlanText("", index, kind), trace_path);
            ASSERT_TRUE(result.run.exited) << "signal " << result.run.signal << ": " << result.screen;
            EXPECT_TRUE(result.echo_at_end) << "echo left off";
            EXPECT_EQ(dir.List(), (std::vector<std::string>{"clear", "target"})) << result.screen;
            if (kind.must_succeed) {
                EXPECT_EQ(result.run.exit_code, 0) << result.screen;
            }
            if (result.run.exit_code == 0) {
                EXPECT_TRUE(ReadFile(dir / "target") == expected)
                    << "success claimed for a wrong or partial result";
            } else {
                EXPECT_EQ(result.run.exit_code, 1) << result.screen;
                EXPECT_NE(result.screen.find("tvkcrypt: "), std::string::npos) << result.screen;
                EXPECT_EQ(ReadFile(dir / "target"), kOriginal);
            }
        }
    }
}

// Not knowing the terminal's width is no reason to fail: the bar takes
// a default width and the data is complete.
TEST(TerminalFaultTest, TheProgressBarCopesWithoutTheTerminalWidth)
{
    const std::string clear = PatternData(2u << 20, 7);
    const std::string expected = Library(clear, kPassword);
    TempDir scratch;
    const std::string trace_path = scratch / "trace";
    for (const Kind& kind : kKinds) {
        SCOPED_TRACE(kind.name);
        TempDir dir;
        TerminalResult result = RunWithProgressBar(
            dir, clear, std::string("tool.ioctl-winsize:") + kind.name, trace_path);
        EXPECT_EQ(result.run.exit_code, 0) << result.screen;
        EXPECT_TRUE(ReadFile(dir / "target") == expected) << "wrong or partial result";
        const std::vector<std::string> trace = ReadLines(trace_path);
        EXPECT_NE(std::find(trace.begin(), trace.end(), "tool.ioctl-winsize"), trace.end())
            << "the bar was not drawn: " << result.screen;
        EXPECT_NE(result.screen.find("encrypting "), std::string::npos) << result.screen;
    }
}

// A fault at any call of a refused run changes nothing but the reason.
TEST(SlashOutputFaultTest, EveryFaultStillRefusesAndCreatesNothing)
{
    TempDir scratch;
    const std::string trace_path = scratch / "trace";
    for (const std::string& output : kSlashOutputs) {
        std::vector<std::string> trace;
        {
            TempDir dir;
            WriteFile(dir / "clear", "data");
            RunResult clean = RunSlashOutput(dir, output, "", trace_path);
            ASSERT_EQ(clean.exit_code, 1) << output << ": " << clean.err;
            trace = ReadLines(trace_path);
        }
        for (const Kind& kind : kKinds) {
            for (std::size_t index = 0; index < trace.size(); ++index) {
                SCOPED_TRACE(output + " " + kind.name + " at " + std::to_string(index) + " (" +
                             trace[index] + ")");
                TempDir dir;
                WriteFile(dir / "clear", "data");
                RunResult result = RunSlashOutput(dir, output, PlanText("", index, kind), trace_path);
                EXPECT_EQ(result.exit_code, 1) << result.err;
                // unless the write that failed was the message's own
                if (kind.kind != NPT_PLATFORM_FAULT_FAIL || trace[index] != "tool.write") {
                    EXPECT_EQ(result.err.rfind("tvkcrypt: ", 0), 0u) << result.err;
                }
                EXPECT_EQ(dir.List(), std::vector<std::string>{"clear"}) << result.err;
            }
        }
    }
}

// Every instrumented call site of the file form and the tool is reached
// by the runs above (their fault-free runs are repeated here for the
// traces), so each one has been made to fail, come short and be
// interrupted.
TEST(CoverageTest, EveryCallSiteIsExercised)
{
    std::set<std::string> library_sites, tool_sites;
    {
        TempDir dir;
        WriteFile(dir / "in", PatternData(2500));
        std::vector<std::string> trace;
        for (auto direction : {NPT_BlockCipher::ENCRYPT, NPT_BlockCipher::DECRYPT}) {
            ASSERT_EQ(RunFileForm(dir, direction, {}, trace), NPT_SUCCESS);
            library_sites.insert(trace.begin(), trace.end());
        }
    }
    for (const ToolScenario& s : kScenarios) {
        TempDir dir, scratch;
        RunResult run = RunScenario(s, PatternData(s.size, 7), s.plan_prefix, dir, scratch / "trace");
        ASSERT_EQ(run.exit_code, 0) << s.name << ": " << run.err;
        std::vector<std::string> trace = ReadLines(scratch / "trace");
        tool_sites.insert(trace.begin(), trace.end());
    }

    // the terminal's sites (the prompt, the bar's width) and the look at
    // an output name ending in a slash, from the terminal and slash runs
    {
        TempDir dir, bar_dir, scratch;
        WriteFile(dir / "clear", PatternData(3000, 7));
        TerminalResult prompted = RunPrompted(dir, "", scratch / "trace");
        ASSERT_EQ(prompted.run.exit_code, 0) << prompted.screen;
        std::vector<std::string> trace = ReadLines(scratch / "trace");
        tool_sites.insert(trace.begin(), trace.end());
        TerminalResult bar =
            RunWithProgressBar(bar_dir, PatternData(2u << 20, 7), "", scratch / "trace");
        ASSERT_EQ(bar.run.exit_code, 0) << bar.screen;
        trace = ReadLines(scratch / "trace");
        tool_sites.insert(trace.begin(), trace.end());
        for (const std::string& output : kSlashOutputs) {
            RunSlashOutput(dir, output, "", scratch / "trace");
            trace = ReadLines(scratch / "trace");
            tool_sites.insert(trace.begin(), trace.end());
        }
    }

    // sites of the files layer that the file form does not use (listing,
    // renaming and removing by path, the working directory) are covered
    // by the files layer's own tests, not here
    const std::set<std::string> library = {
        "files.open", "files.fstat", "files.lock", "files.ftruncate", "files.fdopen", "files.statx",
        "files.fseeko", "files.fread", "files.fwrite", "files.fflush", "files.fclose"};
    const std::set<std::string> tool = {
        "tool.open-input", "tool.open-output", "tool.fstat", "tool.fadvise", "tool.lseek", "tool.open-directory", "tool.poll",
        "tool.fstatat", "tool.open-replaced", "tool.open-temp", "tool.open-temp-named", "tool.pread", "tool.pwrite",
        "tool.read", "tool.write", "tool.close", "tool.fchmod", "tool.fchown", "tool.fsync",
        "tool.linkat", "tool.renameat2", "tool.renameat", "tool.unlinkat", "tool.fsync-directory",
        "tool.open-in-place", "tool.ftruncate",
        "tool.open-terminal", "tool.tcgetattr", "tool.tcsetattr", "tool.read-terminal",
        "tool.ioctl-winsize", "tool.stat",
        "tool.getrandom"};
    EXPECT_EQ(library_sites, library);
    EXPECT_EQ(tool_sites, tool);
    std::printf("call sites under fault injection: %zu in the file form, %zu in the tool\n",
                library_sites.size(), tool_sites.size());
}

}  // namespace
}  // namespace tvkcrypt_test
