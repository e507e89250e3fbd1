/*****************************************************************
| ToolFailureCase.h - one failing run of the tool as a table row, and
| what every failure must leave behind: exit status 1, a message naming
| the problem, the target exactly as it was, no temporary file beside
| it, nothing on standard output.
****************************************************************/
#ifndef TVKCRYPT_TOOL_FAILURE_CASE_H
#define TVKCRYPT_TOOL_FAILURE_CASE_H

#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "ToolRunner.h"

namespace tvkcrypt_test {

const char kFailurePassword[] = "p4ss";
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

inline void
PrintTo(const FailureCase& c, std::ostream* os)
{
    *os << c.name;
}

inline std::vector<std::string>
Expand(const std::vector<std::string>& args, const std::string& dir)
{
    std::vector<std::string> out;
    for (std::string arg : args) {
        if (!arg.empty() && arg[0] == '@') arg = dir + arg.substr(1);
        out.push_back(arg);
    }
    return out;
}

// Runs c in a scratch directory holding clear (3 MiB) and target.
inline void
ExpectFailureLeavesTargetAlone(const FailureCase& c)
{
    TempDir dir;
    WriteFile(dir / "clear", PatternData(3 << 20));
    WriteFile(dir / "target", kOriginal);
    if (c.setup) c.setup(dir);
    const std::vector<std::string> before = dir.List();

    RunSpec spec;
    spec.args = Expand(c.args, dir.Path());
    if (c.with_password) spec.env["TVK_PASSWORD"] = kFailurePassword;
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

}  // namespace tvkcrypt_test

#endif  // TVKCRYPT_TOOL_FAILURE_CASE_H
