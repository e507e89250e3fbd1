/*****************************************************************
| NptWin32Platform.cpp - the file layer's operating-system functions on
| Windows, over the C runtime library and Win32. See NptPlatform.h for
| the contract of each.
|
| Paths arrive as UTF-8 and reach the system as UTF-16. A path that is
| not well-formed UTF-8 is never converted: the system's converter would
| turn every bad byte into U+FFFD, so that different byte strings would
| name one file.
****************************************************************/
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif

#include "NptPlatform.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <vector>

#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>
#include <sys/types.h>

const char NPT_PLATFORM_PATH_SEPARATOR[] = "\\";

namespace {

// Longest text the conversions take, in code units with the terminator.
const size_t MAX_CONVERTED_UNITS = 0x3FFFFFFF;

// The working directory's buffer: 1024 UTF-16 units and the terminator.
const int WORKING_DIRECTORY_UNITS = 1025;

// Whether text is well-formed UTF-8: every sequence complete, in its
// shortest form, and no UTF-16 surrogate (U+D800..U+DFFF) or value
// beyond U+10FFFF encoded.
bool IsWellFormedUtf8(const char* text)
{
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
    while (*p != 0) {
        unsigned char lead = *p++;
        if (lead < 0x80) continue;
        int           trail;
        unsigned char low = 0x80, high = 0xBF;  // bounds of the first trail byte
        if (lead >= 0xC2 && lead <= 0xDF) {
            trail = 1;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            trail = 2;
            if (lead == 0xE0) low = 0xA0;   // overlong below U+0800
            if (lead == 0xED) high = 0x9F;  // surrogates
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            trail = 3;
            if (lead == 0xF0) low = 0x90;   // overlong below U+10000
            if (lead == 0xF4) high = 0x8F;  // beyond U+10FFFF
        } else {
            return false;  // a trail byte, C0, C1 or F5..FF
        }
        if (*p < low || *p > high) return false;
        ++p;
        for (int i = 1; i < trail; ++i, ++p) {
            if (*p < 0x80 || *p > 0xBF) return false;  // the terminator included
        }
    }
    return true;
}

// A UTF-16 copy of a UTF-8 path, or empty (IsNull) when the path is
// null, too long or not well-formed UTF-8.
class WidePath
{
public:
    explicit WidePath(const char* path)
    {
        if (path == nullptr || !IsWellFormedUtf8(path)) return;
        size_t units = std::strlen(path) + 1;
        if (units > MAX_CONVERTED_UNITS) return;
        // UTF-8 never needs more UTF-16 units than it has bytes.
        m_Text.assign(units, L'\0');
        int written = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path, -1,
                                          m_Text.data(), static_cast<int>(units));
        if (written <= 0) m_Text.clear();
    }

    bool           IsNull() const { return m_Text.empty(); }
    const wchar_t* Get() const { return m_Text.data(); }

private:
    std::vector<wchar_t> m_Text;
};

// The UTF-8 form of a NUL-terminated UTF-16 text; empty when it cannot
// be converted. Unpaired surrogates come back as U+FFFD.
NPT_String ToUtf8(const wchar_t* text)
{
    if (text == nullptr) return NPT_String();
    size_t units = static_cast<size_t>(lstrlenW(text)) + 1;
    if (units > MAX_CONVERTED_UNITS) return NPT_String();
    // Up to 3 bytes per unit (a surrogate pair takes 4 bytes for 2 units).
    std::vector<char> buffer(units * 3, '\0');
    int written = WideCharToMultiByte(CP_UTF8, 0, text, -1, buffer.data(),
                                      static_cast<int>(buffer.size()), nullptr, nullptr);
    if (written <= 0) return NPT_String();
    return NPT_String(buffer.data());
}

} // namespace

/*----------------------------------------------------------------------
|   paths
+---------------------------------------------------------------------*/
bool NPT_PlatformIsValidPath(const char* path)
{
    return path != nullptr && IsWellFormedUtf8(path) &&
           std::strlen(path) + 1 <= MAX_CONVERTED_UNITS;
}

NPT_String NPT_PlatformInfoQueryPath(const char* path)
{
    NPT_String query(path);
    query.TrimRight("\\/");
    if (query.GetLength() == 2 && query[1] == ':') {
        // A bare drive: its root, not its current directory.
        query += NPT_PLATFORM_PATH_SEPARATOR;
    } else if (query.IsEmpty() && path != nullptr && path[0] != '\0') {
        // Separators only: the root of the current drive.
        query = NPT_PLATFORM_PATH_SEPARATOR;
    }
    return query;
}

