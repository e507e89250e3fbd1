/*****************************************************************
| FuseMount.h - a file system served to the kernel (Linux: FUSE 3):
| MountedTree is what it serves, RunMount mounts it and runs the loop
| until it is unmounted.
|
| The tree's operations take paths inside the mount ("/", "/a/b"),
| return 0 or a SysError (an errno value), and are called from several
| threads at once. RunMount checks the mount point, mounts, then (unless
| foreground) detaches from the terminal once the mount is live, runs
| a multi-threaded loop with large requests, and returns once the mount
| is gone: unmounted (fusermount3 -u, tvkcrypt unmount), or on SIGINT,
| SIGTERM or SIGHUP, which unmount it. Tree::Shutdown runs last, in the
| process that served the mount.
****************************************************************/
#ifndef TVKCRYPT_FUSE_MOUNT_H
#define TVKCRYPT_FUSE_MOUNT_H

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "NptTypes.h"
#include "SourceTree.h"
#include "SysError.h"

namespace tvkcrypt {

class MountedTree
{
public:
    virtual ~MountedTree() = default;

    virtual SysError GetAttributes(const char* path, TreeStat& stat) = 0;
    virtual SysError List(const char* path, std::vector<SourceEntry>& entries) = 0;
    virtual SysError Space(TreeSpace& space) = 0;
    // handle: the tree's own number for the open file
    virtual SysError Open(const char* path, bool write, bool truncate, NPT_UInt64& handle) = 0;
    virtual SysError Create(const char* path, unsigned mode, NPT_UInt64& handle) = 0;
    virtual SysError Read(NPT_UInt64 handle, NPT_UInt64 offset, void* buffer, std::size_t size,
                          std::size_t& got) = 0;
    virtual SysError Write(NPT_UInt64 handle, NPT_UInt64 offset, const void* data, std::size_t size) = 0;
    // flush (each close of a descriptor) and fsync
    virtual SysError Flush(NPT_UInt64 handle, bool to_disk) = 0;
    virtual SysError Release(NPT_UInt64 handle) = 0;
    virtual SysError Resize(const char* path, NPT_UInt64 size) = 0;
    virtual SysError Unlink(const char* path) = 0;
    virtual SysError MakeDirectory(const char* path, unsigned mode) = 0;
    virtual SysError RemoveDirectory(const char* path) = 0;
    virtual SysError Rename(const char* from, const char* to, bool no_replace) = 0;
    virtual SysError SetMode(const char* path, unsigned mode) = 0;
    virtual SysError SetTimes(const char* path, const TreeTime* accessed, const TreeTime* modified) = 0;
    // The mount is gone: write what is pending.
    virtual void Shutdown() = 0;
};

struct MountSettings {
    std::string mountpoint;
    std::string source_label;    // shown as the mount's source (mount, df)
    bool        foreground = false;
    bool        allow_other = false;
    bool        direct_io = false;
    bool        read_write = false;
};

// Whether this build can mount at all.
bool MountSupported();

// Refuses a mount point that is missing, not a directory, not empty, or
// already a mount point (EBUSY), and a system without /dev/fuse
// (ENODEV) or without access to it (EACCES); error names what is wrong
// and how to fix it.
SysError CheckMountPoint(const std::string& mountpoint, std::string& error);

// Mounts tree and serves it until it is unmounted. started runs once the
// mount is live, in the process that serves it (after detaching).
// false with error set when nothing could be mounted.
bool RunMount(const MountSettings& settings, MountedTree& tree, const std::function<void()>& started,
              std::string& error);

// A line about the mount, for the person who runs it: on standard
// error while the mount runs in the foreground or has not detached yet,
// in the system log (syslog, as "tvkcrypt") once it has.
void MountLog(const std::string& line);

// How an unmount ended.
enum class UnmountEnd {
    FINISHED,   // the process that served the mount has ended
    FILES_OPEN, // detached with files still open: its process ends once they are closed
    TIMED_OUT,  // unmounted, but its process had not ended within the wait
    UNKNOWN     // unmounted; whether its process has ended cannot be told
};

// Unmounts the mount at mountpoint and waits, at most wait_seconds,
// until the process that served it has ended, its check files written.
// That process is found by asking the mount (tvkcrypt's mounts answer
// with their process id) before anything changes, and watched through
// a process descriptor, so a reused process id cannot fool the wait.
// A mount with files open is detached lazily (fusermount3 -u -z): the
// open files keep working, and its process ends once they are closed;
// there is no wait then. false with error set when it could not unmount.
bool Unmount(const std::string& mountpoint, double wait_seconds, UnmountEnd& end, std::string& error);

}  // namespace tvkcrypt

#endif  // TVKCRYPT_FUSE_MOUNT_H
