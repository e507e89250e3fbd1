/*****************************************************************
| TvkDecryptingStream.cpp - decryption of an encrypted stream while it
| is read, with random access.
****************************************************************/
#include "TvkDecryptingStream.h"

#include <cstring>
#include <new>

#include "NptBlockCipher.h"
#include "TvkBlockCipherFactory.h"
#include "TvkStreamCipher.h"

namespace {

// The source is read in slices of at most this many bytes.
const NPT_Size TVK_DECRYPTING_STREAM_SLICE_SIZE = 16;

} // namespace

/*----------------------------------------------------------------------
|   TVK_DecryptingStream::Create
+---------------------------------------------------------------------*/
NPT_Result
TVK_DecryptingStream::Create(NPT_Reference<NPT_InputStream>& encrypted_stream,
                             const NPT_UInt8*                key,
                             NPT_Size                        key_size,
                             TVK_BlockCipherFactory*         block_cipher_factory,
                             NPT_Reference<NPT_InputStream>& decrypting_stream,
                             const NPT_LargeSize*            _cleartext_size,
                             NPT_UInt8                       expansion_factor)
{
    decrypting_stream = nullptr;
    if (encrypted_stream.IsNull() || block_cipher_factory == nullptr) {
        return NPT_ERROR_INVALID_PARAMETERS;
    }

    NPT_LargeSize size = 0;
    if (_cleartext_size) {
        size = *_cleartext_size;
    } else {
        NPT_CHECK(encrypted_stream->GetSize(size));
    }

    // The counter-mode cipher only ever encrypts counter blocks, so the
    // block cipher is asked for the encrypting direction here too.
    NPT_BlockCipher* block_cipher = nullptr;
    NPT_CHECK(block_cipher_factory->Create(NPT_BlockCipher::AES_128,
                                           NPT_BlockCipher::ENCRYPT,
                                           key,
                                           key_size,
                                           block_cipher));

    TVK_StreamCipher* stream_cipher =
        new (std::nothrow) TVK_CtrStreamCipher(block_cipher, expansion_factor);
    if (stream_cipher == nullptr) {
        delete block_cipher;
        return NPT_ERROR_OUT_OF_MEMORY;
    }
    TVK_DecryptingStream* stream =
        new (std::nothrow) TVK_DecryptingStream(encrypted_stream, stream_cipher, size);
    if (stream == nullptr) {
        delete stream_cipher;
        return NPT_ERROR_OUT_OF_MEMORY;
    }

    decrypting_stream = stream;
    return NPT_SUCCESS;
}

/*----------------------------------------------------------------------
|   TVK_DecryptingStream::TVK_DecryptingStream
+---------------------------------------------------------------------*/
TVK_DecryptingStream::TVK_DecryptingStream(NPT_Reference<NPT_InputStream>& encrypted_stream,
                                           TVK_StreamCipher*               stream_cipher,
                                           NPT_LargeSize                   size)
    : m_CleartextSize(size),
      m_CleartextPosition(0),
      m_EncryptedStream(encrypted_stream),
      m_EncryptedSize(size),
      m_EncryptedPosition(0),
      m_StreamCipher(stream_cipher),
      m_Buffer(),
      m_BufferFullness(0),
      m_BufferOffset(0)
{
}

/*----------------------------------------------------------------------
|   TVK_DecryptingStream::~TVK_DecryptingStream
+---------------------------------------------------------------------*/
TVK_DecryptingStream::~TVK_DecryptingStream()
{
    delete m_StreamCipher;
    m_EncryptedStream.Release();
}

