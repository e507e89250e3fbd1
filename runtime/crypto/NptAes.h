/*****************************************************************
| NptAes.h - AES (FIPS-197) behind the NPT_BlockCipher interface.
|
| NPT_AesBlockCipher holds both key schedules (encryption, and the
| equivalent-inverse-cipher decryption schedule) and the round count;
| NPT_AesBlockEncrypter and NPT_AesBlockDecrypter add only the
| direction. NPT_BlockCipher::Create builds them with 16-byte keys;
| direct construction also accepts 24- and 32-byte keys (12 and 14
| rounds). The implementation is table-driven: one round table used with
| byte rotations and one replicated S-box table per direction.
|
| Objects are immutable after construction, so several threads may call
| ProcessBlock on one object at once. The round keys are key material
| and are wiped when the object is destroyed. Copying is disabled so that
| key material is never duplicated behind the owner's back.
****************************************************************/
#ifndef NPT_AES_H
#define NPT_AES_H

#include "NptBlockCipher.h"

class NPT_EXPORT NPT_AesBlockCipher : public NPT_BlockCipher
{
public:
    // 15 round keys of 4 words cover the 14 rounds of a 256-bit key.
    static const unsigned int MAX_ROUND_KEY_WORDS = 60;

    ~NPT_AesBlockCipher() override;
    NPT_AesBlockCipher(const NPT_AesBlockCipher&) = delete;
    NPT_AesBlockCipher& operator=(const NPT_AesBlockCipher&) = delete;

    NPT_Size   GetBlockSize() override { return 16; }
    Algorithm  GetAlgorithm() override { return AES_128; }
    // Never reached through Create, which builds only the two concrete
    // classes: returns NPT_ERROR_INTERNAL.
    NPT_Result ProcessBlock(const NPT_UInt8* input, NPT_UInt8* output) override;

    NPT_UInt32 GetRoundCount() const { return m_RoundCount; }

protected:
    // key_size must be 16, 24 or 32 bytes. A null key or any other size
    // builds no schedule: the round count is 0 and ProcessBlock of the
    // concrete classes then returns NPT_ERROR_INVALID_PARAMETERS without
    // writing anything.
    NPT_AesBlockCipher(const NPT_UInt8* key, NPT_Size key_size);

    NPT_UInt32 m_EncryptionKeys[MAX_ROUND_KEY_WORDS];
    NPT_UInt32 m_DecryptionKeys[MAX_ROUND_KEY_WORDS];
    NPT_UInt32 m_RoundCount;
};

class NPT_EXPORT NPT_AesBlockEncrypter : public NPT_AesBlockCipher
{
public:
    NPT_AesBlockEncrypter(const NPT_UInt8* key, NPT_Size key_size)
        : NPT_AesBlockCipher(key, key_size) {}

    Direction  GetDirection() override { return ENCRYPT; }
    // FIPS-197 cipher on one block; input may equal output. Never fails
    // for an object built with a valid key; a null input or output
    // gives NPT_ERROR_INVALID_PARAMETERS.
    NPT_Result ProcessBlock(const NPT_UInt8* input, NPT_UInt8* output) override;
};

class NPT_EXPORT NPT_AesBlockDecrypter : public NPT_AesBlockCipher
{
public:
    NPT_AesBlockDecrypter(const NPT_UInt8* key, NPT_Size key_size)
        : NPT_AesBlockCipher(key, key_size) {}

    Direction  GetDirection() override { return DECRYPT; }
    // FIPS-197 equivalent inverse cipher on one block; input may equal
    // output. Never fails for an object built with a valid key; a null
    // input or output gives NPT_ERROR_INVALID_PARAMETERS.
    NPT_Result ProcessBlock(const NPT_UInt8* input, NPT_UInt8* output) override;
};

#endif // NPT_AES_H
