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

} // namespace

/*----------------------------------------------------------------------
|   NPT_HmacSha256Key::Message
|
|   One SHA-256 computation that continues from a keyed state (one pad
|   block already compressed): stages partial blocks, compresses whole
|   ones straight from the caller's bytes, and pads at the end. Wipes
|   itself on destruction. The inner hash of a MAC, and the outer one.
+---------------------------------------------------------------------*/
NPT_HmacSha256Key::Message::Message(const NPT_UInt32* start, const NPT_UInt32* outer_start)
    : m_OuterStart(outer_start), m_Pending(0), m_Total(kBlockSize)
{
    std::memcpy(m_State, start, sizeof(m_State));
}

NPT_HmacSha256Key::Message::Message(const NPT_HmacSha256Key& key)
    : Message(key.m_InnerStart, key.m_OuterStart)
{
}

NPT_HmacSha256Key::Message::~Message()
{
    NPT_WipeMemory(m_State, sizeof(m_State));
    NPT_WipeMemory(m_Buffer, sizeof(m_Buffer));
}

void NPT_HmacSha256Key::Message::Update(const NPT_UInt8* data, NPT_Size size)
{
    if (size == 0) return;
    m_Total += size;
    if (m_Pending > 0) {
        NPT_Size count = size < kBlockSize - m_Pending ? size : kBlockSize - m_Pending;
        std::memcpy(m_Buffer + m_Pending, data, count);
        m_Pending += count;
        data += count;
        size -= count;
        if (m_Pending < kBlockSize) return;
        NPT_Sha256Digest::Compress(m_State, m_Buffer, 1);
        m_Pending = 0;
    }
    NPT_Size whole = size / kBlockSize;
    if (whole > 0) NPT_Sha256Digest::Compress(m_State, data, whole);
    size -= whole * kBlockSize;
    if (size > 0) std::memcpy(m_Buffer, data + whole * kBlockSize, size);
    m_Pending = size;
}

void NPT_HmacSha256Key::Message::Skip(NPT_Size block_count)
{
    m_Total += NPT_UInt64(block_count) * kBlockSize;
}

void NPT_HmacSha256Key::Message::FinishHash(NPT_UInt8* digest)
{
    const NPT_UInt64 bits = m_Total * 8;
    m_Buffer[m_Pending++] = 0x80;
    if (m_Pending > kBlockSize - 8) {
        std::memset(m_Buffer + m_Pending, 0, kBlockSize - m_Pending);
        NPT_Sha256Digest::Compress(m_State, m_Buffer, 1);
        m_Pending = 0;
    }
    std::memset(m_Buffer + m_Pending, 0, kBlockSize - 8 - m_Pending);
    NPT_BytesFromInt64Be(m_Buffer + kBlockSize - 8, bits);
    NPT_Sha256Digest::Compress(m_State, m_Buffer, 1);
    for (unsigned int i = 0; i < 8; ++i) NPT_BytesFromInt32Be(digest + 4 * i, m_State[i]);
}

void NPT_HmacSha256Key::Message::Finish(NPT_UInt8* mac)
{
    NPT_UInt8 inner_digest[kHashSize];
    FinishHash(inner_digest);
    Message outer(m_OuterStart, nullptr);
    outer.Update(inner_digest, kHashSize);
    outer.FinishHash(mac);
    NPT_WipeMemory(inner_digest, sizeof(inner_digest));
}


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
    Message message(*this);
    message.Update(head, head_size);
    message.Update(data, data_size);
    message.Finish(mac);
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
    Message a(*this), b(*this);
    a.Update(head_a, head_size);
    b.Update(head_b, head_size);
    // equal sizes so far: both messages have the same number of bytes
    // pending, and need the same number to reach a block boundary
    NPT_Size fill = a.m_Pending > 0 ? kBlockSize - a.m_Pending : 0;
    if (fill > data_size) fill = data_size;
    a.Update(data_a, fill);
    b.Update(data_b, fill);
    // the bulk, in lockstep
    NPT_Size whole = (data_size - fill) / kBlockSize;
    if (whole > 0) {
        NPT_Sha256Digest::CompressPair(a.m_State, data_a + fill, b.m_State, data_b + fill, whole);
        a.Skip(whole);
        b.Skip(whole);
    }
    NPT_Size done = fill + whole * kBlockSize;
    a.Update(data_a + done, data_size - done);
    b.Update(data_b + done, data_size - done);
    a.Finish(mac_a);
    b.Finish(mac_b);
}
