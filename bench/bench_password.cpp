// Password encryption as callers use it, each next to its OpenSSL
// AES-128-CTR baseline doing the same job over the same 64 MiB:
//   the buffer form encrypting and decrypting 64 MiB   vs  EVP buffer to buffer
//   the encrypting and decrypting streams read in 64 KiB requests, over
//   the library's memory stream and over callers' own streams (which get
//   the general, slice by slice path)                  vs  EVP into a 64 KiB block
//   the decrypting stream read in 16-byte requests
//   random access, Seek + 4 KiB read                   vs  EVP restarted at each place
// Throughput is reported in bytes per second; bench_password_memory
// measures the memory of the buffer form.
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <vector>

#include "BenchBaselines.h"
#include "BenchData.h"
#include "NptDataBuffer.h"
#include "NptMemoryStream.h"
#include "TvkBlockCipherFactory.h"
#include "TvkCryptoHelper.h"
#include "TvkDecryptingStream.h"
#include "TvkEncryptingStream.h"

namespace {

using tvk_bench::kPassword;
using tvk_bench::MakeData;

const size_t kSourceSize = 64u << 20;
const NPT_Size kRandomRead = 4096;

const std::vector<NPT_UInt8>& SourceData()
{
    static const std::vector<NPT_UInt8> data = MakeData(kSourceSize);
    return data;
}

const std::vector<NPT_Position>& RandomPositions()
{
    static const std::vector<NPT_Position> positions = [] {
        std::vector<NPT_Position> p(4096);
        std::mt19937_64 random(42);
        for (auto& position : p) position = random() % (kSourceSize - kRandomRead + 1);
        return p;
    }();
    return positions;
}

// The password's key, as the helper derives it.
const NPT_UInt8* Key()
{
    static const NPT_DataBuffer key = [] {
        NPT_DataBuffer k;
        TVK_CryptoHelper::GenerateKey(kPassword, k);
        return k;
    }();
    return key.GetData();
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
|   cipher streams over a 64 MiB source
|   source 0: the library's NPT_MemoryStream (read in place)
|          1: a caller's class derived from it (read slice by slice, each
|             slice through the memory stream's own Read)
|          2: a caller's own minimal stream over the bytes (slice by
|             slice; its Read costs little, so the figure is mostly the
|             cipher stream's own work)
+---------------------------------------------------------------------*/
class CallersMemoryStream : public NPT_MemoryStream
{
public:
    using NPT_MemoryStream::NPT_MemoryStream;
};

class CallersOwnStream : public NPT_InputStream
{
public:
    CallersOwnStream(const NPT_UInt8* data, NPT_Size size) : m_Data(data), m_Size(size) {}
    NPT_Result Read(void* buffer, NPT_Size bytes_to_read, NPT_Size* bytes_read) override
    {
        NPT_Size count = m_Size - m_Position < bytes_to_read ? m_Size - m_Position : bytes_to_read;
        if (bytes_read) *bytes_read = count;
        if (count == 0) return bytes_to_read ? NPT_ERROR_END_OF_STREAM : NPT_SUCCESS;
        std::memcpy(buffer, m_Data + m_Position, count);
        m_Position += count;
        return NPT_SUCCESS;
    }
    NPT_Result Seek(NPT_Position position) override
    {
        if (position > m_Size) return NPT_ERROR_OUT_OF_RANGE;
        m_Position = static_cast<NPT_Size>(position);
        return NPT_SUCCESS;
    }
    NPT_Result Tell(NPT_Position& position) override { position = m_Position; return NPT_SUCCESS; }
    NPT_Result GetSize(NPT_LargeSize& size) override { size = m_Size; return NPT_SUCCESS; }
    NPT_Result GetAvailable(NPT_LargeSize& available) override
    {
        available = m_Size - m_Position;
        return NPT_SUCCESS;
    }

private:
    const NPT_UInt8* m_Data;
    NPT_Size         m_Size;
    NPT_Size         m_Position = 0;
};

struct CipherStream
{
    NPT_DataBuffer           buffer;
    NPT_InputStreamReference source;
    NPT_InputStreamReference stream;

    CipherStream(bool encrypting, int source_kind)
        : buffer(SourceData().data(), static_cast<NPT_Size>(SourceData().size()), false)
    {
        const NPT_UInt8* data = SourceData().data();
        const NPT_Size   size = static_cast<NPT_Size>(SourceData().size());
        if (source_kind == 0) source = new NPT_MemoryStream(buffer);
        else if (source_kind == 1) source = new CallersMemoryStream(buffer);
        else source = new CallersOwnStream(data, size);
        TVK_BlockCipherFactory* factory = &TVK_DefaultBlockCipherFactory::Instance;
        if (encrypting) {
            TVK_EncryptingStream::Create(source, Key(), TVK_CryptoHelper::KEY_SIZE, factory, stream,
                                         nullptr, nullptr, TVK_CryptoHelper::EXPANSION_FACTOR);
        } else {
            TVK_DecryptingStream::Create(source, Key(), TVK_CryptoHelper::KEY_SIZE, factory, stream,
                                         nullptr, TVK_CryptoHelper::EXPANSION_FACTOR);
        }
    }
};

// args: request size, source kind
void StreamRead(benchmark::State& state, bool encrypting)
{
    const NPT_Size request = static_cast<NPT_Size>(state.range(0));
    std::vector<NPT_UInt8> out(request);
    for (auto _ : state) {
        // the encrypting stream cannot seek back: a new one per pass
        CipherStream cipher(encrypting, static_cast<int>(state.range(1)));
        if (cipher.stream.IsNull()) {
            state.SkipWithError("the cipher stream could not be made");
            return;
        }
        NPT_Size got = 0;
        while (cipher.stream->Read(out.data(), request, &got) == NPT_SUCCESS) {
            benchmark::DoNotOptimize(out.data());
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(kSourceSize));
}

void BM_EncryptingStreamRead(benchmark::State& state) { StreamRead(state, true); }
void BM_DecryptingStreamRead(benchmark::State& state) { StreamRead(state, false); }
BENCHMARK(BM_EncryptingStreamRead)->ArgNames({"request", "source"})
    ->ArgsProduct({{64 << 10}, {0, 1, 2}})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecryptingStreamRead)->ArgNames({"request", "source"})
    ->Args({16, 0})->ArgsProduct({{64 << 10}, {0, 1, 2}})->Unit(benchmark::kMillisecond);

// arg: source kind, as above
void BM_DecryptingStreamRandomAccess(benchmark::State& state)
{
    CipherStream decrypting(false, static_cast<int>(state.range(0)));
    if (decrypting.stream.IsNull()) {
        state.SkipWithError("the cipher stream could not be made");
        return;
    }
    const std::vector<NPT_Position>& positions = RandomPositions();
    std::vector<NPT_UInt8> out(kRandomRead);
    size_t next = 0;
    for (auto _ : state) {
        decrypting.stream->Seek(positions[next++ % positions.size()]);
        decrypting.stream->ReadFully(out.data(), kRandomRead);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kRandomRead);
}
BENCHMARK(BM_DecryptingStreamRandomAccess)->ArgName("source")->DenseRange(0, 2);

/*----------------------------------------------------------------------
|   OpenSSL baselines over the same data
+---------------------------------------------------------------------*/
#if defined(TVK_BENCH_HAVE_OPENSSL)
// 64 MiB buffer to buffer; the output reused as in reused_output:1
void BM_EvpBuffer(benchmark::State& state)
{
    const std::vector<NPT_UInt8>& input = SourceData();
    std::vector<NPT_UInt8> output(input.size());
    tvk_bench::EvpCtr evp(Key());
    for (auto _ : state) {
        evp.Restart(0);
        evp.Process(input.data(), output.data(), input.size());
        benchmark::DoNotOptimize(output.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(input.size()));
}
BENCHMARK(BM_EvpBuffer)->Unit(benchmark::kMillisecond);

// 64 MiB in requests of the argument's size into one block, as a
// reader of a cipher stream receives them
void BM_EvpStreamRead(benchmark::State& state)
{
    const size_t request = static_cast<size_t>(state.range(0));
    const std::vector<NPT_UInt8>& input = SourceData();
    std::vector<NPT_UInt8> out(request);
    tvk_bench::EvpCtr evp(Key());
    for (auto _ : state) {
        evp.Restart(0);
        for (size_t at = 0; at < input.size(); at += request) {
            evp.Process(input.data() + at, out.data(), request);
            benchmark::DoNotOptimize(out.data());
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(kSourceSize));
}
BENCHMARK(BM_EvpStreamRead)->Arg(64 << 10)->Unit(benchmark::kMillisecond);

// the same places as BM_DecryptingStreamRandomAccess, 4 KiB from the
// 16-byte block holding each
void BM_EvpRandomAccess(benchmark::State& state)
{
    const std::vector<NPT_UInt8>& input = SourceData();
    const std::vector<NPT_Position>& positions = RandomPositions();
    std::vector<NPT_UInt8> out(kRandomRead);
    tvk_bench::EvpCtr evp(Key());
    size_t next = 0;
    for (auto _ : state) {
        NPT_Position at = positions[next++ % positions.size()] & ~NPT_Position(15);
        evp.Restart(at);
        evp.Process(input.data() + at, out.data(), kRandomRead);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kRandomRead);
}
BENCHMARK(BM_EvpRandomAccess);
#endif

} // namespace

BENCHMARK_MAIN();
