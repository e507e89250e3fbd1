/*****************************************************************
| TvkStreamCipher.cpp - the counter-mode key stream with one block
| cipher call per chunk.
****************************************************************/
#include "TvkStreamCipher.h"

#include <cstring>

#if !defined(TVK_CTR_NO_SIMD) && (defined(__SSE2__) || defined(_M_X64))
#include <emmintrin.h>
#define TVK_CTR_USE_SSE2 1
#endif

#include "NptUtils.h"
#include "NptWipe.h"

namespace {

const NPT_UInt32 kBlockSize = 16;

/*----------------------------------------------------------------------
|   XorRepeatingBlock
|
|   out[i] = in[i] ^ key[i mod 16] for i < count: key holds the 16
|   key-stream bytes from the current offset, which repeat over the rest
|   of the chunk. They are loaded into a register once and XORed onto
|   whole 16-byte blocks of data. Every block is loaded before it is
|   stored, in ascending order, so in and out may be the same buffer.
+---------------------------------------------------------------------*/
void XorRepeatingBlock(const NPT_UInt8* in, NPT_UInt8* out, const NPT_UInt8* key, NPT_Size count)
{
    NPT_Size i = 0;
    if (count >= kBlockSize) {
#if defined(TVK_CTR_USE_SSE2)
        const __m128i k = _mm_loadu_si128(reinterpret_cast<const __m128i*>(key));
        for (; i + 4 * kBlockSize <= count; i += 4 * kBlockSize) {
            __m128i d0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
            __m128i d1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i + 16));
            __m128i d2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i + 32));
            __m128i d3 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i + 48));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_xor_si128(d0, k));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i + 16), _mm_xor_si128(d1, k));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i + 32), _mm_xor_si128(d2, k));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i + 48), _mm_xor_si128(d3, k));
        }
        for (; i + kBlockSize <= count; i += kBlockSize) {
            __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_xor_si128(d, k));
        }
#else
        NPT_UInt64 k0, k1;
        std::memcpy(&k0, key, 8);
        std::memcpy(&k1, key + 8, 8);
        for (; i + kBlockSize <= count; i += kBlockSize) {
            NPT_UInt64 d0, d1;
            std::memcpy(&d0, in + i, 8);
            std::memcpy(&d1, in + i + 8, 8);
            d0 ^= k0;
            d1 ^= k1;
            std::memcpy(out + i, &d0, 8);
            std::memcpy(out + i + 8, &d1, 8);
        }
#endif
    }
    for (; i < count; ++i) out[i] = static_cast<NPT_UInt8>(in[i] ^ key[i % kBlockSize]);
}

} // namespace

/*----------------------------------------------------------------------
|   TVK_CtrStreamCipher
+---------------------------------------------------------------------*/
TVK_CtrStreamCipher::TVK_CtrStreamCipher(NPT_BlockCipher* block_cipher, NPT_UInt8 expansion_factor)
    : m_StreamOffset(0),
      m_KeyStream(),
      m_KeyStreamSize(0),
      m_BlockCipher(block_cipher),
      m_ExpansionFactor(expansion_factor > MAX_EXPANSION_FACTOR ? MAX_EXPANSION_FACTOR
                                                                : expansion_factor),
      m_KeyStreamValid(false)
{
    m_KeyStreamSize = kBlockSize << m_ExpansionFactor;
}

TVK_CtrStreamCipher::~TVK_CtrStreamCipher()
{
    NPT_WipeMemory(m_KeyStream, sizeof(m_KeyStream));
    delete m_BlockCipher;
}

NPT_Result TVK_CtrStreamCipher::SetStreamOffset(NPT_UInt64 offset)
{
    if (offset == NPT_UInt64(m_StreamOffset)) return NPT_SUCCESS;

    m_StreamOffset = static_cast<NPT_UInt32>(offset);
    m_KeyStreamValid = false;
    if (m_BlockCipher && (m_StreamOffset & (m_KeyStreamSize - 1)) != 0) {
        // a failure leaves the chunk marked invalid, and ProcessBuffer
        // retries and reports it
        UpdateKeyStream();
    }
    return NPT_SUCCESS;
}

NPT_UInt64 TVK_CtrStreamCipher::GetStreamOffset()
{
    return m_StreamOffset;
}

NPT_Result TVK_CtrStreamCipher::ProcessBuffer(const NPT_UInt8* in,
                                              NPT_Size         in_size,
                                              NPT_UInt8*       out,
                                              NPT_Size*        out_size,
                                              bool             /* is_last_buffer */)
{
    if (m_BlockCipher == nullptr) return NPT_ERROR_INVALID_STATE;
    if (out_size && *out_size < in_size) return NPT_ERROR_INVALID_PARAMETERS;
    if (in_size > 0 && (in == nullptr || out == nullptr)) return NPT_ERROR_INVALID_PARAMETERS;
    if (out_size) *out_size = in_size;

    NPT_Size processed = 0;
    while (processed < in_size) {
        const NPT_UInt32 pos = m_StreamOffset & (m_KeyStreamSize - 1);
        if (pos == 0 || !m_KeyStreamValid) {
            NPT_Result result = UpdateKeyStream();
            if (NPT_FAILED(result)) {
                if (out_size) *out_size = processed;
                return result;
            }
        }
        NPT_Size count = m_KeyStreamSize - pos;
        if (count > in_size - processed) count = in_size - processed;

        XorRepeatingBlock(in + processed, out + processed, m_KeyStream + pos % kBlockSize, count);
        processed += count;
        m_StreamOffset += count; // wraps modulo 2^32
    }
    return NPT_SUCCESS;
}

NPT_Result TVK_CtrStreamCipher::SetIV(const NPT_UInt8* /* iv */)
{
    return NPT_ERROR_NOT_SUPPORTED;
}

const NPT_UInt8* TVK_CtrStreamCipher::GetIV()
{
    return nullptr;
}

/*----------------------------------------------------------------------
|   TVK_CtrStreamCipher::UpdateKeyStream
|
|   Computes K(c) for the chunk c holding the current offset; the rest of
|   the chunk's key stream repeats it.
+---------------------------------------------------------------------*/
NPT_Result TVK_CtrStreamCipher::UpdateKeyStream()
{
    NPT_UInt8 counter[kBlockSize] = {};
    NPT_BytesFromInt32Be(counter + 12, m_StreamOffset >> (m_ExpansionFactor + 4));

    NPT_Result result = m_BlockCipher->ProcessBlock(counter, m_KeyStream);
    m_KeyStreamValid = NPT_SUCCEEDED(result);
    if (!m_KeyStreamValid) return result;

    std::memcpy(m_KeyStream + kBlockSize, m_KeyStream, kBlockSize);
    return NPT_SUCCESS;
}
