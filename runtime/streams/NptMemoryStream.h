/*****************************************************************
| NptMemoryStream.h - NPT_MemoryStream, an input and output stream over
| one NPT_DataBuffer.
|
| The input side reads from a reading position up to the buffer's data
| size; the output side writes at a writing position, growing the
| buffer (through Reserve, so geometrically) and moving the data size
| forward. The two positions are independent: reading never moves the
| writing position and writing never moves the reading position. Both
| start at 0, so writes overwrite existing data from its start.
|
| Ownership: the first two constructors create the buffer, which the
| stream destroys. The third borrows the caller's buffer object: the
| caller keeps it, it must outlive the stream, and it sees every write
| at once. A borrowed buffer that borrows its block in turn is never
| grown, so a write past its capacity fails with NPT_ERROR_NOT_SUPPORTED.
| While the stream is in use, lower the data size only through
| SetDataSize here.
|
| The stream is an NPT_InputStream and an NPT_OutputStream at once; a
| handle to either interface may hold it and delete it. Both interfaces
| name Seek and Tell, so on the stream itself call InputSeek/InputTell
| or OutputSeek/OutputTell. Not safe for concurrent use; the two sides
| are one object.
****************************************************************/
#ifndef NPT_MEMORY_STREAM_H
#define NPT_MEMORY_STREAM_H

#include "NptDataBuffer.h"
#include "NptDelegatingStreams.h"

class NPT_EXPORT NPT_MemoryStream : public NPT_DelegatingInputStream,
                         public NPT_DelegatingOutputStream
{
public:
    // An owned, empty buffer of capacity initial_capacity.
    explicit NPT_MemoryStream(NPT_Size initial_capacity = 0);
    // An owned buffer holding a copy of the size bytes at data.
    NPT_MemoryStream(const void* data, NPT_Size size);
    // The caller's buffer object itself, neither copied nor adopted.
    explicit NPT_MemoryStream(NPT_DataBuffer& buffer);
    ~NPT_MemoryStream() override;

    NPT_MemoryStream(const NPT_MemoryStream&) = delete;
    NPT_MemoryStream& operator=(const NPT_MemoryStream&) = delete;

    // ---- input side ----
    // Copies up to the data size from the reading position. 0 bytes
    // asked: NPT_SUCCESS, count 0. Nothing left: NPT_ERROR_END_OF_STREAM,
    // count 0. A null buffer for bytes that are there:
    // NPT_ERROR_INVALID_PARAMETERS, count 0, position kept.
    NPT_Result Read(void*     buffer,
                    NPT_Size  bytes_to_read,
                    NPT_Size* bytes_read = nullptr) override;
    // Read without a copy: sets data to the next bytes the input side
    // holds and returns their count (at most bytes_to_read; 0 at the
    // end, data then null), moving the reading position past them as
    // Read would. The bytes stay where they are until the buffer is
    // written or resized; the caller must be done with them by then.
    NPT_Size ReadInPlace(const NPT_Byte*& data, NPT_Size bytes_to_read);
    // Position 0 .. data size (inclusive); beyond it
    // NPT_ERROR_OUT_OF_RANGE, position kept.
    NPT_Result InputSeek(NPT_Position position) override;
    NPT_Result InputTell(NPT_Position& position) override;
    // The buffer's data size.
    NPT_Result GetSize(NPT_LargeSize& size) override;
    // Data size - reading position.
    NPT_Result GetAvailable(NPT_LargeSize& available) override;

    // ---- output side ----
    // Stores all bytes_to_write bytes at the writing position or none:
    // a failing Reserve returns its code (NPT_ERROR_NOT_SUPPORTED for a
    // borrowed block too small), and a write whose end would pass
    // 2^32 - 1 gives NPT_ERROR_OUT_OF_RANGE, null data with
    // bytes_to_write > 0 NPT_ERROR_INVALID_PARAMETERS; positions are then
    // unchanged.
    NPT_Result Write(const void* data,
                     NPT_Size    bytes_to_write,
                     NPT_Size*   bytes_written = nullptr) override;
    // As InputSeek, for the writing position.
    NPT_Result OutputSeek(NPT_Position position) override;
    NPT_Result OutputTell(NPT_Position& position) override;

    // ---- buffer ----
    // Sets the buffer's data size (its failure is returned: growing a
    // borrowed block gives NPT_ERROR_NOT_SUPPORTED), then lowers both
    // positions to size where they exceed it.
    NPT_Result SetDataSize(NPT_Size size);
    const NPT_DataBuffer& GetBuffer() const { return *m_Buffer; }
    const NPT_Byte*       GetData() const { return m_Buffer->GetData(); }
    NPT_Size              GetDataSize() const { return m_Buffer->GetDataSize(); }

private:
    NPT_DataBuffer* m_Buffer;
    bool            m_BufferIsLocal;
    NPT_Size        m_ReadOffset;
    NPT_Size        m_WriteOffset;
};

#endif // NPT_MEMORY_STREAM_H
