/*****************************************************************
| NptAesBitsliced.cpp - portable constant-time AES: bitsliced, four
| blocks at a time in 64-bit words.
|
| Representation. The 64 bytes of four blocks are spread over eight
| 64-bit "planes": plane b holds bit b of every byte. Byte p of block j
| (row r = p % 4, column c = p / 4 of the FIPS-197 state) sits at bit
| 16 r + 4 c + j, so a row is a 16-bit field, a column step is 4 bits
| and the four blocks are interleaved in the lowest bits. With this
| order MixColumns needs only word rotations (row r + 1 is the plane
| rotated by 16) and ShiftRows a few masked shifts per plane.
|
| SubBytes is computed, not looked up: the inverse in GF(2^8) is done in
| the isomorphic tower field GF((2^4)^2) = GF(2^4)[y] / (y^2 + y + 10),
| GF(2^4) = GF(2)[z] / (z^4 + z + 1), where
|   (h y + l)^-1 = h d^-1 y + (h + l) d^-1,  d = 10 h^2 + h l + l^2.
| The change of basis into the tower field (the AES element x maps to
| 0x4c) and the affine map of the S-box are linear over GF(2); they are
| merged into one input and one output layer of XORs, found by a greedy
| common-subexpression search over the 8x16 and 8x8 bit matrices. The
| inverse S-box uses the same core with the inverse affine map folded
| into its input layer instead.
|
| Every step is a fixed sequence of AND, XOR, NOT, shifts and rotations
| by constants over whole words: no table, branch or loop bound depends
| on the key or the data (the Memcheck test checks this on the built
| code). A single block is processed as a batch of four with three
| blocks unused.
|
| Schedule layout: round keys 0 .. round count, each as 8 planes (the
| round key repeated in all four blocks), 64 bytes per round key.
****************************************************************/
#include "NptAesEngine.h"

#include <cstring>

#include "NptWipe.h"

