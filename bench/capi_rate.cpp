// The C interface's rates as one number each, the baselines that
// bench/python_speed.sh compares the Python package with (each side in a
// process of its own, interleaved):
//   capi_rate read FILE PASSWORD CHUNK [verify]
//       tvk_reader_read of all of FILE in order, CHUNK bytes a read into
//       one buffer
//   capi_rate seek FILE PASSWORD READ [verify]
//       tvk_reader_read of READ bytes at pseudo-random offsets (the same
//       sequence as python_speed.py's)
//   capi_rate transform SIZE
//       tvk_transform of one SIZE-byte buffer in place
// "verify" requires the check file (FILE.tvkcheck); without it reads are
// not verified. Prints the bytes per second of the best of 5 rounds of
// at least 0.2 s each (a round that something else interrupted says
// nothing about the code). Exit status 2 on a usage error, 1 when a read
// fails.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "TvkCrypto/c.h"

namespace {

// The offsets of the random reads: xorshift64 from a fixed seed, modulo
// the room for a read.
std::vector<uint64_t> RandomOffsets(uint64_t room, size_t count)
{
    std::vector<uint64_t> offsets(count);
    uint64_t x = 0x9E3779B97F4A7C15ull;
    for (uint64_t& offset : offsets) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        offset = x % room;
    }
    return offsets;
}

// Bytes per second of the best of 5 rounds; work() does one pass and
// returns its bytes, 0 on a failure.
template <typename Work>
double BestRate(Work work)
{
    using Clock = std::chrono::steady_clock;
    if (work() == 0) return 0;  // warms the caches
    double best = 0;
    for (int round = 0; round < 5; ++round) {
        const Clock::time_point start = Clock::now();
        double bytes = 0;
        Clock::time_point now;
        do {
            const uint64_t done = work();
            if (done == 0) return 0;
            bytes += static_cast<double>(done);
            now = Clock::now();
        } while (now - start < std::chrono::milliseconds(200));
        const double rate = bytes / std::chrono::duration<double>(now - start).count();
        if (rate > best) best = rate;
    }
    return best;
}

// capi_rate transform SIZE: prints the rate, returns the exit status.
int TransformRate(long long size)
{
    tvk_key* key = nullptr;
    if (size <= 0 || size > (1LL << 30)) {
        std::fprintf(stderr, "usage: capi_rate transform SIZE (1 to 2^30)\n");
        return 2;
    }
    if (tvk_key_create("benchmark password", 18, &key) != TVK_SUCCESS) return 1;
    std::vector<unsigned char> buffer(static_cast<size_t>(size));
    const double rate = BestRate([&]() -> uint64_t {
        return tvk_transform(key, buffer.data(), buffer.size(), 0) == TVK_SUCCESS ? buffer.size() : 0;
    });
    tvk_key_destroy(key);
    if (rate <= 0) return 1;
    std::printf("%.0f\n", rate);
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 3 && std::strcmp(argv[1], "transform") == 0) return TransformRate(std::atoll(argv[2]));
    const bool read_mode = argc >= 5 && std::strcmp(argv[1], "read") == 0;
    const bool seek_mode = argc >= 5 && std::strcmp(argv[1], "seek") == 0;
    const long long size = argc >= 5 ? std::atoll(argv[4]) : 0;
    const bool verify = argc == 6 && std::strcmp(argv[5], "verify") == 0;
    if ((!read_mode && !seek_mode) || size <= 0 || size > (1LL << 30) || (argc == 6 && !verify) || argc > 6) {
        std::fprintf(stderr, "usage: capi_rate read|seek FILE PASSWORD SIZE [verify] | transform SIZE\n");
        return 2;
    }
    tvk_reader* reader = nullptr;
    tvk_result result = tvk_reader_open(argv[2], argv[3], std::strlen(argv[3]),
                                        verify ? TVK_VERIFY_REQUIRED : TVK_VERIFY_NONE, nullptr, &reader);
    uint64_t file_size = 0;
    if (result == TVK_SUCCESS) result = tvk_reader_size(reader, &file_size);
    if (result != TVK_SUCCESS || file_size < static_cast<uint64_t>(size)) {
        std::fprintf(stderr, "capi_rate: %s\n", result != TVK_SUCCESS ? tvk_result_text(result) : "file too small");
        tvk_reader_close(reader);
        return 1;
    }
    std::vector<unsigned char> buffer(static_cast<size_t>(size));
    const std::vector<uint64_t> offsets = RandomOffsets(file_size - buffer.size() + 1, 4096);
    size_t next = 0;
    const double rate = BestRate([&]() -> uint64_t {
        uint64_t done = 0;
        size_t got = 0;
        if (read_mode) {
            for (uint64_t at = 0; at < file_size; at += got) {
                if (tvk_reader_read(reader, at, buffer.data(), buffer.size(), &got, nullptr) != TVK_SUCCESS) return 0;
                done += got;
            }
            return done;
        }
        for (int i = 0; i < 1024; ++i, next = (next + 1) % offsets.size()) {
            if (tvk_reader_read(reader, offsets[next], buffer.data(), buffer.size(), &got, nullptr) != TVK_SUCCESS) {
                return 0;
            }
            done += got;
        }
        return done;
    });
    tvk_reader_close(reader);
    if (rate <= 0) {
        std::fprintf(stderr, "capi_rate: a read failed\n");
        return 1;
    }
    std::printf("%.0f\n", rate);
    return 0;
}
