/*****************************************************************
| TvkToolPlatform.cpp - POSIX implementation of the tvkcrypt tool's
| system services (declared in FileHandle.h, OutputPlace.h, TempOutput.h,
| Terminal.h, Signals.h, Hardening.h and SystemInfo.h). It lives in the platform
| folder so that the library and the tool share one place per operating
| system for everything that includes system headers; it is linked into
| the tool only, not into libtvkcrypto.
****************************************************************/
#ifndef _GNU_SOURCE
#define _GNU_SOURCE 1
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
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/random.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <termios.h>
#include <unistd.h>

#include "NptPlatformFault.h"
#include "NptWipe.h"

#ifndef RENAME_NOREPLACE
#define RENAME_NOREPLACE (1 << 0)
#endif
#ifndef RENAME_EXCHANGE
#define RENAME_EXCHANGE (1 << 1)
#endif

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

static void
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

SysError
StatHandle(const FileHandle& file, FileInfo& info)
{
    struct stat st;
    if (NPT_PlatformCall("tool.fstat", [&] { return fstat(file.Fd(), &st); }) != 0) return errno;
    FillInfo(st, info);
    return 0;
}

bool
IsTerminal(const FileHandle& file)
{
    return file.IsOpen() && isatty(file.Fd()) == 1;
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

std::vector<std::string>
CommandLineArguments(int argc, char** argv)
{
    return std::vector<std::string>(argv, argv + argc);
}

void
WriteToStandardError(const std::string& text)
{
    FileHandle err(2, false);
    WriteAll(err, text.data(), text.size());
}

/*----------------------------------------------------------------------
|   state shared with the signal handlers
|
|   The handlers may only touch async-signal-safe things: the directory
|   descriptor and fixed buffer with the name of a named temporary and
|   a flag telling whether they are valid, and the terminal descriptor
|   with its saved settings.
+---------------------------------------------------------------------*/
// two slots: an encrypted output and its check file may both be named
// temporaries at once
static const int          kTempSlots = 2;
static char               g_TempName[kTempSlots][256];
static std::atomic<int>   g_TempDirectory[kTempSlots] = {{-1}, {-1}};
static std::atomic<bool>  g_TempNameSet[kTempSlots] = {{false}, {false}};
static struct termios     g_SavedTerminal;
static std::atomic<int>   g_TerminalFd{-1};

extern "C" void
TvkcryptOnTerminatingSignal(int signal_number)
{
    int saved_errno = errno;
    for (int slot = 0; slot < kTempSlots; ++slot) {
        if (g_TempNameSet[slot].load()) unlinkat(g_TempDirectory[slot].load(), g_TempName[slot], 0);
    }
    int tty = g_TerminalFd.load();
    if (tty >= 0) {
        tcsetattr(tty, TCSANOW, &g_SavedTerminal);
        ssize_t ignored = write(tty, "\n", 1);
        (void)ignored;
    }
    errno = saved_errno;
    // die of the same signal, so that the parent sees why
    signal(signal_number, SIG_DFL);
    raise(signal_number);
}

void
GuardStandardDescriptors()
{
    const int modes[3] = {O_WRONLY, O_RDONLY, O_WRONLY};
    for (int fd = 0; fd < 3; ++fd) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        int opened = open("/dev/null", modes[fd]);
        if (opened >= 0 && opened != fd) {
            dup2(opened, fd);
            close(opened);
        }
    }
}

