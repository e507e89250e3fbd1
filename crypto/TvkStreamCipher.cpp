/*****************************************************************
| TvkStreamCipher.cpp - the counter-mode key stream with one block
| cipher call per chunk.
****************************************************************/
#include "TvkStreamCipher.h"

#include <atomic>
#include <cstring>

#if !defined(TVK_CTR_NO_SIMD) && defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
// Every vector width compiled per function and chosen at run time, in
// 32-bit builds too (which assume no SSE2 and so check for it).
#include <immintrin.h>
#define TVK_CTR_USE_SSE2 1
#define TVK_CTR_USE_AVX 1
#define TVK_CTR_SSE2_TARGET __attribute__((target("sse2")))
#elif !defined(TVK_CTR_NO_SIMD) && (defined(__SSE2__) || defined(_M_X64))
#include <immintrin.h>
#define TVK_CTR_USE_SSE2 1
#define TVK_CTR_SSE2_TARGET
#endif

#include "NptUtils.h"
#include "NptWipe.h"

namespace {

const NPT_UInt32 kBlockSize = 16;

/*----------------------------------------------------------------------
|   XOR of a repeating 16-byte key onto data
|
|   out[i] = in[i] ^ key[i mod 16] for i < count: key holds the 16
|   key-stream bytes from the current offset, which repeat over the rest
|   of the chunk. One function per register width; each loads the key
|   into a register once (repeated to fill it) and XORs it onto whole
|   registers of data, then finishes with narrower steps. Every part of
|   the data is loaded before it is stored, in ascending order, so in
|   and out may be the same buffer.
+---------------------------------------------------------------------*/
typedef void (*XorFunction)(const NPT_UInt8* in, NPT_UInt8* out, const NPT_UInt8* key, NPT_Size count);

inline void XorTail(const NPT_UInt8* in, NPT_UInt8* out, const NPT_UInt8* key, NPT_Size from, NPT_Size count)
{
    for (NPT_Size i = from; i < count; ++i) out[i] = static_cast<NPT_UInt8>(in[i] ^ key[i % kBlockSize]);
}

void XorPortable(const NPT_UInt8* in, NPT_UInt8* out, const NPT_UInt8* key, NPT_Size count)
{
    NPT_UInt64 k0, k1;
    std::memcpy(&k0, key, 8);
    std::memcpy(&k1, key + 8, 8);
    NPT_Size i = 0;
    for (; i + kBlockSize <= count; i += kBlockSize) {
        NPT_UInt64 d0, d1;
        std::memcpy(&d0, in + i, 8);
        std::memcpy(&d1, in + i + 8, 8);
        d0 ^= k0;
        d1 ^= k1;
        std::memcpy(out + i, &d0, 8);
        std::memcpy(out + i + 8, &d1, 8);
    }
    XorTail(in, out, key, i, count);
}

#if defined(TVK_CTR_USE_SSE2)
// The 16-byte steps every vector width ends with.
TVK_CTR_SSE2_TARGET inline NPT_Size XorSse2Blocks(const NPT_UInt8* in, NPT_UInt8* out, __m128i k, NPT_Size i, NPT_Size count)
{
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
    return i;
}

TVK_CTR_SSE2_TARGET void XorSse2(const NPT_UInt8* in, NPT_UInt8* out, const NPT_UInt8* key, NPT_Size count)
{
    const __m128i k = _mm_loadu_si128(reinterpret_cast<const __m128i*>(key));
    NPT_Size i = XorSse2Blocks(in, out, k, 0, count);
    XorTail(in, out, key, i, count);
}
#endif

#if defined(TVK_CTR_USE_AVX)
__attribute__((target("avx2")))
void XorAvx2(const NPT_UInt8* in, NPT_UInt8* out, const NPT_UInt8* key, NPT_Size count)
{
    const __m128i k16 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(key));
    const __m256i k   = _mm256_broadcastsi128_si256(k16);
    NPT_Size i = 0;
    for (; i + 128 <= count; i += 128) {
        __m256i d0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + i));
        __m256i d1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + i + 32));
        __m256i d2 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + i + 64));
        __m256i d3 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + i + 96));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i), _mm256_xor_si256(d0, k));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i + 32), _mm256_xor_si256(d1, k));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i + 64), _mm256_xor_si256(d2, k));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i + 96), _mm256_xor_si256(d3, k));
    }
    for (; i + 32 <= count; i += 32) {
        __m256i d = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + i));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i), _mm256_xor_si256(d, k));
    }
    i = XorSse2Blocks(in, out, k16, i, count);
    XorTail(in, out, key, i, count);
}

