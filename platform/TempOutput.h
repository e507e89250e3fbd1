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
    // output), and why; empty when all is clean.
    const std::string& Leftover() const { return m_Leftover; }
    SysError LeftoverError() const { return m_LeftoverError; }
    void Discard();
    // Syncs the content written so far (Commit syncs again, cheaply).
    SysError Sync();

private:
    SysError GiveName(std::string& name);
    SysError Replace(const std::string& name);

    const OutputPlace* m_Place = nullptr;
    FileHandle  m_File;
    std::string m_Name;  // the named fallback's name, while it exists
    int         m_Slot = -1;  // where the signal handlers know m_Name
    [[maybe_unused]] bool m_DeleteOnClose = false;  // Windows: goes with its handle
    SysError    m_DirectorySyncError = 0;
    std::string m_Leftover;
    SysError    m_LeftoverError = 0;
};

// Commits two temporaries as a pair: either both names get the new
// files or, on a failure, both keep what they had. first (mode 0600 when
// new; the check file) goes first: the file at first_place's name is
// kept under a hidden second name until second (the output) is in
// place, then removed; if second fails, it is put back (or the new
// first removed when there was none). The terminating signals wait
// until the pair is done. Killed outright (kill -9) between the two
// steps, the new first stands beside the old second, and a hidden name
// may stay behind. first_failed tells which commit gave the error.
// After a success, leftover names the old first file's hidden name when
// it could not be removed (leftover_error says why). After a failure of
// second, leftover_error is set when first could not be undone: the old
// first file then stays under the hidden name leftover (empty: there was
// none, and the new first could not be removed).
SysError CommitTogether(TempOutput& first, const OutputPlace& first_place, bool first_replace,
                        TempOutput& second, unsigned second_mode, bool second_replace,
                        bool& first_failed, std::string& leftover, SysError& leftover_error);

}  // namespace tvkcrypt

#endif  // TVKCRYPT_TEMP_OUTPUT_H
