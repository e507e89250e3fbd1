/*****************************************************************
| JobOutput.h - where a tvkcrypt job writes, the check file it writes
| beside, and the commit that makes them visible.
|
| An output is standard output, a device or FIFO written directly, a
| temporary file that takes the target's name only once the job has
| succeeded, or (--in-place) the existing target written directly. A
| check file is always a temporary of its own; beside a temporary
| output the two are committed as a pair (CommitTogether), otherwise
| the check file follows the data. Each step returns 0 to go on, or the
| exit status once it has printed its message (see Job.h). One thread
| at a time.
****************************************************************/
#ifndef TVKCRYPT_JOB_OUTPUT_H
#define TVKCRYPT_JOB_OUTPUT_H

#include <string>

#include "FileHandle.h"
#include "NptTypes.h"
#include "OutputPlace.h"
#include "TempOutput.h"

namespace tvkcrypt {

class TreeDirectory;
struct CheckOutput;
struct JobInput;
struct Options;

/*----------------------------------------------------------------------
|   the output
+---------------------------------------------------------------------*/
struct JobOutput {
    enum Kind { TO_STDOUT, TO_TEMP_FILE, TO_DEVICE, IN_PLACE };

    Kind        kind = TO_STDOUT;
    std::string path;                       // as given with -o
    std::string label = "standard output";
    OutputPlace place;
    bool        replacing = false;          // something is at the output's name
    TempOutput  temp;                       // TO_TEMP_FILE
    FileHandle  in_place;                   // IN_PLACE
    FileHandle  device;                     // TO_DEVICE
    FileHandle  standard_output = FileHandle::StandardOutput();
    bool        notices = true;             // not --quiet
    // FILE.tvkcheck of a file output that gets no check file of its own:
    // it describes the old content and would refuse the new one, so it
    // goes with the commit (set aside with it, removed once it is done)
    bool        stale_check = false;
    std::string stale_check_label;
    OutputPlace stale_check_place;

    // What the data goes to, once created or opened.
    const FileHandle* Writer() const;
    // Whether each block goes to its own offset (a file nobody else
    // writes) rather than in order.
    bool Positioned() const { return kind == TO_TEMP_FILE || kind == IN_PLACE; }
};

// Checks where options' output goes before anything is created:
// refuses standard output when it is the input itself, or a terminal
// for encrypted data; refuses an existing file without --force, a
// directory, a block device without --force, and --in-place where it
// cannot work. Sets kind, path, label, place and replacing.
// With directory, the output is name in that open directory of a tree
// (options.output names it in messages), never through a link.
int LocateOutput(const Options& options, const JobInput& input, bool encrypting, JobOutput& output,
                 const TreeDirectory* directory = nullptr, const std::string& name = std::string());
// Looks for the check file at stale_path (FILE.tvkcheck beside a file
// output) that this job would leave describing the old content: one it
// does not write itself and that is not the input. Sets stale_check.
// Fails when the name cannot be looked at.
int LocateStaleCheck(JobOutput& output, const std::string& stale_path, const CheckOutput& check,
                     const JobInput& input, const TreeDirectory* directory = nullptr,
                     const std::string& name = std::string());
// Creates the temporary, or opens the file to write in place: before the
// password is asked, so that a place that cannot take the output shows
// at once (nothing in an existing file changes yet).
int CreateOutput(JobOutput& output);
// The message of a failure to write an output in place: the file has
// changed even though the job failed, so say so and what to do.
std::string InPlaceFailure(const std::string& label, SysError error);
// Opens a device output; called once the password is known.
int OpenStreamOutput(JobOutput& output);

/*----------------------------------------------------------------------
|   the check file written
+---------------------------------------------------------------------*/
struct CheckOutput {
    bool        wanted = false;
    std::string path;
    std::string label;
    OutputPlace place;
    bool        replacing = false;
    TempOutput  temp;
};

// Locates the check file to write at path (an existing one is replaced
// with force only) and sets wanted.
int LocateCheckOutput(const std::string& path, bool force, CheckOutput& check,
                      const TreeDirectory* directory = nullptr, const std::string& name = std::string());
// Refuses a check file to write that is the input, or the output (by
// name, or by identity: standard output redirected to it), up front:
// committing it would replace what the job reads or writes. output may
// be null (the check command writes nothing else).
int RefuseCheckCollision(const CheckOutput& check, const JobInput& input, const JobOutput* output);
// Creates its temporary.
int CreateCheckOutput(CheckOutput& check);
// Puts it at its name alone.
int CommitCheckOutput(CheckOutput& check);

/*----------------------------------------------------------------------
|   the commit: only now does the target change
+---------------------------------------------------------------------*/
// Makes the output of size bytes visible: the temporary takes the
// target's name (together with the check file when one is wanted), a
// file written in place is cut to size and synced, a device is closed;
// then a check file not committed as a pair, and a stale check file
// goes. A name that could not be removed, or a directory that could not
// be synced, gets a warning: the target is complete, so it is not a
// failure. The terminating signals wait meanwhile; once the target has
// changed, they no longer end the process (its status would say that
// the target is as it was), and one that came gets a note.
int CommitOutput(JobOutput& output, CheckOutput& check, NPT_UInt64 size);

}  // namespace tvkcrypt

#endif  // TVKCRYPT_JOB_OUTPUT_H
