/*****************************************************************
| BenchBaselines.h - what the library's figures are measured against.
|
| EvpCtr      OpenSSL's AES-128-CTR through EVP (with the processor's AES
|             instructions where it has them): the standard way to
|             encrypt a buffer with AES, and the baseline of every ratio.
|             Only where OpenSSL was found (TVK_BENCH_HAVE_OPENSSL).
| HwAesEstimate  an AES-128 encrypter on the AES-NI instructions, eight
|             blocks at a time in ProcessBlocks: a stand-in, in the
|             benchmarks only, for the library's hardware AES, to estimate
|             the key stream's speed with it. It checks itself against
|             the library's AES when built and aborts on a mismatch.
|
| Header-only; benchmark code only. Not thread-safe.
****************************************************************/
#ifndef TVK_BENCH_BASELINES_H
#define TVK_BENCH_BASELINES_H

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "NptAes.h"
#include "NptBlockCipher.h"
#include "NptTypes.h"

#if defined(TVK_BENCH_HAVE_OPENSSL)
#include <openssl/evp.h>
#endif
#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#define TVK_BENCH_HAVE_AESNI 1
#endif

namespace tvk_bench {

#if defined(TVK_BENCH_HAVE_OPENSSL)
class EvpCtr
{
public:
    explicit EvpCtr(const NPT_UInt8* key) : m_Context(EVP_CIPHER_CTX_new())
    {
        const NPT_UInt8 iv[16] = {};
        if (m_Context == nullptr ||
            EVP_EncryptInit_ex(m_Context, EVP_aes_128_ctr(), nullptr, key, iv) != 1) {
            std::fprintf(stderr, "EVP AES-128-CTR unavailable\n");
            std::abort();
        }
    }
    ~EvpCtr() { EVP_CIPHER_CTX_free(m_Context); }
    EvpCtr(const EvpCtr&) = delete;
    EvpCtr& operator=(const EvpCtr&) = delete;

    // Restarts the key stream at the 16-byte block holding offset.
    void Restart(NPT_UInt64 offset)
    {
        NPT_UInt8 iv[16] = {};
        NPT_UInt64 block = offset / 16;
        for (int i = 15; i >= 8; --i, block >>= 8) iv[i] = static_cast<NPT_UInt8>(block);
        EVP_EncryptInit_ex(m_Context, nullptr, nullptr, nullptr, iv);
    }

    void Process(const NPT_UInt8* in, NPT_UInt8* out, size_t size)
    {
        while (size > 0) {
            int piece = size > (1u << 30) ? (1 << 30) : static_cast<int>(size);
            int done  = 0;
            EVP_EncryptUpdate(m_Context, out, &done, in, piece);
            in += piece;
            out += piece;
            size -= static_cast<size_t>(piece);
        }
    }

private:
    EVP_CIPHER_CTX* m_Context;
};
#endif

#if defined(TVK_BENCH_HAVE_AESNI)
class HwAesEstimate : public NPT_BlockCipher
{
public:
    static bool Available() { return __builtin_cpu_supports("aes"); }

    explicit HwAesEstimate(const NPT_UInt8* key)
    {
        Expand(key);
        NPT_AesBlockEncrypter reference(key, 16);
        NPT_UInt8 block[16] = {1, 2, 3}, ours[16], theirs[16];
        ProcessBlock(block, ours);
        reference.ProcessBlock(block, theirs);
        if (std::memcmp(ours, theirs, 16) != 0) {
            std::fprintf(stderr, "AES-NI stand-in disagrees with the library's AES\n");
            std::abort();
        }
    }

    NPT_Size   GetBlockSize() override { return 16; }
    Direction  GetDirection() override { return ENCRYPT; }
    Algorithm  GetAlgorithm() override { return AES_128; }
    NPT_Result ProcessBlock(const NPT_UInt8* input, NPT_UInt8* output) override
    {
        return ProcessBlocks(input, output, 1);
    }
    __attribute__((target("aes"))) NPT_Result
    ProcessBlocks(const NPT_UInt8* input, NPT_UInt8* output, NPT_Size count) override
    {
        NPT_Size i = 0;
        for (; i + 8 <= count; i += 8) {
            __m128i b[8];
            for (int j = 0; j < 8; ++j) {
                b[j] = _mm_xor_si128(Load(input + (i + j) * 16), m_Keys[0]);
            }
            for (int r = 1; r < 10; ++r) {
                for (int j = 0; j < 8; ++j) b[j] = _mm_aesenc_si128(b[j], m_Keys[r]);
            }
            for (int j = 0; j < 8; ++j) {
                Store(output + (i + j) * 16, _mm_aesenclast_si128(b[j], m_Keys[10]));
            }
        }
        for (; i < count; ++i) {
            __m128i b = _mm_xor_si128(Load(input + i * 16), m_Keys[0]);
            for (int r = 1; r < 10; ++r) b = _mm_aesenc_si128(b, m_Keys[r]);
            Store(output + i * 16, _mm_aesenclast_si128(b, m_Keys[10]));
        }
        return NPT_SUCCESS;
    }

private:
    static __m128i Load(const NPT_UInt8* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
    static void Store(NPT_UInt8* p, __m128i v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }

    __attribute__((target("aes"))) static __m128i Next(__m128i key, __m128i assist)
    {
        assist = _mm_shuffle_epi32(assist, 0xff);
        key = _mm_xor_si128(key, _mm_slli_si128(key, 4));
        key = _mm_xor_si128(key, _mm_slli_si128(key, 4));
        key = _mm_xor_si128(key, _mm_slli_si128(key, 4));
        return _mm_xor_si128(key, assist);
    }

    __attribute__((target("aes"))) void Expand(const NPT_UInt8* key)
    {
        m_Keys[0]  = Load(key);
        m_Keys[1]  = Next(m_Keys[0], _mm_aeskeygenassist_si128(m_Keys[0], 0x01));
        m_Keys[2]  = Next(m_Keys[1], _mm_aeskeygenassist_si128(m_Keys[1], 0x02));
        m_Keys[3]  = Next(m_Keys[2], _mm_aeskeygenassist_si128(m_Keys[2], 0x04));
        m_Keys[4]  = Next(m_Keys[3], _mm_aeskeygenassist_si128(m_Keys[3], 0x08));
        m_Keys[5]  = Next(m_Keys[4], _mm_aeskeygenassist_si128(m_Keys[4], 0x10));
        m_Keys[6]  = Next(m_Keys[5], _mm_aeskeygenassist_si128(m_Keys[5], 0x20));
        m_Keys[7]  = Next(m_Keys[6], _mm_aeskeygenassist_si128(m_Keys[6], 0x40));
        m_Keys[8]  = Next(m_Keys[7], _mm_aeskeygenassist_si128(m_Keys[7], 0x80));
        m_Keys[9]  = Next(m_Keys[8], _mm_aeskeygenassist_si128(m_Keys[8], 0x1b));
        m_Keys[10] = Next(m_Keys[9], _mm_aeskeygenassist_si128(m_Keys[9], 0x36));
    }

    __m128i m_Keys[11];
};
#endif

} // namespace tvk_bench

#endif // TVK_BENCH_BASELINES_H
