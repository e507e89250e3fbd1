/*****************************************************************
| TvkEncryptingStream.cpp - encryption of a cleartext stream while it is
| read.
****************************************************************/
#include "TvkEncryptingStream.h"

#include <new>

#include "TvkStreamCipher.h"

/*----------------------------------------------------------------------
|   TVK_EncryptingStream::Create
+---------------------------------------------------------------------*/
NPT_Result
TVK_EncryptingStream::Create(NPT_Reference<NPT_InputStream>& cleartext_stream,
                             const NPT_UInt8*                key,
                             NPT_Size                        key_size,
                             TVK_BlockCipherFactory*         block_cipher_factory,
                             NPT_Reference<NPT_InputStream>& encrypting_stream,
                             const NPT_LargeSize*            cleartext_size,
                             const NPT_Position*             cleartext_position,
                             NPT_UInt8                       expansion_factor)
{
    encrypting_stream = nullptr;

    NPT_LargeSize     size          = 0;
    TVK_StreamCipher* stream_cipher = nullptr;
    NPT_CHECK(PrepareCipher(cleartext_stream, key, key_size, block_cipher_factory,
                            cleartext_size, expansion_factor, size, stream_cipher));

    TVK_EncryptingStream* stream =
        new (std::nothrow) TVK_EncryptingStream(cleartext_stream, stream_cipher, size);
    if (stream == nullptr) {
        delete stream_cipher;
        return NPT_ERROR_OUT_OF_MEMORY;
    }

    // A stream that could not be put at its starting offset would deliver
    // wrongly keyed bytes: it is dropped rather than handed out.
    if (cleartext_position && *cleartext_position > 0) {
        NPT_Result result = stream_cipher->SetStreamOffset(*cleartext_position);
        if (result != NPT_SUCCESS) {
            delete stream;
            return result;
        }
        stream->m_SourcePosition = *cleartext_position;
    }

    encrypting_stream = stream;
    return NPT_SUCCESS;
}

/*----------------------------------------------------------------------
|   TVK_EncryptingStream::Seek
+---------------------------------------------------------------------*/
NPT_Result
TVK_EncryptingStream::Seek(NPT_Position position)
{
    return position == m_Position ? NPT_SUCCESS : NPT_ERROR_NOT_SUPPORTED;
}
