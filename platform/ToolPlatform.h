/*****************************************************************
| ToolPlatform.h - the operating-system services of programs built on
| the library: the tvkcrypt tool today.
|
| Everything that touches the operating system lives behind this
| header, which itself includes no system header; its implementation
| is in the platform folders (posix/TvkToolPlatform.cpp,
| win32/TvkToolPlatform.cpp), beside the library's own. It covers opening and inspecting files, large reads and writes,
| the temporary output file that replaces its target only on success,
| writing an existing file in place, signal handling, the terminal
| prompt without echo and the terminal's width. The rest of
| the tool is plain C++ on top of it.
|
| Failures come back as errno values (SysError, 0 = success) on every
| system (Windows maps its own codes to them); the tool turns them into
| words with ErrorText. Every function retries on EINTR. Objects here are used by one thread at a time, except that
| ReadAt and WriteAll may run on several threads with distinct buffers.
****************************************************************/
#ifndef TVKCRYPT_TOOL_PLATFORM_H
#define TVKCRYPT_TOOL_PLATFORM_H

#include <cstddef>
#include <string>
#include <vector>

#include "NptTypes.h"

namespace tvkcrypt {

typedef int SysError;  // an errno value; 0 means success

// Lower-case words for an error, e.g. "no such file", "permission
// denied", "no space left on device".
// Also words for kTargetChanged and kNotOwned.
std::string ErrorText(SysError error);

/*----------------------------------------------------------------------
|   FileHandle: an open file descriptor, closed by the destructor when
|   owned. The standard streams are borrowed and never closed.
+---------------------------------------------------------------------*/
class FileHandle
{
public:
    FileHandle() = default;
    FileHandle(int fd, bool owned) : m_Fd(fd), m_Owned(owned) {}
    ~FileHandle() { Close(); }
    FileHandle(FileHandle&& other) noexcept : m_Fd(other.m_Fd), m_Owned(other.m_Owned)
    {
        other.m_Fd = -1;
        other.m_Owned = false;
    }
    FileHandle& operator=(FileHandle&& other) noexcept
    {
        if (this != &other) {
            Close();
            m_Fd = other.m_Fd;
            m_Owned = other.m_Owned;
            other.m_Fd = -1;
            other.m_Owned = false;
        }
        return *this;
    }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;

    int  Fd() const { return m_Fd; }
    bool IsOpen() const { return m_Fd >= 0; }
    // Closes an owned descriptor and reports close's error (a deferred
    // write error on some file systems). A borrowed one is just dropped.
    SysError Close();

    static FileHandle StandardInput() { return FileHandle(0, false); }
    static FileHandle StandardOutput() { return FileHandle(1, false); }

private:
    int  m_Fd = -1;
    bool m_Owned = false;
};

struct FileInfo {
    enum Kind { REGULAR, DIRECTORY, OTHER };  // OTHER: pipe, device, socket
    Kind        kind = OTHER;
    NPT_UInt64  size = 0;     // meaningful for REGULAR only
    NPT_UInt64  device = 0;
    NPT_UInt64  inode = 0;
    unsigned    mode = 0;     // permission bits
    NPT_UInt32  owner = 0;
    NPT_UInt32  group = 0;
    bool        block_device = false;  // an OTHER that holds data, like a disk
    bool SameFileAs(const FileInfo& other) const {
        return device == other.device && inode == other.inode;
    }
};

// Opens a file for reading. Errors: those of open(2).
SysError OpenForReading(const char* path, FileHandle& file);
SysError StatHandle(const FileHandle& file, FileInfo& info);
bool IsTerminal(const FileHandle& file);

// Tells the system a file will be read from start to end (larger
// read-ahead on disks). Failures are ignored: it is only advice.
void AdviseSequentialReading(const FileHandle& file);

SysError GetPosition(const FileHandle& file, NPT_UInt64& position);
SysError SetPosition(const FileHandle& file, NPT_UInt64 position);

// Reads into buffer until it is full, the input ends, or (after at
// least one byte) no more data is ready at once: large blocks when data
// flows, prompt hand-over when it trickles in. got = 0 means the end.
SysError ReadSome(const FileHandle& file, void* buffer, std::size_t size, std::size_t& got);
// Reads at an absolute offset until size bytes or the end of the file.
SysError ReadAt(const FileHandle& file, void* buffer, std::size_t size,
                NPT_UInt64 offset, std::size_t& got);
// Writes all size bytes (several write calls if need be).
SysError WriteAll(const FileHandle& file, const void* buffer, std::size_t size);

// Writes all size bytes at an absolute offset.
SysError WriteAt(const FileHandle& file, const void* buffer, std::size_t size, NPT_UInt64 offset);

// The command line as UTF-8 strings, the program's name first. POSIX:
// argv as it is. Windows: the process's UTF-16 command line converted,
// since argv holds it in the ANSI code page, which loses every character
// outside it.
std::vector<std::string> CommandLineArguments(int argc, char** argv);

// Writes text to standard error, ignoring failures.
void WriteToStandardError(const std::string& text);

/*----------------------------------------------------------------------
|   OutputPlace: where the -o file goes, pinned down once. Locate opens
|   the directory that holds the name and looks at the name in it
|   without following a symbolic link; from then on everything (the
|   temporary, the final rename, a device opened for writing) happens
|   relative to that open directory, so a name swapped meanwhile can
|   never redirect the output into another directory.
|
|   A symbolic link at the name is itself what gets replaced (as mv and
|   sed -i do), except that a link to a device or FIFO (/dev/stdout) is
|   written through. With follow_symlinks the link's target is replaced
|   instead, and only when both the link and its target belong to the
|   caller (kNotOwned otherwise). Windows: a symbolic link or junction
|   is such a link; its directory is pinned by a handle that denies
|   renaming and removal, and names are reached under its path. There
|   are no owners in the POSIX sense, so a followed link is checked only
|   for leading to a regular file (kNotOwned never comes back).
+---------------------------------------------------------------------*/
// Not errno values: conditions of the tool's own.
const SysError kTargetChanged = -1;  // swapped by someone else meanwhile
const SysError kNotOwned = -2;       // a followed link or its target is not ours

class OutputPlace;
class TempOutput;
SysError CommitTogether(TempOutput& first, const OutputPlace& first_place, bool first_replace,
                        TempOutput& second, unsigned second_mode, bool second_replace,
                        bool& first_failed, std::string& leftover, SysError& leftover_error);

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
    Kind     GetKind() const { return m_Kind; }
    // For FILE and STREAM: the object found.
    const FileInfo& Found() const { return m_Found; }
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
    friend SysError CommitTogether(TempOutput&, const OutputPlace&, bool, TempOutput&, unsigned, bool,
                                   bool&, std::string&, SysError&);
    SysError LocateLinkTarget(const std::string& target_path);
    FileHandle  m_Directory;
    // Windows: the full path of m_Directory, under which every name is
    // reached (the system has no calls relative to an open directory)
    std::string m_DirectoryPath;
    bool        m_DirectorySyncable = false;
    std::string m_Name;  // within m_Directory
    Kind        m_Kind = MISSING;
    FileInfo    m_Found;
};