namespace {

const unsigned int kBlocksPerBatch = 4;

/*----------------------------------------------------------------------
|   GF(2^4) arithmetic on bit planes (element bit i in plane i)
+---------------------------------------------------------------------*/
inline void Gf16Multiply(const NPT_UInt64* a, const NPT_UInt64* b, NPT_UInt64* r)
{
    const NPT_UInt64 p0 = a[0] & b[0];
    const NPT_UInt64 p1 = (a[0] & b[1]) ^ (a[1] & b[0]);
    const NPT_UInt64 p2 = (a[0] & b[2]) ^ (a[1] & b[1]) ^ (a[2] & b[0]);
    const NPT_UInt64 p3 = (a[0] & b[3]) ^ (a[1] & b[2]) ^ (a[2] & b[1]) ^ (a[3] & b[0]);
    const NPT_UInt64 p4 = (a[1] & b[3]) ^ (a[2] & b[2]) ^ (a[3] & b[1]);
    const NPT_UInt64 p5 = (a[2] & b[3]) ^ (a[3] & b[2]);
    const NPT_UInt64 p6 = a[3] & b[3];
    // z^4 = z + 1, z^5 = z^2 + z, z^6 = z^3 + z^2
    r[0] = p0 ^ p4;
    r[1] = p1 ^ p4 ^ p5;
    r[2] = p2 ^ p5 ^ p6;
    r[3] = p3 ^ p6;
}

// The inverse in GF(2^4) (0 maps to 0), as the algebraic normal form of
// each output bit.
inline void Gf16Inverse(const NPT_UInt64* a, NPT_UInt64* r)
{
    const NPT_UInt64 p01 = a[0] & a[1];
    const NPT_UInt64 p02 = a[0] & a[2];
    const NPT_UInt64 p12 = a[1] & a[2];
    const NPT_UInt64 p03 = a[0] & a[3];
    const NPT_UInt64 p13 = a[1] & a[3];
    const NPT_UInt64 p23 = a[2] & a[3];
    const NPT_UInt64 p012 = p01 & a[2];
    const NPT_UInt64 p013 = p01 & a[3];
    const NPT_UInt64 p023 = p02 & a[3];
    const NPT_UInt64 p123 = p12 & a[3];
    const NPT_UInt64 s = a[3] ^ p02;
    r[0] = a[0] ^ a[1] ^ a[2] ^ s ^ p12 ^ p012 ^ p123;
    r[1] = p01 ^ s ^ p12 ^ p13 ^ p013;
    r[2] = p01 ^ a[2] ^ s ^ p03 ^ p023;
    r[3] = a[1] ^ a[2] ^ a[3] ^ p03 ^ p13 ^ p23 ^ p123;
}

// The inverse in the tower field of h y + l, given h, l, h + l and the
// linear part 10 h^2 + l^2 of d, all produced by the input layer.
inline void TowerInverse(const NPT_UInt64* h, const NPT_UInt64* l, const NPT_UInt64* hl,
                         const NPT_UInt64* linear, NPT_UInt64* out_h, NPT_UInt64* out_l)
{
    NPT_UInt64 d[4], d_inverse[4];
    Gf16Multiply(h, l, d);
    for (unsigned int i = 0; i < 4; ++i) d[i] ^= linear[i];
    Gf16Inverse(d, d_inverse);
    Gf16Multiply(h, d_inverse, out_h);
    Gf16Multiply(hl, d_inverse, out_l);
}

/*----------------------------------------------------------------------
|   S-box and inverse S-box on 8 planes, in place
+---------------------------------------------------------------------*/
void SubBytes(NPT_UInt64* x)
{
    NPT_UInt64 h[4], l[4], hl[4], linear[4], oh[4], ol[4];
    {
        // into the tower field
        const NPT_UInt64 t0 = x[4] ^ x[5];
        const NPT_UInt64 t1 = x[3] ^ x[6];
        const NPT_UInt64 t2 = x[7] ^ t1;
        const NPT_UInt64 t3 = x[0] ^ t0;
        const NPT_UInt64 t4 = x[1] ^ x[6];
        const NPT_UInt64 t5 = x[2] ^ x[3];
        const NPT_UInt64 t6 = x[2] ^ t2;
        const NPT_UInt64 t7 = x[5] ^ x[7];
        const NPT_UInt64 t8 = x[7] ^ t0;
        const NPT_UInt64 t9 = x[0] ^ x[5];
        const NPT_UInt64 t10 = x[1] ^ x[5];
        const NPT_UInt64 t11 = x[1] ^ t2;
        const NPT_UInt64 t12 = x[1] ^ t8;
        const NPT_UInt64 t13 = x[3] ^ t0;
        const NPT_UInt64 t14 = x[4] ^ t6;
        const NPT_UInt64 t15 = x[5] ^ t5;
        const NPT_UInt64 t16 = x[7] ^ t4;
        const NPT_UInt64 t17 = t0 ^ t4;
        const NPT_UInt64 t18 = t1 ^ t10;
        const NPT_UInt64 t19 = t3 ^ t6;
        const NPT_UInt64 t20 = t5 ^ t7;
        h[0] = t14; h[1] = t20; h[2] = t17; h[3] = t7;
        l[0] = t9; l[1] = t15; l[2] = t16; l[3] = t11;
        hl[0] = t19; hl[1] = x[7]; hl[2] = t8; hl[3] = t18;
        linear[0] = t3; linear[1] = t12; linear[2] = t13; linear[3] = t2;
    }
    TowerInverse(h, l, hl, linear, oh, ol);
    {
        // back to the AES field, with the S-box's affine map (+ 0x63)
        const NPT_UInt64 b0 = oh[0] ^ oh[3];
        const NPT_UInt64 b1 = oh[1] ^ b0;
        const NPT_UInt64 b2 = ol[1] ^ ol[2];
        const NPT_UInt64 b3 = ol[0] ^ b1;
        const NPT_UInt64 b4 = oh[0] ^ oh[2];
        const NPT_UInt64 b5 = oh[0] ^ ol[3];
        const NPT_UInt64 b6 = ol[0] ^ ol[1];
        const NPT_UInt64 b7 = ol[0] ^ ol[2];
        const NPT_UInt64 b8 = ol[0] ^ b4;
        const NPT_UInt64 b9 = ol[3] ^ b6;
        const NPT_UInt64 b10 = b1 ^ b2;
        const NPT_UInt64 b11 = b2 ^ b3;
        const NPT_UInt64 b12 = b2 ^ b5;
        x[0] = ~b3; x[1] = ~b7; x[2] = b9; x[3] = b8;
        x[4] = b11; x[5] = ~b10; x[6] = ~b0; x[7] = b12;
    }
}

void InvSubBytes(NPT_UInt64* x)
{
    NPT_UInt64 h[4], l[4], hl[4], linear[4], oh[4], ol[4];
    {
        // inverse affine map (- 0x63), then into the tower field
        const NPT_UInt64 t0 = x[1] ^ x[4];
        const NPT_UInt64 t1 = x[2] ^ x[7];
        const NPT_UInt64 t2 = x[5] ^ t0;
        const NPT_UInt64 t3 = x[0] ^ x[6];
        const NPT_UInt64 t4 = x[3] ^ t2;
        const NPT_UInt64 t5 = x[1] ^ t1;
        const NPT_UInt64 t6 = x[2] ^ t0;
        const NPT_UInt64 t7 = x[4] ^ x[5];
        const NPT_UInt64 t8 = x[7] ^ t3;
        const NPT_UInt64 t9 = x[0] ^ x[1];
        const NPT_UInt64 t10 = x[0] ^ t6;
        const NPT_UInt64 t11 = x[3] ^ x[6];
        const NPT_UInt64 t12 = x[3] ^ t1;
        const NPT_UInt64 t13 = x[4] ^ t8;
        const NPT_UInt64 t14 = x[5] ^ t9;
        const NPT_UInt64 t15 = x[6] ^ t0;
        const NPT_UInt64 t16 = x[6] ^ t4;
        const NPT_UInt64 t17 = x[6] ^ t5;
        const NPT_UInt64 t18 = t1 ^ t2;
        const NPT_UInt64 t19 = t1 ^ t3;
        const NPT_UInt64 t20 = t1 ^ t4;
        const NPT_UInt64 t21 = t3 ^ t7;
        const NPT_UInt64 t22 = t4 ^ t8;
        const NPT_UInt64 t23 = t6 ^ t11;
        h[0] = ~t5; h[1] = ~t21; h[2] = t20; h[3] = t17;
        l[0] = ~t7; l[1] = ~t14; l[2] = t2; l[3] = t10;
        hl[0] = t18; hl[1] = t15; hl[2] = t12; hl[3] = t13;
        linear[0] = ~t16; linear[1] = t19; linear[2] = t22; linear[3] = t23;
    }
    TowerInverse(h, l, hl, linear, oh, ol);
    {
        // back to the AES field
        const NPT_UInt64 b0 = oh[1] ^ oh[3];
        const NPT_UInt64 b1 = oh[0] ^ oh[2];
        const NPT_UInt64 b2 = ol[1] ^ b0;
        const NPT_UInt64 b3 = ol[2] ^ ol[3];
        const NPT_UInt64 b4 = oh[1] ^ ol[1];
        const NPT_UInt64 b5 = oh[1] ^ b1;
        const NPT_UInt64 b6 = oh[2] ^ oh[3];
        const NPT_UInt64 b7 = ol[0] ^ b2;
        const NPT_UInt64 b8 = ol[1] ^ ol[2];
        const NPT_UInt64 b9 = ol[2] ^ b6;
        const NPT_UInt64 b10 = b0 ^ b3;
        const NPT_UInt64 b11 = b1 ^ b8;
        x[0] = b7; x[1] = b5; x[2] = b10; x[3] = b3;
        x[4] = b9; x[5] = b2; x[6] = b11; x[7] = b4;
    }
}

/*----------------------------------------------------------------------
|   ShiftRows, MixColumns and their inverses
+---------------------------------------------------------------------*/
inline NPT_UInt64 RotateRight(NPT_UInt64 x, unsigned int n)
{
    return (x >> n) | (x << (64 - n));
}

// Row r moves left by r columns: its 16-bit field rotates right by 4 r
// bits. Rows 2 and 3 first rotate by 8 (swap of the field's bytes), then
// rows 1 and 3 by 4.
inline NPT_UInt64 ShiftRowsPlane(NPT_UInt64 x)
{
    const NPT_UInt64 t = (x ^ (x >> 8)) & 0x00FF00FF00000000ULL;
    x ^= t ^ (t << 8);
    return (x & 0x0000FFFF0000FFFFULL) | ((x >> 4) & 0x0FFF00000FFF0000ULL) |
           ((x << 12) & 0xF0000000F0000000ULL);
}

inline NPT_UInt64 InvShiftRowsPlane(NPT_UInt64 x)
{
    const NPT_UInt64 t = (x ^ (x >> 8)) & 0x00FF00FF00000000ULL;
    x ^= t ^ (t << 8);
    return (x & 0x0000FFFF0000FFFFULL) | ((x << 4) & 0xFFF00000FFF00000ULL) |
           ((x >> 12) & 0x000F0000000F0000ULL);
}

inline void ShiftRows(NPT_UInt64* x)
{
    for (unsigned int b = 0; b < 8; ++b) x[b] = ShiftRowsPlane(x[b]);
}

inline void InvShiftRows(NPT_UInt64* x)
{
    for (unsigned int b = 0; b < 8; ++b) x[b] = InvShiftRowsPlane(x[b]);
}

// r = {02} v: a shift of the planes with the reduction by x^8 + x^4 +
// x^3 + x + 1
inline void MultiplyByX(const NPT_UInt64* v, NPT_UInt64* r)
{
    r[0] = v[7];
    r[1] = v[0] ^ v[7];
    r[2] = v[1];
    r[3] = v[2] ^ v[7];
    r[4] = v[3] ^ v[7];
    r[5] = v[4];
    r[6] = v[5];
    r[7] = v[6];
}

// out_r = 2 a_r + 3 a_r+1 + a_r+2 + a_r+3 = 2 t_r + a_r+1 + t_r+2 with
// t_r = a_r + a_r+1. Rotating a plane by 16 bits brings row r + 1 to
// row r in every column and block.
inline void MixColumns(NPT_UInt64* x)
{
    NPT_UInt64 t[8], t2[8];
    for (unsigned int b = 0; b < 8; ++b) {
        const NPT_UInt64 next = RotateRight(x[b], 16);
        t[b] = x[b] ^ next;
        x[b] = next ^ RotateRight(t[b], 32);
    }
    MultiplyByX(t, t2);
    for (unsigned int b = 0; b < 8; ++b) x[b] ^= t2[b];
}

// The InvMixColumns polynomial {0b}x^3 + {0d}x^2 + {09}x + {0e} is the
// MixColumns one times {04}x^2 + {05}: first u_r = a_r + 4 (a_r + a_r+2),
// then MixColumns.
inline void InvMixColumns(NPT_UInt64* x)
{
    NPT_UInt64 v[8], v2[8], v4[8];
    for (unsigned int b = 0; b < 8; ++b) v[b] = x[b] ^ RotateRight(x[b], 32);
    MultiplyByX(v, v2);
    MultiplyByX(v2, v4);
    for (unsigned int b = 0; b < 8; ++b) x[b] ^= v4[b];
    MixColumns(x);
}

inline void AddRoundKey(NPT_UInt64* x, const NPT_UInt8* schedule, NPT_UInt32 round)
{
    NPT_UInt64 k[8];
    std::memcpy(k, schedule + 64 * round, sizeof(k));
    for (unsigned int b = 0; b < 8; ++b) x[b] ^= k[b];
}

/*----------------------------------------------------------------------
|   bytes to planes and back
+---------------------------------------------------------------------*/
// Swaps bit 8 k + b with bit 8 b + k: byte k of the result holds bit k
// of every byte of the input.
inline NPT_UInt64 TransposeBits(NPT_UInt64 x)
{
    NPT_UInt64 t = (x ^ (x >> 7)) & 0x00AA00AA00AA00AAULL;
    x ^= t ^ (t << 7);
    t = (x ^ (x >> 14)) & 0x0000CCCC0000CCCCULL;
    x ^= t ^ (t << 14);
    t = (x ^ (x >> 28)) & 0x00000000F0F0F0F0ULL;
    x ^= t ^ (t << 28);
    return x;
}

// Byte k of word m and byte m of word k trade places: three rounds of
// swaps, of 4, 2 and 1 bytes between words 4, 2 and 1 apart.
inline void SwapBytes(NPT_UInt64& low, NPT_UInt64& high, unsigned int shift, NPT_UInt64 mask)
{
    const NPT_UInt64 t = ((low >> shift) ^ high) & mask;
    high ^= t;
    low ^= t << shift;
}

inline void TransposeBytes(NPT_UInt64* w)
{
    const NPT_UInt64 m32 = 0x00000000FFFFFFFFULL;
    const NPT_UInt64 m16 = 0x0000FFFF0000FFFFULL;
    const NPT_UInt64 m8 = 0x00FF00FF00FF00FFULL;
    SwapBytes(w[0], w[4], 32, m32); SwapBytes(w[1], w[5], 32, m32);
    SwapBytes(w[2], w[6], 32, m32); SwapBytes(w[3], w[7], 32, m32);
    SwapBytes(w[0], w[2], 16, m16); SwapBytes(w[1], w[3], 16, m16);
    SwapBytes(w[4], w[6], 16, m16); SwapBytes(w[5], w[7], 16, m16);
    SwapBytes(w[0], w[1], 8, m8);   SwapBytes(w[2], w[3], 8, m8);
    SwapBytes(w[4], w[5], 8, m8);   SwapBytes(w[6], w[7], 8, m8);
}

// Eight bytes as a little-endian word: one load (and a byte swap on
// big-endian processors) instead of eight.
inline NPT_UInt64 LoadLittleEndian(const NPT_UInt8* p)
{
    NPT_UInt64 x;
    std::memcpy(&x, p, sizeof(x));
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    x = __builtin_bswap64(x);
#endif
    return x;
}

inline void StoreLittleEndian(NPT_UInt8* p, NPT_UInt64 x)
{
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    x = __builtin_bswap64(x);
#endif
    std::memcpy(p, &x, sizeof(x));
}

// Overwrites words of state with zeros through a volatile pointer, so the
// stores stay; word by word, as this runs for every batch of blocks.
inline void WipeWords(NPT_UInt64* words, unsigned int count)
{
    volatile NPT_UInt64* p = words;
    for (unsigned int i = 0; i < count; ++i) p[i] = 0;
}

// where byte p of a block goes in the plane order (plus the block's
// number j): row p % 4, column p / 4
const unsigned char kPlaneBit[16] = {0, 16, 32, 48, 4, 20, 36, 52,
                                     8, 24, 40, 56, 12, 28, 44, 60};

inline unsigned int PlaneBit(unsigned int p, unsigned int j)
{
    return kPlaneBit[p] + j;
}

// count (1 to 4) blocks into planes; missing blocks are zero
// count (1 to 4) blocks into planes; missing blocks are zero. scratch
// (64 bytes) is left holding the blocks, for the caller to wipe.
void Pack(const NPT_UInt8* input, unsigned int count, NPT_UInt64* x, NPT_UInt64* scratch)
{
    NPT_UInt8* bytes = reinterpret_cast<NPT_UInt8*>(scratch);
    std::memset(bytes, 0, 64);
    for (unsigned int j = 0; j < count; ++j) {
        for (unsigned int p = 0; p < 16; ++p) bytes[PlaneBit(p, j)] = input[16 * j + p];
    }
    for (unsigned int m = 0; m < 8; ++m) x[m] = TransposeBits(LoadLittleEndian(bytes + 8 * m));
    TransposeBytes(x);
}

// planes back to count blocks; scratch as for Pack
void Unpack(NPT_UInt64* x, unsigned int count, NPT_UInt8* output, NPT_UInt64* scratch)
{
    NPT_UInt8* bytes = reinterpret_cast<NPT_UInt8*>(scratch);
    TransposeBytes(x);
    for (unsigned int m = 0; m < 8; ++m) StoreLittleEndian(bytes + 8 * m, TransposeBits(x[m]));
    for (unsigned int j = 0; j < count; ++j) {
        for (unsigned int p = 0; p < 16; ++p) output[16 * j + p] = bytes[PlaneBit(p, j)];
    }
}

/*----------------------------------------------------------------------
|   the cipher
+---------------------------------------------------------------------*/
void EncryptPlanes(const NPT_UInt8* schedule, NPT_UInt32 round_count, NPT_UInt64* x)
{
    AddRoundKey(x, schedule, 0);
    for (NPT_UInt32 round = 1; round < round_count; ++round) {
        SubBytes(x);
        ShiftRows(x);
        MixColumns(x);
        AddRoundKey(x, schedule, round);
    }
    SubBytes(x);
    ShiftRows(x);
    AddRoundKey(x, schedule, round_count);
}

// the FIPS-197 inverse cipher, over the encryption round keys
void DecryptPlanes(const NPT_UInt8* schedule, NPT_UInt32 round_count, NPT_UInt64* x)
{
    AddRoundKey(x, schedule, round_count);
    for (NPT_UInt32 round = round_count - 1; round > 0; --round) {
        InvShiftRows(x);
        InvSubBytes(x);
        AddRoundKey(x, schedule, round);
        InvMixColumns(x);
    }
    InvShiftRows(x);
    InvSubBytes(x);
    AddRoundKey(x, schedule, 0);
}

// SubWord of a key word (four bytes, byte i in bits 8 i .. 8 i + 7)
NPT_UInt32 SubWord(NPT_UInt32 word)
{
    NPT_UInt64 x[8];
    for (unsigned int b = 0; b < 8; ++b) {
        x[b] = 0;
        for (unsigned int i = 0; i < 4; ++i) x[b] |= NPT_UInt64((word >> (8 * i + b)) & 1) << i;
    }
    SubBytes(x);
    NPT_UInt32 result = 0;
    for (unsigned int b = 0; b < 8; ++b) {
        for (unsigned int i = 0; i < 4; ++i) result |= NPT_UInt32((x[b] >> i) & 1) << (8 * i + b);
    }
    NPT_WipeMemory(x, sizeof(x));
    return result;
}

class PortableEngine : public NPT_AesEngine
{
public:
    NPT_AesImplementation GetImplementation() const override { return NPT_AES_IMPL_PORTABLE; }

