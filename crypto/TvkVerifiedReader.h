/*****************************************************************
| TvkVerifiedReader.h - VerifiedReader: the ciphertext of an encrypted
| file read at any offset, each check block it touches read whole and
| verified against its check file before a byte of it is handed out.
| The C interface's reader and the tool's mount read through it.
|
| Each block's ciphertext is read once, hashed as it is read and handed
| out from the bytes that were hashed, so what is handed out is what
| was verified even if the file changes meanwhile. The blocks a read
| covers whole are read straight into the caller's buffer (one read for
| the run of them) and verified there, two at a time: no copy. A block
| a read covers only in part is read into the cache of verified blocks
| (kSlots of them, buffers reused) and copied from there, so that small
| reads in a row verify it once; threads that want a block another
| thread is loading wait for it rather than verify it again. Forget
| drops a block whose bytes were rewritten. Blocks larger than
| kWholeBlock (a check file may have blocks of 1 GiB) are read in pieces
| of kWholeBlock, so that a read never holds more than that beyond the
| caller's buffer.
|
| Private to the library. Reads run on any number of threads at once:
| the file is read at offsets, the check file's keys never change, and
| the cache has a lock, never held across a read or a hash. The file
| and the check file must outlive it.
****************************************************************/
#ifndef TVK_VERIFIED_READER_H
#define TVK_VERIFIED_READER_H

#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>

#include "FileHandle.h"
#include "NptResults.h"
#include "NptTypes.h"
#include "TvkCheckFile.h"

namespace tvkcrypt {

class VerifiedReader
{
public:
    static const std::size_t kWholeBlock = std::size_t(1) << 20;
    static const std::size_t kSlots = 8;

    // check: a check file whose password is verified.
    VerifiedReader(const FileHandle& file, const TVK_CheckFileReader& check) : m_File(file), m_Check(check) {}
    VerifiedReader(const VerifiedReader&) = delete;
    VerifiedReader& operator=(const VerifiedReader&) = delete;

    // Ciphertext bytes offset .. offset + count - 1 into buffer;
    // bytes_read counts those of the blocks verified before a failure
    // (the bytes after them are unspecified). TVK_ERROR_DATA_DAMAGED
    // (damaged_block: its index) when a block does not match, is cut
    // short, or lies beyond what the check file covers; the error of a
    // read otherwise.
    NPT_Result Read(NPT_UInt64 offset, NPT_UInt8* buffer, std::size_t count, std::size_t& bytes_read,
                    NPT_UInt64& damaged_block) const;

    // Verifies block index whole, handing nothing out. Results as Read.
    NPT_Result Verify(NPT_UInt64 index) const;

    // Drops block index from the cache (its bytes were rewritten).
    void Forget(NPT_UInt64 index);

private:
    typedef std::shared_ptr<NPT_UInt8> Bytes;  // an array, freed with delete[]
    struct Slot {
        NPT_UInt64  index = 0;
        Bytes       bytes;          // the block's verified ciphertext when ready
        std::size_t capacity = 0;
        bool        ready = false;
        bool        loading = false;
    };

    NPT_Result CopyPart(NPT_UInt64 index, NPT_UInt64 from, NPT_UInt64 to, NPT_UInt8* out) const;
    NPT_Result ReadWhole(NPT_UInt64 first, NPT_UInt64 count, NPT_UInt8* out, NPT_UInt64& damaged_block) const;
    NPT_Result CopyInPieces(NPT_UInt64 index, NPT_UInt64 length, NPT_UInt64 from, NPT_UInt64 to,
                            NPT_UInt8* out) const;
    NPT_Result Load(NPT_UInt64 index, NPT_UInt8* bytes, std::size_t length) const;
    Slot* Claim(NPT_UInt64 index, std::size_t length) const;

    const FileHandle&          m_File;
    const TVK_CheckFileReader& m_Check;
    // a cache, kept from const reads
    mutable std::mutex              m_Lock;
    mutable std::condition_variable m_Loaded;
    mutable Slot                    m_Slots[kSlots];
    mutable std::size_t             m_Next = 0;
};

}  // namespace tvkcrypt

#endif  // TVK_VERIFIED_READER_H
