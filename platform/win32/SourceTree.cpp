/*****************************************************************
| SourceTree.cpp - the mirrored tree of a mount (Windows): mounting is
| not available there, so nothing here is ever reached; every
| operation fails with ENOSYS.
****************************************************************/
#include "SourceTree.h"

#include <cerrno>

namespace tvkcrypt {

TreeDirectory::~TreeDirectory() = default;
SysError TreeDirectory::OpenRoot(const std::string&, std::unique_ptr<TreeDirectory>&) { return ENOSYS; }
SysError TreeDirectory::OpenChild(const std::string&, std::unique_ptr<TreeDirectory>&) const { return ENOSYS; }
SysError TreeDirectory::Stat(TreeStat&) const { return ENOSYS; }
SysError TreeDirectory::StatAt(const std::string&, TreeStat&) const { return ENOSYS; }
SysError TreeDirectory::List(std::vector<TreeEntry>&) const { return ENOSYS; }
SysError TreeDirectory::OpenFile(const std::string&, bool, FileHandle&) const { return ENOSYS; }
SysError TreeDirectory::CreateFile(const std::string&, unsigned, FileHandle&) const { return ENOSYS; }
SysError TreeDirectory::ReplaceFile(const std::string&, const void*, std::size_t, unsigned) const { return ENOSYS; }
SysError TreeDirectory::Unlink(const std::string&) const { return ENOSYS; }
SysError TreeDirectory::MakeDirectory(const std::string&, unsigned) const { return ENOSYS; }
SysError TreeDirectory::RemoveDirectory(const std::string&) const { return ENOSYS; }
SysError TreeDirectory::Rename(const std::string&, const TreeDirectory&, const std::string&, bool) const { return ENOSYS; }
SysError TreeDirectory::SetMode(const std::string&, unsigned) const { return ENOSYS; }
SysError TreeDirectory::SetTimes(const std::string&, const TreeTime*, const TreeTime*) const { return ENOSYS; }
SysError TreeDirectory::Space(TreeSpace&) const { return ENOSYS; }
SysError StatFile(const FileHandle&, TreeStat&) { return ENOSYS; }
SysError ResizeFile(const FileHandle&, NPT_UInt64) { return ENOSYS; }
SysError SyncFile(const FileHandle&) { return ENOSYS; }

}  // namespace tvkcrypt
