/*****************************************************************
| SourceTree.h - the directory tree a mount mirrors, reached only
| through open directories: SourceDirectory is an open directory, and
| every operation names an entry in it, never a path. Nothing here
| follows a symbolic link at an entry's name (POSIX: O_NOFOLLOW and
| AT_SYMLINK_NOFOLLOW), so a link planted in the tree cannot lead an
| operation outside it, and an entry that is neither a regular file
| nor a directory is never opened.
|
| Failures come back as SysError values (kNotRegular for an entry of
| the wrong kind). Any thread: the operations are system calls on the
| directory's descriptor, which never changes.
****************************************************************/
#ifndef TVKCRYPT_SOURCE_TREE_H
#define TVKCRYPT_SOURCE_TREE_H

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "FileHandle.h"
#include "NptTypes.h"
#include "SysError.h"

namespace tvkcrypt {

// A point in time, as the file system keeps it.
struct TreeTime {
    NPT_Int64 seconds = 0;
    long      nanoseconds = 0;
};

// What an entry is, its size, permission bits, owner and times.
struct TreeStat {
    enum Kind { REGULAR, DIRECTORY, OTHER };  // OTHER: link, FIFO, device, socket
    Kind       kind = OTHER;
    NPT_UInt64 size = 0;
    NPT_UInt64 inode = 0;
    NPT_UInt64 device = 0;
    unsigned   mode = 0;       // permission bits
    NPT_UInt32 links = 1;
    NPT_UInt32 owner = 0;
    NPT_UInt32 group = 0;
    TreeTime   accessed, modified, changed;
};

// One name of a directory and what it is (kind only; Stat for more).
struct SourceEntry {
    std::string     name;
    TreeStat::Kind  kind = TreeStat::OTHER;
};

// Space on the file system, for statfs.
struct TreeSpace {
    NPT_UInt64 block_size = 0, blocks = 0, free_blocks = 0, available_blocks = 0;
    NPT_UInt64 files = 0, free_files = 0;
    NPT_UInt64 name_max = 255;
};

class SourceDirectory
{
public:
    SourceDirectory() = default;
    explicit SourceDirectory(int fd) : m_Fd(fd) {}
    ~SourceDirectory();
    SourceDirectory(const SourceDirectory&) = delete;
    SourceDirectory& operator=(const SourceDirectory&) = delete;

    bool IsOpen() const { return m_Fd >= 0; }

    // The top of the tree, at a path the user gave (links on the way are
    // the user's own and followed). ENOTDIR when it is not a directory.
    static SysError OpenRoot(const std::string& path, std::unique_ptr<SourceDirectory>& root);
    // The subdirectory name of this one (a link there: kNotRegular).
    SysError OpenChild(const std::string& name, std::unique_ptr<SourceDirectory>& child) const;

    SysError Stat(TreeStat& stat) const;
    SysError StatAt(const std::string& name, TreeStat& stat) const;
    // Every name but "." and "..", in the system's order.
    SysError List(std::vector<SourceEntry>& entries) const;

    // Opens the regular file name, for reading or for reading and
    // writing (kNotRegular for anything else).
    SysError OpenFile(const std::string& name, bool write, FileHandle& file) const;
    // Creates the new regular file name (EEXIST when something is there).
    SysError CreateFile(const std::string& name, unsigned mode, FileHandle& file) const;
    // Replaces name with size bytes of data: a temporary file beside it,
    // written, synced and renamed over name, so that name holds either
    // the old content or all of the new one. The temporary has mode.
    SysError ReplaceFile(const std::string& name, const void* data, std::size_t size, unsigned mode) const;

    SysError Unlink(const std::string& name) const;
    SysError MakeDirectory(const std::string& name, unsigned mode) const;
    SysError RemoveDirectory(const std::string& name) const;
    // Renames name to to_name in to_directory; no_replace: EEXIST when
    // to_name exists.
    SysError Rename(const std::string& name, const SourceDirectory& to_directory, const std::string& to_name,
                    bool no_replace) const;
    SysError SetMode(const std::string& name, unsigned mode) const;
    // null: the current time.
    SysError SetTimes(const std::string& name, const TreeTime* accessed, const TreeTime* modified) const;
    SysError Space(TreeSpace& space) const;

private:
    int m_Fd = -1;
};

// The size and times of an open file.
SysError StatFile(const FileHandle& file, TreeStat& stat);
// Cuts or extends an open file to size bytes.
SysError ResizeFile(const FileHandle& file, NPT_UInt64 size);
// Writes an open file's data to the disk.
SysError SyncFile(const FileHandle& file);

}  // namespace tvkcrypt

#endif  // TVKCRYPT_SOURCE_TREE_H
