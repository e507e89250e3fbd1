/*****************************************************************
| NptPosixPlatform.cpp - the file layer's operating-system functions on
| Linux. See NptPlatform.h for the contract of each.
****************************************************************/
#ifndef _GNU_SOURCE
#define _GNU_SOURCE 1
#endif
#ifndef _FILE_OFFSET_BITS
#define _FILE_OFFSET_BITS 64
#endif

#include "NptPlatform.h"

#include "NptPlatformFault.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <unistd.h>

#ifndef RENAME_NOREPLACE
#define RENAME_NOREPLACE (1 << 0)
#endif

namespace {

// The open of NPT_PlatformOpenFile: through the fault switch, retried
// when interrupted by a signal.
template <typename Call>
auto RetryOnInterrupt(Call call) -> decltype(call())
{
    return NPT_PlatformCall("files.open", call);
}

// Closes fd while keeping the errno of the failure that led here.
void CloseKeepingErrno(int fd)
{
    int error = errno;
    NPT_PlatformClose("files.close", fd);
    errno = error;
}

// Calls that return a pointer (null with errno on failure) through the
// fault switch; short and interrupted faults do not apply to them.
template <typename Call>
auto PointerCall(const char* site, Call call) -> decltype(call())
{
    NPT_PlatformFaultAction fault = NPT_PlatformFault(site);
    if (fault.kind == NPT_PLATFORM_FAULT_FAIL) {
        errno = fault.error;
        return nullptr;
    }
    return call();
}

// Takes the sharing lock on an open regular file: 0, or the errno
// (EBUSY when another open description holds a conflicting lock).
int LockForSharing(int fd, bool exclusive)
{
    struct flock lock = {};
    lock.l_type   = exclusive ? F_WRLCK : F_RDLCK;
    lock.l_whence = SEEK_SET;
    lock.l_start  = 0;
    lock.l_len    = 0;  // the whole file, however long it grows
    lock.l_pid    = 0;  // required for open-file-description locks
    if (NPT_PlatformCall("files.lock", [&] { return fcntl(fd, F_OFD_SETLK, &lock); }) == 0) return 0;
    switch (errno) {
        case EAGAIN:
        case EACCES:
            return EBUSY;
        case EINVAL:      // kernel without open-file-description locks
        case ENOSYS:
        case EOPNOTSUPP:  // file system without lock support
            return 0;     // the file opens unlocked
        default:
            return errno;
    }
}

} // namespace

/*----------------------------------------------------------------------
|   opening files
+---------------------------------------------------------------------*/
std::FILE* NPT_PlatformOpenFile(const char* path, NPT_PlatformOpenKind kind)
{
    if (path == nullptr) {
        errno = EINVAL;
        return nullptr;
    }

    int         flags       = O_CLOEXEC | O_NOCTTY;
    const char* stream_mode = "rb";
    bool        exclusive   = true;
    switch (kind) {
        case NPT_PLATFORM_OPEN_READ:
            flags |= O_RDONLY;
            stream_mode = "rb";
            exclusive = false;
            break;
        case NPT_PLATFORM_OPEN_READ_WRITE:
            flags |= O_RDWR;
            stream_mode = "r+b";
            break;
        case NPT_PLATFORM_OPEN_CREATE_TRUNCATE:
            // No O_TRUNC: the file is cut only once the lock is held.
            flags |= O_RDWR | O_CREAT;
            stream_mode = "r+b";
            break;
        case NPT_PLATFORM_OPEN_APPEND:
            flags |= O_RDWR | O_CREAT | O_APPEND;
            stream_mode = "a+b";
            break;
        default:
            errno = EINVAL;
            return nullptr;
    }

    // a new output may receive decrypted data: its owner's alone
    const mode_t create_mode = kind == NPT_PLATFORM_OPEN_CREATE_TRUNCATE ? 0600 : 0666;
    int fd = RetryOnInterrupt([&] { return open(path, flags, create_mode); });
    if (fd < 0) return nullptr;

    struct stat info;
    if (NPT_PlatformCall("files.fstat", [&] { return fstat(fd, &info); }) != 0) {
        CloseKeepingErrno(fd);
        return nullptr;
    }
    if (S_ISDIR(info.st_mode)) {
        NPT_PlatformClose("files.close", fd);
        errno = EISDIR;
        return nullptr;
    }
    if (S_ISREG(info.st_mode)) {
        int error = LockForSharing(fd, exclusive);
        if (error != 0) {
            NPT_PlatformClose("files.close", fd);
            errno = error;
            return nullptr;
        }
        if (kind == NPT_PLATFORM_OPEN_CREATE_TRUNCATE &&
            NPT_PlatformCall("files.ftruncate", [&] { return ftruncate(fd, 0); }) != 0) {
            CloseKeepingErrno(fd);
            return nullptr;
        }
    }

    std::FILE* file = PointerCall("files.fdopen", [&] { return fdopen(fd, stream_mode); });
    if (file == nullptr) CloseKeepingErrno(fd);
    return file;
}

