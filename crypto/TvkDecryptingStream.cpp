/*****************************************************************
| TvkDecryptingStream.cpp - decryption of an encrypted stream while it
| is read, with random access.
****************************************************************/
#include "TvkDecryptingStream.h"

#include <new>

#include "TvkStreamCipher.h"

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

    NPT_LargeSize     size          = 0;
    TVK_StreamCipher* stream_cipher = nullptr;
    NPT_CHECK(PrepareCipher(encrypted_stream, key, key_size, block_cipher_factory,
                            _cleartext_size, expansion_factor, size, stream_cipher));

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
|   TVK_DecryptingStream::Seek
+---------------------------------------------------------------------*/
NPT_Result
TVK_DecryptingStream::Seek(NPT_Position position)
{
    if (position > m_Size) return NPT_ERROR_INVALID_PARAMETERS;

    NPT_CHECK(m_StreamCipher->SetStreamOffset(position));
    NPT_Result result = m_Source->Seek(position);
    if (result != NPT_SUCCESS) {
        // Read relies on the cipher standing at the next source byte:
        // put it back there, so the stream carries on where it was.
        m_StreamCipher->SetStreamOffset(m_SourcePosition);
        return result;
    }

    m_Position       = position;
    m_SourcePosition = position;
    m_BufferFullness = 0;
    m_BufferOffset   = 0;
    return NPT_SUCCESS;
}
