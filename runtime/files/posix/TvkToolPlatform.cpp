/*****************************************************************
| TvkToolPlatform.cpp - POSIX implementation of the tvkcrypt tool's
| system services (declared in tools/tvkcrypt/Platform.h). It lives in
| the platform folder so that the library and the tool share one place
| per operating system for everything that includes system headers; it
| is linked into the tool only, not into libtvkcrypto.
****************************************************************/
#include "Platform.h"

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
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include "NptWipe.h"

namespace tvkcrypt {

/*----------------------------------------------------------------------
|   error words
+---------------------------------------------------------------------*/
std::string
ErrorText(SysError error)
{
    switch (error) {
        case ENOENT:       return "no such file";
        case EACCES:       return "permission denied";
        case EPERM:        return "operation not permitted";
        case EISDIR:       return "is a directory";
        case ENOTDIR:      return "not a directory";
        case ENOSPC:       return "no space left on device";
        case EDQUOT:       return "disk quota exceeded";
        case EFBIG:        return "file too large";
        case EPIPE:        return "broken pipe";
        case EIO:          return "input/output error";
        case EROFS:        return "read-only file system";
        case ENAMETOOLONG: return "file name too long";
        case ELOOP:        return "too many levels of symbolic links";
        case EMFILE:
        case ENFILE:       return "too many open files";
        case ENXIO:        return "no such device or address";
        case EEXIST:       return "file exists";
        case ENOMEM:       return "out of memory";
        default: break;
    }
    std::string text = std::strerror(error);
    if (!text.empty()) text[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
    return text;
}

/*----------------------------------------------------------------------
|   FileHandle
+---------------------------------------------------------------------*/
FileHandle::~FileHandle()
{
    Close();
}

FileHandle::FileHandle(FileHandle&& other) noexcept
    : m_Fd(other.m_Fd), m_Owned(other.m_Owned)
{
    other.m_Fd = -1;
    other.m_Owned = false;
}

FileHandle&
FileHandle::operator=(FileHandle&& other) noexcept
{
    if (this != &other) {
        Close();
        m_Fd = other.m_Fd;
        m_Owned = other.m_Owned;
        other.m_Fd = -1;
        other.m_Owned = false;
    }
    return *this;
}

SysError
FileHandle::Close()
{
    SysError error = 0;
    if (m_Fd >= 0 && m_Owned) {
        // no retry on EINTR: the descriptor is released either way
        if (close(m_Fd) != 0 && errno != EINTR) error = errno;
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
    int fd;
    do {
        fd = open(path, O_RDONLY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return errno;
    file = FileHandle(fd, true);
    return 0;
}

SysError
OpenExistingForWriting(const char* path, FileHandle& file)
{
    int fd;
    do {
        fd = open(path, O_WRONLY | O_CLOEXEC | O_NOCTTY);
    } while (fd < 0 && errno == EINTR);
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
    if (fstat(file.Fd(), &st) != 0) return errno;
    FillInfo(st, info);
    return 0;
}

SysError
StatPath(const char* path, FileInfo& info)
{
    struct stat st;
    if (stat(path, &st) != 0) return errno;
    FillInfo(st, info);
    return 0;
}

std::string
ResolvePath(const std::string& path)
{
    char* resolved = realpath(path.c_str(), nullptr);
    if (resolved == nullptr) return path;
    std::string result(resolved);
    std::free(resolved);
    return result;
}

bool
IsTerminal(const FileHandle& file)
{
    return file.IsOpen() && isatty(file.Fd()) == 1;
}

void
AdviseSequentialReading(const FileHandle& file)
{
    posix_fadvise(file.Fd(), 0, 0, POSIX_FADV_SEQUENTIAL);
}

SysError
GetPosition(const FileHandle& file, NPT_UInt64& position)
{
    off_t where = lseek(file.Fd(), 0, SEEK_CUR);
    if (where < 0) return errno;
    position = static_cast<NPT_UInt64>(where);
    return 0;
}

SysError
SetPosition(const FileHandle& file, NPT_UInt64 position)
{
    if (position > static_cast<NPT_UInt64>(INT64_MAX)) return EOVERFLOW;
    if (lseek(file.Fd(), static_cast<off_t>(position), SEEK_SET) < 0) return errno;
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
    while (poll(&p, 1, -1) < 0 && errno == EINTR) {
    }
}

static bool
DataReady(int fd)
{
    struct pollfd p = {fd, POLLIN, 0};
    int n;
    do {
        n = poll(&p, 1, 0);
    } while (n < 0 && errno == EINTR);
    return n > 0;
}

SysError
ReadSome(const FileHandle& file, void* buffer, std::size_t size, std::size_t& got)
{
    got = 0;
    unsigned char* bytes = static_cast<unsigned char*>(buffer);
    while (got < size) {
        ssize_t n = read(file.Fd(), bytes + got, size - got);
        if (n < 0) {
            if (errno == EINTR) continue;
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
        ssize_t n = pread(file.Fd(), bytes + got, size - got, static_cast<off_t>(where));
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
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
        ssize_t n = write(file.Fd(), bytes, size);
        if (n < 0) {
            if (errno == EINTR) continue;
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
        ssize_t n = pwrite(file.Fd(), bytes, size, static_cast<off_t>(offset));
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
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

/*----------------------------------------------------------------------
|   state shared with the signal handlers
|
|   The handlers may only touch async-signal-safe things: a fixed
|   buffer with the temporary's path and a flag telling whether it is
|   valid, and the terminal descriptor with its saved settings.
+---------------------------------------------------------------------*/
static char               g_TempPath[8192];
static std::atomic<bool>  g_TempPathSet{false};
static struct termios     g_SavedTerminal;
static std::atomic<int>   g_TerminalFd{-1};

extern "C" void
TvkcryptOnTerminatingSignal(int signal_number)
{
    int saved_errno = errno;
    if (g_TempPathSet.load()) unlink(g_TempPath);
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
|   TempOutput
+---------------------------------------------------------------------*/
static std::string
DirectoryOf(const std::string& path)
{
    std::string::size_type slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

SysError
TempOutput::Create(const std::string& target)
{
    Discard();
    std::string directory = DirectoryOf(target);
    std::string::size_type slash = target.rfind('/');
    std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
    // keep the name within the usual 255-byte limit of one path component
    if (base.size() > 200) base.resize(200);
    std::string pattern = directory + "/." + base + ".tvkcrypt-XXXXXX";

    std::string path = pattern;
    SignalBlock block;
    int fd = mkostemp(&path[0], O_CLOEXEC);
    if (fd < 0) return errno;
    m_File = FileHandle(fd, true);
    m_Path = path;
    m_Target = target;
    if (path.size() < sizeof(g_TempPath)) {
        std::memcpy(g_TempPath, path.c_str(), path.size() + 1);
        g_TempPathSet.store(true);
    }
    return 0;
}

// Renames from to to unless to exists (EEXIST then), in one atomic step,
// so that a file created at to after it was checked is never replaced.
// Where the file system has no such rename, a hard link does the same
// (link fails on an existing name) and the old name is removed.
static SysError
RenameNoReplace(const std::string& from, const std::string& to)
{
    if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) return errno;
    if (link(from.c_str(), to.c_str()) != 0) return errno;
    unlink(from.c_str());
    return 0;
}

SysError
TempOutput::Commit(unsigned mode, const FileInfo* replaced)
{
    if (m_Path.empty()) return EBADF;
    if (replaced != nullptr) {
        // best effort: only root may give a file away
        int ignored = fchown(m_File.Fd(), static_cast<uid_t>(replaced->owner),
                             static_cast<gid_t>(replaced->group));
        (void)ignored;
    }
    if (fchmod(m_File.Fd(), static_cast<mode_t>(mode & 07777)) != 0) return errno;
    if (fsync(m_File.Fd()) != 0) return errno;
    SysError error = m_File.Close();
    if (error) return error;
    {
        SignalBlock block;
        if (replaced != nullptr) {
            if (rename(m_Path.c_str(), m_Target.c_str()) != 0) return errno;
        } else if (SysError failure = RenameNoReplace(m_Path, m_Target)) {
            return failure;
        }
        g_TempPathSet.store(false);
        m_Path.clear();
    }
    // make the rename itself durable. The target is already replaced, so
    // a failure here is only reported (a directory we may not open for
    // reading, or a file system that cannot sync one, EINVAL, is not a
    // failure)
    m_DirectorySyncError = 0;
    int dir = open(DirectoryOf(m_Target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        if (fsync(dir) != 0 && errno != EINVAL) m_DirectorySyncError = errno;
        close(dir);
    }
    return 0;
}

void
TempOutput::Discard()
{
    m_File.Close();
    if (!m_Path.empty()) {
        SignalBlock block;
        unlink(m_Path.c_str());
        g_TempPathSet.store(false);
        m_Path.clear();
    }
}

/*----------------------------------------------------------------------
|   Terminal
+---------------------------------------------------------------------*/
SysError
Terminal::Open()
{
    int fd;
    do {
        fd = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
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
    if (tcgetattr(fd, &saved) != 0) return errno;
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
    if (tcsetattr(fd, TCSAFLUSH, &quiet) != 0) error = errno;
    Write(prompt);

    bool line_done = false;
    bool any_byte = false;
    char overflow[256];
    while (!error && !line_done) {
        char* into = length < capacity ? buffer + length : overflow;
        std::size_t room = length < capacity ? capacity - length : sizeof(overflow);
        ssize_t n = read(fd, into, room);
        if (n < 0) {
            if (errno == EINTR) continue;
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

    tcsetattr(fd, TCSANOW, &saved);
    {
        SignalBlock block;
        g_TerminalFd.store(-1);
    }
    Write("\n");
    return error;
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
