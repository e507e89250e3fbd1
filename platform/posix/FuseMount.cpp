/*****************************************************************
| FuseMount.cpp - MountedTree served through FUSE 3 (libfuse's
| high-level interface, multi-threaded loop). Built without FUSE
| (TVK_HAVE_FUSE not defined), mounting is refused with the package to
| install.
****************************************************************/
#include "FuseMount.h"

#include <cerrno>
#include <csignal>
#include <climits>
#include <cstdio>
#include <cstring>
#include <new>

#include <atomic>
#include <chrono>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <syslog.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#ifdef TVK_HAVE_FUSE
#define FUSE_USE_VERSION 31
#include <fuse.h>
#endif

#include "FileHandle.h"
#include "NptPlatformFault.h"

extern char** environ;

namespace tvkcrypt {
namespace {

// set once the mount has detached from the terminal
std::atomic<bool> g_Detached{false};

}  // namespace

void
MountLog(const std::string& line)
{
    if (!g_Detached) {
        WriteToStandardError("tvkcrypt: " + line + "\n");
        return;
    }
    syslog(LOG_USER | LOG_WARNING, "%s", line.c_str());
}

SysError
CheckMountPoint(const std::string& mountpoint, std::string& error)
{
    const std::string quoted = "'" + mountpoint + "'";
    struct stat st, parent;
    if (stat(mountpoint.c_str(), &st) != 0) {
        const SysError failure = errno;
        if (failure == ENOENT) {
            error = "the mount point " + quoted + " does not exist: create it first (mkdir)";
        } else if (failure == ENOTCONN) {
            error = "the mount point " + quoted + " is a mount that is no longer served: unmount it first "
                    "(fusermount3 -u)";
        } else {
            error = "cannot reach the mount point " + quoted + ": " + ErrorText(failure);
        }
        return failure;
    }
    if (!S_ISDIR(st.st_mode)) {
        error = "the mount point " + quoted + " is not a directory: give an empty directory";
        return ENOTDIR;
    }
    const std::string above = mountpoint + "/..";
    if (stat(above.c_str(), &parent) == 0 && (parent.st_dev != st.st_dev || parent.st_ino == st.st_ino)) {
        error = "the mount point " + quoted + " is already a mount point: unmount it first "
                "(tvkcrypt unmount) or choose another directory";
        return EBUSY;
    }
    std::unique_ptr<SourceDirectory> directory;
    std::vector<SourceEntry> entries;
    SysError failure = SourceDirectory::OpenRoot(mountpoint, directory);
    if (!failure) failure = directory->List(entries);
    if (failure) {
        error = "cannot read the mount point " + quoted + ": " + ErrorText(failure);
        return failure;
    }
    if (!entries.empty()) {
        error = "the mount point " + quoted + " is not empty: mount on an empty directory";
        return ENOTEMPTY;
    }
    if (access("/dev/fuse", F_OK) != 0) {
        error = "there is no /dev/fuse on this system: load the fuse module (modprobe fuse), or give a "
                "container the device (--device /dev/fuse)";
        return ENODEV;
    }
    if (access("/dev/fuse", R_OK | W_OK) != 0 && geteuid() != 0) {
        error = "no permission to use /dev/fuse: install fuse3 (apt-get install fuse3), whose fusermount3 "
                "mounts for users";
        return EACCES;
    }
    return 0;
}

namespace {

// The name of the attribute of a mount's root that holds its process id.
const char kProcessAttribute[] = "user.tvkcrypt.pid";

// Runs fusermount3 -u (-z when lazy) on mountpoint: 0, or -1 with error
// set when it cannot run, or its exit status. quiet: its messages go
// nowhere.
int
RunFusermount(const std::string& mountpoint, bool lazy, bool quiet, std::string& error)
{
    std::vector<const char*> argv = {"fusermount3", "-u"};
    if (lazy) argv.push_back("-z");
    argv.insert(argv.end(), {"--", mountpoint.c_str(), nullptr});
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (quiet) posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t child = 0;
    const int status = posix_spawnp(&child, "fusermount3", &actions, nullptr, const_cast<char* const*>(argv.data()),
                                    environ);
    posix_spawn_file_actions_destroy(&actions);
    if (status != 0) {
        error = status == ENOENT ? "fusermount3 is not installed: apt-get install fuse3"
                                 : "cannot run fusermount3: " + ErrorText(status);
        return -1;
    }
    int waited = 0;
    while (waitpid(child, &waited, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(waited) ? WEXITSTATUS(waited) : 128;
}

// A process descriptor of the process serving the mount at mountpoint,
// as the mount tells it; -1 when it does not (not a tvkcrypt mount).
int
MountProcess(const std::string& mountpoint)
{
    char text[32] = {};
    const ssize_t size = getxattr(mountpoint.c_str(), kProcessAttribute, text, sizeof(text) - 1);
    if (size <= 0) return -1;
    char* end = nullptr;
    const long pid = std::strtol(text, &end, 10);
    if (end != text + size || pid <= 0) return -1;
    return static_cast<int>(syscall(SYS_pidfd_open, static_cast<pid_t>(pid), 0));
}

}  // namespace

bool
Unmount(const std::string& mountpoint, double wait_seconds, UnmountEnd& end, std::string& error)
{
    end = UnmountEnd::UNKNOWN;
    const int process = MountProcess(mountpoint);
    // at once when nothing is open; lazily otherwise
    int status = RunFusermount(mountpoint, false, true, error);
    if (status > 0) {
        status = RunFusermount(mountpoint, true, false, error);
        if (status == 0) end = UnmountEnd::FILES_OPEN;
    }
    if (status != 0) {
        if (status > 0) error = "fusermount3 could not unmount '" + mountpoint + "'";
        if (process >= 0) close(process);
        return false;
    }
    if (process >= 0 && end != UnmountEnd::FILES_OPEN) {
        struct pollfd watch = {process, POLLIN, 0};
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(wait_seconds);
        end = UnmountEnd::TIMED_OUT;
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now()).count();
            const int ready = poll(&watch, 1, left > 0 ? static_cast<int>(left) : 0);
            if (ready > 0) end = UnmountEnd::FINISHED;
            if (ready >= 0 || errno != EINTR) break;
        }
    }
    if (process >= 0) close(process);
    return true;
}

#ifndef TVK_HAVE_FUSE

bool
MountSupported()
{
    return false;
}

bool
RunMount(const MountSettings&, MountedTree&, const std::function<void()>&, std::string& error)
{
    error = "this tvkcrypt was built without FUSE 3: install it (apt-get install libfuse3-dev) and build again";
    return false;
}

#else

namespace {

MountedTree&
Tree()
{
    return *static_cast<MountedTree*>(fuse_get_context()->private_data);
}

// Runs an operation of the tree: its error negated, as FUSE wants it,
// and no exception into the C library.
template <class Operation>
int
Serve(Operation operation)
{
    try {
        const SysError error = operation();
        return error > 0 ? -error : error == 0 ? 0 : -EIO;
    } catch (const std::bad_alloc&) {
        return -ENOMEM;
    } catch (...) {
        return -EIO;
    }
}

void
FillStat(const TreeStat& from, struct stat& st)
{
    std::memset(&st, 0, sizeof(st));
    st.st_mode = static_cast<mode_t>((from.kind == TreeStat::DIRECTORY ? S_IFDIR : S_IFREG) | from.mode);
    st.st_nlink = from.links;
    st.st_uid = from.owner;
    st.st_gid = from.group;
    st.st_size = static_cast<off_t>(from.size);
    st.st_blksize = 1 << 20;  // programs that size their reads by it (cat, cp) ask for 1 MiB
    st.st_blocks = static_cast<blkcnt_t>((from.size + 511) / 512);
    st.st_atim.tv_sec = static_cast<time_t>(from.accessed.seconds);
    st.st_atim.tv_nsec = from.accessed.nanoseconds;
    st.st_mtim.tv_sec = static_cast<time_t>(from.modified.seconds);
    st.st_mtim.tv_nsec = from.modified.nanoseconds;
    st.st_ctim.tv_sec = static_cast<time_t>(from.changed.seconds);
    st.st_ctim.tv_nsec = from.changed.nanoseconds;
}

int
DoGetAttr(const char* path, struct stat* st, struct fuse_file_info*)
{
    return Serve([&] {
        TreeStat stat;
        SysError error = Tree().GetAttributes(path == nullptr ? "" : path, stat);
        if (!error) FillStat(stat, *st);
        return error;
    });
}

int
DoReadDir(const char* path, void* buffer, fuse_fill_dir_t fill, off_t, struct fuse_file_info*,
          enum fuse_readdir_flags)
{
    return Serve([&] {
        std::vector<SourceEntry> entries;
        SysError error = Tree().List(path, entries);
        if (error) return error;
        fill(buffer, ".", nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
        fill(buffer, "..", nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
        for (const SourceEntry& entry : entries) {
            if (fill(buffer, entry.name.c_str(), nullptr, 0, static_cast<fuse_fill_dir_flags>(0)) != 0) break;
        }
        return SysError(0);
    });
}

int
DoOpen(const char* path, struct fuse_file_info* info)
{
    return Serve([&] {
        const int access = info->flags & O_ACCMODE;
        NPT_UInt64 handle = 0;
        SysError error = Tree().Open(path, access != O_RDONLY, (info->flags & O_TRUNC) != 0, handle);
        if (!error) info->fh = handle;
        return error;
    });
}

int
DoCreate(const char* path, mode_t mode, struct fuse_file_info* info)
{
    return Serve([&] {
        NPT_UInt64 handle = 0;
        SysError error = Tree().Create(path, static_cast<unsigned>(mode & 07777), handle);
        if (!error) info->fh = handle;
        return error;
    });
}

int
DoRead(const char*, char* buffer, size_t size, off_t offset, struct fuse_file_info* info)
{
    std::size_t got = 0;
    int result = Serve([&] {
        return Tree().Read(info->fh, static_cast<NPT_UInt64>(offset), buffer, size, got);
    });
    return result < 0 ? result : static_cast<int>(got);
}

int
DoWrite(const char*, const char* data, size_t size, off_t offset, struct fuse_file_info* info)
{
    int result = Serve([&] { return Tree().Write(info->fh, static_cast<NPT_UInt64>(offset), data, size); });
    return result < 0 ? result : static_cast<int>(size);
}

int
DoFlush(const char*, struct fuse_file_info* info)
{
    return Serve([&] { return Tree().Flush(info->fh, false); });
}

int
DoFsync(const char*, int, struct fuse_file_info* info)
{
    return Serve([&] { return Tree().Flush(info->fh, true); });
}

int
DoRelease(const char*, struct fuse_file_info* info)
{
    return Serve([&] { return Tree().Release(info->fh); });
}

int
DoTruncate(const char* path, off_t size, struct fuse_file_info*)
{
    if (size < 0) return -EINVAL;
    return Serve([&] { return Tree().Resize(path, static_cast<NPT_UInt64>(size)); });
}

int
DoUnlink(const char* path)
{
    return Serve([&] { return Tree().Unlink(path); });
}

int
DoMkdir(const char* path, mode_t mode)
{
    return Serve([&] { return Tree().MakeDirectory(path, static_cast<unsigned>(mode & 07777)); });
}

int
DoRmdir(const char* path)
{
    return Serve([&] { return Tree().RemoveDirectory(path); });
}

int
DoRename(const char* from, const char* to, unsigned int flags)
{
    if ((flags & ~static_cast<unsigned>(RENAME_NOREPLACE)) != 0) return -EINVAL;
    return Serve([&] { return Tree().Rename(from, to, (flags & RENAME_NOREPLACE) != 0); });
}

int
DoChmod(const char* path, mode_t mode, struct fuse_file_info*)
{
    return Serve([&] { return Tree().SetMode(path, static_cast<unsigned>(mode & 07777)); });
}

TreeTime
TimeOf(const struct timespec& spec, bool& now, bool& omit)
{
    now = spec.tv_nsec == UTIME_NOW;
    omit = spec.tv_nsec == UTIME_OMIT;
    return TreeTime{spec.tv_sec, spec.tv_nsec};
}

int
DoUtimens(const char* path, const struct timespec times[2], struct fuse_file_info*)
{
    return Serve([&] {
        if (times == nullptr) return Tree().SetTimes(path, nullptr, nullptr);
        bool now[2], omit[2];
        TreeTime given[2] = {TimeOf(times[0], now[0], omit[0]), TimeOf(times[1], now[1], omit[1])};
        if (omit[0] || omit[1]) {
            TreeStat stat;
            if (SysError error = Tree().GetAttributes(path, stat)) return error;
            if (omit[0]) given[0] = stat.accessed, now[0] = false;
            if (omit[1]) given[1] = stat.modified, now[1] = false;
        }
        return Tree().SetTimes(path, now[0] ? nullptr : &given[0], now[1] ? nullptr : &given[1]);
    });
}

// The root answers one attribute, kProcessAttribute: this process's id,
// for tvkcrypt unmount to wait on. It is not listed.
int
DoGetXattr(const char* path, const char* name, char* value, size_t size)
{
    if (path == nullptr || std::strcmp(path, "/") != 0 || std::strcmp(name, kProcessAttribute) != 0) {
        return -ENODATA;
    }
    const std::string text = std::to_string(static_cast<long>(getpid()));
    if (size == 0) return static_cast<int>(text.size());
    if (size < text.size()) return -ERANGE;
    std::memcpy(value, text.data(), text.size());
    return static_cast<int>(text.size());
}

int
DoStatfs(const char*, struct statvfs* st)
{
    return Serve([&] {
        TreeSpace space;
        SysError error = Tree().Space(space);
        if (error) return error;
        std::memset(st, 0, sizeof(*st));
        st->f_bsize = st->f_frsize = static_cast<unsigned long>(space.block_size);
        st->f_blocks = space.blocks;
        st->f_bfree = space.free_blocks;
        st->f_bavail = space.available_blocks;
        st->f_files = space.files;
        st->f_ffree = st->f_favail = space.free_files;
        st->f_namemax = static_cast<unsigned long>(space.name_max);
        return SysError(0);
    });
}

// Large requests, so that sequential throughput is not capped by 4 KiB
// ones; the page cache kept across opens unless direct I/O is asked
// for (or the tree is writable, where it is checked at each open).
struct InitSettings {
    MountedTree* tree;
    bool         direct_io;
    bool         read_write;
};

void*
DoInit(struct fuse_conn_info* connection, struct fuse_config* config)
{
    InitSettings* settings = static_cast<InitSettings*>(fuse_get_context()->private_data);
    const unsigned large = 1u << 20;
    connection->max_write = large;  // also sets max_pages, the largest read
    connection->max_read = large;   // as the mount option max_read says
    connection->max_readahead = large;
    config->use_ino = 0;
    config->hard_remove = 1;
    config->nullpath_ok = 0;
    config->direct_io = settings->direct_io ? 1 : 0;
    config->kernel_cache = !settings->direct_io && !settings->read_write ? 1 : 0;
    config->auto_cache = !settings->direct_io && settings->read_write ? 1 : 0;
    return settings->tree;
}

struct fuse_operations
Operations(bool read_write)
{
    struct fuse_operations operations;
    std::memset(&operations, 0, sizeof(operations));
    operations.init = DoInit;
    operations.getattr = DoGetAttr;
    operations.readdir = DoReadDir;
    operations.open = DoOpen;
    operations.read = DoRead;
    operations.flush = DoFlush;
    operations.fsync = DoFsync;
    operations.release = DoRelease;
    operations.statfs = DoStatfs;
    operations.getxattr = DoGetXattr;
    if (read_write) {
        operations.create = DoCreate;
        operations.write = DoWrite;
        operations.truncate = DoTruncate;
        operations.unlink = DoUnlink;
        operations.mkdir = DoMkdir;
        operations.rmdir = DoRmdir;
        operations.rename = DoRename;
        operations.chmod = DoChmod;
        operations.utimens = DoUtimens;
    }
    return operations;
}

// The mount's options: the kernel checks permissions (with allow_other,
// other users get what the modes give them, no more).
std::string
OptionsFor(const MountSettings& settings)
{
    std::string source;
    for (char c : settings.source_label) source += c == ',' || c == '\\' ? '_' : c;
    std::string options = "fsname=" + source + ",subtype=tvkcrypt,default_permissions,max_read=1048576";
    if (settings.allow_other) options += ",allow_other";
    if (!settings.read_write) options += ",ro";
    return options;
}

// The mount's device ("major:minor") from /proc/self/mountinfo, whose
// fifth field is the mount point (spaces and the like as octal escapes).
std::string
DeviceOf(const std::string& mountpoint)
{
    FILE* mounts = std::fopen("/proc/self/mountinfo", "re");
    if (mounts == nullptr) return std::string();
    std::string device;
    char line[4096];
    while (device.empty() && std::fgets(line, sizeof(line), mounts) != nullptr) {
        char id[32], point[4096];
        if (std::sscanf(line, "%*s %*s %31s %*s %4095s", id, point) != 2) continue;
        std::string unescaped;
        for (const char* c = point; *c != '\0'; ++c) {
            if (c[0] == '\\' && c[1] >= '0' && c[1] <= '3' && c[2] >= '0' && c[2] <= '7' && c[3] >= '0' && c[3] <= '7') {
                unescaped += static_cast<char>((c[1] - '0') * 64 + (c[2] - '0') * 8 + (c[3] - '0'));
                c += 3;
            } else {
                unescaped += *c;
            }
        }
        if (unescaped == mountpoint) device = id;  // the last one mounted there wins
    }
    std::fclose(mounts);
    return device;
}

// The kernel reads ahead at most 128 KiB on a FUSE mount unless told
// otherwise, so that reads through the page cache reach the file
// system in requests of 128 KiB whatever the program asks for. Raised
// to the largest request where this process may (root); left as it is
// elsewhere.
// resolved: the mount point's absolute path, taken before the mount
// (resolving it after would wait for the mount's own loop).
void
RaiseReadAhead(const std::string& resolved, unsigned kibibytes)
{
    if (resolved.empty()) return;
    const std::string device = DeviceOf(resolved);
    if (device.empty() || device.find('/') != std::string::npos) return;
    const std::string knob = "/sys/class/bdi/" + device + "/read_ahead_kb";
    const int fd = open(knob.c_str(), O_WRONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return;
    const std::string value = std::to_string(kibibytes) + "\n";
    if (write(fd, value.data(), value.size()) < 0) {
        // best effort: the default stays
    }
    close(fd);
}

}  // namespace

bool
MountSupported()
{
    return true;
}

bool
RunMount(const MountSettings& settings, MountedTree& tree, const std::function<void()>& started,
         std::string& error)
{
    const std::string options = OptionsFor(settings);
    const char* argv[] = {"tvkcrypt", "-o", options.c_str(), nullptr};
    struct fuse_args args = FUSE_ARGS_INIT(3, const_cast<char**>(argv));
    const struct fuse_operations operations = Operations(settings.read_write);
    InitSettings init = {&tree, settings.direct_io, settings.read_write};
    char resolved[PATH_MAX];
    const std::string where = realpath(settings.mountpoint.c_str(), resolved) != nullptr ? resolved : "";
    struct fuse* fuse = fuse_new(&args, &operations, sizeof(operations), &init);
    if (fuse == nullptr) {
        error = "cannot start the file system (see the message above)";
        return false;
    }
    if (fuse_mount(fuse, settings.mountpoint.c_str()) != 0) {
        fuse_destroy(fuse);
        error = "cannot mount on '" + settings.mountpoint + "' (see the message above)";
        return false;
    }
    RaiseReadAhead(where, 1024);
    // FUSE's own handlers end the loop on SIGINT, SIGTERM and SIGHUP; it
    // installs them only over the default action
    for (int signal_number : {SIGINT, SIGTERM, SIGHUP}) std::signal(signal_number, SIG_DFL);
    struct fuse_session* session = fuse_get_session(fuse);
    const bool handlers = fuse_set_signal_handlers(session) == 0;
    if (fuse_daemonize(settings.foreground ? 1 : 0) != 0) {
        if (handlers) fuse_remove_signal_handlers(session);
        fuse_unmount(fuse);
        fuse_destroy(fuse);
        error = "cannot detach from the terminal";
        return false;
    }
    if (!settings.foreground) {
        openlog("tvkcrypt", LOG_PID, LOG_USER);
        g_Detached = true;
    }
    started();
    fuse_loop_mt(fuse, 0);
    tree.Shutdown();
    if (handlers) fuse_remove_signal_handlers(session);
    fuse_unmount(fuse);
    fuse_destroy(fuse);
    return true;
}

#endif  // TVK_HAVE_FUSE

}  // namespace tvkcrypt
