/*****************************************************************
| SourceTree.cpp - the mirrored tree through open directories (POSIX).
****************************************************************/
#include "SourceTree.h"

#include <cerrno>
#include <cstdio>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include "NptPlatformFault.h"
#include "SystemInfo.h"

namespace tvkcrypt {
namespace {

void
FillStat(const struct stat& st, TreeStat& stat)
{
    stat.kind = S_ISREG(st.st_mode) ? TreeStat::REGULAR : S_ISDIR(st.st_mode) ? TreeStat::DIRECTORY : TreeStat::OTHER;
    stat.size = st.st_size > 0 ? static_cast<NPT_UInt64>(st.st_size) : 0;
    stat.inode = static_cast<NPT_UInt64>(st.st_ino);
    stat.device = static_cast<NPT_UInt64>(st.st_dev);
    stat.mode = static_cast<unsigned>(st.st_mode & 07777);
    stat.links = static_cast<NPT_UInt32>(st.st_nlink);
    stat.owner = static_cast<NPT_UInt32>(st.st_uid);
    stat.group = static_cast<NPT_UInt32>(st.st_gid);
    stat.accessed = TreeTime{st.st_atim.tv_sec, st.st_atim.tv_nsec};
    stat.modified = TreeTime{st.st_mtim.tv_sec, st.st_mtim.tv_nsec};
    stat.changed = TreeTime{st.st_ctim.tv_sec, st.st_ctim.tv_nsec};
}

SysError
ResultOf(int status)
{
    return status == 0 ? 0 : errno;
}

// Opens name in directory without following a link there; O_NONBLOCK
// so that a FIFO put there meanwhile cannot hold the caller.
SysError
OpenEntry(int directory, const std::string& name, int flags, int& fd)
{
    fd = NPT_PlatformCall("mount.openat", [&] {
        return openat(directory, name.c_str(), flags | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    });
    if (fd < 0) return errno == ELOOP ? kNotRegular : errno;
    return 0;
}

}  // namespace

SourceDirectory::~SourceDirectory()
{
    if (m_Fd >= 0) NPT_PlatformClose("mount.close", m_Fd);
}

SysError
SourceDirectory::OpenRoot(const std::string& path, std::unique_ptr<SourceDirectory>& root)
{
    int fd = NPT_PlatformCall("mount.open-root", [&] {
        return open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    });
    if (fd < 0) return errno;
    root.reset(new SourceDirectory(fd));
    return 0;
}

SysError
SourceDirectory::OpenChild(const std::string& name, std::unique_ptr<SourceDirectory>& child) const
{
    int fd = -1;
    if (SysError error = OpenEntry(m_Fd, name, O_RDONLY | O_DIRECTORY, fd)) return error;
    child.reset(new SourceDirectory(fd));
    return 0;
}

SysError
SourceDirectory::Stat(TreeStat& stat) const
{
    struct stat st;
    if (NPT_PlatformCall("mount.fstat", [&] { return fstat(m_Fd, &st); }) != 0) return errno;
    FillStat(st, stat);
    return 0;
}

SysError
SourceDirectory::StatAt(const std::string& name, TreeStat& stat) const
{
    struct stat st;
    if (NPT_PlatformCall("mount.fstatat", [&] {
            return fstatat(m_Fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW);
        }) != 0) {
        return errno;
    }
    FillStat(st, stat);
    return 0;
}

SysError
SourceDirectory::List(std::vector<SourceEntry>& entries) const
{
    entries.clear();
    // a descriptor of its own: the directory stream owns and closes it
    int fd = -1;
    if (SysError error = OpenEntry(m_Fd, ".", O_RDONLY | O_DIRECTORY, fd)) return error;
    DIR* stream = fdopendir(fd);
    if (stream == nullptr) {
        SysError error = errno;
        NPT_PlatformClose("mount.close", fd);
        return error;
    }
    errno = 0;
    while (struct dirent* entry = readdir(stream)) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..") continue;
        SourceEntry listed;
        listed.name = name;
        if (entry->d_type == DT_REG) {
            listed.kind = TreeStat::REGULAR;
        } else if (entry->d_type == DT_DIR) {
            listed.kind = TreeStat::DIRECTORY;
        } else if (entry->d_type == DT_UNKNOWN) {
            TreeStat stat;
            if (StatAt(name, stat) == 0) listed.kind = stat.kind;
        }
        entries.push_back(listed);
        errno = 0;
    }
    SysError error = errno;
    closedir(stream);
    return error;
}

SysError
SourceDirectory::OpenFile(const std::string& name, bool write, FileHandle& file) const
{
    int fd = -1;
    if (SysError error = OpenEntry(m_Fd, name, write ? O_RDWR : O_RDONLY, fd)) return error;
    FileHandle opened(fd, true);
    struct stat st;
    if (NPT_PlatformCall("mount.fstat", [&] { return fstat(fd, &st); }) != 0) return errno;
    if (!S_ISREG(st.st_mode)) return kNotRegular;
    // reads and writes wait for the disk, not for a writer
    if (NPT_PlatformCall("mount.fcntl", [&] { return fcntl(fd, F_SETFL, 0); }) != 0) return errno;
    file = std::move(opened);
    return 0;
}

SysError
SourceDirectory::CreateFile(const std::string& name, unsigned mode, FileHandle& file) const
{
    int fd = NPT_PlatformCall("mount.create", [&] {
        return openat(m_Fd, name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                      static_cast<mode_t>(mode & 07777));
    });
    if (fd < 0) return errno;
    file = FileHandle(fd, true);
    return 0;
}

SysError
SourceDirectory::ReplaceFile(const std::string& name, const void* data, std::size_t size, unsigned mode) const
{
    // a hidden name of our own beside the target, never an existing one
    std::string temporary;
    FileHandle file;
    SysError error = EEXIST;
    for (int attempt = 0; attempt < 16 && error == EEXIST; ++attempt) {
        unsigned char random[6];
        if (SysError failure = RandomBytes(random, sizeof(random))) return failure;
        char suffix[16];
        std::snprintf(suffix, sizeof(suffix), "%02x%02x%02x%02x%02x%02x", random[0], random[1], random[2],
                      random[3], random[4], random[5]);
        temporary = "." + name + ".tvkcrypt-" + suffix;
        error = CreateFile(temporary, mode, file);
    }
    if (error) return error;
    error = WriteAt(file, data, size, 0);
    if (!error) error = SyncFile(file);
    if (!error) error = file.Close();
    if (!error) {
        error = ResultOf(NPT_PlatformCall("mount.renameat", [&] {
            return renameat(m_Fd, temporary.c_str(), m_Fd, name.c_str());
        }));
    }
    if (error) {
        Unlink(temporary);
        return error;
    }
    // the rename itself reaches the disk with the directory
    NPT_PlatformCall("mount.fsync-dir", [&] { return fsync(m_Fd); });
    return 0;
}

SysError
SourceDirectory::Unlink(const std::string& name) const
{
    return ResultOf(NPT_PlatformCall("mount.unlinkat", [&] { return unlinkat(m_Fd, name.c_str(), 0); }));
}

SysError
SourceDirectory::MakeDirectory(const std::string& name, unsigned mode) const
{
    return ResultOf(NPT_PlatformCall("mount.mkdirat", [&] {
        return mkdirat(m_Fd, name.c_str(), static_cast<mode_t>(mode & 07777));
    }));
}

SysError
SourceDirectory::RemoveDirectory(const std::string& name) const
{
    return ResultOf(NPT_PlatformCall("mount.rmdir", [&] { return unlinkat(m_Fd, name.c_str(), AT_REMOVEDIR); }));
}

SysError
SourceDirectory::Rename(const std::string& name, const SourceDirectory& to_directory, const std::string& to_name,
                      bool no_replace) const
{
    return ResultOf(NPT_PlatformCall("mount.renameat", [&] {
        return renameat2(m_Fd, name.c_str(), to_directory.m_Fd, to_name.c_str(), no_replace ? RENAME_NOREPLACE : 0);
    }));
}

SysError
SourceDirectory::SetMode(const std::string& name, unsigned mode) const
{
    // fchmodat cannot refuse a link by itself: the entry is held by a
    // descriptor that names it, not its target, and changed through it
    int fd = -1;
    if (SysError error = OpenEntry(m_Fd, name, O_PATH, fd)) return error;
    FileHandle opened(fd, true);
    struct stat st;
    if (NPT_PlatformCall("mount.fstat", [&] { return fstat(fd, &st); }) != 0) return errno;
    if (S_ISLNK(st.st_mode)) return kNotRegular;
    char path[64];
    std::snprintf(path, sizeof(path), "/proc/self/fd/%d", fd);
    return ResultOf(NPT_PlatformCall("mount.chmod", [&] { return chmod(path, static_cast<mode_t>(mode & 07777)); }));
}

SysError
SourceDirectory::SetTimes(const std::string& name, const TreeTime* accessed, const TreeTime* modified) const
{
    struct timespec times[2];
    const TreeTime* given[2] = {accessed, modified};
    for (int i = 0; i < 2; ++i) {
        times[i].tv_sec = given[i] != nullptr ? static_cast<time_t>(given[i]->seconds) : 0;
        times[i].tv_nsec = given[i] != nullptr ? given[i]->nanoseconds : UTIME_NOW;
    }
    return ResultOf(NPT_PlatformCall("mount.utimensat", [&] {
        return utimensat(m_Fd, name.c_str(), times, AT_SYMLINK_NOFOLLOW);
    }));
}

SysError
SourceDirectory::Space(TreeSpace& space) const
{
    struct statvfs st;
    if (NPT_PlatformCall("mount.fstatvfs", [&] { return fstatvfs(m_Fd, &st); }) != 0) return errno;
    space.block_size = st.f_frsize;
    space.blocks = st.f_blocks;
    space.free_blocks = st.f_bfree;
    space.available_blocks = st.f_bavail;
    space.files = st.f_files;
    space.free_files = st.f_ffree;
    space.name_max = st.f_namemax;
    return 0;
}

SysError
StatFile(const FileHandle& file, TreeStat& stat)
{
    struct stat st;
    if (NPT_PlatformCall("mount.fstat", [&] { return fstat(file.Fd(), &st); }) != 0) return errno;
    FillStat(st, stat);
    return 0;
}

SysError
ResizeFile(const FileHandle& file, NPT_UInt64 size)
{
    return ResultOf(NPT_PlatformCall("mount.ftruncate", [&] {
        return ftruncate(file.Fd(), static_cast<off_t>(size));
    }));
}

SysError
SyncFile(const FileHandle& file)
{
    return ResultOf(NPT_PlatformCall("mount.fsync", [&] { return fsync(file.Fd()); }));
}

}  // namespace tvkcrypt
