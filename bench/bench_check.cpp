// Costs of the check file, next to OpenSSL's (measured in the same
// run) and to the decryption it runs beside: SHA-256 and HMAC-SHA-256
// throughput on 1 MiB (accelerated and portable compression; one
// message, and two halves in lockstep), verification of 1 MiB of
// check-file blocks, the counter-mode key
// stream on 1 MiB, and PBKDF2-HMAC-SHA-256 (items = iterations; bytes =
// the 128 bytes compressed per iteration, so that ratios can be taken).
#include <benchmark/benchmark.h>

#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <memory>
#include <vector>

#include "BenchData.h"
#include "NptAes.h"
#include "NptDigest.h"
#include "NptHmacSha256Key.h"
#include "NptPbkdf2.h"
#include "NptSha256.h"
#include "TvkCheckFile.h"
#include "TvkStreamCipher.h"

namespace {

const size_t kBlock = size_t(1) << 20;
const NPT_UInt8 kKey[32] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16,
                            17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31, 32};
const NPT_UInt32 kPbkdf2Iterations = 10000;

const std::vector<NPT_UInt8>& Data()
{
    static const std::vector<NPT_UInt8> data = tvk_bench::MakeData(kBlock);
    return data;
}

void BM_Sha256(benchmark::State& state)
{
    const auto& data = Data();
    for (auto _ : state) {
        NPT_Sha256Digest digest;
        digest.Update(data.data(), static_cast<NPT_Size>(data.size()));
        NPT_DataBuffer out;
        digest.GetDigest(out);
        benchmark::DoNotOptimize(out.GetData());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kBlock);
    state.SetLabel(NPT_Sha256Digest::HasAcceleratedCompress() ? "SHA extensions" : "portable");
}
BENCHMARK(BM_Sha256);

void BM_Sha256Portable(benchmark::State& state)
{
    const auto& data = Data();
    for (auto _ : state) {
        NPT_UInt32 words[8];
        NPT_Sha256Digest::InitState(words);
        NPT_Sha256Digest::CompressPortable(words, data.data(), static_cast<NPT_Size>(data.size() / 64));
        benchmark::DoNotOptimize(words);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kBlock);
}
BENCHMARK(BM_Sha256Portable);

void BM_OpenSslSha256(benchmark::State& state)
{
    const auto& data = Data();
    for (auto _ : state) {
        unsigned char out[32];
        EVP_Digest(data.data(), data.size(), out, nullptr, EVP_sha256(), nullptr);
        benchmark::DoNotOptimize(out);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kBlock);
}
BENCHMARK(BM_OpenSslSha256);

void BM_HmacSha256(benchmark::State& state)
{
    const auto& data = Data();
    for (auto _ : state) {
        NPT_Digest* raw = nullptr;
        NPT_Hmac::Create(NPT_Digest::SHA256, kKey, sizeof(kKey), raw);
        std::unique_ptr<NPT_Digest> hmac(raw);
        hmac->Update(data.data(), static_cast<NPT_Size>(data.size()));
        NPT_DataBuffer out;
        hmac->GetDigest(out);
        benchmark::DoNotOptimize(out.GetData());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kBlock);
}
BENCHMARK(BM_HmacSha256);

void BM_OpenSslHmacSha256(benchmark::State& state)
{
    const auto& data = Data();
    for (auto _ : state) {
        unsigned char out[32];
        unsigned int size = 0;
        HMAC(EVP_sha256(), kKey, sizeof(kKey), data.data(), data.size(), out, &size);
        benchmark::DoNotOptimize(out);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kBlock);
}
BENCHMARK(BM_OpenSslHmacSha256);

// HMAC-SHA-256 of two 512 KiB halves at once, from a prepared key.
void BM_HmacSha256Pair(benchmark::State& state)
{
    const auto& data = Data();
    NPT_HmacSha256Key key(kKey, sizeof(kKey));
    const NPT_UInt8 head[16] = {};
    const NPT_Size half = static_cast<NPT_Size>(kBlock / 2);
    for (auto _ : state) {
        NPT_UInt8 a[32], b[32];
        key.MacPair(head, data.data(), head, data.data() + half, sizeof(head), half, a, b);
        benchmark::DoNotOptimize(a);
        benchmark::DoNotOptimize(b);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kBlock);
}
BENCHMARK(BM_HmacSha256Pair);