/*----------------------------------------------------------------------
|   TempOutput: the output file under construction, in the directory of
|   an OutputPlace. Create makes an unnamed file there (O_TMPFILE) that
|   disappears with the process however it ends, even by kill -9; where
|   the file system refuses that, a hidden named file (mode 0600) that
|   the signal handlers remove when the process is interrupted. Commit
|   gives it its mode, syncs it and puts it at the place's name. Discard
|   (and the destructor of an uncommitted one) removes it. At most two
|   exist at a time (an output and its check file). Windows: always the
|   hidden named file (FILE_ATTRIBUTE_HIDDEN, no mode), removed by the
|   console control handler on Ctrl-C, Ctrl-Break, console close, logoff
|   and shutdown; Commit flushes it and moves it into place with
|   MOVEFILE_WRITE_THROUGH, and new_mode has no meaning there.
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
    SysError    m_DirectorySyncError = 0;
    std::string m_Leftover;
    SysError    m_LeftoverError = 0;
};

// Ends writing a file in place: cuts it to size bytes (what was written
// over a longer file goes) and syncs it. Errors: those of ftruncate(2)
// and fsync(2).
SysError FinishInPlace(const FileHandle& file, NPT_UInt64 size);

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

// Fills buffer with bytes from the system's random source.
SysError RandomBytes(void* buffer, std::size_t size);

/*----------------------------------------------------------------------
|   secrets
+---------------------------------------------------------------------*/
// Turns core dumps off for this process (and makes it undumpable, so
// that other processes of the same user cannot read its memory).
void DisableCoreDumps();
// Memory for secrets: never swapped out where the system allows it,
// never in a core dump, zero-filled. Null when out of memory.
void* AllocateSecretMemory(std::size_t size);
// Wipes and frees what AllocateSecretMemory gave.
void FreeSecretMemory(void* memory, std::size_t size);
// Makes sure descriptors 0, 1 and 2 are open, so that no file the tool
// opens lands on one of them. A closed standard input or output is
// replaced by /dev/null opened the wrong way round, so that using it
// fails visibly (EBADF) instead of silently reading or writing nothing.
void GuardStandardDescriptors();

// Ignores SIGPIPE and SIGXFSZ (so that a closed pipe or a file size
// limit shows up as a write error), and makes SIGINT, SIGTERM, SIGHUP and
// SIGQUIT remove the temporary output and restore the terminal before the
// process dies of the signal.
void InstallSignalHandlers();

/*----------------------------------------------------------------------
|   Terminal prompt
+---------------------------------------------------------------------*/
class Terminal
{
public:
    Terminal() = default;
    Terminal(const Terminal&) = delete;
    Terminal& operator=(const Terminal&) = delete;

    // Opens the controlling terminal. ENXIO (or similar) when the
    // process has none.
    SysError Open();
    // Shows prompt and reads one line without echo into buffer (at most
    // capacity bytes, line ending removed). too_long is set when the
    // line did not fit; the rest of it is consumed. no_input is set when
    // the input ended (Ctrl-D) before any byte, not even a line ending.
    // Echo is restored before returning, and by the signal handlers.
    SysError ReadSecretLine(const char* prompt, char* buffer, std::size_t capacity,
                            std::size_t& length, bool& too_long, bool& no_input);
    void Write(const std::string& text);

private:
    FileHandle m_Tty;
    FileHandle m_Output;  // Windows: the console's output side (CONOUT$)
};

// Width in columns of the terminal that file is, 0 when it is not a
// terminal or does not say.
unsigned TerminalColumns(const FileHandle& file);
// From now on, notes each resize of the controlling terminal (SIGWINCH;
// the handler only sets a flag). TerminalResized says whether one came
// since the last call, and clears the note.
void WatchTerminalSize();
bool TerminalResized();

// Seconds on a monotonic clock.
double MonotonicSeconds();
// Number of processors this process may run on (at least 1).
unsigned ProcessorCount();

}  // namespace tvkcrypt

#endif  // TVKCRYPT_TOOL_PLATFORM_H
