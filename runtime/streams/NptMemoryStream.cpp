/*****************************************************************
| NptMemoryStream.cpp - input and output stream over a data buffer.
|
| Read and Write sit in the hot path of every encryption (the source
| and sink of the buffer form): they allocate only when the buffer must
| grow. Read is called once per 16-byte slice of an encryption, so it
| asks the buffer for its block and size once and copies short counts
| inline rather than through a call to memcpy.
****************************************************************/
#include "NptMemoryStream.h"

#include <cstdint>
#include <cstring>
#include <memory>

#include "NptWipe.h"

namespace {

// Copies count bytes between buffers that do not overlap. Counts of up
// to 16 bytes are done with at most two fixed-size copies, which compile
// to plain loads and stores; the two may cover some bytes twice.
inline void
CopyBytes(void* to, const NPT_Byte* from, NPT_Size count)
{
    NPT_Byte* out = static_cast<NPT_Byte*>(to);
    if (count > 16) {
        std::memcpy(out, from, count);
    } else if (count >= 8) {
        std::memcpy(out, from, 8);
        std::memcpy(out + count - 8, from + count - 8, 8);
    } else if (count >= 4) {
        std::memcpy(out, from, 4);
        std::memcpy(out + count - 4, from + count - 4, 4);
    } else if (count > 0) {
        out[0]         = from[0];
        out[count / 2] = from[count / 2];
        out[count - 1] = from[count - 1];
    }
}

// Whether p lies within the size bytes at block. Compared as integers:
// pointers into different objects have no order of their own.
inline bool
IsWithin(const NPT_Byte* p, const NPT_Byte* block, NPT_Size size)
{
    std::uintptr_t at    = reinterpret_cast<std::uintptr_t>(p);
    std::uintptr_t start = reinterpret_cast<std::uintptr_t>(block);
    return at >= start && at - start < size;
}

// Moves one of the stream's two offsets; both may go anywhere within the
// data, up to its end.
inline NPT_Result
SeekWithin(NPT_Size data_size, NPT_Position position, NPT_Size& offset)
{
    if (position > data_size) return NPT_ERROR_OUT_OF_RANGE;
    offset = static_cast<NPT_Size>(position);
    return NPT_SUCCESS;
}

} // namespace

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
    if (m_BufferIsLocal) {
        // what a stream of its own collected (cleartext, as the sink of a
        // decryption) does not outlive it
        if (m_Buffer->GetBufferSize()) NPT_WipeMemory(m_Buffer->UseData(), m_Buffer->GetBufferSize());
        delete m_Buffer;
    }
}

/*----------------------------------------------------------------------
|   input side
+---------------------------------------------------------------------*/
NPT_Result
NPT_MemoryStream::Read(void* buffer, NPT_Size bytes_to_read, NPT_Size* bytes_read)
{
    // Block, size and offset are read once, before *bytes_read is stored
    // (which, as far as the compiler knows, could alias any of them).
    const NPT_DataBuffer& data      = *m_Buffer;
    const NPT_Size        data_size = data.GetDataSize();
    const NPT_Byte*       block     = data.GetData();
    const NPT_Size        offset    = m_ReadOffset;

    // a data size lowered behind the stream's back reads as the end
    NPT_Size count = 0;
    if (offset < data_size) {
        NPT_Size left = data_size - offset;
        count = bytes_to_read < left ? bytes_to_read : left;
    }
    if (count == 0) {
        if (bytes_read) *bytes_read = 0;
        return bytes_to_read == 0 ? NPT_SUCCESS : NPT_ERROR_END_OF_STREAM;
    }
    if (buffer == nullptr) {   // nowhere to put the bytes
        if (bytes_read) *bytes_read = 0;
        return NPT_ERROR_INVALID_PARAMETERS;
    }
    if (bytes_read) *bytes_read = count;

    CopyBytes(buffer, block + offset, count);
    m_ReadOffset = offset + count;
    return NPT_SUCCESS;
}

NPT_Size
NPT_MemoryStream::ReadInPlace(const NPT_Byte*& data, NPT_Size bytes_to_read)
{
    data = nullptr;
    const NPT_Size data_size = m_Buffer->GetDataSize();
    // a data size lowered behind the stream's back reads as the end
    if (m_ReadOffset >= data_size) return 0;
    NPT_Size left  = data_size - m_ReadOffset;
    NPT_Size count = bytes_to_read < left ? bytes_to_read : left;
    if (count == 0) return 0;
    data = m_Buffer->GetData() + m_ReadOffset;
    m_ReadOffset += count;
    return count;
}

NPT_Result
NPT_MemoryStream::InputSeek(NPT_Position position)
{
    return SeekWithin(m_Buffer->GetDataSize(), position, m_ReadOffset);
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
    if (data == nullptr && bytes_to_write > 0) return NPT_ERROR_INVALID_PARAMETERS;

    // the end of the write must be representable as a 32-bit size
    if (bytes_to_write > 0xFFFFFFFFu - m_WriteOffset) return NPT_ERROR_OUT_OF_RANGE;
    NPT_Size end = m_WriteOffset + bytes_to_write;

    // The bytes may come from this stream's own block. Growing frees that
    // block, so they are found again by their offset in the new one;
    // Reserve keeps only the data, so bytes from beyond it are copied
    // aside first (and wiped afterwards: they may be anything).
    const NPT_Byte* from       = static_cast<const NPT_Byte*>(data);
    const NPT_Byte* old_block  = m_Buffer->GetData();
    const NPT_Size  old_size   = m_Buffer->GetBufferSize();
    bool            from_block = bytes_to_write > 0 && old_block != nullptr &&
                                 IsWithin(from, old_block, old_size);
    if (from_block && end > old_size) {
        NPT_Size offset = static_cast<NPT_Size>(from - old_block);
        if (bytes_to_write > m_Buffer->GetDataSize() ||
            offset > m_Buffer->GetDataSize() - bytes_to_write) {
            std::unique_ptr<NPT_Byte[]> aside(new NPT_Byte[bytes_to_write]);
            std::memcpy(aside.get(), from, bytes_to_write);
            NPT_Result result = Write(aside.get(), bytes_to_write, bytes_written);
            NPT_WipeMemory(aside.get(), bytes_to_write);
            return result;
        }
        NPT_CHECK(m_Buffer->Reserve(end));
        from = m_Buffer->GetData() + offset;
    } else {
        NPT_CHECK(m_Buffer->Reserve(end));
    }

    // source and target may overlap within the block
    if (bytes_to_write) {
        std::memmove(m_Buffer->UseData() + m_WriteOffset, from, bytes_to_write);
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
    return SeekWithin(m_Buffer->GetDataSize(), position, m_WriteOffset);
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
