/*****************************************************************
| MountFile.cpp - one open encrypted file of a mount.
****************************************************************/
#include "MountFile.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <vector>

#include "NptDataBuffer.h"
#include "NptWipe.h"
#include "SystemInfo.h"

namespace tvkcrypt {
namespace {

// Writes and zero fills go through a buffer of at most this much.
const std::size_t kPiece = std::size_t(1) << 20;
// and are encrypted in steps of this much, which stay in the cache
// between the copy and the transform
const std::size_t kStep = std::size_t(64) << 10;

// Each thread's buffer for writes: made once, wiped when the thread ends
// (FUSE's workers come and go). Between two writes it holds ciphertext.
class ThreadBuffer
{
public:
    ~ThreadBuffer()
    {
        if (m_Bytes == nullptr) return;
        NPT_WipeMemory(m_Bytes, kPiece);
        delete[] m_Bytes;
    }
    NPT_UInt8* Bytes()
    {
        if (m_Bytes == nullptr) m_Bytes = new NPT_UInt8[kPiece];
        return m_Bytes;
    }

private:
    NPT_UInt8* m_Bytes = nullptr;
};

thread_local ThreadBuffer t_Buffer;

NPT_UInt64
BlocksFor(NPT_UInt64 size, NPT_UInt32 block_size)
{
    return size / block_size + (size % block_size != 0 ? 1 : 0);
}

std::string
Decimal(NPT_UInt64 value)
{
    return std::to_string(static_cast<unsigned long long>(value));
}

}  // namespace

MountFile::MountFile(const MountSecrets& secrets, FileHandle file, NPT_UInt64 size, bool writable,
                     std::shared_ptr<const TVK_CheckFileReader> check, bool created, MountPlace place, Log log)
    : m_Secrets(secrets),
      m_File(std::move(file)),
      m_Size(size),
      m_Writable(writable),
      m_Check(std::move(check)),
      m_Created(created),
      m_BlockSize(m_Check ? m_Check->BlockSize() : TVK_CheckFile::DEFAULT_BLOCK_SIZE),
      m_CheckPending(created),
      m_Place(std::move(place)),
      m_Log(std::move(log))
{
    if (m_Check) m_Verified.reset(new VerifiedReader(m_File, *m_Check));
}

NPT_UInt64
MountFile::Size() const
{
    std::shared_lock<std::shared_mutex> lock(m_Lock);
    return m_Size;
}

std::string
MountFile::Label() const
{
    std::shared_lock<std::shared_mutex> lock(m_Lock);
    return m_Place.label;
}

void
MountFile::BecomeWritable(FileHandle file)
{
    std::unique_lock<std::shared_mutex> lock(m_Lock);
    if (m_Writable) return;
    m_File = std::move(file);  // the verified reader refers to m_File itself
    m_Writable = true;
}

void
MountFile::Moved(MountPlace place)
{
    std::unique_lock<std::shared_mutex> lock(m_Lock);
    m_Place = std::move(place);
}

void
MountFile::Removed()
{
    std::unique_lock<std::shared_mutex> lock(m_Lock);
    m_Removed = true;
}

/*----------------------------------------------------------------------
|   reads
+---------------------------------------------------------------------*/
SysError
MountFile::Read(NPT_UInt64 offset, void* buffer, std::size_t size, std::size_t& got)
{
    got = 0;
    std::shared_lock<std::shared_mutex> lock(m_Lock);
    if (offset >= m_Size || size == 0) return 0;
    if (size > m_Size - offset) size = static_cast<std::size_t>(m_Size - offset);
    NPT_UInt8* bytes = static_cast<NPT_UInt8*>(buffer);
    SysError error = m_Check ? ReadChecked(offset, bytes, size) : ReadPlain(offset, bytes, size);
    if (error) return error;
    if (tvk_transform(m_Secrets.key, bytes, size, offset) != TVK_SUCCESS) return EIO;
    got = size;
    return 0;
}

// Ciphertext that was not verified: all of it must be there.
SysError
MountFile::ReadPlain(NPT_UInt64 offset, NPT_UInt8* buffer, std::size_t size)
{
    std::size_t got = 0;
    if (SysError error = ReadAt(m_File, buffer, size, offset, got)) return error;
    return got == size ? 0 : EIO;
}

// Runs of blocks: those of the check file verified, those this mount
// wrote as they are.
SysError
MountFile::ReadChecked(NPT_UInt64 offset, NPT_UInt8* buffer, std::size_t size)
{
    const NPT_UInt64 end = offset + size;
    for (NPT_UInt64 at = offset; at < end;) {
        NPT_UInt64 to = end;
        bool written = false;
        if (!m_Written.empty()) {
            written = m_Written.count(at / m_BlockSize) != 0;
            to = std::min(end, (at / m_BlockSize + 1) * m_BlockSize);
            while (to < end && (m_Written.count(to / m_BlockSize) != 0) == written) {
                to = std::min(end, to + m_BlockSize);
            }
        }
        NPT_UInt8* out = buffer + (at - offset);
        const std::size_t length = static_cast<std::size_t>(to - at);
        if (written) {
            if (SysError error = ReadPlain(at, out, length)) return error;
        } else {
            std::size_t got = 0;
            NPT_UInt64 damaged = 0;
            NPT_Result result = m_Verified->Read(at, out, length, got, damaged);
            if (result == TVK_ERROR_DATA_DAMAGED) {
                ReportDamage(damaged);
                return EIO;
            }
            if (NPT_FAILED(result)) return EIO;
        }
        at = to;
    }
    return 0;
}

void
MountFile::ReportDamage(NPT_UInt64 index)
{
    if (m_DamageReported.exchange(true)) return;
    const NPT_UInt64 start = index * m_BlockSize;
    const NPT_UInt64 end = std::min(start + m_BlockSize, std::max(m_Size, start + 1));
    m_Log(m_Place.label + " is damaged or was changed: bytes " + Decimal(start) + " to " + Decimal(end - 1) +
          " do not match its check file; reads there fail (EIO)");
}

/*----------------------------------------------------------------------
|   writes
+---------------------------------------------------------------------*/
// Marks the blocks that bytes from .. to - 1 change as written; a block
// of the check file changed only in part is verified first.
SysError
MountFile::Touch(NPT_UInt64 from, NPT_UInt64 to)
{
    if (!Tracked() || from >= to) return 0;
    for (NPT_UInt64 index = from / m_BlockSize; index <= (to - 1) / m_BlockSize; ++index) {
        if (m_Written.count(index) != 0) {
            m_Stale.insert(index);
            continue;
        }
        if (m_Check && index < m_Check->BlockCount()) {
            const NPT_UInt64 start = index * m_BlockSize;
            const NPT_UInt64 length = m_Check->BlockLength(index);
            if (from > start || to < start + length) {
                NPT_Result result = m_Verified->Verify(index);
                if (result == TVK_ERROR_DATA_DAMAGED) ReportDamage(index);
                if (NPT_FAILED(result)) return EIO;
            }
            m_Verified->Forget(index);
        }
        m_Written.insert(index);
        m_Stale.insert(index);
    }
    return 0;
}

// Encrypts data (zeros when null) at offset in this thread's buffer and
// writes it there, a piece at a time; tag: the blocks a piece holds
// whole are tagged from the ciphertext just written, so that the next
// commit need not read them back.
SysError
MountFile::WriteEncrypted(NPT_UInt64 offset, const NPT_UInt8* data, std::size_t size, bool tag)
{
    NPT_UInt8* piece = t_Buffer.Bytes();
    for (std::size_t done = 0; done < size;) {
        const NPT_UInt64 at = offset + done;
        // pieces end where kPiece divides the offset, and so do blocks
        const std::size_t length = static_cast<std::size_t>(std::min<NPT_UInt64>(size - done, kPiece - at % kPiece));
        NPT_Result result = NPT_SUCCESS;
        for (std::size_t step = 0; step < length && NPT_SUCCEEDED(result); step += kStep) {
            const std::size_t part = std::min(kStep, length - step);
            if (data != nullptr) {
                std::memcpy(piece + step, data + done + step, part);
            } else {
                std::memset(piece + step, 0, part);
            }
            result = tvk_transform(m_Secrets.key, piece + step, part, at + step);
        }
        if (NPT_FAILED(result)) {
            NPT_WipeMemory(piece, length);  // may hold cleartext
            return EIO;
        }
        if (SysError error = WriteAt(m_File, piece, length, at)) return error;
        if (tag) TagWritten(at, piece, length);
        done += length;
    }
    return 0;
}

// Tags the blocks that bytes at .. at + length - 1, just written from
// cipher, hold whole (the last block of the file counts with its length
// now; a later write there makes it stale again).
void
MountFile::TagWritten(NPT_UInt64 at, const NPT_UInt8* cipher, std::size_t length)
{
    if (!Tracked() || m_Removed || (!m_Writer && StartWriter() != 0)) return;
    const NPT_UInt64 end = at + length;
    for (NPT_UInt64 index = (at + m_BlockSize - 1) / m_BlockSize;; ++index) {
        const NPT_UInt64 start = index * m_BlockSize;
        const NPT_UInt64 block_end = std::min(start + m_BlockSize, std::max(m_Size, end));
        if (block_end > end || start >= block_end) break;
        m_Writer->ForgetBlock(index);
        if (NPT_SUCCEEDED(m_Writer->AddBlock(index, cipher + (start - at), static_cast<NPT_Size>(block_end - start)))) {
            m_Stale.erase(index);
        }
    }
}

// Whether a write of bytes from .. to - 1 leaves the size and every
// record as they are: the blocks it touches are written and stale
// already (or the file has no check file), within the file.
bool
MountFile::InPlace(NPT_UInt64 from, NPT_UInt64 to) const
{
    if (to > m_Size) return false;
    if (!Tracked()) return true;
    for (NPT_UInt64 index = from / m_BlockSize; index <= (to - 1) / m_BlockSize; ++index) {
        if (m_Stale.count(index) == 0) return false;  // stale blocks are written ones
    }
    return true;
}

SysError
MountFile::Write(NPT_UInt64 offset, const void* data, std::size_t size)
{
    const NPT_UInt8* bytes = static_cast<const NPT_UInt8*>(data);
    {
        // rewriting bytes whose records are made: alongside reads and
        // other such writes
        std::shared_lock<std::shared_mutex> lock(m_Lock);
        if (!m_Writable) return EBADF;
        if (size == 0) return 0;
        if (InPlace(offset, offset + size)) return WriteEncrypted(offset, bytes, size, false);
    }
    std::unique_lock<std::shared_mutex> lock(m_Lock);
    if (!m_Writable) return EBADF;
    // the size first, so that the last block is tagged with its length;
    // back as it was when the write fails
    const NPT_UInt64 old_size = m_Size;
    SysError error = 0;
    if (offset > m_Size) {
        // a gap up to the write reads as zeros
        error = Touch(m_Size, offset);
        m_Size = offset;
        if (!error) error = WriteEncrypted(old_size, nullptr, static_cast<std::size_t>(offset - old_size), true);
    }
    if (!error) error = Touch(offset, offset + size);
    m_Size = std::max<NPT_UInt64>(m_Size, offset + size);
    if (!error) error = WriteEncrypted(offset, bytes, size, true);
    if (error) m_Size = old_size;
    return error;
}

SysError
MountFile::Resize(NPT_UInt64 size)
{
    std::unique_lock<std::shared_mutex> lock(m_Lock);
    if (!m_Writable) return EBADF;
    if (size == m_Size) return 0;
    if (size > m_Size) {
        if (SysError error = Touch(m_Size, size)) return error;
        const NPT_UInt64 old_size = m_Size;
        m_Size = size;
        SysError error = WriteEncrypted(old_size, nullptr, static_cast<std::size_t>(size - old_size), true);
        if (error) m_Size = old_size;
        return error;
    }
    // the block the new end falls in keeps part of its bytes
    if (size % m_BlockSize != 0) {
        if (SysError error = Touch(size - size % m_BlockSize, size)) return error;
    }
    if (SysError error = ResizeFile(m_File, size)) return error;
    const NPT_UInt64 blocks = BlocksFor(size, m_BlockSize);
    m_Written.erase(m_Written.lower_bound(blocks), m_Written.end());
    m_Stale.erase(m_Stale.lower_bound(blocks), m_Stale.end());
    // the cut blocks are gone: reading there again reads what this mount
    // writes there, never the old tags
    for (NPT_UInt64 index = blocks; m_Check && index < m_Check->BlockCount(); ++index) m_Written.insert(index);
    m_Size = size;
    if (Tracked()) m_CheckPending = true;
    return 0;
}

/*----------------------------------------------------------------------
|   the check file
+---------------------------------------------------------------------*/
SysError
MountFile::StartWriter()
{
    if (m_Writer) return 0;
    std::unique_ptr<TVK_CheckFileWriter> writer(new TVK_CheckFileWriter);
    NPT_Result result;
    if (m_Check) {
        result = writer->StartFrom(*m_Check);
    } else {
        NPT_UInt8 salt[TVK_CheckFile::SALT_SIZE];
        if (SysError error = RandomBytes(salt, sizeof(salt))) return error;
        result = writer->Start(m_Secrets.password, m_Secrets.password_size, salt, sizeof(salt),
                               m_Secrets.iterations, m_BlockSize);
    }
    if (NPT_FAILED(result)) return EIO;
    m_Writer = std::move(writer);
    return 0;
}

// Tags every stale block, read back from the file a piece at a time.
SysError
MountFile::TagStaleBlocks()
{
    const NPT_UInt64 blocks = BlocksFor(m_Size, m_BlockSize);
    m_Writer->KeepBlocks(blocks);
    NPT_UInt8* piece = t_Buffer.Bytes();
    TVK_CheckBlockPieces pieces;
    for (NPT_UInt64 index : m_Stale) {
        if (index >= blocks) break;
        const NPT_UInt64 start = index * m_BlockSize;
        const NPT_UInt64 length = std::min<NPT_UInt64>(m_BlockSize, m_Size - start);
        m_Writer->ForgetBlock(index);
        if (NPT_FAILED(pieces.StartTagging(*m_Writer, index, static_cast<NPT_UInt32>(length)))) return EIO;
        for (NPT_UInt64 at = start; at < start + length;) {
            const std::size_t part = static_cast<std::size_t>(std::min<NPT_UInt64>(start + length - at, kPiece));
            if (SysError error = ReadPlain(at, piece, part)) return error;
            if (NPT_FAILED(pieces.Add(piece, static_cast<NPT_Size>(part)))) return EIO;
            at += part;
        }
        if (NPT_FAILED(pieces.Finish())) return EIO;
    }
    return 0;
}

SysError
MountFile::Commit(bool to_disk)
{
    std::unique_lock<std::shared_mutex> lock(m_Lock);
    if (!m_Writable) return 0;
    const bool changed = !m_Stale.empty() || m_CheckPending;
    if (!changed || !Tracked() || m_Removed) {
        m_Stale.clear();
        m_CheckPending = false;
        return to_disk || changed ? SyncFile(m_File) : 0;
    }
    if (SysError error = StartWriter()) return error;
    if (SysError error = TagStaleBlocks()) return error;
    NPT_DataBuffer bytes;
    NPT_Result result = m_Writer->Serialize(m_Size, bytes);
    if (result == NPT_ERROR_OUT_OF_RANGE) return EFBIG;
    if (NPT_FAILED(result)) return EIO;
    // the data first: a check file never describes data that is not there
    if (SysError error = SyncFile(m_File)) return error;
    TreeStat stat;
    const unsigned mode = StatFile(m_File, stat) == 0 ? stat.mode & 0666 : 0600;
    if (SysError error = m_Place.directory->ReplaceFile(m_Place.name + ".tvkcheck", bytes.GetData(),
                                                        bytes.GetDataSize(), mode)) {
        return error;
    }
    m_Stale.clear();
    m_CheckPending = false;
    return 0;
}

}  // namespace tvkcrypt
