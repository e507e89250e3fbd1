/*****************************************************************
| NptStreams.cpp - default operations of NPT_InputStream and
| NPT_OutputStream, and the big-endian integer readers and writers.
****************************************************************/
#include "NptStreams.h"

#include <cstring>

namespace {

// Chunk size Load uses when the stream cannot say how much is left.
const NPT_Size NPT_INPUT_STREAM_LOAD_DEFAULT_CHUNK = 4096;

} // namespace

/*----------------------------------------------------------------------
|   NPT_InputStream::Load
+---------------------------------------------------------------------*/
NPT_Result
NPT_InputStream::Load(NPT_DataBuffer& buffer, NPT_Size max_read)
{
    // start from an empty buffer whatever happens next
    buffer.SetDataSize(0);

    if (max_read > NPT_INPUT_STREAM_LOAD_MAX_SIZE) {
        return NPT_ERROR_INVALID_PARAMETERS;
    }

    // the target size: what the stream holds, capped by max_read; when
    // the stream cannot tell, max_read itself (0: read to the end)
    NPT_LargeSize target = 0;
    NPT_LargeSize size   = 0;
    if (NPT_SUCCEEDED(GetSize(size))) {
        target = size;
        if (max_read && max_read < target) target = max_read;
        if (target > NPT_INPUT_STREAM_LOAD_MAX_SIZE) return NPT_ERROR_OUT_OF_RANGE;
    } else {
        target = max_read;
    }

    if (target) {
        NPT_CHECK(buffer.Reserve(static_cast<NPT_Size>(target)));
    }

    NPT_LargeSize total = 0;
    for (;;) {
        // read what the stream says is left, or a default chunk
        NPT_LargeSize chunk     = NPT_INPUT_STREAM_LOAD_DEFAULT_CHUNK;
        NPT_LargeSize available = 0;
        if (NPT_SUCCEEDED(GetAvailable(available)) && available > 0) {
            chunk = available;
        }
        if (target && total + chunk > target) chunk = target - total;

        // only an open-ended load can get here: give back the memory of a
        // buffer that holds nothing yet (an owned buffer with data, or a
        // borrowed one, refuses; the result does not matter)
        if (total + chunk > NPT_INPUT_STREAM_LOAD_MAX_SIZE) {
            buffer.SetBufferSize(0);
            return NPT_ERROR_OUT_OF_RANGE;
        }

        NPT_CHECK(buffer.Reserve(static_cast<NPT_Size>(total + chunk)));

        NPT_Size   bytes_read = 0;
        NPT_Result result     = Read(buffer.UseData() + total,
                                     static_cast<NPT_Size>(chunk),
                                     &bytes_read);
        if (NPT_FAILED(result)) {
            return result == NPT_ERROR_END_OF_STREAM ? NPT_SUCCESS : result;
        }
        // a count beyond the request would cover bytes never written
        if (bytes_read > chunk) return NPT_ERROR_INTERNAL;
        if (bytes_read) {
            total += bytes_read;
            buffer.SetDataSize(static_cast<NPT_Size>(total));
        }
        if (target && total >= target) return NPT_SUCCESS;
    }
}

/*----------------------------------------------------------------------
|   NPT_InputStream::ReadFully
+---------------------------------------------------------------------*/
NPT_Result
NPT_InputStream::ReadFully(void* buffer, NPT_Size bytes_to_read)
{
    NPT_Byte* destination = static_cast<NPT_Byte*>(buffer);
    while (bytes_to_read) {
        NPT_Size bytes_read = 0;
        NPT_CHECK(Read(destination, bytes_to_read, &bytes_read));
        if (bytes_read == 0) return NPT_ERROR_INTERNAL;
        // a stream that claims more than it was asked for would drive the
        // loop past the buffer
        if (bytes_read > bytes_to_read) return NPT_ERROR_INTERNAL;
        destination   += bytes_read;
        bytes_to_read -= bytes_read;
    }
    return NPT_SUCCESS;
}

/*----------------------------------------------------------------------
|   NPT_InputStream::Skip
+---------------------------------------------------------------------*/
NPT_Result
NPT_InputStream::Skip(NPT_Size count)
{
    NPT_Position position = 0;
    NPT_CHECK(Tell(position));
    // a target past 2^64 would wrap around to a position behind us
    if (count > ~NPT_Position(0) - position) return NPT_ERROR_OUT_OF_RANGE;
    return Seek(position + count);
}

