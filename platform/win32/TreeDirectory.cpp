/*****************************************************************
| TreeDirectory.cpp - Windows implementation of TreeDirectory.h:
| names reached under the directory's full path, FindFirstFileW for
| the listing, a reparse point (symbolic link, junction) seen as a link
| and never opened through, and the directory held open meanwhile
| without sharing deletion, so that it cannot be removed or renamed
| away under the job.
****************************************************************/
#include "TreeDirectory.h"

#include <algorithm>
#include <cerrno>

#include <fcntl.h>
#include <windows.h>

#include "Win32Support.h"

namespace tvkcrypt {

static TreeEntry::Kind
KindOfAttributes(DWORD attributes)
{
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return TreeEntry::LINK;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return TreeEntry::DIRECTORY;
    if (attributes & FILE_ATTRIBUTE_DEVICE) return TreeEntry::OTHER;
    return TreeEntry::REGULAR;
}

// Opens the directory at full (UTF-16) path without following a
// reparse point there (ENOTDIR for one, or for a file).
static SysError
HoldDirectory(const std::wstring& full, bool root, FileHandle& held, FileInfo& info)
{
    DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | (root ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
    HANDLE handle = CreateFileW(SystemPath(full).c_str(), FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, flags, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return LastError();
    BY_HANDLE_FILE_INFORMATION details;
    if (!GetFileInformationByHandle(handle, &details)) {
        SysError error = LastError();
        CloseHandle(handle);
        return error;
    }
    if (!(details.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ||
        (!root && (details.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))) {
        CloseHandle(handle);
        return ENOTDIR;
    }
    if (SysError error = InfoOfHandle(handle, info)) {
        CloseHandle(handle);
        return error;
    }
    return Adopt(handle, _O_RDONLY, held);
}

SysError
TreeDirectory::Adopt(FileHandle handle, const std::string& path)
{
    m_Handle = std::move(handle);
    m_Path = path;
    return 0;
}

SysError
TreeDirectory::OpenRoot(const std::string& path)
{
    std::wstring wide, full;
    if (SysError error = ToWide(path, wide)) return error;
    if (wide.empty()) return ENOENT;
    if (SysError error = FullPath(wide, full)) return error;
    FileHandle held;
    if (SysError error = HoldDirectory(full, true, held, m_Info)) return error;
    return Adopt(std::move(held), path);
}

SysError
TreeDirectory::MakeRoot(const std::string& path, unsigned)
{
    std::wstring wide, full;
    if (SysError error = ToWide(path, wide)) return error;
    if (wide.empty()) return ENOENT;
    if (SysError error = FullPath(wide, full)) return error;
    if (!CreateDirectoryW(SystemPath(full).c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
        return LastError();
    }
    return OpenRoot(path);
}

std::string
TreeDirectory::PathOf(const std::string& name) const
{
    if (m_Path.empty() || m_Path == ".") return name;
    const char last = m_Path.back();
    return last == '/' || last == '\\' || last == ':' ? m_Path + name : m_Path + "\\" + name;
}

SysError
TreeDirectory::OpenChild(const std::string& name, TreeDirectory& child) const
{
    std::wstring full;
    if (SysError error = PathIn(m_Path, name, full)) return error;
    FileHandle held;
    if (SysError error = HoldDirectory(full, false, held, child.m_Info)) return error;
    return child.Adopt(std::move(held), PathOf(name));
}

SysError
TreeDirectory::MakeChild(const std::string& name, unsigned, TreeDirectory& child) const
{
    std::wstring full;
    if (SysError error = PathIn(m_Path, name, full)) return error;
    if (!CreateDirectoryW(SystemPath(full).c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
        return LastError();
    }
    SysError error = OpenChild(name, child);
    return error == ENOTDIR ? EEXIST : error;
}

SysError
TreeDirectory::List(std::vector<TreeEntry>& entries, bool) const
{
    // the listing brings the sizes at no cost
    entries.clear();
    std::wstring pattern;
    if (SysError error = PathIn(m_Path, "*", pattern)) return error;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(SystemPath(pattern).c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        return GetLastError() == ERROR_FILE_NOT_FOUND ? 0 : LastError();
    }
    SysError error = 0;
    do {
        std::string name;
        if (ToUtf8(found.cFileName, name) != 0 || name == "." || name == "..") continue;
        TreeEntry entry;
        entry.name = name;
        entry.kind = KindOfAttributes(found.dwFileAttributes);
        entry.size = (static_cast<NPT_UInt64>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
        entries.push_back(entry);
    } while (FindNextFileW(search, &found));
    if (GetLastError() != ERROR_NO_MORE_FILES) error = LastError();
    FindClose(search);
    std::sort(entries.begin(), entries.end(),
              [](const TreeEntry& a, const TreeEntry& b) { return a.name < b.name; });
    return error;
}

SysError
TreeDirectory::Look(const std::string& name, TreeEntry& entry, bool& found) const
{
    found = false;
    std::wstring full;
    if (SysError error = PathIn(m_Path, name, full)) return error;
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(SystemPath(full).c_str(), GetFileExInfoStandard, &data)) {
        DWORD code = GetLastError();
        return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND ? 0 : FromWin32(code);
    }
    found = true;
    entry.name = name;
    entry.kind = KindOfAttributes(data.dwFileAttributes);
    entry.size = (static_cast<NPT_UInt64>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    return 0;
}

SysError
TreeDirectory::OpenFile(const std::string& name, FileHandle& file, FileInfo& info) const
{
    std::wstring full;
    if (SysError error = PathIn(m_Path, name, full)) return error;
    HANDLE handle = CreateFileW(SystemPath(full).c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                nullptr);
    if (handle == INVALID_HANDLE_VALUE) return LastError();
    BY_HANDLE_FILE_INFORMATION details;
    const bool link = GetFileInformationByHandle(handle, &details) &&
                      (details.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
    FileHandle opened;
    if (SysError error = tvkcrypt::Adopt(handle, _O_RDONLY, opened)) return error;
    if (link) return kNotRegular;
    if (SysError error = StatHandle(opened, info)) return error;
    if (info.kind != FileInfo::REGULAR) return kNotRegular;
    file = std::move(opened);
    return 0;
}

}  // namespace tvkcrypt
