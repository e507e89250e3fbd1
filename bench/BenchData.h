/*****************************************************************
| BenchData.h - inputs shared by the password benchmarks.
|
| kPassword is the password every benchmark encrypts with; MakeData
| gives reproducible pseudo-random bytes (an xorshift sequence with a
| fixed seed), so runs and programs see the same data and the cipher is
| not fed something that compresses or repeats.
|
| Header-only; benchmark code only.
****************************************************************/
#ifndef TVK_BENCH_DATA_H
#define TVK_BENCH_DATA_H

#include <cstddef>
#include <vector>

#include "NptTypes.h"

namespace tvk_bench {

inline const char* const kPassword = "benchmark password";

inline std::vector<NPT_UInt8> MakeData(size_t size)
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

} // namespace tvk_bench

#endif // TVK_BENCH_DATA_H
