/*****************************************************************
| TempOutput.h - the output file under construction, which takes its
| place's name only once it is complete, alone or together with a
| second file (an output and its check file).
|
| A process interrupted meanwhile (Signals.h) leaves the target as it
| was. Failures are SysError values. One thread at a time.
****************************************************************/
#ifndef TVKCRYPT_TEMP_OUTPUT_H
#define TVKCRYPT_TEMP_OUTPUT_H

#include <string>

#include "FileHandle.h"
#include "OutputPlace.h"
#include "SysError.h"

namespace tvkcrypt {

/*----------------------------------------------------------------------
|   TempOutput: the output file under construction, in the directory of
|   an OutputPlace. Create makes an unnamed file there (O_TMPFILE) that
|   disappears with the process however it ends, even by kill -9; where
|   the file system refuses that, a hidden named file (mode 0600) that
|   the signal handlers remove when the process is interrupted. Commit
|   gives it its mode, syncs it and puts it at the place's name. Discard
|   (and the destructor of an uncommitted one) removes it. At most two
|   exist at a time (an output and its check file). Windows: always the
|   hidden named file (FILE_ATTRIBUTE_HIDDEN, no mode), marked
|   delete-on-close through its handle from its creation, so that the
|   system removes it however the process ends (a crash, End process,
|   TerminateProcess), and removed by the console control handler on
|   Ctrl-C, Ctrl-Break, console close, logoff and shutdown; Commit takes
|   the mark off just before the rename, flushes the file and moves it
|   into place with MOVEFILE_WRITE_THROUGH, and new_mode has no meaning
|   there.
+---------------------------------------------------------------------*/
class TempOutput
{
public:
    TempOutput() = default;
    ~TempOutput() { Discard(); }
    TempOutput(const TempOutput&) = delete;
    TempOutput& operator=(const TempOutput&) = delete;

    // Errors: those of creating a file in the place's directory.
    SysError Create(const OutputPlace& place);
    const FileHandle& File() const { return m_File; }
    // Whether the file has a name while it is written (the fallback).
    bool IsNamed() const { return !m_Name.empty(); }
    // replace false: the name must still be free; a file created there
    // since it was checked is never replaced (EEXIST).
    // replace true: whatever is at the name now is replaced. When that
    // is a regular file, the output takes its permissions (and, where
    // allowed, its owner and group: root replacing another user's file
    // leaves it theirs), read from that very file as it is replaced;
    // a name swapped at the last moment gives kTargetChanged and leaves
    // it alone. Otherwise the output gets new_mode and the caller's
    // ownership. On error call Discard.
    SysError Commit(unsigned new_mode, bool replace);
    // After a successful Commit: the error of syncing the directory, 0
    // when it worked. The target is replaced either way, but a crash
    // soon after a failure may undo the rename.
    SysError DirectorySyncError() const { return m_DirectorySyncError; }
    // After a successful Commit: a name in the place's directory that
    // could not be removed (the replaced file, or a second name of the
    // output), and why; empty when all is clean. After a failed one
    // (Windows, where the old file moves aside before the new one takes
    // its name): the hidden name under which the old file stays when it
    // could not be moved back.
    const std::string& Leftover() const { return m_Leftover; }
    SysError LeftoverError() const { return m_LeftoverError; }
    void Discard();
    // Syncs the content written so far; a Commit right after it does
    // not sync again, so nothing may be written between the two.
    SysError Sync();
    // The file being written, as it was created: what a commit puts at
    // the name, for a caller that must later tell it from another file.
    const FileInfo& Identity() const { return m_Identity; }

private:
    SysError GiveName(std::string& name);
    SysError NameIfFree();
    SysError Replace();

    const OutputPlace* m_Place = nullptr;
    FileHandle  m_File;
    std::string m_Name;  // the named fallback's name, while it exists
    int         m_Slot = -1;  // where the signal handlers know m_Name
    [[maybe_unused]] bool m_DeleteOnClose = false;  // Windows: goes with its handle
    SysError    m_DirectorySyncError = 0;
    std::string m_Leftover;
    SysError    m_LeftoverError = 0;
    FileInfo    m_Identity;
    [[maybe_unused]] bool m_Synced = false;  // POSIX: by Sync, and unchanged since
};

/*----------------------------------------------------------------------
|   AsideFile: the file at a place's name, kept under a second, hidden
|   name (".NAME.tvkcrypt-XXXXXX" in the same directory) while a commit
|   runs, so that it can be put back should the commit fail. The second
|   name is a hard link where the file system has them; where it has
|   none (FAT, exFAT), or when asked, the file moves to the hidden name
|   instead, and its own name stays empty until it is put back or the
|   commit fills it. Call with the terminating signals held.
+---------------------------------------------------------------------*/
class AsideFile
{
public:
    explicit AsideFile(const OutputPlace& place) : m_Place(&place) {}
    AsideFile(const AsideFile&) = delete;
    AsideFile& operator=(const AsideFile&) = delete;

    // move: free the name (the file is to go). Nothing at the name:
    // Kept() stays empty and 0 comes back.
    SysError SetAside(bool move);
    // The commit failed: the old file takes its name again, but only
    // over what this run put there (ours, by identity; nullptr: it put
    // nothing) or an empty name: a file another run put there since is
    // left alone, and the old one goes. On an error Kept() still names
    // the hidden name, and OldAtName says whether the old file is still
    // at its own name too.
    SysError PutBack(const FileInfo* ours);
    // The commit succeeded: the hidden name goes (on an error Kept()
    // still names it).
    SysError Remove();
    const std::string& Kept() const { return m_Kept; }
    bool OldAtName() const { return !m_Moved; }

private:
    const OutputPlace* m_Place;
    std::string m_Kept;
    bool        m_Moved = false;
};

// What CommitTogether did beyond its result.
struct PairCommit {
    bool        first_failed = false;  // which commit gave the error
    // a hidden name in first's directory that still holds the old first
    // file, and why it is still there: after a success, it could not be
    // removed; after a failure, it could not be removed (old_at_name:
    // the old file is at its name too) or put back (it is only there).
    // leftover_error with leftover empty: the new first file could not
    // be removed after second failed.
    std::string leftover;
    SysError    leftover_error = 0;
    bool        old_at_name = true;
};

// Commits two temporaries as a pair: either both names get the new
// files or, on a failure, both keep what they had. first (mode 0600 when
// new; the check file) goes first: the file at first_place's name is
// set aside (AsideFile) until second (the output) is in place, then
// removed; if second fails, it is put back (or the new first removed
// when there was none), only over the new first file itself: another
// run's file put there meanwhile stays. The terminating signals wait
// until the pair is done. Killed outright (kill -9) between the two
// steps, the new first stands beside the old second, and a hidden name
// may stay behind.
SysError CommitTogether(TempOutput& first, const OutputPlace& first_place, bool first_replace,
                        TempOutput& second, unsigned second_mode, bool second_replace, PairCommit& outcome);

}  // namespace tvkcrypt

#endif  // TVKCRYPT_TEMP_OUTPUT_H
