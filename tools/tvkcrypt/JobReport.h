/*****************************************************************
| JobReport.h - what became of each file of a tvkcrypt job: FileReport,
| the ranges of damaged data, the tally of a job of many files with its
| exit status, and the --json lines.
|
| The messages of a file's run (Failure, Damaged, the password's
| verdict in Job.h) fill the report of their thread, when one is set;
| a job of many files sets one per file on each worker. Pure functions
| otherwise; any thread.
****************************************************************/
#ifndef TVKCRYPT_JOB_REPORT_H
#define TVKCRYPT_JOB_REPORT_H

#include <string>
#include <utility>
#include <vector>

#include "NptTypes.h"

namespace tvkcrypt {

// Exit statuses. A job of several files (-r, rekey of several) ends
// with 0 when every file went well, else kExitPartial plus a bit for
// each kind of trouble among its files; kExitFailure when it could not
// run at all.
const int kExitSuccess = 0;
const int kExitFailure = 1;
const int kExitUsage = 2;
const int kExitSalvaged = 3;          // decrypt --salvage: written, with zeros for damaged blocks
const int kExitBrokenPipe = 128 + 13;  // standard output's reader went away, as SIGPIPE ends cat
const int kExitPartial = 16;
const int kPartialDamaged = 1;        // some files damaged (or salvaged)
const int kPartialWrongPassword = 2;  // some files refused the password
const int kPartialFailed = 4;         // some files failed otherwise
const int kPartialSkipped = 8;        // some entries skipped (links, special files)

/*----------------------------------------------------------------------
|   FileReport: what became of one file, for a job's summary and its
|   --json lines. Failure, Damaged and CheckPasswordStatus fill the
|   report of their thread, when one is set (ReportTo).
+---------------------------------------------------------------------*/
struct FileReport {
    enum Result { OK, DAMAGED, WRONG_PASSWORD, FAILED, SKIPPED, SALVAGED, RESUMED };
    Result      result = OK;
    std::string path;      // as the user would name it
    std::string message;   // the last message about it, without "tvkcrypt: "
    NPT_UInt64  bytes = 0; // bytes of the input handled
    // damaged byte ranges of the encrypted data, [first, end), in order
    std::vector<std::pair<NPT_UInt64, NPT_UInt64>> damaged;
};
// The report that this thread's messages go to (null: none).
void ReportTo(FileReport* report);
FileReport* CurrentReport();
// "bytes 0-1023 (block 0), bytes 4096-8191 (blocks 4-7)": damaged, a
// sorted list of check-block indices of block_size bytes, in ranges,
// clipped to data_size. ranges gets the byte ranges too.
std::string DamagedRanges(std::vector<NPT_UInt64> damaged, NPT_UInt64 block_size, NPT_UInt64 data_size,
                          std::vector<std::pair<NPT_UInt64, NPT_UInt64>>& ranges);

// The summary of a job's reports, and its exit status.
struct JobTally {
    unsigned ok = 0, resumed = 0, damaged = 0, salvaged = 0, wrong_password = 0, failed = 0, skipped = 0;
    void Add(const FileReport& report);
    int  ExitStatus() const;
    // "120 ok, 3 damaged, 1 skipped"
    std::string Text() const;
};

// The --json line of a report, with its newline; WriteJsonLine puts it
// on standard output.
std::string JsonLine(const FileReport& report);
void WriteJsonLine(const FileReport& report);

}  // namespace tvkcrypt

#endif  // TVKCRYPT_JOB_REPORT_H
