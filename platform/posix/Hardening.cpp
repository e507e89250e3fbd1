/*****************************************************************
| Hardening.cpp - POSIX implementation of Hardening.h.
****************************************************************/
#ifndef _GNU_SOURCE
#define _GNU_SOURCE 1
#endif

#include "Hardening.h"

#include <cerrno>
#include <cstdint>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <unistd.h>

#include "NptWipe.h"

namespace tvkcrypt {

void
GuardStandardDescriptors()
{
    const int modes[3] = {O_WRONLY, O_RDONLY, O_WRONLY};
    for (int fd = 0; fd < 3; ++fd) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        int opened = open("/dev/null", modes[fd]);
        if (opened >= 0 && opened != fd) {
            dup2(opened, fd);
            close(opened);
        }
    }
}

/*----------------------------------------------------------------------
|   secrets
+---------------------------------------------------------------------*/
void
DisableCoreDumps()
{
    struct rlimit none = {0, 0};
    setrlimit(RLIMIT_CORE, &none);
    prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
}

// Whole pages, so that the advice and the lock cover nothing else.
static std::size_t
PageRounded(std::size_t size)
{
    long page = sysconf(_SC_PAGESIZE);
    std::size_t unit = page > 0 ? static_cast<std::size_t>(page) : 4096;
    return (size + unit - 1) / unit * unit;
}

void*
AllocateSecretMemory(std::size_t size)
{
    std::size_t length = PageRounded(size == 0 ? 1 : size);
    void* memory = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (memory == MAP_FAILED) return nullptr;
    // both are best effort: a kernel without MADV_DONTDUMP still has
    // core dumps turned off, and mlock is limited for unprivileged users
    madvise(memory, length, MADV_DONTDUMP);
    mlock(memory, length);
    return memory;
}

void
FreeSecretMemory(void* memory, std::size_t size)
{
    if (memory == nullptr) return;
    std::size_t length = PageRounded(size == 0 ? 1 : size);
    NPT_WipeMemory(memory, length);
    munlock(memory, length);
    munmap(memory, length);
}

void
LockSecretRange(const void* address, std::size_t size)
{
    if (address == nullptr || size == 0) return;
    long page = sysconf(_SC_PAGESIZE);
    const std::uintptr_t unit = page > 0 ? static_cast<std::uintptr_t>(page) : 4096;
    const std::uintptr_t start = reinterpret_cast<std::uintptr_t>(address) / unit * unit;
    const std::uintptr_t end = reinterpret_cast<std::uintptr_t>(address) + size;
    mlock(reinterpret_cast<const void*>(start), end - start);
}

}  // namespace tvkcrypt
