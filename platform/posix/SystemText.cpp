/*****************************************************************
| SystemText.cpp - POSIX implementation of the tvkcrypt tool's text
| services (declared in SystemText.h): the password
| in the environment is taken as bytes, and there is no ANSI code page.
****************************************************************/
#include "SystemText.h"

#include <cstdlib>
#include <cstring>

#include "NptWipe.h"

namespace tvkcrypt {

EnvironmentSecret
TakeEnvironmentSecret(const char* name, char* buffer, std::size_t capacity, std::size_t& length)
{
    length = 0;
    char* value = std::getenv(name);
    if (value == nullptr) return SECRET_ABSENT;
    const std::size_t size = std::strlen(value);
    EnvironmentSecret outcome = SECRET_ABSENT;
    if (size > capacity) {
        outcome = SECRET_TOO_LONG;
    } else if (size > 0) {
        std::memcpy(buffer, value, size);
        length = size;
        outcome = SECRET_PRESENT;
    }
    // the value lies in the process's initial environment, which is also
    // what /proc/PID/environ shows: wipe it there before unsetenv drops
    // the pointer to it
    NPT_WipeMemory(value, size);
    unsetenv(name);
    return outcome;
}

unsigned
AnsiCodePage()
{
    return 0;
}

TextConversion
Utf8ToAnsi(const char*, std::size_t, char*, std::size_t, std::size_t& output_length)
{
    output_length = 0;
    return TEXT_UNAVAILABLE;
}

}  // namespace tvkcrypt
