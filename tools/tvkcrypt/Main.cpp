/*****************************************************************
| Main.cpp - tvkcrypt: encrypts and decrypts files and pipes with a
| password, in the header-less format of the tvkcrypto library.
|
| main makes the process safe for secrets, parses the command line and
| hands the options to the command's function (Commands.h), through the
| table below. Exit status: 0 success, 1 failure, 2 usage error, 3 a
| salvaged file, 16 to 31 a job of several files with trouble (Job.h).
****************************************************************/
#include <cerrno>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "Commands.h"
#include "FileHandle.h"
#include "Hardening.h"
#include "Job.h"
#include "Options.h"
#include "Password.h"
#include "Signals.h"
#include "SystemInfo.h"
#include "JobReport.h"

#ifndef TVKCRYPT_VERSION
#define TVKCRYPT_VERSION "unknown"
#endif

namespace tvkcrypt {
namespace {

// Every command, and the function that runs it.
struct CommandEntry {
    Options::Command command;
    CommandFunction  run;
};

const CommandEntry kCommands[] = {
    {Options::ENCRYPT, RunCrypt},
    {Options::DECRYPT, RunCrypt},
    {Options::CHECK,   RunCheck},
    {Options::REKEY,   RunRekey},
    {Options::MOUNT,   RunMount},
    {Options::UNMOUNT, RunUnmount},
};

// --help and --version.
int
ShowText(const Options& options)
{
    std::string text = options.action == Options::SHOW_HELP
                           ? HelpText(options.command)
                           : std::string("tvkcrypt " TVKCRYPT_VERSION "\n");
    FileHandle out = FileHandle::StandardOutput();
    if (SysError failure = WriteAll(out, text.data(), text.size())) {
        return Failure("cannot write to standard output: " + ErrorText(failure));
    }
    return kExitSuccess;
}

// Parses the command line, taken from the system as UTF-8; false after
// the usage error is printed.
bool
Parse(int argc, char** argv, Options& options)
{
    std::string error;
    const std::vector<std::string> arguments = CommandLineArguments(argc, argv);
    std::vector<const char*> utf8_argv;
    for (const std::string& argument : arguments) utf8_argv.push_back(argument.c_str());
    utf8_argv.push_back(nullptr);
    if (!ParseCommandLine(static_cast<int>(arguments.size()), utf8_argv.data(), options, error)) {
        WriteToStandardError("tvkcrypt: " + error + "\nTry 'tvkcrypt --help' for more information.\n");
        return false;
    }
    return true;
}

int
Dispatch(const Options& options, const EnvironmentPassword& environment_password)
{
    for (const CommandEntry& entry : kCommands) {
        if (entry.command != options.command) continue;
        // a job of one file reports in --json as a job of many would
        const bool one_file = options.json && !options.recursive && options.inputs.size() <= 1;
        if (!one_file) return entry.run(options, environment_password);
        FileReport report;
        report.path = options.input;
        ReportTo(&report);
        const int status = entry.run(options, environment_password);
        ReportTo(nullptr);
        if (status != kExitSuccess && status != kExitSalvaged && report.result == FileReport::OK) {
            report.result = FileReport::FAILED;
        }
        WriteJsonLine(report);
        return status;
    }
    return Failure("no such command");  // the parser lets only the commands above through
}

}  // namespace
}  // namespace tvkcrypt

int
main(int argc, char** argv)
{
    using namespace tvkcrypt;
    // secrets first: no core dump may hold them, and the password leaves
    // the environment before anything else runs
    DisableCoreDumps();
    std::unique_ptr<EnvironmentPassword> environment_password;
    try {
        environment_password.reset(new EnvironmentPassword);
    } catch (const std::bad_alloc&) {
        return Failure(ErrorText(ENOMEM));
    }
    TakeEnvironmentPassword(*environment_password);
    GuardStandardDescriptors();
    InstallSignalHandlers();
    Options options;
    if (!Parse(argc, argv, options)) return kExitUsage;
    if (options.action != Options::RUN) return ShowText(options);
    // out of memory: unwind, so that the temporary output goes and the
    // terminal gets its echo back
    try {
        return Dispatch(options, *environment_password);
    } catch (const std::bad_alloc&) {
        return Failure(ErrorText(ENOMEM));
    }
}
