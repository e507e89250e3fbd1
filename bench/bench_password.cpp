// Password encryption as callers use it: the buffer form encrypting and
// decrypting 64 MiB, the decrypting stream read in 16-byte and 64 KiB
// requests, and random access (seek + 4 KiB read) on a 64 MiB source.
// Throughput is reported in bytes per second; bench_password_memory
// measures the memory of the buffer form.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "BenchData.h"
#include "NptDataBuffer.h"
#include "NptMemoryStream.h"
#include "TvkBlockCipherFactory.h"
#include "TvkCryptoHelper.h"
#include "TvkDecryptingStream.h"

namespace {

using tvk_bench::kPassword;
using tvk_bench::MakeData;

const size_t kSourceSize = 64u << 20;

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
}
BENCHMARK(BM_DecryptingStreamRandomAccess);

} // namespace

BENCHMARK_MAIN();
