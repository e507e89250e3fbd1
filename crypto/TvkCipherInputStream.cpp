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
#include "NptWipe.h"
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
    // the block buffer holds cleartext or key stream
    NPT_WipeMemory(m_Buffer, sizeof(m_Buffer));
    delete m_StreamCipher;
    m_Source.Release();
}

/*----------------------------------------------------------------------
|   TVK_CipherInputStream::ReadPass
|
|   One Read as it goes: where the next byte goes in the caller's
|   buffer, how many are still wanted, how many were delivered, and the
|   run of slices read straight into the caller's buffer that waits
|   there for a single cipher call. The positions pass a run only once
|   it is transformed.
+---------------------------------------------------------------------*/
struct TVK_CipherInputStream::ReadPass
{
    NPT_UInt8* out;
    NPT_Size   wanted;
    NPT_Size   total;
    NPT_UInt8* run;
    NPT_Size   run_size;
};

// Counts size bytes just transformed into the caller's buffer as
// delivered.
inline void
TVK_CipherInputStream::Deliver(ReadPass& pass, NPT_Size size)
{
    m_SourcePosition += size;
    m_Position       += size;
    pass.total       += size;
    pass.out         += size;
    pass.run          = pass.out;
    pass.wanted      -= size;
}

// Bytes transformed earlier and not yet delivered.
inline void
TVK_CipherInputStream::TakeBuffered(ReadPass& pass)
{
    NPT_Size n = pass.wanted < m_BufferFullness ? pass.wanted : m_BufferFullness;
    std::memcpy(pass.out, m_Buffer + m_BufferOffset, n);
    pass.out         += n;
    pass.wanted      -= n;
    pass.total       += n;
    m_Position       += n;
    m_BufferOffset   += n;
    m_BufferFullness -= n;
}

// Transforms the pending run in place. A run that cannot be transformed
// is wiped from the caller's buffer and not counted, so that no byte
// leaves this stream untransformed, and the next Read reads it again.
inline NPT_Result
TVK_CipherInputStream::ProcessRun(ReadPass& pass)
{
    if (pass.run_size == 0) return NPT_SUCCESS;
    const bool last = m_SourcePosition + pass.run_size >= m_Size;
    NPT_Result processed = m_StreamCipher->ProcessBuffer(pass.run, pass.run_size, pass.run, nullptr, last);
    if (processed == NPT_SUCCESS) {
        m_SourcePosition += pass.run_size;
        m_Position       += pass.run_size;
        pass.total       += pass.run_size;
    } else {
        std::memset(pass.run, 0, pass.run_size);
        m_StreamCipher->SetStreamOffset(m_SourcePosition);
    }
    pass.run_size = 0;
    return processed;
}

// Up to want bytes transformed straight from the memory stream's block
// into the caller's buffer: no copy in between. On a cipher failure, as
// for a run: nothing untransformed left behind, nothing counted, read
// again next time.
inline NPT_Result
TVK_CipherInputStream::ReadInPlace(ReadPass& pass, NPT_MemoryStream& source, NPT_Size want)
{
    const NPT_Byte* data = nullptr;
    NPT_Size got = source.ReadInPlace(data, want);
    if (got == 0) return NPT_ERROR_END_OF_STREAM;
    const bool last = m_SourcePosition + got >= m_Size;
    NPT_Result result = m_StreamCipher->ProcessBuffer(data, got, pass.out, nullptr, last);
    if (result != NPT_SUCCESS) {
        std::memset(pass.out, 0, got);
        m_StreamCipher->SetStreamOffset(m_SourcePosition);
        return result;
    }
    Deliver(pass, got);
    return NPT_SUCCESS;
}

// Every whole slice the caller has room for: one slice at a time from a
// source of unknown kind; from the library's own streams all of them in
// one span, which ends where the slices would have ended and leaves the
// source where they would have left it. Read into the caller's buffer,
// the bytes join the pending run.
inline NPT_Result
TVK_CipherInputStream::ReadWholeSlices(ReadPass& pass, NPT_InputStream& source, SourceKind kind)
{
    NPT_Size want = TVK_CIPHER_INPUT_STREAM_SLICE_SIZE;
    if (kind != SOURCE_SLICED) want = pass.wanted - pass.wanted % TVK_CIPHER_INPUT_STREAM_SLICE_SIZE;
    if (kind == SOURCE_MEMORY) return ReadInPlace(pass, static_cast<NPT_MemoryStream&>(source), want);
    NPT_Size got = 0;
    NPT_CHECK(source.Read(pass.out, want, &got));
    // A source that breaks its contract: more than asked would run past
    // the caller's buffer, and success with nothing would never end the
    // reading.
    if (got == 0 || got > want) return NPT_ERROR_INTERNAL;
    pass.out      += got;
    pass.run_size += got;
    pass.wanted   -= got;
    return NPT_SUCCESS;
}

// The caller wants less than a slice: the rest goes through the block
// buffer, after the pending run so the cipher stays in step.
inline NPT_Result
TVK_CipherInputStream::ReadPartSlice(ReadPass& pass, NPT_InputStream& source)
{
    NPT_CHECK(ProcessRun(pass));
    NPT_UInt8 block[TVK_CIPHER_INPUT_STREAM_SLICE_SIZE];
    NPT_Size got = 0;
    NPT_CHECK(source.Read(block, TVK_CIPHER_INPUT_STREAM_SLICE_SIZE, &got));
    if (got == 0 || got > TVK_CIPHER_INPUT_STREAM_SLICE_SIZE) return NPT_ERROR_INTERNAL;
    m_SourcePosition += got;

    NPT_Size out_size = sizeof(m_Buffer);
    NPT_Result result = m_StreamCipher->ProcessBuffer(block, got, m_Buffer, &out_size, m_SourcePosition >= m_Size);
    if (result != NPT_SUCCESS) {
        // the slice is read again next time
        m_SourcePosition -= got;
        m_StreamCipher->SetStreamOffset(m_SourcePosition);
        return result;
    }
    m_BufferOffset   = 0;
    m_BufferFullness = out_size;
    TakeBuffered(pass);
    pass.run = pass.out;
    return NPT_SUCCESS;
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

    ReadPass pass = {static_cast<NPT_UInt8*>(buffer), bytes_to_read, 0, nullptr, 0};
    if (m_BufferFullness > 0) {
        TakeBuffered(pass);
        if (bytes_read) *bytes_read = pass.total;
    }
    NPT_InputStream* source = m_Source.AsPointer();
    NPT_CHECK(source->Seek(m_SourcePosition));
    pass.run = pass.out;

    // read once: the source's Read could, as far as the compiler knows,
    // change any member
    const SourceKind kind   = m_SourceKind;
    NPT_Result       result = NPT_SUCCESS;
    while (pass.wanted > 0 && result == NPT_SUCCESS) {
        result = pass.wanted >= TVK_CIPHER_INPUT_STREAM_SLICE_SIZE ? ReadWholeSlices(pass, *source, kind)
                                                                   : ReadPartSlice(pass, *source);
    }

    NPT_Result processed = ProcessRun(pass);
    if (processed != NPT_SUCCESS &&
        (result == NPT_SUCCESS || result == NPT_ERROR_END_OF_STREAM)) {
        result = processed;
    }
    if (bytes_read) *bytes_read = pass.total;

    if (result == NPT_ERROR_END_OF_STREAM && pass.total > 0) return NPT_SUCCESS;
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
