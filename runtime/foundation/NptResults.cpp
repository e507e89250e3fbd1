/*****************************************************************
| NptResults.cpp - mapping of operating-system error numbers to result
| codes, and the names of result codes.
|
| The errno tables are keyed by the symbolic names of <cerrno>, so they
| hold on any platform whatever its numbering; unlisted errno values
| travel as NPT_ERROR_BASE_ERRNO - errno with this platform's numbers.
| The Win32 table is data: error numbers recorded on that platform keep
| their meaning here.
****************************************************************/
#include "NptResults.h"

#include <cerrno>
#include <climits>

namespace {

struct ErrorMapping {
    long       error;
    NPT_Result result;
};

// errors of file stream reads and opens
const ErrorMapping kStdcErrnoTable[] = {
    { EPERM,        NPT_ERROR_PERMISSION_DENIED   },
    { ENOENT,       NPT_ERROR_NO_SUCH_FILE        },
    { EACCES,       NPT_ERROR_PERMISSION_DENIED   },
    { EBUSY,        NPT_ERROR_FILE_BUSY           },
    { ENOTDIR,      NPT_ERROR_FILE_NOT_DIRECTORY  },
    { EROFS,        NPT_ERROR_FILE_NOT_WRITABLE   },
    { ENAMETOOLONG, NPT_ERROR_INVALID_PARAMETERS  },
};

// the further errors that only the file-system operations translate
const ErrorMapping kFileSystemErrnoTable[] = {
    { EEXIST,    NPT_ERROR_FILE_ALREADY_EXISTS   },
    { ENOSPC,    NPT_ERROR_FILE_NOT_ENOUGH_SPACE },
    { ENOTEMPTY, NPT_ERROR_DIRECTORY_NOT_EMPTY   },
};

const ErrorMapping kWin32Table[] = {
    {    1, NPT_ERROR_INTERNAL              }, // ERROR_INVALID_FUNCTION
    {    2, NPT_ERROR_NO_SUCH_FILE          }, // ERROR_FILE_NOT_FOUND
    {    3, NPT_ERROR_NO_SUCH_FILE          }, // ERROR_PATH_NOT_FOUND
    {   15, NPT_ERROR_NO_SUCH_FILE          }, // ERROR_INVALID_DRIVE
    {   18, NPT_ERROR_NO_SUCH_FILE          }, // ERROR_NO_MORE_FILES
    {   53, NPT_ERROR_NO_SUCH_FILE          }, // ERROR_BAD_NETPATH
    {   67, NPT_ERROR_NO_SUCH_FILE          }, // ERROR_BAD_NET_NAME
    {  161, NPT_ERROR_NO_SUCH_FILE          }, // ERROR_BAD_PATHNAME
    {  206, NPT_ERROR_NO_SUCH_FILE          }, // ERROR_FILENAME_EXCED_RANGE
    {    4, NPT_ERROR_OUT_OF_RESOURCES      }, // ERROR_TOO_MANY_OPEN_FILES
    {    5, NPT_ERROR_PERMISSION_DENIED     }, // ERROR_ACCESS_DENIED
    {   16, NPT_ERROR_PERMISSION_DENIED     }, // ERROR_CURRENT_DIRECTORY
    {   33, NPT_ERROR_PERMISSION_DENIED     }, // ERROR_LOCK_VIOLATION
    {   65, NPT_ERROR_PERMISSION_DENIED     }, // ERROR_NETWORK_ACCESS_DENIED
    {   82, NPT_ERROR_PERMISSION_DENIED     }, // ERROR_CANNOT_MAKE
    {   83, NPT_ERROR_PERMISSION_DENIED     }, // ERROR_FAIL_I24
    {  108, NPT_ERROR_PERMISSION_DENIED     }, // ERROR_DRIVE_LOCKED
    {  132, NPT_ERROR_PERMISSION_DENIED     }, // ERROR_SEEK_ON_DEVICE
    {    6, NPT_ERROR_INVALID_PARAMETERS    }, // ERROR_INVALID_HANDLE
    {   12, NPT_ERROR_INVALID_PARAMETERS    }, // ERROR_INVALID_ACCESS
    {   13, NPT_ERROR_INVALID_PARAMETERS    }, // ERROR_INVALID_DATA
    {    7, NPT_ERROR_OUT_OF_MEMORY         }, // ERROR_ARENA_TRASHED
    {    8, NPT_ERROR_OUT_OF_MEMORY         }, // ERROR_NOT_ENOUGH_MEMORY
    {    9, NPT_ERROR_OUT_OF_MEMORY         }, // ERROR_INVALID_BLOCK
    { 1816, NPT_ERROR_OUT_OF_MEMORY         }, // ERROR_NOT_ENOUGH_QUOTA
    {   32, NPT_ERROR_FILE_BUSY             }, // ERROR_SHARING_VIOLATION
    {  158, NPT_ERROR_FILE_BUSY             }, // ERROR_NOT_LOCKED
    {  167, NPT_ERROR_FILE_BUSY             }, // ERROR_LOCK_FAILED
    {  112, NPT_ERROR_FILE_NOT_ENOUGH_SPACE }, // ERROR_DISK_FULL
    {  131, NPT_ERROR_OUT_OF_RANGE          }, // ERROR_NEGATIVE_SEEK
    {  145, NPT_ERROR_DIRECTORY_NOT_EMPTY   }, // ERROR_DIR_NOT_EMPTY
    {  183, NPT_ERROR_FILE_ALREADY_EXISTS   }, // ERROR_ALREADY_EXISTS
};

template <std::size_t N>
bool
Lookup(const ErrorMapping (&table)[N], long error, NPT_Result& result)
{
    for (const ErrorMapping& row : table) {
        if (row.error == error) {
            result = row.result;
            return true;
        }
    }
    return false;
}

// An errno value no table lists. errno values are positive; a negative
// number, or one so large that the subtraction would leave the 32-bit
// range, is no errno value and could even come out as NPT_SUCCESS or a
// code of another family: it is reported as a plain failure.
NPT_Result
ErrnoFamily(int error)
{
    if (error < 0 || error > NPT_ERROR_BASE_ERRNO - INT_MIN) return NPT_FAILURE;
    return NPT_ERROR_BASE_ERRNO - error;
}

} // namespace

