/*****************************************************************
| FileHandle.cpp - POSIX implementation of FileHandle.h: descriptors, and
| reads and writes that cope with short transfers, interruptions and
| descriptors left non-blocking.
****************************************************************/
#ifndef _GNU_SOURCE
#define _GNU_SOURCE 1
#endif

#include "FileHandle.h"

#include <cerrno>
#include <cstdint>
#include <utility>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include "FileStat.h"
#include "NptPlatformFault.h"

namespace tvkcrypt {

/*----------------------------------------------------------------------
|   FileHandle
+---------------------------------------------------------------------*/
SysError
FileHandle::Close()
{
    SysError error = 0;
    if (m_Fd >= 0 && m_Owned) {
        // no retry on EINTR: the descriptor is released either way
        if (NPT_PlatformClose("tool.close", m_Fd) != 0) error = errno;
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
    int fd = NPT_PlatformCall("tool.open-input", [&] { return open(path, O_RDONLY | O_CLOEXEC); });
    if (fd < 0) return errno;
    file = FileHandle(fd, true);
    return 0;
}

SysError
OpenRegularFile(const char* path, FileHandle& file, FileInfo& info)
{
    // non-blocking: opening a FIFO for reading would otherwise wait for
    // a writer, forever
    int fd = NPT_PlatformCall("tool.open-input", [&] {
        return open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    });
    if (fd < 0) return errno;
    return AdoptRegularFile(fd, file, info);
}

SysError
StatHandle(const FileHandle& file, FileInfo& info)
{
    struct stat st;
    if (NPT_PlatformCall("tool.fstat", [&] { return fstat(file.Fd(), &st); }) != 0) return errno;
    FillInfo(st, info);
    return 0;
}

SysError
StatPath(const char* path, FileInfo& info)
{
    struct stat st;
    if (NPT_PlatformCall("tool.stat", [&] { return stat(path, &st); }) != 0) return errno;
    FillInfo(st, info);
    return 0;
}

bool
IsTerminal(const FileHandle& file)
{
    return file.IsOpen() && isatty(file.Fd()) == 1;
}

bool
ReadableByOthers(const FileInfo& info)
{
    return (info.mode & 0044) != 0;
}

void
AdviseSequentialReading(const FileHandle& file)
{
    NPT_PlatformCall("tool.fadvise", [&] {
        int error = posix_fadvise(file.Fd(), 0, 0, POSIX_FADV_SEQUENTIAL);
        if (error == 0) return 0;
        errno = error;
        return -1;
    });
}

SysError
GetPosition(const FileHandle& file, NPT_UInt64& position)
{
    off_t where = NPT_PlatformCall("tool.lseek", [&] { return lseek(file.Fd(), 0, SEEK_CUR); });
    if (where < 0) return errno;
    position = static_cast<NPT_UInt64>(where);
    return 0;
}

SysError
SetPosition(const FileHandle& file, NPT_UInt64 position)
{
    if (position > static_cast<NPT_UInt64>(INT64_MAX)) return EOVERFLOW;
    if (NPT_PlatformCall("tool.lseek", [&] {
            return lseek(file.Fd(), static_cast<off_t>(position), SEEK_SET);
        }) < 0) {
        return errno;
    }
    return 0;
}

/*----------------------------------------------------------------------
|   reading and writing
+---------------------------------------------------------------------*/
// Waits until a descriptor that said EAGAIN (it was left non-blocking by
// whoever handed it to us) is ready again.
static void
WaitReady(int fd, short events)
{
    struct pollfd p = {fd, events, 0};
    NPT_PlatformCall("tool.poll", [&] { return poll(&p, 1, -1); });
}

static bool
DataReady(int fd)
{
    struct pollfd p = {fd, POLLIN, 0};
    return NPT_PlatformCall("tool.poll", [&] { return poll(&p, 1, 0); }) > 0;
}

SysError
ReadSome(const FileHandle& file, void* buffer, std::size_t size, std::size_t& got)
{
    got = 0;
    unsigned char* bytes = static_cast<unsigned char*>(buffer);
    while (got < size) {
        ssize_t n = NPT_PlatformTransfer("tool.read", size - got, [&](std::size_t count) {
            return read(file.Fd(), bytes + got, count);
        });
        if (n < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                if (got > 0) break;
                WaitReady(file.Fd(), POLLIN);
                continue;
            }
            return errno;
        }
        if (n == 0) break;
        got += static_cast<std::size_t>(n);
        if (got < size && !DataReady(file.Fd())) break;
    }
    return 0;
}

SysError
ReadAt(const FileHandle& file, void* buffer, std::size_t size, NPT_UInt64 offset, std::size_t& got)
{
    got = 0;
    unsigned char* bytes = static_cast<unsigned char*>(buffer);
    while (got < size) {
        NPT_UInt64 where = offset + got;
        if (where > static_cast<NPT_UInt64>(INT64_MAX)) return EOVERFLOW;
        ssize_t n = NPT_PlatformTransfer("tool.pread", size - got, [&](std::size_t count) {
            return pread(file.Fd(), bytes + got, count, static_cast<off_t>(where));
        });
        if (n < 0) return errno;
        if (n == 0) break;
        got += static_cast<std::size_t>(n);
    }
    return 0;
}

SysError
WriteAll(const FileHandle& file, const void* buffer, std::size_t size)
{
    const unsigned char* bytes = static_cast<const unsigned char*>(buffer);
    while (size > 0) {
        ssize_t n = NPT_PlatformTransfer("tool.write", size, [&](std::size_t count) {
            return write(file.Fd(), bytes, count);
        });
        if (n < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                WaitReady(file.Fd(), POLLOUT);
                continue;
            }
            return errno;
        }
        if (n == 0) return EIO;
        bytes += n;
        size -= static_cast<std::size_t>(n);
    }
    return 0;
}

SysError
WriteAt(const FileHandle& file, const void* buffer, std::size_t size, NPT_UInt64 offset)
{
    const unsigned char* bytes = static_cast<const unsigned char*>(buffer);
    while (size > 0) {
        if (offset > static_cast<NPT_UInt64>(INT64_MAX)) return EOVERFLOW;
        ssize_t n = NPT_PlatformTransfer("tool.pwrite", size, [&](std::size_t count) {
            return pwrite(file.Fd(), bytes, count, static_cast<off_t>(offset));
        });
        if (n < 0) return errno;
        if (n == 0) return EIO;
        bytes += n;
        offset += static_cast<NPT_UInt64>(n);
        size -= static_cast<std::size_t>(n);
    }
    return 0;
}

void
WriteToStandardError(const std::string& text)
{
    FileHandle err(2, false);
    WriteAll(err, text.data(), text.size());
}

}  // namespace tvkcrypt
