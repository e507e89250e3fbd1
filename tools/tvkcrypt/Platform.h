/*****************************************************************
| Platform.h - the operating-system services of the tvkcrypt tool.
|
| Everything that touches the operating system lives behind this
| header, which itself includes no system header; its implementation
| is in the platform folder (runtime/files/posix/TvkToolPlatform.cpp on
| POSIX), beside the library's own. It covers opening and inspecting files, large reads and writes,
| the temporary output file that replaces its target only on success,
| signal handling, and the terminal prompt without echo. The rest of
| the tool is plain C++ on top of it.
|
| Failures come back as errno values (SysError, 0 = success); the tool
| turns them into words with ErrorText. Every function retries on
| EINTR. Objects here are used by one thread at a time, except that
| ReadAt and WriteAll may run on several threads with distinct buffers.
****************************************************************/
#ifndef TVKCRYPT_PLATFORM_H
#define TVKCRYPT_PLATFORM_H

#include <cstddef>
#include <string>

#include "NptTypes.h"

namespace tvkcrypt {

typedef int SysError;  // an errno value; 0 means success

// Lower-case words for an error, e.g. "no such file", "permission
// denied", "no space left on device".
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
    ~FileHandle();
    FileHandle(FileHandle&& other) noexcept;
    FileHandle& operator=(FileHandle&& other) noexcept;
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
// Opens an existing non-regular file (a device or a FIFO) for writing,
// without creating or truncating anything. Errors: those of open(2).
SysError OpenExistingForWriting(const char* path, FileHandle& file);
SysError StatHandle(const FileHandle& file, FileInfo& info);
// Follows symbolic links. ENOENT when nothing exists at path.
SysError StatPath(const char* path, FileInfo& info);
// The canonical path of an existing file (symbolic links resolved), or
// path itself when it cannot be resolved.
std::string ResolvePath(const std::string& path);
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

// Writes text to standard error, ignoring failures.
void WriteToStandardError(const std::string& text);

/*----------------------------------------------------------------------
|   TempOutput: the output file under construction. Create makes a
|   fresh file (mode 0600, O_EXCL) in the target's directory and
|   registers it with the signal handlers, which remove it when the
|   process is interrupted. Commit gives it its final mode, syncs it to
|   disk and renames it over the target. Discard (and the destructor of
|   an uncommitted one) removes it. At most one exists at a time.
+---------------------------------------------------------------------*/
class TempOutput
{
public:
    TempOutput() = default;
    ~TempOutput() { Discard(); }
    TempOutput(const TempOutput&) = delete;
    TempOutput& operator=(const TempOutput&) = delete;

    // Errors: those of open(2) in the target's directory.
    SysError Create(const std::string& target);
    const FileHandle& File() const { return m_File; }
    const std::string& Path() const { return m_Path; }
    // Gives the file the mode (and, when replacing a file, tries to give
    // it that file's owner and group: root replacing another user's file
    // leaves it theirs), syncs it, closes it, renames it over the target
    // and syncs the directory. Without replaced, an existing target is
    // never replaced, even one created since it was checked: EEXIST. On
    // error the temporary is still there: call Discard.
    SysError Commit(unsigned mode, const FileInfo* replaced);
    // After a successful Commit: the error of syncing the directory, 0
    // when it worked. The target is replaced either way, but a crash
    // soon after a failure may undo the rename.
    SysError DirectorySyncError() const { return m_DirectorySyncError; }
    void Discard();

private:
    FileHandle  m_File;
    std::string m_Path;
    std::string m_Target;
    SysError    m_DirectorySyncError = 0;
};

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
};

// Seconds on a monotonic clock.
double MonotonicSeconds();
// Number of processors this process may run on (at least 1).
unsigned ProcessorCount();

}  // namespace tvkcrypt

#endif  // TVKCRYPT_PLATFORM_H
