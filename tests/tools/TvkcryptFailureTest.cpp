// How tvkcrypt fails: a clear message, exit status 1 (2 for usage
// errors), the target exactly as it was, no temporary left behind, and
// never a password taken from the command line. (Permissions, file size
// limits, full devices, FIFOs and signals: TvkcryptFailurePosixTest.cpp.)
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "ToolFailureCase.h"
#include "ToolRunner.h"

namespace tvkcrypt_test {
namespace {

const char kPassword[] = "p4ss";

class FailureTest : public ::testing::TestWithParam<FailureCase>
{
};

TEST_P(FailureTest, ExitsOneAndLeavesTheTargetAlone)
{
    ExpectFailureLeavesTargetAlone(GetParam());
}

void
MakeDirectory(const TempDir& dir)
{
    MakeSubdirectory(dir / "sub");
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
        FailureCase{"OutputIsADirectory", {"encrypt", "@/clear", "-f", "-o", "@/sub"}, MakeDirectory,
                    true, -1, "/sub': is a directory"},
        FailureCase{"OutputDirectoryMissing", {"encrypt", "@/clear", "-o", "@/nowhere/out"}, nullptr,
                    true, -1, "/nowhere/' does not exist"},
        // found before any password is asked for,
        FailureCase{"OutputDirectoryMissingNoPassword", {"encrypt", "@/clear", "-o", "@/nowhere/out"},
                    nullptr, false, -1, "/nowhere/' does not exist"},
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
        // the temporary output needs the directory; the message says so,
        // and offers --in-place, which only needs the file,
        FailureCase{"InPlaceWithoutForce", {"encrypt", "@/clear", "--in-place", "-o", "@/target"},
                    nullptr, true, -1, "already exists; use --force"},
        FailureCase{"InPlaceMissingTarget",
                    {"encrypt", "@/clear", "-f", "--in-place", "-o", "@/other"}, nullptr, true, -1,
                    "/other' does not exist"},
        FailureCase{"InPlaceIntoTheInput",
                    {"encrypt", "@/target", "-f", "--in-place", "-o", "@/target"}, nullptr, true, -1,
                    "cannot write into the input file itself"},
        // a check file never replaces the input or the output
        FailureCase{"CheckFileIsTheInputOfCheckCreate",
                    {"check", "--create", "-f", "--check-file", "@/target", "@/target"}, nullptr, true, -1,
                    "/target' is the input"},
        FailureCase{"CheckFileIsTheInput",
                    {"encrypt", "-f", "--check-file", "@/target", "@/target", "-o", "@/out"}, nullptr, true,
                    -1, "/target' is the input"},
        FailureCase{"InputIsTheOutputsCheckFile", {"encrypt", "-f", "@/out.tvkcheck", "-o", "@/out"},
                    [](const TempDir& d) { WriteFile(d / "out.tvkcheck", "data"); }, true, -1,
                    "/out.tvkcheck' is the input"},
        FailureCase{"CheckFileIsTheOutput", {"encrypt", "@/clear", "--check-file", "@/new", "-o", "@/new"},
                    nullptr, true, -1, "/new' is the output"},
        FailureCase{"OffsetPastTheEnd",
                    {"decrypt", "--offset", "3145729", "@/clear", "-f", "-o", "@/target"}, nullptr,
                    true, -1, "past the end"}),
    [](const ::testing::TestParamInfo<FailureCase>& info) { return info.param.name; });

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
        {{"encrypt", "@/in", "-\x1b[2J"}, "unknown option $'-\\x1b'"},
        {{"encrypt", "--force=yes", "@/in"}, "takes no value"},
        {{"encrypt", "@/in", "-o", "@/a"}, "more than once"},
        {{"encrypt", "-p", "secret", "@/in"}, refusal},
        {{"encrypt", "-psecret", "@/in"}, refusal},
        {{"decrypt", "--password", "secret", "@/in"}, refusal},
        {{"decrypt", "--password=secret", "@/in"}, refusal},
        {{"encrypt", "--passphrase", "secret", "@/in"}, refusal},
        {{"encrypt", "--password-file", "-"}, "--password-file - reads standard input"},
        {{"decrypt", "--password-file=-", "-"}, "--password-file - reads standard input"},
        {{"decrypt", "-r", "-j", "0", "@/in"}, "invalid number '0' for '-j': give 1 to 32"},
        {{"decrypt", "-r", "--jobs=33", "@/in"}, "give 1 to 32"},
        {{"check", "-j", "2", "@/in"}, "-j and --resume work with -r"},
        {{"decrypt", "-r", "--offset", "1", "@/in"}, "-r does not work with --offset"},
        {{"encrypt", "--salvage", "@/in"}, "--salvage works with decrypt only"},
        {{"rekey", "@/in"}, "-o, --offset, --length, --in-place and the check-file options do not apply"},
        {{"encrypt", "--new-password-file", "@/in", "@/in"}, "works with rekey only"},
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
    // the whole help; after a command, that command's own
    for (const char* flag : {"--help", "-h"}) {
        RunResult run = RunWithPassword({flag, "encrypt"}, kPassword);
        EXPECT_EQ(run.exit_code, 0);
        EXPECT_NE(run.out.find("Usage: tvkcrypt encrypt"), std::string::npos);
        EXPECT_EQ(run.out.find("INPUT and FILE may be the same file"), std::string::npos);
        EXPECT_NE(run.out.find("tvkcrypt --help"), std::string::npos);
        run = RunWithPassword({flag}, kPassword);
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
