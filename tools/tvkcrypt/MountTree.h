/*****************************************************************
| MountTree.h - the file system that "tvkcrypt mount" serves: a source
| directory (or one encrypted file) shown decrypted, through
| MountedTree (FuseMount.h).
|
| Every path is walked from the source's open directory one name at a
| time, never following a link (SourceTree.h), and each name is mapped
| by MountNames. Files opened at once share one MountFile per file
| (by device and inode), so that every descriptor sees the same writes
| and the check file is written once; the last release commits it, and
| so does Shutdown for every file still open when the mount ends.
| A file's check file is loaded and its password verified at its first
| open (a full key derivation; for the check file that VerifyPassword
| found, at mount time); verified check files are kept for the next
| opens while neither file changes (at most kKeptChecks of them).
| Messages name files by their path in the source.
|
| With read_write false every change is refused (EROFS). Any thread.
****************************************************************/
#ifndef TVKCRYPT_MOUNT_TREE_H
#define TVKCRYPT_MOUNT_TREE_H

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <tuple>
#include <vector>

#include "FuseMount.h"
#include "MountFile.h"
#include "MountNames.h"

namespace tvkcrypt {

class MountTree : public MountedTree
{
public:
    static const std::size_t kKeptChecks = 64;

    struct Settings {
        std::string suffix = ".tvk";
        bool        read_write = false;
        std::string only_name;  // a source of one file: its name in root
        std::string source;     // root's path as given, for messages
    };

    MountTree(std::shared_ptr<SourceDirectory> root, const Settings& settings, const MountSecrets& secrets,
              MountFile::Log log);
    ~MountTree() override;

    // Finds a check file in the source (breadth first, at most limit
    // directories) and verifies the password against it: 0 when it
    // matches or none is there (found false); TVK_ERROR_WRONG_PASSWORD or
    // another check-file result in result, label naming the file.
    NPT_Result VerifyPassword(std::size_t limit, bool& found, std::string& label);

    SysError GetAttributes(const char* path, TreeStat& stat) override;
    SysError List(const char* path, std::vector<SourceEntry>& entries) override;
    SysError Space(TreeSpace& space) override;
    SysError Open(const char* path, bool write, bool truncate, NPT_UInt64& handle) override;
    SysError Create(const char* path, unsigned mode, NPT_UInt64& handle) override;
    SysError Read(NPT_UInt64 handle, NPT_UInt64 offset, void* buffer, std::size_t size, std::size_t& got) override;
    SysError Write(NPT_UInt64 handle, NPT_UInt64 offset, const void* data, std::size_t size) override;
    SysError Flush(NPT_UInt64 handle, bool to_disk) override;
    SysError Release(NPT_UInt64 handle) override;
    SysError Resize(const char* path, NPT_UInt64 size) override;
    SysError Unlink(const char* path) override;
    SysError MakeDirectory(const char* path, unsigned mode) override;
    SysError RemoveDirectory(const char* path) override;
    SysError Rename(const char* from, const char* to, bool no_replace) override;
    SysError SetMode(const char* path, unsigned mode) override;
    SysError SetTimes(const char* path, const TreeTime* accessed, const TreeTime* modified) override;
    void Shutdown() override;

private:
    typedef std::pair<NPT_UInt64, NPT_UInt64> FileId;  // device, inode
    // a verified check file is kept while both files are as they were
    typedef std::tuple<NPT_UInt64, NPT_UInt64, NPT_UInt64, NPT_Int64, long, NPT_UInt64, NPT_Int64, long> CheckId;
    struct OpenFile {
        std::shared_ptr<MountFile> file;
        unsigned                   handles = 0;
    };
    struct Located {  // a path's directory and the raw name of its entry
        std::shared_ptr<SourceDirectory> directory;
        std::string                    shown;
        std::string                    raw;    // empty: nothing shows there
        TreeStat                       stat;
        std::string                    label;  // the source file in messages
    };

    SysError OpenDirectory(const std::string& path, std::shared_ptr<SourceDirectory>& directory) const;
    SysError Locate(const char* path, Located& located) const;
    SysError LoadCheck(const Located& located, std::shared_ptr<const TVK_CheckFileReader>& check,
                       NPT_Result& verdict);
    std::string SourceLabel(const std::string& path, const std::string& raw) const;
    SysError Attach(const Located& located, FileHandle file, bool write, bool created, NPT_UInt64& handle);
    std::shared_ptr<MountFile> FileOf(NPT_UInt64 handle);
    std::shared_ptr<MountFile> OpenFileAt(const TreeStat& stat);
    SysError Changeable(const Located& located) const;
    void NoteClash(const std::string& directory, const std::string& name);

    std::shared_ptr<SourceDirectory> m_Root;
    Settings                       m_Settings;
    MountNames                     m_Names;
    const MountSecrets&            m_Secrets;
    MountFile::Log                 m_Log;
    std::atomic<NPT_UInt64>        m_NextHandle{1};
    std::atomic<bool>              m_ClashReported{false};
    std::mutex                     m_Lock;  // guards the tables below
    std::map<FileId, OpenFile>     m_Open;
    std::map<NPT_UInt64, FileId>   m_Handles;
    std::map<CheckId, std::shared_ptr<const TVK_CheckFileReader>> m_Checks;
};

}  // namespace tvkcrypt

#endif  // TVKCRYPT_MOUNT_TREE_H
