/*****************************************************************
| CommandCheck.cpp - tvkcrypt check [--create] FILE: verifies FILE
| against its check file without writing anything, naming every range
| that fails, or makes the check file of an existing encrypted FILE
| (trusting the password given: nothing can confirm it).
****************************************************************/
#include "Commands.h"

#include <cerrno>
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
#include "TreeDirectory.h"
#include "TvkTransform.h"

namespace tvkcrypt {
namespace {

// The password, checked against the check file read, or recorded in
// the one made.
int
TakePassword(const Options& options, const EnvironmentPassword& environment_password, JobKeys& keys,
             const JobInput& input, const std::string& check_path, TVK_CheckFileReader& reader,
             TVK_CheckFileWriter& writer)
{
    // a new check file records the password: asked twice, as when
    // encrypting
    if (!keys.Obtained()) {
        if (int status = keys.Obtain(options, environment_password, options.create_check, options.create_check,
                                     PromptFor(input.label))) {
            return status;
        }
    }
    if (options.create_check) {
        if (!options.quiet) {
            WriteToStandardError("tvkcrypt: note: the password cannot be confirmed for an existing "
                                 "file; the check file records the password given\n");
        }
        return keys.StartWriter(writer, input.info.size);
    }
    if (int status = keys.Verify(reader, check_path)) return status;
    if (input.info.size != reader.ExpectedSize()) {
        return Damaged(input.label, "it is " + std::to_string(input.info.size) + " bytes long, its check file says " +
                                        std::to_string(reader.ExpectedSize()));
    }
    return 0;
}

// Reads all of the input through the pipeline, verifying every block
// (and naming each that fails) or tagging it.
int
ReadAll(const Options& options, JobInput& input, TVK_CheckFileReader& reader, TVK_CheckFileWriter& writer,
        TransformProgress* job_progress, TransformOutcome& outcome)
{
    TransformJob job;
    std::vector<NPT_UInt64> damaged;
    job.input = &input.file;
    job.input_seekable = input.info.size > 0;
    job.bounded = input.info.size > 0;
    job.length = input.info.size;
    if (options.create_check) {
        job.tag = &writer;
    } else {
        job.verify = &reader;
        job.damaged_blocks = &damaged;
    }
    Progress progress(options.create_check ? "reading" : "checking",
                      ShownFor(options, job_progress == nullptr && BarWanted(true, input.info.size)), true,
                      input.info.size, false);
    job.progress = job_progress != nullptr ? job_progress : &progress;
    job.workers = WorkersFor(true, input.info.size);
    outcome = RunTransform(job);
    progress.Finish();
    if (FileReport* report = CurrentReport()) report->bytes = outcome.bytes_read;
    switch (outcome.failure) {
        case TransformOutcome::NONE:
            break;
        case TransformOutcome::READ:
            return Failure("cannot read " + input.label + ": " + ErrorText(outcome.error));
        case TransformOutcome::INPUT_SHRANK:
            return Failure(input.label + " became shorter while it was being read");
        case TransformOutcome::DATA_CHANGED:
            damaged.push_back(outcome.damaged_offset / reader.BlockSize());
            break;
        default:
            return Failure(std::string("check failure: ") + NPT_ResultText(outcome.result));
    }
    if (!damaged.empty()) {
        std::vector<std::pair<NPT_UInt64, NPT_UInt64>> ranges;
        const std::string where = DamagedRanges(damaged, reader.BlockSize(), reader.ExpectedSize(), ranges);
        if (FileReport* report = CurrentReport()) report->damaged = ranges;
        return Damaged(input.label, where);
    }
    if (outcome.bytes_read != input.info.size) return Damaged(input.label);
    return 0;
}

// check FILE (context: one file of check -r).
int
CheckOne(const Options& options, const EnvironmentPassword& environment_password, FileContext* context)
{
    const TreeDirectory* directory = context != nullptr ? context->input_directory : nullptr;
    const std::string check_path =
        options.check_file.empty() ? CheckFileNameFor(CreatedName(options.input)) : options.check_file;
    JobInput input;
    if (int status = directory != nullptr ? OpenInputIn(*directory, context->input_name, input)
                                          : OpenInput(options.input, input)) {
        return status;
    }
    if (!input.regular) return Failure(input.label + " is not a regular file");
    if (int status = RefusePasswordFileOnInput(options, input)) return status;

    TVK_CheckFileReader reader;
    CheckOutput check_output;
    if (options.create_check) {
        if (int status = LocateCheckOutput(check_path, options.force, check_output)) return status;
        if (int status = RefuseCheckCollision(check_output, input, nullptr)) return status;
        if (int status = CreateCheckOutput(check_output)) return status;
    } else {
        bool found = false;
        const std::string name = directory != nullptr ? CheckFileNameFor(context->input_name) : "";
        if (int status = LoadCheckInput(check_path, false, reader, found, directory, name)) return status;
        if (!found) {
            return Failure("cannot open the check file " + QuotedName(check_path) + ": " + ErrorText(ENOENT) +
                           "; 'tvkcrypt check --create' makes one for an existing encrypted file");
        }
    }

    std::unique_ptr<JobKeys> own_keys;
    JobKeys* keys = context != nullptr ? context->keys : nullptr;
    if (keys == nullptr) {
        own_keys.reset(new JobKeys);
        keys = own_keys.get();
    }
    TVK_CheckFileWriter writer;
    if (int status = TakePassword(options, environment_password, *keys, input, check_path, reader, writer)) {
        return status;
    }
    TransformOutcome outcome;
    if (int status = ReadAll(options, input, reader, writer, context != nullptr ? context->progress : nullptr,
                             outcome)) {
        return status;
    }

    if (options.create_check) {
        std::string error;
        if (!StoreCheckFile(writer, outcome.bytes_read, check_output.temp, check_output.label, error)) {
            return Failure(error);
        }
        return CommitCheckOutput(check_output);
    }
    if (!options.quiet && context == nullptr) {
        WriteToStandardError("tvkcrypt: " + input.label + ": password and data are correct\n");
    }
    return kExitSuccess;
}

}  // namespace

int
RunCheck(const Options& options, const EnvironmentPassword& environment_password)
{
    if (options.recursive) return RunTree(options, environment_password);
    return CheckOne(options, environment_password, nullptr);
}

int
RunCheckFile(const Options& options, const EnvironmentPassword& environment_password, FileContext& context)
{
    return CheckOne(options, environment_password, &context);
}

}  // namespace tvkcrypt
