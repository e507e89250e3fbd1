/*****************************************************************
| NptAesEngine.h - the AES implementations behind NPT_AesBlockCipher.
|
| An engine is a stateless singleton that builds a key schedule into
| memory owned by the cipher object and runs blocks through it. Three
| engines exist: x86 AES instructions, ARMv8 cryptography extensions and
| a portable bitsliced engine. None of them looks up a table, branches
| or bounds a loop on the key or the data: the hardware engines leave
| the round functions to the processor, the portable one computes them
| as boolean circuits over bit planes.
|
| Internal to the library: NPT_AesBlockCipher chooses an engine when it
| is constructed (see NPT_AesSelectImplementation in NptAes.h). The
| engines do no argument checks; the cipher validates key sizes and
| pointers before calling them. Engines hold no state, so any thread
| may use them at any time. The schedule they write is key material and
| is wiped by the cipher that owns it.
****************************************************************/
#ifndef NPT_AES_ENGINE_H
#define NPT_AES_ENGINE_H

#include "NptTypes.h"
#include "NptAes.h"

class NPT_AesEngine
{
public:
    static const unsigned int SCHEDULE_SIZE = NPT_AesBlockCipher::SCHEDULE_SIZE;

    virtual ~NPT_AesEngine() {}

    virtual NPT_AesImplementation GetImplementation() const = 0;
    // key_size is 16, 24 or 32 and round_count the matching 10, 12 or
    // 14; writes at most SCHEDULE_SIZE bytes of schedule.
    virtual void ExpandKey(const NPT_UInt8* key,
                           NPT_Size         key_size,
                           NPT_UInt32       round_count,
                           NPT_UInt8*       schedule) const = 0;
    // count independent 16-byte blocks; input may equal output.
    virtual void Encrypt(const NPT_UInt8* schedule,
                         NPT_UInt32       round_count,
                         const NPT_UInt8* input,
                         NPT_UInt8*       output,
                         NPT_Size         count) const = 0;
    virtual void Decrypt(const NPT_UInt8* schedule,
                         NPT_UInt32       round_count,
                         const NPT_UInt8* input,
                         NPT_UInt8*       output,
                         NPT_Size         count) const = 0;
    // CBC encryption of count blocks: output_i = E(input_i XOR chain),
    // chain = output_i. input may equal output. The default runs Encrypt
    // one block at a time.
    virtual void EncryptCbc(const NPT_UInt8* schedule,
                            NPT_UInt32       round_count,
                            NPT_UInt8*       chain,
                            const NPT_UInt8* input,
                            NPT_UInt8*       output,
                            NPT_Size         count) const;
    // CBC decryption of count blocks: output_i = D(input_i) XOR input_i-1
    // (chain for i = 0), chain = the last input block. output may equal
    // input or start before it, but must not start inside it. The
    // default decrypts up to 8 saved blocks at a time with Decrypt.
    virtual void DecryptCbc(const NPT_UInt8* schedule,
                            NPT_UInt32       round_count,
                            NPT_UInt8*       chain,
                            const NPT_UInt8* input,
                            NPT_UInt8*       output,
                            NPT_Size         count) const;
};

// The engines. The hardware ones return null when the library was not
// built for that processor family or this processor lacks the
// instructions; the portable one is always there.
const NPT_AesEngine* NPT_AesX86Engine();
const NPT_AesEngine* NPT_AesArmEngine();
const NPT_AesEngine& NPT_AesPortableEngine();

#endif // NPT_AES_ENGINE_H
