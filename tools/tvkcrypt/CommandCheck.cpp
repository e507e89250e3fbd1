/*****************************************************************
| CommandCheck.cpp - tvkcrypt check [--create] FILE: verifies FILE
| against its check file without writing anything, or makes the check
| file of an existing encrypted FILE (trusting the password given:
| nothing can confirm it).
****************************************************************/
#include "Commands.h"

#include <string>

#include "CheckFileIo.h"
#include "Job.h"
#include "JobOutput.h"
#include "NptResults.h"
#include "Options.h"
#include "Password.h"
#include "Progress.h"
#include "TvkTransform.h"

namespace tvkcrypt {
namespace {

// The password, checked against the check file read, or recorded in
// the one made.
int
TakePassword(const Options& options, const EnvironmentPassword& environment_password, const JobInput& input,
             const std::string& check_path, TVK_CheckFileReader& reader, TVK_CheckFileWriter& writer)
{
    SecretBuffer password(kMaxPasswordLength);
    std::string error;
    // a new check file records the password: asked twice, as when
    // encrypting
    if (!ObtainPassword(options.password_file, options.create_check, options.create_check,
                        environment_password, options.password_encoding, password, error)) {
        return Failure(error);
    }
    if (options.create_check) {
        if (!options.quiet) {
            WriteToStandardError("tvkcrypt: note: the password cannot be confirmed for an existing "
                                 "file; the check file records the password given\n");
        }
        if (!StartCheckWriter(writer, password, input.info.size, error)) return Failure(error);
        return 0;
    }
    if (int status = VerifyCheckPassword(reader, password, check_path)) return status;
    if (input.info.size != reader.ExpectedSize()) return Damaged(input.label);
    return 0;
}

// Reads all of the input through the pipeline, verifying or tagging it.
int
ReadAll(const Options& options, JobInput& input, TVK_CheckFileReader& reader, TVK_CheckFileWriter& writer,
        TransformOutcome& outcome)
{
    TransformJob job;
    job.input = &input.file;
    job.input_seekable = input.info.size > 0;
    job.bounded = input.info.size > 0;
    job.length = input.info.size;
    if (options.create_check) {
        job.tag = &writer;
    } else {
        job.verify = &reader;
    }
    Progress progress(options.create_check ? "reading" : "checking",
                      ShownFor(options, BarWanted(true, input.info.size)), true, input.info.size, false);
    job.progress = &progress;
    job.workers = WorkersFor(true, input.info.size);
    outcome = RunTransform(job);
    progress.Finish();
    switch (outcome.failure) {
        case TransformOutcome::NONE:
            break;
        case TransformOutcome::READ:
            return Failure("cannot read " + input.label + ": " + ErrorText(outcome.error));
        case TransformOutcome::INPUT_SHRANK:
            return Failure(input.label + " became shorter while it was being read");
        case TransformOutcome::DATA_CHANGED:
            return Damaged(input.label);
        default:
            return Failure(std::string("check failure: ") + NPT_ResultText(outcome.result));
    }
    if (outcome.bytes_read != input.info.size) return Damaged(input.label);
    return 0;
}

}  // namespace

int
RunCheck(const Options& options, const EnvironmentPassword& environment_password)
{
    const std::string check_path =
        options.check_file.empty() ? CheckFileNameFor(CreatedName(options.input)) : options.check_file;
    JobInput input;
    if (int status = OpenInput(options.input, input)) return status;
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
        if (int status = LoadCheckInput(check_path, true, reader, found)) return status;
    }

    TVK_CheckFileWriter writer;
    if (int status = TakePassword(options, environment_password, input, check_path, reader, writer)) {
        return status;
    }
    TransformOutcome outcome;
    if (int status = ReadAll(options, input, reader, writer, outcome)) return status;

    if (options.create_check) {
        std::string error;
        if (!StoreCheckFile(writer, outcome.bytes_read, check_output.temp, check_output.label, error)) {
            return Failure(error);
        }
        return CommitCheckOutput(check_output);
    }
    if (!options.quiet) {
        WriteToStandardError("tvkcrypt: " + input.label + ": password and data are correct\n");
    }
    return kExitSuccess;
}

}  // namespace tvkcrypt
