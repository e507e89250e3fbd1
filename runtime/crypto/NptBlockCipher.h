/*****************************************************************
| NptBlockCipher.h - NPT_BlockCipher, the interface to a 16-byte block
| cipher, with its factory and a CBC operation with PKCS#7 padding.
|
| The only algorithm is AES-128 (see NptAes.h for the concrete classes,
| which also accept 192- and 256-bit keys when built directly).
| Ciphers are immutable after construction: several threads may call
| ProcessBlock on one object at once.
****************************************************************/
#ifndef NPT_BLOCK_CIPHER_H
#define NPT_BLOCK_CIPHER_H

#include "NptTypes.h"
#include "NptResults.h"
#include "NptDataBuffer.h"

class NPT_EXPORT NPT_BlockCipher
{
public:
    enum Algorithm : NPT_Int32 {
        AES_128 = 0
    };
    enum Direction : NPT_Int32 {
        ENCRYPT = 0,
        DECRYPT = 1
    };

    // Sets cipher to null, then:
    //   algorithm other than AES_128        NPT_ERROR_NOT_SUPPORTED
    //   null key or key_size other than 16  NPT_ERROR_INVALID_PARAMETERS
    //   direction other than 0 or 1         NPT_ERROR_INVALID_PARAMETERS
    // On success cipher is a new object owned by the caller. The key
    // bytes are copied; the caller's key is not referenced afterwards.
    static NPT_Result Create(Algorithm        algorithm,
                             Direction        direction,
                             const NPT_UInt8* key,
                             NPT_Size         key_size,
                             NPT_BlockCipher*& cipher);

    virtual ~NPT_BlockCipher() {}

    virtual NPT_Size   GetBlockSize() = 0;
    virtual Direction  GetDirection() = 0;
    virtual Algorithm  GetAlgorithm() = 0;
    // One block from input to output; input and output may be the same.
    virtual NPT_Result ProcessBlock(const NPT_UInt8* input, NPT_UInt8* output) = 0;
    // count independent blocks (16 bytes each) from input to output, as
    // count calls of ProcessBlock would; input and output may be the same
    // but must not otherwise overlap. Implementations that can work on
    // several blocks at once (hardware AES pipelines) override it; the
    // default loops over ProcessBlock and stops at its first failure.
    virtual NPT_Result ProcessBlocks(const NPT_UInt8* input, NPT_UInt8* output, NPT_Size count);
    // CBC over a whole buffer with PKCS#7 padding; a null iv is all zeros.
    // Encrypting writes input_size + pad bytes (pad 1..16); decrypting
    // checks and strips the padding. Failures:
    //   block size other than 16                 NPT_ERROR_NOT_SUPPORTED
    //   decrypt input not a multiple of 16       NPT_ERROR_INVALID_PARAMETERS
    //   decrypt of an empty input                NPT_ERROR_INVALID_FORMAT
    //   bad padding                              NPT_ERROR_INVALID_FORMAT
    //   output cannot be given the needed size   that buffer's error
    //                                            (nothing written past it)
    virtual NPT_Result ProcessCbc(const NPT_UInt8* input,
                                  NPT_Size         input_size,
                                  const NPT_UInt8* iv,
                                  NPT_DataBuffer&  output);

protected:
    // The chained step of CBC encryption over count whole blocks: each
    // input block XOR chain is encrypted into output and becomes the new
    // chain (chain holds the last ciphertext block afterwards). input
    // may equal output. The default XORs and calls ProcessBlock per
    // block and stops at its first failure; ciphers that can keep their
    // round keys in registers across blocks override it.
    virtual NPT_Result EncryptCbcBlocks(NPT_UInt8*       chain,
                                        const NPT_UInt8* input,
                                        NPT_UInt8*       output,
                                        NPT_Size         count);
    // The chained step of CBC decryption: output block i is the
    // decryption of input block i XOR the input block before it (chain
    // for the first); chain holds the last input block afterwards. output
    // may overlap input in any way. The default decrypts batches with
    // ProcessBlocks (copying a batch first when the two overlap) and stops
    // at its first failure, leaving the blocks already written.
    virtual NPT_Result DecryptCbcBlocks(NPT_UInt8*       chain,
                                        const NPT_UInt8* input,
                                        NPT_UInt8*       output,
                                        NPT_Size         count);

private:
    // CBC decryption of count blocks with ProcessBlock alone, stopping
    // at its first failure with every block before it fully decrypted;
    // input must not overlap output. What DecryptCbcBlocks falls back
    // to when a batch fails.
    NPT_Result DecryptCbcSingly(const NPT_UInt8* chain,
                                const NPT_UInt8* input,
                                NPT_UInt8*       output,
                                NPT_Size         count);
};

#endif // NPT_BLOCK_CIPHER_H
