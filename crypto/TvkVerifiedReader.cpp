/*****************************************************************
| TvkVerifiedReader.cpp - ciphertext read block by block, verified.
****************************************************************/
#include "TvkVerifiedReader.h"

#include <cstring>
#include <vector>

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
        const NPT_UInt64 start = index * block_size;
        const NPT_UInt64 length = m_Check.BlockLength(index);
        NPT_UInt64 to = end < start + block_size ? end : start + block_size;
        NPT_Result result;
        if (at == start && to == start + length && length != 0 && length <= kWholeBlock) {
            // this block and the whole ones after it, straight into the buffer
            NPT_UInt64 blocks = 1;
            while (to < end && m_Check.BlockLength(index + blocks) != 0 &&
                   to + m_Check.BlockLength(index + blocks) <= end && blocks < kWholeBlock / block_size) {
                to += m_Check.BlockLength(index + blocks);
                ++blocks;
            }
            NPT_UInt64 verified = 0;
            result = ReadWhole(index, blocks, buffer + (at - offset), verified);
            if (NPT_FAILED(result)) {
                bytes_read += static_cast<std::size_t>((verified - index) * block_size);
                if (result == TVK_ERROR_DATA_DAMAGED) damaged_block = verified;
                return result;
            }
        } else {
            result = CopyPart(index, at, to, buffer + (at - offset));
            if (result == TVK_ERROR_DATA_DAMAGED) damaged_block = index;
            NPT_CHECK(result);
        }
        bytes_read += static_cast<std::size_t>(to - at);
        at = to;
    }
    return NPT_SUCCESS;
}

NPT_Result
VerifiedReader::Verify(NPT_UInt64 index) const
{
    const NPT_UInt64 start = index * m_Check.BlockSize();
    return CopyPart(index, start, start, nullptr);
}

// Whole blocks first .. first + count - 1 (at most kWholeBlock bytes)
// read into out with one read and verified there. On a failure,
// damaged_block is the first block that did not verify (the ones before
// it did).
NPT_Result
VerifiedReader::ReadWhole(NPT_UInt64 first, NPT_UInt64 count, NPT_UInt8* out, NPT_UInt64& damaged_block) const
{
    damaged_block = first;
    NPT_UInt64 length = 0;
    for (NPT_UInt64 index = first; index < first + count; ++index) length += m_Check.BlockLength(index);
    std::size_t got = 0;
    NPT_CHECK(ResultOfError(ReadAt(m_File, out, static_cast<std::size_t>(length), first * m_Check.BlockSize(), got)));
    if (got == length && NPT_SUCCEEDED(m_Check.VerifyBlocks(first, out, static_cast<NPT_Size>(length)))) {
        return NPT_SUCCESS;
    }
    // which block: each one alone, in order
    for (NPT_UInt64 index = first; index < first + count; ++index, damaged_block = index) {
        const NPT_UInt64 offset = (index - first) * m_Check.BlockSize();
        const NPT_UInt64 size = m_Check.BlockLength(index);
        if (offset + size > got || NPT_FAILED(m_Check.VerifyBlock(index, out + offset, static_cast<NPT_Size>(size)))) {
            break;
        }
    }
    return TVK_ERROR_DATA_DAMAGED;
}

// Bytes from .. to - 1 of block index, from the block verified whole:
// out of the cache, loaded into it by this thread, or by another one
// that this one waits for.
NPT_Result
VerifiedReader::CopyPart(NPT_UInt64 index, NPT_UInt64 from, NPT_UInt64 to, NPT_UInt8* out) const
{
    const NPT_UInt64 start = index * m_Check.BlockSize();
    const NPT_UInt64 length = m_Check.BlockLength(index);
    // bytes the check file does not cover (past its end, in this block
    // or beyond) are damage
    if (length == 0 || to > start + length) return TVK_ERROR_DATA_DAMAGED;
    if (length > kWholeBlock) return CopyInPieces(index, length, from, to, out);
    const std::size_t size = static_cast<std::size_t>(length);
    Bytes bytes;
    Slot* slot = nullptr;
    {
        std::unique_lock<std::mutex> lock(m_Lock);
        for (;;) {
            Slot* found = nullptr;
            for (Slot& candidate : m_Slots) {
                if ((candidate.ready || candidate.loading) && candidate.index == index) found = &candidate;
            }
            if (found != nullptr && found->ready) {
                bytes = found->bytes;
                break;
            }
            if (found == nullptr) {
                slot = Claim(index, size);
                if (slot != nullptr) bytes = slot->bytes;
                break;
            }
            m_Loaded.wait(lock);
        }
    }
    if (slot != nullptr || !bytes) {
        // this thread loads it: into the claimed slot's buffer, or into
        // one of its own when every slot is busy loading
        if (!bytes) bytes = Bytes(new NPT_UInt8[size], std::default_delete<NPT_UInt8[]>());
        NPT_Result result = Load(index, bytes.get(), size);
        if (slot != nullptr) {
            std::lock_guard<std::mutex> lock(m_Lock);
            slot->loading = false;
            // Forget during the load dropped the slot's index
            slot->ready = NPT_SUCCEEDED(result) && slot->index == index;
            m_Loaded.notify_all();
        }
        NPT_CHECK(result);
    }
    if (out != nullptr) std::memcpy(out, bytes.get() + (from - start), static_cast<std::size_t>(to - from));
    // let go under the lock, so that Claim sees the buffer free only once
    // the copy is done
    std::lock_guard<std::mutex> lock(m_Lock);
    bytes.reset();
    return NPT_SUCCESS;
}

// A slot for block index, marked loading, with a buffer of at least
// length bytes that no other thread holds; null when every slot is
// loading. Called with the lock held.
VerifiedReader::Slot*
VerifiedReader::Claim(NPT_UInt64 index, std::size_t length) const
{
    for (std::size_t tried = 0; tried < kSlots; ++tried) {
        Slot& slot = m_Slots[m_Next];
        m_Next = (m_Next + 1) % kSlots;
        if (slot.loading) continue;
        // a buffer still being copied from by a reader is left to it
        if (!slot.bytes || slot.bytes.use_count() > 1 || slot.capacity < length) {
            slot.bytes = Bytes(new NPT_UInt8[length], std::default_delete<NPT_UInt8[]>());
            slot.capacity = length;
        }
        slot.index = index;
        slot.ready = false;
        slot.loading = true;
        return &slot;
    }
    return nullptr;
}

NPT_Result
VerifiedReader::Load(NPT_UInt64 index, NPT_UInt8* bytes, std::size_t length) const
{
    std::size_t got = 0;
    NPT_CHECK(ResultOfError(ReadAt(m_File, bytes, length, index * m_Check.BlockSize(), got)));
    if (got != length || NPT_FAILED(m_Check.VerifyBlock(index, bytes, static_cast<NPT_Size>(got)))) {
        return TVK_ERROR_DATA_DAMAGED;
    }
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
        if (out != nullptr && copy_from < copy_to) {
            std::memcpy(out + (copy_from - from), piece.data() + (copy_from - at),
                        static_cast<std::size_t>(copy_to - copy_from));
        }
        at += got;
    }
    return pieces.Finish();
}

void
VerifiedReader::Forget(NPT_UInt64 index)
{
    std::lock_guard<std::mutex> lock(m_Lock);
    for (Slot& slot : m_Slots) {
        if (slot.index != index) continue;
        slot.ready = false;
        // a load under way keeps its buffer but is not kept
        if (slot.loading) slot.index = ~NPT_UInt64(0);
    }
}

}  // namespace tvkcrypt
