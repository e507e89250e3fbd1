/*****************************************************************
| OutputPlace.cpp - Windows implementation of OutputPlace.h: the
| directory pinned by a handle that denies renaming and removal, and
| every name reached under its path.
****************************************************************/
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif

#include "OutputPlace.h"

#include <cwchar>
#include <string>
#include <utility>
#include <vector>

#include <windows.h>
#include <fcntl.h>

#include "TreeDirectory.h"
#include "Win32Support.h"

#ifndef IO_REPARSE_TAG_MOUNT_POINT
#define IO_REPARSE_TAG_MOUNT_POINT 0xA0000003L
#endif
#ifndef IO_REPARSE_TAG_SYMLINK
#define IO_REPARSE_TAG_SYMLINK 0xA000000CL
#endif

namespace tvkcrypt {

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

// Where the last name of a path starts: after its last separator, or
// after the colon of a drive ("Q:x").
static std::wstring::size_type
LastNameStart(const std::wstring& path)
{
    std::wstring::size_type at = path.find_last_of(L"\\/:");
    return at == std::wstring::npos ? 0 : at + 1;
}

static bool
HasPrefix(const std::wstring& path, const wchar_t* prefix)
{
    return path.compare(0, std::wcslen(prefix), prefix) == 0;
}

// A name without the trailing dots and spaces that Windows drops; a name
// of nothing but those ("..") stays as it is.
static std::wstring
WithoutTrailingDotsAndSpaces(const std::wstring& name)
{
    std::wstring::size_type end = name.find_last_not_of(L". ");
    return end == std::wstring::npos ? name : name.substr(0, end + 1);
}

static bool
SameLetters(const std::wstring& name, const wchar_t* upper)
{
    if (name.size() != std::wcslen(upper)) return false;
    for (std::size_t i = 0; i < name.size(); ++i) {
        wchar_t c = name[i] >= L'a' && name[i] <= L'z' ? static_cast<wchar_t>(name[i] - L'a' + L'A') : name[i];
        if (c != upper[i]) return false;
    }
    return true;
}

// Whether the last name of path is one Windows keeps for a device (the
// part before the first dot, trailing spaces dropped, is CON, PRN, AUX,
// NUL, COM1-9, LPT1-9, COM or LPT with a superscript 1-3, CONIN$ or
// CONOUT$), other than NUL itself. Paths in the \\?\ and \\.\ forms
// name what they name.
static bool
IsDeviceName(const std::wstring& path)
{
    if (HasPrefix(path, L"\\\\?\\") || HasPrefix(path, L"\\\\.\\")) return false;
    const std::wstring name = path.substr(LastNameStart(path));
    if (SameLetters(WithoutTrailingDotsAndSpaces(name), L"NUL")) return false;
    std::wstring base = name.substr(0, name.find(L'.'));
    std::wstring::size_type end = base.find_last_not_of(L' ');
    base.erase(end == std::wstring::npos ? 0 : end + 1);
    static const wchar_t* const kDevices[] = {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"};
    for (const wchar_t* device : kDevices) {
        if (SameLetters(base, device)) return true;
    }
    if (base.size() != 4) return false;
    const wchar_t digit = base[3];
    const bool numbered = (digit >= L'1' && digit <= L'9') || digit == 0x00B9 || digit == 0x00B2 || digit == 0x00B3;
    return numbered && (SameLetters(base.substr(0, 3), L"COM") || SameLetters(base.substr(0, 3), L"LPT"));
}

std::string
CreatedName(const std::string& path)
{
    std::wstring wide;
    if (ToWide(path, wide) != 0 || HasPrefix(wide, L"\\\\?\\")) return path;
    const std::wstring::size_type start = LastNameStart(wide);
    const std::wstring name = WithoutTrailingDotsAndSpaces(wide.substr(start));
    std::string created;
    if (ToUtf8(wide.substr(0, start) + name, created) != 0) return path;
    return created;
}

std::string
DirectoryPartOf(const std::string& path)
{
    std::string::size_type at = path.find_last_of("\\/:");
    return at == std::string::npos ? std::string() : path.substr(0, at + 1);
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
    // "C:" alone would mean that drive's working directory, and "\\?\C:"
    // the volume itself rather than its root folder
    if (!directory.empty() && directory.back() == L':') directory += L'\\';
    if (directory.empty()) directory = full.substr(0, slash + 1);
}

// Where the open link target leads, as the system resolves it, without
// the long-path prefix; the handle is closed.
static SysError
ResolvedPath(HANDLE target, std::string& path)
{
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
    return ToUtf8(resolved, path);
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
    if (IsDeviceName(wide)) return kDeviceName;
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
        std::string target_path;
        if (SysError error = ResolvedPath(target, target_path)) return error;
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

bool
NamesOpenDescriptor(const std::string&, int& descriptor)
{
    descriptor = -1;
    return false;
}

SysError
OutputPlace::LocateIn(const TreeDirectory& directory, const std::string& name)
{
    // no calls relative to a handle here: the name under the directory's
    // path, which the tree holds open against removal meanwhile
    return Locate(directory.PathOf(name), false);
}

bool
OutputPlace::SameNameAs(const OutputPlace& other) const
{
    const bool found = m_Kind == FILE || m_Kind == STREAM || m_Kind == DIRECTORY;
    const bool other_found = other.m_Kind == FILE || other.m_Kind == STREAM || other.m_Kind == DIRECTORY;
    if (found && other_found && m_Found.SameFileAs(other.m_Found)) return true;
    std::wstring name, other_name;
    if (ToWide(m_Name, name) != 0 || ToWide(other.m_Name, other_name) != 0) return false;
    FileInfo directory, other_directory;
    return m_Directory.IsOpen() && other.m_Directory.IsOpen() &&
           CompareStringOrdinal(name.c_str(), -1, other_name.c_str(), -1, TRUE) == CSTR_EQUAL &&
           StatHandle(m_Directory, directory) == 0 && StatHandle(other.m_Directory, other_directory) == 0 &&
           directory.SameFileAs(other_directory);
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

}  // namespace tvkcrypt
