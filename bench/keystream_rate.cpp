// The key stream's throughput as one number, for scripts that compare
// builds which have no Google Benchmark (the Windows cross builds, run
// under Wine) with a native build on the same machine:
//   keystream_rate process-buffer SIZE   TVK_CtrStreamCipher::ProcessBuffer
//                                        over SIZE bytes, as the streams use it,
//                                        from one buffer into another
//   keystream_rate in-place SIZE         the same within one buffer
//   keystream_rate buffer-form SIZE      the password buffer form encrypting
//                                        SIZE bytes into a reused output
// prints the bytes per second of the best of 5 rounds of about 0.1 s each
// (the best: a round that was interrupted by something else says nothing
// about the code). Exit status 2 on a usage error, 1 when a run fails.
//
// The buffers of process-buffer lie at fixed places, the same in every
// build: the input at the start of a 4 KiB page, the output 2 KiB into
// another. Where an allocator puts them instead moves the rate of small
// sizes by up to a half: a load whose address matches a pending store's
// in its low 12 bits waits for that store (4 KiB aliasing), and two
// allocators place the same two buffers differently. Apart by half a
// page, no load ever waits so, and builds compare on their code alone.
#include <chrono>
#include <cstdio>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "BenchData.h"
#include "NptAes.h"
#include "NptDataBuffer.h"
#include "TvkCryptoHelper.h"
#include "TvkStreamCipher.h"

namespace {

const NPT_UInt8 kKey[16] = {0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07,
                            0x08, 0x09, 0x0a, 0x0b, 0x0c, 0x0d, 0x0e, 0x0f};

// Bytes per second of the best round of work(), which transforms size
// bytes per call; 0 when a call fails. The clock is read once per MiB
// or so, not after every call: under Wine reading it is a system call
// that would weigh on small sizes.
template <typename Work>
double BestRate(size_t size, Work work)
{
    using Clock = std::chrono::steady_clock;
    if (!work()) return 0;  // warms the caches and maps the output in
    const unsigned long batch = size >= (1u << 20) ? 1 : static_cast<unsigned long>((1u << 20) / size);
    double best = 0;
    for (int round = 0; round < 5; ++round) {
        const Clock::time_point start = Clock::now();
        Clock::time_point now = start;
        unsigned long calls = 0;
        do {
            for (unsigned long i = 0; i < batch; ++i) {
                if (!work()) return 0;
            }
            calls += batch;
            now = Clock::now();
        } while (now - start < std::chrono::milliseconds(100));
        const double seconds = std::chrono::duration<double>(now - start).count();
        const double rate = static_cast<double>(calls) * static_cast<double>(size) / seconds;
        if (rate > best) best = rate;
    }
    return best;
}

// size bytes at offset into a 4 KiB page of storage
NPT_UInt8* PlaceInPage(std::vector<NPT_UInt8>& storage, size_t size, size_t offset)
{
    storage.resize(size + offset + 4096);
    const std::uintptr_t start = reinterpret_cast<std::uintptr_t>(storage.data());
    return storage.data() + ((4096 - start % 4096) % 4096) + offset;
}

}  // namespace

int main(int argc, char** argv)
{
    const long long requested = argc == 3 ? std::atoll(argv[2]) : 0;
    const bool apart    = argc == 3 && std::strcmp(argv[1], "process-buffer") == 0;
    const bool in_place = argc == 3 && std::strcmp(argv[1], "in-place") == 0;
    if (requested <= 0 || requested > (1LL << 30) ||
        (!apart && !in_place && std::strcmp(argv[1], "buffer-form") != 0)) {
        std::fprintf(stderr, "usage: keystream_rate process-buffer|in-place|buffer-form SIZE\n");
        return 2;
    }
    const size_t size = static_cast<size_t>(requested);
    const std::vector<NPT_UInt8> input = tvk_bench::MakeData(size);
    double rate = 0;
    if (apart || in_place) {
        std::vector<NPT_UInt8> input_storage, output_storage;
        NPT_UInt8* const from = PlaceInPage(input_storage, size, 0);
        NPT_UInt8* const to   = in_place ? from : PlaceInPage(output_storage, size, 2048);
        std::memcpy(from, input.data(), size);
        TVK_CtrStreamCipher cipher(new NPT_AesBlockEncrypter(kKey, 16), 6);
        rate = BestRate(size, [&] {
            NPT_Size out_size = static_cast<NPT_Size>(size);
            return cipher.ProcessBuffer(from, static_cast<NPT_Size>(size), to, &out_size, false) == NPT_SUCCESS;
        });
    } else {
        NPT_DataBuffer output;
        rate = BestRate(size, [&] {
            output.SetDataSize(0);
            return TVK_CryptoHelper::EncryptDecryptWithPassword(tvk_bench::kPassword, NPT_BlockCipher::ENCRYPT,
                                                                input.data(), static_cast<NPT_Size>(size),
                                                                output) == NPT_SUCCESS;
        });
    }
    if (rate <= 0) {
        std::fprintf(stderr, "keystream_rate: the run failed\n");
        return 1;
    }
    std::printf("%.0f\n", rate);
    return 0;
}
