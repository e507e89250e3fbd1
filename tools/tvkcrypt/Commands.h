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

namespace tvkcrypt {

struct EnvironmentPassword;
struct Options;

typedef int (*CommandFunction)(const Options& options, const EnvironmentPassword& environment_password);

// encrypt and decrypt (CommandCrypt.cpp)
int RunCrypt(const Options& options, const EnvironmentPassword& environment_password);
// check, and check --create (CommandCheck.cpp)
int RunCheck(const Options& options, const EnvironmentPassword& environment_password);
// mount and unmount (CommandMount.cpp)
int RunMount(const Options& options, const EnvironmentPassword& environment_password);
int RunUnmount(const Options& options, const EnvironmentPassword& environment_password);

}  // namespace tvkcrypt

#endif  // TVKCRYPT_COMMANDS_H
