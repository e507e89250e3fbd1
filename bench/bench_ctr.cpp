// Throughput of the counter-mode key stream as the streams use it
// (expansion factor 6, on the library's AES, hardware where the
// processor has it) at 16 KiB, 1 MiB and 64 MiB, next to OpenSSL's
// AES-128-CTR and memcpy of the same sizes; the key stream at each XOR
// width; and a single AES block. All in bytes per second.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "BenchBaselines.h"
#include "NptAes.h"
#include "TvkStreamCipher.h"

namespace {

const NPT_UInt8 kKey[16] = {0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07,
                            0x08, 0x09, 0x0a, 0x0b, 0x0c, 0x0d, 0x0e, 0x0f};

// Input and output of one size, touched once so that no page is mapped
// in during a measurement.
struct Buffers
{
    std::vector<NPT_UInt8> in, out;
    explicit Buffers(size_t size) : in(size, 0x5a), out(size, 0) {}
};

void RunCipher(benchmark::State& state, TVK_CtrStreamCipher& cipher)
{
    const NPT_Size size = static_cast<NPT_Size>(state.range(0));
    Buffers buffers(size);
    for (auto _ : state) {
        NPT_Size out_size = size;
        cipher.ProcessBuffer(buffers.in.data(), size, buffers.out.data(), &out_size, false);
        benchmark::DoNotOptimize(buffers.out.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * size);
}

void BM_CtrProcessBuffer(benchmark::State& state)
{
    TVK_CtrStreamCipher cipher(new NPT_AesBlockEncrypter(kKey, 16), 6);
    RunCipher(state, cipher);
}
BENCHMARK(BM_CtrProcessBuffer)->Arg(16 << 10)->Arg(1 << 20)->Arg(64 << 20);

// 16 KiB at each XOR width (the argument, in bytes) this processor has.
void BM_CtrXorWidth(benchmark::State& state)
{
    auto width = static_cast<TVK_CtrStreamCipher::XorWidth>(state.range(1));
    if (TVK_CtrStreamCipher::SelectXorWidth(width) != NPT_SUCCESS) {
        state.SkipWithError("width not available on this processor");
        return;
    }
    TVK_CtrStreamCipher cipher(new NPT_AesBlockEncrypter(kKey, 16), 6);
    RunCipher(state, cipher);
    TVK_CtrStreamCipher::SelectXorWidth(TVK_CtrStreamCipher::XOR_WIDTH_AUTO);
}
BENCHMARK(BM_CtrXorWidth)->ArgNames({"size", "width"})
    ->Args({16 << 10, 8})->Args({16 << 10, 16})->Args({16 << 10, 32})->Args({16 << 10, 64});

#if defined(TVK_BENCH_HAVE_OPENSSL)
void BM_EvpAes128Ctr(benchmark::State& state)
{
    const size_t size = static_cast<size_t>(state.range(0));
    Buffers buffers(size);
    tvk_bench::EvpCtr evp(kKey);
    for (auto _ : state) {
        evp.Process(buffers.in.data(), buffers.out.data(), size);
        benchmark::DoNotOptimize(buffers.out.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(size));
}
BENCHMARK(BM_EvpAes128Ctr)->Arg(16 << 10)->Arg(1 << 20)->Arg(64 << 20);
#endif

void BM_Memcpy(benchmark::State& state)
{
    const size_t size = static_cast<size_t>(state.range(0));
    Buffers buffers(size);
    for (auto _ : state) {
        std::memcpy(buffers.out.data(), buffers.in.data(), size);
        benchmark::DoNotOptimize(buffers.out.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(size));
}
BENCHMARK(BM_Memcpy)->Arg(16 << 10)->Arg(1 << 20)->Arg(64 << 20);

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
