/*****************************************************************
| NptSha256.cpp - the SHA-256 compression function (FIPS 180-4),
| portable and on the x86 SHA extensions.
****************************************************************/
#include "NptSha256.h"

#include <cstring>

#include "NptUtils.h"
#include "NptWipe.h"

// The accelerated path needs GCC or Clang on x86 (per-function target
// attributes and <cpuid.h>); other compilers build the portable path
// only.
#if !defined(NPT_SHA256_NO_SHANI) && (defined(__x86_64__) || defined(__i386__)) && \
    (defined(__GNUC__) || defined(__clang__))
#include <cpuid.h>
#include <immintrin.h>
#define NPT_SHA256_USE_SHANI 1
#endif

namespace {

const NPT_UInt32 kRoundConstants[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

inline NPT_UInt32 RotateRight(NPT_UInt32 x, unsigned int n)
{
    return (x >> n) | (x << (32 - n));
}

/*----------------------------------------------------------------------
|   CompressPortableBlocks
|
|   The message schedule is kept as a rolling window of 16 words (word
|   t lives in w[t mod 16]), and wiped once at the end: it is derived
|   from message bytes that may be a password or a key.
+---------------------------------------------------------------------*/
void CompressPortableBlocks(NPT_UInt32* state, const NPT_UInt8* blocks, NPT_Size block_count)
{
    NPT_UInt32 w[16];
    for (; block_count > 0; --block_count, blocks += 64) {
        NPT_UInt32 a = state[0], b = state[1], c = state[2], d = state[3];
        NPT_UInt32 e = state[4], f = state[5], g = state[6], h = state[7];
        for (unsigned int t = 0; t < 64; ++t) {
            NPT_UInt32 wt;
            if (t < 16) {
                wt = NPT_Int32FromBytesBe(blocks + 4 * t);
            } else {
                NPT_UInt32 w15 = w[(t - 15) & 15], w2 = w[(t - 2) & 15];
                NPT_UInt32 s0 = RotateRight(w15, 7) ^ RotateRight(w15, 18) ^ (w15 >> 3);
                NPT_UInt32 s1 = RotateRight(w2, 17) ^ RotateRight(w2, 19) ^ (w2 >> 10);
                wt = w[t & 15] + s0 + w[(t - 7) & 15] + s1;
            }
            w[t & 15] = wt;
            NPT_UInt32 sum1 = RotateRight(e, 6) ^ RotateRight(e, 11) ^ RotateRight(e, 25);
            NPT_UInt32 choice = (e & f) ^ (~e & g);
            NPT_UInt32 temp1 = h + sum1 + choice + kRoundConstants[t] + wt;
            NPT_UInt32 sum0 = RotateRight(a, 2) ^ RotateRight(a, 13) ^ RotateRight(a, 22);
            NPT_UInt32 majority = (a & b) ^ (a & c) ^ (b & c);
            NPT_UInt32 temp2 = sum0 + majority;
            h = g;
            g = f;
            f = e;
            e = d + temp1;
            d = c;
            c = b;
            b = a;
            a = temp1 + temp2;
        }
        state[0] += a;
        state[1] += b;
        state[2] += c;
        state[3] += d;
        state[4] += e;
        state[5] += f;
        state[6] += g;
        state[7] += h;
    }
    NPT_WipeMemory(w, sizeof(w));
}

#if defined(NPT_SHA256_USE_SHANI)
// The working variables of one message as the SHA instructions hold
// them, and the four schedule vectors of the current block.
struct ShaLane {
    __m128i abef, cdgh;
    __m128i abef_start, cdgh_start;
    __m128i m0, m1, m2, m3;
};

__attribute__((target("sha,sse4.1,ssse3"))) inline void
LoadLane(ShaLane& lane, const NPT_UInt32* state)
{
    __m128i dcba = _mm_loadu_si128(reinterpret_cast<const __m128i*>(state));
    __m128i hgfe = _mm_loadu_si128(reinterpret_cast<const __m128i*>(state + 4));
    __m128i cdab = _mm_shuffle_epi32(dcba, 0xB1);
    __m128i efgh = _mm_shuffle_epi32(hgfe, 0x1B);
    lane.abef = _mm_alignr_epi8(cdab, efgh, 8);
    lane.cdgh = _mm_blend_epi16(efgh, cdab, 0xF0);
}

__attribute__((target("sha,sse4.1,ssse3"))) inline void
StoreLane(const ShaLane& lane, NPT_UInt32* state)
{
    __m128i feba = _mm_shuffle_epi32(lane.abef, 0x1B);
    __m128i dchg = _mm_shuffle_epi32(lane.cdgh, 0xB1);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state), _mm_blend_epi16(feba, dchg, 0xF0));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state + 4), _mm_alignr_epi8(dchg, feba, 8));
}

