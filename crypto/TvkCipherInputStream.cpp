/*****************************************************************
| TvkCipherInputStream.cpp - the read pipeline shared by the encrypting
| and decrypting streams.
****************************************************************/
#include "TvkCipherInputStream.h"

#include <cstring>
#include <new>
#include <typeinfo>

#include "NptBlockCipher.h"
#include "NptMemoryStream.h"
#include "NptStdcFile.h"
#include "TvkBlockCipherFactory.h"
#include "TvkStreamCipher.h"

namespace {

// The source is read in slices of at most this many bytes.
const NPT_Size TVK_CIPHER_INPUT_STREAM_SLICE_SIZE = 16;

} // namespace

/*----------------------------------------------------------------------
|   TVK_CipherInputStream::PrepareCipher
+---------------------------------------------------------------------*/
NPT_Result
TVK_CipherInputStream::PrepareCipher(NPT_Reference<NPT_InputStream>& source,
                                     const NPT_UInt8*                key,
                                     NPT_Size                        key_size,
                                     TVK_BlockCipherFactory*         block_cipher_factory,
                                     const NPT_LargeSize*            given_size,
                                     NPT_UInt8                       expansion_factor,
                                     NPT_LargeSize&                  size,
                                     TVK_StreamCipher*&              stream_cipher)
{
    stream_cipher = nullptr;
    if (source.IsNull() || block_cipher_factory == nullptr) {
        return NPT_ERROR_INVALID_PARAMETERS;
    }

    size = 0;
    if (given_size) {
        size = *given_size;
    } else {
        NPT_CHECK(source->GetSize(size));
    }

    NPT_BlockCipher* block_cipher = nullptr;
    NPT_CHECK(block_cipher_factory->Create(NPT_BlockCipher::AES_128,
                                           NPT_BlockCipher::ENCRYPT,
                                           key,
                                           key_size,
                                           block_cipher));

    stream_cipher = new (std::nothrow) TVK_CtrStreamCipher(block_cipher, expansion_factor);
    if (stream_cipher == nullptr) {
        delete block_cipher;
        return NPT_ERROR_OUT_OF_MEMORY;
    }
    return NPT_SUCCESS;
}

/*----------------------------------------------------------------------
|   TVK_CipherInputStream::TVK_CipherInputStream
+---------------------------------------------------------------------*/
TVK_CipherInputStream::TVK_CipherInputStream(NPT_Reference<NPT_InputStream>& source,
                                             TVK_StreamCipher*               stream_cipher,
                                             NPT_LargeSize                   size)
    : m_Size(size),
      m_Position(0),
      m_Source(source),
      m_SourcePosition(0),
      m_StreamCipher(stream_cipher),
      m_Buffer(),
      m_BufferFullness(0),
      m_BufferOffset(0),
      m_SourceKind(KindOf(m_Source.AsPointer()))
{
}

/*----------------------------------------------------------------------
|   TVK_CipherInputStream::KindOf
|
|   Only the library's own memory and file input streams, of exactly
|   these classes, are read in spans: a class derived from them may
|   count or check its Read calls, and gets the slices.
+---------------------------------------------------------------------*/
TVK_CipherInputStream::SourceKind
TVK_CipherInputStream::KindOf(NPT_InputStream* source)
{
    if (source == nullptr) return SOURCE_SLICED;
    const std::type_info& type = typeid(*source);
    if (type == typeid(NPT_MemoryStream)) return SOURCE_MEMORY;
    if (type == typeid(NPT_StdcFileInputStream)) return SOURCE_SPANS;
    return SOURCE_SLICED;
}

void
TVK_CipherInputStream::UseSlicesOnly()
{
    m_SourceKind = SOURCE_SLICED;
}

/*----------------------------------------------------------------------
|   TVK_CipherInputStream::~TVK_CipherInputStream
+---------------------------------------------------------------------*/
TVK_CipherInputStream::~TVK_CipherInputStream()
{
    delete m_StreamCipher;
    m_Source.Release();
}