    void ExpandKey(const NPT_UInt8* key, NPT_Size key_size, NPT_UInt32 round_count,
                   NPT_UInt8* schedule) const override
    {
        // FIPS-197 key expansion on words in memory order (byte 0 least
        // significant)
        NPT_UInt32 w[60];
        const unsigned int key_words = key_size / 4;
        const unsigned int total_words = 4 * (round_count + 1);
        for (unsigned int i = 0; i < key_words; ++i) {
            w[i] = NPT_UInt32(key[4 * i]) | (NPT_UInt32(key[4 * i + 1]) << 8) |
                   (NPT_UInt32(key[4 * i + 2]) << 16) | (NPT_UInt32(key[4 * i + 3]) << 24);
        }
        NPT_UInt32 round_constant = 1;
        for (unsigned int i = key_words; i < total_words; ++i) {
            NPT_UInt32 temp = w[i - 1];
            if (i % key_words == 0) {
                temp = SubWord((temp >> 8) | (temp << 24)) ^ round_constant;
                round_constant = (round_constant << 1) ^ ((round_constant >> 7) * 0x11b);
            } else if (key_words > 6 && i % key_words == 4) {
                temp = SubWord(temp);
            }
            w[i] = w[i - key_words] ^ temp;
        }

        // each round key, repeated in the four blocks, as planes
        NPT_UInt8 blocks[16 * kBlocksPerBatch];
        NPT_UInt64 x[8], scratch[8];
        for (NPT_UInt32 round = 0; round <= round_count; ++round) {
            for (unsigned int j = 0; j < kBlocksPerBatch; ++j) {
                for (unsigned int i = 0; i < 16; ++i) {
                    blocks[16 * j + i] = static_cast<NPT_UInt8>(w[4 * round + i / 4] >> (8 * (i % 4)));
                }
            }
            Pack(blocks, kBlocksPerBatch, x, scratch);
            std::memcpy(schedule + 64 * round, x, sizeof(x));
        }
        NPT_WipeMemory(w, sizeof(w));
        NPT_WipeMemory(blocks, sizeof(blocks));
        NPT_WipeMemory(x, sizeof(x));
        NPT_WipeMemory(scratch, sizeof(scratch));
    }

