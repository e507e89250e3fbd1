/*****************************************************************
| SystemInfo.cpp - Windows implementation of SystemInfo.h.
****************************************************************/
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif

#include "SystemInfo.h"

#include <string>
#include <vector>

#include <windows.h>
#include <bcrypt.h>
#include <shellapi.h>

#include "Win32Support.h"

#ifndef BCRYPT_USE_SYSTEM_PREFERRED_RNG
#define BCRYPT_USE_SYSTEM_PREFERRED_RNG 0x00000002
#endif

namespace tvkcrypt {

std::vector<std::string>
CommandLineArguments(int argc, char** argv)
{
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::string> arguments;
    if (wide != nullptr && count == argc) {
        for (int i = 0; i < count; ++i) {
            std::string text;
            // an unpaired surrogate cannot be UTF-8: keep the runtime's
            // form, which the tool then refuses as a name
            if (ToUtf8(wide[i], text) != 0) text = argv[i];
            arguments.push_back(text);
        }
    } else {
        // the two parsers disagree (an unusual command line): the
        // runtime's reading is the one the program was started with
        arguments.assign(argv, argv + argc);
    }
    if (wide != nullptr) LocalFree(wide);
    return arguments;
}

SysError
RandomBytes(void* buffer, std::size_t size)
{
    unsigned char* bytes = static_cast<unsigned char*>(buffer);
    while (size > 0) {
        ULONG count = size < 0x10000000u ? static_cast<ULONG>(size) : 0x10000000u;
        if (BCryptGenRandom(nullptr, bytes, count, BCRYPT_USE_SYSTEM_PREFERRED_RNG) < 0) return EIO;
        bytes += count;
        size -= count;
    }
    return 0;
}

/*----------------------------------------------------------------------
|   time and processors
+---------------------------------------------------------------------*/
double
MonotonicSeconds()
{
    LARGE_INTEGER frequency, now;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

unsigned
ProcessorCount()
{
    DWORD_PTR process_mask = 0, system_mask = 0;
    if (GetProcessAffinityMask(GetCurrentProcess(), &process_mask, &system_mask) && process_mask != 0) {
        unsigned count = 0;
        for (; process_mask != 0; process_mask &= process_mask - 1) ++count;
        return count;
    }
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    return system.dwNumberOfProcessors > 0 ? system.dwNumberOfProcessors : 1;
}

}  // namespace tvkcrypt
