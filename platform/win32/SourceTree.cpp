/*****************************************************************
| SourceTree.cpp - the mirrored tree of a mount (Windows): mounting is
| not available there, so nothing here is ever reached; every
| operation fails with ENOSYS.
****************************************************************/
#include "SourceTree.h"

#include <cerrno>

namespace tvkcrypt {

SourceDirectory::~SourceDirectory() = default;
SysError SourceDirectory::OpenRoot(const std::string&, std::unique_ptr<SourceDirectory>&) { return ENOSYS; }
SysError SourceDirectory::OpenChild(const std::string&, std::unique_ptr<SourceDirectory>&) const { return ENOSYS; }
SysError SourceDirectory::Stat(TreeStat&) const { return ENOSYS; }
SysError SourceDirectory::StatAt(const std::string&, TreeStat&) const { return ENOSYS; }
SysError SourceDirectory::List(std::vector<SourceEntry>&) const { return ENOSYS; }
SysError SourceDirectory::OpenFile(const std::string&, bool, FileHandle&) const { return ENOSYS; }
SysError SourceDirectory::CreateFile(const std::string&, unsigned, FileHandle&) const { return ENOSYS; }
SysError SourceDirectory::ReplaceFile(const std::string&, const void*, std::size_t, unsigned) const { return ENOSYS; }
SysError SourceDirectory::Unlink(const std::string&) const { return ENOSYS; }
SysError SourceDirectory::MakeDirectory(const std::string&, unsigned) const { return ENOSYS; }
SysError SourceDirectory::RemoveDirectory(const std::string&) const { return ENOSYS; }
SysError SourceDirectory::Rename(const std::string&, const SourceDirectory&, const std::string&, bool) const { return ENOSYS; }
SysError SourceDirectory::SetMode(const std::string&, unsigned) const { return ENOSYS; }
SysError SourceDirectory::SetTimes(const std::string&, const TreeTime*, const TreeTime*) const { return ENOSYS; }
SysError SourceDirectory::Space(TreeSpace&) const { return ENOSYS; }
SysError StatFile(const FileHandle&, TreeStat&) { return ENOSYS; }
SysError ResizeFile(const FileHandle&, NPT_UInt64) { return ENOSYS; }
SysError SyncFile(const FileHandle&) { return ENOSYS; }

}  // namespace tvkcrypt
