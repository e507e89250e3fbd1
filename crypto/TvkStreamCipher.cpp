/*****************************************************************
| TvkStreamCipher.cpp - the counter-mode key stream with one block
| cipher call per chunk.
****************************************************************/
#include "TvkStreamCipher.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
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
|
|   The functions chosen at run time take a whole batch: count bytes in
|   runs of chunk_size, run r XORed with the 16 bytes at keys + 16 r. One
|   call per batch rather than per chunk: in 32-bit builds, whose
|   arguments travel through the stack, a call for every 1 KiB chunk
|   cost a fifth of the XOR's time.
+---------------------------------------------------------------------*/
typedef void (*XorFunction)(const NPT_UInt8* in, NPT_UInt8* out, const NPT_UInt8* keys,
                            NPT_Size chunk_size, NPT_Size count);

// The batch function of one width, with the same target as its run
// function so that the run is inlined into the loop over the chunks.
// The runs move in and out along themselves: the loop then keeps few
// enough values to stay in the six registers of 32-bit x86, where a
// counter spilled to the stack would wait behind the data's stores at
// every chunk.
#define TVK_CTR_XOR_CHUNKS(name, run, target)                                             \
    target void name(const NPT_UInt8* in, NPT_UInt8* out, const NPT_UInt8* keys,           \
                     NPT_Size chunk_size, NPT_Size count)                                 \
    {                                                                                     \
        const NPT_UInt8* const end = in + count;                                          \
        for (; static_cast<NPT_Size>(end - in) > chunk_size; keys += kBlockSize) {        \
            run(in, out, keys, in + chunk_size);                                          \
        }                                                                                 \
        run(in, out, keys, end);                                                          \
    }

// The last bytes of a run, fewer than 16, from a multiple of 16 into it.
// Out of line: only a run that ends inside a 16-byte block has them, and
// the byte loop would take registers from the runs' loops.
#if defined(__GNUC__)
__attribute__((noinline))
#endif
void XorBytes(const NPT_UInt8* in, NPT_UInt8* out, const NPT_UInt8* key, NPT_Size count)
{
    for (NPT_Size i = 0; i < count; ++i) out[i] = static_cast<NPT_UInt8>(in[i] ^ key[i]);
}

inline void XorTail(const NPT_UInt8*& in, NPT_UInt8*& out, const NPT_UInt8* key, const NPT_UInt8* end)
{
    if (in == end) return;
    XorBytes(in, out, key, static_cast<NPT_Size>(end - in));
    out += end - in;
    in = end;
}

inline void XorRunPortable(const NPT_UInt8*& in, NPT_UInt8*& out, const NPT_UInt8* key, const NPT_UInt8* end)
{
    NPT_UInt64 k0, k1;
    std::memcpy(&k0, key, 8);
    std::memcpy(&k1, key + 8, 8);
    for (; end - in >= static_cast<std::ptrdiff_t>(kBlockSize); in += kBlockSize, out += kBlockSize) {
        NPT_UInt64 d0, d1;
        std::memcpy(&d0, in, 8);
        std::memcpy(&d1, in + 8, 8);
        d0 ^= k0;
        d1 ^= k1;
        std::memcpy(out, &d0, 8);
        std::memcpy(out + 8, &d1, 8);
    }
    XorTail(in, out, key, end);
}
TVK_CTR_XOR_CHUNKS(XorPortable, XorRunPortable, )

#if defined(TVK_CTR_USE_SSE2)
// The 16-byte steps every vector width ends with.
TVK_CTR_SSE2_TARGET inline void XorSse2Blocks(const NPT_UInt8*& in, NPT_UInt8*& out, __m128i k, const NPT_UInt8* end)
{
    for (; end - in >= 64; in += 64, out += 64) {
        __m128i d0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
        __m128i d1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 16));
        __m128i d2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 32));
        __m128i d3 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 48));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_xor_si128(d0, k));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16), _mm_xor_si128(d1, k));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 32), _mm_xor_si128(d2, k));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 48), _mm_xor_si128(d3, k));
    }
    for (; end - in >= 16; in += 16, out += 16) {
        __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_xor_si128(d, k));
    }
}

TVK_CTR_SSE2_TARGET inline void XorRunSse2(const NPT_UInt8*& in, NPT_UInt8*& out, const NPT_UInt8* key, const NPT_UInt8* end)
{
    XorSse2Blocks(in, out, _mm_loadu_si128(reinterpret_cast<const __m128i*>(key)), end);
    XorTail(in, out, key, end);
}
TVK_CTR_XOR_CHUNKS(XorSse2, XorRunSse2, TVK_CTR_SSE2_TARGET)
#endif

#if defined(TVK_CTR_USE_AVX)
#define TVK_CTR_AVX2_TARGET __attribute__((target("avx2")))
#define TVK_CTR_AVX512_TARGET __attribute__((target("avx512f,avx512bw")))

