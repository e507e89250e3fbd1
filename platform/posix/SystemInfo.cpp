/*****************************************************************
| SystemInfo.cpp - POSIX implementation of SystemInfo.h.
****************************************************************/
#ifndef _GNU_SOURCE
#define _GNU_SOURCE 1
#endif

#include "SystemInfo.h"

#include <cerrno>
#include <ctime>

#include <sched.h>
#include <sys/random.h>
#include <unistd.h>

#include "NptPlatformFault.h"

namespace tvkcrypt {

std::vector<std::string>
CommandLineArguments(int argc, char** argv)
{
    return std::vector<std::string>(argv, argv + argc);
}

SysError
RandomBytes(void* buffer, std::size_t size)
{
    unsigned char* bytes = static_cast<unsigned char*>(buffer);
    while (size > 0) {
        ssize_t n = NPT_PlatformCall("tool.getrandom", [&] { return getrandom(bytes, size, 0); });
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        bytes += n;
        size -= static_cast<std::size_t>(n);
    }
    return 0;
}

/*----------------------------------------------------------------------
|   time and processors
+---------------------------------------------------------------------*/
double
MonotonicSeconds()
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

static unsigned
AskProcessorCount()
{
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof(set), &set) == 0) {
        int count = CPU_COUNT(&set);
        if (count > 0) return static_cast<unsigned>(count);
    }
    long online = sysconf(_SC_NPROCESSORS_ONLN);
    return online > 0 ? static_cast<unsigned>(online) : 1;
}

// Asked once: a job of many files plans every file's workers with it.
unsigned
ProcessorCount()
{
    static const unsigned count = AskProcessorCount();
    return count;
}

}  // namespace tvkcrypt
