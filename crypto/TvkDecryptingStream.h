/*****************************************************************
| TvkDecryptingStream.h - TVK_DecryptingStream, an input stream that
| delivers the cleartext of a stream of encrypted data (the format of
| TvkEncryptingStream.h) while it is read.
|
| The format has no header: nothing is read or checked at creation, the
| cleartext is as long as the encrypted data, and cleartext byte i comes
| from encrypted byte i. A wrong key or expansion factor is not detected;
| the stream then delivers wrong bytes of the right length.
|
| Every byte of the format decrypts on its own given its offset, so the
| stream can be repositioned anywhere from 0 to its size; a Seek costs
| one key-stream refresh (one AES block) and one source Seek. Reading
| goes through the pipeline of TvkCipherInputStream.h: slices of at
| most 16 bytes (spans, from the library's own memory and file streams),
| a block buffer for bytes the caller has no room for,
| and the source repositioned to this stream's own position at every
| Read. Memory use is constant.
|
| Ownership: the stream shares its source through an NPT_Reference and
| owns its cipher (and through it the block cipher). A stream is used
| by one thread at a time.
****************************************************************/
#ifndef TVK_DECRYPTING_STREAM_H
#define TVK_DECRYPTING_STREAM_H

#include "NptTypes.h"
#include "NptResults.h"
#include "NptReferences.h"
#include "NptStreams.h"
#include "TvkCipherInputStream.h"

class TVK_BlockCipherFactory;

class NPT_EXPORT TVK_DecryptingStream : public TVK_CipherInputStream
{
public:
    // Makes decrypting_stream empty, then builds a stream that decrypts
    // encrypted_stream under key (handed to the factory unchanged; the
    // default factory wants 16 bytes) with a TVK_CtrStreamCipher of the
    // given expansion factor, which must be the one used to encrypt.
    //   _cleartext_size  the size, or null to take the source's GetSize.
    // Failures (decrypting_stream stays empty, nothing is kept):
    //   empty encrypted_stream or null factory  NPT_ERROR_INVALID_PARAMETERS
    //   the source's GetSize fails              that error
    //   the factory refuses                     its error
    //   no memory for the stream                NPT_ERROR_OUT_OF_MEMORY
    static NPT_Result Create(NPT_Reference<NPT_InputStream>& encrypted_stream,
                             const NPT_UInt8*                key,
                             NPT_Size                        key_size,
                             TVK_BlockCipherFactory*         block_cipher_factory,
                             NPT_Reference<NPT_InputStream>& decrypting_stream,
                             const NPT_LargeSize*            _cleartext_size,
                             NPT_UInt8                       expansion_factor);

    // Read, Tell, GetSize, GetAvailable: see TVK_CipherInputStream;
    // Tell is the cleartext position, GetSize the given (or source) size.

    // Moves to any position from 0 to the size (the size itself
    // included); the block buffer is always discarded.
    //   position > size          NPT_ERROR_INVALID_PARAMETERS, nothing changed
    //   the source's Seek fails  that error, nothing changed (the stream
    //                            keeps reading correctly from where it was)
    NPT_Result Seek(NPT_Position position) override;

private:
    using TVK_CipherInputStream::TVK_CipherInputStream;
};

#endif // TVK_DECRYPTING_STREAM_H
