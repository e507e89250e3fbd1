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
| The stream reads its source through the pipeline of
| TvkCipherInputStream.h: slices of at most 16 bytes (spans, from the
| library's own memory and file streams), each encrypted at its true
| offset, a block buffer for bytes the caller has no room for,
| and the source repositioned at every Read. The stream cannot be
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
#include "TvkCipherInputStream.h"

class TVK_BlockCipherFactory;

class NPT_EXPORT TVK_EncryptingStream : public TVK_CipherInputStream
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

    // Read, Tell, GetSize, GetAvailable: see TVK_CipherInputStream;
    // Tell is the count of ciphertext bytes delivered, GetSize the
    // declared (or source) size.

    // NPT_SUCCESS for the current position; any other position
    // NPT_ERROR_NOT_SUPPORTED, nothing changed.
    NPT_Result Seek(NPT_Position position) override;

private:
    using TVK_CipherInputStream::TVK_CipherInputStream;
};

#endif // TVK_ENCRYPTING_STREAM_H
