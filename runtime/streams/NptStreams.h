/*****************************************************************
| NptStreams.h - NPT_InputStream and NPT_OutputStream, the byte-stream
| interfaces every source and sink implements.
|
| Contract of the required operations:
|   Read    places at most bytes_to_read bytes and stores the count in
|           *bytes_read (when given), also on failure (0 then). Success
|           with bytes_to_read > 0 delivers at least one byte. The end of
|           a stream is NPT_ERROR_END_OF_STREAM with a count of 0, and
|           that code is the only sign of it.
|   Write   consumes at most bytes_to_write bytes, stores the count in
|           *bytes_written (when given); success with bytes_to_write > 0
|           consumes at least one byte.
|   Seek/Tell move/report the absolute position; GetSize reports the
|           total size, GetAvailable what is left from the position.
|
| The default operations add exactly three translations of codes:
| ReadFully and WriteFully turn a successful zero-byte transfer into
| NPT_ERROR_INTERNAL, and Load turns NPT_ERROR_END_OF_STREAM into
| NPT_SUCCESS. Everything else passes through unchanged.
|
| Streams are heap objects, normally held through NPT_Reference handles
| and destroyed through the virtual destructor. They are not safe for
| use by several threads at once.
****************************************************************/
#ifndef NPT_STREAMS_H
#define NPT_STREAMS_H

#include "NptTypes.h"
#include "NptResults.h"
#include "NptReferences.h"
#include "NptDataBuffer.h"

// Load never gathers more than this many bytes (1 GiB).
const NPT_Size NPT_INPUT_STREAM_LOAD_MAX_SIZE = 0x40000000;

class NPT_EXPORT NPT_InputStream
{
public:
    virtual ~NPT_InputStream() {}

    // Reads the whole stream, or at most max_read bytes when max_read is
    // not 0, into buffer (replacing its content). End of stream is success.
    virtual NPT_Result Load(NPT_DataBuffer& buffer, NPT_Size max_read = 0);
    virtual NPT_Result Read(void*     buffer,
                            NPT_Size  bytes_to_read,
                            NPT_Size* bytes_read = nullptr) = 0;
    // Reads exactly bytes_to_read bytes or fails; the bytes read before a
    // failure stay in buffer.
    virtual NPT_Result ReadFully(void* buffer, NPT_Size bytes_to_read);
    virtual NPT_Result Seek(NPT_Position offset) = 0;
    // Tell, then Seek to the told position + count.
    virtual NPT_Result Skip(NPT_Size count);
    virtual NPT_Result Tell(NPT_Position& offset) = 0;
    virtual NPT_Result GetSize(NPT_LargeSize& size) = 0;
    virtual NPT_Result GetAvailable(NPT_LargeSize& available) = 0;
    virtual NPT_Result Close() { return NPT_SUCCESS; }

    // Big-endian readers over ReadFully; on failure the value is 0.
    NPT_Result ReadUInt64Be(NPT_UInt64& value);
    NPT_Result ReadUInt32Be(NPT_UInt32& value);
    NPT_Result ReadUInt24Be(NPT_UInt32& value);
    NPT_Result ReadUInt16Be(NPT_UInt16& value);
    NPT_Result ReadUInt8(NPT_UInt8& value);
};

typedef NPT_Reference<NPT_InputStream> NPT_InputStreamReference;

class NPT_EXPORT NPT_OutputStream
{
public:
    virtual ~NPT_OutputStream() {}

    virtual NPT_Result Write(const void* buffer,
                             NPT_Size    bytes_to_write,
                             NPT_Size*   bytes_written = nullptr) = 0;
    // Writes exactly bytes_to_write bytes or fails.
    virtual NPT_Result WriteFully(const void* buffer, NPT_Size bytes_to_write);
    // The bytes of a zero-terminated string (null or empty: nothing).
    virtual NPT_Result WriteString(const char* string_buffer);
    // WriteString, then "\r\n".
    virtual NPT_Result WriteLine(const char* line_buffer);
    virtual NPT_Result Seek(NPT_Position offset) = 0;
    virtual NPT_Result Tell(NPT_Position& offset) = 0;
    virtual NPT_Result Flush() { return NPT_SUCCESS; }

    // Big-endian writers over WriteFully.
    NPT_Result WriteUInt64Be(NPT_UInt64 value);
    NPT_Result WriteUInt32Be(NPT_UInt32 value);
    NPT_Result WriteUInt24Be(NPT_UInt32 value);
    NPT_Result WriteUInt16Be(NPT_UInt16 value);
    NPT_Result WriteUInt8(NPT_UInt8 value);
};

typedef NPT_Reference<NPT_OutputStream> NPT_OutputStreamReference;

#endif // NPT_STREAMS_H
