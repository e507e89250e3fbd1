// Password encryption as callers use it: the buffer form encrypting and
// decrypting 64 MiB, the decrypting stream read in 16-byte and 64 KiB
// requests, and random access (seek + 4 KiB read) on a 64 MiB source.
// Throughput is reported in bytes per second.
//
// BM_BufferFormPeakHeap measures memory instead: the peak of heap bytes
// in use during one call, over what was in use before it, counted by the
// replaced operator new below. "beyond_output" is that peak minus the
// output buffer's final capacity: what the run itself costs.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <random>
#include <vector>

#include "NptDataBuffer.h"
#include "NptMemoryStream.h"
#include "TvkBlockCipherFactory.h"
#include "TvkCryptoHelper.h"
#include "TvkDecryptingStream.h"

/*----------------------------------------------------------------------
|   heap accounting: every allocation carries its size in a header
+---------------------------------------------------------------------*/
namespace {

std::atomic<size_t> g_HeapInUse{0};
std::atomic<size_t> g_HeapPeak{0};

constexpr size_t kHeader = alignof(std::max_align_t);

void* CountedAlloc(size_t size)
{
    char* block = static_cast<char*>(std::malloc(size + kHeader));
    if (block == nullptr) return nullptr;
    *reinterpret_cast<size_t*>(block) = size;
    size_t in_use = g_HeapInUse += size;
    size_t peak = g_HeapPeak.load();
    while (in_use > peak && !g_HeapPeak.compare_exchange_weak(peak, in_use)) {
    }
    return block + kHeader;
}

void CountedFree(void* memory)
{
    if (memory == nullptr) return;
    char* block = static_cast<char*>(memory) - kHeader;
    g_HeapInUse -= *reinterpret_cast<size_t*>(block);
    std::free(block);
}

} // namespace

void* operator new(size_t size)
{
    if (void* memory = CountedAlloc(size)) return memory;
    throw std::bad_alloc();
}
void* operator new[](size_t size) { return operator new(size); }
void* operator new(size_t size, const std::nothrow_t&) noexcept { return CountedAlloc(size); }
void* operator new[](size_t size, const std::nothrow_t&) noexcept { return CountedAlloc(size); }
void operator delete(void* memory) noexcept { CountedFree(memory); }
void operator delete[](void* memory) noexcept { CountedFree(memory); }
void operator delete(void* memory, size_t) noexcept { CountedFree(memory); }
void operator delete[](void* memory, size_t) noexcept { CountedFree(memory); }
void operator delete(void* memory, const std::nothrow_t&) noexcept { CountedFree(memory); }
void operator delete[](void* memory, const std::nothrow_t&) noexcept { CountedFree(memory); }

namespace {

const char* const kPassword = "benchmark password";
const size_t kSourceSize = 64u << 20;

std::vector<NPT_UInt8> MakeData(size_t size)
{
    std::vector<NPT_UInt8> data(size);
    NPT_UInt32 x = 0x2545F491;
    for (auto& byte : data) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        byte = static_cast<NPT_UInt8>(x >> 24);
    }
    return data;
}

const std::vector<NPT_UInt8>& SourceData()
{
    static const std::vector<NPT_UInt8> data = MakeData(kSourceSize);
    return data;
}

/*----------------------------------------------------------------------
|   buffer form into an empty output, as callers pass it
|   arg 0: a new output buffer per run (its 64 MiB are fresh memory the
|          system must map in); arg 1: one output buffer emptied between
|          runs, so the figure is the run itself
+---------------------------------------------------------------------*/
void BufferForm(benchmark::State& state, NPT_BlockCipher::Direction direction)
{
    const std::vector<NPT_UInt8>& input = SourceData();
    const bool reuse = state.range(0) != 0;
    NPT_DataBuffer kept;
    for (auto _ : state) {
        NPT_DataBuffer fresh;
        NPT_DataBuffer& output = reuse ? kept : fresh;
        output.SetDataSize(0);
        NPT_Result result = TVK_CryptoHelper::EncryptDecryptWithPassword(
            kPassword, direction, input.data(), static_cast<NPT_Size>(input.size()), output);
        if (result != NPT_SUCCESS) state.SkipWithError("password run failed");
        benchmark::DoNotOptimize(output.GetData());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(input.size()));
}

