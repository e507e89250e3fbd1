/*****************************************************************
| TvkCryptoHelper.h - TVK_CryptoHelper, password encryption of streams,
| memory buffers and files.
|
| One call turns a password, a direction and a source into the
| transformed data in a sink. The key is the first 16 bytes of the
| SHA-1 digest of the password bytes (no salt, no iteration), and the
| data is transformed in the header-less format of TvkEncryptingStream.h
| with expansion factor 6: the result is exactly as long as the input.
| A wrong password is not detected; decrypting with it succeeds and
| yields other bytes.
|
| All members are static and a call keeps nothing after it returns: it
| creates its own streams and ciphers and releases them, and wipes the
| key before its memory is freed. Calls on distinct sources and sinks
| may run on different threads at once; one source or sink must not be
| used by two calls at once.
****************************************************************/
#ifndef TVK_CRYPTO_HELPER_H
#define TVK_CRYPTO_HELPER_H

#include "NptTypes.h"
#include "NptResults.h"
#include "NptDataBuffer.h"
#include "NptBlockCipher.h"
#include "NptStreams.h"

class NPT_EXPORT TVK_CryptoHelper
{
public:
    TVK_CryptoHelper() = delete;

    // The expansion factor of the password format: 1024-byte chunks.
    static constexpr NPT_UInt8 EXPANSION_FACTOR = 6;
    // Bytes of the SHA-1 digest used as the AES-128 key.
    static constexpr NPT_Size KEY_SIZE = 16;

    // Stores the 20-byte SHA-1 digest of the password bytes (up to the
    // first zero byte) in key, replacing what it held; key must be able
    // to grow to 20 bytes. The cipher uses the first 16.
    //   null password, or one of 4 GiB or more
    //                        NPT_ERROR_INVALID_PARAMETERS, key untouched
    //   a digest failure     that error; key may then hold anything
    static NPT_Result GenerateKey(const char* password, NPT_DataBuffer& key);
    // The same from password_size bytes, which are all hashed (callers
    // that take passwords as bytes refuse a zero byte first, since the
    // form above would stop at it).
    //   null password with a size        NPT_ERROR_INVALID_PARAMETERS, key untouched
    static NPT_Result GenerateKey(const NPT_UInt8* password, NPT_Size password_size, NPT_DataBuffer& key);

    // Stream form. Transforms input from offset 0 up to its GetSize
    // (whatever its position when handed in) into output. direction
    // ENCRYPT encrypts; every other value decrypts. input must answer
    // GetSize and Seek; the run takes a share of it and gives it back
    // before returning. output is written at its current position and is
    // neither flushed nor closed here.
    //   null password, empty input or output   NPT_ERROR_INVALID_PARAMETERS
    //   input's GetSize fails                  that error
    // (nothing has touched output in these cases)
    //   a read of input or a write of output fails
    //                                          that error; the bytes
    //                                          written before stay in output
    static NPT_Result EncryptDecryptWithPassword(const char*                 password,
                                                 NPT_BlockCipher::Direction  direction,
                                                 NPT_InputStreamReference&   input,
                                                 NPT_OutputStreamReference&  output);

    // Buffer form: the input_size bytes at input (read in place, never
    // copied) into output. Output is given room for input_size bytes
    // before the run, so it grows at most once; beyond the output, a run
    // needs a small constant amount of memory whatever the data size.
    //
    // Callers pass an empty output buffer. The result is written from
    // position 0 of output and the buffer's data size is never lowered:
    // after a successful call on an empty buffer its data size is exactly
    // input_size, but a buffer that already held more bytes keeps its old
    // trailing bytes and its old data size behind the new leading ones.
    //   null password                          NPT_ERROR_INVALID_PARAMETERS
    //   null input with input_size > 0         NPT_ERROR_INVALID_PARAMETERS
    // (output untouched in both cases)
    //   a write to output fails (a borrowed   that error; what was written
    //   block that is too small gives          before stays in output
    //   NPT_ERROR_NOT_SUPPORTED)
    static NPT_Result EncryptDecryptWithPassword(const char*                password,
                                                 NPT_BlockCipher::Direction direction,
                                                 const NPT_UInt8*           input,
                                                 NPT_Size                   input_size,
                                                 NPT_DataBuffer&            output);

    // File form: filein into fileout (UTF-8 paths, or "@STDIN", "@STDOUT",
    // "@STDERR"). The size of filein is asked before fileout is opened,
    // so an input without a size leaves fileout untouched; fileout is then
    // created or cut to 0 bytes, written, flushed and closed (the standard
    // streams are flushed but never closed).
    //   null password                        NPT_ERROR_INVALID_PARAMETERS
    //   filein cannot be opened              NPT_ERROR_NO_SUCH_FILE
    //   filein has no size (e.g. "@STDIN")   the file-information error,
    //                                        normally NPT_ERROR_NO_SUCH_FILE
    // (fileout untouched, not even created, in these cases)
    //   fileout cannot be opened (missing directory, or filein and
    //   fileout are the same file)           NPT_ERROR_NO_SUCH_FILE, and
    //                                        filein is closed again
    //   the run fails                        that error; fileout holds
    //                                        what was written before
    //   the final flush fails (device full)  NPT_ERROR_WRITE_FAILED
    static NPT_Result EncryptDecryptWithPassword(const char*                password,
                                                 NPT_BlockCipher::Direction direction,
                                                 const char*                filein,
                                                 const char*                fileout);

private:
    // The buffer form's one-pass run, once output has room for the result.
    static NPT_Result TransformBuffer(const char*                password,
                                       NPT_BlockCipher::Direction direction,
                                       const NPT_UInt8*           input,
                                       NPT_Size                   input_size,
                                       NPT_DataBuffer&            output);
};

#endif // TVK_CRYPTO_HELPER_H
