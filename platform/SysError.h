/*****************************************************************
| SysError.h - how the platform services report a failure.
|
| Every service of this folder (FileHandle.h, OutputPlace.h,
| TempOutput.h, Terminal.h, ...) reports failures as errno values on
| every system: the Windows implementations map their own codes to
| errno values first, so that the code above them stays portable. Two
| conditions of the services' own have negative values. Callers turn
| any of them into words with ErrorText. Pure functions; any thread.
****************************************************************/
#ifndef TVKCRYPT_SYS_ERROR_H
#define TVKCRYPT_SYS_ERROR_H

#include <string>

namespace tvkcrypt {

typedef int SysError;  // an errno value; 0 means success

// Not errno values: conditions of the services' own.
const SysError kTargetChanged = -1;  // swapped by someone else meanwhile
const SysError kNotOwned = -2;       // a followed link or its target is not ours
const SysError kDeviceName = -3;     // Windows: a name the system keeps for a device
const SysError kSystemLink = -4;     // a link the system keeps (/dev, /proc): never replaced

// Lower-case words for an error, e.g. "no such file", "permission
// denied", "no space left on device".
// Also words for kTargetChanged, kNotOwned, kDeviceName and kSystemLink.
std::string ErrorText(SysError error);

}  // namespace tvkcrypt

#endif  // TVKCRYPT_SYS_ERROR_H
