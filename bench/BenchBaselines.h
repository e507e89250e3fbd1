/*****************************************************************
| BenchBaselines.h - what the library's figures are measured against.
|
| EvpCtr      OpenSSL's AES-128-CTR through EVP (with the processor's AES
|             instructions where it has them): the standard way to
|             encrypt a buffer with AES, and the baseline of every ratio.
|             Only where OpenSSL was found (TVK_BENCH_HAVE_OPENSSL).
|
| Header-only; benchmark code only. Not thread-safe.
****************************************************************/
#ifndef TVK_BENCH_BASELINES_H
#define TVK_BENCH_BASELINES_H

#include <cstddef>
#include <cstdio>
#include <cstdlib>

#include "NptTypes.h"

#if defined(TVK_BENCH_HAVE_OPENSSL)
#include <openssl/evp.h>
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

} // namespace tvk_bench

#endif // TVK_BENCH_BASELINES_H
