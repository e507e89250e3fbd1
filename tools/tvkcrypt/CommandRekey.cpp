/*****************************************************************
| CommandRekey.cpp - tvkcrypt rekey FILE...: moves encrypted files to a
| new password in one pass each (new = old XOR old key stream XOR new
| key stream), with a new check file, committed as a pair as encrypt
| commits its output.
|
| The old password is checked against FILE.tvkcheck when there is one
| (a wrong one is refused before anything is written), and every block
| is verified as it is read: damaged data is never given a new check
| file that would vouch for it. The new password is asked twice.
****************************************************************/
#include "Commands.h"

#include <memory>
#include <string>
#include <vector>

#include "CheckFileIo.h"
#include "Job.h"
#include "JobKeys.h"
#include "JobOutput.h"
#include "NptResults.h"
#include "Options.h"
#include "Password.h"
#include "Progress.h"
#include "QuotedName.h"
#include "JobReport.h"
#include "TvkTransform.h"

namespace tvkcrypt {
namespace {

class RekeyRun
{
public:
    RekeyRun(const Options& options, FileContext& context) : m_Options(options), m_Context(context) {}
    int Run();

private:
    int Prepare();
    int Transform();

    const Options&      m_Options;
    FileContext&        m_Context;
    JobInput            m_Input;
    JobOutput           m_Output;
    CheckOutput         m_CheckOutput;
    TVK_CheckFileReader m_OldCheck;
    bool                m_HasOldCheck = false;
    TVK_CheckFileWriter m_NewCheck;
    TransformOutcome    m_Outcome;
};

// The file, its check file, and the temporaries of both.
int
RekeyRun::Prepare()
{
    const TreeDirectory* directory = m_Context.input_directory;
    if (int status = directory != nullptr ? OpenInputIn(*directory, m_Context.input_name, m_Input)
                                          : OpenInput(m_Options.input, m_Input)) {
        return status;
    }
    if (!m_Input.regular) return Failure(m_Input.label + " is not a regular file");
    MeasureInput(m_Input);
    // the file replaces itself once all of it has been read
    Options in_place = m_Options;
    in_place.output = m_Options.input;
    in_place.force = true;
    if (int status = LocateOutput(in_place, m_Input, true, m_Output, directory, m_Context.input_name)) return status;
    const std::string check_path = CheckFileNameFor(m_Options.input);
    const std::string check_name = directory != nullptr ? CheckFileNameFor(m_Context.input_name) : "";
    if (int status = LoadCheckInput(check_path, false, m_OldCheck, m_HasOldCheck, directory, check_name)) {
        return status;
    }
    if (int status = LocateCheckOutput(check_path, true, m_CheckOutput, directory, check_name)) return status;
    if (int status = CreateOutput(m_Output)) return status;
    if (int status = CreateCheckOutput(m_CheckOutput)) return status;
    if (m_HasOldCheck) {
        if (int status = m_Context.keys->Verify(m_OldCheck, check_path)) return status;
        if (m_Input.size != m_OldCheck.ExpectedSize()) {
            return Damaged(m_Input.label, "it is " + std::to_string(m_Input.size) +
                                              " bytes long, its check file says " +
                                              std::to_string(m_OldCheck.ExpectedSize()));
        }
    } else if (!m_Options.quiet) {
        WriteMessage("tvkcrypt: note: " + m_Input.label + " has no check file: the old password cannot be checked\n");
    }
    return m_Context.new_keys->StartWriter(m_NewCheck, m_Input.size);
}

int
RekeyRun::Transform()
{
    Key old_key, new_key;
    m_Context.keys->CopyKey(old_key);
    m_Context.new_keys->CopyKey(new_key);
    std::vector<NPT_UInt64> damaged;
    TransformJob job;
    job.input = &m_Input.file;
    job.input_seekable = m_Input.seekable;
    job.bounded = true;
    job.length = m_Input.size;
    job.key = old_key.Bytes();
    job.next_key = new_key.Bytes();
    job.output = m_Output.Writer();
    job.output_positioned = true;
    job.output_discarded_on_failure = true;
    job.tag = &m_NewCheck;
    if (m_HasOldCheck) {
        job.verify = &m_OldCheck;
        job.damaged_blocks = &damaged;
    }
    Progress progress("rekeying", ShownFor(m_Options, m_Context.progress == nullptr && BarWanted(true, job.length)),
                      true, job.length, false);
    job.progress = m_Context.progress != nullptr ? m_Context.progress : &progress;
    job.workers = WorkersFor(true, job.length);
    m_Outcome = RunTransform(job);
    progress.Finish();
    if (FileReport* report = CurrentReport()) report->bytes = m_Outcome.bytes_read;
    if (!damaged.empty()) {
        std::vector<std::pair<NPT_UInt64, NPT_UInt64>> ranges;
        const std::string where = DamagedRanges(damaged, m_OldCheck.BlockSize(), m_OldCheck.ExpectedSize(), ranges);
        if (FileReport* report = CurrentReport()) report->damaged = ranges;
        return Damaged(m_Input.label, where + "; it is left as it was");
    }
    switch (m_Outcome.failure) {
        case TransformOutcome::NONE: break;
        case TransformOutcome::READ: return Failure("cannot read " + m_Input.label + ": " + ErrorText(m_Outcome.error));
        case TransformOutcome::WRITE: return Failure("cannot write " + m_Output.label + ": " + ErrorText(m_Outcome.error));
        case TransformOutcome::INPUT_SHRANK: return Failure(m_Input.label + " became shorter while it was being read");
        default: return Failure(std::string("cipher failure: ") + NPT_ResultText(m_Outcome.result));
    }
    std::string error;
    if (!StoreCheckFile(m_NewCheck, m_Outcome.bytes_read, m_CheckOutput.temp, m_CheckOutput.label, error)) {
        return Failure(error);
    }
    return 0;
}

int
RekeyRun::Run()
{
    if (int status = Prepare()) return status;
    if (int status = Transform()) return status;
    return CommitOutput(m_Output, m_CheckOutput, m_Outcome.bytes_done);
}

}  // namespace

int
ObtainRekeyPasswords(const Options& options, const EnvironmentPassword& environment, JobKeys& old_keys,
                     JobKeys& new_keys, const std::string& what)
{
    if (int status = old_keys.Obtain(options, environment, false, false, "Password for " + what + ": ")) return status;
    return new_keys.Obtain(options, environment, true, true, "New password: ", true);
}

int
RunRekeyFile(const Options& options, const EnvironmentPassword&, FileContext& context)
{
    RekeyRun run(options, context);
    return run.Run();
}

int
RunRekey(const Options& options, const EnvironmentPassword& environment_password)
{
    if (options.recursive) return RunTree(options, environment_password);
    JobKeys old_keys, new_keys;
    const std::string what = options.inputs.size() == 1 ? QuotedName(options.inputs[0]) : "the files";
    if (int status = ObtainRekeyPasswords(options, environment_password, old_keys, new_keys, what)) return status;
    if (options.inputs.size() == 1 && !options.json) {
        FileContext context;
        context.keys = &old_keys;
        context.new_keys = &new_keys;
        Options one = options;
        one.input = options.inputs[0];
        return RunRekeyFile(one, environment_password, context);
    }
    // several files: each on its own, a summary at the end
    JobTally tally;
    for (const std::string& input : options.inputs) {
        FileReport report;
        report.path = input;
        FileContext context;
        context.keys = &old_keys;
        context.new_keys = &new_keys;
        Options one = options;
        one.input = input;
        ReportTo(&report);
        if (RunRekeyFile(one, environment_password, context) != 0 && report.result == FileReport::OK) {
            report.result = FileReport::FAILED;
        }
        ReportTo(nullptr);
        tally.Add(report);
        if (options.json) WriteJsonLine(report);
    }
    if (!options.quiet || tally.ExitStatus() != kExitSuccess) {
        WriteToStandardError("tvkcrypt: " + std::to_string(options.inputs.size()) + " files: " + tally.Text() + "\n");
    }
    return tally.ExitStatus();
}

}  // namespace tvkcrypt
