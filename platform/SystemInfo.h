/*****************************************************************
| SystemInfo.h - what a process asks of the system beyond its files:
| its command line, random bytes, a clock and the number of processors
| it may use.
|
| No state; any thread.
****************************************************************/
#ifndef TVKCRYPT_SYSTEM_INFO_H
#define TVKCRYPT_SYSTEM_INFO_H

#include <cstddef>
#include <string>
#include <vector>

#include "SysError.h"

namespace tvkcrypt {

// The command line as UTF-8 strings, the program's name first. POSIX:
// argv as it is. Windows: the process's UTF-16 command line converted,
// since argv holds it in the ANSI code page, which loses every character
// outside it.
std::vector<std::string> CommandLineArguments(int argc, char** argv);

// Fills buffer with bytes from the system's random source.
SysError RandomBytes(void* buffer, std::size_t size);

// Seconds on a monotonic clock.
double MonotonicSeconds();
// Number of processors this process may run on (at least 1).
unsigned ProcessorCount();

}  // namespace tvkcrypt

#endif  // TVKCRYPT_SYSTEM_INFO_H
