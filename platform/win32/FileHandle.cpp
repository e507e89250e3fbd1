/*****************************************************************
| FileHandle.cpp - Windows implementation of FileHandle.h: C-runtime
| descriptors over Win32 handles, every transfer made on the handle
| itself (ReadFile, WriteFile), so that the runtime's text mode never
| touches the data.
****************************************************************/
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif

#include "FileHandle.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>

#include <windows.h>
#include <fcntl.h>
#include <io.h>

#include "Win32Support.h"

namespace tvkcrypt {

/*----------------------------------------------------------------------
|   FileHandle
+---------------------------------------------------------------------*/
SysError
FileHandle::Close()
{
    SysError error = 0;
    if (m_Fd >= 0 && m_Owned) {
        if (_close(m_Fd) != 0) error = errno ? errno : EIO;
    }
    m_Fd = -1;
    m_Owned = false;
    return error;
}

/*----------------------------------------------------------------------
|   opening and inspecting files
+---------------------------------------------------------------------*/
SysError
OpenForReading(const char* path, FileHandle& file)
{
    std::wstring wide;
    if (SysError error = ToWide(path, wide)) return error;
    if (wide.empty()) return ENOENT;
    std::wstring full;
    if (FullPath(wide, full) != 0) full = wide;
    // backup semantics: a directory opens too, and is then refused by
    // its kind with the right words instead of "permission denied"
    HANDLE handle = CreateFileW(SystemPath(full).c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_BACKUP_SEMANTICS,
                                nullptr);
    if (handle == INVALID_HANDLE_VALUE) return LastError();
    return Adopt(handle, _O_RDONLY, file);
}

SysError
OpenRegularFile(const char* path, FileHandle& file, FileInfo& info)
{
    // opening a file never waits here: only its kind is checked
    FileHandle opened;
    if (SysError error = OpenForReading(path, opened)) return error;
    if (SysError error = StatHandle(opened, info)) return error;
    if (info.kind != FileInfo::REGULAR) return kNotRegular;
    file = std::move(opened);
    return 0;
}

SysError
StatHandle(const FileHandle& file, FileInfo& info)
{
    HANDLE handle = OsHandle(file);
    if (handle == INVALID_HANDLE_VALUE) return EBADF;
    return InfoOfHandle(handle, info);
}

SysError
StatPath(const char* path, FileInfo& info)
{
    std::wstring wide;
    if (SysError error = ToWide(path, wide)) return error;
    if (wide.empty()) return ENOENT;
    std::wstring full;
    if (FullPath(wide, full) != 0) full = wide;
    HANDLE handle = CreateFileW(SystemPath(full).c_str(), FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return LastError();
    SysError error = InfoOfHandle(handle, info);
    CloseHandle(handle);
    return error;
}

bool
IsTerminal(const FileHandle& file)
{
    return IsConsole(OsHandle(file));
}

bool
ReadableByOthers(const FileInfo&)
{
    return false;
}

void
AdviseSequentialReading(const FileHandle&)
{
    // Windows takes this advice only when a file is opened
    // (FILE_FLAG_SEQUENTIAL_SCAN), and its read-ahead already grows for
    // a file read from start to end.
}

SysError
GetPosition(const FileHandle& file, NPT_UInt64& position)
{
    HANDLE handle = OsHandle(file);
    if (handle == INVALID_HANDLE_VALUE) return EBADF;
    if (GetFileType(handle) != FILE_TYPE_DISK) return ESPIPE;
    LARGE_INTEGER zero, where;
    zero.QuadPart = 0;
    if (!SetFilePointerEx(handle, zero, &where, FILE_CURRENT)) return LastError();
    position = static_cast<NPT_UInt64>(where.QuadPart);
    return 0;
}

SysError
SetPosition(const FileHandle& file, NPT_UInt64 position)
{
    HANDLE handle = OsHandle(file);
    if (handle == INVALID_HANDLE_VALUE) return EBADF;
    if (position > static_cast<NPT_UInt64>(INT64_MAX)) return EOVERFLOW;
    if (GetFileType(handle) != FILE_TYPE_DISK) return ESPIPE;
    LARGE_INTEGER where;
    where.QuadPart = static_cast<LONGLONG>(position);
    if (!SetFilePointerEx(handle, where, nullptr, FILE_BEGIN)) return LastError();
    return 0;
}

/*----------------------------------------------------------------------
|   reading and writing
+---------------------------------------------------------------------*/
// One ReadFile or WriteFile moves at most this much (a DWORD count, and
// consoles refuse very large writes).
static const std::size_t kMaxTransfer = 1u << 24;
static const std::size_t kMaxConsoleTransfer = 1u << 14;

// Whether more input can be read without waiting.
static bool
DataReady(HANDLE handle)
{
    switch (GetFileType(handle)) {
        case FILE_TYPE_DISK:
            return true;
        case FILE_TYPE_PIPE: {
            DWORD available = 0;
            return PeekNamedPipe(handle, nullptr, 0, nullptr, &available, nullptr) && available > 0;
        }
        default:
            return false;
    }
}

SysError
ReadSome(const FileHandle& file, void* buffer, std::size_t size, std::size_t& got)
{
    got = 0;
    HANDLE handle = OsHandle(file);
    if (handle == INVALID_HANDLE_VALUE) return EBADF;
    unsigned char* bytes = static_cast<unsigned char*>(buffer);
    while (got < size) {
        std::size_t count = size - got < kMaxTransfer ? size - got : kMaxTransfer;
        DWORD n = 0;
        if (!ReadFile(handle, bytes + got, static_cast<DWORD>(count), &n, nullptr)) {
            DWORD code = GetLastError();
            // the writer of a pipe closed its end: the input ended
            if (code == ERROR_BROKEN_PIPE || code == ERROR_HANDLE_EOF) break;
            return FromWin32(code);
        }
        if (n == 0) break;
        got += n;
        if (got < size && !DataReady(handle)) break;
    }
    return 0;
}

// Positioned transfers: an OVERLAPPED offset on a synchronous handle.
// The system serialises them on the handle, so two threads may call
// these at once with their own offsets.
SysError
ReadAt(const FileHandle& file, void* buffer, std::size_t size, NPT_UInt64 offset, std::size_t& got)
{
    got = 0;
    HANDLE handle = OsHandle(file);
    if (handle == INVALID_HANDLE_VALUE) return EBADF;
    unsigned char* bytes = static_cast<unsigned char*>(buffer);
    while (got < size) {
        NPT_UInt64 where = offset + got;
        if (where > static_cast<NPT_UInt64>(INT64_MAX)) return EOVERFLOW;
        std::size_t count = size - got < kMaxTransfer ? size - got : kMaxTransfer;
        OVERLAPPED at;
        std::memset(&at, 0, sizeof(at));
        at.Offset = static_cast<DWORD>(where);
        at.OffsetHigh = static_cast<DWORD>(where >> 32);
        DWORD n = 0;
        if (!ReadFile(handle, bytes + got, static_cast<DWORD>(count), &n, &at)) {
            DWORD code = GetLastError();
            if (code == ERROR_HANDLE_EOF) break;
            return FromWin32(code);
        }
        if (n == 0) break;
        got += n;
    }
    return 0;
}

SysError
WriteAll(const FileHandle& file, const void* buffer, std::size_t size)
{
    HANDLE handle = OsHandle(file);
    if (handle == INVALID_HANDLE_VALUE) return EBADF;
    const std::size_t limit = GetFileType(handle) == FILE_TYPE_CHAR ? kMaxConsoleTransfer : kMaxTransfer;
    const unsigned char* bytes = static_cast<const unsigned char*>(buffer);
    while (size > 0) {
        std::size_t count = size < limit ? size : limit;
        DWORD n = 0;
        if (!WriteFile(handle, bytes, static_cast<DWORD>(count), &n, nullptr)) return LastError();
        if (n == 0) return EIO;
        bytes += n;
        size -= n;
    }
    return 0;
}

SysError
WriteAt(const FileHandle& file, const void* buffer, std::size_t size, NPT_UInt64 offset)
{
    HANDLE handle = OsHandle(file);
    if (handle == INVALID_HANDLE_VALUE) return EBADF;
    const unsigned char* bytes = static_cast<const unsigned char*>(buffer);
    while (size > 0) {
        if (offset > static_cast<NPT_UInt64>(INT64_MAX)) return EOVERFLOW;
        std::size_t count = size < kMaxTransfer ? size : kMaxTransfer;
        OVERLAPPED at;
        std::memset(&at, 0, sizeof(at));
        at.Offset = static_cast<DWORD>(offset);
        at.OffsetHigh = static_cast<DWORD>(offset >> 32);
        DWORD n = 0;
        if (!WriteFile(handle, bytes, static_cast<DWORD>(count), &n, &at)) return LastError();
        if (n == 0) return EIO;
        bytes += n;
        offset += n;
        size -= n;
    }
    return 0;
}

void
WriteToStandardError(const std::string& text)
{
    FileHandle err(2, false);
    if (WriteConsoleText(OsHandle(err), text)) return;
    WriteAll(err, text.data(), text.size());
}

}  // namespace tvkcrypt
