/*****************************************************************
| NptResults.h - result codes of the runtime and encryption layers.
|
| Every operation that can fail returns an NPT_Result. NPT_SUCCESS (0)
| is the only success value; every failure is negative. Callers test
| for a nonzero result and pass it on unchanged unless documented
| otherwise. The numbers are fixed: they travel between layers and
| across the managed boundary and must never change.
****************************************************************/
#ifndef NPT_RESULTS_H
#define NPT_RESULTS_H

#include "NptTypes.h"

typedef NPT_Int32 NPT_Result;

const NPT_Result NPT_SUCCESS = 0;
const NPT_Result NPT_FAILURE = -1;

// general family
const NPT_Result NPT_ERROR_BASE_GENERAL          = -20000;
const NPT_Result NPT_ERROR_INVALID_PARAMETERS    = NPT_ERROR_BASE_GENERAL - 0;
const NPT_Result NPT_ERROR_PERMISSION_DENIED     = NPT_ERROR_BASE_GENERAL - 1;
const NPT_Result NPT_ERROR_OUT_OF_MEMORY         = NPT_ERROR_BASE_GENERAL - 2;
const NPT_Result NPT_ERROR_OVERFLOW              = NPT_ERROR_BASE_GENERAL - 7;
const NPT_Result NPT_ERROR_INTERNAL              = NPT_ERROR_BASE_GENERAL - 8;
const NPT_Result NPT_ERROR_INVALID_STATE         = NPT_ERROR_BASE_GENERAL - 9;
const NPT_Result NPT_ERROR_INVALID_FORMAT        = NPT_ERROR_BASE_GENERAL - 10;
const NPT_Result NPT_ERROR_INVALID_SYNTAX        = NPT_ERROR_BASE_GENERAL - 11;
const NPT_Result NPT_ERROR_NOT_SUPPORTED         = NPT_ERROR_BASE_GENERAL - 13;
const NPT_Result NPT_ERROR_OUT_OF_RANGE          = NPT_ERROR_BASE_GENERAL - 17;
const NPT_Result NPT_ERROR_OUT_OF_RESOURCES      = NPT_ERROR_BASE_GENERAL - 18;

// file family
const NPT_Result NPT_ERROR_BASE_FILE             = -20200;
const NPT_Result NPT_ERROR_NO_SUCH_FILE          = NPT_ERROR_BASE_FILE - 0;
const NPT_Result NPT_ERROR_FILE_NOT_OPEN         = NPT_ERROR_BASE_FILE - 1;
const NPT_Result NPT_ERROR_FILE_BUSY             = NPT_ERROR_BASE_FILE - 2;
const NPT_Result NPT_ERROR_FILE_ALREADY_OPEN      = NPT_ERROR_BASE_FILE - 3;
const NPT_Result NPT_ERROR_FILE_NOT_READABLE     = NPT_ERROR_BASE_FILE - 4;
const NPT_Result NPT_ERROR_FILE_NOT_WRITABLE     = NPT_ERROR_BASE_FILE - 5;
const NPT_Result NPT_ERROR_FILE_NOT_DIRECTORY    = NPT_ERROR_BASE_FILE - 6;
const NPT_Result NPT_ERROR_FILE_ALREADY_EXISTS   = NPT_ERROR_BASE_FILE - 7;
const NPT_Result NPT_ERROR_FILE_NOT_ENOUGH_SPACE = NPT_ERROR_BASE_FILE - 8;
const NPT_Result NPT_ERROR_DIRECTORY_NOT_EMPTY   = NPT_ERROR_BASE_FILE - 9;

// stream input/output family
const NPT_Result NPT_ERROR_BASE_IO               = -20300;
const NPT_Result NPT_ERROR_WRITE_FAILED          = NPT_ERROR_BASE_IO - 1;
const NPT_Result NPT_ERROR_END_OF_STREAM         = NPT_ERROR_BASE_IO - 2;

// check-file family: the encryption layer's check file (TvkCheckFile.h).
// Its codes are macros spelled exactly as in the C interface
// (TvkCrypto/c.h), one name in both languages: identical definitions
// may meet, so a program can include both headers in either order.
const NPT_Result TVK_ERROR_BASE_CHECK            = -20400;
#define TVK_ERROR_WRONG_PASSWORD          (-20400)
#define TVK_ERROR_DATA_DAMAGED            (-20401)
#define TVK_ERROR_CHECK_FILE_DAMAGED      (-20402)
#define TVK_ERROR_NOT_A_CHECK_FILE        (-20403)
#define TVK_ERROR_CHECK_FILE_UNSUPPORTED  (-20404)
#define TVK_ERROR_NO_CHECK_FILE           (-20405)

// errno values that no table lists travel as NPT_ERROR_BASE_ERRNO - errno
const NPT_Result NPT_ERROR_BASE_ERRNO            = -22000;

#define NPT_FAILED(result)    ((result) != NPT_SUCCESS)
#define NPT_SUCCEEDED(result) ((result) == NPT_SUCCESS)

// Evaluates an expression once and returns its result from the
// enclosing function when it is not NPT_SUCCESS.
#define NPT_CHECK(expression)                                   \
    do {                                                        \
        NPT_Result _npt_result = (expression);                  \
        if (_npt_result != NPT_SUCCESS) return _npt_result;     \
    } while (0)

/*----------------------------------------------------------------------
|   operating-system error mapping
|
|   NPT_MapStdcErrno: errors of file stream reads and opens.
|   NPT_MapErrno:     the same table plus EEXIST, ENOSPC and ENOTEMPTY,
|                     for the file-system operations.
|   NPT_MapWin32Error: Win32 error numbers. Kept as data so that values
|                     recorded on that platform keep their meaning;
|                     unlisted numbers give NPT_FAILURE.
+---------------------------------------------------------------------*/
NPT_EXPORT NPT_Result NPT_MapStdcErrno(int error);
NPT_EXPORT NPT_Result NPT_MapErrno(int error);
NPT_EXPORT NPT_Result NPT_MapWin32Error(NPT_UInt32 error);

// Symbolic name of a result code, e.g. "NPT_ERROR_NO_SUCH_FILE",
// "TVK_ERROR_WRONG_PASSWORD".
// Codes of the errno family give "NPT_ERROR_ERRNO"; any other unknown
// code gives "NPT_ERROR_UNKNOWN". The text is static; never null.
NPT_EXPORT const char* NPT_ResultText(NPT_Result result);

// Lower-case words for a result code, e.g. "no such file", "wrong
// password", "permission denied"; the errno family names its errno
// value where it is a common one ("is a directory") and says
// "operating-system error" otherwise; unknown codes give "unknown
// error". The text is static; never null.
NPT_EXPORT const char* NPT_ResultDescription(NPT_Result result);

#endif // NPT_RESULTS_H
