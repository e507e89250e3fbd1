/*****************************************************************
| NptBasicDigest.h - NPT_BasicDigest, the 64-byte block machinery
| shared by the Merkle-Damgard digests SHA-1, SHA-256 and MD5.
|
| Update stages partial blocks in a 64-byte buffer and compresses whole
| blocks straight from the caller's bytes when nothing is pending, a
| whole run of them in one CompressBlocks call.
| FinishDigest appends the 0x80 marker, zero fill and the 64-bit message
| bit count, compresses the last block(s) and writes the state words.
| A subclass supplies CompressBlock and its state words.
|
| One object computes one digest and is used by one thread at a time.
| The block buffer and counts are wiped on destruction: they may hold a
| password or a key.
****************************************************************/
#ifndef NPT_BASIC_DIGEST_H
#define NPT_BASIC_DIGEST_H

#include "NptDigest.h"

class NPT_EXPORT NPT_BasicDigest : public NPT_Digest
{
public:
    static const NPT_Size BLOCK_SIZE = 64;

    NPT_BasicDigest();
    ~NPT_BasicDigest() override;
    NPT_BasicDigest(const NPT_BasicDigest&) = delete;
    NPT_BasicDigest& operator=(const NPT_BasicDigest&) = delete;

    // Feeds data_size bytes; any split of the input gives the same
    // digest. Always NPT_SUCCESS (a null data with data_size 0 is fine;
    // a null data with a nonzero size gives NPT_ERROR_INVALID_PARAMETERS).
    NPT_Result Update(const NPT_UInt8* data, NPT_Size data_size) override;

protected:
    // Folds one 64-byte block into the state words.
    virtual void CompressBlock(const NPT_UInt8* block) = 0;

    // Folds block_count consecutive 64-byte blocks, in order. Update
    // hands whole runs of blocks here, so that a digest can keep its
    // state in registers across them; this default compresses them one
    // by one.
    virtual void CompressBlocks(const NPT_UInt8* blocks, NPT_Size block_count);

    // Pads the message, compresses the end, and writes word_count state
    // words (big- or little-endian) into digest, replacing its content.
    // Returns digest's error if it cannot take 4 * word_count bytes
    // (a borrowed block too small), else NPT_SUCCESS.
    NPT_Result FinishDigest(NPT_UInt32*     state,
                            NPT_UInt32      word_count,
                            bool            big_endian,
                            NPT_DataBuffer& digest);

    NPT_UInt64 m_BitCount;
    NPT_UInt32 m_PendingCount;
    NPT_UInt8  m_Buffer[BLOCK_SIZE];
};

#endif // NPT_BASIC_DIGEST_H