TVK_CTR_AVX2_TARGET inline void XorRunAvx2(const NPT_UInt8*& in, NPT_UInt8*& out, const NPT_UInt8* key, const NPT_UInt8* end)
{
    const __m128i k16 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(key));
    const __m256i k   = _mm256_broadcastsi128_si256(k16);
    for (; end - in >= 128; in += 128, out += 128) {
        __m256i d0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in));
        __m256i d1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + 32));
        __m256i d2 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + 64));
        __m256i d3 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + 96));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), _mm256_xor_si256(d0, k));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 32), _mm256_xor_si256(d1, k));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 64), _mm256_xor_si256(d2, k));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 96), _mm256_xor_si256(d3, k));
    }
    for (; end - in >= 32; in += 32, out += 32) {
        __m256i d = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), _mm256_xor_si256(d, k));
    }
    XorSse2Blocks(in, out, k16, end);
    XorTail(in, out, key, end);
}
TVK_CTR_XOR_CHUNKS(XorAvx2, XorRunAvx2, TVK_CTR_AVX2_TARGET)

/*----------------------------------------------------------------------
|   AVX-512: aligned stores
|
|   A 64-byte store across two cache lines costs a fifth or more of the
|   XOR's throughput, and 32-bit Windows heaps align buffers to 8 bytes
|   only. So a byte-masked head brings out to a 64-byte boundary, the key
|   is turned by the head's length to match, and every store after it is
|   aligned; a masked store ends the data.
+---------------------------------------------------------------------*/
// The first count bytes of a block (count at most 64), built from two
// 32-bit halves: 32-bit builds have no 64-bit register to shift.
TVK_CTR_AVX512_TARGET inline __mmask64 ByteMask(NPT_Size count)
{
    const unsigned int low  = count >= 32 ? ~0u : (1u << count) - 1;
    const unsigned int high = count >= 64 ? ~0u : count > 32 ? (1u << (count - 32)) - 1 : 0u;
    return _mm512_kunpackd(_cvtu32_mask32(high), _cvtu32_mask32(low));
}

// count bytes (at most 64) under a mask: the others are neither read nor
// written.
TVK_CTR_AVX512_TARGET inline void XorMaskedAvx512(const NPT_UInt8* in, NPT_UInt8* out, __m512i k, NPT_Size count)
{
    const __mmask64 mask = ByteMask(count);
    _mm512_mask_storeu_epi8(out, mask, _mm512_xor_si512(_mm512_maskz_loadu_epi8(mask, in), k));
}

// The 16-byte key as it lies `shift` bytes further into its period,
// repeated over a register.
TVK_CTR_AVX512_TARGET inline __m512i TurnedKey(const NPT_UInt8* key, NPT_Size shift)
{
    const __m128i indices = _mm_and_si128(
        _mm_add_epi8(_mm_setr_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15),
                     _mm_set1_epi8(static_cast<char>(shift))),
        _mm_set1_epi8(15));
    const __m128i turned = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(key)), indices);
    // the zero-masking form: the plain one trips GCC's uninitialised-use
    // warning inside its own header
    return _mm512_maskz_broadcast_i32x4(0xFFFF, turned);
}

// Whole 64-byte blocks up to stop, stored where out is.
TVK_CTR_AVX512_TARGET inline void XorBlocksAvx512(const NPT_UInt8*& in, NPT_UInt8*& out, __m512i k, const NPT_UInt8* stop)
{
    for (; stop - in >= 256; in += 256, out += 256) {
        __m512i d0 = _mm512_loadu_si512(in);
        __m512i d1 = _mm512_loadu_si512(in + 64);
        __m512i d2 = _mm512_loadu_si512(in + 128);
        __m512i d3 = _mm512_loadu_si512(in + 192);
        _mm512_storeu_si512(out, _mm512_xor_si512(d0, k));
        _mm512_storeu_si512(out + 64, _mm512_xor_si512(d1, k));
        _mm512_storeu_si512(out + 128, _mm512_xor_si512(d2, k));
        _mm512_storeu_si512(out + 192, _mm512_xor_si512(d3, k));
    }
    for (; stop - in >= 64; in += 64, out += 64) {
        _mm512_storeu_si512(out, _mm512_xor_si512(_mm512_loadu_si512(in), k));
    }
}

// The head that aligns out, at most count bytes; returns its length.
TVK_CTR_AVX512_TARGET inline NPT_Size XorHeadAvx512(const NPT_UInt8*& in, NPT_UInt8*& out, const NPT_UInt8* key, NPT_Size count)
{
    NPT_Size head = (0 - reinterpret_cast<std::uintptr_t>(out)) & 63;
    if (head > count) head = count;
    if (head != 0) XorMaskedAvx512(in, out, TurnedKey(key, 0), head);
    in += head;
    out += head;
    return head;
}

// One run with one key: head, aligned blocks, masked end.
TVK_CTR_AVX512_TARGET inline void XorRunAvx512(const NPT_UInt8* in, NPT_UInt8* out, const NPT_UInt8* key, const NPT_UInt8* end)
{
    const __m512i k = TurnedKey(key, XorHeadAvx512(in, out, key, static_cast<NPT_Size>(end - in)));
    XorBlocksAvx512(in, out, k, end);
    if (in != end) XorMaskedAvx512(in, out, k, static_cast<NPT_Size>(end - in));
}

