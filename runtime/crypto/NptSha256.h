/*****************************************************************
| NptSha256.h - NPT_Sha256Digest, SHA-256 (FIPS 180-4) on
| NPT_BasicDigest.
|
| Created through NPT_Digest::Create(NPT_Digest::SHA256, ...), or
| directly. The raw compression function is public as well, for callers
| that manage their own message padding and want no per-call
| allocation (PBKDF2 precomputes the keyed HMAC states once and then
| compresses two blocks per iteration).
|
| On x86 processors with the SHA extensions (built with GCC or Clang)
| the compression runs on those instructions, chosen once at run time
| (and CompressPair interleaves two messages on them);
| everywhere else, and when the processor lacks them, a portable
| implementation runs. Both give the same results; the tests hold one
| to the other.
|
| The state words are wiped on destruction. A digest object is used by
| one thread at a time; the static functions are safe from any thread.
****************************************************************/
#ifndef NPT_SHA256_H
#define NPT_SHA256_H

#include "NptBasicDigest.h"

class NPT_EXPORT NPT_Sha256Digest : public NPT_BasicDigest
{
public:
    static const NPT_Size DIGEST_SIZE = 32;
    static const NPT_Size STATE_WORDS = 8;

    NPT_Sha256Digest();
    ~NPT_Sha256Digest() override;

    // Writes the 32-byte digest into digest (its data size becomes 32).
    // NPT_SUCCESS, or digest's error when a borrowed block is too small.
    NPT_Result GetDigest(NPT_DataBuffer& digest) override;

    // Stores the eight initial state words of SHA-256 into state.
    static void InitState(NPT_UInt32* state);

    // The state after one 64-byte block of key XOR fill (key_size at most
    // 64; the rest of the block is fill alone): where every inner (fill
    // 0x36) or outer (fill 0x5C) HMAC-SHA-256 hash starts. The block is
    // wiped before returning.
    static void InitHmacState(const NPT_UInt8* key, NPT_Size key_size, NPT_UInt8 fill,
                              NPT_UInt32* state);

    // Folds block_count consecutive 64-byte blocks into the eight state
    // words, with the fastest implementation this processor offers. No
    // padding: the caller frames the message.
    static void Compress(NPT_UInt32* state, const NPT_UInt8* blocks, NPT_Size block_count);

    // Two independent compressions at once: block_count blocks into
    // state_a and as many into state_b. The SHA instructions wait on
    // each other within one message, so two messages interleaved run
    // in about the time of one; without them, one after the other.
    static void CompressPair(NPT_UInt32*      state_a,
                             const NPT_UInt8* blocks_a,
                             NPT_UInt32*      state_b,
                             const NPT_UInt8* blocks_b,
                             NPT_Size         block_count);

    // The same with the portable implementation whatever the processor,
    // and whether Compress runs on the processor's SHA instructions.
    static void CompressPortable(NPT_UInt32* state, const NPT_UInt8* blocks, NPT_Size block_count);
    static bool HasAcceleratedCompress();

protected:
    void CompressBlock(const NPT_UInt8* block) override;
    void CompressBlocks(const NPT_UInt8* blocks, NPT_Size block_count) override;

private:
    NPT_UInt32 m_State[STATE_WORDS];
};

#endif // NPT_SHA256_H
