/*****************************************************************
| FileHandle.h - open files, and the large reads and writes of the
| platform services.
|
| A FileHandle is a descriptor (on Windows a C-runtime descriptor over a
| Win32 handle), opened by the functions here, by OutputPlace and by
| TempOutput, or borrowed: the standard streams. The functions below
| open a file for reading, inspect and position it, and move large
| blocks in and out. Failures come back as SysError values; every
| function retries when a signal interrupted it (EINTR). Objects here
| are used by one thread at a time, except that ReadAt and WriteAt may
| run on several threads at once with distinct buffers.
****************************************************************/
#ifndef TVKCRYPT_FILE_HANDLE_H
#define TVKCRYPT_FILE_HANDLE_H

#include <cstddef>
#include <string>

#include "NptTypes.h"
#include "SysError.h"

namespace tvkcrypt {

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
    // false: an OTHER whose identity the system would not tell (Windows:
    // a file handle Wine made of a Linux shell's redirection); it may be
    // any file, the input included, so no comparison can clear it
    bool        identified = true;
    bool SameFileAs(const FileInfo& other) const {
        return device == other.device && inode == other.inode;
    }
};

// Opens a file for reading. Errors: those of open(2).
SysError OpenForReading(const char* path, FileHandle& file);
// Opens a regular file for reading, and fills info: anything else (a
// FIFO, a device, a directory) is refused with kNotRegular, and opened
// without waiting (POSIX: O_NONBLOCK), so that a FIFO without a writer
// cannot hold the caller. Errors: those of open(2) and fstat(2).
SysError OpenRegularFile(const char* path, FileHandle& file, FileInfo& info);
SysError StatHandle(const FileHandle& file, FileInfo& info);
// Looks at what path names, following links, without opening it (a
// FIFO is not waited on). Errors: those of stat(2).
SysError StatPath(const char* path, FileInfo& info);
bool IsTerminal(const FileHandle& file);

// Whether a file's permissions let users other than its owner read it:
// its group or others on POSIX. Windows keeps access in lists, not mode
// bits: false there (the lists are not examined).
bool ReadableByOthers(const FileInfo& info);

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

}  // namespace tvkcrypt

#endif  // TVKCRYPT_FILE_HANDLE_H
