/*****************************************************************
| JobOutput.cpp - the output of a tvkcrypt job, its check file and
| their commit.
****************************************************************/
#include "JobOutput.h"

#include <cerrno>

#include "Job.h"
#include "Options.h"
#include "QuotedName.h"
#include "Signals.h"

namespace tvkcrypt {

const FileHandle*
JobOutput::Writer() const
{
    switch (kind) {
        case TO_TEMP_FILE: return &temp.File();
        case IN_PLACE:     return &in_place;
        case TO_DEVICE:    return &device;
        default:           return &standard_output;
    }
}

/*----------------------------------------------------------------------
|   the output
+---------------------------------------------------------------------*/
// Why the temporary output could not be made. A directory we may not
// write is the common case: say that the temporary needs it, and offer
// --in-place when there is a file to write into.
static std::string
TemporaryFailure(const std::string& output_label, bool replacing, SysError error)
{
    if (error != EACCES && error != EPERM && error != EROFS) {
        return "cannot create " + output_label + ": " + ErrorText(error);
    }
    std::string message = "cannot create a temporary file beside " + output_label + ": " +
                          ErrorText(error) +
                          "; the output is written to a temporary file in that directory "
                          "first, so the directory must be writable";
    if (replacing && error != EROFS) {
        message += "; --in-place writes into the existing file directly, but not atomically";
    }
    return message;
}

// --in-place writes into a regular file that exists, and never into the
// input itself: blocks would be overwritten before they are read.
// Returns the exit status of a refusal, 0 when in-place writing may go.
static int
InPlaceRefusal(const OutputPlace& place, const FileInfo& input_info, bool regular_input,
               const std::string& output_label)
{
    switch (place.GetKind()) {
        case OutputPlace::FILE:
            break;
        case OutputPlace::MISSING:
            return Failure("--in-place writes into an existing file, and " + output_label +
                           " does not exist");
        case OutputPlace::LINK:
            return Failure("--in-place does not write through the symbolic link " + output_label +
                           " (see --follow-symlinks)");
        default:
            return Failure("--in-place writes into a regular file, and " + output_label +
                           " is not one");
    }
    if ((regular_input && input_info.SameFileAs(place.Found())) || !input_info.identified) {
        return Failure(std::string(input_info.identified ? "--in-place cannot write into the input file itself"
                                                         : "--in-place cannot tell whether the input is " +
                                                               output_label) +
                       ", which it is still reading; use --force without --in-place");
    }
    return 0;
}

// Standard output as the output: never the input file itself, and no
// encrypted data on a terminal.
static int
CheckStandardOutput(const JobInput& input, bool encrypting, const FileHandle& out)
{
    FileInfo out_info;
    if (input.regular && StatHandle(out, out_info) == 0 && out_info.kind == FileInfo::REGULAR &&
        out_info.SameFileAs(input.info)) {
        return Failure("standard output is the input file itself; "
                       "use -o FILE --force to replace a file with its transformation");
    }
    // a file whose identity the system will not tell may be the input
    if (StatHandle(out, out_info) == 0 && !out_info.identified && (input.regular || !input.info.identified)) {
        return Failure("cannot tell whether standard output is the input file; use -o FILE");
    }
    if (encrypting && IsTerminal(out)) {
        return Failure("refusing to write encrypted data to a terminal; "
                       "use -o FILE or redirect standard output");
    }
    return 0;
}

// What is at the -o name decides the kind of output.
static int
ClassifyPlace(const Options& options, JobOutput& output)
{
    switch (output.place.GetKind()) {
        case OutputPlace::DIRECTORY:
            return Failure("cannot write " + output.label + ": " + ErrorText(EISDIR));
        case OutputPlace::FILE:
        case OutputPlace::LINK:
            if (!options.force) {
                return Failure(output.label + " already exists; use --force to replace it");
            }
            output.kind = options.in_place ? JobOutput::IN_PLACE : JobOutput::TO_TEMP_FILE;
            output.replacing = true;
            break;
        case OutputPlace::STREAM:
            // a disk or partition holds data just as a file does;
            // FIFOs and character devices (/dev/null) are streams
            if (output.place.Found().block_device && !options.force) {
                return Failure(output.label + " is a block device; use --force to write over it");
            }
            output.kind = JobOutput::TO_DEVICE;
            break;
        case OutputPlace::MISSING:
            output.kind = JobOutput::TO_TEMP_FILE;
            break;
    }
    return 0;
}

// "cannot write X: ...", naming the directory when it is what is missing.
static int
CannotWrite(const std::string& path, const std::string& label, SysError error)
{
    const std::string directory = DirectoryPartOf(path);
    if (error == ENOENT && !directory.empty()) {
        return Failure("cannot write " + label + ": the directory " + QuotedName(directory) + " does not exist");
    }
    return Failure("cannot write " + label + ": " + ErrorText(error));
}

int
LocateOutput(const Options& options, const JobInput& input, bool encrypting, JobOutput& output,
             const TreeDirectory* directory, const std::string& name)
{
    output.path = options.output;
    output.notices = options.quiet == 0;
    int descriptor = -1;
    if (options.output == "-") {
        if (int status = CheckStandardOutput(input, encrypting, output.standard_output)) return status;
    } else if (NamesOpenDescriptor(options.output, descriptor)) {
        // /dev/stdout and the like: the stream that the descriptor already
        // is (a file standard output was redirected to included), written
        // in order; never the link itself
        output.label = QuotedName(options.output);
        output.standard_output = FileHandle(descriptor, false);
        if (options.in_place) return Failure("--in-place needs an output file, and " + output.label + " is a stream");
        if (int status = CheckStandardOutput(input, encrypting, output.standard_output)) return status;
    } else {
        output.label = QuotedName(options.output);
        SysError error = directory != nullptr ? output.place.LocateIn(*directory, name)
                                              : output.place.Locate(options.output, options.follow_symlinks);
        if (error) {
            if (error == kSystemLink) return Failure("refusing to replace " + output.label + ": " + ErrorText(error));
            if (error == kNotOwned) {
                return Failure("refusing to write through the symbolic link " + output.label + ": " +
                               ErrorText(error));
            }
            return CannotWrite(options.output, output.label, error);
        }
        if (int status = ClassifyPlace(options, output)) return status;
    }
    if (options.in_place) {
        return InPlaceRefusal(output.place, input.info, input.regular, output.label);
    }
    return 0;
}

int
LocateStaleCheck(JobOutput& output, const std::string& stale_path, const CheckOutput& check,
                 const JobInput& input, const TreeDirectory* directory, const std::string& name)
{
    if (output.kind != JobOutput::TO_TEMP_FILE && output.kind != JobOutput::IN_PLACE) return 0;
    output.stale_check_label = QuotedName(stale_path);
    // in a tree the check file written has that very name in the same
    // open directory: what is there was looked at already, and is replaced
    if (check.wanted && directory != nullptr && check.path == stale_path) return 0;
    OutputPlace& place = output.stale_check_place;
    if (SysError error = directory != nullptr ? place.LocateIn(*directory, name) : place.Locate(stale_path, false)) {
        return Failure("cannot look for " + output.stale_check_label + ", the check file of " + output.label +
                       ": " + ErrorText(error));
    }
    if (place.GetKind() != OutputPlace::FILE && place.GetKind() != OutputPlace::LINK) return 0;
    if (check.wanted && check.place.SameNameAs(place)) return 0;
    if (place.GetKind() == OutputPlace::FILE && input.regular && place.Found().SameFileAs(input.info)) return 0;
    output.stale_check = true;
    return 0;
}

int
CreateOutput(JobOutput& output)
{
    if (output.kind == JobOutput::TO_TEMP_FILE) {
        if (SysError error = output.temp.Create(output.place)) {
            return Failure(TemporaryFailure(output.label, output.replacing, error));
        }
    } else if (output.kind == JobOutput::IN_PLACE) {
        if (SysError error = output.place.OpenInPlace(output.in_place)) {
            return Failure("cannot write " + output.label + ": " + ErrorText(error));
        }
    }
    return 0;
}

int
OpenStreamOutput(JobOutput& output)
{
    if (output.kind != JobOutput::TO_DEVICE) return 0;
    if (SysError error = output.place.OpenStream(output.device)) {
        return Failure("cannot open " + output.label + ": " + ErrorText(error));
    }
    return 0;
}

std::string
InPlaceFailure(const std::string& label, SysError error)
{
    return "cannot write " + label + ": " + ErrorText(error) + "; " + label +
           " was written in place and is now partly rewritten: run the same command again from a copy of "
           "the original, or restore " + label + " from a backup";
}

/*----------------------------------------------------------------------
|   the check file written
+---------------------------------------------------------------------*/
int
LocateCheckOutput(const std::string& path, bool force, CheckOutput& check, const TreeDirectory* directory,
                  const std::string& name)
{
    check.wanted = true;
    check.path = path;
    check.label = QuotedName(path);
    if (SysError failure = directory != nullptr ? check.place.LocateIn(*directory, name)
                                                : check.place.Locate(path, false)) {
        return CannotWrite(path, check.label, failure);
    }
    switch (check.place.GetKind()) {
        case OutputPlace::MISSING:
            return 0;
        case OutputPlace::FILE:
        case OutputPlace::LINK:
            if (!force) return Failure(check.label + " already exists; use --force to replace it");
            check.replacing = true;
            return 0;
        default:
            return Failure("cannot write " + check.label + ": not a regular file");
    }
}

int
RefuseCheckCollision(const CheckOutput& check, const JobInput& input, const JobOutput* output)
{
    const bool found = check.place.GetKind() == OutputPlace::FILE;
    const FileInfo& existing = check.place.Found();
    std::string other;
    if (found && input.regular && existing.SameFileAs(input.info)) {
        other = "the input " + input.label;
    } else if (output != nullptr && output->kind != JobOutput::TO_STDOUT &&
               check.place.SameNameAs(output->place)) {
        other = "the output " + output->label;
    } else if (output != nullptr && output->kind == JobOutput::TO_STDOUT && found) {
        FileInfo out_info;
        if (StatHandle(output->standard_output, out_info) == 0 && existing.SameFileAs(out_info)) {
            other = "standard output";
        }
    }
    if (other.empty()) return 0;
    return Failure("the check file " + check.label + " is " + other +
                   ", which it would replace; give the check file another name (--check-file)");
}

int
CreateCheckOutput(CheckOutput& check)
{
    if (SysError failure = check.temp.Create(check.place)) {
        return Failure("cannot create " + check.label + ": " + ErrorText(failure));
    }
    return 0;
}

int
CommitCheckOutput(CheckOutput& check)
{
    if (SysError failure = check.temp.Commit(0600, check.replacing)) {
        return Failure("cannot write " + check.label + ": " + ErrorText(failure));
    }
    return 0;
}

/*----------------------------------------------------------------------
|   the commit
+---------------------------------------------------------------------*/
// The leftover names are in the directory of path, written as path
// writes it.
static std::string
DirectoryPart(const std::string& path)
{
    return DirectoryPartOf(path);
}

// After the pair is committed: the names that could not be removed, and
// a directory that could not be synced.
static void
WarnAfterCommit(const JobOutput& output, const CheckOutput& check, const PairCommit& pair)
{
    std::string check_leftover = pair.leftover;
    SysError check_leftover_error = pair.leftover_error;
    if (check.wanted && check_leftover.empty() && !check.temp.Leftover().empty()) {
        check_leftover = check.temp.Leftover();
        check_leftover_error = check.temp.LeftoverError();
    }
    if (!check_leftover.empty()) {
        WriteToStandardError("tvkcrypt: warning: " + check.label +
                             " is written, but a temporary name could not be removed: " +
                             ErrorText(check_leftover_error) + "; remove " +
                             QuotedName(DirectoryPart(check.path) + check_leftover) + " yourself\n");
    }
    if (!output.temp.Leftover().empty()) {
        WriteToStandardError("tvkcrypt: warning: " + output.label +
                             " is written, but a temporary name could not be removed: " +
                             ErrorText(output.temp.LeftoverError()) + "; remove " +
                             QuotedName(DirectoryPart(output.path) + output.temp.Leftover()) +
                             " yourself\n");
    }
    if (SysError error = output.temp.DirectorySyncError()) {
        WriteToStandardError("tvkcrypt: warning: " + output.label +
                             " is written, but syncing its directory failed: " +
                             ErrorText(error) + "; a crash now could undo the change\n");
    }
}

// A failed commit that could not be undone in full: where the old
// content of the file named label (at path) is now.
static void
WarnAboutUndo(const std::string& label, const std::string& path, const std::string& leftover,
              bool old_at_name, SysError error)
{
    const std::string hidden = QuotedName(DirectoryPart(path) + leftover);
    if (leftover.empty()) {
        WriteToStandardError("tvkcrypt: warning: " + label + " could not be put back as it was: " +
                             ErrorText(error) + "; remove it yourself\n");
    } else if (old_at_name) {
        WriteToStandardError("tvkcrypt: warning: a second name of " + label +
                             " could not be removed: " + ErrorText(error) + "; remove " + hidden +
                             " yourself\n");
    } else {
        WriteToStandardError("tvkcrypt: warning: " + label + " could not be put back as it was: " +
                             ErrorText(error) + "; its old content is in " + hidden + "\n");
    }
}

// The stale check file once the commit is decided: removed after a
// success (and said so), put back after a failure.
static void
SettleStaleCheck(JobOutput& output, AsideFile& stale, bool committed)
{
    if (!output.stale_check) return;
    const std::string stale_path = DirectoryPart(output.path) + stale.Kept();
    if (!committed) {
        if (SysError error = stale.PutBack(nullptr)) {
            WarnAboutUndo(output.stale_check_label, output.path, stale.Kept(), false, error);
        }
        return;
    }
    if (SysError error = stale.Remove()) {
        WriteToStandardError("tvkcrypt: warning: " + output.stale_check_label + ", the check file of " +
                             output.label + "'s old content, could not be removed: " + ErrorText(error) +
                             "; remove " + QuotedName(stale_path) + " yourself\n");
    } else if (output.notices) {
        WriteToStandardError("tvkcrypt: note: removed " + output.stale_check_label + ", the check file of " +
                             output.label + "'s old content\n");
    }
}

// The temporary takes the target's name, with its check file as a pair.
static int
CommitTemporary(JobOutput& output, CheckOutput& check)
{
    PairCommit pair;
    SysError error = check.wanted
                         ? CommitTogether(check.temp, check.place, check.replacing, output.temp, 0600,
                                          output.replacing, pair)
                         : output.temp.Commit(0600, output.replacing);
    if (error && pair.leftover_error != 0) {
        WarnAboutUndo(check.label, check.path, pair.leftover, pair.old_at_name, pair.leftover_error);
    }
    if (error && !pair.first_failed && !output.temp.Leftover().empty()) {
        // the old output moved aside and could not move back
        WarnAboutUndo(output.label, output.path, output.temp.Leftover(), false, output.temp.LeftoverError());
    }
    if (error) {
        const bool replace = pair.first_failed ? check.replacing : output.replacing;
        const std::string& label = pair.first_failed ? check.label : output.label;
        if (error == EEXIST && !replace) {
            // created by someone else while we worked
            return Failure(label + " already exists; use --force to replace it");
        }
        return Failure("cannot write " + label + ": " + ErrorText(error));
    }
    // the target is replaced and complete: a warning, not a failure,
    // since exit 1 would say the target was left as it was
    WarnAfterCommit(output, check, pair);
    return 0;
}

// The commit proper, with the signals held (CommitOutput).
static int
CommitHeld(JobOutput& output, CheckOutput& check, NPT_UInt64 size, bool& changed)
{
    AsideFile stale(output.stale_check_place);
    if (output.stale_check) {
        if (SysError error = stale.SetAside(true)) {
            return Failure("cannot remove " + output.stale_check_label + ", the check file of " + output.label +
                           "'s old content: " + ErrorText(error));
        }
    }
    int status = 0;
    if (output.kind == JobOutput::TO_TEMP_FILE) {
        status = CommitTemporary(output, check);
    } else if (output.kind == JobOutput::IN_PLACE) {
        SysError error = FinishInPlace(output.in_place, size);
        if (!error) error = output.in_place.Close();
        if (error) status = Failure(InPlaceFailure(output.label, error));
    } else if (output.kind == JobOutput::TO_DEVICE) {
        if (SysError error = output.device.Close()) {
            status = Failure("cannot write " + output.label + ": " + ErrorText(error));
        }
    }
    // written in place, the file has changed even when it failed
    changed = status == 0 || output.kind == JobOutput::IN_PLACE;
    SettleStaleCheck(output, stale, status == 0);
    if (status == 0 && check.wanted && output.kind != JobOutput::TO_TEMP_FILE) {
        // the data is out (written in place, or streamed as it was made):
        // only now its check file; had the data failed, the old check file
        // would have stayed and reported it as damaged
        status = CommitCheckOutput(check);
    }
    return status;
}

int
CommitOutput(JobOutput& output, CheckOutput& check, NPT_UInt64 size)
{
    HoldTerminatingSignals();
    bool changed = false;
    const int status = CommitHeld(output, check, size, changed);
    if (EndSignalHold(changed)) {
        WriteToStandardError("tvkcrypt: interrupted once " + output.label +
                             " had changed; it is complete, and the run ends as it would have without "
                             "the signal\n");
    }
    return status;
}

}  // namespace tvkcrypt
