/*****************************************************************
| NptPlatformFault.h - the switch through which every system call of
| the platform folder passes, so that tests can make any of them fail.
|
| Code in this folder calls the system through NPT_PlatformCall,
| NPT_PlatformTransfer and NPT_PlatformClose, each naming its call site
| ("files.open", "tool.pwrite", ...). In a normal build the switch is an
| inline no-op: production binaries carry no hook and read nothing to
| configure one. Built with TVK_FAULT_INJECTION (test programs only),
| NPT_PlatformFault counts the calls and applies one planned fault:
|   FAIL       the call is not made; it fails with the planned errno
|   SHORT      a read or write moves fewer bytes than asked (others: none)
|   INTERRUPT  the call fails with EINTR, as if a signal came first
|   STOP       the process stops itself (SIGSTOP) before the call, so a
|              test can act between two steps, then it goes on normally
| The wrappers retry EINTR and give every caller the same contract as
| the plain system call otherwise, so callers must cope with short
| transfers and failures; the fault tests prove that they do.
|
| Threads: the switch may be called from any thread; the plan is set
| while no call is in flight.
****************************************************************/
#ifndef NPT_PLATFORM_FAULT_H
#define NPT_PLATFORM_FAULT_H

#include <cerrno>
#include <cstddef>

#include <unistd.h>

enum NPT_PlatformFaultKind {
    NPT_PLATFORM_FAULT_NONE,
    NPT_PLATFORM_FAULT_FAIL,
    NPT_PLATFORM_FAULT_SHORT,
    NPT_PLATFORM_FAULT_INTERRUPT,
    NPT_PLATFORM_FAULT_STOP
};

struct NPT_PlatformFaultAction {
    NPT_PlatformFaultKind kind;
    int                   error;  // for FAIL
};

#if defined(TVK_FAULT_INJECTION)
// Counts one call at site and returns what to do with it.
NPT_PlatformFaultAction NPT_PlatformFault(const char* site);
#else
inline NPT_PlatformFaultAction NPT_PlatformFault(const char*)
{
    return NPT_PlatformFaultAction{NPT_PLATFORM_FAULT_NONE, 0};
}
#endif

// Runs call() (a system call returning a negative value with errno set
// on failure) through the switch, again while it is interrupted.
template <typename Call>
inline auto NPT_PlatformCall(const char* site, Call call) -> decltype(call())
{
    for (;;) {
        NPT_PlatformFaultAction fault = NPT_PlatformFault(site);
        if (fault.kind == NPT_PLATFORM_FAULT_FAIL) {
            errno = fault.error;
            return -1;
        }
        if (fault.kind == NPT_PLATFORM_FAULT_INTERRUPT) continue;
        auto result = call();
        if (result < 0 && errno == EINTR) continue;
        return result;
    }
}

// Runs call(count) for a transfer of up to size bytes (read, write and
// their positioned forms) through the switch, again while interrupted.
// A SHORT fault asks for half the bytes (at least one).
template <typename Call>
inline ssize_t NPT_PlatformTransfer(const char* site, std::size_t size, Call call)
{
    for (;;) {
        NPT_PlatformFaultAction fault = NPT_PlatformFault(site);
        if (fault.kind == NPT_PLATFORM_FAULT_FAIL) {
            errno = fault.error;
            return -1;
        }
        if (fault.kind == NPT_PLATFORM_FAULT_INTERRUPT) continue;
        std::size_t count = size;
        if (fault.kind == NPT_PLATFORM_FAULT_SHORT && count > 1) count /= 2;
        ssize_t result = call(count);
        if (result < 0 && errno == EINTR) continue;
        return result;
    }
}

// Closes fd through the switch. The descriptor is released whatever
// happens (also on EINTR, which counts as success): 0, or -1 with errno.
inline int NPT_PlatformClose(const char* site, int fd)
{
    NPT_PlatformFaultAction fault = NPT_PlatformFault(site);
    int result = close(fd);
    if (fault.kind == NPT_PLATFORM_FAULT_FAIL) {
        errno = fault.error;
        return -1;
    }
    if (result < 0 && errno == EINTR) return 0;
    return result;
}

#endif // NPT_PLATFORM_FAULT_H
