/*****************************************************************
| NptFile.h - files named by path, and the file-system operations.
|
| An NPT_File names a file by its UTF-8 path. Once opened in a mode it
| hands out input and output streams over the file; every stream taken
| from one open file shares the one underlying file and its position.
| The streams keep the file open on their own: they stay usable after
| the NPT_File is closed or destroyed, and the file is closed when the
| last of them (and the NPT_File) lets go.
|
| The reserved paths "@STDIN", "@STDOUT" and "@STDERR" (compared
| exactly, case-sensitive) reach the process's standard streams instead
| of files; those are never closed by this layer.
|
| While a file is open for writing through this layer, in this process
| or in another one, no other open of it through this layer succeeds;
| while it is open for reading only, other read opens succeed and write
| opens fail. A refused open returns NPT_ERROR_NO_SUCH_FILE and changes
| nothing on disk.
|
| The static operations act on paths: file information, the working
| directory, creating and removing directories, removing and renaming
| files, the roots and directory listings. They keep no state.
|
| Threads: an NPT_File, its streams and the shared open file are used by
| one thread at a time. The static operations may be called from any
| thread.
****************************************************************/
#ifndef NPT_FILE_H
#define NPT_FILE_H

#include "NptTypes.h"
#include "NptResults.h"
#include "NptReferences.h"
#include "NptStreams.h"
#include "NptStrings.h"
#include "NptList.h"

/*----------------------------------------------------------------------
|   open modes: a bit set given to Open
+---------------------------------------------------------------------*/
typedef NPT_UInt32 NPT_FileOpenMode;

// GetInputStream is allowed.
const NPT_FileOpenMode NPT_FILE_OPEN_MODE_READ       = 0x01;
// The file is opened writable (it must exist unless CREATE, TRUNCATE or
// APPEND is given too); GetOutputStream is allowed.
const NPT_FileOpenMode NPT_FILE_OPEN_MODE_WRITE      = 0x02;
// With WRITE and without APPEND: the file is created when missing and
// cut to 0 bytes when present. TRUNCATE has the same effect. A file
// created this way is readable and writable by its owner only (it may
// receive decrypted data); a present file keeps its mode.
const NPT_FileOpenMode NPT_FILE_OPEN_MODE_CREATE     = 0x04;
const NPT_FileOpenMode NPT_FILE_OPEN_MODE_TRUNCATE   = 0x08;
// The opened stream does no buffering of its own (also for the
// standard streams).
const NPT_FileOpenMode NPT_FILE_OPEN_MODE_UNBUFFERED = 0x10;
// With WRITE: the file is created when missing; every write goes to its
// end.
const NPT_FileOpenMode NPT_FILE_OPEN_MODE_APPEND     = 0x20;

// The reserved names of the standard streams.
extern NPT_EXPORT const char* const NPT_FILE_STANDARD_INPUT;   // "@STDIN"
extern NPT_EXPORT const char* const NPT_FILE_STANDARD_OUTPUT;  // "@STDOUT"
extern NPT_EXPORT const char* const NPT_FILE_STANDARD_ERROR;   // "@STDERR"

/*----------------------------------------------------------------------
|   NPT_TimeStamp: a signed 64-bit count of nanoseconds
+---------------------------------------------------------------------*/
class NPT_EXPORT NPT_TimeStamp
{
public:
    NPT_TimeStamp() : m_NanoSeconds(0) {}

    // seconds * 1,000,000,000; values beyond the 64-bit range are held
    // at the nearest representable count.
    static NPT_TimeStamp FromSeconds(NPT_Int64 seconds);
    static NPT_TimeStamp FromNanoSeconds(NPT_Int64 nanoseconds);

    NPT_Int64 ToNanoSeconds() const { return m_NanoSeconds; }
    // Whole seconds, rounded toward zero.
    NPT_Int64 ToSeconds() const { return m_NanoSeconds / 1000000000; }

    bool operator==(const NPT_TimeStamp& other) const { return m_NanoSeconds == other.m_NanoSeconds; }
    bool operator!=(const NPT_TimeStamp& other) const { return m_NanoSeconds != other.m_NanoSeconds; }
    bool operator<(const NPT_TimeStamp& other) const  { return m_NanoSeconds < other.m_NanoSeconds; }

private:
    NPT_Int64 m_NanoSeconds;
};

