/*****************************************************************
| OutputPlace.cpp - POSIX implementation of OutputPlace.h: everything
| relative to the open directory of the output, never through a link
| swapped in at the name.
****************************************************************/
#ifndef _GNU_SOURCE
#define _GNU_SOURCE 1
#endif

#include "OutputPlace.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include "FileStat.h"
#include "TreeDirectory.h"
#include "NptPlatformFault.h"

namespace tvkcrypt {

/*----------------------------------------------------------------------
|   OutputPlace
+---------------------------------------------------------------------*/
static std::string
DirectoryOf(const std::string& path)
{
    std::string::size_type slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

static std::string
BaseOf(const std::string& path)
{
    std::string::size_type slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string
CreatedName(const std::string& path)
{
    return path;
}

std::string
DirectoryPartOf(const std::string& path)
{
    return path.substr(0, path.rfind('/') + 1);
}

// Whether an open directory is in /proc or on the file system of /dev.
static bool
IsSystemDirectory(int directory)
{
    const long kProcMagic = 0x9fa0;
    struct statfs fs;
    if (fstatfs(directory, &fs) == 0 && static_cast<long>(fs.f_type) == kProcMagic) return true;
    struct stat st, dev;
    return fstat(directory, &st) == 0 && stat("/dev", &dev) == 0 && st.st_dev == dev.st_dev;
}

bool
NamesOpenDescriptor(const std::string& path, int& descriptor)
{
    static const char* const kStreams[] = {"/dev/stdin", "/dev/stdout", "/dev/stderr"};
    static const char* const kFolders[] = {"/dev/fd/", "/proc/self/fd/", "/proc/thread-self/fd/"};
    descriptor = -1;
    for (int i = 0; i < 3; ++i) {
        if (path == kStreams[i]) descriptor = i;
    }
    for (const char* folder : kFolders) {
        const std::string prefix(folder);
        if (path.compare(0, prefix.size(), prefix) != 0) continue;
        const std::string number = path.substr(prefix.size());
        if (number.empty() || number.size() > 9 || number.find_first_not_of("0123456789") != std::string::npos) {
            return false;
        }
        descriptor = std::atoi(number.c_str());
    }
    return descriptor >= 0 && fcntl(descriptor, F_GETFD) != -1;
}

SysError
OutputPlace::Locate(const std::string& path, bool follow_symlinks)
{
    m_Kind = MISSING;
    m_Found = FileInfo();
    std::string directory = DirectoryOf(path);
    m_Name = BaseOf(path);
    if (m_Name.empty() || m_Name == "." || m_Name == "..") {
        // "dir/" and the like name a directory, or nothing usable
        m_Directory = FileHandle();
        struct stat st;
        if (NPT_PlatformCall("tool.stat", [&] { return stat(path.c_str(), &st); }) != 0) return errno;
        if (!S_ISDIR(st.st_mode)) return ENOTDIR;
        m_Kind = DIRECTORY;
        return 0;
    }
    // read access lets the directory be synced after the rename; a
    // directory we may only search and write is still usable
    int fd = NPT_PlatformCall("tool.open-directory", [&] {
        return open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    });
    m_DirectorySyncable = fd >= 0;
    if (fd < 0 && errno == EACCES) {
        fd = NPT_PlatformCall("tool.open-directory", [&] {
            return open(directory.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        });
    }
    if (fd < 0) return errno;
    m_Directory = FileHandle(fd, true);
    return LookAtName(path, follow_symlinks);
}

SysError
OutputPlace::LocateIn(const TreeDirectory& directory, const std::string& name)
{
    m_Kind = MISSING;
    m_Found = FileInfo();
    m_Name = name;
    // borrowed: the tree job holds the directory open while the place is used
    m_Directory = FileHandle(directory.Handle().Fd(), false);
    m_DirectorySyncable = true;
    return LookAtName(directory.PathOf(name), false);
}

// What is at m_Name in the open m_Directory, path being how the caller
// names it.
SysError
OutputPlace::LookAtName(const std::string& path, bool follow_symlinks)
{
    const int fd = m_Directory.Fd();
    struct stat st;
    SysError error = StatAt(fd, m_Name.c_str(), AT_SYMLINK_NOFOLLOW, st);
    if (error == ENOENT) return 0;
    if (error) return error;
    if (S_ISLNK(st.st_mode)) {
        struct stat target;
        if (StatAt(fd, m_Name.c_str(), 0, target) == 0 && !S_ISREG(target.st_mode) &&
            !S_ISDIR(target.st_mode)) {
            // a link to a device or FIFO, like /dev/stdout: a stream
            FillInfo(target, m_Found);
            m_Kind = STREAM;
            return 0;
        }
        if (!follow_symlinks) {
            // the links of /dev and /proc serve every process
            if (IsSystemDirectory(fd)) return kSystemLink;
            m_Kind = LINK;
            return 0;
        }
        // write through the link, into the target's own directory, only
        // when nothing on the way could have been planted by someone else
        return LocateLinkTarget(path);
    }
    FillInfo(st, m_Found);
    if (S_ISREG(st.st_mode)) {
        m_Kind = FILE;
    } else if (S_ISDIR(st.st_mode)) {
        m_Kind = DIRECTORY;
    } else {
        m_Kind = STREAM;
    }
    return 0;
}

// Whether a link or the file at the end of the links may be trusted:
// the caller's own, or root's.
static bool
Trusted(const struct stat& st)
{
    return st.st_uid == geteuid() || st.st_uid == 0;
}

// Puts the components of path on top of pending, the first on top.
static void
PushComponents(const std::string& path, std::vector<std::string>& pending)
{
    std::vector<std::string> components;
    std::string::size_type at = 0;
    while (at <= path.size()) {
        std::string::size_type slash = path.find('/', at);
        if (slash == std::string::npos) slash = path.size();
        if (slash > at) components.push_back(path.substr(at, slash - at));
        at = slash + 1;
    }
    pending.insert(pending.end(), components.rbegin(), components.rend());
}

static SysError
OpenPath(int directory, const char* name, int flags, FileHandle& opened)
{
    int fd = NPT_PlatformCall("tool.open-directory",
                              [&] { return openat(directory, name, O_PATH | O_CLOEXEC | flags); });
    if (fd < 0) return errno;
    opened = FileHandle(fd, true);
    return 0;
}

// Resolves path one component at a time, each relative to the directory
// reached so far and opened without following anything: a link on the
// way is opened itself, must be trusted, and its text is read from it
// and walked in its place. Nobody can then steer the walk through a link
// or a directory of theirs to a file of the caller's. Ends in the
// directory that holds the last object, with its name.
SysError
OutputPlace::LocateLinkTarget(const std::string& path)
{
    std::vector<std::string> pending;
    PushComponents(path, pending);
    FileHandle current;
    if (SysError error = OpenPath(AT_FDCWD, path[0] == '/' ? "/" : ".", O_DIRECTORY, current)) return error;
    for (int links = 0; !pending.empty();) {
        const std::string name = pending.back();
        pending.pop_back();
        FileHandle node;
        if (SysError error = OpenPath(current.Fd(), name.c_str(), O_NOFOLLOW, node)) return error;
        struct stat st;
        if (NPT_PlatformCall("tool.fstat", [&] { return fstat(node.Fd(), &st); }) != 0) return errno;
        if (S_ISLNK(st.st_mode)) {
            if (!Trusted(st)) return kNotOwned;
            if (++links > 40) return ELOOP;
            char text[4096];
            ssize_t length = readlinkat(node.Fd(), "", text, sizeof(text));
            if (length < 0) return errno;
            if (static_cast<std::size_t>(length) >= sizeof(text)) return ENAMETOOLONG;
            const std::string target(text, static_cast<std::size_t>(length));
            if (!target.empty() && target[0] == '/') {
                if (SysError error = OpenPath(AT_FDCWD, "/", O_DIRECTORY, current)) return error;
            }
            PushComponents(target, pending);
            continue;
        }
        if (!pending.empty()) {
            if (!S_ISDIR(st.st_mode)) return ENOTDIR;
            current = std::move(node);
            continue;
        }
        // the object at the end: a directory is refused by the caller, a
        // device or FIFO written directly, a file replaced if trusted
        FillInfo(st, m_Found);
        m_Kind = S_ISDIR(st.st_mode) ? DIRECTORY : S_ISREG(st.st_mode) ? FILE : STREAM;
        if (m_Kind == FILE && !Trusted(st)) return kNotOwned;
        m_Name = name;
        // read access lets the directory be synced after the rename
        int fd = NPT_PlatformCall("tool.open-directory", [&] {
            return openat(current.Fd(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        });
        m_DirectorySyncable = fd >= 0;
        m_Directory = fd >= 0 ? FileHandle(fd, true) : std::move(current);
        return 0;
    }
    return ENOENT;
}

bool
OutputPlace::SameNameAs(const OutputPlace& other) const
{
    const bool found = m_Kind == FILE || m_Kind == STREAM || m_Kind == DIRECTORY;
    const bool other_found = other.m_Kind == FILE || other.m_Kind == STREAM || other.m_Kind == DIRECTORY;
    if (found && other_found && m_Found.SameFileAs(other.m_Found)) return true;
    FileInfo directory, other_directory;
    return m_Directory.IsOpen() && other.m_Directory.IsOpen() && m_Name == other.m_Name &&
           StatHandle(m_Directory, directory) == 0 && StatHandle(other.m_Directory, other_directory) == 0 &&
           directory.SameFileAs(other_directory);
}

SysError
OutputPlace::OpenStream(FileHandle& file) const
{
    int fd = NPT_PlatformCall("tool.open-output", [&] {
        return openat(m_Directory.Fd(), m_Name.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
    });
    if (fd < 0) return errno;
    FileHandle opened(fd, true);
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
    int fd = NPT_PlatformCall("tool.open-in-place", [&] {
        return openat(m_Directory.Fd(), m_Name.c_str(), O_WRONLY | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC);
    });
    if (fd < 0) {
        // O_NOFOLLOW met a link: the name was swapped since it was checked
        return errno == ELOOP ? kTargetChanged : errno;
    }
    FileHandle opened(fd, true);
    FileInfo info;
    if (SysError error = StatHandle(opened, info)) return error;
    if (info.kind != FileInfo::REGULAR || !info.SameFileAs(m_Found)) return kTargetChanged;
    file = std::move(opened);
    return 0;
}

SysError
FinishInPlace(const FileHandle& file, NPT_UInt64 size)
{
    if (size > static_cast<NPT_UInt64>(INT64_MAX)) return EFBIG;
    if (NPT_PlatformCall("tool.ftruncate", [&] {
            return ftruncate(file.Fd(), static_cast<off_t>(size));
        }) != 0) {
        return errno;
    }
    if (NPT_PlatformCall("tool.fsync", [&] { return fsync(file.Fd()); }) != 0) return errno;
    return 0;
}

}  // namespace tvkcrypt
