/*****************************************************************
| NptHmacSha256Key.cpp - HMAC-SHA-256 from precomputed pad states.
****************************************************************/
#include "NptHmacSha256Key.h"

#include <cstring>

#include "NptDataBuffer.h"
#include "NptSha256.h"
#include "NptUtils.h"
#include "NptWipe.h"

namespace {

const NPT_Size kBlockSize = 64;
const NPT_Size kHashSize = NPT_Sha256Digest::DIGEST_SIZE;

/*----------------------------------------------------------------------
|   Lane
|
|   One SHA-256 computation that continues from a keyed state (one pad
|   block already compressed): stages partial blocks, compresses whole
|   ones straight from the caller's bytes, and pads at the end. Wipes
|   itself on destruction.
+---------------------------------------------------------------------*/
struct Lane {
    NPT_UInt32 state[8];
    NPT_UInt8  buffer[kBlockSize];
    NPT_Size   pending;
    NPT_UInt64 total; // bytes, the pad block included

    explicit Lane(const NPT_UInt32* start) : pending(0), total(kBlockSize)
    {
        std::memcpy(state, start, sizeof(state));
    }
    ~Lane()
    {
        NPT_WipeMemory(state, sizeof(state));
        NPT_WipeMemory(buffer, sizeof(buffer));
    }

    void Absorb(const NPT_UInt8* data, NPT_Size size)
    {
        total += size;
        if (pending > 0) {
            NPT_Size count = size < kBlockSize - pending ? size : kBlockSize - pending;
            std::memcpy(buffer + pending, data, count);
            pending += count;
            data += count;
            size -= count;
            if (pending < kBlockSize) return;
            NPT_Sha256Digest::Compress(state, buffer, 1);
            pending = 0;
        }
        NPT_Size whole = size / kBlockSize;
        if (whole > 0) NPT_Sha256Digest::Compress(state, data, whole);
        size -= whole * kBlockSize;
        if (size > 0) std::memcpy(buffer, data + whole * kBlockSize, size);
        pending = size;
    }

    // Counts whole blocks that the caller compressed itself.
    void Skip(NPT_Size block_count) { total += NPT_UInt64(block_count) * kBlockSize; }

    void Finish(NPT_UInt8* digest)
    {
        const NPT_UInt64 bits = total * 8;
        buffer[pending++] = 0x80;
        if (pending > kBlockSize - 8) {
            std::memset(buffer + pending, 0, kBlockSize - pending);
            NPT_Sha256Digest::Compress(state, buffer, 1);
            pending = 0;
        }
        std::memset(buffer + pending, 0, kBlockSize - 8 - pending);
        NPT_BytesFromInt64Be(buffer + kBlockSize - 8, bits);
        NPT_Sha256Digest::Compress(state, buffer, 1);
        for (unsigned int i = 0; i < 8; ++i) NPT_BytesFromInt32Be(digest + 4 * i, state[i]);
    }
};

// The outer hash over the inner digest, into mac.
void Outer(const NPT_UInt32* outer_start, const NPT_UInt8* inner_digest, NPT_UInt8* mac)
{
    Lane outer(outer_start);
    outer.Absorb(inner_digest, kHashSize);
    outer.Finish(mac);
}

} // namespace

NPT_HmacSha256Key::NPT_HmacSha256Key(const NPT_UInt8* key, NPT_Size key_size)
{
    if (key == nullptr) key_size = 0;
    NPT_UInt8 hashed_key[kHashSize];
    if (key_size > kBlockSize) {
        NPT_Sha256Digest digest;
        digest.Update(key, key_size);
        NPT_DataBuffer result;
        digest.GetDigest(result);
        std::memcpy(hashed_key, result.GetData(), kHashSize);
        NPT_WipeMemory(result.UseData(), result.GetBufferSize());
        key = hashed_key;
        key_size = kHashSize;
    }
    NPT_Sha256Digest::InitHmacState(key, key_size, 0x36, m_InnerStart);
    NPT_Sha256Digest::InitHmacState(key, key_size, 0x5C, m_OuterStart);
    NPT_WipeMemory(hashed_key, sizeof(hashed_key));
}

NPT_HmacSha256Key::~NPT_HmacSha256Key()
{
    NPT_WipeMemory(m_InnerStart, sizeof(m_InnerStart));
    NPT_WipeMemory(m_OuterStart, sizeof(m_OuterStart));
}

void NPT_HmacSha256Key::Mac(const NPT_UInt8* head,
                            NPT_Size         head_size,
                            const NPT_UInt8* data,
                            NPT_Size         data_size,
                            NPT_UInt8*       mac) const
{
    NPT_UInt8 inner_digest[kHashSize];
    {
        Lane inner(m_InnerStart);
        if (head_size > 0) inner.Absorb(head, head_size);
        if (data_size > 0) inner.Absorb(data, data_size);
        inner.Finish(inner_digest);
    }
    Outer(m_OuterStart, inner_digest, mac);
    NPT_WipeMemory(inner_digest, sizeof(inner_digest));
}

void NPT_HmacSha256Key::MacPair(const NPT_UInt8* head_a,
                                const NPT_UInt8* data_a,
                                const NPT_UInt8* head_b,
                                const NPT_UInt8* data_b,
                                NPT_Size         head_size,
                                NPT_Size         data_size,
                                NPT_UInt8*       mac_a,
                                NPT_UInt8*       mac_b) const
{
    NPT_UInt8 digest_a[kHashSize], digest_b[kHashSize];
    {
        Lane a(m_InnerStart), b(m_InnerStart);
        if (head_size > 0) {
            a.Absorb(head_a, head_size);
            b.Absorb(head_b, head_size);
        }
        // equal sizes so far: both lanes have the same number of bytes
        // pending, and need the same number to reach a block boundary
        NPT_Size fill = a.pending > 0 ? kBlockSize - a.pending : 0;
        if (fill > data_size) fill = data_size;
        if (fill > 0) {
            a.Absorb(data_a, fill);
            b.Absorb(data_b, fill);
        }
        // the bulk, in lockstep
        NPT_Size whole = (data_size - fill) / kBlockSize;
        if (whole > 0) {
            NPT_Sha256Digest::CompressPair(a.state, data_a + fill, b.state, data_b + fill, whole);
            a.Skip(whole);
            b.Skip(whole);
        }
        NPT_Size done = fill + whole * kBlockSize;
        if (done < data_size) {
            a.Absorb(data_a + done, data_size - done);
            b.Absorb(data_b + done, data_size - done);
        }
        a.Finish(digest_a);
        b.Finish(digest_b);
    }
    Outer(m_OuterStart, digest_a, mac_a);
    Outer(m_OuterStart, digest_b, mac_b);
    NPT_WipeMemory(digest_a, sizeof(digest_a));
    NPT_WipeMemory(digest_b, sizeof(digest_b));
}