__attribute__((target("avx512f")))
void XorAvx512(const NPT_UInt8* in, NPT_UInt8* out, const NPT_UInt8* key, NPT_Size count)
{
    const __m128i k16 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(key));
    // the zero-masking form: the plain one trips GCC's uninitialised-use
    // warning inside its own header
    const __m512i k   = _mm512_maskz_broadcast_i32x4(0xFFFF, k16);
    NPT_Size i = 0;
    for (; i + 256 <= count; i += 256) {
        __m512i d0 = _mm512_loadu_si512(in + i);
        __m512i d1 = _mm512_loadu_si512(in + i + 64);
        __m512i d2 = _mm512_loadu_si512(in + i + 128);
        __m512i d3 = _mm512_loadu_si512(in + i + 192);
        _mm512_storeu_si512(out + i, _mm512_xor_si512(d0, k));
        _mm512_storeu_si512(out + i + 64, _mm512_xor_si512(d1, k));
        _mm512_storeu_si512(out + i + 128, _mm512_xor_si512(d2, k));
        _mm512_storeu_si512(out + i + 192, _mm512_xor_si512(d3, k));
    }
    for (; i + 64 <= count; i += 64) {
        __m512i d = _mm512_loadu_si512(in + i);
        _mm512_storeu_si512(out + i, _mm512_xor_si512(d, k));
    }
    i = XorSse2Blocks(in, out, k16, i, count);
    XorTail(in, out, key, i, count);
}
#endif

bool ProcessorHas(TVK_CtrStreamCipher::XorWidth width)
{
    switch (width) {
        case TVK_CtrStreamCipher::XOR_WIDTH_AUTO:
        case TVK_CtrStreamCipher::XOR_WIDTH_PORTABLE:
            return true;
#if defined(TVK_CTR_USE_SSE2)
        case TVK_CtrStreamCipher::XOR_WIDTH_SSE2:
#if defined(__x86_64__) || defined(_M_X64) || defined(__SSE2__)
            return true;  // part of every x86-64 processor
#else
            return __builtin_cpu_supports("sse2");
#endif
#endif
#if defined(TVK_CTR_USE_AVX)
        case TVK_CtrStreamCipher::XOR_WIDTH_AVX2:
            return __builtin_cpu_supports("avx2");
        case TVK_CtrStreamCipher::XOR_WIDTH_AVX512:
            return __builtin_cpu_supports("avx512f");
#endif
        default:
            return false;
    }
}

XorFunction FunctionFor(TVK_CtrStreamCipher::XorWidth width)
{
    switch (width) {
#if defined(TVK_CTR_USE_SSE2)
        case TVK_CtrStreamCipher::XOR_WIDTH_SSE2:   return XorSse2;
#endif
#if defined(TVK_CTR_USE_AVX)
        case TVK_CtrStreamCipher::XOR_WIDTH_AVX2:   return XorAvx2;
        case TVK_CtrStreamCipher::XOR_WIDTH_AVX512: return XorAvx512;
#endif
        default:                                    return XorPortable;
    }
}

TVK_CtrStreamCipher::XorWidth WidestSupported()
{
    const TVK_CtrStreamCipher::XorWidth widths[] = {
        TVK_CtrStreamCipher::XOR_WIDTH_AVX512, TVK_CtrStreamCipher::XOR_WIDTH_AVX2,
        TVK_CtrStreamCipher::XOR_WIDTH_SSE2};
    for (TVK_CtrStreamCipher::XorWidth width : widths) {
        if (ProcessorHas(width)) return width;
    }
    return TVK_CtrStreamCipher::XOR_WIDTH_PORTABLE;
}

// The width in use, chosen on first use; a plain load on every call.
std::atomic<int> g_XorWidth{TVK_CtrStreamCipher::XOR_WIDTH_AUTO};

TVK_CtrStreamCipher::XorWidth CurrentWidth()
{
    int width = g_XorWidth.load(std::memory_order_relaxed);
    if (width == TVK_CtrStreamCipher::XOR_WIDTH_AUTO) {
        width = WidestSupported();
        g_XorWidth.store(width, std::memory_order_relaxed);
    }
    return static_cast<TVK_CtrStreamCipher::XorWidth>(width);
}

} // namespace

/*----------------------------------------------------------------------
|   XOR width selection
+---------------------------------------------------------------------*/
bool TVK_CtrStreamCipher::IsXorWidthSupported(XorWidth width)
{
    return ProcessorHas(width);
}

NPT_Result TVK_CtrStreamCipher::SelectXorWidth(XorWidth width)
{
    if (!ProcessorHas(width)) return NPT_ERROR_NOT_SUPPORTED;
    g_XorWidth.store(width == XOR_WIDTH_AUTO ? WidestSupported() : width,
                     std::memory_order_relaxed);
    return NPT_SUCCESS;
}

