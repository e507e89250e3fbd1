/*****************************************************************
| TvkEncryptingStream.h - TVK_EncryptingStream, an input stream that
| delivers the encrypted form of another input stream while it is read.
|
| Encrypted data format: the ciphertext of N cleartext bytes is exactly
| N bytes, with nothing before or after it (no header, IV, length,
| padding or checksum). Byte i is cleartext byte i XOR the key-stream
| byte at offset i of TVK_CtrStreamCipher:
|     S(i) = K(c)[i mod 16],  c = (i mod 2^32) >> (E + 4)
|     K(c) = AES-128(key, 12 zero bytes || c as 4 bytes big-endian)
| where E is the expansion factor (6 for password encryption). The data
| identifies neither key, E nor length, and a wrong key goes undetected;
| encryption and decryption are the same transformation.
|
| The source is read in slices of at most 16 bytes, each encrypted at
| its true offset; bytes the caller has no room for wait in a 32-byte
| block buffer for the next Read. Memory use is constant. The source is
| repositioned to this stream's own position at every Read, so others
| may move a shared source between reads. The stream cannot be
| repositioned itself: Seek only accepts the current position.
|
| Ownership: the stream shares its source through an NPT_Reference and
| owns its cipher (and through it the block cipher). A stream is used
| by one thread at a time.
****************************************************************/
#ifndef TVK_ENCRYPTING_STREAM_H
#define TVK_ENCRYPTING_STREAM_H

#include "NptTypes.h"
#include "NptResults.h"
#include "NptReferences.h"
#include "NptStreams.h"

class TVK_StreamCipher;
class TVK_BlockCipherFactory;

class TVK_EncryptingStream : public NPT_InputStream
{
public:
    // Makes encrypting_stream empty, then builds a stream that encrypts
    // cleartext_stream under key (handed to the factory unchanged; the
    // default factory wants 16 bytes) with a TVK_CtrStreamCipher of the
    // given expansion factor.
    //   cleartext_size      the declared size, or null to take the
    //                       source's GetSize.
    //   cleartext_position  a starting source offset P, or null for 0.
    //                       With P > 0 the stream delivers the ciphertext
    //                       of source bytes P onward at their true
    //                       offsets; its own position still starts at 0
    //                       and GetSize still reports the whole size.
    // Failures (encrypting_stream stays empty, nothing is kept):
    //   empty cleartext_stream or null factory  NPT_ERROR_INVALID_PARAMETERS
    //   the source's GetSize fails              that error
    //   the factory refuses                     its error
    //   setting the starting offset fails       that error
    //   no memory for the stream                NPT_ERROR_OUT_OF_MEMORY
    static NPT_Result Create(NPT_Reference<NPT_InputStream>& cleartext_stream,
                             const NPT_UInt8*                key,
                             NPT_Size                        key_size,
                             TVK_BlockCipherFactory*         block_cipher_factory,
                             NPT_Reference<NPT_InputStream>& encrypting_stream,
                             const NPT_LargeSize*            cleartext_size,
                             const NPT_Position*             cleartext_position,
                             NPT_UInt8                       expansion_factor);

    ~TVK_EncryptingStream() override;
    TVK_EncryptingStream(const TVK_EncryptingStream&) = delete;
    TVK_EncryptingStream& operator=(const TVK_EncryptingStream&) = delete;

    // Delivers up to bytes_to_read ciphertext bytes; loops until the
    // request is met, the declared size is reached or the source ends.
    // *bytes_read (when given) always holds the count delivered.
    //   nothing left (bytes_to_read > 0)   NPT_ERROR_END_OF_STREAM
    //   the source's Seek fails            that error (bytes taken from
    //                                      the block buffer are counted)
    //   the source's Read fails otherwise  that error (bytes delivered
    //                                      before it are counted)
    //   the source delivers more than asked
    //                                      NPT_ERROR_INTERNAL
    // The source is repositioned on every call, even for 0 bytes.
    NPT_Result Read(void*     buffer,
                    NPT_Size  bytes_to_read,
                    NPT_Size* bytes_read = nullptr) override;
    // NPT_SUCCESS for the current position; any other position
    // NPT_ERROR_NOT_SUPPORTED, nothing changed.
    NPT_Result Seek(NPT_Position position) override;
    // The count of ciphertext bytes delivered. Never fails.
    NPT_Result Tell(NPT_Position& position) override;
    // The declared (or source) size. Never fails.
    NPT_Result GetSize(NPT_LargeSize& size) override;
    // GetSize - Tell. Never fails.
    NPT_Result GetAvailable(NPT_LargeSize& available) override;

private:
    TVK_EncryptingStream(NPT_Reference<NPT_InputStream>& cleartext_stream,
                         TVK_StreamCipher*               stream_cipher,
                         NPT_LargeSize                   size);

    NPT_LargeSize                  m_CleartextSize;
    NPT_Position                   m_CleartextPosition;  // next source byte
    NPT_Reference<NPT_InputStream> m_CleartextStream;
    NPT_LargeSize                  m_EncryptedSize;
    NPT_Position                   m_EncryptedPosition;  // bytes delivered
    TVK_StreamCipher*              m_StreamCipher;       // owned
    NPT_UInt8                      m_Buffer[32];
    NPT_Size                       m_BufferFullness;
    NPT_Size                       m_BufferOffset;
};

#endif // TVK_ENCRYPTING_STREAM_H
