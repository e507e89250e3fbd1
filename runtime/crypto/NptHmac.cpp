/*****************************************************************
| NptHmac.cpp - HMAC over the block digests, and its factory.
****************************************************************/
#include "NptHmac.h"

#include "NptBasicDigest.h"
#include "NptWipe.h"

namespace {

const NPT_Size kPadSize = NPT_BasicDigest::BLOCK_SIZE;

void WipeBuffer(NPT_DataBuffer& buffer)
{
    if (buffer.UseData()) NPT_WipeMemory(buffer.UseData(), buffer.GetBufferSize());
}

void AbsorbPad(NPT_Digest* digest, const NPT_UInt8* key, NPT_Size key_size, NPT_UInt8 fill)
{
    NPT_UInt8 pad[kPadSize];
    for (NPT_Size i = 0; i < kPadSize; ++i) {
        pad[i] = static_cast<NPT_UInt8>(i < key_size ? key[i] ^ fill : fill);
    }
    digest->Update(pad, kPadSize);
    NPT_WipeMemory(pad, sizeof(pad));
}

} // namespace

NPT_HmacDigest::NPT_HmacDigest(NPT_Digest::Algorithm algorithm,
                               const NPT_UInt8*      key,
                               NPT_Size              key_size)
    : m_InnerDigest(nullptr), m_OuterDigest(nullptr)
{
    NPT_Digest::Create(algorithm, m_InnerDigest);
    NPT_Digest::Create(algorithm, m_OuterDigest);

    // a key longer than a block is replaced by its digest
    NPT_DataBuffer hashed_key;
    if (key_size > kPadSize) {
        NPT_Digest* key_digest = nullptr;
        NPT_Digest::Create(algorithm, key_digest);
        if (key_digest) {
            key_digest->Update(key, key_size);
            key_digest->GetDigest(hashed_key);
            delete key_digest;
        }
        key = hashed_key.GetData();
        key_size = hashed_key.GetDataSize();
    }

    if (m_InnerDigest) AbsorbPad(m_InnerDigest, key, key_size, 0x36);
    if (m_OuterDigest) AbsorbPad(m_OuterDigest, key, key_size, 0x5C);
    WipeBuffer(hashed_key);
}

NPT_HmacDigest::~NPT_HmacDigest()
{
    delete m_InnerDigest;
    delete m_OuterDigest;
}

NPT_Result NPT_HmacDigest::Update(const NPT_UInt8* data, NPT_Size data_size)
{
    if (m_InnerDigest == nullptr) return NPT_ERROR_INVALID_STATE;
    return m_InnerDigest->Update(data, data_size);
}

NPT_Result NPT_HmacDigest::GetDigest(NPT_DataBuffer& mac)
{
    if (m_InnerDigest == nullptr || m_OuterDigest == nullptr) return NPT_ERROR_INVALID_STATE;

    NPT_DataBuffer inner;
    m_InnerDigest->GetDigest(inner);
    m_OuterDigest->Update(inner.GetData(), inner.GetDataSize());
    WipeBuffer(inner);
    return m_OuterDigest->GetDigest(mac);
}

NPT_Result NPT_Hmac::Create(NPT_Digest::Algorithm algorithm,
                            const NPT_UInt8*      key,
                            NPT_Size              key_size,
                            NPT_Digest*&          digest)
{
    if (algorithm != NPT_Digest::SHA1 && algorithm != NPT_Digest::MD5 &&
        algorithm != NPT_Digest::SHA256) {
        return NPT_ERROR_NOT_SUPPORTED;
    }
    if (key == nullptr && key_size != 0) return NPT_ERROR_INVALID_PARAMETERS;
    digest = new NPT_HmacDigest(algorithm, key, key_size);
    return NPT_SUCCESS;
}
