/*****************************************************************
| TestAesTable.h - the classic table-driven AES, kept as an independent
| reference for the tests and benchmarks of the library's AES engines.
|
| Encryption uses one round table Te (SubBytes and MixColumns of one
| byte position) and reaches the other three positions by rotating its
| entries by 8, 16 and 24 bits; the last round and the key expansion use
| Te4, the S-box byte replicated into all four bytes of a word.
| Decryption mirrors this with Td and Td4 over the round keys of the
| equivalent inverse cipher. The tables are computed at compile time from
| the field arithmetic of GF(2^8).
|
| Its lookups depend on the key and the data, which is why the library
| no longer uses it. Header-only; test and benchmark code only.
****************************************************************/
#ifndef TVK_TEST_AES_TABLE_H
#define TVK_TEST_AES_TABLE_H

#include <cstddef>

#include "NptTypes.h"

namespace tvk_test {
namespace aes_table {


struct AesTables {
    NPT_UInt32 te[256];
    NPT_UInt32 te4[256];
    NPT_UInt32 td[256];
    NPT_UInt32 td4[256];
};

constexpr NPT_UInt8 Xtime(NPT_UInt8 x)
{
    return static_cast<NPT_UInt8>((x << 1) ^ ((x & 0x80) ? 0x1b : 0x00));
}

constexpr NPT_UInt8 Multiply(NPT_UInt8 a, NPT_UInt8 b)
{
    NPT_UInt8 product = 0;
    while (b) {
        if (b & 1) product ^= a;
        a = Xtime(a);
        b >>= 1;
    }
    return product;
}

constexpr NPT_UInt8 RotateByteLeft(NPT_UInt8 x, unsigned int n)
{
    return static_cast<NPT_UInt8>((x << n) | (x >> (8 - n)));
}

constexpr NPT_UInt32 Word(NPT_UInt8 b0, NPT_UInt8 b1, NPT_UInt8 b2, NPT_UInt8 b3)
{
    return (NPT_UInt32(b0) << 24) | (NPT_UInt32(b1) << 16) |
           (NPT_UInt32(b2) << 8) | NPT_UInt32(b3);
}

constexpr AesTables MakeTables()
{
    AesTables tables{};

    // powers and logarithms of the generator 3, to invert field elements
    NPT_UInt8 power[256] = {};
    NPT_UInt8 log[256] = {};
    NPT_UInt8 x = 1;
    for (unsigned int i = 0; i < 255; ++i) {
        power[i] = x;
        log[x] = static_cast<NPT_UInt8>(i);
        x = static_cast<NPT_UInt8>(x ^ Xtime(x));
    }

    NPT_UInt8 sbox[256] = {};
    NPT_UInt8 inverse_sbox[256] = {};
    for (unsigned int a = 0; a < 256; ++a) {
        NPT_UInt8 inverse = a ? power[(255 - log[a]) % 255] : 0;
        NPT_UInt8 s = static_cast<NPT_UInt8>(
            inverse ^ RotateByteLeft(inverse, 1) ^ RotateByteLeft(inverse, 2) ^
            RotateByteLeft(inverse, 3) ^ RotateByteLeft(inverse, 4) ^ 0x63);
        sbox[a] = s;
        inverse_sbox[s] = static_cast<NPT_UInt8>(a);
    }

    for (unsigned int a = 0; a < 256; ++a) {
        NPT_UInt8 s = sbox[a];
        NPT_UInt8 si = inverse_sbox[a];
        tables.te[a] = Word(Multiply(s, 2), s, s, Multiply(s, 3));
        tables.te4[a] = Word(s, s, s, s);
        tables.td[a] = Word(Multiply(si, 0x0e), Multiply(si, 0x09),
                            Multiply(si, 0x0d), Multiply(si, 0x0b));
        tables.td4[a] = Word(si, si, si, si);
    }
    return tables;
}

inline constexpr AesTables kTables = MakeTables();

inline constexpr NPT_UInt32 kRoundConstants[10] = {
    0x01000000, 0x02000000, 0x04000000, 0x08000000, 0x10000000,
    0x20000000, 0x40000000, 0x80000000, 0x1b000000, 0x36000000};

inline NPT_UInt32 RotateRight(NPT_UInt32 w, unsigned int n)
{
    return (w >> n) | (w << (32 - n));
}

inline NPT_UInt32 LoadBe(const NPT_UInt8* p)
{
    return (NPT_UInt32(p[0]) << 24) | (NPT_UInt32(p[1]) << 16) |
           (NPT_UInt32(p[2]) << 8) | NPT_UInt32(p[3]);
}

inline void StoreBe(NPT_UInt8* p, NPT_UInt32 w)
{
    p[0] = static_cast<NPT_UInt8>(w >> 24);
    p[1] = static_cast<NPT_UInt8>(w >> 16);
    p[2] = static_cast<NPT_UInt8>(w >> 8);
    p[3] = static_cast<NPT_UInt8>(w);
}

inline NPT_UInt32 SubWord(NPT_UInt32 w)
{
    const NPT_UInt32* te4 = kTables.te4;
    return (te4[w >> 24] & 0xff000000) ^ (te4[(w >> 16) & 0xff] & 0x00ff0000) ^
           (te4[(w >> 8) & 0xff] & 0x0000ff00) ^ (te4[w & 0xff] & 0x000000ff);
}

// One column of MixColumns(SubBytes(ShiftRows(state))), bytes taken from
// the four words in the given order.
inline NPT_UInt32 EncryptColumn(NPT_UInt32 a, NPT_UInt32 b, NPT_UInt32 c, NPT_UInt32 d)
{
    const NPT_UInt32* te = kTables.te;
    // paired, so the four lookups combine in two levels, not a chain
    return (te[a >> 24] ^ RotateRight(te[(b >> 16) & 0xff], 8)) ^
           (RotateRight(te[(c >> 8) & 0xff], 16) ^ RotateRight(te[d & 0xff], 24));
}

inline NPT_UInt32 DecryptColumn(NPT_UInt32 a, NPT_UInt32 b, NPT_UInt32 c, NPT_UInt32 d)
{
    const NPT_UInt32* td = kTables.td;
    return (td[a >> 24] ^ RotateRight(td[(b >> 16) & 0xff], 8)) ^
           (RotateRight(td[(c >> 8) & 0xff], 16) ^ RotateRight(td[d & 0xff], 24));
}

inline NPT_UInt32 LastColumn(const NPT_UInt32* table,
                             NPT_UInt32 a, NPT_UInt32 b, NPT_UInt32 c, NPT_UInt32 d)
{
    return (table[a >> 24] & 0xff000000) ^ (table[(b >> 16) & 0xff] & 0x00ff0000) ^
           (table[(c >> 8) & 0xff] & 0x0000ff00) ^ (table[d & 0xff] & 0x000000ff);
}

// InvMixColumns of one round-key word: Td applied to the S-box image of
// each byte cancels the InvSubBytes that Td folds in.
inline NPT_UInt32 InvMixColumn(NPT_UInt32 w)
{
    const NPT_UInt32* te4 = kTables.te4;
    return DecryptColumn(te4[w >> 24], te4[(w >> 16) & 0xff],
                         te4[(w >> 8) & 0xff], te4[w & 0xff]);
}

// The two directions run the same rounds over their own round keys; a
// policy gives the column function of the middle rounds and of the last
// round. Each is called with the state words in the encryption order
// (the column's own word first, then the next ones); decryption takes the
// words the other way round, as its ShiftRows goes right. Everything is
// inlined, so each direction compiles to the same code as a hand-written
// loop.
struct EncryptRounds {
    static NPT_UInt32 Column(NPT_UInt32 a, NPT_UInt32 b, NPT_UInt32 c, NPT_UInt32 d)
    {
        return EncryptColumn(a, b, c, d);
    }
    static NPT_UInt32 Last(NPT_UInt32 a, NPT_UInt32 b, NPT_UInt32 c, NPT_UInt32 d)
    {
        return LastColumn(kTables.te4, a, b, c, d);
    }
};

struct DecryptRounds {
    static NPT_UInt32 Column(NPT_UInt32 a, NPT_UInt32 b, NPT_UInt32 c, NPT_UInt32 d)
    {
        return DecryptColumn(a, d, c, b);
    }
    static NPT_UInt32 Last(NPT_UInt32 a, NPT_UInt32 b, NPT_UInt32 c, NPT_UInt32 d)
    {
        return LastColumn(kTables.td4, a, d, c, b);
    }
};

template <class Rounds>
inline void RunRounds(const NPT_UInt32* rk, NPT_UInt32 round_count,
                      const NPT_UInt8* input, NPT_UInt8* output)
{
    NPT_UInt32 s0 = LoadBe(input) ^ rk[0];
    NPT_UInt32 s1 = LoadBe(input + 4) ^ rk[1];
    NPT_UInt32 s2 = LoadBe(input + 8) ^ rk[2];
    NPT_UInt32 s3 = LoadBe(input + 12) ^ rk[3];

    for (NPT_UInt32 round = 1; round < round_count; ++round) {
        rk += 4;
        NPT_UInt32 t0 = Rounds::Column(s0, s1, s2, s3) ^ rk[0];
        NPT_UInt32 t1 = Rounds::Column(s1, s2, s3, s0) ^ rk[1];
        NPT_UInt32 t2 = Rounds::Column(s2, s3, s0, s1) ^ rk[2];
        NPT_UInt32 t3 = Rounds::Column(s3, s0, s1, s2) ^ rk[3];
        s0 = t0; s1 = t1; s2 = t2; s3 = t3;
    }

    rk += 4;
    StoreBe(output,      Rounds::Last(s0, s1, s2, s3) ^ rk[0]);
    StoreBe(output + 4,  Rounds::Last(s1, s2, s3, s0) ^ rk[1]);
    StoreBe(output + 8,  Rounds::Last(s2, s3, s0, s1) ^ rk[2]);
    StoreBe(output + 12, Rounds::Last(s3, s0, s1, s2) ^ rk[3]);
}


} // namespace aes_table

// AES with a 16-, 24- or 32-byte key; both schedules built at
// construction, as the library's table code did.
class TableAes
{
public:
    TableAes(const NPT_UInt8* key, std::size_t key_size)
    {
        using namespace aes_table;
        const unsigned int key_words = static_cast<unsigned int>(key_size / 4);
        m_RoundCount = static_cast<NPT_UInt32>((key_size / 8) * 2 + 6);
        const unsigned int total_words = 4 * (m_RoundCount + 1);
        NPT_UInt32* ek = m_EncryptionKeys;
        for (unsigned int i = 0; i < key_words; ++i) ek[i] = LoadBe(key + 4 * i);
        for (unsigned int i = key_words; i < total_words; ++i) {
            NPT_UInt32 temp = ek[i - 1];
            if (i % key_words == 0) {
                temp = SubWord(RotateRight(temp, 24)) ^ kRoundConstants[i / key_words - 1];
            } else if (key_words > 6 && i % key_words == 4) {
                temp = SubWord(temp);
            }
            ek[i] = ek[i - key_words] ^ temp;
        }
        NPT_UInt32* dk = m_DecryptionKeys;
        for (unsigned int round = 0; round <= m_RoundCount; ++round) {
            for (unsigned int j = 0; j < 4; ++j) {
                NPT_UInt32 w = ek[4 * (m_RoundCount - round) + j];
                dk[4 * round + j] = (round == 0 || round == m_RoundCount) ? w : InvMixColumn(w);
            }
        }
    }

    void Encrypt(const NPT_UInt8* input, NPT_UInt8* output) const
    {
        aes_table::RunRounds<aes_table::EncryptRounds>(m_EncryptionKeys, m_RoundCount, input, output);
    }
    void Decrypt(const NPT_UInt8* input, NPT_UInt8* output) const
    {
        aes_table::RunRounds<aes_table::DecryptRounds>(m_DecryptionKeys, m_RoundCount, input, output);
    }
    // The S-box entry of one byte, from the tables.
    static NPT_UInt8 Sbox(NPT_UInt8 a) { return static_cast<NPT_UInt8>(aes_table::kTables.te4[a]); }

private:
    NPT_UInt32 m_EncryptionKeys[60] = {};
    NPT_UInt32 m_DecryptionKeys[60] = {};
    NPT_UInt32 m_RoundCount = 0;
};

} // namespace tvk_test

#endif // TVK_TEST_AES_TABLE_H
