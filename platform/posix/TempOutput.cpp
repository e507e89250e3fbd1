/*****************************************************************
| TempOutput.cpp - POSIX implementation of TempOutput.h: unnamed
| temporaries (O_TMPFILE) where the file system has them, hidden named
| ones elsewhere, and renames that never replace what they must not.
****************************************************************/
#ifndef _GNU_SOURCE
#define _GNU_SOURCE 1
#endif

#include "TempOutput.h"

#include <atomic>
#include <cerrno>
#include <ctime>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "FileStat.h"
#include "NptPlatformFault.h"
#include "CommitPair.h"
#include "SignalState.h"

#ifndef RENAME_NOREPLACE
#define RENAME_NOREPLACE (1 << 0)
#endif
#ifndef RENAME_EXCHANGE
#define RENAME_EXCHANGE (1 << 1)
#endif

namespace tvkcrypt {

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

SysError
TempOutput::Create(const OutputPlace& place)
{
    Discard();
    m_Place = &place;
    const int directory = place.m_Directory.Fd();
    m_Synced = false;
    SignalBlock block;
    // an unnamed file needs a way to name it at the end: linkat through
    // /proc (or AT_EMPTY_PATH, which takes a privilege); whether /proc
    // is there is asked once
    static const bool proc_there = access("/proc/self/fd", X_OK) == 0;
    if (proc_there) {
        int fd = NPT_PlatformCall("tool.open-temp", [&] {
            return openat(directory, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
        });
        if (fd >= 0) {
            m_File = FileHandle(fd, true);
            return StatHandle(m_File, m_Identity);
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
        return StatHandle(m_File, m_Identity);
    }
}

// Links the unnamed file fd at name in directory. AT_EMPTY_PATH spares
// the walk through /proc; a kernel that allows it only with a privilege
// says ENOENT, and once /proc has then served, it serves every link.
static int
LinkUnnamed(int fd, int directory, const char* name)
{
    static std::atomic<bool> empty_path_refused{false};
    if (!empty_path_refused.load(std::memory_order_relaxed)) {
        const int result =
            NPT_PlatformCall("tool.linkat", [&] { return linkat(fd, "", directory, name, AT_EMPTY_PATH); });
        if (result == 0 || errno != ENOENT) return result;
    }
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    const int result = NPT_PlatformCall("tool.linkat", [&] {
        return linkat(AT_FDCWD, self.c_str(), directory, name, AT_SYMLINK_FOLLOW);
    });
    if (result == 0) empty_path_refused.store(true, std::memory_order_relaxed);
    return result;
}

// Gives an unnamed temporary a hidden name, so that it can take the
// target's place by rename. Call with the terminating signals blocked.
SysError
TempOutput::GiveName(std::string& name)
{
    const int directory = m_Place->m_Directory.Fd();
    for (unsigned attempt = 0;; ++attempt) {
        name = TemporaryName(m_Place->m_Name, attempt);
        if (LinkUnnamed(m_File.Fd(), directory, name.c_str()) == 0) {
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

// Gives the file its place's name only if that name is free (EEXIST
// otherwise): an unnamed file is linked there, a named one renamed.
// Call with the terminating signals blocked.
SysError
TempOutput::NameIfFree()
{
    const int directory = m_Place->m_Directory.Fd();
    const char* target = m_Place->m_Name.c_str();
    if (!m_Name.empty()) {
        SysError error = RenameNoReplace(directory, m_Name, target, m_LeftoverError);
        if (!error && m_LeftoverError) m_Leftover = m_Name;
        return error;
    }
    if (LinkUnnamed(m_File.Fd(), directory, target) != 0) return errno;
    return 0;
}

// Puts the temporary at the place's name, replacing whatever is there;
// the output takes the permissions and owner of a regular file it
// replaces. Everything up to the exchange is done on the file while it
// is still unnamed, so that a kill -9 leaves no named copy of the
// output behind but for the moment of the exchange itself. Call with
// the terminating signals blocked.
SysError
TempOutput::Replace()
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
    if (error == ENOENT) return NameIfFree();
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
    std::string name = m_Name;
    if (name.empty() && (error = GiveName(name)) != 0) return error;
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
    // the mode it was created with is usually the one wanted already;
    // a file just synced, and not changed since, needs no second sync
    if ((m_Identity.mode & 07777) != (new_mode & 07777)) {
        if (NPT_PlatformCall("tool.fchmod", [&] {
                return fchmod(m_File.Fd(), static_cast<mode_t>(new_mode & 07777));
            }) != 0) {
            return errno;
        }
        m_Synced = false;
    }
    if (!m_Synced && NPT_PlatformCall("tool.fsync", [&] { return fsync(m_File.Fd()); }) != 0) return errno;
    m_Synced = false;
    {
        SignalBlock block;
        SysError error = replace ? Replace() : NameIfFree();
        if (error) return error;
        ForgetTemporary(m_Slot);
        m_Name.clear();
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
    m_Synced = true;
    return 0;
}

/*----------------------------------------------------------------------
|   AsideFile
+---------------------------------------------------------------------*/
SysError
AsideFile::SetAside(bool move)
{
    const OutputPlace& place = *m_Place;
    m_Kept.clear();
    m_Moved = false;
    const int directory = place.m_Directory.Fd();
    const char* name = place.m_Name.c_str();
    for (unsigned attempt = 0;; ++attempt) {
        std::string aside = TemporaryName(place.m_Name, attempt);
        SysError error = 0;
        if (!move && NPT_PlatformCall("tool.linkat", [&] {
                return linkat(directory, name, directory, aside.c_str(), 0);
            }) == 0) {
            m_Kept = aside;
            return 0;
        }
        if (!move) error = errno;
        if (error == ENOENT) return 0;
        if (error == EEXIST && attempt < 100) continue;
        // no hard links here (FAT answers EPERM), or the name is to be
        // freed: the file itself moves to the hidden name
        SysError ignored = 0;
        error = RenameNoReplace(directory, name, aside.c_str(), ignored);
        if (error == 0) {
            m_Kept = aside;
            m_Moved = true;
            return 0;
        }
        if (error == ENOENT) return 0;
        if (error != EEXIST || attempt >= 100) return error;
    }
}

SysError
AsideFile::PutBack(const FileInfo* ours)
{
    const int directory = m_Place->m_Directory.Fd();
    const char* name = m_Place->m_Name.c_str();
    // what is at the name now: this run's file, another's, or nothing
    // (a failed look is taken as this run's: the name is put back)
    struct stat now;
    SysError look = StatAt(directory, name, AT_SYMLINK_NOFOLLOW, now);
    const bool empty = look == ENOENT;
    const bool foreign = look == 0 && (ours == nullptr ||
                                       static_cast<NPT_UInt64>(now.st_dev) != ours->device ||
                                       static_cast<NPT_UInt64>(now.st_ino) != ours->inode);
    if (m_Kept.empty()) {
        // there was nothing: remove this run's file alone
        if (empty || foreign || ours == nullptr) return 0;
        if (NPT_PlatformCall("tool.unlinkat", [&] { return unlinkat(directory, name, 0); }) != 0) {
            return errno;
        }
        return 0;
    }
    // a file of another run, or the old file still there (a hard link):
    // only the hidden name goes
    if (foreign) return Remove();
    if (NPT_PlatformCall("tool.renameat", [&] {
            return renameat(directory, m_Kept.c_str(), directory, name);
        }) != 0) {
        return errno;
    }
    m_Kept.clear();
    m_Moved = false;
    return 0;
}

SysError
AsideFile::Remove()
{
    if (m_Kept.empty()) return 0;
    const int directory = m_Place->m_Directory.Fd();
    if (NPT_PlatformCall("tool.unlinkat", [&] { return unlinkat(directory, m_Kept.c_str(), 0); }) != 0) {
        return errno;
    }
    m_Kept.clear();
    return 0;
}

/*----------------------------------------------------------------------
|   CommitTogether
+---------------------------------------------------------------------*/
SysError
CommitTogether(TempOutput& first, const OutputPlace& first_place, bool first_replace,
               TempOutput& second, unsigned second_mode, bool second_replace, PairCommit& outcome)
{
    return CommitPair<SignalBlock>(first, first_place, first_replace, second, second_mode, second_replace, outcome);
}

}  // namespace tvkcrypt