void
InstallSignalHandlers()
{
    signal(SIGPIPE, SIG_IGN);
    signal(SIGXFSZ, SIG_IGN);
    struct sigaction action;
    std::memset(&action, 0, sizeof(action));
    action.sa_handler = TvkcryptOnTerminatingSignal;
    sigemptyset(&action.sa_mask);
    sigaddset(&action.sa_mask, SIGINT);
    sigaddset(&action.sa_mask, SIGTERM);
    sigaddset(&action.sa_mask, SIGHUP);
    sigaddset(&action.sa_mask, SIGQUIT);
    const int signals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
    for (int s : signals) {
        struct sigaction previous;
        // a signal ignored by whoever started us (nohup) stays ignored
        if (sigaction(s, nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN) continue;
        sigaction(s, &action, nullptr);
    }
}

// Blocks the terminating signals on this thread while a critical step
// runs (the rename and the forgetting of the temporary's name).
class SignalBlock
{
public:
    SignalBlock() {
        sigset_t set;
        sigemptyset(&set);
        sigaddset(&set, SIGINT);
        sigaddset(&set, SIGTERM);
        sigaddset(&set, SIGHUP);
        sigaddset(&set, SIGQUIT);
        pthread_sigmask(SIG_BLOCK, &set, &m_Previous);
    }
    ~SignalBlock() { pthread_sigmask(SIG_SETMASK, &m_Previous, nullptr); }
    SignalBlock(const SignalBlock&) = delete;
    SignalBlock& operator=(const SignalBlock&) = delete;

private:
    sigset_t m_Previous;
};

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

static SysError
StatAt(int directory, const char* name, int flags, struct stat& st)
{
    if (NPT_PlatformCall("tool.fstatat", [&] { return fstatat(directory, name, &st, flags); }) != 0) {
        return errno;
    }
    return 0;
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
            m_Kind = LINK;
            return 0;
        }
        // write through the link, into the target's own directory, only
        // when neither could have been planted by someone else
        const uid_t self = geteuid();
        if (st.st_uid != self) return kNotOwned;
        char* resolved = realpath(path.c_str(), nullptr);
        if (resolved == nullptr) return errno;
        std::string target_path(resolved);
        std::free(resolved);
        return LocateLinkTarget(target_path);
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

SysError
OutputPlace::LocateLinkTarget(const std::string& target_path)
{
    m_Name = BaseOf(target_path);
    std::string directory = DirectoryOf(target_path);
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
    struct stat st;
    if (SysError error = StatAt(fd, m_Name.c_str(), AT_SYMLINK_NOFOLLOW, st)) return error;
    FillInfo(st, m_Found);
    if (S_ISDIR(st.st_mode)) {
        m_Kind = DIRECTORY;
        return 0;
    }
    // realpath leaves no link at the end; anything else was swapped in
    if (!S_ISREG(st.st_mode)) return kTargetChanged;
    if (st.st_uid != geteuid()) return kNotOwned;
    m_Kind = FILE;
    return 0;
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

/*----------------------------------------------------------------------
|   TempOutput
+---------------------------------------------------------------------*/
// A fresh hidden name beside the target: ".NAME.tvkcrypt-XXXXXX".
static std::string
TemporaryName(const std::string& target, unsigned attempt)
{
    static std::atomic<unsigned> counter{0};
    std::string base = target;
    // keep the name within the usual 255-byte limit of one path component
    if (base.size() > 200) base.resize(200);
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    unsigned long long seed = static_cast<unsigned long long>(now.tv_nsec) ^
                              (static_cast<unsigned long long>(getpid()) << 20) ^
                              (static_cast<unsigned long long>(counter++) << 40) ^ attempt;
    static const char letters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::string suffix;
    for (int i = 0; i < 6; ++i) {
        seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
        suffix += letters[(seed >> 33) % (sizeof(letters) - 1)];
    }
    return "." + base + ".tvkcrypt-" + suffix;
}

// Records a named temporary for the signal handlers in a free slot, -1
// when none is free; call with the terminating signals blocked.
static int
RememberTemporary(int directory, const std::string& name)
{
    for (int slot = 0; slot < kTempSlots; ++slot) {
        if (g_TempNameSet[slot].load() || name.size() >= sizeof(g_TempName[slot])) continue;
        std::memcpy(g_TempName[slot], name.c_str(), name.size() + 1);
        g_TempDirectory[slot].store(directory);
        g_TempNameSet[slot].store(true);
        return slot;
    }
    return -1;
}

static void
ForgetTemporary(int& slot)
{
    if (slot >= 0) g_TempNameSet[slot].store(false);
    slot = -1;
}

SysError
TempOutput::Create(const OutputPlace& place)
{
    Discard();
    m_Place = &place;
    const int directory = place.m_Directory.Fd();
    SignalBlock block;
    // an unnamed file needs a way to name it at the end: linkat through
    // /proc (or AT_EMPTY_PATH, which takes a privilege)
    if (access("/proc/self/fd", X_OK) == 0) {
        int fd = NPT_PlatformCall("tool.open-temp", [&] {
            return openat(directory, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
        });
        if (fd >= 0) {
            m_File = FileHandle(fd, true);
            return 0;
        }
        // file systems without unnamed files say so in several ways
        if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL && errno != ENOENT) {
            return errno;
        }
    }
    for (unsigned attempt = 0;; ++attempt) {
        std::string name = TemporaryName(place.m_Name, attempt);
        int fd = NPT_PlatformCall("tool.open-temp-named", [&] {
            return openat(directory, name.c_str(),
                          O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        });
        if (fd < 0) {
            if (errno == EEXIST && attempt < 100) continue;
            return errno;
        }
        m_File = FileHandle(fd, true);
        m_Name = name;
        m_Slot = RememberTemporary(directory, name);
        return 0;
    }
}

// Gives an unnamed temporary a hidden name, so that it can take the
// target's place by rename. Call with the terminating signals blocked.
SysError
TempOutput::GiveName(std::string& name)
{
    const int directory = m_Place->m_Directory.Fd();
    for (unsigned attempt = 0;; ++attempt) {
        name = TemporaryName(m_Place->m_Name, attempt);
        std::string self = "/proc/self/fd/" + std::to_string(m_File.Fd());
        int result = NPT_PlatformCall("tool.linkat", [&] {
            return linkat(AT_FDCWD, self.c_str(), directory, name.c_str(), AT_SYMLINK_FOLLOW);
        });
        if (result == 0) {
            m_Name = name;
            m_Slot = RememberTemporary(directory, name);
            return 0;
        }
        if (errno != EEXIST || attempt >= 100) return errno;
    }
}

// Renames from to to within directory unless to exists (EEXIST then), in
// one atomic step, so that a file created at to after it was checked is
// never replaced. Where the file system has no such rename, a hard link
// does the same (link fails on an existing name) and the old name goes.
static SysError
RenameNoReplace(int directory, const std::string& from, const char* to, SysError& leftover_error)
{
    leftover_error = 0;
    if (NPT_PlatformCall("tool.renameat2", [&] {
            return static_cast<int>(syscall(SYS_renameat2, directory, from.c_str(), directory, to,
                                            RENAME_NOREPLACE));
        }) == 0) {
        return 0;
    }
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) return errno;
    if (NPT_PlatformCall("tool.linkat", [&] {
            return linkat(directory, from.c_str(), directory, to, 0);
        }) != 0) {
        return errno;
    }
    if (NPT_PlatformCall("tool.unlinkat", [&] { return unlinkat(directory, from.c_str(), 0); }) != 0) {
        leftover_error = errno;
    }
    return 0;
}

// Puts the named temporary at the place's name, replacing whatever is
// there; the output takes the permissions and owner of a regular file it
// replaces. Call with the terminating signals blocked.
SysError
TempOutput::Replace(const std::string& name)
{
    const int directory = m_Place->m_Directory.Fd();
    const char* target = m_Place->m_Name.c_str();
    // hold the object at the name open while it is replaced: its inode
    // number cannot then be reused by anything swapped in meanwhile
    FileHandle held;
    struct stat old;
    SysError error = 0;
    int fd = NPT_PlatformCall("tool.open-replaced", [&] {
        return openat(directory, target, O_PATH | O_NOFOLLOW | O_CLOEXEC);
    });
    if (fd < 0) {
        error = errno;
    } else {
        held = FileHandle(fd, true);
        if (NPT_PlatformCall("tool.fstat", [&] { return fstat(fd, &old); }) != 0) error = errno;
    }
    // gone meanwhile: the name is free again, and stays free for nobody
    if (error == ENOENT) {
        error = RenameNoReplace(directory, name, target, m_LeftoverError);
        if (!error && m_LeftoverError) m_Leftover = name;
        return error;
    }
    if (error) return error;
    if (S_ISREG(old.st_mode)) {
        // best effort: only root may give a file away
        NPT_PlatformCall("tool.fchown", [&] { return fchown(m_File.Fd(), old.st_uid, old.st_gid); });
        if (NPT_PlatformCall("tool.fchmod", [&] {
                return fchmod(m_File.Fd(), old.st_mode & 07777);
            }) != 0) {
            return errno;
        }
    }
    // swap the two names in one step, then make sure that what left the
    // target's name is the file whose owner and mode were taken: if the
    // name was swapped meanwhile, swap back and touch nothing
    int exchanged = NPT_PlatformCall("tool.renameat2", [&] {
        return static_cast<int>(syscall(SYS_renameat2, directory, name.c_str(), directory, target,
                                        RENAME_EXCHANGE));
    });
    if (exchanged == 0) {
        struct stat gone;
        error = StatAt(directory, name.c_str(), AT_SYMLINK_NOFOLLOW, gone);
        if (error || gone.st_dev != old.st_dev || gone.st_ino != old.st_ino) {
            NPT_PlatformCall("tool.renameat2", [&] {
                return static_cast<int>(syscall(SYS_renameat2, directory, name.c_str(), directory,
                                                target, RENAME_EXCHANGE));
            });
            return kTargetChanged;
        }
        // the old file now has the temporary's name
        if (NPT_PlatformCall("tool.unlinkat", [&] { return unlinkat(directory, name.c_str(), 0); }) != 0) {
            m_LeftoverError = errno;
            m_Leftover = name;
        }
        return 0;
    }
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) return errno;
    // no exchange on this file system: check again just before a plain
    // rename, which still never leaves this directory
    struct stat now;
    error = StatAt(directory, target, AT_SYMLINK_NOFOLLOW, now);
    if (error) return error;
    if (now.st_dev != old.st_dev || now.st_ino != old.st_ino) return kTargetChanged;
    if (NPT_PlatformCall("tool.renameat", [&] {
            return renameat(directory, name.c_str(), directory, target);
        }) != 0) {
        return errno;
    }
    return 0;
}

SysError
TempOutput::Commit(unsigned new_mode, bool replace)
{
    if (!m_File.IsOpen() || m_Place == nullptr) return EBADF;
    m_Leftover.clear();
    m_LeftoverError = 0;
    const int directory = m_Place->m_Directory.Fd();
    const bool syncable = m_Place->m_DirectorySyncable;
    const char* target = m_Place->m_Name.c_str();
    if (NPT_PlatformCall("tool.fchmod", [&] {
            return fchmod(m_File.Fd(), static_cast<mode_t>(new_mode & 07777));
        }) != 0) {
        return errno;
    }
    if (NPT_PlatformCall("tool.fsync", [&] { return fsync(m_File.Fd()); }) != 0) return errno;
    {
        SignalBlock block;
        SysError error = 0;
        if (!replace && m_Name.empty()) {
            // an unnamed file gets the name only if it is still free
            std::string self = "/proc/self/fd/" + std::to_string(m_File.Fd());
            if (NPT_PlatformCall("tool.linkat", [&] {
                    return linkat(AT_FDCWD, self.c_str(), directory, target, AT_SYMLINK_FOLLOW);
                }) != 0) {
                error = errno;
            }
        } else {
            std::string name = m_Name;
            if (name.empty()) error = GiveName(name);
            if (!error && replace) {
                error = Replace(name);
            } else if (!error) {
                error = RenameNoReplace(directory, name, target, m_LeftoverError);
                if (!error && m_LeftoverError) m_Leftover = name;
            }
            if (!error) {
                ForgetTemporary(m_Slot);
                m_Name.clear();
            }
        }
        if (error) return error;
    }
    // the name is in place. fsync has reported any write error already,
    // so a late one from close is not worth undoing a finished replace
    m_File.Close();
    m_Place = nullptr;
    // make the rename itself durable. The target is already replaced, so
    // a failure here is only reported (a directory we may not open for
    // reading, or a file system that cannot sync one, EINVAL, is not a
    // failure)
    m_DirectorySyncError = 0;
    if (syncable && NPT_PlatformCall("tool.fsync-directory", [&] { return fsync(directory); }) != 0 &&
        errno != EINVAL) {
        m_DirectorySyncError = errno;
    }
    return 0;
}

void
TempOutput::Discard()
{
    m_File.Close();
    if (!m_Name.empty() && m_Place != nullptr) {
        SignalBlock block;
        const int directory = m_Place->m_Directory.Fd();
        NPT_PlatformCall("tool.unlinkat", [&] { return unlinkat(directory, m_Name.c_str(), 0); });
        ForgetTemporary(m_Slot);
    }
    m_Name.clear();
    m_Place = nullptr;
}

SysError
TempOutput::Sync()
{
    if (!m_File.IsOpen()) return EBADF;
    if (NPT_PlatformCall("tool.fsync", [&] { return fsync(m_File.Fd()); }) != 0) return errno;
    return 0;
}

// Gives the file at the place's name a second, hidden name, so that it
// can be put back; kept stays empty when there is nothing at the name.
static SysError
KeepAside(int directory, const std::string& name, std::string& kept)
{
    kept.clear();
    for (unsigned attempt = 0;; ++attempt) {
        std::string aside = TemporaryName(name, attempt);
        if (NPT_PlatformCall("tool.linkat", [&] {
                return linkat(directory, name.c_str(), directory, aside.c_str(), 0);
            }) == 0) {
            kept = aside;
            return 0;
        }
        if (errno == ENOENT) return 0;
        if (errno != EEXIST || attempt >= 100) return errno;
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
    const int directory = first_place.m_Directory.Fd();
    const std::string& name = first_place.m_Name;
    SignalBlock block;
    std::string kept;
    SysError error = 0;
    if (first_replace) error = KeepAside(directory, name, kept);
    if (!error) error = first.Commit(0600, first_replace);
    if (error) {
        first_failed = true;
        if (!kept.empty()) {
            NPT_PlatformCall("tool.unlinkat", [&] { return unlinkat(directory, kept.c_str(), 0); });
        }
        return error;
    }
    error = second.Commit(second_mode, second_replace);
    if (error) {
        // the first name goes back to what it was; when even that
        // fails, leftover tells the caller where the old file is
        if (!kept.empty()) {
            if (NPT_PlatformCall("tool.renameat", [&] {
                    return renameat(directory, kept.c_str(), directory, name.c_str());
                }) != 0) {
                leftover = kept;
                leftover_error = errno;
            }
        } else if (NPT_PlatformCall("tool.unlinkat", [&] { return unlinkat(directory, name.c_str(), 0); }) != 0) {
            leftover_error = errno;
        }
        return error;
    }
    if (!kept.empty() &&
        NPT_PlatformCall("tool.unlinkat", [&] { return unlinkat(directory, kept.c_str(), 0); }) != 0) {
        leftover = kept;
        leftover_error = errno;
    }
    return 0;
}

SysError
RandomBytes(void* buffer, std::size_t size)
{
    unsigned char* bytes = static_cast<unsigned char*>(buffer);
    while (size > 0) {
        ssize_t n = NPT_PlatformCall("tool.getrandom", [&] { return getrandom(bytes, size, 0); });
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        bytes += n;
        size -= static_cast<std::size_t>(n);
    }
    return 0;
}

/*----------------------------------------------------------------------
|   secrets
+---------------------------------------------------------------------*/
void
DisableCoreDumps()
{
    struct rlimit none = {0, 0};
    setrlimit(RLIMIT_CORE, &none);
    prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
}

// Whole pages, so that the advice and the lock cover nothing else.
static std::size_t
PageRounded(std::size_t size)
{
    long page = sysconf(_SC_PAGESIZE);
    std::size_t unit = page > 0 ? static_cast<std::size_t>(page) : 4096;
    return (size + unit - 1) / unit * unit;
}

void*
AllocateSecretMemory(std::size_t size)
{
    std::size_t length = PageRounded(size == 0 ? 1 : size);
    void* memory = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (memory == MAP_FAILED) return nullptr;
    // both are best effort: a kernel without MADV_DONTDUMP still has
    // core dumps turned off, and mlock is limited for unprivileged users
    madvise(memory, length, MADV_DONTDUMP);
    mlock(memory, length);
    return memory;
}

void
FreeSecretMemory(void* memory, std::size_t size)
{
    if (memory == nullptr) return;
    std::size_t length = PageRounded(size == 0 ? 1 : size);
    NPT_WipeMemory(memory, length);
    munlock(memory, length);
    munmap(memory, length);
}

/*----------------------------------------------------------------------
|   Terminal
+---------------------------------------------------------------------*/
SysError
Terminal::Open()
{
    int fd = NPT_PlatformCall("tool.open-terminal", [] {
        return open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    });
    if (fd < 0) return errno;
    m_Tty = FileHandle(fd, true);
    return 0;
}

void
Terminal::Write(const std::string& text)
{
    WriteAll(m_Tty, text.data(), text.size());
}

SysError
Terminal::ReadSecretLine(const char* prompt, char* buffer, std::size_t capacity,
                         std::size_t& length, bool& too_long, bool& no_input)
{
    length = 0;
    too_long = false;
    no_input = false;
    int fd = m_Tty.Fd();
    struct termios saved;
    if (NPT_PlatformCall("tool.tcgetattr", [&] { return tcgetattr(fd, &saved); }) != 0) return errno;
    struct termios quiet = saved;
    quiet.c_lflag &= static_cast<tcflag_t>(~(ECHO | ECHOE | ECHOK | ECHONL));
    {
        SignalBlock block;
        g_SavedTerminal = saved;
        g_TerminalFd.store(fd);
    }
    // echo goes off before the prompt shows: whatever is typed after the
    // prompt is kept, only earlier typeahead is discarded
    SysError error = 0;
    if (NPT_PlatformCall("tool.tcsetattr", [&] { return tcsetattr(fd, TCSAFLUSH, &quiet); }) != 0) {
        error = errno;
    }
    // a prompt that did not show would leave the user before a silent
    // wait: that is a failure to ask
    if (!error) error = WriteAll(m_Tty, prompt, std::strlen(prompt));

    bool line_done = false;
    bool any_byte = false;
    char overflow[256];
    while (!error && !line_done) {
        char* into = length < capacity ? buffer + length : overflow;
        std::size_t room = length < capacity ? capacity - length : sizeof(overflow);
        ssize_t n = NPT_PlatformTransfer("tool.read-terminal", room, [&](std::size_t count) {
            return read(fd, into, count);
        });
        if (n < 0) {
            error = errno;
            break;
        }
        if (n == 0) {  // end of input (Ctrl-D)
            no_input = !any_byte;
            break;
        }
        any_byte = true;
        std::size_t count = static_cast<std::size_t>(n);
        char* newline = static_cast<char*>(std::memchr(into, '\n', count));
        if (newline != nullptr) {
            count = static_cast<std::size_t>(newline - into);
            line_done = true;
        }
        if (into == buffer + length) {
            length += count;
        } else if (count > 0) {
            too_long = true;
        }
    }
    NPT_WipeMemory(overflow, sizeof(overflow));
    if (length > capacity) length = capacity;
    if (length > 0 && buffer[length - 1] == '\r') --length;

    // the way back stays off the fault switch, as in the signal handler:
    // the echo must come back whatever failed before
    tcsetattr(fd, TCSANOW, &saved);
    {
        SignalBlock block;
        g_TerminalFd.store(-1);
    }
    Write("\n");
    return error;
}

/*----------------------------------------------------------------------
|   terminal width
+---------------------------------------------------------------------*/
static std::atomic<bool> g_TerminalResized{false};

extern "C" void
TvkcryptOnWindowChange(int)
{
    g_TerminalResized.store(true);
}

unsigned
TerminalColumns(const FileHandle& file)
{
    struct winsize size;
    std::memset(&size, 0, sizeof(size));
    if (NPT_PlatformCall("tool.ioctl-winsize", [&] { return ioctl(file.Fd(), TIOCGWINSZ, &size); }) != 0) {
        return 0;
    }
    return size.ws_col;
}

void
WatchTerminalSize()
{
    struct sigaction action;
    std::memset(&action, 0, sizeof(action));
    action.sa_handler = TvkcryptOnWindowChange;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    sigaction(SIGWINCH, &action, nullptr);
}

bool
TerminalResized()
{
    return g_TerminalResized.exchange(false);
}

/*----------------------------------------------------------------------
|   time and processors
+---------------------------------------------------------------------*/
double
MonotonicSeconds()
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

unsigned
ProcessorCount()
{
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof(set), &set) == 0) {
        int count = CPU_COUNT(&set);
        if (count > 0) return static_cast<unsigned>(count);
    }
    long online = sysconf(_SC_NPROCESSORS_ONLN);
    return online > 0 ? static_cast<unsigned>(online) : 1;
}

}  // namespace tvkcrypt
