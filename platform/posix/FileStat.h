/*****************************************************************
| FileStat.h - what the POSIX services share about stat(2): its result
| as a FileInfo, and a stat of a name in an open directory.
|
| Internal to this folder. Inline, no state; any thread.
****************************************************************/
#ifndef TVKCRYPT_POSIX_FILE_STAT_H
#define TVKCRYPT_POSIX_FILE_STAT_H

#include <cerrno>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>

#include "FileHandle.h"
#include "NptPlatformFault.h"
#include "SysError.h"

namespace tvkcrypt {

inline void
FillInfo(const struct stat& st, FileInfo& info)
{
    if (S_ISREG(st.st_mode)) {
        info.kind = FileInfo::REGULAR;
    } else if (S_ISDIR(st.st_mode)) {
        info.kind = FileInfo::DIRECTORY;
    } else {
        info.kind = FileInfo::OTHER;
    }
    info.block_device = S_ISBLK(st.st_mode);
    info.size = st.st_size > 0 ? static_cast<NPT_UInt64>(st.st_size) : 0;
    info.device = static_cast<NPT_UInt64>(st.st_dev);
    info.inode = static_cast<NPT_UInt64>(st.st_ino);
    info.mode = static_cast<unsigned>(st.st_mode & 07777);
    info.owner = static_cast<NPT_UInt32>(st.st_uid);
    info.group = static_cast<NPT_UInt32>(st.st_gid);
}

inline SysError
StatAt(int directory, const char* name, int flags, struct stat& st)
{
    if (NPT_PlatformCall("tool.fstatat", [&] { return fstatat(directory, name, &st, flags); }) != 0) {
        return errno;
    }
    return 0;
}

// Takes fd, opened for reading with O_NONBLOCK (so that a FIFO is not
// waited on): anything but a regular file is refused (kNotRegular), and
// a regular one is read without the flag from then on (some file
// systems pass it on to their own reads).
inline SysError
AdoptRegularFile(int fd, FileHandle& file, FileInfo& info)
{
    FileHandle opened(fd, true);
    struct stat st;
    if (NPT_PlatformCall("tool.fstat", [&] { return fstat(fd, &st); }) != 0) return errno;
    FillInfo(st, info);
    if (info.kind != FileInfo::REGULAR) return kNotRegular;
    if (NPT_PlatformCall("tool.fcntl", [&] { return fcntl(fd, F_SETFL, O_RDONLY); }) != 0) return errno;
    file = std::move(opened);
    return 0;
}

}  // namespace tvkcrypt

#endif  // TVKCRYPT_POSIX_FILE_STAT_H
