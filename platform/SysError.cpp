/*****************************************************************
| SysError.cpp - words for the errno values the platform services
| report.
|
| Both platform folders report failures as errno values (Windows
| translates its own codes first), so one table serves them: short
| lower-case words for the common conditions, the C library's text for
| the rest.
****************************************************************/
#include "SysError.h"

#include <cctype>
#include <cerrno>
#include <cstring>

namespace tvkcrypt {

std::string
ErrorText(SysError error)
{
    switch (error) {
        case kTargetChanged: return "it was replaced by someone else meanwhile";
        case kNotOwned:    return "the symbolic link or its target belongs to another user";
        case kDeviceName:
            return "Windows keeps that name for a device (CON, PRN, AUX, NUL, COM1 to COM9, LPT1 to "
                   "LPT9, also with an extension); choose another name";
        case kSystemLink:  return "it is a symbolic link that the system keeps, which is never replaced";
        case kNotRegular:  return "not a regular file";
        case ENOENT:       return "no such file";
        case EACCES:       return "permission denied";
        case EPERM:        return "operation not permitted";
        case EISDIR:       return "is a directory";
        case ENOTDIR:      return "not a directory";
        case ENOSPC:       return "no space left on device";
#ifdef EDQUOT
        case EDQUOT:       return "disk quota exceeded";
#endif
        case EFBIG:        return "file too large";
        case EPIPE:        return "broken pipe";
        case EIO:          return "input/output error";
        case EROFS:        return "read-only file system";
        case ENAMETOOLONG: return "file name too long";
        case ELOOP:        return "too many levels of symbolic links";
        case EMFILE:
        case ENFILE:       return "too many open files";
        case ENXIO:        return "no such device or address";
        case EEXIST:       return "file exists";
        case ENOMEM:       return "out of memory";
#ifdef _WIN32
        // what Windows codes come back as (see the win32 platform folder)
        case EBUSY:        return "in use by another program";
        case EILSEQ:       return "the name is not valid UTF-8";
        case EINVAL:       return "invalid file name or argument";
        case ENOSYS:       return "not supported here";
        case EBADF:        return "bad file descriptor";
        case ENOTEMPTY:    return "directory not empty";
#endif
        default: break;
    }
    std::string text = std::strerror(error);
    if (!text.empty()) text[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
    return text;
}

NPT_Result
ResultOfError(SysError error)
{
    switch (error) {
        case 0:              return NPT_SUCCESS;
        case kTargetChanged: return NPT_FAILURE;
        case kNotOwned:      return NPT_ERROR_PERMISSION_DENIED;
        case kNotRegular:    return NPT_ERROR_NOT_SUPPORTED;
        case kDeviceName:    return NPT_ERROR_INVALID_PARAMETERS;
        case kSystemLink:    return NPT_ERROR_PERMISSION_DENIED;
#ifdef EDQUOT
        case EDQUOT:         return NPT_ERROR_FILE_NOT_ENOUGH_SPACE;
#endif
        case ENOMEM:         return NPT_ERROR_OUT_OF_MEMORY;
        default:             return NPT_MapErrno(error);
    }
}

}  // namespace tvkcrypt
