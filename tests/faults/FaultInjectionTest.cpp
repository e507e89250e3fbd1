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

#include <cstdio>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "NptPlatformFaultPlan.h"
#include "ToolRunner.h"
#include "TvkCryptoHelper.h"

namespace tvkcrypt_test {
namespace {

const char kPassword[] = "fault";
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

std::string
LibraryEncrypt(const std::string& clear)
{
    TempDir dir;
    WriteFile(dir / "in", clear);
    EXPECT_EQ(TVK_CryptoHelper::EncryptDecryptWithPassword(kPassword, NPT_BlockCipher::ENCRYPT,
                                                           (dir / "in").c_str(),
                                                           (dir / "out").c_str()),
              NPT_SUCCESS);
    return ReadFile(dir / "out");
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
    const std::string expected = LibraryEncrypt(clear);
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
                if (!s.to_stdout && !s.to_device && !s.target_exists) {
                    // the output and its check file
                    after.push_back("target");
                    after.push_back("target.tvkcheck");
                    std::sort(after.begin(), after.end());
                }
                if (!s.to_stdout && !s.to_device) {
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
                if (s.target_exists) {
                    // neither of the pair was replaced
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
    {"Device", {"encrypt", "@/clear", "-o", "@/null"}, false, false, false, false, kSmall, "", true},
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

    // sites of the files layer that the file form does not use (listing,
    // renaming and removing by path, the working directory) are covered
    // by the files layer's own tests, not here
    const std::set<std::string> library = {
        "files.open", "files.fstat", "files.lock", "files.ftruncate", "files.fdopen", "files.statx",
        "files.fseeko", "files.fread", "files.fwrite", "files.fflush", "files.fclose"};
    // the terminal's sites need a terminal, and "tool.stat" only looks at
    // an output name ending in a slash: they are reached in the tool's
    // own tests
    const std::set<std::string> tool = {
        "tool.open-input", "tool.open-output", "tool.fstat", "tool.fadvise", "tool.lseek", "tool.open-directory", "tool.poll",
        "tool.fstatat", "tool.open-replaced", "tool.open-temp", "tool.open-temp-named", "tool.pread", "tool.pwrite",
        "tool.read", "tool.write", "tool.close", "tool.fchmod", "tool.fchown", "tool.fsync",
        "tool.linkat", "tool.renameat2", "tool.renameat", "tool.unlinkat", "tool.fsync-directory",
        "tool.getrandom"};
    EXPECT_EQ(library_sites, library);
    EXPECT_EQ(tool_sites, tool);
    std::printf("call sites under fault injection: %zu in the file form, %zu in the tool\n",
                library_sites.size(), tool_sites.size());
}

}  // namespace
}  // namespace tvkcrypt_test
