/*****************************************************************
| TestSha256.h - SHA-256 (FIPS 180-4) and hexadecimal text for tests.
|
| Known-answer data files record large expected outputs by their
| SHA-256 digest; this lets a test compare against them without the
| library under test computing the digest. Written for clarity, not
| speed. Header-only, no shared state.
****************************************************************/
#ifndef TVK_TEST_SHA256_H
#define TVK_TEST_SHA256_H

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace tvk_test {

class Sha256
{
public:
    Sha256() { Reset(); }

    void Reset()
    {
        static const std::uint32_t initial[8] = {
            0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
            0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
        for (int i = 0; i < 8; ++i) m_State[i] = initial[i];
        m_Length = 0;
        m_Pending = 0;
    }

    void Update(const void* data, size_t size)
    {
        const std::uint8_t* bytes = static_cast<const std::uint8_t*>(data);
        m_Length += size;
        while (size > 0) {
            if (m_Pending == 0 && size >= 64) {
                Compress(bytes);
                bytes += 64;
                size -= 64;
                continue;
            }
            size_t take = 64 - m_Pending < size ? 64 - m_Pending : size;
            for (size_t i = 0; i < take; ++i) m_Block[m_Pending + i] = bytes[i];
            m_Pending += take;
            bytes += take;
            size -= take;
            if (m_Pending == 64) {
                Compress(m_Block);
                m_Pending = 0;
            }
        }
    }

    // The 32-byte digest; the object must be Reset before further use.
    std::vector<std::uint8_t> Finish()
    {
        std::uint64_t bits = m_Length * 8;
        std::uint8_t pad = 0x80;
        Update(&pad, 1);
        std::uint8_t zero = 0;
        while (m_Pending != 56) Update(&zero, 1);
        std::uint8_t length[8];
        for (int i = 0; i < 8; ++i) length[i] = std::uint8_t(bits >> (56 - 8 * i));
        Update(length, 8);
        std::vector<std::uint8_t> digest(32);
        for (int i = 0; i < 32; ++i) digest[i] = std::uint8_t(m_State[i / 4] >> (24 - 8 * (i % 4)));
        return digest;
    }

private:
    static std::uint32_t Rotr(std::uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

    void Compress(const std::uint8_t* block)
    {
        static const std::uint32_t k[64] = {
            0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
            0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
            0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
            0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
            0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
            0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
            0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
            0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};
        std::uint32_t w[64];
        for (int i = 0; i < 16; ++i) {
            w[i] = std::uint32_t(block[4 * i]) << 24 | std::uint32_t(block[4 * i + 1]) << 16 |
                   std::uint32_t(block[4 * i + 2]) << 8 | std::uint32_t(block[4 * i + 3]);
        }
        for (int i = 16; i < 64; ++i) {
            std::uint32_t s0 = Rotr(w[i - 15], 7) ^ Rotr(w[i - 15], 18) ^ (w[i - 15] >> 3);
            std::uint32_t s1 = Rotr(w[i - 2], 17) ^ Rotr(w[i - 2], 19) ^ (w[i - 2] >> 10);
            w[i] = w[i - 16] + s0 + w[i - 7] + s1;
        }
        std::uint32_t a = m_State[0], b = m_State[1], c = m_State[2], d = m_State[3];
        std::uint32_t e = m_State[4], f = m_State[5], g = m_State[6], h = m_State[7];
        for (int i = 0; i < 64; ++i) {
            std::uint32_t t1 = h + (Rotr(e, 6) ^ Rotr(e, 11) ^ Rotr(e, 25)) + ((e & f) ^ (~e & g)) + k[i] + w[i];
            std::uint32_t t2 = (Rotr(a, 2) ^ Rotr(a, 13) ^ Rotr(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
            h = g; g = f; f = e; e = d + t1;
            d = c; c = b; b = a; a = t1 + t2;
        }
        m_State[0] += a; m_State[1] += b; m_State[2] += c; m_State[3] += d;
        m_State[4] += e; m_State[5] += f; m_State[6] += g; m_State[7] += h;
    }

    std::uint32_t m_State[8];
    std::uint64_t m_Length;
    std::uint8_t  m_Block[64];
    size_t        m_Pending;
};

// Lowercase hexadecimal text of size bytes.
inline std::string ToHex(const void* data, size_t size)
{
    static const char digits[] = "0123456789abcdef";
    const std::uint8_t* bytes = static_cast<const std::uint8_t*>(data);
    std::string text;
    text.reserve(size * 2);
    for (size_t i = 0; i < size; ++i) {
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 15];
    }
    return text;
}

inline std::string ToHex(const std::vector<std::uint8_t>& bytes)
{
    return ToHex(bytes.data(), bytes.size());
}

// Bytes of an even-length hexadecimal text (either case); throws
// std::invalid_argument on anything else.
inline std::vector<std::uint8_t> FromHex(const std::string& text)
{
    auto nibble = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        throw std::invalid_argument("not a hex digit");
    };
    if (text.size() % 2) throw std::invalid_argument("odd hex length");
    std::vector<std::uint8_t> bytes(text.size() / 2);
    for (size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = std::uint8_t(nibble(text[2 * i]) << 4 | nibble(text[2 * i + 1]));
    }
    return bytes;
}

inline std::string Sha256Hex(const void* data, size_t size)
{
    Sha256 sha;
    sha.Update(data, size);
    return ToHex(sha.Finish());
}

} // namespace tvk_test

#endif // TVK_TEST_SHA256_H
