// The C interface's reader as a driver that prints one rate, the C++
// side of bench/managed_speed.sh (the managed side is
// bench/TvkStreamRate.cs, with the same commands and the same reads):
//
//   capi_read_rate encrypt IN OUT PASSWORD    IN encrypted into OUT, no check file
//   capi_read_rate seq FILE PASSWORD          bytes per second, FILE read in order in 1 MiB reads
//   capi_read_rate random FILE PASSWORD N     reads per second, N reads of 4 KiB at random offsets
//
// Only the reads are timed (not opening the file, nor one read before
// them). The random offsets come from the same xorshift sequence as the
// managed side's.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "TvkCrypto/c.h"

namespace {

int Fail(const char* what, tvk_result result)
{
    std::fprintf(stderr, "capi_read_rate: %s: %s\n", what, tvk_result_text(result));
    return 1;
}

// offsets of 4 KiB reads within size bytes (size above 4 KiB)
std::vector<uint64_t> RandomOffsets(uint64_t size, long count)
{
    std::vector<uint64_t> offsets(static_cast<size_t>(count));
    uint32_t x = 0x2545F491;
    for (uint64_t& offset : offsets) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        offset = (uint64_t(x) * 4099) % (size - 4096);
    }
    return offsets;
}

int Read(const char* mode, const char* path, const char* password, long count)
{
    tvk_reader* reader = nullptr;
    tvk_result result = tvk_reader_open(path, password, std::strlen(password), TVK_VERIFY_NONE, nullptr, &reader);
    if (result != TVK_SUCCESS) return Fail(path, result);
    uint64_t size = 0;
    tvk_reader_size(reader, &size);
    const bool in_order = std::strcmp(mode, "seq") == 0;
    std::vector<uint64_t> offsets;
    if (!in_order) offsets = RandomOffsets(size, count);
    std::vector<char> buffer(in_order ? size_t(1) << 20 : 4096);
    uint64_t total = 0;
    size_t got = 0;
    // one untimed read first, as the managed side does for its JIT
    result = tvk_reader_read(reader, in_order ? 0 : offsets[0], buffer.data(), buffer.size(), &got, nullptr);
    const auto start = std::chrono::steady_clock::now();
    for (size_t i = 0; result == TVK_SUCCESS && (in_order ? total < size : i < offsets.size()); i++) {
        result = tvk_reader_read(reader, in_order ? total : offsets[i], buffer.data(), buffer.size(), &got,
                                 nullptr);
        total += got;
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    tvk_reader_close(reader);
    if (result != TVK_SUCCESS) return Fail("read", result);
    std::printf("%.0f\n", (in_order ? double(total) : double(offsets.size())) / seconds);
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 5 && std::strcmp(argv[1], "encrypt") == 0) {
        tvk_result result = tvk_encrypt_file(argv[2], argv[3], argv[4], std::strlen(argv[4]),
                                             TVK_OVERWRITE | TVK_NO_CHECK_FILE, nullptr);
        return result == TVK_SUCCESS ? 0 : Fail(argv[3], result);
    }
    if (argc == 4 && std::strcmp(argv[1], "seq") == 0) return Read("seq", argv[2], argv[3], 0);
    if (argc == 5 && std::strcmp(argv[1], "random") == 0) {
        return Read("random", argv[2], argv[3], std::atol(argv[4]));
    }
    std::fprintf(stderr, "usage: capi_read_rate encrypt IN OUT PASSWORD | seq FILE PASSWORD | "
                         "random FILE PASSWORD N\n");
    return 2;
}