void BM_BufferFormEncrypt(benchmark::State& state) { BufferForm(state, NPT_BlockCipher::ENCRYPT); }
void BM_BufferFormDecrypt(benchmark::State& state) { BufferForm(state, NPT_BlockCipher::DECRYPT); }
BENCHMARK(BM_BufferFormEncrypt)->ArgName("reused_output")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BufferFormDecrypt)->ArgName("reused_output")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

/*----------------------------------------------------------------------
|   decrypting stream over a 64 MiB memory source
+---------------------------------------------------------------------*/
struct DecryptingSource
{
    NPT_DataBuffer           buffer;
    NPT_InputStreamReference source;
    NPT_InputStreamReference stream;

    DecryptingSource()
        : buffer(SourceData().data(), static_cast<NPT_Size>(SourceData().size()), false),
          source(new NPT_MemoryStream(buffer))
    {
        NPT_DataBuffer key;
        TVK_CryptoHelper::GenerateKey(kPassword, key);
        TVK_DecryptingStream::Create(source, key.GetData(), TVK_CryptoHelper::KEY_SIZE,
                                     &TVK_DefaultBlockCipherFactory::Instance, stream, nullptr,
                                     TVK_CryptoHelper::EXPANSION_FACTOR);
    }
};

void BM_DecryptingStreamRead(benchmark::State& state)
{
    const NPT_Size request = static_cast<NPT_Size>(state.range(0));
    DecryptingSource decrypting;
    std::vector<NPT_UInt8> out(request);
    for (auto _ : state) {
        decrypting.stream->Seek(0);
        NPT_Size got = 0;
        while (decrypting.stream->Read(out.data(), request, &got) == NPT_SUCCESS) {
            benchmark::DoNotOptimize(out.data());
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(kSourceSize));
}
BENCHMARK(BM_DecryptingStreamRead)->Arg(16)->Arg(64 << 10)->Unit(benchmark::kMillisecond);

void BM_DecryptingStreamRandomAccess(benchmark::State& state)
{
    const NPT_Size kRead = 4096;
    DecryptingSource decrypting;
    std::vector<NPT_Position> positions(4096);
    std::mt19937_64 random(42);
    for (auto& position : positions) position = random() % (kSourceSize - kRead + 1);
    std::vector<NPT_UInt8> out(kRead);
    size_t next = 0;
    for (auto _ : state) {
        decrypting.stream->Seek(positions[next++ % positions.size()]);
        decrypting.stream->ReadFully(out.data(), kRead);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kRead);
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}
BENCHMARK(BM_DecryptingStreamRandomAccess);

/*----------------------------------------------------------------------
|   peak heap of one buffer-form run
|   arg 0: data size; arg 1: 1 when the caller reserves the output first
+---------------------------------------------------------------------*/
void BM_BufferFormPeakHeap(benchmark::State& state)
{
    const size_t size = static_cast<size_t>(state.range(0));
    const bool reserved = state.range(1) != 0;
    std::vector<NPT_UInt8> input = MakeData(size);
    double peak = 0, beyond_output = 0;
    for (auto _ : state) {
        NPT_DataBuffer output;
        if (reserved) output.Reserve(static_cast<NPT_Size>(size));
        size_t before = g_HeapInUse.load();
        g_HeapPeak = before;
        TVK_CryptoHelper::EncryptDecryptWithPassword(kPassword, NPT_BlockCipher::ENCRYPT,
                                                     input.data(), static_cast<NPT_Size>(size),
                                                     output);
        size_t run_peak = g_HeapPeak.load() - before;
        peak = static_cast<double>(run_peak);
        beyond_output = static_cast<double>(run_peak) -
                        static_cast<double>(reserved ? 0 : output.GetBufferSize());
    }
    state.counters["peak_bytes"] = peak;
    state.counters["beyond_output_bytes"] = beyond_output;
}
BENCHMARK(BM_BufferFormPeakHeap)
    ->ArgsProduct({{1 << 20, 16 << 20, 64 << 20}, {0, 1}})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
