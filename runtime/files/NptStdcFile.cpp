/*****************************************************************
| NptStdcFile.cpp - NPT_StdcFile, its open-file record and its streams.
****************************************************************/
#include "NptStdcFile.h"

#include <cerrno>
#include <cstdio>

#include "NptPlatform.h"

/*----------------------------------------------------------------------
|   NPT_StdcFileRecord
+---------------------------------------------------------------------*/
NPT_StdcFileRecord::NPT_StdcFileRecord(std::FILE* file, const NPT_String& name, unsigned char* buffer)
    : m_File(file), m_Name(name), m_Buffer(buffer)
{
}

NPT_StdcFileRecord::~NPT_StdcFileRecord()
{
    if (m_File != nullptr && !IsStandardStream()) {
        // A failure here can no longer be reported; Flush reports it to
        // callers that need to know.
        NPT_PlatformCloseFile(m_File);
    }
    // The FILE used this buffer until it was closed.
    delete[] m_Buffer;
}

bool NPT_StdcFileRecord::IsStandardStream() const
{
    return m_File == NPT_PlatformStandardInput() ||
           m_File == NPT_PlatformStandardOutput() ||
           m_File == NPT_PlatformStandardError();
}

/*----------------------------------------------------------------------
|   NPT_StdcFileStream
+---------------------------------------------------------------------*/
NPT_Result NPT_StdcFileStream::SeekFile(NPT_Position offset)
{
    return NPT_PlatformSeek(m_Record->GetFile(), offset) == 0 ? NPT_SUCCESS : NPT_FAILURE;
}

NPT_Result NPT_StdcFileStream::TellFile(NPT_Position& offset)
{
    offset = 0;
    NPT_Int64 position = NPT_PlatformTell(m_Record->GetFile());
    if (position < 0) return NPT_FAILURE;
    offset = static_cast<NPT_Position>(position);
    return NPT_SUCCESS;
}

NPT_Result NPT_StdcFileStream::GetFileSize(NPT_LargeSize& size)
{
    // A standard stream is not the file that happens to carry its
    // reserved name in the working directory: it has no size.
    if (m_Record->IsStandardStream()) return NPT_ERROR_NO_SUCH_FILE;

    NPT_FileInfo info;
    NPT_CHECK(NPT_File::GetInfo(m_Record->GetName().GetChars(), &info));
    size = info.m_Size;
    return NPT_SUCCESS;
}

/*----------------------------------------------------------------------
|   NPT_StdcFileInputStream
+---------------------------------------------------------------------*/
NPT_Result NPT_StdcFileInputStream::Read(void* buffer, NPT_Size bytes_to_read, NPT_Size* bytes_read)
{
    if (bytes_read) *bytes_read = 0;
    if (buffer == nullptr) return NPT_ERROR_INVALID_PARAMETERS;
    // Asking for nothing gets nothing, whatever state the file is in.
    if (bytes_to_read == 0) return NPT_SUCCESS;

    std::FILE* file = m_Record->GetFile();
    errno = 0;
    size_t count = NPT_PlatformReadFile(file, buffer, bytes_to_read);
    if (count > 0) {
        if (bytes_read) *bytes_read = static_cast<NPT_Size>(count);
        return NPT_SUCCESS;
    }
    if (std::feof(file)) return NPT_ERROR_END_OF_STREAM;
    int error = errno;
    // A failure the C library gave no reason for is still a failure.
    return error != 0 ? NPT_MapStdcErrno(error) : NPT_FAILURE;
}

NPT_Result NPT_StdcFileInputStream::Seek(NPT_Position offset)
{
    return SeekFile(offset);
}

NPT_Result NPT_StdcFileInputStream::Tell(NPT_Position& offset)
{
    return TellFile(offset);
}

NPT_Result NPT_StdcFileInputStream::GetSize(NPT_LargeSize& size)
{
    return GetFileSize(size);
}

NPT_Result NPT_StdcFileInputStream::GetAvailable(NPT_LargeSize& available)
{
    available = 0;
    NPT_Int64     position = NPT_PlatformTell(m_Record->GetFile());
    NPT_LargeSize size     = 0;
    if (GetSize(size) != NPT_SUCCESS || position < 0 ||
        static_cast<NPT_LargeSize>(position) > size) {
        return NPT_FAILURE;
    }
    available = size - static_cast<NPT_LargeSize>(position);
    return NPT_SUCCESS;
}

/*----------------------------------------------------------------------
|   NPT_StdcFileOutputStream
+---------------------------------------------------------------------*/
NPT_Result NPT_StdcFileOutputStream::Write(const void* data, NPT_Size bytes_to_write, NPT_Size* bytes_written)
{
    if (bytes_written) *bytes_written = 0;
    if (bytes_to_write == 0) return NPT_ERROR_WRITE_FAILED;
    if (data == nullptr) return NPT_ERROR_INVALID_PARAMETERS;

    std::FILE* file  = m_Record->GetFile();
    size_t     count = NPT_PlatformWriteFile(file, data, bytes_to_write);
    // When handing its buffer to the file fails, the C library drops the
    // buffered bytes and may still count the new ones as taken; its error
    // indicator is then the only trace of the loss, and it stays set.
    if (count == 0 || std::ferror(file)) return NPT_ERROR_WRITE_FAILED;
    if (bytes_written) *bytes_written = static_cast<NPT_Size>(count);
    return NPT_SUCCESS;
}

