// AES throughput of each implementation the machine can run, next to
// OpenSSL's EVP interface on the same machine (the baseline), in bytes
// per second:
//   BM_AesBlock_<impl>       one AES-128 block per call, each call on the
//                            previous output (as the key stream uses it)
//   BM_AesBlocks_<impl>      64 independent blocks per ProcessBlocks call
//   BM_AesCbcEncrypt_<impl>  ProcessCbc of 1 MiB (with the padding block)
//   BM_AesCbcDecrypt_<impl>  ProcessCbc of 1 MiB + padding block
// with <impl> x86, arm, portable, and table (the old table-driven code,
// kept as the tests' reference), and the OpenSSL counterparts
// BM_OpenSslBlock, BM_OpenSslBlocks, BM_OpenSslCbcEncrypt and
// BM_OpenSslCbcDecrypt (EVP, AES-128, padding on for CBC).
#include <benchmark/benchmark.h>

#include <openssl/evp.h>

#include <cstdio>
#include <string>
#include <vector>

#include "BenchData.h"
#include "NptAes.h"
#include "../tests/runtime/crypto/TestAesTable.h"

namespace {

const NPT_UInt8 kKey[16] = {0x2b, 0x7e, 0x15, 0x16, 0x28, 0xae, 0xd2, 0xa6,
                            0xab, 0xf7, 0x15, 0x88, 0x09, 0xcf, 0x4f, 0x3c};
const NPT_UInt8 kIv[16] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
const size_t kCbcSize = 1 << 20;
const size_t kBatch = 64;

/*----------------------------------------------------------------------
|   the library, with one implementation forced
+---------------------------------------------------------------------*/
struct Forced {
    explicit Forced(NPT_AesImplementation implementation)
    {
        NPT_AesSelectImplementation(implementation);
    }
    ~Forced() { NPT_AesSelectImplementation(NPT_AES_IMPL_AUTO); }
};

void AesBlock(benchmark::State& state, NPT_AesImplementation implementation)
{
    Forced forced(implementation);
    NPT_AesBlockEncrypter aes(kKey, 16);
    NPT_UInt8 block[16] = {};
    for (auto _ : state) {
        aes.ProcessBlock(block, block);
        benchmark::DoNotOptimize(block);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 16);
}

void AesBlocks(benchmark::State& state, NPT_AesImplementation implementation)
{
    Forced forced(implementation);
    NPT_AesBlockEncrypter aes(kKey, 16);
    std::vector<NPT_UInt8> data = tvk_bench::MakeData(16 * kBatch);
    for (auto _ : state) {
        aes.ProcessBlocks(data.data(), data.data(), kBatch);
        benchmark::DoNotOptimize(data.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 16 * kBatch);
}

void AesCbcEncrypt(benchmark::State& state, NPT_AesImplementation implementation)
{
    Forced forced(implementation);
    NPT_AesBlockEncrypter aes(kKey, 16);
    std::vector<NPT_UInt8> data = tvk_bench::MakeData(kCbcSize);
    NPT_DataBuffer out(kCbcSize + 16);
    for (auto _ : state) {
        aes.ProcessCbc(data.data(), kCbcSize, kIv, out);
        benchmark::DoNotOptimize(out.GetData());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kCbcSize));
}

void AesCbcDecrypt(benchmark::State& state, NPT_AesImplementation implementation)
{
    Forced forced(implementation);
    NPT_AesBlockEncrypter encrypter(kKey, 16);
    NPT_AesBlockDecrypter aes(kKey, 16);
    std::vector<NPT_UInt8> data = tvk_bench::MakeData(kCbcSize);
    NPT_DataBuffer cipher, out(kCbcSize + 16);
    encrypter.ProcessCbc(data.data(), kCbcSize, kIv, cipher);
    for (auto _ : state) {
        if (aes.ProcessCbc(cipher.GetData(), cipher.GetDataSize(), kIv, out) != NPT_SUCCESS) {
            state.SkipWithError("CBC decryption failed");
            break;
        }
        benchmark::DoNotOptimize(out.GetData());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kCbcSize));
}

/*----------------------------------------------------------------------
|   the table-driven reference
+---------------------------------------------------------------------*/
void TableBlock(benchmark::State& state)
{
    tvk_test::TableAes aes(kKey, 16);
    NPT_UInt8 block[16] = {};
    for (auto _ : state) {
        aes.Encrypt(block, block);
        benchmark::DoNotOptimize(block);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 16);
}

