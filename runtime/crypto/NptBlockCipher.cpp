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

// Whether [a, a + a_size) and [b, b + b_size) share a byte.
bool Overlap(const NPT_UInt8* a, const NPT_UInt8* b, NPT_Size a_size, NPT_Size b_size)
{
    const std::uintptr_t x = reinterpret_cast<std::uintptr_t>(a);
    const std::uintptr_t y = reinterpret_cast<std::uintptr_t>(b);
    return x < y + b_size && y < x + a_size;
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
|   NPT_BlockCipher::ProcessBlocks and the CBC chaining steps
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

NPT_Result NPT_BlockCipher::EncryptCbcBlocks(NPT_UInt8*       chain,
                                             const NPT_UInt8* input,
                                             NPT_UInt8*       output,
                                             NPT_Size         count)
{
    for (NPT_Size i = 0; i < count; ++i) {
        XorBlock(chain, input + std::size_t(i) * kBlockSize);
        NPT_Result result = ProcessBlock(chain, output + std::size_t(i) * kBlockSize);
        if (NPT_FAILED(result)) return result;
        std::memcpy(chain, output + std::size_t(i) * kBlockSize, kBlockSize);
    }
    return NPT_SUCCESS;
}

NPT_Result NPT_BlockCipher::DecryptCbcSingly(const NPT_UInt8* chain,
                                             const NPT_UInt8* input,
                                             NPT_UInt8*       output,
                                             NPT_Size         count)
{
    for (NPT_Size i = 0; i < count; ++i) {
        NPT_Result result = ProcessBlock(input + i * kBlockSize, output + i * kBlockSize);
        if (NPT_FAILED(result)) return result;
        XorBlock(output + i * kBlockSize, i == 0 ? chain : input + (i - 1) * kBlockSize);
    }
    return NPT_SUCCESS;
}

NPT_Result NPT_BlockCipher::DecryptCbcBlocks(NPT_UInt8*       chain,
                                             const NPT_UInt8* input,
                                             NPT_UInt8*       output,
                                             NPT_Size         count)
{
    // Blocks are decrypted several at a time (ProcessBlocks), then each
    // is XORed with the ciphertext block before it. When the output lies
    // over the input each batch of ciphertext is copied first, as the
    // plaintext overwrites it.
    const NPT_Size total = count * kBlockSize;
    const bool overlap = Overlap(input, output, total, total);
    NPT_UInt8 saved[kBatchBlocks * kBlockSize];
    for (NPT_Size offset = 0; offset < total;) {
        NPT_Size blocks = (total - offset) / kBlockSize;
        if (blocks > kBatchBlocks) blocks = kBatchBlocks;
        const NPT_Size size = blocks * kBlockSize;
        const NPT_UInt8* cipher = input + offset;
        if (overlap) {
            std::memcpy(saved, cipher, size);
            cipher = saved;
        }
        NPT_Result result = ProcessBlocks(cipher, output + offset, blocks);
        if (NPT_FAILED(result)) {
            // Which blocks the batch finished is unknown: redo it one
            // block at a time, so that every block before the failing
            // one leaves fully decrypted, chaining XOR included.
            return DecryptCbcSingly(chain, cipher, output + offset, blocks);
        }
        XorBlock(output + offset, chain);
        for (NPT_Size i = 1; i < blocks; ++i) {
            XorBlock(output + offset + i * kBlockSize, cipher + (i - 1) * kBlockSize);
        }
        std::memcpy(chain, cipher + size - kBlockSize, kBlockSize);
        offset += size;
    }
    return NPT_SUCCESS;
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
|   with that buffer's own error and never written past. Input that lies
|   in the output's block is copied before the output is resized
|   (encryption); decryption reads each ciphertext block before the
|   plaintext overwrites it. So the input may lie inside the output's
|   block. The cleartext copies (the padded last block, and that copy of
|   the input) are wiped before they are released.
+---------------------------------------------------------------------*/
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
        const NPT_Size whole_size = input_size - (input_size % kBlockSize);

        // Resizing the output may move its block; input that lies in it
        // is copied first. Otherwise the whole blocks are read where they
        // are and only the padded last block is assembled here.
        NPT_DataBuffer copy;
        const NPT_UInt8* data = input;
        if (input_size && output.GetData() &&
            Overlap(input, output.GetData(), input_size, output.GetBufferSize())) {
            NPT_Result result = copy.SetData(input, input_size);
            if (NPT_FAILED(result)) return result;
            data = copy.GetData();
        }
        NPT_UInt8 last[kBlockSize];
        if (input_size > whole_size) std::memcpy(last, data + whole_size, input_size - whole_size);
        std::memset(last + (input_size - whole_size), static_cast<int>(pad), pad);

        NPT_Result result = output.SetDataSize(padded_size);
        if (NPT_SUCCEEDED(result)) {
            NPT_UInt8* out = output.UseData();
            result = EncryptCbcBlocks(chain, data, out, whole_size / kBlockSize);
            if (NPT_SUCCEEDED(result)) result = EncryptCbcBlocks(chain, last, out + whole_size, 1);
        }
        // the copies hold cleartext
        NPT_WipeMemory(last, sizeof(last));
        if (copy.GetDataSize()) NPT_WipeMemory(copy.UseData(), copy.GetDataSize());
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

    NPT_Result result = DecryptCbcBlocks(chain, input, out, input_size / kBlockSize);
    if (NPT_FAILED(result)) return result;

    const NPT_UInt8 pad = out[input_size - 1];
    if (pad == 0 || pad > kBlockSize) return NPT_ERROR_INVALID_FORMAT;
    for (NPT_Size i = input_size - pad; i < input_size; ++i) {
        if (out[i] != pad) return NPT_ERROR_INVALID_FORMAT;
    }
    return output.SetDataSize(input_size - pad);
}