NPT_Result NPT_StdcFileOutputStream::Seek(NPT_Position offset)
{
    return SeekFile(offset);
}

NPT_Result NPT_StdcFileOutputStream::Tell(NPT_Position& offset)
{
    return TellFile(offset);
}

NPT_Result NPT_StdcFileOutputStream::Flush()
{
    // Buffered data that cannot be written (device full, I/O error) is
    // lost data: say so instead of reporting success, also when it was
    // lost by an earlier write that overflowed the buffer.
    std::FILE* file = m_Record->GetFile();
    if (NPT_PlatformFlushFile(file) != 0 || std::ferror(file)) return NPT_ERROR_WRITE_FAILED;
    return NPT_SUCCESS;
}

/*----------------------------------------------------------------------
|   NPT_StdcFile
+---------------------------------------------------------------------*/
NPT_StdcFile::NPT_StdcFile(NPT_File& delegator)
    : m_Delegator(delegator), m_Mode(0)
{
}

NPT_StdcFile::~NPT_StdcFile()
{
    Close();
}

NPT_Result NPT_StdcFile::Open(NPT_FileOpenMode mode)
{
    if (!m_Record.IsNull()) return NPT_ERROR_FILE_ALREADY_OPEN;
    m_Mode = mode;

    const NPT_String& path     = m_Delegator.GetPath();
    std::FILE*        file     = nullptr;
    bool              standard = true;
    if (path == NPT_FILE_STANDARD_INPUT) {
        file = NPT_PlatformStandardInput();
    } else if (path == NPT_FILE_STANDARD_OUTPUT) {
        file = NPT_PlatformStandardOutput();
    } else if (path == NPT_FILE_STANDARD_ERROR) {
        file = NPT_PlatformStandardError();
    } else {
        standard = false;
        NPT_PlatformOpenKind kind;
        if ((mode & NPT_FILE_OPEN_MODE_WRITE) == 0) {
            kind = NPT_PLATFORM_OPEN_READ;
        } else if (mode & NPT_FILE_OPEN_MODE_APPEND) {
            kind = NPT_PLATFORM_OPEN_APPEND;
        } else if (mode & (NPT_FILE_OPEN_MODE_CREATE | NPT_FILE_OPEN_MODE_TRUNCATE)) {
            kind = NPT_PLATFORM_OPEN_CREATE_TRUNCATE;
        } else {
            kind = NPT_PLATFORM_OPEN_READ_WRITE;
        }
        // A name the system cannot take as it is (not UTF-8 on Windows)
        // is refused before any system call.
        if (NPT_PlatformIsValidPath(path.GetChars())) {
            file = NPT_PlatformOpenFile(path.GetChars(), kind);
        }
        // Whatever the reason (missing, a directory, no permission, in use
        // elsewhere), the file cannot be had.
        if (file == nullptr) return NPT_ERROR_NO_SUCH_FILE;
    }

    unsigned char* buffer = nullptr;
    if (file != nullptr) {
        if (mode & NPT_FILE_OPEN_MODE_UNBUFFERED) {
            std::setvbuf(file, nullptr, _IONBF, 0);
        } else if (!standard && !NPT_PlatformIsTerminal(file)) {
            // Large transfers and the many small reads of a decrypting
            // stream both go faster with a buffer larger than the
            // C library's default; the record frees it after the close.
            buffer = new unsigned char[BUFFER_SIZE];
            if (std::setvbuf(file, reinterpret_cast<char*>(buffer), _IOFBF, BUFFER_SIZE) != 0) {
                delete[] buffer;
                buffer = nullptr;
            }
        }
    }

    m_Record = NPT_StdcFileRecordReference(new NPT_StdcFileRecord(file, path, buffer));
    return NPT_SUCCESS;
}

NPT_Result NPT_StdcFile::Close()
{
    m_Record.Release();
    m_Mode = 0;
    return NPT_SUCCESS;
}

NPT_Result NPT_StdcFile::GetInputStream(NPT_InputStreamReference& stream)
{
    stream.Release();
    if (m_Record.IsNull()) return NPT_ERROR_FILE_NOT_OPEN;
    if ((m_Mode & NPT_FILE_OPEN_MODE_READ) == 0) return NPT_ERROR_FILE_NOT_READABLE;
    stream = NPT_InputStreamReference(new NPT_StdcFileInputStream(m_Record));
    return NPT_SUCCESS;
}

NPT_Result NPT_StdcFile::GetOutputStream(NPT_OutputStreamReference& stream)
{
    stream.Release();
    if (m_Record.IsNull()) return NPT_ERROR_FILE_NOT_OPEN;
    if ((m_Mode & NPT_FILE_OPEN_MODE_WRITE) == 0) return NPT_ERROR_FILE_NOT_WRITABLE;
    stream = NPT_OutputStreamReference(new NPT_StdcFileOutputStream(m_Record));
    return NPT_SUCCESS;
}
