/*****************************************************************
| Commands.h - the commands of tvkcrypt, one source each.
|
| A command runs once the command line is parsed: it gets the options
| and the password that was in the environment at start-up, does its
| work with the parts of Job.h and JobOutput.h, and returns the exit
| status (kExitSuccess, kExitFailure) once it has printed its messages.
| It may throw std::bad_alloc, which main reports; everything it made
| is removed on the way out. Main.cpp dispatches through its table of
| commands: a new command is one more source here and one more line
| there.
****************************************************************/
#ifndef TVKCRYPT_COMMANDS_H
#define TVKCRYPT_COMMANDS_H

#include <string>

namespace tvkcrypt {

struct EnvironmentPassword;
struct FileContext;
struct Options;

typedef int (*CommandFunction)(const Options& options, const EnvironmentPassword& environment_password);

// encrypt and decrypt (CommandCrypt.cpp)
int RunCrypt(const Options& options, const EnvironmentPassword& environment_password);
// check, and check --create (CommandCheck.cpp)
int RunCheck(const Options& options, const EnvironmentPassword& environment_password);
// rekey FILE... (CommandRekey.cpp)
int RunRekey(const Options& options, const EnvironmentPassword& environment_password);
// encrypt, decrypt, check and rekey of a directory tree, -r
// (CommandTree.cpp)
int RunTree(const Options& options, const EnvironmentPassword& environment_password);

// One file of a job of many, with what the job shares (Job.h): options
// name the file (input, output) as messages show it, context says where
// it is and holds the keys.
int RunCryptFile(const Options& options, const EnvironmentPassword& environment_password, FileContext& context);
int RunCheckFile(const Options& options, const EnvironmentPassword& environment_password, FileContext& context);
// The old password (verified per file) and the new one (asked twice)
// of a rekey of what (the quoted name, or "the files in 'dir'").
class JobKeys;
int ObtainRekeyPasswords(const Options& options, const EnvironmentPassword& environment, JobKeys& old_keys,
                         JobKeys& new_keys, const std::string& what);
int RunRekeyFile(const Options& options, const EnvironmentPassword& environment_password, FileContext& context);
// mount and unmount (CommandMount.cpp)
int RunMount(const Options& options, const EnvironmentPassword& environment_password);
int RunUnmount(const Options& options, const EnvironmentPassword& environment_password);

}  // namespace tvkcrypt

#endif  // TVKCRYPT_COMMANDS_H