    void Encrypt(const NPT_UInt8* schedule, NPT_UInt32 round_count, const NPT_UInt8* input,
                 NPT_UInt8* output, NPT_Size count) const override
    {
        Run(EncryptPlanes, schedule, round_count, input, output, count);
    }

    void Decrypt(const NPT_UInt8* schedule, NPT_UInt32 round_count, const NPT_UInt8* input,
                 NPT_UInt8* output, NPT_Size count) const override
    {
        Run(DecryptPlanes, schedule, round_count, input, output, count);
    }

private:
    static void Run(void (*cipher)(const NPT_UInt8*, NPT_UInt32, NPT_UInt64*),
                    const NPT_UInt8* schedule, NPT_UInt32 round_count,
                    const NPT_UInt8* input, NPT_UInt8* output, NPT_Size count)
    {
        NPT_UInt64 x[8], scratch[8];
        for (std::size_t offset = 0; count > 0;) {
            const unsigned int n = count < kBlocksPerBatch ? count : kBlocksPerBatch;
            Pack(input + offset, n, x, scratch);
            cipher(schedule, round_count, x);
            Unpack(x, n, output + offset, scratch);
            offset += 16 * n;
            count -= n;
        }
        // the state and the scratch hold cleartext or key stream
        WipeWords(x, 8);
        WipeWords(scratch, 8);
    }
};

} // namespace

const NPT_AesEngine& NPT_AesPortableEngine()
{
    static const PortableEngine engine;
    return engine;
}
