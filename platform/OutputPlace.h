/*****************************************************************
| OutputPlace.h - where an output file goes, pinned down before
| anything is written there, and the writing of an existing file in
| place.
|
| The output itself is made by TempOutput (TempOutput.h) in the place's
| directory, or written into the file found there (OpenInPlace,
| FinishInPlace), or into the device found there (OpenStream). Failures
| are SysError values. One thread at a time.
****************************************************************/
#ifndef TVKCRYPT_OUTPUT_PLACE_H
#define TVKCRYPT_OUTPUT_PLACE_H

#include <string>

#include "FileHandle.h"
#include "NptTypes.h"
#include "SysError.h"

namespace tvkcrypt {

/*----------------------------------------------------------------------
|   OutputPlace: where the -o file goes, pinned down once. Locate opens
|   the directory that holds the name and looks at the name in it
|   without following a symbolic link; from then on everything (the
|   temporary, the final rename, a device opened for writing) happens
|   relative to that open directory, so a name swapped meanwhile can
|   never redirect the output into another directory.
|
|   A symbolic link at the name is itself what gets replaced (as mv and
|   sed -i do), except that a link to a device or FIFO is written
|   through, and that a link in /dev or /proc is never replaced
|   (kSystemLink). With follow_symlinks the link's target is replaced
|   instead, and only when both the link and its target belong to the
|   caller (kNotOwned otherwise). Windows: a symbolic link or junction
|   is such a link; its directory is pinned by a handle that denies
|   renaming and removal, and names are reached under its path. There
|   are no owners in the POSIX sense, so a followed link is checked only
|   for leading to a regular file (kNotOwned never comes back). A name
|   the system keeps for a device is refused (kDeviceName): CON, PRN,
|   AUX, COM1-9 and LPT1-9 with or without an extension, NUL with one
|   (NUL alone is the null device, written as a STREAM). "\\?\X:\name"
|   is located as "X:\name" is.
+---------------------------------------------------------------------*/
class OutputPlace;
class TempOutput;
class TreeDirectory;
class AsideFile;
struct PairCommit;
// Commits two temporaries as a pair (TempOutput.h).
SysError CommitTogether(TempOutput& first, const OutputPlace& first_place, bool first_replace,
                        TempOutput& second, unsigned second_mode, bool second_replace, PairCommit& outcome);

class OutputPlace
{
public:
    enum Kind {
        MISSING,    // nothing there yet
        FILE,       // a regular file (the one a followed link points to)
        LINK,       // a symbolic link, to be replaced by the output
        DIRECTORY,  // refused by the caller
        STREAM      // a device or FIFO, written directly
    };

    OutputPlace() = default;
    OutputPlace(const OutputPlace&) = delete;
    OutputPlace& operator=(const OutputPlace&) = delete;

    // Errors: those of opening the directory or inspecting the name,
    // kNotOwned (with follow_symlinks).
    SysError Locate(const std::string& path, bool follow_symlinks);
    // The same for name in an open directory of a tree job, never
    // following a link at the name (TreeDirectory.h). The place uses the
    // directory's own descriptor: directory stays open while it is used.
    SysError LocateIn(const TreeDirectory& directory, const std::string& name);
    Kind     GetKind() const { return m_Kind; }
    // For FILE and STREAM: the object found.
    const FileInfo& Found() const { return m_Found; }
    // Whether other names the same entry: the same name in the same
    // directory (by identity; Windows: without regard to case), or the
    // same object found at both names.
    bool SameNameAs(const OutputPlace& other) const;
    // Opens a STREAM for writing, without creating or truncating
    // anything. kTargetChanged when a regular file or a directory is
    // found there now.
    SysError OpenStream(FileHandle& file) const;
    // Opens the FILE found for writing in place, without creating or
    // truncating anything and without following a link at the name.
    // kTargetChanged when something other than that very file is there
    // now; otherwise the errors of open(2).
    SysError OpenInPlace(FileHandle& file) const;

private:
    friend class TempOutput;
    friend class AsideFile;
    SysError LocateLinkTarget(const std::string& target_path);
    SysError LookAtName(const std::string& path, bool follow_symlinks);
    FileHandle  m_Directory;
    // Windows: the full path of m_Directory, under which every name is
    // reached (the system has no calls relative to an open directory)
    std::string m_DirectoryPath;
    bool        m_DirectorySyncable = false;
    std::string m_Name;  // within m_Directory
    Kind        m_Kind = MISSING;
    FileInfo    m_Found;
};

// The name a file created at path gets, as the system spells it:
// Windows drops the trailing dots and spaces of the last name ("x." and
// "x " create "x"; not in the \\?\ form); elsewhere path itself. Names
// derived from an output's (its check file's) start from this one.
std::string CreatedName(const std::string& path);

// The directory part of path up to and with its last separator ("" for
// a bare name): "/" on POSIX; "\\", "/" and a drive's colon ("Q:x") on
// Windows. A name in the same directory as path is this plus the name.
std::string DirectoryPartOf(const std::string& path);

// Whether path names a descriptor that this process has open, and
// which: /dev/stdin, /dev/stdout, /dev/stderr, /dev/fd/N,
// /proc/self/fd/N. Such a name is the stream itself (writing to it
// writes where the descriptor goes, a redirected file included), never
// a link to replace. Windows has no such names: always false.
bool NamesOpenDescriptor(const std::string& path, int& descriptor);

// Ends writing a file in place: cuts it to size bytes (what was written
// over a longer file goes) and syncs it. Errors: those of ftruncate(2)
// and fsync(2).
SysError FinishInPlace(const FileHandle& file, NPT_UInt64 size);

}  // namespace tvkcrypt

#endif  // TVKCRYPT_OUTPUT_PLACE_H