/*----------------------------------------------------------------------
|   big-endian readers
+---------------------------------------------------------------------*/
namespace {

// Reads size bytes (1 to 8) as one big-endian number. value is 0 when
// the read fails.
template <typename T>
NPT_Result ReadBe(NPT_InputStream& stream, unsigned int size, T& value)
{
    unsigned char bytes[8];
    NPT_Result result = stream.ReadFully(bytes, size);
    NPT_UInt64 number = 0;
    if (NPT_SUCCEEDED(result)) {
        for (unsigned int i = 0; i < size; ++i) number = (number << 8) | bytes[i];
    }
    value = static_cast<T>(number);
    return result;
}

// Writes the low size bytes (1 to 8) of value, most significant first.
NPT_Result WriteBe(NPT_OutputStream& stream, unsigned int size, NPT_UInt64 value)
{
    unsigned char bytes[8];
    for (unsigned int i = size; i-- > 0; value >>= 8) {
        bytes[i] = static_cast<unsigned char>(value);
    }
    return stream.WriteFully(bytes, size);
}

} // namespace

NPT_Result NPT_InputStream::ReadUInt64Be(NPT_UInt64& value) { return ReadBe(*this, 8, value); }
NPT_Result NPT_InputStream::ReadUInt32Be(NPT_UInt32& value) { return ReadBe(*this, 4, value); }
NPT_Result NPT_InputStream::ReadUInt24Be(NPT_UInt32& value) { return ReadBe(*this, 3, value); }
NPT_Result NPT_InputStream::ReadUInt16Be(NPT_UInt16& value) { return ReadBe(*this, 2, value); }
NPT_Result NPT_InputStream::ReadUInt8(NPT_UInt8& value)     { return ReadBe(*this, 1, value); }

/*----------------------------------------------------------------------
|   NPT_OutputStream::WriteFully
+---------------------------------------------------------------------*/
NPT_Result
NPT_OutputStream::WriteFully(const void* buffer, NPT_Size bytes_to_write)
{
    const NPT_Byte* source = static_cast<const NPT_Byte*>(buffer);
    while (bytes_to_write) {
        NPT_Size bytes_written = 0;
        NPT_CHECK(Write(source, bytes_to_write, &bytes_written));
        if (bytes_written == 0) return NPT_ERROR_INTERNAL;
        if (bytes_written > bytes_to_write) return NPT_ERROR_INTERNAL;
        source         += bytes_written;
        bytes_to_write -= bytes_written;
    }
    return NPT_SUCCESS;
}

/*----------------------------------------------------------------------
|   NPT_OutputStream::WriteString
+---------------------------------------------------------------------*/
NPT_Result
NPT_OutputStream::WriteString(const char* string_buffer)
{
    if (string_buffer == nullptr) return NPT_SUCCESS;
    size_t length = std::strlen(string_buffer);
    if (length == 0) return NPT_SUCCESS;
    // a single transfer counts at most 2^32 - 1 bytes
    while (length > 0xFFFFFFFFu) {
        NPT_CHECK(WriteFully(string_buffer, 0xFFFFFFFFu));
        string_buffer += 0xFFFFFFFFu;
        length        -= 0xFFFFFFFFu;
    }
    return WriteFully(string_buffer, static_cast<NPT_Size>(length));
}

/*----------------------------------------------------------------------
|   NPT_OutputStream::WriteLine
+---------------------------------------------------------------------*/
NPT_Result
NPT_OutputStream::WriteLine(const char* line_buffer)
{
    NPT_CHECK(WriteString(line_buffer));
    return WriteFully("\r\n", 2);
}

/*----------------------------------------------------------------------
|   big-endian writers
+---------------------------------------------------------------------*/
NPT_Result NPT_OutputStream::WriteUInt64Be(NPT_UInt64 value) { return WriteBe(*this, 8, value); }
NPT_Result NPT_OutputStream::WriteUInt32Be(NPT_UInt32 value) { return WriteBe(*this, 4, value); }
NPT_Result NPT_OutputStream::WriteUInt24Be(NPT_UInt32 value) { return WriteBe(*this, 3, value); }
NPT_Result NPT_OutputStream::WriteUInt16Be(NPT_UInt16 value) { return WriteBe(*this, 2, value); }
NPT_Result NPT_OutputStream::WriteUInt8(NPT_UInt8 value)     { return WriteBe(*this, 1, value); }
