/*****************************************************************
| Win32Support.cpp - the conversions every Windows service needs (see
| Win32Support.h).
****************************************************************/
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif

#include "Win32Support.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <io.h>

namespace tvkcrypt {

/*----------------------------------------------------------------------
|   errors
+---------------------------------------------------------------------*/
// The errno value the tool reports for a Win32 error code.
SysError
FromWin32(DWORD code)
{
    switch (code) {
        case ERROR_SUCCESS:               return EIO;  // a failure without a reason
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_DRIVE:
        case ERROR_BAD_NETPATH:
        case ERROR_BAD_NET_NAME:
        case ERROR_BAD_UNIT:              return ENOENT;
        case ERROR_ACCESS_DENIED:
        case ERROR_CANNOT_MAKE:
        case ERROR_NETWORK_ACCESS_DENIED:
        case ERROR_CURRENT_DIRECTORY:     return EACCES;
        case ERROR_PRIVILEGE_NOT_HELD:    return EPERM;
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
        case ERROR_USER_MAPPED_FILE:
        case ERROR_BUSY:                  return EBUSY;
        case ERROR_FILE_EXISTS:
        case ERROR_ALREADY_EXISTS:        return EEXIST;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
        case 1295:                        return ENOSPC;  // quota exceeded
        case ERROR_FILE_TOO_LARGE:        return EFBIG;
        case ERROR_BROKEN_PIPE:
        case ERROR_NO_DATA:
        case ERROR_PIPE_NOT_CONNECTED:    return EPIPE;
        case ERROR_WRITE_PROTECT:         return EROFS;
        case ERROR_FILENAME_EXCED_RANGE:
        case ERROR_BUFFER_OVERFLOW:       return ENAMETOOLONG;
        case ERROR_DIRECTORY:             return ENOTDIR;
        case ERROR_DIR_NOT_EMPTY:         return ENOTEMPTY;
        case ERROR_TOO_MANY_OPEN_FILES:   return EMFILE;
        case ERROR_NOT_ENOUGH_MEMORY:
        case ERROR_OUTOFMEMORY:           return ENOMEM;
        case ERROR_INVALID_HANDLE:        return EBADF;
        case ERROR_NO_UNICODE_TRANSLATION: return EILSEQ;
        case ERROR_CANT_RESOLVE_FILENAME: return ELOOP;
        case ERROR_INVALID_NAME:
        case ERROR_BAD_PATHNAME:
        case ERROR_INVALID_PARAMETER:     return EINVAL;
        case ERROR_NOT_SUPPORTED:
        case ERROR_INVALID_FUNCTION:      return ENOSYS;
        default:                          return EIO;
    }
}

SysError
LastError()
{
    return FromWin32(GetLastError());
}

/*----------------------------------------------------------------------
|   text conversions
+---------------------------------------------------------------------*/
// Whether text is well-formed UTF-8: every sequence complete, in its
// shortest form, no surrogate and nothing beyond U+10FFFF.
bool
IsWellFormedUtf8(const std::string& text)
{
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text.data());
    const unsigned char* end = p + text.size();
    while (p < end) {
        unsigned char lead = *p++;
        if (lead == 0) return false;  // a name never holds NUL
        if (lead < 0x80) continue;
        int trail;
        unsigned char low = 0x80, high = 0xBF;
        if (lead >= 0xC2 && lead <= 0xDF) {
            trail = 1;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            trail = 2;
            if (lead == 0xE0) low = 0xA0;
            if (lead == 0xED) high = 0x9F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            trail = 3;
            if (lead == 0xF0) low = 0x90;
            if (lead == 0xF4) high = 0x8F;
        } else {
            return false;
        }
        if (end - p < trail || *p < low || *p > high) return false;
        ++p;
        for (int i = 1; i < trail; ++i, ++p) {
            if (*p < 0x80 || *p > 0xBF) return false;
        }
    }
    return true;
}

// UTF-16 of a UTF-8 text; EILSEQ when it is not well-formed.
SysError
ToWide(const std::string& text, std::wstring& wide)
{
    wide.clear();
    if (!IsWellFormedUtf8(text)) return EILSEQ;
    if (text.empty()) return 0;
    if (text.size() > 0x3FFFFFFF) return ENAMETOOLONG;
    int units = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(),
                                    static_cast<int>(text.size()), nullptr, 0);
    if (units <= 0) return EILSEQ;
    wide.assign(static_cast<std::size_t>(units), L'\0');
    if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()),
                            &wide[0], units) != units) {
        wide.clear();
        return EILSEQ;
    }
    return 0;
}

// UTF-8 of a UTF-16 text from the system; EILSEQ for an unpaired
// surrogate (a name no UTF-8 path could reach again).
SysError
ToUtf8(const std::wstring& wide, std::string& text)
{
    text.clear();
    if (wide.empty()) return 0;
    int bytes = WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide.data(),
                                    static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) return EILSEQ;
    text.assign(static_cast<std::size_t>(bytes), '\0');
    if (WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide.data(), static_cast<int>(wide.size()),
                            &text[0], bytes, nullptr, nullptr) != bytes) {
        text.clear();
        return EILSEQ;
    }
    return 0;
}

// The Win32 handle under a descriptor, INVALID_HANDLE_VALUE when none.
HANDLE
OsHandle(int fd)
{
    if (fd < 0) return INVALID_HANDLE_VALUE;
    intptr_t handle = _get_osfhandle(fd);
    // -2: a standard stream the process was started without
    if (handle == -1 || handle == -2) return INVALID_HANDLE_VALUE;
    return reinterpret_cast<HANDLE>(handle);
}

