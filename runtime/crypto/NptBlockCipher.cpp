/*****************************************************************
| NptBlockCipher.cpp - the block cipher factory and the CBC operation
| shared by every NPT_BlockCipher.
****************************************************************/
#include "NptBlockCipher.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "NptAes.h"
#include "NptWipe.h"

namespace {

const unsigned int kBlockSize = 16;
// Blocks handed to ProcessBlocks at once when decrypting CBC: enough to
// keep a hardware pipeline full, small enough to stay on the stack.
const unsigned int kBatchBlocks = 32;

// two 64-bit halves; memcpy keeps it free of alignment assumptions
void XorBlock(NPT_UInt8* target, const NPT_UInt8* source)
{
    NPT_UInt64 t[2], s[2];
    std::memcpy(t, target, kBlockSize);
    std::memcpy(s, source, kBlockSize);
    t[0] ^= s[0];
    t[1] ^= s[1];
    std::memcpy(target, t, kBlockSize);
}

// Whether [a, a + size) and [b, b + size) share a byte.
bool Overlap(const NPT_UInt8* a, const NPT_UInt8* b, NPT_Size size)
{
    const std::uintptr_t x = reinterpret_cast<std::uintptr_t>(a);
    const std::uintptr_t y = reinterpret_cast<std::uintptr_t>(b);
    return x < y + size && y < x + size;
}

} // namespace

/*----------------------------------------------------------------------
|   NPT_BlockCipher::Create
+---------------------------------------------------------------------*/
NPT_Result NPT_BlockCipher::Create(Algorithm        algorithm,
                                   Direction        direction,
                                   const NPT_UInt8* key,
                                   NPT_Size         key_size,
                                   NPT_BlockCipher*& cipher)
{
    cipher = nullptr;
    if (algorithm != AES_128) return NPT_ERROR_NOT_SUPPORTED;
    if (key == nullptr || key_size != 16) return NPT_ERROR_INVALID_PARAMETERS;

    switch (direction) {
        case ENCRYPT:
            cipher = new NPT_AesBlockEncrypter(key, key_size);
            return NPT_SUCCESS;
        case DECRYPT:
            cipher = new NPT_AesBlockDecrypter(key, key_size);
            return NPT_SUCCESS;
    }
    return NPT_ERROR_INVALID_PARAMETERS;
}

/*----------------------------------------------------------------------
|   NPT_BlockCipher::ProcessCbc
|
|   Encryption pads with PKCS#7 (1 to 16 bytes of the pad length, so a
|   whole block is added to input that is already block-aligned).
|   Decryption checks and strips that padding.
|
|   The output is sized before anything is written into it, so a block
|   that cannot take the result (a borrowed one too small) is reported
|   with that buffer's own error and never written past. The input is
|   copied before the output is resized (encryption) or each ciphertext
|   block is saved before its plaintext is written (decryption), so the
|   input may lie inside the output's block.
+---------------------------------------------------------------------*/
NPT_Result NPT_BlockCipher::ProcessBlocks(const NPT_UInt8* input, NPT_UInt8* output, NPT_Size count)
{
    const NPT_Size block_size = GetBlockSize();
    for (NPT_Size i = 0; i < count; ++i) {
        NPT_Result result = ProcessBlock(input + std::size_t(i) * block_size,
                                         output + std::size_t(i) * block_size);
        if (result != NPT_SUCCESS) return result;
    }
    return NPT_SUCCESS;
}

NPT_Result NPT_BlockCipher::ProcessCbc(const NPT_UInt8* input,
                                       NPT_Size         input_size,
                                       const NPT_UInt8* iv,
                                       NPT_DataBuffer&  output)
{
    if (GetBlockSize() != kBlockSize) return NPT_ERROR_NOT_SUPPORTED;
    if (input == nullptr && input_size != 0) return NPT_ERROR_INVALID_PARAMETERS;

    NPT_UInt8 chain[kBlockSize] = {};
    if (iv) std::memcpy(chain, iv, kBlockSize);

    if (GetDirection() == ENCRYPT) {
        const NPT_Size pad = kBlockSize - (input_size % kBlockSize);
        if (input_size > 0xFFFFFFFFu - pad) return NPT_ERROR_INVALID_PARAMETERS;
        const NPT_Size padded_size = input_size + pad;

        NPT_DataBuffer padded(padded_size);
        NPT_Result result = padded.SetDataSize(padded_size);
        if (NPT_FAILED(result)) return result;
        NPT_UInt8* plain = padded.UseData();
        if (input_size) std::memcpy(plain, input, input_size);
        std::memset(plain + input_size, static_cast<int>(pad), pad);

        result = output.SetDataSize(padded_size);
        if (NPT_FAILED(result)) return result;
        NPT_UInt8* out = output.UseData();

        for (NPT_Size offset = 0; offset < padded_size; offset += kBlockSize) {
            XorBlock(chain, plain + offset);
            result = ProcessBlock(chain, out + offset);
            if (NPT_FAILED(result)) break;
            std::memcpy(chain, out + offset, kBlockSize);
        }
        // the padded copy holds the cleartext
        NPT_WipeMemory(plain, padded_size);
        NPT_WipeMemory(chain, sizeof(chain));
        return result;
    }

    // decryption
    if (input_size % kBlockSize != 0) return NPT_ERROR_INVALID_PARAMETERS;
    if (input_size == 0) return NPT_ERROR_INVALID_FORMAT; // no padding byte

    if (output.GetBufferSize() < input_size) {
        NPT_Result result = output.Reserve(input_size);
        if (NPT_FAILED(result)) return result;
    }
    NPT_UInt8* out = output.UseData();

    // Blocks are decrypted several at a time (ProcessBlocks), then each
    // is XORed with the ciphertext block before it. When the output lies
    // over the input (in place, or the input further on in the output's
    // block) each batch of ciphertext is copied first, as the plaintext
    // overwrites it.
    const bool overlap = Overlap(input, out, input_size);
    NPT_UInt8 saved[kBatchBlocks * kBlockSize];
    for (NPT_Size offset = 0; offset < input_size;) {
        NPT_Size blocks = (input_size - offset) / kBlockSize;
        if (blocks > kBatchBlocks) blocks = kBatchBlocks;
        const NPT_Size size = blocks * kBlockSize;
        const NPT_UInt8* cipher = input + offset;
        if (overlap) {
            std::memcpy(saved, cipher, size);
            cipher = saved;
        }
        NPT_Result result = ProcessBlocks(cipher, out + offset, blocks);
        if (NPT_FAILED(result)) return result;
        XorBlock(out + offset, chain);
        for (NPT_Size i = 1; i < blocks; ++i) {
            XorBlock(out + offset + i * kBlockSize, cipher + (i - 1) * kBlockSize);
        }
        std::memcpy(chain, cipher + size - kBlockSize, kBlockSize);
        offset += size;
    }

    const NPT_UInt8 pad = out[input_size - 1];
    if (pad == 0 || pad > kBlockSize) return NPT_ERROR_INVALID_FORMAT;
    for (NPT_Size i = input_size - pad; i < input_size; ++i) {
        if (out[i] != pad) return NPT_ERROR_INVALID_FORMAT;
    }
    return output.SetDataSize(input_size - pad);
}
