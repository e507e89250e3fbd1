/*****************************************************************
| TvkVerifiedReader.cpp - ciphertext read block by block, verified.
****************************************************************/
#include "TvkVerifiedReader.h"

#include <cstring>

namespace tvkcrypt {

NPT_Result
VerifiedReader::Read(NPT_UInt64 offset, NPT_UInt8* buffer, std::size_t count, std::size_t& bytes_read,
                     NPT_UInt64& damaged_block) const
{
    bytes_read = 0;
    const NPT_UInt64 block_size = m_Check.BlockSize();
    const NPT_UInt64 end = offset + count;
    for (NPT_UInt64 at = offset; at < end;) {
        const NPT_UInt64 index = at / block_size;
        const NPT_UInt64 to = end < (index + 1) * block_size ? end : (index + 1) * block_size;
        NPT_Result result = CopyBlock(index, at, to, buffer + (at - offset));
        if (result == TVK_ERROR_DATA_DAMAGED) damaged_block = index;
        NPT_CHECK(result);
        bytes_read += static_cast<std::size_t>(to - at);
        at = to;
    }
    return NPT_SUCCESS;
}

NPT_Result
VerifiedReader::CopyBlock(NPT_UInt64 index, NPT_UInt64 from, NPT_UInt64 to, NPT_UInt8* out) const
{
    const NPT_UInt64 start = index * m_Check.BlockSize();
    const NPT_UInt64 length = m_Check.BlockLength(index);
    // bytes the check file does not cover (past its end, in this block
    // or beyond) are damage
    if (to > start + length) return TVK_ERROR_DATA_DAMAGED;
    if (length > kWholeBlock) return CopyInPieces(index, length, from, to, out);
    BlockBytes bytes = Find(index);
    if (!bytes) {
        std::shared_ptr<std::vector<NPT_UInt8>> read(new std::vector<NPT_UInt8>(static_cast<std::size_t>(length)));
        std::size_t got = 0;
        NPT_CHECK(ResultOfError(ReadAt(m_File, read->data(), read->size(), start, got)));
        if (got != length || NPT_FAILED(m_Check.VerifyBlock(index, read->data(), static_cast<NPT_Size>(got)))) {
            return TVK_ERROR_DATA_DAMAGED;
        }
        bytes = read;
        Keep(index, bytes);
    }
    std::memcpy(out, bytes->data() + (from - start), static_cast<std::size_t>(to - from));
    return NPT_SUCCESS;
}

// A block too large to hold: read in pieces, each hashed and its part
// of the read copied from it.
NPT_Result
VerifiedReader::CopyInPieces(NPT_UInt64 index, NPT_UInt64 length, NPT_UInt64 from, NPT_UInt64 to,
                             NPT_UInt8* out) const
{
    const NPT_UInt64 start = index * m_Check.BlockSize();
    TVK_CheckBlockPieces pieces;
    NPT_CHECK(pieces.StartVerifying(m_Check, index));
    std::vector<NPT_UInt8> piece(kWholeBlock);
    for (NPT_UInt64 at = start; at < start + length;) {
        const std::size_t wanted =
            static_cast<std::size_t>(start + length - at < kWholeBlock ? start + length - at : kWholeBlock);
        std::size_t got = 0;
        NPT_CHECK(ResultOfError(ReadAt(m_File, piece.data(), wanted, at, got)));
        if (got != wanted) return TVK_ERROR_DATA_DAMAGED;
        NPT_CHECK(pieces.Add(piece.data(), static_cast<NPT_Size>(got)));
        const NPT_UInt64 copy_from = from > at ? from : at;
        const NPT_UInt64 copy_to = to < at + got ? to : at + got;
        if (copy_from < copy_to) {
            std::memcpy(out + (copy_from - from), piece.data() + (copy_from - at),
                        static_cast<std::size_t>(copy_to - copy_from));
        }
        at += got;
    }
    return pieces.Finish();
}

VerifiedReader::BlockBytes
VerifiedReader::Find(NPT_UInt64 index) const
{
    std::lock_guard<std::mutex> lock(m_Lock);
    for (const Slot& slot : m_Slots) {
        if (slot.bytes && slot.index == index) return slot.bytes;
    }
    return BlockBytes();
}

void
VerifiedReader::Keep(NPT_UInt64 index, const BlockBytes& bytes) const
{
    std::lock_guard<std::mutex> lock(m_Lock);
    m_Slots[m_Next] = Slot{index, bytes};
    m_Next = (m_Next + 1) % kSlots;
}

void
VerifiedReader::Forget(NPT_UInt64 index)
{
    std::lock_guard<std::mutex> lock(m_Lock);
    for (Slot& slot : m_Slots) {
        if (slot.bytes && slot.index == index) slot.bytes.reset();
    }
}

}  // namespace tvkcrypt
