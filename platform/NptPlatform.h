/*****************************************************************
| NptPlatform.h - the operating-system functions the file layer needs.
|
| Private to the files layer (not installed). One implementation per
| platform folder: platform/posix/ (Linux) and platform/win32/ (Windows);
| the build picks one. The platform folders are the only places that
| include operating-system headers. Each function gives one small
| contract; the portable code of runtime/files builds on these alone.
|
| Paths are NUL-terminated UTF-8 bytes. POSIX passes them to the system
| unchanged; Windows converts them to UTF-16 and refuses a path that is
| not valid UTF-8 (see NPT_PlatformIsValidPath) before any system call,
| since the lossy conversion would name some other file.
|
| Error numbers: the file information and working-directory functions
| return errno values on both platforms (mapped with NPT_MapErrno). The
| functions that create, remove, rename and list return the system's
| native error number: an errno value on POSIX, a Win32 error number on
| Windows; NPT_PlatformMapSystemError maps those. 0 is success. Where a
| system reports a condition with a number other than the one its
| meaning calls for, the function returns the number for the meaning
| (noted below).
|
| Nothing here keeps state between calls, apart from the standard
| streams being switched to binary mode once on Windows; every function
| may be called from any thread. On POSIX every system call passes
| through the fault switch of posix/NptPlatformFault.h, which test builds
| use to make any of them fail.
****************************************************************/
#ifndef NPT_PLATFORM_H
#define NPT_PLATFORM_H

#include <cstddef>
#include <cstdio>

#include "NptTypes.h"
#include "NptResults.h"
#include "NptStrings.h"
#include "NptList.h"

// The separator between path components: "/" on POSIX, "\\" on Windows.
extern const char NPT_PLATFORM_PATH_SEPARATOR[];

/*----------------------------------------------------------------------
|   paths
+---------------------------------------------------------------------*/
// Whether path (not null) can be handed to the system at all. POSIX takes
// any byte string. Windows needs well-formed UTF-8 (no stray or truncated
// sequences, no overlong forms, no surrogates): any other byte string
// would either reach the system as a different name or not at all.
bool NPT_PlatformIsValidPath(const char* path);

// The path the file-information query asks the system about, for a path
// given to NPT_File::GetInfo: trailing separators are removed ("/" on
// POSIX; "\\" and "/" on Windows), a path made of separators only is the
// root ("/" on POSIX, the current drive's root "\\" on Windows), and on
// Windows a bare drive such as "D:" becomes its root "D:\\".
NPT_String NPT_PlatformInfoQueryPath(const char* path);

// The roots of the file system, in order: "/" on POSIX; on Windows the
// root of every present drive, "A:\\" to "Z:\\".
void NPT_PlatformGetRoots(NPT_List<NPT_String>& roots);

// The result code for an error number returned by the directory, removal,
// renaming and listing functions below: NPT_MapErrno on POSIX,
// NPT_MapWin32Error on Windows.
NPT_Result NPT_PlatformMapSystemError(int error);

/*----------------------------------------------------------------------
|   opening files
+---------------------------------------------------------------------*/
enum NPT_PlatformOpenKind {
    NPT_PLATFORM_OPEN_READ,            // existing file, read only
    NPT_PLATFORM_OPEN_READ_WRITE,      // existing file, read and write from 0
    NPT_PLATFORM_OPEN_CREATE_TRUNCATE, // created when missing, cut to 0 bytes
    NPT_PLATFORM_OPEN_APPEND           // created when missing, writes at the end
};