std::FILE* NPT_PlatformStandardInput()  { return stdin; }
std::FILE* NPT_PlatformStandardOutput() { return stdout; }
std::FILE* NPT_PlatformStandardError()  { return stderr; }

bool NPT_PlatformIsTerminal(std::FILE* file)
{
    int fd = fileno(file);
    return fd >= 0 && isatty(fd) == 1;
}

int NPT_PlatformSeek(std::FILE* file, NPT_Position position)
{
    if (position > static_cast<NPT_Position>(INT64_MAX)) return EOVERFLOW;
    if (NPT_PlatformCall("files.fseeko", [&] {
            return fseeko(file, static_cast<off_t>(position), SEEK_SET);
        }) != 0) {
        return errno ? errno : EIO;
    }
    return 0;
}

NPT_Int64 NPT_PlatformTell(std::FILE* file)
{
    return static_cast<NPT_Int64>(NPT_PlatformCall("files.ftello", [&] { return ftello(file); }));
}

std::size_t NPT_PlatformReadFile(std::FILE* file, void* buffer, std::size_t size)
{
    for (;;) {
        NPT_PlatformFaultAction fault = NPT_PlatformFault("files.fread");
        if (fault.kind == NPT_PLATFORM_FAULT_FAIL) {
            errno = fault.error;
            return 0;
        }
        if (fault.kind == NPT_PLATFORM_FAULT_INTERRUPT) continue;
        std::size_t count = size;
        if (fault.kind == NPT_PLATFORM_FAULT_SHORT && count > 1) count /= 2;
        errno = 0;
        std::size_t got = std::fread(buffer, 1, count, file);
        if (got == 0 && std::ferror(file) && errno == EINTR) {
            // nothing was lost: ask again
            std::clearerr(file);
            continue;
        }
        return got;
    }
}

std::size_t NPT_PlatformWriteFile(std::FILE* file, const void* data, std::size_t size)
{
    for (;;) {
        NPT_PlatformFaultAction fault = NPT_PlatformFault("files.fwrite");
        if (fault.kind == NPT_PLATFORM_FAULT_FAIL) {
            errno = fault.error;
            return 0;
        }
        if (fault.kind == NPT_PLATFORM_FAULT_INTERRUPT) continue;
        std::size_t count = size;
        if (fault.kind == NPT_PLATFORM_FAULT_SHORT && count > 1) count /= 2;
        return std::fwrite(data, 1, count, file);
    }
}

int NPT_PlatformFlushFile(std::FILE* file)
{
    return NPT_PlatformCall("files.fflush", [&] {
        int result = std::fflush(file);
        if (result != 0 && errno == EINTR) std::clearerr(file);
        return result;
    });
}

int NPT_PlatformCloseFile(std::FILE* file)
{
    NPT_PlatformFaultAction fault = NPT_PlatformFault("files.fclose");
    int result = std::fclose(file);
    if (fault.kind == NPT_PLATFORM_FAULT_FAIL) {
        errno = fault.error;
        return EOF;
    }
    return result;
}

/*----------------------------------------------------------------------
|   file information
+---------------------------------------------------------------------*/
namespace {

NPT_PlatformFileStat::Type TypeOfMode(mode_t mode)
{
    if (S_ISREG(mode)) return NPT_PlatformFileStat::TYPE_REGULAR;
    if (S_ISDIR(mode)) return NPT_PlatformFileStat::TYPE_DIRECTORY;
    return NPT_PlatformFileStat::TYPE_OTHER;
}

} // namespace

int NPT_PlatformGetFileStat(const char* path, NPT_PlatformFileStat& result)
{
    if (path == nullptr) return EINVAL;

#ifdef STATX_BTIME
    struct statx extended;
    if (NPT_PlatformCall("files.statx", [&] {
            return statx(AT_FDCWD, path, AT_STATX_SYNC_AS_STAT, STATX_BASIC_STATS | STATX_BTIME,
                         &extended);
        }) == 0) {
        result.type           = TypeOfMode(extended.stx_mode);
        result.size           = extended.stx_size;
        result.owner_writable = (extended.stx_mode & S_IWUSR) != 0;
        result.creation_seconds = (extended.stx_mask & STATX_BTIME)
                                      ? extended.stx_btime.tv_sec
                                      : extended.stx_ctime.tv_sec;
        result.modification_seconds = extended.stx_mtime.tv_sec;
        return 0;
    }
    // Where statx itself is unavailable (old kernels, filtered system
    // calls) stat answers; any other error is the answer.
    if (errno != ENOSYS && errno != EPERM) return errno;
#endif

    struct stat info;
    if (NPT_PlatformCall("files.stat", [&] { return stat(path, &info); }) != 0) return errno;
    result.type                 = TypeOfMode(info.st_mode);
    result.size                 = static_cast<NPT_UInt64>(info.st_size);
    result.owner_writable       = (info.st_mode & S_IWUSR) != 0;
    result.creation_seconds     = info.st_ctime;
    result.modification_seconds = info.st_mtime;
    return 0;
}

