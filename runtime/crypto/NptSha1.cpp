/*****************************************************************
| NptSha1.cpp - the SHA-1 compression function (FIPS 180-1).
****************************************************************/
#include "NptSha1.h"

#include "NptUtils.h"
#include "NptWipe.h"

namespace {

inline NPT_UInt32 RotateLeft(NPT_UInt32 x, unsigned int n)
{
    return (x << n) | (x >> (32 - n));
}

} // namespace

NPT_Sha1Digest::NPT_Sha1Digest()
    : m_State{0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476, 0xC3D2E1F0}
{
}

NPT_Sha1Digest::~NPT_Sha1Digest()
{
    NPT_WipeMemory(m_State, sizeof(m_State));
}

NPT_Result NPT_Sha1Digest::GetDigest(NPT_DataBuffer& digest)
{
    return FinishDigest(m_State, 5, true, digest);
}

void NPT_Sha1Digest::CompressBlock(const NPT_UInt8* block)
{
    NPT_UInt32 w[80];
    for (unsigned int t = 0; t < 16; ++t) w[t] = NPT_Int32FromBytesBe(block + 4 * t);
    for (unsigned int t = 16; t < 80; ++t) {
        w[t] = RotateLeft(w[t - 3] ^ w[t - 8] ^ w[t - 14] ^ w[t - 16], 1);
    }

    NPT_UInt32 a = m_State[0], b = m_State[1], c = m_State[2];
    NPT_UInt32 d = m_State[3], e = m_State[4];
    for (unsigned int t = 0; t < 80; ++t) {
        NPT_UInt32 f, k;
        if (t < 20) {
            f = (b & c) | (~b & d);
            k = 0x5A827999;
        } else if (t < 40) {
            f = b ^ c ^ d;
            k = 0x6ED9EBA1;
        } else if (t < 60) {
            f = (b & c) | (b & d) | (c & d);
            k = 0x8F1BBCDC;
        } else {
            f = b ^ c ^ d;
            k = 0xCA62C1D6;
        }
        NPT_UInt32 temp = RotateLeft(a, 5) + f + e + w[t] + k;
        e = d;
        d = c;
        c = RotateLeft(b, 30);
        b = a;
        a = temp;
    }
    m_State[0] += a;
    m_State[1] += b;
    m_State[2] += c;
    m_State[3] += d;
    m_State[4] += e;

    // the schedule is derived from message bytes that may be a password
    NPT_WipeMemory(w, sizeof(w));
}
