/*****************************************************************
| Win32Support.h - what the Windows services of this folder share, and
| how they differ from the POSIX ones.
|
| Files are C-runtime descriptors over Win32 handles opened with
| CreateFileW; every transfer goes to the handle directly (ReadFile,
| WriteFile), so the runtime's text mode never touches the data. Paths
| arrive as UTF-8 and reach the system as UTF-16; a path that is not
| well-formed UTF-8 is refused (EILSEQ) before any system call, since
| the system's converter would map different byte strings to one name.
|
| Failures come back as errno values, as on POSIX, so that the code
| above stays portable: Win32 codes are mapped by FromWin32 (a sharing
| violation becomes EBUSY, "in use by another program").
|
| What differs from POSIX, and why:
| - the temporary output is always a hidden named file (Windows has no
|   unnamed files), marked delete-on-close until its commit, so that the
|   system removes it whenever the process dies; Ctrl-C, Ctrl-Break and
|   closing the console remove it too (also in the moment of the commit
|   after the mark is off);
| - there are no permission bits: FileInfo::mode says 0444 for a
|   read-only file and 0644 otherwise, Commit ignores new_mode and the
|   output gets the directory's inherited access rights. A read-only
|   target is moved aside to be replaced, and its output is made
|   read-only too (TempOutput::Replace);
| - a followed symbolic link is not checked for ownership (Windows has
|   no owners in the POSIX sense): only that its target is a regular file;
| - directories are not synced: the rename is made with
|   MOVEFILE_WRITE_THROUGH, which returns once the rename is on disk.
|
| The functions below: Win32 errors as errno values, UTF-8 and UTF-16
| text, descriptors and their handles, absolute and long paths, and text
| written to the console. Internal to this folder. No state; any thread.
****************************************************************/
#ifndef TVKCRYPT_WIN32_SUPPORT_H
#define TVKCRYPT_WIN32_SUPPORT_H

#include <string>

#include <windows.h>

#include "FileHandle.h"
#include "SysError.h"

namespace tvkcrypt {

// The errno value the tool reports for a Win32 error code.
SysError FromWin32(DWORD code);
// FromWin32 of the calling thread's last error.
SysError LastError();

// Whether text is well-formed UTF-8: every sequence complete, in its
// shortest form, no surrogate and nothing beyond U+10FFFF.
bool IsWellFormedUtf8(const std::string& text);

// UTF-16 of a UTF-8 text; EILSEQ when it is not well-formed.
SysError ToWide(const std::string& text, std::wstring& wide);

// UTF-8 of a UTF-16 text from the system; EILSEQ for an unpaired
// surrogate (a name no UTF-8 path could reach again).
SysError ToUtf8(const std::wstring& wide, std::string& text);

// The Win32 handle under a descriptor, INVALID_HANDLE_VALUE when none.
HANDLE OsHandle(int fd);
HANDLE OsHandle(const FileHandle& file);

// Wraps a fresh Win32 handle in an owned descriptor; the handle is
// closed on failure.
SysError Adopt(HANDLE handle, int flags, FileHandle& file);

// "\\" or "/".
bool IsSeparator(wchar_t c);

// The absolute form of a path (separators made backslashes, "." and
// ".." resolved), in the long-path form when it is longer than the
// classic limit.
SysError FullPath(const std::wstring& path, std::wstring& full);

// A path as the system should see it: long ones get the \\?\ prefix
// that lifts the 260-unit limit (the path is already absolute and
// normalised, which that form requires).
std::wstring SystemPath(const std::wstring& full);

// A child of a directory: "C:\dir" + "name" gives "C:\dir\name".
std::wstring Child(const std::wstring& directory, const std::wstring& name);

// What an open handle is. Pipes, the console and devices are OTHER,
// each with an identity of its own (they compare equal to nothing).
SysError InfoOfHandle(HANDLE handle, FileInfo& info);

// Whether handle is a console (not a file or pipe redirected to).
bool IsConsole(HANDLE handle);

// Text for the console: UTF-16 through WriteConsoleW, so that names
// show right whatever the console's code page. False when handle is no
// console or the text is not UTF-8.
bool WriteConsoleText(HANDLE handle, const std::string& text);

// The full UTF-16 path of a name in the place's directory (or of the
// device itself, for a device place).
SysError PathIn(const std::string& directory, const std::string& name, std::wstring& path);

}  // namespace tvkcrypt

#endif  // TVKCRYPT_WIN32_SUPPORT_H
