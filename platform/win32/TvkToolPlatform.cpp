/*****************************************************************
| TvkToolPlatform.cpp - Windows implementation of the tvkcrypt tool's
| system services (declared in FileHandle.h, OutputPlace.h, TempOutput.h,
| Terminal.h, Signals.h, Hardening.h and SystemInfo.h), over Win32
| and the C runtime. It is linked into the tool only, not into
| libtvkcrypto.
|
| Files are C-runtime descriptors over Win32 handles opened with
| CreateFileW; every transfer goes to the handle directly (ReadFile,
| WriteFile), so the runtime's text mode never touches the data. Paths
| arrive as UTF-8 and reach the system as UTF-16; a path that is not
| well-formed UTF-8 is refused (EILSEQ) before any system call, since
| the system's converter would map different byte strings to one name.
|
| Failures come back as errno values, as on POSIX, so that the rest of
| the tool stays portable: Win32 codes are mapped by FromWin32 (a
| sharing violation becomes EBUSY, "in use by another program").
|
| What differs from POSIX, and why:
| - the temporary output is always a hidden named file (Windows has no
|   unnamed files); Ctrl-C, Ctrl-Break and closing the console remove
|   it, a process killed outright (TerminateProcess) leaves it behind;
| - there are no permission bits: FileInfo::mode says 0444 for a
|   read-only file and 0644 otherwise, Commit ignores new_mode and the
|   output gets the directory's inherited access rights. A read-only
|   target cannot be replaced (permission denied);
| - a followed symbolic link is not checked for ownership (Windows has
|   no owners in the POSIX sense): only that its target is a regular file;
| - directories are not synced: the rename is made with
|   MOVEFILE_WRITE_THROUGH, which returns once the rename is on disk.
****************************************************************/
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif

#include "FileHandle.h"
#include "Hardening.h"
#include "OutputPlace.h"
#include "Signals.h"
#include "SystemInfo.h"
#include "TempOutput.h"
#include "Terminal.h"

#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>
#include <utility>
#include <vector>

#include <windows.h>
#include <bcrypt.h>
#include <shellapi.h>
#include <fcntl.h>
#include <io.h>

#include "ConsoleLine.h"
#include "NptWipe.h"

#ifndef BCRYPT_USE_SYSTEM_PREFERRED_RNG
#define BCRYPT_USE_SYSTEM_PREFERRED_RNG 0x00000002
#endif
#ifndef IO_REPARSE_TAG_MOUNT_POINT
#define IO_REPARSE_TAG_MOUNT_POINT 0xA0000003L
#endif
#ifndef IO_REPARSE_TAG_SYMLINK
#define IO_REPARSE_TAG_SYMLINK 0xA000000CL
#endif