TVK_CtrStreamCipher::XorWidth TVK_CtrStreamCipher::GetXorWidth()
{
    return CurrentWidth();
}

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
      m_KeyStreamValid(false),
      m_BatchKeys()
{
    m_KeyStreamSize = kBlockSize << m_ExpansionFactor;
}

TVK_CtrStreamCipher::~TVK_CtrStreamCipher()
{
    NPT_WipeMemory(m_KeyStream, sizeof(m_KeyStream));
    NPT_WipeMemory(m_BatchKeys, sizeof(m_BatchKeys));
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

    const XorFunction xor_function = FunctionFor(CurrentWidth());
    NPT_Size processed = 0;
    bool     batching  = true;
    while (processed < in_size) {
        const NPT_UInt32 pos  = m_StreamOffset & (m_KeyStreamSize - 1);
        const NPT_Size   left = in_size - processed;

        // From a chunk boundary, whole runs of chunks get their key blocks
        // in one block-cipher call. A batch that fails is done again one
        // chunk at a time below, which tells exactly which chunk failed.
        if (pos == 0 && batching && left > m_KeyStreamSize) {
            NPT_Size count = m_KeyStreamSize * BATCH_CHUNKS;  // at most 128 KiB
            if (count > left) count = left;
            NPT_Result result = ProcessChunks(in + processed, out + processed, count);
            if (NPT_SUCCEEDED(result)) {
                processed += count;
                continue;
            }
            batching = false;
        }

        if (pos == 0 || !m_KeyStreamValid) {
            NPT_Result result = UpdateKeyStream();
            if (NPT_FAILED(result)) {
                if (out_size) *out_size = processed;
                return result;
            }
        }
        NPT_Size count = m_KeyStreamSize - pos;
        if (count > left) count = left;

        xor_function(in + processed, out + processed, m_KeyStream + pos % kBlockSize, count);
        processed += count;
        m_StreamOffset += count; // wraps modulo 2^32
    }
    return NPT_SUCCESS;
}

/*----------------------------------------------------------------------
|   TVK_CtrStreamCipher::ProcessChunks
|
|   count bytes from a chunk boundary, covering at most BATCH_CHUNKS
|   chunks: the counter blocks of all of them go to the block cipher in
|   one call, then each chunk is XORed with its own block. On failure
|   nothing is written and the offset stays.
+---------------------------------------------------------------------*/
NPT_Result TVK_CtrStreamCipher::ProcessChunks(const NPT_UInt8* in, NPT_UInt8* out, NPT_Size count)
{
    const NPT_Size chunks = (count + m_KeyStreamSize - 1) >> (m_ExpansionFactor + 4);

    // only the blocks in use are written: clearing all of them would cost
    // a 16 KiB batch as much as its counter arithmetic
    NPT_UInt8  counters[BATCH_CHUNKS * kBlockSize];
    NPT_UInt32 offset = m_StreamOffset;
    for (NPT_Size i = 0; i < chunks; ++i) {
        // each chunk's number from its own offset, so that it wraps with
        // the offset at 2^32
        NPT_UInt8* counter = counters + i * kBlockSize;
        const NPT_UInt32 chunk = offset >> (m_ExpansionFactor + 4);
        std::memset(counter, 0, 12);
        counter[12] = static_cast<NPT_UInt8>(chunk >> 24);
        counter[13] = static_cast<NPT_UInt8>(chunk >> 16);
        counter[14] = static_cast<NPT_UInt8>(chunk >> 8);
        counter[15] = static_cast<NPT_UInt8>(chunk);
        offset += m_KeyStreamSize;
    }
    NPT_Result result = m_BlockCipher->ProcessBlocks(counters, m_BatchKeys, chunks);
    if (NPT_FAILED(result)) return result;

    const XorFunction xor_function = FunctionFor(CurrentWidth());
    NPT_Size done = 0;
    for (NPT_Size i = 0; i < chunks; ++i) {
        NPT_Size size = count - done < m_KeyStreamSize ? count - done : m_KeyStreamSize;
        xor_function(in + done, out + done, m_BatchKeys + i * kBlockSize, size);
        done += size;
    }
    m_StreamOffset += count; // wraps modulo 2^32

    // The last chunk's block is the current one if the data ended inside it.
    std::memcpy(m_KeyStream, m_BatchKeys + (chunks - 1) * kBlockSize, kBlockSize);
    std::memcpy(m_KeyStream + kBlockSize, m_KeyStream, kBlockSize);
    m_KeyStreamValid = true;
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
