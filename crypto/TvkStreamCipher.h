/*****************************************************************
| TvkStreamCipher.h - TVK_StreamCipher, a byte stream cipher that can be
| positioned anywhere in the stream, and TVK_CtrStreamCipher, its
| counter-mode implementation.
|
| The key stream of TVK_CtrStreamCipher is the core of the encrypted
| data format and must never change. The stream is cut into chunks of
| 16 << expansion_factor bytes; chunk c is XORed with K(c), the block
| cipher's output for the counter block of 12 zero bytes followed by c
| in big-endian order, repeated over the whole chunk. The counter is
| the chunk number of the offset (kept modulo 2^32), not a running
| count, and there is no IV. Encrypting and decrypting are the same
| operation, so the block cipher is always used in the ENCRYPT
| direction. With expansion_factor 0 this is plain AES-CTR with an
| all-zero initial counter block.
|
| Since a chunk's key stream is one block repeated, the cipher keeps just
| that block and XORs it onto the data in the widest registers the
| processor offers (16, 32 or 64 bytes, chosen at run time; 8-byte words
| where there are no vector registers). A call that covers several
| chunks makes the blocks of up to BATCH_CHUNKS of them with one
| NPT_BlockCipher::ProcessBlocks call, which hardware AES pipelines.
|
| Ownership: the cipher owns its block cipher and deletes it. The key
| blocks are wiped when the cipher is destroyed.
| Threads: an instance is used by one thread at a time. The XOR width is
| one setting for the whole process (SelectXorWidth); every width gives
| the same bytes.
****************************************************************/
#ifndef TVK_STREAM_CIPHER_H
#define TVK_STREAM_CIPHER_H

#include "NptBlockCipher.h"
#include "NptResults.h"
#include "NptTypes.h"

class NPT_EXPORT TVK_StreamCipher
{
public:
    virtual ~TVK_StreamCipher() {}

    virtual NPT_Result SetStreamOffset(NPT_UInt64 offset) = 0;
    virtual NPT_UInt64 GetStreamOffset() = 0;
    virtual NPT_Result ProcessBuffer(const NPT_UInt8* in,
                                     NPT_Size         in_size,
                                     NPT_UInt8*       out,
                                     NPT_Size*        out_size,
                                     bool             is_last_buffer) = 0;
    virtual NPT_Result SetIV(const NPT_UInt8* iv) = 0;
    virtual const NPT_UInt8* GetIV() = 0;
};

class NPT_EXPORT TVK_CtrStreamCipher : public TVK_StreamCipher
{
public:
    static const NPT_UInt8 MAX_EXPANSION_FACTOR = 8;
    // Chunks whose key blocks one ProcessBlocks call makes at most.
    static const NPT_Size BATCH_CHUNKS = 32;

    // Register width, in bytes, of the XOR of key stream onto data.
    enum XorWidth {
        XOR_WIDTH_AUTO     = 0,   // the widest this processor supports
        XOR_WIDTH_PORTABLE = 8,   // plain 64-bit words, any processor
        XOR_WIDTH_SSE2     = 16,
        XOR_WIDTH_AVX2     = 32,
        XOR_WIDTH_AVX512   = 64
    };
    // Whether this build on this processor can XOR at width (AUTO and
    // PORTABLE always can).
    static bool IsXorWidthSupported(XorWidth width);
    // Makes every cipher of the process XOR at width from now on; meant
    // for tests and benchmarks, which compare the widths. Any thread may
    // call it at any time: every width gives the same bytes, and a call
    // of ProcessBuffer already under way may finish at the old one.
    //   width not supported here   NPT_ERROR_NOT_SUPPORTED, nothing changes
    static NPT_Result SelectXorWidth(XorWidth width);
    // The width in use (never AUTO).
    static XorWidth GetXorWidth();

    // Takes ownership of block_cipher (null is accepted: ProcessBuffer
    // then fails). An expansion_factor above 8 is taken as 8. The cipher
    // starts at offset 0.
    TVK_CtrStreamCipher(NPT_BlockCipher* block_cipher, NPT_UInt8 expansion_factor);
    ~TVK_CtrStreamCipher() override;
    TVK_CtrStreamCipher(const TVK_CtrStreamCipher&) = delete;
    TVK_CtrStreamCipher& operator=(const TVK_CtrStreamCipher&) = delete;

    // Moves to offset modulo 2^32. Setting the current offset does
    // nothing. Always NPT_SUCCESS; without a block cipher the offset is
    // only stored.
    NPT_Result SetStreamOffset(NPT_UInt64 offset) override;
    // The offset of the next byte, modulo 2^32.
    NPT_UInt64 GetStreamOffset() override;

    // XORs in_size bytes of key stream, from the current offset, onto in
    // and writes them to out, then advances the offset by in_size. in and
    // out may be the same buffer but must not overlap otherwise.
    // is_last_buffer is ignored: nothing is held back. Failures:
    //   no block cipher                    NPT_ERROR_INVALID_STATE
    //   *out_size < in_size                NPT_ERROR_INVALID_PARAMETERS
    //   null in or out with in_size > 0    NPT_ERROR_INVALID_PARAMETERS
    // (nothing processed, offset unchanged in these three cases), and
    //   block cipher failure               its error; the bytes before
    //                                      the failing chunk are processed,
    //                                      counted in *out_size and in the
    //                                      offset.
    // On success *out_size (when given) is set to in_size.
    NPT_Result ProcessBuffer(const NPT_UInt8* in,
                             NPT_Size         in_size,
                             NPT_UInt8*       out,
                             NPT_Size*        out_size,
                             bool             is_last_buffer) override;

    // There is no IV: NPT_ERROR_NOT_SUPPORTED, nothing changes.
    NPT_Result SetIV(const NPT_UInt8* iv) override;
    // Always null.
    const NPT_UInt8* GetIV() override;

private:
    NPT_Result UpdateKeyStream();
    // Processes count bytes (at most BATCH_CHUNKS chunks) starting on a
    // chunk boundary, with all their key blocks made in one call.
    NPT_Result ProcessChunks(const NPT_UInt8* in, NPT_UInt8* out, NPT_Size count);

    NPT_UInt32       m_StreamOffset;
    // K(c) of the chunk holding m_StreamOffset, twice in a row, so that
    // the 16 key-stream bytes from any offset are one contiguous load
    NPT_UInt8        m_KeyStream[32];
    // chunk size: 16 << expansion_factor
    NPT_UInt32       m_KeyStreamSize;
    NPT_BlockCipher* m_BlockCipher;
    NPT_UInt8        m_ExpansionFactor;
    // false until the chunk of the current offset has been computed
    // successfully; forces a recomputation after a block-cipher failure
    bool             m_KeyStreamValid;
    // K(c) of the chunks of one batch
    NPT_UInt8        m_BatchKeys[BATCH_CHUNKS * 16];
    // the counter blocks of one batch: their first 12 bytes are zero for
    // good, and a batch writes only the chunk numbers after them
    NPT_UInt8        m_BatchCounters[BATCH_CHUNKS * 16];
};

#endif // TVK_STREAM_CIPHER_H
