/*****************************************************************
| NptStdcFile.h - the file implementation behind NPT_File, over the C
| library's buffered FILE streams, and its input and output streams.
|
| NPT_StdcFile is the delegate an NPT_File forwards to; callers use
| NPT_File. An open file is an NPT_StdcFileRecord (the FILE stream and
| the path it was opened by), shared through NPT_Reference by the
| NPT_StdcFile that opened it and by every stream taken from it: all of
| them read and write through the one FILE and so share one position.
| The FILE is closed when the last share goes, never for the process's
| standard streams.
|
| Threads: a file, its record and its streams are used by one thread at
| a time (the share count is a plain integer).
****************************************************************/
#ifndef NPT_STDC_FILE_H
#define NPT_STDC_FILE_H

#include <cstdio>

#include "NptTypes.h"
#include "NptResults.h"
#include "NptReferences.h"
#include "NptStreams.h"
#include "NptStrings.h"
#include "NptFile.h"

/*----------------------------------------------------------------------
|   NPT_StdcFileRecord: one open file
+---------------------------------------------------------------------*/
class NPT_EXPORT NPT_StdcFileRecord
{
public:
    // Takes over file (may be a standard stream, which is never closed)
    // and buffer (the FILE's buffer, or null; freed after the close).
    NPT_StdcFileRecord(std::FILE* file, const NPT_String& name, unsigned char* buffer);
    // Closes the FILE unless it is null or a standard stream; errors of
    // the close are ignored (an output stream's Flush reports them).
    ~NPT_StdcFileRecord();

    NPT_StdcFileRecord(const NPT_StdcFileRecord&) = delete;
    NPT_StdcFileRecord& operator=(const NPT_StdcFileRecord&) = delete;

    std::FILE*        GetFile() const { return m_File; }
    const NPT_String& GetName() const { return m_Name; }
    bool              IsStandardStream() const;

private:
    std::FILE*     m_File;
    NPT_String     m_Name;
    unsigned char* m_Buffer;
};

typedef NPT_Reference<NPT_StdcFileRecord> NPT_StdcFileRecordReference;

/*----------------------------------------------------------------------
|   NPT_StdcFileStream: a stream's share of the open file
+---------------------------------------------------------------------*/
class NPT_EXPORT NPT_StdcFileStream
{
public:
    explicit NPT_StdcFileStream(const NPT_StdcFileRecordReference& record) : m_Record(record) {}
    virtual ~NPT_StdcFileStream() {}

    NPT_StdcFileStream(const NPT_StdcFileStream&) = delete;
    NPT_StdcFileStream& operator=(const NPT_StdcFileStream&) = delete;

protected:
    // Seek, Tell and GetSize shared by both directions.
    NPT_Result SeekFile(NPT_Position offset);
    NPT_Result TellFile(NPT_Position& offset);
    NPT_Result GetFileSize(NPT_LargeSize& size);

    NPT_StdcFileRecordReference m_Record;
};

/*----------------------------------------------------------------------
|   NPT_StdcFileInputStream
+---------------------------------------------------------------------*/
class NPT_EXPORT NPT_StdcFileInputStream : public NPT_InputStream, public NPT_StdcFileStream
{
public:
    explicit NPT_StdcFileInputStream(const NPT_StdcFileRecordReference& record)
        : NPT_StdcFileStream(record) {}

    // Reads up to bytes_to_read bytes; a short read is a success.
    //   null buffer                      NPT_ERROR_INVALID_PARAMETERS
    //   bytes_to_read 0                  NPT_SUCCESS, 0 bytes
    //   end of file, nothing read        NPT_ERROR_END_OF_STREAM
    //   read error                       NPT_MapStdcErrno(errno)
    NPT_Result Read(void* buffer, NPT_Size bytes_to_read, NPT_Size* bytes_read = nullptr) override;
    //   the C library's seek fails       NPT_FAILURE
    NPT_Result Seek(NPT_Position offset) override;
    //   position unknown                 NPT_FAILURE, offset 0
    NPT_Result Tell(NPT_Position& offset) override;
    // The size NPT_File::GetInfo reports for the path the file was opened
    // by; its error is returned unchanged and size is then left as it
    // was. A standard stream has no size: NPT_ERROR_NO_SUCH_FILE.
    NPT_Result GetSize(NPT_LargeSize& size) override;
    // size - position.
    //   size or position unknown, or position beyond the size
    //                                    NPT_FAILURE, available 0
    NPT_Result GetAvailable(NPT_LargeSize& available) override;
};

/*----------------------------------------------------------------------
|   NPT_StdcFileOutputStream
+---------------------------------------------------------------------*/
class NPT_EXPORT NPT_StdcFileOutputStream : public NPT_OutputStream, public NPT_StdcFileStream
{
public:
    explicit NPT_StdcFileOutputStream(const NPT_StdcFileRecordReference& record)
        : NPT_StdcFileStream(record) {}

    // Writes up to bytes_to_write bytes; a short write is a success with
    // the count written. Data may wait in the FILE's buffer: Flush tells
    // whether it reached the file.
    //   nothing written (also for bytes_to_write 0), or the file has
    //   failed a write, now or earlier (buffered data was lost)
    //                                    NPT_ERROR_WRITE_FAILED
    //   null data with bytes_to_write > 0
    //                                    NPT_ERROR_INVALID_PARAMETERS
    NPT_Result Write(const void* data, NPT_Size bytes_to_write, NPT_Size* bytes_written = nullptr) override;
    //   the C library's seek fails       NPT_FAILURE
    NPT_Result Seek(NPT_Position offset) override;
    //   position unknown                 NPT_FAILURE, offset 0
    NPT_Result Tell(NPT_Position& offset) override;
    // Hands buffered data to the file.
    //   the data could not be written, now or by an earlier write
    //                                    NPT_ERROR_WRITE_FAILED
    NPT_Result Flush() override;
};

/*----------------------------------------------------------------------
|   NPT_StdcFile
+---------------------------------------------------------------------*/
class NPT_EXPORT NPT_StdcFile : public NPT_FileInterface
{
public:
    // delegator names the path to open; it must outlive this object.
    explicit NPT_StdcFile(NPT_File& delegator);
    // As Close.
    ~NPT_StdcFile() override;

    NPT_StdcFile(const NPT_StdcFile&) = delete;
    NPT_StdcFile& operator=(const NPT_StdcFile&) = delete;

    // See NPT_File for the results of these.
    NPT_Result Open(NPT_FileOpenMode mode) override;
    NPT_Result Close() override;
    NPT_Result GetInputStream(NPT_InputStreamReference& stream) override;
    NPT_Result GetOutputStream(NPT_OutputStreamReference& stream) override;

    // Size of the buffer a regular file opened with buffering gets.
    static constexpr NPT_Size BUFFER_SIZE = 64 * 1024;

private:
    NPT_File&                   m_Delegator;
    NPT_FileOpenMode            m_Mode;
    NPT_StdcFileRecordReference m_Record;
};

#endif // NPT_STDC_FILE_H