__attribute__((target("sha,sse4.1,ssse3"))) inline void
StartBlock(ShaLane& lane, const NPT_UInt8* block)
{
    const __m128i byte_swap = _mm_set_epi64x(0x0c0d0e0f08090a0bLL, 0x0405060700010203LL);
    lane.abef_start = lane.abef;
    lane.cdgh_start = lane.cdgh;
    lane.m0 = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(block)), byte_swap);
    lane.m1 = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 16)), byte_swap);
    lane.m2 = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 32)), byte_swap);
    lane.m3 = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 48)), byte_swap);
}

// Four rounds of group 0 .. 15. Groups 4 to 15 first extend the
// schedule from the previous four vectors (sha256msg1 adds sigma0, the
// alignr supplies w[t-7], sha256msg2 adds sigma1) and slide the window.
__attribute__((target("sha,sse4.1,ssse3"))) inline void
FourRounds(ShaLane& lane, unsigned int group, __m128i k)
{
    __m128i words;
    if (group < 4) {
        words = group == 0 ? lane.m0 : group == 1 ? lane.m1 : group == 2 ? lane.m2 : lane.m3;
    } else {
        words = _mm_sha256msg1_epu32(lane.m0, lane.m1);
        words = _mm_add_epi32(words, _mm_alignr_epi8(lane.m3, lane.m2, 4));
        words = _mm_sha256msg2_epu32(words, lane.m3);
        lane.m0 = lane.m1;
        lane.m1 = lane.m2;
        lane.m2 = lane.m3;
        lane.m3 = words;
    }
    __m128i wk = _mm_add_epi32(words, k);
    lane.cdgh = _mm_sha256rnds2_epu32(lane.cdgh, lane.abef, wk);
    lane.abef = _mm_sha256rnds2_epu32(lane.abef, lane.cdgh, _mm_shuffle_epi32(wk, 0x0E));
}

__attribute__((target("sha,sse4.1,ssse3"))) inline void
EndBlock(ShaLane& lane)
{
    lane.abef = _mm_add_epi32(lane.abef, lane.abef_start);
    lane.cdgh = _mm_add_epi32(lane.cdgh, lane.cdgh_start);
}

/*----------------------------------------------------------------------
|   CompressShaExtensions
|
|   The SHA instructions keep the working variables as two vectors,
|   (A, B, E, F) and (C, D, G, H); the state words are rearranged into
|   that shape on entry and back on exit. Each sha256rnds2 does two
|   rounds with two message words already added to their constants.
+---------------------------------------------------------------------*/
__attribute__((target("sha,sse4.1,ssse3"))) void
CompressShaExtensions(NPT_UInt32* state, const NPT_UInt8* blocks, NPT_Size block_count)
{
    ShaLane lane;
    LoadLane(lane, state);
    for (; block_count > 0; --block_count, blocks += 64) {
        StartBlock(lane, blocks);
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC unroll 16
#endif
        for (unsigned int group = 0; group < 16; ++group) {
            FourRounds(lane, group,
                       _mm_loadu_si128(reinterpret_cast<const __m128i*>(kRoundConstants + 4 * group)));
        }
        EndBlock(lane);
    }
    StoreLane(lane, state);
}

