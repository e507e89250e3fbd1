/*****************************************************************
| TvkCipherInputStream.h - TVK_CipherInputStream, the read pipeline that
| TVK_EncryptingStream and TVK_DecryptingStream share.
|
| Encryption and decryption are the same counter-mode transformation,
| so both streams read their source the same way: in slices of at most
| 16 bytes at the source's own offsets, each slice transformed by the
| stream cipher at that offset. Bytes the caller has no room for wait
| in a block buffer for the next Read. The source is repositioned to
| the stream's next source byte at every Read, so others may move a
| shared source between reads. Memory use is constant.
|
| The stream keeps two positions: the count of bytes delivered to the
| reader (what Tell reports) and the offset of the next source byte
| (where the cipher stands). They differ by the undelivered bytes in
| the block buffer, and by a starting offset an encrypting stream may
| be given.
|
| Shortcuts for the library's own sources (of exactly those classes;
| anything derived from them counts as a source of unknown kind): an
| NPT_MemoryStream is read in place, its bytes transformed straight into
| the caller's buffer, and an NPT_StdcFileInputStream is read with one
| request for all the whole slices a Read wants. Both end where the
| slices would have ended, so positions, results and failure codes are
| those of slice-by-slice reading. Any other source sees only 16-byte
| requests.
|
| Only the two streams derive from this class; it supplies Read, Tell,
| GetSize, GetAvailable and the destructor, they supply Create and
| Seek. Ownership: the stream shares its source through an
| NPT_Reference and owns its cipher (and through it the block cipher).
| A stream is used by one thread at a time.
****************************************************************/
#ifndef TVK_CIPHER_INPUT_STREAM_H
#define TVK_CIPHER_INPUT_STREAM_H

#include "NptTypes.h"
#include "NptResults.h"
#include "NptReferences.h"
#include "NptStreams.h"

class NPT_MemoryStream;
class TVK_StreamCipher;
class TVK_BlockCipherFactory;

class NPT_EXPORT TVK_CipherInputStream : public NPT_InputStream
{
public:
    // Wipes the block buffer, deletes the cipher, then gives up this
    // stream's share of the source.
    ~TVK_CipherInputStream() override;
    TVK_CipherInputStream(const TVK_CipherInputStream&) = delete;
    TVK_CipherInputStream& operator=(const TVK_CipherInputStream&) = delete;

    // Delivers up to bytes_to_read transformed bytes; loops until the
    // request is met, the size is reached or the source ends.
    // *bytes_read (when given) always holds the count delivered.
    //   nothing left (bytes_to_read > 0)   NPT_ERROR_END_OF_STREAM
    //   the source's Seek fails            that error (bytes taken from
    //                                      the block buffer are counted)
    //   the source's Read fails otherwise  that error (bytes delivered
    //                                      before it are counted)
    //   null buffer (bytes_to_read > 0)    NPT_ERROR_INVALID_PARAMETERS
    //   the source delivers more than asked, or reports success with
    //   nothing                            NPT_ERROR_INTERNAL
    //   the cipher fails                   that error; the bytes it could
    //                                      not transform are neither
    //                                      delivered nor counted, and the
    //                                      next Read reads them again
    // The source is repositioned on every call, even for 0 bytes.
    NPT_Result Read(void*     buffer,
                    NPT_Size  bytes_to_read,
                    NPT_Size* bytes_read = nullptr) override;
    // The count of bytes delivered (or the position Seek set). Never fails.
    NPT_Result Tell(NPT_Position& position) override;
    // The size given to Create, or the source's size. Never fails.
    NPT_Result GetSize(NPT_LargeSize& size) override;
    // GetSize - Tell. Never fails.
    NPT_Result GetAvailable(NPT_LargeSize& available) override;

    // From now on reads the source slice by slice whatever its kind, as a
    // source of unknown kind is read; for tests and benchmarks that
    // compare the shortcuts with the general path.
    void UseSlicesOnly();

protected:
    // What both Create functions do before building their stream: checks
    // the arguments, takes the size (*given_size, or else the source's
    // GetSize) and builds a TVK_CtrStreamCipher of expansion_factor over
    // an AES-128 block cipher from the factory. The counter-mode cipher
    // only ever encrypts counter blocks, so the block cipher is asked for
    // the ENCRYPT direction whichever way the data goes.
    // On success the caller owns stream_cipher. Failures (stream_cipher
    // null, nothing kept):
    //   empty source or null factory  NPT_ERROR_INVALID_PARAMETERS
    //   the source's GetSize fails    that error
    //   the factory refuses           its error
    //   no memory for the cipher      NPT_ERROR_OUT_OF_MEMORY
    static NPT_Result PrepareCipher(NPT_Reference<NPT_InputStream>& source,
                                    const NPT_UInt8*                key,
                                    NPT_Size                        key_size,
                                    TVK_BlockCipherFactory*         block_cipher_factory,
                                    const NPT_LargeSize*            given_size,
                                    NPT_UInt8                       expansion_factor,
                                    NPT_LargeSize&                  size,
                                    TVK_StreamCipher*&              stream_cipher);

    // Shares source, takes ownership of stream_cipher; both positions 0.
    TVK_CipherInputStream(NPT_Reference<NPT_InputStream>& source,
                          TVK_StreamCipher*               stream_cipher,
                          NPT_LargeSize                   size);

    // How the source is read: slice by slice, in spans, or in place.
    enum SourceKind { SOURCE_SLICED, SOURCE_SPANS, SOURCE_MEMORY };
    static SourceKind KindOf(NPT_InputStream* source);

    // The steps of Read (TvkCipherInputStream.cpp).
    struct ReadPass;
    void       Deliver(ReadPass& pass, NPT_Size size);
    void       TakeBuffered(ReadPass& pass);
    NPT_Result ProcessRun(ReadPass& pass);
    NPT_Result ReadInPlace(ReadPass& pass, NPT_MemoryStream& source, NPT_Size want);
    NPT_Result ReadWholeSlices(ReadPass& pass, NPT_InputStream& source, SourceKind kind);
    NPT_Result ReadPartSlice(ReadPass& pass, NPT_InputStream& source);

    // The size of both the source data and the transformed data: the
    // transformation keeps every byte in place.
    NPT_LargeSize                  m_Size;
    NPT_Position                   m_Position;        // bytes delivered
    NPT_Reference<NPT_InputStream> m_Source;
    NPT_Position                   m_SourcePosition;  // next source byte
    TVK_StreamCipher*              m_StreamCipher;    // owned; stands at
                                                      // m_SourcePosition
    // Transformed bytes not yet delivered; one pass fills at most a
    // 16-byte slice.
    NPT_UInt8                      m_Buffer[32];
    NPT_Size                       m_BufferFullness;
    NPT_Size                       m_BufferOffset;
    SourceKind                     m_SourceKind;
};

#endif // TVK_CIPHER_INPUT_STREAM_H
