// The reports of a job's files: damaged blocks as byte ranges, the
// tally's exit status, and the --json line of names that are not plain.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "JobReport.h"

namespace tvkcrypt {
namespace {

TEST(JobReportTest, DamagedBlocksBecomeRanges)
{
    std::vector<std::pair<NPT_UInt64, NPT_UInt64>> ranges;
    // unsorted, repeated, consecutive; the last block is short
    EXPECT_EQ(DamagedRanges({9, 3, 4, 3, 0}, 1024, 9500, ranges),
              "bytes 0-1023 (block 0), bytes 3072-5119 (blocks 3-4), bytes 9216-9499 (block 9)");
    const std::vector<std::pair<NPT_UInt64, NPT_UInt64>> expected = {{0, 1024}, {3072, 5120}, {9216, 9500}};
    EXPECT_EQ(ranges, expected);
}

TEST(JobReportTest, TallyAndJson)
{
    struct Case {
        std::vector<FileReport::Result> results;
        int status;
        std::string text;
    };
    const std::vector<Case> cases = {
        {{FileReport::OK, FileReport::RESUMED}, 0, "1 ok, 1 already done"},
        {{FileReport::OK, FileReport::SKIPPED}, 16 + 8, "1 ok, 1 skipped"},
        {{FileReport::SALVAGED, FileReport::WRONG_PASSWORD}, 16 + 1 + 2, "0 ok, 1 salvaged, 1 wrong password"},
        {{FileReport::DAMAGED, FileReport::FAILED}, 16 + 1 + 4, "0 ok, 1 damaged, 1 failed"},
    };
    for (const Case& c : cases) {
        JobTally tally;
        for (FileReport::Result result : c.results) {
            FileReport report;
            report.result = result;
            tally.Add(report);
        }
        EXPECT_EQ(tally.ExitStatus(), c.status) << c.text;
        EXPECT_EQ(tally.Text(), c.text);
    }
    FileReport report;
    report.result = FileReport::DAMAGED;
    report.path = "a \"q\"\\\n\xff\xc3\xa9";
    report.bytes = 5;
    report.damaged = {{0, 1024}};
    report.message = "m";
    EXPECT_EQ(JsonLine(report), "{\"path\":\"a \\\"q\\\"\\\\\\u000a\\u00ff\xc3\xa9\",\"result\":\"damaged\","
                                "\"bytes\":5,\"damaged\":[[0,1024]],\"message\":\"m\"}\n");
}

}  // namespace
}  // namespace tvkcrypt