// Opens path as a buffered FILE stream for byte-exact access (binary, no
// translation of line ends, end-of-file characters or byte-order marks),
// or returns null (errno then tells why, where the system says).
//
// Sharing: while a stream opened here is open, other opens through this
// function may read but not write, and a refused open changes nothing (in
// particular the truncating kind never cuts a file it could not have).
//   Windows: the system's share mode: the file is opened denying writers
//   to others (_SH_DENYWR), and an open that asks for write access while
//   another holds the file fails.
//   POSIX: a regular file is locked with an open-file-description lock on
//   the whole file: shared for NPT_PLATFORM_OPEN_READ, exclusive for the
//   other kinds. An open whose lock conflicts with one held (by this
//   process or another) fails with EBUSY: the truncating kind cuts the
//   file only after its lock is held. (The one exception: when the file
//   was missing and a concurrent opener created and locked it between our
//   create and our lock, the empty file stays.) On a file system without
//   lock support the file opens unlocked. Devices, pipes and other
//   non-regular files are not locked. The descriptor is closed on exec.
// Closing the stream (fclose) ends the sharing restriction.
//
// A directory never opens (EISDIR on POSIX, EACCES on Windows).
std::FILE* NPT_PlatformOpenFile(const char* path, NPT_PlatformOpenKind kind);

// The process's standard streams. On Windows the first call of any of
// the three switches all three to binary mode, so that no CR/LF
// translation or Ctrl-Z end of input ever touches the data.
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
    NPT_UInt64 size;                  // bytes
    bool       owner_writable;        // the owner-write permission bit
    NPT_Int64  creation_seconds;      // see NPT_PlatformGetFileStat
    NPT_Int64  modification_seconds;  // last modification
};

// Information about path (symbolic links followed): 0, or the errno.
// POSIX: the creation time is the birth time where the file system
// records it (statx), the status-change time otherwise. Windows: the
// file's creation time; a read-only file has no owner-write bit.
int NPT_PlatformGetFileStat(const char* path, NPT_PlatformFileStat& stat);

// The current directory: 0 and path set, or the errno and path unchanged.
// POSIX: whatever its length. Windows: at most 1024 UTF-16 units; a
// longer one fails with ERANGE.
int NPT_PlatformGetWorkingDirectory(NPT_String& path);

/*----------------------------------------------------------------------
|   directories, removal, renaming: 0, or the native error number
+---------------------------------------------------------------------*/
// Creates a directory (POSIX: permissions 0777 less the umask).
int NPT_PlatformMakeDirectory(const char* path);
// Removes an empty directory. A directory that is not empty gives
// ENOTEMPTY on POSIX (also where the system says EEXIST for it),
// ERROR_DIR_NOT_EMPTY on Windows.
int NPT_PlatformDeleteDirectory(const char* path);
// Removes a file. A directory is refused as access denied: EPERM on POSIX
// (Linux says EISDIR), ERROR_ACCESS_DENIED on Windows.
int NPT_PlatformRemoveFile(const char* path);
// Renames from_path to to_path without ever replacing an existing
// to_path: EEXIST or ERROR_ALREADY_EXISTS then, both left as they were.
// Windows: MoveFileW without flags. POSIX: renameat2 with
// RENAME_NOREPLACE; where the kernel or the file system lacks it, a file
// is moved by link and unlink, and a directory by rename after a check
// that the target is missing.
int NPT_PlatformRename(const char* from_path, const char* to_path);

/*----------------------------------------------------------------------
|   directory listing
+---------------------------------------------------------------------*/
class NPT_PlatformDirectory;

// Opens the directory path for listing: 0 and directory set, or the
// native error and directory null. Windows searches with the pattern
// path + "*" when path ends with "\\" or "/", path + "\\*" otherwise.
int NPT_PlatformOpenDirectory(const char* path, NPT_PlatformDirectory*& directory);
// The next entry's name (UTF-8), in the order the system gives them
// ("." and ".." included): 0 and name set; 0 and name null at the end;
// or the native error. The name stays valid until the next call.
int NPT_PlatformReadDirectory(NPT_PlatformDirectory* directory, const char*& name);
// Closes a listing; null is allowed.
void NPT_PlatformCloseDirectory(NPT_PlatformDirectory* directory);

#endif // NPT_PLATFORM_H
