/*****************************************************************
| NptBasicDigest.cpp - block staging and message padding shared by
| SHA-1, SHA-256 and MD5.
****************************************************************/
#include "NptBasicDigest.h"

#include <cstring>

#include "NptUtils.h"
#include "NptWipe.h"

NPT_BasicDigest::NPT_BasicDigest()
    : m_BitCount(0), m_PendingCount(0), m_Buffer()
{
}

NPT_BasicDigest::~NPT_BasicDigest()
{
    NPT_WipeMemory(m_Buffer, sizeof(m_Buffer));
    NPT_WipeMemory(&m_BitCount, sizeof(m_BitCount));
    NPT_WipeMemory(&m_PendingCount, sizeof(m_PendingCount));
}

NPT_Result NPT_BasicDigest::Update(const NPT_UInt8* data, NPT_Size data_size)
{
    if (data == nullptr && data_size != 0) return NPT_ERROR_INVALID_PARAMETERS;

    while (data_size > 0) {
        if (m_PendingCount == 0 && data_size >= BLOCK_SIZE) {
            // whole blocks, nothing pending: compress them in place
            NPT_Size block_count = data_size / BLOCK_SIZE;
            CompressBlocks(data, block_count);
            m_BitCount += 8 * NPT_UInt64(BLOCK_SIZE) * block_count;
            data += block_count * BLOCK_SIZE;
            data_size -= block_count * BLOCK_SIZE;
            continue;
        }
        NPT_Size count = BLOCK_SIZE - m_PendingCount;
        if (count > data_size) count = data_size;
        std::memcpy(m_Buffer + m_PendingCount, data, count);
        m_PendingCount += count;
        data += count;
        data_size -= count;
        if (m_PendingCount == BLOCK_SIZE) {
            CompressBlock(m_Buffer);
            m_BitCount += 8 * BLOCK_SIZE;
            m_PendingCount = 0;
        }
    }
    return NPT_SUCCESS;
}

void NPT_BasicDigest::CompressBlocks(const NPT_UInt8* blocks, NPT_Size block_count)
{
    for (NPT_Size i = 0; i < block_count; ++i) CompressBlock(blocks + i * BLOCK_SIZE);
}

NPT_Result NPT_BasicDigest::FinishDigest(NPT_UInt32*     state,
                                         NPT_UInt32      word_count,
                                         bool            big_endian,
                                         NPT_DataBuffer& digest)
{
    m_BitCount += 8 * NPT_UInt64(m_PendingCount);

    m_Buffer[m_PendingCount++] = 0x80;
    if (m_PendingCount > BLOCK_SIZE - 8) {
        // no room left for the length: it goes into one more block
        std::memset(m_Buffer + m_PendingCount, 0, BLOCK_SIZE - m_PendingCount);
        CompressBlock(m_Buffer);
        m_PendingCount = 0;
    }
    std::memset(m_Buffer + m_PendingCount, 0, BLOCK_SIZE - 8 - m_PendingCount);
    if (big_endian) {
        NPT_BytesFromInt64Be(m_Buffer + BLOCK_SIZE - 8, m_BitCount);
    } else {
        NPT_BytesFromInt64Le(m_Buffer + BLOCK_SIZE - 8, m_BitCount);
    }
    m_PendingCount = BLOCK_SIZE - 8;
    CompressBlock(m_Buffer);

    NPT_CHECK(digest.SetDataSize(4 * word_count));
    NPT_UInt8* out = digest.UseData();
    for (NPT_UInt32 i = 0; i < word_count; ++i) {
        if (big_endian) {
            NPT_BytesFromInt32Be(out + 4 * i, state[i]);
        } else {
            NPT_BytesFromInt32Le(out + 4 * i, state[i]);
        }
    }
    return NPT_SUCCESS;
}
