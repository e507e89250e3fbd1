/*****************************************************************
| TvkCReader.cpp - tvk_reader, an encrypted file read at any offset,
| each block verified against its check file before a byte of it is
| decrypted.
|
| A read covers the check blocks it touches whole: each block's
| ciphertext is read once, hashed as it is read and copied from the
| bytes that were hashed, so what is decrypted is what was verified
| even if the file changes meanwhile. Blocks of up to kWholeBlock are
| read in one piece and kept in a small cache of verified blocks;
| larger ones (a check file may have blocks of 1 GiB) in pieces of
| kWholeBlock, so that a read never holds more than that beyond the
| caller's buffer. Reads run on any number of threads at once: the
| file is read at offsets, the key and the check file's keys never
| change, and the cache has a lock.
****************************************************************/
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

#include "NptWipe.h"
#include "SysError.h"
#include "TvkCKey.h"
#include "TvkCSupport.h"

using namespace tvkcrypt;

namespace {

const std::size_t kWholeBlock = std::size_t(1) << 20;

typedef std::shared_ptr<const std::vector<NPT_UInt8>> BlockBytes;

/*----------------------------------------------------------------------
|   VerifiedBlocks: the ciphertext of the last few blocks verified, so
|   that small reads in a row do not verify one block again and again.
+---------------------------------------------------------------------*/
class VerifiedBlocks
{
public:
    BlockBytes Find(NPT_UInt64 index) const
    {
        std::lock_guard<std::mutex> lock(m_Lock);
        for (const Slot& slot : m_Slots) {
            if (slot.bytes && slot.index == index) return slot.bytes;
        }
        return BlockBytes();
    }
    void Keep(NPT_UInt64 index, const BlockBytes& bytes) const
    {
        std::lock_guard<std::mutex> lock(m_Lock);
        m_Slots[m_Next] = Slot{index, bytes};
        m_Next = (m_Next + 1) % kSlots;
    }

private:
    struct Slot {
        NPT_UInt64 index;
        BlockBytes bytes;
    };
    static const std::size_t kSlots = 4;
    // a cache: kept from const reads, under the lock
    mutable std::mutex  m_Lock;
    mutable Slot        m_Slots[kSlots] = {};
    mutable std::size_t m_Next = 0;
};

}  // namespace

struct tvk_reader {
    FileHandle                           file;
    NPT_UInt64                           size = 0;
    tvk_key*                             key = nullptr;
    std::unique_ptr<TVK_CheckFileReader> check;  // null: reads are not verified
    VerifiedBlocks                       verified;

    tvk_reader() = default;
    ~tvk_reader() { tvk_key::Destroy(key); }
    tvk_reader(const tvk_reader&) = delete;
    tvk_reader& operator=(const tvk_reader&) = delete;

    NPT_Result Open(const char* path, const void* password, size_t password_size, int verify,
                    const char* check_path);
    NPT_Result Read(NPT_UInt64 offset, NPT_UInt8* buffer, size_t count, size_t& bytes_read,
                    tvk_range* damaged) const;

private:
    NPT_Result ReadVerified(NPT_UInt64 offset, NPT_UInt8* buffer, size_t count, size_t& bytes_read,
                            tvk_range* damaged) const;
    NPT_Result CopyVerified(NPT_UInt64 index, NPT_UInt64 from, NPT_UInt64 to, NPT_UInt8* out) const;
    NPT_Result CopyInPieces(NPT_UInt64 index, NPT_UInt64 length, NPT_UInt64 from, NPT_UInt64 to,
                            NPT_UInt8* out) const;
};

NPT_Result
tvk_reader::Open(const char* path, const void* password, size_t password_size, int verify, const char* check_path)
{
    FileInfo info;
    NPT_CHECK(ResultOfError(OpenRegularFile(path, file, info)));
    size = info.size;
    check.reset(new TVK_CheckFileReader);
    bool found = false;
    NPT_CHECK(LoadVerifiedCheck(path, check_path, verify, password, password_size, *check, found));
    if (!found) check.reset();
    return tvk_key::FromPassword(password, password_size, key);
}

NPT_Result
tvk_reader::Read(NPT_UInt64 offset, NPT_UInt8* buffer, size_t count, size_t& bytes_read, tvk_range* damaged) const
{
    bytes_read = 0;
    if (offset >= size) return NPT_SUCCESS;
    if (count > size - offset) count = static_cast<size_t>(size - offset);
    if (check) return ReadVerified(offset, buffer, count, bytes_read, damaged);
    size_t got = 0;
    NPT_CHECK(ResultOfError(ReadAt(file, buffer, count, offset, got)));
    NPT_CHECK(key->Transform(buffer, got, offset));
    bytes_read = got;
    return NPT_SUCCESS;
}

