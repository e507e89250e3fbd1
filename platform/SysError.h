/*****************************************************************
| SysError.h - how the platform services report a failure.
|
| Every service of this folder (FileHandle.h, OutputPlace.h,
| TempOutput.h, Terminal.h, ...) reports failures as errno values on
| every system: the Windows implementations map their own codes to
| errno values first, so that the code above them stays portable. A few
| conditions of the services' own have negative values. Callers turn
| any of them into words with ErrorText, or into the library's result
| codes with ResultOfError. Pure functions; any thread.
****************************************************************/
#ifndef TVKCRYPT_SYS_ERROR_H
#define TVKCRYPT_SYS_ERROR_H

#include <string>

#include "NptResults.h"

namespace tvkcrypt {

typedef int SysError;  // an errno value; 0 means success

// Not errno values: conditions of the services' own.
const SysError kTargetChanged = -1;  // swapped by someone else meanwhile
const SysError kNotOwned = -2;       // a followed link or its target is not ours
const SysError kDeviceName = -3;     // Windows: a name the system keeps for a device
const SysError kSystemLink = -4;     // a link the system keeps (/dev, /proc): never replaced
const SysError kNotRegular = -5;     // a FIFO, device or directory where a file must be

// Lower-case words for an error, e.g. "no such file", "permission
// denied", "no space left on device".
// Also words for the services' own conditions.
std::string ErrorText(SysError error);

// The library's result code for an error: NPT_MapErrno's for errno
// values (disk quota as no space), NPT_ERROR_PERMISSION_DENIED for
// kNotOwned and kSystemLink, NPT_ERROR_INVALID_PARAMETERS for
// kDeviceName, NPT_ERROR_NOT_SUPPORTED for kNotRegular, NPT_FAILURE for
// kTargetChanged; NPT_SUCCESS for 0.
NPT_Result ResultOfError(SysError error);

}  // namespace tvkcrypt

#endif  // TVKCRYPT_SYS_ERROR_H
