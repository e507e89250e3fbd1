/*****************************************************************
| TvkCryptoHelper.cpp - key derivation and password encryption runs.
****************************************************************/
#include "TvkCryptoHelper.h"

#include <cstring>
#include <new>

#include "NptDigest.h"
#include "NptFile.h"
#include "NptMemoryStream.h"
#include "NptStreamCopy.h"
#include "NptWipe.h"
#include "TvkBlockCipherFactory.h"
#include "TvkDecryptingStream.h"
#include "TvkEncryptingStream.h"
#include "TvkStreamCipher.h"

namespace {

// SHA-1 digest size: the key buffer is made this large up front, so that
// storing the digest never moves it and leaves no unwiped copy behind.
const NPT_Size TVK_SHA1_DIGEST_SIZE = 20;

// The key of one run: wiped before its memory is freed, on every path.
class KeyBuffer
{
public:
    KeyBuffer() : m_Buffer(TVK_SHA1_DIGEST_SIZE) {}
    ~KeyBuffer() { NPT_WipeMemory(m_Buffer.UseData(), m_Buffer.GetBufferSize()); }
    KeyBuffer(const KeyBuffer&) = delete;
    KeyBuffer& operator=(const KeyBuffer&) = delete;

    NPT_DataBuffer& Buffer() { return m_Buffer; }

private:
    NPT_DataBuffer m_Buffer;
};

} // namespace

/*----------------------------------------------------------------------
|   TVK_CryptoHelper::GenerateKey
+---------------------------------------------------------------------*/
NPT_Result
TVK_CryptoHelper::GenerateKey(const char* password, NPT_DataBuffer& key)
{
    if (password == nullptr) return NPT_ERROR_INVALID_PARAMETERS;
    // A length the digest cannot take in one call would silently derive
    // the key of a shorter password.
    std::size_t length = std::strlen(password);
    if (length > 0xFFFFFFFFu) return NPT_ERROR_INVALID_PARAMETERS;
    return GenerateKey(reinterpret_cast<const NPT_UInt8*>(password), static_cast<NPT_Size>(length), key);
}

NPT_Result
TVK_CryptoHelper::GenerateKey(const NPT_UInt8* password, NPT_Size password_size, NPT_DataBuffer& key)
{
    if (password == nullptr && password_size != 0) return NPT_ERROR_INVALID_PARAMETERS;
    NPT_Digest* digest = nullptr;
    NPT_CHECK(NPT_Digest::Create(NPT_Digest::SHA1, digest));

    // The digest object wipes its state, which held the password, when
    // it is deleted.
    NPT_Result result = digest->Update(password, password_size);
    if (result == NPT_SUCCESS) result = digest->GetDigest(key);
    delete digest;
    return result;
}

/*----------------------------------------------------------------------
|   TVK_CryptoHelper::EncryptDecryptWithPassword (streams)
+---------------------------------------------------------------------*/
NPT_Result
TVK_CryptoHelper::EncryptDecryptWithPassword(const char*                password,
                                             NPT_BlockCipher::Direction direction,
                                             NPT_InputStreamReference&  input,
                                             NPT_OutputStreamReference& output)
{
    if (password == nullptr || input.IsNull() || output.IsNull()) {
        return NPT_ERROR_INVALID_PARAMETERS;
    }

    KeyBuffer key;
    NPT_CHECK(GenerateKey(password, key.Buffer()));

    NPT_InputStreamReference transformed;
    NPT_Result result;
    if (direction == NPT_BlockCipher::ENCRYPT) {
        result = TVK_EncryptingStream::Create(input,
                                              key.Buffer().GetData(),
                                              KEY_SIZE,
                                              &TVK_DefaultBlockCipherFactory::Instance,
                                              transformed,
                                              nullptr,
                                              nullptr,
                                              EXPANSION_FACTOR);
    } else {
        result = TVK_DecryptingStream::Create(input,
                                              key.Buffer().GetData(),
                                              KEY_SIZE,
                                              &TVK_DefaultBlockCipherFactory::Instance,
                                              transformed,
                                              nullptr,
                                              EXPANSION_FACTOR);
    }
    if (result != NPT_SUCCESS) return result;

    result = NPT_StreamToStreamCopy(*transformed, *output, 0, 0, nullptr);

    // The transformed stream (and its share of the source) goes before
    // the key it was built with.
    transformed.Release();
    return result;
}