// Two messages, round group by round group: while one lane waits for
// its sha256rnds2 result the other's can issue.
__attribute__((target("sha,sse4.1,ssse3"))) void
CompressPairShaExtensions(NPT_UInt32*      state_a,
                          const NPT_UInt8* blocks_a,
                          NPT_UInt32*      state_b,
                          const NPT_UInt8* blocks_b,
                          NPT_Size         block_count)
{
    ShaLane a, b;
    LoadLane(a, state_a);
    LoadLane(b, state_b);
    for (; block_count > 0; --block_count, blocks_a += 64, blocks_b += 64) {
        StartBlock(a, blocks_a);
        StartBlock(b, blocks_b);
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC unroll 16
#endif
        for (unsigned int group = 0; group < 16; ++group) {
            __m128i k = _mm_loadu_si128(reinterpret_cast<const __m128i*>(kRoundConstants + 4 * group));
            FourRounds(a, group, k);
            FourRounds(b, group, k);
        }
        EndBlock(a);
        EndBlock(b);
    }
    StoreLane(a, state_a);
    StoreLane(b, state_b);
}

// CPUID: leaf 7 EBX bit 29 is SHA; leaf 1 ECX bits 19 and 9 are SSE4.1
// and SSSE3, which the shuffles and blends need.
bool DetectShaExtensions()
{
    unsigned int eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx)) return false;
    const bool sse = (ecx & (1u << 19)) != 0 && (ecx & (1u << 9)) != 0;
    if (!__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx)) return false;
    return sse && (ebx & (1u << 29)) != 0;
}
#endif

typedef void (*CompressFunction)(NPT_UInt32*, const NPT_UInt8*, NPT_Size);

// Chosen once, on first use; a function-local static is initialised
// thread-safely.
CompressFunction SelectedCompress()
{
#if defined(NPT_SHA256_USE_SHANI)
    static const CompressFunction selected =
        DetectShaExtensions() ? CompressShaExtensions : CompressPortableBlocks;
    return selected;
#else
    return CompressPortableBlocks;
#endif
}

} // namespace

NPT_Sha256Digest::NPT_Sha256Digest()
{
    InitState(m_State);
}

NPT_Sha256Digest::~NPT_Sha256Digest()
{
    NPT_WipeMemory(m_State, sizeof(m_State));
}

NPT_Result NPT_Sha256Digest::GetDigest(NPT_DataBuffer& digest)
{
    return FinishDigest(m_State, STATE_WORDS, true, digest);
}

void NPT_Sha256Digest::CompressBlock(const NPT_UInt8* block)
{
    SelectedCompress()(m_State, block, 1);
}

void NPT_Sha256Digest::CompressBlocks(const NPT_UInt8* blocks, NPT_Size block_count)
{
    SelectedCompress()(m_State, blocks, block_count);
}

void NPT_Sha256Digest::InitState(NPT_UInt32* state)
{
    static const NPT_UInt32 initial[STATE_WORDS] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                                    0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
    std::memcpy(state, initial, sizeof(initial));
}

void NPT_Sha256Digest::Compress(NPT_UInt32* state, const NPT_UInt8* blocks, NPT_Size block_count)
{
    SelectedCompress()(state, blocks, block_count);
}

void NPT_Sha256Digest::InitHmacState(const NPT_UInt8* key, NPT_Size key_size, NPT_UInt8 fill,
                                     NPT_UInt32* state)
{
    NPT_UInt8 pad[BLOCK_SIZE];
    for (NPT_Size i = 0; i < BLOCK_SIZE; ++i) {
        pad[i] = static_cast<NPT_UInt8>(i < key_size ? key[i] ^ fill : fill);
    }
    InitState(state);
    Compress(state, pad, 1);
    NPT_WipeMemory(pad, sizeof(pad));
}

void NPT_Sha256Digest::CompressPortable(NPT_UInt32* state, const NPT_UInt8* blocks, NPT_Size block_count)
{
    CompressPortableBlocks(state, blocks, block_count);
}

void NPT_Sha256Digest::CompressPair(NPT_UInt32*      state_a,
                                    const NPT_UInt8* blocks_a,
                                    NPT_UInt32*      state_b,
                                    const NPT_UInt8* blocks_b,
                                    NPT_Size         block_count)
{
#if defined(NPT_SHA256_USE_SHANI)
    if (HasAcceleratedCompress()) {
        CompressPairShaExtensions(state_a, blocks_a, state_b, blocks_b, block_count);
        return;
    }
#endif
    CompressPortableBlocks(state_a, blocks_a, block_count);
    CompressPortableBlocks(state_b, blocks_b, block_count);
}

bool NPT_Sha256Digest::HasAcceleratedCompress()
{
    return SelectedCompress() != CompressPortableBlocks;
}