void NPT_PlatformGetRoots(NPT_List<NPT_String>& roots)
{
    roots.Clear();
    DWORD drives = GetLogicalDrives();
    for (int i = 0; i < 26; ++i) {
        if ((drives & (DWORD(1) << i)) == 0) continue;
        char root[4] = {static_cast<char>('A' + i), ':', '\\', '\0'};
        roots.Add(NPT_String(root));
    }
}

NPT_Result NPT_PlatformMapSystemError(int error)
{
    return NPT_MapWin32Error(static_cast<NPT_UInt32>(error));
}

/*----------------------------------------------------------------------
|   opening files
+---------------------------------------------------------------------*/
std::FILE* NPT_PlatformOpenFile(const char* path, NPT_PlatformOpenKind kind)
{
    WidePath wide(path);
    if (wide.IsNull()) {
        errno = EINVAL;
        return nullptr;
    }

    // Binary modes only: a "ccs=" encoding would add a byte-order mark to
    // new files and swallow one at the start of existing files.
    const wchar_t* mode = nullptr;
    switch (kind) {
        case NPT_PLATFORM_OPEN_READ:            mode = L"rb";  break;
        case NPT_PLATFORM_OPEN_READ_WRITE:      mode = L"r+b"; break;
        case NPT_PLATFORM_OPEN_CREATE_TRUNCATE: mode = L"w+b"; break;
        case NPT_PLATFORM_OPEN_APPEND:          mode = L"a+b"; break;
        default:
            errno = EINVAL;
            return nullptr;
    }
    // Others may read but not write while the file is open here. The
    // system checks the share mode before it truncates, so a refused
    // "w+b" leaves the file as it was.
    return _wfsopen(wide.Get(), mode, _SH_DENYWR);
}

namespace {

// Switches the three standard streams to binary mode, once: in text mode
// the runtime writes LF as CR LF and ends input at a Ctrl-Z byte.
void SwitchStandardStreamsToBinary()
{
    static const bool switched = [] {
        for (std::FILE* file : {stdin, stdout, stderr}) {
            int fd = _fileno(file);
            // A process without a console has no descriptor behind them.
            if (fd >= 0) _setmode(fd, _O_BINARY);
        }
        return true;
    }();
    (void)switched;
}

} // namespace

std::FILE* NPT_PlatformStandardInput()
{
    SwitchStandardStreamsToBinary();
    return stdin;
}

std::FILE* NPT_PlatformStandardOutput()
{
    SwitchStandardStreamsToBinary();
    return stdout;
}

std::FILE* NPT_PlatformStandardError()
{
    SwitchStandardStreamsToBinary();
    return stderr;
}

bool NPT_PlatformIsTerminal(std::FILE* file)
{
    int fd = _fileno(file);
    return fd >= 0 && _isatty(fd) != 0;
}

int NPT_PlatformSeek(std::FILE* file, NPT_Position position)
{
    if (position > static_cast<NPT_Position>(INT64_MAX)) return EOVERFLOW;
    if (_fseeki64(file, static_cast<__int64>(position), SEEK_SET) != 0) return errno ? errno : EIO;
    return 0;
}

NPT_Int64 NPT_PlatformTell(std::FILE* file)
{
    return static_cast<NPT_Int64>(_ftelli64(file));
}

std::size_t NPT_PlatformReadFile(std::FILE* file, void* buffer, std::size_t size)
{
    return std::fread(buffer, 1, size, file);
}

std::size_t NPT_PlatformWriteFile(std::FILE* file, const void* data, std::size_t size)
{
    return std::fwrite(data, 1, size, file);
}

int NPT_PlatformFlushFile(std::FILE* file)
{
    return std::fflush(file);
}

int NPT_PlatformCloseFile(std::FILE* file)
{
    return std::fclose(file);
}

/*----------------------------------------------------------------------
|   file information
+---------------------------------------------------------------------*/
int NPT_PlatformGetFileStat(const char* path, NPT_PlatformFileStat& result)
{
    WidePath wide(path);
    if (wide.IsNull()) return EINVAL;

    struct _stat64 info;
    if (_wstat64(wide.Get(), &info) != 0) return errno ? errno : ENOENT;
    switch (info.st_mode & _S_IFMT) {
        case _S_IFREG: result.type = NPT_PlatformFileStat::TYPE_REGULAR;   break;
        case _S_IFDIR: result.type = NPT_PlatformFileStat::TYPE_DIRECTORY; break;
        default:       result.type = NPT_PlatformFileStat::TYPE_OTHER;     break;
    }
    result.size                 = static_cast<NPT_UInt64>(info.st_size);
    result.owner_writable       = (info.st_mode & _S_IWRITE) != 0;
    result.creation_seconds     = static_cast<NPT_Int64>(info.st_ctime);  // creation on Windows
    result.modification_seconds = static_cast<NPT_Int64>(info.st_mtime);
    return 0;
}

