/*****************************************************************
| NptPosixPlatform.h - the operating-system functions the file layer
| needs, on POSIX (Linux).
|
| This folder is the only place in the library that includes operating-
| system headers. Each function gives one small contract; the portable
| code in NptFile.cpp and NptStdcFile.cpp builds on these alone. Paths
| are UTF-8 bytes and are passed to the system unchanged.
|
| Functions that report an error return the system's error number (an
| errno value, 0 for success) and leave the mapping to result codes to
| their caller, which uses NPT_MapErrno / NPT_MapStdcErrno. Where Linux
| reports a condition with a number other than the one its meaning calls
| for, the function returns the number for the meaning (noted below).
|
| Nothing here keeps state between calls; every function may be called
| from any thread. Every system call passes through the fault switch of
| NptPlatformFault.h, which test builds use to make any of them fail.
****************************************************************/
#ifndef NPT_POSIX_PLATFORM_H
#define NPT_POSIX_PLATFORM_H

#include <cstdio>

#include "NptTypes.h"
#include "NptStrings.h"

// The separator between path components: "/".
extern const char NPT_PLATFORM_PATH_SEPARATOR[];

/*----------------------------------------------------------------------
|   opening files
+---------------------------------------------------------------------*/
enum NPT_PlatformOpenKind {
    NPT_PLATFORM_OPEN_READ,            // existing file, read only
    NPT_PLATFORM_OPEN_READ_WRITE,      // existing file, read and write from 0
    NPT_PLATFORM_OPEN_CREATE_TRUNCATE, // created when missing, cut to 0 bytes
    NPT_PLATFORM_OPEN_APPEND           // created when missing, writes at the end
};

// Opens path as a buffered FILE stream for byte-exact access, or returns
// null (errno then tells why). The descriptor is closed on exec.
//
// Sharing: while a stream opened here is open, other opens through this
// function may read but not write. A regular file is locked with an
// open-file-description lock on the whole file: shared for
// NPT_PLATFORM_OPEN_READ, exclusive for the other kinds. An open whose
// lock conflicts with one held (by this process or another) fails with
// EBUSY, and changes nothing: in particular the truncating kind cuts
// the file only after its lock is held. (The one exception: when the
// file was missing and a concurrent opener created and locked it between
// our create and our lock, the empty file stays.) On a file system
// without lock support the file opens unlocked. Devices, pipes and other
// non-regular files are not locked. Closing the stream (fclose) releases
// the lock.
//
// The truncating kind creates a missing file with mode 0600 (less what
// the umask removes), since it may receive decrypted data; the append
// kind creates with 0666 less the umask. An existing file keeps its mode.
//
// A directory never opens: EISDIR.
std::FILE* NPT_PlatformOpenFile(const char* path, NPT_PlatformOpenKind kind);

// The process's standard streams.
std::FILE* NPT_PlatformStandardInput();
std::FILE* NPT_PlatformStandardOutput();
std::FILE* NPT_PlatformStandardError();

// Whether file is connected to a terminal (which the C library buffers
// by lines rather than by blocks).
bool NPT_PlatformIsTerminal(std::FILE* file);

// 64-bit absolute positioning of a stream: 0 on success. A position
// beyond the signed 64-bit range fails (EOVERFLOW).
int NPT_PlatformSeek(std::FILE* file, NPT_Position position);
// The stream's position, or a negative value on failure.
NPT_Int64 NPT_PlatformTell(std::FILE* file);

// fread of up to size bytes: the count read, 0 at the end of the file
// (feof) or on an error (errno). Asks again when a signal interrupted it
// before any byte came.
std::size_t NPT_PlatformReadFile(std::FILE* file, void* buffer, std::size_t size);
// fwrite of up to size bytes: the count taken, which may be fewer than
// size; 0 with errno (and usually ferror) on an error.
std::size_t NPT_PlatformWriteFile(std::FILE* file, const void* data, std::size_t size);
// fflush, again when interrupted: 0, or EOF with errno.
int NPT_PlatformFlushFile(std::FILE* file);
// fclose: the stream is gone either way; 0, or EOF with errno.
int NPT_PlatformCloseFile(std::FILE* file);

/*----------------------------------------------------------------------
|   file information
+---------------------------------------------------------------------*/
struct NPT_PlatformFileStat
{
    enum Type { TYPE_REGULAR, TYPE_DIRECTORY, TYPE_OTHER };

    Type       type;
    NPT_UInt64 size;                  // bytes (st_size)
    bool       owner_writable;        // the owner-write permission bit
    NPT_Int64  creation_seconds;      // birth time, or status change time
    NPT_Int64  modification_seconds;  // last modification
};

// Information about path (symbolic links followed): 0, or the errno.
// The creation time is the birth time where the file system records it
// (statx), the status-change time otherwise.
int NPT_PlatformGetFileStat(const char* path, NPT_PlatformFileStat& stat);

// The current directory, whatever its length: 0 and path set, or the
// errno and path unchanged.
int NPT_PlatformGetWorkingDirectory(NPT_String& path);

/*----------------------------------------------------------------------
|   directories, removal, renaming: 0 on success, else the errno
+---------------------------------------------------------------------*/
// Creates a directory (permissions 0777 less the umask).
int NPT_PlatformMakeDirectory(const char* path);
// Removes an empty directory. A directory that is not empty gives
// ENOTEMPTY (also where the system says EEXIST for it).
int NPT_PlatformDeleteDirectory(const char* path);
// Removes a file. A directory gives EPERM (Linux says EISDIR).
int NPT_PlatformRemoveFile(const char* path);
// Renames from_path to to_path without ever replacing an existing
// to_path: EEXIST then, both left as they were. Uses renameat2 with
// RENAME_NOREPLACE; where the kernel or the file system lacks it, a
// file is moved by link and unlink, and a directory by rename after a
// check that the target is missing.
int NPT_PlatformRename(const char* from_path, const char* to_path);

/*----------------------------------------------------------------------
|   directory listing
+---------------------------------------------------------------------*/
class NPT_PlatformDirectory;

// Opens the directory path for listing: 0 and directory set, or the
// errno and directory null.
int NPT_PlatformOpenDirectory(const char* path, NPT_PlatformDirectory*& directory);
// The next entry's name, in the order the file system gives them
// ("." and ".." included): 0 and name set; 0 and name null at the end;
// or the errno. The name stays valid until the next call.
int NPT_PlatformReadDirectory(NPT_PlatformDirectory* directory, const char*& name);
// Closes a listing; null is allowed.
void NPT_PlatformCloseDirectory(NPT_PlatformDirectory* directory);

#endif // NPT_POSIX_PLATFORM_H