namespace tvkcrypt {

/*----------------------------------------------------------------------
|   errors
+---------------------------------------------------------------------*/
// The errno value the tool reports for a Win32 error code.
static SysError
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

static SysError
LastError()
{
    return FromWin32(GetLastError());
}

/*----------------------------------------------------------------------
|   text conversions
+---------------------------------------------------------------------*/
// Whether text is well-formed UTF-8: every sequence complete, in its
// shortest form, no surrogate and nothing beyond U+10FFFF.
static bool
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
static SysError
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
static SysError
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

// The Win32 handle under a descriptor, INVALID_HANDLE_VALUE when none.
static HANDLE
OsHandle(int fd)
{
    if (fd < 0) return INVALID_HANDLE_VALUE;
    intptr_t handle = _get_osfhandle(fd);
    // -2: a standard stream the process was started without
    if (handle == -1 || handle == -2) return INVALID_HANDLE_VALUE;
    return reinterpret_cast<HANDLE>(handle);
}

static HANDLE
OsHandle(const FileHandle& file)
{
    return OsHandle(file.Fd());
}

// Wraps a fresh Win32 handle in an owned descriptor; the handle is
// closed on failure.
static SysError
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
static bool
IsSeparator(wchar_t c)
{
    return c == L'\\' || c == L'/';
}

// The absolute form of a path (separators made backslashes, "." and
// ".." resolved), in the long-path form when it is longer than the
// classic limit.
static SysError
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
static std::wstring
SystemPath(const std::wstring& full)
{
    if (full.size() < MAX_PATH - 12 || full.compare(0, 4, L"\\\\?\\") == 0) return full;
    if (full.compare(0, 2, L"\\\\") == 0) return L"\\\\?\\UNC\\" + full.substr(2);
    return L"\\\\?\\" + full;
}

// A child of a directory: "C:\dir" + "name" gives "C:\dir\name".
static std::wstring
Child(const std::wstring& directory, const std::wstring& name)
{
    if (!directory.empty() && IsSeparator(directory.back())) return SystemPath(directory + name);
    return SystemPath(directory + L"\\" + name);
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

static SysError
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
    if (!GetFileInformationByHandle(handle, &data)) return LastError();
    info.kind = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? FileInfo::DIRECTORY : FileInfo::REGULAR;
    info.size = (static_cast<NPT_UInt64>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    info.device = data.dwVolumeSerialNumber;
    info.inode = (static_cast<NPT_UInt64>(data.nFileIndexHigh) << 32) | data.nFileIndexLow;
    info.mode = (data.dwFileAttributes & FILE_ATTRIBUTE_READONLY) ? 0444 : 0644;
    return 0;
}

SysError
StatHandle(const FileHandle& file, FileInfo& info)
{
    HANDLE handle = OsHandle(file);
    if (handle == INVALID_HANDLE_VALUE) return EBADF;
    return InfoOfHandle(handle, info);
}

static bool
IsConsole(HANDLE handle)
{
    DWORD mode;
    return handle != INVALID_HANDLE_VALUE && GetFileType(handle) == FILE_TYPE_CHAR &&
           GetConsoleMode(handle, &mode) != 0;
}

bool
IsTerminal(const FileHandle& file)
{
    return IsConsole(OsHandle(file));
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

// Text for the console: UTF-16 through WriteConsoleW, so that names
// show right whatever the console's code page. False when handle is no
// console or the text is not UTF-8.
static bool
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

std::vector<std::string>
CommandLineArguments(int argc, char** argv)
{
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::string> arguments;
    if (wide != nullptr && count == argc) {
        for (int i = 0; i < count; ++i) {
            std::string text;
            // an unpaired surrogate cannot be UTF-8: keep the runtime's
            // form, which the tool then refuses as a name
            if (ToUtf8(wide[i], text) != 0) text = argv[i];
            arguments.push_back(text);
        }
    } else {
        // the two parsers disagree (an unusual command line): the
        // runtime's reading is the one the program was started with
        arguments.assign(argv, argv + argc);
    }
    if (wide != nullptr) LocalFree(wide);
    return arguments;
}

void
WriteToStandardError(const std::string& text)
{
    FileHandle err(2, false);
    if (WriteConsoleText(OsHandle(err), text)) return;
    WriteAll(err, text.data(), text.size());
}

/*----------------------------------------------------------------------
|   state shared with the console control handler
|
|   The handler runs on a thread of its own that the system starts. It
|   takes g_Lock, which every step that changes the temporaries' state
|   holds too (creation, commit, discard): so it either waits for a
|   commit to finish or finds a consistent record, removes what is
|   listed, gives the console its echo back and ends the process. The
|   lock is recursive (CommitTogether holds it around two commits).
+---------------------------------------------------------------------*/
namespace {
struct ControlLock {
    CRITICAL_SECTION section;
    ControlLock() { InitializeCriticalSection(&section); }
    ~ControlLock() { DeleteCriticalSection(&section); }
};
ControlLock g_Control;

class ControlBlock
{
public:
    ControlBlock() { EnterCriticalSection(&g_Control.section); }
    ~ControlBlock() { LeaveCriticalSection(&g_Control.section); }
    ControlBlock(const ControlBlock&) = delete;
    ControlBlock& operator=(const ControlBlock&) = delete;
};

// two slots: an encrypted output and its check file
const int kTempSlots = 2;
struct TempRecord {
    bool         set = false;
    HANDLE       file = INVALID_HANDLE_VALUE;  // while it is open
    std::wstring path;
};
TempRecord g_Temp[kTempSlots];

HANDLE g_ConsoleInput = INVALID_HANDLE_VALUE;  // while echo is off
DWORD  g_SavedConsoleMode = 0;
HANDLE g_ConsoleOutput = INVALID_HANDLE_VALUE;
}  // namespace

// Exit statuses as a POSIX shell reports a death by SIGINT or SIGHUP.
static const UINT kExitInterrupted = 128 + 2;
static const UINT kExitHungUp = 128 + 1;

// The console control handler, called by the system on a thread of its
// own. Not static: the tests call it the same way where no console can
// deliver the events (Wine without a terminal).
extern "C" BOOL WINAPI
TvkcryptOnConsoleControl(DWORD event)
{
    switch (event) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT:
        case CTRL_CLOSE_EVENT:
        case CTRL_LOGOFF_EVENT:
        case CTRL_SHUTDOWN_EVENT:
            break;
        default:
            return FALSE;
    }
    // the lock is never released: the process ends holding it, so that
    // no commit can start behind the cleanup
    EnterCriticalSection(&g_Control.section);
    for (TempRecord& record : g_Temp) {
        if (!record.set) continue;
        bool gone = false;
        if (record.file != INVALID_HANDLE_VALUE) {
            // open with DELETE access: marked for deletion, it goes when
            // the process ends a moment later
            FILE_DISPOSITION_INFO disposition;
            disposition.DeleteFile = TRUE;
            gone = SetFileInformationByHandle(record.file, FileDispositionInfo, &disposition,
                                              sizeof(disposition)) != 0;
        }
        if (!gone) DeleteFileW(record.path.c_str());
    }
    if (g_ConsoleInput != INVALID_HANDLE_VALUE) {
        SetConsoleMode(g_ConsoleInput, g_SavedConsoleMode);
        if (g_ConsoleOutput != INVALID_HANDLE_VALUE) {
            DWORD n;
            WriteConsoleW(g_ConsoleOutput, L"\n", 1, &n, nullptr);
        }
    }
    // ends at once, as a signal would: no exit handlers, no flushing of
    // half-written output
    TerminateProcess(GetCurrentProcess(), event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT
                                              ? kExitInterrupted
                                              : kExitHungUp);
    return TRUE;
}

void
GuardStandardDescriptors()
{
    // the wrong way round: reading standard output or writing standard
    // input fails visibly instead of doing nothing
    const DWORD access[3] = {GENERIC_WRITE, GENERIC_READ, GENERIC_READ};
    const DWORD which[3] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
    for (int fd = 0; fd < 3; ++fd) {
        if (OsHandle(fd) == INVALID_HANDLE_VALUE) {
            HANDLE nul = CreateFileW(L"NUL", access[fd], FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                     OPEN_EXISTING, 0, nullptr);
            if (nul != INVALID_HANDLE_VALUE) {
                int opened = _open_osfhandle(reinterpret_cast<intptr_t>(nul), _O_BINARY);
                if (opened < 0) {
                    CloseHandle(nul);
                } else if (opened != fd) {
                    _dup2(opened, fd);
                    _close(opened);
                }
                HANDLE now = OsHandle(fd);
                if (now != INVALID_HANDLE_VALUE) SetStdHandle(which[fd], now);
            }
        }
        // no translation of line ends or Ctrl-Z by the runtime, ever
        _setmode(fd, _O_BINARY);
    }
}

void
InstallSignalHandlers()
{
    // Ctrl-C stays ignored for a process started without it (the
    // equivalent of nohup): the system then never calls the handler for
    // it. Ctrl-Break and closing the console always arrive.
    SetConsoleCtrlHandler(TvkcryptOnConsoleControl, TRUE);
}

/*----------------------------------------------------------------------
|   OutputPlace
+---------------------------------------------------------------------*/
// Opens whatever is at path for looking only; follow false: a link is
// opened itself, not its target.
static HANDLE
OpenToInspect(const std::wstring& path, bool follow)
{
    DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | (follow ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
    return CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                       flags, nullptr);
}

// Whether an open object is a symbolic link or a junction (other
// reparse points, like files kept in a cloud, are ordinary files).
static bool
IsLink(HANDLE handle)
{
    FILE_ATTRIBUTE_TAG_INFO tag;
    if (!GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &tag, sizeof(tag))) {
        BY_HANDLE_FILE_INFORMATION data;
        return GetFileInformationByHandle(handle, &data) &&
               (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    }
    return (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
           (tag.ReparseTag == IO_REPARSE_TAG_SYMLINK || tag.ReparseTag == IO_REPARSE_TAG_MOUNT_POINT);
}

static bool
IsMissing(SysError error)
{
    return error == ENOENT;
}

// Pins a directory: open for listing and shared for reading and writing
// but not deletion, so that nobody can rename or remove it while the
// handle is open, and every name built on its path stays inside it.
static SysError
PinDirectory(const std::wstring& directory, FileHandle& pinned)
{
    HANDLE handle = CreateFileW(SystemPath(directory).c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return LastError();
    BY_HANDLE_FILE_INFORMATION data;
    if (!GetFileInformationByHandle(handle, &data)) {
        SysError error = LastError();
        CloseHandle(handle);
        return error;
    }
    if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        CloseHandle(handle);
        return ENOTDIR;
    }
    return Adopt(handle, _O_RDONLY, pinned);
}

// Splits an absolute path into its directory ("C:\" for the root) and
// its last name.
static void
SplitFull(const std::wstring& full, std::wstring& directory, std::wstring& name)
{
    std::wstring::size_type slash = full.find_last_of(L"\\/");
    if (slash == std::wstring::npos) {
        directory = L".";
        name = full;
        return;
    }
    name = full.substr(slash + 1);
    directory = full.substr(0, slash);
    // "C:" alone would mean that drive's working directory
    if (directory.size() == 2 && directory[1] == L':') directory += L'\\';
    if (directory.empty()) directory = full.substr(0, slash + 1);
}

SysError
OutputPlace::Locate(const std::string& path, bool follow_symlinks)
{
    m_Kind = MISSING;
    m_Found = FileInfo();
    m_Directory = FileHandle();
    m_DirectoryPath.clear();
    m_Name.clear();
    std::wstring wide;
    if (SysError error = ToWide(path, wide)) return error;
    if (wide.empty()) return ENOENT;
    std::wstring full;
    if (SysError error = FullPath(wide, full)) return error;
    // a device such as NUL or CON: written directly, there is no
    // directory to work in
    if (full.compare(0, 4, L"\\\\.\\") == 0) {
        HANDLE handle = OpenToInspect(full, true);
        if (handle == INVALID_HANDLE_VALUE) return LastError();
        SysError error = InfoOfHandle(handle, m_Found);
        CloseHandle(handle);
        if (error) return error;
        if (SysError bad = ToUtf8(full, m_Name)) return bad;
        m_Kind = m_Found.kind == FileInfo::DIRECTORY ? DIRECTORY : STREAM;
        return 0;
    }
    // "dir\" and the like name a directory, or nothing usable
    const wchar_t last = wide.back();
    std::wstring base = wide.substr(wide.find_last_of(L"\\/:") == std::wstring::npos
                                        ? 0
                                        : wide.find_last_of(L"\\/:") + 1);
    if (IsSeparator(last) || base.empty() || base == L"." || base == L"..") {
        DWORD attributes = GetFileAttributesW(SystemPath(full).c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES) return LastError();
        if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) return ENOTDIR;
        m_Kind = DIRECTORY;
        return 0;
    }
    std::wstring directory, name;
    SplitFull(full, directory, name);
    if (SysError error = PinDirectory(directory, m_Directory)) return error;
    if (SysError error = ToUtf8(directory, m_DirectoryPath)) return error;
    if (SysError error = ToUtf8(name, m_Name)) return error;

    const std::wstring at = Child(directory, name);
    HANDLE handle = OpenToInspect(at, false);
    if (handle == INVALID_HANDLE_VALUE) {
        SysError error = LastError();
        return IsMissing(error) ? 0 : error;
    }
    if (IsLink(handle)) {
        CloseHandle(handle);
        HANDLE target = OpenToInspect(at, true);
        if (target != INVALID_HANDLE_VALUE) {
            FileInfo info;
            bool stream = InfoOfHandle(target, info) == 0 && info.kind == FileInfo::OTHER;
            if (stream) {
                CloseHandle(target);
                m_Found = info;
                m_Kind = STREAM;
                return 0;
            }
        }
        if (!follow_symlinks) {
            if (target != INVALID_HANDLE_VALUE) CloseHandle(target);
            m_Kind = LINK;
            return 0;
        }
        if (target == INVALID_HANDLE_VALUE) return LastError();
        // where the link leads, as the system resolves it
        std::vector<wchar_t> buffer(1024);
        DWORD length = GetFinalPathNameByHandleW(target, buffer.data(), static_cast<DWORD>(buffer.size()),
                                                 FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        if (length >= buffer.size()) {
            buffer.resize(length + 1);
            length = GetFinalPathNameByHandleW(target, buffer.data(), static_cast<DWORD>(buffer.size()),
                                               FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        }
        SysError error = length == 0 || length >= buffer.size() ? LastError() : 0;
        CloseHandle(target);
        if (error) return error;
        std::wstring resolved(buffer.data(), length);
        if (resolved.compare(0, 8, L"\\\\?\\UNC\\") == 0) {
            resolved = L"\\\\" + resolved.substr(8);
        } else if (resolved.compare(0, 4, L"\\\\?\\") == 0) {
            resolved = resolved.substr(4);
        }
        std::string target_path;
        if (SysError bad = ToUtf8(resolved, target_path)) return bad;
        return LocateLinkTarget(target_path);
    }
    SysError error = InfoOfHandle(handle, m_Found);
    CloseHandle(handle);
    if (error) return error;
    switch (m_Found.kind) {
        case FileInfo::REGULAR: m_Kind = FILE; break;
        case FileInfo::DIRECTORY: m_Kind = DIRECTORY; break;
        default: m_Kind = STREAM; break;
    }
    return 0;
}

// The followed link's target: a regular file there is replaced in its
// own directory. Windows has no owners in the POSIX sense, so nothing
// beyond its kind is checked.
SysError
OutputPlace::LocateLinkTarget(const std::string& target_path)
{
    std::wstring full;
    if (SysError error = ToWide(target_path, full)) return error;
    std::wstring directory, name;
    SplitFull(full, directory, name);
    if (SysError error = PinDirectory(directory, m_Directory)) return error;
    if (SysError error = ToUtf8(directory, m_DirectoryPath)) return error;
    if (SysError error = ToUtf8(name, m_Name)) return error;
    HANDLE handle = OpenToInspect(Child(directory, name), false);
    if (handle == INVALID_HANDLE_VALUE) return LastError();
    bool link = IsLink(handle);
    SysError error = InfoOfHandle(handle, m_Found);
    CloseHandle(handle);
    if (error) return error;
    if (m_Found.kind == FileInfo::DIRECTORY) {
        m_Kind = DIRECTORY;
        return 0;
    }
    // the resolved path ends in no link; anything else was swapped in
    if (link || m_Found.kind != FileInfo::REGULAR) return kTargetChanged;
    m_Kind = FILE;
    return 0;
}

// The full UTF-16 path of a name in the place's directory (or of the
// device itself, for a device place).
static SysError
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

SysError
OutputPlace::OpenStream(FileHandle& file) const
{
    std::wstring path;
    if (SysError error = PathIn(m_DirectoryPath, m_Name, path)) return error;
    HANDLE handle = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return LastError();
    FileHandle opened;
    if (SysError error = Adopt(handle, _O_WRONLY, opened)) return error;
    FileInfo info;
    if (SysError error = StatHandle(opened, info)) return error;
    // a file swapped in since the check would be overwritten in place
    if (info.kind != FileInfo::OTHER) return kTargetChanged;
    file = std::move(opened);
    return 0;
}

SysError
OutputPlace::OpenInPlace(FileHandle& file) const
{
    std::wstring path;
    if (SysError error = PathIn(m_DirectoryPath, m_Name, path)) return error;
    HANDLE handle = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return LastError();
    if (IsLink(handle)) {
        CloseHandle(handle);
        return kTargetChanged;
    }
    FileHandle opened;
    if (SysError error = Adopt(handle, _O_WRONLY, opened)) return error;
    FileInfo info;
    if (SysError error = StatHandle(opened, info)) return error;
    if (info.kind != FileInfo::REGULAR || !info.SameFileAs(m_Found)) return kTargetChanged;
    file = std::move(opened);
    return 0;
}

SysError
FinishInPlace(const FileHandle& file, NPT_UInt64 size)
{
    HANDLE handle = OsHandle(file);
    if (handle == INVALID_HANDLE_VALUE) return EBADF;
    if (size > static_cast<NPT_UInt64>(INT64_MAX)) return EFBIG;
    LARGE_INTEGER end;
    end.QuadPart = static_cast<LONGLONG>(size);
    if (!SetFilePointerEx(handle, end, nullptr, FILE_BEGIN) || !SetEndOfFile(handle)) return LastError();
    if (!FlushFileBuffers(handle)) return LastError();
    return 0;
}

/*----------------------------------------------------------------------
|   TempOutput
+---------------------------------------------------------------------*/
// A fresh hidden name beside the target: ".NAME.tvkcrypt-XXXXXX".
static std::string
TemporaryName(const std::string& target, unsigned attempt)
{
    static std::atomic<unsigned> counter{0};
    std::string base = target;
    // keep the name well within the 255-unit limit of one component
    if (base.size() > 200) {
        base.resize(200);
        // do not cut a UTF-8 sequence in two
        while (!base.empty() && (static_cast<unsigned char>(base.back()) & 0xC0) == 0x80) base.pop_back();
        if (!base.empty() && static_cast<unsigned char>(base.back()) >= 0xC0) base.pop_back();
    }
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    unsigned long long seed = static_cast<unsigned long long>(now.QuadPart) ^
                              (static_cast<unsigned long long>(GetCurrentProcessId()) << 20) ^
                              (static_cast<unsigned long long>(counter++) << 40) ^ attempt;
    static const char letters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::string suffix;
    for (int i = 0; i < 6; ++i) {
        seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
        suffix += letters[(seed >> 33) % (sizeof(letters) - 1)];
    }
    return "." + base + ".tvkcrypt-" + suffix;
}

// Records a temporary for the control handler; call under the lock.
static int
RememberTemporary(HANDLE file, const std::wstring& path)
{
    for (int slot = 0; slot < kTempSlots; ++slot) {
        if (g_Temp[slot].set) continue;
        g_Temp[slot].file = file;
        g_Temp[slot].path = path;
        g_Temp[slot].set = true;
        return slot;
    }
    return -1;
}

static void
ForgetTemporary(int& slot)
{
    if (slot >= 0) {
        g_Temp[slot].set = false;
        g_Temp[slot].file = INVALID_HANDLE_VALUE;
    }
    slot = -1;
}

static std::wstring
TempPath(const OutputPlace*, const std::string& directory, const std::string& name)
{
    std::wstring path;
    if (PathIn(directory, name, path) != 0) path.clear();
    return path;
}

SysError
TempOutput::Create(const OutputPlace& place)
{
    Discard();
    if (place.m_DirectoryPath.empty()) return EINVAL;  // no directory to work in
    m_Place = &place;
    ControlBlock block;
    for (unsigned attempt = 0;; ++attempt) {
        std::string name = TemporaryName(place.m_Name, attempt);
        std::wstring path = TempPath(&place, place.m_DirectoryPath, name);
        if (path.empty()) return EILSEQ;
        // DELETE access: the control handler can remove it through the
        // handle, even while the other thread writes
        HANDLE handle = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, FILE_SHARE_READ,
                                    nullptr, CREATE_NEW, FILE_ATTRIBUTE_HIDDEN, nullptr);
        if (handle == INVALID_HANDLE_VALUE) {
            DWORD code = GetLastError();
            if ((code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS) && attempt < 100) continue;
            return FromWin32(code);
        }
        if (SysError error = Adopt(handle, _O_RDWR, m_File)) return error;
        m_Name = name;
        m_Slot = RememberTemporary(handle, path);
        return 0;
    }
}

SysError
TempOutput::GiveName(std::string& name)
{
    // always named on Windows
    name = m_Name;
    return m_Name.empty() ? EINVAL : 0;
}

// Moves a file to another name in the same directory: the name must be
// free unless replace. MOVEFILE_WRITE_THROUGH returns only once the
// rename is on disk, which stands in for syncing the directory.
static SysError
MoveName(const std::wstring& from, const std::wstring& to, bool replace)
{
    DWORD flags = MOVEFILE_WRITE_THROUGH | (replace ? MOVEFILE_REPLACE_EXISTING : 0);
    if (!MoveFileExW(from.c_str(), to.c_str(), flags)) return LastError();
    return 0;
}

// Puts the named temporary at the place's name, replacing whatever is
// there. Windows refuses to rename over a file that is open (the input
// itself, replaced with --force) or read-only; then the old file first
// moves aside to a hidden name (an open file may be renamed when it was
// opened for sharing deletion, as the tool opens its input), the output
// takes the name, and the old file is removed: a name left empty for a
// moment instead of one atomic step. A read-only file's output is made
// read-only too, as the output takes a replaced file's permissions.
SysError
TempOutput::Replace(const std::string& name)
{
    const std::string& directory = m_Place->m_DirectoryPath;
    std::wstring from = TempPath(m_Place, directory, name);
    std::wstring to = TempPath(m_Place, directory, m_Place->m_Name);
    if (from.empty() || to.empty()) return EILSEQ;
    const DWORD old_attributes = GetFileAttributesW(to.c_str());
    const bool read_only = old_attributes != INVALID_FILE_ATTRIBUTES &&
                           (old_attributes & FILE_ATTRIBUTE_READONLY) &&
                           !(old_attributes & FILE_ATTRIBUTE_DIRECTORY);
    SysError error = read_only ? EACCES : MoveName(from, to, true);
    if (error != EACCES && error != EBUSY) {
        return error;
    }
    if (old_attributes == INVALID_FILE_ATTRIBUTES || (old_attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        return error;
    }
    std::string aside;
    std::wstring aside_path;
    for (unsigned attempt = 0;; ++attempt) {
        aside = TemporaryName(m_Place->m_Name, attempt);
        aside_path = TempPath(m_Place, directory, aside);
        if (MoveFileExW(to.c_str(), aside_path.c_str(), MOVEFILE_WRITE_THROUGH)) break;
        SysError aside_error = LastError();
        if (aside_error != EEXIST || attempt >= 100) return error;
    }
    if (SysError move_error = MoveName(from, to, false)) {
        MoveFileExW(aside_path.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH);
        return move_error;
    }
    if (read_only) SetFileAttributesW(to.c_str(), FILE_ATTRIBUTE_READONLY);
    SetFileAttributesW(aside_path.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (!DeleteFileW(aside_path.c_str())) {
        m_LeftoverError = LastError();
        m_Leftover = aside;
    }
    return 0;
}

SysError
TempOutput::Commit(unsigned, bool replace)
{
    if (!m_File.IsOpen() || m_Place == nullptr) return EBADF;
    m_Leftover.clear();
    m_LeftoverError = 0;
    m_DirectorySyncError = 0;
    HANDLE handle = OsHandle(m_File);
    if (!FlushFileBuffers(handle)) return LastError();
    ControlBlock block;
    std::wstring from = TempPath(m_Place, m_Place->m_DirectoryPath, m_Name);
    std::wstring to = TempPath(m_Place, m_Place->m_DirectoryPath, m_Place->m_Name);
    if (from.empty() || to.empty()) return EILSEQ;
    // the rename needs the file closed (it was opened without sharing
    // deletion); from here on the control handler removes it by name
    if (m_Slot >= 0) g_Temp[m_Slot].file = INVALID_HANDLE_VALUE;
    if (SysError error = m_File.Close()) return error;
    // the output is an ordinary file, not a hidden one
    if (!SetFileAttributesW(from.c_str(), FILE_ATTRIBUTE_NORMAL)) return LastError();
    SysError error = replace ? Replace(m_Name) : MoveName(from, to, false);
    if (error) return error;
    ForgetTemporary(m_Slot);
    m_Name.clear();
    m_Place = nullptr;
    return 0;
}

void
TempOutput::Discard()
{
    ControlBlock block;
    if (m_Slot >= 0) g_Temp[m_Slot].file = INVALID_HANDLE_VALUE;
    m_File.Close();
    if (!m_Name.empty() && m_Place != nullptr) {
        std::wstring path = TempPath(m_Place, m_Place->m_DirectoryPath, m_Name);
        if (!path.empty()) DeleteFileW(path.c_str());
    }
    ForgetTemporary(m_Slot);
    m_Name.clear();
    m_Place = nullptr;
}

SysError
TempOutput::Sync()
{
    HANDLE handle = OsHandle(m_File);
    if (handle == INVALID_HANDLE_VALUE) return EBADF;
    if (!FlushFileBuffers(handle)) return LastError();
    return 0;
}

// Gives the file at a name a second, hidden name (a hard link), so that
// it can be put back; kept stays empty when there is nothing there.
static SysError
KeepAside(const std::string& directory, const std::string& name, std::string& kept)
{
    kept.clear();
    std::wstring existing;
    if (SysError error = PathIn(directory, name, existing)) return error;
    for (unsigned attempt = 0;; ++attempt) {
        std::string aside = TemporaryName(name, attempt);
        std::wstring aside_path;
        if (SysError error = PathIn(directory, aside, aside_path)) return error;
        if (CreateHardLinkW(aside_path.c_str(), existing.c_str(), nullptr)) {
            kept = aside;
            return 0;
        }
        SysError error = LastError();
        if (error == ENOENT) return 0;
        if (error != EEXIST || attempt >= 100) return error;
    }
}

SysError
CommitTogether(TempOutput& first, const OutputPlace& first_place, bool first_replace,
               TempOutput& second, unsigned second_mode, bool second_replace, bool& first_failed,
               std::string& leftover, SysError& leftover_error)
{
    first_failed = false;
    leftover.clear();
    leftover_error = 0;
    // the slow part before the window between the two names
    if (SysError error = second.Sync()) return error;
    const std::string& directory = first_place.m_DirectoryPath;
    const std::string& name = first_place.m_Name;
    ControlBlock block;
    std::string kept;
    SysError error = 0;
    if (first_replace) error = KeepAside(directory, name, kept);
    std::wstring kept_path, name_path;
    if (!error && !kept.empty()) error = PathIn(directory, kept, kept_path);
    if (!error) error = PathIn(directory, name, name_path);
    if (!error) error = first.Commit(0600, first_replace);
    if (error) {
        first_failed = true;
        if (!kept_path.empty()) DeleteFileW(kept_path.c_str());
        return error;
    }
    error = second.Commit(second_mode, second_replace);
    if (error) {
        // the first name goes back to what it was; when even that
        // fails, leftover tells the caller where the old file is
        if (!kept.empty()) {
            if (SysError undo = MoveName(kept_path, name_path, true)) {
                leftover = kept;
                leftover_error = undo;
            }
        } else if (!DeleteFileW(name_path.c_str())) {
            leftover_error = LastError();
        }
        return error;
    }
    if (!kept.empty() && !DeleteFileW(kept_path.c_str())) {
        leftover = kept;
        leftover_error = LastError();
    }
    return 0;
}

SysError
RandomBytes(void* buffer, std::size_t size)
{
    unsigned char* bytes = static_cast<unsigned char*>(buffer);
    while (size > 0) {
        ULONG count = size < 0x10000000u ? static_cast<ULONG>(size) : 0x10000000u;
        if (BCryptGenRandom(nullptr, bytes, count, BCRYPT_USE_SYSTEM_PREFERRED_RNG) < 0) return EIO;
        bytes += count;
        size -= count;
    }
    return 0;
}

/*----------------------------------------------------------------------
|   secrets
|
|   What Windows offers falls short of POSIX here: a process of the same
|   user with debug access can always read this one's memory, and there
|   is no switch that makes a process undumpable. What is done: no error
|   dialogs (a crash ends the process instead of waiting with its memory
|   for a debugger), no heap in Windows Error Reporting's dumps, and the
|   secret pages excluded from those dumps and locked in memory where the
|   system has the calls and allows them.
+---------------------------------------------------------------------*/
typedef HRESULT(WINAPI* WerSetFlagsCall)(DWORD);
typedef HRESULT(WINAPI* WerMemoryBlockCall)(PVOID, DWORD);
typedef HRESULT(WINAPI* WerUnregisterMemoryBlockCall)(PVOID);

// A function of kernel32 that older systems (and Wine) may lack.
template <typename Call>
static Call
Kernel32Call(const char* name)
{
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    if (kernel == nullptr) return nullptr;
    FARPROC address = GetProcAddress(kernel, name);
    Call call;
    static_assert(sizeof(call) == sizeof(address), "function pointer sizes");
    std::memcpy(&call, &address, sizeof(call));
    return call;
}

void
DisableCoreDumps()
{
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    // WER_FAULT_REPORTING_FLAG_NOHEAP: reports carry no heap
    if (WerSetFlagsCall set_flags = Kernel32Call<WerSetFlagsCall>("WerSetFlags")) set_flags(1);
}

static std::size_t
PageRounded(std::size_t size)
{
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    std::size_t unit = system.dwPageSize ? system.dwPageSize : 4096;
    return (size + unit - 1) / unit * unit;
}

void*
AllocateSecretMemory(std::size_t size)
{
    std::size_t length = PageRounded(size == 0 ? 1 : size);
    // committed pages come zero-filled
    void* memory = VirtualAlloc(nullptr, length, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    if (memory == nullptr) return nullptr;
    // best effort, both: the working-set quota limits what may be locked
    VirtualLock(memory, length);
    if (WerMemoryBlockCall exclude = Kernel32Call<WerMemoryBlockCall>("WerRegisterExcludedMemoryBlock")) {
        exclude(memory, static_cast<DWORD>(length));
    }
    return memory;
}

void
FreeSecretMemory(void* memory, std::size_t size)
{
    if (memory == nullptr) return;
    std::size_t length = PageRounded(size == 0 ? 1 : size);
    NPT_WipeMemory(memory, length);
    if (WerUnregisterMemoryBlockCall include =
            Kernel32Call<WerUnregisterMemoryBlockCall>("WerUnregisterExcludedMemoryBlock")) {
        include(memory);
    }
    VirtualUnlock(memory, length);
    VirtualFree(memory, 0, MEM_RELEASE);
}

/*----------------------------------------------------------------------
|   Terminal: the console
+---------------------------------------------------------------------*/
SysError
Terminal::Open()
{
    HANDLE input = CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               nullptr, OPEN_EXISTING, 0, nullptr);
    if (input == INVALID_HANDLE_VALUE) return ENXIO;
    DWORD mode;
    if (!GetConsoleMode(input, &mode)) {
        CloseHandle(input);
        return ENXIO;
    }
    HANDLE output = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, 0, nullptr);
    if (output == INVALID_HANDLE_VALUE) {
        CloseHandle(input);
        return ENXIO;
    }
    if (SysError error = Adopt(input, _O_RDWR, m_Tty)) {
        CloseHandle(output);
        return error;
    }
    return Adopt(output, _O_RDWR, m_Output);
}

void
Terminal::Write(const std::string& text)
{
    HANDLE output = OsHandle(m_Output);
    if (WriteConsoleText(output, text)) return;
    WriteAll(m_Output, text.data(), text.size());
}

SysError
Terminal::ReadSecretLine(const char* prompt, char* buffer, std::size_t capacity,
                         std::size_t& length, bool& too_long, bool& no_input)
{
    length = 0;
    too_long = false;
    no_input = false;
    HANDLE input = OsHandle(m_Tty);
    HANDLE output = OsHandle(m_Output);
    DWORD saved = 0;
    if (!GetConsoleMode(input, &saved)) return LastError();
    DWORD quiet = (saved | ENABLE_LINE_INPUT | ENABLE_PROCESSED_INPUT) & ~static_cast<DWORD>(ENABLE_ECHO_INPUT);
    {
        ControlBlock block;
        g_SavedConsoleMode = saved;
        g_ConsoleOutput = output;
        g_ConsoleInput = input;
    }
    // echo goes off before the prompt shows; earlier typeahead goes
    SysError error = 0;
    FlushConsoleInputBuffer(input);
    if (!SetConsoleMode(input, quiet)) error = LastError();
    if (!error && !WriteConsoleText(output, prompt)) error = ENXIO;

    // The console hands over UTF-16 with the line ending; ConsoleLine
    // writes it to buffer as UTF-8, surrogate pairs split between reads
    // included, and knows Ctrl-Z at the start as the end of input.
    ConsoleLine line(buffer, capacity);
    char16_t units[256];
    bool line_done = false;
    bool ended = false;
    while (!error && !line_done) {
        DWORD n = 0;
        if (!ReadConsoleW(input, units, static_cast<DWORD>(sizeof(units) / sizeof(units[0])), &n, nullptr)) {
            error = LastError();
            break;
        }
        if (n == 0) {
            ended = true;
            break;
        }
        line_done = line.Add(units, n);
    }
    line.Finish();
    NPT_WipeMemory(units, sizeof(units));
    length = line.Length();
    too_long = line.TooLong();
    no_input = line.EndOfInput() || (ended && !line.AnyUnit());

    // echo comes back whatever failed before
    SetConsoleMode(input, saved);
    {
        ControlBlock block;
        g_ConsoleInput = INVALID_HANDLE_VALUE;
        g_ConsoleOutput = INVALID_HANDLE_VALUE;
    }
    Write("\n");
    return error;
}

/*----------------------------------------------------------------------
|   terminal width: polled, the console sends no signal on a resize
+---------------------------------------------------------------------*/
static std::atomic<bool>     g_WatchingSize{false};
static std::atomic<unsigned> g_LastColumns{0};

unsigned
TerminalColumns(const FileHandle& file)
{
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!GetConsoleScreenBufferInfo(OsHandle(file), &info)) return 0;
    int columns = info.srWindow.Right - info.srWindow.Left + 1;
    return columns > 0 ? static_cast<unsigned>(columns) : 0;
}

void
WatchTerminalSize()
{
    g_LastColumns.store(TerminalColumns(FileHandle(2, false)));
    g_WatchingSize.store(true);
}

bool
TerminalResized()
{
    if (!g_WatchingSize.load()) return false;
    unsigned now = TerminalColumns(FileHandle(2, false));
    return g_LastColumns.exchange(now) != now;
}

/*----------------------------------------------------------------------
|   time and processors
+---------------------------------------------------------------------*/
double
MonotonicSeconds()
{
    LARGE_INTEGER frequency, now;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

unsigned
ProcessorCount()
{
    DWORD_PTR process_mask = 0, system_mask = 0;
    if (GetProcessAffinityMask(GetCurrentProcess(), &process_mask, &system_mask) && process_mask != 0) {
        unsigned count = 0;
        for (; process_mask != 0; process_mask &= process_mask - 1) ++count;
        return count;
    }
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    return system.dwNumberOfProcessors > 0 ? system.dwNumberOfProcessors : 1;
}

}  // namespace tvkcrypt
