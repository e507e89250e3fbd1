/*****************************************************************
| TvkCKey.cpp - the C interface's keys and the in-place transform.
****************************************************************/
#include "TvkCKey.h"

#include <cstring>
#include <new>

#include "Hardening.h"
#include "NptDataBuffer.h"
#include "NptWipe.h"
#include "TvkCSupport.h"
#include "TvkCryptoHelper.h"
#include "TvkStreamCipher.h"

using namespace tvkcrypt;

namespace {

// The key's block cipher lent to a stream cipher, which deletes what it
// is given: the key keeps its own.
class LentCipher : public NPT_BlockCipher
{
public:
    explicit LentCipher(NPT_BlockCipher& cipher) : m_Cipher(cipher) {}
    NPT_Size   GetBlockSize() override { return 16; }
    Direction  GetDirection() override { return ENCRYPT; }
    Algorithm  GetAlgorithm() override { return AES_128; }
    NPT_Result ProcessBlock(const NPT_UInt8* input, NPT_UInt8* output) override
    {
        return m_Cipher.ProcessBlock(input, output);
    }
    NPT_Result ProcessBlocks(const NPT_UInt8* input, NPT_UInt8* output, NPT_Size count) override
    {
        return m_Cipher.ProcessBlocks(input, output, count);
    }

private:
    NPT_BlockCipher& m_Cipher;
};

}  // namespace

/*----------------------------------------------------------------------
|   tvk_key
+---------------------------------------------------------------------*/
NPT_Result
tvk_key::Derive(const void* password, std::size_t password_size, uint8_t raw[TVK_KEY_SIZE])
{
    NPT_CHECK(CheckPassword(password, password_size));
    // the digest lands in this frame, and is wiped here
    NPT_UInt8 digest[20];
    NPT_DataBuffer borrowed;
    borrowed.SetBuffer(digest, sizeof(digest));
    NPT_Result result = TVK_CryptoHelper::GenerateKey(static_cast<const NPT_UInt8*>(password),
                                                      static_cast<NPT_Size>(password_size), borrowed);
    if (NPT_SUCCEEDED(result)) std::memcpy(raw, digest, TVK_KEY_SIZE);
    NPT_WipeMemory(digest, sizeof(digest));
    return result;
}

NPT_Result
tvk_key::Create(const uint8_t raw[TVK_KEY_SIZE], tvk_key*& key)
{
    key = nullptr;
    if (raw == nullptr) return NPT_ERROR_INVALID_PARAMETERS;
    void* memory = AllocateSecretMemory(sizeof(tvk_key));
    if (memory == nullptr) return NPT_ERROR_OUT_OF_MEMORY;
    key = new (memory) tvk_key(raw);
    return NPT_SUCCESS;
}

NPT_Result
tvk_key::FromPassword(const void* password, std::size_t password_size, tvk_key*& key)
{
    key = nullptr;
    uint8_t raw[TVK_KEY_SIZE];
    NPT_Result result = Derive(password, password_size, raw);
    if (NPT_SUCCEEDED(result)) result = Create(raw, key);
    NPT_WipeMemory(raw, sizeof(raw));
    return result;
}

void
tvk_key::Destroy(tvk_key* key)
{
    if (key == nullptr) return;
    key->~tvk_key();  // wipes the schedule
    FreeSecretMemory(key, sizeof(tvk_key));
}

NPT_Result
tvk_key::Transform(void* data, std::size_t size, uint64_t offset) const
{
    if (data == nullptr && size != 0) return NPT_ERROR_INVALID_PARAMETERS;
    TVK_CtrStreamCipher cipher(new LentCipher(m_Cipher), TVK_CryptoHelper::EXPANSION_FACTOR);
    NPT_UInt8* bytes = static_cast<NPT_UInt8*>(data);
    const std::size_t slice_limit = std::size_t(1) << 30;
    while (size > 0) {
        const NPT_Size slice = static_cast<NPT_Size>(size < slice_limit ? size : slice_limit);
        NPT_Size done = slice;
        cipher.SetStreamOffset(offset);
        NPT_CHECK(cipher.ProcessBuffer(bytes, slice, bytes, &done, false));
        bytes += slice;
        size -= slice;
        offset += slice;
    }
    return NPT_SUCCESS;
}

/*----------------------------------------------------------------------
|   the C interface
+---------------------------------------------------------------------*/
TVK_ALIGN_ENTRY tvk_result
tvk_derive_key(const void* password, size_t password_size, uint8_t key[TVK_KEY_SIZE])
{
    if (key != nullptr) std::memset(key, 0, TVK_KEY_SIZE);
    if (key == nullptr) return NPT_ERROR_INVALID_PARAMETERS;
    return Guarded([&] { return tvk_key::Derive(password, password_size, key); });
}

TVK_ALIGN_ENTRY tvk_result
tvk_key_create(const void* password, size_t password_size, tvk_key** key)
{
    if (key == nullptr) return NPT_ERROR_INVALID_PARAMETERS;
    *key = nullptr;
    return Guarded([&] { return tvk_key::FromPassword(password, password_size, *key); });
}

TVK_ALIGN_ENTRY tvk_result
tvk_key_create_raw(const uint8_t raw[TVK_KEY_SIZE], tvk_key** key)
{
    if (key == nullptr) return NPT_ERROR_INVALID_PARAMETERS;
    *key = nullptr;
    return Guarded([&] { return tvk_key::Create(raw, *key); });
}

TVK_ALIGN_ENTRY void
tvk_key_destroy(tvk_key* key)
{
    tvk_key::Destroy(key);
}

TVK_ALIGN_ENTRY tvk_result
tvk_transform(const tvk_key* key, void* data, size_t size, uint64_t offset)
{
    if (key == nullptr) return NPT_ERROR_INVALID_PARAMETERS;
    return Guarded([&] { return key->Transform(data, size, offset); });
}