// A batch. With chunks of a multiple of 64 bytes, every chunk starts as
// far into an aligned block as the first, and all their keys turn by that
// distance: the block across two chunks takes its first bytes' key from
// the one and the rest from the other, and only the batch's first and
// last blocks are masked. The next chunk's key is loaded before the
// current chunk's blocks, so that the stores never wait for it.
TVK_CTR_AVX512_TARGET void XorAvx512(const NPT_UInt8* in, NPT_UInt8* out, const NPT_UInt8* keys,
                                     NPT_Size chunk_size, NPT_Size count)
{
    const NPT_UInt8* const end = in + count;
    if (chunk_size % 64 != 0 || count <= chunk_size) {
        for (; static_cast<NPT_Size>(end - in) > chunk_size; in += chunk_size, out += chunk_size, keys += kBlockSize) {
            XorRunAvx512(in, out, keys, in + chunk_size);
        }
        XorRunAvx512(in, out, keys, end);
        return;
    }
    const NPT_UInt8* chunk_end = in + chunk_size;
    const NPT_Size   head      = XorHeadAvx512(in, out, keys, count);
    if (head == 0) {
        // out aligned: every chunk is whole blocks under its own key, and
        // no block lies across two. Without the turn's shuffle indices the
        // loop keeps all its values in registers: 32-bit code, with eight
        // vector registers, spilled them to the stack at every chunk.
        for (; chunk_end < end; chunk_end += chunk_size, keys += kBlockSize) {
            XorBlocksAvx512(in, out, TurnedKey(keys, 0), chunk_end);
        }
        XorRunAvx512(in, out, keys, end);
        return;
    }
    const __mmask64  this_part = ByteMask(64 - head);
    __m512i k = TurnedKey(keys, head);
    while (chunk_end < end) {
        keys += kBlockSize;
        const __m512i next = TurnedKey(keys, head);
        XorBlocksAvx512(in, out, k, chunk_end);
        if (in != chunk_end) {
            // the rest of this chunk and the start of the next
            const __m512i across = _mm512_mask_blend_epi8(this_part, next, k);
            if (end - in < 64) {
                XorMaskedAvx512(in, out, across, static_cast<NPT_Size>(end - in));
                return;
            }
            _mm512_storeu_si512(out, _mm512_xor_si512(_mm512_loadu_si512(in), across));
            in += 64;
            out += 64;
        }
        k = next;
        chunk_end += chunk_size;
    }
    XorBlocksAvx512(in, out, k, end);
    if (in != end) XorMaskedAvx512(in, out, k, static_cast<NPT_Size>(end - in));
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
            return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw");
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
      m_BatchKeys(),
      m_BatchCounters()
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

        // one run: the rest of the chunk, or of the data
        xor_function(in + processed, out + processed, m_KeyStream + pos % kBlockSize, count, count);
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

    // in locals: the byte stores below could otherwise change the members
    // as far as the compiler knows, which would reload them every time
    const unsigned   shift  = m_ExpansionFactor + 4;
    const NPT_UInt32 size   = m_KeyStreamSize;
    NPT_UInt32       offset = m_StreamOffset;
    for (NPT_UInt8* block = m_BatchCounters; block < m_BatchCounters + chunks * kBlockSize; block += kBlockSize) {
        // each chunk's number from its own offset, so that it wraps with
        // the offset at 2^32; big-endian, built so that compilers make it
        // one byte-swapped store
        const NPT_UInt32 chunk = offset >> shift;
        const NPT_UInt8  number[4] = {static_cast<NPT_UInt8>(chunk >> 24), static_cast<NPT_UInt8>(chunk >> 16),
                                      static_cast<NPT_UInt8>(chunk >> 8), static_cast<NPT_UInt8>(chunk)};
        std::memcpy(block + 12, number, 4);
        offset += size;
    }
    NPT_Result result = m_BlockCipher->ProcessBlocks(m_BatchCounters, m_BatchKeys, chunks);
    if (NPT_FAILED(result)) return result;

    FunctionFor(CurrentWidth())(in, out, m_BatchKeys, m_KeyStreamSize, count);
    m_StreamOffset += count; // wraps modulo 2^32

    // Where the data ended inside the last chunk, its block is the current
    // one. Where it ended on a chunk boundary the next chunk's block is
    // made when it is needed, and nothing is stored here: at the end of a
    // batch the XOR's stores still fill the store buffer, and each store
    // after them waits for room (32-bit code copies by words: nine stores
    // that cost a 16 KiB batch about 2%).
    if ((count & (m_KeyStreamSize - 1)) != 0) {
        std::memcpy(m_KeyStream, m_BatchKeys + (chunks - 1) * kBlockSize, kBlockSize);
        std::memcpy(m_KeyStream + kBlockSize, m_KeyStream, kBlockSize);
        m_KeyStreamValid = true;
    } else if (m_KeyStreamValid) {
        m_KeyStreamValid = false;
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