/*----------------------------------------------------------------------
|   TVK_CryptoHelper::EncryptDecryptWithPassword (buffers)
+---------------------------------------------------------------------*/
NPT_Result
TVK_CryptoHelper::EncryptDecryptWithPassword(const char*                password,
                                             NPT_BlockCipher::Direction direction,
                                             const NPT_UInt8*           input,
                                             NPT_Size                   input_size,
                                             NPT_DataBuffer&            output)
{
    if (password == nullptr || (input == nullptr && input_size > 0)) {
        return NPT_ERROR_INVALID_PARAMETERS;
    }

    // The result is exactly input_size bytes: room for them is made once,
    // up front, instead of by repeated doubling, which would copy the
    // output and briefly hold half as much again. A buffer that cannot
    // grow refuses; its writes then fail as they would have anyway.
    NPT_Result reserved = output.Reserve(input_size);

    // With room for the whole result, and the input either elsewhere or
    // exactly in its place, the key stream goes straight from the input
    // onto the output: what the streams and the copy would do, in one
    // pass over the data, without the copy's transfer block.
    if (reserved == NPT_SUCCESS && input_size > 0) {
        NPT_UInt8*       to   = output.UseData();
        const NPT_UInt8* from = input;
        bool apart = from + input_size <= to || to + input_size <= from;
        if (apart || from == to) {
            return TransformBuffer(password, direction, input, input_size, output);
        }
    }

    // The input is borrowed where it lies: read in place, never copied.
    NPT_DataBuffer input_buffer(input, input_size, false);

    NPT_MemoryStream* input_stream = new (std::nothrow) NPT_MemoryStream(input_buffer);
    if (input_stream == nullptr) return NPT_ERROR_OUT_OF_MEMORY;
    NPT_InputStreamReference input_reference(input_stream);

    NPT_MemoryStream* output_stream = new (std::nothrow) NPT_MemoryStream(output);
    if (output_stream == nullptr) return NPT_ERROR_OUT_OF_MEMORY;
    NPT_OutputStreamReference output_reference(output_stream);

    // Released in reverse order on return: the output stream, the input
    // stream, then the borrowed input buffer (which frees nothing).
    return EncryptDecryptWithPassword(password, direction, input_reference, output_reference);
}

/*----------------------------------------------------------------------
|   TVK_CryptoHelper::TransformBuffer
|
|   The buffer form once output has room for input_size bytes: the key
|   stream from offset 0, XORed from input onto output's block. Encrypting
|   and decrypting are the same transformation, so direction plays no
|   part beyond what the streams would do with it.
+---------------------------------------------------------------------*/
NPT_Result
TVK_CryptoHelper::TransformBuffer(const char*                password,
                                   NPT_BlockCipher::Direction /* direction */,
                                   const NPT_UInt8*           input,
                                   NPT_Size                   input_size,
                                   NPT_DataBuffer&            output)
{
    KeyBuffer key;
    NPT_CHECK(GenerateKey(password, key.Buffer()));

    NPT_BlockCipher* block_cipher = nullptr;
    NPT_CHECK(TVK_DefaultBlockCipherFactory::Instance.Create(NPT_BlockCipher::AES_128,
                                                             NPT_BlockCipher::ENCRYPT,
                                                             key.Buffer().GetData(),
                                                             KEY_SIZE,
                                                             block_cipher));
    TVK_CtrStreamCipher cipher(block_cipher, EXPANSION_FACTOR);
    NPT_Size   done   = input_size;
    NPT_Result result = cipher.ProcessBuffer(input, input_size, output.UseData(), &done, true);
    // As the copy would have written them: the bytes transformed are in
    // output, and the data size covers them (it is never lowered).
    if (done > output.GetDataSize()) output.SetDataSize(done);
    return result;
}

/*----------------------------------------------------------------------
|   TVK_CryptoHelper::EncryptDecryptWithPassword (files)
+---------------------------------------------------------------------*/
NPT_Result
TVK_CryptoHelper::EncryptDecryptWithPassword(const char*                password,
                                             NPT_BlockCipher::Direction direction,
                                             const char*                filein,
                                             const char*                fileout)
{
    if (password == nullptr) return NPT_ERROR_INVALID_PARAMETERS;

    NPT_File input_file(filein);
    NPT_CHECK(input_file.Open(NPT_FILE_OPEN_MODE_READ));
    NPT_InputStreamReference input;
    NPT_CHECK(input_file.GetInputStream(input));

    // The run needs the input's size. Ask for it before the output is
    // created or truncated, so an input without one (a standard stream,
    // for instance) leaves the output as it was.
    NPT_LargeSize input_size = 0;
    NPT_CHECK(input->GetSize(input_size));

    NPT_File output_file(fileout);
    NPT_CHECK(output_file.Open(NPT_FILE_OPEN_MODE_WRITE |
                               NPT_FILE_OPEN_MODE_CREATE |
                               NPT_FILE_OPEN_MODE_TRUNCATE));
    NPT_OutputStreamReference output;
    NPT_CHECK(output_file.GetOutputStream(output));

    NPT_Result result = EncryptDecryptWithPassword(password, direction, input, output);

    // Data still buffered must reach the file, and a write that never
    // does (a full device) must not pass for success.
    if (result == NPT_SUCCESS) result = output->Flush();

    // Released in reverse order of creation on return: the output stream
    // and file (closing the output first), then the input stream and file.
    return result;
}