HANDLE
OsHandle(const FileHandle& file)
{
    return OsHandle(file.Fd());
}

// Wraps a fresh Win32 handle in an owned descriptor; the handle is
// closed on failure.
SysError
Adopt(HANDLE handle, int flags, FileHandle& file)
{
    int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), flags | _O_BINARY);
    if (fd < 0) {
        CloseHandle(handle);
        return EMFILE;
    }
    file = FileHandle(fd, true);
    return 0;
}

/*----------------------------------------------------------------------
|   paths
+---------------------------------------------------------------------*/
bool
IsSeparator(wchar_t c)
{
    return c == L'\\' || c == L'/';
}

// The absolute form of a path (separators made backslashes, "." and
// ".." resolved), in the long-path form when it is longer than the
// classic limit.
SysError
FullPath(const std::wstring& path, std::wstring& full)
{
    DWORD size = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (size == 0) return LastError();
    std::vector<wchar_t> buffer(size + 1);
    DWORD got = GetFullPathNameW(path.c_str(), static_cast<DWORD>(buffer.size()), buffer.data(), nullptr);
    if (got == 0 || got >= buffer.size()) return got == 0 ? LastError() : ENAMETOOLONG;
    full.assign(buffer.data(), got);
    return 0;
}

// A path as the system should see it: long ones get the \\?\ prefix
// that lifts the 260-unit limit (the path is already absolute and
// normalised, which that form requires).
std::wstring
SystemPath(const std::wstring& full)
{
    if (full.size() < MAX_PATH - 12 || full.compare(0, 4, L"\\\\?\\") == 0) return full;
    if (full.compare(0, 2, L"\\\\") == 0) return L"\\\\?\\UNC\\" + full.substr(2);
    return L"\\\\?\\" + full;
}

// A child of a directory: "C:\dir" + "name" gives "C:\dir\name".
std::wstring
Child(const std::wstring& directory, const std::wstring& name)
{
    if (!directory.empty() && IsSeparator(directory.back())) return SystemPath(directory + name);
    return SystemPath(directory + L"\\" + name);
}

SysError
InfoOfHandle(HANDLE handle, FileInfo& info)
{
    info = FileInfo();
    DWORD type = GetFileType(handle);
    if (type != FILE_TYPE_DISK) {
        if (type == FILE_TYPE_UNKNOWN && GetLastError() != NO_ERROR) return LastError();
        // pipes, the console, NUL: nothing to compare, so each looks
        // like no other object
        info.kind = FileInfo::OTHER;
        info.device = ~static_cast<NPT_UInt64>(0);
        info.inode = static_cast<NPT_UInt64>(reinterpret_cast<uintptr_t>(handle));
        info.mode = 0666;
        return 0;
    }
    BY_HANDLE_FILE_INFORMATION data;
    if (!GetFileInformationByHandle(handle, &data)) {
        // a file the system will not describe (Wine's handles over a
        // Linux shell's redirections): read and written as a stream,
        // of unknown identity
        info.kind = FileInfo::OTHER;
        info.device = ~static_cast<NPT_UInt64>(0);
        info.inode = static_cast<NPT_UInt64>(reinterpret_cast<uintptr_t>(handle));
        info.mode = 0666;
        info.identified = false;
        return 0;
    }
    info.kind = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? FileInfo::DIRECTORY : FileInfo::REGULAR;
    info.size = (static_cast<NPT_UInt64>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    info.device = data.dwVolumeSerialNumber;
    info.inode = (static_cast<NPT_UInt64>(data.nFileIndexHigh) << 32) | data.nFileIndexLow;
    info.mode = (data.dwFileAttributes & FILE_ATTRIBUTE_READONLY) ? 0444 : 0644;
    return 0;
}

bool
IsConsole(HANDLE handle)
{
    DWORD mode;
    return handle != INVALID_HANDLE_VALUE && GetFileType(handle) == FILE_TYPE_CHAR &&
           GetConsoleMode(handle, &mode) != 0;
}

// Text for the console: UTF-16 through WriteConsoleW, so that names
// show right whatever the console's code page. False when handle is no
// console or the text is not UTF-8.
bool
WriteConsoleText(HANDLE handle, const std::string& text)
{
    if (!IsConsole(handle)) return false;
    std::wstring wide;
    if (ToWide(text, wide) != 0) return false;
    std::size_t done = 0;
    while (done < wide.size()) {
        std::size_t count = wide.size() - done < 4096 ? wide.size() - done : 4096;
        DWORD n = 0;
        if (!WriteConsoleW(handle, wide.data() + done, static_cast<DWORD>(count), &n, nullptr) || n == 0) {
            return true;  // failures are ignored, as for any text written here
        }
        done += n;
    }
    return true;
}

// The full UTF-16 path of a name in the place's directory (or of the
// device itself, for a device place).
SysError
PathIn(const std::string& directory, const std::string& name, std::wstring& path)
{
    std::wstring wide_name;
    if (SysError error = ToWide(name, wide_name)) return error;
    if (directory.empty()) {
        path = wide_name;
        return 0;
    }
    std::wstring wide_directory;
    if (SysError error = ToWide(directory, wide_directory)) return error;
    path = Child(wide_directory, wide_name);
    return 0;
}

}  // namespace tvkcrypt
