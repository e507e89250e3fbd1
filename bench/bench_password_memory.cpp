// Memory of the buffer form: the peak of heap bytes in use during one
// call, over what was in use before it, counted by the replaced operator
// new below, for data sizes of 1, 16 and 64 MiB. "beyond_output_bytes"
// is that peak minus the output buffer's final capacity: what the run
// itself costs on top of its result. With the second argument 1 the
// caller reserved the output before the call.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <vector>

#include "BenchData.h"
#include "NptDataBuffer.h"
#include "TvkCryptoHelper.h"

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

using tvk_bench::kPassword;
using tvk_bench::MakeData;

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
