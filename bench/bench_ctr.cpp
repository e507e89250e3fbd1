// Throughput of the counter-mode key stream as the streams use it
// (expansion factor 6), next to memcpy of the same sizes and a single
// AES block, all reported in bytes per second.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "NptAes.h"
#include "TvkStreamCipher.h"

namespace {

const NPT_UInt8 kKey[16] = {0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07,
                            0x08, 0x09, 0x0a, 0x0b, 0x0c, 0x0d, 0x0e, 0x0f};

void BM_CtrProcessBuffer(benchmark::State& state)
{
    const NPT_Size size = static_cast<NPT_Size>(state.range(0));
    std::vector<NPT_UInt8> in(size, 0x5a), out(size);
    TVK_CtrStreamCipher cipher(new NPT_AesBlockEncrypter(kKey, 16), 6);
    for (auto _ : state) {
        NPT_Size out_size = size;
        cipher.ProcessBuffer(in.data(), size, out.data(), &out_size, false);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * size);
}
BENCHMARK(BM_CtrProcessBuffer)->Arg(16 << 10)->Arg(1 << 20);

void BM_CtrProcessBufferInPlace(benchmark::State& state)
{
    const NPT_Size size = static_cast<NPT_Size>(state.range(0));
    std::vector<NPT_UInt8> data(size, 0x5a);
    TVK_CtrStreamCipher cipher(new NPT_AesBlockEncrypter(kKey, 16), 6);
    for (auto _ : state) {
        cipher.ProcessBuffer(data.data(), size, data.data(), nullptr, false);
        benchmark::DoNotOptimize(data.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * size);
}
BENCHMARK(BM_CtrProcessBufferInPlace)->Arg(16 << 10);

void BM_Memcpy(benchmark::State& state)
{
    const size_t size = static_cast<size_t>(state.range(0));
    std::vector<NPT_UInt8> in(size, 0x5a), out(size);
    for (auto _ : state) {
        std::memcpy(out.data(), in.data(), size);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(size));
}
BENCHMARK(BM_Memcpy)->Arg(16 << 10)->Arg(1 << 20);

void BM_AesBlock(benchmark::State& state)
{
    NPT_AesBlockEncrypter aes(kKey, 16);
    NPT_UInt8 block[16] = {};
    for (auto _ : state) {
        aes.ProcessBlock(block, block); // chained, so calls cannot overlap
        benchmark::DoNotOptimize(block);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 16);
}
BENCHMARK(BM_AesBlock);

} // namespace

BENCHMARK_MAIN();