/*----------------------------------------------------------------------
|   NPT_FileInfo: what GetInfo reports about a path
+---------------------------------------------------------------------*/
struct NPT_EXPORT NPT_FileInfo
{
    enum FileType : NPT_UInt32 {
        FILE_TYPE_NONE      = 0,  // not determined (a cleared record)
        FILE_TYPE_REGULAR   = 1,
        FILE_TYPE_DIRECTORY = 2,
        FILE_TYPE_OTHER     = 4   // device, pipe, socket ...
    };

    // Attribute bits of m_AttributesMask and m_Attributes.
    static constexpr NPT_UInt32 ATTRIBUTE_READ_ONLY = 0x01;  // owner may not write

    NPT_FileInfo()
        : m_Type(FILE_TYPE_NONE), m_Size(0), m_AttributesMask(0), m_Attributes(0) {}

    FileType      m_Type;
    NPT_UInt64    m_Size;            // bytes, as the file system reports it
    NPT_UInt32    m_AttributesMask;  // which attribute bits were determined
    NPT_UInt32    m_Attributes;      // which of them are set
    NPT_TimeStamp m_CreationTime;    // whole seconds, see GetInfo
    NPT_TimeStamp m_ModificationTime;// whole seconds
};

/*----------------------------------------------------------------------
|   NPT_FileInterface: an openable file
+---------------------------------------------------------------------*/
class NPT_EXPORT NPT_FileInterface
{
public:
    // The mode bits under their short names, e.g. NPT_File::OPEN_MODE_READ.
    static constexpr NPT_FileOpenMode OPEN_MODE_READ       = NPT_FILE_OPEN_MODE_READ;
    static constexpr NPT_FileOpenMode OPEN_MODE_WRITE      = NPT_FILE_OPEN_MODE_WRITE;
    static constexpr NPT_FileOpenMode OPEN_MODE_CREATE     = NPT_FILE_OPEN_MODE_CREATE;
    static constexpr NPT_FileOpenMode OPEN_MODE_TRUNCATE   = NPT_FILE_OPEN_MODE_TRUNCATE;
    static constexpr NPT_FileOpenMode OPEN_MODE_UNBUFFERED = NPT_FILE_OPEN_MODE_UNBUFFERED;
    static constexpr NPT_FileOpenMode OPEN_MODE_APPEND     = NPT_FILE_OPEN_MODE_APPEND;

    virtual ~NPT_FileInterface() {}

    virtual NPT_Result Open(NPT_FileOpenMode mode) = 0;
    virtual NPT_Result Close() = 0;
    virtual NPT_Result GetInputStream(NPT_InputStreamReference& stream) = 0;
    virtual NPT_Result GetOutputStream(NPT_OutputStreamReference& stream) = 0;
};

class NPT_StdcFile;

/*----------------------------------------------------------------------
|   NPT_File
+---------------------------------------------------------------------*/
class NPT_EXPORT NPT_File : public NPT_FileInterface
{
public:
    // The path separator of this platform: "/" on POSIX, "\\" on Windows.
    static const char* const Separator;

    // Copies path (null gives an empty path). Nothing is opened.
    explicit NPT_File(const char* path);
    // Closes the file (streams taken from it stay usable).
    ~NPT_File() override;

    // Copies the path only; the copy starts closed. An open state is
    // never copied.
    NPT_File(const NPT_File& other);
    NPT_File& operator=(const NPT_File& other);

    const NPT_String& GetPath() const { return m_Path; }
    // True when the path is exactly one of the reserved names.
    bool IsStandardStream() const { return m_IsStandardStream; }

