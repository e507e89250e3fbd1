/*****************************************************************
| TvkVerifiedReader.h - VerifiedReader: the ciphertext of an encrypted
| file read at any offset, each check block it touches read whole and
| verified against its check file before a byte of it is handed out.
| The C interface's reader and the tool's mount read through it.
|
| Each block's ciphertext is read once, hashed as it is read and copied
| from the bytes that were hashed, so what is handed out is what was
| verified even if the file changes meanwhile. Blocks of up to
| kWholeBlock are read in one piece and kept in a small cache of
| verified blocks (Forget drops one whose bytes were rewritten); larger
| ones (a check file may have blocks of 1 GiB) in pieces of kWholeBlock,
| so that a read never holds more than that beyond the caller's buffer.
|
| Private to the library. Reads run on any number of threads at once:
| the file is read at offsets, the check file's keys never change, and
| the cache has a lock. The file and the check file must outlive it.
****************************************************************/
#ifndef TVK_VERIFIED_READER_H
#define TVK_VERIFIED_READER_H

#include <cstddef>
#include <memory>
#include <mutex>
#include <vector>

#include "FileHandle.h"
#include "NptResults.h"
#include "NptTypes.h"
#include "TvkCheckFile.h"

namespace tvkcrypt {

class VerifiedReader
{
public:
    static const std::size_t kWholeBlock = std::size_t(1) << 20;

    // check: a check file whose password is verified.
    VerifiedReader(const FileHandle& file, const TVK_CheckFileReader& check) : m_File(file), m_Check(check) {}
    VerifiedReader(const VerifiedReader&) = delete;
    VerifiedReader& operator=(const VerifiedReader&) = delete;

    // Ciphertext bytes offset .. offset + count - 1 into buffer, block
    // by block; bytes_read counts those of the blocks verified before a
    // failure. TVK_ERROR_DATA_DAMAGED (damaged_block: its index) when a
    // block does not match, is cut short, or lies beyond what the check
    // file covers; the error of a read otherwise.
    NPT_Result Read(NPT_UInt64 offset, NPT_UInt8* buffer, std::size_t count, std::size_t& bytes_read,
                    NPT_UInt64& damaged_block) const;

    // Verifies block index and copies its ciphertext from data offset
    // from to to (within the block) into out. Results as Read.
    NPT_Result CopyBlock(NPT_UInt64 index, NPT_UInt64 from, NPT_UInt64 to, NPT_UInt8* out) const;

    // Drops block index from the cache (its bytes were rewritten).
    void Forget(NPT_UInt64 index);

private:
    typedef std::shared_ptr<const std::vector<NPT_UInt8>> BlockBytes;
    struct Slot {
        NPT_UInt64 index;
        BlockBytes bytes;
    };
    static const std::size_t kSlots = 4;

    NPT_Result CopyInPieces(NPT_UInt64 index, NPT_UInt64 length, NPT_UInt64 from, NPT_UInt64 to,
                            NPT_UInt8* out) const;
    BlockBytes Find(NPT_UInt64 index) const;
    void Keep(NPT_UInt64 index, const BlockBytes& bytes) const;

    const FileHandle&          m_File;
    const TVK_CheckFileReader& m_Check;
    // the last few blocks verified, so that small reads in a row do not
    // verify one block again and again: a cache, kept from const reads
    mutable std::mutex  m_Lock;
    mutable Slot        m_Slots[kSlots] = {};
    mutable std::size_t m_Next = 0;
};

}  // namespace tvkcrypt

#endif  // TVK_VERIFIED_READER_H