// Block by block: each verified whole, its part of the read copied and
// decrypted, and counted only then.
NPT_Result
tvk_reader::ReadVerified(NPT_UInt64 offset, NPT_UInt8* buffer, size_t count, size_t& bytes_read,
                         tvk_range* damaged) const
{
    const NPT_UInt64 block_size = check->BlockSize();
    const NPT_UInt64 end = offset + count;
    for (NPT_UInt64 at = offset; at < end;) {
        const NPT_UInt64 index = at / block_size;
        const NPT_UInt64 to = end < (index + 1) * block_size ? end : (index + 1) * block_size;
        NPT_UInt8* out = buffer + (at - offset);
        NPT_Result result = CopyVerified(index, at, to, out);
        if (result == TVK_ERROR_DATA_DAMAGED) SetBlockRange(damaged, *check, index * block_size, size);
        NPT_CHECK(result);
        NPT_CHECK(key->Transform(out, static_cast<size_t>(to - at), at));
        bytes_read += static_cast<size_t>(to - at);
        at = to;
    }
    return NPT_SUCCESS;
}

// Verifies block index and copies its ciphertext from data offset from
// to to into out.
NPT_Result
tvk_reader::CopyVerified(NPT_UInt64 index, NPT_UInt64 from, NPT_UInt64 to, NPT_UInt8* out) const
{
    const NPT_UInt64 start = index * check->BlockSize();
    const NPT_UInt64 length = check->BlockLength(index);
    // bytes the check file does not cover (past its end, in this block
    // or beyond) are damage
    if (to > start + length) return TVK_ERROR_DATA_DAMAGED;
    if (length > kWholeBlock) return CopyInPieces(index, length, from, to, out);
    BlockBytes bytes = verified.Find(index);
    if (!bytes) {
        std::shared_ptr<std::vector<NPT_UInt8>> read(new std::vector<NPT_UInt8>(static_cast<size_t>(length)));
        size_t got = 0;
        NPT_CHECK(ResultOfError(ReadAt(file, read->data(), read->size(), start, got)));
        if (got != length || NPT_FAILED(check->VerifyBlock(index, read->data(), static_cast<NPT_Size>(got)))) {
            return TVK_ERROR_DATA_DAMAGED;
        }
        bytes = read;
        verified.Keep(index, bytes);
    }
    std::memcpy(out, bytes->data() + (from - start), static_cast<size_t>(to - from));
    return NPT_SUCCESS;
}

// A block too large to hold: read in pieces, each hashed and its part
// of the read copied from it.
NPT_Result
tvk_reader::CopyInPieces(NPT_UInt64 index, NPT_UInt64 length, NPT_UInt64 from, NPT_UInt64 to, NPT_UInt8* out) const
{
    const NPT_UInt64 start = index * check->BlockSize();
    TVK_CheckBlockPieces pieces;
    NPT_CHECK(pieces.StartVerifying(*check, index));
    std::vector<NPT_UInt8> piece(kWholeBlock);
    for (NPT_UInt64 at = start; at < start + length;) {
        const size_t wanted = static_cast<size_t>(start + length - at < kWholeBlock ? start + length - at : kWholeBlock);
        size_t got = 0;
        NPT_CHECK(ResultOfError(ReadAt(file, piece.data(), wanted, at, got)));
        if (got != wanted) return TVK_ERROR_DATA_DAMAGED;
        NPT_CHECK(pieces.Add(piece.data(), static_cast<NPT_Size>(got)));
        const NPT_UInt64 copy_from = from > at ? from : at;
        const NPT_UInt64 copy_to = to < at + got ? to : at + got;
        if (copy_from < copy_to) {
            std::memcpy(out + (copy_from - from), piece.data() + (copy_from - at), static_cast<size_t>(copy_to - copy_from));
        }
        at += got;
    }
    return pieces.Finish();
}

/*----------------------------------------------------------------------
|   the C interface
+---------------------------------------------------------------------*/
TVK_ALIGN_ENTRY tvk_result
tvk_reader_open(const char* path, const void* password, size_t password_size, int verify,
                const char* check_path, tvk_reader** reader)
{
    if (reader == nullptr) return NPT_ERROR_INVALID_PARAMETERS;
    *reader = nullptr;
    if (path == nullptr) return NPT_ERROR_INVALID_PARAMETERS;
    NPT_CHECK(CheckPassword(password, password_size));
    return NewHandle(reader, [&](tvk_reader& opened) {
        return opened.Open(path, password, password_size, verify, check_path);
    });
}

TVK_ALIGN_ENTRY tvk_result
tvk_reader_size(const tvk_reader* reader, uint64_t* size)
{
    if (size != nullptr) *size = 0;
    if (reader == nullptr || size == nullptr) return NPT_ERROR_INVALID_PARAMETERS;
    *size = reader->size;
    return NPT_SUCCESS;
}

TVK_ALIGN_ENTRY int
tvk_reader_verified(const tvk_reader* reader)
{
    return reader != nullptr && reader->check ? 1 : 0;
}

TVK_ALIGN_ENTRY tvk_result
tvk_reader_read(const tvk_reader* reader, uint64_t offset, void* buffer, size_t size, size_t* bytes_read,
                tvk_range* damaged)
{
    if (bytes_read != nullptr) *bytes_read = 0;
    SetRange(damaged, 0, 0);
    if (reader == nullptr || bytes_read == nullptr || (buffer == nullptr && size != 0)) {
        return NPT_ERROR_INVALID_PARAMETERS;
    }
    return Guarded([&] {
        return reader->Read(offset, static_cast<NPT_UInt8*>(buffer), size, *bytes_read, damaged);
    });
}

TVK_ALIGN_ENTRY void
tvk_reader_close(tvk_reader* reader)
{
    delete reader;
}