// 1 MiB of ciphertext checked as decryption checks it: the tool's
// transfer size, two check-file blocks of the default size.
void BM_CheckFileVerifyBlocks(benchmark::State& state)
{
    const auto& data = Data();
    const NPT_UInt8* password = reinterpret_cast<const NPT_UInt8*>(tvk_bench::kPassword);
    std::vector<NPT_UInt8> salt(TVK_CheckFile::SALT_SIZE, 7);
    NPT_DataBuffer file;
    TVK_CheckFileWriter writer;
    writer.Start(password, 18, salt.data(), TVK_CheckFile::SALT_SIZE, 100000);
    writer.AddBlocks(0, data.data(), static_cast<NPT_Size>(kBlock));
    writer.Serialize(kBlock, file);
    TVK_CheckFileReader reader;
    reader.Parse(file.GetData(), file.GetDataSize());
    if (reader.VerifyPassword(password, 18) != NPT_SUCCESS) {
        state.SkipWithError("check file did not verify");
        return;
    }
    for (auto _ : state) {
        if (reader.VerifyBlocks(0, data.data(), static_cast<NPT_Size>(kBlock)) != NPT_SUCCESS) {
            state.SkipWithError("blocks did not verify");
            break;
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kBlock);
}
BENCHMARK(BM_CheckFileVerifyBlocks);

// The decryption the verification runs beside: the key stream applied
// in place to 1 MiB, as the tool's workers do.
void BM_CtrDecrypt(benchmark::State& state)
{
    std::vector<NPT_UInt8> data = Data();
    TVK_CtrStreamCipher cipher(new NPT_AesBlockEncrypter(kKey, 16), 6);
    for (auto _ : state) {
        cipher.SetStreamOffset(0);
        cipher.ProcessBuffer(data.data(), static_cast<NPT_Size>(kBlock), data.data(), nullptr, false);
        benchmark::DoNotOptimize(data.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kBlock);
}
BENCHMARK(BM_CtrDecrypt);

void BM_Pbkdf2Sha256(benchmark::State& state)
{
    NPT_UInt8 salt[32] = {}, out[32];
    for (auto _ : state) {
        NPT_DeriveKeyPbkdf2Sha256(reinterpret_cast<const NPT_UInt8*>(tvk_bench::kPassword), 18, salt,
                                  sizeof(salt), kPbkdf2Iterations, out, sizeof(out));
        benchmark::DoNotOptimize(out);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kPbkdf2Iterations);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kPbkdf2Iterations * 128);
}
BENCHMARK(BM_Pbkdf2Sha256)->Unit(benchmark::kMillisecond);

void BM_OpenSslPbkdf2Sha256(benchmark::State& state)
{
    unsigned char salt[32] = {}, out[32];
    for (auto _ : state) {
        PKCS5_PBKDF2_HMAC(tvk_bench::kPassword, 18, salt, sizeof(salt), kPbkdf2Iterations, EVP_sha256(),
                          sizeof(out), out);
        benchmark::DoNotOptimize(out);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kPbkdf2Iterations);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kPbkdf2Iterations * 128);
}
BENCHMARK(BM_OpenSslPbkdf2Sha256)->Unit(benchmark::kMillisecond);

// What the calibration picks on this machine, and what one derivation
// at that count then costs (the target is about 0.2 s).
void BM_CalibratedDerivation(benchmark::State& state)
{
    const NPT_UInt32 iterations = TVK_CheckFile::CalibrateIterations();
    NPT_UInt8 salt[32] = {}, out[32];
    for (auto _ : state) {
        NPT_DeriveKeyPbkdf2Sha256(reinterpret_cast<const NPT_UInt8*>(tvk_bench::kPassword), 18, salt,
                                  sizeof(salt), iterations, out, sizeof(out));
        benchmark::DoNotOptimize(out);
    }
    state.counters["iterations"] = iterations;
}
BENCHMARK(BM_CalibratedDerivation)->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace

BENCHMARK_MAIN();