NPT_Result
NPT_MapStdcErrno(int error)
{
    NPT_Result result;
    if (Lookup(kStdcErrnoTable, error, result)) return result;
    return ErrnoFamily(error);
}

NPT_Result
NPT_MapErrno(int error)
{
    NPT_Result result;
    if (Lookup(kStdcErrnoTable, error, result)) return result;
    if (Lookup(kFileSystemErrnoTable, error, result)) return result;
    return ErrnoFamily(error);
}

NPT_Result
NPT_MapWin32Error(NPT_UInt32 error)
{
    NPT_Result result;
    if (Lookup(kWin32Table, static_cast<long>(error), result)) return result;
    return NPT_FAILURE;
}

const char*
NPT_ResultText(NPT_Result result)
{
    struct Name {
        NPT_Result  code;
        const char* text;
    };
#define NPT_RESULT_NAME(code) { code, #code }
    static const Name kNames[] = {
        NPT_RESULT_NAME(NPT_SUCCESS),
        NPT_RESULT_NAME(NPT_FAILURE),
        NPT_RESULT_NAME(NPT_ERROR_INVALID_PARAMETERS),
        NPT_RESULT_NAME(NPT_ERROR_PERMISSION_DENIED),
        NPT_RESULT_NAME(NPT_ERROR_OUT_OF_MEMORY),
        NPT_RESULT_NAME(NPT_ERROR_OVERFLOW),
        NPT_RESULT_NAME(NPT_ERROR_INTERNAL),
        NPT_RESULT_NAME(NPT_ERROR_INVALID_STATE),
        NPT_RESULT_NAME(NPT_ERROR_INVALID_FORMAT),
        NPT_RESULT_NAME(NPT_ERROR_INVALID_SYNTAX),
        NPT_RESULT_NAME(NPT_ERROR_NOT_SUPPORTED),
        NPT_RESULT_NAME(NPT_ERROR_OUT_OF_RANGE),
        NPT_RESULT_NAME(NPT_ERROR_OUT_OF_RESOURCES),
        NPT_RESULT_NAME(NPT_ERROR_NO_SUCH_FILE),
        NPT_RESULT_NAME(NPT_ERROR_FILE_NOT_OPEN),
        NPT_RESULT_NAME(NPT_ERROR_FILE_BUSY),
        NPT_RESULT_NAME(NPT_ERROR_FILE_ALREADY_OPEN),
        NPT_RESULT_NAME(NPT_ERROR_FILE_NOT_READABLE),
        NPT_RESULT_NAME(NPT_ERROR_FILE_NOT_WRITABLE),
        NPT_RESULT_NAME(NPT_ERROR_FILE_NOT_DIRECTORY),
        NPT_RESULT_NAME(NPT_ERROR_FILE_ALREADY_EXISTS),
        NPT_RESULT_NAME(NPT_ERROR_FILE_NOT_ENOUGH_SPACE),
        NPT_RESULT_NAME(NPT_ERROR_DIRECTORY_NOT_EMPTY),
        NPT_RESULT_NAME(NPT_ERROR_WRITE_FAILED),
        NPT_RESULT_NAME(NPT_ERROR_END_OF_STREAM),
        NPT_RESULT_NAME(TVK_ERROR_WRONG_PASSWORD),
        NPT_RESULT_NAME(TVK_ERROR_DATA_DAMAGED),
        NPT_RESULT_NAME(TVK_ERROR_CHECK_FILE_DAMAGED),
        NPT_RESULT_NAME(TVK_ERROR_NOT_A_CHECK_FILE),
        NPT_RESULT_NAME(TVK_ERROR_CHECK_FILE_UNSUPPORTED),
        NPT_RESULT_NAME(TVK_ERROR_NO_CHECK_FILE),
    };
#undef NPT_RESULT_NAME

    for (const Name& name : kNames) {
        if (name.code == result) return name.text;
    }
    // NPT_ERROR_BASE_ERRNO - e for every errno value e >= 0
    if (result <= NPT_ERROR_BASE_ERRNO) return "NPT_ERROR_ERRNO";
    return "NPT_ERROR_UNKNOWN";
}

