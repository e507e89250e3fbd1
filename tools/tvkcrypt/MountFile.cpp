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

// Block by block: the blocks of the check file verified, those this
// mount wrote as they are.
SysError
MountFile::ReadChecked(NPT_UInt64 offset, NPT_UInt8* buffer, std::size_t size)
{
    const NPT_UInt64 end = offset + size;
    for (NPT_UInt64 at = offset; at < end;) {
        const NPT_UInt64 index = at / m_BlockSize;
        const NPT_UInt64 to = std::min(end, (index + 1) * m_BlockSize);
        NPT_UInt8* out = buffer + (at - offset);
        if (m_Written.count(index) != 0) {
            if (SysError error = ReadPlain(at, out, static_cast<std::size_t>(to - at))) return error;
        } else {
            NPT_Result result = m_Verified->CopyBlock(index, at, to, out);
            if (result == TVK_ERROR_DATA_DAMAGED) {
                ReportDamage(index);
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
    std::vector<NPT_UInt8> old;
    for (NPT_UInt64 index = from / m_BlockSize; index <= (to - 1) / m_BlockSize; ++index) {
        if (m_Written.count(index) != 0) {
            m_Stale.insert(index);
            continue;
        }
        if (m_Check && index < m_Check->BlockCount()) {
            const NPT_UInt64 start = index * m_BlockSize;
            const NPT_UInt64 length = m_Check->BlockLength(index);
            if (from > start || to < start + length) {
                old.resize(static_cast<std::size_t>(std::min<NPT_UInt64>(length, kPiece)));
                // in pieces, so that a huge block never needs a huge buffer
                for (NPT_UInt64 at = start; at < start + length; at += old.size()) {
                    const NPT_UInt64 piece_end = std::min<NPT_UInt64>(start + length, at + old.size());
                    NPT_Result result = m_Verified->CopyBlock(index, at, piece_end, old.data());
                    if (result == TVK_ERROR_DATA_DAMAGED) ReportDamage(index);
                    if (NPT_FAILED(result)) return EIO;
                }
            }
            m_Verified->Forget(index);
        }
        m_Written.insert(index);
        m_Stale.insert(index);
    }
    return 0;
}

// Encrypts a copy of data at offset and writes it there.
SysError
MountFile::WriteEncrypted(NPT_UInt64 offset, const NPT_UInt8* data, std::size_t size)
{
    std::vector<NPT_UInt8> piece(std::min(size, kPiece));
    for (std::size_t done = 0; done < size;) {
        const std::size_t length = std::min(size - done, piece.size());
        if (data != nullptr) {
            std::memcpy(piece.data(), data + done, length);
        } else {
            std::memset(piece.data(), 0, length);
        }
        NPT_Result result = tvk_transform(m_Secrets.key, piece.data(), length, offset + done);
        SysError error = NPT_SUCCEEDED(result) ? WriteAt(m_File, piece.data(), length, offset + done) : EIO;
        if (error) {
            NPT_WipeMemory(piece.data(), piece.size());
            return error;
        }
        done += length;
    }
    // what the buffer held is ciphertext now, but a failed transform
    // may have left cleartext: wiped either way
    NPT_WipeMemory(piece.data(), piece.size());
    return 0;
}

SysError
MountFile::Write(NPT_UInt64 offset, const void* data, std::size_t size)
{
    std::unique_lock<std::shared_mutex> lock(m_Lock);
    if (!m_Writable) return EBADF;
    if (size == 0) return 0;
    // a gap up to the write reads as zeros
    if (offset > m_Size) {
        if (SysError error = Touch(m_Size, offset)) return error;
        if (SysError error = WriteEncrypted(m_Size, nullptr, static_cast<std::size_t>(offset - m_Size))) {
            return error;
        }
        m_Size = offset;
    }
    if (SysError error = Touch(offset, offset + size)) return error;
    if (SysError error = WriteEncrypted(offset, static_cast<const NPT_UInt8*>(data), size)) return error;
    m_Size = std::max<NPT_UInt64>(m_Size, offset + size);
    return 0;
}

SysError
MountFile::Resize(NPT_UInt64 size)
{
    std::unique_lock<std::shared_mutex> lock(m_Lock);
    if (!m_Writable) return EBADF;
    if (size == m_Size) return 0;
    if (size > m_Size) {
        if (SysError error = Touch(m_Size, size)) return error;
        if (SysError error = WriteEncrypted(m_Size, nullptr, static_cast<std::size_t>(size - m_Size))) return error;
        m_Size = size;
        return 0;
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
        result = writer->StartFrom(*m_Check, m_Secrets.password, m_Secrets.password_size);
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

// Tags every stale block, read back from the file.
SysError
MountFile::TagStaleBlocks()
{
    const NPT_UInt64 blocks = BlocksFor(m_Size, m_BlockSize);
    m_Writer->KeepBlocks(blocks);
    std::vector<NPT_UInt8> block;
    for (NPT_UInt64 index : m_Stale) {
        if (index >= blocks) break;
        const NPT_UInt64 start = index * m_BlockSize;
        const std::size_t length = static_cast<std::size_t>(std::min<NPT_UInt64>(m_BlockSize, m_Size - start));
        block.resize(length);
        if (SysError error = ReadPlain(start, block.data(), length)) return error;
        m_Writer->ForgetBlock(index);
        if (NPT_FAILED(m_Writer->AddBlock(index, block.data(), static_cast<NPT_Size>(length)))) return EIO;
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
