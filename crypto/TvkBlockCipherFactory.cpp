/*****************************************************************
| TvkBlockCipherFactory.cpp - the default AES-128 block cipher factory.
****************************************************************/
#include "TvkBlockCipherFactory.h"

TVK_DefaultBlockCipherFactory TVK_DefaultBlockCipherFactory::Instance;

NPT_Result TVK_DefaultBlockCipherFactory::Create(NPT_BlockCipher::Algorithm algorithm,
                                                 NPT_BlockCipher::Direction direction,
                                                 const NPT_UInt8*           key,
                                                 NPT_Size                   key_size,
                                                 NPT_BlockCipher*&          cipher)
{
    cipher = nullptr;
    if (algorithm != NPT_BlockCipher::AES_128) return NPT_ERROR_NOT_SUPPORTED;
    if (key == nullptr || key_size != 16) return NPT_ERROR_INVALID_PARAMETERS;
    return NPT_BlockCipher::Create(NPT_BlockCipher::AES_128, direction, key, 16, cipher);
}