/*----------------------------------------------------------------------
|   TVK_DecryptingStream::Read
|
|   Slices that fit the caller's buffer whole are read straight into it
|   and decrypted there in one cipher call per run; only a slice the
|   caller has no room for passes through the block buffer. The source
|   sees the same requests either way, and the cipher's output does not
|   depend on how a run is cut, so the result is that of decrypting
|   slice by slice.
+---------------------------------------------------------------------*/
NPT_Result
TVK_DecryptingStream::Read(void* buffer, NPT_Size bytes_to_read, NPT_Size* bytes_read)
{
    if (bytes_read) *bytes_read = 0;

    NPT_LargeSize left = m_CleartextSize - m_CleartextPosition;
    if (left < bytes_to_read) {
        if (left == 0) return NPT_ERROR_END_OF_STREAM;
        bytes_to_read = static_cast<NPT_Size>(left);
    }

    NPT_UInt8* out   = static_cast<NPT_UInt8*>(buffer);
    NPT_Size   total = 0;

    // bytes decrypted earlier and not yet delivered
    if (m_BufferFullness > 0) {
        NPT_Size n = bytes_to_read < m_BufferFullness ? bytes_to_read : m_BufferFullness;
        std::memcpy(out, m_Buffer + m_BufferOffset, n);
        out                 += n;
        m_CleartextPosition += n;
        m_BufferOffset      += n;
        m_BufferFullness    -= n;
        bytes_to_read       -= n;
        total                = n;
        if (bytes_read) *bytes_read = n;
    }

    NPT_InputStream*  source = m_EncryptedStream.AsPointer();
    TVK_StreamCipher* cipher = m_StreamCipher;
    NPT_CHECK(source->Seek(m_EncryptedPosition));

    // Slices read straight into the caller's buffer wait there as one
    // run for a single cipher call; the positions pass the run only once
    // it is decrypted. A run that cannot be decrypted is wiped from the
    // caller's buffer and not counted, so that no byte leaves this
    // stream untransformed, and the next Read reads it again.
    NPT_UInt8* run      = out;
    NPT_Size   run_size = 0;
    auto process_run = [&]() -> NPT_Result {
        if (run_size == 0) return NPT_SUCCESS;
        bool       last      = m_EncryptedPosition + run_size >= m_EncryptedSize;
        NPT_Result processed = cipher->ProcessBuffer(run, run_size, run, nullptr, last);
        if (processed == NPT_SUCCESS) {
            m_EncryptedPosition += run_size;
            m_CleartextPosition += run_size;
            total += run_size;
        } else {
            std::memset(run, 0, run_size);
            cipher->SetStreamOffset(m_EncryptedPosition);
        }
        run_size = 0;
        return processed;
    };

    NPT_Result result = NPT_SUCCESS;
    while (bytes_to_read > 0) {
        NPT_Size got = 0;
        if (bytes_to_read >= TVK_DECRYPTING_STREAM_SLICE_SIZE) {
            result = source->Read(out, TVK_DECRYPTING_STREAM_SLICE_SIZE, &got);
            if (result != NPT_SUCCESS) break;
            if (got > TVK_DECRYPTING_STREAM_SLICE_SIZE) {  // a source that breaks its contract
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

        NPT_UInt8 block[TVK_DECRYPTING_STREAM_SLICE_SIZE];
        result = source->Read(block, TVK_DECRYPTING_STREAM_SLICE_SIZE, &got);
        if (result != NPT_SUCCESS) break;
        if (got > TVK_DECRYPTING_STREAM_SLICE_SIZE) {
            result = NPT_ERROR_INTERNAL;
            break;
        }
        m_EncryptedPosition += got;

        NPT_Size out_size = sizeof(m_Buffer);
        result = cipher->ProcessBuffer(block, got, m_Buffer, &out_size,
                                       m_EncryptedPosition >= m_EncryptedSize);
        if (result != NPT_SUCCESS) {
            // the slice is read again next time
            m_EncryptedPosition -= got;
            cipher->SetStreamOffset(m_EncryptedPosition);
            break;
        }
        m_BufferOffset   = 0;
        m_BufferFullness = out_size;

        NPT_Size n = bytes_to_read < out_size ? bytes_to_read : out_size;
        std::memcpy(out, m_Buffer, n);
        out                 += n;
        run                  = out;
        m_CleartextPosition += n;
        m_BufferOffset      += n;
        m_BufferFullness    -= n;
        bytes_to_read       -= n;
        total               += n;
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
|   TVK_DecryptingStream::Seek
+---------------------------------------------------------------------*/
NPT_Result
TVK_DecryptingStream::Seek(NPT_Position position)
{
    if (position > m_CleartextSize) return NPT_ERROR_INVALID_PARAMETERS;

    NPT_CHECK(m_StreamCipher->SetStreamOffset(position));
    NPT_Result result = m_EncryptedStream->Seek(position);
    if (result != NPT_SUCCESS) {
        // Read relies on the cipher standing at the next source byte:
        // put it back there, so the stream carries on where it was.
        m_StreamCipher->SetStreamOffset(m_EncryptedPosition);
        return result;
    }

    m_CleartextPosition = position;
    m_EncryptedPosition = position;
    m_BufferFullness    = 0;
    m_BufferOffset      = 0;
    return NPT_SUCCESS;
}

/*----------------------------------------------------------------------
|   TVK_DecryptingStream::Tell
+---------------------------------------------------------------------*/
NPT_Result
TVK_DecryptingStream::Tell(NPT_Position& position)
{
    position = m_CleartextPosition;
    return NPT_SUCCESS;
}

/*----------------------------------------------------------------------
|   TVK_DecryptingStream::GetSize
+---------------------------------------------------------------------*/
NPT_Result
TVK_DecryptingStream::GetSize(NPT_LargeSize& size)
{
    size = m_CleartextSize;
    return NPT_SUCCESS;
}

/*----------------------------------------------------------------------
|   TVK_DecryptingStream::GetAvailable
+---------------------------------------------------------------------*/
NPT_Result
TVK_DecryptingStream::GetAvailable(NPT_LargeSize& available)
{
    available = m_CleartextSize - m_CleartextPosition;
    return NPT_SUCCESS;
}
