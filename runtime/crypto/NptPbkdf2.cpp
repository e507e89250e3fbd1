/*****************************************************************
| NptPbkdf2.cpp - PBKDF2-HMAC-SHA-256 on precomputed HMAC states.
****************************************************************/
#include "NptPbkdf2.h"

#include <cstring>

#include "NptDigest.h"
#include "NptSha256.h"
#include "NptUtils.h"
#include "NptWipe.h"

namespace {

const NPT_Size kBlockSize = NPT_BasicDigest::BLOCK_SIZE;
const NPT_Size kHashSize = NPT_Sha256Digest::DIGEST_SIZE;
const NPT_Size kWords = NPT_Sha256Digest::STATE_WORDS;

// The one block that ends a hash over 64 bytes already compressed (the
// pad) plus 32 bytes of message: message, 0x80, zeros, and the length in
// bits, (64 + 32) * 8, in the last 8 bytes.
void FrameBlock(NPT_UInt8* block)
{
    std::memset(block + kHashSize, 0, kBlockSize - kHashSize);
    block[kHashSize] = 0x80;
    NPT_BytesFromInt64Be(block + kBlockSize - 8, NPT_UInt64(kBlockSize + kHashSize) * 8);
}

void StoreWords(NPT_UInt8* bytes, const NPT_UInt32* words)
{
    for (NPT_Size i = 0; i < kWords; ++i) NPT_BytesFromInt32Be(bytes + 4 * i, words[i]);
}

} // namespace

NPT_Result NPT_DeriveKeyPbkdf2Sha256(const NPT_UInt8* password,
                                     NPT_Size         password_size,
                                     const NPT_UInt8* salt,
                                     NPT_Size         salt_size,
                                     NPT_UInt32       iterations,
                                     NPT_UInt8*       out,
                                     NPT_Size         out_size)
{
    if (out == nullptr || out_size == 0 || iterations == 0) return NPT_ERROR_INVALID_PARAMETERS;
    if ((password == nullptr && password_size != 0) || (salt == nullptr && salt_size != 0)) {
        return NPT_ERROR_INVALID_PARAMETERS;
    }

    // HMAC keys longer than a block are replaced by their digest
    NPT_UInt8 hashed_key[kHashSize];
    const NPT_UInt8* key = password;
    NPT_Size key_size = password_size;
    if (key_size > kBlockSize) {
        NPT_Sha256Digest key_digest;
        key_digest.Update(password, password_size);
        NPT_DataBuffer digest;
        key_digest.GetDigest(digest);
        std::memcpy(hashed_key, digest.GetData(), kHashSize);
        NPT_WipeMemory(digest.UseData(), digest.GetBufferSize());
        key = hashed_key;
        key_size = kHashSize;
    }

    NPT_UInt32 inner_start[kWords], outer_start[kWords];
    NPT_Sha256Digest::InitHmacState(key, key_size, 0x36, inner_start);
    NPT_Sha256Digest::InitHmacState(key, key_size, 0x5C, outer_start);

    NPT_UInt32 state[kWords];
    NPT_UInt32 sum[kWords];
    NPT_UInt8 inner_block[kBlockSize], outer_block[kBlockSize];
    FrameBlock(inner_block);
    FrameBlock(outer_block);
    NPT_Result result = NPT_SUCCESS;

    for (NPT_UInt32 block_index = 1; out_size > 0; ++block_index) {
        // U1 = HMAC(password, salt || block index), through the general
        // HMAC: it runs once per output block
        NPT_Digest* hmac = nullptr;
        result = NPT_Hmac::Create(NPT_Digest::SHA256, password, password_size, hmac);
        if (NPT_FAILED(result)) break;
        NPT_UInt8 index_bytes[4];
        NPT_BytesFromInt32Be(index_bytes, block_index);
        hmac->Update(salt, salt_size);
        hmac->Update(index_bytes, sizeof(index_bytes));
        NPT_DataBuffer first;
        result = hmac->GetDigest(first);
        delete hmac;
        if (NPT_SUCCEEDED(result)) {
            std::memcpy(inner_block, first.GetData(), kHashSize);
            for (NPT_Size i = 0; i < kWords; ++i) sum[i] = NPT_Int32FromBytesBe(inner_block + 4 * i);
        }
        NPT_WipeMemory(first.UseData(), first.GetBufferSize());
        if (NPT_FAILED(result)) break;

        // U2 .. Uc: two compressions each, U kept at the head of the
        // inner block, the inner hash at the head of the outer block
        for (NPT_UInt32 i = 1; i < iterations; ++i) {
            std::memcpy(state, inner_start, sizeof(state));
            NPT_Sha256Digest::Compress(state, inner_block, 1);
            StoreWords(outer_block, state);
            std::memcpy(state, outer_start, sizeof(state));
            NPT_Sha256Digest::Compress(state, outer_block, 1);
            StoreWords(inner_block, state);
            for (NPT_Size w = 0; w < kWords; ++w) sum[w] ^= state[w];
        }

        NPT_UInt8 t[kHashSize];
        StoreWords(t, sum);
        NPT_Size count = out_size < kHashSize ? out_size : kHashSize;
        std::memcpy(out, t, count);
        NPT_WipeMemory(t, sizeof(t));
        out += count;
        out_size -= count;
    }

    NPT_WipeMemory(hashed_key, sizeof(hashed_key));
    NPT_WipeMemory(inner_start, sizeof(inner_start));
    NPT_WipeMemory(outer_start, sizeof(outer_start));
    NPT_WipeMemory(state, sizeof(state));
    NPT_WipeMemory(sum, sizeof(sum));
    NPT_WipeMemory(inner_block, sizeof(inner_block));
    NPT_WipeMemory(outer_block, sizeof(outer_block));
    return result;
}
