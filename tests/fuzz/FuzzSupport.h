/*****************************************************************
| FuzzSupport.h - what every fuzz target shares: a check that aborts
| (so that libFuzzer and the corpus replay both see a failure) and a
| reader that takes numbers and byte runs from the fuzzer's input.
|
| The reader never fails: once the input is used up it yields zeros and
| empty runs, so a target can ask for whatever it needs. Header-only;
| one reader per input, one thread.
****************************************************************/
#ifndef TVK_FUZZ_SUPPORT_H
#define TVK_FUZZ_SUPPORT_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#define FUZZ_CHECK(condition)                                                        \
    do {                                                                             \
        if (!(condition)) {                                                          \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__,   \
                         #condition);                                                \
            std::abort();                                                            \
        }                                                                            \
    } while (0)

namespace tvk_fuzz {

class Reader
{
public:
    Reader(const std::uint8_t* data, std::size_t size) : m_Data(data), m_Size(size) {}

    bool        Empty() const { return m_Size == 0; }
    std::size_t Left() const { return m_Size; }

    std::uint8_t Byte()
    {
        if (m_Size == 0) return 0;
        --m_Size;
        return *m_Data++;
    }
    std::uint16_t U16() { return static_cast<std::uint16_t>(Byte() | (Byte() << 8)); }
    std::uint32_t U32() { return U16() | (std::uint32_t(U16()) << 16); }
    std::uint64_t U64() { return U32() | (std::uint64_t(U32()) << 32); }
    bool          Bool() { return Byte() & 1; }
    // 0 .. limit (inclusive)
    std::uint32_t Below(std::uint32_t limit) { return limit ? U32() % (limit + 1) : 0; }

    // A run of up to max bytes, its length from the input.
    std::vector<std::uint8_t> Bytes(std::size_t max)
    {
        std::size_t count = Below(static_cast<std::uint32_t>(max));
        return Take(count);
    }
    std::vector<std::uint8_t> Take(std::size_t count)
    {
        if (count > m_Size) count = m_Size;
        std::vector<std::uint8_t> run(m_Data, m_Data + count);
        m_Data += count;
        m_Size -= count;
        return run;
    }
    // The rest of the input.
    std::vector<std::uint8_t> Rest() { return Take(m_Size); }
    // Text without NUL bytes (they end it), up to max bytes.
    std::string Text(std::size_t max)
    {
        std::vector<std::uint8_t> run = Bytes(max);
        std::string text;
        for (std::uint8_t b : run) {
            if (b == 0) break;
            text.push_back(static_cast<char>(b));
        }
        return text;
    }

private:
    const std::uint8_t* m_Data;
    std::size_t         m_Size;
};

} // namespace tvk_fuzz

#endif // TVK_FUZZ_SUPPORT_H
