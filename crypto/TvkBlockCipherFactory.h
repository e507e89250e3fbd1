/*****************************************************************
| TvkBlockCipherFactory.h - TVK_BlockCipherFactory, through which the
| encrypting and decrypting streams obtain their block ciphers, and
| TVK_DefaultBlockCipherFactory, the AES-128 implementation.
|
| The streams take a factory from their caller instead of building a
| block cipher themselves. TVK_DefaultBlockCipherFactory::Instance is an
| ordinary static object, valid for as long as the library can be
| called. It holds no state, so any number of threads may call Create on
| it at once. The caller owns each cipher that Create returns.
****************************************************************/
#ifndef TVK_BLOCK_CIPHER_FACTORY_H
#define TVK_BLOCK_CIPHER_FACTORY_H

#include "NptBlockCipher.h"
#include "NptResults.h"
#include "NptTypes.h"

class NPT_EXPORT TVK_BlockCipherFactory
{
public:
    virtual ~TVK_BlockCipherFactory() {}

    // Sets cipher to null, then creates a block cipher; on success the
    // caller owns it and deletes it through its virtual destructor.
    virtual NPT_Result Create(NPT_BlockCipher::Algorithm algorithm,
                              NPT_BlockCipher::Direction direction,
                              const NPT_UInt8*           key,
                              NPT_Size                   key_size,
                              NPT_BlockCipher*&          cipher) = 0;
};

class NPT_EXPORT TVK_DefaultBlockCipherFactory : public TVK_BlockCipherFactory
{
public:
    static TVK_DefaultBlockCipherFactory Instance;

    // AES with a 16-byte key only. Failures (cipher null in each case):
    //   algorithm other than AES_128          NPT_ERROR_NOT_SUPPORTED
    //                                         (checked before the key)
    //   null key or key_size other than 16    NPT_ERROR_INVALID_PARAMETERS
    //   direction other than ENCRYPT/DECRYPT  NPT_ERROR_INVALID_PARAMETERS
    NPT_Result Create(NPT_BlockCipher::Algorithm algorithm,
                      NPT_BlockCipher::Direction direction,
                      const NPT_UInt8*           key,
                      NPT_Size                   key_size,
                      NPT_BlockCipher*&          cipher) override;
};

#endif // TVK_BLOCK_CIPHER_FACTORY_H
