/*****************************************************************
| NptStreamCopy.cpp - stream-to-stream copy through one transfer block.
****************************************************************/
#include "NptStreamCopy.h"

#include <memory>
#include <new>

#include "NptWipe.h"

namespace {

// Deletes the transfer block after overwriting with zeros the part of
// it that reads have filled (*used, the largest count read), so that a
// short copy does not pay for wiping all 64 KiB.
struct WipingDelete {
    const NPT_Size* used;
    void operator()(NPT_Byte* block) const
    {
        NPT_WipeMemory(block, *used);
        delete[] block;
    }
};

} // namespace

NPT_Result
NPT_StreamToStreamCopy(NPT_InputStream&  from,
                       NPT_OutputStream& to,
                       NPT_Position      offset,
                       NPT_LargeSize     size,
                       NPT_LargeSize*    bytes_written)
{
    if (bytes_written) *bytes_written = 0;

    if (offset) NPT_CHECK(from.Seek(offset));

    // the only allocation of the copy; released on every path, wiped
    // first since it carries whatever the copy moves
    NPT_Size used = 0;
    std::unique_ptr<NPT_Byte[], WipingDelete> block(
        new (std::nothrow) NPT_Byte[NPT_STREAM_COPY_CHUNK_SIZE], WipingDelete{&used});
    if (!block) return NPT_ERROR_OUT_OF_MEMORY;

    NPT_LargeSize total_read = 0;
    for (;;) {
        NPT_Size chunk = NPT_STREAM_COPY_CHUNK_SIZE;
        if (size && size - total_read < chunk) {
            chunk = static_cast<NPT_Size>(size - total_read);
        }

        NPT_Size   bytes_read = 0;
        NPT_Result result     = from.Read(block.get(), chunk, &bytes_read);
        // a stream writes only the bytes it reports (never more than asked)
        NPT_Size filled = bytes_read < chunk ? bytes_read : chunk;
        if (filled > used) used = filled;
        if (result == NPT_ERROR_END_OF_STREAM) return NPT_SUCCESS;
        if (NPT_FAILED(result)) return result;
        if (bytes_read > chunk) return NPT_ERROR_INTERNAL;
        if (bytes_read == 0) continue;

        // hand the bytes to the sink, as many writes as it takes
        NPT_Size written = 0;
        while (written < bytes_read) {
            NPT_Size   count = 0;
            NPT_Result write_result = to.Write(block.get() + written, bytes_read - written, &count);
            if (NPT_FAILED(write_result)) return write_result;
            // a sink that keeps taking nothing would hold the copy forever
            if (count == 0 || count > bytes_read - written) return NPT_ERROR_INTERNAL;
            written += count;
            if (bytes_written) *bytes_written += count;
        }

        if (size) {
            total_read += bytes_read;
            if (total_read >= size) return NPT_SUCCESS;
        }
    }
}
