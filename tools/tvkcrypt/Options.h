/*****************************************************************
| Options.h - the command line of tvkcrypt.
|
| ParseCommandLine turns argv into Options or a usage error. It does
| no I/O: the caller prints the help, the version or the error.
| Passwords are never accepted here: --password and -p are rejected
| with an explanation, because command lines are visible to every user
| of the machine.
****************************************************************/
#ifndef TVKCRYPT_OPTIONS_H
#define TVKCRYPT_OPTIONS_H

#include <string>
#include <vector>

#include "NptTypes.h"
#include "PasswordEncoding.h"

namespace tvkcrypt {

struct Options {
    enum Command { NONE, ENCRYPT, DECRYPT, CHECK, REKEY, MOUNT, UNMOUNT };
    enum Action { RUN, SHOW_HELP, SHOW_VERSION };

    Action      action = RUN;
    Command     command = NONE;
    std::string input = "-";        // "-" is standard input
    std::string output = "-";       // "-" is standard output
    bool        output_given = false;  // -o given (-o - asks for standard output)
    std::string password_file;      // empty: not given; "-": standard input
    PasswordEncoding password_encoding;  // the bytes the key is derived from
    bool        force = false;
    bool        follow_symlinks = false;  // write through a link at the output
    bool        in_place = false;   // write into the existing -o file directly
    unsigned    quiet = 0;          // 1: no bar, no notices; 2: no warnings either
    bool        has_offset = false;
    NPT_UInt64  offset = 0;
    bool        has_length = false;
    NPT_UInt64  length = 0;
    // check files
    std::string check_file;         // empty: beside the encrypted file
    bool        no_check_file = false;
    bool        create_check = false; // check --create
    // jobs of many files
    std::vector<std::string> inputs; // every input operand (rekey takes several)
    bool        recursive = false;  // -r: INPUT is a directory tree
    unsigned    jobs = 0;           // -j: files at once (0: the processors)
    bool        json = false;       // a line of JSON per file on standard output
    bool        resume = false;     // skip outputs already complete and verified
    bool        salvage = false;    // decrypt: zeros for damaged blocks
    std::string new_password_file;  // rekey
    // mount and unmount (input is the source; -f is --foreground there)
    std::string mountpoint;
    std::string suffix = ".tvk";    // dropped from the names of files
    bool        read_write = false;
    bool        direct_io = false;
    bool        foreground = false;
    bool        allow_other = false;  // -o allow_other
};

// The most files -j works on at once.
const unsigned kMaxJobs = 32;

// Returns true on success. On a usage error returns false with error
// set to one line without the program name or a final period.
bool ParseCommandLine(int argc, const char* const* argv, Options& options, std::string& error);

// The text of --help: the whole help, or a command's own.
std::string HelpText(Options::Command command = Options::NONE);

}  // namespace tvkcrypt

#endif  // TVKCRYPT_OPTIONS_H