int NPT_PlatformGetWorkingDirectory(NPT_String& path)
{
    // glibc sizes the buffer itself when given none.
    char* directory = PointerCall("files.getcwd", [] { return getcwd(nullptr, 0); });
    if (directory == nullptr) return errno ? errno : ENOMEM;
    path = directory;
    std::free(directory);
    return 0;
}

/*----------------------------------------------------------------------
|   directories, removal, renaming
+---------------------------------------------------------------------*/
int NPT_PlatformMakeDirectory(const char* path)
{
    if (path == nullptr) return EINVAL;
    return NPT_PlatformCall("files.mkdir", [&] { return mkdir(path, 0777); }) == 0 ? 0 : errno;
}

int NPT_PlatformDeleteDirectory(const char* path)
{
    if (path == nullptr) return EINVAL;
    if (NPT_PlatformCall("files.rmdir", [&] { return rmdir(path); }) == 0) return 0;
    // POSIX lets rmdir report a directory that is not empty as EEXIST.
    return errno == EEXIST ? ENOTEMPTY : errno;
}

int NPT_PlatformRemoveFile(const char* path)
{
    if (path == nullptr) return EINVAL;
    if (NPT_PlatformCall("files.unlink", [&] { return unlink(path); }) == 0) return 0;
    // Linux says EISDIR where POSIX says EPERM: a directory is not a file
    // to remove.
    return errno == EISDIR ? EPERM : errno;
}

int NPT_PlatformRename(const char* from_path, const char* to_path)
{
    if (from_path == nullptr || to_path == nullptr) return EINVAL;

#ifdef SYS_renameat2
    if (NPT_PlatformCall("files.renameat2", [&] {
            return syscall(SYS_renameat2, AT_FDCWD, from_path, AT_FDCWD, to_path, RENAME_NOREPLACE);
        }) == 0) {
        return 0;
    }
    if (errno != EINVAL && errno != ENOSYS) return errno;
    // EINVAL: the file system does not support RENAME_NOREPLACE (or the
    // move itself is invalid, which the fallback reports again).
#endif

    // A file: a second name that cannot replace anything, then the old
    // name goes.
    if (NPT_PlatformCall("files.link", [&] { return link(from_path, to_path); }) == 0) {
        if (NPT_PlatformCall("files.unlink", [&] { return unlink(from_path); }) == 0) return 0;
        int error = errno;
        NPT_PlatformCall("files.unlink", [&] { return unlink(to_path); });
        return error;
    }
    if (errno != EPERM) return errno;  // EEXIST among them

    // link refuses directories (and some file systems refuse it for
    // everything): move by rename once the target is known to be absent.
    struct stat target;
    if (NPT_PlatformCall("files.lstat", [&] { return lstat(to_path, &target); }) == 0) return EEXIST;
    if (errno != ENOENT) return errno;
    return NPT_PlatformCall("files.rename", [&] { return rename(from_path, to_path); }) == 0 ? 0
                                                                                           : errno;
}

/*----------------------------------------------------------------------
|   directory listing
+---------------------------------------------------------------------*/
class NPT_PlatformDirectory
{
public:
    explicit NPT_PlatformDirectory(DIR* handle) : m_Handle(handle) {}
    ~NPT_PlatformDirectory() { closedir(m_Handle); }
    NPT_PlatformDirectory(const NPT_PlatformDirectory&) = delete;
    NPT_PlatformDirectory& operator=(const NPT_PlatformDirectory&) = delete;

    DIR* m_Handle;
};

int NPT_PlatformOpenDirectory(const char* path, NPT_PlatformDirectory*& directory)
{
    directory = nullptr;
    if (path == nullptr) return EINVAL;
    DIR* handle = PointerCall("files.opendir", [&] { return opendir(path); });
    if (handle == nullptr) return errno;
    directory = new NPT_PlatformDirectory(handle);
    return 0;
}

int NPT_PlatformReadDirectory(NPT_PlatformDirectory* directory, const char*& name)
{
    name = nullptr;
    if (directory == nullptr) return EINVAL;
    NPT_PlatformFaultAction fault = NPT_PlatformFault("files.readdir");
    if (fault.kind == NPT_PLATFORM_FAULT_FAIL) return fault.error;
    errno = 0;
    struct dirent* entry = readdir(directory->m_Handle);
    if (entry == nullptr) return errno;  // 0 at the end of the listing
    name = entry->d_name;
    return 0;
}

void NPT_PlatformCloseDirectory(NPT_PlatformDirectory* directory)
{
    delete directory;
}
