// Hexadecimal test vectors: decoding into byte vectors and encoding for
// readable failure messages. Independent of the library's own hex code,
// so that tests of that code do not check it against itself.
#ifndef TVK_TEST_HEX_H
#define TVK_TEST_HEX_H

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace tvk_test {

inline std::vector<std::uint8_t> FromHex(const std::string& hex)
{
    auto nibble = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        throw std::invalid_argument("bad hex digit in test vector");
    };
    std::vector<std::uint8_t> bytes;
    std::string digits;
    for (char c : hex) {
        if (c != ' ' && c != '\n') digits += c;
    }
    if (digits.size() % 2) throw std::invalid_argument("odd hex length in test vector");
    for (std::size_t i = 0; i < digits.size(); i += 2) {
        bytes.push_back(static_cast<std::uint8_t>(nibble(digits[i]) * 16 + nibble(digits[i + 1])));
    }
    return bytes;
}

inline std::string ToHex(const std::uint8_t* bytes, std::size_t size)
{
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (std::size_t i = 0; i < size; ++i) {
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 15];
    }
    return text;
}

inline std::string ToHex(const std::vector<std::uint8_t>& bytes)
{
    return ToHex(bytes.data(), bytes.size());
}

// The bytes of a text, without its terminator.
inline std::vector<std::uint8_t> TextBytes(const std::string& text)
{
    return std::vector<std::uint8_t>(text.begin(), text.end());
}

// (i * 7 + 1) mod 256: a message whose bytes all differ locally, shared
// by the digest tests.
inline std::vector<std::uint8_t> PatternBytes(std::size_t size)
{
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(i * 7 + 1);
    return bytes;
}

} // namespace tvk_test

#endif // TVK_TEST_HEX_H
