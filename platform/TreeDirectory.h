/*****************************************************************
| TreeDirectory.h - directories of a tree that a job walks and
| mirrors, reached one name at a time from an open directory, never
| through a symbolic link.
|
| A tree job (tvkcrypt -r) lists a source directory, opens its files
| and subdirectories by name relative to it, and creates the mirrored
| directories and files relative to the open destination directory.
| A link at any name below the root is seen as a link (and skipped),
| never followed: a link planted in the tree, or a directory swapped
| for a link while the job runs, cannot lead the job out of it. The
| root itself is opened as given (a link there is what the user named).
| Windows: there are no calls relative to an open directory; names are
| reached under the directory's full path, the directory is held open
| without sharing deletion, and a reparse point (a link or junction) is
| a link. Failures are SysError values. One thread at a time per
| object; distinct objects (and const calls) from any thread.
****************************************************************/
#ifndef TVKCRYPT_TREE_DIRECTORY_H
#define TVKCRYPT_TREE_DIRECTORY_H

#include <string>
#include <vector>

#include "FileHandle.h"
#include "SysError.h"

namespace tvkcrypt {

struct TreeEntry {
    enum Kind { REGULAR, DIRECTORY, LINK, OTHER };  // OTHER: FIFO, device, socket
    std::string name;
    Kind        kind = OTHER;
    NPT_UInt64  size = 0;  // REGULAR
};

class TreeDirectory
{
public:
    TreeDirectory() = default;
    TreeDirectory(TreeDirectory&&) = default;
    TreeDirectory& operator=(TreeDirectory&&) = default;
    TreeDirectory(const TreeDirectory&) = delete;
    TreeDirectory& operator=(const TreeDirectory&) = delete;

    // Opens the directory at path. ENOTDIR when it is something else.
    SysError OpenRoot(const std::string& path);
    // Creates the directory at path (mode, where the system has modes;
    // an existing directory is fine, its parent must exist) and opens it.
    SysError MakeRoot(const std::string& path, unsigned mode);
    // Opens subdirectory name; ELOOP or ENOTDIR when it is a link.
    SysError OpenChild(const std::string& name, TreeDirectory& child) const;
    // Creates subdirectory name (an existing directory is fine; a link
    // or anything else there is EEXIST) and opens it.
    SysError MakeChild(const std::string& name, unsigned mode, TreeDirectory& child) const;
    // Every entry but "." and "..", sorted by name. sizes false: only
    // the kinds are wanted, taken from the listing itself where it tells
    // them (sizes 0 then), which spares a look at every entry.
    SysError List(std::vector<TreeEntry>& entries, bool sizes = true) const;
    // Opens regular file name for reading, with its info: a link is
    // kNotRegular too (never followed), and a FIFO is not waited on.
    SysError OpenFile(const std::string& name, FileHandle& file, FileInfo& info) const;
    // What is at name, without following a link: found false when
    // nothing is there.
    SysError Look(const std::string& name, TreeEntry& entry, bool& found) const;

    // The directory as opened, for messages ("src/a/b"); PathOf(name)
    // a name in it.
    const std::string& Path() const { return m_Path; }
    std::string        PathOf(const std::string& name) const;
    const FileInfo&    Info() const { return m_Info; }
    const FileHandle&  Handle() const { return m_Handle; }
    bool               IsOpen() const { return m_Handle.IsOpen(); }

private:
    SysError Adopt(FileHandle handle, const std::string& path);

    FileHandle  m_Handle;
    std::string m_Path;
    FileInfo    m_Info;
};

}  // namespace tvkcrypt

#endif  // TVKCRYPT_TREE_DIRECTORY_H