/*----------------------------------------------------------------------
|   TVK_CipherInputStream::Read
|
|   Slices that fit the caller's buffer whole are read straight into it
|   and transformed there in one cipher call per run; only a slice the
|   caller has no room for passes through the block buffer. The source
|   sees the same requests either way, and the cipher's output does not
|   depend on how a run is cut, so the result is that of transforming
|   slice by slice.
+---------------------------------------------------------------------*/
NPT_Result
TVK_CipherInputStream::Read(void* buffer, NPT_Size bytes_to_read, NPT_Size* bytes_read)
{
    if (bytes_read) *bytes_read = 0;

    NPT_LargeSize left = m_Size - m_Position;
    if (left < bytes_to_read) {
        if (left == 0) return NPT_ERROR_END_OF_STREAM;
        bytes_to_read = static_cast<NPT_Size>(left);
    }
    if (buffer == nullptr && bytes_to_read > 0) return NPT_ERROR_INVALID_PARAMETERS;

    NPT_UInt8* out   = static_cast<NPT_UInt8*>(buffer);
    NPT_Size   total = 0;

    // bytes transformed earlier and not yet delivered
    if (m_BufferFullness > 0) {
        NPT_Size n = bytes_to_read < m_BufferFullness ? bytes_to_read : m_BufferFullness;
        std::memcpy(out, m_Buffer + m_BufferOffset, n);
        out              += n;
        m_Position       += n;
        m_BufferOffset   += n;
        m_BufferFullness -= n;
        bytes_to_read    -= n;
        total             = n;
        if (bytes_read) *bytes_read = n;
    }

    NPT_InputStream*  source = m_Source.AsPointer();
    TVK_StreamCipher* cipher = m_StreamCipher;
    NPT_CHECK(source->Seek(m_SourcePosition));

    // Slices read straight into the caller's buffer wait there as one
    // run for a single cipher call; the positions pass the run only once
    // it is transformed. A run that cannot be transformed is wiped from
    // the caller's buffer and not counted, so that no byte leaves this
    // stream untransformed, and the next Read reads it again.
    NPT_UInt8* run      = out;
    NPT_Size   run_size = 0;
    auto process_run = [&]() -> NPT_Result {
        if (run_size == 0) return NPT_SUCCESS;
        bool       last      = m_SourcePosition + run_size >= m_Size;
        NPT_Result processed = cipher->ProcessBuffer(run, run_size, run, nullptr, last);
        if (processed == NPT_SUCCESS) {
            m_SourcePosition += run_size;
            m_Position       += run_size;
            total            += run_size;
        } else {
            std::memset(run, 0, run_size);
            cipher->SetStreamOffset(m_SourcePosition);
        }
        run_size = 0;
        return processed;
    };

    // read once: the source's Read could, as far as the compiler knows,
    // change any member
    const SourceKind kind   = m_SourceKind;
    NPT_Result       result = NPT_SUCCESS;
    while (bytes_to_read > 0) {
        NPT_Size got = 0;
        if (bytes_to_read >= TVK_CIPHER_INPUT_STREAM_SLICE_SIZE) {
            // Every whole slice the caller has room for: one slice at a
            // time from a source of unknown kind; from the library's own
            // streams all of them in one span, which ends where the
            // slices would have ended and leaves the source where they
            // would have left it.
            NPT_Size want = TVK_CIPHER_INPUT_STREAM_SLICE_SIZE;
            if (kind != SOURCE_SLICED) {
                want = bytes_to_read - bytes_to_read % TVK_CIPHER_INPUT_STREAM_SLICE_SIZE;
            }
            if (kind == SOURCE_MEMORY) {
                // transformed straight from the memory stream's block into
                // the caller's buffer: no copy in between
                const NPT_Byte* data = nullptr;
                got = static_cast<NPT_MemoryStream*>(source)->ReadInPlace(data, want);
                if (got == 0) {
                    result = NPT_ERROR_END_OF_STREAM;
                    break;
                }
                bool last = m_SourcePosition + got >= m_Size;
                result = cipher->ProcessBuffer(data, got, out, nullptr, last);
                if (result != NPT_SUCCESS) {
                    // as for a run: nothing untransformed left behind, nothing
                    // counted, read again next time
                    std::memset(out, 0, got);
                    cipher->SetStreamOffset(m_SourcePosition);
                    break;
                }
                m_SourcePosition += got;
                m_Position       += got;
                total            += got;
                out              += got;
                run               = out;
                bytes_to_read    -= got;
                continue;
            }
            result = source->Read(out, want, &got);
            if (result != NPT_SUCCESS) break;
            // A source that breaks its contract: more than asked would run
            // past the caller's buffer, and success with nothing would
            // never end this loop.
            if (got == 0 || got > want) {
                result = NPT_ERROR_INTERNAL;
                break;
            }
            out           += got;
            run_size      += got;
            bytes_to_read -= got;
            continue;
        }

        // The caller wants less than a slice: the rest goes through the
        // block buffer, after the pending run so the cipher stays in step.
        result = process_run();
        if (result != NPT_SUCCESS) break;

        NPT_UInt8 block[TVK_CIPHER_INPUT_STREAM_SLICE_SIZE];
        result = source->Read(block, TVK_CIPHER_INPUT_STREAM_SLICE_SIZE, &got);
        if (result != NPT_SUCCESS) break;
        if (got == 0 || got > TVK_CIPHER_INPUT_STREAM_SLICE_SIZE) {
            result = NPT_ERROR_INTERNAL;
            break;
        }
        m_SourcePosition += got;

        NPT_Size out_size = sizeof(m_Buffer);
        result = cipher->ProcessBuffer(block, got, m_Buffer, &out_size,
                                       m_SourcePosition >= m_Size);
        if (result != NPT_SUCCESS) {
            // the slice is read again next time
            m_SourcePosition -= got;
            cipher->SetStreamOffset(m_SourcePosition);
            break;
        }
        m_BufferOffset   = 0;
        m_BufferFullness = out_size;

        NPT_Size n = bytes_to_read < out_size ? bytes_to_read : out_size;
        std::memcpy(out, m_Buffer, n);
        out              += n;
        run               = out;
        m_Position       += n;
        m_BufferOffset   += n;
        m_BufferFullness -= n;
        bytes_to_read    -= n;
        total            += n;
    }

    NPT_Result processed = process_run();
    if (processed != NPT_SUCCESS &&
        (result == NPT_SUCCESS || result == NPT_ERROR_END_OF_STREAM)) {
        result = processed;
    }
    if (bytes_read) *bytes_read = total;

    if (result == NPT_ERROR_END_OF_STREAM && total > 0) return NPT_SUCCESS;
    return result;
}

/*----------------------------------------------------------------------
|   TVK_CipherInputStream::Tell
+---------------------------------------------------------------------*/
NPT_Result
TVK_CipherInputStream::Tell(NPT_Position& position)
{
    position = m_Position;
    return NPT_SUCCESS;
}

/*----------------------------------------------------------------------
|   TVK_CipherInputStream::GetSize
+---------------------------------------------------------------------*/
NPT_Result
TVK_CipherInputStream::GetSize(NPT_LargeSize& size)
{
    size = m_Size;
    return NPT_SUCCESS;
}

/*----------------------------------------------------------------------
|   TVK_CipherInputStream::GetAvailable
+---------------------------------------------------------------------*/
NPT_Result
TVK_CipherInputStream::GetAvailable(NPT_LargeSize& available)
{
    available = m_Size - m_Position;
    return NPT_SUCCESS;
}
