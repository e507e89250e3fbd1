/*****************************************************************
| MountFile.h - one encrypted file of a mount while it is open: reads
| decrypt the bytes asked for, verified first against the file's check
| file when it has one; writes encrypt in place, and Commit makes the
| check file match again.
|
| Reads take the ciphertext at the offset (pread) and the key stream at
| the same offset. With a check file, every block a read touches is
| verified whole before a byte of it is decrypted (VerifiedReader,
| which keeps the last few verified blocks); a block that does not
| match fails the read with EIO and is reported once per file, with its
| byte range.
|
| Writes: the ciphertext goes into the file in place. A block that a
| write changes only in part is verified first (never is damaged data
| blessed with a new tag), then remembered as written: it is read
| unverified from then on, since this mount wrote it, and tagged again
| at the next Commit, which writes the whole check file to a temporary
| beside it and renames it over the old one, after the data reached the
| disk. Between the two, the pair on disk does not match, and
| "tvkcrypt check" reports the file as damaged: a crash can lose the
| last writes, never make wrong data pass for good. Growing a file
| writes encrypted zeros, so that the gap reads as zeros.
|
| Files without a check file are read and written without one; a file
| the mount created gets one. Threads: reads run at once, a write,
| resize or commit alone (a reader-writer lock).
****************************************************************/
#ifndef TVKCRYPT_MOUNT_FILE_H
#define TVKCRYPT_MOUNT_FILE_H

#include <atomic>
#include <functional>
#include <memory>
#include <set>
#include <shared_mutex>
#include <string>

#include "FileHandle.h"
#include "NptTypes.h"
#include "SourceTree.h"
#include "SysError.h"
#include "TvkCheckFile.h"
#include "TvkCrypto/c.h"
#include "TvkVerifiedReader.h"

namespace tvkcrypt {

// What every file of a mount shares: the format's key, the password the
// check files' keys come from, and the cost of new check files.
struct MountSecrets {
    const tvk_key*   key = nullptr;
    const NPT_UInt8* password = nullptr;
    NPT_Size         password_size = 0;
    NPT_UInt32       iterations = 0;
};

// Where a file is: its directory, its name there, and its name for
// messages.
struct MountPlace {
    std::shared_ptr<SourceDirectory> directory;
    std::string                    name;
    std::string                    label;
};

class MountFile
{
public:
    typedef std::function<void(const std::string& line)> Log;

    // file: open for reading (and writing when writable). check: the
    // file's check file, its password verified, or null. created: a new
    // file, which gets a check file at the first Commit.
    MountFile(const MountSecrets& secrets, FileHandle file, NPT_UInt64 size, bool writable,
              std::shared_ptr<const TVK_CheckFileReader> check, bool created, MountPlace place, Log log);
    MountFile(const MountFile&) = delete;
    MountFile& operator=(const MountFile&) = delete;

    SysError Read(NPT_UInt64 offset, void* buffer, std::size_t size, std::size_t& got);
    SysError Write(NPT_UInt64 offset, const void* data, std::size_t size);
    SysError Resize(NPT_UInt64 size);
    // Tags the blocks written since the last commit and replaces the
    // check file; to_disk: the data is synced even when nothing changed.
    SysError Commit(bool to_disk);

    bool Writable() const { return m_Writable; }
    // Takes a descriptor of the same file opened for writing.
    void BecomeWritable(FileHandle file);
    NPT_UInt64 Size() const;
    std::string Label() const;
    // The file was renamed, or removed (its check file is then not
    // written again).
    void Moved(MountPlace place);
    void Removed();

private:
    SysError Touch(NPT_UInt64 from, NPT_UInt64 to);
    SysError WriteEncrypted(NPT_UInt64 offset, const NPT_UInt8* data, std::size_t size, bool tag);
    void TagWritten(NPT_UInt64 at, const NPT_UInt8* cipher, std::size_t length);
    bool InPlace(NPT_UInt64 from, NPT_UInt64 to) const;
    SysError ReadPlain(NPT_UInt64 offset, NPT_UInt8* buffer, std::size_t size);
    SysError ReadChecked(NPT_UInt64 offset, NPT_UInt8* buffer, std::size_t size);
    SysError StartWriter();
    SysError TagStaleBlocks();
    void ReportDamage(NPT_UInt64 index);
    bool Tracked() const { return m_Check != nullptr || m_Created; }

    const MountSecrets&                        m_Secrets;
    FileHandle                                 m_File;
    NPT_UInt64                                 m_Size;
    bool                                       m_Writable;
    std::shared_ptr<const TVK_CheckFileReader> m_Check;  // as loaded; null: none
    std::unique_ptr<VerifiedReader>            m_Verified;
    bool                                       m_Created;
    NPT_UInt32                                 m_BlockSize;
    std::unique_ptr<TVK_CheckFileWriter>       m_Writer;  // from the first commit after a write
    std::set<NPT_UInt64>                       m_Written; // blocks written by this mount
    std::set<NPT_UInt64>                       m_Stale;   // their tags not made yet
    bool                                       m_CheckPending;
    bool                                       m_Removed = false;
    MountPlace                                 m_Place;
    Log                                        m_Log;
    std::atomic<bool>                          m_DamageReported{false};
    mutable std::shared_mutex                  m_Lock;
};

}  // namespace tvkcrypt

#endif  // TVKCRYPT_MOUNT_FILE_H
