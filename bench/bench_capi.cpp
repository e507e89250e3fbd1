// The C interface's reader on a 64 MiB encrypted file with its check
// file: reads in order of 4 KiB and 1 MiB, verified against the check
// file or not. Verifying costs one tag per block read; the cache of
// verified blocks keeps small reads in a row from verifying a block
// again for each read. The file lives in /dev/shm where there is one.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <unistd.h>

#include "BenchData.h"
#include "TvkCrypto/c.h"

namespace {

const size_t kFileSize = size_t(64) << 20;

// Where the encrypted file is, kept for the removal at exit (a plain
// array: a static string could be destroyed before that runs).
char g_Encrypted[64];

void RemoveEncryptedFile()
{
    std::remove(g_Encrypted);
    std::remove((std::string(g_Encrypted) + ".tvkcheck").c_str());
}

// The encrypted file and its check file, made once per process.
const char* EncryptedFile()
{
    if (g_Encrypted[0] != 0) return g_Encrypted;
    char name[] = "/dev/shm/tvk-bench-capi.XXXXXX";
    char fallback[] = "/tmp/tvk-bench-capi.XXXXXX";
    int fd = mkstemp(name);
    const char* clear = name;
    if (fd < 0) {
        fd = mkstemp(fallback);
        clear = fallback;
    }
    const std::vector<NPT_UInt8> data = tvk_bench::MakeData(kFileSize);
    if (fd < 0 || write(fd, data.data(), data.size()) != static_cast<ssize_t>(data.size())) std::abort();
    close(fd);
    std::snprintf(g_Encrypted, sizeof(g_Encrypted), "%s.tvk", clear);
    std::atexit(RemoveEncryptedFile);
    const tvk_result result = tvk_encrypt_file(clear, g_Encrypted, "bench", 5, TVK_OVERWRITE, nullptr);
    std::remove(clear);
    if (result != TVK_SUCCESS) std::abort();
    return g_Encrypted;
}

void BM_CReaderRead(benchmark::State& state)
{
    const bool verified = state.range(0) != 0;
    const size_t size = static_cast<size_t>(state.range(1));
    tvk_reader* reader = nullptr;
    if (tvk_reader_open(EncryptedFile(), "bench", 5, verified ? TVK_VERIFY_REQUIRED : TVK_VERIFY_NONE,
                        nullptr, &reader) != TVK_SUCCESS) {
        state.SkipWithError("cannot open the encrypted file");
        return;
    }
    std::vector<char> buffer(size);
    uint64_t offset = 0;
    for (auto _ : state) {
        size_t got = 0;
        if (tvk_reader_read(reader, offset, buffer.data(), size, &got, nullptr) != TVK_SUCCESS || got != size) {
            state.SkipWithError("read failed");
            break;
        }
        offset = (offset + size) % kFileSize;
    }
    tvk_reader_close(reader);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(size));
}
BENCHMARK(BM_CReaderRead)->ArgNames({"verified", "size"})->ArgsProduct({{0, 1}, {4096, 1 << 20}});

}  // namespace

BENCHMARK_MAIN();
