/*****************************************************************
| NptDataBuffer.h - NPT_DataBuffer, the byte buffer passed around the
| whole system.
|
| A buffer holds a block of memory (its capacity, GetBufferSize) and a
| count of meaningful bytes at its start (GetDataSize). It either owns
| its block, and may then grow it, or borrows a caller's block, which it
| never frees and never grows. Growth of an owned block:
|   - Reserve doubles the capacity (or takes the size asked, if larger);
|   - SetDataSize / SetData grow to exactly the size asked.
| Bytes beyond the data size are not initialised.
|
| Failures (state unchanged in each case):
|   SetBufferSize on a borrowed block            NPT_ERROR_NOT_SUPPORTED
|   SetBufferSize below the data size            NPT_ERROR_INVALID_PARAMETERS
|   Reserve that must grow a borrowed block      NPT_ERROR_NOT_SUPPORTED
|   SetDataSize beyond a borrowed capacity       NPT_ERROR_NOT_SUPPORTED
|   SetData beyond a borrowed capacity           NPT_ERROR_INVALID_STATE
****************************************************************/
#ifndef NPT_DATA_BUFFER_H
#define NPT_DATA_BUFFER_H

#include "NptTypes.h"
#include "NptResults.h"

class NPT_EXPORT NPT_DataBuffer
{
public:
    // owning, no block
    NPT_DataBuffer();
    // owning, a block of buffer_size bytes (none for 0), data size 0
    explicit NPT_DataBuffer(NPT_Size buffer_size);
    // copy = true: owning copy of the bytes; copy = false: borrows data.
    // Capacity and data size are size in both cases.
    NPT_DataBuffer(const void* data, NPT_Size size, bool copy = true);
    // owning copy of the source's data (capacity = source data size)
    NPT_DataBuffer(const NPT_DataBuffer& other);
    virtual ~NPT_DataBuffer();

    // owning copy of the source's whole capacity
    NPT_DataBuffer& operator=(const NPT_DataBuffer& other);
    // equal data sizes and equal data bytes; capacity and ownership ignored
    bool operator==(const NPT_DataBuffer& other) const;
    bool operator!=(const NPT_DataBuffer& other) const { return !(*this == other); }

    // Clear, then borrow buffer (capacity buffer_size, data size 0).
    virtual NPT_Result      SetBuffer(NPT_Byte* buffer, NPT_Size buffer_size);
    // Reallocate an owned block to exactly buffer_size bytes.
    virtual NPT_Result      SetBufferSize(NPT_Size buffer_size);
    virtual NPT_Size        GetBufferSize() const { return m_BufferSize; }
    // Make the capacity at least size (geometric growth).
    virtual NPT_Result      Reserve(NPT_Size size);
    // Release an owned block; block null, capacity and data size 0.
    // The owning flag is kept.
    virtual NPT_Result      Clear();
    virtual const NPT_Byte* GetData() const { return m_Buffer; }
    virtual NPT_Byte*       UseData() { return m_Buffer; }
    virtual NPT_Size        GetDataSize() const { return m_DataSize; }
    virtual NPT_Result      SetDataSize(NPT_Size size);
    // Copy data_size bytes from data (when not null) to the block start
    // and set the data size.
    virtual NPT_Result      SetData(const NPT_Byte* data, NPT_Size data_size);

    bool IsOwning() const { return m_BufferIsLocal; }

protected:
    bool      m_BufferIsLocal;
    NPT_Byte* m_Buffer;
    NPT_Size  m_BufferSize;
    NPT_Size  m_DataSize;

private:
    NPT_Result ReallocateBuffer(NPT_Size size);
};

#endif // NPT_DATA_BUFFER_H