    // Opens the file in mode (NPT_FILE_OPEN_MODE_* bits).
    //   already open                     NPT_ERROR_FILE_ALREADY_OPEN
    //                                    (nothing changes)
    //   the file cannot be opened, for any reason (missing, a directory,
    //   no permission, open elsewhere in a conflicting mode)
    //                                    NPT_ERROR_NO_SUCH_FILE
    // Without NPT_FILE_OPEN_MODE_WRITE the file is opened for reading
    // only; without NPT_FILE_OPEN_MODE_READ it then refuses both stream
    // getters.
    NPT_Result Open(NPT_FileOpenMode mode) override;
    // Lets go of the file's share of the open file. Always NPT_SUCCESS,
    // also when not open. The file can be opened again.
    NPT_Result Close() override;
    // A new input stream over the open file; stream is emptied first.
    //   not open                   NPT_ERROR_FILE_NOT_OPEN
    //   opened without READ        NPT_ERROR_FILE_NOT_READABLE
    NPT_Result GetInputStream(NPT_InputStreamReference& stream) override;
    // A new output stream over the open file; stream is emptied first.
    //   not open                   NPT_ERROR_FILE_NOT_OPEN
    //   opened without WRITE       NPT_ERROR_FILE_NOT_WRITABLE
    NPT_Result GetOutputStream(NPT_OutputStreamReference& stream) override;

    /*------------------------------------------------------------------
    |   file-system operations (paths are NUL-terminated UTF-8)
    |
    |   Operating-system errors come back by meaning, e.g.
    |     missing path or parent                NPT_ERROR_NO_SUCH_FILE
    |     access refused                        NPT_ERROR_PERMISSION_DENIED
    |     a path component is not a directory   NPT_ERROR_FILE_NOT_DIRECTORY
    |     target exists                         NPT_ERROR_FILE_ALREADY_EXISTS
    |     device full                           NPT_ERROR_FILE_NOT_ENOUGH_SPACE
    |     read-only file system                 NPT_ERROR_FILE_NOT_WRITABLE
    |     name too long                         NPT_ERROR_INVALID_PARAMETERS
    |     any other                             NPT_ERROR_BASE_ERRNO - errno
    |   Windows reports the same meanings through its Win32 error numbers
    |   (NPT_MapWin32Error; unlisted numbers give NPT_FAILURE) for the
    |   directory, removal, renaming and listing operations.
    |   A null path, and on Windows a path that is not valid UTF-8, gives
    |   NPT_ERROR_INVALID_PARAMETERS before any system call.
    +-----------------------------------------------------------------*/

    // Information about path; info may be null to test existence only.
    // When given, info is cleared first and stays cleared on failure.
    // Trailing separators are ignored ("\\" and "/" on Windows), but a
    // path made only of separators is the root (of the current drive on
    // Windows), and on Windows a bare drive "D:" is its root "D:\\".
    // Symbolic links are followed. The creation time is the birth time
    // where the file system records it (always on Windows), else the time
    // of the last status change; times are whole seconds.
    static NPT_Result GetInfo(const char* path, NPT_FileInfo* info = nullptr);
    // The current directory. On failure path is unchanged. On Windows at
    // most 1024 UTF-16 units: a longer one gives NPT_ERROR_BASE_ERRNO -
    // ERANGE.
    static NPT_Result GetWorkingDirectory(NPT_String& path);
    static NPT_Result MakeDirectory(const char* path);
    //   directory not empty                NPT_ERROR_DIRECTORY_NOT_EMPTY
    static NPT_Result DeleteDirectory(const char* path);
    // Removes a file (not a directory: NPT_ERROR_PERMISSION_DENIED).
    static NPT_Result RemoveFile(const char* path);
    // Renames (moves) from_path to to_path. An existing target is never
    // replaced: NPT_ERROR_FILE_ALREADY_EXISTS, both left as they were.
    static NPT_Result Rename(const char* from_path, const char* to_path);
    // The roots of the file system: "/" on POSIX; on Windows the root of
    // every present drive, "A:\\" to "Z:\\" in letter order. Always
    // NPT_SUCCESS.
    static NPT_Result GetRoots(NPT_List<NPT_String>& roots);
    // The names (no directory part, UTF-8) of the entries of directory path,
    // in the order the file system gives them, without "." and "..".
    // The first start entries are skipped; max 0 means no limit.
    // entries is cleared first.
    //   null or empty path          NPT_ERROR_INVALID_PARAMETERS
    //   failure while listing       the mapped error; the names gathered
    //                               so far stay in entries
    static NPT_Result ListDirectory(const char*           path,
                                    NPT_List<NPT_String>& entries,
                                    NPT_UInt32            start = 0,
                                    NPT_UInt32            max = 0);

private:
    NPT_StdcFile* m_Delegate;          // owned, never null
    NPT_String    m_Path;
    bool          m_IsStandardStream;
};

#endif // NPT_FILE_H