const char*
NPT_ResultDescription(NPT_Result result)
{
    struct Words {
        NPT_Result  code;
        const char* text;
    };
    static const Words kWords[] = {
        {NPT_SUCCESS, "success"},
        {NPT_FAILURE, "failure"},
        {NPT_ERROR_INVALID_PARAMETERS, "invalid parameters"},
        {NPT_ERROR_PERMISSION_DENIED, "permission denied"},
        {NPT_ERROR_OUT_OF_MEMORY, "out of memory"},
        {NPT_ERROR_OVERFLOW, "overflow"},
        {NPT_ERROR_INTERNAL, "internal error"},
        {NPT_ERROR_INVALID_STATE, "invalid state"},
        {NPT_ERROR_INVALID_FORMAT, "invalid format"},
        {NPT_ERROR_INVALID_SYNTAX, "invalid syntax"},
        {NPT_ERROR_NOT_SUPPORTED, "not supported"},
        {NPT_ERROR_OUT_OF_RANGE, "out of range"},
        {NPT_ERROR_OUT_OF_RESOURCES, "out of resources"},
        {NPT_ERROR_NO_SUCH_FILE, "no such file"},
        {NPT_ERROR_FILE_NOT_OPEN, "file not open"},
        {NPT_ERROR_FILE_BUSY, "file busy"},
        {NPT_ERROR_FILE_ALREADY_OPEN, "file already open"},
        {NPT_ERROR_FILE_NOT_READABLE, "file not readable"},
        {NPT_ERROR_FILE_NOT_WRITABLE, "file not writable"},
        {NPT_ERROR_FILE_NOT_DIRECTORY, "not a directory"},
        {NPT_ERROR_FILE_ALREADY_EXISTS, "file exists"},
        {NPT_ERROR_FILE_NOT_ENOUGH_SPACE, "no space left on device"},
        {NPT_ERROR_DIRECTORY_NOT_EMPTY, "directory not empty"},
        {NPT_ERROR_WRITE_FAILED, "write failed"},
        {NPT_ERROR_END_OF_STREAM, "end of stream"},
        {TVK_ERROR_WRONG_PASSWORD, "wrong password"},
        {TVK_ERROR_DATA_DAMAGED, "data is damaged or was changed"},
        {TVK_ERROR_CHECK_FILE_DAMAGED, "check file is damaged or was changed"},
        {TVK_ERROR_NOT_A_CHECK_FILE, "not a check file"},
        {TVK_ERROR_CHECK_FILE_UNSUPPORTED,
         "check file of an unsupported version or with unsupported parameters"},
        {TVK_ERROR_NO_CHECK_FILE, "no check file"},
    };
    // errno values that come back through the errno family, by name so
    // that the table holds whatever the platform's numbering
    struct ErrnoWords {
        long        error;
        const char* text;
    };
    static const ErrnoWords kErrnoWords[] = {
        {EISDIR, "is a directory"}, {EIO, "input/output error"},
        {ELOOP, "too many levels of symbolic links"}, {EMFILE, "too many open files"},
        {ENFILE, "too many open files"}, {EFBIG, "file too large"},
        {ENXIO, "no such device or address"}, {EINVAL, "invalid argument"},
        {EBADF, "bad file descriptor"}, {ENOMEM, "out of memory"}, {EPIPE, "broken pipe"},
    };
    for (const Words& words : kWords) {
        if (words.code == result) return words.text;
    }
    if (result <= NPT_ERROR_BASE_ERRNO) {
        const long error = static_cast<long>(NPT_ERROR_BASE_ERRNO) - result;
        for (const ErrnoWords& words : kErrnoWords) {
            if (words.error == error) return words.text;
        }
        return "operating-system error";
    }
    return "unknown error";
}