void TableBlocks(benchmark::State& state)
{
    tvk_test::TableAes aes(kKey, 16);
    std::vector<NPT_UInt8> data = tvk_bench::MakeData(16 * kBatch);
    for (auto _ : state) {
        for (size_t i = 0; i < kBatch; ++i) aes.Encrypt(&data[16 * i], &data[16 * i]);
        benchmark::DoNotOptimize(data.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 16 * kBatch);
}

/*----------------------------------------------------------------------
|   OpenSSL EVP
+---------------------------------------------------------------------*/
struct EvpContext {
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    ~EvpContext() { EVP_CIPHER_CTX_free(ctx); }
};

void OpenSslBlock(benchmark::State& state)
{
    EvpContext evp;
    EVP_EncryptInit_ex(evp.ctx, EVP_aes_128_ecb(), nullptr, kKey, nullptr);
    EVP_CIPHER_CTX_set_padding(evp.ctx, 0);
    unsigned char block[16] = {};
    int length = 0;
    for (auto _ : state) {
        EVP_EncryptUpdate(evp.ctx, block, &length, block, 16);
        benchmark::DoNotOptimize(block);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 16);
}

void OpenSslBlocks(benchmark::State& state)
{
    EvpContext evp;
    EVP_EncryptInit_ex(evp.ctx, EVP_aes_128_ecb(), nullptr, kKey, nullptr);
    EVP_CIPHER_CTX_set_padding(evp.ctx, 0);
    std::vector<NPT_UInt8> data = tvk_bench::MakeData(16 * kBatch);
    int length = 0;
    for (auto _ : state) {
        EVP_EncryptUpdate(evp.ctx, data.data(), &length, data.data(), static_cast<int>(16 * kBatch));
        benchmark::DoNotOptimize(data.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 16 * kBatch);
}

void OpenSslCbcEncrypt(benchmark::State& state)
{
    EvpContext evp;
    std::vector<NPT_UInt8> data = tvk_bench::MakeData(kCbcSize), out(kCbcSize + 16);
    for (auto _ : state) {
        int length = 0, last = 0;
        EVP_EncryptInit_ex(evp.ctx, EVP_aes_128_cbc(), nullptr, kKey, kIv);
        EVP_EncryptUpdate(evp.ctx, out.data(), &length, data.data(), static_cast<int>(kCbcSize));
        EVP_EncryptFinal_ex(evp.ctx, out.data() + length, &last);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kCbcSize));
}

void OpenSslCbcDecrypt(benchmark::State& state)
{
    EvpContext evp;
    std::vector<NPT_UInt8> data = tvk_bench::MakeData(kCbcSize), cipher(kCbcSize + 16), out(kCbcSize + 32);
    int length = 0, last = 0;
    EVP_EncryptInit_ex(evp.ctx, EVP_aes_128_cbc(), nullptr, kKey, kIv);
    EVP_EncryptUpdate(evp.ctx, cipher.data(), &length, data.data(), static_cast<int>(kCbcSize));
    EVP_EncryptFinal_ex(evp.ctx, cipher.data() + length, &last);
    for (auto _ : state) {
        EVP_DecryptInit_ex(evp.ctx, EVP_aes_128_cbc(), nullptr, kKey, kIv);
        EVP_DecryptUpdate(evp.ctx, out.data(), &length, cipher.data(), static_cast<int>(cipher.size()));
        if (EVP_DecryptFinal_ex(evp.ctx, out.data() + length, &last) != 1) {
            state.SkipWithError("OpenSSL CBC decryption failed");
            break;
        }
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kCbcSize));
}

void RegisterAll()
{
    struct Named { const char* suffix; NPT_AesImplementation implementation; };
    const Named implementations[] = {{"x86", NPT_AES_IMPL_HARDWARE_X86},
                                     {"arm", NPT_AES_IMPL_HARDWARE_ARM},
                                     {"portable", NPT_AES_IMPL_PORTABLE}};
    for (const Named& n : implementations) {
        if (!NPT_AesIsImplementationSupported(n.implementation)) continue;
        const std::string suffix = std::string("_") + n.suffix;
        benchmark::RegisterBenchmark(("BM_AesBlock" + suffix).c_str(), AesBlock, n.implementation);
        benchmark::RegisterBenchmark(("BM_AesBlocks" + suffix).c_str(), AesBlocks, n.implementation);
        benchmark::RegisterBenchmark(("BM_AesCbcEncrypt" + suffix).c_str(), AesCbcEncrypt, n.implementation);
        benchmark::RegisterBenchmark(("BM_AesCbcDecrypt" + suffix).c_str(), AesCbcDecrypt, n.implementation);
    }
    benchmark::RegisterBenchmark("BM_AesBlock_table", TableBlock);
    benchmark::RegisterBenchmark("BM_AesBlocks_table", TableBlocks);
    benchmark::RegisterBenchmark("BM_OpenSslBlock", OpenSslBlock);
    benchmark::RegisterBenchmark("BM_OpenSslBlocks", OpenSslBlocks);
    benchmark::RegisterBenchmark("BM_OpenSslCbcEncrypt", OpenSslCbcEncrypt);
    benchmark::RegisterBenchmark("BM_OpenSslCbcDecrypt", OpenSslCbcDecrypt);
}

} // namespace

int main(int argc, char** argv)
{
    std::printf("AES implementation chosen on this machine: %s\n",
                NPT_AesImplementationName(NPT_AesGetImplementation()));
    RegisterAll();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
