/*****************************************************************
| TreeDirectory.cpp - POSIX implementation of TreeDirectory.h: openat,
| mkdirat and fdopendir relative to the open directory, with
| O_NOFOLLOW and AT_SYMLINK_NOFOLLOW.
****************************************************************/
#ifndef _GNU_SOURCE
#define _GNU_SOURCE 1
#endif

#include "TreeDirectory.h"

#include <algorithm>
#include <cerrno>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "FileStat.h"
#include "NptPlatformFault.h"

namespace tvkcrypt {

static const int kDirectoryFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;

static TreeEntry::Kind
KindOf(const struct stat& st)
{
    if (S_ISREG(st.st_mode)) return TreeEntry::REGULAR;
    if (S_ISDIR(st.st_mode)) return TreeEntry::DIRECTORY;
    if (S_ISLNK(st.st_mode)) return TreeEntry::LINK;
    return TreeEntry::OTHER;
}

SysError
TreeDirectory::Adopt(FileHandle handle, const std::string& path)
{
    if (SysError error = StatHandle(handle, m_Info)) return error;
    m_Handle = std::move(handle);
    m_Path = path;
    return 0;
}

SysError
TreeDirectory::OpenRoot(const std::string& path)
{
    int fd = NPT_PlatformCall("tool.open-directory", [&] { return open(path.c_str(), kDirectoryFlags); });
    if (fd < 0) return errno;
    return Adopt(FileHandle(fd, true), path);
}

SysError
TreeDirectory::MakeRoot(const std::string& path, unsigned mode)
{
    if (NPT_PlatformCall("tool.mkdir", [&] { return mkdir(path.c_str(), mode); }) != 0 && errno != EEXIST) {
        return errno;
    }
    return OpenRoot(path);
}

std::string
TreeDirectory::PathOf(const std::string& name) const
{
    if (m_Path.empty() || m_Path == ".") return name;
    return m_Path.back() == '/' ? m_Path + name : m_Path + "/" + name;
}

SysError
TreeDirectory::OpenChild(const std::string& name, TreeDirectory& child) const
{
    int fd = NPT_PlatformCall("tool.openat-directory", [&] {
        return openat(m_Handle.Fd(), name.c_str(), kDirectoryFlags | O_NOFOLLOW);
    });
    if (fd < 0) return errno;
    return child.Adopt(FileHandle(fd, true), PathOf(name));
}

SysError
TreeDirectory::MakeChild(const std::string& name, unsigned mode, TreeDirectory& child) const
{
    if (NPT_PlatformCall("tool.mkdirat", [&] { return mkdirat(m_Handle.Fd(), name.c_str(), mode); }) != 0 &&
        errno != EEXIST) {
        return errno;
    }
    SysError error = OpenChild(name, child);
    // something else at the name (a link, a file) is in the way
    return error == ELOOP || error == ENOTDIR ? EEXIST : error;
}

// The kind that a listing tells (false when it tells none).
static bool
KindOfListed(unsigned char type, TreeEntry::Kind& kind)
{
    switch (type) {
        case DT_REG: kind = TreeEntry::REGULAR; return true;
        case DT_DIR: kind = TreeEntry::DIRECTORY; return true;
        case DT_LNK: kind = TreeEntry::LINK; return true;
        case DT_UNKNOWN: return false;
        default: kind = TreeEntry::OTHER; return true;
    }
}

SysError
TreeDirectory::List(std::vector<TreeEntry>& entries, bool sizes) const
{
    entries.clear();
    // a descriptor of its own: closedir closes it
    int fd = NPT_PlatformCall("tool.openat-directory", [&] {
        return openat(m_Handle.Fd(), ".", kDirectoryFlags);
    });
    if (fd < 0) return errno;
    DIR* listing = fdopendir(fd);
    if (listing == nullptr) {
        SysError error = errno;
        close(fd);
        return error;
    }
    SysError error = 0;
    for (;;) {
        errno = 0;
        struct dirent* found = readdir(listing);
        if (found == nullptr) {
            error = errno;
            break;
        }
        const std::string name = found->d_name;
        if (name == "." || name == "..") continue;
        TreeEntry entry;
        bool present = false;
        if (!sizes && KindOfListed(found->d_type, entry.kind)) {
            entry.name = name;
            entries.push_back(entry);
            continue;
        }
        error = Look(name, entry, present);
        if (error) break;
        if (present) entries.push_back(entry);  // gone meanwhile: not listed
    }
    closedir(listing);
    std::sort(entries.begin(), entries.end(),
              [](const TreeEntry& a, const TreeEntry& b) { return a.name < b.name; });
    return error;
}

SysError
TreeDirectory::Look(const std::string& name, TreeEntry& entry, bool& found) const
{
    struct stat st;
    found = false;
    SysError error = StatAt(m_Handle.Fd(), name.c_str(), AT_SYMLINK_NOFOLLOW, st);
    if (error == ENOENT) return 0;
    if (error) return error;
    found = true;
    entry.name = name;
    entry.kind = KindOf(st);
    entry.size = S_ISREG(st.st_mode) && st.st_size > 0 ? static_cast<NPT_UInt64>(st.st_size) : 0;
    return 0;
}

SysError
TreeDirectory::OpenFile(const std::string& name, FileHandle& file, FileInfo& info) const
{
    int fd = NPT_PlatformCall("tool.openat-input", [&] {
        return openat(m_Handle.Fd(), name.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW);
    });
    if (fd < 0) return errno == ELOOP ? kNotRegular : errno;
    return AdoptRegularFile(fd, file, info);
}

}  // namespace tvkcrypt
