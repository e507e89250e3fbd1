/*****************************************************************
| NptMemoryStream.cpp - input and output stream over a data buffer.
|
| Read and Write sit in the hot path of every encryption (the source
| and sink of the buffer form): they copy with memcpy and allocate only
| when the buffer must grow.
****************************************************************/
#include "NptMemoryStream.h"

#include <cstring>

NPT_MemoryStream::NPT_MemoryStream(NPT_Size initial_capacity)
    : m_Buffer(new NPT_DataBuffer(initial_capacity)),
      m_BufferIsLocal(true),
      m_ReadOffset(0),
      m_WriteOffset(0)
{
}

NPT_MemoryStream::NPT_MemoryStream(const void* data, NPT_Size size)
    : m_Buffer(new NPT_DataBuffer(data, size, true)),
      m_BufferIsLocal(true),
      m_ReadOffset(0),
      m_WriteOffset(0)
{
}

NPT_MemoryStream::NPT_MemoryStream(NPT_DataBuffer& buffer)
    : m_Buffer(&buffer),
      m_BufferIsLocal(false),
      m_ReadOffset(0),
      m_WriteOffset(0)
{
}

NPT_MemoryStream::~NPT_MemoryStream()
{
    if (m_BufferIsLocal) delete m_Buffer;
}

/*----------------------------------------------------------------------
|   input side
+---------------------------------------------------------------------*/
NPT_Result
NPT_MemoryStream::Read(void* buffer, NPT_Size bytes_to_read, NPT_Size* bytes_read)
{
    if (bytes_to_read == 0) {
        if (bytes_read) *bytes_read = 0;
        return NPT_SUCCESS;
    }
    // a data size lowered behind the stream's back reads as the end
    NPT_Size data_size = m_Buffer->GetDataSize();
    NPT_Size left      = m_ReadOffset < data_size ? data_size - m_ReadOffset : 0;
    if (bytes_to_read > left) bytes_to_read = left;
    if (bytes_read) *bytes_read = bytes_to_read;
    if (bytes_to_read == 0) return NPT_ERROR_END_OF_STREAM;

    std::memcpy(buffer, m_Buffer->GetData() + m_ReadOffset, bytes_to_read);
    m_ReadOffset += bytes_to_read;
    return NPT_SUCCESS;
}

NPT_Result
NPT_MemoryStream::InputSeek(NPT_Position position)
{
    if (position > m_Buffer->GetDataSize()) return NPT_ERROR_OUT_OF_RANGE;
    m_ReadOffset = static_cast<NPT_Size>(position);
    return NPT_SUCCESS;
}

NPT_Result
NPT_MemoryStream::InputTell(NPT_Position& position)
{
    position = m_ReadOffset;
    return NPT_SUCCESS;
}

NPT_Result
NPT_MemoryStream::GetSize(NPT_LargeSize& size)
{
    size = m_Buffer->GetDataSize();
    return NPT_SUCCESS;
}

NPT_Result
NPT_MemoryStream::GetAvailable(NPT_LargeSize& available)
{
    NPT_Size data_size = m_Buffer->GetDataSize();
    available = m_ReadOffset < data_size ? data_size - m_ReadOffset : 0;
    return NPT_SUCCESS;
}

/*----------------------------------------------------------------------
|   output side
+---------------------------------------------------------------------*/
NPT_Result
NPT_MemoryStream::Write(const void* data, NPT_Size bytes_to_write, NPT_Size* bytes_written)
{
    if (bytes_written) *bytes_written = 0;

    // the end of the write must be representable as a 32-bit size
    if (bytes_to_write > 0xFFFFFFFFu - m_WriteOffset) return NPT_ERROR_OUT_OF_RANGE;
    NPT_Size end = m_WriteOffset + bytes_to_write;
    NPT_CHECK(m_Buffer->Reserve(end));

    if (bytes_to_write) {
        std::memcpy(m_Buffer->UseData() + m_WriteOffset, data, bytes_to_write);
    }
    m_WriteOffset = end;
    if (m_WriteOffset > m_Buffer->GetDataSize()) {
        m_Buffer->SetDataSize(m_WriteOffset);
    }
    if (bytes_written) *bytes_written = bytes_to_write;
    return NPT_SUCCESS;
}

NPT_Result
NPT_MemoryStream::OutputSeek(NPT_Position position)
{
    if (position > m_Buffer->GetDataSize()) return NPT_ERROR_OUT_OF_RANGE;
    m_WriteOffset = static_cast<NPT_Size>(position);
    return NPT_SUCCESS;
}

NPT_Result
NPT_MemoryStream::OutputTell(NPT_Position& position)
{
    position = m_WriteOffset;
    return NPT_SUCCESS;
}

/*----------------------------------------------------------------------
|   NPT_MemoryStream::SetDataSize
+---------------------------------------------------------------------*/
NPT_Result
NPT_MemoryStream::SetDataSize(NPT_Size size)
{
    NPT_CHECK(m_Buffer->SetDataSize(size));
    if (m_ReadOffset > size)  m_ReadOffset  = size;
    if (m_WriteOffset > size) m_WriteOffset = size;
    return NPT_SUCCESS;
}
