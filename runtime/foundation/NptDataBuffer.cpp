/*****************************************************************
| NptDataBuffer.cpp - NPT_DataBuffer.
|
| Owned blocks are allocated with new[] and released with delete[];
| a block given up for a larger one is wiped first.
| Growth through Reserve doubles the capacity; growth through
| SetDataSize and SetData is to the exact size asked for.
****************************************************************/
#include "NptDataBuffer.h"

#include <cstring>

#include "NptWipe.h"

NPT_DataBuffer::NPT_DataBuffer()
    : m_BufferIsLocal(true), m_Buffer(nullptr), m_BufferSize(0), m_DataSize(0)
{
}

NPT_DataBuffer::NPT_DataBuffer(NPT_Size buffer_size)
    : m_BufferIsLocal(true),
      m_Buffer(buffer_size ? new NPT_Byte[buffer_size] : nullptr),
      m_BufferSize(buffer_size),
      m_DataSize(0)
{
}

NPT_DataBuffer::NPT_DataBuffer(const void* data, NPT_Size size, bool copy)
    : m_BufferIsLocal(copy), m_Buffer(nullptr), m_BufferSize(size), m_DataSize(size)
{
    if (copy) {
        if (size) {
            m_Buffer = new NPT_Byte[size];
            // a null source gives zero bytes rather than reading through a
            // null pointer or exposing whatever the block held
            if (data) std::memcpy(m_Buffer, data, size);
            else      std::memset(m_Buffer, 0, size);
        }
    } else {
        m_Buffer = static_cast<NPT_Byte*>(const_cast<void*>(data));
        // a null block cannot hold bytes: it borrows nothing
        if (m_Buffer == nullptr) m_BufferSize = m_DataSize = 0;
    }
}

NPT_DataBuffer::NPT_DataBuffer(const NPT_DataBuffer& other)
    : m_BufferIsLocal(true),
      m_Buffer(nullptr),
      m_BufferSize(other.m_DataSize),
      m_DataSize(other.m_DataSize)
{
    if (m_DataSize) {
        m_Buffer = new NPT_Byte[m_DataSize];
        std::memcpy(m_Buffer, other.m_Buffer, m_DataSize);
    }
}

NPT_DataBuffer::~NPT_DataBuffer()
{
    if (m_BufferIsLocal) delete[] m_Buffer;
}

NPT_DataBuffer&
NPT_DataBuffer::operator=(const NPT_DataBuffer& other)
{
    if (this == &other) return *this;

    Clear();
    m_BufferIsLocal = true;
    m_BufferSize    = other.m_BufferSize;
    m_DataSize      = other.m_DataSize;
    if (m_BufferSize) {
        // the whole capacity is copied, not only the data
        m_Buffer = new NPT_Byte[m_BufferSize];
        if (other.m_Buffer) std::memcpy(m_Buffer, other.m_Buffer, m_BufferSize);
    }
    return *this;
}

bool
NPT_DataBuffer::operator==(const NPT_DataBuffer& other) const
{
    if (m_DataSize != other.m_DataSize) return false;
    if (m_DataSize == 0) return true;
    return std::memcmp(m_Buffer, other.m_Buffer, m_DataSize) == 0;
}

NPT_Result
NPT_DataBuffer::SetBuffer(NPT_Byte* buffer, NPT_Size buffer_size)
{
    Clear();
    m_BufferIsLocal = false;
    m_Buffer        = buffer;
    m_BufferSize    = buffer ? buffer_size : 0;
    m_DataSize      = 0;
    return NPT_SUCCESS;
}

NPT_Result
NPT_DataBuffer::SetBufferSize(NPT_Size buffer_size)
{
    if (!m_BufferIsLocal) return NPT_ERROR_NOT_SUPPORTED;
    // reallocates even when the size does not change
    return ReallocateBuffer(buffer_size);
}

NPT_Result
NPT_DataBuffer::Reserve(NPT_Size size)
{
    if (size <= m_BufferSize) return NPT_SUCCESS;

    // double the capacity, or take the size asked for if that is larger;
    // doubling a capacity above 2^31 stops at the largest 32-bit size
    NPT_UInt64 doubled  = NPT_UInt64(m_BufferSize) * 2;
    if (doubled > 0xFFFFFFFFu) doubled = 0xFFFFFFFFu;
    NPT_Size new_size = NPT_Size(doubled);
    if (new_size < size) new_size = size;

    // through the virtual slot, so that a subclass sees the growth
    return SetBufferSize(new_size);
}

NPT_Result
NPT_DataBuffer::Clear()
{
    if (m_BufferIsLocal) delete[] m_Buffer;
    m_Buffer     = nullptr;
    m_BufferSize = 0;
    m_DataSize   = 0;
    return NPT_SUCCESS;
}

NPT_Result
NPT_DataBuffer::SetDataSize(NPT_Size size)
{
    if (size > m_BufferSize) {
        if (!m_BufferIsLocal) return NPT_ERROR_NOT_SUPPORTED;
        NPT_CHECK(ReallocateBuffer(size));
    }
    m_DataSize = size;
    return NPT_SUCCESS;
}

NPT_Result
NPT_DataBuffer::SetData(const NPT_Byte* data, NPT_Size data_size)
{
    if (data_size > m_BufferSize) {
        if (!m_BufferIsLocal) return NPT_ERROR_INVALID_STATE;
        NPT_CHECK(ReallocateBuffer(data_size));
    }
    // the source may lie inside this very block
    if (data && data_size) std::memmove(m_Buffer, data, data_size);
    m_DataSize = data_size;
    return NPT_SUCCESS;
}

NPT_Result
NPT_DataBuffer::ReallocateBuffer(NPT_Size size)
{
    if (m_DataSize > size) return NPT_ERROR_INVALID_PARAMETERS;

    NPT_Byte* block = new NPT_Byte[size];
    if (m_Buffer && m_DataSize) std::memcpy(block, m_Buffer, m_DataSize);
    // the block left behind may hold cleartext (a memory stream growing
    // as the sink of a decryption): it is wiped before it is freed
    if (m_Buffer) NPT_WipeMemory(m_Buffer, m_BufferSize);
    delete[] m_Buffer;
    m_Buffer     = block;
    m_BufferSize = size;
    return NPT_SUCCESS;
}