int NPT_PlatformGetWorkingDirectory(NPT_String& path)
{
    wchar_t buffer[WORKING_DIRECTORY_UNITS];
    buffer[0] = L'\0';
    errno = 0;
    if (_wgetcwd(buffer, WORKING_DIRECTORY_UNITS) == nullptr) return errno ? errno : ERANGE;
    path = ToUtf8(buffer);
    return 0;
}

/*----------------------------------------------------------------------
|   directories, removal, renaming
+---------------------------------------------------------------------*/
int NPT_PlatformMakeDirectory(const char* path)
{
    WidePath wide(path);
    if (wide.IsNull()) return ERROR_NO_UNICODE_TRANSLATION;
    return CreateDirectoryW(wide.Get(), nullptr) ? 0 : static_cast<int>(GetLastError());
}

int NPT_PlatformDeleteDirectory(const char* path)
{
    WidePath wide(path);
    if (wide.IsNull()) return ERROR_NO_UNICODE_TRANSLATION;
    return RemoveDirectoryW(wide.Get()) ? 0 : static_cast<int>(GetLastError());
}

int NPT_PlatformRemoveFile(const char* path)
{
    WidePath wide(path);
    if (wide.IsNull()) return ERROR_NO_UNICODE_TRANSLATION;
    return DeleteFileW(wide.Get()) ? 0 : static_cast<int>(GetLastError());
}

int NPT_PlatformRename(const char* from_path, const char* to_path)
{
    WidePath from(from_path);
    WidePath to(to_path);
    if (from.IsNull() || to.IsNull()) return ERROR_NO_UNICODE_TRANSLATION;
    // No flags: an existing target is an error, never replaced.
    return MoveFileW(from.Get(), to.Get()) ? 0 : static_cast<int>(GetLastError());
}

/*----------------------------------------------------------------------
|   directory listing
+---------------------------------------------------------------------*/
class NPT_PlatformDirectory
{
public:
    NPT_PlatformDirectory(HANDLE handle, const WIN32_FIND_DATAW& first)
        : m_Handle(handle), m_Data(first), m_HasPending(true) {}
    ~NPT_PlatformDirectory() { FindClose(m_Handle); }
    NPT_PlatformDirectory(const NPT_PlatformDirectory&) = delete;
    NPT_PlatformDirectory& operator=(const NPT_PlatformDirectory&) = delete;

    HANDLE           m_Handle;
    WIN32_FIND_DATAW m_Data;        // the entry found last
    bool             m_HasPending;  // m_Data not handed out yet
    NPT_String       m_Name;        // the UTF-8 name handed out last
};

int NPT_PlatformOpenDirectory(const char* path, NPT_PlatformDirectory*& directory)
{
    directory = nullptr;
    if (path == nullptr) return ERROR_INVALID_PARAMETER;
    NPT_String pattern(path);
    if (pattern.EndsWith("\\") || pattern.EndsWith("/")) {
        pattern += "*";
    } else {
        pattern += "\\*";
    }
    WidePath wide(pattern.GetChars());
    if (wide.IsNull()) return ERROR_NO_UNICODE_TRANSLATION;

    WIN32_FIND_DATAW data;
    HANDLE handle = FindFirstFileW(wide.Get(), &data);
    if (handle == INVALID_HANDLE_VALUE) return static_cast<int>(GetLastError());
    directory = new NPT_PlatformDirectory(handle, data);
    return 0;
}

int NPT_PlatformReadDirectory(NPT_PlatformDirectory* directory, const char*& name)
{
    name = nullptr;
    if (directory == nullptr) return ERROR_INVALID_PARAMETER;
    if (directory->m_HasPending) {
        directory->m_HasPending = false;
    } else if (!FindNextFileW(directory->m_Handle, &directory->m_Data)) {
        DWORD error = GetLastError();
        return error == ERROR_NO_MORE_FILES ? 0 : static_cast<int>(error);
    }
    directory->m_Name = ToUtf8(directory->m_Data.cFileName);
    name = directory->m_Name.GetChars();
    return 0;
}

void NPT_PlatformCloseDirectory(NPT_PlatformDirectory* directory)
{
    delete directory;
}
